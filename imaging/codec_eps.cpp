// EPS: encapsulated PostScript is not interpreted; its preview is read instead: the TIFF or
// WMF preview of a binary EPS header, or the hexadecimal EPSI preview in the PostScript
// comments.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "imaging/codecs.h"
#include "imaging/draw.h"
#include "platform/byte_reader.h"

namespace scopa {
namespace {

// Format notes: a binary EPS file starts with C5 D0 D3 C6 and six little-endian 32-bit words:
// PostScript offset and length, WMF preview offset and length, TIFF preview offset and length
// (zero when absent), then a 16-bit checksum. EPSI puts "%%BeginPreview: width height depth
// lines" into the PostScript, followed by lines of "%" and hexadecimal samples, rows top-down,
// each row padded to whole bytes, 0 being white.
constexpr uint32_t kBinaryEpsKey = 0xC6D3D0C5;
constexpr size_t kBinaryHeaderBytes = 30;
constexpr uint64_t kMaxEpsBytes = uint64_t(256) << 20;
constexpr int32_t kMaxPreviewSidePx = 8192;
constexpr int32_t kWmfPreviewMaxSidePx = 1024;

constexpr const char* kNoPreviewMemory = "no memory for the preview";

// Decodes the EPSI preview in `text`: null when done, else what is wrong with it (a data fault
// unless it is kNoPreviewMemory).
const char* DecodeEpsi(std::string_view text, oDIB& out) {
    size_t begin = text.find("%%BeginPreview:");
    if (begin == std::string_view::npos) return "no preview";
    size_t cursor = begin + 15;
    int values[4] = {};
    for (int& value : values) {
        while (cursor < text.size() && (text[cursor] == ' ' || text[cursor] == '\t'))
            ++cursor;
        auto [end, error] = std::from_chars(text.data() + cursor, text.data() + text.size(), value);
        if (error != std::errc()) return "preview size unreadable";
        cursor = size_t(end - text.data());
    }
    int width = values[0], height = values[1], depth = values[2];
    if (width <= 0 || height <= 0 || width > kMaxPreviewSidePx || height > kMaxPreviewSidePx ||
        (depth != 1 && depth != 2 && depth != 4 && depth != 8)) {
        return "preview width, height or depth out of range";
    }
    size_t row_bytes = (size_t(width) * size_t(depth) + 7) / 8;
    std::vector<uint8_t> samples;
    samples.reserve(row_bytes * size_t(height));
    int high = -1;
    for (; cursor < text.size() && samples.size() < row_bytes * size_t(height); ++cursor) {
        char c = text[cursor];
        if (c == '%') {
            if (text.compare(cursor, 13, "%%EndPreview") == 0) break;
            continue;
        }
        int nibble = c >= '0' && c <= '9'   ? c - '0'
                     : c >= 'a' && c <= 'f' ? c - 'a' + 10
                     : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                            : -1;
        if (nibble < 0) continue;
        if (high < 0) {
            high = nibble;
        } else {
            samples.push_back(uint8_t(high << 4 | nibble));
            high = -1;
        }
    }
    if (samples.size() < row_bytes * size_t(height)) return "preview cut before its last sample";
    if (!out.Create(width, height, 24)) return kNoPreviewMemory;
    int max_value = (1 << depth) - 1;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = samples.data() + size_t(y) * row_bytes;
        uint8_t* target = out.Row(y);
        for (int x = 0; x < width; ++x) {
            size_t bit = size_t(x) * size_t(depth);
            int value = (row[bit / 8] >> (8 - depth - bit % 8)) & max_value;
            uint8_t grey = uint8_t(255 - value * 255 / max_value);
            std::memset(target + 3 * x, grey, 3);
        }
    }
    return nullptr;
}

class EpsFilter : public oFILTER {
public:
    oFILTER_TYPE Type() const override { return kFilterTypeEps; }
    const char* GetID() const override { return "EPS"; }
    const char* GetDescription() const override { return "Encapsulated PostScript"; }
    bool CheckStream(std::span<const uint8_t> head) const override {
        if (head.size() >= 4 && ByteReader(head).U32() == kBinaryEpsKey) return true;
        std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
        return text.starts_with("%!PS-Adobe-") &&
               text.substr(0, 80).find("EPSF") != std::string_view::npos;
    }

    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override {
        std::vector<uint8_t> file;
        if (!in.ReadRest(file, kMaxEpsBytes)) return ResourceFault("file larger than 256 MB");
        ReportStart(1);
        ReportEnd();
        ByteReader reader(file);
        if (file.size() < kBinaryHeaderBytes || reader.U32() != kBinaryEpsKey) {
            return ReadEpsi({reinterpret_cast<const char*>(file.data()), file.size()}, out);
        }
        uint32_t ps_offset = reader.U32(), ps_length = reader.U32();
        uint32_t wmf_offset = reader.U32(), wmf_length = reader.U32();
        uint32_t tiff_offset = reader.U32(), tiff_length = reader.U32();
        if (!reader.Ok()) return DataFault("cut in the binary header");
        auto section = [&](uint32_t offset, uint32_t length) -> std::span<const uint8_t> {
            if (length == 0 || offset > file.size() || length > file.size() - offset) return {};
            return {file.data() + offset, length};
        };
        if (auto tiff = section(tiff_offset, tiff_length); !tiff.empty()) {
            return ReadTiffPreview(tiff, out);
        }
        if (auto wmf = section(wmf_offset, wmf_length); !wmf.empty()) {
            return ReadWmfPreview(wmf, out);
        }
        auto postscript = section(ps_offset, ps_length);
        return ReadEpsi({reinterpret_cast<const char*>(postscript.data()), postscript.size()}, out);
    }

private:
    oFILTER_STATUS ReadEpsi(std::string_view text, oDIB& out) {
        const char* fault = DecodeEpsi(text, out);
        if (fault == nullptr) return kFilterDone;
        return fault == kNoPreviewMemory ? ResourceFault(fault) : DataFault(fault);
    }

    oFILTER_STATUS ReadTiffPreview(std::span<const uint8_t> tiff, oDIB& out) {
        oFILTER* filter = oFILTERLIST::FindByID("TIF");
        if (filter == nullptr) return ResourceFault("no TIFF filter");
        vMEMSTREAM stream(tiff);
        filter->ClearFailure();
        return Adopt(*filter, filter->Convert(stream, out));
    }

    oFILTER_STATUS ReadWmfPreview(std::span<const uint8_t> wmf, oDIB& out) {
        oFILTER* filter = oFILTERLIST::FindByID("WMF");
        if (filter == nullptr) return ResourceFault("no WMF filter");
        vMEMSTREAM stream(wmf);
        vMETAFILE picture;
        filter->ClearFailure();
        if (oFILTER_STATUS status = filter->Convert(stream, picture); status != kFilterDone) {
            return Adopt(*filter, status);
        }
        // Drawn at its own size in pixels at 96 per inch, within a bound.
        Rect box = FitToBoxSize(picture.m_cx, picture.m_cy);
        if (box.IsEmpty()) return DataFault("preview metafile of size 0");
        if (!out.Create(box.right, box.bottom, 24)) return ResourceFault(kNoPreviewMemory);
        FillRect(out, box, kWhite);
        DrawMetafile(out, box, picture);
        return kFilterDone;
    }

    static Rect FitToBoxSize(int32_t cx_himetric, int32_t cy_himetric) {
        double w = cx_himetric * 96.0 / 2540.0, h = cy_himetric * 96.0 / 2540.0;
        double longer = std::max(w, h);
        if (longer <= 0) return {};
        if (longer > kWmfPreviewMaxSidePx) {
            w *= kWmfPreviewMaxSidePx / longer;
            h *= kWmfPreviewMaxSidePx / longer;
        }
        return {0, 0, std::max(1, int32_t(w + 0.5)), std::max(1, int32_t(h + 0.5))};
    }
};

}  // namespace

std::unique_ptr<oFILTER> MakeEpsFilter() {
    return std::make_unique<EpsFilter>();
}

}  // namespace scopa
