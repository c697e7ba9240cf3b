// Demux throughput of a whole title: the DVD source and the MPEG splitter deliver every
// output into a sink that only counts bytes. Prints "ours <MB/s> MB/s" (megabytes of the
// title's program stream per second of wall time from opening the disc to the last end of
// stream).
//
// usage: demux-throughput DISC [TITLE]   (DISC: an ISO, a VIDEO_TS folder or the folder above)
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "demux/MpegSplitterFilter.h"
#include "dvd/DVDReader.h"
#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"
#include "graph/FilterGraph.h"

namespace {

class NullSinkFilter;

class NullSinkPin : public CBaseInputPin {
public:
    explicit NullSinkPin(NullSinkFilter* filter);
    HRESULT CheckMediaType(const CMediaType&) override { return S_OK; }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;

private:
    NullSinkFilter* m_sink;
};

// A renderer that drops what it gets and counts it.
class NullSinkFilter : public CBaseFilter {
public:
    NullSinkFilter() : CBaseFilter("Null Sink", GUID_NULL), m_pin(this) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    NullSinkPin* Pin() { return &m_pin; }

    void Add(int64_t bytes)
    {
        std::lock_guard<std::mutex> lock(m_lock2);
        m_bytes += bytes;
        ++m_samples;
    }
    void End()
    {
        {
            std::lock_guard<std::mutex> lock(m_lock2);
            m_ended = true;
        }
        m_changed.notify_all();
    }
    bool WaitForEnd(std::chrono::seconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_lock2);
        return m_changed.wait_for(lock, timeout, [this] { return m_ended; });
    }
    int64_t Bytes()
    {
        std::lock_guard<std::mutex> lock(m_lock2);
        return m_bytes;
    }

private:
    NullSinkPin m_pin;
    std::mutex m_lock2;  // guards the fields below
    std::condition_variable m_changed;
    int64_t m_bytes = 0;
    int64_t m_samples = 0;
    bool m_ended = false;
};

NullSinkPin::NullSinkPin(NullSinkFilter* filter) : CBaseInputPin(filter, filter->FilterLock(), "In"), m_sink(filter) {}

HRESULT NullSinkPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    m_sink->Add(sample->GetActualDataLength());
    return S_OK;
}

HRESULT NullSinkPin::EndOfStream()
{
    const HRESULT hr = CBaseInputPin::EndOfStream();
    m_sink->End();
    return hr;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DISC [TITLE]\n", argv[0]);
        return 2;
    }
    const int title = argc > 2 ? std::atoi(argv[2]) : 0;

    // Timed from opening the disc (the splitter's scan included) to the last end of stream.
    const auto begin = std::chrono::steady_clock::now();
    auto graph = MakeCom<CFilterGraph>();
    auto reader = MakeCom<CDVDReader>();
    if (reader->Load(argv[1], nullptr) != S_OK) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    reader->SetArea(title, -1);
    int64_t durationMs = 0;
    reader->GetDuration(&durationMs);
    auto splitter = MakeCom<CMpegSplitterFilter>();
    splitter->SetTitleStreams(&reader->DiscInfo().titles[title]);
    splitter->SetTimeWindow(0, durationMs + 60000, durationMs);
    graph->AddFilter(reader.Get(), "DVD");
    graph->AddFilter(splitter.Get(), "Splitter");
    if (Failed(graph->ConnectDirect(reader->GetPin(0), splitter->GetPin(0), nullptr))) {
        std::fprintf(stderr, "the splitter refused the title\n");
        return 1;
    }
    std::vector<ComPtr<NullSinkFilter>> sinks;
    for (int i = 0; i + 1 < splitter->GetPinCount(); ++i) {
        auto sink = MakeCom<NullSinkFilter>();
        graph->AddFilter(sink.Get(), "Sink " + std::to_string(i));
        graph->ConnectDirect(splitter->GetPin(i), sink->Pin(), nullptr);
        sinks.push_back(sink);
    }
    int64_t total = 0, available = 0;
    QueryInterface<IAsyncReader>(reader->GetPin(0))->Length(&total, &available);

    graph->Run();
    for (auto& sink : sinks)
        if (!sink->WaitForEnd(std::chrono::seconds(600))) {
            std::fprintf(stderr, "no end of stream\n");
            return 1;
        }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    graph->Stop();
    int64_t delivered = 0;
    for (auto& sink : sinks)
        delivered += sink->Bytes();
    std::fprintf(stderr, "title %d: %lld bytes read, %lld bytes delivered, %.3f s\n", title + 1,
                 static_cast<long long>(total), static_cast<long long>(delivered), seconds);
    std::printf("ours %.1f MB/s\n", double(total) / 1e6 / seconds);
    return 0;
}
