// SVG through librsvg, drawn with cairo. The picture's intrinsic size (or its view box) gives
// the logical extents in pixels; physical extents are those pixels at 96 per inch, in
// hundredths of a millimetre.
#include <librsvg/rsvg.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "imaging/codecs.h"
#include "platform/loaded_libraries.h"

namespace scopa {
namespace {

constexpr uint64_t kMaxSvgBytes = uint64_t(64) << 20;
constexpr double kCssPixelsPerInch = 96.0;
constexpr double kHimetricPerInch = 2540.0;
constexpr double kDefaultSidePx = 100.0;
// Logical extents are whole numbers; tiny pictures are scaled up so their proportions survive.
constexpr double kMinLogicalSpan = 1000.0;

class SvgDrawing : public VectorDrawing {
public:
    SvgDrawing(RsvgHandle* handle, double width_px, double height_px, double scale)
        : m_handle(handle), m_width(width_px), m_height(height_px), m_scale(scale) {}
    ~SvgDrawing() override { Rsvg().object_unref(m_handle); }
    SvgDrawing(const SvgDrawing&) = delete;
    SvgDrawing& operator=(const SvgDrawing&) = delete;

    void Draw(cairo_t* cairo) const override {
        RsvgRectangle viewport{0, 0, m_width * m_scale, m_height * m_scale};
        GError* error = nullptr;
        Rsvg().handle_render_document(m_handle, cairo, &viewport, &error);
        if (error != nullptr) Rsvg().error_free(error);
    }

private:
    RsvgHandle* m_handle;
    double m_width, m_height, m_scale;
};

bool LooksLikeSvg(std::span<const uint8_t> head) {
    std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    size_t start = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (start == std::string_view::npos || text[start] != '<') return false;
    return text.find("<svg") != std::string_view::npos;
}

// The size in CSS pixels: the intrinsic size, else the view box, else a default.
void IntrinsicSize(RsvgHandle* handle, double& width, double& height) {
    if (Rsvg().handle_get_intrinsic_size_in_pixels(handle, &width, &height) && width > 0 &&
        height > 0) {
        return;
    }
    gboolean has_width = FALSE, has_height = FALSE, has_viewbox = FALSE;
    RsvgLength w, h;
    RsvgRectangle viewbox;
    Rsvg().handle_get_intrinsic_dimensions(handle, &has_width, &w, &has_height, &h, &has_viewbox,
                                           &viewbox);
    if (has_viewbox && viewbox.width > 0 && viewbox.height > 0) {
        width = viewbox.width;
        height = viewbox.height;
    } else {
        width = height = kDefaultSidePx;
    }
}

class SvgFilter : public oFILTER {
public:
    oFILTER_TYPE Type() const override { return kFilterTypeVector; }
    const char* GetID() const override { return "SVG"; }
    const char* GetDescription() const override { return "Scalable Vector Graphics"; }
    bool CheckStream(std::span<const uint8_t> head) const override { return LooksLikeSvg(head); }

    oFILTER_STATUS Convert(vSTREAM& in, vMETAFILE& out) override {
        std::vector<uint8_t> data;
        if (!in.ReadRest(data, kMaxSvgBytes)) return ResourceFault("file larger than 64 MB");
        if (data.empty()) return DataFault("empty file");
        if (!LoadRsvg()) return ResourceFault("librsvg cannot be loaded");
        ReportStart(1);
        GError* error = nullptr;
        RsvgHandle* handle = Rsvg().handle_new_from_data(data.data(), data.size(), &error);
        ReportEnd();
        if (handle == nullptr) {
            std::string reason = error != nullptr && error->message != nullptr
                                     ? error->message
                                     : "the document cannot be parsed";
            if (error != nullptr) Rsvg().error_free(error);
            return DataFault(reason);
        }
        double width = 0, height = 0;
        IntrinsicSize(handle, width, height);
        if (!(width > 0 && height > 0 && width < 1e7 && height < 1e7)) {
            Rsvg().object_unref(handle);
            return DataFault("width or height 0 or beyond 10 million pixels");
        }
        double scale = std::max(1.0, kMinLogicalSpan / std::min(width, height));
        out = vMETAFILE();
        out.LogicalExtents(0, int32_t(width * scale + 0.5), 0, int32_t(height * scale + 0.5));
        out.PhysicalExtents(int32_t(width / kCssPixelsPerInch * kHimetricPerInch + 0.5),
                            int32_t(height / kCssPixelsPerInch * kHimetricPerInch + 0.5));
        out.m_drawing = std::make_shared<SvgDrawing>(handle, width, height, scale);
        return kFilterDone;
    }
};

}  // namespace

std::unique_ptr<oFILTER> MakeSvgFilter() {
    return std::make_unique<SvgFilter>();
}

}  // namespace scopa
