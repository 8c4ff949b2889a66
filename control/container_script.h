// The line language of container scripts (`scopa container`, and later the widget's host):
// a line splits into words, double-quoted strings with C escapes, numbers (decimal or 0x) and
// TRUE/FALSE; strings print back quoted with the same escapes, so any text stays on one line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scopa {

struct ScriptToken {
    enum class Kind { kWord, kString, kNumber, kBool };
    Kind kind = Kind::kWord;
    std::string text;  // the word, or the string's bytes
    std::int32_t number = 0;
    bool flag = false;
};

// The tokens of one line; nullopt with `error` set for an unclosed string, a bad escape or
// a number beyond 32 bits.
std::optional<std::vector<ScriptToken>> TokenizeScriptLine(std::string_view line,
                                                           std::string& error);

// `text` in double quotes: '"' and '\' escaped, CR, LF and tab as \r \n \t, every other
// control byte as \xHH.
std::string QuoteScriptString(std::string_view text);

// Every occurrence of `from` in `text` replaced by `to` (nothing for an empty `from`).
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to);

}  // namespace scopa
