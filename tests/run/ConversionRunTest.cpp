// The conversion run against a scripted pipeline: file naming and merging, the skip rule,
// progress and time texts, pause accounting, failures that end an entry, finish actions.
#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "convert/ConversionPipeline.h"
#include "convert/ConversionRun.h"
#include "graph/Interfaces.h"

namespace {

// Records what the run asks of it; events are queued by the test and handed out by NextEvent.
class FakePipeline : public IEntryPipeline {
public:
    bool OpenOutput(const std::string& fileName, const FormatProfile&, int) override
    {
        log.push_back("open " + fileName);
        if (failOpen.count(fileName)) {
            encoderError = "Permission denied";
            return false;
        }
        return true;
    }
    bool CloseOutput() override
    {
        log.push_back("close");
        return !closeFails;
    }
    std::string EncoderError() const override { return encoderError; }
    bool Build(DvdHandle, int titleIndex, int, const ClipItem& entry, std::function<void()> n, bool) override
    {
        log.push_back("build " + std::to_string(titleIndex));
        builtPictures.push_back(entry.picture);
        notify = std::move(n);
        events.clear();
        return !failBuild.count(titleIndex);
    }
    bool AttachPreview(IVideoSurface*, const ZRect&) override { return true; }
    void ShowPreview(bool) override {}
    bool ListStreams(StreamList* list) override
    {
        *list = streams;
        return true;
    }
    bool EnableStream(int index, bool) override
    {
        enabled.push_back(index);
        return true;
    }
    HRESULT Run() override
    {
        log.push_back("run");
        return failRun ? E_FAIL : S_OK;
    }
    HRESULT Pause() override
    {
        log.push_back("pause");
        return S_OK;
    }
    HRESULT Stop() override { return S_OK; }
    double Position() override { return position; }
    double Duration() override { return duration; }
    bool NextEvent(int32_t* code, intptr_t* p1, intptr_t* p2) override
    {
        if (events.empty())
            return false;
        *code = events.front();
        *p1 = E_FAIL;
        *p2 = 0;
        events.pop_front();
        return true;
    }
    std::string StreamingError() override { return {}; }
    void ReleaseAll() override {}

    // The streaming side: queue an event and call the notify callback as a graph would.
    void Raise(int32_t code)
    {
        events.push_back(code);
        if (notify)
            notify();
    }
    std::vector<std::string> Builds() const
    {
        std::vector<std::string> out;
        for (const auto& line : log)
            if (line.rfind("build", 0) == 0 || line.rfind("open", 0) == 0 || line == "close")
                out.push_back(line);
        return out;
    }

    std::vector<std::string> log;
    std::set<int> failBuild;
    std::set<std::string> failOpen;
    bool closeFails = false;
    bool failRun = false;
    std::string encoderError;
    std::deque<int32_t> events;
    std::function<void()> notify;
    double position = 0, duration = 1;
    StreamList streams{};
    std::vector<int> enabled;
    std::vector<PictureSettings> builtPictures;
};

class RecordingShutdown : public ISystemShutdown {
public:
    bool Shutdown() override
    {
        ++calls;
        return true;
    }
    int calls = 0;
};

class RecordingShell : public IShellOpen {
public:
    bool OpenFolder(const std::string& path) override
    {
        opened.push_back(path);
        return true;
    }
    std::vector<std::string> opened;
};

struct Title {
    int64_t lengthMs;
    bool checked = true;
};

class ConversionRunTest : public ::testing::Test {
protected:
    // Entries for titles 0.. with the given lengths, named as the title list names them.
    void MakeEntries(const std::vector<Title>& titles)
    {
        for (size_t i = 0; i < titles.size(); ++i) {
            TitleEntry e;
            e.clip.titleIndex = static_cast<int32_t>(i);
            e.clip.lengthMs = e.clip.trimLengthMs = titles[i].lengthMs;
            e.outputName = EntryName(e.clip, ".mp4");
            e.checked = titles[i].checked;
            session.Entries().push_back(e);
        }
    }
    ConversionRun& MakeRun(ConversionRunSettings s = {})
    {
        if (s.outputFolder.empty())
            s.outputFolder = "/out";
        run = std::make_unique<ConversionRun>(
            pipeline, session, s, [this] { ++wakes; }, [this](const std::string& m) { messages.push_back(m); },
            &shutdown, &shell, [this] { return now; });
        return *run;
    }
    // Lets the entry in turn complete and hands the run its posted work, as the owner would.
    void Complete()
    {
        pipeline.Raise(EC_COMPLETE);
        run->Pump();
    }

    FakePipeline pipeline;
    DiscSession session;
    RecordingShutdown shutdown;
    RecordingShell shell;
    std::unique_ptr<ConversionRun> run;
    std::vector<std::string> messages;
    int64_t now = 0;
    int wakes = 0;
};

TEST_F(ConversionRunTest, FilesPerEntryOrOneMergedFileNamedAfterTheFirst)
{
    struct Case {
        bool merge;
        std::vector<std::string> calls;
    } cases[] = {
        {false,
         {"open /out/Title_01.mp4", "build 0", "close", "open /out/Title_02.mp4", "build 1", "close",
          "open /out/Title_03.mp4", "build 2", "close"}},
        {true, {"open /out/Title_01.mp4", "build 0", "build 1", "build 2", "close"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.merge ? "merge" : "separate");
        pipeline = FakePipeline{};
        session.Entries().clear();
        messages.clear();
        MakeEntries({{5000}, {6000}, {7000}});
        ConversionRunSettings s;
        s.merge = c.merge;
        ConversionRun& r = MakeRun(s);
        r.Start();
        r.Pump();
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(r.IsRunning());
            EXPECT_EQ(r.CurrentEntry(), i);
            Complete();
        }
        EXPECT_EQ(pipeline.Builds(), c.calls);
        EXPECT_EQ(r.GetState(), ConversionRun::State::Finished);
        EXPECT_EQ(r.ConvertedCount(), 3);
        EXPECT_EQ(r.TotalProgress(), 1000);
        EXPECT_DOUBLE_EQ(r.DoneSeconds(), 18.0);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), "Conversion completed");
        for (const auto& e : r.Entries())
            EXPECT_EQ(e.file, c.merge ? "/out/Title_01.mp4" : "/out/" + e.name);
    }
}

TEST_F(ConversionRunTest, SharedPictureSettingsGoIntoEveryCheckedEntry)
{
    MakeEntries({{5000}, {5000, false}, {5000}});
    session.SharedPictureSettings().brightness = 200;
    ConversionRun& r = MakeRun();
    r.Start();
    EXPECT_EQ(session.Entries()[0].clip.picture.brightness, 200);
    EXPECT_EQ(session.Entries()[1].clip.picture.brightness, 128);
    EXPECT_EQ(session.Entries()[2].clip.picture.brightness, 200);
    EXPECT_DOUBLE_EQ(r.TotalSeconds(), 10.0);
    r.Pump();
    Complete();
    Complete();
    EXPECT_EQ(pipeline.Builds(), (std::vector<std::string>{"open /out/Title_01.mp4", "build 0", "close",
                                                           "open /out/Title_03.mp4", "build 2", "close"}));
    ASSERT_EQ(pipeline.builtPictures.size(), 2u);
    EXPECT_EQ(pipeline.builtPictures[1].brightness, 200);
}

TEST_F(ConversionRunTest, ShortEntryAfterAFinishedOneIsSkippedAndNotCounted)
{
    struct Case {
        const char* name;
        std::vector<Title> titles;
        std::set<int> failBuild;
        std::vector<std::string> builds;
        double doneSeconds;
    } cases[] = {
        {"short after finished", {{5000}, {999}, {4000}}, {}, {"build 0", "build 2"}, 9.0},
        {"exactly 1000 ms is kept", {{5000}, {1000}, {4000}}, {}, {"build 0", "build 1", "build 2"}, 10.0},
        {"a short first entry runs", {{800}, {4000}}, {}, {"build 0", "build 1"}, 4.8},
        {"short after a failed build runs", {{5000}, {800}, {4000}}, {0}, {"build 0", "build 1", "build 2"}, 9.8},
        {"short last entry", {{5000}, {500}}, {}, {"build 0"}, 5.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pipeline = FakePipeline{};
        pipeline.failBuild = c.failBuild;
        session.Entries().clear();
        MakeEntries(c.titles);
        ConversionRun& r = MakeRun();
        r.Start();
        r.Pump();
        for (int guard = 0; guard < 10 && !r.IsFinished(); ++guard)
            Complete();
        ASSERT_TRUE(r.IsFinished());
        std::vector<std::string> builds;
        for (const auto& line : pipeline.log)
            if (line.rfind("build", 0) == 0)
                builds.push_back(line);
        EXPECT_EQ(builds, c.builds);
        EXPECT_NEAR(r.DoneSeconds(), c.doneSeconds, 1e-9);
        for (const auto& e : r.Entries()) {
            if (e.status == ConversionRun::EntryStatus::Skipped) {
                EXPECT_LT(e.lengthMs, kMinRunEntryMs);
            }
        }
    }
}

TEST_F(ConversionRunTest, NothingCheckedLeavesTheRunIdle)
{
    MakeEntries({{5000, false}, {6000, false}});
    ConversionRun& r = MakeRun();
    r.Start();
    r.Pump();
    r.OnTimer();
    EXPECT_EQ(r.GetState(), ConversionRun::State::Idle);
    EXPECT_FALSE(r.IsFinished());
    EXPECT_EQ(r.CurrentEntry(), -1);
    EXPECT_EQ(r.EntryProgress(), 0);
    EXPECT_EQ(r.TotalProgress(), 0);
    EXPECT_TRUE(pipeline.log.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(shutdown.calls, 0);
}

TEST_F(ConversionRunTest, PausedTimeIsLeftOutOfTheElapsedTime)
{
    MakeEntries({{60000}});
    ConversionRun& r = MakeRun();
    now = 1000;
    r.Start();
    r.Pump();
    now += 10000;
    r.Pause();
    EXPECT_TRUE(r.IsPaused());
    EXPECT_EQ(r.ElapsedText(), "00:00:10");
    now += 7000;  // paused
    EXPECT_EQ(r.ElapsedText(), "00:00:10");
    r.Continue();
    EXPECT_TRUE(r.IsRunning());
    now += 5000;
    r.Pause();
    EXPECT_EQ(r.ElapsedMs(), 15000);
    EXPECT_EQ(r.ElapsedText(), "00:00:15");
    EXPECT_EQ(pipeline.log, (std::vector<std::string>{"open /out/Title_01.mp4", "build 0", "run", "pause", "run",
                                                      "pause"}));
}

TEST_F(ConversionRunTest, ProgressAndTimeTexts)
{
    MakeEntries({{8000}, {8000}});
    ConversionRun& r = MakeRun();
    r.Start();
    r.Pump();
    pipeline.duration = 8;

    // Nothing converted yet: no estimate rather than a division by zero.
    now += 2000;
    r.OnTimer();
    EXPECT_EQ(r.EntryProgress(), 0);
    EXPECT_EQ(r.RemainingText(), "--:--:--");

    Complete();
    ASSERT_EQ(r.CurrentEntry(), 1);
    EXPECT_EQ(r.TotalProgress(), 500);
    pipeline.position = 2;
    now += 50;
    r.OnTimer();
    EXPECT_EQ(r.RemainingText(), "--:--:--");  // 50 ms are too few to estimate from
    now += 950;
    r.OnTimer();
    EXPECT_EQ(r.EntryProgress(), 250);
    EXPECT_EQ(r.TotalProgress(), 625);
    EXPECT_EQ(r.ElapsedText(), "00:00:01");
    EXPECT_EQ(r.RemainingText(), "00:00:03");
    EXPECT_EQ(r.ConvertedLengthText(), "00:00:02/00:00:08");

    pipeline.position = 9;  // past the window: the bars stop at full
    r.OnTimer();
    EXPECT_EQ(r.EntryProgress(), 1000);
    EXPECT_EQ(r.TotalProgress(), 1000);
}

TEST_F(ConversionRunTest, TimeTexts)
{
    struct Case {
        int64_t time;
        const char* text;
    } cases[] = {
        {0, "00:00:00"},          {9999999, "00:00:00"},         {10000000, "00:00:01"},
        {35990000000, "00:59:59"}, {36000000000, "01:00:00"},    {3600000000000, "100:00:00"},
        {-5, "00:00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RunTimeText(c.time), c.text) << c.time;
}

TEST_F(ConversionRunTest, FinishActions)
{
    struct Case {
        bool shutdownBox;
        const char* action;
        bool openFolderBox;
        int shutdowns;
        bool opened;
    } cases[] = {
        {false, "Shut Down", false, 1, false},
        {false, "Shut Down", true, 1, false},
        {true, "No Action", true, 1, false},
        {false, "No Action", true, 0, true},
        {false, "No Action", false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.action) + (c.shutdownBox ? " box" : "") + (c.openFolderBox ? " open" : ""));
        shutdown.calls = 0;
        shell.opened.clear();
        session.Entries().clear();
        MakeEntries({{5000}});
        ConversionRunSettings s;
        s.outputFolder = "/videos";
        s.afterAction = c.action;
        s.shutdownWhenDone = c.shutdownBox;
        s.openFolderWhenDone = c.openFolderBox;
        ConversionRun& r = MakeRun(s);
        r.Start();
        r.Pump();
        EXPECT_EQ(shutdown.calls, 0);
        Complete();
        EXPECT_EQ(shutdown.calls, c.shutdowns);
        EXPECT_EQ(shell.opened, c.opened ? std::vector<std::string>{"/videos"} : std::vector<std::string>{});
    }
}

TEST_F(ConversionRunTest, FailedEntriesEndAndTheRunGoesOn)
{
    struct Case {
        const char* name;
        std::function<void(FakePipeline&)> setUp;
        int32_t eventForSecond;  // what the second entry's graph raises
        std::vector<std::string> calls;
        const char* message;
        int failed;
    } cases[] = {
        {"build fails",
         [](FakePipeline& p) { p.failBuild = {1}; },
         0,
         {"open /out/Title_01.mp4", "build 0", "close", "open /out/Title_02.mp4", "build 1", "close",
          "open /out/Title_03.mp4", "build 2", "close"},
         "Title_02.mp4: cannot build the conversion", 1},
        {"file cannot be opened",
         [](FakePipeline& p) { p.failOpen = {"/out/Title_02.mp4"}; },
         0,
         {"open /out/Title_01.mp4", "build 0", "close", "open /out/Title_02.mp4", "open /out/Title_03.mp4",
          "build 2", "close"},
         "Title_02.mp4: cannot write /out/Title_02.mp4: Permission denied", 1},
        {"error abort",
         [](FakePipeline&) {},
         EC_ERRORABORT,
         {"open /out/Title_01.mp4", "build 0", "close", "open /out/Title_02.mp4", "build 1", "close",
          "open /out/Title_03.mp4", "build 2", "close"},
         "Title_02.mp4: the conversion stopped (0x80004005)", 1},
        {"graph does not run",
         [](FakePipeline& p) { p.failRun = true; },
         0,
         {"open /out/Title_01.mp4", "build 0", "close", "open /out/Title_02.mp4", "build 1", "close",
          "open /out/Title_03.mp4", "build 2", "close"},
         "Title_01.mp4: cannot start the conversion", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pipeline = FakePipeline{};
        c.setUp(pipeline);
        session.Entries().clear();
        messages.clear();
        MakeEntries({{5000}, {5000}, {5000}});
        ConversionRun& r = MakeRun();
        r.Start();
        r.Pump();
        for (int guard = 0; guard < 10 && !r.IsFinished(); ++guard) {
            if (r.CurrentEntry() == 1 && c.eventForSecond) {
                pipeline.Raise(c.eventForSecond);
                r.Pump();
            } else {
                Complete();
            }
        }
        ASSERT_TRUE(r.IsFinished());
        EXPECT_EQ(pipeline.Builds(), c.calls);
        const int failed = c.failed;
        EXPECT_EQ(r.FailedCount(), failed);
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(messages.front(), c.message);
        EXPECT_EQ(messages.back(), "Conversion completed: " + std::to_string(failed) + " of 3 entries failed");
        EXPECT_EQ(r.ConvertedCount() + r.FailedCount(), 3);
        EXPECT_EQ(r.TotalProgress(), 1000);
    }
}

TEST_F(ConversionRunTest, MergedFileThatCannotBeFinishedFailsItsEntries)
{
    MakeEntries({{5000}, {5000}});
    pipeline.closeFails = true;
    pipeline.encoderError = "No space left on device";
    ConversionRunSettings s;
    s.merge = true;
    ConversionRun& r = MakeRun(s);
    r.Start();
    r.Pump();
    Complete();
    Complete();
    EXPECT_EQ(r.FailedCount(), 2);
    EXPECT_EQ(messages.back(), "Conversion completed: 2 of 2 entries failed");
}

TEST_F(ConversionRunTest, ChosenStreamsAreToldApartByPesIdAndSubStreamId)
{
    StreamList streams{};
    streams.audioCount = 3;
    streams.audio[0] = {1, 0x80, 48000, 2, 192000, 0xBD};
    streams.audio[1] = {2, 0x00, 48000, 2, 192000, 0xC0};
    streams.audio[2] = {3, 0x00, 48000, 2, 192000, 0xC1};
    streams.subtitleCount = 2;
    streams.subtitle[0] = {4, 0x20, 0xBD};
    streams.subtitle[1] = {5, 0x21, 0xBD};
    struct Case {
        int32_t audio, subtitle;
        std::vector<int> enabled;  // subtitles first, then audio
    } cases[] = {
        {0xC100, -1, {3}},
        {0xC000, 0xBD21, {5, 2}},
        {0xBD80, 0xBD20, {4, 1}},
        {0xBD81, -1, {}},
        {-1, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.audio);
        pipeline = FakePipeline{};
        pipeline.streams = streams;
        session.Entries().clear();
        MakeEntries({{5000}});
        session.SetSelectedAudioStreamId(c.audio);
        session.SetSelectedSubtitleStreamId(c.subtitle);
        ConversionRun& r = MakeRun();
        r.Start();
        r.Pump();
        EXPECT_EQ(pipeline.enabled, c.enabled);
    }
}

TEST_F(ConversionRunTest, CancelClosesTheOutputAndIgnoresLateEvents)
{
    MakeEntries({{5000}, {5000}});
    ConversionRun& r = MakeRun();
    r.Start();
    r.Pump();
    r.Cancel();
    EXPECT_EQ(r.GetState(), ConversionRun::State::Cancelled);
    EXPECT_EQ(r.Entries()[0].status, ConversionRun::EntryStatus::Cancelled);
    Complete();
    EXPECT_EQ(pipeline.Builds(), (std::vector<std::string>{"open /out/Title_01.mp4", "build 0", "close"}));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(shutdown.calls, 0);
}

TEST_F(ConversionRunTest, WakeIsCalledForEveryPostedStartAndGraphEvent)
{
    MakeEntries({{5000}, {5000}});
    ConversionRun& r = MakeRun();
    r.Start();
    EXPECT_EQ(wakes, 1);
    EXPECT_TRUE(r.StartPending());
    r.Pump();
    EXPECT_FALSE(r.StartPending());
    pipeline.Raise(EC_COMPLETE);  // through the notify callback given to Build
    EXPECT_EQ(wakes, 2);
    r.OnGraphEvent();
    EXPECT_TRUE(r.StartPending());
    EXPECT_EQ(wakes, 3);
}

}  // namespace
