// The folder tree: the folders of the shell namespace below the Desktop, or below a root
// folder the host chose, shown in a tree view. Branches are read when they expand, and read
// again on every expansion. Selecting a folder navigates there; navigating by other means
// makes the tree expand down to the new folder and select it (ShowPath).
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "shell/shell_path.h"
#include "shell/tree_view.h"

namespace scopa {

// What the tree asks of the control that owns it.
class IFolderTreeOwner {
public:
    virtual ~IFolderTreeOwner() = default;
    // Empty: the tree starts at the Desktop.
    virtual const CShellPath& GetRootFolder() const = 0;
    // The folder sorted first among its siblings; empty for none.
    virtual const CShellPath& GetTopFolder() const = 0;
    virtual bool ShowTreeButtons() const = 0;
    virtual void BeginWaitCursor(bool on) = 0;
    // The user selected a folder in the tree.
    virtual void Navigate(const CShellPath& path, bool fire_path_change) = 0;
};

class CFolderTree final : private ITreeViewClient {
public:
    CFolderTree(IFolderTreeOwner& owner, ITreeView& view);
    ~CFolderTree() override;
    CFolderTree(const CFolderTree&) = delete;
    CFolderTree& operator=(const CFolderTree&) = delete;

    // Window creation: fills the tree.
    void Create();
    // Window destruction: deletes every item.
    void Destroy();
    // Rebuilds the whole tree from the root folder (or the Desktop).
    void FillTree();
    // Expands the tree down to the folder of `path` and selects its item; the current
    // selection is kept out of the comparison unless `always_select`.
    void ShowPath(const CShellPath& path, bool always_select);
    // Replaces the children of `parent` by the folder's present sub-folders.
    void FillChildren(const CShellPath& folder, TreeItem parent);

    ITreeView& view() { return m_view; }
    // The folder of an item, null for none.
    const CShellPath* PathOf(TreeItem item) const;
    bool IsDeleting() const { return m_deleting; }

private:
    void OnItemExpanding(TreeItem item, bool expand) override;
    void OnSelectionChanged(TreeItem item) override;

    // Inserts each sub-folder first among the parent's children; returns how many.
    int InsertSubFolders(const CShellPath& folder, TreeItem parent);
    TreeItem InsertFolder(TreeItem parent, CShellPath folder, bool has_children);
    void DeleteItemTree(TreeItem item);
    void SortChildren(TreeItem parent);
    int CompareTreeItems(std::uint64_t a, std::uint64_t b) const;

    IFolderTreeOwner& m_owner;
    ITreeView& m_view;
    bool m_deleting = false;
    std::uint64_t m_nextParam = 1;
    std::unordered_map<std::uint64_t, std::unique_ptr<CShellPath>> m_paths;
};

}  // namespace scopa
