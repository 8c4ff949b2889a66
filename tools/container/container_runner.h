// The container language run against controls of any kind: `scopa container` runs it on
// in-memory views and `scopa-view --script` on the Qt widget. A site is one control with its
// two views; the runner makes sites through the host's factory, runs script lines against
// the current one and prints results, menus, lists and trees. Events are printed by the
// site's own event sink (PrintEvent), so they appear at the moment they fire.
#pragma once

#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "imaging/geometry.h"

namespace scopa {
class CScopaCtrl;
class ITreeView;
class IListView;
}  // namespace scopa

namespace scopa::tool {

struct ScriptToken;

class ContainerSite {
public:
    virtual ~ContainerSite() = default;
    virtual CScopaCtrl& Control() = 0;
    virtual ITreeView& Tree() = 0;
    virtual IListView& List() = 0;
    virtual Rect ListBounds() const = 0;
    // Lets the views draw what is in view (and so ask for their cells).
    virtual void Paint() = 0;
    // Runs an action only this kind of host offers (a screenshot, a real menu); false when
    // `tokens` name none of them.
    virtual bool RunHostAction(const std::vector<ScriptToken>& tokens, std::string& error,
                               bool& succeeded) {
        (void)tokens;
        (void)error;
        (void)succeeded;
        return false;
    }
};

using ContainerSiteFactory = std::function<std::unique_ptr<ContainerSite>()>;

// The folder $BASE stands for in script strings and in printed texts.
void SetContainerBase(const std::string& base);
// `text` as printed: the base folder shown as $BASE.
std::string ContainerShownText(const std::string& text);
// Sees every piece of output (results, events, lists) as it is printed.
using ContainerOutputObserver = std::function<void(const std::string& text)>;
void SetContainerOutputObserver(ContainerOutputObserver observer);
// Prints one event line: `event NAME` or `event NAME VALUE`.
void PrintContainerEvent(const char* name);
void PrintContainerEvent(const char* name, int value);
void PrintContainerEvent(const char* name, const std::string& text);

class ContainerRunner {
public:
    explicit ContainerRunner(ContainerSiteFactory factory);
    ~ContainerRunner();
    ContainerRunner(const ContainerRunner&) = delete;
    ContainerRunner& operator=(const ContainerRunner&) = delete;

    // Runs one line; false with `error` set when it cannot.
    bool RunLine(const std::string& line, std::string& error);
    // Runs every line of `input`, reporting failures on standard error as
    // `error: line N: ...`. Returns the exit status (0, or 1 after a failed line).
    int RunScript(std::istream& input);
    void Paint();

private:
    bool Run(const std::vector<ScriptToken>& tokens, std::string& error);
    ContainerSite& Current() { return *m_sites[m_current]; }
    CScopaCtrl& Control();

    ContainerSiteFactory m_factory;
    std::vector<std::unique_ptr<ContainerSite>> m_sites;
    size_t m_current = 0;
};

}  // namespace scopa::tool
