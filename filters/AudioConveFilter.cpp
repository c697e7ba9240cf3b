#include "filters/AudioConveFilter.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

CMyAudioConveFilter::CMyAudioConveFilter()
    : CTransformFilter("AudioConver", CLSID_MyAudioConver), m_ring(new uint8_t[kRingBytes])
{
}

CMyAudioConveFilter::~CMyAudioConveFilter() { CloseResampler(); }

HRESULT CMyAudioConveFilter::SetOutputFormat(int32_t channels, int32_t sampleRate)
{
    std::lock_guard lock(m_lock);
    m_targetChannels = uint16_t(channels & 0xFFFF);
    m_targetRate = sampleRate;
    return S_OK;
}

HRESULT CMyAudioConveFilter::SetVolume(int32_t volume)
{
    m_volume.store(volume, std::memory_order_relaxed);
    return S_OK;
}

HRESULT CMyAudioConveFilter::CheckInputType(const CMediaType& in)
{
    if (!(in.majortype == MEDIATYPE_Audio) || !(in.subtype == MEDIASUBTYPE_PCM) ||
        !(in.formattype == FORMAT_WaveFormatEx))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const WaveFormatEx* wfx = in.FormatAs<WaveFormatEx>();
    // Without channels or a rate there is nothing to convert from.
    if (!wfx || wfx->nChannels == 0 || wfx->nSamplesPerSec == 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMyAudioConveFilter::CheckTransform(const CMediaType& in, const CMediaType& out)
{
    (void)in;
    (void)out;
    return S_OK;
}

HRESULT CMyAudioConveFilter::SetMediaType(PinDirection direction, const CMediaType& type)
{
    const WaveFormatEx* wfx = type.FormatAs<WaveFormatEx>();
    if (direction == PinDirection::Input) {
        if (!wfx)
            return VFW_E_TYPE_NOT_ACCEPTED;
        m_inputType = type;
        m_inputChannels = wfx->nChannels;
        m_inputRate = int32_t(wfx->nSamplesPerSec);
        m_inputFrameBytes = 2 * m_inputChannels;
        if (OutputPin()->GetConnected()) {
            // A format change on the stream: the output keeps its format, the resampler is
            // made again from the new input to it.
            if (m_inputChannels != m_targetChannels || m_inputRate != m_targetRate)
                m_resample = true;
            CloseResampler();
            return m_resample ? OpenResampler() : S_OK;
        }
        if (m_targetChannels == kChannelsUnset)
            m_targetChannels = m_inputChannels;
        if (m_targetRate == kRateUnset)
            m_targetRate = m_inputRate;
        m_outputType = type;
        return S_OK;
    }
    if (m_inputChannels != m_targetChannels || m_inputRate != m_targetRate)
        m_resample = true;
    CloseResampler();
    if (m_resample)
        return OpenResampler();
    m_inputFrameBytes = 2 * m_inputChannels;
    return S_OK;
}

HRESULT CMyAudioConveFilter::OpenResampler()
{
    if (m_targetChannels == 0 || m_targetChannels > 64 || m_targetRate <= 0 || m_inputChannels == 0 ||
        m_inputRate <= 0)
        return E_FAIL;
    AVChannelLayout inLayout, outLayout;
    av_channel_layout_default(&inLayout, m_inputChannels);
    av_channel_layout_default(&outLayout, m_targetChannels);
    SwrContext* swr = nullptr;
    int err = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, m_targetRate, &inLayout, AV_SAMPLE_FMT_S16,
                                  m_inputRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (err < 0 || !swr)
        return E_FAIL;
    // Filter length 16, 2^10 phases, not linear, cutoff 0.8.
    av_opt_set_int(swr, "filter_size", 16, 0);
    av_opt_set_int(swr, "phase_shift", 10, 0);
    av_opt_set_int(swr, "linear_interp", 0, 0);
    av_opt_set_double(swr, "cutoff", 0.8, 0);
    if (swr_init(swr) < 0) {
        swr_free(&swr);
        return E_FAIL;
    }
    if (!m_resampleBuffer)
        m_resampleBuffer.reset(new (std::nothrow) uint8_t[kResampleBytes]);
    if (!m_resampleBuffer) {
        swr_free(&swr);
        return E_FAIL;
    }
    m_resampler = swr;
    m_inputFrameBytes = 2 * m_inputChannels;
    return S_OK;
}

void CMyAudioConveFilter::CloseResampler()
{
    if (m_resampler)
        swr_free(&m_resampler);
}

HRESULT CMyAudioConveFilter::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0 || !InputPin()->IsConnected())
        return VFW_S_NO_MORE_ITEMS;
    *type = m_outputType;
    WaveFormatEx* wfx = type->FormatAs<WaveFormatEx>();
    if (!wfx)
        return VFW_S_NO_MORE_ITEMS;
    if (wfx->nChannels != m_targetChannels || int32_t(wfx->nSamplesPerSec) != m_targetRate) {
        wfx->nChannels = m_targetChannels;
        wfx->nSamplesPerSec = uint32_t(m_targetRate);
        wfx->nBlockAlign = uint16_t(2 * wfx->nChannels);
        wfx->nAvgBytesPerSec = uint32_t(uint16_t(2 * wfx->nChannels)) * uint32_t(m_targetRate);
    }
    return S_OK;
}

HRESULT CMyAudioConveFilter::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request)
{
    (void)request;
    if (!InputPin()->IsConnected())
        return E_UNEXPECTED;
    AllocatorProperties asked;
    asked.cBuffers = kOutputBuffers;
    asked.cbBuffer = kOutputBufferBytes;
    asked.cbAlign = 1;
    asked.cbPrefix = 0;
    return CBaseOutputPin::SetBufferProperties(allocator, asked);
}

// ---- Streaming

int32_t CMyAudioConveFilter::Resample(const uint8_t* input, int32_t frames)
{
    if (!m_resampler || !m_resampleBuffer)
        return 0;
    const int32_t capacity = kResampleBytes / (2 * m_targetChannels);
    uint8_t* out[1] = {m_resampleBuffer.get()};
    const uint8_t* in[1] = {input};
    const int n = swr_convert(m_resampler, out, capacity, input ? in : nullptr, input ? frames : 0);
    return n > 0 ? n * m_targetChannels * 2 : 0;
}

void CMyAudioConveFilter::WriteRing(const uint8_t* data, int32_t length)
{
    int32_t take = std::min(length, kRingBytes - m_held);
    m_held += take;
    while (take > 0) {
        const int32_t run = std::min(take, kRingBytes - m_write);
        std::memcpy(m_ring.get() + m_write, data, size_t(run));
        data += run;
        take -= run;
        m_write = (m_write + run) % kRingBytes;
    }
}

int32_t CMyAudioConveFilter::ReadRing(uint8_t* out, int32_t length)
{
    const int32_t total = std::min(length, m_held);
    int32_t left = total;
    while (left > 0) {
        const int32_t run = std::min(left, kRingBytes - m_read);
        std::memcpy(out, m_ring.get() + m_read, size_t(run));
        out += run;
        left -= run;
        m_read = (m_read + run) % kRingBytes;
    }
    m_held -= total;
    return total;
}

void CMyAudioConveFilter::ApplyVolume(uint8_t* data, int32_t length)
{
    const int64_t volume = m_volume.load(std::memory_order_relaxed);
    if (volume == 256)
        return;
    for (int32_t i = 0; i + 1 < length; i += 2) {
        int16_t s;
        std::memcpy(&s, data + i, 2);
        const int64_t v = (int64_t(s) * volume + 128) >> 8;
        s = int16_t(std::clamp<int64_t>(v, -32768, 32767));
        std::memcpy(data + i, &s, 2);
    }
}

HRESULT CMyAudioConveFilter::Transform(IMediaSample* in, IMediaSample* out)
{
    uint8_t* src = nullptr;
    uint8_t* dst = nullptr;
    if (Failed(in->GetPointer(&src)) || Failed(out->GetPointer(&dst)) || !src || !dst)
        return E_FAIL;
    const int32_t length = in->GetActualDataLength();

    REFERENCE_TIME start = 0, stop = 0;
    if (Succeeded(in->GetTime(&start, &stop))) {
        m_lastStop = stop;
        m_lastTimed = true;
    }

    if (m_resample && m_resampler) {
        const int32_t bytes = Resample(src, length / m_inputFrameBytes);
        WriteRing(m_resampleBuffer.get(), bytes);
    } else if (!m_resample) {
        WriteRing(src, length);
    }
    const int32_t got = ReadRing(dst, out->GetSize());
    ApplyVolume(dst, got);
    out->SetActualDataLength(got);
    return S_OK;
}

HRESULT CMyAudioConveFilter::EndOfStream()
{
    std::lock_guard receive(m_receiveLock);
    if (!m_output->GetConnected())
        return S_OK;
    if (m_resample && m_resampler) {
        for (;;) {
            const int32_t bytes = Resample(nullptr, 0);
            if (bytes <= 0)
                break;
            WriteRing(m_resampleBuffer.get(), bytes);
        }
    }
    // What is still held goes out in full samples, timed on from the last input.
    const int32_t bytesPerSecond = 2 * m_targetChannels * m_targetRate;
    REFERENCE_TIME at = m_lastStop;
    while (m_held > 0) {
        ComPtr<IMediaSample> sample;
        if (Failed(m_output->GetDeliveryBuffer(&sample)))
            break;
        uint8_t* dst = nullptr;
        sample->GetPointer(&dst);
        const int32_t got = ReadRing(dst, sample->GetSize());
        ApplyVolume(dst, got);
        sample->SetActualDataLength(got);
        if (m_lastTimed && bytesPerSecond > 0) {
            const REFERENCE_TIME stop = at + REFERENCE_TIME(got) * 10000000 / bytesPerSecond;
            sample->SetTime(&at, &stop);
            at = stop;
        }
        if (m_output->Deliver(sample.Get()) != S_OK)
            break;
    }
    return m_output->DeliverEndOfStream();
}
