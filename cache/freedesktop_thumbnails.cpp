#include "cache/freedesktop_thumbnails.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/folders.h"
#include "platform/loaded_libraries.h"

namespace scopa {
namespace {

// Thumbnails of the sizes we read are at most this large on a side; anything beyond is not a
// thumbnail and is not decoded.
constexpr int32_t kMaxThumbnailSidePx = 1024;
constexpr mode_t kThumbnailFileMode = 0600;
constexpr mode_t kThumbnailFolderMode = 0700;
constexpr const char* kSharedRepositoryFolder = ".sh_thumbnails";

constexpr DesktopThumbnailSize kAllSizes[] = {
    DesktopThumbnailSize::kNormal, DesktopThumbnailSize::kLarge, DesktopThumbnailSize::kXLarge,
    DesktopThumbnailSize::kXxLarge};

struct GFreeDeleter {
    void operator()(void* pointer) const { Glib().free(pointer); }
};
using GString = std::unique_ptr<char, GFreeDeleter>;

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Makes `folder` and its missing parents with `mode`; true when it exists as a folder.
bool MakeFolders(const std::string& folder, mode_t mode) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0) return S_ISDIR(status.st_mode);
    size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash), mode)) {
        return false;
    }
    return ::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += size_t(written);
    }
    return true;
}

// Replaces `path` with `bytes` through a temporary file beside it, so a reader never sees a
// partial thumbnail.
bool ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    size_t slash = path.find_last_of('/');
    std::string pattern = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) return false;
    bool written = ::fchmod(fd, kThumbnailFileMode) == 0 && WriteAll(fd, bytes);
    written = ::close(fd) == 0 && written;
    if (written && ::rename(pattern.c_str(), path.c_str()) == 0) return true;
    ::unlink(pattern.c_str());
    return false;
}

std::string MTimeText(const OriginalFile& original) {
    return std::to_string(original.mtime_s);
}

bool WriteThumbnailFile(const std::string& folder, const std::string& name,
                        const OriginalFile& original, const RgbaImage& image) {
    PngTexts texts = {{kThumbUriKey, original.uri},
                      {kThumbMTimeKey, MTimeText(original)},
                      {kThumbSizeKey, std::to_string(original.size_bytes)},
                      {kSoftwareKey, FailRecordFolderName()}};
    std::vector<uint8_t> bytes;
    return !original.uri.empty() && EncodeRgbaPng(image, texts, &bytes) &&
           MakeFolders(folder, kThumbnailFolderMode) && ReplaceFile(JoinPath(folder, name), bytes);
}

std::optional<RgbaImage> ReadThumbnail(const std::string& path, PngTexts* texts) {
    RgbaImage image;
    if (!ReadRgbaPngFile(path, kMaxThumbnailSidePx, &image, texts)) return std::nullopt;
    return image;
}

}  // namespace

const char* DesktopThumbnailFolderName(DesktopThumbnailSize size) {
    switch (size) {
        case DesktopThumbnailSize::kNormal:
            return "normal";
        case DesktopThumbnailSize::kLarge:
            return "large";
        case DesktopThumbnailSize::kXLarge:
            return "x-large";
        case DesktopThumbnailSize::kXxLarge:
            return "xx-large";
    }
    return "normal";
}

int32_t DesktopThumbnailSidePx(DesktopThumbnailSize size) {
    return int32_t(128) << int(size);
}

std::string FailRecordFolderName() {
    return std::string("scopa-") + SCOPA_VERSION;
}

std::string FileUriOfPath(const std::string& absolute_path) {
    if (absolute_path.empty() || absolute_path[0] != '/' || !LoadGlib()) return {};
    GString uri(Glib().filename_to_uri(absolute_path.c_str(), nullptr, nullptr));
    return uri ? std::string(uri.get()) : std::string();
}

std::optional<std::string> PathOfFileUri(const std::string& uri) {
    if (!LoadGlib()) return std::nullopt;
    char* host = nullptr;
    GString path(Glib().filename_from_uri(uri.c_str(), &host, nullptr));
    GString host_text(host);
    bool local = host == nullptr || std::string_view(host) == "localhost";
    if (!path || !local) return std::nullopt;
    return std::string(path.get());
}

std::string ThumbnailFileName(std::string_view text) {
    if (!LoadGlib()) return {};
    GString digest(Glib().compute_checksum_for_data(
        G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(text.data()), text.size()));
    return std::string(digest.get()) + ".png";
}

std::string DesktopThumbnailFolder() {
    const char* cache_home = std::getenv("XDG_CACHE_HOME");
    std::string base = (cache_home != nullptr && cache_home[0] == '/') ? std::string(cache_home)
                                                                       : HomeFolder() + "/.cache";
    return JoinPath(base, "thumbnails");
}

std::optional<OriginalFile> DescribeOriginal(const std::string& absolute_path) {
    struct stat status {};
    if (::stat(absolute_path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    OriginalFile original;
    original.uri = FileUriOfPath(absolute_path);
    if (original.uri.empty()) return std::nullopt;
    original.mtime_s = int64_t(status.st_mtime);
    original.size_bytes = uint64_t(status.st_size);
    return original;
}

std::optional<RgbaImage> ReadFreshThumbnail(const std::string& thumbnail_path,
                                            const OriginalFile& original) {
    PngTexts texts;
    std::optional<RgbaImage> image = ReadThumbnail(thumbnail_path, &texts);
    if (!image) return std::nullopt;
    const std::string* uri = FindPngText(texts, kThumbUriKey);
    const std::string* mtime = FindPngText(texts, kThumbMTimeKey);
    if (uri == nullptr || mtime == nullptr || *uri != original.uri ||
        *mtime != MTimeText(original)) {
        return std::nullopt;
    }
    return image;
}

std::optional<RgbaImage> FindDesktopThumbnail(const std::string& cache_folder,
                                              const OriginalFile& original,
                                              DesktopThumbnailSize smallest) {
    std::string name = ThumbnailFileName(original.uri);
    for (DesktopThumbnailSize size : kAllSizes) {
        if (size < smallest) continue;
        std::string folder = JoinPath(cache_folder, DesktopThumbnailFolderName(size));
        if (auto image = ReadFreshThumbnail(JoinPath(folder, name), original)) return image;
    }
    return std::nullopt;
}

std::optional<RgbaImage> FindSharedRepositoryThumbnail(const std::string& absolute_path,
                                                       const OriginalFile& original,
                                                       DesktopThumbnailSize smallest) {
    size_t slash = absolute_path.find_last_of('/');
    if (slash == std::string::npos) return std::nullopt;
    std::string file_name = absolute_path.substr(slash + 1);
    std::string repository = absolute_path.substr(0, slash + 1) + kSharedRepositoryFolder;
    struct stat status {};
    if (::stat(repository.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
    std::string name = ThumbnailFileName(file_name);
    for (DesktopThumbnailSize size : kAllSizes) {
        if (size < smallest) continue;
        PngTexts texts;
        std::string folder = JoinPath(repository, DesktopThumbnailFolderName(size));
        std::optional<RgbaImage> image = ReadThumbnail(JoinPath(folder, name), &texts);
        if (!image) continue;
        const std::string* uri = FindPngText(texts, kThumbUriKey);
        const std::string* mtime = FindPngText(texts, kThumbMTimeKey);
        if (uri != nullptr && *uri != file_name && *uri != original.uri) continue;
        if (mtime != nullptr && *mtime != MTimeText(original)) continue;
        return image;
    }
    return std::nullopt;
}

bool WriteDesktopThumbnail(const std::string& cache_folder, DesktopThumbnailSize size,
                           const OriginalFile& original, const RgbaImage& image) {
    int32_t side = DesktopThumbnailSidePx(size);
    if (image.width_px > side || image.height_px > side) return false;
    return WriteThumbnailFile(JoinPath(cache_folder, DesktopThumbnailFolderName(size)),
                              ThumbnailFileName(original.uri), original, image);
}

bool HasFailRecord(const std::string& cache_folder, const OriginalFile& original) {
    std::string folder = JoinPath(JoinPath(cache_folder, "fail"), FailRecordFolderName());
    return ReadFreshThumbnail(JoinPath(folder, ThumbnailFileName(original.uri)), original)
        .has_value();
}

bool WriteFailRecord(const std::string& cache_folder, const OriginalFile& original) {
    // The record's picture carries nothing: one transparent pixel.
    RgbaImage empty{1, 1, {0, 0, 0, 0}};
    std::string folder = JoinPath(JoinPath(cache_folder, "fail"), FailRecordFolderName());
    return WriteThumbnailFile(folder, ThumbnailFileName(original.uri), original, empty);
}

}  // namespace scopa
