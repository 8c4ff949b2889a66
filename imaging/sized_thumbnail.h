// Thumbnails of any size for the desktop: a picture read at the smallest resolution that still
// covers the wanted size, drawn on white with its long side at that size, as RGBA.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/dib.h"
#include "imaging/rgba_png.h"

namespace scopa {

// Sizes a desktop may ask for; the freedesktop sizes are 128, 256, 512 and 1024.
inline constexpr int32_t kMinSizedThumbnailPx = 1;
inline constexpr int32_t kMaxSizedThumbnailPx = 2048;

// Reads the picture at `path` and draws it with its long side `size_px`. Returns the load
// result (kLoadRead, kLoadInterrupted, kLoadFailed); `out` is set only on kLoadRead.
int RenderSizedThumbnail(const std::string& path, int32_t size_px, RgbaImage* out);

// A bitmap drawn with its long side `size_px` (scaled up or down, area-averaged); empty when
// the bitmap is empty or the size is out of range.
RgbaImage ScaleDibToSize(const oDIB& dib, int32_t size_px);

}  // namespace scopa
