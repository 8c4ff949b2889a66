#include "widget/qt_list_view.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

#include "widget/cell_image.h"
#include "widget/theme_icons.h"

namespace scopa {
namespace {

// Geometry shared with the in-memory view, so scripts see the same layout on both.
constexpr int kLabelLinePx = 16;
constexpr int kIconRowGapPx = 4;
constexpr int kRowPx = 16;
constexpr int kSmallIconPx = 16;
constexpr int kNameColumnPx = 200;
constexpr int kWheelDeltaPerNotch = 120;

QRect ToQRect(const Rect& rect) {
    return QRect(rect.left, rect.top, rect.Width(), rect.Height());
}

}  // namespace

// The rows as the client gives them; the count is taken when the view resets its rows.
class ListRowsModel final : public QAbstractTableModel {
public:
    explicit ListRowsModel(QObject* parent) : QAbstractTableModel(parent) {}

    void SetClient(IListViewClient* client) {
        beginResetModel();
        m_client = client;
        m_rows = 0;
        endResetModel();
    }
    void Reset() {
        beginResetModel();
        m_rows = m_client != nullptr ? int(std::min<size_t>(m_client->GetRowCount(), INT_MAX)) : 0;
        endResetModel();
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : kListColumnCount;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (m_client == nullptr || !index.isValid() || index.row() >= m_rows) return {};
        size_t row = size_t(index.row());
        switch (role) {
            case Qt::DisplayRole:
            case Qt::AccessibleTextRole:
                return QString::fromStdString(m_client->GetRowText(row, index.column()));
            case Qt::DecorationRole:
                if (index.column() != kColumnName || m_iconMode) return {};
                return ThemeIconOfIndex(m_client->GetRowImage(row));
            case Qt::TextAlignmentRole:
                if (index.column() == kColumnSize) return int(Qt::AlignRight | Qt::AlignVCenter);
                return {};
            default:
                return {};
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        static const char* const kTitles[kListColumnCount] = {"Name", "Size", "Type", "Modified"};
        return section >= 0 && section < kListColumnCount ? QString(kTitles[section]) : QVariant();
    }
    void SetIconMode(bool icon_mode) { m_iconMode = icon_mode; }

private:
    IListViewClient* m_client = nullptr;
    int m_rows = 0;
    bool m_iconMode = true;
};

// Draws a row: in icon mode the cell the client composes into an image slot, with the label
// under it; in the other modes the standard row, selected when the client says so.
class ListCellDelegate final : public QStyledItemDelegate {
public:
    explicit ListCellDelegate(CQtListView& view) : QStyledItemDelegate(&view), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (m_view.GetMode() == ListViewMode::kIcons) {
            int cell = m_view.CellSize();
            return {cell + 2 * kIconSideMarginPx, cell + kLabelLinePx};
        }
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        return {size.width(), kRowPx};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        IListViewClient* client = m_view.Client();
        if (client == nullptr) return;
        size_t row = size_t(index.row());
        bool selected = client->IsRowSelected(row);
        if (m_view.GetMode() != ListViewMode::kIcons) {
            QStyleOptionViewItem row_option = option;
            row_option.state.setFlag(QStyle::State_Selected, selected);
            row_option.decorationSize = QSize(kSmallIconPx, kSmallIconPx);
            QStyledItemDelegate::paint(painter, row_option, index);
            return;
        }
        int cell = m_view.CellSize();
        QRect bounds = option.rect;
        QRect cell_rect(bounds.left() + kIconSideMarginPx, bounds.top(), cell, cell);
        // The slot holds this row's cell until the next row is drawn: draw it at once.
        int slot = client->GetRowImage(row);
        if (slot >= 0 && slot < m_view.ImageSlotCount()) {
            painter->save();
            // Device pixels beyond the cell's own (HiDPI) are filled smoothly.
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawImage(cell_rect, m_view.ImageSlot(slot));
            painter->restore();
        }
        QRect label_rect(bounds.left(), bounds.top() + cell, bounds.width(), kLabelLinePx);
        QString label = index.data(Qt::DisplayRole).toString();
        QString shown = option.fontMetrics.elidedText(label, Qt::ElideRight, label_rect.width());
        const QPalette& palette = option.palette;
        if (selected) {
            int text_width =
                std::min(label_rect.width(), option.fontMetrics.horizontalAdvance(shown) + 4);
            QRect back(label_rect.center().x() - text_width / 2, label_rect.top(), text_width,
                       label_rect.height());
            painter->fillRect(back, palette.highlight());
            painter->setPen(palette.color(QPalette::HighlightedText));
        } else {
            painter->setPen(palette.color(QPalette::Text));
        }
        painter->drawText(label_rect, Qt::AlignHCenter | Qt::AlignVCenter, shown);
    }

private:
    CQtListView& m_view;
};

CQtListView::CQtListView(QWidget* parent) : QWidget(parent) {
    setObjectName("previewList");
    m_model = new ListRowsModel(this);
    auto* delegate = new ListCellDelegate(*this);

    m_icons = new QListView(this);
    m_icons->setObjectName("previewListItems");
    m_icons->setAccessibleName("Preview list");
    m_icons->setUniformItemSizes(true);
    m_icons->setMovement(QListView::Static);
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setLayoutMode(QListView::SinglePass);

    m_details = new QTreeView(this);
    m_details->setObjectName("previewListDetails");
    m_details->setAccessibleName("Preview list details");
    m_details->setRootIsDecorated(false);
    m_details->setItemsExpandable(false);
    m_details->setUniformRowHeights(true);
    m_details->header()->setSectionsClickable(true);
    m_details->header()->setStretchLastSection(true);
    m_details->hide();
    connect(m_details->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { emit ColumnClicked(column); });

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_icons), static_cast<QAbstractItemView*>(m_details)}) {
        view->setModel(m_model);
        view->setItemDelegate(delegate);
        view->setFrameShape(QFrame::NoFrame);
        view->setSelectionMode(QAbstractItemView::NoSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        view->setFocusPolicy(Qt::StrongFocus);
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        for (QScrollBar* bar : {view->verticalScrollBar(), view->horizontalScrollBar()}) {
            connect(bar, &QScrollBar::sliderReleased, this, [this] { emit ScrollEnded(); });
            connect(bar, &QScrollBar::actionTriggered, this, [this](int action) {
                if (action == QAbstractSlider::SliderMove) return;
                // The value changes after the action is reported.
                QTimer::singleShot(0, this, [this] { emit ScrollEnded(); });
            });
        }
    }
    m_details->setColumnWidth(kColumnName, kNameColumnPx);
    setFocusProxy(m_icons);
    SetMode(ListViewMode::kIcons, m_cellSizePx);
}

CQtListView::~CQtListView() = default;

void CQtListView::SetClient(IListViewClient* client) {
    m_client = client;
    m_model->SetClient(client);
}

void CQtListView::MoveTo(const Rect& bounds) {
    setGeometry(ToQRect(bounds));
    LayOutNow();
}

Rect CQtListView::GetBounds() const {
    QRect g = geometry();
    return {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

void CQtListView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutNow();
}

QAbstractItemView* CQtListView::ActiveView() const {
    if (m_mode == ListViewMode::kDetails) return m_details;
    return m_icons;
}

void CQtListView::LayOutNow() {
    QAbstractItemView* view = ActiveView();
    view->setGeometry(rect());
    // A hidden view learns its size only when shown: tell it now, so geometry answers at once.
    if (!view->isVisible() || !isVisible()) {
        QResizeEvent resize(rect().size(), view->size());
        QApplication::sendEvent(view, &resize);
    }
    view->doItemsLayout();
}

void CQtListView::SetMode(ListViewMode mode, int cell_size_px) {
    m_mode = mode;
    if (cell_size_px > 0) m_cellSizePx = cell_size_px;
    m_model->SetIconMode(mode == ListViewMode::kIcons);
    if (mode == ListViewMode::kIcons) {
        m_icons->setViewMode(QListView::IconMode);
        m_icons->setUniformItemSizes(true);
        m_icons->setMovement(QListView::Static);
        m_icons->setFlow(QListView::LeftToRight);
        m_icons->setWrapping(true);
        m_icons->setSpacing(0);
        m_icons->setGridSize(QSize(m_cellSizePx + 2 * kIconSideMarginPx,
                                   m_cellSizePx + kLabelLinePx + kIconRowGapPx));
    } else if (mode == ListViewMode::kList) {
        // The list style: small icons in columns filled top to bottom.
        m_icons->setViewMode(QListView::ListMode);
        // Columns as wide as their longest name, so names are not cut.
        m_icons->setUniformItemSizes(false);
        m_icons->setFlow(QListView::TopToBottom);
        m_icons->setWrapping(true);
        m_icons->setGridSize(QSize());
        m_icons->setIconSize(QSize(kSmallIconPx, kSmallIconPx));
    }
    bool details = mode == ListViewMode::kDetails;
    bool had_focus = ActiveView()->hasFocus() || m_icons->hasFocus() || m_details->hasFocus();
    m_details->setVisible(details);
    m_icons->setVisible(!details);
    setFocusProxy(ActiveView());
    if (had_focus) ActiveView()->setFocus();
    ResetRows();
}

void CQtListView::ResetRows() {
    QAbstractItemView* view = ActiveView();
    int x = view->horizontalScrollBar()->value();
    int y = view->verticalScrollBar()->value();
    m_model->Reset();
    LayOutNow();
    view->horizontalScrollBar()->setValue(x);
    view->verticalScrollBar()->setValue(y);
}

void CQtListView::UpdateRow(size_t row) {
    if (row >= size_t(m_model->rowCount({}))) return;
    QAbstractItemView* view = ActiveView();
    QRect rect = view->visualRect(m_model->index(int(row), 0));
    if (m_mode == ListViewMode::kDetails)
        rect = QRect(0, rect.top(), view->viewport()->width(), rect.height());
    view->viewport()->update(rect);
}

void CQtListView::SetRedraw(bool redraw) {
    // Both views: the mode may change between the two calls.
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_icons), static_cast<QAbstractItemView*>(m_details)}) {
        view->viewport()->setUpdatesEnabled(redraw);
    }
    if (redraw) ActiveView()->viewport()->update();
}

void CQtListView::ResetImageSlots(int count, int cell_size_px) {
    QImage blank(cell_size_px, cell_size_px, QImage::Format_RGB32);
    blank.fill(Qt::black);
    m_slots.assign(size_t(std::max(count, 0)), blank);
    ActiveView()->viewport()->update();
}

void CQtListView::SetImageSlot(int slot, const oDIB& cell) {
    if (slot >= 0 && size_t(slot) < m_slots.size()) m_slots[size_t(slot)] = ImageFromDib(cell);
}

const QImage& CQtListView::ImageSlot(int slot) const {
    return m_slots[size_t(slot)];
}

Point CQtListView::ToClient(QPoint viewport_point) const {
    QPoint point = ActiveView()->viewport()->mapTo(this, viewport_point);
    return {point.x(), point.y()};
}

QPoint CQtListView::ToViewport(Point client_point) const {
    return ActiveView()->viewport()->mapFrom(this, QPoint(client_point.x, client_point.y));
}

Rect CQtListView::GetClientRect() const {
    QWidget* viewport = ActiveView()->viewport();
    QPoint bottom_right = viewport->mapTo(this, QPoint(viewport->width(), viewport->height()));
    return {0, 0, std::max(0, bottom_right.x()), std::max(0, bottom_right.y())};
}

QRect CQtListView::ItemVisualRect(size_t row) const {
    if (row >= size_t(m_model->rowCount({}))) return {};
    return ActiveView()->visualRect(m_model->index(int(row), 0));
}

Rect CQtListView::GetItemRect(size_t row, ListItemPart part) const {
    QRect visual = ItemVisualRect(row);
    Point top_left = ToClient(visual.topLeft());
    int left = top_left.x;
    int top = top_left.y;
    if (m_mode == ListViewMode::kIcons) {
        int pitch = m_cellSizePx + 2 * kIconSideMarginPx;
        Rect icon{left, top, left + pitch, top + m_cellSizePx};
        Rect label{left, icon.bottom, icon.right, icon.bottom + kLabelLinePx};
        if (part == ListItemPart::kIcon) return icon;
        if (part == ListItemPart::kLabel) return label;
        return {icon.left, icon.top, label.right, label.bottom};
    }
    int right = left + visual.width();
    int bottom = top + visual.height();
    Rect icon{left, top, left + kSmallIconPx, bottom};
    Rect label{left + kSmallIconPx + 2, top, std::max(left + kSmallIconPx + 2, right), bottom};
    if (part == ListItemPart::kIcon) return icon;
    if (part == ListItemPart::kLabel) return label;
    return {left, top, label.right, bottom};
}

Point CQtListView::GetOrigin() const {
    QAbstractItemView* view = ActiveView();
    return {view->horizontalScrollBar()->value(), view->verticalScrollBar()->value()};
}

void CQtListView::ScrollBy(int dx, int dy) {
    QAbstractItemView* view = ActiveView();
    if (m_mode == ListViewMode::kList) {
        // The list style's columns scroll sideways: a distance down moves along the columns.
        view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->value() + dx + dy);
        return;
    }
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->value() + dx);
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + dy);
}

void CQtListView::EnsureVisible(size_t row) {
    if (row >= size_t(m_model->rowCount({}))) return;
    ActiveView()->scrollTo(m_model->index(int(row), 0), QAbstractItemView::EnsureVisible);
}

int CQtListView::HitTest(Point point) const {
    Rect client = GetClientRect();
    if (point.x < 0 || point.y < 0 || point.x >= client.right || point.y >= client.bottom) {
        return -1;
    }
    QPoint viewport_point = ToViewport(point);
    if (viewport_point.y() < 0) return -1;  // on the details header
    QModelIndex index = ActiveView()->indexAt(viewport_point);
    if (!index.isValid()) return -1;
    Rect bounds = GetItemRect(size_t(index.row()), ListItemPart::kBounds);
    if (point.x < bounds.left || point.x >= bounds.right || point.y < bounds.top ||
        point.y >= bounds.bottom) {
        return -1;
    }
    return index.row();
}

int CQtListView::GetColumnsPerRow() const {
    if (m_mode != ListViewMode::kIcons) return 1;
    return std::max(1, ActiveView()->viewport()->width() / (m_cellSizePx + 2 * kIconSideMarginPx));
}

int CQtListView::GetRowsPerPage() const {
    int height = ActiveView()->viewport()->height();
    int pitch =
        m_mode == ListViewMode::kIcons ? m_cellSizePx + kLabelLinePx + kIconRowGapPx : kRowPx;
    return std::max(1, height / pitch);
}

bool CQtListView::eventFilter(QObject* watched, QEvent* event) {
    QAbstractItemView* view = ActiveView();
    bool on_viewport = watched == view->viewport();
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            if (!on_viewport) break;
            auto* mouse = static_cast<QMouseEvent*>(event);
            Point point = ToClient(mouse->position().toPoint());
            view->setFocus(Qt::MouseFocusReason);
            if (mouse->button() == Qt::LeftButton) {
                if (event->type() == QEvent::MouseButtonDblClick) {
                    emit DoubleClicked(point);
                } else {
                    emit LeftClicked(point);
                }
            } else if (mouse->button() == Qt::RightButton &&
                       event->type() == QEvent::MouseButtonPress) {
                emit RightClicked(point, mouse->globalPosition().toPoint());
            }
            return true;
        }
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            if (on_viewport && event->type() == QEvent::MouseMove) {
                emit PointerMoved(ToClient(static_cast<QMouseEvent*>(event)->position().toPoint()));
            } else if (on_viewport) {
                emit LeftReleased();
            }
            return on_viewport;
        case QEvent::ContextMenu: {
            if (!on_viewport && watched != view) break;
            auto* menu = static_cast<QContextMenuEvent*>(event);
            if (menu->reason() == QContextMenuEvent::Keyboard) emit MenuKeyPressed();
            return true;
        }
        case QEvent::Wheel: {
            if (!on_viewport) break;
            auto* wheel = static_cast<QWheelEvent*>(event);
            m_wheelRemainder += wheel->angleDelta().y();
            int notches = m_wheelRemainder / kWheelDeltaPerNotch;
            m_wheelRemainder -= notches * kWheelDeltaPerNotch;
            // Turning the wheel towards the user scrolls towards the end.
            if (notches != 0) emit Wheeled(-notches);
            return true;
        }
        case QEvent::KeyPress: {
            if (watched != view) break;
            auto* key = static_cast<QKeyEvent*>(event);
            static const std::pair<int, ListKey> kKeys[] = {
                {Qt::Key_PageUp, ListKey::kPageUp}, {Qt::Key_PageDown, ListKey::kPageDown},
                {Qt::Key_Home, ListKey::kHome},     {Qt::Key_End, ListKey::kEnd},
                {Qt::Key_Left, ListKey::kLeft},     {Qt::Key_Up, ListKey::kUp},
                {Qt::Key_Right, ListKey::kRight},   {Qt::Key_Down, ListKey::kDown},
            };
            for (const auto& [qt_key, list_key] : kKeys) {
                if (key->key() == qt_key) {
                    emit KeyPressed(list_key);
                    return true;
                }
            }
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                emit EnterPressed();
                return true;
            }
            if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
                emit MenuKeyPressed();
                return true;
            }
            bool command = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
            if (!command && !key->text().isEmpty() && key->text().at(0).isPrint()) {
                emit TextTyped(key->text());
                return true;
            }
            break;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace scopa
