// Runs the flourish document test and preview reader over arbitrary bytes, both as a
// compound file and, when the bytes are not one, as a plain file.
#include <cstddef>
#include <cstdint>

#include "documents/document_previews.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scopa::DocumentSource source = scopa::DocumentSource::Bytes(data, size);
    scopa::IsFlourishContent(source);
    scopa::DocumentPreview preview;
    scopa::MakeFlourishPreview(source, &preview);
    return 0;
}
