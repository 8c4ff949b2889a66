#include "control/scopa_ctrl.h"

#include <algorithm>

#include "cache/cache_manager.h"
#include "cache/static_cache_creation.h"
#include "control/control_guards.h"
#include "list/population.h"
#include "platform/text.h"

namespace scopa {

std::string ConvertAutomationString(std::string_view text) {
    return std::string(CutUtf8(text, kMaxAutomationStringBytes));
}

CScopaCtrl::CScopaCtrl(IControlHost& host, IControlEvents* events, ITreeView& tree_view,
                       IListView& list_view)
    : m_host(host),
      m_events(events),
      m_wndTree(*this, tree_view),
      m_wndList(*this, list_view),
      m_strFilter(kFilterAllPictures),
      m_caching(nullptr, this) {
    CControlPrefs::EnsurePrefsKey();
    InstallBuiltInFilterExtensions();
    SetKeywordFilter("");
    m_nDefaultTreeWidth = 2 * m_host.GetPixelsPerInch();
    m_nTreeWidth = m_nDefaultTreeWidth;
    m_prefs.LoadAll();
    m_wndList.model().SetIncludeDrives(&m_prefs.m_mapHashIncPrefs);
    m_caching.SetLoadObserver(&m_wndList);
    // Thumbnails are made on a worker; each tick still commits at most one result.
    m_caching.UseWorkerThread(true);
}

CScopaCtrl::~CScopaCtrl() {
    if (m_hasWindow) OnDestroy();
    m_mapShortcutReturn.clear();
    m_prefs.SaveAtDestruction(m_nTreeWidth, m_nListStyle, m_nSortOrder,
                              m_currentFolder.GetPathText(), m_strInitialPath);
}

// ---- window ----

void CScopaCtrl::OnCreate() {
    m_hasWindow = true;
    m_wndTree.Create();
    m_wndList.Create();
    m_host.SetTimer(kCachingTickIntervalMs);
}

void CScopaCtrl::OnDestroy() {
    if (!m_hasWindow) return;
    if (CPreviewCacheManager::Existing() != nullptr) m_host.KillTimer();
    m_caching.ControlDestroyed();
    m_wndTree.Destroy();
    m_wndList.Destroy();
    m_hasWindow = false;
}

void CScopaCtrl::OnSize(int width_px, int height_px) {
    m_clientWidth = std::max(0, width_px);
    m_clientHeight = std::max(0, height_px);
    RecalcLayout();
}

void CScopaCtrl::RecalcLayout() {
    if (!m_hasWindow) return;
    if (!ControlGuards::layout_free) return;  // the outer layout refreshes the window
    ControlGuards::layout_free = false;
    Rect client = GetClientRect();
    if (m_bTreeEnabled) {
        m_wndTree.view().MoveTo(
            {client.left, client.top, client.left + m_nTreeWidth, client.bottom});
        int list_left = client.left + m_nTreeWidth + kSplitterWidthPx;
        m_wndList.view().MoveTo(
            {list_left, client.top, std::max(list_left, client.right), client.bottom});
    } else {
        m_wndTree.view().MoveTo({0, 0, 0, 0});
        m_wndList.view().MoveTo(client);
    }
    m_wndList.ApplyView();
    ControlGuards::layout_free = true;
}

Rect CScopaCtrl::GetSplitterRect() const {
    return {m_nTreeWidth, 0, m_nTreeWidth + kSplitterWidthPx, m_clientHeight};
}

SplitterCursor CScopaCtrl::OnSetCursor() const {
    return m_bFixedTreeWidth ? SplitterCursor::kArrow : SplitterCursor::kSizeWestEast;
}

void CScopaCtrl::OnLButtonDown(Point point) {
    if (m_bFixedTreeWidth) return;
    m_bSplitterDragging = true;
    DrawSplitterBar(point.x, false);
}

void CScopaCtrl::OnMouseMove(Point point) {
    if (m_bSplitterDragging) DrawSplitterBar(point.x, true);
}

void CScopaCtrl::OnLButtonUp(Point point) {
    if (!m_bSplitterDragging) return;
    if (m_nTreeWidth < kMinRememberedTreeWidthPx) m_nTreeWidth = kCollapsedTreeWidthPx;
    m_bSplitterDragging = false;
    DrawSplitterBar(point.x, false);
    RecalcLayout();
    if (m_nTreeWidth > kCollapsedTreeWidthPx) {
        m_nDefaultTreeWidth = m_nTreeWidth;
        if (m_bTreeEnabled) ShowSelectedPathGuarded();
    }
    if (m_events != nullptr) m_events->OnTreeControlWidthChange();
}

void CScopaCtrl::DrawSplitterBar(int x, bool moving) {
    if (!m_hasWindow) return;
    Rect client = GetClientRect();
    if (x > client.right - kSplitterWidthPx) {
        x = client.right - kSplitterWidthPx;
    } else if (x < client.left + kSplitterWidthPx) {
        x = client.left + kSplitterWidthPx;
    }
    // The host draws the feedback; the width follows the mouse.
    if (moving) m_nTreeWidth = x;
}

void CScopaCtrl::ShowSelectedPathGuarded() {
    NavigationGuard guard;
    m_wndTree.ShowPath(m_selectedPath, false);
}

void CScopaCtrl::OnSetFocus() {
    TreeItem selected = m_wndTree.view().GetSelection();
    if (selected == kNoTreeItem) return;
    m_wndTree.ShowPath(m_selectedPath, false);
    if (TreeItem now = m_wndTree.view().GetSelection()) m_wndTree.view().EnsureVisible(now);
}

void CScopaCtrl::OnTimer() {
    m_host.KillTimer();
    if (m_wndList.DoPendingRefresh() && !m_reselectAfterRefresh.IsEmpty()) {
        m_wndList.SelectItemByPath(m_reselectAfterRefresh);
        m_reselectAfterRefresh = CShellPath();
    }
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    if (manager != nullptr && manager->QueueHead() != nullptr) {
        m_wndList.RedrawItemForEntry(m_caching.Tick());
    }
    m_host.SetTimer(kCachingTickIntervalMs);
}

void CScopaCtrl::BeginWaitCursor(bool on) {
    if (on) {
        if (m_waitCursorDepth++ == 0) m_host.SetWaitCursor(true);
    } else if (m_waitCursorDepth > 0) {
        if (--m_waitCursorDepth == 0) m_host.SetWaitCursor(false);
    }
}

// ---- events ----

void CScopaCtrl::FirePathChange() {
    if (m_events != nullptr) m_events->OnPathChange();
}

void CScopaCtrl::FireSelectionChange(int index) {
    if (m_events != nullptr) m_events->OnSelectionChange(index);
}

void CScopaCtrl::FireNavigate() {
    if (m_events != nullptr) m_events->OnNavigate();
}

// ---- settings ----

long CScopaCtrl::GetPalette() const {
    // The screen palette is the process's one palette; its handle is a fixed number here.
    return 1;
}

void CScopaCtrl::Relist() {
    if (m_currentFolder.IsEmpty()) return;
    CShellPath folder = m_currentFolder;
    m_wndList.RequestRefresh(folder, true);
    m_wndList.SelectItemByPath(m_selectedPath);
}

void CScopaCtrl::SetFilter(std::string_view filter) {
    std::string text = ConvertAutomationString(filter);
    if (text == m_strFilter) return;
    m_strFilter = text;
    m_wndList.model().SetFilter(text);
    Relist();
}

void CScopaCtrl::SetSumInfoKeywordFilter(std::string_view keywords) {
    if (!SetKeywordFilter(ConvertAutomationString(keywords))) return;
    Relist();
}

void CScopaCtrl::SetFilterExtensions(std::string_view filter, std::string_view extensions) {
    scopa::SetFilterExtensions(ConvertAutomationString(filter),
                               ConvertAutomationString(extensions));
    Relist();
}

bool CScopaCtrl::CreateStaticCache(std::string_view cache_path_name,
                                   std::string_view root_folder_path) {
    BeginWaitCursor(true);
    bool made = scopa::CreateStaticCache(ConvertAutomationString(cache_path_name),
                                         ConvertAutomationString(root_folder_path),
                                         [this](const std::string& text) {
                                             if (m_events != nullptr) m_events->OnFeedback(text);
                                         });
    BeginWaitCursor(false);
    return made;
}

void CScopaCtrl::SetTreeControlWidth(long width) {
    m_bFixedTreeWidth = false;
    int wanted = width >= 0 ? int(std::min<long>(width, 1 << 20)) : m_nDefaultTreeWidth;
    if (wanted < kMinRememberedTreeWidthPx) {
        if (m_nTreeWidth != kCollapsedTreeWidthPx) {
            m_nTreeWidth = kCollapsedTreeWidthPx;
            RecalcLayout();
        }
    } else if (wanted != m_nTreeWidth) {
        m_nTreeWidth = wanted;
        RecalcLayout();
        if (m_bTreeEnabled) ShowSelectedPathGuarded();
    }
}

void CScopaCtrl::SetTreeControlFixedWidth(long width) {
    SetTreeControlWidth(width);
    m_bFixedTreeWidth = true;
}

void CScopaCtrl::SetPreviewListStyle(long style) {
    if (style == m_nListStyle) return;
    m_nListStyle = int(style);
    m_wndList.ApplyView();
}

void CScopaCtrl::SetPreviewListSortOrder(long order) {
    if (order == m_nSortOrder) return;
    m_nSortOrder = int(order);
    m_wndList.ApplyView();
}

void CScopaCtrl::EnableTreeControl(long enable) {
    if (enable == m_bTreeEnabled) return;
    m_bTreeEnabled = enable;
    RecalcLayout();
    if (m_bTreeEnabled) m_wndTree.ShowPath(m_selectedPath, false);
}

void CScopaCtrl::EnablePopupMenu(long enable) {
    m_bPopupMenu = (enable & 0xFF) != 0;
}

void CScopaCtrl::ShowFolderOverlays(long show) {
    bool value = (show & 0xFF) != 0;
    if (value == m_bFolderOverlays) return;
    m_bFolderOverlays = value;
    m_wndList.ApplyView();
}

void CScopaCtrl::ShowShortcutOverlays(long show) {
    bool value = (show & 0xFF) != 0;
    if (value == m_bShortcutOverlays) return;
    m_bShortcutOverlays = value;
    m_wndList.ApplyView();
}

void CScopaCtrl::ShowFileExtensions(long show) {
    bool value = (show & 0xFF) != 0;
    if (value == m_bFileExtensions) return;
    m_bFileExtensions = value;
    m_wndList.model().SetShowFileExtensions(value);
    m_wndList.ApplyView();
}

void CScopaCtrl::ShowTreeControlButtons(long show) {
    m_bTreeButtons = (show & 0xFF) != 0;
}

void CScopaCtrl::SelectPreviewListItem(long index) {
    m_wndList.SelectListItem(int(std::clamp<long>(index, -2, 1L << 30)));
}

void CScopaCtrl::SelectPreviewListItemStr(std::string_view name) {
    int found = m_wndList.model().FindItemByLabel(ConvertAutomationString(name));
    if (found >= 0) m_wndList.SelectListItem(found);
}

void CScopaCtrl::SetTreeControlRootFolder(std::string_view folder) {
    std::string text = ConvertAutomationString(folder);
    CShellPath root = text.empty() ? CShellPath() : CShellPath(text);
    if (CShellPath::Compare(root, m_rootFolder) == 0) return;
    m_rootFolder = root;
    if (m_hasWindow) m_wndTree.FillTree();
}

void CScopaCtrl::SetTreeControlTopFolder(std::string_view folder) {
    std::string text = ConvertAutomationString(folder);
    m_topFolder = text.empty() ? CShellPath() : CShellPath(text);
}

}  // namespace scopa
