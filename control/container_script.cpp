#include "control/container_script.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace scopa {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at line[i] == '"'; i ends after the closing quote.
bool ReadString(std::string_view line, size_t& i, std::string& out, std::string& error) {
    for (++i; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= line.size()) break;
        switch (line[i]) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                int high = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
                int low = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    error = "\\x needs two hexadecimal digits";
                    return false;
                }
                out += char(high * 16 + low);
                i += 2;
                break;
            }
            default:
                error = std::string("unknown escape \\") + line[i];
                return false;
        }
    }
    error = "unclosed string";
    return false;
}

// A decimal or 0x number of 32 bits (0x numbers up to 0xFFFFFFFF wrap as a host's would).
std::optional<std::int32_t> ParseNumber(std::string_view word) {
    bool negative = !word.empty() && word[0] == '-';
    std::string_view digits = negative ? word.substr(1) : word;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        int digit = base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0) return std::nullopt;
        value = value * std::uint64_t(base) + std::uint64_t(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (negative) {
        if (value > std::uint64_t(std::numeric_limits<std::int32_t>::max()) + 1)
            return std::nullopt;
        return std::int32_t(-std::int64_t(value));
    }
    if (base == 10 && value > std::uint64_t(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return std::int32_t(std::uint32_t(value));
}

}  // namespace

std::optional<std::vector<ScriptToken>> TokenizeScriptLine(std::string_view line,
                                                           std::string& error) {
    std::vector<ScriptToken> tokens;
    size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        ScriptToken token;
        if (line[i] == '"') {
            token.kind = ScriptToken::Kind::kString;
            if (!ReadString(line, i, token.text, error)) return std::nullopt;
            tokens.push_back(std::move(token));
            continue;
        }
        size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        token.text = std::string(line.substr(start, i - start));
        char first = token.text[0];
        if (token.text == "TRUE" || token.text == "FALSE") {
            token.kind = ScriptToken::Kind::kBool;
            token.flag = token.text == "TRUE";
        } else if ((std::isdigit(static_cast<unsigned char>(first)) ||
                    (first == '-' && token.text.size() > 1 &&
                     std::isdigit(static_cast<unsigned char>(token.text[1])))) &&
                   token.text.find(',') == std::string::npos) {  // X,Y stays a word
            std::optional<std::int32_t> number = ParseNumber(token.text);
            if (!number) {
                error = "not a 32-bit number: " + token.text;
                return std::nullopt;
            }
            token.kind = ScriptToken::Kind::kNumber;
            token.number = *number;
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

std::string QuoteScriptString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escaped[5];
                    std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) return text;
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

}  // namespace scopa
