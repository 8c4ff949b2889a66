// What the control needs from the window system of its host: the wait cursor, the one
// timer that drives its background work, the floating preview window and the starting of
// programs. The headless host ticks the timer by hand; the widget uses a single-shot timer.
#pragma once

#include <string>

namespace scopa {

class CShellPath;

class IControlHost {
public:
    virtual ~IControlHost() = default;
    // Shows or ends the hourglass; the control calls it only when its nesting starts and ends.
    virtual void SetWaitCursor(bool on) = 0;
    // Arms the control's timer to fire once after `interval_ms`; KillTimer disarms it.
    virtual void SetTimer(int interval_ms) = 0;
    virtual void KillTimer() = 0;
    // The screen's horizontal pixels per inch.
    virtual int GetPixelsPerInch() const { return 96; }
    // The floating preview window shows `path`.
    virtual void ShowPreviewWindow(const CShellPath& path) { (void)path; }
    // Runs a command line; true when the program started.
    virtual bool RunCommand(const std::string& command_line) {
        (void)command_line;
        return false;
    }
    // Opens a file with the application associated with its type; true when one started.
    virtual bool OpenWithApplication(const std::string& path) {
        (void)path;
        return false;
    }
};

}  // namespace scopa
