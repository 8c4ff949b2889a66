#include "shell/headless_tree_view.h"

#include <algorithm>

namespace scopa {

std::vector<TreeItem>& CHeadlessTreeView::ChildrenOf(TreeItem parent) {
    return parent == kNoTreeItem ? m_topLevel : m_nodes.at(parent).children;
}

const std::vector<TreeItem>* CHeadlessTreeView::ChildrenOf(TreeItem parent) const {
    if (parent == kNoTreeItem) return &m_topLevel;
    auto found = m_nodes.find(parent);
    return found == m_nodes.end() ? nullptr : &found->second.children;
}

TreeItem CHeadlessTreeView::InsertFirst(TreeItem parent, const TreeItemData& data) {
    if (parent != kNoTreeItem && m_nodes.count(parent) == 0) return kNoTreeItem;
    TreeItem handle = m_nextHandle++;
    m_nodes[handle] = Node{data, parent, {}, false};
    std::vector<TreeItem>& siblings = ChildrenOf(parent);
    siblings.insert(siblings.begin(), handle);
    return handle;
}

void CHeadlessTreeView::DeleteItem(TreeItem item) {
    auto found = m_nodes.find(item);
    if (found == m_nodes.end()) return;
    std::vector<TreeItem> children = found->second.children;
    for (TreeItem child : children)
        DeleteItem(child);
    std::vector<TreeItem>& siblings = ChildrenOf(found->second.parent);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    m_nodes.erase(item);
    // A deleted selection leaves none; tree windows tell nobody of that.
    if (m_selection == item) m_selection = kNoTreeItem;
}

void CHeadlessTreeView::SetHasChildren(TreeItem item, bool has_children) {
    auto found = m_nodes.find(item);
    if (found != m_nodes.end()) found->second.data.has_children = has_children;
}

const TreeItemData* CHeadlessTreeView::GetItem(TreeItem item) const {
    auto found = m_nodes.find(item);
    return found == m_nodes.end() ? nullptr : &found->second.data;
}

TreeItem CHeadlessTreeView::GetRoot() const {
    return m_topLevel.empty() ? kNoTreeItem : m_topLevel.front();
}

TreeItem CHeadlessTreeView::GetFirstChild(TreeItem item) const {
    const std::vector<TreeItem>* children = ChildrenOf(item);
    return children == nullptr || children->empty() ? kNoTreeItem : children->front();
}

TreeItem CHeadlessTreeView::GetNextSibling(TreeItem item) const {
    auto found = m_nodes.find(item);
    if (found == m_nodes.end()) return kNoTreeItem;
    const std::vector<TreeItem>& siblings = *ChildrenOf(found->second.parent);
    auto at = std::find(siblings.begin(), siblings.end(), item);
    return at == siblings.end() || at + 1 == siblings.end() ? kNoTreeItem : *(at + 1);
}

TreeItem CHeadlessTreeView::GetParent(TreeItem item) const {
    auto found = m_nodes.find(item);
    return found == m_nodes.end() ? kNoTreeItem : found->second.parent;
}

TreeItem CHeadlessTreeView::GetNextVisible(TreeItem item) const {
    auto found = m_nodes.find(item);
    if (found == m_nodes.end()) return kNoTreeItem;
    if (found->second.expanded && !found->second.children.empty()) {
        return found->second.children.front();
    }
    for (TreeItem at = item; at != kNoTreeItem; at = GetParent(at)) {
        if (TreeItem next = GetNextSibling(at); next != kNoTreeItem) return next;
    }
    return kNoTreeItem;
}

void CHeadlessTreeView::SortChildren(
    TreeItem parent, const std::function<int(std::uint64_t, std::uint64_t)>& compare) {
    if (parent != kNoTreeItem && m_nodes.count(parent) == 0) return;
    std::vector<TreeItem>& children = ChildrenOf(parent);
    std::stable_sort(children.begin(), children.end(), [&](TreeItem a, TreeItem b) {
        return compare(m_nodes.at(a).data.param, m_nodes.at(b).data.param) < 0;
    });
}

void CHeadlessTreeView::Expand(TreeItem item, bool expand) {
    if (m_nodes.count(item) == 0) return;
    if (m_client != nullptr) m_client->OnItemExpanding(item, expand);
    // The client may have deleted the item while it was told.
    auto found = m_nodes.find(item);
    if (found != m_nodes.end()) found->second.expanded = expand;
}

bool CHeadlessTreeView::IsExpanded(TreeItem item) const {
    auto found = m_nodes.find(item);
    return found != m_nodes.end() && found->second.expanded;
}

void CHeadlessTreeView::Select(TreeItem item) {
    if (item != kNoTreeItem && m_nodes.count(item) == 0) return;
    if (item == m_selection) return;
    m_selection = item;
    if (m_client != nullptr) m_client->OnSelectionChanged(item);
}

void CHeadlessTreeView::EnsureVisible(TreeItem item) {
    for (TreeItem at = GetParent(item); at != kNoTreeItem; at = GetParent(at)) {
        if (!IsExpanded(at)) Expand(at, true);
    }
}

int CHeadlessTreeView::GetDepth(TreeItem item) const {
    int depth = 0;
    for (TreeItem at = GetParent(item); at != kNoTreeItem; at = GetParent(at))
        ++depth;
    return depth;
}

}  // namespace scopa
