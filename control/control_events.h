// The six events of the control. The host implements the sink; every event is fired
// synchronously from inside the operation that causes it, so a handler may call back into
// the control.
#pragma once

#include <string>

namespace scopa {

class IControlEvents {
public:
    virtual ~IControlEvents() = default;
    virtual void OnFeedback(const std::string& text) { (void)text; }  // dispid 1
    virtual void OnPathChange() {}                                    // dispid 2
    virtual void OnOpen() {}                                          // dispid 3
    virtual void OnNavigate() {}                                      // dispid 4
    virtual void OnTreeControlWidthChange() {}                        // dispid 5
    virtual void OnSelectionChange(int index) { (void)index; }        // dispid 6
};

}  // namespace scopa
