#include "demux/MpegSplitterFile.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>

namespace {

constexpr int64_t kWindowSize = 131072;
constexpr int kWindowCount = 40;
constexpr int64_t kCompletionScan = 512000;

bool IsPesId(uint8_t code) { return code >= 0xBD && code <= 0xEF; }

}  // namespace

TitleStreams TitleStreams::FromTitle(const DvdTitleInfo& t)
{
    TitleStreams s;
    const int audio = std::clamp<int32_t>(t.audioCount, 0, kDvdMaxStreams);
    const int subs = std::clamp<int32_t>(t.subtitleCount, 0, kDvdMaxStreams);
    for (int i = 0; i < audio; ++i)
        s.audioIds.push_back(t.audioStreamId[i] & 0xFFFF);
    for (int i = 0; i < subs; ++i)
        s.subtitleIds.push_back(t.subtitleStreamId[i] & 0xFFFF);
    return s;
}

CMpegSplitterFile::CMpegSplitterFile(IAsyncReader* reader, HRESULT& hr, const TitleStreams* title,
                                     bool hdmvInput, const HdmvClipInfo* clipInfo)
    : CBaseSplitterFileEx(reader, hr, 65536, false, true), m_hdmvInput(hdmvInput)
{
    if (title)
        m_title = *title;
    if (clipInfo)
        m_clipInfo = *clipInfo;
    if (Failed(hr))
        return;
    if (auto sync = QueryInterface<ISyncReader>(reader))
        sync->SetPtsOffset(&m_ptsOffset);
    hr = Open();
}

HRESULT CMpegSplitterFile::Open()
{
    // Multiplex detection.
    m_kind = kMultiplexUnknown;
    m_tsPacketLength = 0;
    Seek(0);
    if (PeekBits(32) == 0x54467263)  // "TFrc": transport packets follow a 1660-byte header
        Seek(1660);
    {
        int found = 0;
        TsPacketHeader h;
        while (found < 4 && ReadTsHeader(h, true)) {
            ++found;
            Seek(h.next);
        }
        if (found == 4)
            m_kind = kTransportStream;
        else
            m_tsPacketLength = 0;
    }
    if (m_kind == kMultiplexUnknown) {
        Seek(0);
        int found = 0;
        PvaHeader h;
        while (found < 4 && ReadPvaHeader(h, true)) {
            ++found;
            Skip(h.length);
        }
        if (found == 4)
            m_kind = kPvaStream;
    }
    if (m_kind == kMultiplexUnknown) {
        Seek(0);
        int codes = 0;
        uint8_t code = 0;
        while (m_kind == kMultiplexUnknown && (codes < 4 || Position() < 65536) && NextStartCode(code, 65536)) {
            ++codes;
            if (code == 0xBA) {
                PackHeader h;
                if (ReadPackHeader(h)) {
                    m_kind = kProgramStream;
                    m_rate = int32_t(std::min<int64_t>(h.bitrate / 8, INT32_MAX));
                }
            } else if ((code >= 0xC0 && code <= 0xEF) || code == 0xBD) {
                PesHeader h;
                if (ReadPesHeader(h, code)) {
                    Skip(h.length);
                    if (PeekBits(24) == 0x000001)
                        m_kind = kElementaryStream;
                }
            }
        }
    }
    Seek(0);
    if (m_kind == kMultiplexUnknown)
        return E_FAIL;

    // Initial scan.
    m_firstPts = m_firstPtsPos = INT64_MAX;
    m_lastPts = m_lastPtsPos = 0;
    HRESULT hr = E_FAIL;
    for (int i = 0; i < kWindowCount; ++i) {
        const int64_t start = i * kWindowSize;
        const int64_t length = Length();
        // Past the end the last window's result stands.
        if (start > length || (i > 0 && start == length))
            break;
        const int64_t end = std::min(start + kWindowSize, length);
        hr = ScanRange(start, end);
        // The demux loop stops at the first scrambled packet, so such a title cannot be read.
        if (hr == VFW_E_ENCRYPTED)
            return hr;
        if (Failed(hr))
            continue;
        if (m_lastPtsPos <= m_firstPtsPos || m_lastPts <= m_firstPts) {
            hr = E_FAIL;
            continue;
        }
        bool allAudio = StreamCount(kVideoStream) > 0;
        for (size_t a = 0; allAudio && a < m_title.audioIds.size(); ++a)
            allAudio = Listed(kAudioStream, StreamKey(m_title.audioIds[a]));
        if (allAudio)
            break;
    }
    if (Failed(hr))
        return hr;

    for (const uint32_t id : m_title.subtitleIds) {
        SplitterStream s;
        s.pesId = uint8_t(id >> 8);
        s.subId = uint8_t(id);
        if (s.Key() == 0 || Listed(kSubpictureStream, s.Key()))
            continue;
        ReadDvdSubpicture(&s.mediaType);
        Insert(kSubpictureStream, s);
    }

    UpdateRate();

    if (StreamCount(kVideoStream) > 0) {
        if (!m_hdmvInput && StreamCount(kSubpictureStream) == 0) {
            SplitterStream s;
            ReadDvdSubpicture(&s.mediaType);
            s.mediaType.bFixedSizeSamples = true;
            s.mediaType.lSampleSize = 1;
            Insert(kSubpictureStream, s);
        } else if (m_hdmvInput) {
            AddGraphicsSubtitleStream(1, "---");
        }
    }
    Seek(0);
    return S_OK;
}

void CMpegSplitterFile::UpdateRate()
{
    if (m_lastPts <= m_firstPts || m_lastPtsPos <= m_firstPtsPos || m_firstPts == INT64_MAX)
        return;
    const long double detected =
        10000000.0L * (m_lastPtsPos - m_firstPtsPos) / (long double)(m_lastPts - m_firstPts);
    const int32_t d = int32_t(std::min<long double>(detected, INT32_MAX));
    if (m_rate == 0 || double(d) / m_rate < 1.1 || std::llabs(int64_t(d) - m_rate) < 51200)
        m_rate = d;
}

void CMpegSplitterFile::NotePts(int64_t pts)
{
    if (m_firstPts == INT64_MAX) {
        m_firstPts = pts;
        m_firstPtsPos = Position();
    } else if (pts > m_firstPts && pts > m_lastPts) {
        m_lastPts = pts;
        m_lastPtsPos = Position();
    }
}

HRESULT CMpegSplitterFile::ScanRange(int64_t start, int64_t stop)
{
    Seek(start);
    auto below = [&]() { return Position() < std::min(stop, Length()); };

    if (m_kind == kProgramStream || m_kind == kElementaryStream) {
        uint8_t code = 0;
        while (below() && NextStartCode(code, 65536)) {
            if (code == 0xBA) {
                PackHeader h;
                ReadPackHeader(h);
            } else if (code == 0xBB) {
                SystemHeader h;
                ReadSystemHeader(h);
            } else if (IsPesId(code)) {
                PesHeader h;
                if (!ReadPesHeader(h, code))
                    continue;
                if (h.kind == 2 && h.scrambling)
                    return VFW_E_ENCRYPTED;
                if (h.hasPts)
                    NotePts(h.pts);
                const int64_t payload = Position();
                ClassifyPacket(0, code, h.length);
                if (h.length)
                    Seek(payload + h.length);
            }
        }
    } else if (m_kind == kTransportStream) {
        TsPacketHeader h;
        while (below() && ReadTsHeader(h, true)) {
            const int64_t payload = Position();
            if (h.payload && h.payloadStart) {
                ParseProgramTables(h);
                Seek(payload);
            }
            if (h.payload && h.pid >= 16 && h.pid <= 8190) {
                uint8_t pesId = 0;
                uint8_t code = 0;
                PesHeader pes;
                if (h.payloadStart && NextStartCode(code, 4) && ReadPesHeader(pes, code)) {
                    if (pes.kind == 2 && pes.scrambling)
                        return VFW_E_ENCRYPTED;
                    if (pes.hasPts)
                        NotePts(pes.pts);
                    pesId = code;
                } else {
                    Seek(payload);
                }
                const int64_t left = h.payloadBytes - (Position() - payload);
                ClassifyPacket(uint16_t(h.pid), pesId, std::max<int64_t>(left, 0));
            }
            Seek(h.next);
        }
    } else if (m_kind == kPvaStream) {
        PvaHeader h;
        while (below() && ReadPvaHeader(h, true)) {
            if (h.hasPts)
                NotePts(h.pts);
            const int64_t payload = Position();
            if (h.streamId == 1)
                ClassifyPacket(1, 0xE0, h.length);
            else if (h.streamId == 2)
                ClassifyPacket(2, 0xC0, h.length);
            Seek(payload + h.length);
        }
    }
    return S_OK;
}

StreamKey CMpegSplitterFile::ClassifyPacket(uint16_t pid, uint8_t pesId, int64_t len)
{
    if (pid) {
        if (pesId) {
            m_pidToPesId[pid] = pesId;
        } else if (auto it = m_pidToPesId.find(pid); it != m_pidToPesId.end()) {
            pesId = it->second;
        }
    }

    SplitterStream s;
    s.pid = pid;
    s.pesId = pesId;
    int type = kUnclassifiedStream;
    const int64_t payload = Position();
    int64_t keep = payload;  // where the position is left: after the sub-stream header
    auto left = [&]() { return std::max<int64_t>(0, len - (Position() - payload)); };

    if (pesId >= 0xE0 && pesId <= 0xEF) {
        SequenceHeader h;
        if (!Listed(kVideoStream, s.Key()) && ReadSequenceHeader(h, len, &s.mediaType)) {
            type = kVideoStream;
        } else {
            Seek(payload);
            if (ReadAvc(m_avc, len, &s.mediaType))
                type = kVideoStream;
        }
    } else if (pesId >= 0xC0 && pesId <= 0xDF) {
        MpegAudioHeader h;
        if (!Listed(kAudioStream, s.Key()) && ReadMpegAudio(h, len, false, &s.mediaType)) {
            type = kAudioStream;
        } else {
            Seek(payload);
            AacHeader aac;
            if (ReadAac(aac, len, &s.mediaType))
                type = kAudioStream;
        }
    } else if ((pesId == 0xBD || pesId == 0xFD) && pid) {
        if (!Listed(kAudioStream, s.Key()) && !Listed(kVideoStream, s.Key())) {
            Ac3Header ac3;
            DtsHeader dts;
            Vc1Header vc1;
            if (Seek(payload), ReadAc3(ac3, len, &s.mediaType))
                type = kAudioStream;
            else if (Seek(payload), ReadDts(dts, len, &s.mediaType))
                type = kAudioStream;
            else if (Seek(payload), ReadVc1(vc1, len, &s.mediaType))
                type = kVideoStream;
            else if (Seek(payload), ReadDvbSubtitle(&s.mediaType))
                type = kSubpictureStream;
            if (type == kUnclassifiedStream) {
                TsProgram program;
                int index = 0;
                if (ProgramOfPid(pid, &program, &index)) {
                    const uint32_t streamType = program.entries[size_t(index)].streamType;
                    Seek(payload);
                    HdmvLpcmHeader lpcm;
                    if (streamType == 0x80 && ReadHdmvLpcm(lpcm, &s.mediaType)) {
                        type = kAudioStream;
                    } else if (streamType == 0x90) {
                        const HdmvClipInfo::Stream* clip = m_clipInfo.Find(pid);
                        if (ReadHdmvSubtitle(&s.mediaType, clip ? clip->language : nullptr)) {
                            type = kSubpictureStream;
                            m_hdmvInput = true;
                        }
                    }
                }
            }
        }
    } else if (pesId == 0xBD || pesId == 0xFD) {
        const uint32_t b = uint32_t(PeekBits(8));
        const uint32_t w = uint32_t(PeekBits(16));
        const uint32_t dw = uint32_t(PeekBits(32));
        if ((b >= 0x80 && b <= 0x87) || w == 0x0B77) {
            s.subId = 0x80;
            if (b >= 0x80 && b <= 0x87)
                s.subId = uint8_t(ReadBits(32) >> 24);
            keep = Position();
            Ac3Header h;
            if (!Listed(kAudioStream, s.Key()) && ReadAc3(h, left(), &s.mediaType))
                type = kAudioStream;
        } else if ((b >= 0x88 && b <= 0x8F) || dw == 0x7FFE8001) {
            s.subId = 0x88;
            if (b >= 0x88 && b <= 0x8F)
                s.subId = uint8_t(ReadBits(32) >> 24);
            keep = Position();
            DtsHeader h;
            if (!Listed(kAudioStream, s.Key()) && ReadDts(h, left(), &s.mediaType))
                type = kAudioStream;
        } else if (b >= 0xA0 && b <= 0xA7) {
            s.subId = uint8_t(ReadBits(32) >> 24);
            DvdLpcmHeader h;
            const bool ok = ReadDvdLpcm(h, &s.mediaType);
            keep = Position();
            if (ok && !Listed(kAudioStream, s.Key()))
                type = kAudioStream;
        } else if ((b >= 0x20 && b <= 0x3F) || (b >= 0x70 && b <= 0x7F) || b < 0x10) {
            s.subId = uint8_t(ReadBits(8));
            keep = Position();
            if (!Listed(kSubpictureStream, s.Key())) {
                if (b >= 0x20 && b <= 0x3F)
                    ReadDvdSubpicture(&s.mediaType);
                else if (b >= 0x70)
                    ReadSvcdSubpicture(&s.mediaType);
                else
                    ReadCvdSubpicture(&s.mediaType);
                type = kSubpictureStream;
            }
        } else if (w == 0xFFA0 || w == 0xFFA1 || w == 0xFF90) {
            s.subId = uint8_t(ReadBits(8));
            const uint32_t hi = uint32_t(ReadBits(8));
            s.pid = uint16_t((hi << 8) | uint32_t(ReadBits(16)));
            keep = Position();
            if (w != 0xFF90) {
                Ps2AudioHeader h;
                if (ReadPs2Audio(h, &s.mediaType))
                    type = kAudioStream;
            } else if (PeekBits(16) == 0x0B77) {
                Ac3Header h;
                if (ReadAc3(h, left(), &s.mediaType))
                    type = kAudioStream;
            } else if (PeekBits(16) == 0) {
                if (ReadPs2Subtitle(&s.mediaType))
                    type = kSubpictureStream;
            }
        }
    }

    if (type != kUnclassifiedStream && !Listed(type, s.Key())) {
        bool anywhere = false;
        if (s.pid)
            for (int k = 0; k < kStreamKindCount && !anywhere; ++k)
                anywhere = Listed(k, s.Key());
        if (!anywhere)
            Insert(type, s);
    }
    Seek(keep);
    return s.Key();
}

int64_t CMpegSplitterFile::FindNextPts(StreamKey key)
{
    int64_t packetStart = -1;
    int64_t pts = -1;
    bool found = false;
    while (!found && Remaining() > 0) {
        if (m_kind == kProgramStream || m_kind == kElementaryStream) {
            uint8_t code = 0;
            if (!NextStartCode(code, 65536))
                break;
            packetStart = Position() - 4;
            if (!IsPesId(code))
                continue;
            PesHeader h;
            if (!ReadPesHeader(h, code) || h.length == 0)
                continue;
            const int64_t payload = Position();
            if (h.hasPts && ClassifyPacket(0, code, h.length) == key) {
                pts = h.pts;
                found = true;
            } else {
                Seek(payload + h.length);
            }
        } else if (m_kind == kTransportStream) {
            TsPacketHeader h;
            if (!ReadTsHeader(h, true))
                break;
            packetStart = h.next - m_tsPacketLength;
            const int64_t payload = Position();
            uint8_t code = 0;
            PesHeader pes;
            if (h.payload && h.payloadStart && h.pid >= 16 && h.pid <= 8190 && NextStartCode(code, 4) &&
                ReadPesHeader(pes, code) && pes.hasPts) {
                const int64_t left = h.payloadBytes - (Position() - payload);
                if (ClassifyPacket(uint16_t(h.pid), code, std::max<int64_t>(left, 0)) == key) {
                    pts = pes.pts;
                    found = true;
                    continue;
                }
            }
            Seek(h.next);
        } else if (m_kind == kPvaStream) {
            const int64_t before = Position();
            PvaHeader h;
            if (!ReadPvaHeader(h, true))
                break;
            packetStart = before;
            if (h.hasPts) {
                pts = h.pts;
                found = true;
            } else {
                Skip(h.length);
            }
        } else {
            break;
        }
    }
    if (packetStart >= 0)
        Seek(packetStart);
    return found ? pts - m_firstPts : -1;
}

void CMpegSplitterFile::AddGraphicsSubtitleStream(uint16_t pid, const char* language)
{
    SplitterStream s;
    s.pid = pid;
    s.pesId = 0xBD;
    ReadHdmvSubtitle(&s.mediaType, language);
    if (!Listed(kSubpictureStream, s.Key()))
        Insert(kSubpictureStream, s);
}

bool CMpegSplitterFile::ProgramOfPid(uint16_t pid, TsProgram* program, int* index) const
{
    std::lock_guard lock(m_programsLock);
    for (const auto& [pmtPid, p] : m_programs) {
        for (size_t i = 0; i < p.entries.size(); ++i) {
            if (p.entries[i].pid == pid && pid != 0) {
                if (program)
                    *program = p;
                if (index)
                    *index = int(i);
                return true;
            }
        }
    }
    return false;
}

uint32_t CMpegSplitterFile::StreamTypeOfPid(uint16_t pid) const
{
    if (const HdmvClipInfo::Stream* clip = m_clipInfo.Find(pid))
        return clip->streamType;
    TsProgram program;
    int index = 0;
    if (ProgramOfPid(pid, &program, &index))
        return program.entries[size_t(index)].streamType;
    return 0;
}

void CMpegSplitterFile::ParseProgramTables(const TsPacketHeader& h)
{
    std::lock_guard lock(m_programsLock);
    if (h.pid == 0) {
        TsSectionHeader s;
        if (!ReadTsSection(s) || s.tableId != 0)
            return;
        // Entries that fit both the section and one packet (less the CRC).
        const int entries = s.sectionLength >= 9 ? std::min<int>((int(s.sectionLength) - 9) / 4, 46) : 0;
        std::set<uint16_t> listed;
        for (int i = 0; i < entries; ++i) {
            const uint16_t number = uint16_t(ReadBits(16));
            ReadBits(3);
            const uint16_t pid = uint16_t(ReadBits(13));
            if (number) {
                m_programs[pid].programNumber = number;
                listed.insert(pid);
            }
        }
        for (auto it = m_programs.begin(); it != m_programs.end();)
            it = listed.count(it->first) ? std::next(it) : m_programs.erase(it);
        return;
    }
    auto it = m_programs.find(uint16_t(h.pid));
    if (it == m_programs.end())
        return;
    TsSectionHeader s;
    if (!ReadTsSection(s) || s.tableId != 2)
        return;
    TsProgram& program = it->second;
    program.entries = {};
    ReadBits(3);
    ReadBits(13);  // PCR PID
    ReadBits(4);
    const int infoLength = int(ReadBits(12));
    Skip(infoLength);
    int remaining = int(s.sectionLength) - 9 - infoLength;
    for (size_t i = 0; i < program.entries.size() && remaining > 4; ++i) {
        program.entries[i].streamType = uint32_t(ReadBits(8));
        ReadBits(3);
        program.entries[i].pid = uint16_t(ReadBits(13));
        ReadBits(4);
        const int esInfoLength = int(ReadBits(12));
        Skip(esInfoLength);
        remaining -= 5 + esInfoLength;
    }
}

void CMpegSplitterFile::OnSourceComplete()
{
    const ReadState saved = SaveState();
    const int64_t length = Length();
    ScanRange(std::max<int64_t>(0, length - kCompletionScan), length);
    UpdateRate();
    RestoreState(saved);
}

std::vector<SplitterStream> CMpegSplitterFile::Streams(int kind) const
{
    if (kind < 0 || kind >= kStreamKindCount)
        return {};
    std::lock_guard lock(m_streamsLock);
    return m_streams[kind];
}

size_t CMpegSplitterFile::StreamCount(int kind) const
{
    if (kind < 0 || kind >= kStreamKindCount)
        return 0;
    std::lock_guard lock(m_streamsLock);
    return m_streams[kind].size();
}

bool CMpegSplitterFile::FindStream(int kind, StreamKey key, SplitterStream* out) const
{
    if (kind < 0 || kind >= kStreamKindCount)
        return false;
    std::lock_guard lock(m_streamsLock);
    for (const SplitterStream& s : m_streams[kind]) {
        if (s.Key() == key) {
            if (out)
                *out = s;
            return true;
        }
    }
    return false;
}

bool CMpegSplitterFile::Listed(int kind, StreamKey key) const
{
    return FindStream(kind, key);
}

namespace {

using Quality = unsigned __int128;

Quality AudioQuality(const CMediaType& mt, uint32_t streamType)
{
    const WaveFormatEx* wfx = mt.formattype == FORMAT_WaveFormatEx ? mt.FormatAs<WaveFormatEx>() : nullptr;
    if (!wfx)
        return 0;
    int priority = 0;
    if (mt.subtype == MEDIASUBTYPE_DVD_LPCM_AUDIO || mt.subtype == MEDIASUBTYPE_HDMV_LPCM_AUDIO) {
        priority = 12;
    } else if (streamType == 0x86 || streamType == 0x83) {
        priority = 12;
    } else if (streamType == 0x85) {
        priority = 11;
    } else if (streamType == 0x84) {
        priority = 10;
    } else {
        switch (wfx->wFormatTag) {
        case WAVE_FORMAT_PS2_PCM: priority = 12; break;
        case WAVE_FORMAT_DTS: priority = 9; break;
        case WAVE_FORMAT_DOLBY_AC3: priority = 8; break;
        case WAVE_FORMAT_AAC: priority = 7; break;
        case WAVE_FORMAT_MPEGLAYER3: priority = 6; break;
        case WAVE_FORMAT_MPEG: priority = 5; break;
        case WAVE_FORMAT_PS2_ADPCM: priority = 4; break;
        default: priority = 0; break;
        }
    }
    constexpr Quality e7 = 10000000, e10 = e7 * 1000, e15 = e10 * 100000, e17 = e15 * 100;
    return Quality(priority) * e17 + Quality(wfx->nChannels) * e15 + Quality(wfx->nSamplesPerSec) * e10 +
           Quality(wfx->wBitsPerSample) * e7 + Quality(wfx->nAvgBytesPerSec);
}

}  // namespace

bool CMpegSplitterFile::Precedes(const SplitterStream& a, const SplitterStream& b, int kind) const
{
    if (kind == kAudioStream) {
        const bool waveA = a.mediaType.formattype == FORMAT_WaveFormatEx;
        const bool waveB = b.mediaType.formattype == FORMAT_WaveFormatEx;
        if (waveA != waveB)
            return waveA;
        const Quality qa = AudioQuality(a.mediaType, StreamTypeOfPid(a.pid));
        const Quality qb = AudioQuality(b.mediaType, StreamTypeOfPid(b.pid));
        if (qa != qb)
            return qa > qb;
    }
    return a.Key() < b.Key();
}

void CMpegSplitterFile::Insert(int kind, SplitterStream s)
{
    s.owner = this;
    std::lock_guard lock(m_streamsLock);
    auto& list = m_streams[kind];
    auto it = list.begin();
    while (it != list.end() && !Precedes(s, *it, kind))
        ++it;
    list.insert(it, std::move(s));
}
