// Fuzzes the TGA filter's reader.
#include "fuzz_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scopa::fuzz::FuzzFilter("TGA", data, size);
    return 0;
}
