// DVD subpictures for the video decoder: reassembles subpicture units from the stream's
// packets, decodes them with libavcodec's DVD subtitle decoder and the disc's palette, keeps
// each one with its display interval on the title's time line, and blends the ones that
// cover a picture's start time into that YV12 picture.
//
// Threads: Add and Clear on the subpicture input's streaming thread (or the thread that
// flushes it), Blend on the video streaming thread, SetPalette on the control thread; every
// method takes m_lock.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "graph/FormatBlocks.h"

struct AVCodecContext;

class CSubpictureBlender {
public:
    CSubpictureBlender();
    ~CSubpictureBlender();
    CSubpictureBlender(const CSubpictureBlender&) = delete;
    CSubpictureBlender& operator=(const CSubpictureBlender&) = delete;

    // The disc's 16 palette entries, 0x00YYCrCb each; the decoder is made again with it.
    void SetPalette(const uint32_t palette[16]);
    // One packet of the subpicture stream; `timed` says whether `start` is its time stamp.
    // Units with bad control sequences are dropped.
    void Add(const uint8_t* data, size_t length, bool timed, REFERENCE_TIME start);
    // Forgets every unit and any partial one (flush, new segment, stop).
    void Clear();
    // Blends every subpicture shown at `time` into a width x height YV12 picture.
    void Blend(REFERENCE_TIME time, uint8_t* picture, int32_t width, int32_t height);
    // Units decoded and kept (for checks).
    size_t Count();

private:
    struct Colour {
        uint8_t y, v, u, a;
    };
    struct Rect {
        int32_t x, y, w, h;
        std::vector<uint8_t> indices;  // w x h
        Colour colours[256];
    };
    struct Unit {
        REFERENCE_TIME start, stop;  // stop INT64_MAX until the next unit closes it
        std::vector<Rect> rects;
    };

    bool OpenDecoderLocked();
    void CloseDecoderLocked();
    void DecodeLocked(const uint8_t* data, size_t length, REFERENCE_TIME time);

    std::mutex m_lock;
    // -- All the following fields are guarded by m_lock.
    AVCodecContext* m_ctx = nullptr;
    bool m_paletteSet = false;
    uint32_t m_palette[16] = {};
    std::vector<uint8_t> m_partial;   // a unit still being gathered
    REFERENCE_TIME m_partialTime = 0;
    REFERENCE_TIME m_lastTime = 0;
    std::deque<Unit> m_units;
};
