#include "harness/TestSource.h"

#include <cstring>

TestSourcePin::TestSourcePin(TestSourceFilter* filter, std::vector<CMediaType> types)
    : CBaseOutputPin(filter, filter->FilterLock(), "Output"), m_types(std::move(types))
{
}

HRESULT TestSourcePin::CheckMediaType(const CMediaType& type)
{
    if (m_types.empty())
        return S_OK;
    for (const CMediaType& t : m_types) {
        if (t == type)
            return S_OK;
    }
    return S_FALSE;
}

HRESULT TestSourcePin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (size_t(position) >= m_types.size())
        return VFW_S_NO_MORE_ITEMS;
    *type = m_types[size_t(position)];
    return S_OK;
}

HRESULT TestSourcePin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request)
{
    seenRequest = *request;
    AllocatorProperties asked = *request;
    asked.cBuffers = bufferCount;
    asked.cbBuffer = bufferSize;
    return SetBufferProperties(allocator, asked);
}

HRESULT TestSourcePin::InitAllocator(ComPtr<IMemAllocator>* allocator)
{
    if (!ownAllocator)
        return CBaseOutputPin::InitAllocator(allocator);
    *allocator = ownAllocator();
    return *allocator ? S_OK : E_OUTOFMEMORY;
}

HRESULT TestSourcePin::QueryInterfaceHook(const std::type_info& iid, IUnknown** object)
{
    if (seeking && iid == typeid(IMediaSeeking)) {
        *object = seeking;
        return S_OK;
    }
    return CBaseOutputPin::QueryInterfaceHook(iid, object);
}

TestSourceFilter::TestSourceFilter(std::vector<CMediaType> types)
    : CBaseFilter("Test Source", GUID_NULL), m_pin(this, std::move(types))
{
}

HRESULT TestSourceFilter::PushSample(const SampleSpec& spec)
{
    ComPtr<IMediaSample> sample;
    HRESULT hr = m_pin.GetDeliveryBuffer(&sample);
    if (Failed(hr))
        return hr;
    if (spec.data.size() > size_t(sample->GetSize()))
        return E_INVALIDARG;
    uint8_t* p = nullptr;
    sample->GetPointer(&p);
    if (!spec.data.empty())
        std::memcpy(p, spec.data.data(), spec.data.size());
    sample->SetActualDataLength(int32_t(spec.data.size()));
    if (spec.start) {
        if (spec.stop)
            sample->SetTime(&*spec.start, &*spec.stop);
        else
            sample->SetTime(&*spec.start, nullptr);
    }
    sample->SetSyncPoint(spec.syncPoint);
    sample->SetDiscontinuity(spec.discontinuity);
    sample->SetPreroll(spec.preroll);
    if (spec.mediaType)
        sample->SetMediaType(&*spec.mediaType);
    return m_pin.Deliver(sample.Get());
}

std::vector<uint8_t> Ramp(size_t length, uint8_t seed)
{
    std::vector<uint8_t> v(length);
    for (size_t i = 0; i < length; ++i)
        v[i] = uint8_t(i + seed);
    return v;
}
