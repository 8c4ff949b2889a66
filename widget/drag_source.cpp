#include "widget/drag_source.h"

#include <QApplication>
#include <QDrag>
#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <mutex>

#include "control/scopa_ctrl.h"
#include "platform/folders.h"
#include "widget/x11_pointer_window.h"

namespace scopa {
namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A millisecond tick that wraps like the 32-bit system tick the double-drop window is made for.
uint32_t TickCount_ms() {
    auto since_start = std::chrono::steady_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(since_start).count());
}

}  // namespace

bool PointerWindowTitle(std::string& title, bool& left_button_down) {
    title.clear();
    left_button_down = false;
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return false;
    return X11PointerWindowTitle(title, left_button_down);
}

PictureMimeData::PictureMimeData(std::string path, std::vector<std::string> formats,
                                 CScopaCtrl& control, std::function<void()> on_rendered)
    : m_path(std::move(path)),
      m_formats(std::move(formats)),
      m_control(control),
      m_onRendered(std::move(on_rendered)) {}

QStringList PictureMimeData::formats() const {
    QStringList list;
    for (const std::string& format : m_formats)
        list << FromUtf8(format);
    return list;
}

bool PictureMimeData::hasFormat(const QString& mime_type) const {
    return formats().contains(mime_type);
}

QVariant PictureMimeData::retrieveData(const QString& mime_type, QMetaType type) const {
    (void)type;
    std::string format = mime_type.toStdString();
    if (std::find(m_formats.begin(), m_formats.end(), format) == m_formats.end()) return {};
    // The URI list is decided again at each request: the drop is what counts.
    if (format != kDragMimeUriList) {
        if (auto cached = m_rendered.find(format); cached != m_rendered.end())
            return cached->second;
    }
    QByteArray bytes = Render(format);
    if (bytes.isEmpty()) return {};
    if (format != kDragMimeUriList) m_rendered[format] = bytes;
    if (m_onRendered) m_onRendered();
    return bytes;
}

QByteArray PictureMimeData::Render(const std::string& format) const {
    m_control.BeginWaitCursor(true);
    std::vector<uint8_t> bytes;
    bool rendered = false;
    if (format == kDragMimeUriList) {
        std::string title;
        bool left_down = QGuiApplication::mouseButtons().testFlag(Qt::LeftButton);
        bool on_x11 = PointerWindowTitle(title, left_down);
        std::string application = on_x11 ? ApplicationNameFromTitle(title) : std::string();
        std::string path = ProcessDropAssistant().PathForDrop(
            m_path, application, !left_down, TickCount_ms(), m_control.prefs(), TemporaryFolder(),
            m_control.GetResolution());
        rendered = RenderDragFormat(path, format, -1, bytes);
    } else {
        rendered = RenderDragFormat(m_path, format, m_control.GetResolution(), bytes);
    }
    m_control.BeginWaitCursor(false);
    if (!rendered) return {};
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

DragSource::DragSource(QWidget* source, CScopaCtrl& control, std::function<void()> on_rendered)
    : QObject(source), m_source(source), m_control(control), m_onRendered(std::move(on_rendered)) {
    // Left-over generic drop files go when the module starts.
    static std::once_flag cleaned;
    std::call_once(cleaned, [] { DeleteGenericDropFiles(TemporaryFolder()); });
    m_interval.setSingleShot(true);
    connect(&m_interval, &QTimer::timeout, this, [this] {
        if (m_delay.OnIntervalEnded()) StartDrag();
    });
}

void DragSource::OnPress(Point point) {
    Cancel();
    if (!m_control.IsDragAndDropEnabled()) return;
    const CListItem* item = m_control.list().GetSelectedItem();
    if (item == nullptr ||
        (item->GetKind() != ListItemKind::Picture && item->GetKind() != ListItemKind::Custom)) {
        return;
    }
    m_path = item->path().GetPathText();
    if (!DragFormatsOf(m_path, m_formats)) return;
    if (m_control.DoubleClickLaunchEnabled()) {
        m_delay.Arm(point);
        m_interval.start(QApplication::doubleClickInterval());
    } else {
        StartDrag();
    }
}

void DragSource::OnMove(Point point) {
    if (m_delay.OnMove(point)) {
        m_interval.stop();
        StartDrag();
    }
}

void DragSource::Cancel() {
    m_delay.Disarm();
    m_interval.stop();
}

void DragSource::StartDrag() {
    Cancel();
    // Only while one of our windows is in front, or (without a window manager to activate
    // it) while the press that began here is still held: a press that lost them starts nothing.
    if (QApplication::activeWindow() == nullptr &&
        !QGuiApplication::mouseButtons().testFlag(Qt::LeftButton)) {
        return;
    }
    auto* drag = new QDrag(m_source);
    drag->setMimeData(new PictureMimeData(m_path, m_formats, m_control, m_onRendered));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

}  // namespace scopa
