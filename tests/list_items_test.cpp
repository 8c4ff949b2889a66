// List items: labels, the column texts, the picture type texts and the eight sort orders.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "list/list_item.h"
#include "platform/mime_types.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;
using test::ScopedTempDir;
using test::ScopedUtc;
using test::WriteFileBytes;

struct FakeList final : IListItemOwner {
    bool show_extensions = false;
    bool drives = false;
    bool ShowFileExtensions() const override { return show_extensions; }
    bool ShowsDrivesFolder() const override { return drives; }
};

// Filter names that count how often identifiers are asked for.
struct CountingFilters final : IPictureFilterNames {
    std::vector<std::pair<std::string, std::string>> filters;
    mutable int id_calls = 0;
    size_t GetNoItems() const override { return filters.size(); }
    std::string GetID(size_t index) const override {
        ++id_calls;
        return filters[index].first;
    }
    std::string GetDescription(size_t index) const override { return filters[index].second; }
};

template <typename Item>
std::unique_ptr<CListItem> Make(const FakeList& list, const fs::path& path) {
    CShellPath shell_path(path.string());
    return std::make_unique<Item>(&list, shell_path.GetDisplayName(), shell_path.GetModifiedTime(),
                                  shell_path, false);
}

TEST(ListItemTest, LabelsDropTheLastExtensionUnlessShownOrAFolder) {
    ScopedTempDir dir;
    for (const char* name : {"photo.JPG", "archive.tar.gz", "README", ".hidden", ".c.png"})
        WriteFileBytes(dir / name, "x");
    fs::create_directories(dir / "my.folder");
    FakeList list;
    EXPECT_EQ(Make<CListPictureItem>(list, dir / "photo.JPG")->GetLabel(), "photo");
    EXPECT_EQ(Make<CListPictureItem>(list, dir / "archive.tar.gz")->GetLabel(), "archive.tar");
    EXPECT_EQ(Make<CListDTPItem>(list, dir / "README")->GetLabel(), "README");
    // A leading dot starts no extension.
    EXPECT_EQ(Make<CListDTPItem>(list, dir / ".hidden")->GetLabel(), ".hidden");
    EXPECT_EQ(Make<CListPictureItem>(list, dir / ".c.png")->GetLabel(), ".c");
    EXPECT_EQ(Make<CListFolderItem>(list, dir / "my.folder")->GetLabel(), "my.folder");
    list.show_extensions = true;
    auto photo = Make<CListPictureItem>(list, dir / "photo.JPG");
    EXPECT_EQ(photo->GetLabel(), "photo.JPG");
    EXPECT_EQ(photo->GetSortName(), "photo.JPG");
    EXPECT_EQ(photo->GetItemPath(), (dir / "photo.JPG").string());
}

TEST(ListItemTest, SizeTextCountsWholeKilobytesUpward) {
    ScopedTempDir dir;
    FakeList list;
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0KB"}, {1, "1KB"}, {1024, "1KB"}, {1025, "2KB"}, {5ull << 30, "5242880KB"}};
    for (const auto& [size, text] : cases) {
        test::WriteSizedFile(dir / "f.bin", size, 1000000000);
        EXPECT_EQ(Make<CListPictureItem>(list, dir / "f.bin")->GetSizeText(), text) << size;
    }
    fs::create_directories(dir / "sub");
    EXPECT_EQ(Make<CListFolderItem>(list, dir / "sub")->GetSizeText(), "");
    // A file whose status cannot be read has size 0.
    EXPECT_EQ(Make<CListPictureItem>(list, dir / "missing.png")->GetSizeText(), "0KB");
}

TEST(ListItemTest, DateTextIsDayMonthYearAndTwelveHourClockInLocalTime) {
    ScopedUtc utc;
    FakeList list;
    CShellPath path("/");
    const std::pair<std::int64_t, const char*> cases[] = {
        {1781132700, "10/6/26 11:05 PM"},  // 2026-06-10 23:05 UTC
        {946684800, "1/1/00 12:00 AM"},    // midnight
        {946728000, "1/1/00 12:00 PM"},    // noon
        {946688400 + 9 * 60, "1/1/00 1:09 AM"},
        {4102444800, "1/1/00 12:00 AM"},  // 2100: beyond 32-bit seconds
        {0, ""},
    };
    for (const auto& [time, text] : cases) {
        CListDTPItem item(&list, "x", time, path, false);
        EXPECT_EQ(item.GetDateText(), text) << time;
    }
}

TEST(ListItemTest, PictureTypeTextsShareTheLastMatchedFilter) {
    ScopedTempDir dir;
    for (const char* name : {"a.jpg", "b.JPG", "c.tif", "d.png"})
        WriteFileBytes(dir / name, "x");
    CountingFilters filters;
    filters.filters = {{"TIF", "TIFF picture"},
                       {"JPG", "JPEG picture"},
                       {"BMP", "Windows bitmap"},
                       {"TIF", "TIFF (second filter)"}};
    SetPictureFilterNames(&filters);
    FakeList list;

    EXPECT_EQ(Make<CListPictureItem>(list, dir / "a.jpg")->GetTypeText(), "JPEG picture");
    EXPECT_EQ(filters.id_calls, 4);
    filters.id_calls = 0;
    EXPECT_EQ(Make<CListPictureItem>(list, dir / "b.JPG")->GetTypeText(), "JPEG picture");
    EXPECT_EQ(filters.id_calls, 1);  // the shared last match answers at once
    EXPECT_EQ(Make<CListCustomItem>(list, dir / "c.tif")->GetTypeText(), "TIFF (second filter)");
    // No filter: the type text comes from the namespace.
    EXPECT_EQ(Make<CListPictureItem>(list, dir / "d.png")->GetTypeText(),
              MimeTypeDescription("image/png"));
    SetPictureFilterNames(nullptr);
    EXPECT_EQ(Make<CListPictureItem>(list, dir / "a.jpg")->GetTypeText(),
              MimeTypeDescription("image/jpeg"));
}

// Kind names and groups are checked through population and the orders below.
TEST(ListItemTest, EveryKindKeepsItsTimeAndShortcutAndDocumentsTheirIcons) {
    FakeList list;
    const std::pair<ListItemKind, int> icons[] = {
        {ListItemKind::Dtp, 210},     {ListItemKind::Scrap, 212},      {ListItemKind::Art, 210},
        {ListItemKind::Snippet, 212}, {ListItemKind::StyledText, 213}, {ListItemKind::Picture, 0},
        {ListItemKind::Folder, 0},    {ListItemKind::Custom, 0},       {ListItemKind::Pilot, 0}};
    for (const auto& [kind, icon] : icons) {
        SCOPED_TRACE(std::string(ListItemKindName(kind)));
        std::unique_ptr<CListItem> made = MakeListItem(kind, &list, "n", 5, CShellPath("/"), true);
        EXPECT_EQ(made->GetKind(), kind);
        EXPECT_EQ(made->GetIconID(), icon);
        EXPECT_EQ(made->time_modified(), 5);
        EXPECT_TRUE(made->IsShortcut());
    }
}

TEST(ListItemTest, GroupsComeFirstInEveryOrderAndEqualKeysCompareEqual) {
    // The orders within a group are checked through the list model, on real folders.
    FakeList list;
    ScopedTempDir dir;
    CShellPath root("/");
    CListFolderItem drive(&list, "/", 0, root, false);
    CListFolderItem folder(&list, "a", 9, CShellPath(dir.path().string()), false);
    CListPilotItem pilot(&list, "b", 5, root, false);
    CListPictureItem picture(&list, "c", 1, root, false);
    const CListItem* ranked[] = {&drive, &folder, &pilot, &picture};
    for (int order = 0; order < 8; ++order) {
        for (size_t i = 1; i < std::size(ranked); ++i) {
            EXPECT_LT(CompareListItems(*ranked[i - 1], *ranked[i], order), 0) << order << i;
        }
    }
    EXPECT_EQ(CompareListItems(picture, drive, 1), kSortGroupOther - kSortGroupDriveRoot);
    CListPictureItem same_time(&list, "d", 1, root, false);
    EXPECT_EQ(CompareListItems(picture, same_time, kSortByDateNewestFirst), 0);
    EXPECT_EQ(CompareListItems(picture, pilot, 8), kSortGroupOther - kSortGroupPilot);
    EXPECT_EQ(CompareListItems(picture, same_time, 8), 0) << "an unknown order";
}

}  // namespace
}  // namespace scopa
