// Every delivered output profile converts a trimmed authored title into a file that ffprobe
// reads with the profile's container, codecs, picture size, frame rate, sample rate and
// channel count, and with the trimmed length in both streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "convert/ConvertRun.h"
#include "profiles/ProfileList.h"

namespace {

// Short enough to keep the whole list fast, long enough for several codec frames.
constexpr double kTrimSeconds = 0.7;

const ProfileList& Profiles()
{
    static const ProfileList* list = [] {
        auto* l = new ProfileList;
        LoadProfiles(FormatXmlPath(), *l);
        return l;
    }();
    return *list;
}

int ProfileCount()
{
    ProfileListLock lock(Profiles());
    return static_cast<int>(Profiles().Count());
}

FormatProfile ProfileAt(int index)
{
    ProfileListLock lock(Profiles());
    return Profiles().At(static_cast<size_t>(index));
}

// What ffprobe calls the container that a file extension selects.
std::string ContainerOf(const std::string& extension)
{
    static const std::map<std::string, std::string> names = {
        {".asf", "asf"}, {".wmv", "asf"}, {".wma", "asf"}, {".avi", "avi"}, {".dv", "dv"},
        {".vob", "mpeg"}, {".mpg", "mpeg"}, {".mpeg", "mpeg"}, {".ts", "mpegts"}, {".flv", "flv"},
        {".swf", "swf"}, {".ogg", "ogg"}, {".flac", "flac"}, {".wav", "wav"}, {".mkv", "matroska,webm"},
        {".mp3", "mp3"}, {".m4a", "mov,mp4,m4a,3gp,3g2,mj2"}, {".mp4", "mov,mp4,m4a,3gp,3g2,mj2"},
        {".mov", "mov,mp4,m4a,3gp,3g2,mj2"}, {".3gp", "mov,mp4,m4a,3gp,3g2,mj2"},
        {".3g2", "mov,mp4,m4a,3gp,3g2,mj2"}, {".ac3", "ac3"}, {".aac", "aac"}, {".mp2", "mp3"},
        {".aiff", "aiff"}, {".aif", "aiff"}, {".m4v", "mov,mp4,m4a,3gp,3g2,mj2"}, {".webm", "matroska,webm"},
    };
    auto it = names.find(extension);
    return it == names.end() ? "(unknown extension " + extension + ")" : it->second;
}

// What ffprobe calls the stream that an FFmpeg encoder writes.
std::string CodecOf(const std::string& encoder)
{
    static const std::map<std::string, std::string> names = {
        {"libx264", "h264"}, {"libxvid", "mpeg4"}, {"libmp3lame", "mp3"}, {"libvorbis", "vorbis"},
        {"flv", "flv1"}, {"msmpeg4", "msmpeg4v3"}, {"libtheora", "theora"}, {"libvpx", "vp8"},
        {"libopus", "opus"}, {"libfdk_aac", "aac"},
    };
    auto it = names.find(encoder);
    return it == names.end() ? encoder : it->second;
}

// 29970 means 30000/1001 frames per second, 23976 means 24000/1001.
double FramesPerSecond(int32_t thousandths)
{
    if (thousandths % 1000 != 0)
        return std::round(thousandths / 1000.0) * 1000.0 / 1001.0;
    return thousandths / 1000.0;
}

// Frames per second from the pictures' time stamps. Containers with millisecond stamps round
// each one, so the mean step is taken; a step of more than one and a half frames (ffmpeg's
// AVI reader shows the second picture of an AVI file one slot late) is left out.
double MeasuredFrameRate(const std::vector<double>& times)
{
    std::vector<double> steps;
    for (size_t i = 1; i < times.size(); ++i)
        steps.push_back(times[i] - times[i - 1]);
    std::vector<double> sorted = steps;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    double sum = 0;
    int count = 0;
    for (double step : steps) {
        if (step > 0 && step < median * 1.5) {
            sum += step;
            ++count;
        }
    }
    return count ? count / sum : 0;
}

// Samples of start-up delay that an audio encoder puts before the sound. Containers without
// an edit list cannot mark them, so a decoder plays them: the decoded length may exceed the
// trimmed length by them and by the silence that fills the last codec frame.
int EncoderDelay(const std::string& codec)
{
    static const std::map<std::string, int> delays = {{"aac", 1024}, {"mp3", 1105}, {"mp2", 529}, {"ac3", 256}};
    auto it = delays.find(codec);
    return it == delays.end() ? 0 : it->second;
}

class ProfileOutput : public testing::TestWithParam<int> {};

TEST_P(ProfileOutput, ConvertsATrimmedTitleIntoTheProfilesFile)
{
    const FormatProfile profile = ProfileAt(GetParam());
    const std::string videoEncoder = FieldText(profile.VideoCodecName);
    const std::string audioEncoder = FieldText(profile.AudioCodecName);
    SCOPED_TRACE(FieldText(profile.ProfileName) + " (" + videoEncoder + "/" + audioEncoder + ")");

    ScratchFolder out;
    char trim[32];
    std::snprintf(trim, sizeof trim, "%.3f", kTrimSeconds);
    const CliRun run = Convert(DiscPath("sample"),
                               {"--title", "1", "--profile", std::to_string(GetParam()), "--trim-length", trim,
                                "--data", ZDR_BIN_DIR},
                               out.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string file = OnlyFile(out);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.substr(file.size() - FieldText(profile.FormatExt).size()), FieldText(profile.FormatExt));

    const ProbedMedia media = ProbeMedia(file);
    ASSERT_TRUE(media.readable) << file;
    EXPECT_EQ(media.formatName, ContainerOf(FieldText(profile.FormatExt)));

    const ProbeSection* video = media.Stream("video");
    if (videoEncoder.empty() || profile.Width <= 0) {
        EXPECT_EQ(video, nullptr) << "an audio profile wrote a video stream";
    } else {
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->Get("codec_name"), CodecOf(videoEncoder));
        EXPECT_EQ(video->Number("width"), profile.Width);
        EXPECT_EQ(video->Number("height"), profile.Height);
        const double fps = FramesPerSecond(profile.FrameRate);
        const std::vector<double>& times = media.videoTimes;
        ASSERT_GE(times.size(), 3u);
        EXPECT_NEAR(MeasuredFrameRate(times), fps, fps * 0.005) << "frame rate";
        EXPECT_NEAR(times.size() / fps, kTrimSeconds, 1.0 / fps + 1e-6) << times.size() << " pictures";
    }

    const ProbeSection* audio = media.Stream("audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->Get("codec_name"), CodecOf(audioEncoder));
    EXPECT_EQ(audio->Number("sample_rate"), profile.SampleRate);
    EXPECT_EQ(audio->Number("channels"), profile.Channel);
    const double rate = profile.SampleRate;
    const int slack = media.audioLongestFrame + EncoderDelay(audio->Get("codec_name"));
    EXPECT_NEAR(media.audioSamples / rate, kTrimSeconds, slack / rate + 1e-6)
        << media.audioSamples << " samples, longest frame " << media.audioLongestFrame;
}

std::string ProfileTestName(const testing::TestParamInfo<int>& info)
{
    std::string name = std::to_string(info.param) + "_";
    for (char c : FieldText(ProfileAt(info.param).ProfileName)) {
        if (c == '(')
            break;
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(FormatXml, ProfileOutput, testing::Range(0, ProfileCount()), ProfileTestName);

}  // namespace
