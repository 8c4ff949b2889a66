// Error diffusion of 24-bit colours onto the screen palette's 6 x 6 x 6 colour cube, so a
// photograph written with 8-bit indices keeps its shading instead of falling into bands.
// Floyd-Steinberg weights (7, 3, 5, 1 sixteenths), serpentine: rows alternate direction,
// which keeps the error from drifting to one side.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/dib.h"

namespace scopa {

class CubeDitherer {
public:
    explicit CubeDitherer(int32_t width);
    // The cube indexes of row `y` of `source` (any depth); rows are given top to bottom, one
    // after the other. `indexes` holds the row's width.
    void DitherRow(const oDIB& source, int32_t y, uint8_t* indexes);

private:
    int32_t m_width;
    bool m_leftToRight = true;
    // Errors in sixteenths, three channels per column, with one spare column at each side.
    std::vector<int32_t> m_current;
    std::vector<int32_t> m_next;
};

}  // namespace scopa
