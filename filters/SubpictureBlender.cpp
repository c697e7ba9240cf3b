#include "filters/SubpictureBlender.h"

#include <algorithm>
#include <cstdio>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
}

namespace {

inline uint8_t Clamp255(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : int(v + 0.5)); }

// The most units kept at once; older ones go first.
constexpr size_t kMaxUnits = 64;

}  // namespace

CSubpictureBlender::CSubpictureBlender() = default;

CSubpictureBlender::~CSubpictureBlender()
{
    std::lock_guard lock(m_lock);
    CloseDecoderLocked();
}

void CSubpictureBlender::SetPalette(const uint32_t palette[16])
{
    std::lock_guard lock(m_lock);
    std::copy(palette, palette + 16, m_palette);
    m_paletteSet = true;
    CloseDecoderLocked();
}

bool CSubpictureBlender::OpenDecoderLocked()
{
    if (m_ctx)
        return true;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVD_SUBTITLE);
    if (!codec)
        return false;
    m_ctx = avcodec_alloc_context3(codec);
    if (!m_ctx)
        return false;
    AVDictionary* options = nullptr;
    if (m_paletteSet) {
        // The decoder takes RGB; the disc gives Y, Cr, Cb.
        std::string list;
        for (int i = 0; i < 16; ++i) {
            const double y = (m_palette[i] >> 16) & 0xFF;
            const double cr = double((m_palette[i] >> 8) & 0xFF) - 128;
            const double cb = double(m_palette[i] & 0xFF) - 128;
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02x%02x%02x", Clamp255(y + 1.402 * cr),
                          Clamp255(y - 0.344136 * cb - 0.714136 * cr), Clamp255(y + 1.772 * cb));
            if (i)
                list += ',';
            list += hex;
        }
        av_dict_set(&options, "palette", list.c_str(), 0);
    }
    const int err = avcodec_open2(m_ctx, codec, &options);
    av_dict_free(&options);
    if (err < 0) {
        avcodec_free_context(&m_ctx);
        return false;
    }
    return true;
}

void CSubpictureBlender::CloseDecoderLocked()
{
    if (m_ctx)
        avcodec_free_context(&m_ctx);
}

void CSubpictureBlender::Clear()
{
    std::lock_guard lock(m_lock);
    m_partial.clear();
    m_units.clear();
    CloseDecoderLocked();
}

size_t CSubpictureBlender::Count()
{
    std::lock_guard lock(m_lock);
    return m_units.size();
}

void CSubpictureBlender::Add(const uint8_t* data, size_t length, bool timed, REFERENCE_TIME start)
{
    std::lock_guard lock(m_lock);
    if (timed)
        m_lastTime = start;
    // A unit starts with its 16-bit size; a stamped packet starts a new unit.
    if (m_partial.empty() || timed) {
        m_partial.clear();
        m_partialTime = timed ? start : m_lastTime;
    }
    m_partial.insert(m_partial.end(), data, data + length);
    while (m_partial.size() >= 2) {
        const size_t size = size_t(m_partial[0]) << 8 | m_partial[1];
        if (size < 4) {  // not a unit: drop what was gathered
            m_partial.clear();
            return;
        }
        if (m_partial.size() < size)
            return;
        DecodeLocked(m_partial.data(), size, m_partialTime);
        m_partial.erase(m_partial.begin(), m_partial.begin() + ptrdiff_t(size));
    }
}

void CSubpictureBlender::DecodeLocked(const uint8_t* data, size_t length, REFERENCE_TIME time)
{
    if (!OpenDecoderLocked())
        return;
    AVPacket* pkt = av_packet_alloc();
    if (!pkt)
        return;
    if (av_new_packet(pkt, int(length)) < 0) {
        av_packet_free(&pkt);
        return;
    }
    std::copy(data, data + length, pkt->data);
    AVSubtitle sub{};
    int got = 0;
    const int used = avcodec_decode_subtitle2(m_ctx, &sub, &got, pkt);
    av_packet_free(&pkt);
    if (used < 0 || !got)
        return;

    Unit unit;
    unit.start = time + REFERENCE_TIME(sub.start_display_time) * 10000;
    unit.stop = (sub.end_display_time == 0 || sub.end_display_time == UINT32_MAX)
                    ? INT64_MAX
                    : time + REFERENCE_TIME(sub.end_display_time) * 10000;
    for (unsigned i = 0; i < sub.num_rects; ++i) {
        const AVSubtitleRect* r = sub.rects[i];
        if (r->type != SUBTITLE_BITMAP || r->w <= 0 || r->h <= 0 || !r->data[0] || !r->data[1])
            continue;
        Rect rect;
        rect.x = r->x;
        rect.y = r->y;
        rect.w = r->w;
        rect.h = r->h;
        rect.indices.resize(size_t(r->w) * r->h);
        for (int row = 0; row < r->h; ++row)
            std::copy(r->data[0] + size_t(row) * r->linesize[0], r->data[0] + size_t(row) * r->linesize[0] + r->w,
                      rect.indices.begin() + ptrdiff_t(row) * r->w);
        const uint32_t* argb = reinterpret_cast<const uint32_t*>(r->data[1]);
        for (int c = 0; c < 256; ++c) {
            const uint32_t v = c < r->nb_colors ? argb[c] : 0;
            const double R = (v >> 16) & 0xFF, G = (v >> 8) & 0xFF, B = v & 0xFF;
            rect.colours[c].a = uint8_t(v >> 24);
            rect.colours[c].y = Clamp255(0.299 * R + 0.587 * G + 0.114 * B);
            rect.colours[c].u = Clamp255(128 - 0.168736 * R - 0.331264 * G + 0.5 * B);
            rect.colours[c].v = Clamp255(128 + 0.5 * R - 0.418688 * G - 0.081312 * B);
        }
        unit.rects.push_back(std::move(rect));
    }
    avsubtitle_free(&sub);

    // A new unit ends the one still open before it; one with nothing to show only does that.
    for (Unit& u : m_units)
        if (u.stop == INT64_MAX && u.start <= unit.start)
            u.stop = unit.start;
    if (unit.rects.empty())
        return;
    m_units.push_back(std::move(unit));
    while (m_units.size() > kMaxUnits)
        m_units.pop_front();
}

void CSubpictureBlender::Blend(REFERENCE_TIME time, uint8_t* picture, int32_t width, int32_t height)
{
    std::lock_guard lock(m_lock);
    // Units that ended before this picture will not show again (pictures come in order).
    while (!m_units.empty() && m_units.front().stop <= time && m_units.front().stop != INT64_MAX)
        m_units.pop_front();
    uint8_t* yPlane = picture;
    uint8_t* vPlane = picture + size_t(width) * height;
    uint8_t* uPlane = vPlane + size_t(width / 2) * (height / 2);
    const int32_t cw = width / 2, chh = height / 2;
    for (const Unit& unit : m_units) {
        if (time < unit.start || time >= unit.stop)
            continue;
        for (const Rect& r : unit.rects) {
            const int32_t x0 = std::max(0, r.x), y0 = std::max(0, r.y);
            const int32_t x1 = std::min(width, r.x + r.w), y1 = std::min(height, r.y + r.h);
            for (int32_t y = y0; y < y1; ++y) {
                const uint8_t* idx = r.indices.data() + size_t(y - r.y) * r.w;
                uint8_t* row = yPlane + size_t(y) * width;
                for (int32_t x = x0; x < x1; ++x) {
                    const Colour& c = r.colours[idx[x - r.x]];
                    if (c.a)
                        row[x] = uint8_t((row[x] * (255 - c.a) + c.y * c.a) / 255);
                }
            }
            for (int32_t cy = (y0 + 1) / 2; cy < std::min(chh, (y1 + 1) / 2); ++cy) {
                const int32_t sy = cy * 2;
                if (sy < r.y || sy >= r.y + r.h)
                    continue;
                for (int32_t cx = (x0 + 1) / 2; cx < std::min(cw, (x1 + 1) / 2); ++cx) {
                    const int32_t sx = cx * 2;
                    if (sx < r.x || sx >= r.x + r.w)
                        continue;
                    const Colour& c = r.colours[r.indices[size_t(sy - r.y) * r.w + (sx - r.x)]];
                    if (!c.a)
                        continue;
                    uint8_t& v = vPlane[size_t(cy) * cw + cx];
                    uint8_t& u = uPlane[size_t(cy) * cw + cx];
                    v = uint8_t((v * (255 - c.a) + c.v * c.a) / 255);
                    u = uint8_t((u * (255 - c.a) + c.u * c.a) / 255);
                }
            }
        }
    }
}
