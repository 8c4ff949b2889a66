// Reads arbitrary bytes as a PE file: resources, the version resource and bitmap 1000.
#include <cstddef>
#include <cstdint>

#include "documents/pilot_programs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<scopa::PeResources> resources = scopa::PeResources::FromBytes(data, size);
    if (!resources) return 0;
    scopa::HasPilotVersionMark(*resources, "QLMK");
    scopa::DocumentPreview preview;
    scopa::LoadPilotBitmap(*resources, &preview);
    if (auto block = resources->FindFirst(scopa::kResourceTypeVersion)) {
        scopa::FileVersionInfo info;
        if (info.Parse(*block)) info.QueryString("\\StringFileInfo\\040904b0\\ProductName");
    }
    return 0;
}
