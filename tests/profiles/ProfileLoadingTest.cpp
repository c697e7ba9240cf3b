// Format.xml and Set.xml loading rules, and the choice-list helpers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "profiles/ProfileList.h"
#include "profiles/ProfileLookup.h"
#include "TempFolder.h"

namespace {

std::string Setting(const std::string& name, const std::string& value)
{
    return "<" + name + " value=\"" + value + "\"/>";
}

// A complete profile in the required element order; values replaced by the caller.
std::string FullProfile(const std::string& name = "Test", const std::string& videoCodec = "mpeg4",
                        const std::string& audioCodec = "aac")
{
    return "<Profile>" + Setting("ProfileName", name) + Setting("FormatExt", ".mp4") +
           Setting("VideoCodecName", videoCodec) + Setting("Width", "640") + Setting("Height", "480") +
           Setting("FrameRate", "29970") + Setting("VideoBitRate", "1500000") +
           Setting("AudioCodecName", audioCodec) + Setting("SampleRate", "44100") +
           Setting("AudioBitRate", "128000") + Setting("Channel", "2") +
           Setting("Resolutions", "640*480$640*480") + Setting("FrameRates", "25000$25,29970$29.97") +
           Setting("VideoCodecs", "mpeg4$MPEG-4") + Setting("VideoBitRates", "1500000$1500 kbps") +
           Setting("SampleRates", "44100$44100 Hz") + Setting("Channels", "2$Stereo") +
           Setting("AudioCodecs", "aac$AAC") + Setting("AudioBitRates", "128000$128 kbps") + "</Profile>";
}

class ProfileLoading : public ::testing::Test {
protected:
    // Writes Format.xml with the given root content and loads it.
    bool Load(const std::string& body, std::vector<std::string>* truncations = nullptr)
    {
        m_folder.Write("Format.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Formats>" + body + "</Formats>\n");
        return LoadProfiles(m_folder.Path(), m_list, truncations);
    }
    FormatProfile Profile(int32_t index)
    {
        FormatProfile p {};
        EXPECT_TRUE(m_list.FindProfile(index, p)) << "no profile " << index;
        return p;
    }

    TempFolder m_folder;
    ProfileList m_list;
};

TEST_F(ProfileLoading, ReadsEveryFieldOfACompleteProfile)
{
    ASSERT_TRUE(Load(FullProfile("Name &amp; more")));
    FormatProfile p = Profile(0);
    EXPECT_EQ(p.Index, 0);
    EXPECT_EQ(FieldText(p.ProfileName), "Name & more");
    EXPECT_EQ(FieldText(p.FormatExt), ".mp4");
    EXPECT_EQ(p.VideoEnabled, 1);
    EXPECT_EQ(FieldText(p.VideoCodecName), "mpeg4");
    EXPECT_EQ(p.Width, 640);
    EXPECT_EQ(p.Height, 480);
    EXPECT_EQ(p.FrameRate, 29970);
    EXPECT_EQ(p.VideoBitRate, 1500000);
    EXPECT_EQ(p.AudioEnabled, 1);
    EXPECT_EQ(FieldText(p.AudioCodecName), "aac");
    EXPECT_EQ(p.SampleRate, 44100);
    EXPECT_EQ(p.AudioBitRate, 128000);
    EXPECT_EQ(p.Channel, 2);
    EXPECT_EQ(FieldText(p.FrameRates), "25000$25,29970$29.97");
    EXPECT_EQ(FieldText(p.AudioBitRates), "128000$128 kbps");
}

TEST_F(ProfileLoading, IndexesCountOnlyProfileElementsInDocumentOrder)
{
    ASSERT_TRUE(Load(FullProfile("A") + "<Other/><Note value=\"x\"/>" + FullProfile("B") + "<Profiles/>" +
                     FullProfile("C")));
    ProfileListLock hold(m_list);
    ASSERT_EQ(m_list.Count(), 3u);
    const char* names[] = {"A", "B", "C"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m_list.At(i).Index, static_cast<int32_t>(i));
        EXPECT_EQ(FieldText(m_list.At(i).ProfileName), names[i]);
    }
}

// Each setting search continues after the element found before it, so an element written too
// early is not seen, and a missing or empty encoder name switches its group off.
TEST_F(ProfileLoading, MissingAndOutOfOrderElementsClearTheirGroup)
{
    struct Case {
        const char* what;
        std::string profile;
        int32_t video, audio;
    };
    std::string full = FullProfile();
    auto without = [&](const std::string& element) {
        std::string s = full;
        size_t at = s.find("<" + element + " ");
        s.erase(at, s.find("/>", at) + 2 - at);
        return s;
    };
    auto swapped = [&](const std::string& first, const std::string& second) {
        // Moves element `second` in front of `first`.
        std::string s = full;
        size_t at = s.find("<" + second + " ");
        std::string element = s.substr(at, s.find("/>", at) + 2 - at);
        s.erase(at, element.size());
        s.insert(s.find("<" + first + " "), element);
        return s;
    };
    const Case cases[] = {
        {"complete", full, 1, 1},
        {"empty video encoder", FullProfile("T", ""), 0, 1},
        {"empty audio encoder", FullProfile("T", "mpeg4", ""), 1, 0},
        {"no VideoCodecName", without("VideoCodecName"), 0, 1},
        {"no AudioCodecName", without("AudioCodecName"), 1, 0},
        {"no Width", without("Width"), 0, 1},
        {"no FrameRate", without("FrameRate"), 0, 1},
        {"no Channel", without("Channel"), 1, 0},
        {"no Resolutions", without("Resolutions"), 0, 1},
        {"no AudioBitRates", without("AudioBitRates"), 1, 0},
        {"no SampleRates", without("SampleRates"), 1, 0},
        {"Width before VideoCodecName", swapped("VideoCodecName", "Width"), 0, 1},
        {"Channels before SampleRates", swapped("SampleRates", "Channels"), 1, 0},
    };
    std::string body;
    for (const Case& c : cases)
        body += c.profile;
    ASSERT_TRUE(Load(body));
    for (size_t i = 0; i < std::size(cases); ++i) {
        FormatProfile p = Profile(static_cast<int32_t>(i));
        EXPECT_EQ(p.VideoEnabled, cases[i].video) << cases[i].what;
        EXPECT_EQ(p.AudioEnabled, cases[i].audio) << cases[i].what;
    }
    // The early Width was skipped: the field stays 0.
    EXPECT_EQ(Profile(11).Width, 0);
    // A missing ProfileName or FormatExt only leaves the text empty.
    m_list.Clear();
    ASSERT_TRUE(Load(without("ProfileName")));
    EXPECT_EQ(FieldText(Profile(0).ProfileName), "");
    EXPECT_EQ(Profile(0).VideoEnabled, 1);
    EXPECT_EQ(Profile(0).AudioEnabled, 1);
}

TEST_F(ProfileLoading, NumbersFollowStringToLongWithThirtyTwoBitLimits)
{
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"29970", 29970},       {"29.97", 29},          {"  42", 42},
        {"+7", 7},              {"-15", -15},           {"12abc", 12},
        {"abc", 0},             {"", 0},                {"2147483647", 2147483647},
        {"2147483648", 2147483647}, {"99999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1}, {"-99999999999", -2147483647 - 1},
        {"\t\n 5", 5},          {"- 5", 0},
    };
    std::string body;
    for (const Case& c : cases) {
        std::string p = FullProfile();
        size_t at = p.find("<FrameRate value=\"29970\"/>");
        p.replace(at, std::string("<FrameRate value=\"29970\"/>").size(), Setting("FrameRate", c.text));
        body += p;
    }
    ASSERT_TRUE(Load(body));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Profile(static_cast<int32_t>(i)).FrameRate, cases[i].value) << "'" << cases[i].text << "'";
}

TEST_F(ProfileLoading, TooLongValuesAreCutToTheirFieldAndReported)
{
    std::string longName(300, 'n');
    std::string longCodec = "a_very_long_encoder_name";
    std::string profile = FullProfile(longName, longCodec);
    std::vector<std::string> truncations;
    ASSERT_TRUE(Load(profile, &truncations));
    FormatProfile p = Profile(0);
    EXPECT_EQ(FieldText(p.ProfileName), std::string(159, 'n'));
    EXPECT_EQ(FieldText(p.VideoCodecName), longCodec.substr(0, 15));
    EXPECT_EQ(p.VideoCodecName[15], '\0');
    // The fields after the long ones are intact.
    EXPECT_EQ(FieldText(p.FormatExt), ".mp4");
    EXPECT_EQ(p.Width, 640);
    ASSERT_EQ(truncations.size(), 2u);
    EXPECT_NE(truncations[0].find("ProfileName"), std::string::npos);
    EXPECT_NE(truncations[1].find("VideoCodecName"), std::string::npos);
    EXPECT_NE(truncations[1].find("profile 0"), std::string::npos);
}

TEST_F(ProfileLoading, EmptyRootLoadsAnEmptyList)
{
    EXPECT_TRUE(Load(""));
    ProfileListLock hold(m_list);
    EXPECT_EQ(m_list.Count(), 0u);
}

TEST_F(ProfileLoading, BrokenOrMissingFilesFailWithoutTouchingTheList)
{
    struct Case {
        const char* what;
        const char* bytes;   // nullptr: no file at all
    };
    const Case cases[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"not closed", "<Formats><Profile><ProfileName value=\"x\"/></Profile>"},
        {"mismatched tags", "<Formats><Profile></Formats></Profile>"},
        {"plain text", "this is not xml"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        if (c.bytes)
            folder.Write("Format.xml", c.bytes);
        ProfileList list;
        list.AddProfile(FormatProfile {});
        EXPECT_FALSE(LoadProfiles(folder.Path(), list)) << c.what;
        ProfileListLock hold(list);
        EXPECT_EQ(list.Count(), 1u) << c.what;
    }
}

TEST_F(ProfileLoading, ReadsUtf16FileWithByteOrderMark)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-16\"?><Formats>" + FullProfile("Vid\xC3\xA9o") + "</Formats>";
    // UTF-8 -> UTF-16LE (the text above holds only one two-byte sequence).
    std::string bytes = "\xFF\xFE";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char16_t u = c;
        if (c == 0xC3) {
            u = static_cast<char16_t>(((c & 0x1F) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F));
        }
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    m_folder.Write("Format.xml", bytes);
    ASSERT_TRUE(LoadProfiles(m_folder.File("Format.xml"), m_list));
    EXPECT_EQ(FieldText(Profile(0).ProfileName), "Vid\xC3\xA9o");
    EXPECT_EQ(FieldText(Profile(0).VideoCodecName), "mpeg4");
}

TEST(SiteSettings, ReadsTitleAndUrlAndLeavesMissingOnesEmpty)
{
    struct Case {
        const char* what;
        const char* bytes;
        const char* title;
        const char* url;
    };
    const Case cases[] = {
        {"both", "<S><Profile><Title value=\"My App\"/><Url value=\"https://x.example/\"/></Profile></S>", "My App",
         "https://x.example/"},
        {"no url", "<S><Profile><Title value=\"T\"/></Profile></S>", "T", ""},
        {"url before title", "<S><Profile><Url value=\"u\"/><Title value=\"T\"/></Profile></S>", "T", ""},
        {"other children", "<S><Profile><Logo value=\"l\"/><Title value=\"T\"/><Url value=\"u\"/></Profile></S>", "T",
         "u"},
        {"no Profile", "<S><Title value=\"T\"/></S>", "", ""},
        {"ill-formed", "<S><Profile><Title value=\"T\"/>", "", ""},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        folder.Write("Set.xml", c.bytes);
        SiteSettings settings {"old", "old"};
        LoadSiteSettings(folder.Path(), settings);
        EXPECT_EQ(settings.AppTitle, c.title) << c.what;
        EXPECT_EQ(settings.AppUrl, c.url) << c.what;
    }
    TempFolder empty;
    SiteSettings settings {"old", "old"};
    EXPECT_FALSE(LoadSiteSettings(empty.Path(), settings));
    EXPECT_EQ(settings.AppTitle, "");
    EXPECT_EQ(settings.AppUrl, "");
}

TEST(ChoiceList, SplitsItemsAndMapsKeysAndLabels)
{
    const std::string rates = "25000$25,29970$29.97";
    EXPECT_EQ(LabelForKey(rates, "29970"), "29.97");
    EXPECT_EQ(KeyForLabel(rates, "25"), "25000");
    EXPECT_EQ(LabelForKey(rates, "30000"), "");
    EXPECT_EQ(KeyForLabel(rates, "30"), "");

    struct Case {
        const char* list;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a,", {"a"}},
        {"a,b$B,c", {"a", "B", "c"}},
        {"k$l$m", {"l$m"}},            // split at the first '$'
        {"a,,b", {"a", "", "b"}},
        {"$only label", {"only label"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FillChoiceList(c.list), c.labels) << c.list;

    // Bare items are their own key and label; matching is exact and case-sensitive.
    EXPECT_EQ(LabelForKey("mpeg4,libx264$H.264", "mpeg4"), "mpeg4");
    EXPECT_EQ(KeyForLabel("mpeg4,libx264$H.264", "H.264"), "libx264");
    EXPECT_EQ(KeyForLabel("mpeg4,libx264$H.264", "h.264"), "");
    EXPECT_EQ(LabelForKey("1$a,1$b", "1"), "a");   // first match wins
    EXPECT_EQ(KeyForLabel("k$label x", "label"), "");
}

TEST(FormatProfileFields, AssignNeverOverrunsAndKeepsCharactersWhole)
{
    char16_t wide[4];
    EXPECT_TRUE(AssignUtf16Field(wide, 4, u"abc"));
    EXPECT_EQ(Utf16FieldToUtf8(wide, 4), "abc");
    EXPECT_FALSE(AssignUtf16Field(wide, 4, u"abcd"));
    EXPECT_EQ(Utf16FieldToUtf8(wide, 4), "abc");
    EXPECT_EQ(wide[3], u'\0');
    // A surrogate pair that does not fit whole is dropped whole.
    EXPECT_FALSE(AssignUtf16Field(wide, 4, u"ab\U0001F600"));
    EXPECT_EQ(Utf16FieldToUtf8(wide, 4), "ab");
    EXPECT_TRUE(AssignUtf16Field(wide, 4, u"\U0001F600"));
    EXPECT_EQ(Utf16FieldToUtf8(wide, 4), "\xF0\x9F\x98\x80");

    char narrow[4];
    EXPECT_TRUE(AssignCharField(narrow, 4, "abc"));
    EXPECT_FALSE(AssignCharField(narrow, 4, "abcd"));
    EXPECT_EQ(std::string(narrow), "abc");
    EXPECT_FALSE(AssignCharField(narrow, 4, "a\xC3\xA9\xC3\xA9"));   // a + e-acute + e-acute
    EXPECT_EQ(std::string(narrow), "a\xC3\xA9");
    EXPECT_FALSE(AssignCharField(narrow, 4, "ab\xC3\xA9"));
    EXPECT_EQ(std::string(narrow), "ab");
}

TEST(ProfileListLocking, LockIsRecursiveForIterationWithLookup)
{
    ProfileList list;
    for (int32_t i = 0; i < 3; ++i) {
        FormatProfile p {};
        p.Index = i;
        list.AddProfile(p);
    }
    ProfileListLock outer(list);
    ProfileListLock inner(list);
    for (size_t i = 0; i < list.Count(); ++i) {
        FormatProfile p {};
        EXPECT_TRUE(list.FindProfile(list.At(i).Index, p));
    }
    FormatProfile p {};
    EXPECT_FALSE(list.FindProfile(3, p));
}

TEST_F(ProfileLoading, FindsProfilesByIndexNameOrCatalogueTitle)
{
    ASSERT_TRUE(Load(FullProfile("first") + FullProfile("Second Name") + FullProfile("third")));
    struct Case {
        const char* text;
        bool found;
        int32_t index;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"2", true, 2},
        {"3", false, 0},
        {"second name", true, 1},
        {"SECOND NAME", true, 1},
        {"second", false, 0},
        // Catalogue titles: profile 1 is the AVI entry, 17 (MP3) is not in this small file.
        {"avi-audio-video interleaved(*.avi)", true, 1},
        {"MP3-MPEG Layer-3 Audio(*.mp3)", false, 0},
        {"", false, 0},
        {"-1", false, 0},
    };
    for (const Case& c : cases) {
        FormatProfile p {};
        EXPECT_EQ(FindProfileByIndexOrName(m_list, c.text, p), c.found) << c.text;
        if (c.found) {
            EXPECT_EQ(p.Index, c.index) << c.text;
        }
    }
}

} // namespace
