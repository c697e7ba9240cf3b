// A media type: major type, subtype, format type and a format block owned by value.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "graph/FormatBlocks.h"
#include "graph/Guid.h"

class CMediaType {
public:
    Guid majortype{};
    Guid subtype{};
    Guid formattype{};
    bool bFixedSizeSamples = false;
    bool bTemporalCompression = false;
    uint32_t lSampleSize = 0;
    std::vector<uint8_t> format;  // the format block, formattype says how to read it

    CMediaType() = default;
    CMediaType(const Guid& major, const Guid& sub, const Guid& fmt = FORMAT_None)
        : majortype(major), subtype(sub), formattype(fmt)
    {
    }

    bool IsValid() const { return !(majortype == GUID_NULL); }
    uint32_t FormatLength() const { return uint32_t(format.size()); }
    const uint8_t* Format() const { return format.data(); }
    uint8_t* Format() { return format.data(); }

    // Replaces the format block with `size` bytes copied from `data` (zeros when null).
    void SetFormat(const void* data, size_t size)
    {
        format.assign(size, 0);
        if (data && size)
            std::memcpy(format.data(), data, size);
    }
    // Resizes the block to `size` bytes (new bytes zero) and returns it.
    uint8_t* AllocFormat(size_t size)
    {
        format.assign(size, 0);
        return format.data();
    }

    // The block viewed as T when it is at least sizeof(T) bytes long, else null.
    template <class T>
    const T* FormatAs() const
    {
        return format.size() >= sizeof(T) ? reinterpret_cast<const T*>(format.data()) : nullptr;
    }
    template <class T>
    T* FormatAs()
    {
        return format.size() >= sizeof(T) ? reinterpret_cast<T*>(format.data()) : nullptr;
    }

    // The bitmap header inside a video format block (byte 48 for video info / MPEG-1 video,
    // byte 72 for video info 2 / MPEG-2 video), or null for any other format.
    const BitmapInfoHeader* VideoBitmapHeader() const
    {
        size_t off;
        if (formattype == FORMAT_VideoInfo || formattype == FORMAT_MPEGVideo)
            off = 48;
        else if (formattype == FORMAT_VideoInfo2 || formattype == FORMAT_MPEG2Video)
            off = 72;
        else
            return nullptr;
        if (format.size() < off + sizeof(BitmapInfoHeader))
            return nullptr;
        return reinterpret_cast<const BitmapInfoHeader*>(format.data() + off);
    }
    BitmapInfoHeader* VideoBitmapHeader()
    {
        return const_cast<BitmapInfoHeader*>(static_cast<const CMediaType*>(this)->VideoBitmapHeader());
    }

    friend bool operator==(const CMediaType& a, const CMediaType& b)
    {
        return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
               a.format == b.format;
    }
};
