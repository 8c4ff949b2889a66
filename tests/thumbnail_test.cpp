// Halving and dithering into thumbnails: golden pixels of the box filter, the 5-5-5 and
// 24-bit layouts, row padding, odd sizes and the bottom-up variant.
#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <vector>

#include "imaging/dib.h"
#include "imaging/draw.h"
#include "imaging/palette.h"
#include "imaging/thumbnail.h"
#include "support/picture_files.h"

namespace scopa {
namespace {

using test::Solid;

void SetPixel(oDIB& dib, int32_t x, int32_t y, Rgb colour) {
    uint8_t* p = dib.Row(y) + 3 * size_t(x);
    p[0] = colour.blue;
    p[1] = colour.green;
    p[2] = colour.red;
}

TEST(ScreenPaletteTest, CubeAndStaticColours) {
    const auto& palette = ScreenPalette();
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 6; ++g) {
            for (int b = 0; b < 6; ++b) {
                RgbQuad entry = palette[size_t(20 + 36 * r + 6 * g + b)];
                EXPECT_EQ(entry, (RgbQuad{uint8_t(51 * b), uint8_t(51 * g), uint8_t(51 * r), 0}));
            }
        }
    }
    EXPECT_EQ(palette[0], (RgbQuad{0, 0, 0, 0}));
    EXPECT_EQ(palette[9], (RgbQuad{0xF0, 0xCA, 0xA6, 0}));
    EXPECT_EQ(palette[246], (RgbQuad{0xF0, 0xFB, 0xFF, 0}));
    EXPECT_EQ(palette[255], (RgbQuad{0xFF, 0xFF, 0xFF, 0}));
    EXPECT_EQ(NearestCubeIndex({255, 255, 255}), 235);
    EXPECT_EQ(NearestCubeIndex({0, 0, 0}), 20);
}

TEST(HalveToThumbnailTest, WhiteAndBlackGiveCubeCorners) {
    std::vector<uint8_t> out(kThumbnailBytes, 0);
    int depth = 8;
    HalveToThumbnail(Solid(256, 256, kWhite), out.data(), depth);
    EXPECT_EQ(depth, 8);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 235; }));
    HalveToThumbnail(Solid(256, 256, kBlack), out.data(), depth);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 20; }));
}

TEST(HalveToThumbnailTest, MidGreyDithersBetweenLevelsTwoAndThree) {
    std::vector<uint8_t> out(kThumbnailBytes, 0);
    int depth = 8;
    HalveToThumbnail(Solid(256, 256, {128, 128, 128}), out.data(), depth);
    std::set<uint8_t> seen(out.begin(), out.end());
    EXPECT_EQ(seen, (std::set<uint8_t>{106, 149}));
    // Level 2 is 102 and level 3 is 153: the mean intensity stays within 1 of 128.
    double sum = 0;
    for (uint8_t v : out)
        sum += v == 106 ? 102 : 153;
    EXPECT_NEAR(sum / double(out.size()), 128.0, 1.0);
}

TEST(HalveToThumbnailTest, DitherSequenceOfFirstRowIsExact) {
    // Grey 60 is level 1 with rest 9 (right share 4); the next pixel sees 64 (rest 13, right
    // share 6), then 66 (rest 15, share 7), then 67 on: the first row stays at level 1.
    oDIB source = Solid(8, 2, {60, 60, 60});
    uint8_t out[4] = {};
    int depth = 8;
    HalveToThumbnail(source, out, depth);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(4, CubeIndex(1, 1, 1)));
}

TEST(HalveToThumbnailTest, RestOfEightNeverReadsAsLargeError) {
    // Intensity 59 leaves rest 8 in the first pixel, whose below-right share is -1; a
    // wrapped byte would read as 255 and turn the pixel below-right white.
    oDIB source = Solid(8, 8, {59, 59, 59});
    std::vector<uint8_t> out(16);
    int depth = 8;
    HalveToThumbnail(source, out.data(), depth);
    for (uint8_t v : out)
        EXPECT_LE(v, CubeIndex(2, 2, 2));
}

TEST(HalveToThumbnailTest, OddWidthPadsEightBitRows) {
    oDIB source = Solid(255, 4, kWhite);
    SetPixel(source, 254, 0, kBlack);  // the ignored last column
    std::vector<uint8_t> out(HalvedImageBytes(255, 4, 8), 0xAA);
    ASSERT_EQ(out.size(), 128u * 2);
    int depth = 8;
    HalveToThumbnail(source, out.data(), depth);
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 127; ++x)
            EXPECT_EQ(out[size_t(row) * 128 + size_t(x)], 235);
        EXPECT_EQ(out[size_t(row) * 128 + 127], 0xAA) << "padding is skipped, not written";
    }
}

TEST(HalveToThumbnailTest, TwentyFourBitAveragesFourPixels) {
    oDIB source = Solid(4, 2, kBlack);
    SetPixel(source, 0, 0, {255, 0, 0});
    SetPixel(source, 1, 0, {0, 255, 0});
    SetPixel(source, 0, 1, {0, 0, 255});
    SetPixel(source, 1, 1, {100, 100, 100});
    SetPixel(source, 2, 0, {7, 7, 7});
    std::vector<uint8_t> out(HalvedImageBytes(4, 2, 24), 0xEE);
    ASSERT_EQ(out.size(), 8u);  // 2 pixels of 3 bytes, padded to 8
    int depth = 24;
    HalveToThumbnail(source, out.data(), depth);
    EXPECT_EQ(depth, 24);
    // Blue (0 + 0 + 255 + 100) / 4 = 88, green (0 + 255 + 0 + 100) / 4 = 88, red 88.
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 6),
              (std::vector<uint8_t>{88, 88, 88, 1, 1, 1}));
    EXPECT_EQ(out[6], 0xEE);
}

TEST(HalveToThumbnailTest, SixteenBitIsFiveFiveFive) {
    oDIB source = Solid(2, 2, {255, 128, 8});
    uint8_t out[4] = {0, 0, 0xEE, 0xEE};
    int depth = 16;
    HalveToThumbnail(source, out, depth);
    EXPECT_EQ(depth, 16);
    // Sums 1020, 512, 32 shifted by 5: 31, 16, 1.
    uint16_t word = uint16_t(out[0] | out[1] << 8);
    EXPECT_EQ(word, 31 * 1024 + 16 * 32 + 1);
    EXPECT_EQ(out[2], 0xEE);
}

TEST(HalveToThumbnailTest, DepthThirtyTwoComesBackAsEight) {
    uint8_t out[4] = {};
    int depth = 32;
    HalveToThumbnail(Solid(2, 2, kWhite), out, depth);
    EXPECT_EQ(depth, 8);
    EXPECT_EQ(out[0], 235);
}

TEST(HalveToThumbnailTest, OtherSourceDepthsAreReadAsColours) {
    oDIB indexed;
    ASSERT_TRUE(indexed.Create(4, 4, 8));
    indexed.ColourTable()[3] = {255, 255, 255, 0};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            indexed.SetRawPixel(x, y, 3);
    }
    uint8_t out[8] = {};
    int depth = 8;
    HalveToThumbnail(indexed, out, depth);
    EXPECT_EQ(out[0], 235);
    EXPECT_EQ(out[1], 235);
}

TEST(HalveToDibTest, RowsAreBottomUpAndPairedFromTheBottom) {
    // Height 5: the bottom-up walk pairs rows 4+3 and 2+1 and ignores the top row 0.
    oDIB source = Solid(2, 5, kWhite);
    SetPixel(source, 0, 0, kBlack);
    SetPixel(source, 1, 0, kBlack);
    SetPixel(source, 0, 4, {0, 0, 0});
    SetPixel(source, 1, 4, {0, 0, 0});
    std::vector<uint8_t> out(HalvedImageBytes(2, 5, 24), 0);
    ASSERT_EQ(out.size(), 8u);
    int depth = 24;
    ASSERT_TRUE(HalveToDib(source, out.data(), depth));
    // Output row 0 (first in memory) is the bottom pair: two black and two white -> 127.
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(out[4], 255);  // rows 2 and 1, all white
}

TEST(HalveToDibTest, LargeSourcesDitherLikeTheThumbnail) {
    oDIB source = Solid(600, 400, {128, 128, 128});
    std::vector<uint8_t> out(HalvedImageBytes(600, 400, 8));
    int depth = 0;
    ASSERT_TRUE(HalveToDib(source, out.data(), depth));
    EXPECT_EQ(depth, 8);
    std::set<uint8_t> seen(out.begin(), out.end());
    EXPECT_EQ(seen, (std::set<uint8_t>{106, 149}));
}

TEST(ThumbnailToDibTest, CoveredPartWithTheScreenPalette) {
    std::vector<uint8_t> pixels(kThumbnailBytes, 235);
    pixels[0] = 20;
    pixels[128 * 95 + 127] = 20;
    oDIB dib = ThumbnailToDib(pixels.data(), {128, 96});
    ASSERT_EQ(dib.Size(), (vSIZE{128, 96}));
    EXPECT_EQ(dib.BitCount(), 8);
    EXPECT_EQ(dib.PixelColour(0, 0), kBlack);
    EXPECT_EQ(dib.PixelColour(127, 95), kBlack);
    EXPECT_EQ(dib.PixelColour(5, 5), kWhite);
    EXPECT_TRUE(ThumbnailToDib(pixels.data(), {0, 96}).IsEmpty());
    EXPECT_TRUE(ThumbnailToDib(pixels.data(), {129, 1}).IsEmpty());
}

}  // namespace
}  // namespace scopa
