// The widget drawing on a real platform (run it under Xvfb, or offscreen): the time from
// SetPath to the first screen drawn over a folder of 10,000 pictures whose thumbnails a static
// cache holds, one frame of scrolling a screen per wheel step (the longest frame as a
// counter), and the resident memory with a folder of 100,000 items shown.
#include <benchmark/benchmark.h>

#include <QAbstractItemView>
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "cache/cache_manager.h"
#include "cache/static_cache_creation.h"
#include "control/scopa_ctrl.h"
#include "platform/registry.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"
#include "widget/qt_list_view.h"
#include "widget/scopa_widget.h"

namespace {

namespace fs = std::filesystem;
using namespace scopa;
using Clock = std::chrono::steady_clock;

constexpr int kPictureCount = 10000;
constexpr int kLargeFolderCount = 100000;
constexpr int kLinksPerFile = 50000;
// A list area showing 6 x 4 large cells beside the tree.
constexpr int kWidgetWidthPx = 1100;
constexpr int kWidgetHeightPx = 700;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

fs::path BenchBase(const std::string& name) {
    const char* root = std::getenv("SCOPA_BENCH_TMP");
    return fs::path(root != nullptr ? root : fs::temp_directory_path().string()) / name;
}

// COUNT links to one small picture, made once; with `cache`, the folder's static cache too,
// registered under `cache_base`.
fs::path PictureFolder(int count, bool cache, const fs::path& cache_base) {
    fs::path base = BenchBase("scopa-bench-widget-" + std::to_string(count));
    fs::path folder = base / "pictures";
    if (!fs::exists(base / ".complete")) {
        fs::remove_all(base);
        fs::create_directories(folder);
        fs::path original;
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "p%06d.bmp", i);
            // A file system allows some tens of thousands of links to one file.
            if (i % kLinksPerFile == 0) {
                original = folder / name;
                test::WriteTestPicture(original, 96, 64, 7);
            } else {
                fs::create_hard_link(original, folder / name);
            }
        }
        if (cache) CreateStaticCache((base / "Disc").string(), folder.string(), {});
        std::ofstream(base / ".complete");
    }
    if (cache) {
        for (const char* extension : {".pvi", ".pvd"}) {
            fs::copy_file(base / (std::string("Disc") + extension), cache_base.string() + extension,
                          fs::copy_options::overwrite_existing);
        }
        RegisterStaticCache(cache_base.string() + ".pvi", cache_base.string() + ".pvd",
                            folder.string());
    }
    return folder;
}

QApplication& Application() {
    static int argc = 1;
    static char name[] = "bench_widget";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

struct ShownWidget {
    ScopaWidget widget;
    bool navigated = false;
    ShownWidget() {
        widget.SetTimerDriven(false);  // the benchmark ticks
        widget.resize(kWidgetWidthPx, kWidgetHeightPx);
        widget.show();
        QObject::connect(&widget, &ScopaWidget::OnNavigate, [this] { navigated = true; });
        QCoreApplication::processEvents();
    }
    // Draws the list now, as the next frame would.
    void Frame() {
        widget.ListView().ActiveView()->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    void Show(const fs::path& folder) {
        widget.SetPath(QString::fromStdString(folder.string()));
        while (!navigated) {
            widget.Control().OnTimer();
        }
        Frame();
    }
};

void BM_WidgetFirstScreenFromStaticCache(benchmark::State& state) {
    Application();
    test::SandboxedEnvironment environment;
    RegistryResetStore();
    CPreviewCacheManager::Destroy();
    fs::path folder = PictureFolder(kPictureCount, true, environment.root() / "Disc");
    long cells = 0;
    for (auto _ : state) {
        CPreviewCacheManager::Destroy();  // every run reads the caches' indexes afresh
        ShownWidget shown;
        Clock::time_point start = Clock::now();
        shown.Show(folder);
        state.SetIterationTime(MillisecondsSince(start) / 1000.0);
        cells = shown.widget.Control().list().ComposedCells();
    }
    state.counters["cells"] = double(cells);
    CPreviewCacheManager::Destroy();
    RegistryResetStore();
}
BENCHMARK(BM_WidgetFirstScreenFromStaticCache)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_WidgetScrollFrame(benchmark::State& state) {
    Application();
    test::SandboxedEnvironment environment;
    RegistryResetStore();
    CPreviewCacheManager::Destroy();
    fs::path folder = PictureFolder(kPictureCount, true, environment.root() / "Disc");
    ShownWidget shown;
    shown.Show(folder);
    CQtListView& view = shown.widget.ListView();
    const int page_px = view.GetRowsPerPage() * (kLargeCellPx + 16 + 4);
    int direction = 1;
    double longest_ms = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        Point origin = view.GetOrigin();
        view.ScrollBy(0, direction * page_px);
        if (view.GetOrigin() == origin) {  // at an end: come back the other way
            direction = -direction;
            view.ScrollBy(0, direction * page_px);
        }
        shown.widget.Control().list().OnScrollEnd();
        shown.Frame();
        double frame_ms = MillisecondsSince(start);
        longest_ms = std::max(longest_ms, frame_ms);
        state.SetIterationTime(frame_ms / 1000.0);
    }
    state.counters["longest_frame_ms"] = longest_ms;
    CPreviewCacheManager::Destroy();
    RegistryResetStore();
}
BENCHMARK(BM_WidgetScrollFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

void BM_WidgetResidentWith100kItems(benchmark::State& state) {
    Application();
    test::SandboxedEnvironment environment;
    RegistryResetStore();
    CPreviewCacheManager::Destroy();
    fs::path folder = PictureFolder(kLargeFolderCount, false, {});
    long resident_kib = 0;
    for (auto _ : state) {
        ShownWidget shown;
        shown.Show(folder);
        resident_kib = ResidentKiB();
    }
    state.counters["resident_MiB"] = double(resident_kib) / 1024.0;
    CPreviewCacheManager::Destroy();
    RegistryResetStore();
}
BENCHMARK(BM_WidgetResidentWith100kItems)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
