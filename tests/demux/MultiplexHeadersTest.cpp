// Pack, system, PES, transport-stream and PVA headers.
#include <gtest/gtest.h>

#include "demux/ParserHarness.h"

namespace {

std::vector<uint8_t> Pack2(uint64_t scr, unsigned ext, unsigned rate, unsigned stuffing, bool marker = true)
{
    BitWriter w;
    w.Put(1, 2).Put(scr >> 30, 3).Put(1, 1).Put((scr >> 15) & 0x7FFF, 15).Put(marker, 1).Put(scr & 0x7FFF, 15).Put(1, 1);
    w.Put(ext, 9).Put(1, 1).Put(rate, 22).Put(3, 2).Put(0x1F, 5).Put(stuffing, 3);
    for (unsigned i = 0; i < stuffing; ++i)
        w.Put(0xFF, 8);
    w.Put(0xEE, 8);
    return w.Done();
}

std::vector<uint8_t> Pack1(uint64_t scr, unsigned rate)
{
    BitWriter w;
    w.TimeStamp(2, scr).Put(1, 1).Put(rate, 22).Put(1, 1);
    return w.Done();
}

}  // namespace

TEST(MultiplexHeaders, PackHeaderTable)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool ok;
        int kind;
        int64_t scr;
        int64_t bitrate;
        int64_t end;
    } cases[] = {
        {"MPEG-2", Pack2(90000, 0, 25200, 0), true, 2, 10000000, 25200 * 400, 10},
        {"MPEG-2 with extension and stuffing", Pack2(90000, 150, 25200, 3), true, 2, 10000055, 25200 * 400, 13},
        {"MPEG-1 keeps 90 kHz", Pack1(90000, 1000), true, 1, 90000, 1000 * 400, 8},
        {"first byte neither kind", {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0, 0, 0, 0},
        {"0x80 neither kind", {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0, 0, 0, 0},
        {"MPEG-2 bad marker", Pack2(90000, 0, 25200, 0, false), false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        PackHeader p;
        ASSERT_EQ(h->ReadPackHeader(p), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(p.kind, c.kind) << c.what;
        EXPECT_EQ(p.scr, c.scr) << c.what;
        EXPECT_EQ(p.bitrate, c.bitrate) << c.what;
        EXPECT_EQ(h->Position(), c.end) << c.what;
    }
    // Cut anywhere before its last marker, a pack header is refused.
    const auto full = Pack2(90000, 0, 25200, 0);
    EXPECT_EQ(AcceptedPrefixes(std::vector<uint8_t>(full.begin(), full.begin() + 9),
                               [](CBaseSplitterFileEx& f) { PackHeader p; return f.ReadPackHeader(p); }), 0);
}

TEST(MultiplexHeaders, SystemHeader)
{
    BitWriter w;
    w.Put(12, 16).Put(1, 1).Put(25200, 22).Put(1, 1).Put(1, 6).Put(0, 1).Put(0, 1).Put(1, 1).Put(1, 1).Put(1, 1);
    w.Put(1, 5).Put(0x7F, 8);
    w.Bytes({0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0x42});
    auto data = w.Done();
    {
        ParserHarness h(data);
        SystemHeader s;
        ASSERT_TRUE(h->ReadSystemHeader(s));
        EXPECT_EQ(s.rateBound, 25200u);
        EXPECT_EQ(s.audioBound, 1u);
        EXPECT_EQ(s.videoBound, 1u);
        EXPECT_EQ(h->Position(), 14);  // both 3-byte entries read
    }
    data[4] &= 0xFE;  // the marker after the rate bound
    ParserHarness h(data);
    SystemHeader s;
    EXPECT_FALSE(h->ReadSystemHeader(s));
}

namespace {

struct Pes2 {
    unsigned length = 100;
    unsigned scrambling = 0;
    unsigned flags = 2;  // PTS_DTS_flags
    unsigned hdl = 5;
    unsigned ptsPrefix = 2;
    bool ptsMarker = true;
    unsigned dtsPrefix = 1;

    std::vector<uint8_t> Bytes() const
    {
        BitWriter w;
        w.Put(length, 16).Put(2, 2).Put(scrambling, 2).Put(0, 4).Put(flags, 2).Put(0, 6).Put(hdl, 8);
        unsigned used = 0;
        if (flags & 2) {
            if (ptsMarker)
                w.TimeStamp(ptsPrefix, 90000);
            else
                w.Put(ptsPrefix, 4).Put(0, 3).Put(0, 1).Put(0, 32);
            used += 5;
        }
        if (flags & 1) {
            w.TimeStamp(dtsPrefix, 45000);
            used += 5;
        }
        for (unsigned i = used; i < hdl; ++i)
            w.Put(0xFF, 8);
        w.Bytes({0, 0, 1, 0xB3});
        return w.Done();
    }
};

}  // namespace

TEST(MultiplexHeaders, PesHeaderTable)
{
    auto pes2 = [](auto change) {
        Pes2 p;
        change(p);
        return p.Bytes();
    };
    auto mpeg1 = [](auto build) {
        BitWriter w;
        build(w);
        w.Bytes({0, 0, 1, 0xB3});
        return w.Done();
    };
    struct Case {
        const char* what;
        uint8_t code;
        std::vector<uint8_t> data;
        bool ok;
        int kind;
        unsigned length;
        bool hasPts;
        int64_t pts;
        bool hasDts;
        int64_t end;  // position after the header
    } cases[] = {
        {"MPEG-2 PTS", 0xE0, pes2([](Pes2&) {}), true, 2, 92, true, 10000000, false, 10},
        {"MPEG-2 PTS and DTS", 0xE0, pes2([](Pes2& p) { p.flags = 3, p.hdl = 10, p.ptsPrefix = 3; }), true, 2, 87,
         true, 10000000, true, 15},
        {"PTS prefix 0011 without DTS", 0xE0, pes2([](Pes2& p) { p.ptsPrefix = 3; }), false},
        {"PTS prefix 0010 before a DTS", 0xE0, pes2([](Pes2& p) { p.flags = 3, p.hdl = 10; }), false},
        {"bad DTS prefix", 0xE0, pes2([](Pes2& p) { p.flags = 3, p.hdl = 10, p.ptsPrefix = 3, p.dtsPrefix = 3; }),
         false},
        {"bad PTS marker", 0xC0, pes2([](Pes2& p) { p.ptsMarker = false; }), false},
        {"extra header data skipped", 0xBD, pes2([](Pes2& p) { p.hdl = 8; }), true, 2, 89, true, 10000000, false, 13},
        {"header data shorter than its stamps", 0xBD, pes2([](Pes2& p) { p.hdl = 2; }), false},
        {"length shorter than the header", 0xBD, pes2([](Pes2& p) { p.length = 4; }), false},
        {"length 0 stays unknown", 0xE0, pes2([](Pes2& p) { p.length = 0; }), true, 2, 0, true, 10000000, false, 10},
        {"no stamps", 0xE0, pes2([](Pes2& p) { p.flags = 0, p.hdl = 0; }), true, 2, 97, false, 0, false, 5},
        {"0xFD accepted", 0xFD, pes2([](Pes2&) {}), true, 2, 92, true, 10000000, false, 10},
        {"pack start code refused", 0xBA, pes2([](Pes2&) {}), false},
        {"MPEG-1 without stamps", 0xC0, mpeg1([](BitWriter& w) { w.Put(50, 16).Put(0x0F, 8); }), true, 1, 49, false,
         0, false, 3},
        {"MPEG-1 PTS", 0xC0, mpeg1([](BitWriter& w) { w.Put(50, 16).TimeStamp(2, 90000); }), true, 1, 45, true,
         10000000, false, 7},
        {"MPEG-1 PTS of zero still counts its bytes", 0xC0,
         mpeg1([](BitWriter& w) { w.Put(50, 16).TimeStamp(2, 0); }), true, 1, 45, true, 0, false, 7},
        {"MPEG-1 STD buffer, PTS and DTS", 0xE0,
         mpeg1([](BitWriter& w) { w.Put(50, 16).Put(1, 2).Put(1, 1).Put(46, 13).TimeStamp(3, 90000).TimeStamp(1, 9); }),
         true, 1, 38, true, 10000000, true, 14},
        {"MPEG-1 stuffing", 0xC0, mpeg1([](BitWriter& w) { w.Put(50, 16).Bytes({0xFF, 0xFF, 0x0F}); }), true, 1, 47,
         false, 0, false, 5},
        {"MPEG-1 neither stamp nor 1111", 0xC0, mpeg1([](BitWriter& w) { w.Put(50, 16).Put(0x0E, 8); }), false},
        {"padding keeps its length", 0xBE, mpeg1([](BitWriter& w) { w.Put(50, 16); }), true, 0, 50, false, 0, false, 2},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        PesHeader p;
        ASSERT_EQ(h->ReadPesHeader(p, c.code), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(p.kind, c.kind) << c.what;
        EXPECT_EQ(p.length, c.length) << c.what;
        EXPECT_EQ(p.hasPts, c.hasPts) << c.what;
        if (c.hasPts) {
            EXPECT_EQ(p.pts, c.pts) << c.what;
        }
        EXPECT_EQ(p.hasDts, c.hasDts) << c.what;
        EXPECT_EQ(h->Position(), c.end) << c.what;
    }

    Pes2 scrambled;
    scrambled.scrambling = 1;
    ParserHarness h(scrambled.Bytes());
    PesHeader p;
    ASSERT_TRUE(h->ReadPesHeader(p, 0xE0));
    EXPECT_EQ(p.scrambling, 1u);

    const auto full = Pes2().Bytes();
    EXPECT_EQ(AcceptedPrefixes(std::vector<uint8_t>(full.begin(), full.begin() + 10),
                               [](CBaseSplitterFileEx& f) { PesHeader p; return f.ReadPesHeader(p, 0xE0); }), 0);
}

namespace {

std::vector<uint8_t> TsPacket(unsigned pid, bool start, int adaptationLength = -1, bool pcr = false, int extra = 0)
{
    BitWriter w;
    w.Put(0x47, 8).Put(0, 1).Put(start, 1).Put(0, 1).Put(pid, 13).Put(0, 2).Put(adaptationLength >= 0, 1).Put(1, 1).Put(5, 4);
    int used = 4;
    if (adaptationLength >= 0) {
        w.Put(unsigned(adaptationLength), 8);
        ++used;
        int field = 0;
        if (adaptationLength > 0) {
            w.Put(0, 3).Put(pcr, 1).Put(0, 4);
            field = 1;
            if (pcr) {
                w.Put(900000, 33).Put(0x3F, 6).Put(27, 9);
                field += 6;
            }
        }
        for (; field < adaptationLength; ++field)
            w.Put(0xFF, 8);
        used += std::max(adaptationLength, 0);
    }
    for (; used < 188; ++used)
        w.Put(0xAA, 8);
    auto v = w.Done();
    v.resize(188 + size_t(extra), 0xAA);
    return v;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> v;
    for (const auto& p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

}  // namespace

TEST(MultiplexHeaders, TsPacketHeaderTable)
{
    const std::vector<uint8_t> junk = {1, 2, 3, 0x47, 5};
    std::vector<uint8_t> m2ts;
    for (int i = 0; i < 3; ++i) {
        m2ts.insert(m2ts.end(), {0x10, 0x20, 0x30, 0x40});
        const auto p = TsPacket(0x100, true);
        m2ts.insert(m2ts.end(), p.begin(), p.end());
    }
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool ok;
        unsigned pid;
        int payloadBytes;
        int64_t pcr;
        int64_t next;
        int packetLength;
    } cases[] = {
        {"plain", Concat({TsPacket(0x11, true), TsPacket(0x11, false)}), true, 0x11, 184, 0, 188, 188},
        {"adaptation field with PCR", Concat({TsPacket(0x100, false, 7, true), TsPacket(0x100, false)}), true, 0x100,
         176, (900000LL * 300 + 27) * 10 / 27, 188, 188},
        {"adaptation field filling the packet", Concat({TsPacket(0x100, false, 183), TsPacket(0x100, false)}), true,
         0x100, 0, 0, 188, 188},
        {"adaptation field too long", Concat({TsPacket(0x100, false, 184), TsPacket(0x100, false)}), false},
        {"resynchronised after junk", Concat({junk, TsPacket(0x20, true), TsPacket(0x20, true)}), true, 0x20, 184, 0,
         5 + 188, 188},
        {"192-byte packets", m2ts, true, 0x100, 184, 0, 4 + 192, 192},
        {"no sync at all", std::vector<uint8_t>(600, 0x46), false},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        TsPacketHeader t;
        ASSERT_EQ(h->ReadTsHeader(t, true), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(t.pid, c.pid) << c.what;
        EXPECT_EQ(t.payloadBytes, c.payloadBytes) << c.what;
        EXPECT_EQ(t.pcr, c.pcr) << c.what;
        EXPECT_EQ(t.next, c.next) << c.what;
        EXPECT_EQ(h->tsPacketLength(), c.packetLength) << c.what;
        EXPECT_EQ(h->Position(), t.next - c.packetLength + 4 + (t.adaptationField ? 1 + int(t.adaptationLength) : 0))
            << c.what;
    }
}

TEST(MultiplexHeaders, TsSectionHeader)
{
    auto section = [](unsigned pointer, unsigned zero) {
        BitWriter w;
        w.Put(pointer, 8);
        for (unsigned i = 0; i < pointer; ++i)
            w.Put(0xFF, 8);
        w.Put(0, 8).Put(1, 1).Put(zero, 1).Put(3, 2).Put(13, 12).Put(1, 16).Put(3, 2).Put(4, 5).Put(1, 1).Put(0, 8).Put(0, 8);
        return w.Done();
    };
    for (unsigned pointer : {0u, 3u}) {
        ParserHarness h(section(pointer, 0));
        TsSectionHeader s;
        ASSERT_TRUE(h->ReadTsSection(s)) << pointer;
        EXPECT_EQ(s.sectionLength, 13u);
        EXPECT_EQ(s.version, 4u);
        EXPECT_EQ(h->Position(), 9 + pointer);
    }
    ParserHarness h(section(0, 1));
    TsSectionHeader s;
    EXPECT_FALSE(h->ReadTsSection(s));
}

TEST(MultiplexHeaders, PvaHeaderTable)
{
    auto pva = [](unsigned stream, bool pts, unsigned length, unsigned post = 0) {
        BitWriter w;
        w.Put(0x4156, 16).Put(stream, 8).Put(7, 8).Put(0x55, 8).Put(0, 3).Put(pts, 1).Put(0, 2).Put(post, 2).Put(length, 16);
        if (pts)
            w.Put(90000, 32);
        for (unsigned i = 0; i < post; ++i)
            w.Put(0, 8);
        for (unsigned i = 0; i < 16; ++i)
            w.Put(0x11, 8);
        return w.Done();
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool ok;
        unsigned stream;
        bool hasPts;
        int64_t pts;
        unsigned length;
    } cases[] = {
        {"video with PTS", pva(1, true, 100), true, 1, true, 10000000, 96},
        {"video with post bytes", pva(1, true, 100, 2), true, 1, true, 10000000, 94},
        {"audio without PES", pva(2, false, 100), true, 2, false, 0, 100},
        {"resynchronised", Concat({{9, 9, 9}, pva(1, false, 10)}), true, 1, false, 0, 10},
        {"length above 6136", pva(1, false, 6137), false},
        {"length smaller than the time stamp", pva(1, true, 2), false},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        PvaHeader p;
        ASSERT_EQ(h->ReadPvaHeader(p, true), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(p.streamId, c.stream) << c.what;
        EXPECT_EQ(bool(p.hasPts), c.hasPts) << c.what;
        if (c.hasPts) {
            EXPECT_EQ(p.pts, c.pts) << c.what;
        }
        EXPECT_EQ(p.length, c.length) << c.what;
    }
}
