// Vector pictures: a drawing in logical coordinates with its logical extents (x0..x1, y0..y1)
// and physical extents (cx, cy), drawn into bitmaps through cairo.
#pragma once

#include <memory>

#include "imaging/dib.h"
#include "imaging/geometry.h"

typedef struct _cairo cairo_t;

namespace scopa {

// The content of a vector picture. Draw paints in logical coordinates: the caller has mapped
// the logical extents onto the target rectangle.
class VectorDrawing {
public:
    virtual ~VectorDrawing() = default;
    virtual void Draw(cairo_t* cairo) const = 0;
};

class vMETAFILE {
public:
    void LogicalExtents(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
        m_x0 = x0;
        m_x1 = x1;
        m_y0 = y0;
        m_y1 = y1;
    }
    void PhysicalExtents(int32_t cx, int32_t cy) {
        m_cx = cx;
        m_cy = cy;
    }
    bool IsEmpty() const { return m_drawing == nullptr && m_bitmap == nullptr; }
    // Records a bitmap drawn over the whole logical extent.
    void DrawDIB(const oDIB& bitmap) { m_bitmap = std::make_shared<const oDIB>(bitmap); }

    int32_t m_x0 = 0, m_x1 = 0, m_y0 = 0, m_y1 = 0;  // logical extents
    int32_t m_cx = 0, m_cy = 0;                      // physical extents
    std::shared_ptr<const VectorDrawing> m_drawing;
    // A bitmap recorded into the picture (DrawDIB), drawn over its whole logical extent.
    std::shared_ptr<const oDIB> m_bitmap;
};

// How a bitmap is drawn through a device: the part of the source (its width and height from
// the top-left) and the destination rectangle. Mode 5 is the smooth, area-averaging scaling.
struct oDIBCONTEXT {
    int32_t source_width = 0;
    int32_t source_height = 0;
    Rect destination;
    int mode = 5;
};

// Draws the picture scaled into `rect` of a 24- or 32-bit target. False when nothing could be
// drawn (no content, empty rectangle, zero logical span).
bool DrawMetafile(oDIB& target, Rect rect, const vMETAFILE& picture);

// A drawing surface over a bitmap, as pictures are drawn for thumbnails and previews.
class vDEVICE {
public:
    explicit vDEVICE(oDIB& target) : m_target(target) {}
    bool DrawMetafile(const vMETAFILE& picture, Rect rect) {
        return scopa::DrawMetafile(m_target, rect, picture);
    }
    void DrawDIB(const oDIB& source, const oDIBCONTEXT& context);

private:
    oDIB& m_target;
};

}  // namespace scopa
