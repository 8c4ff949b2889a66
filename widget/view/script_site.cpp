#include "widget/view/script_site.h"

#include <QCoreApplication>

namespace scopa::tool {

WidgetSite::WidgetSite(ScopaWidget* widget, bool owned) : m_widget(widget), m_owned(owned) {}

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
