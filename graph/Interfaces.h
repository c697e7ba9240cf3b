// The interfaces of the pipeline layer: what a graph builder calls and what filters call on
// each other. The base classes that implement them for filter writers are in
// graph/BaseFilter.h, graph/BasePin.h, graph/BaseInputPin.h, graph/BaseOutputPin.h,
// graph/TransformFilter.h, graph/OutputQueue.h, graph/AsyncReader.h and graph/PosPassThru.h;
// the graph itself is graph/FilterGraph.h.
//
// Threads: the control thread (one per graph; it builds, connects, runs, pauses, stops and
// seeks) and streaming threads (owned by filters; they deliver samples, end of stream and new
// segments, and post events). Each method below says which thread calls it.
//
// Ownership: objects are counted (graph/Unknown.h). An out parameter of type ComPtr receives
// a counted reference. A raw pointer argument is borrowed for the call; a callee that keeps
// it takes its own reference.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "graph/FormatBlocks.h"
#include "graph/Guid.h"
#include "graph/MediaType.h"
#include "graph/Result.h"
#include "graph/Unknown.h"

class IPin;
class IGraphBuilder;

enum class FilterState : int32_t { Stopped = 0, Paused = 1, Running = 2 };
enum class PinDirection : int32_t { Input = 0, Output = 1 };

// Graph event codes (IMediaEventSink::NotifyEvent, IMediaEvent::GetEvent).
constexpr int32_t EC_COMPLETE = 1;    // p1: result, p2: the filter (IBaseFilter*) or 0
constexpr int32_t EC_USERABORT = 2;   // p1, p2: 0
constexpr int32_t EC_ERRORABORT = 3;  // p1: the failure
constexpr int32_t EC_PAUSED = 14;     // p1: result of the pause

// Seeking capabilities (IMediaSeeking::GetCapabilities).
constexpr uint32_t AM_SEEKING_CanSeekAbsolute = 0x1;
constexpr uint32_t AM_SEEKING_CanSeekForwards = 0x2;
constexpr uint32_t AM_SEEKING_CanSeekBackwards = 0x4;
constexpr uint32_t AM_SEEKING_CanGetCurrentPos = 0x8;
constexpr uint32_t AM_SEEKING_CanGetStopPos = 0x10;
constexpr uint32_t AM_SEEKING_CanGetDuration = 0x20;
constexpr uint32_t AM_SEEKING_CanPlayBackwards = 0x40;

// Seeking flags (IMediaSeeking::SetPositions): the low two bits say how a position is given.
constexpr uint32_t AM_SEEKING_NoPositioning = 0x0;
constexpr uint32_t AM_SEEKING_AbsolutePositioning = 0x1;
constexpr uint32_t AM_SEEKING_RelativePositioning = 0x2;
constexpr uint32_t AM_SEEKING_IncrementalPositioning = 0x3;
constexpr uint32_t AM_SEEKING_PositioningBitsMask = 0x3;
constexpr uint32_t AM_SEEKING_SeekToKeyFrame = 0x4;
constexpr uint32_t AM_SEEKING_ReturnTime = 0x8;

// Stream selection (IAMStreamSelect).
constexpr uint32_t AMSTREAMSELECTINFO_ENABLED = 0x1;
constexpr uint32_t AMSTREAMSELECTINFO_EXCLUSIVE = 0x2;
constexpr uint32_t AMSTREAMSELECTENABLE_ENABLE = 0x1;
constexpr uint32_t AMSTREAMSELECTENABLE_ENABLEALL = 0x2;

// IMemAllocator::GetBuffer flags.
constexpr uint32_t AM_GBF_NOWAIT = 0x4;  // fail with VFW_E_TIMEOUT instead of waiting

// Filter merits (FilterRegistry): intelligent connect tries higher merits first and never
// uses filters at or below MERIT_DO_NOT_USE.
constexpr uint32_t MERIT_PREFERRED = 0x800000;
constexpr uint32_t MERIT_NORMAL = 0x600000;
constexpr uint32_t MERIT_UNLIKELY = 0x400000;
constexpr uint32_t MERIT_DO_NOT_USE = 0x200000;

// A monotonic clock in 100 ns units. Any thread.
class IReferenceClock : public virtual IUnknown {
public:
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
};

// Where filters post events: the graph. Any thread; never blocks on the control thread.
class IMediaEventSink : public virtual IUnknown {
public:
    virtual HRESULT NotifyEvent(int32_t code, intptr_t param1, intptr_t param2) = 0;
};

struct AllocatorProperties {
    int32_t cBuffers = 0;
    int32_t cbBuffer = 0;
    int32_t cbAlign = 1;
    int32_t cbPrefix = 0;
};

// One buffer with its times and flags. The thread that holds a sample fills it; once
// delivered, receivers only read it (the same sample may reach several receivers). The last
// Release returns it to its allocator.
class IMediaSample : public virtual IUnknown {
public:
    virtual HRESULT GetPointer(uint8_t** buffer) = 0;
    virtual int32_t GetSize() = 0;
    virtual int32_t GetActualDataLength() = 0;
    // E_INVALIDARG when the length is negative or larger than the buffer.
    virtual HRESULT SetActualDataLength(int32_t length) = 0;
    // S_OK with both times; VFW_S_ESTIMATED with only a start (stop = start + 1);
    // VFW_E_SAMPLE_TIME_NOT_SET without times (outputs untouched).
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
    // start null: no times; stop null: a start time only.
    virtual HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) = 0;
    // VFW_E_MEDIA_TIME_NOT_SET when not set.
    virtual HRESULT GetMediaTime(int64_t* start, int64_t* stop) = 0;
    virtual HRESULT SetMediaTime(const int64_t* start, const int64_t* stop) = 0;
    // The flag queries return S_OK when set, S_FALSE when not.
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(bool on) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(bool on) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(bool on) = 0;
    // A media type change carried by this sample: S_OK and a copy, S_FALSE when none.
    virtual HRESULT GetMediaType(CMediaType* type) = 0;
    // null clears it.
    virtual HRESULT SetMediaType(const CMediaType* type) = 0;
};

// A pool of samples. SetProperties/Commit/Decommit: control thread; GetBuffer: streaming
// threads; a sample's last Release: any thread.
class IMemAllocator : public virtual IUnknown {
public:
    // Only while decommitted (VFW_E_ALREADY_COMMITTED). `actual` gets what was granted, which
    // may differ from what was asked: callers compare.
    virtual HRESULT SetProperties(const AllocatorProperties& request, AllocatorProperties* actual) = 0;
    virtual HRESULT GetProperties(AllocatorProperties* actual) = 0;
    virtual HRESULT Commit() = 0;
    // Wakes every GetBuffer waiting; outstanding samples are freed when they come back.
    virtual HRESULT Decommit() = 0;
    // Waits for a free sample (unless AM_GBF_NOWAIT); VFW_E_NOT_COMMITTED when decommitted.
    // The sample comes with cleared flags, no media type, length 0, the given times.
    virtual HRESULT GetBuffer(ComPtr<IMediaSample>* sample, const REFERENCE_TIME* start, const REFERENCE_TIME* stop,
                              uint32_t flags) = 0;
    // Called by a sample on its last Release.
    virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;
};

class IBaseFilter;

struct FilterInfo {
    std::string name;
    IGraphBuilder* graph = nullptr;  // not counted
};

class IPin : public virtual IUnknown {
public:
    // Control thread. On an output pin: connect to `receivePin`, with `type` (may be partial:
    // null GUIDs match anything) or any type both accept. On failure both pins stay unconnected.
    virtual HRESULT Connect(IPin* receivePin, const CMediaType* type) = 0;
    // Control thread. On an input pin, called by the connecting output pin.
    virtual HRESULT ReceiveConnection(IPin* connector, const CMediaType& type) = 0;
    // Control thread, filter stopped. Breaks this end only (S_FALSE when not connected).
    virtual HRESULT Disconnect() = 0;
    // S_OK and the peer, or VFW_E_NOT_CONNECTED and null (an answer, not a fault). These two
    // may also be called on streaming threads (connections change only while stopped).
    virtual HRESULT ConnectedTo(ComPtr<IPin>* pin) = 0;
    virtual HRESULT ConnectionMediaType(CMediaType* type) = 0;
    virtual PinDirection QueryDirection() = 0;
    virtual std::string Name() = 0;
    // The owning filter; not counted (holding a pin keeps its filter alive).
    virtual IBaseFilter* Filter() = 0;
    // S_OK when the pin would accept the type now, S_FALSE otherwise.
    virtual HRESULT QueryAccept(const CMediaType& type) = 0;
    // The types the pin offers, in preference order.
    virtual HRESULT EnumMediaTypes(std::vector<CMediaType>* types) = 0;
    // On input pins, called by the upstream pin: end of stream on the streaming thread, flush
    // and new segment on the thread that drives the upstream (control or streaming thread).
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

// The push transport of an input pin.
class IMemInputPin : public virtual IUnknown {
public:
    // Control thread, while connecting: the pin's own allocator (made on first request).
    virtual HRESULT GetAllocator(ComPtr<IMemAllocator>* allocator) = 0;
    // Control thread: the allocator the upstream pin decided on.
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, bool readOnly) = 0;
    // Control thread: alignment and prefix this pin wants; E_NOTIMPL when it has no wish.
    virtual HRESULT GetAllocatorRequirements(AllocatorProperties* props) = 0;
    // Streaming thread. The caller keeps its reference; a receiver that holds on to the
    // sample takes its own. S_OK; S_FALSE: stop sending until the next flush; a failure.
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample* const* samples, int32_t count, int32_t* processed) = 0;
    // S_OK when Receive may block, S_FALSE when it never does.
    virtual HRESULT ReceiveCanBlock() = 0;
};

class IBaseFilter : public virtual IUnknown {
public:
    virtual HRESULT GetClassID(Guid* clsid) = 0;
    // Control thread. Stop returns when the filter's streaming threads have ended.
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    // `start`: the reference time that stream time 0 maps to.
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    // S_OK, or VFW_S_STATE_INTERMEDIATE when the last transition is still under way after
    // waiting up to `timeoutMs`.
    virtual HRESULT GetState(uint32_t timeoutMs, FilterState* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(ComPtr<IReferenceClock>* clock) = 0;
    // Pins in the filter's order; GetPin gives a borrowed pointer valid while the filter lives.
    virtual int GetPinCount() = 0;
    virtual IPin* GetPin(int n) = 0;
    virtual HRESULT FindPin(const std::string& name, ComPtr<IPin>* pin) = 0;
    // Called by the graph when the filter is added (graph, name) or removed (null, "").
    virtual HRESULT JoinFilterGraph(IGraphBuilder* graph, const std::string& name) = 0;
    virtual FilterInfo QueryFilterInfo() = 0;
};

// A filter that says it is a renderer although it has output pins (the completion count of
// the graph counts renderers).
constexpr uint32_t AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1;
constexpr uint32_t AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2;
class IAMFilterMiscFlags : public virtual IUnknown {
public:
    virtual uint32_t GetMiscFlags() = 0;
};

// Positions in the time format (only TIME_FORMAT_MEDIA_TIME: 100 ns units). Control thread.
class IMediaSeeking : public virtual IUnknown {
public:
    virtual HRESULT GetCapabilities(uint32_t* capabilities) = 0;
    virtual HRESULT CheckCapabilities(uint32_t* capabilities) = 0;
    virtual HRESULT IsFormatSupported(const Guid& format) = 0;
    virtual HRESULT QueryPreferredFormat(Guid* format) = 0;
    virtual HRESULT GetTimeFormat(Guid* format) = 0;
    virtual HRESULT IsUsingTimeFormat(const Guid& format) = 0;
    virtual HRESULT SetTimeFormat(const Guid& format) = 0;
    virtual HRESULT GetDuration(int64_t* duration) = 0;
    virtual HRESULT GetStopPosition(int64_t* stop) = 0;
    virtual HRESULT GetCurrentPosition(int64_t* current) = 0;
    virtual HRESULT ConvertTimeFormat(int64_t* target, const Guid* targetFormat, int64_t source,
                                      const Guid* sourceFormat) = 0;
    // Either pointer may be null (that position is not changed). Flags: AM_SEEKING_*.
    virtual HRESULT SetPositions(int64_t* current, uint32_t currentFlags, int64_t* stop, uint32_t stopFlags) = 0;
    virtual HRESULT GetPositions(int64_t* current, int64_t* stop) = 0;
    virtual HRESULT GetAvailable(int64_t* earliest, int64_t* latest) = 0;
    virtual HRESULT SetRate(double rate) = 0;
    virtual HRESULT GetRate(double* rate) = 0;
    virtual HRESULT GetPreroll(int64_t* preroll) = 0;
};

// Stream choice on a filter (audio tracks, subpictures). Control thread.
class IAMStreamSelect : public virtual IUnknown {
public:
    virtual HRESULT Count(int32_t* streams) = 0;
    // Every out pointer may be null. flags: AMSTREAMSELECTINFO_*; name in UTF-8.
    virtual HRESULT Info(int32_t index, CMediaType* type, uint32_t* flags, uint32_t* lcid, uint32_t* group,
                         std::string* name) = 0;
    // flags: AMSTREAMSELECTENABLE_*; 0 disables.
    virtual HRESULT Enable(int32_t index, uint32_t flags) = 0;
};

// A source filter that opens a named file (path in UTF-8). Control thread.
class IFileSourceFilter : public virtual IUnknown {
public:
    virtual HRESULT Load(const std::string& fileName, const CMediaType* type) = 0;
    // E_POINTER when fileName is null; `type` may be null.
    virtual HRESULT GetCurFile(std::string* fileName, CMediaType* type) = 0;
};

// What a graph builder calls. Control thread only.
class IGraphBuilder : public virtual IUnknown {
public:
    // The graph keeps a reference. A name in use gets the suffix " 0001", " 0002" ...
    // VFW_E_NOT_STOPPED while the graph is not stopped.
    virtual HRESULT AddFilter(IBaseFilter* filter, const std::string& name) = 0;
    // Stops the filter, disconnects every pin at both ends, and drops the graph's reference.
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    // VFW_E_NOT_FOUND and null when no filter has the name.
    virtual HRESULT FindFilterByName(const std::string& name, ComPtr<IBaseFilter>* filter) = 0;
    // In the order they were added.
    virtual HRESULT EnumFilters(std::vector<ComPtr<IBaseFilter>>* filters) = 0;
    // Output to input, with no other filter; `type` may be null.
    virtual HRESULT ConnectDirect(IPin* output, IPin* input, const CMediaType* type) = 0;
    // Breaks the connection at both ends; S_FALSE when the pin was not connected.
    virtual HRESULT Disconnect(IPin* pin) = 0;
    // Direct, else through intermediate filters from the registry (added to the graph; removed
    // again when the attempt fails).
    virtual HRESULT Connect(IPin* output, IPin* input) = 0;
    // Connects the output, through filters in the graph or from the registry, to a renderer.
    virtual HRESULT Render(IPin* output) = 0;
};

// Graph control. Control thread only.
class IMediaControl : public virtual IUnknown {
public:
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    // Returns when every streaming thread of the graph has ended.
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(int32_t timeoutMs, FilterState* state) = 0;
};

// Graph events. GetEvent/FreeEventParams/CancelDefaultHandling: control thread. The notify
// callback runs on whichever thread posted the event, without any graph lock; it must only
// hand the news to its own thread (post a message) and never call back into the graph.
class IMediaEvent : public virtual IUnknown {
public:
    // E_ABORT when no event arrived within timeoutMs (0: do not wait).
    virtual HRESULT GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeoutMs) = 0;
    virtual HRESULT FreeEventParams(int32_t code, intptr_t param1, intptr_t param2) = 0;
    // Replaces the callback (empty: none). Returns once no call of the old callback runs.
    virtual HRESULT SetNotifyCallback(std::function<void()> callback) = 0;
    // EC_COMPLETE only: pass every completion on at once instead of one when all renderers
    // have completed.
    virtual HRESULT CancelDefaultHandling(int32_t code) = 0;
    virtual HRESULT RestoreDefaultHandling(int32_t code) = 0;
};

// Pin n of the given direction (counted per direction in the filter's order), or null.
// Inside a filter class, call it as ::GetPin (the member GetPin hides it).
ComPtr<IPin> GetPin(IBaseFilter* filter, PinDirection direction, int n);
