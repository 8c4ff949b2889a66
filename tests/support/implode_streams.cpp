#include "support/implode_streams.h"

#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace scopa::test {
namespace {

using Bytes = std::vector<uint8_t>;

// A fixed linear congruential sequence, so the inputs never depend on the standard library.
struct Sequence {
    uint32_t state;
    uint8_t Next() {
        state = state * 1103515245u + 12345u;
        return static_cast<uint8_t>(state >> 16);
    }
};

Bytes EveryByte() {
    Bytes bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<uint8_t>(i));
    for (int i = 255; i >= 0; --i)
        bytes.push_back(static_cast<uint8_t>(i * 7));
    for (int i = 0; i < 300; ++i)
        bytes.push_back(bytes[static_cast<size_t>(i)]);
    return bytes;
}

// Noise, then repeats of each length from distances cycling from 1 to the whole dictionary,
// with three bytes of noise after each so they stay separate copies.
Bytes Copies() {
    Sequence noise{7};
    Bytes bytes;
    for (int i = 0; i < 2100; ++i)
        bytes.push_back(noise.Next());
    const unsigned lengths[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 16, 24, 40, 72, 136, 264, 518};
    const unsigned distances[] = {1, 4, 5, 64, 65, 255, 256, 257, 1000, 2048};
    unsigned next = 0;
    for (unsigned length : lengths) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            unsigned distance = distances[next++ % 10];
            if (length == 2 && distance > 256) distance = 256;  // as far as a pair reaches
            for (unsigned i = 0; i < length; ++i)
                bytes.push_back(bytes[bytes.size() - distance]);
            for (int i = 0; i < 3; ++i)
                bytes.push_back(noise.Next());
        }
    }
    return bytes;
}

}  // namespace

std::vector<ImplodeStreamCase> ImplodeStreamCases() {
    return {{"white", Bytes(16384, 235), 0, 4096},
            {"every-byte-ascii", EveryByte(), 1, 1024},
            {"copies", Copies(), 0, 2048}};
}

std::vector<uint8_t> ReadImplodeStream(const ImplodeStreamCase& c) {
    std::string bytes = ReadFileBytes(std::filesystem::path(SCOPA_SOURCE_DIR) / "tests" /
                                      "implode_streams" / (c.name + ".imp"));
    return Bytes(bytes.begin(), bytes.end());
}

std::filesystem::path SharedThumbnailBlocksDir() {
    namespace fs = std::filesystem;
    if (const char* dir = std::getenv("SCOPA_SHARED_BENCH_DIR")) {
        return fs::path(dir) / "thumbnail-blocks";
    }
    for (fs::path base = fs::path(SCOPA_SOURCE_DIR).parent_path(); !base.empty();
         base = base == base.parent_path() ? fs::path() : base.parent_path()) {
        if (fs::is_directory(base / "shared" / "bench" / "thumbnail-blocks")) {
            return base / "shared" / "bench" / "thumbnail-blocks";
        }
    }
    return {};
}

}  // namespace scopa::test
