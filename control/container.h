// A host in a script: runs container-script lines against one or more controls and writes
// what happens, in order (method results, events as they fire, menus, lists, trees and
// layouts). The controls sit on sites the caller makes, so the same scripts drive the
// control on the in-memory views (`scopa container`) and inside a real widget.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/container_script.h"
#include "control/control_events.h"
#include "imaging/geometry.h"

namespace scopa {

class CScopaCtrl;
class ITreeView;
class IListView;

// One control with its two views.
class IContainerSite {
public:
    virtual ~IContainerSite() = default;
    virtual CScopaCtrl& Control() = 0;
    virtual ITreeView& Tree() = 0;
    virtual IListView& List() = 0;
    // Lets the views draw what changed (a window would on its own).
    virtual void Paint() = 0;
};

// Makes a site whose control reports its events to `events`.
using ContainerSiteFactory = std::function<std::unique_ptr<IContainerSite>(IControlEvents& events)>;
// Receives each line of output, without its line end.
using ContainerOutput = std::function<void(const std::string& line)>;

// Idle gives up after this many ticks.
inline constexpr int kMaxIdleTicks = 100000;
inline constexpr std::string_view kBaseVariable = "$BASE";

class CContainer final : private IControlEvents {
public:
    // `base` stands for $BASE in the script's strings and is written as $BASE.
    CContainer(ContainerSiteFactory factory, ContainerOutput output, std::string base);
    ~CContainer() override;
    CContainer(const CContainer&) = delete;
    CContainer& operator=(const CContainer&) = delete;

    // Runs one line (blank lines and // comments do nothing); false with `error` set when
    // the line cannot run.
    bool RunLine(std::string_view line, std::string& error);

private:
    void OnFeedback(const std::string& text) override;
    void OnPathChange() override { m_output("event OnPathChange"); }
    void OnOpen() override { m_output("event OnOpen"); }
    void OnNavigate() override { m_output("event OnNavigate"); }
    void OnTreeControlWidthChange() override { m_output("event OnTreeControlWidthChange"); }
    void OnSelectionChange(int index) override {
        m_output("event OnSelectionChange " + std::to_string(index));
    }

    bool Run(const std::vector<ScriptToken>& tokens, std::string& error);
    IContainerSite& Current() { return *m_sites[m_current]; }
    CScopaCtrl& Control();
    std::string Shown(const std::string& text) const;
    std::string Expanded(const std::string& text) const;

    bool Call(int dispid, std::string_view name, const std::vector<ScriptToken>& tokens,
              std::string& error);
    bool ItemPoint(const ScriptToken& token, Point& point, std::string& error);
    bool ClickAction(const std::string& word, const std::vector<ScriptToken>& tokens,
                     std::string& error);
    bool ViewAction(const std::string& word, const std::vector<ScriptToken>& tokens,
                    std::string& error);
    bool SiteAction(const std::string& word, const std::vector<ScriptToken>& tokens,
                    std::string& error);
    bool Inspection(const std::string& word, const std::vector<ScriptToken>& tokens,
                    std::string& error);
    void Tick();
    bool Idle();
    void PaintAll();

    ContainerSiteFactory m_factory;
    ContainerOutput m_output;
    std::string m_base;
    std::vector<std::unique_ptr<IContainerSite>> m_sites;
    size_t m_current = 0;
};

}  // namespace scopa
