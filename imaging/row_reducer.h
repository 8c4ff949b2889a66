// Streams rows of blue-green-red pixels through a box filter that reduces both sides by an
// integer factor, so a picture can be read at a fraction of its size holding only one band of
// accumulators. Partial blocks at the right and bottom edges are averaged over what they hold.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/dib.h"
#include "imaging/geometry.h"

namespace scopa {

class RowReducer {
public:
    // False when the reduced bitmap cannot be made. With `bottom_up` the rows arrive from the
    // bottom row to the top one, as many formats store them.
    bool Start(vSIZE source_size, int factor, bool bottom_up = false);
    // Adds the next source row, width x 3 bytes of blue, green, red.
    void PushRow(const uint8_t* bgr);
    // The reduced picture; rows not reached (a truncated source) stay black.
    oDIB& Result() { return m_result; }
    int32_t RowsPushed() const { return m_rowsPushed; }

private:
    void EmitBand(int32_t band, int32_t rows_in_band);

    vSIZE m_source;
    int m_factor = 1;
    bool m_bottomUp = false;
    int32_t m_rowsPushed = 0;
    std::vector<uint64_t> m_sums;  // 64 bits: a block may hold many millions of pixels
    oDIB m_result;
};

// Blends 4-byte red-green-blue-alpha pixels onto white, giving blue-green-red.
void CompositeRgbaOnWhite(const uint8_t* rgba, int32_t width, uint8_t* bgr_out);

}  // namespace scopa
