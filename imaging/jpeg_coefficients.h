// Coefficient memory for multi-scan (progressive) JPEG decoding. libjpeg keeps every DCT block
// of the picture while it decodes such a file, tens of megabytes for a photograph, and fresh
// memory costs a page fault per page. This store hands the decoder one buffer per thread that
// is reused from picture to picture, so a stream of thumbnails faults only on the largest.
#pragma once

#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

namespace scopa {

// Makes `info`'s whole-picture coefficient arrays come from the calling thread's reused store.
// Call after jpeg_create_decompress and before jpeg_start_decompress; one decoder per thread
// may use the store at a time. Running out of memory is reported through the library's error
// handler.
void UseReusedCoefficientMemory(j_decompress_ptr info);

// Frees the calling thread's store when it is larger than what is worth keeping between
// pictures (after a very large picture).
void TrimReusedCoefficientMemory();

}  // namespace scopa
