// ICO: Windows icons. The largest image of the directory is read: embedded PNG through the PNG
// filter, or a DIB of twice its height whose AND mask (or alpha channel) makes pixels
// transparent, shown on white.
#include "imaging/codecs.h"
#include "imaging/dib_format.h"
#include "platform/byte_reader.h"

namespace scopa {
namespace {

// Format notes: a 6-byte header (0, type 1, image count) and 16-byte directory entries
// (width and height, 0 meaning 256; colour count; reserved; planes; bit count; data size;
// data offset). Each image is a PNG or a DIB without file header whose height counts the
// colour rows and the 1-bit AND mask rows that follow them.
constexpr size_t kHeaderBytes = 6;
constexpr size_t kEntryBytes = 16;
constexpr uint64_t kMaxIconFileBytes = uint64_t(16) << 20;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct IconEntry {
    uint32_t width = 0, height = 0, bits = 0, size = 0, offset = 0;
};

// The entry with the most pixels (then the most bits) whose data lies inside the file.
bool ChooseEntry(std::span<const uint8_t> file, IconEntry& chosen) {
    ByteReader reader(file);
    if (reader.U16() != 0 || reader.U16() != 1) return false;
    uint16_t count = reader.U16();
    bool found = false;
    for (uint16_t i = 0; i < count && reader.Ok(); ++i) {
        IconEntry entry;
        entry.width = reader.U8();
        entry.height = reader.U8();
        reader.Skip(4);
        entry.bits = reader.U16();
        entry.size = reader.U32();
        entry.offset = reader.U32();
        if (!reader.Ok()) return false;
        if (entry.width == 0) entry.width = 256;
        if (entry.height == 0) entry.height = 256;
        if (entry.offset > file.size() || entry.size > file.size() - entry.offset) continue;
        uint64_t pixels = uint64_t(entry.width) * entry.height;
        uint64_t best = uint64_t(chosen.width) * chosen.height;
        if (!found || pixels > best || (pixels == best && entry.bits > chosen.bits)) {
            chosen = entry;
            found = true;
        }
    }
    return found;
}

constexpr const char* kNoImageMemory = "no memory for the image";

// Decodes an icon's bitmap image: null when done, else what is wrong with it (a data fault
// unless it is kNoImageMemory).
const char* DecodeIconDib(std::span<const uint8_t> data, oDIB& out) {
    auto header = ReadBitmapInfoHeader(data);
    if (!header || header->size < kBitmapInfoHeaderBytes) return "image header cut or too small";
    if (header->height <= 0 || header->compression != kBiRgb) {
        return "image not an uncompressed bottom-up bitmap";
    }
    BitmapInfoHeader colour_header = *header;
    colour_header.height = header->height / 2;
    auto layout = DescribeDib(colour_header);
    if (!layout) return "image width, height or bit count out of range";
    ByteReader reader(data);
    reader.Seek(header->size);
    uint32_t entries = header->bit_count <= 8 ? ColourTableEntries(*header) : 0;
    for (uint32_t i = 0; i < entries; ++i) {
        RgbQuad quad;
        quad.blue = reader.U8();
        quad.green = reader.U8();
        quad.red = reader.U8();
        reader.U8();
        layout->colour_table.push_back(quad);
    }
    int32_t width = layout->width, height = layout->height;
    size_t mask_stride = DibStride(width, 1);
    std::span<const uint8_t> colour_rows = reader.Bytes(layout->stride * size_t(height));
    std::span<const uint8_t> mask_rows = reader.Bytes(mask_stride * size_t(height));
    if (colour_rows.empty()) return "image cut in its colour rows";
    // Icons with an alpha channel often omit nothing but have no use for the mask.
    bool use_alpha = false;
    if (header->bit_count == 32) {
        for (size_t i = 3; i < colour_rows.size(); i += 4)
            use_alpha |= colour_rows[i] != 0;
    }
    if (!out.Create(width, height, 24)) return kNoImageMemory;
    std::vector<uint8_t> bgr(size_t(width) * 3);
    for (int32_t stored = 0; stored < height; ++stored) {
        int32_t y = height - 1 - stored;
        const uint8_t* row = colour_rows.data() + size_t(stored) * layout->stride;
        DibRowToBgr(*layout, row, bgr.data());
        uint8_t* target = out.Row(y);
        for (int32_t x = 0; x < width; ++x) {
            unsigned alpha = 255;
            if (use_alpha) {
                alpha = row[4 * x + 3];
            } else if (!mask_rows.empty()) {
                const uint8_t* mask = mask_rows.data() + size_t(stored) * mask_stride;
                alpha = (mask[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
            }
            for (int c = 0; c < 3; ++c) {
                target[3 * x + c] = uint8_t(
                    (bgr[3 * size_t(x) + size_t(c)] * alpha + 255 * (255 - alpha) + 127) / 255);
            }
        }
    }
    return nullptr;
}

class IcoFilter : public BitmapFilter {
public:
    IcoFilter() : BitmapFilter("ICO", "Windows Icon") {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        ByteReader reader(head);
        return reader.U16() == 0 && reader.U16() == 1 && reader.U16() != 0 &&
               reader.U8At(kHeaderBytes + 3) == 0 && reader.Size() >= kHeaderBytes + kEntryBytes;
    }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override {
        std::vector<uint8_t> file;
        IconEntry entry;
        TakeReductionFactor({});
        if (!in.ReadRest(file, kMaxIconFileBytes))
            return ResourceFault("icon file larger than 16 MB");
        if (!ChooseEntry(file, entry)) return DataFault("no image lies inside the file");
        std::span<const uint8_t> data(file.data() + entry.offset, entry.size);
        if (ByteReader(data).Match(kPngSignature)) {
            oFILTER* png = oFILTERLIST::FindByID("PNG");
            if (png == nullptr) return ResourceFault("no PNG filter");
            vMEMSTREAM stream(data);
            png->ClearFailure();
            return Adopt(*png, png->Convert(stream, out));
        }
        const char* fault = DecodeIconDib(data, out);
        if (fault == nullptr) return kFilterDone;
        return fault == kNoImageMemory ? ResourceFault(fault) : DataFault(fault);
    }

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        std::vector<uint8_t> file;
        IconEntry entry;
        if (!in.ReadRest(file, kMaxIconFileBytes) || !ChooseEntry(file, entry)) return false;
        size = {int32_t(entry.width), int32_t(entry.height)};
        return true;
    }
};

}  // namespace

std::unique_ptr<oFILTER> MakeIcoFilter() {
    return std::make_unique<IcoFilter>();
}

}  // namespace scopa
