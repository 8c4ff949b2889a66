// Cache lookups as a shown folder makes them: the entries of the 200 items of one folder,
// found through the manager in a dynamic cache of 250 entries and a registered static cache
// of 50,000 entries (500 folders of 100 pictures), with the indexes already loaded; and the
// load of the static cache's 50,000-entry index into the manager's lists.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cache/cache_manager.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace scopa;

constexpr int kStaticFolders = 500;
constexpr int kEntriesPerStaticFolder = 100;
constexpr int kShownItems = 200;

std::string StaticFolderName(int folder) {
    return "COLLECTION\\VOLUME" + std::to_string(folder / 50) + "\\FOLDER" + std::to_string(folder);
}

CacheIndexContents LargeIndex() {
    CacheIndexContents index;
    index.compressed = true;
    for (int folder = 0; folder < kStaticFolders; ++folder) {
        CacheFolderRecord record{StaticFolderName(folder), "PHOTOS_CD", {}};
        for (int entry = 0; entry < kEntriesPerStaticFolder; ++entry) {
            record.entries.push_back({"PICTURE" + std::to_string(entry) + ".JPG",
                                      folder * 100 + entry, entry, 900000000, EntryState::kValid});
        }
        index.folders.push_back(std::move(record));
    }
    return index;
}

// A sandboxed registry with the static cache registered and a manager whose dynamic cache
// holds 250 entries (of the shown folder's first 100 items and of 150 others).
class ShownFolder {
public:
    ShownFolder() {
        RegistryResetStore();
        CPreviewCacheManager::Destroy();
        fs::path base = m_environment.root() / "disc";
        m_ready = SaveCacheIndex(CacheIndexPath(base), LargeIndex()) && CreateEmptyDataFile(base);
        RegistryKey key =
            RegistryKey::Create(HKEY_LOCAL_MACHINE, std::string(kPreviewCachesKey) + "\\Cache1");
        key.WriteString(kPreviewIndexFileValue, CacheIndexPath(base).string());
        key.WriteString(kPreviewDataFileValue, CacheDataPath(base).string());
        key.WriteString(kRootFolderValue, "/media/cdrom");
        m_indexPath = CacheIndexPath(base);
        CPreviewCacheManager& manager = CPreviewCacheManager::Get();
        for (int item = 0; item < 150; ++item) {
            manager.FindOrCreateEntry("/home/user/other", "p" + std::to_string(item) + ".jpg",
                                      true);
        }
        for (int item = 0; item < kShownItems; ++item) {
            m_dynamicNames.push_back("Shown" + std::to_string(item) + ".jpg");
            if (item < 100) manager.FindOrCreateEntry(kDynamicFolder, m_dynamicNames.back(), true);
        }
        for (int item = 0; item < kShownItems; ++item) {
            m_staticNames.push_back("picture" + std::to_string(item % 100) + ".jpg");
        }
        // The static index is loaded by the first lookup under its root.
        manager.FindEntry(kStaticFolder, "picture0.jpg");
        m_ready =
            m_ready && manager.Caches().Count() == 2 && manager.DynamicCache()->EntryCount() == 250;
    }
    ~ShownFolder() {
        CPreviewCacheManager::Destroy();
        RegistryResetStore();
    }

    static constexpr const char* kDynamicFolder = "/home/user/Pictures/Trip";
    static constexpr const char* kStaticFolder = "/media/cdrom/collection/volume3/folder170";

    test::SandboxedEnvironment m_environment;
    bool m_ready = false;
    fs::path m_indexPath;
    std::vector<std::string> m_dynamicNames;
    std::vector<std::string> m_staticNames;
};

// 200 items of a folder held by the dynamic cache (100 found, 100 missing everywhere).
void BM_FindShownFolderInDynamicCache(benchmark::State& state) {
    ShownFolder shown;
    if (!shown.m_ready) return state.SkipWithError("cannot build the caches");
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    for (auto _ : state) {
        for (const std::string& name : shown.m_dynamicNames) {
            benchmark::DoNotOptimize(manager.FindEntry(ShownFolder::kDynamicFolder, name));
        }
    }
    state.SetItemsProcessed(state.iterations() * kShownItems);
}
BENCHMARK(BM_FindShownFolderInDynamicCache)->Unit(benchmark::kMicrosecond);

// 200 items of a folder of the CD (its 100 pictures twice), all found in the static cache
// after the dynamic cache was asked.
void BM_FindShownFolderInStaticCache(benchmark::State& state) {
    ShownFolder shown;
    if (!shown.m_ready) return state.SkipWithError("cannot build the caches");
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    for (auto _ : state) {
        for (const std::string& name : shown.m_staticNames) {
            benchmark::DoNotOptimize(manager.FindEntry(ShownFolder::kStaticFolder, name));
        }
    }
    state.SetItemsProcessed(state.iterations() * kShownItems);
}
BENCHMARK(BM_FindShownFolderInStaticCache)->Unit(benchmark::kMicrosecond);

// The static cache's index read from its file into folders, entries and their indexes.
void BM_LoadStaticIndex50000Entries(benchmark::State& state) {
    ShownFolder shown;
    if (!shown.m_ready) return state.SkipWithError("cannot build the caches");
    for (auto _ : state) {
        CPreviewCache cache(shown.m_indexPath, "", "/media/cdrom", true, 0);
        cache.EnsureLoaded();
        benchmark::DoNotOptimize(cache.EntryCount());
    }
}
BENCHMARK(BM_LoadStaticIndex50000Entries)->Unit(benchmark::kMillisecond);

}  // namespace
