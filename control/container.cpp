#include "control/container.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "cache/cache_manager.h"
#include "control/automation.h"
#include "control/scopa_ctrl.h"
#include "imaging/picture.h"
#include "list/list_view.h"
#include "platform/text.h"
#include "shell/tree_view.h"

namespace scopa {
namespace {

bool NumberArgument(const std::vector<ScriptToken>& tokens, size_t index, int& out) {
    if (index >= tokens.size() || tokens[index].kind != ScriptToken::Kind::kNumber) return false;
    out = tokens[index].number;
    return true;
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

std::string FormatRect(const char* name, const Rect& rect) {
    return std::string(name) + " " + std::to_string(rect.left) + " " + std::to_string(rect.top) +
           " " + std::to_string(rect.right) + " " + std::to_string(rect.bottom);
}

int TreeDepth(const ITreeView& tree, TreeItem item) {
    int depth = 0;
    for (TreeItem at = tree.GetParent(item); at != kNoTreeItem; at = tree.GetParent(at))
        ++depth;
    return depth;
}

}  // namespace

CContainer::CContainer(ContainerSiteFactory factory, ContainerOutput output, std::string base)
    : m_factory(std::move(factory)), m_output(std::move(output)), m_base(std::move(base)) {
    m_sites.push_back(m_factory(*this));
}

// The controls go first: their destruction may still report.
CContainer::~CContainer() {
    m_sites.clear();
}

CScopaCtrl& CContainer::Control() {
    return Current().Control();
}

std::string CContainer::Shown(const std::string& text) const {
    return ReplaceAll(text, m_base, kBaseVariable);
}

std::string CContainer::Expanded(const std::string& text) const {
    return ReplaceAll(text, kBaseVariable, m_base);
}

void CContainer::OnFeedback(const std::string& text) {
    m_output("event OnFeedback " + QuoteScriptString(Shown(text)));
}

void CContainer::PaintAll() {
    for (auto& site : m_sites)
        site->Paint();
}

bool CContainer::RunLine(std::string_view line, std::string& error) {
    if (TrimWhiteSpace(line).starts_with("//")) return true;
    std::optional<std::vector<ScriptToken>> tokens = TokenizeScriptLine(line, error);
    bool ran = tokens && (tokens->empty() || Run(*tokens, error));
    PaintAll();
    return ran;
}

bool CContainer::Call(int dispid, std::string_view name, const std::vector<ScriptToken>& tokens,
                      std::string& error) {
    const AutomationMethod* method =
        dispid > 0 ? FindAutomationMethod(dispid) : FindAutomationMethod(name);
    if (method == nullptr) {
        error = dispid > 0 ? "no method with dispid " + std::to_string(dispid)
                           : "unknown method or action: " + std::string(name);
        return false;
    }
    const std::string method_name(method->name);
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
                error = "argument " + std::to_string(i) + " of " + method_name +
                        " is neither a string, a number nor TRUE/FALSE";
                return false;
        }
    }
    AutomationValue result;
    switch (InvokeAutomationMethod(Control(), *method, arguments, result)) {
        case InvokeStatus::kOk:
            break;
        case InvokeStatus::kBadArgumentCount:
            error =
                method_name + " takes " + std::to_string(method->parameters.size()) + " arguments";
            return false;
        case InvokeStatus::kBadArgumentType:
            error = "an argument of " + method_name + " has the wrong type";
            return false;
    }
    auto format = [this](const AutomationValue& value) -> std::string {
        if (const bool* flag = std::get_if<bool>(&value)) return *flag ? "TRUE" : "FALSE";
        if (const std::int32_t* number = std::get_if<std::int32_t>(&value)) {
            return std::to_string(*number);
        }
        if (const std::string* text = std::get_if<std::string>(&value)) {
            return QuoteScriptString(Shown(*text));
        }
        return {};
    };
    if (!std::holds_alternative<std::monostate>(result)) {
        m_output(method_name + " -> " + format(result));
    }
    for (size_t i = 0; i < method->parameters.size(); ++i) {
        if (method->parameters[i] == AutomationType::kStringOut) {
            m_output(method_name + " -> " + format(arguments[i]));
        }
    }
    return true;
}

bool CContainer::ItemPoint(const ScriptToken& token, Point& point, std::string& error) {
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
    IListView& view = Current().List();
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

void CContainer::Tick() {
    Control().OnTimer();
    PaintAll();
}

bool CContainer::Idle() {
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

bool CContainer::ClickAction(const std::string& word, const std::vector<ScriptToken>& tokens,
                             std::string& error) {
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
        for (const MenuEntry& entry : Control().list().OnRightClick(point)) {
            if (entry.id == kMenuSeparator) {
                m_output("menu 0");
                continue;
            }
            m_output("menu " + std::to_string(entry.id) + " " + QuoteScriptString(entry.text) +
                     (entry.checked ? " checked" : "") + (entry.disabled ? " disabled" : ""));
        }
    }
    return true;
}

// Actions on the list and the splitter.
bool CContainer::ViewAction(const std::string& word, const std::vector<ScriptToken>& tokens,
                            std::string& error) {
    int number = 0;
    int second = 0;
    if (word == "menu") {
        if (!NumberArgument(tokens, 1, number)) {
            error = "menu takes a command id";
        } else if (!Control().list().OnMenuCommand(number)) {
            error = "menu command " + std::to_string(number) + " is not offered";
        }
    } else if (word == "column") {
        if (!NumberArgument(tokens, 1, number) || SortCommandForColumn(number) < 0) {
            error = "column takes 0 to 3";
        } else {
            Control().list().OnColumnClick(number);
        }
    } else if (word == "key") {
        std::optional<ListKey> key = tokens.size() == 2 ? KeyNamed(tokens[1].text) : std::nullopt;
        if (!key) {
            error = "key takes PageUp, PageDown, Home, End, Left, Up, Right or Down";
        } else {
            Control().list().OnKey(*key);
        }
    } else if (word == "wheel") {
        if (!NumberArgument(tokens, 1, number)) {
            error = "wheel takes a number of notches";
        } else {
            Control().list().OnWheel(number);
        }
    } else if (word == "resize") {
        if (!NumberArgument(tokens, 1, number) || !NumberArgument(tokens, 2, second) ||
            number < 0 || second < 0) {
            error = "resize takes a width and a height";
        } else {
            Control().OnSize(number, second);
        }
    } else if (word == "drag-splitter") {
        if (!NumberArgument(tokens, 1, number)) {
            error = "drag-splitter takes an x";
        } else {
            Rect bar = Control().GetSplitterRect();
            Control().OnLButtonDown({bar.left + 1, 1});
            Control().OnMouseMove({number, 1});
            Control().OnLButtonUp({number, 1});
        }
    } else {
        return false;
    }
    return true;
}

// Actions on the tree, the focus and the sites.
bool CContainer::SiteAction(const std::string& word, const std::vector<ScriptToken>& tokens,
                            std::string& error) {
    int number = 0;
    if (word == "tree-select" || word == "tree-expand") {
        if (tokens.size() != 2 || tokens[1].kind != ScriptToken::Kind::kString) {
            error = word + " takes a quoted path";
            return true;
        }
        CShellPath wanted(Expanded(tokens[1].text));
        ITreeView& tree = Current().Tree();
        TreeItem found = kNoTreeItem;
        for (TreeItem item = tree.GetRoot(); item != kNoTreeItem && found == kNoTreeItem;
             item = tree.GetNextVisible(item)) {
            const CShellPath* path = Control().tree().PathOf(item);
            if (path != nullptr && CShellPath::Compare(*path, wanted) == 0) found = item;
        }
        if (found == kNoTreeItem) {
            error = "no shown tree item for " + tokens[1].text;
        } else if (word == "tree-select") {
            tree.Select(found);
        } else {
            tree.Expand(found, true);
        }
    } else if (word == "focus") {
        Control().OnSetFocus();
    } else if (word == "new") {
        m_sites.push_back(m_factory(*this));
        m_current = m_sites.size() - 1;
    } else if (word == "use") {
        if (!NumberArgument(tokens, 1, number) || number < 1 || size_t(number) > m_sites.size()) {
            error = "use takes a control number from 1 to " + std::to_string(m_sites.size());
        } else {
            m_current = size_t(number) - 1;
        }
    } else {
        return false;
    }
    return true;
}

bool CContainer::Inspection(const std::string& word, const std::vector<ScriptToken>& tokens,
                            std::string& error) {
    const CPreviewListModel& model = Control().list().model();
    if (word == "list") {
        for (size_t i = 0; i < model.GetItemCount(); ++i) {
            const CListItem& item = model.GetItem(i);
            m_output(std::to_string(i) + "\t" + item.GetLabel() + "\t" +
                     std::string(ListItemKindName(item.GetKind())) +
                     (int(i) == model.GetSelectedIndex() ? "\tselected" : ""));
        }
    } else if (word == "tree") {
        ITreeView& tree = Current().Tree();
        for (TreeItem item = tree.GetRoot(); item != kNoTreeItem;
             item = tree.GetNextVisible(item)) {
            m_output(std::string(size_t(2 * TreeDepth(tree, item)), ' ') +
                     (item == tree.GetSelection() ? "*" : "") + tree.GetItem(item)->text);
        }
    } else if (word == "layout") {
        m_output(FormatRect("tree", Current().Tree().GetBounds()));
        m_output(FormatRect("list", Current().List().GetBounds()));
    } else if (word == "cell") {
        int number = 0;
        if (tokens.size() != 4 || !NumberArgument(tokens, 1, number) || tokens[2].text != "-o") {
            error = "cell takes an item index, -o and a file name";
        } else if (number < 0 || size_t(number) >= model.GetItemCount()) {
            error = "no item " + std::to_string(number);
        } else {
            oDIB cell = Control().list().ComposeCell(size_t(number));
            if (WritePicture(Expanded(tokens[3].text), "PNG", &cell, nullptr) != kFilterDone) {
                error = "cannot write " + tokens[3].text;
            }
        }
    } else {
        return false;
    }
    return true;
}

bool CContainer::Run(const std::vector<ScriptToken>& tokens, std::string& error) {
    const ScriptToken& head = tokens[0];
    const std::string& word = head.text;
    if (head.kind != ScriptToken::Kind::kWord) {
        error = "a line starts with a method or an action";
        return false;
    }
    if (word.size() > 1 && word[0] == '#') {
        int dispid = std::atoi(word.c_str() + 1);
        if (dispid <= 0) {
            error = "no method with dispid " + word.substr(1);
            return false;
        }
        return Call(dispid, word, tokens, error);
    }
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
        return ClickAction(word, tokens, error);
    }
    if (ViewAction(word, tokens, error) || SiteAction(word, tokens, error) ||
        Inspection(word, tokens, error)) {
        return error.empty();
    }
    return Call(0, word, tokens, error);
}

}  // namespace scopa
