// The conversion sink between two pushing sources and a real encoder: which pictures and PCM
// reach the encoder (trim window, re-timing to the output frame rate, audio placement), the
// preview copies, and the completion and failure events.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "encode/ConvFilter.h"
#include "encode/OutputEncoder.h"
#include "graph/FilterGraph.h"
#include "harness/RecordingSink.h"
#include "harness/TestSource.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int64_t kSecond = 10000000;

CMediaType VideoType()
{
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_YV12, FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VideoInfoHeader*>(mt.AllocFormat(sizeof(VideoInfoHeader)));
    vih->bmiHeader.biWidth = kWidth;
    vih->bmiHeader.biHeight = kHeight;
    vih->bmiHeader.biBitCount = 12;
    vih->bmiHeader.biCompression = FourCC('Y', 'V', '1', '2');
    vih->bmiHeader.biSizeImage = kWidth * kHeight * 3 / 2;
    return mt;
}

CMediaType AudioType()
{
    CMediaType mt(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WaveFormatEx*>(mt.AllocFormat(sizeof(WaveFormatEx)));
    wfx->wFormatTag = WAVE_FORMAT_PCM;
    wfx->nChannels = 2;
    wfx->nSamplesPerSec = 48000;
    wfx->nBlockAlign = 4;
    wfx->nAvgBytesPerSec = 192000;
    wfx->wBitsPerSample = 16;
    return mt;
}

FormatProfile Profile(int frameRate, bool video = true, bool audio = true)
{
    FormatProfile p{};
    std::u16string ext = u".mkv";
    std::copy(ext.begin(), ext.end(), p.FormatExt);
    p.VideoEnabled = video;
    p.Width = kWidth;
    p.Height = kHeight;
    p.VideoBitRate = 200000;
    p.FrameRate = frameRate;
    std::strcpy(p.VideoCodecName, video ? "mpeg4" : "");
    p.AudioEnabled = audio;
    p.SampleRate = 48000;
    p.Channel = 2;
    p.AudioBitRate = 128000;
    std::strcpy(p.AudioCodecName, audio ? "pcm_s16le" : "");
    return p;
}

// Source -> "Audio In", source -> "Video In", "Video Pre" -> a recording sink (optional), in
// a graph that passes every completion on.
struct SinkRig {
    explicit SinkRig(const FormatProfile& profile, bool connectAudio = true, bool connectVideo = true,
                     bool preview = false)
        : graph(MakeCom<CFilterGraph>()),
          audio(MakeCom<TestSourceFilter>(std::vector<CMediaType>{AudioType()})),
          video(MakeCom<TestSourceFilter>(std::vector<CMediaType>{VideoType()})),
          conv(MakeCom<CConvFilter>()),
          previewSink(MakeCom<RecordingSinkFilter>())
    {
        dir = std::filesystem::temp_directory_path() / ("zdr-convsink-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        file = (dir / "out.mkv").string();
        graph->CancelDefaultHandling(EC_COMPLETE);
        graph->AddFilter(audio.Get(), "Audio");
        graph->AddFilter(video.Get(), "Video");
        graph->AddFilter(conv.Get(), "Conver");
        video->Pin()->bufferSize = kWidth * kHeight * 3 / 2;
        audio->Pin()->bufferSize = 192000;
        if (connectAudio) {
            EXPECT_EQ(graph->ConnectDirect(audio->Pin(), conv->GetPin(0), nullptr), S_OK);
        }
        if (connectVideo) {
            EXPECT_EQ(graph->ConnectDirect(video->Pin(), conv->GetPin(1), nullptr), S_OK);
        }
        if (preview) {
            previewSink->postComplete = false;
            graph->AddFilter(previewSink.Get(), "Preview");
            EXPECT_EQ(graph->ConnectDirect(conv->GetPin(2), previewSink->Pin(), nullptr), S_OK);
        }
        EXPECT_TRUE(encoder.Open(file, profile)) << encoder.LastErrorDetail();
        conv->SetEncoder(&encoder);
        conv->SetFrameDuration(1e10 / profile.FrameRate);
        conv->SetTrimWindow(0, 100 * kSecond);
    }
    ~SinkRig()
    {
        graph->Stop();
        encoder.Close();
        std::filesystem::remove_all(dir);
    }

    void PushPictures(int count, int64_t frameDuration, int64_t first = 0)
    {
        std::vector<uint8_t> picture(kWidth * kHeight * 3 / 2, 100);
        for (int i = 0; i < count; ++i) {
            const int64_t start = first + i * frameDuration;
            ASSERT_EQ(video->PushSample({picture, start, start + frameDuration, true}), S_OK);
        }
    }
    // `ms` of stereo 48 kHz PCM starting at `start`, in 20 ms samples.
    void PushAudio(int64_t start, int ms)
    {
        std::vector<uint8_t> pcm(3840, 1);
        for (int t = 0; t < ms; t += 20) {
            const int64_t s = start + int64_t(t) * 10000;
            ASSERT_EQ(audio->PushSample({pcm, s, s + 200000, true}), S_OK);
        }
    }
    // The next graph event code, or 0 when none comes within a second.
    int32_t NextEvent()
    {
        int32_t code = 0;
        intptr_t p1 = 0, p2 = 0;
        if (graph->GetEvent(&code, &p1, &p2, 1000) != S_OK)
            return 0;
        graph->FreeEventParams(code, p1, p2);
        return code;
    }

    std::filesystem::path dir;
    std::string file;
    OutputEncoder encoder;
    ComPtr<CFilterGraph> graph;
    ComPtr<TestSourceFilter> audio, video;
    ComPtr<CConvFilter> conv;
    ComPtr<RecordingSinkFilter> previewSink;
};

TEST(ConvFilter, RetimesPicturesToTheOutputFrameRate)
{
    struct Case {
        const char* name;
        int64_t inputFrame;  // 100 ns
        int outputRate;
        int pictures;
        int64_t expectedFrames;
    };
    const Case cases[] = {
        // 3 s at 29.97 into 25 fps: about one picture in six is dropped.
        {"29.97 -> 25", 333667, 25000, 90, 76},
        // 3 s at 23.976 into 29.97: about one picture in four is encoded twice.
        {"23.976 -> 29.97", 417083, 29970, 72, 90},
        {"same rate", 400000, 25000, 50, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SinkRig rig(Profile(c.outputRate, true, false), false, true);
        ASSERT_EQ(rig.graph->Run(), S_OK);
        rig.PushPictures(c.pictures, c.inputFrame);
        EXPECT_EQ(rig.encoder.VideoFramesWritten(), c.expectedFrames);
        // The output slots stay a frame duration apart whatever came in.
        const int64_t slot = static_cast<int64_t>(1e10 / c.outputRate);
        EXPECT_NEAR(static_cast<double>(rig.conv->NextVideoTime()), static_cast<double>(c.expectedFrames * slot),
                    static_cast<double>(c.expectedFrames));
    }
}

TEST(ConvFilter, TrimWindowKeepsOnlyWhatOverlapsIt)
{
    SinkRig rig(Profile(25000, true, false), false, true);
    rig.conv->SetTrimWindow(1 * kSecond, 2 * kSecond);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    rig.PushPictures(75, 400000);  // 0 .. 3 s
    // Pictures from 1 s to 2 s fill the one second of output slots. The one whose start is
    // exactly the trim stop passes the window test, but no slot starts inside the window
    // after it; the one that ends exactly at the trim start has no slot before its end.
    EXPECT_EQ(rig.encoder.VideoFramesWritten(), 25);
    EXPECT_EQ(rig.conv->NextVideoTime(), 25 * 400000);
}

TEST(ConvFilter, AudioIsPlacedOnTheTitleTimeLine)
{
    struct Case {
        const char* name;
        int64_t trimStart;
        int64_t firstAudio;  // start of the first audio sample
        int audioMs;
        int64_t expectedSamples;  // at 48 kHz
    };
    const Case cases[] = {
        {"in step", 0, 0, 1000, 48000},
        // Audio that starts 200 ms late gets 200 ms of silence before it.
        {"late start", 0, 2000000, 1000, 48000 + 9600},
        // Within 50 ms the bytes are taken as they come.
        {"small offset", 0, 300000, 1000, 48000},
        // A trim start inside the audio: what lies before it is dropped.
        {"trimmed start", 5000000, 0, 1000, 24000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SinkRig rig(Profile(25000, false, true), true, false);
        rig.conv->SetTrimWindow(c.trimStart, c.trimStart + 10 * kSecond);
        ASSERT_EQ(rig.graph->Run(), S_OK);
        rig.PushAudio(c.firstAudio, c.audioMs);
        ASSERT_TRUE(rig.encoder.Close());
        EXPECT_EQ(rig.encoder.AudioSamplesWritten(), c.expectedSamples);
    }
}

TEST(ConvFilter, AudioEndsAtTheTrimStop)
{
    SinkRig rig(Profile(25000, false, true), true, false);
    rig.conv->SetTrimWindow(0, 5000000);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    rig.PushAudio(0, 1000);
    ASSERT_TRUE(rig.encoder.Close());
    EXPECT_EQ(rig.encoder.AudioSamplesWritten(), 24000);
}

TEST(ConvFilter, CompletionWaitsForEveryConnectedInput)
{
    {
        SCOPED_TRACE("audio only");
        SinkRig rig(Profile(25000, false, true), true, false);
        ASSERT_EQ(rig.graph->Run(), S_OK);
        rig.PushAudio(0, 100);
        ASSERT_EQ(rig.audio->PushEndOfStream(), S_OK);
        EXPECT_EQ(rig.NextEvent(), EC_COMPLETE);
    }
    {
        SCOPED_TRACE("both");
        SinkRig rig(Profile(25000, true, true));
        ASSERT_EQ(rig.graph->Run(), S_OK);
        rig.PushAudio(0, 100);
        rig.PushPictures(3, 400000);
        ASSERT_EQ(rig.audio->PushEndOfStream(), S_OK);
        int32_t code = 0;
        intptr_t p1 = 0, p2 = 0;
        EXPECT_EQ(rig.graph->GetEvent(&code, &p1, &p2, 100), E_ABORT) << "only audio has ended";
        ASSERT_EQ(rig.video->PushEndOfStream(), S_OK);
        EXPECT_EQ(rig.NextEvent(), EC_COMPLETE);
        EXPECT_EQ(rig.NextEvent(), 0) << "one completion per run";
    }
}

TEST(ConvFilter, PreviewGetsEveryFifthPictureOnlyWhenOn)
{
    for (bool on : {true, false}) {
        SCOPED_TRACE(on);
        SinkRig rig(Profile(25000, true, false), false, true, true);
        rig.conv->SetPreview(on);
        ASSERT_EQ(rig.graph->Run(), S_OK);
        rig.PushPictures(12, 400000);
        EXPECT_EQ(rig.encoder.VideoFramesWritten(), 12) << "the encode path is the same";
        if (on) {
            ASSERT_TRUE(rig.previewSink->WaitFor(3));
            const auto got = rig.previewSink->Samples();
            ASSERT_EQ(got.size(), 3u);  // pictures 0, 5, 10
            EXPECT_EQ(got[0].size, kWidth * kHeight * 3 / 2);
        } else {
            EXPECT_FALSE(rig.previewSink->WaitFor(1, std::chrono::milliseconds(100)));
        }
    }
}

TEST(ConvFilter, WithoutTheMatchingStreamSamplesAreDropped)
{
    SinkRig rig(Profile(25000, false, true));  // the file has no video stream
    ASSERT_EQ(rig.graph->Run(), S_OK);
    rig.PushPictures(10, 400000);
    EXPECT_EQ(rig.encoder.VideoFramesWritten(), 0);
    EXPECT_EQ(rig.conv->NextVideoTime(), 0);
}

TEST(ConvFilter, SeekingIsPassedToTheAudioUpstream)
{
    SinkRig rig(Profile(25000, false, true), true, false);
    auto seeking = QueryInterface<IMediaSeeking>(rig.conv.Get());
    ASSERT_TRUE(seeking);
    int64_t duration = 0;
    // The test source offers no seeking: the pass-through says so rather than inventing one.
    EXPECT_TRUE(Failed(seeking->GetDuration(&duration)));
}

}  // namespace
