// Opens arbitrary bytes as a compound file and reads everything reachable in it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/compound_file.h"

namespace {

constexpr int kMaxDepth = 4;  // nested storages followed
constexpr size_t kMaxBytesPerRead = 1 << 16;

void ReadStream(scopa::OleStream& stream) {
    std::vector<uint8_t> buffer(kMaxBytesPerRead);
    stream.Read(buffer.data(), buffer.size());
    stream.Seek(-100, scopa::SeekOrigin::kEnd);
    auto clone = stream.Clone();
    clone->Read(buffer.data(), 200);
    stream.Stat(true);
}

void Walk(const scopa::OleStorage& storage, int depth) {
    if (depth > kMaxDepth) return;
    for (const scopa::StorageStat& element : storage.EnumElements()) {
        if (element.type == scopa::StorageElementType::kStream) {
            if (auto stream = storage.OpenStream(element.name, scopa::kStgmShareExclusive)) {
                ReadStream(*stream);
            }
        } else if (auto child = storage.OpenStorage(element.name, scopa::kStgmShareExclusive)) {
            Walk(*child, depth + 1);
        }
    }
    storage.OpenStream("Contents", scopa::kStgmShareExclusive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto root = scopa::OleStorage::OpenBytes(data, size)) Walk(*root, 0);
    return 0;
}
