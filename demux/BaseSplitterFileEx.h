// Header records and parsers of the multiplex layer (program, transport and PVA streams)
// and of the elementary streams carried in them, on top of the cached bit reader.
//
// Every parser reads at the current position and returns true on success; on failure the
// position is left wherever reading stopped (callers save and restore it). A media
// description is built only when the caller passes one. Reads past the end yield 0 bits,
// so marker and sync tests fail there.
// Threads: as CBaseSplitterFile, one thread at a time, no lock.
#pragma once

#include <cstdint>

#include "demux/BaseSplitterFile.h"
#include "graph/MediaType.h"

// ISO/IEC 13818-1 2.5.3.3 (MPEG-2) and ISO/IEC 11172-1 2.4.3.2 (MPEG-1) pack header.
struct PackHeader {
    int kind = 0;  // 1 MPEG-1, 2 MPEG-2
    int64_t scr = 0;
    int64_t bitrate = 0;  // bits per second
};

// ISO/IEC 13818-1 2.5.3.5.
struct SystemHeader {
    uint32_t rateBound = 0;
    uint32_t audioBound = 0;
    uint32_t fixedRate = 0, cspsFlag = 0, audioLock = 0, videoLock = 0;
    uint32_t videoBound = 0;
};

// ISO/IEC 13818-1 2.4.3.6 / ISO/IEC 11172-1 2.4.3.3.
struct PesHeader {
    uint16_t length = 0;  // payload bytes after the header; 0: not given
    int kind = 0;         // 1 MPEG-1, 2 MPEG-2
    bool hasPts = false, hasDts = false;
    int64_t pts = 0, dts = 0;  // 100 ns
    int64_t stdBufferSize = 0;
    uint32_t scrambling = 0;
    uint32_t priority = 0, alignment = 0, copyright = 0, original = 0;
    uint32_t escr = 0, esRate = 0, dsmTrickMode = 0, moreCopyright = 0, crc = 0, extension = 0;
    uint32_t headerDataLength = 0;
};

// ISO/IEC 13818-1 2.4.3.2 and 2.4.3.4.
struct TsPacketHeader {
    uint32_t sync = 0;
    uint32_t transportError = 0, payloadStart = 0, transportPriority = 0;
    uint32_t pid = 0;
    uint32_t scrambling = 0;
    uint32_t adaptationField = 0, payload = 0;
    uint32_t continuity = 0;
    uint32_t adaptationLength = 0;
    uint32_t discontinuity = 0, randomAccess = 0, esPriority = 0, pcrPresent = 0, opcrPresent = 0,
             splicingPoint = 0, privateData = 0, extension = 0;
    int64_t pcr = 0;  // 100 ns
    int32_t payloadBytes = 0;
    int64_t next = 0;  // offset of the next packet
};

// ISO/IEC 13818-1 2.4.4.
struct TsSectionHeader {
    uint32_t tableId = 0;
    uint32_t syntaxIndicator = 0, zero = 0, reserved = 0;
    uint32_t sectionLength = 0;
    uint32_t transportStreamId = 0;
    uint32_t reserved2 = 0, version = 0, currentNext = 0;
    uint32_t sectionNumber = 0, lastSectionNumber = 0;
};

struct PvaHeader {
    uint32_t sync = 0, streamId = 0, counter = 0, reserved = 0;
    uint32_t flagsReserved = 0, hasPts = 0, preBytes = 0, postBytes = 0;
    uint32_t length = 0;
    int64_t pts = 0;
};

// ISO/IEC 13818-2 6.2.2.1 and 6.2.2.3 (sequence header and sequence extension).
struct SequenceHeader {
    uint32_t width = 0, height = 0;
    uint32_t aspectCode = 0;
    int32_t frameDuration = 0;  // 27 MHz ticks while parsing, then 100 ns
    int32_t bitrate = 0;        // the code while parsing, then bits per second
    uint32_t vbvBufferSize = 0;
    uint32_t constrained = 0;
    uint32_t hasIntraMatrix = 0;
    uint8_t intraMatrix[64] = {};
    uint32_t hasNonIntraMatrix = 0;
    uint8_t nonIntraMatrix[64] = {};
    uint32_t extensionId = 0, profileEscape = 0, profile = 0, level = 0;
    uint32_t progressive = 0, chromaFormat = 0, lowDelay = 0;
    int32_t arX = 0, arY = 0;
};

// ISO/IEC 11172-3 2.4.2.3 / ISO/IEC 13818-3 2.4.2.3.
struct MpegAudioHeader {
    uint32_t sync = 0, version = 0, layer = 0, crcAbsent = 0;
    uint32_t bitrateIndex = 0, frequencyIndex = 0, padding = 0, privateBit = 0;
    uint32_t channelMode = 0, modeExtension = 0, copyright = 0, original = 0, emphasis = 0;
    int32_t bitrate = 0;  // bits per second
    int32_t sampleRate = 0, frameSize = 0, bytesPerSecond = 0;
    int64_t frameDuration = 0;
};

// ISO/IEC 13818-7 6.2 (ADTS).
struct AacHeader {
    uint32_t sync = 0, version = 0, layer = 0, crcAbsent = 0;
    uint32_t profile = 0, frequencyIndex = 0, privateBit = 0, channelConfig = 0;
    uint32_t original = 0, home = 0, copyrightIdBit = 0, copyrightIdStart = 0;
    uint32_t frameLength = 0, bufferFullness = 0, rawBlocks = 0, crc = 0;
    int32_t payloadLength = 0, bytesPerSecond = 0;
    int64_t frameDuration = 0;
};

// ATSC A/52 5.3 (synchronisation information and bit stream information).
struct Ac3Header {
    uint32_t sync = 0, crc1 = 0, fscod = 0, frmsizecod = 0;
    uint32_t bsid = 0, bsmod = 0, acmod = 0;
    uint32_t cmixlev = 0, surmixlev = 0, dsurmod = 0, lfeon = 0;
};

// ETSI TS 102 114 5.3 (core frame header).
struct DtsHeader {
    uint32_t sync = 0, frameType = 0, deficitSamples = 0, crcPresent = 0, blocks = 0;
    uint32_t frameBytes = 0;  // stored + 1
    uint32_t amode = 0, sfreq = 0, rate = 0;
    uint32_t downmix = 0, dynRange = 0, timestamp = 0, auxData = 0, hdcd = 0;
    uint32_t extDescription = 0, extCoding = 0, aspf = 0, lfe = 0, predictorHistory = 0;
};

// The 3-byte header that follows the 4-byte audio sub-header of a DVD LPCM packet.
struct DvdLpcmHeader {
    uint32_t emphasis = 0, mute = 0, reserved1 = 0, frameNumber = 0;
    uint32_t quantization = 0, frequency = 0, reserved2 = 0, channels = 0;  // channels: count - 1
    uint32_t dynamicRange = 0;
};

struct HdmvLpcmHeader {
    uint32_t size = 0, channelLayout = 0, sampleRateCode = 0, bitsCode = 0;
};

struct Ps2AudioHeader {
    uint32_t soundType = 0, sampleRate = 0, channels = 0, interleave = 0;
};

// Persistent H.264 locator: kept by the scanner and filled over several packets.
struct AvcHeader {
    uint32_t profile = 0, level = 0;
    int32_t width = 0, height = 0;
    int64_t spsPos = 0, spsLen = 0;  // both include the 4 bytes before the NAL header
    int64_t ppsPos = 0, ppsLen = 0;
    int64_t frameDuration = 0;
    bool spsFound = false, ppsFound = false;
};

// SMPTE 421M 6.1 (advanced profile sequence header).
struct Vc1Header {
    uint32_t profile = 0, level = 0, chromaFormat = 0, frameRateQ = 0, bitrateQ = 0, postProcFlag = 0;
    int32_t width = 0, height = 0;
    uint32_t broadcast = 0, interlace = 0, frameCounter = 0, frameInterpolation = 0, progressiveSegmented = 0;
};

class CBaseSplitterFileEx : public CBaseSplitterFile {
public:
    CBaseSplitterFileEx(IAsyncReader* reader, HRESULT& hr, int64_t cacheSize = 65536,
                        bool requireRandomAccess = true, bool allowStreaming = false);

    // Multiplex layer.
    bool ReadPackHeader(PackHeader& h);
    bool ReadSystemHeader(SystemHeader& h);
    bool ReadPesHeader(PesHeader& h, uint8_t code);
    bool ReadTsHeader(TsPacketHeader& h, bool resync = true);
    bool ReadTsSection(TsSectionHeader& h);
    bool ReadPvaHeader(PvaHeader& h, bool resync = true);

    // Elementary streams. `len` bounds how far a parser may look for its sync pattern.
    bool ReadSequenceHeader(SequenceHeader& h, int64_t len, CMediaType* pmt = nullptr);
    bool ReadMpegAudio(MpegAudioHeader& h, int64_t len, bool allowVersion25, CMediaType* pmt = nullptr);
    bool ReadAac(AacHeader& h, int64_t len, CMediaType* pmt = nullptr);
    bool ReadAc3(Ac3Header& h, int64_t len, CMediaType* pmt = nullptr);
    bool ReadDts(DtsHeader& h, int64_t len, CMediaType* pmt = nullptr);
    bool ReadDvdLpcm(DvdLpcmHeader& h, CMediaType* pmt = nullptr);
    bool ReadHdmvLpcm(HdmvLpcmHeader& h, CMediaType* pmt = nullptr);
    bool ReadDvdSubpicture(CMediaType* pmt = nullptr);
    bool ReadSvcdSubpicture(CMediaType* pmt = nullptr);
    bool ReadCvdSubpicture(CMediaType* pmt = nullptr);
    // language: 3 letters or null ("eng").
    bool ReadHdmvSubtitle(CMediaType* pmt = nullptr, const char* language = nullptr);
    bool ReadPs2Audio(Ps2AudioHeader& h, CMediaType* pmt = nullptr);
    bool ReadPs2Subtitle(CMediaType* pmt = nullptr);
    bool ReadAvc(AvcHeader& h, int64_t len, CMediaType* pmt = nullptr);
    bool ReadVc1(Vc1Header& h, int64_t len, CMediaType* pmt = nullptr);
    bool ReadDvbSubtitle(CMediaType* pmt = nullptr);

    int tsPacketLength() const { return m_tsPacketLength; }

protected:
    // Reads the 33-bit time stamp (3 + marker + 15 + marker + 15 + marker) in 100 ns with
    // ptsOffset added; false on a bad marker.
    bool ReadTimeStamp(int64_t& value);

    int m_tsPacketLength = 0;  // 0 until detected, then 188 or 192
    int64_t m_ptsOffset = 0;   // 100 ns, added to every PTS/DTS; a source may set it
};

// The decoder configuration bytes of an AAC stream (2, or 5 for a negative SBR profile).
int MakeAacConfig(uint8_t* out, int profile, int sampleRate, int channels);
