#include "shell/shell_link.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/code_pages.h"
#include "platform/regular_file.h"

namespace scopa {

namespace {

// Format notes. A shell-link file starts with a 76-byte header:
//   0 u32 header size (76)      4 16-byte class id 00021401-0000-0000-C000-000000000046
//  20 u32 link flags           24 u32 target attributes    28..51 three FILETIMEs
//  52 u32 target size          56 i32 icon index           60 u32 show command
//  64 u16 hot key              66 10 reserved bytes
// Then, when the flags say so, the target's item-ID list (u16 size, then the list) and the
// link information block:
//   0 u32 block size            4 u32 header size (28, or 36 with Unicode offsets)
//   8 u32 flags (1: volume and local base path, 2: network share)
//  12 u32 volume-id offset     16 u32 local base path offset
//  20 u32 network link offset  24 u32 common path suffix offset
//  28 u32 Unicode local base path offset  32 u32 Unicode suffix offset (header 36 and up)
// The volume id: u32 size, u32 drive type, u32 serial number, u32 label offset; a label
// offset of 20 means the label is UTF-16 at the offset in a fifth u32.
// Offsets are from the start of their block; texts end with a NUL (two for UTF-16).
constexpr size_t kHeaderBytes = 76;
constexpr std::array<std::uint8_t, 16> kShellLinkClassId = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kHasLinkTargetIdList = 0x00000001;
constexpr std::uint32_t kHasLinkInfo = 0x00000002;
constexpr std::uint32_t kForceNoLinkInfo = 0x00000100;
constexpr std::uint32_t kLinkInfoHasVolume = 0x00000001;
constexpr size_t kLinkInfoMinHeaderBytes = 28;
constexpr size_t kLinkInfoUnicodeHeaderBytes = 36;
constexpr size_t kVolumeIdMinBytes = 16;
constexpr std::uint32_t kVolumeLabelUnicodeMarker = 20;

// A bounds-checked view of one block: every read fails instead of leaving the block.
class BlockReader {
public:
    explicit BlockReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    size_t size() const { return m_bytes.size(); }

    std::optional<std::uint32_t> U32(size_t offset) const {
        if (offset > m_bytes.size() || m_bytes.size() - offset < 4) return std::nullopt;
        const std::uint8_t* p = m_bytes.data() + offset;
        return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) |
               (static_cast<std::uint32_t>(p[3]) << 24);
    }
    std::optional<std::uint16_t> U16(size_t offset) const {
        if (offset > m_bytes.size() || m_bytes.size() - offset < 2) return std::nullopt;
        return static_cast<std::uint16_t>(m_bytes[offset] | (m_bytes[offset + 1] << 8));
    }
    std::optional<BlockReader> Sub(size_t offset, size_t length) const {
        if (offset > m_bytes.size() || m_bytes.size() - offset < length) return std::nullopt;
        return BlockReader(m_bytes.subspan(offset, length));
    }
    // An 8-bit text ending with a NUL inside the block, as UTF-8.
    std::optional<std::string> AnsiText(size_t offset) const;
    // A UTF-16 text ending with a NUL inside the block, as UTF-8.
    std::optional<std::string> Utf16Text(size_t offset) const;
    bool Equals(size_t offset, std::span<const std::uint8_t> expected) const {
        return offset <= m_bytes.size() && m_bytes.size() - offset >= expected.size() &&
               std::memcmp(m_bytes.data() + offset, expected.data(), expected.size()) == 0;
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

// The 8-bit texts of links are in the code page of the Windows that made them; links made
// on western Windows, by far the most, use 1252.
std::optional<std::string> BlockReader::AnsiText(size_t offset) const {
    if (offset >= m_bytes.size()) return std::nullopt;
    std::span<const std::uint8_t> rest = m_bytes.subspan(offset);
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(rest.data(), 0, rest.size()));
    if (end == nullptr) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(rest.data()), size_t(end - rest.data()));
    return CodePageToUtf8(text, kWesternCodePage);
}

std::optional<std::string> BlockReader::Utf16Text(size_t offset) const {
    std::u16string units;
    for (size_t i = offset;; i += 2) {
        std::optional<std::uint16_t> unit = U16(i);
        if (!unit) return std::nullopt;
        if (*unit == 0) return Utf16ToUtf8(units);
        units.push_back(char16_t(*unit));
    }
}

bool ReadVolumeId(const BlockReader& link_info, std::uint32_t offset, ShellLink& link) {
    std::optional<std::uint32_t> size = link_info.U32(offset);
    if (!size || *size < kVolumeIdMinBytes) return false;
    std::optional<BlockReader> volume = link_info.Sub(offset, *size);
    if (!volume) return false;
    std::optional<std::uint32_t> drive_type = volume->U32(4);
    std::optional<std::uint32_t> serial = volume->U32(8);
    std::optional<std::uint32_t> label_offset = volume->U32(12);
    if (!drive_type || !serial || !label_offset) return false;
    std::optional<std::string> label;
    if (*label_offset == kVolumeLabelUnicodeMarker) {
        std::optional<std::uint32_t> unicode_offset = volume->U32(16);
        if (unicode_offset) label = volume->Utf16Text(*unicode_offset);
    } else {
        label = volume->AnsiText(*label_offset);
    }
    if (!label) return false;
    link.drive_type = *drive_type;
    link.drive_serial = *serial;
    link.volume_label = std::move(*label);
    return true;
}

// Reads the text at the Unicode offset when the header has one, else at the 8-bit offset.
std::optional<std::string> ReadPathText(const BlockReader& link_info, size_t header_bytes,
                                        size_t ansi_field, size_t unicode_field) {
    if (header_bytes >= kLinkInfoUnicodeHeaderBytes) {
        std::optional<std::uint32_t> offset = link_info.U32(unicode_field);
        if (offset && *offset != 0) return link_info.Utf16Text(*offset);
    }
    std::optional<std::uint32_t> offset = link_info.U32(ansi_field);
    if (!offset) return std::nullopt;
    return link_info.AnsiText(*offset);
}

bool ReadLinkInfo(const BlockReader& file, size_t offset, ShellLink& link) {
    std::optional<std::uint32_t> size = file.U32(offset);
    if (!size) return false;
    std::optional<BlockReader> link_info = file.Sub(offset, *size);
    if (!link_info) return false;
    std::optional<std::uint32_t> header_bytes = link_info->U32(4);
    std::optional<std::uint32_t> flags = link_info->U32(8);
    if (!header_bytes || !flags || *header_bytes < kLinkInfoMinHeaderBytes ||
        *header_bytes > link_info->size()) {
        return false;
    }
    if ((*flags & kLinkInfoHasVolume) == 0) return true;  // a network share: no local path
    std::optional<std::uint32_t> volume_offset = link_info->U32(12);
    if (!volume_offset || !ReadVolumeId(*link_info, *volume_offset, link)) return false;
    std::optional<std::string> base = ReadPathText(*link_info, *header_bytes, 16, 28);
    std::optional<std::string> suffix = ReadPathText(*link_info, *header_bytes, 24, 32);
    if (!base) return false;
    link.local_base_path = std::move(*base);
    link.common_path_suffix = suffix.value_or(std::string());
    link.has_volume = true;
    return true;
}

}  // namespace

std::string ShellLink::TargetWindowsPath() const {
    if (common_path_suffix.empty()) return local_base_path;
    std::string path = local_base_path;
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path + common_path_suffix;
}

std::optional<ShellLink> ParseShellLink(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxShellLinkBytes) return std::nullopt;
    BlockReader file(bytes);
    std::optional<std::uint32_t> header_bytes = file.U32(0);
    if (!header_bytes || *header_bytes != kHeaderBytes || file.size() < kHeaderBytes ||
        !file.Equals(4, kShellLinkClassId)) {
        return std::nullopt;
    }
    ShellLink link;
    link.link_flags = *file.U32(20);
    link.file_attributes = *file.U32(24);
    link.file_size = *file.U32(52);

    size_t offset = kHeaderBytes;
    if ((link.link_flags & kHasLinkTargetIdList) != 0) {
        std::optional<std::uint16_t> list_bytes = file.U16(offset);
        if (!list_bytes || !file.Sub(offset + 2, *list_bytes)) return std::nullopt;
        offset += 2 + static_cast<size_t>(*list_bytes);
    }
    if ((link.link_flags & kHasLinkInfo) != 0 && (link.link_flags & kForceNoLinkInfo) == 0) {
        if (!ReadLinkInfo(file, offset, link)) return std::nullopt;
    }
    return link;
}

std::optional<ShellLink> ReadShellLinkFile(const std::string& path) {
    std::uint64_t size = 0;
    int fd = OpenRegularFile(path, &size);
    if (fd < 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(
        static_cast<size_t>(std::min<std::uint64_t>(size, kMaxShellLinkBytes)));
    size_t filled = 0;
    while (size <= kMaxShellLinkBytes && filled < bytes.size()) {
        ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    ::close(fd);
    if (size > kMaxShellLinkBytes) return std::nullopt;
    bytes.resize(filled);
    return ParseShellLink(bytes);
}

}  // namespace scopa
