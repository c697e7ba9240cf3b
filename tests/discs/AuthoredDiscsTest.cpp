// The authored test discs read back with lsdvd as what their descriptions say: titles in
// order with lengths to the frame, chapter lengths, audio codings, languages and channels,
// subpicture languages, the video system and aspect, and the ISO's volume label. This proves
// that tools/make-test-disc makes real DVD-Video structures from the ISO and from the folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Audio {
  std::string format;  // as lsdvd names it: ac3, mpeg1, lpcm, dts
  std::string lang;
  int channels = 0;
  bool operator==(const Audio&) const = default;
};

struct Title {
  double seconds = 0;
  std::vector<double> chapterSeconds;
  std::vector<Audio> audio;
  std::vector<std::string> subs;
};

struct Disc {
  std::string name;
  std::string label;
  std::string format;  // NTSC or PAL
  std::string aspect;  // 4/3 or 16/9
  std::vector<Title> titles;
};

// What lsdvd printed, parsed.
struct Listing {
  std::string label;
  std::vector<Title> titles;
  std::vector<std::string> formats, aspects;
};

std::string discPath(const std::string& name) { return std::string(ZDR_TEST_DISCS) + "/" + name; }

std::string runLsdvd(const std::string& path) {
  std::string command = "lsdvd -a -s -c -v '" + path + "' 2>/dev/null";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

double seconds(const std::string& hms) {
  int h = 0, m = 0;
  double s = 0;
  std::sscanf(hms.c_str(), "%d:%d:%lf", &h, &m, &s);
  return h * 3600 + m * 60 + s;
}

Listing parse(const std::string& text) {
  static const std::regex label(R"(^Disc Title: (.*)$)");
  static const std::regex title(R"(^Title: \d+, Length: ([0-9:.]+) )");
  static const std::regex video(R"(Format: (\w+), Aspect ratio: ([0-9/]+),)");
  static const std::regex audio(R"(^\tAudio: \d+, Language: (\w+) .*Format: (\w+) *, .*Channels: (\d+),)");
  static const std::regex chapter(R"(^\tChapter: \d+, Length: ([0-9:.]+),)");
  static const std::regex sub(R"(^\tSubtitle: \d+, Language: (\w+) )");
  Listing listing;
  std::istringstream in(text);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, label)) {
      listing.label = m[1];
    } else if (std::regex_search(line, m, title)) {
      listing.titles.push_back({seconds(m[1]), {}, {}, {}});
    } else if (listing.titles.empty()) {
      continue;
    } else if (std::regex_search(line, m, video)) {
      listing.formats.push_back(m[1]);
      listing.aspects.push_back(m[2]);
    } else if (std::regex_search(line, m, audio)) {
      listing.titles.back().audio.push_back({m[2], m[1], std::stoi(m[3])});
    } else if (std::regex_search(line, m, chapter)) {
      listing.titles.back().chapterSeconds.push_back(seconds(m[1]));
    } else if (std::regex_search(line, m, sub)) {
      listing.titles.back().subs.push_back(m[1]);
    }
  }
  return listing;
}

const Audio ac3En2{"ac3", "en", 2};

Disc many() {
  Disc d{"many", "MANY", "NTSC", "4/3", {}};
  for (int i = 0; i < 40; ++i) d.titles.push_back({3.2, {1.0, 1.0, 1.2}, {ac3En2}, {}});
  return d;
}

// Chapter lengths follow from the chapter starts snapped to the next frame.
const std::vector<Disc> kDiscs = {
    {"sample", "SAMPLE", "NTSC", "16/9",
     {{8, {3, 3, 2}, {ac3En2, {"mpeg1", "fr", 2}}, {"en", "de"}},
      {2, {2}, {ac3En2}, {}},
      {4, {4}, {{"lpcm", "de", 2}}, {}}}},
    {"pal", "PAL", "PAL", "4/3",
     {{5, {5}, {ac3En2, {"ac3", "en", 6}, {"dts", "es", 6}, {"lpcm", "it", 2}}, {"ja"}}}},
    {"short-first", "SHORT-FIRST", "NTSC", "4/3",
     {{2.5, {2.5}, {{"ac3", "de", 2}}, {}}, {3.5, {3.5}, {{"mpeg1", "en", 2}}, {}}}},
    many(),
    {"flash", "FLASH", "NTSC", "16/9", {{6, {6}, {ac3En2}, {}}}},
    {"noaudio", "NOAUDIO", "PAL", "4/3", {{4, {4}, {}, {}}}},
};

void PrintTo(const Disc& disc, std::ostream* os) { *os << disc.name; }

class AuthoredDisc : public ::testing::TestWithParam<Disc> {};

void expectListing(const Disc& disc, const Listing& got, bool fromIso) {
  double frame = disc.format == "PAL" ? 0.040 : 1001.0 / 30000;
  if (fromIso) {
    EXPECT_EQ(got.label, disc.label);
  }
  ASSERT_EQ(got.titles.size(), disc.titles.size());
  for (size_t t = 0; t < disc.titles.size(); ++t) {
    SCOPED_TRACE("title " + std::to_string(t + 1));
    const Title& want = disc.titles[t];
    const Title& have = got.titles[t];
    EXPECT_LE(std::fabs(have.seconds - want.seconds), frame) << have.seconds;
    ASSERT_EQ(have.chapterSeconds.size(), want.chapterSeconds.size());
    for (size_t c = 0; c < want.chapterSeconds.size(); ++c)
      EXPECT_LE(std::fabs(have.chapterSeconds[c] - want.chapterSeconds[c]), frame)
          << "chapter " << c + 1 << ": " << have.chapterSeconds[c];
    EXPECT_EQ(have.audio, want.audio);
    EXPECT_EQ(have.subs, want.subs);
  }
  for (size_t t = 0; t < got.formats.size(); ++t) {
    EXPECT_EQ(got.formats[t], disc.format);
    EXPECT_EQ(got.aspects[t], disc.aspect);
  }
  EXPECT_EQ(got.formats.size(), disc.titles.size());
}

TEST_P(AuthoredDisc, ListsAsDescribed) {
  const Disc& disc = GetParam();
  ASSERT_TRUE(std::filesystem::exists(discPath(disc.name) + "/VIDEO_TS/VIDEO_TS.IFO"));
  std::string iso = runLsdvd(discPath(disc.name) + "/disc.iso");
  ASSERT_NE(iso.find("Title: 01"), std::string::npos) << "lsdvd could not read the ISO:\n" << iso;
  {
    SCOPED_TRACE("ISO");
    expectListing(disc, parse(iso), true);
  }
  SCOPED_TRACE("folder");
  expectListing(disc, parse(runLsdvd(discPath(disc.name))), false);
}

INSTANTIATE_TEST_SUITE_P(Discs, AuthoredDisc, ::testing::ValuesIn(kDiscs),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace
