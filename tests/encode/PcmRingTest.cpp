#include "encode/PcmRing.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

// Writes and reads that wrap around the end keep the byte order; a full ring takes nothing.
TEST(PcmRing, KeepsOrderAcrossTheWrapAndRefusesWhenFull)
{
    PcmRing ring(10);
    std::vector<uint8_t> in(25);
    std::iota(in.begin(), in.end(), 1);
    std::vector<uint8_t> out;
    size_t written = 0;
    uint8_t chunk[7];
    while (out.size() < in.size()) {
        written += ring.Write(in.data() + written, std::min<size_t>(6, in.size() - written));
        const size_t n = ring.Read(chunk, 4);
        out.insert(out.end(), chunk, chunk + n);
        if (written == in.size() && n == 0)
            break;
    }
    EXPECT_EQ(out, in);

    ring.Clear();
    EXPECT_EQ(ring.Write(in.data(), 25), 10u);
    EXPECT_EQ(ring.Write(in.data(), 1), 0u);
    EXPECT_EQ(ring.Held(), 10u);
    ring.Clear();
    EXPECT_EQ(ring.Held(), 0u);
    EXPECT_EQ(ring.Read(chunk, 7), 0u);
}
