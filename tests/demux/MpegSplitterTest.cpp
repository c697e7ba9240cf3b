// The MPEG splitter on authored DVD titles (through the DVD source) and on edited copies of
// their bytes (through a memory source): complete and ordered payloads per stream, the play
// window, stream selection, time-stamp repair, damaged and scrambled input, late or early
// ending audio, seeks past the end, and a run/seek/pause/stop stress run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "demux/MpegSplitterFilter.h"
#include "dvd/DVDReader.h"
#include "graph/FilterGraph.h"
#include "harness/RecordingSink.h"
#include "tests/demux/SplitterTestSupport.h"

namespace {

using namespace std::chrono_literals;
using namespace splittertest;

std::string Disc(const std::string& name) { return std::string(ZDR_TEST_DISCS) + "/" + name; }
std::string TitleVob(const std::string& disc) { return Disc(disc) + "/VIDEO_TS/VTS_01_1.VOB"; }

// Source -> splitter -> one recording sink per output pin.
struct SplitterRig {
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    ComPtr<CBaseFilter> source;
    ComPtr<CMpegSplitterFilter> splitter = MakeCom<CMpegSplitterFilter>();
    std::vector<ComPtr<RecordingSinkFilter>> sinks;
    HRESULT connected = E_FAIL;

    // The first title of an authored disc (an ISO or a folder) through the DVD source.
    static std::unique_ptr<SplitterRig> FromDisc(const std::string& path, int64_t windowMs = 600000)
    {
        auto rig = std::make_unique<SplitterRig>();
        auto reader = MakeCom<CDVDReader>();
        EXPECT_EQ(reader->Load(path, nullptr), S_OK) << path;
        reader->SetArea(0, -1);
        rig->splitter->SetTitleStreams(&reader->DiscInfo().titles[0]);
        if (windowMs)
            rig->splitter->SetTimeWindow(0, windowMs, windowMs);
        rig->source = reader;
        rig->Connect();
        return rig;
    }
    // Bytes of a program stream, with the title record's stream ids.
    static std::unique_ptr<SplitterRig> FromBytes(std::vector<uint8_t> bytes, const DvdTitleInfo& title,
                                                  int64_t windowMs = 600000)
    {
        auto rig = std::make_unique<SplitterRig>();
        rig->source = MakeCom<MemorySourceFilter>(std::move(bytes));
        rig->splitter->SetTitleStreams(&title);
        if (windowMs)
            rig->splitter->SetTimeWindow(0, windowMs, windowMs);
        rig->Connect();
        return rig;
    }

    void Connect()
    {
        graph->AddFilter(source.Get(), "Source");
        graph->AddFilter(splitter.Get(), "Splitter");
        connected = graph->ConnectDirect(source->GetPin(0), splitter->GetPin(0), nullptr);
        if (Failed(connected))
            return;
        for (int i = 0; i + 1 < splitter->GetPinCount(); ++i) {
            auto sink = MakeCom<RecordingSinkFilter>();
            sink->keepData = true;
            graph->AddFilter(sink.Get(), "Sink " + std::to_string(i));
            EXPECT_EQ(graph->ConnectDirect(splitter->GetPin(i), sink->Pin(), nullptr), S_OK);
            sinks.push_back(sink);
        }
    }
    RecordingSinkFilter& Sink(const std::string& pinName)
    {
        for (size_t i = 0; i < sinks.size(); ++i)
            if (splitter->GetPin(int(i))->Name() == pinName)
                return *sinks[i];
        ADD_FAILURE() << "no pin " << pinName;
        return *sinks.at(0);
    }
    StreamKey Key(const std::string& pinName)
    {
        for (auto* pin : splitter->Outputs())
            if (pin->Name() == pinName)
                return StreamKey(splitter->OutputKey(pin));
        return 0xFFFFFFFF;
    }
    bool RunToEnd()
    {
        if (graph->Run() != S_OK)
            return false;
        for (auto& sink : sinks)
            if (!sink->WaitForEndOfStream(20s))
                return false;
        return true;
    }
    ~SplitterRig() { graph->Stop(); }
};

DvdTitleInfo TitleRecord(std::vector<uint32_t> audio, std::vector<uint32_t> subpictures)
{
    DvdTitleInfo t{};
    t.audioCount = int32_t(audio.size());
    for (size_t i = 0; i < audio.size(); ++i)
        t.audioStreamId[i] = audio[i];
    t.subtitleCount = int32_t(subpictures.size());
    for (size_t i = 0; i < subpictures.size(); ++i)
        t.subtitleStreamId[i] = subpictures[i];
    return t;
}

const DvdTitleInfo kSampleTitle = TitleRecord({0xBD80, 0xC000}, {0xBD20, 0xBD21});
const DvdTitleInfo kPalTitle = TitleRecord({0xBD80, 0xBD81, 0xBD88, 0xBDA0}, {0xBD20});

std::vector<uint8_t> PalWithClockRestart();

std::vector<int64_t> Starts(RecordingSinkFilter& sink)
{
    std::vector<int64_t> t;
    for (const auto& s : sink.Samples())
        if (s.timeResult != VFW_E_SAMPLE_TIME_NOT_SET)
            t.push_back(s.start);
    return t;
}

TEST(MpegSplitter, AnAuthoredTitleDeliversEveryPayloadOfEachPinnedStreamOnceInOrder)
{
    auto rig = SplitterRig::FromDisc(Disc("sample") + "/disc.iso");
    ASSERT_EQ(rig->connected, S_OK);
    ASSERT_EQ(rig->splitter->GetPinCount(), 4);
    const char* const names[] = {"Video", "Audio", "Subtitle", "Input"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rig->splitter->GetPin(i)->Name(), names[i]);
    EXPECT_EQ(rig->Key("Video"), 0xE000u);
    EXPECT_EQ(rig->Key("Audio"), 0xBD80u) << "AC-3 precedes MPEG audio";
    EXPECT_EQ(rig->Key("Subtitle"), 0xBD20u);
    ASSERT_TRUE(rig->RunToEnd());

    const auto bytes = ReadFile(TitleVob("sample"));
    const auto walk = WalkPacks(bytes);
    ASSERT_FALSE(walk.empty());
    EXPECT_EQ(rig->splitter->Scanner()->firstPts(), FirstPts(walk) * 10000 / 90);
    for (const char* pin : {"Video", "Audio", "Subtitle"}) {
        SCOPED_TRACE(pin);
        const auto expected = DumpOfWalk(bytes, walk, rig->Key(pin), FirstPts(walk));
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(DumpOfSink(rig->Sink(pin)), expected);
        const auto samples = rig->Sink(pin).Samples();
        for (size_t i = 0; i < samples.size(); ++i)
            EXPECT_EQ(samples[i].discontinuity, i == 0) << i;
    }
    EXPECT_EQ(rig->splitter->LastError(), S_OK);
}

TEST(MpegSplitter, ThePlayWindowStartsWithinThePrerollRuleAndEndsAtItsEnd)
{
    // Without the title's duration the seek goes by the scanner's byte-rate estimate of it,
    // which the start of a short title does not make exact: only the end is checked then.
    struct Case {
        int64_t startMs, lengthMs, durationMs;
        bool landingChecked;
    };
    for (const Case& c : {Case{3000, 3000, 8000, true}, Case{4000, 2000, 8000, true}, Case{4000, 2000, 0, false}}) {
        SCOPED_TRACE(c.startMs);
        auto rig = SplitterRig::FromDisc(Disc("sample") + "/disc.iso", 0);
        ASSERT_EQ(rig->connected, S_OK);
        rig->splitter->SetTimeWindow(c.startMs, c.lengthMs, c.durationMs);
        ASSERT_TRUE(rig->RunToEnd());
        int64_t duration = 0;
        rig->splitter->GetDuration(&duration);
        EXPECT_EQ(duration, c.lengthMs * 10000);

        // The seek probes each stream for a packet between 1.5 s and 1 s before the window's
        // start (or the last one before it when the probe steps over that span) and starts
        // at the earliest such byte position: nothing later than that, nothing far earlier.
        const auto video = Starts(rig->Sink("Video"));
        ASSERT_FALSE(video.empty());
        const int64_t rtMax = c.startMs * 10000 - 10000000;
        const int64_t rtMin = rtMax - 5000000;
        if (c.landingChecked) {
            const auto audio = Starts(rig->Sink("Audio"));
            ASSERT_FALSE(audio.empty());
            EXPECT_LE(std::min(video.front(), audio.front()), rtMax);
            EXPECT_GE(video.front(), rtMin - 15000000);
            EXPECT_GE(audio.front(), rtMin - 20000000);
        }
        // It ends once packet times reach the window's end: one packet at most lies beyond.
        const int64_t end = (c.startMs + c.lengthMs) * 10000;
        int beyond = 0;
        for (auto& sink : rig->sinks)
            for (int64_t t : Starts(*sink))
                beyond += t >= end;
        EXPECT_LE(beyond, 1);
        EXPECT_GE(video.back(), end - 5000000);
    }
}

TEST(MpegSplitter, StreamInfoNamesEndInTheStreamTail)
{
    auto rig = SplitterRig::FromDisc(Disc("sample") + "/disc.iso");
    ASSERT_EQ(rig->connected, S_OK);
    int32_t count = 0;
    ASSERT_EQ(rig->splitter->Count(&count), S_OK);
    ASSERT_EQ(count, 5);
    struct Expected {
        uint32_t group;
        uint32_t flags;
        std::string tail;
        std::string name;  // exact when not empty
    };
    const Expected expected[] = {
        {0, 3, "(0000,e0,00)", ""},
        {1, 3, "(0000,bd,80)", ""},
        {1, 0, "(0000,c0,00)", ""},
        {2, 3, "(0000,bd,20)", "Video - DVD Sub Picture (0000,bd,20)"},
        {2, 0, "(0000,bd,21)", "Video - DVD Sub Picture (0000,bd,21)"},
    };
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        std::string name;
        uint32_t flags = 9, group = 9, lcid = 9;
        CMediaType mt;
        ASSERT_EQ(rig->splitter->Info(i, &mt, &flags, &lcid, &group, &name), S_OK);
        EXPECT_EQ(group, expected[i].group);
        EXPECT_EQ(flags, expected[i].flags);
        EXPECT_EQ(lcid, 0u);
        ASSERT_GE(name.size(), 12u);
        EXPECT_EQ(name.substr(name.size() - 12), expected[i].tail) << name;
        if (!expected[i].name.empty()) {
            EXPECT_EQ(name, expected[i].name);
        }
    }
    std::string name;
    rig->splitter->Info(0, nullptr, nullptr, nullptr, nullptr, &name);
    EXPECT_EQ(name.rfind("Video - MPEG2, ", 0), 0u) << name;
    rig->splitter->Info(1, nullptr, nullptr, nullptr, nullptr, &name);
    EXPECT_EQ(name.rfind("Audio - Dolby Digital, 48.0 kHz, 2 chn", 0), 0u) << name;

    name = "untouched";
    EXPECT_EQ(rig->splitter->Info(count, nullptr, nullptr, nullptr, nullptr, &name), S_OK);
    EXPECT_EQ(name, "untouched");
    EXPECT_EQ(rig->splitter->Enable(1, 0), E_NOTIMPL);
    EXPECT_EQ(rig->splitter->Enable(count, AMSTREAMSELECTENABLE_ENABLE), S_FALSE);
}

TEST(MpegSplitter, EnableMovesTheAudioPinToTheChosenTrack)
{
    auto rig = SplitterRig::FromDisc(Disc("pal") + "/disc.iso");
    ASSERT_EQ(rig->connected, S_OK);
    const StreamKey first = rig->Key("Audio");
    // The best track gets the pin (LPCM, then DTS, AC-3 6ch, AC-3 2ch).
    EXPECT_EQ(first, 0xBDA0u);

    int32_t count = 0;
    rig->splitter->Count(&count);
    int32_t ac3Index = -1, ac3SixIndex = -1;
    for (int i = 0; i < count; ++i) {
        std::string name;
        rig->splitter->Info(i, nullptr, nullptr, nullptr, nullptr, &name);
        if (name.find("(0000,bd,80)") != std::string::npos)
            ac3Index = i;
        if (name.find("(0000,bd,81)") != std::string::npos)
            ac3SixIndex = i;
    }
    ASSERT_GE(ac3Index, 0);
    ASSERT_GE(ac3SixIndex, 0);
    ASSERT_LT(ac3SixIndex, ac3Index) << "6 channels precede 2";

    // A decoder that refuses the type leaves the pin where it was.
    rig->Sink("Audio").accept = [](const CMediaType& t) { return t.subtype != MEDIASUBTYPE_DOLBY_AC3; };
    EXPECT_EQ(rig->splitter->Enable(ac3SixIndex, AMSTREAMSELECTENABLE_ENABLE), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(rig->Key("Audio"), first);
    rig->Sink("Audio").accept = nullptr;

    ASSERT_EQ(rig->splitter->Enable(ac3SixIndex, AMSTREAMSELECTENABLE_ENABLE), S_OK);
    ASSERT_EQ(rig->splitter->Enable(ac3Index, AMSTREAMSELECTENABLE_ENABLE), S_OK);
    EXPECT_EQ(rig->Key("Audio"), 0xBD80u);
    uint32_t flags = 0;
    rig->splitter->Info(ac3Index, nullptr, &flags, nullptr, nullptr, nullptr);
    EXPECT_EQ(flags, 3u);
    rig->splitter->Info(ac3SixIndex, nullptr, &flags, nullptr, nullptr, nullptr);
    EXPECT_EQ(flags, 0u);

    ASSERT_TRUE(rig->RunToEnd());
    auto& sink = rig->Sink("Audio");
    const auto samples = sink.Samples();
    ASSERT_FALSE(samples.empty());
    ASSERT_TRUE(samples[0].mediaType.has_value());
    const auto* wfe = samples[0].mediaType->FormatAs<WaveFormatEx>();
    ASSERT_TRUE(wfe);
    EXPECT_EQ(wfe->nChannels, 2);
    EXPECT_TRUE(samples[0].discontinuity);
    for (size_t i = 1; i < samples.size(); ++i)
        EXPECT_FALSE(samples[i].mediaType.has_value());

    const auto bytes = ReadFile(TitleVob("pal"));
    const auto walk = WalkPacks(bytes);
    EXPECT_EQ(DumpOfSink(sink), DumpOfWalk(bytes, walk, 0xBD80, FirstPts(walk)));
}

TEST(MpegSplitter, TimeStampsJumpingBackAnHourContinueOnAudioAndVideoButNotOnTheSubtitlePin)
{
    // The subpictures show at 1-2 s and 3-4 s; the clock restarts an hour back between them.
    const auto bytes = PalWithClockRestart();
    auto rig = SplitterRig::FromBytes(bytes, kPalTitle);
    ASSERT_EQ(rig->connected, S_OK);
    ASSERT_TRUE(rig->RunToEnd());

    for (const char* pin : {"Video", "Audio"}) {
        SCOPED_TRACE(pin);
        const auto t = Starts(rig->Sink(pin));
        ASSERT_GT(t.size(), 10u);
        for (size_t i = 1; i < t.size(); ++i)
            EXPECT_LT(std::llabs(t[i] - t[i - 1]), 50000000) << i;
        EXPECT_GT(t.back(), 40000000);
        EXPECT_LT(t.back(), 60000000);
    }
    const auto sub = Starts(rig->Sink("Subtitle"));
    ASSERT_GE(sub.size(), 2u);
    EXPECT_GT(sub.front(), 0);
    EXPECT_LT(sub.back(), -3000LL * 10000000) << "the subtitle pin keeps the jump";
}

TEST(MpegSplitter, DamagedSectorsInTheMiddleAreSkippedAndDemuxingGoesOn)
{
    const auto clean = ReadFile(TitleVob("sample"));
    const auto walk = WalkPacks(clean);
    const auto expected = DumpOfWalk(clean, walk, 0xE000, FirstPts(walk));
    for (const char* fixture : {"zeroed-sectors", "garbage-sectors"}) {
        SCOPED_TRACE(fixture);
        auto rig = SplitterRig::FromDisc(Disc("damaged/") + fixture);
        ASSERT_EQ(rig->connected, S_OK);
        ASSERT_TRUE(rig->RunToEnd()) << "end of stream on every pin";
        const auto got = DumpOfSink(rig->Sink("Video"));
        // What lies before and after the damage arrives intact: the first and last units.
        ASSERT_GT(got.size(), expected.size() / 2);
        EXPECT_EQ(got.front(), expected.front());
        EXPECT_EQ(got.back(), expected.back());
        size_t same = 0;
        for (const std::string& line : got)
            same += std::find(expected.begin(), expected.end(), line) != expected.end();
        EXPECT_GT(same, expected.size() * 8 / 10);
    }
}

TEST(MpegSplitter, AudioThatStartsLateOrStopsEarlyLeavesVideoComplete)
{
    const auto clean = ReadFile(TitleVob("sample"));
    const auto walk = WalkPacks(clean);
    const int64_t first = FirstPts(walk);
    struct Case {
        const char* what;
        double from, to;  // the share of the title whose AC-3 packets become padding
    };
    for (const Case& c : {Case{"starts late", 0.0, 0.4}, Case{"stops early", 0.6, 1.0}}) {
        SCOPED_TRACE(c.what);
        auto bytes = clean;
        for (const PesRecord& r : walk)
            if (r.key == 0xBD80 && r.offset >= size_t(c.from * double(bytes.size())) &&
                r.offset < size_t(c.to * double(bytes.size())))
                bytes[r.offset + 3] = 0xBE;
        auto rig = SplitterRig::FromBytes(bytes, kSampleTitle);
        ASSERT_EQ(rig->connected, S_OK);
        ASSERT_EQ(rig->Key("Audio"), 0xBD80u);
        ASSERT_TRUE(rig->RunToEnd());
        EXPECT_EQ(DumpOfSink(rig->Sink("Video")), DumpOfWalk(clean, walk, 0xE000, first));
        const auto audio = Starts(rig->Sink("Audio"));
        ASSERT_FALSE(audio.empty());
        if (c.from == 0.0)
            EXPECT_GT(audio.front(), 20000000);
        else
            EXPECT_LT(audio.back(), 60000000);
        EXPECT_TRUE(rig->Sink("Audio").Samples().front().discontinuity);
    }
}

TEST(MpegSplitter, ScrambledPacketsEndTheDemuxWithAnEncryptedDiscError)
{
    auto bytes = ReadFile(TitleVob("sample"));
    const auto walk = WalkPacks(bytes);
    for (const PesRecord& r : walk)
        if (r.key == 0xE000 && r.offset > bytes.size() * 6 / 10)
            bytes[r.offset + 6] |= 0x10;  // PES_scrambling_control 01
    auto rig = SplitterRig::FromBytes(bytes, kSampleTitle);
    ASSERT_EQ(rig->connected, S_OK);
    ASSERT_TRUE(rig->RunToEnd()) << "end of stream on every pin";
    EXPECT_EQ(rig->splitter->LastError(), VFW_E_ENCRYPTED);
    bool aborted = false;
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    while (rig->graph->GetEvent(&code, &p1, &p2, 0) == S_OK)
        aborted = aborted || (code == EC_ERRORABORT && HRESULT(p1) == VFW_E_ENCRYPTED);
    EXPECT_TRUE(aborted);
    const auto all = DumpOfWalk(bytes, walk, 0xE000, FirstPts(walk));
    EXPECT_LT(DumpOfSink(rig->Sink("Video")).size(), all.size());

    // A title scrambled from its start is refused when the input connects.
    auto refused = SplitterRig::FromDisc(Disc("damaged/scrambled"));
    EXPECT_TRUE(Failed(refused->connected));
}

TEST(MpegSplitter, ASeekPastTheEndEndsTheStreams)
{
    auto rig = SplitterRig::FromDisc(Disc("sample") + "/disc.iso");
    ASSERT_EQ(rig->connected, S_OK);
    ASSERT_EQ(rig->graph->Pause(), S_OK);
    for (auto& sink : rig->sinks)
        ASSERT_TRUE(sink->WaitFor(1, 10s));
    for (auto& sink : rig->sinks)
        sink->Clear();
    int64_t at = 1000LL * 10000000;
    ASSERT_EQ(rig->splitter->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
              S_OK);
    for (auto& sink : rig->sinks)
        EXPECT_TRUE(sink->WaitForEndOfStream(10s));
    EXPECT_EQ(rig->graph->Stop(), S_OK);
}

// Bytes of the pal title whose time stamps restart an hour back at 2.5 s.
std::vector<uint8_t> PalWithClockRestart()
{
    auto bytes = ReadFile(TitleVob("pal"));
    const auto walk = WalkPacks(bytes);
    const int64_t first = FirstPts(walk);
    size_t cut = 0;
    for (const PesRecord& r : walk)
        if (r.hasPts && r.pts90k - first >= 2500 * 90) {
            cut = r.offset;
            break;
        }
    const int64_t hour = 3600LL * 90000;
    for (const PesRecord& r : walk) {
        const int64_t shift = r.offset < cut ? 2 * hour : hour;
        if (r.ptsOffset)
            WritePts(&bytes[r.ptsOffset], ReadPts(&bytes[r.ptsOffset]) + shift);
        if (r.dtsOffset)
            WritePts(&bytes[r.dtsOffset], ReadPts(&bytes[r.dtsOffset]) + shift);
    }
    return bytes;
}

TEST(MpegSplitter, SeeksWithinThePrerollStartAtTheFirstByteAndTimesCountFromTheSeek)
{
    auto rig = SplitterRig::FromDisc(Disc("sample") + "/disc.iso");
    ASSERT_EQ(rig->connected, S_OK);
    ASSERT_EQ(rig->graph->Pause(), S_OK);
    for (auto& sink : rig->sinks)
        ASSERT_TRUE(sink->WaitForEndOfStream(10s));
    for (auto& sink : rig->sinks)
        sink->Clear();
    int64_t at = 5000000;  // 0.5 s: within the 1 s preroll, so from byte 0
    ASSERT_EQ(rig->splitter->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
              S_OK);
    for (auto& sink : rig->sinks)
        ASSERT_TRUE(sink->WaitForEndOfStream(10s));
    const auto bytes = ReadFile(TitleVob("sample"));
    const auto walk = WalkPacks(bytes);
    DumpBuilder shifted;
    for (const PesRecord& r : walk)
        if (r.key == 0xE000)
            shifted.Add(r.hasPts, r.pts90k * 10000 / 90 - FirstPts(walk) * 10000 / 90 - at, &bytes[r.payload],
                        r.payloadSize);
    EXPECT_EQ(DumpOfSink(rig->Sink("Video")), shifted.Finish());
    const auto samples = rig->Sink("Video").Samples();
    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(samples.front().preroll, samples.front().start < 0);
}

TEST(MpegSplitter, ASeekWhoseProbesNeverLandFallsBackToTheByteRate)
{
    // After the clock restart every time stamp lies an hour before the first one: the
    // probes find nothing usable, the seek goes by the byte rate and the time line is
    // shifted so that the packets there count from the seek (less the 1 s preroll).
    auto rig = SplitterRig::FromBytes(PalWithClockRestart(), kPalTitle);
    ASSERT_EQ(rig->connected, S_OK);
    ASSERT_EQ(rig->graph->Pause(), S_OK);
    for (auto& sink : rig->sinks)
        ASSERT_TRUE(sink->WaitForEndOfStream(10s));
    for (auto& sink : rig->sinks)
        sink->Clear();
    int64_t at = 40000000;
    ASSERT_EQ(rig->splitter->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
              S_OK);
    for (auto& sink : rig->sinks)
        ASSERT_TRUE(sink->WaitForEndOfStream(10s));
    const auto video = rig->Sink("Video").Samples();
    ASSERT_FALSE(video.empty());
    int64_t firstTimed = NoTime;
    bool preroll = false;
    for (const auto& s : video)
        if (s.timeResult != VFW_E_SAMPLE_TIME_NOT_SET) {
            firstTimed = s.start;
            preroll = s.preroll;
            break;
        }
    EXPECT_GE(firstTimed, -15000000);
    EXPECT_LE(firstTimed, 0);
    EXPECT_EQ(preroll, firstTimed < 0);
}

// Run, seek, pause and stop in a loop: every cycle must end its threads (no hang) and free
// what it made (the sanitizer builds check leaks). ZDR_STRESS_CYCLES overrides the count.
TEST(MpegSplitterStress, RunSeekPauseStopCycles)
{
    int cycles = 300;
    if (const char* env = std::getenv("ZDR_STRESS_CYCLES"))
        cycles = std::max(1, std::atoi(env));
    auto rig = SplitterRig::FromDisc(Disc("sample") + "/disc.iso");
    ASSERT_EQ(rig->connected, S_OK);
    uint32_t lcg = 12345;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i) {
        lcg = lcg * 1103515245u + 12345u;
        const int64_t at = int64_t(lcg >> 8) % 90000000;
        ASSERT_EQ(rig->graph->Pause(), S_OK);
        int64_t pos = at;
        rig->splitter->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
        if (i % 3 == 0) {
            ASSERT_EQ(rig->graph->Run(), S_OK);
        }
        // After a seek the pins get a new segment and then data or end of stream.
        if (i % 5 == 0) {
            ASSERT_TRUE(rig->sinks[0]->WaitFor(1, 5s)) << "cycle " << i;
        }
        if (i % 7 == 0) {
            ASSERT_EQ(rig->graph->Pause(), S_OK);
        }
        ASSERT_EQ(rig->graph->Stop(), S_OK) << i;
        ASSERT_FALSE(rig->splitter->WorkerRunning());
        for (auto& sink : rig->sinks)
            sink->Clear();
        ASSERT_LT(std::chrono::steady_clock::now() - begin, 120s) << "cycle " << i;
    }
    // After all that, a plain run still delivers the whole title.
    rig->splitter->SetPositions(nullptr, 0, nullptr, 0);
    int64_t zero = 0;
    rig->splitter->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    ASSERT_TRUE(rig->RunToEnd());
    const auto bytes = ReadFile(TitleVob("sample"));
    const auto walk = WalkPacks(bytes);
    EXPECT_EQ(DumpOfSink(rig->Sink("Video")), DumpOfWalk(bytes, walk, 0xE000, FirstPts(walk)));
}

}  // namespace
