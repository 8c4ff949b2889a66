// Any bytes as a data file: reading the record at offset 0 (compressed when the first SeqId
// byte is odd, a slot record otherwise) must fail or succeed cleanly.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "cache/cache_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (file == nullptr) return 0;
    int32_t seq_id = size >= 4 ? static_cast<int32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                                      static_cast<uint32_t>(data[3]) << 24)
                               : 0;
    scopa::CacheThumbnail thumbnail;
    bool compressed = data[0] & 1;
    if (scopa::ReadCacheRecord(file, compressed, 0, seq_id, thumbnail)) {
        if (thumbnail.width < 0 || thumbnail.width > 128 || thumbnail.height < 0 ||
            thumbnail.height > 128) {
            __builtin_trap();
        }
    }
    std::fclose(file);
    return 0;
}
