#include "list/preview_list.h"

#include <algorithm>

#include "cache/background_caching.h"
#include "cache/cache_manager.h"
#include "platform/shell_namespace.h"

namespace scopa {
namespace {

// The ring's position, shared by every list of the process.
int g_imageSlotCounter = 0;
// Lists alive in the process: the backdrop is dropped with the last one.
int g_listCount = 0;

// Lines a wheel notch scrolls.
constexpr int kWheelLines = 3;

bool Intersects(const Rect& a, const Rect& b) {
    // Touching edges count, as the list window's own test counts them.
    return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

bool IsPictureItem(const CListItem& item) {
    return item.GetKind() == ListItemKind::Picture || item.GetKind() == ListItemKind::Custom;
}

class ListWaitCursor {
public:
    explicit ListWaitCursor(IPreviewListOwner& owner) : m_owner(owner) {
        m_owner.BeginWaitCursor(true);
    }
    ~ListWaitCursor() { m_owner.BeginWaitCursor(false); }
    ListWaitCursor(const ListWaitCursor&) = delete;
    ListWaitCursor& operator=(const ListWaitCursor&) = delete;

private:
    IPreviewListOwner& m_owner;
};

}  // namespace

CPreviewList::CPreviewList(IPreviewListOwner& owner, IListView& view)
    : m_owner(owner), m_view(view) {
    m_view.SetClient(this);
    ++g_listCount;
}

CPreviewList::~CPreviewList() {
    m_view.SetClient(nullptr);
    if (--g_listCount == 0) ReleaseBackdrop();
}

void CPreviewList::Create() {
    m_styleAppliedLast = -1;
}

void CPreviewList::Destroy() {
    m_model.Clear();
    m_view.ResetRows();
    m_view.ResetImageSlots(0, GetCellSize());
}

int CPreviewList::GetCellSize() const {
    return m_owner.CurrentListStyle() == 0 ? kLargeCellPx : kSmallCellPx;
}

void CPreviewList::RequestRefresh(const CShellPath& folder, bool force) {
    m_model.RequestRefresh(folder, force);
}

bool CPreviewList::DoPendingRefresh() {
    if (!IsRefreshPending()) return false;
    ListWaitCursor wait(m_owner);
    bool starting = !m_model.IsPopulating();
    if (starting) m_scrollBeforeRefresh = m_view.GetOrigin();
    m_view.SetRedraw(false);
    bool finished = m_model.StepPendingRefresh(kPopulationSliceMs);
    // The model dropped the old items when it started: the view must not ask for them.
    if (starting || finished) m_view.ResetRows();
    if (!finished) return false;
    // A refill spread over several ticks emptied the view meanwhile: a kept position is
    // restored, not just left alone.
    Point origin = m_view.GetOrigin();
    int target_y = m_model.KeepScroll() ? m_scrollBeforeRefresh.y : 0;
    m_view.ScrollBy(0, target_y - origin.y);
    m_backdrop.LoadBackdrop(m_model.GetBackdropPath());
    ApplyView();
    m_owner.FireNavigate();
    return true;
}

void CPreviewList::ApplyView() {
    {
        ListWaitCursor wait(m_owner);
        m_view.SetRedraw(false);
        int style = m_owner.CurrentListStyle();
        bool changed = style != m_styleAppliedLast;
        m_styleAppliedLast = style;
        if (style >= 2) {
            if (changed)
                m_view.SetMode(style == 2 ? ListViewMode::kList : ListViewMode::kDetails, 0);
        } else {
            m_view.SetMode(ListViewMode::kIcons, GetCellSize());
            m_view.ResetImageSlots(m_model.GetItemCount() > 0 ? kImageSlotCount : 0, GetCellSize());
        }
        m_model.SetSortOrder(m_owner.CurrentSortOrder());
        m_model.Sort();
        m_view.ResetRows();
        UpdateVisibleItems();
    }
    m_view.SetRedraw(true);
    UpdateVisibleItems();
}

std::string CPreviewList::GetRowText(size_t row, int column) const {
    if (row >= m_model.GetItemCount()) return {};
    const CListItem& item = m_model.GetItem(row);
    switch (column) {
        case kColumnName:
            return item.GetLabel();
        case kColumnSize:
            return m_model.ShowsDrivesFolder() ? std::string() : item.GetSizeText();
        case kColumnType:
            return item.GetTypeText();
        case kColumnModified:
            return m_model.ShowsDrivesFolder() ? std::string() : item.GetDateText();
        default:
            return {};
    }
}

int CPreviewList::GetRowImage(size_t row) {
    if (row >= m_model.GetItemCount()) return kImageCallback;
    if (!IsPreviewStyle()) return m_model.GetItem(row).path().GetIconIndex(kShgfiSmallIcon);
    oDIB cell = ComposeCell(row);
    g_imageSlotCounter = (g_imageSlotCounter + 1) % kImageSlotCount;
    m_view.SetImageSlot(g_imageSlotCounter, cell);
    return g_imageSlotCounter;
}

bool CPreviewList::IsRowSelected(size_t row) const {
    return int(row) == m_model.GetSelectedIndex();
}

CCacheEntry* CPreviewList::GetCacheEntry(const CListItem& item, bool create) const {
    CPreviewCacheManager* manager =
        create ? &CPreviewCacheManager::Get() : CPreviewCacheManager::Existing();
    if (manager == nullptr) return nullptr;
    CacheFilePath split = SplitCacheFilePath(item.GetItemPath());
    return create ? manager->FindOrCreateEntry(split.folder_path, split.file_name, true)
                  : manager->FindEntry(split.folder_path, split.file_name);
}

oDIB CPreviewList::ComposeCell(size_t index) {
    const CListItem& item = m_model.GetItem(index);
    CellRequest request;
    request.item = &item;
    request.cell_size_px = GetCellSize();
    request.selected = int(index) == m_model.GetSelectedIndex();
    request.show_shortcut_overlays = m_owner.ShortcutOverlaysShown();
    request.show_folder_overlays = m_owner.FolderOverlaysShown();
    Rect icon = m_view.GetItemRect(index, ListItemPart::kIcon);
    Point origin = m_view.GetOrigin();
    request.backdrop_x_offset = icon.left + origin.x + kIconSideMarginPx;
    request.backdrop_y_offset = icon.top + origin.y;
    oDIB thumbnail;
    if (IsPictureItem(item)) {
        CPreviewCacheManager& manager = CPreviewCacheManager::Get();
        request.has_dynamic_cache = manager.DynamicCache() != nullptr;
        CCacheEntry* entry = GetCacheEntry(item, true);
        // Without a dynamic cache every picture cell shows the progress of the list's load.
        request.load_percentage = m_loadPercent;
        if (entry != nullptr && FetchThumbnail(*entry, thumbnail)) {
            request.thumbnail.state = PictureThumbnailState::kMade;
            request.thumbnail.bitmap = &thumbnail;
        } else if (entry != nullptr && entry->m_failures > kMaxThumbnailFailures) {
            request.thumbnail.state = PictureThumbnailState::kFailed;
        }
    }
    // Holding the backdrop keeps it alive should another list reload it meanwhile.
    std::shared_ptr<const oDIB> backdrop = CurrentBackdrop();
    request.backdrop = backdrop.get();
    ++m_composedCells;
    return ComposeItemImage(request);
}

void CPreviewList::UpdateVisibleItems() {
    bool preview = IsPreviewStyle();
    if (CPreviewCacheManager* manager = CPreviewCacheManager::Existing()) manager->ClearQueue();
    Rect client = m_view.GetClientRect();
    int first = -1;
    int last = -1;
    for (size_t i = 0; i < m_model.GetItemCount(); ++i) {
        if (preview && !Intersects(m_view.GetItemRect(i, ListItemPart::kIcon), client)) continue;
        RefreshItemImage(i);
        if (first < 0) first = int(i);
        last = int(i);
    }
    if (!preview || first < 0) return;
    int selected = m_model.GetSelectedIndex();
    auto promote = [&](int index) {
        const CListItem& item = m_model.GetItem(size_t(index));
        if (!IsPictureItem(item)) return;
        CCacheEntry* entry = GetCacheEntry(item, true);
        if (entry == nullptr || entry->m_state != EntryState::kPending) return;
        if (!Intersects(m_view.GetItemRect(size_t(index), ListItemPart::kBounds), client)) return;
        CPreviewCacheManager::Get().Promote(*entry);
    };
    for (int i = last; i >= first; --i) {
        if (i != selected) promote(i);
    }
    if (selected >= 0) promote(selected);
}

void CPreviewList::RefreshItemImage(size_t index) {
    if (IsPreviewStyle()) {
        const CListItem& item = m_model.GetItem(index);
        if (IsPictureItem(item)) {
            if (CCacheEntry* entry = GetCacheEntry(item, true)) {
                oDIB discarded;
                FetchThumbnail(*entry, discarded);
            }
        }
    }
    // The row's image stays "ask when drawn" (or its icon): an unchanged image redraws
    // nothing, so rows already drawn are not composed again.
}

void CPreviewList::RedrawItemForEntry(const CCacheEntry* entry) {
    if (entry == nullptr || !IsPreviewStyle()) return;
    // The path the entry was last looked up with is the item's: comparing it finds the item
    // without a cache lookup per item.
    const std::string file_path = EntryFilePath(*entry);
    for (size_t i = 0; i < m_model.GetItemCount(); ++i) {
        const CListItem& item = m_model.GetItem(i);
        if (!IsPictureItem(item) || item.GetItemPath() != file_path) continue;
        if (Intersects(m_view.GetItemRect(i, ListItemPart::kIcon), m_view.GetClientRect())) {
            m_view.UpdateRow(i);
            RefreshItemImage(i);
        }
        return;
    }
}

void CPreviewList::OnLoadStart() {
    // A load always starts for the queue's head (on the worker, possibly the next head
    // while the tick's own entry is being finished).
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    m_loadingEntry = manager != nullptr ? manager->QueueHead() : nullptr;
    m_loadPercent = 0;
}

void CPreviewList::OnLoadProgress(uint32_t percent) {
    m_loadPercent = int(std::min<uint32_t>(percent, 100));
    RedrawItemForEntry(m_loadingEntry);
}

void CPreviewList::OnLoadEnd() {
    m_loadingEntry = nullptr;
    m_loadPercent = 100;
}

// ---- selection ----

void CPreviewList::NotifySelectionChanged() {
    int selected = m_model.GetSelectedIndex();
    m_owner.SetSelectedPath(selected >= 0 ? m_model.GetItem(size_t(selected)).path()
                                          : m_owner.GetCurrentFolder());
    m_owner.FirePathChange();
    // A handler may have changed the selection again: report what holds now.
    m_owner.FireSelectionChange(m_model.GetSelectedIndex());
}

void CPreviewList::ChangeSelection(int index) {
    int previous = m_model.GetSelectedIndex();
    if (index == previous) return;
    if (index >= int(m_model.GetItemCount())) return;
    if (previous >= 0) {
        m_model.SelectListItem(-1);
        m_view.UpdateRow(size_t(previous));
        NotifySelectionChanged();
    }
    if (index >= 0 && m_model.GetSelectedIndex() != index) {
        m_model.SelectListItem(index);
        m_view.UpdateRow(size_t(index));
        NotifySelectionChanged();
    }
}

int CPreviewList::SelectListItem(int index) {
    int previous = m_model.GetSelectedIndex();
    if (index == previous) return previous;
    if (index < -1 || index >= int(m_model.GetItemCount())) return previous;
    ChangeSelection(index);
    if (index >= 0) {
        m_view.EnsureVisible(size_t(index));
        UpdateVisibleItems();
    }
    return previous;
}

void CPreviewList::SelectItemByPath(const CShellPath& path) {
    ChangeSelection(-1);
    int found = m_model.FindItemByPath(path);
    if (found >= 0) ChangeSelection(found);
}

const CListItem* CPreviewList::GetSelectedItem() const {
    int selected = m_model.GetSelectedIndex();
    return selected >= 0 ? &m_model.GetItem(size_t(selected)) : nullptr;
}

bool CPreviewList::GetSelectedItemPaths(CShellPath& path, std::string& shortcut_file) const {
    const CListItem* item = GetSelectedItem();
    if (item == nullptr) return false;
    path = item->path();
    shortcut_file.clear();
    if (item->IsShortcut()) {
        shortcut_file = m_owner.GetCurrentFolder().GetPathText() + "/" + item->GetLabel() + ".lnk";
    }
    return true;
}

// ---- input ----

void CPreviewList::OnClick(Point point) {
    ChangeSelection(m_view.HitTest(point));
}

void CPreviewList::OnDoubleClick(Point point) {
    int index = m_view.HitTest(point);
    ChangeSelection(index);
    const CListItem* selected = GetSelectedItem();
    m_owner.SetSelectedPath(selected != nullptr ? selected->path() : m_owner.GetCurrentFolder());
    m_owner.FirePathChange();
    m_owner.OkPressed();
    if (!m_owner.DoubleClickLaunchEnabled()) return;
    selected = GetSelectedItem();
    if (selected == nullptr) return;
    if (IsPictureItem(*selected)) {
        OnMenuCommand(kMenuPreview);
    } else if (selected->GetKind() != ListItemKind::Folder) {
        OnMenuCommand(kMenuEdit);
    }
}

void CPreviewList::OnColumnClick(int column) {
    m_openMenu.clear();
    OnMenuCommand(SortCommandForColumn(column));
}

std::vector<MenuEntry> CPreviewList::OnRightClick(Point point) {
    m_openMenu.clear();
    int index = m_view.HitTest(point);
    if (index >= 0) SelectListItem(index);
    if (!m_owner.PopupMenuEnabled()) return {};
    ListMenuState state;
    state.style = m_owner.CurrentListStyle();
    state.sort_order = m_owner.CurrentSortOrder();
    state.force_date_order = m_model.IsForceDateOrder();
    state.double_click_launch = m_owner.DoubleClickLaunchEnabled();
    if (const CListItem* selected = GetSelectedItem()) {
        state.has_selection = true;
        state.selected_is_folder = selected->path().IsFolder();
        state.selected_is_picture = IsPictureItem(*selected);
    }
    m_openMenu = BuildListMenu(state);
    return m_openMenu;
}

bool CPreviewList::OnMenuCommand(int command) {
    if (!m_openMenu.empty()) {
        auto found = std::find_if(m_openMenu.begin(), m_openMenu.end(),
                                  [command](const MenuEntry& e) { return e.id == command; });
        bool usable = found != m_openMenu.end() && !found->disabled && command != kMenuSeparator;
        m_openMenu.clear();
        if (!usable) return false;
    }
    if (command == kMenuEdit) {
        m_owner.OpenEditListItem();
    } else if (command == kMenuPreview) {
        m_owner.PreviewListItem();
    } else if (command >= kMenuLargePreviews && command <= kMenuDetails) {
        m_owner.ChooseListStyle(command - kMenuLargePreviews);
    } else if (int order = SortOrderForCommand(command, m_owner.CurrentSortOrder()); order >= 0) {
        m_owner.ChooseSortOrder(order);
    } else {
        return false;
    }
    return true;
}

int CPreviewList::LinePitch() const {
    size_t columns = size_t(m_view.GetColumnsPerRow());
    if (m_model.GetItemCount() <= columns) return m_view.GetClientRect().Height();
    return m_view.GetItemRect(columns, ListItemPart::kBounds).top -
           m_view.GetItemRect(0, ListItemPart::kBounds).top;
}

void CPreviewList::OnKey(ListKey key) {
    int count = int(m_model.GetItemCount());
    if (count > 0) {
        int columns = m_view.GetColumnsPerRow();
        int page = columns * m_view.GetRowsPerPage();
        int current = m_model.GetSelectedIndex();
        int target = current;
        switch (key) {
            case ListKey::kLeft:
                target = current - 1;
                break;
            case ListKey::kRight:
                target = current + 1;
                break;
            case ListKey::kUp:
                target = current - columns;
                break;
            case ListKey::kDown:
                target = current + columns;
                break;
            case ListKey::kPageUp:
                target = current - page;
                break;
            case ListKey::kPageDown:
                target = current + page;
                break;
            case ListKey::kHome:
                target = 0;
                break;
            case ListKey::kEnd:
                target = count - 1;
                break;
        }
        // Without a selection every key starts at the first item.
        target = current < 0 ? 0 : std::clamp(target, 0, count - 1);
        ChangeSelection(target);
        m_view.EnsureVisible(size_t(target));
    }
    UpdateVisibleItems();
}

void CPreviewList::OnWheel(int notches) {
    m_view.ScrollBy(0, notches * kWheelLines * std::max(1, LinePitch()));
    UpdateVisibleItems();
}

}  // namespace scopa
