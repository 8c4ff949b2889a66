// RGBA pictures as the desktop exchanges them: straight (not premultiplied) 8-bit RGBA rows in
// PNG files with text chunks, as thumbnailers write them and thumbnail caches keep them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

struct RgbaImage {
    int32_t width_px = 0;
    int32_t height_px = 0;
    std::vector<uint8_t> pixels;  // R, G, B, A per pixel, rows top-down, no padding

    bool IsEmpty() const { return width_px <= 0 || height_px <= 0; }
};

// tEXt chunks: keyword and Latin-1 text.
using PngTexts = std::vector<std::pair<std::string, std::string>>;

// Thumbnail PNGs are small: larger files or pictures are refused before decoding.
inline constexpr size_t kMaxRgbaPngFileBytes = size_t(32) << 20;
inline constexpr int32_t kMaxRgbaPngSidePx = 4096;

// The PNG form of `image` with `texts` before the pixels; false when libpng refuses it.
bool EncodeRgbaPng(const RgbaImage& image, const PngTexts& texts, std::vector<uint8_t>* out);

// Decodes any PNG (palette, grey, 16-bit, interlaced) into 8-bit RGBA with its text chunks
// (tEXt, zTXt and iTXt). False on any damage or when a side exceeds `max_side_px`.
bool DecodeRgbaPng(std::span<const uint8_t> bytes, int32_t max_side_px, RgbaImage* image,
                   PngTexts* texts);

// Reads a PNG file of at most kMaxRgbaPngFileBytes.
bool ReadRgbaPngFile(const std::string& path, int32_t max_side_px, RgbaImage* image,
                     PngTexts* texts);

// The top-left `part` of a bitmap as opaque RGBA.
RgbaImage RgbaFromDib(const oDIB& dib, vSIZE part);

// A 24-bit bitmap of the picture drawn over white; empty when the image is empty.
oDIB DibFromRgba(const RgbaImage& image);

// The text of `keyword`, or null when the chunks have none.
const std::string* FindPngText(const PngTexts& texts, std::string_view keyword);

}  // namespace scopa
