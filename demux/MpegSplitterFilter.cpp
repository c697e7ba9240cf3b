#include "demux/MpegSplitterFilter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "demux/MpegSplitterOutputPin.h"

namespace {

// Trace lines for troubleshooting, written only when ZDR_TRACE is set.
void Trace(const char* line)
{
    static const bool on = std::getenv("ZDR_TRACE") != nullptr;
    if (on)
        std::fputs(line, stderr);
}

constexpr int64_t kPreroll = 10000000;  // 1 s

bool IsPesId(uint8_t code) { return code >= 0xBD && code <= 0xEF; }

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string FourCCText(uint32_t code)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += char((code >> (8 * i)) & 0xFF);
    return s;
}

std::string BitrateText(int64_t bits)
{
    if (bits > 20000000)
        return Format("%.2f mbit/s", double(bits) / 1000000.0);
    return Format("%.1f kbit/s", double(bits) / 1000.0);
}

const char* GroupWord(const Guid& major)
{
    if (major == MEDIATYPE_Video)
        return "Video";
    if (major == MEDIATYPE_Audio)
        return "Audio";
    if (major == MEDIATYPE_Subtitle)
        return "Subtitle";
    return nullptr;
}

const char* KindWord(int kind)
{
    switch (kind) {
    case kVideoStream: return "Video";
    case kAudioStream: return "Audio";
    case kSubpictureStream: return "Subtitle";
    default: return "Unknown";
    }
}

}  // namespace

CMpegSplitterFilter::CMpegSplitterFilter() : CBaseSplitterFilter("MPEG Splitter", CLSID_MpegSplitter) {}

CMpegSplitterFilter::~CMpegSplitterFilter()
{
    // The worker uses the scanner: it must end before the scanner goes.
    if (WorkerRunning())
        Stop();
}

HRESULT CMpegSplitterFilter::GetClassID(Guid* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = m_reportAsAsfReader.load() ? CLSID_WMAsfReader : CLSID_MpegSplitter;
    return S_OK;
}

HRESULT CMpegSplitterFilter::SetTitleStreams(const DvdTitleInfo* record)
{
    if (!record)
        return E_POINTER;
    std::memcpy(&m_title, record, sizeof m_title);
    return S_OK;
}

HRESULT CMpegSplitterFilter::SetTimeWindow(int64_t startMs, int64_t lengthMs, int64_t durationMs)
{
    m_windowStart.store(startMs * 10000);
    m_windowLength.store(lengthMs * 10000);
    m_windowDuration.store(durationMs * 10000);
    return S_OK;
}

HRESULT CMpegSplitterFilter::GetDuration(int64_t* duration)
{
    if (!duration)
        return E_POINTER;
    *duration = m_windowLength.load();
    return S_OK;
}

HRESULT CMpegSplitterFilter::GetCurrentPosition(int64_t* current)
{
    if (!current)
        return E_POINTER;
    *current = m_currentTime.load();
    char line[64];
    std::snprintf(line, sizeof line, "curpos:%" PRId64 "\n", *current);
    Trace(line);
    return S_OK;
}

// -- Outputs --------------------------------------------------------------------------------

HRESULT CMpegSplitterFilter::BuildOutputs(IAsyncReader* reader)
{
    if (!reader)
        return E_POINTER;
    m_scanner.reset();
    // Clip information comes only with a named source (HDMV); the DVD source has no name.
    (void)SourceName(reader);

    const TitleStreams title = TitleStreams::FromTitle(m_title);
    HRESULT hr = S_OK;
    auto scanner = std::make_unique<CMpegSplitterFile>(reader, hr, &title, m_clipInfo.hdmv, &m_clipInfo);
    if (Failed(hr))
        return hr;
    m_scanner = std::move(scanner);

    m_currentTime.store(0);
    m_requestedStart.store(0);
    m_duration.store(0);
    m_stopTime.store(0);
    m_requestedStop.store(0);

    static const char* const kNames[kStreamKindCount] = {"Video", "Audio", "Subtitle"};
    for (int kind = 0; kind < kStreamKindCount; ++kind) {
        for (const SplitterStream& s : m_scanner->Streams(kind)) {
            HRESULT pinResult = S_OK;
            const int64_t limit = kind == kSubpictureStream ? INT64_MAX : CMpegSplitterOutputPin::kJumpLimit;
            auto pin = std::make_unique<CMpegSplitterOutputPin>(std::vector<CMediaType>{s.mediaType}, kNames[kind],
                                                                this, &pinResult, limit);
            if (Failed(pinResult))
                continue;
            if (RegisterOutput(s.Key(), std::move(pin)) == S_OK)
                break;
        }
    }

    const int32_t rate = m_scanner->rate();
    if (m_scanner->IsRandomAccess() && rate != 0) {
        const int64_t duration = int64_t(10000000.0 * double(m_scanner->Length()) / double(rate));
        m_duration.store(duration);
        m_stopTime.store(duration);
        m_requestedStop.store(duration);
    }
    return Outputs().empty() ? E_FAIL : S_OK;
}

// -- Demux hooks ----------------------------------------------------------------------------

bool CMpegSplitterFilter::PrepareDemux()
{
    if (!m_scanner)
        return false;
    m_timeBase.store(0);
    if (m_windowDuration.load() != 0)
        m_duration.store(m_windowDuration.load());
    else
        m_windowDuration.store(m_duration.load());
    if (m_windowLength.load() == 0)
        m_windowLength.store(m_duration.load());
    m_lastError.store(S_OK);
    return true;
}

void CMpegSplitterFilter::SeekDemux(int64_t rt)
{
    CMpegSplitterFile* s = m_scanner.get();
    int master = -1;
    for (int kind = 0; kind < kStreamKindCount && master < 0; ++kind)
        if (s->StreamCount(kind) > 0)
            master = kind;
    if (master < 0)
        return;
    const StreamKey masterKey = s->Streams(master).front().Key();

    if (s->IsStreaming()) {
        s->Seek(std::max<int64_t>(0, s->Length() - 102400));
        m_timeBase.store(s->firstPts() + s->FindNextPts(masterKey));
        return;
    }

    const int64_t duration = m_duration.load();
    if (rt <= kPreroll || duration <= 0) {
        s->Seek(0);
        return;
    }

    const int64_t len = s->Length();
    int64_t seekPos = int64_t(double(rt) / double(duration) * double(len));
    const int64_t rtMax = rt - kPreroll;
    const int64_t rtMin = rtMax - 5000000;
    int64_t minPos = INT64_MAX;

    if (m_timeBase.load() == 0) {
        for (int kind : {int(kVideoStream), int(kAudioStream)}) {
            for (const SplitterStream& stream : s->Streams(kind)) {
                CBaseSplitterOutputPin* pin = FindOutput(stream.Key());
                if (!pin || !pin->Connected())
                    continue;
                s->Seek(seekPos);
                int64_t prevDt = NoTime;
                for (int i = 0; i < 10; ++i) {
                    const int64_t t = s->FindNextPts(stream.Key());
                    if (t < 0)
                        break;
                    int64_t dt = t - rtMax;
                    if (dt > 0 && dt == prevDt)
                        dt = 10000000;
                    if ((rtMin <= t && t <= rtMax) || (prevDt != NoTime && prevDt > 0 && dt < 0)) {
                        minPos = std::min(minPos, s->Position());
                        break;
                    }
                    s->Seek(s->Position() - int64_t(double(dt) / double(duration) * double(len)));
                    prevDt = dt;
                }
            }
        }
    }

    if (minPos != INT64_MAX) {
        seekPos = minPos;
    } else {
        // The time stamps do not follow the byte positions: estimate from the byte rate and
        // shift the time line so that the packets there count from rt.
        rt -= kPreroll;
        seekPos = int64_t(double(rt) / double(duration) * double(len));
        s->Seek(seekPos);
        m_timeBase.store(s->firstPts() + s->FindNextPts(masterKey) - rt);
    }
    s->Seek(seekPos);
}

bool CMpegSplitterFilter::RunDemux()
{
    CMpegSplitterFile* s = m_scanner.get();
    const int64_t offset = m_timeBase.load() != 0 ? m_timeBase.load() : s->firstPts();
    if (m_windowStart.load() != 0)
        SeekDemux(m_windowStart.load());

    const int64_t windowEnd = m_windowStart.load() + m_windowLength.load();
    HRESULT hr = S_OK;
    while (Succeeded(hr) && !CommandPending()) {
        if (m_currentTime.load() >= windowEnd)
            break;
        hr = s->WaitForData(512000, 1);
        if (hr != S_OK)
            continue;
        switch (s->kind()) {
        case kTransportStream: hr = DemuxTransportPacket(offset); break;
        case kPvaStream: hr = DemuxPvaPacket(offset); break;
        default: hr = DemuxProgramPacket(offset); break;
        }
        // Nothing usable yet: a growing source may still deliver it. A complete source has
        // nothing to wait for; the next call resynchronises at the next start code.
        if (hr == S_FALSE && s->IsStreaming())
            WaitForCommand(200);
    }
    if (hr == VFW_E_ENCRYPTED) {
        m_lastError.store(hr);
        NotifyEvent(EC_ERRORABORT, intptr_t(hr), 0);
    }
    return true;
}

HRESULT CMpegSplitterFilter::RoutePayload(StreamKey key, int64_t end, bool hasPts, int64_t pts, int64_t offset)
{
    CMpegSplitterFile* s = m_scanner.get();
    auto p = std::make_unique<Packet>();
    p->trackNumber = key;
    p->syncPoint = hasPts;
    p->appendable = !hasPts;
    if (hasPts) {
        p->startTime = pts - offset;
        p->endTime = p->startTime + 1;
    }
    end = std::min(end, s->Length());
    const int64_t n = end - s->Position();
    if (n > 0) {
        p->data.resize(size_t(n));
        if (s->ReadBytes(p->data.data(), n) != S_OK)
            return S_OK;  // the end of the source came first
    }
    const HRESULT hr = RoutePacket(std::move(p));
    return Failed(hr) ? hr : S_OK;
}

HRESULT CMpegSplitterFilter::DemuxProgramPacket(int64_t offset)
{
    CMpegSplitterFile* s = m_scanner.get();
    uint8_t code = 0;
    if (!s->NextStartCode(code, 65536))
        return S_FALSE;
    if (code == 0xBA) {
        PackHeader h;
        return s->ReadPackHeader(h) ? S_OK : S_FALSE;
    }
    if (code == 0xBB) {
        SystemHeader h;
        return s->ReadSystemHeader(h) ? S_OK : S_FALSE;
    }
    if (!IsPesId(code))
        return S_OK;
    PesHeader h;
    if (!s->ReadPesHeader(h, code) || h.length == 0)
        return S_FALSE;
    if (h.kind == 2 && h.scrambling)
        return VFW_E_ENCRYPTED;
    const int64_t payload = s->Position();
    const StreamKey key = s->ClassifyPacket(0, code, h.length);
    HRESULT hr = S_OK;
    if (FindOutput(key))
        hr = RoutePayload(key, payload + h.length, h.hasPts, h.pts, offset);
    s->Seek(payload + h.length);
    return hr;
}

HRESULT CMpegSplitterFilter::DemuxTransportPacket(int64_t offset)
{
    CMpegSplitterFile* s = m_scanner.get();
    TsPacketHeader h;
    if (!s->ReadTsHeader(h, true))
        return S_FALSE;
    const int64_t payload = s->Position();
    if (h.payload && h.payloadStart) {
        s->ParseProgramTables(h);
        s->Seek(payload);
    }
    HRESULT hr = S_OK;
    if (h.payload && h.pid >= 16 && h.pid <= 8190 && !h.scrambling) {
        uint8_t pesId = 0;
        uint8_t code = 0;
        PesHeader pes;
        bool hasPts = false;
        if (h.payloadStart && s->NextStartCode(code, 4) && s->ReadPesHeader(pes, code)) {
            if (pes.kind == 2 && pes.scrambling)
                return VFW_E_ENCRYPTED;
            pesId = code;
            hasPts = pes.hasPts;
        } else {
            s->Seek(payload);
        }
        const int64_t left = std::max<int64_t>(0, h.payloadBytes - (s->Position() - payload));
        const StreamKey key = s->ClassifyPacket(uint16_t(h.pid), pesId, left);
        if (FindOutput(key))
            hr = RoutePayload(key, payload + h.payloadBytes, hasPts, pes.pts, offset);
    }
    s->Seek(h.next);
    return hr;
}

HRESULT CMpegSplitterFilter::DemuxPvaPacket(int64_t offset)
{
    CMpegSplitterFile* s = m_scanner.get();
    PvaHeader h;
    if (!s->ReadPvaHeader(h, true))
        return S_FALSE;
    const int64_t payload = s->Position();
    HRESULT hr = S_OK;
    const StreamKey key = h.streamId == 1 ? 0xE0 : h.streamId == 2 ? 0xC0 : 0;
    if (key && FindOutput(key))
        hr = RoutePayload(key, payload + h.length, h.hasPts != 0, h.pts, offset);
    s->Seek(payload + h.length);
    return hr;
}

// -- Stream selection -----------------------------------------------------------------------

HRESULT CMpegSplitterFilter::Count(int32_t* streams)
{
    if (!streams)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *streams = 0;
    if (m_scanner)
        for (int kind = 0; kind < kStreamKindCount; ++kind)
            *streams += int32_t(m_scanner->StreamCount(kind));
    return S_OK;
}

bool CMpegSplitterFilter::StreamAt(int32_t index, SplitterStream* stream, int* kind)
{
    if (!m_scanner || index < 0)
        return false;
    for (int k = 0; k < kStreamKindCount; ++k) {
        const std::vector<SplitterStream> list = m_scanner->Streams(k);
        if (size_t(index) < list.size()) {
            *stream = list[size_t(index)];
            *kind = k;
            return true;
        }
        index -= int32_t(list.size());
    }
    return false;
}

HRESULT CMpegSplitterFilter::Info(int32_t index, CMediaType* type, uint32_t* flags, uint32_t* lcid, uint32_t* group,
                                  std::string* name)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    SplitterStream s;
    int kind = 0;
    if (!StreamAt(index, &s, &kind))
        return S_OK;
    if (type)
        *type = s.mediaType;
    if (flags)
        *flags = FindOutput(s.Key()) ? AMSTREAMSELECTINFO_ENABLED | AMSTREAMSELECTINFO_EXCLUSIVE : 0;
    if (lcid) {
        *lcid = 0;
        if (kind == kSubpictureStream && s.pid == 1 && m_scanner->hdmvInput())
            *lcid = uint32_t(-1);
    }
    if (group)
        *group = uint32_t(kind);
    if (name) {
        if (kind == kSubpictureStream && s.pid == 1 && m_scanner->hdmvInput()) {
            *name = "No subtitles";
        } else {
            const std::string desc = StreamDescription(s.mediaType);
            const char* typeName = nullptr;
            TsProgram program;
            int entry = 0;
            if (s.pid && m_scanner->ProgramOfPid(s.pid, &program, &entry))
                typeName = StreamTypeName(program.entries[size_t(entry)].streamType);
            if (!desc.empty())
                *name = Format("%s (%04x,%02x,%02x)", desc.c_str(), s.pid, s.pesId, s.subId);
            else if (typeName)
                *name = Format("%s - %s (%04x,%02x,%02x)", KindWord(kind), typeName, s.pid, s.pesId, s.subId);
            else
                *name = Format("%s (%04x,%02x,%02x)", KindWord(kind), s.pid, s.pesId, s.subId);
        }
    }
    return S_OK;
}

HRESULT CMpegSplitterFilter::Enable(int32_t index, uint32_t flags)
{
    if (!(flags & AMSTREAMSELECTENABLE_ENABLE))
        return E_NOTIMPL;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    SplitterStream chosen;
    int kind = 0;
    if (!StreamAt(index, &chosen, &kind))
        return S_FALSE;

    for (const SplitterStream& s : m_scanner->Streams(kind)) {
        if (!FindOutput(s.Key()))
            continue;
        const HRESULT hr = RetargetOutput(s.Key(), chosen.Key(), &chosen.mediaType);
        if (Failed(hr))
            return hr;
        break;
    }

    // A transport program switches as a whole: the other kinds follow to the streams listed
    // first in the chosen stream's program.
    TsProgram program;
    int entry = 0;
    if (m_scanner->kind() == kTransportStream && !m_scanner->hdmvInput() && chosen.pid &&
        m_scanner->ProgramOfPid(chosen.pid, &program, &entry)) {
        for (int other = 0; other < kStreamKindCount; ++other) {
            if (other == kind)
                continue;
            const std::vector<SplitterStream> list = m_scanner->Streams(other);
            const SplitterStream* pinned = nullptr;
            for (const SplitterStream& s : list)
                if (FindOutput(s.Key()))
                    pinned = &s;
            if (!pinned)
                continue;
            for (const TsProgram::Entry& e : program.entries) {
                if (!e.pid)
                    continue;
                auto it = std::find_if(list.begin(), list.end(), [&](const SplitterStream& s) { return s.pid == e.pid; });
                if (it != list.end()) {
                    if (it->Key() != pinned->Key())
                        RetargetOutput(pinned->Key(), it->Key(), &it->mediaType);
                    break;
                }
            }
        }
    }
    return S_OK;
}

// -- Stream descriptions --------------------------------------------------------------------

const char* CMpegSplitterFilter::StreamTypeName(uint32_t streamType)
{
    switch (streamType) {
    case 1: return "MPEG-1";
    case 2: return "MPEG-2";
    case 3: return "MPEG-1";
    case 4: return "MPEG-2";
    case 27: return "H264";
    case 128: return "LPCM";
    case 129: return "Dolby Digital";
    case 130: return "DTS";
    case 131: return "Dolby TrueHD";
    case 132: return "Dolby Digital Plus";
    case 133: return "DTS-HD High Resolution Audio";
    case 134: return "DTS-HD Master Audio";
    case 144: return "Presentation Graphics Stream";
    case 145: return "Interactive Graphics Stream";
    case 146: return "Subtitle";
    case 161: return "Secondary Dolby Digital Plus";
    case 162: return "Secondary DTS-HD High Resolution Audio";
    case 234: return "VC-1";
    default: return nullptr;
    }
}

std::string CMpegSplitterFilter::StreamDescription(const CMediaType& mt)
{
    const char* group = GroupWord(mt.majortype);
    if (!group)
        return {};
    std::vector<std::string> items;

    if (mt.majortype == MEDIATYPE_Video) {
        const BitmapInfoHeader* bih = mt.VideoBitmapHeader();
        int32_t width = 0, height = 0;
        int64_t frameDuration = 0;
        uint32_t bitrate = 0;
        if (mt.formattype == FORMAT_MPEGVideo) {
            items.push_back("MPEG");
            if (const auto* vi = mt.FormatAs<VideoInfoHeader>()) {
                frameDuration = vi->AvgTimePerFrame;
                bitrate = vi->dwBitRate;
            }
        } else if (mt.formattype == FORMAT_MPEG2Video) {
            const auto* vi = mt.FormatAs<Mpeg2VideoInfo>();
            const uint32_t fourcc = bih ? bih->biCompression : 0;
            const bool avc = fourcc == FourCC('A', 'V', 'C', '1') || fourcc == FourCC('a', 'v', 'c', '1');
            if (avc)
                items.push_back("AVC (H.264)");
            else if (fourcc)
                items.push_back(FourCCText(fourcc));
            else
                items.push_back("MPEG2");
            if (vi) {
                frameDuration = vi->hdr.AvgTimePerFrame;
                bitrate = vi->hdr.dwBitRate;
                const uint32_t profile = vi->dwProfile, level = vi->dwLevel;
                if (avc) {
                    switch (profile) {
                    case 0: break;
                    case 44: items.push_back("CAVLC Profile"); break;
                    case 66: items.push_back("Baseline Profile"); break;
                    case 77: items.push_back("Main Profile"); break;
                    case 88: items.push_back("Extended Profile"); break;
                    case 100: items.push_back("High Profile"); break;
                    case 110: items.push_back("High 10 Profile"); break;
                    case 122: items.push_back("High 4:2:2 Profile"); break;
                    case 244: items.push_back("High 4:4:4 Profile"); break;
                    default: items.push_back(Format("Profile %u", profile)); break;
                    }
                } else {
                    switch (profile) {
                    case 0: break;
                    case 1: items.push_back("Simple Profile"); break;
                    case 2: items.push_back("Main Profile"); break;
                    case 3: items.push_back("SNR Scalable Profile"); break;
                    case 4: items.push_back("Spatially Scalable Profile"); break;
                    case 5: items.push_back("High Profile"); break;
                    default: items.push_back(Format("Profile %u", profile)); break;
                    }
                }
                switch (level) {
                case 0: break;
                case 1: items.push_back("Low Level"); break;
                case 2: items.push_back("Main Level"); break;
                case 3: items.push_back("High1440 Level"); break;
                case 4: items.push_back("High Level"); break;
                default:
                    items.push_back(avc ? Format("Level %1.1f", level / 10.0) : Format("Level %u", level));
                    break;
                }
            }
        } else if (mt.formattype == FORMAT_VideoInfo2) {
            const uint32_t fourcc = bih ? bih->biCompression : 0;
            if (fourcc == FourCC('W', 'V', 'C', '1') || fourcc == FourCC('w', 'v', 'c', '1'))
                items.push_back("VC-1");
            else if (fourcc)
                items.push_back(FourCCText(fourcc));
            if (const auto* vi = mt.FormatAs<VideoInfoHeader2>()) {
                frameDuration = vi->AvgTimePerFrame;
                bitrate = vi->dwBitRate;
            }
        } else if (mt.subtype == MEDIASUBTYPE_DVD_SUBPICTURE) {
            items.push_back("DVD Sub Picture");
        } else if (mt.subtype == MEDIASUBTYPE_SVCD_SUBPICTURE) {
            items.push_back("SVCD Sub Picture");
        } else if (mt.subtype == MEDIASUBTYPE_CVD_SUBPICTURE) {
            items.push_back("CVD Sub Picture");
        }
        if (bih) {
            width = bih->biWidth;
            height = bih->biHeight;
        }
        if (width && height)
            items.push_back(Format("%dx%d", width, height));
        if (frameDuration > 0)
            items.push_back(Format("%.3f fps", 10000000.0 / double(frameDuration)));
        if (bitrate)
            items.push_back(BitrateText(bitrate));
    } else if (mt.majortype == MEDIATYPE_Audio) {
        const auto* wfe = mt.formattype == FORMAT_WaveFormatEx ? mt.FormatAs<WaveFormatEx>() : nullptr;
        if (wfe) {
            if (mt.subtype == MEDIASUBTYPE_DVD_LPCM_AUDIO) {
                items.push_back("DVD LPCM");
            } else if (mt.subtype == MEDIASUBTYPE_HDMV_LPCM_AUDIO) {
                items.push_back("HDMV LPCM");
            } else {
                switch (wfe->wFormatTag) {
                case WAVE_FORMAT_DTS: items.push_back("DTS"); break;
                case WAVE_FORMAT_DOLBY_AC3: items.push_back("Dolby Digital"); break;
                case WAVE_FORMAT_MPEG: {
                    int layer = 0;
                    if (const auto* mp = mt.FormatAs<Mpeg1WaveFormat>())
                        layer = mp->fwHeadLayer & 1 ? 1 : mp->fwHeadLayer & 2 ? 2 : mp->fwHeadLayer & 4 ? 3 : 0;
                    items.push_back(Format("MPEG1 - Layer %d", layer));
                    break;
                }
                case WAVE_FORMAT_MPEGLAYER3: items.push_back("MP3"); break;
                case WAVE_FORMAT_AAC: items.push_back("AAC"); break;
                case WAVE_FORMAT_PS2_PCM: items.push_back("PS2 PCM"); break;
                case WAVE_FORMAT_PS2_ADPCM: items.push_back("PS2 ADPCM"); break;
                default: break;
                }
            }
            if (wfe->nSamplesPerSec)
                items.push_back(Format("%.1f kHz", wfe->nSamplesPerSec / 1000.0));
            if (wfe->nChannels)
                items.push_back(Format("%d chn", wfe->nChannels));
            if (wfe->wBitsPerSample)
                items.push_back(Format("%d bit", wfe->wBitsPerSample));
            if (wfe->nAvgBytesPerSec)
                items.push_back(BitrateText(int64_t(wfe->nAvgBytesPerSec) * 8));
        }
    }

    if (items.empty())
        return {};
    std::string desc = std::string(group) + " - ";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i)
            desc += ", ";
        desc += items[i];
    }
    return desc;
}
