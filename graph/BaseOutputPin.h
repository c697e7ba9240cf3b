// An output pin with the push transport: allocator negotiation and delivery helpers.
//
// Allocator negotiation (at connection, control thread): the input pin's requirements
// (alignment, prefix) are read, then its allocator is offered to DecideBufferSize; when that
// fails, or the input has none, a CMemAllocator of this pin is tried. The chosen allocator is
// notified to the input pin. DecideBufferSize asks for count and size and fails when the
// allocator grants less (SetBufferProperties does the asking and the check).
// Active commits the allocator, Inactive decommits it.
//
// Threads: Deliver* and GetDeliveryBuffer on this filter's streaming thread (or the control
// thread for flushes, as the filter drives them); the peer and allocator change only while
// stopped.
#pragma once

#include "graph/BasePin.h"

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(CBaseFilter* filter, std::recursive_mutex& lock, std::string name);
    ~CBaseOutputPin() override;

    // Not for output pins: E_UNEXPECTED.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    // The peer must be an input pin offering IMemInputPin (VFW_E_NO_TRANSPORT).
    HRESULT CheckConnect(IPin* peer) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // -- What a pin writer overrides.
    // `request` comes filled with the input pin's wishes (or count 0, size 0, alignment 1,
    // prefix 0); ask with SetBufferProperties.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request) = 0;
    virtual HRESULT DecideAllocator(IMemInputPin* input, ComPtr<IMemAllocator>* allocator);
    virtual HRESULT InitAllocator(ComPtr<IMemAllocator>* allocator);

    // Asks the allocator for `asked`; E_FAIL when it grants fewer buffers or smaller ones.
    static HRESULT SetBufferProperties(IMemAllocator* allocator, const AllocatorProperties& asked,
                                       AllocatorProperties* actual = nullptr);

    // -- Delivery (streaming thread). VFW_E_NOT_CONNECTED when unconnected.
    HRESULT GetDeliveryBuffer(ComPtr<IMediaSample>* sample, const REFERENCE_TIME* start = nullptr,
                              const REFERENCE_TIME* stop = nullptr, uint32_t flags = 0);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    IMemAllocator* Allocator() { return m_allocator.Get(); }
    IMemInputPin* InputPin() { return m_input.Get(); }

protected:
    ComPtr<IMemInputPin> m_input;        // the peer's transport; changed only while stopped
    ComPtr<IMemAllocator> m_allocator;   // changed only while stopped
};
