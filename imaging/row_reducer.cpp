#include "imaging/row_reducer.h"

#include <algorithm>
#include <cstring>

namespace scopa {

bool RowReducer::Start(vSIZE source_size, int factor, bool bottom_up) {
    m_source = source_size;
    m_factor = std::max(factor, 1);
    m_bottomUp = bottom_up;
    m_rowsPushed = 0;
    vSIZE reduced{int32_t((int64_t(source_size.cx) + m_factor - 1) / m_factor),
                  int32_t((int64_t(source_size.cy) + m_factor - 1) / m_factor)};
    if (!m_result.Create(reduced.cx, reduced.cy, 24)) return false;
    if (m_factor > 1) m_sums.assign(size_t(reduced.cx) * 3, 0);
    return true;
}

void RowReducer::PushRow(const uint8_t* bgr) {
    if (m_rowsPushed >= m_source.cy) return;
    int32_t y = m_bottomUp ? m_source.cy - 1 - m_rowsPushed : m_rowsPushed;
    ++m_rowsPushed;
    if (m_factor == 1) {
        std::memcpy(m_result.Row(y), bgr, size_t(m_source.cx) * 3);
        return;
    }
    // Sum each block's pixels of this row in 32 bits first (a row of one block is at most
    // 2^16 pixels of 255), then add to the band's 64-bit sums.
    uint64_t* sum = m_sums.data();
    for (int32_t x0 = 0; x0 < m_source.cx; x0 += m_factor, sum += 3) {
        int32_t x1 = std::min<int32_t>(x0 + m_factor, m_source.cx);
        uint32_t b = 0, g = 0, r = 0;
        for (const uint8_t* p = bgr + 3 * size_t(x0); p < bgr + 3 * size_t(x1); p += 3) {
            b += p[0];
            g += p[1];
            r += p[2];
        }
        sum[0] += b;
        sum[1] += g;
        sum[2] += r;
    }
    // Bands are aligned to the top row; a band is complete at its last row in arrival order.
    int32_t band = y / m_factor;
    int32_t band_top = band * m_factor;
    int32_t band_rows = std::min<int32_t>(m_factor, m_source.cy - band_top);
    bool complete = m_bottomUp ? y == band_top : y == band_top + band_rows - 1;
    if (complete) EmitBand(band, band_rows);
}

void RowReducer::EmitBand(int32_t band, int32_t rows_in_band) {
    uint8_t* out = m_result.Row(band);
    int32_t width = m_result.Width();
    for (int32_t x = 0; x < width; ++x) {
        uint32_t columns =
            uint32_t(std::min<int64_t>(m_factor, m_source.cx - int64_t(x) * m_factor));
        uint64_t count = uint64_t(columns) * uint64_t(rows_in_band);
        uint64_t* sum = &m_sums[size_t(x) * 3];
        for (int c = 0; c < 3; ++c) {
            out[3 * x + c] = uint8_t((sum[c] + count / 2) / count);
            sum[c] = 0;
        }
    }
}

void CompositeRgbaOnWhite(const uint8_t* rgba, int32_t width, uint8_t* bgr_out) {
    for (int32_t x = 0; x < width; ++x, rgba += 4, bgr_out += 3) {
        uint32_t alpha = rgba[3];
        uint32_t white = 255 * (255 - alpha);
        bgr_out[0] = uint8_t((rgba[2] * alpha + white + 127) / 255);
        bgr_out[1] = uint8_t((rgba[1] * alpha + white + 127) / 255);
        bgr_out[2] = uint8_t((rgba[0] * alpha + white + 127) / 255);
    }
}

}  // namespace scopa
