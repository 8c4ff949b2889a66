// A small writer of OLE compound files for tests: storages and streams of any size, short
// streams in the mini stream, long ones in regular sectors, the FAT extended through DIFAT
// sectors when it outgrows the header. Its output is checked against independent tools.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace scopa::test {

// Where the writer put things, so tests can damage a file on purpose.
struct CompoundLayout {
    uint32_t sector_bytes = 0;
    uint32_t first_directory_sector = 0;
    uint32_t first_mini_fat_sector = 0;
    uint32_t first_difat_sector = 0;
    std::vector<uint32_t> fat_sectors;
    std::map<std::string, uint32_t> directory_ids;  // by path ("" is the root)
    std::map<std::string, uint32_t> start_sectors;  // streams by path

    // Byte offset of regular sector `sector` in the file.
    uint64_t SectorOffset(uint32_t sector) const { return (uint64_t(sector) + 1) * sector_bytes; }
    // Byte offset of directory entry `id` when the directory is contiguous (it always is here).
    uint64_t EntryOffset(uint32_t id) const {
        return SectorOffset(first_directory_sector) + uint64_t(id) * 128;
    }
};

class CompoundFileWriter {
public:
    // `major_version` 3 (512-byte sectors) or 4 (4,096-byte sectors).
    explicit CompoundFileWriter(int major_version = 3);

    // Adds a stream at a '/'-separated path (UTF-8); missing storages on the way are made.
    void AddStream(const std::string& path, std::string bytes);
    void AddStorage(const std::string& path);
    // Links each storage's children as one right-leaning chain in the order they were added,
    // instead of a sorted balanced tree, as some careless writers do.
    void SetUnsortedTrees(bool unsorted) { m_unsorted = unsorted; }

    std::string Build(CompoundLayout* layout = nullptr) const;
    void WriteTo(const std::filesystem::path& path, CompoundLayout* layout = nullptr) const;

private:
    struct Node {
        std::string name;
        bool is_storage = false;
        std::string bytes;
        std::vector<size_t> children;  // indices into m_nodes, in the order added
    };
    size_t FindOrAddChild(size_t parent, const std::string& name, bool is_storage);

    int m_majorVersion;
    bool m_unsorted = false;
    std::vector<Node> m_nodes;  // [0] is the root
};

// Little-endian helpers for building and patching byte images in tests.
void PutLe16(std::string& bytes, size_t offset, uint16_t value);
void PutLe32(std::string& bytes, size_t offset, uint32_t value);
void AppendLe16(std::string& bytes, uint16_t value);
void AppendLe32(std::string& bytes, uint32_t value);
void AppendBe16(std::string& bytes, uint16_t value);
void AppendBe32(std::string& bytes, uint32_t value);

// CRC-32 (the zlib polynomial) of a byte string, for comparing with other tools' output.
uint32_t Crc32(const std::string& bytes);

}  // namespace scopa::test
