#include "encode/ConvFilter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "encode/OutputEncoder.h"

namespace {

// Audio that arrives further than this from where the written PCM has got to is realigned:
// a later sample gets silence before it, an earlier one loses its overlap. Within it the
// bytes are taken as they come (decoders stamp frames, not samples).
constexpr int64_t kAudioTolerance = 500000;  // 50 ms

}  // namespace

// --- Input pins -----------------------------------------------------------------------------

CConvInputPin::CConvInputPin(CConvFilter* filter, std::string name, bool video)
    : CBaseInputPin(filter, filter->FilterLock(), std::move(name)), m_conv(filter), m_video(video)
{
}

HRESULT CConvInputPin::CheckMediaType(const CMediaType&)
{
    return S_OK;
}

HRESULT CConvInputPin::CompleteConnect(IPin* peer)
{
    const HRESULT hr = CBaseInputPin::CompleteConnect(peer);
    if (Succeeded(hr)) {
        const CMediaType type = CurrentMediaType();
        if (m_video)
            m_conv->VideoConnected(type);
        else if (const auto* wfx = type.FormatAs<WaveFormatEx>()) {
            m_conv->m_audioBlockAlign = std::max<int32_t>(1, wfx->nBlockAlign ? wfx->nBlockAlign : 2 * wfx->nChannels);
            m_conv->m_audioBytesPerSecond = int64_t(wfx->nSamplesPerSec) * m_conv->m_audioBlockAlign;
        }
    }
    return hr;
}

HRESULT CConvInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    return m_video ? m_conv->ReceiveVideo(sample) : m_conv->ReceiveAudio(sample);
}

HRESULT CConvInputPin::EndOfStream()
{
    const HRESULT hr = CBaseInputPin::EndOfStream();
    if (hr != S_OK)
        return hr;
    m_conv->InputEnded(m_video);
    return S_OK;
}

// --- Preview output -------------------------------------------------------------------------

CVideoPrePin::CVideoPrePin(CConvFilter* filter)
    : CBaseOutputPin(filter, filter->FilterLock(), "Video Pre"), m_conv(filter)
{
}

HRESULT CVideoPrePin::CheckMediaType(const CMediaType& type)
{
    if (const BitmapInfoHeader* bmi = type.VideoBitmapHeader())
        m_rendererStride = bmi->biWidth;
    return S_OK;
}

HRESULT CVideoPrePin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0 || !m_offered.IsValid())
        return VFW_S_NO_MORE_ITEMS;
    *type = m_offered;
    return S_OK;
}

HRESULT CVideoPrePin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties*)
{
    const CMediaType type = CurrentMediaType();
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    int32_t size = bmi ? static_cast<int32_t>(bmi->biSizeImage) : 0;
    if (size == 0 && bmi)
        size = bmi->biWidth * std::abs(bmi->biHeight) * 4;
    AllocatorProperties asked;
    asked.cBuffers = 5;
    asked.cbBuffer = std::max(size, 1);
    asked.cbAlign = 1;
    asked.cbPrefix = 0;
    return SetBufferProperties(allocator, asked);
}

HRESULT CVideoPrePin::Active()
{
    HRESULT hr = CBaseOutputPin::Active();
    if (Failed(hr) || !IsConnected())
        return hr;
    std::unique_ptr<COutputQueue> queue;
    hr = COutputQueue::Create(GetConnected(), 5, 5, &queue);
    if (Failed(hr))
        return hr;
    std::lock_guard guard(m_queueLock);
    m_queue = std::move(queue);
    return S_OK;
}

HRESULT CVideoPrePin::Inactive()
{
    // Decommit first: a preview copy waiting for a buffer returns, then the queue goes.
    const HRESULT hr = CBaseOutputPin::Inactive();
    std::unique_ptr<COutputQueue> queue;
    {
        std::lock_guard guard(m_queueLock);
        queue = std::move(m_queue);
    }
    return hr;
}

HRESULT CVideoPrePin::EndOfStream()
{
    std::lock_guard guard(m_queueLock);
    if (m_queue)
        m_queue->EndOfStream();
    return S_OK;
}

void CVideoPrePin::DeliverPicture(const uint8_t* picture, int w, int h)
{
    if (!IsConnected() || w <= 0 || h <= 0)
        return;
    ComPtr<IMediaSample> sample;
    if (GetDeliveryBuffer(&sample) != S_OK || !sample)
        return;
    uint8_t* out = nullptr;
    sample->GetPointer(&out);
    const int stride = m_rendererStride >= w ? m_rendererStride : w;
    const int64_t needed = int64_t(stride) * h * 3 / 2;
    if (!out || sample->GetSize() < needed)
        return;
    // Luma rows at the renderer's stride, then the two chroma planes at half of it.
    for (int y = 0; y < h; ++y)
        std::memcpy(out + int64_t(y) * stride, picture + int64_t(y) * w, static_cast<size_t>(w));
    const uint8_t* chromaIn = picture + int64_t(w) * h;
    uint8_t* chromaOut = out + int64_t(stride) * h;
    for (int plane = 0; plane < 2; ++plane) {
        for (int y = 0; y < h / 2; ++y)
            std::memcpy(chromaOut + int64_t(y) * (stride / 2), chromaIn + int64_t(y) * (w / 2), static_cast<size_t>(w / 2));
        chromaIn += int64_t(w / 2) * (h / 2);
        chromaOut += int64_t(stride / 2) * (h / 2);
    }
    sample->SetActualDataLength(static_cast<int32_t>(int64_t(w) * h * 3 / 2));
    sample->SetTime(nullptr, nullptr);
    std::lock_guard guard(m_queueLock);
    if (m_queue)
        m_queue->Receive(std::move(sample));
}

// --- Filter ---------------------------------------------------------------------------------

CConvFilter::CConvFilter()
    : CBaseFilter("Conver", CLSID_ConvFilter),
      m_audioIn(this, "Audio In", false),
      m_videoIn(this, "Video In", true),
      m_videoPre(this)
{
}

CConvFilter::~CConvFilter() = default;

HRESULT CConvFilter::QueryInterfaceHook(const std::type_info& iid, IUnknown** object)
{
    if (iid != typeid(IMediaSeeking))
        return CBaseFilter::QueryInterfaceHook(iid, object);
    std::lock_guard guard(FilterLock());
    if (!m_seeking)
        m_seeking = std::make_unique<CPosPassThru>(&m_audioIn, this);
    *object = m_seeking.get();
    return S_OK;
}

CBasePin* CConvFilter::GetPin(int n)
{
    switch (n) {
    case 0: return &m_audioIn;
    case 1: return &m_videoIn;
    case 2: return &m_videoPre;
    default: return nullptr;
    }
}

HRESULT CConvFilter::Pause()
{
    std::lock_guard guard(FilterLock());
    if (IsStopped()) {
        std::lock_guard encode(m_encodeLock);
        m_audioEnded = m_videoEnded = m_completeSent = m_failureSent = false;
        m_audioBytesWritten = 0;
        m_nextVideoTime = 0;
        m_lastAudioStart = 0;
        m_previewCounter = 0;
    }
    return CBaseFilter::Pause();
}

void CConvFilter::VideoConnected(const CMediaType& type)
{
    if (const BitmapInfoHeader* bmi = type.VideoBitmapHeader()) {
        m_videoWidth = bmi->biWidth;
        m_videoHeight = std::abs(bmi->biHeight);
    }
    m_videoPre.m_offered = type;
}

void CConvFilter::ReportEncoderFailure()
{
    if (m_failureSent)
        return;
    m_failureSent = true;
    NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
}

HRESULT CConvFilter::ReceiveVideo(IMediaSample* sample)
{
    if (!m_encoder || !m_encoder->HasVideoStream())
        return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    if (Failed(sample->GetTime(&start, &stop))) {
        // An unstamped picture takes the next output slot.
        start = m_trimStart + NextVideoTime();
        stop = start + static_cast<int64_t>(m_frameDuration);
    }
    if (stop < m_trimStart || start > m_trimStop)
        return S_OK;
    // Output slots fill up to the picture's end, but none starts past the window's end.
    stop = std::min(stop, m_trimStop) - m_trimStart;

    uint8_t* picture = nullptr;
    if (Failed(sample->GetPointer(&picture)) || !picture)
        return S_OK;
    const int64_t pictureBytes = int64_t(m_videoWidth) * m_videoHeight * 3 / 2;
    if (sample->GetActualDataLength() < pictureBytes)
        return S_OK;  // not a whole picture of the connected size

    if (Preview() && m_previewCounter++ % 5 == 0)
        m_videoPre.DeliverPicture(picture, m_videoWidth, m_videoHeight);

    std::lock_guard guard(m_encodeLock);
    if (m_failureSent)
        return S_FALSE;
    int64_t next = NextVideoTime();
    while (next < stop) {
        if (m_encoder->WriteVideo(picture) != 0) {
            if (m_encoder->HasError()) {
                ReportEncoderFailure();
                return S_FALSE;
            }
            break;
        }
        next = static_cast<int64_t>(static_cast<double>(next) + m_frameDuration);
        m_nextVideoTime.store(next, std::memory_order_relaxed);
    }
    return S_OK;
}

void CConvFilter::WriteSilence(int64_t length)
{
    static const std::vector<uint8_t> zeros(65536, 0);
    while (length > 0 && !m_failureSent) {
        const int step = static_cast<int>(std::min<int64_t>(length, int64_t(zeros.size())));
        if (m_encoder->WriteAudio(zeros.data(), step) != 0 && m_encoder->HasError())
            ReportEncoderFailure();
        m_audioBytesWritten += step;
        length -= step;
    }
}

HRESULT CConvFilter::ReceiveAudio(IMediaSample* sample)
{
    if (!m_encoder || !m_encoder->HasAudioStream())
        return S_OK;
    uint8_t* data = nullptr;
    if (Failed(sample->GetPointer(&data)) || !data)
        return S_OK;
    int64_t length = sample->GetActualDataLength();
    const int64_t align = m_audioBlockAlign;
    const int64_t rate = m_audioBytesPerSecond;

    std::lock_guard guard(m_encodeLock);
    if (m_failureSent)
        return S_FALSE;
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = Succeeded(sample->GetTime(&start, &stop));
    const int64_t expected = rate > 0 ? m_audioBytesWritten * 10000000 / rate : 0;
    if (!timed) {
        // Untimed PCM continues where the written PCM has got to.
        start = m_trimStart + expected;
        stop = start + (rate > 0 ? length * 10000000 / rate : 0);
    }
    if (stop < m_trimStart || start > m_trimStop)
        return S_OK;
    const int64_t relative = start - m_trimStart;
    m_lastAudioStart.store(relative, std::memory_order_relaxed);

    int64_t skip = 0;
    if (rate > 0) {
        // Keep the written PCM on the title's time line: fill a gap with silence, drop an
        // overlap and the part of the first sample before the trim start, cut at the trim
        // stop.
        if (relative > expected + kAudioTolerance)
            WriteSilence((relative - expected) * rate / 10000000 / align * align);
        else if (relative < expected - kAudioTolerance || (m_audioBytesWritten == 0 && relative < 0))
            skip = std::min(length, (expected - relative) * rate / 10000000 / align * align);
        const int64_t windowBytes = (m_trimStop - m_trimStart) * rate / 10000000 / align * align;
        length = std::min(length - skip, std::max<int64_t>(0, windowBytes - m_audioBytesWritten));
    } else {
        length -= skip;
    }
    if (length <= 0 || m_failureSent)
        return m_failureSent ? S_FALSE : S_OK;
    if (m_encoder->WriteAudio(data + skip, static_cast<int>(length)) != 0 && m_encoder->HasError()) {
        ReportEncoderFailure();
        return S_FALSE;
    }
    m_audioBytesWritten += length;
    return S_OK;
}

void CConvFilter::InputEnded(bool video)
{
    std::lock_guard guard(m_encodeLock);
    (video ? m_videoEnded : m_audioEnded) = true;
    if ((m_audioIn.IsConnected() && !m_audioEnded) || (m_videoIn.IsConnected() && !m_videoEnded))
        return;
    if (m_completeSent)
        return;
    m_completeSent = true;
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<intptr_t>(static_cast<IBaseFilter*>(this)));
}
