#include "shell/folder_tree.h"

#include "platform/shell_namespace.h"
#include "platform/text.h"

namespace scopa {
namespace {

// Item texts are cut as the tree window's 260-byte buffers cut them.
constexpr size_t kMaxItemTextBytes = 259;

CShellPath DesktopPath() {
    static const std::uint8_t kDesktopList[2] = {0, 0};
    return CShellPath(kDesktopList);
}

// A wait cursor for the length of a scope.
class WaitCursor {
public:
    explicit WaitCursor(IFolderTreeOwner& owner) : m_owner(owner) { m_owner.BeginWaitCursor(true); }
    ~WaitCursor() { m_owner.BeginWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IFolderTreeOwner& m_owner;
};

}  // namespace

CFolderTree::CFolderTree(IFolderTreeOwner& owner, ITreeView& view) : m_owner(owner), m_view(view) {
    m_view.SetClient(this);
}

CFolderTree::~CFolderTree() {
    m_view.SetClient(nullptr);
}

void CFolderTree::Create() {
    m_deleting = false;
    FillTree();
}

void CFolderTree::Destroy() {
    while (TreeItem root = m_view.GetRoot())
        DeleteItemTree(root);
}

const CShellPath* CFolderTree::PathOf(TreeItem item) const {
    const TreeItemData* data = m_view.GetItem(item);
    if (data == nullptr) return nullptr;
    auto found = m_paths.find(data->param);
    return found == m_paths.end() ? nullptr : found->second.get();
}

void CFolderTree::DeleteItemTree(TreeItem item) {
    while (TreeItem child = m_view.GetFirstChild(item))
        DeleteItemTree(child);
    if (const TreeItemData* data = m_view.GetItem(item)) m_paths.erase(data->param);
    m_deleting = true;
    m_view.DeleteItem(item);
    m_deleting = false;
}

TreeItem CFolderTree::InsertFolder(TreeItem parent, CShellPath folder, bool has_children) {
    TreeItemData data;
    data.text = std::string(CutUtf8(folder.GetDisplayName(), kMaxItemTextBytes));
    data.image = folder.GetIconIndex(kShgfiSmallIcon);
    data.selected_image = folder.GetIconIndex(kShgfiSmallIcon | kShgfiOpenIcon);
    data.has_children = has_children;
    data.param = m_nextParam++;
    m_paths[data.param] = std::make_unique<CShellPath>(std::move(folder));
    return m_view.InsertFirst(parent, data);
}

void CFolderTree::FillTree() {
    WaitCursor wait(m_owner);
    if (m_owner.ShowTreeButtons() != m_view.HasButtons()) {
        m_view.SetButtons(m_owner.ShowTreeButtons());
    }
    while (TreeItem root = m_view.GetRoot())
        DeleteItemTree(root);
    const CShellPath& root_folder = m_owner.GetRootFolder();
    if (!root_folder.IsEmpty()) {
        FillChildren(root_folder, kNoTreeItem);
    } else {
        TreeItem desktop = InsertFolder(kNoTreeItem, DesktopPath(), true);
        m_view.Expand(desktop, true);
    }
    SortChildren(kNoTreeItem);
}

void CFolderTree::FillChildren(const CShellPath& folder, TreeItem parent) {
    WaitCursor wait(m_owner);
    while (TreeItem child = m_view.GetFirstChild(parent))
        DeleteItemTree(child);
    if (InsertSubFolders(folder, parent) == 0 && parent != kNoTreeItem) {
        m_view.SetHasChildren(parent, false);
    }
}

int CFolderTree::InsertSubFolders(const CShellPath& folder, TreeItem parent) {
    WaitCursor wait(m_owner);
    int count = 0;
    CShellPath enumerating = folder;
    CShellPath child;
    for (bool more = enumerating.FirstSubFolder(child); more; more = enumerating.NextChild(child)) {
        bool has_children = child.HasSubFolders();
        InsertFolder(parent, child, has_children);
        ++count;
    }
    return count;
}

void CFolderTree::SortChildren(TreeItem parent) {
    m_view.SortChildren(
        parent, [this](std::uint64_t a, std::uint64_t b) { return CompareTreeItems(a, b); });
}

int CFolderTree::CompareTreeItems(std::uint64_t a, std::uint64_t b) const {
    auto path_a = m_paths.find(a);
    auto path_b = m_paths.find(b);
    if (path_a == m_paths.end() || path_b == m_paths.end()) return 0;
    const CShellPath& top = m_owner.GetTopFolder();
    if (!top.IsEmpty()) {
        if (CShellPath::Compare(*path_a->second, top) == 0) return -1;
        if (CShellPath::Compare(*path_b->second, top) == 0) return 1;
    }
    return CShellPath::Compare(*path_a->second, *path_b->second);
}

void CFolderTree::OnItemExpanding(TreeItem item, bool expand) {
    if (m_deleting || !expand) return;
    const CShellPath* path = PathOf(item);
    if (path == nullptr) return;
    // Filling replaces the item's children, not the item: the copy outlives them.
    CShellPath folder = *path;
    FillChildren(folder, item);
    SortChildren(item);
}

void CFolderTree::OnSelectionChanged(TreeItem item) {
    if (m_deleting) return;
    if (const CShellPath* path = PathOf(item)) {
        CShellPath target = *path;
        m_owner.Navigate(target, true);
    }
}

void CFolderTree::ShowPath(const CShellPath& path, bool always_select) {
    if (m_deleting) return;
    TreeItem remembered = always_select ? kNoTreeItem : m_view.GetSelection();
    TreeItem item = m_view.GetRoot();
    const CShellPath& root_folder = m_owner.GetRootFolder();
    if (root_folder.IsEmpty() && item != kNoTreeItem) {
        if (!m_view.IsExpanded(item)) m_view.Expand(item, true);
        item = m_view.GetNextVisible(item);
    }
    if (item == kNoTreeItem) return;
    CShellPath folder;
    if (!path.ResolveFolder(folder) || !folder.HasIdList()) {
        m_view.Select(kNoTreeItem);
        return;
    }
    size_t level = root_folder.GetDepth() + 1;
    size_t target = folder.GetDepth();
    bool found_last = false;
    CShellPath ancestor;
    while (folder.GetAncestor(level, ancestor)) {
        while (item != kNoTreeItem) {
            const CShellPath* item_path = PathOf(item);
            if (item_path != nullptr && CShellPath::Compare(*item_path, ancestor) == 0) break;
            item = m_view.GetNextVisible(item);
        }
        if (item == kNoTreeItem) break;
        if (!m_view.IsExpanded(item) && level + 1 <= target) m_view.Expand(item, true);
        found_last = level == target;
        ++level;
    }
    // A folder at or above the top level has no item of its own: nothing is selected.
    if (item == kNoTreeItem || !found_last) {
        m_view.Select(kNoTreeItem);
    } else if (item != remembered) {
        m_view.Select(item);
    }
}

}  // namespace scopa
