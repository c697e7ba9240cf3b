#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "filters/MpegVideoDecoder.h"
#include "filters/RegisterDecoders.h"
#include "filters/TestFilters.h"
#include "filters/VobPackets.h"

using namespace zdrtest;

namespace {

const std::string kSampleTitle1 = std::string(ZDR_TEST_DISCS) + "/sample/VIDEO_TS/VTS_01_1.VOB";
constexpr REFERENCE_TIME kFrame = 333667;  // 29.97 frames per second

std::vector<uint8_t> Concat(const std::vector<PesPacket>& packets)
{
    std::vector<uint8_t> es;
    for (const PesPacket& p : packets)
        es.insert(es.end(), p.data.begin(), p.data.end());
    return es;
}

int CountStartCodes(const std::vector<uint8_t>& es, uint8_t code)
{
    int n = 0;
    for (size_t i = 0; i + 3 < es.size(); ++i)
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == code)
            ++n;
    return n;
}

// An MPEG-2 video type as the splitter makes it: the sequence header (and its extension) in
// the format block.
CMediaType Mpeg2Type(const std::vector<uint8_t>& es, int width, int height)
{
    std::vector<uint8_t> seq;
    for (size_t i = 0; i + 4 < es.size(); ++i) {
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xB3) {
            size_t j = i + 4;
            while (j + 4 < es.size() &&
                   !(es[j] == 0 && es[j + 1] == 0 && es[j + 2] == 1 && (es[j + 3] == 0xB8 || es[j + 3] == 0x00)))
                ++j;
            seq.assign(es.begin() + ptrdiff_t(i), es.begin() + ptrdiff_t(j));
            break;
        }
    }
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video);
    std::vector<uint8_t> block(offsetof(Mpeg2VideoInfo, dwSequenceHeader) + seq.size());
    Mpeg2VideoInfo info;
    info.hdr.AvgTimePerFrame = kFrame;
    info.hdr.bmiHeader.biWidth = width;
    info.hdr.bmiHeader.biHeight = height;
    info.cbSequenceHeader = uint32_t(seq.size());
    std::memcpy(block.data(), &info, offsetof(Mpeg2VideoInfo, dwSequenceHeader));
    std::memcpy(block.data() + offsetof(Mpeg2VideoInfo, dwSequenceHeader), seq.data(), seq.size());
    mt.SetFormat(block.data(), block.size());
    return mt;
}

struct DecodeRig {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSource> video;
    ComPtr<TestSource> subpicture;
    ComPtr<CMpegVideoDecoder> decoder = MakeCom<CMpegVideoDecoder>();
    ComPtr<TestSink> sink = MakeCom<TestSink>();

    DecodeRig(const CMediaType& videoType, bool withSubpicture)
        : video(MakeCom<TestSource>(videoType, 4, 65536))
    {
        graph->AddFilter(video.Get(), "Video");
        graph->AddFilter(decoder.Get(), "VideoDecoder");
        graph->AddFilter(sink.Get(), "Sink");
        EXPECT_EQ(graph->ConnectDirect(video->Pin(), decoder->GetPin(0), nullptr), S_OK);
        if (withSubpicture) {
            subpicture = MakeCom<TestSource>(CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_DVD_SUBPICTURE), 4, 65536);
            graph->AddFilter(subpicture.Get(), "Subpicture");
            EXPECT_EQ(graph->ConnectDirect(subpicture->Pin(), decoder->GetPin(1), nullptr), S_OK);
        }
        EXPECT_EQ(graph->ConnectDirect(decoder->GetPin(2), sink->Pin(), nullptr), S_OK);
    }

    static void PushAll(TestSource* source, const std::vector<PesPacket>& packets)
    {
        for (const PesPacket& p : packets) {
            PushOptions when;
            if (p.timed)
                when.start = p.start;
            ASSERT_EQ(source->Push(p.data, when), S_OK);
        }
    }
    std::vector<Received> Decode(const std::vector<PesPacket>& videoPackets,
                                 const std::vector<PesPacket>& subPackets = {})
    {
        EXPECT_EQ(graph->Pause(), S_OK);
        if (subpicture)
            PushAll(subpicture.Get(), subPackets);
        PushAll(video.Get(), videoPackets);
        video->EndOfStream();
        EXPECT_EQ(sink->Pin()->Ends(), 1);
        std::vector<Received> got = sink->Pin()->Take();
        graph->Stop();
        return got;
    }
};

void ExpectEvenlySpacedTimes(const std::vector<Received>& pictures, REFERENCE_TIME first)
{
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(pictures[0].start, first);
    for (size_t i = 0; i < pictures.size(); ++i) {
        ASSERT_TRUE(pictures[i].timed);
        EXPECT_EQ(pictures[i].stop - pictures[i].start, kFrame) << i;
        if (i) {
            ASSERT_NEAR(pictures[i].start - pictures[i - 1].start, kFrame, 2) << "picture " << i;
        }
        EXPECT_EQ(pictures[i].data.size(), size_t(720 * 480 * 3 / 2));
    }
}

struct Title {
    std::vector<PesPacket> all, video, sub;
    std::vector<uint8_t> es;
    CMediaType type;
    REFERENCE_TIME firstVideo = 0;
};

Title LoadTitle()
{
    Title t;
    t.all = ReadVobPackets(kSampleTitle1);
    t.video = StreamPackets(t.all, 0xE000);
    t.sub = StreamPackets(t.all, 0xBD20);
    t.es = Concat(t.video);
    t.type = Mpeg2Type(t.es, 720, 480);
    for (const PesPacket& p : t.video) {
        if (p.timed) {
            t.firstVideo = p.start;
            break;
        }
    }
    return t;
}

// The packets of the first `seconds` of the title.
std::vector<PesPacket> Head(const Title& t, double seconds)
{
    std::vector<PesPacket> head;
    for (const PesPacket& p : t.video) {
        if (p.timed && p.start >= t.firstVideo + REFERENCE_TIME(seconds * 1e7))
            break;
        head.push_back(p);
    }
    return head;
}

}  // namespace

TEST(MpegVideoDecoder, OffersYv12WithVideoInfoHeader2ThenVideoInfoHeader)
{
    const Title t = LoadTitle();
    ASSERT_FALSE(t.video.empty()) << kSampleTitle1;
    DecodeRig rig(t.type, false);
    std::vector<CMediaType> offered;
    for (int i = 0;; ++i) {
        CMediaType mt;
        if (rig.decoder->GetPin(2)->GetMediaType(i, &mt) != S_OK) {
            break;
        }
        offered.push_back(mt);
    }
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_TRUE(offered[0].formattype == FORMAT_VideoInfo2);
    EXPECT_TRUE(offered[1].formattype == FORMAT_VideoInfo);
    for (const CMediaType& mt : offered) {
        EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_YV12);
        const BitmapInfoHeader* bmi = mt.VideoBitmapHeader();
        ASSERT_TRUE(bmi);
        EXPECT_EQ(bmi->biWidth, 720);
        EXPECT_EQ(bmi->biHeight, 480);
        EXPECT_EQ(bmi->biBitCount, 12);
        EXPECT_EQ(bmi->biSizeImage, 720u * 480 * 3 / 2);
        EXPECT_EQ(mt.FormatAs<VideoInfoHeader>()->AvgTimePerFrame, kFrame);
    }
    EXPECT_EQ(offered[0].FormatAs<VideoInfoHeader2>()->dwPictAspectRatioX, 16u);
    EXPECT_EQ(offered[0].FormatAs<VideoInfoHeader2>()->dwPictAspectRatioY, 9u);
    // A downstream that takes only video info headers gets the second type.
    ComPtr<TestSink> vihOnly = MakeCom<TestSink>();
    vihOnly->Pin()->accept = [](const CMediaType& mt) { return mt.formattype == FORMAT_VideoInfo; };
    rig.graph->Disconnect(rig.decoder->GetPin(2));
    rig.graph->AddFilter(vihOnly.Get(), "VihOnly");
    EXPECT_EQ(rig.graph->ConnectDirect(rig.decoder->GetPin(2), vihOnly->Pin(), nullptr), S_OK);
}

TEST(MpegVideoDecoder, AuthoredTitleGivesEveryPictureWithEvenlySpacedTimes)
{
    const Title t = LoadTitle();
    ASSERT_FALSE(t.video.empty()) << kSampleTitle1;
    const int authored = CountStartCodes(t.es, 0x00);
    EXPECT_EQ(authored, 240);  // 8 s at 29.97
    DecodeRig rig(t.type, false);
    const std::vector<Received> pictures = rig.Decode(t.video);
    EXPECT_EQ(int(pictures.size()), authored);
    ExpectEvenlySpacedTimes(pictures, t.firstVideo);
}

TEST(MpegVideoDecoder, RegisteredUnderItsClassId)
{
    FilterRegistry registry;
    RegisterDecoders(registry);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(registry.CreateInstance(CLSID_MpegVideoDecoder, &filter), S_OK);
    Guid clsid;
    filter->GetClassID(&clsid);
    EXPECT_TRUE(clsid == CLSID_MpegVideoDecoder);
    EXPECT_TRUE(QueryInterface<IMySubpicturePalette>(filter));
}

namespace {

// A subpicture unit showing a 64 x 32 box of pixel type 1 at (100, 100) with full contrast,
// from its packet time for `stopDelay` units of 1024 / 90000 s.
std::vector<uint8_t> BoxSpu(uint16_t stopDelay)
{
    std::vector<uint8_t> u = {0, 0, 0, 0};
    for (int field = 0; field < 2; ++field)
        for (int line = 0; line < 16; ++line)
            u.insert(u.end(), {0x01, 0x01});  // a run of 64 pixels of type 1
    const uint16_t ctrl = uint16_t(u.size());
    const uint16_t second = uint16_t(ctrl + 24);
    u.insert(u.end(), {0x00, 0x00, uint8_t(second >> 8), uint8_t(second)});
    u.insert(u.end(), {0x03, 0x00, 0x10});              // type 1 -> palette entry 1
    u.insert(u.end(), {0x04, 0x00, 0xF0});              // type 1 opaque
    u.insert(u.end(), {0x05, 0x06, 0x40, 0xA3, 0x06, 0x40, 0x83});  // x 100..163, y 100..131
    u.insert(u.end(), {0x06, 0x00, 0x04, 0x00, 0x24});  // fields at 4 and 36
    u.insert(u.end(), {0x01, 0xFF});                    // start display
    u.insert(u.end(), {uint8_t(stopDelay >> 8), uint8_t(stopDelay), uint8_t(second >> 8), uint8_t(second), 0x02,
                       0xFF});                          // stop display
    u[0] = uint8_t(u.size() >> 8);
    u[1] = uint8_t(u.size());
    u[2] = uint8_t(ctrl >> 8);
    u[3] = uint8_t(ctrl);
    return u;
}

}  // namespace

TEST(MpegVideoDecoder, SubpicturesShowOnlyInTheirDisplayInterval)
{
    const Title t = LoadTitle();
    // Shown from 1.0 s for 132 x 1024 / 90000 s (1.502 s), split over two packets as a
    // splitter delivers a unit larger than one packet.
    const std::vector<uint8_t> spu = BoxSpu(132);
    std::vector<PesPacket> packets(2);
    packets[0].timed = true;
    packets[0].start = t.firstVideo + 10000000;
    packets[0].data.assign(spu.begin(), spu.begin() + 40);
    packets[1].data.assign(spu.begin() + 40, spu.end());

    const std::vector<PesPacket> head = Head(t, 3.5);
    DecodeRig plain(t.type, false);
    const std::vector<Received> without = plain.Decode(head);
    ASSERT_GT(without.size(), 90u);
    DecodeRig burnt(t.type, true);
    uint32_t palette[16];
    for (int i = 0; i < 16; ++i)
        palette[i] = i % 2 ? 0x00EB8080 : 0x00108080;  // white and black
    burnt.decoder->SetPalette(palette);
    const std::vector<Received> with = burnt.Decode(head, packets);
    ASSERT_EQ(with.size(), without.size());
    REFERENCE_TIME firstShown = -1, lastShown = -1;
    for (size_t i = 0; i < with.size(); ++i) {
        ASSERT_EQ(with[i].start, without[i].start);
        const REFERENCE_TIME at = with[i].start - t.firstVideo;
        const bool shown = at >= 10000000 && at < 10000000 + 132 * 1024 * 10000 / 90;
        if (with[i].data != without[i].data) {
            if (firstShown < 0)
                firstShown = at;
            lastShown = at;
        }
        EXPECT_EQ(with[i].data != without[i].data, shown) << "picture at " << at;
        if (shown) {
            EXPECT_EQ(with[i].data[110 * 720 + 120], 235) << "box luma at " << at;
            EXPECT_EQ(with[i].data[99 * 720 + 120], without[i].data[99 * 720 + 120]) << "above the box";
            EXPECT_EQ(with[i].data[110 * 720 + 164], without[i].data[110 * 720 + 164]) << "right of the box";
        }
    }
    EXPECT_NEAR(firstShown, 10000000, kFrame);
    EXPECT_NEAR(lastShown, 25000000, kFrame);
}

TEST(MpegVideoDecoder, BadInputKeepsGoing)
{
    const Title t = LoadTitle();
    ASSERT_GT(t.video.size(), 200u);
    std::mt19937 random(7);

    // Random bytes over the middle of the elementary stream.
    std::vector<PesPacket> corrupt = t.video;
    for (size_t i = 100; i < 110; ++i)
        for (uint8_t& b : corrupt[i].data)
            b = uint8_t(random());
    DecodeRig rig(t.type, true);
    // Subpicture units with a good size and bad control sequences, and a truncated one.
    std::vector<PesPacket> badSpu(3);
    badSpu[0].data = {0x00, 0x10, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    badSpu[1].data = {0x00, 0x03, 0x01};
    badSpu[2].data.assign(200, 0xAB);
    badSpu[2].data[0] = 0x00;
    badSpu[2].data[1] = 200;
    for (PesPacket& p : badSpu) {
        p.timed = true;
        p.start = t.firstVideo;
    }
    const std::vector<Received> pictures = rig.Decode(corrupt, badSpu);
    EXPECT_EQ(rig.decoder->Subpictures().Count(), 0u);
    EXPECT_GT(pictures.size(), 240u - 40u) << "at most a couple of GOPs are lost";
    for (size_t i = 1; i < pictures.size(); ++i)
        ASSERT_GT(pictures[i].start, pictures[i - 1].start);

    // A stream that starts in the middle of a GOP, without its sequence header: pictures
    // start at the next one that can be shown, on the title's time line.
    std::vector<PesPacket> late(t.video.begin() + 50, t.video.end());
    DecodeRig lateRig(t.type, false);
    const std::vector<Received> tail = lateRig.Decode(late);
    ASSERT_FALSE(tail.empty());
    EXPECT_LT(tail.size(), 240u);
    EXPECT_GT(tail.size(), 100u);
    EXPECT_GT(tail[0].start, t.firstVideo);
    for (size_t i = 1; i < tail.size(); ++i)
        ASSERT_NEAR(tail[i].start - tail[i - 1].start, kFrame, 2);
}

TEST(MpegVideoDecoder, UnstampedPacketsAreTimedFromTheFrameDuration)
{
    const Title t = LoadTitle();
    std::vector<PesPacket> untimed = t.video;
    for (size_t i = 1; i < untimed.size(); ++i)
        untimed[i].timed = false;
    DecodeRig rig(t.type, false);
    const std::vector<Received> pictures = rig.Decode(untimed);
    EXPECT_EQ(pictures.size(), 240u);
    ExpectEvenlySpacedTimes(pictures, t.firstVideo);
}

TEST(MpegVideoDecoder, FlushResetsTheDecoderAndTimesStartAgain)
{
    const Title t = LoadTitle();
    DecodeRig rig(t.type, false);
    ASSERT_EQ(rig.graph->Pause(), S_OK);
    std::vector<PesPacket> head(t.video.begin(), t.video.begin() + 120);
    DecodeRig::PushAll(rig.video.Get(), head);
    rig.decoder->GetPin(0)->BeginFlush();
    rig.decoder->GetPin(0)->EndFlush();
    rig.sink->Pin()->Take();
    DecodeRig::PushAll(rig.video.Get(), t.video);
    rig.video->EndOfStream();
    const std::vector<Received> pictures = rig.sink->Pin()->Take();
    rig.graph->Stop();
    EXPECT_EQ(pictures.size(), 240u);
    ExpectEvenlySpacedTimes(pictures, t.firstVideo);
}

TEST(MpegVideoDecoder, RepeatedFieldsStretchThePictureDuration)
{
    // The authored progressive stream with repeat_first_field set on every other picture
    // (ISO/IEC 13818-2 6.2.3.1 picture coding extension): with top_field_first 0 such a
    // picture is shown for two frame periods. The packets keep only the first stamp, so the
    // times come from the durations alone.
    const Title t = LoadTitle();
    std::vector<uint8_t> es = t.es;
    int pictures = 0;
    for (size_t i = 0; i + 8 < es.size(); ++i) {
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xB5 && (es[i + 4] >> 4) == 8) {
            ASSERT_EQ(es[i + 7] & 0x80, 0) << "top_field_first";
            if (pictures++ % 2)
                es[i + 7] |= 0x02;  // repeat_first_field
        }
    }
    ASSERT_EQ(pictures, 240);
    std::vector<PesPacket> packets;
    for (size_t at = 0; at < es.size(); at += 2000) {
        PesPacket p;
        p.data.assign(es.begin() + ptrdiff_t(at), es.begin() + ptrdiff_t(std::min(es.size(), at + 2000)));
        packets.push_back(std::move(p));
    }
    packets[0].timed = true;
    packets[0].start = t.firstVideo;
    DecodeRig rig(t.type, false);
    const std::vector<Received> out = rig.Decode(packets);
    ASSERT_EQ(out.size(), 240u);
    REFERENCE_TIME longer = 0;
    for (size_t i = 1; i < out.size(); ++i) {
        const REFERENCE_TIME d = out[i - 1].stop - out[i - 1].start;
        ASSERT_TRUE(d == kFrame || d == 2 * kFrame) << i;
        longer += d == 2 * kFrame;
        ASSERT_EQ(out[i].start, out[i - 1].stop) << "continuous at " << i;
    }
    EXPECT_NEAR(longer, 120, 1);
    EXPECT_EQ(out.back().stop - out.front().start, 360 * kFrame);
}
