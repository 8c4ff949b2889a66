// Dragging a picture out of the preview list with QDrag. The data is rendered only when a
// target asks for a format (PictureMimeData::retrieveData); the file's URI goes through the
// generic-drop assistant, which needs the target application's name: on X11 the title of the
// top-level window under the pointer, elsewhere none (and the assistant stays silent).
#pragma once

#include <QMimeData>
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "view/drag_data.h"

namespace scopa {

class CScopaCtrl;

// The title of the top-level window under the pointer and whether the left button is down,
// from the X server; false when not on X11.
bool PointerWindowTitle(std::string& title, bool& left_button_down);

class PictureMimeData final : public QMimeData {
    Q_OBJECT
public:
    // `on_rendered` is called each time a format was rendered for a target.
    PictureMimeData(std::string path, std::vector<std::string> formats, CScopaCtrl& control,
                    std::function<void()> on_rendered);

    QStringList formats() const override;
    bool hasFormat(const QString& mime_type) const override;

protected:
    QVariant retrieveData(const QString& mime_type, QMetaType type) const override;

private:
    QByteArray Render(const std::string& format) const;

    std::string m_path;
    std::vector<std::string> m_formats;
    CScopaCtrl& m_control;
    std::function<void()> m_onRendered;
    mutable std::map<std::string, QByteArray> m_rendered;
};

class DragSource final : public QObject {
    Q_OBJECT
public:
    // `source` is the widget the drag starts from.
    DragSource(QWidget* source, CScopaCtrl& control, std::function<void()> on_rendered);

    // After the list handled a left press at `point` (client coordinates).
    void OnPress(Point point);
    void OnMove(Point point);
    void OnRelease() { Cancel(); }
    bool IsWaiting() const { return m_delay.IsArmed(); }

private:
    void Cancel();
    void StartDrag();

    QWidget* m_source;
    CScopaCtrl& m_control;
    std::function<void()> m_onRendered;
    DragStartDelay m_delay;
    QTimer m_interval;
    std::string m_path;
    std::vector<std::string> m_formats;
};

}  // namespace scopa
