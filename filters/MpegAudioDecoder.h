// The audio decoder filter: AC-3, DTS, DVD LPCM and MPEG audio in, 16-bit interleaved PCM
// (WAVEFORMATEX) out, with the channel layout kept (a 5.1 AC-3 track comes out as 6
// channels). Compressed formats go through libavcodec's parsers and decoders and
// libswresample for the sample format; DVD LPCM (big-endian samples of 16, 20 or 24 bits,
// the splitter having removed the DVD headers) is converted by hand.
//
// Times on the title's line: a decoded frame takes its packet's stamp; untimed data continues
// from the count of samples since the last stamp. When the channel count or rate changes on
// the stream, the next output sample carries the new media type (the output buffers are
// large enough for any frame, and a frame larger than a buffer is split).
//
// Threads: connection and state changes on the control thread under the filter lock;
// Receive and EndOfStream on the splitter's audio delivery thread, decoding and delivering
// under m_decodeLock; flushes and new segments on the thread that drives the upstream
// (BeginFlush passes downstream at once, EndFlush resets the decoder under m_decodeLock).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"
#include "graph/BaseOutputPin.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// {3D446B6F-71DE-4437-BE15-8CE47174340F}
constexpr Guid CLSID_MpegAudioDecoder = MakeGuid(0x3D446B6F, 0x71DE, 0x4437, 0xBE15, 0x8CE47174340Full);
constexpr Guid MEDIASUBTYPE_MP3 = GuidFromFourCC(WAVE_FORMAT_MPEGLAYER3);

class CMpegAudioDecoder;

class CMpegAudioInputPin : public CBaseInputPin {
public:
    explicit CMpegAudioInputPin(CMpegAudioDecoder* filter);
    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CMpegAudioDecoder* m_decoder;
};

class CMpegAudioOutputPin : public CBaseOutputPin {
public:
    explicit CMpegAudioOutputPin(CMpegAudioDecoder* filter);
    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;

private:
    CMpegAudioDecoder* m_decoder;
};

class CMpegAudioDecoder : public CBaseFilter {
public:
    static constexpr int32_t kOutputBuffers = 8;
    static constexpr int32_t kOutputBufferBytes = 196608;

    CMpegAudioDecoder();
    ~CMpegAudioDecoder() override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;
    HRESULT Pause() override;
    HRESULT Stop() override;

    // -- Called by the pins.
    // The PCM type for the connected input's channels and rate (control thread).
    bool OutputType(CMediaType* type);
    HRESULT ReceiveAudio(IMediaSample* sample);
    HRESULT EndOfAudio();
    void ResetDecoder();
    CMpegAudioOutputPin* Output() { return m_output.get(); }

private:
    enum class Coding { None, Ac3, Dts, Lpcm, Mpeg };

    HRESULT OpenLocked();
    void CloseLocked();
    bool OpenCodecLocked(int codecId);
    HRESULT DecodeLocked(const uint8_t* data, int size, int64_t pts);
    HRESULT DrainLocked();
    HRESULT ConvertFrameLocked(AVFrame* frame);
    HRESULT LpcmLocked(const uint8_t* data, int size, bool timed, REFERENCE_TIME start);
    // Delivers interleaved 16-bit PCM of `channels` x `rate` starting at `start`, in as many
    // samples as it takes; a new format goes with the first of them.
    HRESULT DeliverPcmLocked(const uint8_t* pcm, size_t bytes, int channels, int rate, REFERENCE_TIME start);

    std::unique_ptr<CMpegAudioInputPin> m_input;
    std::unique_ptr<CMpegAudioOutputPin> m_output;

    std::mutex m_decodeLock;
    // -- All the following fields are guarded by m_decodeLock.
    Coding m_coding = Coding::None;
    int m_lpcmBits = 16, m_lpcmChannels = 2, m_lpcmRate = 48000;
    std::vector<uint8_t> m_carry;   // LPCM bytes of an incomplete sample group
    AVCodecContext* m_ctx = nullptr;
    AVCodecParserContext* m_parser = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwrContext* m_swr = nullptr;
    int m_swrFormat = -1, m_swrChannels = 0, m_swrRate = 0;
    std::vector<uint8_t> m_pcm;     // converted samples of one frame
    bool m_drained = false;
    int m_outChannels = 0, m_outRate = 0;  // format of the delivered samples
    bool m_haveNext = false;
    REFERENCE_TIME m_next = 0;      // where untimed data continues
    REFERENCE_TIME m_anchor = 0;    // time of the last stamp taken ...
    int64_t m_anchorFrames = 0;     // ... and the sample frames delivered since, at m_outRate
};
