// Fuzzes the .reg file reader and checks that what it reads survives the writer: formatting
// the tree read from any input and reading that text back must give the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry_file.h"

namespace {

std::string FormatHive(const scopa::RegFileContent& content, scopa::RegHiveId hive) {
    scopa::RegKeyNode root;
    for (const scopa::RegFileChange& entry : content.changes) {
        if (entry.hive == hive) scopa::ApplyChange(root, entry.change);
    }
    return scopa::FormatRegFile(root, hive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    scopa::RegFileContent content = scopa::ParseRegFile(bytes);
    for (scopa::RegHiveId hive :
         {scopa::RegHiveId::kLocalMachine, scopa::RegHiveId::kCurrentUser}) {
        std::string text = FormatHive(content, hive);
        scopa::RegFileContent again = scopa::ParseRegFile(text);
        if (!again.has_header || again.IsDamaged() || FormatHive(again, hive) != text) std::abort();
    }
    return 0;
}
