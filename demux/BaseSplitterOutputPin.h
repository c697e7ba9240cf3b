// CBaseSplitterOutputPin: an output pin of the splitter with a packet queue and a delivery
// thread of its own that copies packets into samples and pushes them downstream.
//
// Threads:
// - The control thread connects, activates (Active starts the delivery thread when
//   connected), deactivates (Inactive ends and joins it), flushes and starts segments.
// - The filter's demux thread queues packets (EnqueuePacket); it waits, bounded by 100 ms
//   per step, while the filter's flow control says the queues are full.
// - The delivery thread pops packets and calls SendPacket / end of stream; it sleeps on
//   m_wake until a packet, an exit request or the end of a flush arrives.
// Ownership: the queue owns queued packets; the delivery thread owns the packet it delivers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "demux/Packet.h"
#include "graph/BaseOutputPin.h"

class CBaseSplitterFilter;

// A manual-reset event: Set wakes every waiter and stays set until Reset.
class ManualEvent {
public:
    explicit ManualEvent(bool set = false) : m_set(set) {}
    void Set();
    void Reset();
    bool IsSet();
    // Waits until set or until `abandon` returns true (checked on every wake-up).
    template <class Pred>
    void Wait(Pred abandon)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return m_set || abandon(); });
    }
    void Wait() { Wait([] { return false; }); }
    // Wakes waiters so that they re-check their abandon condition.
    void Poke();

private:
    std::mutex m_lock;  // guards m_set
    std::condition_variable m_changed;
    bool m_set;
};

class CBaseSplitterOutputPin : public CBaseOutputPin, public virtual IMediaSeeking {
public:
    // `types`: the offered media types (the first is the scanner's); `buffers`: allocator
    // buffer count (1 when below 2).
    CBaseSplitterOutputPin(std::vector<CMediaType> types, const std::string& name, CBaseSplitterFilter* filter,
                           HRESULT* hr, int buffers = 0);
    ~CBaseSplitterOutputPin() override;

    // -- Pin (control thread).
    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    // Starts a new segment downstream; S_FALSE while flushing or without a delivery thread.
    virtual HRESULT DeliverSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // Quality notifications are not supported.
    HRESULT Notify(IBaseFilter* sender, int64_t quality) { (void)sender; (void)quality; return E_NOTIMPL; }

    // -- Seeking: passed to the filter with this pin as the caller.
    HRESULT GetCapabilities(uint32_t* capabilities) override;
    HRESULT CheckCapabilities(uint32_t* capabilities) override;
    HRESULT IsFormatSupported(const Guid& format) override;
    HRESULT QueryPreferredFormat(Guid* format) override;
    HRESULT GetTimeFormat(Guid* format) override;
    HRESULT IsUsingTimeFormat(const Guid& format) override;
    HRESULT SetTimeFormat(const Guid& format) override;
    HRESULT GetDuration(int64_t* duration) override;
    HRESULT GetStopPosition(int64_t* stop) override;
    HRESULT GetCurrentPosition(int64_t* current) override;
    HRESULT ConvertTimeFormat(int64_t* target, const Guid* targetFormat, int64_t source,
                              const Guid* sourceFormat) override;
    HRESULT SetPositions(int64_t* current, uint32_t currentFlags, int64_t* stop, uint32_t stopFlags) override;
    HRESULT GetPositions(int64_t* current, int64_t* stop) override;
    HRESULT GetAvailable(int64_t* earliest, int64_t* latest) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;
    HRESULT GetPreroll(int64_t* preroll) override;

    // -- Demux thread.
    // Queues a packet (null: end of stream). Waits while the queues are full; S_FALSE
    // without a delivery thread; the delivery result otherwise (S_FALSE during a flush).
    HRESULT EnqueuePacket(std::unique_ptr<Packet> packet);

    // -- Any thread.
    // Sparse streams (text, subtitles, subpictures) never count as running dry.
    virtual bool IsSparse();
    size_t QueueCount() const { return m_queue.Count(); }
    int64_t QueueBytes() const { return m_queue.Bytes(); }
    // Connected, without the filter lock (streaming threads).
    bool Connected() { return GetConnected() != nullptr; }
    bool HasThread() const { return m_threadRunning.load(std::memory_order_acquire); }
    HRESULT DeliverResult() const { return m_deliverResult.load(std::memory_order_acquire); }
    // The thread priority bookkeeping: 0 normal, -1 below normal (no OS priority change).
    void SetThreadPriority(int priority) { m_threadPriority.store(priority, std::memory_order_relaxed); }
    int ThreadPriority() const { return m_threadPriority.load(std::memory_order_relaxed); }
    // Bit rates in bits per second measured over delivered packets.
    int32_t CurrentBitrate() const { return m_currentBitrate.load(std::memory_order_relaxed); }
    int32_t AverageBitrate() const { return m_averageBitrate.load(std::memory_order_relaxed); }
    CBaseSplitterFilter* SplitterFilter() { return m_splitter; }

protected:
    // Delivery thread: copies one packet into a sample and delivers it (the base version).
    virtual HRESULT SendPacket(std::unique_ptr<Packet> packet);
    // Control thread, under the filter's flush sequence.
    virtual HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    virtual HRESULT OnEndFlush();
    // Replaces the offered types with `type` and makes it the connection type (media-type
    // change carried by a packet). Delivery thread.
    void ReplaceOfferedTypes(const CMediaType& type);

private:
    void ThreadMain();
    HRESULT GrowBuffers(int32_t needed);

    CBaseSplitterFilter* m_splitter;
    const int m_bufferCount;

    std::mutex m_typesLock;  // guards m_types
    std::vector<CMediaType> m_types;

    PacketFifo m_queue;
    std::atomic<HRESULT> m_deliverResult{S_OK};
    std::atomic<bool> m_flushing{false};
    std::atomic<bool> m_flushed{false};
    ManualEvent m_flushDone{true};

    // -- Delivery thread control: guarded by m_wakeLock; m_wake is notified on push, flush
    // and exit.
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    bool m_exit = false;
    std::thread m_thread;  // started and joined on the control thread
    std::atomic<bool> m_threadRunning{false};

    std::mutex m_allocLock;  // serialises buffer growth (delivery thread) with Inactive's decommit

    std::atomic<int> m_threadPriority{0};

    // -- Bit-rate statistics: delivery thread only (the two results are atomics).
    std::atomic<bool> m_resetMeasure{true};
    int64_t m_bytesSinceMeasure = 0;
    int64_t m_measureTime = NoTime;
    int64_t m_totalTime = 0;
    int64_t m_totalBytes = 0;
    std::atomic<int32_t> m_currentBitrate{0};
    std::atomic<int32_t> m_averageBitrate{0};

    REFERENCE_TIME m_segmentStartTime = 0;  // control thread
};
