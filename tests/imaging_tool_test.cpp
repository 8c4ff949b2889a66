// The thumb and export subcommands, run as a user would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "imaging/draw.h"
#include "support/damaged_pictures.h"
#include "support/loaded_picture.h"
#include "support/run_tool.h"
#include "support/scoped_variable.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

// A 400 x 300 picture, left half black, right half white, written through our BMP writer.
std::filesystem::path MakeBmp(const ScopedTempDir& dir) {
    oDIB dib;
    EXPECT_TRUE(dib.Create(400, 300, 24));
    FillRect(dib, {200, 0, 400, 300}, kWhite);
    std::filesystem::path path = dir / "half.bmp";
    EXPECT_EQ(WritePicture(path.string(), "BMP", &dib, nullptr), 0);
    return path;
}

// The raw cache record (three little-endian words, then 8-bit grey) and the PNG both have
// the covered size.
TEST(ThumbCommandTest, RawRecordAndPngHaveTheCoveredSize) {
    ScopedTempDir dir;
    ToolResult result = RunTool({"thumb", MakeBmp(dir).string(), "--raw"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    ASSERT_EQ(result.out.size(), 12u + 16384u);
    EXPECT_EQ(result.out.substr(0, 12), std::string("\0\0\0\0\x80\0\0\0\x60\0\0\0", 12));
    const std::string pixels = result.out.substr(12);
    EXPECT_EQ(uint8_t(pixels[0]), 20);           // black, top-left
    EXPECT_EQ(uint8_t(pixels[127]), 235);        // white, right half
    EXPECT_EQ(uint8_t(pixels[100 * 128]), 235);  // below the covered part: white
    std::filesystem::path out = dir / "thumb.png";
    result = RunTool({"thumb", MakeBmp(dir).string(), "-o", out.string()});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    Loaded png = Load(out);
    ASSERT_EQ(png.result, 0);
    EXPECT_EQ(png.dib.Size(), (vSIZE{128, 96}));
    EXPECT_EQ(png.dib.PixelColour(0, 0), kBlack);
}

// The vector stack (cairo, librsvg and the libraries they bring) and libtiff are loaded only
// for a picture that needs them; the dynamic loader's trace names every object it maps.
TEST(ThumbCommandTest, LoadsTheVectorLibrariesOnlyForVectorPictures) {
    ScopedTempDir dir;
    std::filesystem::path svg = dir / "square.svg";
    WriteFileBytes(svg,
                   "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='30'>"
                   "<rect width='40' height='30' fill='teal'/></svg>");
    ScopedVariable trace("LD_DEBUG", "files");
    ToolResult bitmap = RunTool({"thumb", MakeBmp(dir).string(), "--raw"});
    ToolResult vector = RunTool({"thumb", svg.string(), "--raw"});
    ASSERT_EQ(bitmap.exit_status, 0);
    ASSERT_EQ(vector.exit_status, 0);
    for (const char* library : {"libcairo.so", "librsvg-2.so", "libglib-2.0.so"}) {
        EXPECT_EQ(bitmap.err.find(library), std::string::npos) << library;
        EXPECT_NE(vector.err.find(library), std::string::npos) << library;
    }
    EXPECT_EQ(bitmap.err.find("libtiff.so"), std::string::npos);
}

// Another format is converted at full size; the same format again is a byte-for-byte copy.
TEST(ExportCommandTest, ConvertsAtFullSizeCopiesTheSameFormatAndRefusesBadInput) {
    ScopedTempDir dir;
    std::filesystem::path source = MakeBmp(dir);
    std::filesystem::path tif = dir / "a.TIF";
    ASSERT_EQ(RunTool({"export", source.string(), tif.string(), "--format", "TIF"}).exit_status, 0);
    std::filesystem::path copy = dir / "b.TIF";
    ASSERT_EQ(RunTool({"export", tif.string(), copy.string(), "--format", "TIF"}).exit_status, 0);
    EXPECT_EQ(ReadFileBytes(tif), ReadFileBytes(copy));
    for (const char* id : {"JPG", "PNG", "GIF", "WEBP"}) {
        std::filesystem::path out = dir / (std::string("out.") + id);
        ToolResult result = RunTool({"export", source.string(), out.string(), "--format", id});
        ASSERT_EQ(result.exit_status, 0) << id << result.err;
        Loaded loaded = Load(out);
        ASSERT_EQ(loaded.result, 0) << id;
        EXPECT_EQ(loaded.dib.Size(), (vSIZE{400, 300})) << id;
    }
    EXPECT_NE(RunTool({"export", (dir / "absent.bmp").string(), (dir / "x.PNG").string(),
                       "--format", "PNG"})
                  .exit_status,
              0);
    EXPECT_EQ(RunTool({"export", source.string(), (dir / "x.ABC").string(), "--format", "ABC"})
                  .exit_status,
              2);
    EXPECT_EQ(RunTool({"export", source.string(), (dir / "x.PNG").string(), "--format", "PNG",
                       "--size", "12by3"})
                  .exit_status,
              2);
}

TEST(ExportCommandTest, TheFormatNamesTheExtensionAndThePictureDecidesTheConversion) {
    ScopedTempDir dir;
    std::filesystem::path source = MakeBmp(dir);
    auto export_as = [&](const std::filesystem::path& from, const char* to, const char* id) {
        ToolResult result = RunTool({"export", from.string(), (dir / to).string(), "--format", id});
        EXPECT_EQ(result.exit_status, 0) << to << " " << result.err;
    };
    export_as(source, "out", "JPG");
    export_as(source, "out.png", "JPG");
    export_as(source, "x.wmf", "PNG");
    EXPECT_EQ(ReadFileBytes(dir / "out.JPG").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(ReadFileBytes(dir / "out.png.JPG").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(ReadFileBytes(dir / "x.wmf.PNG").substr(1, 3), "PNG");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.png"));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.wmf"));
    // Recognised by content: a bitmap without an extension, and an EPS picture's preview.
    std::filesystem::copy_file(source, dir / "photo");
    export_as(dir / "photo", "from-photo.PNG", "PNG");
    EXPECT_EQ(Load(dir / "from-photo.PNG", -1).dib.Size(), (vSIZE{400, 300}));
    WriteFileBytes(dir / "a.eps",
                   "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 8 2\n"
                   "%%BeginPreview: 8 2 1 2\n% FF\n% 80\n%%EndPreview\nshowpage\n");
    export_as(dir / "a.eps", "from-eps.PNG", "PNG");
    EXPECT_EQ(Load(dir / "from-eps.PNG", -1).dib.Size(), (vSIZE{8, 2}));
}

// A picture that cannot be read gives one error line that names the fault; the exit status
// stays 1.
TEST(ThumbCommandTest, TheErrorLineNamesTheFault) {
    ScopedTempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"broken.png", PngCutInIdat(), ": PNG: IDAT: unexpected end of data at byte "},
        {"broken.jpg", JpegCutInEntropyData(), ": JPG: Premature end of "},
        {"broken.tif", TiffWithStripBeyondTheEnd(), ": TIF: strip 0 starts at byte "},
        {"garbage.jpg", "\xFF\xD8\xFF garbage", ": JPG: "},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        WriteFileBytes(dir / c.name, c.bytes);
        ToolResult result = RunTool({"thumb", (dir / c.name).string(), "--raw"});
        EXPECT_EQ(result.exit_status, 1) << c.name;
        EXPECT_EQ(result.out, "") << c.name;
        std::string start = "scopa thumb: cannot read the picture " + (dir / c.name).string();
        EXPECT_EQ(result.err.rfind(start + c.reason, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

}  // namespace
}  // namespace scopa::test
