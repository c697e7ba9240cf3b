#include "demux/MpegSplitterOutputPin.h"

#include <algorithm>
#include <cstring>

#include "demux/MpegSplitterFilter.h"

namespace {

// A length-prefixed chunk that starts with an access-unit delimiter (NAL type 9).
bool IsDelimiter(const Packet& p) { return p.data.size() > 4 && (p.data[4] & 0x1F) == 9; }

bool IsAdtsSync(const uint8_t* p) { return p[0] == 0xFF && (p[1] & 0xF6) == 0xF0; }

// The next 4-byte start code 00 00 00 01 at or after `from`, or npos.
size_t FindStartCode4(const std::vector<uint8_t>& d, size_t from)
{
    for (size_t i = from; i + 4 <= d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 0 && d[i + 3] == 1)
            return i;
    return std::string::npos;
}

// The next 00 00 01 xx with xx in `codes` at or after `from`, or npos.
size_t FindVc1Code(const std::vector<uint8_t>& d, size_t from, uint8_t code)
{
    for (size_t i = from; i + 4 <= d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == code)
            return i;
    return std::string::npos;
}

// Rewrites an Annex B chunk (start codes between NAL units) as length-prefixed NAL units.
std::vector<uint8_t> ToLengthPrefixed(const uint8_t* p, size_t n)
{
    std::vector<uint8_t> out;
    size_t i = 0;
    auto isStart = [&](size_t k) { return k + 3 <= n && p[k] == 0 && p[k + 1] == 0 && p[k + 2] == 1; };
    while (i < n && !isStart(i))
        ++i;
    while (i < n) {
        const size_t nal = i + 3;
        size_t end = nal;
        while (end < n && !isStart(end))
            ++end;
        size_t last = end;
        while (last > nal && p[last - 1] == 0)
            --last;
        const uint32_t len = uint32_t(last - nal);
        if (len) {
            const uint8_t head[4] = {uint8_t(len >> 24), uint8_t(len >> 16), uint8_t(len >> 8), uint8_t(len)};
            out.insert(out.end(), head, head + 4);
            out.insert(out.end(), p + nal, p + last);
        }
        i = end;
    }
    return out;
}

}  // namespace

CMpegSplitterOutputPin::CMpegSplitterOutputPin(std::vector<CMediaType> types, const std::string& name,
                                               CMpegSplitterFilter* filter, HRESULT* hr, int64_t jumpLimit)
    : CBaseSplitterOutputPin(std::move(types), name, filter, hr), m_mpeg(filter), m_jumpLimit(jumpLimit)
{
}

HRESULT CMpegSplitterOutputPin::Connect(IPin* receivePin, const CMediaType* type)
{
    Guid clsid{};
    const bool dmo = receivePin && receivePin->Filter() && Succeeded(receivePin->Filter()->GetClassID(&clsid)) &&
                     clsid == CLSID_DMOWrapperFilter;
    if (dmo)
        m_mpeg->SetReportAsAsfReader(true);
    const HRESULT hr = CBaseSplitterOutputPin::Connect(receivePin, type);
    if (dmo)
        m_mpeg->SetReportAsAsfReader(false);
    return hr;
}

HRESULT CMpegSplitterOutputPin::OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    {
        std::lock_guard<std::mutex> lock(m_pinLock);
        m_lastStart = NoTime;
        m_timeOffset = 0;
    }
    return CBaseSplitterOutputPin::OnNewSegment(start, stop, rate);
}

HRESULT CMpegSplitterOutputPin::OnEndFlush()
{
    {
        std::lock_guard<std::mutex> lock(m_pinLock);
        m_pending.reset();
        m_pendingList.clear();
        m_chunkMarks.clear();
        m_delimitersSeen = false;
    }
    return CBaseSplitterOutputPin::OnEndFlush();
}

HRESULT CMpegSplitterOutputPin::SendPacket(std::unique_ptr<Packet> p)
{
    std::unique_lock<std::mutex> lock(m_pinLock);

    // Time stamps that jump (the program stream's clock restarting) continue the time line.
    if (p->startTime != NoTime) {
        const int64_t t = p->startTime + m_timeOffset;
        if (m_lastStart != NoTime && m_jumpLimit != INT64_MAX) {
            const int64_t jump = t > m_lastStart ? t - m_lastStart : m_lastStart - t;
            if (jump > m_jumpLimit)
                m_timeOffset += m_lastStart - t;
        }
        p->startTime += m_timeOffset;
        if (p->endTime != NoTime)
            p->endTime += m_timeOffset;
        m_lastStart = p->startTime;
    }

    // A media type carried by the packet becomes the pin's type when it is delivered.
    const CMediaType mt = p->mediaType ? *p->mediaType : CurrentMediaType();
    const auto* wfe = mt.formattype == FORMAT_WaveFormatEx ? mt.FormatAs<WaveFormatEx>() : nullptr;

    if (mt.majortype == MEDIATYPE_Audio && wfe && wfe->wFormatTag == WAVE_FORMAT_AAC)
        return SendAac(std::move(p));
    if (mt.subtype == MEDIASUBTYPE_AVC1 || mt.subtype == GuidFromFourCC(FourCC('a', 'v', 'c', '1')))
        return SendH264(std::move(p));
    if (mt.subtype == MEDIASUBTYPE_WVC1 || mt.subtype == GuidFromFourCC(FourCC('w', 'v', 'c', '1')))
        return SendVc1(std::move(p));
    if (mt.subtype == MEDIASUBTYPE_HDMV_LPCM_AUDIO) {
        const size_t cut = std::min<size_t>(4, p->data.size());
        p->data.erase(p->data.begin(), p->data.begin() + ptrdiff_t(cut));
        lock.unlock();
        return CBaseSplitterOutputPin::SendPacket(std::move(p));
    }
    m_pending.reset();
    m_pendingList.clear();
    m_chunkMarks.clear();
    lock.unlock();
    return CBaseSplitterOutputPin::SendPacket(std::move(p));
}

void CMpegSplitterOutputPin::AppendPending(std::unique_ptr<Packet> p)
{
    if (!m_pending) {
        m_pending = std::move(p);
        return;
    }
    if (m_pending->startTime == NoTime && p->startTime != NoTime) {
        m_pending->startTime = p->startTime;
        m_pending->endTime = p->endTime;
        m_pending->syncPoint = p->syncPoint;
    }
    m_pending->discontinuity = m_pending->discontinuity || p->discontinuity;
    if (p->mediaType && !m_pending->mediaType)
        m_pending->mediaType = std::move(p->mediaType);
    m_pending->data.insert(m_pending->data.end(), p->data.begin(), p->data.end());
}

std::unique_ptr<Packet> CMpegSplitterOutputPin::TakeFrame(size_t from, size_t to)
{
    auto out = std::make_unique<Packet>();
    out->trackNumber = m_pending->trackNumber;
    out->discontinuity = m_pending->discontinuity;
    out->syncPoint = m_pending->syncPoint;
    out->startTime = m_pending->startTime;
    out->endTime = m_pending->endTime;
    out->mediaType = std::move(m_pending->mediaType);
    out->data.assign(m_pending->data.begin() + ptrdiff_t(from), m_pending->data.begin() + ptrdiff_t(to));
    m_pending->data.erase(m_pending->data.begin(), m_pending->data.begin() + ptrdiff_t(std::max(from, to)));
    m_pending->discontinuity = false;
    m_pending->startTime = m_pending->endTime = NoTime;
    return out;
}

// The caller holds m_pinLock; it is released around each delivery.
HRESULT CMpegSplitterOutputPin::SendAac(std::unique_ptr<Packet> p)
{
    AppendPending(std::move(p));
    std::vector<std::unique_ptr<Packet>> frames;
    std::vector<uint8_t>& d = m_pending->data;
    // Resynchronise to an ADTS header (ISO/IEC 13818-7 6.2).
    size_t skip = 0;
    while (skip + 1 < d.size() && !IsAdtsSync(&d[skip]))
        ++skip;
    d.erase(d.begin(), d.begin() + ptrdiff_t(skip));
    while (m_pending && m_pending->data.size() >= 10) {
        const uint8_t* h = m_pending->data.data();
        const size_t size = m_pending->data.size();
        const size_t frameLength = size_t((h[3] & 0x03) << 11 | h[4] << 3 | h[5] >> 5);
        const size_t headerLength = (h[1] & 0x01) ? 7 : 9;
        if (frameLength <= headerLength) {
            m_pending.reset();
            break;
        }
        if (frameLength > size)
            break;
        if (size >= frameLength + 2 && !IsAdtsSync(h + frameLength)) {
            m_pending.reset();
            break;
        }
        frames.push_back(TakeFrame(headerLength, frameLength));
    }
    HRESULT hr = S_OK;
    m_pinLock.unlock();
    for (auto& f : frames) {
        hr = CBaseSplitterOutputPin::SendPacket(std::move(f));
        if (hr != S_OK)
            break;
    }
    m_pinLock.lock();
    return hr;
}

HRESULT CMpegSplitterOutputPin::SendH264(std::unique_ptr<Packet> p)
{
    // A chunk takes the times and flags of the packet in which it starts.
    const size_t at = m_pending ? m_pending->data.size() : 0;
    if (p->startTime != NoTime || p->discontinuity || p->mediaType)
        m_chunkMarks.push_back({at, p->startTime, p->endTime, p->syncPoint, p->discontinuity});
    AppendPending(std::move(p));
    std::vector<uint8_t>& d = m_pending->data;
    size_t start = FindStartCode4(d, 0);
    if (start == std::string::npos) {
        start = d.size() > 3 ? d.size() - 3 : 0;  // keep a start code split across packets
    } else {
        for (;;) {
            const size_t next = FindStartCode4(d, start + 4);
            if (next == std::string::npos)
                break;
            auto unit = std::make_unique<Packet>();
            unit->trackNumber = m_pending->trackNumber;
            unit->mediaType = std::move(m_pending->mediaType);
            // The marks of packets that began inside [.., next) belong to this chunk.
            while (!m_chunkMarks.empty() && m_chunkMarks.front().offset < next) {
                const ChunkMark& m = m_chunkMarks.front();
                if (m.start != NoTime) {
                    unit->startTime = m.start;
                    unit->endTime = m.end;
                    unit->syncPoint = m.syncPoint;
                }
                unit->discontinuity = unit->discontinuity || m.discontinuity;
                m_chunkMarks.pop_front();
            }
            unit->data = ToLengthPrefixed(d.data() + start, next - start);
            if (!unit->data.empty())
                m_pendingList.push_back(std::move(unit));
            start = next;
        }
    }
    d.erase(d.begin(), d.begin() + ptrdiff_t(start));
    for (ChunkMark& m : m_chunkMarks)
        m.offset = m.offset > start ? m.offset - start : 0;
    m_pending->startTime = m_pending->endTime = NoTime;
    m_pending->discontinuity = false;

    // An access unit ends before an access-unit delimiter, or (in a stream without them)
    // before a unit that carries a start time.
    std::vector<std::unique_ptr<Packet>> units;
    if (!m_pendingList.empty() && IsDelimiter(*m_pendingList.front()))
        m_delimitersSeen = true;
    for (;;) {
        auto closing = m_pendingList.end();
        for (auto it = std::next(m_pendingList.begin(), m_pendingList.empty() ? 0 : 1); it != m_pendingList.end(); ++it) {
            const bool aud = IsDelimiter(**it);
            if (aud)
                m_delimitersSeen = true;
            if (aud || (!m_delimitersSeen && (*it)->startTime != NoTime)) {
                closing = it;
                break;
            }
        }
        if (closing == m_pendingList.end())
            break;
        auto merged = std::move(m_pendingList.front());
        m_pendingList.pop_front();
        while (m_pendingList.begin() != closing) {
            auto& next = m_pendingList.front();
            merged->data.insert(merged->data.end(), next->data.begin(), next->data.end());
            if (merged->startTime == NoTime && next->startTime != NoTime) {
                merged->startTime = next->startTime;
                merged->endTime = next->endTime;
            }
            m_pendingList.pop_front();
        }
        units.push_back(std::move(merged));
    }
    HRESULT hr = S_OK;
    m_pinLock.unlock();
    for (auto& u : units) {
        hr = CBaseSplitterOutputPin::SendPacket(std::move(u));
        if (hr != S_OK)
            break;
    }
    m_pinLock.lock();
    return hr;
}

HRESULT CMpegSplitterOutputPin::SendVc1(std::unique_ptr<Packet> p)
{
    AppendPending(std::move(p));
    std::vector<std::unique_ptr<Packet>> units;
    for (;;) {
        std::vector<uint8_t>& d = m_pending->data;
        const size_t frame = FindVc1Code(d, 0, 0x0D);
        const size_t seq = FindVc1Code(d, 0, 0x0F);
        const size_t begin = std::min(frame, seq);
        if (begin == std::string::npos) {
            // Keep a possible start code split across packets.
            if (d.size() > 3)
                d.erase(d.begin(), d.end() - 3);
            break;
        }
        // A unit ends before the next sequence start code, or before the next frame start
        // code once it holds a frame (a sequence header and its frame are one unit).
        bool holdsFrame = d[begin + 3] == 0x0D;
        size_t end = std::string::npos;
        for (size_t i = begin + 4; i + 4 <= d.size(); ++i) {
            if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1)
                continue;
            if (d[i + 3] == 0x0F || (d[i + 3] == 0x0D && holdsFrame)) {
                end = i;
                break;
            }
            if (d[i + 3] == 0x0D)
                holdsFrame = true;
        }
        if (end == std::string::npos) {
            d.erase(d.begin(), d.begin() + ptrdiff_t(begin));
            break;
        }
        units.push_back(TakeFrame(begin, end));
    }
    HRESULT hr = S_OK;
    m_pinLock.unlock();
    for (auto& u : units) {
        hr = CBaseSplitterOutputPin::SendPacket(std::move(u));
        if (hr != S_OK)
            break;
    }
    m_pinLock.lock();
    return hr;
}
