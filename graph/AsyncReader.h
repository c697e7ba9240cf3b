// A source filter over a byte stream: its one output pin offers IAsyncReader (synchronous
// reads at an offset) to a pull-mode input such as the demultiplexer's.
#pragma once

#include <cstdint>

#include "graph/AsyncReaderInterface.h"
#include "graph/BaseFilter.h"
#include "graph/BasePin.h"

// The stream contract a source writes. The reader serves every request as Lock, SetPointer,
// Read, Unlock, so a stream sees one request at a time; its own control calls take the same
// lock. Called from the demultiplexer's worker thread and the control thread.
class CAsyncStream {
public:
    virtual ~CAsyncStream() = default;
    virtual HRESULT SetPointer(int64_t position) = 0;
    // Reads up to `count` bytes; `bytesRead` (may be null) gets the count read.
    virtual HRESULT Read(uint8_t* buffer, int32_t count, bool aligned, int32_t* bytesRead) = 0;
    // The length now; `available` (may be null) gets the bytes readable now.
    virtual int64_t Size(int64_t* available = nullptr) = 0;
    virtual int32_t Alignment() = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

class CAsyncReader;

// Offers the reader's media type only and connects only to an input that accepts it.
class CAsyncOutputPin : public CBasePin, public virtual IAsyncReader {
public:
    CAsyncOutputPin(CAsyncReader* reader, std::recursive_mutex& lock, CAsyncStream* stream);

    HRESULT CheckMediaType(const CMediaType& type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT BeginFlush() override;  // E_UNEXPECTED
    HRESULT EndFlush() override;    // E_UNEXPECTED

    // IAsyncReader. Any thread.
    HRESULT Length(int64_t* total, int64_t* available) override;
    // S_OK when all `length` bytes were read; S_FALSE with the short count read (the rest of
    // the buffer untouched) when the end was met; the stream's failure when nothing was read.
    HRESULT SyncRead(int64_t position, int32_t length, uint8_t* buffer) override;
    // The same with the count read.
    HRESULT SyncReadCount(int64_t position, int32_t length, uint8_t* buffer, int32_t* bytesRead);

private:
    CAsyncReader* m_reader;
    CAsyncStream* m_stream;
};

// A derived source sets m_type (the offered type, MEDIATYPE_Stream) under the filter lock
// before it is connected, and supplies the stream, which must outlive the filter's pin (a
// member of the derived class).
class CAsyncReader : public CBaseFilter {
public:
    CAsyncReader(std::string name, const Guid& clsid, CAsyncStream* stream);
    ~CAsyncReader() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    CMediaType OfferedType();

protected:
    CMediaType m_type{MEDIATYPE_Stream, GUID_NULL};  // guarded by the filter lock
    CAsyncStream* m_stream;
    CAsyncOutputPin m_output;
};
