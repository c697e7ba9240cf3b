#include <gtest/gtest.h>

#include "harness/FilterHarness.h"
#include "TestFilters.h"

namespace {

using Kind = RecordedItem::Kind;

TEST(TransformFilter, CallOrder)
{
    CallLog log;
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB, &log), {VideoOf(kTypeA)});
    ASSERT_EQ(h.ConnectInput(), S_OK);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"CheckInputType", "SetMediaType(in)"}));
    ASSERT_EQ(h.ConnectOutput(), S_OK);
    // Offered types are gathered first, then each candidate is checked.
    const std::vector<std::string> output = log.Take();
    const std::vector<std::string> expected{"GetMediaType", "GetMediaType", "CheckTransform", "SetMediaType(out)",
                                            "DecideBufferSize"};
    EXPECT_EQ(output, expected);
    ASSERT_EQ(h.Pause(), S_OK);
    ASSERT_EQ(h.source->PushSample({Ramp(8)}), S_OK);
    ASSERT_EQ(h.Stop(), S_OK);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"StartStreaming", "Transform", "StopStreaming"}));

    CMediaType out;
    h.sink->Pin()->ConnectionMediaType(&out);
    EXPECT_EQ(out.subtype, kTypeB);
}

TEST(TransformFilter, RefusedInputTypeLeavesPinsFree)
{
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeC)});
    EXPECT_EQ(h.ConnectInput(), VFW_E_NO_ACCEPTABLE_TYPES);
    // The output cannot connect before the input.
    EXPECT_EQ(h.ConnectOutput(), VFW_E_NOT_CONNECTED);
    ComPtr<IPin> peer;
    EXPECT_EQ(h.source->Pin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

TEST(TransformFilter, OutputCarriesInputTimesAndFlags)
{
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeA)});
    ASSERT_EQ(h.Connect(), S_OK);
    ASSERT_EQ(h.Run(), S_OK);

    struct Case {
        std::optional<REFERENCE_TIME> start, stop;
        bool sync, disc, preroll;
        HRESULT timeResult;
    };
    const Case cases[] = {
        {0, 400000, true, true, false, S_OK},
        {400000, std::nullopt, false, false, false, VFW_S_ESTIMATED},
        {std::nullopt, std::nullopt, false, false, true, VFW_E_SAMPLE_TIME_NOT_SET},
        {-200000, -1, true, false, true, S_OK},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SampleSpec s;
        s.data = Ramp(100 + i, uint8_t(i));
        s.start = c.start;
        s.stop = c.stop;
        s.syncPoint = c.sync;
        s.discontinuity = c.disc;
        s.preroll = c.preroll;
        ASSERT_EQ(h.source->PushSample(s), S_OK);
    }
    const auto got = h.sink->Samples();
    ASSERT_EQ(got.size(), std::size(cases));
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        EXPECT_EQ(got[i].timeResult, c.timeResult);
        if (c.start) {
            EXPECT_EQ(got[i].start, *c.start);
            EXPECT_EQ(got[i].stop, c.stop ? *c.stop : *c.start + 1);
        }
        EXPECT_EQ(got[i].syncPoint, c.sync);
        EXPECT_EQ(got[i].discontinuity, c.disc);
        EXPECT_EQ(got[i].preroll, c.preroll);
        const auto data = Ramp(100 + i, uint8_t(i));
        EXPECT_EQ(got[i].size, int32_t(data.size()));
    }
    // Same bytes in, same bytes out.
    EXPECT_NE(got[0].checksum, got[1].checksum);
}

TEST(TransformFilter, SkippedAndFailedTransforms)
{
    auto convert = MakeCom<ConvertFilter>(kTypeA, kTypeB);
    convert->dropEvery = 2;
    FilterHarness h(convert, {VideoOf(kTypeA)});
    ASSERT_EQ(h.Connect(), S_OK);
    ASSERT_EQ(h.Run(), S_OK);
    for (int i = 0; i < 4; ++i) {
        REFERENCE_TIME t = i * 10;
        SampleSpec s;
        s.data = Ramp(4);
        s.start = t;
        s.stop = t + 10;
        EXPECT_EQ(h.source->PushSample(s), S_OK);  // a dropped sample is not an error upstream
    }
    const auto got = h.sink->Samples();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].start, 0);
    EXPECT_EQ(got[1].start, 20);

    convert->dropEvery = 0;
    convert->failWith = E_OUTOFMEMORY;
    EXPECT_EQ(h.source->PushSample({Ramp(4)}), E_OUTOFMEMORY);
    EXPECT_EQ(h.sink->SampleCount(), 2u);
}

TEST(TransformFilter, DownstreamFailureReachesUpstream)
{
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeA)});
    ASSERT_EQ(h.Connect(), S_OK);
    ASSERT_EQ(h.Run(), S_OK);
    h.sink->SetReceiveResult(VFW_E_RUNTIME_ERROR);
    EXPECT_EQ(h.source->PushSample({Ramp(4)}), VFW_E_RUNTIME_ERROR);
}

TEST(TransformFilter, EndOfStreamFlushAndSegmentPassThrough)
{
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeA)});
    ASSERT_EQ(h.Connect(), S_OK);
    ASSERT_EQ(h.Run(), S_OK);
    ASSERT_EQ(h.source->PushNewSegment(100, 900, 1.0), S_OK);
    ASSERT_EQ(h.source->PushSample({Ramp(4)}), S_OK);
    ASSERT_EQ(h.source->PushBeginFlush(), S_OK);
    EXPECT_EQ(h.source->PushSample({Ramp(4)}), S_FALSE);  // refused while flushing
    ASSERT_EQ(h.source->PushEndFlush(), S_OK);
    ASSERT_EQ(h.source->PushSample({Ramp(4)}), S_OK);
    ASSERT_EQ(h.source->PushEndOfStream(), S_OK);
    EXPECT_EQ(h.source->PushSample({Ramp(4)}), VFW_E_SAMPLE_REJECTED_EOS);

    std::vector<Kind> kinds;
    for (const RecordedItem& i : h.sink->Items())
        kinds.push_back(i.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::NewSegment, Kind::Sample, Kind::BeginFlush, Kind::EndFlush, Kind::Sample,
                                        Kind::EndOfStream}));
    EXPECT_EQ(h.sink->Items()[0].start, 100);
    EXPECT_EQ(h.sink->Items()[0].stop, 900);
}

TEST(TransformFilter, UnconnectedOutputDropsSamples)
{
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeA)});
    ASSERT_EQ(h.ConnectInput(), S_OK);
    ASSERT_EQ(h.Run(), S_OK);
    EXPECT_EQ(h.source->PushSample({Ramp(4)}), S_OK);
    EXPECT_EQ(h.source->PushEndOfStream(), S_OK);
}

TEST(TransformFilter, OutputPinSeekingReachesUpstream)
{
    FixedSeeking upstream;
    FilterHarness h(MakeCom<ConvertFilter>(kTypeA, kTypeB), {VideoOf(kTypeA)});
    h.source->Pin()->seeking = &upstream;
    ComPtr<IPin> out = GetPin(h.filter.Get(), PinDirection::Output, 0);
    ComPtr<IMediaSeeking> seeking = QueryInterface<IMediaSeeking>(out);
    ASSERT_TRUE(seeking);

    int64_t d = 0;
    EXPECT_EQ(seeking->GetDuration(&d), VFW_E_NOT_CONNECTED);  // input not connected yet
    ASSERT_EQ(h.Connect(), S_OK);
    EXPECT_EQ(seeking->GetDuration(&d), S_OK);
    EXPECT_EQ(d, upstream.duration);
    int64_t pos = 5000000;
    EXPECT_EQ(seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    EXPECT_EQ(upstream.current, 5000000);

    h.source->Pin()->seeking = nullptr;
    EXPECT_EQ(seeking->GetDuration(&d), E_NOTIMPL);  // the upstream offers no seeking
    // The input pin offers none at all.
    EXPECT_FALSE(QueryInterface<IMediaSeeking>(GetPin(h.filter.Get(), PinDirection::Input, 0)));
}

}  // namespace
