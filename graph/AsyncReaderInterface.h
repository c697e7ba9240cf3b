// What a source offers to the demultiplexer: a byte stream with synchronous reads at an
// offset. Served by the asynchronous reader base (graph/AsyncReader.h) over a stream.
#pragma once

#include <cstdint>

#include "graph/Unknown.h"

class IAsyncReader : public virtual IUnknown {
public:
    // total: the stream's length; available: bytes that can be read now (less than total for
    // a growing stream). S_OK, or a failure.
    virtual HRESULT Length(int64_t* total, int64_t* available) = 0;
    // Reads exactly `length` bytes at `position`. S_OK when all were read, S_FALSE for a
    // partial read (the end was met), a failure otherwise.
    virtual HRESULT SyncRead(int64_t position, int32_t length, uint8_t* buffer) = 0;
};

// Optional source interface: a source that can shift all time stamps receives the address
// of the splitter's time-stamp offset.
class ISyncReader : public virtual IUnknown {
public:
    virtual HRESULT SetPtsOffset(int64_t* ptsOffset) = 0;
};
