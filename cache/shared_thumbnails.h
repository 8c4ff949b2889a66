// The thumbnail maker of background caching, sharing work with the desktop's thumbnail cache:
// a fresh large (256) or larger thumbnail that a file manager already made is the same
// 256-pixel render our cache thumbnail is halved from, so it replaces decoding the original;
// a picture we decode gives its render back as a large thumbnail, and a picture that cannot
// be read gets a failure record, which stops further attempts until the file changes.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/geometry.h"

namespace scopa {

class CPreviewCacheManager;
class PictureLoadObserver;

// The user preference (HKEY_CURRENT_USER, general preferences key, a DWORD): 0 stops us
// writing thumbnails and failure records into the desktop's cache; missing means on.
inline constexpr const char* kShareThumbnailsValue = "Share Thumbnails";

// Reads the preference from the registry (on the control's thread; the maker may run on the
// worker thread and only reads the remembered answer).
void LoadShareThumbnailsPreference();
void SetShareThumbnails(bool share);
bool ShareThumbnails();

// Static caches are a collection's own thumbnails: ".sh_thumbnails" folders under their root
// folders are not read. The control's thread passes the manager's static caches on before a
// thumbnail is made (the maker may run on the worker thread and reads only this copy).
void RememberStaticCacheRoots(const CPreviewCacheManager& manager);
// True when `folder_path` lies in a remembered root folder (compared as the caches compare).
bool IsUnderStaticCacheRoot(const std::string& folder_path);

// RenderCachePreview's contract (0 made, 1 interrupted, 2 failed), through the desktop's
// cache in the folder `desktop_folder`, and ".sh_thumbnails" repositories beside the file.
int MakeCacheThumbnailSharing(PictureLoadObserver* observer, const std::string& path,
                              const std::string& desktop_folder, uint8_t* out, vSIZE& covered);

// The same with the user's thumbnail folder (DesktopThumbnailFolder()); the default maker of
// background caching.
int MakeCacheThumbnail(PictureLoadObserver* observer, const std::string& path, uint8_t* out,
                       vSIZE& covered);

}  // namespace scopa
