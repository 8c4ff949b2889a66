// The scopa doc command: kinds, keywords, preview sizes, JSON, PNG output and errors.
#include <gtest/gtest.h>

#include "fixtures/compound_writer.h"
#include "fixtures/document_writer.h"
#include "support/pe_builder.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

uint32_t Red(int) {
    return 0xFF0000;
}

class DocToolTest : public testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        WriteFileBytes(dir / name, bytes);
        return (dir / name).string();
    }
    ScopedTempDir dir;
};

TEST_F(DocToolTest, EachKindWithKeywordsAndPreviewSize) {
    const std::string dib8 = PackedDib(6, 4, 8, RgbQuadTable(256, Red));
    struct Case {
        std::string name;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"a.dtp",
         CompoundDocument(DtpContents(200, dib8),
                          {{"\x05SummaryInformation", SummaryInformationStream("red, green")}}),
         "kind: dtp\nkeywords: red, green\npreview: 6 x 4\n"},
        {"b.srp", CompoundDocument(ScrapContents(PackedDib(3, 2, 8, PaletteIndexTable(256)))),
         "kind: scrap\nkeywords: \npreview: 3 x 2\n"},
        {"c.art",
         CompoundDocument(ArtHeader(257, 64, 0), {{"Preview.dib", PackedDib(300, 20, 24, "")}}),
         "kind: art\nkeywords: \npreview: 128 x 20\n"},
        {"d.dsp", ArtPlainFile(257, dib8), "kind: snippet\nkeywords: \npreview: 6 x 4\n"},
        {"e.flx", CompoundDocument(FlourishContents(210, "FLRT", dib8)),
         "kind: styledtext\nkeywords: \npreview: 6 x 4\n"},
        {"f.txt", "just text", "kind: none\nkeywords: \npreview: none\n"},
        {"g.dtp", CompoundDocument(DtpContents(210, "short")),
         "kind: dtp\nkeywords: \npreview: none\n"},
    };
    for (const Case& c : cases) {
        ToolResult result = RunTool({"doc", Write(c.name, c.bytes)});
        EXPECT_EQ(result.exit_status, 0) << c.name << result.err;
        EXPECT_EQ(result.out, c.expected) << c.name;
    }
}

TEST_F(DocToolTest, JsonAndPngOutput) {
    const std::string path = Write(
        "doc.dtp",
        CompoundDocument(DtpContents(200, PackedDib(6, 4, 8, RgbQuadTable(256, Red))),
                         {{"\x05SummaryInformation", SummaryInformationStream("say \"hi\"\\")}}));
    ToolResult json = RunTool({"doc", path, "--json"});
    EXPECT_EQ(json.exit_status, 0);
    EXPECT_EQ(json.out,
              "{\"kind\": \"dtp\", \"keywords\": \"say \\\"hi\\\"\\\\\", \"preview_width\": 6, "
              "\"preview_height\": 4}\n");
    const std::string png = (dir / "out.png").string();
    ToolResult written = RunTool({"doc", path, "-o", png});
    ASSERT_EQ(written.exit_status, 0) << written.err;
    std::string bytes = ReadFileBytes(png);
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\0\x06\0\0\0\x04", 8)) << "IHDR size";

    ToolResult none = RunTool({"doc", Write("plain.txt", "x"), "--json"});
    EXPECT_EQ(
        none.out,
        "{\"kind\": \"none\", \"keywords\": \"\", \"preview_width\": 0, \"preview_height\": 0}\n");
    ToolResult no_png = RunTool({"doc", (dir / "plain.txt").string(), "-o", png + "2"});
    EXPECT_EQ(no_png.exit_status, 1);
}

TEST_F(DocToolTest, PilotProgramsShowTheirBitmap) {
    if (!HavePeTools()) GTEST_SKIP() << "the mingw-w64 binutils are not installed";
    PilotProgram program;
    program.file_name = "Tool.exe";
    std::filesystem::path path = BuildPilot(dir.path(), program);
    ASSERT_FALSE(path.empty());
    ToolResult result = RunTool({"doc", path.string()});
    EXPECT_EQ(result.out, "kind: pilot\nkeywords: \npreview: 5 x 3\n");
    program.tables = {{"040904b0", "unmarked"}};
    program.file_name = "Other.exe";
    result = RunTool({"doc", BuildPilot(dir.path(), program).string()});
    EXPECT_EQ(result.out, "kind: none\nkeywords: \npreview: none\n");
}

TEST_F(DocToolTest, UnreadableFileIsAOneLineError) {
    ToolResult result = RunTool({"doc", (dir / "missing.dtp").string()});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_TRUE(result.out.empty());
    EXPECT_EQ(result.err, "scopa doc: cannot read " + (dir / "missing.dtp").string() + "\n");
    EXPECT_EQ(RunTool({"doc", dir.path().string()}).exit_status, 1);
    EXPECT_EQ(RunTool({"doc"}).exit_status, 2);
}

}  // namespace
}  // namespace scopa::test
