// The video conversion stage after the MPEG video decoder: crops the YV12 source, scales it,
// letterboxes or pillarboxes it by the zoom mode, applies a luma gain, a hue rotation and a
// chroma gain, and blends a watermark. All parameters arrive through IMyVideoConvFilter.
//
// Every picture here is YV12: the luma plane, then V, then U, each contiguous. Crop, scale,
// pad bands and the gains treat the chroma planes alike; only the hue rotation depends on
// their order ("first" is V, "second" is U).
//
// Threads: SetRects, the geometry (CheckInputType, CheckTransform) and SetWatermark on the
// control/user interface thread; Transform on the input's streaming thread under the
// transform filter's receive lock. The gain setters are single 32-bit atomic stores read
// once per picture. The watermark picture is swapped under m_watermarkLock, held only for the
// pointer; a running Transform blends from its own reference, so a replaced picture is freed
// only after that picture is done.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "filters/TextRasterizer.h"
#include "filters/WatermarkSettings.h"
#include "graph/TransformFilter.h"

struct SwsContext;

// {4BB8A01A-CC73-4F1B-AB7B-18E7209C3E9D}
constexpr Guid CLSID_MyVideoConver = MakeGuid(0x4BB8A01A, 0xCC73, 0x4F1B, 0xAB7B, 0x18E7209C3E9Dull);
// {A264C372-A83D-42E1-9D93-D6F10B3D95CD}
constexpr Guid IID_IMyVideoConvFilter = MakeGuid(0xA264C372, 0xA83D, 0x42E1, 0x9D93, 0xD6F10B3D95CDull);

// Zoom modes, the clip editor's combo items in this order.
enum ZoomMode : int32_t {
    ZoomKeepOriginal = 0,  // "Keep Original": the crop rectangle's own ratio, centred
    ZoomFullScreen = 1,    // "Full Screen": the whole output rectangle
    Zoom16x9 = 2,          // "16:9"
    Zoom4x3 = 3,           // "4:3"
};

// Called from the user interface thread; see each method for when it takes effect.
class IMyVideoConvFilter : public virtual IUnknown {
public:
    // Takes effect at the next transform check (connection time).
    virtual HRESULT SetRects(int32_t zoomMode, ZRect crop, ZRect output) = 0;
    // Clamped to 0..128 (64 = unchanged); from the next picture.
    virtual HRESULT SetSaturation(int32_t value) = 0;
    // Clamped to -180..180 degrees.
    virtual HRESULT SetHue(int32_t angle) = 0;
    // Clamped to 0..256 (128 = unchanged).
    virtual HRESULT SetBrightness(int32_t value) = 0;
    // S_OK or E_FAIL (E_POINTER without a record).
    virtual HRESULT SetWatermark(const WatermarkSettings* settings) = 0;
};

// What the transform check worked out for the connected sizes.
struct VideoConvGeometry {
    int32_t inputWidth = 0, inputHeight = 0;
    int32_t width = 0, height = 0;  // output rectangle size W x H
    ZRect cropRect{};
    int32_t outputStride = 0;
    bool crop = false;
    int32_t cropMargins[4] = {};  // left, top, right, bottom
    bool pad = false;
    int32_t padMargins[4] = {};   // left, top, right, bottom, even
    bool scale = false;
    int32_t scaledWidth = 0, scaledHeight = 0;  // the scaler's destination size
};

// The picture the zoom mode fits into the output rectangle `r` for a crop rectangle `c`.
ZRect FitZoomRect(int32_t zoomMode, const ZRect& r, const ZRect& c);

class CMyVideoConveFilter : public CTransformFilter, public IMyVideoConvFilter {
public:
    CMyVideoConveFilter();
    ~CMyVideoConveFilter() override;

    HRESULT SetRects(int32_t zoomMode, ZRect crop, ZRect output) override;
    HRESULT SetSaturation(int32_t value) override;
    HRESULT SetHue(int32_t angle) override;
    HRESULT SetBrightness(int32_t value) override;
    HRESULT SetWatermark(const WatermarkSettings* settings) override;

    // The text drawing that SetWatermark uses for text records (none: text gives E_FAIL).
    // User interface thread, before SetWatermark.
    void SetTextRasterizer(std::shared_ptr<ITextRasterizer> rasterizer);

    HRESULT CheckInputType(const CMediaType& in) override;
    HRESULT CheckTransform(const CMediaType& in, const CMediaType& out) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

    // Control thread, for checks: the geometry of the last transform check and the rectangles.
    const VideoConvGeometry& Geometry() const { return m_geometry; }
    ZRect CropRect() const { return m_crop; }
    ZRect OutputRect() const { return m_outputRect; }
    int32_t ZoomModeValue() const { return m_zoomMode; }
    int16_t SineEntry(int i) const { return m_sin[i]; }
    int16_t CosineEntry(int i) const { return m_cos[i]; }

private:
    struct Watermark {
        int32_t width = 0, height = 0;
        std::vector<uint8_t> planes[3];  // luma, then the chroma planes in YV12 order (V, U)
        int32_t chromaWidth = 0, chromaHeight = 0;
    };

    void ReleaseGeometry();
    // The gains, the hue rotation and the watermark on the W x H work picture.
    void Adjust(uint8_t* y, uint8_t* first, uint8_t* second, int32_t w, int32_t h);
    void BlendWatermark(const Watermark& wm, float opacity, int32_t wx, int32_t wy, uint8_t* planes[3], int32_t w,
                        int32_t h);

    std::atomic<int32_t> m_brightness{128};
    std::atomic<int32_t> m_hue{0};
    std::atomic<int32_t> m_saturation{64};
    int16_t m_sin[361];
    int16_t m_cos[361];

    std::mutex m_watermarkLock;             // guards m_watermark and m_watermarkSettings only
    WatermarkSettings m_watermarkSettings{};
    std::shared_ptr<const Watermark> m_watermark;
    std::shared_ptr<ITextRasterizer> m_rasterizer;  // user interface thread only

    // -- Connection state: control thread while stopped; read by Transform.
    BitmapInfoHeader m_inputHeader{};
    ZRect m_crop{};
    ZRect m_outputRect{};
    int32_t m_zoomMode = ZoomFullScreen;
    VideoConvGeometry m_geometry;
    std::vector<uint8_t> m_work;  // W x H YV12 work picture, planes contiguous
    SwsContext* m_scaler = nullptr;
};
