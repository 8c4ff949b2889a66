#include "cache/static_cache_creation.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "cache/background_caching.h"
#include "cache/cache_files.h"
#include "cache/cache_manager.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;

// Registered paths are read back into 260-byte buffers.
constexpr size_t kMaxRegisteredPathBytes = 259;
constexpr const char* kStaticCacheKeyFormat = "Cache%d";
// Pictures decoded ahead of the one being written, per worker: enough to keep every worker
// busy while the calling thread compresses, small enough to cost little memory.
constexpr size_t kJobsAheadPerWorker = 4;

// Added to the cache's base path while it is being built.
constexpr const char* kBuildingSuffix = ".building";

// Raised at every try of a registration name, for the life of the process.
int g_staticCacheCounter = 1;

// A file met by the walk.
struct WalkedFile {
    std::string folder_path;
    std::string name;
    std::string full_path;
};

// The files under a root, depth first, each folder's names in byte order so runs are
// repeatable whatever order the file system lists them in. Linked folders are not followed,
// so a link loop cannot recurse forever.
class SortedTreeWalk {
public:
    explicit SortedTreeWalk(const std::string& root) { Enter(root); }

    std::optional<WalkedFile> Next() {
        while (!m_folders.empty()) {
            Folder& folder = m_folders.back();
            if (folder.next == folder.items.size()) {
                m_folders.pop_back();
                continue;
            }
            const fs::directory_entry& item = folder.items[folder.next++];
            WalkedFile file{folder.path, item.path().filename().string(), folder.path};
            if (file.full_path.empty() || file.full_path.back() != '/') file.full_path += '/';
            file.full_path += file.name;
            std::error_code error;
            if (item.is_directory(error) && !item.is_symlink(error)) {
                Enter(file.full_path);
                continue;
            }
            return file;
        }
        return std::nullopt;
    }

private:
    struct Folder {
        std::string path;
        std::vector<fs::directory_entry> items;
        size_t next = 0;
    };

    void Enter(const std::string& path) {
        Folder folder{path, {}, 0};
        std::error_code error;
        for (fs::directory_iterator it(path, error), end; !error && it != end;
             it.increment(error)) {
            folder.items.push_back(*it);
        }
        std::sort(folder.items.begin(), folder.items.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) {
                      return a.path().filename().string() < b.path().filename().string();
                  });
        m_folders.push_back(std::move(folder));
    }

    std::vector<Folder> m_folders;
};

// What a worker makes of one file.
struct RenderedFile {
    bool is_picture = false;
    int load_result = kLoadFailed;
    std::vector<uint8_t> pixels;
    vSIZE covered{};
};

RenderedFile RenderFile(const WalkedFile& file) {
    RenderedFile rendered;
    rendered.is_picture = IsPictureOfKind(file.full_path, "PCF", true);
    if (!rendered.is_picture) return rendered;
    rendered.pixels.resize(kThumbnailBlockBytes);
    rendered.load_result =
        RenderCachePreview(nullptr, file.full_path, rendered.pixels.data(), rendered.covered);
    return rendered;
}

struct StaticCacheImport {
    CPreviewCacheManager& manager;
    CPreviewCache& cache;
    const StaticCacheFeedback& feedback;

    void Send(const std::string& text) const {
        if (feedback) feedback(text);
    }

    bool StorePicture(const WalkedFile& file, const RenderedFile& rendered) const {
        if (rendered.load_result != kLoadRead) return false;
        std::string label = manager.VolumeLabelOf(file.full_path);
        // Loads the index on first use; the entry found (if any) is not used.
        cache.Find(label, file.folder_path, file.name);
        CCacheEntry* entry = cache.Add(label, file.folder_path, file.name);
        if (entry == nullptr) return false;
        entry->m_state = EntryState::kValid;
        entry->m_stamp = FileStamp(file.full_path);
        entry->m_width = rendered.covered.cx;
        entry->m_height = rendered.covered.cy;
        entry->SetSourcePath(file.folder_path, file.name);
        std::span<const uint8_t, kThumbnailBlockBytes> block(rendered.pixels.data(),
                                                             kThumbnailBlockBytes);
        return cache.WriteThumbnail(*entry, block, rendered.covered.cx, rendered.covered.cy);
    }

    void ImportTree(const std::string& root_folder_path, int worker_count) const {
        SortedTreeWalk walk(root_folder_path);
        int workers = ResolveWorkerCount(worker_count);
        RunInOrder<WalkedFile, RenderedFile>(
            workers, size_t(workers) * kJobsAheadPerWorker, [&] { return walk.Next(); }, RenderFile,
            [&](const WalkedFile& file, const RenderedFile& rendered) {
                if (!rendered.is_picture) return;
                Send("Importing ");
                Send(file.full_path);
                Send(StorePicture(file, rendered) ? " - Success\r\n" : " - Failure\r\n");
            });
    }
};

std::string CutRegisteredPath(const std::string& path) {
    return std::string(CutUtf8(path, kMaxRegisteredPathBytes));
}

void DeleteRegistrationOf(HKEY caches_key, const std::string& index_path) {
    for (DWORD index = 0;; ++index) {
        std::array<char, 260> name{};
        DWORD name_size = DWORD(name.size());
        if (RegEnumKeyExA(caches_key, index, name.data(), &name_size) != ERROR_SUCCESS) return;
        HKEY sub_key = nullptr;
        if (RegOpenKeyA(caches_key, name.data(), &sub_key) != ERROR_SUCCESS) continue;
        std::array<char, 260> value{};
        DWORD type = 0;
        DWORD value_size = DWORD(value.size());
        bool same =
            RegQueryValueExA(sub_key, kPreviewIndexFileValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(value.data()), &value_size) == ERROR_SUCCESS &&
            CompareNoCase(value.data(), index_path) == 0;
        RegCloseKey(sub_key);
        if (same) {
            RegDeleteKeyA(caches_key, name.data());
            return;
        }
    }
}

bool SetPathValue(HKEY key, const char* name, const std::string& path) {
    std::string text = CutRegisteredPath(path);
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD(text.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

bool RegisterStaticCache(const std::string& index_path, const std::string& data_path,
                         const std::string& root_folder_path) {
    HKEY caches_key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kPreviewCachesKey, &caches_key) != ERROR_SUCCESS) {
        return false;
    }
    DeleteRegistrationOf(caches_key, CutRegisteredPath(index_path));
    std::string name;
    for (;;) {
        std::array<char, 32> candidate{};
        std::snprintf(candidate.data(), candidate.size(), kStaticCacheKeyFormat,
                      g_staticCacheCounter++);
        HKEY existing = nullptr;
        if (RegOpenKeyA(caches_key, candidate.data(), &existing) != ERROR_SUCCESS) {
            name = candidate.data();
            break;
        }
        RegCloseKey(existing);
    }
    HKEY cache_key = nullptr;
    bool written = RegCreateKeyA(caches_key, name.c_str(), &cache_key) == ERROR_SUCCESS;
    if (written) {
        written = SetPathValue(cache_key, kPreviewIndexFileValue, index_path) &&
                  SetPathValue(cache_key, kPreviewDataFileValue, data_path) &&
                  SetPathValue(cache_key, kRootFolderValue, root_folder_path);
        written = RegFlushKey(cache_key) == ERROR_SUCCESS && written;
        RegCloseKey(cache_key);
    }
    written = RegFlushKey(caches_key) == ERROR_SUCCESS && written;
    RegCloseKey(caches_key);
    return written;
}

bool CreateStaticCache(const std::string& cache_path_name, const std::string& root_folder_path,
                       const StaticCacheFeedback& on_feedback, int worker_count) {
    // The cache is built under other names and renamed into place only when it is whole, so a
    // run that fails or is killed leaves the old cache and its registration as they were.
    std::string building_base = cache_path_name + kBuildingSuffix;
    fs::path building_index = CacheIndexPath(building_base);
    fs::path building_data = CacheDataPath(building_base);
    std::error_code error;
    fs::remove(building_index, error);  // left by a run that was killed
    if (!CreateEmptyDataFile(building_base)) return false;
    fs::path index_path = CacheIndexPath(cache_path_name);
    fs::path data_path = CacheDataPath(cache_path_name);
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    CPreviewCache cache(building_index, building_data, root_folder_path, true, 0);
    StaticCacheImport import{manager, cache, on_feedback};
    import.Send("Creating static cache - ");
    import.Send(cache_path_name);
    import.Send("\r\n");
    import.ImportTree(root_folder_path, worker_count);
    bool in_place = SyncFileToDisk(building_data) && cache.SaveIndex();
    if (in_place) {
        fs::rename(building_data, data_path, error);
        if (!error) fs::rename(building_index, index_path, error);
        in_place = !error;
    }
    if (!in_place) {
        import.Send("Preview Index: Write failure\r");
        fs::remove(building_index, error);
        fs::remove(building_data, error);
        import.Send("Finished\r\n");
        return true;
    }
    // This run's cache takes the place of one of this name that the manager already has; it
    // reads the index just written at its first lookup.
    manager.RemoveStaticCache(index_path);
    manager.AddCacheHead(
        std::make_unique<CPreviewCache>(index_path, data_path, root_folder_path, true, 0));
    RegisterStaticCache(index_path.string(), data_path.string(), root_folder_path);
    import.Send("Finished\r\n");
    return true;
}

}  // namespace scopa
