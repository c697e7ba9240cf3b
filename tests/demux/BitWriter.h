// Builds test bytes field by field, most significant bit first, as the headers are specified.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

class BitWriter {
public:
    BitWriter& Put(uint64_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            m_cur = uint8_t(m_cur << 1 | ((value >> i) & 1));
            if (++m_count == 8) {
                m_bytes.push_back(m_cur);
                m_cur = 0;
                m_count = 0;
            }
        }
        return *this;
    }
    BitWriter& Bytes(std::initializer_list<uint8_t> bytes)
    {
        for (uint8_t b : bytes)
            Put(b, 8);
        return *this;
    }
    BitWriter& Bytes(const std::vector<uint8_t>& bytes)
    {
        for (uint8_t b : bytes)
            Put(b, 8);
        return *this;
    }
    // Exp-Golomb codes (ISO/IEC 14496-10 9.1).
    BitWriter& Ue(uint32_t v)
    {
        const uint64_t x = uint64_t(v) + 1;
        int n = 0;
        while ((x >> n) > 1)
            ++n;
        Put(0, n);
        return Put(x, n + 1);
    }
    // Pads with zero bits to a byte boundary (or with the given bit pattern start: 1 then 0s).
    BitWriter& Align(bool stopBit = false)
    {
        if (stopBit)
            Put(1, 1);
        while (m_count)
            Put(0, 1);
        return *this;
    }
    // A 33-bit time stamp with its prefix and markers.
    BitWriter& TimeStamp(unsigned prefix, uint64_t ts)
    {
        Put(prefix, 4).Put(ts >> 30, 3).Put(1, 1).Put((ts >> 15) & 0x7FFF, 15).Put(1, 1);
        return Put(ts & 0x7FFF, 15).Put(1, 1);
    }
    std::vector<uint8_t> Done()
    {
        Align();
        return m_bytes;
    }

private:
    std::vector<uint8_t> m_bytes;
    uint8_t m_cur = 0;
    int m_count = 0;
};
