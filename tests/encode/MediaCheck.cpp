#include "MediaCheck.h"

#include <cstdio>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

const std::map<std::string, std::string>* ProbedFile::Stream(const std::string& type) const
{
    for (const auto& s : streams) {
        auto it = s.find("codec_type");
        if (it != s.end() && it->second == type)
            return &s;
    }
    return nullptr;
}

ProbedFile Probe(const std::string& file)
{
    ProbedFile result;
    const std::string command = "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,codec_name,width,height,sample_aspect_ratio,r_frame_rate,sample_rate,channels,"
        "nb_read_frames:format=format_name -of default=nw=0 '" + file + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char line[512];
    std::map<std::string, std::string>* current = nullptr;
    bool inFormat = false;
    while (fgets(line, sizeof line, pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (text == "[STREAM]") {
            result.streams.emplace_back();
            current = &result.streams.back();
        } else if (text == "[FORMAT]") {
            inFormat = true;
        } else if (text.rfind("[/", 0) == 0) {
            current = nullptr;
            inFormat = false;
        } else if (auto eq = text.find('='); eq != std::string::npos) {
            const std::string key = text.substr(0, eq);
            const std::string value = text.substr(eq + 1);
            if (current)
                (*current)[key] = value;
            else if (inFormat && key == "format_name")
                result.formatName = value;
        }
    }
    pclose(pipe);
    return result;
}

namespace {

struct StreamDecoder {
    int index = -1;
    AVCodecContext* codec = nullptr;
    AVRational timeBase{1, 1};
    long long lastPacketTime = 0;
    bool anyPacket = false;
    DecodedStream* out = nullptr;

    void Take(AVFrame* frame)
    {
        // A frame without a time stamp (some containers stamp only some packets) follows on.
        const long long pts = frame->best_effort_timestamp;
        const double start = pts != AV_NOPTS_VALUE ? pts * av_q2d(timeBase) : out->end;
        double duration = 0;
        if (codec->codec_type == AVMEDIA_TYPE_AUDIO) {
            duration = double(frame->nb_samples) / frame->sample_rate;
            out->samples += frame->nb_samples;
        } else {
            duration = frame->pkt_duration * av_q2d(timeBase);
            long long sum = 0;
            for (int y = 0; y < frame->height; ++y)
                for (int x = 0; x < frame->width; ++x)
                    sum += frame->data[0][y * frame->linesize[0] + x];
            out->lumaMeans.push_back(double(sum) / (frame->width * frame->height));
            out->pts.push_back(start);
        }
        if (out->frames == 0)
            out->firstPts = start;
        out->end = start + duration;
        ++out->frames;
    }
};

}  // namespace

DecodedFile Decode(const std::string& file)
{
    DecodedFile result;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, file.c_str(), nullptr, nullptr) < 0)
        return result;
    std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> inputGuard(&input, avformat_close_input);
    if (avformat_find_stream_info(input, nullptr) < 0)
        return result;

    StreamDecoder decoders[2];
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* st = input->streams[i];
        const bool video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        if (!video && st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        StreamDecoder& d = decoders[video ? 0 : 1];
        if (d.index >= 0)
            continue;
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec)
            return result;
        d.codec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(d.codec, st->codecpar);
        d.codec->pkt_timebase = st->time_base;
        d.codec->thread_count = 1;
        if (avcodec_open2(d.codec, codec, nullptr) < 0)
            return result;
        d.index = static_cast<int>(i);
        d.timeBase = st->time_base;
        d.out = video ? &result.video : &result.audio;
        d.out->present = true;
    }

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto receive = [&](StreamDecoder& d) {
        while (avcodec_receive_frame(d.codec, frame) >= 0) {
            d.Take(frame);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        for (auto& d : decoders) {
            if (d.index != packet->stream_index)
                continue;
            ++d.out->packets;
            const long long time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            if (time == AV_NOPTS_VALUE || (d.anyPacket && time <= d.lastPacketTime))
                d.out->packetTimesIncreasing = false;
            d.lastPacketTime = time;
            d.anyPacket = true;
            if (avcodec_send_packet(d.codec, packet) >= 0)
                receive(d);
        }
        av_packet_unref(packet);
    }
    for (auto& d : decoders) {
        if (d.index < 0)
            continue;
        avcodec_send_packet(d.codec, nullptr);
        receive(d);
        avcodec_free_context(&d.codec);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    result.ok = true;
    return result;
}
