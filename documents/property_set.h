// Serialized OLE property sets, read into memory, and the summary information of a
// document (its keywords feed the keyword filter). Read only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/compound_file.h"

namespace scopa {

using FormatId = std::array<uint8_t, 16>;  // a GUID as stored (little-endian fields)

// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}
inline constexpr FormatId kFmtidSummaryInformation = {
    0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

// Property types (VARTYPE values) as stored.
inline constexpr uint32_t kVtEmpty = 0;
inline constexpr uint32_t kVtI2 = 2;
inline constexpr uint32_t kVtI4 = 3;
inline constexpr uint32_t kVtR4 = 4;
inline constexpr uint32_t kVtR8 = 5;
inline constexpr uint32_t kVtCy = 6;
inline constexpr uint32_t kVtDate = 7;
inline constexpr uint32_t kVtBstr = 8;
inline constexpr uint32_t kVtBool = 11;
inline constexpr uint32_t kVtVariant = 12;
inline constexpr uint32_t kVtI8 = 20;
inline constexpr uint32_t kVtLpstr = 30;
inline constexpr uint32_t kVtLpwstr = 31;
inline constexpr uint32_t kVtFiletime = 64;
inline constexpr uint32_t kVtBlob = 65;
inline constexpr uint32_t kVtStream = 66;
inline constexpr uint32_t kVtStorage = 67;
inline constexpr uint32_t kVtStreamedObject = 68;
inline constexpr uint32_t kVtStoredObject = 69;
inline constexpr uint32_t kVtBlobObject = 70;
inline constexpr uint32_t kVtCf = 71;
inline constexpr uint32_t kVtClsid = 72;
inline constexpr uint32_t kVtVector = 0x1000;

// Identifiers of the summary section used here.
inline constexpr uint32_t kPidCodePage = 1;
inline constexpr uint32_t kPidKeywords = 5;

// Bounds against hostile streams, applied before allocating.
inline constexpr size_t kMaxPropertyValueBytes = size_t(1) << 20;     // one value
inline constexpr size_t kMaxPropertySetValueBytes = size_t(8) << 20;  // all values of a set
inline constexpr size_t kMaxPropertiesPerSection = 4096;
inline constexpr size_t kMaxSectionsPerSet = 64;
inline constexpr size_t kMaxDictionaryEntries = 4096;
inline constexpr size_t kMaxDictionaryNameBytes = 260;

class CProperty {
public:
    CProperty() = default;
    explicit CProperty(uint32_t id) : m_id(id) {}
    // A property holding `type` and the stored bytes that follow the type.
    CProperty(uint32_t id, uint32_t type, std::vector<uint8_t> stored_value);

    // Reads the type and the value from `stream`, positioned at the type. On FALSE the
    // property keeps no value. `value_budget`, when given, is the byte allowance left for
    // the whole set and shrinks by what this value takes.
    bool ReadFromStream(OleStream& stream, size_t* value_budget = nullptr);

    uint32_t GetId() const { return m_id; }
    uint32_t GetType() const { return m_type; }
    bool HasValue() const { return m_hasValue; }
    // The stored bytes after the type (vectors: the count first), as read.
    const std::vector<uint8_t>& GetStoredValue() const { return m_value; }
    // The value's data and its byte size, by type: fixed types their bytes; strings, the
    // stream and storage types, clipboard data and 0x49, 0x4A their characters after the
    // length; blobs and 0x4B their length with the data left on the length. Null (size 0)
    // for vectors, unsupported types and a property without value.
    const uint8_t* Get(uint32_t* size_bytes) const;

    // Bytes of one element of `type` (without the vector flag) that are known without
    // reading: 0, 2, 4, 8, 16; -1 when the element is length-prefixed; -2 when unsupported.
    static int FixedElementBytes(uint32_t type);

private:
    uint32_t m_id = 0;
    uint32_t m_type = kVtEmpty;
    std::vector<uint8_t> m_value;
    bool m_hasValue = false;
};

class CPropertySection {
public:
    explicit CPropertySection(const FormatId& format_id) : m_formatId(format_id) {}

    // Reads the section at the stream's position. `stream_base` is where the set began;
    // a section cannot start before it.
    bool ReadFromStream(OleStream& stream, uint64_t stream_base, size_t* value_budget = nullptr);

    const FormatId& GetFormatId() const { return m_formatId; }
    uint32_t GetSizeBytes() const { return m_sizeBytes; }
    uint32_t GetPropertyCount() const { return m_propertyCount; }
    // The first property with this identifier, in stream order; null when none.
    const CProperty* GetProperty(uint32_t id) const;
    const std::vector<std::unique_ptr<CProperty>>& GetProperties() const { return m_properties; }
    void AddProperty(std::unique_ptr<CProperty> property);
    // Lower-case property name to identifier, from the name dictionary (identifier 0).
    const std::map<std::string, uint32_t>& GetDictionary() const { return m_dictionary; }
    const std::string& GetName() const { return m_name; }

private:
    bool ReadDictionary(OleStream& stream);
    void RemoveAll();

    FormatId m_formatId;
    uint32_t m_sizeBytes = 0;
    uint32_t m_propertyCount = 0;
    std::vector<std::unique_ptr<CProperty>> m_properties;
    std::map<std::string, uint32_t> m_dictionary;
    std::string m_name;
};

class CPropertySet {
public:
    // Byte order mark, format version and the originating system written in the header
    // of a set made here.
    static constexpr uint16_t kByteOrder = 0xFFFE;
    static constexpr uint32_t kOriginatingSystem = 0x00020004;

    CPropertySet() = default;

    // Reads a whole set from `stream`, positioned at its start. A set that read only
    // partly keeps what it read.
    bool ReadFromStream(OleStream& stream);

    // The first section whose format identifier matches; null when none.
    CPropertySection* GetSection(const FormatId& format_id) const;
    CPropertySection* AddSection(const FormatId& format_id);
    const std::vector<std::unique_ptr<CPropertySection>>& GetSections() const { return m_sections; }

    uint16_t GetByteOrder() const { return m_byteOrder; }
    uint16_t GetFormatVersion() const { return m_formatVersion; }
    uint32_t GetOriginatingSystem() const { return m_originatingSystem; }
    const FormatId& GetClassId() const { return m_classId; }
    void SetClassId(const FormatId& class_id) { m_classId = class_id; }
    // The section count of the header as read (or the sections added).
    uint32_t GetSectionCount() const { return m_sectionCount; }

private:
    uint16_t m_byteOrder = kByteOrder;
    uint16_t m_formatVersion = 0;
    uint32_t m_originatingSystem = kOriginatingSystem;
    FormatId m_classId{};
    uint32_t m_sectionCount = 0;
    std::vector<std::unique_ptr<CPropertySection>> m_sections;
};

class CSummaryInfo {
public:
    // A set with one summary section holding the default properties.
    CSummaryInfo();

    // Reads the "\x05SummaryInformation" stream of `storage`; FALSE when the storage is
    // null, the stream is missing or the set cannot be read.
    bool ReadFromStorage(const OleStorage* storage);
    // Reads a property-set stream directly (the stream of the above).
    bool ReadFromStream(OleStream& stream);

    // The keywords property of the summary section as text, up to its first zero byte;
    // empty when the section, the property or its data is missing. Text is converted from
    // the section's code page to UTF-8; without a code page it is taken as it is.
    std::string GetKeywords() const;

    const CPropertySet& GetPropertySet() const { return m_set; }
    const CPropertySection* GetSummarySection() const { return m_summary; }

private:
    CPropertySet m_set;
    CPropertySection* m_summary = nullptr;  // owned by m_set
};

// The name of the summary-information stream: U+0005 then "SummaryInformation".
inline constexpr const char* kSummaryInformationStreamName = "\x05SummaryInformation";

}  // namespace scopa
