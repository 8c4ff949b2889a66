#include "shell/item_id_list.h"

#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace scopa {

namespace {

constexpr size_t kTerminatorBytes = 2;

size_t ItemBytes(const ItemIdList* item) {
    return static_cast<size_t>(item[0] | (item[1] << 8));
}

// The bytes of the items before the terminator (a damaged count ends the list there).
size_t ItemsBytes(const ItemIdList* list) {
    size_t total = 0;
    for (const ItemIdList* item = list; item != nullptr && ItemBytes(item) >= kTerminatorBytes;
         item = IdlNext(item)) {
        total += ItemBytes(item);
    }
    return total;
}

UniqueIdList CopyBytes(const ItemIdList* bytes, size_t items_bytes) {
    UniqueIdList copy(ShellAlloc(items_bytes + kTerminatorBytes));
    if (copy && items_bytes > 0) std::memcpy(copy.get(), bytes, items_bytes);
    return copy;  // the block is zero-filled, so the terminator is already there
}

UniqueIdList CopyParsed(const std::optional<std::vector<std::uint8_t>>& parsed) {
    if (!parsed || parsed->size() < kTerminatorBytes) return nullptr;
    return CopyBytes(parsed->data(), parsed->size() - kTerminatorBytes);
}

}  // namespace

ItemIdList* ShellAlloc(size_t size) {
    if (size == 0) return nullptr;
    return static_cast<ItemIdList*>(std::calloc(size, 1));
}

void ShellFree(ItemIdList* list) {
    std::free(list);
}

const ItemIdList* IdlNext(const ItemIdList* item) {
    if (item == nullptr) return nullptr;
    size_t cb = ItemBytes(item);
    return cb < kTerminatorBytes ? nullptr : item + cb;
}

size_t IdlGetSize(const ItemIdList* list) {
    return list == nullptr ? 0 : ItemsBytes(list) + kTerminatorBytes;
}

size_t IdlCount(const ItemIdList* list) {
    size_t count = 0;
    for (const ItemIdList* item = list; item != nullptr && ItemBytes(item) >= kTerminatorBytes;
         item = IdlNext(item)) {
        ++count;
    }
    return count;
}

UniqueIdList IdlClone(const ItemIdList* list) {
    if (list == nullptr) return nullptr;
    return CopyBytes(list, ItemsBytes(list));
}

UniqueIdList IdlCopyItem(const ItemIdList* list, size_t n) {
    if (list == nullptr || n == 0) return nullptr;
    const ItemIdList* item = list;
    for (size_t i = 1; i < n && item != nullptr && ItemBytes(item) >= kTerminatorBytes; ++i) {
        item = IdlNext(item);
    }
    if (item == nullptr || ItemBytes(item) < kTerminatorBytes) return nullptr;
    return CopyBytes(item, ItemBytes(item));
}

UniqueIdList IdlCopyFirst(const ItemIdList* list, size_t n) {
    size_t bytes = 0;
    const ItemIdList* item = list;
    for (size_t i = 0; i < n && item != nullptr && ItemBytes(item) >= kTerminatorBytes; ++i) {
        bytes += ItemBytes(item);
        item = IdlNext(item);
    }
    return CopyBytes(list, bytes);
}

UniqueIdList IdlCombine(const ItemIdList* a, const ItemIdList* b) {
    if (a == nullptr && b == nullptr) return nullptr;
    if (a == nullptr) return IdlClone(b);
    if (b == nullptr) return IdlClone(a);
    size_t a_bytes = ItemsBytes(a);
    size_t b_bytes = ItemsBytes(b);
    UniqueIdList combined(ShellAlloc(a_bytes + b_bytes + kTerminatorBytes));
    if (!combined) return nullptr;
    if (a_bytes > 0) std::memcpy(combined.get(), a, a_bytes);
    if (b_bytes > 0) std::memcpy(combined.get() + a_bytes, b, b_bytes);
    return combined;
}

UniqueIdList ParseDisplayPath(std::string_view text) {
    return CopyParsed(ParseDesktopDisplayName(text));
}

UniqueIdList ParseDisplayPath(std::string_view text, const struct stat& entry_status) {
    return CopyParsed(ParseDesktopDisplayName(text, entry_status));
}

std::shared_ptr<ShellFolder> BindToFolder(const ItemIdList* list, size_t n) {
    std::shared_ptr<ShellFolder> folder = ShellFolder::Desktop();
    for (size_t i = 1; i <= n; ++i) {
        UniqueIdList item = IdlCopyItem(list, i);
        if (!item) continue;
        if (std::shared_ptr<ShellFolder> child = folder->BindToObject(item.get())) {
            folder = std::move(child);
        }
    }
    return folder;
}

std::string NormalizePathText(std::string_view text) {
    std::string normal = ToUpperAscii(text);
    if (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

bool SamePathText(std::string_view a, std::string_view b) {
    return NormalizePathText(a) == NormalizePathText(b);
}

}  // namespace scopa
