#include "widget/preview_window.h"

#include <QFileInfo>

#include "imaging/picture.h"
#include "imaging/vector.h"
#include "widget/cell_image.h"

namespace scopa {
namespace {
constexpr int kInitialSidePx = 480;
// A vector picture is drawn at this size before it is fitted to the window.
constexpr int kVectorRenderSidePx = 1024;
// The full-size resolution of a format with several (-1 would pick a thumbnail-sized one).
constexpr int kFullResolution = 0;
}  // namespace

CPreviewWindow::CPreviewWindow(QWidget* owner) : QLabel(owner, Qt::Tool) {
    setObjectName("previewWindow");
    setAlignment(Qt::AlignCenter);
    setMinimumSize(64, 64);
    resize(kInitialSidePx, kInitialSidePx);
}

void CPreviewWindow::ShowPicture(const std::string& path) {
    oDIB dib;
    vMETAFILE metafile;
    int kind = 0;
    m_picture = {};
    if (LoadPicture(nullptr, path, dib, metafile, kind, kFullResolution) == 0) {
        if (dib.IsEmpty()) {
            oDIB rendered;
            if (rendered.Create(kVectorRenderSidePx, kVectorRenderSidePx, 24)) {
                vSIZE covered = RenderPicture(rendered, kind, dib, metafile);
                m_picture = ImageFromDib(rendered).copy(0, 0, covered.cx, covered.cy);
            }
        } else {
            m_picture = ImageFromDib(dib);
        }
    }
    QString name = QFileInfo(QString::fromStdString(path)).fileName();
    setWindowTitle(name);
    if (m_picture.isNull()) setText(name + "\ncannot be shown");
    Fit();
    show();
    raise();
}

void CPreviewWindow::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Fit();
}

void CPreviewWindow::Fit() {
    if (m_picture.isNull()) return;
    QPixmap fitted = QPixmap::fromImage(m_picture.scaled(
        size() * devicePixelRatioF(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    fitted.setDevicePixelRatio(devicePixelRatioF());
    setPixmap(fitted);
}

}  // namespace scopa
