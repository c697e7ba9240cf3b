// An input pin with the push transport: allocator notification, Receive, end of stream,
// flush and new segment.
//
// Threads: connection calls on the control thread; Receive, ReceiveMultiple and EndOfStream
// on the upstream's streaming thread; BeginFlush/EndFlush/NewSegment on whichever thread
// drives the upstream. The flush and end-of-stream flags are atomics; the allocator changes
// only while stopped.
#pragma once

#include <atomic>

#include "graph/BasePin.h"

class CBaseInputPin : public CBasePin, public virtual IMemInputPin {
public:
    CBaseInputPin(CBaseFilter* filter, std::recursive_mutex& lock, std::string name);
    ~CBaseInputPin() override;

    // IMemInputPin.
    HRESULT GetAllocator(ComPtr<IMemAllocator>* allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, bool readOnly) override;
    HRESULT GetAllocatorRequirements(AllocatorProperties* props) override;
    // The checks every receive needs (see CheckStreaming), then a media type change carried
    // by the sample (refused with VFW_E_INVALIDMEDIATYPE when CheckMediaType refuses it).
    // A derived Receive calls this first and goes on only on S_OK.
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample* const* samples, int32_t count, int32_t* processed) override;
    HRESULT ReceiveCanBlock() override;

    // IPin: the flag handling; a derived pin passes them on downstream and calls these.
    // EndOfStream: CheckStreaming, then marks the end (later samples are refused until a
    // flush or stop). BeginFlush: refuse samples; EndFlush: accept them again.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    HRESULT BreakConnect() override;
    // Forgets flush and end of stream, decommits the allocator (waking an upstream
    // GetBuffer that waits on it).
    HRESULT Inactive() override;

    // S_OK when samples may be received now; VFW_E_NOT_CONNECTED; VFW_E_WRONG_STATE when the
    // filter is stopped; S_FALSE while flushing; VFW_E_SAMPLE_REJECTED_EOS after end of stream.
    HRESULT CheckStreaming();
    bool IsFlushing() const { return m_flushing.load(std::memory_order_acquire); }
    bool IsAtEndOfStream() const { return m_atEndOfStream.load(std::memory_order_acquire); }
    bool IsReadOnly() const { return m_readOnly; }
    IMemAllocator* Allocator() { return m_allocator.Get(); }

protected:
    ComPtr<IMemAllocator> m_allocator;  // changed only while stopped
    bool m_readOnly = false;
    std::atomic<bool> m_flushing{false};
    std::atomic<bool> m_atEndOfStream{false};
};
