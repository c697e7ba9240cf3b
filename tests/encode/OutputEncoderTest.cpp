#include "encode/OutputEncoder.h"

#include "MediaCheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct ProfileValues {
    const char* ext;
    const char* videoCodec;  // "" for none
    int width;
    int height;
    int frameRate;
    const char* audioCodec;  // "" for none
    int sampleRate;
    int channels;
    int videoBitRate = 400000;
    int audioBitRate = 128000;
};

FormatProfile MakeProfile(const ProfileValues& v)
{
    FormatProfile p{};
    for (size_t i = 0; v.ext[i] && i + 1 < std::size(p.FormatExt); ++i)
        p.FormatExt[i] = static_cast<char16_t>(v.ext[i]);
    p.VideoEnabled = *v.videoCodec ? 1 : 0;
    p.Width = v.width;
    p.Height = v.height;
    p.FrameRate = v.frameRate;
    p.VideoBitRate = v.videoBitRate;
    std::strncpy(p.VideoCodecName, v.videoCodec, sizeof p.VideoCodecName - 1);
    p.AudioEnabled = *v.audioCodec ? 1 : 0;
    p.SampleRate = v.sampleRate;
    p.Channel = v.channels;
    p.AudioBitRate = v.audioBitRate;
    std::strncpy(p.AudioCodecName, v.audioCodec, sizeof p.AudioCodecName - 1);
    return p;
}

// A YV12 picture: a diagonal luma gradient that moves with the frame number, flat chroma.
std::vector<uint8_t> Gradient(int width, int height, int frame)
{
    std::vector<uint8_t> picture(width * height * 3 / 2, 128);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture[y * width + x] = static_cast<uint8_t>(16 + (x + y + 4 * frame) % 200);
    return picture;
}

// A YV12 picture of luma noise: it does not compress, so files grow fast.
std::vector<uint8_t> Noise(int width, int height, int seed)
{
    std::vector<uint8_t> picture(width * height * 3 / 2, 128);
    uint32_t state = 2654435761u * (seed + 1);
    for (int i = 0; i < width * height; ++i) {
        state = state * 1664525u + 1013904223u;
        picture[i] = static_cast<uint8_t>(16 + (state >> 24) % 220);
    }
    return picture;
}

// `samples` frames of a 440 Hz sine on every channel, starting at sample `first`.
std::vector<uint8_t> Sine(long long first, int samples, int channels, int rate)
{
    std::vector<uint8_t> pcm(static_cast<size_t>(samples) * channels * 2);
    for (int i = 0; i < samples; ++i) {
        const auto value = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * double(first + i) / rate));
        for (int c = 0; c < channels; ++c) {
            pcm[(i * channels + c) * 2] = static_cast<uint8_t>(value & 0xff);
            pcm[(i * channels + c) * 2 + 1] = static_cast<uint8_t>((value >> 8) & 0xff);
        }
    }
    return pcm;
}

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/zdr-encode-XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempDir()
    {
        if (!std::getenv("ZDR_KEEP_ENCODE_FILES"))  // keep the outputs to look at them
            fs::remove_all(m_path);
    }
    std::string File(const std::string& name) const { return (fs::path(m_path) / name).string(); }

private:
    std::string m_path;
};

// Feeds `frames` pictures and, when the profile has audio, the PCM that belongs with each
// picture (as the sink hands it over: one call per picture's worth). Continues from the
// picture and sample counts given, so that several calls make one merged file.
struct Feed {
    int picture = 0;
    long long sample = 0;
    bool ok = true;

    void Run(OutputEncoder& encoder, const FormatProfile& p, int frames)
    {
        const int rate = p.FrameRate ? p.FrameRate : 25000;
        for (int i = 0; i < frames; ++i, ++picture) {
            if (encoder.HasVideoStream()) {
                const auto pic = Gradient(p.Width, p.Height, picture);
                ok = ok && encoder.WriteVideo(pic.data()) == 0;
            }
            if (encoder.HasAudioStream()) {
                const long long until = (picture + 1LL) * p.SampleRate * 1000 / rate;
                const auto pcm = Sine(sample, static_cast<int>(until - sample), p.Channel, p.SampleRate);
                ok = ok && encoder.WriteAudio(pcm.data(), static_cast<int>(pcm.size())) == 0;
                sample = until;
            }
        }
    }
};

double FrameSeconds(int frameRate)
{
    if (frameRate == 29970)
        return 1001.0 / 30000;
    if (frameRate == 23976)
        return 1001.0 / 24000;
    return 1000.0 / frameRate;
}

// ---------------------------------------------------------------------------------------------
// Every kind of profile: what ffprobe reads back, exact picture count, durations.

struct ProfileCase {
    const char* name;
    ProfileValues values;
    int frames;
    const char* format;      // ffprobe format_name contains this
    const char* videoName;   // ffprobe codec_name
    const char* frameRate;   // ffprobe r_frame_rate
    const char* audioName;
    int audioFrameSamples;   // one codec frame
    int audioPriming;        // samples the encoder adds in front that the container cannot mark
};

class OutputEncoderProfile : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(OutputEncoderProfile, WritesWhatTheProfileSays)
{
    const ProfileCase& c = GetParam();
    TempDir dir;
    const std::string file = dir.File(std::string("out") + c.values.ext);
    const FormatProfile profile = MakeProfile(c.values);

    OutputEncoder encoder;
    ASSERT_TRUE(encoder.Open(file, profile)) << encoder.LastError() << ": " << encoder.LastErrorDetail();
    EXPECT_EQ(encoder.HasVideoStream(), *c.videoName != 0);
    EXPECT_EQ(encoder.HasAudioStream(), *c.audioName != 0);
    Feed feed;
    feed.Run(encoder, profile, c.frames);
    EXPECT_TRUE(feed.ok) << encoder.LastErrorDetail();
    ASSERT_TRUE(encoder.Close()) << encoder.LastErrorDetail();

    const ProbedFile probe = Probe(file);
    EXPECT_NE(probe.formatName.find(c.format), std::string::npos) << probe.formatName;
    const auto* video = probe.Stream("video");
    const auto* audio = probe.Stream("audio");
    const DecodedFile decoded = Decode(file);
    ASSERT_TRUE(decoded.ok);
    if (*c.videoName) {
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->at("codec_name"), c.videoName);
        EXPECT_EQ(video->at("width"), std::to_string(c.values.width));
        EXPECT_EQ(video->at("height"), std::to_string(c.values.height));
        EXPECT_EQ(video->at("r_frame_rate"), c.frameRate);
        // DV has only the 4:3 and 16:9 display flags: square pixels come back as NTSC's 8:9.
        EXPECT_EQ(video->at("sample_aspect_ratio"), std::string(c.values.ext) == ".dv" ? "8:9" : "1:1");
        EXPECT_EQ(video->at("nb_read_frames"), std::to_string(c.frames));
        EXPECT_EQ(decoded.video.frames, c.frames);
        EXPECT_TRUE(decoded.video.packetTimesIncreasing);
        const double frame = FrameSeconds(c.values.frameRate);
        EXPECT_NEAR(decoded.video.end - decoded.video.firstPts, c.frames * frame, frame + 1e-6);
    } else {
        EXPECT_EQ(video, nullptr);
    }
    if (*c.audioName) {
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->at("codec_name"), c.audioName);
        EXPECT_EQ(audio->at("sample_rate"), std::to_string(c.values.sampleRate));
        EXPECT_EQ(audio->at("channels"), std::to_string(c.values.channels));
        // Nothing of the end is lost; at most one codec frame of padding (and priming) more.
        EXPECT_GE(decoded.audio.samples, feed.sample);
        EXPECT_LE(decoded.audio.samples, feed.sample + c.audioFrameSamples + c.audioPriming);
    } else {
        EXPECT_EQ(audio, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, OutputEncoderProfile,
    ::testing::Values(
        ProfileCase{"H264_MP4", {".mp4", "libx264", 160, 120, 25000, "aac", 48000, 2}, 25,
            "mp4", "h264", "25/1", "aac", 1024, 0},
        ProfileCase{"MPEG4_AVI", {".avi", "mpeg4", 160, 120, 25000, "libmp3lame", 44100, 2}, 25,
            "avi", "mpeg4", "25/1", "mp3", 1152, 1105},
        ProfileCase{"MPEG2_MPG", {".mpg", "mpeg2video", 176, 144, 25000, "mp2", 48000, 2}, 25,
            "mpeg", "mpeg2video", "25/1", "mp2", 1152, 481},
        ProfileCase{"MPEG1_MPG_2997", {".mpg", "mpeg1video", 160, 120, 29970, "mp2", 44100, 2}, 30,
            "mpeg", "mpeg1video", "30000/1001", "mp2", 1152, 481},
        ProfileCase{"WMV", {".wmv", "wmv2", 160, 120, 25000, "wmav2", 44100, 2}, 25,
            "asf", "wmv2", "25/1", "wmav2", 2048, 2048},
        ProfileCase{"DV", {".dv", "dvvideo", 720, 480, 29970, "pcm_s16le", 48000, 2, 25000000, 1536000}, 10,
            "dv", "dvvideo", "30000/1001", "pcm_s16le", 1602, 0},
        ProfileCase{"MKV", {".mkv", "libx264", 160, 120, 23976, "libvorbis", 48000, 2}, 24,
            "matroska", "h264", "24000/1001", "vorbis", 2048, 0},
        ProfileCase{"MJPEG_AVI", {".avi", "mjpeg", 160, 120, 25000, "pcm_s16le", 22050, 1}, 10,
            "avi", "mjpeg", "25/1", "pcm_s16le", 0, 0},
        ProfileCase{"AudioOnlyMP3", {".mp3", "", 0, 0, 25000, "libmp3lame", 44100, 2}, 25,
            "mp3", "", "", "mp3", 1152, 0},
        ProfileCase{"AudioOnlyWAV", {".wav", "", 0, 0, 25000, "pcm_s16le", 44100, 2}, 25,
            "wav", "", "", "pcm_s16le", 0, 0},
        ProfileCase{"VideoOnly", {".avi", "mpeg4", 160, 120, 25000, "", 0, 0}, 25,
            "avi", "mpeg4", "25/1", "", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Codec set-up.

TEST(OutputEncoder, TimeBaseAndKeyFrameIntervalFollowTheFrameRate)
{
    struct Case {
        int frameRate;
        EncoderRational timeBase;
        int gop;
    };
    const Case cases[] = {
        {29970, {1001, 30000}, 29},
        {25000, {1, 25}, 25},
        {23976, {1001, 24000}, 23},
        {30000, {1, 30}, 30},
        {12500, {2, 25}, 12},  // a non-whole rate keeps its exact frame spacing
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frameRate);
        OutputEncoder encoder;
        ASSERT_TRUE(encoder.Open(dir.File("tb.avi"), MakeProfile({".avi", "mpeg4", 64, 48, c.frameRate, "", 0, 0})))
            << encoder.LastErrorDetail();
        EXPECT_EQ(encoder.VideoTimeBase().num, c.timeBase.num);
        EXPECT_EQ(encoder.VideoTimeBase().den, c.timeBase.den);
        EXPECT_EQ(encoder.VideoGopSize(), c.gop);
        EXPECT_TRUE(encoder.Close());
    }
}

TEST(OutputEncoder, ThreadsFollowTheCpuUsage)
{
    const int cores = std::max(1, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    struct Case {
        const char* codec;
        int percent;
        int expected;
    };
    const Case cases[] = {
        {"libx264", 100, std::min(cores, 16)},
        {"libx264", 1, 1},
        {"mpeg4", 50, std::max(1, cores / 2)},
        {"wmv2", 100, 1},  // no threading in this encoder
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.percent));
        OutputEncoder encoder;
        ASSERT_TRUE(encoder.Open(dir.File("t.mkv"), MakeProfile({".mkv", c.codec, 64, 48, 25000, "", 0, 0}), c.percent))
            << encoder.LastErrorDetail();
        EXPECT_EQ(encoder.VideoThreadCount(), c.expected);
        encoder.Close();
    }
}

TEST(OutputEncoder, OpenFailsWithAReason)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string file;
        ProfileValues values;
        const char* error;
    };
    const Case cases[] = {
        {"unknown extension", dir.File("out.xyzzy"), {".xyzzy", "mpeg4", 64, 48, 25000, "mp2", 48000, 2},
            "Unknown output format"},
        {"no such video encoder", dir.File("out.avi"), {".avi", "nosuchcodec", 64, 48, 25000, "mp2", 48000, 2},
            "Unknown video encoder"},
        {"no such audio encoder", dir.File("out.avi"), {".avi", "mpeg4", 64, 48, 25000, "nosuchcodec", 48000, 2},
            "Unknown audio encoder"},
        {"neither stream", dir.File("out.avi"), {".avi", "", 64, 48, 25000, "", 48000, 2},
            "The profile has no video and no audio"},
        {"folder missing", dir.File("missing/out.avi"), {".avi", "mpeg4", 64, 48, 25000, "mp2", 48000, 2},
            "Cannot create the output file"},
        {"odd picture size", dir.File("out.avi"), {".avi", "mpeg4", 65, 48, 25000, "", 0, 0},
            "Invalid picture size"},
        {"encoder refuses the sample rate", dir.File("out.mp3"), {".mp3", "", 0, 0, 25000, "libmp3lame", 12345, 2},
            "Cannot open the audio encoder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputEncoder encoder;
        EXPECT_FALSE(encoder.Open(c.file, MakeProfile(c.values)));
        EXPECT_EQ(encoder.LastError(), c.error) << encoder.LastErrorDetail();
        EXPECT_FALSE(encoder.LastErrorDetail().empty());
        EXPECT_FALSE(encoder.HasVideoStream());
        EXPECT_FALSE(encoder.HasAudioStream());
        EXPECT_FALSE(encoder.IsOpen());
        EXPECT_FALSE(fs::exists(c.file));
        const uint8_t pcm[16] = {};
        EXPECT_EQ(encoder.WriteAudio(pcm, sizeof pcm), -1);
        EXPECT_TRUE(encoder.Close());
    }
}

TEST(OutputEncoder, FolderThatIsNotWritableFailsOpen)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind root";
    TempDir dir;
    fs::create_directory(dir.File("ro"));
    fs::permissions(dir.File("ro"), fs::perms::owner_read | fs::perms::owner_exec);
    OutputEncoder encoder;
    EXPECT_FALSE(encoder.Open(dir.File("ro/out.avi"), MakeProfile({".avi", "mpeg4", 64, 48, 25000, "", 0, 0})));
    EXPECT_EQ(encoder.LastError(), "Cannot create the output file");
    fs::permissions(dir.File("ro"), fs::perms::owner_all);
}

TEST(OutputEncoder, HeaderThatCannotBeWrittenFailsOpen)
{
    TempDir dir;
    const std::string file = dir.File("full.avi");
    fs::create_symlink("/dev/full", file);
    OutputEncoder encoder;
    EXPECT_FALSE(encoder.Open(file, MakeProfile({".avi", "mpeg4", 64, 48, 25000, "mp2", 48000, 2})));
    EXPECT_EQ(encoder.LastError(), "Cannot write the output file");
    EXPECT_NE(encoder.LastErrorDetail().find("No space"), std::string::npos) << encoder.LastErrorDetail();
    EXPECT_FALSE(encoder.IsOpen());
}

// A write that fails half-way makes every later write fail, and Close reports it. With the file
// size limit standing in for a full disk, the part written stays a closed, readable file.
TEST(OutputEncoder, WriteErrorIsStickyAndReportedByClose)
{
    struct Case {
        const char* name;
        bool deviceFull;  // write through a link to /dev/full; else under a file size limit
    };
    for (const Case c : {Case{"file size limit", false}, Case{"device full", true}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string file = dir.File("limited.mpg");
        if (c.deviceFull)
            fs::create_symlink("/dev/full", file);
        const FormatProfile profile = MakeProfile({".mpg", "mpeg2video", 176, 144, 25000, "mp2", 48000, 2, 2000000});

        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = 96 * 1024;
        if (!c.deviceFull)
            setrlimit(RLIMIT_FSIZE, &limited);

        OutputEncoder encoder;
        const bool opened = encoder.Open(file, profile);
        int failedAt = -1;
        // 1921 samples a picture: the ring never happens to be empty when the write fails.
        const auto pictureTime = Sine(0, 1921, 2, 48000);
        for (int i = 0; opened && i < 250 && failedAt < 0; ++i) {
            const auto picture = Noise(176, 144, i);
            if (encoder.WriteVideo(picture.data()) != 0 || encoder.WriteAudio(pictureTime.data(), 1921 * 4) != 0)
                failedAt = i;
        }
        const auto picture = Gradient(176, 144, 0);
        const int afterVideo = encoder.WriteVideo(picture.data());
        const int afterAudio = encoder.WriteAudio(pictureTime.data(), 1921 * 4);
        const size_t heldAtClose = encoder.AudioBytesHeld();
        const bool closed = encoder.Close();
        const std::string error = encoder.LastError();

        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        ASSERT_TRUE(opened) << encoder.LastErrorDetail();
        EXPECT_GT(failedAt, 0);
        EXPECT_EQ(afterVideo, -1);
        EXPECT_EQ(afterAudio, -1);
        EXPECT_FALSE(closed);
        EXPECT_TRUE(encoder.HasError());
        EXPECT_EQ(error, "Cannot write the output file");
        EXPECT_FALSE(encoder.IsOpen());
        if (!c.deviceFull) {
            EXPECT_NE(Probe(file).formatName.find("mpeg"), std::string::npos);
            EXPECT_GT(Decode(file).video.frames, 0);
        }

        // The PCM the failed file still held does not go into the next one; its error is gone.
        EXPECT_GT(heldAtClose, 0u);
        ASSERT_TRUE(encoder.Open(dir.File("next.mka"), MakeProfile({".mka", "", 0, 0, 25000, "mp2", 48000, 2})));
        EXPECT_FALSE(encoder.HasError());
        EXPECT_EQ(encoder.AudioBytesHeld(), 0u);
        ASSERT_EQ(encoder.WriteAudio(pictureTime.data(), 4000), 0);
        EXPECT_EQ(encoder.AudioPacketsEncoded(), 0);
        EXPECT_TRUE(encoder.Close());
    }
}

// ---------------------------------------------------------------------------------------------
// Audio framing.

TEST(OutputEncoder, FrameCodecWaitsForAWholeFrame)
{
    TempDir dir;
    OutputEncoder encoder;
    ASSERT_TRUE(encoder.Open(dir.File("a.mp2"), MakeProfile({".mp2", "", 0, 0, 25000, "mp2", 48000, 2})))
        << encoder.LastErrorDetail();
    EXPECT_EQ(encoder.AudioFrameBytes(), 4608);
    const auto pcm = Sine(0, 1250, 2, 48000);  // 5000 bytes
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(encoder.WriteAudio(pcm.data() + i * 1000, 1000), 0);
        EXPECT_EQ(encoder.AudioPacketsEncoded(), 0);
        EXPECT_EQ(encoder.AudioBytesHeld(), 1000u * (i + 1));
    }
    ASSERT_EQ(encoder.WriteAudio(pcm.data() + 4000, 1000), 0);
    EXPECT_EQ(encoder.AudioPacketsEncoded(), 1);
    EXPECT_EQ(encoder.AudioBytesHeld(), 5000u - 4608u);
    EXPECT_TRUE(encoder.Close());
}

TEST(OutputEncoder, PcmCodecWritesEachCallAsOnePacket)
{
    TempDir dir;
    for (const char* codec : {"pcm_s16le", "pcm_s16be"}) {
        SCOPED_TRACE(codec);
        OutputEncoder encoder;
        const std::string file = dir.File(std::string(codec) + ".mkv");
        ASSERT_TRUE(encoder.Open(file, MakeProfile({".mkv", "", 0, 0, 25000, codec, 48000, 2})))
            << encoder.LastErrorDetail();
        EXPECT_EQ(encoder.AudioFrameBytes(), 0);
        const auto pcm = Sine(0, 4000, 2, 48000);
        int packets = 0;
        for (int length : {400, 16000, 4, 3584}) {
            ASSERT_EQ(encoder.WriteAudio(pcm.data(), length), 0);
            EXPECT_EQ(encoder.AudioPacketsEncoded(), ++packets);
            EXPECT_EQ(encoder.LastAudioPacketBytes(), length);
            EXPECT_EQ(encoder.AudioBytesHeld(), 0u);
        }
        EXPECT_TRUE(encoder.Close());
        EXPECT_EQ(Decode(file).audio.samples, (400 + 16000 + 4 + 3584) / 4);
    }
}

// Whatever is left in the ring at Close is encoded: a short last frame where the encoder takes
// one, a frame padded with silence where it does not; so no sample is lost.
TEST(OutputEncoder, CloseEncodesThePcmLeftInTheRing)
{
    struct Case {
        ProfileValues values;
        int samples;
        long long minDecoded;
        long long maxDecoded;
    };
    const Case cases[] = {
        {{".mp2", "", 0, 0, 25000, "mp2", 48000, 2}, 1152 * 3 + 100, 1152 * 4, 1152 * 4},  // padded
        {{".m4a", "", 0, 0, 25000, "aac", 48000, 2}, 1024 * 3 + 100, 1024 * 3 + 100, 1024 * 4},
        {{".mkv", "", 0, 0, 25000, "libvorbis", 44100, 1}, 1000, 1000, 1000 + 2048},
        {{".wma", "", 0, 0, 25000, "wmav2", 44100, 2}, 2048 * 2 + 100, 2048 * 2 + 100, 2048 * 5},
        // More than the ring holds in one call: nothing is dropped.
        {{".mka", "", 0, 0, 25000, "mp2", 48000, 2}, 150000, 150000, 150000 + 481 + 1152},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values.audioCodec);
        const std::string file = dir.File(std::string("rest") + c.values.ext);
        OutputEncoder encoder;
        ASSERT_TRUE(encoder.Open(file, MakeProfile(c.values))) << encoder.LastErrorDetail();
        const auto pcm = Sine(0, c.samples, c.values.channels, c.values.sampleRate);
        ASSERT_EQ(encoder.WriteAudio(pcm.data(), static_cast<int>(pcm.size())), 0);
        EXPECT_GT(encoder.AudioBytesHeld(), 0u);
        ASSERT_TRUE(encoder.Close());
        const DecodedFile decoded = Decode(file);
        EXPECT_GE(decoded.audio.samples, c.minDecoded);
        EXPECT_LE(decoded.audio.samples, c.maxDecoded);
    }
}

TEST(OutputEncoder, OpenStartsWithAnEmptyRing)
{
    TempDir dir;
    const FormatProfile profile = MakeProfile({".mka", "", 0, 0, 25000, "mp2", 48000, 2});
    const auto pcm = Sine(0, 1250, 2, 48000);
    OutputEncoder encoder;
    ASSERT_TRUE(encoder.Open(dir.File("first.mka"), profile));
    ASSERT_EQ(encoder.WriteAudio(pcm.data(), 1000), 0);
    // The second file is opened straight away: the first one's PCM goes into the first one.
    ASSERT_TRUE(encoder.Open(dir.File("second.mka"), profile));
    EXPECT_EQ(encoder.AudioBytesHeld(), 0u);
    ASSERT_EQ(encoder.WriteAudio(pcm.data(), 4000), 0);
    EXPECT_EQ(encoder.AudioPacketsEncoded(), 0);
    ASSERT_TRUE(encoder.Close());
    // The encoder's output lags by initial_padding (481) samples, pushed out at Close: the first
    // file's 250 samples fit one frame, the second file's 1000 take two; nothing moved across.
    EXPECT_EQ(Decode(dir.File("first.mka")).audio.samples, 1152);
    EXPECT_EQ(Decode(dir.File("second.mka")).audio.samples, 2304);
}

// ---------------------------------------------------------------------------------------------
// Pictures and time stamps.

// Drains the encoder's delayed pictures at Close (libx264 holds many in its look-ahead).
TEST(OutputEncoder, CloseDrainsDelayedPictures)
{
    TempDir dir;
    const std::string file = dir.File("delay.mp4");
    const FormatProfile profile = MakeProfile({".mp4", "libx264", 64, 48, 25000, "", 0, 0});
    OutputEncoder encoder;
    ASSERT_TRUE(encoder.Open(file, profile));
    Feed feed;
    feed.Run(encoder, profile, 7);
    ASSERT_TRUE(feed.ok);
    ASSERT_TRUE(encoder.Close());
    EXPECT_EQ(Decode(file).video.frames, 7);
}

// Two entries written into one file: pictures stay one frame apart across the join, audio
// follows on, and the whole is as long as both.
TEST(OutputEncoder, MergedEntriesKeepTimeStampsContinuous)
{
    TempDir dir;
    struct Case {
        ProfileValues values;
    };
    const Case cases[] = {
        {{".mp4", "libx264", 64, 48, 25000, "aac", 48000, 2}},
        {{".mkv", "mpeg4", 64, 48, 29970, "libmp3lame", 44100, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values.ext);
        const std::string file = dir.File(std::string("merged") + c.values.ext);
        const FormatProfile profile = MakeProfile(c.values);
        OutputEncoder encoder;
        ASSERT_TRUE(encoder.Open(file, profile));
        Feed feed;
        feed.Run(encoder, profile, 12);
        feed.Run(encoder, profile, 13);
        ASSERT_TRUE(feed.ok);
        ASSERT_TRUE(encoder.Close());

        const DecodedFile decoded = Decode(file);
        const double frame = FrameSeconds(c.values.frameRate);
        ASSERT_EQ(decoded.video.pts.size(), 25u);
        EXPECT_TRUE(decoded.video.packetTimesIncreasing);
        EXPECT_TRUE(decoded.audio.packetTimesIncreasing);
        for (size_t i = 1; i < decoded.video.pts.size(); ++i)
            EXPECT_NEAR(decoded.video.pts[i] - decoded.video.pts[i - 1], frame, 1.5e-3) << "picture " << i;
        EXPECT_NEAR(decoded.audio.end - decoded.audio.firstPts, 25 * frame, 0.06);
    }
}

// The caller may reuse its picture buffer as soon as WriteVideo returns: the encoder's output
// shows each picture as it was at the call, whether the encoder copies, keeps or converts it.
TEST(OutputEncoder, PictureBufferIsFreeWhenWriteVideoReturns)
{
    struct Case {
        ProfileValues values;
        bool zeroCopy;  // expected to encode straight from the caller's buffer (with 2+ cores)
    };
    const Case cases[] = {
        {{".mp4", "libx264", 64, 48, 25000, "", 0, 0, 2000000}, true},
        {{".avi", "mpeg4", 64, 48, 25000, "", 0, 0, 2000000}, true},
        {{".mpg", "mpeg2video", 64, 48, 25000, "", 0, 0, 2000000}, true},
        {{".wmv", "wmv2", 64, 48, 25000, "", 0, 0, 2000000}, true},
        {{".mkv", "ffvhuff", 64, 48, 25000, "", 0, 0, 2000000}, false},  // frame threads keep it
        {{".avi", "mjpeg", 64, 48, 25000, "", 0, 0, 2000000}, false},    // converted first
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values.videoCodec);
        const std::string file = dir.File(std::string("reuse") + c.values.ext);
        OutputEncoder encoder;
        ASSERT_TRUE(encoder.Open(file, MakeProfile(c.values))) << encoder.LastErrorDetail();
        std::vector<uint8_t> buffer(64 * 48 * 3 / 2);
        const int frames = 12;
        for (int i = 0; i < frames; ++i) {
            std::fill(buffer.begin(), buffer.begin() + 64 * 48, static_cast<uint8_t>(40 + 12 * i));
            std::fill(buffer.begin() + 64 * 48, buffer.end(), 128);
            ASSERT_EQ(encoder.WriteVideo(buffer.data()), 0);
            std::fill(buffer.begin(), buffer.end(), 255);
        }
        if (std::thread::hardware_concurrency() > 1 || c.zeroCopy) {
            EXPECT_EQ(encoder.VideoUsesCallerBuffer(), c.zeroCopy);
        }
        ASSERT_TRUE(encoder.Close());
        const DecodedFile decoded = Decode(file);
        ASSERT_EQ(decoded.video.lumaMeans.size(), size_t(frames));
        for (int i = 0; i < frames; ++i) {
            const double expected = c.values.videoCodec == std::string("mjpeg")
                ? (40 + 12 * i - 16) * 255.0 / 219  // full-range luma
                : 40 + 12 * i;
            EXPECT_NEAR(decoded.video.lumaMeans[i], expected, 4) << "picture " << i;
        }
    }
}

// YV12 holds V before U: a picture with U high and V low comes out blue, not red.
TEST(OutputEncoder, ChromaPlanesAreTakenInYv12Order)
{
    TempDir dir;
    for (const char* codec : {"libx264", "dvvideo"}) {
        SCOPED_TRACE(codec);
        const bool dv = codec == std::string("dvvideo");
        const int w = dv ? 720 : 64;
        const int h = dv ? 480 : 48;
        const std::string file = dir.File(std::string("chroma") + (dv ? ".dv" : ".mkv"));
        OutputEncoder encoder;
        ASSERT_TRUE(encoder.Open(file, MakeProfile({dv ? ".dv" : ".mkv", codec, w, h, 29970, "", 0, 0, 2000000})))
            << encoder.LastErrorDetail();
        std::vector<uint8_t> picture(w * h * 3 / 2, 100);
        const int chroma = (w / 2) * (h / 2);
        std::fill(picture.begin() + w * h, picture.begin() + w * h + chroma, 60);  // V
        std::fill(picture.begin() + w * h + chroma, picture.end(), 200);          // U
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(encoder.WriteVideo(picture.data()), 0);
        ASSERT_TRUE(encoder.Close());

        // Every picture (the first is copied, later ones may be encoded in place) as one pixel.
        const std::string command = "ffmpeg -v error -i '" + file
            + "' -vf scale=1:1:flags=area,format=yuv444p -f rawvideo - 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        uint8_t yuv[9] = {};
        const size_t got = fread(yuv, 1, sizeof yuv, pipe);
        pclose(pipe);
        ASSERT_EQ(got, sizeof yuv);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(yuv[3 * i + 1], 200, 8) << "U of picture " << i;
            EXPECT_NEAR(yuv[3 * i + 2], 60, 8) << "V of picture " << i;
        }
    }
}

}  // namespace
