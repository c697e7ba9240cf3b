// The area reader over an in-memory title set: byte stream, seeks, unreadable sectors and
// scrambled sectors.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "dvd/DvdAreaReader.h"

namespace {

// A title set of numbered sectors: each one is a pack header followed by a PES packet whose
// payload is filled with the sector number.
class MemorySource : public DvdBlockSource {
public:
    explicit MemorySource(uint32_t sectors) : m_sectors(sectors) {}

    static void MakeSector(uint32_t n, uint8_t* out)
    {
        DvdAreaReader::MakePaddingPack(out, nullptr);
        out[14 + 3] = 0xE0;  // a video packet instead of padding
        out[14 + 6] = 0x81;  // '10' marker, not scrambled, original
        out[14 + 7] = 0x00;
        out[14 + 8] = 0x00;
        std::memcpy(out + 32, &n, sizeof n);
    }

    bool ReadBlocks(uint32_t sector, int count, uint8_t* out) override
    {
        ++calls;
        for (int i = 0; i < count; ++i) {
            const uint32_t s = sector + uint32_t(i);
            if (s >= m_sectors || bad.count(s))
                return false;
            auto flaky = failOnce.find(s);
            if (flaky != failOnce.end() && flaky->second > 0) {
                --flaky->second;
                return false;
            }
            MakeSector(s, out + size_t(i) * kDvdSector);
            if (scrambled.count(s))
                out[size_t(i) * kDvdSector + 14 + 6] |= 0x10;
        }
        return true;
    }

    std::set<uint32_t> bad;
    std::map<uint32_t, int> failOnce;
    std::set<uint32_t> scrambled;
    int calls = 0;

private:
    uint32_t m_sectors;
};

uint32_t SectorNumber(const uint8_t* sector)
{
    uint32_t n;
    std::memcpy(&n, sector + 32, sizeof n);
    return n;
}

bool IsPadding(const uint8_t* s)
{
    return s[0] == 0 && s[1] == 0 && s[2] == 1 && s[3] == 0xBA && s[14] == 0 && s[15] == 0 && s[16] == 1 &&
           s[17] == 0xBE && ((s[18] << 8) | s[19]) == kDvdSector - 20;
}

std::vector<uint8_t> ReadAll(DvdAreaReader& reader, int chunk)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(static_cast<size_t>(chunk));
    for (;;) {
        const int n = reader.Read(buffer.data(), chunk);
        if (n <= 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}

TEST(DvdAreaReader, DeliversTheRunsInOrderForAnyReadSize)
{
    MemorySource source(1000);
    const std::vector<DvdCellRun> runs = {{100, 104}, {10, 10}, {500, 537}, {10, 12}};
    std::vector<uint32_t> expected;
    for (const DvdCellRun& r : runs)
        for (uint32_t s = r.firstSector; s <= r.lastSector; ++s)
            expected.push_back(s);
    for (const int chunk : {10240, 2048, 1, 777, 4096 * 10 + 3}) {
        DvdAreaReader reader;
        reader.SetArea(&source, runs);
        EXPECT_EQ(reader.SizeBytes(), int64_t(expected.size()) * kDvdSector);
        const std::vector<uint8_t> bytes = ReadAll(reader, chunk);
        ASSERT_EQ(bytes.size(), expected.size() * kDvdSector) << chunk;
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(SectorNumber(bytes.data() + i * kDvdSector), expected[i]) << chunk << " " << i;
        EXPECT_FALSE(reader.Failed());
        EXPECT_EQ(reader.Read(std::vector<uint8_t>(16).data(), 16), 0);  // stays at the end
    }
}

TEST(DvdAreaReader, SeeksLandOnSectorStarts)
{
    MemorySource source(100);
    DvdAreaReader reader;
    reader.SetArea(&source, {{20, 29}, {50, 59}});
    struct Case {
        int64_t offset;
        int64_t reached;
        int64_t sector;  // disc sector read next, -1: none
    };
    const Case cases[] = {
        {0, 0, 20},
        {2047, 0, 20},
        {2048, 2048, 21},
        {10 * 2048 + 5, 10 * 2048, 50},
        {20 * 2048 - 1, 19 * 2048, 59},
        {20 * 2048, 20 * 2048, -1},
        {1 << 30, 20 * 2048, -1},
        {-1, -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reader.Seek(c.offset), c.reached) << c.offset;
        if (c.sector < 0)
            continue;
        uint8_t sector[kDvdSector];
        ASSERT_EQ(reader.Read(sector, kDvdSector), kDvdSector);
        EXPECT_EQ(SectorNumber(sector), uint32_t(c.sector)) << c.offset;
    }
}

TEST(DvdAreaReader, ChangedRunsKeepThePosition)
{
    MemorySource source(100);
    DvdAreaReader reader;
    reader.SetArea(&source, {{0, 9}});
    reader.Seek(4 * 2048);
    reader.ChangeRuns({{0, 5}});
    EXPECT_EQ(ReadAll(reader, 10240).size(), 2u * kDvdSector);
    reader.ChangeRuns({{0, 2}});  // stop point before the position: at the end
    EXPECT_EQ(ReadAll(reader, 10240).size(), 0u);
}

TEST(DvdAreaReader, AShortRunOfBadSectorsIsPaddedAndReported)
{
    MemorySource source(100);
    source.bad = {3, 4, 5, 50};
    source.failOnce = {{7, 1}};  // fails once, then reads: retried, not skipped
    DvdAreaReader reader;
    reader.SetArea(&source, {{0, 9}, {50, 52}});
    const std::vector<uint8_t> bytes = ReadAll(reader, 10240);
    ASSERT_EQ(bytes.size(), 13u * kDvdSector);  // offsets stay those of the area
    for (int s : {3, 4, 5, 10})
        EXPECT_TRUE(IsPadding(bytes.data() + size_t(s) * kDvdSector)) << s;
    for (int s : {0, 2, 6, 7, 9, 11, 12})
        EXPECT_FALSE(IsPadding(bytes.data() + size_t(s) * kDvdSector)) << s;
    EXPECT_EQ(SectorNumber(bytes.data() + 7 * kDvdSector), 7u);
    // The padding pack keeps the previous pack's header (its clock reference).
    EXPECT_EQ(std::memcmp(bytes.data() + 3 * kDvdSector, bytes.data() + 2 * kDvdSector, 13), 0);
    ASSERT_EQ(reader.Skipped().size(), 2u);
    EXPECT_EQ(reader.Skipped()[0].firstSector, 3);
    EXPECT_EQ(reader.Skipped()[0].sectorCount, 3);
    EXPECT_EQ(reader.Skipped()[1].firstSector, 10);
    EXPECT_EQ(reader.Skipped()[1].sectorCount, 1);
    EXPECT_FALSE(reader.Failed());
}

TEST(DvdAreaReader, ALongRunOfBadSectorsEndsTheAreaWithAnError)
{
    struct Case {
        int badRun;
        bool fails;
    };
    for (const Case c : {Case{kDvdMaxBadRun - 1, false}, Case{kDvdMaxBadRun, true}, Case{5000, true}}) {
        MemorySource source(10000);
        for (int s = 0; s < c.badRun; ++s)
            source.bad.insert(uint32_t(1000 + s));
        DvdAreaReader reader;
        reader.SetArea(&source, {{900, 9999}});
        const std::vector<uint8_t> bytes = ReadAll(reader, 10240);
        EXPECT_EQ(reader.Failed(), c.fails) << c.badRun;
        if (c.fails) {
            EXPECT_EQ(reader.Error(), "too many unreadable sectors at sector " + std::to_string(1000 + kDvdMaxBadRun - 1));
            EXPECT_LT(bytes.size(), size_t(9100) * kDvdSector);
            EXPECT_EQ(reader.Read(std::vector<uint8_t>(10240).data(), 10240), -1);  // stays failed
            // Each bad sector costs a bounded number of attempts: no endless retrying.
            EXPECT_LT(source.calls, 4 * kDvdMaxBadRun + 1000);
        } else {
            EXPECT_EQ(bytes.size(), size_t(9100) * kDvdSector);
            EXPECT_EQ(reader.Skipped().size(), 1u);
        }
    }
}

TEST(DvdAreaReader, ASeekPastABadRunReadsOn)
{
    MemorySource source(2000);
    for (uint32_t s = 0; s < 600; ++s)
        source.bad.insert(s);
    DvdAreaReader reader;
    reader.SetArea(&source, {{0, 1999}});
    ReadAll(reader, 10240);
    ASSERT_TRUE(reader.Failed());
    reader.Seek(700 * 2048);
    uint8_t sector[kDvdSector];
    ASSERT_EQ(reader.Read(sector, kDvdSector), kDvdSector);
    EXPECT_EQ(SectorNumber(sector), 700u);
}

TEST(DvdAreaReader, ScrambledSectorsFailWithEncryptedDisc)
{
    for (const bool css : {false, true}) {
        MemorySource source(100);
        source.scrambled = {6};
        DvdAreaReader reader;
        reader.SetCssLibraryPresent(css);
        reader.SetArea(&source, {{0, 99}});
        ReadAll(reader, 10240);
        EXPECT_TRUE(reader.Failed());
        EXPECT_EQ(reader.Error().rfind("encrypted disc", 0), 0u) << reader.Error();
        EXPECT_EQ(reader.Error().find("libdvdcss is not installed") != std::string::npos, !css);
        reader.Seek(50 * 2048);
        EXPECT_TRUE(reader.Failed());  // a seek does not hide it
    }
}

TEST(DvdAreaReader, ScrambleDetection)
{
    uint8_t s[kDvdSector];
    MemorySource::MakeSector(1, s);
    EXPECT_FALSE(DvdAreaReader::IsScrambled(s));
    for (const uint8_t bits : {0x10, 0x20, 0x30}) {
        MemorySource::MakeSector(1, s);
        s[20] |= bits;
        EXPECT_TRUE(DvdAreaReader::IsScrambled(s)) << int(bits);
    }
    // A navigation pack (system header, then private stream 2) is never scrambled.
    uint8_t nav[kDvdSector] = {};
    DvdAreaReader::MakePaddingPack(nav, nullptr);
    const uint8_t systemHeader[] = {0, 0, 1, 0xBB, 0, 2, 0xFF, 0xFF, 0, 0, 1, 0xBF, 0x03, 0xD4, 0xBF};
    std::memcpy(nav + 14, systemHeader, sizeof systemHeader);
    EXPECT_FALSE(DvdAreaReader::IsScrambled(nav));
    // Zeroed and garbage sectors are no packs.
    uint8_t zero[kDvdSector] = {};
    EXPECT_FALSE(DvdAreaReader::IsScrambled(zero));
    uint8_t garbage[kDvdSector];
    for (int i = 0; i < kDvdSector; ++i)
        garbage[i] = uint8_t(i * 131 + 7);
    EXPECT_FALSE(DvdAreaReader::IsScrambled(garbage));
    // The padding pack is a valid pack: a stuffing-free header and one packet to the end.
    uint8_t pad[kDvdSector];
    DvdAreaReader::MakePaddingPack(pad, nullptr);
    EXPECT_TRUE(IsPadding(pad));
    EXPECT_EQ(pad[4] & 0xC4, 0x44);  // '01' and the first SCR marker
    EXPECT_EQ(pad[13] & 0x07, 0);
}

}  // namespace
