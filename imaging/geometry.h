// Small value types shared by the bitmap layer: colours, sizes, points and rectangles.
#pragma once

#include <cstdint>

namespace scopa {

// A 24-bit colour.
struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

// A width and height in pixels.
struct vSIZE {
    int32_t cx = 0;
    int32_t cy = 0;
    friend constexpr bool operator==(const vSIZE&, const vSIZE&) = default;
};

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend constexpr bool operator==(const Point&, const Point&) = default;
};

// Right and bottom are exclusive, as in the drawing functions of the rest of the system.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    constexpr int32_t Width() const { return right - left; }
    constexpr int32_t Height() const { return bottom - top; }
    constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// value * numerator / denominator rounded to the nearest integer, halves away from zero,
// computed in 64 bits; -1 when the denominator is 0.
int32_t MulDiv(int32_t value, int32_t numerator, int32_t denominator);

}  // namespace scopa
