// The title scan on navigation tables built in memory: sound layouts, damaged tables and
// "structure protection" layouts.
#include <gtest/gtest.h>

#include "FakeNavigation.h"
#include "dvd/DvdTitleScan.h"

namespace {

TEST(DvdTimeToMs, FrameRateCodes)
{
    struct Case {
        dvd_time_t time;
        double ms;
    };
    const Case cases[] = {
        {{0x00, 0x00, 0x08, 0xC0}, 8000.0},                     // 8 s, 29.97, no frames
        {{0x01, 0x02, 0x03, 0xC0 | 0x15}, 3723000.0 + 15 * 1000.0 / 29.97},
        {{0x00, 0x00, 0x02, 0x40 | 0x24}, 2000.0 + 24 * 40.0},   // 25 fps: 24 frames = 960 ms
        {{0x00, 0x59, 0x59, 0x40}, 3599000.0},
        {{0x99, 0x00, 0x00, 0x40}, 99 * 3600000.0},
        {{0x00, 0x00, 0x05, 0x00 | 0x10}, 5000.0},               // unknown rate: frames dropped
        {{0x00, 0x00, 0x05, 0x80 | 0x10}, 5000.0},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(DvdTimeToMs(c.time), c.ms) << int(c.time.second) << " " << int(c.time.frame_u);
}

uint32_t Sectors(const DvdTitleInfo& t, int c) { return t.chapterSectors[c]; }

TEST(DvdTitleScan, ChaptersFollowProgramsAndCells)
{
    FakeNavigation nav;
    // Three programs over four cells: chapter 2 holds cells 2 and 3.
    nav.AddChain(1, {1, 2, 4}, {{0, 99}, {100, 149}, {150, 199}, {200, 499}});
    nav.AddTitle(1, {{1, 1}, {1, 2}, {1, 3}});
    nav.AddTitle(1, {{1, 2}, {1, 3}});  // the same chain from its second program
    const DvdDiscPlan plan = ScanDisc(nav);
    ASSERT_EQ(plan.info.titleCount, 2);
    EXPECT_EQ(plan.info.titles[0].firstCellSector, 0u);
    EXPECT_EQ(plan.info.titles[1].firstCellSector, 100u);
    EXPECT_EQ(plan.info.titles[1].chapterSectors[0], 100u);
    const DvdTitleInfo& t = plan.info.titles[0];
    EXPECT_EQ(t.chapterCount, 3);
    EXPECT_EQ(Sectors(t, 0), 100u);
    EXPECT_EQ(Sectors(t, 1), 100u);
    EXPECT_EQ(Sectors(t, 2), 300u);
    EXPECT_DOUBLE_EQ(t.durationMs, 10000.0);
    ASSERT_EQ(plan.titles[0].chapters[1].cells.size(), 2u);
    EXPECT_EQ(plan.titles[0].chapters[1].cells[1].firstSector, 150u);
    EXPECT_TRUE(plan.notes.empty());
}

TEST(DvdTitleScan, AudioAndSubpictureStreamsFollowTheControlTables)
{
    struct Stream {
        int format;
        int streamNumber;
        uint32_t id;
        int coding;
    };
    const Stream audio[] = {
        {0, 0, 0xBD80, 0}, {2, 1, 0xC100, 2}, {3, 0, 0xC000, 3},
        {4, 2, 0xBDA2, 4}, {6, 1, 0xBD89, 5}, {5, 0, 0xBD90, 1},
    };
    for (const bool wide : {false, true}) {
        FakeNavigation nav;
        nav.AddChain(1, {1}, {{0, 9}});
        nav.AddTitle(1, {{1, 1}});
        FakeTitleSet& set = nav.Set(1);
        set.mat.vts_video_attr.display_aspect_ratio = wide ? 3 : 0;
        set.mat.nr_of_vts_audio_streams = 7;
        pgc_t& pgc = nav.Chain(1, 1).pgc;
        for (int i = 0; i < 6; ++i) {
            set.mat.vts_audio_attr[i].audio_format = audio[i].format & 7;
            set.mat.vts_audio_attr[i].channels = i;
            set.mat.vts_audio_attr[i].lang_type = 1;
            set.mat.vts_audio_attr[i].lang_code = 'e' << 8 | ('a' + i);
            pgc.audio_control[i] = static_cast<uint16_t>(0x8000 | audio[i].streamNumber << 8);
        }
        // Declared but not present in this chain: not listed.
        pgc.audio_control[6] = 0x0000;
        // Present in the chain but beyond the declared streams: garbage, not listed.
        pgc.audio_control[7] = 0x8700;
        set.mat.nr_of_vts_subp_streams = 2;
        set.mat.vts_subp_attr[0].type = 1;
        set.mat.vts_subp_attr[0].lang_code = 'd' << 8 | 'e';
        set.mat.vts_subp_attr[1].type = 0;  // no language
        set.mat.vts_subp_attr[1].lang_code = 'x' << 8 | 'x';
        pgc.subp_control[0] = 0x80000000u | 3u << 24 | 5u << 16;
        pgc.subp_control[1] = 0x80000000u | 1u << 24 | 2u << 16;
        pgc.subp_control[2] = 0x80000000u;  // beyond the declared count

        const DvdTitleInfo t = ScanDisc(nav).info.titles[0];
        ASSERT_EQ(t.audioCount, 6);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(t.audioStreamId[i], audio[i].id) << i;
            EXPECT_EQ(t.audioCoding[i], audio[i].coding) << i;
            EXPECT_EQ(t.audioChannels[i], i) << i;
            EXPECT_EQ(t.audioLanguage[i], uint32_t('e' << 8 | ('a' + i))) << i;
        }
        ASSERT_EQ(t.subtitleCount, 2);
        EXPECT_EQ(t.subtitleStreamId[0], wide ? 0xBD25u : 0xBD23u);
        EXPECT_EQ(t.subtitleStreamId[1], wide ? 0xBD22u : 0xBD21u);
        EXPECT_EQ(t.subtitleLanguage[0], uint32_t('d' << 8 | 'e'));
        EXPECT_EQ(t.subtitleLanguage[1], 0u);
    }
}

TEST(DvdTitleScan, PaletteComesFromTheTitlesChain)
{
    FakeNavigation nav;
    nav.AddChain(1, {1}, {{0, 9}});
    nav.AddTitle(1, {{1, 1}});
    for (int i = 0; i < 16; ++i)
        nav.Chain(1, 1).pgc.palette[i] = 0x108080u + uint32_t(i);
    const DvdTitleInfo t = ScanDisc(nav).info.titles[0];
    EXPECT_EQ(t.paletteValid, 1u);
    EXPECT_EQ(t.palette[15], 0x108080u + 15);
}

TEST(DvdTitleScan, OnlyTheFirstAngleOfAnAngleBlockIsPlayed)
{
    FakeNavigation nav;
    nav.AddChain(1, {1}, {{0, 9}, {10, 19}, {20, 29}, {30, 39}, {40, 49}});
    auto& cells = nav.Chain(1, 1).cells;
    cells[1].block_type = BLOCK_TYPE_ANGLE_BLOCK;
    cells[1].block_mode = BLOCK_MODE_FIRST_CELL;
    cells[2].block_type = BLOCK_TYPE_ANGLE_BLOCK;
    cells[2].block_mode = BLOCK_MODE_IN_BLOCK;
    cells[3].block_type = BLOCK_TYPE_ANGLE_BLOCK;
    cells[3].block_mode = BLOCK_MODE_LAST_CELL;
    nav.AddTitle(1, {{1, 1}});
    const DvdDiscPlan plan = ScanDisc(nav);
    const auto& played = plan.titles[0].chapters[0].cells;
    ASSERT_EQ(played.size(), 3u);
    EXPECT_EQ(played[0].firstSector, 0u);
    EXPECT_EQ(played[1].firstSector, 10u);
    EXPECT_EQ(played[2].firstSector, 40u);
    EXPECT_EQ(plan.info.titles[0].chapterSectors[0], 30u);
}

// Damaged tables: what is broken is left out, the rest is listed, title numbers stay.
TEST(DvdTitleScan, BrokenChapterEntriesAndCellsAreLeftOut)
{
    FakeNavigation nav;
    nav.AddChain(1, {1, 2}, {{0, 99}, {100, 199}});
    nav.Set(1).vobSectors = 150;  // the second cell runs past the end of the VOBs
    // Entries: fine; missing chain; program 0; program past the chain's programs; fine.
    nav.AddTitle(1, {{1, 1}, {7, 1}, {1, 0}, {1, 3}, {1, 2}});
    const DvdDiscPlan plan = ScanDisc(nav);
    const DvdTitleInfo& t = plan.info.titles[0];
    EXPECT_EQ(t.chapterCount, 2);
    EXPECT_EQ(t.chapterSectors[0], 100u);
    EXPECT_EQ(t.chapterSectors[1], 0u);  // its only cell lies outside the VOBs
    EXPECT_EQ(plan.notes.size(), 2u);
}

TEST(DvdTitleScan, UnusableTitlesKeepTheirPlaceWithNoLength)
{
    struct Case {
        const char* what;
        void (*damage)(FakeNavigation&);
    };
    const Case cases[] = {
        {"no program chains", [](FakeNavigation& nav) { nav.Set(2).pgcit.nr_of_pgci_srp = 0; }},
        {"title set missing", [](FakeNavigation& nav) { nav.Title(2).title_set_nr = 9; }},
        {"title set 0", [](FakeNavigation& nav) { nav.Title(2).title_set_nr = 0; }},
        {"title number past the set's table", [](FakeNavigation& nav) { nav.Title(2).vts_ttn = 5; }},
        {"title number 0", [](FakeNavigation& nav) { nav.Title(2).vts_ttn = 0; }},
        {"no chapter table", [](FakeNavigation& nav) { nav.Set(2).ifo.vts_ptt_srpt = nullptr; }},
        {"no set header", [](FakeNavigation& nav) { nav.Set(2).ifo.vtsi_mat = nullptr; }},
        {"no cells", [](FakeNavigation& nav) { nav.Chain(2, 1).pgc.nr_of_cells = 0; }},
        {"null chain", [](FakeNavigation& nav) { nav.Set(2).srps[0].pgc = nullptr; }},
        {"no chapters declared", [](FakeNavigation& nav) { nav.Title(2).nr_of_ptts = 0; }},
        {"every cell outside the VOBs", [](FakeNavigation& nav) { nav.Set(2).vobSectors = 5; }},
    };
    for (const Case& c : cases) {
        FakeNavigation nav;
        nav.AddChain(1, {1}, {{0, 9}});
        nav.AddTitle(1, {{1, 1}});
        nav.AddChain(2, {1}, {{0, 9}});
        nav.AddTitle(2, {{1, 1}});
        nav.AddChain(3, {1}, {{0, 9}});
        nav.AddTitle(3, {{1, 1}});
        c.damage(nav);
        const DvdDiscPlan plan = ScanDisc(nav);
        ASSERT_EQ(plan.info.titleCount, 3) << c.what;
        EXPECT_EQ(plan.info.titles[1].chapterCount, 0) << c.what;
        EXPECT_EQ(plan.info.titles[1].durationMs, 0.0) << c.what;
        EXPECT_TRUE(plan.titles[1].chapters.empty()) << c.what;
        EXPECT_EQ(plan.info.titles[0].chapterCount, 1) << c.what;
        EXPECT_EQ(plan.info.titles[2].chapterCount, 1) << c.what;
        EXPECT_FALSE(plan.notes.empty()) << c.what;
    }
}

TEST(DvdTitleScan, ChapterCountIsTheSmallerOfTheTwoTablesAndTheTitleStaysWhole)
{
    // The VMG declares more chapters than the title set's table holds, and the other way round.
    // The last chapter listed plays to the end of its chain.
    for (const int declared : {1, 2, 200}) {
        FakeNavigation nav;
        nav.AddChain(1, {1, 2, 3}, {{0, 9}, {10, 19}, {20, 29}});
        nav.AddTitle(1, {{1, 1}, {1, 2}, {1, 3}}, declared);
        const DvdTitleInfo t = ScanDisc(nav).info.titles[0];
        EXPECT_EQ(t.chapterCount, std::min(declared, 3));
        EXPECT_EQ(DvdTitleLengthBytes(t), 30 * 2048) << declared;
    }
}

TEST(DvdTitleScan, ChaptersOverSeveralChains)
{
    FakeNavigation nav;
    nav.AddChain(1, {1, 2}, {{0, 9}, {10, 19}});
    nav.AddChain(1, {1, 3}, {{100, 109}, {110, 119}, {120, 129}});
    nav.Chain(1, 2).pgc.playback_time = {0x00, 0x00, 0x05, 0xC0};
    // Chain 1 program 1 only (program 2 listed nowhere), then chain 2 programs 1 and 2.
    nav.AddTitle(1, {{1, 1}, {2, 1}, {2, 2}});
    const DvdTitleInfo t = ScanDisc(nav).info.titles[0];
    ASSERT_EQ(t.chapterCount, 3);
    EXPECT_EQ(t.chapterSectors[0], 20u);
    EXPECT_EQ(t.chapterSectors[1], 20u);
    EXPECT_EQ(t.chapterSectors[2], 10u);
    EXPECT_DOUBLE_EQ(t.durationMs, 15000.0);
}

TEST(DvdTitleScan, TitlesPast32AndChaptersPast64AreFolded)
{
    FakeNavigation nav;
    std::vector<int> programs;
    std::vector<std::pair<uint32_t, uint32_t>> cells;
    std::vector<std::pair<int, int>> chapters;
    for (int p = 1; p <= 70; ++p) {
        programs.push_back(p);
        cells.push_back({uint32_t(p * 10), uint32_t(p * 10 + 9)});
        chapters.push_back({1, p});
    }
    nav.AddChain(1, programs, cells);
    for (int t = 0; t < 40; ++t)
        nav.AddTitle(1, chapters);
    const DvdDiscPlan plan = ScanDisc(nav);
    EXPECT_EQ(plan.info.titleCount, kDvdMaxTitles);
    const DvdTitleInfo& t = plan.info.titles[31];
    EXPECT_EQ(t.chapterCount, kDvdMaxChapters);
    EXPECT_EQ(t.chapterSectors[62], 10u);
    EXPECT_EQ(t.chapterSectors[63], 70u);  // chapters 64 to 70
    EXPECT_EQ(DvdTitleLengthBytes(t), 700 * 2048);
}

TEST(DvdTitleLengthBytes, SumsInSixtyFourBits)
{
    DvdTitleInfo t{};
    t.chapterCount = 3;
    t.chapterSectors[0] = t.chapterSectors[1] = t.chapterSectors[2] = 0x80000000u;
    t.chapterSectors[3] = 99;  // past chapterCount: not counted
    EXPECT_EQ(DvdTitleLengthBytes(t), int64_t(3) * 0x80000000u * 2048);
}

// A layout like the copy protection of commercial discs: 99 titles over a few title sets,
// chains whose program map points back, chapters sharing cells, every title reaching many
// chains. Every walk is bounded by the tables, so the scan ends and lists what it can.
TEST(DvdTitleScan, StructureProtectionStaysBoundedAndFast)
{
    FakeNavigation nav;
    for (int set = 1; set <= 3; ++set) {
        for (int c = 0; c < 60; ++c) {
            // Program starts 5, 2, 9, 1, ...: next program starts before this one.
            nav.AddChain(set, {5, 2, 9, 1, 255}, {{0, 99}, {0, 99}, {50, 149}, {0, 0}, {10, 5}, {0, 9}, {0, 9}, {0, 9}, {0, 9}});
        }
    }
    std::vector<std::pair<int, int>> chapters;
    for (int k = 0; k < 999; ++k)
        chapters.push_back({1 + k % 60, 1 + k % 5});
    for (int t = 0; t < 99; ++t)
        nav.AddTitle(1 + t % 3, chapters);
    const DvdDiscPlan plan = ScanDisc(nav);
    EXPECT_EQ(plan.info.titleCount, kDvdMaxTitles);
    for (int t = 0; t < kDvdMaxTitles; ++t) {
        EXPECT_EQ(plan.info.titles[t].chapterCount, kDvdMaxChapters);
        EXPECT_DOUBLE_EQ(plan.info.titles[t].durationMs, 60 * 10000.0);  // each chain once
    }
}

}  // namespace
