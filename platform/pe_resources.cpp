#include "platform/pe_resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/byte_reader.h"
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
    const uint64_t pe = ByteReader(dos).U32At(0x3C);
    uint8_t signature_and_coff[4 + kCoffHeaderBytes];
    ByteReader pe_header(signature_and_coff);
    if (!ReadAt(pe, signature_and_coff, sizeof(signature_and_coff)) ||
        !pe_header.Match(std::string_view("PE\0\0", 4))) {
        SetError(error, "not a PE file (no PE signature)");
        return false;
    }
    const uint16_t section_count = pe_header.U16At(4 + 2);
    const uint16_t optional_bytes = pe_header.U16At(4 + 16);
    const uint64_t optional_at = pe + sizeof(signature_and_coff);
    std::vector<uint8_t> optional_header(optional_bytes);
    if (optional_bytes < 2 ||
        !ReadAt(optional_at, optional_header.data(), optional_header.size())) {
        SetError(error, "PE optional header is cut short");
        return false;
    }
    ByteReader optional_fields(optional_header);
    const uint16_t magic = optional_fields.U16();
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        SetError(error, "unknown PE optional header");
        return false;
    }
    m_is64Bit = magic == kPe32PlusMagic;
    const size_t count_at = m_is64Bit ? 108 : 92;
    const size_t directory_at = count_at + 4 + 8 * kResourceDirectoryIndex;
    const uint32_t directory_count = optional_fields.U32At(count_at);
    optional_fields.Seek(directory_at);
    const uint32_t resource_rva = optional_fields.U32();
    const uint32_t resource_bytes = optional_fields.U32();
    if (!optional_fields.Ok() || directory_count <= kResourceDirectoryIndex) {
        SetError(error, "PE file has no resources");
        return false;
    }
    std::vector<uint8_t> table(size_t(section_count) * kSectionHeaderBytes);
    if (!ReadAt(optional_at + optional_bytes, table.data(), table.size())) {
        SetError(error, "PE section table is cut short");
        return false;
    }
    ByteReader sections(table);
    for (size_t i = 0; i < section_count; ++i) {
        ByteReader header = sections.Take(kSectionHeaderBytes);
        m_sections.push_back(
            {header.U32At(12), header.U32At(8), header.U32At(16), header.U32At(20)});
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
    ByteReader tree(m_tree);
    tree.Seek(directory_offset);
    tree.Skip(kResourceDirectoryBytes - 4);
    const size_t named = tree.U16();
    const size_t total = std::min(named + tree.U16(), kMaxResourceEntriesPerDirectory);
    for (size_t i = 0; i < total; ++i) {
        ByteReader entry = tree.Take(kResourceEntryBytes);
        const uint32_t name = entry.U32();
        const uint32_t target = entry.U32();
        if (!tree.Ok()) return std::nullopt;
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
    if (!leaf) return std::nullopt;
    ByteReader data_entry = ByteReader(m_tree).Sub(*leaf, kResourceDataEntryBytes);
    const uint32_t data_rva = data_entry.U32();
    const uint32_t data_size = data_entry.U32();
    if (!data_entry.Ok()) return std::nullopt;
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
    std::span<const uint8_t> resource;

    // Parses the block at `offset`, bounded by `end`; returns its total length or 0. Offsets
    // stay counted from the resource's start, as the alignment is.
    template <typename NodeT>
    size_t Parse(size_t offset, size_t end, int depth, NodeT* node) const {
        if (depth > kMaxVersionDepth) return 0;
        ByteReader fields(resource.first(end));
        fields.Seek(offset);
        const size_t length = fields.U16();
        const size_t value_length = fields.U16();
        node->is_text = fields.U16() == 1;
        if (!fields.Ok() || length < 6 || length > end - offset) return 0;
        const size_t block_end = offset + length;
        ByteReader block(resource.first(block_end));
        block.Seek(offset + 6);
        std::u16string key;
        for (char16_t unit; block.Remaining() >= 2 && (unit = char16_t(block.U16())) != 0;)
            key.push_back(unit);
        node->key = Utf16ToUtf8(key);
        size_t at = Align4(offset + 6 + 2 * key.size() + 2);
        size_t value_bytes = node->is_text ? 2 * value_length : value_length;
        if (at < block_end) {
            value_bytes = std::min(value_bytes, block_end - at);
            block.Seek(at);
            std::span<const uint8_t> value = block.Bytes(value_bytes);
            node->value.assign(value.begin(), value.end());
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
    VersionBlockParser parser{block};
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
    ByteReader value(node->value);
    while (value.Remaining() >= 4)
        result.push_back(value.U32());
    return result;
}

std::optional<std::string> FileVersionInfo::QueryString(std::string_view path) const {
    const Node* node = FindNode(path);
    if (node == nullptr || !node->is_text) return std::nullopt;
    std::u16string text = ByteReader(node->value).Utf16(node->value.size() / 2);
    text.erase(std::find(text.begin(), text.end(), u'\0'), text.end());
    return Utf16ToUtf8(text);
}

}  // namespace scopa
