#include "support/picture_files.h"

#include <filesystem>

#include "imaging/dib.h"
#include "imaging/draw.h"
#include "imaging/filter.h"
#include "imaging/picture.h"

namespace scopa::test {

bool WriteTestPicture(const std::filesystem::path& path, int32_t width_px, int32_t height_px,
                      uint32_t seed) {
    oDIB dib;
    if (!dib.Create(width_px, height_px, 24)) return false;
    for (int32_t y = 0; y < height_px; ++y) {
        for (int32_t x = 0; x < width_px; ++x) {
            uint32_t red = (uint32_t(x) * 255 / uint32_t(width_px) + seed * 37) & 0xFF;
            uint32_t green = (uint32_t(y) * 255 / uint32_t(height_px) + seed * 91) & 0xFF;
            uint32_t blue = (seed * 53) & 0xFF;
            dib.SetRawPixel(x, y, (red << 16) | (green << 8) | blue);
        }
    }
    std::filesystem::create_directories(path.parent_path());
    return WritePicture(path.string(), "PNG", &dib, nullptr) == kFilterDone;
}

oDIB Solid(int32_t width_px, int32_t height_px, Rgb colour, int bits) {
    oDIB dib;
    if (dib.Create(width_px, height_px, bits)) FillRect(dib, {0, 0, width_px, height_px}, colour);
    return dib;
}

}  // namespace scopa::test
