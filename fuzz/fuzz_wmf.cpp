// Fuzzes the WMF filter's reader (and the player or writer behind it).
#include "fuzz_vector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scopa::fuzz::FuzzVectorFilter("WMF", data, size);
    return 0;
}
