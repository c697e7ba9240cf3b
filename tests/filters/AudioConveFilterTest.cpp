#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "filters/AudioConveFilter.h"
#include "filters/TestFilters.h"

using namespace zdrtest;

namespace {

struct AudioRig {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSource> source;
    ComPtr<CMyAudioConveFilter> conv = MakeCom<CMyAudioConveFilter>();
    ComPtr<TestSink> sink = MakeCom<TestSink>();

    AudioRig(uint16_t channels, uint32_t rate) : source(MakeCom<TestSource>(MakePcmType(channels, rate), 2, 1 << 20))
    {
        graph->AddFilter(source.Get(), "Source");
        graph->AddFilter(conv.Get(), "AudioConver");
        graph->AddFilter(sink.Get(), "Sink");
    }
    HRESULT Connect()
    {
        HRESULT hr = graph->ConnectDirect(source->Pin(), conv->InputPin(), nullptr);
        if (Failed(hr))
            return hr;
        return graph->ConnectDirect(conv->OutputPin(), sink->Pin(), nullptr);
    }
    WaveFormatEx OutputFormat()
    {
        CMediaType out;
        conv->OutputPin()->ConnectionMediaType(&out);
        const WaveFormatEx* wfx = out.FormatAs<WaveFormatEx>();
        return wfx ? *wfx : WaveFormatEx{};
    }
    // Pushes the chunks, then end of stream; all bytes that came out.
    std::vector<uint8_t> Run(const std::vector<std::vector<uint8_t>>& chunks, std::vector<Received>* samples = nullptr)
    {
        EXPECT_EQ(graph->Pause(), S_OK);
        REFERENCE_TIME t = 0;
        for (const auto& chunk : chunks) {
            PushOptions when;
            when.start = t;
            when.stop = t += 100000;
            EXPECT_EQ(source->Push(chunk, when), S_OK);
        }
        source->EndOfStream();
        EXPECT_EQ(sink->Pin()->Ends(), 1);
        std::vector<Received> got = sink->Pin()->Take();
        graph->Stop();
        std::vector<uint8_t> all;
        for (const Received& r : got)
            all.insert(all.end(), r.data.begin(), r.data.end());
        if (samples)
            *samples = std::move(got);
        return all;
    }
};

std::vector<uint8_t> Pcm(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes)
{
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// `frames` frames of a sine of `hz` at `rate`, the same on every channel.
std::vector<uint8_t> Sine(int frames, int channels, int rate, double hz, int first = 0)
{
    std::vector<int16_t> s;
    for (int i = 0; i < frames; ++i) {
        const int16_t v = int16_t(std::lround(12000 * std::sin(2 * M_PI * hz * (first + i) / rate)));
        for (int c = 0; c < channels; ++c)
            s.push_back(v);
    }
    return Pcm(s);
}

}  // namespace

TEST(AudioConveFilter, TargetEqualToInputPassesBytesThroughUnchanged)
{
    for (bool setTarget : {false, true}) {
        SCOPED_TRACE(setTarget ? "target set to the input's format" : "target never set");
        AudioRig rig(2, 48000);
        if (setTarget)
            rig.conv->SetOutputFormat(2, 48000);
        ASSERT_EQ(rig.Connect(), S_OK);
        EXPECT_FALSE(rig.conv->Resampling());
        const WaveFormatEx wfx = rig.OutputFormat();
        EXPECT_EQ(wfx.nChannels, 2);
        EXPECT_EQ(wfx.nSamplesPerSec, 48000u);
        std::vector<std::vector<uint8_t>> chunks = {Sine(1000, 2, 48000, 500), Sine(1000, 2, 48000, 500, 1000)};
        std::vector<Received> samples;
        std::vector<uint8_t> out = rig.Run(chunks, &samples);
        std::vector<uint8_t> in = chunks[0];
        in.insert(in.end(), chunks[1].begin(), chunks[1].end());
        EXPECT_EQ(out, in);
        ASSERT_EQ(samples.size(), 2u);
        EXPECT_EQ(samples[1].start, 100000) << "output samples keep the input's times";
    }
}

TEST(AudioConveFilter, ResamplesFortyEightToFortyFourPointOneWithoutLosingTheTail)
{
    AudioRig rig(2, 48000);
    rig.conv->SetOutputFormat(2, 44100);
    ASSERT_EQ(rig.Connect(), S_OK);
    EXPECT_TRUE(rig.conv->Resampling());
    const WaveFormatEx wfx = rig.OutputFormat();
    EXPECT_EQ(wfx.nSamplesPerSec, 44100u);
    EXPECT_EQ(wfx.nBlockAlign, 4);
    EXPECT_EQ(wfx.nAvgBytesPerSec, 176400u);
    std::vector<std::vector<uint8_t>> chunks;
    for (int i = 0; i < 10; ++i)
        chunks.push_back(Sine(4800, 2, 48000, 1000, i * 4800));  // one second in all
    const std::vector<uint8_t> out = rig.Run(chunks);
    const long frames = long(out.size() / 4);
    // 48000 * 44100 / 48000, the resampler's delay flushed at the end.
    EXPECT_NEAR(frames, 44100, 2);
    // Still a clean 1 kHz sine in the middle: consecutive samples follow the expected curve.
    const std::vector<int16_t> s = Samples(out);
    double peak = 0;
    for (long i = 1000; i < 40000; ++i)
        peak = std::max(peak, std::fabs(double(s[size_t(i) * 2])));
    EXPECT_NEAR(peak, 12000, 300);
}

TEST(AudioConveFilter, StereoToMonoMixesDownWithBlockAlignTwo)
{
    AudioRig rig(2, 48000);
    rig.conv->SetOutputFormat(1, 48000);
    ASSERT_EQ(rig.Connect(), S_OK);
    const WaveFormatEx wfx = rig.OutputFormat();
    EXPECT_EQ(wfx.nChannels, 1);
    EXPECT_EQ(wfx.nBlockAlign, 2);
    EXPECT_EQ(wfx.nAvgBytesPerSec, 96000u);
    // Left and right carry opposite signs: a mix cancels them, a channel pick would not.
    std::vector<int16_t> lr;
    for (int i = 0; i < 4800; ++i) {
        lr.push_back(int16_t(8000 + (i % 2) * 10));
        lr.push_back(int16_t(-8000 - (i % 2) * 10));
    }
    const std::vector<uint8_t> out = rig.Run({Pcm(lr)});
    EXPECT_NEAR(long(out.size() / 2), 4800, 2);
    const std::vector<int16_t> mono = Samples(out);
    for (size_t i = 100; i < 4000; ++i)
        ASSERT_NEAR(mono[i], 0, 20) << i;
}

TEST(AudioConveFilter, VolumeRoundsAndClipsAtBothEnds)
{
    const std::vector<int16_t> in = {1000, -1000, 20000, -20000, 32767, -32768, 1, -1};
    struct Case {
        int volume;
        std::vector<int16_t> expected;
    } cases[] = {
        {256, in},
        {512, {2000, -2000, 32767, -32768, 32767, -32768, 2, -2}},
        {0, {0, 0, 0, 0, 0, 0, 0, 0}},
        // (s * 128 + 128) >> 8 with an arithmetic shift: 500.5 -> 500, -499.5 -> -500.
        {128, {500, -500, 10000, -10000, 16384, -16384, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.volume);
        AudioRig rig(2, 48000);
        rig.conv->SetVolume(c.volume);
        ASSERT_EQ(rig.Connect(), S_OK);
        EXPECT_EQ(Samples(rig.Run({Pcm(in)})), c.expected);
    }
}

TEST(AudioConveFilter, RingOverflowLosesOnlyTheTail)
{
    AudioRig rig(2, 48000);
    ASSERT_EQ(rig.Connect(), S_OK);
    std::vector<uint8_t> big(600000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7 + i / 251);
    std::vector<Received> samples;
    const std::vector<uint8_t> out = rig.Run({big}, &samples);
    ASSERT_EQ(out.size(), size_t(CMyAudioConveFilter::kRingBytes));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), big.begin())) << "the head survives unchanged";
    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(samples[0].data.size(), size_t(CMyAudioConveFilter::kOutputBufferBytes));
    // The held bytes after the last input go out timed on from its stop.
    ASSERT_GE(samples.size(), 2u);
    EXPECT_EQ(samples[1].start, 100000);
}

TEST(AudioConveFilter, FormatChangeOnTheStreamKeepsTheOutputFormat)
{
    AudioRig rig(2, 48000);
    rig.conv->SetOutputFormat(2, 48000);
    ASSERT_EQ(rig.Connect(), S_OK);
    ASSERT_EQ(rig.graph->Pause(), S_OK);
    ASSERT_EQ(rig.source->Push(Sine(4800, 2, 48000, 500)), S_OK);
    const CMediaType six = MakePcmType(6, 48000);
    PushOptions change;
    change.change = &six;
    ASSERT_EQ(rig.source->Push(Sine(4800, 6, 48000, 500), change), S_OK);
    ASSERT_EQ(rig.source->Push(Sine(4800, 6, 48000, 500)), S_OK);
    rig.source->EndOfStream();
    std::vector<uint8_t> all;
    for (const Received& r : rig.sink->Pin()->Take())
        all.insert(all.end(), r.data.begin(), r.data.end());
    rig.graph->Stop();
    EXPECT_EQ(rig.OutputFormat().nChannels, 2);
    EXPECT_NEAR(long(all.size() / 4), 3 * 4800, 4);
}

TEST(AudioConveFilter, RefusesWhatIsNotPcm)
{
    ComPtr<CMyAudioConveFilter> conv = MakeCom<CMyAudioConveFilter>();
    CMediaType ac3 = MakePcmType(2, 48000);
    ac3.subtype = MEDIASUBTYPE_DOLBY_AC3;
    EXPECT_EQ(conv->CheckInputType(ac3), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(conv->CheckInputType(MakePcmType(0, 48000)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(conv->CheckInputType(MakePcmType(2, 48000)), S_OK);
}
