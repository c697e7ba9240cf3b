#include "demux/BaseSplitterFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

CBaseSplitterFile::CBaseSplitterFile(IAsyncReader* reader, HRESULT& hr, int64_t cacheSize,
                                     bool requireRandomAccess, bool allowStreaming)
    : m_reader(reader)
{
    if (!reader) {
        hr = E_UNEXPECTED;
        return;
    }
    int64_t total = 0, available = 0;
    const HRESULT lengthHr = reader->Length(&total, &available);
    m_streaming = total == 0 && available > 0;
    m_randomAccess = total > 0 && total == available;
    m_len = total;
    if (Failed(lengthHr) || (requireRandomAccess && !m_randomAccess) || (!allowStreaming && m_streaming) ||
        m_len < 0) {
        hr = E_FAIL;
        return;
    }
    if (cacheSize > 0) {
        try {
            m_cache.resize(size_t(cacheSize));
            m_cacheTotal = cacheSize;
        } catch (const std::bad_alloc&) {
            m_cacheTotal = 0;
            hr = E_OUTOFMEMORY;
            return;
        }
    }
    hr = S_OK;
}

int64_t CBaseSplitterFile::Length(bool refresh)
{
    if (m_streaming || refresh) {
        int64_t total = 0, available = 0;
        if (m_reader && Succeeded(m_reader->Length(&total, &available)))
            m_len = m_streaming ? available : total;
    }
    return m_len;
}

int64_t CBaseSplitterFile::Remaining()
{
    const int64_t left = Length(true) - Position();
    return left > 0 ? left : 0;
}

void CBaseSplitterFile::CheckSourceComplete()
{
    if (m_randomAccess)
        return;
    int64_t total = 0, available = 0;
    if (Succeeded(m_reader->Length(&total, &available)) && total == available) {
        // Set first: the override reads through Read() again.
        m_randomAccess = true;
        OnSourceComplete();
    }
}

bool CBaseSplitterFile::RefillCache()
{
    const int64_t size = std::min(m_cacheTotal, Length() - m_pos);
    if (size <= 0 || m_pos < 0)
        return false;
    m_cacheLen = 0;
    if (m_reader->SyncRead(m_pos, int32_t(size), m_cache.data()) != S_OK)
        return false;
    m_cachePos = m_pos;
    m_cacheLen = size;
    return true;
}

HRESULT CBaseSplitterFile::Read(uint8_t* dst, int64_t n)
{
    if (!m_reader)
        return E_NOINTERFACE;
    CheckSourceComplete();
    if (n <= 0)
        return S_OK;

    if (m_cacheTotal == 0 || m_cache.empty()) {
        const HRESULT hr = m_reader->SyncRead(m_pos, int32_t(std::min<int64_t>(n, INT32_MAX)), dst);
        m_pos += n;
        return hr;
    }

    if (m_pos >= m_cachePos && m_pos < m_cachePos + m_cacheLen) {
        const int64_t k = std::min(n, m_cachePos + m_cacheLen - m_pos);
        std::memcpy(dst, m_cache.data() + (m_pos - m_cachePos), size_t(k));
        m_pos += k;
        dst += k;
        n -= k;
    }

    while (n >= m_cacheTotal) {
        const HRESULT hr = m_reader->SyncRead(m_pos, int32_t(m_cacheTotal), dst);
        if (hr != S_OK)
            return hr;
        m_pos += m_cacheTotal;
        dst += m_cacheTotal;
        n -= m_cacheTotal;
    }

    while (n > 0) {
        const int64_t size = std::min(m_cacheTotal, Length() - m_pos);
        if (size <= 0 || m_pos < 0)
            return S_FALSE;
        m_cacheLen = 0;
        const HRESULT hr = m_reader->SyncRead(m_pos, int32_t(size), m_cache.data());
        if (hr != S_OK)
            return Failed(hr) ? hr : S_FALSE;
        m_cachePos = m_pos;
        m_cacheLen = size;
        const int64_t k = std::min(n, m_cacheLen);
        std::memcpy(dst, m_cache.data(), size_t(k));
        m_pos += k;
        dst += k;
        n -= k;
    }
    return S_OK;
}

void CBaseSplitterFile::Seek(int64_t pos)
{
    const int64_t len = Length();
    m_pos = std::clamp<int64_t>(pos, 0, std::max<int64_t>(len, 0));
    m_bitBuffer = 0;
    m_bitCount = 0;
}

uint64_t CBaseSplitterFile::ReadBits(int n, bool peek)
{
    if (n <= 0)
        return 0;
    if (n > 64)
        n = 64;
    if (n > 56 && (m_bitCount & 7) && m_bitCount < n) {
        // Too wide for one buffer fill when the buffer holds a partial byte: two halves.
        const ReadState saved = SaveState();
        const uint64_t hi = ReadBits(n - 32);
        const uint64_t lo = ReadBits(32);
        if (peek)
            RestoreState(saved);
        return hi << 32 | lo;
    }
    while (m_bitCount < n) {
        uint8_t b;
        if (!ReadByte(b)) {
            // Past the end. A read drops what it had buffered, so that later narrower reads
            // cannot return stale bits as if they followed on; a peek leaves it.
            if (!peek) {
                m_bitBuffer = 0;
                m_bitCount = 0;
            }
            return 0;
        }
        m_bitBuffer = m_bitBuffer << 8 | b;
        m_bitCount += 8;
    }
    const uint64_t mask = n == 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
    const uint64_t ret = (m_bitBuffer >> (m_bitCount - n)) & mask;
    if (!peek) {
        m_bitCount -= n;
        m_bitBuffer &= m_bitCount == 0 ? 0 : (uint64_t(1) << m_bitCount) - 1;
    }
    return ret;
}

HRESULT CBaseSplitterFile::ReadBytes(uint8_t* dst, int64_t n)
{
    Seek(Position());
    return Read(dst, n);
}

HRESULT CBaseSplitterFile::WaitForData(int64_t n, uint32_t ms)
{
    const int64_t available = Length() - Position();
    if (!m_streaming)
        return available <= 0 ? E_FAIL : S_OK;
    if (available >= n)
        return S_OK;
    if (ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return S_FALSE;
}

bool CBaseSplitterFile::NextStartCode(uint8_t& code, int64_t limit)
{
    AlignToByte();
    // Whole bytes still in the bit buffer have not been consumed: go back to them so that
    // the search runs over the cache directly.
    if (m_bitCount)
        Seek(Position());

    uint32_t window = 0xFFFFFFFFu;
    int64_t consumed = 0;
    for (;;) {
        if (consumed >= limit)
            return false;
        const int64_t remaining = Remaining();
        if (remaining == 0)
            return false;
        if (!(m_pos >= m_cachePos && m_pos < m_cachePos + m_cacheLen)) {
            if (m_cache.empty() || !RefillCache()) {
                // No cache (or a refill that failed): one byte through Read.
                uint8_t b;
                if (Read(&b, 1) != S_OK)
                    return false;
                ++consumed;
                window = window << 8 | b;
                if ((window & 0xFFFFFF00u) == 0x00000100u) {
                    code = uint8_t(window);
                    return true;
                }
                continue;
            }
        }
        const uint8_t* p = m_cache.data() + (m_pos - m_cachePos);
        const int64_t n = std::min({m_cachePos + m_cacheLen - m_pos, remaining, limit - consumed});

        // Codes that end in the first three bytes may start in the previous chunk.
        const int64_t head = std::min<int64_t>(n, 3);
        for (int64_t i = 0; i < head; ++i) {
            window = window << 8 | p[i];
            if ((window & 0xFFFFFF00u) == 0x00000100u) {
                m_pos += i + 1;
                code = uint8_t(window);
                return true;
            }
        }
        // Codes ending at i >= 3 lie wholly inside this chunk: find each 01 whose two
        // predecessors are 00 and which has a code byte after it.
        int64_t j = 2;
        while (j < n - 1) {
            const void* hit = std::memchr(p + j, 0x01, size_t(n - 1 - j));
            if (!hit)
                break;
            j = static_cast<const uint8_t*>(hit) - p;
            if (p[j - 1] == 0 && p[j - 2] == 0) {
                m_pos += j + 2;
                code = p[j + 1];
                return true;
            }
            ++j;
        }
        if (n >= 4)
            window = uint32_t(p[n - 4]) << 24 | uint32_t(p[n - 3]) << 16 | uint32_t(p[n - 2]) << 8 | p[n - 1];
        m_pos += n;
        consumed += n;
    }
}
