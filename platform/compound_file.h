// Read-only access to OLE compound files (structured storage): version 3 files with
// 512-byte sectors and version 4 files with 4096-byte sectors. Storages and streams are
// shaped like the system's storage and stream interfaces (open by name, read, seek, stat,
// clone); element names are UTF-16 in the file and UTF-8 here.
//
// Every chain the reader follows is bounded: sector numbers are range-checked, chains that
// revisit a sector are broken, directory walks remember the entries they saw, and sizes that
// reach past the end of the file are refused. A damaged file fails quietly with a null
// object or a short read, never with an out-of-bounds read or an endless loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace scopa {

// Open modes, the bit values of the storage open flags. Only reading is supported: a mode
// asking for write access is refused. Share and priority bits are accepted and have no
// effect (the file is read through its own descriptor).
inline constexpr uint32_t kStgmRead = 0x00000000;
inline constexpr uint32_t kStgmWrite = 0x00000001;
inline constexpr uint32_t kStgmReadWrite = 0x00000002;
inline constexpr uint32_t kStgmShareDenyNone = 0x00000040;
inline constexpr uint32_t kStgmShareDenyRead = 0x00000030;
inline constexpr uint32_t kStgmShareDenyWrite = 0x00000020;
inline constexpr uint32_t kStgmShareExclusive = 0x00000010;
inline constexpr uint32_t kStgmPriority = 0x00040000;
inline constexpr uint32_t kStgmTransacted = 0x00010000;

// Element types of a directory entry, as stored.
enum class StorageElementType : uint8_t { kStorage = 1, kStream = 2, kRoot = 5 };

// What Stat reports about a storage or stream.
struct StorageStat {
    std::string name;  // UTF-8; empty when asked without the name
    StorageElementType type = StorageElementType::kStream;
    uint64_t size = 0;  // streams: bytes; storages: 0
    std::array<uint8_t, 16> clsid{};
    uint64_t created_filetime = 0;
    uint64_t modified_filetime = 0;
};

// Answers of StgIsStorageFile, with the numeric values of the system's status codes:
// 0 the file is a compound file, 1 it is not, and a negative value when it cannot be read.
enum class StorageFileAnswer : int { kStorage = 0, kNotStorage = 1, kUnreadable = -1 };

// Checks the 8-byte compound-file signature at the start of the file.
StorageFileAnswer StgIsStorageFile(const std::string& path);
// The same test on bytes in memory.
bool HasStorageSignature(const void* data, size_t size);

// Origins of OleStream::Seek, with the values of the stream interface.
enum class SeekOrigin { kSet = 0, kCurrent = 1, kEnd = 2 };

struct CompoundFileState;  // shared by a file's storages and streams; private
struct SectorChain;        // the sectors of one stream, followed lazily; private

class OleStream {
public:
    ~OleStream();
    OleStream(const OleStream&) = delete;
    OleStream& operator=(const OleStream&) = delete;

    // Reads up to `size` bytes at the current position and advances it. Returns the bytes
    // read: fewer than asked at the end of the stream or where the file is damaged.
    size_t Read(void* buffer, size_t size);
    // Moves the position; false (position unchanged) when it would become negative.
    // A position past the end is allowed and reads nothing.
    bool Seek(int64_t offset, SeekOrigin origin, uint64_t* new_position = nullptr);
    uint64_t Position() const { return m_position; }
    uint64_t Size() const;
    StorageStat Stat(bool with_name = true) const;
    // A second stream on the same data with its own position (starting at this one's).
    std::unique_ptr<OleStream> Clone() const;

    // A stream over a copy of bytes in memory, outside any compound file (as a stream on a
    // global memory block); Stat reports its size and no name.
    static std::unique_ptr<OleStream> FromBytes(const void* data, size_t size);

private:
    friend class OleStorage;
    OleStream(std::shared_ptr<CompoundFileState> file, uint32_t entry_id,
              std::shared_ptr<SectorChain> chain);

    std::shared_ptr<CompoundFileState> m_file;
    uint32_t m_entryId;
    std::shared_ptr<SectorChain> m_chain;
    uint64_t m_position = 0;
};

class OleStorage {
public:
    ~OleStorage();
    OleStorage(const OleStorage&) = delete;
    OleStorage& operator=(const OleStorage&) = delete;

    // Opens the root storage of a compound file; null when the file cannot be read, is not
    // a compound file, is damaged in its header, or the mode asks for write access.
    // `error`, when given, receives a short reason on failure.
    static std::unique_ptr<OleStorage> Open(const std::string& path, uint32_t mode,
                                            std::string* error = nullptr);
    // The same over a copy of bytes in memory.
    static std::unique_ptr<OleStorage> OpenBytes(const void* data, size_t size,
                                                 std::string* error = nullptr);

    // Child elements by name (UTF-8), compared the way the format orders names. Null when
    // there is no such child of that type, the entry is damaged or the mode asks to write.
    std::unique_ptr<OleStream> OpenStream(std::string_view name, uint32_t mode) const;
    std::unique_ptr<OleStorage> OpenStorage(std::string_view name, uint32_t mode) const;
    // The children in directory order (at most kMaxListedElements of them).
    std::vector<StorageStat> EnumElements() const;
    StorageStat Stat(bool with_name = true) const;

    // Bytes this file has read from its source so far (for measuring).
    uint64_t BytesRead() const;

    static constexpr size_t kMaxListedElements = 65536;

private:
    OleStorage(std::shared_ptr<CompoundFileState> file, uint32_t entry_id);
    static std::unique_ptr<OleStorage> OpenState(std::shared_ptr<CompoundFileState> file,
                                                 std::string* error);
    // Directory id of the child named `name` of this storage, or the no-entry value.
    uint32_t FindChild(std::string_view name) const;

    std::shared_ptr<CompoundFileState> m_file;
    uint32_t m_entryId;
};

// Orders two element names the way the format's directory tree is sorted: the shorter
// name first, then UTF-16 unit by unit after upper-casing. <0, 0 or >0.
int CompareElementNames(std::u16string_view a, std::u16string_view b);

}  // namespace scopa
