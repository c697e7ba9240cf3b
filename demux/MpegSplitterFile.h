// The MPEG program/transport/PVA stream scanner: finds the multiplex kind, the elementary
// streams with their media descriptions, the time-stamp span and the mux rate, and later
// the next time stamp of a stream while seeking.
//
// Threads: constructed (and scanned) on the thread that connects the splitter's input; then
// used by the demux thread. The stream lists are appended to under m_streamsLock and may be
// read from any thread through Streams()/FindStream(); m_programsLock guards m_programs.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "demux/BaseSplitterFileEx.h"
#include "dvd/DvdDiscInfo.h"

using StreamKey = uint32_t;

enum MultiplexKind : int32_t {
    kMultiplexUnknown = 0,
    kProgramStream = 1,
    kTransportStream = 2,
    kElementaryStream = 3,
    kPvaStream = 4,
};

enum StreamKind : int {
    kVideoStream = 0,
    kAudioStream = 1,
    kSubpictureStream = 2,
    kStreamKindCount = 3,
    kUnclassifiedStream = 3,
};

class CMpegSplitterFile;

struct SplitterStream {
    CMpegSplitterFile* owner = nullptr;
    CMediaType mediaType;
    uint16_t pid = 0;
    uint8_t pesId = 0;
    uint8_t subId = 0;

    StreamKey Key() const { return pid ? StreamKey(pid) : StreamKey(pesId) << 8 | subId; }
    friend bool operator==(const SplitterStream& a, const SplitterStream& b) { return a.Key() == b.Key(); }
};

struct TsProgram {
    struct Entry {
        uint16_t pid = 0;
        uint32_t streamType = 0;
    };
    uint16_t programNumber = 0;
    std::array<Entry, 64> entries{};
};

// What the scanner needs of an HDMV clip: whether the input is HDMV, and per PID the clip's
// stream record. Empty for DVD input.
struct HdmvClipInfo {
    struct Stream {
        uint16_t pid = 0;
        uint8_t streamType = 0;
        char language[4] = {};
        uint8_t sampleRateCode = 0;
    };
    bool hdmv = false;
    std::vector<Stream> streams;

    const Stream* Find(uint16_t pid) const
    {
        for (const Stream& s : streams)
            if (s.pid == pid)
                return &s;
        return nullptr;
    }
};

// The audio and subpicture ids of the title being read ((PES id << 8) | sub-stream id).
struct TitleStreams {
    std::vector<uint32_t> audioIds;
    std::vector<uint32_t> subtitleIds;

    static TitleStreams FromTitle(const DvdTitleInfo& t);
};

class CMpegSplitterFile : public CBaseSplitterFileEx {
public:
    // Scans the stream at once; hr receives the result of Open() (E_FAIL for an unknown
    // multiplex or no time-stamp span, VFW_E_ENCRYPTED when only scrambled packets were met).
    CMpegSplitterFile(IAsyncReader* reader, HRESULT& hr, const TitleStreams* title = nullptr,
                      bool hdmvInput = false, const HdmvClipInfo* clipInfo = nullptr);

    HRESULT Open();
    // Scans [start, stop) and adds the streams found.
    HRESULT ScanRange(int64_t start, int64_t stop);
    // Classifies the packet whose payload starts at the current position and adds it when
    // new. The position is left after the sub-stream header bytes (DVD audio sub-header,
    // LPCM header, subpicture id byte).
    StreamKey ClassifyPacket(uint16_t pid, uint8_t pesId, int64_t payloadLength);
    // From the current position, the PTS (minus firstPts) of the next packet of `key` that
    // has one, the position left at that packet's start code; -1 when none is found.
    int64_t FindNextPts(StreamKey key);
    void AddGraphicsSubtitleStream(uint16_t pid, const char* language);
    // The program whose PMT lists pid, and the entry index; false when none.
    bool ProgramOfPid(uint16_t pid, TsProgram* program, int* index) const;
    void ParseProgramTables(const TsPacketHeader& h);
    void OnSourceComplete() override;

    // The title record the scan stops on; set before Open() runs again or the demux starts.
    void SetTitleStreams(const TitleStreams& title) { m_title = title; }
    void SetTitleStreams(const DvdTitleInfo& title) { m_title = TitleStreams::FromTitle(title); }

    int32_t kind() const { return m_kind; }
    int64_t firstPts() const { return m_firstPts; }
    int64_t lastPts() const { return m_lastPts; }
    int64_t firstPtsPos() const { return m_firstPtsPos; }
    int64_t lastPtsPos() const { return m_lastPtsPos; }
    int32_t rate() const { return m_rate; }
    bool hdmvInput() const { return m_hdmvInput; }

    // A copy of one kind's list, in the order of the ordering rule. Any thread.
    std::vector<SplitterStream> Streams(int kind) const;
    size_t StreamCount(int kind) const;
    // The stream of `key` in that kind's list. Any thread.
    bool FindStream(int kind, StreamKey key, SplitterStream* out = nullptr) const;

    // Whether a precedes b in a stream list.
    bool Precedes(const SplitterStream& a, const SplitterStream& b, int kind) const;

private:
    bool Listed(int kind, StreamKey key) const;
    void Insert(int kind, SplitterStream s);
    void NotePts(int64_t pts);
    void UpdateRate();
    uint32_t StreamTypeOfPid(uint16_t pid) const;

    int32_t m_kind = kMultiplexUnknown;
    int64_t m_firstPts = 0, m_lastPts = 0;
    int64_t m_firstPtsPos = 0, m_lastPtsPos = 0;
    int32_t m_rate = 0;
    bool m_hdmvInput = false;
    HdmvClipInfo m_clipInfo;
    TitleStreams m_title;
    AvcHeader m_avc;
    std::map<uint16_t, uint8_t> m_pidToPesId;

    mutable std::mutex m_streamsLock;  // guards m_streams
    std::vector<SplitterStream> m_streams[kStreamKindCount];

    mutable std::mutex m_programsLock;  // guards m_programs
    std::map<uint16_t, TsProgram> m_programs;
};
