// The access layer's handle table and the seven operations on libdvdread.
#include "dvd/DvdAccess.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "dvd/DvdAreaReader.h"
#include "dvd/DvdPathCheck.h"
#include "dvd/DvdTitleScan.h"

namespace {

constexpr int kMaxTitleSets = 99;

thread_local std::string t_lastOpenError;

// libdvdread's messages: kept out of the user's terminal; the one about missing CSS support
// decides the wording of an "encrypted disc" error.
struct LogCapture {
    bool cssUnavailable = false;
};

void LogMessage(void* priv, dvd_logger_level_t, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (std::strstr(text, "Encrypted DVD support unavailable") || std::strstr(text, "No css library"))
        static_cast<LogCapture*>(priv)->cssUnavailable = true;
}

const dvd_logger_cb kLogger = {LogMessage};

// One opened disc. Used by one thread at a time (see DvdAccess.h); the table lock only guards
// the table, never the disc.
class OpenDisc final : public DvdNavigationSource, public DvdBlockSource {
public:
    OpenDisc() = default;
    OpenDisc(const OpenDisc&) = delete;
    OpenDisc& operator=(const OpenDisc&) = delete;
    ~OpenDisc() override
    {
        for (dvd_file_t* file : m_vobs) {
            if (file)
                DVDCloseFile(file);
        }
        for (ifo_handle_t* ifo : m_titleSets) {
            if (ifo)
                ifoClose(ifo);
        }
        if (m_vmg)
            ifoClose(m_vmg);
        if (m_dvd)
            DVDClose(m_dvd);
    }

    // Opens the disc and reads its VMG; the user text on failure.
    std::string Open(const DvdPathCheck& check, const std::string& path)
    {
        m_dvd = DVDOpen2(m_log.get(), &kLogger, check.openPath.c_str());
        const bool image = check.kind == DvdPathKind::Image;
        if (!m_dvd) {
            if (image)
                return "the DVD image " + path + " is truncated or damaged";
            if (check.kind == DvdPathKind::Device)
                return path + ": no DVD in the drive, or the disc cannot be read";
            return path + " cannot be opened as a DVD";
        }
        m_vmg = ifoOpen(m_dvd, 0);
        if (!m_vmg || !m_vmg->tt_srpt) {
            if (image)
                return "the DVD image " + path + " is truncated or damaged";
            return path + ": the disc's navigation data (VIDEO_TS.IFO) cannot be read";
        }
        return {};
    }

    const DvdDiscPlan& Plan()
    {
        if (!m_plan)
            m_plan = ScanDisc(*this);
        return *m_plan;
    }

    DvdAreaReader& Reader() { return m_reader; }
    bool CssUnavailable() const { return m_log->cssUnavailable; }

    // Selects the area (title, chapter) .. stop and hands it to the reader.
    void SetArea(int title, int chapter)
    {
        m_areaTitle = title;
        m_areaChapter = chapter;
        m_stopTitle = title + 1;
        m_stopChapter = 0;
        m_reader.SetCssLibraryPresent(!CssUnavailable());
        m_reader.SetArea(nullptr, {});
        ApplyArea();
    }
    void SetStop(int title, int chapter)
    {
        m_stopTitle = title;
        m_stopChapter = chapter;
        ApplyArea();
    }

    void SetHook(DvdReadHook hook) { m_hook = std::move(hook); }

    // DvdNavigationSource
    const ifo_handle_t* Vmg() override { return m_vmg; }
    const ifo_handle_t* TitleSet(int n) override
    {
        if (n < 1 || n > kMaxTitleSets)
            return nullptr;
        if (!m_titleSetTried[n]) {
            m_titleSetTried[n] = true;
            m_titleSets[n] = ifoOpen(m_dvd, n);
        }
        return m_titleSets[n];
    }
    int64_t TitleVobSectors(int n) override
    {
        dvd_file_t* file = Vobs(n);
        if (!file)
            return 0;
        const ssize_t blocks = DVDFileSize(file);
        return blocks > 0 ? blocks : 0;
    }

    // DvdBlockSource: the title set of the current area.
    bool ReadBlocks(uint32_t sector, int count, uint8_t* out) override
    {
        if (m_hook && !m_hook(int64_t(sector), count))
            return false;
        dvd_file_t* file = Vobs(m_areaSet);
        if (!file)
            return false;
        return DVDReadBlocks(file, static_cast<int>(sector), size_t(count), out) == count;
    }

private:
    dvd_file_t* Vobs(int n)
    {
        if (n < 1 || n > kMaxTitleSets)
            return nullptr;
        if (!m_vobTried[n]) {
            m_vobTried[n] = true;
            m_vobs[n] = DVDOpenFile(m_dvd, n, DVD_READ_TITLE_VOBS);
        }
        return m_vobs[n];
    }

    void ApplyArea()
    {
        const DvdDiscPlan& plan = Plan();
        std::vector<DvdCellRun> runs;
        m_areaSet = 0;
        if (m_areaTitle >= 0 && m_areaTitle < static_cast<int>(plan.titles.size())) {
            const DvdTitlePlan& title = plan.titles[static_cast<size_t>(m_areaTitle)];
            const int chapters = static_cast<int>(title.chapters.size());
            int end = chapters;
            if (m_stopTitle == m_areaTitle)
                end = std::clamp(m_stopChapter, 0, chapters);
            else if (m_stopTitle < m_areaTitle)
                end = 0;
            for (int c = std::max(m_areaChapter, 0); c < end; ++c) {
                const auto& cells = title.chapters[static_cast<size_t>(c)].cells;
                runs.insert(runs.end(), cells.begin(), cells.end());
            }
            m_areaSet = title.titleSet;
        }
        m_reader.SetSource(m_areaSet ? this : nullptr);
        m_reader.ChangeRuns(std::move(runs));
    }

    std::unique_ptr<LogCapture> m_log = std::make_unique<LogCapture>();
    dvd_reader_t* m_dvd = nullptr;
    ifo_handle_t* m_vmg = nullptr;
    ifo_handle_t* m_titleSets[kMaxTitleSets + 1] = {};
    bool m_titleSetTried[kMaxTitleSets + 1] = {};
    dvd_file_t* m_vobs[kMaxTitleSets + 1] = {};
    bool m_vobTried[kMaxTitleSets + 1] = {};
    std::optional<DvdDiscPlan> m_plan;

    DvdAreaReader m_reader;
    DvdReadHook m_hook;
    int m_areaTitle = -1;
    int m_areaChapter = 0;
    int m_stopTitle = 0;
    int m_stopChapter = 0;
    int m_areaSet = 0;
};

// Process-wide table of open discs. Handles count up from 1 and are never reused while the
// process runs. m_mutex guards the map only; each disc is used by one thread at a time.
class HandleTable {
public:
    DvdHandle Add(std::shared_ptr<OpenDisc> disc)
    {
        std::lock_guard lock(m_mutex);
        const DvdHandle handle = m_next++;
        m_discs.emplace(handle, std::move(disc));
        return handle;
    }
    std::shared_ptr<OpenDisc> Find(DvdHandle handle)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_discs.find(handle);
        return it == m_discs.end() ? nullptr : it->second;
    }
    std::shared_ptr<OpenDisc> Remove(DvdHandle handle)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_discs.find(handle);
        if (it == m_discs.end())
            return nullptr;
        std::shared_ptr<OpenDisc> disc = std::move(it->second);
        m_discs.erase(it);
        return disc;
    }

private:
    std::mutex m_mutex;
    DvdHandle m_next = 1;
    std::map<DvdHandle, std::shared_ptr<OpenDisc>> m_discs;
};

HandleTable& Table()
{
    static HandleTable table;
    return table;
}

}  // namespace

extern "C" {

DvdHandle MyDVDOpen(const char* path)
{
    t_lastOpenError.clear();
    const std::string text = path ? path : "";
    const DvdPathCheck check = CheckDvdPath(text);
    if (!check.ok) {
        t_lastOpenError = check.error;
        return 0;
    }
    auto disc = std::make_shared<OpenDisc>();
    std::string error = disc->Open(check, text);
    if (!error.empty()) {
        t_lastOpenError = std::move(error);
        return 0;
    }
    // The record is made once here and never changes afterwards, so that MyDVDGetInfo may
    // run beside a pipeline's reads on the same handle.
    disc->Plan();
    return Table().Add(std::move(disc));
}

void MyDVDGetInfo(DvdHandle handle, DvdDiscInfo* info)
{
    if (!info)
        return;
    std::memset(info, 0, sizeof *info);
    if (const auto disc = Table().Find(handle))
        *info = disc->Plan().info;
}

void MyDVDSetArea(DvdHandle handle, int title, int chapter)
{
    if (const auto disc = Table().Find(handle))
        disc->SetArea(title, chapter);
}

void MyDvdSetStopPos(DvdHandle handle, int stopTitle, int stopChapter)
{
    if (const auto disc = Table().Find(handle))
        disc->SetStop(stopTitle, stopChapter);
}

int64_t MyDVDSeek(DvdHandle handle, int64_t offset, int origin)
{
    const auto disc = Table().Find(handle);
    if (!disc || origin != 0)
        return -1;
    return disc->Reader().Seek(offset);
}

int MyDVDRead(DvdHandle handle, uint8_t* buffer, int count)
{
    const auto disc = Table().Find(handle);
    if (!disc)
        return -1;
    return disc->Reader().Read(buffer, count);
}

void MyDVDClose(DvdHandle handle)
{
    Table().Remove(handle);
}

}  // extern "C"

std::string DvdLastError()
{
    return t_lastOpenError;
}

std::vector<DvdSkippedRange> DvdSkippedRanges(DvdHandle handle)
{
    const auto disc = Table().Find(handle);
    return disc ? disc->Reader().Skipped() : std::vector<DvdSkippedRange>{};
}

bool DvdReadFailed(DvdHandle handle)
{
    const auto disc = Table().Find(handle);
    return disc && disc->Reader().Failed();
}

std::string DvdReadError(DvdHandle handle)
{
    const auto disc = Table().Find(handle);
    return disc ? disc->Reader().Error() : std::string();
}

void DvdSetReadHook(DvdHandle handle, DvdReadHook hook)
{
    if (const auto disc = Table().Find(handle))
        disc->SetHook(std::move(hook));
}

// Notes of the scan (what was left out of the record and why), for logs and tests.
std::vector<std::string> DvdScanNotes(DvdHandle handle)
{
    const auto disc = Table().Find(handle);
    return disc ? disc->Plan().notes : std::vector<std::string>{};
}
