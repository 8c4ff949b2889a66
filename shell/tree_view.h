// The tree view the folder tree talks to: items with a text, two icons, an expand button and
// a number of the client's, kept in sibling order. Expanding an item and changing the
// selection tell the client at once, as a tree window's notifications do, whoever caused
// them. The headless view keeps the items in memory; the widget's view is a real tree.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "imaging/geometry.h"

namespace scopa {

// Item handles; 0 stands for none (and for the invisible root as a parent).
using TreeItem = std::uint64_t;
inline constexpr TreeItem kNoTreeItem = 0;

struct TreeItemData {
    std::string text;
    int image = 0;           // icon index (IconIndexOfName)
    int selected_image = 0;  // icon index when selected
    bool has_children = false;
    std::uint64_t param = 0;  // the client's
};

class ITreeViewClient {
public:
    virtual ~ITreeViewClient() = default;
    // The item is about to expand (`expand`) or collapse.
    virtual void OnItemExpanding(TreeItem item, bool expand) = 0;
    virtual void OnSelectionChanged(TreeItem item) = 0;
};

class ITreeView {
public:
    virtual ~ITreeView() = default;
    virtual void SetClient(ITreeViewClient* client) = 0;
    virtual void MoveTo(const Rect& bounds) = 0;
    virtual Rect GetBounds() const = 0;
    // Expand buttons and the lines at the root, shown or not.
    virtual void SetButtons(bool shown) = 0;
    virtual bool HasButtons() const = 0;

    // Inserts the item first among its parent's children.
    virtual TreeItem InsertFirst(TreeItem parent, const TreeItemData& data) = 0;
    // Deletes the item and its children.
    virtual void DeleteItem(TreeItem item) = 0;
    virtual void SetHasChildren(TreeItem item, bool has_children) = 0;
    virtual const TreeItemData* GetItem(TreeItem item) const = 0;

    virtual TreeItem GetRoot() const = 0;  // the first top-level item
    virtual TreeItem GetFirstChild(TreeItem item) const = 0;
    virtual TreeItem GetNextSibling(TreeItem item) const = 0;
    virtual TreeItem GetParent(TreeItem item) const = 0;
    // The next item in display order among those shown (parents expanded).
    virtual TreeItem GetNextVisible(TreeItem item) const = 0;
    // Orders the children of `parent` (kNoTreeItem: the top level) by `compare` of their
    // params (<0: the first goes first), keeping equal ones in their order.
    virtual void SortChildren(TreeItem parent,
                              const std::function<int(std::uint64_t, std::uint64_t)>& compare) = 0;

    // Expands (telling the client first) or collapses.
    virtual void Expand(TreeItem item, bool expand) = 0;
    virtual bool IsExpanded(TreeItem item) const = 0;
    // Selects the item (kNoTreeItem clears); tells the client when the selection changed.
    virtual void Select(TreeItem item) = 0;
    virtual TreeItem GetSelection() const = 0;
    virtual void EnsureVisible(TreeItem item) = 0;
};

}  // namespace scopa
