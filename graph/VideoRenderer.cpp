#include "graph/VideoRenderer.h"

#include <cstdlib>
#include <cstring>

CVideoRendererPin::CVideoRendererPin(CVideoRenderer* renderer)
    : CBaseInputPin(renderer, renderer->FilterLock(), "Input"), m_renderer(renderer)
{
}

HRESULT CVideoRendererPin::CheckMediaType(const CMediaType& type)
{
    if (!(type.majortype == MEDIATYPE_Video) || !(type.subtype == MEDIASUBTYPE_YV12))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (!(type.formattype == FORMAT_VideoInfo) && !(type.formattype == FORMAT_VideoInfo2))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    if (!bmi || bmi->biWidth <= 0 || bmi->biHeight == 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CVideoRendererPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    const CMediaType type = CurrentMediaType();
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    uint8_t* data = nullptr;
    if (!bmi || Failed(sample->GetPointer(&data)) || !data)
        return S_OK;
    const int width = bmi->biWidth;
    const int height = std::abs(bmi->biHeight);
    // The upstream fills rows at the width of the type it was given (the stride).
    const int stride = width;
    if (sample->GetActualDataLength() < int64_t(stride) * height * 3 / 2)
        return S_OK;
    m_renderer->Show(data, width, height, stride);
    return S_OK;
}

HRESULT CVideoRendererPin::EndOfStream()
{
    const HRESULT hr = CBaseInputPin::EndOfStream();
    if (hr == S_OK && m_renderer->m_postCompletion)
        m_renderer->NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<intptr_t>(static_cast<IBaseFilter*>(m_renderer)));
    return hr;
}

CVideoRenderer::CVideoRenderer() : CBaseFilter("Video Renderer", CLSID_VideoRenderer), m_input(this) {}

CBasePin* CVideoRenderer::GetPin(int n)
{
    return n == 0 ? &m_input : nullptr;
}

void CVideoRenderer::SetSurface(IVideoSurface* surface)
{
    std::lock_guard guard(m_pictureLock);
    m_surface = surface;
}

void CVideoRenderer::SetVideoPosition(const ZRect& destination)
{
    std::lock_guard guard(m_pictureLock);
    m_destination = destination;
    if (m_surface && (destination.Width() <= 0 || destination.Height() <= 0))
        m_surface->Hide();
}

ZRect CVideoRenderer::VideoPosition()
{
    std::lock_guard guard(m_pictureLock);
    return m_destination;
}

void CVideoRenderer::Show(const uint8_t* picture, int width, int height, int stride)
{
    std::lock_guard guard(m_pictureLock);
    // Keep a contiguous copy for repaints and snapshots.
    m_latest.resize(size_t(width) * height * 3 / 2);
    for (int y = 0; y < height; ++y)
        std::memcpy(m_latest.data() + size_t(y) * width, picture + size_t(y) * stride, size_t(width));
    const uint8_t* chromaIn = picture + size_t(stride) * height;
    uint8_t* chromaOut = m_latest.data() + size_t(width) * height;
    for (int plane = 0; plane < 2; ++plane) {
        for (int y = 0; y < height / 2; ++y)
            std::memcpy(chromaOut + size_t(y) * (width / 2), chromaIn + size_t(y) * (stride / 2), size_t(width / 2));
        chromaIn += size_t(stride / 2) * (height / 2);
        chromaOut += size_t(width / 2) * (height / 2);
    }
    m_latestWidth = width;
    m_latestHeight = height;
    ++m_shown;
    if (m_surface && m_destination.Width() > 0 && m_destination.Height() > 0)
        m_surface->Present(m_latest.data(), width, height, width, m_destination);
}

void CVideoRenderer::Repaint()
{
    std::lock_guard guard(m_pictureLock);
    if (m_surface && !m_latest.empty() && m_destination.Width() > 0 && m_destination.Height() > 0)
        m_surface->Present(m_latest.data(), m_latestWidth, m_latestHeight, m_latestWidth, m_destination);
}

bool CVideoRenderer::CurrentImage(std::vector<uint8_t>* yv12, int* width, int* height)
{
    std::lock_guard guard(m_pictureLock);
    if (m_latest.empty())
        return false;
    *yv12 = m_latest;
    *width = m_latestWidth;
    *height = m_latestHeight;
    return true;
}

int64_t CVideoRenderer::PicturesShown()
{
    std::lock_guard guard(m_pictureLock);
    return m_shown;
}
