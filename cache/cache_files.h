// The files of one preview cache: the index (base path + ".pvi"), the data file (base path +
// ".pvd") and the temporary index (index path + ".pvt") used only while the index is rewritten.
// These are plain functions over an in-memory picture of the index; the cache manager keeps its
// own lists and converts at this boundary.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scopa {

enum class EntryState : int32_t { kEmpty = 0, kValid = 1, kPending = 2 };

// Layout facts of the cache files.
inline constexpr int32_t kCacheIndexVersion = 2;
inline constexpr std::size_t kMaxCacheStringBytes = 1023;
// The pixel block is 128 x 128 (imaging/thumbnail.h names the same side kThumbnailSidePx).
inline constexpr int32_t kRecordSidePx = 128;
inline constexpr std::size_t kThumbnailBlockBytes = 16384;  // 128 x 128 palette indices
inline constexpr std::size_t kRecordHeadBytes = 12;         // SeqId, width, height
inline constexpr int64_t kSlotBytes = kRecordHeadBytes + kThumbnailBlockBytes;  // 16,396
inline constexpr int64_t kInitialSlots = 40;
inline constexpr int64_t kInitialDataFileBytes = kInitialSlots * kSlotBytes;  // 655,840
static_assert(kSlotBytes == 16396 && kInitialDataFileBytes == 655840);

struct CacheEntryRecord {
    std::string name;   // file name without folder, upper case
    int32_t index = 0;  // slot number, or byte offset of a compressed record
    int32_t seq_id = 0;
    int32_t stamp = 0;  // source file's modification time, seconds since 1970
    EntryState state = EntryState::kEmpty;
};

struct CacheFolderRecord {
    std::string folder_path;  // as stored: upper case, '\' separators, no trailing '\'
    std::string volume_label;
    std::vector<CacheEntryRecord> entries;  // most recently used first
};

struct CacheIndexContents {
    bool header_read = false;  // the tag, version and flag were sound (else nothing loaded)
    bool compressed = false;
    std::vector<CacheFolderRecord> folders;  // most recently used first
    int64_t entry_total = 0;
    // Why the file is not a sound index (the load stopped there, or entries were dropped);
    // empty for a sound one.
    std::string problem;
    int64_t dropped_entries = 0;  // entries left out because their Index was out of range
};

// The three file names of a cache with this base path.
std::filesystem::path CacheIndexPath(const std::filesystem::path& base_path);
std::filesystem::path CacheDataPath(const std::filesystem::path& base_path);
std::filesystem::path CacheTemporaryIndexPath(const std::filesystem::path& index_path);

// Parses an index as far as it is sound: a wrong tag or a version above 2 gives nothing; a
// bad string length or a record running past the end stops the load, keeping the folders and
// entries read before it. Entries load as Valid; folders without entries are dropped.
CacheIndexContents ParseCacheIndex(std::span<const uint8_t> bytes);

// Drops the entries whose record cannot lie where their Index says: a negative Index, a
// compressed record whose head does not lie inside the data file of `data_file_bytes` (-1:
// unknown, as when the disk holding it is gone), or a
// slot at or beyond `slot_capacity` (when above 0). A flipped byte in an Index would otherwise
// have a write lengthen the data file to hundreds of gigabytes. Folders left empty go too.
void DropEntriesOutsideData(CacheIndexContents& contents, int64_t data_file_bytes,
                            int32_t slot_capacity);
// A missing or unreadable file is an empty cache.
CacheIndexContents LoadCacheIndex(const std::filesystem::path& index_path);

// The version-2 index of `contents`: each folder with only its Valid entries (a folder with
// none is written with count 0), strings cut to 1023 bytes.
std::vector<uint8_t> SerializeCacheIndex(const CacheIndexContents& contents);
// Writes the temporary file, flushes it to the disk and renames it over the index, then
// flushes the folder, so that a crash or power cut leaves the old index or the new one whole.
// The temporary file is gone afterwards in every outcome; on failure the previous index is
// left as it was.
// With `durable` false the folder is not flushed: the new index may then be lost in a power
// cut, leaving the previous one, but never an empty or half-written index.
bool SaveCacheIndex(const std::filesystem::path& index_path, const CacheIndexContents& contents,
                    bool durable = true);

// Folder paths relative to a static cache's root are stored with '\' separators, so that caches
// interchange across platforms; these convert at the boundary.
std::string ToStoredFolderPath(std::string_view platform_path);
std::string FromStoredFolderPath(std::string_view stored_path);

// A thumbnail as a data record holds it: the 128 x 128 palette-index block and the size of the
// picture in its top-left corner.
struct CacheThumbnail {
    int32_t width = 0;
    int32_t height = 0;
    std::array<uint8_t, kThumbnailBlockBytes> pixels{};
};

// Reads the record at `index`. When the stored SeqId differs from `seq_id`, puts the stored
// one there and returns false. Compressed records take at most 16,384 bytes of input and must
// expand to at most 16,384 bytes and end with the end code.
bool ReadCacheRecord(const std::filesystem::path& data_path, bool compressed, int32_t index,
                     int32_t& seq_id, CacheThumbnail& thumbnail);
// The same on an open file (used by the tools and the fuzz target).
bool ReadCacheRecord(std::FILE* data_file, bool compressed, int32_t index, int32_t& seq_id,
                     CacheThumbnail& thumbnail);

// Writes a record into the existing data file at `index` (never creating the file).
bool WriteCacheRecord(const std::filesystem::path& data_path, bool compressed, int32_t index,
                      int32_t seq_id, std::span<const uint8_t, kThumbnailBlockBytes> pixels,
                      int32_t width, int32_t height);
// Appends a compressed record at the end of the data file and gives its Index (the file's
// length before it), or -1 on failure.
int32_t AppendCompressedRecord(const std::filesystem::path& data_path, int32_t seq_id,
                               std::span<const uint8_t, kThumbnailBlockBytes> pixels, int32_t width,
                               int32_t height);

// An exclusive advisory lock (flock) on a cache's data file, held for the object's life.
// Processes that share a writable cache hold it while they place, write and index a record.
class CacheFileLock {
public:
    explicit CacheFileLock(const std::filesystem::path& data_path);
    ~CacheFileLock();
    CacheFileLock(const CacheFileLock&) = delete;
    CacheFileLock& operator=(const CacheFileLock&) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Flushes a file's contents to the disk (before an index that points into it is renamed
// into place).
bool SyncFileToDisk(const std::filesystem::path& path);

// Creates base path + ".pvd" 655,840 bytes long (room for 40 slots) unless it exists.
bool EnsureDynamicDataFile(const std::filesystem::path& base_path);
// Creates base path + ".pvd" empty, or empties it.
bool CreateEmptyDataFile(const std::filesystem::path& base_path);
// Lengthens the data file to room for `entry_count` + 1 slots when it is shorter; done when an
// entry is added beyond the first 40.
bool LengthenDataFileForEntries(const std::filesystem::path& data_path, int64_t entry_count);

}  // namespace scopa
