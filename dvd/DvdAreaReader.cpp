#include "dvd/DvdAreaReader.h"

#include <algorithm>
#include <cstring>

namespace {

// ISO/IEC 13818-1 pack header with SCR 0 and the DVD multiplex rate, no stuffing.
constexpr uint8_t kDefaultPackHeader[14] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00,
                                            0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};

bool StartCode(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

}  // namespace

bool DvdAreaReader::IsScrambled(const uint8_t* s)
{
    // MPEG-2 pack header: start code, '01' marker, stuffing length in the low 3 bits of byte 13.
    if (!StartCode(s) || s[3] != 0xBA || (s[4] & 0xC0) != 0x40)
        return false;
    size_t pos = 14 + (s[13] & 0x07);
    if (pos + 6 > kDvdSector || !StartCode(s + pos))
        return false;
    if (s[pos + 3] == 0xBB) {  // system header
        pos += 6 + ((size_t(s[pos + 4]) << 8) | s[pos + 5]);
        if (pos + 7 > kDvdSector || !StartCode(s + pos))
            return false;
    }
    const uint8_t id = s[pos + 3];
    const bool mpeg2Pes = id == 0xBD || (id >= 0xC0 && id <= 0xEF);
    if (!mpeg2Pes || pos + 7 > kDvdSector)
        return false;
    const uint8_t flags = s[pos + 6];
    // '10' marker, then PES_scrambling_control in bits 5-4.
    return (flags & 0xC0) == 0x80 && (flags & 0x30) != 0;
}

void DvdAreaReader::MakePaddingPack(uint8_t* sector, const uint8_t* packHeader)
{
    std::memcpy(sector, packHeader ? packHeader : kDefaultPackHeader, 14);
    sector[13] = 0xF8;  // no stuffing: the padding packet follows at once
    constexpr int kPayload = kDvdSector - 14 - 6;
    uint8_t* pes = sector + 14;
    pes[0] = 0x00;
    pes[1] = 0x00;
    pes[2] = 0x01;
    pes[3] = 0xBE;
    pes[4] = kPayload >> 8;
    pes[5] = kPayload & 0xFF;
    std::memset(pes + 6, 0xFF, kPayload);
}

void DvdAreaReader::ChangeRuns(std::vector<DvdCellRun> runs)
{
    m_runs = std::move(runs);
    m_runStart.clear();
    m_totalSectors = 0;
    for (const DvdCellRun& run : m_runs) {
        m_runStart.push_back(m_totalSectors);
        m_totalSectors += int64_t(run.lastSector) - run.firstSector + 1;
    }
    m_position = std::min(m_position, SizeBytes());
    m_chunkFirst = -1;
    m_chunkCount = 0;
}

void DvdAreaReader::SetArea(DvdBlockSource* source, std::vector<DvdCellRun> runs)
{
    m_source = source;
    m_runs = std::move(runs);
    m_runStart.clear();
    m_totalSectors = 0;
    for (const DvdCellRun& run : m_runs) {
        m_runStart.push_back(m_totalSectors);
        m_totalSectors += int64_t(run.lastSector) - run.firstSector + 1;
    }
    m_position = 0;
    m_chunkFirst = -1;
    m_chunkCount = 0;
    m_havePackHeader = false;
    m_badRun = 0;
    m_failed = false;
    m_error.clear();
    m_skipped.clear();
}

int64_t DvdAreaReader::Seek(int64_t offset)
{
    if (offset < 0)
        return -1;
    const int64_t size = SizeBytes();
    m_position = offset >= size ? size : offset - offset % kDvdSector;
    if (m_failed && m_error.rfind("encrypted", 0) != 0) {
        m_failed = false;
        m_error.clear();
    }
    m_badRun = 0;
    return m_position;
}

uint32_t DvdAreaReader::DiscSector(int64_t areaSector, int64_t* runLeft) const
{
    const auto it = std::upper_bound(m_runStart.begin(), m_runStart.end(), areaSector);
    const size_t run = static_cast<size_t>(it - m_runStart.begin()) - 1;
    const int64_t into = areaSector - m_runStart[run];
    *runLeft = int64_t(m_runs[run].lastSector) - m_runs[run].firstSector + 1 - into;
    return static_cast<uint32_t>(m_runs[run].firstSector + into);
}

bool DvdAreaReader::ReadOne(uint32_t sector, uint8_t* out)
{
    return m_source && (m_source->ReadBlocks(sector, 1, out) || m_source->ReadBlocks(sector, 1, out));
}

void DvdAreaReader::NoteSkipped(int64_t areaSector)
{
    if (!m_skipped.empty()) {
        DvdSkippedRange& last = m_skipped.back();
        if (last.firstSector + last.sectorCount == areaSector) {
            ++last.sectorCount;
            return;
        }
    }
    m_skipped.push_back({areaSector, 1});
}

bool DvdAreaReader::LoadChunk(int64_t s)
{
    int64_t runLeft = 0;
    const uint32_t first = DiscSector(s, &runLeft);
    const int count = static_cast<int>(std::min<int64_t>({kChunkSectors, runLeft, m_totalSectors - s}));
    uint8_t* data = m_chunk.data();
    const bool whole = m_source && m_source->ReadBlocks(first, count, data);
    for (int i = 0; i < count; ++i) {
        uint8_t* sector = data + size_t(i) * kDvdSector;
        if (!whole && !ReadOne(first + i, sector)) {
            MakePaddingPack(sector, m_havePackHeader ? m_lastPackHeader : nullptr);
            NoteSkipped(s + i);
            if (++m_badRun >= kDvdMaxBadRun) {
                m_failed = true;
                m_error = "too many unreadable sectors at sector " + std::to_string(first + i);
                m_chunkFirst = -1;
                return false;
            }
            continue;
        }
        m_badRun = 0;
        if (IsScrambled(sector)) {
            m_failed = true;
            m_error = m_cssPresent
                ? "encrypted disc: the disc's CSS keys could not be obtained (is this drive's region set?)"
                : "encrypted disc: this disc is protected by CSS and libdvdcss is not installed";
            m_chunkFirst = -1;
            return false;
        }
        if (StartCode(sector) && sector[3] == 0xBA) {
            std::memcpy(m_lastPackHeader, sector, 14);
            m_havePackHeader = true;
        }
    }
    m_chunkFirst = s;
    m_chunkCount = count;
    return true;
}

int DvdAreaReader::Read(uint8_t* buffer, int count)
{
    if (m_failed)
        return -1;
    if (count <= 0 || !buffer)
        return 0;
    const int64_t size = SizeBytes();
    int done = 0;
    while (done < count && m_position < size) {
        const int64_t s = m_position / kDvdSector;
        if (m_chunkFirst < 0 || s < m_chunkFirst || s >= m_chunkFirst + m_chunkCount) {
            if (!LoadChunk(s))
                return -1;
        }
        const int64_t chunkOffset = m_position - m_chunkFirst * kDvdSector;
        const int64_t available = int64_t(m_chunkCount) * kDvdSector - chunkOffset;
        const int n = static_cast<int>(std::min<int64_t>(available, count - done));
        std::memcpy(buffer + done, m_chunk.data() + chunkOffset, size_t(n));
        done += n;
        m_position += n;
    }
    return done;
}
