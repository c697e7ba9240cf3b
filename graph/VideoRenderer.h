// CVideoRenderer: shows YV12 pictures on a drawing surface that a window provides (the
// window layer implements IVideoSurface; tests use one of their own). It keeps the latest
// picture for repaints and snapshots ("current image").
//
// Threads: Receive on the upstream's streaming thread; SetSurface, SetVideoPosition, Repaint
// and CurrentImage on the control thread. The surface, the position and the latest picture
// are guarded by m_pictureLock, held while the surface draws.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"

constexpr Guid CLSID_VideoRenderer = MakeGuid(0xB87BEB7B, 0x8D29, 0x423F, 0xAE4D, 0x6582C10175ACull);

// A window's drawing area for pictures. `destination` is where the picture goes in the
// window's client coordinates (the surface letterboxes inside it, black around it).
class IVideoSurface {
public:
    virtual ~IVideoSurface() = default;
    // A picture: luma plane (`stride` bytes a row), then the V and U planes at half the
    // stride. Valid only during the call.
    virtual void Present(const uint8_t* yv12, int width, int height, int stride, const ZRect& destination) = 0;
    // The destination became empty: draw nothing there (or the window's own background).
    virtual void Hide() = 0;
};

class CVideoRenderer;

class CVideoRendererPin : public CBaseInputPin {
public:
    explicit CVideoRendererPin(CVideoRenderer* renderer);
    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;

private:
    CVideoRenderer* m_renderer;
};

class CVideoRenderer : public CBaseFilter {
public:
    CVideoRenderer();

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    // The surface is borrowed; null detaches it. Control thread.
    void SetSurface(IVideoSurface* surface);
    // An empty rectangle hides the picture.
    void SetVideoPosition(const ZRect& destination);
    ZRect VideoPosition();
    // Draws the latest picture again (after the window was covered).
    void Repaint();
    // The latest picture as YV12 (width x height, contiguous planes); false when none came.
    bool CurrentImage(std::vector<uint8_t>* yv12, int* width, int* height);
    // Whether end of stream posts EC_COMPLETE (a preview player wants it; the conversion
    // preview does not, the sink reports completion there).
    void SetPostCompletion(bool on) { m_postCompletion = on; }
    int64_t PicturesShown();

private:
    friend class CVideoRendererPin;
    void Show(const uint8_t* picture, int width, int height, int stride);

    CVideoRendererPin m_input;
    bool m_postCompletion = false;  // changed only while stopped

    // -- Guarded by m_pictureLock.
    std::mutex m_pictureLock;
    IVideoSurface* m_surface = nullptr;
    ZRect m_destination;
    std::vector<uint8_t> m_latest;
    int m_latestWidth = 0, m_latestHeight = 0;
    int64_t m_shown = 0;
};
