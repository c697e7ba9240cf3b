// CBaseSplitterFilter: the format-independent half of a splitter. One input pin pulls the
// source through IAsyncReader; a demux worker thread reads it through the format's hooks and
// routes each payload (Packet) to the output pin of its stream, whose delivery thread pushes
// it downstream.
//
// States (control thread, under the filter lock):
//   Stopped -> Paused: pins become active (delivery threads start on connected pins); the
//                      worker thread starts: PrepareDemux, SeekDemux, new segments, RunDemux.
//   Paused <-> Running: nothing changes here; the renderers pace delivery.
//   -> Stopped:        flush every output, ask the worker to exit and join it, end the
//                      flush, then the base stop (pins inactive, delivery threads joined).
// Seeks (ApplySeek, control thread) flush the outputs and pass RequestSeek to the worker,
// which re-positions and starts new segments.
//
// Locks: the filter lock (state, seeking, the output list); m_outputMapLock (outputByKey);
// m_pendingTypesLock (pendingTypes); m_commandLock (the worker's command slot); each
// queue's own lock; m_spaceLock with m_space (the demux thread waits there for room).
// The worker never holds the filter lock while demuxing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "demux/BaseSplitterOutputPin.h"
#include "demux/Packet.h"
#include "graph/AsyncReaderInterface.h"
#include "graph/BaseFilter.h"

// Queue fill of the output pins. Control thread.
class IBufferInfo : public virtual IUnknown {
public:
    virtual int32_t GetCount() = 0;
    // S_OK when pin i is connected, S_FALSE when not, E_INVALIDARG for a bad index.
    virtual HRESULT GetStatus(int32_t i, int32_t* samples, int32_t* size) = 0;
    virtual int32_t GetPriority() = 0;
};

// Key-frame lists: not offered by the splitter (both E_NOTIMPL).
class IKeyFrameInfo : public virtual IUnknown {
public:
    virtual HRESULT GetKeyFrameCount(uint32_t* frames) = 0;
    virtual HRESULT GetKeyFrames(const Guid* format, int64_t* times, uint32_t* frames) = 0;
};

class CBaseSplitterFilter;

// The input pin: accepts any type from a peer that offers IAsyncReader.
class CBaseSplitterInputPin : public CBasePin {
public:
    CBaseSplitterInputPin(CBaseSplitterFilter* filter, std::recursive_mutex& lock);

    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT CheckConnect(IPin* peer) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT BreakConnect() override;
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

    // The connected source; VFW_E_NOT_CONNECTED without one.
    HRESULT SourceReader(ComPtr<IAsyncReader>* reader);

private:
    CBaseSplitterFilter* m_splitter;
    ComPtr<IAsyncReader> m_reader;  // guarded by the filter lock; changed only while stopped
};

class CBaseSplitterFilter : public CBaseFilter,
                            public virtual IMediaSeeking,
                            public virtual IBufferInfo,
                            public virtual IKeyFrameInfo {
public:
    CBaseSplitterFilter(const std::string& name, const Guid& clsid);
    ~CBaseSplitterFilter() override;

    HRESULT QueryInterfaceHook(const std::type_info& iid, IUnknown** object) override;

    // -- Filter (control thread).
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;

    // -- Seeking (control thread).
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

    // -- Buffer and key-frame information (control thread).
    int32_t GetCount() override;
    HRESULT GetStatus(int32_t i, int32_t* samples, int32_t* size) override;
    int32_t GetPriority() override { return m_priority.load(std::memory_order_relaxed); }
    HRESULT GetKeyFrameCount(uint32_t*) override { return E_NOTIMPL; }
    HRESULT GetKeyFrames(const Guid*, int64_t*, uint32_t*) override { return E_NOTIMPL; }

    // A seek from `caller` (the filter itself or one of its output pins). The same seek
    // arriving from several callers is executed once. Control thread.
    HRESULT ApplySeek(const void* caller, int64_t* current, uint32_t currentFlags, int64_t* stop,
                      uint32_t stopFlags);

    // -- Outputs. Any thread (the map has its own lock).
    HRESULT RegisterOutput(StreamKey key, std::unique_ptr<CBaseSplitterOutputPin> pin);
    CBaseSplitterOutputPin* FindOutput(StreamKey key);
    int64_t OutputKey(CBaseSplitterOutputPin* pin);  // -1 when the pin has no key
    // Moves a pin from one stream to another; `type` (may be null) is announced with the
    // next packet of the new stream. E_FAIL without a pin on oldKey; VFW_E_TYPE_NOT_ACCEPTED
    // when the connected downstream refuses the type.
    HRESULT RetargetOutput(StreamKey oldKey, StreamKey newKey, const CMediaType* type);
    // Stopped only (VFW_E_NOT_STOPPED): disconnects and drops every output.
    HRESULT RemoveOutputs();
    // The output pins in creation order; lock-free of the filter lock (the worker uses it).
    std::vector<CBaseSplitterOutputPin*> Outputs();

    // -- Demux thread (called by the format's RunDemux).
    HRESULT RoutePacket(std::unique_ptr<Packet> packet);
    bool NeedsMoreData();
    // True when a command (exit, seek) waits for the worker.
    bool CommandPending();
    // Waits up to `ms` for a command; true when one is pending.
    bool WaitForCommand(int ms);

    // -- Flow-control plumbing between the pins and the demux thread. Any thread.
    // A queue shrank or a delivery state changed: wakes a waiting EnqueuePacket.
    void NotifySpace();
    // Waits at most `ms` for NotifySpace.
    void WaitForSpace(int ms);

    // -- State readable from any thread.
    int64_t CurrentTime() const { return m_currentTime.load(std::memory_order_acquire); }
    double PlayRate() const { return m_playRate.load(std::memory_order_acquire); }
    bool WorkerRunning() const { return m_worker.joinable(); }

    // Hook for the input pin (control thread, filter lock held).
    HRESULT CompleteInputConnect(IAsyncReader* reader);
    void BreakInputConnect();

protected:
    // -- Format hooks. BuildOutputs: control thread (input connection). The others run on
    // the worker thread.
    virtual HRESULT BuildOutputs(IAsyncReader* reader) = 0;
    virtual std::string SourceName(IAsyncReader* reader);
    virtual bool PrepareDemux() = 0;
    virtual void SeekDemux(int64_t rt) = 0;
    // True when the loop ended normally (end of stream follows).
    virtual bool RunDemux() = 0;

    void BeginFlushAll();
    void EndFlushAll();

    // Demux time values (100 ns). Written on the control thread while the worker is idle or
    // waiting for a command, and by the worker inside its loop; atomics for cross-thread reads.
    std::atomic<int64_t> m_duration{0};
    std::atomic<int64_t> m_stopTime{0};
    std::atomic<int64_t> m_currentTime{0};
    std::atomic<int64_t> m_requestedStart{0};
    std::atomic<int64_t> m_requestedStop{0};
    std::atomic<int64_t> m_runStart{0};

    CBaseSplitterInputPin m_input;

private:
    enum Command { kRequestExit = 0, kRequestSeek = 1 };
    void WorkerMain();
    HRESULT CallWorker(Command command);
    Command GetRequest();
    void Reply(HRESULT hr);

    std::vector<std::unique_ptr<CBaseSplitterOutputPin>> m_outputs;      // filter lock
    std::vector<std::unique_ptr<CBaseSplitterOutputPin>> m_deadOutputs;  // filter lock

    std::mutex m_outputMapLock;  // guards m_outputByKey and m_outputPins
    std::map<StreamKey, CBaseSplitterOutputPin*> m_outputByKey;
    std::vector<CBaseSplitterOutputPin*> m_outputPins;  // m_outputs for threads that must not take the filter lock

    std::mutex m_pendingTypesLock;  // guards m_pendingTypes
    std::map<StreamKey, CMediaType> m_pendingTypes;

    // -- Worker thread only.
    std::vector<CBaseSplitterOutputPin*> m_livePins;
    std::vector<StreamKey> m_flaggedStreams;

    // -- Seek bookkeeping: filter lock.
    int64_t m_lastSeekStart = NoTime;
    int64_t m_lastSeekStop = NoTime;
    std::vector<const void*> m_lastSeekCallers;

    std::atomic<double> m_playRate{1.0};
    std::atomic<bool> m_flushing{false};
    ManualEvent m_flushDone{true};
    std::atomic<int> m_priority{0};

    // -- The worker's command slot: guarded by m_commandLock.
    std::mutex m_commandLock;
    std::condition_variable m_commandChanged;
    std::optional<Command> m_command;
    std::optional<HRESULT> m_reply;
    std::thread m_worker;  // started in Pause, joined in Stop (control thread)

    std::mutex m_spaceLock;  // with m_space; guards m_spaceSignals
    std::condition_variable m_space;
    uint64_t m_spaceSignals = 0;
};
