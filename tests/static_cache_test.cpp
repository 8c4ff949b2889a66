// Static caches: the feedback of a creation, the compressed cache it leaves, its registration
// (an equal index path in any letter case replaced, names from the process's counter), a
// re-created cache holding only its own run, a cache whose disk is gone, and the same result
// whatever the number of decoding workers. Reading one back under another root is in
// cache_manager_test.cpp.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cache/background_caching.h"
#include "cache/cache_files.h"
#include "cache/cache_manager.h"
#include "cache/static_cache_creation.h"
#include "imaging/dib.h"
#include "platform/registry.h"
#include "platform/trace.h"
#include "support/cache_sandbox.h"
#include "support/picture_files.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

class StaticCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = m_environment.root() / "disc";
        ASSERT_TRUE(WriteTestPicture(m_root / "a.png", 60, 40, 1));
        ASSERT_TRUE(WriteTestPicture(m_root / "sub" / "b.png", 40, 60, 2));
        WriteFileBytes(m_root / "notes.txt", "not a picture\n");
        m_cachePath = (m_environment.root() / "out" / "Disc").string();
        fs::create_directories(m_environment.root() / "out");
    }

    bool Create(const fs::path& root, int worker_count = kOneWorkerPerCore) {
        m_feedback.clear();
        return CreateStaticCache(
            m_cachePath, root.string(),
            [this](const std::string& text) { m_feedback.push_back(text); }, worker_count);
    }

    // Registered subkeys: name -> index path.
    static std::vector<std::pair<std::string, std::string>> Registrations() {
        std::vector<std::pair<std::string, std::string>> found;
        HKEY key = nullptr;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kPreviewCachesKey, &key) != ERROR_SUCCESS) return found;
        for (DWORD index = 0;; ++index) {
            char name[260] = {};
            DWORD name_size = sizeof(name);
            if (RegEnumKeyExA(key, index, name, &name_size) != ERROR_SUCCESS) break;
            RegistryKey sub_key =
                RegistryKey::Open(HKEY_LOCAL_MACHINE, std::string(kPreviewCachesKey) + "\\" + name);
            found.emplace_back(name, sub_key.ReadString(kPreviewIndexFileValue).value_or(""));
        }
        RegCloseKey(key);
        return found;
    }

    CacheSandbox m_environment;
    fs::path m_root;
    std::string m_cachePath;
    std::vector<std::string> m_feedback;
};

TEST_F(StaticCacheTest, FeedbackForTwoPicturesABrokenOneAndATextFile) {
    // Sniffed as a PNG by its signature, but nothing after it decodes.
    WriteFileBytes(m_root / "broken.png", std::string("\x89PNG\r\n\x1a\n", 8) + "garbage");
    ASSERT_TRUE(Create(m_root));
    // Texts come in pieces: the words, then the path, then the outcome.
    std::vector<std::string> expected = {"Creating static cache - ", m_cachePath, "\r\n"};
    for (auto [file, outcome] :
         {std::pair{"a.png", "Success"}, {"broken.png", "Failure"}, {"sub/b.png", "Success"}}) {
        expected.insert(expected.end(), {"Importing ", (m_root / file).string(),
                                         std::string(" - ") + outcome + "\r\n"});
    }
    expected.push_back("Finished\r\n");
    EXPECT_EQ(m_feedback, expected);

    CacheIndexContents index = LoadCacheIndex(m_cachePath + ".pvi");
    ASSERT_TRUE(index.header_read);
    EXPECT_TRUE(index.compressed);
    EXPECT_EQ(index.entry_total, 2);
    std::set<std::string> folders;
    for (const CacheFolderRecord& folder : index.folders) {
        folders.insert(folder.folder_path);
        for (const CacheEntryRecord& entry : folder.entries) {
            EXPECT_EQ(entry.state, EntryState::kValid);
            EXPECT_NE(entry.stamp, 0);
        }
    }
    // Folders are kept relative to the root, with '\' on disk.
    EXPECT_EQ(folders, (std::set<std::string>{"", "SUB"}));
    auto registrations = Registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].second, m_cachePath + ".pvi");
    EXPECT_TRUE(registrations[0].first.starts_with("Cache"));
}

// One cache entry as stored, its record read back; the SeqId is left out (it is drawn at random).
struct StoredThumbnail {
    std::string folder;
    std::string name;
    int32_t index = 0;
    int32_t stamp = 0;
    EntryState state = EntryState::kEmpty;
    bool record_read = false;
    int32_t width = 0;
    int32_t height = 0;
    std::array<uint8_t, kThumbnailBlockBytes> pixels{};

    bool operator==(const StoredThumbnail&) const = default;
};

std::vector<StoredThumbnail> ReadWholeCache(const std::string& cache_path) {
    CacheIndexContents index = LoadCacheIndex(cache_path + ".pvi");
    std::vector<StoredThumbnail> stored;
    for (const CacheFolderRecord& folder : index.folders) {
        for (const CacheEntryRecord& entry : folder.entries) {
            CacheThumbnail thumbnail;
            int32_t seq_id = entry.seq_id;
            bool read = ReadCacheRecord(cache_path + ".pvd", index.compressed, entry.index, seq_id,
                                        thumbnail);
            stored.push_back({folder.folder_path, entry.name, entry.index, entry.stamp, entry.state,
                              read, thumbnail.width, thumbnail.height, thumbnail.pixels});
        }
    }
    return stored;
}

TEST_F(StaticCacheTest, TheWorkerCountChangesNeitherTheFeedbackNorTheRecords) {
    // Pictures of very different decoding times, so workers finish out of order, with files
    // that are no pictures and pictures that fail in between, over nested folders.
    for (int i = 0; i < 12; ++i) {
        int32_t side = i % 4 == 0 ? 1200 : 30 + 17 * i;
        fs::path folder = m_root / (i < 6 ? "first" : "second") / (i % 3 == 0 ? "deep" : "");
        ASSERT_TRUE(WriteTestPicture(folder / ("p" + std::to_string(i) + ".png"), side,
                                     side * 2 / 3, uint32_t(i)));
        if (i % 5 == 0) {
            WriteFileBytes(folder / ("q" + std::to_string(i) + ".png"),
                           std::string("\x89PNG\r\n\x1a\n", 8) + "garbage");
            WriteFileBytes(folder / ("r" + std::to_string(i) + ".txt"), "text\n");
        }
    }
    ASSERT_TRUE(Create(m_root, 0));
    std::vector<std::string> sequential_feedback = m_feedback;
    std::vector<StoredThumbnail> sequential = ReadWholeCache(m_cachePath);
    ASSERT_EQ(sequential.size(), 14u);  // a.png, sub/b.png and the twelve
    for (const StoredThumbnail& item : sequential)
        EXPECT_TRUE(item.record_read) << item.name;

    for (int workers : {1, 3}) {
        CPreviewCacheManager::Destroy();
        ASSERT_TRUE(Create(m_root, workers));
        EXPECT_EQ(m_feedback, sequential_feedback) << workers << " workers";
        EXPECT_TRUE(ReadWholeCache(m_cachePath) == sequential) << workers << " workers";
    }
}

TEST_F(StaticCacheTest, AnIndexThatCannotBeWrittenKeepsTheOldCacheAndItsRegistration) {
    ASSERT_TRUE(Create(m_root));
    std::string old_index = ReadFileBytes(m_cachePath + ".pvi");
    std::string old_data = ReadFileBytes(m_cachePath + ".pvd");
    // A folder where the new index's temporary file belongs: the index cannot be written.
    fs::create_directories(m_cachePath + ".building.pvi.pvt");
    ASSERT_TRUE(WriteTestPicture(m_root / "c.png", 30, 30, 3));
    ASSERT_TRUE(Create(m_root));
    ASSERT_GE(m_feedback.size(), 2u);
    EXPECT_EQ(m_feedback[m_feedback.size() - 2], "Preview Index: Write failure\r");
    EXPECT_EQ(m_feedback.back(), "Finished\r\n");
    // The old cache is untouched, still registered, and nothing of the failed run is left.
    EXPECT_EQ(ReadFileBytes(m_cachePath + ".pvi"), old_index);
    EXPECT_EQ(ReadFileBytes(m_cachePath + ".pvd"), old_data);
    EXPECT_EQ(Registrations().size(), 1u);
    EXPECT_FALSE(fs::exists(m_cachePath + ".building.pvd"));
    CPreviewCacheManager::Destroy();
    CCacheEntry* entry = CPreviewCacheManager::Get().FindEntry(m_root.string(), "a.png");
    ASSERT_NE(entry, nullptr);
    oDIB bitmap;
    EXPECT_TRUE(entry->Cache()->ReadThumbnail(*entry, bitmap));
    EXPECT_EQ(CPreviewCacheManager::Get().FindEntry(m_root.string(), "c.png"), nullptr);
}

TEST_F(StaticCacheTest, ADataFileThatCannotBeCreatedGivesFalseAndNoFeedback) {
    m_cachePath = (m_environment.root() / "missing" / "folder" / "Disc").string();
    EXPECT_FALSE(Create(m_root));
    EXPECT_TRUE(m_feedback.empty());
    EXPECT_TRUE(Registrations().empty());
}

TEST_F(StaticCacheTest, AStaticCacheWhoseDiskIsGoneShowsNothingAndRemakesNothing) {
    ASSERT_TRUE(Create(m_root));
    fs::remove(m_cachePath + ".pvd");
    CPreviewCacheManager::Destroy();
    std::vector<std::string> traces;
    TraceSink previous = SetTraceSink([&](const std::string& line) { traces.push_back(line); });
    CCacheEntry* entry = CPreviewCacheManager::Get().FindEntry(m_root.string(), "a.png");
    ASSERT_NE(entry, nullptr);
    oDIB bitmap;
    EXPECT_FALSE(FetchThumbnail(*entry, bitmap));
    SetTraceSink(previous);
    EXPECT_EQ(traces, std::vector<std::string>{"Failed to read A.PNG\n"});
    EXPECT_TRUE(CPreviewCacheManager::Get().Queue().IsEmpty());
    EXPECT_EQ(entry->m_state, EntryState::kValid);
}

TEST_F(StaticCacheTest, ReCreatingHoldsOnlyThisRunAndReplacesTheLoadedCacheAndRegistration) {
    ASSERT_TRUE(Create(m_root));
    fs::remove(m_root / "a.png");
    ASSERT_TRUE(Create(m_root));
    EXPECT_EQ(LoadCacheIndex(m_cachePath + ".pvi").entry_total, 1);
    auto registrations = Registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].second, m_cachePath + ".pvi");
    // In the same run the loaded cache is replaced: the first run's entry went with it.
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    EXPECT_EQ(manager.Caches().Count(), 2u);  // the dynamic cache and this one
    EXPECT_EQ(manager.FindEntry(m_root.string(), "a.png"), nullptr);
    CCacheEntry* entry = manager.FindEntry((m_root / "sub").string(), "b.png");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->m_state, EntryState::kValid);
    oDIB bitmap;
    ASSERT_TRUE(FetchThumbnail(*entry, bitmap));
    EXPECT_EQ(bitmap.Size(), (vSIZE{85, 128}));  // 40 x 60, fitted to the height
    EXPECT_TRUE(manager.Queue().IsEmpty());
}

TEST_F(StaticCacheTest, RegistrationReplacesAnEqualIndexPathInAnyCase) {
    ASSERT_TRUE(RegisterStaticCache("/Disc/One.pvi", "/Disc/One.pvd", "/Disc"));
    ASSERT_TRUE(RegisterStaticCache("/Disc/Two.pvi", "/Disc/Two.pvd", "/Disc"));
    ASSERT_TRUE(RegisterStaticCache("/DISC/ONE.PVI", "/DISC/ONE.PVD", "/DISC"));
    auto registrations = Registrations();
    ASSERT_EQ(registrations.size(), 2u);
    std::set<std::string> paths;
    std::set<std::string> names;
    for (const auto& [name, path] : registrations) {
        paths.insert(path);
        names.insert(name);
    }
    EXPECT_EQ(paths, (std::set<std::string>{"/Disc/Two.pvi", "/DISC/ONE.PVI"}));
    // Every try raised the counter, so no name was used twice.
    EXPECT_EQ(names.size(), 2u);
}

}  // namespace
}  // namespace scopa::test
