#include "filters/MpegAudioDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr int64_t kNoTime = INT64_MIN;  // AV_NOPTS_VALUE
// A stamp this close to where the samples counted so far end is taken as that point: DVD
// LPCM stamps mark the first whole frame of a packet, not its first byte, and stamps carry
// rounding; only a real jump restarts the count.
constexpr REFERENCE_TIME kResync = 200000;  // 20 ms

bool IsAudioInput(const CMediaType& type)
{
    if (!(type.majortype == MEDIATYPE_Audio))
        return false;
    const Guid& s = type.subtype;
    if (s == MEDIASUBTYPE_DVD_LPCM_AUDIO) {
        const WaveFormatEx* wfx = type.FormatAs<WaveFormatEx>();
        return wfx && wfx->nChannels >= 1 && wfx->nChannels <= 8 && wfx->nSamplesPerSec > 0 &&
               (wfx->wBitsPerSample == 16 || wfx->wBitsPerSample == 20 || wfx->wBitsPerSample == 24);
    }
    return s == MEDIASUBTYPE_DOLBY_AC3 || s == MEDIASUBTYPE_DTS || s == MEDIASUBTYPE_WAVE_DTS ||
           s == MEDIASUBTYPE_MPEG1AudioPayload || s == MEDIASUBTYPE_MP3;
}

// The MPEG audio layer of the first frame header in the data (ISO/IEC 11172-3 2.4.1.3), or 0.
int MpegAudioLayer(const uint8_t* p, int size)
{
    for (int i = 0; i + 4 <= size; ++i) {
        if (p[i] == 0xFF && (p[i + 1] & 0xE0) == 0xE0) {
            const int layer = (p[i + 1] >> 1) & 3;
            const int bitrate = p[i + 2] >> 4;
            const int rate = (p[i + 2] >> 2) & 3;
            if (layer != 0 && bitrate != 15 && rate != 3)
                return 4 - layer;
        }
    }
    return 0;
}

CMediaType PcmType(int channels, int rate)
{
    CMediaType mt(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    WaveFormatEx wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = uint16_t(channels);
    wfx.nSamplesPerSec = uint32_t(rate);
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = uint16_t(2 * channels);
    wfx.nAvgBytesPerSec = uint32_t(rate) * wfx.nBlockAlign;
    mt.SetFormat(&wfx, sizeof wfx);
    mt.bFixedSizeSamples = true;
    mt.lSampleSize = wfx.nBlockAlign;
    return mt;
}

}  // namespace

// ---- Pins

CMpegAudioInputPin::CMpegAudioInputPin(CMpegAudioDecoder* filter)
    : CBaseInputPin(filter, filter->FilterLock(), "Audio"), m_decoder(filter)
{
}

HRESULT CMpegAudioInputPin::CheckMediaType(const CMediaType& type)
{
    return IsAudioInput(type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CMpegAudioInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    return m_decoder->ReceiveAudio(sample);
}

HRESULT CMpegAudioInputPin::EndOfStream()
{
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    CBaseInputPin::EndOfStream();
    return m_decoder->EndOfAudio();
}

HRESULT CMpegAudioInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    if (m_decoder->Output()->GetConnected())
        m_decoder->Output()->DeliverBeginFlush();
    return S_OK;
}

HRESULT CMpegAudioInputPin::EndFlush()
{
    m_decoder->ResetDecoder();
    if (m_decoder->Output()->GetConnected())
        m_decoder->Output()->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CMpegAudioInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    CBaseInputPin::NewSegment(start, stop, rate);
    m_decoder->ResetDecoder();
    if (m_decoder->Output()->GetConnected())
        return m_decoder->Output()->DeliverNewSegment(start, stop, rate);
    return S_OK;
}

CMpegAudioOutputPin::CMpegAudioOutputPin(CMpegAudioDecoder* filter)
    : CBaseOutputPin(filter, filter->FilterLock(), "Output"), m_decoder(filter)
{
}

HRESULT CMpegAudioOutputPin::CheckMediaType(const CMediaType& type)
{
    CMediaType offered;
    if (!m_decoder->OutputType(&offered))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return type == offered ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CMpegAudioOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0 || !m_decoder->OutputType(type))
        return VFW_S_NO_MORE_ITEMS;
    return S_OK;
}

HRESULT CMpegAudioOutputPin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request)
{
    AllocatorProperties asked;
    asked.cBuffers = std::max(CMpegAudioDecoder::kOutputBuffers, request->cBuffers);
    asked.cbBuffer = std::max(CMpegAudioDecoder::kOutputBufferBytes, request->cbBuffer);
    asked.cbAlign = std::max(1, request->cbAlign);
    asked.cbPrefix = request->cbPrefix;
    return SetBufferProperties(allocator, asked);
}

// ---- Filter

CMpegAudioDecoder::CMpegAudioDecoder()
    : CBaseFilter("AudioDecoder", CLSID_MpegAudioDecoder),
      m_input(std::make_unique<CMpegAudioInputPin>(this)),
      m_output(std::make_unique<CMpegAudioOutputPin>(this))
{
}

CMpegAudioDecoder::~CMpegAudioDecoder()
{
    std::lock_guard lock(m_decodeLock);
    CloseLocked();
}

CBasePin* CMpegAudioDecoder::GetPin(int n)
{
    return n == 0 ? static_cast<CBasePin*>(m_input.get()) : n == 1 ? m_output.get() : nullptr;
}

bool CMpegAudioDecoder::OutputType(CMediaType* type)
{
    if (!m_input->IsConnected())
        return false;
    const CMediaType in = m_input->CurrentMediaType();
    const WaveFormatEx* wfx = in.FormatAs<WaveFormatEx>();
    int channels = wfx && wfx->nChannels ? wfx->nChannels : 2;
    int rate = wfx && wfx->nSamplesPerSec ? int(wfx->nSamplesPerSec) : 48000;
    *type = PcmType(channels, rate);
    return true;
}

HRESULT CMpegAudioDecoder::Pause()
{
    std::lock_guard lock(m_lock);
    if (State() == FilterState::Stopped && m_input->IsConnected()) {
        std::lock_guard decode(m_decodeLock);
        const HRESULT hr = OpenLocked();
        if (Failed(hr))
            return hr;
    }
    return CBaseFilter::Pause();
}

HRESULT CMpegAudioDecoder::Stop()
{
    std::lock_guard lock(m_lock);
    const HRESULT hr = CBaseFilter::Stop();
    std::lock_guard decode(m_decodeLock);
    CloseLocked();
    return hr;
}

HRESULT CMpegAudioDecoder::OpenLocked()
{
    CloseLocked();
    const CMediaType in = m_input->CurrentMediaType();
    const WaveFormatEx* wfx = in.FormatAs<WaveFormatEx>();
    CMediaType out = m_output->CurrentMediaType();
    const WaveFormatEx* owfx = out.FormatAs<WaveFormatEx>();
    m_outChannels = owfx ? owfx->nChannels : 0;
    m_outRate = owfx ? int(owfx->nSamplesPerSec) : 0;
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_packet || !m_frame)
        return E_OUTOFMEMORY;
    if (in.subtype == MEDIASUBTYPE_DVD_LPCM_AUDIO) {
        m_coding = Coding::Lpcm;
        m_lpcmBits = wfx->wBitsPerSample;
        m_lpcmChannels = wfx->nChannels;
        m_lpcmRate = int(wfx->nSamplesPerSec);
        return S_OK;
    }
    if (in.subtype == MEDIASUBTYPE_DOLBY_AC3) {
        m_coding = Coding::Ac3;
        return OpenCodecLocked(AV_CODEC_ID_AC3) ? S_OK : E_FAIL;
    }
    if (in.subtype == MEDIASUBTYPE_DTS || in.subtype == MEDIASUBTYPE_WAVE_DTS) {
        m_coding = Coding::Dts;
        return OpenCodecLocked(AV_CODEC_ID_DTS) ? S_OK : E_FAIL;
    }
    // MPEG audio: the layer is read from the first frame header.
    m_coding = Coding::Mpeg;
    if (in.subtype == MEDIASUBTYPE_MP3)
        return OpenCodecLocked(AV_CODEC_ID_MP3) ? S_OK : E_FAIL;
    return S_OK;
}

bool CMpegAudioDecoder::OpenCodecLocked(int codecId)
{
    const AVCodec* codec = avcodec_find_decoder(AVCodecID(codecId));
    if (!codec)
        return false;
    m_ctx = avcodec_alloc_context3(codec);
    m_parser = av_parser_init(codecId);
    if (!m_ctx || !m_parser)
        return false;
    m_ctx->pkt_timebase = AVRational{1, 10000000};
    return avcodec_open2(m_ctx, codec, nullptr) >= 0;
}

void CMpegAudioDecoder::CloseLocked()
{
    if (m_parser) {
        av_parser_close(m_parser);
        m_parser = nullptr;
    }
    if (m_ctx)
        avcodec_free_context(&m_ctx);
    if (m_packet)
        av_packet_free(&m_packet);
    if (m_frame)
        av_frame_free(&m_frame);
    if (m_swr)
        swr_free(&m_swr);
    m_swrFormat = -1;
    m_carry.clear();
    m_haveNext = false;
    m_drained = false;
}

void CMpegAudioDecoder::ResetDecoder()
{
    std::lock_guard decode(m_decodeLock);
    if (m_ctx) {
        avcodec_flush_buffers(m_ctx);
        const int id = m_ctx->codec_id;
        if (m_parser)
            av_parser_close(m_parser);
        m_parser = av_parser_init(id);
    }
    if (m_swr)
        swr_free(&m_swr);
    m_swrFormat = -1;
    m_carry.clear();
    m_haveNext = false;
    m_drained = false;
}

HRESULT CMpegAudioDecoder::ReceiveAudio(IMediaSample* sample)
{
    std::lock_guard decode(m_decodeLock);
    // A sample that carries a new type (the splitter switched to another track, perhaps of
    // another coding) starts a new decoder for it; the input pin has taken the type already.
    if (CMediaType changed; sample->GetMediaType(&changed) == S_OK) {
        if (const HRESULT hr = OpenLocked(); Failed(hr))
            return hr;
    }
    uint8_t* data = nullptr;
    if (Failed(sample->GetPointer(&data)) || !data)
        return E_POINTER;
    const int size = sample->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = Succeeded(sample->GetTime(&start, &stop));
    if (m_coding == Coding::Lpcm)
        return LpcmLocked(data, size, timed, start);
    if (m_coding == Coding::Mpeg && !m_ctx) {
        const int layer = MpegAudioLayer(data, size);
        if (layer == 0)
            return S_OK;  // nothing decodable yet
        const int id = layer == 1 ? AV_CODEC_ID_MP1 : layer == 2 ? AV_CODEC_ID_MP2 : AV_CODEC_ID_MP3;
        if (!OpenCodecLocked(id)) {
            if (m_parser) {
                av_parser_close(m_parser);
                m_parser = nullptr;
            }
            if (m_ctx)
                avcodec_free_context(&m_ctx);
            return S_OK;
        }
    }
    if (!m_ctx || !m_parser)
        return S_OK;
    if (m_drained) {
        avcodec_flush_buffers(m_ctx);
        m_drained = false;
    }
    return DecodeLocked(data, size, timed ? start : kNoTime);
}

HRESULT CMpegAudioDecoder::EndOfAudio()
{
    {
        std::lock_guard decode(m_decodeLock);
        if (m_ctx && m_parser && !m_drained) {
            DecodeLocked(nullptr, 0, kNoTime);
            m_drained = true;
        }
    }
    return m_output->GetConnected() ? m_output->DeliverEndOfStream() : S_OK;
}

HRESULT CMpegAudioDecoder::DecodeLocked(const uint8_t* data, int size, int64_t pts)
{
    const bool draining = data == nullptr;
    HRESULT result = S_OK;
    do {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(m_parser, m_ctx, &out, &outSize, data, size, pts, kNoTime, 0);
        if (used < 0 || (!draining && used == 0 && outSize == 0))
            break;
        if (data) {
            data += used;
            size -= used;
        }
        pts = kNoTime;
        if (outSize > 0) {
            m_packet->data = out;
            m_packet->size = outSize;
            m_packet->pts = m_parser->pts;
            m_packet->dts = kNoTime;
            avcodec_send_packet(m_ctx, m_packet);  // a broken frame is skipped
            av_packet_unref(m_packet);
            result = DrainLocked();
        } else if (draining) {
            break;
        }
        if (result != S_OK)
            return result;
    } while (draining || size > 0);
    if (draining) {
        avcodec_send_packet(m_ctx, nullptr);
        result = DrainLocked();
    }
    return result;
}

HRESULT CMpegAudioDecoder::DrainLocked()
{
    for (;;) {
        if (avcodec_receive_frame(m_ctx, m_frame) < 0)
            return S_OK;
        const HRESULT hr = ConvertFrameLocked(m_frame);
        av_frame_unref(m_frame);
        if (hr != S_OK)
            return hr;
    }
}

HRESULT CMpegAudioDecoder::ConvertFrameLocked(AVFrame* frame)
{
    const int channels = frame->ch_layout.nb_channels;
    const int rate = frame->sample_rate;
    if (channels <= 0 || channels > 8 || rate <= 0 || frame->nb_samples <= 0)
        return S_OK;
    if (!m_swr || m_swrFormat != frame->format || m_swrChannels != channels || m_swrRate != rate) {
        if (m_swr)
            swr_free(&m_swr);
        AVChannelLayout layout;
        if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0)
            return S_OK;
        const int err = swr_alloc_set_opts2(&m_swr, &layout, AV_SAMPLE_FMT_S16, rate, &layout,
                                            AVSampleFormat(frame->format), rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (err < 0 || !m_swr || swr_init(m_swr) < 0) {
            if (m_swr)
                swr_free(&m_swr);
            return S_OK;
        }
        m_swrFormat = frame->format;
        m_swrChannels = channels;
        m_swrRate = rate;
    }
    m_pcm.resize(size_t(frame->nb_samples + 32) * channels * 2);
    uint8_t* out[1] = {m_pcm.data()};
    const int n = swr_convert(m_swr, out, frame->nb_samples + 32, const_cast<const uint8_t**>(frame->extended_data),
                              frame->nb_samples);
    if (n <= 0)
        return S_OK;
    const int64_t pts = frame->best_effort_timestamp != kNoTime ? frame->best_effort_timestamp : frame->pts;
    REFERENCE_TIME start = m_haveNext ? m_next : 0;
    if (pts != kNoTime && (!m_haveNext || std::abs(pts - m_next) > kResync))
        start = pts;
    return DeliverPcmLocked(m_pcm.data(), size_t(n) * channels * 2, channels, rate, start);
}

HRESULT CMpegAudioDecoder::LpcmLocked(const uint8_t* data, int size, bool timed, REFERENCE_TIME start)
{
    const int ch = m_lpcmChannels;
    // Bytes of one group and the 16-bit sample frames it gives: 16-bit samples one frame at
    // a time; 20 and 24-bit samples in groups of two frames whose first 4 x channels bytes
    // hold the top 16 bits of each sample.
    const int groupBytes = m_lpcmBits == 16 ? 2 * ch : m_lpcmBits == 20 ? 5 * ch : 6 * ch;
    const int groupFrames = m_lpcmBits == 16 ? 1 : 2;
    if (timed && m_haveNext) {
        const int carriedFrames = int(m_carry.size()) / groupBytes * groupFrames;
        const REFERENCE_TIME stamped = start - REFERENCE_TIME(carriedFrames) * 10000000 / m_lpcmRate;
        start = std::abs(stamped - m_next) > kResync ? stamped : m_next;
    } else if (!timed) {
        start = m_haveNext ? m_next : 0;
    }
    m_carry.insert(m_carry.end(), data, data + std::max(0, size));
    const size_t groups = m_carry.size() / size_t(groupBytes);
    if (groups == 0)
        return S_OK;
    m_pcm.resize(groups * size_t(groupFrames) * ch * 2);
    uint8_t* out = m_pcm.data();
    for (size_t g = 0; g < groups; ++g) {
        const uint8_t* in = m_carry.data() + g * size_t(groupBytes);
        for (int s = 0; s < groupFrames * ch; ++s) {
            out[0] = in[2 * s + 1];
            out[1] = in[2 * s];
            out += 2;
        }
    }
    m_carry.erase(m_carry.begin(), m_carry.begin() + ptrdiff_t(groups * size_t(groupBytes)));
    return DeliverPcmLocked(m_pcm.data(), m_pcm.size(), ch, m_lpcmRate, start);
}

HRESULT CMpegAudioDecoder::DeliverPcmLocked(const uint8_t* pcm, size_t bytes, int channels, int rate,
                                            REFERENCE_TIME start)
{
    const size_t frameBytes = size_t(channels) * 2;
    bool changed = channels != m_outChannels || rate != m_outRate;
    // Times count sample frames from the last stamp taken, so that they do not drift.
    if (!m_haveNext || start != m_next || changed) {
        m_anchor = start;
        m_anchorFrames = 0;
    }
    while (bytes >= frameBytes) {
        if (!m_output->GetConnected())
            return S_OK;
        ComPtr<IMediaSample> sample;
        HRESULT hr = m_output->GetDeliveryBuffer(&sample);
        if (Failed(hr))
            return hr;
        uint8_t* dst = nullptr;
        sample->GetPointer(&dst);
        const size_t room = size_t(sample->GetSize()) / frameBytes * frameBytes;
        const size_t take = std::min(bytes, room);
        if (!dst || take == 0)
            return E_FAIL;
        std::memcpy(dst, pcm, take);
        sample->SetActualDataLength(int32_t(take));
        m_anchorFrames += int64_t(take / frameBytes);
        REFERENCE_TIME stop = m_anchor + m_anchorFrames * 10000000 / rate;
        sample->SetTime(&start, &stop);
        if (changed) {
            const CMediaType type = PcmType(channels, rate);
            sample->SetMediaType(&type);
            m_output->SetMediaType(type);
            m_outChannels = channels;
            m_outRate = rate;
            changed = false;
        }
        m_haveNext = true;
        m_next = stop;
        start = stop;
        pcm += take;
        bytes -= take;
        hr = m_output->Deliver(sample.Get());
        if (hr != S_OK)
            return hr;
    }
    return S_OK;
}
