// A fixed-capacity byte ring for PCM waiting to fill a codec frame.
// Not thread-safe: its owner (OutputEncoder) serialises every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class PcmRing {
public:
    explicit PcmRing(size_t capacity);

    // Appends up to `length` bytes; returns how many were taken (at most Free()).
    size_t Write(const uint8_t* bytes, size_t length);
    // Moves up to `length` bytes into `out`, oldest first; returns how many were moved.
    size_t Read(uint8_t* out, size_t length);
    void Clear();

    size_t Held() const { return m_held; }
    size_t Free() const { return m_buffer.size() - m_held; }
    size_t Capacity() const { return m_buffer.size(); }

private:
    std::vector<uint8_t> m_buffer;
    size_t m_readPos = 0;
    size_t m_writePos = 0;
    size_t m_held = 0;
};
