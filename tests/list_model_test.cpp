// The list model: refresh requests, the eight orders with their groups, the forced date
// order, the selection across sorting and the drives folder, on real temporary folders.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "list/list_model.h"
#include "platform/mime_types.h"
#include "platform/registry.h"
#include "platform/shell_namespace.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;
using test::ScopedTempDir;
using test::WriteFileBytes;

using test::SetModifiedTime;
using test::WriteSizedFile;

std::vector<std::string> Labels(const CPreviewListModel& model) {
    std::vector<std::string> labels;
    for (const auto& item : model.items())
        labels.push_back(item->GetLabel());
    return labels;
}

class ListModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Sizes and times chosen so every order gives a different sequence.
        WriteSizedFile(m_dir / "b.jpg", 3000, 1'600'000'300);
        WriteSizedFile(m_dir / "A.png", 10, 1'600'000'100);
        WriteSizedFile(m_dir / "c.bmp", 200'000, 1'600'000'200);
        WriteSizedFile(m_dir / "d.gif", 20, 1'600'000'400);
        fs::create_directories(m_dir / "zeta");
        fs::create_directories(m_dir / "Alpha");
        m_model.SetFilter("PCF");
    }

    test::SandboxedEnvironment m_sandbox;
    ScopedTempDir m_dir;
    CPreviewListModel m_model;
};

TEST_F(ListModelTest, EightOrdersKeepFoldersFirstAndAgreeWithTheItemComparison) {
    // Beyond 32 bits in size and time, so truncated keys would misorder them.
    WriteSizedFile(m_dir / "c.bmp", 5ull << 30, 1'600'000'200);
    WriteSizedFile(m_dir / "d.gif", 20, 4'102'444'800);  // 2100
    SetModifiedTime(m_dir / "Alpha", 1'700'000'000);
    SetModifiedTime(m_dir / "zeta", 1'500'000'000);
    // Types: CompuServe GIF, JPEG Picture, Portable Network Graphics, Windows Bitmap. Folders
    // with equal keys keep their enumeration order, so only their set is checked then.
    using Names = std::vector<std::string>;
    const struct {
        int order;
        Names folders;  // empty: either order
        Names files;
    } cases[] = {
        {kSortByName, {"Alpha", "zeta"}, {"A.png", "b.jpg", "c.bmp", "d.gif"}},
        {kSortByNameReverse, {"zeta", "Alpha"}, {"d.gif", "c.bmp", "b.jpg", "A.png"}},
        {kSortByType, {}, {"d.gif", "b.jpg", "A.png", "c.bmp"}},
        {kSortByTypeReverse, {}, {"c.bmp", "A.png", "b.jpg", "d.gif"}},
        {kSortBySizeLargestFirst, {}, {"c.bmp", "b.jpg", "d.gif", "A.png"}},
        {kSortBySizeSmallestFirst, {}, {"A.png", "d.gif", "b.jpg", "c.bmp"}},
        {kSortByDateNewestFirst, {"Alpha", "zeta"}, {"d.gif", "b.jpg", "c.bmp", "A.png"}},
        {kSortByDateOldestFirst, {"zeta", "Alpha"}, {"A.png", "c.bmp", "b.jpg", "d.gif"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("order " + std::to_string(c.order));
        m_model.SetSortOrder(c.order);
        ASSERT_TRUE(m_model.Refresh(CShellPath(m_dir.path().string())));
        Names labels = Labels(m_model);
        ASSERT_EQ(labels.size(), 6u);
        Names folders(labels.begin(), labels.begin() + 2);
        if (c.folders.empty()) std::sort(folders.begin(), folders.end());
        EXPECT_EQ(folders, (c.folders.empty() ? Names{"Alpha", "zeta"} : c.folders));
        EXPECT_EQ(Names(labels.begin() + 2, labels.end()), c.files);
        // The model sorts on keys of its own; the list's comparison must agree with them,
        // asked either way round.
        for (size_t i = 1; i < m_model.GetItemCount(); ++i) {
            const CListItem& before = m_model.GetItem(i - 1);
            const CListItem& after = m_model.GetItem(i);
            EXPECT_LE(CompareListItems(before, after, c.order), 0);
            EXPECT_EQ(CompareListItems(after, before, c.order),
                      -CompareListItems(before, after, c.order));
        }
    }
}

TEST_F(ListModelTest, RecentFoldersAreSortedNewestFirst) {
    fs::path recent = m_dir / "My Recent files";
    WriteSizedFile(recent / "old.jpg", 1, 1'500'000'000);
    WriteSizedFile(recent / "new.jpg", 1, 1'700'000'000);
    WriteSizedFile(recent / "mid.jpg", 1, 1'600'000'000);
    m_model.SetSortOrder(kSortByName);
    m_model.Refresh(CShellPath(recent.string()));
    EXPECT_TRUE(m_model.IsForceDateOrder());
    EXPECT_EQ(m_model.GetEffectiveSortOrder(), kSortByDateNewestFirst);
    EXPECT_EQ(Labels(m_model), (std::vector<std::string>{"new.jpg", "mid.jpg", "old.jpg"}));
    m_model.Refresh(CShellPath(m_dir.path().string()));
    EXPECT_FALSE(m_model.IsForceDateOrder());
}

TEST_F(ListModelTest, RefreshRequestsCollapseAndSkipTheShownFolder) {
    CShellPath folder(m_dir.path().string());
    EXPECT_FALSE(m_model.RequestRefresh(CShellPath((m_dir / "b.jpg").string()), false))
        << "a file is no folder";
    EXPECT_TRUE(m_model.RequestRefresh(folder, false));
    EXPECT_TRUE(m_model.DoPendingRefresh());
    EXPECT_FALSE(m_model.KeepScroll());
    EXPECT_FALSE(m_model.DoPendingRefresh()) << "nothing pending";
    EXPECT_FALSE(m_model.RequestRefresh(folder, false)) << "already shown";
    CShellPath sub((m_dir / "zeta").string());
    m_model.RequestRefresh(folder, true);
    m_model.RequestRefresh(sub, false);
    EXPECT_TRUE(m_model.DoPendingRefresh());
    EXPECT_EQ(CShellPath::Compare(m_model.GetShownFolder(), sub), 0);
    EXPECT_TRUE(m_model.KeepScroll()) << "one of the collapsed requests was forced";
    EXPECT_EQ(m_model.GetItemCount(), 0u);
}

TEST_F(ListModelTest, SlicedRefreshEndsWithTheSameItems) {
    for (int i = 0; i < 300; ++i)
        WriteSizedFile(m_dir / ("p" + std::to_string(i) + ".jpg"), 1, 1);
    m_model.Refresh(CShellPath(m_dir.path().string()));
    std::vector<std::string> whole = Labels(m_model);
    m_model.RequestRefresh(CShellPath(m_dir.path().string()), true);
    int ticks = 1;
    while (!m_model.StepPendingRefresh(0)) {
        EXPECT_TRUE(m_model.IsPopulating());
        ++ticks;
    }
    EXPECT_GT(ticks, 1);
    EXPECT_FALSE(m_model.IsRefreshPending());
    EXPECT_EQ(Labels(m_model), whole);
}

TEST_F(ListModelTest, SelectionFollowsItsItemAndPaths) {
    m_model.Refresh(CShellPath(m_dir.path().string()));
    CShellPath c((m_dir / "c.bmp").string());
    ASSERT_TRUE(m_model.SelectItemByPath(c));
    int selected = m_model.GetSelectedIndex();
    EXPECT_EQ(m_model.GetItem(static_cast<size_t>(selected)).name(), "c.bmp");
    m_model.SetSortOrder(kSortBySizeLargestFirst);
    m_model.Sort();
    EXPECT_EQ(m_model.GetItem(static_cast<size_t>(m_model.GetSelectedIndex())).name(), "c.bmp");
    EXPECT_EQ(m_model.SelectListItem(-1), m_model.FindItemByPath(c));
    EXPECT_EQ(m_model.GetSelectedIndex(), -1);
    EXPECT_EQ(m_model.SelectListItem(99), -1) << "out of range changes nothing";
    EXPECT_FALSE(m_model.SelectItemByPath(CShellPath((m_dir / "nothing.jpg").string())));
    m_model.SetShowFileExtensions(false);
    EXPECT_EQ(m_model.FindItemByLabel("A"),
              m_model.FindItemByPath(CShellPath((m_dir / "A.png").string())));
    EXPECT_EQ(m_model.FindItemByLabel("A.png"), -1);
    EXPECT_EQ(m_model.FindItemByLabel("Alpha"), 0) << "folders keep their whole names";
    // The model installs the imaging filters' names for the type texts.
    EXPECT_EQ(m_model.GetItem(size_t(m_model.FindItemByLabel("b"))).GetTypeText(), "JPEG Picture");
}

TEST_F(ListModelTest, DrivesFolderItemsAreDriveRootsWithoutSizeOrDate) {
    m_model.Refresh(CShellPath(kDrivesParsingName));
    EXPECT_TRUE(m_model.ShowsDrivesFolder());
    ASSERT_GT(m_model.GetItemCount(), 0u) << "the root file system at least";
    for (const auto& item : m_model.items()) {
        SCOPED_TRACE(item->GetItemPath());
        EXPECT_EQ(item->GetKind(), ListItemKind::Folder);
        EXPECT_EQ(item->size(), 0u);
        EXPECT_EQ(item->time_modified(), 0);
        EXPECT_EQ(item->GetSortGroup(), kSortGroupDriveRoot);
        EXPECT_EQ(item->GetSortName(), item->path().GetPathText()) << "sorted by mount point";
        EXPECT_EQ(item->GetSizeText(), "");
        EXPECT_EQ(item->GetDateText(), "");
        EXPECT_EQ(item->GetTypeText(), MimeTypeDescription(kMountPointMimeType));
    }
    m_model.Refresh(CShellPath(m_dir.path().string()));
    EXPECT_FALSE(m_model.ShowsDrivesFolder());
}

}  // namespace
}  // namespace scopa
