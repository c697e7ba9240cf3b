#include "encode/OutputEncoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kMaxEncoderThreads = 16;

std::string AvErrorText(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

// The codec time base for a frame rate in thousandths: the two NTSC rates exactly, whole
// rates as 1/fps, any other rate as 1000/FrameRate reduced, so that frames spaced
// 1e10 / FrameRate (100 ns) apart by the sink keep their spacing in the file.
AVRational VideoTimeBaseFor(int frameRate)
{
    if (frameRate == 23976)
        return {1001, 24000};
    if (frameRate == 29970)
        return {1001, 30000};
    if (frameRate % 1000 == 0)
        return {1, frameRate / 1000};
    int num = 0;
    int den = 0;
    av_reduce(&num, &den, 1000, frameRate, INT32_MAX);
    return {num, den};
}

bool CodecThreads(const AVCodec* codec)
{
    return codec->capabilities
        & (AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS | AV_CODEC_CAP_OTHER_THREADS);
}

void NoFree(void*, uint8_t*)
{
}

}  // namespace

OutputEncoder::OutputEncoder()
    : m_ring(kAudioRingBytes)
{
}

OutputEncoder::~OutputEncoder()
{
    Close();
}

bool OutputEncoder::Fail(const std::string& text, const std::string& detail)
{
    if (!m_failed) {
        m_failed = true;
        m_error = text;
        m_errorDetail = detail;
    }
    return false;
}

bool OutputEncoder::FailAv(const std::string& text, const std::string& what, int averror)
{
    return Fail(text, what + ": " + AvErrorText(averror));
}

bool OutputEncoder::Open(const std::string& fileName, const FormatProfile& profile, int cpuUsagePercent)
{
    Close();
    m_failed = false;
    m_error.clear();
    m_errorDetail.clear();
    m_ring.Clear();
    m_videoFrames = 0;
    m_audioSamples = 0;
    m_audioPackets = 0;
    m_lastAudioPacketBytes = 0;
    m_videoZeroCopy = ZeroCopy::Unknown;
    m_audioPaddingFlushed = false;
    m_fileName = fileName;

    const std::string videoName = FieldText(profile.VideoCodecName);
    const std::string audioName = FieldText(profile.AudioCodecName);
    const bool wantVideo = profile.VideoEnabled && !videoName.empty();
    const bool wantAudio = profile.AudioEnabled && !audioName.empty();
    if (wantVideo && !avcodec_find_encoder_by_name(videoName.c_str()))
        return Fail("Unknown video encoder", "no FFmpeg encoder named '" + videoName + "'");
    if (wantAudio && !avcodec_find_encoder_by_name(audioName.c_str()))
        return Fail("Unknown audio encoder", "no FFmpeg encoder named '" + audioName + "'");
    if (!wantVideo && !wantAudio)
        return Fail("The profile has no video and no audio", "neither encoder is set");

    const AVOutputFormat* format = av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!format)
        return Fail("Unknown output format", "no container for the file name '" + fileName + "'");
    int ret = avformat_alloc_output_context2(&m_output, format, nullptr, fileName.c_str());
    if (ret < 0 || !m_output) {
        m_output = nullptr;
        return FailAv("Cannot create the output file", "avformat_alloc_output_context2", ret);
    }

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const int percent = std::clamp(cpuUsagePercent, 0, 100);
    const int threads = std::clamp(static_cast<int>(cores * percent / 100), 1, kMaxEncoderThreads);

    m_packet = av_packet_alloc();
    if (!m_packet) {
        Fail("Out of memory", "av_packet_alloc");
        Release();
        return false;
    }
    if ((wantVideo && !OpenVideo(profile, threads)) || (wantAudio && !OpenAudio(profile, threads))) {
        Release();
        return false;
    }

    if (!(m_output->oformat->flags & AVFMT_NOFILE)) {
        ret = avio_open(&m_output->pb, fileName.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            FailAv("Cannot create the output file", "open '" + fileName + "'", ret);
            Release();
            return false;
        }
        m_fileOpened = true;
    }
    ret = avformat_write_header(m_output, nullptr);
    if (ret >= 0 && m_output->pb) {
        // Flush so that a device with no room fails here, not at an arbitrary later packet.
        avio_flush(m_output->pb);
        ret = m_output->pb->error;
    }
    if (ret < 0) {
        FailAv("Cannot write the output file", "write header of '" + fileName + "'", ret);
        Release();
        std::remove(fileName.c_str());
        return false;
    }
    m_headerWritten = true;
    return true;
}

bool OutputEncoder::OpenVideo(const FormatProfile& profile, int threads)
{
    const std::string name = FieldText(profile.VideoCodecName);
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (profile.Width <= 0 || profile.Height <= 0 || (profile.Width & 1) || (profile.Height & 1))
        return Fail("Invalid picture size",
            "picture " + std::to_string(profile.Width) + "x" + std::to_string(profile.Height)
                + " (width and height must be even and positive)");
    if (profile.FrameRate < 1000)
        return Fail("Invalid frame rate", "FrameRate " + std::to_string(profile.FrameRate));
    m_width = profile.Width;
    m_height = profile.Height;

    m_videoStream = avformat_new_stream(m_output, nullptr);
    m_videoCodec = avcodec_alloc_context3(codec);
    if (!m_videoStream || !m_videoCodec)
        return Fail("Out of memory", "video stream");

    AVCodecContext* c = m_videoCodec;
    const AVPixelFormat pixelFormat = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    if (codec->id == AV_CODEC_ID_MJPEG)
        c->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->codec_id = codec->id;
    c->bit_rate = profile.VideoBitRate;
    c->width = profile.Width;
    c->height = profile.Height;
    c->time_base = VideoTimeBaseFor(profile.FrameRate);
    c->framerate = av_inv_q(c->time_base);
    c->gop_size = profile.FrameRate / 1000;
    c->pix_fmt = pixelFormat;
    c->max_b_frames = 0;
    c->sample_aspect_ratio = {1, 1};
    c->thread_count = CodecThreads(codec) ? threads : 1;
    if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    m_videoStream->sample_aspect_ratio = {1, 1};
    m_videoStream->time_base = c->time_base;

    if (pixelFormat != AV_PIX_FMT_YUV420P) {
        m_converter = sws_getContext(m_width, m_height, AV_PIX_FMT_YUV420P, m_width, m_height,
            pixelFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
        m_convertedPicture = av_frame_alloc();
        if (!m_converter || !m_convertedPicture)
            return Fail("Cannot convert the picture",
                std::string("no converter to ") + av_get_pix_fmt_name(pixelFormat));
        m_convertedPicture->format = pixelFormat;
        m_convertedPicture->width = m_width;
        m_convertedPicture->height = m_height;
        const int ret = av_frame_get_buffer(m_convertedPicture, 0);
        if (ret < 0)
            return FailAv("Out of memory", "converted picture", ret);
    } else {
        m_picturePool = av_buffer_pool_init(m_width * m_height * 3 / 2, nullptr);
        if (!m_picturePool)
            return Fail("Out of memory", "picture pool");
    }
    m_inputPicture = av_frame_alloc();
    if (!m_inputPicture)
        return Fail("Out of memory", "picture");

    int ret = avcodec_open2(c, codec, nullptr);
    if (ret < 0)
        return FailAv("Cannot open the video encoder", "open " + name, ret);
    ret = avcodec_parameters_from_context(m_videoStream->codecpar, c);
    if (ret < 0)
        return FailAv("Cannot open the video encoder", "parameters of " + name, ret);
    // A frame-threaded encoder hands each picture to a worker that may still hold it after
    // the call returns (or have just let it go, so the check in WriteVideo cannot tell).
    if ((codec->capabilities & AV_CODEC_CAP_FRAME_THREADS) && c->thread_count > 1
        && (c->thread_type & FF_THREAD_FRAME))
        m_videoZeroCopy = ZeroCopy::No;
    return true;
}

bool OutputEncoder::OpenAudio(const FormatProfile& profile, int threads)
{
    const std::string name = FieldText(profile.AudioCodecName);
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (profile.SampleRate <= 0 || profile.Channel <= 0 || profile.Channel > 8)
        return Fail("Invalid audio format",
            "SampleRate " + std::to_string(profile.SampleRate) + ", Channel "
                + std::to_string(profile.Channel));

    m_audioStream = avformat_new_stream(m_output, nullptr);
    m_audioCodec = avcodec_alloc_context3(codec);
    if (!m_audioStream || !m_audioCodec)
        return Fail("Out of memory", "audio stream");

    AVCodecContext* c = m_audioCodec;
    c->codec_type = AVMEDIA_TYPE_AUDIO;
    c->codec_id = codec->id;
    c->bit_rate = profile.AudioBitRate;
    c->sample_rate = profile.SampleRate;
    c->time_base = {1, profile.SampleRate};
    av_channel_layout_default(&c->ch_layout, profile.Channel);
    if (codec->ch_layouts) {
        // Prefer the default layout; else any layout the encoder lists with that many channels.
        bool found = false;
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l)
            found = found || !av_channel_layout_compare(l, &c->ch_layout);
        for (const AVChannelLayout* l = codec->ch_layouts; !found && l->nb_channels; ++l) {
            if (l->nb_channels == profile.Channel) {
                av_channel_layout_uninit(&c->ch_layout);
                av_channel_layout_copy(&c->ch_layout, l);
                found = true;
            }
        }
    }
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_S16;
    if (codec->sample_fmts) {
        sampleFormat = codec->sample_fmts[0];
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == AV_SAMPLE_FMT_S16)
                sampleFormat = AV_SAMPLE_FMT_S16;
    }
    c->sample_fmt = sampleFormat;
    c->thread_count = CodecThreads(codec) ? threads : 1;
    if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    m_audioStream->time_base = c->time_base;

    int ret = avcodec_open2(c, codec, nullptr);
    if (ret < 0)
        return FailAv("Cannot open the audio encoder", "open " + name, ret);
    ret = avcodec_parameters_from_context(m_audioStream->codecpar, c);
    if (ret < 0)
        return FailAv("Cannot open the audio encoder", "parameters of " + name, ret);

    m_audioBlockAlign = 2 * c->ch_layout.nb_channels;
    m_audioFrameBytes = c->frame_size > 0 ? c->frame_size * m_audioBlockAlign : 0;
    if (static_cast<size_t>(m_audioFrameBytes) > m_ring.Capacity())
        return Fail("Cannot open the audio encoder", name + ": frame larger than the audio ring");
    const int frameBufferBytes = m_audioFrameBytes ? m_audioFrameBytes : static_cast<int>(m_ring.Capacity());
    m_frameBuffer = static_cast<uint8_t*>(av_malloc(frameBufferBytes));
    m_audioFrame = av_frame_alloc();
    if (!m_frameBuffer || !m_audioFrame)
        return Fail("Out of memory", "audio frame");

    if (sampleFormat != AV_SAMPLE_FMT_S16) {
        ret = swr_alloc_set_opts2(&m_resampler, &c->ch_layout, sampleFormat, c->sample_rate,
            &c->ch_layout, AV_SAMPLE_FMT_S16, c->sample_rate, 0, nullptr);
        if (ret >= 0)
            ret = swr_init(m_resampler);
        if (ret < 0)
            return FailAv("Cannot open the audio encoder",
                std::string("sample conversion to ") + av_get_sample_fmt_name(sampleFormat), ret);
    }
    return true;
}

int OutputEncoder::WriteVideo(const uint8_t* picture)
{
    if (!m_videoCodec || m_failed || !picture)
        return -1;
    const int lumaBytes = m_width * m_height;
    const int chromaBytes = (m_width / 2) * (m_height / 2);
    const int pictureBytes = lumaBytes + 2 * chromaBytes;
    // YV12: luma, then V, then U.
    const uint8_t* planes[3] = {picture, picture + lumaBytes + chromaBytes, picture + lumaBytes};
    const int strides[3] = {m_width, m_width / 2, m_width / 2};

    if (m_converter) {
        // The encoder may still hold the previous converted picture: write into a fresh one then
        // (nothing of the old one is needed, so no copy as av_frame_make_writable would make).
        int ret = 0;
        if (!av_frame_is_writable(m_convertedPicture)) {
            const int format = m_convertedPicture->format;
            av_frame_unref(m_convertedPicture);
            m_convertedPicture->format = format;
            m_convertedPicture->width = m_width;
            m_convertedPicture->height = m_height;
            ret = av_frame_get_buffer(m_convertedPicture, 0);
        }
        if (ret < 0) {
            FailAv("Out of memory", "converted picture", ret);
            return -1;
        }
        sws_scale(m_converter, planes, strides, 0, m_height, m_convertedPicture->data,
            m_convertedPicture->linesize);
        return SendVideo(m_convertedPicture) ? 0 : -1;
    }

    AVFrame* frame = m_inputPicture;
    av_frame_unref(frame);
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = m_width;
    frame->height = m_height;
    AVBufferRef* buffer = nullptr;
    if (m_videoZeroCopy == ZeroCopy::Yes) {
        buffer = av_buffer_create(const_cast<uint8_t*>(picture), pictureBytes, NoFree, nullptr,
            AV_BUFFER_FLAG_READONLY);
    } else {
        buffer = av_buffer_pool_get(m_picturePool);
        if (buffer)
            std::memcpy(buffer->data, picture, pictureBytes);
    }
    if (!buffer) {
        Fail("Out of memory", "picture buffer");
        return -1;
    }
    frame->buf[0] = buffer;
    for (int i = 0; i < 3; ++i) {
        frame->data[i] = buffer->data + (planes[i] - picture);
        frame->linesize[i] = strides[i];
    }
    const bool sent = SendVideo(frame);
    // Whoever still references the buffer after the encoder returned keeps it past this call.
    const bool held = av_buffer_get_ref_count(frame->buf[0]) > 1;
    if (m_videoZeroCopy == ZeroCopy::Unknown) {
        m_videoZeroCopy = held ? ZeroCopy::No : ZeroCopy::Yes;
    } else if (m_videoZeroCopy == ZeroCopy::Yes && held) {
        av_log(m_videoCodec, AV_LOG_WARNING, "encoder kept a caller's picture; copying from now on\n");
        m_videoZeroCopy = ZeroCopy::No;
    }
    av_frame_unref(frame);
    return sent ? 0 : -1;
}

bool OutputEncoder::SendVideo(AVFrame* frame)
{
    frame->pts = m_videoFrames;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    const int ret = avcodec_send_frame(m_videoCodec, frame);
    if (ret < 0)
        return FailAv("Cannot encode the video", "send picture", ret);
    ++m_videoFrames;
    return WritePackets(m_videoCodec, m_videoStream);
}

int OutputEncoder::WriteAudio(const uint8_t* bytes, int length)
{
    if (!m_audioCodec || m_failed || length < 0 || (length > 0 && !bytes))
        return -1;
    size_t remaining = static_cast<size_t>(length);
    while (remaining > 0) {
        const size_t taken = m_ring.Write(bytes, remaining);
        bytes += taken;
        remaining -= taken;
        if (!EncodeHeldAudio(false))
            return -1;
        if (taken == 0 && m_ring.Free() == 0) {
            Fail("Cannot encode the audio", "audio ring full");
            return -1;
        }
    }
    return 0;
}

bool OutputEncoder::EncodeHeldAudio(bool final)
{
    if (m_audioFrameBytes > 0) {
        const int frameSamples = m_audioFrameBytes / m_audioBlockAlign;
        while (m_ring.Held() >= static_cast<size_t>(m_audioFrameBytes)) {
            m_ring.Read(m_frameBuffer, m_audioFrameBytes);
            if (!SendAudio(m_frameBuffer, frameSamples))
                return false;
        }
        if (!final)
            return true;
        const int caps = m_audioCodec->codec->capabilities;
        if (!(caps & AV_CODEC_CAP_DELAY) && m_audioCodec->initial_padding > 0 && !m_audioPaddingFlushed) {
            // Such an encoder's output lags its input by initial_padding samples and it
            // cannot be drained: push that much silence through so the last input comes out.
            m_audioPaddingFlushed = true;
            std::vector<uint8_t> silence(static_cast<size_t>(m_audioCodec->initial_padding) * m_audioBlockAlign);
            size_t done = 0;
            while (done < silence.size()) {
                done += m_ring.Write(silence.data() + done, silence.size() - done);
                if (!EncodeHeldAudio(false))
                    return false;
            }
        }
        const int samples = static_cast<int>(m_ring.Held()) / m_audioBlockAlign;
        const int bytes = samples * m_audioBlockAlign;
        m_ring.Read(m_frameBuffer, bytes);
        m_ring.Clear();  // a partial sample cannot be encoded
        if (samples == 0)
            return true;
        if (caps & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
            return SendAudio(m_frameBuffer, samples);
        std::memset(m_frameBuffer + bytes, 0, m_audioFrameBytes - bytes);  // silence
        return SendAudio(m_frameBuffer, frameSamples);
    }
    // Any frame length: everything held, in whole samples, is one frame.
    const int samples = static_cast<int>(m_ring.Held()) / m_audioBlockAlign;
    if (samples > 0) {
        m_ring.Read(m_frameBuffer, samples * m_audioBlockAlign);
        if (!SendAudio(m_frameBuffer, samples))
            return false;
    }
    if (final)
        m_ring.Clear();
    return true;
}

bool OutputEncoder::SendAudio(const uint8_t* pcm, int samples)
{
    AVFrame* frame = m_audioFrame;
    av_frame_unref(frame);
    frame->format = m_audioCodec->sample_fmt;
    frame->sample_rate = m_audioCodec->sample_rate;
    frame->nb_samples = samples;
    int ret = av_channel_layout_copy(&frame->ch_layout, &m_audioCodec->ch_layout);
    if (ret >= 0)
        ret = av_frame_get_buffer(frame, 0);
    if (ret < 0)
        return FailAv("Out of memory", "audio frame", ret);
    if (m_resampler) {
        const uint8_t* in[1] = {pcm};
        ret = swr_convert(m_resampler, frame->data, samples, in, samples);
        if (ret < 0)
            return FailAv("Cannot encode the audio", "sample conversion", ret);
    } else {
        std::memcpy(frame->data[0], pcm, static_cast<size_t>(samples) * m_audioBlockAlign);
    }
    frame->pts = m_audioSamples;
    ret = avcodec_send_frame(m_audioCodec, frame);
    av_frame_unref(frame);
    if (ret < 0)
        return FailAv("Cannot encode the audio", "send audio frame", ret);
    m_audioSamples += samples;
    return WritePackets(m_audioCodec, m_audioStream);
}

bool OutputEncoder::WritePackets(AVCodecContext* codec, AVStream* stream)
{
    for (;;) {
        int ret = avcodec_receive_packet(codec, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0)
            return FailAv(codec == m_videoCodec ? "Cannot encode the video" : "Cannot encode the audio",
                "receive packet", ret);
        if (codec == m_audioCodec) {
            ++m_audioPackets;
            m_lastAudioPacketBytes = m_packet->size;
        } else if (m_packet->duration == 0) {
            m_packet->duration = 1;
        }
        av_packet_rescale_ts(m_packet, codec->time_base, stream->time_base);
        m_packet->stream_index = stream->index;
        ret = av_interleaved_write_frame(m_output, m_packet);
        if (ret >= 0 && m_output->pb && m_output->pb->error < 0)
            ret = m_output->pb->error;
        if (ret < 0) {
            av_packet_unref(m_packet);
            return FailAv("Cannot write the output file", "write packet to '" + m_fileName + "'", ret);
        }
    }
}

bool OutputEncoder::Drain(AVCodecContext* codec, AVStream* stream)
{
    const int ret = avcodec_send_frame(codec, nullptr);
    if (ret < 0 && ret != AVERROR_EOF)
        return FailAv("Cannot encode the output", "drain encoder", ret);
    return WritePackets(codec, stream);
}

bool OutputEncoder::Close()
{
    if (!m_output) {
        Release();
        return true;
    }
    if (m_headerWritten) {
        if (!m_failed && m_videoCodec)
            Drain(m_videoCodec, m_videoStream);
        if (!m_failed && m_audioCodec && EncodeHeldAudio(true))
            Drain(m_audioCodec, m_audioStream);
        // The trailer also when a write failed: it completes whatever reached the file.
        int ret = av_write_trailer(m_output);
        if (ret >= 0 && m_output->pb) {
            avio_flush(m_output->pb);
            ret = m_output->pb->error;
        }
        if (ret < 0)
            FailAv("Cannot write the output file", "write trailer of '" + m_fileName + "'", ret);
    }
    if (m_fileOpened) {
        const int ret = avio_closep(&m_output->pb);
        if (ret < 0)
            FailAv("Cannot write the output file", "close '" + m_fileName + "'", ret);
    }
    const bool ok = !m_failed;
    Release();
    return ok;
}

void OutputEncoder::Release()
{
    avcodec_free_context(&m_videoCodec);
    avcodec_free_context(&m_audioCodec);
    if (m_output) {
        if (m_fileOpened)
            avio_closep(&m_output->pb);
        avformat_free_context(m_output);
        m_output = nullptr;
    }
    m_fileOpened = false;
    m_headerWritten = false;
    m_videoStream = nullptr;
    m_audioStream = nullptr;
    av_packet_free(&m_packet);
    sws_freeContext(m_converter);
    m_converter = nullptr;
    av_frame_free(&m_convertedPicture);
    av_frame_free(&m_inputPicture);
    av_buffer_pool_uninit(&m_picturePool);
    swr_free(&m_resampler);
    av_frame_free(&m_audioFrame);
    av_freep(&m_frameBuffer);
    m_audioFrameBytes = 0;
    m_audioBlockAlign = 0;
    m_width = 0;
    m_height = 0;
    m_ring.Clear();
}

EncoderRational OutputEncoder::VideoTimeBase() const
{
    if (!m_videoCodec)
        return {};
    return {m_videoCodec->time_base.num, m_videoCodec->time_base.den};
}

int OutputEncoder::VideoGopSize() const
{
    return m_videoCodec ? m_videoCodec->gop_size : 0;
}

int OutputEncoder::VideoThreadCount() const
{
    return m_videoCodec ? m_videoCodec->thread_count : 0;
}
