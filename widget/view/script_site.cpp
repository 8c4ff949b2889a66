#include "widget/view/script_site.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include "container_script.h"
#include "control/scopa_ctrl.h"

namespace scopa::tool {

namespace {
constexpr int kMenuShotDelayMs = 50;
}  // namespace

WidgetSite::WidgetSite(ScopaWidget* widget, QWidget* window, bool owned)
    : m_widget(widget), m_window(window), m_owned(owned) {}

WidgetSite::~WidgetSite() {
    if (m_owned) delete m_widget;
}

Rect WidgetSite::ListBounds() const {
    QRect g = m_widget->ListView().geometry();
    return {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

void WidgetSite::Paint() {
    // The control's timer is not armed in scripts, so only drawing and layout run here.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool WidgetSite::Screenshot(const std::string& path, std::string& error) {
    Paint();
    // The screen's picture holds the popup menus over the window too.
    QScreen* screen = m_window->screen();
    QPoint origin = m_window->mapToGlobal(QPoint(0, 0));
    QPixmap shot =
        screen->grabWindow(0, origin.x(), origin.y(), m_window->width(), m_window->height());
    if (shot.isNull()) shot = m_window->grab();
    if (!shot.save(QString::fromStdString(path))) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool WidgetSite::RunHostAction(const std::vector<ScriptToken>& tokens, std::string& error,
                               bool& succeeded) {
    const std::string& word = tokens[0].text;
    if (word == "screenshot") {
        if (tokens.size() != 2 || tokens[1].kind != ScriptToken::Kind::kString) {
            error = "screenshot takes a quoted file name";
            return true;
        }
        succeeded = Screenshot(tokens[1].text, error);
        return true;
    }
    if (word != "popup") return false;
    if (tokens.size() != 3 || tokens[1].kind != ScriptToken::Kind::kNumber ||
        tokens[2].kind != ScriptToken::Kind::kString) {
        error = "popup takes an item index and a quoted file name";
        return true;
    }
    int index = tokens[1].number;
    if (index < 0 || size_t(index) >= Control().list().model().GetItemCount()) {
        error = "no item " + std::to_string(index);
        return true;
    }
    Rect icon = m_widget->ListView().GetItemRect(size_t(index), ListItemPart::kIcon);
    QPoint point((icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2);
    std::string path = tokens[2].text;
    bool shot = false;
    // The menu runs its own loop: shoot it from there, then dismiss it.
    QTimer::singleShot(kMenuShotDelayMs, m_widget, [this, path, &shot, &error] {
        shot = Screenshot(path, error);
        if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
    });
    m_widget->OpenContextMenu(point, m_widget->ListView().mapToGlobal(point));
    succeeded = shot;
    return true;
}

void PrintWidgetEvents(ScopaWidget& widget) {
    QObject::connect(&widget, &ScopaWidget::OnFeedback, &widget, [](const QString& text) {
        PrintContainerEvent("OnFeedback", text.toStdString());
    });
    QObject::connect(&widget, &ScopaWidget::OnPathChange, &widget,
                     [] { PrintContainerEvent("OnPathChange"); });
    QObject::connect(&widget, &ScopaWidget::OnOpen, &widget, [] { PrintContainerEvent("OnOpen"); });
    QObject::connect(&widget, &ScopaWidget::OnNavigate, &widget,
                     [] { PrintContainerEvent("OnNavigate"); });
    QObject::connect(&widget, &ScopaWidget::OnTreeControlWidthChange, &widget,
                     [] { PrintContainerEvent("OnTreeControlWidthChange"); });
    QObject::connect(&widget, &ScopaWidget::OnSelectionChange, &widget,
                     [](int index) { PrintContainerEvent("OnSelectionChange", index); });
}

}  // namespace scopa::tool
