// Any byte string fed to the implode expander: it must end with a result code, never read or
// write out of bounds, and stop at the output limit of a cache record when asked. Its detail
// names a fault exactly when the result is 4 and counts no more than it was given.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cache/implode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace implode = scopa::implode;
    std::vector<uint8_t> output;
    implode::ExpandDetail detail;
    int result = implode::ExpandBytes({data, size}, output, 16384 * 4, &detail);
    if (result < 0 || result > 4) __builtin_trap();
    if (output.size() > 16384 * 4) __builtin_trap();
    bool fault = detail.fault != implode::ExpandFault::kNone;
    if (fault != (result == implode::kResultNoEndCode)) __builtin_trap();
    if (detail.input_bytes > size || detail.unused_input_bytes > detail.input_bytes) {
        __builtin_trap();
    }
    if (result == implode::kResultOk && detail.output_bytes != output.size()) __builtin_trap();
    return 0;
}
