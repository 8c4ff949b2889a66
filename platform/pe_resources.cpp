#include "platform/pe_resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/code_pages.h"
#include "platform/regular_file.h"
#include "platform/text.h"

namespace scopa {

// Format notes. A PE file starts with the "MZ" header whose 32-bit value at 0x3C locates the
// "PE\0\0" signature, followed by the 20-byte COFF header (section count at +2, optional
// header size at +16) and the optional header (magic 0x10B for 32-bit, 0x20B for 64-bit
// images), whose data directories (at +96 or +112, 8 bytes each) give the resource
// directory's RVA and size as entry 2. Sections (40 bytes each) map RVAs to file offsets.
// The resource tree has three levels (type, name, language) of 16-byte directories, each
// followed by 8-byte entries: an identifier (high bit: a named entry) and an offset from the
// tree's start (high bit: a subdirectory). Leaves are 16-byte data entries holding the
// data's RVA and size. All numbers are little-endian.
namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kCoffHeaderBytes = 20;
constexpr size_t kSectionHeaderBytes = 40;
constexpr size_t kResourceDirectoryBytes = 16;
constexpr size_t kResourceEntryBytes = 8;
constexpr size_t kResourceDataEntryBytes = 16;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr int kMaxVersionDepth = 8;

uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(Le16(p)) | (uint32_t(Le16(p + 2)) << 16);
}

void SetError(std::string* error, const char* text) {
    if (error != nullptr) *error = text;
}

}  // namespace

struct PeSource {
    int fd = -1;
    std::vector<uint8_t> bytes;  // when read from memory
    uint64_t size_bytes = 0;
    uint64_t bytes_read = 0;

    ~PeSource() {
        if (fd >= 0) ::close(fd);
    }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) {
        if (size == 0) return true;
        if (offset > size_bytes || size > size_bytes - offset) return false;
        if (fd < 0) {
            std::memcpy(buffer, bytes.data() + offset, size);
        } else {
            size_t done = 0;
            auto* out = static_cast<uint8_t*>(buffer);
            while (done < size) {
                ssize_t got = ::pread(fd, out + done, size - done, off_t(offset + done));
                if (got <= 0) return false;
                done += size_t(got);
            }
        }
        bytes_read += size;
        return true;
    }
};

PeResources::PeResources(std::unique_ptr<PeSource> source) : m_source(std::move(source)) {}

PeResources::~PeResources() = default;

uint64_t PeResources::BytesRead() const {
    return m_source->bytes_read;
}

bool PeResources::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    return m_source->ReadAt(offset, buffer, size);
}

std::unique_ptr<PeResources> PeResources::Open(const std::string& path, std::string* error) {
    auto source = std::make_unique<PeSource>();
    source->fd = OpenRegularFile(path, &source->size_bytes);
    if (source->fd < 0) {
        SetError(error, "cannot open a regular file");
        return nullptr;
    }
    std::unique_ptr<PeResources> resources(new PeResources(std::move(source)));
    if (!resources->Parse(error)) return nullptr;
    return resources;
}

std::unique_ptr<PeResources> PeResources::FromBytes(const void* data, size_t size,
                                                    std::string* error) {
    auto source = std::make_unique<PeSource>();
    const auto* bytes = static_cast<const uint8_t*>(data);
    source->bytes.assign(bytes, bytes + size);
    source->size_bytes = size;
    std::unique_ptr<PeResources> resources(new PeResources(std::move(source)));
    if (!resources->Parse(error)) return nullptr;
    return resources;
}

bool PeResources::Parse(std::string* error) {
    uint8_t dos[0x40];
    if (!ReadAt(0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') {
        SetError(error, "not a PE file (no MZ header)");
        return false;
    }
    const uint64_t pe = Le32(dos + 0x3C);
    uint8_t signature_and_coff[4 + kCoffHeaderBytes];
    if (!ReadAt(pe, signature_and_coff, sizeof(signature_and_coff)) ||
        std::memcmp(signature_and_coff, "PE\0\0", 4) != 0) {
        SetError(error, "not a PE file (no PE signature)");
        return false;
    }
    const uint8_t* coff = signature_and_coff + 4;
    const uint16_t section_count = Le16(coff + 2);
    const uint16_t optional_bytes = Le16(coff + 16);
    const uint64_t optional_at = pe + sizeof(signature_and_coff);
    std::vector<uint8_t> optional(optional_bytes);
    if (optional_bytes < 2 || !ReadAt(optional_at, optional.data(), optional.size())) {
        SetError(error, "PE optional header is cut short");
        return false;
    }
    const uint16_t magic = Le16(optional.data());
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        SetError(error, "unknown PE optional header");
        return false;
    }
    m_is64Bit = magic == kPe32PlusMagic;
    const size_t count_at = m_is64Bit ? 108 : 92;
    const size_t directory_at = count_at + 4 + 8 * kResourceDirectoryIndex;
    if (directory_at + 8 > optional.size() ||
        Le32(optional.data() + count_at) <= kResourceDirectoryIndex) {
        SetError(error, "PE file has no resources");
        return false;
    }
    const uint32_t resource_rva = Le32(optional.data() + directory_at);
    const uint32_t resource_bytes = Le32(optional.data() + directory_at + 4);
    std::vector<uint8_t> table(size_t(section_count) * kSectionHeaderBytes);
    if (!ReadAt(optional_at + optional_bytes, table.data(), table.size())) {
        SetError(error, "PE section table is cut short");
        return false;
    }
    for (size_t i = 0; i < section_count; ++i) {
        const uint8_t* header = table.data() + i * kSectionHeaderBytes;
        m_sections.push_back(
            {Le32(header + 12), Le32(header + 8), Le32(header + 16), Le32(header + 20)});
    }
    std::optional<uint64_t> offset = RvaToOffset(resource_rva, resource_bytes);
    if (resource_bytes < kResourceDirectoryBytes || resource_bytes > kMaxResourceTreeBytes ||
        !offset) {
        SetError(error, "PE file has no resources");
        return false;
    }
    m_tree.resize(resource_bytes);
    if (!ReadAt(*offset, m_tree.data(), m_tree.size())) {
        SetError(error, "PE resources are cut short");
        return false;
    }
    return true;
}

std::optional<uint64_t> PeResources::RvaToOffset(uint32_t rva, uint32_t size) const {
    for (const Section& section : m_sections) {
        uint64_t extent = std::max(section.virtual_size, section.raw_size);
        if (rva < section.virtual_address || rva - section.virtual_address >= extent) continue;
        uint64_t within = rva - section.virtual_address;
        // The bytes must be stored in the file, inside this section's raw data.
        if (within + size > section.raw_size) return std::nullopt;
        uint64_t offset = uint64_t(section.raw_offset) + within;
        if (offset + size > m_source->size_bytes) return std::nullopt;
        return offset;
    }
    return std::nullopt;
}

std::optional<uint32_t> PeResources::Child(uint32_t directory_offset, std::optional<uint32_t> id,
                                           bool want_directory) const {
    if (uint64_t(directory_offset) + kResourceDirectoryBytes > m_tree.size()) return std::nullopt;
    const uint8_t* directory = m_tree.data() + directory_offset;
    const size_t named = Le16(directory + 12);
    const size_t total = std::min(named + Le16(directory + 14), kMaxResourceEntriesPerDirectory);
    for (size_t i = 0; i < total; ++i) {
        uint64_t at =
            uint64_t(directory_offset) + kResourceDirectoryBytes + i * kResourceEntryBytes;
        if (at + kResourceEntryBytes > m_tree.size()) return std::nullopt;
        const uint8_t* entry = m_tree.data() + at;
        const uint32_t name = Le32(entry);
        const uint32_t target = Le32(entry + 4);
        if (id && ((name & kHighBit) != 0 || name != *id)) continue;
        if (((target & kHighBit) != 0) != want_directory) {
            if (id) return std::nullopt;
            continue;
        }
        return target & ~kHighBit;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> PeResources::Lookup(uint32_t type,
                                                        std::optional<uint32_t> id) const {
    // Three fixed levels, so a tree whose offsets loop back still ends.
    std::optional<uint32_t> names = Child(0, type, true);
    std::optional<uint32_t> languages = names ? Child(*names, id, true) : std::nullopt;
    std::optional<uint32_t> leaf =
        languages ? Child(*languages, std::nullopt, false) : std::nullopt;
    if (!leaf || uint64_t(*leaf) + kResourceDataEntryBytes > m_tree.size()) return std::nullopt;
    const uint8_t* data_entry = m_tree.data() + *leaf;
    const uint32_t data_rva = Le32(data_entry);
    const uint32_t data_size = Le32(data_entry + 4);
    std::optional<uint64_t> offset = RvaToOffset(data_rva, data_size);
    if (!offset || data_size > kMaxResourceDataBytes) return std::nullopt;
    std::vector<uint8_t> data(data_size);
    if (!ReadAt(*offset, data.data(), data.size())) return std::nullopt;
    return data;
}

std::optional<std::vector<uint8_t>> PeResources::Find(uint32_t type, uint32_t id) const {
    return Lookup(type, id);
}

std::optional<std::vector<uint8_t>> PeResources::FindFirst(uint32_t type) const {
    return Lookup(type, std::nullopt);
}

// ---- version resources ----

// Format notes. Every block of a version resource is: total length, value length (in
// characters for text values, bytes otherwise), type (1 text, 0 binary), a zero-terminated
// UTF-16 key, padding to 4 bytes, the value, padding to 4 bytes, then the child blocks up to
// the total length. Alignment is counted from the start of the resource.
namespace {

size_t Align4(size_t offset) {
    return (offset + 3) & ~size_t(3);
}

}  // namespace

struct VersionBlockParser {
    const uint8_t* base;
    size_t size;

    // Parses the block at `offset`, bounded by `end`; returns its total length or 0.
    template <typename NodeT>
    size_t Parse(size_t offset, size_t end, int depth, NodeT* node) const {
        if (depth > kMaxVersionDepth || offset + 6 > end) return 0;
        const size_t length = Le16(base + offset);
        const size_t value_length = Le16(base + offset + 2);
        node->is_text = Le16(base + offset + 4) == 1;
        if (length < 6 || offset + length > end) return 0;
        const size_t block_end = offset + length;
        std::u16string key;
        size_t at = offset + 6;
        for (; at + 2 <= block_end; at += 2) {
            char16_t unit = char16_t(Le16(base + at));
            if (unit == 0) break;
            key.push_back(unit);
        }
        node->key = Utf16ToUtf8(key);
        at = Align4(at + 2);
        size_t value_bytes = node->is_text ? 2 * value_length : value_length;
        if (at < block_end) {
            value_bytes = std::min(value_bytes, block_end - at);
            node->value.assign(base + at, base + at + value_bytes);
            at = Align4(at + value_bytes);
        }
        while (at + 6 <= block_end) {
            NodeT child;
            size_t used = Parse(at, block_end, depth + 1, &child);
            if (used == 0) break;
            node->children.push_back(std::move(child));
            at = Align4(at + used);
        }
        return length;
    }
};

bool FileVersionInfo::Parse(const std::vector<uint8_t>& block) {
    m_root = Node{};
    m_parsed = false;
    if (block.size() > kMaxVersionBlockBytes) return false;
    VersionBlockParser parser{block.data(), block.size()};
    if (parser.Parse(0, block.size(), 0, &m_root) == 0 || m_root.key != "VS_VERSION_INFO") {
        m_root = Node{};
        return false;
    }
    m_parsed = true;
    return true;
}

const FileVersionInfo::Node* FileVersionInfo::FindNode(std::string_view path) const {
    if (!m_parsed) return nullptr;
    const Node* node = &m_root;
    size_t begin = 0;
    while (begin < path.size()) {
        size_t slash = path.find('\\', begin);
        if (slash == std::string_view::npos) slash = path.size();
        std::string_view key = path.substr(begin, slash - begin);
        begin = slash + 1;
        if (key.empty()) continue;
        const Node* next = nullptr;
        for (const Node& child : node->children) {
            if (EqualsNoCase(child.key, key)) {
                next = &child;
                break;
            }
        }
        if (next == nullptr) return nullptr;
        node = next;
    }
    return node;
}

std::vector<uint32_t> FileVersionInfo::Translations() const {
    std::vector<uint32_t> result;
    const Node* node = FindNode("\\VarFileInfo\\Translation");
    if (node == nullptr) return result;
    for (size_t i = 0; i + 4 <= node->value.size(); i += 4)
        result.push_back(Le32(&node->value[i]));
    return result;
}

std::optional<std::string> FileVersionInfo::QueryString(std::string_view path) const {
    const Node* node = FindNode(path);
    if (node == nullptr || !node->is_text) return std::nullopt;
    std::u16string text;
    for (size_t i = 0; i + 2 <= node->value.size(); i += 2) {
        char16_t unit = char16_t(Le16(&node->value[i]));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return Utf16ToUtf8(text);
}

}  // namespace scopa
