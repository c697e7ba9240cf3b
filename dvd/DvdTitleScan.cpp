#include "dvd/DvdTitleScan.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kMaxTitleSets = 99;

int Bcd(uint8_t value)
{
    const int high = value >> 4;
    const int low = value & 0x0F;
    // A nibble above 9 is not BCD; count it as its plain value rather than inventing time.
    return high * 10 + low;
}

std::string Note(const char* format, int a, int b = 0, int c = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// The cells of one chapter: from the program's first cell up to the next program's first
// cell, or the end of the chain for the last program and when toChainEnd (no later chapter
// plays this chain). Cells of other angles are skipped, and cells outside the title VOBs are
// left out.
DvdChapterPlan ChapterCells(const pgc_t& pgc, int program, bool toChainEnd, int64_t vobSectors, int* droppedCells)
{
    DvdChapterPlan chapter;
    const int cellCount = pgc.nr_of_cells;
    const int first = pgc.program_map[program - 1];
    int last = cellCount;
    if (program < pgc.nr_of_programs && !toChainEnd) {
        const int next = pgc.program_map[program];
        if (next > first)
            last = std::min(next - 1, cellCount);
    }
    if (first < 1 || first > cellCount)
        return chapter;
    for (int cell = first; cell <= last; ++cell) {
        const cell_playback_t& playback = pgc.cell_playback[cell - 1];
        if (playback.block_type == BLOCK_TYPE_ANGLE_BLOCK && playback.block_mode != BLOCK_MODE_FIRST_CELL)
            continue;
        if (playback.last_sector < playback.first_sector || playback.last_sector >= vobSectors) {
            ++*droppedCells;
            continue;
        }
        chapter.cells.push_back({playback.first_sector, playback.last_sector});
    }
    return chapter;
}

uint32_t PackedLanguage(uint16_t code)
{
    const auto letter = [](int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    return letter(code >> 8) && letter(code & 0xFF) ? code : 0;
}

void FillAudio(const pgc_t& pgc, const vtsi_mat_t& mat, DvdTitleInfo& out)
{
    const int declared = std::min<int>(mat.nr_of_vts_audio_streams, 8);
    for (int i = 0; i < declared; ++i) {
        const uint16_t control = pgc.audio_control[i];
        if (!(control & 0x8000))
            continue;
        const int n = (control >> 8) & 0x07;
        const audio_attr_t& attr = mat.vts_audio_attr[i];
        uint32_t id;
        int32_t coding;
        switch (attr.audio_format) {
        case 0: coding = kDvdAudioAc3; id = 0xBD80 + n; break;
        case 2: coding = kDvdAudioMpeg1; id = (0xC0u + n) << 8; break;
        case 3: coding = kDvdAudioMpeg2; id = (0xC0u + n) << 8; break;
        case 4: coding = kDvdAudioLpcm; id = 0xBDA0 + n; break;
        case 6: coding = kDvdAudioDts; id = 0xBD88 + n; break;
        // SDDS and reserved codings: listed without a coding the program knows.
        default: coding = 1; id = 0xBD90 + n; break;
        }
        const int k = out.audioCount++;
        out.audioStreamId[k] = id;
        out.audioCoding[k] = coding;
        out.audioChannels[k] = attr.channels;
        out.audioLanguage[k] = attr.lang_type == 1 ? PackedLanguage(attr.lang_code) : 0;
    }
}

void FillSubpictures(const pgc_t& pgc, const vtsi_mat_t& mat, DvdTitleInfo& out)
{
    const bool wide = mat.vts_video_attr.display_aspect_ratio == 3;
    const int declared = std::min<int>(mat.nr_of_vts_subp_streams, 32);
    for (int i = 0; i < declared; ++i) {
        const uint32_t control = pgc.subp_control[i];
        if (!(control & 0x80000000u))
            continue;
        const int n = wide ? (control >> 16) & 0x1F : (control >> 24) & 0x1F;
        const int k = out.subtitleCount++;
        out.subtitleStreamId[k] = 0xBD20 + n;
        const subp_attr_t& attr = mat.vts_subp_attr[i];
        out.subtitleLanguage[k] = attr.type == 1 ? PackedLanguage(attr.lang_code) : 0;
    }
}

// The program chain a PTT entry names, or nullptr when the entry points nowhere usable.
const pgc_t* ChainOf(const ifo_handle_t& vts, const ptt_info_t& ptt)
{
    const pgcit_t* pgcit = vts.vts_pgcit;
    if (!pgcit || !pgcit->pgci_srp || ptt.pgcn < 1 || ptt.pgcn > pgcit->nr_of_pgci_srp)
        return nullptr;
    const pgc_t* pgc = pgcit->pgci_srp[ptt.pgcn - 1].pgc;
    if (!pgc || !pgc->program_map || !pgc->cell_playback || pgc->nr_of_cells == 0)
        return nullptr;
    if (ptt.pgn < 1 || ptt.pgn > pgc->nr_of_programs)
        return nullptr;
    return pgc;
}

void ScanTitle(DvdNavigationSource& source, const title_info_t& entry, int t, DvdDiscPlan& plan)
{
    DvdTitleInfo& out = plan.info.titles[t];
    DvdTitlePlan& titlePlan = plan.titles[t];
    const int setNumber = entry.title_set_nr;
    if (setNumber < 1 || setNumber > kMaxTitleSets) {
        plan.notes.push_back(Note("title %d: title set %d does not exist", t + 1, setNumber));
        return;
    }
    const ifo_handle_t* vts = source.TitleSet(setNumber);
    if (!vts || !vts->vtsi_mat || !vts->vts_ptt_srpt || !vts->vts_ptt_srpt->title) {
        plan.notes.push_back(Note("title %d: title set %d cannot be read", t + 1, setNumber));
        return;
    }
    const vts_ptt_srpt_t& pttTable = *vts->vts_ptt_srpt;
    if (entry.vts_ttn < 1 || entry.vts_ttn > pttTable.nr_of_srpts) {
        plan.notes.push_back(Note("title %d: title set %d has no title %d", t + 1, setNumber, entry.vts_ttn));
        return;
    }
    const ttu_t& ttu = pttTable.title[entry.vts_ttn - 1];
    if (!ttu.ptt) {
        plan.notes.push_back(Note("title %d: no chapter table", t + 1));
        return;
    }
    // The title table and the title set may disagree about the chapter count; trust the
    // smaller, which both tables actually hold.
    int pttCount = ttu.nr_of_ptts;
    if (entry.nr_of_ptts < pttCount)
        pttCount = entry.nr_of_ptts;
    const int64_t vobSectors = source.TitleVobSectors(setNumber);
    const pgcit_t* pgcit = vts->vts_pgcit;
    const int chainCount = pgcit ? pgcit->nr_of_pgci_srp : 0;
    std::vector<bool> chainTimed(static_cast<size_t>(chainCount) + 1, false);

    int droppedCells = 0;
    int droppedChapters = 0;
    const pgc_t* firstChain = nullptr;
    for (int p = 0; p < pttCount; ++p) {
        const ptt_info_t& ptt = ttu.ptt[p];
        const pgc_t* pgc = ChainOf(*vts, ptt);
        if (!pgc) {
            ++droppedChapters;
            continue;
        }
        if (!firstChain)
            firstChain = pgc;
        if (!chainTimed[ptt.pgcn]) {
            chainTimed[ptt.pgcn] = true;
            out.durationMs += DvdTimeToMs(pgc->playback_time);
        }
        // A chain's last listed chapter plays to the chain's end, so a chapter table cut
        // short still leaves the whole title.
        const bool lastOfChain = p + 1 >= pttCount || ChainOf(*vts, ttu.ptt[p + 1]) != pgc;
        DvdChapterPlan chapter = ChapterCells(*pgc, ptt.pgn, lastOfChain, vobSectors, &droppedCells);
        if (titlePlan.chapters.size() < static_cast<size_t>(kDvdMaxChapters)) {
            titlePlan.chapters.push_back(std::move(chapter));
        } else {
            // The record holds 64 chapters; the rest of the title belongs to the last one.
            std::vector<DvdCellRun>& cells = titlePlan.chapters.back().cells;
            cells.insert(cells.end(), chapter.cells.begin(), chapter.cells.end());
        }
    }
    if (droppedChapters)
        plan.notes.push_back(Note("title %d: %d chapter entries point at missing program chains or programs", t + 1, droppedChapters));
    if (droppedCells)
        plan.notes.push_back(Note("title %d: %d cells lie outside the title's video files", t + 1, droppedCells));
    if (!firstChain) {
        plan.notes.push_back(Note("title %d: no usable chapter", t + 1));
        titlePlan.chapters.clear();
        out.durationMs = 0;
        return;
    }

    uint64_t titleSectors = 0;
    for (size_t c = 0; c < titlePlan.chapters.size(); ++c) {
        uint64_t sectors = 0;
        for (const DvdCellRun& run : titlePlan.chapters[c].cells)
            sectors += uint64_t(run.lastSector) - run.firstSector + 1;
        out.chapterSectors[c] = static_cast<uint32_t>(std::min<uint64_t>(sectors, UINT32_MAX));
        titleSectors += sectors;
    }
    if (titleSectors == 0) {
        // Nothing of it can be read: not listed, rather than listed and empty.
        plan.notes.push_back(Note("title %d: no readable cell", t + 1));
        titlePlan.chapters.clear();
        out = DvdTitleInfo{};
        return;
    }
    titlePlan.titleSet = setNumber;
    for (const DvdChapterPlan& chapter : titlePlan.chapters) {
        if (!chapter.cells.empty()) {
            out.firstCellSector = chapter.cells.front().firstSector;
            break;
        }
    }
    out.chapterCount = static_cast<int32_t>(titlePlan.chapters.size());
    FillAudio(*firstChain, *vts->vtsi_mat, out);
    FillSubpictures(*firstChain, *vts->vtsi_mat, out);
    for (int i = 0; i < 16; ++i)
        out.palette[i] = firstChain->palette[i];
    out.paletteValid = 1;
}

}  // namespace

double DvdTimeToMs(const dvd_time_t& time)
{
    const double seconds = Bcd(time.hour) * 3600.0 + Bcd(time.minute) * 60.0 + Bcd(time.second);
    double ms = seconds * 1000.0;
    const int frames = Bcd(time.frame_u & 0x3F);
    switch (time.frame_u >> 6) {
    case 1: ms += frames * 1000.0 / 25.0; break;
    case 3: ms += frames * 1000.0 / 29.97; break;
    default: break;
    }
    return ms;
}

DvdDiscPlan ScanDisc(DvdNavigationSource& source)
{
    DvdDiscPlan plan;
    const ifo_handle_t* vmg = source.Vmg();
    if (!vmg || !vmg->tt_srpt || !vmg->tt_srpt->title) {
        plan.notes.push_back("the disc has no title table");
        return plan;
    }
    const tt_srpt_t& table = *vmg->tt_srpt;
    const int count = std::min<int>(table.nr_of_srpts, kDvdMaxTitles);
    if (table.nr_of_srpts > kDvdMaxTitles)
        plan.notes.push_back(Note("the disc has %d titles; the first %d are listed", table.nr_of_srpts, kDvdMaxTitles));
    plan.info.titleCount = count;
    plan.titles.resize(static_cast<size_t>(count));
    for (int t = 0; t < count; ++t)
        ScanTitle(source, table.title[t], t, plan);
    return plan;
}
