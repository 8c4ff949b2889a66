// The control on in-memory views over a folder of 10,000 pictures whose thumbnails a static
// cache holds: the time from SetPath to the first screen composed (and the longest tick on
// the way), a scroll step that brings a screen of new cells, the longest tick while
// thumbnails are being made, and the heap a list item costs.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "cache/cache_manager.h"
#include "cache/static_cache_creation.h"
#include "control/scopa_ctrl.h"
#include "list/headless_list_view.h"
#include "platform/folders.h"
#include "shell/headless_tree_view.h"
#include "support/cache_sandbox.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace scopa;
using Clock = std::chrono::steady_clock;

constexpr int kPictureCount = 10000;
constexpr int kUncachedCount = 100;
// A client area whose list shows 6 x 7 large cells, the "first screen" of about 40.
constexpr int kClientWidthPx = 1100;
constexpr int kClientHeightPx = 900;

class QuietHost final : public IControlHost, public IControlEvents {
public:
    void SetWaitCursor(bool) override {}
    void SetTimer(int) override {}
    void KillTimer() override {}
    void OnNavigate() override { navigated = true; }
    bool navigated = false;
};

struct Site {
    QuietHost host;
    CHeadlessTreeView tree;
    CHeadlessListView list;
    CScopaCtrl control{host, &host, tree, list};
    Site() {
        control.OnCreate();
        control.OnSize(kClientWidthPx, kClientHeightPx);
    }
};

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// COUNT copies of one small picture, made once under $SCOPA_BENCH_TMP, with the static cache
// of the folder beside it.
fs::path PictureFolder(int count, const fs::path& cache_base) {
    const char* root = std::getenv("SCOPA_BENCH_TMP");
    fs::path base = fs::path(root != nullptr ? root : TemporaryFolder()) /
                    ("scopa-bench-control-" + std::to_string(count));
    fs::path folder = base / "pictures";
    if (!fs::exists(base / ".complete")) {
        fs::remove_all(base);
        fs::create_directories(folder);
        test::WriteTestPicture(folder / "p00000.bmp", 96, 64, 7);
        for (int i = 1; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "p%05d.bmp", i);
            fs::copy_file(folder / "p00000.bmp", folder / name);
        }
        CreateStaticCache((base / "Disc").string(), folder.string(), {});
        std::ofstream(base / ".complete");
    }
    fs::copy_file(base / "Disc.pvi", cache_base.string() + ".pvi",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(base / "Disc.pvd", cache_base.string() + ".pvd",
                  fs::copy_options::overwrite_existing);
    RegisterStaticCache(cache_base.string() + ".pvi", cache_base.string() + ".pvd",
                        folder.string());
    return folder;
}

// Ticks until the shown folder is filled, then draws the first screen.
void ShowFirstScreen(Site& site, const std::string& folder, double& longest_tick_ms, int& ticks) {
    site.control.SetPath(folder);
    longest_tick_ms = 0;
    ticks = 0;
    while (!site.host.navigated) {
        Clock::time_point start = Clock::now();
        site.control.OnTimer();
        longest_tick_ms = std::max(longest_tick_ms, MillisecondsSince(start));
        ++ticks;
    }
    site.list.Paint();
}

void BM_FirstScreenFromStaticCache(benchmark::State& state) {
    test::CacheSandbox environment;
    fs::path folder = PictureFolder(kPictureCount, environment.root() / "Disc");
    double longest_tick_ms = 0;
    int ticks = 0;
    long cells = 0;
    for (auto _ : state) {
        CPreviewCacheManager::Destroy();  // every run reads the caches' indexes afresh
        Clock::time_point start = Clock::now();
        Site site;
        ShowFirstScreen(site, folder.string(), longest_tick_ms, ticks);
        state.SetIterationTime(MillisecondsSince(start) / 1000.0);
        cells = site.control.list().ComposedCells();
    }
    state.counters["cells"] = double(cells);
    state.counters["ticks"] = ticks;
    state.counters["longest_tick_ms"] = longest_tick_ms;
}
BENCHMARK(BM_FirstScreenFromStaticCache)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_ScrollOneScreen(benchmark::State& state) {
    test::CacheSandbox environment;
    fs::path folder = PictureFolder(kPictureCount, environment.root() / "Disc");
    Site site;
    double longest_tick_ms = 0;
    int ticks = 0;
    ShowFirstScreen(site, folder.string(), longest_tick_ms, ticks);
    const int page_px = site.list.GetRowsPerPage() * (kLargeCellPx + kLabelLinePx + kIconRowGapPx);
    long composed = 0;
    int direction = 1;
    for (auto _ : state) {
        long before = site.control.list().ComposedCells();
        Point origin = site.list.GetOrigin();
        site.list.ScrollBy(0, direction * page_px);
        if (site.list.GetOrigin() == origin) {  // at an end: come back the other way
            direction = -direction;
            site.list.ScrollBy(0, direction * page_px);
        }
        site.control.list().OnScrollEnd();
        site.list.Paint();
        composed += site.control.list().ComposedCells() - before;
    }
    state.counters["new_cells"] = double(composed) / double(state.iterations());
}
BENCHMARK(BM_ScrollOneScreen)->Unit(benchmark::kMillisecond);

void BM_LongestTickWhileMakingThumbnails(benchmark::State& state) {
    test::CacheSandbox environment;
    fs::path folder = environment.root() / "new";
    for (int i = 0; i < kUncachedCount; ++i)
        test::WriteTestPicture(folder / ("n" + std::to_string(1000 + i) + ".png"), 900, 700,
                               uint32_t(i));
    double longest_tick_ms = 0;
    int ticks = 0;
    for (auto _ : state) {
        CPreviewCacheManager::Destroy();
        fs::remove_all(environment.cache_dir());
        Site site;
        site.control.SetPreviewListStyle(1);  // small cells: every picture is in view
        site.control.SetPath(folder.string());
        longest_tick_ms = 0;
        ticks = 0;
        for (;;) {
            Clock::time_point start = Clock::now();
            site.control.OnTimer();
            site.list.Paint();
            longest_tick_ms = std::max(longest_tick_ms, MillisecondsSince(start));
            ++ticks;
            CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
            if (site.host.navigated && (manager == nullptr || manager->QueueHead() == nullptr))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kCachingTickIntervalMs));
        }
    }
    state.counters["ticks"] = ticks;
    state.counters["longest_tick_ms"] = longest_tick_ms;
}
BENCHMARK(BM_LongestTickWhileMakingThumbnails)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_HeapPerListItem(benchmark::State& state) {
    test::CacheSandbox environment;
    fs::path folder = PictureFolder(kPictureCount, environment.root() / "Disc");
    double per_item = 0;
    for (auto _ : state) {
        Site site;
        size_t before = mallinfo2().uordblks;
        site.control.list().model().Refresh(CShellPath(folder.string()));
        size_t after = mallinfo2().uordblks;
        per_item = double(after - before) / double(site.control.list().model().GetItemCount());
    }
    state.counters["bytes_per_item"] = per_item;
}
BENCHMARK(BM_HeapPerListItem)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
