// Delivers samples, end of stream and new segments to one input pin on a worker thread of its
// own, in the order they were queued, so that the caller does not wait for the downstream.
//
// Threads: Receive/EndOfStream/NewSegment/BeginFlush/EndFlush on the owner's thread (its
// streaming thread, or the control thread for flushes); the worker thread delivers. All
// queue state is guarded by m_lock; m_wake tells the worker about work or stop, m_space
// tells Receive about free room or a flush.
//
// Samples pass by reference: the queue holds the reference it was given until the
// downstream Receive has returned. Up to `batchSize` queued samples in a row go down in one
// ReceiveMultiple. At most `listSize` samples wait; a Receive beyond that waits for room.
// A downstream result other than S_OK is kept and returned by every later Receive (the
// sample is dropped) until the next flush. BeginFlush drops what waits and is passed down at
// once (it must free a downstream Receive the worker may be blocked in); EndFlush waits
// until the worker is idle, then is passed down.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "graph/Interfaces.h"

class COutputQueue {
public:
    // Makes the queue and starts its thread; E_POINTER for a pin without IMemInputPin,
    // E_OUTOFMEMORY when the thread cannot start.
    static HRESULT Create(IPin* input, int32_t batchSize, int32_t listSize, std::unique_ptr<COutputQueue>* queue);
    // Drops what is queued, wakes a Receive or EndFlush that waits (they return), stops and
    // joins the worker. The owner makes sure no new call starts once this has begun.
    ~COutputQueue();
    COutputQueue(const COutputQueue&) = delete;
    COutputQueue& operator=(const COutputQueue&) = delete;

    // Takes over the reference. S_OK, or the kept downstream result.
    HRESULT Receive(ComPtr<IMediaSample> sample);
    void EndOfStream();
    void NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    void BeginFlush();
    void EndFlush();
    // True when nothing is queued and nothing is being delivered.
    bool IsIdle();
    // Waits until it is idle (the downstream must be able to take what is queued).
    void WaitUntilIdle();

private:
    COutputQueue(IPin* input, int32_t batchSize, int32_t listSize);
    void ThreadMain();

    enum class Kind { Sample, EndOfStream, NewSegment };
    struct Item {
        Kind kind = Kind::Sample;
        ComPtr<IMediaSample> sample;
        REFERENCE_TIME start = 0, stop = 0;
        double rate = 1.0;
    };

    ComPtr<IPin> m_pin;
    ComPtr<IMemInputPin> m_input;
    const int32_t m_batchSize;
    const int32_t m_listSize;

    // -- All the following fields are guarded by m_lock.
    std::mutex m_lock;
    std::condition_variable m_wake;   // worker: work queued or stop
    std::condition_variable m_space;  // Receive: room, flush or stop; EndFlush: idle
    std::deque<Item> m_items;
    int32_t m_queuedSamples = 0;
    bool m_busy = false;              // the worker is delivering
    bool m_flushing = false;
    bool m_stop = false;
    int m_waiters = 0;                // callers inside Receive/EndFlush
    HRESULT m_result = S_OK;          // last downstream result other than S_OK

    std::thread m_thread;
};
