// MPEG audio, AAC (ADTS), AC-3, DTS, DVD and HDMV LPCM and PS2 audio headers.
#include <algorithm>
#include <cstring>

#include "demux/BaseSplitterFileEx.h"

namespace {

void SetWaveFormat(CMediaType* pmt, const void* wfx, size_t size, const Guid& subtype)
{
    *pmt = CMediaType(MEDIATYPE_Audio, subtype, FORMAT_WaveFormatEx);
    pmt->SetFormat(wfx, size);
}

// ISO/IEC 11172-3 table 3-B.2 / ISO/IEC 13818-3 table B.1, kbit/s by [index][column]:
// MPEG-1 layers 1, 2, 3, then MPEG-2/2.5 layer 1 and layers 2/3.
constexpr int kMpegAudioBitrate[16][5] = {
    {0, 0, 0, 0, 0},           {32, 32, 32, 32, 8},       {64, 48, 40, 48, 16},      {96, 56, 48, 56, 24},
    {128, 64, 56, 64, 32},     {160, 80, 64, 80, 40},     {192, 96, 80, 96, 48},     {224, 112, 96, 112, 56},
    {256, 128, 112, 128, 64},  {288, 160, 128, 144, 80},  {320, 192, 160, 160, 96},  {352, 224, 192, 176, 112},
    {384, 256, 224, 192, 128}, {416, 320, 256, 224, 144}, {448, 384, 320, 256, 160}, {0, 0, 0, 0, 0},
};
// Sample rates by [frequency index][version]: version 0 is MPEG 2.5, 2 MPEG-2, 3 MPEG-1.
constexpr int kMpegAudioRate[3][4] = {{11025, 0, 22050, 44100}, {12000, 0, 24000, 48000}, {8000, 0, 16000, 32000}};

constexpr int kAacRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

// ATSC A/52 table 5.18, kbit/s by frmsizecod >> 1.
constexpr int kAc3Kbps[24] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160, 192,  224,
                              256, 320, 384, 448, 512, 576, 640, 768, 896, 1024, 1152, 1280};
constexpr int kAc3Channels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
constexpr int kAc3Rates[3] = {48000, 44100, 32000};

constexpr int kDtsChannels[16] = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};
constexpr int kDtsRates[16] = {0, 8000, 16000, 32000, 0, 0, 11025, 22050, 44100, 0, 0, 12000, 24000, 48000, 0, 0};
constexpr int kDtsBitrates[32] = {32000,   56000,   64000,   96000,   112000,  128000,  192000,  224000,
                                  256000,  320000,  384000,  448000,  512000,  576000,  640000,  754500,
                                  960000,  1024000, 1152000, 1280000, 1344000, 1408000, 1411200, 1472000,
                                  1509750, 1920000, 2048000, 3072000, 3840000, 0,       0,       0};

constexpr int kHdmvChannels[12] = {0, 1, 0, 2, 3, 3, 4, 4, 5, 6, 7, 8};

int AacRateIndex(int rate)
{
    constexpr int kThresholds[11] = {92017, 75132, 55426, 46009, 37566, 27713, 23004, 18783, 13856, 11502, 9391};
    for (int i = 0; i < 11; ++i)
        if (rate >= kThresholds[i])
            return i;
    return 11;
}

}  // namespace

int MakeAacConfig(uint8_t* out, int profile, int sampleRate, int channels)
{
    const int p = profile < 0 ? -profile : profile;
    int index = AacRateIndex(sampleRate);
    out[0] = uint8_t(((p + 1) << 3) | (index >> 1));
    out[1] = uint8_t(((index & 1) << 7) | ((channels & 0x0F) << 3));
    if (profile >= 0)
        return 2;
    index = AacRateIndex(sampleRate * 2);
    out[2] = 0x56;
    out[3] = 0xE5;
    out[4] = uint8_t(0x80 | (index << 3));
    return 5;
}

bool CBaseSplitterFileEx::ReadMpegAudio(MpegAudioHeader& h, int64_t len, bool allowVersion25, CMediaType* pmt)
{
    len = std::min(len, Remaining());  // a header cut by the end of the data is refused
    const int syncBits = allowVersion25 ? 11 : 12;
    const uint64_t syncMask = (uint64_t(1) << syncBits) - 1;
    while (len >= 4 && PeekBits(syncBits) != syncMask) {
        ReadBits(8);
        --len;
    }
    if (len < 4)
        return false;

    h.sync = uint32_t(ReadBits(11));
    h.version = uint32_t(ReadBits(2));
    h.layer = uint32_t(ReadBits(2));
    h.crcAbsent = uint32_t(ReadBits(1));
    h.bitrateIndex = uint32_t(ReadBits(4));
    h.frequencyIndex = uint32_t(ReadBits(2));
    h.padding = uint32_t(ReadBits(1));
    h.privateBit = uint32_t(ReadBits(1));
    h.channelMode = uint32_t(ReadBits(2));
    h.modeExtension = uint32_t(ReadBits(2));
    h.copyright = uint32_t(ReadBits(1));
    h.original = uint32_t(ReadBits(1));
    h.emphasis = uint32_t(ReadBits(2));

    if (h.version == 1 || h.layer == 0 || h.frequencyIndex == 3 || h.bitrateIndex == 15 || h.emphasis == 2)
        return false;
    // ISO/IEC 11172-3 2.4.2.3: bit rates a Layer II stream may not use in its channel mode.
    if (h.version == 3 && h.layer == 2) {
        const uint32_t i = h.bitrateIndex;
        if ((i == 1 || i == 2 || i == 3 || i == 5) && h.channelMode != 3)
            return false;
        if (i >= 11 && i <= 14 && h.channelMode == 3)
            return false;
    }

    h.layer = 4 - h.layer;
    const int column = (h.version & 1) ? int(h.layer) - 1 : (h.layer == 1 ? 3 : 4);
    const int kbps = kMpegAudioBitrate[h.bitrateIndex][column];
    if (kbps == 0)
        return false;
    h.bitrate = kbps * 1000;
    h.sampleRate = kMpegAudioRate[h.frequencyIndex][h.version];

    const bool l3ext = h.layer == 3 && !(h.version & 1);
    if (h.layer == 1)
        h.frameSize = (12 * h.bitrate / h.sampleRate + int32_t(h.padding)) * 4;
    else
        h.frameSize = (l3ext ? 72 : 144) * h.bitrate / h.sampleRate + int32_t(h.padding);
    h.frameDuration = int64_t(10000000) * (h.layer == 1 ? 384 : l3ext ? 576 : 1152) / h.sampleRate;
    h.bytesPerSecond = h.bitrate / 8;

    if (!pmt)
        return true;
    WaveFormatEx wfx;
    wfx.nChannels = h.channelMode == 3 ? 1 : 2;
    wfx.nSamplesPerSec = uint32_t(h.sampleRate);
    wfx.nBlockAlign = uint16_t(h.frameSize);
    wfx.nAvgBytesPerSec = uint32_t(h.bytesPerSecond);
    if (h.layer == 3) {
        wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
        wfx.cbSize = 0;
        SetWaveFormat(pmt, &wfx, sizeof wfx, GuidFromFourCC(WAVE_FORMAT_MPEGLAYER3));
    } else {
        Mpeg1WaveFormat mwf;
        wfx.wFormatTag = WAVE_FORMAT_MPEG;
        wfx.cbSize = sizeof(Mpeg1WaveFormat) - sizeof(WaveFormatEx);
        mwf.wfx = wfx;
        mwf.fwHeadLayer = uint16_t(1 << (h.layer - 1));
        mwf.dwHeadBitrate = uint32_t(h.bitrate);
        mwf.fwHeadMode = uint16_t(1 << h.channelMode);
        mwf.fwHeadModeExt = uint16_t(1 << h.modeExtension);
        mwf.wHeadEmphasis = uint16_t(h.emphasis + 1);
        mwf.fwHeadFlags = uint16_t((h.privateBit ? 1 : 0) | (h.copyright ? 2 : 0) | (h.original ? 4 : 0) |
                                   (h.crcAbsent == 0 ? 8 : 0) | (h.version == 3 ? 16 : 0));
        SetWaveFormat(pmt, &mwf, sizeof mwf, GuidFromFourCC(WAVE_FORMAT_MPEG));
    }
    return true;
}

bool CBaseSplitterFileEx::ReadAac(AacHeader& h, int64_t len, CMediaType* pmt)
{
    len = std::min(len, Remaining());  // a header cut by the end of the data is refused
    while (len >= 7 && PeekBits(12) != 0xFFF) {
        ReadBits(8);
        --len;
    }
    if (len < 7)
        return false;

    h.sync = uint32_t(ReadBits(12));
    h.version = uint32_t(ReadBits(1));
    h.layer = uint32_t(ReadBits(2));
    h.crcAbsent = uint32_t(ReadBits(1));
    h.profile = uint32_t(ReadBits(2));
    h.frequencyIndex = uint32_t(ReadBits(4));
    h.privateBit = uint32_t(ReadBits(1));
    h.channelConfig = uint32_t(ReadBits(3));
    h.original = uint32_t(ReadBits(1));
    h.home = uint32_t(ReadBits(1));
    h.copyrightIdBit = uint32_t(ReadBits(1));
    h.copyrightIdStart = uint32_t(ReadBits(1));
    h.frameLength = uint32_t(ReadBits(13));
    h.bufferFullness = uint32_t(ReadBits(11));
    h.rawBlocks = uint32_t(ReadBits(2));
    if (h.crcAbsent == 0)
        h.crc = uint32_t(ReadBits(16));

    const uint32_t headerSize = h.crcAbsent == 0 ? 9 : 7;
    if (h.layer != 0 || h.frequencyIndex >= 12 || h.frameLength <= headerSize)
        return false;
    const int rate = kAacRates[h.frequencyIndex];
    h.payloadLength = int32_t(h.frameLength - headerSize);
    h.bytesPerSecond = int32_t(int64_t(h.frameLength) * rate / 1024);
    h.frameDuration = int64_t(10240000000) / rate;

    if (!pmt)
        return true;
    uint8_t block[sizeof(WaveFormatEx) + 5] = {};
    WaveFormatEx wfx;
    wfx.wFormatTag = WAVE_FORMAT_AAC;
    wfx.nChannels = uint16_t(h.channelConfig < 7 ? h.channelConfig : 2);
    wfx.nSamplesPerSec = uint32_t(rate);
    wfx.nBlockAlign = uint16_t(h.frameLength);
    wfx.nAvgBytesPerSec = uint32_t(h.bytesPerSecond);
    const int extra = MakeAacConfig(block + sizeof wfx, int(h.profile), rate, wfx.nChannels);
    wfx.cbSize = uint16_t(extra);
    std::memcpy(block, &wfx, sizeof wfx);
    SetWaveFormat(pmt, block, sizeof wfx + size_t(extra), GuidFromFourCC(WAVE_FORMAT_AAC));
    return true;
}

bool CBaseSplitterFileEx::ReadAc3(Ac3Header& h, int64_t len, CMediaType* pmt)
{
    len = std::min(len, Remaining());  // a header cut by the end of the data is refused
    while (len >= 7 && PeekBits(16) != 0x0B77) {
        ReadBits(8);
        --len;
    }
    if (len < 7)
        return false;

    h.sync = uint32_t(ReadBits(16));
    if (h.sync != 0x0B77)
        return false;
    h.crc1 = uint32_t(ReadBits(16));
    h.fscod = uint32_t(ReadBits(2));
    h.frmsizecod = uint32_t(ReadBits(6));
    h.bsid = uint32_t(ReadBits(5));
    h.bsmod = uint32_t(ReadBits(3));
    h.acmod = uint32_t(ReadBits(3));
    if ((h.acmod & 1) && h.acmod != 1)
        h.cmixlev = uint32_t(ReadBits(2));
    if (h.acmod & 4)
        h.surmixlev = uint32_t(ReadBits(2));
    if (h.acmod == 2)
        h.dsurmod = uint32_t(ReadBits(2));
    h.lfeon = uint32_t(ReadBits(1));

    if (h.bsid > 16 || h.fscod == 3 || h.frmsizecod >= 48)
        return false;

    if (!pmt)
        return true;
    WaveFormatEx wfx;
    wfx.wFormatTag = WAVE_FORMAT_DOLBY_AC3;
    wfx.nChannels = uint16_t(kAc3Channels[h.acmod] + h.lfeon);
    int rate = kAc3Rates[h.fscod];
    if (h.bsid == 9)
        rate >>= 1;
    else if (h.bsid == 10)
        rate >>= 2;
    else if (h.bsid == 11)
        rate >>= 3;
    wfx.nSamplesPerSec = uint32_t(rate);
    wfx.nAvgBytesPerSec = uint32_t(kAc3Kbps[h.frmsizecod >> 1] * 1000 / 8);
    wfx.nBlockAlign = uint16_t(int64_t(wfx.nAvgBytesPerSec) * 1536 / rate);
    SetWaveFormat(pmt, &wfx, sizeof wfx, MEDIASUBTYPE_DOLBY_AC3);
    return true;
}

bool CBaseSplitterFileEx::ReadDts(DtsHeader& h, int64_t len, CMediaType* pmt)
{
    len = std::min(len, Remaining());  // a header cut by the end of the data is refused
    while (len >= 10 && PeekBits(32) != 0x7FFE8001) {
        ReadBits(8);
        --len;
    }
    if (len < 10)
        return false;

    h.sync = uint32_t(ReadBits(32));
    if (h.sync != 0x7FFE8001)
        return false;
    h.frameType = uint32_t(ReadBits(1));
    h.deficitSamples = uint32_t(ReadBits(5));
    h.crcPresent = uint32_t(ReadBits(1));
    h.blocks = uint32_t(ReadBits(7));
    h.frameBytes = uint32_t(ReadBits(14)) + 1;
    h.amode = uint32_t(ReadBits(6));
    h.sfreq = uint32_t(ReadBits(4));
    h.rate = uint32_t(ReadBits(5));
    h.downmix = uint32_t(ReadBits(1));
    h.dynRange = uint32_t(ReadBits(1));
    h.timestamp = uint32_t(ReadBits(1));
    h.auxData = uint32_t(ReadBits(1));
    h.hdcd = uint32_t(ReadBits(1));
    h.extDescription = uint32_t(ReadBits(3));
    h.extCoding = uint32_t(ReadBits(1));
    h.aspf = uint32_t(ReadBits(1));
    h.lfe = uint32_t(ReadBits(2));
    h.predictorHistory = uint32_t(ReadBits(1));

    if (!pmt)
        return true;
    WaveFormatEx wfx;
    wfx.wFormatTag = WAVE_FORMAT_DTS;
    wfx.nChannels = h.amode < 16 ? uint16_t(kDtsChannels[h.amode] + (h.lfe ? 1 : 0)) : 0;
    wfx.nSamplesPerSec = uint32_t(kDtsRates[h.sfreq]);
    wfx.nAvgBytesPerSec = uint32_t((kDtsBitrates[h.rate] + 4) / 8);
    wfx.nBlockAlign = uint16_t(h.frameBytes);
    SetWaveFormat(pmt, &wfx, sizeof wfx, MEDIASUBTYPE_DTS);
    return true;
}

bool CBaseSplitterFileEx::ReadDvdLpcm(DvdLpcmHeader& h, CMediaType* pmt)
{
    // No sync or marker here: a cut header would read as zeros, which look valid.
    if (Remaining() < 3)
        return false;
    h.emphasis = uint32_t(ReadBits(1));
    h.mute = uint32_t(ReadBits(1));
    h.reserved1 = uint32_t(ReadBits(1));
    h.frameNumber = uint32_t(ReadBits(5));
    h.quantization = uint32_t(ReadBits(2));
    h.frequency = uint32_t(ReadBits(2));
    h.reserved2 = uint32_t(ReadBits(1));
    h.channels = uint32_t(ReadBits(3));
    h.dynamicRange = uint32_t(ReadBits(8));
    if (h.quantization == 3 || h.reserved1 || h.reserved2)
        return false;

    if (!pmt)
        return true;
    constexpr int kRates[4] = {48000, 96000, 44100, 32000};
    constexpr int kBits[3] = {16, 20, 24};
    WaveFormatEx wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = uint16_t(h.channels + 1);
    wfx.nSamplesPerSec = uint32_t(kRates[h.frequency]);
    wfx.wBitsPerSample = uint16_t(kBits[h.quantization]);
    wfx.nBlockAlign = uint16_t(wfx.nChannels * 2 * wfx.wBitsPerSample / 8);
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * wfx.nSamplesPerSec / 2;
    SetWaveFormat(pmt, &wfx, sizeof wfx, MEDIASUBTYPE_DVD_LPCM_AUDIO);
    return true;
}

bool CBaseSplitterFileEx::ReadHdmvLpcm(HdmvLpcmHeader& h, CMediaType* pmt)
{
    if (Remaining() < 4)
        return false;
    h.size = uint32_t(ReadBits(16));
    h.channelLayout = uint32_t(ReadBits(4));
    h.sampleRateCode = uint32_t(ReadBits(4));
    h.bitsCode = uint32_t(ReadBits(2));
    // Layouts 12-15 have no channel count: refused like 0 and 2.
    if (h.channelLayout == 0 || h.channelLayout == 2 || h.channelLayout >= 12)
        return false;
    if (h.sampleRateCode != 1 && h.sampleRateCode != 4 && h.sampleRateCode != 5)
        return false;

    if (!pmt)
        return true;
    constexpr int kBits[4] = {0, 16, 20, 24};
    WaveFormatEx wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = uint16_t(kHdmvChannels[h.channelLayout]);
    wfx.nSamplesPerSec = h.sampleRateCode == 1 ? 48000 : h.sampleRateCode == 4 ? 96000 : 192000;
    wfx.wBitsPerSample = uint16_t(kBits[h.bitsCode]);
    wfx.nBlockAlign = uint16_t(wfx.nChannels * wfx.wBitsPerSample / 8);
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * wfx.nSamplesPerSec;
    wfx.cbSize = 1;
    uint8_t block[sizeof(WaveFormatEx) + 1];
    std::memcpy(block, &wfx, sizeof wfx);
    block[sizeof wfx] = uint8_t(h.channelLayout);
    SetWaveFormat(pmt, block, sizeof block, MEDIASUBTYPE_HDMV_LPCM_AUDIO);
    return true;
}

bool CBaseSplitterFileEx::ReadPs2Audio(Ps2AudioHeader& h, CMediaType* pmt)
{
    if (PeekBits(16) != 0x5353)
        return false;
    auto le32 = [this]() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(ReadBits(8)) << (8 * i);
        return v;
    };
    bool haveHeader = false;
    int64_t lastChunk = Position();
    while (PeekBits(16) == 0x5353) {
        lastChunk = Position();
        const uint64_t tag = PeekBits(32);
        if (tag == 0x53536864) {  // "SShd"
            ReadBits(32);
            const uint32_t size = le32();
            const int64_t body = Position();
            h.soundType = le32();
            h.sampleRate = le32();
            h.channels = le32();
            h.interleave = le32();
            haveHeader = true;
            Seek(body + size);
            if (Position() != body + int64_t(size))
                break;
        } else if (tag == 0x53536264) {  // "SSbd"
            ReadBits(32);
            le32();
            break;
        } else {
            break;
        }
    }
    Seek(lastChunk);
    if (!haveHeader || h.channels == 0 || h.channels > 8 || h.sampleRate == 0)
        return false;

    if (!pmt)
        return true;
    const uint16_t tag = h.soundType == 1 ? WAVE_FORMAT_PS2_PCM : h.soundType == 16 ? WAVE_FORMAT_PS2_ADPCM : 0;
    WaveFormatEx wfx;
    wfx.wFormatTag = tag;
    wfx.nChannels = uint16_t(h.channels);
    wfx.nSamplesPerSec = h.sampleRate;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = uint16_t(wfx.nChannels * 16 / 8);
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * wfx.nSamplesPerSec;
    // The interleave follows at byte 20 (the 18-byte format padded to 4 bytes).
    uint8_t block[24] = {};
    wfx.cbSize = sizeof block - sizeof wfx;
    std::memcpy(block, &wfx, sizeof wfx);
    std::memcpy(block + 20, &h.interleave, 4);
    SetWaveFormat(pmt, block, sizeof block, GuidFromFourCC(tag));
    return true;
}
