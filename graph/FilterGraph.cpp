#include "graph/FilterGraph.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "graph/SystemClock.h"

namespace {

bool IsRenderer(IBaseFilter* filter)
{
    if (ComPtr<IAMFilterMiscFlags> flags = QueryInterface<IAMFilterMiscFlags>(filter))
        return (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) != 0;
    return GetPin(filter, PinDirection::Input, 0) && !GetPin(filter, PinDirection::Output, 0);
}

IBaseFilter* PeerFilter(IPin* pin)
{
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(&peer) != S_OK || !peer)
        return nullptr;
    return peer->Filter();
}

}  // namespace

CFilterGraph::CFilterGraph(const FilterRegistry* registry)
    : m_registry(registry), m_clock(ComPtr<IReferenceClock>(new CSystemClock()))
{
}

CFilterGraph::~CFilterGraph()
{
    Stop();
    SetNotifyCallback(nullptr);
    for (const Entry& e : m_filters) {
        for (int i = 0; i < e.filter->GetPinCount(); ++i) {
            if (IPin* pin = e.filter->GetPin(i))
                Disconnect(pin);
        }
    }
    for (const Entry& e : m_filters)
        e.filter->JoinFilterGraph(nullptr, "");
    m_filters.clear();
}

// ---- Filters

bool CFilterGraph::HasFilter(IBaseFilter* filter) const
{
    return std::any_of(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.filter.Get() == filter; });
}

std::string CFilterGraph::UniqueName(const std::string& wanted) const
{
    const std::string base = wanted.empty() ? "Filter" : wanted;
    auto used = [&](const std::string& n) {
        return std::any_of(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.name == n; });
    };
    if (!used(base))
        return base;
    for (int i = 1; i < 100000; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " %04d", i);
        if (!used(base + suffix))
            return base + suffix;
    }
    return base;
}

HRESULT CFilterGraph::AddFilter(IBaseFilter* filter, const std::string& name)
{
    if (!filter)
        return E_POINTER;
    if (HasFilter(filter))
        return E_INVALIDARG;
    if (m_state != FilterState::Stopped)
        return VFW_E_NOT_STOPPED;
    const std::string unique = UniqueName(name);
    const HRESULT hr = filter->JoinFilterGraph(this, unique);
    if (Failed(hr))
        return hr;
    filter->SetSyncSource(m_clock.Get());
    m_filters.push_back(Entry{ComPtr<IBaseFilter>(filter), unique});
    return S_OK;
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter* filter)
{
    if (!filter)
        return E_POINTER;
    auto it = std::find_if(m_filters.begin(), m_filters.end(),
                           [&](const Entry& e) { return e.filter.Get() == filter; });
    if (it == m_filters.end())
        return VFW_E_NOT_FOUND;
    if (m_state != FilterState::Stopped)
        return VFW_E_NOT_STOPPED;
    ComPtr<IBaseFilter> keep = it->filter;
    filter->Stop();
    for (int i = 0; i < filter->GetPinCount(); ++i) {
        if (IPin* pin = filter->GetPin(i))
            Disconnect(pin);
    }
    filter->JoinFilterGraph(nullptr, "");
    filter->SetSyncSource(nullptr);
    m_filters.erase(it);
    return S_OK;
}

HRESULT CFilterGraph::FindFilterByName(const std::string& name, ComPtr<IBaseFilter>* filter)
{
    if (!filter)
        return E_POINTER;
    *filter = nullptr;
    for (const Entry& e : m_filters) {
        if (e.name == name) {
            *filter = e.filter;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CFilterGraph::EnumFilters(std::vector<ComPtr<IBaseFilter>>* filters)
{
    if (!filters)
        return E_POINTER;
    filters->clear();
    for (const Entry& e : m_filters)
        filters->push_back(e.filter);
    return S_OK;
}

// ---- Connections

HRESULT CFilterGraph::ConnectDirect(IPin* output, IPin* input, const CMediaType* type)
{
    if (!output || !input)
        return E_POINTER;
    if (!HasFilter(output->Filter()) || !HasFilter(input->Filter()))
        return VFW_E_NOT_FOUND;
    if (output->QueryDirection() != PinDirection::Output || input->QueryDirection() != PinDirection::Input)
        return VFW_E_INVALID_DIRECTION;
    if (m_state != FilterState::Stopped)
        return VFW_E_NOT_STOPPED;
    return output->Connect(input, type);
}

HRESULT CFilterGraph::Disconnect(IPin* pin)
{
    if (!pin)
        return E_POINTER;
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(&peer) != S_OK || !peer)
        return S_FALSE;
    const HRESULT hr = pin->Disconnect();
    if (Failed(hr))
        return hr;
    peer->Disconnect();
    return S_OK;
}

HRESULT CFilterGraph::Connect(IPin* output, IPin* input)
{
    const HRESULT direct = ConnectDirect(output, input, nullptr);
    if (Succeeded(direct))
        return direct;
    if (direct == E_POINTER || direct == VFW_E_NOT_FOUND || direct == VFW_E_INVALID_DIRECTION ||
        direct == VFW_E_NOT_STOPPED || direct == VFW_E_ALREADY_CONNECTED)
        return direct;
    ComPtr<IPin> peer;
    if (input->ConnectedTo(&peer) == S_OK)
        return VFW_E_ALREADY_CONNECTED;
    return Succeeded(ConnectVia(output, input, 0)) ? S_OK : VFW_E_CANNOT_CONNECT;
}

HRESULT CFilterGraph::TryRegistry(IPin* output, int depth, const std::function<HRESULT(IBaseFilter*)>& finish)
{
    if (!m_registry || depth >= kMaxDepth)
        return VFW_E_CANNOT_CONNECT;
    std::vector<CMediaType> types;
    output->EnumMediaTypes(&types);
    for (const FilterRegistration& r : m_registry->Candidates(types)) {
        ComPtr<IBaseFilter> filter;
        if (Failed(m_registry->CreateInstance(r.clsid, &filter)))
            continue;
        if (Failed(AddFilter(filter.Get(), r.name)))
            continue;
        bool joined = false;
        for (int i = 0;; ++i) {
            ComPtr<IPin> in = GetPin(filter.Get(), PinDirection::Input, i);
            if (!in)
                break;
            if (Succeeded(ConnectDirect(output, in.Get(), nullptr))) {
                joined = true;
                break;
            }
        }
        if (joined && Succeeded(finish(filter.Get())))
            return S_OK;
        RemoveFilter(filter.Get());
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT CFilterGraph::ConnectVia(IPin* output, IPin* input, int depth)
{
    return TryRegistry(output, depth, [&](IBaseFilter* middle) -> HRESULT {
        for (int i = 0;; ++i) {
            ComPtr<IPin> out = GetPin(middle, PinDirection::Output, i);
            if (!out)
                break;
            if (Succeeded(ConnectDirect(out.Get(), input, nullptr)) ||
                Succeeded(ConnectVia(out.Get(), input, depth + 1)))
                return S_OK;
        }
        return VFW_E_CANNOT_CONNECT;
    });
}

bool CFilterGraph::IsUpstreamOf(IBaseFilter* filter, IBaseFilter* of) const
{
    std::vector<IBaseFilter*> todo{of};
    std::set<IBaseFilter*> seen;
    while (!todo.empty()) {
        IBaseFilter* f = todo.back();
        todo.pop_back();
        if (!seen.insert(f).second)
            continue;
        for (int i = 0;; ++i) {
            ComPtr<IPin> in = GetPin(f, PinDirection::Input, i);
            if (!in)
                break;
            if (IBaseFilter* up = PeerFilter(in.Get())) {
                if (up == filter)
                    return true;
                todo.push_back(up);
            }
        }
    }
    return false;
}

HRESULT CFilterGraph::RenderOutputs(IBaseFilter* filter, int depth)
{
    bool any = false, rendered = false;
    for (int i = 0;; ++i) {
        ComPtr<IPin> out = GetPin(filter, PinDirection::Output, i);
        if (!out)
            break;
        ComPtr<IPin> peer;
        if (out->ConnectedTo(&peer) == S_OK)
            continue;
        any = true;
        if (Succeeded(RenderVia(out.Get(), depth)))
            rendered = true;
    }
    return !any || rendered ? S_OK : VFW_E_CANNOT_RENDER;
}

HRESULT CFilterGraph::RenderVia(IPin* output, int depth)
{
    if (depth >= kMaxDepth)
        return VFW_E_CANNOT_RENDER;
    IBaseFilter* owner = output->Filter();
    // Filters already in the graph first (a converter put there on purpose), then the registry.
    std::vector<ComPtr<IBaseFilter>> present;
    for (const Entry& e : m_filters)
        present.push_back(e.filter);
    for (const ComPtr<IBaseFilter>& f : present) {
        if (f.Get() == owner || IsUpstreamOf(f.Get(), owner))
            continue;
        for (int i = 0;; ++i) {
            ComPtr<IPin> in = GetPin(f.Get(), PinDirection::Input, i);
            if (!in)
                break;
            ComPtr<IPin> peer;
            if (in->ConnectedTo(&peer) == S_OK)
                continue;
            if (Failed(ConnectDirect(output, in.Get(), nullptr)))
                continue;
            if (Succeeded(RenderOutputs(f.Get(), depth + 1)))
                return S_OK;
            Disconnect(output);
        }
    }
    const HRESULT hr =
        TryRegistry(output, depth, [&](IBaseFilter* middle) { return RenderOutputs(middle, depth + 1); });
    return Succeeded(hr) ? S_OK : VFW_E_CANNOT_RENDER;
}

HRESULT CFilterGraph::Render(IPin* output)
{
    if (!output)
        return E_POINTER;
    if (!HasFilter(output->Filter()))
        return VFW_E_NOT_FOUND;
    if (output->QueryDirection() != PinDirection::Output)
        return VFW_E_INVALID_DIRECTION;
    if (m_state != FilterState::Stopped)
        return VFW_E_NOT_STOPPED;
    ComPtr<IPin> peer;
    if (output->ConnectedTo(&peer) == S_OK)
        return VFW_E_ALREADY_CONNECTED;
    return RenderVia(output, 0);
}

// ---- State

std::vector<IBaseFilter*> CFilterGraph::DownstreamFirst() const
{
    std::vector<IBaseFilter*> order;
    std::set<IBaseFilter*> seen;
    std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* f) {
        if (!seen.insert(f).second)
            return;
        for (int i = 0;; ++i) {
            ComPtr<IPin> out = GetPin(f, PinDirection::Output, i);
            if (!out)
                break;
            IBaseFilter* down = PeerFilter(out.Get());
            if (down && HasFilter(down))
                visit(down);
        }
        order.push_back(f);
    };
    for (const Entry& e : m_filters)
        visit(e.filter.Get());
    return order;
}

int CFilterGraph::CountRenderers() const
{
    int n = 0;
    for (const Entry& e : m_filters)
        n += IsRenderer(e.filter.Get()) ? 1 : 0;
    return n;
}

void CFilterGraph::ResetCompletion()
{
    const int renderers = CountRenderers();
    std::lock_guard lock(m_eventLock);
    m_renderers = renderers;
    m_completed.clear();
    m_anonymousCompletions = 0;
    m_completionPassed = false;
}

HRESULT CFilterGraph::Pause()
{
    const FilterState from = m_state;
    if (from == FilterState::Stopped)
        ResetCompletion();
    for (IBaseFilter* f : DownstreamFirst()) {
        const HRESULT hr = f->Pause();
        if (Failed(hr)) {
            Stop();
            return hr;
        }
    }
    if (from == FilterState::Running)
        m_clock->GetTime(&m_pausedAt);
    if (from == FilterState::Stopped)
        m_started = false;  // the next Run starts the stream clock afresh
    m_state = FilterState::Paused;
    return S_OK;
}

HRESULT CFilterGraph::Run()
{
    if (m_state == FilterState::Running)
        return S_OK;
    if (m_state == FilterState::Stopped) {
        const HRESULT hr = Pause();
        if (Failed(hr))
            return hr;
    }
    REFERENCE_TIME now = 0;
    m_clock->GetTime(&now);
    // Paused time does not count as stream time.
    m_runStart = m_started ? m_runStart + (now - m_pausedAt) : now;
    m_started = true;
    for (IBaseFilter* f : DownstreamFirst()) {
        const HRESULT hr = f->Run(m_runStart);
        if (Failed(hr)) {
            Stop();
            return hr;
        }
    }
    m_state = FilterState::Running;
    return S_OK;
}

HRESULT CFilterGraph::Stop()
{
    HRESULT result = S_OK;
    for (IBaseFilter* f : DownstreamFirst()) {
        const HRESULT hr = f->Stop();
        if (Failed(hr) && Succeeded(result))
            result = hr;
    }
    m_state = FilterState::Stopped;
    ResetCompletion();
    return result;
}

HRESULT CFilterGraph::GetState(int32_t timeoutMs, FilterState* state)
{
    if (!state)
        return E_POINTER;
    *state = m_state;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    HRESULT result = S_OK;
    for (const Entry& e : m_filters) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        FilterState fs;
        const HRESULT hr = e.filter->GetState(uint32_t(std::max<int64_t>(0, left.count())), &fs);
        if (Failed(hr))
            return hr;
        if (hr == VFW_S_STATE_INTERMEDIATE)
            result = hr;
    }
    return result;
}

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* clock)
{
    if (!clock)
        return E_POINTER;
    if (m_state != FilterState::Stopped)
        return VFW_E_NOT_STOPPED;
    m_clock = ComPtr<IReferenceClock>(clock);
    for (const Entry& e : m_filters)
        e.filter->SetSyncSource(clock);
    return S_OK;
}

REFERENCE_TIME CFilterGraph::StreamTimeNow()
{
    if (m_state == FilterState::Stopped || !m_started)
        return 0;
    REFERENCE_TIME now = 0;
    if (m_state == FilterState::Paused)
        now = m_pausedAt;
    else
        m_clock->GetTime(&now);
    return now - m_runStart;
}

// ---- Events

HRESULT CFilterGraph::NotifyEvent(int32_t code, intptr_t param1, intptr_t param2)
{
    Event event{code, param1, param2};
    {
        std::lock_guard lock(m_eventLock);
        if (code == EC_COMPLETE && m_defaultCompletion) {
            if (param2)
                m_completed.insert(param2);
            else
                ++m_anonymousCompletions;
            if (m_completionPassed)
                return S_OK;
            const int done = int(m_completed.size()) + m_anonymousCompletions;
            if (done < std::max(1, m_renderers))
                return S_OK;
            m_completionPassed = true;
            event = Event{EC_COMPLETE, S_OK, 0};
        }
        m_events.push_back(event);
    }
    m_eventArrived.notify_all();
    PostEvent(event);
    return S_OK;
}

void CFilterGraph::PostEvent(const Event& event)
{
    (void)event;
    std::function<void()> notify;
    {
        std::lock_guard lock(m_notifyLock);
        if (!m_notify)
            return;
        notify = m_notify;
        ++m_notifyCalls;
    }
    notify();
    {
        std::lock_guard lock(m_notifyLock);
        --m_notifyCalls;
    }
    m_notifyDone.notify_all();
}

HRESULT CFilterGraph::SetNotifyCallback(std::function<void()> callback)
{
    std::unique_lock lock(m_notifyLock);
    m_notifyDone.wait(lock, [&] { return m_notifyCalls == 0; });
    m_notify = std::move(callback);
    return S_OK;
}

HRESULT CFilterGraph::GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeoutMs)
{
    if (!code || !param1 || !param2)
        return E_POINTER;
    std::unique_lock lock(m_eventLock);
    if (timeoutMs < 0)
        m_eventArrived.wait(lock, [&] { return !m_events.empty(); });
    else
        m_eventArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !m_events.empty(); });
    if (m_events.empty())
        return E_ABORT;
    const Event e = m_events.front();
    m_events.pop_front();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
}

HRESULT CFilterGraph::FreeEventParams(int32_t code, intptr_t param1, intptr_t param2)
{
    (void)code;
    (void)param1;
    (void)param2;
    return S_OK;
}

HRESULT CFilterGraph::CancelDefaultHandling(int32_t code)
{
    if (code != EC_COMPLETE)
        return E_INVALIDARG;
    std::lock_guard lock(m_eventLock);
    m_defaultCompletion = false;
    return S_OK;
}

HRESULT CFilterGraph::RestoreDefaultHandling(int32_t code)
{
    if (code != EC_COMPLETE)
        return E_INVALIDARG;
    std::lock_guard lock(m_eventLock);
    m_defaultCompletion = true;
    return S_OK;
}

// ---- Seeking

std::vector<ComPtr<IMediaSeeking>> CFilterGraph::Seekers() const
{
    std::vector<ComPtr<IMediaSeeking>> seekers;
    std::vector<IBaseFilter*> order = DownstreamFirst();
    std::reverse(order.begin(), order.end());  // upstream-first
    for (IBaseFilter* f : order) {
        if (!IsRenderer(f))
            continue;
        if (ComPtr<IMediaSeeking> s = QueryInterface<IMediaSeeking>(f))
            seekers.push_back(s);
    }
    if (seekers.empty()) {
        for (IBaseFilter* f : order) {
            if (ComPtr<IMediaSeeking> s = QueryInterface<IMediaSeeking>(f)) {
                seekers.push_back(s);
                break;
            }
        }
    }
    return seekers;
}

template <class F>
HRESULT CFilterGraph::FirstSeeker(F&& call) const
{
    HRESULT last = E_NOTIMPL;
    for (const ComPtr<IMediaSeeking>& s : Seekers()) {
        last = call(s.Get());
        if (Succeeded(last))
            return last;
    }
    return last;
}

namespace {

template <class F>
HRESULT AllSeekers(const std::vector<ComPtr<IMediaSeeking>>& seekers, F&& call)
{
    if (seekers.empty())
        return E_NOTIMPL;
    HRESULT failure = S_OK;
    bool any = false;
    for (const ComPtr<IMediaSeeking>& s : seekers) {
        const HRESULT hr = call(s.Get());
        if (Succeeded(hr))
            any = true;
        else
            failure = hr;
    }
    return any ? S_OK : failure;
}

}  // namespace

HRESULT CFilterGraph::GetCapabilities(uint32_t* c)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetCapabilities(c); });
}
HRESULT CFilterGraph::CheckCapabilities(uint32_t* c)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->CheckCapabilities(c); });
}
HRESULT CFilterGraph::IsFormatSupported(const Guid& f)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->IsFormatSupported(f); });
}
HRESULT CFilterGraph::QueryPreferredFormat(Guid* f)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->QueryPreferredFormat(f); });
}
HRESULT CFilterGraph::GetTimeFormat(Guid* f)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetTimeFormat(f); });
}
HRESULT CFilterGraph::IsUsingTimeFormat(const Guid& f)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(f); });
}
HRESULT CFilterGraph::SetTimeFormat(const Guid& f)
{
    return AllSeekers(Seekers(), [&](IMediaSeeking* s) { return s->SetTimeFormat(f); });
}
HRESULT CFilterGraph::GetDuration(int64_t* d)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetDuration(d); });
}
HRESULT CFilterGraph::GetStopPosition(int64_t* p)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetStopPosition(p); });
}
HRESULT CFilterGraph::GetCurrentPosition(int64_t* p)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetCurrentPosition(p); });
}
HRESULT CFilterGraph::ConvertTimeFormat(int64_t* target, const Guid* targetFormat, int64_t source,
                                        const Guid* sourceFormat)
{
    return FirstSeeker(
        [&](IMediaSeeking* s) { return s->ConvertTimeFormat(target, targetFormat, source, sourceFormat); });
}
HRESULT CFilterGraph::SetPositions(int64_t* current, uint32_t currentFlags, int64_t* stop, uint32_t stopFlags)
{
    const HRESULT hr = AllSeekers(Seekers(), [&](IMediaSeeking* s) {
        return s->SetPositions(current, currentFlags, stop, stopFlags);
    });
    if (Succeeded(hr))
        ResetCompletion();
    return hr;
}
HRESULT CFilterGraph::GetPositions(int64_t* current, int64_t* stop)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetPositions(current, stop); });
}
HRESULT CFilterGraph::GetAvailable(int64_t* earliest, int64_t* latest)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetAvailable(earliest, latest); });
}
HRESULT CFilterGraph::SetRate(double rate)
{
    return AllSeekers(Seekers(), [&](IMediaSeeking* s) { return s->SetRate(rate); });
}
HRESULT CFilterGraph::GetRate(double* rate)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetRate(rate); });
}
HRESULT CFilterGraph::GetPreroll(int64_t* preroll)
{
    return FirstSeeker([&](IMediaSeeking* s) { return s->GetPreroll(preroll); });
}
