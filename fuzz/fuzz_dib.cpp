// Fuzzes packed-DIB import: every depth, bit fields, RLE4 and RLE8, both colour-table kinds.
#include <cstdint>
#include <span>

#include "imaging/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace scopa;
    std::span<const uint8_t> bytes(data, size);
    auto dib = oDIB::FromPackedDib(bytes, ColourUse::kRgbColours);
    if (dib) dib->ToPackedDib();
    oDIB::FromPackedDib(bytes, ColourUse::kPaletteIndices);
    return 0;
}
