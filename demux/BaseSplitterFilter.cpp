#include "demux/BaseSplitterFilter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// Trace lines for troubleshooting, written only when ZDR_TRACE is set.
void Trace(const char* line)
{
    static const bool on = std::getenv("ZDR_TRACE") != nullptr;
    if (on)
        std::fputs(line, stderr);
}

constexpr uint32_t kCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                   AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetStopPos |
                                   AM_SEEKING_CanGetDuration;  // 0x37

}  // namespace

// -- Input pin ------------------------------------------------------------------------------

CBaseSplitterInputPin::CBaseSplitterInputPin(CBaseSplitterFilter* filter, std::recursive_mutex& lock)
    : CBasePin(filter, lock, "Input", PinDirection::Input), m_splitter(filter)
{
}

HRESULT CBaseSplitterInputPin::CheckMediaType(const CMediaType&) { return S_OK; }

HRESULT CBaseSplitterInputPin::CheckConnect(IPin* peer)
{
    const HRESULT hr = CBasePin::CheckConnect(peer);
    if (Failed(hr))
        return hr;
    return QueryInterface<IAsyncReader>(peer) ? S_OK : E_NOINTERFACE;
}

HRESULT CBaseSplitterInputPin::CompleteConnect(IPin* peer)
{
    HRESULT hr = CBasePin::CompleteConnect(peer);
    if (Failed(hr))
        return hr;
    ComPtr<IAsyncReader> reader = QueryInterface<IAsyncReader>(peer);
    if (!reader)
        return E_NOINTERFACE;
    m_reader = reader;
    hr = m_splitter->CompleteInputConnect(reader.Get());
    if (Failed(hr))
        m_reader.Reset();
    return hr;
}

HRESULT CBaseSplitterInputPin::BreakConnect()
{
    m_splitter->BreakInputConnect();
    m_reader.Reset();
    return CBasePin::BreakConnect();
}

HRESULT CBaseSplitterInputPin::SourceReader(ComPtr<IAsyncReader>* reader)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_reader)
        return VFW_E_NOT_CONNECTED;
    *reader = m_reader;
    return S_OK;
}

// -- Filter ---------------------------------------------------------------------------------

CBaseSplitterFilter::CBaseSplitterFilter(const std::string& name, const Guid& clsid)
    : CBaseFilter(name, clsid), m_input(this, FilterLock())
{
}

CBaseSplitterFilter::~CBaseSplitterFilter()
{
    if (m_worker.joinable()) {
        CallWorker(kRequestExit);
        m_worker.join();
    }
}

HRESULT CBaseSplitterFilter::QueryInterfaceHook(const std::type_info& iid, IUnknown** object)
{
    *object = nullptr;
    // The input pin always exists, so the filter is never a file source.
    if (iid == typeid(IFileSourceFilter))
        return E_NOINTERFACE;
    return S_FALSE;
}

int CBaseSplitterFilter::GetPinCount()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return int(m_outputs.size()) + 1;
}

CBasePin* CBaseSplitterFilter::GetPin(int n)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (n >= 0 && size_t(n) < m_outputs.size())
        return m_outputs[size_t(n)].get();
    if (n == int(m_outputs.size()))
        return &m_input;
    return nullptr;
}

std::vector<CBaseSplitterOutputPin*> CBaseSplitterFilter::Outputs()
{
    std::lock_guard<std::mutex> lock(m_outputMapLock);
    return m_outputPins;
}

HRESULT CBaseSplitterFilter::Stop()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    Trace("Stop\n");
    BeginFlushAll();
    if (m_worker.joinable()) {
        CallWorker(kRequestExit);
        m_worker.join();
    }
    EndFlushAll();
    return CBaseFilter::Stop();
}

HRESULT CBaseSplitterFilter::Pause()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    Trace("Pause\n");
    const FilterState before = State();
    const HRESULT hr = CBaseFilter::Pause();
    if (Failed(hr))
        return hr;
    if (before == FilterState::Stopped && !m_worker.joinable()) {
        Trace("Pause State_Stopped Create\n");
        {
            std::lock_guard<std::mutex> cmd(m_commandLock);
            m_command.reset();
            m_reply.reset();
        }
        // No flush is under way when the worker starts. Set here, before the thread runs: a
        // seek right after this pause flushes, and the worker must see that flush.
        m_flushing.store(false);
        m_flushDone.Set();
        m_worker = std::thread([this] { WorkerMain(); });
    }
    return hr;
}

HRESULT CBaseSplitterFilter::Run(REFERENCE_TIME start)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return CBaseFilter::Run(start);
}

// -- Worker commands ------------------------------------------------------------------------

HRESULT CBaseSplitterFilter::CallWorker(Command command)
{
    std::unique_lock<std::mutex> lock(m_commandLock);
    m_reply.reset();
    m_command = command;
    m_commandChanged.notify_all();
    lock.unlock();
    m_flushDone.Poke();
    lock.lock();
    m_commandChanged.wait(lock, [this] { return m_reply.has_value(); });
    const HRESULT hr = *m_reply;
    m_reply.reset();
    return hr;
}

CBaseSplitterFilter::Command CBaseSplitterFilter::GetRequest()
{
    std::unique_lock<std::mutex> lock(m_commandLock);
    m_commandChanged.wait(lock, [this] { return m_command.has_value(); });
    return *m_command;
}

void CBaseSplitterFilter::Reply(HRESULT hr)
{
    std::lock_guard<std::mutex> lock(m_commandLock);
    m_command.reset();
    m_reply = hr;
    m_commandChanged.notify_all();
}

bool CBaseSplitterFilter::CommandPending()
{
    std::lock_guard<std::mutex> lock(m_commandLock);
    return m_command.has_value();
}

bool CBaseSplitterFilter::WaitForCommand(int ms)
{
    std::unique_lock<std::mutex> lock(m_commandLock);
    return m_commandChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_command.has_value(); });
}

void CBaseSplitterFilter::WorkerMain()
{
    if (!PrepareDemux()) {
        for (;;) {
            const Command c = GetRequest();
            Reply(S_OK);
            if (c == kRequestExit)
                return;
        }
    }
    std::optional<Command> command;
    for (;;) {
        if (command == kRequestExit) {
            Reply(S_OK);
            return;
        }
        m_priority.store(0);
        m_runStart.store(m_requestedStart.load());
        m_stopTime.store(m_requestedStop.load());
        // The position restarts with the run (a stop at the end must not leave it there).
        m_currentTime.store(m_runStart.load());
        SeekDemux(m_runStart.load());
        if (command)
            Reply(S_OK);

        // Wait for the flush of this seek to end; a command that arrives meanwhile (a stop
        // flushes before it asks the worker to exit) is served first.
        m_flushDone.Wait([this] { return CommandPending(); });

        m_livePins.clear();
        for (CBaseSplitterOutputPin* pin : Outputs()) {
            if (m_flushing.load())
                break;
            if (pin->Connected() && pin->HasThread()) {
                m_livePins.push_back(pin);
                pin->DeliverSegment(m_runStart.load(), m_stopTime.load(), m_playRate.load());
            }
        }

        do {
            m_flaggedStreams.clear();
        } while (!RunDemux());

        for (CBaseSplitterOutputPin* pin : m_livePins) {
            if (CommandPending())
                break;
            pin->EnqueuePacket(nullptr);
        }
        command = GetRequest();
    }
}

// -- Routing and flow control ---------------------------------------------------------------

HRESULT CBaseSplitterFilter::RoutePacket(std::unique_ptr<Packet> p)
{
    if (!p)
        return E_POINTER;
    CBaseSplitterOutputPin* pin = FindOutput(p->trackNumber);
    if (!pin || !pin->Connected() ||
        std::find(m_livePins.begin(), m_livePins.end(), pin) == m_livePins.end())
        return S_FALSE;

    if (p->startTime != NoTime) {
        m_currentTime.store(p->startTime);
        const int64_t runStart = m_runStart.load();
        p->startTime -= runStart;
        if (p->endTime != NoTime)
            p->endTime -= runStart;
    }

    {
        std::lock_guard<std::mutex> lock(m_pendingTypesLock);
        auto it = m_pendingTypes.find(p->trackNumber);
        if (it != m_pendingTypes.end()) {
            p->mediaType = std::make_unique<CMediaType>(std::move(it->second));
            m_pendingTypes.erase(it);
        }
    }

    const StreamKey key = p->trackNumber;
    if (std::find(m_flaggedStreams.begin(), m_flaggedStreams.end(), key) == m_flaggedStreams.end())
        p->discontinuity = true;
    const bool flagged = p->discontinuity;

    const HRESULT hr = pin->EnqueuePacket(std::move(p));
    if (hr != S_OK) {
        m_livePins.erase(std::remove(m_livePins.begin(), m_livePins.end(), pin), m_livePins.end());
        return m_livePins.empty() ? hr : S_OK;
    }
    if (flagged)
        m_flaggedStreams.push_back(key);
    return S_OK;
}

bool CBaseSplitterFilter::NeedsMoreData()
{
    for (CBaseSplitterOutputPin* pin : m_livePins) {
        if (pin->IsSparse())
            continue;
        const size_t count = pin->QueueCount();
        const int64_t size = pin->QueueBytes();
        if (count < 100 || size < 262144) {
            if (m_priority.load() != -1 && !(count > 32 && size > 87380)) {
                for (CBaseSplitterOutputPin* p : Outputs())
                    p->SetThreadPriority(-1);
                m_priority.store(-1);
            }
            return true;
        }
    }
    size_t totalCount = 0;
    int64_t totalSize = 0;
    for (CBaseSplitterOutputPin* pin : m_livePins) {
        totalCount += pin->QueueCount();
        totalSize += pin->QueueBytes();
    }
    if (m_priority.load() != 0 && (totalCount > 2000 || totalSize > 1398101)) {
        for (CBaseSplitterOutputPin* p : Outputs())
            p->SetThreadPriority(0);
        m_priority.store(0);
    }
    return totalCount < 3000 && totalSize < 2097152;
}

void CBaseSplitterFilter::NotifySpace()
{
    {
        std::lock_guard<std::mutex> lock(m_spaceLock);
        ++m_spaceSignals;
    }
    m_space.notify_all();
}

void CBaseSplitterFilter::WaitForSpace(int ms)
{
    std::unique_lock<std::mutex> lock(m_spaceLock);
    const uint64_t seen = m_spaceSignals;
    m_space.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_spaceSignals != seen; });
}

// -- Outputs --------------------------------------------------------------------------------

HRESULT CBaseSplitterFilter::RegisterOutput(StreamKey key, std::unique_ptr<CBaseSplitterOutputPin> pin)
{
    if (!pin)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> filterLock(m_lock);
    std::lock_guard<std::mutex> lock(m_outputMapLock);
    m_outputByKey[key] = pin.get();
    m_outputPins.push_back(pin.get());
    m_outputs.push_back(std::move(pin));
    return S_OK;
}

CBaseSplitterOutputPin* CBaseSplitterFilter::FindOutput(StreamKey key)
{
    std::lock_guard<std::mutex> lock(m_outputMapLock);
    auto it = m_outputByKey.find(key);
    return it == m_outputByKey.end() ? nullptr : it->second;
}

int64_t CBaseSplitterFilter::OutputKey(CBaseSplitterOutputPin* pin)
{
    std::lock_guard<std::mutex> lock(m_outputMapLock);
    for (const auto& [key, p] : m_outputByKey)
        if (p == pin)
            return key;
    return -1;
}

HRESULT CBaseSplitterFilter::RetargetOutput(StreamKey oldKey, StreamKey newKey, const CMediaType* type)
{
    std::lock_guard<std::mutex> lock(m_outputMapLock);
    auto it = m_outputByKey.find(oldKey);
    if (it == m_outputByKey.end())
        return E_FAIL;
    CBaseSplitterOutputPin* pin = it->second;
    if (type && pin->Connected()) {
        IPin* peer = pin->GetConnected();
        if (!peer || peer->QueryAccept(*type) != S_OK)
            return VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_outputByKey.erase(it);
    m_outputByKey[newKey] = pin;
    if (type) {
        std::lock_guard<std::mutex> types(m_pendingTypesLock);
        m_pendingTypes[newKey] = *type;
    }
    return S_OK;
}

HRESULT CBaseSplitterFilter::RemoveOutputs()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_duration.store(0);
    m_deadOutputs.clear();
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    for (auto& pin : m_outputs) {
        ComPtr<IPin> peer;
        if (pin->ConnectedTo(&peer) == S_OK) {
            peer->Disconnect();
            pin->Disconnect();
        }
        m_deadOutputs.push_back(std::move(pin));
    }
    m_outputs.clear();
    {
        std::lock_guard<std::mutex> map(m_outputMapLock);
        m_outputByKey.clear();
        m_outputPins.clear();
    }
    {
        std::lock_guard<std::mutex> types(m_pendingTypesLock);
        m_pendingTypes.clear();
    }
    return S_OK;
}

HRESULT CBaseSplitterFilter::CompleteInputConnect(IAsyncReader* reader)
{
    HRESULT hr = RemoveOutputs();
    if (Failed(hr))
        return hr;
    return BuildOutputs(reader);
}

void CBaseSplitterFilter::BreakInputConnect() { RemoveOutputs(); }

std::string CBaseSplitterFilter::SourceName(IAsyncReader* reader)
{
    // A source that names its file answers through its filter's IFileSourceFilter.
    IPin* peer = m_input.GetConnected();
    (void)reader;
    if (!peer)
        return {};
    ComPtr<IFileSourceFilter> source = QueryInterface<IFileSourceFilter>(peer->Filter());
    std::string name;
    if (source && Succeeded(source->GetCurFile(&name, nullptr)))
        return name;
    return {};
}

void CBaseSplitterFilter::BeginFlushAll()
{
    m_flushing.store(true);
    m_flushDone.Reset();
    for (CBaseSplitterOutputPin* pin : Outputs())
        pin->BeginFlush();
}

void CBaseSplitterFilter::EndFlushAll()
{
    for (CBaseSplitterOutputPin* pin : Outputs())
        pin->EndFlush();
    m_flushing.store(false);
    m_flushDone.Set();
}

// -- Seeking --------------------------------------------------------------------------------

HRESULT CBaseSplitterFilter::ApplySeek(const void* caller, int64_t* current, uint32_t currentFlags, int64_t* stop,
                                       uint32_t stopFlags)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const uint32_t cur = currentFlags & AM_SEEKING_PositioningBitsMask;
    const uint32_t stp = stopFlags & AM_SEEKING_PositioningBitsMask;
    if ((!current && !stop) || (cur == AM_SEEKING_NoPositioning && stp == AM_SEEKING_NoPositioning))
        return S_OK;

    const int64_t nowCurrent = m_currentTime.load();
    const int64_t nowStop = m_stopTime.load();
    int64_t newCurrent = nowCurrent;
    if (current) {
        if (cur == AM_SEEKING_AbsolutePositioning)
            newCurrent = *current;
        else if (cur == AM_SEEKING_RelativePositioning || cur == AM_SEEKING_IncrementalPositioning)
            newCurrent = nowCurrent + *current;
    }
    int64_t newStop = nowStop;
    if (stop) {
        if (stp == AM_SEEKING_AbsolutePositioning)
            newStop = *stop;
        else if (stp == AM_SEEKING_RelativePositioning)
            newStop = nowStop + *stop;
        else if (stp == AM_SEEKING_IncrementalPositioning)
            newStop = newCurrent + *stop;
    }

    // Nothing to do only when no other request is pending either: a seek that reached a
    // stopped filter is still to be carried out when it runs.
    if (newCurrent == nowCurrent && newStop == nowStop && newCurrent == m_requestedStart.load() &&
        newStop == m_requestedStop.load())
        return S_OK;
    if (newCurrent == m_lastSeekStart && newStop == m_lastSeekStop &&
        std::find(m_lastSeekCallers.begin(), m_lastSeekCallers.end(), caller) == m_lastSeekCallers.end()) {
        m_lastSeekCallers.push_back(caller);
        return S_OK;
    }

    m_lastSeekStart = newCurrent;
    m_lastSeekStop = newStop;
    m_lastSeekCallers.assign(1, caller);
    m_currentTime.store(newCurrent);
    m_requestedStart.store(newCurrent);
    m_requestedStop.store(newStop);
    if (m_worker.joinable()) {
        BeginFlushAll();
        CallWorker(kRequestSeek);
        EndFlushAll();
    }
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetCapabilities(uint32_t* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    *capabilities = kCapabilities;
    return S_OK;
}

HRESULT CBaseSplitterFilter::CheckCapabilities(uint32_t* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    const uint32_t asked = *capabilities;
    if (asked == 0 || asked == kCapabilities)
        return S_OK;
    return (asked & kCapabilities) ? S_FALSE : E_FAIL;
}

HRESULT CBaseSplitterFilter::IsFormatSupported(const Guid& format)
{
    return format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CBaseSplitterFilter::QueryPreferredFormat(Guid* format) { return GetTimeFormat(format); }

HRESULT CBaseSplitterFilter::GetTimeFormat(Guid* format)
{
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CBaseSplitterFilter::IsUsingTimeFormat(const Guid& format)
{
    return format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CBaseSplitterFilter::SetTimeFormat(const Guid& format)
{
    return format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT CBaseSplitterFilter::GetDuration(int64_t* duration)
{
    if (!duration)
        return E_POINTER;
    *duration = m_duration.load();
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetStopPosition(int64_t* stop) { return GetDuration(stop); }

HRESULT CBaseSplitterFilter::GetCurrentPosition(int64_t* current)
{
    if (!current)
        return E_POINTER;
    *current = m_currentTime.load();
    return S_OK;
}

HRESULT CBaseSplitterFilter::ConvertTimeFormat(int64_t*, const Guid*, int64_t, const Guid*) { return E_NOTIMPL; }

HRESULT CBaseSplitterFilter::SetPositions(int64_t* current, uint32_t currentFlags, int64_t* stop, uint32_t stopFlags)
{
    return ApplySeek(this, current, currentFlags, stop, stopFlags);
}

HRESULT CBaseSplitterFilter::GetPositions(int64_t* current, int64_t* stop)
{
    if (current)
        *current = m_currentTime.load();
    if (stop)
        *stop = m_stopTime.load();
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetAvailable(int64_t* earliest, int64_t* latest)
{
    if (earliest)
        *earliest = 0;
    if (latest)
        *latest = m_duration.load();
    return S_OK;
}

HRESULT CBaseSplitterFilter::SetRate(double rate)
{
    if (!(rate > 0))
        return E_INVALIDARG;
    m_playRate.store(rate);
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetRate(double* rate)
{
    if (!rate)
        return E_POINTER;
    *rate = m_playRate.load();
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetPreroll(int64_t* preroll)
{
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}

// -- Buffer information ---------------------------------------------------------------------

int32_t CBaseSplitterFilter::GetCount()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return int32_t(m_outputs.size());
}

HRESULT CBaseSplitterFilter::GetStatus(int32_t i, int32_t* samples, int32_t* size)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (i < 0 || size_t(i) >= m_outputs.size())
        return E_INVALIDARG;
    CBaseSplitterOutputPin* pin = m_outputs[size_t(i)].get();
    if (samples)
        *samples = int32_t(pin->QueueCount());
    if (size)
        *size = int32_t(std::min<int64_t>(INT32_MAX, pin->QueueBytes()));
    return pin->Connected() ? S_OK : S_FALSE;
}
