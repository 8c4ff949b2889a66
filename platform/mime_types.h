// Type names and icon names of files, from the shared MIME database that desktop
// environments install, through GIO's content types (loaded on first use). Types are found by
// file name only, never by reading the file, so naming a type is cheap.
//
// GIO reads the database from $XDG_DATA_HOME/mime and $XDG_DATA_DIRS/mime as they are at its
// first use and keeps those folders for the life of the process; it notices changed database
// files by itself within seconds.
#pragma once

#include <string>
#include <string_view>

namespace scopa {

// Media types of the database that the namespace uses for what is not a plain file.
inline constexpr std::string_view kFolderMimeType = "inode/directory";
inline constexpr std::string_view kMountPointMimeType = "inode/mount-point";
inline constexpr std::string_view kUnknownMimeType = "application/octet-stream";

// The media type the database gives `file_name` by its globs ("photo.JPG" gives "image/jpeg");
// "" when no glob matches.
std::string MimeTypeOfName(std::string_view file_name);

// The database's description of `mime_type` in the user's language ("PNG image"), or "" when
// it has none.
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

}  // namespace scopa
