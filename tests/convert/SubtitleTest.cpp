// Burnt-in subtitles end to end: the `sample` title's English subpicture (a white box from
// 1.0 s to 2.5 s) shows in the converted pictures inside its interval and nowhere else, and
// only when it was chosen.
#include <gtest/gtest.h>

#include "convert/ConvertRun.h"

namespace {

// The mean luma inside the box's white area in every picture of a 3 s conversion. The box
// stands at x 66..153, y 346..393 of the 720x480 source; "full" zoom maps it to x 59..136.
std::vector<double> BoxLuma(const std::vector<std::string>& extra)
{
    ScratchFolder out;
    std::vector<std::string> args = {"--title", "1", "--profile", "5", "--trim-length", "3", "--zoom", "full"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CliRun r = Convert(DiscPath("sample"), args, out.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string file = OnlyFile(out);
    std::vector<double> luma;
    if (file.empty())
        return luma;
    const GreyPictures grey = DecodeGrey(file, 640, 480);
    for (const auto& picture : grey.pictures) {
        double sum = 0;
        int n = 0;
        for (int y = 355; y < 385; ++y)
            for (int x = 75; x < 120; ++x, ++n)
                sum += picture[size_t(y) * 640 + size_t(x)];
        luma.push_back(sum / n);
    }
    return luma;
}

TEST(BurntInSubtitle, ShowsInItsIntervalOnlyWhenChosen)
{
    constexpr double kFps = 30000.0 / 1001.0;
    const std::vector<double> chosen = BoxLuma({"--subtitle", "en"});
    const std::vector<double> none = BoxLuma({});
    ASSERT_GE(chosen.size(), 85u);
    ASSERT_EQ(chosen.size(), none.size());
    for (size_t i = 0; i < chosen.size(); ++i) {
        const double t = i / kFps;
        // A frame of slack at each end of the interval.
        if (t > 1.05 && t < 2.45) {
            EXPECT_GT(chosen[i], 200) << "picture " << i << " at " << t << " s shows the white box";
        } else if (t < 0.95 || t > 2.55) {
            EXPECT_LT(chosen[i] - none[i], 10) << "picture " << i << " at " << t << " s is left alone";
        }
        EXPECT_LT(none[i], 200) << "picture " << i << ": no subtitle was chosen";
    }
}

}  // namespace
