#include "documents/document_previews.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "documents/property_set.h"
#include "imaging/palette.h"
#include "platform/byte_reader.h"
#include "platform/regular_file.h"
#include "platform/text.h"

namespace scopa {

// Format notes. The desktop-publishing and scrap "Contents" streams are tagged blocks in
// big-endian order; the styled-text stream has a big-endian version and a little-endian
// size; art headers, records and every embedded DIB are little-endian. Each preview is a
// packed DIB: a 40-byte BITMAPINFOHEADER, a colour table (RGBQUAD entries or 2-byte screen
// palette indices, by document kind) and bottom-up rows padded to 4 bytes. The colour table
// size follows from the bit count alone: 1 bit 2 entries, 4 bits 16, 8 bits 256, else none.
//
// A bitmap is made at a target size no larger than the DIB, drawn from the DIB's first
// stored scan lines (its bottom rows) at the bitmap's bottom, as a device draws a bottom-up
// DIB from scan 0: a cut-down art preview thus shows the picture's lower-left part.
// A DIB whose size is too small for its header, table and the rows drawn is refused, for
// every kind (the art readers are required to; the others choose to).

uint32_t StaticColourRgb(size_t index) {
    const Rgb& colour = kStaticColours[index];
    return uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 | colour.blue;
}

namespace {

constexpr uint32_t kTagDtpi = 0x44545049;        // "DTPI"
constexpr uint32_t kTagScrp = 0x53435250;        // "SCRP"
constexpr uint32_t kTagDsty = 0x44535459;        // "DSTY"
constexpr uint16_t kMarkerBm = 0x424D;           // "BM"
constexpr uint16_t kDtpVersionFlagBit = 0x4000;  // cleared before the version is compared
constexpr int kDtpVersionExtraSkip = 193;
constexpr int kDtpVersionNoFixedSkips = 207;
constexpr int kDtpVersionPaletteDib = 210;
constexpr int kFlourishMinVersion = 210;
constexpr uint16_t kArtMinVersion = 257;
constexpr uint16_t kArtPreviewRecord = 0xFA0B;
constexpr size_t kArtHeaderBytes = 16;
constexpr size_t kArtSignatureBytes = 64;
constexpr size_t kArtRecordHeaderBytes = 16;
constexpr char kArtSignature[] = "QOR:ART";
constexpr size_t kDibHeaderBytes = 40;
constexpr size_t kScrapPaletteEntries = 256;
constexpr size_t kFlourishTableEntries = 256;
constexpr size_t kStaticColourRun = 10;  // static colours at each end of a palette
constexpr int32_t kDtpWidthMask = 0x7FFF;
const char* const kContentsStream = "Contents";
const char* const kArtPreviewStream = "Preview.dib";

// Storage open modes the documents are read with.
constexpr uint32_t kModeReadDenyNone = kStgmPriority | kStgmShareDenyNone | kStgmRead;  // 0x40040
constexpr uint32_t kModeReadPriority = kStgmPriority | kStgmRead;                       // 0x40000
constexpr uint32_t kModeReadTransacted =
    kStgmTransacted | kStgmShareDenyWrite | kStgmRead;             // 0x10020
constexpr uint32_t kModeStream = kStgmShareExclusive | kStgmRead;  // 0x10

}  // namespace

// ---- plain files and sources ----

class PlainFile {
public:
    PlainFile(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    PlainFile(const uint8_t* data, size_t size) : m_data(data), m_size(size), m_inMemory(true) {}
    ~PlainFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;

    size_t Read(void* buffer, size_t size) {
        if (size == 0 || m_position >= m_size) return 0;
        size = size_t(std::min<uint64_t>(size, m_size - m_position));
        size_t done = 0;
        if (m_inMemory) {
            std::memcpy(buffer, m_data + m_position, size);
            done = size;
        } else {
            auto* out = static_cast<uint8_t*>(buffer);
            while (done < size) {
                ssize_t got = ::pread(m_fd, out + done, size - done, off_t(m_position + done));
                if (got <= 0) break;
                done += size_t(got);
            }
        }
        m_position += done;
        m_bytesRead += done;
        return done;
    }
    bool Skip(int64_t bytes) {
        if (bytes < 0 && uint64_t(-bytes) > m_position) return false;
        m_position += uint64_t(bytes);
        return true;
    }
    uint64_t Position() const { return m_position; }
    uint64_t Size() const { return m_size; }
    uint64_t BytesRead() const { return m_bytesRead; }

private:
    int m_fd = -1;
    const uint8_t* m_data = nullptr;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
    uint64_t m_bytesRead = 0;
    bool m_inMemory = false;
};

DocumentSource DocumentSource::File(std::string path) {
    DocumentSource source;
    source.m_path = std::move(path);
    return source;
}

DocumentSource DocumentSource::Bytes(const void* data, size_t size) {
    DocumentSource source;
    source.m_data = static_cast<const uint8_t*>(data);
    source.m_size = size;
    source.m_inMemory = true;
    return source;
}

StorageFileAnswer DocumentSource::IsStorageFile() const {
    if (!m_inMemory) return StgIsStorageFile(m_path);
    return HasStorageSignature(m_data, m_size) ? StorageFileAnswer::kStorage
                                               : StorageFileAnswer::kNotStorage;
}

std::unique_ptr<OleStorage> DocumentSource::OpenStorage(uint32_t mode) const {
    if (!m_inMemory) return OleStorage::Open(m_path, mode);
    if ((mode & (kStgmWrite | kStgmReadWrite)) != 0) return nullptr;
    return OleStorage::OpenBytes(m_data, m_size);
}

std::unique_ptr<PlainFile> DocumentSource::OpenPlain() const {
    if (m_inMemory) return std::make_unique<PlainFile>(m_data, m_size);
    uint64_t size_bytes = 0;
    int fd = OpenRegularFile(m_path, &size_bytes);
    if (fd < 0) return nullptr;
    return std::make_unique<PlainFile>(fd, size_bytes);
}

namespace {

// Releases a storage and reports what it read to its source.
void Release(const DocumentSource& source, std::unique_ptr<OleStorage>& storage) {
    if (storage) source.CountBytesRead(storage->BytesRead());
    storage.reset();
}

void Release(const DocumentSource& source, std::unique_ptr<PlainFile>& plain) {
    if (plain) source.CountBytesRead(plain->BytesRead());
    plain.reset();
}

bool ReadExact(OleStream& stream, void* buffer, size_t size) {
    return stream.Read(buffer, size) == size;
}

bool ReadExact(PlainFile& file, void* buffer, size_t size) {
    return file.Read(buffer, size) == size;
}

}  // namespace

// ---- CContentsReader ----

CContentsReader::CContentsReader() = default;

CContentsReader::~CContentsReader() {
    Close();
}

bool CContentsReader::Open(const DocumentSource& source) {
    Close();
    m_source = &source;
    if (source.IsStorageFile() == StorageFileAnswer::kNotStorage) {
        m_plain = source.OpenPlain();
        return m_plain != nullptr;
    }
    m_storage = source.OpenStorage(kModeReadDenyNone);
    if (!m_storage) return false;
    m_stream = m_storage->OpenStream(kContentsStream, kModeStream);
    if (!m_stream) Release(source, m_storage);
    return m_stream != nullptr;
}

void CContentsReader::Close() {
    m_stream.reset();
    if (m_source != nullptr) {
        Release(*m_source, m_storage);
        Release(*m_source, m_plain);
    }
    m_source = nullptr;
}

bool CContentsReader::ReadBytes(void* buffer, size_t size) {
    if (m_stream) return ReadExact(*m_stream, buffer, size);
    if (m_plain) return ReadExact(*m_plain, buffer, size);
    return false;
}

bool CContentsReader::ReadBe32(uint32_t* value) {
    uint8_t bytes[4];
    if (!ReadBytes(bytes, 4)) return false;
    *value = ByteReader(bytes, true).U32();
    return true;
}

bool CContentsReader::ReadBe16(uint16_t* value) {
    uint8_t bytes[2];
    if (!ReadBytes(bytes, 2)) return false;
    *value = ByteReader(bytes, true).U16();
    return true;
}

bool CContentsReader::Skip(int64_t bytes) {
    if (m_stream) return m_stream->Seek(bytes, SeekOrigin::kCurrent);
    if (m_plain) return m_plain->Skip(bytes);
    return false;
}

bool CContentsReader::SkipBlock() {
    uint16_t length = 0;
    return ReadBe16(&length) && Skip(int16_t(length));
}

uint64_t CContentsReader::BytesLeft() const {
    uint64_t position = 0, size = 0;
    if (m_stream) {
        position = m_stream->Position();
        size = m_stream->Size();
    } else if (m_plain) {
        position = m_plain->Position();
        size = m_plain->Size();
    }
    return position < size ? size - position : 0;
}

// ---- keyword filter ----

bool KeywordFilterAccepts(std::string_view keyword_filter, std::string_view keywords) {
    if (keyword_filter.empty()) return true;
    size_t begin = 0;
    for (;;) {
        size_t comma = keyword_filter.find(',', begin);
        std::string_view token = keyword_filter.substr(
            begin, comma == std::string_view::npos ? std::string_view::npos : comma - begin);
        token = TrimWhiteSpace(token);
        if (keywords.find(token) != std::string_view::npos) return true;
        if (comma == std::string_view::npos) return false;
        begin = comma + 1;
    }
}

// ---- document tests ----

bool IsDTPContent(const DocumentSource& source, std::string_view keyword_filter) {
    CContentsReader reader;
    uint32_t tag = 0;
    if (!reader.Open(source) || !reader.ReadBe32(&tag) || tag != kTagDtpi) return false;
    if (keyword_filter.empty()) return true;
    CSummaryInfo summary;
    if (!summary.ReadFromStorage(reader.GetStorage())) return false;
    return KeywordFilterAccepts(keyword_filter, summary.GetKeywords());
}

bool IsScrapContent(const DocumentSource& source) {
    CContentsReader reader;
    uint32_t tag = 0;
    return reader.Open(source) && reader.ReadBe32(&tag) && tag == kTagScrp;
}

namespace {

// The 64-byte signature field holds a zero-terminated text.
bool IsArtSignature(std::span<const uint8_t, kArtSignatureBytes> field) {
    ByteReader reader(field);
    return reader.CString() == kArtSignature && reader.Ok();
}

}  // namespace

bool IsArtContent(const DocumentSource& source) {
    uint8_t header[kArtHeaderBytes];
    uint8_t signature[kArtSignatureBytes];
    if (source.IsStorageFile() == StorageFileAnswer::kNotStorage) {
        // The plain form is recognised by its signature alone.
        std::unique_ptr<PlainFile> file = source.OpenPlain();
        bool is_art = file && ReadExact(*file, header, sizeof(header)) &&
                      ReadExact(*file, signature, sizeof(signature)) && IsArtSignature(signature);
        Release(source, file);
        return is_art;
    }
    std::unique_ptr<OleStorage> storage = source.OpenStorage(kModeReadPriority);
    if (!storage) return false;
    bool is_art = false;
    if (std::unique_ptr<OleStream> stream = storage->OpenStream(kContentsStream, kModeStream)) {
        is_art = ReadExact(*stream, header, sizeof(header)) &&
                 ByteReader(header).U16At(12) >= kArtMinVersion &&
                 ReadExact(*stream, signature, sizeof(signature)) && IsArtSignature(signature);
    }
    Release(source, storage);
    return is_art;
}

bool IsFlourishContent(const DocumentSource& source) {
    std::unique_ptr<OleStorage> storage = source.OpenStorage(kModeReadTransacted);
    if (!storage) return false;
    bool is_flourish = false;
    if (std::unique_ptr<OleStream> stream = storage->OpenStream(kContentsStream, kModeStream)) {
        uint8_t bytes[6];
        ByteReader fields(bytes, true);
        is_flourish = ReadExact(*stream, bytes, sizeof(bytes)) &&
                      fields.U16() >= kFlourishMinVersion && fields.Match("FLRT");
    }
    Release(source, storage);
    return is_flourish;
}

// ---- DIB decoding ----

namespace {

struct DibHeader {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bit_count = 0;
    uint32_t compression = 0;
    uint32_t size_image = 0;
};

// 40-byte BITMAPINFOHEADER fields used here.
bool ReadDibHeader(const std::vector<uint8_t>& dib, DibHeader* header) {
    ByteReader fields(dib);
    if (fields.U32() < kDibHeaderBytes || fields.Size() < kDibHeaderBytes) return false;
    header->width = fields.I32();
    header->height = fields.I32();
    fields.Skip(2);  // planes
    header->bit_count = fields.U16();
    header->compression = fields.U32();
    header->size_image = fields.U32();
    return true;
}

size_t ColourEntries(uint16_t bit_count) {
    switch (bit_count) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

// What the bitmap is made from: the block, where its table and bits are, and how big.
struct DibLayout {
    size_t table_offset = kDibHeaderBytes;
    size_t table_entry_bytes = 4;  // RGBQUAD, or 2 for palette indices
    size_t bits_offset = 0;
    DibColourUsage usage = DibColourUsage::kRgbColours;
    int target_width = 0;
    int target_height = 0;
    bool allow_top_down = false;        // a negative height stores the rows top-down
    size_t table_entries_override = 0;  // when not 0, the table's entries (from biClrUsed)
};

uint32_t DirectPixel(const uint8_t* row, int x, int bit_count) {
    switch (bit_count) {
        case 16: {  // 5-5-5, each widened to 8 bits
            uint16_t value = uint16_t(row[2 * x] | row[2 * x + 1] << 8);
            uint32_t r = (value >> 10) & 31, g = (value >> 5) & 31, b = value & 31;
            return (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | (b << 3) |
                   (b >> 2);
        }
        case 24:
            return (uint32_t(row[3 * x + 2]) << 16) | (uint32_t(row[3 * x + 1]) << 8) | row[3 * x];
        default:  // 32
            return (uint32_t(row[4 * x + 2]) << 16) | (uint32_t(row[4 * x + 1]) << 8) | row[4 * x];
    }
}

uint32_t IndexedPixel(const uint8_t* row, int x, int bit_count) {
    int per_byte = 8 / bit_count;
    int shift = (per_byte - 1 - x % per_byte) * bit_count;
    return (row[x / per_byte] >> shift) & ((1u << bit_count) - 1);
}

// Decodes the bitmap the readers draw: target rows from the DIB's first scan lines.
bool DecodeDib(const std::vector<uint8_t>& dib, const DibLayout& layout, DocumentPreview* preview) {
    DibHeader header;
    if (!ReadDibHeader(dib, &header) || header.compression != 0) return false;
    const int bit_count = header.bit_count;
    if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 16 && bit_count != 24 &&
        bit_count != 32) {
        return false;
    }
    const int width = layout.target_width, height = layout.target_height;
    const bool top_down = layout.allow_top_down && header.height < 0;
    const int64_t stored_rows = top_down ? -int64_t(header.height) : int64_t(header.height);
    if (width <= 0 || height <= 0 || width > header.width || height > stored_rows ||
        uint64_t(width) * uint64_t(height) > kMaxPreviewPixels) {
        return false;
    }
    const size_t entries = layout.table_entries_override ? layout.table_entries_override
                                                         : ColourEntries(uint16_t(bit_count));
    const uint64_t table_end = layout.table_offset + entries * layout.table_entry_bytes;
    const uint64_t stride = (uint64_t(header.width) * uint64_t(bit_count) + 31) / 32 * 4;
    if (table_end > dib.size() || layout.bits_offset > dib.size() ||
        uint64_t(height) * stride > dib.size() - layout.bits_offset) {
        return false;
    }
    DocumentPreview result;
    result.width_px = width;
    result.height_px = height;
    result.bits_per_pixel = bit_count;
    result.colour_usage = layout.usage;
    ByteReader table = ByteReader(dib).Sub(layout.table_offset, table_end - layout.table_offset);
    for (size_t i = 0; i < entries; ++i) {
        ByteReader entry = table.Take(layout.table_entry_bytes);
        result.colour_table.push_back(layout.usage == DibColourUsage::kPaletteIndices
                                          ? entry.U16()
                                          : entry.U32() & 0xFFFFFF);  // RGBQUAD: blue first
    }
    result.pixels.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        // Scan line 0 is stored first and is the bottom row of what is drawn.
        const size_t scan_line = top_down ? size_t(y) : size_t(height - 1 - y);
        const uint8_t* row = dib.data() + layout.bits_offset + scan_line * stride;
        uint32_t* out = result.pixels.data() + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x) {
            out[x] =
                bit_count <= 8 ? IndexedPixel(row, x, bit_count) : DirectPixel(row, x, bit_count);
        }
    }
    *preview = std::move(result);
    return true;
}

// Reads a DIB of `size` bytes from the reader, refusing sizes the stream cannot hold.
bool ReadDibBlock(CContentsReader& reader, uint64_t size, std::vector<uint8_t>* dib) {
    if (size > kMaxPreviewDibBytes || size > reader.BytesLeft()) return false;
    dib->resize(size_t(size));
    return reader.ReadBytes(dib->data(), dib->size());
}

}  // namespace

// ---- previews of the tagged documents ----

bool MakeDTPPreview(const DocumentSource& source, DocumentPreview* preview) {
    CContentsReader reader;
    uint32_t tag = 0, block_bytes = 0, style = 0;
    uint16_t stored_version = 0;
    if (!reader.Open(source) || !reader.ReadBe32(&tag) || tag != kTagDtpi ||
        !reader.ReadBe32(&block_bytes) || !reader.ReadBe16(&stored_version) ||
        !reader.Skip(int64_t(block_bytes) - 2) || !reader.ReadBe32(&style) || !reader.Skip(4)) {
        return false;
    }
    const int version = int16_t(stored_version & ~kDtpVersionFlagBit);
    if (version >= kDtpVersionExtraSkip && !reader.Skip(4 + 2)) return false;
    if (version >= kDtpVersionNoFixedSkips && !reader.Skip(2)) return false;
    if (style != kTagDsty) return false;
    if (version < kDtpVersionNoFixedSkips) {
        if (!reader.Skip(21 + 21) || !reader.SkipBlock()) return false;
    } else if (version < kDtpVersionPaletteDib) {
        if (!reader.SkipBlock() || !reader.SkipBlock() || !reader.SkipBlock()) return false;
    }
    uint32_t dib_bytes = 0;
    if (version < kDtpVersionPaletteDib) {
        uint16_t short_size = 0, marker = 0;
        if (!reader.ReadBe16(&short_size) || !reader.ReadBe16(&marker) || marker != kMarkerBm) {
            return false;
        }
        dib_bytes = short_size;
    } else if (!reader.ReadBe32(&dib_bytes)) {
        return false;
    }
    std::vector<uint8_t> dib;
    DibHeader header;
    if (!ReadDibBlock(reader, dib_bytes, &dib) || !ReadDibHeader(dib, &header)) return false;
    reader.Close();

    // The stored width may carry a flag in bit 15 and above; only the low 15 bits count.
    header.width &= kDtpWidthMask;
    for (int i = 0; i < 4; ++i)
        dib[4 + size_t(i)] = uint8_t(uint32_t(header.width) >> (8 * i));
    DibLayout layout;
    const bool palette = version >= kDtpVersionPaletteDib;
    layout.table_entry_bytes = palette ? 2 : 4;
    layout.usage = palette ? DibColourUsage::kPaletteIndices : DibColourUsage::kRgbColours;
    layout.bits_offset =
        kDibHeaderBytes + ColourEntries(header.bit_count) * layout.table_entry_bytes;
    layout.target_width = header.width;
    layout.target_height = header.height;
    return DecodeDib(dib, layout, preview);
}

bool MakeScrapPreview(const DocumentSource& source, DocumentPreview* preview) {
    CContentsReader reader;
    uint32_t tag = 0, block_bytes = 0, style = 0, dib_bytes = 0;
    uint16_t version = 0;
    if (!reader.Open(source) || !reader.ReadBe32(&tag) || tag != kTagScrp ||
        !reader.ReadBe32(&block_bytes) || !reader.ReadBe16(&version) ||
        !reader.Skip(int64_t(block_bytes) - 2) || !reader.ReadBe32(&style) || style != kTagDsty ||
        !reader.Skip(4 + 4 + 2 + 2) || !reader.ReadBe32(&dib_bytes)) {
        return false;
    }
    std::vector<uint8_t> dib;
    DibHeader header;
    if (!ReadDibBlock(reader, dib_bytes, &dib) || !ReadDibHeader(dib, &header)) return false;
    reader.Close();
    DibLayout layout;
    layout.table_entry_bytes = 2;
    layout.usage = DibColourUsage::kPaletteIndices;
    layout.bits_offset = kDibHeaderBytes + 2 * kScrapPaletteEntries;
    layout.target_width = header.width;
    layout.target_height = header.height;
    return DecodeDib(dib, layout, preview);
}

bool MakeFlourishPreview(const DocumentSource& source, DocumentPreview* preview) {
    std::unique_ptr<OleStorage> storage = source.OpenStorage(kModeReadDenyNone);
    if (!storage) return false;
    std::unique_ptr<OleStream> stream = storage->OpenStream(kContentsStream, kModeStream);
    uint8_t bytes[10];
    bool read = stream && ReadExact(*stream, bytes, sizeof(bytes));
    ByteReader fields(bytes, true);
    const uint16_t version = fields.U16();
    const bool tagged = fields.Match("FLRT");
    // Before version 210 the tag is not checked.
    if (!read || (version >= kFlourishMinVersion && !tagged)) {
        stream.reset();
        Release(source, storage);
        return false;
    }
    fields.SetBigEndian(false);  // the DIB's size is little-endian, like the DIB
    const uint32_t dib_bytes = fields.U32();
    std::vector<uint8_t> dib;
    uint64_t left = stream->Size() - stream->Position();
    if (dib_bytes <= kMaxPreviewDibBytes && dib_bytes <= left) {
        dib.resize(dib_bytes);
        if (!ReadExact(*stream, dib.data(), dib.size())) dib.clear();
    }
    stream.reset();
    Release(source, storage);
    DibHeader header;
    if (!ReadDibHeader(dib, &header)) return false;
    DibLayout layout;
    layout.bits_offset = kDibHeaderBytes + 4 * kFlourishTableEntries;
    layout.target_width = header.width;
    layout.target_height = header.height;
    return DecodeDib(dib, layout, preview);
}

bool DecodePackedDib(const std::vector<uint8_t>& dib, DocumentPreview* preview) {
    DibHeader header;
    if (!ReadDibHeader(dib, &header)) return false;
    ByteReader fields(dib);
    const uint32_t header_bytes = fields.U32At(0);
    const uint32_t colours_used = fields.U32At(32);
    const size_t by_bit_count = ColourEntries(header.bit_count);
    if (colours_used > by_bit_count || header_bytes > dib.size()) return false;
    DibLayout layout;
    layout.table_offset = header_bytes;
    layout.table_entries_override = colours_used;
    layout.bits_offset = header_bytes + 4 * (colours_used ? colours_used : by_bit_count);
    layout.target_width = header.width;
    layout.target_height =
        header.height < 0 ? int(-int64_t(header.height) & 0x7FFFFFFF) : header.height;
    layout.allow_top_down = true;
    return DecodeDib(dib, layout, preview);
}

// ---- art previews ----

namespace {

// The preview record's body of a plain art file.
bool ReadPlainArtDib(const DocumentSource& source, std::vector<uint8_t>* dib) {
    std::unique_ptr<PlainFile> file = source.OpenPlain();
    if (!file) return false;
    uint8_t header[kArtHeaderBytes];
    uint8_t signature[kArtSignatureBytes];
    bool found = false;
    ByteReader header_fields(header);
    if (ReadExact(*file, header, sizeof(header)) && header_fields.U16At(12) >= kArtMinVersion &&
        ReadExact(*file, signature, sizeof(signature)) && IsArtSignature(signature) &&
        file->Skip(int64_t(header_fields.U16At(4)) - int64_t(kArtSignatureBytes))) {
        const int16_t records = header_fields.I16At(10);
        for (int i = 0; i < records && !found; ++i) {
            uint8_t record[kArtRecordHeaderBytes];
            if (!ReadExact(*file, record, sizeof(record))) break;
            ByteReader record_fields(record);
            int64_t body = int64_t(record_fields.U16()) - int64_t(kArtRecordHeaderBytes);
            if (record_fields.U16() != kArtPreviewRecord) {
                if (!file->Skip(body)) break;
                continue;
            }
            uint64_t left = file->Size() > file->Position() ? file->Size() - file->Position() : 0;
            if (body < 0 || uint64_t(body) > left) break;
            dib->resize(size_t(body));
            found = ReadExact(*file, dib->data(), dib->size());
        }
    }
    Release(source, file);
    return found;
}

bool ReadCompoundArtDib(const DocumentSource& source, std::vector<uint8_t>* dib) {
    std::unique_ptr<OleStorage> storage = source.OpenStorage(kModeReadPriority);
    if (!storage) return false;
    bool read = false;
    if (std::unique_ptr<OleStream> stream = storage->OpenStream(kArtPreviewStream, kModeStream)) {
        uint64_t size = stream->Stat(false).size;
        if (size <= kMaxPreviewDibBytes) {
            dib->resize(size_t(size));
            read = ReadExact(*stream, dib->data(), dib->size());
        }
    }
    Release(source, storage);
    return read;
}

// Compound art previews may leave the reserved colours of their palette black; the
// screen's static colours are put there.
void FillStaticColours(std::vector<uint8_t>& dib, size_t entries) {
    if (entries < 2 * kStaticColourRun || dib.size() < kDibHeaderBytes + 4 * entries) return;
    ByteReader stored_table(dib);
    auto colour = [&stored_table](size_t i) {
        return stored_table.U32At(kDibHeaderBytes + 4 * i) & 0xFFFFFF;  // RGBQUAD: blue first
    };
    uint8_t* table = dib.data() + kDibHeaderBytes;
    uint64_t sum = 0;
    for (size_t i = 0; i < kStaticColourRun; ++i) {
        sum += colour(i) + colour(entries - kStaticColourRun + i);
    }
    if (sum != 0) return;
    auto put = [table](size_t i, uint32_t rgb) {
        table[4 * i] = uint8_t(rgb);
        table[4 * i + 1] = uint8_t(rgb >> 8);
        table[4 * i + 2] = uint8_t(rgb >> 16);
        table[4 * i + 3] = 0;
    };
    for (size_t i = 0; i < kStaticColourRun; ++i) {
        put(i, StaticColourRgb(i));
        put(entries - kStaticColourRun + i, StaticColourRgb(kStaticColourRun + i));
    }
}

}  // namespace

bool MakeArtPreview(const DocumentSource& source, DocumentPreview* preview) {
    std::vector<uint8_t> dib;
    const bool compound = source.IsStorageFile() != StorageFileAnswer::kNotStorage;
    if (!(compound ? ReadCompoundArtDib(source, &dib) : ReadPlainArtDib(source, &dib))) {
        return false;
    }
    DibHeader header;
    if (!ReadDibHeader(dib, &header)) return false;
    const size_t entries = ColourEntries(header.bit_count);
    if (compound) FillStaticColours(dib, entries);
    if (dib.size() < uint64_t(header.size_image) + kDibHeaderBytes + 4 * entries) return false;
    DibLayout layout;
    layout.bits_offset = kDibHeaderBytes + 4 * entries;
    layout.target_width = std::min(header.width, int32_t(kArtPreviewMaxSidePx));
    layout.target_height = std::min(header.height, int32_t(kArtPreviewMaxSidePx));
    return DecodeDib(dib, layout, preview);
}

}  // namespace scopa
