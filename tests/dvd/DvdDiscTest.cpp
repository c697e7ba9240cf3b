// The access layer on the authored test discs: the record against what each disc was
// authored with and against lsdvd, the same record from every way of naming a disc, reading
// titles and chapters against the VOB bytes, bad paths, damaged fixtures and injected faults.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "dvd/DiscDescription.h"
#include "dvd/DvdAccess.h"

namespace fs = std::filesystem;

namespace {

const std::string kDiscs = ZDR_TEST_DISCS;
constexpr int kSector = 2048;

std::string DiscPath(const std::string& name) { return kDiscs + "/" + name; }
std::string DamagedPath(const std::string& kind) { return kDiscs + "/damaged/" + kind; }

DiscDescription Described(const std::string& name)
{
    return ReadDiscDescription(std::string(ZDR_SOURCE_DIR) + "/tests/discs/" + name + ".disc");
}

// A handle closed at the end of the scope.
class Disc {
public:
    explicit Disc(const std::string& path) : m_handle(MyDVDOpen(path.c_str())) {}
    ~Disc()
    {
        if (m_handle)
            MyDVDClose(m_handle);
    }
    Disc(const Disc&) = delete;
    Disc& operator=(const Disc&) = delete;
    DvdHandle handle() const { return m_handle; }
    explicit operator bool() const { return m_handle != 0; }
    DvdDiscInfo Info() const
    {
        DvdDiscInfo info;
        std::memset(&info, 0xAB, sizeof info);  // GetInfo must clear what it does not fill
        MyDVDGetInfo(m_handle, &info);
        return info;
    }
    // Bytes of the area (title, chapter) .. (stopTitle, stopChapter), read in 10240-byte calls.
    std::vector<uint8_t> Read(int title, int chapter, int stopTitle, int stopChapter, int* last = nullptr) const
    {
        MyDVDSetArea(m_handle, title, chapter);
        MyDvdSetStopPos(m_handle, stopTitle, stopChapter);
        std::vector<uint8_t> out;
        std::vector<uint8_t> buffer(10240);
        int n;
        while ((n = MyDVDRead(m_handle, buffer.data(), 10240)) > 0)
            out.insert(out.end(), buffer.begin(), buffer.begin() + n);
        if (last)
            *last = n;
        return out;
    }
    std::vector<uint8_t> ReadTitle(int title, int* last = nullptr) const { return Read(title, 0, title + 1, 0, last); }

private:
    DvdHandle m_handle;
};

std::vector<uint8_t> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(fs::exists(path) ? size_t(fs::file_size(path)) : 0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

// The title VOBs of a title set, concatenated.
std::vector<uint8_t> TitleVobs(const std::string& disc, int set)
{
    std::vector<uint8_t> out;
    for (int part = 1; part <= 9; ++part) {
        char name[32];
        std::snprintf(name, sizeof name, "/VIDEO_TS/VTS_%02d_%d.VOB", set, part);
        if (!fs::exists(disc + name))
            break;
        const std::vector<uint8_t> bytes = FileBytes(disc + name);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

uint32_t Packed(const std::string& code) { return uint32_t(code[0]) << 8 | uint32_t(code[1]); }

// The record of an authored disc against its description.
void ExpectRecordMatchesDescription(const std::string& name, const DvdDiscInfo& info)
{
    const DiscDescription disc = Described(name);
    ASSERT_FALSE(disc.titles.empty()) << name;
    ASSERT_EQ(info.titleCount, std::min<int>(int(disc.titles.size()), kDvdMaxTitles)) << name;
    for (int t = 0; t < info.titleCount; ++t) {
        const DescribedTitle& want = disc.titles[size_t(t)];
        const DvdTitleInfo& got = info.titles[t];
        const std::string where = name + " title " + std::to_string(t + 1);
        EXPECT_LE(std::fabs(got.durationMs - want.seconds * 1000.0), disc.FrameMs()) << where << ": " << got.durationMs;
        EXPECT_EQ(got.chapterCount, want.chapters) << where;
        for (int c = 0; c < got.chapterCount; ++c)
            EXPECT_GT(got.chapterSectors[c], 0u) << where << " chapter " << c + 1;
        EXPECT_EQ(got.paletteValid, 1u) << where;
        ASSERT_EQ(got.audioCount, int(want.audio.size())) << where;
        std::map<std::string, int> perCoding;
        for (int i = 0; i < got.audioCount; ++i) {
            const DescribedAudio& a = want.audio[size_t(i)];
            const int n = perCoding[a.coding]++;
            struct Coding {
                const char* name;
                int coding;
                uint32_t firstId;
            };
            const Coding codings[] = {{"ac3", 0, 0xBD80}, {"mp2", 2, 0xC000}, {"lpcm", 4, 0xBDA0}, {"dts", 5, 0xBD88}};
            const Coding* c = nullptr;
            for (const Coding& k : codings)
                if (a.coding == k.name)
                    c = &k;
            ASSERT_NE(c, nullptr) << a.coding;
            EXPECT_EQ(got.audioCoding[i], c->coding) << where << " audio " << i;
            EXPECT_EQ(got.audioStreamId[i], a.coding == "mp2" ? c->firstId + (uint32_t(n) << 8) : c->firstId + uint32_t(n))
                << where << " audio " << i;
            EXPECT_EQ(got.audioChannels[i], a.channels - 1) << where << " audio " << i;
            EXPECT_EQ(got.audioLanguage[i], Packed(a.language)) << where << " audio " << i;
        }
        ASSERT_EQ(got.subtitleCount, int(want.subtitles.size())) << where;
        for (int i = 0; i < got.subtitleCount; ++i) {
            EXPECT_EQ(got.subtitleStreamId[i], 0xBD20u + uint32_t(i)) << where;
            EXPECT_EQ(got.subtitleLanguage[i], Packed(want.subtitles[size_t(i)])) << where;
        }
    }
    for (int t = info.titleCount; t < kDvdMaxTitles; ++t)
        EXPECT_EQ(info.titles[t].chapterCount, 0) << name << " unused entry " << t;
}

const char* const kAuthored[] = {"sample", "pal", "short-first", "many", "flash", "noaudio"};

TEST(DvdDisc, RecordMatchesWhatEachDiscWasAuthoredWith)
{
    for (const char* name : kAuthored) {
        Disc disc(DiscPath(name));
        ASSERT_TRUE(disc) << name << ": " << DvdLastError();
        EXPECT_EQ(DvdLastError(), "");
        ExpectRecordMatchesDescription(name, disc.Info());
        EXPECT_TRUE(DvdScanNotes(disc.handle()).size() == (std::string(name) == "many" ? 1u : 0u)) << name;
    }
}

TEST(DvdDisc, SameRecordFromTheFolderItsParentTheImageAndAnyLetterCase)
{
    const fs::path mixed = fs::temp_directory_path() / ("zdr-mixed-case-" + std::to_string(getpid()));
    for (const char* name : kAuthored) {
        // A copy whose folder and files are named in mixed and lower case (links to the files).
        fs::remove_all(mixed);
        fs::create_directories(mixed / "Video_Ts");
        for (const auto& entry : fs::directory_iterator(DiscPath(name) + "/VIDEO_TS")) {
            std::string lower = entry.path().filename().string();
            for (char& c : lower)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            fs::create_symlink(entry.path(), mixed / "Video_Ts" / lower);
        }
        Disc parent(DiscPath(name));
        ASSERT_TRUE(parent) << name;
        const DvdDiscInfo reference = parent.Info();
        for (const std::string& path : {DiscPath(name) + "/VIDEO_TS", DiscPath(name) + "/VIDEO_TS/",
                                        DiscPath(name) + "/disc.iso", mixed.string(), (mixed / "Video_Ts").string()}) {
            Disc other(path);
            ASSERT_TRUE(other) << path << ": " << DvdLastError();
            const DvdDiscInfo info = other.Info();
            EXPECT_EQ(std::memcmp(&info, &reference, sizeof info), 0) << path;
        }
    }
    fs::remove_all(mixed);
}

// lsdvd's view of a disc: per title the length in ms, the chapter count and the languages.
struct LsdvdTitle {
    double ms = 0;
    int chapters = 0;
    std::vector<std::string> audio;
    std::vector<std::string> subtitles;
};

std::vector<LsdvdTitle> RunLsdvd(const std::string& path)
{
    std::vector<LsdvdTitle> titles;
    FILE* pipe = popen(("lsdvd -a -s '" + path + "' 2>/dev/null").c_str(), "r");
    if (!pipe)
        return titles;
    const std::regex title(R"(^Title: (\d+), Length: (\d+):(\d+):(\d+)\.(\d+) Chapters: (\d+),)");
    const std::regex audio(R"(^\s+Audio: \d+, Language: (\S+) )");
    const std::regex subtitle(R"(^\s+Subtitle: \d+, Language: (\S+) )");
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::cmatch m;
        if (std::regex_search(line, m, title)) {
            LsdvdTitle t;
            t.ms = std::stoi(m[2]) * 3600000.0 + std::stoi(m[3]) * 60000.0 + std::stoi(m[4]) * 1000.0 + std::stoi(m[5]);
            t.chapters = std::stoi(m[6]);
            titles.push_back(t);
        } else if (!titles.empty() && std::regex_search(line, m, audio)) {
            titles.back().audio.push_back(m[1]);
        } else if (!titles.empty() && std::regex_search(line, m, subtitle)) {
            titles.back().subtitles.push_back(m[1]);
        }
    }
    pclose(pipe);
    return titles;
}

std::string Letters(uint32_t packed) { return packed ? std::string{char(packed >> 8), char(packed & 0xFF)} : "xx"; }

TEST(DvdDisc, AgreesWithLsdvd)
{
    if (std::system("command -v lsdvd >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "lsdvd is not installed (make deps installs it)";
    for (const char* name : kAuthored) {
        Disc disc(DiscPath(name));
        ASSERT_TRUE(disc) << name;
        const DvdDiscInfo info = disc.Info();
        const std::vector<LsdvdTitle> theirs = RunLsdvd(DiscPath(name) + "/disc.iso");
        ASSERT_GE(int(theirs.size()), info.titleCount) << name;
        for (int t = 0; t < info.titleCount; ++t) {
            const DvdTitleInfo& ours = info.titles[t];
            const LsdvdTitle& lsdvd = theirs[size_t(t)];
            const std::string where = std::string(name) + " title " + std::to_string(t + 1);
            EXPECT_LE(std::fabs(ours.durationMs - lsdvd.ms), 1.0) << where;  // lsdvd prints whole ms
            EXPECT_EQ(ours.chapterCount, lsdvd.chapters) << where;
            ASSERT_EQ(ours.audioCount, int(lsdvd.audio.size())) << where;
            for (int i = 0; i < ours.audioCount; ++i)
                EXPECT_EQ(Letters(ours.audioLanguage[i]), lsdvd.audio[size_t(i)]) << where;
            ASSERT_EQ(ours.subtitleCount, int(lsdvd.subtitles.size())) << where;
            for (int i = 0; i < ours.subtitleCount; ++i)
                EXPECT_EQ(Letters(ours.subtitleLanguage[i]), lsdvd.subtitles[size_t(i)]) << where;
        }
    }
}

// Each title of sample has a title set of its own, so the title is exactly its VOB bytes.
TEST(DvdDisc, AWholeTitleIsExactlyItsVobBytes)
{
    for (const std::string& path : {DiscPath("sample"), DiscPath("sample") + "/disc.iso"}) {
        Disc disc(path);
        ASSERT_TRUE(disc);
        const DvdDiscInfo info = disc.Info();
        for (int t = 0; t < info.titleCount; ++t) {
            int last = 1;
            const std::vector<uint8_t> bytes = disc.ReadTitle(t, &last);
            EXPECT_EQ(last, 0);
            EXPECT_EQ(int64_t(bytes.size()), DvdTitleLengthBytes(info.titles[t])) << path << " " << t;
            EXPECT_TRUE(bytes == TitleVobs(DiscPath("sample"), t + 1)) << path << " title " << t + 1;
            EXPECT_FALSE(DvdReadFailed(disc.handle()));
            EXPECT_TRUE(DvdSkippedRanges(disc.handle()).empty());
        }
    }
}

// The 40 titles of many share one title set and are laid out one after another.
TEST(DvdDisc, TitlesSharingATitleSetReadTheirOwnSectors)
{
    Disc disc(DiscPath("many"));
    ASSERT_TRUE(disc);
    const DvdDiscInfo info = disc.Info();
    const std::vector<uint8_t> vob = TitleVobs(DiscPath("many"), 1);
    std::vector<size_t> offsets = {0};
    for (int t = 0; t < info.titleCount; ++t)
        offsets.push_back(offsets.back() + size_t(DvdTitleLengthBytes(info.titles[t])));
    ASSERT_LE(offsets.back(), vob.size());
    for (const int t : {0, 1, 16, kDvdMaxTitles - 1}) {
        const std::vector<uint8_t> bytes = disc.ReadTitle(t);
        ASSERT_EQ(int64_t(bytes.size()), DvdTitleLengthBytes(info.titles[t])) << t;
        EXPECT_EQ(std::memcmp(bytes.data(), vob.data() + offsets[size_t(t)], bytes.size()), 0) << "title " << t + 1;
    }
}

bool StartsWithNavigationPack(const uint8_t* s)
{
    const size_t h = 14 + (s[13] & 7);
    return s[0] == 0 && s[1] == 0 && s[2] == 1 && s[3] == 0xBA && s[h + 3] == 0xBB;
}

TEST(DvdDisc, ChapterAreasStartAndStopAtTheirCells)
{
    Disc disc(DiscPath("sample"));
    ASSERT_TRUE(disc);
    const DvdTitleInfo title = disc.Info().titles[0];
    ASSERT_EQ(title.chapterCount, 3);
    const std::vector<uint8_t> whole = disc.ReadTitle(0);
    size_t offset = 0;
    for (int c = 0; c < title.chapterCount; ++c) {
        const std::vector<uint8_t> chapter = disc.Read(0, c, 0, c + 1);
        ASSERT_EQ(chapter.size(), size_t(title.chapterSectors[c]) * kSector) << c;
        EXPECT_TRUE(StartsWithNavigationPack(chapter.data())) << c;
        EXPECT_TRUE(std::equal(chapter.begin(), chapter.end(), whole.begin() + long(offset))) << c;
        // From this chapter to the end of the title: the rest of the whole title.
        EXPECT_EQ(disc.Read(0, c, 1, 0).size(), whole.size() - offset) << c;
        offset += chapter.size();
    }
    EXPECT_EQ(offset, whole.size());
    // A stop point at or before the start, and areas that do not exist, are empty.
    EXPECT_TRUE(disc.Read(0, 2, 0, 2).empty());
    EXPECT_TRUE(disc.Read(0, 2, 0, 1).empty());
    EXPECT_TRUE(disc.Read(0, 7, 1, 0).empty());
    EXPECT_TRUE(disc.Read(9, 0, 10, 0).empty());
    EXPECT_TRUE(disc.Read(-1, 0, 0, 0).empty());
}

TEST(DvdDisc, SeeksLandOnSectorStarts)
{
    Disc disc(DiscPath("sample"));
    ASSERT_TRUE(disc);
    const std::vector<uint8_t> whole = disc.ReadTitle(0);
    const int64_t size = int64_t(whole.size());
    MyDVDSetArea(disc.handle(), 0, 0);
    MyDvdSetStopPos(disc.handle(), 1, 0);
    for (const int64_t offset : {int64_t(0), int64_t(5 * kSector + 100), int64_t(kSector - 1), size - 1, int64_t(77 * kSector)}) {
        const int64_t reached = MyDVDSeek(disc.handle(), offset, 0);
        EXPECT_EQ(reached, offset - offset % kSector) << offset;
        uint8_t buffer[10240];
        const int n = MyDVDRead(disc.handle(), buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        EXPECT_EQ(std::memcmp(buffer, whole.data() + reached, size_t(n)), 0) << offset;
    }
    EXPECT_EQ(MyDVDSeek(disc.handle(), size + 5000, 0), size);
    uint8_t buffer[16];
    EXPECT_EQ(MyDVDRead(disc.handle(), buffer, sizeof buffer), 0);
    EXPECT_LT(MyDVDSeek(disc.handle(), -1, 0), 0);
}

TEST(DvdDisc, HandlesAreNeverReusedAndStayIndependent)
{
    const DvdHandle a = MyDVDOpen(DiscPath("sample").c_str());
    const DvdHandle b = MyDVDOpen(DiscPath("pal").c_str());
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    DvdDiscInfo info;
    MyDVDGetInfo(b, &info);
    EXPECT_EQ(info.titleCount, 1);
    MyDVDClose(a);
    const DvdHandle c = MyDVDOpen(DiscPath("sample").c_str());
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
    // A closed handle does nothing and reads nothing.
    MyDVDGetInfo(a, &info);
    EXPECT_EQ(info.titleCount, 0);
    MyDVDSetArea(a, 0, 0);
    uint8_t buffer[16];
    EXPECT_LT(MyDVDRead(a, buffer, sizeof buffer), 0);
    EXPECT_LT(MyDVDSeek(a, 0, 0), 0);
    MyDVDClose(a);
    MyDVDClose(0);
    MyDVDClose(b);
    MyDVDClose(c);
}

class TempDir {
public:
    TempDir() : m_path(fs::temp_directory_path() / ("zdr-dvd-" + std::to_string(getpid()) + "-" + std::to_string(s_count++)))
    {
        fs::create_directories(m_path);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    std::string path() const { return m_path.string(); }

private:
    static inline int s_count = 0;
    fs::path m_path;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST(DvdDisc, BadPathsFailWithAClearText)
{
    TempDir dir;
    fs::create_directories(dir / "empty");
    fs::create_directories(dir / "no-ifo/VIDEO_TS");
    WriteFile(dir / "no-ifo/VIDEO_TS/VTS_01_1.VOB", std::vector<uint8_t>(4096));
    fs::create_directories(dir / "garbage-ifo/VIDEO_TS");
    WriteFile(dir / "garbage-ifo/VIDEO_TS/VIDEO_TS.IFO", std::vector<uint8_t>(6144, 'x'));
    WriteFile(dir / "garbage-ifo/VIDEO_TS/VIDEO_TS.BUP", std::vector<uint8_t>(6144, 'x'));
    WriteFile(dir / "text.iso", std::vector<uint8_t>(100, 'x'));
    WriteFile(dir / "zeros.iso", std::vector<uint8_t>(4 << 20));
    const std::vector<uint8_t> iso = FileBytes(DiscPath("sample") + "/disc.iso");
    WriteFile(dir / "half.iso", std::vector<uint8_t>(iso.begin(), iso.begin() + long(iso.size() / 2)));
    WriteFile(dir / "head.iso", std::vector<uint8_t>(iso.begin(), iso.begin() + 40 * kSector));
    // Descriptors intact, navigation gone: every sector after the volume descriptors zeroed.
    std::vector<uint8_t> blank = iso;
    std::fill(blank.begin() + 40 * kSector, blank.end(), 0);
    WriteFile(dir / "blank.iso", blank);

    struct Case {
        std::string path;
        std::string error;
    };
    const Case cases[] = {
        {dir / "missing", "no such file or folder: " + (dir / "missing")},
        {dir / "missing/VIDEO_TS", "no such file or folder: " + (dir / "missing/VIDEO_TS")},
        {"", "no path given"},
        {dir / "empty", (dir / "empty") + " has no VIDEO_TS folder"},
        {dir / "no-ifo", (dir / "no-ifo") + " has no VIDEO_TS folder"},
        {dir / "garbage-ifo", (dir / "garbage-ifo") + ": the disc's navigation data (VIDEO_TS.IFO) cannot be read"},
        {dir / "text.iso", (dir / "text.iso") + " is not a DVD image"},
        {dir / "zeros.iso", (dir / "zeros.iso") + " is not a DVD image"},
        {DiscPath("sample") + "/VIDEO_TS/VTS_01_1.VOB", DiscPath("sample") + "/VIDEO_TS/VTS_01_1.VOB is not a DVD image"},
        {dir / "half.iso", "the DVD image " + (dir / "half.iso") + " is truncated or damaged"},
        {dir / "head.iso", "the DVD image " + (dir / "head.iso") + " is truncated or damaged"},
        {dir / "blank.iso", "the DVD image " + (dir / "blank.iso") + " is truncated or damaged"},
        {DamagedPath("cut-iso") + "/disc.iso", "the DVD image " + DamagedPath("cut-iso") + "/disc.iso is truncated or damaged"},
        {"/dev/null", "/dev/null is not a DVD drive, folder or image"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MyDVDOpen(c.path.c_str()), 0u) << c.path;
        EXPECT_EQ(DvdLastError(), c.error);
    }
    EXPECT_EQ(MyDVDOpen(nullptr), 0u);
    // A success clears the text.
    Disc good(DiscPath("sample"));
    EXPECT_TRUE(good);
    EXPECT_EQ(DvdLastError(), "");
}

// --- Damaged fixtures ----------------------------------------------------------------------

TEST(DvdDamaged, DamagedSectorsReadAsTheyAre)
{
    for (const char* kind : {"zeroed-sectors", "garbage-sectors"}) {
        Disc disc(DamagedPath(kind));
        ASSERT_TRUE(disc) << kind << ": " << DvdLastError();
        ExpectRecordMatchesDescription("sample", disc.Info());
        int last = 1;
        const std::vector<uint8_t> bytes = disc.ReadTitle(0, &last);
        EXPECT_EQ(last, 0) << kind << ": " << DvdReadError(disc.handle());
        EXPECT_TRUE(bytes == TitleVobs(DamagedPath(kind), 1)) << kind;
    }
}

TEST(DvdDamaged, BrokenNavigationListsWhatIsLeft)
{
    // Title 1 of sample is damaged in each; titles 2 and 3 (title sets of their own) are not.
    for (const char* kind : {"ifo-garbage", "pgc-count-zero", "pgc-count-huge", "cells-past-end", "chapters-overlong"}) {
        Disc disc(DamagedPath(kind));
        if (!disc) {
            // Unreadable navigation may also refuse the disc, with a reason.
            EXPECT_NE(DvdLastError(), "") << kind;
            continue;
        }
        const DvdDiscInfo info = disc.Info();
        ASSERT_EQ(info.titleCount, 3) << kind;
        EXPECT_EQ(info.titles[2].chapterCount, 1) << kind;
        EXPECT_NEAR(info.titles[2].durationMs, 4000.0, 34.0) << kind;
        EXPECT_EQ(info.titles[2].audioCount, 1) << kind;
        const DvdTitleInfo& first = info.titles[0];
        EXPECT_LE(first.chapterCount, 3) << kind;
        // Whatever is left of title 1 reads within the title set's VOB and ends.
        int last = 1;
        const std::vector<uint8_t> bytes = disc.ReadTitle(0, &last);
        EXPECT_EQ(int64_t(bytes.size()), DvdTitleLengthBytes(first)) << kind;
        EXPECT_LE(bytes.size(), TitleVobs(DamagedPath(kind), 1).size()) << kind;
        EXPECT_EQ(disc.ReadTitle(2), TitleVobs(DamagedPath(kind), 3)) << kind;
        if (std::string(kind) == "cells-past-end") {
            EXPECT_EQ(DvdTitleLengthBytes(first), 0) << kind;
            EXPECT_EQ(first.durationMs, 0.0) << kind;  // not listed
            EXPECT_FALSE(DvdScanNotes(disc.handle()).empty());
        }
        if (std::string(kind) == "chapters-overlong") {
            // The chapters past the table's end are gone, but the title is still all there.
            EXPECT_GE(first.chapterCount, 1);
            EXPECT_TRUE(bytes == TitleVobs(DamagedPath(kind), 1));
        }
    }
}

TEST(DvdDamaged, StructureProtectionListsWhatItCanAndEveryTitleEnds)
{
    Disc disc(DamagedPath("structure-protection"));
    ASSERT_TRUE(disc) << DvdLastError();
    const DvdDiscInfo info = disc.Info();
    EXPECT_EQ(info.titleCount, kDvdMaxTitles);
    const int64_t vobBytes = int64_t(TitleVobs(DamagedPath("structure-protection"), 1).size());
    for (int t = 0; t < info.titleCount; ++t)
        EXPECT_GT(info.titles[t].durationMs, 3000.0) << t;
    // Reading: a title of its own, one playing title 1's cells, one looping back.
    for (int t = 0; t < 3; ++t) {
        int last = 1;
        const std::vector<uint8_t> bytes = disc.ReadTitle(t, &last);
        EXPECT_EQ(last, 0) << t;
        EXPECT_EQ(int64_t(bytes.size()), DvdTitleLengthBytes(info.titles[t])) << t;
        EXPECT_LE(int64_t(bytes.size()), vobBytes) << t;
    }
}

TEST(DvdDamaged, ScrambledSectorsSayEncryptedDisc)
{
    for (const std::string& path : {DamagedPath("scrambled"), DamagedPath("scrambled") + "/disc.iso"}) {
        if (!fs::exists(path))
            continue;
        Disc disc(path);
        ASSERT_TRUE(disc) << DvdLastError();
        int last = 0;
        disc.ReadTitle(0, &last);
        EXPECT_LT(last, 0) << path;
        EXPECT_TRUE(DvdReadFailed(disc.handle()));
        EXPECT_EQ(DvdReadError(disc.handle()).rfind("encrypted disc", 0), 0u) << DvdReadError(disc.handle());
        // The other titles are clear and read.
        disc.ReadTitle(2, &last);
        EXPECT_EQ(last, 0);
        EXPECT_FALSE(DvdReadFailed(disc.handle()));
    }
}

// --- Injected faults -----------------------------------------------------------------------

bool IsPaddingPack(const uint8_t* s)
{
    return s[0] == 0 && s[1] == 0 && s[2] == 1 && s[3] == 0xBA && s[14] == 0 && s[15] == 0 && s[16] == 1 && s[17] == 0xBE;
}

TEST(DvdFaults, AShortRunOfBadSectorsIsSkippedAndReported)
{
    Disc disc(DiscPath("sample"));
    ASSERT_TRUE(disc);
    const std::vector<uint8_t> clean = disc.ReadTitle(0);
    const int64_t sectors = int64_t(clean.size()) / kSector;
    ASSERT_GT(sectors, 200);
    int attempts = 0;
    DvdSetReadHook(disc.handle(), [&](int64_t sector, int count) {
        ++attempts;
        return sector + count <= 100 || sector >= 120;  // 100..119 unreadable
    });
    int last = 1;
    const std::vector<uint8_t> bytes = disc.ReadTitle(0, &last);
    EXPECT_EQ(last, 0);
    ASSERT_EQ(bytes.size(), clean.size());
    for (int64_t s = 0; s < sectors; ++s) {
        const bool bad = s >= 100 && s < 120;
        const uint8_t* got = bytes.data() + s * kSector;
        if (bad)
            EXPECT_TRUE(IsPaddingPack(got)) << s;
        else
            EXPECT_EQ(std::memcmp(got, clean.data() + s * kSector, kSector), 0) << s;
    }
    const std::vector<DvdSkippedRange> skipped = DvdSkippedRanges(disc.handle());
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].firstSector, 100);
    EXPECT_EQ(skipped[0].sectorCount, 20);
    EXPECT_FALSE(DvdReadFailed(disc.handle()));
    // A new area starts with no skipped ranges; removing the hook reads cleanly again.
    DvdSetReadHook(disc.handle(), {});
    EXPECT_EQ(disc.ReadTitle(0), clean);
    EXPECT_TRUE(DvdSkippedRanges(disc.handle()).empty());
}

TEST(DvdFaults, FiveHundredBadSectorsInARowEndTheTitleWithAnError)
{
    Disc disc(DiscPath("sample"));
    ASSERT_TRUE(disc);
    const int64_t sectors = int64_t(disc.ReadTitle(0).size()) / kSector;
    ASSERT_GT(sectors, 10 + 500) << "sample's first title is too short for this case";
    DvdSetReadHook(disc.handle(), [](int64_t sector, int count) { return sector + count <= 10; });
    int last = 0;
    const std::vector<uint8_t> bytes = disc.ReadTitle(0, &last);
    EXPECT_LT(last, 0);
    EXPECT_LT(int64_t(bytes.size()), sectors * kSector);
    EXPECT_TRUE(DvdReadFailed(disc.handle()));
    EXPECT_EQ(DvdReadError(disc.handle()), "too many unreadable sectors at sector 509");
}

}  // namespace
