// The caching tick and thumbnail fetch: newest request first, one thumbnail per tick, changed
// files requested again, failure counting and giving up, interrupted loads retried, write
// failures keeping the entry first, and the queue cleared when the control goes away.
#include "cache/background_caching.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cache/cache_manager.h"
#include "imaging/dib.h"
#include "imaging/picture.h"
#include "platform/registry.h"
#include "platform/trace.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

class BackgroundCachingTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegistryResetStore();
        CPreviewCacheManager::Destroy();
        CPreviewCacheManager::SetVolumeLabelSource([](std::string_view) { return std::string(); });
        m_previousSink =
            SetTraceSink([this](const std::string& line) { m_traces.push_back(line); });
        m_folder = m_environment.root() / "pictures";
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        SetTraceSink(m_previousSink);
        CPreviewCacheManager::Destroy();
        CPreviewCacheManager::SetVolumeLabelSource({});
        RegistryResetStore();
    }

    CCacheEntry* EntryOf(const std::string& name) {
        return CPreviewCacheManager::Get().FindOrCreateEntry(m_folder.string(), name, true);
    }

    int CountTraces(const std::string& text) const {
        int count = 0;
        for (const std::string& line : m_traces)
            count += line == text ? 1 : 0;
        return count;
    }

    SandboxedEnvironment m_environment;
    fs::path m_folder;
    std::vector<std::string> m_traces;
    TraceSink m_previousSink;
};

class InterruptingObserver : public PictureLoadObserver {
public:
    bool IsInterruptionPending() override { return m_interrupt; }
    bool m_interrupt = true;
};

TEST_F(BackgroundCachingTest, TenNewPicturesFillNewestRequestFirstOnePerTick) {
    std::vector<CCacheEntry*> entries;
    for (int i = 0; i < 10; ++i) {
        std::string name = "p" + std::to_string(i) + ".png";
        ASSERT_TRUE(WriteTestPicture(m_folder / name, 40 + i, 30, uint32_t(i)));
        CCacheEntry* entry = EntryOf(name);
        ASSERT_NE(entry, nullptr);
        oDIB bitmap;
        EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
        EXPECT_EQ(entry->m_state, EntryState::kPending);
        EXPECT_EQ(CountTraces("Create cache P" + std::to_string(i) + ".PNG\n"), 1);
        entries.push_back(entry);
    }
    // Drawing the items again while they wait queues nothing twice.
    oDIB unused;
    EXPECT_FALSE(FetchThumbnail(*entries[3], unused));
    EXPECT_EQ(CPreviewCacheManager::Get().Queue().Count(), 10u);

    CBackgroundCaching caching(nullptr, nullptr);
    for (int i = 9; i >= 0; --i) {
        m_traces.clear();
        CCacheEntry* made = caching.Tick();
        ASSERT_EQ(made, entries[size_t(i)]) << "tick for p" << i;
        EXPECT_EQ(caching.LastResult(), CachingJobResult::kWritten);
        EXPECT_EQ(made->m_state, EntryState::kValid);
        ASSERT_EQ(m_traces.size(), 1u);
        EXPECT_EQ(m_traces[0], "Writen P" + std::to_string(i) + ".PNG, Index " +
                                   std::to_string(made->m_index) + ", SeqId " +
                                   std::to_string(made->m_seqId) + "\n");
        for (int j = 0; j < i; ++j)
            EXPECT_EQ(entries[size_t(j)]->m_state, EntryState::kPending);
    }
    EXPECT_EQ(caching.Tick(), nullptr);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kNoJob);

    for (int i = 0; i < 10; ++i) {
        oDIB bitmap;
        ASSERT_TRUE(FetchThumbnail(*entries[size_t(i)], bitmap));
        // Wider than high: fitted to the full width.
        EXPECT_EQ(bitmap.Width(), 128);
        EXPECT_NEAR(bitmap.Height(), 30 * 128 / (40 + i), 1);
        EXPECT_EQ(bitmap.BitCount(), 8);
    }
}

TEST_F(BackgroundCachingTest, TheTickNeverMakesTheManager) {
    CBackgroundCaching caching(nullptr, nullptr);
    EXPECT_EQ(caching.Tick(), nullptr);
    EXPECT_EQ(CPreviewCacheManager::Existing(), nullptr);
}

TEST_F(BackgroundCachingTest, ChangedModificationTimeRequestsAgain) {
    fs::path path = m_folder / "a.png";
    ASSERT_TRUE(WriteTestPicture(path, 20, 20, 1));
    CCacheEntry* entry = EntryOf("a.png");
    oDIB bitmap;
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    CBackgroundCaching caching(nullptr, nullptr);
    ASSERT_EQ(caching.Tick(), entry);
    ASSERT_TRUE(FetchThumbnail(*entry, bitmap));

    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(10));
    m_traces.clear();
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    EXPECT_EQ(entry->m_state, EntryState::kPending);
    EXPECT_EQ(CPreviewCacheManager::Get().QueueHead(), entry);
    EXPECT_EQ(m_traces, std::vector<std::string>{"Create cache A.PNG\n"});
    ASSERT_EQ(caching.Tick(), entry);
    EXPECT_TRUE(FetchThumbnail(*entry, bitmap));
}

TEST_F(BackgroundCachingTest, FpxPicturesAreNotComparedByTime) {
    // The content decides what a picture is; the name only decides the stamp.
    fs::path path = m_folder / "photo.FpX";
    ASSERT_TRUE(WriteTestPicture(path, 20, 20, 2));
    CCacheEntry* entry = EntryOf("photo.FpX");
    oDIB bitmap;
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    EXPECT_EQ(entry->m_stamp, 0);
    CBackgroundCaching caching(nullptr, nullptr);
    ASSERT_EQ(caching.Tick(), entry);
    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(10));
    EXPECT_TRUE(FetchThumbnail(*entry, bitmap));
}

TEST_F(BackgroundCachingTest, SixFailuresGiveOneBadTraceAndLeaveTheQueue) {
    WriteFileBytes(m_folder / "bad.png", "this is no picture at all");
    CCacheEntry* entry = EntryOf("bad.png");
    oDIB bitmap;
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    CBackgroundCaching caching(nullptr, nullptr);
    for (int attempt = 1; attempt <= 5; ++attempt) {
        ASSERT_EQ(caching.Tick(), entry);
        EXPECT_EQ(caching.LastResult(), CachingJobResult::kFailed);
        EXPECT_EQ(entry->m_failures, attempt);
        EXPECT_EQ(CPreviewCacheManager::Get().QueueHead(), entry);
    }
    ASSERT_EQ(caching.Tick(), entry);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kGivenUp);
    EXPECT_EQ(CountTraces("Bad BAD.PNG\n"), 1);
    EXPECT_TRUE(CPreviewCacheManager::Get().Queue().IsEmpty());
    EXPECT_EQ(entry->m_state, EntryState::kPending);
    // Given up for this run: drawing it again queues nothing.
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    EXPECT_TRUE(CPreviewCacheManager::Get().Queue().IsEmpty());
    EXPECT_EQ(caching.Tick(), nullptr);
    EXPECT_EQ(CountTraces("Bad BAD.PNG\n"), 1);
}

TEST_F(BackgroundCachingTest, AnInterruptedLoadIsRetriedAtTheNextTick) {
    ASSERT_TRUE(WriteTestPicture(m_folder / "big.png", 300, 200, 3));
    ASSERT_TRUE(WriteTestPicture(m_folder / "old.png", 30, 20, 4));
    CCacheEntry* old_entry = EntryOf("old.png");
    CCacheEntry* entry = EntryOf("big.png");
    oDIB bitmap;
    FetchThumbnail(*old_entry, bitmap);
    FetchThumbnail(*entry, bitmap);
    InterruptingObserver observer;
    CBackgroundCaching caching(nullptr, nullptr);
    caching.SetLoadObserver(&observer);
    for (int tick = 0; tick < 8; ++tick) {
        ASSERT_EQ(caching.Tick(), entry);
        EXPECT_EQ(caching.LastResult(), CachingJobResult::kRetry);
    }
    EXPECT_EQ(CountTraces("Retry BIG.PNG\n"), 8);
    EXPECT_EQ(entry->m_failures, 0);
    observer.m_interrupt = false;
    ASSERT_EQ(caching.Tick(), entry);
    EXPECT_EQ(caching.LastResult(), CachingJobResult::kWritten);
    EXPECT_EQ(caching.Tick(), old_entry);
}

TEST_F(BackgroundCachingTest, PromoteMovesAWaitingEntryFirst) {
    ASSERT_TRUE(WriteTestPicture(m_folder / "a.png", 10, 10, 5));
    ASSERT_TRUE(WriteTestPicture(m_folder / "b.png", 10, 10, 6));
    CCacheEntry* a = EntryOf("a.png");
    CCacheEntry* b = EntryOf("b.png");
    oDIB bitmap;
    FetchThumbnail(*a, bitmap);
    FetchThumbnail(*b, bitmap);
    CPreviewCacheManager::Get().Promote(*a);
    CBackgroundCaching caching(nullptr, nullptr);
    EXPECT_EQ(caching.Tick(), a);
    EXPECT_EQ(caching.Tick(), b);
}

TEST_F(BackgroundCachingTest, AFailedWriteKeepsTheEntryFirst) {
    ASSERT_TRUE(WriteTestPicture(m_folder / "a.png", 10, 10, 7));
    CCacheEntry* entry = EntryOf("a.png");
    oDIB bitmap;
    FetchThumbnail(*entry, bitmap);
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
}

TEST_F(BackgroundCachingTest, AnUnreadableRecordIsMadeAgain) {
    ASSERT_TRUE(WriteTestPicture(m_folder / "a.png", 10, 10, 8));
    CCacheEntry* entry = EntryOf("a.png");
    oDIB bitmap;
    FetchThumbnail(*entry, bitmap);
    CBackgroundCaching caching(nullptr, nullptr);
    ASSERT_EQ(caching.Tick(), entry);
    ++entry->m_seqId;  // the record on disk now belongs to another entry
    m_traces.clear();
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    ASSERT_EQ(m_traces.size(), 2u);
    EXPECT_EQ(m_traces[0], "Failed to read A.PNG\n");
    EXPECT_EQ(m_traces[1], "Create cache A.PNG\n");
    EXPECT_EQ(CPreviewCacheManager::Get().QueueHead(), entry);
}

TEST_F(BackgroundCachingTest, ClearingTheQueueSetsEntriesEmptyAndDestructionSavesTheIndex) {
    std::vector<CCacheEntry*> entries;
    for (int i = 0; i < 3; ++i) {
        std::string name = "c" + std::to_string(i) + ".png";
        ASSERT_TRUE(WriteTestPicture(m_folder / name, 16, 16, uint32_t(i)));
        entries.push_back(EntryOf(name));
        oDIB bitmap;
        FetchThumbnail(*entries.back(), bitmap);
    }
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

    fs::path index_path = CPreviewCacheManager::Get().DynamicCache()->IndexPath();
    EXPECT_FALSE(fs::exists(index_path));
    caching.ControlDestroyed();
    EXPECT_TRUE(CPreviewCacheManager::Get().Queue().IsEmpty());
    EXPECT_EQ(entries[0]->m_state, EntryState::kEmpty);
    EXPECT_EQ(caching.Tick(), nullptr);
    // Only the Valid entry is saved.
    CacheIndexContents saved = LoadCacheIndex(index_path);
    ASSERT_TRUE(saved.header_read);
    EXPECT_EQ(saved.entry_total, 1);
}

}  // namespace
}  // namespace scopa::test
