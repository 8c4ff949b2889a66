// Reads arbitrary bytes as a property-set stream and touches every value read.
#include <cstddef>
#include <cstdint>

#include "documents/property_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<scopa::OleStream> stream = scopa::OleStream::FromBytes(data, size);
    scopa::CSummaryInfo summary;
    summary.ReadFromStream(*stream);
    volatile size_t total = summary.GetKeywords().size();
    for (const auto& section : summary.GetPropertySet().GetSections()) {
        for (const auto& property : section->GetProperties()) {
            uint32_t bytes = 0;
            if (const uint8_t* value = property->Get(&bytes)) {
                for (uint32_t i = 0; i < bytes; ++i)
                    total = total + value[i];
            }
        }
    }
    return 0;
}
