#include <gtest/gtest.h>

#include <future>

#include "graph/FilterGraph.h"
#include "graph/OutputQueue.h"
#include "TestFilters.h"

namespace {

using Kind = RecordedItem::Kind;

// A paused source -> sink pair; the test takes buffers from the source's pool and queues them
// towards the sink.
struct QueueFixture : ::testing::Test {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSourceFilter> source = MakeCom<TestSourceFilter>(std::vector<CMediaType>{VideoOf(kTypeA)});
    ComPtr<RecordingSinkFilter> sink = MakeCom<RecordingSinkFilter>();
    std::unique_ptr<COutputQueue> queue;

    void SetUp() override
    {
        graph->AddFilter(source.Get(), "Source");
        graph->AddFilter(sink.Get(), "Sink");
        source->Pin()->bufferCount = 8;
        ASSERT_EQ(graph->ConnectDirect(source->Pin(), sink->Pin(), nullptr), S_OK);
        ASSERT_EQ(graph->Pause(), S_OK);
        ASSERT_EQ(COutputQueue::Create(sink->Pin(), 5, 5, &queue), S_OK);
    }
    void TearDown() override
    {
        sink->SetGate(true);
        queue.reset();
        graph->Stop();
    }
    ComPtr<IMediaSample> Sample(REFERENCE_TIME t)
    {
        ComPtr<IMediaSample> s;
        EXPECT_EQ(source->Pin()->GetDeliveryBuffer(&s), S_OK);
        REFERENCE_TIME stop = t + 10;
        s->SetTime(&t, &stop);
        s->SetActualDataLength(4);
        return s;
    }
    int Outstanding() { return dynamic_cast<CMemAllocator*>(source->Pin()->Allocator())->Outstanding(); }
};

TEST_F(QueueFixture, DeliversInOrder)
{
    queue->NewSegment(0, 1000, 1.0);
    for (REFERENCE_TIME t = 0; t < 70; t += 10)
        ASSERT_EQ(queue->Receive(Sample(t)), S_OK);
    queue->EndOfStream();
    ASSERT_TRUE(sink->WaitForEndOfStream());

    const auto items = sink->Items();
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items.front().kind, Kind::NewSegment);
    EXPECT_EQ(items.back().kind, Kind::EndOfStream);
    for (size_t i = 1; i + 1 < items.size(); ++i) {
        EXPECT_EQ(items[i].kind, Kind::Sample);
        EXPECT_EQ(items[i].start, REFERENCE_TIME(i - 1) * 10);
    }
}

TEST_F(QueueFixture, SamplesPassByReferenceAndGoBackToThePool)
{
    sink->holdSamples = true;
    ComPtr<IMediaSample> s = Sample(0);
    IMediaSample* raw = s.Get();
    ASSERT_EQ(queue->Receive(s), S_OK);  // the queue takes a reference of its own
    s.Reset();
    queue->EndOfStream();
    ASSERT_TRUE(sink->WaitForEndOfStream());
    EXPECT_EQ(Outstanding(), 1);  // held by the sink
    sink->ReleaseHeld();
    EXPECT_EQ(Outstanding(), 0);
    (void)raw;
}

TEST_F(QueueFixture, FlushDropsWaitingSamples)
{
    sink->SetGate(false);
    ASSERT_EQ(queue->Receive(Sample(0)), S_OK);  // the worker blocks in the sink with this one
    ASSERT_TRUE(sink->WaitForBlocked());
    ASSERT_EQ(queue->Receive(Sample(10)), S_OK);
    ASSERT_EQ(queue->Receive(Sample(20)), S_OK);

    queue->BeginFlush();  // frees the blocked delivery (the sink sees the flush)
    EXPECT_EQ(queue->Receive(Sample(30)), S_FALSE);
    queue->EndFlush();
    EXPECT_EQ(Outstanding(), 0);  // every sample that waited went back to the pool
    EXPECT_TRUE(queue->IsIdle());

    sink->SetGate(true);
    ASSERT_EQ(queue->Receive(Sample(40)), S_OK);
    queue->EndOfStream();
    ASSERT_TRUE(sink->WaitForEndOfStream());
    std::vector<Kind> kinds;
    for (const RecordedItem& i : sink->Items())
        kinds.push_back(i.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::BeginFlush, Kind::EndFlush, Kind::Sample, Kind::EndOfStream}));
    EXPECT_EQ(sink->Samples()[0].start, 40);
}

TEST_F(QueueFixture, FullQueueHoldsTheCallerUntilFlush)
{
    std::unique_ptr<COutputQueue> small;
    queue.reset();
    ASSERT_EQ(COutputQueue::Create(sink->Pin(), 1, 1, &small), S_OK);
    sink->SetGate(false);
    ASSERT_EQ(small->Receive(Sample(0)), S_OK);
    ASSERT_TRUE(sink->WaitForBlocked());         // the worker holds the first one
    ASSERT_EQ(small->Receive(Sample(10)), S_OK);  // the list is full now
    auto third = std::async(std::launch::async, [&] { return small->Receive(Sample(20)); });
    EXPECT_EQ(third.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    small->BeginFlush();
    ASSERT_EQ(third.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(third.get(), S_FALSE);
    small->EndFlush();
    sink->SetGate(true);
    small.reset();
    EXPECT_EQ(Outstanding(), 0);
}

TEST_F(QueueFixture, DownstreamFailureIsReturnedUntilFlush)
{
    sink->SetReceiveResult(VFW_E_RUNTIME_ERROR);
    ASSERT_EQ(queue->Receive(Sample(0)), S_OK);
    queue->WaitUntilIdle();
    // The failure is kept: Receive drops the sample and reports it.
    const HRESULT hr = queue->Receive(Sample(10));
    EXPECT_EQ(hr, VFW_E_RUNTIME_ERROR);

    sink->SetReceiveResult(S_OK);
    queue->BeginFlush();
    queue->EndFlush();
    EXPECT_EQ(queue->Receive(Sample(20)), S_OK);
    queue->WaitUntilIdle();
    EXPECT_EQ(sink->SampleCount(), 2u);
    EXPECT_EQ(Outstanding(), 0);
}

}  // namespace
