#include "platform/shell_namespace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <unordered_map>

#include "platform/byte_reader.h"
#include "platform/folders.h"
#include "platform/mime_types.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace scopa {

namespace {

constexpr std::uint32_t kFolderAttributes = kSfgaoFolder | kSfgaoFileSysAncestor;

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The dirent type for a stat mode.
unsigned char EntryTypeOfMode(mode_t mode) {
    if (S_ISDIR(mode)) return DT_DIR;
    if (S_ISREG(mode)) return DT_REG;
    if (S_ISLNK(mode)) return DT_LNK;
    return DT_FIFO;  // a pipe, socket or device: all are left out alike
}

// The dirent type of the entry `name` of the open folder `dir` (of its target when `follow`);
// DT_UNKNOWN when it cannot be read. Asked relative to the folder, so the kernel does not
// walk the folder's own path again for every entry.
unsigned char EntryTypeOf(DIR* dir, const char* name, bool follow) {
    struct stat info {};
    if (fstatat(dirfd(dir), name, &info, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return DT_UNKNOWN;
    return EntryTypeOfMode(info.st_mode);
}

// The folder that the links of one folder point into, kept open. Most folders of links point
// into one other folder, and a name asked relative to it costs the kernel one lookup instead
// of a walk along the whole destination. It is opened when two destinations in a row lie in
// it, so links pointing all over cost no more than before.
class LinkDestinationFolder {
public:
    LinkDestinationFolder() = default;
    ~LinkDestinationFolder() {
        if (m_fd >= 0) close(m_fd);
    }
    LinkDestinationFolder(const LinkDestinationFolder&) = delete;
    LinkDestinationFolder& operator=(const LinkDestinationFolder&) = delete;

    // lstat of `destination`, a link's text, as the kernel resolves it from the link's
    // folder `folder`.
    int Stat(int folder, const std::string& destination, struct stat& status) {
        size_t slash = destination.rfind('/');
        if (slash == std::string::npos || slash + 1 == destination.size()) {
            return fstatat(folder, destination.c_str(), &status, AT_SYMLINK_NOFOLLOW);
        }
        std::string_view parent(destination.data(), slash == 0 ? 1 : slash);
        if (m_fd < 0 || parent != m_path) {
            bool again = parent == m_previous;
            m_previous.assign(parent);
            if (!again || !Open(folder, parent)) {
                return fstatat(folder, destination.c_str(), &status, AT_SYMLINK_NOFOLLOW);
            }
        }
        return fstatat(m_fd, destination.c_str() + slash + 1, &status, AT_SYMLINK_NOFOLLOW);
    }

private:
    bool Open(int folder, std::string_view parent) {
        if (m_fd >= 0) close(m_fd);
        m_path.assign(parent);
        m_fd = openat(folder, m_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        return m_fd >= 0;
    }

    int m_fd = -1;
    std::string m_path;      // the folder m_fd is open on, as the links write it
    std::string m_previous;  // the folder of the last destination asked
};

// Reads the link `name` of the open folder `dir` into `details`: its text and the status of what
// the text names, each asked relative to the folder (the kernel resolves a relative text from
// the link's folder, and so does fstatat here). The link's own status is not read: readlinkat
// failing tells an entry that is no longer a link. The type of what the link finally names, as
// EntryTypeOf gives it.
unsigned char ReadLinkEntry(DIR* dir, const char* name, LinkDestinationFolder& destinations,
                            EntryDetails& details) {
    int folder = dirfd(dir);
    char buffer[PATH_MAX];
    ssize_t length = readlinkat(folder, name, buffer, sizeof buffer);
    if (length < 0 && (errno == EINVAL || errno == ENOENT)) {
        return EntryTypeOf(dir, name, true);  // replaced or gone meanwhile
    }
    details.link = true;
    if (length > 0 && static_cast<size_t>(length) < sizeof buffer) {
        details.destination.assign(buffer, static_cast<size_t>(length));
        if (destinations.Stat(folder, details.destination, details.destination_status) == 0 &&
            !S_ISLNK(details.destination_status.st_mode)) {
            details.destination_read = true;
            return EntryTypeOfMode(details.destination_status.st_mode);
        }
    }
    return EntryTypeOf(dir, name, true);  // a chain of links or a dangling one
}

// Mount points only: labels are not needed to find the volume of a path, and reading them
// costs a folder scan per volume.
std::vector<Volume> VolumesWithoutLabels() {
    return MountedVolumes(false);
}

std::string VolumeDisplayName(std::string_view mount_point) {
    for (const Volume& volume : ListVolumes()) {
        if (volume.mount_point == mount_point && !volume.label.empty()) return volume.label;
    }
    if (mount_point == "/") return std::string(mount_point);
    return std::string(mount_point.substr(mount_point.rfind('/') + 1));
}

std::string VolumeIconName(std::string_view mount_point) {
    for (const Volume& volume : ListVolumes()) {
        if (volume.mount_point != mount_point) continue;
        switch (volume.type) {
            case DriveType::CdRom:
                return "media-optical";
            case DriveType::Removable:
                return "drive-removable-media";
            case DriveType::Remote:
                return "folder-remote";
            case DriveType::Fixed:
                break;
        }
    }
    return "drive-harddisk";
}

bool HasSubFolder(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (entry->d_type == DT_DIR || ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
                                        IsDirectory(JoinPath(path, name)))) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Items handed out one by one from a list made in advance (the Desktop, the drives folder).
class FixedEnumerator final : public ShellEnumerator {
public:
    explicit FixedEnumerator(std::vector<std::vector<std::uint8_t>> items)
        : m_items(std::move(items)) {}
    bool Next(std::vector<std::uint8_t>& item, EntryDetails* details) override {
        if (details != nullptr) details->Reset();
        if (m_next >= m_items.size()) return false;
        item = std::move(m_items[m_next++]);
        return true;
    }

private:
    std::vector<std::vector<std::uint8_t>> m_items;
    size_t m_next = 0;
};

// The entries of a file-system folder, read as the enumeration goes.
class DirectoryEnumerator final : public ShellEnumerator {
public:
    DirectoryEnumerator(DIR* dir, std::uint32_t flags) : m_dir(dir), m_flags(flags) {}
    ~DirectoryEnumerator() override { closedir(m_dir); }
    DirectoryEnumerator(const DirectoryEnumerator&) = delete;
    DirectoryEnumerator& operator=(const DirectoryEnumerator&) = delete;

    bool Next(std::vector<std::uint8_t>& item, EntryDetails* details) override {
        while (dirent* entry = readdir(m_dir)) {
            if (details != nullptr) details->Reset();
            std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (IsHiddenName(name) && (m_flags & kShcontIncludeHidden) == 0) continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) type = EntryTypeOf(m_dir, entry->d_name, false);
            bool link = type == DT_LNK;
            // A link is what it points to; a dangling one stays an entry of its own.
            if (link) {
                type = details != nullptr
                           ? ReadLinkEntry(m_dir, entry->d_name, m_destinations, *details)
                           : EntryTypeOf(m_dir, entry->d_name, true);
            }
            // Pipes, sockets and devices are never items, nor links to them.
            if (type != DT_DIR && type != DT_REG && !(link && type == DT_UNKNOWN)) continue;
            bool folder = type == DT_DIR;
            if (folder ? (m_flags & kShcontFolders) == 0 : (m_flags & kShcontNonFolders) == 0) {
                continue;
            }
            item = MakeShellItem(ShellItemKind::Entry, folder, name, link);
            if (!item.empty()) return true;
        }
        return false;
    }

private:
    DIR* m_dir;
    std::uint32_t m_flags;
    LinkDestinationFolder m_destinations;
};

void AppendEntries(const std::string& path, std::uint32_t flags,
                   std::vector<std::vector<std::uint8_t>>& items) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return;
    DirectoryEnumerator entries(dir, flags);
    std::vector<std::uint8_t> item;
    while (entries.Next(item, nullptr))
        items.push_back(item);
}

// True when LexicallyNormal would give the text back unchanged: no empty, "." or ".."
// component and no '/' at the end but for the root itself.
bool IsLexicallyNormal(std::string_view path) {
    if (path == "/") return true;
    return !path.empty() && path[0] == '/' && HasOnlyNamedComponents(path);
}

// Removes empty and "." components and applies ".." to the text; `path` starts with '/'.
std::string LexicallyNormal(std::string_view path) {
    if (IsLexicallyNormal(path)) return std::string(path);  // most paths are
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) slash = path.size();
        std::string_view part = path.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string normal;
    for (std::string_view part : parts) {
        normal += '/';
        normal += part;
    }
    return normal.empty() ? std::string("/") : normal;
}

// Writes one item at the end of `list`; false, with the list unchanged, when the text is too
// long or holds a NUL.
bool AppendShellItem(std::vector<std::uint8_t>& list, ShellItemKind kind, bool folder,
                     std::string_view text, bool link = false) {
    if (text.size() > kMaxShellItemTextBytes || text.find('\0') != std::string_view::npos) {
        return false;
    }
    size_t cb = kShellItemHeaderBytes + text.size() + 1;
    size_t start = list.size();
    list.resize(start + cb, 0);
    std::uint8_t* item = list.data() + start;
    item[0] = static_cast<std::uint8_t>(cb & 0xFF);
    item[1] = static_cast<std::uint8_t>(cb >> 8);
    item[2] = kShellItemSignature;
    item[3] = static_cast<std::uint8_t>(kind);
    item[4] =
        static_cast<std::uint8_t>((folder ? kShellItemFolder : 0) | (link ? kShellItemLink : 0));
    std::memcpy(item + kShellItemHeaderBytes, text.data(), text.size());
    return true;
}

// `entry_status`, when given, is the path's own status as the caller read it.
std::optional<std::vector<std::uint8_t>> ParseFileSystemPath(std::string_view text,
                                                             const struct stat* entry_status) {
    std::string path = LexicallyNormal(text);
    struct stat info {};
    if (entry_status != nullptr) {
        info = *entry_status;
    } else if (lstat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    std::optional<Volume> volume = VolumeOfPath(path);
    if (!volume) return std::nullopt;

    std::vector<std::uint8_t> list;
    list.reserve(kDrivesParsingName.size() + volume->mount_point.size() + 2 * path.size() + 64);
    AppendShellItem(list, ShellItemKind::Drives, true, kDrivesParsingName);
    if (!AppendShellItem(list, ShellItemKind::Volume, true, volume->mount_point)) {
        return std::nullopt;
    }
    // The components below the mount point; every one but the last is a folder.
    std::string_view rest = std::string_view(path).substr(volume->mount_point.size());
    while (!rest.empty() && rest[0] == '/')
        rest.remove_prefix(1);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view name = rest.substr(0, slash);
        bool last = slash == std::string_view::npos;
        bool folder = !last || (S_ISLNK(info.st_mode) ? IsDirectory(path) : S_ISDIR(info.st_mode));
        if (!AppendShellItem(list, ShellItemKind::Entry, folder, name,
                             last && S_ISLNK(info.st_mode))) {
            return std::nullopt;
        }
        rest = last ? std::string_view() : rest.substr(slash + 1);
    }
    list.push_back(0);
    list.push_back(0);
    return list;
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

int KindRank(ShellItemKind kind) {
    switch (kind) {
        case ShellItemKind::Drives:
            return 0;
        case ShellItemKind::Home:
            return 1;
        case ShellItemKind::Volume:
            return 2;
        case ShellItemKind::Entry:
            return 3;
    }
    return 4;
}

}  // namespace

std::optional<ShellItem> ReadShellItem(const std::uint8_t* item) {
    if (item == nullptr) return std::nullopt;
    // The item's size comes first; everything else is read within it.
    ByteReader fields({item, ByteReader({item, 2}).U16()});
    fields.Skip(2);
    const std::uint8_t signature = fields.U8();
    const std::uint8_t kind = fields.U8();
    const std::uint8_t flags = fields.U8();
    fields.Seek(kShellItemHeaderBytes);
    const std::string_view text = fields.CString();
    if (!fields.Ok() || signature != kShellItemSignature || kind < 1 || kind > 4) {
        return std::nullopt;
    }
    ShellItem read;
    read.kind = static_cast<ShellItemKind>(kind);
    read.folder = (flags & kShellItemFolder) != 0;
    read.link = (flags & kShellItemLink) != 0;
    read.text = text;
    return read;
}

bool IsFolderItem(const std::uint8_t* item) {
    std::optional<ShellItem> read = ReadShellItem(item);
    return read && (read->kind != ShellItemKind::Entry || read->folder);
}

std::vector<std::uint8_t> MakeShellItem(ShellItemKind kind, bool folder, std::string_view text,
                                        bool link) {
    std::vector<std::uint8_t> item;
    AppendShellItem(item, kind, folder, text, link);
    return item;
}

std::string DesktopFolderPath() {
    return JoinPath(HomeFolder(), "Desktop");
}

std::shared_ptr<ShellFolder> ShellFolder::Desktop() {
    return std::make_shared<ShellFolder>(Kind::Desktop, DesktopFolderPath());
}

std::string ShellFolder::ChildPath(const ShellItem& item) const {
    switch (item.kind) {
        case ShellItemKind::Drives:
            return {};
        case ShellItemKind::Volume:
        case ShellItemKind::Home:
            return std::string(item.text);
        case ShellItemKind::Entry:
            return JoinPath(m_path, item.text);
    }
    return {};
}

std::shared_ptr<ShellFolder> ShellFolder::BindToObject(const std::uint8_t* item) const {
    std::optional<ShellItem> read = ReadShellItem(item);
    if (!read) return nullptr;
    switch (m_kind) {
        case Kind::Desktop:
            if (read->kind == ShellItemKind::Drives) {
                return std::make_shared<ShellFolder>(Kind::Drives, std::string());
            }
            if (read->kind == ShellItemKind::Volume) return nullptr;
            break;
        case Kind::Drives:
            if (read->kind != ShellItemKind::Volume) return nullptr;
            break;
        case Kind::FileSystem:
            if (read->kind != ShellItemKind::Entry) return nullptr;
            break;
    }
    if (!read->folder) return nullptr;
    return std::make_shared<ShellFolder>(Kind::FileSystem, ChildPath(*read));
}

std::string ShellFolder::GetDisplayNameOf(const std::uint8_t* item, std::uint32_t flags) const {
    std::optional<ShellItem> read = ReadShellItem(item);
    if (!read) return {};
    bool parsing = (flags & kShgdnForParsing) != 0 && (flags & kShgdnInFolder) == 0;
    switch (read->kind) {
        case ShellItemKind::Drives:
            return std::string(parsing ? kDrivesParsingName : kDrivesDisplayName);
        case ShellItemKind::Home:
            return parsing ? std::string(read->text) : std::string(kHomeDisplayName);
        case ShellItemKind::Volume:
            return parsing ? std::string(read->text) : VolumeDisplayName(read->text);
        case ShellItemKind::Entry:
            return parsing ? ChildPath(*read) : std::string(read->text);
    }
    return {};
}

std::uint32_t ShellFolder::GetAttributesOf(const std::uint8_t* item,
                                           std::uint32_t requested) const {
    std::optional<ShellItem> read = ReadShellItem(item);
    if (!read) return 0;
    std::uint32_t attributes = 0;
    switch (read->kind) {
        case ShellItemKind::Drives:
            attributes = kFolderAttributes | kSfgaoHasSubFolder;
            break;
        case ShellItemKind::Volume:
        case ShellItemKind::Home:
            attributes = kFolderAttributes | kSfgaoHasSubFolder | kSfgaoFileSystem;
            break;
        case ShellItemKind::Entry:
            attributes = kSfgaoFileSystem;
            if (read->folder) {
                attributes |= kFolderAttributes;
                // Looking for a sub-folder reads the folder: only when asked.
                if ((requested & kSfgaoHasSubFolder) != 0 && HasSubFolder(ChildPath(*read))) {
                    attributes |= kSfgaoHasSubFolder;
                }
            }
            break;
    }
    return attributes & requested;
}

int ShellFolder::CompareIDs(const std::uint8_t* a, const std::uint8_t* b) {
    std::optional<ShellItem> item_a = ReadShellItem(a);
    std::optional<ShellItem> item_b = ReadShellItem(b);
    if (!item_a || !item_b) return item_a ? -1 : (item_b ? 1 : 0);
    if (int rank = KindRank(item_a->kind) - KindRank(item_b->kind); rank != 0) return Sign(rank);
    if (item_a->folder != item_b->folder) return item_a->folder ? -1 : 1;
    if (int order = CompareNoCase(item_a->text, item_b->text); order != 0) return Sign(order);
    return Sign(item_a->text.compare(item_b->text));
}

std::unique_ptr<ShellEnumerator> ShellFolder::EnumObjects(std::uint32_t flags) const {
    if (m_kind == Kind::FileSystem) {
        DIR* dir = opendir(m_path.c_str());
        if (dir == nullptr) return nullptr;
        return std::make_unique<DirectoryEnumerator>(dir, flags);
    }
    std::vector<std::vector<std::uint8_t>> items;
    if (m_kind == Kind::Desktop) {
        if ((flags & kShcontFolders) != 0) {
            items.push_back(MakeShellItem(ShellItemKind::Drives, true, kDrivesParsingName));
            items.push_back(MakeShellItem(ShellItemKind::Home, true, HomeFolder()));
        }
        AppendEntries(m_path, flags, items);
    } else if ((flags & kShcontFolders) != 0) {
        for (const Volume& volume : VolumesWithoutLabels()) {
            std::vector<std::uint8_t> item =
                MakeShellItem(ShellItemKind::Volume, true, volume.mount_point);
            if (!item.empty()) items.push_back(std::move(item));
        }
    }
    return std::make_unique<FixedEnumerator>(std::move(items));
}

std::string ShellFolder::GetTypeNameOf(const std::uint8_t* item) const {
    std::optional<ShellItem> read = ReadShellItem(item);
    if (!read) return {};
    if (read->kind == ShellItemKind::Volume) return MimeTypeDescription(kMountPointMimeType);
    if (read->folder) return MimeTypeDescription(kFolderMimeType);
    return FileTypeText(read->text);
}

std::string ShellFolder::GetIconNameOf(const std::uint8_t* item, std::uint32_t icon_flags) const {
    std::optional<ShellItem> read = ReadShellItem(item);
    if (!read) return {};
    switch (read->kind) {
        case ShellItemKind::Drives:
            return "computer";
        case ShellItemKind::Home:
            return "user-home";
        case ShellItemKind::Volume:
            return VolumeIconName(read->text);
        case ShellItemKind::Entry:
            break;
    }
    if (read->folder) return (icon_flags & kShgfiOpenIcon) != 0 ? "folder-open" : "folder";
    std::string mime_type = MimeTypeOfName(read->text);
    return MimeTypeIconName(mime_type.empty() ? kUnknownMimeType : mime_type);
}

std::optional<std::vector<std::uint8_t>> ParseDesktopDisplayName(std::string_view text) {
    if (EqualsNoCase(text, kDrivesParsingName)) {
        std::vector<std::uint8_t> list =
            MakeShellItem(ShellItemKind::Drives, true, kDrivesParsingName);
        list.push_back(0);
        list.push_back(0);
        return list;
    }
    if (text.empty() || text[0] != '/' || text.size() > kMaxShellItemTextBytes) {
        return std::nullopt;
    }
    return ParseFileSystemPath(text, nullptr);
}

std::optional<std::vector<std::uint8_t>> ParseDesktopDisplayName(std::string_view text,
                                                                 const struct stat& entry_status) {
    if (text.empty() || text[0] != '/' || text.size() > kMaxShellItemTextBytes) {
        return std::nullopt;
    }
    return ParseFileSystemPath(text, &entry_status);
}

namespace {
std::mutex g_icon_mutex;
std::vector<std::string> g_icon_names;
std::unordered_map<std::string, int> g_icon_indexes;
}  // namespace

bool IsMountPoint(std::string_view path) {
    return IsDriveRoot(path);
}

int IconIndexOfName(const std::string& icon_name) {
    std::lock_guard lock(g_icon_mutex);
    auto [it, added] = g_icon_indexes.emplace(icon_name, static_cast<int>(g_icon_names.size()));
    if (added) g_icon_names.push_back(icon_name);
    return it->second;
}

std::string IconNameOfIndex(int index) {
    std::lock_guard lock(g_icon_mutex);
    if (index < 0 || static_cast<size_t>(index) >= g_icon_names.size()) return {};
    return g_icon_names[static_cast<size_t>(index)];
}

}  // namespace scopa
