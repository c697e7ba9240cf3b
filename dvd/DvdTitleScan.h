// Turns a disc's navigation data (the VMG title table and each title set's IFO) into the disc
// information record and, per title, the cells that make up each chapter in playback order.
//
// Navigation data on real discs is often hostile ("structure protection": dozens of titles,
// cells shared between titles or pointing back) or damaged. Every walk here is bounded by the
// sizes of the tables it walks, every index is checked before use, and broken parts are left
// out (a title whose navigation is unusable keeps its place with zero length and no chapters,
// so title numbers stay those of the disc).
//
// Threads: a scan runs on the caller's thread and touches only its source and its result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <dvdread/ifo_types.h>

#include "dvd/DvdDiscInfo.h"

// A run of sectors of a title set's title VOBs (the cells' own addresses), both ends included.
struct DvdCellRun {
    uint32_t firstSector;
    uint32_t lastSector;
};

struct DvdChapterPlan {
    std::vector<DvdCellRun> cells;  // in playback order, first angle only
};

struct DvdTitlePlan {
    int titleSet = 0;                       // 0 when the title is unusable
    std::vector<DvdChapterPlan> chapters;   // one per chapter of the record, at most 64
};

struct DvdDiscPlan {
    DvdDiscInfo info{};
    std::vector<DvdTitlePlan> titles;       // one per record title
    std::vector<std::string> notes;         // what was left out and why, for logs and tests
};

// Where the scan gets its tables. Pointers stay valid for the source's lifetime.
class DvdNavigationSource {
public:
    virtual ~DvdNavigationSource() = default;
    // VIDEO_TS.IFO, or nullptr when it cannot be read.
    virtual const ifo_handle_t* Vmg() = 0;
    // VTS_nn_0.IFO (n from 1), or nullptr. Implementations read each one once.
    virtual const ifo_handle_t* TitleSet(int n) = 0;
    // Size of the title set's title VOBs in sectors, 0 when they cannot be opened.
    virtual int64_t TitleVobSectors(int n) = 0;
};

DvdDiscPlan ScanDisc(DvdNavigationSource& source);

// Play time of a program chain in milliseconds: h:m:s in BCD and the frames in BCD in the low
// six bits of the frame byte, whose two top bits give the frame rate (1: 25, 3: 29.97 per
// second). Frames are dropped when the rate code is not one of those.
double DvdTimeToMs(const dvd_time_t& time);
