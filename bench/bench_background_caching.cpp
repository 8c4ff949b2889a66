// Thumbnails served from a compressed static cache as a shown folder fetches them: 200
// Valid entries found through the manager and read into bitmaps. The cache is made once by
// CreateStaticCache from 200 small generated pictures.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "cache/background_caching.h"
#include "cache/cache_manager.h"
#include "cache/static_cache_creation.h"
#include "imaging/dib.h"
#include "platform/registry.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace scopa;

constexpr int kShownItems = 200;

std::string PictureName(int number) {
    return "picture" + std::to_string(number) + ".png";
}

void BM_FetchValidThumbnailsFromStaticCache(benchmark::State& state) {
    test::SandboxedEnvironment environment;
    RegistryResetStore();
    CPreviewCacheManager::Destroy();
    fs::path root = environment.root() / "disc";
    for (int i = 0; i < kShownItems; ++i) {
        test::WriteTestPicture(root / PictureName(i), 64 + i % 64, 48, uint32_t(i));
    }
    CreateStaticCache((environment.root() / "Disc").string(), root.string(), {});
    // Read again through the registration, as a later run would.
    CPreviewCacheManager::Destroy();
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    const std::string folder = root.string();
    int fetched = 0;
    for (auto _ : state) {
        fetched = 0;
        for (int i = 0; i < kShownItems; ++i) {
            CCacheEntry* entry = manager.FindEntry(folder, PictureName(i));
            oDIB bitmap;
            if (entry != nullptr && FetchThumbnail(*entry, bitmap)) ++fetched;
            benchmark::DoNotOptimize(bitmap);
        }
    }
    state.counters["fetched"] = fetched;
    CPreviewCacheManager::Destroy();
    RegistryResetStore();
}
BENCHMARK(BM_FetchValidThumbnailsFromStaticCache)->Unit(benchmark::kMillisecond);

}  // namespace
