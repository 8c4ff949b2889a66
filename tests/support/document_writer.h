// Builders of the maker's documents for tests: property-set streams, packed DIBs, the
// "Contents" layouts of each document kind and whole compound or plain files, plus the
// seed files of the fuzz corpora made from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace scopa::test {

// ---- property sets ----

struct PropertyRecord {
    uint32_t id = 0;
    uint32_t type = 0;
    std::string stored;  // the bytes after the type
};

struct DictionaryEntryRecord {
    uint32_t id = 0;
    std::string name;  // written with a terminating zero
};

struct SectionRecord {
    std::array<uint8_t, 16> format_id{};
    std::vector<PropertyRecord> properties;
    std::vector<DictionaryEntryRecord> dictionary;  // written as identifier 0 when not empty
};

// A whole property-set stream: header, section entries, sections laid out one after another.
std::string BuildPropertySet(const std::vector<SectionRecord>& sections);
// Stored bytes of a counted 8-bit string: length including the zero, characters, zero.
std::string CountedString(const std::string& text);
// A summary-information stream with a code page and, unless null, a keywords property.
std::string SummaryInformationStream(const char* keywords, uint16_t code_page = 1252);

// ---- pictures ----

// A packed DIB: 40-byte header, `table` (colour table as stored), then rows of `bpp` bits
// padded to 4 bytes, filled from `seed`. `stored_width` goes into the header unchanged
// (so bit 15 can be set); rows are sized by `width`.
std::string PackedDib(int width, int height, int bpp, const std::string& table, uint32_t seed = 1,
                      int32_t stored_width = -1);
// A colour table of `count` RGBQUAD entries (blue, green, red, 0), entry i = colour(i).
std::string RgbQuadTable(int count, uint32_t (*colour)(int index));
// A table of `count` 2-byte palette indices 0, 1, 2, ...
std::string PaletteIndexTable(int count);
// Bytes of one row of `width` pixels at `bpp`, padded to 4 bytes.
size_t DibRowBytes(int width, int bpp);

// ---- document "Contents" layouts ----

std::string DtpContents(int16_t version, const std::string& dib);
std::string ScrapContents(const std::string& dib);
std::string FlourishContents(uint16_t version, const std::string& tag, const std::string& dib);
// The 16-byte header and 64-byte signature field of an art document.
std::string ArtHeader(uint16_t version, uint16_t header_block_bytes, int16_t record_count,
                      const std::string& signature = "QOR:ART");
// The plain-file form: header, rest of the header block, records (the 0xFA0B one holds
// the DIB), `records_before` filler records first.
std::string ArtPlainFile(uint16_t version, const std::string& dib, int records_before = 2);

// Whole compound documents: "Contents" and, when given, more streams.
std::string CompoundDocument(const std::string& contents,
                             const std::vector<std::pair<std::string, std::string>>& more = {},
                             int major_version = 3);

// ---- fuzz seeds ----

struct SeedFile {
    std::string corpus;  // folder under fuzz/corpus
    std::string name;
    std::string bytes;
};
std::vector<SeedFile> AllSeedFiles();

}  // namespace scopa::test
