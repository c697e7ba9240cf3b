// A source filter for tests: its output pin offers the given media types and pushes samples
// with given times and flags into whatever it is connected to, on the calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "graph/BaseFilter.h"
#include "graph/BaseOutputPin.h"

struct SampleSpec {
    SampleSpec() = default;
    SampleSpec(std::vector<uint8_t> bytes, std::optional<REFERENCE_TIME> startTime = std::nullopt,
               std::optional<REFERENCE_TIME> stopTime = std::nullopt, bool sync = false)
        : data(std::move(bytes)), start(startTime), stop(stopTime), syncPoint(sync)
    {
    }

    std::vector<uint8_t> data;
    std::optional<REFERENCE_TIME> start;
    std::optional<REFERENCE_TIME> stop;  // used only with a start
    bool syncPoint = false;
    bool discontinuity = false;
    bool preroll = false;
    std::optional<CMediaType> mediaType;  // a media type change carried by the sample
};

class TestSourceFilter;

class TestSourcePin : public CBaseOutputPin {
public:
    TestSourcePin(TestSourceFilter* filter, std::vector<CMediaType> types);

    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;
    HRESULT InitAllocator(ComPtr<IMemAllocator>* allocator) override;
    // Answers a query for IMediaSeeking with `seeking` when set.
    HRESULT QueryInterfaceHook(const std::type_info& iid, IUnknown** object) override;

    // What DecideBufferSize asks for (set before connecting). Default 4 x 65536.
    int32_t bufferCount = 4;
    int32_t bufferSize = 65536;
    // Alignment and prefix the input pin asked for, as seen by DecideBufferSize.
    AllocatorProperties seenRequest;
    // Makes the pin's own allocator (tried when the input's is not good enough); empty: a
    // CMemAllocator.
    std::function<ComPtr<IMemAllocator>()> ownAllocator;
    // Seeking this pin answers with (borrowed; must outlive the pin's connections), or null.
    IMediaSeeking* seeking = nullptr;

private:
    std::vector<CMediaType> m_types;
};

// Push* act as the streaming thread: call them from the test thread when nothing can block,
// or from a thread of the test's own.
class TestSourceFilter : public CBaseFilter {
public:
    // `types`: offered in order; the output accepts only these (all when empty).
    explicit TestSourceFilter(std::vector<CMediaType> types = {});

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    TestSourcePin* Pin() { return &m_pin; }

    // Gets a buffer (waits for one), fills it from `spec` and delivers it. The result is the
    // downstream's, or the allocator's failure; E_INVALIDARG when the data does not fit.
    HRESULT PushSample(const SampleSpec& spec);
    HRESULT PushEndOfStream() { return m_pin.DeliverEndOfStream(); }
    HRESULT PushBeginFlush() { return m_pin.DeliverBeginFlush(); }
    HRESULT PushEndFlush() { return m_pin.DeliverEndFlush(); }
    HRESULT PushNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate = 1.0)
    {
        return m_pin.DeliverNewSegment(start, stop, rate);
    }

private:
    TestSourcePin m_pin;
};

// Bytes 0, 1, 2 ... of the given length, shifted by `seed`.
std::vector<uint8_t> Ramp(size_t length, uint8_t seed = 0);
