// Item-ID lists: the addresses of items in the shell namespace (platform/shell_namespace.h).
// A list is a run of items, each starting with a 16-bit little-endian byte count `cb` that
// includes the count itself, ended by an item whose cb is 0 (two zero bytes). An absolute
// list starts at the Desktop; the list holding only the terminator is the Desktop itself.
// Lists made here are zero-filled blocks of the shell allocator, freed with ShellFree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/shell_namespace.h"

namespace scopa {

using ItemIdList = std::uint8_t;  // the first byte of a list or item

// A zero-filled block of `size` bytes; null for 0 or when memory is short.
ItemIdList* ShellAlloc(size_t size);
// Frees a block of ShellAlloc; null is ignored.
void ShellFree(ItemIdList* list);

struct ShellFreeDeleter {
    void operator()(ItemIdList* list) const { ShellFree(list); }
};
using UniqueIdList = std::unique_ptr<ItemIdList, ShellFreeDeleter>;

// The item after `item` (cb bytes further); null for null. A count below 2 cannot be stepped
// over and gives null too, so a damaged list ends instead of looping.
const ItemIdList* IdlNext(const ItemIdList* item);
// Bytes of the list including its terminator; 0 for null.
size_t IdlGetSize(const ItemIdList* list);
// Items before the terminator; 0 for null.
size_t IdlCount(const ItemIdList* list);
UniqueIdList IdlClone(const ItemIdList* list);
// The n-th item (counted from 1) as a one-item list; null when the list is null, n is 0 or
// beyond the end.
UniqueIdList IdlCopyItem(const ItemIdList* list, size_t n);
// The first n items with a terminator (n beyond the end: the whole list).
UniqueIdList IdlCopyFirst(const ItemIdList* list, size_t n);
// The items of a followed by all of b; a copy of the other when one is null; null for both.
UniqueIdList IdlCombine(const ItemIdList* a, const ItemIdList* b);

// Parses a display name on the Desktop into an absolute list, or null.
UniqueIdList ParseDisplayPath(std::string_view text);
// The same for an absolute path whose own status (a final link not followed) was just read.
UniqueIdList ParseDisplayPath(std::string_view text, const struct stat& entry_status);
// The folder reached from the Desktop by binding the first n items of `list` one by one; an
// item that does not bind is passed over and the walk goes on from the folder reached so far.
std::shared_ptr<ShellFolder> BindToFolder(const ItemIdList* list, size_t n);

// Folder texts as the preview cache compares them: ASCII upper-cased, one trailing '/'
// removed (the root "/" stays itself).
std::string NormalizePathText(std::string_view text);
bool SamePathText(std::string_view a, std::string_view b);

}  // namespace scopa
