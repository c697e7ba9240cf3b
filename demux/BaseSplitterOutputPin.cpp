#include "demux/BaseSplitterOutputPin.h"

#include <algorithm>
#include <cstring>

#include "demux/BaseSplitterFilter.h"

void ManualEvent::Set()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_set = true;
    }
    m_changed.notify_all();
}

void ManualEvent::Reset()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_set = false;
}

bool ManualEvent::IsSet()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_set;
}

void ManualEvent::Poke()
{
    { std::lock_guard<std::mutex> lock(m_lock); }
    m_changed.notify_all();
}

namespace {

// A queue holding this many bytes stops the demux thread even when other pins run dry. A
// conversion drains its audio far faster than its video, so the audio pin always looks dry:
// with a larger cap the video queue would grow by the title's bit rate until the cap (16 MiB
// is about 13 s of DVD video at its highest rate, plenty for any decoder to catch up).
constexpr int64_t kMaxPinBytes = 16 * 1024 * 1024;
constexpr int kSpaceWaitMs = 100;

}  // namespace

CBaseSplitterOutputPin::CBaseSplitterOutputPin(std::vector<CMediaType> types, const std::string& name,
                                               CBaseSplitterFilter* filter, HRESULT* hr, int buffers)
    : CBaseOutputPin(filter, filter->FilterLock(), name),
      m_splitter(filter),
      m_bufferCount(buffers >= 2 ? buffers : 1),
      m_types(std::move(types))
{
    if (hr)
        *hr = S_OK;
}

CBaseSplitterOutputPin::~CBaseSplitterOutputPin()
{
    {
        std::lock_guard<std::mutex> lock(m_wakeLock);
        m_exit = true;
    }
    m_wake.notify_all();
    m_flushDone.Poke();
    if (m_thread.joinable())
        m_thread.join();
}

HRESULT CBaseSplitterOutputPin::CheckMediaType(const CMediaType& type)
{
    std::lock_guard<std::mutex> lock(m_typesLock);
    for (const CMediaType& t : m_types)
        if (t == type)
            return S_OK;
    return E_INVALIDARG;
}

HRESULT CBaseSplitterOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_typesLock);
    if (size_t(position) >= m_types.size())
        return VFW_S_NO_MORE_ITEMS;
    *type = m_types[size_t(position)];
    return S_OK;
}

void CBaseSplitterOutputPin::ReplaceOfferedTypes(const CMediaType& type)
{
    {
        std::lock_guard<std::mutex> lock(m_typesLock);
        m_types.assign(1, type);
    }
    SetMediaType(type);
}

HRESULT CBaseSplitterOutputPin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request)
{
    const CMediaType mt = CurrentMediaType();
    AllocatorProperties asked = *request;
    asked.cBuffers = m_bufferCount;
    if (mt.subtype == MEDIASUBTYPE_TwoBufferSubtype && mt.formattype == FORMAT_TwoBufferFormat)
        asked.cBuffers = std::max(asked.cBuffers, 2);
    asked.cbBuffer = int32_t(std::max<uint32_t>(1, mt.lSampleSize));
    return SetBufferProperties(allocator, asked);
}

HRESULT CBaseSplitterOutputPin::Active()
{
    if (!IsConnected())
        return S_OK;
    const HRESULT hr = CBaseOutputPin::Active();
    if (Failed(hr))
        return hr;
    if (!m_thread.joinable()) {
        m_deliverResult.store(S_OK);
        m_flushing.store(false);
        m_flushed.store(false);
        m_flushDone.Set();
        {
            std::lock_guard<std::mutex> lock(m_wakeLock);
            m_exit = false;
        }
        m_threadRunning.store(true, std::memory_order_release);
        m_thread = std::thread([this] { ThreadMain(); });
    }
    return S_OK;
}

HRESULT CBaseSplitterOutputPin::Inactive()
{
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> lock(m_wakeLock);
        m_exit = true;
    }
    m_wake.notify_all();
    m_flushDone.Poke();
    {
        // Decommitting frees a delivery thread waiting for a buffer.
        std::lock_guard<std::mutex> lock(m_allocLock);
        if (m_allocator)
            hr = CBaseOutputPin::Inactive();
    }
    if (m_thread.joinable())
        m_thread.join();
    m_threadRunning.store(false, std::memory_order_release);
    m_queue.Clear();
    m_splitter->NotifySpace();
    return hr;
}

void CBaseSplitterOutputPin::ThreadMain()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_wakeLock);
            m_wake.wait(lock, [this] { return m_exit || m_queue.Count() > 0; });
            if (m_exit)
                break;
        }
        for (size_t n = m_queue.Count(); n > 0; --n) {
            std::unique_ptr<Packet> packet;
            if (!m_queue.Pop(&packet))
                break;
            m_splitter->NotifySpace();
            if (m_deliverResult.load() != S_OK)
                continue;
            m_flushed.store(false);
            const HRESULT hr = packet ? SendPacket(std::move(packet)) : DeliverEndOfStream();
            m_flushDone.Wait([this] {
                std::lock_guard<std::mutex> lock(m_wakeLock);
                return m_exit;
            });
            if (hr != S_OK && !m_flushed.load()) {
                m_deliverResult.store(hr);
                m_splitter->NotifySpace();
                break;
            }
        }
    }
    m_threadRunning.store(false, std::memory_order_release);
}

HRESULT CBaseSplitterOutputPin::EnqueuePacket(std::unique_ptr<Packet> packet)
{
    if (!HasThread())
        return S_FALSE;
    while (m_deliverResult.load() == S_OK) {
        if (m_splitter->NeedsMoreData() && m_queue.Bytes() <= kMaxPinBytes)
            break;
        m_splitter->WaitForSpace(kSpaceWaitMs);
    }
    const HRESULT result = m_deliverResult.load();
    if (result != S_OK)
        return result;
    m_queue.Push(std::move(packet));
    {
        std::lock_guard<std::mutex> lock(m_wakeLock);
    }
    m_wake.notify_one();
    return m_deliverResult.load();
}

bool CBaseSplitterOutputPin::IsSparse()
{
    const CMediaType mt = CurrentMediaType();
    return mt.majortype == MEDIATYPE_Text || mt.majortype == MEDIATYPE_ScriptCommand ||
           mt.majortype == MEDIATYPE_Subtitle || mt.subtype == MEDIASUBTYPE_DVD_SUBPICTURE ||
           mt.subtype == MEDIASUBTYPE_SVCD_SUBPICTURE || mt.subtype == MEDIASUBTYPE_CVD_SUBPICTURE;
}

HRESULT CBaseSplitterOutputPin::BeginFlush()
{
    m_flushDone.Reset();
    m_flushed.store(false);
    m_flushing.store(true);
    m_deliverResult.store(S_FALSE);
    m_queue.Clear();
    m_splitter->NotifySpace();
    if (IsConnected()) {
        const HRESULT hr = DeliverBeginFlush();
        if (Failed(hr))
            m_flushDone.Set();
    }
    return S_OK;
}

HRESULT CBaseSplitterOutputPin::EndFlush()
{
    if (!HasThread())
        return S_FALSE;
    return OnEndFlush();
}

HRESULT CBaseSplitterOutputPin::OnEndFlush()
{
    if (!HasThread())
        return S_FALSE;
    const HRESULT hr = IsConnected() ? DeliverEndFlush() : S_OK;
    m_deliverResult.store(S_OK);
    m_flushing.store(false);
    m_flushed.store(true);
    m_flushDone.Set();
    m_splitter->NotifySpace();
    return hr;
}

HRESULT CBaseSplitterOutputPin::DeliverSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    return OnNewSegment(start, stop, rate);
}

HRESULT CBaseSplitterOutputPin::OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    m_resetMeasure.store(true);
    if (m_flushing.load())
        return S_FALSE;
    m_segmentStartTime = start;
    if (!HasThread())
        return S_FALSE;
    // A script-command renderer downstream would get a dummy packet here; this platform has
    // none, so the segment is only forwarded.
    return DeliverNewSegment(start, stop, rate);
}

HRESULT CBaseSplitterOutputPin::GrowBuffers(int32_t needed)
{
    std::lock_guard<std::mutex> lock(m_allocLock);
    {
        std::lock_guard<std::mutex> wake(m_wakeLock);
        if (m_exit)
            return VFW_E_NOT_COMMITTED;
    }
    IMemAllocator* allocator = Allocator();
    if (!allocator)
        return VFW_E_NO_ALLOCATOR;
    AllocatorProperties props;
    HRESULT hr = allocator->GetProperties(&props);
    if (Failed(hr))
        return hr;
    // Samples still held downstream are freed when they come back (the pool makes a fresh
    // set on commit), so nothing downstream needs to be flushed for the resize.
    props.cbBuffer = int32_t(std::min<int64_t>(INT32_MAX, int64_t(needed) * 3 / 2));
    hr = allocator->Decommit();
    if (Failed(hr))
        return hr;
    AllocatorProperties actual;
    hr = allocator->SetProperties(props, &actual);
    if (Failed(hr))
        return hr;
    return allocator->Commit();
}

HRESULT CBaseSplitterOutputPin::SendPacket(std::unique_ptr<Packet> p)
{
    const int32_t size = int32_t(p->PayloadSize());
    if (size <= 0)
        return S_OK;

    // Bit-rate statistics.
    if (m_resetMeasure.exchange(false))
        m_measureTime = NoTime;
    m_bytesSinceMeasure += size;
    if (p->startTime != NoTime) {
        if (m_measureTime == NoTime) {
            m_measureTime = p->startTime;
        } else if (p->startTime > m_measureTime + 10000000) {
            const int64_t elapsed = p->startTime - m_measureTime;
            m_currentBitrate.store(int32_t(m_bytesSinceMeasure * 8 * 10000000 / elapsed));
            m_totalTime += elapsed;
            m_totalBytes += m_bytesSinceMeasure;
            m_averageBitrate.store(int32_t(m_totalBytes * 8 * 10000000 / m_totalTime));
            m_bytesSinceMeasure = 0;
            m_measureTime = p->startTime;
        }
    }

    REFERENCE_TIME start = p->startTime, stop = p->endTime;
    const double rate = m_splitter->PlayRate();
    if (rate > 0 && rate != 1.0) {
        if (start != NoTime)
            start = REFERENCE_TIME(double(start) / rate);
        if (stop != NoTime)
            stop = REFERENCE_TIME(double(stop) / rate);
    }

    ComPtr<IMediaSample> sample;
    HRESULT hr = GetDeliveryBuffer(&sample);
    if (Failed(hr))
        return hr;
    if (sample->GetSize() < size) {
        sample.Reset();
        hr = GrowBuffers(size);
        if (Failed(hr))
            return hr;
        hr = GetDeliveryBuffer(&sample);
        if (Failed(hr))
            return hr;
        if (sample->GetSize() < size)
            return E_OUTOFMEMORY;
    }

    if (p->mediaType) {
        sample->SetMediaType(p->mediaType.get());
        p->discontinuity = true;
        ReplaceOfferedTypes(*p->mediaType);
    }

    uint8_t* dst = nullptr;
    sample->GetPointer(&dst);
    std::memcpy(dst, p->data.data(), size_t(size));
    sample->SetActualDataLength(size);
    if (start != NoTime) {
        const REFERENCE_TIME end = stop != NoTime ? stop : start + 1;
        sample->SetTime(&start, &end);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    sample->SetMediaTime(nullptr, nullptr);
    sample->SetDiscontinuity(p->discontinuity);
    sample->SetSyncPoint(p->syncPoint);
    sample->SetPreroll(start != NoTime && start < 0);
    return Deliver(sample.Get());
}

// -- Seeking: everything goes to the filter.
HRESULT CBaseSplitterOutputPin::GetCapabilities(uint32_t* c) { return m_splitter->GetCapabilities(c); }
HRESULT CBaseSplitterOutputPin::CheckCapabilities(uint32_t* c) { return m_splitter->CheckCapabilities(c); }
HRESULT CBaseSplitterOutputPin::IsFormatSupported(const Guid& f) { return m_splitter->IsFormatSupported(f); }
HRESULT CBaseSplitterOutputPin::QueryPreferredFormat(Guid* f) { return m_splitter->QueryPreferredFormat(f); }
HRESULT CBaseSplitterOutputPin::GetTimeFormat(Guid* f) { return m_splitter->GetTimeFormat(f); }
HRESULT CBaseSplitterOutputPin::IsUsingTimeFormat(const Guid& f) { return m_splitter->IsUsingTimeFormat(f); }
HRESULT CBaseSplitterOutputPin::SetTimeFormat(const Guid& f) { return m_splitter->SetTimeFormat(f); }
HRESULT CBaseSplitterOutputPin::GetDuration(int64_t* d) { return m_splitter->GetDuration(d); }
HRESULT CBaseSplitterOutputPin::GetStopPosition(int64_t* s) { return m_splitter->GetStopPosition(s); }
HRESULT CBaseSplitterOutputPin::GetCurrentPosition(int64_t* c) { return m_splitter->GetCurrentPosition(c); }
HRESULT CBaseSplitterOutputPin::ConvertTimeFormat(int64_t* target, const Guid* targetFormat, int64_t source,
                                                  const Guid* sourceFormat)
{
    return m_splitter->ConvertTimeFormat(target, targetFormat, source, sourceFormat);
}
HRESULT CBaseSplitterOutputPin::SetPositions(int64_t* current, uint32_t currentFlags, int64_t* stop,
                                             uint32_t stopFlags)
{
    return m_splitter->ApplySeek(this, current, currentFlags, stop, stopFlags);
}
HRESULT CBaseSplitterOutputPin::GetPositions(int64_t* c, int64_t* s) { return m_splitter->GetPositions(c, s); }
HRESULT CBaseSplitterOutputPin::GetAvailable(int64_t* e, int64_t* l) { return m_splitter->GetAvailable(e, l); }
HRESULT CBaseSplitterOutputPin::SetRate(double r) { return m_splitter->SetRate(r); }
HRESULT CBaseSplitterOutputPin::GetRate(double* r) { return m_splitter->GetRate(r); }
HRESULT CBaseSplitterOutputPin::GetPreroll(int64_t* p) { return m_splitter->GetPreroll(p); }
