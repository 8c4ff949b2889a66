#include "list/cell_pictures.h"

#include <algorithm>
#include <array>
#include <vector>

#include "imaging/draw.h"
#include "imaging/thumbnail.h"

namespace scopa {
namespace {

// Cells are 24-bit, so that is the depth pictures are halved to.
constexpr int kCellDepth = 24;

// Palette pictures (cache thumbnails) go to 24 bits through the table first: the halving
// would otherwise convert them pixel by pixel.
oDIB HalveColour(const oDIB& picture) {
    oDIB widened;
    if (picture.BitCount() <= 8 && widened.Create(picture.Width(), picture.Height(), kCellDepth)) {
        CopyPixels(widened, 0, 0, picture.Width(), picture.Height(), picture, 0, 0);
    }
    const oDIB& bitmap = widened.IsEmpty() ? picture : widened;
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

void CopyPixels(oDIB& target, int32_t x, int32_t y, int32_t width, int32_t height,
                const oDIB& source, int32_t source_x, int32_t source_y) {
    // Clip the rectangle to the source and then to the target.
    int64_t left = std::max<int64_t>({0, -int64_t(source_x), -int64_t(x)});
    int64_t top = std::max<int64_t>({0, -int64_t(source_y), -int64_t(y)});
    int64_t right =
        std::min<int64_t>({width, int64_t(source.Width()) - source_x, int64_t(target.Width()) - x});
    int64_t bottom = std::min<int64_t>(
        {height, int64_t(source.Height()) - source_y, int64_t(target.Height()) - y});
    if (left >= right || top >= bottom) return;
    int bits = source.BitCount();
    if (target.BitCount() != kCellDepth || (bits != kCellDepth && bits > 8)) {
        BitBlt(target, x, y, width, height, source, source_x, source_y, RasterOp::kSrcCopy);
        return;
    }
    size_t columns = size_t(right - left);
    if (bits == kCellDepth) {
        for (int64_t row = top; row < bottom; ++row) {
            const uint8_t* from = source.Row(int32_t(source_y + row)) + (source_x + left) * 3;
            std::copy_n(from, columns * 3, target.Row(int32_t(y + row)) + (x + left) * 3);
        }
        return;
    }
    std::array<std::array<uint8_t, 3>, 256> colours{};
    const std::vector<RgbQuad>& table = source.ColourTable();
    for (size_t i = 0; i < table.size() && i < colours.size(); ++i) {
        colours[i] = {table[i].blue, table[i].green, table[i].red};
    }
    for (int64_t row = top; row < bottom; ++row) {
        uint8_t* to = target.Row(int32_t(y + row)) + (x + left) * 3;
        for (size_t column = 0; column < columns; ++column, to += 3) {
            uint32_t index = source.RawPixel(int32_t(source_x + left + int64_t(column)),
                                             int32_t(source_y + row));
            std::copy_n(colours[index & 0xFF].data(), 3, to);
        }
    }
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
