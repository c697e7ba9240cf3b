// CConvFilter: the end of the conversion pipeline. "Audio In" and "Video In" take PCM and YV12
// pictures from the conversion filters, keep what lies inside the entry's trim window,
// re-time the pictures to the profile's frame rate (repeating or dropping them) and hand both
// to the OutputEncoder; "Video Pre" gets a copy of every fifth picture for a preview renderer.
// When every connected input has ended, EC_COMPLETE is posted to the graph; when the encoder
// fails (a write error such as a full disk), EC_ERRORABORT with E_FAIL is posted once.
//
// Threads: "Video In" and "Audio In" receive on their upstreams' streaming threads; every
// encoder call and the end-of-stream bookkeeping run under m_encodeLock. The preview copy runs
// outside that lock and may wait for a free preview buffer; the preview output queue delivers
// on its own thread. The run's timer reads NextVideoTime and LastAudioStart (atomics) from the
// control thread; SetPreview may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"
#include "graph/BaseOutputPin.h"
#include "graph/OutputQueue.h"
#include "graph/PosPassThru.h"

class OutputEncoder;
class CConvFilter;

constexpr Guid CLSID_ConvFilter = MakeGuid(0xA4DA1077, 0x2239, 0x4C9E, 0xAA16, 0xC88DD9F35131ull);

// Both inputs accept every type and keep it; receiving goes to the filter.
class CConvInputPin : public CBaseInputPin {
public:
    CConvInputPin(CConvFilter* filter, std::string name, bool video);

    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;

private:
    CConvFilter* m_conv;
    const bool m_video;
};

// Offers the video input's type; five buffers; an output queue towards the renderer.
class CVideoPrePin : public CBaseOutputPin {
public:
    explicit CVideoPrePin(CConvFilter* filter);

    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT EndOfStream() override;

    // Streaming thread of "Video In": copies one w x h YV12 picture into a preview buffer
    // with the renderer's stride and queues it. Skipped when unconnected or inactive.
    void DeliverPicture(const uint8_t* picture, int width, int height);

private:
    friend class CConvFilter;
    CConvFilter* m_conv;
    int32_t m_rendererStride = 0;          // luma pixels per row of the renderer's buffers
    CMediaType m_offered;                  // the video input's type; changed while stopped
    std::mutex m_queueLock;                // guards m_queue against Inactive
    std::unique_ptr<COutputQueue> m_queue;
};

class CConvFilter : public CBaseFilter {
public:
    CConvFilter();
    ~CConvFilter() override;

    // A query for IMediaSeeking is answered by a pass-through to the upstream of "Audio In",
    // made on the first request.
    HRESULT QueryInterfaceHook(const std::type_info& iid, IUnknown** object) override;

    // Set by the pipeline builder while stopped. The encoder is borrowed and outlives the
    // filter. frameDuration: 100 ns per output picture (1e10 / FrameRate). Trim window in
    // 100 ns from the title's start.
    void SetEncoder(OutputEncoder* encoder) { m_encoder = encoder; }
    void SetFrameDuration(double frameDuration) { m_frameDuration = frameDuration; }
    void SetTrimWindow(int64_t start, int64_t stop) { m_trimStart = start; m_trimStop = stop; }
    void SetPreview(bool on) { m_preview.store(on, std::memory_order_relaxed); }
    bool Preview() const { return m_preview.load(std::memory_order_relaxed); }

    // Output time of the next picture and start of the latest audio, relative to the trim
    // start, 100 ns. Any thread.
    int64_t NextVideoTime() const { return m_nextVideoTime.load(std::memory_order_relaxed); }
    int64_t LastAudioStart() const { return m_lastAudioStart.load(std::memory_order_relaxed); }

    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override;
    HRESULT Pause() override;

    // The width and height the video input carries (from its bitmap header).
    int32_t VideoWidth() const { return m_videoWidth; }
    int32_t VideoHeight() const { return m_videoHeight; }

private:
    friend class CConvInputPin;
    friend class CVideoPrePin;

    HRESULT ReceiveVideo(IMediaSample* sample);
    HRESULT ReceiveAudio(IMediaSample* sample);
    void InputEnded(bool video);
    void VideoConnected(const CMediaType& type);
    void ReportEncoderFailure();
    // Under m_encodeLock: writes `length` bytes of silence.
    void WriteSilence(int64_t length);

    std::unique_ptr<CPosPassThru> m_seeking;  // guarded by the filter lock
    CConvInputPin m_audioIn;
    CConvInputPin m_videoIn;
    CVideoPrePin m_videoPre;

    OutputEncoder* m_encoder = nullptr;
    double m_frameDuration = 400000.0;
    int64_t m_trimStart = 0;
    int64_t m_trimStop = 0;
    std::atomic<bool> m_preview{true};
    int32_t m_videoWidth = 0, m_videoHeight = 0;   // changed only while stopped
    int64_t m_audioBytesPerSecond = 0;             // changed only while stopped
    int32_t m_audioBlockAlign = 4;                 // changed only while stopped

    std::atomic<int64_t> m_nextVideoTime{0};
    std::atomic<int64_t> m_lastAudioStart{0};
    uint64_t m_previewCounter = 0;                 // "Video In" streaming thread only

    // -- Guarded by m_encodeLock.
    std::mutex m_encodeLock;
    int64_t m_audioBytesWritten = 0;   // PCM handed to the encoder since the run started
    bool m_audioEnded = false;
    bool m_videoEnded = false;
    bool m_completeSent = false;
    bool m_failureSent = false;
};
