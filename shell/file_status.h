// The status of a file as the program keeps it: times, size and Windows-style attribute
// bits, so that code written against those bits (hidden, folder, read-only) reads the same.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace scopa {

inline constexpr std::uint8_t kFileAttributeReadOnly = 0x01;  // its owner may not write it
inline constexpr std::uint8_t kFileAttributeHidden = 0x02;    // its name begins with '.'
inline constexpr std::uint8_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint8_t kFileAttributeArchive = 0x20;  // any file that is no folder
// Marks a status block as read (the bit is not used by real attributes here).
inline constexpr std::uint8_t kFileStatusLoaded = 0x80;

struct FileStatus {
    std::int64_t created = 0;   // seconds since 1970 (the status-change time on Linux)
    std::int64_t modified = 0;  // seconds since 1970
    std::int64_t accessed = 0;
    std::uint64_t size = 0;  // bytes
    std::uint8_t attributes = 0;
    // The full name is the path the status was read for; it is not kept twice.
};

// Reads the status of `path`, following symbolic links (a dangling link fails); false, with
// `status` untouched, when the path cannot be read.
bool GetFileStatus(const std::string& path, FileStatus& status);
// The status kept for `path` from what stat said of it.
FileStatus FileStatusOf(const struct stat& info, std::string_view path);

}  // namespace scopa
