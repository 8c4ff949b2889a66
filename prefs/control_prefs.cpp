#include "prefs/control_prefs.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace scopa {
namespace {

constexpr const char* kSortByValue = "Sort By";
constexpr const char* kListStyleValue = "List Style";
constexpr const char* kTreeWidthValue = "Tree Width";
constexpr const char* kDefaultSelectionValue = "Default Selection";
constexpr const char* kGenericDropText = "Generic";
constexpr size_t kPrefTextMaxBytes = kPrefTextBufferBytes - 1;

// Closes a key handle when the scope ends.
class KeyCloser {
public:
    explicit KeyCloser(HKEY key) : m_key(key) {}
    ~KeyCloser() { RegCloseKey(m_key); }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

private:
    HKEY m_key;
};

// The text in the first `size` bytes of `buffer`, up to its first NUL.
std::string TextOf(const char* buffer, size_t size) {
    return std::string(buffer, strnlen(buffer, size));
}

// Writes a named text value the way the preferences always have: a 260-byte buffer holding
// the text, its terminator and zero bytes. Longer texts and names are cut at a character
// boundary so they fit, since they could not be read back otherwise.
void SetTextValue(HKEY key, std::string_view name, std::string_view text) {
    char buffer[kPrefTextBufferBytes] = {};
    std::string_view cut = CutUtf8(text, kPrefTextMaxBytes);
    std::memcpy(buffer, cut.data(), cut.size());
    std::string value_name(CutUtf8(name, kPrefTextMaxBytes));
    RegSetValueExA(key, value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(buffer),
                   sizeof buffer);
}

void SetNumberValue(HKEY key, const char* name, int number) {
    DWORD value = static_cast<DWORD>(number);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// A 4-byte value, or kFolderPrefUnset when it cannot be read.
int ReadNumberValue(HKEY key, const char* name) {
    int32_t value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        size != sizeof value) {
        return kFolderPrefUnset;
    }
    return value;
}

// A text value read into a 260-byte buffer, or an empty text when it cannot be read.
std::string ReadTextValue(HKEY key, const char* name) {
    char buffer[kPrefTextBufferBytes] = {};
    DWORD size = sizeof buffer;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::string();
    }
    return TextOf(buffer, size);
}

// Calls `visit(name, data)` for each value of `key_path` under HKEY_LOCAL_MACHINE whose name
// and data fit 260-byte buffers; nothing when the key cannot be opened.
template <typename Visit>
void ForEachTextValue(const char* key_path, Visit visit) {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) return;
    KeyCloser closer(key);
    for (DWORD index = 0;; ++index) {
        char name[kPrefTextBufferBytes] = {};
        char data[kPrefTextBufferBytes] = {};
        DWORD name_size = sizeof name;
        DWORD data_size = sizeof data;
        DWORD type = REG_NONE;
        LONG status = RegEnumValueA(key, index, name, &name_size, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &data_size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            // An item that does not fit is skipped; anything else ends the enumeration.
            if (status == ERROR_MORE_DATA) continue;
            break;
        }
        visit(TextOf(name, name_size), TextOf(data, data_size));
    }
}

// One "%d" of scanf: optional white space, an optional sign and at least one digit. The
// value saturates at the int range.
bool ScanInt(std::string_view text, size_t& position, int& value) {
    while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position]))) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
    }
    size_t first_digit = position;
    long long magnitude = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
        if (magnitude <= INT_MAX) magnitude = magnitude * 10 + (text[position] - '0');
        ++position;
    }
    if (position == first_digit) return false;
    long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT_MAX) signed_value = INT_MAX;
    if (signed_value < INT_MIN) signed_value = INT_MIN;
    value = int(signed_value);
    return true;
}

// Parses "%d,%d,%d,%d"; false unless all four numbers are there.
bool ParsePreviewPos(std::string_view text, PreviewPos& pos) {
    int numbers[4] = {};
    size_t position = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (position >= text.size() || text[position] != ',') return false;
            ++position;
        }
        if (!ScanInt(text, position, numbers[i])) return false;
    }
    pos = PreviewPos{numbers[0], numbers[1], numbers[2], numbers[3]};
    return true;
}

}  // namespace

void CControlPrefs::EnsurePrefsKey() {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kPrefsRootKey, &key) == ERROR_SUCCESS) RegCloseKey(key);
}

void CControlPrefs::LoadAll() {
    LoadFolderPrefs();
    LoadAppDropPrefs();
    LoadHashIncPrefs();
    LoadShortCuts();
}

void CControlPrefs::LoadFolderPrefs() {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kFolderPrefsKey, &key) != ERROR_SUCCESS) return;
    KeyCloser closer(key);
    for (DWORD index = 0;; ++index) {
        char sub_key_name[kPrefTextBufferBytes] = {};
        DWORD name_size = sizeof sub_key_name;
        LONG status = RegEnumKeyExA(key, index, sub_key_name, &name_size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            if (status == ERROR_MORE_DATA) continue;
            break;
        }
        char path[kPrefTextBufferBytes] = {};
        LONG path_size = sizeof path;
        // A sub-key without a readable default value names no folder and is skipped.
        if (RegQueryValueA(key, sub_key_name, path, &path_size) != ERROR_SUCCESS) continue;
        HKEY sub_key = nullptr;
        if (RegOpenKeyA(key, sub_key_name, &sub_key) != ERROR_SUCCESS) continue;
        auto record = std::make_unique<FolderPref>();
        record->m_sortOrder = ReadNumberValue(sub_key, kSortByValue);
        record->m_listStyle = ReadNumberValue(sub_key, kListStyleValue);
        record->m_treeWidth = ReadNumberValue(sub_key, kTreeWidthValue);
        record->m_defaultSelection = ReadTextValue(sub_key, kDefaultSelectionValue);
        // A later sub-key with the same path replaces the earlier record.
        m_mapFolderPrefs[TextOf(path, sizeof path)] = std::move(record);
        RegCloseKey(sub_key);
    }
}

void CControlPrefs::LoadAppDropPrefs() {
    ForEachTextValue(kAppDropPrefsKey,
                     [this](std::string name, std::string) { m_mapAppDropPrefs[name] = 0; });
}

void CControlPrefs::LoadHashIncPrefs() {
    ForEachTextValue(kHashIncPrefsKey, [this](std::string name, std::string data) {
        m_mapHashIncPrefs[name] = std::move(data);
    });
}

void CControlPrefs::LoadShortCuts() {
    ForEachTextValue(kShortCutsKey, [this](std::string, std::string data) {
        std::string shortcut_path;
        std::string disk_name;
        if (ParseShortCutText(data, shortcut_path, disk_name)) {
            m_mapShortCuts[shortcut_path] = std::move(disk_name);
        }
    });
}

void CControlPrefs::SaveAtDestruction(int tree_width, int list_style, int sort_order,
                                      const std::string& current_folder_text,
                                      const std::string& initial_path_text) {
    if ((list_style & kListStyleNoFolderPrefs) == 0) {
        StoreFolderPref(current_folder_text, tree_width, list_style, sort_order);
        StoreFolderPref(initial_path_text, tree_width, list_style, sort_order);
        SaveFolderPrefs();
    } else {
        DiscardFolderPrefs();
    }
    SaveAppDropPrefs();
    SaveHashIncPrefs();
}

void CControlPrefs::StoreFolderPref(const std::string& key, int tree_width, int list_style,
                                    int sort_order) {
    std::unique_ptr<FolderPref>& record = m_mapFolderPrefs[key];
    if (!record) record = std::make_unique<FolderPref>();
    record->m_treeWidth = tree_width;
    record->m_listStyle = list_style;
    record->m_sortOrder = sort_order;
}

bool CControlPrefs::ApplyFolderPref(const std::string& key, int* tree_width, int* list_style,
                                    int* sort_order) const {
    auto found = m_mapFolderPrefs.find(key);
    if (found == m_mapFolderPrefs.end() || !found->second) return false;
    const FolderPref& record = *found->second;
    bool applied = false;
    auto copy = [&applied](int field, int* output) {
        if (field == kFolderPrefUnset || output == nullptr) return;
        *output = field;
        applied = true;
    };
    copy(record.m_treeWidth, tree_width);
    copy(record.m_listStyle, list_style);
    copy(record.m_sortOrder, sort_order);
    return applied;
}

void CControlPrefs::SaveFolderPrefs() {
    HKEY key = nullptr;
    // When the key cannot be made the records stay in memory until the map goes.
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kFolderPrefsKey, &key) != ERROR_SUCCESS) return;
    int number = 1;
    for (auto& [path, record] : m_mapFolderPrefs) {
        char sub_key_name[32];
        std::snprintf(sub_key_name, sizeof sub_key_name, "Preference %d", number++);
        HKEY sub_key = nullptr;
        if (record && RegCreateKeyA(key, sub_key_name, &sub_key) == ERROR_SUCCESS) {
            // The path is written with its own length; one over 259 bytes will not load back.
            RegSetValueA(sub_key, nullptr, REG_SZ, path.c_str(), DWORD(path.size() + 1));
            SetNumberValue(sub_key, kSortByValue, record->m_sortOrder);
            SetNumberValue(sub_key, kListStyleValue, record->m_listStyle);
            SetNumberValue(sub_key, kTreeWidthValue, record->m_treeWidth);
            SetTextValue(sub_key, kDefaultSelectionValue, record->m_defaultSelection);
            RegCloseKey(sub_key);
        }
        record.reset();
    }
    m_mapFolderPrefs.clear();
    RegCloseKey(key);
}

void CControlPrefs::DiscardFolderPrefs() {
    m_mapFolderPrefs.clear();
}

void CControlPrefs::SaveAppDropPrefs() {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kAppDropPrefsKey, &key) != ERROR_SUCCESS) return;
    for (const auto& [application, unused] : m_mapAppDropPrefs) {
        SetTextValue(key, application, kGenericDropText);
    }
    RegCloseKey(key);
}

void CControlPrefs::SaveHashIncPrefs() {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kHashIncPrefsKey, &key) != ERROR_SUCCESS) return;
    for (const auto& [label, drive_text] : m_mapHashIncPrefs)
        SetTextValue(key, label, drive_text);
    RegCloseKey(key);
}

bool CControlPrefs::IsGenericDrop(const std::string& application) const {
    return m_mapAppDropPrefs.count(application) != 0;
}

void CControlPrefs::AddGenericDrop(const std::string& application) {
    m_mapAppDropPrefs[application] = 0;
}

std::string CControlPrefs::GetHashIncEntry(const std::string& label) const {
    auto found = m_mapHashIncPrefs.find(label);
    return found == m_mapHashIncPrefs.end() ? std::string() : found->second;
}

void CControlPrefs::SetHashIncEntry(const std::string& label, const std::string& drive_text) {
    m_mapHashIncPrefs[label] = drive_text;
}

bool ParseShortCutText(std::string_view text, std::string& shortcut_path, std::string& disk_name) {
    size_t comma = text.find(',');
    if (comma == std::string_view::npos) return false;
    shortcut_path = ToUpperAscii(TrimWhiteSpace(text.substr(0, comma)));
    disk_name = ToUpperAscii(TrimWhiteSpace(text.substr(comma + 1)));
    return true;
}

bool ReadPreviewPos(HKEY root, const char* key_path, const char* value_name, PreviewPos& pos) {
    HKEY key = nullptr;
    if (RegOpenKeyA(root, key_path, &key) != ERROR_SUCCESS) return true;
    KeyCloser closer(key);
    char buffer[kPrefTextBufferBytes] = {};
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key, value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS) {
        return true;
    }
    return ParsePreviewPos(TextOf(buffer, size), pos);
}

void WritePreviewPos(HKEY root, const char* key_path, const char* value_name,
                     const PreviewPos& pos) {
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", pos.left, pos.top, pos.right, pos.bottom);
    HKEY key = nullptr;
    if (RegCreateKeyA(root, key_path, &key) != ERROR_SUCCESS) return;
    SetTextValue(key, value_name, text);
    RegCloseKey(key);
}

}  // namespace scopa
