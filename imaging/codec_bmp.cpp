// BMP: Windows bitmap files, read row by row through the box reduction (uncompressed) or
// expanded in memory (RLE4, RLE8), and written as uncompressed DIBs.
#include <cstring>

#include "imaging/codecs.h"
#include "imaging/dib_format.h"
#include "imaging/row_reducer.h"
#include "platform/byte_reader.h"

namespace scopa {
namespace {

// Format notes: a 14-byte file header ("BM", file size, two reserved words, offset of the
// bits) precedes the info header: 12 bytes in the old core form (16-bit width and height,
// 3-byte colour entries), 40 bytes or more otherwise (4-byte colour entries).
constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kCoreHeaderBytes = 12;
constexpr size_t kLargestInfoHeaderBytes = 124;  // the version-5 header
// Run-length data is expanded in memory; its compressed size is bounded by this.
constexpr uint64_t kMaxRleBytes = kMaxEncodedFileBytes;

struct BmpHead {
    uint32_t bits_offset = 0;
    BitmapInfoHeader header;
    DibLayout layout;
};

// Reads and checks the headers and colour table: null when they are sound, else what is wrong.
const char* ReadBmpHead(vSTREAM& in, BmpHead& head) {
    uint8_t bytes[kFileHeaderBytes + kLargestInfoHeaderBytes + 12] = {};
    size_t count = in.Read(bytes, sizeof bytes);
    ByteReader reader(std::span<const uint8_t>(bytes, count));
    if (reader.U8() != 'B' || reader.U8() != 'M') return "no BM signature";
    reader.Skip(8);
    head.bits_offset = reader.U32();
    uint32_t info_size = reader.U32();
    if (!reader.Ok()) return "cut in the file header";
    bool core = info_size == kCoreHeaderBytes;
    if (!core && (info_size < kBitmapInfoHeaderBytes || info_size > kLargestInfoHeaderBytes)) {
        return "info header of an unknown size";
    }
    BitmapInfoHeader& header = head.header;
    header.size = info_size;
    if (core) {
        header.width = reader.U16();
        header.height = reader.U16();
        header.planes = reader.U16();
        header.bit_count = reader.U16();
    } else {
        auto parsed = ReadBitmapInfoHeader({bytes + kFileHeaderBytes, count - kFileHeaderBytes});
        if (!parsed) return "cut in the info header";
        header = *parsed;
    }
    if (!reader.Ok()) return "cut in the info header";
    if (header.planes != 1) return "planes other than 1";
    auto layout = DescribeDib(header);
    if (!layout) return "width, height, bit count or compression out of range";
    head.layout = *layout;
    if (header.compression == kBiBitfields) {
        ByteReader masks(std::span<const uint8_t>(bytes, count));
        masks.Seek(kFileHeaderBytes + kBitmapInfoHeaderBytes);
        head.layout.red = MakeChannelMask(masks.U32());
        head.layout.green = MakeChannelMask(masks.U32());
        head.layout.blue = MakeChannelMask(masks.U32());
        if (!masks.Ok()) return "cut in the bit-field masks";
    }
    // The colour table follows the info header (and the masks of a 40-byte bit-field header).
    size_t table_offset =
        kFileHeaderBytes + info_size +
        (header.compression == kBiBitfields && !core && info_size == kBitmapInfoHeaderBytes ? 12
                                                                                            : 0);
    uint32_t entries = header.bit_count <= 8 ? ColourTableEntries(header) : 0;
    if (core) entries = header.bit_count <= 8 ? 1u << header.bit_count : 0;
    size_t entry_bytes = core ? 3 : 4;
    std::vector<uint8_t> table(size_t(entries) * entry_bytes);
    if (!in.Seek(table_offset) || !in.ReadExact(table.data(), table.size())) {
        return "cut in the colour table";
    }
    ByteReader table_reader(table);
    for (uint32_t i = 0; i < entries; ++i) {
        ByteReader entry = table_reader.Take(entry_bytes);
        head.layout.colour_table.push_back({entry.U8(), entry.U8(), entry.U8(), 0});
    }
    return nullptr;
}

class BmpFilter : public BitmapFilter {
public:
    BmpFilter() : BitmapFilter("BMP", "Windows Bitmap") {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        return head.size() >= 18 && head[0] == 'B' && head[1] == 'M' &&
               (head[14] == 12 || head[14] == 40 || head[14] == 52 || head[14] == 56 ||
                head[14] == 64 || head[14] == 108 || head[14] == 124);
    }
    bool DoesExport() const override { return true; }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;
    oFILTER_STATUS Convert(const oDIB& in, vSTREAM& out) override;

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        BmpHead head;
        if (ReadBmpHead(in, head) != nullptr) return false;
        size = {head.layout.width, head.layout.height};
        return true;
    }
    int MaxReductionFactor() const override { return 1 << 16; }

private:
    oFILTER_STATUS ReadRows(vSTREAM& in, const BmpHead& head, RowReducer& reducer);
    oFILTER_STATUS ReadRle(vSTREAM& in, const BmpHead& head, RowReducer& reducer);
};

oFILTER_STATUS BmpFilter::ReadRows(vSTREAM& in, const BmpHead& head, RowReducer& reducer) {
    const DibLayout& layout = head.layout;
    std::vector<uint8_t> row(layout.stride), bgr(size_t(layout.width) * 3);
    if (!in.Seek(head.bits_offset)) return DataFault("bits offset beyond the end of the file");
    // Rows in stored order; the reducer knows which way up they come.
    for (int32_t y = 0; y < layout.height; ++y) {
        if (!in.ReadExact(row.data(), row.size())) return DataFault(CutText(in, y, layout.height));
        DibRowToBgr(layout, row.data(), bgr.data());
        reducer.PushRow(bgr.data());
        if (!ReportProgress(uint32_t(y + 1))) return kFilterInterrupted;
    }
    return kFilterDone;
}

oFILTER_STATUS BmpFilter::ReadRle(vSTREAM& in, const BmpHead& head, RowReducer& reducer) {
    std::vector<uint8_t> data, indices;
    if (!in.Seek(head.bits_offset)) return DataFault("bits offset beyond the end of the file");
    if (!in.ReadRest(data, kMaxRleBytes)) return ResourceFault("run-length data above 256 MB");
    const DibLayout& layout = head.layout;
    if (uint64_t(layout.width) * uint64_t(layout.height) > kMaxFullDecodePixels) {
        return TooLargeFault({layout.width, layout.height});
    }
    if (!DecodeDibRle(data, layout.compression == kBiRle4, layout.width, layout.height, indices)) {
        return DataFault("run-length data broken or cut");
    }
    DibLayout as_indices = layout;
    as_indices.bit_count = 8;
    std::vector<uint8_t> bgr(size_t(layout.width) * 3);
    for (int32_t y = 0; y < layout.height; ++y) {
        const uint8_t* row = indices.data() + size_t(layout.height - 1 - y) * size_t(layout.width);
        DibRowToBgr(as_indices, row, bgr.data());
        reducer.PushRow(bgr.data());
        if (!ReportProgress(uint32_t(y + 1))) return kFilterInterrupted;
    }
    return kFilterDone;
}

oFILTER_STATUS BmpFilter::Convert(vSTREAM& in, oDIB& out) {
    BmpHead head;
    uint64_t start = in.Tell();
    if (const char* fault = ReadBmpHead(in, head)) return DataFault(fault);
    head.bits_offset += uint32_t(start);
    vSIZE size{head.layout.width, head.layout.height};
    int factor = TakeReductionFactor(size);
    if (IsTooLargeToRead(size, factor)) return TooLargeFault(size);
    bool rle = head.layout.compression == kBiRle8 || head.layout.compression == kBiRle4;
    RowReducer reducer;
    if (!reducer.Start(size, factor, !rle && !head.layout.top_down)) {
        return NoMemoryFault(size, factor);
    }
    ReportStart(uint32_t(size.cy));
    oFILTER_STATUS status = rle ? ReadRle(in, head, reducer) : ReadRows(in, head, reducer);
    ReportEnd();
    if (status != kFilterDone) return status;
    out = std::move(reducer.Result());
    out.m_xPelsPerMeter = head.header.x_pels_per_meter;
    out.m_yPelsPerMeter = head.header.y_pels_per_meter;
    return kFilterDone;
}

oFILTER_STATUS BmpFilter::Convert(const oDIB& in, vSTREAM& out) {
    if (in.IsEmpty()) return kFilterFailed;
    std::vector<uint8_t> packed = in.ToPackedDib();
    uint32_t table_bytes = in.BitCount() <= 8 ? uint32_t(in.ColourTable().size()) * 4 : 0;
    uint32_t bits_offset = uint32_t(kFileHeaderBytes + kBitmapInfoHeaderBytes + table_bytes);
    uint32_t file_size = uint32_t(kFileHeaderBytes + packed.size());
    uint8_t file_header[kFileHeaderBytes] = {'B', 'M'};
    for (int i = 0; i < 4; ++i) {
        file_header[2 + i] = uint8_t(file_size >> (8 * i));
        file_header[10 + i] = uint8_t(bits_offset >> (8 * i));
    }
    if (!out.Write(file_header, sizeof file_header) || !out.Write(packed.data(), packed.size())) {
        return ResourceFault("cannot write the file");
    }
    return kFilterDone;
}

}  // namespace

std::unique_ptr<oFILTER> MakeBmpFilter() {
    return std::make_unique<BmpFilter>();
}

}  // namespace scopa
