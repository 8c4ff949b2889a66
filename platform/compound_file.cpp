#include "platform/compound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/byte_reader.h"
#include "platform/code_pages.h"
#include "platform/regular_file.h"

namespace scopa {

// Format notes. A compound file is a little FAT file system inside one file. The first
// sector holds the 512-byte header (version 4 pads it to 4,096 bytes); sector n starts at
// byte (n + 1) * sector size. The FAT maps each sector to the next one of its chain; the
// FAT's own sectors are listed by the DIFAT: 109 entries in the header, then DIFAT sectors
// of (sector size / 4 - 1) entries each, whose last entry names the next DIFAT sector.
// Streams shorter than 4,096 bytes live in the mini stream (the root entry's stream) as
// 64-byte mini sectors chained by the mini FAT, itself a regular chain. The directory is a
// regular chain of 128-byte entries; each storage's children form a red-black tree ordered
// by CompareElementNames. All numbers are little-endian.
namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr size_t kHeaderBytes = 512;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kDirectoryEntryBytes = 128;
constexpr uint32_t kMiniSectorBytes = 64;
constexpr uint32_t kMiniStreamCutoffBytes = 4096;
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr size_t kMaxNameUnits = 31;  // 64-byte name field holds 31 units and a zero

// Where the bytes come from: a file read with pread, or a copy in memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes at `offset`; returns how many were read.
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
    uint64_t size_bytes = 0;
    uint64_t bytes_read = 0;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(int fd) : m_fd(fd) {}
    ~FileSource() override { ::close(m_fd); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
        size_t done = 0;
        auto* out = static_cast<uint8_t*>(buffer);
        while (done < size) {
            ssize_t got = ::pread(m_fd, out + done, size - done, off_t(offset + done));
            if (got <= 0) break;
            done += size_t(got);
        }
        bytes_read += done;
        return done;
    }

private:
    int m_fd;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, size_t size)
        : m_bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {
        size_bytes = size;
    }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
        if (size == 0 || offset >= m_bytes.size()) return 0;
        size_t take = size_t(std::min<uint64_t>(size, m_bytes.size() - offset));
        std::memcpy(buffer, m_bytes.data() + offset, take);
        bytes_read += take;
        return take;
    }

private:
    std::vector<uint8_t> m_bytes;
};

// One 128-byte directory entry, decoded.
struct DirectoryEntry {
    std::u16string name;
    uint8_t type = 0;  // 0 unused, 1 storage, 2 stream, 5 root
    uint32_t left = kNoEntry;
    uint32_t right = kNoEntry;
    uint32_t child = kNoEntry;
    std::array<uint8_t, 16> clsid{};
    uint64_t created = 0;
    uint64_t modified = 0;
    uint32_t start_sector = kEndOfChain;
    uint64_t size = 0;
};

bool ModeAllowsReadOnly(uint32_t mode) {
    return (mode & (kStgmWrite | kStgmReadWrite)) == 0;
}

void SetError(std::string* error, const char* text) {
    if (error != nullptr) *error = text;
}

// Upper-cases one UTF-16 unit for name comparison: ASCII, Latin-1, basic Greek and
// Cyrillic letters, which covers the names documents use; other units compare as they are.
char16_t UpperUnit(char16_t c) {
    if (c >= u'a' && c <= u'z') return char16_t(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 0x20);  // Latin-1
    if (c == 0xFF) return 0x178;
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return char16_t(c - 0x20);  // Greek
    if (c >= 0x430 && c <= 0x44F) return char16_t(c - 0x20);                // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);
    return c;
}

}  // namespace

// The sectors of one chain, found so far. A chain ends at the end-of-chain mark; it is
// broken (and ends there too) at a sector number out of range or one it already visited.
struct SectorChain {
    bool mini = false;
    uint32_t start = kEndOfChain;
    uint64_t size_bytes = 0;  // declared length; the directory's is unbounded
    std::vector<uint32_t> sectors;
    std::unordered_set<uint32_t> seen;
    bool ended = false;
    bool direct = false;  // bytes straight from the source (a stream in memory)
};

struct CompoundFileState {
    std::unique_ptr<ByteSource> source;
    uint32_t sector_bytes = 512;
    uint32_t sector_count = 0;  // regular sectors the file holds after the header
    bool version4 = false;
    uint32_t fat_sector_count = 0;
    uint32_t first_difat_sector = kEndOfChain;
    uint32_t difat_sector_count = 0;
    std::vector<uint32_t> header_difat;
    std::vector<uint32_t> difat_sectors;  // DIFAT sectors found so far
    std::unordered_set<uint32_t> difat_seen;
    bool difat_ended = false;
    std::unordered_map<uint32_t, std::vector<uint32_t>> fat_cache;  // by FAT sector index
    std::shared_ptr<SectorChain> directory;
    std::shared_ptr<SectorChain> mini_fat;
    std::shared_ptr<SectorChain> mini_stream;
    std::unordered_map<uint32_t, std::optional<DirectoryEntry>> entries;

    uint32_t EntriesPerSector() const { return sector_bytes / 4; }
    bool ReadHeader(std::string* error);
    std::optional<uint32_t> FatSectorNumber(uint32_t fat_index);
    std::optional<uint32_t> NextSector(const SectorChain& chain, uint32_t sector);
    std::optional<uint32_t> SectorAt(SectorChain& chain, size_t index);
    size_t ReadChain(SectorChain& chain, uint64_t position, void* buffer, size_t size);
    const DirectoryEntry* Entry(uint32_t id);
    std::shared_ptr<SectorChain> MakeChain(bool mini, uint32_t start, uint64_t size_bytes);
};

bool CompoundFileState::ReadHeader(std::string* error) {
    uint8_t header[kHeaderBytes];
    if (source->ReadAt(0, header, kHeaderBytes) != kHeaderBytes) {
        SetError(error, "file is shorter than a compound-file header");
        return false;
    }
    if (!HasStorageSignature(header, kHeaderBytes)) {
        SetError(error, "not a compound file");
        return false;
    }
    ByteReader fields(header);
    uint16_t major_version = fields.U16At(26);
    uint16_t sector_shift = fields.U16At(30);
    if (fields.U16At(28) != kByteOrderMark) {
        SetError(error, "compound-file header has a wrong byte-order mark");
        return false;
    }
    if (!((major_version == 3 && sector_shift == 9) ||
          (major_version == 4 && sector_shift == 12))) {
        SetError(error, "unsupported compound-file version or sector size");
        return false;
    }
    if (fields.U16At(32) != 6 || fields.U32At(56) != kMiniStreamCutoffBytes) {
        SetError(error, "compound-file header has an abnormal mini-stream layout");
        return false;
    }
    version4 = major_version == 4;
    sector_bytes = 1u << sector_shift;
    uint64_t file_bytes = source->size_bytes;
    if (file_bytes <= sector_bytes) {
        SetError(error, "compound file holds no sectors");
        return false;
    }
    // A last sector cut short still counts; reads from it come back short.
    uint64_t sectors = (file_bytes - sector_bytes + sector_bytes - 1) / sector_bytes;
    sector_count = uint32_t(std::min<uint64_t>(sectors, kMaxRegularSector));
    fat_sector_count = fields.U32At(44);
    first_difat_sector = fields.U32At(68);
    difat_sector_count = fields.U32At(72);
    header_difat.resize(kHeaderDifatEntries);
    fields.Seek(76);
    for (uint32_t& fat_sector : header_difat)
        fat_sector = fields.U32();
    directory = MakeChain(false, fields.U32At(48), UINT64_MAX);
    mini_fat = MakeChain(false, fields.U32At(60), uint64_t(fields.U32At(64)) * sector_bytes);
    return true;
}

std::shared_ptr<SectorChain> CompoundFileState::MakeChain(bool mini, uint32_t start,
                                                          uint64_t size_bytes) {
    auto chain = std::make_shared<SectorChain>();
    chain->mini = mini;
    chain->start = start;
    chain->size_bytes = size_bytes;
    return chain;
}

std::optional<uint32_t> CompoundFileState::FatSectorNumber(uint32_t fat_index) {
    if (fat_index >= fat_sector_count) return std::nullopt;
    if (fat_index < kHeaderDifatEntries) return header_difat[fat_index];
    uint32_t per_difat_sector = EntriesPerSector() - 1;
    uint32_t rest = fat_index - uint32_t(kHeaderDifatEntries);
    size_t difat_index = rest / per_difat_sector;
    while (difat_sectors.size() <= difat_index && !difat_ended) {
        uint32_t next = first_difat_sector;
        if (!difat_sectors.empty()) {
            uint8_t bytes[4];
            uint64_t offset = (uint64_t(difat_sectors.back()) + 1) * sector_bytes +
                              uint64_t(per_difat_sector) * 4;
            if (source->ReadAt(offset, bytes, 4) != 4) return std::nullopt;
            next = ByteReader(bytes).U32();
        }
        if (next >= sector_count || difat_sectors.size() >= difat_sector_count ||
            !difat_seen.insert(next).second) {
            difat_ended = true;
            break;
        }
        difat_sectors.push_back(next);
    }
    if (difat_sectors.size() <= difat_index) return std::nullopt;
    uint8_t bytes[4];
    uint64_t offset = (uint64_t(difat_sectors[difat_index]) + 1) * sector_bytes +
                      uint64_t(rest % per_difat_sector) * 4;
    if (source->ReadAt(offset, bytes, 4) != 4) return std::nullopt;
    return ByteReader(bytes).U32();
}

std::optional<uint32_t> CompoundFileState::NextSector(const SectorChain& chain, uint32_t sector) {
    if (chain.mini) {
        uint8_t bytes[4];
        if (ReadChain(*mini_fat, uint64_t(sector) * 4, bytes, 4) != 4) return std::nullopt;
        return ByteReader(bytes).U32();
    }
    uint32_t fat_index = sector / EntriesPerSector();
    auto cached = fat_cache.find(fat_index);
    if (cached == fat_cache.end()) {
        std::optional<uint32_t> fat_sector = FatSectorNumber(fat_index);
        if (!fat_sector || *fat_sector >= sector_count) return std::nullopt;
        std::vector<uint8_t> bytes(sector_bytes);
        if (source->ReadAt((uint64_t(*fat_sector) + 1) * sector_bytes, bytes.data(),
                           sector_bytes) != sector_bytes) {
            return std::nullopt;
        }
        std::vector<uint32_t> next_sectors(EntriesPerSector());
        ByteReader fat(bytes);
        for (uint32_t& next : next_sectors)
            next = fat.U32();
        cached = fat_cache.emplace(fat_index, std::move(next_sectors)).first;
    }
    return cached->second[sector % EntriesPerSector()];
}

std::optional<uint32_t> CompoundFileState::SectorAt(SectorChain& chain, size_t index) {
    while (chain.sectors.size() <= index && !chain.ended) {
        std::optional<uint32_t> next = chain.start;
        if (!chain.sectors.empty()) next = NextSector(chain, chain.sectors.back());
        bool in_range = false;
        if (next) {
            in_range = chain.mini ? uint64_t(*next) * kMiniSectorBytes < mini_stream->size_bytes
                                  : *next < sector_count;
        }
        if (!in_range || !chain.seen.insert(*next).second) {
            chain.ended = true;  // end of chain, or a broken one: either way no more data
            break;
        }
        chain.sectors.push_back(*next);
    }
    if (index < chain.sectors.size()) return chain.sectors[index];
    return std::nullopt;
}

size_t CompoundFileState::ReadChain(SectorChain& chain, uint64_t position, void* buffer,
                                    size_t size) {
    if (size == 0 || position >= chain.size_bytes) return 0;
    size = size_t(std::min<uint64_t>(size, chain.size_bytes - position));
    if (chain.direct) return source->ReadAt(position, buffer, size);
    uint32_t unit = chain.mini ? kMiniSectorBytes : sector_bytes;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        uint64_t at = position + done;
        std::optional<uint32_t> sector = SectorAt(chain, size_t(at / unit));
        if (!sector) break;
        uint32_t within = uint32_t(at % unit);
        size_t take = std::min<size_t>(size - done, unit - within);
        size_t got;
        if (chain.mini) {
            got = ReadChain(*mini_stream, uint64_t(*sector) * unit + within, out + done, take);
        } else {
            got = source->ReadAt((uint64_t(*sector) + 1) * unit + within, out + done, take);
        }
        done += got;
        if (got != take) break;
    }
    return done;
}

const DirectoryEntry* CompoundFileState::Entry(uint32_t id) {
    if (id == kNoEntry) return nullptr;
    auto found = entries.find(id);
    if (found != entries.end()) return found->second ? &*found->second : nullptr;
    std::optional<DirectoryEntry> entry;
    uint8_t bytes[kDirectoryEntryBytes];
    if (ReadChain(*directory, uint64_t(id) * kDirectoryEntryBytes, bytes, kDirectoryEntryBytes) ==
        kDirectoryEntryBytes) {
        ByteReader fields(bytes);
        uint16_t name_bytes = fields.U16At(64);
        uint8_t type = fields.U8At(66);
        bool known_type = type == 1 || type == 2 || type == 5;
        if (known_type && name_bytes <= 64 && name_bytes % 2 == 0) {
            DirectoryEntry& e = entry.emplace();
            e.name = fields.Utf16(name_bytes >= 2 ? name_bytes / 2 - 1 : 0);
            e.type = type;
            e.left = fields.U32At(68);
            e.right = fields.U32At(72);
            e.child = fields.U32At(76);
            fields.Seek(80);
            e.clsid = fields.Array<16>();
            e.created = fields.U64At(100);
            e.modified = fields.U64At(108);
            e.start_sector = fields.U32At(116);
            // Version 3 files keep only 32 bits of size; the high half may hold junk.
            e.size = version4 ? fields.U64At(120) : fields.U32At(120);
        }
    }
    auto inserted = entries.emplace(id, std::move(entry)).first;
    return inserted->second ? &*inserted->second : nullptr;
}

// ---- free functions ----

bool HasStorageSignature(const void* data, size_t size) {
    return size >= sizeof(kSignature) && std::memcmp(data, kSignature, sizeof(kSignature)) == 0;
}

StorageFileAnswer StgIsStorageFile(const std::string& path) {
    int fd = OpenRegularFile(path);
    if (fd < 0) return StorageFileAnswer::kUnreadable;
    FileSource source(fd);
    uint8_t bytes[sizeof(kSignature)];
    size_t got = source.ReadAt(0, bytes, sizeof(bytes));
    return HasStorageSignature(bytes, got) ? StorageFileAnswer::kStorage
                                           : StorageFileAnswer::kNotStorage;
}

int CompareElementNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t ua = UpperUnit(a[i]);
        char16_t ub = UpperUnit(b[i]);
        if (ua != ub) return ua < ub ? -1 : 1;
    }
    return 0;
}

namespace {

StorageStat MakeStat(const DirectoryEntry& entry, bool with_name) {
    StorageStat stat;
    if (with_name) stat.name = Utf16ToUtf8(entry.name);
    stat.type = StorageElementType(entry.type);
    stat.size = entry.type == uint8_t(StorageElementType::kStream) ? entry.size : 0;
    stat.clsid = entry.clsid;
    stat.created_filetime = entry.created;
    stat.modified_filetime = entry.modified;
    return stat;
}

}  // namespace

// ---- OleStream ----

OleStream::OleStream(std::shared_ptr<CompoundFileState> file, uint32_t entry_id,
                     std::shared_ptr<SectorChain> chain)
    : m_file(std::move(file)), m_entryId(entry_id), m_chain(std::move(chain)) {}

OleStream::~OleStream() = default;

uint64_t OleStream::Size() const {
    return m_chain->size_bytes;
}

size_t OleStream::Read(void* buffer, size_t size) {
    size_t got = m_file->ReadChain(*m_chain, m_position, buffer, size);
    m_position += got;
    return got;
}

bool OleStream::Seek(int64_t offset, SeekOrigin origin, uint64_t* new_position) {
    int64_t base = 0;
    if (origin == SeekOrigin::kCurrent) base = int64_t(m_position);
    if (origin == SeekOrigin::kEnd) base = int64_t(Size());
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) return false;
    m_position = uint64_t(target);
    if (new_position != nullptr) *new_position = m_position;
    return true;
}

StorageStat OleStream::Stat(bool with_name) const {
    if (m_chain->direct) {
        StorageStat stat;
        stat.size = Size();
        return stat;
    }
    const DirectoryEntry* entry = m_file->Entry(m_entryId);
    return entry != nullptr ? MakeStat(*entry, with_name) : StorageStat{};
}

std::unique_ptr<OleStream> OleStream::FromBytes(const void* data, size_t size) {
    auto file = std::make_shared<CompoundFileState>();
    file->source = std::make_unique<MemorySource>(data, size);
    auto chain = file->MakeChain(false, kEndOfChain, size);
    chain->direct = true;
    return std::unique_ptr<OleStream>(new OleStream(std::move(file), kNoEntry, std::move(chain)));
}

std::unique_ptr<OleStream> OleStream::Clone() const {
    std::unique_ptr<OleStream> clone(new OleStream(m_file, m_entryId, m_chain));
    clone->m_position = m_position;
    return clone;
}

// ---- OleStorage ----

OleStorage::OleStorage(std::shared_ptr<CompoundFileState> file, uint32_t entry_id)
    : m_file(std::move(file)), m_entryId(entry_id) {}

OleStorage::~OleStorage() = default;

std::unique_ptr<OleStorage> OleStorage::OpenState(std::shared_ptr<CompoundFileState> file,
                                                  std::string* error) {
    if (!file->ReadHeader(error)) return nullptr;
    const DirectoryEntry* root = file->Entry(0);
    if (root == nullptr || root->type != uint8_t(StorageElementType::kRoot)) {
        SetError(error, "compound file has no root entry");
        return nullptr;
    }
    if (root->size > file->source->size_bytes) {
        SetError(error, "compound-file mini stream reaches past the end of the file");
        return nullptr;
    }
    file->mini_stream = file->MakeChain(false, root->start_sector, root->size);
    return std::unique_ptr<OleStorage>(new OleStorage(std::move(file), 0));
}

std::unique_ptr<OleStorage> OleStorage::Open(const std::string& path, uint32_t mode,
                                             std::string* error) {
    if (!ModeAllowsReadOnly(mode)) {
        SetError(error, "compound files are opened for reading only");
        return nullptr;
    }
    uint64_t size_bytes = 0;
    int fd = OpenRegularFile(path, &size_bytes);
    if (fd < 0) {
        SetError(error, "cannot open a regular file");
        return nullptr;
    }
    auto source = std::make_unique<FileSource>(fd);
    source->size_bytes = size_bytes;
    auto file = std::make_shared<CompoundFileState>();
    file->source = std::move(source);
    return OpenState(std::move(file), error);
}

std::unique_ptr<OleStorage> OleStorage::OpenBytes(const void* data, size_t size,
                                                  std::string* error) {
    auto file = std::make_shared<CompoundFileState>();
    file->source = std::make_unique<MemorySource>(data, size);
    return OpenState(std::move(file), error);
}

uint32_t OleStorage::FindChild(std::string_view name) const {
    std::u16string wanted = Utf8ToUtf16(name);
    const DirectoryEntry* self = m_file->Entry(m_entryId);
    if (wanted.size() > kMaxNameUnits || self == nullptr) return kNoEntry;
    // Descend the tree by the name order, as a well-formed file allows.
    std::unordered_set<uint32_t> visited;
    for (uint32_t id = self->child; id != kNoEntry && visited.insert(id).second;) {
        const DirectoryEntry* entry = m_file->Entry(id);
        if (entry == nullptr) break;
        int order = CompareElementNames(wanted, entry->name);
        if (order == 0) return id;
        id = order < 0 ? entry->left : entry->right;
    }
    // Some writers leave the tree unsorted: look at every child before giving up.
    visited.clear();
    std::vector<uint32_t> pending{self->child};
    while (!pending.empty() && visited.size() < kMaxListedElements) {
        uint32_t id = pending.back();
        pending.pop_back();
        if (id == kNoEntry || !visited.insert(id).second) continue;
        const DirectoryEntry* entry = m_file->Entry(id);
        if (entry == nullptr) continue;
        if (CompareElementNames(wanted, entry->name) == 0) return id;
        pending.push_back(entry->right);
        pending.push_back(entry->left);
    }
    return kNoEntry;
}

std::unique_ptr<OleStream> OleStorage::OpenStream(std::string_view name, uint32_t mode) const {
    if (!ModeAllowsReadOnly(mode)) return nullptr;
    uint32_t id = FindChild(name);
    const DirectoryEntry* entry = m_file->Entry(id);
    if (entry == nullptr || entry->type != uint8_t(StorageElementType::kStream)) return nullptr;
    bool mini = entry->size < kMiniStreamCutoffBytes;
    uint64_t room = mini ? m_file->mini_stream->size_bytes : m_file->source->size_bytes;
    if (entry->size > room) return nullptr;  // a size no chain in this file can hold
    auto chain = m_file->MakeChain(mini, entry->start_sector, entry->size);
    return std::unique_ptr<OleStream>(new OleStream(m_file, id, std::move(chain)));
}

std::unique_ptr<OleStorage> OleStorage::OpenStorage(std::string_view name, uint32_t mode) const {
    if (!ModeAllowsReadOnly(mode)) return nullptr;
    uint32_t id = FindChild(name);
    const DirectoryEntry* entry = m_file->Entry(id);
    if (entry == nullptr || entry->type != uint8_t(StorageElementType::kStorage)) return nullptr;
    return std::unique_ptr<OleStorage>(new OleStorage(m_file, id));
}

std::vector<StorageStat> OleStorage::EnumElements() const {
    std::vector<StorageStat> result;
    const DirectoryEntry* self = m_file->Entry(m_entryId);
    if (self == nullptr) return result;
    // In-order walk with an explicit stack; every entry is visited at most once.
    std::unordered_set<uint32_t> visited;
    std::vector<uint32_t> stack;
    uint32_t id = self->child;
    while ((id != kNoEntry || !stack.empty()) && result.size() < kMaxListedElements) {
        while (id != kNoEntry && visited.insert(id).second) {
            const DirectoryEntry* entry = m_file->Entry(id);
            if (entry == nullptr) break;
            stack.push_back(id);
            id = entry->left;
        }
        if (stack.empty()) break;
        uint32_t current = stack.back();
        stack.pop_back();
        const DirectoryEntry* entry = m_file->Entry(current);
        result.push_back(MakeStat(*entry, true));
        id = entry->right;
    }
    return result;
}

StorageStat OleStorage::Stat(bool with_name) const {
    const DirectoryEntry* entry = m_file->Entry(m_entryId);
    return entry != nullptr ? MakeStat(*entry, with_name) : StorageStat{};
}

uint64_t OleStorage::BytesRead() const {
    return m_file->source->bytes_read;
}

}  // namespace scopa
