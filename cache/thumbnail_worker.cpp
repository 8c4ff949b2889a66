#include "cache/thumbnail_worker.h"

#include <new>

#include "cache/cache_files.h"
#include "cache/shared_thumbnails.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"

namespace scopa {

// Seen by the maker on the worker thread: progress goes to an atomic the control's thread
// reads, and the only interruption is the worker's own.
class CThumbnailWorker::JobObserver : public PictureLoadObserver {
public:
    explicit JobObserver(CThumbnailWorker& worker) : m_worker(worker) {}
    void OnLoadStart() override { m_worker.m_percent = 0; }
    void OnLoadProgress(uint32_t percent) override { m_worker.m_percent = int(percent); }
    bool IsInterruptionPending() override { return m_worker.m_interrupt.load(); }

private:
    CThumbnailWorker& m_worker;
};

CThumbnailWorker::CThumbnailWorker(ThumbnailMaker maker) : m_maker(std::move(maker)) {
    if (!m_maker) m_maker = MakeCacheThumbnail;
    m_thread = std::thread([this] { Run(); });
}

CThumbnailWorker::~CThumbnailWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_interrupt = true;
    m_wake.notify_all();
    m_thread.join();
}

void CThumbnailWorker::Start(const std::string& path, int32_t stamp) {
    {
        std::lock_guard lock(m_mutex);
        if (m_running) return;
        m_finished.reset();
        m_job.emplace();
        m_job->path = path;
        m_job->stamp = stamp;
        m_jobPath = path;
        m_running = true;
        m_interrupt = false;
        m_percent = -1;
    }
    m_wake.notify_all();
}

bool CThumbnailWorker::Idle() const {
    std::lock_guard lock(m_mutex);
    return !m_running;
}

std::string CThumbnailWorker::JobPath() const {
    std::lock_guard lock(m_mutex);
    return m_jobPath;
}

void CThumbnailWorker::Interrupt() {
    m_interrupt = true;
}

std::optional<MadeThumbnail> CThumbnailWorker::TakeFinished() {
    std::lock_guard lock(m_mutex);
    std::optional<MadeThumbnail> finished = std::move(m_finished);
    m_finished.reset();
    if (finished) m_jobPath.clear();
    return finished;
}

void CThumbnailWorker::Run() {
    JobObserver observer(*this);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || m_job.has_value(); });
        if (m_stopping) return;
        MadeThumbnail job = std::move(*m_job);
        m_job.reset();
        lock.unlock();
        try {
            job.pixels.assign(kThumbnailBlockBytes, 0);
            job.result = m_maker(&observer, job.path, job.pixels.data(), job.covered);
        } catch (const std::bad_alloc&) {
            job.result = kLoadFailed;
        }
        lock.lock();
        m_finished = std::move(job);
        m_running = false;
    }
}

}  // namespace scopa
