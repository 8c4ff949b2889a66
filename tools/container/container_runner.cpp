#include "container_runner.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <thread>

#include "cache/cache_manager.h"
#include "container_script.h"
#include "control/automation.h"
#include "control/scopa_ctrl.h"
#include "imaging/picture.h"
#include "platform/text.h"
#include "shell/tree_view.h"

namespace scopa::tool {
namespace {

constexpr int kMaxIdleTicks = 100000;
constexpr const char* kBaseVariable = "$BASE";

std::string g_base;
ContainerOutputObserver g_observer;

// Writes one piece of output to standard output and shows it to the observer.
__attribute__((format(printf, 1, 2))) void Out(const char* format, ...) {
    char small[512];
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    int length = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    std::string text;
    if (length >= 0 && size_t(length) < sizeof small) {
        text.assign(small, size_t(length));
    } else if (length >= 0) {
        text.resize(size_t(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(size_t(length));
    }
    va_end(again);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);  // a driving process reads the lines as they come
    if (g_observer) g_observer(text);
}

std::string Expanded(const std::string& text) {
    return ReplaceAll(text, kBaseVariable, g_base);
}

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
        return QuoteScriptString(ContainerShownText(*text));
    }
    return {};
}

bool Call(CScopaCtrl& control, const AutomationMethod& method,
          const std::vector<ScriptToken>& tokens, std::string& error) {
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
    switch (InvokeAutomationMethod(control, method, arguments, result)) {
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
        Out("%s -> %s\n", std::string(method.name).c_str(), FormatValue(result).c_str());
    }
    for (size_t i = 0; i < method.parameters.size(); ++i) {
        if (method.parameters[i] == AutomationType::kStringOut) {
            Out("%s -> %s\n", std::string(method.name).c_str(), FormatValue(arguments[i]).c_str());
        }
    }
    return true;
}

bool ItemPoint(ContainerSite& site, const ScriptToken& token, Point& point, std::string& error) {
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
    IListView& view = site.List();
    if (size_t(index) >= site.Control().list().model().GetItemCount()) {
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

void PrintList(CScopaCtrl& control) {
    const CPreviewListModel& model = control.list().model();
    for (size_t i = 0; i < model.GetItemCount(); ++i) {
        const CListItem& item = model.GetItem(i);
        Out("%zu\t%s\t%s%s\n", i, item.GetLabel().c_str(),
            std::string(ListItemKindName(item.GetKind())).c_str(),
            int(i) == model.GetSelectedIndex() ? "\tselected" : "");
    }
}

int Depth(const ITreeView& tree, TreeItem item) {
    int depth = 0;
    for (TreeItem parent = tree.GetParent(item); parent != kNoTreeItem;
         parent = tree.GetParent(parent)) {
        ++depth;
    }
    return depth;
}

void PrintTree(ITreeView& tree) {
    for (TreeItem item = tree.GetRoot(); item != kNoTreeItem; item = tree.GetNextVisible(item)) {
        std::string indent(size_t(2 * Depth(tree, item)), ' ');
        Out("%s%s%s\n", indent.c_str(), item == tree.GetSelection() ? "*" : "",
            tree.GetItem(item)->text.c_str());
    }
}

void PrintMenu(const std::vector<MenuEntry>& menu) {
    for (const MenuEntry& entry : menu) {
        if (entry.id == kMenuSeparator) {
            Out("menu 0\n");
            continue;
        }
        Out("menu %d %s%s%s\n", entry.id, QuoteScriptString(entry.text).c_str(),
            entry.checked ? " checked" : "", entry.disabled ? " disabled" : "");
    }
}

TreeItem FindTreeItem(ContainerSite& site, const std::string& path_text) {
    CShellPath wanted(path_text);
    ITreeView& tree = site.Tree();
    for (TreeItem item = tree.GetRoot(); item != kNoTreeItem; item = tree.GetNextVisible(item)) {
        const CShellPath* path = site.Control().tree().PathOf(item);
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

void Tick(ContainerSite& site) {
    site.Control().OnTimer();
    site.Paint();
}

bool Idle(ContainerSite& site) {
    for (int ticks = 0; ticks < kMaxIdleTicks; ++ticks) {
        CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
        bool queue_empty = manager == nullptr || manager->QueueHead() == nullptr;
        if (!site.Control().list().IsRefreshPending() && queue_empty) return true;
        Tick(site);
        // A thumbnail is being made on the worker: give it time instead of spinning.
        if (site.Control().caching().LastResult() == CachingJobResult::kInProgress) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return false;
}

}  // namespace

void SetContainerOutputObserver(ContainerOutputObserver observer) {
    g_observer = std::move(observer);
}

void SetContainerBase(const std::string& base) {
    g_base = base;
}

std::string ContainerShownText(const std::string& text) {
    return ReplaceAll(text, g_base, kBaseVariable);
}

void PrintContainerEvent(const char* name) {
    Out("event %s\n", name);
}

void PrintContainerEvent(const char* name, int value) {
    Out("event %s %d\n", name, value);
}

void PrintContainerEvent(const char* name, const std::string& text) {
    Out("event %s %s\n", name, QuoteScriptString(ContainerShownText(text)).c_str());
}

ContainerRunner::ContainerRunner(ContainerSiteFactory factory) : m_factory(std::move(factory)) {
    m_sites.push_back(m_factory());
}

ContainerRunner::~ContainerRunner() = default;

CScopaCtrl& ContainerRunner::Control() {
    return Current().Control();
}

void ContainerRunner::Paint() {
    for (auto& site : m_sites)
        site->Paint();
}

bool ContainerRunner::RunLine(const std::string& line, std::string& error) {
    if (TrimWhiteSpace(line).starts_with("//")) return true;
    std::optional<std::vector<ScriptToken>> tokens = TokenizeScriptLine(line, error);
    bool ran = tokens && (tokens->empty() || Run(*tokens, error));
    Paint();
    std::fflush(stdout);
    return ran;
}

int ContainerRunner::RunScript(std::istream& input) {
    int status = 0;
    std::string line;
    for (int line_number = 1; std::getline(input, line); ++line_number) {
        std::string error;
        if (!RunLine(line, error)) {
            std::fprintf(stderr, "error: line %d: %s\n", line_number, error.c_str());
            status = 1;
        }
    }
    std::fflush(stdout);
    return status;
}

bool ContainerRunner::Run(const std::vector<ScriptToken>& tokens, std::string& error) {
    const ScriptToken& head = tokens[0];
    const std::string& word = head.text;
    if (head.kind == ScriptToken::Kind::kWord && word.size() > 1 && word[0] == '#') {
        int dispid = std::atoi(word.c_str() + 1);
        const AutomationMethod* method = FindAutomationMethod(dispid);
        if (method == nullptr) {
            error = "no method with dispid " + word.substr(1);
            return false;
        }
        return Call(Control(), *method, tokens, error);
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
            Tick(Current());
        return true;
    }
    if (word == "idle") {
        if (!Idle(Current()))
            error = "still busy after " + std::to_string(kMaxIdleTicks) + " ticks";
        return error.empty();
    }
    if (word == "click" || word == "dblclick" || word == "rclick") {
        Point point;
        if (tokens.size() != 2 || !ItemPoint(Current(), tokens[1], point, error)) {
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
        TreeItem item = FindTreeItem(Current(), Expanded(tokens[1].text));
        if (item == kNoTreeItem) {
            error = "no shown tree item for " + tokens[1].text;
            return false;
        }
        if (word == "tree-select") {
            Current().Tree().Select(item);
        } else {
            Current().Tree().Expand(item, true);
        }
        return true;
    }
    if (word == "focus") {
        Control().OnSetFocus();
        return true;
    }
    if (word == "new") {
        m_sites.push_back(m_factory());
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
        PrintList(Control());
        return true;
    }
    if (word == "tree") {
        PrintTree(Current().Tree());
        return true;
    }
    if (word == "layout") {
        Rect tree = Current().Tree().GetBounds();
        Rect list = Current().ListBounds();
        Out("tree %d %d %d %d\nlist %d %d %d %d\n", tree.left, tree.top, tree.right, tree.bottom,
            list.left, list.top, list.right, list.bottom);
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
        return Call(Control(), *method, tokens, error);
    }
    bool succeeded = false;
    if (Current().RunHostAction(tokens, error, succeeded)) return succeeded;
    error = "unknown method or action: " + word;
    return false;
}

}  // namespace scopa::tool
