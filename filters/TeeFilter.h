// The tee: one decoded YV12 stream to two branches without copying pictures. Every sample
// that arrives on "Input" is handed by reference to the output queue of each connected
// output ("Output0", then "Output1"); each queue delivers on a worker thread of its own, so
// a slow branch does not hold up the other. Both branches see the very same buffer and only
// read it; each branch releases its reference once its downstream is done with it.
//
// Threads: connection and state changes on the control thread under the filter lock;
// Receive, EndOfStream on the decoder's streaming thread; flushes and new segments on the
// thread that drives the upstream; each output queue's worker delivers downstream.
#pragma once

#include <memory>
#include <mutex>

#include "graph/BaseFilter.h"
#include "graph/BaseInputPin.h"
#include "graph/BaseOutputPin.h"
#include "graph/OutputQueue.h"

// {116A8145-0946-11CF-ACB1-444553540000}
constexpr Guid CLSID_MyTee = MakeGuid(0x116A8145, 0x0946, 0x11CF, 0xACB1, 0x444553540000ull);

class CMyTeeFilter;

class CMyTeeInputPin : public CBaseInputPin {
public:
    explicit CMyTeeInputPin(CMyTeeFilter* filter);

    // YV12 with a video info header (not video info header 2) and a bitmap height above 0.
    HRESULT CheckMediaType(const CMediaType& type) override;
    // Control thread: stores the type and copies it into the filter.
    HRESULT SetMediaType(const CMediaType& type) override;
    // Streaming thread: the same sample to each connected output, in order.
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CMyTeeFilter* m_tee;
};

class CMyTeeOutputPin : public CBaseOutputPin {
public:
    CMyTeeOutputPin(CMyTeeFilter* filter, std::string name);
    ~CMyTeeOutputPin() override;

    // Seeking is not offered on the branches.
    HRESULT QueryInterfaceHook(const std::type_info& iid, IUnknown** object) override;
    // Only the filter's input type.
    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    // 5 buffers of the type's image size with the downstream's alignment and prefix.
    HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) override;
    // Control thread: make the queue towards the connected pin / delete it.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Streaming thread. E_POINTER without a sample; S_OK and the sample dropped without a
    // queue; otherwise the queue takes its own reference and its result is returned.
    HRESULT DeliverSample(IMediaSample* sample);
    void QueueEndOfStream();
    void QueueBeginFlush();
    void QueueEndFlush();
    void QueueNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

private:
    // A reference to the current queue, or null; the streaming thread works on its own
    // reference so that deactivation never frees a queue under a running delivery.
    std::shared_ptr<COutputQueue> Queue();

    CMyTeeFilter* m_tee;
    std::mutex m_queueLock;                // guards m_queue only (held for the pointer copy)
    std::shared_ptr<COutputQueue> m_queue; // exists only while paused or running
};

class CMyTeeFilter : public CBaseFilter {
public:
    CMyTeeFilter();
    ~CMyTeeFilter() override;

    int GetPinCount() override { return 3; }
    // 0 "Input", 1 "Output0", 2 "Output1".
    CBasePin* GetPin(int n) override;

    // The connected input type (control thread, under the filter lock).
    CMediaType InputType();
    void SetInputType(const CMediaType& type);
    CMyTeeOutputPin* Output(int n) { return n == 0 ? m_output0.get() : m_output1.get(); }

private:
    std::unique_ptr<CMyTeeInputPin> m_inputPin;
    std::unique_ptr<CMyTeeOutputPin> m_output0;
    std::unique_ptr<CMyTeeOutputPin> m_output1;
    CMediaType m_inputType;  // guarded by the filter lock
};
