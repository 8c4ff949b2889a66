// Type names and icon names of files, from the shared MIME database that desktop
// environments install (the shared-mime-info files under $XDG_DATA_DIRS/mime). Types are
// found by file name only (globs), never by reading the file, so naming a type is cheap.
#pragma once

#include <string>
#include <string_view>

namespace scopa {

// Media types of the database that the namespace uses for what is not a plain file.
inline constexpr std::string_view kFolderMimeType = "inode/directory";
inline constexpr std::string_view kMountPointMimeType = "inode/mount-point";
inline constexpr std::string_view kUnknownMimeType = "application/octet-stream";

// The media type whose glob matches `file_name` ("photo.JPG" gives "image/jpeg"), following
// the database's rules: literal names first, then the longest matching "*.suffix" (case
// sensitive ones before the others), then the remaining patterns by weight. "" when none.
std::string MimeTypeOfName(std::string_view file_name);

// The database's English description of `mime_type` ("PNG image"), or "" when it has none.
std::string MimeTypeDescription(std::string_view mime_type);

// The icon-theme name for `mime_type`: the database's own icon when it names one, else the
// type with '/' turned into '-' ("image-png").
std::string MimeTypeIconName(std::string_view mime_type);

// The generic icon-theme name ("image-x-generic"), for themes without the specific icon.
std::string MimeTypeGenericIconName(std::string_view mime_type);

// The type text shown for a file named `file_name`: its type's description; for a name the
// database does not know, the upper-cased extension followed by " File" ("XYZ File"), or the
// description of unknown data when the name has no extension.
std::string FileTypeText(std::string_view file_name);

// Forgets what was read, so the next question reads the database afresh (tests point
// XDG_DATA_DIRS elsewhere).
void ResetMimeDatabase();

}  // namespace scopa
