// Pictures per second through the MPEG video decoder and the video conversion filter
// (720x480 to 640x480, Full Screen) on the video of a title's VOB, beside ffmpeg decoding and
// scaling the same file to 640x480 into a null output.
// Usage: decode-vs-ffmpeg FILE.VOB
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filters/MpegVideoDecoder.h"
#include "filters/TestFilters.h"
#include "filters/VideoConveFilter.h"
#include "filters/VobPackets.h"

using namespace zdrtest;

namespace {

// Counts the pictures that reach it and does nothing else.
class CountingPin : public CBaseInputPin {
public:
    explicit CountingPin(CBaseFilter* filter) : CBaseInputPin(filter, filter->FilterLock(), "In") {}
    HRESULT CheckMediaType(const CMediaType& type) override
    {
        return type.subtype == MEDIASUBTYPE_YV12 ? S_OK : S_FALSE;
    }
    HRESULT Receive(IMediaSample* sample) override
    {
        const HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr == S_OK)
            ++pictures;
        return hr;
    }
    int pictures = 0;  // streaming thread only, read after end of stream
};

class CountingSink : public CBaseFilter {
public:
    CountingSink() : CBaseFilter("Count", MakeGuid(0x7E570003, 0, 0, 0, 3)), pin(this) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin : nullptr; }
    CountingPin pin;
};

CMediaType Mpeg2Type(const std::vector<uint8_t>& es)
{
    std::vector<uint8_t> seq;
    for (size_t i = 0; i + 4 < es.size(); ++i) {
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xB3) {
            size_t j = i + 4;
            while (j + 4 < es.size() &&
                   !(es[j] == 0 && es[j + 1] == 0 && es[j + 2] == 1 && (es[j + 3] == 0xB8 || es[j + 3] == 0)))
                ++j;
            seq.assign(es.begin() + ptrdiff_t(i), es.begin() + ptrdiff_t(j));
            break;
        }
    }
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video);
    std::vector<uint8_t> block(offsetof(Mpeg2VideoInfo, dwSequenceHeader) + seq.size());
    Mpeg2VideoInfo info;  // sizes and rate come from the sequence header
    info.cbSequenceHeader = uint32_t(seq.size());
    std::memcpy(block.data(), &info, offsetof(Mpeg2VideoInfo, dwSequenceHeader));
    std::memcpy(block.data() + offsetof(Mpeg2VideoInfo, dwSequenceHeader), seq.data(), seq.size());
    mt.SetFormat(block.data(), block.size());
    return mt;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: decode-vs-ffmpeg FILE.VOB\n");
        return 2;
    }
    const std::string vob = argv[1];
    const std::vector<PesPacket> video = StreamPackets(ReadVobPackets(vob), 0xE000);
    if (video.empty()) {
        std::fprintf(stderr, "decode-vs-ffmpeg: no video in %s\n", vob.c_str());
        return 1;
    }
    std::vector<uint8_t> head;
    for (size_t i = 0; i < video.size() && head.size() < 65536; ++i)
        head.insert(head.end(), video[i].data.begin(), video[i].data.end());

    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSource> source = MakeCom<TestSource>(Mpeg2Type(head), 8, 65536);
    ComPtr<CMpegVideoDecoder> decoder = MakeCom<CMpegVideoDecoder>();
    ComPtr<CMyVideoConveFilter> conv = MakeCom<CMyVideoConveFilter>();
    ComPtr<CountingSink> sink = MakeCom<CountingSink>();
    graph->AddFilter(source.Get(), "Source");
    graph->AddFilter(decoder.Get(), "VideoDecoder");
    graph->AddFilter(conv.Get(), "VideoConver");
    graph->AddFilter(sink.Get(), "Count");
    conv->SetRects(ZoomFullScreen, ZRect{0, 0, 720, 480}, ZRect{0, 0, 640, 480});
    if (Failed(graph->ConnectDirect(source->Pin(), decoder->GetPin(0), nullptr)) ||
        Failed(graph->ConnectDirect(decoder->GetPin(2), conv->InputPin(), nullptr)) ||
        Failed(graph->ConnectDirect(conv->OutputPin(), &sink->pin, nullptr)) || Failed(graph->Pause())) {
        std::fprintf(stderr, "decode-vs-ffmpeg: the pipeline does not connect\n");
        return 1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    for (const PesPacket& p : video) {
        PushOptions when;
        if (p.timed)
            when.start = p.start;
        if (source->Push(p.data, when) != S_OK)
            break;
    }
    source->EndOfStream();
    const double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    graph->Stop();
    const int pictures = sink->pin.pictures;

    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -i '" + vob +
                            "' -an -sn -vf scale=640:480 -f null - ";
    const auto t1 = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    const double theirs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
    if (rc != 0) {
        std::fprintf(stderr, "decode-vs-ffmpeg: ffmpeg failed\n");
        return 1;
    }
    const double oursFps = pictures / ours, theirFps = pictures / theirs;
    std::printf("%d pictures: ours %.2f s, ffmpeg %.2f s\n", pictures, ours, theirs);
    std::printf("decode-vs-ffmpeg: ours %.1f fps, ffmpeg %.1f fps, ratio %.3f\n", oursFps, theirFps,
                oursFps / theirFps);
    return 0;
}
