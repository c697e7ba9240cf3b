#include "filters/TeeFilter.h"

// ---- Input pin

CMyTeeInputPin::CMyTeeInputPin(CMyTeeFilter* filter)
    : CBaseInputPin(filter, filter->FilterLock(), "Input"), m_tee(filter)
{
}

HRESULT CMyTeeInputPin::CheckMediaType(const CMediaType& type)
{
    if (!(type.majortype == MEDIATYPE_Video) || !(type.subtype == MEDIASUBTYPE_YV12) ||
        !(type.formattype == FORMAT_VideoInfo))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    if (!bmi || bmi->biHeight <= 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMyTeeInputPin::SetMediaType(const CMediaType& type)
{
    std::lock_guard lock(m_lock);
    const HRESULT hr = CBaseInputPin::SetMediaType(type);
    if (Failed(hr))
        return hr;
    m_tee->SetInputType(type);
    return S_OK;
}

HRESULT CMyTeeInputPin::Receive(IMediaSample* sample)
{
    if (!sample)
        return E_POINTER;
    for (int i = 0; i < 2; ++i) {
        CMyTeeOutputPin* out = m_tee->Output(i);
        if (out->GetConnected())
            out->DeliverSample(sample);
    }
    return S_OK;
}

HRESULT CMyTeeInputPin::EndOfStream()
{
    m_tee->Output(0)->QueueEndOfStream();
    m_tee->Output(1)->QueueEndOfStream();
    return S_OK;
}

HRESULT CMyTeeInputPin::BeginFlush()
{
    m_tee->Output(0)->QueueBeginFlush();
    m_tee->Output(1)->QueueBeginFlush();
    return CBaseInputPin::BeginFlush();
}

HRESULT CMyTeeInputPin::EndFlush()
{
    m_tee->Output(0)->QueueEndFlush();
    m_tee->Output(1)->QueueEndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CMyTeeInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    m_tee->Output(0)->QueueNewSegment(start, stop, rate);
    m_tee->Output(1)->QueueNewSegment(start, stop, rate);
    return CBaseInputPin::NewSegment(start, stop, rate);
}

// ---- Output pins

CMyTeeOutputPin::CMyTeeOutputPin(CMyTeeFilter* filter, std::string name)
    : CBaseOutputPin(filter, filter->FilterLock(), std::move(name)), m_tee(filter)
{
}

CMyTeeOutputPin::~CMyTeeOutputPin() = default;

HRESULT CMyTeeOutputPin::QueryInterfaceHook(const std::type_info& iid, IUnknown** object)
{
    if (iid == typeid(IMediaSeeking)) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    return CBaseOutputPin::QueryInterfaceHook(iid, object);
}

HRESULT CMyTeeOutputPin::CheckMediaType(const CMediaType& type)
{
    const CMediaType input = m_tee->InputType();
    if (!input.IsValid() || !(type == input))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMyTeeOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    const CMediaType input = m_tee->InputType();
    if (position > 0 || !input.IsValid())
        return VFW_S_NO_MORE_ITEMS;
    *type = input;
    return S_OK;
}

HRESULT CMyTeeOutputPin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request)
{
    const CMediaType type = CurrentMediaType();
    const BitmapInfoHeader* bmi = type.VideoBitmapHeader();
    AllocatorProperties asked;
    asked.cBuffers = 5;
    asked.cbBuffer = bmi ? int32_t(bmi->biSizeImage) : 0;
    asked.cbAlign = request->cbAlign > 0 ? request->cbAlign : 1;
    asked.cbPrefix = request->cbPrefix;
    AllocatorProperties actual;
    const HRESULT hr = allocator->SetProperties(asked, &actual);
    if (Failed(hr))
        return hr;
    return actual.cbBuffer < asked.cbBuffer ? E_FAIL : S_OK;
}

HRESULT CMyTeeOutputPin::Active()
{
    IPin* peer = GetConnected();
    if (peer) {
        std::unique_ptr<COutputQueue> queue;
        const HRESULT hr = COutputQueue::Create(peer, 5, 5, &queue);
        if (Failed(hr))
            return hr;
        if (!queue)
            return E_OUTOFMEMORY;
        std::lock_guard lock(m_queueLock);
        m_queue = std::shared_ptr<COutputQueue>(std::move(queue));
    }
    return CBaseOutputPin::Active();
}

HRESULT CMyTeeOutputPin::Inactive()
{
    std::shared_ptr<COutputQueue> queue;
    {
        std::lock_guard lock(m_queueLock);
        queue.swap(m_queue);
    }
    // The downstream is stopped already, so a delivery waiting in the queue for room is let
    // go by the refused downstream result; the queue goes with the last reference (here, or
    // at the end of that delivery).
    queue.reset();
    return CBaseOutputPin::Inactive();
}

std::shared_ptr<COutputQueue> CMyTeeOutputPin::Queue()
{
    std::lock_guard lock(m_queueLock);
    return m_queue;
}

HRESULT CMyTeeOutputPin::DeliverSample(IMediaSample* sample)
{
    if (!sample)
        return E_POINTER;
    std::shared_ptr<COutputQueue> queue = Queue();
    if (!queue)
        return S_OK;
    return queue->Receive(ComPtr<IMediaSample>(sample));
}

void CMyTeeOutputPin::QueueEndOfStream()
{
    if (std::shared_ptr<COutputQueue> queue = Queue())
        queue->EndOfStream();
}

void CMyTeeOutputPin::QueueBeginFlush()
{
    if (std::shared_ptr<COutputQueue> queue = Queue())
        queue->BeginFlush();
}

void CMyTeeOutputPin::QueueEndFlush()
{
    if (std::shared_ptr<COutputQueue> queue = Queue())
        queue->EndFlush();
}

void CMyTeeOutputPin::QueueNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    if (std::shared_ptr<COutputQueue> queue = Queue())
        queue->NewSegment(start, stop, rate);
}

// ---- Filter

CMyTeeFilter::CMyTeeFilter()
    : CBaseFilter("Tee", CLSID_MyTee),
      m_inputPin(std::make_unique<CMyTeeInputPin>(this)),
      m_output0(std::make_unique<CMyTeeOutputPin>(this, "Output0")),
      m_output1(std::make_unique<CMyTeeOutputPin>(this, "Output1"))
{
}

CMyTeeFilter::~CMyTeeFilter() = default;

CBasePin* CMyTeeFilter::GetPin(int n)
{
    switch (n) {
    case 0: return m_inputPin.get();
    case 1: return m_output0.get();
    case 2: return m_output1.get();
    default: return nullptr;
    }
}

CMediaType CMyTeeFilter::InputType()
{
    std::lock_guard lock(m_lock);
    return m_inputType;
}

void CMyTeeFilter::SetInputType(const CMediaType& type)
{
    std::lock_guard lock(m_lock);
    m_inputType = type;
}
