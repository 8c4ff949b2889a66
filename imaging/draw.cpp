#include "imaging/draw.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "imaging/palette.h"

namespace scopa {

uint32_t RawValueForColour(const oDIB& target, Rgb colour, const BlitColours& colours) {
    switch (target.BitCount()) {
        case 1:
            return colour == colours.background ? 1 : 0;
        case 4:
        case 8:
            return NearestCubeIndex(colour);
        case 16:
            return uint32_t(colour.red >> 3) << 10 | uint32_t(colour.green >> 3) << 5 |
                   uint32_t(colour.blue >> 3);
        default:
            return uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 | colour.blue;
    }
}

namespace {

// The source pixel as a raw value of the target's depth.
uint32_t ConvertedPixel(const oDIB& target, const oDIB& source, int32_t x, int32_t y,
                        const BlitColours& colours) {
    int target_bits = target.BitCount();
    if (source.BitCount() == target_bits && (target_bits > 8 || target_bits == 1)) {
        return source.RawPixel(x, y);
    }
    if (source.BitCount() == 8 && target_bits == 8) return source.RawPixel(x, y);
    if (source.BitCount() == 1) {
        Rgb colour = source.RawPixel(x, y) ? colours.background : colours.text;
        return RawValueForColour(target, colour, colours);
    }
    return RawValueForColour(target, source.PixelColour(x, y), colours);
}

uint32_t Combine(uint32_t target, uint32_t source, RasterOp op) {
    switch (op) {
        case RasterOp::kSrcCopy:
            return source;
        case RasterOp::kSrcInvert:
            return target ^ source;
        case RasterOp::kSrcAnd:
            return target & source;
        case RasterOp::kSrcPaint:
            return target | source;
    }
    return source;
}

void PlotSquare(oDIB& target, int32_t cx, int32_t cy, int pen_width_px, uint32_t raw) {
    int32_t first = -(pen_width_px - 1) / 2;
    for (int32_t dy = first; dy < first + pen_width_px; ++dy) {
        for (int32_t dx = first; dx < first + pen_width_px; ++dx) {
            int32_t x = cx + dx, y = cy + dy;
            if (x >= 0 && y >= 0 && x < target.Width() && y < target.Height()) {
                target.SetRawPixel(x, y, raw);
            }
        }
    }
}

// One axis of an area-weighted resampling: for each target index, the first source index,
// and the weights (summing to kWeightOne) of the source indices it covers.
constexpr uint32_t kWeightShift = 14;
constexpr uint32_t kWeightOne = 1u << kWeightShift;

struct AxisWeights {
    std::vector<int32_t> first;
    std::vector<int32_t> count;
    std::vector<uint32_t> weights;  // count[i] entries per target index, back to back
    std::vector<size_t> offset;
};

AxisWeights BuildAxisWeights(int32_t source_length, int32_t target_length) {
    AxisWeights axis;
    double scale = double(source_length) / double(target_length);
    for (int32_t d = 0; d < target_length; ++d) {
        double lo = d * scale, hi = (d + 1) * scale;
        int32_t first = std::min(int32_t(lo), source_length - 1);
        int32_t last = std::min(std::max(first, int32_t(hi - 1e-9)), source_length - 1);
        axis.first.push_back(first);
        axis.count.push_back(last - first + 1);
        axis.offset.push_back(axis.weights.size());
        uint32_t total = 0;
        size_t heaviest = axis.weights.size();
        uint32_t heaviest_weight = 0;
        for (int32_t s = first; s <= last; ++s) {
            double overlap = std::min(hi, double(s + 1)) - std::max(lo, double(s));
            uint32_t weight = uint32_t(std::max(0.0, overlap / (hi - lo)) * kWeightOne + 0.5);
            if (weight > heaviest_weight) {
                heaviest_weight = weight;
                heaviest = axis.weights.size();
            }
            axis.weights.push_back(weight);
            total += weight;
        }
        if (heaviest >= axis.weights.size()) heaviest = axis.offset.back();
        axis.weights[heaviest] += kWeightOne - total;  // exact sum, so flat areas stay flat
    }
    return axis;
}

// Source row y as blue, green, red bytes: the row itself for 24-bit sources.
const uint8_t* SourceRowBgr(const oDIB& source, int32_t y, std::vector<uint8_t>& scratch) {
    if (source.BitCount() == 24) return source.Row(y);
    scratch.resize(size_t(source.Width()) * 3);
    for (int32_t x = 0; x < source.Width(); ++x) {
        Rgb colour = source.PixelColour(x, y);
        scratch[3 * size_t(x)] = colour.blue;
        scratch[3 * size_t(x) + 1] = colour.green;
        scratch[3 * size_t(x) + 2] = colour.red;
    }
    return scratch.data();
}

void StorePixel(oDIB& target, int32_t x, int32_t y, const uint32_t* bgr) {
    if (target.BitCount() == 24 || target.BitCount() == 32) {
        uint8_t* p = target.Row(y) + size_t(x) * size_t(target.BitCount() / 8);
        p[0] = uint8_t(bgr[0]);
        p[1] = uint8_t(bgr[1]);
        p[2] = uint8_t(bgr[2]);
        return;
    }
    target.SetRawPixel(
        x, y, RawValueForColour(target, {uint8_t(bgr[2]), uint8_t(bgr[1]), uint8_t(bgr[0])}));
}

}  // namespace

void FillRect(oDIB& target, Rect rect, Rgb colour) {
    int32_t left = std::max(rect.left, 0), right = std::min(rect.right, target.Width());
    int32_t top = std::max(rect.top, 0), bottom = std::min(rect.bottom, target.Height());
    if (left >= right || top >= bottom) return;
    uint32_t raw = RawValueForColour(target, colour);
    if (target.BitCount() == 24) {
        for (int32_t y = top; y < bottom; ++y) {
            uint8_t* p = target.Row(y) + 3 * size_t(left);
            for (int32_t x = left; x < right; ++x, p += 3) {
                p[0] = colour.blue;
                p[1] = colour.green;
                p[2] = colour.red;
            }
        }
        return;
    }
    for (int32_t y = top; y < bottom; ++y) {
        for (int32_t x = left; x < right; ++x)
            target.SetRawPixel(x, y, raw);
    }
}

void Polyline(oDIB& target, std::span<const Point> points, int pen_width_px, Rgb colour) {
    if (pen_width_px < 1) pen_width_px = 1;
    uint32_t raw = RawValueForColour(target, colour);
    for (size_t i = 1; i < points.size(); ++i) {
        int64_t x = points[i - 1].x, y = points[i - 1].y;
        int64_t x1 = points[i].x, y1 = points[i].y;
        int64_t dx = std::llabs(x1 - x), dy = -std::llabs(y1 - y);
        int64_t step_x = x < x1 ? 1 : -1, step_y = y < y1 ? 1 : -1;
        int64_t error = dx + dy;
        while (x != x1 || y != y1) {
            PlotSquare(target, int32_t(x), int32_t(y), pen_width_px, raw);
            int64_t doubled = 2 * error;
            if (doubled >= dy) {
                error += dy;
                x += step_x;
            }
            if (doubled <= dx) {
                error += dx;
                y += step_y;
            }
        }
    }
}

void BitBlt(oDIB& target, int32_t x, int32_t y, int32_t width, int32_t height, const oDIB& source,
            int32_t source_x, int32_t source_y, RasterOp op, const BlitColours& colours) {
    for (int32_t row = 0; row < height; ++row) {
        int32_t ty = y + row, sy = source_y + row;
        if (ty < 0 || sy < 0 || ty >= target.Height() || sy >= source.Height()) continue;
        for (int32_t column = 0; column < width; ++column) {
            int32_t tx = x + column, sx = source_x + column;
            if (tx < 0 || sx < 0 || tx >= target.Width() || sx >= source.Width()) continue;
            uint32_t value = ConvertedPixel(target, source, sx, sy, colours);
            target.SetRawPixel(tx, ty, Combine(target.RawPixel(tx, ty), value, op));
        }
    }
}

void StretchBlt(oDIB& target, Rect target_rect, const oDIB& source, Rect source_rect, RasterOp op,
                const BlitColours& colours) {
    if (target_rect.IsEmpty() || source_rect.IsEmpty()) return;
    for (int32_t ty = std::max(target_rect.top, 0);
         ty < std::min(target_rect.bottom, target.Height()); ++ty) {
        int32_t sy = source_rect.top + int32_t(int64_t(ty - target_rect.top) *
                                               source_rect.Height() / target_rect.Height());
        if (sy < 0 || sy >= source.Height()) continue;
        for (int32_t tx = std::max(target_rect.left, 0);
             tx < std::min(target_rect.right, target.Width()); ++tx) {
            int32_t sx = source_rect.left + int32_t(int64_t(tx - target_rect.left) *
                                                    source_rect.Width() / target_rect.Width());
            if (sx < 0 || sx >= source.Width()) continue;
            uint32_t value = ConvertedPixel(target, source, sx, sy, colours);
            target.SetRawPixel(tx, ty, Combine(target.RawPixel(tx, ty), value, op));
        }
    }
}

oDIB MakeMask(const oDIB& source, Rgb key) {
    oDIB mask;
    if (!mask.Create(source.Width(), source.Height(), 1)) return mask;
    mask.ColourTable() = {RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}};
    for (int32_t y = 0; y < source.Height(); ++y) {
        for (int32_t x = 0; x < source.Width(); ++x) {
            mask.SetRawPixel(x, y, source.PixelColour(x, y) == key ? 1 : 0);
        }
    }
    return mask;
}

void DrawDibScaled(oDIB& target, Rect target_rect, const oDIB& source) {
    if (target_rect.IsEmpty() || source.IsEmpty()) return;
    AxisWeights columns = BuildAxisWeights(source.Width(), target_rect.Width());
    AxisWeights rows = BuildAxisWeights(source.Height(), target_rect.Height());
    int32_t first_x = std::max(target_rect.left, 0);
    int32_t last_x = std::min(target_rect.right, target.Width());
    if (first_x >= last_x) return;
    std::vector<uint32_t> horizontal(size_t(target_rect.Width()) * 3);
    std::vector<uint32_t> accumulated(horizontal.size());
    std::vector<uint8_t> scratch;
    for (int32_t ty = std::max(target_rect.top, 0);
         ty < std::min(target_rect.bottom, target.Height()); ++ty) {
        size_t row_index = size_t(ty - target_rect.top);
        std::fill(accumulated.begin(), accumulated.end(), 0);
        for (int32_t k = 0; k < rows.count[row_index]; ++k) {
            uint32_t row_weight = rows.weights[rows.offset[row_index] + size_t(k)];
            if (row_weight == 0) continue;
            const uint8_t* bgr = SourceRowBgr(source, rows.first[row_index] + k, scratch);
            for (int32_t tx = first_x; tx < last_x; ++tx) {
                size_t column = size_t(tx - target_rect.left);
                const uint32_t* weights = &columns.weights[columns.offset[column]];
                const uint8_t* p = bgr + size_t(columns.first[column]) * 3;
                uint32_t b = 0, g = 0, r = 0;
                for (int32_t j = 0; j < columns.count[column]; ++j, p += 3) {
                    b += p[0] * weights[j];
                    g += p[1] * weights[j];
                    r += p[2] * weights[j];
                }
                // Keep 8 of the 14 fractional bits between the passes, so that the product
                // with the row weight stays within 32 bits; the sum ends at 14 again.
                uint32_t* out = &accumulated[column * 3];
                out[0] += (b >> 6) * row_weight >> 8;
                out[1] += (g >> 6) * row_weight >> 8;
                out[2] += (r >> 6) * row_weight >> 8;
            }
        }
        for (int32_t tx = first_x; tx < last_x; ++tx) {
            uint32_t* sum = &accumulated[size_t(tx - target_rect.left) * 3];
            uint32_t bgr[3];
            for (int c = 0; c < 3; ++c) {
                bgr[c] =
                    std::min<uint32_t>(255, (sum[c] + (1u << (kWeightShift - 1))) >> kWeightShift);
            }
            StorePixel(target, tx, ty, bgr);
        }
    }
}

}  // namespace scopa
