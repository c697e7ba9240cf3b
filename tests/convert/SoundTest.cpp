// What the output sound holds: the chosen audio track (each authored track is a sine of its
// own pitch) and the volume setting applied to it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/ConvertRun.h"

namespace {

const char* kWavProfile = "WAV-Waveform Audio(*.wav)";  // PCM 48 kHz stereo: no coding loss
constexpr int kRate = 48000;

std::vector<float> ConvertSound(const std::string& disc, const std::vector<std::string>& extra, CliRun* run = nullptr)
{
    ScratchFolder out;
    std::vector<std::string> args = {"--title", "1", "--profile", kWavProfile, "--trim-length", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CliRun r = Convert(DiscPath(disc), args, out.Path());
    if (run)
        *run = r;
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string file = OnlyFile(out);
    return file.empty() ? std::vector<float>() : DecodeMono(file, kRate);
}

struct TrackCase {
    const char* name;
    const char* disc;
    const char* audio;  // empty: no --audio, the title's first track
    double frequency;   // 500 + 250 k Hz for track k
};

class AudioTrack : public testing::TestWithParam<TrackCase> {};

TEST_P(AudioTrack, OutputCarriesTheChosenTracksTone)
{
    const TrackCase& t = GetParam();
    std::vector<std::string> args;
    if (*t.audio)
        args = {"--audio", t.audio};
    const std::vector<float> pcm = ConvertSound(t.disc, args);
    ASSERT_GE(pcm.size(), size_t(kRate) / 2);
    EXPECT_NEAR(ToneFrequency(pcm, kRate, kRate / 10, pcm.size() - kRate / 10), t.frequency, t.frequency * 0.02);
    EXPECT_GT(Rms(pcm, kRate / 10, pcm.size() - kRate / 10), 0.2) << "a half-scale sine";
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, AudioTrack,
    testing::Values(TrackCase{"PalFirstByDefault", "pal", "", 500}, TrackCase{"PalAc3Stereo", "pal", "0xbd80", 500},
                    TrackCase{"PalAc3SixChannels", "pal", "0xbd81", 750}, TrackCase{"PalDts", "pal", "0xbd88", 1000},
                    TrackCase{"PalLpcm", "pal", "0xbda0", 1250}, TrackCase{"PalItalian", "pal", "it", 1250},
                    TrackCase{"PalSpanishName", "pal", "Spanish", 1000}, TrackCase{"PalItalianAlpha3", "pal", "ita", 1250},
                    TrackCase{"SampleFirstByDefault", "sample", "", 500},
                    TrackCase{"SampleMpegById", "sample", "0xc000", 750},
                    TrackCase{"SampleFrench", "sample", "fr", 750}),
    [](const testing::TestParamInfo<TrackCase>& info) { return std::string(info.param.name); });

struct VolumeCase {
    const char* name;
    int volume;    // 1/256 units
    double ratio;  // output RMS over the RMS at 256
};

class Volume : public testing::TestWithParam<VolumeCase> {};

TEST_P(Volume, ScalesTheSound)
{
    const VolumeCase& v = GetParam();
    static const std::vector<float> unchanged = ConvertSound("sample", {"--volume", "256"});
    ASSERT_GE(unchanged.size(), size_t(kRate) / 2);
    const double reference = Rms(unchanged, kRate / 10, unchanged.size() - kRate / 10);
    ASSERT_GT(reference, 0.2);

    const std::vector<float> pcm = ConvertSound("sample", {"--volume", std::to_string(v.volume)});
    ASSERT_GE(pcm.size(), size_t(kRate) / 2);
    const double rms = Rms(pcm, kRate / 10, pcm.size() - kRate / 10);
    EXPECT_NEAR(rms / reference, v.ratio, 0.03 + v.ratio * 0.03);
    EXPECT_NEAR(ToneFrequency(pcm, kRate, kRate / 10, pcm.size() - kRate / 10), 500, v.volume ? 10 : 1e9);
}

// The authored sine is at half scale, so doubling it reaches full scale: the 16-bit output
// clips at most its peaks.
INSTANTIATE_TEST_SUITE_P(Settings, Volume,
                         testing::Values(VolumeCase{"Half", 128, 0.5}, VolumeCase{"Quarter", 64, 0.25},
                                         VolumeCase{"Double", 512, 2.0}, VolumeCase{"Silent", 0, 0.0}),
                         [](const testing::TestParamInfo<VolumeCase>& info) { return std::string(info.param.name); });

}  // namespace
