// ConversionRun: converts the checked entries of a title list one after another, into one
// file each or into one merged file, and keeps what the conversion window draws: the entry
// in turn, the progress of the entry and of the whole run, elapsed and remaining time, and
// the running/paused/finished state. At the end it runs the finish actions (shut down, open
// the output folder) and reports how the run went.
//
// The run is driven by events on ONE thread (the window's or the command-line tool's):
//   Start()        once, after the settings are given;
//   Pump()         whenever `wake` was called: starts the entry in turn and handles graph
//                  events (OnStartEntry and OnGraphEvent);
//   OnTimer()      about every 200 ms while an entry runs: samples the progress;
//   Pause(), Continue(), Cancel(), SetShowPreview() from the user.
// `wake` is the only thing called from other threads (the pipeline's streaming threads, via
// the notify callback of Build); it must only post a call of Pump() to the driving thread.
//
// States: Idle -> (Start) starting entry -> running <-> paused -> entry ended -> starting the
// next entry ... -> Finished; Cancel from any state -> Cancelled.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/TitleList.h"
#include "convert/EntryPipeline.h"
#include "graph/FormatBlocks.h"
#include "profiles/FormatProfile.h"

class IVideoSurface;

// Powers the computer off (the desktop session's request); false when it was refused.
class ISystemShutdown {
public:
    virtual ~ISystemShutdown() = default;
    virtual bool Shutdown() = 0;
};

// Opens a folder in the desktop's file browser.
class IShellOpen {
public:
    virtual ~IShellOpen() = default;
    virtual bool OpenFolder(const std::string& path) = 0;
};

// A monotonic clock in milliseconds; tests give one they set by hand.
using RunClock = std::function<int64_t()>;

// The after-conversion action text that shuts the computer down.
inline constexpr const char* kShutDownAction = "Shut Down";
// Entries shorter than this are skipped when they follow a finished entry.
inline constexpr int64_t kMinRunEntryMs = 1000;

// "%02d:%02d:%02d" of a time in 100 ns units (whole seconds, hours not wrapped).
std::string RunTimeText(int64_t time100ns);

struct ConversionRunSettings {
    FormatProfile profile{};
    bool merge = false;                 // "Merge into one file"
    std::string outputFolder;
    std::string afterAction;            // the preference's after-conversion action text
    int cpuUsagePercent = 100;
    bool shutdownWhenDone = false;      // "Shut down computer when conversion completed"
    bool openFolderWhenDone = false;    // "Open output folder when conversion completed"
    bool showPreview = true;            // "Show Preview"
    IVideoSurface* previewSurface = nullptr;  // borrowed; none: no preview is attached
    ZRect previewRect{86, 78, 408, 320};
};

class ConversionRun {
public:
    enum class State { Idle, Running, Paused, Finished, Cancelled };
    enum class EntryStatus { Pending, Converting, Converted, Failed, Skipped, Cancelled };

    // One checked entry of the run, in display order.
    struct Entry {
        int listIndex = 0;            // index into DiscSession::Entries()
        std::string name;             // the entry's output name
        std::string file;             // the file it is written into (the first entry's when merging)
        int64_t lengthMs = 0;         // trimmed length
        EntryStatus status = EntryStatus::Pending;
        std::string message;          // why it failed
    };

    // `pipeline`, `session`, `shutdown` and `shell` are borrowed and must outlive the run;
    // `shutdown`/`shell` may be null (the action is then not available). `wake` may be called
    // from any thread. `clock` defaults to the steady clock.
    ConversionRun(IEntryPipeline& pipeline, DiscSession& session, ConversionRunSettings settings,
                  std::function<void()> wake, MessageFunction showMessage, ISystemShutdown* shutdown = nullptr,
                  IShellOpen* shell = nullptr, RunClock clock = {});
    ~ConversionRun();
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;

    // Takes the checked entries (copying the shared picture settings into each), sums their
    // lengths and posts the start of the first one. With none checked the run stays Idle.
    void Start();
    // Handles what was posted: the start of the entry in turn, then every waiting graph event.
    void Pump();
    // Starts the entry in turn (the posted start step); nothing without one.
    void OnStartEntry();
    // Fetches and handles every waiting graph event of the running entry.
    void OnGraphEvent();
    // Samples position and duration of the running entry.
    void OnTimer();

    void Pause();
    void Continue();
    // Stops the pipeline and closes the output; what was written stays on disk.
    void Cancel();
    void SetShowPreview(bool on);
    void SetShutdownWhenDone(bool on) { m_settings.shutdownWhenDone = on; }
    void SetOpenFolderWhenDone(bool on) { m_settings.openFolderWhenDone = on; }

    // What the window draws.
    State GetState() const { return m_state; }
    bool IsRunning() const { return m_state == State::Running; }
    bool IsPaused() const { return m_state == State::Paused; }
    bool IsFinished() const { return m_state == State::Finished || m_state == State::Cancelled; }
    bool StartPending() const { return m_startPending; }
    // Index into Entries() of the entry in turn; -1 when none.
    int CurrentEntry() const { return m_current; }
    const std::vector<Entry>& Entries() const { return m_entries; }
    // 0..1000: the bars.
    int EntryProgress() const { return m_entryBar; }
    int TotalProgress() const { return m_totalBar; }
    double EntryFraction() const { return m_fraction; }
    double TotalFraction() const { return m_totalBar / 1000.0; }
    double DoneSeconds() const { return m_doneSeconds; }
    double TotalSeconds() const { return m_totalSeconds; }
    // Running time of the entry in turn, pauses left out.
    int64_t ElapsedMs() const;
    // "--:--:--" while nothing can be estimated.
    std::string ElapsedText() const;
    std::string RemainingText() const;
    // "pos/dur" of the entry in turn.
    std::string ConvertedLengthText() const;
    double PositionSeconds() const { return m_position; }
    double DurationSeconds() const { return m_duration; }
    int ConvertedCount() const;
    int FailedCount() const;
    // The completion message of the finished run.
    const std::string& CompletionMessage() const { return m_completion; }

private:
    // How the entry in turn ended.
    enum class Outcome { Completed, Aborted, BuildFailed, OpenFailed };
    void EndEntry(Outcome outcome, const std::string& why);
    void Post();
    void Finish();
    void Fail(Entry& entry, const std::string& why);
    // The next entry after `after`; with longEnoughOnly the shorter ones on the way are skipped.
    int NextChecked(int after, bool longEnoughOnly);
    int64_t Now() const { return m_clock(); }

    IEntryPipeline& m_pipeline;
    DiscSession& m_session;
    ConversionRunSettings m_settings;
    std::function<void()> m_wake;
    MessageFunction m_showMessage;
    ISystemShutdown* m_shutdown;
    IShellOpen* m_shell;
    RunClock m_clock;

    std::vector<Entry> m_entries;
    State m_state = State::Idle;
    bool m_startPending = false;
    bool m_newFile = true;
    bool m_outputOpen = false;
    int m_current = -1;
    double m_doneSeconds = 0;
    double m_totalSeconds = 0;
    int64_t m_startTick = 0;
    int64_t m_pausedMs = 0;     // running time of the entry before the latest Continue
    double m_position = 0;      // seconds, at the latest timer
    double m_duration = 1;
    double m_fraction = 0;      // of the entry in turn
    int m_entryBar = 0;
    int m_totalBar = 0;
    std::string m_completion;
};
