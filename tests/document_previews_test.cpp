// Document tests and preview readers over documents generated from the stored layouts:
// each kind and version boundary, the plain and compound forms, and refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "documents/document_previews.h"
#include "documents/preview_dib.h"
#include "fixtures/compound_writer.h"
#include "fixtures/document_writer.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

uint32_t Colourful(int index) {
    return uint32_t(index) * 0x030507u + 0x102030u;
}
uint32_t Black(int) {
    return 0;
}

// The pixel at (x, y), rows counted from the top, of a bottom-up DIB made by PackedDib.
uint32_t StoredIndex(const std::string& dib, size_t bits_offset, int width, int height, int bpp,
                     int x, int y) {
    const auto* row = reinterpret_cast<const uint8_t*>(dib.data()) + bits_offset +
                      DibRowBytes(width, bpp) * size_t(height - 1 - y);
    int per_byte = 8 / bpp;
    return (row[x / per_byte] >> ((per_byte - 1 - x % per_byte) * bpp)) & ((1u << bpp) - 1);
}

bool Preview(bool (*reader)(const DocumentSource&, DocumentPreview*), const std::string& bytes,
             DocumentPreview* preview) {
    return reader(DocumentSource::Bytes(bytes.data(), bytes.size()), preview);
}

DocumentSource Source(const std::string& bytes) {
    return DocumentSource::Bytes(bytes.data(), bytes.size());
}

// ---- desktop-publishing documents ----

struct DtpCase {
    int16_t version;
    bool palette;                // 2-byte screen palette indices instead of RGBQUAD entries
    bool flagged_width = false;  // bit 15 of the stored width set, which the reader clears
};

class DtpVersions : public testing::TestWithParam<DtpCase> {};

TEST_P(DtpVersions, PreviewSitsWhereTheVersionSaysAndDecodes) {
    const DtpCase c = GetParam();
    const std::string table = c.palette ? PaletteIndexTable(256) : RgbQuadTable(256, Colourful);
    const std::string dib = PackedDib(7, 5, 8, table, 11, c.flagged_width ? 0x8000 | 7 : -1);
    const std::string document = CompoundDocument(DtpContents(c.version, dib));
    EXPECT_TRUE(IsDTPContent(Source(document), ""));
    DocumentPreview preview;
    ASSERT_TRUE(Preview(MakeDTPPreview, document, &preview));
    EXPECT_EQ(preview.width_px, 7);
    EXPECT_EQ(preview.height_px, 5);
    EXPECT_EQ(preview.bits_per_pixel, 8);
    ASSERT_EQ(preview.colour_table.size(), 256u);
    if (c.palette) {
        EXPECT_EQ(preview.colour_usage, DibColourUsage::kPaletteIndices);
        EXPECT_EQ(preview.colour_table[200], 200u);
    } else {
        EXPECT_EQ(preview.colour_usage, DibColourUsage::kRgbColours);
        EXPECT_EQ(preview.colour_table[200], Colourful(200) & 0xFFFFFF);
    }
    size_t bits = 40 + table.size();
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            ASSERT_EQ(preview.pixels[size_t(y * 7 + x)], StoredIndex(dib, bits, 7, 5, 8, x, y))
                << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, DtpVersions,
                         testing::Values(DtpCase{150, false}, DtpCase{192, false},
                                         DtpCase{193, false}, DtpCase{206, false},
                                         DtpCase{207, false}, DtpCase{209, false},
                                         DtpCase{200, false, true}, DtpCase{210, true},
                                         DtpCase{260, true}, DtpCase{int16_t(0x4000 | 209), false},
                                         DtpCase{int16_t(0x4000 | 210), true}));

TEST(DtpDocumentTest, PlainFilePassesWithoutKeywordFilterOnly) {
    ScopedTempDir dir;
    const std::string dib = PackedDib(4, 4, 1, RgbQuadTable(2, Colourful));
    WriteFileBytes(dir / "plain.dtp", DtpContents(200, dib));
    DocumentSource source = DocumentSource::File((dir / "plain.dtp").string());
    EXPECT_TRUE(IsDTPContent(source, ""));
    EXPECT_FALSE(IsDTPContent(source, "red"));
    DocumentPreview preview;
    ASSERT_TRUE(MakeDTPPreview(source, &preview));
    EXPECT_EQ(preview.width_px, 4);
    EXPECT_EQ(preview.colour_table, (std::vector<uint32_t>{Colourful(0), Colourful(1)}));
    EXPECT_EQ(preview.pixels[5], StoredIndex(dib, 48, 4, 4, 1, 1, 1));
}

TEST(DtpDocumentTest, KeywordFilterMatchesTokensAsSubstrings) {
    const std::string dib = PackedDib(2, 2, 24, "");
    auto document = [&dib](const char* keywords) {
        return CompoundDocument(DtpContents(210, dib),
                                {{"\x05SummaryInformation", SummaryInformationStream(keywords)}});
    };
    EXPECT_TRUE(IsDTPContent(Source(document("dark blue")), "red, blue"));
    EXPECT_FALSE(IsDTPContent(Source(document("Red")), "red, blue"));
    EXPECT_TRUE(IsDTPContent(Source(document("anything")), "red,,blue")) << "empty token";
    EXPECT_FALSE(IsDTPContent(Source(document(nullptr)), "red"));
    EXPECT_FALSE(IsDTPContent(Source(CompoundDocument(DtpContents(210, dib))), "red"))
        << "no summary information";
    EXPECT_TRUE(KeywordFilterAccepts("", "x"));
    EXPECT_TRUE(KeywordFilterAccepts("  blue  ", "dark blue"));
    EXPECT_FALSE(KeywordFilterAccepts("blue", "Blue"));
}

TEST(DtpDocumentTest, RefusalsGiveNoPreview) {
    const std::string dib = PackedDib(4, 4, 8, RgbQuadTable(256, Colourful));
    std::string good = DtpContents(200, dib);
    std::string no_style = good;
    no_style.replace(no_style.find("DSTY"), 4, "XSTY");
    std::string no_marker = good;
    no_marker.replace(no_marker.find("BM"), 2, "MB");
    std::string wrong_tag = good;
    wrong_tag[0] = 'X';
    std::string short_dib = DtpContents(200, dib.substr(0, dib.size() - 1));
    std::string huge_table = DtpContents(210, PackedDib(4, 4, 8, ""));  // bits need the table
    for (const std::string* contents :
         {&no_style, &no_marker, &wrong_tag, &short_dib, &huge_table}) {
        DocumentPreview preview;
        preview.width_px = -7;
        EXPECT_FALSE(Preview(MakeDTPPreview, CompoundDocument(*contents), &preview));
        EXPECT_EQ(preview.width_px, -7) << "left unchanged";
    }
    EXPECT_FALSE(IsDTPContent(Source(CompoundDocument(wrong_tag)), ""));
    // A compound file without "Contents" is no document at all.
    CompoundFileWriter writer;
    writer.AddStream("Other", good);
    EXPECT_FALSE(IsDTPContent(Source(writer.Build()), ""));
}

// ---- scraps and styled text ----

TEST(ScrapDocumentTest, PreviewUsesPaletteIndicesAfter512Bytes) {
    const std::string dib = PackedDib(6, 3, 8, PaletteIndexTable(256), 5);
    const std::string document = CompoundDocument(ScrapContents(dib));
    EXPECT_TRUE(IsScrapContent(Source(document)));
    EXPECT_FALSE(IsDTPContent(Source(document), ""));
    DocumentPreview preview;
    ASSERT_TRUE(Preview(MakeScrapPreview, document, &preview));
    EXPECT_EQ(preview.colour_usage, DibColourUsage::kPaletteIndices);
    EXPECT_EQ(preview.pixels[8], StoredIndex(dib, 552, 6, 3, 8, 2, 1));
    std::string no_style = ScrapContents(dib);
    no_style.replace(no_style.find("DSTY"), 4, "dsty");
    EXPECT_FALSE(Preview(MakeScrapPreview, CompoundDocument(no_style), &preview));
    EXPECT_TRUE(IsScrapContent(Source(ScrapContents(dib)))) << "plain form";
}

TEST(FlourishDocumentTest, VersionAndTagDecideTestAndPreview) {
    const std::string dib = PackedDib(5, 2, 8, RgbQuadTable(256, Colourful), 9);
    struct Case {
        uint16_t version;
        const char* tag;
        bool is_document;
        bool has_preview;
    };
    const Case cases[] = {{210, "FLRT", true, true},
                          {300, "FLRT", true, true},
                          {209, "FLRT", false, true},
                          {209, "ABCD", false, true},
                          {210, "ABCD", false, false}};
    for (const Case& c : cases) {
        const std::string document = CompoundDocument(FlourishContents(c.version, c.tag, dib));
        EXPECT_EQ(IsFlourishContent(Source(document)), c.is_document) << c.version << c.tag;
        DocumentPreview preview;
        EXPECT_EQ(Preview(MakeFlourishPreview, document, &preview), c.has_preview)
            << c.version << c.tag;
        if (c.has_preview) {
            EXPECT_EQ(preview.pixels[0], StoredIndex(dib, 1064, 5, 2, 8, 0, 0));
        }
    }
    EXPECT_FALSE(IsFlourishContent(Source(FlourishContents(210, "FLRT", dib)))) << "plain form";
}

// ---- art documents ----

std::string CompoundArt(const std::string& dib, uint16_t version = 257) {
    return CompoundDocument(ArtHeader(version, 64, 0), {{"Preview.dib", dib}});
}

TEST(ArtDocumentTest, LargePreviewIsCutTo128FromItsTopLeft) {
    const std::string dib = PackedDib(300, 200, 8, RgbQuadTable(256, Colourful), 3);
    for (const std::string& document : {CompoundArt(dib), ArtPlainFile(257, dib)}) {
        EXPECT_TRUE(IsArtContent(Source(document)));
        EXPECT_TRUE(IsSnippetContent(Source(document)));
        DocumentPreview preview;
        ASSERT_TRUE(Preview(MakeArtPreview, document, &preview));
        EXPECT_EQ(preview.width_px, 128);
        EXPECT_EQ(preview.height_px, 128);
        // Drawn from the first 128 stored scan lines, the last of them at the top.
        const size_t stride = DibRowBytes(300, 8);
        const auto* bits = reinterpret_cast<const uint8_t*>(dib.data()) + 40 + 1024;
        EXPECT_EQ(preview.pixels[0], bits[127 * stride]);
        EXPECT_EQ(preview.pixels[127 * 128 + 5], bits[5]);
    }
}

TEST(ArtDocumentTest, StaticColoursFillBlackEndsOfCompoundPalettes) {
    const std::string dib = PackedDib(4, 4, 8, RgbQuadTable(256, Black), 1);
    DocumentPreview preview;
    ASSERT_TRUE(Preview(MakeArtPreview, CompoundArt(dib), &preview));
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(preview.colour_table[size_t(i)], StaticColourRgb(size_t(i))) << i;
        EXPECT_EQ(preview.colour_table[size_t(246 + i)], StaticColourRgb(size_t(10 + i))) << i;
    }
    EXPECT_EQ(preview.colour_table[100], 0u);

    std::string one_grey = dib;
    one_grey[40 + 4 * 250] = 1;  // one blue component of the last ten
    ASSERT_TRUE(Preview(MakeArtPreview, CompoundArt(one_grey), &preview));
    EXPECT_EQ(preview.colour_table[0], 0u);
    EXPECT_EQ(preview.colour_table[250], 1u);

    ASSERT_TRUE(Preview(MakeArtPreview, ArtPlainFile(257, dib), &preview));
    EXPECT_EQ(preview.colour_table[9], 0u) << "the plain form keeps its table";
    const std::string dib4 = PackedDib(4, 4, 4, RgbQuadTable(16, Black));
    ASSERT_TRUE(Preview(MakeArtPreview, CompoundArt(dib4), &preview));
    EXPECT_EQ(preview.colour_table[1], 0u) << "16 entries are too few";
    EXPECT_EQ(preview.pixels[5], StoredIndex(dib4, 40 + 64, 4, 4, 4, 1, 1)) << "4-bit pixels";
}

TEST(ArtDocumentTest, VersionSignatureAndRecordRules) {
    const std::string dib = PackedDib(8, 8, 24, "");
    DocumentPreview preview;
    EXPECT_FALSE(IsArtContent(Source(CompoundArt(dib, 256))));
    EXPECT_TRUE(IsArtContent(Source(ArtPlainFile(256, dib)))) << "no version check on plain";
    EXPECT_FALSE(Preview(MakeArtPreview, ArtPlainFile(256, dib), &preview));
    EXPECT_TRUE(Preview(MakeArtPreview, CompoundArt(dib, 256), &preview))
        << "the compound preview stream is read without the header";
    std::string wrong_signature =
        CompoundDocument(ArtHeader(300, 64, 0, "QOR:ARX"), {{"Preview.dib", dib}});
    EXPECT_FALSE(IsArtContent(Source(wrong_signature)));
    std::string unterminated =
        CompoundDocument(ArtHeader(300, 64, 0, std::string(64, 'Q')), {{"Preview.dib", dib}});
    EXPECT_FALSE(IsArtContent(Source(unterminated)));
    EXPECT_FALSE(Preview(MakeArtPreview, CompoundDocument(ArtHeader(300, 64, 0)), &preview))
        << "no Preview.dib";
    EXPECT_FALSE(Preview(MakeArtPreview, ArtPlainFile(257, dib, 0).substr(0, 80 + 20), &preview));
    std::string no_record = ArtPlainFile(257, dib);
    no_record[80 + 20 + 2 * 46 + 2] = 0;  // the preview record's type
    EXPECT_FALSE(Preview(MakeArtPreview, no_record, &preview));
    EXPECT_TRUE(IsArtContent(Source(ArtPlainFile(257, dib).substr(0, 80))));
    EXPECT_FALSE(IsArtContent(Source(ArtPlainFile(257, dib).substr(0, 79))));
}

TEST(ArtDocumentTest, BlockShorterThanItsImageIsRefused) {
    std::string dib = PackedDib(8, 8, 8, RgbQuadTable(256, Colourful));
    DocumentPreview preview;
    EXPECT_FALSE(Preview(MakeArtPreview, CompoundArt(dib.substr(0, dib.size() - 1)), &preview));
    std::string lying = dib;
    PutLe32(lying, 20, 0);  // no image size given: the rows are still checked
    EXPECT_TRUE(Preview(MakeArtPreview, CompoundArt(lying), &preview));
    EXPECT_FALSE(Preview(MakeArtPreview, CompoundArt(lying.substr(0, lying.size() - 8)), &preview));
    std::string big = dib;
    PutLe32(big, 20, 0xFFFFFFF0);
    EXPECT_FALSE(Preview(MakeArtPreview, CompoundArt(big), &preview));
}

// ---- every reader on damaged bytes ----

TEST(DocumentReadersTest, DibHeadersThatDoNotFitAreRefused) {
    struct Case {
        const char* what;
        size_t offset;
        uint32_t value;
    };
    const Case cases[] = {
        {"header size", 0, 12},    {"width", 4, 0x7FFFFFFF},
        {"height", 8, 0x40000000}, {"negative height", 8, uint32_t(-4)},
        {"zero width", 4, 0},      {"bit count", 14, 7},
        {"compression", 16, 1},
    };
    for (const Case& c : cases) {
        std::string dib = PackedDib(4, 4, 8, RgbQuadTable(256, Colourful));
        if (c.offset == 14) {
            PutLe16(dib, c.offset, uint16_t(c.value));
        } else {
            PutLe32(dib, c.offset, c.value);
        }
        DocumentPreview preview;
        EXPECT_FALSE(Preview(MakeArtPreview, CompoundArt(dib), &preview)) << c.what;
        EXPECT_FALSE(Preview(MakeDTPPreview, CompoundDocument(DtpContents(200, dib)), &preview))
            << c.what;
    }
}

TEST(DocumentReadersTest, EveryTruncationFailsCleanly) {
    const std::string dib = PackedDib(5, 3, 8, RgbQuadTable(256, Colourful));
    const std::string plain_documents[] = {DtpContents(150, dib), DtpContents(208, dib),
                                           ArtPlainFile(257, dib)};
    for (const std::string& whole : plain_documents) {
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            const std::string part = whole.substr(0, cut);
            DocumentPreview preview;
            Preview(MakeDTPPreview, part, &preview);
            Preview(MakeArtPreview, part, &preview);
            EXPECT_FALSE(Preview(MakeScrapPreview, part, &preview));
            IsDTPContent(Source(part), "");
            IsArtContent(Source(part));
        }
    }
    // Cut compound documents: the readers must neither crash nor accept short previews.
    const std::string compound =
        CompoundDocument(DtpContents(210, PackedDib(5, 3, 8, PaletteIndexTable(256))));
    for (size_t cut = 0; cut < compound.size(); cut += 7) {
        DocumentPreview preview;
        Preview(MakeDTPPreview, compound.substr(0, cut), &preview);
    }
}

TEST(DocumentReadersTest, FilesOnDiskAndBytesReadByATest) {
    ScopedTempDir dir;
    std::string contents = DtpContents(210, PackedDib(64, 64, 8, PaletteIndexTable(256)));
    CompoundFileWriter writer(3);
    writer.AddStream("Contents", contents);
    writer.AddStream("Padding", std::string(2 << 20, 'p'));
    writer.WriteTo(dir / "big.dtp");
    DocumentSource source = DocumentSource::File((dir / "big.dtp").string());
    EXPECT_TRUE(IsDTPContent(source, ""));
    EXPECT_LT(source.BytesRead(), 8192u) << "a test reads the header, directory and a tag";
    EXPECT_FALSE(IsDTPContent(DocumentSource::File((dir / "missing.dtp").string()), ""));
    EXPECT_FALSE(IsArtContent(DocumentSource::File(dir.path().string())));
    DocumentPreview preview;
    EXPECT_FALSE(MakeArtPreview(DocumentSource::File((dir / "missing.art").string()), &preview));
}

TEST(DocumentReadersTest, PipesNamedLikeDocumentsDoNotBlock) {
    ScopedTempDir dir;
    const std::string pipe = (dir / "stalled.dtp").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    DocumentSource source = DocumentSource::File(pipe);
    EXPECT_NE(StgIsStorageFile(pipe), StorageFileAnswer::kStorage);
    EXPECT_FALSE(IsDTPContent(source, ""));
    EXPECT_FALSE(IsArtContent(source));
    EXPECT_FALSE(IsFlourishContent(source));
    DocumentPreview preview;
    EXPECT_FALSE(MakeArtPreview(source, &preview));
    EXPECT_FALSE(MakeDTPPreview(source, &preview));
}

TEST(PreviewDibTest, PaletteIndexTablesResolveThroughTheScreenPalette) {
    DocumentPreview preview;
    preview.width_px = 3;
    preview.height_px = 1;
    preview.bits_per_pixel = 8;
    preview.colour_usage = DibColourUsage::kPaletteIndices;
    preview.colour_table = {235, 20, 20 + 36 * 5, 3};  // white, black, red, static olive
    preview.pixels = {0, 2, 3};
    oDIB dib = PreviewToDib(preview);
    ASSERT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(dib.PixelColour(0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(dib.PixelColour(1, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(dib.PixelColour(2, 0), (Rgb{0x80, 0x80, 0}));

    preview.pixels.pop_back();  // fewer pixels than the size promises: refused
    EXPECT_TRUE(PreviewToDib(preview).IsEmpty());
}

}  // namespace
}  // namespace scopa::test
