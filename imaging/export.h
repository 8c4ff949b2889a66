// Converting a picture for export: a plain copy when the format stays, otherwise a read and a
// write through the target format's filter, rendering vector pictures into bitmaps or wrapping
// bitmaps into vector pictures as the two formats require.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/dib.h"
#include "imaging/vector.h"

namespace scopa {

class PictureLoadObserver;

// Sizes offered for rendering a vector picture into a bitmap, and the default choice.
inline constexpr vSIZE kVectorExportSizes[] = {{640, 480}, {800, 600}, {1024, 768}};
inline constexpr int kDefaultVectorExportSize = 2;

// Identifiers of the classic formats have three letters; the copy rule was made for them.
inline constexpr size_t kClassicIdentifierChars = 3;

// Whether exporting `source` as `id` is a plain copy: for a three-letter identifier, the last
// three characters of the source path (upper-cased) equal it; for a longer one ("WEBP"),
// the whole extension of the source's name does.
bool KeepsItsFormat(const std::string& source, const std::string& id);

// The destination path for a format: unchanged when it ends in "." + `id` (ignoring case),
// else with "." + `id` appended ("out" and "out.png" as JPG give "out.JPG" and
// "out.png.JPG"; "x.jpeg" as JPG gives "x.jpeg.JPG").
std::string PathWithExtension(const std::string& path, const std::string& id);

// Exports `source` to `destination` in the format `id` (a filter identifier). `width` and
// `height` bound the bitmap a vector picture is rendered to; `resolution_index` is passed to
// the load; -1 (no choice) reads the picture at its full size. Whether the source is a bitmap
// (EPS counts as its preview bitmap) is decided by the picture read, whether the destination
// is by the filter of `id`; names decide nothing. False on any failure.
bool ExportPicture(PictureLoadObserver* observer, const std::string& destination,
                   const std::string& id, int32_t width, int32_t height, const std::string& source,
                   int resolution_index);

// Renders a vector picture at twice the fitted size and halves it (8-bit screen-palette
// pixels for "GIF", else 24-bit), then writes it.
bool RenderVectorToDib(const std::string& destination, const std::string& id,
                       const vMETAFILE& metafile, int32_t width, int32_t height);

// Wraps a bitmap into a vector picture of its size (physical extents from its resolution) and
// writes it.
bool WrapDibAsVector(const std::string& destination, const std::string& id, const oDIB& dib);

}  // namespace scopa
