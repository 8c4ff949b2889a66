// Icons as the cells draw them: square pictures with an alpha channel, blended over what is
// below. Pixels are premultiplied 0xAARRGGBB, rows top-down.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/dib.h"

namespace scopa {

struct IconImage {
    int32_t width_px = 0;
    int32_t height_px = 0;
    std::vector<uint32_t> pixels;

    bool IsEmpty() const { return width_px <= 0 || height_px <= 0; }
    uint32_t At(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width_px) + x]; }
    static IconImage Blank(int32_t width_px, int32_t height_px);
};

// Premultiplies a straight-alpha colour.
uint32_t PremultipliedArgb(uint8_t alpha, uint8_t red, uint8_t green, uint8_t blue);

// Blends the icon over a 24-bit target with its top-left corner at (x, y), clipped.
void DrawIcon(oDIB& target, int32_t x, int32_t y, const IconImage& icon);

// The icon at half its size, each pixel the average of four (odd edges dropped).
IconImage HalveIcon(const IconImage& icon);

}  // namespace scopa
