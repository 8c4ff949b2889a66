// Drawing into in-memory bitmaps: fills, lines, the raster-operation blits the list and the
// preview window use, monochrome masks from a key colour, and scaling a bitmap into a
// rectangle. Colours are converted to the destination's depth the way a display driver does:
// a monochrome source draws its 0 bits in the text colour and its 1 bits in the background
// colour; a colour source blitted into a monochrome bitmap gives 1 where it equals the
// background colour.
#pragma once

#include <span>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

enum class RasterOp {
    kSrcCopy,    // D = S
    kSrcInvert,  // D = D xor S
    kSrcAnd,     // D = D and S
    kSrcPaint,   // D = D or S
};

struct BlitColours {
    Rgb text = kBlack;
    Rgb background = kWhite;
};

// The destination's raw pixel value for a colour (cube index for 8 bits, 5-5-5 for 16).
uint32_t RawValueForColour(const oDIB& target, Rgb colour, const BlitColours& colours = {});

void FillRect(oDIB& target, Rect rect, Rgb colour);

// Straight segments between successive points with a square pen `pen_width_px` wide; as with
// the usual line drawing, the last point itself is not drawn.
void Polyline(oDIB& target, std::span<const Point> points, int pen_width_px, Rgb colour);

// Combines `width` x `height` source pixels at (source_x, source_y) into the target at (x, y).
// Parts outside either bitmap are clipped.
void BitBlt(oDIB& target, int32_t x, int32_t y, int32_t width, int32_t height, const oDIB& source,
            int32_t source_x, int32_t source_y, RasterOp op, const BlitColours& colours = {});

// Nearest-pixel scaling of a source rectangle onto a target rectangle.
void StretchBlt(oDIB& target, Rect target_rect, const oDIB& source, Rect source_rect, RasterOp op,
                const BlitColours& colours = {});

// A 1-bit mask of the source's size: 1 where the source pixel has the key colour, else 0.
oDIB MakeMask(const oDIB& source, Rgb key);

// Draws the whole source scaled into the target rectangle, each target pixel the
// area-weighted average of the source pixels it covers (the smooth mode used for pictures).
void DrawDibScaled(oDIB& target, Rect target_rect, const oDIB& source);

}  // namespace scopa
