// PCX: the paintbrush format's run-length scan lines, in its common layouts (1, 2, 4 or 8 bits
// in one plane, 1 bit in 4 planes, 8 bits in 3 or 4 planes), row by row through the reduction.
#include <cstring>

#include "imaging/codecs.h"
#include "imaging/row_reducer.h"
#include "platform/byte_reader.h"

namespace scopa {
namespace {

// Format notes: a 128-byte header (manufacturer 0x0A, version, encoding 1, bits per pixel per
// plane, window xmin ymin xmax ymax, resolutions, a 16-entry RGB palette, planes, bytes per
// plane line); each scan line is planes x bytes-per-line bytes, run-length coded: a byte with
// its top two bits set repeats the next byte (its low six bits) times. 8-bit single-plane
// pictures end with 0x0C and a 256-entry RGB palette.
constexpr size_t kHeaderBytes = 128;
constexpr size_t kVgaPaletteBytes = 769;
constexpr uint8_t kVgaPaletteMarker = 0x0C;

struct PcxHead {
    int bits = 0;
    int planes = 0;
    uint32_t bytes_per_line = 0;
    int32_t width = 0, height = 0;
    int32_t dpi_x = 0, dpi_y = 0;
    bool encoded = true;
    uint8_t palette16[48] = {};
};

// Reads and checks the header: null when it is sound, else what is wrong with it.
const char* ReadPcxHead(vSTREAM& in, PcxHead& head) {
    uint8_t bytes[kHeaderBytes];
    if (!in.ReadExact(bytes, sizeof bytes)) return "cut in the 128-byte header";
    ByteReader reader(std::span<const uint8_t>(bytes, sizeof bytes));
    if (reader.U8() != 0x0A) return "no PCX signature";
    reader.U8();  // version
    uint8_t encoding = reader.U8();
    head.bits = reader.U8();
    int32_t xmin = reader.U16(), ymin = reader.U16(), xmax = reader.U16(), ymax = reader.U16();
    head.dpi_x = reader.U16();
    head.dpi_y = reader.U16();
    std::memcpy(head.palette16, bytes + 16, sizeof head.palette16);
    reader.Seek(65);
    head.planes = reader.U8();
    head.bytes_per_line = reader.U16();
    head.encoded = encoding == 1;
    head.width = xmax - xmin + 1;
    head.height = ymax - ymin + 1;
    if (encoding > 1) return "unknown encoding";
    if (head.width <= 0 || head.height <= 0) return "no width or height";
    bool known = (head.planes == 1 &&
                  (head.bits == 1 || head.bits == 2 || head.bits == 4 || head.bits == 8)) ||
                 (head.planes == 4 && head.bits == 1) ||
                 ((head.planes == 3 || head.planes == 4) && head.bits == 8);
    if (!known) return "unsupported bits and planes";
    if (head.bytes_per_line < (uint32_t(head.width) * uint32_t(head.bits) + 7) / 8) {
        return "lines shorter than the width";
    }
    return nullptr;
}

class PcxFilter : public BitmapFilter {
public:
    PcxFilter() : BitmapFilter("PCX", "Paintbrush Picture") {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        return head.size() >= kHeaderBytes && head[0] == 0x0A && head[1] <= 5 && head[2] <= 1 &&
               (head[3] == 1 || head[3] == 2 || head[3] == 4 || head[3] == 8);
    }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        PcxHead head;
        if (ReadPcxHead(in, head) != nullptr) return false;
        size = {head.width, head.height};
        return true;
    }
    int MaxReductionFactor() const override { return 1 << 16; }
};

// The colours of indexed pictures: the VGA palette at the end for 8 bits, else the header's.
std::vector<RgbQuad> ReadPalette(vSTREAM& in, const PcxHead& head) {
    std::vector<RgbQuad> palette(256);
    const uint8_t* rgb = head.palette16;
    size_t entries = 16;
    uint8_t vga[kVgaPaletteBytes];
    if (head.bits == 8 && head.planes == 1) {
        uint64_t size = in.Size();
        if (size >= kHeaderBytes + kVgaPaletteBytes && in.Seek(size - kVgaPaletteBytes) &&
            in.ReadExact(vga, sizeof vga) && vga[0] == kVgaPaletteMarker) {
            rgb = vga + 1;
            entries = 256;
        } else {
            for (size_t i = 0; i < 256; ++i)
                palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
            return palette;  // no palette: grey levels
        }
    }
    if (head.bits == 1 && head.planes == 1) {
        palette[0] = {0, 0, 0, 0};
        palette[1] = {255, 255, 255, 0};
        return palette;
    }
    for (size_t i = 0; i < entries; ++i)
        palette[i] = {rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
    return palette;
}

// Expands one scan line of `line.size()` bytes; runs may continue into the next line.
bool DecodeLine(BufferedReader& reader, bool encoded, std::vector<uint8_t>& line,
                uint8_t& pending_value, int& pending_count) {
    size_t filled = 0;
    while (filled < line.size()) {
        if (pending_count > 0) {
            line[filled++] = pending_value;
            --pending_count;
            continue;
        }
        int byte = reader.Next();
        if (byte < 0) return false;
        if (encoded && (byte & 0xC0) == 0xC0) {
            int value = reader.Next();
            if (value < 0) return false;
            pending_value = uint8_t(value);
            pending_count = byte & 0x3F;
        } else {
            line[filled++] = uint8_t(byte);
        }
    }
    return true;
}

void LineToBgr(const PcxHead& head, const std::vector<uint8_t>& line,
               const std::vector<RgbQuad>& palette, uint8_t* bgr) {
    size_t plane_bytes = head.bytes_per_line;
    for (int32_t x = 0; x < head.width; ++x) {
        uint8_t* out = bgr + 3 * size_t(x);
        if (head.bits == 8 && head.planes >= 3) {
            out[0] = line[2 * plane_bytes + size_t(x)];
            out[1] = line[plane_bytes + size_t(x)];
            out[2] = line[size_t(x)];
            continue;
        }
        unsigned index = 0;
        if (head.planes == 4) {
            for (int p = 0; p < 4; ++p) {
                index |=
                    unsigned((line[size_t(p) * plane_bytes + size_t(x) / 8] >> (7 - x % 8)) & 1)
                    << p;
            }
        } else {
            size_t bit = size_t(x) * size_t(head.bits);
            index = (line[bit / 8] >> (8 - head.bits - bit % 8)) & ((1u << head.bits) - 1);
        }
        RgbQuad colour = palette[index];
        out[0] = colour.blue;
        out[1] = colour.green;
        out[2] = colour.red;
    }
}

oFILTER_STATUS PcxFilter::Convert(vSTREAM& in, oDIB& out) {
    PcxHead head;
    if (const char* fault = ReadPcxHead(in, head)) return DataFault(fault);
    vSIZE size{head.width, head.height};
    int factor = TakeReductionFactor(size);
    if (IsTooLargeToRead(size, factor)) return TooLargeFault(size);
    std::vector<RgbQuad> palette = ReadPalette(in, head);
    if (!in.Seek(kHeaderBytes)) return DataFault("cut in the 128-byte header");
    BufferedReader reader(in);
    std::vector<uint8_t> line(size_t(head.planes) * head.bytes_per_line);
    uint8_t pending_value = 0;
    int pending_count = 0;
    auto fill_row = [&](int32_t y, uint8_t* bgr) {
        if (!DecodeLine(reader, head.encoded, line, pending_value, pending_count)) {
            return DataFault(CutText(in, y, head.height));
        }
        LineToBgr(head, line, palette, bgr);
        return kFilterDone;
    };
    oFILTER_STATUS status = ReduceRows(size, factor, false, fill_row, out);
    if (status != kFilterDone) return status;
    out.m_xPelsPerMeter = int32_t(head.dpi_x * 3937 / 100);
    out.m_yPelsPerMeter = int32_t(head.dpi_y * 3937 / 100);
    return kFilterDone;
}

}  // namespace

std::unique_ptr<oFILTER> MakePcxFilter() {
    return std::make_unique<PcxFilter>();
}

}  // namespace scopa
