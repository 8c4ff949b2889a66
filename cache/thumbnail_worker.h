// One thumbnail made at a time on a thread of its own, so the control's thread only starts a
// job and later takes its result. The worker knows nothing of cache entries: a job is a file
// path and the stamp the file had when the job started, and its result says for which file
// and stamp it was made, so the caller can tell a result that no longer fits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "imaging/geometry.h"

namespace scopa {

class PictureLoadObserver;

// Makes thumbnails: given a full path, fills the 16,384-byte buffer and the covered size;
// 0 made, 1 interrupted, 2 failed (RenderCachePreview's results).
using ThumbnailMaker = std::function<int(PictureLoadObserver* observer, const std::string& path,
                                         uint8_t* out, vSIZE& covered)>;

// A finished job.
struct MadeThumbnail {
    std::string path;
    int32_t stamp = 0;            // the file's stamp when the job started
    int result = 0;               // the maker's result
    std::vector<uint8_t> pixels;  // kThumbnailBlockBytes, valid for result 0
    vSIZE covered{};
};

class CThumbnailWorker {
public:
    // An empty maker means MakeCacheThumbnail.
    explicit CThumbnailWorker(ThumbnailMaker maker);
    // Interrupts a running job and waits for the thread.
    ~CThumbnailWorker();
    CThumbnailWorker(const CThumbnailWorker&) = delete;
    CThumbnailWorker& operator=(const CThumbnailWorker&) = delete;

    // Starts making the thumbnail of `path`. Only when Idle(); a finished result not yet
    // taken is dropped.
    void Start(const std::string& path, int32_t stamp);
    // True when no job is running (a finished result may be waiting).
    bool Idle() const;
    // The path of the running or finished job ("" when there is none).
    std::string JobPath() const;
    // Asks the running job to stop at its next progress check; it then finishes with result 1.
    void Interrupt();
    // The finished job's result, once; nothing while a job runs or when none finished.
    std::optional<MadeThumbnail> TakeFinished();
    // The running job's last reported progress in percent, or -1 before its first report.
    int Percent() const { return m_percent.load(); }

private:
    class JobObserver;
    void Run();

    ThumbnailMaker m_maker;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_running = false;
    std::optional<MadeThumbnail> m_job;       // the job given to the thread, or being made
    std::optional<MadeThumbnail> m_finished;  // made, not yet taken
    std::string m_jobPath;
    std::atomic<bool> m_interrupt{false};
    std::atomic<int> m_percent{-1};
    std::thread m_thread;
};

}  // namespace scopa
