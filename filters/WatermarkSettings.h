// The watermark record shared by the clip editor and the video conversion filter: 672 bytes,
// fields in this order.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct WatermarkSettings {
    int32_t mode = 0;            // 0 = text; any other value = image
    char16_t text[64] = {};      // zero-terminated
    uint32_t font = 0;           // font handle, interpreted by the text rasteriser
    uint32_t textColour = 0;     // 0x00BBGGRR
    char16_t imagePath[260] = {};  // not read by the video conversion filter
    int32_t x = 0;               // top-left corner in output pixels
    int32_t y = 0;
    float opacity = 0.0f;        // 0..1, weight of the watermark
};
#pragma pack(pop)

static_assert(sizeof(WatermarkSettings) == 672);
static_assert(offsetof(WatermarkSettings, font) == 132);
static_assert(offsetof(WatermarkSettings, imagePath) == 140);
static_assert(offsetof(WatermarkSettings, opacity) == 668);
