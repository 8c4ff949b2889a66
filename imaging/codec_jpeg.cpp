// JPEG through libjpeg-turbo. The library reports errors by longjmp; that is confined to the
// Guarded* functions below, whose locals are all trivially destructible, and every error
// becomes a failed status there. Reduced resolutions are the library's DCT scaling (1/2, 1/4,
// 1/8), so a thumbnail read never holds full-size pixels of a baseline picture. A sequential
// picture read at 1/8 goes to our own DC reader (jpeg_dc_scan.h) once the library has read its
// header; what that reader leaves is read again by the library from the start.
//
// Format notes on progressive pictures read at 1/8: each 8 x 8 block then becomes one pixel
// made from its DC coefficient alone, except for chroma stored at half resolution or less,
// which the library scales by 1/4 (or 1/2) and so needs the first few AC coefficients too.
// Those come in the first scans; the AC scans that follow hold most of the file. We read
// scan by scan, skip the entropy-coded data of every scan that carries only unneeded
// coefficients (searching for the next marker instead of decoding it), still decode the DC
// refinement that most encoders put late, and stop once every needed coefficient has all its
// bits: the pixels are exactly those of a full decode at 1/8.
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "imaging/codecs.h"
#include "imaging/jpeg_coefficients.h"
#include "imaging/jpeg_dc_scan.h"
#include "platform/trace.h"

namespace scopa {
namespace {

constexpr size_t kSourceBufferBytes = 64 * 1024;
constexpr int kMaxDctReduction = 8;
// A progressive picture keeps every coefficient of the whole picture in memory while it
// decodes, whatever the output scale; larger ones are refused.
constexpr uint64_t kMaxProgressivePixels = uint64_t(1) << 26;
constexpr int kWriteQuality = 90;
constexpr int kApp1 = JPEG_APP0 + 1;

// The library's error manager, with the text of the error that stopped it (its own message,
// as format_message gives it) kept for the failure record. Warnings are traced.
struct ErrorContext {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnError(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorContext*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}
void OnMessage(j_common_ptr info) {
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    try {
        Trace(std::string("JPEG warning: ") + message + "\n");
    } catch (...) {  // nothing may unwind through the library
    }
}

// Codes of the errors that come from memory or the library's size limits, not from the data.
bool IsResourceError(int code) {
    return code == JERR_OUT_OF_MEMORY || code == JERR_IMAGE_TOO_BIG || code == JERR_WIDTH_OVERFLOW;
}

void UseErrorContext(ErrorContext& errors) {
    jpeg_std_error(&errors.manager);
    errors.message[0] = 0;
    errors.manager.error_exit = OnError;
    errors.manager.output_message = OnMessage;
}

// Source manager over a vSTREAM. Running out of data is an error: a truncated picture fails
// at once instead of being decoded to its declared end from nothing.
struct StreamSource {
    jpeg_source_mgr manager;
    vSTREAM* stream;
    bool truncated;
    JOCTET buffer[kSourceBufferBytes];
};

void InitSource(j_decompress_ptr) {}
boolean FillInput(j_decompress_ptr info) {
    auto* source = reinterpret_cast<StreamSource*>(info->src);
    size_t count = source->stream->Read(source->buffer, kSourceBufferBytes);
    if (count == 0) {
        source->truncated = true;
        ERREXIT(info, JERR_INPUT_EOF);
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = count;
    return TRUE;
}
void SkipInput(j_decompress_ptr info, long count) {
    auto* source = reinterpret_cast<StreamSource*>(info->src);
    while (count > 0) {
        if (size_t(count) <= source->manager.bytes_in_buffer) {
            source->manager.next_input_byte += count;
            source->manager.bytes_in_buffer -= size_t(count);
            return;
        }
        count -= long(source->manager.bytes_in_buffer);
        FillInput(info);
    }
}
void TermSource(j_decompress_ptr) {}

// Moves the source to the marker that ends the current scan's entropy-coded data, without
// decoding it. In that data a 0xFF byte is followed by 0x00 (a stuffed byte), a restart marker
// 0xD0-0xD7 or another 0xFF (fill); anything else is the next marker. At the end of the stream
// the source is left empty, and the library's next read fails as for any truncated picture.
void SkipEntropyCodedData(StreamSource& source) {
    jpeg_source_mgr& manager = source.manager;
    for (;;) {
        if (manager.bytes_in_buffer == 0) {
            size_t count = source.stream->Read(source.buffer, kSourceBufferBytes);
            if (count == 0) return;
            manager.next_input_byte = source.buffer;
            manager.bytes_in_buffer = count;
        }
        const auto* mark = static_cast<const JOCTET*>(
            std::memchr(manager.next_input_byte, 0xFF, manager.bytes_in_buffer));
        if (mark == nullptr) {
            manager.bytes_in_buffer = 0;
            continue;
        }
        manager.bytes_in_buffer -= size_t(mark - manager.next_input_byte);
        manager.next_input_byte = mark;
        if (manager.bytes_in_buffer == 1) {
            // The byte after 0xFF is in the next block: keep the 0xFF in front of it.
            source.buffer[0] = 0xFF;
            size_t count = source.stream->Read(source.buffer + 1, kSourceBufferBytes - 1);
            if (count == 0) return;
            manager.next_input_byte = source.buffer;
            manager.bytes_in_buffer = count + 1;
            continue;
        }
        JOCTET next = manager.next_input_byte[1];
        bool in_data = next == 0x00 || next == 0xFF || (next >= JPEG_RST0 && next <= JPEG_RST0 + 7);
        if (!in_data) return;
        size_t step = next == 0xFF ? 1 : 2;
        manager.next_input_byte += step;
        manager.bytes_in_buffer -= step;
    }
}

void UseStreamSource(j_decompress_ptr info, StreamSource& source, vSTREAM& stream) {
    source.stream = &stream;
    source.truncated = false;
    source.manager.init_source = InitSource;
    source.manager.fill_input_buffer = FillInput;
    source.manager.skip_input_data = SkipInput;
    source.manager.resync_to_restart = jpeg_resync_to_restart;
    source.manager.term_source = TermSource;
    source.manager.bytes_in_buffer = 0;
    source.manager.next_input_byte = nullptr;
    info->src = &source.manager;
}

int OrientationOf(j_decompress_ptr info) {
    for (jpeg_saved_marker_ptr marker = info->marker_list; marker; marker = marker->next) {
        if (marker->marker == kApp1) {
            int orientation = ExifOrientation({marker->data, marker->data_length});
            if (orientation != 1) return orientation;
        }
    }
    return 1;
}

struct JpegHead {
    vSIZE stored;                // as stored, before orientation
    vSIZE pels_per_meter{0, 0};  // from the JFIF density, as stored
    int orientation = 1;
    bool progressive = false;
};

// Everything a decode needs, allocated by the caller so the guarded code holds no objects.
struct DecodeContext {
    jpeg_decompress_struct info;
    ErrorContext errors;
    StreamSource source;
    JpegHead head;
};

// JFIF density units: 1 dots per inch, 2 dots per centimetre; 0 gives only the aspect.
constexpr UINT8 kDensityPerInch = 1;
constexpr UINT8 kDensityPerCentimetre = 2;
// What a picture without a resolution is written with: the screen's 96 dots per inch.
constexpr UINT16 kDefaultDotsPerInch = 96;

vSIZE PelsPerMeterOf(j_decompress_ptr info) {
    auto per_meter = [&](UINT16 density) {
        if (info->density_unit == kDensityPerInch) return int32_t(std::lround(density / 0.0254));
        if (info->density_unit == kDensityPerCentimetre) return int32_t(density) * 100;
        return int32_t(0);
    };
    return {per_meter(info->X_density), per_meter(info->Y_density)};
}

// Dots per inch for the JFIF header, the default when the picture has no resolution.
UINT16 DotsPerInchOf(int32_t pels_per_meter) {
    if (pels_per_meter <= 0) return kDefaultDotsPerInch;
    return UINT16(std::clamp<long>(std::lround(pels_per_meter * 0.0254), 1, 65535));
}

bool GuardedReadHead(DecodeContext& context, vSTREAM& in) {
    j_decompress_ptr info = &context.info;
    info->err = &context.errors.manager;
    UseErrorContext(context.errors);
    if (setjmp(context.errors.jump)) {
        jpeg_destroy_decompress(info);
        return false;
    }
    jpeg_create_decompress(info);
    UseStreamSource(info, context.source, in);
    jpeg_save_markers(info, kApp1, 0xFFFF);
    jpeg_read_header(info, TRUE);
    context.head.stored = {int32_t(info->image_width), int32_t(info->image_height)};
    context.head.orientation = OrientationOf(info);
    context.head.progressive = jpeg_has_multiple_scans(info);
    context.head.pels_per_meter = PelsPerMeterOf(info);
    return true;
}

// The highest zigzag index of the coefficients an IDCT scaled to `size` x `size` reads: the
// top-left `size` x `size` corner of the block.
int LastCoefficientNeeded(int size) {
    return size <= 1 ? 0 : size == 2 ? 4 : size <= 4 ? 24 : DCTSIZE2 - 1;
}

// True when the scan whose header was just read carries no coefficient the output needs.
bool ScanIsUnneeded(j_decompress_ptr info) {
    for (int i = 0; i < info->comps_in_scan; ++i) {
        if (info->Ss <= LastCoefficientNeeded(info->cur_comp_info[i]->DCT_scaled_size)) {
            return false;
        }
    }
    return true;
}

// True when every coefficient the output needs has all its bits.
bool NeededCoefficientsComplete(j_decompress_ptr info) {
    for (int c = 0; c < info->num_components; ++c) {
        int last = LastCoefficientNeeded(info->comp_info[c].DCT_scaled_size);
        for (int k = 0; k <= last; ++k) {
            if (info->coef_bits[c][k] != 0) return false;
        }
    }
    return true;
}

// Reads a multi-scan picture in buffered-image mode until the coefficients the output needs
// are complete (or the picture ends), skipping scans that add nothing to them, and starts the
// output pass over what has been read.
void ConsumeNeededScans(j_decompress_ptr info, StreamSource& source) {
    // The first scan's header was read with the picture's header.
    if (ScanIsUnneeded(info)) SkipEntropyCodedData(source);
    for (;;) {
        int status = jpeg_consume_input(info);
        if (status == JPEG_REACHED_EOI) break;
        if (status == JPEG_REACHED_SOS && ScanIsUnneeded(info)) SkipEntropyCodedData(source);
        if (status == JPEG_SCAN_COMPLETED && NeededCoefficientsComplete(info)) break;
    }
    jpeg_start_output(info, info->input_scan_number);
}

enum class DcScanChoice { kRead, kLeave, kFailed };

// Called after GuardedReadHead succeeded: whether the picture is read from its DC coefficients
// (see jpeg_dc_scan.h). Destroys the decompressor only when it fails.
DcScanChoice GuardedDescribeDcScan(DecodeContext& context, DcScanLayout& layout) {
    j_decompress_ptr info = &context.info;
    if (setjmp(context.errors.jump)) {
        jpeg_destroy_decompress(info);
        return DcScanChoice::kFailed;
    }
    return DescribeDcScan(info, layout) ? DcScanChoice::kRead : DcScanChoice::kLeave;
}

// Called after GuardedReadHead succeeded; destroys the decompressor in every case.
enum class DecodeResult { kDone, kFailed, kInterrupted };
using RowCallback = bool (*)(void* user, int32_t row);

DecodeResult GuardedDecode(DecodeContext& context, int factor, oDIB& out, RowCallback on_row,
                           void* user) {
    j_decompress_ptr info = &context.info;
    if (setjmp(context.errors.jump)) {
        jpeg_destroy_decompress(info);
        return DecodeResult::kFailed;
    }
    info->scale_num = 1;
    info->scale_denom = unsigned(factor);
    bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    if (factor > 1) {
        // A reduced picture is reduced again for display: the faster transforms do not show.
        info->do_fancy_upsampling = FALSE;
        info->dct_method = JDCT_IFAST;
    }
    // At 1/8 a progressive picture needs only its first coefficients (see the notes above).
    bool needed_scans_only = info->progressive_mode && factor == kMaxDctReduction;
    if (needed_scans_only) {
        info->buffered_image = TRUE;
        // Smoothing would guess the missing AC coefficients of blocks: those are not wanted.
        info->do_block_smoothing = FALSE;
    }
    if (context.head.progressive) UseReusedCoefficientMemory(info);
    jpeg_start_decompress(info);
    if (needed_scans_only) ConsumeNeededScans(info, context.source);
    if (!out.Create(int32_t(info->output_width), int32_t(info->output_height), 24)) {
        jpeg_destroy_decompress(info);
        return DecodeResult::kFailed;
    }
    JSAMPLE* cmyk_row = nullptr;
    if (cmyk) {
        cmyk_row = static_cast<JSAMPLE*>((*info->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, size_t(info->output_width) * 4));
    }
    while (info->output_scanline < info->output_height) {
        int32_t y = int32_t(info->output_scanline);
        JSAMPROW row = cmyk ? cmyk_row : out.Row(y);
        jpeg_read_scanlines(info, &row, 1);
        if (cmyk) {
            // Adobe writes CMYK inverted; such files are the only CMYK JPEGs in practice.
            uint8_t* bgr = out.Row(y);
            for (JDIMENSION x = 0; x < info->output_width; ++x) {
                unsigned k = cmyk_row[4 * x + 3];
                bgr[3 * x] = uint8_t(cmyk_row[4 * x + 2] * k / 255);
                bgr[3 * x + 1] = uint8_t(cmyk_row[4 * x + 1] * k / 255);
                bgr[3 * x + 2] = uint8_t(cmyk_row[4 * x] * k / 255);
            }
        }
        if (!on_row(user, y + 1)) {
            jpeg_destroy_decompress(info);
            return DecodeResult::kInterrupted;
        }
    }
    // Every row is in; what follows the scan (a missing end marker, trailing bytes) is not
    // read, as finishing would only check it.
    jpeg_destroy_decompress(info);
    return DecodeResult::kDone;
}

// Destination manager appending to a vSTREAM.
struct StreamDestination {
    jpeg_destination_mgr manager;
    vSTREAM* stream;
    bool failed;
    JOCTET buffer[kSourceBufferBytes];
};

void InitDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<StreamDestination*>(info->dest);
    destination->manager.next_output_byte = destination->buffer;
    destination->manager.free_in_buffer = kSourceBufferBytes;
}
boolean EmptyOutput(j_compress_ptr info) {
    auto* destination = reinterpret_cast<StreamDestination*>(info->dest);
    if (!destination->stream->Write(destination->buffer, kSourceBufferBytes)) {
        destination->failed = true;
    }
    InitDestination(info);
    return TRUE;
}
void TermDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<StreamDestination*>(info->dest);
    size_t used = kSourceBufferBytes - destination->manager.free_in_buffer;
    if (!destination->stream->Write(destination->buffer, used)) destination->failed = true;
}

struct EncodeContext {
    jpeg_compress_struct info;
    ErrorContext errors;
    StreamDestination destination;
};

bool GuardedEncode(EncodeContext& context, const oDIB& picture, vSTREAM& out) {
    j_compress_ptr info = &context.info;
    info->err = &context.errors.manager;
    UseErrorContext(context.errors);
    if (setjmp(context.errors.jump)) {
        jpeg_destroy_compress(info);
        return false;
    }
    jpeg_create_compress(info);
    context.destination.stream = &out;
    context.destination.failed = false;
    context.destination.manager.init_destination = InitDestination;
    context.destination.manager.empty_output_buffer = EmptyOutput;
    context.destination.manager.term_destination = TermDestination;
    info->dest = &context.destination.manager;
    info->image_width = JDIMENSION(picture.Width());
    info->image_height = JDIMENSION(picture.Height());
    info->input_components = 3;
    info->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, kWriteQuality, TRUE);
    info->density_unit = kDensityPerInch;
    info->X_density = DotsPerInchOf(picture.m_xPelsPerMeter);
    info->Y_density = DotsPerInchOf(picture.m_yPelsPerMeter);
    jpeg_start_compress(info, TRUE);
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.Row(int32_t(info->next_scanline)));
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    jpeg_destroy_compress(info);
    return !context.destination.failed;
}

class JpegFilter : public BitmapFilter {
public:
    explicit JpegFilter(const char* id)
        : BitmapFilter(id, "JPEG Picture"), m_primary(std::strcmp(id, "JPG") == 0) {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    }
    bool DoesExport() const override { return m_primary; }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;
    oFILTER_STATUS Convert(const oDIB& in, vSTREAM& out) override;

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        auto context = std::make_unique<DecodeContext>();
        if (!GuardedReadHead(*context, in)) return false;
        jpeg_destroy_decompress(&context->info);
        const JpegHead& head = context->head;
        size = OrientationSwapsSides(head.orientation) ? vSIZE{head.stored.cy, head.stored.cx}
                                                       : head.stored;
        return true;
    }
    int MaxReductionFactor() const override { return kMaxDctReduction; }

private:
    // The failure the library reported; without a message from it, one of our own resources
    // failed, which `unreported` names (the output bitmap, the output stream).
    oFILTER_STATUS LibraryFault(const ErrorContext& errors, const char* unreported) {
        if (errors.message[0] == 0) return ResourceFault(unreported);
        if (IsResourceError(errors.manager.msg_code)) return ResourceFault(errors.message);
        return DataFault(errors.message);
    }
    static bool OnRow(void* user, int32_t row) {
        return static_cast<JpegFilter*>(user)->ReportProgress(uint32_t(row));
    }
    bool m_primary;
};

// Reads the picture described by `layout` from its DC coefficients. Destroys the decompressor;
// kFailed means the DC reader left the scan, and `in` is then back at `start` for the library
// to read the picture again.
DecodeResult DecodeDcScan(DecodeContext& context, const DcScanLayout& layout, vSTREAM& in,
                          uint64_t start, oDIB& out, RowCallback on_row, void* user) {
    const jpeg_source_mgr& source = context.source.manager;
    DcScanResult result =
        ReadDcScan(layout, {source.next_input_byte, source.bytes_in_buffer}, in, out, on_row, user);
    jpeg_destroy_decompress(&context.info);
    TrimDcScanMemory();
    if (result == DcScanResult::kDone) return DecodeResult::kDone;
    if (result == DcScanResult::kInterrupted) return DecodeResult::kInterrupted;
    in.Seek(start);
    return DecodeResult::kFailed;
}

oFILTER_STATUS JpegFilter::Convert(vSTREAM& in, oDIB& out) {
    uint64_t start = in.Tell();
    auto context = std::make_unique<DecodeContext>();
    if (!GuardedReadHead(*context, in)) return LibraryFault(context->errors, "cannot read");
    const JpegHead& head = context->head;
    vSIZE upright = OrientationSwapsSides(head.orientation) ? vSIZE{head.stored.cy, head.stored.cx}
                                                            : head.stored;
    int factor = TakeReductionFactor(upright);
    uint64_t pixels = uint64_t(head.stored.cx) * uint64_t(head.stored.cy);
    if ((head.progressive && pixels > kMaxProgressivePixels) ||
        IsTooLargeToRead(head.stored, factor)) {
        jpeg_destroy_decompress(&context->info);
        return TooLargeFault(head.stored);
    }
    ReportStart(uint32_t(ReducedSize(head.stored, factor).cy));
    oDIB stored;
    DcScanLayout layout;
    DcScanChoice choice = DcScanChoice::kLeave;
    if (factor == kMaxDctReduction && !head.progressive) {
        choice = GuardedDescribeDcScan(*context, layout);
    }
    DecodeResult result = DecodeResult::kFailed;
    if (choice == DcScanChoice::kRead) {
        result = DecodeDcScan(*context, layout, in, start, stored, OnRow, this);
        // What the DC reader leaves is read again from the start by the library.
        if (result == DecodeResult::kFailed && !GuardedReadHead(*context, in)) {
            choice = DcScanChoice::kFailed;
        }
    }
    if (choice == DcScanChoice::kFailed) {
        ReportEnd();
        return LibraryFault(context->errors, "cannot read");
    }
    if (result == DecodeResult::kFailed) {
        result = GuardedDecode(*context, factor, stored, OnRow, this);
    }
    TrimReusedCoefficientMemory();
    ReportEnd();
    if (result == DecodeResult::kInterrupted) return kFilterInterrupted;
    if (result == DecodeResult::kFailed) {
        return LibraryFault(context->errors, "no memory for the decoded bitmap");
    }
    out = head.orientation == 1 ? std::move(stored) : ApplyOrientation(stored, head.orientation);
    vSIZE density = OrientationSwapsSides(head.orientation)
                        ? vSIZE{head.pels_per_meter.cy, head.pels_per_meter.cx}
                        : head.pels_per_meter;
    // A reduced read covers the same paper with fewer pixels.
    out.m_xPelsPerMeter = density.cx / factor;
    out.m_yPelsPerMeter = density.cy / factor;
    return kFilterDone;
}

oFILTER_STATUS JpegFilter::Convert(const oDIB& in, vSTREAM& out) {
    if (in.IsEmpty()) return kFilterFailed;
    oDIB storage;
    const oDIB& picture = As24(in, storage);
    auto context = std::make_unique<EncodeContext>();
    if (GuardedEncode(*context, picture, out)) return kFilterDone;
    return LibraryFault(context->errors, "cannot write the file");
}

}  // namespace

std::unique_ptr<oFILTER> MakeJpegFilter(const char* id) {
    return std::make_unique<JpegFilter>(id);
}

}  // namespace scopa
