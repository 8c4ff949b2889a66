// Theme index files come from any folder on the data path: any bytes must parse or be
// refused, and what parses must stay inside the stated limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "resources/icon_theme.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto index = scopa::ParseIconThemeIndex(text);
    if (!index) return 0;
    if (index->inherits.size() > scopa::kMaxIconThemeInherits ||
        index->directories.size() > scopa::kMaxIconThemeDirectories) {
        std::abort();
    }
    for (const auto& directory : index->directories) {
        if (directory.size_px < 1 || directory.size_px > scopa::kMaxIconThemeSizePx) std::abort();
        // Both rules must answer for every size without overflowing.
        for (int size_px : {1, 16, 32, scopa::kMaxIconThemeSizePx}) {
            scopa::DirectoryMatchesSize(directory, size_px);
            if (scopa::DirectorySizeDistance(directory, size_px) < 0) std::abort();
        }
    }
    return 0;
}
