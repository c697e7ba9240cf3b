// Draws a watermark text for the video conversion filter. The engine has no text drawing of
// its own; the window layer supplies one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A 32-bit picture, 4 bytes per pixel in the order blue, green, red, alpha, rows top-down,
// width x 4 bytes per row.
struct TextBitmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bgra;
};

// Threads: called on the thread that calls SetWatermark (the user interface thread).
class ITextRasterizer {
public:
    virtual ~ITextRasterizer() = default;
    // Renders `text` in the font of handle `font` and colour `colour` (0x00BBGGRR) on a white
    // box exactly as large as the text's extent. False when it cannot (unknown font, no
    // drawing surface); `bitmap` is then left empty.
    virtual bool Render(const std::u16string& text, uint32_t font, uint32_t colour, TextBitmap* bitmap) = 0;
};
