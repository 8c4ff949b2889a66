// A container site on the real widget: scripts drive the ScopaWidget's control, its signals
// reach the container as events, and painting is the widget's own, done by letting Qt
// deliver its pending events. scopa-view adds two lines of its own to the language:
// `screenshot "FILE"` (the window with any open menu) and `popup I "FILE"` (the real context
// menu of item I, shot while open, then dismissed).
#pragma once

#include <QWidget>
#include <string>
#include <string_view>

#include "control/container.h"
#include "widget/scopa_widget.h"

namespace scopa {

class WidgetSite final : public IContainerSite {
public:
    // `widget` is owned when `owned` (a further control); `window` is what screenshots show.
    WidgetSite(ScopaWidget* widget, QWidget* window, bool owned, IControlEvents& events);
    ~WidgetSite() override;
    WidgetSite(const WidgetSite&) = delete;
    WidgetSite& operator=(const WidgetSite&) = delete;

    CScopaCtrl& Control() override { return m_widget->Control(); }
    ITreeView& Tree() override;
    IListView& List() override;
    void Paint() override;

    bool Screenshot(const std::string& path, std::string& error);
    bool Popup(int index, const std::string& path, std::string& error);

private:
    ScopaWidget* m_widget;
    QWidget* m_window;
    bool m_owned;
};

// Runs scopa-view's own lines (screenshot, popup) on `site` and every other line through the
// container. `base` stands for $BASE as in the container.
bool RunViewLine(CContainer& container, WidgetSite& site, std::string_view line,
                 const std::string& base, std::string& error);

}  // namespace scopa
