// Population and sorting of a folder of N picture files (recognised by extension, filter
// "PCF") through the list model, and of a folder of N symbolic links to them, against the floor of
// a bare directory read with one stat per entry, measured here too. The folder of N empty picture
// files is made once per size under $SCOPA_BENCH_TMP (default: the temporary folder). Heap bytes
// per item are measured with the allocator's own statistics.
#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "bench_folders.h"
#include "list/list_model.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "shell/shell_path.h"

namespace {

namespace fs = std::filesystem;
using namespace scopa;

// Extensions of formats the imaging filters know, mixed as in a real collection.
constexpr const char* kExtensions[] = {".jpg", ".png", ".JPG", ".gif", ".bmp", ".tif"};

std::string FolderOf(int64_t count) {
    return bench::GeneratedFolder("population", count, [count](int64_t i) {
        return "Photo " + std::to_string(i * 7919 % count) +
               kExtensions[i % std::size(kExtensions)];
    });
}

// A folder of N symbolic links, one to each file of FolderOf(N), under the same names.
std::string LinkFolderOf(int64_t count) {
    std::string files = FolderOf(count);
    fs::path links =
        fs::path(files).parent_path() / ("scopa-bench-population-links-" + std::to_string(count));
    if (!fs::exists(links / ".complete")) {
        fs::remove_all(links);
        fs::create_directories(links);
        for (const fs::directory_entry& entry : fs::directory_iterator(files)) {
            if (entry.path().filename() == ".complete") continue;
            fs::create_symlink(entry.path(), links / entry.path().filename());
        }
        std::ofstream(links / ".complete");
    }
    return links.string();
}

// The registry store is kept out of the user's configuration.
void SandboxRegistry() {
    static bool done = [] {
        fs::path dir = fs::path(TemporaryFolder()) / "scopa-bench-population-registry";
        fs::create_directories(dir);
        setenv("SCOPA_REGISTRY_DIR", dir.c_str(), 1);
        RegistryResetStore();
        return true;
    }();
    (void)done;
}

void BM_FloorReadDirWithStat(benchmark::State& state) {
    std::string folder = FolderOf(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench::ReadFolderWithStat(folder));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A refresh as the list runs it: clear, populate with the "PCF" filter, sort by name.
void BM_PopulateAndSort(benchmark::State& state) {
    SandboxRegistry();
    std::string folder_text = FolderOf(state.range(0));
    CPreviewListModel model;
    model.SetFilter("PCF");
    model.SetSortOrder(static_cast<int>(state.range(1)));
    CShellPath folder(folder_text);
    double bytes_per_item = 0;
    for (auto _ : state) {
        model.Clear();
        size_t heap_before = mallinfo2().uordblks;
        model.Refresh(folder);
        size_t heap_after = mallinfo2().uordblks;
        if (model.GetItemCount() != static_cast<size_t>(state.range(0))) {
            state.SkipWithError("not every picture was listed");
            break;
        }
        bytes_per_item = static_cast<double>(heap_after - heap_before) /
                         static_cast<double>(model.GetItemCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["heap_bytes_per_item"] = bytes_per_item;
}

// The same refresh of a folder of N links to pictures (each one resolved as a shortcut),
// to be compared with BM_PopulateAndSort at the same N.
void BM_PopulateLinksAndSort(benchmark::State& state) {
    SandboxRegistry();
    CPreviewListModel model;
    model.SetFilter("PCF");
    CShellPath folder(LinkFolderOf(state.range(0)));
    for (auto _ : state) {
        model.Refresh(folder);
        if (model.GetItemCount() != static_cast<size_t>(state.range(0))) {
            state.SkipWithError("not every link was listed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Sorting alone, the keys computed up front (what a change of sort order costs).
void BM_SortOnly(benchmark::State& state) {
    SandboxRegistry();
    CPreviewListModel model;
    model.Refresh(CShellPath(FolderOf(state.range(0))));
    int order = static_cast<int>(state.range(1));
    for (auto _ : state) {
        model.SetSortOrder(order);
        model.Sort();
        order ^= 1;  // each run starts from the reverse order
        benchmark::DoNotOptimize(model.GetSelectedIndex());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_FloorReadDirWithStat)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PopulateAndSort)
    ->Args({1000, kSortByName})
    ->Args({5000, kSortByName})
    ->Args({100000, kSortByName})
    ->Args({100000, kSortByDateNewestFirst})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PopulateLinksAndSort)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortOnly)
    ->Args({100000, kSortByName})
    ->Args({100000, kSortByType})
    ->Args({100000, kSortByDateNewestFirst})
    ->Unit(benchmark::kMillisecond);

}  // namespace
