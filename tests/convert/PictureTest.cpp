// What the output pictures show: black bands where the zoom mode puts them, and a crop that
// keeps exactly the chosen part of the source picture.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "convert/ConvertRun.h"

namespace {

const char* kH264Profile = "H.264/MPEG-4 AVC Video(*.mp4)";  // 640 x 480
constexpr double kBlack = 24;  // band luma is 16; every bar of the test pattern is brighter

// The picture in the middle of a short conversion, full size.
GreyPictures ConvertPictures(const std::string& disc, const std::vector<std::string>& picture, int maxPictures = 8)
{
    ScratchFolder out;
    std::vector<std::string> args = {"--title", "1", "--profile", kH264Profile, "--trim-length", "0.3"};
    args.insert(args.end(), picture.begin(), picture.end());
    const CliRun run = Convert(DiscPath(disc), args, out.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string file = OnlyFile(out);
    if (file.empty())
        return {};
    return DecodeGrey(file, 640, 480, "", maxPictures);
}

struct Bands {
    int top = 0, bottom = 0, left = 0, right = 0;
};

Bands MeasureBands(const GreyPictures& g, size_t picture)
{
    Bands b;
    while (b.top < g.height && g.RowMean(picture, b.top) < kBlack)
        ++b.top;
    while (b.bottom < g.height && g.RowMean(picture, g.height - 1 - b.bottom) < kBlack)
        ++b.bottom;
    while (b.left < g.width && g.ColumnMean(picture, b.left) < kBlack)
        ++b.left;
    while (b.right < g.width && g.ColumnMean(picture, g.width - 1 - b.right) < kBlack)
        ++b.right;
    return b;
}

struct ZoomCase {
    const char* name;
    const char* disc;
    const char* zoom;
    const char* crop;  // empty: the whole picture
    Bands bands;
};

class ZoomBands : public testing::TestWithParam<ZoomCase> {};

TEST_P(ZoomBands, BlackBandsWhereTheZoomModePutsThem)
{
    const ZoomCase& z = GetParam();
    std::vector<std::string> args = {"--zoom", z.zoom};
    if (*z.crop)
        args.insert(args.end(), {"--crop", z.crop});
    const GreyPictures g = ConvertPictures(z.disc, args);
    ASSERT_GE(g.pictures.size(), 3u);
    const Bands b = MeasureBands(g, 2);
    // Compression softens the band edges by a row or so.
    EXPECT_NEAR(b.top, z.bands.top, 2);
    EXPECT_NEAR(b.bottom, z.bands.bottom, 2);
    EXPECT_NEAR(b.left, z.bands.left, 2);
    EXPECT_NEAR(b.right, z.bands.right, 2);
}

// Output 640 x 480. sample: 720 x 480 source (pixel ratio 1.5); pal: 720 x 576 (1.25).
// Margins are centred and rounded up to even rows or columns.
INSTANTIATE_TEST_SUITE_P(
    Modes, ZoomBands,
    testing::Values(ZoomCase{"KeepWideSource", "sample", "keep", "", {28, 28, 0, 0}},
                    ZoomCase{"KeepNarrowSource", "pal", "keep", "", {0, 0, 20, 20}},
                    ZoomCase{"FullStretches", "sample", "full", "", {0, 0, 0, 0}},
                    ZoomCase{"SixteenByNine", "sample", "16:9", "", {60, 60, 0, 0}},
                    ZoomCase{"SixteenByNinePal", "pal", "16:9", "", {60, 60, 0, 0}},
                    ZoomCase{"FourByThree", "sample", "4:3", "", {0, 0, 0, 0}},
                    ZoomCase{"KeepTallCrop", "sample", "keep", "240,0,480,480", {0, 0, 200, 200}},
                    ZoomCase{"FullCrop", "sample", "full", "240,0,480,480", {0, 0, 0, 0}}),
    [](const testing::TestParamInfo<ZoomCase>& info) { return std::string(info.param.name); });

double MeanDifference(const GreyPictures& a, size_t pa, const GreyPictures& b, size_t pb)
{
    double sum = 0;
    const auto& x = a.pictures.at(pa);
    const auto& y = b.pictures.at(pb);
    for (size_t i = 0; i < x.size() && i < y.size(); ++i)
        sum += std::fabs(double(x[i]) - y[i]);
    return x.empty() ? 1e9 : sum / double(x.size());
}

struct CropCase {
    const char* name;
    int left, top, right, bottom;
};

class Crop : public testing::TestWithParam<CropCase> {};

// The first output picture against the source's first picture cut by ffmpeg to the same
// rectangle: alike, and unlike the uncut source.
TEST_P(Crop, KeepsOnlyTheChosenRectangle)
{
    const CropCase& c = GetParam();
    const std::string rect = std::to_string(c.left) + "," + std::to_string(c.top) + "," + std::to_string(c.right) +
                             "," + std::to_string(c.bottom);
    ScratchFolder out;
    const CliRun run = Convert(DiscPath("sample"),
                               {"--title", "1", "--profile", kH264Profile, "--trim-length", "0.3", "--zoom", "full",
                                "--crop", rect},
                               out.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string file = OnlyFile(out);
    ASSERT_FALSE(file.empty());
    const GreyPictures ours = DecodeGrey(file, 64, 48, "", 1);

    const std::string vob = DiscPath("sample") + "/VIDEO_TS/VTS_01_1.VOB";
    const std::string cut = "crop=" + std::to_string(c.right - c.left) + ":" + std::to_string(c.bottom - c.top) + ":" +
                            std::to_string(c.left) + ":" + std::to_string(c.top);
    const GreyPictures cutSource = DecodeGrey(vob, 64, 48, cut, 1);
    const GreyPictures wholeSource = DecodeGrey(vob, 64, 48, "", 1);
    ASSERT_EQ(ours.pictures.size(), 1u);
    ASSERT_EQ(cutSource.pictures.size(), 1u);
    ASSERT_EQ(wholeSource.pictures.size(), 1u);
    const double toCut = MeanDifference(ours, 0, cutSource, 0);
    const double toWhole = MeanDifference(ours, 0, wholeSource, 0);
    EXPECT_LT(toCut, 6.0);
    EXPECT_GT(toWhole, 3 * toCut + 10) << "the output looks like the uncut picture";
}

INSTANTIATE_TEST_SUITE_P(Rectangles, Crop,
                         testing::Values(CropCase{"MiddleBars", 240, 0, 480, 480},
                                         CropCase{"LeftHalf", 0, 0, 360, 480},
                                         CropCase{"BottomRight", 360, 240, 720, 480},
                                         CropCase{"InsetAllRound", 100, 60, 620, 420}),
                         [](const testing::TestParamInfo<CropCase>& info) { return std::string(info.param.name); });

}  // namespace
