// Reads the PES packets of a DVD program stream (a VOB file) for feeding decoders in tests:
// payloads with the stream they belong to and their time stamps in 100 ns. The DVD private
// stream headers are removed: the sub-stream id (subpictures), plus the frame count and
// pointer (AC-3, DTS), plus the LPCM header (LPCM), as a splitter does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zdrtest {

struct PesPacket {
    uint32_t key = 0;  // (stream id << 8) | sub-stream id
    bool timed = false;
    int64_t start = 0;  // 100 ns
    std::vector<uint8_t> data;
};

struct LpcmInfo {
    int bits = 16, rate = 48000, channels = 2;
};

inline std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }
    return bytes;
}

// ISO/IEC 13818-1 2.5.3 pack and 2.4.3.6 PES packet layout; DVD packs are 2048 bytes.
inline std::vector<PesPacket> ReadVobPackets(const std::string& path, LpcmInfo* lpcm = nullptr)
{
    const std::vector<uint8_t> b = ReadFileBytes(path);
    std::vector<PesPacket> out;
    size_t i = 0;
    while (i + 6 <= b.size()) {
        if (!(b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1)) {
            ++i;
            continue;
        }
        const uint8_t id = b[i + 3];
        if (id == 0xBA) {
            if (i + 14 > b.size())
                break;
            i += 14 + (b[i + 13] & 7);
            continue;
        }
        const size_t len = size_t(b[i + 4]) << 8 | b[i + 5];
        const size_t end = i + 6 + len;
        if (end > b.size())
            break;
        const bool media = id == 0xE0 || id == 0xBD || (id >= 0xC0 && id <= 0xC7);
        if (!media || len < 3) {
            i = end;
            continue;
        }
        PesPacket p;
        const size_t hdr = b[i + 8];
        if ((b[i + 7] & 0x80) && hdr >= 5) {
            const uint8_t* t = &b[i + 9];
            const int64_t pts = (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) | (int64_t(t[2] & 0xFE) << 14) |
                                (int64_t(t[3]) << 7) | (t[4] >> 1);
            p.timed = true;
            p.start = pts * 10000 / 90;
        }
        size_t payload = i + 9 + hdr;
        p.key = uint32_t(id) << 8;
        if (id == 0xBD && payload < end) {
            const uint8_t sub = b[payload];
            p.key |= sub;
            if (sub >= 0x20 && sub < 0x40)
                payload += 1;
            else if (sub >= 0x80 && sub < 0x90)
                payload += 4;
            else if (sub >= 0xA0 && sub < 0xA8) {
                if (lpcm && payload + 6 < end) {
                    const uint8_t info = b[payload + 5];
                    lpcm->bits = 16 + 4 * ((info >> 6) & 3);
                    lpcm->rate = ((info >> 4) & 3) == 1 ? 96000 : 48000;
                    lpcm->channels = (info & 7) + 1;
                }
                payload += 7;
            }
        }
        if (payload < end)
            p.data.assign(b.begin() + ptrdiff_t(payload), b.begin() + ptrdiff_t(end));
        out.push_back(std::move(p));
        i = end;
    }
    return out;
}

inline std::vector<PesPacket> StreamPackets(const std::vector<PesPacket>& all, uint32_t key)
{
    std::vector<PesPacket> s;
    for (const PesPacket& p : all)
        if (p.key == key)
            s.push_back(p);
    return s;
}

}  // namespace zdrtest
