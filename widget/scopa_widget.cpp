#include "widget/scopa_widget.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "control/automation.h"
#include "control/scopa_ctrl.h"
#include "list/cell_drawing.h"
#include "platform/launch.h"
#include "widget/drag_source.h"
#include "widget/export_dialog.h"
#include "widget/insert_disk_dialog.h"
#include "widget/preview_window.h"
#include "widget/qt_list_view.h"
#include "widget/qt_tree_view.h"
#include "widget/qt_user_interface.h"

using namespace scopa;

namespace {

std::string Utf8(const QString& text) {
    return text.toStdString();
}

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

Rgb RgbOf(const QColor& colour) {
    return {uint8_t(colour.red()), uint8_t(colour.green()), uint8_t(colour.blue())};
}

}  // namespace

// The control's window-system needs and its event sink, served by the widget.
class ScopaWidget::Host final : public IControlHost, public IControlEvents {
public:
    explicit Host(ScopaWidget& widget) : m_widget(widget) {}

    void SetWaitCursor(bool on) override {
        if (on) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QGuiApplication::restoreOverrideCursor();
        }
    }
    void SetTimer(int interval_ms) override {
        if (m_widget.m_timerDriven) m_widget.m_timer.start(interval_ms);
    }
    void KillTimer() override { m_widget.m_timer.stop(); }
    int GetPixelsPerInch() const override {
        // Logical pixels: the layout is in device-independent pixels at every scale.
        return 96;
    }
    bool StartProgram(const std::vector<std::string>& argv) override {
        return scopa::StartProgram(argv);
    }
    bool OpenWithApplication(const std::string& path) override {
        return OpenWithDefaultApplication(path);
    }
    void ShowPreviewWindow(const CShellPath& path) override {
        if (m_widget.m_preview == nullptr) {
            CScopaCtrl& control = *m_widget.m_control;
            m_widget.m_preview = new CPreviewWindow(
                &m_widget, [&control](const CShellPath& item) { control.LaunchItem(item); },
                [&control](bool on) { control.BeginWaitCursor(on); });
        }
        m_widget.m_preview->ShowItem(path);
    }
    bool ChooseExportDestination(const ExportRequest& request, ExportChoice& choice) override {
        ExportDialog dialog(&m_widget, request);
        if (dialog.exec() != QDialog::Accepted) return false;
        choice = dialog.Choice();
        return true;
    }
    DragSource* m_drag = nullptr;  // a child of the list view

    void OnFeedback(const std::string& text) override { emit m_widget.OnFeedback(FromUtf8(text)); }
    void OnPathChange() override { emit m_widget.OnPathChange(); }
    void OnOpen() override { emit m_widget.OnOpen(); }
    void OnNavigate() override { emit m_widget.OnNavigate(); }
    void OnTreeControlWidthChange() override { emit m_widget.OnTreeControlWidthChange(); }
    void OnSelectionChange(int index) override { emit m_widget.OnSelectionChange(index); }

private:
    ScopaWidget& m_widget;
};

ScopaWidget::ScopaWidget(QWidget* parent) : QWidget(parent) {
    setObjectName("scopaControl");
    setAccessibleName("Scopa");
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    m_host = std::make_unique<Host>(*this);
    m_tree = new CQtTreeView(this);
    m_list = new CQtListView(this);
    m_dragFeedback = new QWidget(this);
    m_dragFeedback->setObjectName("splitterFeedback");
    m_dragFeedback->setAutoFillBackground(true);
    m_dragFeedback->setBackgroundRole(QPalette::Shadow);
    m_dragFeedback->hide();
    m_userInterface = std::make_unique<QtUserInterface>(this);
    SetUserInterface(m_userInterface.get());
    ApplyPalette();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_control->OnTimer(); });

    m_control = std::make_unique<CScopaCtrl>(*m_host, m_host.get(), *m_tree, *m_list);
    m_control->OnCreate();
    UpdateSplitterCursor();
    setFocusProxy(m_list);

    CPreviewList& list = m_control->list();
    list.model().SetInsertDiskPrompt(
        [this](CInsertCDRom& dialog) { return InsertDiskDialog::Ask(this, dialog); });
    m_host->m_drag = new DragSource(m_list, *m_control, [this] { emit OnOpen(); });
    connect(m_list, &CQtListView::LeftClicked, this, [this, &list](Point point) {
        list.OnClick(point);
        m_host->m_drag->OnPress(point);
    });
    connect(m_list, &CQtListView::PointerMoved, this,
            [this](Point point) { m_host->m_drag->OnMove(point); });
    connect(m_list, &CQtListView::LeftReleased, this, [this] { m_host->m_drag->OnRelease(); });
    connect(m_list, &CQtListView::DoubleClicked, this,
            [&list](Point point) { list.OnDoubleClick(point); });
    connect(m_list, &CQtListView::RightClicked, this, [this](Point point, QPoint global) {
        OpenContextMenu({point.x, point.y}, global);
    });
    connect(m_list, &CQtListView::ColumnClicked, this,
            [&list](int column) { list.OnColumnClick(column); });
    connect(m_list, &CQtListView::KeyPressed, this, [&list](ListKey key) { list.OnKey(key); });
    connect(m_list, &CQtListView::Wheeled, this, [&list](int notches) { list.OnWheel(notches); });
    connect(m_list, &CQtListView::ScrollEnded, this, [&list] { list.OnScrollEnd(); });
    connect(m_list, &CQtListView::EnterPressed, this, [this] { ActivateSelected(); });
    connect(m_list, &CQtListView::MenuKeyPressed, this, [this] { ContextMenuForSelected(); });
    connect(m_list, &CQtListView::TextTyped, this, &ScopaWidget::TypeAhead);
    // The control learns of focus coming in from the host's other widgets, whichever of its
    // views takes it.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (now != nullptr && isAncestorOf(now) && (old == nullptr || !isAncestorOf(old)))
            m_control->OnSetFocus();
    });
}

ScopaWidget::~ScopaWidget() {
    m_timer.stop();
    m_control.reset();
    if (&UserInterface() == m_userInterface.get()) SetUserInterface(nullptr);
}

CScopaCtrl& ScopaWidget::Control() {
    return *m_control;
}

void ScopaWidget::SetTimerDriven(bool driven) {
    m_timerDriven = driven;
    if (!driven) m_timer.stop();
}

// ---- window ----

void ScopaWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_control->OnSize(width(), height());
    update();
}

void ScopaWidget::paintEvent(QPaintEvent* event) {
    (void)event;
    if (!m_control->IsSplitterPainted()) return;
    Rect bar = m_control->GetSplitterRect();
    QPainter painter(this);
    painter.fillRect(QRect(bar.left, bar.top, bar.Width(), bar.Height()), palette().button());
}

void ScopaWidget::UpdateSplitterCursor() {
    setCursor(m_control->OnSetCursor() == SplitterCursor::kSizeWestEast ? Qt::SplitHCursor
                                                                        : Qt::ArrowCursor);
}

void ScopaWidget::ShowDragFeedback(bool shown) {
    if (!shown) {
        m_dragFeedback->hide();
        return;
    }
    m_dragFeedback->setGeometry(int(m_control->GetTreeControlWidth()), 0, kSplitterWidthPx,
                                height());
    m_dragFeedback->show();
    m_dragFeedback->raise();
}

void ScopaWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    QPoint point = event->position().toPoint();
    m_control->OnLButtonDown({point.x(), point.y()});
    if (m_control->IsDraggingSplitter()) ShowDragFeedback(true);
}

void ScopaWidget::mouseMoveEvent(QMouseEvent* event) {
    UpdateSplitterCursor();
    if (!m_control->IsDraggingSplitter()) return QWidget::mouseMoveEvent(event);
    QPoint point = event->position().toPoint();
    m_control->OnMouseMove({point.x(), point.y()});
    ShowDragFeedback(true);
}

void ScopaWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_control->IsDraggingSplitter()) {
        return QWidget::mouseReleaseEvent(event);
    }
    QPoint point = event->position().toPoint();
    ShowDragFeedback(false);
    m_control->OnLButtonUp({point.x(), point.y()});
    update();
}

void ScopaWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        ApplyPalette();
        m_list->update();
    }
}

void ScopaWidget::ApplyPalette() {
    // The Windows colour indexes the cells and the list use, from the widget's palette.
    const QPalette& p = palette();
    SystemColours colours = SystemColours::Defaults();
    auto set = [&colours](int index, QPalette::ColorRole role, const QPalette& palette) {
        colours.colours[size_t(index)] = RgbOf(palette.color(QPalette::Active, role));
    };
    set(kColourScrollBar, QPalette::Button, p);
    set(1, QPalette::Window, p);  // desktop
    set(4, QPalette::Window, p);  // menu
    set(kColourWindow, QPalette::Base, p);
    set(6, QPalette::Shadow, p);      // window frame
    set(7, QPalette::WindowText, p);  // menu text
    set(8, QPalette::Text, p);        // window text
    set(kColourHighlight, QPalette::Highlight, p);
    set(14, QPalette::HighlightedText, p);
    set(15, QPalette::Button, p);  // button face
    set(kColourButtonShadow, QPalette::Dark, p);
    set(18, QPalette::ButtonText, p);
    set(20, QPalette::Light, p);     // button highlight
    set(21, QPalette::Shadow, p);    // 3D dark shadow
    set(22, QPalette::Midlight, p);  // 3D light
    set(23, QPalette::ToolTipText, p);
    set(24, QPalette::ToolTipBase, p);
    colours.colours[17] = RgbOf(p.color(QPalette::Disabled, QPalette::Text));  // grey text
    SetSystemColours(colours);
}

// ---- input the list hands over ----

void ScopaWidget::OpenContextMenu(QPoint list_point, QPoint global_position) {
    std::vector<MenuEntry> entries =
        m_control->list().OnRightClick({list_point.x(), list_point.y()});
    if (entries.empty()) return;
    QMenu menu(this);
    menu.setObjectName("previewListMenu");
    for (const MenuEntry& entry : entries) {
        if (entry.id == kMenuSeparator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(FromUtf8(entry.text));
        action->setData(entry.id);
        action->setCheckable(entry.checked);
        action->setChecked(entry.checked);
        action->setEnabled(!entry.disabled);
    }
    QAction* chosen = menu.exec(global_position);
    // A dismissed menu is closed for the list too (the separator is never a command).
    int command = chosen != nullptr ? chosen->data().toInt() : kMenuSeparator;
    m_control->list().OnMenuCommand(command);
}

void ScopaWidget::ActivateSelected() {
    int selected = m_control->list().GetSelectedIndex();
    Point point{-1, -1};
    if (selected >= 0) {
        Rect icon = m_list->GetItemRect(size_t(selected), ListItemPart::kIcon);
        point = {(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2};
    }
    m_control->list().OnDoubleClick(point);
}

void ScopaWidget::ContextMenuForSelected() {
    // At the selected item, or at the list's corner (on no item) when nothing is selected.
    int selected = m_control->list().GetSelectedIndex();
    QPoint where(-1, -1);
    if (selected >= 0) {
        Rect icon = m_list->GetItemRect(size_t(selected), ListItemPart::kIcon);
        where = QPoint((icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2);
    }
    QPoint shown_at = selected >= 0 ? where : QPoint(4, 4);
    OpenContextMenu(where, m_list->mapToGlobal(shown_at));
}

void ScopaWidget::TypeAhead(const QString& text) {
    // Letters typed in quick succession build one prefix; the same letter again moves on to
    // the next item that starts with it.
    if (!m_sinceTyped.isValid() || m_sinceTyped.elapsed() > QApplication::keyboardInputInterval()) {
        m_typedPrefix.clear();
    }
    m_sinceTyped.start();
    bool repeated = m_typedPrefix.size() == 1 && m_typedPrefix == text;
    if (!repeated) m_typedPrefix += text;
    const CPreviewListModel& model = m_control->list().model();
    int count = int(model.GetItemCount());
    int selected = m_control->list().GetSelectedIndex();
    int start = selected < 0 ? 0 : (repeated ? selected + 1 : selected);
    for (int step = 0; step < count; ++step) {
        int index = (start + step) % count;
        QString label = FromUtf8(model.GetItem(size_t(index)).GetLabel());
        if (label.startsWith(m_typedPrefix, Qt::CaseInsensitive)) {
            m_control->list().SelectListItem(index);
            return;
        }
    }
}

// ---- automation ----

int ScopaWidget::GetPalette() {
    return int(m_control->GetPalette());
}
QString ScopaWidget::GetPath() {
    std::string path;
    m_control->GetPath(path);
    return FromUtf8(path);
}
void ScopaWidget::SetPath(const QString& path) {
    m_control->SetPath(Utf8(path));
}
void ScopaWidget::SetFilter(const QString& filter) {
    m_control->SetFilter(Utf8(filter));
}
bool ScopaWidget::CreateStaticCache(const QString& cache_path_name,
                                    const QString& root_folder_path) {
    return m_control->CreateStaticCache(Utf8(cache_path_name), Utf8(root_folder_path));
}
bool ScopaWidget::QryGoParent() {
    return m_control->QryGoParent();
}
bool ScopaWidget::QryGoBack() {
    return m_control->QryGoBack();
}
bool ScopaWidget::QryGoForward() {
    return m_control->QryGoForward();
}
void ScopaWidget::GoParent() {
    m_control->GoParent();
}
void ScopaWidget::GoBack() {
    m_control->GoBack();
}
void ScopaWidget::GoForward() {
    m_control->GoForward();
}
void ScopaWidget::OkPressed() {
    m_control->OkPressed();
}
bool ScopaWidget::QryEnableOk() {
    return m_control->QryEnableOk();
}
int ScopaWidget::GetTreeControlWidth() {
    return int(m_control->GetTreeControlWidth());
}
void ScopaWidget::SetTreeControlWidth(int width) {
    m_control->SetTreeControlWidth(width);
    UpdateSplitterCursor();
    update();
}
void ScopaWidget::SetResolution(int resolution) {
    m_control->SetResolution(resolution);
}
void ScopaWidget::EnableDragAndDrop() {
    m_control->EnableDragAndDrop();
}
int ScopaWidget::GetPreviewListStyle() {
    return int(m_control->GetPreviewListStyle());
}
void ScopaWidget::SetPreviewListStyle(int style) {
    m_control->SetPreviewListStyle(style);
}
int ScopaWidget::GetPreviewListSortOrder() {
    return int(m_control->GetPreviewListSortOrder());
}
void ScopaWidget::SetPreviewListSortOrder(int order) {
    m_control->SetPreviewListSortOrder(order);
}
void ScopaWidget::EnableTreeControl(bool enable) {
    m_control->EnableTreeControl(enable ? 1 : 0);
    update();
}
void ScopaWidget::EnablePopupMenu(bool enable) {
    m_control->EnablePopupMenu(enable ? 1 : 0);
}
void ScopaWidget::ShowFolderOverlays(bool show) {
    m_control->ShowFolderOverlays(show ? 1 : 0);
}
void ScopaWidget::ShowShortcutOverlays(bool show) {
    m_control->ShowShortcutOverlays(show ? 1 : 0);
}
void ScopaWidget::ShowFileExtensions(bool show) {
    m_control->ShowFileExtensions(show ? 1 : 0);
}
void ScopaWidget::SelectPreviewListItem(int index) {
    m_control->SelectPreviewListItem(index);
}
void ScopaWidget::SelectPreviewListItemStr(const QString& name) {
    m_control->SelectPreviewListItemStr(Utf8(name));
}
QString ScopaWidget::GetFolder() {
    std::string folder;
    m_control->GetFolder(folder);
    return FromUtf8(folder);
}
void ScopaWidget::SetSumInfoKeywordFilter(const QString& keywords) {
    m_control->SetSumInfoKeywordFilter(Utf8(keywords));
}
bool ScopaWidget::QryEnableExport() {
    return m_control->QryEnableExport();
}
void ScopaWidget::ExportPressed() {
    m_control->ExportPressed();
}
void ScopaWidget::SetTreeControlRootFolder(const QString& folder) {
    m_control->SetTreeControlRootFolder(Utf8(folder));
}
void ScopaWidget::ShowTreeControlButtons(bool show) {
    m_control->ShowTreeControlButtons(show ? 1 : 0);
}
void ScopaWidget::SetTreeControlTopFolder(const QString& folder) {
    m_control->SetTreeControlTopFolder(Utf8(folder));
}
void ScopaWidget::SetTreeControlFixedWidth(int width) {
    m_control->SetTreeControlFixedWidth(width);
    UpdateSplitterCursor();
    update();
}
void ScopaWidget::SetFilterExtensions(const QString& filter, const QString& extensions) {
    m_control->SetFilterExtensions(Utf8(filter), Utf8(extensions));
}
void ScopaWidget::EnableDoubleClickLaunch() {
    m_control->EnableDoubleClickLaunch();
}
bool ScopaWidget::QryPreviewListItem() {
    return m_control->QryPreviewListItem();
}
void ScopaWidget::PreviewListItem() {
    m_control->PreviewListItem();
}
bool ScopaWidget::QryOpenEditListItem() {
    return m_control->QryOpenEditListItem();
}
void ScopaWidget::OpenEditListItem() {
    m_control->OpenEditListItem();
}

QVariant ScopaWidget::InvokeDispid(int dispid, const QVariantList& arguments) {
    const AutomationMethod* method = FindAutomationMethod(dispid);
    if (method == nullptr) return {};
    std::vector<AutomationValue> values;
    for (const QVariant& argument : arguments) {
        switch (argument.typeId()) {
            case QMetaType::QString:
                values.emplace_back(Utf8(argument.toString()));
                break;
            case QMetaType::Bool:
                values.emplace_back(argument.toBool());
                break;
            default:
                values.emplace_back(std::int32_t(argument.toInt()));
                break;
        }
    }
    AutomationValue result;
    if (InvokeAutomationMethod(*m_control, *method, values, result) != InvokeStatus::kOk) {
        return {};
    }
    for (size_t i = 0; i < method->parameters.size() && i < values.size(); ++i) {
        if (method->parameters[i] == AutomationType::kStringOut) {
            if (const std::string* text = std::get_if<std::string>(&values[i]))
                return FromUtf8(*text);
        }
    }
    if (const bool* flag = std::get_if<bool>(&result)) return *flag;
    if (const std::int32_t* number = std::get_if<std::int32_t>(&result)) return int(*number);
    if (const std::string* text = std::get_if<std::string>(&result)) return FromUtf8(*text);
    // Valid and null: the call was made and gives nothing.
    return QVariant::fromValue(nullptr);
}
