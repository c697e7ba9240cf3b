#include "graph/BaseFilter.h"

#include "graph/BasePin.h"

CBaseFilter::CBaseFilter(std::string name, const Guid& clsid) : m_clsid(clsid), m_name(std::move(name)) {}

CBaseFilter::~CBaseFilter() = default;

HRESULT CBaseFilter::GetClassID(Guid* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop()
{
    std::lock_guard lock(m_lock);
    HRESULT result = S_OK;
    const FilterState was = State();
    // Stopped first: a streaming thread woken by the pins' deactivation sees it at once.
    m_state.store(FilterState::Stopped, std::memory_order_release);
    if (was != FilterState::Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (Failed(hr) && Succeeded(result))
                    result = hr;
            }
        }
    }
    return result;
}

HRESULT CBaseFilter::Pause()
{
    std::lock_guard lock(m_lock);
    if (State() == FilterState::Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (Failed(hr))
                    return hr;
            }
        }
    }
    m_state.store(FilterState::Paused, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start)
{
    std::lock_guard lock(m_lock);
    if (State() == FilterState::Stopped) {
        const HRESULT hr = Pause();
        if (Failed(hr))
            return hr;
    }
    m_start.store(start, std::memory_order_release);
    m_state.store(FilterState::Running, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseFilter::GetState(uint32_t timeoutMs, FilterState* state)
{
    (void)timeoutMs;
    if (!state)
        return E_POINTER;
    *state = State();
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock)
{
    std::lock_guard lock(m_lock);
    m_clock = ComPtr<IReferenceClock>(clock);
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(ComPtr<IReferenceClock>* clock)
{
    if (!clock)
        return E_POINTER;
    std::lock_guard lock(m_lock);
    *clock = m_clock;
    return S_OK;
}

HRESULT CBaseFilter::FindPin(const std::string& name, ComPtr<IPin>* pin)
{
    if (!pin)
        return E_POINTER;
    *pin = nullptr;
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* p = GetPin(i);
        if (p && p->Name() == name) {
            *pin = ComPtr<IPin>(p);
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::JoinFilterGraph(IGraphBuilder* graph, const std::string& name)
{
    std::lock_guard lock(m_lock);
    m_graph.store(graph, std::memory_order_release);
    m_sink.store(graph ? dynamic_cast<IMediaEventSink*>(graph) : nullptr, std::memory_order_release);
    if (graph)
        m_name = name;
    return S_OK;
}

FilterInfo CBaseFilter::QueryFilterInfo()
{
    std::lock_guard lock(m_lock);
    return FilterInfo{m_name, m_graph.load(std::memory_order_acquire)};
}

HRESULT CBaseFilter::NotifyEvent(int32_t code, intptr_t param1, intptr_t param2)
{
    IMediaEventSink* sink = m_sink.load(std::memory_order_acquire);
    if (!sink)
        return E_UNEXPECTED;
    return sink->NotifyEvent(code, param1, param2);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* time)
{
    if (!time)
        return E_POINTER;
    if (!m_clock || State() != FilterState::Running)
        return E_FAIL;
    REFERENCE_TIME now = 0;
    const HRESULT hr = m_clock->GetTime(&now);
    if (Failed(hr))
        return hr;
    *time = now - StartTime();
    return S_OK;
}

ComPtr<IPin> GetPin(IBaseFilter* filter, PinDirection direction, int n)
{
    if (!filter || n < 0)
        return nullptr;
    int seen = 0;
    for (int i = 0; i < filter->GetPinCount(); ++i) {
        IPin* pin = filter->GetPin(i);
        if (pin && pin->QueryDirection() == direction) {
            if (seen == n)
                return ComPtr<IPin>(pin);
            ++seen;
        }
    }
    return nullptr;
}
