// Pixel layouts of packed DIBs, shared by the in-memory bitmap and the BMP reader: colour
// tables, bit-field masks, row conversion to 24-bit and run-length decoding.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "imaging/dib.h"

namespace scopa {

// One channel of a bit-field pixel: where its bits sit and how many there are.
struct ChannelMask {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
};

// What is needed to turn rows of one DIB layout into 24-bit pixels.
struct DibLayout {
    int32_t width = 0;
    int32_t height = 0;  // always positive
    bool top_down = false;
    int bit_count = 0;
    uint32_t compression = kBiRgb;
    std::vector<RgbQuad> colour_table;
    ChannelMask red, green, blue;  // for 16 and 32 bits
    size_t stride = 0;
};

ChannelMask MakeChannelMask(uint32_t mask);

// Checks the header and fills the layout's geometry and default masks; nullopt for layouts
// this code does not read (planes, depth, compression, sizes).
std::optional<DibLayout> DescribeDib(const BitmapInfoHeader& header);

// Colour-table entries that follow the header of a DIB of this depth.
uint32_t ColourTableEntries(const BitmapInfoHeader& header);

// Converts one stored row of an uncompressed layout into width x 3 bytes of blue, green, red.
// Out-of-range palette indices read as black.
void DibRowToBgr(const DibLayout& layout, const uint8_t* row, uint8_t* bgr_out);

// Expands RLE8 or RLE4 data into 8-bit indices, rows bottom-up as stored, `width` bytes per
// row; pixels never written stay 0. False when the data is malformed.
bool DecodeDibRle(std::span<const uint8_t> data, bool four_bit, int32_t width, int32_t height,
                  std::vector<uint8_t>& indices_out);

}  // namespace scopa
