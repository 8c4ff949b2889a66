// scopa reg: shows and seeds what the registry store keeps, in the .reg file form.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "command.h"
#include "platform/registry.h"
#include "platform/registry_file.h"
#include "platform/regular_file.h"

namespace scopa::tool {
namespace {

constexpr const char* kName = "reg";

int Export(const std::string& key_name) {
    std::optional<std::string> text = RegExportKey(key_name);
    if (!text) return Fail(kName, "no such key: " + key_name);
    std::fwrite(text->data(), 1, text->size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : Fail(kName, "cannot write the output");
}

int Import(const std::string& file_name) {
    std::FILE* in = OpenRegularFileStream(file_name);
    if (in == nullptr) return Fail(kName, "cannot read " + file_name);
    std::string bytes;
    // One byte over the bound tells a file that is too large from one that just fits.
    bytes.resize(kRegMaxFileBytes + 1);
    size_t got = std::fread(bytes.data(), 1, bytes.size(), in);
    bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) return Fail(kName, "cannot read " + file_name);
    bytes.resize(got);
    if (bytes.size() > kRegMaxFileBytes) return Fail(kName, file_name + " is too large");
    RegImportResult result = RegImportFile(bytes);
    if (!result.is_registry_file) return Fail(kName, file_name + " is not a registry file");
    if (!result.saved) return Fail(kName, "cannot write the registry files");
    std::printf("imported %zu changes", result.changes);
    if (result.damaged_lines != 0)
        std::printf(", skipped %zu unreadable lines", result.damaged_lines);
    if (result.other_hive_lines != 0) {
        std::printf(", skipped %zu keys of other hives", result.other_hive_lines);
    }
    std::printf("\n");
    return kExitOk;
}

int Run(const Arguments& arguments) {
    const auto& words = arguments.positional;
    if (words.size() != 2 || (words[0] != "export" && words[0] != "import")) {
        return Fail(kName, "expected 'export KEY' or 'import FILE' (see --help)", kExitUsage);
    }
    return words[0] == "export" ? Export(words[1]) : Import(words[1]);
}

RegisterCommand registration({
    .name = kName,
    .synopsis = "reg export KEY | reg import FILE",
    .summary = "show or seed the registry store as .reg text",
    .details =
        "export KEY prints KEY and every key under it as a REGEDIT4 file, for example\n"
        "  scopa reg export 'HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\Scopar'\n"
        "import FILE merges a .reg file (REGEDIT4, or version 5.00 in UTF-16) into the store.\n"
        "The store lives in $SCOPA_REGISTRY_DIR, else $XDG_CONFIG_HOME/scopa, else\n"
        "~/.config/scopa: machine.reg holds HKEY_LOCAL_MACHINE, user.reg HKEY_CURRENT_USER.",
    .options = {},
    .run = Run,
});

}  // namespace
}  // namespace scopa::tool
