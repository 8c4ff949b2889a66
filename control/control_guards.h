// The guards every control of the process shares: flags, not locks, that make a nested call
// (a tree notification caused by the control's own tree update, an event handler calling
// back) return early.
#pragma once

namespace scopa {

struct ControlGuards {
    // Free while no layout runs; a nested layout only refreshes.
    static inline bool layout_free = true;
    // Set while a navigation (or the tree's re-selection after a width change) runs; a
    // nested navigation does nothing.
    static inline bool navigating = false;
};

// Sets the navigation guard for a scope, restoring what it found.
class NavigationGuard {
public:
    NavigationGuard() : m_was(ControlGuards::navigating) { ControlGuards::navigating = true; }
    ~NavigationGuard() { ControlGuards::navigating = m_was; }
    NavigationGuard(const NavigationGuard&) = delete;
    NavigationGuard& operator=(const NavigationGuard&) = delete;

private:
    bool m_was;
};

}  // namespace scopa
