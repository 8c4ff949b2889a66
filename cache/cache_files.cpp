// Index, data and temporary files of a preview cache.
//
// Format notes (all integers little-endian):
// - Index: "ImgC", i32 version (0, 1 or 2), i32 compressed flag (version 2 only), i32 folder
//   count, then folder records: i16 length + folder path, i16 length + volume label, i32 entry
//   count, then entry records: i16 length + name, i32 Index, i32 SeqId, i32 Stamp. Strings are
//   8-bit text without terminator, at most 1023 bytes.
// - Data record: i32 SeqId, i32 width, i32 height, then the 16,384-byte block as it is (slot
//   records, at slot x 16,396) or as an implode stream (compressed records, at the byte offset
//   Index; the stream's own end code ends it, its length is stored nowhere).
#include "cache/cache_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "cache/implode.h"
#include "platform/byte_reader.h"
#include "platform/regular_file.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;

constexpr char kIndexTag[4] = {'I', 'm', 'g', 'C'};
constexpr int32_t kLastFlaglessVersion = 1;  // versions 0 and 1 have no compressed flag
// Far above any real index (50,000 entries take about 2 MB); bounds what a device file or a
// runaway file named as an index can make us read.
constexpr size_t kMaxIndexFileBytes = size_t{64} << 20;

// ---- little-endian reading and writing ----

// A length-prefixed string; a length below 0 or above 1023 fails the reader.
std::string ReadString(ByteReader& reader) {
    const int16_t length = reader.I16();
    if (length < 0 || static_cast<size_t>(length) > kMaxCacheStringBytes) {
        reader.Fail();
        return {};
    }
    std::span<const uint8_t> text = reader.Bytes(static_cast<size_t>(length));
    return std::string(text.begin(), text.end());
}

void PutI32(std::vector<uint8_t>& out, int32_t value) {
    auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(bits >> shift));
}

void PutString(std::vector<uint8_t>& out, const std::string& text) {
    size_t length = std::min(text.size(), kMaxCacheStringBytes);
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<long>(length));
}

// Head of a data record.
struct RecordHead {
    int32_t seq_id;
    int32_t width;
    int32_t height;
};

void EncodeHead(const RecordHead& head, uint8_t (&bytes)[kRecordHeadBytes]) {
    std::vector<uint8_t> out;
    PutI32(out, head.seq_id);
    PutI32(out, head.width);
    PutI32(out, head.height);
    std::copy(out.begin(), out.end(), bytes);
}

std::optional<int64_t> RecordOffset(bool compressed, int32_t index) {
    if (index < 0) return std::nullopt;
    return compressed ? int64_t{index} : int64_t{index} * kSlotBytes;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// ---- codec plumbing for records ----

// One work area of each kind for the cache, as the codec is designed for; the lock keeps two
// callers from sharing one.
std::mutex g_codec_mutex;
implode::CompressWorkArea g_compress_work;
implode::ExpandWorkArea g_expand_work;

// Reading a compressed record: input from the file, at most 16,384 bytes of it; output into
// the block, where anything past 16,384 bytes fails the read.
struct CacheRecordSink {
    std::FILE* file;
    uint8_t* destination;
    size_t output_bytes = 0;
    size_t input_left = kThumbnailBlockBytes;
    bool overflowed = false;
};

unsigned ReadRecordInput(unsigned char* buffer, unsigned* size, void* context) {
    auto* sink = static_cast<CacheRecordSink*>(context);
    if (sink->overflowed) return 0;  // stop the expander early
    size_t wanted = std::min<size_t>(*size, sink->input_left);
    size_t got = std::fread(buffer, 1, wanted, sink->file);
    sink->input_left -= got;
    return static_cast<unsigned>(got);
}

void WriteRecordOutput(unsigned char* buffer, unsigned* size, void* context) {
    auto* sink = static_cast<CacheRecordSink*>(context);
    size_t room = kThumbnailBlockBytes - sink->output_bytes;
    if (*size > room) sink->overflowed = true;
    size_t count = std::min<size_t>(*size, room);
    std::memcpy(sink->destination + sink->output_bytes, buffer, count);
    sink->output_bytes += count;
}

// Writing a compressed record: input from the block, output straight to the file.
struct CacheRecordSource {
    const uint8_t* source;
    size_t bytes_left = kThumbnailBlockBytes;
    std::FILE* file;
    bool write_failed = false;
};

unsigned ReadRecordSource(unsigned char* buffer, unsigned* size, void* context) {
    auto* source = static_cast<CacheRecordSource*>(context);
    size_t count = std::min<size_t>(*size, source->bytes_left);
    std::memcpy(buffer, source->source, count);
    source->source += count;
    source->bytes_left -= count;
    return static_cast<unsigned>(count);
}

void WriteRecordStream(unsigned char* buffer, unsigned* size, void* context) {
    auto* source = static_cast<CacheRecordSource*>(context);
    if (std::fwrite(buffer, 1, *size, source->file) != *size) source->write_failed = true;
}

// Writes head and block at the file's current position.
bool WriteRecordHere(std::FILE* file, bool compressed, int32_t seq_id,
                     std::span<const uint8_t, kThumbnailBlockBytes> pixels, int32_t width,
                     int32_t height) {
    uint8_t head[kRecordHeadBytes];
    EncodeHead({seq_id, width, height}, head);
    if (std::fwrite(head, 1, sizeof head, file) != sizeof head) return false;
    if (!compressed) {
        return std::fwrite(pixels.data(), 1, pixels.size(), file) == pixels.size();
    }
    CacheRecordSource source{pixels.data(), kThumbnailBlockBytes, file, false};
    std::lock_guard lock(g_codec_mutex);
    int result = implode::Compress(ReadRecordSource, WriteRecordStream, g_compress_work, &source,
                                   implode::kLiteralsBinary, 4096);
    return result == implode::kResultOk && !source.write_failed;
}

bool CloseAfterWrite(File file) {
    return std::fclose(file.release()) == 0;
}

// Makes a rename in the folder of `path` durable.
void SyncFolderOf(const fs::path& path) {
    fs::path folder = path.parent_path();
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

// ---- paths ----

fs::path CacheIndexPath(const fs::path& base_path) {
    fs::path path = base_path;
    path += ".pvi";
    return path;
}

fs::path CacheDataPath(const fs::path& base_path) {
    fs::path path = base_path;
    path += ".pvd";
    return path;
}

fs::path CacheTemporaryIndexPath(const fs::path& index_path) {
    fs::path path = index_path;
    path += ".pvt";
    return path;
}

std::string ToStoredFolderPath(std::string_view platform_path) {
    std::string stored(platform_path);
    std::replace(stored.begin(), stored.end(), '/', '\\');
    return stored;
}

std::string FromStoredFolderPath(std::string_view stored_path) {
    std::string path(stored_path);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// ---- index ----

CacheIndexContents ParseCacheIndex(std::span<const uint8_t> bytes) {
    CacheIndexContents contents;
    ByteReader reader(bytes);
    if (!reader.Match(std::string_view(kIndexTag, 4))) {
        contents.problem = "not a cache index (no \"ImgC\" tag)";
        return contents;
    }
    const int32_t version = reader.I32();
    if (reader.Ok() && (version < 0 || version > kCacheIndexVersion)) {
        contents.problem = "index version " + std::to_string(version) + " is not read";
        return contents;
    }
    if (version > kLastFlaglessVersion) contents.compressed = reader.I32() != 0;
    contents.header_read = reader.Ok();
    const int32_t folder_count = reader.I32();
    if (!reader.Ok()) {
        contents.problem = "index cut short in its header";
        return contents;
    }
    // A cut folder keeps the entries read before the cut.
    auto keep = [&contents](CacheFolderRecord& folder) {
        if (folder.entries.empty()) return;
        contents.entry_total += static_cast<int64_t>(folder.entries.size());
        contents.folders.push_back(std::move(folder));
    };
    // The count is not trusted for sizing: the folders end where the data does.
    for (int32_t folder_number = 0; folder_number < folder_count; ++folder_number) {
        CacheFolderRecord folder;
        folder.folder_path = ReadString(reader);
        folder.volume_label = ReadString(reader);
        const int32_t entry_count = reader.I32();
        if (!reader.Ok()) {
            contents.problem =
                "folder record " + std::to_string(folder_number + 1) + " is damaged or cut short";
            return contents;
        }
        for (int32_t entry_number = 0; entry_number < entry_count; ++entry_number) {
            CacheEntryRecord entry;
            entry.name = ReadString(reader);
            entry.index = reader.I32();
            entry.seq_id = reader.I32();
            entry.stamp = reader.I32();
            if (!reader.Ok()) {
                contents.problem = "entry " + std::to_string(entry_number + 1) + " of folder " +
                                   folder.folder_path + " is damaged or cut short";
                keep(folder);
                return contents;
            }
            entry.state = EntryState::kValid;
            folder.entries.push_back(std::move(entry));
        }
        keep(folder);
    }
    return contents;
}

void DropEntriesOutsideData(CacheIndexContents& contents, int64_t data_file_bytes,
                            int32_t slot_capacity) {
    auto outside = [&](const CacheEntryRecord& entry) {
        if (entry.index < 0) return true;
        if (contents.compressed) {
            return data_file_bytes >= 0 &&
                   int64_t{entry.index} + int64_t{kRecordHeadBytes} > data_file_bytes;
        }
        return slot_capacity > 0 && entry.index >= slot_capacity;
    };
    int64_t dropped = 0;
    for (CacheFolderRecord& folder : contents.folders) {
        dropped += std::erase_if(folder.entries, outside);
    }
    std::erase_if(contents.folders,
                  [](const CacheFolderRecord& folder) { return folder.entries.empty(); });
    if (dropped == 0) return;
    contents.entry_total -= dropped;
    contents.dropped_entries += dropped;
    if (contents.problem.empty()) {
        contents.problem = std::to_string(dropped) + " entries with an Index outside the data file";
    }
}

CacheIndexContents LoadCacheIndex(const fs::path& index_path) {
    File file(OpenRegularFileStream(index_path.string()));
    if (!file) return {};
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while (bytes.size() < kMaxIndexFileBytes &&
           (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return ParseCacheIndex(bytes);
}

std::vector<uint8_t> SerializeCacheIndex(const CacheIndexContents& contents) {
    std::vector<uint8_t> out(std::begin(kIndexTag), std::end(kIndexTag));
    PutI32(out, kCacheIndexVersion);
    PutI32(out, contents.compressed ? 1 : 0);
    PutI32(out, static_cast<int32_t>(contents.folders.size()));
    for (const CacheFolderRecord& folder : contents.folders) {
        PutString(out, folder.folder_path);
        PutString(out, folder.volume_label);
        auto valid = [](const CacheEntryRecord& entry) {
            return entry.state == EntryState::kValid;
        };
        PutI32(out, static_cast<int32_t>(
                        std::count_if(folder.entries.begin(), folder.entries.end(), valid)));
        for (const CacheEntryRecord& entry : folder.entries) {
            if (!valid(entry)) continue;
            PutString(out, entry.name);
            PutI32(out, entry.index);
            PutI32(out, entry.seq_id);
            PutI32(out, entry.stamp);
        }
    }
    return out;
}

bool SaveCacheIndex(const fs::path& index_path, const CacheIndexContents& contents, bool durable) {
    fs::path temporary_path = CacheTemporaryIndexPath(index_path);
    std::vector<uint8_t> bytes = SerializeCacheIndex(contents);
    bool saved = false;
    if (File file{std::fopen(temporary_path.c_str(), "wb")}) {
        bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
                       std::fflush(file.get()) == 0 && ::fsync(::fileno(file.get())) == 0;
        bool closed = CloseAfterWrite(std::move(file));
        // rename() replaces the index in one step, so there is no moment without an index.
        std::error_code error;
        if (written && closed) {
            fs::rename(temporary_path, index_path, error);
            saved = !error;
        }
        if (saved && durable) SyncFolderOf(index_path);
    }
    std::error_code ignored;
    fs::remove(temporary_path, ignored);
    return saved;
}

// ---- data records ----

bool ReadCacheRecord(std::FILE* file, bool compressed, int32_t index, int32_t& seq_id,
                     CacheThumbnail& thumbnail) {
    auto offset = RecordOffset(compressed, index);
    if (!offset || fseeko(file, static_cast<off_t>(*offset), SEEK_SET) != 0) return false;
    uint8_t head_bytes[kRecordHeadBytes];
    if (std::fread(head_bytes, 1, sizeof head_bytes, file) != sizeof head_bytes) return false;
    ByteReader reader(head_bytes);
    const int32_t stored_seq = reader.I32();
    const int32_t width = reader.I32();
    const int32_t height = reader.I32();
    if (stored_seq != seq_id) {
        seq_id = stored_seq;
        return false;
    }
    if (width < 0 || width > kRecordSidePx || height < 0 || height > kRecordSidePx) return false;
    thumbnail.width = width;
    thumbnail.height = height;
    thumbnail.pixels.fill(0);
    if (!compressed) {
        return std::fread(thumbnail.pixels.data(), 1, kThumbnailBlockBytes, file) ==
               kThumbnailBlockBytes;
    }
    CacheRecordSink sink{file, thumbnail.pixels.data(), 0, kThumbnailBlockBytes, false};
    std::lock_guard lock(g_codec_mutex);
    int result = implode::Expand(ReadRecordInput, WriteRecordOutput, g_expand_work, &sink);
    return result == implode::kResultOk && !sink.overflowed && std::ferror(file) == 0;
}

bool ReadCacheRecord(const fs::path& data_path, bool compressed, int32_t index, int32_t& seq_id,
                     CacheThumbnail& thumbnail) {
    File file(OpenRegularFileStream(data_path.string()));
    if (!file) return false;
    return ReadCacheRecord(file.get(), compressed, index, seq_id, thumbnail);
}

bool WriteCacheRecord(const fs::path& data_path, bool compressed, int32_t index, int32_t seq_id,
                      std::span<const uint8_t, kThumbnailBlockBytes> pixels, int32_t width,
                      int32_t height) {
    auto offset = RecordOffset(compressed, index);
    if (!offset) return false;
    File file(std::fopen(data_path.c_str(), "r+b"));
    if (!file || fseeko(file.get(), static_cast<off_t>(*offset), SEEK_SET) != 0) return false;
    bool written = WriteRecordHere(file.get(), compressed, seq_id, pixels, width, height);
    return CloseAfterWrite(std::move(file)) && written;
}

int32_t AppendCompressedRecord(const fs::path& data_path, int32_t seq_id,
                               std::span<const uint8_t, kThumbnailBlockBytes> pixels, int32_t width,
                               int32_t height) {
    File file(std::fopen(data_path.c_str(), "r+b"));
    if (!file || fseeko(file.get(), 0, SEEK_END) != 0) return -1;
    off_t length = ftello(file.get());
    if (length < 0 || length > INT32_MAX) return -1;
    bool written = WriteRecordHere(file.get(), true, seq_id, pixels, width, height);
    if (!CloseAfterWrite(std::move(file)) || !written) return -1;
    return static_cast<int32_t>(length);
}

bool SyncFileToDisk(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

CacheFileLock::CacheFileLock(const fs::path& data_path) {
    m_fd = ::open(data_path.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) return;
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        ::close(m_fd);
        m_fd = -1;
        return;
    }
}

CacheFileLock::~CacheFileLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
}

bool EnsureDynamicDataFile(const fs::path& base_path) {
    fs::path data_path = CacheDataPath(base_path);
    std::error_code error;
    if (fs::exists(data_path, error)) return true;
    File file(std::fopen(data_path.c_str(), "wb"));
    if (!file || !CloseAfterWrite(std::move(file))) return false;
    fs::resize_file(data_path, kInitialDataFileBytes, error);
    return !error;
}

bool CreateEmptyDataFile(const fs::path& base_path) {
    File file(std::fopen(CacheDataPath(base_path).c_str(), "wb"));
    return file && CloseAfterWrite(std::move(file));
}

bool LengthenDataFileForEntries(const fs::path& data_path, int64_t entry_count) {
    std::error_code error;
    auto length = fs::file_size(data_path, error);
    if (error) return false;
    auto wanted = static_cast<uintmax_t>((entry_count + 1) * kSlotBytes);
    if (length >= wanted) return true;
    fs::resize_file(data_path, wanted, error);
    return !error;
}

}  // namespace scopa
