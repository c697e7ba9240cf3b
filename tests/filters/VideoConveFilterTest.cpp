#include <gtest/gtest.h>

#include <cstring>

#include "filters/TestFilters.h"
#include "filters/VideoConveFilter.h"

using namespace zdrtest;

namespace {

// A YV12 picture with separate fills for luma and each chroma plane, or a luma ramp.
struct Yv12 {
    int w, h;
    std::vector<uint8_t> bytes;
    Yv12(int width, int height, uint8_t y, uint8_t v, uint8_t u) : w(width), h(height)
    {
        bytes.assign(size_t(w) * h, y);
        bytes.insert(bytes.end(), size_t(w / 2) * (h / 2), v);
        bytes.insert(bytes.end(), size_t(w / 2) * (h / 2), u);
    }
    uint8_t& Y(int x, int yy) { return bytes[size_t(yy) * w + x]; }
    uint8_t& V(int x, int yy) { return bytes[size_t(w) * h + size_t(yy) * (w / 2) + x]; }
    uint8_t& U(int x, int yy) { return bytes[size_t(w) * h * 5 / 4 + size_t(yy) * (w / 2) + x]; }
};

struct VideoRig {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSource> source;
    ComPtr<CMyVideoConveFilter> conv = MakeCom<CMyVideoConveFilter>();
    ComPtr<TestSink> sink = MakeCom<TestSink>();
    int iw, ih;

    VideoRig(int inputWidth, int inputHeight)
        : source(MakeCom<TestSource>(MakeYv12Type(inputWidth, inputHeight), 2, inputWidth * inputHeight * 3 / 2)),
          iw(inputWidth), ih(inputHeight)
    {
        graph->AddFilter(source.Get(), "Source");
        graph->AddFilter(conv.Get(), "VideoConver");
        graph->AddFilter(sink.Get(), "Sink");
    }
    HRESULT Connect(const CMediaType* outputType = nullptr)
    {
        HRESULT hr = graph->ConnectDirect(source->Pin(), conv->InputPin(), nullptr);
        if (Failed(hr))
            return hr;
        return graph->ConnectDirect(conv->OutputPin(), sink->Pin(), outputType);
    }
    // One picture through a paused graph; the output bytes.
    std::vector<uint8_t> Run(const Yv12& picture)
    {
        EXPECT_EQ(graph->Pause(), S_OK);
        PushOptions when;
        when.start = 1000;
        when.stop = 2000;
        EXPECT_EQ(source->Push(picture.bytes, when), S_OK);
        std::vector<Received> got = sink->Pin()->Take();
        graph->Stop();
        if (got.size() != 1) {
            ADD_FAILURE() << "expected one picture, got " << got.size();
            return {};
        }
        EXPECT_EQ(got[0].start, 1000);
        EXPECT_EQ(got[0].stop, 2000);
        return got[0].data;
    }
};

struct GeometryCase {
    const char* what;
    int iw, ih;
    int32_t zoom;
    ZRect crop, output;
    bool crop_, pad, scale;
    int32_t cropMargins[4];
    int32_t padMargins[4];
    int32_t scaledW, scaledH;
};

}  // namespace

TEST(VideoConveFilter, GeometryFollowsCropZoomAndOutputRectangle)
{
    const GeometryCase cases[] = {
        {"pass-through", 720, 576, ZoomKeepOriginal, {0, 0, 720, 576}, {0, 0, 720, 576}, false, false, false,
         {0, 0, 0, 0}, {0, 0, 0, 0}, 720, 576},
        {"crop 704 into 720 keeps size, pads 8/8", 720, 480, ZoomKeepOriginal, {8, 0, 712, 480}, {0, 0, 720, 480},
         true, true, false, {8, 0, 8, 0}, {8, 0, 8, 0}, 704, 480},
        {"crop only", 720, 480, ZoomFullScreen, {0, 0, 704, 480}, {0, 0, 704, 480}, true, false, false,
         {0, 0, 16, 0}, {0, 0, 0, 0}, 704, 480},
        {"16:9 into 640x480", 720, 480, Zoom16x9, {0, 0, 720, 480}, {0, 0, 640, 480}, false, true, true,
         {0, 0, 0, 0}, {0, 60, 0, 60}, 640, 360},
        {"odd pad margins 93 round up to 94", 720, 480, Zoom4x3, {0, 0, 720, 480}, {0, 0, 720, 400}, false, true,
         true, {0, 0, 0, 0}, {94, 0, 94, 0}, 532, 400},
        {"full screen scales only", 720, 480, ZoomFullScreen, {0, 0, 720, 480}, {0, 0, 640, 480}, false, false,
         true, {0, 0, 0, 0}, {0, 0, 0, 0}, 640, 480},
        {"unknown zoom mode is full screen", 720, 480, 7, {0, 0, 720, 480}, {0, 0, 352, 240}, false, false, true,
         {0, 0, 0, 0}, {0, 0, 0, 0}, 352, 240},
        {"zero-width crop becomes the whole picture and full screen", 720, 480, Zoom4x3, {0, 0, 0, 0},
         {0, 0, 320, 240}, false, false, false, {0, 0, 0, 0}, {0, 0, 0, 0}, 720, 480},
    };
    for (const GeometryCase& c : cases) {
        SCOPED_TRACE(c.what);
        VideoRig rig(c.iw, c.ih);
        rig.conv->SetRects(c.zoom, c.crop, c.output);
        ASSERT_EQ(rig.Connect(), S_OK);
        const VideoConvGeometry& g = rig.conv->Geometry();
        EXPECT_EQ(g.crop, c.crop_);
        EXPECT_EQ(g.pad, c.pad);
        EXPECT_EQ(g.scale, c.scale);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(g.cropMargins[i], c.cropMargins[i]) << "crop margin " << i;
            EXPECT_EQ(g.padMargins[i], c.padMargins[i]) << "pad margin " << i;
        }
        EXPECT_EQ(g.scaledWidth, c.scaledW);
        EXPECT_EQ(g.scaledHeight, c.scaledH);
        CMediaType out;
        rig.conv->OutputPin()->ConnectionMediaType(&out);
        const BitmapInfoHeader* bmi = out.VideoBitmapHeader();
        ASSERT_TRUE(bmi);
        EXPECT_EQ(bmi->biWidth, g.width);
        EXPECT_EQ(bmi->biHeight, g.height);
        EXPECT_EQ(bmi->biSizeImage, BitmapImageSize(g.width, g.height, 12));
    }
}

TEST(VideoConveFilter, ZeroWidthCropAtConnectionSetsFullPictureAndFullScreen)
{
    VideoRig rig(720, 480);
    rig.conv->SetRects(Zoom16x9, ZRect{0, 0, 0, 100}, ZRect{0, 0, 640, 480});
    ASSERT_EQ(rig.Connect(), S_OK);
    EXPECT_EQ(rig.conv->ZoomModeValue(), int32_t(ZoomFullScreen));
    EXPECT_EQ(rig.conv->CropRect().right, 720);
    EXPECT_EQ(rig.conv->OutputRect().bottom, 480);
}

TEST(VideoConveFilter, UnservableRectanglesAndTypesAreRefusedAtConnection)
{
    struct Case {
        const char* what;
        ZRect crop, output;
    } cases[] = {
        {"zero-height crop", {0, 0, 720, 0}, {0, 0, 640, 480}},
        {"empty output rectangle", {0, 0, 720, 480}, {0, 0, 0, 0}},
        {"crop outside the picture", {100, 0, 820, 480}, {0, 0, 640, 480}},
    };
    for (const Case& c : cases) {
        VideoRig rig(720, 480);
        rig.conv->SetRects(ZoomFullScreen, c.crop, c.output);
        EXPECT_TRUE(Failed(rig.Connect())) << c.what;
    }
    ComPtr<CMyVideoConveFilter> conv = MakeCom<CMyVideoConveFilter>();
    CMediaType rgb = MakeYv12Type(720, 480);
    rgb.subtype = MEDIASUBTYPE_PCM;
    EXPECT_EQ(conv->CheckInputType(rgb), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(conv->CheckInputType(CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_YV12, FORMAT_VideoInfo)),
              VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(conv->CheckInputType(MakeYv12Type(720, 480, true)), S_OK);
}

TEST(VideoConveFilter, CropOnlyWithPadKeepsCroppedPixelsBetweenBlackBands)
{
    VideoRig rig(720, 480);
    rig.conv->SetRects(ZoomKeepOriginal, ZRect{8, 0, 712, 480}, ZRect{0, 0, 720, 480});
    ASSERT_EQ(rig.Connect(), S_OK);
    Yv12 in(720, 480, 0, 90, 170);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 720; ++x)
            in.Y(x, y) = uint8_t(x);
    Yv12 out(720, 480, 0, 0, 0);
    out.bytes = rig.Run(in);
    ASSERT_EQ(out.bytes.size(), size_t(720 * 480 * 3 / 2));
    for (int y : {0, 241, 479}) {
        for (int x : {0, 7, 712, 719})
            EXPECT_EQ(out.Y(x, y), 16) << x << "," << y;
        for (int x : {8, 100, 711})
            EXPECT_EQ(out.Y(x, y), uint8_t(x)) << x << "," << y;
    }
    for (int x : {0, 3, 356, 359}) {
        EXPECT_EQ(out.V(x, 10), 128);
        EXPECT_EQ(out.U(x, 10), 128);
    }
    EXPECT_EQ(out.V(4, 10), 90);
    EXPECT_EQ(out.U(355, 10), 170);
}

TEST(VideoConveFilter, LetterboxScalesIntoTheMiddleAndUsesTheOutputStride)
{
    VideoRig rig(720, 480);
    rig.conv->SetRects(Zoom16x9, ZRect{0, 0, 720, 480}, ZRect{0, 0, 640, 480});
    // The downstream wants rows of 704 pixels.
    CMediaType wide = MakeYv12Type(704, 480);
    ASSERT_EQ(rig.Connect(&wide), S_OK);
    EXPECT_EQ(rig.conv->Geometry().outputStride, 704);
    std::vector<uint8_t> bytes = rig.Run(Yv12(720, 480, 200, 100, 150));
    ASSERT_EQ(bytes.size(), size_t(704 * 480 + 2 * 352 * 240));
    auto Y = [&](int x, int y) { return bytes[size_t(y) * 704 + x]; };
    auto V = [&](int x, int y) { return bytes[size_t(704) * 480 + size_t(y) * 352 + x]; };
    auto U = [&](int x, int y) { return bytes[size_t(704) * 480 + 352 * 240 + size_t(y) * 352 + x]; };
    for (int x : {0, 320, 639}) {
        EXPECT_EQ(Y(x, 0), 16);
        EXPECT_EQ(Y(x, 59), 16);
        EXPECT_EQ(Y(x, 60), 200);
        EXPECT_EQ(Y(x, 419), 200);
        EXPECT_EQ(Y(x, 420), 16);
        EXPECT_EQ(Y(x, 479), 16);
    }
    EXPECT_EQ(V(10, 29), 128);
    EXPECT_EQ(V(10, 30), 100);
    EXPECT_EQ(U(10, 209), 150);
    EXPECT_EQ(U(10, 210), 128);
}

TEST(VideoConveFilter, TablesAreTruncatedTowardZero)
{
    ComPtr<CMyVideoConveFilter> conv = MakeCom<CMyVideoConveFilter>();
    EXPECT_EQ(conv->SineEntry(270), 127);  // 90 degrees
    EXPECT_EQ(conv->CosineEntry(270), 0);
    EXPECT_EQ(conv->SineEntry(180), 0);
    EXPECT_EQ(conv->CosineEntry(180), 128);
    EXPECT_EQ(conv->SineEntry(90), -127);
    EXPECT_EQ(conv->CosineEntry(360), -127);
}

TEST(VideoConveFilter, GainHueAndSaturationFormulas)
{
    struct Case {
        const char* what;
        int brightness, hue, saturation;
        uint8_t y, v, u;           // input (v is the first chroma plane)
        uint8_t ey, ev, eu;        // expected
    } cases[] = {
        {"unchanged", 128, 0, 64, 100, 160, 96, 100, 160, 96},
        {"brightness 0 makes luma 0", 0, 0, 64, 100, 160, 96, 0, 160, 96},
        {"brightness 256 doubles luma", 256, 0, 64, 100, 160, 96, 200, 160, 96},
        {"brightness 256 clips at 255", 256, 0, 64, 200, 160, 96, 255, 160, 96},
        {"saturation 0 is grey", 128, 0, 0, 100, 160, 96, 100, 128, 128},
        {"saturation 128 doubles chroma", 128, 0, 128, 100, 160, 96, 100, 192, 64},
        {"saturation 128 clips", 128, 0, 128, 100, 250, 5, 100, 255, 0},
        // 90 degrees: S = 127, C = 0, so (127 * 127) >> 7 = 126, not 127.
        {"hue 90 uses S = 127", 128, 90, 64, 100, 128, 255, 100, 254, 128},
        // -90 degrees: S = -127; (127 * -127) >> 7 is -127 with an arithmetic shift.
        {"hue -90 shifts arithmetically", 128, -90, 64, 100, 128, 255, 100, 1, 128},
        {"hue 180 inverts with C = -127", 128, 180, 64, 100, 160, 96, 100, 96, 159},
        {"setters clamp", 999, 0, -5, 100, 160, 96, 200, 128, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VideoRig rig(64, 32);
        rig.conv->SetRects(ZoomFullScreen, ZRect{0, 0, 64, 32}, ZRect{0, 0, 64, 32});
        rig.conv->SetBrightness(c.brightness);
        rig.conv->SetHue(c.hue);
        rig.conv->SetSaturation(c.saturation);
        ASSERT_EQ(rig.Connect(), S_OK);
        Yv12 out(64, 32, 0, 0, 0);
        out.bytes = rig.Run(Yv12(64, 32, c.y, c.v, c.u));
        ASSERT_EQ(out.bytes.size(), size_t(64 * 32 * 3 / 2));
        EXPECT_EQ(out.Y(5, 5), c.ey);
        EXPECT_EQ(out.V(5, 5), c.ev);
        EXPECT_EQ(out.U(5, 5), c.eu);
    }
}

namespace {

// A text box of a fixed size in one colour; no real text.
class BoxRasterizer : public ITextRasterizer {
public:
    BoxRasterizer(int w, int h, uint8_t b, uint8_t g, uint8_t r) : m_w(w), m_h(h), m_bgra{b, g, r, 255} {}
    bool Render(const std::u16string& text, uint32_t, uint32_t, TextBitmap* bitmap) override
    {
        lastText = text;
        bitmap->width = m_w;
        bitmap->height = m_h;
        bitmap->bgra.clear();
        for (int i = 0; i < m_w * m_h; ++i)
            bitmap->bgra.insert(bitmap->bgra.end(), m_bgra, m_bgra + 4);
        return true;
    }
    std::u16string lastText;

private:
    int m_w, m_h;
    uint8_t m_bgra[4];
};

WatermarkSettings TextWatermark(const char16_t* text, int x, int y, float opacity)
{
    WatermarkSettings s;
    s.mode = 0;
    std::char_traits<char16_t>::copy(s.text, text, std::char_traits<char16_t>::length(text));
    s.x = x;
    s.y = y;
    s.opacity = opacity;
    return s;
}

}  // namespace

TEST(VideoConveFilter, SetWatermarkResults)
{
    ComPtr<CMyVideoConveFilter> conv = MakeCom<CMyVideoConveFilter>();
    WatermarkSettings image;
    image.mode = 1;
    EXPECT_EQ(conv->SetWatermark(&image), E_FAIL) << "image mode without an earlier text watermark";
    WatermarkSettings text = TextWatermark(u"ZaDeroza", 0, 0, 1.0f);
    EXPECT_EQ(conv->SetWatermark(&text), E_FAIL) << "text without a rasteriser";
    EXPECT_EQ(conv->SetWatermark(nullptr), E_POINTER);

    auto rasterizer = std::make_shared<BoxRasterizer>(8, 4, 0, 0, 0);
    conv->SetTextRasterizer(rasterizer);
    EXPECT_EQ(conv->SetWatermark(&text), S_OK);
    EXPECT_EQ(rasterizer->lastText, u"ZaDeroza");
    WatermarkSettings empty = TextWatermark(u"", 0, 0, 1.0f);
    EXPECT_EQ(conv->SetWatermark(&empty), S_OK) << "empty text keeps the previous watermark";
    EXPECT_EQ(conv->SetWatermark(&image), S_OK) << "image mode keeps the existing picture";
    // A text filling the whole array without a terminator is read up to its end only.
    WatermarkSettings full;
    for (char16_t& ch : full.text)
        ch = u'x';
    EXPECT_EQ(conv->SetWatermark(&full), S_OK);
    EXPECT_EQ(rasterizer->lastText.size(), 64u);
}

TEST(VideoConveFilter, WatermarkIsBlendedAndClippedAtTheEdges)
{
    struct Case {
        const char* what;
        int x, y;
        float opacity;
        uint8_t insideY;
    } cases[] = {
        {"opaque past the bottom-right corner", 56, 28, 1.0f, 16},
        {"half opacity", 56, 28, 0.5f, 108},  // trunc(200 * 0.5 + 16 * 0.5)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VideoRig rig(64, 32);
        rig.conv->SetRects(ZoomFullScreen, ZRect{0, 0, 64, 32}, ZRect{0, 0, 64, 32});
        rig.conv->SetTextRasterizer(std::make_shared<BoxRasterizer>(16, 8, 0, 0, 0));  // black box
        WatermarkSettings s = TextWatermark(u"W", c.x, c.y, c.opacity);
        ASSERT_EQ(rig.conv->SetWatermark(&s), S_OK);
        ASSERT_EQ(rig.Connect(), S_OK);
        Yv12 out(64, 32, 0, 0, 0);
        out.bytes = rig.Run(Yv12(64, 32, 200, 60, 200));
        ASSERT_EQ(out.bytes.size(), size_t(64 * 32 * 3 / 2));
        EXPECT_EQ(out.Y(56, 28), c.insideY);
        EXPECT_EQ(out.Y(63, 31), c.insideY);
        EXPECT_EQ(out.Y(55, 28), 200);
        EXPECT_EQ(out.Y(56, 27), 200);
        // Black has neutral chroma: blended chroma moves toward 128 inside, stays outside.
        const uint8_t insideV = uint8_t(int(60 * (1 - c.opacity) + 128 * c.opacity));
        EXPECT_EQ(out.V(28, 14), insideV);
        EXPECT_EQ(out.V(31, 15), insideV);
        EXPECT_EQ(out.V(27, 14), 60);
        EXPECT_EQ(out.U(27, 15), 200);
    }
}
