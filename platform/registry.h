// The registry: a store of keys and values that persists between runs, offered with the
// calling conventions of the Windows registry functions because the preference, cache and
// population code is written against them.
//
// Two hives exist. HKEY_LOCAL_MACHINE is kept in "machine.reg" and HKEY_CURRENT_USER in
// "user.reg", both REGEDIT4 text files (the form the Windows registry editor exports), in
// the folder named by SCOPA_REGISTRY_DIR, else $XDG_CONFIG_HOME/scopa, else ~/.config/scopa.
// The folder is looked up when a hive is first used after start-up or RegistryResetStore().
//
// Rules shared by every call:
// - Key and value names compare case-insensitively on ASCII letters only and keep the case
//   in which they were first created. A key path is split at backslashes; empty parts are
//   skipped, so "A\\B\\" names the same key as "A\\B".
// - Sub-keys enumerate sorted case-insensitively; values enumerate with the default value
//   (empty name) first, then in creation order.
// - REG_SZ data is kept as the text up to its first NUL: a write with a longer length (for
//   example a 260-byte buffer) stores just the text, and a query reports strlen + 1 bytes.
// - Buffers too small for a name or data give ERROR_MORE_DATA and the required size in
//   bytes, terminating NUL included. An enumeration index past the end gives
//   ERROR_NO_MORE_ITEMS.
// - Changes are kept in memory and written to the hive's file when its last open handle is
//   closed, on RegFlushKey, and at process exit. A change made with no handle of its hive
//   open (through a predefined key) is written at once. Writing merges with whatever other
//   processes wrote meanwhile, so concurrent writers lose nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace scopa {

using DWORD = uint32_t;
using LONG = int32_t;
using BYTE = uint8_t;

struct HKEY__;
using HKEY = HKEY__*;

// The predefined roots carry the numbers Windows gives them.
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001u});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002u});

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_DATA = 13;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_KEY_DELETED = 1018;

// Value types; other type numbers are stored and written back unchanged.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};

// Opens an existing key. With an empty or null `sub_key` a new handle to `key` itself is
// returned (Windows hands back `key` unchanged; a separate handle is safer to close).
LONG RegOpenKeyA(HKEY key, const char* sub_key, HKEY* result);
// Opens a key, creating it and any missing parents first.
LONG RegCreateKeyA(HKEY key, const char* sub_key, HKEY* result);
// Closing a predefined key succeeds and does nothing.
LONG RegCloseKey(HKEY key);

// Name of the sub-key at `index` in sorted order. `name_size`: buffer size in bytes on
// entry, length without the NUL on success. Class and time are reported empty.
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* reserved = nullptr,
                   char* class_name = nullptr, DWORD* class_size = nullptr,
                   FILETIME* last_write = nullptr);
// Name, type and data of the value at `index`. `name_size` as for RegEnumKeyExA; `data`
// may be null to ask only for the size; `type`, `data` and `data_size` may all be null.
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* data_size);

// The default value of `sub_key` (or of `key` itself when empty) as text. A key without a
// default value gives ERROR_FILE_NOT_FOUND, so callers can tell it from an empty text; a
// default value that is not REG_SZ gives ERROR_INVALID_DATA.
LONG RegQueryValueA(HKEY key, const char* sub_key, char* value, LONG* value_size);
// A named value (`name` null or empty: the default value).
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* data_size);
// Sets the default value of `sub_key` (created if missing) to the text `data`; `type` must be
// REG_SZ and `size` is ignored, as on Windows.
LONG RegSetValueA(HKEY key, const char* sub_key, DWORD type, const char* data, DWORD size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
// Deletes a key that has no sub-keys (ERROR_ACCESS_DENIED otherwise, as on Windows NT).
LONG RegDeleteKeyA(HKEY key, const char* sub_key);
LONG RegDeleteValueA(HKEY key, const char* name);
// Writes the key's hive to its file now (ERROR_ACCESS_DENIED when that fails; the changes
// stay pending and are tried again at the next save).
LONG RegFlushKey(HKEY key);

// --- Store control, for the tool and for tests --------------------------------------------

// Forgets every hive, handle and unsaved change, so the next call reads the files again from
// the folder the environment names then.
void RegistryResetStore();
// Writes every hive that has unsaved changes; false when one could not be written.
bool RegistryFlushAll();

// The REGEDIT4 text of `key_name` ("HKEY_LOCAL_MACHINE\SOFTWARE\...", hive name in full,
// any case) and every key under it, names written as stored; nullopt when there is no such
// key.
std::optional<std::string> RegExportKey(std::string_view key_name);

struct RegImportResult {
    bool is_registry_file = false;  // the text starts with a known registry-file header
    size_t changes = 0;             // keys and values created, set or deleted
    size_t damaged_lines = 0;       // lines that could not be read and were skipped
    size_t other_hive_lines = 0;    // keys of hives the store does not keep, skipped
    bool saved = false;             // the changes reached the files
};
// Merges a .reg file (REGEDIT4 or version 5.00 in UTF-16LE) into the store and saves it.
RegImportResult RegImportFile(std::string_view file_bytes);

// --- Convenience for new code -------------------------------------------------------------

// An open key, closed when the object goes. Reads are not limited to 260 bytes.
class RegistryKey {
public:
    RegistryKey() = default;
    static RegistryKey Open(HKEY parent, std::string_view path);
    static RegistryKey Create(HKEY parent, std::string_view path);
    ~RegistryKey();
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool IsOpen() const { return m_key != nullptr; }
    HKEY Handle() const { return m_key; }

    std::optional<std::string> ReadString(std::string_view name) const;
    std::optional<DWORD> ReadDword(std::string_view name) const;
    bool WriteString(std::string_view name, std::string_view text);
    bool WriteDword(std::string_view name, DWORD value);

private:
    explicit RegistryKey(HKEY key) : m_key(key) {}
    HKEY m_key = nullptr;
};

}  // namespace scopa
