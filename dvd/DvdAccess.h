// DVD access layer: the seven operations through which the program opens a disc, learns its
// titles and reads a title's MPEG program stream. Implemented on libdvdread.
//
// Threads: open, information and close come from the user-interface thread; area, seek and
// read from one pipeline's reading thread at a time. A handle must not be used from two
// threads at once (callers serialise, see CDVDStream); different handles are independent.
// MyDVDGetInfo and DvdScanNotes only read the record made by MyDVDOpen and may run beside
// the reads of the same handle.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dvd/DvdDiscInfo.h"

using DvdHandle = uint32_t;  // 0 means failure / none

extern "C" {
// path: an optical device (/dev/sr0), a mount point or VIDEO_TS folder (or the folder above
// it), or an ISO image. Returns 0 when it is not a readable DVD; DvdLastError() says why.
DvdHandle MyDVDOpen(const char* path);
void MyDVDGetInfo(DvdHandle handle, DvdDiscInfo* info);
// The byte stream now starts at offset 0 at the first sector of that chapter of that title.
void MyDVDSetArea(DvdHandle handle, int title, int chapter);
// Reading ends when this point is reached: (title + 1, 0) ends after the whole title,
// (title, chapter + 1) after one chapter.
void MyDvdSetStopPos(DvdHandle handle, int stopTitle, int stopChapter);
// origin is always 0 (from the start of the area). Returns the position reached, which is the
// start of the sector holding offset (at or before it), or a negative value on failure.
int64_t MyDVDSeek(DvdHandle handle, int64_t offset, int origin);
// Delivers consecutive bytes of the area; 0 at the end of the area, negative on error.
int MyDVDRead(DvdHandle handle, uint8_t* buffer, int count);
void MyDVDClose(DvdHandle handle);
}

// --- Extras of this layer beyond the seven operations -------------------------------------

// Why the last MyDVDOpen on this thread failed, as a one-line user text ("" after success).
std::string DvdLastError();

// A range of sectors that could not be read and was skipped, in sectors of the area.
struct DvdSkippedRange {
    int64_t firstSector;
    int64_t sectorCount;
};

// Ranges skipped while reading through this handle since the last MyDVDSetArea.
std::vector<DvdSkippedRange> DvdSkippedRanges(DvdHandle handle);

// True when the last MyDVDRead on this handle ended with an error rather than the end of the
// area; DvdReadError gives the reason ("encrypted disc", "too many unreadable sectors", ...).
bool DvdReadFailed(DvdHandle handle);
std::string DvdReadError(DvdHandle handle);

// Fault injection for tests: when set, the hook is asked for every block read with the
// absolute sector (the title set's VOB address, as the cells give it) and the count;
// returning false makes that read fail as a bad sector. Pass an empty function to remove it.
using DvdReadHook = std::function<bool(int64_t absoluteSector, int sectorCount)>;
void DvdSetReadHook(DvdHandle handle, DvdReadHook hook);

// What the scan left out of the disc record and why (broken chapters, cells outside the
// video files, titles beyond 32), one line each; empty for a sound disc.
std::vector<std::string> DvdScanNotes(DvdHandle handle);
