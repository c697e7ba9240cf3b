// The audio conversion stage after the MPEG audio decoder: 16-bit PCM in, converted to the
// profile's channel count and sample rate when they differ, a volume factor applied, and
// re-blocked through a 512 KiB ring so that output samples are filled up to their size.
//
// Threads: SetOutputFormat and the connection calls on the control thread; Transform and
// EndOfStream on the input's streaming thread under the transform filter's receive lock
// (which also guards the resampler, the ring and its positions). SetVolume is a single 32-bit
// atomic store from the user interface thread, read once per sample.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "graph/TransformFilter.h"

struct SwrContext;

// {F410BCFF-57B4-4A02-A1EE-41FC4C22A1C9}
constexpr Guid CLSID_MyAudioConver = MakeGuid(0xF410BCFF, 0x57B4, 0x4A02, 0xA1EE, 0x41FC4C22A1C9ull);
// {D9983DA2-084D-4BA4-BCD4-9C61DB0FC2B3}
constexpr Guid IID_IMyAudioConvFilter = MakeGuid(0xD9983DA2, 0x084D, 0x4BA4, 0xBCD4, 0x9C61DB0FC2B3ull);

// Called from the control or user interface thread; both return S_OK.
class IMyAudioConvFilter : public virtual IUnknown {
public:
    // The low 16 bits of `channels` are used. Takes effect at the next output connection.
    virtual HRESULT SetOutputFormat(int32_t channels, int32_t sampleRate) = 0;
    // 256 = unchanged; from the next sample.
    virtual HRESULT SetVolume(int32_t volume) = 0;
};

class CMyAudioConveFilter : public CTransformFilter, public IMyAudioConvFilter {
public:
    static constexpr int32_t kRingBytes = 524288;
    static constexpr int32_t kResampleBytes = 262144;
    static constexpr int32_t kOutputBuffers = 4;
    static constexpr int32_t kOutputBufferBytes = 115200;
    static constexpr uint16_t kChannelsUnset = 0xFFFF;
    static constexpr int32_t kRateUnset = 0x0FFFFFFF;

    CMyAudioConveFilter();
    ~CMyAudioConveFilter() override;

    HRESULT SetOutputFormat(int32_t channels, int32_t sampleRate) override;
    HRESULT SetVolume(int32_t volume) override;

    HRESULT CheckInputType(const CMediaType& in) override;
    // Always S_OK.
    HRESULT CheckTransform(const CMediaType& in, const CMediaType& out) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT SetMediaType(PinDirection direction, const CMediaType& type) override;
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override;
    // Whatever the resampler still holds and the ring still keeps is delivered before the
    // end of stream goes on.
    HRESULT EndOfStream() override;

    // For checks (control thread, or streaming thread under the receive lock).
    bool Resampling() const { return m_resample; }
    int32_t BytesHeld() const { return m_held; }

private:
    HRESULT OpenResampler();
    void CloseResampler();
    // Adds up to the free space of `length` bytes; the rest is dropped.
    void WriteRing(const uint8_t* data, int32_t length);
    int32_t ReadRing(uint8_t* out, int32_t length);
    void ApplyVolume(uint8_t* data, int32_t length);
    // Resampler output for `frames` input frames (null input: what it holds); bytes written
    // to the resample buffer.
    int32_t Resample(const uint8_t* input, int32_t frames);

    CMediaType m_inputType;   // control thread; also on a media type change on the stream
    CMediaType m_outputType;
    uint16_t m_targetChannels = kChannelsUnset;
    int32_t m_targetRate = kRateUnset;
    std::atomic<int32_t> m_volume{256};
    bool m_resample = false;
    SwrContext* m_resampler = nullptr;
    std::unique_ptr<uint8_t[]> m_resampleBuffer;
    int32_t m_inputFrameBytes = 2;
    uint16_t m_inputChannels = 0;
    int32_t m_inputRate = 0;

    // -- The ring; streaming thread under the receive lock.
    std::unique_ptr<uint8_t[]> m_ring;
    int32_t m_read = 0;
    int32_t m_write = 0;
    int32_t m_held = 0;
    REFERENCE_TIME m_lastStop = 0;  // end time of the latest input sample
    bool m_lastTimed = false;
};
