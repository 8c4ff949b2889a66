// PNG through libpng. Rows stream through the box reduction, so a huge picture's thumbnail
// holds one row and one band of sums. Interlaced pictures are read only up to the Adam7 pass
// whose pixels form a grid as fine as the reduction: the first pass alone (every eighth
// pixel of every eighth row) streams like rows; finer grids are assembled in a bounded
// buffer. libpng's longjmp is confined to the Guarded* functions.
#include <png.h>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include "imaging/codecs.h"
#include "imaging/png_chunk_limit.h"
#include "imaging/row_reducer.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace scopa {
namespace {

constexpr uint32_t kMaxSidePx = 1u << 20;
// Interlaced pictures read past their first pass are assembled (4 bytes a pixel) before
// reduction: at most this many pixels of the assembled grid.
constexpr uint64_t kMaxInterlacedPixels = uint64_t(1) << 26;
// Ancillary chunks (text, profiles) larger than this are refused rather than buffered.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

// libpng reports an error by calling OnError, which must not return; its text is kept for the
// failure record before the longjmp. Warnings are only traced.
constexpr size_t kMaxMessageBytes = 200;
struct PngMessages {
    char error[kMaxMessageBytes] = {};
};

void OnError(png_structp png, png_const_charp message) {
    if (auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png))) {
        std::snprintf(messages->error, sizeof messages->error, "%s", message);
    }
    png_longjmp(png, 1);
}
void OnWarning(png_structp png, png_const_charp message) {
    if (IsOverlongChunkWarning(png, message)) {
        png_uint_32 chunk = png_get_io_chunk_type(png);
        char text[kMaxMessageBytes];
        std::snprintf(text, sizeof text, "%c%c%c%c: declares more data than a chunk may hold",
                      char(chunk >> 24), char(chunk >> 16), char(chunk >> 8), char(chunk));
        OnError(png, text);
    }
    try {
        Trace(std::string("PNG warning: ") + message + "\n");
    } catch (...) {  // nothing may unwind through the library
    }
}

// libpng's texts for exhausted memory, exceeded limits and failed writes; every other error is
// in the data.
bool IsResourceMessage(const char* message) {
    std::string text = ToLowerAscii(message);
    for (const char* word : {"memory", "limit", "too large", "write"}) {
        if (text.find(word) != std::string::npos) return true;
    }
    return false;
}

// A file that ends early says where: in which chunk, and at which byte the reading stopped.
void ReadFromStream(png_structp png, png_bytep data, size_t length) {
    auto* stream = static_cast<vSTREAM*>(png_get_io_ptr(png));
    if (stream->ReadExact(data, length)) return;
    png_uint_32 location = png_get_io_state(png) & PNG_IO_MASK_LOC;
    png_uint_32 chunk = png_get_io_chunk_type(png);
    char name[5] = {char(chunk >> 24), char(chunk >> 16), char(chunk >> 8), char(chunk), 0};
    char message[kMaxMessageBytes];
    unsigned long long at = stream->Tell();
    if (location == PNG_IO_SIGNATURE) {
        std::snprintf(message, sizeof message, "cut in the signature at byte %llu", at);
    } else if (location == PNG_IO_CHUNK_HDR) {
        std::snprintf(message, sizeof message, "cut in a chunk header at byte %llu", at);
    } else {
        std::snprintf(message, sizeof message, "%s: unexpected end of data at byte %llu", name, at);
    }
    png_error(png, message);
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
    PngMessages messages;
};

void Destroy(DecodeContext& context) {
    if (context.png != nullptr) png_destroy_read_struct(&context.png, &context.info, nullptr);
}

// Reads the header and sets the transformations: 8-bit RGB(A), palette and grey expanded.
bool GuardedReadHead(DecodeContext& context, vSTREAM& in) {
    context.png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &context.messages, OnError, OnWarning);
    if (context.png == nullptr) return false;
    context.info = png_create_info_struct(context.png);
    if (context.info == nullptr || setjmp(png_jmpbuf(context.png))) {
        Destroy(context);
        return false;
    }
    png_set_read_fn(context.png, &in, ReadFromStream);
    png_set_user_limits(context.png, kMaxSidePx, kMaxSidePx);
    png_set_chunk_malloc_max(context.png, kMaxChunkBytes);
    // Checksums only tell a damaged file from a sound one, and a damaged one still shows what
    // it holds; not computing them saves about a tenth of the read.
    png_set_option(context.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_set_crc_action(context.png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
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
    png_read_update_info(context.png, context.info);
    return true;
}

enum class DecodeResult { kDone, kFailed, kInterrupted };
using RowCallback = bool (*)(void* user, const uint8_t* row, int32_t y);

// Reads every row and hands each to `on_row`; destroys the reader in every case.
DecodeResult GuardedReadRows(DecodeContext& context, uint8_t* row, RowCallback on_row, void* user) {
    if (setjmp(png_jmpbuf(context.png))) {
        Destroy(context);
        return DecodeResult::kFailed;
    }
    for (int32_t y = 0; y < context.head.size.cy; ++y) {
        png_read_row(context.png, row, nullptr);
        if (!on_row(user, row, y)) {
            Destroy(context);
            return DecodeResult::kInterrupted;
        }
    }
    png_read_end(context.png, nullptr);
    Destroy(context);
    return DecodeResult::kDone;
}

// How far an interlaced picture is read for a reduction: passes 0..last_pass give every
// pixel whose coordinates are both multiples of grid_step.
struct PassPlan {
    int last_pass;
    int grid_step;
};
PassPlan PlanPasses(int factor) {
    if (factor >= 8) return {0, 8};
    if (factor >= 4) return {2, 4};
    if (factor >= 2) return {4, 2};
    return {PNG_INTERLACE_ADAM7_PASSES - 1, 1};
}

// Reads the passes of `plan` and hands each row of the pixel grid to `on_row`: the first
// pass's rows as they come, finer grids once assembled in `grid` (grid_width pixels of
// pixel_bytes a row). Stops reading after the last pass needed; destroys the reader.
DecodeResult GuardedReadPasses(DecodeContext& context, const PassPlan& plan, uint8_t* row,
                               uint8_t* grid, size_t pixel_bytes, RowCallback on_row, void* user) {
    if (setjmp(png_jmpbuf(context.png))) {
        Destroy(context);
        return DecodeResult::kFailed;
    }
    auto width = png_uint_32(context.head.size.cx), height = png_uint_32(context.head.size.cy);
    png_uint_32 grid_width =
        (width + png_uint_32(plan.grid_step) - 1) / png_uint_32(plan.grid_step);
    png_uint_32 grid_height =
        (height + png_uint_32(plan.grid_step) - 1) / png_uint_32(plan.grid_step);
    for (int pass = 0; pass <= plan.last_pass; ++pass) {
        png_uint_32 columns = PNG_PASS_COLS(width, pass), rows = PNG_PASS_ROWS(height, pass);
        if (columns == 0 || rows == 0) continue;  // libpng skips empty passes
        for (png_uint_32 r = 0; r < rows; ++r) {
            png_read_row(context.png, row, nullptr);
            if (plan.last_pass == 0) {
                if (!on_row(user, row, int32_t(r))) {
                    Destroy(context);
                    return DecodeResult::kInterrupted;
                }
                continue;
            }
            png_uint_32 y = PNG_ROW_FROM_PASS_ROW(r, pass) / png_uint_32(plan.grid_step);
            uint8_t* out = grid + size_t(y) * grid_width * pixel_bytes;
            for (png_uint_32 c = 0; c < columns; ++c) {
                png_uint_32 x = PNG_COL_FROM_PASS_COL(c, pass) / png_uint_32(plan.grid_step);
                std::memcpy(out + x * pixel_bytes, row + c * pixel_bytes, pixel_bytes);
            }
        }
    }
    if (plan.last_pass != 0) {
        for (png_uint_32 y = 0; y < grid_height; ++y) {
            if (!on_row(user, grid + size_t(y) * grid_width * pixel_bytes, int32_t(y))) {
                Destroy(context);
                return DecodeResult::kInterrupted;
            }
        }
    }
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
    PngMessages messages;
};

bool GuardedEncode(EncodeContext& context, const oDIB& picture, vSTREAM& out) {
    context.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &context.messages, OnError, OnWarning);
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

private:
    // The failure libpng reported with `messages`; none means it could not make its reader.
    oFILTER_STATUS LibraryFault(const PngMessages& messages) {
        if (messages.error[0] == 0) return ResourceFault("libpng cannot start");
        if (IsResourceMessage(messages.error)) return ResourceFault(messages.error);
        return DataFault(messages.error);
    }
};

oFILTER_STATUS PngFilter::Convert(vSTREAM& in, oDIB& out) {
    DecodeContext context;
    if (!GuardedReadHead(context, in)) return LibraryFault(context.messages);
    const PngHead& head = context.head;
    int factor = TakeReductionFactor(head.size);
    // An interlaced picture is reduced from its grid of read pixels by what remains of the
    // factor.
    PassPlan plan = PlanPasses(head.interlaced ? factor : 1);
    vSIZE grid_size = ReducedSize(head.size, plan.grid_step);
    uint64_t grid_pixels = uint64_t(grid_size.cx) * uint64_t(grid_size.cy);
    RowReducer reducer;
    if (IsTooLargeToRead(head.size, factor) ||
        (head.interlaced && plan.last_pass > 0 && grid_pixels > kMaxInterlacedPixels)) {
        Destroy(context);
        return TooLargeFault(head.size);
    }
    if (!reducer.Start(grid_size, factor / plan.grid_step)) {
        Destroy(context);
        return NoMemoryFault(grid_size, factor / plan.grid_step);
    }
    size_t row_bytes = png_get_rowbytes(context.png, context.info);
    size_t pixel_bytes = head.alpha ? 4 : 3;
    std::vector<uint8_t> row(row_bytes), grid, bgr(size_t(grid_size.cx) * 3);
    if (head.interlaced && plan.last_pass > 0) grid.resize(grid_pixels * pixel_bytes);
    ReadState state{this, &reducer, &bgr, head.alpha, grid_size.cx};
    ReportStart(uint32_t(grid_size.cy));
    DecodeResult result =
        head.interlaced
            ? GuardedReadPasses(context, plan, row.data(), grid.data(), pixel_bytes, OnRow, &state)
            : GuardedReadRows(context, row.data(), OnRow, &state);
    ReportEnd();
    if (result == DecodeResult::kInterrupted) return kFilterInterrupted;
    if (result == DecodeResult::kFailed) return LibraryFault(context.messages);
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
    return GuardedEncode(context, picture, out) ? kFilterDone : LibraryFault(context.messages);
}

}  // namespace

std::unique_ptr<oFILTER> MakePngFilter() {
    return std::make_unique<PngFilter>();
}

}  // namespace scopa
