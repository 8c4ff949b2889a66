// The control's string table: every text the user or a host sees, by its resource number, in
// one place. Texts are constant for the life of the program, so they are handed out as views.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace scopa {

inline constexpr int kIdsControlTypeName = 1;
inline constexpr int kIdsPropertyPageTypeName = 2;
inline constexpr int kIdsPropertyPageCaption = 100;
inline constexpr int kIdsDesktop = 101;
inline constexpr int kIdsDragFileName = 102;
inline constexpr int kIdsInsertDiskCaption = 215;
inline constexpr int kIdsShortcutDiskMessage = 216;
inline constexpr int kIdsShortcutUnavailableMessage = 217;
inline constexpr int kIdsRecentFolderMarker = 218;
inline constexpr int kIdsColumnName = 219;
inline constexpr int kIdsColumnType = 220;
inline constexpr int kIdsColumnSize = 221;
inline constexpr int kIdsColumnModified = 222;
inline constexpr int kIdsDateFormat = 223;
inline constexpr int kIdsDropAssistantCaption = 224;
inline constexpr int kIdsDropAssistantQuestion = 225;
inline constexpr int kIdsExportFailed = 226;
inline constexpr int kIdsEditCaption = 227;
inline constexpr int kIdsNoApplication = 228;

namespace string_table {
// "foIder" (a capital I) in 216 and 217 is how the messages have always read; hosts compare
// them, so the spelling stays.
inline constexpr std::array<std::pair<int, std::string_view>, 19> kEntries{{
    {kIdsControlTypeName, "QOR Scopa Control"},
    {kIdsPropertyPageTypeName, "QOR Scopa Property Page"},
    {kIdsPropertyPageCaption, "General"},
    {kIdsDesktop, "Desktop"},
    {kIdsDragFileName, "Picture"},
    {kIdsInsertDiskCaption, "Insert Disk"},
    {kIdsShortcutDiskMessage,
     "The file or foIder that the shortcut refers to is unavailable.\n\n%s\n\nInsert the '%s' "
     "disk and try again."},
    {kIdsShortcutUnavailableMessage,
     "The file or foIder that the shortcut refers to is unavailable.\n\n%s\n\nMake sure that "
     "the appropriate disk is inserted and try again."},
    {kIdsRecentFolderMarker, "RECENT"},
    {kIdsColumnName, "Name"},
    {kIdsColumnType, "Type"},
    {kIdsColumnSize, "Size"},
    {kIdsColumnModified, "Modified"},
    {kIdsDateFormat, "%#d/%#m/%y %#I:%M %p"},
    {kIdsDropAssistantCaption, "Drag & Drop Assistant"},
    {kIdsDropAssistantQuestion,
     "You have dropped the same picture twice onto the same application.  This could be due "
     "to the application not being able to handle the picture's format.\n\nDo you want to "
     "drop pictures in a more generic format for this application?"},
    {kIdsExportFailed,
     "An error occurred whilst exporting the picture.\n\nEnsure that there is sufficient free "
     "disk space and try again."},
    {kIdsEditCaption, "Edit"},
    {kIdsNoApplication, "There is no application associated with this type of file."},
}};
}  // namespace string_table

// The text of string `id`; "" for a number the table does not hold. Usable in constants.
constexpr std::string_view LoadResourceString(int id) {
    for (const auto& [entry_id, text] : string_table::kEntries) {
        if (entry_id == id) return text;
    }
    return {};
}

// String `id` with each "%s" replaced, in order, by the next argument ("" when they run out);
// other characters, '%' included, are kept.
std::string FormatResourceString(int id, std::initializer_list<std::string_view> arguments);

}  // namespace scopa
