// scopa list FOLDER [--filter TEXT] [--sort N] [--no-extensions] [--keywords TEXT] [--hidden]
// [--json]:
// what the preview list shows for a folder, in its order, with the details columns.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "command.h"
#include "json_output.h"
#include "list/list_model.h"
#include "list/population.h"
#include "platform/code_pages.h"
#include "prefs/control_prefs.h"
#include "resources/strings.h"
#include "shell/shell_path.h"

namespace scopa::tool {
namespace {

constexpr const char* kCommandName = "list";
constexpr int kLastSortOrder = 7;

// Column headings of the details view, in column order.
constexpr std::string_view kNameHeading = LoadResourceString(kIdsColumnName);
constexpr std::string_view kSizeHeading = LoadResourceString(kIdsColumnSize);
constexpr std::string_view kTypeHeading = LoadResourceString(kIdsColumnType);
constexpr std::string_view kModifiedHeading = LoadResourceString(kIdsColumnModified);
constexpr std::string_view kKindHeading = "Kind";
constexpr std::string_view kShortcutMark = " (shortcut)";

struct Row {
    std::string label;
    std::string kind;
    bool shortcut = false;
    std::string path;
    std::string size;
    std::string type;
    std::string modified;
};

// A name for the text table: control characters (a newline in a file name would break the
// table) are shown escaped, and a backslash is doubled so that the escapes stay unambiguous.
std::string EscapedForTable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// Characters as a terminal shows them: a UTF-8 sequence counts once, and so does each faulty
// one, which shows as one replacement character.
size_t DisplayWidth(std::string_view text) {
    std::string checked = CodePageToUtf8(text, kUtf8CodePage);
    return size_t(std::count_if(checked.begin(), checked.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void AppendPadded(std::string& out, std::string_view text, size_t width, bool right) {
    size_t shown = DisplayWidth(text);
    std::string padding(shown < width ? width - shown : 0, ' ');
    if (right) out += padding;
    out.append(text);
    if (!right) out += padding;
}

std::string FormatJson(const std::vector<Row>& rows) {
    std::vector<nlohmann::ordered_json> items;
    items.reserve(rows.size());
    for (const Row& row : rows) {
        items.push_back({{"label", row.label},
                         {"kind", row.kind},
                         {"shortcut", row.shortcut},
                         {"path", row.path},
                         {"size", row.size},
                         {"type", row.type},
                         {"modified", row.modified}});
    }
    return JsonLines(items) + "\n";
}

// The details view as text: Name, Size (right-aligned), Type, Modified, then the kind and
// the shortcut mark.
std::string FormatText(std::vector<Row> rows) {
    for (Row& row : rows) {
        row.label = EscapedForTable(row.label);
        row.type = EscapedForTable(row.type);
    }
    size_t name_width = kNameHeading.size();
    size_t size_width = kSizeHeading.size();
    size_t type_width = kTypeHeading.size();
    size_t modified_width = kModifiedHeading.size();
    for (const Row& row : rows) {
        name_width = std::max(name_width, DisplayWidth(row.label));
        size_width = std::max(size_width, DisplayWidth(row.size));
        type_width = std::max(type_width, DisplayWidth(row.type));
        modified_width = std::max(modified_width, DisplayWidth(row.modified));
    }
    auto line = [&](std::string_view name, std::string_view size, std::string_view type,
                    std::string_view modified, std::string_view kind, bool shortcut) {
        std::string out;
        AppendPadded(out, name, name_width, false);
        out += "  ";
        AppendPadded(out, size, size_width, true);
        out += "  ";
        AppendPadded(out, type, type_width, false);
        out += "  ";
        AppendPadded(out, modified, modified_width, false);
        out += "  ";
        out.append(kind);
        if (shortcut) out.append(kShortcutMark);
        return out + "\n";
    };
    std::string out =
        line(kNameHeading, kSizeHeading, kTypeHeading, kModifiedHeading, kKindHeading, false);
    for (const Row& row : rows) {
        out += line(row.label, row.size, row.type, row.modified, row.kind, row.shortcut);
    }
    return out;
}

std::vector<Row> RowsOf(const CPreviewListModel& model) {
    std::vector<Row> rows;
    rows.reserve(model.GetItemCount());
    const bool drives = model.ShowsDrivesFolder();
    for (const auto& item : model.items()) {
        Row row;
        row.label = item->GetLabel();
        row.kind = std::string(ListItemKindName(item->GetKind()));
        row.shortcut = item->IsShortcut();
        row.path = item->GetItemPath();
        row.size = drives ? std::string() : item->GetSizeText();
        row.type = item->GetTypeText();
        row.modified = drives ? std::string() : item->GetDateText();
        rows.push_back(std::move(row));
    }
    return rows;
}

bool WriteAll(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

int RunList(const Arguments& arguments) {
    if (arguments.positional.size() != 1) {
        return Fail(kCommandName, "expects one FOLDER (see --help)", kExitUsage);
    }
    CPreviewListModel model;
    if (std::optional<std::string> filter = arguments.Value("--filter")) {
        model.SetFilter(*filter);
    }
    if (std::optional<std::string> sort = arguments.Value("--sort")) {
        if (sort->size() != 1 || (*sort)[0] < '0' || (*sort)[0] > '0' + kLastSortOrder) {
            return Fail(kCommandName, "--sort takes an order from 0 to 7", kExitUsage);
        }
        model.SetSortOrder((*sort)[0] - '0');
    }
    model.SetShowFileExtensions(!arguments.Has("--no-extensions"));
    model.SetShowHiddenFiles(arguments.Has("--hidden"));
    SetKeywordFilter(arguments.Value("--keywords").value_or(""));

    std::string folder_text = PathFromArgument(arguments.positional[0]);
    struct stat info {};
    if (stat(folder_text.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
        return Fail(kCommandName, folder_text + " is not a folder");
    }
    // The control shows such a folder as an empty list; a tool says what is wrong.
    if (!IsVirtualFolderText(folder_text)) {
        DIR* dir = opendir(folder_text.c_str());
        if (dir == nullptr) {
            return Fail(kCommandName,
                        "cannot read the folder " + folder_text + ": " + std::strerror(errno));
        }
        closedir(dir);
    }
    // Include files remember where labelled disks were found, as the control does.
    CControlPrefs prefs;
    prefs.LoadHashIncPrefs();
    const std::map<std::string, std::string> drives_before = prefs.m_mapHashIncPrefs;
    model.SetIncludeDrives(&prefs.m_mapHashIncPrefs);
    model.Refresh(CShellPath(folder_text));
    if (prefs.m_mapHashIncPrefs != drives_before) prefs.SaveHashIncPrefs();

    std::vector<Row> rows = RowsOf(model);
    std::string text = arguments.Has("--json") ? FormatJson(rows) : FormatText(rows);
    if (!WriteAll(text)) return Fail(kCommandName, "cannot write the listing");
    return kExitOk;
}

const RegisterCommand kRegistration({
    kCommandName,
    "list FOLDER [--filter TEXT] [--sort N] [--no-extensions] [--keywords TEXT] [--hidden]\n"
    "     [--json]",
    "list a folder as the preview list shows it",
    "Populates the folder as the preview list does (hidden files as the registry's\n"
    "\"Hidden\" setting says or --hidden, include files merged, shortcuts resolved), sorts it and\n"
    "prints the details columns Name, Size, Type and Modified in list order with each\n"
    "item's kind (folder, picture, custom, dtp, scrap, art, snippet, styledtext, pilot)\n"
    "and a mark for shortcuts. The filter is PCF (every picture), BMF, LAF, a picture\n"
    "format identifier such as JPG, or a document kind QOR, DTP, SRP, ART, DSP or FLX.\n"
    "Sort orders: 0/1 name, 2/3 type, 4/5 size (largest first / smallest first),\n"
    "6/7 date (newest first / oldest first). Control characters in names are shown\n"
    "escaped (\\n, \\t, \\xNN) in the table. A folder that does not exist or cannot be\n"
    "read is an error.",
    {{"--filter", true, "filter text (default PCF)"},
     {"--sort", true, "sort order 0 to 7 (default 0)"},
     {"--no-extensions", false, "labels without their file extensions"},
     {"--keywords", true, "summary-information keyword filter for DTP documents"},
     {"--hidden", false, "also hidden files, whatever the registry's \"Hidden\" setting says"},
     {"--json", false, "print one JSON array of the items in list order"}},
    RunList,
});

}  // namespace
}  // namespace scopa::tool
