// Property sets and summary information: values by type, vectors, the name dictionary,
// keywords, the defaults, and hostile counts and offsets.
#include <gtest/gtest.h>

#include <cstring>

#include "documents/property_set.h"
#include "fixtures/compound_writer.h"
#include "fixtures/document_writer.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

const std::array<uint8_t, 16> kOtherFormatId = {1, 2,  3,  4,  5,  6,  7,  8,
                                                9, 10, 11, 12, 13, 14, 15, 16};

std::unique_ptr<OleStream> StreamOf(const std::string& bytes) {
    return OleStream::FromBytes(bytes.data(), bytes.size());
}

CPropertySet ReadSet(const std::string& bytes, bool* result = nullptr) {
    CPropertySet set;
    auto stream = StreamOf(bytes);
    bool read = set.ReadFromStream(*stream);
    if (result != nullptr) *result = read;
    return set;
}

std::string Le32Bytes(uint32_t value) {
    std::string bytes;
    AppendLe32(bytes, value);
    return bytes;
}

// Reading from a document's storage, with and without the stream, is checked through the
// keyword filter of the document tests.
TEST(SummaryInfoTest, KeywordsComeBackExactly) {
    CSummaryInfo summary;
    EXPECT_EQ(summary.GetKeywords(), "") << "before reading";
    auto stream = StreamOf(SummaryInformationStream("red, green"));
    ASSERT_TRUE(summary.ReadFromStream(*stream));
    EXPECT_EQ(summary.GetKeywords(), "red, green");

    CSummaryInfo without;
    stream = StreamOf(SummaryInformationStream(nullptr));
    ASSERT_TRUE(without.ReadFromStream(*stream));
    EXPECT_EQ(without.GetKeywords(), "");
    ASSERT_NE(without.GetSummarySection(), nullptr);
    EXPECT_EQ(without.GetSummarySection()->GetProperty(5), nullptr)
        << "reading replaced the defaults";
}

TEST(SummaryInfoTest, KeywordsAreConvertedFromTheSectionsCodePage) {
    struct Case {
        const char* stored;
        uint16_t code_page;
        const char* expected;
    };
    const Case cases[] = {
        {"caf\xE9 \x80", 1252, "caf\u00e9 \u20ac"},       {"caf\xC3\xA9", 65001, "caf\u00e9"},
        {"\xCF\xF0\xE8\xE2\xE5\xF2", 1251, "Привет"},     {"\x93\xFA\x96\x7B", 932, "日本"},
        {"Ελλάδα, 日本", kUtf16CodePage, "Ελλάδα, 日本"},
    };
    for (const Case& c : cases) {
        CSummaryInfo summary;
        auto stream = StreamOf(SummaryInformationStream(c.stored, c.code_page));
        ASSERT_TRUE(summary.ReadFromStream(*stream));
        EXPECT_EQ(summary.GetKeywords(), c.expected) << "code page " << c.code_page;
    }
}

TEST(PropertyTest, ValueAccessFollowsTheType) {
    struct Case {
        uint32_t type;
        std::string stored;
        uint32_t size;
        size_t data_offset;  // from the start of the stored value
    };
    std::string wide = Le32Bytes(3) + std::string("a\0b\0c\0", 6);
    const Case cases[] = {
        {kVtEmpty, "", 0, 0},
        {kVtI2, "\x01\x02", 2, 0},
        {kVtBool, "\xFF\xFF", 2, 0},
        {kVtI4, "abcd", 4, 0},
        {kVtR4, "abcd", 4, 0},
        {kVtFiletime, "12345678", 8, 0},
        {kVtCy, "12345678", 8, 0},
        {kVtClsid, std::string(16, 'g'), 16, 0},
        {kVtLpstr, CountedString("text"), 5, 4},
        {kVtBstr, CountedString("bstr"), 5, 4},
        {kVtCf, CountedString("clip"), 5, 4},
        {0x4A, CountedString("x"), 2, 4},
        {kVtLpwstr, wide, 6, 4},
        {kVtBlob, CountedString("blob"), 5, 0},
        {0x4B, CountedString("b"), 2, 0},
    };
    for (const Case& c : cases) {
        std::string bytes = Le32Bytes(c.type) + c.stored + "tail";
        auto stream = StreamOf(bytes);
        CProperty property(42);
        ASSERT_TRUE(property.ReadFromStream(*stream)) << std::hex << c.type;
        EXPECT_EQ(property.GetStoredValue().size(), c.stored.size()) << std::hex << c.type;
        EXPECT_EQ(stream->Position(), 4 + c.stored.size()) << "reads exactly its value";
        uint32_t size = 99;
        const uint8_t* data = property.Get(&size);
        EXPECT_EQ(size, c.size) << std::hex << c.type;
        if (c.size > 0) {
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(data, property.GetStoredValue().data() + c.data_offset) << std::hex << c.type;
        }
    }
}

TEST(PropertyTest, VectorsReadEveryElementWholeAndGiveNoData) {
    const struct {
        uint32_t type;
        std::string value;
    } vectors[] = {
        {kVtVector | kVtLpstr, Le32Bytes(2) + CountedString("a") + CountedString("much longer")},
        {kVtVector | kVtLpwstr, Le32Bytes(2) + Le32Bytes(1) + std::string("x\0", 2) + Le32Bytes(0)},
        {kVtVector | kVtI4, Le32Bytes(3) + std::string(12, 'i')},
    };
    for (const auto& vector : vectors) {
        auto stream = StreamOf(Le32Bytes(vector.type) + vector.value + "next");
        CProperty property(7);
        ASSERT_TRUE(property.ReadFromStream(*stream)) << std::hex << vector.type;
        const std::vector<uint8_t>& stored = property.GetStoredValue();
        EXPECT_EQ(std::string(stored.begin(), stored.end()), vector.value);
        uint32_t size = 0;
        EXPECT_EQ(property.Get(&size), nullptr);
    }
}

TEST(PropertyTest, HostileLengthsAndCountsFailWithoutValue) {
    const std::string cases[] = {
        Le32Bytes(kVtLpstr) + Le32Bytes(0xFFFFFFFF) + "abc",
        Le32Bytes(kVtLpwstr) + Le32Bytes(0x80000000) + "abc",
        Le32Bytes(kVtVector | kVtI8) + Le32Bytes(0xFFFFFFFF) + "12345678",
        Le32Bytes(kVtVector | kVtLpstr) + Le32Bytes(0xFFFFFFFF) + Le32Bytes(0) + Le32Bytes(0),
        Le32Bytes(kVtVector | kVtBlob) + Le32Bytes(3) + Le32Bytes(1) + "x",
        Le32Bytes(kVtI8) + "1234",
        Le32Bytes(0x99) + "abcd",
        "\x1E\0",
    };
    for (const std::string& bytes : cases) {
        auto stream = StreamOf(bytes);
        CProperty property(1);
        EXPECT_FALSE(property.ReadFromStream(*stream));
        EXPECT_FALSE(property.HasValue());
    }
    // A huge vector of empty variants is 4 bytes and reads.
    auto stream = StreamOf(Le32Bytes(kVtVector | kVtVariant) + Le32Bytes(0xFFFFFFFF));
    CProperty variants(1);
    EXPECT_TRUE(variants.ReadFromStream(*stream));
}

TEST(PropertySectionTest, UnsupportedTypesAreKeptWithoutData) {
    SectionRecord section;
    section.format_id = kFmtidSummaryInformation;
    section.properties = {{2, 0x99, "????"},
                          {5, kVtLpstr, CountedString("kept")},
                          {5, kVtLpstr, CountedString("second")}};
    CPropertySet set = ReadSet(BuildPropertySet({section}));
    CPropertySection* read = set.GetSection(kFmtidSummaryInformation);
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->GetProperties().size(), 3u);
    const CProperty* odd = read->GetProperty(2);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->GetType(), 0x99u);
    uint32_t size = 0;
    EXPECT_EQ(odd->Get(&size), nullptr);
    const uint8_t* kept = read->GetProperty(5)->Get(&size);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(kept)), "kept") << "first in list order";
}

TEST(PropertySectionTest, DictionaryNamesTheSectionAndMapsLowerCaseNames) {
    SectionRecord section;
    section.format_id = kOtherFormatId;
    section.dictionary = {{0, "My Section"},          {0, "Ignored"}, {3, "Colour"}, {4, "COLOUR"},
                          {5, std::string(300, 'n')}, {6, "Last"}};
    section.properties = {{3, kVtI4, "abcd"}};
    CPropertySet set = ReadSet(BuildPropertySet({section}));
    CPropertySection* read = set.GetSection(kOtherFormatId);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->GetName(), "My Section");
    EXPECT_EQ(read->GetDictionary(), (std::map<std::string, uint32_t>{{"colour", 3}, {"last", 6}}));
    EXPECT_EQ(read->GetProperties().size(), 1u) << "the dictionary is no property";
}

TEST(PropertySetTest, SectionsByFormatIdAndHeaderFields) {
    SectionRecord first, second, third;
    first.format_id = kOtherFormatId;
    first.properties = {{2, kVtI4, "1111"}};
    second.format_id = kFmtidSummaryInformation;
    second.properties = {{2, kVtI4, "2222"}};
    third.format_id = kOtherFormatId;
    third.properties = {{2, kVtI4, "3333"}};
    bool ok = false;
    CPropertySet set = ReadSet(BuildPropertySet({first, second, third}), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(set.GetByteOrder(), 0xFFFE);
    ASSERT_EQ(set.GetSections().size(), 3u);
    uint32_t size = 0;
    EXPECT_EQ(std::memcmp(set.GetSection(kOtherFormatId)->GetProperty(2)->Get(&size), "1111", 4),
              0);
    EXPECT_EQ(std::memcmp(set.GetSection(kFmtidSummaryInformation)->GetProperty(2)->Get(&size),
                          "2222", 4),
              0);
}

TEST(PropertySetTest, ASetAfterOtherBytesReadsFromItsOwnStart) {
    std::string prefix(37, 'p');
    std::string bytes = prefix + SummaryInformationStream("offset");
    auto stream = StreamOf(bytes);
    ASSERT_TRUE(stream->Seek(int64_t(prefix.size()), SeekOrigin::kSet));
    CSummaryInfo summary;
    ASSERT_TRUE(summary.ReadFromStream(*stream));
    EXPECT_EQ(summary.GetKeywords(), "offset");
}

TEST(PropertySetTest, HostileCountsAndOffsetsStayBounded) {
    std::string good = SummaryInformationStream("red, green");
    // Every truncation: false or a partial set, never a crash.
    for (size_t cut = 0; cut < good.size(); ++cut) {
        CSummaryInfo summary;
        auto stream = StreamOf(good.substr(0, cut));
        bool read = summary.ReadFromStream(*stream);
        if (cut < 28) {
            EXPECT_FALSE(read) << cut;
        }
        summary.GetKeywords();
    }
    struct Patch {
        const char* what;
        size_t offset;
        uint32_t value;
    };
    const Patch patches[] = {
        {"section count", 24, 0xFFFFFFFF},       {"section offset", 44, 0xFFFFFFF0},
        {"property count", 48 + 4, 0x7FFFFFFF},  {"property offset", 48 + 12, 0xFFFFFF00},
        {"section offset inside header", 44, 2},
    };
    for (const Patch& patch : patches) {
        std::string bytes = good;
        PutLe32(bytes, patch.offset, patch.value);
        CSummaryInfo summary;
        auto stream = StreamOf(bytes);
        summary.ReadFromStream(*stream);
        EXPECT_LE(summary.GetKeywords().size(), good.size()) << patch.what;
    }
    // Many sections all pointing at one large section stay within the set's byte budget.
    SectionRecord big;
    big.format_id = kOtherFormatId;
    for (uint32_t id = 2; id < 40; ++id) {
        big.properties.push_back({id, kVtBlob, CountedString(std::string(900000, 'b'))});
    }
    std::string one = BuildPropertySet({big});
    const uint32_t sections = 64;
    std::string bytes = one.substr(0, 24) + Le32Bytes(sections);
    for (uint32_t i = 0; i < sections; ++i) {
        bytes += one.substr(28, 16) + Le32Bytes(28 + 20 * sections);
    }
    bytes += one.substr(48);
    CPropertySet set = ReadSet(bytes);
    EXPECT_EQ(set.GetSections().size(), sections);
    size_t total = 0;
    for (const auto& section : set.GetSections()) {
        for (const auto& property : section->GetProperties()) {
            total += property->GetStoredValue().size();
        }
    }
    EXPECT_LE(total, kMaxPropertySetValueBytes);
}

}  // namespace
}  // namespace scopa::test
