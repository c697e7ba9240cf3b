// setting.ini: where it lives and how its two integers are read and written.
#include <gtest/gtest.h>

#include <string>

#include "TempFolder.h"
#include "profiles/SettingIni.h"

namespace {

TEST(SettingIniFolder, ExecutableFolderWhenWritableElseConfiguration)
{
    TempFolder exe, config;
    EXPECT_EQ(SettingIniPath(exe.Path(), config.Path()), exe.Path() + "/setting.ini");
    // A folder that cannot take a file (here: one that does not exist) sends it to the
    // user's configuration folder, which is made on the first write.
    std::string missing = exe.File("no-such-folder");
    std::string path = SettingIniPath(missing, config.Path());
    EXPECT_EQ(path, config.Path() + "/ZaDeroza/setting.ini");
    ASSERT_TRUE(WriteSettingIni(path, {5, 32821}));
    EXPECT_EQ(config.Read("ZaDeroza/setting.ini"), "[SETTING]\nDEFULTID=5\nDEFULTSUBID=32821\n");
    ProfileSelection read = ReadSettingIni(path);
    EXPECT_EQ(read.categoryId, 5);
    EXPECT_EQ(read.subId, 32821);
}

TEST(SettingIniFile, MissingValuesReadAsZero)
{
    struct Case {
        const char* what;
        const char* text;   // nullptr: no file
        int32_t id, sub;
    };
    const Case cases[] = {
        {"no file", nullptr, 0, 0},
        {"empty", "", 0, 0},
        {"both", "[SETTING]\nDEFULTID=2\nDEFULTSUBID=32815\n", 2, 32815},
        {"case and spaces", "[setting]\r\n defultid = 3 \r\nDefultSubId=32836\r\n", 3, 32836},
        {"other section", "[OTHER]\nDEFULTID=2\n", 0, 0},
        {"only one key", "[SETTING]\nDEFULTSUBID=32801\n", 0, 32801},
        {"not a number", "[SETTING]\nDEFULTID=abc\nDEFULTSUBID=12x\n", 0, 12},
        {"negative", "[SETTING]\nDEFULTID=-4\n", -4, 0},
        {"key after next section", "[SETTING]\n[X]\nDEFULTID=9\n", 0, 0},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        if (c.text)
            folder.Write("setting.ini", c.text);
        ProfileSelection s = ReadSettingIni(folder.File("setting.ini"));
        EXPECT_EQ(s.categoryId, c.id) << c.what;
        EXPECT_EQ(s.subId, c.sub) << c.what;
    }
}

TEST(SettingIniFile, WritingKeepsOtherContent)
{
    TempFolder folder;
    folder.Write("setting.ini", "; user notes\n[WINDOW]\nX=10\n\n[SETTING]\nDEFULTID=1\n\n[LAST]\nY=2\n");
    ASSERT_TRUE(WriteSettingIni(folder.File("setting.ini"), {7, 32927}));
    EXPECT_EQ(folder.Read("setting.ini"),
              "; user notes\n[WINDOW]\nX=10\n\n[SETTING]\nDEFULTID=7\nDEFULTSUBID=32927\n\n[LAST]\nY=2\n");
    ProfileSelection s = ReadSettingIni(folder.File("setting.ini"));
    EXPECT_EQ(s.categoryId, 7);
    EXPECT_EQ(s.subId, 32927);
    // Writing into a path below a plain file fails.
    std::string blocker = folder.Write("plain", "x");
    EXPECT_FALSE(WriteSettingIni(blocker + "/setting.ini", {1, 2}));
}

} // namespace
