// .reg files: the text form in which the Windows registry editor exports keys. Reading takes
// "REGEDIT4" files (8-bit text, read as UTF-8) and "Windows Registry Editor Version 5.00"
// files (UTF-16LE with a byte-order mark); writing produces REGEDIT4 with CRLF line ends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_tree.h"

namespace scopa {

enum class RegHiveId { kLocalMachine, kCurrentUser };

// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::string_view HiveRootName(RegHiveId hive);

// The whole file above a few megabytes of text is not a registry file this store writes;
// the bound keeps reading a stray large file cheap.
inline constexpr size_t kRegMaxFileBytes = size_t{64} << 20;

struct RegFileChange {
    RegHiveId hive = RegHiveId::kLocalMachine;
    RegChange change;
};

struct RegFileContent {
    bool has_header = false;             // first non-blank line is a known header
    size_t damaged_lines = 0;            // unreadable lines (including a missing header)
    size_t other_hive_lines = 0;         // key lines naming a hive other than the two kept
    std::vector<RegFileChange> changes;  // in file order

    bool IsDamaged() const { return damaged_lines != 0; }
};

// Reads every sound line of a .reg file; unreadable lines are counted and skipped.
RegFileContent ParseRegFile(std::string_view bytes);

// A whole hive as a REGEDIT4 file: header, then every key in sorted order.
std::string FormatRegFile(const RegKeyNode& hive_root, RegHiveId hive);
// `node` and the keys under it, `full_name` being how the file names `node`
// ("HKEY_LOCAL_MACHINE\SOFTWARE\QOR").
std::string FormatRegKey(const RegKeyNode& node, const std::string& full_name);

}  // namespace scopa
