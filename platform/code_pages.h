// Text in Windows code pages, as files made on Windows store their 8-bit and double-byte
// strings, turned into UTF-8: code page 1252 (western) through its own table, the others
// through the C library's converters.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace scopa {

inline constexpr uint32_t kWesternCodePage = 1252;
inline constexpr uint32_t kUtf8CodePage = 65001;
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends one code point as UTF-8; surrogates and values beyond U+10FFFF become U+FFFD.
void AppendUtf8(std::string& utf8, char32_t code_point);

// UTF-16 and UTF-8 both ways, as Windows names and wide strings cross into the program and
// back. Unpaired surrogates and bytes that are not UTF-8 become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Turns text of one Windows code page into UTF-8. A code page the system cannot convert is
// read as 1252. Each converter belongs to one thread at a time.
class CodePageConverter {
public:
    explicit CodePageConverter(uint32_t code_page);
    ~CodePageConverter();
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;

    // The code page actually converted (1252 when the one asked for is not available).
    uint32_t CodePage() const { return m_codePage; }

    // Converts `bytes`. Bytes the code page does not define become U+FFFD. A character that
    // the end of `bytes` cuts short is left out, and `*consumed` (when given) tells how many
    // bytes were converted; without `consumed` it becomes U+FFFD.
    std::string ToUtf8(std::span<const uint8_t> bytes, size_t* consumed = nullptr);

private:
    uint32_t m_codePage;
    void* m_converter = nullptr;  // the C library's converter; null for 1252 and UTF-8
};

// One text of code page `code_page` as UTF-8 (see CodePageConverter).
std::string CodePageToUtf8(std::string_view bytes, uint32_t code_page);

}  // namespace scopa
