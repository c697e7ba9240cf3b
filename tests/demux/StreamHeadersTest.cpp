// Elementary-stream header parsers and the media descriptions they build.
#include <gtest/gtest.h>

#include <climits>

#include "demux/ParserHarness.h"

namespace {

struct Seq {
    unsigned width = 720, height = 576, aspect = 3, frc = 3, bitrate = 15000, marker = 1;
    bool intra = false;
    bool ext = false;
    unsigned profile = 4, level = 8, brExt = 0, frn = 0, frd = 0;

    std::vector<uint8_t> Bytes() const
    {
        BitWriter w;
        w.Bytes({0, 0, 1, 0xB3});
        w.Put(width, 12).Put(height, 12).Put(aspect, 4).Put(frc, 4).Put(bitrate, 18).Put(marker, 1).Put(112, 10).Put(0, 1);
        w.Put(intra, 1);
        if (intra)
            for (int i = 0; i < 64; ++i)
                w.Put(16 + i, 8);
        w.Put(0, 1);
        if (ext) {
            w.Bytes({0, 0, 1, 0xB5});
            w.Put(1, 4).Put(0, 1).Put(profile, 3).Put(level, 4).Put(0, 1).Put(1, 2).Put(0, 2).Put(0, 2).Put(brExt, 12);
            w.Put(1, 1).Put(0, 8).Put(0, 1).Put(frn, 2).Put(frd, 5);
        }
        w.Bytes({0, 0, 1, 0xB8, 0, 0, 0, 0});
        return w.Done();
    }
};

}  // namespace

TEST(StreamHeaders, SequenceHeaderTable)
{
    auto seq = [](auto change) {
        Seq s;
        change(s);
        return s;
    };
    struct Case {
        const char* what;
        Seq s;
        bool ok;
        int arX, arY;
        int32_t frameDuration;
        int32_t bitrate;
        bool mpeg2;
    } cases[] = {
        {"MPEG-1 aspect 3 at 720x576: 1024:576", seq([](Seq&) {}), true, 16, 9, 400000, 6000000, false},
        {"MPEG-1 aspect 3 at 720x480: 1024:480", seq([](Seq& s) { s.height = 480; }), true, 32, 15, 400000, 6000000,
         false},
        {"MPEG-1 aspect 1 is square pels", seq([](Seq& s) { s.aspect = 1, s.width = 352, s.height = 288; }), true, 11,
         9, 400000, 6000000, false},
        {"MPEG-2 aspect 3 is 16:9", seq([](Seq& s) { s.ext = true; }), true, 16, 9, 400000, 6000000, true},
        {"MPEG-2 aspect 2 is 4:3", seq([](Seq& s) { s.ext = true, s.aspect = 2; }), true, 4, 3, 400000, 6000000, true},
        {"MPEG-2 aspect 4 is 221:100", seq([](Seq& s) { s.ext = true, s.aspect = 4; }), true, 221, 100, 400000, 6000000,
         true},
        {"MPEG-2 aspect 1 at 720x576 is 5:4", seq([](Seq& s) { s.ext = true, s.aspect = 1; }), true, 5, 4, 400000,
         6000000, true},
        {"29.97 frames", seq([](Seq& s) { s.ext = true, s.frc = 4; }), true, 16, 9, 333666, 6000000, true},
        {"frame rate extension doubles the duration", seq([](Seq& s) { s.ext = true, s.frc = 4, s.frn = 1; }), true, 16,
         9, 667333, 6000000, true},
        {"bit-rate code 0x3FFFFFFF means none",
         seq([](Seq& s) { s.ext = true, s.bitrate = 0x3FFFF, s.brExt = 0xFFF; }), true, 16, 9, 400000, 0, true},
        {"the largest codes are clamped", seq([](Seq& s) { s.ext = true, s.bitrate = 0x3FFFE, s.brExt = 0xFFF; }), true,
         16, 9, 400000, INT32_MAX, true},
        {"bit-rate extension", seq([](Seq& s) { s.ext = true, s.bitrate = 1, s.brExt = 1; }), true, 16, 9, 400000,
         (1 | 1 << 18) * 400, true},
        {"missing marker", seq([](Seq& s) { s.marker = 0; }), false},
    };
    for (const Case& c : cases) {
        const auto bytes = c.s.Bytes();
        ParserHarness h(bytes);
        SequenceHeader sh;
        CMediaType mt;
        ASSERT_EQ(h->ReadSequenceHeader(sh, int64_t(bytes.size()), &mt), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(sh.arX, c.arX) << c.what;
        EXPECT_EQ(sh.arY, c.arY) << c.what;
        EXPECT_EQ(sh.frameDuration, c.frameDuration) << c.what;
        EXPECT_EQ(sh.bitrate, c.bitrate) << c.what;
        EXPECT_EQ(mt.majortype, MEDIATYPE_Video) << c.what;
        const size_t seqLen = 12, extLen = c.mpeg2 ? 10 : 0;
        if (c.mpeg2) {
            EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MPEG2_VIDEO) << c.what;
            ASSERT_EQ(mt.formattype, FORMAT_MPEG2Video) << c.what;
            ASSERT_EQ(mt.format.size(), offsetof(Mpeg2VideoInfo, dwSequenceHeader) + seqLen + extLen) << c.what;
            const auto* vi = mt.FormatAs<Mpeg2VideoInfo>();
            EXPECT_EQ(vi->hdr.dwPictAspectRatioX, uint32_t(c.arX)) << c.what;
            EXPECT_EQ(vi->hdr.dwPictAspectRatioY, uint32_t(c.arY)) << c.what;
            EXPECT_EQ(vi->hdr.AvgTimePerFrame, c.frameDuration) << c.what;
            EXPECT_EQ(vi->hdr.dwBitRate, uint32_t(c.bitrate)) << c.what;
            EXPECT_EQ(vi->hdr.bmiHeader.biWidth, int32_t(c.s.width)) << c.what;
            EXPECT_EQ(vi->hdr.bmiHeader.biHeight, int32_t(c.s.height)) << c.what;
            EXPECT_EQ(vi->dwProfile, 4u) << c.what;
            EXPECT_EQ(vi->dwLevel, 8u) << c.what;
            EXPECT_EQ(vi->cbSequenceHeader, seqLen + extLen) << c.what;
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + long(seqLen + extLen),
                                   mt.format.begin() + offsetof(Mpeg2VideoInfo, dwSequenceHeader)))
                << c.what;
        } else {
            EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MPEG1Payload) << c.what;
            ASSERT_EQ(mt.formattype, FORMAT_MPEGVideo) << c.what;
            ASSERT_EQ(mt.format.size(), offsetof(Mpeg1VideoInfo, bSequenceHeader) + seqLen) << c.what;
            const auto* vi = mt.FormatAs<Mpeg1VideoInfo>();
            EXPECT_EQ(vi->hdr.bmiHeader.biXPelsPerMeter, int32_t(c.s.width) * c.arY) << c.what;
            EXPECT_EQ(vi->hdr.bmiHeader.biYPelsPerMeter, int32_t(c.s.height) * c.arX) << c.what;
            EXPECT_EQ(vi->hdr.AvgTimePerFrame, c.frameDuration) << c.what;
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + long(seqLen),
                                   mt.format.begin() + offsetof(Mpeg1VideoInfo, bSequenceHeader)))
                << c.what;
        }
    }
}

TEST(StreamHeaders, SequenceHeaderSearchAndMatrices)
{
    Seq s;
    s.intra = true;
    s.ext = true;
    auto bytes = s.Bytes();
    bytes.insert(bytes.begin(), {0xAB, 0, 0, 1, 0x20, 9, 9});  // another start code first
    {
        ParserHarness h(bytes);
        SequenceHeader sh;
        CMediaType mt;
        ASSERT_TRUE(h->ReadSequenceHeader(sh, int64_t(bytes.size()), &mt));
        EXPECT_EQ(sh.intraMatrix[63], 16 + 63);
        EXPECT_EQ(mt.FormatAs<Mpeg2VideoInfo>()->cbSequenceHeader, 76u + 10u);
    }
    {
        ParserHarness h(bytes);
        SequenceHeader sh;
        EXPECT_FALSE(h->ReadSequenceHeader(sh, 4));  // no start code within the search length
    }
    const auto plain = Seq().Bytes();
    EXPECT_EQ(AcceptedPrefixes(std::vector<uint8_t>(plain.begin(), plain.begin() + 12),
                               [](CBaseSplitterFileEx& f) {
                                   SequenceHeader sh;
                                   CMediaType mt;
                                   return f.ReadSequenceHeader(sh, 100, &mt);
                               }),
              0);
}

namespace {

std::vector<uint8_t> MpegAudio(unsigned version, unsigned layerBits, unsigned br, unsigned freq, unsigned mode,
                               unsigned emphasis = 0, unsigned padding = 0, unsigned syncBits = 11)
{
    BitWriter w;
    w.Put((1u << syncBits) - 1, syncBits).Put(version, 13 - syncBits > 2 ? 2 : 2);
    w.Put(layerBits, 2).Put(1, 1).Put(br, 4).Put(freq, 2).Put(padding, 1).Put(0, 1).Put(mode, 2).Put(0, 2);
    w.Put(0, 1).Put(1, 1).Put(emphasis, 2);
    for (int i = 0; i < 8; ++i)
        w.Put(0x55, 8);
    return w.Done();
}

}  // namespace

TEST(StreamHeaders, MpegAudioTable)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool allow25;
        bool ok;
        int layer, rate, frameSize, channels;
        int64_t frameDuration;
        uint16_t tag;
    } cases[] = {
        {"Layer II 192k 48 kHz stereo", MpegAudio(3, 2, 10, 1, 0), false, true, 2, 48000, 576, 2, 240000, 0x50},
        {"Layer II 32k stereo refused", MpegAudio(3, 2, 1, 1, 0), false, false},
        {"Layer II 32k mono", MpegAudio(3, 2, 1, 1, 3), false, true, 2, 48000, 96, 1, 240000, 0x50},
        {"Layer II 80k stereo refused", MpegAudio(3, 2, 5, 1, 1), false, false},
        {"Layer II 224k mono refused", MpegAudio(3, 2, 11, 1, 3), false, false},
        {"Layer II 224k joint stereo", MpegAudio(3, 2, 11, 1, 1), false, true, 2, 48000, 672, 2, 240000, 0x50},
        {"Layer I 384k", MpegAudio(3, 3, 12, 1, 0), false, true, 1, 48000, 384, 2, 80000, 0x50},
        {"Layer III 128k 44.1 kHz padded", MpegAudio(3, 1, 9, 0, 0, 0, 1), false, true, 3, 44100, 418, 2, 261224, 0x55},
        {"MPEG-2 Layer III 64k 24 kHz", MpegAudio(2, 1, 8, 1, 0), false, true, 3, 24000, 192, 2, 240000, 0x55},
        {"MPEG-2.5 needs allowVersion25", MpegAudio(0, 1, 8, 0, 0), false, false},
        {"MPEG-2.5 allowed", MpegAudio(0, 1, 8, 0, 0), true, true, 3, 11025, 417, 2, 522448, 0x55},
        {"layer bits 00", MpegAudio(3, 0, 10, 1, 0), false, false},
        {"frequency index 3", MpegAudio(3, 2, 10, 3, 0), false, false},
        {"bit-rate index 15", MpegAudio(3, 2, 15, 1, 0), false, false},
        {"free format (index 0)", MpegAudio(3, 2, 0, 1, 0), false, false},
        {"emphasis 2", MpegAudio(3, 2, 10, 1, 0, 2), false, false},
        {"reserved version 1", MpegAudio(1, 2, 10, 1, 0), true, false},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        MpegAudioHeader a;
        CMediaType mt;
        ASSERT_EQ(h->ReadMpegAudio(a, int64_t(c.data.size()), c.allow25, &mt), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(int(a.layer), c.layer) << c.what;
        EXPECT_EQ(a.sampleRate, c.rate) << c.what;
        EXPECT_EQ(a.frameSize, c.frameSize) << c.what;
        EXPECT_EQ(a.frameDuration, c.frameDuration) << c.what;
        ASSERT_EQ(mt.formattype, FORMAT_WaveFormatEx) << c.what;
        const auto* wfx = mt.FormatAs<WaveFormatEx>();
        EXPECT_EQ(wfx->wFormatTag, c.tag) << c.what;
        EXPECT_EQ(mt.subtype, GuidFromFourCC(c.tag)) << c.what;
        EXPECT_EQ(wfx->nChannels, c.channels) << c.what;
        EXPECT_EQ(wfx->nSamplesPerSec, uint32_t(c.rate)) << c.what;
        EXPECT_EQ(wfx->nBlockAlign, c.frameSize) << c.what;
        EXPECT_EQ(wfx->nAvgBytesPerSec, uint32_t(a.bitrate / 8)) << c.what;
        EXPECT_EQ(mt.format.size(), c.tag == 0x50 ? 40u : 18u) << c.what;
        EXPECT_EQ(wfx->cbSize, c.tag == 0x50 ? 22 : 0) << c.what;
        if (c.tag == 0x50) {
            const auto* m = mt.FormatAs<Mpeg1WaveFormat>();
            EXPECT_EQ(m->fwHeadLayer, 1 << (c.layer - 1)) << c.what;
            EXPECT_EQ(m->dwHeadBitrate, uint32_t(a.bitrate)) << c.what;
            EXPECT_EQ(m->fwHeadFlags, 16 | 4) << c.what;  // MPEG-1 id, original; no CRC
        }
    }

    // The sync is searched within the length; fewer than 4 bytes left fail.
    auto junk = MpegAudio(3, 2, 10, 1, 0);
    junk.insert(junk.begin(), {0x12, 0xFF, 0x00});
    {
        ParserHarness h(junk);
        MpegAudioHeader a;
        EXPECT_TRUE(h->ReadMpegAudio(a, int64_t(junk.size()), false));
    }
    {
        ParserHarness h(junk);
        MpegAudioHeader a;
        EXPECT_FALSE(h->ReadMpegAudio(a, 6, false));
    }
}

TEST(StreamHeaders, AacTable)
{
    auto adts = [](unsigned layer, unsigned freq, unsigned length, bool crc) {
        BitWriter w;
        w.Put(0xFFF, 12).Put(0, 1).Put(layer, 2).Put(!crc, 1).Put(1, 2).Put(freq, 4).Put(0, 1).Put(2, 3);
        w.Put(0, 4).Put(length, 13).Put(0x7FF, 11).Put(0, 2);
        if (crc)
            w.Put(0x1234, 16);
        for (int i = 0; i < 8; ++i)
            w.Put(0, 8);
        return w.Done();
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool ok;
        int payload;
    } cases[] = {
        {"LC 48 kHz stereo", adts(0, 3, 300, false), true, 293},
        {"with CRC", adts(0, 3, 300, true), true, 291},
        {"layer not 0", adts(1, 3, 300, false), false},
        {"frequency index 12", adts(0, 12, 300, false), false},
        {"frame no longer than its header", adts(0, 3, 7, false), false},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        AacHeader a;
        CMediaType mt;
        ASSERT_EQ(h->ReadAac(a, int64_t(c.data.size()), &mt), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(a.payloadLength, c.payload) << c.what;
        EXPECT_EQ(a.frameDuration, 213333) << c.what;
        EXPECT_EQ(a.bytesPerSecond, 300 * 48000 / 1024) << c.what;
        ASSERT_EQ(mt.format.size(), 20u) << c.what;
        const auto* wfx = mt.FormatAs<WaveFormatEx>();
        EXPECT_EQ(wfx->wFormatTag, 0xFF);
        EXPECT_EQ(wfx->nChannels, 2);
        EXPECT_EQ(wfx->cbSize, 2);
        EXPECT_EQ(mt.format[18], 0x11);
        EXPECT_EQ(mt.format[19], 0x90);
    }
    uint8_t config[5];
    ASSERT_EQ(MakeAacConfig(config, -1, 24000, 2), 5);  // SBR: the doubled rate follows
    EXPECT_EQ(std::vector<uint8_t>(config, config + 5), (std::vector<uint8_t>{0x13, 0x10, 0x56, 0xE5, 0x98}));
}

namespace {

std::vector<uint8_t> Ac3(unsigned fscod, unsigned frmsizecod, unsigned bsid, unsigned acmod, unsigned lfe)
{
    BitWriter w;
    w.Put(0x0B77, 16).Put(0, 16).Put(fscod, 2).Put(frmsizecod, 6).Put(bsid, 5).Put(0, 3).Put(acmod, 3);
    if ((acmod & 1) && acmod != 1)
        w.Put(1, 2);
    if (acmod & 4)
        w.Put(1, 2);
    if (acmod == 2)
        w.Put(2, 2);
    w.Put(lfe, 1);
    for (int i = 0; i < 8; ++i)
        w.Put(0, 8);
    return w.Done();
}

}  // namespace

TEST(StreamHeaders, Ac3Table)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool ok;
        int channels, rate, avgBytes, blockAlign;
    } cases[] = {
        {"5.1 448k 48 kHz", Ac3(0, 30, 8, 7, 1), true, 6, 48000, 56000, 1792},
        {"stereo 192k with surround mode", Ac3(0, 20, 8, 2, 0), true, 2, 48000, 24000, 768},
        {"stereo with LFE after the surround mode", Ac3(0, 20, 8, 2, 1), true, 3, 48000, 24000, 768},
        {"mono 44.1 kHz", Ac3(1, 8, 8, 1, 0), true, 1, 44100, 8000, 278},
        {"bsid 9 halves the rate", Ac3(0, 30, 9, 7, 1), true, 6, 24000, 56000, 3584},
        {"bsid 10 at 48 kHz is 12 kHz", Ac3(0, 30, 10, 7, 1), true, 6, 12000, 56000, 7168},
        {"bsid 11 divides by eight", Ac3(0, 30, 11, 7, 1), true, 6, 6000, 56000, 14336},
        {"frmsizecod 38 is 768k", Ac3(0, 38, 8, 7, 1), true, 6, 48000, 96000, 3072},
        {"frmsizecod 47 is 1280k", Ac3(0, 47, 8, 7, 1), true, 6, 48000, 160000, 5120},
        {"frmsizecod 48", Ac3(0, 48, 8, 7, 1), false},
        {"fscod 3", Ac3(3, 28, 8, 7, 1), false},
        {"bsid 17", Ac3(0, 30, 17, 7, 1), false},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        Ac3Header a;
        CMediaType mt;
        ASSERT_EQ(h->ReadAc3(a, int64_t(c.data.size()), &mt), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_DOLBY_AC3) << c.what;
        ASSERT_EQ(mt.format.size(), 18u) << c.what;
        const auto* wfx = mt.FormatAs<WaveFormatEx>();
        EXPECT_EQ(wfx->wFormatTag, 0x2000) << c.what;
        EXPECT_EQ(wfx->nChannels, c.channels) << c.what;
        EXPECT_EQ(wfx->nSamplesPerSec, uint32_t(c.rate)) << c.what;
        EXPECT_EQ(wfx->nAvgBytesPerSec, uint32_t(c.avgBytes)) << c.what;
        EXPECT_EQ(wfx->nBlockAlign, c.blockAlign) << c.what;
    }
    auto junk = Ac3(0, 30, 8, 7, 1);
    junk.insert(junk.begin(), {0x0B, 0x00, 0x77});
    ParserHarness h(junk);
    Ac3Header a;
    EXPECT_TRUE(h->ReadAc3(a, int64_t(junk.size())));
    EXPECT_EQ(a.acmod, 7u);
    EXPECT_EQ(AcceptedPrefixes(std::vector<uint8_t>(junk.begin(), junk.begin() + 3 + 7),
                               [](CBaseSplitterFileEx& f) { Ac3Header a; return f.ReadAc3(a, 100); }), 0);
}

TEST(StreamHeaders, Dts)
{
    auto dts = [](unsigned amode, unsigned lfe) {
        BitWriter w;
        w.Put(0x7FFE8001, 32).Put(1, 1).Put(31, 5).Put(0, 1).Put(15, 7).Put(2012, 14).Put(amode, 6).Put(13, 4);
        w.Put(15, 5).Put(0, 5).Put(0, 3).Put(0, 1).Put(0, 1).Put(lfe, 2).Put(0, 1);
        for (int i = 0; i < 8; ++i)
            w.Put(0, 8);
        return w.Done();
    };
    const std::tuple<unsigned, unsigned, int> cases[] = {{9, 1, 6}, {2, 0, 2}, {0, 0, 1}, {16, 1, 0}};
    for (auto [amode, lfe, channels] : cases) {
        const auto bytes = dts(amode, lfe);
        ParserHarness h(bytes);
        DtsHeader d;
        CMediaType mt;
        ASSERT_TRUE(h->ReadDts(d, int64_t(bytes.size()), &mt)) << amode;
        EXPECT_EQ(d.frameBytes, 2013u);
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_DTS);
        const auto* wfx = mt.FormatAs<WaveFormatEx>();
        EXPECT_EQ(wfx->wFormatTag, 0x2001);
        EXPECT_EQ(wfx->nChannels, channels) << amode;
        EXPECT_EQ(wfx->nSamplesPerSec, 48000u);
        EXPECT_EQ(wfx->nAvgBytesPerSec, (754500u + 4) / 8);
        EXPECT_EQ(wfx->nBlockAlign, 2013);
    }
    const auto bytes = dts(9, 1);
    EXPECT_EQ(AcceptedPrefixes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 9),
                               [](CBaseSplitterFileEx& f) { DtsHeader d; return f.ReadDts(d, 100); }), 0);
}

TEST(StreamHeaders, DvdLpcmTable)
{
    auto lpcm = [](unsigned res1, unsigned quant, unsigned freq, unsigned res2, unsigned ch) {
        BitWriter w;
        w.Put(0, 1).Put(0, 1).Put(res1, 1).Put(0, 5).Put(quant, 2).Put(freq, 2).Put(res2, 1).Put(ch, 3).Put(0x80, 8);
        return w.Done();
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool ok;
        int channels, rate, bits, blockAlign, avgBytes;
    } cases[] = {
        {"2 ch 48 kHz 16 bit", lpcm(0, 0, 0, 0, 1), true, 2, 48000, 16, 8, 192000},
        {"6 ch 96 kHz 24 bit", lpcm(0, 2, 1, 0, 5), true, 6, 96000, 24, 36, 1728000},
        {"1 ch 44.1 kHz 20 bit", lpcm(0, 1, 2, 0, 0), true, 1, 44100, 20, 5, 110250},
        {"quantisation 3", lpcm(0, 3, 0, 0, 1), false},
        {"first reserved bit", lpcm(1, 0, 0, 0, 1), false},
        {"second reserved bit", lpcm(0, 0, 0, 1, 1), false},
        {"cut short", {0x00, 0x01}, false},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        DvdLpcmHeader l;
        CMediaType mt;
        ASSERT_EQ(h->ReadDvdLpcm(l, &mt), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_DVD_LPCM_AUDIO) << c.what;
        const auto* wfx = mt.FormatAs<WaveFormatEx>();
        EXPECT_EQ(wfx->wFormatTag, 1) << c.what;
        EXPECT_EQ(wfx->nChannels, c.channels) << c.what;
        EXPECT_EQ(wfx->nSamplesPerSec, uint32_t(c.rate)) << c.what;
        EXPECT_EQ(wfx->wBitsPerSample, c.bits) << c.what;
        EXPECT_EQ(wfx->nBlockAlign, c.blockAlign) << c.what;
        EXPECT_EQ(wfx->nAvgBytesPerSec, uint32_t(c.avgBytes)) << c.what;
        EXPECT_EQ(h->Position(), 3) << c.what;
    }
}

TEST(StreamHeaders, HdmvLpcmTable)
{
    auto lpcm = [](unsigned layout, unsigned rate, unsigned bits) {
        return BitWriter().Put(960, 16).Put(layout, 4).Put(rate, 4).Put(bits, 2).Put(0, 6).Done();
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool ok;
        int channels, rate, bits;
    } cases[] = {
        {"stereo 48 kHz 16 bit", lpcm(3, 1, 1), true, 2, 48000, 16},
        {"5.1 96 kHz 24 bit", lpcm(9, 4, 3), true, 6, 96000, 24},
        {"7.1 192 kHz 20 bit", lpcm(11, 5, 2), true, 8, 192000, 20},
        {"layout 0", lpcm(0, 1, 1), false},
        {"layout 2", lpcm(2, 1, 1), false},
        {"layout 12 has no channel count", lpcm(12, 1, 1), false},
        {"rate code 2", lpcm(3, 2, 1), false},
    };
    for (const Case& c : cases) {
        ParserHarness h(c.data);
        HdmvLpcmHeader l;
        CMediaType mt;
        ASSERT_EQ(h->ReadHdmvLpcm(l, &mt), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_HDMV_LPCM_AUDIO) << c.what;
        ASSERT_EQ(mt.format.size(), 19u) << c.what;
        const auto* wfx = mt.FormatAs<WaveFormatEx>();
        EXPECT_EQ(wfx->nChannels, c.channels) << c.what;
        EXPECT_EQ(wfx->nSamplesPerSec, uint32_t(c.rate)) << c.what;
        EXPECT_EQ(wfx->nBlockAlign, c.channels * c.bits / 8) << c.what;
        EXPECT_EQ(wfx->nAvgBytesPerSec, uint32_t(c.channels * c.bits / 8 * c.rate)) << c.what;
        EXPECT_EQ(wfx->cbSize, 1) << c.what;
        EXPECT_EQ(mt.format[18], uint8_t(c.data[2] >> 4)) << c.what;
    }
}

TEST(StreamHeaders, Ps2Audio)
{
    BitWriter w;
    w.Bytes({'S', 'S', 'h', 'd', 24, 0, 0, 0});
    for (uint32_t v : {1u, 48000u, 2u, 512u, 0u, 0u})
        w.Put(v & 0xFF, 8).Put((v >> 8) & 0xFF, 8).Put((v >> 16) & 0xFF, 8).Put(v >> 24, 8);
    w.Bytes({'S', 'S', 'b', 'd', 0, 0x10, 0, 0, 1, 2, 3});
    const auto bytes = w.Done();
    ParserHarness h(bytes);
    Ps2AudioHeader p;
    CMediaType mt;
    ASSERT_TRUE(h->ReadPs2Audio(p, &mt));
    EXPECT_EQ(h->Position(), 32);  // at the start of the data chunk
    ASSERT_EQ(mt.format.size(), 24u);
    const auto* wfx = mt.FormatAs<WaveFormatEx>();
    EXPECT_EQ(wfx->wFormatTag, 0xF521);
    EXPECT_EQ(wfx->nChannels, 2);
    EXPECT_EQ(wfx->nBlockAlign, 4);
    EXPECT_EQ(wfx->nAvgBytesPerSec, 192000u);
    uint32_t interleave;
    std::memcpy(&interleave, mt.format.data() + 20, 4);
    EXPECT_EQ(interleave, 512u);

    ParserHarness none(std::vector<uint8_t>{'S', 'S', 'b', 'd', 0, 0, 0, 0});
    EXPECT_FALSE(none->ReadPs2Audio(p, &mt));  // no header chunk
}

TEST(StreamHeaders, SubpicturesAndSubtitles)
{
    ParserHarness h(std::vector<uint8_t>{});
    struct Case {
        const char* what;
        bool (CBaseSplitterFileEx::*parse)(CMediaType*);
        Guid major, sub;
    } cases[] = {
        {"DVD", &CBaseSplitterFileEx::ReadDvdSubpicture, MEDIATYPE_Video, MEDIASUBTYPE_DVD_SUBPICTURE},
        {"SVCD", &CBaseSplitterFileEx::ReadSvcdSubpicture, MEDIATYPE_Video, MEDIASUBTYPE_SVCD_SUBPICTURE},
        {"CVD", &CBaseSplitterFileEx::ReadCvdSubpicture, MEDIATYPE_Video, MEDIASUBTYPE_CVD_SUBPICTURE},
        {"PS2", &CBaseSplitterFileEx::ReadPs2Subtitle, MEDIATYPE_Subtitle, MEDIASUBTYPE_PS2_SUB},
    };
    for (const Case& c : cases) {
        CMediaType mt;
        ASSERT_TRUE((h.file.get()->*c.parse)(&mt)) << c.what;
        EXPECT_EQ(mt.majortype, c.major) << c.what;
        EXPECT_EQ(mt.subtype, c.sub) << c.what;
        EXPECT_EQ(mt.formattype, FORMAT_None) << c.what;
    }
    for (auto [lang, expected] : {std::pair<const char*, const char*>{nullptr, "eng"}, {"fra", "fra"}}) {
        CMediaType mt;
        ASSERT_TRUE(h->ReadHdmvSubtitle(&mt, lang));
        EXPECT_EQ(mt.majortype, MEDIATYPE_Subtitle);
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_HDMVSUB);
        ASSERT_EQ(mt.format.size(), 520u);
        EXPECT_STREQ(reinterpret_cast<const char*>(mt.format.data() + 4), expected);
    }
    CMediaType mt;
    EXPECT_FALSE(h->ReadDvbSubtitle(&mt));
}

namespace {

std::vector<uint8_t> Sps(unsigned wMbs, unsigned hMaps, bool vui = true)
{
    BitWriter w;
    w.Bytes({0, 0, 0, 1, 0x67, 66, 0xC0, 30});
    w.Ue(0).Ue(0).Ue(2).Ue(1).Put(0, 1).Ue(wMbs - 1).Ue(hMaps - 1).Put(1, 1).Put(1, 1).Put(0, 1);
    w.Put(vui, 1);
    if (vui) {
        w.Put(0, 1).Put(0, 1).Put(0, 1).Put(0, 1).Put(1, 1).Put(1001, 32).Put(60000, 32).Put(1, 1);
        w.Put(0, 1).Put(0, 1).Put(0, 1).Put(0, 1);
    }
    w.Align(true);
    return w.Done();
}

const std::vector<uint8_t> kPps = {0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80};
const std::vector<uint8_t> kSlice = {0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x10};

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> v;
    for (const auto& p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

}  // namespace

TEST(StreamHeaders, AvcParameterSets)
{
    const std::vector<uint8_t> aud = {0, 0, 0, 1, 0x09, 0xF0};
    const auto sps = Sps(20, 15);
    const auto bytes = Join({aud, sps, kPps, kSlice});
    ParserHarness h(bytes);
    AvcHeader avc;
    CMediaType mt;
    ASSERT_TRUE(h->ReadAvc(avc, int64_t(bytes.size()), &mt));
    EXPECT_EQ(avc.width, 320);
    EXPECT_EQ(avc.height, 240);
    EXPECT_EQ(avc.profile, 66u);
    EXPECT_EQ(avc.level, 30u);
    EXPECT_EQ(avc.frameDuration, 333666);
    EXPECT_EQ(avc.spsPos, int64_t(aud.size()));
    EXPECT_EQ(avc.spsLen, int64_t(sps.size()));
    EXPECT_EQ(avc.ppsLen, int64_t(kPps.size()));
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_AVC1);
    ASSERT_EQ(mt.formattype, FORMAT_MPEG2Video);
    const auto* vi = mt.FormatAs<Mpeg2VideoInfo>();
    EXPECT_EQ(vi->cbSequenceHeader, sps.size() + kPps.size() - 4);
    EXPECT_EQ(vi->dwFlags, 4u);
    EXPECT_EQ(vi->hdr.bmiHeader.biCompression, FourCC('A', 'V', 'C', '1'));
    const uint8_t* seq = mt.format.data() + offsetof(Mpeg2VideoInfo, dwSequenceHeader);
    EXPECT_EQ(seq[0] << 8 | seq[1], int(sps.size() - 4));
    EXPECT_EQ(seq[2], 0x67);
    EXPECT_EQ(seq[2 + sps.size() - 4], 0);
    EXPECT_EQ(seq[3 + sps.size() - 4], kPps.size() - 4);
    EXPECT_EQ(seq[4 + sps.size() - 4], 0x68);
}

TEST(StreamHeaders, AvcHeaderPersistsAcrossPackets)
{
    const auto sps = Sps(120, 68);  // 1920x1088 is described as 1080 lines
    const std::vector<uint8_t> filler = {0xAA, 0xBB, 0xCC};
    const auto bytes = Join({sps, {0, 0, 0, 1, 0x09, 0xF0}, filler, kPps, kSlice});
    ParserHarness h(bytes);
    AvcHeader avc;
    CMediaType mt;
    EXPECT_FALSE(h->ReadAvc(avc, int64_t(sps.size() + 9), &mt));
    EXPECT_EQ(avc.height, 1080);
    EXPECT_EQ(avc.width, 1920);
    h->Seek(int64_t(sps.size() + 9));
    ASSERT_TRUE(h->ReadAvc(avc, int64_t(bytes.size() - sps.size() - 9), &mt));
    EXPECT_EQ(avc.ppsPos, int64_t(sps.size() + 9));
    EXPECT_EQ(mt.FormatAs<Mpeg2VideoInfo>()->hdr.bmiHeader.biHeight, 1080);

    // Parameter sets cut off before their end are not measured.
    const auto cut = Join({Sps(20, 15), {0, 0, 0, 1, 0x68, 0xCE}});
    ParserHarness c(cut);
    AvcHeader partial;
    EXPECT_FALSE(c->ReadAvc(partial, int64_t(cut.size()), &mt));
    EXPECT_EQ(AcceptedPrefixes(Join({Sps(20, 15), kPps, kSlice}),
                               [](CBaseSplitterFileEx& f) { AvcHeader a; CMediaType m; return f.ReadAvc(a, 200, &m); }),
              int(kSlice.size()) - 3);  // only cuts inside the slice keep both sets whole
}

TEST(StreamHeaders, Vc1SequenceHeader)
{
    auto vc1 = [](unsigned profile, bool frameRate) {
        BitWriter w;
        w.Bytes({0, 0, 1, 0x0F});
        w.Put(profile, 2).Put(2, 3).Put(1, 2).Put(0, 3).Put(0, 5).Put(0, 1).Put(959, 12).Put(539, 12);
        w.Put(0, 4).Put(1, 1).Put(0, 1).Put(1, 1).Put(1919, 14).Put(1079, 14).Put(0, 1).Put(frameRate, 1);
        if (frameRate)
            w.Put(0, 1).Put(2, 8).Put(1, 4);
        w.Put(0, 1).Align(true);
        w.Bytes({0, 0, 1, 0x0E, 0x12, 0x34, 0x56, 0, 0, 1, 0x0D, 0x99});
        return w.Done();
    };
    for (bool frameRate : {true, false}) {
        const auto bytes = vc1(3, frameRate);
        ParserHarness h(bytes);
        Vc1Header v;
        CMediaType mt;
        ASSERT_TRUE(h->ReadVc1(v, int64_t(bytes.size()), &mt));
        EXPECT_EQ(v.width, 1920);
        EXPECT_EQ(v.height, 1080);
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_WVC1);
        ASSERT_EQ(mt.formattype, FORMAT_VideoInfo2);
        const size_t count = bytes.size() - 5;  // up to the frame start code
        ASSERT_EQ(mt.format.size(), sizeof(VideoInfoHeader2) + 1 + count);
        const auto* vi = mt.FormatAs<VideoInfoHeader2>();
        EXPECT_EQ(vi->AvgTimePerFrame, frameRate ? 400000 : 0);
        EXPECT_EQ(mt.format[sizeof(VideoInfoHeader2)], 0);
        EXPECT_EQ(mt.format[sizeof(VideoInfoHeader2) + 1 + 4], bytes[4]);
    }
    const auto simple = vc1(2, true);
    ParserHarness h(simple);
    Vc1Header v;
    EXPECT_FALSE(h->ReadVc1(v, int64_t(simple.size())));
}
