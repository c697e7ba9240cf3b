// Pack, system, PES, transport-stream and PVA headers.
#include <cstring>

#include "demux/BaseSplitterFileEx.h"

CBaseSplitterFileEx::CBaseSplitterFileEx(IAsyncReader* reader, HRESULT& hr, int64_t cacheSize,
                                         bool requireRandomAccess, bool allowStreaming)
    : CBaseSplitterFile(reader, hr, cacheSize, requireRandomAccess, allowStreaming)
{
}

bool CBaseSplitterFileEx::ReadTimeStamp(int64_t& value)
{
    int64_t v = int64_t(ReadBits(3)) << 30;
    if (!ReadBits(1))
        return false;
    v |= int64_t(ReadBits(15)) << 15;
    if (!ReadBits(1))
        return false;
    v |= int64_t(ReadBits(15));
    if (!ReadBits(1))
        return false;
    value = v * 10000 / 90 + m_ptsOffset;
    return true;
}

bool CBaseSplitterFileEx::ReadPackHeader(PackHeader& h)
{
    const uint64_t b = PeekBits(8);
    int64_t base = 0;
    auto scrBase = [&]() {
        base = int64_t(ReadBits(3)) << 30;
        if (!ReadBits(1))
            return false;
        base |= int64_t(ReadBits(15)) << 15;
        if (!ReadBits(1))
            return false;
        base |= int64_t(ReadBits(15));
        return ReadBits(1) != 0;
    };
    if ((b & 0xF1) == 0x21) {
        h.kind = 1;
        ReadBits(4);
        if (!scrBase() || !ReadBits(1))
            return false;
        h.scr = base;
        h.bitrate = int64_t(ReadBits(22));
        if (!ReadBits(1))
            return false;
    } else if ((b & 0xC4) == 0x44) {
        h.kind = 2;
        ReadBits(2);
        if (!scrBase())
            return false;
        const int64_t ext = int64_t(ReadBits(9));
        h.scr = (base * 300 + ext) * 10 / 27;
        if (!ReadBits(1))
            return false;
        h.bitrate = int64_t(ReadBits(22));
        if (!ReadBits(1) || !ReadBits(1))
            return false;
        ReadBits(5);
        Skip(int64_t(ReadBits(3)));
    } else {
        return false;
    }
    h.bitrate *= 400;
    return true;
}

bool CBaseSplitterFileEx::ReadSystemHeader(SystemHeader& h)
{
    const int length = int(ReadBits(16));
    if (!ReadBits(1))
        return false;
    h.rateBound = uint32_t(ReadBits(22));
    if (!ReadBits(1))
        return false;
    h.audioBound = uint32_t(ReadBits(6));
    h.fixedRate = uint32_t(ReadBits(1));
    h.cspsFlag = uint32_t(ReadBits(1));
    h.audioLock = uint32_t(ReadBits(1));
    h.videoLock = uint32_t(ReadBits(1));
    if (!ReadBits(1))
        return false;
    h.videoBound = uint32_t(ReadBits(5));
    ReadBits(8);
    // The stream entries (id 8, '11', buffer scale 1, size bound 13) are not kept.
    const int entries = length > 6 ? (length - 6) / 3 : 0;
    Skip(int64_t(entries) * 3);
    return true;
}

bool CBaseSplitterFileEx::ReadPesHeader(PesHeader& h, uint8_t code)
{
    h = PesHeader{};
    if (!((code >= 0xBD && code <= 0xEF) || code == 0xFD))
        return false;
    h.length = uint16_t(ReadBits(16));
    if (code == 0xBE || code == 0xBF)
        return true;

    int64_t used = 0;  // header bytes counted against a non-zero length
    for (int i = 0; i < 16 && PeekBits(8) == 0xFF; ++i) {
        ReadBits(8);
        ++used;
    }

    h.kind = PeekBits(2) == 2 ? 2 : 1;
    if (h.kind == 1) {
        uint64_t bits = ReadBits(2);
        if (bits == 1) {
            const int scale = ReadBits(1) ? 1024 : 128;
            h.stdBufferSize = int64_t(scale) * int64_t(ReadBits(13));
            used += 2;
            bits = ReadBits(2);
        }
        if (bits == 0) {
            h.hasPts = ReadBits(1) != 0;
            h.hasDts = ReadBits(1) != 0;
        }
    } else {
        if (Remaining() < 3)
            return false;
        ReadBits(2);
        h.scrambling = uint32_t(ReadBits(2));
        h.priority = uint32_t(ReadBits(1));
        h.alignment = uint32_t(ReadBits(1));
        h.copyright = uint32_t(ReadBits(1));
        h.original = uint32_t(ReadBits(1));
        h.hasPts = ReadBits(1) != 0;
        h.hasDts = ReadBits(1) != 0;
        h.escr = uint32_t(ReadBits(1));
        h.esRate = uint32_t(ReadBits(1));
        h.dsmTrickMode = uint32_t(ReadBits(1));
        h.moreCopyright = uint32_t(ReadBits(1));
        h.crc = uint32_t(ReadBits(1));
        h.extension = uint32_t(ReadBits(1));
        h.headerDataLength = uint32_t(ReadBits(8));
    }

    if (h.hasPts) {
        if (h.kind == 2 && ReadBits(4) != (h.hasDts ? 3u : 2u))
            return false;
        if (!ReadTimeStamp(h.pts))
            return false;
    }
    if (h.hasDts) {
        if (ReadBits(4) != 1)
            return false;
        if (!ReadTimeStamp(h.dts))
            return false;
    }

    if (h.kind == 1) {
        if (!h.hasPts && !h.hasDts && ReadBits(4) != 0xF)
            return false;
        // The flag byte (or 0x0F), then the remaining 4 bytes of a PTS and 5 of a DTS.
        used += 1 + (h.hasPts ? 4 : 0) + (h.hasDts ? 5 : 0);
    } else {
        const int64_t stamps = (h.hasPts ? 5 : 0) + (h.hasDts ? 5 : 0);
        if (int64_t(h.headerDataLength) < stamps)
            return false;
        used += 3 + h.headerDataLength;
        if (Remaining() < int64_t(h.headerDataLength) - stamps)
            return false;
        Skip(h.headerDataLength - stamps);
    }
    if (h.length) {
        // A length too short for its own header is corrupt.
        if (int64_t(h.length) < used)
            return false;
        h.length = uint16_t(h.length - used);
    }
    return true;
}

bool CBaseSplitterFileEx::ReadTsHeader(TsPacketHeader& h, bool resync)
{
    AlignToByte();
    const int64_t start = Position();
    auto byteAt = [&](int64_t pos) {
        Seek(pos);
        return uint8_t(ReadBits(8));
    };

    if (m_tsPacketLength == 0) {
        int found = 0;
        for (int64_t i = 0; i < 192 && !found; ++i) {
            if (byteAt(start + i) != 0x47)
                continue;
            if (byteAt(start + i + 188) == 0x47)
                found = 188;
            else if (byteAt(start + i + 192) == 0x47)
                found = 192;
        }
        Seek(start);
        if (!found)
            return false;
        m_tsPacketLength = found;
    }

    if (resync) {
        bool ok = false;
        for (int64_t i = 0; i < m_tsPacketLength; ++i) {
            const int64_t pos = start + i;
            if (byteAt(pos) != 0x47)
                continue;
            if (i == 0 || byteAt(pos + m_tsPacketLength) == 0x47) {
                Seek(pos);
                ok = true;
                break;
            }
        }
        if (!ok)
            return false;
    }

    if (PeekBits(8) != 0x47)
        return false;
    const int64_t packetStart = Position();
    h = TsPacketHeader{};
    h.next = packetStart + m_tsPacketLength;
    h.sync = uint32_t(ReadBits(8));
    h.transportError = uint32_t(ReadBits(1));
    h.payloadStart = uint32_t(ReadBits(1));
    h.transportPriority = uint32_t(ReadBits(1));
    h.pid = uint32_t(ReadBits(13));
    h.scrambling = uint32_t(ReadBits(2));
    h.adaptationField = uint32_t(ReadBits(1));
    h.payload = uint32_t(ReadBits(1));
    h.continuity = uint32_t(ReadBits(4));
    h.payloadBytes = 184;
    if (h.adaptationField) {
        h.adaptationLength = uint32_t(ReadBits(8));
        if (h.adaptationLength) {
            const int64_t fieldStart = Position();
            h.discontinuity = uint32_t(ReadBits(1));
            h.randomAccess = uint32_t(ReadBits(1));
            h.esPriority = uint32_t(ReadBits(1));
            h.pcrPresent = uint32_t(ReadBits(1));
            h.opcrPresent = uint32_t(ReadBits(1));
            h.splicingPoint = uint32_t(ReadBits(1));
            h.privateData = uint32_t(ReadBits(1));
            h.extension = uint32_t(ReadBits(1));
            if (h.pcrPresent) {
                const int64_t base = int64_t(ReadBits(33));
                ReadBits(6);
                const int64_t ext = int64_t(ReadBits(9));
                h.pcr = (base * 300 + ext) * 10 / 27;
            }
            const int64_t rest = fieldStart + h.adaptationLength - Position();
            if (rest < 0)
                return false;
            Skip(rest);
        }
        h.payloadBytes -= int32_t(h.adaptationLength) + 1;
        if (h.payloadBytes < 0)
            return false;
    }
    return true;
}

bool CBaseSplitterFileEx::ReadTsSection(TsSectionHeader& h)
{
    Skip(int64_t(ReadBits(8)));
    h.tableId = uint32_t(ReadBits(8));
    h.syntaxIndicator = uint32_t(ReadBits(1));
    h.zero = uint32_t(ReadBits(1));
    h.reserved = uint32_t(ReadBits(2));
    h.sectionLength = uint32_t(ReadBits(12));
    h.transportStreamId = uint32_t(ReadBits(16));
    h.reserved2 = uint32_t(ReadBits(2));
    h.version = uint32_t(ReadBits(5));
    h.currentNext = uint32_t(ReadBits(1));
    h.sectionNumber = uint32_t(ReadBits(8));
    h.lastSectionNumber = uint32_t(ReadBits(8));
    return h.syntaxIndicator == 1 && h.zero == 0;
}

bool CBaseSplitterFileEx::ReadPvaHeader(PvaHeader& h, bool resync)
{
    constexpr uint64_t kMask = 0xFFFFFC00FFE00000ull;
    constexpr uint64_t kPattern = 0x4156000055000000ull;
    if (resync) {
        for (int i = 0; i < 65536 && (PeekBits(64) & kMask) != kPattern; ++i) {
            if (Remaining() < 8)
                return false;
            ReadBits(8);
        }
    }
    if ((PeekBits(64) & kMask) != kPattern)
        return false;

    h = PvaHeader{};
    h.sync = uint32_t(ReadBits(16));
    h.streamId = uint32_t(ReadBits(8));
    h.counter = uint32_t(ReadBits(8));
    h.reserved = uint32_t(ReadBits(8));
    h.flagsReserved = uint32_t(ReadBits(3));
    h.hasPts = uint32_t(ReadBits(1));
    h.preBytes = uint32_t(ReadBits(2));
    h.postBytes = uint32_t(ReadBits(2));
    h.length = uint32_t(ReadBits(16));
    if (h.length > 6136)
        return false;
    const int64_t afterLength = Position();

    if (h.streamId == 1 && h.hasPts) {
        h.pts = int64_t(ReadBits(32)) * 10000 / 90 + m_ptsOffset;
    } else if (h.streamId == 2 && (h.hasPts || (PeekBits(32) & 0xFFFFFFE0) == 0x1C0)) {
        uint8_t code = 0;
        PesHeader pes;
        h.hasPts = 0;
        if (NextStartCode(code, 4) && ReadPesHeader(pes, code) && pes.hasPts) {
            h.hasPts = 1;
            h.pts = pes.pts;
        }
    }
    Skip(h.postBytes);
    const int64_t consumed = Position() - afterLength;
    if (consumed > int64_t(h.length))
        return false;
    h.length -= uint32_t(consumed);
    return true;
}
