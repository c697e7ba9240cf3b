#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <thread>

#include "graph/FilterGraph.h"
#include "TestFilters.h"

namespace {

using namespace std::chrono_literals;

const Guid kConvertAB = MakeGuid(0x11111111, 0, 0, 0, 1);
const Guid kConvertAC = MakeGuid(0x22222222, 0, 0, 0, 2);
const Guid kConvertBC = MakeGuid(0x33333333, 0, 0, 0, 3);
const Guid kRendererB = MakeGuid(0x44444444, 0, 0, 0, 4);

FilterRegistration Converter(const Guid& clsid, const char* name, Guid from, Guid to, uint32_t merit = MERIT_NORMAL)
{
    FilterRegistration r;
    r.clsid = clsid;
    r.name = name;
    r.merit = merit;
    r.inputTypes = {{MEDIATYPE_Video, from}};
    r.create = [from, to] { return ComPtr<IBaseFilter>(new ConvertFilter(from, to)); };
    return r;
}

std::vector<std::string> Names(CFilterGraph* graph)
{
    std::vector<ComPtr<IBaseFilter>> filters;
    graph->EnumFilters(&filters);
    std::vector<std::string> names;
    for (auto& f : filters)
        names.push_back(f->QueryFilterInfo().name);
    return names;
}

TEST(FilterGraph, NamesAreUniqueAndFound)
{
    auto graph = MakeCom<CFilterGraph>();
    auto a = MakeCom<RecordingSinkFilter>();
    auto b = MakeCom<RecordingSinkFilter>();
    auto c = MakeCom<RecordingSinkFilter>();
    EXPECT_EQ(graph->AddFilter(a.Get(), "Video Mixing Renderer"), S_OK);
    EXPECT_EQ(graph->AddFilter(b.Get(), "Video Mixing Renderer"), S_OK);
    EXPECT_EQ(graph->AddFilter(c.Get(), ""), S_OK);
    EXPECT_EQ(graph->AddFilter(a.Get(), "Again"), E_INVALIDARG);
    EXPECT_EQ(Names(graph.Get()),
              (std::vector<std::string>{"Video Mixing Renderer", "Video Mixing Renderer 0001", "Filter"}));

    ComPtr<IBaseFilter> found;
    EXPECT_EQ(graph->FindFilterByName("Video Mixing Renderer 0001", &found), S_OK);
    EXPECT_EQ(found.Get(), static_cast<IBaseFilter*>(b.Get()));
    EXPECT_EQ(graph->FindFilterByName("Nope", &found), VFW_E_NOT_FOUND);
    EXPECT_FALSE(found);
    EXPECT_EQ(b->QueryFilterInfo().graph, static_cast<IGraphBuilder*>(graph.Get()));

    EXPECT_EQ(graph->RemoveFilter(b.Get()), S_OK);
    EXPECT_EQ(b->QueryFilterInfo().graph, nullptr);
    EXPECT_EQ(graph->RemoveFilter(b.Get()), VFW_E_NOT_FOUND);
}

TEST(FilterGraph, PinsAreCountedPerDirection)
{
    auto convert = MakeCom<ConvertFilter>(kTypeA, kTypeB);
    EXPECT_EQ(GetPin(convert.Get(), PinDirection::Input, 0).Get(), static_cast<IPin*>(convert->InputPin()));
    EXPECT_EQ(GetPin(convert.Get(), PinDirection::Output, 0).Get(), static_cast<IPin*>(convert->OutputPin()));
    EXPECT_FALSE(GetPin(convert.Get(), PinDirection::Input, 1));
    EXPECT_FALSE(GetPin(convert.Get(), PinDirection::Output, -1));
}

TEST(FilterGraph, RemoveFilterDisconnectsBothEnds)
{
    auto graph = MakeCom<CFilterGraph>();
    auto source = MakeCom<TestSourceFilter>(std::vector<CMediaType>{VideoOf(kTypeA)});
    auto convert = MakeCom<ConvertFilter>(kTypeA, kTypeB);
    auto sink = MakeCom<RecordingSinkFilter>();
    graph->AddFilter(source.Get(), "Source");
    graph->AddFilter(convert.Get(), "Convert");
    graph->AddFilter(sink.Get(), "Sink");
    ASSERT_EQ(graph->ConnectDirect(source->Pin(), convert->InputPin(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(convert->OutputPin(), sink->Pin(), nullptr), S_OK);

    ASSERT_EQ(graph->Run(), S_OK);
    EXPECT_EQ(graph->RemoveFilter(convert.Get()), VFW_E_NOT_STOPPED);
    EXPECT_EQ(graph->AddFilter(MakeCom<RecordingSinkFilter>().Get(), "Late"), VFW_E_NOT_STOPPED);
    ASSERT_EQ(graph->Stop(), S_OK);

    EXPECT_EQ(graph->RemoveFilter(convert.Get()), S_OK);
    ComPtr<IPin> peer;
    EXPECT_EQ(source->Pin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(sink->Pin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(convert->InputPin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(Names(graph.Get()), (std::vector<std::string>{"Source", "Sink"}));
}

// Source -> sink with the source pushing from a thread of its own, as a streaming thread.
struct EventFixture : ::testing::Test {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSourceFilter> source1 = MakeCom<TestSourceFilter>(std::vector<CMediaType>{VideoOf(kTypeA)});
    ComPtr<TestSourceFilter> source2 = MakeCom<TestSourceFilter>(std::vector<CMediaType>{VideoOf(kTypeA)});
    ComPtr<RecordingSinkFilter> sink1 = MakeCom<RecordingSinkFilter>();
    ComPtr<RecordingSinkFilter> sink2 = MakeCom<RecordingSinkFilter>();

    std::mutex lock;
    std::condition_variable notified;
    int notifications = 0;
    std::thread::id notifyThread;

    void SetUp() override
    {
        graph->AddFilter(source1.Get(), "Source1");
        graph->AddFilter(sink1.Get(), "Sink1");
        graph->AddFilter(source2.Get(), "Source2");
        graph->AddFilter(sink2.Get(), "Sink2");
        ASSERT_EQ(graph->ConnectDirect(source1->Pin(), sink1->Pin(), nullptr), S_OK);
        ASSERT_EQ(graph->ConnectDirect(source2->Pin(), sink2->Pin(), nullptr), S_OK);
        graph->SetNotifyCallback([this] {
            std::lock_guard l(lock);
            ++notifications;
            notifyThread = std::this_thread::get_id();
            notified.notify_all();
        });
        ASSERT_EQ(graph->Run(), S_OK);
    }
    void TearDown() override { graph->Stop(); }

    // End of stream from a streaming thread; returns that thread's id.
    std::thread::id EndOnThread(TestSourceFilter* source)
    {
        std::thread::id id;
        std::thread t([&] {
            id = std::this_thread::get_id();
            source->PushEndOfStream();
        });
        t.join();
        return id;
    }
    bool WaitNotifications(int n)
    {
        std::unique_lock l(lock);
        return notified.wait_for(l, 5s, [&] { return notifications >= n; });
    }
};

TEST_F(EventFixture, CompletionWaitsForEveryRenderer)
{
    EndOnThread(source1.Get());
    int32_t code;
    intptr_t p1, p2;
    EXPECT_EQ(graph->GetEvent(&code, &p1, &p2, 0), E_ABORT);  // one renderer of two

    EndOnThread(source2.Get());
    ASSERT_TRUE(WaitNotifications(1));
    ASSERT_EQ(graph->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(p1, S_OK);
    EXPECT_EQ(graph->GetEvent(&code, &p1, &p2, 0), E_ABORT);  // only one is passed on
    {
        std::lock_guard l(lock);
        EXPECT_EQ(notifications, 1);
        EXPECT_NE(notifyThread, std::this_thread::get_id());  // called on the posting thread
    }
}

TEST_F(EventFixture, CancelledDefaultHandlingPassesEachCompletion)
{
    ASSERT_EQ(graph->CancelDefaultHandling(EC_COMPLETE), S_OK);
    const std::thread::id streaming = EndOnThread(source1.Get());
    ASSERT_TRUE(WaitNotifications(1));
    {
        std::lock_guard l(lock);
        EXPECT_EQ(notifyThread, streaming);
    }
    int32_t code;
    intptr_t p1, p2;
    ASSERT_EQ(graph->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(p2, reinterpret_cast<intptr_t>(static_cast<IBaseFilter*>(sink1.Get())));

    EndOnThread(source2.Get());
    ASSERT_TRUE(WaitNotifications(2));
    ASSERT_EQ(graph->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(p2, reinterpret_cast<intptr_t>(static_cast<IBaseFilter*>(sink2.Get())));
}

TEST_F(EventFixture, OtherEventsAndClearedCallback)
{
    ASSERT_EQ(sink1->NotifyEvent(EC_ERRORABORT, E_FAIL, 0), S_OK);
    ASSERT_TRUE(WaitNotifications(1));
    int32_t code;
    intptr_t p1, p2;
    ASSERT_EQ(graph->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_EQ(p1, E_FAIL);
    EXPECT_EQ(graph->FreeEventParams(code, p1, p2), S_OK);

    graph->SetNotifyCallback(nullptr);
    ASSERT_EQ(sink1->NotifyEvent(EC_USERABORT, 0, 0), S_OK);
    ASSERT_EQ(graph->GetEvent(&code, &p1, &p2, 1000), S_OK);  // still queued
    EXPECT_EQ(code, EC_USERABORT);
    std::lock_guard l(lock);
    EXPECT_EQ(notifications, 1);
}

TEST(FilterGraph, FilterOutsideAGraphCannotPost)
{
    auto sink = MakeCom<RecordingSinkFilter>();
    EXPECT_EQ(sink->NotifyEvent(EC_COMPLETE, S_OK, 0), E_UNEXPECTED);
}

struct IntelligentConnect : ::testing::Test {
    FilterRegistry registry;
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>(&registry);
    ComPtr<TestSourceFilter> source = MakeCom<TestSourceFilter>(std::vector<CMediaType>{VideoOf(kTypeA)});
    ComPtr<RecordingSinkFilter> sink = MakeCom<RecordingSinkFilter>();

    void SetUp() override
    {
        graph->AddFilter(source.Get(), "Source");
        sink->accept = [](const CMediaType& t) { return AcceptsSub(t, kTypeB); };
    }
};

TEST_F(IntelligentConnect, ThroughRegisteredIntermediate)
{
    registry.Register(Converter(kConvertAC, "A to C", kTypeA, kTypeC, MERIT_PREFERRED));  // tried first, leads nowhere
    registry.Register(Converter(kConvertAB, "A to B", kTypeA, kTypeB));
    graph->AddFilter(sink.Get(), "Sink");
    EXPECT_EQ(graph->ConnectDirect(source->Pin(), sink->Pin(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);

    ASSERT_EQ(graph->Connect(source->Pin(), sink->Pin()), S_OK);
    EXPECT_EQ(Names(graph.Get()), (std::vector<std::string>{"Source", "Sink", "A to B"}));

    ASSERT_EQ(graph->Run(), S_OK);
    ASSERT_EQ(source->PushSample({Ramp(10)}), S_OK);
    EXPECT_EQ(sink->SampleCount(), 1u);
}

TEST_F(IntelligentConnect, FailureRemovesWhatItAdded)
{
    registry.Register(Converter(kConvertAC, "A to C", kTypeA, kTypeC));
    graph->AddFilter(sink.Get(), "Sink");
    EXPECT_EQ(graph->Connect(source->Pin(), sink->Pin()), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(Names(graph.Get()), (std::vector<std::string>{"Source", "Sink"}));
    ComPtr<IPin> peer;
    EXPECT_EQ(source->Pin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

TEST_F(IntelligentConnect, TwoStepsAndMeritZero)
{
    registry.Register(Converter(kConvertBC, "B to C", kTypeB, kTypeC));
    registry.Register(Converter(kConvertAB, "A to B", kTypeA, kTypeB, MERIT_DO_NOT_USE));  // never picked
    sink->accept = [](const CMediaType& t) { return AcceptsSub(t, kTypeC); };
    graph->AddFilter(sink.Get(), "Sink");
    EXPECT_EQ(graph->Connect(source->Pin(), sink->Pin()), VFW_E_CANNOT_CONNECT);

    registry.Register(Converter(kConvertAB, "A to B", kTypeA, kTypeB));
    ASSERT_EQ(graph->Connect(source->Pin(), sink->Pin()), S_OK);
    EXPECT_EQ(Names(graph.Get()), (std::vector<std::string>{"Source", "Sink", "A to B", "B to C"}));
}

TEST_F(IntelligentConnect, RenderFindsDecoderAndRenderer)
{
    registry.Register(Converter(kConvertAB, "A to B", kTypeA, kTypeB));
    FilterRegistration renderer;
    renderer.clsid = kRendererB;
    renderer.name = "Renderer";
    renderer.inputTypes = {{MEDIATYPE_Video, kTypeB}};
    renderer.create = [] {
        auto r = new RecordingSinkFilter();
        r->accept = [](const CMediaType& t) { return AcceptsSub(t, kTypeB); };
        return ComPtr<IBaseFilter>(r);
    };
    registry.Register(renderer);

    ASSERT_EQ(graph->Render(source->Pin()), S_OK);
    EXPECT_EQ(Names(graph.Get()), (std::vector<std::string>{"Source", "A to B", "Renderer"}));
    EXPECT_EQ(graph->Render(source->Pin()), VFW_E_ALREADY_CONNECTED);

    ComPtr<IBaseFilter> made;
    EXPECT_EQ(registry.CreateInstance(kRendererB, &made), S_OK);
    EXPECT_TRUE(made);
    EXPECT_EQ(registry.CreateInstance(kTypeA, &made), VFW_E_NOT_FOUND);
}

TEST_F(IntelligentConnect, RenderUsesFiltersAlreadyInTheGraph)
{
    // The converter is in the graph on purpose; the registry holds only the renderer.
    auto convert = MakeCom<ConvertFilter>(kTypeA, kTypeB);
    graph->AddFilter(convert.Get(), "Converter");
    FilterRegistration renderer;
    renderer.clsid = kRendererB;
    renderer.name = "Renderer";
    renderer.inputTypes = {{MEDIATYPE_Video, kTypeB}};
    renderer.create = [] { return ComPtr<IBaseFilter>(new RecordingSinkFilter()); };
    registry.Register(renderer);

    ASSERT_EQ(graph->Render(source->Pin()), S_OK);
    ComPtr<IPin> peer;
    ASSERT_EQ(source->Pin()->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer.Get(), static_cast<IPin*>(convert->InputPin()));
    EXPECT_EQ(Names(graph.Get()), (std::vector<std::string>{"Source", "Converter", "Renderer"}));
}

TEST_F(IntelligentConnect, RenderFailureRemovesWhatItAdded)
{
    registry.Register(Converter(kConvertAB, "A to B", kTypeA, kTypeB));  // no renderer for B
    EXPECT_EQ(graph->Render(source->Pin()), VFW_E_CANNOT_RENDER);
    EXPECT_EQ(Names(graph.Get()), (std::vector<std::string>{"Source"}));
}

TEST(FilterGraph, SeekingGoesToRenderersAndOnUpstream)
{
    FixedSeeking upstream;
    auto graph = MakeCom<CFilterGraph>();
    auto source = MakeCom<TestSourceFilter>(std::vector<CMediaType>{VideoOf(kTypeA)});
    auto sink = MakeCom<SeekingSinkFilter>();
    source->Pin()->seeking = &upstream;
    graph->AddFilter(source.Get(), "Source");
    graph->AddFilter(sink.Get(), "Sink");

    int64_t d = 0;
    EXPECT_EQ(graph->GetDuration(&d), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(graph->ConnectDirect(source->Pin(), sink->Pin(), nullptr), S_OK);
    EXPECT_EQ(graph->SetTimeFormat(TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(graph->GetDuration(&d), S_OK);
    EXPECT_EQ(d, 300000000);
    int64_t pos = 123400000;
    EXPECT_EQ(graph->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    EXPECT_EQ(upstream.current, 123400000);
    EXPECT_EQ(upstream.setCalls, 1);
    int64_t cur = 0;
    EXPECT_EQ(graph->GetCurrentPosition(&cur), S_OK);
    EXPECT_EQ(cur, 123400000);
}

TEST(FilterGraph, NoSeekingAnywhere)
{
    auto graph = MakeCom<CFilterGraph>();
    auto sink = MakeCom<RecordingSinkFilter>();
    graph->AddFilter(sink.Get(), "Sink");
    int64_t d = 0;
    EXPECT_EQ(graph->GetDuration(&d), E_NOTIMPL);
}

}  // namespace
