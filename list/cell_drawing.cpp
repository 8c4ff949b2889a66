// Composing one cell: the backdrop, then the item's own picture by its kind (a framed
// thumbnail or stored preview, a sidecar picture, a pilot's masked bitmap, or an icon), the
// shortcut arrow at the point the picture reports as its lower-left corner, and the outline
// of the selected item.
#include "list/cell_drawing.h"

#include <array>

#include "documents/document_previews.h"
#include "documents/pilot_programs.h"
#include "documents/preview_dib.h"
#include "imaging/draw.h"
#include "list/cell_backdrop.h"
#include "list/cell_pictures.h"
#include "list/list_item.h"
#include "list/sidecar_picture.h"
#include "resources/icon_theme.h"
#include "resources/pictures.h"

namespace scopa {
namespace {

SystemColours g_colours = SystemColours::Defaults();

// The system icon size.
constexpr int32_t kIconSizePx = 32;
constexpr int32_t kArrowSizePx = 16;

// A picture centred in the cell with a one-pixel frame just outside it: light on the left and
// top, shadow on the right and bottom. The anchor is its lower-left corner.
Point DrawFramedPicture(oDIB& cell, oDIB picture) {
    ShrinkForCell(cell.Width(), picture);
    int32_t x = (cell.Width() - picture.Width()) / 2;
    int32_t y = (cell.Height() - picture.Height()) / 2;
    int32_t right = x + picture.Width(), bottom = y + picture.Height();
    CopyPixels(cell, x, y, picture.Width(), picture.Height(), picture, 0, 0);
    const std::array<Point, 3> light{{{x - 1, bottom}, {x - 1, y - 1}, {right, y - 1}}};
    const std::array<Point, 3> shadow{{{right, y - 1}, {right, bottom}, {x - 1, bottom}}};
    Polyline(cell, light, 1, g_colours[kColourScrollBar]);
    Polyline(cell, shadow, 1, g_colours[kColourButtonShadow]);
    return Point{x, bottom};
}

Point DrawCentredIcon(oDIB& cell, const IconImage& icon) {
    int32_t x = (cell.Width() - kIconSizePx) / 2;
    DrawIcon(cell, x, x, icon);
    return Point{x, x + kIconSizePx};
}

Point DrawPictureThumbnail(oDIB& cell, const PictureThumbnail& thumbnail) {
    if (thumbnail.state == PictureThumbnailState::kMade && thumbnail.bitmap != nullptr &&
        !thumbnail.bitmap->IsEmpty()) {
        return DrawFramedPicture(cell, *thumbnail.bitmap);
    }
    int icon = thumbnail.state == PictureThumbnailState::kFailed ? kIconPictureFailed
                                                                 : kIconPictureWaiting;
    return DrawCentredIcon(cell, LoadResourceIcon(icon, kIconSizePx));
}

// The document's stored preview (`MakePreview` of its kind).
bool MakeDocumentPreview(const CListItem& item, DocumentPreview& preview) {
    DocumentSource source = DocumentSource::File(item.GetItemPath());
    switch (item.GetKind()) {
        case ListItemKind::Dtp:
            return MakeDTPPreview(source, &preview);
        case ListItemKind::Scrap:
            return MakeScrapPreview(source, &preview);
        case ListItemKind::Art:
        case ListItemKind::Snippet:
            return MakeArtPreview(source, &preview);
        case ListItemKind::StyledText:
            return MakeFlourishPreview(source, &preview);
        default:
            return false;
    }
}

Point DrawDocumentThumbnail(oDIB& cell, const CListItem& item, const CellRequest& request) {
    ListItemKind kind = item.GetKind();
    Point anchor;
    if ((kind == ListItemKind::Dtp || kind == ListItemKind::Scrap) &&
        DrawSidecarPicture(cell, item.GetItemPath(), request.show_folder_overlays, anchor)) {
        return anchor;
    }
    DocumentPreview preview;
    if (MakeDocumentPreview(item, preview)) {
        oDIB picture = PreviewToDib(preview);
        if (!picture.IsEmpty()) return DrawFramedPicture(cell, std::move(picture));
    }
    int icon = kind == ListItemKind::StyledText ? kIconStyledText : kIconDocument;
    return DrawCentredIcon(cell, LoadResourceIcon(icon, kIconSizePx));
}

// The pilot's bitmap with the colour of its pixel (1, 1) see-through: the key pixels are
// blackened in the picture, cleared through the mask in the cell, and the two are or-ed.
Point DrawPilotThumbnail(oDIB& cell, const CListItem& item) {
    DocumentPreview preview;
    oDIB picture;
    if (MakePilotPreview(item.GetItemPath(), &preview)) picture = PreviewToDib(preview);
    if (picture.IsEmpty()) {
        int32_t x = (cell.Width() - kIconSizePx) / 2;
        return Point{x, x + kIconSizePx};
    }
    ShrinkForCell(cell.Width(), picture);
    oDIB mask = MaskOfKeyColour(picture);
    int32_t width = picture.Width(), height = picture.Height();
    BitBlt(picture, 0, 0, width, height, mask, 0, 0, RasterOp::kSrcAnd,
           BlitColours{.text = kWhite, .background = kBlack});
    int32_t x = (cell.Width() - width) / 2;
    int32_t y = (cell.Height() - height) / 2;
    BitBlt(cell, x, y, width, height, mask, 0, 0, RasterOp::kSrcAnd);
    BitBlt(cell, x, y, width, height, picture, 0, 0, RasterOp::kSrcPaint);
    return Point{x, y + height};
}

Point DrawFolderThumbnail(oDIB& cell, const CListItem& item, const CellRequest& request) {
    Point anchor;
    if (DrawSidecarPicture(cell, item.GetItemPath(), request.show_folder_overlays, anchor)) {
        return anchor;
    }
    return DrawCentredIcon(cell, LoadThemeIcon(item.path().GetIconName(0), kIconSizePx));
}

Point DrawThumbnail(oDIB& cell, const CListItem& item, const CellRequest& request) {
    switch (item.GetKind()) {
        case ListItemKind::Picture:
        case ListItemKind::Custom:
            return DrawPictureThumbnail(cell, request.thumbnail);
        case ListItemKind::Folder:
            return DrawFolderThumbnail(cell, item, request);
        case ListItemKind::Pilot:
            return DrawPilotThumbnail(cell, item);
        case ListItemKind::Dtp:
        case ListItemKind::Scrap:
        case ListItemKind::Art:
        case ListItemKind::Snippet:
        case ListItemKind::StyledText:
            return DrawDocumentThumbnail(cell, item, request);
    }
    return Point{};
}

// The shortcut arrow with its lower-left corner at the anchor; folders have none.
void DrawOverlay(oDIB& cell, const CListItem& item, Point anchor) {
    if (item.GetKind() == ListItemKind::Folder) return;
    static const oDIB arrow = LoadResourceBitmap(kBitmapShortcutArrow);
    DrawMaskedImage(cell, anchor.x, anchor.y - kArrowSizePx, arrow, kBitmapMaskColour);
}

// How far the last load has come, as a highlight square growing from the cell's centre.
void DrawLoadProgress(oDIB& cell, int percentage) {
    int32_t half = cell.Width() / 2;
    int32_t reach = MulDiv(half, percentage, 100);
    FillRect(cell, Rect{half - reach, half - reach, half + reach, half + reach},
             g_colours[kColourHighlight]);
}

void DrawSelectionOutline(oDIB& cell) {
    int32_t far = cell.Width() - 1;
    const std::array<Point, 5> outline{{{1, 1}, {1, far}, {far, far}, {far, 1}, {1, 1}}};
    Polyline(cell, outline, 2, g_colours[kColourHighlight]);
}

bool IsPictureKind(ListItemKind kind) {
    return kind == ListItemKind::Picture || kind == ListItemKind::Custom;
}

}  // namespace

SystemColours SystemColours::Defaults() {
    SystemColours defaults;
    defaults.colours.fill(Rgb{192, 192, 192});
    defaults.colours[kColourWindow] = Rgb{255, 255, 255};
    defaults.colours[kColourHighlight] = Rgb{0, 0, 128};
    defaults.colours[kColourButtonShadow] = Rgb{128, 128, 128};
    return defaults;
}

void SetSystemColours(const SystemColours& colours) {
    g_colours = colours;
}
const SystemColours& GetSystemColours() {
    return g_colours;
}

oDIB ComposeItemImage(const CellRequest& request) {
    oDIB cell;
    if (!cell.Create(request.cell_size_px, request.cell_size_px, 24)) return cell;
    // Without a backdrop the list's own background shows.
    FillRect(cell, Rect{0, 0, cell.Width(), cell.Height()}, g_colours[kColourWindow]);
    DrawBackdrop(cell, Rect{0, 0, cell.Width(), cell.Height()}, request.backdrop_x_offset,
                 request.backdrop_y_offset, request.backdrop);
    if (request.item != nullptr) {
        const CListItem& item = *request.item;
        if (IsPictureKind(item.GetKind()) && !request.has_dynamic_cache) {
            DrawLoadProgress(cell, request.load_percentage);
        } else {
            Point anchor = DrawThumbnail(cell, item, request);
            if (request.show_shortcut_overlays && item.IsShortcut()) {
                DrawOverlay(cell, item, anchor);
            }
        }
    }
    if (request.selected) DrawSelectionOutline(cell);
    return cell;
}

}  // namespace scopa
