// Where the floating preview window goes and how big it is: pure functions of the picture, the
// screen's full-screen client area and the window frame, so the rules are tested without a
// window. Sizes are client sizes unless a name says window; a window size is the client size
// plus the frame extra.
#pragma once

#include <cstdint>

#include "imaging/geometry.h"

namespace scopa {

// The side of the square a picture is rendered into is never below this, and the smallest
// tracking size has its longer side this long.
inline constexpr int32_t kPreviewMinSide_px = 200;
// Where the window first goes when no position is remembered.
inline constexpr Point kPreviewFirstCorner{100, 100};

// What the caption and the sizing frame add to the client area.
struct FrameExtra {
    int32_t width = 0;
    int32_t height = 0;
};

// The render side for a vector picture before any bitmap was shown: half the screen's width.
int32_t InitialPreviewSide(vSIZE full_screen);

// The render side for a bitmap of `picture` pixels: the larger of its width and height, each
// first limited to the full-screen area, and at least kPreviewMinSide_px.
int32_t BitmapPreviewSide(vSIZE picture, vSIZE full_screen);

// The part of a side x side square that a picture of those proportions covers.
vSIZE CoveredSize(vSIZE picture, int32_t side);

// The rectangle the window starts from when it is created: at kPreviewFirstCorner with
// `window_size`, or the remembered rectangle when there is one.
Rect FirstPreviewRect(vSIZE window_size, const Rect* remembered);

// The window's rectangle for a new size: centred on the centre of `current` (integer halves,
// toward zero), then pushed back inside the full-screen area, its left and top edges winning.
Rect CentredPreviewRect(const Rect& current, vSIZE window_size, vSIZE full_screen);

// Which part of the frame the user drags.
enum class SizingEdge { Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };

// Adjusts the proposed window rectangle of a live resize so the client keeps the proportions
// of `covered`: the edge's rule picks the client size, and only the dragged sides move.
Rect KeepProportions(const Rect& proposed, SizingEdge edge, vSIZE covered, FrameExtra frame);

// The window sizes the user may resize between, frame included.
struct TrackingLimits {
    vSIZE smallest;
    vSIZE largest;  // also the maximised size
};
TrackingLimits PreviewTrackingLimits(vSIZE covered, vSIZE full_screen, FrameExtra frame);

}  // namespace scopa
