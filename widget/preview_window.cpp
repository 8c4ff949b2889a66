#include "widget/preview_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "imaging/filter.h"
#include "imaging/picture.h"
#include "prefs/control_prefs.h"
#include "widget/cell_image.h"

namespace scopa {
namespace {

// The preview loads multi-resolution pictures at their fifth resolution.
constexpr int kPreviewResolutionIndex = 4;
// A resize counts as ended when no size change came for this long.
constexpr int kResizeSettle_ms = 250;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

CPreviewWindow::CPreviewWindow(QWidget* owner, std::function<void(const CShellPath&)> launch,
                               std::function<void(bool)> wait_cursor)
    : QWidget(owner, Qt::Tool), m_launch(std::move(launch)), m_waitCursor(std::move(wait_cursor)) {
    setObjectName("previewWindow");
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_side = InitialPreviewSide(FullScreen());
    m_resizeSettle.setSingleShot(true);
    m_resizeSettle.setInterval(kResizeSettle_ms);
    connect(&m_resizeSettle, &QTimer::timeout, this, &CPreviewWindow::SettleResize);
}

vSIZE CPreviewWindow::FullScreen() const {
    QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    return {area.width(), area.height()};
}

FrameExtra CPreviewWindow::Frame() const {
    // Known once the window exists on the screen (it stays known while it is hidden).
    if (windowHandle() == nullptr) return {};
    QRect frame = frameGeometry();
    return {frame.width() - width(), frame.height() - height()};
}

QRect CPreviewWindow::WindowRect() const {
    return frameGeometry();
}

bool CPreviewWindow::ShowItem(const CShellPath& item) {
    if (m_waitCursor) m_waitCursor(true);
    m_image = QImage();
    m_dib = oDIB();
    m_metafile = vMETAFILE();
    int kind = 0;
    int loaded =
        LoadPicture(nullptr, item.GetPathText(), m_dib, m_metafile, kind, kPreviewResolutionIndex);
    if (loaded != kLoadRead || (kind != kFilterTypeBitmap && kind != kFilterTypeVector)) {
        if (m_waitCursor) m_waitCursor(false);
        close();
        return false;
    }
    m_item = item;
    m_kind = kind;
    if (kind == kFilterTypeBitmap)
        m_side = BitmapPreviewSide({m_dib.Width(), m_dib.Height()}, FullScreen());
    Render(m_side);
    if (m_waitCursor) m_waitCursor(false);

    FrameExtra frame = Frame();
    vSIZE window_size{m_covered.cx + frame.width, m_covered.cy + frame.height};
    QRect current = WindowRect();
    Rect start{current.left(), current.top(), current.left() + current.width(),
               current.top() + current.height()};
    if (!isVisible()) {
        PreviewPos pos;
        Rect remembered{};
        bool has_position = false;
        pos.right = pos.left - 1;  // unchanged by a read that finds nothing
        if (ReadPreviewPos(HKEY_CURRENT_USER, kGeneralPrefsKey, kPreviewPosValue, pos) &&
            pos.right >= pos.left) {
            remembered = {pos.left, pos.top, pos.right, pos.bottom};
            has_position = true;
        }
        start = FirstPreviewRect(window_size, has_position ? &remembered : nullptr);
    }
    setWindowTitle(FromUtf8(item.GetPathText()));
    PlaceWindow(CentredPreviewRect(start, window_size, FullScreen()));
    ApplyLimits();
    m_reRender = false;  // just rendered at this size
    show();
    m_shown = true;
    m_settledFrame = WindowRect();
    update();
    return true;
}

void CPreviewWindow::PlaceWindow(const Rect& frame_rect) {
    FrameExtra frame = Frame();
    m_placing = true;
    resize(frame_rect.Width() - frame.width, frame_rect.Height() - frame.height);
    move(frame_rect.left, frame_rect.top);
    m_placing = false;
}

void CPreviewWindow::ApplyLimits() {
    TrackingLimits limits = PreviewTrackingLimits(m_covered, FullScreen(), {});
    setMinimumSize(limits.smallest.cx, limits.smallest.cy);
    setMaximumSize(limits.largest.cx, limits.largest.cy);
}

void CPreviewWindow::Render(int32_t side) {
    oDIB target;
    if (side <= 0 || !target.Create(side, side, 24)) {
        m_image = QImage();
        return;
    }
    m_covered = RenderPicture(target, m_kind, m_dib, m_metafile);
    m_image = ImageFromDib(target);
}

void CPreviewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (m_reRender && m_kind != 0) {
        m_reRender = false;
        if (m_waitCursor) m_waitCursor(true);
        Render(std::max(width(), height()));
        if (m_waitCursor) m_waitCursor(false);
    }
    if (!m_image.isNull()) {
        painter.drawImage(QPoint(0, 0), m_image, QRect(0, 0, m_covered.cx, m_covered.cy));
    }
}

void CPreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Every size change renders again at the next paint.
    if (!m_image.isNull()) m_reRender = true;
    if (!m_placing && m_shown) m_resizeSettle.start();
}

void CPreviewWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (!m_placing && !m_resizeSettle.isActive()) m_settledFrame = WindowRect();
}

// The edge the user dragged is the side that moved: both sides of a corner, one side of an
// edge.
void CPreviewWindow::SettleResize() {
    QRect now = WindowRect();
    QRect before = m_settledFrame;
    bool left = now.left() != before.left();
    bool top = now.top() != before.top();
    bool right = now.right() != before.right() && !left;
    bool bottom = now.bottom() != before.bottom() && !top;
    SizingEdge edge;
    if (top && left) {
        edge = SizingEdge::TopLeft;
    } else if (top && right) {
        edge = SizingEdge::TopRight;
    } else if (bottom && left) {
        edge = SizingEdge::BottomLeft;
    } else if (bottom && right) {
        edge = SizingEdge::BottomRight;
    } else if (left) {
        edge = SizingEdge::Left;
    } else if (right) {
        edge = SizingEdge::Right;
    } else if (top) {
        edge = SizingEdge::Top;
    } else {
        edge = SizingEdge::Bottom;
    }
    Rect proposed{now.left(), now.top(), now.left() + now.width(), now.top() + now.height()};
    Rect kept = KeepProportions(proposed, edge, m_covered, Frame());
    if (kept != proposed) PlaceWindow(kept);
    m_settledFrame = WindowRect();
}

void CPreviewWindow::SavePosition() const {
    QRect frame = WindowRect();
    WritePreviewPos(
        HKEY_CURRENT_USER, kGeneralPrefsKey, kPreviewPosValue,
        {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()});
}

void CPreviewWindow::closeEvent(QCloseEvent* event) {
    m_resizeSettle.stop();
    if (isVisible()) SavePosition();
    m_image = QImage();
    m_shown = false;
    QWidget::closeEvent(event);
}

void CPreviewWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) return;
    CShellPath item = m_item;
    close();
    if (m_launch) m_launch(item);
}

bool CPreviewWindow::event(QEvent* event) {
    // Where the platform reports a double click on the caption, it maximises (and a second
    // one does not restore).
    if (event->type() == QEvent::NonClientAreaMouseButtonDblClick) {
        showMaximized();
        return true;
    }
    return QWidget::event(event);
}

}  // namespace scopa
