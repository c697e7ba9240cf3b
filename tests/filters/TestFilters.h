// Small filters for pushing samples into the filter under test and collecting what comes
// out: a source with one output pin, driven from the test thread, and a sink with input pins
// that record every sample (bytes, times, media type changes) and every end of stream.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"
#include "graph/BaseOutputPin.h"
#include "graph/FilterGraph.h"

namespace zdrtest {

const Guid CLSID_TestSource = MakeGuid(0x7E570001, 0, 0, 0, 1);
const Guid CLSID_TestSink = MakeGuid(0x7E570002, 0, 0, 0, 2);

class TestSource;

class TestSourcePin : public CBaseOutputPin {
public:
    TestSourcePin(CBaseFilter* filter, CMediaType type, int32_t buffers, int32_t size)
        : CBaseOutputPin(filter, filter->FilterLock(), "Out"), m_offered(std::move(type)), m_buffers(buffers),
          m_size(size)
    {
    }
    HRESULT CheckMediaType(const CMediaType& type) override
    {
        return type.majortype == m_offered.majortype && type.subtype == m_offered.subtype ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override
    {
        if (position < 0)
            return E_INVALIDARG;
        if (position > 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = m_offered;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override
    {
        AllocatorProperties asked = *request;
        asked.cBuffers = std::max(asked.cBuffers, m_buffers);
        asked.cbBuffer = std::max(asked.cbBuffer, m_size);
        return SetBufferProperties(allocator, asked);
    }

private:
    CMediaType m_offered;
    int32_t m_buffers, m_size;
};

struct PushOptions {
    std::optional<REFERENCE_TIME> start;
    std::optional<REFERENCE_TIME> stop;
    bool discontinuity = false;
    const CMediaType* change = nullptr;
};

// The test thread pushes samples as the upstream streaming thread.
class TestSource : public CBaseFilter {
public:
    TestSource(CMediaType type, int32_t buffers = 4, int32_t size = 1 << 20)
        : CBaseFilter("TestSource", CLSID_TestSource), m_pin(this, std::move(type), buffers, size)
    {
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    TestSourcePin* Pin() { return &m_pin; }

    HRESULT Push(const void* data, size_t length, const PushOptions& options = PushOptions())
    {
        ComPtr<IMediaSample> sample;
        HRESULT hr = m_pin.GetDeliveryBuffer(&sample);
        if (Failed(hr))
            return hr;
        uint8_t* p = nullptr;
        sample->GetPointer(&p);
        if (int64_t(length) > sample->GetSize())
            return E_OUTOFMEMORY;
        if (length)
            std::memcpy(p, data, length);
        sample->SetActualDataLength(int32_t(length));
        if (options.start) {
            const REFERENCE_TIME start = *options.start;
            if (options.stop) {
                const REFERENCE_TIME stop = *options.stop;
                sample->SetTime(&start, &stop);
            } else {
                sample->SetTime(&start, nullptr);
            }
        }
        sample->SetDiscontinuity(options.discontinuity);
        if (options.change)
            sample->SetMediaType(options.change);
        return m_pin.Deliver(sample.Get());
    }
    HRESULT Push(const std::vector<uint8_t>& data, const PushOptions& options = PushOptions())
    {
        return Push(data.data(), data.size(), options);
    }
    HRESULT EndOfStream() { return m_pin.DeliverEndOfStream(); }

private:
    TestSourcePin m_pin;
};

struct Received {
    std::vector<uint8_t> data;
    bool timed = false;
    REFERENCE_TIME start = 0, stop = 0;
    std::optional<CMediaType> change;
    ComPtr<IMediaSample> held;  // when the sink holds samples
    IMediaSample* sample = nullptr;
};

class TestSink;

class TestSinkPin : public CBaseInputPin {
public:
    TestSinkPin(CBaseFilter* filter, std::string name) : CBaseInputPin(filter, filter->FilterLock(), std::move(name)) {}

    std::function<bool(const CMediaType&)> accept;  // null: every type
    bool hold = false;                              // keep a reference on each sample

    HRESULT CheckMediaType(const CMediaType& type) override { return !accept || accept(type) ? S_OK : S_FALSE; }
    HRESULT Receive(IMediaSample* sample) override
    {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK)
            return hr;
        Received r;
        uint8_t* p = nullptr;
        sample->GetPointer(&p);
        r.data.assign(p, p + sample->GetActualDataLength());
        r.timed = Succeeded(sample->GetTime(&r.start, &r.stop));
        CMediaType changed;
        if (sample->GetMediaType(&changed) == S_OK)
            r.change = changed;
        r.sample = sample;
        if (hold)
            r.held = ComPtr<IMediaSample>(sample);
        std::lock_guard lock(m_mutex);
        m_samples.push_back(std::move(r));
        m_changed.notify_all();
        return S_OK;
    }
    HRESULT EndOfStream() override
    {
        CBaseInputPin::EndOfStream();
        std::lock_guard lock(m_mutex);
        ++m_ends;
        m_changed.notify_all();
        return S_OK;
    }
    HRESULT BeginFlush() override
    {
        CBaseInputPin::BeginFlush();
        std::lock_guard lock(m_mutex);
        ++m_flushes;
        return S_OK;
    }

    // Bounded waits for what a queue thread delivers.
    bool WaitEnds(int n, int ms = 5000)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_ends >= n; });
    }
    bool WaitSamples(size_t n, int ms = 5000)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_samples.size() >= n; });
    }
    std::vector<Received> Take()
    {
        std::lock_guard lock(m_mutex);
        return std::move(m_samples);
    }
    size_t Count()
    {
        std::lock_guard lock(m_mutex);
        return m_samples.size();
    }
    int Ends()
    {
        std::lock_guard lock(m_mutex);
        return m_ends;
    }
    int Flushes()
    {
        std::lock_guard lock(m_mutex);
        return m_flushes;
    }
    void DropHeld()
    {
        std::lock_guard lock(m_mutex);
        for (Received& r : m_samples)
            r.held.Reset();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Received> m_samples;  // guarded by m_mutex
    int m_ends = 0;                   // guarded by m_mutex
    int m_flushes = 0;                // guarded by m_mutex
};

class TestSink : public CBaseFilter {
public:
    explicit TestSink(int pins = 1) : CBaseFilter("TestSink", CLSID_TestSink)
    {
        for (int i = 0; i < pins; ++i)
            m_pins.push_back(std::make_unique<TestSinkPin>(this, "In" + std::to_string(i)));
    }
    int GetPinCount() override { return int(m_pins.size()); }
    CBasePin* GetPin(int n) override { return n >= 0 && n < int(m_pins.size()) ? m_pins[n].get() : nullptr; }
    TestSinkPin* Pin(int n = 0) { return m_pins[n].get(); }

private:
    std::vector<std::unique_ptr<TestSinkPin>> m_pins;
};

// A YV12 type with a video info header (or video info header 2) of the given picture size.
inline CMediaType MakeYv12Type(int32_t width, int32_t height, bool info2 = false,
                               REFERENCE_TIME frameDuration = 333667)
{
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_YV12, info2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo);
    BitmapInfoHeader bmi;
    bmi.biWidth = width;
    bmi.biHeight = height;
    bmi.biBitCount = 12;
    bmi.biCompression = FourCC('Y', 'V', '1', '2');
    bmi.biSizeImage = uint32_t(width * height * 3 / 2);
    if (info2) {
        VideoInfoHeader2 vih;
        vih.AvgTimePerFrame = frameDuration;
        vih.bmiHeader = bmi;
        mt.SetFormat(&vih, sizeof vih);
    } else {
        VideoInfoHeader vih;
        vih.AvgTimePerFrame = frameDuration;
        vih.bmiHeader = bmi;
        mt.SetFormat(&vih, sizeof vih);
    }
    return mt;
}

inline CMediaType MakePcmType(uint16_t channels, uint32_t rate)
{
    CMediaType mt(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    WaveFormatEx wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = uint16_t(2 * channels);
    wfx.nAvgBytesPerSec = rate * wfx.nBlockAlign;
    mt.SetFormat(&wfx, sizeof wfx);
    return mt;
}

}  // namespace zdrtest
