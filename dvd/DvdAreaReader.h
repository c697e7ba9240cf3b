// Serves an area of a title (a list of cell runs in playback order) as one byte stream of
// 2048-byte sectors, with the damage handling of the access layer:
// - a block that cannot be read is retried once, then replaced by an MPEG-2 padding pack so
//   that offsets stay stable; the replaced sectors are kept as skipped ranges;
// - 500 consecutive unreadable sectors end the area with an error;
// - a sector whose first PES packet is scrambled ends the area with an "encrypted disc" error.
//
// Threads: one reader belongs to one handle and is called by one thread at a time (the
// handle's user serialises); it holds no lock of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dvd/DvdAccess.h"
#include "dvd/DvdTitleScan.h"

constexpr int kDvdSector = 2048;
constexpr int kDvdMaxBadRun = 500;

// Where the sectors come from: a title set's title VOBs, addressed like the cells.
class DvdBlockSource {
public:
    virtual ~DvdBlockSource() = default;
    // Reads count sectors from sector on; false when any of them cannot be read.
    virtual bool ReadBlocks(uint32_t sector, int count, uint8_t* out) = 0;
};

class DvdAreaReader {
public:
    // Starts a new area on source (not owned, may be nullptr for an empty area). Clears the
    // position, the error and the skipped ranges.
    void SetArea(DvdBlockSource* source, std::vector<DvdCellRun> runs);
    // Changes the runs of the current area (a new stop point), keeping the position (clamped
    // to the new end), the error and the skipped ranges.
    void SetSource(DvdBlockSource* source) { m_source = source; }
    void ChangeRuns(std::vector<DvdCellRun> runs);
    // Tells which error text an encrypted sector gets: whether a CSS library is present.
    void SetCssLibraryPresent(bool present) { m_cssPresent = present; }

    int64_t SizeBytes() const { return m_totalSectors * kDvdSector; }
    // Moves to the start of the sector holding offset (the end for offsets past the end);
    // -1 for a negative offset. Clears a bad-sector error so that reading can go on beyond it.
    int64_t Seek(int64_t offset);
    // Up to count bytes from the position; 0 at the end, -1 on error (see Error()).
    int Read(uint8_t* buffer, int count);

    bool Failed() const { return m_failed; }
    const std::string& Error() const { return m_error; }
    const std::vector<DvdSkippedRange>& Skipped() const { return m_skipped; }

    // True when the sector is a pack whose first PES packet has its scrambling bits set.
    static bool IsScrambled(const uint8_t* sector);
    // Fills one sector with a pack header and a padding packet up to its end.
    static void MakePaddingPack(uint8_t* sector, const uint8_t* packHeader);

private:
    static constexpr int kChunkSectors = 16;

    // Reads the chunk holding area sector s into m_chunk; false on a fatal error.
    bool LoadChunk(int64_t s);
    bool ReadOne(uint32_t sector, uint8_t* out);
    void NoteSkipped(int64_t areaSector);
    uint32_t DiscSector(int64_t areaSector, int64_t* runLeft) const;

    DvdBlockSource* m_source = nullptr;
    std::vector<DvdCellRun> m_runs;
    std::vector<int64_t> m_runStart;  // area sector of each run's first sector
    int64_t m_totalSectors = 0;
    int64_t m_position = 0;           // bytes from the area start

    std::vector<uint8_t> m_chunk = std::vector<uint8_t>(kChunkSectors * kDvdSector);
    int64_t m_chunkFirst = -1;        // area sector of m_chunk's first sector, -1: empty
    int m_chunkCount = 0;

    uint8_t m_lastPackHeader[14] = {};
    bool m_havePackHeader = false;
    int m_badRun = 0;
    bool m_failed = false;
    bool m_cssPresent = false;
    std::string m_error;
    std::vector<DvdSkippedRange> m_skipped;
};
