#include "harness/RecordingSink.h"

namespace {

uint32_t Fnv1a(const uint8_t* p, size_t n)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

}  // namespace

RecordingSinkPin::RecordingSinkPin(RecordingSinkFilter* filter)
    : CBaseInputPin(filter, filter->FilterLock(), "Input"), m_sink(filter)
{
}

HRESULT RecordingSinkPin::CheckMediaType(const CMediaType& type)
{
    if (!m_sink->accept)
        return S_OK;
    return m_sink->accept(type) ? S_OK : S_FALSE;
}

HRESULT RecordingSinkPin::GetAllocatorRequirements(AllocatorProperties* props)
{
    if (!m_sink->requirements)
        return E_NOTIMPL;
    *props = *m_sink->requirements;
    return S_OK;
}

HRESULT RecordingSinkPin::GetAllocator(ComPtr<IMemAllocator>* allocator)
{
    if (!m_sink->makeAllocator)
        return CBaseInputPin::GetAllocator(allocator);
    if (!m_allocator)
        m_allocator = m_sink->makeAllocator();
    *allocator = m_allocator;
    return m_allocator ? S_OK : E_OUTOFMEMORY;
}

HRESULT RecordingSinkPin::Receive(IMediaSample* sample)
{
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    hr = m_sink->PassGate();
    if (hr != S_OK)
        return hr;
    RecordedItem item;
    item.timeResult = sample->GetTime(&item.start, &item.stop);
    item.syncPoint = sample->IsSyncPoint() == S_OK;
    item.discontinuity = sample->IsDiscontinuity() == S_OK;
    item.preroll = sample->IsPreroll() == S_OK;
    item.size = sample->GetActualDataLength();
    uint8_t* p = nullptr;
    sample->GetPointer(&p);
    item.checksum = Fnv1a(p, size_t(item.size));
    if (m_sink->keepData)
        item.data.assign(p, p + item.size);
    CMediaType changed;
    if (sample->GetMediaType(&changed) == S_OK)
        item.mediaType = changed;
    {
        std::lock_guard lock(m_sink->m_recordLock);
        if (m_sink->holdSamples)
            m_sink->m_held.push_back(ComPtr<IMediaSample>(sample));
        hr = m_sink->m_receiveResult;
    }
    m_sink->Record(std::move(item));
    return hr;
}

HRESULT RecordingSinkPin::EndOfStream()
{
    const HRESULT hr = CBaseInputPin::EndOfStream();
    if (hr != S_OK)
        return hr;
    RecordedItem item;
    item.kind = RecordedItem::Kind::EndOfStream;
    m_sink->Record(item);
    if (m_sink->postComplete)
        m_sink->NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<intptr_t>(static_cast<IBaseFilter*>(m_sink)));
    return S_OK;
}

HRESULT RecordingSinkPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    RecordedItem item;
    item.kind = RecordedItem::Kind::BeginFlush;
    m_sink->Record(item);
    return S_OK;
}

HRESULT RecordingSinkPin::EndFlush()
{
    CBaseInputPin::EndFlush();
    RecordedItem item;
    item.kind = RecordedItem::Kind::EndFlush;
    m_sink->Record(item);
    return S_OK;
}

HRESULT RecordingSinkPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    CBaseInputPin::NewSegment(start, stop, rate);
    RecordedItem item;
    item.kind = RecordedItem::Kind::NewSegment;
    item.start = start;
    item.stop = stop;
    item.rate = rate;
    m_sink->Record(item);
    return S_OK;
}

HRESULT RecordingSinkPin::Inactive()
{
    const HRESULT hr = CBaseInputPin::Inactive();
    m_sink->Wake();
    return hr;
}

RecordingSinkFilter::RecordingSinkFilter() : CBaseFilter("Recording Sink", GUID_NULL), m_pin(this) {}

void RecordingSinkFilter::SetReceiveResult(HRESULT hr)
{
    std::lock_guard lock(m_recordLock);
    m_receiveResult = hr;
}

void RecordingSinkFilter::SetGate(bool open)
{
    {
        std::lock_guard lock(m_recordLock);
        m_gateOpen = open;
    }
    m_changed.notify_all();
}

HRESULT RecordingSinkFilter::PassGate()
{
    std::unique_lock lock(m_recordLock);
    auto through = [&] { return m_gateOpen || m_pin.IsFlushing() || IsStopped(); };
    if (!through()) {
        m_blocked = true;
        m_changed.notify_all();
        m_changed.wait(lock, through);
        m_blocked = false;
    }
    if (m_pin.IsFlushing())
        return S_FALSE;
    if (IsStopped())
        return VFW_E_WRONG_STATE;
    return S_OK;
}

void RecordingSinkFilter::Wake()
{
    { std::lock_guard lock(m_recordLock); }
    m_changed.notify_all();
}

void RecordingSinkFilter::Record(RecordedItem item)
{
    {
        std::lock_guard lock(m_recordLock);
        m_items.push_back(std::move(item));
    }
    m_changed.notify_all();
}

std::vector<RecordedItem> RecordingSinkFilter::Items()
{
    std::lock_guard lock(m_recordLock);
    return m_items;
}

std::vector<RecordedItem> RecordingSinkFilter::Samples()
{
    std::lock_guard lock(m_recordLock);
    std::vector<RecordedItem> out;
    for (const RecordedItem& i : m_items) {
        if (i.kind == RecordedItem::Kind::Sample)
            out.push_back(i);
    }
    return out;
}

size_t RecordingSinkFilter::SampleCount() { return Samples().size(); }

bool RecordingSinkFilter::GotEndOfStream()
{
    std::lock_guard lock(m_recordLock);
    for (const RecordedItem& i : m_items) {
        if (i.kind == RecordedItem::Kind::EndOfStream)
            return true;
    }
    return false;
}

bool RecordingSinkFilter::WaitFor(size_t samples, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_recordLock);
    return m_changed.wait_for(lock, timeout, [&] {
        size_t n = 0;
        for (const RecordedItem& i : m_items) {
            if (i.kind == RecordedItem::Kind::EndOfStream)
                return true;
            if (i.kind == RecordedItem::Kind::Sample)
                ++n;
        }
        return n >= samples;
    });
}

bool RecordingSinkFilter::WaitForEndOfStream(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_recordLock);
    return m_changed.wait_for(lock, timeout, [&] {
        for (const RecordedItem& i : m_items) {
            if (i.kind == RecordedItem::Kind::EndOfStream)
                return true;
        }
        return false;
    });
}

bool RecordingSinkFilter::WaitForBlocked(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_recordLock);
    return m_changed.wait_for(lock, timeout, [&] { return m_blocked; });
}

void RecordingSinkFilter::ReleaseHeld()
{
    std::vector<ComPtr<IMediaSample>> held;
    {
        std::lock_guard lock(m_recordLock);
        held.swap(m_held);
    }
}

void RecordingSinkFilter::Clear()
{
    std::lock_guard lock(m_recordLock);
    m_items.clear();
}
