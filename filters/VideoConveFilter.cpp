#include "filters/VideoConveFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr double kPi = 3.1415926;

inline uint8_t Clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

bool IsVideoInfo(const Guid& format) { return format == FORMAT_VideoInfo || format == FORMAT_VideoInfo2; }

// Copies `rows` rows of `width` bytes between two pitches.
void CopyRows(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width, int rows)
{
    for (int r = 0; r < rows; ++r)
        std::memcpy(dst + size_t(r) * dstPitch, src + size_t(r) * srcPitch, size_t(width));
}

void FillRect(uint8_t* plane, int pitch, int x, int y, int width, int rows, uint8_t value)
{
    if (width <= 0 || rows <= 0)
        return;
    for (int r = 0; r < rows; ++r)
        std::memset(plane + size_t(y + r) * pitch + x, value, size_t(width));
}

}  // namespace

ZRect FitZoomRect(int32_t zoomMode, const ZRect& r, const ZRect& c)
{
    float ratio;
    switch (zoomMode) {
    case ZoomKeepOriginal:
        if (c.Height() == 0)
            return r;
        ratio = float(c.Width()) / float(c.Height());
        break;
    case Zoom16x9: ratio = 16.0f / 9.0f; break;
    case Zoom4x3: ratio = 4.0f / 3.0f; break;
    default: return r;
    }
    ZRect f = r;
    const int32_t w = r.Width(), h = r.Height();
    if (h == 0 || ratio <= 0.0f)
        return r;
    if (ratio > float(w) / float(h)) {
        const int32_t n = int32_t(float(w) / ratio);
        const int32_t d = (h - n) / 2;
        f.top += d;
        f.bottom -= d;
    } else {
        const int32_t n = int32_t(ratio * float(h));
        const int32_t d = (w - n) / 2;
        f.left += d;
        f.right -= d;
    }
    return f;
}

CMyVideoConveFilter::CMyVideoConveFilter() : CTransformFilter("VideoConver", CLSID_MyVideoConver)
{
    for (int i = 0; i <= 360; ++i) {
        const double angle = (i - 180) * kPi / 180.0;
        m_sin[i] = int16_t(std::trunc(std::sin(angle) * 128.0));
        m_cos[i] = int16_t(std::trunc(std::cos(angle) * 128.0));
    }
}

CMyVideoConveFilter::~CMyVideoConveFilter() { ReleaseGeometry(); }

void CMyVideoConveFilter::ReleaseGeometry()
{
    if (m_scaler) {
        sws_freeContext(m_scaler);
        m_scaler = nullptr;
    }
}

// ---- IMyVideoConvFilter

HRESULT CMyVideoConveFilter::SetRects(int32_t zoomMode, ZRect crop, ZRect output)
{
    std::lock_guard lock(m_lock);
    m_zoomMode = zoomMode;
    m_crop = crop;
    m_outputRect = output;
    return S_OK;
}

HRESULT CMyVideoConveFilter::SetSaturation(int32_t value)
{
    m_saturation.store(std::clamp(value, 0, 128), std::memory_order_relaxed);
    return S_OK;
}

HRESULT CMyVideoConveFilter::SetHue(int32_t angle)
{
    m_hue.store(std::clamp(angle, -180, 180), std::memory_order_relaxed);
    return S_OK;
}

HRESULT CMyVideoConveFilter::SetBrightness(int32_t value)
{
    m_brightness.store(std::clamp(value, 0, 256), std::memory_order_relaxed);
    return S_OK;
}

void CMyVideoConveFilter::SetTextRasterizer(std::shared_ptr<ITextRasterizer> rasterizer)
{
    m_rasterizer = std::move(rasterizer);
}

HRESULT CMyVideoConveFilter::SetWatermark(const WatermarkSettings* settings)
{
    if (!settings)
        return E_POINTER;
    if (settings->mode == 0) {
        std::u16string text;
        for (char16_t ch : settings->text) {
            if (ch == 0)
                break;
            text.push_back(ch);
        }
        if (text.empty())
            return S_OK;
        if (!m_rasterizer)
            return E_FAIL;
        TextBitmap bitmap;
        if (!m_rasterizer->Render(text, settings->font, settings->textColour, &bitmap))
            return E_FAIL;
        const int32_t w = bitmap.width, h = bitmap.height;
        if (w <= 0 || h <= 0 || bitmap.bgra.size() < size_t(w) * size_t(h) * 4)
            return E_FAIL;

        auto wm = std::make_shared<Watermark>();
        wm->width = w;
        wm->height = h;
        wm->chromaWidth = (w + 1) / 2;
        wm->chromaHeight = (h + 1) / 2;
        wm->planes[0].assign(size_t(w) * h, 0);
        wm->planes[1].assign(size_t(wm->chromaWidth) * wm->chromaHeight, 128);
        wm->planes[2].assign(size_t(wm->chromaWidth) * wm->chromaHeight, 128);
        SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                         nullptr, nullptr);
        if (!sws)
            return E_FAIL;
        const uint8_t* src[4] = {bitmap.bgra.data(), nullptr, nullptr, nullptr};
        const int srcStride[4] = {w * 4, 0, 0, 0};
        // The scaler writes U then V; the picture keeps YV12 order so that blending pairs
        // each watermark chroma plane with the same plane of the picture.
        uint8_t* dst[4] = {wm->planes[0].data(), wm->planes[2].data(), wm->planes[1].data(), nullptr};
        const int dstStride[4] = {w, wm->chromaWidth, wm->chromaWidth, 0};
        sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
        sws_freeContext(sws);

        std::lock_guard lock(m_watermarkLock);
        m_watermark = std::move(wm);
    }
    std::lock_guard lock(m_watermarkLock);
    if (!m_watermark)
        return E_FAIL;
    m_watermarkSettings = *settings;
    return S_OK;
}

// ---- Connection

HRESULT CMyVideoConveFilter::CheckInputType(const CMediaType& in)
{
    std::lock_guard lock(m_lock);
    const BitmapInfoHeader* bmi = in.VideoBitmapHeader();
    if (bmi) {
        m_inputHeader = *bmi;
    } else {
        m_inputHeader = BitmapInfoHeader{};  // any other format: all zeros
        m_inputHeader.biSize = 0;
        m_inputHeader.biPlanes = 0;
    }
    const int32_t iw = m_inputHeader.biWidth, ih = m_inputHeader.biHeight;
    if (m_crop.Width() == 0) {
        m_crop = ZRect{0, 0, iw, ih};
        m_outputRect = ZRect{0, 0, iw, ih};
        m_zoomMode = ZoomFullScreen;
    }
    if (!(in.majortype == MEDIATYPE_Video) || !(in.subtype == MEDIASUBTYPE_YV12) || !IsVideoInfo(in.formattype) ||
        ih <= 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // Planes of 4:2:0 pictures need even sizes.
    if (iw <= 0 || (iw & 1) || (ih & 1))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMyVideoConveFilter::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0 || !InputPin()->IsConnected())
        return VFW_S_NO_MORE_ITEMS;
    std::lock_guard lock(m_lock);
    *type = InputPin()->CurrentMediaType();
    BitmapInfoHeader* bmi = type->VideoBitmapHeader();
    if (!bmi)
        return VFW_S_NO_MORE_ITEMS;
    bmi->biWidth = m_outputRect.Width();
    bmi->biHeight = m_outputRect.Height();
    bmi->biSizeImage = BitmapImageSize(bmi->biWidth, bmi->biHeight, bmi->biBitCount);
    return S_OK;
}

HRESULT CMyVideoConveFilter::CheckTransform(const CMediaType& in, const CMediaType& out)
{
    (void)in;
    std::lock_guard lock(m_lock);
    const BitmapInfoHeader* outBmi = out.VideoBitmapHeader();
    if (!(out.majortype == MEDIATYPE_Video) || !(out.subtype == MEDIASUBTYPE_YV12) || !outBmi)
        return VFW_E_TYPE_NOT_ACCEPTED;

    const int32_t W = m_outputRect.Width(), H = m_outputRect.Height();
    const int32_t CW = m_crop.Width(), CH = m_crop.Height();
    const int32_t IW = m_inputHeader.biWidth, IH = m_inputHeader.biHeight;
    // Empty or odd output sizes, a crop rectangle outside the picture, or an output row
    // narrower than the picture cannot be served.
    if (W <= 0 || H <= 0 || (W & 1) || (H & 1) || CW <= 0 || CH <= 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (m_crop.left < 0 || m_crop.top < 0 || m_crop.right > IW || m_crop.bottom > IH)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (outBmi->biWidth < W)
        return VFW_E_TYPE_NOT_ACCEPTED;

    VideoConvGeometry g;
    g.inputWidth = IW;
    g.inputHeight = IH;
    g.width = W;
    g.height = H;
    g.cropRect = m_crop;
    g.outputStride = outBmi->biWidth;
    if (IW != CW || IH != CH) {
        g.crop = true;
        g.cropMargins[0] = m_crop.left;
        g.cropMargins[1] = m_crop.top;
        g.cropMargins[2] = IW - m_crop.right;
        g.cropMargins[3] = IH - m_crop.bottom;
    }
    const ZRect f = FitZoomRect(m_zoomMode, m_outputRect, m_crop);
    if (f.Width() != W || f.Height() != H) {
        g.pad = true;
        g.padMargins[0] = f.left;
        g.padMargins[1] = f.top;
        g.padMargins[2] = W - f.right;
        g.padMargins[3] = H - f.bottom;
        for (int32_t& m : g.padMargins)
            m = ((m + 1) / 2) * 2;
    }
    g.scaledWidth = W - g.padMargins[0] - g.padMargins[2];
    g.scaledHeight = H - g.padMargins[1] - g.padMargins[3];
    if (g.scaledWidth <= 0 || g.scaledHeight <= 0)
        return VFW_E_TYPE_NOT_ACCEPTED;

    ReleaseGeometry();
    if (CW + g.padMargins[0] + g.padMargins[2] != W || CH + g.padMargins[1] + g.padMargins[3] != H) {
        g.scale = true;
        m_scaler = sws_getContext(CW, CH, AV_PIX_FMT_YUV420P, g.scaledWidth, g.scaledHeight, AV_PIX_FMT_YUV420P,
                                  SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_scaler)
            return E_FAIL;
    } else {
        g.scaledWidth = CW;
        g.scaledHeight = CH;
    }
    m_work.assign(size_t(W) * H * 3 / 2, 0);
    m_geometry = g;
    return S_OK;
}

HRESULT CMyVideoConveFilter::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request)
{
    (void)request;
    if (!InputPin()->IsConnected())
        return E_UNEXPECTED;
    const CMediaType type = OutputPin()->CurrentMediaType();
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    if (!bmi)
        return E_UNEXPECTED;
    AllocatorProperties asked;
    asked.cBuffers = 1;
    asked.cbBuffer = bmi->biSizeImage ? int32_t(bmi->biSizeImage) : bmi->biWidth * bmi->biHeight * 4;
    asked.cbAlign = 1;
    asked.cbPrefix = 0;
    return CBaseOutputPin::SetBufferProperties(allocator, asked);
}

// ---- Per picture

HRESULT CMyVideoConveFilter::Transform(IMediaSample* in, IMediaSample* out)
{
    uint8_t* src = nullptr;
    uint8_t* dst = nullptr;
    if (Failed(in->GetPointer(&src)) || Failed(out->GetPointer(&dst)) || !src || !dst)
        return E_FAIL;

    const VideoConvGeometry& g = m_geometry;
    const int32_t IW = g.inputWidth, IH = g.inputHeight;
    const int32_t W = g.width, H = g.height;
    const int32_t stride = g.outputStride;
    const size_t inSize = size_t(IW) * IH * 3 / 2;
    // A short picture is dropped rather than read past its end; an output buffer smaller than
    // the negotiated picture fails the stream.
    if (size_t(in->GetActualDataLength()) < inSize)
        return S_FALSE;
    const size_t outSize = size_t(stride) * H + 2 * size_t(stride / 2) * (H / 2);
    if (size_t(out->GetSize()) < outSize || m_work.size() < size_t(W) * H * 3 / 2)
        return E_FAIL;

    uint8_t* work[3] = {m_work.data(), m_work.data() + size_t(W) * H, m_work.data() + size_t(W) * H * 5 / 4};

    if (!g.crop && !g.pad && !g.scale) {
        std::memcpy(m_work.data(), src, inSize);
    } else {
        const uint8_t* s[3] = {src, src + size_t(IW) * IH, src + size_t(IW) * IH * 5 / 4};
        const int sPitch[3] = {IW, IW / 2, IW / 2};
        if (g.crop) {
            const int32_t left = g.cropRect.left, top = g.cropRect.top;
            s[0] += size_t(top) * IW + left;
            s[1] += size_t(top / 2) * (IW / 2) + left / 2;
            s[2] += size_t(top / 2) * (IW / 2) + left / 2;
        }
        const int32_t CW = g.cropRect.Width(), CH = g.cropRect.Height();
        const int32_t pl = g.padMargins[0], pt = g.padMargins[1], pr = g.padMargins[2], pb = g.padMargins[3];
        uint8_t* inner[3] = {work[0] + size_t(pt) * W + pl, work[1] + size_t(pt / 2) * (W / 2) + pl / 2,
                             work[2] + size_t(pt / 2) * (W / 2) + pl / 2};
        const int wPitch[3] = {W, W / 2, W / 2};
        if (g.scale) {
            sws_scale(m_scaler, s, sPitch, 0, CH, inner, wPitch);
        }
        if (g.pad) {
            for (int p = 0; p < 3; ++p) {
                const int div = p == 0 ? 1 : 2;
                const uint8_t value = p == 0 ? 16 : 128;
                const int pw = W / div, ph = H / div;
                const int l = pl / div, t = pt / div, r = pr / div, b = pb / div;
                FillRect(work[p], pw, 0, 0, pw, t, value);
                FillRect(work[p], pw, 0, ph - b, pw, b, value);
                FillRect(work[p], pw, 0, t, l, ph - t - b, value);
                FillRect(work[p], pw, pw - r, t, r, ph - t - b, value);
                if (!g.scale)
                    CopyRows(inner[p], pw, s[p], sPitch[p], CW / div, CH / div);
            }
        }
        if (!g.scale && !g.pad) {
            for (int p = 0; p < 3; ++p) {
                const int div = p == 0 ? 1 : 2;
                CopyRows(work[p], W / div, s[p], sPitch[p], W / div, H / div);
            }
        }
    }

    Adjust(work[0], work[1], work[2], W, H);

    CopyRows(dst, stride, work[0], W, W, H);
    uint8_t* firstOut = dst + size_t(stride) * H;
    CopyRows(firstOut, stride / 2, work[1], W / 2, W / 2, H / 2);
    CopyRows(firstOut + size_t(stride / 2) * (H / 2), stride / 2, work[2], W / 2, W / 2, H / 2);
    out->SetActualDataLength(int32_t(outSize));
    return S_OK;
}

void CMyVideoConveFilter::Adjust(uint8_t* y, uint8_t* first, uint8_t* second, int32_t w, int32_t h)
{
    const int32_t brightness = m_brightness.load(std::memory_order_relaxed);
    if (brightness != 128) {
        uint8_t gain[256];
        for (int v = 0; v < 256; ++v)
            gain[v] = uint8_t(std::min(255, (v * brightness) >> 7));
        const size_t n = size_t(w) * h;
        for (size_t i = 0; i < n; ++i)
            y[i] = gain[y[i]];
    }

    const int32_t hue = m_hue.load(std::memory_order_relaxed);
    const int32_t saturation = m_saturation.load(std::memory_order_relaxed);
    if (hue != 0 || saturation != 64) {
        const int c = m_cos[hue + 180], s = m_sin[hue + 180];
        const size_t n = size_t(w / 2) * (h / 2);
        for (size_t i = 0; i < n; ++i) {
            const int a = first[i] - 128, b = second[i] - 128;
            first[i] = Clamp255(((((a * c) >> 7) + ((b * s) >> 7)) * saturation >> 6) + 128);
            second[i] = Clamp255(((((b * c) >> 7) - ((a * s) >> 7)) * saturation >> 6) + 128);
        }
    }

    std::shared_ptr<const Watermark> wm;
    float opacity;
    int32_t wx, wy;
    {
        std::lock_guard lock(m_watermarkLock);
        wm = m_watermark;
        opacity = m_watermarkSettings.opacity;
        wx = m_watermarkSettings.x;
        wy = m_watermarkSettings.y;
    }
    if (wm) {
        uint8_t* planes[3] = {y, first, second};
        BlendWatermark(*wm, opacity, wx, wy, planes, w, h);
    }
}

void CMyVideoConveFilter::BlendWatermark(const Watermark& wm, float opacity, int32_t wx, int32_t wy,
                                         uint8_t* planes[3], int32_t w, int32_t h)
{
    // A corner left of or above the picture is clipped like the right and bottom edges.
    const int32_t sx = wx < 0 ? -wx : 0, sy = wy < 0 ? -wy : 0;
    const int32_t x = wx + sx, y = wy + sy;
    int32_t bw = wm.width - sx, bh = wm.height - sy;
    if (x + bw > w)
        bw = w - x;
    if (y + bh > h)
        bh = h - y;
    if (bw <= 0 || bh <= 0)
        return;
    const float keep = 1.0f - opacity;
    for (int32_t r = 0; r < bh; ++r) {
        uint8_t* row = planes[0] + size_t(y + r) * w + x;
        const uint8_t* m = wm.planes[0].data() + size_t(sy + r) * wm.width + sx;
        for (int32_t c = 0; c < bw; ++c)
            row[c] = Clamp255(int(float(row[c]) * keep + float(m[c]) * opacity));
    }
    const int32_t cw = w / 2;
    int32_t ch = bh / 2, cc = bw / 2;
    const int32_t cx = x / 2, cy = y / 2, csx = sx / 2, csy = sy / 2;
    ch = std::min(ch, h / 2 - cy);
    cc = std::min(cc, cw - cx);
    ch = std::min(ch, wm.chromaHeight - csy);
    cc = std::min(cc, wm.chromaWidth - csx);
    for (int p = 1; p < 3; ++p) {
        for (int32_t r = 0; r < ch; ++r) {
            uint8_t* row = planes[p] + size_t(cy + r) * cw + cx;
            const uint8_t* m = wm.planes[p].data() + size_t(csy + r) * wm.chromaWidth + csx;
            for (int32_t c = 0; c < cc; ++c)
                row[c] = Clamp255(int(float(row[c]) * keep + float(m[c]) * opacity));
        }
    }
}
