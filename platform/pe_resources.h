// Resources of Windows PE executables and libraries (32- and 64-bit), read from the file's
// bytes: no program is ever loaded or run. Only the headers, the resource tree and the
// resources asked for are read, so large programs cost a few small reads. Also the version
// resource's tree with the queries the version API answers ("\VarFileInfo\Translation",
// "\StringFileInfo\...").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scopa {

// Resource types used here.
inline constexpr uint32_t kResourceTypeBitmap = 2;
inline constexpr uint32_t kResourceTypeVersion = 16;

// Bounds against hostile files.
inline constexpr uint32_t kMaxResourceTreeBytes = 16u << 20;  // the resource section read
inline constexpr uint32_t kMaxResourceDataBytes = 16u << 20;  // one resource
inline constexpr size_t kMaxResourceEntriesPerDirectory = 4096;

struct PeSource;  // where the bytes come from; private

class PeResources {
public:
    // Reads the file's headers and resource directory; null when it is not a PE file or has
    // no resources. `error`, when given, receives a short reason.
    static std::unique_ptr<PeResources> Open(const std::string& path, std::string* error = nullptr);
    static std::unique_ptr<PeResources> FromBytes(const void* data, size_t size,
                                                  std::string* error = nullptr);

    ~PeResources();
    PeResources(const PeResources&) = delete;
    PeResources& operator=(const PeResources&) = delete;

    bool Is64Bit() const { return m_is64Bit; }
    // Bytes read from the file so far: the headers, the resource tree and what was found.
    uint64_t BytesRead() const;
    // The data of the resource of `type` with numeric identifier `id`, its first language;
    // null when there is none or it lies outside the file.
    std::optional<std::vector<uint8_t>> Find(uint32_t type, uint32_t id) const;
    // The first resource of `type` whatever its identifier.
    std::optional<std::vector<uint8_t>> FindFirst(uint32_t type) const;

private:
    explicit PeResources(std::unique_ptr<PeSource> source);
    bool Parse(std::string* error);
    bool ReadAt(uint64_t offset, void* buffer, size_t size) const;
    std::optional<uint64_t> RvaToOffset(uint32_t rva, uint32_t size) const;
    // Offset (within the resource section) of the child of the directory at
    // `directory_offset` with numeric `id`, or of its first child when `id` is empty.
    std::optional<uint32_t> Child(uint32_t directory_offset, std::optional<uint32_t> id,
                                  bool want_directory) const;
    std::optional<std::vector<uint8_t>> Lookup(uint32_t type, std::optional<uint32_t> id) const;

    struct Section {
        uint32_t virtual_address = 0;
        uint32_t virtual_size = 0;
        uint32_t raw_size = 0;
        uint32_t raw_offset = 0;
    };
    std::unique_ptr<PeSource> m_source;
    std::vector<Section> m_sections;
    bool m_is64Bit = false;
    std::vector<uint8_t> m_tree;  // the resource directory's bytes, as the file holds them
};

// A version resource (VS_VERSIONINFO) parsed into its tree of blocks.
class FileVersionInfo {
public:
    // Limit of the version block, as the buffer the version API is given.
    static constexpr size_t kMaxVersionBlockBytes = 65536;

    // False when the block is larger than kMaxVersionBlockBytes or not a version block.
    bool Parse(const std::vector<uint8_t>& block);
    // The language and code-page pairs of "\VarFileInfo\Translation" (language in the low
    // 16 bits, code page in the high 16 bits, as stored).
    std::vector<uint32_t> Translations() const;
    // A string value by path such as "\StringFileInfo\040904b0\Comments" (keys compared
    // without regard to ASCII case); UTF-8.
    std::optional<std::string> QueryString(std::string_view path) const;

private:
    struct Node {
        std::string key;
        bool is_text = false;
        std::vector<uint8_t> value;
        std::vector<Node> children;
    };
    const Node* FindNode(std::string_view path) const;

    Node m_root;
    bool m_parsed = false;
};

}  // namespace scopa
