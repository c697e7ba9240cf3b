// Helpers of the splitter tests: a source filter over bytes in memory, an independent walk
// of DVD program-stream packs (what each stream's payloads and time stamps are), edits of
// those bytes (time stamps, scrambling, stream ids), and the per-packet text dump that a
// demuxed stream is compared by.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "graph/AsyncReader.h"
#include "harness/RecordingSink.h"

namespace splittertest {

inline std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// A source filter serving bytes in memory through IAsyncReader, like the DVD source does.
class MemoryByteStream : public CAsyncStream {
public:
    explicit MemoryByteStream(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    HRESULT SetPointer(int64_t position) override
    {
        if (position < 0 || position > int64_t(m_bytes.size()))
            return E_FAIL;
        m_position = position;
        return S_OK;
    }
    HRESULT Read(uint8_t* buffer, int32_t count, bool, int32_t* bytesRead) override
    {
        const int64_t left = int64_t(m_bytes.size()) - m_position;
        const int32_t n = int32_t(std::min<int64_t>(count, left));
        if (n > 0)
            std::memcpy(buffer, m_bytes.data() + m_position, size_t(n));
        m_position += n;
        if (bytesRead)
            *bytesRead = n;
        return n > 0 ? S_OK : E_FAIL;
    }
    int64_t Size(int64_t* available) override
    {
        if (available)
            *available = int64_t(m_bytes.size());
        return int64_t(m_bytes.size());
    }
    int32_t Alignment() override { return 1; }
    void Lock() override { m_lock.lock(); }
    void Unlock() override { m_lock.unlock(); }

private:
    std::mutex m_lock;
    std::vector<uint8_t> m_bytes;
    int64_t m_position = 0;
};

class MemorySourceFilter : public CAsyncReader {
public:
    explicit MemorySourceFilter(std::vector<uint8_t> bytes)
        : CAsyncReader("Memory Source", GUID_NULL, &m_memory), m_memory(std::move(bytes))
    {
    }

private:
    MemoryByteStream m_memory;
};

// One PES packet of a DVD program stream as the pack layout says (ISO/IEC 13818-1 2.5.3.3
// pack header, 2.4.3.6 PES header; DVD private stream 1 sub-stream headers).
struct PesRecord {
    uint32_t key = 0;          // (PES id << 8) | sub-stream id
    size_t offset = 0;         // of the start code
    size_t ptsOffset = 0;      // of the 5 PTS bytes, 0 when none
    size_t dtsOffset = 0;      // of the 5 DTS bytes, 0 when none
    bool hasPts = false;
    int64_t pts90k = 0;
    size_t payload = 0, payloadSize = 0;  // the elementary-stream bytes
};

inline int64_t ReadPts(const uint8_t* p)
{
    return int64_t(p[0] >> 1 & 7) << 30 | int64_t(p[1]) << 22 | int64_t(p[2] >> 1) << 15 | int64_t(p[3]) << 7 |
           int64_t(p[4] >> 1);
}

inline void WritePts(uint8_t* p, int64_t v)
{
    v &= (int64_t(1) << 33) - 1;
    p[0] = uint8_t((p[0] & 0xF1) | ((v >> 30) & 7) << 1 | 1);
    p[1] = uint8_t(v >> 22);
    p[2] = uint8_t((v >> 15 & 0x7F) << 1 | 1);
    p[3] = uint8_t(v >> 7);
    p[4] = uint8_t((v & 0x7F) << 1 | 1);
}

// Every PES packet of every 2048-byte pack, in file order.
inline std::vector<PesRecord> WalkPacks(const std::vector<uint8_t>& b)
{
    std::vector<PesRecord> out;
    for (size_t off = 0; off + 2048 <= b.size(); off += 2048) {
        const uint8_t* pack = &b[off];
        if (!(pack[0] == 0 && pack[1] == 0 && pack[2] == 1 && pack[3] == 0xBA))
            continue;
        size_t p = off + 14 + (pack[13] & 7);
        while (p + 6 <= off + 2048 && b[p] == 0 && b[p + 1] == 0 && b[p + 2] == 1) {
            const uint8_t id = b[p + 3];
            const size_t len = size_t(b[p + 4]) << 8 | b[p + 5];
            const size_t end = p + 6 + len;
            if (end > off + 2048)
                break;
            if (id >= 0xBD && id <= 0xEF && id != 0xBE && id != 0xBF) {
                PesRecord r;
                r.offset = p;
                const uint8_t flags = b[p + 7];
                const size_t headerLength = b[p + 8];
                if (flags & 0x80) {
                    r.hasPts = true;
                    r.ptsOffset = p + 9;
                    r.pts90k = ReadPts(&b[p + 9]);
                    if (flags & 0x40)
                        r.dtsOffset = p + 14;
                }
                size_t payload = p + 9 + headerLength;
                uint8_t sub = 0;
                if (id == 0xBD) {
                    sub = b[payload];
                    if (sub >= 0x80 && sub <= 0x8F)
                        payload += 4;  // audio sub-header
                    else if (sub >= 0xA0 && sub <= 0xA7)
                        payload += 7;  // audio sub-header and LPCM header
                    else if (sub >= 0x20 && sub <= 0x3F)
                        payload += 1;
                }
                r.key = uint32_t(id) << 8 | sub;
                r.payload = payload;
                r.payloadSize = end - payload;
                out.push_back(r);
            }
            p = end;
        }
    }
    return out;
}

// FNV-1a, as the recording sink computes it.
inline uint32_t Checksum(const uint8_t* p, size_t n, uint32_t h = 2166136261u)
{
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

// The per-packet dump of one stream: one line per timed unit (a time-stamped payload with
// the untimed payloads that follow it, which the splitter may deliver merged or apart):
// "start size checksum". Untimed payloads before the first timed one form a unit of their own.
struct DumpBuilder {
    std::vector<std::string> lines;
    bool open = false;
    int64_t start = 0;
    bool timed = false;
    size_t size = 0;
    uint32_t crc = 2166136261u;

    void Add(bool hasTime, int64_t t, const uint8_t* p, size_t n)
    {
        if (n == 0)
            return;
        if (hasTime || !open) {
            Close();
            open = true;
            timed = hasTime;
            start = t;
        }
        size += n;
        crc = Checksum(p, n, crc);
    }
    void Close()
    {
        if (open) {
            char line[96];
            if (timed)
                std::snprintf(line, sizeof line, "%lld %zu %08x", static_cast<long long>(start), size, crc);
            else
                std::snprintf(line, sizeof line, "- %zu %08x", size, crc);
            lines.push_back(line);
        }
        open = false;
        size = 0;
        crc = 2166136261u;
    }
    std::vector<std::string> Finish()
    {
        Close();
        return lines;
    }
};

// The dump of what a sink received (it must keep the sample bytes).
inline std::vector<std::string> DumpOfSink(RecordingSinkFilter& sink)
{
    DumpBuilder d;
    for (const RecordedItem& s : sink.Samples())
        d.Add(s.timeResult != VFW_E_SAMPLE_TIME_NOT_SET, s.start, s.data.data(), s.data.size());
    return d.Finish();
}

// The dump the walk expects for `key`, times relative to `firstPts90k`, optionally only for
// payloads that start in [from, to).
inline std::vector<std::string> DumpOfWalk(const std::vector<uint8_t>& bytes, const std::vector<PesRecord>& walk,
                                           uint32_t key, int64_t firstPts90k)
{
    DumpBuilder d;
    for (const PesRecord& r : walk)
        if (r.key == key)
            d.Add(r.hasPts, r.pts90k * 10000 / 90 - firstPts90k * 10000 / 90, &bytes[r.payload], r.payloadSize);
    return d.Finish();
}

inline int64_t FirstPts(const std::vector<PesRecord>& walk)
{
    for (const PesRecord& r : walk)
        if (r.hasPts)
            return r.pts90k;
    return 0;
}

}  // namespace splittertest
