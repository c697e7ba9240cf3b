#include "encode/PcmRing.h"

#include <algorithm>
#include <cstring>

PcmRing::PcmRing(size_t capacity)
    : m_buffer(capacity)
{
}

size_t PcmRing::Write(const uint8_t* bytes, size_t length)
{
    const size_t taken = std::min(length, Free());
    size_t done = 0;
    while (done < taken) {
        const size_t chunk = std::min(taken - done, m_buffer.size() - m_writePos);
        std::memcpy(m_buffer.data() + m_writePos, bytes + done, chunk);
        m_writePos = (m_writePos + chunk) % m_buffer.size();
        done += chunk;
    }
    m_held += taken;
    return taken;
}

size_t PcmRing::Read(uint8_t* out, size_t length)
{
    const size_t moved = std::min(length, m_held);
    size_t done = 0;
    while (done < moved) {
        const size_t chunk = std::min(moved - done, m_buffer.size() - m_readPos);
        std::memcpy(out + done, m_buffer.data() + m_readPos, chunk);
        m_readPos = (m_readPos + chunk) % m_buffer.size();
        done += chunk;
    }
    m_held -= moved;
    return moved;
}

void PcmRing::Clear()
{
    m_readPos = 0;
    m_writePos = 0;
    m_held = 0;
}
