#include "graph/MediaSample.h"

#include <cstdint>

#include "graph/MemAllocator.h"

CMediaSample::CMediaSample(CMemAllocator* allocator, int32_t size, int32_t align, int32_t prefix, uint64_t generation)
    : m_allocator(allocator), m_generation(generation), m_size(size)
{
    if (align < 1)
        align = 1;
    const size_t total = size_t(size) + size_t(prefix) + size_t(align - 1);
    m_storage = std::make_unique<uint8_t[]>(total ? total : 1);
    const uintptr_t base = reinterpret_cast<uintptr_t>(m_storage.get()) + uintptr_t(prefix);
    const uintptr_t aligned = (base + uintptr_t(align - 1)) & ~uintptr_t(align - 1);
    m_buffer = reinterpret_cast<uint8_t*>(aligned);
}

CMediaSample::~CMediaSample() = default;

uint32_t CMediaSample::AddRef() { return m_ref.fetch_add(1, std::memory_order_relaxed) + 1; }

uint32_t CMediaSample::Release()
{
    const uint32_t left = m_ref.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        if (m_allocator)
            m_allocator->ReleaseBuffer(this);
        else
            delete this;
    }
    return left;
}

HRESULT CMediaSample::GetPointer(uint8_t** buffer)
{
    if (!buffer)
        return E_POINTER;
    *buffer = m_buffer;
    return S_OK;
}

int32_t CMediaSample::GetSize() { return m_size; }
int32_t CMediaSample::GetActualDataLength() { return m_actual; }

HRESULT CMediaSample::SetActualDataLength(int32_t length)
{
    if (length < 0 || length > m_size)
        return E_INVALIDARG;
    m_actual = length;
    return S_OK;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop)
{
    if (!start || !stop)
        return E_POINTER;
    if (!m_timeValid)
        return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = m_start;
    if (m_stopValid) {
        *stop = m_stop;
        return S_OK;
    }
    *stop = m_start + 1;
    return VFW_S_ESTIMATED;
}

HRESULT CMediaSample::SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop)
{
    m_timeValid = start != nullptr;
    m_stopValid = start != nullptr && stop != nullptr;
    m_start = start ? *start : 0;
    m_stop = m_stopValid ? *stop : 0;
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(int64_t* start, int64_t* stop)
{
    if (!start || !stop)
        return E_POINTER;
    if (!m_mediaTimeValid)
        return VFW_E_MEDIA_TIME_NOT_SET;
    *start = m_mediaStart;
    *stop = m_mediaStop;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(const int64_t* start, const int64_t* stop)
{
    m_mediaTimeValid = start != nullptr && stop != nullptr;
    m_mediaStart = m_mediaTimeValid ? *start : 0;
    m_mediaStop = m_mediaTimeValid ? *stop : 0;
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return m_syncPoint ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(bool on)
{
    m_syncPoint = on;
    return S_OK;
}
HRESULT CMediaSample::IsDiscontinuity() { return m_discontinuity ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(bool on)
{
    m_discontinuity = on;
    return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return m_preroll ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(bool on)
{
    m_preroll = on;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(CMediaType* type)
{
    if (!type)
        return E_POINTER;
    if (!m_type)
        return S_FALSE;
    *type = *m_type;
    return S_OK;
}

HRESULT CMediaSample::SetMediaType(const CMediaType* type)
{
    if (type)
        m_type = *type;
    else
        m_type.reset();
    return S_OK;
}

void CMediaSample::Reset()
{
    m_actual = 0;
    m_timeValid = m_stopValid = m_mediaTimeValid = false;
    m_start = m_stop = m_mediaStart = m_mediaStop = 0;
    m_syncPoint = m_discontinuity = m_preroll = false;
    m_type.reset();
}
