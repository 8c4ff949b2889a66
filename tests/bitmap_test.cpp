// The bitmap layer: packed-DIB import of every layout, raster-operation blits, masks, lines,
// stretching and smooth scaling.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/dib.h"
#include "imaging/draw.h"
#include "imaging/palette.h"
#include "support/picture_files.h"

namespace scopa {
namespace {

using test::Solid;

// Builds a packed DIB: header, colour table (4- or 2-byte entries) and rows as given.
std::vector<uint8_t> Packed(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                            const std::vector<uint8_t>& table, const std::vector<uint8_t>& data,
                            uint32_t clr_used = 0) {
    BitmapInfoHeader header;
    header.width = width;
    header.height = height;
    header.bit_count = bits;
    header.compression = compression;
    header.clr_used = clr_used;
    std::vector<uint8_t> out;
    AppendBitmapInfoHeader(out, header);
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST(PackedDibTest, BottomUpAndTopDownRowsLandTopDown) {
    // Two rows of one 24-bit pixel each, padded to 4 bytes: red then blue as stored.
    std::vector<uint8_t> rows = {0, 0, 255, 0, 255, 0, 0, 0};
    auto bottom_up = oDIB::FromPackedDib(Packed(1, 2, 24, kBiRgb, {}, rows));
    auto top_down = oDIB::FromPackedDib(Packed(1, -2, 24, kBiRgb, {}, rows));
    ASSERT_TRUE(bottom_up && top_down);
    EXPECT_EQ(bottom_up->PixelColour(0, 0), (Rgb{0, 0, 255}));  // stored last = top
    EXPECT_EQ(bottom_up->PixelColour(0, 1), (Rgb{255, 0, 0}));
    EXPECT_EQ(top_down->PixelColour(0, 0), (Rgb{255, 0, 0}));
    // Export is bottom-up again, byte for byte.
    std::vector<uint8_t> again = bottom_up->ToPackedDib();
    EXPECT_EQ(std::vector<uint8_t>(again.begin() + 40, again.end()), rows);
}

TEST(PackedDibTest, OneBitAndPaletteIndexTables) {
    std::vector<uint8_t> table = {0, 0, 0, 0, 255, 255, 255, 0};
    auto mono = oDIB::FromPackedDib(Packed(9, 1, 1, kBiRgb, table, {0x80, 0x80, 0, 0}));
    ASSERT_TRUE(mono);
    EXPECT_EQ(mono->PixelColour(0, 0), kWhite);
    EXPECT_EQ(mono->PixelColour(1, 0), kBlack);
    EXPECT_EQ(mono->PixelColour(8, 0), kWhite);
    // Palette-index tables hold 16-bit indices into the screen palette.
    std::vector<uint8_t> indices(512, 0);
    indices[2] = 235;  // entry 1 -> cube white
    auto pal = oDIB::FromPackedDib(Packed(2, 1, 8, kBiRgb, indices, {1, 0, 0, 0}),
                                   ColourUse::kPaletteIndices);
    ASSERT_TRUE(pal);
    EXPECT_EQ(pal->PixelColour(0, 0), kWhite);
    EXPECT_EQ(pal->PixelColour(1, 0), kBlack);
}

TEST(PackedDibTest, BitFieldsFiveSixFiveBecomeTwentyFourBit) {
    std::vector<uint8_t> masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    // One pixel of pure green in 5-6-5 (0x07E0), padded.
    auto dib = oDIB::FromPackedDib(Packed(1, 1, 16, kBiBitfields, masks, {0xE0, 0x07, 0, 0}));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->BitCount(), 24);
    EXPECT_EQ(dib->PixelColour(0, 0), (Rgb{0, 255, 0}));
}

TEST(PackedDibTest, RunLengthEightWithDeltaAndEnd) {
    std::vector<uint8_t> table(4 * 3, 0);
    table[4 + 2] = 255;  // index 1 red
    table[8 + 1] = 255;  // index 2 green
    // Bottom row: 3 x index 1, then a literal run 2,1,2 (padded); next row: delta right 2 then
    // 1 x index 2; end of picture.
    std::vector<uint8_t> rle = {3, 1, 0, 3, 2, 1, 2, 0, 0, 0, 0, 2, 2, 0, 1, 2, 0, 1};
    auto dib = oDIB::FromPackedDib(Packed(6, 2, 8, kBiRle8, table, rle, 3));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->RawPixel(0, 1), 1u);
    EXPECT_EQ(dib->RawPixel(3, 1), 2u);
    EXPECT_EQ(dib->RawPixel(5, 1), 2u);
    EXPECT_EQ(dib->RawPixel(0, 0), 0u);
    EXPECT_EQ(dib->RawPixel(2, 0), 2u);
}

TEST(PackedDibTest, MalformedInputsFail) {
    EXPECT_FALSE(oDIB::FromPackedDib(std::vector<uint8_t>(39, 0)));
    EXPECT_FALSE(oDIB::FromPackedDib(Packed(4, 4, 24, kBiRgb, {}, std::vector<uint8_t>(47))));
    EXPECT_FALSE(oDIB::FromPackedDib(Packed(0, 4, 24, kBiRgb, {}, {})));
    EXPECT_FALSE(oDIB::FromPackedDib(Packed(4, 4, 7, kBiRgb, {}, std::vector<uint8_t>(64))));
    EXPECT_FALSE(oDIB::FromPackedDib(Packed(1 << 20, 1 << 20, 24, kBiRgb, {}, {})));
    EXPECT_FALSE(oDIB::FromPackedDib(Packed(2, -2, 8, kBiRle8, std::vector<uint8_t>(1024), {})));
    // A literal run that reaches past the data.
    EXPECT_FALSE(
        oDIB::FromPackedDib(Packed(8, 1, 8, kBiRle8, std::vector<uint8_t>(1024), {0, 8, 1, 2})));
    // Run-length data that ends the picture at once while declaring 14,348 x 65,280 pixels:
    // refused rather than a gigabyte of pixels never written.
    EXPECT_FALSE(
        oDIB::FromPackedDib(Packed(14348, 65280, 8, kBiRle8, std::vector<uint8_t>(1024), {0, 1})));
    // The largest run-length size still read.
    EXPECT_TRUE(
        oDIB::FromPackedDib(Packed(8192, 8192, 8, kBiRle8, std::vector<uint8_t>(1024), {0, 1})));
}

TEST(BlitTest, TransparentDrawingThroughMaskAndInvertTrick) {
    // A picture whose key colour (green) must become transparent over a blue cell.
    oDIB picture = Solid(3, 1, {0, 255, 0});
    FillRect(picture, {1, 0, 2, 1}, {200, 10, 10});
    oDIB mask = MakeMask(picture, {0, 255, 0});
    EXPECT_EQ(mask.RawPixel(0, 0), 1u);
    EXPECT_EQ(mask.RawPixel(1, 0), 0u);
    oDIB cell = Solid(3, 1, {0, 0, 255});
    BitBlt(cell, 0, 0, 3, 1, picture, 0, 0, RasterOp::kSrcInvert);
    BitBlt(cell, 0, 0, 3, 1, mask, 0, 0, RasterOp::kSrcAnd);
    BitBlt(cell, 0, 0, 3, 1, picture, 0, 0, RasterOp::kSrcInvert);
    EXPECT_EQ(cell.PixelColour(0, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(cell.PixelColour(1, 0), (Rgb{200, 10, 10}));
}

TEST(BlitTest, MaskAndPaintWithBlackBackground) {
    // The pilot-picture way: blacken key pixels of the picture, punch holes, then OR.
    oDIB picture = Solid(2, 1, {0, 255, 0});
    FillRect(picture, {1, 0, 2, 1}, {9, 9, 9});
    oDIB mask = MakeMask(picture, {0, 255, 0});
    BlitColours inverted{kWhite, kBlack};  // text white, background black
    BitBlt(picture, 0, 0, 2, 1, mask, 0, 0, RasterOp::kSrcAnd, inverted);
    EXPECT_EQ(picture.PixelColour(0, 0), kBlack);
    oDIB cell = Solid(2, 1, {50, 60, 70});
    BitBlt(cell, 0, 0, 2, 1, mask, 0, 0, RasterOp::kSrcAnd);
    BitBlt(cell, 0, 0, 2, 1, picture, 0, 0, RasterOp::kSrcPaint);
    EXPECT_EQ(cell.PixelColour(0, 0), (Rgb{50, 60, 70}));
    EXPECT_EQ(cell.PixelColour(1, 0), (Rgb{9, 9, 9}));
}

TEST(BlitTest, ClipsAtBothBitmaps) {
    oDIB cell = Solid(4, 4, kWhite);
    oDIB source = Solid(4, 4, kBlack);
    BitBlt(cell, 2, 2, 10, 10, source, -1, 0, RasterOp::kSrcCopy);
    EXPECT_EQ(cell.PixelColour(2, 2), kWhite);  // source x -1 is outside
    EXPECT_EQ(cell.PixelColour(3, 3), kBlack);
    EXPECT_EQ(cell.PixelColour(1, 1), kWhite);
}

TEST(DrawTest, PolylineWithTwoPixelPenAndOpenEnd) {
    oDIB cell = Solid(10, 10, kWhite);
    Point outline[] = {{1, 1}, {1, 9}, {9, 9}, {9, 1}, {1, 1}};
    Polyline(cell, outline, 2, {0, 0, 255});
    EXPECT_EQ(cell.PixelColour(1, 5), (Rgb{0, 0, 255}));
    EXPECT_EQ(cell.PixelColour(2, 5), (Rgb{0, 0, 255}));  // second pixel of the pen
    EXPECT_EQ(cell.PixelColour(5, 5), kWhite);
    oDIB line = Solid(5, 1, kWhite);
    Point ends[] = {{0, 0}, {3, 0}};
    Polyline(line, ends, 1, kBlack);
    EXPECT_EQ(line.PixelColour(2, 0), kBlack);
    EXPECT_EQ(line.PixelColour(3, 0), kWhite);  // the end point is not drawn
}

TEST(DrawTest, StretchHalvesMonochrome) {
    oDIB mono;
    ASSERT_TRUE(mono.Create(4, 2, 1));
    mono.SetRawPixel(0, 0, 1);
    mono.SetRawPixel(2, 0, 1);
    oDIB half;
    ASSERT_TRUE(half.Create(2, 1, 1));
    StretchBlt(half, {0, 0, 2, 1}, mono, {0, 0, 4, 2}, RasterOp::kSrcCopy);
    EXPECT_EQ(half.RawPixel(0, 0), 1u);
    EXPECT_EQ(half.RawPixel(1, 0), 1u);
}

TEST(DrawTest, SmoothScalingKeepsFlatColoursAndAverages) {
    oDIB source = Solid(300, 200, {10, 200, 90});
    oDIB target = Solid(256, 256, kWhite);
    DrawDibScaled(target, {0, 0, 256, 171}, source);
    EXPECT_EQ(target.PixelColour(0, 0), (Rgb{10, 200, 90}));
    EXPECT_EQ(target.PixelColour(255, 170), (Rgb{10, 200, 90}));
    EXPECT_EQ(target.PixelColour(0, 171), kWhite);
    // Two columns, black and white, scaled to one pixel give mid-grey.
    oDIB stripes = Solid(2, 1, kBlack);
    FillRect(stripes, {1, 0, 2, 1}, kWhite);
    oDIB one = Solid(1, 1, kBlack);
    DrawDibScaled(one, {0, 0, 1, 1}, stripes);
    EXPECT_NEAR(one.PixelColour(0, 0).red, 128, 1);
}

}  // namespace
}  // namespace scopa
