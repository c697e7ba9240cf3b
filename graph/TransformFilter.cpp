#include "graph/TransformFilter.h"

// ---- Input pin

CTransformInputPin::CTransformInputPin(CTransformFilter* filter, std::string name)
    : CBaseInputPin(filter, filter->FilterLock(), std::move(name)), m_transform(filter)
{
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType& type) { return m_transform->CheckInputType(type); }

HRESULT CTransformInputPin::SetMediaType(const CMediaType& type)
{
    HRESULT hr = CBaseInputPin::SetMediaType(type);
    if (Failed(hr))
        return hr;
    return m_transform->SetMediaType(PinDirection::Input, type);
}

HRESULT CTransformInputPin::CheckConnect(IPin* peer)
{
    const HRESULT hr = CBaseInputPin::CheckConnect(peer);
    if (Failed(hr))
        return hr;
    return m_transform->CheckConnect(PinDirection::Input, peer);
}

HRESULT CTransformInputPin::CompleteConnect(IPin* peer)
{
    const HRESULT hr = CBaseInputPin::CompleteConnect(peer);
    if (Failed(hr))
        return hr;
    return m_transform->CompleteConnect(PinDirection::Input, peer);
}

HRESULT CTransformInputPin::BreakConnect()
{
    m_transform->BreakConnect(PinDirection::Input);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    return m_transform->Receive(sample);
}

HRESULT CTransformInputPin::EndOfStream()
{
    const HRESULT hr = CBaseInputPin::EndOfStream();
    if (hr != S_OK)
        return hr;
    return m_transform->EndOfStream();
}

HRESULT CTransformInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    return m_transform->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush()
{
    const HRESULT hr = m_transform->EndFlush();
    CBaseInputPin::EndFlush();
    return hr;
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    CBaseInputPin::NewSegment(start, stop, rate);
    return m_transform->NewSegment(start, stop, rate);
}

// ---- Output pin

CTransformOutputPin::CTransformOutputPin(CTransformFilter* filter, std::string name)
    : CBaseOutputPin(filter, filter->FilterLock(), std::move(name)), m_transform(filter)
{
}

CTransformOutputPin::~CTransformOutputPin() = default;

HRESULT CTransformOutputPin::QueryInterfaceHook(const std::type_info& iid, IUnknown** object)
{
    if (iid == typeid(IMediaSeeking)) {
        std::lock_guard lock(m_lock);
        if (!m_seeking)
            m_seeking = std::make_unique<CPosPassThru>(m_transform->InputPin(), m_transform);
        *object = m_seeking.get();
        return S_OK;
    }
    return CBaseOutputPin::QueryInterfaceHook(iid, object);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType& type)
{
    CTransformInputPin* input = m_transform->InputPin();
    if (!input->IsConnected())
        return VFW_E_NOT_CONNECTED;
    return m_transform->CheckTransform(input->CurrentMediaType(), type);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (!m_transform->InputPin()->IsConnected())
        return VFW_E_NOT_CONNECTED;
    return m_transform->GetMediaType(position, type);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType& type)
{
    HRESULT hr = CBaseOutputPin::SetMediaType(type);
    if (Failed(hr))
        return hr;
    return m_transform->SetMediaType(PinDirection::Output, type);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* peer)
{
    if (!m_transform->InputPin()->IsConnected())
        return VFW_E_NOT_CONNECTED;
    const HRESULT hr = CBaseOutputPin::CheckConnect(peer);
    if (Failed(hr))
        return hr;
    return m_transform->CheckConnect(PinDirection::Output, peer);
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* peer)
{
    const HRESULT hr = CBaseOutputPin::CompleteConnect(peer);
    if (Failed(hr))
        return hr;
    return m_transform->CompleteConnect(PinDirection::Output, peer);
}

HRESULT CTransformOutputPin::BreakConnect()
{
    m_transform->BreakConnect(PinDirection::Output);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* request)
{
    return m_transform->DecideBufferSize(allocator, request);
}

// ---- Filter

CTransformFilter::CTransformFilter(std::string name, const Guid& clsid)
    : CBaseFilter(std::move(name), clsid),
      m_input(std::make_unique<CTransformInputPin>(this, "Input")),
      m_output(std::make_unique<CTransformOutputPin>(this, "Output"))
{
}

CTransformFilter::~CTransformFilter() = default;

CBasePin* CTransformFilter::GetPin(int n)
{
    if (n == 0)
        return m_input.get();
    if (n == 1)
        return m_output.get();
    return nullptr;
}

HRESULT CTransformFilter::Pause()
{
    std::lock_guard lock(m_lock);
    if (State() == FilterState::Stopped && m_input->IsConnected()) {
        const HRESULT hr = StartStreaming();
        if (Failed(hr))
            return hr;
    }
    return CBaseFilter::Pause();
}

HRESULT CTransformFilter::Stop()
{
    std::lock_guard lock(m_lock);
    if (State() == FilterState::Stopped)
        return S_OK;
    const bool streaming = m_input->IsConnected();
    const HRESULT hr = CBaseFilter::Stop();  // pins inactive: a Receive waiting for a buffer returns
    std::lock_guard receive(m_receiveLock);   // wait for the Receive in progress, if any
    if (streaming)
        StopStreaming();
    return hr;
}

HRESULT CTransformFilter::SetMediaType(PinDirection direction, const CMediaType& type)
{
    (void)direction;
    (void)type;
    return S_OK;
}

HRESULT CTransformFilter::CheckConnect(PinDirection direction, IPin* peer)
{
    (void)direction;
    (void)peer;
    return S_OK;
}

HRESULT CTransformFilter::CompleteConnect(PinDirection direction, IPin* peer)
{
    (void)direction;
    (void)peer;
    return S_OK;
}

HRESULT CTransformFilter::BreakConnect(PinDirection direction)
{
    (void)direction;
    return S_OK;
}

HRESULT CTransformFilter::StartStreaming() { return S_OK; }
HRESULT CTransformFilter::StopStreaming() { return S_OK; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* in, ComPtr<IMediaSample>* out)
{
    ComPtr<IMediaSample> sample;
    HRESULT hr = m_output->GetDeliveryBuffer(&sample);
    if (Failed(hr))
        return hr;
    REFERENCE_TIME start = 0, stop = 0;
    hr = in->GetTime(&start, &stop);
    if (hr == S_OK)
        sample->SetTime(&start, &stop);
    else if (hr == VFW_S_ESTIMATED)
        sample->SetTime(&start, nullptr);
    int64_t mediaStart = 0, mediaStop = 0;
    if (in->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
        sample->SetMediaTime(&mediaStart, &mediaStop);
    sample->SetSyncPoint(in->IsSyncPoint() == S_OK);
    sample->SetDiscontinuity(in->IsDiscontinuity() == S_OK);
    sample->SetPreroll(in->IsPreroll() == S_OK);
    *out = sample;
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample)
{
    std::lock_guard receive(m_receiveLock);
    if (!m_output->GetConnected())
        return S_OK;
    ComPtr<IMediaSample> out;
    HRESULT hr = InitializeOutputSample(sample, &out);
    if (Failed(hr))
        return hr;
    hr = Transform(sample, out.Get());
    if (hr == S_FALSE)
        return S_OK;
    if (Failed(hr))
        return hr;
    return m_output->Deliver(out.Get());
}

HRESULT CTransformFilter::EndOfStream()
{
    std::lock_guard receive(m_receiveLock);
    if (!m_output->GetConnected())
        return S_OK;
    return m_output->DeliverEndOfStream();
}

HRESULT CTransformFilter::BeginFlush()
{
    if (!m_output->GetConnected())
        return S_OK;
    return m_output->DeliverBeginFlush();
}

HRESULT CTransformFilter::EndFlush()
{
    if (!m_output->GetConnected())
        return S_OK;
    return m_output->DeliverEndFlush();
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    if (!m_output->GetConnected())
        return S_OK;
    return m_output->DeliverNewSegment(start, stop, rate);
}
