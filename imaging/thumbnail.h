// Thumbnail bitmaps: a picture drawn at twice the wanted size is halved with a 2 x 2 box
// filter into 24-bit, 16-bit (5-5-5) or 8-bit screen-palette pixels; the 8-bit form is
// error-diffused onto the palette's 6 x 6 x 6 cube. Integer arithmetic only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

class PictureLoadObserver;

// The cache thumbnail: 128 x 128 palette indices, rows top-down, no padding.
inline constexpr int kThumbnailSidePx = 128;
inline constexpr size_t kThumbnailBytes = size_t(kThumbnailSidePx) * kThumbnailSidePx;
// The size pictures are rendered at before halving.
inline constexpr int kRenderSidePx = 2 * kThumbnailSidePx;

// Bytes of the halved image of a `width_px` x `height_px` source at `depth` (24, 16 or
// anything else for 8), each row padded to 4 bytes.
size_t HalvedImageBytes(int32_t width_px, int32_t height_px, int depth);

// Halves a source of at most 256 x 256 pixels into `out` with rows top-down. `depth` goes in as
// 24, 16 or anything else, which becomes 8. Works in per-thread buffers, so threads may halve
// at once, and allocates nothing per call (larger sources go through a temporary buffer).
void HalveToThumbnail(const oDIB& source, uint8_t* out, int& depth);

// The same conversion for any size, rows bottom-up as in a DIB of positive height (the
// halving pairs rows from the bottom). False, with nothing written and the depth unchanged,
// when the working memory cannot be had.
bool HalveToDib(const oDIB& source, uint8_t* out, int& depth);

// The covered part of a cache thumbnail (128 x 128 indices, rows top-down) as an 8-bit bitmap
// with the screen palette as its colour table; empty when the covered size is not 1..128.
oDIB ThumbnailToDib(const uint8_t* pixels, vSIZE covered);

// The two steps of RenderCachePreview. RenderForCache loads the picture with automatic
// resolution and draws it at 256 x 256 (white, fitted top-left) into `render` (made 256 x 256
// 24-bit when it is not), reporting the size the picture covers; it returns the load result.
// HalveRenderToThumbnail halves such a render into the cache thumbnail.
int RenderForCache(PictureLoadObserver* observer, const std::string& path, oDIB& render,
                   vSIZE& rendered);
void HalveRenderToThumbnail(const oDIB& render, vSIZE rendered, uint8_t* out, vSIZE& covered);

// Loads a picture with automatic resolution, renders it at 256 x 256 (white, fitted top-left)
// and halves it into the 16,384-byte cache thumbnail. Returns the load result (0 read,
// 1 interrupted, 2 failed); `out` and `covered` are valid only for 0. Any thread may call it;
// each thread renders into its own buffer through its own filters.
int RenderCachePreview(PictureLoadObserver* observer, const std::string& path, uint8_t* out,
                       vSIZE& covered);

}  // namespace scopa
