// TIFF through libtiff: the first page, any photometric interpretation libtiff's RGBA reader
// knows, decoded a band of rows at a time into the box reduction and then turned upright by
// its orientation tag. libtiff reports errors through return values and its message handlers,
// whose text becomes the failure's reason.
#include <tiffio.h>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "imaging/codecs.h"
#include "imaging/row_reducer.h"
#include "platform/loaded_libraries.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace scopa {
namespace {

// One band of decoded rows (4 bytes a pixel) is held at a time; strips or tiles larger than
// this would need too much memory for one band and are refused.
constexpr uint64_t kMaxBandBytes = uint64_t(256) << 20;
constexpr uint32_t kDefaultBandRows = 64;
constexpr uint32_t kWriteRowsPerStrip = 32;

struct StreamHandle {
    vSTREAM* stream;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    if (size <= 0) return 0;
    return tmsize_t(static_cast<StreamHandle*>(handle)->stream->Read(buffer, size_t(size)));
}
tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    if (size <= 0) return 0;
    return static_cast<StreamHandle*>(handle)->stream->Write(buffer, size_t(size)) ? size : 0;
}
toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    vSTREAM* stream = static_cast<StreamHandle*>(handle)->stream;
    uint64_t base = whence == SEEK_CUR ? stream->Tell() : whence == SEEK_END ? stream->Size() : 0;
    uint64_t target = base + offset;
    if (target > stream->Size()) {
        // Writers seek past the end to extend; pad with zeros.
        stream->Seek(stream->Size());
        static const uint8_t kZeros[4096] = {};
        while (stream->Size() < target) {
            uint64_t step = std::min<uint64_t>(sizeof kZeros, target - stream->Size());
            if (!stream->Write(kZeros, size_t(step))) return toff_t(-1);
        }
    }
    return stream->Seek(target) ? target : toff_t(-1);
}
int CloseProc(thandle_t) {
    return 0;
}
toff_t SizeProc(thandle_t handle) {
    return static_cast<StreamHandle*>(handle)->stream->Size();
}
int MapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff reports through process-wide handlers. The error handler keeps the calling thread's
// last error, which is the one of the file that thread is reading; warnings are traced.
constexpr size_t kMaxMessageBytes = 256;
constexpr const char* kHandleName = "stream";  // the name libtiff gives our files' messages
thread_local char t_lastError[kMaxMessageBytes];

// "module: message", leaving out the module when it is only our handle's name.
void FormatMessage(char* out, const char* module, const char* format, va_list arguments) {
    int used = 0;
    if (module != nullptr && std::strcmp(module, kHandleName) != 0) {
        used = std::max(0, std::snprintf(out, kMaxMessageBytes, "%s: ", module));
    }
    if (size_t(used) < kMaxMessageBytes) {
        std::vsnprintf(out + used, kMaxMessageBytes - size_t(used), format, arguments);
    }
}

void OnError(const char* module, const char* format, va_list arguments) {
    FormatMessage(t_lastError, module, format, arguments);
}

void OnWarning(const char* module, const char* format, va_list arguments) {
    char message[kMaxMessageBytes];
    FormatMessage(message, module, format, arguments);
    try {
        Trace(std::string("TIFF warning: ") + message + "\n");
    } catch (...) {  // nothing may unwind through the library
    }
}

void InstallMessageHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        Tiff().SetErrorHandler(OnError);
        Tiff().SetWarningHandler(OnWarning);
    });
}

// libtiff's texts for exhausted memory; its other errors are in the data.
bool IsResourceMessage(const char* message) {
    std::string text = ToLowerAscii(message);
    return text.find("memory") != std::string::npos || text.find("no space") != std::string::npos;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { Tiff().Close(tiff); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

TiffFile OpenTiff(StreamHandle& handle, const char* mode) {
    if (!LoadTiff()) return nullptr;
    InstallMessageHandlers();
    t_lastError[0] = 0;
    return TiffFile(Tiff().ClientOpen("stream", mode, &handle, ReadProc, WriteProc, SeekProc,
                                      CloseProc, SizeProc, MapProc, UnmapProc));
}

struct TiffHead {
    vSIZE stored;
    int orientation = 1;
};

constexpr uint32_t kMaxSidePx = 1u << 20;

bool ReadHead(TIFF* tiff, TiffHead& head) {
    uint32_t width = 0, height = 0;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    if (!Tiff().GetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
        !Tiff().GetField(tiff, TIFFTAG_IMAGELENGTH, &height) || width == 0 || height == 0 ||
        width > kMaxSidePx || height > kMaxSidePx) {
        head.stored = {int32_t(std::min(width, kMaxSidePx + 1)),
                       int32_t(std::min(height, kMaxSidePx + 1))};
        return false;
    }
    Tiff().GetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    head.stored = {int32_t(width), int32_t(height)};
    head.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    return true;
}

vSIZE Upright(const TiffHead& head) {
    return OrientationSwapsSides(head.orientation) ? vSIZE{head.stored.cy, head.stored.cx}
                                                   : head.stored;
}

// Format notes: a codec makes at most so many bytes of one compressed byte. PackBits repeats
// one byte up to 128 times for two; an LZW code of at least 9 bits stands for at most 4,096
// bytes; deflate reaches about 1,032; a JPEG block of one flat colour takes a few bits. The
// fax codes need at least one bit for a whole row. Generous, so no real file comes near;
// codecs not listed are not bounded here.
constexpr uint64_t kBoundSlackBytes = 1024;

uint64_t MaxExpansion(uint16_t compression, uint64_t scanline_bytes) {
    switch (compression) {
        case COMPRESSION_NONE:
            return 1;
        case COMPRESSION_PACKBITS:
            return 64;
        case COMPRESSION_LZW:
            return 4096;
        case COMPRESSION_DEFLATE:
        case COMPRESSION_ADOBE_DEFLATE:
            return 1032;
        case COMPRESSION_JPEG:
        case COMPRESSION_OJPEG:
            return 4096;
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
            return 8 * std::max<uint64_t>(scanline_bytes, 1);
        default:
            return 0;
    }
}

// What is wrong with the strips or tiles, or empty when nothing is seen before decoding: one
// that starts beyond the end of the file, or one whose compressed bytes cannot hold what the
// header declares (a 333-byte file that claims 3327 x 65526 pixels in one LZW strip of 117
// bytes cannot), so that such a file fails before anything is decoded.
std::string StripFault(TIFF* tiff, const TiffHead& head, uint64_t file_bytes) {
    uint16_t compression = COMPRESSION_NONE;
    Tiff().GetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    uint64_t scanline = uint64_t(Tiff().ScanlineSize64(tiff));
    uint64_t ratio = MaxExpansion(compression, scanline);
    bool tiled = Tiff().IsTiled(tiff);
    uint32_t height = uint32_t(head.stored.cy);
    uint32_t rows_per_strip = height;
    if (!tiled) {
        Tiff().GetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
        rows_per_strip = std::clamp<uint32_t>(rows_per_strip, 1, height);
    }
    uint32_t strips_per_plane = (height + rows_per_strip - 1) / rows_per_strip;
    uint32_t count = Tiff().NumberOfStrips(tiff);
    const char* noun = tiled ? "tile " : "strip ";
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t stored = Tiff().GetStrileByteCount(tiff, i);
        uint64_t offset = Tiff().GetStrileOffset(tiff, i);
        if (stored != 0 && offset >= file_bytes) {
            return noun + std::to_string(i) + " starts at byte " + std::to_string(offset) +
                   ", beyond the end of the file at byte " + std::to_string(file_bytes);
        }
        if (ratio == 0) continue;
        uint64_t declared = 0;
        if (tiled) {
            declared = uint64_t(Tiff().TileSize64(tiff));
        } else {
            uint32_t first_row = (i % strips_per_plane) * rows_per_strip;
            uint32_t rows = first_row < height ? std::min(rows_per_strip, height - first_row) : 0;
            declared = uint64_t(Tiff().VStripSize64(tiff, rows));
        }
        if (declared > stored * ratio + kBoundSlackBytes) {
            return noun + std::to_string(i) + ": declared size larger than its " +
                   std::to_string(stored) + " bytes can hold";
        }
    }
    return {};
}

struct RgbaImageEnder {
    void operator()(TIFFRGBAImage* image) const { Tiff().RGBAImageEnd(image); }
};

class TiffFilter : public BitmapFilter {
public:
    explicit TiffFilter(const char* id)
        : BitmapFilter(id, "Tagged Image File Format"), m_primary(std::strcmp(id, "TIF") == 0) {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        if (head.size() < 4) return false;
        bool little = head[0] == 'I' && head[1] == 'I' && head[2] == 42 && head[3] == 0;
        bool big = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && head[3] == 42;
        return little || big;
    }
    bool DoesExport() const override { return m_primary; }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;
    oFILTER_STATUS Convert(const oDIB& in, vSTREAM& out) override;

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        StreamHandle handle{&in};
        TiffFile tiff = OpenTiff(handle, "rm");
        TiffHead head;
        if (!tiff || !ReadHead(tiff.get(), head)) return false;
        size = Upright(head);
        return true;
    }
    int MaxReductionFactor() const override { return 1 << 16; }

private:
    oFILTER_STATUS ReadBands(TIFF* tiff, const TiffHead& head, RowReducer& reducer);
    oFILTER_STATUS ReadScanlines(TIFF* tiff, TIFFRGBAImage& image, const TiffHead& head,
                                 RowReducer& reducer);
    bool PushBand(const uint32_t* band, uint32_t width, uint32_t rows, RowReducer& reducer);
    // The failure libtiff reported on this thread, or `fallback` when it reported none.
    oFILTER_STATUS LibraryFault(const char* fallback) {
        if (t_lastError[0] == 0) return DataFault(fallback);
        if (IsResourceMessage(t_lastError)) return ResourceFault(t_lastError);
        return DataFault(t_lastError);
    }
    oFILTER_STATUS WriteFault() {
        return t_lastError[0] != 0 ? LibraryFault("") : ResourceFault("cannot write the file");
    }
    bool m_primary;
};

oFILTER_STATUS TiffFilter::ReadBands(TIFF* tiff, const TiffHead& head, RowReducer& reducer) {
    TIFFRGBAImage image;
    char message[1024] = {};
    if (!Tiff().RGBAImageOK(tiff, message) || !Tiff().RGBAImageBegin(&image, tiff, 0, message)) {
        return DataFault(message[0] != 0 ? message : "samples of an unknown layout");
    }
    std::unique_ptr<TIFFRGBAImage, RgbaImageEnder> ender(&image);
    // Rows in stored order: the orientation is applied to the reduced picture afterwards.
    image.req_orientation = image.orientation;
    // Strips of interleaved samples are decoded row after row, each strip once. Reading them
    // in bands would make libtiff decode a strip from its start again for every band.
    if (!Tiff().IsTiled(tiff) && image.isContig && image.photometric != PHOTOMETRIC_YCBCR) {
        return ReadScanlines(tiff, image, head, reducer);
    }
    uint32_t band_rows = kDefaultBandRows;
    if (Tiff().IsTiled(tiff)) {
        Tiff().GetField(tiff, TIFFTAG_TILELENGTH, &band_rows);
    } else {
        uint32_t rows_per_strip = 0;
        if (Tiff().GetField(tiff, TIFFTAG_ROWSPERSTRIP, &rows_per_strip) && rows_per_strip > 0) {
            band_rows = std::max(rows_per_strip, kDefaultBandRows);
        }
    }
    uint32_t width = uint32_t(head.stored.cx), height = uint32_t(head.stored.cy);
    band_rows = std::min(std::max(band_rows, 1u), height);
    if (uint64_t(width) * band_rows * 4 > kMaxBandBytes ||
        uint64_t(Tiff().IsTiled(tiff) ? Tiff().TileSize64(tiff) : Tiff().StripSize64(tiff)) >
            kMaxBandBytes) {
        return ResourceFault("strips or tiles too large to decode");
    }
    std::vector<uint32_t> band(size_t(width) * band_rows);
    for (uint32_t top = 0; top < height; top += band_rows) {
        uint32_t rows = std::min(band_rows, height - top);
        image.row_offset = int(top);
        image.col_offset = 0;
        if (!Tiff().RGBAImageGet(&image, band.data(), width, rows)) {
            return LibraryFault("a band of rows cannot be decoded");
        }
        PushBand(band.data(), width, rows, reducer);
        if (!ReportProgress(top + rows)) return kFilterInterrupted;
    }
    return kFilterDone;
}

bool TiffFilter::PushBand(const uint32_t* band, uint32_t width, uint32_t rows,
                          RowReducer& reducer) {
    std::vector<uint8_t> bgr(size_t(width) * 3), rgba(size_t(width) * 4);
    for (uint32_t r = 0; r < rows; ++r) {
        // Each raster value is ABGR packed, red in the low byte.
        const uint32_t* row = band + size_t(r) * width;
        for (uint32_t x = 0; x < width; ++x) {
            rgba[4 * x] = uint8_t(TIFFGetR(row[x]));
            rgba[4 * x + 1] = uint8_t(TIFFGetG(row[x]));
            rgba[4 * x + 2] = uint8_t(TIFFGetB(row[x]));
            rgba[4 * x + 3] = uint8_t(TIFFGetA(row[x]));
        }
        CompositeRgbaOnWhite(rgba.data(), int32_t(width), bgr.data());
        reducer.PushRow(bgr.data());
    }
    return true;
}

// Decodes the rows in order with the scanline reader, a band at a time, and converts each
// band with the RGBA reader's own routine for the picture's sample layout.
oFILTER_STATUS TiffFilter::ReadScanlines(TIFF* tiff, TIFFRGBAImage& image, const TiffHead& head,
                                         RowReducer& reducer) {
    uint32_t width = uint32_t(head.stored.cx), height = uint32_t(head.stored.cy);
    uint64_t scanline = uint64_t(Tiff().ScanlineSize64(tiff));
    uint32_t band_rows = std::min(kDefaultBandRows, height);
    if (scanline == 0 || image.put.contig == nullptr ||
        (scanline + uint64_t(width) * 4) * band_rows > kMaxBandBytes) {
        return ResourceFault("rows too large to decode");
    }
    std::vector<uint8_t> raw(size_t(scanline) * band_rows);
    std::vector<uint32_t> band(size_t(width) * band_rows);
    for (uint32_t top = 0; top < height; top += band_rows) {
        uint32_t rows = std::min(band_rows, height - top);
        for (uint32_t r = 0; r < rows; ++r) {
            if (Tiff().ReadScanline(tiff, raw.data() + size_t(r) * scanline, top + r, 0) < 0) {
                return LibraryFault("a row cannot be decoded");
            }
        }
        image.put.contig(&image, band.data(), 0, top, width, rows, 0, 0, raw.data());
        PushBand(band.data(), width, rows, reducer);
        if (!ReportProgress(top + rows)) return kFilterInterrupted;
    }
    return kFilterDone;
}

oFILTER_STATUS TiffFilter::Convert(vSTREAM& in, oDIB& out) {
    if (!LoadTiff()) return ResourceFault("libtiff cannot be loaded");
    StreamHandle handle{&in};
    TiffFile tiff = OpenTiff(handle, "rm");
    if (!tiff) return LibraryFault("not a readable TIFF file");
    TiffHead head;
    if (!ReadHead(tiff.get(), head)) {
        if (head.stored.cx > int32_t(kMaxSidePx) || head.stored.cy > int32_t(kMaxSidePx)) {
            return TooLargeFault(head.stored);
        }
        return LibraryFault("width or height missing or 0");
    }
    int factor = TakeReductionFactor(Upright(head));
    if (IsTooLargeToRead(head.stored, factor)) return TooLargeFault(head.stored);
    if (std::string fault = StripFault(tiff.get(), head, in.Size()); !fault.empty()) {
        return DataFault(fault);
    }
    RowReducer reducer;
    if (!reducer.Start(head.stored, factor)) return NoMemoryFault(head.stored, factor);
    ReportStart(uint32_t(head.stored.cy));
    oFILTER_STATUS status = ReadBands(tiff.get(), head, reducer);
    ReportEnd();
    if (status != kFilterDone) return status;
    float x_resolution = 0, y_resolution = 0;
    uint16_t unit = RESUNIT_INCH;
    oDIB& stored = reducer.Result();
    if (Tiff().GetField(tiff.get(), TIFFTAG_XRESOLUTION, &x_resolution) &&
        Tiff().GetField(tiff.get(), TIFFTAG_YRESOLUTION, &y_resolution)) {
        Tiff().GetFieldDefaulted(tiff.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
        double per_meter = unit == RESUNIT_CENTIMETER ? 100.0 : unit == RESUNIT_INCH ? 39.3701 : 0;
        stored.m_xPelsPerMeter = int32_t(std::min(x_resolution * per_meter, 1e6));
        stored.m_yPelsPerMeter = int32_t(std::min(y_resolution * per_meter, 1e6));
    }
    out = ApplyOrientation(stored, head.orientation);
    return kFilterDone;
}

oFILTER_STATUS TiffFilter::Convert(const oDIB& in, vSTREAM& out) {
    if (in.IsEmpty()) return kFilterFailed;
    oDIB storage;
    const oDIB& picture = As24(in, storage);
    StreamHandle handle{&out};
    TiffFile tiff = OpenTiff(handle, "w");
    if (!tiff) return WriteFault();
    TIFF* t = tiff.get();
    Tiff().SetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(picture.Width()));
    Tiff().SetField(t, TIFFTAG_IMAGELENGTH, uint32_t(picture.Height()));
    Tiff().SetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    Tiff().SetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    Tiff().SetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    Tiff().SetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    Tiff().SetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    Tiff().SetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    Tiff().SetField(t, TIFFTAG_ROWSPERSTRIP, kWriteRowsPerStrip);
    if (picture.m_xPelsPerMeter > 0 && picture.m_yPelsPerMeter > 0) {
        Tiff().SetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        Tiff().SetField(t, TIFFTAG_XRESOLUTION, float(picture.m_xPelsPerMeter / 100.0));
        Tiff().SetField(t, TIFFTAG_YRESOLUTION, float(picture.m_yPelsPerMeter / 100.0));
    }
    std::vector<uint8_t> rgb(size_t(picture.Width()) * 3);
    for (int32_t y = 0; y < picture.Height(); ++y) {
        const uint8_t* bgr = picture.Row(y);
        for (size_t x = 0; x < size_t(picture.Width()); ++x) {
            rgb[3 * x] = bgr[3 * x + 2];
            rgb[3 * x + 1] = bgr[3 * x + 1];
            rgb[3 * x + 2] = bgr[3 * x];
        }
        if (Tiff().WriteScanline(t, rgb.data(), uint32_t(y), 0) < 0) {
            return WriteFault();
        }
    }
    if (!Tiff().Flush(t)) return WriteFault();
    return kFilterDone;
}

}  // namespace

std::unique_ptr<oFILTER> MakeTiffFilter(const char* id) {
    return std::make_unique<TiffFilter>(id);
}

}  // namespace scopa
