#include <gtest/gtest.h>

#include "filters/TeeFilter.h"
#include "filters/TestFilters.h"

using namespace zdrtest;

namespace {

struct TeeRig {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<TestSource> source;
    ComPtr<CMyTeeFilter> tee = MakeCom<CMyTeeFilter>();
    ComPtr<TestSink> sink0 = MakeCom<TestSink>();
    ComPtr<TestSink> sink1 = MakeCom<TestSink>();

    explicit TeeRig(const CMediaType& type = MakeYv12Type(16, 8))
        : source(MakeCom<TestSource>(type, 3, 16 * 8 * 3 / 2))
    {
        graph->AddFilter(source.Get(), "Source");
        graph->AddFilter(tee.Get(), "Tee");
        graph->AddFilter(sink0.Get(), "Sink0");
        graph->AddFilter(sink1.Get(), "Sink1");
    }
    HRESULT Connect(bool second)
    {
        HRESULT hr = graph->ConnectDirect(source->Pin(), tee->GetPin(0), nullptr);
        if (Failed(hr))
            return hr;
        hr = graph->ConnectDirect(tee->GetPin(1), sink0->Pin(), nullptr);
        if (Failed(hr) || !second)
            return hr;
        return graph->ConnectDirect(tee->GetPin(2), sink1->Pin(), nullptr);
    }
};

std::vector<uint8_t> Picture(uint8_t fill) { return std::vector<uint8_t>(16 * 8 * 3 / 2, fill); }

}  // namespace

TEST(TeeFilter, PinsInOrderAndSeekingRefusedOnOutputs)
{
    ComPtr<CMyTeeFilter> tee = MakeCom<CMyTeeFilter>();
    ASSERT_EQ(tee->GetPinCount(), 3);
    EXPECT_EQ(tee->GetPin(0)->Name(), "Input");
    EXPECT_EQ(tee->GetPin(1)->Name(), "Output0");
    EXPECT_EQ(tee->GetPin(2)->Name(), "Output1");
    EXPECT_FALSE(QueryInterface<IMediaSeeking>(tee->GetPin(1)));
    EXPECT_FALSE(QueryInterface<IMediaSeeking>(tee->GetPin(2)));
}

TEST(TeeFilter, InputAcceptsOnlyYv12WithVideoInfoHeader)
{
    ComPtr<CMyTeeFilter> tee = MakeCom<CMyTeeFilter>();
    CBasePin* in = tee->GetPin(0);
    CMediaType flipped = MakeYv12Type(16, 8);
    flipped.FormatAs<VideoInfoHeader>()->bmiHeader.biHeight = -8;
    CMediaType other = MakeYv12Type(16, 8);
    other.subtype = MEDIASUBTYPE_PCM;
    struct Case {
        const char* what;
        CMediaType type;
        bool accepted;
    } cases[] = {
        {"YV12 with video info header", MakeYv12Type(16, 8), true},
        {"YV12 with video info header 2", MakeYv12Type(16, 8, true), false},
        {"top-down bitmap", flipped, false},
        {"other subtype", other, false},
        {"no format block", CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_YV12, FORMAT_VideoInfo), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(in->CheckMediaType(c.type) == S_OK, c.accepted) << c.what;
}

TEST(TeeFilter, BothBranchesGetEverySampleByReferenceAndReleaseItOncePerBranch)
{
    TeeRig rig;
    ASSERT_EQ(rig.Connect(true), S_OK);
    // Outputs offer exactly the input type.
    CMediaType out;
    rig.tee->GetPin(2)->ConnectionMediaType(&out);
    EXPECT_TRUE(out == MakeYv12Type(16, 8));

    rig.sink0->Pin()->hold = true;
    rig.sink1->Pin()->hold = true;
    ASSERT_EQ(rig.graph->Pause(), S_OK);
    constexpr int kSamples = 3;  // every buffer of the source
    for (int i = 0; i < kSamples; ++i) {
        PushOptions when;
        when.start = i * 1000;
        when.stop = i * 1000 + 1000;
        ASSERT_EQ(rig.source->Push(Picture(uint8_t(i + 1)), when), S_OK);
    }
    // End of stream follows the samples through each queue: once it has arrived, the queues
    // hold no sample any more and only the two sinks do.
    rig.source->EndOfStream();
    ASSERT_TRUE(rig.sink0->Pin()->WaitEnds(1));
    ASSERT_TRUE(rig.sink1->Pin()->WaitEnds(1));

    // While both branches hold them, the source has no free buffer.
    ComPtr<IMediaSample> extra;
    EXPECT_EQ(rig.source->Pin()->GetDeliveryBuffer(&extra, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    std::vector<Received> a = rig.sink0->Pin()->Take();
    std::vector<Received> b = rig.sink1->Pin()->Take();
    ASSERT_EQ(a.size(), size_t(kSamples));
    ASSERT_EQ(b.size(), size_t(kSamples));
    for (int i = 0; i < kSamples; ++i) {
        EXPECT_EQ(a[i].sample, b[i].sample) << "the very same buffer on both branches";
        EXPECT_EQ(a[i].start, i * 1000);
        EXPECT_EQ(a[i].data, Picture(uint8_t(i + 1)));
        EXPECT_EQ(b[i].data, Picture(uint8_t(i + 1)));
    }
    // One branch letting go is not enough; the second release returns the buffer.
    for (Received& r : a)
        r.held.Reset();
    EXPECT_EQ(rig.source->Pin()->GetDeliveryBuffer(&extra, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    b[0].held.Reset();
    EXPECT_EQ(rig.source->Pin()->GetDeliveryBuffer(&extra, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    extra.Reset();
    for (Received& r : b)
        r.held.Reset();
    EXPECT_EQ(rig.graph->Stop(), S_OK);
}

TEST(TeeFilter, WithSecondOutputUnconnectedEverythingGoesToTheFirst)
{
    TeeRig rig;
    ASSERT_EQ(rig.Connect(false), S_OK);
    ASSERT_EQ(rig.graph->Pause(), S_OK);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(rig.source->Push(Picture(uint8_t(i))), S_OK);
    rig.source->EndOfStream();
    ASSERT_TRUE(rig.sink0->Pin()->WaitEnds(1));
    EXPECT_EQ(rig.sink0->Pin()->Count(), 10u);
    EXPECT_EQ(rig.sink1->Pin()->Count(), 0u);
    EXPECT_EQ(rig.graph->Stop(), S_OK);
    // A second run works as well: queues are made again at activation.
    ASSERT_EQ(rig.graph->Pause(), S_OK);
    ASSERT_EQ(rig.source->Push(Picture(7)), S_OK);
    rig.source->EndOfStream();
    ASSERT_TRUE(rig.sink0->Pin()->WaitEnds(2));
    EXPECT_EQ(rig.sink0->Pin()->Count(), 11u);
    EXPECT_EQ(rig.graph->Stop(), S_OK);
}

TEST(TeeFilter, OutputRefusesATypeOtherThanTheInputs)
{
    TeeRig rig;
    ASSERT_EQ(rig.graph->ConnectDirect(rig.source->Pin(), rig.tee->GetPin(0), nullptr), S_OK);
    CMediaType bigger = MakeYv12Type(32, 8);
    EXPECT_FALSE(Succeeded(rig.graph->ConnectDirect(rig.tee->GetPin(1), rig.sink0->Pin(), &bigger)));
    EXPECT_EQ(rig.graph->ConnectDirect(rig.tee->GetPin(1), rig.sink0->Pin(), nullptr), S_OK);
}
