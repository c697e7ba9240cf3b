#include "dvd/DVDReader.h"

CDVDReader::CDVDReader(const DvdLibrary& library)
    : CAsyncReader("DVD Source", CLSID_DVDSource, &m_stream), m_stream(library)
{
}

void CDVDReader::SetStreamType()
{
    std::lock_guard guard(FilterLock());
    m_type = CMediaType(MEDIATYPE_Stream, GUID_NULL);
}

HRESULT CDVDReader::SetDvdHandle(int32_t handle)
{
    const HRESULT hr = m_stream.AttachHandle(static_cast<DvdHandle>(handle));
    if (Failed(hr))
        return hr;
    {
        std::lock_guard guard(FilterLock());
        m_fileName = "DVD";
    }
    SetStreamType();
    return S_OK;
}

HRESULT CDVDReader::SetArea(int32_t title, int32_t chapter)
{
    return m_stream.SelectArea(title, chapter);
}

HRESULT CDVDReader::GetDuration(int64_t* durationMs)
{
    if (!durationMs)
        return E_POINTER;
    *durationMs = m_stream.DurationMs();
    return S_OK;
}

HRESULT CDVDReader::Load(const std::string& fileName, const CMediaType*)
{
    if (!m_stream.OpenFromPath(fileName))
        return E_FAIL;
    {
        std::lock_guard guard(FilterLock());
        m_fileName = fileName;
    }
    SetStreamType();
    return S_OK;
}

HRESULT CDVDReader::GetCurFile(std::string* fileName, CMediaType*)
{
    if (!fileName)
        return E_POINTER;
    std::lock_guard guard(FilterLock());
    *fileName = m_fileName;
    return S_OK;
}
