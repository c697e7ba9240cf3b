// MPEG video sequence headers, H.264 parameter sets, VC-1 sequence headers, subpictures
// and subtitles.
#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>
#include <vector>

#include "demux/BaseSplitterFileEx.h"

namespace {

// ISO/IEC 13818-2 table 6-4, as durations in 27 MHz ticks.
constexpr int32_t kFrameDuration27M[16] = {0,      1126125, 1125000, 1080000, 900900, 900000, 540000, 450450,
                                           450000, 0,       0,       0,       0,      0,      0,      0};
// ISO/IEC 11172-2 2.4.3.2 pel aspect ratios.
constexpr float kPelAspect[16] = {1.0f,    1.0f,    0.6735f, 0.7031f, 0.7615f, 0.8055f, 0.8437f, 0.8935f,
                                  0.9157f, 0.9815f, 1.0255f, 1.0695f, 1.0950f, 1.1575f, 1.2015f, 1.0f};

void Reduce(int32_t& x, int32_t& y)
{
    const int32_t g = std::gcd(x, y);
    if (g > 1) {
        x /= g;
        y /= g;
    }
}

// Exp-Golomb bit reader over a copied, emulation-free NAL (ISO/IEC 14496-10 9.1). Reads
// past the end give zero bits.
class NalBitReader {
public:
    NalBitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint32_t Bits(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 1 | Bit();
        return v;
    }
    uint32_t Bit()
    {
        if (m_bit >= m_size * 8) {
            m_overrun = true;
            return 0;
        }
        const uint32_t b = (m_data[m_bit >> 3] >> (7 - (m_bit & 7))) & 1;
        ++m_bit;
        return b;
    }
    uint32_t Ue()
    {
        int zeros = 0;
        while (Bit() == 0) {
            if (m_overrun || ++zeros > 31)
                return 0;
        }
        if (zeros == 0)
            return 0;
        return ((1u << zeros) - 1) + Bits(zeros);
    }
    int32_t Se()
    {
        const uint32_t k = Ue();
        return (k & 1) ? int32_t((k + 1) / 2) : -int32_t(k / 2);
    }
    size_t BytePos() const { return (m_bit + 7) / 8; }
    bool Overrun() const { return m_overrun; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_bit = 0;
    bool m_overrun = false;
};

}  // namespace

bool CBaseSplitterFileEx::ReadSequenceHeader(SequenceHeader& h, int64_t len, CMediaType* pmt)
{
    const int64_t start = Position();
    uint8_t code = 0;
    bool found = false;
    while (Position() < start + len) {
        if (!NextStartCode(code, len))
            break;
        if (code == 0xB3) {
            found = true;
            break;
        }
    }
    if (!found)
        return false;
    const int64_t seqStart = Position() - 4;
    if (Remaining() < 8)
        return false;

    h.width = uint32_t(ReadBits(12));
    h.height = uint32_t(ReadBits(12));
    h.aspectCode = uint32_t(ReadBits(4));
    h.frameDuration = kFrameDuration27M[ReadBits(4)];
    h.bitrate = int32_t(ReadBits(18));
    if (!ReadBits(1))
        return false;
    h.vbvBufferSize = uint32_t(ReadBits(10));
    h.constrained = uint32_t(ReadBits(1));
    if ((h.hasIntraMatrix = uint32_t(ReadBits(1))) != 0)
        for (uint8_t& v : h.intraMatrix)
            v = uint8_t(ReadBits(8));
    if ((h.hasNonIntraMatrix = uint32_t(ReadBits(1))) != 0)
        for (uint8_t& v : h.nonIntraMatrix)
            v = uint8_t(ReadBits(8));
    const int64_t seqLen = Position() - seqStart;
    if (seqLen != 12 + (h.hasIntraMatrix ? 64 : 0) + (h.hasNonIntraMatrix ? 64 : 0))
        return false;  // cut short

    h.arX = int32_t(float(h.width) / kPelAspect[h.aspectCode] + 0.5f);
    h.arY = int32_t(h.height);

    int64_t extStart = 0, extLen = 0;
    if (NextStartCode(code, 8) && code == 0xB5) {
        extStart = Position() - 4;
        if (Remaining() < 6)
            return false;
        h.extensionId = uint32_t(ReadBits(4));
        h.profileEscape = uint32_t(ReadBits(1));
        h.profile = uint32_t(ReadBits(3));
        h.level = uint32_t(ReadBits(4));
        h.progressive = uint32_t(ReadBits(1));
        h.chromaFormat = uint32_t(ReadBits(2));
        h.width |= uint32_t(ReadBits(2)) << 12;
        h.height |= uint32_t(ReadBits(2)) << 12;
        h.bitrate |= int32_t(ReadBits(12)) << 18;
        if (!ReadBits(1))
            return false;
        h.vbvBufferSize |= uint32_t(ReadBits(8)) << 10;
        h.lowDelay = uint32_t(ReadBits(1));
        const int32_t n = int32_t(ReadBits(2));
        const int32_t d = int32_t(ReadBits(5));
        h.frameDuration = int32_t(int64_t(h.frameDuration) * (n + 1) / (d + 1));
        switch (h.aspectCode) {
        case 2: h.arX = 4, h.arY = 3; break;
        case 3: h.arX = 16, h.arY = 9; break;
        case 4: h.arX = 221, h.arY = 100; break;
        default: h.arX = int32_t(h.width), h.arY = int32_t(h.height); break;
        }
        extLen = Position() - extStart;
    }

    h.frameDuration = int32_t(int64_t(h.frameDuration) * 10 / 27);
    // A 30-bit code in 400 bit/s units can exceed 32 bits: the largest rates are clamped.
    h.bitrate = h.bitrate == 0x3FFFFFFF ? 0 : int32_t(std::min<int64_t>(int64_t(h.bitrate) * 400, INT32_MAX));
    Reduce(h.arX, h.arY);

    if (!pmt)
        return true;
    const int64_t end = Position();
    *pmt = CMediaType(MEDIATYPE_Video, GUID_NULL);
    if (extLen == 0) {
        pmt->subtype = MEDIASUBTYPE_MPEG1Payload;
        pmt->formattype = FORMAT_MPEGVideo;
        const size_t size = offsetof(Mpeg1VideoInfo, bSequenceHeader) + size_t(seqLen);
        uint8_t* block = pmt->AllocFormat(size);
        Mpeg1VideoInfo vi;
        vi.hdr.dwBitRate = uint32_t(h.bitrate);
        vi.hdr.AvgTimePerFrame = h.frameDuration;
        vi.hdr.bmiHeader.biSize = sizeof(BitmapInfoHeader);
        vi.hdr.bmiHeader.biWidth = int32_t(h.width);
        vi.hdr.bmiHeader.biHeight = int32_t(h.height);
        vi.hdr.bmiHeader.biXPelsPerMeter = int32_t(h.width) * h.arY;
        vi.hdr.bmiHeader.biYPelsPerMeter = int32_t(h.height) * h.arX;
        vi.cbSequenceHeader = uint32_t(seqLen);
        std::memcpy(block, &vi, offsetof(Mpeg1VideoInfo, bSequenceHeader));
        Seek(seqStart);
        if (ReadBytes(block + offsetof(Mpeg1VideoInfo, bSequenceHeader), seqLen) != S_OK)
            return false;
    } else {
        pmt->subtype = MEDIASUBTYPE_MPEG2_VIDEO;
        pmt->formattype = FORMAT_MPEG2Video;
        const size_t size = offsetof(Mpeg2VideoInfo, dwSequenceHeader) + size_t(seqLen + extLen);
        uint8_t* block = pmt->AllocFormat(size);
        Mpeg2VideoInfo vi;
        vi.hdr.dwBitRate = uint32_t(h.bitrate);
        vi.hdr.AvgTimePerFrame = h.frameDuration;
        vi.hdr.dwPictAspectRatioX = uint32_t(h.arX);
        vi.hdr.dwPictAspectRatioY = uint32_t(h.arY);
        vi.hdr.bmiHeader.biSize = sizeof(BitmapInfoHeader);
        vi.hdr.bmiHeader.biWidth = int32_t(h.width);
        vi.hdr.bmiHeader.biHeight = int32_t(h.height);
        vi.cbSequenceHeader = uint32_t(seqLen + extLen);
        vi.dwProfile = h.profile;
        vi.dwLevel = h.level;
        std::memcpy(block, &vi, offsetof(Mpeg2VideoInfo, dwSequenceHeader));
        uint8_t* bytes = block + offsetof(Mpeg2VideoInfo, dwSequenceHeader);
        Seek(seqStart);
        if (ReadBytes(bytes, seqLen) != S_OK)
            return false;
        Seek(extStart);
        if (ReadBytes(bytes + seqLen, extLen) != S_OK)
            return false;
    }
    Seek(end);
    return true;
}

bool CBaseSplitterFileEx::ReadDvdSubpicture(CMediaType* pmt)
{
    if (pmt)
        *pmt = CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_DVD_SUBPICTURE, FORMAT_None);
    return true;
}

bool CBaseSplitterFileEx::ReadSvcdSubpicture(CMediaType* pmt)
{
    if (pmt)
        *pmt = CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_SVCD_SUBPICTURE, FORMAT_None);
    return true;
}

bool CBaseSplitterFileEx::ReadCvdSubpicture(CMediaType* pmt)
{
    if (pmt)
        *pmt = CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_CVD_SUBPICTURE, FORMAT_None);
    return true;
}

bool CBaseSplitterFileEx::ReadHdmvSubtitle(CMediaType* pmt, const char* language)
{
    if (!pmt)
        return true;
    *pmt = CMediaType(MEDIATYPE_Subtitle, MEDIASUBTYPE_HDMVSUB, FORMAT_None);
    // Subtitle info: data offset (32 bits), 4-byte ISO language, 256 UTF-16 units of track name.
    uint8_t* block = pmt->AllocFormat(520);
    const uint32_t offset = 520;
    std::memcpy(block, &offset, 4);
    const char* lang = language && language[0] ? language : "eng";
    for (int i = 0; i < 3 && lang[i]; ++i)
        block[4 + i] = uint8_t(lang[i]);
    return true;
}

bool CBaseSplitterFileEx::ReadPs2Subtitle(CMediaType* pmt)
{
    if (pmt)
        *pmt = CMediaType(MEDIATYPE_Subtitle, MEDIASUBTYPE_PS2_SUB, FORMAT_None);
    return true;
}

bool CBaseSplitterFileEx::ReadDvbSubtitle(CMediaType*)
{
    return false;
}

namespace {

// Copies at most `max` bytes of a NAL body, dropping emulation-prevention bytes
// (00 00 03 -> 00 00) and stopping at a 00 00 0x with x <= 2.
std::vector<uint8_t> Unescape(const uint8_t* src, size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        if (i + 2 < size && src[i] == 0 && src[i + 1] == 0) {
            if (src[i + 2] == 3) {
                out.push_back(0);
                out.push_back(0);
                i += 2;
                continue;
            }
            if (src[i + 2] <= 2)
                break;
        }
        out.push_back(src[i]);
    }
    return out;
}

struct SpsInfo {
    uint32_t profile = 0, level = 0;
    int32_t width = 0, height = 0;
    int64_t frameDuration = 0;
    size_t parsedBytes = 0;
};

// ISO/IEC 14496-10 7.3.2.1.1 and E.1.1.
bool ParseSps(const std::vector<uint8_t>& rbsp, SpsInfo& s)
{
    NalBitReader r(rbsp.data(), rbsp.size());
    s.profile = r.Bits(8);
    r.Bits(8);
    s.level = r.Bits(8);
    r.Ue();
    if (s.profile >= 100) {
        if (r.Ue() == 3)
            r.Bit();
        r.Ue();
        r.Ue();
        r.Bit();
        if (r.Bit()) {
            for (int i = 0; i < 8; ++i) {
                if (!r.Bit())
                    continue;
                const int size = i < 6 ? 16 : 64;
                int last = 8, next = 8;
                for (int j = 0; j < size && next != 0; ++j) {
                    next = (last + r.Se() + 256) % 256;
                    last = next == 0 ? last : next;
                }
            }
        }
    }
    r.Ue();
    const uint32_t pocType = r.Ue();
    if (pocType == 0) {
        r.Ue();
    } else if (pocType == 1) {
        r.Bit();
        r.Se();
        r.Se();
        const uint32_t n = r.Ue();
        for (uint32_t i = 0; i < n && i < 256 && !r.Overrun(); ++i)
            r.Se();
    }
    r.Ue();
    r.Bit();
    const uint32_t w = r.Ue();
    const uint32_t hMap = r.Ue();
    const uint32_t frameMbsOnly = r.Bit();
    if (w > 1024 || hMap > 1024)
        return false;
    s.width = int32_t((w + 1) * 16);
    s.height = int32_t((2 - frameMbsOnly) * (hMap + 1) * 16);
    if (s.height == 1088)
        s.height = 1080;
    if (!frameMbsOnly)
        r.Bit();
    r.Bit();
    if (r.Bit()) {
        r.Ue();
        r.Ue();
        r.Ue();
        r.Ue();
    }
    if (r.Bit()) {  // VUI
        if (r.Bit() && r.Bits(8) == 255) {
            r.Bits(16);
            r.Bits(16);
        }
        if (r.Bit())
            r.Bit();
        if (r.Bit()) {
            r.Bits(3);
            r.Bit();
            if (r.Bit())
                r.Bits(24);
        }
        if (r.Bit()) {
            r.Ue();
            r.Ue();
        }
        if (r.Bit()) {
            uint64_t units = r.Bits(32);
            uint64_t scale = r.Bits(32);
            r.Bit();
            if (units && (units < 1000 || units > 1001)) {
                if (scale % units != 0 && (scale * 1001) % units == 0) {
                    scale = scale * 1001 / units;
                    units = 1001;
                } else {
                    scale = scale * 1000 / units;
                    units = 1000;
                }
            }
            const uint64_t t = scale / 2;
            if (t)
                s.frameDuration = int64_t(10000000 * units / t);
        }
    }
    if (r.Overrun())
        return false;
    s.parsedBytes = r.BytePos();
    return true;
}

}  // namespace

bool CBaseSplitterFileEx::ReadAvc(AvcHeader& h, int64_t len, CMediaType* pmt)
{
    const int64_t start = Position();
    const int64_t limit = start + len + 4;
    auto measured = [&]() { return h.spsFound && h.ppsFound && h.spsLen && h.ppsLen; };

    while (Position() < limit && !measured()) {
        // The first NAL must begin with a 4-byte start code; later ones may use 3 bytes.
        if (PeekBits(32) == 0x00000001) {
            ReadBits(32);
        } else if (Position() > start && PeekBits(24) == 0x000001) {
            ReadBits(24);
        } else {
            break;
        }
        const int64_t headerPos = Position();
        const uint32_t nal = uint32_t(ReadBits(8));
        int kind = 0;  // 1: SPS, 2: PPS
        if ((nal & 0x9F) == 7 && (nal & 0x60) != 0) {
            kind = 1;
            uint8_t raw[256];
            const int64_t body = Position();
            const int64_t n = std::min<int64_t>(256, Length() - body);
            if (n <= 0 || ReadBytes(raw, n) != S_OK)
                break;
            SpsInfo s;
            if (ParseSps(Unescape(raw, size_t(n)), s)) {
                h.spsFound = true;
                h.spsPos = headerPos - 4;
                h.spsLen = 0;
                h.profile = s.profile;
                h.level = s.level;
                h.width = s.width;
                h.height = s.height;
                h.frameDuration = s.frameDuration;
            } else {
                kind = 0;
            }
            Seek(body);
        } else if ((nal & 0x9F) == 8) {
            kind = 2;
            h.ppsFound = true;
            h.ppsPos = headerPos - 4;
            h.ppsLen = 0;
        }

        // On to the next start code within the limit; the NAL ends before it (and before a
        // zero byte that belongs to a 4-byte start code).
        bool next = false;
        int64_t nalEnd = 0;
        while (Position() + 3 <= limit && Remaining() >= 3) {
            const uint64_t w = PeekBits(24);
            if (w == 0x000001) {
                next = true;
                nalEnd = Position();
                break;
            }
            ReadBits(8);
        }
        if (!next)
            break;
        if (nalEnd - 1 > headerPos) {
            Seek(nalEnd - 1);
            if (PeekBits(8) == 0)
                --nalEnd;
        }
        Seek(nalEnd);
        if (kind == 1 && h.spsLen == 0)
            h.spsLen = nalEnd - h.spsPos;
        else if (kind == 2 && h.ppsLen == 0)
            h.ppsLen = nalEnd - h.ppsPos;
    }

    if (!measured())
        return false;
    if (!pmt)
        return true;

    const int64_t end = Position();
    const int64_t spsBody = h.spsLen - 4, ppsBody = h.ppsLen - 4;
    if (spsBody <= 0 || ppsBody <= 0 || spsBody > 0xFFFF || ppsBody > 0xFFFF)
        return false;
    const int64_t seqBytes = h.spsLen + h.ppsLen - 4;
    *pmt = CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_AVC1, FORMAT_MPEG2Video);
    uint8_t* block = pmt->AllocFormat(offsetof(Mpeg2VideoInfo, dwSequenceHeader) + size_t(seqBytes));
    Mpeg2VideoInfo vi;
    vi.hdr.AvgTimePerFrame = h.frameDuration;
    vi.hdr.dwPictAspectRatioX = uint32_t(h.width);
    vi.hdr.dwPictAspectRatioY = uint32_t(h.height);
    vi.hdr.bmiHeader.biSize = sizeof(BitmapInfoHeader);
    vi.hdr.bmiHeader.biWidth = h.width;
    vi.hdr.bmiHeader.biHeight = h.height;
    vi.hdr.bmiHeader.biCompression = FourCC('A', 'V', 'C', '1');
    vi.cbSequenceHeader = uint32_t(seqBytes);
    vi.dwProfile = h.profile;
    vi.dwLevel = h.level;
    vi.dwFlags = 4;
    std::memcpy(block, &vi, offsetof(Mpeg2VideoInfo, dwSequenceHeader));
    uint8_t* p = block + offsetof(Mpeg2VideoInfo, dwSequenceHeader);
    for (const auto& [pos, size] : {std::pair{h.spsPos, spsBody}, std::pair{h.ppsPos, ppsBody}}) {
        p[0] = uint8_t(size >> 8);
        p[1] = uint8_t(size);
        Seek(pos + 4);
        if (ReadBytes(p + 2, size) != S_OK)
            return false;
        p += 2 + size;
    }
    Seek(end);
    return true;
}

bool CBaseSplitterFileEx::ReadVc1(Vc1Header& h, int64_t len, CMediaType* pmt)
{
    const int64_t start = Position();
    if (PeekBits(32) != 0x0000010F)
        return false;
    ReadBits(32);
    h.profile = uint32_t(ReadBits(2));
    if (h.profile != 3)
        return false;
    h.level = uint32_t(ReadBits(3));
    h.chromaFormat = uint32_t(ReadBits(2));
    h.frameRateQ = uint32_t(ReadBits(3));
    h.bitrateQ = uint32_t(ReadBits(5));
    h.postProcFlag = uint32_t(ReadBits(1));
    h.width = (int32_t(ReadBits(12)) + 1) * 2;
    h.height = (int32_t(ReadBits(12)) + 1) * 2;
    h.broadcast = uint32_t(ReadBits(1));
    h.interlace = uint32_t(ReadBits(1));
    h.frameCounter = uint32_t(ReadBits(1));
    h.frameInterpolation = uint32_t(ReadBits(1));
    ReadBits(1);
    h.progressiveSegmented = uint32_t(ReadBits(1));
    int64_t num = 0, den = 0;
    if (ReadBits(1)) {  // display extension
        ReadBits(14);
        ReadBits(14);
        if (ReadBits(1) && ReadBits(4) == 15) {
            ReadBits(8);
            ReadBits(8);
        }
        if (ReadBits(1)) {
            if (ReadBits(1)) {
                num = 32;
                den = int64_t(ReadBits(16)) + 1;
            } else {
                const uint32_t nr = uint32_t(ReadBits(8));
                const uint32_t dr = uint32_t(ReadBits(4));
                constexpr int kRates[5] = {24, 25, 30, 50, 60};
                if (nr >= 1 && nr <= 5 && dr >= 1 && dr <= 2) {
                    num = dr == 1 ? 1000 : 1001;
                    den = 1000 * kRates[nr - 1];
                }
            }
        }
    }

    // The header and any entry-point headers after it, up to the next other start code.
    Seek(start + 4);
    int64_t count = 0;
    uint8_t code = 0;
    while (Position() < start + len + 4 && NextStartCode(code, len)) {
        if (code != 0x0E) {
            count = Position() - 4 - start;
            break;
        }
    }
    if (count <= 0)
        return false;
    if (!pmt)
        return true;

    const int64_t end = Position();
    *pmt = CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_WVC1, FORMAT_VideoInfo2);
    uint8_t* block = pmt->AllocFormat(sizeof(VideoInfoHeader2) + 1 + size_t(count));
    VideoInfoHeader2 vi;
    vi.AvgTimePerFrame = den ? 10000000 * num / den : 0;
    vi.dwPictAspectRatioX = uint32_t(h.width);
    vi.dwPictAspectRatioY = uint32_t(h.height);
    vi.bmiHeader.biSize = sizeof(BitmapInfoHeader);
    vi.bmiHeader.biWidth = h.width;
    vi.bmiHeader.biHeight = h.height;
    vi.bmiHeader.biCompression = FourCC('W', 'V', 'C', '1');
    std::memcpy(block, &vi, sizeof vi);
    Seek(start);
    if (ReadBytes(block + sizeof vi + 1, count) != S_OK)
        return false;
    Seek(end);
    return true;
}
