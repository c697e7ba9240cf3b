// A seekable, cached byte and bit reader over a source's IAsyncReader.
//
// Threads: an instance is used by one thread at a time (the scanner's caller while the
// stream is scanned, then the demux thread); it holds no lock.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/AsyncReaderInterface.h"
#include "graph/Result.h"

class CBaseSplitterFile {
public:
    // hr: S_OK, E_UNEXPECTED (no reader), E_FAIL (length query failed, random access
    // required but absent, a streaming source not allowed, negative length) or E_OUTOFMEMORY.
    CBaseSplitterFile(IAsyncReader* reader, HRESULT& hr, int64_t cacheSize = 65536,
                      bool requireRandomAccess = true, bool allowStreaming = false);
    virtual ~CBaseSplitterFile() = default;
    CBaseSplitterFile(const CBaseSplitterFile&) = delete;
    CBaseSplitterFile& operator=(const CBaseSplitterFile&) = delete;

    // Copies n bytes at the current byte position through the cache and advances by n.
    // S_OK; S_FALSE when the end was met (nothing more copied); the source's failure.
    virtual HRESULT Read(uint8_t* dst, int64_t n);
    // Called once when a source that was not random access has become complete.
    virtual void OnSourceComplete() {}
    // Clamps to [0, Length()] and empties the bit buffer.
    virtual void Seek(int64_t pos);

    int64_t Position() const { return m_pos - (m_bitCount >> 3); }
    // Streaming sources are asked every time; others only when refresh is set.
    int64_t Length(bool refresh = false);
    int64_t Remaining();
    bool IsStreaming() const { return m_streaming; }
    bool IsRandomAccess() const { return m_randomAccess; }

    // The next n bits (n <= 64), most significant first; 0 once the source has no more bytes.
    // A peek leaves them buffered, so Position() does not move.
    uint64_t ReadBits(int n, bool peek = false);
    uint64_t PeekBits(int n) { return ReadBits(n, true); }
    void AlignToByte() { m_bitCount &= ~7; }
    // Reads whole bytes from Position(): bytes held in the bit buffer are read again.
    HRESULT ReadBytes(uint8_t* dst, int64_t n);
    // Moves Position() forward by n bytes (clamped to the length).
    void Skip(int64_t n) { Seek(Position() + n); }
    // Non-streaming: S_OK while bytes are left, else E_FAIL. Streaming: S_OK when n bytes are
    // available, else sleeps ms milliseconds (when non-zero) and returns S_FALSE.
    HRESULT WaitForData(int64_t n, uint32_t ms);
    // Finds the next 00 00 01 xx within `limit` bytes; code = xx, the position just after it.
    bool NextStartCode(uint8_t& code, int64_t limit = 65536);

protected:
    // The whole read state, for a caller that must read elsewhere and come back exactly
    // (bit buffer included).
    struct ReadState {
        int64_t pos;
        uint64_t bitBuffer;
        int bitCount;
    };
    ReadState SaveState() const { return {m_pos, m_bitBuffer, m_bitCount}; }
    void RestoreState(const ReadState& s)
    {
        m_pos = s.pos;
        m_bitBuffer = s.bitBuffer;
        m_bitCount = s.bitCount;
    }

    IAsyncReader* Reader() const { return m_reader.Get(); }

private:
    void CheckSourceComplete();
    bool RefillCache();
    bool ReadByte(uint8_t& b)
    {
        if (m_pos >= m_cachePos && m_pos < m_cachePos + m_cacheLen) {
            b = m_cache[size_t(m_pos - m_cachePos)];
            ++m_pos;
            return true;
        }
        return Read(&b, 1) == S_OK;
    }

    ComPtr<IAsyncReader> m_reader;
    std::vector<uint8_t> m_cache;
    int64_t m_cachePos = 0;
    int64_t m_cacheLen = 0;
    int64_t m_cacheTotal = 0;
    bool m_streaming = false;
    bool m_randomAccess = false;
    int64_t m_pos = 0;
    int64_t m_len = 0;
    uint64_t m_bitBuffer = 0;
    int m_bitCount = 0;
};
