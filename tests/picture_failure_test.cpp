// Why a picture could not be read: each fault, in the format's data or in the resources the
// read needed, gives a failure of the right kind whose text names it, and the failure is
// traced with the path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/claiming_tiff.h"
#include "imaging/picture.h"
#include "platform/trace.h"
#include "support/damaged_pictures.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

// A 24-bit BMP header declaring `side` x `side` pixels and no data.
std::string BmpHeader(uint32_t side) {
    std::string bmp = "BM" + std::string(52, '\0');
    bmp[10] = 54;
    bmp[14] = 40;
    for (size_t i = 0; i < 4; ++i) {
        bmp[18 + i] = char(side >> (8 * i));
        bmp[22 + i] = char(side >> (8 * i));
    }
    bmp[26] = 1;
    bmp[28] = 24;
    return bmp;
}

// An icon directory with one 32 x 32 entry holding `image`.
std::string IconHolding(const std::string& image) {
    std::string icon("\0\0\1\0\1\0", 6);
    std::string entry(16, '\0');
    entry[0] = entry[1] = 32;
    entry[4] = 1;
    entry[6] = 32;
    for (size_t i = 0; i < 4; ++i) {
        entry[8 + i] = char(image.size() >> (8 * i));
        entry[12 + i] = char(22 >> (8 * i));
    }
    return icon + entry + image;
}

// A PNG header whose first chunk after IHDR declares nearly 2 GiB of text and holds 3 bytes.
std::string PngWithOverlongText() {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\4\0\0\0\4\x08\x02\0\0\0", 29);
    return png + std::string("0000\x7a\0\0\0tEXtkey", 15);  // IHDR's checksum, then tEXt
}

struct FailureCase {
    const char* name;
    std::string bytes;
    FailureKind kind;
    const char* text;  // the start of the failure's text
};

TEST(PictureFailureTest, EachFaultIsNamedWithItsKind) {
    ScopedTempDir dir;
    std::string pcx(128, '\0');
    pcx[0] = 0x0A;
    pcx[2] = 1;
    pcx[3] = 8;
    pcx[4] = 9;  // the window starts at x 9 and ends at 0
    const std::vector<FailureCase> cases = {
        {"cut.png", PngCutInIdat(), FailureKind::kData,
         "PNG: IDAT: unexpected end of data at byte"},
        {"cut.jpg", JpegCutInEntropyData(), FailureKind::kData, "JPG: Premature end of"},
        {"far.tif", TiffWithStripBeyondTheEnd(), FailureKind::kData, "TIF: strip 0 starts at byte"},
        {"claiming.tif", fixtures::ClaimingLzwTiff(3327, 65526, 117), FailureKind::kData,
         "TIF: strip 0: declared size larger than its 117 bytes can hold"},
        {"huge.bmp", BmpHeader(65536), FailureKind::kResource,
         "BMP: 65536 x 65536 pixels is beyond the reading limit"},
        {"cut.bmp", BmpHeader(4) + "123456", FailureKind::kData,
         "BMP: cut at byte 60 in row 1 of 4"},
        {"long-text.png", PngWithOverlongText(), FailureKind::kData,
         "PNG: tEXt: declares more data than a chunk may hold"},
        {"zero.pcx", pcx, FailureKind::kData, "PCX: no width or height"},
        {"cut.ppm", "P6 4 4 255\n0123456789", FailureKind::kData, "PPM: cut at byte 21 in row 1"},
        // An uncompressed 4 x 4 24-bit TGA header and 5 bytes of pixels.
        {"cut.tga", std::string("\0\0\2\0\0\0\0\0\0\0\0\0\4\0\4\0\x18\0", 18) + "12345",
         FailureKind::kData, "TGA: cut at byte 23 in row 1 of 4"},
        {"cut.ico", IconHolding(PngCutInIdat()), FailureKind::kData, "ICO: IDAT: unexpected end"},
        {"text.png", "just some text", FailureKind::kData, "not in a picture format"},
        {"absent.png", "", FailureKind::kResource, "No such file or directory"},
    };
    for (const FailureCase& c : cases) {
        if (c.bytes.size() > 0) WriteFileBytes(dir / c.name, c.bytes);
        std::vector<std::string> traced;
        TraceSink previous = SetTraceSink([&](const std::string& line) { traced.push_back(line); });
        oDIB dib;
        vMETAFILE metafile;
        int kind = 0;
        int result = LoadPicture(nullptr, (dir / c.name).string(), dib, metafile, kind,
                                 kAutomaticResolution);
        SetTraceSink(previous);
        EXPECT_EQ(result, kLoadFailed) << c.name;
        const FilterFailure& failure = LastPictureFailure();
        EXPECT_EQ(failure.kind, c.kind) << c.name << ": " << failure.text;
        EXPECT_EQ(failure.text.rfind(c.text, 0), 0u) << c.name << ": " << failure.text;
        ASSERT_FALSE(traced.empty()) << c.name;
        EXPECT_EQ(traced.back(), (dir / c.name).string() + ": " + failure.text + " (" +
                                     FailureKindName(c.kind) + ")\n");
    }
}

TEST(PictureFailureTest, ASuccessfulReadOrWriteLeavesNoFailure) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "cut.png", PngCutInIdat());
    WriteFileBytes(dir / "good.png", EncodedNoise("PNG"));
    oDIB dib;
    vMETAFILE metafile;
    int kind = 0;
    ASSERT_EQ(LoadPicture(nullptr, (dir / "cut.png").string(), dib, metafile, kind, 0),
              kLoadFailed);
    ASSERT_TRUE(LastPictureFailure().IsSet());
    ASSERT_EQ(LoadPicture(nullptr, (dir / "good.png").string(), dib, metafile, kind, 0), kLoadRead);
    EXPECT_FALSE(LastPictureFailure().IsSet());
    // Writing: a folder that does not exist cannot take the file.
    EXPECT_EQ(WritePicture((dir / "none" / "x.png").string(), "PNG", &dib, nullptr),
              kFilterCannotCreate);
    EXPECT_EQ(LastPictureFailure().kind, FailureKind::kResource);
    EXPECT_EQ(LastPictureFailure().text, "cannot create: No such file or directory");
    EXPECT_EQ(WritePicture((dir / "x.png").string(), "PNG", &dib, nullptr), kFilterDone);
    EXPECT_FALSE(LastPictureFailure().IsSet());
}

}  // namespace
}  // namespace scopa::test
