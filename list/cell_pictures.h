// Small drawing steps shared by the parts of a cell: shrinking a picture that does not fit,
// and drawing an image-list picture whose mask colour is see-through.
#pragma once

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

// Halves `bitmap` once when either side is over cell size - 2: colour pictures with the
// thumbnail halving into 24 bits, monochrome ones by nearest-pixel stretching. A picture more
// than twice too large stays larger than the cell (it is clipped when centred). False, with
// the bitmap untouched, when it already fits.
bool ShrinkForCell(int cell_size_px, oDIB& bitmap);

// Copies `width` x `height` pixels of `source` from (source_x, source_y) to the 24-bit target
// at (x, y), clipped to both: the same as a SRCCOPY blit, with row copies for 24-bit sources
// and a table for palette ones, since cells copy whole thumbnails and backdrop tiles.
void CopyPixels(oDIB& target, int32_t x, int32_t y, int32_t width, int32_t height,
                const oDIB& source, int32_t source_x, int32_t source_y);

// Copies every pixel of `image` that is not `mask_colour` to the target at (x, y), clipped.
void DrawMaskedImage(oDIB& target, int32_t x, int32_t y, const oDIB& image, Rgb mask_colour);

// The mask of a picture keyed on its pixel (1, 1): 1 where the picture has that colour. A
// picture too small to have that pixel gets a mask of zeros (nothing is see-through).
oDIB MaskOfKeyColour(const oDIB& picture);

}  // namespace scopa
