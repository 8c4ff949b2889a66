#include "list/cell_pictures.h"

#include <algorithm>
#include <vector>

#include "imaging/draw.h"
#include "imaging/thumbnail.h"

namespace scopa {
namespace {

// Cells are 24-bit, so that is the depth pictures are halved to.
constexpr int kCellDepth = 24;

oDIB HalveColour(const oDIB& bitmap) {
    oDIB half;
    int32_t width = bitmap.Width() / 2, height = bitmap.Height() / 2;
    if (!half.Create(width, height, kCellDepth)) return half;
    std::vector<uint8_t> pixels(HalvedImageBytes(bitmap.Width(), bitmap.Height(), kCellDepth));
    int depth = kCellDepth;
    HalveToThumbnail(bitmap, pixels.data(), depth);
    size_t stride = DibStride(width, kCellDepth);
    for (int32_t y = 0; y < height; ++y) {
        std::copy_n(pixels.data() + size_t(y) * stride, stride, half.Row(y));
    }
    return half;
}

oDIB HalveMonochrome(const oDIB& bitmap) {
    oDIB half;
    if (!half.Create(bitmap.Width() / 2, bitmap.Height() / 2, 1)) return half;
    half.ColourTable() = bitmap.ColourTable();
    StretchBlt(half, Rect{0, 0, half.Width(), half.Height()}, bitmap,
               Rect{0, 0, bitmap.Width(), bitmap.Height()}, RasterOp::kSrcCopy);
    return half;
}

}  // namespace

bool ShrinkForCell(int cell_size_px, oDIB& bitmap) {
    int32_t limit = cell_size_px - 2;
    if (bitmap.Width() <= limit && bitmap.Height() <= limit) return false;
    bitmap = bitmap.BitCount() > 1 ? HalveColour(bitmap) : HalveMonochrome(bitmap);
    return true;
}

void DrawMaskedImage(oDIB& target, int32_t x, int32_t y, const oDIB& image, Rgb mask_colour) {
    for (int32_t row = 0; row < image.Height(); ++row) {
        int32_t ty = y + row;
        if (ty < 0 || ty >= target.Height()) continue;
        for (int32_t column = 0; column < image.Width(); ++column) {
            int32_t tx = x + column;
            if (tx < 0 || tx >= target.Width()) continue;
            Rgb colour = image.PixelColour(column, row);
            if (colour == mask_colour) continue;
            target.SetRawPixel(tx, ty, RawValueForColour(target, colour));
        }
    }
}

oDIB MaskOfKeyColour(const oDIB& picture) {
    if (picture.Width() < 2 || picture.Height() < 2) {
        oDIB mask;
        if (mask.Create(picture.Width(), picture.Height(), 1)) {
            mask.ColourTable() = {RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}};
        }
        return mask;
    }
    return MakeMask(picture, picture.PixelColour(1, 1));
}

}  // namespace scopa
