// The base of every filter: state, pins, clock, graph membership and event posting.
//
// States and transitions (all on the control thread, under the filter lock):
//   Stopped -> Paused: every pin becomes active (output pins commit their allocators);
//                      filters that own workers start them here (override Pause, call this
//                      first).
//   Paused  -> Running: the stream start time is recorded; nothing else changes.
//   Running -> Paused:  nothing changes in the base.
//   Paused/Running -> Stopped: the state becomes Stopped (new Receive calls are refused),
//                      then every pin becomes inactive (allocators decommit, which wakes any
//                      GetBuffer waiting in a streaming thread; input pins forget flush and
//                      end of stream); filters that own workers stop and join them after
//                      calling this (override Stop). Stop returns only when the filter's
//                      streaming threads have ended.
// The graph changes filters downstream-first, so a filter is stopped only after everything
// it delivers to, and a blocked delivery always has a way out.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "graph/BasePin.h"
#include "graph/Interfaces.h"

class CBaseFilter : public CUnknown, public virtual IBaseFilter {
public:
    CBaseFilter(std::string name, const Guid& clsid);
    ~CBaseFilter() override;

    HRESULT GetClassID(Guid* clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(uint32_t timeoutMs, FilterState* state) override;
    // Changed only while stopped (the graph sets it when the filter is added).
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(ComPtr<IReferenceClock>* clock) override;
    int GetPinCount() override = 0;
    CBasePin* GetPin(int n) override = 0;
    HRESULT FindPin(const std::string& name, ComPtr<IPin>* pin) override;
    HRESULT JoinFilterGraph(IGraphBuilder* graph, const std::string& name) override;
    FilterInfo QueryFilterInfo() override;

    // Any thread.
    FilterState State() const { return m_state.load(std::memory_order_acquire); }
    bool IsStopped() const { return State() == FilterState::Stopped; }
    bool IsActive() const { return State() != FilterState::Stopped; }
    // The filter lock: state changes and connections hold it; pins use it as their lock.
    // Streaming threads should not take it (Stop holds it while it waits for them).
    std::recursive_mutex& FilterLock() { return m_lock; }
    // Posts an event to the graph (E_UNEXPECTED when the filter is in none). Any thread.
    HRESULT NotifyEvent(int32_t code, intptr_t param1, intptr_t param2);
    // The clock's time minus the run start; E_FAIL without a clock or while not running.
    // Any thread.
    HRESULT StreamTime(REFERENCE_TIME* time);
    REFERENCE_TIME StartTime() const { return m_start.load(std::memory_order_acquire); }
    IGraphBuilder* Graph() const { return m_graph.load(std::memory_order_acquire); }

protected:
    std::recursive_mutex m_lock;
    std::atomic<FilterState> m_state{FilterState::Stopped};

private:
    Guid m_clsid;
    std::atomic<REFERENCE_TIME> m_start{0};
    ComPtr<IReferenceClock> m_clock;        // changed only while stopped
    std::string m_name;                     // guarded by m_lock
    std::atomic<IGraphBuilder*> m_graph{nullptr};
    std::atomic<IMediaEventSink*> m_sink{nullptr};
};
