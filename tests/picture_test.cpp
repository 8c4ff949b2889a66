// Picture loading through the filters: pictures written by an independent tool in every
// format and layout, round trips through our own writers, resolutions, progress and
// interruption, truncated and hostile files, and rendering for the cache, on one thread and
// on several at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/claiming_tiff.h"
#include "imaging/dib.h"
#include "imaging/draw.h"
#include "imaging/export.h"
#include "imaging/filter.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "support/loaded_picture.h"
#include "support/magick.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

using test::HaveImageMagick;
using test::Load;
using test::Loaded;
using test::MagickConvert;
using test::ReadFileBytes;
using test::ScopedTempDir;
using test::WriteFileBytes;

int Distance(Rgb a, Rgb b) {
    return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
}

// A 64 x 48 picture: red left half, blue right half, with a green top-left 8 x 8 corner so
// orientation mistakes show.
constexpr const char* kTestPicture =
    "-size 32x48 xc:red -size 32x48 xc:blue +append -fill lime -draw 'rectangle 0,0 7,7'";

void ExpectTestPicture(const oDIB& dib, int tolerance, const std::string& what) {
    ASSERT_EQ(dib.Width(), 64) << what;
    ASSERT_EQ(dib.Height(), 48) << what;
    EXPECT_LE(Distance(dib.PixelColour(2, 2), {0, 255, 0}), tolerance) << what;
    EXPECT_LE(Distance(dib.PixelColour(16, 30), {255, 0, 0}), tolerance) << what;
    EXPECT_LE(Distance(dib.PixelColour(50, 30), {0, 0, 255}), tolerance) << what;
}

class PictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    }
    std::filesystem::path Make(const std::string& name, const std::string& options = "") {
        std::filesystem::path path = m_dir / name;
        EXPECT_TRUE(
            MagickConvert(std::string(kTestPicture) + " " + options + " '" + path.string() + "'"))
            << name;
        return path;
    }
    ScopedTempDir m_dir;
};

struct Variant {
    const char* file;     // the format is the extension, or a prefix "bmp3:" etc. below
    const char* options;  // extra convert options
    int tolerance;
};

TEST_F(PictureTest, ReadsEveryFormatWrittenByAnIndependentTool) {
    const Variant variants[] = {
        {"plain.png", "", 0},
        {"sixteen.png", "-depth 16", 0},
        {"palette.png", "-type Palette", 0},
        {"interlaced.png", "-interlace PNG", 0},
        {"alpha.png", "-alpha set -channel A -evaluate set 100% +channel", 0},
        {"baseline.jpg", "-quality 95", 60},
        {"progressive.jpg", "-quality 95 -interlace Plane", 60},
        {"cmyk.jpg", "-quality 95 -colorspace CMYK", 90},
        {"plain.gif", "", 0},
        {"interlaced.gif", "-interlace GIF", 0},
        {"plain.bmp", "", 0},
        {"indexed.bmp", "-type Palette", 0},
        {"plain.tif", "", 0},
        {"lzw.tif", "-compress LZW", 0},
        {"tiled.tif", "-define tiff:tile-geometry=16x16", 0},
        {"lossless.webp", "-define webp:lossless=true", 0},
        {"lossy.webp", "-quality 90", 60},
        {"plain.pcx", "", 0},
        {"palette.pcx", "-type Palette", 0},
        // This ImageMagick writes TGA rows top-down whatever the origin flag says, so ask for
        // the top-left origin to get files that are right; bottom-up files are hand-made below.
        {"plain.tga", "-orient TopLeft", 0},
        {"rle.tga", "-orient TopLeft -compress RLE", 0},
        {"palette.tga", "-orient TopLeft -type Palette", 0},
        {"raw.ppm", "", 0},
        {"plain.ppm", "-compress none", 0},
        {"icon.ico", "", 0},
    };
    for (const Variant& variant : variants) {
        std::filesystem::path path = Make(variant.file, variant.options);
        Loaded loaded = Load(path);
        ASSERT_EQ(loaded.result, kLoadRead) << variant.file;
        EXPECT_EQ(loaded.kind, kFilterTypeBitmap);
        ExpectTestPicture(loaded.dib, variant.tolerance, variant.file);
    }
}

TEST_F(PictureTest, AnimatedWebpShowsItsFirstFrameComposedOnWhite) {
    std::filesystem::path path = m_dir / "animated.webp";
    // Two frames: the test picture, then black; a lossless file keeps the colours exact.
    ASSERT_TRUE(MagickConvert(std::string("-delay 10 ") + kTestPicture +
                              " +repage -size 64x48 xc:black -define webp:lossless=true '" +
                              path.string() + "'"));
    Loaded loaded = Load(path);
    ASSERT_EQ(loaded.result, kLoadRead);
    ExpectTestPicture(loaded.dib, 0, "first frame");

    // A first frame smaller than the canvas, placed inside it; the rest of the canvas is
    // transparent and shows white.
    std::filesystem::path placed = m_dir / "placed.webp";
    ASSERT_TRUE(
        MagickConvert("-delay 10 -dispose none -page 64x48+16+8 -size 16x16 xc:red "
                      "-page 64x48+0+0 -size 64x48 xc:blue -define webp:lossless=true '" +
                      placed.string() + "'"));
    loaded = Load(placed);
    ASSERT_EQ(loaded.result, kLoadRead);
    ASSERT_EQ(loaded.dib.Width(), 64);
    ASSERT_EQ(loaded.dib.Height(), 48);
    EXPECT_EQ(loaded.dib.PixelColour(20, 12), (Rgb{255, 0, 0}));
    EXPECT_EQ(loaded.dib.PixelColour(2, 2), (Rgb{255, 255, 255}));
    EXPECT_EQ(loaded.dib.PixelColour(40, 30), (Rgb{255, 255, 255}));
}

TEST(AnimatedWebpTest, AHugeDeclaredCanvasIsRefusedBeforeAnythingIsAllocated) {
    // A fuzzer's file: a canvas of 5,132,296 x 78 pixels declared by 200 bytes.
    std::filesystem::path seed =
        std::filesystem::path(SCOPA_SOURCE_DIR) / "fuzz/corpus/webp/animated-huge-canvas.webp";
    ASSERT_TRUE(std::filesystem::exists(seed));
    Loaded loaded = Load(seed);
    EXPECT_EQ(loaded.result, kLoadFailed);
}

TEST_F(PictureTest, LargeAnimatedWebpIsReducedForThumbnails) {
    std::filesystem::path path = m_dir / "large.webp";
    ASSERT_TRUE(
        MagickConvert("-delay 10 -size 1024x512 xc:orange -size 1024x512 xc:navy "
                      "-define webp:lossless=true '" +
                      path.string() + "'"));
    Loaded loaded = Load(path, kAutomaticResolution);
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.Width(), 256);
    EXPECT_EQ(loaded.dib.Height(), 128);
    EXPECT_EQ(loaded.dib.PixelColour(100, 60), (Rgb{255, 165, 0}));
}

TEST_F(PictureTest, ReadsOldBmpLayoutsAndRunLengths) {
    std::filesystem::path rle = m_dir / "rle.bmp";
    ASSERT_TRUE(MagickConvert(std::string(kTestPicture) +
                              " -type Palette -compress RLE 'bmp3:" + rle.string() + "'"));
    Loaded loaded = Load(rle);
    ASSERT_EQ(loaded.result, kLoadRead);
    ExpectTestPicture(loaded.dib, 0, "rle");
    std::filesystem::path old = m_dir / "old.bmp";
    ASSERT_TRUE(MagickConvert(std::string(kTestPicture) + " 'bmp2:" + old.string() + "'"));
    loaded = Load(old);
    ASSERT_EQ(loaded.result, kLoadRead);
    ExpectTestPicture(loaded.dib, 0, "bmp2");
}

TEST_F(PictureTest, ReadsGreyAndBitmapForms) {
    const Variant variants[] = {
        {"raw.pgm", "", 0},
        {"plain.pgm", "-compress none", 0},
        {"deep.pgm", "-depth 16", 0},
        {"raw.pbm", "", 0},
        {"plain.pbm", "-compress none", 0},
        {"mono.pcx", "-monochrome", 0},
        {"grey.tga", "-orient TopLeft -colorspace Gray", 0},
    };
    for (const Variant& variant : variants) {
        std::filesystem::path path = m_dir / variant.file;
        ASSERT_TRUE(MagickConvert("-size 20x10 xc:white -fill black -draw 'rectangle 0,0 9,9' " +
                                  std::string(variant.options) + " '" + path.string() + "'"));
        Loaded loaded = Load(path);
        ASSERT_EQ(loaded.result, kLoadRead) << variant.file;
        ASSERT_EQ(loaded.dib.Size(), (vSIZE{20, 10})) << variant.file;
        EXPECT_EQ(loaded.dib.PixelColour(2, 2), kBlack) << variant.file;
        EXPECT_EQ(loaded.dib.PixelColour(15, 5), kWhite) << variant.file;
    }
}

TEST(HandMadePictureTest, BottomUpRunLengthTga) {
    ScopedTempDir dir;
    // 2 x 2, type 10 (run-length true colour), 24 bits, origin bottom-left: the first stored
    // row is the bottom one. Bottom: a run of two blue pixels; top: literal red, green.
    std::string tga = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};
    tga += std::string("\x81\xFF\x00\x00", 4);
    tga += std::string("\x01\x00\x00\xFF\x00\xFF\x00", 7);
    WriteFileBytes(dir / "hand.tga", tga);
    Loaded loaded = Load(dir / "hand.tga");
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.PixelColour(0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(loaded.dib.PixelColour(1, 0), (Rgb{0, 255, 0}));
    EXPECT_EQ(loaded.dib.PixelColour(0, 1), (Rgb{0, 0, 255}));
    EXPECT_EQ(loaded.dib.PixelColour(1, 1), (Rgb{0, 0, 255}));
    // A run that reaches past the data fails.
    WriteFileBytes(dir / "short.tga", tga.substr(0, tga.size() - 2));
    EXPECT_EQ(Load(dir / "short.tga").result, kLoadFailed);
}

TEST(HandMadePictureTest, PlainPortableMapsWithComments) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "a.pgm", "P2\n# a comment\n2 1 # width height\n100\n0 100\n");
    Loaded loaded = Load(dir / "a.pgm");
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.PixelColour(0, 0), kBlack);
    EXPECT_EQ(loaded.dib.PixelColour(1, 0), kWhite);
    WriteFileBytes(dir / "b.pbm", "P1 3 1 101");  // unseparated bitmap digits
    loaded = Load(dir / "b.pbm");
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.PixelColour(1, 0), kWhite);
    for (const char* bad : {"P6 2 1 255\nabc", "P2 2 1 0\n0 0", "P5 0 1 255\n", "P3 1 1 255 1 2",
                            "P5 99999999999 1 255\n"}) {
        WriteFileBytes(dir / "bad.ppm", bad);
        EXPECT_EQ(Load(dir / "bad.ppm").result, kLoadFailed) << bad;
    }
}

TEST_F(PictureTest, IconsShowTheirLargestImageOnWhite) {
    std::filesystem::path path = m_dir / "multi.ico";
    ASSERT_TRUE(
        MagickConvert("-size 16x16 xc:red -size 48x48 xc:blue \\( -size 32x32 xc:none "
                      "-fill lime -draw 'rectangle 0,0 9,9' \\) -delete 1 '" +
                      path.string() + "'"));
    Loaded loaded = Load(path);
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.Size(), (vSIZE{32, 32}));
    EXPECT_EQ(loaded.dib.PixelColour(2, 2), (Rgb{0, 255, 0}));
    EXPECT_EQ(loaded.dib.PixelColour(20, 20), kWhite);  // transparent
}

TEST_F(PictureTest, TransparentGifPixelsAreWhite) {
    std::filesystem::path path = m_dir / "transparent.gif";
    ASSERT_TRUE(MagickConvert("-size 4x4 xc:red -fill none -draw 'point 1,1' -transparent red '" +
                              path.string() + "'"));
    Loaded loaded = Load(path);
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.PixelColour(0, 0), kWhite);
}

// An APP1 segment holding only an EXIF orientation (little-endian TIFF structure).
std::string ExifOrientationSegment(uint8_t orientation) {
    std::string tiff = std::string("II*\0\x08\0\0\0", 8);
    tiff += std::string("\x01\0", 2);                    // one entry
    tiff += std::string("\x12\x01\x03\0\x01\0\0\0", 8);  // 0x0112, SHORT, 1
    tiff += std::string(1, char(orientation)) + std::string(3, '\0');
    tiff += std::string(4, '\0');  // no next directory
    std::string body = std::string("Exif\0\0", 6) + tiff;
    size_t length = body.size() + 2;
    return std::string("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + body;
}

TEST_F(PictureTest, OrientationTurnsPhotosUpright) {
    // Stored turned a quarter left, with orientation 6 ("turn right to view").
    std::filesystem::path jpeg = m_dir / "rotated.jpg";
    ASSERT_TRUE(MagickConvert(std::string(kTestPicture) + " -rotate -90 -quality 95 '" +
                              jpeg.string() + "'"));
    std::string bytes = ReadFileBytes(jpeg);
    WriteFileBytes(jpeg, bytes.substr(0, 2) + ExifOrientationSegment(6) + bytes.substr(2));
    std::filesystem::path tiff = m_dir / "rotated.tif";
    ASSERT_TRUE(MagickConvert(std::string(kTestPicture) + " -rotate -90 -orient RightTop '" +
                              tiff.string() + "'"));
    for (const auto& path : {jpeg, tiff}) {
        oFILTER* filter = nullptr;
        Loaded loaded = Load(path);
        ASSERT_EQ(loaded.result, kLoadRead) << path;
        ExpectTestPicture(loaded.dib, 60, path.filename().string());
        // Resolutions are reported upright as well.
        vFILE file(path.string(), vFILE::kModeRead);
        ASSERT_NE(oFILTERLIST::GetFilter(file, filter), kFilterTypeNone);
        ASSERT_GE(filter->GetResolutionCount(path.string()), 1);
        EXPECT_EQ(filter->GetResolution(0), (vSIZE{64, 48}));
    }
}

TEST_F(PictureTest, RoundTripsThroughOurWriters) {
    Loaded source = Load(Make("source.png"));
    ASSERT_EQ(source.result, kLoadRead);
    for (const char* id : {"BMP", "JPG", "PNG", "GIF", "TIF", "WEBP"}) {
        std::filesystem::path path = m_dir / (std::string("out.") + id);
        ASSERT_EQ(WritePicture(path.string(), id, &source.dib, nullptr), kFilterDone) << id;
        // The independent tool reads what we wrote ...
        EXPECT_EQ(test::MagickIdentify("%w %h", path.string()), "64 48") << id;
        // ... and so do we.
        Loaded again = Load(path);
        ASSERT_EQ(again.result, kLoadRead) << id;
        int tolerance = std::string(id) == "JPG" || std::string(id) == "WEBP" ? 60 : 0;
        ExpectTestPicture(again.dib, tolerance, id);
    }
}

TEST(WritePictureTest, GifOfAnyDepthUsesTheScreenPalette) {
    ScopedTempDir dir;
    oDIB dib;
    ASSERT_TRUE(dib.Create(3, 1, 24));
    FillRect(dib, {0, 0, 3, 1}, {250, 250, 250});
    std::string path = (dir / "p.gif").string();
    ASSERT_EQ(WritePicture(path, "GIF", &dib, nullptr), kFilterDone);
    Loaded loaded = Load(path);
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(loaded.dib.PixelColour(1, 0), kWhite);  // nearest cube colour
}

TEST(WritePictureTest, UnknownIdentifierOrUncreatableFileGivesSix) {
    ScopedTempDir dir;
    oDIB dib;
    ASSERT_TRUE(dib.Create(2, 2, 24));
    EXPECT_EQ(WritePicture((dir / "x.abc").string(), "ABC", &dib, nullptr), kFilterCannotCreate);
    EXPECT_EQ(WritePicture((dir / "no" / "such" / "x.png").string(), "PNG", &dib, nullptr),
              kFilterCannotCreate);
    EXPECT_EQ(WritePicture((dir / "x.jpeg").string(), "JPEG", &dib, nullptr),
              kFilterCannotCreate);  // a reading alias does not write
    EXPECT_FALSE(std::filesystem::exists(dir / "x.abc"));
    // A failed write leaves an existing file as it was.
    WriteFileBytes(dir / "keep.png", "old");
    oDIB empty;
    EXPECT_NE(WritePicture((dir / "keep.png").string(), "PNG", &empty, nullptr), kFilterDone);
    EXPECT_EQ(ReadFileBytes(dir / "keep.png"), "old");
}

TEST_F(PictureTest, JpegOffersDctScalesAndTheAutomaticChoiceTakesTheSmallest) {
    std::filesystem::path path = m_dir / "big.jpg";
    ASSERT_TRUE(MagickConvert("-size 2000x1000 gradient:red-blue '" + path.string() + "'"));
    oFILTER* filter = oFILTERLIST::FindByID("JPG");
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(filter->GetResolutionCount(path.string()), 3);
    EXPECT_EQ(filter->GetResolution(0), (vSIZE{2000, 1000}));
    EXPECT_EQ(filter->GetResolution(1), (vSIZE{1000, 500}));
    EXPECT_EQ(filter->GetResolution(2), (vSIZE{500, 250}));
    Loaded automatic = Load(path, kAutomaticResolution);
    ASSERT_EQ(automatic.result, kLoadRead);
    EXPECT_EQ(automatic.dib.Size(), (vSIZE{500, 250}));
    // The next load without a choice is full size again.
    EXPECT_EQ(Load(path, 0).dib.Size(), (vSIZE{2000, 1000}));
}

TEST_F(PictureTest, RowFormatsReduceWhileReading) {
    for (const char* name : {"big.png", "big.bmp", "big.tif", "big.gif", "big.webp"}) {
        std::filesystem::path path = m_dir / name;
        ASSERT_TRUE(MagickConvert("-size 1100x700 xc:'rgb(40,80,120)' '" + path.string() + "'"));
        Loaded automatic = Load(path, kAutomaticResolution);
        ASSERT_EQ(automatic.result, kLoadRead) << name;
        // 1100 / 4 = 275 is the last factor that keeps 256 pixels on the longer side.
        EXPECT_EQ(automatic.dib.Size(), (vSIZE{275, 175})) << name;
        EXPECT_LE(Distance(automatic.dib.PixelColour(100, 100), {40, 80, 120}), 3) << name;
        // A fixed index (the preview window's) is no choice among resolutions of its own.
        EXPECT_EQ(Load(path, 2).dib.Size(), (vSIZE{1100, 700})) << name;
    }
}

TEST(ResolutionChoiceTest, TakesTheSmallestAboveThumbnailSize) {
    std::vector<vSIZE> sizes = {{64, 96}, {192, 128}, {768, 512}};
    EXPECT_EQ(ChooseAutomaticResolution(sizes), 1);
    std::vector<vSIZE> small = {{64, 96}, {128, 128}};
    EXPECT_EQ(ChooseAutomaticResolution(small), -1);
    std::vector<vSIZE> descending = {{1024, 768}, {512, 384}, {256, 192}, {128, 96}};
    EXPECT_EQ(ChooseAutomaticResolution(descending), 2);
}

TEST(FitToBoxTest, FitsIntoTheTopLeftCorner) {
    EXPECT_EQ(FitToBox(400, 100, 256, 256), (Rect{0, 0, 256, 64}));
    EXPECT_EQ(FitToBox(100, 400, 256, 256), (Rect{0, 0, 64, 256}));
    EXPECT_EQ(FitToBox(4, 3, 256, 256), (Rect{0, 0, 256, 192}));
    EXPECT_EQ(FitToBox(256, 256, 256, 256), (Rect{0, 0, 256, 256}));
    EXPECT_EQ(FitToBox(3, 1000, 256, 256), (Rect{0, 0, 1, 256}));  // MulDiv rounds 0.77 up
}

class RecordingObserver : public PictureLoadObserver {
public:
    void OnLoadStart() override { ++starts; }
    void OnLoadProgress(uint32_t percent) override { progress.push_back(percent); }
    void OnLoadEnd() override { ++ends; }
    bool IsInterruptionPending() override { return interrupt; }
    int starts = 0, ends = 0;
    std::vector<uint32_t> progress;
    bool interrupt = false;
};

uint32_t g_fakeTickMs = 0;
uint32_t FakeTick() {
    return g_fakeTickMs += 100;
}  // every query advances 100 ms

TEST_F(PictureTest, ProgressIsThrottledAndInterruptionGivesOneThenRetrySucceeds) {
    std::filesystem::path path = m_dir / "rows.png";
    ASSERT_TRUE(MagickConvert("-size 64x400 gradient: '" + path.string() + "'"));
    SetTickSource(FakeTick);
    RecordingObserver observer;
    Loaded loaded = Load(path, 0, &observer);
    SetTickSource(nullptr);
    ASSERT_EQ(loaded.result, kLoadRead);
    EXPECT_EQ(observer.starts, 1);
    EXPECT_EQ(observer.ends, 1);
    // 400 rows at 100 ms each: one report per 300 ms (more than 250 ms past the last).
    EXPECT_NEAR(double(observer.progress.size()), 400.0 / 3, 2.0);
    EXPECT_TRUE(std::is_sorted(observer.progress.begin(), observer.progress.end()));
    EXPECT_LE(observer.progress.back(), 100u);

    RecordingObserver interrupting;
    interrupting.interrupt = true;
    EXPECT_EQ(Load(path, 0, &interrupting).result, kLoadInterrupted);
    interrupting.interrupt = false;
    EXPECT_EQ(Load(path, 0, &interrupting).result, kLoadRead);
}

TEST_F(PictureTest, TruncatedAndCorruptFilesFailCleanly) {
    for (const char* name : {"t.png", "t.jpg", "t.gif", "t.bmp", "t.tif", "t.webp"}) {
        std::filesystem::path path = Make(name, "-quality 90");
        std::string bytes = ReadFileBytes(path);
        for (size_t keep : {bytes.size() / 2, size_t(20), size_t(3)}) {
            WriteFileBytes(path, bytes.substr(0, keep));
            EXPECT_EQ(Load(path).result, kLoadFailed) << name << " cut to " << keep;
        }
        // Same start, garbage after the header.
        std::string scrambled = bytes;
        for (size_t i = 64; i < scrambled.size(); ++i)
            scrambled[i] = char(i * 7919);
        WriteFileBytes(path, scrambled);
        Loaded loaded = Load(path);
        EXPECT_TRUE(loaded.result == kLoadFailed || loaded.result == kLoadRead) << name;
    }
}

TEST(LoadPictureTest, RefusesHugeDeclaredSizesAtFullResolution) {
    ScopedTempDir dir;
    // A BMP header declaring 65536 x 65536 pixels (2^32) and no data.
    std::string bmp = "BM";
    bmp += std::string(12, '\0');
    bmp[10] = 54;
    std::string info(40, '\0');
    info[0] = 40;
    info[6] = 1;   // width 65536
    info[10] = 1;  // height 65536
    info[12] = 1;  // planes
    info[14] = 24;
    WriteFileBytes(dir / "huge.bmp", bmp + info);
    EXPECT_EQ(Load(dir / "huge.bmp", 0).result, kLoadFailed);
    EXPECT_EQ(Load(dir / "huge.bmp", kAutomaticResolution).result, kLoadFailed);
}

TEST(LoadPictureTest, StripsThatCannotHoldTheDeclaredPictureFail) {
    ScopedTempDir dir;
    // 3327 x 65526 pixels claimed by a 227-byte file: one LZW strip of 117 bytes.
    WriteFileBytes(dir / "claiming.tif", fixtures::ClaimingLzwTiff(3327, 65526, 117));
    oDIB dib;
    vMETAFILE metafile;
    int kind = 0;
    for (int resolution : {kAutomaticResolution, 0}) {
        EXPECT_EQ(
            LoadPicture(nullptr, (dir / "claiming.tif").string(), dib, metafile, kind, resolution),
            kLoadFailed);
    }
    // The same layout whose strip can hold its pixels reads.
    WriteFileBytes(dir / "honest.tif", fixtures::ClaimingLzwTiff(64, 8, 117));
    ASSERT_EQ(LoadPicture(nullptr, (dir / "honest.tif").string(), dib, metafile, kind, 0),
              kLoadRead);
    EXPECT_EQ(dib.Size(), (vSIZE{64, 8}));
    EXPECT_EQ(dib.PixelColour(5, 5), kWhite) << "zero is white";
}

TEST(LoadPictureTest, MissingAndUnknownFilesFail) {
    ScopedTempDir dir;
    EXPECT_EQ(Load(dir / "absent.png").result, kLoadFailed);
    WriteFileBytes(dir / "text.png", "just some text");
    Loaded loaded = Load(dir / "text.png");
    EXPECT_EQ(loaded.result, kLoadFailed);
    EXPECT_EQ(loaded.kind, kFilterTypeNone);
    EXPECT_EQ(Load(dir.path()).result, kLoadFailed);  // a folder
}

TEST_F(PictureTest, KindsByExtensionAndByContent) {
    std::filesystem::path png = Make("p.png");
    std::filesystem::path disguised = m_dir / "picture.xyz";
    std::filesystem::copy_file(png, disguised);
    EXPECT_TRUE(IsPictureOfKind(disguised.string(), "PCF", true));
    EXPECT_FALSE(IsPictureOfKind(disguised.string(), "PCF", false));
    EXPECT_TRUE(IsPictureOfKind(png.string(), "BMF", false));
    EXPECT_FALSE(IsPictureOfKind(png.string(), "LAF", false));
    EXPECT_TRUE(IsPictureOfKind(png.string(), "PNG", true));
    EXPECT_FALSE(IsPictureOfKind(png.string(), "png", false));  // identifiers are exact
    EXPECT_TRUE(IsPictureOfKind("JPEG", "PCF", false));         // a bare extension
    EXPECT_TRUE(IsPictureOfKind("photo.Jpg", "JPG", false));
    EXPECT_EQ(std::string(LastMatchedFilter()->GetID()), "JPG");
    EXPECT_TRUE(IsPictureOfKind("other.JPG", "BMF", false));
    EXPECT_FALSE(IsPictureOfKind((m_dir / "absent.png").string(), "PCF", true));
}

// A progressive JPEG read at 1/8 decodes only the scans its reduced pixels need; those pixels
// must be the ones a sequential file with the same coefficients gives (jpegtran rewrites the
// scan layout losslessly). Chroma at full, half-width and quarter resolution, with and without
// restart markers.
TEST_F(PictureTest, ProgressiveJpegAtAnEighthMatchesTheSameCoefficientsStoredSequentially) {
    if (std::system("command -v jpegtran >/dev/null 2>&1") != 0) GTEST_SKIP() << "no jpegtran";
    const char* photo =
        "-size 2400x1600 gradient:orange-navy -fill white -draw 'circle 900,700 "
        "1100,1000' -fill teal -draw 'rectangle 100,100 700,300' -attenuate 0.4 "
        "+noise Uniform";
    for (const char* sampling : {"2x2", "2x1", "1x1"}) {
        for (const char* restart : {"", "-restart 1"}) {
            std::string what = std::string(sampling) + " " + restart;
            std::filesystem::path sequential = m_dir / "sequential.jpg";
            std::filesystem::path progressive = m_dir / "progressive.jpg";
            ASSERT_TRUE(MagickConvert(std::string(photo) + " -quality 85 -sampling-factor " +
                                      sampling + " '" + sequential.string() + "'"));
            std::string command = std::string("jpegtran -progressive ") + restart + " '" +
                                  sequential.string() + "' > '" + progressive.string() + "'";
            ASSERT_EQ(std::system(command.c_str()), 0) << what;
            Loaded expected = Load(sequential, kAutomaticResolution);
            Loaded reduced = Load(progressive, kAutomaticResolution);
            ASSERT_EQ(expected.result, kLoadRead) << what;
            ASSERT_EQ(reduced.result, kLoadRead) << what;
            ASSERT_EQ(reduced.dib.Width(), 300) << what;
            EXPECT_TRUE(std::ranges::equal(reduced.dib.Bits(), expected.dib.Bits())) << what;
        }
    }
    // Several scans without progression (one component each) are decoded as they are.
    std::filesystem::path scans = m_dir / "scans.txt", multi_scan = m_dir / "multi_scan.jpg";
    WriteFileBytes(scans, "0;\n1;\n2;\n");
    std::string command = "jpegtran -scans '" + scans.string() + "' '" +
                          (m_dir / "sequential.jpg").string() + "' > '" + multi_scan.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Loaded multi = Load(multi_scan, kAutomaticResolution);
    ASSERT_EQ(multi.result, kLoadRead);
    EXPECT_TRUE(std::ranges::equal(
        multi.dib.Bits(), Load(m_dir / "sequential.jpg", kAutomaticResolution).dib.Bits()));
    // Cut inside the scans that are skipped, the picture is still truncated.
    std::string bytes = ReadFileBytes(m_dir / "progressive.jpg");
    bytes.resize(bytes.size() * 2 / 3);
    WriteFileBytes(m_dir / "cut.jpg", bytes);
    EXPECT_EQ(Load(m_dir / "cut.jpg", kAutomaticResolution).result, kLoadFailed);
}

// An interlaced PNG read reduced stops after the pass whose pixels are as fine as the
// reduction: a smooth picture then comes out as the non-interlaced one, within a level or two.
TEST_F(PictureTest, InterlacedPngReadReducedMatchesThePlainOne) {
    const std::string gradient = "-size 2048x1536 radial-gradient:orange-navy ";
    std::filesystem::path plain = m_dir / "plain.png", interlaced = m_dir / "interlaced.png";
    ASSERT_TRUE(MagickConvert(gradient + "'" + plain.string() + "'"));
    ASSERT_TRUE(MagickConvert(gradient + "-interlace PNG '" + interlaced.string() + "'"));
    // Reduced reads are chosen on the filter: a caller's index names only resolutions of
    // the picture's own.
    auto read = [](const std::filesystem::path& path, int resolution) {
        oFILTER* filter = oFILTERLIST::FindByID("PNG");
        vFILE file(path.string(), vFILE::kModeRead);
        file.MoveFromStart(0);
        oDIB dib;
        filter->SetResolution(resolution);
        EXPECT_EQ(filter->Convert(file, dib), kFilterDone);
        return dib;
    };
    for (int resolution = 1; resolution <= 3; ++resolution) {
        oDIB expected = read(plain, resolution);
        oDIB reduced = read(interlaced, resolution);
        ASSERT_EQ(reduced.Width(), 2048 >> resolution) << resolution;
        ASSERT_EQ(reduced.Height(), expected.Height()) << resolution;
        int largest = 0;
        auto a = expected.Bits(), b = reduced.Bits();
        for (size_t i = 0; i < a.size(); ++i)
            largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
        EXPECT_LE(largest, 2) << resolution;
    }
}

TEST_F(PictureTest, CachePreviewCoversTheFittedSize) {
    std::filesystem::path path = m_dir / "photo.jpg";
    ASSERT_TRUE(MagickConvert("-size 1600x1200 xc:white '" + path.string() + "'"));
    std::vector<uint8_t> thumbnail(kThumbnailBytes, 0);
    vSIZE covered;
    ASSERT_EQ(RenderCachePreview(nullptr, path.string(), thumbnail.data(), covered), kLoadRead);
    EXPECT_EQ(covered, (vSIZE{128, 96}));
    EXPECT_TRUE(
        std::all_of(thumbnail.begin(), thumbnail.end(), [](uint8_t v) { return v == 235; }));
    EXPECT_EQ(RenderCachePreview(nullptr, (m_dir / "none.jpg").string(), thumbnail.data(), covered),
              kLoadFailed);
}

// Cache previews made by several threads at once, each through its own filters and buffers,
// are those one thread makes: no format's reader shares state between threads.
TEST_F(PictureTest, CachePreviewsMadeOnSeveralThreadsAtOnceMatchThoseMadeOnOne) {
    const char* gradient =
        "-size 700x500 gradient:orange-navy -fill white -draw 'circle 300,200 "
        "340,260'";
    std::vector<std::string> paths;
    for (const char* name :
         {"a.jpg", "b.png", "c.gif", "d.tif", "e.webp", "f.bmp", "g.pcx", "h.tga", "i.ppm"}) {
        std::filesystem::path path = m_dir / name;
        ASSERT_TRUE(MagickConvert(std::string(gradient) + " '" + path.string() + "'")) << name;
        paths.push_back(path.string());
    }
    std::filesystem::path progressive = m_dir / "j.jpg";
    ASSERT_TRUE(
        MagickConvert(std::string(gradient) + " -interlace Plane '" + progressive.string() + "'"));
    paths.push_back(progressive.string());
    WriteFileBytes(m_dir / "k.svg",
                   "<svg xmlns='http://www.w3.org/2000/svg' width='90' height='60'>"
                   "<rect width='90' height='60' fill='teal'/><circle cx='30' cy='30' r='20' "
                   "fill='gold'/></svg>");
    paths.push_back((m_dir / "k.svg").string());
    std::string wmf = (m_dir / "l.wmf").string();
    ASSERT_TRUE(ExportPicture(nullptr, wmf, "WMF", 0, 0, paths[5], kAutomaticResolution));
    paths.push_back(wmf);

    struct Preview {
        int result = -1;
        vSIZE covered{};
        std::vector<uint8_t> pixels = std::vector<uint8_t>(kThumbnailBytes);
    };
    auto make_all = [&](std::vector<Preview>& previews, size_t first) {
        for (size_t n = 0; n < paths.size(); ++n) {
            size_t i = (first + n) % paths.size();
            previews[i].result = RenderCachePreview(nullptr, paths[i], previews[i].pixels.data(),
                                                    previews[i].covered);
        }
    };
    std::vector<Preview> expected(paths.size());
    make_all(expected, 0);
    for (size_t i = 0; i < paths.size(); ++i)
        ASSERT_EQ(expected[i].result, kLoadRead) << paths[i];

    // Each thread starts at another file, so different formats are read at the same moment.
    constexpr size_t kThreads = 4;
    std::vector<std::vector<Preview>> made(kThreads, std::vector<Preview>(paths.size()));
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 2; ++round)
                make_all(made[t], t * 3);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (size_t t = 0; t < kThreads; ++t) {
        for (size_t i = 0; i < paths.size(); ++i) {
            EXPECT_EQ(made[t][i].result, kLoadRead) << paths[i];
            EXPECT_EQ(made[t][i].covered, expected[i].covered) << paths[i];
            EXPECT_TRUE(made[t][i].pixels == expected[i].pixels) << paths[i];
        }
    }
}

TEST(LoadBitmapFileTest, ReadsPlainBitmapsWhateverTheExtension) {
    ScopedTempDir dir;
    oDIB dib;
    ASSERT_TRUE(dib.Create(3, 2, 24));
    FillRect(dib, {0, 0, 3, 1}, {1, 2, 3});
    ASSERT_EQ(WritePicture((dir / "deco.bmp").string(), "BMP", &dib, nullptr), kFilterDone);
    std::filesystem::rename(dir / "deco.bmp", dir / "folder.imf");
    oDIB loaded;
    ASSERT_TRUE(LoadBitmapFile((dir / "folder.imf").string(), loaded));
    EXPECT_EQ(loaded.Size(), (vSIZE{3, 2}));
    EXPECT_EQ(loaded.PixelColour(0, 0), (Rgb{1, 2, 3}));
    EXPECT_FALSE(LoadBitmapFile((dir / "absent.imf").string(), loaded));
    EXPECT_FALSE(LoadBitmapFile("no-such-backdrop.imf", loaded));
    WriteFileBytes(dir / "short.imf", ReadFileBytes(dir / "folder.imf").substr(0, 60));
    EXPECT_FALSE(LoadBitmapFile((dir / "short.imf").string(), loaded));
    // A bare name is also found in the installed data folder.
    std::filesystem::rename(dir / "folder.imf", dir / "scopa-test-backdrop.imf");
    setenv("SCOPA_DATA_DIR", dir.path().c_str(), 1);
    EXPECT_TRUE(LoadBitmapFile("scopa-test-backdrop.imf", loaded));
    unsetenv("SCOPA_DATA_DIR");
    EXPECT_FALSE(LoadBitmapFile("scopa-test-backdrop.imf", loaded));
}

}  // namespace
}  // namespace scopa
