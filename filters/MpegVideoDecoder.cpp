#include "filters/MpegVideoDecoder.h"

#include <algorithm>
#include <cstring>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int64_t kNoTime = INT64_MIN;  // AV_NOPTS_VALUE

struct SequenceHeader {
    int32_t width = 0, height = 0;
    int aspect = 0;
    REFERENCE_TIME frameDuration = 0;
};

// ISO/IEC 13818-2 6.2.2.1 sequence_header(): 12-bit sizes, aspect and frame rate codes.
bool ParseSequenceHeader(const uint8_t* p, size_t size, SequenceHeader* out)
{
    for (size_t i = 0; i + 8 <= size; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB3) {
            const uint8_t* s = p + i + 4;
            out->width = int32_t(s[0]) << 4 | s[1] >> 4;
            out->height = int32_t(s[1] & 0x0F) << 8 | s[2];
            out->aspect = s[3] >> 4;
            static const REFERENCE_TIME durations[16] = {0,      417083, 416667, 400000, 333667, 333333,
                                                         200000, 166833, 166667, 0,      0,      0,
                                                         0,      0,      0,      0};
            out->frameDuration = durations[s[3] & 0x0F];
            return true;
        }
    }
    return false;
}

// The sequence header bytes carried by an MPEG-1 or MPEG-2 video format block.
std::pair<const uint8_t*, size_t> SequenceBytes(const CMediaType& type)
{
    size_t countAt, dataAt;
    if (type.formattype == FORMAT_MPEG2Video) {
        countAt = offsetof(Mpeg2VideoInfo, cbSequenceHeader);
        dataAt = offsetof(Mpeg2VideoInfo, dwSequenceHeader);
    } else if (type.formattype == FORMAT_MPEGVideo) {
        countAt = offsetof(Mpeg1VideoInfo, cbSequenceHeader);
        dataAt = offsetof(Mpeg1VideoInfo, bSequenceHeader);
    } else {
        return {nullptr, 0};
    }
    if (type.format.size() < dataAt)
        return {nullptr, 0};
    uint32_t count;
    std::memcpy(&count, type.format.data() + countAt, 4);
    count = uint32_t(std::min<size_t>(count, type.format.size() - dataAt));
    return {type.format.data() + dataAt, count};
}

bool IsMpegVideo(const CMediaType& type)
{
    if (!(type.majortype == MEDIATYPE_Video))
        return false;
    return (type.subtype == MEDIASUBTYPE_MPEG1Payload && type.formattype == FORMAT_MPEGVideo) ||
           (type.subtype == MEDIASUBTYPE_MPEG2_VIDEO && type.formattype == FORMAT_MPEG2Video);
}

}  // namespace

// ---- Video input

CMpegVideoInputPin::CMpegVideoInputPin(CMpegVideoDecoder* filter)
    : CBaseInputPin(filter, filter->FilterLock(), "Video"), m_decoder(filter)
{
}

HRESULT CMpegVideoInputPin::CheckMediaType(const CMediaType& type)
{
    return IsMpegVideo(type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CMpegVideoInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    return m_decoder->ReceiveVideo(sample);
}

HRESULT CMpegVideoInputPin::EndOfStream()
{
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    CBaseInputPin::EndOfStream();
    return m_decoder->EndOfVideo();
}

HRESULT CMpegVideoInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    if (m_decoder->Output()->GetConnected())
        m_decoder->Output()->DeliverBeginFlush();
    return S_OK;
}

HRESULT CMpegVideoInputPin::EndFlush()
{
    m_decoder->ResetDecoder();
    if (m_decoder->Output()->GetConnected())
        m_decoder->Output()->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CMpegVideoInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    CBaseInputPin::NewSegment(start, stop, rate);
    m_decoder->ResetDecoder();
    if (m_decoder->Output()->GetConnected())
        return m_decoder->Output()->DeliverNewSegment(start, stop, rate);
    return S_OK;
}

// ---- Subpicture input

CSubpictureInputPin::CSubpictureInputPin(CMpegVideoDecoder* filter)
    : CBaseInputPin(filter, filter->FilterLock(), "Subpicture"), m_decoder(filter)
{
}

HRESULT CSubpictureInputPin::CheckMediaType(const CMediaType& type)
{
    return type.subtype == MEDIASUBTYPE_DVD_SUBPICTURE ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CSubpictureInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    uint8_t* data = nullptr;
    if (Failed(sample->GetPointer(&data)) || !data)
        return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = Succeeded(sample->GetTime(&start, &stop));
    m_decoder->Subpictures().Add(data, size_t(std::max(0, sample->GetActualDataLength())), timed, start);
    return S_OK;
}

HRESULT CSubpictureInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    m_decoder->Subpictures().Clear();
    return S_OK;
}

HRESULT CSubpictureInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    CBaseInputPin::NewSegment(start, stop, rate);
    m_decoder->Subpictures().Clear();
    return S_OK;
}

// ---- Output

CMpegVideoOutputPin::CMpegVideoOutputPin(CMpegVideoDecoder* filter)
    : CBaseOutputPin(filter, filter->FilterLock(), "Output"), m_decoder(filter)
{
}

HRESULT CMpegVideoOutputPin::CheckMediaType(const CMediaType& type)
{
    if (!(type.majortype == MEDIATYPE_Video) || !(type.subtype == MEDIASUBTYPE_YV12) ||
        !(type.formattype == FORMAT_VideoInfo || type.formattype == FORMAT_VideoInfo2))
        return VFW_E_TYPE_NOT_ACCEPTED;
    int32_t w, h;
    REFERENCE_TIME duration;
    uint32_t ax, ay;
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    if (!m_decoder->PictureFormat(&w, &h, &duration, &ax, &ay) || !bmi || bmi->biWidth != w || bmi->biHeight != h)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMpegVideoOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    int32_t w, h;
    REFERENCE_TIME duration;
    uint32_t ax, ay;
    if (position > 1 || !m_decoder->PictureFormat(&w, &h, &duration, &ax, &ay))
        return VFW_S_NO_MORE_ITEMS;
    BitmapInfoHeader bmi;
    bmi.biWidth = w;
    bmi.biHeight = h;
    bmi.biBitCount = 12;
    bmi.biCompression = FourCC('Y', 'V', '1', '2');
    bmi.biSizeImage = uint32_t(w) * uint32_t(h) * 3 / 2;
    *type = CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_YV12, position == 0 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo);
    type->bFixedSizeSamples = true;
    type->lSampleSize = bmi.biSizeImage;
    if (position == 0) {
        VideoInfoHeader2 vih;
        vih.rcSource = vih.rcTarget = ZRect{0, 0, w, h};
        vih.AvgTimePerFrame = duration;
        vih.dwPictAspectRatioX = ax;
        vih.dwPictAspectRatioY = ay;
        vih.bmiHeader = bmi;
        type->SetFormat(&vih, sizeof vih);
    } else {
        VideoInfoHeader vih;
        vih.rcSource = vih.rcTarget = ZRect{0, 0, w, h};
        vih.AvgTimePerFrame = duration;
        vih.bmiHeader = bmi;
        type->SetFormat(&vih, sizeof vih);
    }
    return S_OK;
}

HRESULT CMpegVideoOutputPin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request)
{
    const CMediaType type = CurrentMediaType();
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    if (!bmi)
        return E_UNEXPECTED;
    AllocatorProperties asked;
    asked.cBuffers = std::max(4, request->cBuffers);
    asked.cbBuffer = int32_t(bmi->biSizeImage);
    asked.cbAlign = std::max(1, request->cbAlign);
    asked.cbPrefix = request->cbPrefix;
    return SetBufferProperties(allocator, asked);
}

// ---- Filter

CMpegVideoDecoder::CMpegVideoDecoder()
    : CBaseFilter("VideoDecoder", CLSID_MpegVideoDecoder),
      m_video(std::make_unique<CMpegVideoInputPin>(this)),
      m_subpicture(std::make_unique<CSubpictureInputPin>(this)),
      m_output(std::make_unique<CMpegVideoOutputPin>(this))
{
}

CMpegVideoDecoder::~CMpegVideoDecoder()
{
    std::lock_guard lock(m_decodeLock);
    CloseDecoderLocked();
}

CBasePin* CMpegVideoDecoder::GetPin(int n)
{
    switch (n) {
    case 0: return m_video.get();
    case 1: return m_subpicture.get();
    case 2: return m_output.get();
    default: return nullptr;
    }
}

HRESULT CMpegVideoDecoder::SetPalette(const uint32_t palette[16])
{
    if (!palette)
        return E_POINTER;
    m_subpictures.SetPalette(palette);
    return S_OK;
}

bool CMpegVideoDecoder::PictureFormat(int32_t* width, int32_t* height, REFERENCE_TIME* frameDuration,
                                      uint32_t* aspectX, uint32_t* aspectY)
{
    if (!m_video->IsConnected())
        return false;
    const CMediaType type = m_video->CurrentMediaType();
    SequenceHeader seq;
    const auto [bytes, count] = SequenceBytes(type);
    const bool haveSeq = bytes && ParseSequenceHeader(bytes, count, &seq);
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    int32_t w = bmi ? bmi->biWidth : 0, h = bmi ? std::abs(bmi->biHeight) : 0;
    if ((w <= 0 || h <= 0) && haveSeq) {
        w = seq.width;
        h = seq.height;
    }
    if (w <= 0 || h <= 0 || (w & 1) || (h & 1) || w > 4096 || h > 4096)
        return false;
    REFERENCE_TIME duration = 0;
    if (type.format.size() >= 48)
        std::memcpy(&duration, type.format.data() + offsetof(VideoInfoHeader, AvgTimePerFrame), 8);
    if (duration <= 0)
        duration = haveSeq && seq.frameDuration ? seq.frameDuration : 333667;
    uint32_t ax = uint32_t(w), ay = uint32_t(h);
    if (type.formattype == FORMAT_MPEG2Video && type.format.size() >= sizeof(VideoInfoHeader2)) {
        const VideoInfoHeader2* vih2 = type.FormatAs<VideoInfoHeader2>();
        if (vih2->dwPictAspectRatioX && vih2->dwPictAspectRatioY) {
            ax = vih2->dwPictAspectRatioX;
            ay = vih2->dwPictAspectRatioY;
        }
    }
    if (ax == uint32_t(w) && ay == uint32_t(h) && haveSeq) {
        if (seq.aspect == 2) {
            ax = 4;
            ay = 3;
        } else if (seq.aspect == 3) {
            ax = 16;
            ay = 9;
        }
    }
    *width = w;
    *height = h;
    *frameDuration = duration;
    *aspectX = ax;
    *aspectY = ay;
    return true;
}

HRESULT CMpegVideoDecoder::Pause()
{
    std::lock_guard lock(m_lock);
    if (State() == FilterState::Stopped && m_video->IsConnected()) {
        std::lock_guard decode(m_decodeLock);
        const HRESULT hr = OpenDecoderLocked();
        if (Failed(hr))
            return hr;
    }
    return CBaseFilter::Pause();
}

HRESULT CMpegVideoDecoder::Stop()
{
    std::lock_guard lock(m_lock);
    const HRESULT hr = CBaseFilter::Stop();  // inactive pins let a waiting delivery return
    std::lock_guard decode(m_decodeLock);    // wait for the Receive in progress
    CloseDecoderLocked();
    m_subpictures.Clear();
    return hr;
}

HRESULT CMpegVideoDecoder::OpenDecoderLocked()
{
    CloseDecoderLocked();
    const CMediaType type = m_video->CurrentMediaType();
    int32_t w, h;
    REFERENCE_TIME duration;
    uint32_t ax, ay;
    if (!PictureFormat(&w, &h, &duration, &ax, &ay))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const AVCodecID id = type.subtype == MEDIASUBTYPE_MPEG1Payload ? AV_CODEC_ID_MPEG1VIDEO : AV_CODEC_ID_MPEG2VIDEO;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec)
        return E_FAIL;
    m_ctx = avcodec_alloc_context3(codec);
    m_parser = av_parser_init(id);
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_ctx || !m_parser || !m_packet || !m_frame) {
        CloseDecoderLocked();
        return E_OUTOFMEMORY;
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    m_ctx->thread_count = int(std::min(cores, 16u));
    m_ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    m_ctx->error_concealment = FF_EC_GUESS_MVS | FF_EC_DEBLOCK;
    m_ctx->pkt_timebase = AVRational{1, 10000000};
    // The sequence header of the format block lets a stream that starts without one decode
    // from its first picture.
    const auto [bytes, count] = SequenceBytes(type);
    if (bytes && count) {
        m_ctx->extradata = static_cast<uint8_t*>(av_mallocz(count + AV_INPUT_BUFFER_PADDING_SIZE));
        if (m_ctx->extradata) {
            std::memcpy(m_ctx->extradata, bytes, count);
            m_ctx->extradata_size = int(count);
        }
    }
    if (avcodec_open2(m_ctx, codec, nullptr) < 0) {
        CloseDecoderLocked();
        return E_FAIL;
    }
    m_width = w;
    m_height = h;
    m_frameDuration = duration;
    m_haveLast = false;
    m_drained = false;
    return S_OK;
}

void CMpegVideoDecoder::CloseDecoderLocked()
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
    if (m_convert) {
        sws_freeContext(m_convert);
        m_convert = nullptr;
    }
}

void CMpegVideoDecoder::ResetDecoder()
{
    std::lock_guard decode(m_decodeLock);
    if (!m_ctx)
        return;
    avcodec_flush_buffers(m_ctx);
    if (m_parser) {
        av_parser_close(m_parser);
        m_parser = av_parser_init(m_ctx->codec_id);
    }
    m_haveLast = false;
    m_drained = false;
}

HRESULT CMpegVideoDecoder::ReceiveVideo(IMediaSample* sample)
{
    std::lock_guard decode(m_decodeLock);
    if (!m_ctx || !m_parser)
        return VFW_E_WRONG_STATE;
    if (m_drained) {
        avcodec_flush_buffers(m_ctx);
        m_drained = false;
    }
    uint8_t* data = nullptr;
    if (Failed(sample->GetPointer(&data)) || !data)
        return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0;
    const int64_t pts = Succeeded(sample->GetTime(&start, &stop)) ? start : kNoTime;
    // After a discontinuity the next stamp is taken as it is, even if it goes back.
    if (sample->IsDiscontinuity() == S_OK && pts != kNoTime)
        m_haveLast = false;
    return DecodeLocked(data, sample->GetActualDataLength(), pts);
}

HRESULT CMpegVideoDecoder::EndOfVideo()
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

HRESULT CMpegVideoDecoder::DecodeLocked(const uint8_t* data, int size, int64_t pts)
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
        pts = kNoTime;  // the stamp belongs to the picture that starts in this packet only
        if (outSize > 0) {
            m_packet->data = out;
            m_packet->size = outSize;
            m_packet->pts = m_parser->pts;
            m_packet->dts = kNoTime;
            // Corrupt data is concealed by the decoder; a refused packet is skipped.
            if (avcodec_send_packet(m_ctx, m_packet) == AVERROR(EAGAIN)) {
                result = DrainFramesLocked();
                avcodec_send_packet(m_ctx, m_packet);
            }
            av_packet_unref(m_packet);
            const HRESULT hr = DrainFramesLocked();
            if (hr != S_OK)
                result = hr;
        } else if (draining) {
            break;
        }
        if (result != S_OK)
            return result;
    } while (draining || size > 0);
    if (draining) {
        avcodec_send_packet(m_ctx, nullptr);
        result = DrainFramesLocked();
    }
    return result;
}

HRESULT CMpegVideoDecoder::DrainFramesLocked()
{
    for (;;) {
        const int err = avcodec_receive_frame(m_ctx, m_frame);
        if (err < 0)
            return S_OK;  // EAGAIN, end of stream, or a decoding error that was concealed
        const HRESULT hr = DeliverFrameLocked(m_frame);
        av_frame_unref(m_frame);
        if (hr != S_OK)
            return hr;
    }
}

HRESULT CMpegVideoDecoder::DeliverFrameLocked(AVFrame* frame)
{
    const REFERENCE_TIME duration = m_frameDuration * (2 + std::max(0, frame->repeat_pict)) / 2;
    const int64_t pts = frame->best_effort_timestamp != kNoTime ? frame->best_effort_timestamp : frame->pts;
    REFERENCE_TIME start;
    if (pts != kNoTime && (!m_haveLast || pts > m_lastStart))
        start = pts;
    else if (m_haveLast)
        start = m_nextTime;
    else
        start = 0;
    const REFERENCE_TIME stop = start + duration;
    m_haveLast = true;
    m_lastStart = start;
    m_nextTime = stop;

    if (!m_output->GetConnected())
        return S_OK;
    ComPtr<IMediaSample> sample;
    HRESULT hr = m_output->GetDeliveryBuffer(&sample);
    if (Failed(hr))
        return hr;
    uint8_t* dst = nullptr;
    sample->GetPointer(&dst);
    const int32_t w = m_width, h = m_height;
    const size_t size = size_t(w) * h * 3 / 2;
    if (!dst || size_t(sample->GetSize()) < size)
        return E_FAIL;

    uint8_t* planes[3] = {dst, dst + size_t(w) * h, dst + size_t(w) * h * 5 / 4};  // Y, V, U
    const int pitches[3] = {w, w / 2, w / 2};
    const bool planar420 = frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P;
    if (planar420 && frame->width == w && frame->height == h) {
        const int src[3] = {0, 2, 1};
        for (int p = 0; p < 3; ++p) {
            const int rows = p == 0 ? h : h / 2;
            for (int r = 0; r < rows; ++r)
                std::memcpy(planes[p] + size_t(r) * pitches[p],
                            frame->data[src[p]] + size_t(r) * frame->linesize[src[p]], size_t(pitches[p]));
        }
    } else {
        // Another layout or a size change on the stream: converted to the connected size.
        m_convert = sws_getCachedContext(m_convert, frame->width, frame->height, AVPixelFormat(frame->format), w, h,
                                         AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_convert)
            return S_OK;  // the picture is dropped
        uint8_t* dstPlanes[4] = {planes[0], planes[2], planes[1], nullptr};
        const int dstPitches[4] = {w, w / 2, w / 2, 0};
        sws_scale(m_convert, frame->data, frame->linesize, 0, frame->height, dstPlanes, dstPitches);
    }

    m_subpictures.Blend(start, dst, w, h);

    sample->SetActualDataLength(int32_t(size));
    REFERENCE_TIME t0 = start, t1 = stop;
    sample->SetTime(&t0, &t1);
    sample->SetSyncPoint(true);
    hr = m_output->Deliver(sample.Get());
    return hr == S_FALSE ? S_FALSE : (Failed(hr) ? hr : S_OK);
}
