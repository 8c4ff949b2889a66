// scopa static-cache and scopa thumbs, run as a user runs them.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/dib.h"
#include "imaging/picture.h"
#include "imaging/vector.h"
#include "support/damaged_pictures.h"
#include "support/picture_files.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

// Each test runs the tool in its own environment, on a folder "pictures" unless it says
// otherwise, drawing its sheet to "sheet.png".
class CachingToolTest : public ::testing::Test {
protected:
    ToolResult Thumbs(const fs::path& folder, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"thumbs", folder.string(), "-o", m_sheet.string()};
        args.insert(args.end(), more.begin(), more.end());
        return RunTool(args);
    }

    SandboxedEnvironment m_environment;
    fs::path m_folder = m_environment.root() / "pictures";
    fs::path m_sheet = m_environment.root() / "sheet.png";
};

TEST_F(CachingToolTest, StaticCachePrintsItsProgressAndThumbsReadsTheCache) {
    ASSERT_TRUE(WriteTestPicture(m_folder / "a.png", 50, 30, 1));
    ASSERT_TRUE(WriteTestPicture(m_folder / "b.png", 30, 50, 2));
    WriteFileBytes(m_folder / "readme.txt", "text\n");
    std::string cache = (m_environment.root() / "Disc").string();

    ToolResult created = RunTool({"static-cache", cache, m_folder.string()});
    ASSERT_EQ(created.exit_status, 0) << created.err;
    EXPECT_EQ(created.out, "Creating static cache - " + cache + "\r\nImporting " +
                               (m_folder / "a.png").string() + " - Success\r\nImporting " +
                               (m_folder / "b.png").string() + " - Success\r\nFinished\r\n");

    ToolResult thumbs = Thumbs(m_folder);
    ASSERT_EQ(thumbs.exit_status, 0) << thumbs.err;
    EXPECT_EQ(thumbs.out, "2 pictures, 0 thumbnails made, 2 from the caches, 0 without\n");
    std::string png = ReadFileBytes(m_sheet);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

TEST_F(CachingToolTest, ThumbsMakesMissingThumbnailsOnceAndKeepsThemInTheDynamicCache) {
    ASSERT_TRUE(WriteTestPicture(m_folder / "a.png", 20, 20, 3));
    WriteFileBytes(m_folder / "broken.bmp", "BM not really");
    ToolResult first = Thumbs(m_folder);
    ASSERT_EQ(first.exit_status, 0) << first.err;
    // The list shows the broken file by its extension; it gives no thumbnail.
    EXPECT_EQ(first.out, "2 pictures, 1 thumbnails made, 0 from the caches, 1 without\n");
    ToolResult second = Thumbs(m_folder);
    EXPECT_EQ(second.out, "2 pictures, 0 thumbnails made, 1 from the caches, 1 without\n");
}

TEST_F(CachingToolTest, ThumbsOverMorePicturesThanTheCacheHoldsShowsEachItsOwn) {
    fs::path folder = m_environment.root() / "many";
    // 260 pictures in seven kinds: picture i looks like picture i % 7.
    constexpr int kPictures = 260;
    constexpr int kKinds = 7;
    for (int i = 0; i < kPictures; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%03d.png", i);
        ASSERT_TRUE(WriteTestPicture(folder / name, 24, 16, uint32_t(i % kKinds)));
    }
    ToolResult thumbs = Thumbs(folder);
    ASSERT_EQ(thumbs.exit_status, 0) << thumbs.err;
    EXPECT_EQ(thumbs.out, "260 pictures, 260 thumbnails made, 0 from the caches, 0 without\n");

    oDIB sheet;
    vMETAFILE metafile;
    int kind = 0;
    ASSERT_EQ(LoadPicture(nullptr, m_sheet.string(), sheet, metafile, kind, 0), 0);
    // The cells' picture areas, in the sheet's layout (six 128-pixel cells to a row).
    auto cell_pixels = [&](int cell) {
        std::vector<uint32_t> pixels;
        int left = 8 + (cell % 6) * 136;
        int top = 8 + (cell / 6) * (128 + 18 + 8);
        for (int y = top; y < top + 128; y += 3) {
            for (int x = left; x < left + 128; x += 3) {
                Rgb colour = sheet.PixelColour(x, y);
                pixels.push_back(uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 |
                                 colour.blue);
            }
        }
        return pixels;
    };
    for (int a = 0; a < kKinds; ++a) {
        for (int b = a + 1; b < kKinds; ++b)
            ASSERT_NE(cell_pixels(a), cell_pixels(b)) << a << " " << b;
    }
    for (int cell = kKinds; cell < kPictures; ++cell)
        EXPECT_EQ(cell_pixels(cell), cell_pixels(cell % kKinds)) << cell;
}

// Pipes named like pictures are no items, and reading one never waits for a writer.
TEST_F(CachingToolTest, PipesNamedLikePicturesNeverStallTheCommands) {
    ASSERT_TRUE(WriteTestPicture(m_folder / "a.png", 20, 20, 3));
    ASSERT_EQ(mkfifo((m_folder / "x.bmp").c_str(), 0600), 0);
    fs::create_symlink(m_folder / "x.bmp", m_folder / "b.jpg");
    ASSERT_TRUE(WriteTestPicture(m_folder / ".hidden.png", 20, 20, 4));
    ToolResult thumbs = Thumbs(m_folder);
    ASSERT_EQ(thumbs.exit_status, 0) << thumbs.err;
    EXPECT_EQ(thumbs.out, "1 pictures, 1 thumbnails made, 0 from the caches, 0 without\n");
    ToolResult hidden = Thumbs(m_folder, {"--hidden"});
    EXPECT_EQ(hidden.out, "2 pictures, 1 thumbnails made, 1 from the caches, 0 without\n");
    EXPECT_NE(RunTool({"thumb", (m_folder / "x.bmp").string(), "--raw"}).exit_status, 0);
    EXPECT_NE(RunTool({"thumb", (m_folder / "b.jpg").string(), "--raw"}).exit_status, 0);
    ToolResult cache = RunTool({"static-cache", (m_environment.root() / "C").string(),
                                m_folder.string(), "--workers", "0"});
    EXPECT_EQ(cache.exit_status, 0) << cache.err;
}

TEST_F(CachingToolTest, BadArgumentsAreRefused) {
    EXPECT_EQ(RunTool({"static-cache", "only-one"}).exit_status, 2);
    EXPECT_EQ(RunTool({"thumbs", m_environment.root().string()}).exit_status, 2);
    ToolResult missing =
        RunTool({"static-cache", (m_environment.root() / "no" / "such" / "Cache").string(),
                 m_environment.root().string()});
    EXPECT_EQ(missing.exit_status, 1);
    EXPECT_NE(missing.err.find("scopa static-cache: "), std::string::npos);
}

// A picture given up warns once with the reason of its first failed read; the next run only
// finds the failure recorded in the desktop's thumbnail cache, and says so.
TEST_F(CachingToolTest, ThumbsWarnsWhyAPictureHasNoThumbnail) {
    ASSERT_TRUE(WriteTestPicture(m_folder / "a.png", 20, 20, 3));
    WriteFileBytes(m_folder / "broken.png", PngCutInIdat());
    ToolResult first = Thumbs(m_folder);
    ASSERT_EQ(first.exit_status, 0) << first.err;
    EXPECT_EQ(first.err.rfind("scopa thumbs: warning: no thumbnail of broken.png: PNG: IDAT: "
                              "unexpected end of data at byte ",
                              0),
              0u)
        << first.err;
    // One warning (sanitizer builds may add their own report after it).
    EXPECT_EQ(first.err.find("scopa thumbs: ", 1), std::string::npos) << first.err;
    ToolResult second = Thumbs(m_folder);
    EXPECT_EQ(second.err.rfind("scopa thumbs: warning: no thumbnail of broken.png: failed before: "
                               "the desktop's thumbnail cache has a failure record\n",
                               0),
              0u)
        << second.err;
}

}  // namespace
}  // namespace scopa::test
