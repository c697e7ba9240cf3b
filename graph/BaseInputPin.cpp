#include "graph/BaseInputPin.h"

#include "graph/BaseFilter.h"
#include "graph/MemAllocator.h"

CBaseInputPin::CBaseInputPin(CBaseFilter* filter, std::recursive_mutex& lock, std::string name)
    : CBasePin(filter, lock, std::move(name), PinDirection::Input)
{
}

CBaseInputPin::~CBaseInputPin() = default;

HRESULT CBaseInputPin::GetAllocator(ComPtr<IMemAllocator>* allocator)
{
    if (!allocator)
        return E_POINTER;
    std::lock_guard lock(m_lock);
    if (!m_allocator)
        m_allocator = ComPtr<IMemAllocator>(new CMemAllocator());
    *allocator = m_allocator;
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, bool readOnly)
{
    if (!allocator)
        return E_POINTER;
    std::lock_guard lock(m_lock);
    m_allocator = ComPtr<IMemAllocator>(allocator);
    m_readOnly = readOnly;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(AllocatorProperties* props)
{
    (void)props;
    return E_NOTIMPL;
}

HRESULT CBaseInputPin::CheckStreaming()
{
    if (!GetConnected())
        return VFW_E_NOT_CONNECTED;
    if (IsStopped())
        return VFW_E_WRONG_STATE;
    if (IsFlushing())
        return S_FALSE;
    if (IsAtEndOfStream())
        return VFW_E_SAMPLE_REJECTED_EOS;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample)
{
    if (!sample)
        return E_POINTER;
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    CMediaType changed;
    if (sample->GetMediaType(&changed) == S_OK) {
        if (CheckMediaType(changed) != S_OK)
            return VFW_E_INVALIDMEDIATYPE;
        const HRESULT set = SetMediaType(changed);
        if (Failed(set))
            return set;
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample* const* samples, int32_t count, int32_t* processed)
{
    if (!samples || !processed)
        return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    for (int32_t i = 0; i < count; ++i) {
        hr = Receive(samples[i]);
        if (hr != S_OK)
            break;
        ++*processed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() { return S_OK; }

HRESULT CBaseInputPin::EndOfStream()
{
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    m_atEndOfStream.store(true, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseInputPin::BeginFlush()
{
    m_flushing.store(true, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush()
{
    m_atEndOfStream.store(false, std::memory_order_release);
    m_flushing.store(false, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect()
{
    if (m_allocator) {
        m_allocator->Decommit();
        m_allocator.Reset();
    }
    m_readOnly = false;
    return S_OK;
}

HRESULT CBaseInputPin::Inactive()
{
    m_atEndOfStream.store(false, std::memory_order_release);
    m_flushing.store(false, std::memory_order_release);
    if (m_allocator)
        m_allocator->Decommit();
    return S_OK;
}
