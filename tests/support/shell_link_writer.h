// Writes Windows shell-link (".lnk") files for fixtures: a header, a stand-in target item-ID
// list and the link information with a volume label and a local path.
#pragma once

#include <cstdint>
#include <string>

namespace scopa::test {

struct ShellLinkFixture {
    std::string local_base_path = "E:\\PHOTOS";  // UTF-8; written in code page 1252 or UTF-16
    std::string common_path_suffix;
    std::string volume_label = "HOLIDAY";
    std::uint32_t drive_type = 5;  // CD-ROM
    bool unicode = false;          // also write UTF-16 texts (link information header of 36)
    bool with_id_list = true;
    bool with_link_info = true;
};

// The bytes of a shell-link file.
std::string MakeShellLinkBytes(const ShellLinkFixture& fixture);

}  // namespace scopa::test
