// A tree view without a window: items kept in memory in sibling order, with the expansion
// and selection notifications a tree window sends. Tests and the container use it.
#pragma once

#include <unordered_map>
#include <vector>

#include "shell/tree_view.h"

namespace scopa {

class CHeadlessTreeView final : public ITreeView {
public:
    void SetClient(ITreeViewClient* client) override { m_client = client; }
    void MoveTo(const Rect& bounds) override { m_bounds = bounds; }
    Rect GetBounds() const override { return m_bounds; }
    void SetButtons(bool shown) override { m_buttons = shown; }
    bool HasButtons() const override { return m_buttons; }

    TreeItem InsertFirst(TreeItem parent, const TreeItemData& data) override;
    void DeleteItem(TreeItem item) override;
    void SetHasChildren(TreeItem item, bool has_children) override;
    const TreeItemData* GetItem(TreeItem item) const override;

    TreeItem GetRoot() const override;
    TreeItem GetFirstChild(TreeItem item) const override;
    TreeItem GetNextSibling(TreeItem item) const override;
    TreeItem GetParent(TreeItem item) const override;
    TreeItem GetNextVisible(TreeItem item) const override;
    void SortChildren(TreeItem parent,
                      const std::function<int(std::uint64_t, std::uint64_t)>& compare) override;

    void Expand(TreeItem item, bool expand) override;
    bool IsExpanded(TreeItem item) const override;
    void Select(TreeItem item) override;
    TreeItem GetSelection() const override { return m_selection; }
    void EnsureVisible(TreeItem item) override;

    // The depth of an item: 0 for the top level.
    int GetDepth(TreeItem item) const;

private:
    struct Node {
        TreeItemData data;
        TreeItem parent = kNoTreeItem;
        std::vector<TreeItem> children;
        bool expanded = false;
    };
    std::vector<TreeItem>& ChildrenOf(TreeItem parent);
    const std::vector<TreeItem>* ChildrenOf(TreeItem parent) const;

    ITreeViewClient* m_client = nullptr;
    Rect m_bounds;
    bool m_buttons = true;
    std::unordered_map<TreeItem, Node> m_nodes;
    std::vector<TreeItem> m_topLevel;
    TreeItem m_nextHandle = 1;
    TreeItem m_selection = kNoTreeItem;
};

}  // namespace scopa
