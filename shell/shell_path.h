// CShellPath: the value that names every file and folder. It pairs a path text with the
// absolute item-ID list of the shell namespace, so that virtual folders (the Desktop,
// Computer) and file-system paths are handled alike, and it caches what is slow to ask: the
// display and type names, the file status and the folders it has bound. Copies share the
// bound folders and copy the caches, so a name is asked at most once per item.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "shell/file_status.h"
#include "shell/item_id_list.h"

namespace scopa {

class CShellPath {
public:
    CShellPath() = default;
    // Parses the text as it is (file names may begin or end with spaces); the list stays null
    // when it does not parse (the text still serves as a plain path).
    explicit CShellPath(std::string_view text);
    // The same for a path whose own status (a final link not followed) was just read: it is
    // parsed without asking again, and when it is no link that status is its file status.
    CShellPath(std::string_view text, const struct stat& entry_status);
    // A path a host typed: white space at both ends is no part of it.
    static CShellPath FromHostText(std::string_view text);
    // Clones the list (none for null); the text is the item's parsing name.
    explicit CShellPath(const ItemIdList* list);
    CShellPath(const CShellPath& other);
    CShellPath& operator=(const CShellPath& other);
    CShellPath(CShellPath&& other) noexcept = default;
    CShellPath& operator=(CShellPath&& other) noexcept = default;
    ~CShellPath() = default;

    const std::string& GetPathText() const { return m_text; }
    const ItemIdList* GetIdList() const { return m_list.get(); }
    bool HasIdList() const { return m_list != nullptr; }
    bool IsEmpty() const { return m_text.empty() && !m_list; }

    size_t GetDepth() const { return IdlCount(m_list.get()); }
    bool IsDesktop() const { return GetDepth() == 0; }

    std::shared_ptr<ShellFolder> GetParentFolder() const;
    std::shared_ptr<ShellFolder> GetOwnFolder() const;

    // The name the parent folder gives the item for `flags` (kShgdn*); "Desktop" for the
    // Desktop; without a parent folder, the file name of the path text.
    std::string GetShellName(std::uint32_t flags) const;
    std::string GetDisplayName() const;
    const std::string& GetTypeName() const;
    // The type name as cached ("" until asked or preset); SetTypeName presets it.
    const std::string& GetCachedTypeName() const { return m_typeName; }
    void SetTypeName(std::string type_name) { m_typeName = std::move(type_name); }
    // The item's icon (kShgfi* flags) as an index (IconIndexOfName) and as a theme name.
    int GetIconIndex(std::uint32_t icon_flags) const;
    std::string GetIconName(std::uint32_t icon_flags) const;

    // The path text before its last '/' (the whole text without one).
    std::string GetFolderPart() const;
    // The path text after its last '.' ("" without one).
    std::string GetExtension() const;

    // Reads the file status once (an empty text is not read; a failure leaves it zero; the
    // status block of a copy is the original's).
    void LoadStatus() const;
    const FileStatus& GetStatus() const;
    std::uint64_t GetSize() const;
    std::int64_t GetModifiedTime() const;

    // True for the Desktop (and for an object without a list); else what the parent folder
    // says of the item.
    bool IsFolder() const;
    bool HasSubFolders() const;
    // True when the item is a symbolic link (known from enumeration or parsing; a path
    // without a list asks the file system).
    bool IsSymbolicLink() const;

    // The ancestor at depth n (0: the Desktop); false and `out` unchanged when there is none.
    bool GetAncestor(size_t n, CShellPath& out) const;
    // The path one level up; an empty path for the Desktop.
    CShellPath GetParent() const;
    bool IsMyComputer() const;

    // Orders two paths: the shallower first; at equal depth by the shell's order of the first
    // items in which they differ; then the path texts without ASCII case. 0 means equal.
    static int Compare(const CShellPath& a, const CShellPath& b);
    bool operator==(const CShellPath& other) const { return Compare(*this, other) == 0; }

    // The folder to show for this path: itself when it is a folder, the folder that holds it
    // when it is a file, the nearest ancestor that parses when it does not exist.
    bool ResolveFolder(CShellPath& out) const;

    // Enumerates the children that are file-system items or hold some: sub-folders only
    // (hidden ones left out), or everything, hidden entries included.
    // With `details`, a child's link is read as it is met (EntryDetails), and the status of
    // what it names becomes the child's status.
    bool FirstSubFolder(CShellPath& out);
    bool FirstChild(CShellPath& out, EntryDetails* details = nullptr);
    bool NextChild(CShellPath& out, EntryDetails* details = nullptr);

private:
    // A child made by enumeration: its parent folder is known, so no binding is needed.
    CShellPath(UniqueIdList list, std::shared_ptr<ShellFolder> parent);
    // The last item inside the list (null for the Desktop and without a list).
    const ItemIdList* LastItem() const;
    bool FirstEnumeration(std::uint32_t flags, CShellPath& out, EntryDetails* details);
    // Keeps `info`, read for this path, as its file status.
    void SetStatus(const struct stat& info);

    std::string m_text;
    UniqueIdList m_list;
    mutable FileStatus m_status;
    mutable std::string m_displayName;
    mutable std::string m_typeName;
    mutable std::shared_ptr<ShellFolder> m_parentFolder;
    mutable std::shared_ptr<ShellFolder> m_ownFolder;
    std::shared_ptr<ShellEnumerator> m_enumerator;
};

}  // namespace scopa
