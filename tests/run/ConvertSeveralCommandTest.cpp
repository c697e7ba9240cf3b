// zaderoza-cli convert with --titles/--all/--merge as a user runs it: the files written, the
// summary, the refusal to overwrite, and Ctrl-C in the middle of a run.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "encode/MediaCheck.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kDiscs = ZDR_TEST_DISCS;
const std::string kCli = std::string(ZDR_BIN_DIR) + "/zaderoza-cli";

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs zaderoza-cli with the arguments; stdout and stderr through files.
CliRun Cli(const std::vector<std::string>& args, const fs::path& dir)
{
    std::string command = "'" + kCli + "'";
    for (const auto& a : args)
        command += " '" + a + "'";
    const std::string outFile = (dir / "stdout.txt").string(), errFile = (dir / "stderr.txt").string();
    command += " >'" + outFile + "' 2>'" + errFile + "'";
    CliRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto slurp = [](const std::string& file) {
        std::string text;
        if (FILE* f = std::fopen(file.c_str(), "r")) {
            char buffer[4096];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
                text.append(buffer, n);
            std::fclose(f);
        }
        return text;
    };
    run.out = slurp(outFile);
    run.err = slurp(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return run;
}

std::vector<std::string> MediaFiles(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".mpg" || e.path().extension() == ".mp4")
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ConvertSeveralCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_out = fs::temp_directory_path() / ("zdr-cli-run-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_out);
        fs::create_directories(m_out);
    }
    void TearDown() override { fs::remove_all(m_out); }
    fs::path m_out;
};

TEST_F(ConvertSeveralCommand, FilesSummaryAndErrors)
{
    const std::string sample = kDiscs + "/sample";
    struct Case {
        const char* name;
        std::vector<std::string> args;  // after PATH
        int status;
        std::vector<std::string> files;
        const char* inOut;
        const char* inErr;
    } cases[] = {
        {"two titles", {"--titles", "3,1", "--trim-length", "1"}, 0, {"Title_01.mpg", "Title_03.mpg"},
         "2 of 2 titles converted", ""},
        {"existing files are kept", {"--titles", "1,3", "--trim-length", "1"}, 1, {"Title_01.mpg", "Title_03.mpg"},
         "", "Title_01.mpg exists (use --force to overwrite it)"},
        {"merged", {"--all", "--merge", "--trim-length", "1", "--force"}, 0, {"Title_01.mpg", "Title_03.mpg"},
         "Title_01.mpg: 00:00:02, ", ""},
        {"no such title", {"--titles", "1,9"}, 1, {"Title_01.mpg", "Title_03.mpg"}, "", "the disc has no title 9"},
        {"title twice", {"--titles", "1,1"}, 2, {"Title_01.mpg", "Title_03.mpg"}, "", "--titles takes"},
        {"merge alone", {"--title", "1", "--merge"}, 2, {"Title_01.mpg", "Title_03.mpg"}, "", "--merge goes with"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"convert", sample, "--profile", "8", "--out", m_out.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun run = Cli(args, m_out);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(MediaFiles(m_out), c.files);
        EXPECT_NE(run.out.find(c.inOut), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    }
    // The merged run rewrote Title_01 with both titles: about two seconds.
    const DecodedFile merged = Decode((m_out / "Title_01.mpg").string());
    ASSERT_TRUE(merged.ok);
    EXPECT_NEAR(merged.video.end - merged.video.firstPts, 2.0, 0.1);
}

TEST_F(ConvertSeveralCommand, InterruptClosesTheFileAndExitsWith130)
{
    // H.264 at 640x480 takes long enough for 32 titles that the run is still going.
    const std::string many = kDiscs + "/many";
    const std::vector<std::string> args = {kCli, "convert", many, "--all", "--profile", "5", "--out", m_out.string()};
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, kCli.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);

    // Interrupt once the first entry runs (its progress line is printed when it starts).
    std::string text;
    char buffer[512];
    ssize_t n;
    while (text.find("entry Title_01") == std::string::npos && (n = read(err[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ASSERT_NE(text.find("entry Title_01"), std::string::npos) << text;
    kill(pid, SIGINT);
    while ((n = read(err[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(err[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(WEXITSTATUS(status), 130) << text;
    EXPECT_NE(text.find("cancelled"), std::string::npos) << text;
    // What was written is a closed, readable file; no later title was started.
    const auto files = MediaFiles(m_out);
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.front(), "Title_01.mp4");
    EXPECT_LE(files.size(), 2u);
    EXPECT_TRUE(Decode((m_out / files.back()).string()).ok);
}

}  // namespace
