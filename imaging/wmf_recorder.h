// Vector pictures written as Windows metafiles of their own shapes. The drawing is played
// through cairo's script surface, whose text names every path it fills or strokes; the paths
// drawn in solid colours become polygons and polylines with matching pens and brushes. A
// drawing that uses what such records cannot say (gradients, images, text, clips, dashes,
// masks, groups, partly transparent colours) is not recorded, and the writer stores it as a bitmap
// instead.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/vector.h"

namespace scopa {

struct RecordedMetafile {
    std::vector<uint8_t> records;  // from the first record up to and including EOF
    int16_t width = 0;             // logical units of the picture's frame, (0, 0) at top-left
    int16_t height = 0;
    uint16_t units_per_inch = 0;
    uint16_t objects = 0;  // object table slots the records use
    uint32_t largest_record_words = 0;
};

std::optional<RecordedMetafile> RecordAsMetafile(const vMETAFILE& picture);

}  // namespace scopa
