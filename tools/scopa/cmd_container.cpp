// scopa container [SCRIPT] [--size WxH] [--base DIR]: a host for the control in a script.
// It makes one control on in-memory views, runs the script's lines (automation calls by name
// or dispid, host actions, inspections) and prints what happens in order: method results,
// events as they fire, menus, lists, trees and layouts.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_manager.h"
#include "command.h"
#include "control/automation.h"
#include "control/container_script.h"
#include "control/scopa_ctrl.h"
#include "imaging/picture.h"
#include "list/headless_list_view.h"
#include "platform/text.h"
#include "shell/headless_tree_view.h"

namespace scopa::tool {
namespace {

constexpr const char* kCommandName = "container";
constexpr int kDefaultWidthPx = 800;
constexpr int kDefaultHeightPx = 600;
constexpr int kMaxIdleTicks = 100000;
constexpr const char* kBaseVariable = "$BASE";

// Texts leaving the container show the base folder as $BASE, so expected output is stable.
std::string g_base;
std::string Shown(const std::string& text) {
    return ReplaceAll(text, g_base, kBaseVariable);
}
std::string Expanded(const std::string& text) {
    return ReplaceAll(text, kBaseVariable, g_base);
}

class ContainerHost final : public IControlHost, public IControlEvents {
public:
    void SetWaitCursor(bool on) override { (void)on; }
    void SetTimer(int interval_ms) override { (void)interval_ms; }
    void KillTimer() override {}

    void OnFeedback(const std::string& text) override {
        std::printf("event OnFeedback %s\n", QuoteScriptString(Shown(text)).c_str());
    }
    void OnPathChange() override { std::printf("event OnPathChange\n"); }
    void OnOpen() override { std::printf("event OnOpen\n"); }
    void OnNavigate() override { std::printf("event OnNavigate\n"); }
    void OnTreeControlWidthChange() override { std::printf("event OnTreeControlWidthChange\n"); }
    void OnSelectionChange(int index) override {
        std::printf("event OnSelectionChange %d\n", index);
    }
};

// One control with its views and host.
struct Site {
    ContainerHost host;
    CHeadlessTreeView tree;
    CHeadlessListView list;
    std::unique_ptr<CScopaCtrl> control;

    Site(int width_px, int height_px) {
        control = std::make_unique<CScopaCtrl>(host, &host, tree, list);
        control->OnCreate();
        control->OnSize(width_px, height_px);
    }
};

class Container {
public:
    Container(int width_px, int height_px) : m_width(width_px), m_height(height_px) {
        m_sites.push_back(std::make_unique<Site>(m_width, m_height));
    }

    // Runs one line; false with `error` set when it cannot.
    bool Run(const std::vector<ScriptToken>& tokens, std::string& error);
    void Paint() {
        for (auto& site : m_sites)
            site->list.Paint();
    }

private:
    Site& Current() { return *m_sites[m_current]; }
    CScopaCtrl& Control() { return *Current().control; }
    bool Call(const AutomationMethod& method, const std::vector<ScriptToken>& tokens,
              std::string& error);
    bool ItemPoint(const ScriptToken& token, Point& point, std::string& error);
    TreeItem FindTreeItem(const std::string& path_text);
    void Tick();
    bool Idle();
    void PrintList();
    void PrintTree();
    void PrintMenu(const std::vector<MenuEntry>& menu);

    int m_width;
    int m_height;
    std::vector<std::unique_ptr<Site>> m_sites;
    size_t m_current = 0;
};

bool NumberArgument(const std::vector<ScriptToken>& tokens, size_t index, int& out) {
    if (index >= tokens.size() || tokens[index].kind != ScriptToken::Kind::kNumber) return false;
    out = tokens[index].number;
    return true;
}

std::string FormatValue(const AutomationValue& value) {
    if (const bool* flag = std::get_if<bool>(&value)) return *flag ? "TRUE" : "FALSE";
    if (const std::int32_t* number = std::get_if<std::int32_t>(&value))
        return std::to_string(*number);
    if (const std::string* text = std::get_if<std::string>(&value)) {
        return QuoteScriptString(Shown(*text));
    }
    return {};
}

bool Container::Call(const AutomationMethod& method, const std::vector<ScriptToken>& tokens,
                     std::string& error) {
    std::vector<AutomationValue> arguments;
    for (size_t i = 1; i < tokens.size(); ++i) {
        const ScriptToken& token = tokens[i];
        switch (token.kind) {
            case ScriptToken::Kind::kString:
                arguments.emplace_back(Expanded(token.text));
                break;
            case ScriptToken::Kind::kNumber:
                arguments.emplace_back(token.number);
                break;
            case ScriptToken::Kind::kBool:
                arguments.emplace_back(token.flag);
                break;
            case ScriptToken::Kind::kWord:
                error = "argument " + std::to_string(i) + " of " + std::string(method.name) +
                        " is neither a string, a number nor TRUE/FALSE";
                return false;
        }
    }
    AutomationValue result;
    switch (InvokeAutomationMethod(Control(), method, arguments, result)) {
        case InvokeStatus::kOk:
            break;
        case InvokeStatus::kBadArgumentCount:
            error = std::string(method.name) + " takes " +
                    std::to_string(method.parameters.size()) + " arguments";
            return false;
        case InvokeStatus::kBadArgumentType:
            error = "an argument of " + std::string(method.name) + " has the wrong type";
            return false;
    }
    if (!std::holds_alternative<std::monostate>(result)) {
        std::printf("%s -> %s\n", std::string(method.name).c_str(), FormatValue(result).c_str());
    }
    for (size_t i = 0; i < method.parameters.size(); ++i) {
        if (method.parameters[i] == AutomationType::kStringOut) {
            std::printf("%s -> %s\n", std::string(method.name).c_str(),
                        FormatValue(arguments[i]).c_str());
        }
    }
    return true;
}

bool Container::ItemPoint(const ScriptToken& token, Point& point, std::string& error) {
    if (token.kind == ScriptToken::Kind::kWord) {
        // X,Y in the list's client coordinates.
        int x = 0;
        int y = 0;
        char rest = 0;
        if (std::sscanf(token.text.c_str(), "%d,%d%c", &x, &y, &rest) != 2) {
            error = "expected an item index or X,Y: " + token.text;
            return false;
        }
        point = {x, y};
        return true;
    }
    if (token.kind != ScriptToken::Kind::kNumber) {
        error = "expected an item index";
        return false;
    }
    int index = token.number;
    if (index < 0) {
        point = {-1, -1};  // outside every item
        return true;
    }
    IListView& view = Current().list;
    if (size_t(index) >= Control().list().model().GetItemCount()) {
        error = "no item " + std::to_string(index);
        return false;
    }
    Rect icon = view.GetItemRect(size_t(index), ListItemPart::kIcon);
    point = {(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2};
    Rect client = view.GetClientRect();
    if (point.x < 0 || point.y < 0 || point.x >= client.right || point.y >= client.bottom) {
        error = "item " + std::to_string(index) + " is not in view";
        return false;
    }
    return true;
}

void Container::Tick() {
    Control().OnTimer();
    Paint();
}

bool Container::Idle() {
    for (int ticks = 0; ticks < kMaxIdleTicks; ++ticks) {
        CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
        bool queue_empty = manager == nullptr || manager->QueueHead() == nullptr;
        if (!Control().list().IsRefreshPending() && queue_empty) return true;
        Tick();
        // A thumbnail is being made on the worker: give it time instead of spinning.
        if (Control().caching().LastResult() == CachingJobResult::kInProgress) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return false;
}

void Container::PrintList() {
    const CPreviewListModel& model = Control().list().model();
    for (size_t i = 0; i < model.GetItemCount(); ++i) {
        const CListItem& item = model.GetItem(i);
        std::printf("%zu\t%s\t%s%s\n", i, item.GetLabel().c_str(),
                    std::string(ListItemKindName(item.GetKind())).c_str(),
                    int(i) == model.GetSelectedIndex() ? "\tselected" : "");
    }
}

void Container::PrintTree() {
    CHeadlessTreeView& tree = Current().tree;
    for (TreeItem item = tree.GetRoot(); item != kNoTreeItem; item = tree.GetNextVisible(item)) {
        std::string indent(size_t(2 * tree.GetDepth(item)), ' ');
        std::printf("%s%s%s\n", indent.c_str(), item == tree.GetSelection() ? "*" : "",
                    tree.GetItem(item)->text.c_str());
    }
}

void Container::PrintMenu(const std::vector<MenuEntry>& menu) {
    for (const MenuEntry& entry : menu) {
        if (entry.id == kMenuSeparator) {
            std::printf("menu 0\n");
            continue;
        }
        std::printf("menu %d %s%s%s\n", entry.id, QuoteScriptString(entry.text).c_str(),
                    entry.checked ? " checked" : "", entry.disabled ? " disabled" : "");
    }
}

TreeItem Container::FindTreeItem(const std::string& path_text) {
    CShellPath wanted(path_text);
    CHeadlessTreeView& tree = Current().tree;
    for (TreeItem item = tree.GetRoot(); item != kNoTreeItem; item = tree.GetNextVisible(item)) {
        const CShellPath* path = Control().tree().PathOf(item);
        if (path != nullptr && CShellPath::Compare(*path, wanted) == 0) return item;
    }
    return kNoTreeItem;
}

std::optional<ListKey> KeyNamed(const std::string& name) {
    static const std::pair<const char*, ListKey> kKeys[] = {
        {"PageUp", ListKey::kPageUp}, {"PageDown", ListKey::kPageDown}, {"Home", ListKey::kHome},
        {"End", ListKey::kEnd},       {"Left", ListKey::kLeft},         {"Up", ListKey::kUp},
        {"Right", ListKey::kRight},   {"Down", ListKey::kDown},
    };
    for (const auto& [key_name, key] : kKeys) {
        if (name == key_name) return key;
    }
    return std::nullopt;
}

bool Container::Run(const std::vector<ScriptToken>& tokens, std::string& error) {
    const ScriptToken& head = tokens[0];
    const std::string& word = head.text;
    if (head.kind == ScriptToken::Kind::kWord && word.size() > 1 && word[0] == '#') {
        int dispid = std::atoi(word.c_str() + 1);
        const AutomationMethod* method = FindAutomationMethod(dispid);
        if (method == nullptr) {
            error = "no method with dispid " + word.substr(1);
            return false;
        }
        return Call(*method, tokens, error);
    }
    if (head.kind != ScriptToken::Kind::kWord) {
        error = "a line starts with a method or an action";
        return false;
    }
    int number = 0;
    int second = 0;
    if (word == "tick") {
        int count = 1;
        if (tokens.size() > 1 && (!NumberArgument(tokens, 1, count) || count < 0)) {
            error = "tick takes a count";
            return false;
        }
        for (int i = 0; i < count; ++i)
            Tick();
        return true;
    }
    if (word == "idle") {
        if (!Idle()) error = "still busy after " + std::to_string(kMaxIdleTicks) + " ticks";
        return error.empty();
    }
    if (word == "click" || word == "dblclick" || word == "rclick") {
        Point point;
        if (tokens.size() != 2 || !ItemPoint(tokens[1], point, error)) {
            if (error.empty()) error = word + " takes an item";
            return false;
        }
        if (word == "click") {
            Control().list().OnClick(point);
        } else if (word == "dblclick") {
            Control().list().OnDoubleClick(point);
        } else {
            PrintMenu(Control().list().OnRightClick(point));
        }
        return true;
    }
    if (word == "menu") {
        if (!NumberArgument(tokens, 1, number)) {
            error = "menu takes a command id";
            return false;
        }
        if (!Control().list().OnMenuCommand(number)) {
            error = "menu command " + std::to_string(number) + " is not offered";
            return false;
        }
        return true;
    }
    if (word == "column") {
        if (!NumberArgument(tokens, 1, number) || SortCommandForColumn(number) < 0) {
            error = "column takes 0 to 3";
            return false;
        }
        Control().list().OnColumnClick(number);
        return true;
    }
    if (word == "key") {
        std::optional<ListKey> key = tokens.size() == 2 ? KeyNamed(tokens[1].text) : std::nullopt;
        if (!key) {
            error = "key takes PageUp, PageDown, Home, End, Left, Up, Right or Down";
            return false;
        }
        Control().list().OnKey(*key);
        return true;
    }
    if (word == "wheel") {
        if (!NumberArgument(tokens, 1, number)) {
            error = "wheel takes a number of notches";
            return false;
        }
        Control().list().OnWheel(number);
        return true;
    }
    if (word == "resize") {
        if (!NumberArgument(tokens, 1, number) || !NumberArgument(tokens, 2, second) ||
            number < 0 || second < 0) {
            error = "resize takes a width and a height";
            return false;
        }
        Control().OnSize(number, second);
        return true;
    }
    if (word == "drag-splitter") {
        if (!NumberArgument(tokens, 1, number)) {
            error = "drag-splitter takes an x";
            return false;
        }
        Rect bar = Control().GetSplitterRect();
        Control().OnLButtonDown({bar.left + 1, 1});
        Control().OnMouseMove({number, 1});
        Control().OnLButtonUp({number, 1});
        return true;
    }
    if (word == "tree-select" || word == "tree-expand") {
        if (tokens.size() != 2 || tokens[1].kind != ScriptToken::Kind::kString) {
            error = word + " takes a quoted path";
            return false;
        }
        TreeItem item = FindTreeItem(Expanded(tokens[1].text));
        if (item == kNoTreeItem) {
            error = "no shown tree item for " + tokens[1].text;
            return false;
        }
        if (word == "tree-select") {
            Current().tree.Select(item);
        } else {
            Current().tree.Expand(item, true);
        }
        return true;
    }
    if (word == "focus") {
        Control().OnSetFocus();
        return true;
    }
    if (word == "new") {
        m_sites.push_back(std::make_unique<Site>(m_width, m_height));
        m_current = m_sites.size() - 1;
        return true;
    }
    if (word == "use") {
        if (!NumberArgument(tokens, 1, number) || number < 1 || size_t(number) > m_sites.size()) {
            error = "use takes a control number from 1 to " + std::to_string(m_sites.size());
            return false;
        }
        m_current = size_t(number) - 1;
        return true;
    }
    if (word == "list") {
        PrintList();
        return true;
    }
    if (word == "tree") {
        PrintTree();
        return true;
    }
    if (word == "layout") {
        Rect tree = Current().tree.GetBounds();
        Rect list = Current().list.GetBounds();
        std::printf("tree %d %d %d %d\nlist %d %d %d %d\n", tree.left, tree.top, tree.right,
                    tree.bottom, list.left, list.top, list.right, list.bottom);
        return true;
    }
    if (word == "cell") {
        if (tokens.size() != 4 || !NumberArgument(tokens, 1, number) || tokens[2].text != "-o") {
            error = "cell takes an item index, -o and a file name";
            return false;
        }
        if (number < 0 || size_t(number) >= Control().list().model().GetItemCount()) {
            error = "no item " + std::to_string(number);
            return false;
        }
        oDIB cell = Control().list().ComposeCell(size_t(number));
        std::string path = Expanded(tokens[3].text);
        if (WritePicture(path, "PNG", &cell, nullptr) != kFilterDone) {
            error = "cannot write " + tokens[3].text;
            return false;
        }
        return true;
    }
    if (const AutomationMethod* method = FindAutomationMethod(word)) {
        return Call(*method, tokens, error);
    }
    error = "unknown method or action: " + word;
    return false;
}

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
    g_base = arguments.Value("--base").value_or("");
    std::ifstream file;
    if (!arguments.positional.empty()) {
        file.open(arguments.positional[0]);
        if (!file) return Fail(kCommandName, "cannot read " + arguments.positional[0]);
    }
    std::istream& input = arguments.positional.empty() ? std::cin : file;

    int status = kExitOk;
    {
        Container container(width, height);
        std::string line;
        for (int line_number = 1; std::getline(input, line); ++line_number) {
            if (TrimWhiteSpace(line).starts_with("//")) continue;
            std::string error;
            std::optional<std::vector<ScriptToken>> tokens = TokenizeScriptLine(line, error);
            bool ran = tokens && (tokens->empty() || container.Run(*tokens, error));
            container.Paint();
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
