// The shell namespace and CShellPath on real temporary folder trees.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mime_types.h"
#include "platform/volumes.h"
#include "shell/shell_path.h"
#include "support/environment_variable.h"
#include "support/fresh_process.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;
using test::ScopedTempDir;
using test::WriteFileBytes;

// An item-ID list from raw items: each string is one item's payload after its count.
std::vector<std::uint8_t> MakeList(const std::vector<std::string>& payloads) {
    std::vector<std::uint8_t> list;
    for (const std::string& payload : payloads) {
        size_t cb = payload.size() + 2;
        list.push_back(static_cast<std::uint8_t>(cb & 0xFF));
        list.push_back(static_cast<std::uint8_t>(cb >> 8));
        list.insert(list.end(), payload.begin(), payload.end());
    }
    list.push_back(0);
    list.push_back(0);
    return list;
}

std::vector<std::uint8_t> Bytes(const ItemIdList* list) {
    return std::vector<std::uint8_t>(list, list + IdlGetSize(list));
}

std::vector<std::string> ChildTexts(CShellPath folder, bool sub_folders_only) {
    std::vector<std::string> texts;
    CShellPath child;
    bool more = sub_folders_only ? folder.FirstSubFolder(child) : folder.FirstChild(child);
    while (more) {
        texts.push_back(child.GetPathText());
        more = folder.NextChild(child);
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

TEST(ItemIdListTest, CountsSizesCopiesAndCombines) {
    std::vector<std::uint8_t> list = MakeList({"ab", "cde", "f"});
    EXPECT_EQ(IdlCount(list.data()), 3u);
    EXPECT_EQ(IdlGetSize(list.data()), 4u + 5u + 3u + 2u);
    EXPECT_EQ(IdlCount(nullptr), 0u);
    EXPECT_EQ(IdlGetSize(nullptr), 0u);
    EXPECT_EQ(IdlNext(nullptr), nullptr);
    EXPECT_EQ(IdlNext(list.data()), list.data() + 4);

    EXPECT_EQ(Bytes(IdlClone(list.data()).get()), list);
    EXPECT_EQ(Bytes(IdlCopyItem(list.data(), 2).get()), MakeList({"cde"}));
    EXPECT_EQ(IdlCopyItem(list.data(), 0), nullptr);
    EXPECT_EQ(IdlCopyItem(list.data(), 4), nullptr);
    EXPECT_EQ(IdlCopyItem(nullptr, 1), nullptr);
    EXPECT_EQ(Bytes(IdlCopyFirst(list.data(), 2).get()), MakeList({"ab", "cde"}));
    EXPECT_EQ(Bytes(IdlCopyFirst(list.data(), 0).get()), MakeList({}));

    std::vector<std::uint8_t> tail = MakeList({"xy"});
    EXPECT_EQ(Bytes(IdlCombine(list.data(), tail.data()).get()),
              MakeList({"ab", "cde", "f", "xy"}));
    EXPECT_EQ(Bytes(IdlCombine(nullptr, tail.data()).get()), tail);
    EXPECT_EQ(IdlCombine(nullptr, nullptr), nullptr);

    EXPECT_EQ(ShellAlloc(0), nullptr);
    ShellFree(nullptr);
}

TEST(ItemIdListTest, DamagedCountEndsTheListInsteadOfLooping) {
    std::vector<std::uint8_t> list = {4, 0, 'a', 'b', 1, 0, 9, 9};
    EXPECT_EQ(IdlCount(list.data()), 1u);
    EXPECT_EQ(IdlGetSize(list.data()), 6u);
    EXPECT_EQ(Bytes(IdlClone(list.data()).get()), MakeList({"ab"}));
}

TEST(PathTextTest, NormalizeUpperCasesAndDropsOneTrailingSlash) {
    EXPECT_EQ(NormalizePathText("/pics/Été/"), "/PICS/ÉTé");
    EXPECT_EQ(NormalizePathText("/pics//"), "/PICS/");
    EXPECT_EQ(NormalizePathText("/"), "/");
    EXPECT_EQ(NormalizePathText(""), "");
    EXPECT_TRUE(SamePathText("/media/cd/photos/", "/MEDIA/CD/Photos"));
    EXPECT_FALSE(SamePathText("/media/cd/photos", "/media/cd/photo"));
}

TEST(ShellPathTest, DesktopIsTheRoot) {
    CShellPath desktop;
    CShellPath any("/");
    ASSERT_TRUE(any.GetAncestor(0, desktop));
    ASSERT_TRUE(desktop.HasIdList());
    EXPECT_EQ(desktop.GetDepth(), 0u);
    EXPECT_TRUE(desktop.IsDesktop());
    EXPECT_TRUE(desktop.IsFolder());
    EXPECT_FALSE(desktop.HasSubFolders());
    EXPECT_EQ(desktop.GetDisplayName(), "Desktop");
    EXPECT_EQ(desktop.GetPathText(), "Desktop");
    EXPECT_TRUE(desktop.GetParent().IsEmpty());
    EXPECT_FALSE(any.GetAncestor(any.GetDepth() + 1, desktop));
}

TEST(ShellPathTest, AbsolutePathsParseThroughComputerAndTheirVolume) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "sub" / "photo.png", "x");
    std::string file = (dir / "sub" / "photo.png").string();
    CShellPath path = CShellPath::FromHostText(" " + file + "\t");
    EXPECT_EQ(path.GetPathText(), file);
    ASSERT_TRUE(path.HasIdList());

    std::optional<Volume> volume = VolumeOfPath(file);
    ASSERT_TRUE(volume);
    CShellPath computer, drive;
    ASSERT_TRUE(path.GetAncestor(1, computer));
    EXPECT_TRUE(computer.IsMyComputer());
    EXPECT_EQ(computer.GetPathText(), "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    EXPECT_EQ(computer.GetDisplayName(), "Computer");
    ASSERT_TRUE(path.GetAncestor(2, drive));
    EXPECT_EQ(drive.GetPathText(), volume->mount_point);
    EXPECT_TRUE(drive.IsFolder());

    // The list names the same file again, and its parent is the folder that holds it.
    EXPECT_EQ(CShellPath(path.GetIdList()).GetPathText(), file);
    EXPECT_EQ(path.GetParent().GetPathText(), (dir / "sub").string());
    EXPECT_EQ(path.GetDisplayName(), "photo.png");
    EXPECT_FALSE(path.IsFolder());
    EXPECT_EQ(path.GetFolderPart(), (dir / "sub").string());
    EXPECT_EQ(path.GetExtension(), "png");

    // Redundant separators and dot components name the same item; the text stays as given.
    CShellPath untidy((dir / "sub" / ".." / "sub" / "." / "photo.png").string());
    EXPECT_EQ(Bytes(untidy.GetIdList()), Bytes(path.GetIdList()));
    EXPECT_EQ(CShellPath(untidy.GetIdList()).GetPathText(), file);
    EXPECT_EQ(CShellPath(kDrivesParsingName).GetDepth(), 1u);
    EXPECT_TRUE(CShellPath("::{20d04fe0-3aea-1069-a2d8-08002b30309d}").IsMyComputer());
    EXPECT_FALSE(CShellPath("relative/path").HasIdList());
}

TEST(ShellPathTest, ResolveFolderFindsTheFolderToShow) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "pics" / "a.png", "x");
    CShellPath out;

    ASSERT_TRUE(CShellPath((dir / "pics").string()).ResolveFolder(out));
    EXPECT_EQ(out.GetPathText(), (dir / "pics").string());
    ASSERT_TRUE(CShellPath((dir / "pics" / "a.png").string()).ResolveFolder(out));
    EXPECT_EQ(out.GetPathText(), (dir / "pics").string());

    CShellPath missing((dir / "pics" / "gone" / "deeper.png").string());
    EXPECT_FALSE(missing.HasIdList());
    ASSERT_TRUE(missing.ResolveFolder(out));
    EXPECT_EQ(out.GetPathText(), (dir / "pics").string());

    CShellPath unparsable("nowhere at all");
    out = CShellPath((dir / "pics").string());
    EXPECT_FALSE(unparsable.ResolveFolder(out));
    EXPECT_EQ(out.GetPathText(), (dir / "pics").string());
}

TEST(ShellPathTest, CompareOrdersDepthThenShellOrderThenText) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "b.png", "x");
    WriteFileBytes(dir / "A.png", "x");
    WriteFileBytes(dir / "a.png", "x");
    WriteFileBytes(dir / "zz" / "a.png", "x");
    CShellPath folder(dir.path().string());
    CShellPath deep((dir / "zz" / "a.png").string());
    CShellPath upper((dir / "A.png").string());
    CShellPath lower((dir / "a.png").string());
    CShellPath b((dir / "b.png").string());

    EXPECT_LT(CShellPath::Compare(folder, deep), 0);
    EXPECT_GT(CShellPath::Compare(deep, b), 0);  // deeper goes after, whatever its name
    EXPECT_LT(CShellPath::Compare(lower, b), 0);
    EXPECT_GT(CShellPath::Compare(b, upper), 0);
    // Names that differ only in case are different files.
    EXPECT_NE(CShellPath::Compare(upper, lower), 0);
    EXPECT_EQ(CShellPath::Compare(lower, CShellPath(lower)), 0);
    // Same name in different folders of the same depth: not equal.
    WriteFileBytes(dir / "yy" / "a.png", "x");
    EXPECT_NE(CShellPath::Compare(deep, CShellPath((dir / "yy" / "a.png").string())), 0);
    // Without lists the texts decide, without case.
    EXPECT_EQ(CShellPath::Compare(CShellPath("/no/such/X"), CShellPath("/NO/such/x")), 0);
    EXPECT_LT(CShellPath::Compare(CShellPath("/no/such/a"), CShellPath("/no/such/B")), 0);
}

TEST(ShellPathTest, EnumerationGivesEntriesHiddenIncludedOrSubFoldersOnly) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "a.png", "x");
    WriteFileBytes(dir / ".hidden.png", "x");
    WriteFileBytes(dir / "sub" / "inner.png", "x");
    WriteFileBytes(dir / ".secret" / "x.png", "x");
    WriteFileBytes(dir / std::string("bad\xff\xfe.png"), "x");
    fs::create_symlink(dir / "sub", dir / "link-to-sub");
    fs::create_symlink(dir / "nothing", dir / "dangling");
    std::string root = dir.path().string();

    EXPECT_EQ(ChildTexts(CShellPath(root), false),
              (std::vector<std::string>{root + "/.hidden.png", root + "/.secret", root + "/a.png",
                                        root + "/bad\xff\xfe.png", root + "/dangling",
                                        root + "/link-to-sub", root + "/sub"}));
    EXPECT_EQ(ChildTexts(CShellPath(root), true),
              (std::vector<std::string>{root + "/link-to-sub", root + "/sub"}));

    // An enumerated child is a whole path of its own.
    CShellPath folder(root);
    CShellPath child;
    for (bool more = folder.FirstChild(child); more && child.GetDisplayName() != "sub";)
        more = folder.NextChild(child);
    ASSERT_EQ(child.GetDisplayName(), "sub");
    EXPECT_TRUE(child.IsFolder());
    EXPECT_FALSE(child.HasSubFolders());
    EXPECT_EQ(child.GetParent().GetPathText(), root);
    EXPECT_EQ(CShellPath::Compare(child, CShellPath(root + "/sub")), 0);
    EXPECT_TRUE(CShellPath(root).HasSubFolders());

    // A folder that cannot be read enumerates nothing.
    CShellPath gone(root + "/sub");
    fs::remove_all(dir / "sub");
    EXPECT_FALSE(gone.FirstChild(child));
}

TEST(ShellPathTest, EntriesVanishingDuringEnumerationGoQuietly) {
    ScopedTempDir dir;
    constexpr int kEntries = 200;
    for (int i = 0; i < kEntries; ++i)
        WriteFileBytes(dir / ("f" + std::to_string(i) + ".png"), "x");
    CShellPath folder(dir.path().string());
    CShellPath child;
    ASSERT_TRUE(folder.FirstChild(child));
    for (int i = 0; i < kEntries; ++i)
        fs::remove(dir / ("f" + std::to_string(i) + ".png"));
    int seen = 0;
    do {
        ++seen;
        EXPECT_EQ(child.GetStatus().attributes & ~kFileStatusLoaded, 0) << child.GetPathText();
    } while (folder.NextChild(child) && seen <= kEntries);
    EXPECT_LE(seen, kEntries);
}

TEST(ShellPathTest, DesktopHoldsComputerHomeAndTheDesktopFolder) {
    ScopedTempDir home;
    WriteFileBytes(home / "Desktop" / "note.txt", "x");
    fs::create_directories(home / "Desktop" / "Projects");
    test::ScopedEnvironmentVariable scoped_home("HOME", home.path().c_str());

    CShellPath desktop;
    ASSERT_TRUE(CShellPath("/").GetAncestor(0, desktop));
    std::vector<std::string> names;
    CShellPath child;
    for (bool more = desktop.FirstChild(child); more; more = desktop.NextChild(child)) {
        names.push_back(child.GetDisplayName());
        EXPECT_EQ(child.GetDepth(), 1u);
        if (child.GetDisplayName() == "Home") {
            EXPECT_EQ(child.GetPathText(), home.path().string());
            EXPECT_TRUE(child.IsFolder());
        }
        if (child.GetDisplayName() == "note.txt") {
            EXPECT_EQ(child.GetPathText(), (home / "Desktop" / "note.txt").string());
            EXPECT_EQ(child.GetSize(), 1u);
        }
    }
    ASSERT_EQ(names.size(), 4u);
    std::sort(names.begin() + 2, names.end());  // the folder's own entries come unordered
    EXPECT_EQ(names, (std::vector<std::string>{"Computer", "Home", "Projects", "note.txt"}));
    // Sub-folders of the Desktop: no files.
    std::vector<std::string> folders = ChildTexts(desktop, true);
    EXPECT_EQ(folders.size(), 3u);
}

TEST(ShellPathTest, ComputerListsTheMountedVolumesAsFolders) {
    CShellPath computer(kDrivesParsingName);
    std::set<std::string> listed;
    CShellPath child;
    for (bool more = computer.FirstChild(child); more; more = computer.NextChild(child)) {
        listed.insert(child.GetPathText());
        EXPECT_TRUE(child.IsFolder());
        EXPECT_EQ(child.GetDepth(), 2u);
        EXPECT_FALSE(child.GetDisplayName().empty());
        EXPECT_EQ(child.GetTypeName(), MimeTypeDescription(kMountPointMimeType));
    }
    std::set<std::string> expected;
    for (const Volume& volume : ListVolumes())
        expected.insert(volume.mount_point);
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(listed.count("/"));
}

TEST(ShellPathTest, StatusIsLazySixtyFourBitAndCopiedWithThePath) {
    ScopedTempDir dir;
    std::string big = (dir / "big.bin").string();
    // Beyond 32 bits: a sparse 5 GiB file dated 2100.
    constexpr std::uint64_t kFiveGiB = 5ull << 30;
    constexpr std::int64_t kYear2100 = 4102444800;
    test::WriteSizedFile(big, kFiveGiB, kYear2100);

    CShellPath path(big);
    CShellPath copy = path;  // not read yet: the copy reads it itself
    EXPECT_EQ(path.GetSize(), kFiveGiB);
    EXPECT_EQ(path.GetModifiedTime(), kYear2100);
    EXPECT_TRUE(path.GetStatus().attributes & kFileStatusLoaded);
    fs::remove(big);
    CShellPath copied_after = path;  // read already: the copy keeps what was read
    EXPECT_EQ(copied_after.GetSize(), kFiveGiB);
    EXPECT_EQ(copy.GetSize(), 0u);  // the file was gone when the copy first asked

    fs::create_directories(dir / ".cfg");
    CShellPath later((dir / ".cfg").string());
    EXPECT_EQ(later.GetStatus().attributes & (kFileAttributeHidden | kFileAttributeDirectory),
              kFileAttributeHidden | kFileAttributeDirectory);
    EXPECT_EQ(CShellPath().GetStatus().attributes, kFileStatusLoaded);
}

TEST(ShellPathTest, DanglingAndLoopingLinksAreItemsWithoutStatus) {
    ScopedTempDir dir;
    fs::create_symlink(dir / "missing", dir / "dangling.png");
    fs::create_symlink(dir / "loop-b", dir / "loop-a");
    fs::create_symlink(dir / "loop-a", dir / "loop-b");
    for (const char* name : {"dangling.png", "loop-a"}) {
        CShellPath path((dir / name).string());
        EXPECT_TRUE(path.HasIdList()) << name;
        EXPECT_FALSE(path.IsFolder()) << name;
        EXPECT_EQ(path.GetSize(), 0u) << name;
        EXPECT_EQ(path.GetStatus().attributes, kFileStatusLoaded) << name;
    }
}

TEST(ShellPathTest, TypeAndIconNamesComeFromTheMimeDatabase) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "photo.PNG", "x");
    WriteFileBytes(dir / "data.xyzq", "x");
    fs::create_directories(dir / "folder");
    ASSERT_EQ(MimeTypeOfName("photo.PNG"), "image/png");
    ASSERT_FALSE(MimeTypeDescription("image/png").empty());

    CShellPath photo((dir / "photo.PNG").string());
    EXPECT_EQ(photo.GetTypeName(), MimeTypeDescription("image/png"));
    EXPECT_EQ(photo.GetIconName(kShgfiSmallIcon), "image-png");
    EXPECT_EQ(IconNameOfIndex(photo.GetIconIndex(kShgfiSmallIcon)), "image-png");
    EXPECT_EQ(CShellPath((dir / "data.xyzq").string()).GetTypeName(), "XYZQ File");
    CShellPath folder((dir / "folder").string());
    EXPECT_EQ(folder.GetTypeName(), MimeTypeDescription(kFolderMimeType));
    EXPECT_EQ(folder.GetIconName(kShgfiSmallIcon), "folder");
    EXPECT_EQ(folder.GetIconName(kShgfiSmallIcon | kShgfiOpenIcon), "folder-open");
}

// A MIME database of our own, written as shared-mime-info writes one (without its binary
// cache) and tried in a fresh process, since GIO takes the database's folders from the
// environment only at its first use.
class OwnMimeDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::path mime = m_dir / "mime";
        WriteFileBytes(mime / "globs2",
                       "60:application/x-big:*.big\n"
                       "50:application/x-tarball:*.tar.big\n"
                       "40:image/x-lower:*.up\n");
        WriteFileBytes(mime / "aliases", "application/x-old application/x-big\n");
        WriteFileBytes(mime / "icons", "application/x-big:big-icon\n");
        WriteFileBytes(mime / "generic-icons", "application/x-big:package-x-generic\n");
        WriteFileBytes(mime / "application" / "x-big.xml",
                       "<?xml version=\"1.0\"?>\n<mime-type type=\"application/x-big\">\n"
                       "  <comment>Big &amp; &lt;bold&gt; data</comment>\n"
                       "  <comment xml:lang=\"de\">Gro\xC3\x9F"
                       "e Daten</comment>\n</mime-type>\n");
    }
    // In the child: only this database, and the messages language `language`.
    void UseDatabase(const char* language) {
        setenv("XDG_DATA_HOME", m_dir.path().c_str(), 1);
        setenv("XDG_DATA_DIRS", (m_dir.path() / "none").c_str(), 1);
        setenv("LANGUAGE", language, 1);
    }

    test::FreshProcessDeathTests m_fresh;
    ScopedTempDir m_dir;
};

void CheckTypesOfNames(const fs::path& made_here) {
    struct Case {
        const char* name;
        const char* mime_type;
        const char* type_text;
    };
    const Case cases[] = {
        {"a.BIG", "application/x-big", "Big & <bold> data"},        // globs ignore case
        {"caf\xE9.big", "application/x-big", "Big & <bold> data"},  // not UTF-8
        {"a.tar.big", "application/x-tarball", "BIG File"},  // longest suffix; no description
        {"x.up", "image/x-lower", "UP File"},
        {"x.qqq", "", "QQQ File"},
        {"noextension", "", ""},  // this database does not describe unknown data
        {"", "", ""},
    };
    test::ChildReport report;
    for (const Case& c : cases) {
        report.ExpectEq(MimeTypeOfName(c.name), c.mime_type, std::string("type of ") + c.name);
        report.ExpectEq(FileTypeText(c.name), c.type_text, std::string("text of ") + c.name);
    }
    report.ExpectEq(MimeTypeDescription("application/x-old"), "Big & <bold> data", "alias");
    report.ExpectEq(MimeTypeDescription("../../etc/passwd"), "", "not a type");
    report.ExpectEq(MimeTypeIconName("application/x-big"), "big-icon", "own icon");
    report.ExpectEq(MimeTypeIconName("image/x-lower"), "image-x-lower", "icon");
    report.ExpectEq(MimeTypeGenericIconName("application/x-big"), "package-x-generic", "generic");
    report.ExpectEq(MimeTypeGenericIconName("image/x-lower"), "image-x-generic", "generic");
    report.ExitWithReport(made_here);
}

TEST_F(OwnMimeDatabaseTest, NamesTypesTextsAndIconsComeFromTheDatabase) {
    EXPECT_EXIT((UseDatabase("C"), CheckTypesOfNames(m_dir.path())), ::testing::ExitedWithCode(0),
                "");
}

TEST_F(OwnMimeDatabaseTest, DescriptionsComeInTheUsersLanguage) {
    auto check = [this] {
        UseDatabase("de");
        test::ChildReport report;
        report.ExpectEq(FileTypeText("a.big"),
                        "Gro\xC3\x9F"
                        "e Daten",
                        "German text");
        report.ExitWithReport(m_dir.path());
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
}

TEST(ShellPathTest, EnumeratedLinksBringWhatWasReadOfThem) {
    test::ScopedTempDir dir;
    fs::path folder = fs::canonical(dir.path()) / "shown";
    test::WriteFileBytes(folder / "real" / "a.png", "12345");
    test::WriteFileBytes(folder / "plain.png", "");
    fs::create_symlink("real/a.png", folder / "link.png");
    fs::create_symlink("link.png", folder / "chain.png");
    fs::create_symlink("missing.png", folder / "dangling.png");
    CShellPath parent(folder.string());
    std::map<std::string, std::pair<CShellPath, EntryDetails>> children;
    CShellPath child;
    EntryDetails details;
    for (bool more = parent.FirstChild(child, &details); more;
         more = parent.NextChild(child, &details)) {
        children[child.GetDisplayName()] = {child, details};
    }
    ASSERT_EQ(children.size(), 5u);
    EXPECT_FALSE(children["plain.png"].second.link);
    EXPECT_FALSE(children["real"].second.link);

    // A link ending at its destination: the destination's status is in hand and kept.
    const auto& [link, link_details] = children["link.png"];
    EXPECT_TRUE(link_details.link);
    EXPECT_EQ(link_details.destination, "real/a.png");
    EXPECT_TRUE(link_details.destination_read);
    fs::remove(folder / "real" / "a.png");
    EXPECT_EQ(link.GetSize(), 5u) << "read while enumerating, not again";

    // A chain or a dangling link leaves the status to be read when asked.
    const auto& [chain, chain_details] = children["chain.png"];
    EXPECT_EQ(chain_details.destination, "link.png");
    EXPECT_FALSE(chain_details.destination_read);
    EXPECT_EQ(chain.GetStatus().attributes, kFileStatusLoaded) << "its end is gone now";
    const auto& [dangling, dangling_details] = children["dangling.png"];
    EXPECT_TRUE(dangling_details.link);
    EXPECT_EQ(dangling_details.destination, "missing.png");
    EXPECT_FALSE(dangling_details.destination_read);
}

TEST(ShellPathTest, LinksIntoSharedFoldersEachReadTheirOwnDestination) {
    test::ScopedTempDir dir;
    fs::path root = fs::canonical(dir.path());
    // Sizes tell the destinations apart; links into two folders, read in directory order.
    fs::create_directories(root / "links");
    std::map<std::string, std::uint64_t> expected;
    for (int i = 0; i < 6; ++i) {
        std::string n = std::to_string(i);
        test::WriteFileBytes(root / "store" / ("f" + n + ".png"), std::string(i + 1, 'x'));
        test::WriteFileBytes(root / "other" / ("g" + n + ".png"), std::string(i + 10, 'x'));
        fs::create_symlink("../store/f" + n + ".png", root / "links" / ("s" + n));
        fs::create_symlink(root / "other" / ("g" + n + ".png"), root / "links" / ("t" + n));
        expected["s" + n] = i + 1;
        expected["t" + n] = i + 10;
    }
    fs::create_symlink("../store/missing.png", root / "links" / "dangling");
    CShellPath parent((root / "links").string());
    CShellPath child;
    EntryDetails details;
    std::map<std::string, std::uint64_t> sizes;
    for (bool more = parent.FirstChild(child, &details); more;
         more = parent.NextChild(child, &details)) {
        EXPECT_EQ(details.destination_read, child.GetDisplayName() != "dangling");
        sizes[child.GetDisplayName()] = child.GetSize();
    }
    expected["dangling"] = 0;
    EXPECT_EQ(sizes, expected);
}

}  // namespace
}  // namespace scopa
