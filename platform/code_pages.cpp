#include "platform/code_pages.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace scopa {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Code page 1252 is Latin-1 except for typographic characters in 0x80..0x9F (the five it
// leaves undefined become U+FFFD).
constexpr std::array<char16_t, 32> kWesternHigh = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string WesternToUtf8(std::span<const uint8_t> bytes) {
    std::string utf8;
    utf8.reserve(bytes.size());
    for (uint8_t byte : bytes)
        AppendUtf8(utf8, byte >= 0x80 && byte < 0xA0 ? kWesternHigh[byte - 0x80] : byte);
    return utf8;
}

// The length of the sequence a UTF-8 lead byte starts (1 to 4), or 0 for bytes that never
// start one (continuation bytes, the overlong leads 0xC0 and 0xC1, and 0xF5 and above).
size_t SequenceLengthOfLead(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return lead < 0xF5 ? 4 : 0;
}

bool IsContinuation(uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence starting `text`, or 0 when it is not one.
size_t ValidSequenceLength(std::span<const uint8_t> text) {
    uint8_t lead = text[0];
    size_t length = SequenceLengthOfLead(lead);
    if (length == 0 || length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if (!IsContinuation(text[i])) return 0;
    }
    // Overlong three- and four-byte forms, surrogates and values beyond U+10FFFF.
    if (length == 3 && ((lead == 0xE0 && text[1] < 0xA0) || (lead == 0xED && text[1] >= 0xA0))) {
        return 0;
    }
    if (length == 4 && ((lead == 0xF0 && text[1] < 0x90) || (lead == 0xF4 && text[1] >= 0x90))) {
        return 0;
    }
    return length;
}

// True when `text` is the start of a sequence that its end cuts short.
bool IsCutSequence(std::span<const uint8_t> text) {
    size_t length = SequenceLengthOfLead(text[0]);
    if (length <= text.size()) return false;
    for (size_t i = 1; i < text.size(); ++i) {
        if (!IsContinuation(text[i])) return false;
    }
    return true;
}

// Valid UTF-8 as it is, each byte of an invalid sequence as U+FFFD. A sequence the end cuts
// short stops the conversion; `consumed` tells where.
std::string CheckedUtf8(std::span<const uint8_t> bytes, size_t& consumed) {
    std::string utf8;
    size_t at = 0;
    while (at < bytes.size()) {
        std::span<const uint8_t> rest = bytes.subspan(at);
        size_t length = ValidSequenceLength(rest);
        if (length == 0) {
            if (IsCutSequence(rest)) break;
            AppendUtf8(utf8, kReplacementCharacter);
            ++at;
            continue;
        }
        utf8.append(reinterpret_cast<const char*>(rest.data()), length);
        at += length;
    }
    consumed = at;
    return utf8;
}

}  // namespace

void AppendUtf8(std::string& utf8, char32_t code_point) {
    if ((code_point >= 0xD800 && code_point < 0xE000) || code_point > 0x10FFFF) {
        code_point = kReplacementCharacter;
    }
    if (code_point < 0x80) {
        utf8 += char(code_point);
    } else if (code_point < 0x800) {
        utf8 += char(0xC0 | code_point >> 6);
        utf8 += char(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        utf8 += char(0xE0 | code_point >> 12);
        utf8 += char(0x80 | (code_point >> 6 & 0x3F));
        utf8 += char(0x80 | (code_point & 0x3F));
    } else {
        utf8 += char(0xF0 | code_point >> 18);
        utf8 += char(0x80 | (code_point >> 12 & 0x3F));
        utf8 += char(0x80 | (code_point >> 6 & 0x3F));
        utf8 += char(0x80 | (code_point & 0x3F));
    }
}

CodePageConverter::CodePageConverter(uint32_t code_page) : m_codePage(code_page) {
    if (code_page == kWesternCodePage || code_page == kUtf8CodePage) return;
    std::array<char, 16> name{};
    std::snprintf(name.data(), name.size(), "CP%u", unsigned(code_page));
    iconv_t converter = iconv_open("UTF-8", name.data());
    if (converter == kNoConverter) {
        m_codePage = kWesternCodePage;
        return;
    }
    m_converter = converter;
}

CodePageConverter::~CodePageConverter() {
    if (m_converter != nullptr) iconv_close(static_cast<iconv_t>(m_converter));
}

std::string CodePageConverter::ToUtf8(std::span<const uint8_t> bytes, size_t* consumed) {
    size_t done = bytes.size();
    std::string utf8;
    if (m_codePage == kWesternCodePage) {
        utf8 = WesternToUtf8(bytes);
    } else if (m_codePage == kUtf8CodePage) {
        utf8 = CheckedUtf8(bytes, done);
    } else {
        auto converter = static_cast<iconv_t>(m_converter);
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        // No Windows code page makes more than 4 bytes of UTF-8 from one byte; U+FFFD, put in
        // for one byte, takes 3.
        utf8.assign(bytes.size() * 4 + 16, '\0');
        auto* in_at = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
        size_t in_left = bytes.size();
        char* out_at = utf8.data();
        size_t out_left = utf8.size();
        while (in_left > 0) {
            if (iconv(converter, &in_at, &in_left, &out_at, &out_left) != size_t(-1)) break;
            if (errno != EILSEQ || out_left < 3) break;  // EINVAL: the end cut a character
            std::string replacement;
            AppendUtf8(replacement, kReplacementCharacter);
            for (char c : replacement) {
                *out_at++ = c;
                --out_left;
            }
            ++in_at;
            --in_left;
        }
        iconv(converter, nullptr, nullptr, &out_at, &out_left);
        utf8.resize(size_t(out_at - utf8.data()));
        done = bytes.size() - in_left;
    }
    if (consumed != nullptr) {
        *consumed = done;
    } else if (done < bytes.size()) {
        AppendUtf8(utf8, kReplacementCharacter);
    }
    return utf8;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t code_point = text[i];
        bool high = code_point >= 0xD800 && code_point < 0xDC00;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(utf8, code_point);  // a lone surrogate becomes U+FFFD there
    }
    return utf8;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string utf16;
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    for (size_t at = 0; at < bytes.size();) {
        size_t length = ValidSequenceLength(bytes.subspan(at));
        char32_t code_point = kReplacementCharacter;
        if (length != 0) {
            // The lead byte keeps 7, 5, 4 or 3 value bits; each continuation byte adds 6.
            code_point = bytes[at] & (0x7F >> (length == 1 ? 0 : length));
            for (size_t k = 1; k < length; ++k)
                code_point = code_point << 6 | (bytes[at + k] & 0x3F);
        }
        if (code_point >= 0x10000) {
            code_point -= 0x10000;
            utf16.push_back(char16_t(0xD800 + (code_point >> 10)));
            utf16.push_back(char16_t(0xDC00 + (code_point & 0x3FF)));
        } else {
            utf16.push_back(char16_t(code_point));
        }
        at += length != 0 ? length : 1;
    }
    return utf16;
}

std::string CodePageToUtf8(std::string_view bytes, uint32_t code_page) {
    CodePageConverter converter(code_page);
    return converter.ToUtf8({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

}  // namespace scopa
