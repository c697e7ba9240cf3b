// CMpegSplitterFilter: the MPEG program/transport/PVA stream splitter. On input connection it
// scans the title (CMpegSplitterFile) and makes one output pin per stream kind (video,
// audio, subtitle, in that order, the input pin last); its demux loop turns PES payloads
// into Packets for those pins, inside the play window set through IMyMpegSplitter.
// IAMStreamSelect lists every stream found and moves a pin to another stream of its kind.
//
// Threads: the IMyMpegSplitter setters run on the control thread before the graph runs;
// Info/Enable on the control thread (the scanner's lists have their own lock); the demux
// hooks on the worker thread, which alone uses the scanner's read position once running.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "demux/BaseSplitterFilter.h"
#include "demux/MpegSplitterFile.h"
#include "dvd/DvdDiscInfo.h"

constexpr Guid CLSID_MpegSplitter = MakeGuid(0xDC257063, 0x045F, 0x4BE2, 0xBD5B, 0xE12279C464F0ull);
constexpr Guid IID_IMyMpegSplitter = MakeGuid(0xFB644229, 0xD658, 0x40AB, 0x838D, 0x619AD5A2DEB1ull);
constexpr Guid CLSID_WMAsfReader = MakeGuid(0x187463A0, 0x5BB7, 0x11D3, 0xACBE, 0x0080C75E246Eull);
constexpr Guid CLSID_DMOWrapperFilter = MakeGuid(0x94297043, 0xBD82, 0x4DFD, 0xB0DE, 0x8177739C6D20ull);

// What the graph builders tell the splitter. Control thread, before the graph runs.
class IMyMpegSplitter : public virtual IUnknown {
public:
    // Copies the title's entry of the disc record (its audio and subpicture ids are what the
    // scan waits for). E_POINTER for null.
    virtual HRESULT SetTitleStreams(const DvdTitleInfo* record) = 0;
    // The play window in milliseconds: trim start, length and the title's duration.
    virtual HRESULT SetTimeWindow(int64_t startMs, int64_t lengthMs, int64_t durationMs) = 0;
};

class CMpegSplitterFilter : public CBaseSplitterFilter,
                            public virtual IMyMpegSplitter,
                            public virtual IAMStreamSelect {
public:
    CMpegSplitterFilter();
    ~CMpegSplitterFilter() override;

    HRESULT GetClassID(Guid* clsid) override;

    // IMyMpegSplitter.
    HRESULT SetTitleStreams(const DvdTitleInfo* record) override;
    HRESULT SetTimeWindow(int64_t startMs, int64_t lengthMs, int64_t durationMs) override;

    // IAMStreamSelect. Indexes run over the video, then audio, then subpicture list.
    HRESULT Count(int32_t* streams) override;
    HRESULT Info(int32_t index, CMediaType* type, uint32_t* flags, uint32_t* lcid, uint32_t* group,
                 std::string* name) override;
    HRESULT Enable(int32_t index, uint32_t flags) override;

    // Seeking: the duration is the play window's length.
    HRESULT GetDuration(int64_t* duration) override;
    HRESULT GetCurrentPosition(int64_t* current) override;

    // The failure that ended the last demux loop (VFW_E_ENCRYPTED for scrambled content),
    // S_OK when none. Any thread.
    HRESULT LastError() const { return m_lastError.load(std::memory_order_acquire); }
    // The scanner, null before the input is connected. Control thread.
    CMpegSplitterFile* Scanner() { return m_scanner.get(); }

    // The description of a stream's media type ("Audio - Dolby Digital, 48.0 kHz, ...").
    static std::string StreamDescription(const CMediaType& mt);
    // The transport/HDMV stream-type name, or null.
    static const char* StreamTypeName(uint32_t streamType);

    void SetReportAsAsfReader(bool on) { m_reportAsAsfReader.store(on); }

protected:
    HRESULT BuildOutputs(IAsyncReader* reader) override;
    bool PrepareDemux() override;
    void SeekDemux(int64_t rt) override;
    bool RunDemux() override;

private:
    HRESULT DemuxProgramPacket(int64_t offset);
    HRESULT DemuxTransportPacket(int64_t offset);
    HRESULT DemuxPvaPacket(int64_t offset);
    // Reads the payload from the current position to `end` into a packet for `key` and
    // routes it.
    HRESULT RoutePayload(StreamKey key, int64_t end, bool hasPts, int64_t pts, int64_t offset);
    // The stream at a stream-selection index with its kind; false when there is none.
    bool StreamAt(int32_t index, SplitterStream* stream, int* kind);

    std::unique_ptr<CMpegSplitterFile> m_scanner;
    HdmvClipInfo m_clipInfo;
    DvdTitleInfo m_title{};  // this filter's copy of the title record

    std::atomic<int64_t> m_timeBase{0};  // worker thread, read elsewhere
    std::atomic<bool> m_reportAsAsfReader{false};
    // The play window (100 ns); set before the graph runs, filled by PrepareDemux.
    std::atomic<int64_t> m_windowStart{0};
    std::atomic<int64_t> m_windowLength{0};
    std::atomic<int64_t> m_windowDuration{0};
    std::atomic<HRESULT> m_lastError{S_OK};
};
