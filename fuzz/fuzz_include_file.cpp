// Include files from disk are untrusted text: any bytes must split into at most two bounded
// lines, and a refused first line must be the only way to fail.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "list/population.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::optional<scopa::IncludeLines> lines = scopa::ParseIncludeText(bytes);
    if (lines) {
        if (lines->first.size() > scopa::kMaxIncludeLineBytes ||
            lines->second.size() > scopa::kMaxIncludeLineBytes ||
            lines->first.find('\0') != std::string::npos ||
            lines->first.find('\n') != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
