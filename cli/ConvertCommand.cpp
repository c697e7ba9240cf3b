// zaderoza-cli convert PATH --title N --profile INDEX|NAME [--out DIR] [options]: converts one
// title (or chapter) of a disc, folder or ISO image into a file of the chosen profile.
// With --titles LIST or --all it converts several titles one after another through a
// ConversionRun, into one file each or, with --merge, into one file named after the first.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <vector>
#include <strings.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "app/TitleList.h"
#include "cli/Commands.h"
#include "convert/ConversionPipeline.h"
#include "convert/ConversionRun.h"
#include "dvd/Language.h"
#include "filters/RegisterDecoders.h"
#include "profiles/AppPaths.h"
#include "profiles/Preferences.h"
#include "profiles/ProfileList.h"
#include "profiles/ProfileLookup.h"

namespace {

// Set by SIGINT/SIGTERM; the progress loop looks at it at least every 200 ms.
volatile sig_atomic_t g_cancelled = 0;

extern "C" void OnCancelSignal(int)
{
    g_cancelled = 1;
}

int Fail(const std::string& text)
{
    std::fprintf(stderr, "zaderoza-cli: %s\n", text.c_str());
    return 1;
}

struct Options {
    std::string path;
    int title = 0;        // as the user sees it: 1 is Title_01
    int chapter = 0;      // 0: the whole title
    std::string profile;
    std::string outDir;
    std::string dataDir;
    std::optional<double> trimStart, trimLength;  // seconds
    std::optional<PictureSettings> picture;
    PictureSettings settings;
    std::string audio;     // id or language; empty: the title's first track
    std::string subtitle;  // id, language or "none"
    std::optional<int> cpuUsage;
    bool force = false;
    bool quiet = false;
    bool verbose = false;
    std::vector<int> titles;  // --titles, as the user sees them
    bool all = false;         // --all: every listed title
    bool merge = false;
};



// "90", "1.5", "00:01:30" or "1:30.5" in seconds; false when it is none of these.
bool ParseSeconds(const std::string& text, double* seconds)
{
    double total = 0;
    size_t pos = 0;
    int parts = 0;
    while (pos <= text.size() && parts < 3) {
        const size_t colon = text.find(':', pos);
        const std::string part = text.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        char* end = nullptr;
        const double v = std::strtod(part.c_str(), &end);
        if (part.empty() || *end || v < 0 || !std::isfinite(v))
            return false;
        total = total * 60 + v;
        ++parts;
        if (colon == std::string::npos) {
            *seconds = total;
            return true;
        }
        pos = colon + 1;
    }
    return false;
}

bool ParseInt(const std::string& text, long lo, long hi, int* value)
{
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end || v < lo || v > hi)
        return false;
    *value = static_cast<int>(v);
    return true;
}

// "1,3,5" into title numbers from 1 to 32, each once; false when it is not such a list.
bool ParseTitleList(const std::string& text, std::vector<int>* titles)
{
    titles->clear();
    size_t pos = 0;
    while (true) {
        const size_t comma = text.find(',', pos);
        int n = 0;
        if (!ParseInt(text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos), 1, kDvdMaxTitles,
                      &n))
            return false;
        for (int t : *titles)
            if (t == n)
                return false;
        titles->push_back(n);
        if (comma == std::string::npos)
            return true;
        pos = comma + 1;
    }
}
const char* kUsage =
    "usage: zaderoza-cli convert PATH --title N --profile INDEX|NAME [--out DIR]\n"
    "       zaderoza-cli convert PATH --titles N,N,...|--all [--merge] --profile INDEX|NAME [--out DIR]\n"
    "  --titles N,N,...         several titles, one after another (1,3,5)\n"
    "  --all                    every listed title (3 s or longer)\n"
    "  --merge                  with --titles/--all: one file named after the first title\n"
    "  --chapter N              only chapter N of the title\n"
    "  --trim-start TIME        start of the part to convert (seconds or hh:mm:ss)\n"
    "  --trim-length TIME       length of the part to convert\n"
    "  --crop L,T,R,B           crop rectangle in source pixels\n"
    "  --zoom MODE              keep (0), full (1), 16:9 (2) or 4:3 (3)\n"
    "  --brightness N           0..256, 128 unchanged\n"
    "  --saturation N           0..128, 64 unchanged\n"
    "  --hue N                  -180..180 degrees\n"
    "  --volume N               1/256 units, 256 unchanged\n"
    "  --audio ID|LANG          audio track by stream id (0xbd80) or language (en, fra, German)\n"
    "  --subtitle ID|LANG|none  burn in a subtitle stream (default none)\n"
    "  --cpu-usage PERCENT      share of the cores the encoders may use\n"
    "  --data DIR               folder holding Format.xml (default: beside the program)\n"
    "  --force                  overwrite an existing output file\n"
    "  --quiet                  no progress\n"
    "  --verbose                the encoders' own messages too\n";

// Parses the arguments; an empty string on success, else the reason.
std::string ParseOptions(const Args& args, Options& o)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--force") {
            o.force = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--merge") {
            o.merge = true;
        } else if (a.rfind("--", 0) == 0) {
            if (!value(&v))
                return "option " + a + " needs a value";
            if (a == "--title") {
                if (!ParseInt(v, 1, kDvdMaxTitles, &o.title))
                    return "--title takes a title number from 1 to 32, not '" + v + "'";
            } else if (a == "--titles") {
                if (!ParseTitleList(v, &o.titles))
                    return "--titles takes different title numbers from 1 to 32 separated by commas, not '" + v + "'";
            } else if (a == "--chapter") {
                if (!ParseInt(v, 1, kDvdMaxChapters, &o.chapter))
                    return "--chapter takes a chapter number from 1 to 64, not '" + v + "'";
            } else if (a == "--profile") {
                o.profile = v;
            } else if (a == "--out") {
                o.outDir = v;
            } else if (a == "--data") {
                o.dataDir = v;
            } else if (a == "--trim-start" || a == "--trim-length") {
                double s = 0;
                if (!ParseSeconds(v, &s))
                    return a + " takes seconds or hh:mm:ss, not '" + v + "'";
                (a == "--trim-start" ? o.trimStart : o.trimLength) = s;
            } else if (a == "--crop") {
                int l, t, r, b;
                char tail;
                if (std::sscanf(v.c_str(), "%d,%d,%d,%d%c", &l, &t, &r, &b, &tail) != 4 || l < 0 || t < 0 || r <= l ||
                    b <= t)
                    return "--crop takes LEFT,TOP,RIGHT,BOTTOM with right > left and bottom > top";
                o.settings.cropLeft = l;
                o.settings.cropTop = t;
                o.settings.cropRight = r;
                o.settings.cropBottom = b;
            } else if (a == "--zoom") {
                const char* names[] = {"keep", "full", "16:9", "4:3"};
                int mode = -1;
                for (int m = 0; m < 4; ++m)
                    if (v == names[m] || v == std::to_string(m))
                        mode = m;
                if (mode < 0)
                    return "--zoom takes keep, full, 16:9 or 4:3 (or 0 to 3)";
                o.settings.zoomMode = mode;
            } else if (a == "--brightness") {
                if (!ParseInt(v, 0, 256, &o.settings.brightness))
                    return "--brightness takes 0 to 256";
            } else if (a == "--saturation") {
                if (!ParseInt(v, 0, 128, &o.settings.saturation))
                    return "--saturation takes 0 to 128";
            } else if (a == "--hue") {
                if (!ParseInt(v, -180, 180, &o.settings.hue))
                    return "--hue takes -180 to 180";
            } else if (a == "--volume") {
                if (!ParseInt(v, 0, 4096, &o.settings.volume))
                    return "--volume takes 0 to 4096 (256 leaves the sound unchanged)";
            } else if (a == "--audio") {
                o.audio = v;
            } else if (a == "--subtitle") {
                o.subtitle = v;
            } else if (a == "--cpu-usage") {
                int p = 0;
                if (!ParseInt(v, 1, 100, &p))
                    return "--cpu-usage takes a percentage from 1 to 100";
                o.cpuUsage = p;
            } else {
                return "unknown option " + a;
            }
        } else if (o.path.empty()) {
            o.path = a;
        } else {
            return "unexpected argument '" + a + "'";
        }
    }
    if (o.path.empty())
        return "no disc, folder or ISO image given";
    const bool several = o.all || !o.titles.empty();
    if (several && (o.title != 0 || o.chapter != 0))
        return "--title/--chapter and --titles/--all do not go together";
    if (o.all && !o.titles.empty())
        return "--titles and --all do not go together";
    if (o.merge && !several)
        return "--merge goes with --titles or --all";
    if (o.title == 0 && !several)
        return "no title given (--title N; `zaderoza-cli scan PATH` lists them)";
    if (o.profile.empty())
        return "no profile given (--profile INDEX|NAME; `zaderoza-cli profiles` lists them)";
    return {};
}

// The stream id (PES id << 8 | sub-stream id) of `choice` among `count` streams of the
// title: an id ("0xbd81", "0xc000") or a language ("en", "fra", "French"); -1 when none.
int32_t FindStream(const std::string& choice, const uint32_t* ids, const uint32_t* languages, int count)
{
    char* end = nullptr;
    const long id = std::strtol(choice.c_str(), &end, 0);
    if (!choice.empty() && !*end) {
        for (int i = 0; i < count; ++i)
            if (ids[i] == static_cast<uint32_t>(id) || (ids[i] & 0xFF) == static_cast<uint32_t>(id))
                return static_cast<int32_t>(ids[i]);
        return -1;
    }
    std::string two = choice;
    if (choice.size() == 3)
        two = LanguageAlpha2FromAlpha3(choice);
    for (int i = 0; i < count; ++i) {
        const std::string code{char(languages[i] >> 8), char(languages[i] & 0xFF)};
        const std::string name = LanguageNameFromPacked(languages[i]);
        if (languages[i] && (strcasecmp(code.c_str(), two.c_str()) == 0 || strcasecmp(name.c_str(), choice.c_str()) == 0))
            return static_cast<int32_t>(ids[i]);
    }
    return -1;
}

std::string TimeText(double seconds)
{
    const long s = seconds < 0 ? 0 : static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    return text;
}

// One progress line: a bar on a terminal, a plain line (at most every 2 s) otherwise.
class Progress {
public:
    explicit Progress(bool quiet) : m_quiet(quiet), m_tty(isatty(STDERR_FILENO)), m_start(Clock::now()) {}

    void Update(double done, double total, bool force = false)
    {
        if (m_quiet || total <= 0)
            return;
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        if (!force && !m_tty && now - m_lastPlain < std::chrono::seconds(2))
            return;
        m_lastPlain = now;
        const double fraction = std::min(1.0, std::max(0.0, done / total));
        const double speed = elapsed > 0 ? done / elapsed : 0;
        const std::string remaining = fraction > 0 && elapsed > 0.1 ? TimeText((1 - fraction) * elapsed / fraction) : "--:--:--";
        if (m_tty) {
            const int width = 30;
            const int filled = static_cast<int>(fraction * width + 0.5);
            std::string bar(filled, '#');
            bar.resize(width, '.');
            std::fprintf(stderr, "\r[%s] %5.1f%%  %s/%s  %.1fx  remaining %s ", bar.c_str(), fraction * 100,
                         TimeText(done).c_str(), TimeText(total).c_str(), speed, remaining.c_str());
        } else {
            std::fprintf(stderr, "progress %.1f%% %s/%s speed %.1fx remaining %s\n", fraction * 100,
                         TimeText(done).c_str(), TimeText(total).c_str(), speed, remaining.c_str());
        }
        std::fflush(stderr);
    }
    void Finish()
    {
        if (!m_quiet && m_tty)
            std::fputc('\n', stderr);
    }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }

private:
    using Clock = std::chrono::steady_clock;
    bool m_quiet;
    bool m_tty;
    Clock::time_point m_start;
    Clock::time_point m_lastPlain{};
};


// Two progress lines, the entry in turn and the whole run: redrawn in place on a terminal,
// plain lines (at most every 2 s) otherwise.
class RunProgress {
public:
    explicit RunProgress(bool quiet) : m_quiet(quiet), m_tty(isatty(STDERR_FILENO)), m_start(Clock::now()) {}

    void Update(const ConversionRun& run, bool force = false)
    {
        const int current = run.CurrentEntry();
        if (m_quiet || current < 0)
            return;
        const auto now = Clock::now();
        if (!force && !m_tty && now - m_lastPlain < std::chrono::seconds(2))
            return;
        m_lastPlain = now;
        const auto& entry = run.Entries()[current];
        const double elapsed = Elapsed();
        const double total = run.TotalFraction();
        const std::string remaining = total > 0 && elapsed > 0.1 ? TimeText((1 - total) * elapsed / total) : "--:--:--";
        char first[256], second[256];
        std::snprintf(first, sizeof first, "%s (%d/%zu) %s %5.1f%%  %s  remaining %s%s", entry.name.c_str(), current + 1,
                      run.Entries().size(), Bar(run.EntryFraction()).c_str(), run.EntryFraction() * 100,
                      run.ConvertedLengthText().c_str(), run.RemainingText().c_str(), run.IsPaused() ? "  paused" : "");
        std::snprintf(second, sizeof second, "total %s %5.1f%%  elapsed %s  remaining %s", Bar(total).c_str(),
                      total * 100, TimeText(elapsed).c_str(), remaining.c_str());
        if (m_tty) {
            if (m_drawn)
                std::fputs("\033[2A", stderr);
            std::fprintf(stderr, "\r\033[K%s\n\r\033[K%s\n", first, second);
            m_drawn = true;
        } else {
            std::fprintf(stderr, "entry %s\n%s\n", first, second);
        }
        std::fflush(stderr);
    }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
    // A message was printed below the lines: the next update draws them anew under it.
    void Interrupted() { m_drawn = false; }

private:
    using Clock = std::chrono::steady_clock;
    static std::string Bar(double fraction)
    {
        const int width = 24;
        std::string bar(static_cast<size_t>(std::clamp(fraction, 0.0, 1.0) * width + 0.5), '#');
        bar.resize(width, '.');
        return "[" + bar + "]";
    }
    bool m_quiet;
    bool m_tty;
    bool m_drawn = false;
    Clock::time_point m_start;
    Clock::time_point m_lastPlain{};
};

// The entry for title t (from 0) with the trim and the stream choice of the options; an
// error text when the title cannot be converted so.
std::string MakeEntry(const DvdDiscInfo& info, int t, const Options& o, const std::string& ext, TitleEntry* item)
{
    if (t >= info.titleCount)
        return "the disc has no title " + std::to_string(t + 1) + " (it has " + std::to_string(info.titleCount) + ")";
    const DvdTitleInfo& title = info.titles[t];
    ClipItem& clip = item->clip;
    clip = ClipItem{};
    clip.titleIndex = t;
    clip.chapterIndex = -1;
    clip.lengthMs = static_cast<int64_t>(title.durationMs);
    clip.trimStartMs = static_cast<int64_t>(o.trimStart.value_or(0) * 1000);
    if (clip.trimStartMs >= clip.lengthMs && clip.lengthMs > 0)
        return "--trim-start lies after the end of title " + std::to_string(t + 1) + " (" +
               TimeText(clip.lengthMs / 1000.0) + ")";
    clip.trimLengthMs = o.trimLength ? static_cast<int64_t>(*o.trimLength * 1000) : clip.lengthMs - clip.trimStartMs;
    clip.trimLengthMs = std::min(clip.trimLengthMs, clip.lengthMs - clip.trimStartMs);
    if (clip.trimLengthMs <= 0)
        return "nothing to convert in title " + std::to_string(t + 1) + ": the trimmed length is 0";
    char source[24];
    std::snprintf(source, sizeof source, "Title_%02d", t + 1);
    item->sourceText = source;
    item->originalLength = item->trimmedLength = LengthText(title.durationMs);
    item->outputName = EntryName(clip, ext);
    item->checked = true;
    return {};
}

// --titles / --all: the chosen titles one after another through a ConversionRun.
int ConvertSeveral(const Options& o, const FormatProfile& profile, int cpuUsage, const std::string& outDir,
                   DiscSession& session)
{
    const DvdDiscInfo& info = session.DiscInfo();
    const std::string ext = FieldText(profile.FormatExt);
    std::vector<int> titles;
    if (o.all) {
        for (const TitleEntry& e : session.Entries())
            titles.push_back(e.clip.titleIndex);
        if (titles.empty())
            return Fail("the disc lists no title of 3 s or longer");
    } else {
        for (int n : o.titles)
            titles.push_back(n - 1);
    }
    std::vector<TitleEntry> entries(titles.size());
    for (size_t i = 0; i < titles.size(); ++i)
        if (const std::string why = MakeEntry(info, titles[i], o, ext, &entries[i]); !why.empty())
            return Fail(why);
    session.Entries() = entries;
    session.SharedPictureSettings() = o.settings;

    // One choice of streams holds for the whole run; it is looked up in the first title.
    const DvdTitleInfo& first = info.titles[titles.front()];
    int32_t audioId = first.audioCount > 0 ? static_cast<int32_t>(first.audioStreamId[0]) : -1;
    if (!o.audio.empty()) {
        audioId = FindStream(o.audio, first.audioStreamId, first.audioLanguage, first.audioCount);
        if (audioId < 0)
            return Fail("title " + std::to_string(titles.front() + 1) + " has no audio track '" + o.audio + "'");
    }
    int32_t subtitleId = -1;
    if (!o.subtitle.empty() && o.subtitle != "none") {
        subtitleId = FindStream(o.subtitle, first.subtitleStreamId, first.subtitleLanguage, first.subtitleCount);
        if (subtitleId < 0)
            return Fail("title " + std::to_string(titles.front() + 1) + " has no subtitle '" + o.subtitle + "'");
    }
    session.SetSelectedAudioStreamId(audioId);
    session.SetSelectedSubtitleStreamId(subtitleId);

    std::error_code ec;
    for (size_t i = 0; i < entries.size() && (i == 0 || !o.merge); ++i) {
        const std::string file = (std::filesystem::path(outDir) / entries[i].outputName).string();
        if (std::filesystem::exists(file, ec) && !o.force)
            return Fail(file + " exists (use --force to overwrite it)");
    }

    RunProgress progress(o.quiet);
    FilterRegistry registry;
    RegisterDecoders(registry);
    ConversionPipeline pipeline(registry, [&](const std::string& text) {
        std::fprintf(stderr, "zaderoza-cli: %s\n", text.c_str());
        progress.Interrupted();
    });

    // `woken` is set under `lock` by the run's wake (from the streaming threads and from the
    // run itself); this thread waits for it, at most 200 ms between progress updates.
    std::mutex lock;
    std::condition_variable wake;
    bool woken = false;
    auto notify = [&] {
        std::lock_guard guard(lock);
        woken = true;
        wake.notify_one();
    };
    ConversionRunSettings settings;
    settings.profile = profile;
    settings.merge = o.merge;
    settings.outputFolder = outDir;
    settings.cpuUsagePercent = cpuUsage;
    settings.showPreview = false;
    std::string completion;
    // No finish actions from the command line: a preference set in the window must not power
    // the computer off after a scripted run.
    ConversionRun run(pipeline, session, settings, notify, [&](const std::string& text) {
        if (text.rfind("Conversion completed", 0) == 0)
            completion = text;
        else
            std::fprintf(stderr, "zaderoza-cli: %s\n", text.c_str());
        progress.Interrupted();
    });

    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt {}, oldTerm {};
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);

    if (!o.quiet)
        std::fprintf(stderr, "Converting %zu titles to %s%s\n", entries.size(), outDir.c_str(),
                     o.merge ? (" (merged into " + entries.front().outputName + ")").c_str() : "");
    run.Start();
    while (!run.IsFinished() && !g_cancelled) {
        {
            std::unique_lock guard(lock);
            wake.wait_for(guard, std::chrono::milliseconds(200), [&] { return woken; });
            woken = false;
        }
        run.Pump();
        run.OnTimer();
        if (!run.IsFinished())
            progress.Update(run);
        if (run.GetState() == ConversionRun::State::Idle && !run.StartPending() && !run.IsFinished())
            break;  // nothing left that could move the run on
    }
    const bool cancelled = !run.IsFinished() || run.GetState() == ConversionRun::State::Cancelled;
    if (!cancelled)
        progress.Update(run, true);
    if (cancelled)
        run.Cancel();
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);

    // The summary: every file with what went into it, then the failures.
    if (!completion.empty() && !o.quiet)
        std::fprintf(stderr, "%s\n", completion.c_str());
    std::vector<std::string> files;
    for (const auto& e : run.Entries())
        if (std::find(files.begin(), files.end(), e.file) == files.end())
            files.push_back(e.file);
    for (const std::string& file : files) {
        int64_t ms = 0;
        int parts = 0;
        bool partial = false;
        for (const auto& e : run.Entries()) {
            if (e.file != file)
                continue;
            if (e.status == ConversionRun::EntryStatus::Converted) {
                ms += e.lengthMs;
                ++parts;
            }
            if (e.status == ConversionRun::EntryStatus::Cancelled) {
                ms += static_cast<int64_t>(run.PositionSeconds() * 1000);
                partial = true;
            }
        }
        if ((parts == 0 && !partial) || !std::filesystem::exists(file, ec))
            continue;
        const auto size = std::filesystem::file_size(file, ec);
        std::printf("%s: %s, %.1f MB%s%s\n", file.c_str(), TimeText(ms / 1000.0).c_str(),
                    static_cast<double>(size) / 1e6, o.merge ? (", " + std::to_string(parts) + " titles").c_str() : "",
                    partial ? ", cut short" : "");
    }
    int skipped = 0;
    for (const auto& e : run.Entries()) {
        if (e.status == ConversionRun::EntryStatus::Failed)
            std::fprintf(stderr, "zaderoza-cli: failed: %s: %s\n", e.name.c_str(), e.message.c_str());
        skipped += e.status == ConversionRun::EntryStatus::Skipped;
    }
    std::printf("%d of %zu titles converted in %.1f s", run.ConvertedCount(), run.Entries().size(), progress.Elapsed());
    if (run.FailedCount() > 0)
        std::printf(", %d failed", run.FailedCount());
    if (skipped > 0)
        std::printf(", %d skipped (shorter than 1 s)", skipped);
    std::printf("\n");
    std::fflush(stdout);
    if (cancelled) {
        std::fprintf(stderr, "zaderoza-cli: cancelled; the file being written holds what was converted so far\n");
        return 130;
    }
    return run.FailedCount() > 0 ? 1 : 0;
}

}  // namespace

int RunConvert(const Args& args)
{
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    Options o;
    if (const std::string why = ParseOptions(args, o); !why.empty()) {
        std::fprintf(stderr, "zaderoza-cli: %s\n%s", why.c_str(), kUsage);
        return 2;
    }

    // Damaged or cut-off pictures at a trim point are concealed by the decoders; their
    // messages are for --verbose.
    av_log_set_level(o.verbose ? AV_LOG_INFO : AV_LOG_FATAL);

    ProfileList profiles;
    const std::string data = o.dataDir.empty() ? ExecutableFolder() : o.dataDir;
    if (!LoadProfiles(data, profiles))
        return Fail("Load Format.xml error: no readable Format.xml in " + data);
    FormatProfile profile{};
    if (!FindProfileByIndexOrName(profiles, o.profile, profile))
        return Fail("no profile '" + o.profile + "' (`zaderoza-cli profiles` lists them)");

    const UserFolders folders = UserFolders::FromEnvironment();
    PreferenceValues prefs = DefaultPreferences(folders);
    ReadPreferences(PreferenceStoreFile(folders.configHome), "ZaDeroza DVD Ripper", prefs);
    const int cpuUsage = o.cpuUsage.value_or(prefs.CpuUsage);
    const std::string outDir = o.outDir.empty() ? prefs.OutFolder : o.outDir;
    std::error_code ec;
    if (!std::filesystem::is_directory(outDir, ec))
        return Fail("Invalid output directory: " + outDir);

    DiscSession session;
    std::string error;
    if (!session.LoadDisc(o.path, FieldText(profile.FormatExt), &error))
        return Fail(error.empty() ? "Open DVD error" : error);
    if (o.all || !o.titles.empty())
        return ConvertSeveral(o, profile, cpuUsage, outDir, session);
    const DvdDiscInfo& info = session.DiscInfo();
    const int t = o.title - 1;
    if (t >= info.titleCount)
        return Fail("the disc has no title " + std::to_string(o.title) + " (it has " +
                    std::to_string(info.titleCount) + ")");
    const DvdTitleInfo& title = info.titles[t];
    if (o.chapter > title.chapterCount)
        return Fail("title " + std::to_string(o.title) + " has no chapter " + std::to_string(o.chapter));

    ClipItem entry;
    entry.titleIndex = t;
    entry.chapterIndex = o.chapter - 1;
    entry.lengthMs = static_cast<int64_t>(title.durationMs);
    entry.trimStartMs = static_cast<int64_t>(o.trimStart.value_or(0) * 1000);
    if (entry.trimStartMs >= entry.lengthMs && entry.lengthMs > 0)
        return Fail("--trim-start lies after the end of the title (" + TimeText(entry.lengthMs / 1000.0) + ")");
    entry.trimLengthMs = o.trimLength ? static_cast<int64_t>(*o.trimLength * 1000) : entry.lengthMs - entry.trimStartMs;
    entry.trimLengthMs = std::min(entry.trimLengthMs, entry.lengthMs - entry.trimStartMs);
    if (entry.trimLengthMs <= 0)
        return Fail("nothing to convert: the trimmed length is 0");
    entry.picture = o.settings;

    int32_t audioId = title.audioCount > 0 ? static_cast<int32_t>(title.audioStreamId[0]) : -1;
    if (!o.audio.empty()) {
        audioId = FindStream(o.audio, title.audioStreamId, title.audioLanguage, title.audioCount);
        if (audioId < 0)
            return Fail("title " + std::to_string(o.title) + " has no audio track '" + o.audio + "'");
    }
    int32_t subtitleId = -1;
    if (!o.subtitle.empty() && o.subtitle != "none") {
        subtitleId = FindStream(o.subtitle, title.subtitleStreamId, title.subtitleLanguage, title.subtitleCount);
        if (subtitleId < 0)
            return Fail("title " + std::to_string(o.title) + " has no subtitle '" + o.subtitle + "'");
    }

    const std::string file = (std::filesystem::path(outDir) / EntryName(entry, FieldText(profile.FormatExt))).string();
    if (std::filesystem::exists(file, ec) && !o.force)
        return Fail(file + " exists (use --force to overwrite it)");

    FilterRegistry registry;
    RegisterDecoders(registry);
    std::string shown;
    ConversionPipeline pipeline(registry, [&](const std::string& text) { shown = text; });

    std::mutex lock;
    std::condition_variable wake;
    bool eventWaiting = false;
    auto notify = [&] {
        std::lock_guard guard(lock);
        eventWaiting = true;
        wake.notify_one();
    };

    if (!pipeline.OpenOutput(file, profile, cpuUsage))
        return Fail("cannot write " + file + ": " + pipeline.EncoderError());
    if (!pipeline.Build(session.OpenDvdHandle(), t, entry.chapterIndex, entry, notify, subtitleId >= 0)) {
        pipeline.ReleaseAll();
        pipeline.CloseOutput();
        std::filesystem::remove(file, ec);
        return Fail(shown.empty() ? "cannot build the conversion" : shown);
    }
    StreamList streams;
    if (pipeline.ListStreams(&streams)) {
        for (int i = streams.subtitleCount - 1; i >= 0 && subtitleId >= 0; --i)
            if (streams.subtitle[i].pesId == ((subtitleId >> 8) & 0xFF) && streams.subtitle[i].id == (subtitleId & 0xFF))
                pipeline.EnableStream(streams.subtitle[i].index, true);
        for (int i = streams.audioCount - 1; i >= 0 && audioId >= 0; --i)
            if (streams.audio[i].pesId == ((audioId >> 8) & 0xFF) && streams.audio[i].id == (audioId & 0xFF))
                pipeline.EnableStream(streams.audio[i].index, true);
    }

    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt {}, oldTerm {};
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);

    if (!o.quiet)
        std::fprintf(stderr, "Converting Title_%02d%s to %s\n", o.title,
                     o.chapter ? (" chapter " + std::to_string(o.chapter)).c_str() : "", file.c_str());
    Progress progress(o.quiet);
    const double total = entry.trimLengthMs / 1000.0;
    std::string failure;
    bool complete = false;
    if (Failed(pipeline.Run()))
        failure = "cannot start the conversion";
    while (failure.empty() && !complete && !g_cancelled) {
        {
            std::unique_lock guard(lock);
            wake.wait_for(guard, std::chrono::milliseconds(200), [&] { return eventWaiting; });
            eventWaiting = false;
        }
        int32_t code = 0;
        intptr_t p1 = 0, p2 = 0;
        while (pipeline.NextEvent(&code, &p1, &p2)) {
            if (code == EC_COMPLETE)
                complete = true;
            else if (code == EC_ERRORABORT || code == EC_USERABORT)
                failure = pipeline.Encoder().HasError() ? pipeline.Encoder().LastError() : "the conversion stopped";
        }
        progress.Update(pipeline.Position(), total);
    }
    if (complete)
        progress.Update(total, total, true);
    progress.Finish();
    pipeline.Stop();
    const std::string streamingError = pipeline.StreamingError();
    pipeline.ReleaseAll();
    const bool closed = pipeline.CloseOutput();
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);

    if (g_cancelled) {
        std::fprintf(stderr, "zaderoza-cli: cancelled; %s holds what was converted so far\n", file.c_str());
        return 130;
    }
    if (failure.empty() && !streamingError.empty())
        failure = streamingError;
    if (failure.empty() && !closed)
        failure = pipeline.EncoderError();
    if (!failure.empty())
        return Fail(file + ": " + failure);
    const auto size = std::filesystem::file_size(file, ec);
    std::printf("%s: %s, %.1f MB, converted in %.1f s\n", file.c_str(), TimeText(total).c_str(),
                static_cast<double>(size) / 1e6, progress.Elapsed());
    return 0;
}
