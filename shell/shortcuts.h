// Shortcuts: symbolic links and Windows shell-link files (".lnk") resolved into the items
// they point to, and the check made before a shortcut's target is entered.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/volumes.h"
#include "resources/strings.h"
#include "shell/shell_link.h"
#include "shell/shell_path.h"

namespace scopa {

// Symbolic-link chains longer than this count as loops (the kernel's own limit).
inline constexpr int kMaxLinkHops = 40;

// The local path of a shell link's target: the volume with the link's label stands for the
// drive of its Windows path ("E:\PHOTOS\a.jpg" on a volume labelled HOLIDAY mounted at
// /media/cd gives /media/cd/PHOTOS/a.jpg, each component matched without ASCII case when it
// is not there as written). nullopt when the link names no local volume, the label is empty
// or no mounted volume carries it.
std::optional<std::string> MapShellLinkTarget(const ShellLink& link, const VolumeFinder& finder);

// Resolves `entry` when it is a shortcut: a symbolic link (followed to its end; a dangling one
// gives its missing target's text without an item-ID list) or a ".lnk" file whose target is
// on a mounted volume. `target` starts as a copy of the entry. False, with the entry as the
// target, for anything else: no shortcut, a loop, a damaged or unmapped ".lnk".
bool ResolveShortcut(const CShellPath& entry, CShellPath& target, const VolumeFinder& finder = {});
// The same for an entry just enumerated with `details`: a link whose destination was read and
// ends the chain resolves without asking the file system again.
bool ResolveShortcut(const CShellPath& entry, const EntryDetails& details, CShellPath& target,
                     const VolumeFinder& finder = {});

// Before entering a shortcut's target: true when `shortcut_file_path` is empty (no shortcut)
// or the target can be read. Otherwise shows message 216 (the disk's name is known in
// `shortcut_disks`, the upper-cased shortcut path to disk name map of the preferences) or 217
// through the user-interface service, and returns false.
bool CheckShortcutTarget(const std::string& target_path, const std::string& shortcut_file_path,
                         const std::map<std::string, std::string>& shortcut_disks);

// The message texts, as the user sees them.
inline constexpr std::string_view kInsertDiskCaption = LoadResourceString(kIdsInsertDiskCaption);
std::string ShortcutDiskMessage(std::string_view target_path, std::string_view disk_name);
std::string ShortcutUnavailableMessage(std::string_view target_path);

}  // namespace scopa
