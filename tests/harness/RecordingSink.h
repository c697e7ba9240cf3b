// A sink filter for tests: records what reaches its input pin (samples with times, flags,
// size and checksum, media type changes, end of stream, flushes, new segments) in order, and
// lets a test wait, bounded, for N samples or end of stream.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"

struct RecordedItem {
    enum class Kind { Sample, EndOfStream, BeginFlush, EndFlush, NewSegment };
    Kind kind = Kind::Sample;
    // Sample: timeResult is GetTime's result (S_OK, VFW_S_ESTIMATED, VFW_E_SAMPLE_TIME_NOT_SET).
    HRESULT timeResult = VFW_E_SAMPLE_TIME_NOT_SET;
    REFERENCE_TIME start = 0, stop = 0;  // also the new segment's
    double rate = 1.0;
    bool syncPoint = false, discontinuity = false, preroll = false;
    int32_t size = 0;
    uint32_t checksum = 0;  // FNV-1a of the actual bytes
    std::vector<uint8_t> data;  // kept when RecordingSinkFilter::keepData is set
    std::optional<CMediaType> mediaType;
};

class RecordingSinkFilter;

class RecordingSinkPin : public CBaseInputPin {
public:
    explicit RecordingSinkPin(RecordingSinkFilter* filter);

    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT GetAllocatorRequirements(AllocatorProperties* props) override;
    HRESULT GetAllocator(ComPtr<IMemAllocator>* allocator) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT Inactive() override;

private:
    RecordingSinkFilter* m_sink;
};

// A renderer: it has an input and no output, and posts EC_COMPLETE (S_OK, itself) on end of
// stream unless told not to. Settings are set before the graph runs.
class RecordingSinkFilter : public CBaseFilter {
public:
    RecordingSinkFilter();

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    RecordingSinkPin* Pin() { return &m_pin; }

    // -- Settings.
    std::function<bool(const CMediaType&)> accept;  // empty: every type
    std::optional<AllocatorProperties> requirements;
    // Makes the allocator the input offers; empty: a CMemAllocator.
    std::function<ComPtr<IMemAllocator>()> makeAllocator;
    bool keepData = false;
    bool postComplete = true;
    bool holdSamples = false;  // keep a reference on every sample until ReleaseHeld
    // What Receive returns after recording (S_OK by default). Any thread.
    void SetReceiveResult(HRESULT hr);
    // A closed gate makes Receive wait (until opened, a flush or a stop). Any thread.
    void SetGate(bool open);

    // -- Results. Any thread.
    std::vector<RecordedItem> Items();
    std::vector<RecordedItem> Samples();
    size_t SampleCount();
    bool GotEndOfStream();
    // Waits up to `timeout` for `samples` samples or end of stream; true when one came.
    bool WaitFor(size_t samples, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool WaitForEndOfStream(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True once a Receive is waiting at the closed gate.
    bool WaitForBlocked(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void ReleaseHeld();
    void Clear();

private:
    friend class RecordingSinkPin;
    void Record(RecordedItem item);
    HRESULT PassGate();
    void Wake();

    RecordingSinkPin m_pin;
    // -- All the following fields are guarded by m_recordLock.
    std::mutex m_recordLock;
    std::condition_variable m_changed;
    std::vector<RecordedItem> m_items;
    std::vector<ComPtr<IMediaSample>> m_held;
    HRESULT m_receiveResult = S_OK;
    bool m_gateOpen = true;
    bool m_blocked = false;
};
