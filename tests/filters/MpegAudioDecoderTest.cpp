#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "filters/MpegAudioDecoder.h"
#include "filters/RegisterDecoders.h"
#include "filters/TestFilters.h"
#include "filters/VobPackets.h"

using namespace zdrtest;

namespace {

const std::string kDiscs = ZDR_TEST_DISCS;

CMediaType CompressedType(const Guid& subtype, uint16_t tag, uint16_t channels, uint32_t rate)
{
    CMediaType mt(MEDIATYPE_Audio, subtype, FORMAT_WaveFormatEx);
    WaveFormatEx wfx;
    wfx.wFormatTag = tag;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    mt.SetFormat(&wfx, sizeof wfx);
    return mt;
}

CMediaType LpcmType(const LpcmInfo& info)
{
    CMediaType mt(MEDIATYPE_Audio, MEDIASUBTYPE_DVD_LPCM_AUDIO, FORMAT_WaveFormatEx);
    WaveFormatEx wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = uint16_t(info.channels);
    wfx.nSamplesPerSec = uint32_t(info.rate);
    wfx.wBitsPerSample = uint16_t(info.bits);
    wfx.nBlockAlign = uint16_t(info.channels * info.bits / 8);
    mt.SetFormat(&wfx, sizeof wfx);
    return mt;
}

struct AudioDecodeRig {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSource> source;
    ComPtr<CMpegAudioDecoder> decoder = MakeCom<CMpegAudioDecoder>();
    ComPtr<TestSink> sink = MakeCom<TestSink>();

    explicit AudioDecodeRig(const CMediaType& type) : source(MakeCom<TestSource>(type, 4, 65536))
    {
        graph->AddFilter(source.Get(), "Audio");
        graph->AddFilter(decoder.Get(), "AudioDecoder");
        graph->AddFilter(sink.Get(), "Sink");
        EXPECT_EQ(graph->ConnectDirect(source->Pin(), decoder->GetPin(0), nullptr), S_OK);
        EXPECT_EQ(graph->ConnectDirect(decoder->GetPin(1), sink->Pin(), nullptr), S_OK);
    }
    WaveFormatEx Connected()
    {
        CMediaType mt;
        decoder->GetPin(1)->ConnectionMediaType(&mt);
        const WaveFormatEx* wfx = mt.FormatAs<WaveFormatEx>();
        return wfx ? *wfx : WaveFormatEx{};
    }
    std::vector<Received> Decode(const std::vector<PesPacket>& packets)
    {
        EXPECT_EQ(graph->Pause(), S_OK);
        for (const PesPacket& p : packets) {
            PushOptions when;
            if (p.timed)
                when.start = p.start;
            EXPECT_EQ(source->Push(p.data, when), S_OK);
        }
        source->EndOfStream();
        EXPECT_EQ(sink->Pin()->Ends(), 1);
        std::vector<Received> got = sink->Pin()->Take();
        graph->Stop();
        return got;
    }
};

// Sample frames of all samples, with times checked to follow each other.
long CheckedFrames(const std::vector<Received>& samples, int channels, int rate)
{
    long frames = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_TRUE(samples[i].timed);
        const long n = long(samples[i].data.size() / (2 * channels));
        EXPECT_NEAR(samples[i].stop - samples[i].start, n * 10000000.0 / rate, 1.0);
        if (i) {
            EXPECT_NEAR(samples[i].start, samples[i - 1].stop, 2000) << "sample " << i;  // 0.2 ms
        }
        frames += n;
    }
    return frames;
}

// Sample frames in an elementary stream, frame by frame (libavcodec's parser); for LPCM the
// byte count.
long AuthoredFrames(const std::vector<PesPacket>& packets, AVCodecID id, long samplesPerFrame, int lpcmFrameBytes)
{
    std::vector<uint8_t> es;
    for (const PesPacket& p : packets)
        es.insert(es.end(), p.data.begin(), p.data.end());
    if (lpcmFrameBytes)
        return long(es.size()) / lpcmFrameBytes;
    AVCodecParserContext* parser = av_parser_init(id);
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    long frames = 0;
    const uint8_t* data = es.data();
    int size = int(es.size());
    for (;;) {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(parser, ctx, &out, &outSize, data, size, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        data += used;
        size -= used;
        if (outSize > 0)
            ++frames;
        else if (size == 0)
            break;
    }
    av_parser_close(parser);
    avcodec_free_context(&ctx);
    return frames * samplesPerFrame;
}

// A temporary file made by ffmpeg from a lavfi source, or empty when ffmpeg fails.
std::string Generate(const std::string& name, const std::string& args)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zdr-filters-tests";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / name).string();
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " " + path;
    return std::system(cmd.c_str()) == 0 ? path : std::string();
}

std::vector<PesPacket> Chunks(const std::vector<uint8_t>& bytes, size_t size)
{
    std::vector<PesPacket> packets;
    for (size_t at = 0; at < bytes.size(); at += size) {
        PesPacket p;
        p.data.assign(bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(std::min(bytes.size(), at + size)));
        packets.push_back(std::move(p));
    }
    packets[0].timed = true;
    packets[0].start = 0;
    return packets;
}

}  // namespace

TEST(MpegAudioDecoder, AuthoredTracksDecodeToTheTitleLength)
{
    struct Case {
        const char* what;
        std::string vob;
        uint32_t key;
        Guid subtype;
        uint16_t tag;
        double seconds;
        AVCodecID parser;
        long frameSamples;  // one audio frame
        int lpcmFrameBytes;
    } cases[] = {
        {"AC-3", kDiscs + "/sample/VIDEO_TS/VTS_01_1.VOB", 0xBD80, MEDIASUBTYPE_DOLBY_AC3, WAVE_FORMAT_DOLBY_AC3, 8.0,
         AV_CODEC_ID_AC3, 1536, 0},
        {"MPEG audio", kDiscs + "/sample/VIDEO_TS/VTS_01_1.VOB", 0xC000, MEDIASUBTYPE_MPEG1AudioPayload,
         WAVE_FORMAT_MPEG, 8.0, AV_CODEC_ID_MP2, 1152, 0},
        {"LPCM", kDiscs + "/sample/VIDEO_TS/VTS_03_1.VOB", 0xBDA0, MEDIASUBTYPE_DVD_LPCM_AUDIO, WAVE_FORMAT_PCM, 4.0,
         AV_CODEC_ID_NONE, 80, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LpcmInfo lpcm;
        const std::vector<PesPacket> packets = StreamPackets(ReadVobPackets(c.vob, &lpcm), c.key);
        ASSERT_FALSE(packets.empty()) << c.vob;
        const CMediaType type = c.subtype == MEDIASUBTYPE_DVD_LPCM_AUDIO ? LpcmType(lpcm)
                                                                          : CompressedType(c.subtype, c.tag, 2, 48000);
        AudioDecodeRig rig(type);
        const WaveFormatEx wfx = rig.Connected();
        EXPECT_EQ(wfx.nChannels, 2);
        EXPECT_EQ(wfx.nSamplesPerSec, 48000u);
        EXPECT_EQ(wfx.wBitsPerSample, 16);
        EXPECT_EQ(wfx.nBlockAlign, 4);
        const std::vector<Received> samples = rig.Decode(packets);
        ASSERT_FALSE(samples.empty());
        const long frames = CheckedFrames(samples, 2, 48000);
        // Every authored frame comes out (within one frame); the authored tracks end up to
        // 0.15 s before their title does.
        EXPECT_NEAR(frames, AuthoredFrames(packets, c.parser, c.frameSamples, c.lpcmFrameBytes), c.frameSamples);
        EXPECT_NEAR(frames, long(c.seconds * 48000), 7200);
        EXPECT_EQ(samples[0].start, packets[0].start);
        EXPECT_FALSE(samples[0].change) << "the stream's format is the connected one";
    }
}

TEST(MpegAudioDecoder, SixChannelAc3KeepsItsChannelsAndAFormatChangeGoesWithTheNextSample)
{
    const std::string stereo = Generate("stereo.ac3", "-f lavfi -i sine=f=440:d=1:r=48000 -ac 2 -c:a ac3 -f ac3");
    const std::string six = Generate("six.ac3", "-f lavfi -i sine=f=440:d=1:r=48000 -ac 6 -c:a ac3 -f ac3");
    ASSERT_FALSE(stereo.empty());
    ASSERT_FALSE(six.empty());

    // A 5.1 track connects as 6 channels.
    {
        AudioDecodeRig rig(CompressedType(MEDIASUBTYPE_DOLBY_AC3, WAVE_FORMAT_DOLBY_AC3, 6, 48000));
        EXPECT_EQ(rig.Connected().nChannels, 6);
        const std::vector<Received> samples = rig.Decode(Chunks(ReadFileBytes(six), 2000));
        EXPECT_NEAR(CheckedFrames(samples, 6, 48000), 48000, 1536);
    }
    // Stereo, then 5.1 on the same stream.
    std::vector<uint8_t> both = ReadFileBytes(stereo);
    const std::vector<uint8_t> tail = ReadFileBytes(six);
    both.insert(both.end(), tail.begin(), tail.end());
    AudioDecodeRig rig(CompressedType(MEDIASUBTYPE_DOLBY_AC3, WAVE_FORMAT_DOLBY_AC3, 2, 48000));
    const std::vector<Received> samples = rig.Decode(Chunks(both, 2000));
    ASSERT_FALSE(samples.empty());
    int changes = 0;
    int channels = 2;
    long frames = 0;
    for (const Received& r : samples) {
        if (r.change) {
            ++changes;
            const WaveFormatEx* wfx = r.change->FormatAs<WaveFormatEx>();
            ASSERT_TRUE(wfx);
            channels = wfx->nChannels;
            EXPECT_EQ(wfx->nBlockAlign, 2 * channels);
        }
        frames += long(r.data.size()) / (2 * channels);
    }
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(channels, 6);
    EXPECT_NEAR(frames, 2 * 48000, 2 * 1536);
}

TEST(MpegAudioDecoder, UntimedPacketsContinueFromTheSampleCount)
{
    LpcmInfo lpcm;
    std::vector<PesPacket> packets =
        StreamPackets(ReadVobPackets(kDiscs + "/sample/VIDEO_TS/VTS_03_1.VOB", &lpcm), 0xBDA0);
    ASSERT_GT(packets.size(), 10u);
    for (size_t i = 1; i < packets.size(); ++i)
        packets[i].timed = false;
    AudioDecodeRig rig(LpcmType(lpcm));
    const std::vector<Received> samples = rig.Decode(packets);
    long frames = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].start, packets[0].start + frames * 10000000LL / 48000) << i;
        frames += long(samples[i].data.size() / 4);
    }
}

TEST(MpegAudioDecoder, GarbageIsSkippedWithoutAStall)
{
    std::vector<uint8_t> noise(50000);
    uint32_t x = 12345;
    for (uint8_t& b : noise)
        b = uint8_t((x = x * 1103515245 + 12345) >> 24);
    for (const Guid& subtype : {MEDIASUBTYPE_DOLBY_AC3, MEDIASUBTYPE_DTS, MEDIASUBTYPE_MPEG1AudioPayload}) {
        AudioDecodeRig rig(CompressedType(subtype, 0, 2, 48000));
        rig.Decode(Chunks(noise, 2048));
        EXPECT_EQ(rig.sink->Pin()->Ends(), 1);
    }
}

TEST(MpegAudioDecoder, AcceptsTheSplittersTypesAndIsRegistered)
{
    ComPtr<CMpegAudioDecoder> decoder = MakeCom<CMpegAudioDecoder>();
    CBasePin* in = decoder->GetPin(0);
    LpcmInfo bad;
    bad.bits = 12;
    struct Case {
        const char* what;
        CMediaType type;
        bool accepted;
    } cases[] = {
        {"AC-3", CompressedType(MEDIASUBTYPE_DOLBY_AC3, 0, 6, 48000), true},
        {"DTS", CompressedType(MEDIASUBTYPE_DTS, 0, 6, 48000), true},
        {"wave DTS", CompressedType(MEDIASUBTYPE_WAVE_DTS, WAVE_FORMAT_DTS, 6, 48000), true},
        {"MPEG audio", CompressedType(MEDIASUBTYPE_MPEG1AudioPayload, WAVE_FORMAT_MPEG, 2, 48000), true},
        {"MP3 tag", CompressedType(MEDIASUBTYPE_MP3, WAVE_FORMAT_MPEGLAYER3, 2, 44100), true},
        {"LPCM 24-bit", LpcmType(LpcmInfo{24, 96000, 6}), true},
        {"LPCM 12-bit", LpcmType(bad), false},
        {"PCM", MakePcmType(2, 48000), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(in->CheckMediaType(c.type) == S_OK, c.accepted) << c.what;
    FilterRegistry registry;
    RegisterDecoders(registry);
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(registry.CreateInstance(CLSID_MpegAudioDecoder, &filter), S_OK);
    EXPECT_EQ(registry.Candidates({CompressedType(MEDIASUBTYPE_DOLBY_AC3, 0, 2, 48000)}).size(), 1u);
}
