#include "imaging/vector.h"

#include <cairo.h>
#include <algorithm>

#include "imaging/draw.h"
#include "platform/loaded_libraries.h"

namespace scopa {

namespace {

// Draws the drawing through a cairo surface holding the target rectangle's current pixels.
void DrawThroughCairo(oDIB& target, Rect rect, const vMETAFILE& picture) {
    Rect clipped{std::max(rect.left, 0), std::max(rect.top, 0),
                 std::min(rect.right, target.Width()), std::min(rect.bottom, target.Height())};
    if (clipped.IsEmpty() || (target.BitCount() != 24 && target.BitCount() != 32) || !LoadCairo()) {
        return;
    }
    cairo_surface_t* surface =
        Cairo().image_surface_create(CAIRO_FORMAT_RGB24, clipped.Width(), clipped.Height());
    if (Cairo().surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        Cairo().surface_destroy(surface);
        return;
    }
    size_t bytes_per_pixel = size_t(target.BitCount() / 8);
    auto copy = [&](bool into_surface) {
        Cairo().surface_flush(surface);
        uint8_t* data = Cairo().image_surface_get_data(surface);
        int stride = Cairo().image_surface_get_stride(surface);
        for (int32_t y = 0; y < clipped.Height(); ++y) {
            uint8_t* pixels = target.Row(clipped.top + y) + size_t(clipped.left) * bytes_per_pixel;
            auto* surface_row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
            for (int32_t x = 0; x < clipped.Width(); ++x, pixels += bytes_per_pixel) {
                if (into_surface) {
                    surface_row[x] =
                        uint32_t(pixels[2]) << 16 | uint32_t(pixels[1]) << 8 | pixels[0];
                } else {
                    pixels[0] = uint8_t(surface_row[x]);
                    pixels[1] = uint8_t(surface_row[x] >> 8);
                    pixels[2] = uint8_t(surface_row[x] >> 16);
                }
            }
        }
        Cairo().surface_mark_dirty(surface);
    };
    copy(true);
    cairo_t* cairo = Cairo().create(surface);
    Cairo().translate(cairo, rect.left - clipped.left, rect.top - clipped.top);
    Cairo().scale(cairo, double(rect.Width()) / (picture.m_x1 - picture.m_x0),
                  double(rect.Height()) / (picture.m_y1 - picture.m_y0));
    Cairo().translate(cairo, -picture.m_x0, -picture.m_y0);
    picture.m_drawing->Draw(cairo);
    Cairo().destroy(cairo);
    copy(false);
    Cairo().surface_destroy(surface);
}

}  // namespace

void vDEVICE::DrawDIB(const oDIB& source, const oDIBCONTEXT& context) {
    if (context.source_width == source.Width() && context.source_height == source.Height()) {
        DrawDibScaled(m_target, context.destination, source);
        return;
    }
    // A part of the source: nearest-pixel scaling of that part.
    StretchBlt(m_target, context.destination, source,
               {0, 0, context.source_width, context.source_height}, RasterOp::kSrcCopy);
}

bool DrawMetafile(oDIB& target, Rect rect, const vMETAFILE& picture) {
    if (rect.IsEmpty() || picture.m_x1 == picture.m_x0 || picture.m_y1 == picture.m_y0) {
        return false;
    }
    if (picture.m_bitmap != nullptr) DrawDibScaled(target, rect, *picture.m_bitmap);
    if (picture.m_drawing != nullptr) DrawThroughCairo(target, rect, picture);
    return picture.m_bitmap != nullptr || picture.m_drawing != nullptr;
}

}  // namespace scopa
