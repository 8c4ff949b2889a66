// Turns a document preview into a bitmap the imaging layer can draw and write: palette-index
// colour tables are resolved through the shared screen palette.
#pragma once

#include "documents/document_previews.h"
#include "imaging/dib.h"

namespace scopa {

// A 24-bit bitmap of the preview, rows top-down; empty when the preview is empty.
oDIB PreviewToDib(const DocumentPreview& preview);

}  // namespace scopa
