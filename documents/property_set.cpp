#include "documents/property_set.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_reader.h"
#include "platform/code_pages.h"
#include "platform/text.h"

namespace scopa {

// Format notes. A property-set stream starts with a 28-byte header (byte order, format
// version, originating system, class identifier, section count), then one 20-byte entry per
// section (format identifier, offset from the stream start). A section starts with its byte
// size and property count, then one 8-byte entry per property (identifier, offset from the
// section start). A property is a 32-bit type, for vectors a 32-bit element count, then the
// elements: fixed-size ones, or a 32-bit length and that many bytes (characters for wide
// strings). Identifier 0 is the name dictionary. Everything is little-endian.
//
// Reading follows the stored lengths exactly, without the 4-byte padding some writers add
// between vector elements: the value holds the bytes a walk of the lengths reaches.
namespace {

constexpr size_t kSetHeaderBytes = 28;
constexpr size_t kSectionEntryBytes = 20;
constexpr size_t kSectionHeaderBytes = 8;
constexpr size_t kPropertyEntryBytes = 8;
constexpr int kLengthPrefixed = -1;
constexpr int kUnsupported = -2;
// Sections of this code page hold their 8-bit strings as UTF-16.
constexpr uint16_t kUtf16CodePage = 1200;

bool ReadExact(OleStream& stream, void* buffer, size_t size) {
    return stream.Read(buffer, size) == size;
}

bool ReadLe32(OleStream& stream, uint32_t* value) {
    uint8_t bytes[4];
    if (!ReadExact(stream, bytes, 4)) return false;
    *value = ByteReader(bytes).U32();
    return true;
}

uint64_t BytesLeft(const OleStream& stream) {
    return stream.Position() < stream.Size() ? stream.Size() - stream.Position() : 0;
}

// Types whose value is a length and that many bytes, the data starting after the length.
bool IsCountedText(uint32_t type) {
    switch (type) {
        case kVtBstr:
        case kVtLpstr:
        case kVtStream:
        case kVtStorage:
        case kVtStreamedObject:
        case kVtStoredObject:
        case kVtCf:
        case 0x49:
        case 0x4A:
            return true;
        default:
            return false;
    }
}

// Types whose value is a length and that many bytes, handed out with the length.
bool IsBlob(uint32_t type) {
    return type == kVtBlob || type == kVtBlobObject || type == 0x4B;
}

std::vector<uint8_t> CountedText(std::string_view text) {
    std::vector<uint8_t> value(4 + text.size() + 1, 0);
    uint32_t length = uint32_t(text.size() + 1);
    for (int i = 0; i < 4; ++i)
        value[size_t(i)] = uint8_t(length >> (8 * i));
    std::memcpy(value.data() + 4, text.data(), text.size());
    return value;
}

}  // namespace

// ---- CProperty ----

CProperty::CProperty(uint32_t id, uint32_t type, std::vector<uint8_t> stored_value)
    : m_id(id), m_type(type), m_value(std::move(stored_value)), m_hasValue(true) {}

int CProperty::FixedElementBytes(uint32_t type) {
    switch (type) {
        case kVtEmpty:
        case kVtVariant:
            return 0;
        case kVtI2:
        case kVtBool:
            return 2;
        case kVtI4:
        case kVtR4:
            return 4;
        case kVtR8:
        case kVtCy:
        case kVtDate:
        case kVtI8:
        case kVtFiletime:
            return 8;
        case kVtClsid:
            return 16;
        case kVtLpwstr:
            return kLengthPrefixed;
        default:
            return IsCountedText(type) || IsBlob(type) ? kLengthPrefixed : kUnsupported;
    }
}

bool CProperty::ReadFromStream(OleStream& stream, size_t* value_budget) {
    m_value.clear();
    m_hasValue = false;
    if (!ReadLe32(stream, &m_type)) return false;
    const uint32_t element_type = m_type & ~kVtVector;
    const bool is_vector = (m_type & kVtVector) != 0;
    int fixed = FixedElementBytes(element_type);
    if (fixed == kUnsupported) return false;

    // The value can never be longer than what is left of the stream, nor the limits.
    uint64_t limit = std::min<uint64_t>(BytesLeft(stream), kMaxPropertyValueBytes);
    if (value_budget != nullptr) limit = std::min<uint64_t>(limit, *value_budget);

    // Walk the elements on a clone to total their sizes.
    std::unique_ptr<OleStream> walker = stream.Clone();
    uint64_t total = 0;
    uint32_t count = 1;
    if (is_vector) {
        if (!ReadLe32(*walker, &count)) return false;
        total = 4;
    }
    if (fixed >= 0) {
        total += uint64_t(count) * uint64_t(fixed);
    } else {
        for (uint32_t i = 0; i < count && total <= limit; ++i) {
            uint32_t length = 0;
            if (!ReadLe32(*walker, &length)) return false;
            uint64_t bytes = element_type == kVtLpwstr ? 2 * uint64_t(length) : length;
            total += 4 + bytes;
            if (total > limit || !walker->Seek(int64_t(bytes), SeekOrigin::kCurrent)) break;
        }
    }
    if (total > limit) return false;

    std::vector<uint8_t> value(static_cast<size_t>(total));
    if (!ReadExact(stream, value.data(), value.size())) return false;
    m_value = std::move(value);
    m_hasValue = true;
    if (value_budget != nullptr) *value_budget -= size_t(total);
    return true;
}

const uint8_t* CProperty::Get(uint32_t* size_bytes) const {
    *size_bytes = 0;
    if (!m_hasValue || (m_type & kVtVector) != 0) return nullptr;
    int fixed = FixedElementBytes(m_type);
    if (fixed >= 0) {
        if (m_value.size() < size_t(fixed)) return nullptr;
        *size_bytes = uint32_t(fixed);
        return m_value.data();
    }
    if (fixed == kUnsupported || m_value.size() < 4) return nullptr;
    uint32_t length = ByteReader(m_value).U32();
    uint64_t bytes = m_type == kVtLpwstr ? 2 * uint64_t(length) : length;
    if (4 + bytes > m_value.size()) return nullptr;
    *size_bytes = uint32_t(bytes);
    return IsBlob(m_type) ? m_value.data() : m_value.data() + 4;
}

// ---- CPropertySection ----

void CPropertySection::RemoveAll() {
    m_properties.clear();
    m_propertyCount = 0;
}

const CProperty* CPropertySection::GetProperty(uint32_t id) const {
    for (const auto& property : m_properties) {
        if (property->GetId() == id) return property.get();
    }
    return nullptr;
}

void CPropertySection::AddProperty(std::unique_ptr<CProperty> property) {
    m_properties.push_back(std::move(property));
    ++m_propertyCount;
}

bool CPropertySection::ReadDictionary(OleStream& stream) {
    uint32_t count = 0;
    if (!ReadLe32(stream, &count)) return false;
    bool named = false;
    for (uint32_t i = 0; i < count && i < kMaxDictionaryEntries; ++i) {
        uint32_t id = 0, length = 0;
        if (!ReadLe32(stream, &id) || !ReadLe32(stream, &length)) return false;
        if (length > kMaxDictionaryNameBytes) {
            // Longer than any name the format allows: skipped, the next entry still reads.
            if (!stream.Seek(int64_t(length), SeekOrigin::kCurrent)) return false;
            continue;
        }
        std::string name(length, '\0');
        if (!ReadExact(stream, name.data(), length)) return false;
        name.resize(std::strlen(name.c_str()));
        if (id == 0) {
            if (!named) m_name = name;
            named = true;
            continue;
        }
        m_dictionary.emplace(ToLowerAscii(name), id);
    }
    return true;
}

bool CPropertySection::ReadFromStream(OleStream& stream, uint64_t stream_base,
                                      size_t* value_budget) {
    RemoveAll();
    const uint64_t section_start = stream.Position();
    if (section_start < stream_base) return false;
    uint8_t header[kSectionHeaderBytes];
    if (!ReadExact(stream, header, sizeof(header))) return false;
    ByteReader fields(header);
    m_sizeBytes = fields.U32();
    const uint32_t stored_count = fields.U32();
    std::unique_ptr<OleStream> entries = stream.Clone();
    for (uint32_t i = 0; i < stored_count && i < kMaxPropertiesPerSection; ++i) {
        uint8_t entry[kPropertyEntryBytes];
        if (!ReadExact(*entries, entry, sizeof(entry))) return false;
        ByteReader entry_fields(entry);
        const uint32_t id = entry_fields.U32();
        const uint32_t offset = entry_fields.U32();
        if (!stream.Seek(int64_t(section_start + offset), SeekOrigin::kSet)) continue;
        if (id == 0) {
            ReadDictionary(stream);
            continue;
        }
        auto property = std::make_unique<CProperty>(id);
        property->ReadFromStream(stream, value_budget);
        AddProperty(std::move(property));
    }
    return true;
}

// ---- CPropertySet ----

CPropertySection* CPropertySet::GetSection(const FormatId& format_id) const {
    for (const auto& section : m_sections) {
        if (section->GetFormatId() == format_id) return section.get();
    }
    return nullptr;
}

CPropertySection* CPropertySet::AddSection(const FormatId& format_id) {
    m_sections.push_back(std::make_unique<CPropertySection>(format_id));
    ++m_sectionCount;
    return m_sections.back().get();
}

bool CPropertySet::ReadFromStream(OleStream& stream) {
    const uint64_t base = stream.Position();
    m_sections.clear();
    m_sectionCount = 0;
    uint8_t header[kSetHeaderBytes];
    if (!ReadExact(stream, header, sizeof(header))) return false;
    ByteReader fields(header);
    m_byteOrder = fields.U16();
    m_formatVersion = fields.U16();
    m_originatingSystem = fields.U32();
    m_classId = fields.Array<16>();
    m_sectionCount = fields.U32();

    size_t value_budget = kMaxPropertySetValueBytes;
    std::unique_ptr<OleStream> entries = stream.Clone();
    for (uint32_t i = 0; i < m_sectionCount && i < kMaxSectionsPerSet; ++i) {
        uint8_t entry[kSectionEntryBytes];
        if (!ReadExact(*entries, entry, sizeof(entry))) return false;
        ByteReader entry_fields(entry);
        const FormatId format_id = entry_fields.Array<16>();
        const uint32_t offset = entry_fields.U32();
        auto section = std::make_unique<CPropertySection>(format_id);
        if (stream.Seek(int64_t(base + offset), SeekOrigin::kSet)) {
            section->ReadFromStream(stream, base, &value_budget);
        }
        m_sections.push_back(std::move(section));
    }
    return true;
}

// ---- CSummaryInfo ----

CSummaryInfo::CSummaryInfo() {
    m_set.SetClassId(kFmtidSummaryInformation);
    CPropertySection* section = m_set.AddSection(kFmtidSummaryInformation);
    auto add = [section](uint32_t id, uint32_t type, std::vector<uint8_t> value) {
        section->AddProperty(std::make_unique<CProperty>(id, type, std::move(value)));
    };
    // Text written here is UTF-8.
    add(kPidCodePage, kVtI2, {uint8_t(kUtf8CodePage & 0xFF), uint8_t(kUtf8CodePage >> 8)});
    for (uint32_t id = 2; id <= 8; ++id)
        add(id, kVtLpstr, CountedText(""));  // title .. last author
    add(9, kVtLpstr, CountedText("0"));      // revision number
    for (uint32_t id = 10; id <= 13; ++id)
        add(id, kVtFiletime, std::vector<uint8_t>(8, 0));
    for (uint32_t id = 14; id <= 16; ++id)
        add(id, kVtI4, std::vector<uint8_t>(4, 0));
    add(18, kVtLpstr, CountedText(""));          // application name
    add(19, kVtI4, std::vector<uint8_t>(4, 0));  // security
    m_summary = section;
}

bool CSummaryInfo::ReadFromStream(OleStream& stream) {
    bool read = m_set.ReadFromStream(stream);
    m_summary = m_set.GetSection(kFmtidSummaryInformation);
    return read;
}

bool CSummaryInfo::ReadFromStorage(const OleStorage* storage) {
    if (storage == nullptr) return false;
    std::unique_ptr<OleStream> stream =
        storage->OpenStream(kSummaryInformationStreamName, kStgmShareExclusive | kStgmRead);
    if (!stream) return false;
    return ReadFromStream(*stream);
}

std::string CSummaryInfo::GetKeywords() const {
    if (m_summary == nullptr) return {};
    const CProperty* keywords = m_summary->GetProperty(kPidKeywords);
    if (keywords == nullptr) return {};
    uint32_t size = 0;
    const uint8_t* data = keywords->Get(&size);
    if (data == nullptr) return {};

    uint32_t code_page_bytes = 0;
    const CProperty* code_page_property = m_summary->GetProperty(kPidCodePage);
    const uint8_t* code_page_data =
        code_page_property ? code_page_property->Get(&code_page_bytes) : nullptr;
    bool has_code_page = code_page_data != nullptr && code_page_bytes == 2;
    uint16_t code_page = has_code_page ? ByteReader({code_page_data, 2}).U16() : 0;
    if (code_page == kUtf16CodePage) {
        // Such sections keep their 8-bit strings as UTF-16, counted in bytes.
        std::u16string wide = ByteReader({data, size}).Utf16(size / 2);
        wide.erase(std::find(wide.begin(), wide.end(), u'\0'), wide.end());
        return Utf16ToUtf8(wide);
    }
    const auto* text = reinterpret_cast<const char*>(data);
    std::string_view view(text, size_t(std::find(text, text + size, '\0') - text));
    return has_code_page ? CodePageToUtf8(view, code_page) : std::string(view);
}

}  // namespace scopa
