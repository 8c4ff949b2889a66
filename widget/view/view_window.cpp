#include "widget/view/view_window.h"

#include <QActionGroup>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>

#include "widget/view/script_site.h"

namespace {

// The filters the host offers: every picture, the picture kinds, the document kinds.
const char* const kFilters[] = {"PCF", "BMF", "LAF", "QOR", "DTP", "SRP", "ART", "DSP", "FLX"};
const char* const kStyleNames[] = {"&Large previews", "&Small previews", "&List", "&Details"};
const char* const kSortNames[] = {
    "By &name", "By name, descending", "By &type", "By type, descending",
    "By si&ze", "By size, descending", "By &date", "By date, descending"};

}  // namespace

ViewWindow::ViewWindow(const std::string& base) : m_base(base) {
    setObjectName("scopaView");
    setWindowTitle("Scopa");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* top = new QHBoxLayout();
    m_path = new QLineEdit(central);
    m_path->setObjectName("pathField");
    m_path->setAccessibleName("Path");
    m_up = new QToolButton(central);
    m_up->setObjectName("upButton");
    m_up->setText("Up");
    m_filter = new QComboBox(central);
    m_filter->setObjectName("filterBox");
    m_filter->setEditable(true);
    for (const char* filter : kFilters)
        m_filter->addItem(filter);
    m_keywords = new QLineEdit(central);
    m_keywords->setObjectName("keywordField");
    m_keywords->setPlaceholderText("Keywords");
    top->addWidget(new QLabel("Look in:", central));
    top->addWidget(m_path, 1);
    top->addWidget(m_up);
    top->addWidget(m_filter);
    top->addWidget(m_keywords);
    layout->addLayout(top);

    m_control = new ScopaWidget(central);
    layout->addWidget(m_control, 1);

    auto* buttons = new QHBoxLayout();
    m_ok = new QPushButton("OK", central);
    m_preview = new QPushButton("Preview", central);
    m_open = new QPushButton("Open", central);
    m_export = new QPushButton("Export", central);
    buttons->addStretch(1);
    for (QPushButton* button : {m_ok, m_preview, m_open, m_export})
        buttons->addWidget(button);
    layout->addLayout(buttons);

    m_feedback = new QPlainTextEdit(central);
    m_feedback->setObjectName("feedbackPane");
    m_feedback->setReadOnly(true);
    m_feedback->setMaximumHeight(60);
    layout->addWidget(m_feedback);
    setCentralWidget(central);

    connect(m_path, &QLineEdit::returnPressed, this,
            [this] { m_control->SetPath(m_path->text()); });
    connect(m_up, &QToolButton::clicked, m_control, &ScopaWidget::GoParent);
    connect(m_filter, &QComboBox::textActivated, m_control, &ScopaWidget::SetFilter);
    connect(m_keywords, &QLineEdit::editingFinished, this,
            [this] { m_control->SetSumInfoKeywordFilter(m_keywords->text()); });
    connect(m_ok, &QPushButton::clicked, m_control, &ScopaWidget::OkPressed);
    connect(m_preview, &QPushButton::clicked, m_control, &ScopaWidget::PreviewListItem);
    connect(m_open, &QPushButton::clicked, m_control, &ScopaWidget::OpenEditListItem);
    connect(m_export, &QPushButton::clicked, m_control, &ScopaWidget::ExportPressed);
    connect(m_control, &ScopaWidget::OnFeedback, this, [this](const QString& text) {
        m_feedback->moveCursor(QTextCursor::End);
        m_feedback->insertPlainText(QString(text).remove('\r'));
        // Static-cache creation reports from inside one long call: show each line at once.
        m_feedback->repaint();
    });
    for (auto signal : {&ScopaWidget::OnPathChange, &ScopaWidget::OnNavigate})
        connect(m_control, signal, this, &ViewWindow::UpdateButtons);
    connect(m_control, &ScopaWidget::OnSelectionChange, this, [this] { UpdateButtons(); });

    BuildContainerPane();
    BuildMenus();
    UpdateButtons();
    m_control->setFocus();
    resize(900, 640);
}

ViewWindow::~ViewWindow() {
    m_container.reset();
}

void ViewWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction("Create static cache...", this, &ViewWindow::CreateStaticCacheDialog);
    file->addSeparator();
    file->addAction("&Quit", this, &QWidget::close);

    QMenu* view = menuBar()->addMenu("&View");
    QMenu* styles = view->addMenu("&Style");
    auto* style_group = new QActionGroup(this);
    for (int style = 0; style < 4; ++style) {
        QAction* action = styles->addAction(kStyleNames[style]);
        action->setCheckable(true);
        style_group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, style] { m_control->SetPreviewListStyle(style); });
    }
    connect(styles, &QMenu::aboutToShow, this, [this, style_group] {
        style_group->actions().at(m_control->GetPreviewListStyle() & 3)->setChecked(true);
    });
    QMenu* sorts = view->addMenu("S&ort");
    auto* sort_group = new QActionGroup(this);
    for (int order = 0; order < 8; ++order) {
        QAction* action = sorts->addAction(kSortNames[order]);
        action->setCheckable(true);
        sort_group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, order] { m_control->SetPreviewListSortOrder(order); });
    }
    connect(sorts, &QMenu::aboutToShow, this, [this, sort_group] {
        int order = m_control->GetPreviewListSortOrder();
        if (order >= 0 && order < 8) sort_group->actions().at(order)->setChecked(true);
    });
    view->addSeparator();
    QAction* pane = m_containerDock->toggleViewAction();
    pane->setText("&Container pane");
    view->addAction(pane);
}

void ViewWindow::BuildContainerPane() {
    m_containerDock = new QDockWidget("Container", this);
    m_containerDock->setObjectName("containerPane");
    auto* pane = new QWidget(m_containerDock);
    auto* layout = new QVBoxLayout(pane);
    m_log = new QPlainTextEdit(pane);
    m_log->setObjectName("eventLog");
    m_log->setReadOnly(true);
    m_line = new QLineEdit(pane);
    m_line->setObjectName("containerLine");
    m_line->setPlaceholderText("SetPath \"/home\"   list   rclick 0   ...");
    layout->addWidget(m_log, 1);
    layout->addWidget(m_line);
    m_containerDock->setWidget(pane);
    addDockWidget(Qt::BottomDockWidgetArea, m_containerDock);
    m_containerDock->hide();
    connect(m_line, &QLineEdit::returnPressed, this, &ViewWindow::RunContainerLine);

    // Every event of the control reaches standard output and the log through the container.
    auto output = [this](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);  // a driving process reads the lines as they come
        m_log->appendPlainText(QString::fromStdString(line));
    };
    bool first = true;
    auto factory =
        [this,
         first](scopa::IControlEvents& events) mutable -> std::unique_ptr<scopa::IContainerSite> {
        if (first) {
            first = false;
            auto site = std::make_unique<scopa::WidgetSite>(m_control, this, false, events);
            m_site = site.get();
            return site;
        }
        // A further control in the same process, in a window of its own.
        auto* widget = new ScopaWidget();
        widget->setAttribute(Qt::WA_DontShowOnScreen);
        widget->SetTimerDriven(m_control->IsTimerDriven());
        widget->resize(m_control->size());
        widget->show();
        return std::make_unique<scopa::WidgetSite>(widget, widget, true, events);
    };
    m_container = std::make_unique<scopa::CContainer>(factory, output, m_base);
}

bool ViewWindow::RunLine(std::string_view line, std::string& error) {
    return scopa::RunViewLine(*m_container, *m_site, line, m_base, error);
}

void ViewWindow::RunContainerLine() {
    std::string line = m_line->text().toStdString();
    m_line->clear();
    std::string error;
    if (!RunLine(line, error)) {
        m_log->appendPlainText(QString::fromStdString("error: " + error));
    }
}

void ViewWindow::UpdateButtons() {
    m_ok->setEnabled(m_control->QryEnableOk());
    m_preview->setEnabled(m_control->QryPreviewListItem());
    m_open->setEnabled(m_control->QryOpenEditListItem());
    m_export->setEnabled(m_control->QryEnableExport());
    m_up->setEnabled(m_control->QryGoParent());
    if (!m_path->hasFocus()) m_path->setText(m_control->GetFolder());
}

void ViewWindow::CreateStaticCacheDialog() {
    QString root =
        QFileDialog::getExistingDirectory(this, "Folder to cache", m_control->GetFolder());
    if (root.isEmpty()) return;
    QString cache = QFileDialog::getSaveFileName(this, "Static cache to create");
    if (cache.isEmpty()) return;
    m_feedback->clear();
    m_control->CreateStaticCache(cache, root);
}

bool ViewWindow::event(QEvent* event) {
    bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::UpdateRequest && !m_painted) {
        m_painted = true;
        emit FirstFramePainted();
    }
    return handled;
}
