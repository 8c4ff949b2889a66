#include "view/preview_geometry.h"

#include <algorithm>

#include "imaging/picture.h"

namespace scopa {

int32_t InitialPreviewSide(vSIZE full_screen) {
    return full_screen.cx / 2;
}

int32_t BitmapPreviewSide(vSIZE picture, vSIZE full_screen) {
    int32_t side =
        std::max(std::min(picture.cx, full_screen.cx), std::min(picture.cy, full_screen.cy));
    return std::max(side, kPreviewMinSide_px);
}

vSIZE CoveredSize(vSIZE picture, int32_t side) {
    Rect fitted = FitToBox(picture.cx, picture.cy, side, side);
    return {fitted.Width(), fitted.Height()};
}

Rect FirstPreviewRect(vSIZE window_size, const Rect* remembered) {
    if (remembered != nullptr) return *remembered;
    return {kPreviewFirstCorner.x, kPreviewFirstCorner.y, kPreviewFirstCorner.x + window_size.cx,
            kPreviewFirstCorner.y + window_size.cy};
}

namespace {

// Centres `length` on the middle of [low, high), then keeps it inside [0, limit) as far as
// it fits; a window longer than the screen starts at 0.
int32_t PlaceOnAxis(int32_t low, int32_t high, int32_t length, int32_t limit) {
    int32_t start = (low + high) / 2 - length / 2;
    if (start + length > limit) start = limit - length;
    return std::max(start, 0);
}

}  // namespace

Rect CentredPreviewRect(const Rect& current, vSIZE window_size, vSIZE full_screen) {
    int32_t x = PlaceOnAxis(current.left, current.right, window_size.cx, full_screen.cx);
    int32_t y = PlaceOnAxis(current.top, current.bottom, window_size.cy, full_screen.cy);
    return {x, y, x + window_size.cx, y + window_size.cy};
}

Rect KeepProportions(const Rect& proposed, SizingEdge edge, vSIZE covered, FrameExtra frame) {
    if (covered.cx <= 0 || covered.cy <= 0) return proposed;
    int32_t cx = proposed.Width() - frame.width;
    int32_t cy = proposed.Height() - frame.height;
    bool moves_left =
        edge == SizingEdge::Left || edge == SizingEdge::TopLeft || edge == SizingEdge::BottomLeft;
    bool moves_top =
        edge == SizingEdge::Top || edge == SizingEdge::TopLeft || edge == SizingEdge::TopRight;
    bool width_leads;
    switch (edge) {
        case SizingEdge::Left:
        case SizingEdge::Right:
            width_leads = true;
            break;
        case SizingEdge::Top:
        case SizingEdge::Bottom:
            width_leads = false;
            break;
        default:
            width_leads = int64_t(cx) * covered.cy >= int64_t(cy) * covered.cx;
            break;
    }
    if (width_leads) {
        cy = MulDiv(cx, covered.cy, covered.cx);
    } else {
        cx = MulDiv(cy, covered.cx, covered.cy);
    }
    Rect result = proposed;
    bool is_corner = edge != SizingEdge::Left && edge != SizingEdge::Right &&
                     edge != SizingEdge::Top && edge != SizingEdge::Bottom;
    // An edge moves the side across from it (the bottom for left and right, the right for top
    // and bottom); a corner moves its own two sides.
    if (is_corner || width_leads) {
        if (is_corner && moves_top) {
            result.top = result.bottom - cy - frame.height;
        } else {
            result.bottom = result.top + cy + frame.height;
        }
    }
    if (is_corner || !width_leads) {
        if (is_corner && moves_left) {
            result.left = result.right - cx - frame.width;
        } else {
            result.right = result.left + cx + frame.width;
        }
    }
    return result;
}

TrackingLimits PreviewTrackingLimits(vSIZE covered, vSIZE full_screen, FrameExtra frame) {
    TrackingLimits limits;
    int32_t w = std::max(covered.cx, 1);
    int32_t h = std::max(covered.cy, 1);
    vSIZE largest = full_screen;
    if (int64_t(largest.cx) * h > int64_t(largest.cy) * w) {
        largest.cx = MulDiv(largest.cy, w, h);
    } else {
        largest.cy = MulDiv(largest.cx, h, w);
    }
    limits.largest = {largest.cx + frame.width, largest.cy + frame.height};
    vSIZE smallest = w > h ? vSIZE{kPreviewMinSide_px, MulDiv(kPreviewMinSide_px, h, w)}
                           : vSIZE{MulDiv(kPreviewMinSide_px, w, h), kPreviewMinSide_px};
    limits.smallest = {smallest.cx + frame.width, smallest.cy + frame.height};
    return limits;
}

}  // namespace scopa
