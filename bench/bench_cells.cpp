// Cell composition speed: one screen of 40 picture cells (the scroll step the list redraws)
// in both preview styles, over a tiled backdrop, from cached 128 x 128 thumbnails; and how
// long finding a theme icon takes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "imaging/draw.h"
#include "imaging/thumbnail.h"
#include "list/cell_drawing.h"
#include "list/list_item.h"
#include "resources/icon_theme.h"

namespace scopa {
namespace {

constexpr int kCellsPerScreen = 40;

struct NoOwner final : IListItemOwner {
    bool ShowFileExtensions() const override { return true; }
    bool ShowsDrivesFolder() const override { return true; }
};

void BM_ComposeScreenOfCells(benchmark::State& state) {
    const int cell_size = int(state.range(0));
    std::vector<uint8_t> pixels(kThumbnailBytes);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(20 + i % 216);
    oDIB thumbnail = ThumbnailToDib(pixels.data(), {128, 96});
    oDIB backdrop;
    backdrop.Create(48, 48, 24);
    FillRect(backdrop, Rect{0, 0, 24, 24}, Rgb{200, 210, 220});
    NoOwner owner;
    std::vector<std::unique_ptr<CListItem>> items;
    for (int i = 0; i < kCellsPerScreen; ++i) {
        items.push_back(MakeListItem(ListItemKind::Picture, &owner, "p.jpg", 0,
                                     CShellPath("/nowhere/p" + std::to_string(i) + ".jpg"),
                                     i % 4 == 0));
    }
    for (auto _ : state) {
        for (int i = 0; i < kCellsPerScreen; ++i) {
            CellRequest request;
            request.item = items[size_t(i)].get();
            request.cell_size_px = cell_size;
            request.selected = i == 3;
            request.backdrop = &backdrop;
            request.backdrop_x_offset = (i % 6) * (cell_size + 8) + 8;
            request.backdrop_y_offset = (i / 6) * (cell_size + 20);
            request.thumbnail = {PictureThumbnailState::kMade, &thumbnail};
            oDIB cell = ComposeItemImage(request);
            benchmark::DoNotOptimize(cell.Bits().data());
        }
    }
}
BENCHMARK(BM_ComposeScreenOfCells)->Arg(130)->Arg(66)->Unit(benchmark::kMillisecond);

// The first icon a process asks for: the theme's index read and the folders listed.
void BM_FirstThemeIconLookup(benchmark::State& state) {
    for (auto _ : state) {
        IconThemeLookup lookup(DefaultIconBaseFolders(), CurrentIconThemeName());
        std::string file = lookup.FindIconFile("folder", 32);
        benchmark::DoNotOptimize(file.data());
    }
}
BENCHMARK(BM_FirstThemeIconLookup)->Unit(benchmark::kMillisecond);

// A further name in the same process: only the folders not yet listed are read.
void BM_LaterThemeIconLookup(benchmark::State& state) {
    IconThemeLookup lookup(DefaultIconBaseFolders(), CurrentIconThemeName());
    lookup.FindIconFile("folder", 32);
    const char* names[] = {"image-png", "image-x-generic", "text-x-generic", "no-such-icon"};
    size_t i = 0;
    for (auto _ : state) {
        std::string file = lookup.FindIconFile(names[i++ % 4], 32);
        benchmark::DoNotOptimize(file.data());
    }
}
BENCHMARK(BM_LaterThemeIconLookup)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace scopa
