// libpng checks each chunk's declared length against the chunk limit (png_set_chunk_malloc_max)
// but, reading, only warns when a chunk is longer and then allocates its whole declared length,
// up to 2 GiB, before finding that the file holds far less. The readers' warning handlers ask
// this to turn that warning into the end of the read.
#pragma once

#include <png.h>

#include <cstring>

namespace scopa {

// True for libpng's warning about a chunk longer than the chunk limit, unless the chunk is
// image data, which libpng reads in small pieces whatever its length.
inline bool IsOverlongChunkWarning(png_structp png, png_const_charp message) {
    constexpr png_uint_32 kImageData = 0x49444154;  // "IDAT"
    return std::strstr(message, "chunk data is too large") != nullptr &&
           png_get_io_chunk_type(png) != kImageData;
}

}  // namespace scopa
