// The caching tick and thumbnail fetch: newest request first, one thumbnail per tick, changed
// files requested again, failure counting and giving up, interrupted loads retried, write
// failures keeping the entry first, and the queue cleared when the control goes away; then the
// same rules with thumbnails made on the worker thread, a head that changes while its
// predecessor is being made, a file that changes under the worker, and progress passed on.
#include "cache/background_caching.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_manager.h"
#include "imaging/dib.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "platform/registry.h"
#include "platform/trace.h"
#include "support/cache_sandbox.h"
#include "support/picture_files.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

class BackgroundCachingTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previousSink =
            SetTraceSink([this](const std::string& line) { m_traces.push_back(line); });
        m_folder = m_environment.root() / "pictures";
        fs::create_directories(m_folder);
    }
    void TearDown() override { SetTraceSink(m_previousSink); }

    CCacheEntry* EntryOf(const std::string& name) {
        return CPreviewCacheManager::Get().FindOrCreateEntry(m_folder.string(), name, true);
    }

    // Writes a picture into the folder and requests its thumbnail, as drawing its item would.
    CCacheEntry* RequestNewPicture(const std::string& name, int32_t width_px, int32_t height_px,
                                   uint32_t seed) {
        EXPECT_TRUE(WriteTestPicture(m_folder / name, width_px, height_px, seed));
        CCacheEntry* entry = EntryOf(name);
        oDIB bitmap;
        EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
        return entry;
    }

    int CountTraces(const std::string& text) const {
        int count = 0;
        for (const std::string& line : m_traces)
            count += line == text ? 1 : 0;
        return count;
    }

    CacheSandbox m_environment;
    fs::path m_folder;
    std::vector<std::string> m_traces;
    TraceSink m_previousSink;
};

class InterruptingObserver : public PictureLoadObserver {
public:
    bool IsInterruptionPending() override { return m_interrupt; }
    bool m_interrupt = true;
};

using namespace std::chrono_literals;

// Ticks (1 ms apart, as a fast timer would) until `done` holds; false after ten seconds.
bool TickUntil(CBackgroundCaching& caching, const std::function<bool()>& done,
               std::vector<CachingJobResult>* results = nullptr) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        caching.Tick();
        if (results != nullptr && caching.LastResult() != CachingJobResult::kInProgress) {
            results->push_back(caching.LastResult());
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

bool QueueIsEmpty() {
    return CPreviewCacheManager::Get().Queue().IsEmpty();
}

// Waits on the worker thread until the tick interrupts the load, then says "interrupted".
int WaitForInterruption(PictureLoadObserver* observer) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!observer->IsInterruptionPending()) {
        if (std::chrono::steady_clock::now() > deadline) return kLoadFailed;
        std::this_thread::sleep_for(1ms);
    }
    return kLoadInterrupted;
}

// The rules that hold whether thumbnails are made in the tick or on the worker thread.
class BackgroundCachingModeTest : public BackgroundCachingTest,
                                  public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(InTheTickAndOnTheWorker, BackgroundCachingModeTest, ::testing::Bool(),
                         [](const auto& mode) { return mode.param ? "Worker" : "Tick"; });

TEST_P(BackgroundCachingModeTest, TenNewPicturesFillNewestRequestFirstOnePerTick) {
    std::vector<CCacheEntry*> entries;
    for (int i = 0; i < 10; ++i) {
        std::string name = "p" + std::to_string(i) + ".png";
        entries.push_back(RequestNewPicture(name, 40 + 7 * i, 30, uint32_t(i)));
        EXPECT_EQ(entries.back()->m_state, EntryState::kPending);
        EXPECT_EQ(CountTraces("Create cache " + name + "\n"), 1);
    }
    // Drawing the items again while they wait queues nothing twice.
    oDIB unused;
    EXPECT_FALSE(FetchThumbnail(*entries[3], unused));
    EXPECT_EQ(CPreviewCacheManager::Get().Queue().Count(), 10u);

    m_traces.clear();
    CBackgroundCaching caching(nullptr, nullptr);
    caching.UseWorkerThread(GetParam());
    std::vector<CachingJobResult> results;  // in the tick: one per tick
    ASSERT_TRUE(TickUntil(caching, QueueIsEmpty, &results));
    EXPECT_EQ(results, std::vector<CachingJobResult>(10, CachingJobResult::kWritten));
    ASSERT_EQ(m_traces.size(), 10u);
    for (int i = 9; i >= 0; --i) {
        SCOPED_TRACE("p" + std::to_string(i));
        CCacheEntry* entry = entries[size_t(i)];
        EXPECT_EQ(m_traces[size_t(9 - i)], "Writen p" + std::to_string(i) + ".png, Index " +
                                               std::to_string(entry->m_index) + ", SeqId " +
                                               std::to_string(entry->m_seqId) + "\n");
        // The stored thumbnail is the one this thread would have made, fitted to the width.
        std::vector<uint8_t> pixels(kThumbnailBytes);
        vSIZE covered{};
        ASSERT_EQ(RenderCachePreview(nullptr, EntryFilePath(*entry), pixels.data(), covered),
                  kLoadRead);
        oDIB fetched;
        ASSERT_TRUE(FetchThumbnail(*entry, fetched));
        oDIB expected = ThumbnailToDib(pixels.data(), covered);
        ASSERT_EQ(fetched.Size(), expected.Size());
        EXPECT_EQ(fetched.Width(), 128);
        EXPECT_NEAR(fetched.Height(), 30 * 128 / (40 + 7 * i), 1);
        EXPECT_EQ(fetched.BitCount(), 8);
        EXPECT_TRUE(
            std::equal(fetched.Bits().begin(), fetched.Bits().end(), expected.Bits().begin()));
    }
    EXPECT_EQ(caching.Tick(), nullptr);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kNoJob);
}

TEST_P(BackgroundCachingModeTest, SixFailuresGiveOneBadTraceAndLeaveTheQueue) {
    WriteFileBytes(m_folder / "bad.png", "this is no picture at all");
    CCacheEntry* entry = EntryOf("bad.png");
    oDIB bitmap;
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    CBackgroundCaching caching(nullptr, nullptr);
    caching.UseWorkerThread(GetParam());
    std::vector<CachingJobResult> results;
    ASSERT_TRUE(TickUntil(caching, QueueIsEmpty, &results));
    std::vector<CachingJobResult> expected(5, CachingJobResult::kFailed);
    expected.push_back(CachingJobResult::kGivenUp);
    EXPECT_EQ(results, expected);
    EXPECT_EQ(entry->m_failures, 6);
    EXPECT_EQ(CountTraces("Bad bad.png\n"), 1);
    EXPECT_EQ(entry->m_state, EntryState::kPending);
    // Given up for this run: drawing it again queues nothing.
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    EXPECT_TRUE(CPreviewCacheManager::Get().Queue().IsEmpty());
    EXPECT_EQ(caching.Tick(), nullptr);
    EXPECT_EQ(CountTraces("Bad bad.png\n"), 1);
}

TEST_F(BackgroundCachingTest, TheTickNeverMakesTheManager) {
    CBackgroundCaching caching(nullptr, nullptr);
    EXPECT_EQ(caching.Tick(), nullptr);
    EXPECT_EQ(CPreviewCacheManager::Existing(), nullptr);
}

TEST_F(BackgroundCachingTest, ChangedModificationTimeRequestsAgainExceptForFpxPictures) {
    // The content decides what a picture is; the name only decides the stamp (0 for FlashPix).
    for (std::string name : {"a.png", "photo.FpX"}) {
        SCOPED_TRACE(name);
        bool compared = name == "a.png";
        CCacheEntry* entry = RequestNewPicture(name, 20, 20, 1);
        EXPECT_EQ(entry->m_stamp != 0, compared);
        CBackgroundCaching caching(nullptr, nullptr);
        ASSERT_EQ(caching.Tick(), entry);
        oDIB bitmap;
        ASSERT_TRUE(FetchThumbnail(*entry, bitmap));
        fs::last_write_time(m_folder / name, fs::last_write_time(m_folder / name) + 10s);
        m_traces.clear();
        EXPECT_EQ(FetchThumbnail(*entry, bitmap), !compared);
        if (!compared) continue;
        EXPECT_EQ(entry->m_state, EntryState::kPending);
        EXPECT_EQ(CPreviewCacheManager::Get().QueueHead(), entry);
        EXPECT_EQ(m_traces, std::vector<std::string>{"Create cache a.png\n"});
        ASSERT_EQ(caching.Tick(), entry);
        EXPECT_TRUE(FetchThumbnail(*entry, bitmap));
    }
}

TEST_F(BackgroundCachingTest, AnInterruptedLoadIsRetriedAtTheNextTick) {
    CCacheEntry* old_entry = RequestNewPicture("old.png", 30, 20, 4);
    CCacheEntry* entry = RequestNewPicture("big.png", 300, 200, 3);
    InterruptingObserver observer;
    CBackgroundCaching caching(nullptr, nullptr);
    caching.SetLoadObserver(&observer);
    for (int tick = 0; tick < 8; ++tick) {
        ASSERT_EQ(caching.Tick(), entry);
        EXPECT_EQ(caching.LastResult(), CachingJobResult::kRetry);
    }
    EXPECT_EQ(CountTraces("Retry big.png\n"), 8);
    EXPECT_EQ(entry->m_failures, 0);
    observer.m_interrupt = false;
    ASSERT_EQ(caching.Tick(), entry);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kWritten);
    EXPECT_EQ(caching.Tick(), old_entry);
}

TEST_F(BackgroundCachingTest, AFailedWriteKeepsTheEntryFirstUntilItFailedSixTimes) {
    CCacheEntry* entry = RequestNewPicture("a.png", 10, 10, 7);
    // The data file is never re-created by a write: with it gone every write fails.
    fs::path data_path = CPreviewCacheManager::Get().DynamicCache()->DataPath();
    fs::path moved = data_path.string() + ".away";
    fs::rename(data_path, moved);
    CBackgroundCaching caching(nullptr, nullptr);
    ASSERT_EQ(caching.Tick(), entry);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kNotWritten);
    EXPECT_EQ(CPreviewCacheManager::Get().QueueHead(), entry);
    EXPECT_EQ(entry->m_state, EntryState::kPending);
    fs::rename(moved, data_path);
    ASSERT_EQ(caching.Tick(), entry);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kWritten);
    EXPECT_EQ(entry->m_failures, 1);

    // A write that keeps failing (a full disk) is given up like a picture that fails.
    CCacheEntry* other = RequestNewPicture("b.png", 10, 10, 8);
    fs::rename(data_path, moved);
    for (int tick = 0; tick < kMaxThumbnailFailures; ++tick) {
        ASSERT_EQ(caching.Tick(), other);
        EXPECT_EQ(caching.LastResult(), CachingJobResult::kNotWritten);
    }
    ASSERT_EQ(caching.Tick(), other);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kGivenUp);
    EXPECT_EQ(CountTraces("Bad b.png\n"), 1);
    EXPECT_EQ(caching.Tick(), nullptr);
    fs::rename(moved, data_path);
}

TEST_F(BackgroundCachingTest, AnUnreadableRecordIsMadeAgain) {
    CCacheEntry* entry = RequestNewPicture("a.png", 10, 10, 8);
    oDIB bitmap;
    CBackgroundCaching caching(nullptr, nullptr);
    ASSERT_EQ(caching.Tick(), entry);
    ++entry->m_seqId;  // the record on disk now belongs to another entry
    m_traces.clear();
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    ASSERT_EQ(m_traces.size(), 2u);
    EXPECT_EQ(m_traces[0], "Failed to read a.png\n");
    EXPECT_EQ(m_traces[1], "Create cache a.png\n");
    EXPECT_EQ(CPreviewCacheManager::Get().QueueHead(), entry);
}

TEST_F(BackgroundCachingTest, ClearingTheQueueSetsEntriesEmptyAndDestructionSavesTheIndex) {
    std::vector<CCacheEntry*> entries;
    for (int i = 0; i < 3; ++i)
        entries.push_back(RequestNewPicture("c" + std::to_string(i) + ".png", 16, 16, uint32_t(i)));
    CBackgroundCaching caching(nullptr, nullptr);
    ASSERT_EQ(caching.Tick(), entries[2]);
    CPreviewCacheManager::Get().ClearQueue();
    EXPECT_EQ(entries[0]->m_state, EntryState::kEmpty);
    EXPECT_EQ(entries[1]->m_state, EntryState::kEmpty);
    EXPECT_EQ(entries[2]->m_state, EntryState::kValid);
    EXPECT_EQ(caching.Tick(), nullptr);

    // Returning to the folder requests them again.
    oDIB bitmap;
    EXPECT_FALSE(FetchThumbnail(*entries[0], bitmap));
    EXPECT_EQ(CPreviewCacheManager::Get().QueueHead(), entries[0]);

    // The stored thumbnail was indexed at once.
    fs::path index_path = CPreviewCacheManager::Get().DynamicCache()->IndexPath();
    EXPECT_EQ(LoadCacheIndex(index_path).entry_total, 1);
    caching.ControlDestroyed();
    EXPECT_TRUE(CPreviewCacheManager::Get().Queue().IsEmpty());
    EXPECT_EQ(entries[0]->m_state, EntryState::kEmpty);
    EXPECT_EQ(caching.Tick(), nullptr);
    // Only the Valid entry is saved.
    CacheIndexContents saved = LoadCacheIndex(index_path);
    ASSERT_TRUE(saved.header_read);
    EXPECT_EQ(saved.entry_total, 1);
}

// ---- thumbnails made on the worker thread ----

TEST_F(BackgroundCachingTest, OnTheWorkerANewerRequestOvertakesTheOneBeingMade) {
    CCacheEntry* slow = RequestNewPicture("slow.png", 20, 20, 1);
    std::atomic<int> slow_calls{0};
    CBackgroundCaching caching(nullptr, nullptr);
    caching.UseWorkerThread(true);
    caching.SetThumbnailMaker(
        [&](PictureLoadObserver* observer, const std::string& path, uint8_t* out, vSIZE& covered) {
            // The first load of slow.png lasts until the worker is told to give way.
            if (path.ends_with("slow.png") && slow_calls++ == 0)
                return WaitForInterruption(observer);
            return RenderCachePreview(nullptr, path, out, covered);
        });
    EXPECT_EQ(caching.Tick(), slow);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kInProgress);
    ASSERT_TRUE(TickUntil(caching, [&] { return slow_calls.load() == 1; }));

    RequestNewPicture("new.png", 20, 20, 2);
    m_traces.clear();
    ASSERT_TRUE(TickUntil(caching, QueueIsEmpty));
    // The interrupted load was ours, not the user's: no retry is traced.
    ASSERT_EQ(m_traces.size(), 2u);
    EXPECT_TRUE(m_traces[0].starts_with("Writen new.png"));
    EXPECT_TRUE(m_traces[1].starts_with("Writen slow.png"));
    EXPECT_EQ(slow_calls.load(), 2);
    EXPECT_EQ(slow->m_failures, 0);
}

TEST_F(BackgroundCachingTest, OnTheWorkerAThumbnailOfAFileThatChangedMeanwhileIsMadeAgain) {
    fs::path path = m_folder / "edited.png";
    CCacheEntry* entry = RequestNewPicture("edited.png", 30, 20, 3);
    oDIB bitmap;
    std::atomic<int> calls{0};
    CBackgroundCaching caching(nullptr, nullptr);
    caching.UseWorkerThread(true);
    caching.SetThumbnailMaker(
        [&](PictureLoadObserver*, const std::string& file, uint8_t* out, vSIZE& covered) {
            int result = RenderCachePreview(nullptr, file, out, covered);
            // Saved again in another program while the first thumbnail was being made.
            if (calls++ == 0) {
                EXPECT_TRUE(WriteTestPicture(path, 20, 30, 4));
                fs::last_write_time(path, fs::last_write_time(path) + 10s);
            }
            return result;
        });
    std::vector<CachingJobResult> results;
    ASSERT_TRUE(TickUntil(caching, QueueIsEmpty, &results));
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(results, std::vector<CachingJobResult>{CachingJobResult::kWritten});
    // What was stored is the second version, higher than wide.
    ASSERT_TRUE(entry->Cache()->ReadThumbnail(*entry, bitmap));
    EXPECT_EQ(bitmap.Height(), 128);
    EXPECT_LT(bitmap.Width(), 128);
    // The entry still has the stamp of its request, so the next fetch asks again, as it
    // would after any change.
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    EXPECT_EQ(entry->m_state, EntryState::kPending);
}

class RecordingObserver : public PictureLoadObserver {
public:
    void OnLoadStart() override { m_events.push_back("start"); }
    void OnLoadProgress(uint32_t percent) override {
        m_events.push_back(std::to_string(percent) + "%");
    }
    void OnLoadEnd() override { m_events.push_back("end"); }
    bool IsInterruptionPending() override { return true; }  // a click is always pending
    std::vector<std::string> m_events;
};

TEST_F(BackgroundCachingTest, OnTheWorkerProgressIsPassedOnByTheTickAndClicksInterruptNothing) {
    CCacheEntry* entry = RequestNewPicture("a.png", 30, 20, 5);
    std::atomic<bool> release{false};
    RecordingObserver observer;
    CBackgroundCaching caching(nullptr, nullptr);
    caching.UseWorkerThread(true);
    caching.SetLoadObserver(&observer);
    caching.SetThumbnailMaker([&](PictureLoadObserver* worker_observer, const std::string& path,
                                  uint8_t* out, vSIZE& covered) {
        worker_observer->OnLoadStart();
        worker_observer->OnLoadProgress(40);
        while (!release)
            std::this_thread::sleep_for(1ms);
        return RenderCachePreview(nullptr, path, out, covered);
    });
    caching.Tick();
    ASSERT_TRUE(TickUntil(caching, [&] { return observer.m_events.size() == 2; }));
    EXPECT_EQ(observer.m_events, (std::vector<std::string>{"start", "40%"}));
    release = true;
    ASSERT_TRUE(TickUntil(caching, QueueIsEmpty));
    EXPECT_EQ(observer.m_events, (std::vector<std::string>{"start", "40%", "end"}));
    EXPECT_EQ(entry->m_state, EntryState::kValid);
    EXPECT_EQ(CountTraces("Retry a.png\n"), 0);
}

TEST_F(BackgroundCachingTest, OnTheWorkerAClearedQueueOrTheControlGoingAwayStopsTheLoad) {
    const std::pair<const char*, std::function<void(CBackgroundCaching&)>> stops[] = {
        {"queue cleared",
         [](CBackgroundCaching& caching) {
             CPreviewCacheManager::Get().ClearQueue();
             EXPECT_EQ(caching.Tick(), nullptr);
         }},
        {"control destroyed", [](CBackgroundCaching& caching) { caching.ControlDestroyed(); }},
    };
    for (const auto& [name, stop] : stops) {
        SCOPED_TRACE(name);
        CCacheEntry* entry = RequestNewPicture("a.png", 30, 20, 7);
        std::atomic<int> result{-1};
        CBackgroundCaching caching(nullptr, nullptr);
        caching.UseWorkerThread(true);
        caching.SetThumbnailMaker(
            [&](PictureLoadObserver* observer, const std::string&, uint8_t*, vSIZE&) {
                result = -2;  // started
                result = WaitForInterruption(observer);
                return result.load();
            });
        caching.Tick();
        ASSERT_TRUE(TickUntil(caching, [&] { return result.load() != -1; }));
        stop(caching);
        ASSERT_TRUE(TickUntil(caching, [&] { return result.load() != -2; }));
        EXPECT_EQ(result.load(), kLoadInterrupted);
        EXPECT_TRUE(QueueIsEmpty());
        EXPECT_EQ(entry->m_state, EntryState::kEmpty);
        EXPECT_EQ(caching.Tick(), nullptr);
        EXPECT_EQ(CountTraces("Retry a.png\n"), 0);
    }
}

}  // namespace
}  // namespace scopa::test
