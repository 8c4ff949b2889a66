// The preview list: the window logic over the list model. It refills the model when the
// control's timer runs a pending refresh, applies the control's style and sort order to the
// view, keeps the thumbnails of the visible items coming (the selected item's first, then
// the visible ones from the top), composes a cell when the view draws a row and puts it into
// one of 16 image slots used in turn, reports selection changes to the control, and offers
// the context menu. Input arrives from the host as calls (clicks, keys, wheel, menu).
#pragma once

#include <string>
#include <vector>

#include "imaging/dib.h"
#include "imaging/picture.h"
#include "list/cell_backdrop.h"
#include "list/cell_drawing.h"
#include "list/list_menu.h"
#include "list/list_model.h"
#include "list/list_view.h"

namespace scopa {

class CCacheEntry;

// The image slots the preview styles reuse in turn, whatever the item count.
inline constexpr int kImageSlotCount = 16;
inline constexpr int kLargeCellPx = 130;
inline constexpr int kSmallCellPx = 66;

// What the list asks of the control that owns it.
class IPreviewListOwner {
public:
    virtual ~IPreviewListOwner() = default;
    virtual int CurrentListStyle() const = 0;  // 0 to 3
    virtual int CurrentSortOrder() const = 0;
    virtual bool FolderOverlaysShown() const = 0;
    virtual bool ShortcutOverlaysShown() const = 0;
    virtual bool PopupMenuEnabled() const = 0;
    virtual bool DoubleClickLaunchEnabled() const = 0;
    virtual const CShellPath& GetCurrentFolder() const = 0;
    virtual void SetSelectedPath(const CShellPath& path) = 0;
    virtual void BeginWaitCursor(bool on) = 0;
    virtual void FirePathChange() = 0;
    virtual void FireSelectionChange(int index) = 0;
    virtual void FireNavigate() = 0;
    // The item actions and the setters the menu's commands go through.
    virtual void OkPressed() = 0;
    virtual void PreviewListItem() = 0;
    virtual void OpenEditListItem() = 0;
    virtual void ChooseListStyle(int style) = 0;
    virtual void ChooseSortOrder(int order) = 0;
};

// Keys the list acts on after the view's own handling.
enum class ListKey { kPageUp, kPageDown, kEnd, kHome, kLeft, kUp, kRight, kDown };

class CPreviewList final : private IListViewClient, public PictureLoadObserver {
public:
    CPreviewList(IPreviewListOwner& owner, IListView& view);
    ~CPreviewList() override;
    CPreviewList(const CPreviewList&) = delete;
    CPreviewList& operator=(const CPreviewList&) = delete;

    // Window creation and destruction.
    void Create();
    void Destroy();

    CPreviewListModel& model() { return m_model; }
    const CPreviewListModel& model() const { return m_model; }
    IListView& view() { return m_view; }

    // Asks for `folder` at the next tick (nothing for a non-folder, nor for the shown folder
    // unless `force`); a forced refresh keeps the scroll position.
    void RequestRefresh(const CShellPath& folder, bool force);
    bool IsRefreshPending() const { return m_model.IsRefreshPending() || m_model.IsPopulating(); }
    // The tick's refresh step: populates for at most one slice; when the folder is filled,
    // scrolls to the top unless kept, applies the view and fires OnNavigate. True then.
    bool DoPendingRefresh();
    // Style, image slots and sort applied to the view; the visible thumbnails requested.
    void ApplyView();
    int GetCellSize() const;

    int GetSelectedIndex() const { return m_model.GetSelectedIndex(); }
    // Selects `index` (-1 clears), scrolling it into view; returns the index selected before.
    int SelectListItem(int index);
    // Clears the selection, then selects the first item whose path equals `path`.
    void SelectItemByPath(const CShellPath& path);
    // The selected item's path and, for a shortcut item, the shortcut file's text.
    bool GetSelectedItemPaths(CShellPath& path, std::string& shortcut_file) const;
    const CListItem* GetSelectedItem() const;

    // Requests the thumbnails of the visible items, the selected item's first.
    void UpdateVisibleItems();
    void RefreshItemImage(size_t index);
    // The cache finished (or is making) `entry`: its item is drawn again when in view.
    void RedrawItemForEntry(const CCacheEntry* entry);
    // The cell of an item as the view would get it (not put into a slot).
    oDIB ComposeCell(size_t index);

    // ---- input ----
    void OnClick(Point point);
    void OnDoubleClick(Point point);
    void OnColumnClick(int column);
    // A right click: selects the item under the point, then gives the menu (empty when the
    // control turned it off). The entries stay open for OnMenuCommand.
    std::vector<MenuEntry> OnRightClick(Point point);
    // Runs a command of the open menu (or any command when none is open); false when the
    // command is not in the open menu or is disabled.
    bool OnMenuCommand(int command);
    void OnKey(ListKey key);
    // Scrolls `notches` wheel steps of three lines each, positive towards the end.
    void OnWheel(int notches);
    // The view was scrolled by its scroll bar and the thumb released.
    void OnScrollEnd() { UpdateVisibleItems(); }

    // Image ring statistics for tests and benchmarks: cells composed so far.
    long ComposedCells() const { return m_composedCells; }

    // The load the cache is making (progress drawn on its item).
    void OnLoadStart() override;
    void OnLoadProgress(uint32_t percent) override;
    void OnLoadEnd() override;

private:
    // IListViewClient
    size_t GetRowCount() const override { return m_model.GetItemCount(); }
    std::string GetRowText(size_t row, int column) const override;
    int GetRowImage(size_t row) override;
    bool IsRowSelected(size_t row) const override;

    bool IsPreviewStyle() const { return m_owner.CurrentListStyle() < 2; }
    // Changes the selection with the notifications a list window sends: the old item's
    // deselection, then the new item's selection.
    void ChangeSelection(int index);
    void NotifySelectionChanged();
    CCacheEntry* GetCacheEntry(const CListItem& item, bool create) const;
    int LinePitch() const;

    IPreviewListOwner& m_owner;
    IListView& m_view;
    CPreviewListModel m_model;
    int m_styleAppliedLast = -1;
    Point m_scrollBeforeRefresh;
    const CCacheEntry* m_loadingEntry = nullptr;
    int m_loadPercent = 0;
    std::vector<MenuEntry> m_openMenu;
    long m_composedCells = 0;
    CListBackdrop m_backdrop;
};

}  // namespace scopa
