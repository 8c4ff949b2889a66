// PNG through libpng. Rows stream through the box reduction, so a huge picture's thumbnail
// holds one row and one band of sums; only interlaced pictures need all rows at once, and
// those are bounded. libpng's longjmp is confined to the Guarded* functions.
#include <png.h>
#include <csetjmp>
#include <cstring>

#include "imaging/codecs.h"
#include "imaging/row_reducer.h"

namespace scopa {
namespace {

constexpr uint32_t kMaxSidePx = 1u << 20;
// Interlaced pictures are assembled whole (4 bytes a pixel) before reduction.
constexpr uint64_t kMaxInterlacedPixels = uint64_t(1) << 26;
// Ancillary chunks (text, profiles) larger than this are refused rather than buffered.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

void ReadFromStream(png_structp png, png_bytep data, size_t length) {
    auto* stream = static_cast<vSTREAM*>(png_get_io_ptr(png));
    if (!stream->ReadExact(data, length)) png_error(png, "truncated");
}

struct PngHead {
    vSIZE size;
    vSIZE pels_per_meter{0, 0};  // from pHYs, when it gives metres
    bool interlaced = false;
    bool alpha = false;  // rows come as RGBA (else BGR)
};

// Resolutions beyond this (about 25,000 dpi) are no real resolution.
constexpr png_uint_32 kMaxPelsPerMeter = 1'000'000;

struct DecodeContext {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngHead head;
};

void Destroy(DecodeContext& context) {
    if (context.png != nullptr) png_destroy_read_struct(&context.png, &context.info, nullptr);
}

// Reads the header and sets the transformations: 8-bit RGB(A), palette and grey expanded.
bool GuardedReadHead(DecodeContext& context, vSTREAM& in) {
    context.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (context.png == nullptr) return false;
    context.info = png_create_info_struct(context.png);
    if (context.info == nullptr || setjmp(png_jmpbuf(context.png))) {
        Destroy(context);
        return false;
    }
    png_set_read_fn(context.png, &in, ReadFromStream);
    png_set_user_limits(context.png, kMaxSidePx, kMaxSidePx);
    png_set_chunk_malloc_max(context.png, kMaxChunkBytes);
    png_read_info(context.png, context.info);
    png_uint_32 width = 0, height = 0;
    int bit_depth = 0, colour_type = 0, interlace = 0;
    png_get_IHDR(context.png, context.info, &width, &height, &bit_depth, &colour_type, &interlace,
                 nullptr, nullptr);
    context.head.size = {int32_t(width), int32_t(height)};
    context.head.interlaced = interlace != PNG_INTERLACE_NONE;
    png_uint_32 x_pels = 0, y_pels = 0;
    int unit = 0;
    if (png_get_pHYs(context.png, context.info, &x_pels, &y_pels, &unit) != 0 &&
        unit == PNG_RESOLUTION_METER && x_pels <= kMaxPelsPerMeter && y_pels <= kMaxPelsPerMeter) {
        context.head.pels_per_meter = {int32_t(x_pels), int32_t(y_pels)};
    }
    context.head.alpha = (colour_type & PNG_COLOR_MASK_ALPHA) != 0 ||
                         png_get_valid(context.png, context.info, PNG_INFO_tRNS) != 0;
    png_set_expand(context.png);
    png_set_scale_16(context.png);
    png_set_gray_to_rgb(context.png);
    if (!context.head.alpha) png_set_bgr(context.png);
    if (context.head.interlaced) png_set_interlace_handling(context.png);
    png_read_update_info(context.png, context.info);
    return true;
}

enum class DecodeResult { kDone, kFailed, kInterrupted };
using RowCallback = bool (*)(void* user, const uint8_t* row, int32_t y);

// Reads every row (all passes for interlaced pictures, into `whole`) and hands each finished
// row to `on_row`; destroys the reader in every case.
DecodeResult GuardedReadRows(DecodeContext& context, uint8_t* row, uint8_t* whole, size_t row_bytes,
                             RowCallback on_row, void* user) {
    if (setjmp(png_jmpbuf(context.png))) {
        Destroy(context);
        return DecodeResult::kFailed;
    }
    int32_t height = context.head.size.cy;
    if (whole != nullptr) {
        int passes = PNG_INTERLACE_ADAM7_PASSES;
        for (int pass = 0; pass < passes; ++pass) {
            for (int32_t y = 0; y < height; ++y) {
                png_read_row(context.png, whole + size_t(y) * row_bytes, nullptr);
            }
        }
        for (int32_t y = 0; y < height; ++y) {
            if (!on_row(user, whole + size_t(y) * row_bytes, y)) {
                Destroy(context);
                return DecodeResult::kInterrupted;
            }
        }
    } else {
        for (int32_t y = 0; y < height; ++y) {
            png_read_row(context.png, row, nullptr);
            if (!on_row(user, row, y)) {
                Destroy(context);
                return DecodeResult::kInterrupted;
            }
        }
    }
    png_read_end(context.png, nullptr);
    Destroy(context);
    return DecodeResult::kDone;
}

struct ReadState {
    class PngFilter* filter;
    RowReducer* reducer;
    std::vector<uint8_t>* bgr;
    bool alpha;
    int32_t width;
};

void WriteToStream(png_structp png, png_bytep data, size_t length) {
    auto* stream = static_cast<vSTREAM*>(png_get_io_ptr(png));
    if (!stream->Write(data, length)) png_error(png, "write failed");
}
void Flush(png_structp) {}

struct EncodeContext {
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_color palette[256];
};

bool GuardedEncode(EncodeContext& context, const oDIB& picture, vSTREAM& out) {
    context.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (context.png == nullptr) return false;
    context.info = png_create_info_struct(context.png);
    if (context.info == nullptr || setjmp(png_jmpbuf(context.png))) {
        png_destroy_write_struct(&context.png, &context.info);
        return false;
    }
    png_set_write_fn(context.png, &out, WriteToStream, Flush);
    bool indexed = picture.BitCount() == 8;
    png_set_IHDR(context.png, context.info, png_uint_32(picture.Width()),
                 png_uint_32(picture.Height()), 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        const auto& table = picture.ColourTable();
        for (size_t i = 0; i < table.size() && i < 256; ++i) {
            context.palette[i] = {table[i].red, table[i].green, table[i].blue};
        }
        png_set_PLTE(context.png, context.info, context.palette, int(table.size()));
    }
    if (picture.m_xPelsPerMeter > 0 && picture.m_yPelsPerMeter > 0) {
        png_set_pHYs(context.png, context.info, png_uint_32(picture.m_xPelsPerMeter),
                     png_uint_32(picture.m_yPelsPerMeter), PNG_RESOLUTION_METER);
    }
    png_write_info(context.png, context.info);
    if (!indexed) png_set_bgr(context.png);
    for (int32_t y = 0; y < picture.Height(); ++y) {
        png_write_row(context.png, picture.Row(y));
    }
    png_write_end(context.png, context.info);
    png_destroy_write_struct(&context.png, &context.info);
    return true;
}

class PngFilter : public BitmapFilter {
public:
    PngFilter() : BitmapFilter("PNG", "Portable Network Graphics") {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        return head.size() >= 8 && png_sig_cmp(head.data(), 0, 8) == 0;
    }
    bool DoesExport() const override { return true; }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;
    oFILTER_STATUS Convert(const oDIB& in, vSTREAM& out) override;

    static bool OnRow(void* user, const uint8_t* row, int32_t y) {
        auto* state = static_cast<ReadState*>(user);
        if (state->alpha) {
            CompositeRgbaOnWhite(row, state->width, state->bgr->data());
            row = state->bgr->data();
        }
        state->reducer->PushRow(row);
        return state->filter->ReportProgress(uint32_t(y + 1));
    }

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        DecodeContext context;
        if (!GuardedReadHead(context, in)) return false;
        size = context.head.size;
        Destroy(context);
        return true;
    }
    int MaxReductionFactor() const override { return 1 << 16; }
};

oFILTER_STATUS PngFilter::Convert(vSTREAM& in, oDIB& out) {
    DecodeContext context;
    if (!GuardedReadHead(context, in)) return kFilterFailed;
    const PngHead& head = context.head;
    int factor = TakeReductionFactor(head.size);
    uint64_t pixels = uint64_t(head.size.cx) * uint64_t(head.size.cy);
    RowReducer reducer;
    if (IsTooLargeToRead(head.size, factor) || (head.interlaced && pixels > kMaxInterlacedPixels) ||
        !reducer.Start(head.size, factor)) {
        Destroy(context);
        return kFilterFailed;
    }
    size_t row_bytes = png_get_rowbytes(context.png, context.info);
    std::vector<uint8_t> row(row_bytes), whole, bgr(size_t(head.size.cx) * 3);
    if (head.interlaced) whole.resize(row_bytes * size_t(head.size.cy));
    ReadState state{this, &reducer, &bgr, head.alpha, head.size.cx};
    ReportStart(uint32_t(head.size.cy));
    DecodeResult result = GuardedReadRows(
        context, row.data(), head.interlaced ? whole.data() : nullptr, row_bytes, OnRow, &state);
    ReportEnd();
    if (result == DecodeResult::kInterrupted) return kFilterInterrupted;
    if (result == DecodeResult::kFailed) return kFilterFailed;
    out = std::move(reducer.Result());
    // A reduced read covers the same paper with fewer pixels.
    out.m_xPelsPerMeter = head.pels_per_meter.cx / factor;
    out.m_yPelsPerMeter = head.pels_per_meter.cy / factor;
    return kFilterDone;
}

oFILTER_STATUS PngFilter::Convert(const oDIB& in, vSTREAM& out) {
    if (in.IsEmpty()) return kFilterFailed;
    oDIB storage;
    const oDIB& picture = in.BitCount() == 8 ? in : As24(in, storage);
    EncodeContext context;
    return GuardedEncode(context, picture, out) ? kFilterDone : kFilterFailed;
}

}  // namespace

std::unique_ptr<oFILTER> MakePngFilter() {
    return std::make_unique<PngFilter>();
}

}  // namespace scopa
