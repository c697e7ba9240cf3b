// The cached bit reader: construction rules, cached reads, bit reads with peek, seeking and
// the start-code search, compared with a plain reference where it helps.
#include <gtest/gtest.h>

#include <random>

#include "demux/BaseSplitterFile.h"
#include "demux/TestReaders.h"

namespace {

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 7 + (i >> 8));
    return v;
}

struct File {
    ComPtr<MemoryReader> reader;
    HRESULT hr = E_FAIL;
    std::unique_ptr<CBaseSplitterFile> file;
    File(std::vector<uint8_t> data, int64_t cache = 65536)
        : reader(MakeCom<MemoryReader>(std::move(data))),
          file(std::make_unique<CBaseSplitterFile>(reader.Get(), hr, cache, false, true))
    {
    }
};

// Big-endian bit value of data starting at bit `bit`, n bits (n <= 64).
uint64_t RefBits(const std::vector<uint8_t>& d, size_t bit, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; ++i, ++bit)
        v = v << 1 | (bit / 8 < d.size() ? (d[bit / 8] >> (7 - bit % 8)) & 1 : 0);
    return v;
}

}  // namespace

TEST(BitReader, ConstructionRules)
{
    struct Case {
        const char* what;
        bool streaming;
        bool requireRandom;
        bool allowStreaming;
        HRESULT expected;
    } cases[] = {
        {"random access file", false, true, false, S_OK},
        {"streaming allowed", true, false, true, S_OK},
        {"streaming refused", true, false, false, E_FAIL},
        {"random access required", true, true, true, E_FAIL},
    };
    for (const Case& c : cases) {
        auto reader = MakeCom<MemoryReader>(Pattern(100));
        reader->SetStreaming(c.streaming);
        HRESULT hr = E_UNEXPECTED;
        CBaseSplitterFile f(reader.Get(), hr, 4096, c.requireRandom, c.allowStreaming);
        EXPECT_EQ(hr, c.expected) << c.what;
    }
    HRESULT hr = S_OK;
    CBaseSplitterFile none(nullptr, hr, 4096, false, true);
    EXPECT_EQ(hr, E_UNEXPECTED);
    uint8_t b;
    EXPECT_EQ(none.Read(&b, 1), E_NOINTERFACE);
}

TEST(BitReader, ReadsThroughCacheMatchTheData)
{
    const auto data = Pattern(1000);
    // Cache sizes around the read sizes: partial hits, direct reads of whole cache sizes, refills.
    for (int64_t cache : {0, 1, 16, 64, 999, 1000, 4096}) {
        File f(data, cache);
        ASSERT_EQ(f.hr, S_OK);
        std::mt19937 rng{unsigned(cache)};
        for (int i = 0; i < 200; ++i) {
            const int64_t pos = rng() % 1000;
            const int64_t n = 1 + rng() % std::min<int64_t>(200, 1000 - pos);
            std::vector<uint8_t> got(static_cast<size_t>(n));
            f.file->Seek(pos);
            ASSERT_EQ(f.file->Read(got.data(), n), S_OK) << "cache " << cache;
            ASSERT_TRUE(std::equal(got.begin(), got.end(), data.begin() + pos)) << "cache " << cache << " pos " << pos;
            ASSERT_EQ(f.file->Position(), pos + n);
        }
    }
}

TEST(BitReader, ReadPastTheEndStopsWithoutCopying)
{
    File f(Pattern(10), 16);
    f.file->Seek(8);
    uint8_t buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(f.file->Read(buf, 4), S_FALSE);
    EXPECT_EQ(buf[2], 0xAA);
    f.file->Seek(10);
    EXPECT_EQ(f.file->ReadBits(8), 0u);
    EXPECT_EQ(f.file->ReadBits(64), 0u);
    EXPECT_EQ(f.file->Position(), 10);
    // A read that runs out drops its partial bits: a narrower read after it sees nothing stale.
    f.file->Seek(8);
    EXPECT_EQ(f.file->ReadBits(4), uint64_t(Pattern(10)[8] >> 4));
    EXPECT_EQ(f.file->ReadBits(32), 0u);
    EXPECT_EQ(f.file->ReadBits(4), 0u);
    // A peek that runs out leaves the position alone.
    f.file->Seek(8);
    EXPECT_EQ(f.file->ReadBits(32, true), 0u);
    EXPECT_EQ(f.file->Position(), 8);
    EXPECT_EQ(f.file->ReadBits(8), Pattern(10)[8]);
}

TEST(BitReader, PeekThenReadGivesTheSameBits)
{
    const auto data = Pattern(64);
    // Leading offset in bits, then the width peeked and read.
    const std::pair<int, int> cases[] = {{0, 1}, {0, 4}, {0, 8}, {0, 33}, {0, 64}, {3, 12}, {5, 22},
                                         {7, 57}, {1, 63}, {4, 64}, {6, 40}, {12, 64}};
    for (auto [skip, width] : cases) {
        File f(data);
        f.file->ReadBits(skip);
        const int64_t before = f.file->Position();
        const uint64_t peeked = f.file->ReadBits(width, true);
        EXPECT_EQ(f.file->Position(), before) << skip << "+" << width;
        const uint64_t read = f.file->ReadBits(width);
        EXPECT_EQ(peeked, read) << skip << "+" << width;
        EXPECT_EQ(read, RefBits(data, size_t(skip), width)) << skip << "+" << width;
        // The bits after it follow on.
        EXPECT_EQ(f.file->ReadBits(9), RefBits(data, size_t(skip + width), 9)) << skip << "+" << width;
    }
}

TEST(BitReader, PositionCountsWholeBufferedBytesAsUnread)
{
    File f(Pattern(32));
    f.file->ReadBits(4, true);
    EXPECT_EQ(f.file->Position(), 0);
    f.file->ReadBits(12);
    EXPECT_EQ(f.file->Position(), 2);  // the half byte left of byte 1 does not count
    f.file->ReadBits(8, true);
    EXPECT_EQ(f.file->Position(), 2);
    f.file->AlignToByte();
    EXPECT_EQ(f.file->Position(), 2);
    uint8_t b[2];
    f.file->ReadBits(4);
    ASSERT_EQ(f.file->ReadBytes(b, 2), S_OK);  // the partial byte is dropped
    EXPECT_EQ(b[0], Pattern(32)[3]);
    f.file->ReadBits(16, true);
    ASSERT_EQ(f.file->ReadBytes(b, 1), S_OK);  // whole peeked bytes are read again
    EXPECT_EQ(b[0], Pattern(32)[5]);
}

TEST(BitReader, SeekClampsAndEmptiesTheBitBuffer)
{
    const auto data = Pattern(100);
    const std::pair<int64_t, int64_t> cases[] = {{-5, 0}, {0, 0}, {50, 50}, {100, 100}, {1000, 100}};
    for (auto [to, expected] : cases) {
        File f(data);
        f.file->ReadBits(12);
        f.file->Seek(to);
        EXPECT_EQ(f.file->Position(), expected) << to;
        EXPECT_EQ(f.file->ReadBits(8), expected < 100 ? data[size_t(expected)] : 0u) << to;
    }
}

TEST(BitReader, WaitForDataAndSourceCompletion)
{
    struct Watch : CBaseSplitterFile {
        using CBaseSplitterFile::CBaseSplitterFile;
        int completions = 0;
        void OnSourceComplete() override { ++completions; }
    };
    auto reader = MakeCom<MemoryReader>(Pattern(100));
    reader->SetStreaming(true);
    HRESULT hr;
    Watch f(reader.Get(), hr, 64, false, true);
    ASSERT_EQ(hr, S_OK);
    EXPECT_TRUE(f.IsStreaming());
    EXPECT_EQ(f.WaitForData(100, 0), S_OK);
    EXPECT_EQ(f.WaitForData(101, 0), S_FALSE);
    EXPECT_EQ(f.WaitForData(101, 1), S_FALSE);
    reader->Data().resize(150);
    EXPECT_EQ(f.WaitForData(150, 0), S_OK);  // a growing stream is asked again
    f.ReadBits(8);
    EXPECT_EQ(f.completions, 0);
    reader->SetStreaming(false);
    f.ReadBits(8);
    f.Seek(90);
    f.ReadBits(8);
    EXPECT_EQ(f.completions, 1);
    EXPECT_TRUE(f.IsRandomAccess());

    File plain(Pattern(10));
    EXPECT_EQ(plain.file->WaitForData(1000, 0), S_OK);
    plain.file->Seek(10);
    EXPECT_EQ(plain.file->WaitForData(1, 0), E_FAIL);
}

namespace {

// Reference search: one byte at a time through a 32-bit window.
bool RefStartCode(const std::vector<uint8_t>& d, int64_t from, int64_t limit, uint8_t& code, int64_t& end)
{
    uint32_t w = 0xFFFFFFFF;
    int64_t pos = from;
    for (int64_t used = 0; used < limit && pos < int64_t(d.size()); ++used) {
        w = w << 8 | d[size_t(pos++)];
        if ((w & 0xFFFFFF00) == 0x100) {
            code = uint8_t(w);
            end = pos;
            return true;
        }
    }
    end = pos;
    return false;
}

}  // namespace

TEST(BitReader, NextStartCodeTable)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        int64_t from;
        int64_t limit;
        bool found;
        uint8_t code;
        int64_t end;
    } cases[] = {
        {"at the start", {0, 0, 1, 0xBA, 9}, 0, 65536, true, 0xBA, 4},
        {"after zeros", {0, 0, 0, 0, 1, 0xE0}, 0, 65536, true, 0xE0, 6},
        {"the code byte counts against the limit", {0, 0, 1, 0xB3}, 0, 3, false, 0, 3},
        {"limit just enough", {0, 0, 1, 0xB3}, 0, 4, true, 0xB3, 4},
        {"prefix at the very end", {9, 9, 0, 0, 1}, 0, 65536, false, 0, 5},
        {"no prefix", {1, 2, 3, 0, 1, 0, 0, 2}, 0, 65536, false, 0, 8},
        {"zero limit", {0, 0, 1, 0xBA}, 0, 0, false, 0, 0},
        {"00 00 01 01 is a code", {0, 0, 1, 1, 0, 0, 1, 2}, 0, 65536, true, 1, 4},
    };
    for (const Case& c : cases) {
        File f(c.data, 2);  // a tiny cache: every code crosses a refill
        f.file->Seek(c.from);
        uint8_t code = 0;
        EXPECT_EQ(f.file->NextStartCode(code, c.limit), c.found) << c.what;
        if (c.found) {
            EXPECT_EQ(code, c.code) << c.what;
        }
        EXPECT_EQ(f.file->Position(), c.end) << c.what;
    }
}

TEST(BitReader, NextStartCodeMatchesTheReferenceOnRandomData)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> d(300000);
    for (auto& b : d) {
        // Mostly zeros and ones so that prefixes are frequent and straddle cache edges.
        const unsigned r = rng() % 16;
        b = r < 6 ? 0 : r < 9 ? 1 : uint8_t(rng());
    }
    for (int64_t cache : {7, 4096, 65536}) {
        File f(d, cache);
        for (int64_t limit : {1, 3, 4, 5, 100, 65536}) {
            int64_t pos = int64_t(rng() % 1000);
            f.file->Seek(pos);
            for (int i = 0; i < 2000 && pos < int64_t(d.size()); ++i) {
                uint8_t want = 0, got = 0;
                int64_t end = 0;
                const bool ref = RefStartCode(d, pos, limit, want, end);
                ASSERT_EQ(f.file->NextStartCode(got, limit), ref) << "cache " << cache << " limit " << limit << " at " << pos;
                ASSERT_EQ(f.file->Position(), end) << "cache " << cache << " limit " << limit << " at " << pos;
                if (ref) {
                    ASSERT_EQ(got, want);
                }
                pos = end;
                if (!ref && end == pos && limit == 0)
                    break;
            }
        }
    }
}

TEST(BitReader, NextStartCodeStartsAtBufferedBytes)
{
    // A peek leaves bytes in the bit buffer; the search must still see them.
    File f({0, 0, 1, 0xC0, 0, 0, 0, 1, 0xE0});
    f.file->ReadBits(32, true);
    uint8_t code = 0;
    ASSERT_TRUE(f.file->NextStartCode(code));
    EXPECT_EQ(code, 0xC0);
    // A partial byte is dropped first (here the first of three zeros).
    f.file->ReadBits(3);
    ASSERT_TRUE(f.file->NextStartCode(code));
    EXPECT_EQ(code, 0xE0);
    EXPECT_EQ(f.file->Position(), 9);
}

TEST(BitReader, StartCodeSearchReadsTheSourceInCacheSizedBlocks)
{
    std::vector<uint8_t> d(1 << 20, 0x55);
    File f(d, 65536);
    uint8_t code;
    EXPECT_FALSE(f.file->NextStartCode(code, int64_t(d.size())));
    EXPECT_LE(f.reader->readCalls, 17);
}
