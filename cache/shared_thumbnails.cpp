#include "cache/shared_thumbnails.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "cache/cache_manager.h"
#include "cache/freedesktop_thumbnails.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "platform/registry.h"
#include "prefs/control_prefs.h"
#include "shell/item_id_list.h"

namespace scopa {
namespace {

std::atomic<bool> g_shareThumbnails{true};
std::mutex g_rootsMutex;
std::vector<std::string> g_staticRoots;  // normalised root folders of static caches

// Our render is the large size; a fresh thumbnail of that size or larger serves as one.
constexpr DesktopThumbnailSize kRenderSize = DesktopThumbnailSize::kLarge;

// Draws a desktop thumbnail into the 256 render as the picture itself would be drawn there.
void HalveDesktopThumbnail(const RgbaImage& image, uint8_t* out, vSIZE& covered) {
    thread_local oDIB render;
    if (render.IsEmpty()) render.Create(kRenderSidePx, kRenderSidePx, 24);
    vSIZE rendered = RenderPicture(render, kFilterTypeBitmap, DibFromRgba(image), vMETAFILE());
    HalveRenderToThumbnail(render, rendered, out, covered);
}

std::optional<RgbaImage> FindReadyThumbnail(const std::string& path,
                                            const std::string& desktop_folder,
                                            const OriginalFile& original) {
    if (auto image = FindDesktopThumbnail(desktop_folder, original, kRenderSize)) return image;
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || IsUnderStaticCacheRoot(path.substr(0, slash))) {
        return std::nullopt;
    }
    return FindSharedRepositoryThumbnail(path, original, kRenderSize);
}

}  // namespace

void RememberStaticCacheRoots(const CPreviewCacheManager& manager) {
    std::vector<std::string> roots;
    for (const CPreviewCache* cache = manager.Caches().Head(); cache != nullptr;
         cache = PreviewCacheList::Next(cache)) {
        if (cache->IsReadOnly() && !cache->RootFolder().empty()) {
            roots.push_back(cache->RootFolder());
        }
    }
    std::lock_guard lock(g_rootsMutex);
    g_staticRoots = std::move(roots);
}

bool IsUnderStaticCacheRoot(const std::string& folder_path) {
    std::string folder = NormalizePathText(folder_path);
    std::lock_guard lock(g_rootsMutex);
    for (const std::string& root : g_staticRoots) {
        // "/" holds everything; any other root holds itself and what lies below a '/' after it.
        if (folder.starts_with(root) &&
            (root.back() == '/' || folder.size() == root.size() || folder[root.size()] == '/')) {
            return true;
        }
    }
    return false;
}

void LoadShareThumbnailsPreference() {
    HKEY key = nullptr;
    bool share = true;
    if (RegOpenKeyA(HKEY_CURRENT_USER, kGeneralPrefsKey, &key) == ERROR_SUCCESS) {
        DWORD type = 0, value = 0, size = sizeof(value);
        if (RegQueryValueExA(key, kShareThumbnailsValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
            type == REG_DWORD) {
            share = value != 0;
        }
        RegCloseKey(key);
    }
    SetShareThumbnails(share);
}

void SetShareThumbnails(bool share) {
    g_shareThumbnails = share;
}

bool ShareThumbnails() {
    return g_shareThumbnails.load();
}

int MakeCacheThumbnailSharing(PictureLoadObserver* observer, const std::string& path,
                              const std::string& desktop_folder, uint8_t* out, vSIZE& covered) {
    std::optional<OriginalFile> original = DescribeOriginal(path);
    if (!original) return RenderCachePreview(observer, path, out, covered);
    if (auto image = FindReadyThumbnail(path, desktop_folder, *original)) {
        HalveDesktopThumbnail(*image, out, covered);
        return kLoadRead;
    }
    if (HasFailRecord(desktop_folder, *original)) {
        NotePictureFailure(path, {FailureKind::kData,
                                  "failed before: the desktop's thumbnail "
                                  "cache has a failure record"});
        return kLoadFailed;
    }
    thread_local oDIB render;
    vSIZE rendered{};
    int result = RenderForCache(observer, path, render, rendered);
    if (result == kLoadRead) HalveRenderToThumbnail(render, rendered, out, covered);
    // What we learnt is shared only while the file is still as it was when we read it.
    if (result == kLoadInterrupted || !ShareThumbnails()) return result;
    std::optional<OriginalFile> after = DescribeOriginal(path);
    if (!after || after->mtime_s != original->mtime_s) return result;
    if (result == kLoadRead) {
        WriteDesktopThumbnail(desktop_folder, kRenderSize, *original,
                              RgbaFromDib(render, rendered));
    } else {
        WriteFailRecord(desktop_folder, *original);
    }
    return result;
}

int MakeCacheThumbnail(PictureLoadObserver* observer, const std::string& path, uint8_t* out,
                       vSIZE& covered) {
    return MakeCacheThumbnailSharing(observer, path, DesktopThumbnailFolder(), out, covered);
}

}  // namespace scopa
