#include "shell/shell_path.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/mime_types.h"
#include "platform/text.h"

namespace scopa {

namespace {

// The drives folder's list, made once per process.
const std::vector<std::uint8_t>& DrivesList() {
    static const std::vector<std::uint8_t> list = [] {
        std::optional<std::vector<std::uint8_t>> parsed =
            ParseDesktopDisplayName(kDrivesParsingName);
        return parsed ? *parsed : std::vector<std::uint8_t>();
    }();
    return list;
}

std::string_view AfterLast(std::string_view text, char separator) {
    size_t position = text.rfind(separator);
    return position == std::string_view::npos ? text : text.substr(position + 1);
}

// The text with its last '/'-separated component removed: "/a/b" gives "/a", "/a" gives "/";
// nullopt when nothing is left to remove.
std::optional<std::string> StripLastComponent(const std::string& text) {
    size_t slash = text.rfind('/');
    if (slash == std::string::npos || text == "/") return std::nullopt;
    if (slash == 0) return std::string("/");
    return text.substr(0, slash);
}

}  // namespace

CShellPath::CShellPath(std::string_view text) : m_text(text), m_list(ParseDisplayPath(m_text)) {}

CShellPath::CShellPath(std::string_view text, const struct stat& entry_status)
    : m_text(text), m_list(ParseDisplayPath(m_text, entry_status)) {
    // A link's own status is not the status of what it names, which stays to be read.
    if (m_list && !S_ISLNK(entry_status.st_mode)) SetStatus(entry_status);
}

CShellPath CShellPath::FromHostText(std::string_view text) {
    return CShellPath(TrimWhiteSpace(text));
}

CShellPath::CShellPath(const ItemIdList* list) : m_list(IdlClone(list)) {
    m_text = GetShellName(kShgdnForParsing);
}

CShellPath::CShellPath(UniqueIdList list, std::shared_ptr<ShellFolder> parent)
    : m_list(std::move(list)), m_parentFolder(std::move(parent)) {
    m_text = GetShellName(kShgdnForParsing);
}

CShellPath::CShellPath(const CShellPath& other)
    : m_text(other.m_text),
      m_list(IdlClone(other.m_list.get())),
      m_status(other.m_status),
      m_displayName(other.m_displayName),
      m_typeName(other.m_typeName),
      m_parentFolder(other.m_parentFolder),
      m_ownFolder(other.m_ownFolder),
      m_enumerator(other.m_enumerator) {}

CShellPath& CShellPath::operator=(const CShellPath& other) {
    if (this != &other) {
        CShellPath copy(other);
        *this = std::move(copy);
    }
    return *this;
}

std::shared_ptr<ShellFolder> CShellPath::GetParentFolder() const {
    if (!m_parentFolder && m_list) {
        size_t depth = GetDepth();
        m_parentFolder = depth > 0 ? BindToFolder(m_list.get(), depth - 1) : ShellFolder::Desktop();
    }
    return m_parentFolder;
}

std::shared_ptr<ShellFolder> CShellPath::GetOwnFolder() const {
    if (!m_ownFolder && m_list) {
        size_t depth = GetDepth();
        if (depth == 0) {
            m_ownFolder = ShellFolder::Desktop();
        } else if (std::shared_ptr<ShellFolder> parent = GetParentFolder()) {
            if (const ItemIdList* item = LastItem()) m_ownFolder = parent->BindToObject(item);
        }
    }
    return m_ownFolder;
}

const ItemIdList* CShellPath::LastItem() const {
    const ItemIdList* last = nullptr;
    for (const ItemIdList* item = m_list.get(); item != nullptr && (item[0] | (item[1] << 8)) >= 2;
         item = IdlNext(item)) {
        last = item;
    }
    return last;
}

std::string CShellPath::GetShellName(std::uint32_t flags) const {
    std::shared_ptr<ShellFolder> parent = GetParentFolder();
    if (!parent) return std::string(AfterLast(m_text, '/'));
    const ItemIdList* item = LastItem();
    if (!item) return std::string(kDesktopDisplayName);
    return parent->GetDisplayNameOf(item, flags);
}

std::string CShellPath::GetDisplayName() const {
    if (m_displayName.empty()) {
        m_displayName = m_list ? GetShellName(kShgdnNormal) : std::string(AfterLast(m_text, '/'));
    }
    return m_displayName;
}

const std::string& CShellPath::GetTypeName() const {
    if (m_typeName.empty() && m_list) {
        if (const ItemIdList* item = LastItem()) {
            if (std::shared_ptr<ShellFolder> parent = GetParentFolder()) {
                m_typeName = parent->GetTypeNameOf(item);
            }
        } else {
            m_typeName = MimeTypeDescription(kFolderMimeType);
        }
    }
    return m_typeName;
}

std::string CShellPath::GetIconName(std::uint32_t icon_flags) const {
    if (!m_list) return {};
    const ItemIdList* item = LastItem();
    if (!item) return "user-desktop";
    std::shared_ptr<ShellFolder> parent = GetParentFolder();
    return parent ? parent->GetIconNameOf(item, icon_flags) : std::string();
}

int CShellPath::GetIconIndex(std::uint32_t icon_flags) const {
    return IconIndexOfName(GetIconName(icon_flags));
}

std::string CShellPath::GetFolderPart() const {
    size_t slash = m_text.rfind('/');
    return slash == std::string::npos ? m_text : m_text.substr(0, slash);
}

std::string CShellPath::GetExtension() const {
    size_t dot = m_text.rfind('.');
    return dot == std::string::npos ? std::string() : m_text.substr(dot + 1);
}

void CShellPath::LoadStatus() const {
    if (m_status.attributes != 0) return;
    if (!m_text.empty()) GetFileStatus(m_text, m_status);
    m_status.attributes |= kFileStatusLoaded;
}

void CShellPath::SetStatus(const struct stat& info) {
    m_status = FileStatusOf(info, m_text);
    m_status.attributes |= kFileStatusLoaded;
}

const FileStatus& CShellPath::GetStatus() const {
    LoadStatus();
    return m_status;
}

std::uint64_t CShellPath::GetSize() const {
    return GetStatus().size;
}

std::int64_t CShellPath::GetModifiedTime() const {
    return GetStatus().modified;
}

bool CShellPath::IsFolder() const {
    if (GetDepth() == 0) return true;
    return IsFolderItem(LastItem());
}

bool CShellPath::HasSubFolders() const {
    if (!m_list || GetDepth() == 0) return false;
    std::shared_ptr<ShellFolder> parent = GetParentFolder();
    const ItemIdList* item = LastItem();
    return parent && item &&
           (parent->GetAttributesOf(item, kSfgaoHasSubFolder) & kSfgaoHasSubFolder);
}

bool CShellPath::IsSymbolicLink() const {
    if (!m_list) {
        struct stat info {};
        return !m_text.empty() && lstat(m_text.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    }
    const ItemIdList* item = LastItem();
    std::optional<ShellItem> read = ReadShellItem(item);
    return read && read->link;
}

bool CShellPath::GetAncestor(size_t n, CShellPath& out) const {
    if (n == 0) {
        static const std::uint8_t kDesktopList[2] = {0, 0};
        out = CShellPath(kDesktopList);
        return true;
    }
    if (!m_list || n > GetDepth()) return false;
    UniqueIdList first = IdlCopyFirst(m_list.get(), n);
    out = CShellPath(first.get());
    return true;
}

CShellPath CShellPath::GetParent() const {
    size_t depth = GetDepth();
    if (depth == 0) return CShellPath();
    UniqueIdList first = IdlCopyFirst(m_list.get(), depth - 1);
    return CShellPath(first.get());
}

bool CShellPath::IsMyComputer() const {
    if (!m_list) return false;
    const std::vector<std::uint8_t>& drives = DrivesList();
    size_t size = IdlGetSize(m_list.get());
    return size == drives.size() && std::equal(drives.begin(), drives.end(), m_list.get());
}

int CShellPath::Compare(const CShellPath& a, const CShellPath& b) {
    if (a.m_list && b.m_list) {
        size_t depth_a = a.GetDepth();
        size_t depth_b = b.GetDepth();
        if (depth_a != depth_b) return depth_a > depth_b ? 1 : -1;
        // The first items that differ decide, so items of different folders never compare
        // equal because their last names do.
        const ItemIdList* item_a = a.m_list.get();
        const ItemIdList* item_b = b.m_list.get();
        for (size_t i = 0; i < depth_a; ++i) {
            size_t cb = static_cast<size_t>(item_a[0] | (item_a[1] << 8));
            bool same = cb == static_cast<size_t>(item_b[0] | (item_b[1] << 8)) &&
                        std::equal(item_a, item_a + cb, item_b);
            if (!same) {
                auto answer = static_cast<std::int16_t>(ShellFolder::CompareIDs(item_a, item_b));
                if (answer != 0) return answer;
                break;
            }
            item_a = IdlNext(item_a);
            item_b = IdlNext(item_b);
        }
    }
    return CompareNoCase(a.m_text, b.m_text);
}

bool CShellPath::ResolveFolder(CShellPath& out) const {
    CShellPath found;
    if (m_list) {
        found = *this;
    } else {
        std::optional<std::string> text = StripLastComponent(m_text);
        UniqueIdList list;
        while (text && !(list = ParseDisplayPath(*text)))
            text = StripLastComponent(*text);
        if (!list) return false;
        found = CShellPath(list.get());
    }
    if (!found.IsFolder()) found = found.GetParent();
    out = std::move(found);
    return true;
}

bool CShellPath::FirstEnumeration(std::uint32_t flags, CShellPath& out, EntryDetails* details) {
    m_enumerator.reset();
    std::shared_ptr<ShellFolder> own = GetOwnFolder();
    if (!own) return false;
    std::unique_ptr<ShellEnumerator> enumerator = own->EnumObjects(flags);
    if (!enumerator) return false;
    m_enumerator = std::move(enumerator);
    return NextChild(out, details);
}

bool CShellPath::FirstSubFolder(CShellPath& out) {
    return FirstEnumeration(kShcontFolders, out, nullptr);
}

bool CShellPath::FirstChild(CShellPath& out, EntryDetails* details) {
    return FirstEnumeration(kShcontFolders | kShcontNonFolders | kShcontIncludeHidden, out,
                            details);
}

bool CShellPath::NextChild(CShellPath& out, EntryDetails* details) {
    if (details != nullptr) details->Reset();
    std::shared_ptr<ShellFolder> own = m_ownFolder;
    if (!m_enumerator || !own) return false;
    std::vector<std::uint8_t> child;
    while (m_enumerator->Next(child, details)) {
        child.push_back(0);
        child.push_back(0);
        std::uint32_t attributes =
            own->GetAttributesOf(child.data(), kSfgaoFileSystem | kSfgaoFileSysAncestor);
        if (attributes == 0) continue;  // neither a file-system item nor holding one
        UniqueIdList combined = IdlCombine(m_list.get(), child.data());
        if (!combined) continue;
        out = CShellPath(std::move(combined), own);
        if (details != nullptr && details->destination_read)
            out.SetStatus(details->destination_status);
        return true;
    }
    return false;
}

}  // namespace scopa
