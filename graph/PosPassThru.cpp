#include "graph/PosPassThru.h"

CPosPassThru::CPosPassThru(IPin* input, IUnknown* owner) : m_input(input), m_owner(owner) { }

CPosPassThru::~CPosPassThru() = default;

uint32_t CPosPassThru::AddRef()
{
    if (m_owner)
        return m_owner->AddRef();
    return m_ref.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t CPosPassThru::Release()
{
    if (m_owner)
        return m_owner->Release();
    const uint32_t left = m_ref.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

HRESULT CPosPassThru::GetPeerSeeking(ComPtr<IMediaSeeking>* seeking)
{
    *seeking = nullptr;
    if (!m_input)
        return E_POINTER;
    ComPtr<IPin> peer;
    if (m_input->ConnectedTo(&peer) != S_OK || !peer)
        return VFW_E_NOT_CONNECTED;
    *seeking = QueryInterface<IMediaSeeking>(peer);
    return *seeking ? S_OK : E_NOTIMPL;
}

template <class Call>
static HRESULT Forward(CPosPassThru* self, Call&& call)
{
    ComPtr<IMediaSeeking> peer;
    const HRESULT hr = self->GetPeerSeeking(&peer);
    if (Failed(hr))
        return hr;
    return call(peer.Get());
}

HRESULT CPosPassThru::GetCapabilities(uint32_t* capabilities)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetCapabilities(capabilities); });
}
HRESULT CPosPassThru::CheckCapabilities(uint32_t* capabilities)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->CheckCapabilities(capabilities); });
}
HRESULT CPosPassThru::IsFormatSupported(const Guid& format)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->IsFormatSupported(format); });
}
HRESULT CPosPassThru::QueryPreferredFormat(Guid* format)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->QueryPreferredFormat(format); });
}
HRESULT CPosPassThru::GetTimeFormat(Guid* format)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetTimeFormat(format); });
}
HRESULT CPosPassThru::IsUsingTimeFormat(const Guid& format)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->IsUsingTimeFormat(format); });
}
HRESULT CPosPassThru::SetTimeFormat(const Guid& format)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->SetTimeFormat(format); });
}
HRESULT CPosPassThru::GetDuration(int64_t* duration)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetDuration(duration); });
}
HRESULT CPosPassThru::GetStopPosition(int64_t* stop)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetStopPosition(stop); });
}
HRESULT CPosPassThru::GetCurrentPosition(int64_t* current)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetCurrentPosition(current); });
}
HRESULT CPosPassThru::ConvertTimeFormat(
    int64_t* target, const Guid* targetFormat, int64_t source, const Guid* sourceFormat)
{
    return Forward(
        this, [&](IMediaSeeking* s) { return s->ConvertTimeFormat(target, targetFormat, source, sourceFormat); });
}
HRESULT CPosPassThru::SetPositions(int64_t* current, uint32_t currentFlags, int64_t* stop, uint32_t stopFlags)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->SetPositions(current, currentFlags, stop, stopFlags); });
}
HRESULT CPosPassThru::GetPositions(int64_t* current, int64_t* stop)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetPositions(current, stop); });
}
HRESULT CPosPassThru::GetAvailable(int64_t* earliest, int64_t* latest)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetAvailable(earliest, latest); });
}
HRESULT CPosPassThru::SetRate(double rate)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->SetRate(rate); });
}
HRESULT CPosPassThru::GetRate(double* rate)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetRate(rate); });
}
HRESULT CPosPassThru::GetPreroll(int64_t* preroll)
{
    return Forward(this, [&](IMediaSeeking* s) { return s->GetPreroll(preroll); });
}
