// CDVDReader: the DVD source filter. Its one output pin serves a title (or chapter) of the
// open disc as a byte stream (IAsyncReader) to the demultiplexer.
//
// Calling order used by every pipeline builder (control thread): create, add to the graph,
// SetDvdHandle with the open disc's handle, SetArea with the entry's title and chapter,
// GetDuration, then connect the output pin.
#pragma once

#include <cstdint>
#include <string>

#include "dvd/DVDStream.h"
#include "graph/AsyncReader.h"
#include "graph/Interfaces.h"

constexpr Guid CLSID_DVDSource = MakeGuid(0x783EAEDE, 0xD5EE, 0x4FCE, 0x1C8F, 0xA4F53D0A2F73ull);
constexpr Guid IID_IMyDVDReader = MakeGuid(0x1ADB4EE7, 0x45A0, 0x4459, 0xA508, 0xAD77B32C01B2ull);

class IMyDVDReader : public virtual IUnknown {
public:
    // Attaches a handle opened elsewhere (never closed by the filter); the file name becomes
    // "DVD". E_FAIL when the stream's buffer cannot be had.
    virtual HRESULT SetDvdHandle(int32_t handle) = 0;
    // Title from 0; chapter from 0 or -1 for the whole title. S_OK.
    virtual HRESULT SetArea(int32_t title, int32_t chapter) = 0;
    // The selected title's play time in ms (the chapter does not matter). S_OK.
    virtual HRESULT GetDuration(int64_t* durationMs) = 0;
};

class CDVDReader : public CAsyncReader, public virtual IFileSourceFilter, public virtual IMyDVDReader {
public:
    explicit CDVDReader(const DvdLibrary& library = DvdLibrary::Real());

    // IMyDVDReader.
    HRESULT SetDvdHandle(int32_t handle) override;
    HRESULT SetArea(int32_t title, int32_t chapter) override;
    HRESULT GetDuration(int64_t* durationMs) override;

    // IFileSourceFilter: Load opens a disc by path (the filter then owns the handle).
    HRESULT Load(const std::string& fileName, const CMediaType* type) override;
    HRESULT GetCurFile(std::string* fileName, CMediaType* type) override;

    // The disc record the stream read at the last open or attach.
    const DvdDiscInfo& DiscInfo() const { return m_stream.DiscInfo(); }
    // The access layer's reason when reading failed (an encrypted disc, too many bad
    // sectors), or "".
    std::string ReadError() { return m_stream.ReadError(); }

private:
    void SetStreamType();

    CDVDStream m_stream;
    std::string m_fileName;  // guarded by the filter lock
};
