// Fuzzes the PCX filter's reader.
#include "fuzz_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scopa::fuzz::FuzzFilter("PCX", data, size);
    return 0;
}
