// The damaged fixtures hold the damage their DAMAGE file records, and nothing else differs
// from the authored disc they were made from, so that the DVD-layer tests can rely on both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Notes = std::map<std::string, std::string>;
constexpr size_t kSector = 2048;

const fs::path kDiscs = ZDR_TEST_DISCS;

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Notes readNotes(const fs::path& fixture) {
  Notes notes;
  std::ifstream in(fixture / "DAMAGE");
  std::string line;
  while (std::getline(in, line))
    if (auto eq = line.find('='); eq != std::string::npos)
      notes[line.substr(0, eq)] = line.substr(eq + 1);
  return notes;
}

size_t number(const Notes& notes, const std::string& key) {
  auto it = notes.find(key);
  return it == notes.end() ? SIZE_MAX : std::stoul(it->second);
}

unsigned be16(const Bytes& b, size_t at) { return at + 1 < b.size() ? b[at] << 8 | b[at + 1] : 0; }
size_t be32(const Bytes& b, size_t at) { return size_t{be16(b, at)} << 16 | be16(b, at + 2); }

// The sectors of two equally long files that differ.
std::vector<size_t> differingSectors(const Bytes& a, const Bytes& b) {
  std::vector<size_t> out;
  for (size_t s = 0; s * kSector < std::min(a.size(), b.size()); ++s)
    if (!std::equal(a.begin() + s * kSector, a.begin() + std::min(a.size(), (s + 1) * kSector),
                    b.begin() + s * kSector))
      out.push_back(s);
  return out;
}

struct Fixture {
  std::string kind;
  std::string source;
  // Checks the damaged copy against its source; both are disc folders.
  std::function<void(const fs::path& damaged, const fs::path& source, const Notes&)> check;
};

void checkSectorRun(const fs::path& damaged, const fs::path& source, const Notes& notes, bool zeros) {
  Bytes vob = readFile(damaged / "VIDEO_TS/VTS_01_1.VOB");
  Bytes original = readFile(source / "VIDEO_TS/VTS_01_1.VOB");
  ASSERT_EQ(vob.size(), original.size());
  size_t first = number(notes, "first_sector"), count = number(notes, "sector_count");
  ASSERT_EQ(count, 50u);
  std::vector<size_t> expected;
  for (size_t s = first; s < first + count; ++s) expected.push_back(s);
  EXPECT_EQ(differingSectors(vob, original), expected);
  // Inside title 1, away from its edges.
  EXPECT_GT(first, number(notes, "title_first_sector"));
  EXPECT_LT(first + count, number(notes, "title_last_sector"));
  auto begin = vob.begin() + first * kSector, end = begin + count * kSector;
  size_t zeroBytes = std::count(begin, end, 0);
  if (zeros)
    EXPECT_EQ(zeroBytes, count * kSector);
  else
    EXPECT_LT(zeroBytes, count * kSector / 64);
}

void checkPgcCount(const fs::path& damaged, const fs::path& source, unsigned count) {
  for (const char* file : {"VIDEO_TS/VTS_01_0.IFO", "VIDEO_TS/VTS_01_0.BUP"}) {
    SCOPED_TRACE(file);
    Bytes ifo = readFile(damaged / file), original = readFile(source / file);
    size_t pgcit = be32(ifo, 0xCC) * kSector;
    EXPECT_EQ(be16(ifo, pgcit), count);
    EXPECT_EQ(be16(original, pgcit), 1u);
  }
}

const std::vector<Fixture> kFixtures = {
    {"zeroed-sectors", "sample",
     [](auto& d, auto& s, auto& n) { checkSectorRun(d, s, n, true); }},
    {"garbage-sectors", "sample",
     [](auto& d, auto& s, auto& n) { checkSectorRun(d, s, n, false); }},
    {"cut-iso", "sample",
     [](auto& d, auto& s, auto& n) {
       Bytes iso = readFile(d / "disc.iso"), original = readFile(s / "disc.iso");
       EXPECT_EQ(iso.size(), original.size() / kSector / 2 * kSector);
       EXPECT_EQ(iso.size(), number(n, "kept_bytes"));
       EXPECT_TRUE(std::equal(iso.begin(), iso.end(), original.begin()));
       EXPECT_FALSE(fs::exists(d / "VIDEO_TS"));
     }},
    {"ifo-garbage", "sample",
     [](auto& d, auto& s, auto& n) {
       Bytes ifo = readFile(d / "VIDEO_TS/VTS_01_0.IFO"), original = readFile(s / "VIDEO_TS/VTS_01_0.IFO");
       ASSERT_EQ(ifo.size(), original.size());
       size_t first = number(n, "first_byte"), count = number(n, "byte_count");
       EXPECT_EQ(first, be32(original, 0xCC) * kSector);
       ASSERT_LE(first + count, ifo.size());
       EXPECT_TRUE(std::equal(ifo.begin(), ifo.begin() + first, original.begin()));
       EXPECT_TRUE(std::equal(ifo.begin() + first + count, ifo.end(), original.begin() + first + count));
       size_t same = 0;
       for (size_t i = first; i < first + count; ++i) same += ifo[i] == original[i];
       EXPECT_LT(same, count / 16);
       EXPECT_EQ(readFile(d / "VIDEO_TS/VTS_01_0.BUP"), ifo);
     }},
    {"pgc-count-zero", "sample", [](auto& d, auto& s, auto&) { checkPgcCount(d, s, 0); }},
    {"pgc-count-huge", "sample", [](auto& d, auto& s, auto&) { checkPgcCount(d, s, 0xFFFF); }},
    {"cells-past-end", "sample",
     [](auto& d, auto&, auto& n) {
       Bytes ifo = readFile(d / "VIDEO_TS/VTS_01_0.IFO");
       size_t vobSectors = fs::file_size(d / "VIDEO_TS/VTS_01_1.VOB") / kSector;
       EXPECT_EQ(number(n, "vob_sectors"), vobSectors);
       size_t pgcit = be32(ifo, 0xCC) * kSector, pgc = pgcit + be32(ifo, pgcit + 12);
       size_t cells = ifo[pgc + 3], table = pgc + be16(ifo, pgc + 0xE8);
       ASSERT_EQ(cells, 3u);
       for (size_t c = 0; c < cells; ++c) {
         EXPECT_GE(be32(ifo, table + 24 * c + 8), vobSectors) << "cell " << c + 1;
         EXPECT_GE(be32(ifo, table + 24 * c + 20), vobSectors) << "cell " << c + 1;
       }
     }},
    {"chapters-overlong", "sample",
     [](auto& d, auto&, auto& n) {
       Bytes vmg = readFile(d / "VIDEO_TS/VIDEO_TS.IFO"), vts = readFile(d / "VIDEO_TS/VTS_01_0.IFO");
       size_t ttSrpt = be32(vmg, 0xC4) * kSector;
       EXPECT_EQ(be16(vmg, ttSrpt + 8 + 2), 99u);
       size_t ptt = be32(vts, 0xC8) * kSector;
       // One chapter entry inside the declared end, the other two past it.
       EXPECT_EQ(be32(vts, ptt + 4), be32(vts, ptt + 8) + 3);
       EXPECT_EQ(number(n, "damaged_ptt_end_byte"), be32(vts, ptt + 4));
       EXPECT_EQ(be16(vts, ptt + be32(vts, ptt + 8) + 4 * 2 + 2), 3u);  // chapter 3 still there
     }},
    {"scrambled", "sample",
     [](auto& d, auto& s, auto& n) {
       Bytes vob = readFile(d / "VIDEO_TS/VTS_01_1.VOB"), original = readFile(s / "VIDEO_TS/VTS_01_1.VOB");
       ASSERT_EQ(vob.size(), original.size());
       std::vector<size_t> changed = differingSectors(vob, original);
       EXPECT_EQ(changed.size(), number(n, "scrambled_sectors"));
       EXPECT_GT(changed.size(), 100u);
       for (size_t sector : changed) {
         size_t at = sector * kSector + 14 + (vob[sector * kSector + 13] & 7);
         ASSERT_EQ(vob[at + 3], 0xE0) << "sector " << sector;
         EXPECT_EQ(vob[at + 6] & 0x30, 0x10) << "sector " << sector;
         EXPECT_EQ(vob[at + 6] & 0xCF, original[at + 6] & 0xCF) << "sector " << sector;
       }
     }},
    {"structure-protection", "many",
     [](auto& d, auto&, auto& n) {
       Bytes ifo = readFile(d / "VIDEO_TS/VTS_01_0.IFO");
       EXPECT_EQ(readFile(d / "VIDEO_TS/VTS_01_0.BUP"), ifo);
       size_t pgcit = be32(ifo, 0xCC) * kSector;
       ASSERT_EQ(be16(ifo, pgcit), 40u);
       ASSERT_EQ(number(n, "titles"), 40u);
       auto cellTable = [&](size_t pgcNumber) {
         size_t pgc = pgcit + be32(ifo, pgcit + 8 + 8 * (pgcNumber - 1) + 4);
         size_t table = pgc + be16(ifo, pgc + 0xE8);
         return std::make_pair(pgc, Bytes(ifo.begin() + table, ifo.begin() + table + 24 * ifo[pgc + 3]));
       };
       Bytes first = cellTable(1).second;
       EXPECT_EQ(first.size(), 3 * 24u);
       EXPECT_EQ(cellTable(2).second, first);
       EXPECT_EQ(cellTable(40).second, first);
       auto [pgc3, cells3] = cellTable(3);
       EXPECT_NE(cells3, first);
       EXPECT_TRUE(std::equal(cells3.begin(), cells3.begin() + 24, cells3.begin() + 48));
       EXPECT_EQ(be16(ifo, pgc3 + 0x9C), 3u);
     }},
};

void PrintTo(const Fixture& f, std::ostream* os) { *os << f.kind; }

class DamagedDisc : public ::testing::TestWithParam<Fixture> {};

TEST_P(DamagedDisc, HoldsTheRecordedDamage) {
  const Fixture& f = GetParam();
  fs::path damaged = kDiscs / "damaged" / f.kind, source = kDiscs / f.source;
  Notes notes = readNotes(damaged);
  ASSERT_EQ(notes["kind"], f.kind) << damaged;
  EXPECT_EQ(notes["source"], f.source);
  f.check(damaged, source, notes);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedDisc, ::testing::ValuesIn(kFixtures),
                         [](const auto& info) {
                           std::string n = info.param.kind;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
