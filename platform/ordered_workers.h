// Work done on worker threads whose results come back on the submitting thread in the order
// the jobs were submitted, so a caller can parallelise the costly part of a loop (decoding
// pictures) while keeping everything it reports and writes in its sequential order.
//
// At most `window` jobs are in the pool at once (submitted and not yet taken), which bounds
// both the memory of finished results and how far the workers run ahead. With no workers the
// jobs run on the submitting thread when taken, exactly as a plain loop would.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace scopa {

// Worker count meaning "one per processor core".
inline constexpr int kOneWorkerPerCore = -1;
// "One per core" stops here: every worker may hold a large decoded picture, so a machine with
// very many cores would otherwise trade all its memory for little more speed.
inline constexpr int kMaxWorkersPerCoreCount = 16;

// The worker count asked for, with kOneWorkerPerCore (or any negative count) resolved to the
// machine's core count (at least one, at most kMaxWorkersPerCoreCount).
inline int ResolveWorkerCount(int requested) {
    if (requested >= 0) return requested;
    return std::clamp(int(std::thread::hardware_concurrency()), 1, kMaxWorkersPerCoreCount);
}

template <typename Job, typename Result>
class OrderedWorkers {
public:
    using Work = std::function<Result(const Job&)>;

    // Without workers nothing runs ahead, so the window is one job whatever is asked.
    OrderedWorkers(int worker_count, size_t window, Work work)
        : m_window(worker_count > 0 ? std::max<size_t>(window, 1) : 1), m_work(std::move(work)) {
        for (int i = 0; i < worker_count; ++i) {
            try {
                m_threads.emplace_back([this] { WorkerLoop(); });
            } catch (const std::system_error&) {
                // Out of threads: the ones made do the work (none: the taker does it).
                break;
            }
        }
    }

    ~OrderedWorkers() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            // Jobs not yet started are dropped; started ones finish.
            m_waiting.clear();
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }

    OrderedWorkers(const OrderedWorkers&) = delete;
    OrderedWorkers& operator=(const OrderedWorkers&) = delete;

    // Jobs submitted and not yet taken.
    size_t Pending() const {
        std::lock_guard lock(m_mutex);
        return m_slots.size();
    }
    bool HasRoom() const { return Pending() < m_window; }

    // Adds a job; when the window is full, the caller takes the oldest first.
    void Submit(Job job) {
        auto slot = std::make_shared<Slot>();
        slot->job = std::move(job);
        {
            std::lock_guard lock(m_mutex);
            m_slots.push_back(slot);
            if (!m_threads.empty()) m_waiting.push_back(slot);
        }
        m_wake.notify_one();
    }

    // Waits for the oldest job and hands it back with its result; an exception its work threw
    // is thrown here. Only called while Pending() > 0.
    std::pair<Job, Result> TakeOldest() {
        std::shared_ptr<Slot> slot;
        {
            std::unique_lock lock(m_mutex);
            slot = m_slots.front();
            m_slots.pop_front();
            if (!m_threads.empty()) m_done.wait(lock, [&] { return slot->finished; });
        }
        if (m_threads.empty()) Run(*slot);
        if (slot->error) std::rethrow_exception(slot->error);
        return {std::move(slot->job), std::move(*slot->result)};
    }

private:
    struct Slot {
        Job job;
        std::optional<Result> result;
        std::exception_ptr error;
        bool finished = false;
    };

    void Run(Slot& slot) {
        try {
            slot.result.emplace(m_work(slot.job));
        } catch (...) {
            slot.error = std::current_exception();
        }
    }

    void WorkerLoop() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stopping || !m_waiting.empty(); });
            if (m_stopping) return;
            std::shared_ptr<Slot> slot = m_waiting.front();
            m_waiting.pop_front();
            lock.unlock();
            Run(*slot);
            lock.lock();
            slot->finished = true;
            m_done.notify_all();
        }
    }

    const size_t m_window;
    const Work m_work;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;               // a job is waiting, or the pool stops
    std::condition_variable m_done;               // a job finished
    std::deque<std::shared_ptr<Slot>> m_slots;    // submitted, not taken, oldest first
    std::deque<std::shared_ptr<Slot>> m_waiting;  // submitted, not started, oldest first
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// Runs `work` over the jobs `next` yields (until it yields nothing) on `worker_count` threads,
// handing each job and its result to `consume` on the calling thread in the order `next`
// yielded them, with at most `window` jobs ahead of the one being consumed.
template <typename Job, typename Result, typename Next, typename Consume>
void RunInOrder(int worker_count, size_t window, Next&& next,
                std::function<Result(const Job&)> work, Consume&& consume) {
    OrderedWorkers<Job, Result> workers(worker_count, window, std::move(work));
    bool more = true;
    for (;;) {
        while (more && workers.HasRoom()) {
            std::optional<Job> job = next();
            if (!job) {
                more = false;
                break;
            }
            workers.Submit(std::move(*job));
        }
        if (workers.Pending() == 0) return;
        auto [job, result] = workers.TakeOldest();
        consume(job, result);
    }
}

}  // namespace scopa
