// Pilot programs: PE files with real version and bitmap resources, built by the cross
// binutils' resource compiler and linker, then damaged on purpose.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "documents/pilot_programs.h"
#include "fixtures/compound_writer.h"
#include "fixtures/document_writer.h"
#include "platform/text.h"
#include "support/pe_builder.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

class PilotTest : public testing::Test {
protected:
    void SetUp() override {
        if (!HavePeTools()) GTEST_SKIP() << "the mingw-w64 binutils are not installed";
    }
    fs::path Build(const PilotProgram& program) {
        fs::path sub = dir / std::to_string(++m_builds);
        fs::create_directories(sub);
        fs::path path = BuildPilot(sub, program);
        EXPECT_FALSE(path.empty()) << "building " << program.file_name;
        return path;
    }
    ScopedTempDir dir;

private:
    int m_builds = 0;
};

TEST_F(PilotTest, MarkedProgramsWithBitmap1000ArePilotsIn32And64Bits) {
    for (bool is_64_bit : {true, false}) {
        for (const char* name : {"Pilot.dll", "TOOL.EXE"}) {
            PilotProgram program;
            program.is_64_bit = is_64_bit;
            program.file_name = name;
            fs::path path = Build(program);
            auto resources = PeResources::Open(path.string());
            ASSERT_NE(resources, nullptr) << name;
            EXPECT_EQ(resources->Is64Bit(), is_64_bit);
            EXPECT_TRUE(HasPilotVersionMark(*resources, "QLMK"));
            EXPECT_TRUE(
                IsPilot(path.string(), "QLMK", "SOFTWARE\\QOR\\Quillmark\\3.0\\Pilots\\", {}))
                << name << (is_64_bit ? " 64" : " 32");
            EXPECT_FALSE(
                IsPilot(path.string(), "TSLN", "SOFTWARE\\QOR\\Tessellan\\4.0\\Pilots\\", {}));
            EXPECT_FALSE(IsPilot(path.string(), "qlmk", "", {})) << "the tag is case-sensitive";
        }
    }
}

// Data appended after the image, as installers do, is never read.
TEST_F(PilotTest, BitmapDecodesFromTheResourcesAloneEvenInLargePrograms) {
    fs::path path = Build(PilotProgram{});
    WriteFileBytes(path, ReadFileBytes(path) + std::string(20 << 20, 'o'));
    EXPECT_TRUE(IsPilot(path.string(), "QLMK", "", {}));
    DocumentPreview preview;
    ASSERT_TRUE(MakePilotPreview(path.string(), &preview));
    EXPECT_EQ(preview.width_px, 5);
    EXPECT_EQ(preview.height_px, 3);
    EXPECT_EQ(preview.bits_per_pixel, 24);
    // Top-left pixel: the first three bytes of the last stored row, blue first.
    const auto* bits = reinterpret_cast<const uint8_t*>(PilotBitmapDib().data()) + 40;
    const uint8_t* top = bits + 2 * DibRowBytes(5, 24);
    EXPECT_EQ(preview.pixels[0], (uint32_t(top[2]) << 16) | (uint32_t(top[1]) << 8) | top[0]);
    auto resources = PeResources::Open(path.string());
    ASSERT_NE(resources, nullptr);
    ASSERT_TRUE(LoadPilotBitmap(*resources, &preview));
    EXPECT_TRUE(HasPilotVersionMark(*resources, "QLMK"));
    EXPECT_LT(resources->BytesRead(), 4096u);
}

TEST_F(PilotTest, RegistryMarksWhatTheVersionResourceDoesNot) {
    PilotProgram program;
    program.file_name = "Helper.exe";
    program.tables = {{"040904b0", "no tag here"}};
    fs::path path = Build(program);
    const std::string key_root = "SOFTWARE\\QOR\\Tessellan\\4.0\\Pilots\\";
    std::vector<std::string> asked;
    auto registry = [&asked, &key_root](const std::string& key) {
        asked.push_back(key);
        return key == key_root + "Helper";
    };
    EXPECT_FALSE(IsPilot(path.string(), "TSLN", key_root, {}));
    EXPECT_TRUE(IsPilot(path.string(), "TSLN", key_root, registry));
    EXPECT_EQ(asked, std::vector<std::string>{key_root + "Helper"});
    EXPECT_EQ(PilotRegistryKey("C:\\Apps\\My.Tool.exe", "K\\"), "K\\My.Tool");
    EXPECT_EQ(PilotRegistryKey("/opt/apps/tool.dll", "K\\"), "K\\tool");
}

TEST_F(PilotTest, TranslationsChooseTheStringTable) {
    PilotProgram program;
    program.tables = {{"040904b0", ""}, {"040704e4", "Pilot fuer QLMK"}};
    program.translation = "0x0409, 1200, 0x0407, 1252";
    EXPECT_TRUE(IsPilot(Build(program).string(), "QLMK", "", {}));
    program.translation = "0x0409, 1200";  // the table with the mark is not listed
    EXPECT_FALSE(IsPilot(Build(program).string(), "QLMK", "", {}));
}

TEST_F(PilotTest, WithoutBitmap1000OrTheRightNameThereIsNoPilot) {
    PilotProgram program;
    program.bitmap_id = 1001;
    EXPECT_FALSE(IsPilot(Build(program).string(), "QLMK", "", {}));
    program.bitmap_id = 0;
    EXPECT_FALSE(IsPilot(Build(program).string(), "QLMK", "", {}));
    program = PilotProgram{};
    program.file_name = "pilot.bin";
    EXPECT_FALSE(IsPilot(Build(program).string(), "QLMK", "", {}));
    EXPECT_FALSE(IsPilot((dir / "missing.exe").string(), "QLMK", "", {}));
}

TEST_F(PilotTest, DamagedFilesFailQuietly) {
    fs::path path = Build(PilotProgram{});
    const std::string good = ReadFileBytes(path);
    ASSERT_FALSE(good.empty());
    // Every truncation and single-byte corruption: readers end and read nothing outside.
    for (size_t cut = 0; cut < good.size(); cut += 3) {
        std::string part = good.substr(0, cut);
        auto resources = PeResources::FromBytes(part.data(), part.size());
        if (resources) {
            DocumentPreview preview;
            LoadPilotBitmap(*resources, &preview);
            HasPilotVersionMark(*resources, "QLMK");
        }
        std::string flipped = good;
        flipped[cut] = char(flipped[cut] ^ 0xFF);
        resources = PeResources::FromBytes(flipped.data(), flipped.size());
        if (resources) {
            DocumentPreview preview;
            LoadPilotBitmap(*resources, &preview);
            HasPilotVersionMark(*resources, "QLMK");
        }
    }
    EXPECT_EQ(PeResources::FromBytes("MZ", 2), nullptr);
    std::string compound = CompoundDocument("not a program");
    EXPECT_EQ(PeResources::FromBytes(compound.data(), compound.size()), nullptr);
}

TEST(VersionInfoTest, OversizedAndMalformedBlocksAreRefused) {
    FileVersionInfo info;
    EXPECT_FALSE(info.Parse(std::vector<uint8_t>(FileVersionInfo::kMaxVersionBlockBytes + 1, 0)));
    EXPECT_FALSE(info.Parse({}));
    std::vector<uint8_t> zero_length(64, 0);
    EXPECT_FALSE(info.Parse(zero_length));
    EXPECT_TRUE(info.Translations().empty());
    EXPECT_FALSE(info.QueryString("\\StringFileInfo\\040904b0\\Comments"));
}

}  // namespace
}  // namespace scopa::test
