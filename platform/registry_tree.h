// The in-memory form of one registry hive, shared by the store and the .reg file reader and
// writer: a tree of keys, each with values, and the changes that can be replayed onto it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace scopa {

// Bounds on what the store accepts, from files and from callers alike. Key name length and
// depth are those of the Windows registry; the value size bound keeps one damaged or hostile
// file from taking the process's memory.
inline constexpr size_t kRegMaxKeyNameBytes = 255;
inline constexpr size_t kRegMaxKeyDepth = 512;
inline constexpr size_t kRegMaxValueNameBytes = 16383;
inline constexpr size_t kRegMaxValueBytes = size_t{1} << 20;

struct RegValue {
    std::string name;  // empty for the default value
    DWORD type = REG_SZ;
    std::string data;  // REG_SZ: the text without terminator; others: the raw bytes
};

struct NoCaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

class RegKeyNode {
public:
    std::string name;  // as first created
    // The default value, if set, is always first; the others follow in creation order.
    std::vector<RegValue> values;
    std::map<std::string, std::unique_ptr<RegKeyNode>, NoCaseLess> subkeys;

    RegKeyNode* FindChild(std::string_view child_name) const;
    RegKeyNode* EnsureChild(std::string_view child_name);
    const RegValue* FindValue(std::string_view value_name) const;
    // Replaces the data and type of an existing value (keeping its name's case and place).
    void SetValue(std::string_view value_name, DWORD type, std::string data);
    bool DeleteValue(std::string_view value_name);
};

using RegKeyPath = std::vector<std::string>;

// Splits a key path at backslashes, skipping empty parts; nullopt when a part is longer than
// kRegMaxKeyNameBytes, holds a control character, or the path is deeper than kRegMaxKeyDepth.
std::optional<RegKeyPath> SplitKeyPath(std::string_view text);
// True when `name` may name a value: within kRegMaxValueNameBytes, no line breaks or NULs
// (which the file form could not carry).
bool IsValidValueName(std::string_view name);

RegKeyNode* FindKey(const RegKeyNode& root, const RegKeyPath& path);
RegKeyNode* EnsureKey(RegKeyNode& root, const RegKeyPath& path);
// Removes the key at `path` with everything under it; false when there is none or `path`
// names the root.
bool DeleteKeyTree(RegKeyNode& root, const RegKeyPath& path);

// REG_SZ data as stored: the bytes up to the first NUL.
std::string StringDataOf(std::string_view bytes);

// One change to a hive, as a .reg file line or an API call makes it.
struct RegChange {
    enum class Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
    Kind kind = Kind::kCreateKey;
    RegKeyPath key;
    std::string value_name;
    DWORD type = REG_NONE;
    std::string data;
};

void ApplyChange(RegKeyNode& root, const RegChange& change);

}  // namespace scopa
