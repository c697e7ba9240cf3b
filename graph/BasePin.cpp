#include "graph/BasePin.h"

#include "graph/BaseFilter.h"

namespace {

// A given type leaves the choice open when its major type or subtype is null.
bool IsPartial(const CMediaType& type)
{
    return type.majortype == GUID_NULL || type.subtype == GUID_NULL;
}

bool MatchesPartial(const CMediaType& candidate, const CMediaType* wanted)
{
    if (!wanted)
        return true;
    if (!(wanted->majortype == GUID_NULL) && !(wanted->majortype == candidate.majortype))
        return false;
    if (!(wanted->subtype == GUID_NULL) && !(wanted->subtype == candidate.subtype))
        return false;
    if (!(wanted->formattype == GUID_NULL) && !(wanted->formattype == candidate.formattype))
        return false;
    return true;
}

// Upper bound on offered types asked for, against a GetMediaType that never ends.
constexpr int kMaxOfferedTypes = 256;

}  // namespace

CBasePin::CBasePin(CBaseFilter* filter, std::recursive_mutex& lock, std::string name, PinDirection direction)
    : m_filter(filter), m_lock(lock), m_name(std::move(name)), m_direction(direction)
{
}

CBasePin::~CBasePin() = default;

uint32_t CBasePin::AddRef() { return m_filter->AddRef(); }
uint32_t CBasePin::Release() { return m_filter->Release(); }

IBaseFilter* CBasePin::Filter() { return m_filter; }

bool CBasePin::IsConnected()
{
    std::lock_guard lock(m_lock);
    return bool(m_connected);
}

bool CBasePin::IsStopped() { return m_filter->IsStopped(); }

CMediaType CBasePin::CurrentMediaType()
{
    std::lock_guard lock(m_typeLock);
    return m_type;
}

HRESULT CBasePin::Connect(IPin* receivePin, const CMediaType* type)
{
    if (!receivePin)
        return E_POINTER;
    if (m_direction != PinDirection::Output)
        return E_UNEXPECTED;
    std::lock_guard lock(m_lock);
    if (m_connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    const HRESULT hr = CheckConnect(receivePin);
    if (Failed(hr)) {
        BreakConnect();
        return hr;
    }
    return AgreeMediaType(receivePin, type);
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* type)
{
    if (type && !IsPartial(*type)) {
        const HRESULT hr = AttemptConnection(receivePin, *type);
        if (Failed(hr))
            BreakConnect();
        return hr;
    }

    std::vector<CMediaType> candidates;
    for (int i = 0; i < kMaxOfferedTypes; ++i) {
        CMediaType mt;
        if (GetMediaType(i, &mt) != S_OK)
            break;
        candidates.push_back(std::move(mt));
    }
    std::vector<CMediaType> theirs;
    if (Succeeded(receivePin->EnumMediaTypes(&theirs)))
        candidates.insert(candidates.end(), theirs.begin(), theirs.end());

    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (const CMediaType& candidate : candidates) {
        if (!MatchesPartial(candidate, type))
            continue;
        const HRESULT hr = AttemptConnection(receivePin, candidate);
        if (Succeeded(hr))
            return hr;
        // A refused type says nothing new; a later step failing says why.
        if (hr != VFW_E_TYPE_NOT_ACCEPTED)
            last = hr;
    }
    BreakConnect();
    return last;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType& type)
{
    if (CheckMediaType(type) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    SetConnected(receivePin);
    HRESULT hr = SetMediaType(type);
    if (Succeeded(hr)) {
        hr = receivePin->ReceiveConnection(this, type);
        if (Succeeded(hr)) {
            hr = CompleteConnect(receivePin);
            if (Succeeded(hr))
                return S_OK;
            receivePin->Disconnect();
        }
    }
    ClearConnection();
    return hr;
}

void CBasePin::SetConnected(IPin* peer)
{
    m_connected = ComPtr<IPin>(peer);
    m_peer.store(peer, std::memory_order_release);
}

void CBasePin::ClearConnection()
{
    m_peer.store(nullptr, std::memory_order_release);
    m_connected.Reset();
    std::lock_guard lock(m_typeLock);
    m_type = CMediaType();
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const CMediaType& type)
{
    if (!connector)
        return E_POINTER;
    if (m_direction != PinDirection::Input)
        return E_UNEXPECTED;
    std::lock_guard lock(m_lock);
    if (m_connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(connector);
    if (Failed(hr)) {
        BreakConnect();
        return hr;
    }
    if (CheckMediaType(type) != S_OK) {
        BreakConnect();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    SetConnected(connector);
    hr = SetMediaType(type);
    if (Succeeded(hr))
        hr = CompleteConnect(connector);
    if (Failed(hr)) {
        ClearConnection();
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT CBasePin::Disconnect()
{
    std::lock_guard lock(m_lock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    if (!m_connected)
        return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (Failed(hr))
        return hr;
    ClearConnection();
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(ComPtr<IPin>* pin)
{
    if (!pin)
        return E_POINTER;
    // Lock-free, so streaming threads may walk connections: they change only while stopped.
    *pin = ComPtr<IPin>(GetConnected());
    return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT CBasePin::ConnectionMediaType(CMediaType* type)
{
    if (!type)
        return E_POINTER;
    if (!GetConnected()) {
        *type = CMediaType();
        return VFW_E_NOT_CONNECTED;
    }
    *type = CurrentMediaType();
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const CMediaType& type) { return CheckMediaType(type) == S_OK ? S_OK : S_FALSE; }

HRESULT CBasePin::EnumMediaTypes(std::vector<CMediaType>* types)
{
    if (!types)
        return E_POINTER;
    types->clear();
    for (int i = 0; i < kMaxOfferedTypes; ++i) {
        CMediaType mt;
        if (GetMediaType(i, &mt) != S_OK)
            break;
        types->push_back(std::move(mt));
    }
    return S_OK;
}

HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    m_segmentStart = start;
    m_segmentStop = stop;
    m_segmentRate = rate;
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int position, CMediaType* type)
{
    (void)type;
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT CBasePin::SetMediaType(const CMediaType& type)
{
    std::lock_guard lock(m_typeLock);
    m_type = type;
    return S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* peer)
{
    if (!peer)
        return E_POINTER;
    return peer->QueryDirection() == m_direction ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin* peer)
{
    (void)peer;
    return S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() { return S_OK; }
