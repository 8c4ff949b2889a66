// Device-independent bitmaps in memory: 1, 4, 8, 16, 24 and 32 bits per pixel, stored
// top-down with rows padded to 4 bytes, convertible to and from packed DIBs (an info header,
// a colour table and the bits, rows top-down or bottom-up).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "imaging/geometry.h"

namespace scopa {

// One colour-table entry as stored in a DIB: blue, green, red, reserved.
struct RgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
    friend constexpr bool operator==(const RgbQuad&, const RgbQuad&) = default;
};
static_assert(sizeof(RgbQuad) == 4);

// The 40-byte info header that starts a packed DIB. A negative height means rows top-down.
struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bit_count = 0;
    uint32_t compression = 0;
    uint32_t size_image = 0;
    int32_t x_pels_per_meter = 0;
    int32_t y_pels_per_meter = 0;
    uint32_t clr_used = 0;
    uint32_t clr_important = 0;
};
inline constexpr size_t kBitmapInfoHeaderBytes = 40;

inline constexpr uint32_t kBiRgb = 0;
inline constexpr uint32_t kBiRle8 = 1;
inline constexpr uint32_t kBiRle4 = 2;
inline constexpr uint32_t kBiBitfields = 3;

// How a packed DIB's colour table is to be read: RGBQUAD entries, or 16-bit indices into the
// shared screen palette.
enum class ColourUse { kRgbColours, kPaletteIndices };

// The pixel depths a DIB may have.
constexpr bool IsDibBitCount(int bit_count) {
    return bit_count == 1 || bit_count == 4 || bit_count == 8 || bit_count == 16 ||
           bit_count == 24 || bit_count == 32;
}

// Bytes per row of a DIB: padded to a multiple of 4 bytes.
constexpr size_t DibStride(int32_t width_px, int bit_count) {
    return (size_t(width_px) * size_t(bit_count) + 31) / 32 * 4;
}

// Reads the 40-byte header at the start of `bytes`; nullopt when there are fewer bytes.
std::optional<BitmapInfoHeader> ReadBitmapInfoHeader(std::span<const uint8_t> bytes);
void AppendBitmapInfoHeader(std::vector<uint8_t>& out, const BitmapInfoHeader& header);

class oDIB {
public:
    // The largest pixel block one bitmap may hold; bigger requests fail instead of allocating.
    static constexpr size_t kMaxBytes = size_t(1) << 30;

    oDIB() = default;

    // Makes a bitmap of zero bytes; false (and empty) when the size or depth is not possible.
    // Bitmaps of 8 bits or fewer get a colour table of 2^bits black entries.
    bool Create(int32_t width_px, int32_t height_px, int bit_count);

    // Reads a packed DIB. 16- and 32-bit bit fields with the standard masks, RLE8 and RLE4 are
    // accepted. Palette indices are resolved through the shared screen palette.
    static std::optional<oDIB> FromPackedDib(std::span<const uint8_t> packed,
                                             ColourUse colour_use = ColourUse::kRgbColours);
    // Header, colour table and bits, rows bottom-up, as a packed DIB.
    std::vector<uint8_t> ToPackedDib() const;

    bool IsEmpty() const { return m_width <= 0 || m_height <= 0; }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    int BitCount() const { return m_bitCount; }
    size_t Stride() const { return m_stride; }
    vSIZE Size() const { return {m_width, m_height}; }

    // Row y counted from the top.
    uint8_t* Row(int32_t y) { return m_bits.data() + size_t(y) * m_stride; }
    const uint8_t* Row(int32_t y) const { return m_bits.data() + size_t(y) * m_stride; }
    std::span<uint8_t> Bits() { return m_bits; }
    std::span<const uint8_t> Bits() const { return m_bits; }

    std::vector<RgbQuad>& ColourTable() { return m_colourTable; }
    const std::vector<RgbQuad>& ColourTable() const { return m_colourTable; }

    // The header this bitmap would have as a bottom-up packed DIB.
    BitmapInfoHeader GetHeader() const;

    int32_t m_xPelsPerMeter = 0;
    int32_t m_yPelsPerMeter = 0;

    // The colour of one pixel (16-bit pixels are 5-5-5).
    Rgb PixelColour(int32_t x, int32_t y) const;
    // The raw value of one pixel: a palette index, a 5-5-5 word, or 0xRRGGBB.
    uint32_t RawPixel(int32_t x, int32_t y) const;
    void SetRawPixel(int32_t x, int32_t y, uint32_t value);

    // The same picture as 24-bit pixels.
    oDIB ConvertTo24() const;

private:
    int32_t m_width = 0;
    int32_t m_height = 0;
    int m_bitCount = 0;
    size_t m_stride = 0;
    std::vector<uint8_t> m_bits;
    std::vector<RgbQuad> m_colourTable;
};

}  // namespace scopa
