// Format notes (.reg files as the registry editor writes them):
// - The first line is "REGEDIT4" (8-bit text) or "Windows Registry Editor Version 5.00"
//   (UTF-16LE after the byte-order mark FF FE). Lines end in CRLF; LF alone is accepted.
// - "[HIVE\path\to\key]" starts a key and creates it; "[-HIVE\path]" deletes a key with
//   everything under it. Lines starting with ';' are comments.
// - Under a key, one value per line: "name"=... or @=... for the default value. Names and
//   texts escape '\' and '"' with a backslash. The data is "text" (REG_SZ), dword:XXXXXXXX
//   (REG_DWORD, up to 8 hex digits), hex:xx,xx (REG_BINARY), hex(N):xx,xx (type N in hex),
//   or - to delete the value. Hex lists longer than a line end in '\' and continue on the
//   next line after leading spaces.
// - In version 5.00 files, hex(1) data (REG_SZ) is UTF-16LE text; it is read as UTF-8.
// Reading is forgiving: each unreadable line is counted and skipped, so a damaged file gives
// every line that is still sound.
#include "platform/registry_file.h"

#include <cstdio>

#include "platform/byte_reader.h"
#include "platform/code_pages.h"
#include "platform/text.h"

namespace scopa {
namespace {

constexpr std::string_view kHeaderVersion4 = "REGEDIT4";
constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRootLocalMachine = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kRootCurrentUser = "HKEY_CURRENT_USER";

// A logical line (continuations joined) longer than this is damaged: a value of
// kRegMaxValueBytes written as hex takes about 3.1 bytes per data byte.
constexpr size_t kMaxLogicalLineBytes = 4 * kRegMaxValueBytes;
// Hex lists are wrapped after this column, as the registry editor wraps them.
constexpr size_t kHexWrapColumn = 76;

// UTF-16LE to UTF-8; unpaired surrogates become U+FFFD, an odd last byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes) {
    ByteReader reader(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    return Utf16ToUtf8(reader.Utf16(bytes.size() / 2));
}

std::string_view TrimLeft(std::string_view text) {
    size_t start = text.find_first_not_of(" \t");
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

std::string_view TrimRight(std::string_view text) {
    size_t end = text.find_last_not_of(" \t\r");
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to `max_digits` hex digits, nothing else.
std::optional<uint32_t> ParseHexNumber(std::string_view text, size_t max_digits) {
    if (text.empty() || text.size() > max_digits) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | uint32_t(digit);
    }
    return value;
}

// Comma-separated bytes of one or two hex digits; a trailing comma is tolerated.
std::optional<std::string> ParseHexBytes(std::string_view text) {
    std::string bytes;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view token = TrimRight(TrimLeft(text.substr(start, end - start)));
        if (token.empty()) {
            if (end != text.size() && end + 1 < text.size()) return std::nullopt;  // ",,"
        } else {
            std::optional<uint32_t> byte = ParseHexNumber(token, 2);
            if (!byte || bytes.size() >= kRegMaxValueBytes) return std::nullopt;
            bytes += char(*byte);
        }
        start = end + 1;
    }
    return bytes;
}

// A quoted text starting at text[0] == '"' with \\ and \" escapes. On success `consumed` is
// the length including both quotes.
std::optional<std::string> ParseQuoted(std::string_view text, size_t& consumed) {
    std::string out;
    for (size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            consumed = i + 1;
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= text.size()) return std::nullopt;
            char next = text[++i];
            if (next != '\\' && next != '"') return std::nullopt;
            c = next;
        }
        out += c;
    }
    return std::nullopt;  // no closing quote: a truncated line
}

// Where the data of a value line starts (just after '='), with the name; npos when the
// line does not start with a readable name and '='.
size_t ParseValueName(std::string_view line, std::string& name) {
    size_t position = 0;
    if (!line.empty() && line[0] == '@') {
        name.clear();
        position = 1;
    } else if (!line.empty() && line[0] == '"') {
        std::optional<std::string> parsed = ParseQuoted(line, position);
        if (!parsed) return std::string_view::npos;
        name = std::move(*parsed);
    } else {
        return std::string_view::npos;
    }
    while (position < line.size() && (line[position] == ' ' || line[position] == '\t')) {
        ++position;
    }
    if (position >= line.size() || line[position] != '=') return std::string_view::npos;
    return position + 1;
}

class RegFileReader {
public:
    explicit RegFileReader(std::string_view text, bool unicode)
        : m_text(text), m_unicode(unicode) {}

    RegFileContent Read();

private:
    enum class KeyState { kNone, kKept, kOtherHive, kBad };

    bool NextPhysicalLine(std::string_view& line);
    void ReadLine(std::string_view line);
    void ReadKeyLine(std::string_view line);
    void ReadValueLine(std::string_view line);
    bool ReadValueData(std::string_view data, RegChange& change);

    std::string_view m_text;
    bool m_unicode;
    size_t m_position = 0;
    bool m_seen_content = false;
    KeyState m_key_state = KeyState::kNone;
    RegHiveId m_hive = RegHiveId::kLocalMachine;
    RegKeyPath m_key;
    RegFileContent m_content;
};

bool RegFileReader::NextPhysicalLine(std::string_view& line) {
    if (m_position >= m_text.size()) return false;
    size_t end = m_text.find('\n', m_position);
    if (end == std::string_view::npos) end = m_text.size();
    line = m_text.substr(m_position, end - m_position);
    m_position = end + 1;
    return true;
}

RegFileContent RegFileReader::Read() {
    std::string_view physical;
    while (NextPhysicalLine(physical)) {
        std::string_view line = TrimRight(TrimLeft(physical));
        if (line.empty()) continue;
        if (line.size() > kMaxLogicalLineBytes) {
            m_seen_content = true;
            ++m_content.damaged_lines;
            continue;
        }
        if (!m_seen_content) {
            m_seen_content = true;
            if (line == kHeaderVersion4 || line == kHeaderVersion5) {
                m_content.has_header = true;
                continue;
            }
            ++m_content.damaged_lines;  // no header: count it, still read what follows
        }
        if (line[0] != '"' && line[0] != '@') {
            ReadLine(line);
            continue;
        }
        // A value line; join hex continuations ("...,\" then the rest on the next line).
        std::string logical(line);
        bool too_long = false;
        std::string ignored_name;
        size_t data_start = ParseValueName(logical, ignored_name);
        bool is_hex =
            data_start != std::string_view::npos &&
            StartsWithNoCase(TrimLeft(std::string_view(logical).substr(data_start)), "hex");
        while (is_hex && logical.back() == '\\' && NextPhysicalLine(physical)) {
            logical.pop_back();
            std::string_view more = TrimRight(TrimLeft(physical));
            if (logical.size() + more.size() > kMaxLogicalLineBytes) too_long = true;
            if (!too_long) logical += more;
            if (more.empty()) break;
        }
        if (too_long) {
            ++m_content.damaged_lines;
            continue;
        }
        ReadValueLine(logical);
    }
    return std::move(m_content);
}

void RegFileReader::ReadLine(std::string_view line) {
    if (line[0] == ';') return;
    if (line[0] == '[' && line.back() == ']' && line.size() >= 2) {
        ReadKeyLine(line.substr(1, line.size() - 2));
        return;
    }
    ++m_content.damaged_lines;
    // The values after a broken key line belong to that key, not to the one before it.
    if (line[0] == '[') m_key_state = KeyState::kBad;
}

void RegFileReader::ReadKeyLine(std::string_view inside) {
    bool remove = !inside.empty() && inside[0] == '-';
    if (remove) inside.remove_prefix(1);
    std::optional<RegKeyPath> path = SplitKeyPath(inside);
    if (!path || path->empty()) {
        ++m_content.damaged_lines;
        m_key_state = KeyState::kBad;
        return;
    }
    const std::string& root = path->front();
    if (EqualsNoCase(root, kRootLocalMachine)) {
        m_hive = RegHiveId::kLocalMachine;
    } else if (EqualsNoCase(root, kRootCurrentUser)) {
        m_hive = RegHiveId::kCurrentUser;
    } else {
        ++m_content.other_hive_lines;
        m_key_state = KeyState::kOtherHive;
        return;
    }
    path->erase(path->begin());
    if (remove && path->empty()) {  // a whole hive is never deleted
        ++m_content.damaged_lines;
        m_key_state = KeyState::kBad;
        return;
    }
    m_key = std::move(*path);
    // Values after a deleted key have no key to go to, as in the registry editor.
    m_key_state = remove ? KeyState::kBad : KeyState::kKept;
    RegChange change;
    change.kind = remove ? RegChange::Kind::kDeleteKey : RegChange::Kind::kCreateKey;
    change.key = m_key;
    m_content.changes.push_back({m_hive, std::move(change)});
}

void RegFileReader::ReadValueLine(std::string_view line) {
    if (m_key_state == KeyState::kOtherHive) return;
    RegChange change;
    size_t data_start = ParseValueName(line, change.value_name);
    if (m_key_state != KeyState::kKept || data_start == std::string_view::npos ||
        !IsValidValueName(change.value_name) ||
        !ReadValueData(TrimLeft(line.substr(data_start)), change)) {
        ++m_content.damaged_lines;
        return;
    }
    change.key = m_key;
    m_content.changes.push_back({m_hive, std::move(change)});
}

bool RegFileReader::ReadValueData(std::string_view data, RegChange& change) {
    change.kind = RegChange::Kind::kSetValue;
    if (data == "-") {
        change.kind = RegChange::Kind::kDeleteValue;
        return true;
    }
    if (!data.empty() && data[0] == '"') {
        size_t consumed = 0;
        std::optional<std::string> text = ParseQuoted(data, consumed);
        if (!text || consumed != data.size() || text->size() > kRegMaxValueBytes) return false;
        change.type = REG_SZ;
        change.data = StringDataOf(*text);
        return true;
    }
    if (StartsWithNoCase(data, "dword:")) {
        std::optional<uint32_t> number = ParseHexNumber(data.substr(6), 8);
        if (!number) return false;
        change.type = REG_DWORD;
        change.data.resize(4);
        for (int i = 0; i < 4; ++i)
            change.data[size_t(i)] = char((*number >> (8 * i)) & 0xFF);
        return true;
    }
    if (!StartsWithNoCase(data, "hex")) return false;
    data.remove_prefix(3);
    change.type = REG_BINARY;
    if (!data.empty() && data[0] == '(') {
        size_t close = data.find(')');
        if (close == std::string_view::npos) return false;
        std::optional<uint32_t> type = ParseHexNumber(data.substr(1, close - 1), 8);
        if (!type) return false;
        change.type = *type;
        data.remove_prefix(close + 1);
    }
    if (data.empty() || data[0] != ':') return false;
    std::optional<std::string> bytes = ParseHexBytes(data.substr(1));
    if (!bytes) return false;
    change.data = std::move(*bytes);
    if (change.type == REG_SZ) {
        change.data = StringDataOf(m_unicode ? Utf16LeToUtf8(change.data) : change.data);
    }
    return true;
}

// --- Writing ------------------------------------------------------------------------------

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

// Texts with line breaks or other control characters cannot stand between quotes on one
// line; they are written as hex(1) bytes instead.
bool FitsBetweenQuotes(std::string_view text) {
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7F) return false;
    }
    return true;
}

void AppendHexList(std::string& out, size_t column, std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
        column += 2;
        if (i + 1 == bytes.size()) break;
        out += ',';
        ++column;
        if (column > kHexWrapColumn) {
            out += "\\\r\n  ";
            column = 2;
        }
    }
}

void AppendValue(std::string& out, const RegValue& value) {
    size_t line_start = out.size();
    if (value.name.empty()) {
        out += '@';
    } else {
        AppendQuoted(out, value.name);
    }
    out += '=';
    if (value.type == REG_SZ && FitsBetweenQuotes(value.data)) {
        AppendQuoted(out, value.data);
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        const uint32_t number =
            ByteReader(std::span(reinterpret_cast<const uint8_t*>(value.data.data()), 4)).U32();
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", number);
        out += text;
    } else {
        std::string bytes = value.data;
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            char prefix[24];
            std::snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(value.type));
            out += prefix;
            if (value.type == REG_SZ) bytes += '\0';
        }
        AppendHexList(out, out.size() - line_start, bytes);
    }
    out += "\r\n";
}

void AppendKey(std::string& out, const RegKeyNode& node, const std::string& full_name,
               bool write_header_without_values) {
    if (write_header_without_values || !node.values.empty()) {
        out += "\r\n[";
        out += full_name;
        out += "]\r\n";
        for (const RegValue& value : node.values)
            AppendValue(out, value);
    }
    for (const auto& [name, child] : node.subkeys) {
        AppendKey(out, *child, full_name + "\\" + child->name, true);
    }
}

}  // namespace

std::string_view HiveRootName(RegHiveId hive) {
    return hive == RegHiveId::kLocalMachine ? kRootLocalMachine : kRootCurrentUser;
}

RegFileContent ParseRegFile(std::string_view bytes) {
    if (bytes.size() > kRegMaxFileBytes) bytes = bytes.substr(0, kRegMaxFileBytes);
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        std::string text = Utf16LeToUtf8(bytes.substr(2));
        return RegFileReader(text, true).Read();
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return RegFileReader(bytes, false).Read();
}

std::string FormatRegKey(const RegKeyNode& node, const std::string& full_name) {
    std::string out(kHeaderVersion4);
    out += "\r\n";
    AppendKey(out, node, full_name, true);
    out += "\r\n";
    return out;
}

std::string FormatRegFile(const RegKeyNode& hive_root, RegHiveId hive) {
    std::string out(kHeaderVersion4);
    out += "\r\n";
    // The hive's own line is written only when it holds values; its keys name it anyway.
    AppendKey(out, hive_root, std::string(HiveRootName(hive)), false);
    out += "\r\n";
    return out;
}

}  // namespace scopa
