// The disc information record filled by MyDVDGetInfo. Its byte layout is a contract with
// every caller (title list, DVD title stream, splitter), so each offset is checked below.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kDvdMaxTitles = 32;
constexpr int kDvdMaxChapters = 64;
constexpr int kDvdMaxStreams = 32;

// Audio coding codes of DvdTitleInfo::audioCoding.
enum DvdAudioCoding : int32_t {
    kDvdAudioAc3 = 0,
    kDvdAudioMpeg1 = 2,
    kDvdAudioMpeg2 = 3,
    kDvdAudioLpcm = 4,
    kDvdAudioDts = 5,
};

// Channel codes of DvdTitleInfo::audioChannels: the number of channels minus one as the
// disc's audio attributes store it (1 = stereo, 5 = 5.1).

#pragma pack(push, 4)
struct DvdTitleInfo {
    int32_t chapterCount;                   // only the first chapterCount chapterSectors count
    int32_t reserved0;
    double durationMs;                      // play time of the whole title
    // Reserved area; the layer keeps extras here that the record's readers never need:
    // the title's subpicture palette (16 entries 0x00YYCrCb) and its first-cell sector.
    uint32_t palette[16];                   // offset 16
    uint32_t paletteValid;                  // offset 80
    uint32_t firstCellSector;               // offset 84: in the title set's VOB addresses
    uint32_t reserved1[46];                 // offset 88 .. 271
    uint32_t chapterSectors[kDvdMaxChapters];   // 272: length of chapter i in 2048-byte sectors
    int32_t audioCount;                     // 528
    uint32_t audioStreamId[kDvdMaxStreams]; // 532: (PES id << 8) | sub-stream id
    uint32_t audioLanguage[kDvdMaxStreams]; // 660: two ISO 639 letters, first in bits 8-15
    int32_t audioCoding[kDvdMaxStreams];    // 788: DvdAudioCoding
    int32_t audioChannels[kDvdMaxStreams];  // 916: channel code
    int32_t subtitleCount;                  // 1044
    uint32_t subtitleStreamId[kDvdMaxStreams];  // 1048: 0xBD20 + n
    uint32_t subtitleLanguage[kDvdMaxStreams];  // 1176
};

struct DvdDiscInfo {
    int32_t titleCount;                     // valid entries of titles, at most 32
    int32_t reserved;
    DvdTitleInfo titles[kDvdMaxTitles];
};
#pragma pack(pop)

static_assert(sizeof(DvdTitleInfo) == 1304);
static_assert(sizeof(DvdDiscInfo) == 41736);
static_assert(offsetof(DvdTitleInfo, chapterCount) == 0);
static_assert(offsetof(DvdTitleInfo, durationMs) == 8);
static_assert(offsetof(DvdTitleInfo, palette) == 16);
static_assert(offsetof(DvdTitleInfo, paletteValid) == 80);
static_assert(offsetof(DvdTitleInfo, firstCellSector) == 84);
static_assert(offsetof(DvdTitleInfo, chapterSectors) == 272);
static_assert(offsetof(DvdTitleInfo, audioCount) == 528);
static_assert(offsetof(DvdTitleInfo, audioStreamId) == 532);
static_assert(offsetof(DvdTitleInfo, audioLanguage) == 660);
static_assert(offsetof(DvdTitleInfo, audioCoding) == 788);
static_assert(offsetof(DvdTitleInfo, audioChannels) == 916);
static_assert(offsetof(DvdTitleInfo, subtitleCount) == 1044);
static_assert(offsetof(DvdTitleInfo, subtitleStreamId) == 1048);
static_assert(offsetof(DvdTitleInfo, subtitleLanguage) == 1176);
static_assert(offsetof(DvdDiscInfo, titleCount) == 0);
static_assert(offsetof(DvdDiscInfo, titles) == 8);

// Length of a title in bytes: 2048 times the sum of its first chapterCount chapter sizes.
inline int64_t DvdTitleLengthBytes(const DvdTitleInfo& t)
{
    int64_t sectors = 0;
    const int n = t.chapterCount < 0 ? 0 : (t.chapterCount > kDvdMaxChapters ? kDvdMaxChapters : t.chapterCount);
    for (int i = 0; i < n; ++i)
        sectors += t.chapterSectors[i];
    return sectors * 2048;
}
