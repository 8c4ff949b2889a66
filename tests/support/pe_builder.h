// Builds small Windows programs with real version and bitmap resources for tests, with the
// mingw-w64 cross binutils (resource compiler and linker) and the host preprocessor.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace scopa::test {

struct PilotProgram {
    bool is_64_bit = true;
    std::string file_name = "Pilot.dll";  // ".dll" (any case) links a library, else a program
    // StringFileInfo tables: block name ("040904b0") and its Comments (empty: no Comments).
    std::vector<std::pair<std::string, std::string>> tables = {{"040904b0", "For QLMK hosts"}};
    std::string translation = "0x0409, 1200";  // the Translation value as resource script
    int bitmap_id = 1000;                      // 0: no bitmap
};

// The packed DIB every built program carries as its bitmap (5 x 3, 24 bits).
const std::string& PilotBitmapDib();

// True when the cross tools are installed.
bool HavePeTools();

// Builds the program in `dir` (which receives the intermediate files too) and returns its
// path; empty when a tool failed.
std::filesystem::path BuildPilot(const std::filesystem::path& dir, const PilotProgram& program);

}  // namespace scopa::test
