// The list view the preview list talks to: a window that shows rows of one folder in one of
// three modes, asks its client for each row's texts and picture, and answers questions about
// geometry. The headless view lays rows out in memory; the widget's view is a real item view.
// Rectangles are in the view's client coordinates, so a row scrolled out of view lies outside
// the client rectangle.
#pragma once

#include <cstddef>
#include <string>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

// Icons: square cells with a label line under each (the two preview styles); List: one small
// icon and the label per row; Details: the same with the size, type and date columns.
enum class ListViewMode { kIcons, kList, kDetails };

// The parts of a row a rectangle can be asked for.
enum class ListItemPart {
    kIcon,    // the picture (in icon mode the cell with its side margins)
    kLabel,   // the text
    kBounds,  // both
};

// The details columns, left to right.
enum ListColumn : int { kColumnName = 0, kColumnSize = 1, kColumnType = 2, kColumnModified = 3 };
inline constexpr int kListColumnCount = 4;

// In icon mode a cell lies this far inside either side of its row's icon rectangle.
inline constexpr int kIconSideMarginPx = 8;

// A row's image answer: an image slot in icon mode, an icon index (IconIndexOfName) in the
// other modes.
inline constexpr int kImageCallback = -1;

class IListViewClient {
public:
    virtual ~IListViewClient() = default;
    virtual size_t GetRowCount() const = 0;
    virtual std::string GetRowText(size_t row, int column) const = 0;
    // Asked when the row is drawn: in icon mode the client composes the row's cell, puts it
    // into an image slot (SetImageSlot) and returns the slot.
    virtual int GetRowImage(size_t row) = 0;
    virtual bool IsRowSelected(size_t row) const = 0;
};

class IListView {
public:
    virtual ~IListView() = default;
    virtual void SetClient(IListViewClient* client) = 0;

    // Where the view lies in the control's client area.
    virtual void MoveTo(const Rect& bounds) = 0;
    virtual Rect GetBounds() const = 0;
    // Raises the view above its siblings.
    virtual void BringToTop() = 0;

    // The mode and, in icon mode, the cell size in pixels. Keeps the rows.
    virtual void SetMode(ListViewMode mode, int cell_size_px) = 0;
    virtual ListViewMode GetMode() const = 0;
    // The rows' count or order changed: lay out again, keeping the scroll position where it
    // still fits.
    virtual void ResetRows() = 0;
    // The row's picture or selection changed: the view asks for its image again when it
    // next draws it.
    virtual void UpdateRow(size_t row) = 0;
    // Stops and restarts drawing around a batch of changes.
    virtual void SetRedraw(bool redraw) = 0;

    // The 16 image slots of icon mode: `count` blank slots of the cell size, then single
    // slots replaced as cells are composed.
    virtual void ResetImageSlots(int count, int cell_size_px) = 0;
    virtual void SetImageSlot(int slot, const oDIB& cell) = 0;

    virtual Rect GetClientRect() const = 0;
    virtual Rect GetItemRect(size_t row, ListItemPart part) const = 0;
    // The scroll position: the content point at the client's top-left corner.
    virtual Point GetOrigin() const = 0;
    // Scrolls by a distance in pixels, kept within the content.
    virtual void ScrollBy(int dx, int dy) = 0;
    // Scrolls as little as needed for the whole row to be in view.
    virtual void EnsureVisible(size_t row) = 0;
    // The row whose icon or label holds the point, -1 for none.
    virtual int HitTest(Point point) const = 0;
    // Rows and columns of whole items one client area holds (for paging keys).
    virtual int GetColumnsPerRow() const = 0;
    virtual int GetRowsPerPage() const = 0;
};

}  // namespace scopa
