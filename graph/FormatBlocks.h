// Format blocks carried by media types. Their byte layout is what the filters read at fixed
// offsets (the bitmap header at byte 48 of a video info header, at byte 72 of a video info
// header 2), so every offset is checked.
#pragma once

#include <cstddef>
#include <cstdint>

using REFERENCE_TIME = int64_t;  // 100 ns units

#pragma pack(push, 1)
struct ZRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
};

struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

struct VideoInfoHeader {
    ZRect rcSource;
    ZRect rcTarget;
    uint32_t dwBitRate = 0;
    uint32_t dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    BitmapInfoHeader bmiHeader;
};

struct VideoInfoHeader2 {
    ZRect rcSource;
    ZRect rcTarget;
    uint32_t dwBitRate = 0;
    uint32_t dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    uint32_t dwInterlaceFlags = 0;
    uint32_t dwCopyProtectFlags = 0;
    uint32_t dwPictAspectRatioX = 0;
    uint32_t dwPictAspectRatioY = 0;
    uint32_t dwControlFlags = 0;
    uint32_t dwReserved2 = 0;
    BitmapInfoHeader bmiHeader;
};

// MPEG-1 video: header followed by cbSequenceHeader bytes of sequence header.
struct Mpeg1VideoInfo {
    VideoInfoHeader hdr;
    uint32_t dwStartTimeCode = 0;
    uint32_t cbSequenceHeader = 0;
    uint8_t bSequenceHeader[1] = {};
};

// MPEG-2 video (also H.264): header followed by cbSequenceHeader bytes.
struct Mpeg2VideoInfo {
    VideoInfoHeader2 hdr;
    uint32_t dwStartTimeCode = 0;
    uint32_t cbSequenceHeader = 0;
    uint32_t dwProfile = 0;
    uint32_t dwLevel = 0;
    uint32_t dwFlags = 0;
    uint32_t dwSequenceHeader[1] = {};
};

struct WaveFormatEx {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};

struct Mpeg1WaveFormat {
    WaveFormatEx wfx;
    uint16_t fwHeadLayer = 0;
    uint32_t dwHeadBitrate = 0;
    uint16_t fwHeadMode = 0;
    uint16_t fwHeadModeExt = 0;
    uint16_t wHeadEmphasis = 0;
    uint16_t fwHeadFlags = 0;
    uint32_t dwPTSLow = 0;
    uint32_t dwPTSHigh = 0;
};
#pragma pack(pop)

constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr uint16_t WAVE_FORMAT_MPEG = 0x0050;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;
constexpr uint16_t WAVE_FORMAT_AAC = 0x00FF;
constexpr uint16_t WAVE_FORMAT_DOLBY_AC3 = 0x2000;
constexpr uint16_t WAVE_FORMAT_DTS = 0x2001;
constexpr uint16_t WAVE_FORMAT_PS2_PCM = 0xF521;
constexpr uint16_t WAVE_FORMAT_PS2_ADPCM = 0xF522;

static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(offsetof(VideoInfoHeader, AvgTimePerFrame) == 40);
static_assert(offsetof(VideoInfoHeader, bmiHeader) == 48);
static_assert(sizeof(VideoInfoHeader) == 88);
static_assert(offsetof(VideoInfoHeader2, dwPictAspectRatioX) == 56);
static_assert(offsetof(VideoInfoHeader2, bmiHeader) == 72);
static_assert(sizeof(VideoInfoHeader2) == 112);
static_assert(offsetof(Mpeg1VideoInfo, bSequenceHeader) == 96);
static_assert(offsetof(Mpeg2VideoInfo, cbSequenceHeader) == 116);
static_assert(offsetof(Mpeg2VideoInfo, dwSequenceHeader) == 132);
static_assert(sizeof(WaveFormatEx) == 18);
static_assert(sizeof(Mpeg1WaveFormat) == 40);

// Bitmap image size rule: row bytes rounded up to 32 bits, times height.
inline uint32_t BitmapImageSize(int32_t width, int32_t height, uint16_t bitCount)
{
    const int64_t row = ((int64_t(width) * bitCount + 31) & ~int64_t(31)) / 8;
    const int64_t h = height < 0 ? -int64_t(height) : height;
    return uint32_t(row * h);
}
