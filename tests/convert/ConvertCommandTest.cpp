// zaderoza-cli convert as a user meets it: Ctrl-C half-way leaves a playable file, every
// failure is one line and a non-zero status with no file left behind, and an existing file is
// only replaced on --force.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "convert/ConvertRun.h"

extern char** environ;

namespace {

const char* kH264Profile = "H.264/MPEG-4 AVC Video(*.mp4)";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ExpectOneLineError(const CliRun& run)
{
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.err.rfind("zaderoza-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST(ConvertCancel, InterruptHalfWayLeavesAPlayablePartialFile)
{
    ScratchFolder out;
    // A slow profile on one core keeps the 8 s title converting for many seconds.
    const std::string cli = std::string(ZDR_BIN_DIR) + "/zaderoza-cli";
    std::vector<std::string> args = {cli, "convert", DiscPath("sample"), "--title", "1", "--profile",
                                     "PS3-H.264 HD Video(*.mp4)", "--cpu-usage", "1", "--out", out.Path(), "--quiet"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string errFile = out.Path() + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Bounded wait for the file to hold some pictures, then interrupt as Ctrl-C does.
    const std::string file = out.Path() + "/Title_01.mp4";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    int status = 0;
    bool exitedEarly = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            exitedEarly = true;
            break;
        }
        if (std::filesystem::exists(file, ec) && std::filesystem::file_size(file, ec) > 200000)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!exitedEarly) {
        kill(pid, SIGINT);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
    }
    const std::string err = ReadAll(errFile);
    std::remove(errFile.c_str());
    ASSERT_FALSE(exitedEarly) << "finished or failed before it could be interrupted: " << err;
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 130) << err;
    EXPECT_NE(err.find("cancelled"), std::string::npos) << err;

    const ProbedMedia media = ProbeMedia(file);
    ASSERT_TRUE(media.readable) << "the partial file is not playable";
    ASSERT_FALSE(media.videoTimes.empty());
    const double shown = media.videoTimes.back() - media.videoTimes.front();
    EXPECT_GT(shown, 0);
    EXPECT_LT(shown, 7.9) << "the whole title was converted: nothing was cancelled";
    EXPECT_GT(media.audioSamples, 0);
}

struct FolderCase {
    const char* name;
    const char* out;  // inside the scratch folder, which holds the plain file "file"
};

class UnusableOutputFolder : public testing::TestWithParam<FolderCase> {};

TEST_P(UnusableOutputFolder, FailsWithAnErrorAndNoFile)
{
    ScratchFolder scratch;
    std::ofstream(scratch.Path() + "/file") << "plain";
    const CliRun run = Convert(DiscPath("sample"), {"--title", "1", "--profile", kH264Profile, "--trim-length", "0.3"},
                               scratch.Path() + "/" + GetParam().out);
    ExpectOneLineError(run);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.Path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"file"});
    EXPECT_EQ(ReadAll(scratch.Path() + "/file"), "plain");
}

INSTANTIATE_TEST_SUITE_P(Folders, UnusableOutputFolder,
                         testing::Values(FolderCase{"UnderAPlainFile", "file/sub"}, FolderCase{"APlainFile", "file"},
                                         FolderCase{"Missing", "missing"}),
                         [](const testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

TEST(ConvertOutputFile, AFolderInTheFilesPlaceIsAnErrorEvenWithForce)
{
    ScratchFolder out;
    std::filesystem::create_directory(out.Path() + "/Title_01.mp4");
    const CliRun run = Convert(DiscPath("sample"),
                               {"--title", "1", "--profile", kH264Profile, "--trim-length", "0.3", "--force"}, out.Path());
    ExpectOneLineError(run);
    EXPECT_TRUE(std::filesystem::is_directory(out.Path() + "/Title_01.mp4"));
}

TEST(ConvertOutputFile, AnExistingFileIsKeptUnlessForced)
{
    ScratchFolder out;
    const std::vector<std::string> args = {"--title", "1", "--profile", kH264Profile, "--trim-length", "0.3"};
    const std::string file = out.Path() + "/Title_01.mp4";
    std::ofstream(file) << "earlier work";

    const CliRun kept = Convert(DiscPath("sample"), args, out.Path());
    ExpectOneLineError(kept);
    EXPECT_NE(kept.err.find("--force"), std::string::npos) << kept.err;
    EXPECT_EQ(ReadAll(file), "earlier work");

    std::vector<std::string> forced = args;
    forced.push_back("--force");
    const CliRun replaced = Convert(DiscPath("sample"), forced, out.Path());
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(ProbeMedia(file).readable);
    EXPECT_EQ(out.Files(), std::vector<std::string>{file});
}

struct RefusedCase {
    const char* name;
    std::vector<std::string> args;
};

class RefusedConversion : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedConversion, OneLineErrorAndNoFile)
{
    ScratchFolder out;
    const CliRun run = Convert(DiscPath("sample"), GetParam().args, out.Path());
    ExpectOneLineError(run);
    EXPECT_TRUE(out.Files().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Choices, RefusedConversion,
    testing::Values(
        RefusedCase{"NoSuchTitle", {"--title", "9", "--profile", kH264Profile}},
        RefusedCase{"NoSuchProfile", {"--title", "1", "--profile", "no such profile"}},
        RefusedCase{"NoSuchAudioTrack", {"--title", "1", "--profile", kH264Profile, "--audio", "de"}},
        RefusedCase{"NoSuchAudioId", {"--title", "1", "--profile", kH264Profile, "--audio", "0xbd85"}},
        RefusedCase{"NoSuchSubtitle", {"--title", "1", "--profile", kH264Profile, "--subtitle", "ja"}},
        RefusedCase{"TrimStartAfterTheEnd", {"--title", "1", "--profile", kH264Profile, "--trim-start", "20"}}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

}  // namespace
