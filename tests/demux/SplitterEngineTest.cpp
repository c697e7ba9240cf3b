// The demux engine on a scripted format: packet queues and merging, routing, discontinuity
// after seeks, the once-per-seek rule, flow control across pins, refusing and blocked
// downstream pins, media-type changes, and the seeking interface.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "demux/BaseSplitterFilter.h"
#include "graph/FilterGraph.h"
#include "harness/RecordingSink.h"

namespace {

using namespace std::chrono_literals;

const CMediaType kVideoType{MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_None};
const CMediaType kAudioType{MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3, FORMAT_None};
const CMediaType kSubpictureType{MEDIATYPE_Video, MEDIASUBTYPE_DVD_SUBPICTURE, FORMAT_None};

struct ScriptPacket {
    StreamKey key;
    int64_t start;  // NoTime for none
    size_t size;
    bool appendable = false;
};

// A format whose demux loop routes a fixed script of packets, starting at the first packet
// at or after the seek time, and records what the engine asked of it.
class ScriptedSplitter : public CBaseSplitterFilter {
public:
    struct Output {
        StreamKey key;
        CMediaType type;
        const char* name;
    };
    ScriptedSplitter(std::vector<Output> outputs, std::vector<ScriptPacket> script)
        : CBaseSplitterFilter("Scripted Splitter", GUID_NULL), m_script(std::move(script))
    {
        for (const Output& o : outputs) {
            HRESULT hr = S_OK;
            RegisterOutput(o.key, std::make_unique<CBaseSplitterOutputPin>(std::vector<CMediaType>{o.type}, o.name,
                                                                          this, &hr));
        }
        m_duration.store(100000000);
        m_stopTime.store(100000000);
        m_requestedStop.store(100000000);
    }

    std::atomic<int> seeks{0};
    std::atomic<int64_t> lastSeek{-1};
    std::atomic<size_t> routed{0};  // script packets handed to RoutePacket in the last pass
    std::vector<HRESULT> routeResults;  // worker thread; read after Stop

protected:
    HRESULT BuildOutputs(IAsyncReader*) override { return S_OK; }
    bool PrepareDemux() override { return true; }
    void SeekDemux(int64_t rt) override
    {
        ++seeks;
        lastSeek = rt;
        m_next = 0;
        while (m_next < m_script.size() && m_script[m_next].start != NoTime && m_script[m_next].start < rt)
            ++m_next;
    }
    bool RunDemux() override
    {
        routed = 0;
        for (; m_next < m_script.size() && !CommandPending(); ++m_next) {
            const ScriptPacket& s = m_script[m_next];
            auto p = std::make_unique<Packet>();
            p->trackNumber = s.key;
            p->startTime = s.start;
            p->endTime = s.start == NoTime ? NoTime : s.start + 1;
            p->syncPoint = s.start != NoTime;
            p->appendable = s.appendable;
            p->data.assign(s.size, uint8_t(m_next));
            const HRESULT hr = RoutePacket(std::move(p));
            routeResults.push_back(hr);
            ++routed;
            if (Failed(hr))
                break;
        }
        return true;
    }

private:
    std::vector<ScriptPacket> m_script;
    size_t m_next = 0;  // worker thread
};

// A graph with the scripted splitter and one recording sink per output.
struct Rig {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<ScriptedSplitter> splitter;
    std::vector<ComPtr<RecordingSinkFilter>> sinks;

    Rig(std::vector<ScriptedSplitter::Output> outputs, std::vector<ScriptPacket> script,
        std::function<void(RecordingSinkFilter&, size_t)> setup = nullptr)
    {
        splitter = MakeCom<ScriptedSplitter>(outputs, std::move(script));
        graph->AddFilter(splitter.Get(), "Splitter");
        for (size_t i = 0; i < outputs.size(); ++i) {
            auto sink = MakeCom<RecordingSinkFilter>();
            if (setup)
                setup(*sink, i);
            graph->AddFilter(sink.Get(), "Sink " + std::to_string(i));
            EXPECT_EQ(graph->ConnectDirect(splitter->GetPin(int(i)), sink->Pin(), nullptr), S_OK);
            sinks.push_back(sink);
        }
    }
    ~Rig() { graph->Stop(); }
};

std::vector<ScriptPacket> Interleaved(int perStream, std::vector<StreamKey> keys, size_t size = 100)
{
    std::vector<ScriptPacket> s;
    for (int i = 0; i < perStream; ++i)
        for (StreamKey k : keys)
            s.push_back({k, int64_t(i) * 1000000, size});
    return s;
}

TEST(PacketFifo, MergesSmallUntimedAppendablePacketsIntoATimedTail)
{
    struct Case {
        const char* what;
        bool tailTimed;
        bool appendable, discontinuity, withType, timed;
        bool emptyQueue;
        size_t expectedCount;
    };
    const Case cases[] = {
        {"untimed appendable after a timed tail", true, true, false, false, false, false, 1},
        {"tail without a time", false, true, false, false, false, false, 2},
        {"not appendable", true, false, false, false, false, false, 2},
        {"with the discontinuity flag", true, true, true, false, false, false, 2},
        {"announcing a media type", true, true, false, true, false, false, 2},
        {"with a start time", true, true, false, false, true, false, 2},
        {"into an empty queue", true, true, false, false, false, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PacketFifo q;
        if (!c.emptyQueue) {
            auto tail = std::make_unique<Packet>();
            tail->data.assign(10, 1);
            tail->startTime = c.tailTimed ? 5 : NoTime;
            q.Push(std::move(tail));
        }
        auto p = std::make_unique<Packet>();
        p->data.assign(7, 2);
        p->appendable = c.appendable;
        p->discontinuity = c.discontinuity;
        if (c.withType)
            p->mediaType = std::make_unique<CMediaType>(kAudioType);
        p->startTime = c.timed ? 9 : NoTime;
        q.Push(std::move(p));
        EXPECT_EQ(q.Count(), c.expectedCount);
        EXPECT_EQ(q.Bytes(), c.emptyQueue ? 7 : 17);

        // What comes out is every byte in order.
        std::vector<uint8_t> all;
        std::unique_ptr<Packet> out;
        while (q.Pop(&out))
            all.insert(all.end(), out->data.begin(), out->data.end());
        std::vector<uint8_t> expected;
        if (!c.emptyQueue)
            expected.assign(10, 1);
        expected.insert(expected.end(), 7, 2);
        EXPECT_EQ(all, expected);
        EXPECT_EQ(q.Bytes(), 0);
    }
}

TEST(PacketFifo, EndOfStreamIsANullEntryAndClearEmptiesTheTotal)
{
    PacketFifo q;
    auto p = std::make_unique<Packet>();
    p->data.assign(3, 0);
    q.Push(std::move(p));
    q.Push(nullptr);
    EXPECT_EQ(q.Count(), 2u);
    std::unique_ptr<Packet> out;
    ASSERT_TRUE(q.Pop(&out));
    ASSERT_TRUE(out);
    ASSERT_TRUE(q.Pop(&out));
    EXPECT_FALSE(out);
    EXPECT_FALSE(q.Pop(&out));
    q.Push(std::make_unique<Packet>());
    q.Clear();
    EXPECT_EQ(q.Count(), 0u);
    EXPECT_EQ(q.Bytes(), 0);
}

TEST(SplitterSeeking, CapabilitiesTimeFormatAndRate)
{
    auto splitter = MakeCom<ScriptedSplitter>(std::vector<ScriptedSplitter::Output>{}, std::vector<ScriptPacket>{});
    uint32_t caps = 0;
    ASSERT_EQ(splitter->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, 0x37u);

    struct CapCase {
        uint32_t asked;
        HRESULT result;
    };
    for (const CapCase& c : {CapCase{0, S_OK}, CapCase{0x37, S_OK}, CapCase{0x01, S_FALSE}, CapCase{0x3F, S_FALSE},
                             CapCase{0x08, E_FAIL}, CapCase{0x40, E_FAIL}}) {
        uint32_t asked = c.asked;
        EXPECT_EQ(splitter->CheckCapabilities(&asked), c.result) << std::hex << c.asked;
    }

    EXPECT_EQ(splitter->IsFormatSupported(TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(splitter->IsFormatSupported(FORMAT_None), S_FALSE);
    EXPECT_EQ(splitter->SetTimeFormat(TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(splitter->SetTimeFormat(FORMAT_None), E_INVALIDARG);
    int64_t target = 0;
    EXPECT_EQ(splitter->ConvertTimeFormat(&target, nullptr, 0, nullptr), E_NOTIMPL);

    struct RateCase {
        double rate;
        HRESULT result;
        double after;
    };
    for (const RateCase& c : {RateCase{0.0, E_INVALIDARG, 1.0}, RateCase{-1.0, E_INVALIDARG, 1.0},
                              RateCase{2.0, S_OK, 2.0}, RateCase{-0.5, E_INVALIDARG, 2.0}}) {
        EXPECT_EQ(splitter->SetRate(c.rate), c.result) << c.rate;
        double now = 0;
        splitter->GetRate(&now);
        EXPECT_EQ(now, c.after);
    }
    int64_t duration = 0, stop = 0, earliest = -1, latest = 0, preroll = -1;
    splitter->GetDuration(&duration);
    splitter->GetStopPosition(&stop);
    splitter->GetAvailable(&earliest, &latest);
    splitter->GetPreroll(&preroll);
    EXPECT_EQ(duration, 100000000);
    EXPECT_EQ(stop, duration);
    EXPECT_EQ(earliest, 0);
    EXPECT_EQ(latest, duration);
    EXPECT_EQ(preroll, 0);
    uint32_t frames = 0;
    EXPECT_EQ(splitter->GetKeyFrameCount(&frames), E_NOTIMPL);
    EXPECT_FALSE(QueryInterface<IFileSourceFilter>(splitter.Get()));
}

TEST(SplitterEngine, DeliversEveryStreamInOrderWithDiscontinuityOnlyOnEachFirstPacket)
{
    std::vector<ScriptPacket> script = Interleaved(20, {0xE0, 0xBD80});
    script.insert(script.begin() + 5, {0x4444, 0, 50});  // a stream without a pin
    Rig rig({{0xE0, kVideoType, "Video"}, {0xBD80, kAudioType, "Audio"}}, script);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    for (auto& sink : rig.sinks)
        ASSERT_TRUE(sink->WaitForEndOfStream());

    for (auto& sink : rig.sinks) {
        const auto samples = sink->Samples();
        ASSERT_EQ(samples.size(), 20u);
        for (size_t i = 0; i < samples.size(); ++i) {
            EXPECT_EQ(samples[i].start, int64_t(i) * 1000000);
            EXPECT_EQ(samples[i].discontinuity, i == 0) << i;
            EXPECT_TRUE(samples[i].syncPoint);
            EXPECT_EQ(samples[i].size, 100);
        }
    }
    // 100-byte packets every 0.1 s: the first measurement closes at 1.1 s over 12 packets.
    for (auto* pin : rig.splitter->Outputs()) {
        EXPECT_EQ(pin->CurrentBitrate(), 1200 * 8 * 10000000LL / 11000000);
        EXPECT_EQ(pin->AverageBitrate(), pin->CurrentBitrate());
    }
    rig.graph->Stop();
    const auto& results = rig.splitter->routeResults;
    ASSERT_GT(results.size(), 5u);
    EXPECT_EQ(results[5], S_FALSE) << "the unpinned stream's packet is dropped, not an error";
    EXPECT_EQ(std::count(results.begin(), results.end(), S_OK), 40);
}

TEST(SplitterEngine, ASeekRestartsEveryStreamWithOneDiscontinuityAndTimesFromTheSeek)
{
    Rig rig({{0xE0, kVideoType, "Video"}, {0xBD80, kAudioType, "Audio"}}, Interleaved(20, {0xE0, 0xBD80}));
    ASSERT_EQ(rig.graph->Pause(), S_OK);
    for (auto& sink : rig.sinks)
        ASSERT_TRUE(sink->WaitForEndOfStream());
    for (auto& sink : rig.sinks)
        sink->Clear();

    int64_t at = 10000000;
    ASSERT_EQ(rig.splitter->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
              S_OK);
    for (auto& sink : rig.sinks) {
        ASSERT_TRUE(sink->WaitForEndOfStream());
        const auto samples = sink->Samples();
        ASSERT_EQ(samples.size(), 10u);
        for (size_t i = 0; i < samples.size(); ++i) {
            EXPECT_EQ(samples[i].start, int64_t(i) * 1000000) << "times count from the seek";
            EXPECT_EQ(samples[i].discontinuity, i == 0);
        }
        bool flushed = false;
        for (const auto& item : sink->Items())
            flushed = flushed || item.kind == RecordedItem::Kind::BeginFlush;
        EXPECT_TRUE(flushed);
    }
}

TEST(SplitterEngine, TheSameSeekFromSeveralPinsRunsOnce)
{
    Rig rig({{0xE0, kVideoType, "Video"}, {0xBD80, kAudioType, "Audio"}}, Interleaved(5, {0xE0, 0xBD80}));
    ASSERT_EQ(rig.graph->Pause(), S_OK);
    for (auto& sink : rig.sinks)
        ASSERT_TRUE(sink->WaitForEndOfStream());
    ASSERT_EQ(rig.splitter->seeks.load(), 1);

    auto video = QueryInterface<IMediaSeeking>(rig.splitter->GetPin(0));
    auto audio = QueryInterface<IMediaSeeking>(rig.splitter->GetPin(1));
    ASSERT_TRUE(video && audio);
    struct Step {
        IMediaSeeking* from;
        int64_t at;
        int seeksAfter;
    };
    const Step steps[] = {
        {video.Get(), 2000000, 2},  // executed
        {audio.Get(), 2000000, 2},  // the same seek through another pin: once
        {video.Get(), 2000000, 3},  // the same caller again: a new seek
        {audio.Get(), 3000000, 4},  // another position
    };
    for (const Step& s : steps) {
        for (auto& sink : rig.sinks)
            sink->Clear();
        const int before = rig.splitter->seeks.load();
        int64_t at = s.at;
        EXPECT_EQ(s.from->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
        EXPECT_EQ(rig.splitter->seeks.load(), s.seeksAfter) << s.at;
        EXPECT_EQ(rig.splitter->lastSeek.load(), s.at);
        // Let an executed seek play to the end, so that the position moves on from it.
        if (s.seeksAfter > before) {
            for (auto& sink : rig.sinks)
                ASSERT_TRUE(sink->WaitForEndOfStream());
        }
    }
    int64_t current = 0, stop = 0;
    rig.splitter->GetPositions(&current, &stop);
    EXPECT_EQ(stop, 100000000);
    // Nothing to do: both positions absent, or no positioning.
    EXPECT_EQ(rig.splitter->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_EQ(rig.splitter->seeks.load(), 4);
}

TEST(SplitterEngine, SparsePinsDoNotCountAsRunningDry)
{
    // Video is blocked downstream; the second pin never gets packets. A subpicture pin may
    // stay empty: the demux thread stops at the queue limit (2 MiB in all). An empty audio pin counts as
    // running dry, so the demux thread keeps filling the video queue.
    struct Case {
        const char* what;
        CMediaType secondType;
        bool waits;
    };
    const Case cases[] = {
        {"subpicture", kSubpictureType, true},
        {"audio", kAudioType, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<ScriptPacket> script;
        for (int i = 0; i < 4000; ++i)
            script.push_back({0xE0, int64_t(i) * 1000, 1000});
        Rig rig({{0xE0, kVideoType, "Video"}, {0xBD20, c.secondType, "Other"}}, script,
                [](RecordingSinkFilter& s, size_t i) {
                    if (i == 0)
                        s.SetGate(false);
                });
        ASSERT_EQ(rig.graph->Pause(), S_OK);
        ASSERT_TRUE(rig.sinks[0]->WaitForBlocked());
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        if (c.waits) {
            while (rig.splitter->routed.load() < 2000 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(5ms);
            std::this_thread::sleep_for(250ms);  // give it the chance to go on
            EXPECT_LE(rig.splitter->routed.load(), 2100u);
            int32_t samples = 0, size = 0;
            EXPECT_EQ(rig.splitter->GetStatus(0, &samples, &size), S_OK);
            EXPECT_GE(size, 2097152 - 2000);
            EXPECT_LE(size, 2097152 + 1000);
            EXPECT_EQ(rig.splitter->GetStatus(2, &samples, &size), E_INVALIDARG);
        } else {
            while (rig.splitter->routed.load() < 4000 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(5ms);
            EXPECT_EQ(rig.splitter->routed.load(), 4000u);
        }
        // Stop frees the blocked delivery and the waiting demux thread.
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(rig.graph->Stop(), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    }
}

TEST(SplitterEngine, APinThatRefusesSamplesLeavesTheOthersRunning)
{
    struct Case {
        const char* what;
        bool refuseVideo, refuseAudio;
    };
    for (const Case& c : {Case{"audio refuses", false, true}, Case{"both refuse", true, true}}) {
        SCOPED_TRACE(c.what);
        // Enough packets that the queues fill and the demux thread meets the refusal.
        Rig rig({{0xE0, kVideoType, "Video"}, {0xBD80, kAudioType, "Audio"}}, Interleaved(5000, {0xE0, 0xBD80}, 1000),
                [&](RecordingSinkFilter& s, size_t i) {
                    if ((i == 0 && c.refuseVideo) || (i == 1 && c.refuseAudio))
                        s.SetReceiveResult(E_FAIL);
                });
        ASSERT_EQ(rig.graph->Run(), S_OK);
        if (!c.refuseVideo) {
            ASSERT_TRUE(rig.sinks[0]->WaitForEndOfStream());
            EXPECT_EQ(rig.sinks[0]->SampleCount(), 5000u);
        } else {
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            // The demux loop ends: end of stream reaches neither sink (both refused).
            while (rig.splitter->routed.load() < 10000 && std::chrono::steady_clock::now() < deadline &&
                   !rig.sinks[0]->GotEndOfStream()) {
                int32_t a = 0, b = 0, n0 = 0, n1 = 0;
                rig.splitter->GetStatus(0, &n0, &a);
                rig.splitter->GetStatus(1, &n1, &b);
                if (rig.splitter->Outputs()[0]->DeliverResult() == E_FAIL &&
                    rig.splitter->Outputs()[1]->DeliverResult() == E_FAIL && n0 == 0 && n1 == 0)
                    break;
                std::this_thread::sleep_for(5ms);
            }
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_EQ(rig.graph->Stop(), S_OK);
        EXPECT_LE(rig.sinks[1]->SampleCount(), 2u) << "nothing after the refusal reaches it";
        if (c.refuseVideo) {
            const auto& r = rig.splitter->routeResults;
            ASSERT_FALSE(r.empty());
            EXPECT_EQ(r.back(), E_FAIL) << "the last refusal ends the demux loop";
            EXPECT_LT(r.size(), 10000u);
        }
    }
}

TEST(SplitterEngine, AMediaTypeChangeTravelsWithTheNextPacketOfTheNewStream)
{
    std::vector<ScriptPacket> script = Interleaved(10, {0xBD80, 0xBD81});
    Rig rig({{0xBD81, kAudioType, "Audio"}}, script);
    CMediaType other = kAudioType;
    other.subtype = MEDIASUBTYPE_DTS;

    // A downstream pin that refuses the new type keeps the pin where it was.
    rig.sinks[0]->accept = [](const CMediaType& t) { return t.subtype != MEDIASUBTYPE_DTS; };
    EXPECT_EQ(rig.splitter->RetargetOutput(0xBD81, 0xBD80, &other), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(rig.splitter->OutputKey(static_cast<CBaseSplitterOutputPin*>(rig.splitter->GetPin(0))), 0xBD81);
    EXPECT_EQ(rig.splitter->RetargetOutput(0x1234, 0xBD80, &other), E_FAIL);

    rig.sinks[0]->accept = nullptr;
    ASSERT_EQ(rig.splitter->RetargetOutput(0xBD81, 0xBD80, &other), S_OK);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_TRUE(rig.sinks[0]->WaitForEndOfStream());
    const auto samples = rig.sinks[0]->Samples();
    ASSERT_EQ(samples.size(), 10u);
    ASSERT_TRUE(samples[0].mediaType.has_value());
    EXPECT_EQ(samples[0].mediaType->subtype, MEDIASUBTYPE_DTS);
    EXPECT_TRUE(samples[0].discontinuity);
    for (size_t i = 1; i < samples.size(); ++i) {
        EXPECT_FALSE(samples[i].mediaType.has_value());
        EXPECT_FALSE(samples[i].discontinuity);
    }
    CMediaType offered;
    ASSERT_EQ(rig.splitter->GetPin(0)->GetMediaType(0, &offered), S_OK);
    EXPECT_EQ(offered.subtype, MEDIASUBTYPE_DTS);
    EXPECT_EQ(rig.splitter->GetPin(0)->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
}

TEST(SplitterEngine, PayloadsLargerThanTheBuffersArriveWhole)
{
    std::vector<ScriptPacket> script = {{0xE0, 0, 10}, {0xE0, 1000, 200000}, {0xE0, NoTime, 5, true}, {0xE0, 2000, 30}};
    Rig rig({{0xE0, kVideoType, "Video"}}, script);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_TRUE(rig.sinks[0]->WaitForEndOfStream());
    const auto samples = rig.sinks[0]->Samples();
    int32_t total = 0;
    for (const auto& s : samples)
        total += s.size;
    EXPECT_EQ(total, 10 + 200000 + 5 + 30);
    ASSERT_GE(samples.size(), 3u);
    EXPECT_EQ(samples[1].start, 1000);
    EXPECT_GE(samples[1].size, 200000);
}

TEST(SplitterEngine, StopDuringABlockedDeliveryEndsEveryThread)
{
    for (int round = 0; round < 3; ++round) {
        Rig rig({{0xE0, kVideoType, "Video"}, {0xBD80, kAudioType, "Audio"}}, Interleaved(3000, {0xE0, 0xBD80}),
                [](RecordingSinkFilter& s, size_t) { s.SetGate(false); });
        ASSERT_EQ(rig.graph->Run(), S_OK);
        ASSERT_TRUE(rig.sinks[0]->WaitForBlocked());
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(rig.graph->Stop(), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
        EXPECT_FALSE(rig.splitter->WorkerRunning());
        for (auto* pin : rig.splitter->Outputs())
            EXPECT_FALSE(pin->HasThread());
    }
}

}  // namespace
