// The cache manager, its caches, folders and entries.
//
// Registry form (HKEY_LOCAL_MACHINE\SOFTWARE\QOR\System\PreviewCaches): the default value
// names the dynamic cache's folder (empty or missing: the platform's cache folder); every
// sub-key is one static cache with the string values "PreviewIndexFile", "PreviewDataFile"
// and "RootFolder".
#include "cache/cache_manager.h"

#include <sys/random.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <optional>
#include <random>
#include <system_error>

#include "imaging/dib.h"
#include "imaging/thumbnail.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "shell/item_id_list.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;

// How long a read of the mount table is trusted: a disk is swapped in seconds, a folder's
// items are looked up in microseconds.
constexpr auto kMountCheckInterval = std::chrono::milliseconds(200);

// A writable cache's index is flushed to the disk after this many stored thumbnails or this
// long, whichever comes first; in between it is saved without waiting for the disk.
constexpr int kWritesPerSync = 20;
constexpr auto kSyncInterval = std::chrono::seconds(5);

// The registry strings were read into buffers of this size.
constexpr size_t kRegistryPathBytes = 260;

std::unique_ptr<CPreviewCacheManager>& ManagerSlot() {
    static std::unique_ptr<CPreviewCacheManager> manager;
    return manager;
}

CPreviewCacheManager::VolumeLabelSource& LabelSource() {
    static CPreviewCacheManager::VolumeLabelSource source;
    return source;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    if (name.empty()) return std::string(folder);
    std::string path(folder);
    if (path.back() != '/') path += '/';
    path += name;
    return path;
}

// Erases the one index item that maps `key` to `value`.
template <typename Map, typename Value>
void EraseIndexItem(Map& index, std::string_view key, Value* value) {
    auto [first, last] = index.equal_range(key);
    for (auto item = first; item != last; ++item) {
        if (item->second == value) {
            index.erase(item);
            return;
        }
    }
}

// The place of a new compressed record: the data file's length, when the file opens for
// writing and the length fits an Index.
std::optional<int32_t> AppendPlace(const fs::path& data_path) {
    std::FILE* file = std::fopen(data_path.c_str(), "r+b");
    if (file == nullptr) return std::nullopt;
    std::optional<int32_t> place;
    if (fseeko(file, 0, SEEK_END) == 0) {
        off_t length = ftello(file);
        if (length >= 0 && length <= INT32_MAX) place = static_cast<int32_t>(length);
    }
    std::fclose(file);
    return place;
}

// The dynamic cache's base path: the registered folder (with a trailing '/') or the
// platform's cache folder, which is made when missing, and the base name.
std::string DynamicCacheBasePath(const RegistryKey& caches_key) {
    char value[kRegistryPathBytes] = {};
    LONG value_size = sizeof value;
    std::string folder;
    if (caches_key.IsOpen() &&
        RegQueryValueA(caches_key.Handle(), nullptr, value, &value_size) == ERROR_SUCCESS) {
        folder = value;
    }
    if (folder.empty()) {
        folder = DefaultCacheFolder();
        std::error_code ignored;
        fs::create_directories(folder, ignored);
    }
    if (folder.back() != '/') folder += '/';
    return folder + kDynamicCacheBaseName;
}

// A string value of a static cache's key that fits the registry buffers.
std::optional<std::string> ReadPathValue(const RegistryKey& key, const char* name) {
    auto text = key.ReadString(name);
    if (!text || text->size() >= kRegistryPathBytes) return std::nullopt;
    return text;
}

// Static caches in sub-key order: those whose three values are there and whose index file
// exists (a CD that is not in the drive has none).
std::vector<std::unique_ptr<CPreviewCache>> RegisteredStaticCaches(const RegistryKey& caches_key) {
    std::vector<std::unique_ptr<CPreviewCache>> caches;
    if (!caches_key.IsOpen()) return caches;
    for (DWORD key_number = 0;; ++key_number) {
        char name[kRegistryPathBytes];
        DWORD name_size = sizeof name;
        LONG result = RegEnumKeyExA(caches_key.Handle(), key_number, name, &name_size);
        if (result == ERROR_MORE_DATA) continue;  // a name this long is no cache of ours
        if (result != ERROR_SUCCESS) break;
        RegistryKey cache_key = RegistryKey::Open(caches_key.Handle(), name);
        if (!cache_key.IsOpen()) continue;
        auto index_path = ReadPathValue(cache_key, kPreviewIndexFileValue);
        auto data_path = ReadPathValue(cache_key, kPreviewDataFileValue);
        auto root_folder = ReadPathValue(cache_key, kRootFolderValue);
        std::error_code error;
        if (!index_path || !data_path || !root_folder || !fs::exists(*index_path, error)) {
            continue;
        }
        caches.push_back(
            std::make_unique<CPreviewCache>(*index_path, *data_path, *root_folder, true, 0));
    }
    return caches;
}

}  // namespace

int32_t DrawSeqId() {
    constexpr uint32_t kSeqIdRange = 32768;  // the C library's rand() range
    // Two processes started in the same second must not draw the same numbers, so they come
    // from the kernel's generator; a seeded one only when that fails.
    uint16_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == ssize_t{sizeof bits}) {
        return static_cast<int32_t>(bits % kSeqIdRange);
    }
    static std::minstd_rand generator(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<unsigned>(::getpid()));
    return static_cast<int32_t>(generator() % kSeqIdRange);
}

CacheFilePath SplitCacheFilePath(std::string_view full_path) {
    size_t slash = full_path.rfind('/');
    if (slash == std::string_view::npos) return {{}, full_path};
    // The root folder keeps its '/', so that it stays a folder path.
    return {full_path.substr(0, slash == 0 ? 1 : slash), full_path.substr(slash + 1)};
}

// ---- CCacheEntry ----

CCacheEntry::CCacheEntry(CCacheFolder* folder, std::string upper_name)
    : m_folder(folder), m_name(std::move(upper_name)) {}

CCacheEntry::~CCacheEntry() {
    LeaveQueue();
}

CPreviewCache* CCacheEntry::Cache() const {
    return m_folder->Cache();
}

void CCacheEntry::LeaveQueue() {
    if (m_queueLinks.list == nullptr) return;
    // The queue is the only list these links join.
    static_cast<CacheEntryQueue*>(const_cast<void*>(m_queueLinks.list))->Remove(this);
}

void CCacheEntry::SetSourcePath(std::string_view folder_path, std::string_view file_name) {
    // Most lookups repeat the path of the previous one: compare before building.
    bool needs_separator = !folder_path.empty() && !file_name.empty() && folder_path.back() != '/';
    std::string_view current = m_sourcePath;
    bool same =
        current.size() == folder_path.size() + (needs_separator ? 1 : 0) + file_name.size() &&
        current.starts_with(folder_path) && current.ends_with(file_name) &&
        (!needs_separator || current[folder_path.size()] == '/');
    if (!same) m_sourcePath = JoinPath(folder_path, file_name);
}

std::string CCacheEntry::StoredFullPath() const {
    return JoinPath(m_folder->FullPath(), m_name);
}

// ---- CCacheFolder ----

CCacheFolder::CCacheFolder(CPreviewCache* cache, std::string folder_path, std::string volume_label)
    : m_cache(cache),
      m_folderPath(std::move(folder_path)),
      m_volumeLabel(std::move(volume_label)) {}

CCacheFolder::~CCacheFolder() {
    m_entryIndex.clear();
    m_entries.DestroyAll();
}

std::string CCacheFolder::FullPath() const {
    return JoinPath(m_cache->RootFolder(), m_folderPath);
}

CCacheEntry* CCacheFolder::PeekEntry(std::string_view name) const {
    auto [first, last] = m_entryIndex.equal_range(name);
    if (first == last) return nullptr;
    if (std::next(first) == last) return first->second;
    // The same name twice (an index may hold it): the first in list order answers.
    for (CCacheEntry* entry = m_entries.Head(); entry != nullptr;
         entry = CacheEntryList::Next(entry)) {
        if (entry->Name() == name) return entry;
    }
    return first->second;
}

CCacheEntry* CCacheFolder::FindEntry(std::string_view name) {
    CCacheEntry* found = PeekEntry(name);
    if (found != nullptr) m_entries.MoveToHead(found);
    return found;
}

void CCacheFolder::ReserveEntries(size_t count) {
    m_entryIndex.reserve(count);
}

void CCacheFolder::AddEntryHead(CCacheEntry* entry) {
    m_entries.AddHead(entry);
    m_entryIndex.emplace(entry->Name(), entry);
}

void CCacheFolder::AddEntryTail(CCacheEntry* entry) {
    m_entries.AddTail(entry);
    m_entryIndex.emplace(entry->Name(), entry);
}

void CCacheFolder::RemoveEntry(CCacheEntry* entry) {
    EraseIndexItem(m_entryIndex, entry->Name(), entry);
    m_entries.Remove(entry);
}

// ---- CPreviewCache ----

CPreviewCache::CPreviewCache(fs::path index_path, fs::path data_path, std::string_view root_folder,
                             bool read_only, int32_t capacity)
    : m_indexPath(std::move(index_path)),
      m_dataPath(std::move(data_path)),
      m_rootFolder(NormalizePathText(TrimWhiteSpace(root_folder))),
      m_readOnly(read_only),
      m_compressed(read_only),
      m_capacity(capacity) {}

CPreviewCache::~CPreviewCache() {
    m_folderIndex.clear();
    m_folders.DestroyAll();
}

std::string CPreviewCache::KeyName(std::string_view file_name) const {
    return KeepsCase() ? std::string(file_name) : ToUpperAscii(file_name);
}

std::string CPreviewCache::KeyFolderPath(std::string_view folder_path, bool& under_root) const {
    std::string path;
    if (KeepsCase()) {
        path.assign(folder_path);
        if (path.size() > 1 && path.back() == '/') path.pop_back();
    } else {
        path = NormalizePathText(folder_path);
    }
    under_root = false;
    if (m_rootFolder.empty()) return path;
    // The root folder "/" keeps its separator, every other root is followed by one; a
    // folder whose name merely begins like the root's last name is not under it.
    size_t cut = m_rootFolder.back() == '/' ? m_rootFolder.size() : m_rootFolder.size() + 1;
    if (!path.starts_with(m_rootFolder)) return path;
    if (path.size() == m_rootFolder.size()) {
        under_root = true;
        return {};
    }
    if (m_rootFolder.back() != '/' && path[m_rootFolder.size()] != '/') return path;
    under_root = true;
    return path.substr(cut);
}

void CPreviewCache::EnsureLoaded() {
    if (m_loaded) return;
    m_loaded = true;
    LoadIndexContents(LoadSoundIndex());
}

CacheIndexContents CPreviewCache::LoadSoundIndex() const {
    CacheIndexContents contents = LoadCacheIndex(m_indexPath);
    std::error_code error;
    auto data_bytes = fs::file_size(m_dataPath, error);
    DropEntriesOutsideData(contents, error ? -1 : static_cast<int64_t>(data_bytes),
                           m_capacity > 0 ? kDynamicCacheCapacity : 0);
    return contents;
}

void CPreviewCache::LoadIndexContents(CacheIndexContents contents) {
    // The flag is replaced only by a sound header: a cache without an index keeps its own.
    if (contents.header_read) m_compressed = contents.compressed;
    m_entryCount = 0;
    for (CacheFolderRecord& record : contents.folders) {
        // Paths relative to a root folder are stored with '\' separators.
        std::string path = m_rootFolder.empty() ? std::move(record.folder_path)
                                                : FromStoredFolderPath(record.folder_path);
        // Caches that compare without case get their keys in upper case, whatever wrote them.
        if (!KeepsCase()) path = ToUpperAscii(path);
        auto* folder = new CCacheFolder(this, std::move(path), std::move(record.volume_label));
        AddFolderTail(folder);
        folder->ReserveEntries(record.entries.size());
        for (CacheEntryRecord& stored : record.entries) {
            auto* entry = new CCacheEntry(folder, KeyName(stored.name));
            entry->m_index = stored.index;
            entry->m_seqId = stored.seq_id;
            entry->m_stamp = stored.stamp;
            entry->m_state = EntryState::kValid;
            folder->AddEntryTail(entry);
        }
    }
    m_entryCount = static_cast<int32_t>(std::min<int64_t>(contents.entry_total, INT32_MAX));
}

bool CPreviewCache::SaveIndex() {
    // An index never read would otherwise be replaced by an empty one.
    EnsureLoaded();
    if (m_readOnly) return WriteIndex(true);
    // Another process may have saved since: its entries are taken in, not overwritten.
    CacheFileLock lock(m_dataPath);
    if (!lock.Held()) return false;
    MergeSavedIndex(nullptr);
    return WriteIndex(true);
}

bool CPreviewCache::WriteIndex(bool durable) {
    if (durable) {
        // The records the index points to reach the disk first.
        SyncFileToDisk(m_dataPath);
        m_unsyncedWrites = 0;
        m_syncedAt = std::chrono::steady_clock::now();
    }
    CacheIndexContents contents;
    contents.compressed = m_compressed;
    for (const CCacheFolder* folder = m_folders.Head(); folder != nullptr;
         folder = CacheFolderList::Next(folder)) {
        CacheFolderRecord& record = contents.folders.emplace_back();
        record.folder_path =
            m_rootFolder.empty() ? folder->FolderPath() : ToStoredFolderPath(folder->FolderPath());
        record.volume_label = folder->VolumeLabel();
        for (const CCacheEntry* entry = folder->Entries().Head(); entry != nullptr;
             entry = CacheEntryList::Next(entry)) {
            record.entries.push_back(
                {entry->Name(), entry->m_index, entry->m_seqId, entry->m_stamp, entry->m_state});
        }
    }
    return SaveCacheIndex(m_indexPath, contents, durable);
}

CCacheFolder* CPreviewCache::FindFolder(std::string_view volume_label, std::string_view key_path) {
    // Static caches ignore the label, so a CD's cache serves the disk whatever its label.
    auto matches = [&](const CCacheFolder* folder) {
        return m_readOnly || folder->VolumeLabel() == volume_label;
    };
    auto [first, last] = m_folderIndex.equal_range(key_path);
    CCacheFolder* match = nullptr;
    int match_count = 0;
    for (auto item = first; item != last; ++item) {
        if (matches(item->second)) {
            match = item->second;
            ++match_count;
        }
    }
    if (match_count <= 1) return match;
    for (CCacheFolder* folder = m_folders.Head(); folder != nullptr;
         folder = CacheFolderList::Next(folder)) {
        if (folder->FolderPath() == key_path && matches(folder)) return folder;
    }
    return match;
}

void CPreviewCache::AddFolderHead(CCacheFolder* folder) {
    m_folders.AddHead(folder);
    m_folderIndex.emplace(folder->FolderPath(), folder);
}

void CPreviewCache::AddFolderTail(CCacheFolder* folder) {
    m_folders.AddTail(folder);
    m_folderIndex.emplace(folder->FolderPath(), folder);
}

void CPreviewCache::DestroyFolder(CCacheFolder* folder) {
    EraseIndexItem(m_folderIndex, folder->FolderPath(), folder);
    m_folders.RemoveAndDestroy(folder);
}

CCacheEntry* CPreviewCache::Find(std::string_view volume_label, std::string_view folder_path,
                                 std::string_view file_name) {
    bool under_root = false;
    std::string key_path = KeyFolderPath(folder_path, under_root);
    if (m_readOnly && !under_root) return nullptr;
    EnsureLoaded();
    CCacheFolder* folder = FindFolder(volume_label, key_path);
    if (folder == nullptr) return nullptr;
    m_folders.MoveToHead(folder);
    return folder->FindEntry(KeyName(file_name));
}

CCacheEntry* CPreviewCache::Add(std::string_view volume_label, std::string_view folder_path,
                                std::string_view file_name) {
    // Entries added to a cache whose index is read later would be counted twice.
    EnsureLoaded();
    bool under_root = false;
    std::string key_path = KeyFolderPath(folder_path, under_root);
    // Only the head folder is compared: callers have just looked the file up, which moved
    // its folder to the head if it existed.
    CCacheFolder* folder = m_folders.Head();
    if (folder == nullptr || folder->FolderPath() != key_path ||
        folder->VolumeLabel() != volume_label) {
        folder = new CCacheFolder(this, std::move(key_path), std::string(volume_label));
        AddFolderHead(folder);
    }
    CCacheEntry* entry = Allocate(folder, KeyName(file_name));
    if (entry == nullptr) {
        if (folder->Entries().IsEmpty()) DestroyFolder(folder);
        return nullptr;
    }
    folder->AddEntryHead(entry);
    return entry;
}

CCacheEntry* CPreviewCache::Allocate(CCacheFolder* folder, std::string key_name) {
    // A capacity lowered after a failed lengthening creeps back, so growth is tried again.
    if (m_capacity > 0 && m_capacity < kDynamicCacheCapacity) ++m_capacity;
    if (m_capacity > 0 && m_entryCount >= m_capacity) return Recycle(folder, std::move(key_name));
    // Entries that were not saved (Empty, Pending) leave gaps: the lowest free slot is taken,
    // never one that a loaded entry holds.
    int32_t index = m_compressed ? 0 : LowestFreeSlot(nullptr);
    if (m_compressed || m_entryCount >= kInitialSlots || index >= kInitialSlots) {
        std::optional<int32_t> place;
        if (m_compressed) {
            place = AppendPlace(m_dataPath);
        } else if (LengthenDataFileForEntries(m_dataPath, std::max(m_entryCount, index))) {
            place = index;
        }
        if (!place) {
            CCacheEntry* recycled = Recycle(folder, std::move(key_name));
            if (m_capacity > 0) --m_capacity;  // 0 stands for no limit and stays so
            return recycled;
        }
        index = *place;
    }
    auto* entry = new CCacheEntry(folder, std::move(key_name));
    entry->m_index = index;
    entry->m_seqId = DrawSeqId();
    ++m_entryCount;
    return entry;
}

CCacheEntry* CPreviewCache::Recycle(CCacheFolder* folder, std::string key_name) {
    // The least recently used entry: the last of the last folder that has any (only the
    // folder just made for the new entry can be empty).
    CCacheFolder* old_folder = m_folders.Tail();
    while (old_folder != nullptr && old_folder->Entries().IsEmpty()) {
        old_folder = CacheFolderList::Previous(old_folder);
    }
    if (old_folder == nullptr) return nullptr;
    CCacheEntry* entry = old_folder->Entries().Tail();
    entry->LeaveQueue();
    old_folder->RemoveEntry(entry);
    if (old_folder->Entries().IsEmpty() && old_folder != folder) DestroyFolder(old_folder);
    // The Index is kept: the new thumbnail overwrites the old one's record.
    entry->m_folder = folder;
    entry->m_name = std::move(key_name);
    entry->m_sourcePath.clear();
    entry->m_state = EntryState::kEmpty;
    entry->m_seqId = DrawSeqId();
    entry->m_failures = 0;
    entry->m_width = 0;
    entry->m_height = 0;
    return entry;
}

bool CPreviewCache::ReadThumbnail(CCacheEntry& entry, oDIB& bitmap) {
    CacheThumbnail thumbnail;
    // A record of another SeqId belongs to no entry of ours; the entry keeps its own.
    int32_t seq_id = entry.m_seqId;
    if (!ReadCacheRecord(m_dataPath, m_compressed, entry.m_index, seq_id, thumbnail)) return false;
    entry.m_width = thumbnail.width;
    entry.m_height = thumbnail.height;
    bitmap = ThumbnailToDib(thumbnail.pixels.data(), vSIZE{thumbnail.width, thumbnail.height});
    return !bitmap.IsEmpty();
}

int32_t CPreviewCache::LowestFreeSlot(const CCacheEntry* only_valid_except) const {
    // With `only_valid_except`, only Valid entries other than that one hold their slots.
    // Slots past both the entry count and the capacity cannot be the lowest free one; every
    // slot below that bound that an entry holds counts, however few entries are in memory.
    const int32_t bound = std::max(m_entryCount + 1, m_capacity > 0 ? kDynamicCacheCapacity : 0);
    std::vector<bool> held;
    for (const CCacheFolder* folder = m_folders.Head(); folder != nullptr;
         folder = CacheFolderList::Next(folder)) {
        for (const CCacheEntry* entry = folder->Entries().Head(); entry != nullptr;
             entry = CacheEntryList::Next(entry)) {
            if (only_valid_except != nullptr &&
                (entry == only_valid_except || entry->m_state != EntryState::kValid)) {
                continue;
            }
            if (entry->m_index < 0 || entry->m_index > bound) continue;
            auto slot = static_cast<size_t>(entry->m_index);
            if (held.size() <= slot) held.resize(slot + 1, false);
            held[slot] = true;
        }
    }
    for (int32_t slot : m_foreignSlots) {
        if (slot < 0 || slot > bound) continue;
        if (held.size() <= size_t(slot)) held.resize(size_t(slot) + 1, false);
        held[size_t(slot)] = true;
    }
    auto free = std::find(held.begin(), held.end(), false);
    return static_cast<int32_t>(free - held.begin());
}

void CPreviewCache::MergeSavedIndex(const CCacheEntry* storing) {
    m_foreignSlots.clear();
    CacheIndexContents saved = LoadSoundIndex();
    if (!saved.header_read) return;
    // The entry each saved record stands for, by slot.
    std::unordered_map<int32_t, CCacheEntry*> saved_holders;
    for (CacheFolderRecord& record : saved.folders) {
        CCacheFolder* folder = FindFolder(record.volume_label, record.folder_path);
        if (folder == nullptr) {
            folder = new CCacheFolder(this, record.folder_path, record.volume_label);
            AddFolderTail(folder);
        }
        for (const CacheEntryRecord& stored : record.entries) {
            CCacheEntry* entry = folder->PeekEntry(stored.name);
            if (entry == nullptr) {
                entry = new CCacheEntry(folder, stored.name);
                entry->m_state = EntryState::kValid;
                folder->AddEntryTail(entry);
                ++m_entryCount;
            } else if (entry->m_state != EntryState::kValid) {
                // Another process made it meanwhile: take its record, unless the file has
                // changed since or this is the entry being stored now. Then this process's
                // record will replace it; until then its slot is not free.
                bool same_file = entry->m_state == EntryState::kEmpty ||
                                 (entry->m_stamp == stored.stamp && entry != storing);
                saved_holders[stored.index] = entry;
                if (!same_file) {
                    m_foreignSlots.insert(stored.index);
                    continue;
                }
                entry->LeaveQueue();
                entry->m_state = EntryState::kValid;
            }
            // Every write saves at once, so a saved record that differs from ours is newer.
            entry->m_index = stored.index;
            entry->m_seqId = stored.seq_id;
            entry->m_stamp = stored.stamp;
            saved_holders[stored.index] = entry;
        }
    }
    // Every record of ours was saved when it was written, so an entry of ours that the saved
    // index no longer holds in its slot is gone: another process gave the slot to another
    // file, or dropped the entry and may write over its slot at any time.
    for (CCacheFolder* folder = m_folders.Head(); folder != nullptr;
         folder = CacheFolderList::Next(folder)) {
        for (CCacheEntry* entry = folder->Entries().Head(); entry != nullptr;
             entry = CacheEntryList::Next(entry)) {
            if (entry->m_state != EntryState::kValid) continue;
            auto holder = saved_holders.find(entry->m_index);
            if (holder == saved_holders.end() || holder->second != entry) {
                entry->m_state = EntryState::kEmpty;
            }
        }
    }
}

std::optional<int32_t> CPreviewCache::SlotForWrite(CCacheEntry& entry) {
    int32_t limit = m_capacity > 0 ? kDynamicCacheCapacity : INT32_MAX;
    int32_t slot = LowestFreeSlot(&entry);
    // Keep the entry's own slot while no Valid entry holds it.
    bool own_free =
        entry.m_index >= 0 && entry.m_index < limit && !m_foreignSlots.contains(entry.m_index);
    for (const CCacheFolder* folder = m_folders.Head(); own_free && folder != nullptr;
         folder = CacheFolderList::Next(folder)) {
        for (const CCacheEntry* other = folder->Entries().Head(); other != nullptr;
             other = CacheEntryList::Next(other)) {
            if (other != &entry && other->m_state == EntryState::kValid &&
                other->m_index == entry.m_index) {
                own_free = false;
                break;
            }
        }
    }
    if (own_free) slot = entry.m_index;
    if (slot >= limit) {
        // Full: the least recently used Valid entry gives up its slot.
        CCacheEntry* victim = nullptr;
        for (CCacheFolder* folder = m_folders.Tail(); victim == nullptr && folder != nullptr;
             folder = CacheFolderList::Previous(folder)) {
            for (CCacheEntry* other = folder->Entries().Tail(); other != nullptr;
                 other = CacheEntryList::Previous(other)) {
                if (other != &entry && other->m_state == EntryState::kValid) {
                    victim = other;
                    break;
                }
            }
        }
        if (victim == nullptr) return std::nullopt;
        victim->m_state = EntryState::kEmpty;
        slot = victim->m_index;
    }
    if (slot >= kInitialSlots && !LengthenDataFileForEntries(m_dataPath, slot)) return std::nullopt;
    return slot;
}

bool CPreviewCache::StoreThumbnail(CCacheEntry& entry,
                                   std::span<const uint8_t, kThumbnailBlockBytes> pixels,
                                   int32_t width, int32_t height) {
    if (m_readOnly || m_compressed) {
        if (!WriteThumbnail(entry, pixels, width, height)) return false;
        entry.m_state = EntryState::kValid;
        return true;
    }
    EnsureLoaded();
    // Choosing the slot, writing the record and saving the index are one step for every
    // process that shares this cache, so no two of them write one slot for different files.
    CacheFileLock lock(m_dataPath);
    if (!lock.Held()) return false;
    MergeSavedIndex(&entry);
    std::optional<int32_t> slot = SlotForWrite(entry);
    if (!slot) return false;
    entry.m_index = *slot;
    if (!WriteThumbnail(entry, pixels, width, height)) return false;
    entry.m_state = EntryState::kValid;
    // Saved at once, so other processes see the slot taken; flushed to the disk after a
    // bounded amount of work, so a power cut loses at most that much.
    ++m_unsyncedWrites;
    WriteIndex(m_unsyncedWrites >= kWritesPerSync ||
               std::chrono::steady_clock::now() - m_syncedAt >= kSyncInterval);
    return true;
}

bool CPreviewCache::WriteThumbnail(const CCacheEntry& entry,
                                   std::span<const uint8_t, kThumbnailBlockBytes> pixels,
                                   int32_t width, int32_t height) {
    return WriteCacheRecord(m_dataPath, m_compressed, entry.m_index, entry.m_seqId, pixels, width,
                            height);
}

// ---- CPreviewCacheManager ----

CPreviewCacheManager& CPreviewCacheManager::Get() {
    std::unique_ptr<CPreviewCacheManager>& manager = ManagerSlot();
    if (!manager) {
        manager.reset(new CPreviewCacheManager());
        manager->StartUp();
    }
    return *manager;
}

CPreviewCacheManager* CPreviewCacheManager::Existing() {
    return ManagerSlot().get();
}

void CPreviewCacheManager::Destroy() {
    ManagerSlot().reset();
}

void CPreviewCacheManager::SetVolumeLabelSource(VolumeLabelSource source) {
    LabelSource() = std::move(source);
}

CPreviewCacheManager::CPreviewCacheManager() = default;

CPreviewCacheManager::~CPreviewCacheManager() {
    m_queue.UnlinkAll();
    m_caches.DestroyAll();
}

void CPreviewCacheManager::StartUp() {
    RegistryKey caches_key = RegistryKey::Create(HKEY_LOCAL_MACHINE, kPreviewCachesKey);
    std::string base_path = DynamicCacheBasePath(caches_key);
    // Without a dynamic data file there is no caching at all, not even from static caches.
    if (!EnsureDynamicDataFile(base_path)) return;
    for (auto& cache : RegisteredStaticCaches(caches_key))
        m_caches.AddTail(cache.release());
    auto dynamic_cache = std::make_unique<CPreviewCache>(
        CacheIndexPath(base_path), CacheDataPath(base_path), "", false, kDynamicCacheCapacity);
    m_dynamicCache = dynamic_cache.get();
    m_caches.AddHead(dynamic_cache.release());
}

void CPreviewCacheManager::AddCacheHead(std::unique_ptr<CPreviewCache> cache) {
    m_caches.AddHead(cache.release());
}

int CPreviewCacheManager::RemoveStaticCache(const std::filesystem::path& index_path) {
    int removed = 0;
    for (CPreviewCache* cache = m_caches.Head(); cache != nullptr;) {
        CPreviewCache* next = PreviewCacheList::Next(cache);
        if (cache->IsReadOnly() &&
            CompareNoCase(cache->IndexPath().string(), index_path.string()) == 0) {
            for (CCacheEntry* entry = m_queue.Head(); entry != nullptr;) {
                CCacheEntry* next_entry = CacheEntryQueue::Next(entry);
                if (entry->Cache() == cache) m_queue.Remove(entry);
                entry = next_entry;
            }
            m_caches.RemoveAndDestroy(cache);
            ++removed;
        }
        cache = next;
    }
    return removed;
}

std::string CPreviewCacheManager::VolumeLabelOf(std::string_view path) {
    if (LabelSource()) return LabelSource()(path);
    // Labels change only with the mount table, so the volume list is read again only then;
    // the table is asked at most every kMountCheckInterval, a shown folder asks per item.
    auto now = std::chrono::steady_clock::now();
    if (m_volumesCheckedAt == std::chrono::steady_clock::time_point{} ||
        now - m_volumesCheckedAt >= kMountCheckInterval) {
        m_volumesCheckedAt = now;
        if (m_mountWatch.Changed()) {
            m_volumes = ListVolumes();
            m_lastLabelPath.clear();
            m_lastLabelKnown = false;
        }
    }
    if (!m_lastLabelKnown || m_lastLabelPath != path) {
        std::optional<Volume> volume = VolumeOfPath(path, m_volumes);
        m_lastLabelPath.assign(path);
        m_lastLabel = volume ? volume->label : std::string();
        m_lastLabelKnown = true;
    }
    return m_lastLabel;
}

CCacheEntry* CPreviewCacheManager::FindEntry(std::string_view folder_path,
                                             std::string_view file_name) {
    std::string volume_label = VolumeLabelOf(folder_path);
    for (CPreviewCache* cache = m_caches.Head(); cache != nullptr;
         cache = PreviewCacheList::Next(cache)) {
        if (CCacheEntry* entry = cache->Find(volume_label, folder_path, file_name)) {
            m_caches.MoveToHead(cache);
            entry->SetSourcePath(folder_path, file_name);
            return entry;
        }
    }
    return nullptr;
}

CCacheEntry* CPreviewCacheManager::FindOrCreateEntry(std::string_view folder_path,
                                                     std::string_view file_name, bool create) {
    if (CCacheEntry* entry = FindEntry(folder_path, file_name)) return entry;
    if (!create || m_dynamicCache == nullptr) return nullptr;
    CCacheEntry* entry = m_dynamicCache->Add(VolumeLabelOf(folder_path), folder_path, file_name);
    if (entry != nullptr) entry->SetSourcePath(folder_path, file_name);
    return entry;
}

void CPreviewCacheManager::Request(CCacheEntry& entry, int32_t stamp) {
    entry.m_state = EntryState::kPending;
    entry.m_stamp = stamp;
    entry.m_seqId = DrawSeqId();
    entry.LeaveQueue();
    m_queue.AddHead(&entry);
    Trace("Create cache " + entry.Name() + "\n");
}

void CPreviewCacheManager::Promote(CCacheEntry& entry) {
    if (m_queue.Contains(&entry)) m_queue.MoveToHead(&entry);
}

void CPreviewCacheManager::Dequeue(CCacheEntry& entry) {
    m_queue.Remove(&entry);
}

void CPreviewCacheManager::ClearQueue() {
    while (CCacheEntry* entry = m_queue.Head()) {
        entry->m_state = EntryState::kEmpty;
        m_queue.Remove(entry);
    }
}

}  // namespace scopa
