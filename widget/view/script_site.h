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
    // `widget` is not owned when `owned` is false (the window's own control).
    WidgetSite(ScopaWidget* widget, bool owned);
    ~WidgetSite() override;
    CScopaCtrl& Control() override { return m_widget->Control(); }
    ITreeView& Tree() override { return m_widget->TreeView(); }
    IListView& List() override { return m_widget->ListView(); }
    Rect ListBounds() const override;
    void Paint() override;

private:
    ScopaWidget* m_widget;
    bool m_owned;
};

// Prints the widget's events in the container's form.
void PrintWidgetEvents(ScopaWidget& widget);

}  // namespace scopa::tool
