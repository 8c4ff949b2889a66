#include "imaging/dib_format.h"

#include <bit>

namespace scopa {
namespace {

// Widths and heights beyond this are refused before any size arithmetic.
constexpr int32_t kMaxDibSidePx = 1 << 20;

uint8_t ScaleChannel(uint32_t pixel, const ChannelMask& channel) {
    if (channel.bits == 0) return 0;
    uint32_t value = (pixel & channel.mask) >> channel.shift;
    if (channel.bits >= 8) return uint8_t(value >> (channel.bits - 8));
    // Replicate the top bits so that the largest value becomes 255.
    uint32_t scaled = value << (8 - channel.bits);
    for (int filled = channel.bits; filled < 8; filled += channel.bits) {
        scaled |= value << (8 - channel.bits) >> filled;
    }
    return uint8_t(scaled);
}

}  // namespace

ChannelMask MakeChannelMask(uint32_t mask) {
    ChannelMask channel;
    channel.mask = mask;
    if (mask == 0) return channel;
    channel.shift = std::countr_zero(mask);
    channel.bits = std::popcount(mask);
    return channel;
}

uint32_t ColourTableEntries(const BitmapInfoHeader& header) {
    if (header.bit_count > 8) return header.clr_used;
    uint32_t full = 1u << header.bit_count;
    return header.clr_used != 0 && header.clr_used < full ? header.clr_used : full;
}

std::optional<DibLayout> DescribeDib(const BitmapInfoHeader& header) {
    DibLayout layout;
    if (header.width <= 0 || header.width > kMaxDibSidePx) return std::nullopt;
    if (header.height == 0 || header.height < -kMaxDibSidePx || header.height > kMaxDibSidePx) {
        return std::nullopt;
    }
    layout.width = header.width;
    layout.top_down = header.height < 0;
    layout.height = layout.top_down ? -header.height : header.height;
    layout.bit_count = header.bit_count;
    layout.compression = header.compression;
    if (!IsDibBitCount(header.bit_count)) return std::nullopt;
    bool rle = header.compression == kBiRle8 || header.compression == kBiRle4;
    if (header.compression == kBiRle8 && header.bit_count != 8) return std::nullopt;
    if (header.compression == kBiRle4 && header.bit_count != 4) return std::nullopt;
    if (header.compression == kBiBitfields && header.bit_count != 16 && header.bit_count != 32) {
        return std::nullopt;
    }
    if (header.compression > kBiBitfields) return std::nullopt;
    if (rle && layout.top_down) return std::nullopt;  // run-length rows are always bottom-up
    if (header.bit_count == 16) {
        layout.red = MakeChannelMask(0x7C00);
        layout.green = MakeChannelMask(0x03E0);
        layout.blue = MakeChannelMask(0x001F);
    } else if (header.bit_count == 32) {
        layout.red = MakeChannelMask(0xFF0000);
        layout.green = MakeChannelMask(0x00FF00);
        layout.blue = MakeChannelMask(0x0000FF);
    }
    layout.stride = DibStride(layout.width, layout.bit_count);
    return layout;
}

void DibRowToBgr(const DibLayout& layout, const uint8_t* row, uint8_t* bgr_out) {
    const auto& table = layout.colour_table;
    auto put_index = [&](uint32_t index, uint8_t* out) {
        RgbQuad quad = index < table.size() ? table[index] : RgbQuad{};
        out[0] = quad.blue;
        out[1] = quad.green;
        out[2] = quad.red;
    };
    for (int32_t x = 0; x < layout.width; ++x) {
        uint8_t* out = bgr_out + size_t(x) * 3;
        switch (layout.bit_count) {
            case 1:
                put_index((row[x >> 3] >> (7 - (x & 7))) & 1, out);
                break;
            case 4:
                put_index((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15, out);
                break;
            case 8:
                put_index(row[x], out);
                break;
            case 24:
                out[0] = row[3 * x];
                out[1] = row[3 * x + 1];
                out[2] = row[3 * x + 2];
                break;
            default: {
                uint32_t pixel;
                if (layout.bit_count == 16) {
                    pixel = uint32_t(row[2 * x]) | uint32_t(row[2 * x + 1]) << 8;
                } else {
                    const uint8_t* p = row + 4 * size_t(x);
                    pixel = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                            uint32_t(p[3]) << 24;
                }
                out[0] = ScaleChannel(pixel, layout.blue);
                out[1] = ScaleChannel(pixel, layout.green);
                out[2] = ScaleChannel(pixel, layout.red);
            }
        }
    }
}

// Format notes: a run-length DIB is a series of byte pairs. (n > 0, v) repeats v n times (for
// RLE4 the two nibbles of v alternate). (0, 0) ends a row, (0, 1) ends the picture, (0, 2, dx,
// dy) moves right and up, and (0, n >= 3) is followed by n literal pixels padded to 16 bits.
bool DecodeDibRle(std::span<const uint8_t> data, bool four_bit, int32_t width, int32_t height,
                  std::vector<uint8_t>& indices_out) {
    indices_out.assign(size_t(width) * size_t(height), 0);
    size_t in = 0;
    int64_t x = 0, y = 0;
    auto put = [&](uint8_t value) {
        if (x < width && y < height) indices_out[size_t(y) * size_t(width) + size_t(x)] = value;
        ++x;
    };
    while (in + 1 < data.size()) {
        uint8_t count = data[in], value = data[in + 1];
        in += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < width; ++i) {
                put(four_bit ? uint8_t((i & 1) ? value & 15 : value >> 4) : value);
            }
            continue;
        }
        if (value == 0) {
            x = 0;
            if (++y > height) return true;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (in + 1 >= data.size()) return false;
            x += data[in];
            y += data[in + 1];
            in += 2;
            if (y > height) return true;
        } else {
            size_t literal_bytes = four_bit ? (size_t(value) + 1) / 2 : value;
            if (in + literal_bytes > data.size()) return false;
            for (int i = 0; i < value; ++i) {
                uint8_t byte = data[in + (four_bit ? size_t(i) / 2 : size_t(i))];
                put(four_bit ? uint8_t((i & 1) ? byte & 15 : byte >> 4) : byte);
            }
            in += (literal_bytes + 1) & ~size_t(1);
        }
    }
    return true;  // a stream without end marker keeps what it drew
}

}  // namespace scopa
