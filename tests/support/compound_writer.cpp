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

namespace {

// Links one storage's children and returns the id of the tree's root: a balanced tree over
// the sorted names, nodes on an incomplete deepest level red (which keeps the red-black
// rules), or one right-leaning chain in the given order when `unsorted`.
uint32_t LinkChildren(std::vector<FlatEntry>& entries, std::vector<uint32_t> kids, bool unsorted) {
    if (kids.empty()) return kNoEntry;
    if (unsorted) {
        for (size_t i = 0; i + 1 < kids.size(); ++i)
            entries[kids[i]].right = kids[i + 1];
        return kids[0];
    }
    std::sort(kids.begin(), kids.end(), [&](uint32_t a, uint32_t b) {
        return CompareElementNames(entries[a].name, entries[b].name) < 0;
    });
    int max_depth = 0;
    while ((size_t(2) << max_depth) - 1 < kids.size())
        ++max_depth;
    const bool perfect = (size_t(2) << max_depth) - 1 == kids.size();
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
    return build(0, kids.size(), 0);
}

// Regular sectors laid out one after another, with their FAT entries.
struct SectorPlan {
    size_t sector_bytes;
    std::vector<uint32_t> fat;
    std::string body;

    // Appends `data` as one chain; returns its first sector (end of chain when empty).
    uint32_t Place(const std::string& data) {
        if (data.empty()) return kEndOfChain;
        uint32_t first = uint32_t(fat.size());
        size_t count = CeilDiv(data.size(), sector_bytes);
        for (size_t i = 0; i < count; ++i) {
            fat.push_back(i + 1 < count ? first + uint32_t(i) + 1 : kEndOfChain);
        }
        body += data;
        body.resize(fat.size() * sector_bytes, '\0');
        return first;
    }
};

// Short streams packed into the mini stream as chains of 64-byte mini sectors.
struct MiniStream {
    std::string bytes;
    std::vector<uint32_t> fat;

    uint32_t Place(const std::string& data) {
        uint32_t first = uint32_t(bytes.size() / kMiniSector);
        size_t count = CeilDiv(data.size(), kMiniSector);
        for (size_t i = 0; i < count; ++i) {
            fat.push_back(i + 1 < count ? first + uint32_t(i) + 1 : kEndOfChain);
        }
        bytes += data;
        bytes.resize(CeilDiv(bytes.size(), kMiniSector) * kMiniSector, '\0');
        return first;
    }
};

std::string EntryBytes(const FlatEntry& entry) {
    std::string raw(128, '\0');
    const size_t units = std::min<size_t>(entry.name.size(), 31);
    for (size_t i = 0; i < units; ++i)
        PutLe16(raw, 2 * i, entry.name[i]);
    PutLe16(raw, 64, uint16_t((units + 1) * 2));
    raw[66] = char(entry.type);
    raw[67] = char(entry.color);
    PutLe32(raw, 68, entry.left);
    PutLe32(raw, 72, entry.right);
    PutLe32(raw, 76, entry.child);
    PutLe32(raw, 116, entry.type == 1 ? 0 : entry.start);
    PutLe32(raw, 120, uint32_t(entry.size));
    PutLe32(raw, 124, uint32_t(entry.size >> 32));
    return raw;
}

// The directory, filled to whole sectors with unused entries.
std::string DirectoryBytes(const std::vector<FlatEntry>& entries, size_t sector_bytes) {
    std::string directory;
    for (const FlatEntry& entry : entries)
        directory += EntryBytes(entry);
    while (directory.size() % sector_bytes != 0) {
        FlatEntry unused;
        unused.type = 0;
        unused.color = 0;
        unused.start = 0;
        std::string raw = EntryBytes(unused);
        PutLe16(raw, 64, 0);
        directory += raw;
    }
    return directory;
}

// The FAT and DIFAT sectors appended to the plan, sized so that the FAT also covers its
// own sectors and the DIFAT's.
struct FatSectors {
    std::vector<uint32_t> fat;
    std::vector<uint32_t> difat;
};

FatSectors AppendFat(SectorPlan& plan) {
    const size_t per_sector = plan.sector_bytes / 4;
    const size_t base = plan.fat.size();
    size_t fat_count = 0, difat_count = 0;
    for (;;) {
        size_t need_fat = CeilDiv(base + fat_count + difat_count, per_sector);
        size_t need_difat =
            need_fat > kHeaderDifat ? CeilDiv(need_fat - kHeaderDifat, per_sector - 1) : 0;
        if (need_fat == fat_count && need_difat == difat_count) break;
        fat_count = need_fat;
        difat_count = need_difat;
    }
    FatSectors sectors;
    for (size_t i = 0; i < fat_count; ++i) {
        sectors.fat.push_back(uint32_t(plan.fat.size()));
        plan.fat.push_back(kFatSectorMark);
    }
    for (size_t i = 0; i < difat_count; ++i) {
        sectors.difat.push_back(uint32_t(plan.fat.size()));
        plan.fat.push_back(kDifatSectorMark);
    }
    plan.fat.resize(fat_count * per_sector, kFreeSector);
    for (uint32_t value : plan.fat)
        AppendLe32(plan.body, value);
    for (size_t d = 0; d < difat_count; ++d) {
        for (size_t i = 0; i < per_sector - 1; ++i) {
            size_t k = kHeaderDifat + d * (per_sector - 1) + i;
            AppendLe32(plan.body, k < fat_count ? sectors.fat[k] : kFreeSector);
        }
        AppendLe32(plan.body, d + 1 < difat_count ? sectors.difat[d + 1] : kEndOfChain);
    }
    return sectors;
}

struct HeaderFields {
    int major_version = 3;
    uint32_t directory_sectors = 0;
    uint32_t first_directory = kEndOfChain;
    uint32_t first_mini_fat = kEndOfChain;
    uint32_t mini_fat_sectors = 0;
};

std::string HeaderBytes(const HeaderFields& fields, const FatSectors& sectors,
                        size_t sector_bytes) {
    std::string header(sector_bytes, '\0');
    static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (int i = 0; i < 8; ++i)
        header[size_t(i)] = char(kSignature[i]);
    const bool v4 = fields.major_version == 4;
    PutLe16(header, 24, 0x3E);
    PutLe16(header, 26, uint16_t(fields.major_version));
    PutLe16(header, 28, 0xFFFE);
    PutLe16(header, 30, v4 ? 12 : 9);
    PutLe16(header, 32, 6);
    PutLe32(header, 40, v4 ? fields.directory_sectors : 0);
    PutLe32(header, 44, uint32_t(sectors.fat.size()));
    PutLe32(header, 48, fields.first_directory);
    PutLe32(header, 56, uint32_t(kMiniCutoff));
    PutLe32(header, 60, fields.first_mini_fat);
    PutLe32(header, 64, fields.mini_fat_sectors);
    PutLe32(header, 68, sectors.difat.empty() ? kEndOfChain : sectors.difat[0]);
    PutLe32(header, 72, uint32_t(sectors.difat.size()));
    for (size_t i = 0; i < kHeaderDifat; ++i) {
        PutLe32(header, 76 + 4 * i, i < sectors.fat.size() ? sectors.fat[i] : kFreeSector);
    }
    return header;
}

}  // namespace

std::string CompoundFileWriter::Build(CompoundLayout* layout) const {
    const size_t sector = m_majorVersion == 4 ? 4096 : 512;

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
    for (size_t node = 0; node < m_nodes.size(); ++node) {
        std::vector<uint32_t> kids;
        for (size_t child : m_nodes[node].children)
            kids.push_back(id_of[child]);
        entries[id_of[node]].child = LinkChildren(entries, kids, m_unsorted);
    }

    // Sectors: long streams, the mini stream, the mini FAT, the directory, FAT and DIFAT.
    SectorPlan plan{sector, {}, {}};
    MiniStream mini;
    for (size_t node = 1; node < m_nodes.size(); ++node) {
        const Node& n = m_nodes[node];
        if (n.is_storage || n.bytes.empty()) continue;
        FlatEntry& entry = entries[id_of[node]];
        entry.start = n.bytes.size() >= kMiniCutoff ? plan.Place(n.bytes) : mini.Place(n.bytes);
    }
    entries[0].start = plan.Place(mini.bytes);
    entries[0].size = mini.bytes.size();
    std::string mini_fat_bytes;
    for (uint32_t value : mini.fat)
        AppendLe32(mini_fat_bytes, value);
    HeaderFields fields;
    fields.major_version = m_majorVersion;
    fields.first_mini_fat = plan.Place(mini_fat_bytes);
    fields.mini_fat_sectors = uint32_t(CeilDiv(mini_fat_bytes.size(), sector));
    std::string directory = DirectoryBytes(entries, sector);
    fields.first_directory = plan.Place(directory);
    fields.directory_sectors = uint32_t(directory.size() / sector);
    FatSectors fat = AppendFat(plan);

    if (layout != nullptr) {
        *layout = CompoundLayout{};
        layout->sector_bytes = uint32_t(sector);
        layout->first_directory_sector = fields.first_directory;
        layout->first_mini_fat_sector = fields.first_mini_fat;
        layout->first_difat_sector = fat.difat.empty() ? kEndOfChain : fat.difat[0];
        layout->fat_sectors = fat.fat;
        for (size_t node = 0; node < m_nodes.size(); ++node) {
            layout->directory_ids[paths[node]] = id_of[node];
            if (!m_nodes[node].is_storage) {
                layout->start_sectors[paths[node]] = entries[id_of[node]].start;
            }
        }
    }
    return HeaderBytes(fields, fat, sector) + plan.body;
}

void CompoundFileWriter::WriteTo(const std::filesystem::path& path, CompoundLayout* layout) const {
    std::string bytes = Build(layout);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace scopa::test
