// Windows code pages to UTF-8: the western table, single- and double-byte code pages through
// the C library, undefined bytes and cut characters, checked UTF-8, unknown code pages, and
// the code points UTF-8 cannot carry.
#include "platform/code_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace scopa::test {
namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(CodePagesTest, EachCodePageConvertsAndWhatCannotBeReadBecomesReplacements) {
    const struct {
        const char* what;
        std::string bytes;
        uint32_t code_page;
        std::string utf8;
    } rows[] = {
        // The western table has characters of its own in the C1 range, Latin-1 elsewhere.
        {"western", "caf\xE9 \x80 \x93quoted\x94 \x9F", kWesternCodePage,
         "caf\u00e9 \u20ac \u201cquoted\u201d \u0178"},
        {"western undefined", "\x81\x8D\x8F\x90\x9D", kWesternCodePage,
         "\ufffd\ufffd\ufffd\ufffd\ufffd"},
        {"western NUL", std::string("a\0b", 3), kWesternCodePage, std::string("a\0b", 3)},
        // Single- and double-byte code pages through the C library.
        {"Cyrillic", "\xCF\xF0\xE8\xE2\xE5\xF2", 1251, "Привет"},
        {"Greek", "\xC5\xEB\xEB\xDC\xE4\xE1", 1253, "Ελλάδα"},
        {"Japanese", "\x93\xFA\x96\x7B\x8C\xEA", 932, "日本語"},
        {"Korean", "\xC7\xD1\xB1\xB9", 949, "한국"},
        {"Chinese", "\xD6\xD0\xCE\xC4", 936, "中文"},
        {"Central European", "\x8A\x9A\xE8", 1250, "Ššč"},
        {"with ASCII", "id \x93\xFA 7", 932, "id 日 7"},
        {"undefined in 1251", "a\x98 b", 1251, "a\ufffd b"},
        {"cut lead byte", "ab\x93", 932, "ab\ufffd"},
        // UTF-8 is checked, not trusted.
        {"UTF-8", "caf\xC3\xA9 \xF0\x9F\x98\x80", kUtf8CodePage, "café 😀"},
        {"stray continuation", "a\x80 b", kUtf8CodePage, "a\ufffd b"},
        {"overlong", "\xC0\xAF", kUtf8CodePage, "\ufffd\ufffd"},
        {"surrogate", "\xED\xA0\x80", kUtf8CodePage, "\ufffd\ufffd\ufffd"},
        {"never a start", "\xFF", kUtf8CodePage, "\ufffd"},
        {"cut sequence", "ok\xE2\x82", kUtf8CodePage, "ok\ufffd"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(CodePageToUtf8(row.bytes, row.code_page), row.utf8);
    }
}

TEST(CodePagesTest, WithConsumedACutCharacterIsLeftForTheCallerToComplete) {
    CodePageConverter japanese(932);
    size_t consumed = 0;
    EXPECT_EQ(japanese.ToUtf8(Bytes("ab\x93"), &consumed), "ab");
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(japanese.ToUtf8(Bytes("\x93\xFA"), &consumed), "日");
    EXPECT_EQ(consumed, 2u);
    CodePageConverter utf8(kUtf8CodePage);
    EXPECT_EQ(utf8.ToUtf8(Bytes("ok\xE2\x82"), &consumed), "ok");
    EXPECT_EQ(consumed, 2u);
}

TEST(CodePagesTest, AnUnknownCodePageIsReadAsWestern) {
    CodePageConverter converter(12345);
    EXPECT_EQ(converter.CodePage(), kWesternCodePage);
    EXPECT_EQ(converter.ToUtf8(Bytes("\x80")), "\u20ac");
}

TEST(CodePagesTest, AppendUtf8ReplacesWhatUtf8CannotCarry) {
    std::string text;
    for (char32_t code_point : {char32_t(0x41), char32_t(0xE9), char32_t(0x20AC), char32_t(0x1F600),
                                char32_t(0xD800), char32_t(0x110000)}) {
        AppendUtf8(text, code_point);
    }
    EXPECT_EQ(text, "Aé€😀\ufffd\ufffd");
}

TEST(CodePagesTest, Utf16AndUtf8BothWays) {
    const std::u16string wide = u"Aé€😀日";
    EXPECT_EQ(Utf16ToUtf8(wide), "Aé€😀日");
    EXPECT_EQ(Utf8ToUtf16("Aé€😀日"), wide);
    // Unpaired surrogates, and UTF-8 bytes that are no characters, one U+FFFD each.
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
              "a\ufffdb\ufffd");
    EXPECT_EQ(Utf8ToUtf16("a\xC0\xAF"
                          "b\xE2\x82"),
              u"a\ufffd\ufffdb\ufffd\ufffd");
}

}  // namespace
}  // namespace scopa::test
