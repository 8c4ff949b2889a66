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
    // False when the reduced bitmap cannot be made.
    bool Start(vSIZE source_size, int factor);
    // Adds the next source row (top-down), width x 3 bytes of blue, green, red.
    void PushRow(const uint8_t* bgr);
    // The reduced picture; rows not reached (a truncated source) stay black.
    oDIB& Result() { return m_result; }
    int32_t RowsPushed() const { return m_rowsPushed; }

private:
    void EmitBand();

    vSIZE m_source;
    int m_factor = 1;
    int32_t m_rowsPushed = 0;
    int32_t m_rowsInBand = 0;
    std::vector<uint64_t> m_sums;  // 64 bits: a block may hold many millions of pixels
    oDIB m_result;
};

// Blends 4-byte red-green-blue-alpha pixels onto white, giving blue-green-red.
void CompositeRgbaOnWhite(const uint8_t* rgba, int32_t width, uint8_t* bgr_out);

}  // namespace scopa
