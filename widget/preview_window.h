// The floating preview window: the selected picture large, in a tool window owned by the
// control's widget. The window keeps the picture's proportions when the user resizes it (the
// window manager does not let a client constrain a live resize on X11, so the rule is applied
// when the resize settles), stays inside the screen's available area, remembers where it was
// closed, and opens the picture for editing on a double click. Geometry rules come from
// view/preview_geometry.h.
#pragma once

#include <QImage>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "imaging/dib.h"
#include "imaging/vector.h"
#include "shell/shell_path.h"
#include "view/preview_geometry.h"

namespace scopa {

class CPreviewWindow final : public QWidget {
    Q_OBJECT
public:
    // `launch` opens an item (the control's LaunchItem); `wait_cursor` brackets loading.
    CPreviewWindow(QWidget* owner, std::function<void(const CShellPath&)> launch,
                   std::function<void(bool)> wait_cursor);

    // Loads and shows `item`; false (and the window closed) when it cannot be loaded.
    bool ShowItem(const CShellPath& item);

    vSIZE CoveredSize() const { return m_covered; }
    // The picture as shown: the part of the rendering it covers.
    QImage Picture() const { return m_image.copy(0, 0, m_covered.cx, m_covered.cy); }
    // The full-screen area the rules keep the window in.
    vSIZE FullScreen() const;
    FrameExtra Frame() const;
    // Applies the proportions rule to the current geometry, as at the end of a resize.
    void SettleResize();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void Render(int32_t side);
    void ApplyLimits();
    void SavePosition() const;
    QRect WindowRect() const;  // the frame's rectangle
    void PlaceWindow(const Rect& frame_rect);

    std::function<void(const CShellPath&)> m_launch;
    std::function<void(bool)> m_waitCursor;
    CShellPath m_item;
    int m_kind = 0;
    oDIB m_dib;
    vMETAFILE m_metafile;
    QImage m_image;
    int32_t m_side = 0;
    vSIZE m_covered;
    bool m_reRender = false;
    bool m_shown = false;
    bool m_placing = false;  // our own geometry changes are not the user's resizes
    QRect m_settledFrame;    // the frame's rectangle after the last settled resize
    QTimer m_resizeSettle;
};

}  // namespace scopa
