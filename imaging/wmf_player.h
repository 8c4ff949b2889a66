// The metafile player: draws a metafile's records through cairo. The caller has mapped the
// picture's logical extents (the frame) onto the target; the player follows the records'
// window changes within that frame.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/vector.h"
#include "imaging/wmf_format.h"

namespace scopa {

void PlayWmf(cairo_t* cairo, const vMETAFILE& frame, std::span<const uint8_t> bytes,
             const wmf::WmfLayout& layout);

}  // namespace scopa
