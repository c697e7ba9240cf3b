// The conversion run with the real pipeline on authored discs: files per entry or one merged
// file, and a title whose pipeline cannot be built among ones that convert.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "convert/ConversionPipeline.h"
#include "convert/ConversionRun.h"
#include "encode/MediaCheck.h"
#include "filters/RegisterDecoders.h"

namespace {

namespace fs = std::filesystem;

constexpr double kFps = 30000.0 / 1001.0;

FormatProfile SmallAviProfile()
{
    FormatProfile p{};
    const char* ext = ".avi";
    for (size_t i = 0; ext[i]; ++i)
        p.FormatExt[i] = static_cast<char16_t>(ext[i]);
    p.VideoEnabled = 1;
    p.Width = 160;
    p.Height = 120;
    p.FrameRate = 29970;
    p.VideoBitRate = 400000;
    std::strncpy(p.VideoCodecName, "mpeg4", sizeof p.VideoCodecName - 1);
    p.AudioEnabled = 1;
    p.SampleRate = 48000;
    p.Channel = 2;
    p.AudioBitRate = 128000;
    std::strncpy(p.AudioCodecName, "mp2", sizeof p.AudioCodecName - 1);
    return p;
}

// Trims of the first three titles of `many` (3.2 s each): of different lengths and starts,
// so that the pieces of a merged file can be told apart.
struct Trim {
    int64_t startMs, lengthMs;
};
const Trim kTrims[3] = {{0, 1000}, {1000, 1600}, {500, 1300}};

class ConversionRunDiscTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        av_log_set_level(AV_LOG_FATAL);  // the decoders' notes on pictures cut by the trims
        m_out = fs::temp_directory_path() / ("zdr-run-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_out);
        fs::create_directories(m_out);
        RegisterDecoders(m_registry);
        std::string error;
        ASSERT_TRUE(m_session.LoadDisc(std::string(ZDR_TEST_DISCS) + "/many", ".avi", &error)) << error;
        ASSERT_GE(m_session.Entries().size(), 3u);
        for (size_t i = 0; i < m_session.Entries().size(); ++i) {
            TitleEntry& e = m_session.Entries()[i];
            e.checked = i < 3;
            if (i < 3) {
                e.clip.trimStartMs = kTrims[i].startMs;
                e.clip.trimLengthMs = kTrims[i].lengthMs;
            }
        }
    }
    void TearDown() override { fs::remove_all(m_out); }

    // Runs to the end as the command-line tool does: wait for a wake, pump, sample.
    void RunToEnd(ConversionRun& run)
    {
        run.Start();
        for (int rounds = 0; !run.IsFinished() && rounds < 3000; ++rounds) {
            {
                std::unique_lock guard(m_lock);
                m_wake.wait_for(guard, std::chrono::milliseconds(200), [&] { return m_woken; });
                m_woken = false;
            }
            run.Pump();
            run.OnTimer();
        }
        ASSERT_TRUE(run.IsFinished());
    }
    std::function<void()> Waker()
    {
        return [this] {
            std::lock_guard guard(m_lock);
            m_woken = true;
            m_wake.notify_one();
        };
    }
    ConversionRunSettings Settings(bool merge)
    {
        ConversionRunSettings s;
        s.profile = SmallAviProfile();
        s.merge = merge;
        s.outputFolder = m_out.string();
        s.showPreview = false;
        return s;
    }

    fs::path m_out;
    FilterRegistry m_registry;
    DiscSession m_session;
    std::vector<std::string> m_messages;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_woken = false;
};

// Mean absolute difference of two luma-mean sequences over their common length.
double Distance(const std::vector<double>& a, const std::vector<double>& b)
{
    const size_t n = std::min(a.size(), b.size());
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += std::fabs(a[i] - b[i]);
    return n ? sum / static_cast<double>(n) : 1e9;
}

TEST_F(ConversionRunDiscTest, SeparateFilesAndOneMergedFileHoldingThePiecesInOrder)
{
    std::vector<DecodedFile> pieces;
    {
        ConversionPipeline pipeline(m_registry, [&](const std::string& m) { m_messages.push_back(m); });
        ConversionRun run(pipeline, m_session, Settings(false), Waker(),
                          [&](const std::string& m) { m_messages.push_back(m); });
        RunToEnd(run);
        EXPECT_EQ(run.ConvertedCount(), 3);
        EXPECT_EQ(run.TotalProgress(), 1000);
    }
    ASSERT_FALSE(m_messages.empty());
    EXPECT_EQ(m_messages.back(), "Conversion completed");
    for (int i = 0; i < 3; ++i) {
        const fs::path file = m_out / m_session.Entries()[i].outputName;
        SCOPED_TRACE(file.string());
        ASSERT_TRUE(fs::exists(file));
        pieces.push_back(Decode(file.string()));
        ASSERT_TRUE(pieces.back().ok);
        EXPECT_NEAR(pieces.back().video.frames, kTrims[i].lengthMs / 1000.0 * kFps, 1.5);
    }
    EXPECT_EQ(m_session.Entries()[0].outputName, "Title_01.avi");
    EXPECT_EQ(m_session.Entries()[2].outputName, "Title_03.avi");

    for (int i = 0; i < 3; ++i)
        fs::remove(m_out / m_session.Entries()[i].outputName);
    m_messages.clear();
    {
        ConversionPipeline pipeline(m_registry, [&](const std::string& m) { m_messages.push_back(m); });
        ConversionRun run(pipeline, m_session, Settings(true), Waker(),
                          [&](const std::string& m) { m_messages.push_back(m); });
        RunToEnd(run);
        EXPECT_EQ(run.ConvertedCount(), 3);
    }
    EXPECT_EQ(m_messages.back(), "Conversion completed");
    EXPECT_FALSE(fs::exists(m_out / "Title_02.avi"));
    EXPECT_FALSE(fs::exists(m_out / "Title_03.avi"));
    const DecodedFile merged = Decode((m_out / "Title_01.avi").string());
    ASSERT_TRUE(merged.ok);
    int frames = 0;
    std::vector<double> inOrder, swapped;
    for (const auto& p : pieces) {
        frames += p.video.frames;
        inOrder.insert(inOrder.end(), p.video.lumaMeans.begin(), p.video.lumaMeans.end());
    }
    for (int i : {0, 2, 1})
        swapped.insert(swapped.end(), pieces[i].video.lumaMeans.begin(), pieces[i].video.lumaMeans.end());
    // The sum within a frame per title; times rising across the joins.
    EXPECT_NEAR(merged.video.frames, frames, 3);
    EXPECT_NEAR(merged.video.end - merged.video.firstPts, (1000 + 1600 + 1300) / 1000.0, 3 / kFps);
    EXPECT_TRUE(merged.video.packetTimesIncreasing);
    EXPECT_TRUE(merged.audio.present);
    // The pictures follow the entries' order: closer to the pieces in order than swapped.
    const double near = Distance(merged.video.lumaMeans, inOrder);
    const double far = Distance(merged.video.lumaMeans, swapped);
    EXPECT_LT(near * 3, far) << "in order " << near << ", swapped " << far;
}

TEST_F(ConversionRunDiscTest, TitleWhoseBuildFailsIsSkippedAndTheOthersConvert)
{
    // The second entry points at a title the disc does not have: its source cannot be set.
    m_session.Entries()[1].clip.titleIndex = 40;
    ConversionPipeline pipeline(m_registry, [&](const std::string& m) { m_messages.push_back(m); });
    ConversionRun run(pipeline, m_session, Settings(false), Waker(),
                      [&](const std::string& m) { m_messages.push_back(m); });
    RunToEnd(run);
    EXPECT_EQ(run.ConvertedCount(), 2);
    EXPECT_EQ(run.FailedCount(), 1);
    EXPECT_EQ(run.Entries()[1].status, ConversionRun::EntryStatus::Failed);
    // The pipeline's own message first, then the run's line for the entry.
    ASSERT_EQ(m_messages.size(), 3u) << ::testing::PrintToString(m_messages);
    EXPECT_FALSE(m_messages[0].empty());
    EXPECT_EQ(m_messages[1], "Title_02.avi: cannot build the conversion");
    EXPECT_EQ(m_messages.back(), "Conversion completed: 1 of 3 entries failed");
    EXPECT_TRUE(fs::exists(m_out / "Title_01.avi"));
    EXPECT_FALSE(fs::exists(m_out / "Title_02.avi"));
    EXPECT_TRUE(fs::exists(m_out / "Title_03.avi"));
}

}  // namespace
