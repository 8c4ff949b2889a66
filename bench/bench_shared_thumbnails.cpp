// Filling our dynamic cache for a folder of photographs (SCOPA_PHOTO_DIR, every file in it and
// below): from the originals, as before; from the originals while also writing each render
// back into the desktop's thumbnail cache; and from the large thumbnails a file manager has
// already made there. Each run starts with an empty dynamic cache; the caching job runs
// back to back, without the timer's pauses.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cache/background_caching.h"
#include "cache/cache_manager.h"
#include "cache/freedesktop_thumbnails.h"
#include "cache/shared_thumbnails.h"
#include "imaging/dib.h"
#include "imaging/picture.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace scopa;

std::vector<fs::path> Photographs() {
    std::vector<fs::path> files;
    const char* folder = std::getenv("SCOPA_PHOTO_DIR");
    if (folder == nullptr) return files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        if (entry.is_regular_file() && IsPictureOfKind(entry.path().string(), "PCF", true)) {
            files.push_back(entry.path());
        }
    }
    return files;
}

// Requests every photograph and runs the caching job until the queue is empty; the number of
// thumbnails written.
int FillDynamicCache(const std::vector<fs::path>& files) {
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    for (const fs::path& file : files) {
        oDIB unused;
        CCacheEntry* entry =
            manager.FindOrCreateEntry(file.parent_path().string(), file.filename().string(), true);
        if (entry != nullptr) FetchThumbnail(*entry, unused);
    }
    CBackgroundCaching caching(nullptr, nullptr);
    int written = 0;
    while (!manager.Queue().IsEmpty()) {
        if (caching.MakeQueueHeadThumbnail() == CachingJobResult::kWritten) ++written;
    }
    return written;
}

enum class Source { kOriginals, kOriginalsSharing, kDesktopThumbnails };

void BM_FillFromPhotographs(benchmark::State& state, Source source) {
    std::vector<fs::path> files = Photographs();
    test::SandboxedEnvironment environment;
    SetShareThumbnails(source != Source::kOriginals);
    const fs::path cache = environment.cache_dir();
    if (source == Source::kDesktopThumbnails) {
        RegistryResetStore();
        CPreviewCacheManager::Destroy();
        FillDynamicCache(files);  // writes the large thumbnails, as a file manager would have
    }
    int written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CPreviewCacheManager::Destroy();
        RegistryResetStore();
        fs::remove(cache / "scopa" / "ImgCache.pvi");
        fs::remove(cache / "scopa" / "ImgCache.pvd");
        if (source != Source::kDesktopThumbnails) fs::remove_all(cache / "thumbnails");
        state.ResumeTiming();
        written = FillDynamicCache(files);
    }
    state.counters["pictures"] = double(written);
    state.counters["ms_per_picture"] =
        benchmark::Counter(double(written) / 1000.0, benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    CPreviewCacheManager::Destroy();
    RegistryResetStore();
    SetShareThumbnails(true);
}

const bool kRegistered = [] {
    if (std::getenv("SCOPA_PHOTO_DIR") == nullptr) return false;
    benchmark::RegisterBenchmark("BM_FillFromOriginals", BM_FillFromPhotographs, Source::kOriginals)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_FillFromOriginalsWritingThemBack", BM_FillFromPhotographs,
                                 Source::kOriginalsSharing)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_FillFromDesktopThumbnails", BM_FillFromPhotographs,
                                 Source::kDesktopThumbnails)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    return true;
}();

}  // namespace
