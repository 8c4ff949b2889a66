#include "platform/mime_types.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/folders.h"
#include "platform/text.h"

namespace scopa {

namespace {

// A glob line of "globs2": "weight:type:pattern[:flags]", flags "cs" for a case-sensitive
// pattern. Lines are written highest weight first.
struct GlobRule {
    int weight = 50;
    std::string mime_type;
    std::string pattern;
    bool case_sensitive = false;
};

// A database file is read whole only when it is of sane size.
constexpr std::uintmax_t kMaxDatabaseFileBytes = 16u << 20;
constexpr size_t kMaxDescriptionBytes = 1024;

struct MimeDatabase {
    // Literal names and "*suffix" patterns, keyed by their lower-cased text.
    std::unordered_map<std::string, std::vector<GlobRule>> literals;
    std::unordered_map<std::string, std::vector<GlobRule>> suffixes;
    std::vector<GlobRule> patterns;  // every other glob, in weight order
    std::unordered_map<std::string, std::string> aliases;
    std::unordered_map<std::string, std::string> icons;
    std::unordered_map<std::string, std::string> generic_icons;
    std::unordered_map<std::string, std::string> descriptions;  // filled on demand
    std::vector<std::string> folders;                           // "<data dir>/mime", first wins
};

std::mutex g_mutex;
std::unique_ptr<MimeDatabase> g_database;

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return parts;
}

std::vector<std::string> MimeFolders() {
    std::vector<std::string> folders;
    const char* data_home = std::getenv("XDG_DATA_HOME");
    std::string home_dir = (data_home != nullptr && data_home[0] == '/')
                               ? std::string(data_home)
                               : HomeFolder() + "/.local/share";
    folders.push_back(home_dir + "/mime");
    const char* data_dirs = std::getenv("XDG_DATA_DIRS");
    std::string dirs = (data_dirs != nullptr && data_dirs[0] != '\0')
                           ? std::string(data_dirs)
                           : std::string("/usr/local/share:/usr/share");
    for (const std::string& dir : SplitColons(dirs)) {
        if (!dir.empty() && dir[0] == '/') folders.push_back(dir + "/mime");
    }
    return folders;
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    std::error_code error;
    std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > kMaxDatabaseFileBytes) return false;
    std::ifstream file(path);
    if (!file) return false;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    return true;
}

bool HasWildcard(std::string_view pattern) {
    return pattern.find_first_of("*?[") != std::string_view::npos;
}

void AddGlob(MimeDatabase& database, GlobRule rule) {
    std::string_view pattern = rule.pattern;
    if (!HasWildcard(pattern)) {
        database.literals[ToLowerAscii(pattern)].push_back(std::move(rule));
    } else if (pattern[0] == '*' && !HasWildcard(pattern.substr(1)) && pattern.size() > 1) {
        database.suffixes[ToLowerAscii(pattern.substr(1))].push_back(std::move(rule));
    } else {
        database.patterns.push_back(std::move(rule));
    }
}

void LoadGlobs(MimeDatabase& database, const std::string& folder) {
    std::vector<std::string> lines;
    if (!ReadLines(folder + "/globs2", lines)) return;
    for (const std::string& line : lines) {
        std::vector<std::string> parts = SplitColons(line);
        if (parts.size() < 3 || parts[1].empty() || parts[2].empty()) continue;
        GlobRule rule;
        rule.weight = std::atoi(parts[0].c_str());
        rule.mime_type = parts[1];
        rule.pattern = parts[2];
        rule.case_sensitive = parts.size() > 3 && parts[3].find("cs") != std::string::npos;
        AddGlob(database, std::move(rule));
    }
}

// "aliases" separates its two names with a space, "icons" and "generic-icons" with a colon.
void LoadPairs(const std::string& path, char separator_char,
               std::unordered_map<std::string, std::string>& into) {
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) return;
    for (const std::string& line : lines) {
        size_t separator = line.find(separator_char);
        if (separator == std::string::npos) continue;
        into.emplace(line.substr(0, separator), line.substr(separator + 1));
    }
}

MimeDatabase& Database() {
    if (g_database == nullptr) {
        auto database = std::make_unique<MimeDatabase>();
        database->folders = MimeFolders();
        for (const std::string& folder : database->folders) {
            LoadGlobs(*database, folder);
            LoadPairs(folder + "/aliases", ' ', database->aliases);
            LoadPairs(folder + "/icons", ':', database->icons);
            LoadPairs(folder + "/generic-icons", ':', database->generic_icons);
        }
        std::stable_sort(database->patterns.begin(), database->patterns.end(),
                         [](const GlobRule& a, const GlobRule& b) { return a.weight > b.weight; });
        g_database = std::move(database);
    }
    return *g_database;
}

// The best rule of one bucket that matches `name` exactly as its case rule asks.
const GlobRule* BestOf(const std::vector<GlobRule>& rules, std::string_view name,
                       std::string_view key_part) {
    const GlobRule* best = nullptr;
    for (const GlobRule& rule : rules) {
        if (rule.case_sensitive) {
            std::string_view wanted =
                std::string_view(rule.pattern).substr(rule.pattern.size() - key_part.size());
            if (name.substr(name.size() - key_part.size()) != wanted) continue;
        }
        if (best == nullptr || rule.weight > best->weight ||
            (rule.weight == best->weight && rule.case_sensitive && !best->case_sensitive)) {
            best = &rule;
        }
    }
    return best;
}

std::string MatchName(MimeDatabase& database, std::string_view name) {
    std::string lower = ToLowerAscii(name);
    if (auto it = database.literals.find(lower); it != database.literals.end()) {
        if (const GlobRule* rule = BestOf(it->second, name, name)) return rule->mime_type;
    }
    // Longest suffix first: try every tail of the name from the longest.
    for (size_t start = 0; start < lower.size(); ++start) {
        auto it = database.suffixes.find(lower.substr(start));
        if (it == database.suffixes.end()) continue;
        if (const GlobRule* rule = BestOf(it->second, name, name.substr(start))) {
            return rule->mime_type;
        }
    }
    std::string name_text(name);
    for (const GlobRule& rule : database.patterns) {
        int flags = rule.case_sensitive ? 0 : FNM_CASEFOLD;
        if (fnmatch(rule.pattern.c_str(), name_text.c_str(), flags) == 0) return rule.mime_type;
    }
    return {};
}

std::string DecodeXmlText(std::string_view text) {
    static const std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [entity, character] : kEntities) {
                if (text.substr(i, entity.size()) == entity) {
                    decoded += character;
                    i += entity.size() - 1;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) decoded += text[i];
    }
    return decoded;
}

// The untranslated <comment> of "<folder>/<media>/<subtype>.xml".
std::string ReadDescription(const MimeDatabase& database, const std::string& mime_type) {
    if (mime_type.find("..") != std::string::npos) return {};
    for (const std::string& folder : database.folders) {
        std::ifstream file(folder + "/" + mime_type + ".xml");
        if (!file) continue;
        std::string line;
        while (std::getline(file, line)) {
            size_t start = line.find("<comment>");
            if (start == std::string::npos) continue;
            start += 9;
            size_t end = line.find("</comment>", start);
            if (end == std::string::npos) break;
            return std::string(
                CutUtf8(DecodeXmlText(line.substr(start, end - start)), kMaxDescriptionBytes));
        }
    }
    return {};
}

std::string Canonical(const MimeDatabase& database, std::string_view mime_type) {
    auto it = database.aliases.find(std::string(mime_type));
    return it != database.aliases.end() ? it->second : std::string(mime_type);
}

}  // namespace

std::string MimeTypeOfName(std::string_view file_name) {
    if (file_name.empty()) return {};
    std::lock_guard lock(g_mutex);
    return MatchName(Database(), file_name);
}

std::string MimeTypeDescription(std::string_view mime_type) {
    std::lock_guard lock(g_mutex);
    MimeDatabase& database = Database();
    std::string canonical = Canonical(database, mime_type);
    auto it = database.descriptions.find(canonical);
    if (it == database.descriptions.end()) {
        it = database.descriptions.emplace(canonical, ReadDescription(database, canonical)).first;
    }
    return it->second;
}

std::string MimeTypeIconName(std::string_view mime_type) {
    std::lock_guard lock(g_mutex);
    MimeDatabase& database = Database();
    std::string canonical = Canonical(database, mime_type);
    if (auto it = database.icons.find(canonical); it != database.icons.end()) return it->second;
    std::replace(canonical.begin(), canonical.end(), '/', '-');
    return canonical;
}

std::string MimeTypeGenericIconName(std::string_view mime_type) {
    std::lock_guard lock(g_mutex);
    MimeDatabase& database = Database();
    std::string canonical = Canonical(database, mime_type);
    if (auto it = database.generic_icons.find(canonical); it != database.generic_icons.end()) {
        return it->second;
    }
    return canonical.substr(0, canonical.find('/')) + "-x-generic";
}

std::string FileTypeText(std::string_view file_name) {
    std::string mime_type = MimeTypeOfName(file_name);
    if (!mime_type.empty()) {
        std::string description = MimeTypeDescription(mime_type);
        if (!description.empty()) return description;
    }
    size_t dot = file_name.rfind('.');
    if (dot != std::string_view::npos && dot + 1 < file_name.size()) {
        return ToUpperAscii(file_name.substr(dot + 1)) + " File";
    }
    return MimeTypeDescription(kUnknownMimeType);
}

void ResetMimeDatabase() {
    std::lock_guard lock(g_mutex);
    g_database.reset();
}

}  // namespace scopa
