// A container site on the real widget: scripts drive the ScopaWidget's control, and painting
// is the widget's own, done by letting Qt deliver its pending events.
#pragma once

#include "container_runner.h"
#include "widget/qt_list_view.h"
#include "widget/qt_tree_view.h"
#include "widget/scopa_widget.h"

namespace scopa::tool {

class WidgetSite final : public ContainerSite {
public:
    // `widget` is not owned when `owned` is false (the window's own control); `window` is
    // what screenshots show.
    WidgetSite(ScopaWidget* widget, QWidget* window, bool owned);
    ~WidgetSite() override;
    CScopaCtrl& Control() override { return m_widget->Control(); }
    ITreeView& Tree() override { return m_widget->TreeView(); }
    IListView& List() override { return m_widget->ListView(); }
    Rect ListBounds() const override;
    void Paint() override;
    // `screenshot FILE`: the window and any open menu; `popup I FILE`: the real context menu
    // of item I, shot while open, then dismissed.
    bool RunHostAction(const std::vector<ScriptToken>& tokens, std::string& error,
                       bool& succeeded) override;

private:
    bool Screenshot(const std::string& path, std::string& error);

    ScopaWidget* m_widget;
    QWidget* m_window;
    bool m_owned;
};

// Prints the widget's events in the container's form.
void PrintWidgetEvents(ScopaWidget& widget);

}  // namespace scopa::tool
