// scopa cache ls/get/verify on a small compressed cache built here.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "cache/cache_files.h"
#include "imaging/dib.h"
#include "imaging/palette.h"
#include "imaging/picture.h"
#include "imaging/vector.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

std::array<uint8_t, kThumbnailBlockBytes> Ramp() {
    std::array<uint8_t, kThumbnailBlockBytes> block{};
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i % 128 + i / 128);
    return block;
}

// A compressed cache with one folder of two thumbnails.
fs::path MakeCache(const ScopedTempDir& dir) {
    fs::path base = dir / "Static";
    EXPECT_TRUE(CreateEmptyDataFile(base));
    CacheIndexContents index;
    index.compressed = true;
    CacheFolderRecord folder{"PHOTOS\\TREES", "CD", {}};
    int32_t first = AppendCompressedRecord(CacheDataPath(base), 11, Ramp(), 128, 96);
    int32_t second = AppendCompressedRecord(CacheDataPath(base), 22, Ramp(), 32, 16);
    folder.entries.push_back({"OAK.JPG", first, 11, 1000, EntryState::kValid});
    folder.entries.push_back({"ELM.JPG", second, 22, 2000, EntryState::kValid});
    index.folders.push_back(folder);
    EXPECT_TRUE(SaveCacheIndex(CacheIndexPath(base), index));
    return CacheIndexPath(base);
}

TEST(CacheToolTest, ListsFoldersAndEntries) {
    ScopedTempDir dir;
    ToolResult result = RunTool({"cache", "ls", MakeCache(dir).string()});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_NE(result.out.find("compressed records, 1 folders, 2 entries"), std::string::npos);
    EXPECT_NE(result.out.find("PHOTOS\\TREES  [CD]"), std::string::npos);
    EXPECT_LT(result.out.find("OAK.JPG"), result.out.find("ELM.JPG"));
}

TEST(CacheToolTest, GetsTheRawRecordAndAPng) {
    ScopedTempDir dir;
    fs::path index = MakeCache(dir);
    ToolResult raw = RunTool({"cache", "get", index.string(), "PHOTOS\\TREES", "ELM.JPG", "--raw"});
    ASSERT_EQ(raw.exit_status, 0) << raw.err;
    ASSERT_EQ(raw.out.size(), 12 + kThumbnailBlockBytes);
    EXPECT_EQ(raw.out.substr(0, 12), std::string("\x16\0\0\0\x20\0\0\0\x10\0\0\0", 12));
    auto ramp = Ramp();
    EXPECT_EQ(raw.out.substr(12), std::string(ramp.begin(), ramp.end()));

    ToolResult png = RunTool({"cache", "get", index.string(), "PHOTOS\\TREES", "OAK.JPG", "-o",
                              (dir / "oak.png").string()});
    ASSERT_EQ(png.exit_status, 0) << png.err;
    std::string bytes = ReadFileBytes(dir / "oak.png");
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\0\x80\0\0\0\x60", 8));  // 128 x 96
    // Each pixel shows its palette index in the screen palette's colour.
    oDIB picture;
    vMETAFILE metafile;
    int kind = 0;
    ASSERT_EQ(LoadPicture(nullptr, (dir / "oak.png").string(), picture, metafile, kind, -1), 0);
    ASSERT_EQ(picture.Size(), (vSIZE{128, 96}));
    for (int32_t y : {0, 33, 95}) {
        for (int32_t x : {0, 17, 127}) {
            const RgbQuad& expected = ScreenPalette()[ramp[size_t(y) * 128 + size_t(x)]];
            Rgb colour = picture.PixelColour(x, y);
            EXPECT_EQ(colour.red, expected.red) << x << "," << y;
            EXPECT_EQ(colour.green, expected.green) << x << "," << y;
            EXPECT_EQ(colour.blue, expected.blue) << x << "," << y;
        }
    }

    EXPECT_EQ(
        RunTool({"cache", "get", index.string(), "PHOTOS/TREES", "OAK.JPG", "--raw"}).exit_status,
        1);
}

TEST(CacheToolTest, VerifyNamesDamagedEntries) {
    ScopedTempDir dir;
    fs::path index = MakeCache(dir);
    EXPECT_EQ(RunTool({"cache", "verify", index.string()}).exit_status, 0);
    // Break the second record's stream header.
    fs::path data = CacheDataPath(dir / "Static");
    std::string bytes = ReadFileBytes(data);
    CacheIndexContents contents = LoadCacheIndex(index);
    bytes[static_cast<size_t>(contents.folders[0].entries[1].index) + 13] = 9;
    WriteFileBytes(data, bytes);
    ToolResult result = RunTool({"cache", "verify", index.string()});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.out.find("bad: PHOTOS\\TREES\\ELM.JPG"), std::string::npos);
    EXPECT_EQ(result.out.find("OAK.JPG"), std::string::npos);
}

TEST(CacheToolTest, VerifyRefusesAnIndexThatIsNotSound) {
    using BytesDamage = std::function<void(std::string&)>;
    using EntryDamage = std::function<void(CacheIndexContents&)>;
    struct Case {
        const char* name;
        BytesDamage bytes_damage;  // applied to the file, or
        EntryDamage entry_damage;  // to what it holds, saved again
        const char* still_loaded;
    };
    const Case cases[] = {
        {"wrong tag", [](std::string& bytes) { bytes[0] = 'X'; }, {}, "0 entries"},
        {"version 3", [](std::string& bytes) { bytes[4] = 3; }, {}, "0 entries"},
        {"cut in half",
         [](std::string& bytes) { bytes.resize(bytes.size() - 10); },
         {},
         "1 entries, 0 bad"},
        {"Index outside the data file",
         {},
         [](CacheIndexContents& contents) { contents.folders[0].entries[1].index = 0x40000000; },
         "1 entries, 0 bad"},
        {"negative Index",
         {},
         [](CacheIndexContents& contents) { contents.folders[0].entries[0].index = -16396; },
         "1 entries, 0 bad"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempDir dir;
        fs::path index = MakeCache(dir);
        if (c.entry_damage) {
            CacheIndexContents contents = LoadCacheIndex(index);
            c.entry_damage(contents);
            ASSERT_TRUE(SaveCacheIndex(index, contents));
        } else {
            std::string bytes = ReadFileBytes(index);
            c.bytes_damage(bytes);
            WriteFileBytes(index, bytes);
        }
        ToolResult result = RunTool({"cache", "verify", index.string()});
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_NE(result.out.find("bad index: "), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(c.still_loaded), std::string::npos) << result.out;
    }
}

}  // namespace
}  // namespace scopa::test
