// WebP through libwebp: still pictures decoded straight at the chosen reduced size by the
// library's scaler, which works row by row; animations show their first frame as composed on
// the canvas, reduced afterwards.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <cstring>
#include <memory>

#include "imaging/codecs.h"
#include "imaging/row_reducer.h"

namespace scopa {
namespace {

constexpr float kWriteQuality = 90.0f;
// The animation decoder keeps two whole 4-byte canvases, allocated before any frame is read:
// a canvas beyond this many pixels (about 5800 x 5800) is refused.
constexpr int64_t kMaxAnimationCanvasPixels = int64_t(1) << 25;

// libwebp's status codes in words.
const char* StatusText(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY:
            return "out of memory";
        case VP8_STATUS_INVALID_PARAM:
            return "invalid parameter";
        case VP8_STATUS_BITSTREAM_ERROR:
            return "bitstream error";
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return "unsupported feature";
        case VP8_STATUS_SUSPENDED:
            return "suspended";
        case VP8_STATUS_USER_ABORT:
            return "aborted";
        case VP8_STATUS_NOT_ENOUGH_DATA:
            return "not enough data";
        default:
            return "unknown status";
    }
}

class WebpFilter : public BitmapFilter {
public:
    WebpFilter() : BitmapFilter("WEBP", "WebP Picture") {}
    bool CheckStream(std::span<const uint8_t> head) const override {
        return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
               std::memcmp(head.data() + 8, "WEBP", 4) == 0;
    }
    bool DoesExport() const override { return true; }
    oFILTER_STATUS Convert(vSTREAM& in, oDIB& out) override;
    oFILTER_STATUS Convert(const oDIB& in, vSTREAM& out) override;

protected:
    bool ReadPictureSize(vSTREAM& in, vSIZE& size) override {
        // The first chunk holds the size: 64 bytes reach past any header form.
        uint8_t head[64];
        size_t count = in.Read(head, sizeof head);
        int width = 0, height = 0;
        if (!WebPGetInfo(head, count, &width, &height)) return false;
        size = {width, height};
        return true;
    }
    // The scaler reduces to any size; powers of two keep the offered list short.
    int MaxReductionFactor() const override { return 1 << 8; }

private:
    oFILTER_STATUS LibraryFault(VP8StatusCode status) {
        return status == VP8_STATUS_OUT_OF_MEMORY ? ResourceFault(StatusText(status))
                                                  : DataFault(StatusText(status));
    }
    oFILTER_STATUS ReadFirstFrame(const std::vector<uint8_t>& data, vSIZE size, int factor,
                                  oDIB& out);
};

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animation, composed on its canvas (the library applies the frame's
// offset, blending and the canvas's transparency), on white, reduced by `factor`.
oFILTER_STATUS WebpFilter::ReadFirstFrame(const std::vector<uint8_t>& data, vSIZE size, int factor,
                                          oDIB& out) {
    if (int64_t(size.cx) * size.cy > kMaxAnimationCanvasPixels) return TooLargeFault(size);
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return ResourceFault("libwebp version mismatch");
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPData webp_data{data.data(), data.size()};
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(
        WebPAnimDecoderNew(&webp_data, &options));
    WebPAnimInfo info;
    if (decoder == nullptr || !WebPAnimDecoderGetInfo(decoder.get(), &info) ||
        int32_t(info.canvas_width) != size.cx || int32_t(info.canvas_height) != size.cy) {
        return DataFault("animation headers unreadable");
    }
    uint8_t* canvas = nullptr;
    int timestamp_ms = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp_ms) || canvas == nullptr) {
        return DataFault("first frame cannot be decoded");
    }
    RowReducer reducer;
    if (!reducer.Start(size, factor)) return NoMemoryFault(size, factor);
    std::vector<uint8_t> row(size_t(size.cx) * 3);
    for (int32_t y = 0; y < size.cy; ++y) {
        CompositeRgbaOnWhite(canvas + size_t(y) * size_t(size.cx) * 4, size.cx, row.data());
        reducer.PushRow(row.data());
    }
    out = std::move(reducer.Result());
    return kFilterDone;
}

oFILTER_STATUS WebpFilter::Convert(vSTREAM& in, oDIB& out) {
    std::vector<uint8_t> data;
    if (!in.ReadRest(data, kMaxEncodedFileBytes)) return ResourceFault("file larger than 256 MB");
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return ResourceFault("libwebp version mismatch");
    if (VP8StatusCode features = WebPGetFeatures(data.data(), data.size(), &config.input);
        features != VP8_STATUS_OK) {
        return LibraryFault(features);
    }
    vSIZE size{config.input.width, config.input.height};
    int factor = TakeReductionFactor(size);
    if (config.input.has_animation) {
        ReportStart(1);
        if (!ReportProgress(0)) {
            ReportEnd();
            return kFilterInterrupted;
        }
        oFILTER_STATUS status = ReadFirstFrame(data, size, factor, out);
        ReportProgress(1);
        ReportEnd();
        return status;
    }
    vSIZE reduced = ReducedSize(size, factor);
    oDIB picture;
    if (!picture.Create(reduced.cx, reduced.cy, 24)) return NoMemoryFault(size, factor);
    bool alpha = config.input.has_alpha != 0;
    std::vector<uint8_t> rgba;
    if (reduced.cx != size.cx || reduced.cy != size.cy) {
        config.options.use_scaling = 1;
        config.options.scaled_width = reduced.cx;
        config.options.scaled_height = reduced.cy;
        // The loop filter and smooth chroma upsampling only refine detail that the reduction
        // averages away. libwebp leaves them out by itself once a picture is scaled below 3/4
        // (the pixels are the same with or without these flags); asking keeps it so for any
        // reduction. What remains is mostly the arithmetic decoding of every block's
        // coefficients, which each block's intra prediction from its decoded neighbours makes
        // necessary at any output size.
        config.options.bypass_filtering = 1;
        config.options.no_fancy_upsampling = 1;
    }
    config.output.is_external_memory = 1;
    if (alpha) {
        rgba.resize(size_t(reduced.cx) * size_t(reduced.cy) * 4);
        config.output.colorspace = MODE_RGBA;
        config.output.u.RGBA.rgba = rgba.data();
        config.output.u.RGBA.stride = reduced.cx * 4;
        config.output.u.RGBA.size = rgba.size();
    } else {
        config.output.colorspace = MODE_BGR;
        config.output.u.RGBA.rgba = picture.Bits().data();
        config.output.u.RGBA.stride = int(picture.Stride());
        config.output.u.RGBA.size = picture.Bits().size();
    }
    ReportStart(1);
    if (!ReportProgress(0)) {
        ReportEnd();
        return kFilterInterrupted;
    }
    VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    ReportProgress(1);
    ReportEnd();
    if (status != VP8_STATUS_OK) return LibraryFault(status);
    if (alpha) {
        for (int32_t y = 0; y < reduced.cy; ++y) {
            CompositeRgbaOnWhite(rgba.data() + size_t(y) * size_t(reduced.cx) * 4, reduced.cx,
                                 picture.Row(y));
        }
    }
    out = std::move(picture);
    return kFilterDone;
}

oFILTER_STATUS WebpFilter::Convert(const oDIB& in, vSTREAM& out) {
    if (in.IsEmpty()) return kFilterFailed;
    if (in.Width() > WEBP_MAX_DIMENSION || in.Height() > WEBP_MAX_DIMENSION) {
        return ResourceFault("sides above 16383 pixels");
    }
    oDIB storage;
    const oDIB& picture = As24(in, storage);
    uint8_t* encoded = nullptr;
    size_t size = WebPEncodeBGR(picture.Row(0), picture.Width(), picture.Height(),
                                int(picture.Stride()), kWriteQuality, &encoded);
    bool encoded_ok = size > 0, written = encoded_ok && out.Write(encoded, size);
    WebPFree(encoded);
    if (!encoded_ok) return ResourceFault("the encoder failed");
    return written ? kFilterDone : ResourceFault("cannot write the file");
}

}  // namespace

std::unique_ptr<oFILTER> MakeWebpFilter() {
    return std::make_unique<WebpFilter>();
}

}  // namespace scopa
