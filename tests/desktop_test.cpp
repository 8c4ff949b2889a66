// The installed desktop integration: `cmake --install` into a temporary prefix, then the
// thumbnailer entry's own command line run for every document kind and for WMF, the MIME
// package typing our documents, and a program built against the installed CMake package.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "cache/freedesktop_thumbnails.h"
#include "fixtures/document_writer.h"
#include "fixtures/metafile_writer.h"
#include "imaging/rgba_png.h"
#include "platform/mime_types.h"
#include "support/fresh_process.h"
#include "support/pe_builder.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command line; its exit status, or -1.
int RunShell(const std::string& command_line) {
    int status = std::system((command_line + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint32_t Red(int) {
    return 0xFF0000;
}

class DesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<ScopedTempDir>();
        s_prefix = s_dir->path() / "prefix";
        s_installed =
            RunShell(Quoted(SCOPA_CMAKE_COMMAND) + " --install " + Quoted(SCOPA_BINARY_DIR) +
                     " --prefix " + Quoted(s_prefix.string())) == 0;
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override { ASSERT_TRUE(s_installed) << "cmake --install failed"; }

    // The Exec line of the installed entry with %s, %i and %o filled in as a file manager
    // fills them.
    static std::string ThumbnailerCommand(int size, const fs::path& input, const fs::path& out) {
        std::ifstream entry(s_prefix / "share/thumbnailers/scopa.thumbnailer");
        std::string line, exec;
        while (std::getline(entry, line)) {
            if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
        }
        std::string filled;
        for (size_t i = 0; i < exec.size(); ++i) {
            if (exec[i] != '%' || i + 1 == exec.size()) {
                filled += exec[i];
                continue;
            }
            char code = exec[++i];
            if (code == 's') filled += std::to_string(size);
            if (code == 'i') filled += Quoted(FileUriOfPath(input.string()));
            if (code == 'o') filled += Quoted(out.string());
        }
        return filled;
    }

    // Runs the installed tool's thumbnail command with `arguments` (already quoted).
    static int Thumbnail(const std::string& arguments) {
        return RunShell(Quoted((s_prefix / "bin/scopa").string()) + " thumbnail " + arguments);
    }
    // The size of a PNG file, or 0 x 0 when it cannot be read; the pixels go to `image`.
    static std::pair<int, int> PngSize(const fs::path& path, RgbaImage* image = nullptr) {
        RgbaImage read;
        if (!ReadRgbaPngFile(path.string(), 1024, &read, nullptr)) return {0, 0};
        std::pair<int, int> size{read.width_px, read.height_px};
        if (image != nullptr) *image = std::move(read);
        return size;
    }

    static std::unique_ptr<ScopedTempDir> s_dir;
    static fs::path s_prefix;
    static bool s_installed;
};

std::unique_ptr<ScopedTempDir> DesktopTest::s_dir;
fs::path DesktopTest::s_prefix;
bool DesktopTest::s_installed = false;

TEST_F(DesktopTest, TheThumbnailerEntryMakesEachDocumentKindAndMetafile) {
    const std::string red_dib = PackedDib(30, 20, 8, RgbQuadTable(256, Red), 0);
    const std::string blue_wmf = MetafileRecords()
                                     .Window(0, 0, 300, 200)
                                     .Brush(0, kWmfBlue)
                                     .Select(0)
                                     .Pen(5, 0, 0)
                                     .Select(1)
                                     .Rectangle(0, 0, 301, 201)
                                     .Build(2);
    std::string black_indices;
    for (int i = 0; i < 256; ++i)
        black_indices += std::string("\x14\x00", 2);
    struct Case {
        const char* name;
        std::string bytes;
        uint32_t rgb;  // the colour in the middle
    };
    const Case cases[] = {
        {"a.dtp", CompoundDocument(DtpContents(200, red_dib)), 0xFF0000},
        {"plain.dtp", DtpContents(200, red_dib), 0xFF0000},
        // Every palette index names the screen palette's black (cube entry 20).
        {"b.srp", CompoundDocument(ScrapContents(PackedDib(30, 20, 8, black_indices, 0))),
         0x000000},
        {"c.art", CompoundDocument(ArtHeader(257, 64, 0), {{"Preview.dib", red_dib}}), 0xFF0000},
        {"d.dsp", ArtPlainFile(257, red_dib), 0xFF0000},
        {"e.flx", CompoundDocument(FlourishContents(210, "FLRT", red_dib)), 0xFF0000},
        {"f.wmf", blue_wmf, 0x0000FF},
    };
    for (const Case& c : cases) {
        fs::path input = s_dir->path() / "in" / c.name;
        fs::path out = s_dir->path() / (std::string(c.name) + ".png");
        WriteFileBytes(input, c.bytes);
        ASSERT_EQ(RunShell(ThumbnailerCommand(128, input, out)), 0) << c.name;
        RgbaImage image;
        ASSERT_EQ(PngSize(out, &image), std::make_pair(128, 85)) << c.name;  // 3:2
        const uint8_t* middle =
            image.pixels.data() + (size_t(image.height_px / 2) * image.width_px + 64) * 4;
        EXPECT_EQ(uint32_t(middle[0] << 16 | middle[1] << 8 | middle[2]), c.rgb) << c.name;
        EXPECT_EQ(middle[3], 255) << c.name;
    }
}

TEST_F(DesktopTest, APilotProgramGivesItsBitmap) {
    if (!HavePeTools()) GTEST_SKIP() << "the mingw-w64 binutils are not installed";
    PilotProgram program;
    program.file_name = "Tool.exe";
    fs::path pilot = BuildPilot(s_dir->path(), program);
    fs::path out = s_dir->path() / "pilot.png";
    ASSERT_EQ(Thumbnail("-s 50 " + Quoted(pilot.string()) + " " + Quoted(out.string())), 0);
    EXPECT_EQ(PngSize(out), std::make_pair(50, 30));  // the bitmap is 5 x 3
}

TEST_F(DesktopTest, TheThumbnailerFailsCleanlyOnWhatItCannotRead) {
    fs::path text = s_dir->path() / "notes.txt";
    fs::path fifo = s_dir->path() / "pipe.dtp";
    WriteFileBytes(text, "just text");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& input : {text, fifo, s_dir->path() / "missing.dtp"}) {
        fs::path out = s_dir->path() / "never.png";
        EXPECT_EQ(RunShell(ThumbnailerCommand(128, input, out)), 1) << input;
        EXPECT_FALSE(fs::exists(out)) << input;
    }
    EXPECT_EQ(Thumbnail("-s 0 " + Quoted(text.string()) + " /dev/null"), 2);
    EXPECT_EQ(Thumbnail("-s 64 http://host/a.dtp out.png"), 1);
#ifndef SCOPA_ADDRESS_SANITIZER
    // Beyond its memory limit a run ends with an error, not a crash (sanitizer builds set no
    // limit: their shadow memory alone exceeds it).
    fs::path wmf = s_dir->path() / "big.wmf";
    WriteFileBytes(wmf, MetafileRecords().Window(0, 0, 100, 100).Ellipse(0, 0, 100, 100).Build(0));
    fs::path out = s_dir->path() / "limited.png";
    ASSERT_EQ(RunShell(ThumbnailerCommand(2048, wmf, out)), 0) << "readable without the limit";
    fs::remove(out);
    EXPECT_EQ(
        Thumbnail("--memory-limit 20 -s 2048 " + Quoted(wmf.string()) + " " + Quoted(out.string())),
        1);
    EXPECT_FALSE(fs::exists(out));
#endif
}

// GIO takes the database's folders from the environment at its first use: the check runs in a
// fresh process with the installed package's folder in front.
TEST_F(DesktopTest, TheMimePackageTypesOurDocumentsByTheirOwnNames) {
    fs::path data = s_prefix / "share";
    ASSERT_EQ(RunShell("update-mime-database " + Quoted((data / "mime").string())), 0);
    auto check = [&data] {
        setenv("XDG_DATA_DIRS", (data.string() + ":/usr/share").c_str(), 1);
        struct Case {
            const char* name;
            const char* type;
            const char* text;
        };
        const Case cases[] = {
            {"Report.DTP", "application/x-qor-dtp", "Desktop-publishing document"},
            {"a.tpl", "application/x-qor-dtp", "Desktop-publishing document"},
            {"b.srp", "application/x-qor-scrap", "Scrap document"},
            {"c.dsn", "application/x-qor-scrap", "Scrap document"},
            {"d.art", "application/x-qor-art", "Art document"},
            {"e.tem", "application/x-qor-art", "Art document"},
            {"f.dsp", "application/x-qor-snippet", "Design snippet"},
            {"g.flx", "application/x-qor-styled-text", "Styled-text document"},
            {"h.wmf", "image/wmf", nullptr},  // metafiles keep the type the database had
        };
        ChildReport report;
        for (const Case& c : cases) {
            report.ExpectEq(MimeTypeOfName(c.name), c.type, std::string("type of ") + c.name);
            if (c.text != nullptr) {
                report.ExpectEq(FileTypeText(c.name), c.text, std::string("text of ") + c.name);
            }
        }
        report.ExitWithReport(s_dir->path());
    };
    FreshProcessDeathTests fresh;
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
}

// The viewer's menu entry runs the installed program and names an icon that is installed
// where icon themes look, and that our SVG renderer can draw.
TEST_F(DesktopTest, TheViewerHasAMenuEntryAndAnIcon) {
    if (!fs::exists(s_prefix / "bin/scopa-view")) GTEST_SKIP() << "built without Qt 6 Widgets";
    std::ifstream entry(s_prefix / "share/applications/scopa-view.desktop");
    std::string text((std::istreambuf_iterator<char>(entry)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\nExec=scopa-view %f\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon=scopa-view\n"), std::string::npos);
    fs::path icon = s_prefix / "share/icons/hicolor/scalable/apps/scopa-view.svg";
    fs::path png = s_dir->path() / "icon.png";
    ASSERT_EQ(Thumbnail("-s 64 " + Quoted(icon.string()) + " " + Quoted(png.string())), 0);
    EXPECT_EQ(PngSize(png), std::make_pair(64, 64));
}

TEST_F(DesktopTest, AProgramBuildsAgainstTheInstalledCMakePackage) {
#ifdef SCOPA_ADDRESS_SANITIZER
    GTEST_SKIP() << "a sanitized library needs a consumer built with the same runtime";
#endif
    fs::path build = s_dir->path() / "consumer";
    std::string cmake = Quoted(SCOPA_CMAKE_COMMAND);
    ASSERT_EQ(
        RunShell(cmake + " -S " +
                 Quoted(std::string(SCOPA_SOURCE_DIR) + "/tests/install_consumer") + " -B " +
                 Quoted(build.string()) + " -DCMAKE_PREFIX_PATH=" + Quoted(s_prefix.string())),
        0);
    ASSERT_EQ(RunShell(cmake + " --build " + Quoted(build.string())), 0);
    std::string out_file = (s_dir->path() / "consumer.txt").string();
    ASSERT_EQ(
        std::system(
            (Quoted((build / "consumer").string()) + " /a/b.png > " + Quoted(out_file)).c_str()),
        0);
    std::ifstream out(out_file);
    std::string line;
    std::getline(out, line);
    EXPECT_EQ(line, ThumbnailFileName("file:///a/b.png"));
}

}  // namespace
}  // namespace scopa::test
