#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "graph/FilterGraph.h"
#include "graph/MediaSample.h"
#include "harness/FilterHarness.h"
#include "TestFilters.h"

namespace {

using namespace std::chrono_literals;

// A source with a worker thread, as a demultiplexer has: started on Stopped -> Paused,
// pushing until stopped, joined in Stop.
class WorkerSource : public TestSourceFilter {
public:
    explicit WorkerSource(std::vector<CMediaType> types) : TestSourceFilter(std::move(types)) {}

    HRESULT Pause() override
    {
        std::lock_guard lock(m_lock);
        const bool start = IsStopped();
        HRESULT hr = TestSourceFilter::Pause();
        if (Succeeded(hr) && start) {
            m_quit = false;
            m_worker = std::thread([this] { Work(); });
        }
        return hr;
    }
    HRESULT Stop() override
    {
        std::lock_guard lock(m_lock);
        m_quit = true;
        const HRESULT hr = TestSourceFilter::Stop();  // decommits: a waiting GetBuffer returns
        if (m_worker.joinable())
            m_worker.join();
        return hr;
    }
    ~WorkerSource() override
    {
        m_quit = true;
        if (m_worker.joinable())
            m_worker.join();
    }

    std::atomic<int> pushed{0};
    std::atomic<bool> running{false};
    std::atomic<HRESULT> lastResult{S_OK};

private:
    void Work()
    {
        running = true;
        REFERENCE_TIME t = 0;
        while (!m_quit) {
            SampleSpec s;
            s.data = Ramp(32);
            s.start = t;
            s.stop = t + 400000;
            t += 400000;
            const HRESULT hr = PushSample(s);
            lastResult = hr;
            if (Failed(hr))
                break;
            ++pushed;
        }
        running = false;
    }

    std::atomic<bool> m_quit{false};
    std::thread m_worker;
};

// Logs its state changes into a shared log.
class LoggingSink : public RecordingSinkFilter {
public:
    LoggingSink(CallLog* log, std::string name) : m_log(log), m_name(std::move(name)) {}
    HRESULT Pause() override
    {
        m_log->Add("pause " + m_name);
        return RecordingSinkFilter::Pause();
    }
    HRESULT Stop() override
    {
        m_log->Add("stop " + m_name);
        return RecordingSinkFilter::Stop();
    }

private:
    CallLog* m_log;
    std::string m_name;
};

class LoggingConvert : public ConvertFilter {
public:
    LoggingConvert(CallLog* log) : ConvertFilter(kTypeA, kTypeB), m_log(log) {}
    HRESULT Pause() override
    {
        m_log->Add("pause convert");
        return ConvertFilter::Pause();
    }
    HRESULT Stop() override
    {
        m_log->Add("stop convert");
        return ConvertFilter::Stop();
    }

private:
    CallLog* m_log;
};

class LoggingSource : public TestSourceFilter {
public:
    LoggingSource(CallLog* log) : TestSourceFilter({VideoOf(kTypeA)}), m_log(log) {}
    HRESULT Pause() override
    {
        m_log->Add("pause source");
        return TestSourceFilter::Pause();
    }
    HRESULT Stop() override
    {
        m_log->Add("stop source");
        return TestSourceFilter::Stop();
    }

private:
    CallLog* m_log;
};

TEST(State, TransitionsGoDownstreamFirst)
{
    CallLog log;
    auto graph = MakeCom<CFilterGraph>();
    // Added upstream-first on purpose: the order must come from the connections.
    auto source = MakeCom<LoggingSource>(&log);
    auto convert = MakeCom<LoggingConvert>(&log);
    auto sink = MakeCom<LoggingSink>(&log, "sink");
    graph->AddFilter(source.Get(), "Source");
    graph->AddFilter(convert.Get(), "Convert");
    graph->AddFilter(sink.Get(), "Sink");
    ASSERT_EQ(graph->ConnectDirect(source->Pin(), GetPin(convert.Get(), PinDirection::Input, 0).Get(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(GetPin(convert.Get(), PinDirection::Output, 0).Get(), sink->Pin(), nullptr), S_OK);

    ASSERT_EQ(graph->Pause(), S_OK);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"pause sink", "pause convert", "pause source"}));
    ASSERT_EQ(graph->Stop(), S_OK);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"stop sink", "stop convert", "stop source"}));
}

TEST(State, GraphStateAndAllocatorCommit)
{
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeA)});
    ASSERT_EQ(h.Connect(), S_OK);
    FilterState s;
    EXPECT_EQ(h.graph->GetState(10, &s), S_OK);
    EXPECT_EQ(s, FilterState::Stopped);
    EXPECT_EQ(h.source->PushSample({Ramp(8)}), VFW_E_NOT_COMMITTED);  // stopped: no buffers

    ASSERT_EQ(h.Pause(), S_OK);
    EXPECT_EQ(h.graph->GetState(10, &s), S_OK);
    EXPECT_EQ(s, FilterState::Paused);
    EXPECT_EQ(h.source->PushSample({Ramp(8)}), S_OK);

    ASSERT_EQ(h.Run(), S_OK);
    EXPECT_EQ(h.graph->GetState(10, &s), S_OK);
    EXPECT_EQ(s, FilterState::Running);
    EXPECT_EQ(h.source->PushSample({Ramp(8)}), S_OK);

    ASSERT_EQ(h.Stop(), S_OK);
    EXPECT_EQ(h.source->PushSample({Ramp(8)}), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(h.sink->SampleCount(), 2u);
}

TEST(State, InputRefusesWhileStoppedFlushingOrEnded)
{
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeA)});
    ASSERT_EQ(h.Connect(), S_OK);
    ASSERT_EQ(h.Pause(), S_OK);
    RecordingSinkPin* in = h.sink->Pin();

    // A sample from the sink's own pool, pushed straight at the sink's input.
    ComPtr<IMediaSample> s;
    ASSERT_EQ(in->Allocator()->GetBuffer(&s, nullptr, nullptr, 0), S_OK);

    EXPECT_EQ(in->Receive(s.Get()), S_OK);
    in->BeginFlush();
    EXPECT_EQ(in->Receive(s.Get()), S_FALSE);
    in->EndFlush();
    EXPECT_EQ(in->Receive(s.Get()), S_OK);
    EXPECT_EQ(in->EndOfStream(), S_OK);
    EXPECT_EQ(in->Receive(s.Get()), VFW_E_SAMPLE_REJECTED_EOS);
    in->BeginFlush();
    in->EndFlush();  // a flush clears the end of stream
    EXPECT_EQ(in->Receive(s.Get()), S_OK);
    s.Reset();

    ASSERT_EQ(h.Stop(), S_OK);
    CMediaSample* loose = new CMediaSample(nullptr, 4, 1, 0, 0);
    ComPtr<IMediaSample> hold(loose);
    EXPECT_EQ(in->Receive(loose), VFW_E_WRONG_STATE);
}

TEST(State, StopEndsWorkerBlockedOnFullPool)
{
    auto source = MakeCom<WorkerSource>(std::vector<CMediaType>{VideoOf(kTypeA)});
    auto graph = MakeCom<CFilterGraph>();
    auto sink = MakeCom<RecordingSinkFilter>();
    sink->holdSamples = true;  // the pool runs dry and the worker waits in GetBuffer
    graph->AddFilter(source.Get(), "Source");
    graph->AddFilter(sink.Get(), "Sink");
    source->Pin()->bufferCount = 3;
    ASSERT_EQ(graph->ConnectDirect(source->Pin(), sink->Pin(), nullptr), S_OK);
    ASSERT_EQ(graph->Run(), S_OK);
    ASSERT_TRUE(sink->WaitFor(3));

    auto stopped = std::async(std::launch::async, [&] { return graph->Stop(); });
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(stopped.get(), S_OK);
    EXPECT_FALSE(source->running);
    EXPECT_EQ(source->pushed.load(), 3);
    EXPECT_EQ(source->lastResult.load(), VFW_E_NOT_COMMITTED);
    sink->ReleaseHeld();
}

TEST(State, StopEndsWorkerBlockedInDownstreamReceive)
{
    auto source = MakeCom<WorkerSource>(std::vector<CMediaType>{VideoOf(kTypeA)});
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {});
    // Replace the harness's source with the worker.
    h.graph->RemoveFilter(h.source.Get());
    h.graph->AddFilter(source.Get(), "Worker");
    ASSERT_EQ(h.graph->ConnectDirect(source->Pin(), GetPin(h.filter.Get(), PinDirection::Input, 0).Get(), nullptr),
              S_OK);
    ASSERT_EQ(h.ConnectOutput(), S_OK);
    h.sink->SetGate(false);
    ASSERT_EQ(h.Run(), S_OK);
    ASSERT_TRUE(h.sink->WaitForBlocked());

    auto stopped = std::async(std::launch::async, [&] { return h.Stop(); });
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(stopped.get(), S_OK);
    EXPECT_FALSE(source->running);

    // Restart: the worker runs again and delivers.
    h.sink->SetGate(true);
    h.sink->Clear();
    ASSERT_EQ(h.Run(), S_OK);
    EXPECT_TRUE(h.sink->WaitFor(5));
    ASSERT_EQ(h.Stop(), S_OK);
}

}  // namespace

#include "harness/FakeClock.h"

namespace {

TEST(State, StreamTimeLeavesOutPausedTime)
{
    auto clock = MakeCom<FakeClock>();
    clock->Set(1000000);
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeA)});
    ASSERT_EQ(h.Connect(), S_OK);
    ASSERT_EQ(h.graph->SetSyncSource(clock.Get()), S_OK);

    REFERENCE_TIME t = 0;
    EXPECT_EQ(h.sink->StreamTime(&t), E_FAIL);  // not running
    ASSERT_EQ(h.Run(), S_OK);
    clock->Advance(300);
    ASSERT_EQ(h.sink->StreamTime(&t), S_OK);
    EXPECT_EQ(t, 300);
    EXPECT_EQ(h.graph->StreamTimeNow(), 300);

    ASSERT_EQ(h.Pause(), S_OK);
    clock->Advance(5000);  // paused: the stream clock stands still
    EXPECT_EQ(h.graph->StreamTimeNow(), 300);
    ASSERT_EQ(h.Run(), S_OK);
    clock->Advance(200);
    ASSERT_EQ(h.sink->StreamTime(&t), S_OK);
    EXPECT_EQ(t, 500);
    EXPECT_EQ(h.graph->SetSyncSource(clock.Get()), VFW_E_NOT_STOPPED);

    ASSERT_EQ(h.Stop(), S_OK);
    ASSERT_EQ(h.Run(), S_OK);  // a new run starts at 0 again
    EXPECT_EQ(h.graph->StreamTimeNow(), 0);
}

}  // namespace
