#include "list/list_item.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "platform/text.h"

namespace scopa {

namespace {

// The filter names and the filter matched last, shared by every picture item.
const IPictureFilterNames* g_filterNames = nullptr;
constexpr long kNoFilterMatched = -1;
long g_lastMatchedFilter = kNoFilterMatched;
std::string g_lastMatchedDescription;

int Sign(int value) {
    return (value > 0) - (value < 0);
}

template <typename T>
int CompareValues(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

// The description of the filter whose identifier is `extension`, "" when none is.
std::string FilterDescriptionOf(const std::string& extension) {
    if (g_filterNames == nullptr) return {};
    if (g_lastMatchedFilter != kNoFilterMatched &&
        static_cast<size_t>(g_lastMatchedFilter) < g_filterNames->GetNoItems() &&
        g_filterNames->GetID(static_cast<size_t>(g_lastMatchedFilter)) == extension) {
        return g_lastMatchedDescription;
    }
    bool found = false;
    for (size_t i = 0; i < g_filterNames->GetNoItems(); ++i) {
        if (g_filterNames->GetID(i) != extension) continue;
        g_lastMatchedFilter = static_cast<long>(i);
        g_lastMatchedDescription = g_filterNames->GetDescription(i);
        found = true;
    }
    return found ? g_lastMatchedDescription : std::string();
}

}  // namespace

std::string_view ListItemKindName(ListItemKind kind) {
    switch (kind) {
        case ListItemKind::Folder:
            return "folder";
        case ListItemKind::Picture:
            return "picture";
        case ListItemKind::Custom:
            return "custom";
        case ListItemKind::Dtp:
            return "dtp";
        case ListItemKind::Scrap:
            return "scrap";
        case ListItemKind::Art:
            return "art";
        case ListItemKind::Snippet:
            return "snippet";
        case ListItemKind::StyledText:
            return "styledtext";
        case ListItemKind::Pilot:
            return "pilot";
    }
    return "";
}

CListItem::CListItem(const IListItemOwner* list, std::string name, std::int64_t time_modified,
                     CShellPath path, bool shortcut)
    : m_path(std::move(path)),
      m_timeModified(time_modified),
      m_pList(list),
      m_strName(std::move(name)),
      m_bShortcut(shortcut) {
    if (m_pList == nullptr || !m_pList->ShowsDrivesFolder()) m_nSize = m_path.GetSize();
}

const std::string& CListItem::GetTypeText() const {
    return m_path.GetTypeName();
}

std::string CListItem::GetSizeText() const {
    constexpr std::uint64_t kBytesPerKilobyte = 1024;
    // Whole kilobytes counted upward, without overflowing at the top of the range.
    std::uint64_t kilobytes = m_nSize / kBytesPerKilobyte + (m_nSize % kBytesPerKilobyte != 0);
    return std::to_string(kilobytes) + "KB";
}

std::int64_t CListItem::time_modified() const {
    std::int64_t time = m_timeModified.load(std::memory_order_relaxed);
    if (time != kTimeNotRead) return time;
    // The entry's own time, not its target's: lstat does not follow a link.
    const std::string& own = m_shortcutFilePath.empty() ? GetItemPath() : m_shortcutFilePath;
    struct stat info {};
    time = lstat(own.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_mtime) : 0;
    m_timeModified.store(time, std::memory_order_relaxed);
    return time;
}

std::string CListItem::GetDateText() const {
    std::int64_t time = time_modified();
    if (time == 0) return {};
    auto seconds = static_cast<std::time_t>(time);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%02d %d:%02d %s", local.tm_mday, local.tm_mon + 1,
                  ((local.tm_year + 1900) % 100 + 100) % 100, hour, local.tm_min,
                  local.tm_hour < 12 ? "AM" : "PM");
    return text;
}

std::string_view CListItem::GetLabelView() const {
    std::string_view name = m_strName;
    if (GetKind() != ListItemKind::Folder && m_pList != nullptr && !m_pList->ShowFileExtensions()) {
        // A leading dot names a hidden file, it does not start an extension.
        size_t dot = name.rfind('.');
        if (dot != std::string_view::npos && dot > 0) return name.substr(0, dot);
    }
    return name;
}

CListFolderItem::CListFolderItem(const IListItemOwner* list, std::string name,
                                 std::int64_t time_modified, CShellPath path, bool shortcut)
    : CListItem(list, std::move(name), time_modified, std::move(path), shortcut) {
    UniqueIdList last = IdlCopyItem(m_path.GetIdList(), m_path.GetDepth());
    std::optional<ShellItem> item = ReadShellItem(last.get());
    m_driveRoot =
        (item && item->kind == ShellItemKind::Volume) || IsMountPoint(m_path.GetPathText());
}

int CListFolderItem::GetSortGroup() const {
    return m_driveRoot ? kSortGroupDriveRoot : kSortGroupFolder;
}

std::string_view CListFolderItem::GetSortName() const {
    return m_driveRoot ? std::string_view(m_path.GetPathText()) : GetLabelView();
}

void SetPictureFilterNames(const IPictureFilterNames* names) {
    g_filterNames = names;
    g_lastMatchedFilter = kNoFilterMatched;
    g_lastMatchedDescription.clear();
}

CListPictureItem::CListPictureItem(const IListItemOwner* list, std::string name,
                                   std::int64_t time_modified, CShellPath path, bool shortcut)
    : CListItem(list, std::move(name), time_modified, std::move(path), shortcut) {
    std::string description = FilterDescriptionOf(ToUpperAscii(m_path.GetExtension()));
    if (!description.empty()) m_path.SetTypeName(std::move(description));
}

std::unique_ptr<CListItem> MakeListItem(ListItemKind kind, const IListItemOwner* list,
                                        std::string name, std::int64_t time_modified,
                                        CShellPath path, bool shortcut) {
    auto make = [&]<typename Item>() -> std::unique_ptr<CListItem> {
        return std::make_unique<Item>(list, std::move(name), time_modified, std::move(path),
                                      shortcut);
    };
    switch (kind) {
        case ListItemKind::Folder:
            return make.operator()<CListFolderItem>();
        case ListItemKind::Picture:
            return make.operator()<CListPictureItem>();
        case ListItemKind::Custom:
            return make.operator()<CListCustomItem>();
        case ListItemKind::Dtp:
            return make.operator()<CListDTPItem>();
        case ListItemKind::Scrap:
            return make.operator()<CListScrapItem>();
        case ListItemKind::Art:
            return make.operator()<CListARTItem>();
        case ListItemKind::Snippet:
            return make.operator()<CListTslSnippetItem>();
        case ListItemKind::StyledText:
            return make.operator()<CListFlourishItem>();
        case ListItemKind::Pilot:
            return make.operator()<CListPilotItem>();
    }
    return nullptr;
}

int CompareListItems(const CListItem& a, const CListItem& b, int sort_order) {
    int group_a = a.GetSortGroup();
    int group_b = b.GetSortGroup();
    if (group_a != group_b) return group_a - group_b;
    switch (sort_order) {
        case kSortByName:
            return Sign(CompareNoCase(a.GetSortName(), b.GetSortName()));
        case kSortByNameReverse:
            return -Sign(CompareNoCase(a.GetSortName(), b.GetSortName()));
        case kSortByType:
            return Sign(CompareNoCase(a.GetTypeText(), b.GetTypeText()));
        case kSortByTypeReverse:
            return -Sign(CompareNoCase(a.GetTypeText(), b.GetTypeText()));
        case kSortBySizeLargestFirst:
            return CompareValues(b.size(), a.size());
        case kSortBySizeSmallestFirst:
            return CompareValues(a.size(), b.size());
        case kSortByDateNewestFirst:
            return CompareValues(b.time_modified(), a.time_modified());
        case kSortByDateOldestFirst:
            return CompareValues(a.time_modified(), b.time_modified());
        default:
            return 0;
    }
}

}  // namespace scopa
