// Thumbnails made in the background: the preview list fetches an item's thumbnail from its
// cache entry and queues the entry on a miss; the control's timer (every 50 ms) then makes the
// queue's head entry's thumbnail, at most one per tick, newest request first, and stores it in
// the dynamic cache.
//
// Everything runs on the control's thread; nothing is locked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <memory>

#include "cache/thumbnail_worker.h"
#include "imaging/geometry.h"

namespace scopa {

class CCacheEntry;
class CPreviewListModel;
class CScopaCtrl;
class PictureLoadObserver;
class oDIB;

// The control's caching timer (timer 1) fires this often.
inline constexpr int kCachingTickIntervalMs = 50;
// Population time a tick may spend before it turns to caching.
inline constexpr int kPopulationSliceMs = 20;

// The trace texts of the caching job (the line end is part of each).
inline constexpr const char* kTraceWrittenFormat = "Writen %s, Index %d, SeqId %d\n";
inline constexpr const char* kTraceRetryFormat = "Retry %s\n";
inline constexpr const char* kTraceBadFormat = "Bad %s\n";
inline constexpr const char* kTraceFailedToReadFormat = "Failed to read %s\n";

// The entry whose thumbnail is being made in the current tick (the queue's head when it
// started), or null: the list shows the load's progress on its item.
CCacheEntry* EntryBeingMade();

// The file an entry stands for: the path it was last looked up with in this run, else its
// cache's root folder, folder path and name joined.
std::string EntryFilePath(const CCacheEntry& entry);

// A file's stamp: its modification time (seconds since 1970); 0 for paths ending in ".FPX"
// (any case), whose pictures carry their own change marks, and when the file's status cannot
// be had.
int32_t FileStamp(const std::string& file_path);

// The stamp a fetch compares: the file's stamp for entries of writable caches, 0 for entries
// of read-only caches.
int32_t EntryStamp(const CCacheEntry& entry, const std::string& file_path);

// An item's thumbnail: true with the cached thumbnail in `bitmap` for a Valid entry whose
// file has not changed. An Empty entry, or one whose file's stamp changed, is requested; a
// Valid entry whose record cannot be read is requested again unless its cache is read-only;
// a Pending one is left waiting. Those give false. Does nothing and returns false when no cache
// manager exists.
bool FetchThumbnail(CCacheEntry& entry, oDIB& bitmap);

// What one caching job did.
enum class CachingJobResult {
    kNoJob,       // the queue was empty (or there is no cache manager)
    kWritten,     // made and stored; the entry is Valid and out of the queue
    kNotWritten,  // made but not stored; the entry stays first (counted as a failure)
    kRetry,       // the load was interrupted; the entry stays first
    kFailed,      // the load failed; the entry stays first
    kGivenUp,     // the load failed for the sixth time; the entry left the queue
    kInProgress,  // the head's thumbnail is being made on the worker thread
};

// The caching half of the control's timer. The widget kills its timer, calls Tick, redraws
// the item of the entry it returns and sets the timer again to kCachingTickIntervalMs.
//
// By default a tick makes the head's thumbnail itself. With the worker thread on, the tick
// only starts the head's job on the worker and, at a later tick, applies its result exactly
// as it would have applied its own (written, failed, given up), then starts the next head at
// once; the control's thread spends almost no time per tick. Queue order, failure counts,
// traces and results are the same; a result made for a file that has since changed, or for an
// entry that is no longer first, is dropped and the head made again. The load observer then
// gets progress from the tick, and a pending click never interrupts a load, as it no longer
// holds up the control's thread.
class CBackgroundCaching {
public:
    // `model` (may be null) gets its population slice first; `control` becomes the
    // manager's current control while a thumbnail is made.
    CBackgroundCaching(CPreviewListModel* model, CScopaCtrl* control);
    ~CBackgroundCaching();
    CBackgroundCaching(const CBackgroundCaching&) = delete;
    CBackgroundCaching& operator=(const CBackgroundCaching&) = delete;

    // Makes thumbnails on a worker thread (off by default).
    void UseWorkerThread(bool use);

    // Receives the load's progress and is asked whether the load is to stop (a pending left
    // click). Not owned; null for none.
    void SetLoadObserver(PictureLoadObserver* observer) { m_observer = observer; }
    // Replaces the default maker, MakeCacheThumbnail (tests); empty restores it. With the worker
    // thread on, the maker runs on that thread.
    void SetThumbnailMaker(ThumbnailMaker maker);

    // One tick: a population slice, then at most one caching job. Returns the entry whose
    // thumbnail was worked on (its item is to be redrawn), or null.
    CCacheEntry* Tick();
    // The caching job alone: makes the queue's head entry's thumbnail on this thread.
    CachingJobResult MakeQueueHeadThumbnail();
    // What the last tick's caching job did.
    CachingJobResult LastResult() const { return m_lastResult; }

    // The control is going away: the queue is cleared and the dynamic cache's index saved
    // (it is also saved with every thumbnail stored). Ticks after this do nothing.
    void ControlDestroyed();

private:
    // The tick's job with the worker thread on.
    CachingJobResult WorkOnHead(CCacheEntry& head);
    void StartWorkerJob(const std::string& path);
    void EndWorkerJobProgress();

    CPreviewListModel* m_model;
    CScopaCtrl* m_control;
    PictureLoadObserver* m_observer = nullptr;
    ThumbnailMaker m_maker;
    CachingJobResult m_lastResult = CachingJobResult::kNoJob;
    bool m_destroyed = false;
    bool m_useWorker = false;
    std::unique_ptr<CThumbnailWorker> m_worker;  // made on the first tick that needs it
    int m_shownPercent = -1;                     // the worker job's progress last passed on
    bool m_progressShown = false;                // OnLoadStart was sent for the worker job
};

}  // namespace scopa
