// The flash title (a white picture and a 1 kHz beep at every whole second) converted to
// H.264/MP4: pictures and sound stay together from the start to the end of the file, and a
// trimmed conversion starts and stops where it was asked to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "convert/ConvertRun.h"

namespace {

const char* kH264Profile = "H.264/MPEG-4 AVC Video(*.mp4)";
constexpr double kFrame = 1001.0 / 30000.0;  // the profile's 29.97 frames per second
constexpr double kAacFrame = 1024.0 / 44100.0;
constexpr int kRate = 48000;                 // the rate the sound is decoded at for the checks

struct Converted {
    ProbedMedia media;
    std::vector<double> flashes;  // times of the pictures that turn white
    std::vector<double> beeps;    // times of the beep onsets
};

// Converts the flash title with `args` and finds the flashes and beeps of the output.
Converted ConvertFlash(const std::vector<std::string>& args)
{
    Converted c;
    ScratchFolder out;
    std::vector<std::string> all = {"--title", "1", "--profile", kH264Profile};
    all.insert(all.end(), args.begin(), args.end());
    const CliRun run = Convert(DiscPath("flash"), all, out.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string file = OnlyFile(out);
    if (file.empty())
        return c;
    c.media = ProbeMedia(file);
    EXPECT_TRUE(c.media.readable);

    const GreyPictures grey = DecodeGrey(file, 16, 12);
    EXPECT_EQ(grey.pictures.size(), c.media.videoTimes.size());
    bool white = false;
    for (size_t i = 0; i < grey.pictures.size() && i < c.media.videoTimes.size(); ++i) {
        const bool now = grey.Mean(i) > 128;
        if (now && !white)
            c.flashes.push_back(c.media.videoTimes[i]);
        white = now;
    }

    const std::vector<float> pcm = DecodeMono(file, kRate);
    size_t quiet = kRate;  // the file's start counts as quiet
    for (size_t i = 0; i < pcm.size(); ++i) {
        if (std::fabs(pcm[i]) > 0.05f) {
            if (quiet >= size_t(kRate) * 3 / 10)
                c.beeps.push_back(c.media.audioStart + double(i) / kRate);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return c;
}

// Where the flash title's sound ends, in seconds from the title's first picture: read from
// the program stream's time stamps.
double SourceSoundEnd()
{
    static const double end = [] {
        const ProbedMedia vob = ProbeMedia(DiscPath("flash") + "/VIDEO_TS/VTS_01_1.VOB");
        const double firstPicture = vob.videoTimes.empty() ? 0 : vob.videoTimes.front();
        return vob.audioStart + vob.audioSamples / 48000.0 - firstPicture;
    }();
    return end;
}

double Nearest(const std::vector<double>& times, double t)
{
    double best = 1e9;
    for (double x : times)
        if (std::fabs(x - t) < std::fabs(best - t))
            best = x;
    return best;
}

std::string List(const std::vector<double>& times)
{
    std::string text;
    for (double t : times)
        text += std::to_string(t) + " ";
    return text;
}

TEST(AvSync, FlashesAndBeepsStayTogetherFromStartToEnd)
{
    const Converted c = ConvertFlash({});
    // 6 s: flashes at 0, 1, ..., 5 s.
    ASSERT_EQ(c.flashes.size(), 6u) << List(c.flashes);
    ASSERT_EQ(c.beeps.size(), 6u) << List(c.beeps);
    for (double flash : {c.flashes.front(), c.flashes.back()})
        EXPECT_NEAR(Nearest(c.beeps, flash), flash, 0.040) << "flashes " << List(c.flashes) << "beeps " << List(c.beeps);
    EXPECT_NEAR(c.flashes.front(), 0.0, kFrame / 2);
}

struct TrimCase {
    const char* name;
    double start;
    double length;
};

class Trim : public testing::TestWithParam<TrimCase> {};

// Every whole second of the source inside the window flashes and beeps in the output at its
// time less the trim start (the picture at a slot is the one on screen then: up to one frame
// later); both streams last the trimmed length.
TEST_P(Trim, OutputHoldsTheWindowOfTheSource)
{
    const TrimCase& t = GetParam();
    char start[32], length[32];
    std::snprintf(start, sizeof start, "%.3f", t.start);
    std::snprintf(length, sizeof length, "%.3f", t.length);
    const Converted c = ConvertFlash({"--trim-start", start, "--trim-length", length});

    std::vector<double> expected;  // source flash times (first picture at or after k s), less the start
    for (int k = 0; k < 6; ++k) {
        const double source = std::ceil(k / kFrame - 1e-6) * kFrame;
        if (source >= t.start - 1e-6 && source < t.start + t.length - kFrame)
            expected.push_back(source - t.start);
    }
    ASSERT_EQ(c.flashes.size(), expected.size()) << "flashes " << List(c.flashes);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_GE(c.flashes[i], expected[i] - 0.002) << i;
        EXPECT_LE(c.flashes[i], expected[i] + kFrame + 0.002) << i;
    }
    std::vector<double> expectedBeeps;
    for (int k = 0; k < 6; ++k)
        if (k >= t.start && k < t.start + t.length - 0.05)
            expectedBeeps.push_back(k - t.start);
    EXPECT_EQ(c.beeps.size(), expectedBeeps.size()) << "beeps " << List(c.beeps);
    for (size_t i = 0; i < expectedBeeps.size() && i < c.beeps.size(); ++i)
        EXPECT_NEAR(c.beeps[i], expectedBeeps[i], 0.010) << i;

    const double pictures = double(c.media.videoTimes.size());
    EXPECT_NEAR(pictures * kFrame, t.length, kFrame + 1e-6) << pictures << " pictures";
    // The authored sound may end a few codec frames before the pictures do.
    const double soundLength = std::min(t.length, SourceSoundEnd() - t.start);
    EXPECT_NEAR(c.media.audioSamples / 44100.0, soundLength, kAacFrame + 1e-6) << c.media.audioSamples << " samples";
}

INSTANTIATE_TEST_SUITE_P(FlashTitle, Trim,
                         testing::Values(TrimCase{"FromTheStart", 0, 1.2}, TrimCase{"MiddleWindow", 1.5, 2.0},
                                         TrimCase{"OnASecond", 2.0, 1.5}, TrimCase{"ToTheEnd", 4.5, 1.5}),
                         [](const testing::TestParamInfo<TrimCase>& info) { return std::string(info.param.name); });

}  // namespace
