#include "widget/view/script_site.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include "control/container_script.h"
#include "control/scopa_ctrl.h"
#include "widget/qt_list_view.h"
#include "widget/qt_tree_view.h"

namespace scopa {
namespace {
// Long enough for the menu's first frame.
constexpr int kMenuShotDelayMs = 50;

std::string Replaced(std::string text, std::string_view from, const std::string& to) {
    if (from.empty()) return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}
}  // namespace

WidgetSite::WidgetSite(ScopaWidget* widget, QWidget* window, bool owned, IControlEvents& events)
    : m_widget(widget), m_window(window), m_owned(owned) {
    QObject::connect(widget, &ScopaWidget::OnFeedback, widget,
                     [&events](const QString& text) { events.OnFeedback(text.toStdString()); });
    QObject::connect(widget, &ScopaWidget::OnPathChange, widget,
                     [&events] { events.OnPathChange(); });
    QObject::connect(widget, &ScopaWidget::OnOpen, widget, [&events] { events.OnOpen(); });
    QObject::connect(widget, &ScopaWidget::OnNavigate, widget, [&events] { events.OnNavigate(); });
    QObject::connect(widget, &ScopaWidget::OnTreeControlWidthChange, widget,
                     [&events] { events.OnTreeControlWidthChange(); });
    QObject::connect(widget, &ScopaWidget::OnSelectionChange, widget,
                     [&events](int index) { events.OnSelectionChange(index); });
}

WidgetSite::~WidgetSite() {
    if (m_owned) {
        delete m_widget;
    } else {
        // The window's control outlives the container: its events stop here.
        QObject::disconnect(m_widget, nullptr, m_widget, nullptr);
    }
}

ITreeView& WidgetSite::Tree() {
    return m_widget->TreeView();
}

IListView& WidgetSite::List() {
    return m_widget->ListView();
}

void WidgetSite::Paint() {
    // The control's timer is not armed in scripts, so only drawing and layout run here.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool WidgetSite::Screenshot(const std::string& path, std::string& error) {
    Paint();
    // The screen's picture holds the popup menus over the window too.
    QPoint origin = m_window->mapToGlobal(QPoint(0, 0));
    QPixmap shot = m_window->screen()->grabWindow(0, origin.x(), origin.y(), m_window->width(),
                                                  m_window->height());
    if (shot.isNull()) shot = m_window->grab();
    if (!shot.save(QString::fromStdString(path))) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool WidgetSite::Popup(int index, const std::string& path, std::string& error) {
    if (index < 0 || size_t(index) >= Control().list().model().GetItemCount()) {
        error = "no item " + std::to_string(index);
        return false;
    }
    Rect icon = m_widget->ListView().GetItemRect(size_t(index), ListItemPart::kIcon);
    QPoint point((icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2);
    bool shot = false;
    // The menu runs its own loop: shoot it from there, then dismiss it.
    QTimer::singleShot(kMenuShotDelayMs, m_widget, [this, path, &shot, &error] {
        shot = Screenshot(path, error);
        if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
    });
    m_widget->OpenContextMenu(point, m_widget->ListView().mapToGlobal(point));
    if (!shot && error.empty()) error = "the context menu did not open";
    return shot;
}

bool RunViewLine(CContainer& container, WidgetSite& site, std::string_view line,
                 const std::string& base, std::string& error) {
    std::string ignored;
    auto tokens = TokenizeScriptLine(line, ignored);
    if (tokens && !tokens->empty() && (*tokens)[0].kind == ScriptToken::Kind::kWord) {
        const std::vector<ScriptToken>& t = *tokens;
        const std::string& word = t[0].text;
        if (word == "screenshot") {
            if (t.size() != 2 || t[1].kind != ScriptToken::Kind::kString) {
                error = "screenshot takes a quoted file name";
                return false;
            }
            return site.Screenshot(Replaced(t[1].text, kBaseVariable, base), error);
        }
        if (word == "popup") {
            if (t.size() != 3 || t[1].kind != ScriptToken::Kind::kNumber ||
                t[2].kind != ScriptToken::Kind::kString) {
                error = "popup takes an item index and a quoted file name";
                return false;
            }
            return site.Popup(t[1].number, Replaced(t[2].text, kBaseVariable, base), error);
        }
    }
    return container.RunLine(line, error);
}

}  // namespace scopa
