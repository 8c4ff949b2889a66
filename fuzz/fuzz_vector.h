// Shared body of the vector fuzz targets: read a picture, play it into a small bitmap and
// write it back, also as a metafile.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/dib.h"
#include "imaging/draw.h"
#include "imaging/filter.h"
#include "imaging/stream.h"
#include "imaging/vector.h"

namespace scopa::fuzz {

inline void FuzzVectorFilter(const char* id, const uint8_t* data, size_t size) {
    oFILTER* filter = oFILTERLIST::FindByID(id);
    if (filter == nullptr) __builtin_trap();
    filter->CheckStream({data, size < kSniffBytes ? size : kSniffBytes});
    vMEMSTREAM stream({data, size});
    if (filter->Type() == kFilterTypeEps) {
        oDIB preview;
        filter->Convert(stream, preview);
        return;
    }
    vMETAFILE picture;
    if (filter->Convert(stream, picture) != kFilterDone) return;
    oDIB target;
    if (!target.Create(48, 48, 24)) return;
    DrawMetafile(target, {0, 0, 48, 48}, picture);
    vMEMSTREAM written;
    if (filter->DoesExport()) filter->Convert(picture, written);
    // Every vector picture can be exported as a metafile, which records its shapes.
    if (oFILTER* metafile = oFILTERLIST::FindByID("WMF"); metafile != filter && metafile) {
        vMEMSTREAM as_metafile;
        metafile->Convert(picture, as_metafile);
    }
}

}  // namespace scopa::fuzz

// cairo's toy text API and fontconfig keep process-wide caches that they never free; their
// allocations are not leaks of the code under test.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libcairo.so\n";
}
