// The cache manager: start-up from the registry, the dynamic cache's growth, slot reuse and
// recycling, most-recently-used order, static caches made, registered and re-opened under
// another root, the caching queue, and the edge cases of folder keys.
#include "cache/cache_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "imaging/dib.h"
#include "imaging/palette.h"
#include "platform/registry.h"
#include "support/cache_sandbox.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

// Each test gets its own registry and cache folder and a fresh manager.
class CacheManagerTest : public ::testing::Test {
protected:
    // Labels by path prefix, standing in for mounted disks.
    std::string LabelOf(std::string_view path) const {
        for (const auto& [prefix, label] : m_labels) {
            if (path.starts_with(prefix)) return label;
        }
        return {};
    }

    fs::path DefaultBase() const { return m_environment.cache_dir() / "scopa" / "ImgCache"; }
    // Leaves `contents` as the dynamic cache's index for the manager to load.
    void SaveDynamicIndex(const CacheIndexContents& contents) const {
        fs::create_directories(DefaultBase().parent_path());
        ASSERT_TRUE(SaveCacheIndex(CacheIndexPath(DefaultBase()), contents));
    }

    static void SetCachesValue(const std::string& name, const std::string& text) {
        RegistryKey key = RegistryKey::Create(HKEY_LOCAL_MACHINE, kPreviewCachesKey);
        ASSERT_TRUE(key.WriteString(name, text));
    }
    static void RegisterStaticCache(const std::string& sub_key, const fs::path& index_path,
                                    const fs::path& data_path, const std::string& root) {
        RegistryKey key = RegistryKey::Create(HKEY_LOCAL_MACHINE,
                                              std::string(kPreviewCachesKey) + "\\" + sub_key);
        ASSERT_TRUE(key.WriteString(kPreviewIndexFileValue, index_path.string()));
        ASSERT_TRUE(key.WriteString(kPreviewDataFileValue, data_path.string()));
        ASSERT_TRUE(key.WriteString(kRootFolderValue, root));
    }

    std::map<std::string, std::string> m_labels;
    CacheSandbox m_environment{[this](std::string_view path) { return LabelOf(path); }};
};

std::string FolderName(int number) {
    return std::string(number < 10 ? "/pics/f0" : "/pics/f") + std::to_string(number);
}

std::string FileName(int number) {
    return "img" + std::to_string(number) + ".jpg";
}

std::vector<std::string> FolderPaths(const CPreviewCache& cache) {
    std::vector<std::string> paths;
    for (const CCacheFolder* folder = cache.Folders().Head(); folder != nullptr;
         folder = CacheFolderList::Next(folder)) {
        paths.push_back(folder->FolderPath());
    }
    return paths;
}

std::vector<std::string> EntryNames(const CCacheFolder& folder) {
    std::vector<std::string> names;
    for (const CCacheEntry* entry = folder.Entries().Head(); entry != nullptr;
         entry = CacheEntryList::Next(entry)) {
        names.push_back(entry->Name());
    }
    return names;
}

std::array<uint8_t, kThumbnailBlockBytes> PatternBlock(uint8_t seed) {
    std::array<uint8_t, kThumbnailBlockBytes> block{};
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>((i / 7 + seed) % 216);
    return block;
}

// ---- start-up ----

TEST_F(CacheManagerTest, DynamicCacheLivesInThePlatformCacheFolderAndStartsEmpty) {
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    ASSERT_NE(manager.DynamicCache(), nullptr);
    EXPECT_EQ(manager.DynamicCache()->IndexPath(), CacheIndexPath(DefaultBase()));
    EXPECT_EQ(manager.DynamicCache()->DataPath(), CacheDataPath(DefaultBase()));
    EXPECT_FALSE(manager.DynamicCache()->IsReadOnly());
    EXPECT_EQ(manager.Caches().Head(), manager.DynamicCache());
    EXPECT_FALSE(manager.DynamicCache()->IsLoaded());  // indexes are read on first lookup
    EXPECT_EQ(CPreviewCacheManager::Existing(), &manager);
    // Finding without creating never adds.
    EXPECT_EQ(manager.FindOrCreateEntry("/pics", "a.jpg", false), nullptr);
    EXPECT_EQ(manager.FindEntry("/pics", "a.jpg"), nullptr);
    EXPECT_TRUE(manager.DynamicCache()->Folders().IsEmpty());
}

TEST_F(CacheManagerTest, RegisteredFolderGetsItsSeparator) {
    fs::path folder = m_environment.root() / "elsewhere";
    fs::create_directories(folder);
    SetCachesValue("", folder.string());
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    ASSERT_NE(manager.DynamicCache(), nullptr);
    EXPECT_EQ(manager.DynamicCache()->IndexPath(), folder / "ImgCache.pvi");
    EXPECT_TRUE(fs::exists(folder / "ImgCache.pvd"));
}

TEST_F(CacheManagerTest, NoDataFileMeansNoCachesAtAll) {
    // A registered folder that does not exist: the data file cannot be made.
    SetCachesValue("", (m_environment.root() / "missing" / "folder").string());
    fs::path index_path = m_environment.root() / "disc.pvi";
    ASSERT_TRUE(SaveCacheIndex(index_path, {}));
    RegisterStaticCache("Cache1", index_path, m_environment.root() / "disc.pvd", "/media/cd");
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    EXPECT_EQ(manager.DynamicCache(), nullptr);
    EXPECT_TRUE(manager.Caches().IsEmpty());
    EXPECT_EQ(manager.FindOrCreateEntry("/pics", "a.jpg", true), nullptr);
}

// ---- the dynamic cache's growth and recycling ----

TEST_F(CacheManagerTest, DynamicCacheGrowsTo250SlotsThenRecyclesTheLeastRecentlyUsed) {
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    CPreviewCache& cache = *manager.DynamicCache();
    fs::path data_path = cache.DataPath();
    std::vector<CCacheEntry*> made;
    auto add = [&](int number) {
        CCacheEntry* entry =
            manager.FindOrCreateEntry(FolderName(number / 10), FileName(number), true);
        made.push_back(entry);
        return entry;
    };
    for (int number = 0; number < 250; ++number) {
        ASSERT_NE(add(number), nullptr);
        EXPECT_EQ(made.back()->m_index, number);
        EXPECT_EQ(made.back()->m_state, EntryState::kEmpty);
        // The first 40 fit the new file; the 41st lengthens it by one slot.
        if (number == 39 || number == 40) {
            EXPECT_EQ(fs::file_size(data_path), number == 39 ? 655840u : 672236u);
        }
    }
    EXPECT_EQ(fs::file_size(data_path), 4099000u);
    EXPECT_EQ(cache.EntryCount(), 250);

    // A hit on folder 0 moves it to the head, so folder 1 becomes the least recently used.
    ASSERT_EQ(manager.FindEntry(FolderName(0), FileName(0)), made[0]);
    EXPECT_EQ(FolderPaths(cache).front(), "/pics/f00");
    EXPECT_EQ(FolderPaths(cache).back(), "/pics/f01");
    manager.Request(*made[10], 0);  // the next victim waits in the queue
    ASSERT_EQ(manager.QueueHead(), made[10]);

    // Entries 250 to 259 go to folder 25 and take the ten slots of folder 1, oldest first.
    for (int number = 250; number < 260; ++number) {
        CCacheEntry* entry = add(number);
        ASSERT_EQ(entry, made[static_cast<size_t>(number - 240)]);  // the same object reused
        EXPECT_EQ(entry->m_index, number - 240);
        EXPECT_EQ(entry->Name(), FileName(number));
        EXPECT_EQ(entry->Folder()->FolderPath(), "/pics/f25");
        EXPECT_EQ(entry->m_state, EntryState::kEmpty);
    }
    EXPECT_TRUE(manager.Queue().IsEmpty());  // the recycled entry left the queue
    EXPECT_EQ(fs::file_size(data_path), 4099000u);
    EXPECT_EQ(cache.EntryCount(), 250);
    std::vector<std::string> folders = FolderPaths(cache);
    EXPECT_EQ(std::count(folders.begin(), folders.end(), "/pics/f01"), 0);  // emptied, removed
    EXPECT_EQ(folders.size(), 25u);
    EXPECT_EQ(folders.front(), "/pics/f25");
    EXPECT_EQ(folders.back(), "/pics/f02");
    EXPECT_NE(manager.FindEntry(FolderName(0), FileName(5)), nullptr);
}

TEST_F(CacheManagerTest, HitsMoveEntriesToTheHeadAndTheOrderIsSaved) {
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        manager.FindOrCreateEntry("/pics/Trip", name, true)->m_state = EntryState::kValid;
    }
    CCacheEntry* pending = manager.FindOrCreateEntry("/pics/Trip", "d.jpg", true);
    manager.Request(*pending, 77);
    ASSERT_NE(manager.FindEntry("/pics/Trip/", "b.jpg"), nullptr);  // a trailing '/' is ignored
    // The dynamic cache keeps letter case: these are other files.
    EXPECT_EQ(manager.FindEntry("/PICS/TRIP", "b.jpg"), nullptr);
    EXPECT_EQ(manager.FindEntry("/pics/Trip", "B.JPG"), nullptr);
    const CCacheFolder& folder = *manager.DynamicCache()->Folders().Head();
    EXPECT_EQ(EntryNames(folder), (std::vector<std::string>{"b.jpg", "d.jpg", "c.jpg", "a.jpg"}));
    ASSERT_TRUE(manager.DynamicCache()->SaveIndex());
    EXPECT_FALSE(fs::exists(CacheTemporaryIndexPath(manager.DynamicCache()->IndexPath())));

    // The next run sees the Valid entries in the same order; the Pending one was not saved.
    CPreviewCacheManager::Destroy();
    CPreviewCacheManager& next = CPreviewCacheManager::Get();
    ASSERT_NE(next.FindEntry("/pics/Trip", "a.jpg"), nullptr);
    EXPECT_EQ(next.FindEntry("/pics/Trip", "d.jpg"), nullptr);
    EXPECT_EQ(next.DynamicCache()->EntryCount(), 3);
    EXPECT_EQ(EntryNames(*next.DynamicCache()->Folders().Head()),
              (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(next.FindEntry("/pics/Trip", "a.jpg")->m_state, EntryState::kValid);
}

TEST_F(CacheManagerTest, SavingAnUnreadIndexKeepsItsEntries) {
    CacheIndexContents contents;
    contents.folders.push_back({"/PICS", "", {{"A.JPG", 3, 9, 0, EntryState::kValid}}});
    SaveDynamicIndex(contents);
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    ASSERT_TRUE(manager.DynamicCache()->SaveIndex());
    EXPECT_EQ(LoadCacheIndex(CacheIndexPath(DefaultBase())).entry_total, 1);
}

TEST_F(CacheManagerTest, AnIndexHoldingMoreThanTheCapacityRecyclesInsteadOfGrowing) {
    CacheIndexContents contents;
    CacheFolderRecord& folder = contents.folders.emplace_back();
    folder.folder_path = "/OLD";
    for (int32_t number = 0; number < 260; ++number) {
        folder.entries.push_back({FileName(number), number, 1, 0, EntryState::kValid});
    }
    SaveDynamicIndex(contents);
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    CCacheEntry* entry = manager.FindOrCreateEntry("/new", "x.jpg", true);
    ASSERT_NE(entry, nullptr);
    // Entries beyond the 250 slots were dropped at load; the last remaining one is recycled.
    EXPECT_EQ(entry->m_index, 249);
    EXPECT_EQ(manager.DynamicCache()->EntryCount(), 250);
    EXPECT_EQ(fs::file_size(CacheDataPath(DefaultBase())), 655840u);
}

TEST_F(CacheManagerTest, NewEntriesTakeTheLowestSlotNoLoadedEntryHolds) {
    // Pending entries are not saved, so a reloaded index has gaps: 0, 2 and 5 are held.
    CacheIndexContents contents;
    contents.folders.push_back({"/pics",
                                "",
                                {{"a.jpg", 0, 1, 0, EntryState::kValid},
                                 {"b.jpg", 2, 1, 0, EntryState::kValid},
                                 {"c.jpg", 5, 1, 0, EntryState::kValid}}});
    SaveDynamicIndex(contents);
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    std::vector<int32_t> slots;
    for (const char* name : {"d.jpg", "e.jpg", "f.jpg", "g.jpg"})
        slots.push_back(manager.FindOrCreateEntry("/other", name, true)->m_index);
    EXPECT_EQ(slots, (std::vector<int32_t>{1, 3, 4, 6}));
    EXPECT_EQ(manager.FindEntry("/pics", "c.jpg")->m_index, 5);
}

TEST_F(CacheManagerTest, SameFolderOnDisksWithDifferentLabelsGivesTwoFolders) {
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    m_labels["/media/usb"] = "HOLIDAY";
    CCacheEntry* first = manager.FindOrCreateEntry("/media/usb/dcim", "p1.jpg", true);
    m_labels["/media/usb"] = "WORK";
    EXPECT_EQ(manager.FindEntry("/media/usb/dcim", "p1.jpg"), nullptr);
    CCacheEntry* second = manager.FindOrCreateEntry("/media/usb/dcim", "p1.jpg", true);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(manager.DynamicCache()->Folders().Count(), 2u);
    EXPECT_EQ(second->Folder()->VolumeLabel(), "WORK");
    m_labels["/media/usb"] = "HOLIDAY";
    EXPECT_EQ(manager.FindEntry("/media/usb/dcim", "p1.jpg"), first);
    EXPECT_EQ(first->SourcePath(), "/media/usb/dcim/p1.jpg");
    // The entry remembers the path in the letter case of its latest lookup.
    EXPECT_EQ(manager.FindEntry("/media/usb/dcim", "P1.jpg"), nullptr);  // another file
    EXPECT_EQ(first->StoredFullPath(), "/media/usb/dcim/p1.jpg");
}

// ---- static caches ----

// Builds a compressed cache as a static-cache import does: add, set Valid, write at the place
// the allocation gave, save.
void MakeStaticCache(const fs::path& base, const std::string& root,
                     const std::vector<std::pair<std::string, std::string>>& files) {
    ASSERT_TRUE(CreateEmptyDataFile(base));
    CPreviewCache cache(CacheIndexPath(base), CacheDataPath(base), root, true, 0);
    uint8_t seed = 0;
    for (const auto& [folder, name] : files) {
        EXPECT_EQ(cache.Find("", folder, name), nullptr);
        CCacheEntry* entry = cache.Add("DISC", folder, name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->m_index, static_cast<int32_t>(fs::file_size(CacheDataPath(base))));
        entry->m_state = EntryState::kValid;
        entry->m_stamp = 1000 + seed;
        ASSERT_TRUE(cache.WriteThumbnail(*entry, PatternBlock(seed), 100 + seed, 75));
        ++seed;
    }
    ASSERT_TRUE(cache.SaveIndex());
}

TEST_F(CacheManagerTest, StaticCacheIsRegisteredAndReadBackUnderAnotherRoot) {
    fs::path base = m_environment.root() / "disc" / "Photos";
    fs::create_directories(base.parent_path());
    MakeStaticCache(base, " /mnt/master/ ",
                    {{"/mnt/master/Trees", "oak.jpg"},
                     {"/mnt/master/Trees/Old", "elm.png"},
                     {"/mnt/master", "cover.bmp"}});
    // Relative folder paths are stored with '\' so that other platforms read them.
    CacheIndexContents stored = LoadCacheIndex(CacheIndexPath(base));
    EXPECT_TRUE(stored.compressed);
    ASSERT_EQ(stored.folders.size(), 3u);
    EXPECT_EQ(stored.folders[0].folder_path, "");
    EXPECT_EQ(stored.folders[1].folder_path, "TREES\\OLD");
    EXPECT_EQ(stored.folders[2].folder_path, "TREES");
    EXPECT_EQ(stored.folders[2].entries[0].index, 0);  // the first record starts the file

    RegisterStaticCache("Cache1", CacheIndexPath(base), CacheDataPath(base), "/media/cdrom");
    m_labels["/media/cdrom"] = "ANOTHER_LABEL";  // static caches ignore labels
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    ASSERT_EQ(manager.Caches().Count(), 2u);
    CPreviewCache* static_cache = PreviewCacheList::Next(manager.Caches().Head());
    EXPECT_TRUE(static_cache->IsReadOnly());
    EXPECT_EQ(static_cache->RootFolder(), "/MEDIA/CDROM");

    CCacheEntry* elm = manager.FindOrCreateEntry("/media/cdrom/trees/old", "ELM.png", true);
    ASSERT_NE(elm, nullptr);
    EXPECT_EQ(elm->Cache(), static_cache);
    EXPECT_EQ(manager.Caches().Head(), static_cache);  // the hit moved it first
    EXPECT_EQ(elm->m_stamp, 1001);
    EXPECT_EQ(elm->Folder()->FullPath(), "/MEDIA/CDROM/TREES/OLD");
    oDIB bitmap;
    ASSERT_TRUE(static_cache->ReadThumbnail(*elm, bitmap));
    EXPECT_EQ(bitmap.Size(), (vSIZE{101, 75}));
    EXPECT_EQ(bitmap.BitCount(), 8);
    EXPECT_EQ(elm->m_width, 101);
    std::array<uint8_t, kThumbnailBlockBytes> block = PatternBlock(1);
    for (int32_t y : {0, 40, 74}) {
        for (int32_t x : {0, 50, 100}) {
            ASSERT_EQ(bitmap.RawPixel(x, y), block[size_t(y) * 128 + size_t(x)]) << x << "," << y;
        }
    }
    EXPECT_EQ(bitmap.ColourTable()[block[0]].red, ScreenPalette()[block[0]].red);
    EXPECT_NE(manager.FindEntry("/media/cdrom", "cover.bmp"), nullptr);
    EXPECT_NE(manager.FindEntry("/media/cdrom/Trees", "oak.jpg"), nullptr);
    // The registered root replaces the one the cache was made under.
    EXPECT_EQ(manager.FindEntry("/mnt/master/trees", "oak.jpg"), nullptr);
    // Creating a missing entry goes to the dynamic cache, not the static one.
    CCacheEntry* added = manager.FindOrCreateEntry("/media/cdrom/trees", "new.jpg", true);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->Cache(), manager.DynamicCache());
}

// A registration whose files are missing, or that lacks values, is skipped. (One whose data
// file alone has gone loads and fails its reads: static_cache_test.cpp.)
TEST_F(CacheManagerTest, StaticCacheWithoutItsFilesOrValuesIsSkipped) {
    RegisterStaticCache("Cache1", m_environment.root() / "nowhere.pvi",
                        m_environment.root() / "nowhere.pvd", "/media/cd1");
    fs::path base = m_environment.root() / "partial";
    MakeStaticCache(base, "/mnt/master", {{"/mnt/master/a", "x.jpg"}});
    ASSERT_TRUE(RegistryKey::Create(HKEY_LOCAL_MACHINE, std::string(kPreviewCachesKey) + "\\Cache2")
                    .WriteString(kPreviewIndexFileValue, CacheIndexPath(base).string()));
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    EXPECT_EQ(manager.Caches().Count(), 1u);
    EXPECT_EQ(manager.FindEntry("/mnt/master/a", "x.jpg"), nullptr);
}

TEST_F(CacheManagerTest, RootFoldersAnswerOnlyForFoldersUnderThem) {
    struct Case {
        const char* root;
        const char* folder;
        bool under;
        const char* key;
    };
    const Case cases[] = {
        {"/media/cd", "/media/cd/Photos", true, "PHOTOS"},
        {"/media/cd/", "/MEDIA/CD/photos/", true, "PHOTOS"},
        {"/media/cd", "/media/cd", true, ""},
        {"/media/cd", "/media/cd2/photos", false, "/MEDIA/CD2/PHOTOS"},
        {"/media/cd", "/media/photos", false, "/MEDIA/PHOTOS"},
        {"/", "/photos/x", true, "PHOTOS/X"},
        {"", "/photos", false, "/PHOTOS"},
    };
    for (const Case& c : cases) {
        CPreviewCache cache("i.pvi", "d.pvd", c.root, true, 0);
        bool under = !c.under;
        EXPECT_EQ(cache.KeyFolderPath(c.folder, under), c.key) << c.root << " " << c.folder;
        EXPECT_EQ(under, c.under) << c.root << " " << c.folder;
        if (!c.under) {
            EXPECT_EQ(cache.Find("", c.folder, "a.jpg"), nullptr);
        }
    }
}

// A cache whose data file cannot grow recycles; recycling the last entry of a folder keeps
// that folder when the new entry goes there (A), and destroys it otherwise (B).
TEST_F(CacheManagerTest, RecyclingWhenTheDataFileCannotGrow) {
    ScopedTempDir dir;
    CacheIndexContents contents;
    contents.compressed = true;
    contents.folders.push_back({"A", "", {{"ONE.JPG", 0, 1, 0, EntryState::kValid}}});
    contents.folders.push_back({"B", "", {{"TWO.JPG", 500, 1, 0, EntryState::kValid}}});
    ASSERT_TRUE(SaveCacheIndex(dir / "c.pvi", contents));
    // No data file: no place for a new record.
    CPreviewCache cache(dir / "c.pvi", dir / "c.pvd", "/root", true, 0);
    ASSERT_NE(cache.Find("", "/root/b", "two.jpg"), nullptr);  // B first, A least recent
    CCacheEntry* into_a = cache.Add("", "/root/a", "three.jpg");
    ASSERT_NE(into_a, nullptr);
    EXPECT_EQ(into_a->m_index, 0);  // ONE.JPG's record, with a new name, in a new folder A
    EXPECT_EQ(FolderPaths(cache), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(cache.EntryCount(), 2);
    // B is last again: adding to A takes B's only entry and B goes.
    ASSERT_NE(cache.Find("", "/root/a", "three.jpg"), nullptr);
    CCacheEntry* taken_from_b = cache.Add("", "/root/a", "four.jpg");
    ASSERT_NE(taken_from_b, nullptr);
    EXPECT_EQ(taken_from_b->m_index, 500);
    EXPECT_EQ(FolderPaths(cache), (std::vector<std::string>{"A"}));
    EXPECT_EQ(EntryNames(*cache.Folders().Head()),
              (std::vector<std::string>{"FOUR.JPG", "THREE.JPG"}));

    // An empty cache with nowhere to write has nothing to recycle: no entry, no folder.
    CPreviewCache empty(dir / "none.pvi", dir / "none.pvd", "/root", true, 0);
    EXPECT_EQ(empty.Add("", "/root/a", "x.jpg"), nullptr);
    EXPECT_TRUE(empty.Folders().IsEmpty());
}

// ---- the queue ----

TEST_F(CacheManagerTest, QueueServesTheNewestRequestFirst) {
    CPreviewCacheManager& manager = CPreviewCacheManager::Get();
    CCacheEntry* a = manager.FindOrCreateEntry("/pics", "a.jpg", true);
    CCacheEntry* b = manager.FindOrCreateEntry("/pics", "b.jpg", true);
    CCacheEntry* c = manager.FindOrCreateEntry("/pics", "c.jpg", true);
    manager.Request(*a, 10);
    manager.Request(*b, 20);
    manager.Request(*c, 30);
    EXPECT_EQ(manager.QueueHead(), c);
    EXPECT_EQ(a->m_state, EntryState::kPending);
    EXPECT_EQ(a->m_stamp, 10);
    EXPECT_GE(a->m_seqId, 0);
    EXPECT_LE(a->m_seqId, 32767);
    manager.Promote(*a);
    EXPECT_EQ(manager.QueueHead(), a);
    manager.Request(*b, 21);  // a new request moves it to the head, not twice into the queue
    EXPECT_EQ(manager.QueueHead(), b);
    EXPECT_EQ(manager.Queue().Count(), 3u);
    manager.Dequeue(*b);
    EXPECT_EQ(b->m_state, EntryState::kPending);
    CCacheEntry* d = manager.FindOrCreateEntry("/pics", "d.jpg", true);
    manager.Promote(*d);  // not waiting: nothing happens
    EXPECT_FALSE(d->IsQueued());
    manager.ClearQueue();
    EXPECT_TRUE(manager.Queue().IsEmpty());
    EXPECT_EQ(a->m_state, EntryState::kEmpty);
    EXPECT_EQ(c->m_state, EntryState::kEmpty);
    manager.Request(*a, 1);
    CPreviewCacheManager::Destroy();  // entries leave the queue as they go
    EXPECT_EQ(CPreviewCacheManager::Existing(), nullptr);
}

TEST(CacheFilePathTest, SplitsAtTheLastSeparator) {
    for (auto [path, folder] : {std::pair{"/a/b/c.jpg", "/a/b"}, {"/c.jpg", "/"}, {"c.jpg", ""}}) {
        EXPECT_EQ(SplitCacheFilePath(path).folder_path, folder) << path;
        EXPECT_EQ(SplitCacheFilePath(path).file_name, "c.jpg") << path;
    }
}

TEST(IntrusiveListTest, EightOperations) {
    int destroyed = 0;
    struct Item {
        int value;
        int* destroyed;
        IntrusiveLinks<Item> links;
        ~Item() { ++*destroyed; }
    };
    using List = CIntrusiveList<Item, &Item::links>;
    List list;
    auto make = [&](int value) { return new Item{value, &destroyed, {}}; };
    // The values forwards, checked against the walk backwards and the count.
    auto values = [&list] {
        std::vector<int> forwards, backwards;
        for (Item* item = list.Head(); item != nullptr; item = List::Next(item))
            forwards.push_back(item->value);
        for (Item* item = list.Tail(); item != nullptr; item = List::Previous(item))
            backwards.insert(backwards.begin(), item->value);
        EXPECT_EQ(forwards, backwards);
        EXPECT_EQ(forwards.size(), list.Count());
        return forwards;
    };
    Item* two = make(2);
    Item* four = make(4);
    list.AddTail(two);
    list.AddHead(make(1));
    list.AddTail(four);
    list.InsertAfter(two, make(3));
    list.InsertAfter(four, make(5));
    list.InsertBefore(list.Head(), make(0));
    EXPECT_EQ(values(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    list.Remove(two);
    EXPECT_EQ(two->links.next, nullptr);
    List other;
    other.AddHead(two);
    EXPECT_FALSE(list.Contains(two));
    EXPECT_TRUE(other.Contains(two));
    list.Remove(two);  // not in this list: nothing happens
    EXPECT_EQ(other.Count(), 1u);
    list.RemoveAndDestroy(four);
    EXPECT_EQ(destroyed, 1);
    list.MoveToHead(list.Tail());
    EXPECT_EQ(values(), (std::vector<int>{5, 0, 1, 3}));
    list.DestroyAll();
    EXPECT_EQ(destroyed, 5);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Tail(), nullptr);
    other.DestroyAll();
    EXPECT_EQ(destroyed, 6);
}

}  // namespace
}  // namespace scopa::test
