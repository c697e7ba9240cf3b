// zaderoza-cli scan as a user runs it: the text and JSON views of an authored disc and the
// one-line errors for paths that are not DVDs.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct ScanRun {
    int status = -1;
    std::string out;
    std::string err;
};

ScanRun Scan(const std::string& args)
{
    const std::string errFile = testing::TempDir() + "zdr-scan-err.txt";
    const std::string command = std::string(ZDR_BIN_DIR) + "/zaderoza-cli scan " + args + " 2>" + errFile;
    ScanRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (FILE* err = std::fopen(errFile.c_str(), "r")) {
        while ((n = std::fread(buffer, 1, sizeof buffer, err)) > 0)
            run.err.append(buffer, n);
        std::fclose(err);
    }
    return run;
}

const std::string kSample = std::string(ZDR_TEST_DISCS) + "/sample";

TEST(ScanCommand, ShowsTheTitleListOfADisc)
{
    const ScanRun run = Scan("'" + kSample + "/disc.iso'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              kSample + "/disc.iso: 3 titles, 2 listed\n"
              "Title_01.mp4  00:00:08  3 chapters\n"
              "  audio 0xbd80  English(AC3 2ch)\n"
              "  audio 0xc000  French(MP3 2ch)\n"
              "  subtitle 0xbd20  English\n"
              "  subtitle 0xbd21  German\n"
              "Title_03.mp4  00:00:04  1 chapters\n"
              "  audio 0xbda0  German(LPCM 2ch)\n"
              "skipped (shorter than 3 s): Title_02\n");
}

TEST(ScanCommand, ExtensionOption)
{
    for (const char* ext : {"--ext .avi", "--ext avi"}) {
        const ScanRun run = Scan("'" + kSample + "' " + ext);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("Title_01.avi  00:00:08"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find(".mp4"), std::string::npos);
    }
}

TEST(ScanCommand, Json)
{
    const ScanRun run = Scan("--json '" + kSample + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string& j = run.out;
    EXPECT_EQ(j.rfind("{\"path\":\"" + kSample + "\",\"titleCount\":3,\"titles\":[{\"title\":1,\"name\":\"Title_01.mp4\",\"length\":\"00:00:08\",", 0), 0u) << j;
    EXPECT_NE(j.find("{\"id\":\"0xc000\",\"text\":\"French(MP3 2ch)\",\"language\":\"fr\",\"coding\":2,\"channelCode\":1}"), std::string::npos) << j;
    EXPECT_NE(j.find("\"subtitles\":[{\"id\":\"0xbd20\",\"text\":\"English\",\"language\":\"en\"}"), std::string::npos) << j;
    EXPECT_NE(j.find("\"skipped\":[{\"title\":2,\"durationMs\":2"), std::string::npos) << j;
    EXPECT_EQ(j.back(), '\n');
}

TEST(ScanCommand, JsonEscapesThePath)
{
    // A path with a quote and a backslash: the error goes to stderr, but a real folder name
    // with them must come out escaped.
    const std::string dir = testing::TempDir() + "zdr \"quoted\\\" disc";
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "' && cp -r '" + kSample + "/VIDEO_TS' '" + dir + "/'").c_str());
    const ScanRun run = Scan("--json '" + dir + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("zdr \\\"quoted\\\\\\\" disc"), std::string::npos) << run.out;
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(ScanCommand, PathsThatAreNoDvdFailWithOneLine)
{
    const struct {
        std::string args;
        int status;
        std::string err;
    } cases[] = {
        {"/no/such/path", 1, "zaderoza-cli: no such file or folder: /no/such/path\n"},
        {"/tmp/", 1, "zaderoza-cli: /tmp/ has no VIDEO_TS folder\n"},
        {"'" + kSample + "/VIDEO_TS/VIDEO_TS.IFO'", 1, "zaderoza-cli: " + kSample + "/VIDEO_TS/VIDEO_TS.IFO is not a DVD image\n"},
        {"", 2, "zaderoza-cli: usage: scan PATH [--json] [--ext .EXT] [--read]\n"},
        {"a b", 2, "zaderoza-cli: scan takes one path\n"},
        {"--bogus x", 2, "zaderoza-cli: unknown option --bogus (usage: scan PATH [--json] [--ext .EXT] [--read])\n"},
    };
    for (const auto& c : cases) {
        const ScanRun run = Scan(c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
        EXPECT_EQ(run.out, "") << c.args;
    }
}

TEST(ScanCommand, WarnsAboutWhatTheScanLeftOut)
{
    const ScanRun run = Scan("'" + std::string(ZDR_TEST_DISCS) + "/damaged/cells-past-end'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("zaderoza-cli: warning: title 1: no readable cell\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Title_01"), run.out.find("Title_01, ")) << run.out;  // only as skipped
}

TEST(ScanCommand, ReadReportsWhatCannotBeRead)
{
    const std::string damaged = std::string(ZDR_TEST_DISCS) + "/damaged/";
    const ScanRun clean = Scan("--read '" + damaged + "zeroed-sectors'");
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.err, "");
    const ScanRun scrambled = Scan("--read '" + damaged + "scrambled'");
    EXPECT_EQ(scrambled.status, 1);
    EXPECT_EQ(scrambled.err.rfind("zaderoza-cli: Title_01: encrypted disc", 0), 0u) << scrambled.err;
    EXPECT_NE(scrambled.out.find("Title_03.mp4"), std::string::npos);  // the list is still shown
}

}  // namespace
