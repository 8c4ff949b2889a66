// The desktop's shared thumbnail cache, kept the way file managers keep it:
// $XDG_CACHE_HOME/thumbnails/{normal,large,x-large,xx-large}/MD5(URI).png, each PNG naming its
// original in the text chunks "Thumb::URI" and "Thumb::MTime"; failures recorded under
// "fail/<program>-<version>/"; and read-only ".sh_thumbnails/" folders that collections on
// removable media carry beside their files. Pure functions of paths, URIs and times: nothing
// here knows our own caches.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/rgba_png.h"

namespace scopa {

// The sizes of the cache, by their folder names and the long side of their pictures.
enum class DesktopThumbnailSize { kNormal, kLarge, kXLarge, kXxLarge };
const char* DesktopThumbnailFolderName(DesktopThumbnailSize size);
int32_t DesktopThumbnailSidePx(DesktopThumbnailSize size);

inline constexpr const char* kThumbUriKey = "Thumb::URI";
inline constexpr const char* kThumbMTimeKey = "Thumb::MTime";
inline constexpr const char* kThumbSizeKey = "Thumb::Size";
inline constexpr const char* kSoftwareKey = "Software";
// Our folder under "fail/".
std::string FailRecordFolderName();  // "scopa-<version>"

// The escaped "file://" URI of an absolute path ("/a b" gives "file:///a%20b"), escaped as the
// desktop's own libraries escape it so the MD5 names agree; "" for a relative path.
std::string FileUriOfPath(const std::string& absolute_path);
// The path of a local "file:" URI (no host or "localhost"); nothing for anything else.
std::optional<std::string> PathOfFileUri(const std::string& uri);
// "<lower-case MD5 hex of text>.png".
std::string ThumbnailFileName(std::string_view text);

// $XDG_CACHE_HOME/thumbnails, else ~/.cache/thumbnails.
std::string DesktopThumbnailFolder();

// What a thumbnail must say of its original to be fresh.
struct OriginalFile {
    std::string uri;
    int64_t mtime_s = 0;  // modification time, whole seconds
    uint64_t size_bytes = 0;
};
// The status of an absolute path as the cache names it; nothing when it cannot be read.
std::optional<OriginalFile> DescribeOriginal(const std::string& absolute_path);

// A thumbnail file whose "Thumb::URI" is the original's URI and whose "Thumb::MTime" is its
// time; nothing when missing, damaged or stale.
std::optional<RgbaImage> ReadFreshThumbnail(const std::string& thumbnail_path,
                                            const OriginalFile& original);

// The first fresh thumbnail of the original whose size is `smallest` or larger, in the cache
// folder `cache_folder` (DesktopThumbnailFolder() in the program), smallest size first.
std::optional<RgbaImage> FindDesktopThumbnail(const std::string& cache_folder,
                                              const OriginalFile& original,
                                              DesktopThumbnailSize smallest);

// The same in the ".sh_thumbnails" folder beside the original, whose files are named by the
// MD5 of the bare file name; there "Thumb::MTime" is checked when present and "Thumb::URI",
// when present, must name the file (bare or as the full URI).
std::optional<RgbaImage> FindSharedRepositoryThumbnail(const std::string& absolute_path,
                                                       const OriginalFile& original,
                                                       DesktopThumbnailSize smallest);

// Writes a thumbnail of `size` (the picture's long side at most that size) with the required
// keys, through a temporary file and a rename, readable by the user alone (0600); folders are
// made 0700. False when anything fails (nothing is then left behind).
bool WriteDesktopThumbnail(const std::string& cache_folder, DesktopThumbnailSize size,
                           const OriginalFile& original, const RgbaImage& image);

// Failure records: an empty thumbnail under "fail/scopa-<version>/" that says the original
// could not be read as it is now; a record of an older time does not count.
bool HasFailRecord(const std::string& cache_folder, const OriginalFile& original);
bool WriteFailRecord(const std::string& cache_folder, const OriginalFile& original);

}  // namespace scopa
