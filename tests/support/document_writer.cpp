#include "support/document_writer.h"

#include "support/compound_writer.h"

namespace scopa::test {

namespace {

const std::array<uint8_t, 16> kSummaryFormatId = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                                  0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

std::string SectionBytes(const SectionRecord& section) {
    std::vector<std::pair<uint32_t, std::string>> bodies;  // identifier, type + value
    if (!section.dictionary.empty()) {
        std::string body;
        AppendLe32(body, uint32_t(section.dictionary.size()));
        for (const DictionaryEntryRecord& entry : section.dictionary) {
            AppendLe32(body, entry.id);
            AppendLe32(body, uint32_t(entry.name.size() + 1));
            body += entry.name;
            body.push_back('\0');
        }
        bodies.push_back({0, body});
    }
    for (const PropertyRecord& property : section.properties) {
        std::string body;
        AppendLe32(body, property.type);
        body += property.stored;
        bodies.push_back({property.id, body});
    }
    std::string entries, values;
    size_t offset = 8 + 8 * bodies.size();
    for (const auto& [id, body] : bodies) {
        AppendLe32(entries, id);
        AppendLe32(entries, uint32_t(offset + values.size()));
        values += body;
        while (values.size() % 4 != 0)
            values.push_back('\0');
    }
    std::string bytes;
    AppendLe32(bytes, uint32_t(8 + entries.size() + values.size()));
    AppendLe32(bytes, uint32_t(bodies.size()));
    return bytes + entries + values;
}

uint32_t Grey(int index) {
    return uint32_t(index) * 0x010101u;
}

}  // namespace

std::string BuildPropertySet(const std::vector<SectionRecord>& sections) {
    std::string bytes;
    AppendLe16(bytes, 0xFFFE);
    AppendLe16(bytes, 0);
    AppendLe32(bytes, 0x00020004);
    bytes += std::string(16, '\0');
    AppendLe32(bytes, uint32_t(sections.size()));
    std::string bodies;
    size_t offset = 28 + 20 * sections.size();
    for (const SectionRecord& section : sections) {
        bytes.append(reinterpret_cast<const char*>(section.format_id.data()), 16);
        AppendLe32(bytes, uint32_t(offset + bodies.size()));
        bodies += SectionBytes(section);
    }
    return bytes + bodies;
}

std::string CountedString(const std::string& text) {
    std::string bytes;
    AppendLe32(bytes, uint32_t(text.size() + 1));
    return bytes + text + std::string(1, '\0');
}

std::string SummaryInformationStream(const char* keywords, uint16_t code_page) {
    SectionRecord section;
    section.format_id = kSummaryFormatId;
    std::string code_page_value;
    AppendLe16(code_page_value, code_page);
    section.properties.push_back({1, 2, code_page_value});
    section.properties.push_back({2, 30, CountedString("A title")});
    if (keywords != nullptr) section.properties.push_back({5, 30, CountedString(keywords)});
    section.properties.push_back({4, 30, CountedString("An author")});
    return BuildPropertySet({section});
}

size_t DibRowBytes(int width, int bpp) {
    return (size_t(width) * size_t(bpp) + 31) / 32 * 4;
}

std::string PackedDib(int width, int height, int bpp, const std::string& table, uint32_t seed,
                      int32_t stored_width) {
    std::string bytes;
    size_t image_bytes = DibRowBytes(width, bpp) * size_t(height);
    AppendLe32(bytes, 40);
    AppendLe32(bytes, uint32_t(stored_width >= 0 ? stored_width : width));
    AppendLe32(bytes, uint32_t(height));
    AppendLe16(bytes, 1);
    AppendLe16(bytes, uint16_t(bpp));
    AppendLe32(bytes, 0);
    AppendLe32(bytes, uint32_t(image_bytes));
    AppendLe32(bytes, 2835);
    AppendLe32(bytes, 2835);
    AppendLe32(bytes, 0);
    AppendLe32(bytes, 0);
    bytes += table;
    uint32_t state = seed;
    for (size_t i = 0; i < image_bytes; ++i) {
        state = state * 1103515245u + 12345u;
        bytes.push_back(char(state >> 24));
    }
    return bytes;
}

std::string RgbQuadTable(int count, uint32_t (*colour)(int index)) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        uint32_t rgb = colour != nullptr ? colour(i) : Grey(i);
        bytes.push_back(char(rgb & 0xFF));
        bytes.push_back(char((rgb >> 8) & 0xFF));
        bytes.push_back(char((rgb >> 16) & 0xFF));
        bytes.push_back('\0');
    }
    return bytes;
}

std::string PaletteIndexTable(int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i)
        AppendLe16(bytes, uint16_t(i));
    return bytes;
}

std::string DtpContents(int16_t version, const std::string& dib) {
    const int v = int16_t(uint16_t(version) & ~0x4000);
    std::string bytes = "DTPI";
    const std::string rest = "rest-of-block";
    AppendBe32(bytes, uint32_t(2 + rest.size()));
    AppendBe16(bytes, uint16_t(version));
    bytes += rest;
    bytes += "DSTY";
    bytes += "skp4";
    if (v >= 193) bytes += "skip-6";
    if (v >= 207) bytes += "s2";
    auto block = [&bytes](const std::string& body) {
        AppendBe16(bytes, uint16_t(body.size()));
        bytes += body;
    };
    if (v < 207) {
        bytes += std::string(21, 'a') + std::string(21, 'b');
        block("one block");
    } else if (v < 210) {
        block("first");
        block("");
        block("third block");
    }
    if (v < 210) {
        AppendBe16(bytes, uint16_t(dib.size()));
        bytes += "BM";
    } else {
        AppendBe32(bytes, uint32_t(dib.size()));
    }
    return bytes + dib + "trailing data";
}

std::string ScrapContents(const std::string& dib) {
    std::string bytes = "SCRP";
    AppendBe32(bytes, 2 + 5);
    AppendBe16(bytes, 3);
    bytes += "12345";
    bytes += "DSTY";
    bytes += std::string(12, 'x');
    AppendBe32(bytes, uint32_t(dib.size()));
    return bytes + dib;
}

std::string FlourishContents(uint16_t version, const std::string& tag, const std::string& dib) {
    std::string bytes;
    AppendBe16(bytes, version);
    bytes += tag;
    AppendLe32(bytes, uint32_t(dib.size()));
    return bytes + dib;
}

std::string ArtHeader(uint16_t version, uint16_t header_block_bytes, int16_t record_count,
                      const std::string& signature) {
    std::string bytes(16, '\0');
    PutLe16(bytes, 4, header_block_bytes);
    PutLe16(bytes, 10, uint16_t(record_count));
    PutLe16(bytes, 12, version);
    std::string field = signature;
    field.resize(64, '\0');
    return bytes + field;
}

std::string ArtPlainFile(uint16_t version, const std::string& dib, int records_before) {
    const uint16_t header_block = 64 + 20;
    std::string bytes = ArtHeader(version, header_block, int16_t(records_before + 2));
    bytes += std::string(header_block - 64, 'h');
    auto record = [&bytes](uint16_t type, const std::string& body) {
        std::string head(16, '\0');
        PutLe16(head, 0, uint16_t(16 + body.size()));
        PutLe16(head, 2, type);
        bytes += head + body;
    };
    for (int i = 0; i < records_before; ++i)
        record(uint16_t(0x1000 + i), std::string(30, 'r'));
    record(0xFA0B, dib);
    record(0x2000, "after");
    return bytes;
}

std::string CompoundDocument(const std::string& contents,
                             const std::vector<std::pair<std::string, std::string>>& more,
                             int major_version) {
    CompoundFileWriter writer(major_version);
    writer.AddStream("Contents", contents);
    for (const auto& [name, bytes] : more)
        writer.AddStream(name, bytes);
    return writer.Build();
}

std::vector<SeedFile> AllSeedFiles() {
    std::vector<SeedFile> seeds;
    const std::string dib8 = PackedDib(6, 4, 8, RgbQuadTable(256, nullptr));
    const std::string dib8_indices = PackedDib(6, 4, 8, PaletteIndexTable(256));
    const std::string dib4 = PackedDib(5, 3, 4, RgbQuadTable(16, nullptr));
    const std::string summary = SummaryInformationStream("red, green");

    CompoundFileWriter small(3);
    small.AddStream("Contents", "DTPI");
    small.AddStream("Sub/Deep/Stream", std::string(5000, 's'));
    small.AddStream("\x05SummaryInformation", summary);
    seeds.push_back({"compound_file", "writer_v3.ole", small.Build()});
    CompoundFileWriter v4(4);
    v4.AddStream("Contents", std::string(100, 'c'));
    v4.AddStream("Big", std::string(5000, 'b'));
    seeds.push_back({"compound_file", "writer_v4.ole", v4.Build()});

    seeds.push_back({"property_set", "summary.bin", summary});
    SectionRecord rich;
    rich.format_id = kSummaryFormatId;
    rich.dictionary = {{0, "Section"}, {7, "Name"}};
    std::string vector_value;
    AppendLe32(vector_value, 2);
    vector_value += CountedString("a") + CountedString("longer");
    rich.properties = {{7, 0x101E, vector_value},
                       {8, 31, std::string("\2\0\0\0h\0i\0", 8)},
                       {9, 65, CountedString("blob")},
                       {10, 0x99, "????"}};
    seeds.push_back({"property_set", "rich.bin", BuildPropertySet({rich})});

    seeds.push_back(
        {"dtp_document", "v150.dtp",
         CompoundDocument(DtpContents(150, dib4), {{"\x05SummaryInformation", summary}})});
    seeds.push_back({"dtp_document", "v208.dtp", CompoundDocument(DtpContents(208, dib8))});
    seeds.push_back({"dtp_document", "v210.dtp", CompoundDocument(DtpContents(210, dib8_indices))});
    seeds.push_back({"dtp_document", "plain.dtp", DtpContents(200, dib8)});
    seeds.push_back({"scrap_document", "scrap.srp", CompoundDocument(ScrapContents(dib8_indices))});
    seeds.push_back(
        {"flourish_document", "v210.flx", CompoundDocument(FlourishContents(210, "FLRT", dib8))});
    seeds.push_back({"art_document", "compound.art",
                     CompoundDocument(ArtHeader(257, 64, 0), {{"Preview.dib", dib8}})});
    seeds.push_back({"art_document", "plain.art", ArtPlainFile(257, dib4)});
    return seeds;
}

}  // namespace scopa::test
