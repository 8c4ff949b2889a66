#include "shell/shell_link.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform/byte_reader.h"
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

// The 8-bit texts of links are in the code page of the Windows that made them; links made
// on western Windows, by far the most, use 1252.
std::string AnsiText(ByteReader& block, size_t offset) {
    block.Seek(offset);
    return CodePageToUtf8(block.CString(), kWesternCodePage);
}

std::string Utf16Text(ByteReader& block, size_t offset) {
    block.Seek(offset);
    return Utf16ToUtf8(block.Utf16CString());
}

bool ReadVolumeId(ByteReader link_info, std::uint32_t offset, ShellLink& link) {
    const std::uint32_t size = link_info.U32At(offset);
    if (size < kVolumeIdMinBytes) return false;
    ByteReader volume = link_info.Sub(offset, size);
    const std::uint32_t drive_type = volume.U32At(4);
    const std::uint32_t serial = volume.U32At(8);
    const std::uint32_t label_offset = volume.U32At(12);
    std::string label = label_offset == kVolumeLabelUnicodeMarker
                            ? Utf16Text(volume, volume.U32At(16))
                            : AnsiText(volume, label_offset);
    if (!volume.Ok()) return false;
    link.drive_type = drive_type;
    link.drive_serial = serial;
    link.volume_label = std::move(label);
    return true;
}

// Reads the text at the Unicode offset when the header has one, else at the 8-bit offset.
// Works on its own copy of the block, so a damaged text fails only itself.
std::optional<std::string> ReadPathText(ByteReader link_info, size_t header_bytes,
                                        size_t ansi_field, size_t unicode_field) {
    const std::uint32_t unicode_offset =
        header_bytes >= kLinkInfoUnicodeHeaderBytes ? link_info.U32At(unicode_field) : 0;
    std::string text = unicode_offset != 0 ? Utf16Text(link_info, unicode_offset)
                                           : AnsiText(link_info, link_info.U32At(ansi_field));
    if (!link_info.Ok()) return std::nullopt;
    return text;
}

bool ReadLinkInfo(ByteReader& file, ShellLink& link) {
    const size_t offset = file.Offset();
    ByteReader link_info = file.Sub(offset, file.U32At(offset));
    const std::uint32_t header_bytes = link_info.U32At(4);
    const std::uint32_t flags = link_info.U32At(8);
    if (!link_info.Ok() || header_bytes < kLinkInfoMinHeaderBytes ||
        header_bytes > link_info.Size()) {
        return false;
    }
    if ((flags & kLinkInfoHasVolume) == 0) return true;  // a network share: no local path
    if (!ReadVolumeId(link_info, link_info.U32At(12), link)) return false;
    std::optional<std::string> base = ReadPathText(link_info, header_bytes, 16, 28);
    std::optional<std::string> suffix = ReadPathText(link_info, header_bytes, 24, 32);
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
    ByteReader file(bytes);
    if (file.U32() != kHeaderBytes || file.Size() < kHeaderBytes ||
        !file.Match(kShellLinkClassId)) {
        return std::nullopt;
    }
    ShellLink link;
    link.link_flags = file.U32At(20);
    link.file_attributes = file.U32At(24);
    link.file_size = file.U32At(52);

    file.Seek(kHeaderBytes);
    if ((link.link_flags & kHasLinkTargetIdList) != 0) file.Skip(file.U16());
    if (!file.Ok()) return std::nullopt;
    if ((link.link_flags & kHasLinkInfo) != 0 && (link.link_flags & kForceNoLinkInfo) == 0) {
        if (!ReadLinkInfo(file, link)) return std::nullopt;
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
