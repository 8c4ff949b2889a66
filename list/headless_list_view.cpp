#include "list/headless_list_view.h"

#include <algorithm>

namespace scopa {
namespace {
constexpr int kDetailsNameWidthPx = 200;
}  // namespace

void CHeadlessListView::MoveTo(const Rect& bounds) {
    m_bounds = bounds;
    ClampScroll();
}

void CHeadlessListView::SetMode(ListViewMode mode, int cell_size_px) {
    m_mode = mode;
    m_cellSizePx = cell_size_px;
    ResetRows();
}

void CHeadlessListView::ResetRows() {
    size_t count = m_client != nullptr ? m_client->GetRowCount() : 0;
    m_drawn.assign(count, kImageCallback);
    m_paintedFirst = m_paintedEnd = 0;
    ClampScroll();
}

void CHeadlessListView::UpdateRow(size_t row) {
    if (row < m_drawn.size()) m_drawn[row] = kImageCallback;
}

void CHeadlessListView::ResetImageSlots(int count, int cell_size_px) {
    m_slots.assign(size_t(std::max(count, 0)), oDIB());
    for (oDIB& slot : m_slots)
        slot.Create(cell_size_px, cell_size_px, 24);
    std::fill(m_drawn.begin(), m_drawn.end(), kImageCallback);
}

void CHeadlessListView::SetImageSlot(int slot, const oDIB& cell) {
    if (slot >= 0 && size_t(slot) < m_slots.size()) m_slots[size_t(slot)] = cell;
}

Rect CHeadlessListView::GetClientRect() const {
    return {0, 0, std::max(0, m_bounds.Width()), std::max(0, m_bounds.Height())};
}

int CHeadlessListView::ColumnPitch() const {
    return m_cellSizePx + 2 * kIconSideMarginPx;
}

int CHeadlessListView::RowPitch() const {
    if (m_mode == ListViewMode::kIcons) return m_cellSizePx + kLabelLinePx + kIconRowGapPx;
    return kLabelLinePx;
}

int CHeadlessListView::GetColumnsPerRow() const {
    if (m_mode != ListViewMode::kIcons) return 1;
    return std::max(1, GetClientRect().Width() / ColumnPitch());
}

int CHeadlessListView::GetRowsPerPage() const {
    int height = GetClientRect().Height();
    if (m_mode == ListViewMode::kDetails) height -= kDetailsHeaderPx;
    return std::max(1, height / RowPitch());
}

int CHeadlessListView::ContentHeight() const {
    size_t count = m_drawn.size();
    size_t lines = (count + size_t(GetColumnsPerRow()) - 1) / size_t(GetColumnsPerRow());
    int header = m_mode == ListViewMode::kDetails ? kDetailsHeaderPx : 0;
    return header + int(lines) * RowPitch();
}

void CHeadlessListView::ClampScroll() {
    int limit = std::max(0, ContentHeight() - GetClientRect().Height());
    m_scrollY = std::clamp(m_scrollY, 0, limit);
}

Rect CHeadlessListView::GetItemRect(size_t row, ListItemPart part) const {
    int columns = GetColumnsPerRow();
    int column = int(row % size_t(columns));
    int line = int(row / size_t(columns));
    int top = line * RowPitch() - m_scrollY;
    if (m_mode == ListViewMode::kIcons) {
        int left = column * ColumnPitch();
        Rect icon{left, top, left + ColumnPitch(), top + m_cellSizePx};
        Rect label{left, icon.bottom, icon.right, icon.bottom + kLabelLinePx};
        if (part == ListItemPart::kIcon) return icon;
        if (part == ListItemPart::kLabel) return label;
        return {icon.left, icon.top, label.right, label.bottom};
    }
    if (m_mode == ListViewMode::kDetails) top += kDetailsHeaderPx;
    int width = m_mode == ListViewMode::kDetails ? kDetailsNameWidthPx : GetClientRect().Width();
    Rect icon{0, top, kSmallIconPx, top + kLabelLinePx};
    Rect label{kSmallIconPx + 2, top, std::max(kSmallIconPx + 2, width), top + kLabelLinePx};
    if (part == ListItemPart::kIcon) return icon;
    if (part == ListItemPart::kLabel) return label;
    return {0, top, label.right, label.bottom};
}

void CHeadlessListView::ScrollBy(int dx, int dy) {
    (void)dx;  // the layouts never need sideways scrolling
    m_scrollY += dy;
    ClampScroll();
}

void CHeadlessListView::EnsureVisible(size_t row) {
    if (row >= m_drawn.size()) return;
    Rect bounds = GetItemRect(row, ListItemPart::kBounds);
    int header = m_mode == ListViewMode::kDetails ? kDetailsHeaderPx : 0;
    int height = GetClientRect().Height();
    if (bounds.top < header) {
        ScrollBy(0, bounds.top - header);
    } else if (bounds.bottom > height) {
        ScrollBy(0, std::min(bounds.bottom - height, bounds.top - header));
    }
}

int CHeadlessListView::HitTest(Point point) const {
    Rect client = GetClientRect();
    if (point.x < 0 || point.y < 0 || point.x >= client.right || point.y >= client.bottom) {
        return -1;
    }
    size_t first = 0;
    size_t end = 0;
    VisibleRange(first, end);
    for (size_t row = first; row < end; ++row) {
        Rect bounds = GetItemRect(row, ListItemPart::kBounds);
        if (point.x >= bounds.left && point.x < bounds.right && point.y >= bounds.top &&
            point.y < bounds.bottom) {
            return int(row);
        }
    }
    return -1;
}

void CHeadlessListView::VisibleRange(size_t& first, size_t& end) const {
    size_t count = m_drawn.size();
    size_t columns = size_t(GetColumnsPerRow());
    int pitch = RowPitch();
    int header = m_mode == ListViewMode::kDetails ? kDetailsHeaderPx : 0;
    size_t first_line = size_t(std::max(0, m_scrollY) / pitch);
    size_t end_line =
        size_t((m_scrollY + std::max(0, GetClientRect().Height() - header)) / pitch) + 1;
    first = std::min(count, first_line * columns);
    end = std::min(count, end_line * columns);
}

int CHeadlessListView::Paint() {
    if (!m_redraw || m_client == nullptr) return 0;
    size_t first = 0;
    size_t end = 0;
    VisibleRange(first, end);
    // Rows that left the view are drawn again when they come back.
    for (size_t row = m_paintedFirst; row < m_paintedEnd && row < m_drawn.size(); ++row) {
        if (row < first || row >= end) m_drawn[row] = kImageCallback;
    }
    m_paintedFirst = first;
    m_paintedEnd = end;
    int asked = 0;
    for (size_t row = first; row < end; ++row) {
        if (m_drawn[row] != kImageCallback) continue;
        m_drawn[row] = m_client->GetRowImage(row);
        // A row whose image is an icon index of -1 counts as drawn all the same.
        if (m_drawn[row] == kImageCallback) m_drawn[row] = kImageCallback - 1;
        ++asked;
    }
    return asked;
}

int CHeadlessListView::DrawnImage(size_t row) const {
    if (row >= m_drawn.size() || m_drawn[row] < 0) return kImageCallback;
    return m_drawn[row];
}

}  // namespace scopa
