// Any byte string fed to the implode expander: it must end with a result code, never read or
// write out of bounds, and stop at the output limit of a cache record when asked.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cache/implode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> output;
    int result = scopa::implode::ExpandBytes({data, size}, output, 16384 * 4);
    if (result < 0 || result > 4) __builtin_trap();
    if (output.size() > 16384 * 4) __builtin_trap();
    return 0;
}
