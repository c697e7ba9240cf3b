#include "convert/ConversionRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "convert/ConversionPipeline.h"
#include "graph/Interfaces.h"

namespace {

int64_t SteadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The stream of `list` whose PES id and sub-stream id make `streamId` ((PES id << 8) | sub id).
// Both numbers count: MPEG audio tracks 0xC000 and 0xC100 share the sub-stream id 0.
template <typename Stream>
void EnableMatching(IEntryPipeline& pipeline, const Stream* streams, int count, int32_t streamId)
{
    if (streamId < 0)
        return;
    const unsigned pes = (static_cast<unsigned>(streamId) >> 8) & 0xFF;
    const unsigned sub = static_cast<unsigned>(streamId) & 0xFF;
    for (int i = count - 1; i >= 0; --i)
        if (streams[i].pesId == pes && static_cast<unsigned>(streams[i].id & 0xFF) == sub)
            pipeline.EnableStream(streams[i].index, true);
}

}  // namespace

std::string RunTimeText(int64_t time100ns)
{
    const int64_t s = time100ns < 0 ? 0 : time100ns / 10000000;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>((s / 60) % 60), static_cast<long long>(s % 60));
    return text;
}

ConversionRun::ConversionRun(IEntryPipeline& pipeline, DiscSession& session, ConversionRunSettings settings,
                             std::function<void()> wake, MessageFunction showMessage, ISystemShutdown* shutdown,
                             IShellOpen* shell, RunClock clock)
    : m_pipeline(pipeline),
      m_session(session),
      m_settings(std::move(settings)),
      m_wake(std::move(wake)),
      m_showMessage(std::move(showMessage)),
      m_shutdown(shutdown),
      m_shell(shell),
      m_clock(clock ? std::move(clock) : RunClock(SteadyNowMs))
{
}

ConversionRun::~ConversionRun()
{
    if (!IsFinished() && (m_outputOpen || m_current >= 0)) {
        m_pipeline.Stop();
        m_pipeline.ReleaseAll();
        if (m_outputOpen)
            m_pipeline.CloseOutput();
    }
}

void ConversionRun::Start()
{
    m_entries.clear();
    int64_t totalMs = 0;
    std::string mergedFile;
    auto& list = m_session.Entries();
    for (size_t i = 0; i < list.size(); ++i) {
        TitleEntry& item = list[i];
        if (!item.checked)
            continue;
        item.clip.picture = m_session.SharedPictureSettings();
        Entry e;
        e.listIndex = static_cast<int>(i);
        e.name = item.outputName;
        e.file = (std::filesystem::path(m_settings.outputFolder) / item.outputName).string();
        if (m_settings.merge) {
            if (mergedFile.empty())
                mergedFile = e.file;
            e.file = mergedFile;
        }
        e.lengthMs = item.clip.trimLengthMs;
        totalMs += e.lengthMs;
        m_entries.push_back(std::move(e));
    }
    m_totalSeconds = static_cast<double>(totalMs) / 1000.0;
    m_doneSeconds = 0;
    m_entryBar = m_totalBar = 0;
    m_newFile = true;
    m_current = m_entries.empty() ? -1 : 0;
    Post();
}

void ConversionRun::Post()
{
    m_startPending = true;
    if (m_wake)
        m_wake();
}

void ConversionRun::Pump()
{
    do {
        if (m_startPending)
            OnStartEntry();
        OnGraphEvent();
    } while (m_startPending && !IsFinished());
}

void ConversionRun::OnStartEntry()
{
    m_startPending = false;
    if (IsFinished() || m_current < 0 || m_current >= static_cast<int>(m_entries.size()))
        return;
    Entry& e = m_entries[m_current];
    const ClipItem& clip = m_session.Entries()[e.listIndex].clip;
    e.status = EntryStatus::Converting;
    m_fraction = 0;
    m_entryBar = 0;
    m_position = 0;
    m_duration = 1;
    m_pausedMs = 0;
    m_startTick = Now();

    if (m_newFile) {
        if (!m_pipeline.OpenOutput(e.file, m_settings.profile, m_settings.cpuUsagePercent)) {
            const std::string why = m_pipeline.EncoderError();
            EndEntry(Outcome::OpenFailed, "cannot write " + e.file + (why.empty() ? "" : ": " + why));
            return;
        }
        m_newFile = false;
        m_outputOpen = true;
    }

    const int32_t subtitleId = m_session.SelectedSubtitleStreamId();
    const int32_t audioId = m_session.SelectedAudioStreamId();
    if (!m_pipeline.Build(m_session.OpenDvdHandle(), clip.titleIndex, clip.chapterIndex, clip, m_wake,
                          subtitleId >= 0)) {
        EndEntry(Outcome::BuildFailed, "cannot build the conversion");
        return;
    }
    if (m_settings.previewSurface)
        m_pipeline.AttachPreview(m_settings.previewSurface, m_settings.previewRect);
    StreamList streams;
    if (m_pipeline.ListStreams(&streams)) {
        EnableMatching(m_pipeline, streams.subtitle, streams.subtitleCount, subtitleId);
        EnableMatching(m_pipeline, streams.audio, streams.audioCount, audioId);
    }
    if (Failed(m_pipeline.Run())) {
        EndEntry(Outcome::Aborted, "cannot start the conversion");
        return;
    }
    m_pipeline.ShowPreview(m_settings.showPreview);
    m_startTick = Now();
    m_pausedMs = 0;
    m_state = State::Running;
}

void ConversionRun::OnGraphEvent()
{
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    while (m_pipeline.NextEvent(&code, &p1, &p2)) {
        // Events of a graph that no longer converts (stopped, paused by a cancel) are dropped.
        if (m_state != State::Running && m_state != State::Paused)
            continue;
        if (code == EC_COMPLETE) {
            EndEntry(Outcome::Completed, {});
            return;
        }
        if (code == EC_ERRORABORT || code == EC_USERABORT) {
            // No completion follows an abort: the entry ends here.
            std::string why = m_pipeline.EncoderError();
            if (why.empty())
                why = m_pipeline.StreamingError();
            if (why.empty()) {
                char text[64];
                std::snprintf(text, sizeof text, "the conversion stopped (0x%08x)", static_cast<unsigned>(p1));
                why = text;
            }
            EndEntry(Outcome::Aborted, why);
            return;
        }
    }
}

void ConversionRun::EndEntry(Outcome outcome, const std::string& why)
{
    Entry& e = m_entries[m_current];
    std::string failure = why;
    const bool ran = outcome == Outcome::Completed || outcome == Outcome::Aborted;
    if (m_state == State::Running)
        m_pausedMs += Now() - m_startTick;
    m_state = State::Idle;
    if (ran)
        m_pipeline.Stop();
    if (outcome == Outcome::Completed) {
        const double dur = m_pipeline.Duration();
        m_duration = dur > 0 ? dur : static_cast<double>(e.lengthMs) / 1000.0;
        m_position = m_duration;
        m_fraction = 1;
        m_entryBar = 1000;
        if (const std::string streaming = m_pipeline.StreamingError(); !streaming.empty())
            failure = streaming;
    }
    if (!m_settings.merge && m_outputOpen) {
        m_newFile = true;
        m_outputOpen = false;
        if (!m_pipeline.CloseOutput() && failure.empty())
            failure = "cannot finish " + e.file + ": " + m_pipeline.EncoderError();
        // A file opened for an entry that could not even be built holds nothing.
        if (outcome == Outcome::BuildFailed) {
            std::error_code ec;
            std::filesystem::remove(e.file, ec);
        }
    }
    m_doneSeconds += static_cast<double>(e.lengthMs) / 1000.0;
    m_totalBar = m_totalSeconds > 0 ? std::clamp(static_cast<int>(m_doneSeconds * 1000 / m_totalSeconds), 0, 1000) : 0;
    if (failure.empty())
        e.status = EntryStatus::Converted;
    else
        Fail(e, failure);

    const int next = NextChecked(m_current, ran);
    if (next >= 0) {
        m_current = next;
        Post();
    } else {
        Finish();
    }
}

int ConversionRun::NextChecked(int after, bool longEnoughOnly)
{
    for (int i = after + 1; i < static_cast<int>(m_entries.size()); ++i) {
        if (!longEnoughOnly || m_entries[i].lengthMs >= kMinRunEntryMs)
            return i;
        m_entries[i].status = EntryStatus::Skipped;
    }
    return -1;
}

void ConversionRun::Fail(Entry& entry, const std::string& why)
{
    entry.status = EntryStatus::Failed;
    entry.message = why;
    if (m_showMessage)
        m_showMessage(entry.name + ": " + why);
}

void ConversionRun::Finish()
{
    if (m_outputOpen) {
        m_outputOpen = false;
        if (!m_pipeline.CloseOutput()) {
            const std::string why = "cannot finish " + m_entries.front().file + ": " + m_pipeline.EncoderError();
            for (Entry& e : m_entries)
                if (e.status == EntryStatus::Converted)
                    Fail(e, why);
        }
    }
    m_pipeline.Stop();
    m_pipeline.ReleaseAll();
    m_state = State::Finished;

    if (m_settings.shutdownWhenDone || m_settings.afterAction == kShutDownAction) {
        if (m_shutdown)
            m_shutdown->Shutdown();
    } else if (m_settings.openFolderWhenDone) {
        if (m_shell)
            m_shell->OpenFolder(m_settings.outputFolder);
    }

    const int failed = FailedCount();
    m_completion = "Conversion completed";
    if (failed > 0) {
        const int tried = failed + ConvertedCount();
        m_completion += ": " + std::to_string(failed) + " of " + std::to_string(tried) +
                        (tried == 1 ? " entry failed" : " entries failed");
    }
    if (m_showMessage)
        m_showMessage(m_completion);
}

void ConversionRun::OnTimer()
{
    if (m_state != State::Running)
        return;
    const double pos = m_pipeline.Position();
    double dur = m_pipeline.Duration();
    if (!(dur > 0))
        dur = 1;
    m_position = std::max(0.0, pos);
    m_duration = dur;
    m_fraction = std::clamp(m_position / dur, 0.0, 1.0);
    m_entryBar = static_cast<int>(m_fraction * 1000 + 0.5);
    m_totalBar = m_totalSeconds > 0
                     ? std::clamp(static_cast<int>((m_doneSeconds + m_position) * 1000 / m_totalSeconds), 0, 1000)
                     : 0;
}

void ConversionRun::Pause()
{
    if (m_state == State::Paused) {
        Continue();
        return;
    }
    if (m_state != State::Running)
        return;
    m_pausedMs += Now() - m_startTick;
    m_pipeline.Pause();
    m_state = State::Paused;
}

void ConversionRun::Continue()
{
    if (m_state == State::Running) {
        Pause();
        return;
    }
    if (m_state != State::Paused)
        return;
    m_startTick = Now();
    m_state = State::Running;
    m_pipeline.Run();
}

void ConversionRun::Cancel()
{
    if (IsFinished())
        return;
    m_startPending = false;
    if (m_state == State::Running)
        m_pausedMs += Now() - m_startTick;
    m_pipeline.Stop();
    if (m_outputOpen) {
        m_outputOpen = false;
        m_pipeline.CloseOutput();
    }
    m_pipeline.ReleaseAll();
    if (m_current >= 0 && m_entries[m_current].status == EntryStatus::Converting)
        m_entries[m_current].status = EntryStatus::Cancelled;
    m_state = State::Cancelled;
}

void ConversionRun::SetShowPreview(bool on)
{
    m_settings.showPreview = on;
    m_pipeline.ShowPreview(on);
}

int64_t ConversionRun::ElapsedMs() const
{
    if (m_state == State::Running)
        return Now() - m_startTick + m_pausedMs;
    return m_pausedMs;
}

std::string ConversionRun::ElapsedText() const
{
    return RunTimeText(ElapsedMs() * 10000);
}

std::string ConversionRun::RemainingText() const
{
    const int64_t elapsed = ElapsedMs();
    if (!(m_fraction > 0) || elapsed <= 100)
        return "--:--:--";
    const auto remaining = static_cast<int64_t>((1 - m_fraction) * static_cast<double>(elapsed) / m_fraction + 0.5);
    return RunTimeText(remaining * 10000);
}

std::string ConversionRun::ConvertedLengthText() const
{
    return RunTimeText(static_cast<int64_t>(m_position * 1e7)) + "/" +
           RunTimeText(static_cast<int64_t>(m_duration * 1e7));
}

int ConversionRun::ConvertedCount() const
{
    return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(),
                                          [](const Entry& e) { return e.status == EntryStatus::Converted; }));
}

int ConversionRun::FailedCount() const
{
    return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(),
                                          [](const Entry& e) { return e.status == EntryStatus::Failed; }));
}
