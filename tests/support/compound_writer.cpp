#include "support/compound_writer.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "platform/compound_file.h"

namespace scopa::test {

namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kFatSectorMark = 0xFFFFFFFD;
constexpr uint32_t kDifatSectorMark = 0xFFFFFFFC;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr size_t kMiniCutoff = 4096;
constexpr size_t kMiniSector = 64;
constexpr size_t kHeaderDifat = 109;

size_t CeilDiv(size_t a, size_t b) {
    return (a + b - 1) / b;
}

struct FlatEntry {
    std::u16string name;
    uint8_t type = 0;
    uint32_t left = kNoEntry, right = kNoEntry, child = kNoEntry;
    uint8_t color = 1;  // black
    uint32_t start = kEndOfChain;
    uint64_t size = 0;
};

}  // namespace

void PutLe16(std::string& bytes, size_t offset, uint16_t value) {
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char(value >> 8);
}
void PutLe32(std::string& bytes, size_t offset, uint32_t value) {
    PutLe16(bytes, offset, uint16_t(value));
    PutLe16(bytes, offset + 2, uint16_t(value >> 16));
}
void AppendLe16(std::string& bytes, uint16_t value) {
    bytes.push_back(char(value & 0xFF));
    bytes.push_back(char(value >> 8));
}
void AppendLe32(std::string& bytes, uint32_t value) {
    AppendLe16(bytes, uint16_t(value));
    AppendLe16(bytes, uint16_t(value >> 16));
}
void AppendBe16(std::string& bytes, uint16_t value) {
    bytes.push_back(char(value >> 8));
    bytes.push_back(char(value & 0xFF));
}
void AppendBe32(std::string& bytes, uint32_t value) {
    AppendBe16(bytes, uint16_t(value >> 16));
    AppendBe16(bytes, uint16_t(value));
}

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

CompoundFileWriter::CompoundFileWriter(int major_version) : m_majorVersion(major_version) {
    if (major_version != 3 && major_version != 4) throw std::invalid_argument("version 3 or 4");
    Node root;
    root.name = "Root Entry";
    root.is_storage = true;
    m_nodes.push_back(root);
}

size_t CompoundFileWriter::FindOrAddChild(size_t parent, const std::string& name, bool is_storage) {
    for (size_t child : m_nodes[parent].children) {
        if (m_nodes[child].name == name) return child;
    }
    Node node;
    node.name = name;
    node.is_storage = is_storage;
    m_nodes.push_back(node);
    m_nodes[parent].children.push_back(m_nodes.size() - 1);
    return m_nodes.size() - 1;
}

void CompoundFileWriter::AddStorage(const std::string& path) {
    size_t at = 0;
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t slash = path.find('/', begin);
        if (slash == std::string::npos) slash = path.size();
        at = FindOrAddChild(at, path.substr(begin, slash - begin), true);
        begin = slash + 1;
    }
}

void CompoundFileWriter::AddStream(const std::string& path, std::string bytes) {
    size_t slash = path.rfind('/');
    size_t parent = 0;
    if (slash != std::string::npos) {
        AddStorage(path.substr(0, slash));
        size_t begin = 0;
        while (begin < slash) {
            size_t next = path.find('/', begin);
            parent = FindOrAddChild(parent, path.substr(begin, next - begin), true);
            begin = next + 1;
        }
    }
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t node = FindOrAddChild(parent, name, false);
    m_nodes[node].bytes = std::move(bytes);
}

std::string CompoundFileWriter::Build(CompoundLayout* layout) const {
    const size_t sector = m_majorVersion == 4 ? 4096 : 512;
    const size_t per_sector = sector / 4;

    // Directory ids in depth-first order, with paths for the layout report.
    std::vector<size_t> order;
    std::vector<std::string> paths(m_nodes.size());
    std::function<void(size_t, const std::string&)> visit = [&](size_t node,
                                                                const std::string& path) {
        paths[node] = path;
        order.push_back(node);
        for (size_t child : m_nodes[node].children) {
            visit(child, path.empty() ? m_nodes[child].name : path + "/" + m_nodes[child].name);
        }
    };
    visit(0, "");
    std::vector<uint32_t> id_of(m_nodes.size());
    for (size_t i = 0; i < order.size(); ++i)
        id_of[order[i]] = uint32_t(i);

    std::vector<FlatEntry> entries(order.size());
    for (size_t node = 0; node < m_nodes.size(); ++node) {
        FlatEntry& entry = entries[id_of[node]];
        entry.name = Utf8ToUtf16(m_nodes[node].name);
        entry.type = node == 0 ? 5 : m_nodes[node].is_storage ? 1 : 2;
        if (!m_nodes[node].is_storage) entry.size = m_nodes[node].bytes.size();
    }

    // Each storage's children: a balanced tree over the sorted names, nodes on an incomplete
    // deepest level red (keeps the red-black rules), or an unsorted chain when asked.
    for (size_t node = 0; node < m_nodes.size(); ++node) {
        std::vector<uint32_t> kids;
        for (size_t child : m_nodes[node].children)
            kids.push_back(id_of[child]);
        if (kids.empty()) continue;
        if (m_unsorted) {
            for (size_t i = 0; i + 1 < kids.size(); ++i)
                entries[kids[i]].right = kids[i + 1];
            entries[id_of[node]].child = kids[0];
            continue;
        }
        std::sort(kids.begin(), kids.end(), [&](uint32_t a, uint32_t b) {
            return CompareElementNames(entries[a].name, entries[b].name) < 0;
        });
        int max_depth = 0;
        while ((size_t(2) << max_depth) - 1 < kids.size())
            ++max_depth;
        bool perfect = (size_t(2) << max_depth) - 1 == kids.size();
        std::function<uint32_t(size_t, size_t, int)> build = [&](size_t lo, size_t hi,
                                                                 int depth) -> uint32_t {
            if (lo >= hi) return kNoEntry;
            size_t mid = lo + (hi - lo) / 2;
            FlatEntry& entry = entries[kids[mid]];
            entry.color = (depth == max_depth && !perfect) ? 0 : 1;
            entry.left = build(lo, mid, depth + 1);
            entry.right = build(mid + 1, hi, depth + 1);
            return kids[mid];
        };
        entries[id_of[node]].child = build(0, kids.size(), 0);
    }

    // Stream data: short streams into the mini stream, the rest into regular sectors.
    std::string mini_stream;
    std::vector<uint32_t> mini_fat;
    std::vector<std::pair<uint32_t, const std::string*>> big_streams;  // entry id, bytes
    for (size_t node = 1; node < m_nodes.size(); ++node) {
        const Node& n = m_nodes[node];
        if (n.is_storage || n.bytes.empty()) continue;
        FlatEntry& entry = entries[id_of[node]];
        if (n.bytes.size() >= kMiniCutoff) {
            big_streams.push_back({id_of[node], &n.bytes});
            continue;
        }
        uint32_t first = uint32_t(mini_stream.size() / kMiniSector);
        size_t count = CeilDiv(n.bytes.size(), kMiniSector);
        for (size_t i = 0; i < count; ++i) {
            mini_fat.push_back(i + 1 < count ? first + uint32_t(i) + 1 : kEndOfChain);
        }
        entry.start = first;
        mini_stream += n.bytes;
        mini_stream.resize(CeilDiv(mini_stream.size(), kMiniSector) * kMiniSector, '\0');
    }

    // Sector plan: stream data, mini stream, mini FAT, directory, then FAT and DIFAT sized
    // so that the FAT also covers its own sectors and the DIFAT's.
    std::vector<uint32_t> fat;
    std::string body;
    auto place = [&](const std::string& data) -> uint32_t {
        if (data.empty()) return kEndOfChain;
        uint32_t first = uint32_t(fat.size());
        size_t count = CeilDiv(data.size(), sector);
        for (size_t i = 0; i < count; ++i) {
            fat.push_back(i + 1 < count ? first + uint32_t(i) + 1 : kEndOfChain);
        }
        body += data;
        body.resize(fat.size() * sector, '\0');
        return first;
    };
    for (auto& [id, bytes] : big_streams)
        entries[id].start = place(*bytes);
    entries[0].start = place(mini_stream);
    entries[0].size = mini_stream.size();
    std::string mini_fat_bytes;
    for (uint32_t value : mini_fat)
        AppendLe32(mini_fat_bytes, value);
    uint32_t first_mini_fat = place(mini_fat_bytes);
    uint32_t mini_fat_sectors = uint32_t(CeilDiv(mini_fat_bytes.size(), sector));

    std::string directory;
    for (const FlatEntry& entry : entries) {
        std::string raw(128, '\0');
        for (size_t i = 0; i < entry.name.size() && i < 31; ++i)
            PutLe16(raw, 2 * i, entry.name[i]);
        PutLe16(raw, 64, uint16_t((std::min<size_t>(entry.name.size(), 31) + 1) * 2));
        raw[66] = char(entry.type);
        raw[67] = char(entry.color);
        PutLe32(raw, 68, entry.left);
        PutLe32(raw, 72, entry.right);
        PutLe32(raw, 76, entry.child);
        PutLe32(raw, 116, entry.type == 1 ? 0 : entry.start);
        PutLe32(raw, 120, uint32_t(entry.size));
        PutLe32(raw, 124, uint32_t(entry.size >> 32));
        directory += raw;
    }
    while (directory.size() % sector != 0) {
        std::string unused(128, '\0');
        PutLe32(unused, 68, kNoEntry);
        PutLe32(unused, 72, kNoEntry);
        PutLe32(unused, 76, kNoEntry);
        directory += unused;
    }
    uint32_t first_directory = place(directory);
    uint32_t directory_sectors = uint32_t(directory.size() / sector);

    size_t base = fat.size();
    size_t fat_sectors = 0, difat_sectors = 0;
    for (;;) {
        size_t need_fat = CeilDiv(base + fat_sectors + difat_sectors, per_sector);
        size_t need_difat =
            need_fat > kHeaderDifat ? CeilDiv(need_fat - kHeaderDifat, per_sector - 1) : 0;
        if (need_fat == fat_sectors && need_difat == difat_sectors) break;
        fat_sectors = need_fat;
        difat_sectors = need_difat;
    }
    std::vector<uint32_t> fat_sector_numbers;
    for (size_t i = 0; i < fat_sectors; ++i) {
        fat_sector_numbers.push_back(uint32_t(fat.size()));
        fat.push_back(kFatSectorMark);
    }
    std::vector<uint32_t> difat_sector_numbers;
    for (size_t i = 0; i < difat_sectors; ++i) {
        difat_sector_numbers.push_back(uint32_t(fat.size()));
        fat.push_back(kDifatSectorMark);
    }
    fat.resize(fat_sectors * per_sector, kFreeSector);
    std::string fat_bytes;
    for (uint32_t value : fat)
        AppendLe32(fat_bytes, value);
    body += fat_bytes;
    for (size_t d = 0; d < difat_sectors; ++d) {
        std::string raw;
        for (size_t i = 0; i < per_sector - 1; ++i) {
            size_t k = kHeaderDifat + d * (per_sector - 1) + i;
            AppendLe32(raw, k < fat_sectors ? fat_sector_numbers[k] : kFreeSector);
        }
        AppendLe32(raw, d + 1 < difat_sectors ? difat_sector_numbers[d + 1] : kEndOfChain);
        body += raw;
    }

    std::string header(sector, '\0');
    static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (int i = 0; i < 8; ++i)
        header[i] = char(kSignature[i]);
    PutLe16(header, 24, 0x3E);
    PutLe16(header, 26, uint16_t(m_majorVersion));
    PutLe16(header, 28, 0xFFFE);
    PutLe16(header, 30, m_majorVersion == 4 ? 12 : 9);
    PutLe16(header, 32, 6);
    PutLe32(header, 40, m_majorVersion == 4 ? directory_sectors : 0);
    PutLe32(header, 44, uint32_t(fat_sectors));
    PutLe32(header, 48, first_directory);
    PutLe32(header, 56, uint32_t(kMiniCutoff));
    PutLe32(header, 60, first_mini_fat);
    PutLe32(header, 64, mini_fat_sectors);
    PutLe32(header, 68, difat_sectors ? difat_sector_numbers[0] : kEndOfChain);
    PutLe32(header, 72, uint32_t(difat_sectors));
    for (size_t i = 0; i < kHeaderDifat; ++i) {
        PutLe32(header, 76 + 4 * i, i < fat_sectors ? fat_sector_numbers[i] : kFreeSector);
    }

    if (layout != nullptr) {
        *layout = CompoundLayout{};
        layout->sector_bytes = uint32_t(sector);
        layout->first_directory_sector = first_directory;
        layout->first_mini_fat_sector = first_mini_fat;
        layout->first_difat_sector = difat_sectors ? difat_sector_numbers[0] : kEndOfChain;
        layout->fat_sectors = fat_sector_numbers;
        for (size_t node = 0; node < m_nodes.size(); ++node) {
            layout->directory_ids[paths[node]] = id_of[node];
            if (!m_nodes[node].is_storage)
                layout->start_sectors[paths[node]] = entries[id_of[node]].start;
        }
    }
    return header + body;
}

void CompoundFileWriter::WriteTo(const std::filesystem::path& path, CompoundLayout* layout) const {
    std::string bytes = Build(layout);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace scopa::test
