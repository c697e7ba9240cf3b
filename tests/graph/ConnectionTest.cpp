#include <gtest/gtest.h>

#include "graph/FilterGraph.h"
#include "TestFilters.h"

namespace {

struct Pair {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSourceFilter> source;
    ComPtr<RecordingSinkFilter> sink = MakeCom<RecordingSinkFilter>();

    explicit Pair(std::vector<CMediaType> offered) : source(MakeCom<TestSourceFilter>(std::move(offered)))
    {
        graph->AddFilter(source.Get(), "Source");
        graph->AddFilter(sink.Get(), "Sink");
    }
    HRESULT Connect(const CMediaType* type = nullptr) { return graph->ConnectDirect(source->Pin(), sink->Pin(), type); }
    bool BothUnconnected()
    {
        ComPtr<IPin> a, b;
        return source->Pin()->ConnectedTo(&a) == VFW_E_NOT_CONNECTED && !a &&
               sink->Pin()->ConnectedTo(&b) == VFW_E_NOT_CONNECTED && !b;
    }
};

TEST(Connection, TypeAgreement)
{
    const CMediaType a = VideoOf(kTypeA), b = VideoOf(kTypeB), c = VideoOf(kTypeC);
    const CMediaType partialVideo(MEDIATYPE_Video, GUID_NULL);
    struct Case {
        const char* what;
        std::vector<CMediaType> offered;
        Guid sinkAccepts;
        const CMediaType* given;
        HRESULT result;
        Guid connectedSub;
    };
    const Case cases[] = {
        {"first offered type both accept", {a, b}, kTypeB, nullptr, S_OK, kTypeB},
        {"no common type", {a, b}, kTypeC, nullptr, VFW_E_NO_ACCEPTABLE_TYPES, GUID_NULL},
        {"given complete type", {a, b}, kTypeB, &b, S_OK, kTypeB},
        {"given type refused by the input", {a, b}, kTypeB, &a, VFW_E_TYPE_NOT_ACCEPTED, GUID_NULL},
        {"given type refused by the output", {a, b}, kTypeC, &c, VFW_E_TYPE_NOT_ACCEPTED, GUID_NULL},
        {"partial type narrows the offer", {a, b}, kTypeB, &partialVideo, S_OK, kTypeB},
        {"nothing offered", {}, kTypeA, nullptr, VFW_E_NO_ACCEPTABLE_TYPES, GUID_NULL},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Pair p(k.offered);
        const Guid want = k.sinkAccepts;
        p.sink->accept = [want](const CMediaType& t) { return AcceptsSub(t, want); };
        EXPECT_EQ(p.Connect(k.given), k.result);
        if (k.result == S_OK) {
            CMediaType out, in;
            EXPECT_EQ(p.source->Pin()->ConnectionMediaType(&out), S_OK);
            EXPECT_EQ(p.sink->Pin()->ConnectionMediaType(&in), S_OK);
            EXPECT_EQ(out.subtype, k.connectedSub);
            EXPECT_EQ(in, out);
            ComPtr<IPin> peer;
            EXPECT_EQ(p.sink->Pin()->ConnectedTo(&peer), S_OK);
            EXPECT_EQ(peer.Get(), static_cast<IPin*>(p.source->Pin()));
        } else {
            EXPECT_TRUE(p.BothUnconnected());
        }
    }
}

TEST(Connection, SecondConnectIsRefused)
{
    Pair p({VideoOf(kTypeA)});
    ASSERT_EQ(p.Connect(), S_OK);
    EXPECT_EQ(p.Connect(), VFW_E_ALREADY_CONNECTED);
}

TEST(Connection, OutputToOutputIsRefused)
{
    Pair p({VideoOf(kTypeA)});
    auto other = MakeCom<TestSourceFilter>(std::vector<CMediaType>{VideoOf(kTypeA)});
    p.graph->AddFilter(other.Get(), "Other");
    EXPECT_EQ(p.graph->ConnectDirect(p.source->Pin(), other->Pin(), nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(p.source->Pin()->Connect(other->Pin(), nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_TRUE(p.BothUnconnected());
}

TEST(Connection, AllocatorSizing)
{
    struct Case {
        const char* what;
        bool stingyInput;
        bool stingyOutput;
        HRESULT result;
    };
    const Case cases[] = {
        {"both grant what is asked", false, false, S_OK},
        {"input's allocator grants less: the output's own is used", true, false, S_OK},
        {"every allocator grants less: refused", true, true, E_FAIL},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Pair p({VideoOf(kTypeA)});
        if (k.stingyInput)
            p.sink->makeAllocator = [] { return ComPtr<IMemAllocator>(new StingyAllocator()); };
        if (k.stingyOutput)
            p.source->Pin()->ownAllocator = [] { return ComPtr<IMemAllocator>(new StingyAllocator()); };
        p.source->Pin()->bufferCount = 4;
        p.source->Pin()->bufferSize = 1000;
        EXPECT_EQ(p.Connect(), k.result);
        if (k.result == S_OK) {
            AllocatorProperties got;
            ASSERT_TRUE(p.source->Pin()->Allocator());
            p.source->Pin()->Allocator()->GetProperties(&got);
            EXPECT_GE(got.cBuffers, 4);
            EXPECT_GE(got.cbBuffer, 1000);
            // Both ends use the same pool.
            EXPECT_EQ(p.source->Pin()->Allocator(), p.sink->Pin()->Allocator());
        } else {
            EXPECT_TRUE(p.BothUnconnected());
        }
    }
}

TEST(Connection, InputRequirementsReachBufferSizing)
{
    Pair p({VideoOf(kTypeA)});
    p.sink->requirements = AllocatorProperties{0, 0, 16, 8};
    ASSERT_EQ(p.Connect(), S_OK);
    EXPECT_EQ(p.source->Pin()->seenRequest.cbAlign, 16);
    EXPECT_EQ(p.source->Pin()->seenRequest.cbPrefix, 8);
}

TEST(Connection, DisconnectBothEndsThenReconnect)
{
    Pair p({VideoOf(kTypeA), VideoOf(kTypeB)});
    ASSERT_EQ(p.Connect(), S_OK);
    EXPECT_EQ(p.graph->Disconnect(p.sink->Pin()), S_OK);
    EXPECT_TRUE(p.BothUnconnected());
    EXPECT_EQ(p.graph->Disconnect(p.sink->Pin()), S_FALSE);

    // Reconnect with another type.
    CMediaType b = VideoOf(kTypeB);
    ASSERT_EQ(p.Connect(&b), S_OK);
    CMediaType got;
    p.sink->Pin()->ConnectionMediaType(&got);
    EXPECT_EQ(got.subtype, kTypeB);
}

TEST(Connection, NoChangesWhileRunning)
{
    Pair p({VideoOf(kTypeA)});
    ASSERT_EQ(p.Connect(), S_OK);
    ASSERT_EQ(p.graph->Run(), S_OK);
    EXPECT_EQ(p.graph->Disconnect(p.source->Pin()), VFW_E_NOT_STOPPED);
    EXPECT_EQ(p.source->Pin()->Disconnect(), VFW_E_NOT_STOPPED);
    ComPtr<IPin> peer;
    EXPECT_EQ(p.source->Pin()->ConnectedTo(&peer), S_OK);
    ASSERT_EQ(p.graph->Stop(), S_OK);
    EXPECT_EQ(p.graph->Disconnect(p.source->Pin()), S_OK);
}

}  // namespace

namespace {

TEST(Connection, MediaTypeChangeCarriedByASample)
{
    struct Case {
        const char* what;
        Guid sinkAlsoAccepts;
        HRESULT result;
        Guid typeAfter;
    };
    const Case cases[] = {
        {"accepted change becomes the connection type", kTypeB, S_OK, kTypeB},
        {"refused change is an invalid media type", kTypeC, VFW_E_INVALIDMEDIATYPE, kTypeA},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Pair p({VideoOf(kTypeA)});
        const Guid also = k.sinkAlsoAccepts;
        p.sink->accept = [also](const CMediaType& t) { return AcceptsSub(t, kTypeA) || AcceptsSub(t, also); };
        ASSERT_EQ(p.Connect(), S_OK);
        ASSERT_EQ(p.graph->Run(), S_OK);
        SampleSpec s(Ramp(4));
        s.mediaType = VideoOf(kTypeB);
        EXPECT_EQ(p.source->PushSample(s), k.result);
        CMediaType now;
        p.sink->Pin()->ConnectionMediaType(&now);
        EXPECT_EQ(now.subtype, k.typeAfter);
        if (k.result == S_OK) {
            ASSERT_EQ(p.sink->SampleCount(), 1u);
            ASSERT_TRUE(p.sink->Samples()[0].mediaType);
            EXPECT_EQ(p.sink->Samples()[0].mediaType->subtype, kTypeB);
        }
        p.graph->Stop();
    }
}

}  // namespace
