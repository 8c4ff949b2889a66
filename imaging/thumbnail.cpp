#include "imaging/thumbnail.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/palette.h"
#include "imaging/picture.h"

namespace scopa {
namespace {

constexpr int kDepth24 = 24;
constexpr int kDepth16 = 16;
constexpr int kDepth8 = 8;

// Quantisation and error-share tables. Sums of a quantised value and its carried error lie in
// -1..511: the error of a rest of 8 splits into shares 4, 2, 3 and -1, and that -1 below-right
// share is the one negative value an entry can hold. Entries are therefore signed and the
// tables start at -1, which quantises like 0, so no entry ever reads as a large error.
constexpr int kValueOffset = 1;
constexpr int kValueCount = 512 + kValueOffset;
constexpr int kRestCount = kCubeStep;

// What one quantised value v leads to: its level and the four shares of its rest, looked up in
// one step (the level and rest tables and the share tables, composed).
struct QuantStep {
    int16_t level;
    int16_t right;
    int16_t below_left;
    int16_t below;
    int16_t below_right;
};

struct DitherTables {
    std::array<uint8_t, kValueCount> level{};
    std::array<uint8_t, kValueCount> rest{};
    std::array<int16_t, kRestCount> right{};
    std::array<int16_t, kRestCount> below_left{};
    std::array<int16_t, kRestCount> below{};
    std::array<int16_t, kRestCount> below_right{};
    std::array<QuantStep, kValueCount> step{};
};

DitherTables BuildTables() {
    DitherTables tables;
    for (int v = 0; v < 512; ++v) {
        tables.level[size_t(v + kValueOffset)] = uint8_t(v < 256 ? v / kCubeStep : 5);
        tables.rest[size_t(v + kValueOffset)] = uint8_t(v < 256 ? v % kCubeStep : 0);
    }
    for (int e = 0; e < kRestCount; ++e) {
        auto index = size_t(e);
        tables.right[index] = int16_t(MulDiv(e, 7, 16));
        tables.below_left[index] = int16_t(MulDiv(e, 3, 16));
        tables.below[index] = int16_t(MulDiv(e, 5, 16));
        tables.below_right[index] =
            int16_t(e - tables.right[index] - tables.below_left[index] - tables.below[index]);
    }
    for (size_t v = 0; v < kValueCount; ++v) {
        size_t rest = tables.rest[v];
        tables.step[v] = {int16_t(tables.level[v]), tables.right[rest], tables.below_left[rest],
                          tables.below[rest], tables.below_right[rest]};
    }
    return tables;
}

// Each routine builds its own copy on first 8-bit use, as each keeps its own state.
const DitherTables& ThumbnailTables() {
    static const DitherTables tables = BuildTables();
    return tables;
}
const DitherTables& DibTables() {
    static const DitherTables tables = BuildTables();
    return tables;
}

size_t OutputStride(int32_t out_width, int depth) {
    size_t bytes_per_pixel = depth == kDepth24 ? 3 : depth == kDepth16 ? 2 : 1;
    return (size_t(out_width) * bytes_per_pixel + 3) & ~size_t(3);
}

// Where the halving reads and writes: source row i of the walk, output row j of the walk.
struct HalvingJob {
    const uint8_t* source = nullptr;  // 24-bit rows, `source_stride` apart, in walk order
    ptrdiff_t source_step = 0;        // bytes from one walked source row to the next
    uint8_t* out = nullptr;
    int32_t out_width = 0;
    int32_t out_height = 0;
    int16_t* error_rows = nullptr;  // two rows of (out_width + 2) * 3 entries
};

void HalveTrueColour(const HalvingJob& job, int depth) {
    size_t out_stride = OutputStride(job.out_width, depth);
    for (int32_t y = 0; y < job.out_height; ++y) {
        const uint8_t* top = job.source + 2 * y * job.source_step;
        const uint8_t* bottom = top + job.source_step;
        uint8_t* out = job.out + size_t(y) * out_stride;
        for (int32_t x = 0; x < job.out_width; ++x, top += 6, bottom += 6) {
            uint32_t blue = top[0] + top[3] + bottom[0] + bottom[3];
            uint32_t green = top[1] + top[4] + bottom[1] + bottom[4];
            uint32_t red = top[2] + top[5] + bottom[2] + bottom[5];
            if (depth == kDepth24) {
                *out++ = uint8_t(blue >> 2);
                *out++ = uint8_t(green >> 2);
                *out++ = uint8_t(red >> 2);
            } else {
                uint32_t word = (red >> 5) << 10 | (green >> 5) << 5 | (blue >> 5);
                *out++ = uint8_t(word);
                *out++ = uint8_t(word >> 8);
            }
        }
    }
}

void HalveDithered(const HalvingJob& job, const DitherTables& tables) {
    size_t out_stride = OutputStride(job.out_width, kDepth8);
    size_t row_entries = size_t(job.out_width + 2) * 3;
    int16_t* current = job.error_rows;
    int16_t* next = job.error_rows + row_entries;
    std::fill(current, current + row_entries, int16_t(0));
    for (int32_t y = 0; y < job.out_height; ++y) {
        if (y > 0) std::swap(current, next);
        std::fill(next, next + row_entries, int16_t(0));
        const uint8_t* top = job.source + 2 * y * job.source_step;
        const uint8_t* bottom = top + job.source_step;
        uint8_t* out = job.out + size_t(y) * out_stride;
        // The share for the pixel to the right is carried in `right` rather than added to the
        // current row's next entry: the same sum, without a store and reload per channel.
        int right_blue = 0, right_green = 0, right_red = 0;
        for (int32_t x = 0; x < job.out_width; ++x, top += 6, bottom += 6) {
            // Entry x + 1 is this column; x and x + 2 are its neighbours.
            const int16_t* here = current + size_t(x + 1) * 3;
            int16_t* below = next + size_t(x + 1) * 3;
            auto channel = [&](int c, int& right) {
                int sum = top[c] + top[c + 3] + bottom[c] + bottom[c + 3];
                int v = std::clamp((sum >> 2) + here[c] + right, -kValueOffset, 511);
                const QuantStep& step = tables.step[size_t(v + kValueOffset)];
                right = step.right;
                below[c - 3] = int16_t(below[c - 3] + step.below_left);
                below[c] = int16_t(below[c] + step.below);
                below[c + 3] = int16_t(below[c + 3] + step.below_right);
                return step.level;
            };
            // Channels are blue, green, red in the source.
            int blue = channel(0, right_blue);
            int green = channel(1, right_green);
            int red = channel(2, right_red);
            out[x] = CubeIndex(red, green, blue);
        }
    }
}

void RunHalving(const HalvingJob& job, int& depth, const DitherTables& (*tables)()) {
    if (depth == kDepth24 || depth == kDepth16) {
        HalveTrueColour(job, depth);
        return;
    }
    depth = kDepth8;
    HalveDithered(job, tables());
}

// 24-bit rows of the source: the bitmap's own rows when it already is 24-bit.
// Null when the conversion's memory cannot be had.
const uint8_t* Source24(const oDIB& source, std::vector<uint8_t>& converted) {
    if (source.BitCount() == kDepth24) return source.Row(0);
    oDIB copy = source.ConvertTo24();
    if (copy.IsEmpty()) return nullptr;
    converted.assign(copy.Bits().begin(), copy.Bits().end());
    return converted.data();
}

}  // namespace

size_t HalvedImageBytes(int32_t width_px, int32_t height_px, int depth) {
    if (width_px < 2 || height_px < 2) return 0;
    return OutputStride(width_px / 2, depth) * size_t(height_px / 2);
}

void HalveToThumbnail(const oDIB& source, uint8_t* out, int& depth) {
    // Working memory reused by every call on a thread: error rows for a 128-pixel-wide output.
    thread_local int16_t error_rows[2 * (kThumbnailSidePx + 2) * 3];
    thread_local std::vector<uint8_t> converted;
    if (depth != kDepth24 && depth != kDepth16) depth = kDepth8;
    if (source.Width() < 2 || source.Height() < 2) return;
    HalvingJob job;
    job.source = Source24(source, converted);
    if (job.source == nullptr) return;
    job.source_step = ptrdiff_t(DibStride(source.Width(), kDepth24));
    job.out = out;
    job.out_width = source.Width() / 2;
    job.out_height = source.Height() / 2;
    std::vector<int16_t> wide_rows;
    job.error_rows = error_rows;
    if (job.out_width > kThumbnailSidePx) {
        wide_rows.resize(2 * size_t(job.out_width + 2) * 3);
        job.error_rows = wide_rows.data();
    }
    RunHalving(job, depth, ThumbnailTables);
}

bool HalveToDib(const oDIB& source, uint8_t* out, int& depth) {
    if (source.Width() < 2 || source.Height() < 2) {
        if (depth != kDepth24 && depth != kDepth16) depth = kDepth8;
        return true;
    }
    std::vector<uint8_t> converted;
    std::vector<int16_t> error_rows;
    try {
        error_rows.resize(2 * size_t(source.Width() / 2 + 2) * 3);
        HalvingJob job;
        job.source = Source24(source, converted);
        if (job.source == nullptr) return false;
        // The walk runs bottom-up, as the rows of a DIB of positive height are stored.
        ptrdiff_t stride = ptrdiff_t(DibStride(source.Width(), kDepth24));
        job.source += stride * (source.Height() - 1);
        job.source_step = -stride;
        job.out = out;
        job.out_width = source.Width() / 2;
        job.out_height = source.Height() / 2;
        job.error_rows = error_rows.data();
        RunHalving(job, depth, DibTables);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

oDIB ThumbnailToDib(const uint8_t* pixels, vSIZE covered) {
    oDIB dib;
    if (covered.cx < 1 || covered.cy < 1 || covered.cx > kThumbnailSidePx ||
        covered.cy > kThumbnailSidePx || !dib.Create(covered.cx, covered.cy, kDepth8)) {
        return oDIB();
    }
    const auto& palette = ScreenPalette();
    dib.ColourTable().assign(palette.begin(), palette.end());
    for (int32_t y = 0; y < covered.cy; ++y) {
        std::memcpy(dib.Row(y), pixels + size_t(y) * kThumbnailSidePx, size_t(covered.cx));
    }
    return dib;
}

int RenderForCache(PictureLoadObserver* observer, const std::string& path, oDIB& render,
                   vSIZE& rendered) {
    if ((render.Width() != kRenderSidePx || render.Height() != kRenderSidePx ||
         render.BitCount() != kDepth24) &&
        !render.Create(kRenderSidePx, kRenderSidePx, kDepth24)) {
        NotePictureFailure(path, {FailureKind::kResource, "no memory for the render"});
        return kLoadFailed;
    }
    oDIB dib;
    vMETAFILE metafile;
    int kind = kFilterTypeNone;
    int result = LoadPicture(observer, path, dib, metafile, kind, kAutomaticResolution);
    if (result != kLoadRead) return result;
    rendered = RenderPicture(render, kind, dib, metafile);
    return result;
}

void HalveRenderToThumbnail(const oDIB& render, vSIZE rendered, uint8_t* out, vSIZE& covered) {
    covered = {rendered.cx / 2, rendered.cy / 2};
    int depth = kDepth8;
    HalveToThumbnail(render, out, depth);
}

int RenderCachePreview(PictureLoadObserver* observer, const std::string& path, uint8_t* out,
                       vSIZE& covered) {
    // The render target is reused by every call on a thread.
    thread_local oDIB render;
    vSIZE rendered{};
    int result = RenderForCache(observer, path, render, rendered);
    if (result == kLoadRead) HalveRenderToThumbnail(render, rendered, out, covered);
    return result;
}

}  // namespace scopa
