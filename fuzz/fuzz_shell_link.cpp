// Shell-link files from disk are untrusted: parsing any bytes must end cleanly, and whatever
// parses must map to a path without reading outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "shell/shell_link.h"
#include "shell/shortcuts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::optional<scopa::ShellLink> link = scopa::ParseShellLink(std::span(data, size));
    if (link) {
        (void)link->TargetWindowsPath();
        // A finder that knows no volume keeps the fuzzer away from the real mounts.
        scopa::VolumeFinder none = [](std::string_view) { return std::optional<scopa::Volume>(); };
        (void)scopa::MapShellLinkTarget(*link, none);
    }
    return 0;
}
