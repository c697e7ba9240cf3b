// Frame assembly of the MPEG splitter's output pins on a transport stream that ffmpeg wrote
// (H.264 with access-unit delimiters, AAC in ADTS): the audio pin delivers each AAC frame
// without its ADTS header, the video pin one access unit per sample as length-prefixed NAL
// units. Checked against an independent walk of the transport packets.
#include <gtest/gtest.h>

#include <chrono>

#include "demux/MpegSplitterFilter.h"
#include "graph/FilterGraph.h"
#include "harness/RecordingSink.h"
#include "tests/demux/SplitterTestSupport.h"

namespace {

using namespace std::chrono_literals;
using namespace splittertest;

// The PES payloads of one PID concatenated (ISO/IEC 13818-1 2.4.3.2, 2.4.3.6).
std::vector<uint8_t> PidPayload(const std::vector<uint8_t>& ts, uint16_t pid)
{
    std::vector<uint8_t> out;
    for (size_t off = 0; off + 188 <= ts.size(); off += 188) {
        const uint8_t* p = &ts[off];
        if (p[0] != 0x47 || ((p[1] & 0x1F) << 8 | p[2]) != pid)
            continue;
        const bool start = p[1] & 0x40;
        const int afc = p[3] >> 4 & 3;
        size_t i = 4;
        if (afc & 2)
            i += 1 + p[4];
        if (!(afc & 1) || i >= 188)
            continue;
        if (start)
            i += 9 + p[i + 8];  // PES header with its optional fields
        if (i < 188)
            out.insert(out.end(), p + i, p + 188);
    }
    return out;
}

std::vector<uint16_t> PesPids(const std::vector<uint8_t>& ts, uint8_t idMask, uint8_t idValue)
{
    std::vector<uint16_t> pids;
    for (size_t off = 0; off + 188 <= ts.size(); off += 188) {
        const uint8_t* p = &ts[off];
        const uint16_t pid = uint16_t((p[1] & 0x1F) << 8 | p[2]);
        if (!(p[1] & 0x40) || pid < 16)
            continue;
        size_t i = 4;
        if ((p[3] >> 4 & 3) & 2)
            i += 1 + p[4];
        if (i + 4 <= 188 && p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & idMask) == idValue &&
            std::find(pids.begin(), pids.end(), pid) == pids.end())
            pids.push_back(pid);
    }
    return pids;
}

TEST(FrameAssembly, TransportStreamAacAndH264ArriveAsFramesAndAccessUnits)
{
    const auto ts = ReadFile(std::string(ZDR_DEMUX_MEDIA) + "/h264-aac.ts");
    ASSERT_GT(ts.size(), 188u * 100);
    const auto audioPids = PesPids(ts, 0xE0, 0xC0);
    const auto videoPids = PesPids(ts, 0xF0, 0xE0);
    ASSERT_EQ(audioPids.size(), 1u);
    ASSERT_EQ(videoPids.size(), 1u);

    auto graph = MakeCom<CFilterGraph>();
    auto source = MakeCom<MemorySourceFilter>(ts);
    auto splitter = MakeCom<CMpegSplitterFilter>();
    splitter->SetTimeWindow(0, 600000, 600000);
    graph->AddFilter(source.Get(), "Source");
    graph->AddFilter(splitter.Get(), "Splitter");
    ASSERT_EQ(graph->ConnectDirect(source->GetPin(0), splitter->GetPin(0), nullptr), S_OK);
    std::map<std::string, ComPtr<RecordingSinkFilter>> sinks;
    for (int i = 0; i + 1 < splitter->GetPinCount(); ++i) {
        auto sink = MakeCom<RecordingSinkFilter>();
        sink->keepData = true;
        graph->AddFilter(sink.Get(), "Sink " + std::to_string(i));
        ASSERT_EQ(graph->ConnectDirect(splitter->GetPin(i), sink->Pin(), nullptr), S_OK);
        sinks[splitter->GetPin(i)->Name()] = sink;
    }
    ASSERT_TRUE(sinks.count("Video") && sinks.count("Audio"));
    ASSERT_EQ(graph->Run(), S_OK);
    ASSERT_TRUE(sinks["Video"]->WaitForEndOfStream(10s));
    ASSERT_TRUE(sinks["Audio"]->WaitForEndOfStream(10s));
    graph->Stop();

    // AAC: the ADTS frames of the PID, each delivered without its 7- or 9-byte header.
    const auto adts = PidPayload(ts, audioPids[0]);
    std::vector<uint32_t> expectedFrames;
    for (size_t i = 0; i + 7 <= adts.size();) {
        ASSERT_EQ(adts[i], 0xFF);
        const size_t length = size_t((adts[i + 3] & 3) << 11 | adts[i + 4] << 3 | adts[i + 5] >> 5);
        const size_t header = (adts[i + 1] & 1) ? 7 : 9;
        ASSERT_GT(length, header);
        if (i + length > adts.size())
            break;
        expectedFrames.push_back(Checksum(&adts[i + header], length - header));
        i += length;
    }
    std::vector<uint32_t> gotFrames;
    for (const auto& s : sinks["Audio"]->Samples())
        gotFrames.push_back(s.checksum);
    ASSERT_GT(expectedFrames.size(), 50u);
    // The last frame waits for what follows it (the end of the stream leaves it pending).
    ASSERT_GE(gotFrames.size() + 1, expectedFrames.size());
    ASSERT_LE(gotFrames.size(), expectedFrames.size());
    EXPECT_TRUE(std::equal(gotFrames.begin(), gotFrames.end(), expectedFrames.begin()));

    // H.264: every sample is whole length-prefixed NAL units starting with a delimiter, and
    // the NAL units in order are those of the stream.
    const auto annexB = PidPayload(ts, videoPids[0]);
    std::vector<uint32_t> expectedNals;
    size_t auds = 0;
    for (size_t i = 0; i + 3 <= annexB.size();) {
        if (!(annexB[i] == 0 && annexB[i + 1] == 0 && annexB[i + 2] == 1)) {
            ++i;
            continue;
        }
        size_t end = i + 3;
        while (end + 3 <= annexB.size() && !(annexB[end] == 0 && annexB[end + 1] == 0 && annexB[end + 2] == 1))
            ++end;
        if (end + 3 > annexB.size())
            end = annexB.size();
        size_t last = end;
        while (last > i + 3 && annexB[last - 1] == 0)
            --last;
        auds += (annexB[i + 3] & 0x1F) == 9;
        expectedNals.push_back(Checksum(&annexB[i + 3], last - i - 3));
        i = end;
    }
    std::vector<uint32_t> gotNals;
    const auto video = sinks["Video"]->Samples();
    ASSERT_FALSE(video.empty());
    for (const auto& s : video) {
        ASSERT_GE(s.data.size(), 5u);
        EXPECT_EQ(s.data[4] & 0x1F, 9) << "an access unit starts with its delimiter";
        EXPECT_NE(s.timeResult, VFW_E_SAMPLE_TIME_NOT_SET) << "each access unit has its packet's time";
        for (size_t i = 0; i + 4 <= s.data.size();) {
            const size_t n = size_t(s.data[i]) << 24 | size_t(s.data[i + 1]) << 16 | size_t(s.data[i + 2]) << 8 |
                             s.data[i + 3];
            ASSERT_LE(i + 4 + n, s.data.size());
            gotNals.push_back(Checksum(&s.data[i + 4], n));
            i += 4 + n;
        }
    }
    // The access units still open at the end stay pending.
    EXPECT_GE(video.size() + 2, auds);
    ASSERT_LE(gotNals.size(), expectedNals.size());
    EXPECT_TRUE(std::equal(gotNals.begin(), gotNals.end(), expectedNals.begin()));
    EXPECT_GT(gotNals.size(), expectedNals.size() * 9 / 10);
}

}  // namespace
