// Small real picture files for tests, written through the PNG filter.
#pragma once

#include <cstdint>
#include <filesystem>

namespace scopa::test {

// Writes a `width_px` x `height_px` 24-bit PNG whose colour depends on `seed`; false when it
// cannot be written.
bool WriteTestPicture(const std::filesystem::path& path, int32_t width_px, int32_t height_px,
                      uint32_t seed);

}  // namespace scopa::test
