// TGA: colour-mapped, true-colour and grey pictures, plain or run-length coded, bottom-up or
// top-down, read row by row through the reduction.
#include <cstring>

#include "imaging/codecs.h"
#include "imaging/row_reducer.h"
#include "platform/byte_reader.h"

namespace scopa {
namespace {

// Format notes: an 18-byte header (ID length, colour-map type, image type 1/2/3 or 9/10/11 for
// run-length, colour-map first index, length and entry bits, origin, width, height, pixel
// bits, descriptor: alpha bits in 0-3, right-to-left in bit 4, top-down in bit 5), the ID, the
// colour map, then pixels. A run-length packet's header byte has bit 7 set for a run of
// (low 7 bits + 1) copies of one pixel, clear for that many literal pixels. The format has no
// signature, so recognition checks that every header field is plausible.
constexpr size_t kHeaderBytes = 18;
constexpr uint32_t kMaxColourMapEntries = 4096;

struct TgaHead {
    uint8_t id_length = 0, map_type = 0, image_type = 0;
    uint16_t map_first = 0, map_length = 0;
    uint8_t map_bits = 0;
    int32_t width = 0, height = 0;
    uint8_t pixel_bits = 0, descriptor = 0;
    bool rle() const { return image_type >= 9; }
    int base_type() const { return image_type & 7; }
    bool top_down() const { return (descriptor & 0x20) != 0; }
    bool right_to_left() const { return (descriptor & 0x10) != 0; }
    bool alpha() const { return (descriptor & 0x0F) == 8 && pixel_bits == 32; }
};

bool IsEntryBits(uint8_t bits) {
    return bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

// Parses and checks the header: null when it is plausible, else what is wrong with it.
const char* ParseTgaHead(std::span<const uint8_t> bytes, TgaHead& head) {
    ByteReader reader(bytes);
    head.id_length = reader.U8();
    head.map_type = reader.U8();
    head.image_type = reader.U8();
    head.map_first = reader.U16();
    head.map_length = reader.U16();
    head.map_bits = reader.U8();
    reader.Skip(4);  // origin
    head.width = reader.U16();
    head.height = reader.U16();
    head.pixel_bits = reader.U8();
    head.descriptor = reader.U8();
    if (!reader.Ok()) return "cut in the 18-byte header";
    if (head.width == 0 || head.height == 0) return "width or height 0";
    if (head.map_type > 1) return "unknown colour-map type";
    if ((head.descriptor & 0xC0) != 0) return "unknown descriptor bits";
    // A colour map may come with any image type (true-colour pictures then skip it), but its
    // entries must have a size.
    if (head.map_type == 1 &&
        (!IsEntryBits(head.map_bits) || head.map_length > kMaxColourMapEntries)) {
        return "colour map of an unknown entry size or longer than 4096 entries";
    }
    bool known = false;
    switch (head.base_type()) {
        case 1:
            known = (head.image_type == 1 || head.image_type == 9) && head.map_type == 1 &&
                    head.pixel_bits == 8 && head.map_length > 0;
            break;
        case 2:
            known = (head.image_type == 2 || head.image_type == 10) && IsEntryBits(head.pixel_bits);
            break;
        case 3:
            known = (head.image_type == 3 || head.image_type == 11) && head.pixel_bits == 8;
            break;
        default:
            break;
    }
    return known ? nullptr : "unsupported image type or pixel size";
}

// Blue, green, red (and alpha) of one stored pixel of `bits` bits.
void DecodePixel(const uint8_t* p, int bits, uint8_t* bgra) {
    if (bits == 15 || bits == 16) {
        unsigned word = unsigned(p[0]) | unsigned(p[1]) << 8;
        auto expand = [](unsigned five) { return uint8_t(five << 3 | five >> 2); };
        bgra[0] = expand(word & 31);
        bgra[1] = expand(word >> 5 & 31);
        bgra[2] = expand(word >> 10 & 31);
        bgra[3] = 255;
    } else if (bits == 8) {
        bgra[0] = bgra[1] = bgra[2] = p[0];
        bgra[3] = 255;
    } else {
        bgra[0] = p[0];
        bgra[1] = p[1];
        bgra[2] = p[2];
        bgra[3] = bits == 32 ? p[3] : 255;
    }
}

class TgaFilter : public BitmapFilter {
public:
    TgaFilter() : BitmapFilter("TGA", "Targa Picture") {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        TgaHead parsed;
        return head.size() >= kHeaderBytes &&
               ParseTgaHead(head.first(kHeaderBytes), parsed) == nullptr;
    }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        uint8_t bytes[kHeaderBytes];
        TgaHead head;
        if (!in.ReadExact(bytes, sizeof bytes) || ParseTgaHead(bytes, head) != nullptr) {
            return false;
        }
        size = {head.width, head.height};
        return true;
    }
    int MaxReductionFactor() const override { return 1 << 16; }
};

oFILTER_STATUS TgaFilter::Convert(vSTREAM& in, oDIB& out) {
    uint8_t bytes[kHeaderBytes] = {};
    TgaHead head;
    size_t count = in.Read(bytes, sizeof bytes);
    if (const char* fault = ParseTgaHead({bytes, count}, head)) return DataFault(fault);
    vSIZE size{head.width, head.height};
    int factor = TakeReductionFactor(size);
    if (IsTooLargeToRead(size, factor)) return TooLargeFault(size);
    BufferedReader reader(in);
    uint8_t skipped[256];
    if (!reader.Read(skipped, head.id_length)) return DataFault("cut in the identification");
    // The colour map, as blue-green-red-alpha entries.
    std::vector<uint8_t> map;
    if (head.map_type == 1) {
        size_t entry_bytes = (head.map_bits + 7) / 8;
        std::vector<uint8_t> stored(size_t(head.map_length) * entry_bytes);
        if (!reader.Read(stored.data(), stored.size())) return DataFault("cut in the colour map");
        map.resize(size_t(head.map_length) * 4);
        for (size_t i = 0; i < head.map_length; ++i) {
            DecodePixel(&stored[i * entry_bytes], head.map_bits, &map[i * 4]);
        }
    }
    size_t pixel_bytes = (head.pixel_bits + 7) / 8;
    std::vector<uint8_t> rgba(size_t(head.width) * 4);
    uint8_t packet_pixel[4] = {};
    int run_left = 0, literal_left = 0;
    auto next_pixel = [&](uint8_t* stored) {
        if (!head.rle()) return reader.Read(stored, pixel_bytes);
        if (run_left == 0 && literal_left == 0) {
            int packet = reader.Next();
            if (packet < 0) return false;
            if (packet & 0x80) {
                run_left = (packet & 0x7F) + 1;
                if (!reader.Read(packet_pixel, pixel_bytes)) return false;
            } else {
                literal_left = packet + 1;
            }
        }
        if (run_left > 0) {
            --run_left;
            std::memcpy(stored, packet_pixel, pixel_bytes);
            return true;
        }
        --literal_left;
        return reader.Read(stored, pixel_bytes);
    };
    auto fill_row = [&](int32_t y, uint8_t* bgr) {
        for (int32_t x = 0; x < head.width; ++x) {
            uint8_t stored[4] = {};
            if (!next_pixel(stored)) return DataFault(CutText(in, y, head.height));
            int32_t column = head.right_to_left() ? head.width - 1 - x : x;
            uint8_t bgra[4];
            if (head.base_type() == 1) {
                size_t index = size_t(stored[0]) - head.map_first;
                if (stored[0] < head.map_first || index >= head.map_length) {
                    std::memset(bgra, 0, 3);
                    bgra[3] = 255;
                } else {
                    std::memcpy(bgra, &map[index * 4], 4);
                }
            } else {
                DecodePixel(stored, head.pixel_bits, bgra);
            }
            uint8_t* pixel = &rgba[4 * size_t(column)];
            pixel[0] = bgra[2];
            pixel[1] = bgra[1];
            pixel[2] = bgra[0];
            pixel[3] = head.alpha() ? bgra[3] : 255;
        }
        CompositeRgbaOnWhite(rgba.data(), head.width, bgr);
        return kFilterDone;
    };
    return ReduceRows(size, factor, !head.top_down(), fill_row, out);
}

}  // namespace

std::unique_ptr<oFILTER> MakeTgaFilter() {
    return std::make_unique<TgaFilter>();
}

}  // namespace scopa
