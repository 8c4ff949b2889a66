#include "widget/qt_tree_view.h"

#include <QHeaderView>
#include <algorithm>
#include <vector>

#include "widget/theme_icons.h"

namespace scopa {
namespace {
constexpr int kHandleRole = Qt::UserRole + 1;
}  // namespace

CQtTreeView::CQtTreeView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName("folderTree");
    setAccessibleName("Folders");
    setHeaderHidden(true);
    setColumnCount(1);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    // Deep branches scroll sideways instead of cutting their names short.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (!m_expandingByRequest && m_client != nullptr)
            m_client->OnItemExpanding(HandleOf(item), true);
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (!m_expandingByRequest && m_client != nullptr)
            m_client->OnItemExpanding(HandleOf(item), false);
    });
    connect(this, &QTreeWidget::currentItemChanged, this, &CQtTreeView::OnCurrentChanged);
}

CQtTreeView::~CQtTreeView() {
    m_client = nullptr;
    blockSignals(true);
}

void CQtTreeView::MoveTo(const Rect& bounds) {
    setGeometry(bounds.left, bounds.top, bounds.Width(), bounds.Height());
    setVisible(bounds.Width() > 0);
}

Rect CQtTreeView::GetBounds() const {
    if (!isVisibleTo(parentWidget())) return {0, 0, 0, 0};
    QRect g = geometry();
    return {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

void CQtTreeView::SetButtons(bool shown) {
    m_buttons = shown;
    setRootIsDecorated(shown);
}

TreeItem CQtTreeView::HandleOf(const QTreeWidgetItem* item) const {
    return item != nullptr ? item->data(0, kHandleRole).toULongLong() : kNoTreeItem;
}

QTreeWidgetItem* CQtTreeView::ItemOf(TreeItem item) const {
    auto found = m_entries.find(item);
    return found != m_entries.end() ? found->second.item : nullptr;
}

void CQtTreeView::ApplyIcon(QTreeWidgetItem* item, const TreeItemData& item_data, bool selected) {
    item->setIcon(0, ThemeIconOfIndex(selected ? item_data.selected_image : item_data.image));
}

TreeItem CQtTreeView::InsertFirst(TreeItem parent, const TreeItemData& item_data) {
    auto* item = new QTreeWidgetItem();
    TreeItem handle = m_nextHandle++;
    item->setText(0, QString::fromStdString(item_data.text));
    item->setData(0, kHandleRole, QVariant::fromValue<qulonglong>(handle));
    item->setChildIndicatorPolicy(item_data.has_children
                                      ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    ApplyIcon(item, item_data, false);
    m_entries[handle] = {item_data, item};
    if (QTreeWidgetItem* parent_item = ItemOf(parent)) {
        parent_item->insertChild(0, item);
    } else {
        insertTopLevelItem(0, item);
    }
    return handle;
}

void CQtTreeView::ForgetSubtree(QTreeWidgetItem* item) {
    for (int i = 0; i < item->childCount(); ++i)
        ForgetSubtree(item->child(i));
    m_entries.erase(HandleOf(item));
}

void CQtTreeView::DeleteItem(TreeItem item) {
    QTreeWidgetItem* qt_item = ItemOf(item);
    if (qt_item == nullptr) return;
    ForgetSubtree(qt_item);
    delete qt_item;
}

void CQtTreeView::SetHasChildren(TreeItem item, bool has_children) {
    auto found = m_entries.find(item);
    if (found == m_entries.end()) return;
    found->second.data.has_children = has_children;
    found->second.item->setChildIndicatorPolicy(
        has_children ? QTreeWidgetItem::ShowIndicator
                     : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

const TreeItemData* CQtTreeView::GetItem(TreeItem item) const {
    auto found = m_entries.find(item);
    return found != m_entries.end() ? &found->second.data : nullptr;
}

TreeItem CQtTreeView::GetRoot() const {
    return HandleOf(topLevelItem(0));
}

TreeItem CQtTreeView::GetFirstChild(TreeItem item) const {
    if (item == kNoTreeItem) return GetRoot();
    QTreeWidgetItem* qt_item = ItemOf(item);
    return qt_item != nullptr ? HandleOf(qt_item->child(0)) : kNoTreeItem;
}

TreeItem CQtTreeView::GetNextSibling(TreeItem item) const {
    QTreeWidgetItem* qt_item = ItemOf(item);
    if (qt_item == nullptr) return kNoTreeItem;
    QTreeWidgetItem* parent = qt_item->parent();
    if (parent == nullptr) return HandleOf(topLevelItem(indexOfTopLevelItem(qt_item) + 1));
    return HandleOf(parent->child(parent->indexOfChild(qt_item) + 1));
}

TreeItem CQtTreeView::GetParent(TreeItem item) const {
    QTreeWidgetItem* qt_item = ItemOf(item);
    return qt_item != nullptr ? HandleOf(qt_item->parent()) : kNoTreeItem;
}

TreeItem CQtTreeView::GetNextVisible(TreeItem item) const {
    QTreeWidgetItem* qt_item = ItemOf(item);
    if (qt_item == nullptr) return kNoTreeItem;
    if (qt_item->isExpanded() && qt_item->childCount() > 0) return HandleOf(qt_item->child(0));
    for (QTreeWidgetItem* at = qt_item; at != nullptr; at = at->parent()) {
        QTreeWidgetItem* parent = at->parent();
        int index = parent != nullptr ? parent->indexOfChild(at) : indexOfTopLevelItem(at);
        QTreeWidgetItem* next =
            parent != nullptr ? parent->child(index + 1) : topLevelItem(index + 1);
        if (next != nullptr) return HandleOf(next);
    }
    return kNoTreeItem;
}

void CQtTreeView::SortChildren(TreeItem parent,
                               const std::function<int(std::uint64_t, std::uint64_t)>& compare) {
    QTreeWidgetItem* parent_item = ItemOf(parent);
    if (parent != kNoTreeItem && parent_item == nullptr) return;
    QTreeWidgetItem* current = currentItem();
    QSignalBlocker blocker(this);
    // Taking items out of the view collapses them: remember what was open below.
    std::vector<QTreeWidgetItem*> expanded;
    std::function<void(QTreeWidgetItem*)> note = [&](QTreeWidgetItem* item) {
        if (item->isExpanded()) expanded.push_back(item);
        for (int i = 0; i < item->childCount(); ++i)
            note(item->child(i));
    };
    int count = parent_item != nullptr ? parent_item->childCount() : topLevelItemCount();
    for (int i = 0; i < count; ++i)
        note(parent_item != nullptr ? parent_item->child(i) : topLevelItem(i));
    QList<QTreeWidgetItem*> children =
        parent_item != nullptr ? parent_item->takeChildren() : QList<QTreeWidgetItem*>();
    if (parent_item == nullptr) {
        while (topLevelItemCount() > 0)
            children.append(takeTopLevelItem(0));
    }
    auto param_of = [this](QTreeWidgetItem* item) {
        auto found = m_entries.find(HandleOf(item));
        return found != m_entries.end() ? found->second.data.param : 0;
    };
    std::stable_sort(children.begin(), children.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return compare(param_of(a), param_of(b)) < 0;
    });
    if (parent_item != nullptr) {
        parent_item->addChildren(children);
    } else {
        addTopLevelItems(children);
    }
    m_expandingByRequest = true;
    for (QTreeWidgetItem* item : expanded)
        item->setExpanded(true);
    m_expandingByRequest = false;
    if (current != nullptr) setCurrentItem(current);
}

void CQtTreeView::Expand(TreeItem item, bool expand) {
    QTreeWidgetItem* qt_item = ItemOf(item);
    if (qt_item == nullptr) return;
    if (m_client != nullptr) m_client->OnItemExpanding(item, expand);
    qt_item = ItemOf(item);  // the client may have rebuilt the branch, not the item
    if (qt_item == nullptr) return;
    m_expandingByRequest = true;
    qt_item->setExpanded(expand);
    m_expandingByRequest = false;
}

bool CQtTreeView::IsExpanded(TreeItem item) const {
    QTreeWidgetItem* qt_item = ItemOf(item);
    return qt_item != nullptr && qt_item->isExpanded();
}

void CQtTreeView::Select(TreeItem item) {
    QTreeWidgetItem* qt_item = ItemOf(item);
    if (qt_item == currentItem()) return;
    setCurrentItem(qt_item);
    if (qt_item == nullptr) clearSelection();
}

TreeItem CQtTreeView::GetSelection() const {
    return HandleOf(currentItem());
}

void CQtTreeView::OnCurrentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (previous != nullptr) {
        if (const TreeItemData* previous_data = GetItem(HandleOf(previous)))
            ApplyIcon(previous, *previous_data, false);
    }
    if (current != nullptr) {
        if (const TreeItemData* current_data = GetItem(HandleOf(current)))
            ApplyIcon(current, *current_data, true);
    }
    if (m_client != nullptr) m_client->OnSelectionChanged(HandleOf(current));
}

void CQtTreeView::EnsureVisible(TreeItem item) {
    if (QTreeWidgetItem* qt_item = ItemOf(item)) scrollToItem(qt_item);
}

}  // namespace scopa
