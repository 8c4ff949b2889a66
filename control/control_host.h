// What the control needs from the window system of its host: the wait cursor, the one
// timer that drives its background work, the floating preview window, the export dialog and
// the starting of programs. The headless host ticks the timer by hand; the widget uses a
// single-shot timer.
#pragma once

#include <string>
#include <vector>

namespace scopa {

class CShellPath;

// What the export dialog starts from, and what the user chose in it.
struct ExportRequest {
    std::string source_path;
    std::string file_name;       // the source's display name
    std::string initial_folder;  // the folder of the last export, "" for none
    int resolution = -1;         // the control's SetResolution value
};
struct ExportChoice {
    std::string path;       // the file name as typed (the format's extension is added)
    std::string format_id;  // a filter identifier ("PNG")
    int width_px = 0;       // the size a vector picture is rendered at
    int height_px = 0;
    int resolution_index = -1;  // -1: the dialog offered no resolution list
};

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
    // Shows the export dialog; false when the user cancelled.
    virtual bool ChooseExportDestination(const ExportRequest& request, ExportChoice& choice) {
        (void)request;
        (void)choice;
        return false;
    }
    // Starts a program with the argument vector `argv` (no shell); true when it started.
    // The widget starts it for real (platform/launch.h); a headless host starts nothing.
    virtual bool StartProgram(const std::vector<std::string>& argv) {
        (void)argv;
        return false;
    }
    // Opens a file with the application associated with its type; true when one started.
    virtual bool OpenWithApplication(const std::string& path) {
        (void)path;
        return false;
    }
};

}  // namespace scopa
