// The title list rules on records made in the test, and a DiscSession on an authored disc.
#include <gtest/gtest.h>

#include <cstring>

#include "app/TitleList.h"

namespace {

DvdDiscInfo Record(const std::vector<double>& durations)
{
    DvdDiscInfo info{};
    info.titleCount = int32_t(durations.size());
    for (size_t t = 0; t < durations.size() && t < kDvdMaxTitles; ++t) {
        info.titles[t].durationMs = durations[t];
        info.titles[t].chapterCount = 1;
    }
    return info;
}

std::vector<std::string> Names(const DiscSession& session)
{
    std::vector<std::string> names;
    for (const TitleEntry& e : session.Entries())
        names.push_back(e.outputName);
    return names;
}

TEST(TitleList, LengthTexts)
{
    const struct {
        double ms;
        const char* text;
    } cases[] = {
        {0, "00:00:00"},         {999.9, "00:00:00"},          {3000.0, "00:00:03"},
        {3599999.0, "00:59:59"}, {3600000.0, "01:00:00"},      {3661000.0, "01:01:01"},
        {360000000.0, "100:00:00"}, {-5.0, "00:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LengthText(c.ms), c.text) << c.ms;
}

TEST(TitleList, EntryNames)
{
    const struct {
        int title;
        int chapter;
        const char* ext;
        const char* name;
    } cases[] = {
        {0, -1, ".mp4", "Title_01.mp4"}, {31, -1, ".avi", "Title_32.avi"}, {99, -1, "", "Title_100"},
        {0, 0, ".mp4", "Chapter_01_01.mp4"}, {2, 11, ".mkv", "Chapter_03_12.mkv"},
    };
    for (const auto& c : cases) {
        ClipItem clip;
        clip.titleIndex = c.title;
        clip.chapterIndex = c.chapter;
        EXPECT_EQ(EntryName(clip, c.ext), c.name);
    }
}

TEST(TitleList, TrackTexts)
{
    DvdTitleInfo t{};
    const struct {
        uint32_t language;
        int32_t coding;
        int32_t channels;
        const char* text;
    } audio[] = {
        {'e' << 8 | 'n', 0, 5, "English(AC3 6ch)"},
        {'F' << 8 | 'R', 2, 1, "French(MP3 2ch)"},
        {'d' << 8 | 'e', 3, 0, "German(MP3 2ch)"},  // mono shows as 2 channels
        {'n' << 8 | 'l', 4, 1, "Dutch(LPCM 2ch)"},  // "Dutch; Flemish": the first name
        {'e' << 8 | 's', 5, 5, "Spanish(DTS 6ch)"},
        {'e' << 8 | 'n', 1, 7, "English( 2ch)"},    // unknown codings have no text
        {'e' << 8 | 'n', 6, 5, "English( 6ch)"},
        {'q' << 8 | 'q', 0, 1, "(AC3 2ch)"},        // unknown language
        {0, 0, 1, "(AC3 2ch)"},
    };
    for (size_t i = 0; i < std::size(audio); ++i) {
        t.audioLanguage[i] = audio[i].language;
        t.audioCoding[i] = audio[i].coding;
        t.audioChannels[i] = audio[i].channels;
        EXPECT_EQ(AudioTrackText(t, int(i)), audio[i].text) << i;
    }
    t.subtitleLanguage[0] = 'j' << 8 | 'a';
    t.subtitleLanguage[1] = 0;
    EXPECT_EQ(SubtitleTrackText(t, 0), "Japanese");
    EXPECT_EQ(SubtitleTrackText(t, 1), "");
}

TEST(TitleList, ListingRule)
{
    const struct {
        const char* what;
        std::vector<double> durations;
        std::vector<std::string> names;
        int selected;  // entry selected after the load, -1: none
    } cases[] = {
        {"3000.0 ms is listed, 2999.9 is not", {3000.0, 2999.9, 3000.1}, {"Title_01.mp4", "Title_03.mp4"}, 0},
        {"first title short", {2500.0, 3500.0, 9000.0}, {"Title_02.mp4", "Title_03.mp4"}, -1},
        {"nothing long enough", {100.0, 0.0}, {}, -1},
        {"no titles", {}, {}, -1},
    };
    for (const auto& c : cases) {
        DiscSession session;
        session.BuildEntries(Record(c.durations), ".mp4");
        EXPECT_EQ(Names(session), c.names) << c.what;
        EXPECT_TRUE(session.HasRoot()) << c.what;
        EXPECT_TRUE(session.RootChecked()) << c.what;
        for (const TitleEntry& e : session.Entries())
            EXPECT_TRUE(e.checked) << c.what;
        // The selected entry rule: the one selected, else the first, else none.
        EXPECT_EQ(session.SelectedEntry(), c.names.empty() ? -1 : (c.selected < 0 ? 0 : c.selected)) << c.what;
    }
}

TEST(TitleList, AtMost32Titles)
{
    DvdDiscInfo info = Record(std::vector<double>(32, 4000.0));
    info.titleCount = 40;  // more than the record holds
    DiscSession session;
    session.BuildEntries(info, ".mp4");
    ASSERT_EQ(session.Entries().size(), 32u);
    EXPECT_EQ(session.Entries().back().outputName, "Title_32.mp4");
}

TEST(TitleList, EntryRecordsAndTexts)
{
    DiscSession session;
    session.BuildEntries(Record({3599999.9, 360000000.0}), ".mp4");
    ASSERT_EQ(session.Entries().size(), 2u);
    const TitleEntry& e = session.Entries()[0];
    EXPECT_EQ(e.sourceText, "Title_01");
    EXPECT_EQ(e.originalLength, "00:59:59");
    EXPECT_EQ(e.trimmedLength, "00:59:59");
    EXPECT_EQ(e.clip.titleIndex, 0);
    EXPECT_EQ(e.clip.chapterIndex, -1);
    EXPECT_EQ(e.clip.lengthMs, 3599999);  // truncated
    EXPECT_EQ(e.clip.trimStartMs, 0);
    EXPECT_EQ(e.clip.trimLengthMs, 3599999);
    EXPECT_EQ(e.clip.picture, PictureSettings{});
    EXPECT_EQ(session.Entries()[1].originalLength, "100:00:00");
    const PictureSettings defaults;
    EXPECT_EQ(defaults.cropRight, 720);
    EXPECT_EQ(defaults.cropBottom, 480);
    EXPECT_EQ(defaults.volume, 256);
    EXPECT_EQ(defaults.brightness, 128);
    EXPECT_EQ(defaults.saturation, 64);
    EXPECT_EQ(defaults.hue, 0);
}

TEST(TitleList, RenameAfterAProfileChange)
{
    DiscSession session;
    session.BuildEntries(Record({1000.0, 5000.0, 6000.0}), ".mp4");
    session.Entries()[1].clip.chapterIndex = 4;
    session.RenameEntries(".avi");
    EXPECT_EQ(Names(session), (std::vector<std::string>{"Title_02.avi", "Chapter_03_05.avi"}));
}

TEST(TitleList, LoadResetsTheSharedPictureSettings)
{
    DiscSession session;
    session.SharedPictureSettings().volume = 100;
    session.BuildEntries(Record({5000.0}), ".mp4");
    EXPECT_EQ(session.SharedPictureSettings(), PictureSettings{});
}

DvdDiscInfo StreamsRecord()
{
    DvdDiscInfo info = Record({1000.0, 5000.0, 5000.0, 5000.0});
    // Title 1 (short, not listed) has streams; title 3 has none.
    info.titles[0].audioCount = 2;
    info.titles[0].audioStreamId[0] = 0xBD80;
    info.titles[0].audioStreamId[1] = 0xC000;
    info.titles[0].subtitleCount = 1;
    info.titles[0].subtitleStreamId[0] = 0xBD20;
    info.titles[1].audioCount = 1;
    info.titles[1].audioStreamId[0] = 0xBDA0;
    info.titles[1].subtitleCount = 1;
    info.titles[1].subtitleStreamId[0] = 0xBD21;
    info.titles[3].audioCount = 1;
    info.titles[3].audioStreamId[0] = 0xBD88;
    return info;
}

TEST(TitleList, TrackListsAndSelectedIds)
{
    DiscSession session;
    EXPECT_EQ(session.SelectedAudioStreamId(), -1);
    EXPECT_EQ(session.SelectedSubtitleStreamId(), -1);
    session.BuildEntries(StreamsRecord(), ".mp4");
    // The first title's streams, listed or not.
    ASSERT_EQ(session.AudioLines().size(), 2u);
    EXPECT_EQ(session.AudioLines()[1].streamId, 0xC000u);
    EXPECT_EQ(session.SelectedAudioStreamId(), 0xBD80);
    EXPECT_EQ(session.SelectedSubtitleStreamId(), 0xBD20);

    const struct {
        int title;
        size_t audioLines;
        size_t subtitleLines;
        int32_t audioId;
        int32_t subtitleId;
    } steps[] = {
        {1, 1, 1, 0xBDA0, 0xBD21},
        {2, 0, 0, 0xBDA0, 0xBD21},  // no streams: the ids stay
        {3, 1, 0, 0xBD88, 0xBD21},
    };
    for (const auto& s : steps) {
        session.RefreshTrackLists(s.title);
        EXPECT_EQ(session.AudioLines().size(), s.audioLines) << s.title;
        EXPECT_EQ(session.SubtitleLines().size(), s.subtitleLines) << s.title;
        EXPECT_EQ(session.SelectedAudioStreamId(), s.audioId) << s.title;
        EXPECT_EQ(session.SelectedSubtitleStreamId(), s.subtitleId) << s.title;
    }
}

TEST(TitleList, ClickingTheSameEntryTwiceRefreshesOnce)
{
    DiscSession session;
    session.BuildEntries(StreamsRecord(), ".mp4");  // entries: titles 2, 3, 4
    session.EntryClicked(0);
    EXPECT_EQ(session.SelectedAudioStreamId(), 0xBDA0);
    session.SetSelectedAudioStreamId(0x1234);  // as a track choice would
    session.EntryClicked(0);                   // same entry again: no refresh
    EXPECT_EQ(session.SelectedAudioStreamId(), 0x1234);
    session.EntryClicked(-1);  // elsewhere
    session.EntryClicked(0);
    EXPECT_EQ(session.SelectedAudioStreamId(), 0xBDA0);
    session.EntryClicked(2);
    EXPECT_EQ(session.SelectedAudioStreamId(), 0xBD88);
}

TEST(TitleList, CheckClearAndSelection)
{
    DiscSession session;
    session.BuildEntries(Record({5000.0, 5000.0}), ".mp4");
    session.CheckAll(false);
    EXPECT_FALSE(session.RootChecked());
    EXPECT_FALSE(session.Entries()[1].checked);
    session.CheckAll(true);
    EXPECT_TRUE(session.Entries()[0].checked);
    session.SelectEntry(1);
    EXPECT_EQ(session.SelectedEntry(), 1);
    session.ClearAll();
    EXPECT_TRUE(session.Entries().empty());
    EXPECT_TRUE(session.AudioLines().empty());
    EXPECT_EQ(session.SelectedEntry(), -1);
}

TEST(DiscSession, LoadsAnAuthoredDiscAndKeepsTheListWhenAnOpenFails)
{
    DiscSession session;
    std::string error;
    ASSERT_TRUE(session.LoadDisc(std::string(ZDR_TEST_DISCS) + "/sample", ".mp4", &error)) << error;
    EXPECT_NE(session.OpenDvdHandle(), 0u);
    EXPECT_EQ(Names(session), (std::vector<std::string>{"Title_01.mp4", "Title_03.mp4"}));
    EXPECT_EQ(session.Entries()[0].originalLength, "00:00:08");
    ASSERT_EQ(session.AudioLines().size(), 2u);
    EXPECT_EQ(session.AudioLines()[0].text, "English(AC3 2ch)");
    EXPECT_EQ(session.AudioLines()[1].text, "French(MP3 2ch)");
    ASSERT_EQ(session.SubtitleLines().size(), 2u);
    EXPECT_EQ(session.SubtitleLines()[1].text, "German");
    EXPECT_EQ(session.SelectedAudioStreamId(), 0xBD80);
    EXPECT_EQ(session.SelectedSubtitleStreamId(), 0xBD20);

    EXPECT_FALSE(session.LoadDisc("/no/such/disc", ".mp4", &error));
    EXPECT_EQ(error, "no such file or folder: /no/such/disc");
    EXPECT_EQ(session.OpenDvdHandle(), 0u);  // the previous disc is closed
    EXPECT_EQ(session.Entries().size(), 2u); // the list still shows it

    // short-first: the list starts with Title_02, nothing is selected, the tracks are title 1's.
    ASSERT_TRUE(session.LoadDisc(std::string(ZDR_TEST_DISCS) + "/short-first", ".mkv", &error)) << error;
    EXPECT_EQ(Names(session), (std::vector<std::string>{"Title_02.mkv"}));
    ASSERT_EQ(session.AudioLines().size(), 1u);
    EXPECT_EQ(session.AudioLines()[0].text, "German(AC3 2ch)");
}

}  // namespace
