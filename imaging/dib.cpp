#include "imaging/dib.h"

#include <cstring>
#include <limits>

#include "imaging/dib_format.h"
#include "imaging/palette.h"
#include "platform/byte_reader.h"

namespace scopa {

int32_t MulDiv(int32_t value, int32_t numerator, int32_t denominator) {
    if (denominator == 0) return -1;
    int64_t product = int64_t(value) * numerator;
    int64_t half = (denominator < 0 ? -int64_t(denominator) : denominator) / 2;
    bool negative = (product < 0) != (denominator < 0);
    int64_t magnitude = (product < 0 ? -product : product) + half;
    int64_t result = magnitude / (denominator < 0 ? -int64_t(denominator) : denominator);
    result = negative ? -result : result;
    if (result > std::numeric_limits<int32_t>::max() ||
        result < std::numeric_limits<int32_t>::min()) {
        return -1;
    }
    return int32_t(result);
}

std::optional<BitmapInfoHeader> ReadBitmapInfoHeader(std::span<const uint8_t> bytes) {
    ByteReader reader(bytes);
    BitmapInfoHeader header;
    header.size = reader.U32();
    header.width = reader.I32();
    header.height = reader.I32();
    header.planes = reader.U16();
    header.bit_count = reader.U16();
    header.compression = reader.U32();
    header.size_image = reader.U32();
    header.x_pels_per_meter = reader.I32();
    header.y_pels_per_meter = reader.I32();
    header.clr_used = reader.U32();
    header.clr_important = reader.U32();
    if (!reader.Ok()) return std::nullopt;
    return header;
}

void AppendBitmapInfoHeader(std::vector<uint8_t>& out, const BitmapInfoHeader& header) {
    auto put16 = [&](uint32_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    put32(header.size);
    put32(uint32_t(header.width));
    put32(uint32_t(header.height));
    put16(header.planes);
    put16(header.bit_count);
    put32(header.compression);
    put32(header.size_image);
    put32(uint32_t(header.x_pels_per_meter));
    put32(uint32_t(header.y_pels_per_meter));
    put32(header.clr_used);
    put32(header.clr_important);
}

bool oDIB::Create(int32_t width_px, int32_t height_px, int bit_count) {
    *this = oDIB();
    if (!IsDibBitCount(bit_count)) return false;
    if (width_px <= 0 || height_px <= 0) return false;
    size_t stride = DibStride(width_px, bit_count);
    if (stride > kMaxBytes / size_t(height_px)) return false;
    m_bits.assign(stride * size_t(height_px), 0);
    m_width = width_px;
    m_height = height_px;
    m_bitCount = bit_count;
    m_stride = stride;
    if (bit_count <= 8) m_colourTable.assign(size_t(1) << bit_count, RgbQuad{});
    return true;
}

namespace {

// Run-length packed DIBs (in documents and metafiles) larger than this, 8192 x 8192, are
// refused: a few bytes of runs can declare any size.
constexpr int64_t kMaxRlePackedDibPixels = int64_t(1) << 26;

// Reads the colour table that follows the header into `layout`; false when it is cut off.
bool ReadColourTable(ByteReader& reader, const BitmapInfoHeader& header, ColourUse colour_use,
                     DibLayout& layout) {
    uint32_t entries = ColourTableEntries(header);
    if (entries > 256 && header.bit_count <= 8) return false;
    if (header.bit_count > 8) {
        // A table after a true-colour header only hints at a palette; skip it.
        reader.Skip(size_t(entries) * (colour_use == ColourUse::kRgbColours ? 4 : 2));
        return reader.Ok();
    }
    const auto& screen = ScreenPalette();
    for (uint32_t i = 0; i < entries; ++i) {
        if (colour_use == ColourUse::kPaletteIndices) {
            layout.colour_table.push_back(screen[reader.U16() & 0xFF]);
        } else {
            RgbQuad quad;
            quad.blue = reader.U8();
            quad.green = reader.U8();
            quad.red = reader.U8();
            reader.U8();
            layout.colour_table.push_back(quad);
        }
    }
    return reader.Ok();
}

bool IsStandardLayout(const DibLayout& layout) {
    if (layout.compression == kBiRgb) return true;
    if (layout.compression != kBiBitfields) return false;
    if (layout.bit_count == 16) {
        return layout.red.mask == 0x7C00 && layout.green.mask == 0x3E0 && layout.blue.mask == 0x1F;
    }
    return layout.red.mask == 0xFF0000 && layout.green.mask == 0xFF00 && layout.blue.mask == 0xFF;
}

}  // namespace

std::optional<oDIB> oDIB::FromPackedDib(std::span<const uint8_t> packed, ColourUse colour_use) {
    auto header = ReadBitmapInfoHeader(packed);
    if (!header || header->size < kBitmapInfoHeaderBytes || header->planes != 1) {
        return std::nullopt;
    }
    auto layout = DescribeDib(*header);
    if (!layout) return std::nullopt;
    ByteReader reader(packed);
    reader.Seek(header->size);
    if (header->compression == kBiBitfields) {
        // With the 40-byte header the three masks follow it; later headers hold them inside.
        if (header->size == kBitmapInfoHeaderBytes) {
            layout->red = MakeChannelMask(reader.U32());
            layout->green = MakeChannelMask(reader.U32());
            layout->blue = MakeChannelMask(reader.U32());
        } else {
            ByteReader masks(packed);
            masks.Seek(kBitmapInfoHeaderBytes);
            layout->red = MakeChannelMask(masks.U32());
            layout->green = MakeChannelMask(masks.U32());
            layout->blue = MakeChannelMask(masks.U32());
            if (!masks.Ok()) return std::nullopt;
        }
    }
    if (!ReadColourTable(reader, *header, colour_use, *layout) || !reader.Ok()) {
        return std::nullopt;
    }
    std::span<const uint8_t> bits = packed.subspan(reader.Offset());

    // Nothing is allocated for pixels the data cannot hold: uncompressed bits must all be
    // there, and run-length data, which may leave pixels unwritten, gets a size limit.
    bool rle = layout->compression == kBiRle8 || layout->compression == kBiRle4;
    if (rle && int64_t(layout->width) * layout->height > kMaxRlePackedDibPixels) {
        return std::nullopt;
    }
    if (!rle && bits.size() / layout->stride < size_t(layout->height)) return std::nullopt;

    oDIB dib;
    bool keep_depth = !rle && IsStandardLayout(*layout);
    int out_bits = rle ? 8 : keep_depth ? layout->bit_count : 24;
    if (!dib.Create(layout->width, layout->height, out_bits)) return std::nullopt;
    dib.m_xPelsPerMeter = header->x_pels_per_meter;
    dib.m_yPelsPerMeter = header->y_pels_per_meter;
    if (out_bits <= 8) {
        dib.m_colourTable = layout->colour_table;
        dib.m_colourTable.resize(size_t(1) << out_bits);
    }
    if (rle) {
        std::vector<uint8_t> indices;
        if (!DecodeDibRle(bits, layout->compression == kBiRle4, layout->width, layout->height,
                          indices)) {
            return std::nullopt;
        }
        for (int32_t y = 0; y < layout->height; ++y) {
            std::memcpy(dib.Row(layout->height - 1 - y), indices.data() + size_t(y) * layout->width,
                        size_t(layout->width));
        }
        return dib;
    }
    for (int32_t stored = 0; stored < layout->height; ++stored) {
        int32_t y = layout->top_down ? stored : layout->height - 1 - stored;
        const uint8_t* row = bits.data() + size_t(stored) * layout->stride;
        if (keep_depth) {
            std::memcpy(dib.Row(y), row, layout->stride);
        } else {
            DibRowToBgr(*layout, row, dib.Row(y));
        }
    }
    return dib;
}

BitmapInfoHeader oDIB::GetHeader() const {
    BitmapInfoHeader header;
    header.width = m_width;
    header.height = m_height;
    header.bit_count = uint16_t(m_bitCount);
    header.size_image = uint32_t(m_bits.size());
    header.x_pels_per_meter = m_xPelsPerMeter;
    header.y_pels_per_meter = m_yPelsPerMeter;
    header.clr_used = m_bitCount <= 8 ? uint32_t(m_colourTable.size()) : 0;
    return header;
}

std::vector<uint8_t> oDIB::ToPackedDib() const {
    std::vector<uint8_t> out;
    if (IsEmpty()) return out;
    out.reserve(kBitmapInfoHeaderBytes + m_colourTable.size() * 4 + m_bits.size());
    AppendBitmapInfoHeader(out, GetHeader());
    if (m_bitCount <= 8) {
        for (const RgbQuad& quad : m_colourTable) {
            out.insert(out.end(), {quad.blue, quad.green, quad.red, 0});
        }
    }
    for (int32_t y = m_height - 1; y >= 0; --y) {
        out.insert(out.end(), Row(y), Row(y) + m_stride);
    }
    return out;
}

uint32_t oDIB::RawPixel(int32_t x, int32_t y) const {
    const uint8_t* row = Row(y);
    switch (m_bitCount) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        case 8:
            return row[x];
        case 16:
            return uint32_t(row[2 * x]) | uint32_t(row[2 * x + 1]) << 8;
        case 24: {
            const uint8_t* p = row + 3 * size_t(x);
            return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
        default: {
            const uint8_t* p = row + 4 * size_t(x);
            return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
    }
}

void oDIB::SetRawPixel(int32_t x, int32_t y, uint32_t value) {
    uint8_t* row = Row(y);
    switch (m_bitCount) {
        case 1: {
            uint8_t bit = uint8_t(0x80 >> (x & 7));
            row[x >> 3] = uint8_t((value & 1) ? row[x >> 3] | bit : row[x >> 3] & ~bit);
            break;
        }
        case 4: {
            uint8_t& byte = row[x >> 1];
            byte = (x & 1) ? uint8_t((byte & 0xF0) | (value & 15))
                           : uint8_t((byte & 0x0F) | (value & 15) << 4);
            break;
        }
        case 8:
            row[x] = uint8_t(value);
            break;
        case 16:
            row[2 * x] = uint8_t(value);
            row[2 * x + 1] = uint8_t(value >> 8);
            break;
        case 24: {
            uint8_t* p = row + 3 * size_t(x);
            p[0] = uint8_t(value);
            p[1] = uint8_t(value >> 8);
            p[2] = uint8_t(value >> 16);
            break;
        }
        default: {
            uint8_t* p = row + 4 * size_t(x);
            p[0] = uint8_t(value);
            p[1] = uint8_t(value >> 8);
            p[2] = uint8_t(value >> 16);
            p[3] = 0;
        }
    }
}

Rgb oDIB::PixelColour(int32_t x, int32_t y) const {
    uint32_t raw = RawPixel(x, y);
    if (m_bitCount <= 8) {
        RgbQuad quad = raw < m_colourTable.size() ? m_colourTable[raw] : RgbQuad{};
        return {quad.red, quad.green, quad.blue};
    }
    if (m_bitCount == 16) {
        auto expand = [](uint32_t five) { return uint8_t(five << 3 | five >> 2); };
        return {expand(raw >> 10 & 31), expand(raw >> 5 & 31), expand(raw & 31)};
    }
    return {uint8_t(raw >> 16), uint8_t(raw >> 8), uint8_t(raw)};
}

oDIB oDIB::ConvertTo24() const {
    oDIB out;
    if (IsEmpty() || !out.Create(m_width, m_height, 24)) return out;
    out.m_xPelsPerMeter = m_xPelsPerMeter;
    out.m_yPelsPerMeter = m_yPelsPerMeter;
    if (m_bitCount == 24) {
        out.m_bits = m_bits;
        return out;
    }
    for (int32_t y = 0; y < m_height; ++y) {
        uint8_t* row = out.Row(y);
        for (int32_t x = 0; x < m_width; ++x) {
            Rgb colour = PixelColour(x, y);
            row[3 * x] = colour.blue;
            row[3 * x + 1] = colour.green;
            row[3 * x + 2] = colour.red;
        }
    }
    return out;
}

}  // namespace scopa
