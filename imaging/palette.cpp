#include "imaging/palette.h"

namespace scopa {

const std::array<Rgb, 20> kStaticColours = {{
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x7F, 0x7F, 0x7F}, {0xA6, 0xCA, 0xF0}, {0xFF, 0xFB, 0xF0}, {0xA0, 0xA0, 0xA4},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
}};

namespace {

RgbQuad Quad(Rgb colour) {
    return {colour.blue, colour.green, colour.red, 0};
}

std::array<RgbQuad, kPaletteSize> BuildScreenPalette() {
    std::array<RgbQuad, kPaletteSize> palette{};
    for (int i = 0; i < 10; ++i) {
        palette[size_t(i)] = Quad(kStaticColours[size_t(i)]);
        palette[size_t(246 + i)] = Quad(kStaticColours[size_t(10 + i)]);
    }
    for (int r = 0; r < kCubeLevels; ++r) {
        for (int g = 0; g < kCubeLevels; ++g) {
            for (int b = 0; b < kCubeLevels; ++b) {
                palette[CubeIndex(r, g, b)] =
                    Quad({uint8_t(kCubeStep * r), uint8_t(kCubeStep * g), uint8_t(kCubeStep * b)});
            }
        }
    }
    // The twenty entries between the static colours and the cube are free; a grey ramp that
    // falls between the cube's greys keeps them harmless.
    for (int i = 0; i < 10; ++i) {
        uint8_t dark = uint8_t(13 + 12 * i), light = uint8_t(133 + 12 * i);
        palette[size_t(10 + i)] = Quad({dark, dark, dark});
        palette[size_t(236 + i)] = Quad({light, light, light});
    }
    return palette;
}

int NearestLevel(uint8_t value) {
    return (value + kCubeStep / 2) / kCubeStep;
}

}  // namespace

const std::array<RgbQuad, kPaletteSize>& ScreenPalette() {
    static const std::array<RgbQuad, kPaletteSize> palette = BuildScreenPalette();
    return palette;
}

uint8_t NearestCubeIndex(Rgb colour) {
    return CubeIndex(NearestLevel(colour.red), NearestLevel(colour.green),
                     NearestLevel(colour.blue));
}

}  // namespace scopa
