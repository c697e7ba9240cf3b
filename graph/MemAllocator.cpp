#include "graph/MemAllocator.h"

#include "graph/MediaSample.h"

CMemAllocator::~CMemAllocator()
{
    // No sample can be out: each one holds a reference on the allocator.
    for (CMediaSample* s : m_free)
        delete s;
}

HRESULT CMemAllocator::SetProperties(const AllocatorProperties& request, AllocatorProperties* actual)
{
    if (!actual)
        return E_POINTER;
    std::lock_guard lock(m_lock);
    if (m_committed)
        return VFW_E_ALREADY_COMMITTED;
    AllocatorProperties p = request;
    if (p.cbAlign <= 0)
        p.cbAlign = 1;
    if ((p.cbAlign & (p.cbAlign - 1)) != 0)
        return VFW_E_BADALIGN;
    if (p.cBuffers < 0 || p.cbBuffer < 0 || p.cbPrefix < 0)
        return E_INVALIDARG;
    if (p.cBuffers == 0)
        p.cBuffers = 1;
    m_props = p;
    m_propsSet = true;
    *actual = p;
    return S_OK;
}

HRESULT CMemAllocator::GetProperties(AllocatorProperties* actual)
{
    if (!actual)
        return E_POINTER;
    std::lock_guard lock(m_lock);
    *actual = m_props;
    return S_OK;
}

HRESULT CMemAllocator::Commit()
{
    std::lock_guard lock(m_lock);
    if (m_committed)
        return S_OK;
    if (!m_propsSet)
        return VFW_E_SIZENOTSET;
    for (int32_t i = int32_t(m_free.size()); i < m_props.cBuffers; ++i)
        m_free.push_back(new CMediaSample(this, m_props.cbBuffer, m_props.cbAlign, m_props.cbPrefix, m_generation));
    m_committed = true;
    return S_OK;
}

void CMemAllocator::FreeIdleLocked()
{
    for (CMediaSample* s : m_free)
        delete s;
    m_free.clear();
}

HRESULT CMemAllocator::Decommit()
{
    {
        std::lock_guard lock(m_lock);
        if (!m_committed)
            return S_OK;
        m_committed = false;
        ++m_generation;
        m_outstanding = 0;
        FreeIdleLocked();
    }
    m_freed.notify_all();
    return S_OK;
}

HRESULT CMemAllocator::GetBuffer(ComPtr<IMediaSample>* sample, const REFERENCE_TIME* start,
                                 const REFERENCE_TIME* stop, uint32_t flags)
{
    if (!sample)
        return E_POINTER;
    *sample = nullptr;
    CMediaSample* s = nullptr;
    {
        std::unique_lock lock(m_lock);
        if (!(flags & AM_GBF_NOWAIT))
            m_freed.wait(lock, [&] { return !m_committed || !m_free.empty(); });
        if (!m_committed)
            return VFW_E_NOT_COMMITTED;
        if (m_free.empty())
            return VFW_E_TIMEOUT;
        s = m_free.back();
        m_free.pop_back();
        ++m_outstanding;
    }
    AddRef();  // held by the sample until it comes back
    s->Reset();
    s->SetTime(start, start ? stop : nullptr);
    *sample = ComPtr<IMediaSample>(s);
    return S_OK;
}

HRESULT CMemAllocator::ReleaseBuffer(IMediaSample* sample)
{
    auto* s = dynamic_cast<CMediaSample*>(sample);
    if (!s)
        return E_INVALIDARG;
    bool kept = false;
    {
        std::lock_guard lock(m_lock);
        if (s->Generation() == m_generation) {
            --m_outstanding;
            if (m_committed) {
                m_free.push_back(s);
                kept = true;
            }
        }
    }
    if (kept)
        m_freed.notify_one();
    else
        delete s;
    Release();  // the reference the sample held; may delete this
    return S_OK;
}

int32_t CMemAllocator::Outstanding()
{
    std::lock_guard lock(m_lock);
    return m_outstanding;
}
