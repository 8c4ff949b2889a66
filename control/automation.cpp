#include "control/automation.h"

#include "control/scopa_ctrl.h"
#include "platform/text.h"

namespace scopa {
namespace {

using T = AutomationType;
using Args = std::vector<AutomationValue>;

std::int32_t Number(const AutomationValue& value) {
    if (const bool* flag = std::get_if<bool>(&value)) return *flag ? 1 : 0;
    return std::get<std::int32_t>(value);
}
const std::string& Text(const AutomationValue& value) {
    return std::get<std::string>(value);
}

// Each entry's invoker gets arguments already checked against its parameter types.
std::vector<AutomationMethod> MakeMethods() {
    return {
        {1,
         "GetPalette",
         T::kLong,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue { return std::int32_t(c.GetPalette()); }},
        {2,
         "GetPath",
         T::kVoid,
         {T::kStringOut},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             std::string out;
             c.GetPath(out);
             a[0] = out;
             return {};
         }},
        {3,
         "SetPath",
         T::kVoid,
         {T::kString},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetPath(Text(a[0]));
             return {};
         }},
        {4,
         "SetFilter",
         T::kVoid,
         {T::kString},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetFilter(Text(a[0]));
             return {};
         }},
        {5,
         "CreateStaticCache",
         T::kBool,
         {T::kString, T::kString},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             return c.CreateStaticCache(Text(a[0]), Text(a[1]));
         }},
        {6,
         "QryGoParent",
         T::kBool,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue { return c.QryGoParent(); }},
        {7,
         "QryGoBack",
         T::kBool,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue { return c.QryGoBack(); }},
        {8,
         "QryGoForward",
         T::kBool,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue { return c.QryGoForward(); }},
        {9,
         "GoParent",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.GoParent();
             return {};
         }},
        {10,
         "GoBack",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.GoBack();
             return {};
         }},
        {11,
         "GoForward",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.GoForward();
             return {};
         }},
        {12,
         "OkPressed",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.OkPressed();
             return {};
         }},
        {13,
         "QryEnableOk",
         T::kBool,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue { return c.QryEnableOk(); }},
        {14,
         "GetTreeControlWidth",
         T::kLong,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             return std::int32_t(c.GetTreeControlWidth());
         }},
        {15,
         "SetTreeControlWidth",
         T::kVoid,
         {T::kLong},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetTreeControlWidth(Number(a[0]));
             return {};
         }},
        {16,
         "SetResolution",
         T::kVoid,
         {T::kLong},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetResolution(Number(a[0]));
             return {};
         }},
        {17,
         "EnableDragAndDrop",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.EnableDragAndDrop();
             return {};
         }},
        {18,
         "GetPreviewListStyle",
         T::kLong,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             return std::int32_t(c.GetPreviewListStyle());
         }},
        {19,
         "SetPreviewListStyle",
         T::kVoid,
         {T::kLong},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetPreviewListStyle(long(Number(a[0])));
             return {};
         }},
        {20,
         "GetPreviewListSortOrder",
         T::kLong,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             return std::int32_t(c.GetPreviewListSortOrder());
         }},
        {21,
         "SetPreviewListSortOrder",
         T::kVoid,
         {T::kLong},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetPreviewListSortOrder(long(Number(a[0])));
             return {};
         }},
        {22,
         "EnableTreeControl",
         T::kVoid,
         {T::kBool},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.EnableTreeControl(Number(a[0]));
             return {};
         }},
        {23,
         "EnablePopupMenu",
         T::kVoid,
         {T::kBool},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.EnablePopupMenu(Number(a[0]));
             return {};
         }},
        {24,
         "ShowFolderOverlays",
         T::kVoid,
         {T::kBool},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.ShowFolderOverlays(Number(a[0]));
             return {};
         }},
        {25,
         "ShowShortcutOverlays",
         T::kVoid,
         {T::kBool},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.ShowShortcutOverlays(Number(a[0]));
             return {};
         }},
        {26,
         "ShowFileExtensions",
         T::kVoid,
         {T::kBool},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.ShowFileExtensions(Number(a[0]));
             return {};
         }},
        {27,
         "SelectPreviewListItem",
         T::kVoid,
         {T::kLong},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SelectPreviewListItem(Number(a[0]));
             return {};
         }},
        {28,
         "SelectPreviewListItemStr",
         T::kVoid,
         {T::kString},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SelectPreviewListItemStr(Text(a[0]));
             return {};
         }},
        {29,
         "GetFolder",
         T::kVoid,
         {T::kStringOut},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             std::string out;
             c.GetFolder(out);
             a[0] = out;
             return {};
         }},
        {30,
         "SetSumInfoKeywordFilter",
         T::kVoid,
         {T::kString},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetSumInfoKeywordFilter(Text(a[0]));
             return {};
         }},
        {31,
         "QryEnableExport",
         T::kBool,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue { return c.QryEnableExport(); }},
        {32,
         "ExportPressed",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.ExportPressed();
             return {};
         }},
        {33,
         "SetTreeControlRootFolder",
         T::kVoid,
         {T::kString},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetTreeControlRootFolder(Text(a[0]));
             return {};
         }},
        {34,
         "ShowTreeControlButtons",
         T::kVoid,
         {T::kBool},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.ShowTreeControlButtons(Number(a[0]));
             return {};
         }},
        {35,
         "SetTreeControlTopFolder",
         T::kVoid,
         {T::kString},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetTreeControlTopFolder(Text(a[0]));
             return {};
         }},
        {36,
         "SetTreeControlFixedWidth",
         T::kVoid,
         {T::kLong},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetTreeControlFixedWidth(Number(a[0]));
             return {};
         }},
        {37,
         "SetFilterExtensions",
         T::kVoid,
         {T::kString, T::kString},
         [](CScopaCtrl& c, Args& a) -> AutomationValue {
             c.SetFilterExtensions(Text(a[0]), Text(a[1]));
             return {};
         }},
        {38,
         "EnableDoubleClickLaunch",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.EnableDoubleClickLaunch();
             return {};
         }},
        {39,
         "QryPreviewListItem",
         T::kBool,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue { return c.QryPreviewListItem(); }},
        {40,
         "PreviewListItem",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.PreviewListItem();
             return {};
         }},
        {41,
         "QryOpenEditListItem",
         T::kBool,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue { return c.QryOpenEditListItem(); }},
        {42,
         "OpenEditListItem",
         T::kVoid,
         {},
         [](CScopaCtrl& c, Args&) -> AutomationValue {
             c.OpenEditListItem();
             return {};
         }},
    };
}

bool Accepts(AutomationType type, const AutomationValue& value) {
    switch (type) {
        case T::kBool:
        case T::kLong:
            return std::holds_alternative<bool>(value) ||
                   std::holds_alternative<std::int32_t>(value);
        case T::kString:
        case T::kStringOut:
            return std::holds_alternative<std::string>(value);
        case T::kVoid:
            return false;
    }
    return false;
}

}  // namespace

const std::vector<AutomationMethod>& AutomationMethods() {
    static const std::vector<AutomationMethod> methods = MakeMethods();
    return methods;
}

const std::vector<AutomationEvent>& AutomationEvents() {
    static const std::vector<AutomationEvent> events = {
        {1, "OnFeedback", {T::kString}},
        {2, "OnPathChange", {}},
        {3, "OnOpen", {}},
        {4, "OnNavigate", {}},
        {5, "OnTreeControlWidthChange", {}},
        {6, "OnSelectionChange", {T::kLong}},
    };
    return events;
}

const AutomationMethod* FindAutomationMethod(int dispid) {
    const std::vector<AutomationMethod>& methods = AutomationMethods();
    if (dispid < 1 || size_t(dispid) > methods.size()) return nullptr;
    return &methods[size_t(dispid) - 1];
}

const AutomationMethod* FindAutomationMethod(std::string_view name) {
    for (const AutomationMethod& method : AutomationMethods()) {
        if (EqualsNoCase(method.name, name)) return &method;
    }
    return nullptr;
}

const AutomationEvent* FindAutomationEvent(int dispid) {
    const std::vector<AutomationEvent>& events = AutomationEvents();
    if (dispid < 1 || size_t(dispid) > events.size()) return nullptr;
    return &events[size_t(dispid) - 1];
}

const AutomationEvent* FindAutomationEvent(std::string_view name) {
    for (const AutomationEvent& event : AutomationEvents()) {
        if (EqualsNoCase(event.name, name)) return &event;
    }
    return nullptr;
}

InvokeStatus InvokeAutomationMethod(CScopaCtrl& control, const AutomationMethod& method,
                                    std::vector<AutomationValue>& arguments,
                                    AutomationValue& result) {
    const std::vector<AutomationType>& parameters = method.parameters;
    // Out-strings the caller left off are made for it.
    size_t required = parameters.size();
    while (required > 0 && parameters[required - 1] == T::kStringOut)
        --required;
    if (arguments.size() < required || arguments.size() > parameters.size()) {
        return InvokeStatus::kBadArgumentCount;
    }
    while (arguments.size() < parameters.size())
        arguments.emplace_back(std::string());
    for (size_t i = 0; i < parameters.size(); ++i) {
        if (!Accepts(parameters[i], arguments[i])) return InvokeStatus::kBadArgumentType;
    }
    result = method.invoke(control, arguments);
    return InvokeStatus::kOk;
}

}  // namespace scopa
