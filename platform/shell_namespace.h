// The shell namespace of this platform: a tree of items rooted at the Desktop. The Desktop
// holds "Computer" (the drives folder, one item per mounted volume), "Home" (the user's home
// folder) and the entries of ~/Desktop; below a volume, Home or a desktop folder lie the
// file-system entries. Items are addressed by item-ID lists of our own payload (below), and
// folders answer the questions a shell folder answers: bind a child, name it, give its
// attributes, compare two children, enumerate.
//
// Item layout (one element of an item-ID list; all numbers little-endian):
//   offset 0  u16 cb          bytes of this item including cb
//   offset 2  u8  signature   kShellItemSignature
//   offset 3  u8  kind        ShellItemKind
//   offset 4  u8  flags       kShellItemFolder when the item was a folder when it was made,
//                             kShellItemLink when it was a symbolic link
//   offset 5  u8  reserved    0
//   offset 6  text            UTF-8, NUL-terminated: the entry's name, or for a volume and Home
//                             the absolute folder path, or for Computer its parsing name
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resources/strings.h"

namespace scopa {

// Display-name flags (what the name is for).
inline constexpr std::uint32_t kShgdnNormal = 0x0000;      // the name as the user sees it
inline constexpr std::uint32_t kShgdnInFolder = 0x0001;    // relative to the parent folder
inline constexpr std::uint32_t kShgdnForParsing = 0x8000;  // the text that parses back to it
// Enumeration flags.
inline constexpr std::uint32_t kShcontFolders = 0x0020;
inline constexpr std::uint32_t kShcontNonFolders = 0x0040;
inline constexpr std::uint32_t kShcontIncludeHidden = 0x0080;
// Attribute bits.
inline constexpr std::uint32_t kSfgaoFileSysAncestor = 0x10000000;
inline constexpr std::uint32_t kSfgaoFolder = 0x20000000;
inline constexpr std::uint32_t kSfgaoFileSystem = 0x40000000;
inline constexpr std::uint32_t kSfgaoHasSubFolder = 0x80000000;
// Icon flags.
inline constexpr std::uint32_t kShgfiSmallIcon = 0x0001;
inline constexpr std::uint32_t kShgfiOpenIcon = 0x0002;

// The parsing name of the drives folder.
inline constexpr std::string_view kDrivesParsingName = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
inline constexpr std::string_view kDesktopDisplayName = LoadResourceString(kIdsDesktop);
inline constexpr std::string_view kDrivesDisplayName = "Computer";
inline constexpr std::string_view kHomeDisplayName = "Home";

inline constexpr std::uint8_t kShellItemSignature = 0x53;
inline constexpr std::uint8_t kShellItemFolder = 0x01;
inline constexpr std::uint8_t kShellItemLink = 0x02;
inline constexpr size_t kShellItemHeaderBytes = 6;
// Names and paths longer than the system's path limit are no items.
inline constexpr size_t kMaxShellItemTextBytes = 4096;

enum class ShellItemKind : std::uint8_t { Drives = 1, Volume = 2, Home = 3, Entry = 4 };

struct ShellItem {
    ShellItemKind kind = ShellItemKind::Entry;
    bool folder = false;
    bool link = false;
    std::string_view text;  // points into the item's bytes
};

// Reads the item at `item` (a list element, never the terminator); nullopt when its bytes are
// not one of our items.
std::optional<ShellItem> ReadShellItem(const std::uint8_t* item);

// True when the item is a folder: the drives folder, Home, a volume, or an entry made as a
// folder. Its own bytes tell, so no folder needs to be opened to ask.
bool IsFolderItem(const std::uint8_t* item);

// The bytes of one item (no list terminator); empty when the text is too long.
std::vector<std::uint8_t> MakeShellItem(ShellItemKind kind, bool folder, std::string_view text,
                                        bool link = false);

// What reading a folder entry told besides its item, for a caller that would otherwise ask the
// file system again by the entry's full path. Only symbolic links are read further, relative
// to the open folder, so the kernel does not walk the folder's path again for each of them.
struct EntryDetails {
    bool link = false;        // the entry is a link and the fields below were read
    std::string destination;  // the link's text as written ("" when it could not be read)
    // The destination exists and is no link: the chain ends there, and this is its status.
    bool destination_read = false;
    struct stat destination_status {};

    void Reset() {
        link = false;
        destination_read = false;
        destination.clear();
    }
};

class ShellEnumerator;

// One folder of the namespace, opened. Folders are shared (std::shared_ptr) like counted
// interfaces: copies of a path share the folders it has bound.
class ShellFolder {
public:
    enum class Kind { Desktop, Drives, FileSystem };

    static std::shared_ptr<ShellFolder> Desktop();

    Kind kind() const { return m_kind; }
    // The folder's file-system path; for the Desktop ~/Desktop (its entries live there), for
    // the drives folder "".
    const std::string& path() const { return m_path; }

    // Opens the child `item` as a folder; null when it is no folder of this one.
    std::shared_ptr<ShellFolder> BindToObject(const std::uint8_t* item) const;
    // The child's name for the purpose `flags` says; "" when the item is not ours.
    std::string GetDisplayNameOf(const std::uint8_t* item, std::uint32_t flags) const;
    // The `requested` attribute bits that hold for the child.
    std::uint32_t GetAttributesOf(const std::uint8_t* item, std::uint32_t requested) const;
    // Orders two children: the drives folder, Home, volumes, then entries; folders before
    // files; names without ASCII case, then byte by byte (names differing only in case are
    // different files). <0, 0 or >0.
    static int CompareIDs(const std::uint8_t* a, const std::uint8_t* b);
    // The children that `flags` asks for; null when the folder cannot be read.
    std::unique_ptr<ShellEnumerator> EnumObjects(std::uint32_t flags) const;
    // The type text and icon-theme name of a child (from the shared MIME database).
    std::string GetTypeNameOf(const std::uint8_t* item) const;
    std::string GetIconNameOf(const std::uint8_t* item, std::uint32_t icon_flags) const;

    // The file-system path of a child; "" for the drives folder.
    std::string ChildPath(const ShellItem& item) const;

    ShellFolder(Kind kind, std::string path) : m_kind(kind), m_path(std::move(path)) {}

private:
    Kind m_kind;
    std::string m_path;
};

// The children of one folder, one at a time.
class ShellEnumerator {
public:
    virtual ~ShellEnumerator() = default;
    // The next child's item bytes (no terminator); false at the end. `details`, when given,
    // receives what was read of the entry besides (reset for entries that are no links).
    virtual bool Next(std::vector<std::uint8_t>& item, EntryDetails* details) = 0;
};

// Parses `text` on the Desktop into an absolute item-ID list (terminator included): the
// drives folder's parsing name, or an absolute path of an existing (or dangling-link) entry,
// which parses through Computer and the volume that holds it. nullopt when it does not parse.
std::optional<std::vector<std::uint8_t>> ParseDesktopDisplayName(std::string_view text);
// The same for an absolute path whose own status (a final link not followed) the caller has
// just read: the file system is not asked again.
std::optional<std::vector<std::uint8_t>> ParseDesktopDisplayName(std::string_view text,
                                                                 const struct stat& entry_status);

// True when `path` is the mount point of a volume (a drive root). The mount table is read
// again only after it changed, so asking for every folder of a list stays cheap.
bool IsMountPoint(std::string_view path);

// The folder whose entries the Desktop shows: ~/Desktop.
std::string DesktopFolderPath();

// Icons are named by the icon theme; the list and the tree keep indexes, as into an image list:
// the index stands for the name for the life of the process.
int IconIndexOfName(const std::string& icon_name);
std::string IconNameOfIndex(int index);

}  // namespace scopa
