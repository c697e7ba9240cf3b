#include "graph/BaseOutputPin.h"

#include "graph/BaseFilter.h"
#include "graph/MemAllocator.h"

CBaseOutputPin::CBaseOutputPin(CBaseFilter* filter, std::recursive_mutex& lock, std::string name)
    : CBasePin(filter, lock, std::move(name), PinDirection::Output)
{
}

CBaseOutputPin::~CBaseOutputPin() = default;

HRESULT CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

HRESULT CBaseOutputPin::CheckConnect(IPin* peer)
{
    HRESULT hr = CBasePin::CheckConnect(peer);
    if (Failed(hr))
        return hr;
    ComPtr<IMemInputPin> input = QueryInterface<IMemInputPin>(peer);
    if (!input)
        return VFW_E_NO_TRANSPORT;
    m_input = input;
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin* peer)
{
    (void)peer;
    if (!m_input)
        return VFW_E_NO_TRANSPORT;
    ComPtr<IMemAllocator> allocator;
    const HRESULT hr = DecideAllocator(m_input.Get(), &allocator);
    if (Failed(hr))
        return hr;
    m_allocator = allocator;
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* input, ComPtr<IMemAllocator>* allocator)
{
    AllocatorProperties wanted;
    wanted.cBuffers = 0;
    wanted.cbBuffer = 0;
    if (input->GetAllocatorRequirements(&wanted) != S_OK) {
        wanted = AllocatorProperties{};
    }
    if (wanted.cbAlign <= 0)
        wanted.cbAlign = 1;

    ComPtr<IMemAllocator> theirs;
    HRESULT hr = input->GetAllocator(&theirs);
    if (Succeeded(hr) && theirs) {
        AllocatorProperties request = wanted;
        hr = DecideBufferSize(theirs.Get(), &request);
        if (Succeeded(hr)) {
            hr = input->NotifyAllocator(theirs.Get(), false);
            if (Succeeded(hr)) {
                *allocator = theirs;
                return S_OK;
            }
        }
    }

    ComPtr<IMemAllocator> ours;
    const HRESULT init = InitAllocator(&ours);
    if (Failed(init) || !ours)
        return Failed(hr) ? hr : init;
    AllocatorProperties request = wanted;
    hr = DecideBufferSize(ours.Get(), &request);
    if (Failed(hr))
        return hr;
    hr = input->NotifyAllocator(ours.Get(), false);
    if (Failed(hr))
        return hr;
    *allocator = ours;
    return S_OK;
}

HRESULT CBaseOutputPin::InitAllocator(ComPtr<IMemAllocator>* allocator)
{
    *allocator = ComPtr<IMemAllocator>(new CMemAllocator());
    return S_OK;
}

HRESULT CBaseOutputPin::SetBufferProperties(IMemAllocator* allocator, const AllocatorProperties& asked,
                                            AllocatorProperties* actual)
{
    if (!allocator)
        return E_POINTER;
    AllocatorProperties granted;
    const HRESULT hr = allocator->SetProperties(asked, &granted);
    if (actual)
        *actual = granted;
    if (Failed(hr))
        return hr;
    if (granted.cBuffers < asked.cBuffers || granted.cbBuffer < asked.cbBuffer)
        return E_FAIL;
    return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect()
{
    if (m_allocator) {
        m_allocator->Decommit();
        m_allocator.Reset();
    }
    m_input.Reset();
    return S_OK;
}

HRESULT CBaseOutputPin::Active()
{
    if (!m_allocator)
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->Commit();
}

HRESULT CBaseOutputPin::Inactive()
{
    if (!m_allocator)
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(ComPtr<IMediaSample>* sample, const REFERENCE_TIME* start,
                                          const REFERENCE_TIME* stop, uint32_t flags)
{
    if (!sample)
        return E_POINTER;
    *sample = nullptr;
    if (!m_allocator)
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample)
{
    if (!m_input)
        return VFW_E_NOT_CONNECTED;
    return m_input->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream()
{
    IPin* peer = GetConnected();
    return peer ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverBeginFlush()
{
    IPin* peer = GetConnected();
    return peer ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverEndFlush()
{
    IPin* peer = GetConnected();
    return peer ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    IPin* peer = GetConnected();
    return peer ? peer->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}
