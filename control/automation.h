// The control's automation interface as a table: each of the 42 methods and 6 events with
// its dispatch id, name and argument types, so that a host that binds late can call a method
// by number or by name (names match without regard to case) and look events up the same way.
// A Linux host sees only this table and the C++ methods it calls: there is no type library,
// class factory or registration.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace scopa {

class CScopaCtrl;

enum class AutomationType {
    kVoid,
    kBool,       // a flag passed as a 32-bit number; setters read its low byte
    kLong,       // a 32-bit number
    kString,     // a string the method reads
    kStringOut,  // a string the method writes
};

using AutomationValue = std::variant<std::monostate, bool, std::int32_t, std::string>;

using AutomationInvoker =
    std::function<AutomationValue(CScopaCtrl& control, std::vector<AutomationValue>& arguments)>;

struct AutomationMethod {
    int dispid = 0;
    std::string_view name;
    AutomationType result = AutomationType::kVoid;
    std::vector<AutomationType> parameters;
    AutomationInvoker invoke;
};

struct AutomationEvent {
    int dispid = 0;
    std::string_view name;
    std::vector<AutomationType> parameters;
};

// Dispids 1 to 42 and 1 to 6, in that order.
const std::vector<AutomationMethod>& AutomationMethods();
const std::vector<AutomationEvent>& AutomationEvents();
const AutomationMethod* FindAutomationMethod(int dispid);
const AutomationMethod* FindAutomationMethod(std::string_view name);
const AutomationEvent* FindAutomationEvent(int dispid);
const AutomationEvent* FindAutomationEvent(std::string_view name);

enum class InvokeStatus { kOk, kBadArgumentCount, kBadArgumentType };

// Calls `method` with `arguments`: a flag or number argument may be given as either, a
// string must be a string; out-strings may be left off and are filled in (appended when
// missing). `result` gets the method's result (monostate for none).
InvokeStatus InvokeAutomationMethod(CScopaCtrl& control, const AutomationMethod& method,
                                    std::vector<AutomationValue>& arguments,
                                    AutomationValue& result);

}  // namespace scopa
