// Small pictures for tests: real files written through the PNG filter, and plain bitmaps.
#pragma once

#include <cstdint>
#include <filesystem>

#include "imaging/dib.h"

namespace scopa::test {

// Writes a `width_px` x `height_px` 24-bit PNG whose colour depends on `seed`; false when it
// cannot be written.
bool WriteTestPicture(const std::filesystem::path& path, int32_t width_px, int32_t height_px,
                      uint32_t seed);

// A `width_px` x `height_px` bitmap of `bits` per pixel filled with `colour`.
oDIB Solid(int32_t width_px, int32_t height_px, Rgb colour, int bits = 24);

}  // namespace scopa::test
