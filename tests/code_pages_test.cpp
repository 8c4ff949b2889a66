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

TEST(CodePagesTest, WesternHasItsOwnCharactersInTheC1RangeAndLatin1Elsewhere) {
    EXPECT_EQ(CodePageToUtf8("caf\xE9 \x80 \x93quoted\x94 \x9F", kWesternCodePage),
              "caf\u00e9 \u20ac \u201cquoted\u201d \u0178");
    // The five bytes the code page leaves undefined.
    EXPECT_EQ(CodePageToUtf8("\x81\x8D\x8F\x90\x9D", kWesternCodePage),
              "\ufffd\ufffd\ufffd\ufffd\ufffd");
    EXPECT_EQ(CodePageToUtf8(std::string("a\0b", 3), kWesternCodePage), std::string("a\0b", 3));
}

TEST(CodePagesTest, SingleAndDoubleByteCodePagesThroughTheLibrary) {
    // "Привет" in Cyrillic (1251), "Ελλάδα" in Greek (1253), "日本語" in Japanese (932),
    // "한국" in Korean (949), "中文" in simplified Chinese (936), Central European (1250).
    EXPECT_EQ(CodePageToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2", 1251), "Привет");
    EXPECT_EQ(CodePageToUtf8("\xC5\xEB\xEB\xDC\xE4\xE1", 1253), "Ελλάδα");
    EXPECT_EQ(CodePageToUtf8("\x93\xFA\x96\x7B\x8C\xEA", 932), "日本語");
    EXPECT_EQ(CodePageToUtf8("\xC7\xD1\xB1\xB9", 949), "한국");
    EXPECT_EQ(CodePageToUtf8("\xD6\xD0\xCE\xC4", 936), "中文");
    EXPECT_EQ(CodePageToUtf8("\x8A\x9A\xE8", 1250), "Ššč");
    // Mixed with plain ASCII, which every code page keeps.
    EXPECT_EQ(CodePageToUtf8("id \x93\xFA 7", 932), "id 日 7");
}

TEST(CodePagesTest, UndefinedBytesAndCutCharactersBecomeReplacements) {
    // 0x98 is undefined in code page 1251; the rest converts around it.
    EXPECT_EQ(CodePageToUtf8("a\x98"
                             "b",
                             1251),
              "a\ufffdb");
    // A Shift-JIS lead byte with nothing after it.
    EXPECT_EQ(CodePageToUtf8("ab\x93", 932), "ab\ufffd");

    // With `consumed` the cut character is left for the caller to complete.
    CodePageConverter converter(932);
    size_t consumed = 0;
    std::string text = converter.ToUtf8(Bytes("ab\x93"), &consumed);
    EXPECT_EQ(text, "ab");
    EXPECT_EQ(consumed, 2u);
    text = converter.ToUtf8(Bytes("\x93\xFA"), &consumed);
    EXPECT_EQ(text, "日");
    EXPECT_EQ(consumed, 2u);
}

TEST(CodePagesTest, Utf8IsCheckedNotTrusted) {
    EXPECT_EQ(CodePageToUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80", kUtf8CodePage), "café 😀");
    // A stray continuation byte, an overlong form, an encoded surrogate and a byte that never
    // starts UTF-8.
    EXPECT_EQ(CodePageToUtf8("a\x80"
                             "b",
                             kUtf8CodePage),
              "a\ufffdb");
    EXPECT_EQ(CodePageToUtf8("\xC0\xAF", kUtf8CodePage), "\ufffd\ufffd");
    EXPECT_EQ(CodePageToUtf8("\xED\xA0\x80", kUtf8CodePage), "\ufffd\ufffd\ufffd");
    EXPECT_EQ(CodePageToUtf8("\xFF", kUtf8CodePage), "\ufffd");
    // A sequence the end cuts short.
    EXPECT_EQ(CodePageToUtf8("ok\xE2\x82", kUtf8CodePage), "ok\ufffd");
    CodePageConverter converter(kUtf8CodePage);
    size_t consumed = 0;
    EXPECT_EQ(converter.ToUtf8(Bytes("ok\xE2\x82"), &consumed), "ok");
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
