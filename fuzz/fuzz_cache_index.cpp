// Any bytes as a cache index: the load must stop cleanly, and what loaded must save and load
// back to the same folders and entries.
#include <cstddef>
#include <cstdint>

#include "cache/cache_files.h"

namespace {

bool SameContents(const scopa::CacheIndexContents& a, const scopa::CacheIndexContents& b) {
    if (a.compressed != b.compressed || a.entry_total != b.entry_total ||
        a.folders.size() != b.folders.size()) {
        return false;
    }
    for (size_t f = 0; f < a.folders.size(); ++f) {
        const auto& x = a.folders[f];
        const auto& y = b.folders[f];
        if (x.folder_path != y.folder_path || x.volume_label != y.volume_label ||
            x.entries.size() != y.entries.size()) {
            return false;
        }
        for (size_t e = 0; e < x.entries.size(); ++e) {
            if (x.entries[e].name != y.entries[e].name ||
                x.entries[e].index != y.entries[e].index ||
                x.entries[e].seq_id != y.entries[e].seq_id ||
                x.entries[e].stamp != y.entries[e].stamp) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scopa::CacheIndexContents loaded = scopa::ParseCacheIndex({data, size});
    std::vector<uint8_t> saved = scopa::SerializeCacheIndex(loaded);
    if (!SameContents(loaded, scopa::ParseCacheIndex(saved))) __builtin_trap();
    // Dropping entries never leaves one outside the bounds it was given.
    scopa::DropEntriesOutsideData(loaded, static_cast<int64_t>(size) * 64, 250);
    for (const auto& folder : loaded.folders) {
        for (const auto& entry : folder.entries) {
            if (entry.index < 0 || (!loaded.compressed && entry.index >= 250)) __builtin_trap();
        }
    }
    return 0;
}
