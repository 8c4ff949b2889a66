#include "shell/shortcuts.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/text.h"
#include "platform/user_interface.h"
#include "shell/file_status.h"

namespace scopa {

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::string Join(const std::string& folder, std::string_view name) {
    return folder == "/" ? "/" + std::string(name) : folder + "/" + std::string(name);
}

// The entry of `folder` named `name` without ASCII case ("" when there is none).
std::string FindNameIgnoringCase(const std::string& folder, std::string_view name) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return {};
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (EqualsNoCase(entry->d_name, name)) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Windows paths ignore case; the volume may not. Each component is taken as written when it
// exists, else the entry that matches it without case; a missing one is kept as written.
std::string LocalPathOnVolume(const std::string& mount_point, std::string_view windows_rest) {
    std::string path = mount_point;
    bool exists = true;
    while (!windows_rest.empty()) {
        size_t separator = windows_rest.find('\\');
        std::string_view name = windows_rest.substr(0, separator);
        windows_rest = separator == std::string_view::npos ? std::string_view()
                                                           : windows_rest.substr(separator + 1);
        if (name.empty() || name == ".") continue;
        std::string candidate = Join(path, name);
        if (exists && !Exists(candidate)) {
            std::string other = FindNameIgnoringCase(path, name);
            if (!other.empty()) {
                candidate = Join(path, other);
            } else {
                exists = false;
            }
        }
        path = std::move(candidate);
    }
    return path;
}

std::string ParentText(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// The end of a dangling chain of links: the first path in it that does not exist.
std::optional<std::string> MissingLinkTarget(std::string path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        char buffer[PATH_MAX];
        ssize_t length = readlink(path.c_str(), buffer, sizeof buffer - 1);
        if (length < 0) return Exists(path) ? std::nullopt : std::optional<std::string>(path);
        std::string destination(buffer, static_cast<size_t>(length));
        path = destination.starts_with('/') ? destination : Join(ParentText(path), destination);
    }
    return std::nullopt;  // a loop
}

// True when a link's destination text climbs with "..": through a linked folder that means
// the folder the link points to, which only the kernel's resolution knows.
bool ClimbsUp(std::string_view destination) {
    size_t start = 0;
    while (start <= destination.size()) {
        size_t slash = destination.find('/', start);
        if (slash == std::string_view::npos) slash = destination.size();
        if (destination.substr(start, slash - start) == "..") return true;
        start = slash + 1;
    }
    return false;
}

// Follows the chain by reading each link once: each destination is parsed, and parsing
// tells whether it is a link again. Most links name their target plainly, and this costs a
// readlink per hop where realpath reads every component of both paths. False when the chain
// needs the kernel's resolution (a ".." in a destination), does not parse or does not end.
bool FollowLinkChain(std::string path, CShellPath& target) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        char buffer[PATH_MAX];
        ssize_t length = readlink(path.c_str(), buffer, sizeof buffer - 1);
        if (length <= 0) return false;
        std::string_view destination(buffer, static_cast<size_t>(length));
        if (ClimbsUp(destination)) return false;
        std::string next =
            destination[0] == '/' ? std::string(destination) : Join(ParentText(path), destination);
        path = std::filesystem::path(next).lexically_normal().string();
        if (path.size() > 1 && path.back() == '/') path.pop_back();
        CShellPath candidate(path);
        if (!candidate.HasIdList()) return false;
        if (!candidate.IsSymbolicLink()) {
            target = std::move(candidate);
            return true;
        }
    }
    return false;
}

// True when a destination's text needs no resolving beyond joining it to the link's folder:
// no "." or ".." components, no empty ones, no '/' at its end.
bool IsPlainDestination(std::string_view destination) {
    return HasOnlyNamedComponents(destination);
}

bool ResolveSymbolicLink(const std::string& path, CShellPath& target) {
    if (FollowLinkChain(path, target)) return true;
    if (char* real = realpath(path.c_str(), nullptr)) {
        target = CShellPath(std::string_view(real));
        std::free(real);
        return true;
    }
    if (errno != ENOENT) return false;  // a loop, or a folder we may not read
    std::optional<std::string> missing = MissingLinkTarget(path);
    if (!missing) return false;
    target = CShellPath(*missing);
    return true;
}

}  // namespace

std::optional<std::string> MapShellLinkTarget(const ShellLink& link, const VolumeFinder& finder) {
    if (!link.has_volume || link.volume_label.empty()) return std::nullopt;
    std::string windows_path = link.TargetWindowsPath();
    // "X:\rest": the drive letter is what the volume stands for.
    if (windows_path.size() < 2 || windows_path[1] != ':') return std::nullopt;
    std::optional<Volume> volume =
        finder ? finder(link.volume_label) : FindVolumeByLabel(link.volume_label);
    if (!volume) return std::nullopt;
    return LocalPathOnVolume(volume->mount_point, std::string_view(windows_path).substr(2));
}

bool ResolveShortcut(const CShellPath& entry, CShellPath& target, const VolumeFinder& finder) {
    target = entry;
    const std::string& path = entry.GetPathText();
    if (path.empty()) return false;
    if (EndsWithNoCase(path, ".LNK")) {
        std::optional<ShellLink> link = ReadShellLinkFile(path);
        if (!link) return false;
        std::optional<std::string> local = MapShellLinkTarget(*link, finder);
        if (!local) return false;
        target = CShellPath(*local);
        return true;
    }
    if (!entry.IsSymbolicLink()) return false;
    return ResolveSymbolicLink(path, target);
}

bool ResolveShortcut(const CShellPath& entry, const EntryDetails& details, CShellPath& target,
                     const VolumeFinder& finder) {
    if (details.link && details.destination_read && IsPlainDestination(details.destination)) {
        const std::string& destination = details.destination;
        CShellPath end(destination[0] == '/' ? destination
                                             : Join(ParentText(entry.GetPathText()), destination),
                       details.destination_status);
        if (end.HasIdList()) {
            target = std::move(end);
            return true;
        }
    }
    return ResolveShortcut(entry, target, finder);
}

std::string ShortcutDiskMessage(std::string_view target_path, std::string_view disk_name) {
    return FormatResourceString(kIdsShortcutDiskMessage, {target_path, disk_name});
}

std::string ShortcutUnavailableMessage(std::string_view target_path) {
    return FormatResourceString(kIdsShortcutUnavailableMessage, {target_path});
}

bool CheckShortcutTarget(const std::string& target_path, const std::string& shortcut_file_path,
                         const std::map<std::string, std::string>& shortcut_disks) {
    if (shortcut_file_path.empty()) return true;
    FileStatus status;
    if (GetFileStatus(target_path, status)) return true;
    auto disk = shortcut_disks.find(ToUpperAscii(shortcut_file_path));
    MessageRequest request;
    request.text = disk != shortcut_disks.end() ? ShortcutDiskMessage(target_path, disk->second)
                                                : ShortcutUnavailableMessage(target_path);
    request.caption = std::string(kInsertDiskCaption);
    request.buttons = MessageButtons::Ok;
    request.icon = MessageIcon::Exclamation;
    UserInterface().ShowMessage(request);
    return false;
}

}  // namespace scopa
