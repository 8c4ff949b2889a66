// The folder tree's view in Qt: a QTreeWidget whose items carry the handles the tree logic
// uses. Expanding an item (by the user or by the logic) and changing the current item tell
// the client, as a tree window's notifications do.
#pragma once

#include <QTreeWidget>
#include <unordered_map>

#include "shell/tree_view.h"

namespace scopa {

class CQtTreeView final : public QTreeWidget, public ITreeView {
    Q_OBJECT
public:
    explicit CQtTreeView(QWidget* parent);
    ~CQtTreeView() override;

    void SetClient(ITreeViewClient* client) override { m_client = client; }
    void MoveTo(const Rect& bounds) override;
    Rect GetBounds() const override;
    void SetButtons(bool shown) override;
    bool HasButtons() const override { return m_buttons; }

    TreeItem InsertFirst(TreeItem parent, const TreeItemData& item_data) override;
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
    TreeItem GetSelection() const override;
    void EnsureVisible(TreeItem item) override;

    // The Qt item of a handle (null for none), and back.
    QTreeWidgetItem* ItemOf(TreeItem item) const;
    TreeItem HandleOf(const QTreeWidgetItem* item) const;

private:
    struct Entry {
        TreeItemData data;
        QTreeWidgetItem* item = nullptr;
    };
    void ForgetSubtree(QTreeWidgetItem* item);
    void ApplyIcon(QTreeWidgetItem* item, const TreeItemData& item_data, bool selected);
    void OnCurrentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);

    ITreeViewClient* m_client = nullptr;
    bool m_buttons = true;
    // Expansions the logic asked for tell the client once, before the view expands.
    bool m_expandingByRequest = false;
    std::unordered_map<TreeItem, Entry> m_entries;
    TreeItem m_nextHandle = 1;
};

}  // namespace scopa
