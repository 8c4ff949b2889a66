// The control's place: the selected path and the current folder, changed only by Navigate,
// and the host methods that read and set them.
#include "control/control_guards.h"
#include "control/scopa_ctrl.h"

namespace scopa {
namespace {
// A namespace path with a class id: the host gets the display name instead of the text.
constexpr std::string_view kClassIdPathMarker = "::{";
}  // namespace

void CScopaCtrl::Navigate(const CShellPath& path, bool fire_path_change) {
    if (ControlGuards::navigating) return;
    NavigationGuard guard;
    // The path may be a member that the list's selection handling overwrites.
    CShellPath target = path;
    m_selectedPath = target;
    m_wndList.view().BringToTop();
    CShellPath folder;
    if (target.ResolveFolder(folder)) m_currentFolder = folder;
    if (!m_currentFolder.IsEmpty()) m_wndList.RequestRefresh(CShellPath(m_currentFolder), false);
    if (m_nTreeWidth > kCollapsedTreeWidthPx && m_bTreeEnabled) m_wndTree.ShowPath(target, true);
    m_wndList.SelectItemByPath(target);
    if (fire_path_change) FirePathChange();
}

void CScopaCtrl::SetPath(std::string_view path) {
    std::string text = ConvertAutomationString(path);
    if (m_strInitialPath.empty()) {
        m_strInitialPath = text;
        if ((m_nListStyle & kListStyleNoFolderPrefs) == 0) {
            m_prefs.ApplyFolderPref(text, m_bFixedTreeWidth ? nullptr : &m_nTreeWidth,
                                    &m_nListStyle, &m_nSortOrder);
        }
        RecalcLayout();
    }
    Navigate(CShellPath(text), false);
}

void CScopaCtrl::GetPath(std::string& path) const {
    const std::string& text = m_selectedPath.GetPathText();
    path =
        text.find(kClassIdPathMarker) != std::string::npos ? m_selectedPath.GetDisplayName() : text;
}

void CScopaCtrl::GetFolder(std::string& folder) const {
    folder = m_currentFolder.GetPathText();
}

bool CScopaCtrl::QryGoParent() const {
    return m_currentFolder.GetDepth() >= 1;
}

void CScopaCtrl::GoParent() {
    const std::string& key = m_selectedPath.GetPathText();
    if (!key.empty()) {
        auto found = m_mapShortcutReturn.find(key);
        if (found != m_mapShortcutReturn.end()) {
            Navigate(CShellPath(found->second), true);
            return;
        }
    }
    size_t depth = m_currentFolder.GetDepth();
    if (depth == 0) return;
    CShellPath parent;
    if (m_currentFolder.GetAncestor(depth - 1, parent)) Navigate(parent, true);
}

}  // namespace scopa
