#include "graph/AsyncReader.h"

CAsyncOutputPin::CAsyncOutputPin(CAsyncReader* reader, std::recursive_mutex& lock, CAsyncStream* stream)
    : CBasePin(reader, lock, "Output", PinDirection::Output), m_reader(reader), m_stream(stream)
{
}

HRESULT CAsyncOutputPin::CheckMediaType(const CMediaType& type)
{
    const CMediaType offered = m_reader->OfferedType();
    if (!(type.majortype == offered.majortype))
        return S_FALSE;
    if (!(offered.subtype == GUID_NULL) && !(type.subtype == offered.subtype))
        return S_FALSE;
    return S_OK;
}

HRESULT CAsyncOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    *type = m_reader->OfferedType();
    return S_OK;
}

HRESULT CAsyncOutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT CAsyncOutputPin::EndFlush() { return E_UNEXPECTED; }

HRESULT CAsyncOutputPin::Length(int64_t* total, int64_t* available)
{
    if (!m_stream)
        return E_UNEXPECTED;
    int64_t now = 0;
    const int64_t length = m_stream->Size(&now);
    if (total)
        *total = length;
    if (available)
        *available = now;
    return S_OK;
}

HRESULT CAsyncOutputPin::SyncRead(int64_t position, int32_t length, uint8_t* buffer)
{
    int32_t read = 0;
    return SyncReadCount(position, length, buffer, &read);
}

HRESULT CAsyncOutputPin::SyncReadCount(int64_t position, int32_t length, uint8_t* buffer, int32_t* bytesRead)
{
    *bytesRead = 0;
    if (!m_stream)
        return E_UNEXPECTED;
    if (length < 0 || position < 0)
        return E_INVALIDARG;
    if (length == 0)
        return S_OK;
    if (!buffer)
        return E_POINTER;
    m_stream->Lock();
    HRESULT hr = m_stream->SetPointer(position);
    int32_t read = 0;
    if (Succeeded(hr))
        hr = m_stream->Read(buffer, length, true, &read);
    m_stream->Unlock();
    if (read < 0 || read > length)
        read = 0;
    *bytesRead = read;
    if (Failed(hr))
        return read > 0 ? S_FALSE : hr;
    return read == length ? S_OK : S_FALSE;
}

CAsyncReader::CAsyncReader(std::string name, const Guid& clsid, CAsyncStream* stream)
    : CBaseFilter(std::move(name), clsid), m_stream(stream), m_output(this, m_lock, stream)
{
}

CAsyncReader::~CAsyncReader() = default;

CBasePin* CAsyncReader::GetPin(int n) { return n == 0 ? &m_output : nullptr; }

CMediaType CAsyncReader::OfferedType()
{
    std::lock_guard lock(m_lock);
    return m_type;
}
