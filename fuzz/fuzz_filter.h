// Shared body of the filter fuzz targets: recognise the input, read its resolutions, and
// decode it at the smallest offered size and, when that is modest, at full size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/dib.h"
#include "imaging/filter.h"
#include "imaging/stream.h"

namespace scopa::fuzz {

// Full-size decodes beyond this are skipped: they only cost time, not coverage.
inline constexpr int64_t kMaxFuzzedFullPixels = int64_t(1) << 22;

inline void FuzzFilter(const char* id, const uint8_t* data, size_t size) {
    oFILTER* filter = oFILTERLIST::FindByID(id);
    if (filter == nullptr) __builtin_trap();
    vMEMSTREAM stream({data, size});
    filter->CheckStream({data, size < kSniffBytes ? size : kSniffBytes});
    int count = filter->GetResolutionCount(stream);
    if (count > 0) {
        vSIZE full = filter->GetResolution(0);
        filter->SetResolution(count - 1);
        stream.Seek(0);
        oDIB reduced;
        filter->Convert(stream, reduced);
        if (int64_t(full.cx) * full.cy <= kMaxFuzzedFullPixels) {
            stream.Seek(0);
            oDIB whole;
            filter->Convert(stream, whole);
        }
    }
    filter->SetResolution(-1);
}

}  // namespace scopa::fuzz
