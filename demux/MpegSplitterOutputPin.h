// CMpegSplitterOutputPin: the splitter's output pin for one MPEG stream kind. Before
// delivery it maps time-stamp jumps (a title's time stamps restarting) onto a continuous
// time line, and for AAC, H.264 and VC-1 (transport-stream input) it assembles frames.
//
// Threads: SendPacket on the pin's delivery thread; new segment on the demux thread; end
// flush on the control thread. m_pinLock guards every field below it.
#pragma once

#include <deque>
#include <list>
#include <memory>
#include <mutex>

#include "demux/BaseSplitterOutputPin.h"

class CMpegSplitterFilter;

class CMpegSplitterOutputPin : public CBaseSplitterOutputPin {
public:
    // The largest tolerated jump between consecutive start times of audio and video.
    static constexpr int64_t kJumpLimit = 50000000;  // 5 s

    // `jumpLimit`: kJumpLimit, or INT64_MAX for a pin whose times are never corrected.
    CMpegSplitterOutputPin(std::vector<CMediaType> types, const std::string& name, CMpegSplitterFilter* filter,
                           HRESULT* hr, int64_t jumpLimit = kJumpLimit);

    // Reports the filter as an ASF reader while it connects to a DMO wrapper.
    HRESULT Connect(IPin* receivePin, const CMediaType* type) override;

protected:
    HRESULT SendPacket(std::unique_ptr<Packet> packet) override;
    HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT OnEndFlush() override;

private:
    HRESULT SendAac(std::unique_ptr<Packet> p);
    HRESULT SendH264(std::unique_ptr<Packet> p);
    HRESULT SendVc1(std::unique_ptr<Packet> p);
    // Adds the packet's payload to m_pending (a new m_pending takes its key, flags, times).
    void AppendPending(std::unique_ptr<Packet> p);
    std::unique_ptr<Packet> TakeFrame(size_t from, size_t to);

    CMpegSplitterFilter* m_mpeg;
    const int64_t m_jumpLimit;

    // -- All the following fields are guarded by m_pinLock.
    std::mutex m_pinLock;
    int64_t m_lastStart = NoTime;
    int64_t m_timeOffset = 0;
    std::unique_ptr<Packet> m_pending;
    std::list<std::unique_ptr<Packet>> m_pendingList;
    bool m_delimitersSeen = false;
    // H.264: where in m_pending each timed (or flagged) packet began, with its times.
    struct ChunkMark {
        size_t offset;
        int64_t start, end;
        bool syncPoint, discontinuity;
    };
    std::deque<ChunkMark> m_chunkMarks;
};
