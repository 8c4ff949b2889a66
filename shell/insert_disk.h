// The "Insert CD-ROM disk" logic: asks for the disk with a given label until a folder on it
// can be reached. CInsertCDRom holds the dialog's state and rules without any window: the
// widget shows it (the prompt, the location field, OK enabled or not) and calls OnTimer every
// kInsertDiskPollInterval_ms, so OK becomes available by itself when the disk is inserted;
// tests drive it directly.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/volumes.h"

namespace scopa {

inline constexpr int kInsertDiskPollInterval_ms = 250;
inline constexpr std::string_view kInsertDiskTitle = "Insert CD-ROM disk";
inline constexpr std::string_view kInsertDiskPromptFormat =
    "Please insert the CD-ROM disk labeled\n'%s'";
inline constexpr std::string_view kInsertDiskLocationLabel = "&Installed location:";

class CInsertCDRom {
public:
    // `drive` is where the disk is looked for (a mount point), `path_on_disk` the folder on
    // it, starting with '/'. The location starts as drive + path.
    CInsertCDRom(std::string label, std::string drive, std::string path_on_disk);

    // The dialog opens: checks the location at once.
    void OnInitDialog() { UpdateData(); }
    // Each poll checks the location again and looks for a mounted volume carrying the label
    // (cheap: the volume list is read again only after the mount table changed). True when
    // such a volume holds the path on the disk: the location is set to it and the dialog
    // closes by itself with OK.
    bool OnTimer();
    void SetLocation(std::string location);
    // OK pressed: checks once more; true when the dialog may close with OK.
    bool OnOk();

    // The static text with the label put in.
    std::string GetPromptText() const;
    bool IsOkEnabled() const { return m_okEnabled; }
    // Where the poll looks for the labelled volume (FindVolumeByLabel when unset).
    void SetVolumeFinder(VolumeFinder finder) { m_finder = std::move(finder); }

    std::string m_strLabel;
    // After OK: the part of the location before the path on the disk, where it was found.
    std::string m_strDrive;
    std::string m_strPath;  // upper-cased
    std::string m_strLocation;

private:
    void UpdateData();
    std::string m_pathOnDisk;  // as given, for joining to a mount point
    VolumeFinder m_finder;
    bool m_okEnabled = false;
};

// Shows the dialog until the user presses OK (true) or Cancel (false). The widget supplies one
// that runs a real dialog with its poll timer; without one the search gives up at once.
using InsertDiskPrompt = std::function<bool(CInsertCDRom& dialog)>;

// Finds the folder `path_on_disk` ('/' first) on the disk labelled `label`: on the mounted
// volume that carries the label (any kind of volume: a collection may be on a USB stick),
// else on the drive remembered for the label in `include_drives` (the preferences'
// label-to-drive map), else on the first CD-ROM volume; while no drive is known or drive +
// path does not exist, asks for the disk. Found: remembers the drive under the label and
// returns the folder. Cancelled: returns the last candidate (a folder that does not exist,
// which then shows nothing), or "" when no drive was ever known. An empty drive is never
// remembered.
std::string FindFolderOnDisk(const std::string& label, const std::string& path_on_disk,
                             std::map<std::string, std::string>& include_drives,
                             const InsertDiskPrompt& prompt, const VolumeFinder& finder = {});

// The mount point of the first CD-ROM volume, "" when none is mounted.
std::string FirstCdRomDrive();

}  // namespace scopa
