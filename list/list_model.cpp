#include "list/list_model.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

#include "imaging/filter.h"
#include "platform/text.h"

namespace scopa {

namespace {

// The imaging filters seen as the list items' filter names.
class ImagingFilterNames final : public IPictureFilterNames {
public:
    size_t GetNoItems() const override { return oFILTERLIST::GetNoItems(); }
    std::string GetID(size_t index) const override {
        return oFILTERLIST()[static_cast<int>(index)].GetID();
    }
    std::string GetDescription(size_t index) const override {
        return oFILTERLIST()[static_cast<int>(index)].GetDescription();
    }
};

// What one comparison needs of an item, computed once before sorting, so that sorting
// 100,000 items costs no virtual calls, no label searches and no case folding per comparison.
struct SortKey {
    int group = 0;
    std::string text;  // upper-cased sort name or type text, for orders 0 to 3
    std::uint64_t size = 0;
    std::int64_t time = 0;
    std::uint32_t index = 0;  // position before sorting
};

SortKey MakeSortKey(const CListItem& item, int sort_order, std::uint32_t index) {
    SortKey key;
    key.group = item.GetSortGroup();
    key.index = index;
    switch (sort_order) {
        case kSortByName:
        case kSortByNameReverse:
            key.text = ToUpperAscii(item.GetSortName());
            break;
        case kSortByType:
        case kSortByTypeReverse:
            key.text = ToUpperAscii(item.GetTypeText());
            break;
        default:
            key.size = item.size();
            key.time = item.time_modified();
            break;
    }
    return key;
}

// The list's comparison (CompareListItems) on keys: true when `a` goes first.
bool KeyGoesFirst(const SortKey& a, const SortKey& b, int sort_order) {
    if (a.group != b.group) return a.group < b.group;
    switch (sort_order) {
        case kSortByName:
        case kSortByType:
            return a.text < b.text;
        case kSortByNameReverse:
        case kSortByTypeReverse:
            return b.text < a.text;
        case kSortBySizeLargestFirst:
            return b.size < a.size;
        case kSortBySizeSmallestFirst:
            return a.size < b.size;
        case kSortByDateNewestFirst:
            return b.time < a.time;
        case kSortByDateOldestFirst:
            return a.time < b.time;
        default:
            return false;
    }
}

}  // namespace

void InstallImagingFilterNames() {
    static const ImagingFilterNames names;
    SetPictureFilterNames(&names);
}

CPreviewListModel::CPreviewListModel() {
    InstallImagingFilterNames();
    m_options.include.include_drives = &m_ownIncludeDrives;
}

CPreviewListModel::~CPreviewListModel() = default;

int CPreviewListModel::GetEffectiveSortOrder() const {
    return m_forceDateOrder ? kSortByDateNewestFirst : m_sortOrder;
}

void CPreviewListModel::SetIncludeDrives(std::map<std::string, std::string>* include_drives) {
    m_options.include.include_drives =
        include_drives != nullptr ? include_drives : &m_ownIncludeDrives;
}

void CPreviewListModel::SetInsertDiskPrompt(InsertDiskPrompt prompt) {
    m_options.include.insert_disk_prompt = std::move(prompt);
}

bool CPreviewListModel::RequestRefresh(const CShellPath& folder, bool force) {
    if (!folder.IsFolder()) return m_refreshPending;
    if (!force && !m_shownFolder.IsEmpty() && CShellPath::Compare(folder, m_shownFolder) == 0) {
        return m_refreshPending;
    }
    m_shownFolder = folder;
    m_refreshPending = true;
    m_keepScroll = m_keepScroll || force;
    m_population.reset();  // a refresh under way starts over with the new folder
    return true;
}

void CPreviewListModel::BeginRefresh() {
    m_drivesFolder = m_shownFolder.IsMyComputer();
    Clear();
    m_backdropPath.clear();
    m_population =
        std::make_unique<CFolderPopulation>(static_cast<IPopulationSink&>(*this), m_options);
    m_population->Start(m_shownFolder);
}

void CPreviewListModel::FinishRefresh() {
    m_backdropPath = m_population->GetBackdropPath();
    m_population.reset();
    m_forceDateOrder =
        ToUpperAscii(m_shownFolder.GetPathText()).find(kRecentFolderMarker) != std::string::npos;
    Sort();
    m_keepScrollDone = m_keepScroll;
    m_refreshPending = false;
    m_keepScroll = false;
}

bool CPreviewListModel::DoPendingRefresh() {
    if (!m_refreshPending) return false;
    if (!m_population) BeginRefresh();
    m_population->RunToEnd();
    FinishRefresh();
    return true;
}

bool CPreviewListModel::StepPendingRefresh(int budget_ms) {
    if (!m_refreshPending) return false;
    if (!m_population) BeginRefresh();
    if (!m_population->StepFor(budget_ms)) return false;
    FinishRefresh();
    return true;
}

bool CPreviewListModel::Refresh(const CShellPath& folder) {
    if (!folder.IsFolder()) return false;
    RequestRefresh(folder, true);
    return DoPendingRefresh();
}

void CPreviewListModel::AppendItem(std::unique_ptr<CListItem> item) {
    m_items.push_back(std::move(item));
}

int CPreviewListModel::FindItemByPath(const CShellPath& path) const {
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (CShellPath::Compare(m_items[i]->path(), path) == 0) return static_cast<int>(i);
    }
    return -1;
}

int CPreviewListModel::FindItemByLabel(std::string_view label) const {
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i]->GetLabelView() == label) return static_cast<int>(i);
    }
    return -1;
}

void CPreviewListModel::Clear() {
    m_items.clear();
    m_selected = -1;
}

void CPreviewListModel::Sort() {
    const int order = GetEffectiveSortOrder();
    std::vector<SortKey> keys;
    keys.reserve(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i) {
        keys.push_back(MakeSortKey(*m_items[i], order, static_cast<std::uint32_t>(i)));
    }
    std::stable_sort(keys.begin(), keys.end(), [order](const SortKey& a, const SortKey& b) {
        return KeyGoesFirst(a, b, order);
    });
    std::vector<std::unique_ptr<CListItem>> sorted;
    sorted.reserve(m_items.size());
    int selected = -1;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (static_cast<int>(keys[i].index) == m_selected) selected = static_cast<int>(i);
        sorted.push_back(std::move(m_items[keys[i].index]));
    }
    m_items = std::move(sorted);
    m_selected = selected;
}

int CPreviewListModel::SelectListItem(int index) {
    int previous = m_selected;
    if (index < -1 || index >= static_cast<int>(m_items.size())) return previous;
    m_selected = index;
    return previous;
}

bool CPreviewListModel::SelectItemByPath(const CShellPath& path) {
    m_selected = FindItemByPath(path);
    return m_selected >= 0;
}

}  // namespace scopa
