// The preview list's view in Qt: one table model over the list's rows, shown by a QListView
// in icon mode (the two preview styles, cells from the control's image slots), a wrapping
// QListView (the list style) or a QTreeView with a clickable header (details). The control
// owns the selection and the scrolling logic, so the Qt views select nothing themselves and
// hand their mouse, wheel and key input to the widget through signals.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <vector>

#include "list/list_view.h"
#include "list/preview_list.h"

class QAbstractItemView;
class QListView;
class QTreeView;

namespace scopa {

class ListRowsModel;

class CQtListView final : public QWidget, public IListView {
    Q_OBJECT
public:
    explicit CQtListView(QWidget* parent);
    ~CQtListView() override;

    // IListView
    void SetClient(IListViewClient* client) override;
    void MoveTo(const Rect& bounds) override;
    Rect GetBounds() const override;
    void BringToTop() override { raise(); }
    void SetMode(ListViewMode mode, int cell_size_px) override;
    ListViewMode GetMode() const override { return m_mode; }
    void ResetRows() override;
    void UpdateRow(size_t row) override;
    void SetRedraw(bool redraw) override;
    void ResetImageSlots(int count, int cell_size_px) override;
    void SetImageSlot(int slot, const oDIB& cell) override;
    Rect GetClientRect() const override;
    Rect GetItemRect(size_t row, ListItemPart part) const override;
    Point GetOrigin() const override;
    void ScrollBy(int dx, int dy) override;
    void EnsureVisible(size_t row) override;
    int HitTest(Point point) const override;
    int GetColumnsPerRow() const override;
    int GetRowsPerPage() const override;

    // For the delegate and tests.
    IListViewClient* Client() const { return m_client; }
    const QImage& ImageSlot(int slot) const;
    int ImageSlotCount() const { return int(m_slots.size()); }
    int CellSize() const { return m_cellSizePx; }
    QAbstractItemView* ActiveView() const;
    QTreeView* DetailsView() const { return m_details; }
    // A point of the active view's viewport in the view's client coordinates, and back.
    Point ToClient(QPoint viewport_point) const;
    QPoint ToViewport(Point client_point) const;

signals:
    void LeftClicked(scopa::Point point);
    void DoubleClicked(scopa::Point point);
    void RightClicked(scopa::Point point, QPoint global_position);
    void ColumnClicked(int column);
    void KeyPressed(scopa::ListKey key);
    // Enter, Shift+F10 and the menu key act on the selected item.
    void EnterPressed();
    void MenuKeyPressed();
    // Printable text typed in the list (type-ahead find).
    void TextTyped(const QString& text);
    void Wheeled(int notches);
    void ScrollEnded();
    // The pointer moved over the items, or the left button was released there (drag start).
    void PointerMoved(scopa::Point point);
    void LeftReleased();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayOutNow();
    QRect ItemVisualRect(size_t row) const;

    IListViewClient* m_client = nullptr;
    ListRowsModel* m_model = nullptr;
    QListView* m_icons = nullptr;
    QTreeView* m_details = nullptr;
    ListViewMode m_mode = ListViewMode::kIcons;
    int m_cellSizePx = kLargeCellPx;
    std::vector<QImage> m_slots;
    int m_wheelRemainder = 0;
};

}  // namespace scopa
