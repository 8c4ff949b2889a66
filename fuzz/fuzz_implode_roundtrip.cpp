// Compress then expand any input in the mode and dictionary size its first byte picks; the
// output must be the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cache/implode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    namespace implode = scopa::implode;
    unsigned literal_mode = data[0] & 1;
    unsigned dictionary_bytes = 1024u << ((data[0] >> 1) % 3);
    std::span<const uint8_t> input(data + 1, size - 1);
    std::vector<uint8_t> stream;
    if (implode::CompressBytes(input, stream, literal_mode, dictionary_bytes) != 0) {
        __builtin_trap();
    }
    if (input.size() == 16384 && literal_mode == 0 &&
        stream.size() > implode::kMaxStreamBytesPerBlock) {
        __builtin_trap();
    }
    std::vector<uint8_t> output;
    int result = implode::ExpandBytes(stream, output);
    // The empty input gives a 4-byte stream, which the expander refuses as too short.
    if (input.empty()) return 0;
    if (result != 0 || output.size() != input.size() ||
        !std::equal(output.begin(), output.end(), input.begin())) {
        __builtin_trap();
    }
    return 0;
}
