#include "support/pe_builder.h"

#include <cstdlib>

#include "fixtures/compound_writer.h"
#include "fixtures/document_writer.h"
#include "platform/text.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {

namespace fs = std::filesystem;

const std::string& PilotBitmapDib() {
    static const std::string dib = PackedDib(5, 3, 24, "", 42);
    return dib;
}

bool HavePeTools() {
    static const bool have = std::system(
                                 "command -v x86_64-w64-mingw32-windres >/dev/null 2>&1 && "
                                 "command -v i686-w64-mingw32-ld >/dev/null 2>&1 && "
                                 "command -v cpp >/dev/null 2>&1") == 0;
    return have;
}

namespace {

std::string ResourceScript(const PilotProgram& program) {
    std::string rc;
    if (program.bitmap_id != 0) rc += std::to_string(program.bitmap_id) + " BITMAP \"pic.bmp\"\n";
    rc +=
        "1 VERSIONINFO\nFILEVERSION 1,0,0,0\nPRODUCTVERSION 1,0,0,0\nBEGIN\n"
        "  BLOCK \"StringFileInfo\"\n  BEGIN\n";
    for (const auto& [name, comments] : program.tables) {
        rc += "    BLOCK \"" + name + "\"\n    BEGIN\n      VALUE \"ProductName\", \"Pilot\"\n";
        if (!comments.empty()) rc += "      VALUE \"Comments\", \"" + comments + "\"\n";
        rc += "    END\n";
    }
    rc += "  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", " +
          program.translation + "\n  END\nEND\n";
    return rc;
}

}  // namespace

fs::path BuildPilot(const fs::path& dir, const PilotProgram& program) {
    // A .bmp file: the 14-byte file header, then the packed DIB.
    std::string bmp = "BM";
    AppendLe32(bmp, uint32_t(14 + PilotBitmapDib().size()));
    AppendLe32(bmp, 0);
    AppendLe32(bmp, 14 + 40);
    WriteFileBytes(dir / "pic.bmp", bmp + PilotBitmapDib());
    WriteFileBytes(dir / "pilot.rc", ResourceScript(program));
    const std::string prefix = program.is_64_bit ? "x86_64-w64-mingw32-" : "i686-w64-mingw32-";
    const bool dll = EndsWithNoCase(program.file_name, ".dll");
    fs::path out = dir / program.file_name;
    std::string command = "cd '" + dir.string() + "' && " + prefix +
                          "windres --preprocessor=cpp --preprocessor-arg=-P -i pilot.rc -o res.o"
                          " && " +
                          prefix + "ld " + (dll ? "--dll " : "") + "-e 0 -o '" + out.string() +
                          "' res.o >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    return out;
}

}  // namespace scopa::test
