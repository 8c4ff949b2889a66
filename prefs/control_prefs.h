// The control's preferences kept in the registry: per-folder view settings, the applications
// that want pictures dropped in a generic format, the drive where each labelled disk was last
// found, and the disk names of shortcut targets. The control owns one CControlPrefs, loads it
// at construction (LoadAll) and saves it at destruction (SaveAtDestruction). Every registry
// failure is silent: what cannot be read is left out, what cannot be written is dropped.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace scopa {

// Registry layout, all under HKEY_LOCAL_MACHINE except the general preferences.
inline constexpr const char* kPrefsRootKey = "SOFTWARE\\QOR\\System\\Scopar";
inline constexpr const char* kFolderPrefsKey = "SOFTWARE\\QOR\\System\\Scopar\\FolderPrefs";
inline constexpr const char* kAppDropPrefsKey = "SOFTWARE\\QOR\\System\\Scopar\\AppDropPrefs";
inline constexpr const char* kHashIncPrefsKey = "SOFTWARE\\QOR\\System\\Scopar\\HashIncPrefs";
inline constexpr const char* kShortCutsKey = "SOFTWARE\\QOR\\System\\Scopar\\ShortCuts";
// Under HKEY_CURRENT_USER.
inline constexpr const char* kGeneralPrefsKey = "SOFTWARE\\QOR\\System\\Scopar\\GeneralPrefs";
inline constexpr const char* kPreviewPosValue = "Preview Pos";

// Texts are read into and written from buffers of this many bytes, terminator included.
inline constexpr size_t kPrefTextBufferBytes = 260;
// The list style bit that turns folder preferences off.
inline constexpr int kListStyleNoFolderPrefs = 0x10;
// A number field of a FolderPref that holds this is not set.
inline constexpr int kFolderPrefUnset = -1;

struct FolderPref {
    int m_treeWidth = kFolderPrefUnset;
    int m_listStyle = kFolderPrefUnset;
    int m_sortOrder = kFolderPrefUnset;
    std::string m_defaultSelection;
};

class CControlPrefs {
public:
    // Folder path text (exact, case-sensitive) to its record.
    std::map<std::string, std::unique_ptr<FolderPref>> m_mapFolderPrefs;
    // Application name as stored; the value is always 0.
    std::map<std::string, int> m_mapAppDropPrefs;
    // Volume label to the drive text where that disk was last found.
    std::map<std::string, std::string> m_mapHashIncPrefs;
    // Upper-case full path of a shortcut file to the upper-case name of its target's disk.
    std::map<std::string, std::string> m_mapShortCuts;

    // Makes sure the preferences key exists (the control does this when constructed).
    static void EnsurePrefsKey();

    // The four loads in the control's order: folder, drop, hash/include, shortcut names.
    void LoadAll();
    void LoadFolderPrefs();
    void LoadAppDropPrefs();
    void LoadHashIncPrefs();
    void LoadShortCuts();

    // What the control does when destroyed: unless `list_style` has bit 0x10, store the
    // settings under the current folder's and the initial path's texts and save the folder
    // preferences, else discard them; then save the drop and hash/include preferences.
    void SaveAtDestruction(int tree_width, int list_style, int sort_order,
                           const std::string& current_folder_text,
                           const std::string& initial_path_text);

    // Creates the record of `key` if absent (default selection empty) and sets the numbers.
    void StoreFolderPref(const std::string& key, int tree_width, int list_style, int sort_order);
    // Copies each set field of `key`'s record to its output (`tree_width` may be null); true
    // when any was copied.
    bool ApplyFolderPref(const std::string& key, int* tree_width, int* list_style,
                         int* sort_order) const;
    // Writes every record as "Preference 1", "Preference 2", ... and frees them.
    void SaveFolderPrefs();
    void DiscardFolderPrefs();
    void SaveAppDropPrefs();
    void SaveHashIncPrefs();

    bool IsGenericDrop(const std::string& application) const;
    void AddGenericDrop(const std::string& application);
    // The drive text for `label`, or an empty text.
    std::string GetHashIncEntry(const std::string& label) const;
    void SetHashIncEntry(const std::string& label, const std::string& drive_text);
};

// Splits a ShortCuts value "shortcut path , disk name" at its first comma into the two parts,
// trimmed and upper-cased; false for a text without a comma.
bool ParseShortCutText(std::string_view text, std::string& shortcut_path, std::string& disk_name);

struct PreviewPos {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Reads "%d,%d,%d,%d" from `value_name` of `key_path` under `root` into `pos`. False only
// when the value exists and does not give four numbers; a missing key or value gives true
// and leaves `pos` as the caller set it.
bool ReadPreviewPos(HKEY root, const char* key_path, const char* value_name, PreviewPos& pos);
// Writes `pos` as "%d,%d,%d,%d", creating the key; failures are silent.
void WritePreviewPos(HKEY root, const char* key_path, const char* value_name,
                     const PreviewPos& pos);

}  // namespace scopa
