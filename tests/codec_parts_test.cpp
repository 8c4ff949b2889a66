// The pieces the decoders share: EXIF orientation parsing and applying, the streaming box
// reduction in both row orders, the offered resolutions, streams that replace files only on
// commit, and the bitmap metafile the WMF writer produces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/codecs.h"
#include "imaging/dib.h"
#include "imaging/draw.h"
#include "imaging/filter.h"
#include "imaging/picture.h"
#include "imaging/row_reducer.h"
#include "imaging/stream.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// "Exif\0\0" and a one-entry directory holding the orientation, in either byte order.
std::vector<uint8_t> ExifBlock(bool big_endian, uint16_t tag, uint16_t type, uint16_t value) {
    auto u16 = [&](uint16_t v) {
        return big_endian ? std::string{char(v >> 8), char(v)} : std::string{char(v), char(v >> 8)};
    };
    auto u32 = [&](uint32_t v) {
        return big_endian ? u16(uint16_t(v >> 16)) + u16(uint16_t(v))
                          : u16(uint16_t(v)) + u16(uint16_t(v >> 16));
    };
    std::string tiff = std::string(big_endian ? "MM" : "II") + u16(42) + u32(8) + u16(1) +
                       u16(tag) + u16(type) + u32(1) + u16(value) + u16(0) + u32(0);
    return Bytes(std::string("Exif\0\0", 6) + tiff);
}

TEST(ExifTest, ReadsOrientationInBothByteOrders) {
    EXPECT_EQ(ExifOrientation(ExifBlock(false, 0x0112, 3, 6)), 6);
    EXPECT_EQ(ExifOrientation(ExifBlock(true, 0x0112, 3, 8)), 8);
}

TEST(ExifTest, AnythingOddMeansUpright) {
    EXPECT_EQ(ExifOrientation(ExifBlock(false, 0x0110, 3, 6)), 1);  // another tag
    EXPECT_EQ(ExifOrientation(ExifBlock(false, 0x0112, 4, 6)), 1);  // not a SHORT
    EXPECT_EQ(ExifOrientation(ExifBlock(false, 0x0112, 3, 9)), 1);  // out of range
    std::vector<uint8_t> cut = ExifBlock(false, 0x0112, 3, 6);
    cut.resize(cut.size() - 10);
    EXPECT_EQ(ExifOrientation(cut), 1);
    std::vector<uint8_t> far = ExifBlock(false, 0x0112, 3, 6);
    far[10] = 0xFF;  // directory offset beyond the block
    EXPECT_EQ(ExifOrientation(far), 1);
    EXPECT_EQ(ExifOrientation(Bytes("JFIF")), 1);
}

// A 3 x 2 picture whose pixels are numbered 1..6 in their blue channel, row by row.
oDIB Numbered() {
    oDIB dib;
    dib.Create(3, 2, 24);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x)
            dib.Row(y)[3 * x] = uint8_t(1 + 3 * y + x);
    }
    return dib;
}

std::vector<int> BlueValues(const oDIB& dib) {
    std::vector<int> values;
    for (int y = 0; y < dib.Height(); ++y) {
        for (int x = 0; x < dib.Width(); ++x)
            values.push_back(dib.Row(y)[3 * x]);
    }
    return values;
}

TEST(OrientationTest, EveryOrientationTurnsUpright) {
    // Stored 1 2 3 / 4 5 6; what a viewer shows for each tag value.
    const std::vector<std::vector<int>> expected = {
        {1, 2, 3, 4, 5, 6},  // 1
        {3, 2, 1, 6, 5, 4},  // 2 mirrored
        {6, 5, 4, 3, 2, 1},  // 3 turned half
        {4, 5, 6, 1, 2, 3},  // 4 flipped
        {1, 4, 2, 5, 3, 6},  // 5 transposed
        {4, 1, 5, 2, 6, 3},  // 6 turned right
        {6, 3, 5, 2, 4, 1},  // 7 transversed
        {3, 6, 2, 5, 1, 4},  // 8 turned left
    };
    for (int orientation = 1; orientation <= 8; ++orientation) {
        oDIB upright = ApplyOrientation(Numbered(), orientation);
        bool swapped = OrientationSwapsSides(orientation);
        EXPECT_EQ(upright.Size(), swapped ? (vSIZE{2, 3}) : (vSIZE{3, 2})) << orientation;
        EXPECT_EQ(BlueValues(upright), expected[size_t(orientation - 1)]) << orientation;
    }
}

TEST(RowReducerTest, AveragesBlocksWithPartialEdgesInBothRowOrders) {
    // 5 x 3 picture, factor 2: blocks of 2 x 2, the last column and row are partial.
    std::vector<std::vector<uint8_t>> rows(3, std::vector<uint8_t>(15));
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x)
            rows[size_t(y)][size_t(3 * x)] = uint8_t(10 * (y * 5 + x));
    }
    for (bool bottom_up : {false, true}) {
        RowReducer reducer;
        ASSERT_TRUE(reducer.Start({5, 3}, 2, bottom_up));
        for (int i = 0; i < 3; ++i)
            reducer.PushRow(rows[size_t(bottom_up ? 2 - i : i)].data());
        oDIB& out = reducer.Result();
        ASSERT_EQ(out.Size(), (vSIZE{3, 2}));
        // Top-left block 0, 10, 50, 60 -> 30; right column 40, 90 -> 65; bottom row 100, 110.
        EXPECT_EQ(BlueValues(out), (std::vector<int>{30, 50, 65, 105, 125, 140})) << bottom_up;
    }
}

TEST(ResolutionTest, OffersHalvingsWhileTheLongerSideKeepsTwoHundredFiftySixPixels) {
    EXPECT_EQ(OfferedReductionFactors({4000, 3000}, 8), (std::vector<int>{1, 2, 4, 8}));
    EXPECT_EQ(OfferedReductionFactors({1100, 700}, 1 << 16), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(OfferedReductionFactors({300, 200}, 8), (std::vector<int>{1}));
    EXPECT_EQ(OfferedReductionFactors({30000, 30000}, 1 << 16).back(), 64);
    EXPECT_EQ(ReducedSize({1001, 3}, 4), (vSIZE{251, 1}));
}

TEST(StreamTest, CreatedFilesAppearOnlyWhenCommitted) {
    test::ScopedTempDir dir;
    std::string path = (dir / "out.bin").string();
    {
        vFILE file(path, vFILE::kModeCreate);
        ASSERT_EQ(file.Error(), 0);
        EXPECT_TRUE(file.Write("abc", 3));
        EXPECT_FALSE(std::filesystem::exists(path));
    }  // closed without commit
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    vFILE file(path, vFILE::kModeCreate);
    file.Write("xyz", 3);
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(test::ReadFileBytes(path), "xyz");
    vFILE reader(path, vFILE::kModeRead);
    EXPECT_EQ(reader.Size(), 3u);
    std::vector<uint8_t> rest;
    EXPECT_FALSE(reader.ReadRest(rest, 2));
    EXPECT_TRUE(reader.ReadRest(rest, 3));
    EXPECT_EQ(vFILE((dir / "absent").string(), vFILE::kModeRead).Error(), 1);
}

TEST(StreamTest, MemoryStreamsReadViewsAndGrowWhenWritten) {
    const uint8_t data[] = {1, 2, 3};
    vMEMSTREAM view(data);
    uint8_t buffer[4] = {};
    EXPECT_EQ(view.Read(buffer, 4), 3u);
    EXPECT_FALSE(view.Write(buffer, 1));
    vMEMSTREAM grown;
    grown.Write(data, 3);
    grown.Seek(1);
    grown.Write(data, 3);
    EXPECT_EQ(std::vector<uint8_t>(grown.Data().begin(), grown.Data().end()),
              (std::vector<uint8_t>{1, 1, 2, 3}));
}

TEST(WmfWriterTest, BitmapMetafileHasAValidPlaceableHeader) {
    oDIB dib;
    ASSERT_TRUE(dib.Create(3, 2, 24));
    dib.m_xPelsPerMeter = dib.m_yPelsPerMeter = 3780;  // 96 per inch
    vMETAFILE picture;
    picture.LogicalExtents(0, 2, 0, 1);
    picture.PhysicalExtents(3, 2);
    picture.m_bitmap = std::make_shared<const oDIB>(dib);
    vMEMSTREAM out;
    ASSERT_EQ(oFILTERLIST::FindByID("WMF")->Convert(picture, out), kFilterDone);
    std::span<const uint8_t> bytes = out.Data();
    ASSERT_GT(bytes.size(), 40u);
    auto word = [&](size_t at) { return uint16_t(bytes[at] | bytes[at + 1] << 8); };
    EXPECT_EQ(word(0) | uint32_t(word(2)) << 16, 0x9AC6CDD7u);
    EXPECT_EQ(word(10), 3);   // right
    EXPECT_EQ(word(12), 2);   // bottom
    EXPECT_EQ(word(14), 96);  // units per inch
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2)
        checksum ^= word(i);
    EXPECT_EQ(word(20), checksum);
    // The header's size in words covers the whole file after the placeable header.
    EXPECT_EQ((word(28) | uint32_t(word(30)) << 16) * 2, bytes.size() - 22);
    // The last record is the 3-word end record.
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 6, bytes.end()),
              (std::vector<uint8_t>{3, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace scopa
