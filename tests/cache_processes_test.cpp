// Caches shared by processes and runs that end abruptly: two and three "scopa thumbs" filling
// one dynamic cache at once, and "scopa thumbs" and "scopa static-cache" killed (SIGKILL) in
// the middle. Afterwards every entry an index holds must give its own file's pixels, and an
// old static cache must still work.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_files.h"
#include "cache/cache_manager.h"
#include "imaging/thumbnail.h"
#include "platform/registry.h"
#include "support/cache_sandbox.h"
#include "support/picture_files.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class CacheProcessesTest : public ::testing::Test {
protected:
    // `count` pictures in a folder, each different from the others.
    fs::path MakeFolder(const std::string& name, int count, uint32_t first_seed) {
        fs::path folder = m_environment.root() / name;
        for (int i = 0; i < count; ++i) {
            std::array<char, 16> file{};
            std::snprintf(file.data(), file.size(), "p%03d.png", i);
            EXPECT_TRUE(WriteTestPicture(folder / file.data(), 12 + i % 20, 10 + i % 13,
                                         first_seed + uint32_t(i)));
        }
        return folder;
    }

    fs::path DynamicIndexPath() { return CPreviewCacheManager::Get().DynamicCache()->IndexPath(); }

    // Every entry of the dynamic index reads back with its own file's thumbnail; returns how
    // many entries there were.
    int64_t ExpectEveryEntryRight() {
        CPreviewCache* dynamic = CPreviewCacheManager::Get().DynamicCache();
        CacheIndexContents index = LoadCacheIndex(dynamic->IndexPath());
        EXPECT_TRUE(index.problem.empty()) << index.problem;
        std::set<int32_t> slots;
        for (const CacheFolderRecord& folder : index.folders) {
            for (const CacheEntryRecord& entry : folder.entries) {
                std::string path = folder.folder_path + "/" + entry.name;
                SCOPED_TRACE(path);
                EXPECT_TRUE(slots.insert(entry.index).second) << "slot held twice";
                CacheThumbnail stored;
                int32_t seq_id = entry.seq_id;
                EXPECT_TRUE(
                    ReadCacheRecord(dynamic->DataPath(), false, entry.index, seq_id, stored));
                std::vector<uint8_t> expected(kThumbnailBlockBytes);
                vSIZE covered{};
                EXPECT_EQ(RenderCachePreview(nullptr, path, expected.data(), covered), 0);
                EXPECT_EQ(stored.width, covered.cx);
                EXPECT_EQ(stored.height, covered.cy);
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), stored.pixels.begin()));
            }
        }
        return index.entry_total;
    }

    // Kills a started tool once `ready` holds (or it ended by itself); false when it ended
    // before that.
    template <typename Ready>
    static bool KillWhen(int process_id, Ready ready) {
        for (auto waited = 0ms; waited < 20s; waited += 5ms) {
            if (ready()) {
                ::kill(process_id, SIGKILL);
                return WaitTool(process_id) == -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        ::kill(process_id, SIGKILL);
        WaitTool(process_id);
        return false;
    }

    CacheSandbox m_environment;
};

TEST_F(CacheProcessesTest, ThreeProcessesFillingOneDynamicCacheKeepEveryEntryRight) {
    // Two folders that together hold more than the cache, one of them filled twice at once.
    fs::path a = MakeFolder("a", 130, 0);
    fs::path b = MakeFolder("b", 130, 1000);
    std::vector<int> processes;
    for (const fs::path& folder : {a, b, a}) {
        std::string sheet =
            (m_environment.root() / ("sheet" + std::to_string(processes.size()))).string() + ".png";
        processes.push_back(StartTool({"thumbs", folder.string(), "-o", sheet}));
    }
    for (int process : processes)
        EXPECT_EQ(WaitTool(process), 0);
    int64_t entries = ExpectEveryEntryRight();
    EXPECT_GE(entries, 200);
    EXPECT_LE(entries, kDynamicCacheCapacity);
}

TEST_F(CacheProcessesTest, KillingAFillOfTheDynamicCacheLeavesOnlyRightEntries) {
    fs::path a = MakeFolder("a", 80, 0);
    fs::path index = DynamicIndexPath();
    int fill = StartTool({"thumbs", a.string(), "-o", (m_environment.root() / "s.png").string()});
    // The index is saved with every thumbnail: kill once it holds some.
    ASSERT_TRUE(KillWhen(fill, [&] { return LoadCacheIndex(index).entry_total >= 20; }));
    int64_t kept = ExpectEveryEntryRight();
    EXPECT_GE(kept, 20);
    // The next run takes over what was stored and finishes the rest.
    ToolResult next =
        RunTool({"thumbs", a.string(), "-o", (m_environment.root() / "s.png").string()});
    ASSERT_EQ(next.exit_status, 0) << next.err;
    EXPECT_NE(next.out.find(std::to_string(kept) + " from the caches"), std::string::npos)
        << next.out;
    EXPECT_EQ(ExpectEveryEntryRight(), 80);
}

TEST_F(CacheProcessesTest, KillingTheMakingOfAStaticCacheKeepsTheOldOne) {
    fs::path old_tree = MakeFolder("old", 3, 50);
    std::string cache = (m_environment.root() / "Disc").string();
    ASSERT_EQ(RunTool({"static-cache", cache, old_tree.string()}).exit_status, 0);
    std::string old_index = ReadFileBytes(cache + ".pvi");
    std::string old_data = ReadFileBytes(cache + ".pvd");

    fs::path new_tree = MakeFolder("new", 120, 500);
    int making = StartTool({"static-cache", "--workers", "0", cache, new_tree.string()});
    ASSERT_TRUE(KillWhen(making, [&] {
        std::error_code error;
        return fs::file_size(cache + ".building.pvd", error) > 20000 && !error;
    }));
    EXPECT_EQ(ReadFileBytes(cache + ".pvi"), old_index);
    EXPECT_EQ(ReadFileBytes(cache + ".pvd"), old_data);
    ToolResult verify = RunTool({"cache", "verify", cache + ".pvi"});
    EXPECT_EQ(verify.exit_status, 0) << verify.out;
    EXPECT_EQ(verify.out, "3 entries, 0 bad\n");
    // Still registered: a new run finds the old thumbnails through it.
    CCacheEntry* entry = CPreviewCacheManager::Get().FindEntry(old_tree.string(), "p001.png");
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->Cache()->IsReadOnly());

    // Made again to the end, the new cache replaces the old one.
    ASSERT_EQ(RunTool({"static-cache", cache, new_tree.string()}).exit_status, 0);
    EXPECT_EQ(RunTool({"cache", "verify", cache + ".pvi"}).out, "120 entries, 0 bad\n");
    EXPECT_FALSE(fs::exists(cache + ".building.pvd"));
}

}  // namespace
}  // namespace scopa::test
