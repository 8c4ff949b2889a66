// The cell of one item in the two preview styles: a square picture of the list's cell size
// with the backdrop behind, the item's thumbnail, stored preview or icon centred on it, the
// shortcut arrow, the folder badge, and the highlight outline of the selected item. Each
// request composes anew; nothing is kept between requests but the process-wide colours.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

class CListItem;

// The system colours, by their Windows index (0 scroll bar, 5 window, 13 highlight, 16 button
// shadow, ...). The host sets them from its palette; until then the classic defaults apply.
inline constexpr int kColourScrollBar = 0;
inline constexpr int kColourWindow = 5;
inline constexpr int kColourHighlight = 13;
inline constexpr int kColourButtonShadow = 16;
inline constexpr int kSystemColourCount = 31;

struct SystemColours {
    std::array<Rgb, kSystemColourCount> colours{};
    Rgb operator[](int index) const { return colours[size_t(index)]; }
    static SystemColours Defaults();
};
void SetSystemColours(const SystemColours& colours);
const SystemColours& GetSystemColours();

// What the cache has for a picture item.
enum class PictureThumbnailState {
    kMade,     // `bitmap` holds the cache thumbnail
    kWaiting,  // not made yet (or being made)
    kFailed,   // given up after its failures
};
struct PictureThumbnail {
    PictureThumbnailState state = PictureThumbnailState::kWaiting;
    const oDIB* bitmap = nullptr;  // the thumbnail as the cache fetch gives it, when made
};

struct CellRequest {
    const CListItem* item = nullptr;
    int cell_size_px = 130;  // 130 in the large preview style, 66 in the small one
    bool selected = false;
    bool show_shortcut_overlays = true;
    bool show_folder_overlays = true;
    // Where the backdrop's tiling starts: the item's icon rectangle plus the list's origin
    // (left + origin x + 8, top + origin y), so cells continue the backdrop behind them.
    int backdrop_x_offset = 0;
    int backdrop_y_offset = 0;
    const oDIB* backdrop = nullptr;  // null: no backdrop is painted (CurrentBackdrop() gives it)
    // Picture items only.
    bool has_dynamic_cache = true;  // false: only the load-progress rectangle is drawn
    int load_percentage = 0;
    PictureThumbnail thumbnail;
};

// The backdrop offsets of a cell from the item's icon rectangle and the list's origin.
inline Point CellBackdropOffsets(const Rect& icon_rect, Point origin) {
    return Point{icon_rect.left + origin.x + 8, icon_rect.top + origin.y};
}

// The composed cell: cell_size_px square, 24 bits per pixel. Pictures without a dynamic cache
// show only the load-progress square; other items their thumbnail, stored preview, sidecar
// picture or icon, with the shortcut arrow when asked for; the selected one its outline.
oDIB ComposeItemImage(const CellRequest& request);

}  // namespace scopa
