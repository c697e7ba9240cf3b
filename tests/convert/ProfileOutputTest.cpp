// Every delivered output profile converts a trimmed authored title into a file that ffprobe
// reads with the profile's container, codecs, picture size, frame rate, sample rate and
// channel count, and with the trimmed length in both streams.
#include <gtest/gtest.h>

#include <cmath>
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
        // Containers with millisecond stamps round each one: measure over the whole run.
        const double measured = double(times.size() - 1) / (times.back() - times.front());
        EXPECT_NEAR(measured, fps, fps * 0.005) << "frame rate";
        EXPECT_NEAR(times.size() / fps, kTrimSeconds, 1.0 / fps + 1e-6) << times.size() << " pictures";
    }

    const ProbeSection* audio = media.Stream("audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->Get("codec_name"), CodecOf(audioEncoder));
    EXPECT_EQ(audio->Number("sample_rate"), profile.SampleRate);
    EXPECT_EQ(audio->Number("channels"), profile.Channel);
    const double rate = profile.SampleRate;
    EXPECT_NEAR(media.audioSamples / rate, kTrimSeconds, media.audioLongestFrame / rate + 1e-6)
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
