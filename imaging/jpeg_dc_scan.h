// Sequential JPEG pictures read at 1/8 from their DC coefficients. At that scale libjpeg-turbo
// turns each 8 x 8 block of full-resolution components into one pixel, its DC coefficient over
// eight, yet still decodes every AC coefficient of the block on the way. This reader walks past
// those AC codes instead, one table lookup consuming a Huffman code and its extra bits
// together, and gives the pixels libjpeg-turbo gives at 1/8 with simple upsampling: the same
// rounding and range limiting, the same block sizes for reduced chroma, the same colour tables.
//
// A picture is read here only when it is 8-bit, sequential, Huffman-coded, greyscale or YCbCr,
// in one scan; anything else, and any fault in its entropy-coded data, leaves it to the
// library (kNotRead), which then decides what the picture shows.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "imaging/dib.h"
#include "imaging/stream.h"

namespace scopa {

// The most components a picture read here has (greyscale 1, YCbCr 3).
inline constexpr int kMaxDcScanComponents = 3;

struct DcScanComponent {
    int h_samp = 1;
    int v_samp = 1;
    // Pixels per side each block becomes: 1 (the DC over eight), or 2 for chroma stored at a
    // quarter of the area, which the library scales less and so decodes with its AC too.
    int block_px = 1;
    const JHUFF_TBL* dc_table = nullptr;
    const JHUFF_TBL* ac_table = nullptr;
    const JQUANT_TBL* quant_table = nullptr;
};

struct DcScanLayout {
    uint32_t width = 0;  // as stored
    uint32_t height = 0;
    int component_count = 0;
    // In the frame's order: Y, Cb, Cr.
    std::array<DcScanComponent, kMaxDcScanComponents> components{};
    // The frame component of each component of the scan, in the scan's order.
    std::array<int, kMaxDcScanComponents> scan_order{};
    unsigned restart_interval = 0;  // in MCUs; 0 without restart markers
};

// Describes the picture whose header `info` has just read, when this reader can read it at
// 1/8; false otherwise. Sets `info` to scale by 1/8 (which decides the chroma block sizes).
bool DescribeDcScan(j_decompress_ptr info, DcScanLayout& layout);

enum class DcScanResult { kDone, kNotRead, kInterrupted };
// Called after each output row with the number of rows done; false stops the read.
using DcScanRowCallback = bool (*)(void* user, int32_t rows_done);

// Reads the scan whose entropy-coded data starts with `buffered` and goes on in `rest` into a
// 24-bit bitmap of ceil(width / 8) x ceil(height / 8) pixels. The stream is read up to the
// marker that ends the scan (or its end); its position is then undefined.
DcScanResult ReadDcScan(const DcScanLayout& layout, std::span<const uint8_t> buffered,
                        vSTREAM& rest, oDIB& out, DcScanRowCallback on_row, void* user);

// Frees the calling thread's reused scan memory when it is larger than what is worth keeping
// between pictures.
void TrimDcScanMemory();

}  // namespace scopa
