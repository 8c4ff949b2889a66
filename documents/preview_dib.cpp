#include "documents/preview_dib.h"

#include "imaging/palette.h"

namespace scopa {

namespace {

uint32_t PreviewPixelRgb(const DocumentPreview& preview, uint32_t value) {
    if (preview.bits_per_pixel > 8) return value;
    if (value >= preview.colour_table.size()) return 0;
    uint32_t entry = preview.colour_table[value];
    if (preview.colour_usage == DibColourUsage::kPaletteIndices) {
        const RgbQuad& quad = ScreenPalette()[entry & 0xFF];
        return uint32_t(quad.red) << 16 | uint32_t(quad.green) << 8 | quad.blue;
    }
    return entry;
}

}  // namespace

oDIB PreviewToDib(const DocumentPreview& preview) {
    oDIB dib;
    const size_t pixel_count = size_t(preview.width_px) * size_t(preview.height_px);
    if (preview.width_px <= 0 || preview.height_px <= 0 || preview.pixels.size() < pixel_count ||
        !dib.Create(preview.width_px, preview.height_px, 24)) {
        return oDIB();
    }
    for (int32_t y = 0; y < preview.height_px; ++y) {
        uint8_t* row = dib.Row(y);
        const uint32_t* source = preview.pixels.data() + size_t(y) * size_t(preview.width_px);
        for (int32_t x = 0; x < preview.width_px; ++x) {
            uint32_t rgb = PreviewPixelRgb(preview, source[x]);
            row[3 * x] = uint8_t(rgb);
            row[3 * x + 1] = uint8_t(rgb >> 8);
            row[3 * x + 2] = uint8_t(rgb >> 16);
        }
    }
    return dib;
}

}  // namespace scopa
