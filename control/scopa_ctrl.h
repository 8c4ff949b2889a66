// The control: a folder tree on the left, a 3-pixel splitter bar, and the preview list on
// the right, driven by the host through the automation methods and reporting through six
// events. It owns the tree and list logic over the host's two views, its preferences (loaded
// at construction, saved at destruction), and the tick of its one timer: the list's pending
// refresh, then at most one thumbnail of the process's caching queue.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "cache/background_caching.h"
#include "control/control_events.h"
#include "control/control_host.h"
#include "list/preview_list.h"
#include "prefs/control_prefs.h"
#include "shell/folder_tree.h"
#include "shell/shell_path.h"

namespace scopa {

inline constexpr int kSplitterWidthPx = 3;
// A tree narrower than this at the end of a drag becomes kCollapsedTreeWidthPx wide and the
// width is not remembered.
inline constexpr int kMinRememberedTreeWidthPx = 7;
inline constexpr int kCollapsedTreeWidthPx = 6;
// Automation strings are cut to this many bytes (whole UTF-8 characters).
inline constexpr size_t kMaxAutomationStringBytes = 1023;

// Text of an automation string argument as the control keeps it.
std::string ConvertAutomationString(std::string_view text);
// An export's file name: ".ID" is appended unless the name already ends in it (any case).
std::string PathWithExportExtension(const std::string& path, const std::string& format_id);

enum class SplitterCursor { kArrow, kSizeWestEast };

class CScopaCtrl final : public IFolderTreeOwner, public IPreviewListOwner {
public:
    // Construction: extension lists, flags, tree width from the host's pixels per inch,
    // preferences loaded. The views are the host's; `events` may be null.
    CScopaCtrl(IControlHost& host, IControlEvents* events, ITreeView& tree_view,
               IListView& list_view);
    // Destroys the window if still live, then saves the preferences.
    ~CScopaCtrl() override;
    CScopaCtrl(const CScopaCtrl&) = delete;
    CScopaCtrl& operator=(const CScopaCtrl&) = delete;

    // ---- window ----
    // Fills the tree and arms the timer.
    void OnCreate();
    // Stops the timer, drops the queued thumbnails and saves the dynamic cache's index.
    void OnDestroy();
    bool HasWindow() const { return m_hasWindow; }
    // The control's client area changed size.
    void OnSize(int width_px, int height_px);
    Rect GetClientRect() const { return {0, 0, m_clientWidth, m_clientHeight}; }
    void RecalcLayout();
    // The splitter bar is painted only when the tree is shown.
    bool IsSplitterPainted() const { return m_hasWindow && m_bTreeEnabled; }
    Rect GetSplitterRect() const;
    SplitterCursor OnSetCursor() const;
    void OnLButtonDown(Point point);
    void OnMouseMove(Point point);
    void OnLButtonUp(Point point);
    bool IsDraggingSplitter() const { return m_bSplitterDragging; }
    void OnSetFocus();
    // One tick of the timer.
    void OnTimer();

    // ---- operations other parts call ----
    void Navigate(const CShellPath& path, bool fire_path_change) override;
    void BeginWaitCursor(bool on) override;
    int GetWaitCursorDepth() const { return m_waitCursorDepth; }
    bool LaunchItem(const CShellPath& path);

    // ---- automation methods, in dispid order ----
    long GetPalette() const;
    void GetPath(std::string& path) const;
    void SetPath(std::string_view path);
    void SetFilter(std::string_view filter);
    bool CreateStaticCache(std::string_view cache_path_name, std::string_view root_folder_path);
    bool QryGoParent() const;
    bool QryGoBack() const { return false; }
    bool QryGoForward() const { return false; }
    void GoParent();
    void GoBack() {}
    void GoForward() {}
    void OkPressed() override;
    bool QryEnableOk() const;
    long GetTreeControlWidth() const { return m_nTreeWidth; }
    void SetTreeControlWidth(long width);
    void SetResolution(long resolution) { m_resolution = int(resolution); }
    void EnableDragAndDrop() { m_bDragAndDrop = true; }
    long GetPreviewListStyle() const { return m_nListStyle & 3; }
    void SetPreviewListStyle(long style);
    long GetPreviewListSortOrder() const { return m_nSortOrder; }
    void SetPreviewListSortOrder(long order);
    void EnableTreeControl(long enable);
    void EnablePopupMenu(long enable);
    void ShowFolderOverlays(long show);
    void ShowShortcutOverlays(long show);
    void ShowFileExtensions(long show);
    void SelectPreviewListItem(long index);
    void SelectPreviewListItemStr(std::string_view name);
    void GetFolder(std::string& folder) const;
    void SetSumInfoKeywordFilter(std::string_view keywords);
    bool QryEnableExport() const;
    void ExportPressed();
    void SetTreeControlRootFolder(std::string_view folder);
    void ShowTreeControlButtons(long show);
    void SetTreeControlTopFolder(std::string_view folder);
    void SetTreeControlFixedWidth(long width);
    void SetFilterExtensions(std::string_view filter, std::string_view extensions);
    void EnableDoubleClickLaunch() { m_bDoubleClickLaunch = true; }
    bool QryPreviewListItem() const;
    void PreviewListItem() override;
    bool QryOpenEditListItem() const;
    void OpenEditListItem() override;

    // ---- state for hosts and tests ----
    CPreviewList& list() { return m_wndList; }
    CFolderTree& tree() { return m_wndTree; }
    CBackgroundCaching& caching() { return m_caching; }
    CControlPrefs& prefs() { return m_prefs; }
    const CShellPath& GetSelectedPath() const { return m_selectedPath; }
    const CShellPath& GetCurrentFolder() const override { return m_currentFolder; }
    int GetDefaultTreeWidth() const { return m_nDefaultTreeWidth; }
    int GetListStyleWord() const { return m_nListStyle; }
    int GetResolution() const { return m_resolution; }
    bool IsDragAndDropEnabled() const { return m_bDragAndDrop; }
    bool IsTreeEnabled() const { return m_bTreeEnabled; }
    const std::string& GetExportFolder() const { return m_strExportFolder; }
    const std::string& GetFilterText() const { return m_strFilter; }
    const std::map<std::string, std::string>& ShortcutReturns() const {
        return m_mapShortcutReturn;
    }

    // IFolderTreeOwner
    const CShellPath& GetRootFolder() const override { return m_rootFolder; }
    const CShellPath& GetTopFolder() const override { return m_topFolder; }
    bool ShowTreeButtons() const override { return m_bTreeButtons; }
    // IPreviewListOwner
    int CurrentListStyle() const override { return m_nListStyle & 3; }
    int CurrentSortOrder() const override { return m_nSortOrder; }
    bool FolderOverlaysShown() const override { return m_bFolderOverlays; }
    bool ShortcutOverlaysShown() const override { return m_bShortcutOverlays; }
    bool PopupMenuEnabled() const override { return m_bPopupMenu; }
    bool DoubleClickLaunchEnabled() const override { return m_bDoubleClickLaunch; }
    void SetSelectedPath(const CShellPath& path) override { m_selectedPath = path; }
    void FirePathChange() override;
    void FireSelectionChange(int index) override;
    void FireNavigate() override;
    void ChooseListStyle(int style) override { SetPreviewListStyle(style); }
    void ChooseSortOrder(int order) override { SetPreviewListSortOrder(order); }

private:
    // Refills the list from the current folder and selects the selected path in it.
    void Relist();
    // The tree shows the selected path under the navigation guard.
    void ShowSelectedPathGuarded();
    // The drag feedback at `x`; while moving the tree width follows it.
    void DrawSplitterBar(int x, bool moving);

    IControlHost& m_host;
    IControlEvents* m_events;
    // Members in the order they are made.
    int m_waitCursorDepth = 0;
    bool m_bSplitterDragging = false;
    int m_nDefaultTreeWidth = 0;
    int m_resolution = -1;
    bool m_bDragAndDrop = false;
    int m_nListStyle = 0;
    int m_nSortOrder = 0;
    std::string m_strInitialPath;
    long m_bTreeEnabled = 1;
    bool m_bFolderOverlays = true;
    bool m_bShortcutOverlays = true;
    bool m_bPopupMenu = true;
    bool m_bFileExtensions = true;
    bool m_bTreeButtons = true;
    bool m_bFixedTreeWidth = false;
    bool m_bDoubleClickLaunch = false;
    CShellPath m_rootFolder;
    CShellPath m_topFolder;
    std::string m_strExportFolder;
    // The item exported into the shown folder, selected again after the refill.
    CShellPath m_reselectAfterRefresh;
    CControlPrefs m_prefs;
    int m_nTreeWidth = 0;
    CFolderTree m_wndTree;
    CPreviewList m_wndList;
    std::string m_strFilter;
    CShellPath m_selectedPath;
    CShellPath m_currentFolder;
    std::map<std::string, std::string> m_mapShortcutReturn;
    CBackgroundCaching m_caching;

    bool m_hasWindow = false;
    int m_clientWidth = 0;
    int m_clientHeight = 0;
};

}  // namespace scopa
