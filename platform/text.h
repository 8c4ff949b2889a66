// Text rules shared by every subsystem. Text is UTF-8; upper-casing and case-insensitive
// comparison act on ASCII letters only, byte by byte, so multi-byte characters pass intact.
#pragma once

#include <string>
#include <string_view>

namespace scopa {

char AsciiUpper(char c);
char AsciiLower(char c);
std::string ToUpperAscii(std::string_view text);
std::string ToLowerAscii(std::string_view text);

// <0, 0 or >0 like strcmp, comparing bytes after ASCII upper-casing.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);

// Removes spaces, tabs, carriage returns and line feeds at both ends.
std::string_view TrimWhiteSpace(std::string_view text);

// The longest prefix of `text` of at most `max_bytes` bytes that does not end inside a
// UTF-8 sequence, so cutting a long name never leaves half a character.
std::string_view CutUtf8(std::string_view text, size_t max_bytes);

// True when every '/'-separated component of `path` (after one leading '/') is a name: none is
// empty, "." or "..". So a trailing '/' or a doubled one makes it false, and so does "".
bool HasOnlyNamedComponents(std::string_view path);

}  // namespace scopa
