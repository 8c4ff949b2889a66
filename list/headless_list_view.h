// A list view without a window: rows laid out in memory as a plain grid (icon mode: cells
// left to right, wrapping at the client width, a label line under each cell) or as rows of
// one line (list and details modes, details under a header line). Paint() draws what is in
// view the way a window would, asking the client for the image of every row that came into
// view or was updated since it was last drawn. Tests, benchmarks and the container use it.
#pragma once

#include <cstdint>
#include <vector>

#include "list/list_view.h"

namespace scopa {

// Geometry of the headless layout.
inline constexpr int kLabelLinePx = 16;  // the label line under a cell, and one row
inline constexpr int kIconRowGapPx = 4;  // between a label line and the next cells
inline constexpr int kSmallIconPx = 16;
inline constexpr int kDetailsHeaderPx = 20;

class CHeadlessListView final : public IListView {
public:
    void SetClient(IListViewClient* client) override { m_client = client; }
    void MoveTo(const Rect& bounds) override;
    void BringToTop() override {}
    Rect GetBounds() const override { return m_bounds; }

    void SetMode(ListViewMode mode, int cell_size_px) override;
    ListViewMode GetMode() const override { return m_mode; }
    void ResetRows() override;
    void UpdateRow(size_t row) override;
    void SetRedraw(bool redraw) override { m_redraw = redraw; }

    void ResetImageSlots(int count, int cell_size_px) override;
    void SetImageSlot(int slot, const oDIB& cell) override;
    const std::vector<oDIB>& ImageSlots() const { return m_slots; }

    Rect GetClientRect() const override;
    Rect GetItemRect(size_t row, ListItemPart part) const override;
    Point GetOrigin() const override { return {0, m_scrollY}; }
    void ScrollBy(int dx, int dy) override;
    void EnsureVisible(size_t row) override;
    int HitTest(Point point) const override;
    int GetColumnsPerRow() const override;
    int GetRowsPerPage() const override;

    // Draws what is in view: asks the client for the image of each row in view that was not
    // drawn since it came into view or was last updated. Returns how many rows it asked for.
    int Paint();
    // The image the client gave each row when it was last drawn (kImageCallback: not drawn).
    int DrawnImage(size_t row) const;

private:
    int RowPitch() const;
    int ColumnPitch() const;
    int ContentHeight() const;
    void ClampScroll();
    // The first and one past the last row whose bounds touch the client rectangle.
    void VisibleRange(size_t& first, size_t& end) const;

    IListViewClient* m_client = nullptr;
    Rect m_bounds;
    ListViewMode m_mode = ListViewMode::kIcons;
    int m_cellSizePx = 130;
    int m_scrollY = 0;
    bool m_redraw = true;
    std::vector<oDIB> m_slots;
    std::vector<int> m_drawn;  // per row: the image drawn, kImageCallback when stale
    size_t m_paintedFirst = 0;
    size_t m_paintedEnd = 0;
};

}  // namespace scopa
