// Folders of many empty files for the folder-reading benchmarks, made once per name and
// size under $SCOPA_BENCH_TMP (default: the temporary folder), and the floor those
// benchmarks compare against: a bare directory read with one stat per entry.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/folders.h"

namespace scopa::bench {

// The folder "scopa-bench-TAG-COUNT" holding COUNT empty files named by `name_of(i)`; a
// ".complete" mark tells a finished folder from one an interrupted run left.
inline std::string GeneratedFolder(const std::string& tag, int64_t count,
                                   const std::function<std::string(int64_t)>& name_of) {
    namespace fs = std::filesystem;
    const char* root = std::getenv("SCOPA_BENCH_TMP");
    fs::path folder = fs::path(root != nullptr ? root : TemporaryFolder()) /
                      ("scopa-bench-" + tag + "-" + std::to_string(count));
    if (!fs::exists(folder / ".complete")) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (int64_t i = 0; i < count; ++i)
            std::ofstream(folder / name_of(i));
        std::ofstream(folder / ".complete");
    }
    return folder.string();
}

// Reads the folder's entries and stats each one; the number of entries stat found.
inline size_t ReadFolderWithStat(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return 0;
    size_t entries = 0;
    while (dirent* entry = readdir(dir)) {
        struct stat info {};
        std::string path = folder + "/" + entry->d_name;
        entries += stat(path.c_str(), &info) == 0 ? 1 : 0;
    }
    closedir(dir);
    return entries;
}

}  // namespace scopa::bench
