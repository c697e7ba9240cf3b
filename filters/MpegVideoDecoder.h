// The MPEG-1/MPEG-2 video decoder filter on libavcodec, with DVD subpictures burnt in.
//
// Pins: input 0 "Video" takes the splitter's MPEG-1 (MPEG1Payload, MPEG video format) or
// MPEG-2 video (MPEG2_VIDEO, MPEG-2 video format; the sequence header is in the format
// block); input 1 "Subpicture" takes DVD subpictures and may stay unconnected; output 0
// "Output" offers YV12 with a video info header 2, then with a video info header: pictures
// of width x height x 3 / 2 bytes, planes Y, V, U contiguous.
//
// Times: each PES-stamped packet's time goes with the picture that starts in it; pictures
// come out in display order; a picture without a stamp continues from the previous one's
// stop; the duration is the frame duration stretched by the picture's repeated fields (3:2
// pulldown), so times stay continuous and increasing; stop = start + duration.
//
// Threads: connection and state changes on the control thread under the filter lock.
// Input 0's Receive and EndOfStream run on the splitter's video delivery thread, decode and
// deliver under m_decodeLock; input 1's calls on the subpicture delivery thread, into the
// blender (its own lock). Flush and new segment on the thread that drives the upstream:
// BeginFlush passes downstream first (freeing a delivery that waits), EndFlush resets the
// decoder under m_decodeLock. Stop makes the pins inactive, then waits for m_decodeLock
// before the decoder is closed.
#pragma once

#include <memory>
#include <mutex>

#include "filters/SubpictureBlender.h"
#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"
#include "graph/BaseOutputPin.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// {39F498AF-1A09-4275-B193-673B0BA3D478}
constexpr Guid CLSID_MpegVideoDecoder = MakeGuid(0x39F498AF, 0x1A09, 0x4275, 0xB193, 0x673B0BA3D478ull);

// The disc's subpicture palette, set by the pipeline builder (control thread).
class IMySubpicturePalette : public virtual IUnknown {
public:
    // 16 entries of 0x00YYCrCb.
    virtual HRESULT SetPalette(const uint32_t palette[16]) = 0;
};

class CMpegVideoDecoder;

class CMpegVideoInputPin : public CBaseInputPin {
public:
    explicit CMpegVideoInputPin(CMpegVideoDecoder* filter);
    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CMpegVideoDecoder* m_decoder;
};

class CSubpictureInputPin : public CBaseInputPin {
public:
    explicit CSubpictureInputPin(CMpegVideoDecoder* filter);
    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT BeginFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CMpegVideoDecoder* m_decoder;
};

class CMpegVideoOutputPin : public CBaseOutputPin {
public:
    explicit CMpegVideoOutputPin(CMpegVideoDecoder* filter);
    HRESULT CheckMediaType(const CMediaType& type) override;
    // 0: video info header 2, 1: video info header; VFW_S_NO_MORE_ITEMS while the input is
    // unconnected.
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;

private:
    CMpegVideoDecoder* m_decoder;
};

class CMpegVideoDecoder : public CBaseFilter, public IMySubpicturePalette {
public:
    CMpegVideoDecoder();
    ~CMpegVideoDecoder() override;

    // Inputs first, then the output: 0 video, 1 subpicture, 2 output.
    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override;
    HRESULT Pause() override;
    HRESULT Stop() override;

    HRESULT SetPalette(const uint32_t palette[16]) override;

    // -- Called by the pins.
    // The picture size and frame duration of the connected video input (control thread).
    bool PictureFormat(int32_t* width, int32_t* height, REFERENCE_TIME* frameDuration, uint32_t* aspectX,
                       uint32_t* aspectY);
    HRESULT ReceiveVideo(IMediaSample* sample);
    HRESULT EndOfVideo();
    void ResetDecoder();
    CSubpictureBlender& Subpictures() { return m_subpictures; }
    CMpegVideoOutputPin* Output() { return m_output.get(); }

private:
    HRESULT OpenDecoderLocked();
    void CloseDecoderLocked();
    // Feeds parsed packets to the decoder and delivers what comes out; `data` null drains.
    HRESULT DecodeLocked(const uint8_t* data, int size, int64_t pts);
    HRESULT DrainFramesLocked();
    HRESULT DeliverFrameLocked(AVFrame* frame);

    std::unique_ptr<CMpegVideoInputPin> m_video;
    std::unique_ptr<CSubpictureInputPin> m_subpicture;
    std::unique_ptr<CMpegVideoOutputPin> m_output;
    CSubpictureBlender m_subpictures;

    std::mutex m_decodeLock;
    // -- All the following fields are guarded by m_decodeLock.
    AVCodecContext* m_ctx = nullptr;
    AVCodecParserContext* m_parser = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwsContext* m_convert = nullptr;  // for decoded formats other than 4:2:0
    bool m_drained = false;           // the decoder saw the end of its input
    int32_t m_width = 0, m_height = 0;
    REFERENCE_TIME m_frameDuration = 333667;
    bool m_haveLast = false;          // a picture has gone out since the last reset
    REFERENCE_TIME m_lastStart = 0;
    REFERENCE_TIME m_nextTime = 0;
};
