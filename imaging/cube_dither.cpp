#include "imaging/cube_dither.h"

#include <algorithm>

#include "imaging/palette.h"

namespace scopa {

namespace {

constexpr int32_t kChannels = 3;
constexpr int32_t kWeightRight = 7, kWeightBelowBehind = 3, kWeightBelow = 5, kWeightBelowAhead = 1,
                  kWeightTotal = 16;

// The error entry of column `x` (one spare column at each side).
size_t Slot(int32_t x, int32_t channel) {
    return size_t(x + 1) * kChannels + size_t(channel);
}

}  // namespace

CubeDitherer::CubeDitherer(int32_t width)
    : m_width(std::max(width, 0)),
      m_current(size_t(m_width + 2) * kChannels, 0),
      m_next(size_t(m_width + 2) * kChannels, 0) {}

void CubeDitherer::DitherRow(const oDIB& source, int32_t y, uint8_t* indexes) {
    const int32_t step = m_leftToRight ? 1 : -1;
    int32_t x = m_leftToRight ? 0 : m_width - 1;
    for (int32_t done = 0; done < m_width; ++done, x += step) {
        Rgb colour = source.PixelColour(x, y);
        const int32_t wanted[kChannels] = {colour.red, colour.green, colour.blue};
        int levels[kChannels];
        for (int32_t c = 0; c < kChannels; ++c) {
            int32_t value = std::clamp(wanted[c] + m_current[Slot(x, c)] / kWeightTotal, 0, 255);
            levels[c] = (value + kCubeStep / 2) / kCubeStep;
            int32_t error = value - levels[c] * kCubeStep;
            m_current[Slot(x + step, c)] += error * kWeightRight;
            m_next[Slot(x - step, c)] += error * kWeightBelowBehind;
            m_next[Slot(x, c)] += error * kWeightBelow;
            m_next[Slot(x + step, c)] += error * kWeightBelowAhead;
        }
        indexes[x] = CubeIndex(levels[0], levels[1], levels[2]);
    }
    std::swap(m_current, m_next);
    std::fill(m_next.begin(), m_next.end(), 0);
    m_leftToRight = !m_leftToRight;
}

}  // namespace scopa
