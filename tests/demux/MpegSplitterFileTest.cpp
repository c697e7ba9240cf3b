// The stream scanner on authored DVD titles, on streams that ffmpeg writes and on program
// streams built here (rate rule, time stamps, scrambling, damaged input).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "demux/BitWriter.h"
#include "demux/MpegSplitterFile.h"
#include "demux/TestReaders.h"

namespace {

std::string DiscVob(const std::string& disc, int titleset)
{
    char name[32];
    std::snprintf(name, sizeof name, "VTS_%02d_1.VOB", titleset);
    return std::string(ZDR_TEST_DISCS) + "/" + disc + "/VIDEO_TS/" + name;
}

std::string Media(const std::string& name) { return std::string(ZDR_DEMUX_MEDIA) + "/" + name; }

struct Scan {
    ComPtr<IAsyncReader> reader;
    HRESULT hr = E_FAIL;
    std::unique_ptr<CMpegSplitterFile> file;

    Scan(ComPtr<IAsyncReader> r, const TitleStreams* title = nullptr) : reader(std::move(r))
    {
        file = std::make_unique<CMpegSplitterFile>(reader.Get(), hr, title);
    }
    std::vector<StreamKey> Keys(int kind) const
    {
        std::vector<StreamKey> keys;
        for (const SplitterStream& s : file->Streams(kind))
            keys.push_back(s.Key());
        return keys;
    }
};

Scan ScanFile(const std::string& path, const TitleStreams* title = nullptr)
{
    return Scan(MakeCom<FileReader>(path), title);
}

Scan ScanBytes(std::vector<uint8_t> data, const TitleStreams* title = nullptr)
{
    return Scan(MakeCom<MemoryReader>(std::move(data)), title);
}

const WaveFormatEx* Wave(const SplitterStream& s) { return s.mediaType.FormatAs<WaveFormatEx>(); }

}  // namespace

TEST(MpegSplitterFile, AuthoredTitles)
{
    struct Audio {
        StreamKey key;
        Guid subtype;
        int channels;
    };
    struct Case {
        const char* disc;
        int titleset;
        TitleStreams record;
        int width, height, arX, arY;
        int64_t frameDuration;
        std::vector<Audio> audio;  // in list order
        std::vector<StreamKey> subpictures;
        double seconds;
    } cases[] = {
        {"sample", 1, {{0xBD80, 0xC000}, {0xBD20, 0xBD21}}, 720, 480, 16, 9, 333666,
         {{0xBD80, MEDIASUBTYPE_DOLBY_AC3, 2}, {0xC000, MEDIASUBTYPE_MPEG1AudioPayload, 2}}, {0xBD20, 0xBD21}, 8},
        {"sample", 3, {{0xBDA0}, {}}, 720, 480, 16, 9, 333666, {{0xBDA0, MEDIASUBTYPE_DVD_LPCM_AUDIO, 2}}, {0}, 4},
        // LPCM, then DTS, then the 6-channel AC-3 before the 2-channel one.
        {"pal", 1, {{0xBD80, 0xBD81, 0xBD88, 0xBDA0}, {0xBD20}}, 720, 576, 4, 3, 400000,
         {{0xBDA0, MEDIASUBTYPE_DVD_LPCM_AUDIO, 2},
          {0xBD88, MEDIASUBTYPE_DTS, 6},
          {0xBD81, MEDIASUBTYPE_DOLBY_AC3, 6},
          {0xBD80, MEDIASUBTYPE_DOLBY_AC3, 2}},
         {0xBD20}, 5},
        {"noaudio", 1, {}, 720, 576, 4, 3, 400000, {}, {0}, 4},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.disc) + " VTS " + std::to_string(c.titleset);
        Scan s = ScanFile(DiscVob(c.disc, c.titleset), &c.record);
        ASSERT_EQ(s.hr, S_OK) << what;
        EXPECT_EQ(s.file->kind(), kProgramStream) << what;

        const auto video = s.file->Streams(kVideoStream);
        ASSERT_EQ(video.size(), 1u) << what;
        EXPECT_EQ(video[0].Key(), 0xE000u) << what;
        EXPECT_EQ(video[0].mediaType.subtype, MEDIASUBTYPE_MPEG2_VIDEO) << what;
        const auto* vi = video[0].mediaType.FormatAs<Mpeg2VideoInfo>();
        ASSERT_NE(vi, nullptr) << what;
        EXPECT_EQ(vi->hdr.bmiHeader.biWidth, c.width) << what;
        EXPECT_EQ(vi->hdr.bmiHeader.biHeight, c.height) << what;
        EXPECT_EQ(vi->hdr.dwPictAspectRatioX, uint32_t(c.arX)) << what;
        EXPECT_EQ(vi->hdr.dwPictAspectRatioY, uint32_t(c.arY)) << what;
        EXPECT_EQ(vi->hdr.AvgTimePerFrame, c.frameDuration) << what;

        const auto audio = s.file->Streams(kAudioStream);
        ASSERT_EQ(audio.size(), c.audio.size()) << what;
        for (size_t i = 0; i < audio.size(); ++i) {
            EXPECT_EQ(audio[i].Key(), c.audio[i].key) << what << " audio " << i;
            EXPECT_EQ(audio[i].mediaType.subtype, c.audio[i].subtype) << what << " audio " << i;
            ASSERT_NE(Wave(audio[i]), nullptr) << what;
            EXPECT_EQ(Wave(audio[i])->nChannels, c.audio[i].channels) << what << " audio " << i;
            EXPECT_EQ(Wave(audio[i])->nSamplesPerSec, 48000u) << what << " audio " << i;
        }
        EXPECT_EQ(s.Keys(kSubpictureStream), c.subpictures) << what;
        for (const SplitterStream& sp : s.file->Streams(kSubpictureStream))
            EXPECT_EQ(sp.mediaType.subtype, MEDIASUBTYPE_DVD_SUBPICTURE) << what;

        // The time stamps of the whole title span its play time, and the rate gives its length.
        const int64_t length = s.file->Length();
        ASSERT_EQ(s.file->ScanRange(0, length), S_OK) << what;
        const double span = double(s.file->lastPts() - s.file->firstPts()) / 1e7;
        EXPECT_GT(span, c.seconds - 1.0) << what;
        EXPECT_LT(span, c.seconds + 0.1) << what;
        EXPECT_GT(s.file->rate(), 0) << what;
    }
}

TEST(MpegSplitterFile, PlaceholderSubpictureIsFixedSize)
{
    Scan s = ScanFile(DiscVob("noaudio", 1));
    ASSERT_EQ(s.hr, S_OK);
    const auto subs = s.file->Streams(kSubpictureStream);
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_EQ(subs[0].Key(), 0u);
    EXPECT_EQ(subs[0].mediaType.majortype, MEDIATYPE_Video);
    EXPECT_EQ(subs[0].mediaType.formattype, FORMAT_None);
    EXPECT_TRUE(subs[0].mediaType.bFixedSizeSamples);
    EXPECT_EQ(subs[0].mediaType.lSampleSize, 1u);
    EXPECT_TRUE(s.file->Streams(kAudioStream).empty());
}

TEST(MpegSplitterFile, RecordSubpictureIdsAreAddedWhenAbsent)
{
    const TitleStreams record{{0xBD80}, {0xBD21, 0xBD23}};
    Scan s = ScanFile(DiscVob("sample", 2), &record);  // this title has no subpictures
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.Keys(kSubpictureStream), (std::vector<StreamKey>{0xBD21, 0xBD23}));

    const TitleStreams subsOnly{{}, {0xBD21}};
    Scan n = ScanFile(DiscVob("noaudio", 1), &subsOnly);
    ASSERT_EQ(n.hr, S_OK);
    EXPECT_EQ(n.Keys(kSubpictureStream), (std::vector<StreamKey>{0xBD21}));  // no placeholder then
}

TEST(MpegSplitterFile, ScanStopsOnceVideoAndEveryRecordAudioAreFound)
{
    const std::string vob = DiscVob("pal", 1);
    struct Case {
        const char* what;
        TitleStreams record;
        bool whole;  // the scan reads up to the end
    } cases[] = {
        {"all record tracks found", {{0xBD80, 0xBD81, 0xBD88, 0xBDA0}, {0xBD20}}, false},
        {"no record", {}, false},
        {"a record track that never comes", {{0xBD80, 0xBD82}, {}}, true},
    };
    for (const Case& c : cases) {
        auto reader = MakeCom<FileReader>(vob);
        int64_t total = 0, available = 0;
        reader->Length(&total, &available);
        Scan s(reader, &c.record);
        ASSERT_EQ(s.hr, S_OK) << c.what;
        if (c.whole)
            EXPECT_GE(reader->bytesRead, total) << c.what;
        else
            EXPECT_LT(reader->bytesRead, 2 * 131072 + 65536) << c.what;
    }
}

TEST(MpegSplitterFile, ScrambledTitleIsRefusedAsEncrypted)
{
    Scan s = ScanFile(std::string(ZDR_TEST_DISCS) + "/damaged/scrambled/VIDEO_TS/VTS_01_1.VOB");
    EXPECT_EQ(s.hr, VFW_E_ENCRYPTED);
}

TEST(MpegSplitterFile, FindNextPtsStopsAtThePacketStart)
{
    Scan s = ScanFile(DiscVob("pal", 1));
    ASSERT_EQ(s.hr, S_OK);
    const int64_t length = s.file->Length();
    for (StreamKey key : {0xE000u, 0xBD81u, 0xBDA0u}) {
        s.file->Seek(length / 2);
        const int64_t pts = s.file->FindNextPts(key);
        EXPECT_GT(pts, 10000000) << std::hex << key;  // about 2.5 s into a 5 s title
        EXPECT_LT(pts, 40000000) << std::hex << key;
        const uint32_t startCode = uint32_t(s.file->PeekBits(32));
        EXPECT_EQ(startCode, 0x100u | (key >> 8)) << std::hex << key;
        // Asking again from there finds the same packet.
        EXPECT_EQ(s.file->FindNextPts(key), pts) << std::hex << key;
    }
    s.file->Seek(length - 100);
    EXPECT_EQ(s.file->FindNextPts(0xE000), -1);
    s.file->Seek(0);
    EXPECT_EQ(s.file->FindNextPts(0xBD87), -1);  // not in the title
}

TEST(MpegSplitterFile, FfmpegStreams)
{
    struct Case {
        const char* file;
        HRESULT hr;
        int kind;
        int packetLength;
        std::vector<StreamKey> video;
        Guid videoSubtype;
        std::vector<StreamKey> audio;
        uint16_t audioTag;
        int width, height;
    } cases[] = {
        {"mpeg2-mp2.ts", S_OK, kTransportStream, 188, {0x100}, MEDIASUBTYPE_MPEG2_VIDEO, {0x101}, 0x50, 352, 288},
        {"mpeg2-ac3.ts", S_OK, kTransportStream, 188, {0x100}, MEDIASUBTYPE_MPEG2_VIDEO, {0x101}, 0x2000, 352, 288},
        {"h264-aac.ts", S_OK, kTransportStream, 188, {0x100}, MEDIASUBTYPE_AVC1, {0x101}, 0xFF, 352, 288},
        {"mpeg2-mp2.m2ts", S_OK, kTransportStream, 192, {0x1011}, MEDIASUBTYPE_MPEG2_VIDEO, {0x1100}, 0x50, 352, 288},
        {"mpeg1.mpg", S_OK, kProgramStream, 0, {0xE000}, MEDIASUBTYPE_MPEG1Payload, {0xC000}, 0x50, 352, 288},
        // Bare elementary streams are no multiplex.
        {"raw.m2v", E_FAIL},
        {"raw.mp2", E_FAIL},
        {"raw.ac3", E_FAIL},
    };
    for (const Case& c : cases) {
        Scan s = ScanFile(Media(c.file));
        ASSERT_EQ(s.hr, c.hr) << c.file;
        if (Failed(c.hr))
            continue;
        EXPECT_EQ(s.file->kind(), c.kind) << c.file;
        if (c.packetLength) {
            EXPECT_EQ(s.file->tsPacketLength(), c.packetLength) << c.file;
        }
        EXPECT_EQ(s.Keys(kVideoStream), c.video) << c.file;
        EXPECT_EQ(s.Keys(kAudioStream), c.audio) << c.file;
        EXPECT_EQ(s.Keys(kSubpictureStream), std::vector<StreamKey>{0}) << c.file;
        const auto video = s.file->Streams(kVideoStream);
        ASSERT_EQ(video.size(), 1u) << c.file;
        EXPECT_EQ(video[0].mediaType.subtype, c.videoSubtype) << c.file;
        const BitmapInfoHeader* bmi = video[0].mediaType.VideoBitmapHeader();
        ASSERT_NE(bmi, nullptr) << c.file;
        EXPECT_EQ(bmi->biWidth, c.width) << c.file;
        EXPECT_EQ(bmi->biHeight, c.height) << c.file;
        // 25 frames per second; the duration sits at the same offset in every video format block.
        const auto* vih = video[0].mediaType.FormatAs<VideoInfoHeader>();
        ASSERT_NE(vih, nullptr) << c.file;
        EXPECT_EQ(vih->AvgTimePerFrame, 400000) << c.file;
        const auto audio = s.file->Streams(kAudioStream);
        ASSERT_EQ(audio.size(), 1u) << c.file;
        EXPECT_EQ(Wave(audio[0])->wFormatTag, c.audioTag) << c.file;
        EXPECT_EQ(Wave(audio[0])->nSamplesPerSec, 48000u) << c.file;
        EXPECT_GT(s.file->rate(), 0) << c.file;
    }
}

TEST(MpegSplitterFile, TransportProgramTables)
{
    Scan s = ScanFile(Media("mpeg2-ac3.ts"));
    ASSERT_EQ(s.hr, S_OK);
    struct Case {
        uint16_t pid;
        bool found;
        uint32_t streamType;
    } cases[] = {{0x100, true, 0x02}, {0x101, true, 0x81}, {0x102, false, 0}, {0, false, 0}};
    for (const Case& c : cases) {
        TsProgram program;
        int index = -1;
        ASSERT_EQ(s.file->ProgramOfPid(c.pid, &program, &index), c.found) << c.pid;
        if (c.found) {
            EXPECT_EQ(program.entries[size_t(index)].streamType, c.streamType) << c.pid;
            EXPECT_EQ(program.programNumber, 1) << c.pid;
        }
    }
}

TEST(MpegSplitterFile, TransportStreamAfterATFrcHeader)
{
    std::vector<uint8_t> data = {'T', 'F', 'r', 'c'};
    data.resize(1660, 0x47);  // sync-like filler that must not be taken for packets
    const auto ts = ReadWholeFile(Media("mpeg2-mp2.ts"));
    data.insert(data.end(), ts.begin(), ts.end());
    Scan s = ScanBytes(data);
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.file->kind(), kTransportStream);
    EXPECT_EQ(s.Keys(kVideoStream), std::vector<StreamKey>{0x100});
}

// ---- Program streams built here ----

namespace {

std::vector<uint8_t> SequenceHeaderBytes()
{
    BitWriter w;
    w.Bytes({0, 0, 1, 0xB3}).Put(720, 12).Put(576, 12).Put(2, 4).Put(3, 4).Put(15000, 18).Put(1, 1).Put(112, 10);
    w.Put(0, 3).Bytes({0, 0, 1, 0xB5}).Put(1, 4).Put(0, 1).Put(4, 3).Put(8, 4).Put(0, 1).Put(1, 2).Put(0, 4);
    w.Put(0, 12).Put(1, 1).Put(0, 8).Put(0, 1).Put(0, 7);
    return w.Done();
}

struct PsBuilder {
    unsigned muxRate = 25200;  // in 50-byte units
    bool packs = true;
    std::vector<uint8_t> out;

    void Pack()
    {
        if (!packs)
            return;
        BitWriter w;
        w.Bytes({0, 0, 1, 0xBA}).Put(1, 2).Put(0, 3).Put(1, 1).Put(0, 15).Put(1, 1).Put(0, 15).Put(1, 1).Put(0, 9);
        w.Put(1, 1).Put(muxRate, 22).Put(3, 2).Put(0x1F, 5).Put(0, 3);
        const auto b = w.Done();
        out.insert(out.end(), b.begin(), b.end());
    }
    // A PES packet of `size` bytes in all (header included).
    void Pes(uint8_t id, int64_t pts90, size_t size, const std::vector<uint8_t>& payloadStart = {},
             unsigned scrambling = 0)
    {
        BitWriter w;
        const bool stamped = pts90 >= 0;
        const size_t header = 9 + (stamped ? 5 : 0);
        w.Bytes({0, 0, 1, id}).Put(size - 6, 16).Put(2, 2).Put(scrambling, 2).Put(0, 4).Put(stamped ? 2 : 0, 2).Put(0, 6);
        w.Put(stamped ? 5 : 0, 8);
        if (stamped)
            w.TimeStamp(2, uint64_t(pts90));
        auto b = w.Done();
        b.insert(b.end(), payloadStart.begin(), payloadStart.end());
        b.resize(header + std::max(payloadStart.size(), size - header), 0xAA);
        out.insert(out.end(), b.begin(), b.end());
    }
};

// Video packs of `packSize` bytes, one PTS every `ticks` (90 kHz) per pack.
std::vector<uint8_t> VideoProgramStream(unsigned muxRate, size_t packSize, int64_t ticks, int packs,
                                        unsigned scrambling = 0, bool stamps = true)
{
    PsBuilder b;
    b.muxRate = muxRate;
    for (int i = 0; i < packs; ++i) {
        b.Pack();
        b.Pes(0xE0, stamps ? 90000 + i * ticks : -1, packSize - 14, i == 0 ? SequenceHeaderBytes() : std::vector<uint8_t>{},
              scrambling);
    }
    return b.out;
}

}  // namespace

TEST(MpegSplitterFile, RateRule)
{
    // Packs of B bytes one millisecond apart: a detected rate of 1000 x B bytes per second.
    struct Case {
        const char* what;
        unsigned muxRate;  // 50-byte units
        size_t packSize;
        int32_t expected;
    } cases[] = {
        {"detected 5% above the pack rate", 25200, 1323, 1323000},
        {"detected 20% above and far away: the pack rate stays", 25200, 1512, 1260000},
        {"detected below the pack rate", 25200, 1000, 1000000},
        {"detected 20% above but within 51200", 3400, 204, 204000},
        {"no pack rate", 0, 1500, 1500000},
    };
    for (const Case& c : cases) {
        Scan s = ScanBytes(VideoProgramStream(c.muxRate, c.packSize, 90, 200));
        ASSERT_EQ(s.hr, S_OK) << c.what;
        EXPECT_EQ(s.file->rate(), c.expected) << c.what;
    }
}

TEST(MpegSplitterFile, RefusedProgramStreams)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        HRESULT hr;
    } cases[] = {
        {"no time stamps", VideoProgramStream(25200, 2048, 90, 100, 0, false), E_FAIL},
        {"a single time stamp", VideoProgramStream(25200, 2048, 90, 1), E_FAIL},
        {"scrambled PES packets", VideoProgramStream(25200, 2048, 90, 100, 1), VFW_E_ENCRYPTED},
        {"empty", {}, E_FAIL},
    };
    for (const Case& c : cases) {
        Scan s = ScanBytes(c.data);
        EXPECT_EQ(s.hr, c.hr) << c.what;
    }
}

TEST(MpegSplitterFile, BarePesSequenceIsAnElementaryStream)
{
    PsBuilder b;
    b.packs = false;
    for (int i = 0; i < 50; ++i)
        b.Pes(0xE0, 90000 + i * 3600, 2000, i == 0 ? SequenceHeaderBytes() : std::vector<uint8_t>{});
    Scan s = ScanBytes(b.out);
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.file->kind(), kElementaryStream);
    EXPECT_EQ(s.Keys(kVideoStream), std::vector<StreamKey>{0xE000});
}

TEST(MpegSplitterFile, LpcmHeaderIsConsumedForListedStreams)
{
    // DVD audio sub-header (id, frame count, first access unit) and the 3-byte LPCM header.
    const std::vector<uint8_t> lpcm = {0xA0, 0x01, 0x00, 0x04, 0x00, 0x01, 0x80};
    PsBuilder b;
    std::vector<int64_t> payloads;
    for (int i = 0; i < 20; ++i) {
        b.Pack();
        b.Pes(0xE0, 90000 + i * 90, 1000, i == 0 ? SequenceHeaderBytes() : std::vector<uint8_t>{});
        b.Pack();
        payloads.push_back(int64_t(b.out.size()) + 14);
        b.Pes(0xBD, 90000 + i * 90, 1000, lpcm);
    }
    Scan s = ScanBytes(b.out);
    ASSERT_EQ(s.hr, S_OK);
    ASSERT_EQ(s.Keys(kAudioStream), std::vector<StreamKey>{0xBDA0});
    for (int64_t at : {payloads[3], payloads[10]}) {
        s.file->Seek(at);
        EXPECT_EQ(s.file->ClassifyPacket(0, 0xBD, 986), 0xBDA0u);
        EXPECT_EQ(s.file->Position(), at + 7);
    }
}

TEST(MpegSplitterFile, OrderingRuleTable)
{
    Scan s = ScanBytes({});
    auto audio = [](StreamKey key, Guid subtype, uint16_t tag, int channels, int rate, int bits = 0) {
        SplitterStream st;
        st.pesId = uint8_t(key >> 8);
        st.subId = uint8_t(key);
        WaveFormatEx wfx;
        wfx.wFormatTag = tag;
        wfx.nChannels = uint16_t(channels);
        wfx.nSamplesPerSec = uint32_t(rate);
        wfx.wBitsPerSample = uint16_t(bits);
        st.mediaType = CMediaType(MEDIATYPE_Audio, subtype, FORMAT_WaveFormatEx);
        st.mediaType.SetFormat(&wfx, sizeof wfx);
        return st;
    };
    SplitterStream nonWave;
    nonWave.pesId = 0xBD;
    nonWave.subId = 0x70;
    nonWave.mediaType = CMediaType(MEDIATYPE_Audio, GUID_NULL, FORMAT_None);
    const auto lpcm = audio(0xBDA1, MEDIASUBTYPE_DVD_LPCM_AUDIO, 1, 2, 48000, 16);
    const auto dts = audio(0xBD88, MEDIASUBTYPE_DTS, 0x2001, 6, 48000);
    const auto ac3six = audio(0xBD81, MEDIASUBTYPE_DOLBY_AC3, 0x2000, 6, 48000);
    const auto ac3two = audio(0xBD80, MEDIASUBTYPE_DOLBY_AC3, 0x2000, 2, 48000);
    const auto ac3twoAgain = audio(0xBD82, MEDIASUBTYPE_DOLBY_AC3, 0x2000, 2, 48000);
    const auto ac3low = audio(0xBD83, MEDIASUBTYPE_DOLBY_AC3, 0x2000, 2, 44100);
    const auto mpeg = audio(0xC000, MEDIASUBTYPE_MPEG1AudioPayload, 0x50, 2, 48000);
    struct Case {
        const char* what;
        const SplitterStream& a;
        const SplitterStream& b;
        bool precedes;
    } cases[] = {
        {"LPCM before DTS", lpcm, dts, true},
        {"DTS before AC-3", dts, ac3six, true},
        {"AC-3 before MPEG", ac3two, mpeg, true},
        {"more channels first", ac3six, ac3two, true},
        {"fewer channels later", ac3two, ac3six, false},
        {"higher rate first", ac3two, ac3low, true},
        {"equal quality: smaller key", ac3two, ac3twoAgain, true},
        {"equal quality: larger key later", ac3twoAgain, ac3two, false},
        {"wave before non-wave", mpeg, nonWave, true},
        {"non-wave after wave", nonWave, mpeg, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(s.file->Precedes(c.a, c.b, kAudioStream), c.precedes) << c.what;
    EXPECT_TRUE(s.file->Precedes(ac3six, ac3two, kSubpictureStream) == false);  // other kinds: by key
}

TEST(MpegSplitterFile, DamagedInputNeverReadsOutOfBounds)
{
    const auto good = VideoProgramStream(25200, 2048, 90, 64);
    std::vector<std::vector<uint8_t>> inputs;
    // Cut at awkward places: inside a pack header, a PES header, a sequence header.
    for (size_t cut : {size_t(5), size_t(16), size_t(30), size_t(2048 + 7), good.size() - 3})
        inputs.emplace_back(good.begin(), good.begin() + long(cut));
    // PES lengths that point past the end.
    auto longPes = good;
    for (size_t at = 14; at + 6 < longPes.size(); at += 2048)
        longPes[at + 4] = longPes[at + 5] = 0xFF;
    inputs.push_back(longPes);
    std::mt19937 rng(3);
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> noise(70000);
        for (auto& b : noise)
            b = uint8_t(rng() % (i < 4 ? 256 : 3));  // plain noise, and noise rich in 00 00 01
        inputs.push_back(noise);
        auto flipped = good;
        for (int k = 0; k < 200; ++k)
            flipped[rng() % flipped.size()] ^= uint8_t(1 << (rng() % 8));
        inputs.push_back(flipped);
    }
    for (const auto& data : inputs) {
        Scan s = ScanBytes(data);
        if (Succeeded(s.hr)) {
            s.file->Seek(0);
            s.file->FindNextPts(0xE000);
            s.file->ScanRange(0, s.file->Length());
        }
    }
    Scan noise = ScanBytes(inputs[inputs.size() - 4]);
    EXPECT_TRUE(Failed(noise.hr));
}

TEST(MpegSplitterFile, CompletionRefinesTheRate)
{
    auto reader = MakeCom<MemoryReader>(VideoProgramStream(25200, 1323, 90, 400));
    reader->SetStreaming(true);
    auto& data = reader->Data();
    const auto full = data;
    data.resize(full.size() / 2);
    HRESULT hr;
    CMpegSplitterFile f(reader.Get(), hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_TRUE(f.IsStreaming());
    data = full;
    reader->SetStreaming(false);
    f.Seek(100);
    f.ReadBits(8);  // the first read after completion runs the refinement
    EXPECT_TRUE(f.IsRandomAccess());
    EXPECT_EQ(f.Position(), 101);
    EXPECT_EQ(f.rate(), 1323000);
    EXPECT_GT(f.lastPtsPos(), int64_t(full.size()) - 2000);
}

TEST(MpegSplitterFile, TitleRecordIds)
{
    DvdTitleInfo t{};
    t.audioCount = 2;
    t.audioStreamId[0] = 0xFFFFBD80;  // bits above 15 are not part of the id
    t.audioStreamId[1] = 0xC000;
    t.subtitleCount = -1;
    TitleStreams s = TitleStreams::FromTitle(t);
    EXPECT_EQ(s.audioIds, (std::vector<uint32_t>{0xBD80, 0xC000}));
    EXPECT_TRUE(s.subtitleIds.empty());
    t.audioCount = 99;  // more than the record holds
    EXPECT_EQ(TitleStreams::FromTitle(t).audioIds.size(), size_t(kDvdMaxStreams));
}
