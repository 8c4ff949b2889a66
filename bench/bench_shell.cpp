// Enumerating a folder through the namespace and making list items of its entries, against
// the floor of a bare directory read with one stat per entry. The folder of N empty ".png"
// files is made once per size under $SCOPA_BENCH_TMP (default: the temporary folder).

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_folders.h"
#include "list/list_item.h"
#include "platform/folders.h"
#include "shell/shell_path.h"

namespace {

namespace fs = std::filesystem;
using namespace scopa;

struct NoDrivesList final : IListItemOwner {
    bool ShowFileExtensions() const override { return true; }
    bool ShowsDrivesFolder() const override { return false; }
};

std::string FolderOf(int64_t count) {
    return bench::GeneratedFolder("shell", count, [count](int64_t i) {
        return "picture-" + std::to_string(i * 7919 % count) + ".png";
    });
}

void BM_BareReadWithStat(benchmark::State& state) {
    std::string folder = FolderOf(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench::ReadFolderWithStat(folder));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// What population does with each entry: name, status, an item; then the sort by name.
void BM_EnumerateMakeItemsAndSort(benchmark::State& state) {
    std::string folder_text = FolderOf(state.range(0));
    NoDrivesList list;
    size_t item_bytes = 0;
    for (auto _ : state) {
        CShellPath folder(folder_text);
        std::vector<std::unique_ptr<CListItem>> items;
        CShellPath child;
        for (bool more = folder.FirstChild(child); more; more = folder.NextChild(child)) {
            std::string name = child.GetDisplayName();
            std::int64_t time = child.GetModifiedTime();
            items.push_back(std::make_unique<CListPictureItem>(&list, std::move(name), time,
                                                               std::move(child), false));
        }
        std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
            return CompareListItems(*a, *b, kSortByName) < 0;
        });
        const CListItem& last = *items.back();
        item_bytes = sizeof(CListPictureItem) + IdlGetSize(last.path().GetIdList()) +
                     last.path().GetPathText().capacity() + last.name().capacity();
        benchmark::DoNotOptimize(items.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["bytes_per_item"] = static_cast<double>(item_bytes);
}

BENCHMARK(BM_BareReadWithStat)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnumerateMakeItemsAndSort)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
