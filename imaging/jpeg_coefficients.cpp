#include "imaging/jpeg_coefficients.h"

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>
// clang-format off
#include <jerror.h>
// clang-format on

namespace scopa {
namespace {

// A store up to this size is kept for the next picture: it covers the DC decoding of a
// 5120 x 2880 picture with full-resolution chroma.
constexpr size_t kKeptBytes = size_t(96) << 20;

// Huge pages are this large: a store aligned to them faults once per 2 MiB instead of once per
// 4 KiB page, where the system grants them on request.
constexpr size_t kHugePageBytes = size_t(2) << 20;

// Anonymous memory for the blocks, asked to be backed by huge pages. Fresh memory reads as
// zeros.
class BlockMemory {
public:
    BlockMemory() = default;
    BlockMemory(const BlockMemory&) = delete;
    BlockMemory& operator=(const BlockMemory&) = delete;
    ~BlockMemory() { Release(); }

    // Maps room for `blocks` blocks; false when the memory cannot be had.
    bool Map(size_t blocks) {
        Release();
        size_t bytes = blocks * sizeof(JBLOCK) + kHugePageBytes;
        void* base =
            mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return false;
        m_base = base;
        m_bytes = bytes;
        auto aligned =
            (reinterpret_cast<uintptr_t>(base) + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
        m_blocks = reinterpret_cast<JBLOCKROW>(aligned);
        madvise(m_blocks, blocks * sizeof(JBLOCK), MADV_HUGEPAGE);
        m_capacity = blocks;
        m_fresh = true;
        return true;
    }
    void Release() {
        if (m_base != nullptr) munmap(m_base, m_bytes);
        m_base = nullptr;
        m_bytes = 0;
        m_blocks = nullptr;
        m_capacity = 0;
    }
    JBLOCKROW Blocks() const { return m_blocks; }
    size_t Capacity() const { return m_capacity; }
    // True until the memory is first handed out, while it still reads as zeros.
    bool TakeFresh() {
        bool fresh = m_fresh;
        m_fresh = false;
        return fresh;
    }

private:
    void* m_base = nullptr;
    size_t m_bytes = 0;
    JBLOCKROW m_blocks = nullptr;
    size_t m_capacity = 0;
    bool m_fresh = false;
};

// One array the decoder asked for, placed in the store when the arrays are realized.
struct BlockArray {
    JDIMENSION blocks_per_row = 0;
    JDIMENSION rows = 0;
    bool pre_zero = false;
    JBLOCKROW* row_pointers = nullptr;
};

struct CoefficientStore {
    // A decoder asks for one array per component, at most MAX_COMPONENTS.
    std::array<BlockArray, MAX_COMPONENTS> arrays;
    int array_count = 0;
    BlockMemory blocks;
    std::vector<JBLOCKROW> row_pointers;
    void (*library_realize)(j_common_ptr) = nullptr;
};

CoefficientStore& ThreadStore() {
    thread_local CoefficientStore store;
    return store;
}

jvirt_barray_ptr RequestArray(j_common_ptr info, int, boolean pre_zero, JDIMENSION blocks_per_row,
                              JDIMENSION rows, JDIMENSION) {
    CoefficientStore& store = ThreadStore();
    if (store.array_count == MAX_COMPONENTS) ERREXIT(info, JERR_OUT_OF_MEMORY);
    BlockArray& array = store.arrays[size_t(store.array_count++)];
    array = {blocks_per_row, rows, pre_zero != FALSE, nullptr};
    return reinterpret_cast<jvirt_barray_ptr>(&array);
}

// Places every requested array in the store, growing it when needed; the library realizes
// whatever else it was asked for.
void RealizeArrays(j_common_ptr info) {
    CoefficientStore& store = ThreadStore();
    size_t blocks = 0, rows = 0;
    for (int i = 0; i < store.array_count; ++i) {
        blocks += size_t(store.arrays[size_t(i)].blocks_per_row) * store.arrays[size_t(i)].rows;
        rows += store.arrays[size_t(i)].rows;
    }
    if (blocks > store.blocks.Capacity() && !store.blocks.Map(blocks)) {
        ERREXIT(info, JERR_OUT_OF_MEMORY);
    }
    bool zeroed = store.blocks.TakeFresh();
    if (rows > store.row_pointers.capacity()) {
        store.row_pointers.reserve(rows);  // small: one pointer per row of blocks
    }
    store.row_pointers.resize(rows);
    JBLOCKROW next_block = store.blocks.Blocks();
    JBLOCKROW* next_row = store.row_pointers.data();
    for (int i = 0; i < store.array_count; ++i) {
        BlockArray& array = store.arrays[size_t(i)];
        array.row_pointers = next_row;
        size_t array_blocks = size_t(array.blocks_per_row) * array.rows;
        if (array.pre_zero && !zeroed) std::memset(next_block, 0, array_blocks * sizeof(JBLOCK));
        for (JDIMENSION row = 0; row < array.rows; ++row) {
            *next_row++ = next_block + size_t(row) * array.blocks_per_row;
        }
        next_block += array_blocks;
    }
    store.library_realize(info);
}

JBLOCKARRAY AccessArray(j_common_ptr info, jvirt_barray_ptr handle, JDIMENSION start_row,
                        JDIMENSION row_count, boolean) {
    auto* array = reinterpret_cast<BlockArray*>(handle);
    if (array->row_pointers == nullptr || start_row + row_count > array->rows) {
        ERREXIT(info, JERR_BAD_VIRTUAL_ACCESS);
    }
    return array->row_pointers + start_row;
}

}  // namespace

void UseReusedCoefficientMemory(j_decompress_ptr info) {
    CoefficientStore& store = ThreadStore();
    store.array_count = 0;
    store.library_realize = info->mem->realize_virt_arrays;
    info->mem->request_virt_barray = RequestArray;
    info->mem->realize_virt_arrays = RealizeArrays;
    info->mem->access_virt_barray = AccessArray;
}

void TrimReusedCoefficientMemory() {
    CoefficientStore& store = ThreadStore();
    if (store.blocks.Capacity() * sizeof(JBLOCK) > kKeptBytes) store.blocks.Release();
}

}  // namespace scopa
