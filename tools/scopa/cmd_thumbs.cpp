// scopa thumbs: a contact sheet of a folder's pictures as the large-previews list shows them
// once cached. Thumbnails come from the preview caches; missing ones are made through the
// caching tick, newest request first, and stored in the dynamic cache as the list would.
#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cache/background_caching.h"
#include "cache/cache_manager.h"
#include "command.h"
#include "imaging/dib.h"
#include "imaging/picture.h"
#include "list/list_item.h"
#include "list/list_model.h"
#include "platform/loaded_libraries.h"
#include "shell/shell_path.h"

namespace scopa::tool {
namespace {

constexpr const char* kCommandName = "thumbs";
constexpr int kCellSidePx = 128;
constexpr int kLabelHeightPx = 18;
constexpr int kGapPx = 8;
constexpr int kColumns = 6;
constexpr double kLabelFontSizePx = 11.0;
// A picture is tried at most this many times (the failure limit and its first try), plus
// room for interrupted loads, which the tool never has.
constexpr int kTicksPerPicture = kMaxThumbnailFailures + 2;
// Pictures asked for at a time, well below the dynamic cache's capacity.
constexpr size_t kPicturesPerBatch = 50;
static_assert(kPicturesPerBatch < size_t{kDynamicCacheCapacity});

struct SheetCell {
    std::string label;
    oDIB thumbnail;  // empty when there is none
};

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { Cairo().surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* context) const { Cairo().destroy(context); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

SurfacePtr SurfaceOf(const oDIB& dib) {
    SurfacePtr surface(Cairo().image_surface_create(CAIRO_FORMAT_RGB24, dib.Width(), dib.Height()));
    Cairo().surface_flush(surface.get());
    uint8_t* data = Cairo().image_surface_get_data(surface.get());
    int stride = Cairo().image_surface_get_stride(surface.get());
    for (int32_t y = 0; y < dib.Height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (int32_t x = 0; x < dib.Width(); ++x) {
            Rgb colour = dib.PixelColour(x, y);
            row[x] = (uint32_t(colour.red) << 16) | (uint32_t(colour.green) << 8) | colour.blue;
        }
    }
    Cairo().surface_mark_dirty(surface.get());
    return surface;
}

// The label cut with "..." to the cell's width, as the list cuts long names.
std::string FittedLabel(cairo_t* context, const std::string& label) {
    cairo_text_extents_t extents;
    Cairo().text_extents(context, label.c_str(), &extents);
    if (extents.x_advance <= kCellSidePx) return label;
    std::string cut = label;
    while (!cut.empty()) {
        cut.pop_back();
        while (!cut.empty() && (uint8_t(cut.back()) & 0xC0) == 0x80)
            cut.pop_back();
        std::string candidate = cut + "...";
        Cairo().text_extents(context, candidate.c_str(), &extents);
        if (extents.x_advance <= kCellSidePx) return candidate;
    }
    return "...";
}

bool WriteSheet(const std::vector<SheetCell>& cells, const std::string& path) {
    int count = std::max<int>(1, int(cells.size()));
    int columns = std::min(kColumns, count);
    int rows = (count + columns - 1) / columns;
    int width = kGapPx + columns * (kCellSidePx + kGapPx);
    int height = kGapPx + rows * (kCellSidePx + kLabelHeightPx + kGapPx);
    SurfacePtr sheet(Cairo().image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    ContextPtr context(Cairo().create(sheet.get()));
    cairo_t* cr = context.get();
    Cairo().set_source_rgb(cr, 1, 1, 1);
    Cairo().paint(cr);
    Cairo().select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    Cairo().set_font_size(cr, kLabelFontSizePx);
    for (size_t i = 0; i < cells.size(); ++i) {
        double left = kGapPx + double(i % size_t(columns)) * (kCellSidePx + kGapPx);
        double top = kGapPx + double(i / size_t(columns)) * (kCellSidePx + kLabelHeightPx + kGapPx);
        const SheetCell& cell = cells[i];
        if (!cell.thumbnail.IsEmpty()) {
            // Centred in its cell, as the large previews show a thumbnail.
            double x = left + (kCellSidePx - cell.thumbnail.Width()) / 2;
            double y = top + (kCellSidePx - cell.thumbnail.Height()) / 2;
            SurfacePtr picture = SurfaceOf(cell.thumbnail);
            Cairo().set_source_surface(cr, picture.get(), x, y);
            Cairo().paint(cr);
        } else {
            Cairo().set_source_rgb(cr, 0.85, 0.85, 0.85);
            Cairo().rectangle(cr, left + 0.5, top + 0.5, kCellSidePx - 1, kCellSidePx - 1);
            Cairo().set_line_width(cr, 1);
            Cairo().stroke(cr);
        }
        std::string label = FittedLabel(cr, cell.label);
        cairo_text_extents_t extents;
        Cairo().text_extents(cr, label.c_str(), &extents);
        Cairo().set_source_rgb(cr, 0, 0, 0);
        Cairo().move_to(cr, left + (kCellSidePx - extents.x_advance) / 2,
                        top + kCellSidePx + kLabelHeightPx - 5);
        Cairo().show_text(cr, label.c_str());
    }
    Cairo().surface_flush(sheet.get());
    return Cairo().surface_write_to_png(sheet.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

// Keeps why a waiting picture's first try failed (the reason of the load it just made), and
// warns with that reason once the picture is given up.
void NoteFailedTick(CachingJobResult result, const CCacheEntry* entry,
                    const std::unordered_map<const CCacheEntry*, size_t>& waiting,
                    const std::vector<SheetCell>& cells,
                    std::unordered_map<const CCacheEntry*, std::string>& failures) {
    auto cell = waiting.find(entry);
    if (cell == waiting.end()) return;
    // The first try's reason is kept: later tries may only find the failure it recorded.
    if (result == CachingJobResult::kFailed) {
        const FilterFailure& why = LastPictureFailure();
        failures.try_emplace(entry, why.IsSet() ? why.text : "it cannot be read");
    } else if (result == CachingJobResult::kNotWritten) {
        failures.try_emplace(entry, "it cannot be stored in the dynamic cache");
    } else if (result == CachingJobResult::kGivenUp) {
        std::string& why = failures[entry];
        std::fprintf(stderr, "scopa %s: warning: no thumbnail of %s: %s\n", kCommandName,
                     cells[cell->second].label.c_str(),
                     why.empty() ? "it cannot be read" : why.c_str());
    }
}

int RunThumbs(const Arguments& arguments) {
    if (arguments.positional.size() != 1) {
        return Fail(kCommandName, "expects one FOLDER (see --help)", kExitUsage);
    }
    std::optional<std::string> output = arguments.Value("-o");
    if (!output) return Fail(kCommandName, "give -o SHEET.png", kExitUsage);
    if (!LoadCairo()) return Fail(kCommandName, "cannot load the cairo library");
    std::string folder = PathFromArgument(arguments.positional[0]);
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        return Fail(kCommandName, folder + " is not a folder");
    }
    CPreviewListModel model;
    model.SetShowHiddenFiles(arguments.Has("--hidden"));
    model.Refresh(CShellPath(folder));

    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    std::vector<SheetCell> cells;
    std::vector<std::string> paths;
    for (const auto& item : model.items()) {
        if (item->GetKind() != ListItemKind::Picture) continue;
        cells.emplace_back().label = item->GetLabel();
        paths.push_back(item->GetItemPath());
    }
    // The list's timer would make the missing ones one per tick. They are asked for in
    // batches well below the dynamic cache's capacity, and each thumbnail is drawn into its
    // cell as soon as it is stored: in a folder of more pictures than the cache holds, later
    // requests recycle the entries of earlier ones.
    CBackgroundCaching caching(&model, nullptr);
    int made = 0;
    int from_caches = 0;
    for (size_t first = 0; first < cells.size(); first += kPicturesPerBatch) {
        size_t end = std::min(cells.size(), first + kPicturesPerBatch);
        std::unordered_map<const CCacheEntry*, size_t> waiting;
        std::unordered_map<const CCacheEntry*, std::string> failures;
        for (size_t i = first; i < end; ++i) {
            CacheFilePath parts = SplitCacheFilePath(paths[i]);
            CCacheEntry* entry =
                manager.FindOrCreateEntry(parts.folder_path, parts.file_name, true);
            if (entry == nullptr) continue;
            if (FetchThumbnail(*entry, cells[i].thumbnail)) {
                ++from_caches;
            } else {
                waiting[entry] = i;
            }
        }
        for (size_t tick = 0;
             tick < (end - first) * kTicksPerPicture && manager.QueueHead() != nullptr; ++tick) {
            CCacheEntry* entry = caching.Tick();
            NoteFailedTick(caching.LastResult(), entry, waiting, cells, failures);
            if (caching.LastResult() != CachingJobResult::kWritten) continue;
            auto cell = waiting.find(entry);
            if (cell != waiting.end() && FetchThumbnail(*entry, cells[cell->second].thumbnail)) {
                ++made;
            }
        }
        manager.ClearQueue();
    }
    int missing = 0;
    for (const SheetCell& cell : cells)
        missing += cell.thumbnail.IsEmpty() ? 1 : 0;
    caching.ControlDestroyed();
    if (!WriteSheet(cells, *output)) return Fail(kCommandName, "cannot write " + *output);
    std::printf("%zu pictures, %d thumbnails made, %d from the caches, %d without\n", cells.size(),
                made, from_caches, missing);
    return kExitOk;
}

const RegisterCommand kRegistration({
    kCommandName,
    "thumbs FOLDER -o SHEET.png [--hidden]",
    "Draw a contact sheet of a folder's pictures from the preview caches",
    "The folder is listed as the preview list shows it; each picture's thumbnail is taken\n"
    "from the preview caches, and the missing ones are made one per caching tick (newest\n"
    "request first) and stored in the dynamic cache, whose index is saved at the end. The\n"
    "sheet has six 128 x 128 cells to a row, each thumbnail centred with its label below;\n"
    "a picture that gives no thumbnail leaves an empty framed cell.",
    {{"-o", true, "write the contact sheet as a PNG file"},
     {"--hidden", false, "also hidden files, whatever the registry's \"Hidden\" setting says"}},
    RunThumbs,
});

}  // namespace
}  // namespace scopa::tool
