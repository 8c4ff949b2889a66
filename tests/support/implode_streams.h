// Implode streams made once by the published library's compressor (through tests/storm) and
// kept in tests/implode_streams/, with the inputs they were made from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace scopa::test {

struct ImplodeStreamCase {
    std::string name;  // the stream is tests/implode_streams/<name>.imp
    std::vector<uint8_t> input;
    unsigned literal_mode;
    unsigned dictionary_bytes;
};

// A white cache block (long copies), every byte value in ASCII mode with a 1024-byte
// dictionary (the whole literal code), and copies of every length code at short and far
// distances with a 2048-byte dictionary.
std::vector<ImplodeStreamCase> ImplodeStreamCases();

// The checked-in stream of a case; empty when it cannot be read.
std::vector<uint8_t> ReadImplodeStream(const ImplodeStreamCase& c);

// The folder of real thumbnail blocks from the shared benchmark data: named by
// SCOPA_SHARED_BENCH_DIR, or found beside the checkout or beside the folder of worktrees.
// Empty when there is none.
std::filesystem::path SharedThumbnailBlocksDir();

}  // namespace scopa::test
