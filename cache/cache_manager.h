// The preview caches of the machine: one writable (dynamic) cache of fixed-size slots and any
// number of registered read-only (static) caches of compressed records. The manager finds the
// cache entry of a file by its folder, name and volume label, makes new entries in the dynamic
// cache, recycling the least recently used one when it is full, and holds the queue of entries
// waiting for a thumbnail.
//
// Read-only caches compare folders, names and root folders upper-cased (ASCII); the dynamic
// cache, which is per machine, keeps them in their own case. Every list is kept in
// most-recently-used order: a hit moves its cache, folder and entry to the heads of their
// lists, so the tails hold what is recycled first and the index is saved in that order. Hash
// indexes beside the folder and entry lists make a lookup cost the same in a cache of 50,000
// entries as in one of 50; where duplicates exist (an index may hold them) the list order
// decides, as a walk from the head would.
//
// Everything runs on one thread. Other processes may share the dynamic cache: storing a
// thumbnail and saving the index hold an advisory lock on its data file and take in what
// the others saved (see CPreviewCache::StoreThumbnail).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cache/cache_files.h"
#include "cache/intrusive_list.h"
#include "platform/mount_watch.h"
#include "platform/volumes.h"

namespace scopa {

class CScopaCtrl;
class CCacheFolder;
class CPreviewCache;
class oDIB;

// Where the caches are registered (under HKEY_LOCAL_MACHINE) and the names used there.
inline constexpr const char* kPreviewCachesKey = "SOFTWARE\\QOR\\System\\PreviewCaches";
inline constexpr const char* kPreviewIndexFileValue = "PreviewIndexFile";
inline constexpr const char* kPreviewDataFileValue = "PreviewDataFile";
inline constexpr const char* kRootFolderValue = "RootFolder";
inline constexpr const char* kDynamicCacheBaseName = "ImgCache";
// The dynamic cache stops growing here (4,099,000 bytes of data file) and reuses slots.
inline constexpr int32_t kDynamicCacheCapacity = 250;
// A thumbnail failing more often than this is given up for the run.
inline constexpr int32_t kMaxThumbnailFailures = 5;

class CCacheEntry {
public:
    CCacheEntry(CCacheFolder* folder, std::string upper_name);
    // Leaves the queue if it waits there.
    ~CCacheEntry();
    CCacheEntry(const CCacheEntry&) = delete;
    CCacheEntry& operator=(const CCacheEntry&) = delete;

    CCacheFolder* Folder() const { return m_folder; }
    CPreviewCache* Cache() const;
    const std::string& Name() const { return m_name; }
    bool IsQueued() const { return m_queueLinks.list != nullptr; }
    // Takes the entry out of the manager's queue when it waits there.
    void LeaveQueue();

    // The file's path as a caller last gave it in this run (find entry), in its own letter
    // case; empty for entries not looked up since the index was loaded. The stored folder path
    // and name are upper case, which a case-sensitive file system cannot open.
    const std::string& SourcePath() const { return m_sourcePath; }
    void SetSourcePath(std::string_view folder_path, std::string_view file_name);
    // The folder's full path joined with the name, as stored (upper case).
    std::string StoredFullPath() const;

    EntryState m_state = EntryState::kEmpty;
    int32_t m_stamp = 0;  // source file's modification time, seconds since 1970
    int32_t m_index = 0;  // slot number, or byte offset of a compressed record
    int32_t m_seqId = 0;
    int32_t m_width = 0;  // size of the thumbnail last read
    int32_t m_height = 0;
    int32_t m_failures = 0;

    IntrusiveLinks<CCacheEntry> m_folderLinks;
    IntrusiveLinks<CCacheEntry> m_queueLinks;

private:
    friend class CPreviewCache;  // recycling moves an entry to another folder and name
    CCacheFolder* m_folder;
    std::string m_name;
    std::string m_sourcePath;
};

using CacheEntryList = CIntrusiveList<CCacheEntry, &CCacheEntry::m_folderLinks>;
using CacheEntryQueue = CIntrusiveList<CCacheEntry, &CCacheEntry::m_queueLinks>;

class CCacheFolder {
public:
    CCacheFolder(CPreviewCache* cache, std::string folder_path, std::string volume_label);
    // Destroys its entries.
    ~CCacheFolder();
    CCacheFolder(const CCacheFolder&) = delete;
    CCacheFolder& operator=(const CCacheFolder&) = delete;

    CPreviewCache* Cache() const { return m_cache; }
    // Upper case, '/' separators, no trailing '/'; relative to the cache's root folder when
    // it lay under it.
    const std::string& FolderPath() const { return m_folderPath; }
    const std::string& VolumeLabel() const { return m_volumeLabel; }
    // The cache's root folder and the folder path joined; whichever is non-empty otherwise.
    std::string FullPath() const;

    const CacheEntryList& Entries() const { return m_entries; }
    // The entry of this name as the cache keys it (the first in list order), moved to the
    // head; null when there is none.
    CCacheEntry* FindEntry(std::string_view name);
    // The same without moving it.
    CCacheEntry* PeekEntry(std::string_view name) const;

    // The entry list, with the name index kept beside it.
    void ReserveEntries(size_t count);
    void AddEntryHead(CCacheEntry* entry);
    void AddEntryTail(CCacheEntry* entry);
    void RemoveEntry(CCacheEntry* entry);

    IntrusiveLinks<CCacheFolder> m_cacheLinks;

private:
    CPreviewCache* m_cache;
    std::string m_folderPath;
    std::string m_volumeLabel;
    CacheEntryList m_entries;
    std::unordered_multimap<std::string_view, CCacheEntry*> m_entryIndex;
};

using CacheFolderList = CIntrusiveList<CCacheFolder, &CCacheFolder::m_cacheLinks>;

class CPreviewCache {
public:
    // `root_folder` is upper-cased, trimmed and loses one trailing '/'. `Compressed` starts
    // equal to `read_only` and takes the index header's flag when the index is loaded.
    CPreviewCache(std::filesystem::path index_path, std::filesystem::path data_path,
                  std::string_view root_folder, bool read_only, int32_t capacity);
    ~CPreviewCache();
    CPreviewCache(const CPreviewCache&) = delete;
    CPreviewCache& operator=(const CPreviewCache&) = delete;

    const std::filesystem::path& IndexPath() const { return m_indexPath; }
    const std::filesystem::path& DataPath() const { return m_dataPath; }
    const std::string& RootFolder() const { return m_rootFolder; }
    bool IsReadOnly() const { return m_readOnly; }
    bool IsCompressed() const { return m_compressed; }
    bool IsLoaded() const { return m_loaded; }
    int32_t EntryCount() const { return m_entryCount; }
    int32_t Capacity() const { return m_capacity; }
    const CacheFolderList& Folders() const { return m_folders; }

    // Reads the index file the first time (a missing or damaged file gives what is sound).
    void EnsureLoaded();
    // Writes the index through the ".pvt" file: Valid entries only, in list order. A writable
    // cache first takes in, under its lock, what other processes saved since.
    bool SaveIndex();
    // The dynamic cache is per machine and keeps names and folder paths in their own case;
    // read-only caches key them in upper case and so answer without regard to case.
    bool KeepsCase() const { return !m_readOnly; }

    // The entry of a file, moving its folder and itself to the heads of their lists; null
    // when the cache does not hold it. A read-only cache answers only for folders under its
    // root folder and ignores the volume label.
    CCacheEntry* Find(std::string_view volume_label, std::string_view folder_path,
                      std::string_view file_name);
    // A new or recycled entry (state Empty) at the head of its folder, which is the head
    // folder when that has the same path and label and a new folder otherwise. Null only
    // when the cache has no room and nothing to recycle.
    CCacheEntry* Add(std::string_view volume_label, std::string_view folder_path,
                     std::string_view file_name);

    // Reads the entry's data record into an 8-bit bitmap of the thumbnail's size with the
    // screen palette; the entry's width and height take the record's size. False when the
    // record cannot be read or belongs to another SeqId.
    bool ReadThumbnail(CCacheEntry& entry, oDIB& bitmap);
    // Writes the entry's record at its Index with its SeqId.
    bool WriteThumbnail(const CCacheEntry& entry,
                        std::span<const uint8_t, kThumbnailBlockBytes> pixels, int32_t width,
                        int32_t height);
    // Stores a made thumbnail and makes the entry Valid. For a slot cache this holds the
    // cache's lock while it takes in the index other processes saved, settles the entry's
    // slot (its own unless a Valid entry now holds it), writes the record and saves the index,
    // so a run that is killed loses at most the thumbnail being written (a power cut at most
    // the last 20 thumbnails or 5 seconds of them: only then is the index flushed to disk).
    bool StoreThumbnail(CCacheEntry& entry, std::span<const uint8_t, kThumbnailBlockBytes> pixels,
                        int32_t width, int32_t height);

    // The folder path as this cache keys it: without a trailing '/', upper-cased unless the
    // cache keeps case, and cut behind the root folder; `under_root` tells whether it lay
    // under the root.
    std::string KeyFolderPath(std::string_view folder_path, bool& under_root) const;
    // A file name as this cache keys it.
    std::string KeyName(std::string_view file_name) const;

    IntrusiveLinks<CPreviewCache> m_managerLinks;

private:
    CCacheFolder* FindFolder(std::string_view volume_label, std::string_view key_path);
    void AddFolderHead(CCacheFolder* folder);
    void AddFolderTail(CCacheFolder* folder);
    void DestroyFolder(CCacheFolder* folder);
    CCacheEntry* Allocate(CCacheFolder* folder, std::string key_name);
    CCacheEntry* Recycle(CCacheFolder* folder, std::string key_name);
    // The index file with the entries whose Index cannot be right left out.
    CacheIndexContents LoadSoundIndex() const;
    void LoadIndexContents(CacheIndexContents contents);
    // `durable`: flushes the data file, then the index and its folder, to the disk.
    bool WriteIndex(bool durable);
    // The lowest slot no entry holds; with `only_valid_except`, no other Valid entry.
    int32_t LowestFreeSlot(const CCacheEntry* only_valid_except) const;
    // Takes in the index as saved by other processes (held under the cache's lock); `storing`
    // is the entry about to be written, which keeps its own record.
    void MergeSavedIndex(const CCacheEntry* storing);
    std::optional<int32_t> SlotForWrite(CCacheEntry& entry);

    std::filesystem::path m_indexPath;
    std::filesystem::path m_dataPath;
    std::string m_rootFolder;
    bool m_readOnly;
    bool m_compressed;
    bool m_loaded = false;
    int32_t m_entryCount = 0;
    int32_t m_capacity;
    CacheFolderList m_folders;
    std::unordered_multimap<std::string_view, CCacheFolder*> m_folderIndex;
    // Slots that the saved index gives to files this process is making again: not free.
    std::set<int32_t> m_foreignSlots;
    int m_unsyncedWrites = 0;
    std::chrono::steady_clock::time_point m_syncedAt = std::chrono::steady_clock::now();
};

using PreviewCacheList = CIntrusiveList<CPreviewCache, &CPreviewCache::m_managerLinks>;

// A fresh SeqId: 0 to 32767, from a generator seeded with the time at first use.
int32_t DrawSeqId();

class CPreviewCacheManager {
public:
    // The process's manager, made (and the registry read) on first call.
    static CPreviewCacheManager& Get();
    // The manager when it has been made, else null; never makes it.
    static CPreviewCacheManager* Existing();
    // Destroys every cache, folder and entry and forgets the manager (done at exit; tests
    // call it to start afresh). The dynamic index is not saved here.
    static void Destroy();

    // The label source for volume labels of paths; empty restores the mounted volumes'
    // labels. For tests, which cannot mount disks.
    using VolumeLabelSource = std::function<std::string(std::string_view path)>;
    static void SetVolumeLabelSource(VolumeLabelSource source);

    ~CPreviewCacheManager();
    CPreviewCacheManager(const CPreviewCacheManager&) = delete;
    CPreviewCacheManager& operator=(const CPreviewCacheManager&) = delete;

    // Null when the dynamic data file could not be set up (then there are no caches at all).
    CPreviewCache* DynamicCache() const { return m_dynamicCache; }
    const PreviewCacheList& Caches() const { return m_caches; }
    // Adds a cache at the head of the list (a new static cache serves lookups at once).
    void AddCacheHead(std::unique_ptr<CPreviewCache> cache);
    // Destroys the read-only caches whose index path equals `index_path` in any letter case
    // (a static cache being made again); their entries leave the queue first. Entries of
    // theirs held elsewhere are gone with them. Returns how many were removed.
    int RemoveStaticCache(const std::filesystem::path& index_path);

    CScopaCtrl* CurrentControl() const { return m_currentControl; }
    void SetCurrentControl(CScopaCtrl* control) { m_currentControl = control; }

    // The entry of a file in any cache (the first hit moves its cache to the head); the
    // folder path and name are as the file system gives them.
    CCacheEntry* FindEntry(std::string_view folder_path, std::string_view file_name);
    // As FindEntry; with `create` a missing entry is made in the dynamic cache.
    CCacheEntry* FindOrCreateEntry(std::string_view folder_path, std::string_view file_name,
                                   bool create);
    // The label of the volume holding `path`, or "".
    std::string VolumeLabelOf(std::string_view path);

    // The queue of entries waiting for a thumbnail, newest request first.
    const CacheEntryQueue& Queue() const { return m_queue; }
    CCacheEntry* QueueHead() const { return m_queue.Head(); }
    // Makes the entry Pending with this stamp and a fresh SeqId and puts it at the queue's
    // head (traces "Create cache NAME").
    void Request(CCacheEntry& entry, int32_t stamp);
    // Moves a waiting entry to the queue's head; nothing for others.
    void Promote(CCacheEntry& entry);
    // Takes the entry out of the queue, leaving its state alone.
    void Dequeue(CCacheEntry& entry);
    // Empties the queue, setting every waiting entry back to Empty.
    void ClearQueue();

private:
    CPreviewCacheManager();
    void StartUp();

    CPreviewCache* m_dynamicCache = nullptr;
    CScopaCtrl* m_currentControl = nullptr;
    PreviewCacheList m_caches;
    CacheEntryQueue m_queue;
    MountTableWatch m_mountWatch;
    std::vector<Volume> m_volumes;
    std::chrono::steady_clock::time_point m_volumesCheckedAt{};
    // The label of the path asked last: the items of one folder ask for the same one.
    std::string m_lastLabelPath;
    std::string m_lastLabel;
    bool m_lastLabelKnown = false;
};

// Splits a file's full path at its last '/' into folder path and file name.
struct CacheFilePath {
    std::string_view folder_path;
    std::string_view file_name;
};
CacheFilePath SplitCacheFilePath(std::string_view full_path);

}  // namespace scopa
