// Preference values: defaults, the store file, start-up reading and what OK writes.
#include <gtest/gtest.h>

#include <string>

#include "TempFolder.h"
#include "profiles/PreferenceStore.h"
#include "profiles/Preferences.h"

namespace {

const std::string kTitle = "ZaDeroza DVD Ripper";
const std::string kKey = "Software\\ZaDeroza DVD Ripper";

class PreferencesStore : public ::testing::Test {
protected:
    std::string StoreFile() const { return PreferenceStoreFile(m_root.Path()); }
    void WriteStore(const std::string& text) const { m_root.Write("ZaDeroza/registry.ini", text); }
    std::string StoreText() const { return m_root.Read("ZaDeroza/registry.ini"); }
    static PreferenceValues Defaults()
    {
        return PreferenceValues {"/home/u/Videos", "/home/u/Pictures", "BMP", "No Action", 50};
    }

    TempFolder m_root;
};

TEST(PreferenceDefaults, UseXdgMediaFoldersElseHome)
{
    TempFolder config;
    UserFolders folders {"/home/u", config.Path()};
    PreferenceValues none = DefaultPreferences(folders);
    EXPECT_EQ(none.OutFolder, "/home/u");
    EXPECT_EQ(none.SnapFolder, "/home/u");
    EXPECT_EQ(none.ImageType, "BMP");
    EXPECT_EQ(none.Action, "No Action");
    EXPECT_EQ(none.CpuUsage, 50);

    config.Write("user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                   "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                   "XDG_VIDEOS_DIR=\"$HOME/Videos/\"\n"
                                   "XDG_PICTURES_DIR=\"/srv/pictures\"\n");
    PreferenceValues set = DefaultPreferences(folders);
    EXPECT_EQ(set.OutFolder, "/home/u/Videos");
    EXPECT_EQ(set.SnapFolder, "/srv/pictures");

    config.Write("user-dirs.dirs", "XDG_VIDEOS_DIR=\"relative/path\"\n");
    EXPECT_EQ(DefaultPreferences(folders).OutFolder, "/home/u");
}

TEST_F(PreferencesStore, RoundTripWritesOnlyChangedValues)
{
    PreferenceValues current = Defaults();
    PreferenceValues edited = current;
    edited.Action = "Shut Down";
    ASSERT_EQ(StorePreferences(StoreFile(), kTitle, current, edited), S_OK);
    EXPECT_EQ(current.Action, "Shut Down");

    CPreferenceStore store(StoreFile());
    ASSERT_EQ(store.Load(), S_OK);
    ASSERT_TRUE(store.HasKey(kKey));
    ASSERT_NE(store.FindValue(kKey, "strAction"), nullptr);
    EXPECT_EQ(store.FindValue(kKey, "strAction")->text, "Shut Down");
    for (const char* name : {"strOutFolder", "strSnapFolder", "strImageType", "cpu_usage"})
        EXPECT_EQ(store.FindValue(kKey, name), nullptr) << name;

    edited.OutFolder = "/media/out \"quoted\"\\ and\ttab";
    edited.ImageType = "";                     // matches no choice: stored as empty
    edited.CpuUsage = 80;
    ASSERT_EQ(StorePreferences(StoreFile(), kTitle, current, edited), S_OK);

    PreferenceValues read = Defaults();
    read.Action = "x";
    ASSERT_EQ(ReadPreferences(StoreFile(), kTitle, read), S_OK);
    EXPECT_EQ(read.OutFolder, edited.OutFolder);
    EXPECT_EQ(read.SnapFolder, Defaults().SnapFolder);   // never written: default stays
    EXPECT_EQ(read.ImageType, "");
    EXPECT_EQ(read.Action, "Shut Down");
    EXPECT_EQ(read.CpuUsage, 80);
}

TEST_F(PreferencesStore, NoStoreOrNoKeyLeavesAllDefaults)
{
    PreferenceValues values = Defaults();
    EXPECT_EQ(ReadPreferences(StoreFile(), kTitle, values), S_FALSE);
    WriteStore("[Software\\Another App]\n\"strOutFolder\"=sz:\"/elsewhere\"\n");
    EXPECT_EQ(ReadPreferences(StoreFile(), kTitle, values), S_FALSE);
    PreferenceValues defaults = Defaults();
    EXPECT_EQ(values.OutFolder, defaults.OutFolder);
    EXPECT_EQ(values.CpuUsage, defaults.CpuUsage);
}

// A value is taken only when it has the right type and a string fits 256 characters with its
// terminator; any other value leaves that one default.
TEST_F(PreferencesStore, ValuesOfWrongTypeOrTooLongAreIgnored)
{
    std::string fits(255, 'a');
    std::string tooLong(256, 'b');
    std::string wideFits;
    for (int i = 0; i < 255; ++i)
        wideFits += "\xC3\xA9";                     // 255 characters, 510 bytes
    WriteStore("; comment\n"
               "[software\\zaderoza dvd ripper]\n"    // key names ignore letter case
               "\"strOutFolder\"=sz:\"" + fits + "\"\n"
               "\"strSnapFolder\"=sz:\"" + tooLong + "\"\n"
               "\"strImageType\"=dword:00000001\n"
               "\"STRACTION\"=expand_sz:\"" + wideFits + "\"\n"
               "\"cpu_usage\"=sz:\"70\"\n");
    PreferenceValues values = Defaults();
    ASSERT_EQ(ReadPreferences(StoreFile(), kTitle, values), S_OK);
    EXPECT_EQ(values.OutFolder, fits);
    EXPECT_EQ(values.SnapFolder, Defaults().SnapFolder);
    EXPECT_EQ(values.ImageType, "BMP");
    EXPECT_EQ(values.Action, wideFits);
    EXPECT_EQ(values.CpuUsage, 50);

    WriteStore("[" + kKey + "]\n\"cpu_usage\"=dword:0000005a\n\"strOutFolder\"=hex:01,02\n");
    values = Defaults();
    ASSERT_EQ(ReadPreferences(StoreFile(), kTitle, values), S_OK);
    EXPECT_EQ(values.CpuUsage, 90);
    EXPECT_EQ(values.OutFolder, Defaults().OutFolder);
}

TEST_F(PreferencesStore, CorruptStoreIsReportedAndNeverRewritten)
{
    const char* corrupt[] = {
        "garbage line\n",
        "\"strAction\"=sz:\"outside any key\"\n",
        "[Software\\ZaDeroza DVD Ripper]\n\"strAction\"=sz:\"unterminated\n",
        "[Software\\ZaDeroza DVD Ripper]\n\"cpu_usage\"=dword:5a\n",
        "[Software\\ZaDeroza DVD Ripper]\n\"strAction\"=sz:\"bad \\q escape\"\n",
        "[Software\\ZaDeroza DVD Ripper]\n\"x\"=hex:0\n",
        "[unclosed\n",
        "\x01\x02\x03 binary bytes",
    };
    for (const char* text : corrupt) {
        WriteStore(text);
        PreferenceValues values = Defaults();
        EXPECT_EQ(ReadPreferences(StoreFile(), kTitle, values), E_FAIL) << text;
        EXPECT_EQ(values.Action, "No Action");
        PreferenceValues current = Defaults();
        PreferenceValues edited = current;
        edited.Action = "Shut Down";
        EXPECT_EQ(StorePreferences(StoreFile(), kTitle, current, edited), E_FAIL) << text;
        EXPECT_EQ(current.Action, "No Action") << text;
        EXPECT_EQ(StorePreferenceString(StoreFile(), kTitle, "strOutFolder", "/x"), E_FAIL) << text;
        EXPECT_EQ(StoreText(), text) << text;
    }
}

TEST_F(PreferencesStore, UnwritableStoreFailsAndKeepsValuesInMemory)
{
    // The configuration root is a plain file: the store's folder cannot be made.
    std::string blocker = m_root.Write("not-a-folder", "x");
    PreferenceValues current = Defaults();
    PreferenceValues edited = current;
    edited.OutFolder = "/new";
    edited.CpuUsage = 100;
    EXPECT_EQ(StorePreferences(PreferenceStoreFile(blocker), kTitle, current, edited), E_FAIL);
    EXPECT_EQ(current.OutFolder, Defaults().OutFolder);
    EXPECT_EQ(current.CpuUsage, 50);

    // The store path is a folder.
    std::filesystem::create_directories(StoreFile());
    EXPECT_EQ(StorePreferences(StoreFile(), kTitle, current, edited), E_FAIL);
    PreferenceValues read = Defaults();
    EXPECT_EQ(ReadPreferences(StoreFile(), kTitle, read), E_FAIL);
}

TEST_F(PreferencesStore, OkCreatesTheKeyAndKeepsOtherKeysAndValues)
{
    WriteStore("[Software\\Another App]\n\"keep\"=hex:de,ad\n\n[" + kKey + "]\n\"strSnapFolder\"=sz:\"/snaps\"\n");
    PreferenceValues current = Defaults();
    ASSERT_EQ(StorePreferences(StoreFile(), kTitle, current, current), S_OK);   // nothing changed
    CPreferenceStore store(StoreFile());
    ASSERT_EQ(store.Load(), S_OK);
    ASSERT_NE(store.FindValue("Software\\Another App", "keep"), nullptr);
    EXPECT_EQ(store.FindValue("Software\\Another App", "keep")->bytes, "\xde\xad");
    ASSERT_NE(store.FindValue(kKey, "strSnapFolder"), nullptr);
    EXPECT_EQ(store.FindValue(kKey, "strSnapFolder")->text, "/snaps");

    // A fresh store gets the key even when no value changed.
    TempFolder fresh;
    PreferenceValues values = Defaults();
    ASSERT_EQ(StorePreferences(PreferenceStoreFile(fresh.Path()), "Other Title", values, values), S_OK);
    CPreferenceStore created(PreferenceStoreFile(fresh.Path()));
    ASSERT_EQ(created.Load(), S_OK);
    EXPECT_TRUE(created.HasKey("Software\\Other Title"));

    ASSERT_EQ(StorePreferenceString(StoreFile(), kTitle, kOutFolderValue, "/browsed"), S_OK);
    PreferenceValues read = Defaults();
    ASSERT_EQ(ReadPreferences(StoreFile(), kTitle, read), S_OK);
    EXPECT_EQ(read.OutFolder, "/browsed");
    EXPECT_EQ(read.SnapFolder, "/snaps");
}

TEST(PreferenceStoreFormat, SerialisedTextParsesBackToTheSameValues)
{
    CPreferenceStore store("/nonexistent/registry.ini");
    store.SetString("Software\\A ] bracket", "s", "line\nbreak \"q\" \\ back");
    store.SetDword("Software\\A ] bracket", "n", 0xFFFFFFFFu);
    CPreferenceStore copy("/nonexistent/registry.ini");
    ASSERT_EQ(copy.Parse(store.Serialise()), S_OK);
    ASSERT_NE(copy.FindValue("Software\\A ] bracket", "s"), nullptr);
    EXPECT_EQ(copy.FindValue("Software\\A ] bracket", "s")->text, "line\nbreak \"q\" \\ back");
    EXPECT_EQ(copy.FindValue("Software\\A ] bracket", "n")->number, 0xFFFFFFFFu);
    EXPECT_EQ(PreferenceKeyPath("Bad\nTitle"), "Software\\Bad Title");
}

} // namespace
