// The demo host: the control as a program's Open dialog shows it, with a path field, Up, the
// style and sort menus, the filter and keyword fields, the OK / Preview / Open / Export
// buttons the Qry methods enable, a feedback pane, "Create static cache..." and a container
// pane that logs events and runs lines of the container language.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <string_view>

#include "widget/scopa_widget.h"

class QComboBox;
class QDockWidget;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace scopa {
class CContainer;
class WidgetSite;
}  // namespace scopa

class ViewWindow final : public QMainWindow {
    Q_OBJECT
public:
    // `base` stands for $BASE in container lines.
    explicit ViewWindow(const std::string& base);
    ~ViewWindow() override;
    ScopaWidget& Control() { return *m_control; }
    QDockWidget& ContainerPane() { return *m_containerDock; }
    // Runs a line of the container language (and scopa-view's own screenshot and popup)
    // against the window's control; what it prints goes to standard output and the pane.
    bool RunLine(std::string_view line, std::string& error);

signals:
    // The window drew its first frame.
    void FirstFramePainted();

protected:
    bool event(QEvent* event) override;

private:
    void BuildMenus();
    void BuildContainerPane();
    void UpdateButtons();
    void CreateStaticCacheDialog();
    void RunContainerLine();

    ScopaWidget* m_control = nullptr;
    QLineEdit* m_path = nullptr;
    QToolButton* m_up = nullptr;
    QComboBox* m_filter = nullptr;
    QLineEdit* m_keywords = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_preview = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_export = nullptr;
    QPlainTextEdit* m_feedback = nullptr;
    QDockWidget* m_containerDock = nullptr;
    QPlainTextEdit* m_log = nullptr;
    QLineEdit* m_line = nullptr;
    std::string m_base;
    scopa::WidgetSite* m_site = nullptr;  // the window's control in the container
    std::unique_ptr<scopa::CContainer> m_container;
    bool m_painted = false;
};
