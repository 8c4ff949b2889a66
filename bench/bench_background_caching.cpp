// Thumbnails served from a compressed static cache as a shown folder fetches them: 200
// Valid entries found through the manager and read into bitmaps. The cache is made once by
// CreateStaticCache from 200 small generated pictures.
//
// And the caching tick filling a folder of 12 new 1600 x 1200 pictures, with thumbnails made
// in the tick and on the worker thread, the timer set again after each tick: how long each
// tick holds the control's thread (the longest and the mean) and how long the folder takes
// to fill.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cache/background_caching.h"
#include "cache/cache_manager.h"
#include "cache/static_cache_creation.h"
#include "imaging/dib.h"
#include "platform/registry.h"
#include "support/cache_sandbox.h"
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
    test::CacheSandbox environment;
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
}
BENCHMARK(BM_FetchValidThumbnailsFromStaticCache)->Unit(benchmark::kMillisecond);

constexpr int kNewPictures = 12;

void BM_FillAFolderThroughTheTick(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const bool on_worker = state.range(0) != 0;
    const std::chrono::milliseconds interval(state.range(1));
    test::CacheSandbox environment;
    fs::path root = environment.root() / "photos";
    for (int i = 0; i < kNewPictures; ++i) {
        test::WriteTestPicture(root / PictureName(i), 1600, 1200, uint32_t(i));
    }
    double longest_ms = 0;
    double busy_ms = 0;
    int ticks = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RegistryResetStore();
        CPreviewCacheManager::Destroy();
        fs::remove_all(environment.root() / "cache");
        CPreviewCacheManager& manager = CPreviewCacheManager::Get();
        for (int i = 0; i < kNewPictures; ++i) {
            oDIB unused;
            FetchThumbnail(*manager.FindOrCreateEntry(root.string(), PictureName(i), true), unused);
        }
        CBackgroundCaching caching(nullptr, nullptr);
        caching.UseWorkerThread(on_worker);
        state.ResumeTiming();
        while (!manager.Queue().IsEmpty()) {
            auto start = Clock::now();
            caching.Tick();
            double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            longest_ms = std::max(longest_ms, ms);
            busy_ms += ms;
            ++ticks;
            // The control sets its timer again after each tick.
            std::this_thread::sleep_for(interval);
        }
    }
    state.counters["longest_tick_ms"] = longest_ms;
    state.counters["mean_tick_ms"] = ticks > 0 ? busy_ms / ticks : 0;
    state.counters["ticks"] = benchmark::Counter(ticks, benchmark::Counter::kAvgIterations);
}
// The control's 50 ms timer, and a 1 ms one that shows the making itself.
BENCHMARK(BM_FillAFolderThroughTheTick)
    ->ArgNames({"worker", "interval_ms"})
    ->Args({0, kCachingTickIntervalMs})
    ->Args({1, kCachingTickIntervalMs})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
