// Reader of Windows shell-link files (".lnk"): the header, the link target's item-ID list
// (skipped: its items belong to the Windows namespace) and the link information with the
// target's local path and the label of the volume it lies on. Bytes from disk are untrusted:
// every size and offset is bounded by the block that holds it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace scopa {

// Larger files are no shell links (real ones are a few kilobytes).
inline constexpr size_t kMaxShellLinkBytes = 1u << 20;

struct ShellLink {
    std::uint32_t link_flags = 0;
    std::uint32_t file_attributes = 0;  // the target's, when the link was made
    std::uint32_t file_size = 0;        // the target's low 32 bits, when the link was made
    bool has_volume = false;            // the link information names a local volume and path
    std::uint32_t drive_type = 0;       // 2 removable, 3 fixed, 4 remote, 5 CD-ROM, ...
    std::uint32_t drive_serial = 0;
    std::string volume_label;        // UTF-8
    std::string local_base_path;     // UTF-8, as stored: "E:\PHOTOS"
    std::string common_path_suffix;  // UTF-8, appended to the base path

    // The target's full Windows path: the base path and the suffix, joined with one '\'.
    std::string TargetWindowsPath() const;
};

// Parses the bytes of a shell-link file; nullopt when they are not one or are damaged.
std::optional<ShellLink> ParseShellLink(std::span<const std::uint8_t> bytes);
// Reads and parses a file (at most kMaxShellLinkBytes); nullopt when it is no shell link.
std::optional<ShellLink> ReadShellLinkFile(const std::string& path);

}  // namespace scopa
