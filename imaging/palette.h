// The shared 256-entry screen palette: the 20 static colours at 0-9 and 246-255 and a
// 6 x 6 x 6 colour cube at 20-235, entry 20 + 36r + 6g + b holding (51r, 51g, 51b). Every
// thumbnail and preview is drawn through it. Entries 10-19 and 236-245 hold greys.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

inline constexpr int kPaletteSize = 256;
inline constexpr int kCubeFirstIndex = 20;
inline constexpr int kCubeLevels = 6;
inline constexpr int kCubeStep = 51;  // intensity of one cube level
inline constexpr uint8_t kCubeWhiteIndex = 235;
inline constexpr uint8_t kCubeBlackIndex = 20;

// The 20 reserved colours in red, green, blue order: the first ten, then the last ten.
extern const std::array<Rgb, 20> kStaticColours;

// The screen palette (vSCREEN::Palette), built once.
const std::array<RgbQuad, kPaletteSize>& ScreenPalette();

// Cube index of cube levels r, g, b (0..5).
constexpr uint8_t CubeIndex(int r, int g, int b) {
    return uint8_t(kCubeFirstIndex + 36 * r + 6 * g + b);
}

// The cube entry nearest to a colour (each channel rounded to the nearest level).
uint8_t NearestCubeIndex(Rgb colour);

}  // namespace scopa
