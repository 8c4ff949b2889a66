#include "support/shell_link_writer.h"

#include <stdexcept>

namespace scopa::test {

namespace {

void PutU16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void PutU32(std::string& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

void SetU32(std::string& out, size_t offset, std::uint32_t value) {
    std::string bytes;
    PutU32(bytes, value);
    out.replace(offset, 4, bytes);
}

// UTF-8 to code points (the fixtures use the Basic Multilingual Plane only).
std::u16string ToUtf16(const std::string& text) {
    std::u16string units;
    for (size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t code_point = byte;
        size_t length = 1;
        if (byte >= 0xE0) {
            code_point = byte & 0x0F;
            length = 3;
        } else if (byte >= 0xC0) {
            code_point = byte & 0x1F;
            length = 2;
        }
        for (size_t k = 1; k < length && i + k < text.size(); ++k)
            code_point = (code_point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        units += static_cast<char16_t>(code_point);
        i += length;
    }
    return units;
}

// Code page 1252 for the Latin-1 range (what the fixtures use).
std::string ToAnsi(const std::string& text) {
    std::string ansi;
    for (char16_t unit : ToUtf16(text)) {
        if (unit > 0xFF) throw std::invalid_argument("fixture text outside Latin-1");
        ansi += static_cast<char>(unit);
    }
    return ansi + '\0';
}

std::string ToUtf16Bytes(const std::string& text) {
    std::string bytes;
    for (char16_t unit : ToUtf16(text))
        PutU16(bytes, unit);
    PutU16(bytes, 0);
    return bytes;
}

std::string LinkInfo(const ShellLinkFixture& fixture) {
    const std::uint32_t header_bytes = fixture.unicode ? 36 : 28;
    // The volume id, with its label in 8-bit text or (offset 20 marking it) in UTF-16.
    std::string volume;
    PutU32(volume, 0);  // size, set below
    PutU32(volume, fixture.drive_type);
    PutU32(volume, 0x1234ABCD);
    if (fixture.unicode) {
        PutU32(volume, 20);
        PutU32(volume, 20);
        volume += ToUtf16Bytes(fixture.volume_label);
    } else {
        PutU32(volume, 16);
        volume += ToAnsi(fixture.volume_label);
    }
    SetU32(volume, 0, static_cast<std::uint32_t>(volume.size()));

    std::string info(header_bytes, '\0');
    SetU32(info, 4, header_bytes);
    SetU32(info, 8, 1);  // volume id and local base path
    SetU32(info, 12, static_cast<std::uint32_t>(info.size()));
    info += volume;
    SetU32(info, 16, static_cast<std::uint32_t>(info.size()));
    info += ToAnsi(fixture.local_base_path);
    SetU32(info, 24, static_cast<std::uint32_t>(info.size()));
    info += ToAnsi(fixture.common_path_suffix);
    if (fixture.unicode) {
        SetU32(info, 28, static_cast<std::uint32_t>(info.size()));
        info += ToUtf16Bytes(fixture.local_base_path);
        SetU32(info, 32, static_cast<std::uint32_t>(info.size()));
        info += ToUtf16Bytes(fixture.common_path_suffix);
    }
    SetU32(info, 0, static_cast<std::uint32_t>(info.size()));
    return info;
}

}  // namespace

std::string MakeShellLinkBytes(const ShellLinkFixture& fixture) {
    std::string bytes;
    PutU32(bytes, 76);
    const unsigned char kClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    bytes.append(reinterpret_cast<const char*>(kClassId), sizeof kClassId);
    std::uint32_t flags = (fixture.with_id_list ? 0x01u : 0u) |
                          (fixture.with_link_info ? 0x02u : 0u) | (fixture.unicode ? 0x80u : 0u);
    PutU32(bytes, flags);
    PutU32(bytes, 0x10);     // the target was a folder
    bytes.append(24, '\0');  // three times
    PutU32(bytes, 0);        // target size
    PutU32(bytes, 0);        // icon index
    PutU32(bytes, 1);        // show normally
    bytes.append(12, '\0');  // hot key and reserved fields
    if (fixture.with_id_list) {
        // A stand-in list: one 20-byte item and the terminator.
        PutU16(bytes, 22);
        PutU16(bytes, 20);
        bytes.append(18, '\x1F');
        PutU16(bytes, 0);
    }
    if (fixture.with_link_info) bytes += LinkInfo(fixture);
    PutU32(bytes, 0);  // the extra data ends
    return bytes;
}

}  // namespace scopa::test
