// GIF through giflib: the first frame on a white screen (transparent pixels and the area
// outside the frame stay white); writes 8-bit pictures through their colour table and others
// through the screen palette.
#include <gif_lib.h>
#include <cstring>
#include <string>

#include "imaging/codecs.h"
#include "imaging/cube_dither.h"
#include "imaging/palette.h"
#include "imaging/row_reducer.h"

namespace scopa {
namespace {

// The first frame's indices are held whole (interlaced rows arrive out of order).
constexpr uint64_t kMaxFramePixels = uint64_t(1) << 27;
constexpr int kNoTransparency = -1;

int ReadFromStream(GifFileType* gif, GifByteType* buffer, int length) {
    auto* stream = static_cast<vSTREAM*>(gif->UserData);
    return length <= 0 ? 0 : int(stream->Read(buffer, size_t(length)));
}

int WriteToStream(GifFileType* gif, const GifByteType* buffer, int length) {
    auto* stream = static_cast<vSTREAM*>(gif->UserData);
    return length > 0 && stream->Write(buffer, size_t(length)) ? length : 0;
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifReader = std::unique_ptr<GifFileType, GifCloser>;

GifReader OpenGif(vSTREAM& in, int* error) {
    return GifReader(DGifOpen(&in, ReadFromStream, error));
}

vSIZE ScreenSize(const GifFileType* gif) {
    return {gif->SWidth, gif->SHeight};
}

// Reads records up to the first image descriptor, noting the transparent index of a graphic
// control block on the way. False when there is no image.
bool SeekFirstImage(GifFileType* gif, int& transparent_index) {
    transparent_index = kNoTransparency;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) return DGifGetImageDesc(gif) != GIF_ERROR;
        if (type == TERMINATE_RECORD_TYPE) return false;
        if (type != EXTENSION_RECORD_TYPE) continue;
        int code = 0;
        GifByteType* extension = nullptr;
        if (DGifGetExtension(gif, &code, &extension) == GIF_ERROR) return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && extension != nullptr && extension[0] >= 4) {
            GraphicsControlBlock block;
            if (DGifExtensionToGCB(extension[0], extension + 1, &block) != GIF_ERROR) {
                transparent_index = block.TransparentColor;
            }
        }
        while (extension != nullptr) {
            if (DGifGetExtensionNext(gif, &extension) == GIF_ERROR) return false;
        }
    }
}

bool ReadFrameIndices(GifFileType* gif, std::vector<uint8_t>& indices) {
    const GifImageDesc& frame = gif->Image;
    indices.assign(size_t(frame.Width) * size_t(frame.Height), 0);
    auto read_row = [&](int y) {
        return DGifGetLine(gif, indices.data() + size_t(y) * size_t(frame.Width), frame.Width) !=
               GIF_ERROR;
    };
    if (frame.Interlace) {
        static constexpr int kStart[4] = {0, 4, 2, 1};
        static constexpr int kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int y = kStart[pass]; y < frame.Height; y += kStep[pass]) {
                if (!read_row(y)) return false;
            }
        }
        return true;
    }
    for (int y = 0; y < frame.Height; ++y) {
        if (!read_row(y)) return false;
    }
    return true;
}

class GifFilter : public BitmapFilter {
public:
    GifFilter() : BitmapFilter("GIF", "CompuServe GIF") {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        return head.size() >= 6 && (std::memcmp(head.data(), "GIF87a", 6) == 0 ||
                                    std::memcmp(head.data(), "GIF89a", 6) == 0);
    }
    bool DoesExport() const override { return true; }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;
    oFILTER_STATUS Convert(const oDIB& in, vSTREAM& out) override;

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        int error = 0;
        GifReader gif = OpenGif(in, &error);
        if (!gif) return false;
        size = ScreenSize(gif.get());
        return true;
    }
    int MaxReductionFactor() const override { return 1 << 16; }

private:
    // giflib's error `code` as a failure, in its own words; a read that failed at the end of
    // the stream is a file cut short.
    oFILTER_STATUS LibraryFault(vSTREAM& in, int code) {
        const char* text = GifErrorString(code);
        std::string reason = text != nullptr ? text : "unknown error " + std::to_string(code);
        if (code == D_GIF_ERR_NOT_ENOUGH_MEM) return ResourceFault(reason);
        if (code == D_GIF_ERR_READ_FAILED && in.Tell() >= in.Size()) {
            reason += " (cut at byte " + std::to_string(in.Size()) + ")";
        }
        return DataFault(reason);
    }
};

oFILTER_STATUS GifFilter::Convert(vSTREAM& in, oDIB& out) {
    int error = 0;
    GifReader gif = OpenGif(in, &error);
    if (!gif) return LibraryFault(in, error);
    int transparent = kNoTransparency;
    if (!SeekFirstImage(gif.get(), transparent)) {
        return gif->Error != 0 ? LibraryFault(in, gif->Error) : DataFault("no image in the file");
    }
    vSIZE screen = ScreenSize(gif.get());
    const GifImageDesc& frame = gif->Image;
    if (screen.cx <= 0 || screen.cy <= 0)
        screen = {frame.Left + frame.Width, frame.Top + frame.Height};
    uint64_t frame_pixels = uint64_t(frame.Width) * uint64_t(frame.Height);
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (frame.Width <= 0 || frame.Height <= 0 || screen.cx <= 0 || screen.cy <= 0) {
        return DataFault("frame width or height 0");
    }
    if (map == nullptr) return DataFault("no colour table");
    if (frame_pixels > kMaxFramePixels) return TooLargeFault({frame.Width, frame.Height});
    int factor = TakeReductionFactor(screen);
    if (IsTooLargeToRead(screen, factor)) return TooLargeFault(screen);
    std::vector<uint8_t> indices;
    if (!ReadFrameIndices(gif.get(), indices)) return LibraryFault(in, gif->Error);
    auto fill_row = [&](int32_t y, uint8_t* bgr) {
        std::memset(bgr, 0xFF, size_t(screen.cx) * 3);
        int32_t frame_y = y - frame.Top;
        if (frame_y < 0 || frame_y >= frame.Height) return kFilterDone;
        const uint8_t* row = indices.data() + size_t(frame_y) * size_t(frame.Width);
        for (int32_t fx = 0; fx < frame.Width; ++fx) {
            int32_t x = frame.Left + fx;
            int index = row[fx];
            if (x >= screen.cx || index == transparent || index >= map->ColorCount) continue;
            const GifColorType& colour = map->Colors[index];
            bgr[3 * size_t(x)] = colour.Blue;
            bgr[3 * size_t(x) + 1] = colour.Green;
            bgr[3 * size_t(x) + 2] = colour.Red;
        }
        return kFilterDone;
    };
    return ReduceRows(screen, factor, false, fill_row, out);
}

oFILTER_STATUS GifFilter::Convert(const oDIB& in, vSTREAM& out) {
    if (in.IsEmpty() || in.Width() > 0xFFFF || in.Height() > 0xFFFF) return kFilterFailed;
    bool indexed = in.BitCount() == 8;
    std::vector<GifColorType> colours(256);
    if (indexed) {
        const auto& table = in.ColourTable();
        for (size_t i = 0; i < table.size() && i < 256; ++i) {
            colours[i] = {table[i].red, table[i].green, table[i].blue};
        }
    } else {
        const auto& palette = ScreenPalette();
        for (size_t i = 0; i < 256; ++i) {
            colours[i] = {palette[i].red, palette[i].green, palette[i].blue};
        }
    }
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToStream, &error);
    if (map == nullptr || gif == nullptr) {
        GifFreeMapObject(map);
        if (gif != nullptr) EGifCloseFile(gif, &error);
        return kFilterFailed;
    }
    bool ok = EGifPutScreenDesc(gif, in.Width(), in.Height(), 8, 0, map) != GIF_ERROR &&
              EGifPutImageDesc(gif, 0, 0, in.Width(), in.Height(), false, nullptr) != GIF_ERROR;
    std::vector<uint8_t> row(size_t(in.Width()));
    // Colours are diffused onto the palette's cube, so photographs keep their shading.
    CubeDitherer ditherer(in.Width());
    for (int32_t y = 0; ok && y < in.Height(); ++y) {
        if (indexed) {
            for (int32_t x = 0; x < in.Width(); ++x)
                row[size_t(x)] = uint8_t(in.RawPixel(x, y));
        } else {
            ditherer.DitherRow(in, y, row.data());
        }
        ok = EGifPutLine(gif, row.data(), in.Width()) != GIF_ERROR;
    }
    ok = EGifCloseFile(gif, &error) != GIF_ERROR && ok;
    GifFreeMapObject(map);
    return ok ? kFilterDone : ResourceFault("cannot write the file");
}

}  // namespace

std::unique_ptr<oFILTER> MakeGifFilter() {
    return std::make_unique<GifFilter>();
}

}  // namespace scopa
