// disc-damage KIND SOURCE OUTDIR
//
// Makes a damaged copy of an authored test disc: SOURCE is a disc folder made by
// tools/make-test-disc (VIDEO_TS, AUDIO_TS, disc.iso), OUTDIR receives the copy with one kind
// of damage and a DAMAGE file of "key=value" lines saying exactly what was changed, so that
// tests can assert on it. Folder fixtures hold VIDEO_TS and AUDIO_TS only (the source's ISO
// would be undamaged); the cut-iso fixture holds disc.iso only. IFO damage is written to the
// .IFO and its .BUP alike, since a reader falls back on the backup copy.
//
// Kinds (title 1 is the first title of the disc's title table; its sectors are the cells of
// its program chain):
//   zeroed-sectors     50 sectors of zeros from the middle of title 1 in its VOB
//   garbage-sectors    50 sectors of pseudo-random bytes from the middle of title 1
//   cut-iso            disc.iso cut to half its sectors
//   ifo-garbage        pseudo-random bytes over the whole program chain table of title 1's VTS
//   pgc-count-zero     that table declares 0 program chains
//   pgc-count-huge     that table declares 65535 program chains
//   cells-past-end     every cell of title 1's program chain moved past the end of its VOBs
//   chapters-overlong  title 1's chapter table runs past its declared length: the VTS chapter
//                      table's end byte is cut so that only title 1's first entry lies inside,
//                      and the disc's title table claims 99 chapters for title 1
//   structure-protection  (for a disc of many titles of several cells) titles 2, 4, 6, ...
//                      play the cells of title 1; titles 3, 5, 7, ... end on a cell that loops
//                      back to their own first cell and name themselves as the next program
//                      chain
//   scrambled          the PES scrambling bits (01) set in every video PES header within title
//                      1's sectors, as an encrypted disc reads without a descrambler
//
// DVD-Video IFO layout used (all numbers big-endian):
//   VMG IFO  0xC4 TT_SRPT sector; TT_SRPT: u16 count, u16, u32 end byte, 12-byte entries
//            (+2 u16 chapter count, +6 u8 VTS number, +7 u8 title number within the VTS)
//   VTS IFO  0xC8 VTS_PTT_SRPT sector, 0xCC VTS_PGCIT sector
//            PTT_SRPT: u16 count, u16, u32 end byte, u32 offsets, then u16 pgcn, u16 pgn pairs
//            PGCIT: u16 count, u16, u32 end byte, 8-byte entries (+4 u32 PGC offset)
//            PGC: +3 u8 cell count, +0x9C u16 next PGC, +0xE8 u16 cell playback table offset
//            cell playback entries of 24 bytes: +8 u32 first sector, +16 u32 last VOBU start,
//            +20 u32 last sector (sectors relative to the first VOB of the title set)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSector = 2048;
constexpr std::uint32_t kDamagedSectors = 50;

struct Failure {
  std::string what;
};

[[noreturn]] void fail(const std::string& what) { throw Failure{what}; }

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) fail("cannot write " + path.string());
}

// Bounds-checked big-endian access to an IFO image.
class Ifo {
 public:
  Ifo(fs::path path) : m_path(std::move(path)), m_bytes(readFile(m_path)) {}

  std::uint32_t u8(std::size_t at) const { return byteAt(at); }
  std::uint32_t u16(std::size_t at) const { return byteAt(at) << 8 | byteAt(at + 1); }
  std::uint32_t u32(std::size_t at) const { return u16(at) << 16 | u16(at + 2); }
  void put8(std::size_t at, std::uint32_t v) { check(at, 1); m_bytes[at] = static_cast<std::uint8_t>(v); }
  void put16(std::size_t at, std::uint32_t v) { put8(at, v >> 8); put8(at + 1, v); }
  void put32(std::size_t at, std::uint32_t v) { put16(at, v >> 16); put16(at + 2, v); }
  void copy(std::size_t to, std::size_t from, std::size_t n) {
    check(to, n);
    check(from, n);
    std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(from), n,
                m_bytes.begin() + static_cast<std::ptrdiff_t>(to));
  }
  std::size_t size() const { return m_bytes.size(); }
  Bytes& bytes() { return m_bytes; }

  // Writes the IFO and its backup copy.
  void save() const {
    writeFile(m_path, m_bytes);
    fs::path bup = m_path;
    bup.replace_extension(".BUP");
    writeFile(bup, m_bytes);
  }

 private:
  void check(std::size_t at, std::size_t n) const {
    if (at > m_bytes.size() || n > m_bytes.size() - at)
      fail(m_path.filename().string() + ": offset " + std::to_string(at) + " is past the end");
  }
  std::uint32_t byteAt(std::size_t at) const { check(at, 1); return m_bytes[at]; }

  fs::path m_path;
  Bytes m_bytes;
};

// splitmix64: deterministic garbage, the same on every build.
class Garbage {
 public:
  std::uint8_t next() {
    if (m_left == 0) {
      std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      m_word = z ^ (z >> 31);
      m_left = 8;
    }
    --m_left;
    auto b = static_cast<std::uint8_t>(m_word);
    m_word >>= 8;
    return b;
  }

 private:
  std::uint64_t m_state = 0x5A445244414D4147ull;
  std::uint64_t m_word = 0;
  int m_left = 0;
};

std::string vtsFile(unsigned vts, unsigned part, const char* ext) {
  char vtsName[24];
  std::snprintf(vtsName, sizeof vtsName, "VTS_%02u_%u.%s", vts, part, ext);
  return vtsName;
}

struct Cell {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};

// Where title 1 lives: its title set, the offset of its program chain in the VTS IFO, cells.
struct TitleOne {
  unsigned vts = 0;
  std::size_t pgc = 0;
  std::vector<Cell> cells;
};

std::size_t pgcOffset(const Ifo& vtsIfo, unsigned pgcNumber) {
  std::size_t pgcit = std::size_t{vtsIfo.u32(0xCC)} * kSector;
  unsigned count = vtsIfo.u16(pgcit);
  if (pgcNumber < 1 || pgcNumber > count) fail("no program chain " + std::to_string(pgcNumber));
  return pgcit + vtsIfo.u32(pgcit + 8 + 8 * (pgcNumber - 1) + 4);
}

std::vector<Cell> cellsOf(const Ifo& vtsIfo, std::size_t pgc) {
  unsigned n = vtsIfo.u8(pgc + 3);
  std::size_t table = pgc + vtsIfo.u16(pgc + 0xE8);
  std::vector<Cell> cells;
  for (unsigned i = 0; i < n; ++i)
    cells.push_back({vtsIfo.u32(table + 24 * i + 8), vtsIfo.u32(table + 24 * i + 20)});
  if (cells.empty()) fail("title 1 has no cells");
  return cells;
}

TitleOne findTitleOne(const fs::path& videoTs) {
  Ifo vmg(videoTs / "VIDEO_TS.IFO");
  std::size_t ttSrpt = std::size_t{vmg.u32(0xC4)} * kSector;
  if (vmg.u16(ttSrpt) == 0) fail("the disc has no titles");
  TitleOne t;
  t.vts = vmg.u8(ttSrpt + 8 + 6);
  unsigned ttn = vmg.u8(ttSrpt + 8 + 7);
  Ifo vtsIfo(videoTs / vtsFile(t.vts, 0, "IFO"));
  // The chapter table names the program chain of the title's first chapter.
  std::size_t ptt = std::size_t{vtsIfo.u32(0xC8)} * kSector;
  if (ttn < 1 || ttn > vtsIfo.u16(ptt)) fail("title 1 is missing from its VTS chapter table");
  unsigned pgcNumber = vtsIfo.u16(ptt + vtsIfo.u32(ptt + 8 + 4 * (ttn - 1)));
  t.pgc = pgcOffset(vtsIfo, pgcNumber);
  t.cells = cellsOf(vtsIfo, t.pgc);
  return t;
}

// The title set's VOB parts in order with their sizes in sectors.
std::vector<std::pair<fs::path, std::uint64_t>> vobParts(const fs::path& videoTs, unsigned vts) {
  std::vector<std::pair<fs::path, std::uint64_t>> parts;
  for (unsigned part = 1; part <= 9; ++part) {
    fs::path p = videoTs / vtsFile(vts, part, "VOB");
    if (!fs::exists(p)) break;
    parts.emplace_back(p, fs::file_size(p) / kSector);
  }
  if (parts.empty()) fail("title set " + std::to_string(vts) + " has no VOB");
  return parts;
}

// Applies edit(sector bytes, sector number) to sectors [first, first + count) of the title
// set's VOBs, seen as one run of sectors.
template <class Edit>
void editSectors(const fs::path& videoTs, unsigned vts, std::uint64_t first, std::uint64_t count,
                 Edit edit) {
  std::uint64_t base = 0;
  for (auto& [path, sectors] : vobParts(videoTs, vts)) {
    std::uint64_t lo = std::max(first, base), hi = std::min(first + count, base + sectors);
    if (lo < hi) {
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      Bytes sector(kSector);
      for (std::uint64_t s = lo; s < hi; ++s) {
        auto at = static_cast<std::streamoff>((s - base) * kSector);
        f.seekg(at);
        f.read(reinterpret_cast<char*>(sector.data()), kSector);
        if (edit(sector, s)) {
          f.seekp(at);
          f.write(reinterpret_cast<const char*>(sector.data()), kSector);
        }
      }
      if (!f) fail("cannot rewrite " + path.string());
    }
    base += sectors;
  }
}

using Notes = std::vector<std::pair<std::string, std::string>>;

void copyFolders(const fs::path& source, const fs::path& out) {
  for (const char* dir : {"VIDEO_TS", "AUDIO_TS"})
    if (fs::exists(source / dir))
      fs::copy(source / dir, out / dir, fs::copy_options::recursive);
}

void damageSectors(const fs::path& videoTs, bool zeros, Notes& notes) {
  TitleOne t = findTitleOne(videoTs);
  std::uint64_t lo = t.cells.front().first, hi = t.cells.back().last;
  if (hi < lo || hi - lo + 1 < 3 * kDamagedSectors) fail("title 1 is too short to damage");
  std::uint64_t first = lo + (hi - lo + 1) / 2 - kDamagedSectors / 2;
  Garbage garbage;
  editSectors(videoTs, t.vts, first, kDamagedSectors, [&](Bytes& sector, std::uint64_t) {
    for (auto& b : sector) b = zeros ? 0 : garbage.next();
    return true;
  });
  notes.push_back({"vts", std::to_string(t.vts)});
  notes.push_back({"title_first_sector", std::to_string(lo)});
  notes.push_back({"title_last_sector", std::to_string(hi)});
  notes.push_back({"first_sector", std::to_string(first)});
  notes.push_back({"sector_count", std::to_string(kDamagedSectors)});
}

void damagePgcTable(const fs::path& videoTs, const std::string& kind, Notes& notes) {
  TitleOne t = findTitleOne(videoTs);
  Ifo ifo(videoTs / vtsFile(t.vts, 0, "IFO"));
  std::size_t pgcit = std::size_t{ifo.u32(0xCC)} * kSector;
  notes.push_back({"file", "VIDEO_TS/" + vtsFile(t.vts, 0, "IFO") + " and .BUP"});
  if (kind == "ifo-garbage") {
    std::size_t end = pgcit + ifo.u32(pgcit + 4) + 1;
    if (end > ifo.size() || end <= pgcit) fail("the program chain table's end is out of range");
    Garbage garbage;
    for (std::size_t i = pgcit; i < end; ++i) ifo.put8(i, garbage.next());
    notes.push_back({"first_byte", std::to_string(pgcit)});
    notes.push_back({"byte_count", std::to_string(end - pgcit)});
  } else {
    std::uint32_t count = kind == "pgc-count-zero" ? 0 : 0xFFFF;
    notes.push_back({"declared_pgcs", std::to_string(ifo.u16(pgcit))});
    ifo.put16(pgcit, count);
    notes.push_back({"damaged_pgcs", std::to_string(count)});
  }
  ifo.save();
}

void moveCellsPastEnd(const fs::path& videoTs, Notes& notes) {
  TitleOne t = findTitleOne(videoTs);
  std::uint64_t total = 0;
  for (auto& part : vobParts(videoTs, t.vts)) total += part.second;
  Ifo ifo(videoTs / vtsFile(t.vts, 0, "IFO"));
  std::size_t table = t.pgc + ifo.u16(t.pgc + 0xE8);
  auto shift = static_cast<std::uint32_t>(total);
  for (std::size_t i = 0; i < t.cells.size(); ++i)
    for (std::size_t field : {8, 12, 16, 20}) {
      std::size_t at = table + 24 * i + field;
      if (field != 12 || ifo.u32(at) != 0) ifo.put32(at, ifo.u32(at) + shift);
    }
  ifo.save();
  notes.push_back({"vts", std::to_string(t.vts)});
  notes.push_back({"vob_sectors", std::to_string(total)});
  notes.push_back({"shift", std::to_string(shift)});
  notes.push_back({"first_cell_first_sector", std::to_string(t.cells.front().first + shift)});
}

void overlongChapters(const fs::path& videoTs, Notes& notes) {
  Ifo vmg(videoTs / "VIDEO_TS.IFO");
  std::size_t ttSrpt = std::size_t{vmg.u32(0xC4)} * kSector;
  unsigned vts = vmg.u8(ttSrpt + 8 + 6), ttn = vmg.u8(ttSrpt + 8 + 7);
  notes.push_back({"declared_chapters", std::to_string(vmg.u16(ttSrpt + 8 + 2))});
  vmg.put16(ttSrpt + 8 + 2, 99);
  vmg.save();

  Ifo ifo(videoTs / vtsFile(vts, 0, "IFO"));
  std::size_t ptt = std::size_t{ifo.u32(0xC8)} * kSector;
  if (ttn < 1 || ttn > ifo.u16(ptt)) fail("title 1 is missing from its VTS chapter table");
  std::uint32_t start = ifo.u32(ptt + 8 + 4 * (ttn - 1));
  notes.push_back({"ptt_end_byte", std::to_string(ifo.u32(ptt + 4))});
  ifo.put32(ptt + 4, start + 3);  // the end byte is inclusive: one 4-byte entry remains
  ifo.save();
  notes.push_back({"damaged_ptt_end_byte", std::to_string(start + 3)});
  notes.push_back({"damaged_chapters", "99"});
}

void protectStructure(const fs::path& videoTs, Notes& notes) {
  Ifo vmg(videoTs / "VIDEO_TS.IFO");
  std::size_t ttSrpt = std::size_t{vmg.u32(0xC4)} * kSector;
  unsigned titles = vmg.u16(ttSrpt);
  if (titles < 6) fail("structure-protection needs a disc of many titles");
  // Each title's VTS IFO, loaded once; titles refer to their program chain through the
  // VTS chapter table.
  std::map<unsigned, Ifo> ifos;
  auto pgcOfTitle = [&](unsigned title, unsigned& vtsOut) {
    std::size_t e = ttSrpt + 8 + 12 * (title - 1);
    unsigned vts = vmg.u8(e + 6), ttn = vmg.u8(e + 7);
    auto it = ifos.find(vts);
    if (it == ifos.end()) it = ifos.emplace(vts, Ifo(videoTs / vtsFile(vts, 0, "IFO"))).first;
    Ifo& ifo = it->second;
    std::size_t ptt = std::size_t{ifo.u32(0xC8)} * kSector;
    if (ttn < 1 || ttn > ifo.u16(ptt)) fail("title missing from its VTS chapter table");
    unsigned pgcNumber = ifo.u16(ptt + ifo.u32(ptt + 8 + 4 * (ttn - 1)));
    vtsOut = vts;
    return std::pair<std::size_t, unsigned>{pgcOffset(ifo, pgcNumber), pgcNumber};
  };
  unsigned vts1 = 0;
  auto [pgc1, pgcNumber1] = pgcOfTitle(1, vts1);
  (void)pgcNumber1;
  std::string shared, looped;
  for (unsigned title = 2; title <= titles; ++title) {
    unsigned vts = 0;
    auto [pgc, pgcNumber] = pgcOfTitle(title, vts);
    Ifo& ifo = ifos.at(vts);
    std::size_t table = pgc + ifo.u16(pgc + 0xE8);
    unsigned cells = ifo.u8(pgc + 3);
    if (cells < 2) fail("structure-protection needs titles of several cells");
    if (title % 2 == 0) {
      if (vts != vts1) continue;  // cells are addressed within one title set
      Ifo& ifo1 = ifos.at(vts1);
      std::size_t table1 = pgc1 + ifo1.u16(pgc1 + 0xE8);
      unsigned cells1 = ifo1.u8(pgc1 + 3);
      for (unsigned c = 0; c < cells; ++c) ifo.copy(table + 24 * c, table1 + 24 * (c % cells1), 24);
      shared += (shared.empty() ? "" : ",") + std::to_string(title);
    } else {
      ifo.copy(table + 24 * (cells - 1), table, 24);
      ifo.put16(pgc + 0x9C, pgcNumber);
      looped += (looped.empty() ? "" : ",") + std::to_string(title);
    }
  }
  for (auto& [vts, ifo] : ifos) ifo.save();
  notes.push_back({"titles", std::to_string(titles)});
  notes.push_back({"titles_playing_title_1_cells", shared});
  notes.push_back({"titles_looping_back", looped});
}

// Sets PES_scrambling_control to 01 in the video PES headers (ISO/IEC 13818-1 2.4.3.7) of
// every pack in title 1's sectors.
void scramble(const fs::path& videoTs, Notes& notes) {
  TitleOne t = findTitleOne(videoTs);
  std::uint64_t changed = 0;
  for (const Cell& c : t.cells) {
    if (c.last < c.first) continue;
    editSectors(videoTs, t.vts, c.first, std::uint64_t{c.last} - c.first + 1,
                [&](Bytes& s, std::uint64_t) {
      if (s[0] != 0 || s[1] != 0 || s[2] != 1 || s[3] != 0xBA || (s[4] & 0xC0) != 0x40)
        return false;
      std::size_t at = 14 + (s[13] & 7);
      bool edited = false;
      while (at + 9 <= kSector && s[at] == 0 && s[at + 1] == 0 && s[at + 2] == 1) {
        unsigned id = s[at + 3];
        std::size_t length = std::size_t{s[at + 4]} << 8 | s[at + 5];
        if (id == 0xE0 && (s[at + 6] & 0xC0) == 0x80) {
          s[at + 6] = static_cast<std::uint8_t>((s[at + 6] & ~0x30) | 0x10);
          edited = true;
        }
        at += 6 + length;
      }
      changed += edited;
      return edited;
    });
  }
  notes.push_back({"vts", std::to_string(t.vts)});
  notes.push_back({"title_first_sector", std::to_string(t.cells.front().first)});
  notes.push_back({"title_last_sector", std::to_string(t.cells.back().last)});
  notes.push_back({"scrambled_sectors", std::to_string(changed)});
  if (changed == 0) fail("no video PES header found in title 1");
}

void cutIso(const fs::path& source, const fs::path& out, Notes& notes) {
  Bytes iso = readFile(source / "disc.iso");
  std::size_t keep = iso.size() / kSector / 2 * kSector;
  notes.push_back({"iso_bytes", std::to_string(iso.size())});
  iso.resize(keep);
  writeFile(out / "disc.iso", iso);
  notes.push_back({"kept_bytes", std::to_string(keep)});
}

void run(const std::string& kind, const fs::path& source, const fs::path& out) {
  Notes notes{{"kind", kind}};
  if (kind == "cut-iso") {
    cutIso(source, out, notes);
  } else {
    copyFolders(source, out);
    fs::path videoTs = out / "VIDEO_TS";
    if (kind == "zeroed-sectors" || kind == "garbage-sectors")
      damageSectors(videoTs, kind == "zeroed-sectors", notes);
    else if (kind == "ifo-garbage" || kind == "pgc-count-zero" || kind == "pgc-count-huge")
      damagePgcTable(videoTs, kind, notes);
    else if (kind == "cells-past-end")
      moveCellsPastEnd(videoTs, notes);
    else if (kind == "chapters-overlong")
      overlongChapters(videoTs, notes);
    else if (kind == "structure-protection")
      protectStructure(videoTs, notes);
    else if (kind == "scrambled")
      scramble(videoTs, notes);
    else
      fail("unknown kind of damage '" + kind + "'");
  }
  std::ostringstream text;
  text << "source=" << source.filename().string() << '\n';
  for (auto& [key, value] : notes) text << key << '=' << value << '\n';
  std::string s = text.str();
  writeFile(out / "DAMAGE", Bytes(s.begin(), s.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: disc-damage KIND SOURCE OUTDIR\n");
    return 2;
  }
  fs::path source = argv[2], out = argv[3];
  fs::path work = out;
  work += ".tmp";
  std::error_code ec;
  try {
    fs::remove_all(work);
    fs::create_directories(work);
    run(argv[1], source, work);
    fs::remove_all(out);
    fs::rename(work, out);
  } catch (const Failure& f) {
    fs::remove_all(work, ec);
    std::fprintf(stderr, "disc-damage: %s: %s\n", argv[1], f.what.c_str());
    return 1;
  } catch (const fs::filesystem_error& e) {
    fs::remove_all(work, ec);
    std::fprintf(stderr, "disc-damage: %s: %s\n", argv[1], e.what());
    return 1;
  }
  return 0;
}
