// WMF: Windows metafiles. Reading keeps the file's bytes and plays them through the player
// when drawn. The writer writes a metafile that was read as a WMF back unchanged, records
// other drawings as polygons and polylines where they can be (wmf_recorder.h), and stores a
// bitmap, or a drawing that cannot be recorded, as a placeable metafile with one StretchDIB
// record.
#include <cairo.h>
#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "imaging/codecs.h"
#include "imaging/draw.h"
#include "imaging/wmf_format.h"
#include "imaging/wmf_player.h"
#include "imaging/wmf_recorder.h"

namespace scopa {
namespace {

using namespace wmf;

constexpr uint64_t kMaxWmfBytes = uint64_t(64) << 20;
constexpr double kHimetricPerInch = 2540.0;
constexpr double kDefaultUnitsPerInch = 96.0;
// The largest side, in pixels, a non-bitmap vector picture is rendered at for writing.
constexpr int32_t kMaxWrittenRenderPx = 1024;

class WmfDrawing : public VectorDrawing {
public:
    WmfDrawing(std::vector<uint8_t> bytes, WmfLayout layout, const vMETAFILE& frame)
        : m_bytes(std::move(bytes)), m_layout(layout), m_frame(frame) {}
    void Draw(cairo_t* cairo) const override { PlayWmf(cairo, m_frame, m_bytes, m_layout); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    WmfLayout m_layout;
    vMETAFILE m_frame;  // extents only
};

// Appends one record: size in words, function, parameter words.
void PutRecord(std::vector<uint8_t>& out, uint16_t function, std::span<const uint16_t> words,
               std::span<const uint8_t> tail = {}) {
    size_t tail_words = (tail.size() + 1) / 2;
    uint32_t size = uint32_t(3 + words.size() + tail_words);
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(size >> (8 * i)));
    out.push_back(uint8_t(function));
    out.push_back(uint8_t(function >> 8));
    for (uint16_t word : words) {
        out.push_back(uint8_t(word));
        out.push_back(uint8_t(word >> 8));
    }
    out.insert(out.end(), tail.begin(), tail.end());
    if (tail.size() % 2 != 0) out.push_back(0);
}

// The placeable and standard headers in front of `records` (which end with EOF).
std::vector<uint8_t> WithHeaders(const std::vector<uint8_t>& records, uint16_t w, uint16_t h,
                                 uint16_t units_per_inch, uint16_t objects, size_t largest) {
    std::vector<uint8_t> out;
    auto put16 = [&](uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(uint16_t(v));
        put16(uint16_t(v >> 16));
    };
    put32(kPlaceableKey);
    put16(0);
    put16(0);
    put16(0);
    put16(w);
    put16(h);
    put16(units_per_inch);
    put32(0);
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2)
        checksum ^= uint16_t(out[i] | out[i + 1] << 8);
    put16(checksum);
    put16(1);
    put16(kHeaderBytes / 2);
    put16(0x0300);
    put32(uint32_t((kHeaderBytes + records.size()) / 2));
    put16(objects);
    put32(uint32_t(largest));
    put16(0);
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

std::vector<uint8_t> WriteBitmapMetafile(const oDIB& dib, uint16_t units_per_inch) {
    std::vector<uint8_t> packed = dib.ToPackedDib();
    uint16_t w = uint16_t(dib.Width()), h = uint16_t(dib.Height());
    std::vector<uint8_t> records;
    const uint16_t map_mode[] = {8};  // anisotropic
    PutRecord(records, kSetMapMode, map_mode);
    const uint16_t origin[] = {0, 0};
    PutRecord(records, kSetWindowOrg, origin);
    const uint16_t extent[] = {h, w};
    PutRecord(records, kSetWindowExt, extent);
    const uint16_t stretch[] = {
        uint16_t(kSrcCopy & 0xFFFF), uint16_t(kSrcCopy >> 16), 0, h, w, 0, 0, h, w, 0, 0};
    PutRecord(records, kStretchDib, stretch, packed);
    size_t largest = 3 + std::size(stretch) + (packed.size() + 1) / 2;
    PutRecord(records, kEof, {});
    return WithHeaders(records, w, h, units_per_inch, 0, largest);
}

class WmfFilter : public oFILTER {
public:
    oFILTER_TYPE Type() const override { return kFilterTypeVector; }
    const char* GetID() const override { return "WMF"; }
    const char* GetDescription() const override { return "Windows Metafile"; }
    bool DoesExport() const override { return true; }
    bool CheckStream(std::span<const uint8_t> head) const override {
        WmfLayout layout;
        return head.size() >= kHeaderBytes && ParseLayout(head, layout);
    }

    oFILTER_STATUS Convert(vSTREAM& in, vMETAFILE& out) override {
        std::vector<uint8_t> bytes;
        WmfLayout layout;
        if (!in.ReadRest(bytes, kMaxWmfBytes)) return ResourceFault("metafile larger than 64 MB");
        if (!ParseLayout(bytes, layout)) return DataFault("headers cut or inconsistent");
        ReportStart(1);
        ReportEnd();
        out = vMETAFILE();
        double units_per_inch = kDefaultUnitsPerInch;
        if (layout.placeable) {
            out.LogicalExtents(layout.left, layout.right, layout.top, layout.bottom);
            if (layout.units_per_inch != 0) units_per_inch = layout.units_per_inch;
        } else if (!FindWindow(bytes, layout, out)) {
            return DataFault("no window extent to size the picture");
        }
        if (out.m_x1 == out.m_x0 || out.m_y1 == out.m_y0)
            return DataFault("logical width or height 0");
        SetPhysicalExtents(out, units_per_inch);
        out.m_drawing = std::make_shared<WmfDrawing>(std::move(bytes), layout, out);
        return kFilterDone;
    }

    oFILTER_STATUS Convert(const vMETAFILE& in, vSTREAM& out) override {
        if (auto* wmf = dynamic_cast<const WmfDrawing*>(in.m_drawing.get());
            wmf != nullptr && in.m_bitmap == nullptr) {
            return WriteBytes(wmf->Bytes(), out);
        }
        // A drawing in solid colours stays a drawing: its shapes become records.
        if (std::optional<RecordedMetafile> recorded = RecordAsMetafile(in)) {
            std::vector<uint8_t> bytes = WithHeaders(
                recorded->records, uint16_t(recorded->width), uint16_t(recorded->height),
                recorded->units_per_inch, recorded->objects, recorded->largest_record_words);
            return WriteBytes(bytes, out);
        }
        oDIB bitmap;
        uint16_t units_per_inch = uint16_t(kDefaultUnitsPerInch);
        if (in.m_bitmap != nullptr && in.m_drawing == nullptr) {
            bitmap = *in.m_bitmap;
            if (bitmap.m_xPelsPerMeter > 0) {
                units_per_inch =
                    uint16_t(std::clamp(bitmap.m_xPelsPerMeter * 254 / 10000, 1, 65535));
            }
        } else if (!RenderForWriting(in, bitmap)) {
            return ResourceFault("the drawing cannot be rendered");
        }
        if (bitmap.Width() > 32767 || bitmap.Height() > 32767) {
            return ResourceFault("bitmap sides above 32767 pixels");
        }
        return WriteBytes(WriteBitmapMetafile(bitmap, units_per_inch), out);
    }

private:
    oFILTER_STATUS WriteBytes(const std::vector<uint8_t>& bytes, vSTREAM& out) {
        return out.Write(bytes.data(), bytes.size()) ? kFilterDone
                                                     : ResourceFault("cannot write the file");
    }

    // Hundredths of a millimetre, rounded as a whole multiple of the smallest integer ratio of
    // the two spans, so that a 4:3 picture stays exactly 4:3 when it is fitted into a box.
    static void SetPhysicalExtents(vMETAFILE& out, double units_per_inch) {
        int64_t span_x = std::abs(int64_t(out.m_x1) - out.m_x0);
        int64_t span_y = std::abs(int64_t(out.m_y1) - out.m_y0);
        int64_t divisor = std::gcd(span_x, span_y);
        int64_t ratio_x = span_x / divisor, ratio_y = span_y / divisor;
        double himetric_x = double(span_x) / units_per_inch * kHimetricPerInch;
        int64_t multiple = std::max<int64_t>(1, std::llround(himetric_x / double(ratio_x)));
        if (multiple * std::max(ratio_x, ratio_y) > INT32_MAX) multiple = 1;
        out.PhysicalExtents(int32_t(std::min<int64_t>(multiple * ratio_x, INT32_MAX)),
                            int32_t(std::min<int64_t>(multiple * ratio_y, INT32_MAX)));
    }

    // Without a placeable header the first window origin and extent set the extents.
    static bool FindWindow(std::span<const uint8_t> bytes, const WmfLayout& layout,
                           vMETAFILE& out) {
        int16_t x = 0, y = 0, w = 0, h = 0;
        ForEachRecord(bytes, layout.records_offset, [&](const Record& record) {
            if (record.function == kSetWindowOrg) {
                y = record.Word(0);
                x = record.Word(1);
            } else if (record.function == kSetWindowExt) {
                h = record.Word(0);
                w = record.Word(1);
                return false;
            }
            return true;
        });
        if (w == 0 || h == 0) return false;
        out.LogicalExtents(x, x + w, y, y + h);
        return true;
    }

    static bool RenderForWriting(const vMETAFILE& in, oDIB& bitmap) {
        double cx = std::max(1, in.m_cx), cy = std::max(1, in.m_cy);
        double scale = kDefaultUnitsPerInch / kHimetricPerInch;
        double longer = std::max(cx, cy) * scale;
        if (longer > kMaxWrittenRenderPx) scale *= kMaxWrittenRenderPx / longer;
        int32_t w = std::max(1, int32_t(cx * scale + 0.5)),
                h = std::max(1, int32_t(cy * scale + 0.5));
        if (!bitmap.Create(w, h, 24)) return false;
        FillRect(bitmap, {0, 0, w, h}, kWhite);
        return DrawMetafile(bitmap, {0, 0, w, h}, in);
    }
};

}  // namespace

std::unique_ptr<oFILTER> MakeWmfFilter() {
    return std::make_unique<WmfFilter>();
}

}  // namespace scopa
