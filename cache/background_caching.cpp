#include "cache/background_caching.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <vector>

#include "cache/cache_manager.h"
#include "cache/shared_thumbnails.h"
#include "imaging/dib.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "list/list_model.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace scopa {
namespace {

// Pictures of this extension carry their own change marks; their time is never compared.
constexpr std::string_view kUnstampedExtension = ".FPX";

CCacheEntry* g_entryBeingMade = nullptr;

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

int32_t FileStamp(const std::string& file_path) {
    return EndsWithNoCase(file_path, kUnstampedExtension) ? 0 : FileModificationTime(file_path);
}

int32_t EntryStamp(const CCacheEntry& entry, const std::string& file_path) {
    return entry.Cache()->IsReadOnly() ? 0 : FileStamp(file_path);
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

namespace {

// What becomes of the head entry once its thumbnail was made (or not): the rules of the
// caching job, whichever thread made it.
CachingJobResult ApplyMadeThumbnail(CPreviewCacheManager& manager, CCacheEntry& entry, int result,
                                    std::span<const uint8_t> pixels, vSIZE covered) {
    switch (result) {
        case kLoadRead: {
            CPreviewCache* dynamic_cache = manager.DynamicCache();
            std::span<const uint8_t, kThumbnailBlockBytes> block(pixels.data(),
                                                                 kThumbnailBlockBytes);
            if (dynamic_cache == nullptr ||
                !dynamic_cache->StoreThumbnail(entry, block, covered.cx, covered.cy)) {
                // A write that keeps failing (a full disk) counts as a failure like any other,
                // so the entry is given up after the same number of tries.
                ++entry.m_failures;
                if (entry.m_failures <= kMaxThumbnailFailures) return CachingJobResult::kNotWritten;
                manager.Dequeue(entry);
                Trace(FormatEntryTrace(kTraceBadFormat, entry));
                return CachingJobResult::kGivenUp;
            }
            manager.Dequeue(entry);
            entry.m_width = covered.cx;
            entry.m_height = covered.cy;
            Trace(FormatWrittenTrace(entry));
            return CachingJobResult::kWritten;
        }
        case kLoadInterrupted:
            Trace(FormatEntryTrace(kTraceRetryFormat, entry));
            return CachingJobResult::kRetry;
        case kLoadFailed:
            ++entry.m_failures;
            if (entry.m_failures <= kMaxThumbnailFailures) return CachingJobResult::kFailed;
            // Still Pending: not saved, and not queued again unless the file changes.
            manager.Dequeue(entry);
            Trace(FormatEntryTrace(kTraceBadFormat, entry));
            return CachingJobResult::kGivenUp;
        default:
            return CachingJobResult::kFailed;
    }
}

}  // namespace

CBackgroundCaching::CBackgroundCaching(CPreviewListModel* model, CScopaCtrl* control)
    : m_model(model), m_control(control) {
    LoadShareThumbnailsPreference();
}

CBackgroundCaching::~CBackgroundCaching() = default;

void CBackgroundCaching::UseWorkerThread(bool use) {
    m_useWorker = use;
    if (!use) {
        m_worker.reset();
        EndWorkerJobProgress();
    }
}

void CBackgroundCaching::SetThumbnailMaker(ThumbnailMaker maker) {
    m_maker = std::move(maker);
    // The worker was made with the old maker.
    m_worker.reset();
    EndWorkerJobProgress();
}

CCacheEntry* CBackgroundCaching::Tick() {
    m_lastResult = CachingJobResult::kNoJob;
    if (m_destroyed) return nullptr;
    if (m_model != nullptr) m_model->StepPendingRefresh(kPopulationSliceMs);
    // The tick never makes the manager: a list that never asked for a thumbnail has no queue.
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    if (manager == nullptr) return nullptr;
    g_entryBeingMade = manager->QueueHead();
    if (g_entryBeingMade == nullptr) {
        // The queue was cleared: what the worker is making is wanted no more.
        if (m_worker && !m_worker->Idle()) m_worker->Interrupt();
        return nullptr;
    }
    CCacheEntry* entry = g_entryBeingMade;
    manager->SetCurrentControl(m_control);
    m_lastResult = m_useWorker ? WorkOnHead(*entry) : MakeQueueHeadThumbnail();
    return entry;
}

CachingJobResult CBackgroundCaching::MakeQueueHeadThumbnail() {
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    if (manager == nullptr) return CachingJobResult::kNoJob;
    CCacheEntry* entry = manager->QueueHead();
    if (entry == nullptr) return CachingJobResult::kNoJob;
    RememberStaticCacheRoots(*manager);
    std::string path = EntryFilePath(*entry);
    std::vector<uint8_t> pixels(kThumbnailBlockBytes);
    vSIZE covered{};
    int result = m_maker ? m_maker(m_observer, path, pixels.data(), covered)
                         : MakeCacheThumbnail(m_observer, path, pixels.data(), covered);
    return ApplyMadeThumbnail(*manager, *entry, result, pixels, covered);
}

CachingJobResult CBackgroundCaching::WorkOnHead(CCacheEntry& head) {
    CPreviewCacheManager& manager = *CPreviewCacheManager::Existing();
    if (!m_worker) m_worker = std::make_unique<CThumbnailWorker>(m_maker);
    std::string path = EntryFilePath(head);
    if (std::optional<MadeThumbnail> made = m_worker->TakeFinished()) {
        EndWorkerJobProgress();
        // Only a result for the head's file as it is now counts; an interrupted one was
        // stopped by us because the head changed.
        if (made->path == path && made->stamp == FileStamp(path) &&
            made->result != kLoadInterrupted) {
            CachingJobResult result =
                ApplyMadeThumbnail(manager, head, made->result, made->pixels, made->covered);
            // The next head's thumbnail is made while the control waits for its next tick.
            if (CCacheEntry* next = manager.QueueHead()) StartWorkerJob(EntryFilePath(*next));
            return result;
        }
    }
    if (m_worker->Idle()) {
        StartWorkerJob(path);
    } else if (m_worker->JobPath() != path) {
        // A newer request came first: the old job gives way.
        m_worker->Interrupt();
    } else if (m_observer != nullptr && m_progressShown) {
        int percent = m_worker->Percent();
        if (percent >= 0 && percent != m_shownPercent) {
            m_shownPercent = percent;
            m_observer->OnLoadProgress(uint32_t(percent));
        }
    }
    return CachingJobResult::kInProgress;
}

void CBackgroundCaching::StartWorkerJob(const std::string& path) {
    RememberStaticCacheRoots(*CPreviewCacheManager::Existing());
    m_worker->Start(path, FileStamp(path));
    m_shownPercent = -1;
    m_progressShown = true;
    if (m_observer != nullptr) m_observer->OnLoadStart();
}

void CBackgroundCaching::EndWorkerJobProgress() {
    if (!m_progressShown) return;
    m_progressShown = false;
    if (m_observer != nullptr) m_observer->OnLoadEnd();
}

void CBackgroundCaching::ControlDestroyed() {
    m_destroyed = true;
    m_worker.reset();
    EndWorkerJobProgress();
    g_entryBeingMade = nullptr;
    CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
    if (manager == nullptr) return;
    manager->ClearQueue();
    if (manager->CurrentControl() == m_control) manager->SetCurrentControl(nullptr);
    if (CPreviewCache* dynamic_cache = manager->DynamicCache()) dynamic_cache->SaveIndex();
}

}  // namespace scopa
