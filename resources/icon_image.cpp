#include "resources/icon_image.h"

namespace scopa {

IconImage IconImage::Blank(int32_t width_px, int32_t height_px) {
    IconImage icon;
    if (width_px <= 0 || height_px <= 0) return icon;
    icon.width_px = width_px;
    icon.height_px = height_px;
    icon.pixels.assign(size_t(width_px) * size_t(height_px), 0);
    return icon;
}

uint32_t PremultipliedArgb(uint8_t alpha, uint8_t red, uint8_t green, uint8_t blue) {
    auto scale = [alpha](uint8_t channel) { return (uint32_t(channel) * alpha + 127) / 255; };
    return uint32_t(alpha) << 24 | scale(red) << 16 | scale(green) << 8 | scale(blue);
}

void DrawIcon(oDIB& target, int32_t x, int32_t y, const IconImage& icon) {
    if (target.BitCount() != 24) return;
    for (int32_t row = 0; row < icon.height_px; ++row) {
        int32_t ty = y + row;
        if (ty < 0 || ty >= target.Height()) continue;
        for (int32_t column = 0; column < icon.width_px; ++column) {
            int32_t tx = x + column;
            if (tx < 0 || tx >= target.Width()) continue;
            uint32_t source = icon.At(column, row);
            uint32_t alpha = source >> 24;
            if (alpha == 0) continue;
            uint32_t below = target.RawPixel(tx, ty);
            uint32_t blended = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                uint32_t over = source >> shift & 0xFF;
                uint32_t under = below >> shift & 0xFF;
                uint32_t channel = over + (under * (255 - alpha) + 127) / 255;
                blended |= (channel > 255 ? 255 : channel) << shift;
            }
            target.SetRawPixel(tx, ty, blended);
        }
    }
}

IconImage HalveIcon(const IconImage& icon) {
    IconImage half = IconImage::Blank(icon.width_px / 2, icon.height_px / 2);
    for (int32_t y = 0; y < half.height_px; ++y) {
        for (int32_t x = 0; x < half.width_px; ++x) {
            uint32_t result = 0;
            for (int shift = 0; shift <= 24; shift += 8) {
                uint32_t sum = (icon.At(2 * x, 2 * y) >> shift & 0xFF) +
                               (icon.At(2 * x + 1, 2 * y) >> shift & 0xFF) +
                               (icon.At(2 * x, 2 * y + 1) >> shift & 0xFF) +
                               (icon.At(2 * x + 1, 2 * y + 1) >> shift & 0xFF);
                result |= (sum + 2) / 4 << shift;
            }
            half.pixels[size_t(y) * size_t(half.width_px) + size_t(x)] = result;
        }
    }
    return half;
}

}  // namespace scopa
