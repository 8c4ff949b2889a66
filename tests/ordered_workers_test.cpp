// Work on worker threads with results handed back in submission order: the order holds
// whatever the finishing order, the look-ahead window is never exceeded, jobs really run at
// once on several workers, errors reach the taker, and without workers it is a plain loop.
#include "platform/ordered_workers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace scopa::test {
namespace {

using namespace std::chrono_literals;

// Yields 0 .. count-1.
struct Counter {
    int count;
    int next = 0;
    std::optional<int> operator()() {
        return next < count ? std::optional<int>(next++) : std::nullopt;
    }
};

TEST(OrderedWorkersTest, ResultsComeInSubmissionOrderWhateverTheFinishingOrder) {
    for (int workers : {0, 1, 2, 5}) {
        std::vector<int> consumed;
        // Early jobs take longest, so later ones finish first on several workers.
        RunInOrder<int, int>(
            workers, 8, Counter{40},
            [](const int& job) {
                std::this_thread::sleep_for(std::chrono::microseconds((40 - job) * 50));
                return job * job;
            },
            [&](const int& job, const int& result) {
                EXPECT_EQ(result, job * job);
                consumed.push_back(job);
            });
        std::vector<int> expected(40);
        for (int i = 0; i < 40; ++i)
            expected[size_t(i)] = i;
        EXPECT_EQ(consumed, expected) << workers << " workers";
    }
}

TEST(OrderedWorkersTest, NoMoreThanTheWindowIsEverAhead) {
    std::atomic<int> started{0};
    int consumed = 0;
    int most_ahead = 0;
    RunInOrder<int, int>(
        3, 4,
        [&, counter = Counter{30}]() mutable {
            // Jobs yielded but not consumed, counting the one about to be yielded.
            std::optional<int> job = counter();
            if (job) most_ahead = std::max(most_ahead, *job + 1 - consumed);
            return job;
        },
        [&](const int& job) {
            ++started;
            return job;
        },
        [&](const int&, const int&) { ++consumed; });
    EXPECT_EQ(consumed, 30);
    EXPECT_EQ(started.load(), 30);
    EXPECT_EQ(most_ahead, 4);
}

TEST(OrderedWorkersTest, TwoWorkersRunTwoJobsAtOnce) {
    // Each job waits until the other has started: only two concurrent workers let both
    // finish before the deadline.
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
    std::vector<bool> met;
    RunInOrder<int, bool>(
        2, 2, Counter{2},
        [&](const int&) {
            std::unique_lock lock(mutex);
            ++running;
            changed.notify_all();
            return changed.wait_for(lock, 10s, [&] { return running == 2; });
        },
        [&](const int&, const bool& both) { met.push_back(both); });
    EXPECT_EQ(met, (std::vector<bool>{true, true}));
}

TEST(OrderedWorkersTest, AnErrorOfAJobIsThrownWhenItIsTaken) {
    for (int workers : {0, 2}) {
        std::vector<int> consumed;
        auto run = [&] {
            RunInOrder<int, int>(
                workers, 4, Counter{10},
                [](const int& job) {
                    if (job == 3) throw std::runtime_error("bad job");
                    return job;
                },
                [&](const int& job, const int&) { consumed.push_back(job); });
        };
        EXPECT_THROW(run(), std::runtime_error);
        // Everything before the failing job was consumed, nothing after it.
        EXPECT_EQ(consumed, (std::vector<int>{0, 1, 2})) << workers << " workers";
    }
}

TEST(OrderedWorkersTest, WithoutWorkersEachJobRunsOnTheCallerJustBeforeItIsConsumed) {
    std::vector<std::string> events;
    const std::thread::id caller = std::this_thread::get_id();
    RunInOrder<int, int>(
        0, 16, Counter{3},
        [&](const int& job) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            events.push_back("work " + std::to_string(job));
            return job;
        },
        [&](const int& job, const int&) { events.push_back("consume " + std::to_string(job)); });
    EXPECT_EQ(events, (std::vector<std::string>{"work 0", "consume 0", "work 1", "consume 1",
                                                "work 2", "consume 2"}));
}

TEST(OrderedWorkersTest, StoppingWithJobsLeftJoinsCleanly) {
    std::atomic<int> finished{0};
    {
        OrderedWorkers<int, int> workers(2, 64, [&](const int& job) {
            std::this_thread::sleep_for(1ms);
            ++finished;
            return job;
        });
        for (int i = 0; i < 50; ++i)
            workers.Submit(i);
        EXPECT_EQ(workers.TakeOldest().second, 0);
    }
    // Jobs not started when the pool stopped were dropped.
    EXPECT_GE(finished.load(), 1);
    EXPECT_LE(finished.load(), 50);
}

TEST(OrderedWorkersTest, OnePerCoreMeansAtLeastOneAndAtMostTheCap) {
    EXPECT_GE(ResolveWorkerCount(kOneWorkerPerCore), 1);
    EXPECT_LE(ResolveWorkerCount(kOneWorkerPerCore), kMaxWorkersPerCoreCount);
    EXPECT_EQ(ResolveWorkerCount(0), 0);
    EXPECT_EQ(ResolveWorkerCount(3), 3);
}

}  // namespace
}  // namespace scopa::test
