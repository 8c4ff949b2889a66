// What the control does with the selected list item: accept it (OK), preview it, open it
// for editing, and the questions the host asks before enabling its buttons.
#include "control/scopa_ctrl.h"
#include "imaging/export.h"
#include "imaging/picture.h"
#include "list/population.h"
#include "platform/launch.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/user_interface.h"
#include "shell/shortcuts.h"

namespace scopa {
namespace {

// The photo editor's command, under HKEY_LOCAL_MACHINE.
constexpr const char* kPhotoEditorKey = "SOFTWARE\\QOR\\Utilities\\General\\TOLA";
constexpr size_t kPhotoEditorBufferBytes = 260;
constexpr const char* kEditCaption = "Edit";  // string 227
constexpr const char* kNoApplicationMessage =
    "There is no application associated with this type of file.";  // string 228
constexpr const char* kExportFailedMessage =
    "An error occurred whilst exporting the picture.\n\nEnsure that there is sufficient free "
    "disk space and try again.";  // string 226

std::string ReadPhotoEditorCommand() {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kPhotoEditorKey, &key) != ERROR_SUCCESS) return {};
    char buffer[kPhotoEditorBufferBytes] = {};
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return {};
    buffer[sizeof(buffer) - 1] = '\0';
    return buffer;
}

bool IsPictureKind(ListItemKind kind) {
    return kind == ListItemKind::Picture || kind == ListItemKind::Custom;
}

}  // namespace

bool CScopaCtrl::QryEnableOk() const {
    CShellPath path;
    std::string shortcut_file;
    return m_wndList.GetSelectedItemPaths(path, shortcut_file);
}

void CScopaCtrl::OkPressed() {
    CShellPath item;
    std::string shortcut_file;
    if (!m_wndList.GetSelectedItemPaths(item, shortcut_file)) return;
    if (!item.IsFolder()) {
        if (m_events != nullptr) m_events->OnOpen();
        return;
    }
    const std::string target = item.GetPathText();
    const std::string here = m_currentFolder.GetPathText();
    if (!shortcut_file.empty() && !target.empty() && !here.empty()) {
        m_mapShortcutReturn[target] = here;
    }
    if (!CheckShortcutTarget(target, shortcut_file, m_prefs.m_mapShortCuts)) return;
    Navigate(item, true);
    FireNavigate();
}

bool CScopaCtrl::QryPreviewListItem() const {
    const CListItem* item = m_wndList.GetSelectedItem();
    return item != nullptr && IsPictureKind(item->GetKind());
}

void CScopaCtrl::PreviewListItem() {
    if (const CListItem* item = m_wndList.GetSelectedItem()) m_host.ShowPreviewWindow(item->path());
}

bool CScopaCtrl::QryOpenEditListItem() const {
    const CListItem* item = m_wndList.GetSelectedItem();
    return item != nullptr && item->GetKind() != ListItemKind::Folder;
}

void CScopaCtrl::OpenEditListItem() {
    if (const CListItem* item = m_wndList.GetSelectedItem()) {
        CShellPath path = item->path();
        LaunchItem(path);
    }
}

bool CScopaCtrl::QryEnableExport() const {
    const CListItem* item = m_wndList.GetSelectedItem();
    return item != nullptr && !item->path().IsFolder();
}

std::string PathWithExportExtension(const std::string& path, const std::string& format_id) {
    const std::string extension = "." + format_id;
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    // Only the last four characters count: "x.jpeg" as JPG becomes "x.jpeg.JPG".
    if (has_extension && EndsWithNoCase(path, extension)) return path;
    return path + extension;
}

void CScopaCtrl::ExportPressed() {
    const CListItem* item = m_wndList.GetSelectedItem();
    if (item == nullptr) return;
    const CShellPath source = item->path();
    ExportRequest request{source.GetPathText(), source.GetDisplayName(), m_strExportFolder,
                          m_resolution};
    ExportChoice choice;
    if (!m_host.ChooseExportDestination(request, choice)) return;
    const std::string destination = PathWithExportExtension(choice.path, choice.format_id);
    if (size_t slash = destination.rfind('/'); slash != std::string::npos) {
        m_strExportFolder = destination.substr(0, slash);
    }
    BeginWaitCursor(true);
    bool exported = ExportPicture(nullptr, destination, choice.format_id, choice.width_px,
                                  choice.height_px, source.GetPathText(), choice.resolution_index);
    BeginWaitCursor(false);
    if (!exported) {
        ShowMessage(kExportFailedMessage, {}, MessageIcon::Exclamation);
        return;
    }
    // An export into the shown folder is listed at once.
    if (EqualsNoCase(source.GetFolderPart(), m_strExportFolder)) {
        CShellPath shown = m_wndList.model().GetShownFolder();
        m_wndList.RequestRefresh(shown, true);
        // The refill runs now, so the item selected again is one of the new list's.
        while (m_wndList.IsRefreshPending())
            m_wndList.DoPendingRefresh();
        m_wndList.SelectItemByPath(source);
    }
}

bool CScopaCtrl::LaunchItem(const CShellPath& path) {
    const std::string text = path.GetPathText();
    const std::string editor = ReadPhotoEditorCommand();
    bool launched = false;
    // The editor's text is split into its program and arguments, and the item is one more
    // argument: no shell reads the file name.
    std::vector<std::string> argv;
    if (!editor.empty() && IsPictureOfKind(text, std::string(kFilterBitmaps), false) &&
        SplitCommandWords(editor, argv)) {
        argv.push_back(text);
        launched = m_host.StartProgram(argv);
    }
    if (!launched) launched = m_host.OpenWithApplication(text);
    if (!launched) ShowMessage(kNoApplicationMessage, kEditCaption, MessageIcon::Exclamation);
    return launched;
}

}  // namespace scopa
