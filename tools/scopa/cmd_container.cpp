// scopa container [SCRIPT] [--size WxH] [--base DIR]: a host for the control in a script, on
// the in-memory views. The script language and what is printed are the container's
// (control/container.h); this command only makes the sites and reads the lines.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "command.h"
#include "control/container.h"
#include "control/scopa_ctrl.h"
#include "list/headless_list_view.h"
#include "shell/headless_tree_view.h"

namespace scopa::tool {
namespace {

constexpr const char* kCommandName = "container";
constexpr int kDefaultWidthPx = 800;
constexpr int kDefaultHeightPx = 600;

// The host's window system: a timer ticked by the script, no cursor to show.
class HeadlessHost final : public IControlHost {
public:
    void SetWaitCursor(bool on) override { (void)on; }
    void SetTimer(int interval_ms) override { (void)interval_ms; }
    void KillTimer() override {}
};

class HeadlessSite final : public IContainerSite {
public:
    HeadlessSite(IControlEvents& events, int width_px, int height_px)
        : m_control(m_host, &events, m_tree, m_list) {
        m_control.OnCreate();
        m_control.OnSize(width_px, height_px);
    }
    CScopaCtrl& Control() override { return m_control; }
    ITreeView& Tree() override { return m_tree; }
    IListView& List() override { return m_list; }
    void Paint() override { m_list.Paint(); }

private:
    HeadlessHost m_host;
    CHeadlessTreeView m_tree;
    CHeadlessListView m_list;
    CScopaCtrl m_control;
};

int RunContainer(const Arguments& arguments) {
    if (arguments.positional.size() > 1) {
        return Fail(kCommandName, "expects at most one script (see --help)", kExitUsage);
    }
    int width = kDefaultWidthPx;
    int height = kDefaultHeightPx;
    if (std::optional<std::string> size = arguments.Value("--size")) {
        char rest = 0;
        if (std::sscanf(size->c_str(), "%dx%d%c", &width, &height, &rest) != 2 || width < 0 ||
            height < 0) {
            return Fail(kCommandName, "--size takes WxH", kExitUsage);
        }
    }
    std::ifstream file;
    if (!arguments.positional.empty()) {
        file.open(arguments.positional[0]);
        if (!file) return Fail(kCommandName, "cannot read " + arguments.positional[0]);
    }
    std::istream& input = arguments.positional.empty() ? std::cin : file;

    int status = kExitOk;
    {
        CContainer container(
            [width, height](IControlEvents& events) -> std::unique_ptr<IContainerSite> {
                return std::make_unique<HeadlessSite>(events, width, height);
            },
            [](const std::string& line) { std::printf("%s\n", line.c_str()); },
            arguments.Value("--base").value_or(""));
        std::string line;
        for (int line_number = 1; std::getline(input, line); ++line_number) {
            std::string error;
            bool ran = container.RunLine(line, error);
            std::fflush(stdout);
            if (!ran) {
                std::fprintf(stderr, "error: line %d: %s\n", line_number, error.c_str());
                status = kExitFailure;
            }
        }
    }
    std::fflush(stdout);
    return status;
}

const RegisterCommand kRegistration({
    kCommandName,
    "container [SCRIPT] [--size WxH] [--base DIR]",
    "runs a script against the control on in-memory views and prints what happens",
    "Reads lines from SCRIPT or standard input. `Name arg...` calls an automation method by "
    "name (any letter case), `#N arg...` by dispid; arguments are \"strings\" with C escapes, "
    "numbers (decimal or 0x) and TRUE/FALSE. A result or an out-string prints as "
    "`Name -> VALUE`, every event as `event Name [VALUE]`.\n\n"
    "Host actions: tick [N], idle, click I, dblclick I, rclick I|X,Y, menu ID, column N, key "
    "NAME, wheel N (positive towards the end), resize W H, drag-splitter X, tree-select PATH, "
    "tree-expand PATH, focus, new, use N. Inspection: list, tree, layout, cell I -o FILE.png. "
    "Lines starting with // are comments.\n\n"
    "--base DIR stands for $BASE in the script's strings and is printed as $BASE. A line that "
    "cannot run prints `error: ...` on standard error; the script goes on and the exit status "
    "is 1.",
    {{"--size", true, "client area WxH in pixels (default 800x600)"},
     {"--base", true, "folder that $BASE stands for"}},
    RunContainer,
});

}  // namespace
}  // namespace scopa::tool
