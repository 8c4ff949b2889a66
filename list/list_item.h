// The items of the preview list: one object per entry of the shown folder, whose class is its
// kind. An item knows its path, name, size, modification time and whether it was reached
// through a shortcut, and gives the details columns' texts and the keys the list sorts by.
// Population makes items; the list owns them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "shell/shell_path.h"

namespace scopa {

// What an item asks of the list that owns it.
class IListItemOwner {
public:
    virtual ~IListItemOwner() = default;
    // The control's setting: labels keep their file extensions.
    virtual bool ShowFileExtensions() const = 0;
    // The list shows the drives folder: its items have no size and no date.
    virtual bool ShowsDrivesFolder() const = 0;
};

enum class ListItemKind { Folder, Picture, Custom, Dtp, Scrap, Art, Snippet, StyledText, Pilot };

// "folder", "picture", "custom", "dtp", "scrap", "art", "snippet", "styledtext", "pilot".
std::string_view ListItemKindName(ListItemKind kind);

// Sort groups: drive roots, folders, pilots, then everything else.
inline constexpr int kSortGroupDriveRoot = 1;
inline constexpr int kSortGroupFolder = 2;
inline constexpr int kSortGroupPilot = 5;
inline constexpr int kSortGroupOther = 10;

// Sort orders: name, type, size, date, each followed by its second choice.
enum SortOrder : int {
    kSortByName = 0,
    kSortByNameReverse = 1,
    kSortByType = 2,
    kSortByTypeReverse = 3,
    kSortBySizeLargestFirst = 4,
    kSortBySizeSmallestFirst = 5,
    kSortByDateNewestFirst = 6,
    kSortByDateOldestFirst = 7,
};

// Document icons (resource numbers) of the document kinds.
inline constexpr int kDocumentIconDtp = 210;
inline constexpr int kDocumentIconScrap = 212;
inline constexpr int kDocumentIconStyledText = 213;

// A modification time not read yet: a link's own time is read only when asked (date sorts, the
// Date column), since every read is a system call per link.
inline constexpr std::int64_t kTimeNotRead = INT64_MIN;

class CListItem {
public:
    // Takes the path (population moves it in; others pass a copy); reads the file size from
    // it unless the list shows the drives folder (then size and time are 0). A time of
    // kTimeNotRead is read from the item's own entry (the shortcut file when there is one) on
    // first use.
    CListItem(const IListItemOwner* list, std::string name, std::int64_t time_modified,
              CShellPath path, bool shortcut);
    virtual ~CListItem() = default;
    CListItem(const CListItem&) = delete;
    CListItem& operator=(const CListItem&) = delete;

    virtual ListItemKind GetKind() const = 0;
    // The type text: the cached type name, asked of the namespace when it is still empty.
    virtual const std::string& GetTypeText() const;
    // Whole kilobytes, counted upward: "0KB", "1KB" for 1 to 1024 bytes, "2KB" for 1025.
    virtual std::string GetSizeText() const;
    // The modification time in local time as "d/m/yy h:mm AM" ("%#d/%#m/%y %#I:%M %p"); ""
    // for a zero time (the drives folder's items have none).
    virtual std::string GetDateText() const;
    virtual int GetSortGroup() const { return kSortGroupOther; }
    // A view into the item's own texts, valid while the item lives.
    virtual std::string_view GetSortName() const { return GetLabelView(); }
    // The document kinds' icon resource; 0 for the other kinds.
    virtual int GetIconID() const { return 0; }

    // The text under the thumbnail and in the Name column: the name, without its last
    // extension when the list hides extensions (folders always keep their whole name).
    std::string GetLabel() const { return std::string(GetLabelView()); }
    std::string_view GetLabelView() const;
    const std::string& GetItemPath() const { return m_path.GetPathText(); }

    const CShellPath& path() const { return m_path; }
    const std::string& name() const { return m_strName; }
    std::uint64_t size() const { return m_nSize; }
    std::int64_t time_modified() const;
    bool IsShortcut() const { return m_bShortcut; }
    // The shortcut file the item was reached through ("" for other items): the key of the
    // shortcut disk names.
    const std::string& GetShortcutFilePath() const { return m_shortcutFilePath; }
    void SetShortcutFilePath(std::string path) { m_shortcutFilePath = std::move(path); }

protected:
    CShellPath m_path;
    std::uint64_t m_nSize = 0;
    // Seconds since 1970, or kTimeNotRead; atomic since items may be asked from any thread.
    mutable std::atomic<std::int64_t> m_timeModified = 0;
    const IListItemOwner* m_pList;
    std::string m_strName;
    bool m_bShortcut = false;
    std::string m_shortcutFilePath;
};

class CListFolderItem : public CListItem {
public:
    CListFolderItem(const IListItemOwner* list, std::string name, std::int64_t time_modified,
                    CShellPath path, bool shortcut);
    ListItemKind GetKind() const override { return ListItemKind::Folder; }
    std::string GetSizeText() const override { return {}; }
    int GetSortGroup() const override;
    std::string_view GetSortName() const override;
    // A volume of the drives folder, or any mount point: what stands for a drive.
    bool IsDriveRoot() const { return m_driveRoot; }

private:
    bool m_driveRoot = false;
};

// Names the imaging filters for the type texts of pictures: the list of filters with their
// identifiers (upper-case extensions such as "JPG") and descriptions. The imaging code
// installs one; without one, pictures take their type text from the namespace.
class IPictureFilterNames {
public:
    virtual ~IPictureFilterNames() = default;
    virtual size_t GetNoItems() const = 0;
    virtual std::string GetID(size_t index) const = 0;
    virtual std::string GetDescription(size_t index) const = 0;
};
// Installs the process's filter names (not owned; nullptr removes them) and forgets the last
// match.
void SetPictureFilterNames(const IPictureFilterNames* names);

class CListPictureItem : public CListItem {
public:
    // Presets the type text from the filter whose identifier is the upper-cased extension,
    // trying the filter matched last before all others (pictures of one folder mostly share
    // a format). With several matching filters the last one wins.
    CListPictureItem(const IListItemOwner* list, std::string name, std::int64_t time_modified,
                     CShellPath path, bool shortcut);
    ListItemKind GetKind() const override { return ListItemKind::Picture; }
};

class CListCustomItem : public CListPictureItem {
public:
    using CListPictureItem::CListPictureItem;
    ListItemKind GetKind() const override { return ListItemKind::Custom; }
};

class CListDTPItem : public CListItem {
public:
    using CListItem::CListItem;
    ListItemKind GetKind() const override { return ListItemKind::Dtp; }
    int GetIconID() const override { return kDocumentIconDtp; }
};

class CListScrapItem : public CListDTPItem {
public:
    using CListDTPItem::CListDTPItem;
    ListItemKind GetKind() const override { return ListItemKind::Scrap; }
    int GetIconID() const override { return kDocumentIconScrap; }
};

class CListARTItem : public CListItem {
public:
    using CListItem::CListItem;
    ListItemKind GetKind() const override { return ListItemKind::Art; }
    int GetIconID() const override { return kDocumentIconDtp; }
};

class CListTslSnippetItem : public CListARTItem {
public:
    using CListARTItem::CListARTItem;
    ListItemKind GetKind() const override { return ListItemKind::Snippet; }
    int GetIconID() const override { return kDocumentIconScrap; }
};

class CListFlourishItem : public CListItem {
public:
    using CListItem::CListItem;
    ListItemKind GetKind() const override { return ListItemKind::StyledText; }
    int GetIconID() const override { return kDocumentIconStyledText; }
};

class CListPilotItem : public CListItem {
public:
    using CListItem::CListItem;
    ListItemKind GetKind() const override { return ListItemKind::Pilot; }
    int GetSortGroup() const override { return kSortGroupPilot; }
};

// An item of `kind`, as population makes it.
std::unique_ptr<CListItem> MakeListItem(ListItemKind kind, const IListItemOwner* list,
                                        std::string name, std::int64_t time_modified,
                                        CShellPath path, bool shortcut);

// The list's comparison: <0 when `a` goes first. Groups first whatever the order (drive
// roots, folders, pilots, the rest), then the order's key; equal keys compare equal. Sizes
// and times are compared as 64-bit values, never by a difference that could overflow.
int CompareListItems(const CListItem& a, const CListItem& b, int sort_order);

}  // namespace scopa
