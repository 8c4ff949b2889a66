#include "cache/background_caching.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "cache/cache_files.h"
#include "cache/cache_manager.h"
#include "imaging/dib.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "list/list_model.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;

// Pictures of this extension carry their own change marks; their time is never compared.
constexpr std::string_view kUnstampedExtension = ".FPX";
// Registered paths are read back into 260-byte buffers.
constexpr size_t kMaxRegisteredPathBytes = 259;
constexpr const char* kStaticCacheKeyFormat = "Cache%d";

CCacheEntry* g_entryBeingMade = nullptr;
// Raised at every try of a registration name, for the life of the process.
int g_staticCacheCounter = 1;

std::string FormatEntryTrace(const char* format, const CCacheEntry& entry) {
    std::array<char, 1200> line{};
    std::snprintf(line.data(), line.size(), format, entry.Name().c_str());
    return line.data();
}

std::string FormatWrittenTrace(const CCacheEntry& entry) {
    std::array<char, 1200> line{};
    std::snprintf(line.data(), line.size(), kTraceWrittenFormat, entry.Name().c_str(),
                  int(entry.m_index), int(entry.m_seqId));
    return line.data();
}

int32_t FileModificationTime(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    // The index keeps 32 bits of seconds.
    return int32_t(status.st_mtime);
}

int32_t StaticEntryStamp(const std::string& path) {
    return EndsWithNoCase(path, kUnstampedExtension) ? 0 : FileModificationTime(path);
}

}  // namespace

CCacheEntry* EntryBeingMade() {
    return g_entryBeingMade;
}

std::string EntryFilePath(const CCacheEntry& entry) {
    if (!entry.SourcePath().empty()) return entry.SourcePath();
    std::string folder = entry.Folder()->FullPath();
    if (folder.empty()) return entry.Name();
    if (folder.back() != '/') folder += '/';
    return folder + entry.Name();
}

int32_t EntryStamp(const CCacheEntry& entry, const std::string& file_path) {
    if (entry.Cache()->IsReadOnly()) return 0;
    if (EndsWithNoCase(file_path, kUnstampedExtension)) return 0;
    return FileModificationTime(file_path);
}

bool FetchThumbnail(CCacheEntry& entry, oDIB& bitmap) {
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    if (manager == nullptr) return false;
    std::string path = EntryFilePath(entry);
    int32_t stamp = EntryStamp(entry, path);
    if (entry.m_state == EntryState::kEmpty || (stamp != 0 && stamp != entry.m_stamp)) {
        manager->Request(entry, stamp);
        return false;
    }
    if (entry.m_state != EntryState::kValid) return false;
    if (entry.Cache()->ReadThumbnail(entry, bitmap)) return true;
    Trace(FormatEntryTrace(kTraceFailedToReadFormat, entry));
    // A static cache's record is never remade; a dynamic cache's is.
    if (!entry.Cache()->IsReadOnly()) manager->Request(entry, stamp);
    return false;
}

// ---- CBackgroundCaching ----

CBackgroundCaching::CBackgroundCaching(CPreviewListModel* model, CScopaCtrl* control)
    : m_model(model), m_control(control) {}

CCacheEntry* CBackgroundCaching::Tick() {
    m_lastResult = CachingJobResult::kNoJob;
    if (m_destroyed) return nullptr;
    if (m_model != nullptr) m_model->StepPendingRefresh(kPopulationSliceMs);
    // The tick never makes the manager: a list that never asked for a thumbnail has no queue.
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    if (manager == nullptr) return nullptr;
    g_entryBeingMade = manager->QueueHead();
    if (g_entryBeingMade == nullptr) return nullptr;
    CCacheEntry* entry = g_entryBeingMade;
    manager->SetCurrentControl(m_control);
    m_lastResult = MakeQueueHeadThumbnail();
    return entry;
}

CachingJobResult CBackgroundCaching::MakeQueueHeadThumbnail() {
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    if (manager == nullptr) return CachingJobResult::kNoJob;
    CCacheEntry* entry = manager->QueueHead();
    if (entry == nullptr) return CachingJobResult::kNoJob;
    std::string path = EntryFilePath(*entry);
    std::vector<uint8_t> pixels(kThumbnailBlockBytes);
    vSIZE covered{};
    int result = m_maker ? m_maker(m_observer, path, pixels.data(), covered)
                         : RenderCachePreview(m_observer, path, pixels.data(), covered);
    switch (result) {
        case kLoadRead: {
            CPreviewCache* dynamic_cache = manager->DynamicCache();
            std::span<const uint8_t, kThumbnailBlockBytes> block(pixels.data(),
                                                                 kThumbnailBlockBytes);
            // A failed write keeps the entry first, so the next tick tries the same file again.
            if (dynamic_cache == nullptr ||
                !dynamic_cache->WriteThumbnail(*entry, block, covered.cx, covered.cy)) {
                return CachingJobResult::kNotWritten;
            }
            manager->Dequeue(*entry);
            entry->m_state = EntryState::kValid;
            entry->m_width = covered.cx;
            entry->m_height = covered.cy;
            Trace(FormatWrittenTrace(*entry));
            return CachingJobResult::kWritten;
        }
        case kLoadInterrupted:
            Trace(FormatEntryTrace(kTraceRetryFormat, *entry));
            return CachingJobResult::kRetry;
        case kLoadFailed:
            ++entry->m_failures;
            if (entry->m_failures <= kMaxThumbnailFailures) return CachingJobResult::kFailed;
            // Still Pending: not saved, and not queued again unless the file changes.
            manager->Dequeue(*entry);
            Trace(FormatEntryTrace(kTraceBadFormat, *entry));
            return CachingJobResult::kGivenUp;
        default:
            return CachingJobResult::kFailed;
    }
}

void CBackgroundCaching::ControlDestroyed() {
    m_destroyed = true;
    g_entryBeingMade = nullptr;
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    if (manager == nullptr) return;
    manager->ClearQueue();
    if (manager->CurrentControl() == m_control) manager->SetCurrentControl(nullptr);
    if (CPreviewCache* dynamic_cache = manager->DynamicCache()) dynamic_cache->SaveIndex();
}

// ---- static caches ----

namespace {

struct StaticCacheImport {
    CPreviewCacheManager& manager;
    CPreviewCache& cache;
    const StaticCacheFeedback& feedback;

    void Send(const std::string& text) const {
        if (feedback) feedback(text);
    }

    bool ImportPicture(const std::string& folder_path, const std::string& name,
                       const std::string& full_path) const {
        std::vector<uint8_t> pixels(kThumbnailBlockBytes);
        vSIZE covered{};
        if (RenderCachePreview(nullptr, full_path, pixels.data(), covered) != kLoadRead) {
            return false;
        }
        std::string label = manager.VolumeLabelOf(full_path);
        // Loads the index on first use; the entry found (if any) is not used.
        cache.Find(label, folder_path, name);
        CCacheEntry* entry = cache.Add(label, folder_path, name);
        if (entry == nullptr) return false;
        entry->m_state = EntryState::kValid;
        entry->m_stamp = StaticEntryStamp(full_path);
        entry->m_width = covered.cx;
        entry->m_height = covered.cy;
        entry->SetSourcePath(folder_path, name);
        std::span<const uint8_t, kThumbnailBlockBytes> block(pixels.data(), kThumbnailBlockBytes);
        return cache.WriteThumbnail(*entry, block, covered.cx, covered.cy);
    }

    void ImportFolder(const std::string& folder_path) const {
        std::vector<fs::directory_entry> found;
        std::error_code error;
        for (fs::directory_iterator it(folder_path, error), end; !error && it != end;
             it.increment(error)) {
            found.push_back(*it);
        }
        // A listing's order is the file system's; names in byte order make runs repeatable.
        std::sort(found.begin(), found.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) {
                      return a.path().filename().string() < b.path().filename().string();
                  });
        for (const fs::directory_entry& item : found) {
            std::string name = item.path().filename().string();
            std::string full_path = folder_path;
            if (full_path.empty() || full_path.back() != '/') full_path += '/';
            full_path += name;
            std::error_code status_error;
            // Linked folders are not followed, so a link loop cannot recurse forever.
            if (item.is_directory(status_error) && !item.is_symlink(status_error)) {
                ImportFolder(full_path);
                continue;
            }
            if (!IsPictureOfKind(full_path, "PCF", true)) continue;
            Send("Importing ");
            Send(full_path);
            Send(ImportPicture(folder_path, name, full_path) ? " - Success\r\n" : " - Failure\r\n");
        }
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
                       const StaticCacheFeedback& on_feedback) {
    if (!CreateEmptyDataFile(cache_path_name)) return false;
    fs::path index_path = CacheIndexPath(cache_path_name);
    fs::path data_path = CacheDataPath(cache_path_name);
    // The data file was just emptied, so an old index of this name points at nothing: the
    // new cache holds only what this run writes.
    std::error_code error;
    fs::remove(index_path, error);
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    auto cache = std::make_unique<CPreviewCache>(index_path, data_path, root_folder_path, true, 0);
    StaticCacheImport import{manager, *cache, on_feedback};
    import.Send("Creating static cache - ");
    import.Send(cache_path_name);
    import.Send("\r\n");
    import.ImportFolder(root_folder_path);
    if (!cache->SaveIndex()) import.Send("Preview Index: Write failure\r");
    manager.AddCacheHead(std::move(cache));
    RegisterStaticCache(index_path.string(), data_path.string(), root_folder_path);
    import.Send("Finished\r\n");
    return true;
}

}  // namespace scopa
