// Vector pictures and type-3 previews: SVG through librsvg, WMF played through cairo and
// written by us, EPS previews; and the export conversions between vector and bitmap forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "fixtures/metafile_writer.h"
#include "imaging/dib.h"
#include "imaging/draw.h"
#include "imaging/export.h"
#include "imaging/filter.h"
#include "imaging/palette.h"
#include "imaging/picture.h"
#include "imaging/wmf_format.h"
#include "support/loaded_picture.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

using test::ReadFileBytes;
using test::ScopedTempDir;
using test::WriteFileBytes;

using test::Loaded;

// Vector pictures load at the resolution the cache asks for.
Loaded Load(const std::filesystem::path& path) {
    return test::Load(path, kAutomaticResolution);
}

// Renders into a 256 x 256 white bitmap as the cache does.
oDIB Render(const Loaded& loaded, vSIZE& covered) {
    oDIB target;
    target.Create(256, 256, 24);
    covered = RenderPicture(target, loaded.kind, loaded.dib, loaded.metafile);
    return target;
}

constexpr const char* kTwoSquaresSvg =
    R"(<?xml version="1.0"?>
<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100">
  <rect width="100" height="100" fill="#ff0000"/>
  <rect x="100" width="100" height="100" fill="#0000ff"/>
</svg>)";

TEST(SvgTest, RendersFittedWithItsProportions) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "squares.svg", kTwoSquaresSvg);
    Loaded loaded = Load(dir / "squares.svg");
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.kind, kFilterTypeVector);
    EXPECT_EQ(loaded.metafile.m_cx, 2 * loaded.metafile.m_cy);
    vSIZE covered;
    oDIB target = Render(loaded, covered);
    EXPECT_EQ(covered, (vSIZE{256, 128}));
    EXPECT_EQ(target.PixelColour(20, 20), (Rgb{255, 0, 0}));
    EXPECT_EQ(target.PixelColour(200, 100), (Rgb{0, 0, 255}));
    EXPECT_EQ(target.PixelColour(20, 200), kWhite);
    EXPECT_TRUE(IsPictureOfKind((dir / "squares.svg").string(), "LAF", true));
}

TEST(SvgTest, ViewBoxOnlyAndBrokenFiles) {
    ScopedTempDir dir;
    WriteFileBytes(
        dir / "box.svg",
        R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 30 60"><rect width="30" height="60"/></svg>)");
    Loaded loaded = Load(dir / "box.svg");
    ASSERT_EQ(loaded.result, kLoadRead);
    vSIZE covered;
    Render(loaded, covered);
    EXPECT_EQ(covered, (vSIZE{128, 256}));
    WriteFileBytes(dir / "broken.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect");
    EXPECT_EQ(Load(dir / "broken.svg").result, kLoadFailed);
}

TEST(VectorRenderTest, ZeroLogicalWidthDrawsNothingButReportsItsFittedSize) {
    vMETAFILE picture;
    picture.LogicalExtents(5, 5, 0, 100);
    picture.PhysicalExtents(400, 100);
    oDIB target;
    ASSERT_TRUE(target.Create(256, 256, 24));
    EXPECT_EQ(RenderPicture(target, kFilterTypeVector, oDIB(), picture), (vSIZE{256, 64}));
    EXPECT_EQ(target.PixelColour(10, 10), kWhite);
}

// A non-placeable metafile: window 0,0 .. 100 x 50, a red brush, a null pen, a rectangle over
// the left half and a blue ellipse over the right half.
std::string PlayedMetafile() {
    fixtures::MetafileRecords records;
    records.Window(0, 0, 100, 50).Brush(0, fixtures::kWmfRed).Pen(5, 0, 0);
    records.Select(0).Select(1).Rectangle(0, 0, 50, 50);
    records.Brush(0, fixtures::kWmfBlue).Select(2).Ellipse(50, 0, 100, 50);
    return records.Build(3);
}

TEST(WmfTest, PlaysShapesWithBrushesAndPens) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "shapes.wmf", PlayedMetafile());
    Loaded loaded = Load(dir / "shapes.wmf");
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.kind, kFilterTypeVector);
    vSIZE covered;
    oDIB target = Render(loaded, covered);
    EXPECT_EQ(covered, (vSIZE{256, 128}));
    EXPECT_EQ(target.PixelColour(60, 60), (Rgb{255, 0, 0}));
    EXPECT_EQ(target.PixelColour(192, 64), (Rgb{0, 0, 255}));  // ellipse centre
    EXPECT_EQ(target.PixelColour(130, 3), kWhite);             // outside the ellipse
    // The writer keeps a read metafile as it was.
    std::string again = (dir / "again.wmf").string();
    ASSERT_EQ(WritePicture(again, "WMF", nullptr, &loaded.metafile), kFilterDone);
    EXPECT_EQ(ReadFileBytes(again), PlayedMetafile());
}

TEST(WmfTest, HostileRecordsAreSkippedOrRefused) {
    ScopedTempDir dir;
    std::string bytes = PlayedMetafile();
    // Select an object index far beyond the table, and a record claiming more than the file.
    std::string tail = bytes.substr(bytes.size() - 6);
    std::string hostile = bytes.substr(0, bytes.size() - 6);
    hostile += std::string("\x04\0\0\0\x2D\x01\xFF\x7F", 8);
    hostile += std::string("\xFF\xFF\0\0\x24\x03", 6);
    WriteFileBytes(dir / "hostile.wmf", hostile);
    Loaded loaded = Load(dir / "hostile.wmf");
    ASSERT_EQ(loaded.result, kLoadRead);
    vSIZE covered;
    Render(loaded, covered);
    WriteFileBytes(dir / "cut.wmf", bytes.substr(0, 10));
    EXPECT_EQ(Load(dir / "cut.wmf").result, kLoadFailed);
}

oDIB Quarters() {
    oDIB dib;
    dib.Create(40, 30, 24);
    FillRect(dib, {0, 0, 40, 30}, {0, 0, 255});
    FillRect(dib, {0, 0, 20, 15}, {255, 0, 0});
    dib.m_xPelsPerMeter = dib.m_yPelsPerMeter = 3780;
    return dib;
}

TEST(ExportTest, BitmapWrappedAsMetafileAndRenderedBack) {
    ScopedTempDir dir;
    std::string bmp = (dir / "quarters.bmp").string();
    oDIB dib = Quarters();
    ASSERT_EQ(WritePicture(bmp, "BMP", &dib, nullptr), kFilterDone);
    std::string wmf = (dir / "quarters.WMF").string();
    ASSERT_TRUE(ExportPicture(nullptr, wmf, "WMF", 0, 0, bmp, kAutomaticResolution));
    Loaded loaded = Load(wmf);
    ASSERT_EQ(loaded.result, kLoadRead);
    ASSERT_EQ(loaded.kind, kFilterTypeVector);
    EXPECT_EQ(loaded.metafile.m_cx * 3, loaded.metafile.m_cy * 4);
    vSIZE covered;
    oDIB target = Render(loaded, covered);
    EXPECT_EQ(covered, (vSIZE{256, 192}));
    EXPECT_EQ(target.PixelColour(30, 30), (Rgb{255, 0, 0}));
    EXPECT_EQ(target.PixelColour(200, 150), (Rgb{0, 0, 255}));

    // And back to a bitmap at a chosen size: a 4:3 picture at 800 x 600 stays 800 x 600.
    std::string png = (dir / "back.PNG").string();
    ASSERT_TRUE(ExportPicture(nullptr, png, "PNG", 800, 600, wmf, kAutomaticResolution));
    Loaded back = Load(png);
    ASSERT_EQ(back.result, kLoadRead);
    Loaded full;
    full.result = LoadPicture(nullptr, png, full.dib, full.metafile, full.kind, 0);
    EXPECT_EQ(full.dib.Size(), (vSIZE{800, 600}));
}

TEST(ExportTest, SquareVectorAtEightHundredBySixHundredGivesSixHundredSquare) {
    ScopedTempDir dir;
    std::string svg = (dir / "square.svg").string();
    WriteFileBytes(
        svg,
        R"(<svg xmlns="http://www.w3.org/2000/svg" width="50" height="50"><rect width="50" height="50" fill="lime"/></svg>)");
    std::string bmp = (dir / "square.BMP").string();
    ASSERT_TRUE(ExportPicture(nullptr, bmp, "BMP", 800, 600, svg, kAutomaticResolution));
    std::string bytes = ReadFileBytes(bmp);
    ASSERT_GE(bytes.size(), 54u);
    auto le32 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
               uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
    };
    EXPECT_EQ(le32(18), 600u);
    EXPECT_EQ(le32(22), 600u);
    EXPECT_EQ(uint8_t(bytes[28]), 24);  // any bitmap format but GIF gets 24 bits
    std::string gif = (dir / "square.GIF").string();
    ASSERT_TRUE(ExportPicture(nullptr, gif, "GIF", 640, 480, svg, kAutomaticResolution));
    Loaded loaded;
    loaded.result = LoadPicture(nullptr, gif, loaded.dib, loaded.metafile, loaded.kind, 0);
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.Size(), (vSIZE{480, 480}));
    // Green through the screen palette's cube stays pure green.
    EXPECT_EQ(loaded.dib.PixelColour(100, 100), (Rgb{0, 255, 0}));
}

TEST(ExportTest, SameExtensionCopiesAndFailuresAreFalse) {
    ScopedTempDir dir;
    std::string tif = (dir / "p.tif").string();
    oDIB dib = Quarters();
    ASSERT_EQ(WritePicture(tif, "TIF", &dib, nullptr), kFilterDone);
    std::string copy = (dir / "copy.TIF").string();
    ASSERT_TRUE(ExportPicture(nullptr, copy, "TIF", 0, 0, tif, kAutomaticResolution));
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(tif));
    EXPECT_FALSE(ExportPicture(nullptr, (dir / "x.PNG").string(), "PNG", 0, 0,
                               (dir / "absent.tif").string(), kAutomaticResolution));
    EXPECT_FALSE(
        ExportPicture(nullptr, (dir / "x.XYZ").string(), "XYZ", 0, 0, tif, kAutomaticResolution));
}

TEST(ExportTest, CopyRuleAndDestinationExtensions) {
    struct Case {
        const char* source;
        const char* id;
        bool copies;
    };
    for (const Case& c :
         {Case{"a.tif", "TIF", true}, Case{"/x/b.Tif", "TIF", true}, Case{"photo", "JPG", false},
          Case{"c.webp", "WEBP", true}, Case{"d.WebP", "WEBP", true},
          Case{"e.xwebp", "WEBP", false}, Case{"f.ebp", "WEBP", false}}) {
        EXPECT_EQ(KeepsItsFormat(c.source, c.id), c.copies) << c.source << " as " << c.id;
    }
    EXPECT_EQ(PathWithExtension("out", "JPG"), "out.JPG");
    EXPECT_EQ(PathWithExtension("out.jpg", "JPG"), "out.jpg");
    EXPECT_EQ(PathWithExtension("out.png", "JPG"), "out.png.JPG");
    EXPECT_EQ(PathWithExtension("x.jpeg", "JPG"), "x.jpeg.JPG");
    EXPECT_EQ(PathWithExtension("y.WebP", "WEBP"), "y.WebP");
}

TEST(ExportTest, WebpToWebpIsACopy) {
    ScopedTempDir dir;
    oDIB dib = Quarters();
    std::string webp = (dir / "q.webp").string();
    ASSERT_EQ(WritePicture(webp, "WEBP", &dib, nullptr), kFilterDone);
    std::string copy = (dir / "copy.webp").string();
    ASSERT_TRUE(ExportPicture(nullptr, copy, "WEBP", 0, 0, webp, kAutomaticResolution));
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(webp));
}

TEST(ExportTest, ResolutionIsCarriedThroughAndDefaultsToNinetySixDpi) {
    ScopedTempDir dir;
    oDIB dib = Quarters();
    dib.m_xPelsPerMeter = 11811;  // 300 dpi
    dib.m_yPelsPerMeter = 5906;   // 150 dpi
    std::string bmp = (dir / "q.bmp").string();
    ASSERT_EQ(WritePicture(bmp, "BMP", &dib, nullptr), kFilterDone);
    std::string jpg = (dir / "q.JPG").string(), png = (dir / "q.PNG").string();
    ASSERT_TRUE(ExportPicture(nullptr, jpg, "JPG", 0, 0, bmp, kAutomaticResolution));
    ASSERT_TRUE(ExportPicture(nullptr, png, "PNG", 0, 0, jpg, kAutomaticResolution));
    for (const std::string& path : {jpg, png}) {
        Loaded loaded = Load(path);
        ASSERT_EQ(loaded.result, kLoadRead) << path;
        EXPECT_EQ(loaded.dib.m_xPelsPerMeter, 11811) << path;
        EXPECT_EQ(loaded.dib.m_yPelsPerMeter, 5906) << path;
    }
    dib.m_xPelsPerMeter = dib.m_yPelsPerMeter = 0;
    ASSERT_EQ(WritePicture(jpg, "JPG", &dib, nullptr), kFilterDone);
    std::string bytes = ReadFileBytes(jpg);
    // JFIF APP0: units at offset 13, then the two densities high byte first.
    ASSERT_GT(bytes.size(), 18u);
    ASSERT_EQ(bytes.substr(6, 4), "JFIF");
    EXPECT_EQ(uint8_t(bytes[13]), 1) << "dots per inch";
    EXPECT_EQ(uint8_t(bytes[14]) << 8 | uint8_t(bytes[15]), 96);
    EXPECT_EQ(uint8_t(bytes[16]) << 8 | uint8_t(bytes[17]), 96);
    EXPECT_EQ(Load(jpg).dib.m_xPelsPerMeter, 3780);
}

// A smooth photograph-like gradient, exported to GIF, keeps its shading: the mean colour of
// each 8 x 8 block stays close to the original, which nearest-colour mapping cannot do.
TEST(ExportTest, GifExportDiffusesTheErrorOntoThePalette) {
    ScopedTempDir dir;
    oDIB gradient;
    ASSERT_TRUE(gradient.Create(256, 64, 24));
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 256; ++x) {
            gradient.SetRawPixel(x, y, uint32_t(x) << 16 | uint32_t(128 + y / 2) << 8 | (255 - x));
        }
    }
    std::string bmp = (dir / "g.bmp").string(), gif = (dir / "g.GIF").string();
    ASSERT_EQ(WritePicture(bmp, "BMP", &gradient, nullptr), kFilterDone);
    ASSERT_TRUE(ExportPicture(nullptr, gif, "GIF", 0, 0, bmp, kAutomaticResolution));
    Loaded loaded = Load(gif);
    ASSERT_EQ(loaded.result, kLoadRead);
    ASSERT_EQ(loaded.dib.Size(), gradient.Size());
    auto mean_block_error = [&](auto colour_at) {
        double total = 0;
        int blocks = 0;
        for (int32_t by = 0; by < 64; by += 8) {
            for (int32_t bx = 0; bx < 256; bx += 8, ++blocks) {
                int sum[3] = {0, 0, 0};
                for (int32_t y = by; y < by + 8; ++y) {
                    for (int32_t x = bx; x < bx + 8; ++x) {
                        Rgb got = colour_at(x, y), want = gradient.PixelColour(x, y);
                        sum[0] += got.red - want.red;
                        sum[1] += got.green - want.green;
                        sum[2] += got.blue - want.blue;
                    }
                }
                total += (std::abs(sum[0]) + std::abs(sum[1]) + std::abs(sum[2])) / 64.0 / 3.0;
            }
        }
        return total / blocks;
    };
    const auto& palette = ScreenPalette();
    double dithered =
        mean_block_error([&](int32_t x, int32_t y) { return loaded.dib.PixelColour(x, y); });
    double nearest = mean_block_error([&](int32_t x, int32_t y) {
        const RgbQuad& entry = palette[NearestCubeIndex(gradient.PixelColour(x, y))];
        return Rgb{entry.red, entry.green, entry.blue};
    });
    EXPECT_LT(dithered, 2.0);
    EXPECT_GT(nearest, 3 * dithered) << "the gradient must be one that bands";
}

// The record functions of a metafile file, in order.
std::vector<uint16_t> RecordFunctions(const std::string& bytes) {
    std::span<const uint8_t> file(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    wmf::WmfLayout layout;
    std::vector<uint16_t> functions;
    if (!wmf::ParseLayout(file, layout)) return functions;
    wmf::ForEachRecord(file, layout.records_offset, [&](const wmf::Record& record) {
        functions.push_back(record.function);
        return true;
    });
    return functions;
}

TEST(ExportTest, VectorPicturesStayVectorInMetafiles) {
    ScopedTempDir dir;
    // A 16-pixel icon: a framed square, a round dot and a curved round-capped line.
    std::string icon =
        R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">)"
        R"(<rect x="1" y="1" width="14" height="14" fill="#3465a4" stroke="#204a87"/>)"
        R"(<circle cx="8" cy="8" r="4" fill="white"/>)"
        R"(<path d="M2 14 C 5 10, 10 10, 14 2" fill="none" stroke="red" stroke-width="1.5")"
        R"( stroke-linecap="round"/></svg>)";
    WriteFileBytes(dir / "icon.svg", icon);
    std::string wmf = (dir / "icon.WMF").string();
    ASSERT_TRUE(ExportPicture(nullptr, wmf, "WMF", 0, 0, (dir / "icon.svg").string(),
                              kAutomaticResolution));
    std::vector<uint16_t> functions = RecordFunctions(ReadFileBytes(wmf));
    auto count = [&](uint16_t function) {
        return std::count(functions.begin(), functions.end(), function);
    };
    EXPECT_EQ(count(wmf::kStretchDib), 0) << "no bitmap inside";
    EXPECT_EQ(count(wmf::kPolyPolygon), 2) << "the square and the dot";
    EXPECT_EQ(count(wmf::kPolygon) + count(wmf::kPolyline), 2) << "the frame and the line";

    // Drawn at thumbnail size, it looks as the picture does (only edges may differ).
    Loaded source = Load(dir / "icon.svg"), written = Load(wmf);
    ASSERT_EQ(written.result, kLoadRead);
    ASSERT_EQ(written.kind, kFilterTypeVector);
    EXPECT_EQ(written.metafile.m_cx, source.metafile.m_cx);
    vSIZE covered_source, covered_written;
    oDIB a = Render(source, covered_source), b = Render(written, covered_written);
    EXPECT_EQ(covered_written, covered_source);
    double difference = 0;
    for (int32_t y = 0; y < 256; ++y) {
        for (int32_t x = 0; x < 256; ++x) {
            Rgb p = a.PixelColour(x, y), q = b.PixelColour(x, y);
            difference +=
                std::abs(p.red - q.red) + std::abs(p.green - q.green) + std::abs(p.blue - q.blue);
        }
    }
    EXPECT_LT(difference / (256.0 * 256.0 * 3.0), 4.0);
    EXPECT_EQ(b.PixelColour(128, 128), kWhite);
    EXPECT_EQ(b.PixelColour(200, 200), (Rgb{0x34, 0x65, 0xA4}));

    // Partly transparent colours cannot be said in records: such a picture is a bitmap.
    std::string faded = icon;
    faded.replace(faded.find("fill=\"white\""), 12, "fill=\"white\" fill-opacity=\"0.5\"");
    WriteFileBytes(dir / "faded.svg", faded);
    std::string faded_wmf = (dir / "faded.WMF").string();
    ASSERT_TRUE(ExportPicture(nullptr, faded_wmf, "WMF", 0, 0, (dir / "faded.svg").string(),
                              kAutomaticResolution));
    functions = RecordFunctions(ReadFileBytes(faded_wmf));
    EXPECT_EQ(count(wmf::kStretchDib), 1);
}

TEST(EpsTest, EpsiAndBinaryTiffPreviews) {
    ScopedTempDir dir;
    // 8 x 2, 1 bit: the top row all black (FF), the bottom row white except its first pixel.
    WriteFileBytes(dir / "a.eps",
                   "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 8 2\n"
                   "%%BeginPreview: 8 2 1 2\n% FF\n% 80\n%%EndPreview\nshowpage\n");
    Loaded loaded = Load(dir / "a.eps");
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.kind, kFilterTypeEps);
    EXPECT_EQ(loaded.dib.PixelColour(3, 0), kBlack);
    EXPECT_EQ(loaded.dib.PixelColour(0, 1), kBlack);
    EXPECT_EQ(loaded.dib.PixelColour(3, 1), kWhite);

    // Binary header with a TIFF preview written by our own TIFF writer.
    std::string tif = (dir / "preview.tif").string();
    oDIB dib = Quarters();
    ASSERT_EQ(WritePicture(tif, "TIF", &dib, nullptr), kFilterDone);
    std::string preview = ReadFileBytes(tif);
    std::string postscript = "%!PS-Adobe-3.0 EPSF-3.0\nshowpage\n";
    auto le32 = [](uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    std::string binary = std::string("\xC5\xD0\xD3\xC6", 4) + le32(30) +
                         le32(uint32_t(postscript.size())) + le32(0) + le32(0) +
                         le32(uint32_t(30 + postscript.size())) + le32(uint32_t(preview.size())) +
                         std::string("\xFF\xFF", 2) + postscript + preview;
    WriteFileBytes(dir / "b.eps", binary);
    loaded = Load(dir / "b.eps");
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.Size(), (vSIZE{40, 30}));
    EXPECT_EQ(loaded.dib.PixelColour(5, 5), (Rgb{255, 0, 0}));
    // A preview section that points past the end fails.
    WriteFileBytes(dir / "c.eps", binary.substr(0, 60));
    EXPECT_EQ(Load(dir / "c.eps").result, kLoadFailed);
}

}  // namespace
}  // namespace scopa
