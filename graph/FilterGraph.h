// The graph: a set of named filters, their connections, state control, events and seeking.
//
// Threads: every IGraphBuilder, IMediaControl, IMediaSeeking call and GetEvent come from the
// one control thread that owns the graph. Filters post events from any thread
// (IMediaEventSink); the event queue is guarded by m_eventLock and the notify callback is
// called after the event is queued, with no graph lock held, on the posting thread.
//
// State changes go to the filters downstream-first (a filter after every filter it feeds):
// renderers are paused and ready before sources start, and on Stop a filter stops only after
// its downstream, whose inactive pins have decommitted the allocators it may wait on. Stop
// returns when every streaming thread of the graph has ended.
//
// Completion: by default one EC_COMPLETE is passed on once every renderer (a filter that
// has input pins and no output pins, or says so through IAMFilterMiscFlags) has sent one;
// after CancelDefaultHandling(EC_COMPLETE) every one is passed on at once. The count starts
// again at each run from stopped and at each seek.
//
// Seeking goes to the renderers that offer IMediaSeeking; when none does, to the first
// filter (upstream-first) that offers it. Getters answer from the first that succeeds.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "graph/FilterRegistry.h"
#include "graph/Interfaces.h"

class CFilterGraph : public CUnknown,
                     public virtual IGraphBuilder,
                     public virtual IMediaControl,
                     public virtual IMediaEvent,
                     public virtual IMediaSeeking,
                     public virtual IMediaEventSink {
public:
    // `registry` (borrowed, may be null) serves Connect and Render; it must outlive the graph.
    explicit CFilterGraph(const FilterRegistry* registry = nullptr);
    // Stops, disconnects and releases every filter.
    ~CFilterGraph() override;

    // IGraphBuilder.
    HRESULT AddFilter(IBaseFilter* filter, const std::string& name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT FindFilterByName(const std::string& name, ComPtr<IBaseFilter>* filter) override;
    HRESULT EnumFilters(std::vector<ComPtr<IBaseFilter>>* filters) override;
    HRESULT ConnectDirect(IPin* output, IPin* input, const CMediaType* type) override;
    HRESULT Disconnect(IPin* pin) override;
    HRESULT Connect(IPin* output, IPin* input) override;
    HRESULT Render(IPin* output) override;

    // IMediaControl.
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(int32_t timeoutMs, FilterState* state) override;

    // IMediaEvent.
    HRESULT GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeoutMs) override;
    HRESULT FreeEventParams(int32_t code, intptr_t param1, intptr_t param2) override;
    HRESULT SetNotifyCallback(std::function<void()> callback) override;
    HRESULT CancelDefaultHandling(int32_t code) override;
    HRESULT RestoreDefaultHandling(int32_t code) override;

    // IMediaEventSink. Any thread.
    HRESULT NotifyEvent(int32_t code, intptr_t param1, intptr_t param2) override;

    // IMediaSeeking.
    HRESULT GetCapabilities(uint32_t* capabilities) override;
    HRESULT CheckCapabilities(uint32_t* capabilities) override;
    HRESULT IsFormatSupported(const Guid& format) override;
    HRESULT QueryPreferredFormat(Guid* format) override;
    HRESULT GetTimeFormat(Guid* format) override;
    HRESULT IsUsingTimeFormat(const Guid& format) override;
    HRESULT SetTimeFormat(const Guid& format) override;
    HRESULT GetDuration(int64_t* duration) override;
    HRESULT GetStopPosition(int64_t* stop) override;
    HRESULT GetCurrentPosition(int64_t* current) override;
    HRESULT ConvertTimeFormat(int64_t* target, const Guid* targetFormat, int64_t source,
                              const Guid* sourceFormat) override;
    HRESULT SetPositions(int64_t* current, uint32_t currentFlags, int64_t* stop, uint32_t stopFlags) override;
    HRESULT GetPositions(int64_t* current, int64_t* stop) override;
    HRESULT GetAvailable(int64_t* earliest, int64_t* latest) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;
    HRESULT GetPreroll(int64_t* preroll) override;

    // The graph's clock (default: the system clock); only while stopped (VFW_E_NOT_STOPPED).
    // Every filter in the graph, and every filter added later, gets it. Control thread.
    HRESULT SetSyncSource(IReferenceClock* clock);
    // Stream time now: clock time minus the run start (0 while stopped, frozen while paused).
    REFERENCE_TIME StreamTimeNow();

    // How deep Connect and Render go through intermediate filters.
    static constexpr int kMaxDepth = 5;

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::string name;
    };
    struct Event {
        int32_t code;
        intptr_t param1, param2;
    };

    bool HasFilter(IBaseFilter* filter) const;
    std::string UniqueName(const std::string& name) const;
    // Filters with every filter they feed before them.
    std::vector<IBaseFilter*> DownstreamFirst() const;
    std::vector<ComPtr<IMediaSeeking>> Seekers() const;
    template <class F>
    HRESULT FirstSeeker(F&& call) const;
    int CountRenderers() const;
    void ResetCompletion();
    void PostEvent(const Event& event);

    HRESULT ConnectVia(IPin* output, IPin* input, int depth);
    HRESULT RenderVia(IPin* output, int depth);
    HRESULT RenderOutputs(IBaseFilter* filter, int depth);
    HRESULT TryRegistry(IPin* output, int depth, const std::function<HRESULT(IBaseFilter*)>& finish);
    bool IsUpstreamOf(IBaseFilter* filter, IBaseFilter* of) const;

    const FilterRegistry* m_registry;
    ComPtr<IReferenceClock> m_clock;
    std::vector<Entry> m_filters;     // control thread only
    FilterState m_state = FilterState::Stopped;
    REFERENCE_TIME m_runStart = 0;    // clock time of stream time 0
    REFERENCE_TIME m_pausedAt = 0;    // clock time of the last Running -> Paused
    bool m_started = false;           // has run since the last stop

    // -- All the following fields are guarded by m_eventLock.
    std::mutex m_eventLock;
    std::condition_variable m_eventArrived;
    std::deque<Event> m_events;
    bool m_defaultCompletion = true;
    int m_renderers = 0;
    std::set<intptr_t> m_completed;   // senders of EC_COMPLETE so far
    int m_anonymousCompletions = 0;   // EC_COMPLETE with no sender
    bool m_completionPassed = false;

    // -- The notify callback and the count of calls in progress, guarded by m_notifyLock.
    std::mutex m_notifyLock;
    std::condition_variable m_notifyDone;
    std::function<void()> m_notify;
    int m_notifyCalls = 0;
};
