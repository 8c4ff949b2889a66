// The preview list without a window: it owns the items of the shown folder, refills itself
// from the folder when a refresh was asked for, sorts the items in one of the eight orders
// and keeps the selection. The widget sits on it and only draws; the tool lists through it.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "list/list_item.h"
#include "list/population.h"
#include "resources/strings.h"
#include "shell/shell_path.h"

namespace scopa {

// A folder whose upper-cased path contains this text is always sorted newest first.
inline constexpr std::string_view kRecentFolderMarker = LoadResourceString(kIdsRecentFolderMarker);

// Installs the imaging filters' identifiers and descriptions as the picture type texts of
// list items (done by the model's construction; repeating it is harmless).
void InstallImagingFilterNames();

class CPreviewListModel final : public IListItemOwner, private IPopulationSink {
public:
    CPreviewListModel();
    ~CPreviewListModel() override;
    CPreviewListModel(const CPreviewListModel&) = delete;
    CPreviewListModel& operator=(const CPreviewListModel&) = delete;

    // ---- settings (the control's) ----
    // The filter text for the next refresh (the control's m_strFilter; "PCF" by default).
    void SetFilter(std::string filter) { m_options.filter = std::move(filter); }
    const std::string& GetFilter() const { return m_options.filter; }
    void SetShowFileExtensions(bool show) { m_showExtensions = show; }
    bool ShowFileExtensions() const override { return m_showExtensions; }
    // The control's sort order (0 to 7); Sort() applies it.
    void SetSortOrder(int sort_order) { m_sortOrder = sort_order; }
    int GetSortOrder() const { return m_sortOrder; }
    // The order sorting uses: 6 while the shown folder forces date order.
    int GetEffectiveSortOrder() const;
    // Include files: the control's label-to-drive memory (not owned; null: the model's own)
    // and the "Insert CD-ROM disk" dialog (empty: a missing disk is given up at once).
    void SetIncludeDrives(std::map<std::string, std::string>* include_drives);
    void SetInsertDiskPrompt(InsertDiskPrompt prompt);
    // Finds volumes by label for ".lnk" targets (empty: the mounted volumes).
    void SetVolumeFinder(VolumeFinder finder) { m_options.volume_finder = std::move(finder); }
    // Shows hidden entries whatever the registry's "Hidden" setting says.
    void SetShowHiddenFiles(bool show) { m_options.show_hidden = show; }

    // ---- refresh ----
    // Asks for `folder` to be shown at the next DoPendingRefresh: nothing happens for a path
    // that is no folder, or for the folder already shown unless `force`. Several requests
    // collapse into one refresh of the last folder, keeping the scroll position (see
    // KeepScroll) when any of them was forced. True when a refresh is now pending.
    bool RequestRefresh(const CShellPath& folder, bool force);
    bool IsRefreshPending() const { return m_refreshPending; }
    // Runs a pending refresh to its end: clears the items, populates the shown folder and
    // sorts. True when a refresh ran (the widget then fires OnNavigate).
    bool DoPendingRefresh();
    // The same in slices of at most `budget_ms` of population each; returns true when a
    // refresh finished in this call. IsPopulating() tells that one is under way.
    bool StepPendingRefresh(int budget_ms);
    bool IsPopulating() const { return m_population != nullptr; }
    // RequestRefresh(folder, force) and DoPendingRefresh in one; false when `folder` is no
    // folder.
    bool Refresh(const CShellPath& folder);
    // Whether the refresh that ran last keeps the scroll position (it was forced).
    bool KeepScroll() const { return m_keepScrollDone; }

    const CShellPath& GetShownFolder() const { return m_shownFolder; }
    bool ShowsDrivesFolder() const override { return m_drivesFolder; }
    bool IsForceDateOrder() const { return m_forceDateOrder; }
    // The shown folder's own "backdrop.imf", "" when it has none.
    const std::string& GetBackdropPath() const { return m_backdropPath; }

    // ---- items ----
    size_t GetItemCount() const { return m_items.size(); }
    const CListItem& GetItem(size_t index) const { return *m_items[index]; }
    const std::vector<std::unique_ptr<CListItem>>& items() const { return m_items; }
    // The first item whose path equals `path` (CShellPath::Compare); -1 when none does.
    int FindItemByPath(const CShellPath& path) const;
    // The first item whose label equals `label` exactly; -1 when none does.
    int FindItemByLabel(std::string_view label) const;
    // Deletes every item and the selection.
    void Clear();
    // Sorts in the effective order: groups first, then the order's key; equal items keep
    // their enumeration order. The selected item stays selected.
    void Sort();

    // ---- selection ----
    int GetSelectedIndex() const { return m_selected; }
    // Selects `index` (-1 clears); returns the index selected before. Out of range: no change.
    int SelectListItem(int index);
    // Clears the selection, then selects the first item whose path equals `path`; true when
    // one was found.
    bool SelectItemByPath(const CShellPath& path);

private:
    const IListItemOwner* ItemOwner() const override { return this; }
    void AppendItem(std::unique_ptr<CListItem> item) override;
    void BeginRefresh();
    void FinishRefresh();

    std::vector<std::unique_ptr<CListItem>> m_items;
    int m_selected = -1;
    bool m_showExtensions = true;
    int m_sortOrder = kSortByName;
    PopulationOptions m_options;
    std::map<std::string, std::string> m_ownIncludeDrives;

    CShellPath m_shownFolder;
    bool m_refreshPending = false;
    bool m_keepScroll = false;
    bool m_keepScrollDone = false;
    bool m_drivesFolder = false;
    bool m_forceDateOrder = false;
    std::string m_backdropPath;
    std::unique_ptr<CFolderPopulation> m_population;
};

}  // namespace scopa
