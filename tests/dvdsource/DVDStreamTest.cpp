// The DVD title stream against a scripted access library: a title of known bytes, a seek that
// lands on sector starts (or wherever the script says), and reads that end or fail on cue.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dvd/DVDReader.h"
#include "dvd/DVDStream.h"

namespace {

// The scripted library. Bytes of the area are position-dependent so any misplaced byte shows.
struct FakeDvd {
    int64_t areaBytes = 5 * 2048 * 7;  // what reads deliver before the end
    int64_t seekLandsBefore = -1;      // -1: land on the sector start; else this many bytes
    int failReadAt = -1;               // the n-th read call (from 0) returns -1
    int reads = 0, seeks = 0, opens = 0, closes = 0;
    int64_t pos = 0;
    int title = -1, chapter = -1, stopTitle = -1, stopChapter = -1;

    static uint8_t ByteAt(int64_t off) { return static_cast<uint8_t>((off * 7 + off / 251) & 0xFF); }
};

FakeDvd* g_fake = nullptr;  // the test's scripted library; set by the fixture

DvdHandle FakeOpen(const char*) { ++g_fake->opens; return 42; }
void FakeInfo(DvdHandle, DvdDiscInfo* info)
{
    info->titleCount = 2;
    info->titles[0].chapterCount = 3;
    info->titles[0].chapterSectors[0] = 10;
    info->titles[0].chapterSectors[1] = 20;
    info->titles[0].chapterSectors[2] = 30;
    info->titles[0].chapterSectors[3] = 999;  // beyond chapterCount: not counted
    info->titles[0].durationMs = 12345.9;
    info->titles[1].chapterCount = 1;
    info->titles[1].chapterSectors[0] = 4;
    info->titles[1].durationMs = 4000.0;
}
void FakeSetArea(DvdHandle, int t, int c) { g_fake->title = t; g_fake->chapter = c; g_fake->pos = 0; }
void FakeStop(DvdHandle, int t, int c) { g_fake->stopTitle = t; g_fake->stopChapter = c; }
int64_t FakeSeek(DvdHandle, int64_t off, int)
{
    ++g_fake->seeks;
    if (off < 0 || off > g_fake->areaBytes)
        return -1;
    g_fake->pos = g_fake->seekLandsBefore < 0 ? off / 2048 * 2048 : off - g_fake->seekLandsBefore;
    return g_fake->pos;
}
int FakeRead(DvdHandle, uint8_t* buf, int count)
{
    if (g_fake->reads++ == g_fake->failReadAt)
        return -1;
    const int64_t n = std::min<int64_t>(count, g_fake->areaBytes - g_fake->pos);
    for (int64_t i = 0; i < n; ++i)
        buf[i] = FakeDvd::ByteAt(g_fake->pos + i);
    g_fake->pos += n;
    return static_cast<int>(n);
}
void FakeClose(DvdHandle) { ++g_fake->closes; }

const DvdLibrary kFakeLibrary{FakeOpen, FakeInfo, FakeSetArea, FakeStop, FakeSeek, FakeRead, FakeClose, nullptr};

class DVDStreamTest : public ::testing::Test {
protected:
    void SetUp() override { g_fake = &fake; }
    void TearDown() override { g_fake = nullptr; }

    // Reads `n` bytes at `pos` as the reader does and checks them against the area.
    void ExpectBytesAt(CDVDStream& s, int64_t pos, int32_t n)
    {
        std::vector<uint8_t> buf(n);
        int32_t got = -1;
        ASSERT_EQ(s.Read(buf.data(), n, false, &got), S_OK);
        ASSERT_EQ(got, n);
        for (int32_t i = 0; i < n; ++i)
            ASSERT_EQ(buf[i], FakeDvd::ByteAt(pos + i)) << "offset " << pos + i;
    }

    FakeDvd fake;
};

TEST_F(DVDStreamTest, AttachSelectsWholeFirstTitleWithSectorLength)
{
    CDVDStream s(kFakeLibrary);
    ASSERT_EQ(s.AttachHandle(7), S_OK);
    EXPECT_EQ(fake.title, 0);
    EXPECT_EQ(fake.chapter, 0);
    EXPECT_EQ(fake.stopTitle, 1);
    EXPECT_EQ(fake.stopChapter, 0);
    EXPECT_EQ(s.Length(), 60 * 2048);
    EXPECT_EQ(s.DurationMs(), 12345);
}

TEST_F(DVDStreamTest, ChapterAreaKeepsWholeTitleLengthAndDuration)
{
    CDVDStream s(kFakeLibrary);
    ASSERT_EQ(s.AttachHandle(7), S_OK);
    ASSERT_EQ(s.SelectArea(0, 1), S_OK);
    EXPECT_EQ(fake.title, 0);
    EXPECT_EQ(fake.chapter, 1);
    EXPECT_EQ(fake.stopTitle, 0);
    EXPECT_EQ(fake.stopChapter, 2);
    EXPECT_EQ(s.Length(), 60 * 2048);
    EXPECT_EQ(s.DurationMs(), 12345);
}

TEST_F(DVDStreamTest, SeeksInsideTheBufferCostNoLibraryCall)
{
    CDVDStream s(kFakeLibrary);
    ASSERT_EQ(s.AttachHandle(7), S_OK);
    ExpectBytesAt(s, 0, 100);  // fills the 10240-byte buffer
    const int seeks = fake.seeks, reads = fake.reads;
    ASSERT_EQ(s.SetPointer(5000), S_OK);  // forward, still buffered
    EXPECT_EQ(fake.seeks, seeks);
    ExpectBytesAt(s, 5000, 100);
    EXPECT_EQ(fake.reads, reads);
    ASSERT_EQ(s.SetPointer(5099), S_OK);  // one byte back
    EXPECT_EQ(fake.seeks, seeks + 1);
    ExpectBytesAt(s, 5099, 3000);
}

TEST_F(DVDStreamTest, SeekLandingBeforeTargetDropsTheDifference)
{
    for (int64_t before : {int64_t(100), int64_t(25000), int64_t(0)}) {
        SCOPED_TRACE(before);
        fake.seekLandsBefore = before;
        CDVDStream s(kFakeLibrary);
        ASSERT_EQ(s.AttachHandle(7), S_OK);
        ASSERT_EQ(s.SetPointer(30000), S_OK);
        ExpectBytesAt(s, 30000, 4000);
    }
}

TEST_F(DVDStreamTest, FailedLibrarySeekChangesNothing)
{
    CDVDStream s(kFakeLibrary);
    ASSERT_EQ(s.AttachHandle(7), S_OK);
    ExpectBytesAt(s, 0, 10);
    EXPECT_EQ(s.SetPointer(fake.areaBytes + 5000), E_FAIL);
    ExpectBytesAt(s, 10, 10);
}

TEST_F(DVDStreamTest, ReadAtTheEndReturnsWhatItGotThenFailsAndCutsTheLength)
{
    fake.areaBytes = 3 * 10240 + 700;  // shorter than the sector-count length
    CDVDStream s(kFakeLibrary);
    ASSERT_EQ(s.AttachHandle(7), S_OK);
    ASSERT_EQ(s.SetPointer(3 * 10240), S_OK);
    std::vector<uint8_t> buf(2000);
    int32_t got = 0;
    EXPECT_EQ(s.Read(buf.data(), 2000, false, &got), S_OK);
    EXPECT_EQ(got, 700);
    EXPECT_EQ(s.Read(buf.data(), 2000, false, &got), E_FAIL);
    EXPECT_EQ(got, 0);
    int64_t available = 0;
    EXPECT_EQ(s.Size(&available), 3 * 10240 + 700);
    EXPECT_EQ(available, 3 * 10240 + 700);
}

TEST_F(DVDStreamTest, LibraryErrorFailsEveryReadUntilALibrarySeek)
{
    fake.failReadAt = 1;  // the second library read fails
    CDVDStream s(kFakeLibrary);
    ASSERT_EQ(s.AttachHandle(7), S_OK);
    std::vector<uint8_t> buf(10240 + 10);
    int32_t got = 0;
    EXPECT_EQ(s.Read(buf.data(), 10240 + 10, false, &got), S_OK);
    EXPECT_EQ(got, 10240);
    const int reads = fake.reads;
    EXPECT_EQ(s.Read(buf.data(), 10, false, &got), E_FAIL);
    EXPECT_EQ(fake.reads, reads) << "no library call after a failed read";
    ASSERT_EQ(s.SetPointer(20480), S_OK);
    ExpectBytesAt(s, 20480, 10);
}

TEST_F(DVDStreamTest, OwnedHandleClosedWithTheStreamAttachedOneNot)
{
    {
        CDVDStream s(kFakeLibrary);
        ASSERT_TRUE(s.OpenFromPath("/dev/sr0"));
    }
    EXPECT_EQ(fake.closes, 1);
    {
        CDVDStream s(kFakeLibrary);
        ASSERT_EQ(s.AttachHandle(7), S_OK);
    }
    EXPECT_EQ(fake.closes, 1);
}

TEST_F(DVDStreamTest, ReaderFilterNamesTheAttachedDiscAndServesTheTitle)
{
    ComPtr<CDVDReader> reader = MakeCom<CDVDReader>(kFakeLibrary);
    ASSERT_EQ(reader->SetDvdHandle(7), S_OK);
    std::string name;
    ASSERT_EQ(reader->GetCurFile(&name, nullptr), S_OK);
    EXPECT_EQ(name, "DVD");
    EXPECT_EQ(reader->GetCurFile(nullptr, nullptr), E_POINTER);
    ASSERT_EQ(reader->SetArea(1, -1), S_OK);
    int64_t ms = 0;
    ASSERT_EQ(reader->GetDuration(&ms), S_OK);
    EXPECT_EQ(ms, 4000);

    auto pin = QueryInterface<IAsyncReader>(reader->GetPin(0));
    ASSERT_TRUE(pin);
    int64_t total = 0, available = 0;
    ASSERT_EQ(pin->Length(&total, &available), S_OK);
    EXPECT_EQ(total, 4 * 2048);
    std::vector<uint8_t> buf(300);
    ASSERT_EQ(pin->SyncRead(1000, 300, buf.data()), S_OK);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(buf[i], FakeDvd::ByteAt(1000 + i));
    reader.Reset();
    EXPECT_EQ(fake.closes, 0) << "an attached handle survives the filter";
}

}  // namespace

namespace {

// The filter over the real access layer and an authored disc: the stream is the title's
// program stream, it starts with a pack header, and it ends where the title's sectors end.
TEST(DVDReaderOnDisc, ServesTheFirstTitleOfTheSampleDisc)
{
    const std::string iso = std::string(ZDR_TEST_DISCS) + "/sample/disc.iso";
    ComPtr<CDVDReader> reader = MakeCom<CDVDReader>();
    ASSERT_EQ(reader->Load(iso, nullptr), S_OK);
    ASSERT_EQ(reader->SetArea(0, -1), S_OK);
    int64_t ms = 0;
    ASSERT_EQ(reader->GetDuration(&ms), S_OK);
    EXPECT_NEAR(static_cast<double>(ms), 8000.0, 40.0);

    auto pin = QueryInterface<IAsyncReader>(reader->GetPin(0));
    ASSERT_TRUE(pin);
    int64_t total = 0, available = 0;
    ASSERT_EQ(pin->Length(&total, &available), S_OK);
    ASSERT_GT(total, 0);
    EXPECT_EQ(total % 2048, 0);
    std::vector<uint8_t> buf(2048);
    ASSERT_EQ(pin->SyncRead(0, 14, buf.data()), S_OK);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(buf[1], 0x00);
    EXPECT_EQ(buf[2], 0x01);
    EXPECT_EQ(buf[3], 0xBA);
    // The last sector is a pack too, and nothing follows it.
    ASSERT_EQ(pin->SyncRead(total - 2048, 2048, buf.data()), S_OK);
    EXPECT_EQ(buf[3], 0xBA);
    EXPECT_NE(pin->SyncRead(total, 16, buf.data()), S_OK);
}

TEST(DVDReaderOnDisc, LoadOfSomethingThatIsNoDiscFails)
{
    ComPtr<CDVDReader> reader = MakeCom<CDVDReader>();
    EXPECT_EQ(reader->Load("/nonexistent/disc.iso", nullptr), E_FAIL);
}

}  // namespace
