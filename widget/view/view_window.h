// The demo host: the control as a program's Open dialog shows it, with a path field, Up, the
// style and sort menus, the filter and keyword fields, the OK / Preview / Open / Export
// buttons the Qry methods enable, a feedback pane, "Create static cache..." and a container
// pane that logs events and runs lines of the container language.
#pragma once

#include <QMainWindow>
#include <memory>

#include "widget/scopa_widget.h"

class QComboBox;
class QDockWidget;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace scopa::tool {
class ContainerRunner;
}

class ViewWindow final : public QMainWindow {
    Q_OBJECT
public:
    ViewWindow();
    ~ViewWindow() override;
    ScopaWidget& Control() { return *m_control; }
    QDockWidget& ContainerPane() { return *m_containerDock; }
    // The runner the container pane's line feeds (made on first use).
    scopa::tool::ContainerRunner& Runner();

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
    std::unique_ptr<scopa::tool::ContainerRunner> m_runner;
    bool m_painted = false;
};
