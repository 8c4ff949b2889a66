// Folder population on real temporary folder trees: the kind table per filter, extension
// sets, include files and their loops, hidden files by the registry setting, shortcuts,
// the backdrop, the keyword filter and folders that cannot be read or change meanwhile.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/document_writer.h"
#include "fixtures/shell_link_writer.h"
#include "list/population.h"
#include "platform/registry.h"
#include "platform/volumes.h"
#include "shell/shell_link.h"
#include "support/pe_builder.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;
using test::ScopedTempDir;
using test::WriteFileBytes;

// Collects what population appends, in order.
struct CollectingSink final : IPopulationSink, IListItemOwner {
    std::vector<std::unique_ptr<CListItem>> items;
    const IListItemOwner* ItemOwner() const override { return this; }
    void AppendItem(std::unique_ptr<CListItem> item) override { items.push_back(std::move(item)); }
    bool ShowFileExtensions() const override { return true; }
    bool ShowsDrivesFolder() const override { return false; }

    // "name:kind" of every item, in population order.
    std::vector<std::string> Entries() const {
        std::vector<std::string> out;
        for (const auto& item : items) {
            out.push_back(item->name() + ":" + std::string(ListItemKindName(item->GetKind())));
        }
        return out;
    }
    std::vector<std::string> SortedEntries() const {
        std::vector<std::string> out = Entries();
        std::sort(out.begin(), out.end());
        return out;
    }
};

// The registry store and the process-wide settings start clean for every test.
class PopulationTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegistryResetStore();
        InstallBuiltInFilterExtensions();
        SetKeywordFilter("");
    }
    void TearDown() override {
        RegistryResetStore();
        InstallBuiltInFilterExtensions();
        SetKeywordFilter("");
    }

    static std::vector<std::string> List(const fs::path& folder, PopulationOptions options = {},
                                         std::string* backdrop = nullptr) {
        CollectingSink sink;
        std::string found;
        Populate(sink, CShellPath(folder.string()), options, found);
        if (backdrop != nullptr) *backdrop = found;
        return sink.SortedEntries();
    }
    static std::vector<std::string> List(const fs::path& folder, const std::string& filter) {
        PopulationOptions options;
        options.filter = filter;
        return List(folder, options);
    }

    static void SetHiddenValue(DWORD value) {
        RegistryKey key = RegistryKey::Create(HKEY_CURRENT_USER, kExplorerAdvancedKey);
        ASSERT_TRUE(key.WriteDword(kHiddenValueName, value));
    }

    test::SandboxedEnvironment m_sandbox;
    ScopedTempDir m_dir;
};

std::string DtpDocument(const char* keywords = nullptr) {
    std::string dib = fixtures::PackedDib(4, 4, 24, "");
    std::vector<std::pair<std::string, std::string>> more;
    if (keywords != nullptr) {
        more.emplace_back("\x05SummaryInformation", fixtures::SummaryInformationStream(keywords));
    }
    return fixtures::CompoundDocument(fixtures::DtpContents(210, dib), more);
}

// One file of every kind population tells apart, and a folder.
void MakeKindTree(const fs::path& root) {
    std::string dib = fixtures::PackedDib(4, 4, 24, "");
    fs::create_directories(root / "Sub.folder");
    for (const char* name : {"a.jpg", "b.PNG", "c.bmp", "d.wmf", "e.svg", "notes.txt"}) {
        WriteFileBytes(root / name, "");
    }
    WriteFileBytes(root / "Report.dtp", DtpDocument());
    WriteFileBytes(root / "Template.TPL", DtpDocument());
    WriteFileBytes(root / "Fake.dtp", "not a compound document");
    WriteFileBytes(root / "Cut.srp", fixtures::CompoundDocument(fixtures::ScrapContents(dib)));
    WriteFileBytes(root / "Drawing.art", fixtures::ArtPlainFile(257, dib));
    WriteFileBytes(root / "Bit.dsp", fixtures::ArtPlainFile(257, dib));
    WriteFileBytes(root / "Story.flx",
                   fixtures::CompoundDocument(fixtures::FlourishContents(210, "FLRT", dib)));
    WriteFileBytes(root / "Old.flx",
                   fixtures::CompoundDocument(fixtures::FlourishContents(209, "FLRT", dib)));
    WriteFileBytes(root / "Mine.qor", "");
    WriteFileBytes(root / "Page.html", "");
}

TEST_F(PopulationTest, EachFilterShowsFoldersAndItsOwnKinds) {
    MakeKindTree(m_dir.path());
    struct Case {
        std::string filter;
        std::vector<std::string> expected;  // besides the folder, sorted
    };
    const std::vector<Case> cases = {
        {"PCF",
         {"a.jpg:picture", "b.PNG:picture", "c.bmp:picture", "d.wmf:picture", "e.svg:picture"}},
        {"BMF", {"a.jpg:picture", "b.PNG:picture", "c.bmp:picture"}},
        {"LAF", {"d.wmf:picture", "e.svg:picture"}},
        {"JPG", {"a.jpg:picture"}},
        {"QOR", {"Mine.qor:custom"}},
        {"DTP", {"Report.dtp:dtp", "Template.TPL:dtp"}},
        {"SRP", {"Cut.srp:scrap"}},
        {"ART", {"Drawing.art:art"}},
        {"DSP", {"Bit.dsp:snippet"}},
        {"FLX", {"Story.flx:styledtext"}},
        {"dtp", {}},  // compared case-sensitively: a picture identifier no filter has
        {"XYZ", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> expected = c.expected;
        expected.push_back("Sub.folder:folder");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(List(m_dir.path(), c.filter), expected) << "filter " << c.filter;
    }
}

TEST_F(PopulationTest, ExtensionSetsParseFourCharactersAtEachDot) {
    ExtensionSet set;
    ParseExtensions(set, "*.dtp;*.TPL");
    EXPECT_EQ(set, (ExtensionSet{".DTP", ".TPL"}));
    ParseExtensions(set, "*.HTML;*.A");
    EXPECT_EQ(set, (ExtensionSet{".HTM", ".A"}));
    ParseExtensions(set, "no dots");
    EXPECT_TRUE(set.empty());
    ParseExtensions(set, "*.QOR;*.LCP;*.CAN");
    EXPECT_TRUE(MatchesExtension(set, "/x/Picture.lcp"));
    EXPECT_FALSE(MatchesExtension(set, "/x/Picture.lcpx"));
    EXPECT_FALSE(MatchesExtension(set, "QOR"));
    ParseExtensions(set, "*.HTML");
    EXPECT_FALSE(MatchesExtension(set, "/x/Page.html")) << "four-letter extensions never match";
}

TEST_F(PopulationTest, SetFilterExtensionsReplacesOneNamedSet) {
    std::string dib = fixtures::PackedDib(4, 4, 24, "");
    WriteFileBytes(m_dir / "Drawing.art", fixtures::ArtPlainFile(257, dib));
    WriteFileBytes(m_dir / "Shape.tem", fixtures::ArtPlainFile(257, dib));
    EXPECT_EQ(List(m_dir.path(), "ART"),
              (std::vector<std::string>{"Drawing.art:art", "Shape.tem:art"}));
    EXPECT_TRUE(SetFilterExtensions("ART", "*.ART"));
    EXPECT_EQ(List(m_dir.path(), "ART"), (std::vector<std::string>{"Drawing.art:art"}));
    EXPECT_FALSE(SetFilterExtensions("art", "*.TEM")) << "kinds are compared case-sensitively";
    EXPECT_FALSE(SetFilterExtensions("PCF", "*.TEM"));
    EXPECT_EQ(GetExtensionSet(DocumentSet::Art), (ExtensionSet{".ART"}));
    InstallBuiltInFilterExtensions();
    EXPECT_EQ(GetExtensionSet(DocumentSet::Art), (ExtensionSet{".ART", ".TEM"}));
    EXPECT_EQ(GetExtensionSet(DocumentSet::Custom), (ExtensionSet{".QOR", ".LCP", ".CAN"}));
}

TEST_F(PopulationTest, KeywordFilterAppliesToDtpDocuments) {
    WriteFileBytes(m_dir / "Blue.dtp", DtpDocument("dark blue"));
    WriteFileBytes(m_dir / "Red.dtp", DtpDocument("Red"));
    WriteFileBytes(m_dir / "None.dtp", DtpDocument());
    EXPECT_EQ(List(m_dir.path(), "DTP").size(), 3u);
    EXPECT_TRUE(SetKeywordFilter("red, blue"));
    EXPECT_FALSE(SetKeywordFilter("red, blue")) << "unchanged";
    // The token rules themselves are checked with the document tests.
    EXPECT_EQ(List(m_dir.path(), "DTP"), (std::vector<std::string>{"Blue.dtp:dtp"}));
}

TEST_F(PopulationTest, PilotsAreRecognisedByVersionMarkOrRegistration) {
    if (!test::HavePeTools()) GTEST_SKIP() << "no cross binutils";
    test::PilotProgram marked;  // its Comments say "For QLMK hosts"
    marked.file_name = "Marked.dll";
    test::PilotProgram unmarked;
    unmarked.file_name = "Tool.exe";
    unmarked.tables = {{"040904b0", ""}};
    fs::path shown = m_dir / "shown";
    fs::create_directories(shown);
    fs::copy_file(test::BuildPilot(m_dir / "b1", marked), shown / "Marked.dll");
    fs::copy_file(test::BuildPilot(m_dir / "b2", unmarked), shown / "Tool.exe");
    EXPECT_EQ(List(shown, "DTP"), (std::vector<std::string>{"Marked.dll:pilot"}));
    EXPECT_TRUE(List(shown, "ART").empty()) << "marked for the other application";
    RegistryKey::Create(HKEY_LOCAL_MACHINE, std::string(kArtPilotsKey) + "Tool");
    EXPECT_EQ(List(shown, "ART"), (std::vector<std::string>{"Tool.exe:pilot"}));
}

// ---- include files ----

TEST_F(PopulationTest, IncludeTextTakesTrimmedLinesUpToNewlineOrNul) {
    // Trimming and CR LF endings are checked by IncludeFilesMergeTheFoldersTheyNameInEveryForm.
    auto parse = [](std::string_view bytes) { return ParseIncludeText(bytes); };
    EXPECT_EQ(parse("/a\0garbage\nB\0x"sv)->first, "/a");
    EXPECT_EQ(parse("/a\0garbage\nB\0x"sv)->second, "B");
    EXPECT_EQ(parse("")->first, "");
    EXPECT_EQ(parse("only")->second, "");
    EXPECT_FALSE(parse(std::string(kMaxIncludeLineBytes + 1, 'x')).has_value());
    std::optional<IncludeLines> long_second =
        parse("?:/P\n" + std::string(kMaxIncludeLineBytes + 1, 'x'));
    ASSERT_TRUE(long_second.has_value());
    EXPECT_EQ(long_second->second, "");
}

TEST_F(PopulationTest, IncludeFileNamesBeginWithHashAndEndWithInc) {
    for (const char* name : {"/x/HASH0001.INC", "/x/hash.inc", "hashes.Inc"})
        EXPECT_TRUE(IsIncludeFileName(name)) << name;
    for (const char* name : {"/x/myHASH.INC", "/HASH/x.INC", "/x/HASH.INC.bak"})
        EXPECT_FALSE(IsIncludeFileName(name)) << name;
    EXPECT_EQ(ResolveInclude((m_dir / "plain.jpg").string(), {}), "");
}

// The line that names `folder` relative to the mount point of the volume that holds it.
std::string VolumeRelative(const fs::path& folder) {
    std::optional<Volume> volume = VolumeOfPath(folder.string());
    std::string text = folder.string();
    if (volume && volume->mount_point != "/") text = text.substr(volume->mount_point.size());
    return text;
}

TEST_F(PopulationTest, IncludeFilesMergeTheFoldersTheyNameInEveryForm) {
    fs::path shown = m_dir / "shown";
    WriteFileBytes(shown / "own.jpg", "");
    WriteFileBytes(m_dir / "slash" / "s.jpg", "");
    WriteFileBytes(m_dir / "back" / "b.jpg", "");
    WriteFileBytes(m_dir / "full" / "f.jpg", "");
    WriteFileBytes(m_dir / "disk" / "Photos" / "d.jpg", "");
    WriteFileBytes(shown / "HASH0001.INC", VolumeRelative(m_dir / "slash") + "\n");
    std::string back = VolumeRelative(m_dir / "back");
    std::replace(back.begin(), back.end(), '/', '\\');
    WriteFileBytes(shown / "hash0002.inc", "  " + back + "  \r\n");
    WriteFileBytes(shown / "Hash0003.Inc", (m_dir / "full").string());
    WriteFileBytes(shown / "HASH0004.INC", "?:/Photos\r\nHOLIDAY\r\n");
    std::map<std::string, std::string> drives = {{"HOLIDAY", (m_dir / "disk").string()}};
    PopulationOptions options;
    options.include.include_drives = &drives;
    CollectingSink sink;
    std::string backdrop = "unchanged";
    Populate(sink, CShellPath(shown.string()), options, backdrop);
    EXPECT_EQ(backdrop, "unchanged");
    std::vector<std::string> entries = sink.Entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0], "own.jpg:picture") << "the folder's own items come first";
    std::sort(entries.begin() + 1, entries.end());
    EXPECT_EQ(entries,
              (std::vector<std::string>{"own.jpg:picture", "b.jpg:picture", "d.jpg:picture",
                                        "f.jpg:picture", "s.jpg:picture"}));
    EXPECT_EQ(drives["HOLIDAY"], (m_dir / "disk").string());
}

// Asking for a missing disk, cancelling and remembering the drive are checked on
// FindFolderOnDisk itself with the shortcut tests.
TEST_F(PopulationTest, LabelledDisksAreFoundAmongTheMountedVolumesFirst) {
    fs::path shown = m_dir / "shown";
    WriteFileBytes(m_dir / "usb" / "Photos" / "u.jpg", "");
    WriteFileBytes(m_dir / "Photos" / "decoy.jpg", "");
    WriteFileBytes(shown / "HASH.INC", "?:\\Photos\nHOLIDAY\n");
    std::map<std::string, std::string> drives;
    int asked = 0;
    PopulationOptions options;
    options.include.include_drives = &drives;
    options.include.insert_disk_prompt = [&](CInsertCDRom&) { return ++asked, false; };
    // No volume carries the label: the user is asked and nothing is remembered.
    options.volume_finder = [](std::string_view) -> std::optional<Volume> { return std::nullopt; };
    if (FirstCdRomDrive().empty()) {
        EXPECT_TRUE(List(shown, options).empty());
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(drives.empty()) << "no empty drive is remembered";
    }
    // A USB stick with the label is mounted: found without a question, and remembered.
    options.volume_finder = [&](std::string_view label) -> std::optional<Volume> {
        if (label != "HOLIDAY") return std::nullopt;
        return Volume{(m_dir / "usb").string(), "/dev/sdb1", "vfat", "HOLIDAY",
                      DriveType::Removable};
    };
    asked = 0;
    EXPECT_EQ(List(shown, options), (std::vector<std::string>{"u.jpg:picture"}));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(drives["HOLIDAY"], (m_dir / "usb").string());
}

TEST_F(PopulationTest, IncludeLoopsEndAndEachFolderIsMergedOnce) {
    fs::path a = m_dir / "a";
    fs::path b = m_dir / "b";
    WriteFileBytes(a / "a.jpg", "");
    WriteFileBytes(b / "b.jpg", "");
    WriteFileBytes(a / "HASH_SELF.INC", a.string());
    WriteFileBytes(a / "HASH_B.INC", b.string());
    WriteFileBytes(b / "HASH_A.INC", a.string());
    WriteFileBytes(b / "HASH_B2.INC", (m_dir / "." / "b").string());
    fs::create_directory_symlink(a, m_dir / "link-to-a");
    WriteFileBytes(b / "HASH_LINK.INC", (m_dir / "link-to-a").string());
    EXPECT_EQ(List(a), (std::vector<std::string>{"a.jpg:picture", "b.jpg:picture"}));
    EXPECT_EQ(List(b), (std::vector<std::string>{"a.jpg:picture", "b.jpg:picture"}));
}

TEST_F(PopulationTest, BrokenIncludeFilesContributeNothing) {
    fs::path shown = m_dir / "shown";
    WriteFileBytes(shown / "own.jpg", "");
    WriteFileBytes(m_dir / "target" / "t.jpg", "");
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    WriteFileBytes(shown / "HASH1.INC", binary);
    WriteFileBytes(shown / "HASH2.INC", "");
    WriteFileBytes(shown / "HASH3.INC", std::string(3 << 20, 'x'));  // one huge line
    WriteFileBytes(shown / "HASH4.INC", (m_dir / "missing").string());
    WriteFileBytes(shown / "HASH5.INC", "\n" + (m_dir / "target").string());
    ASSERT_EQ(mkfifo((shown / "HASH7.INC").c_str(), 0600), 0);
    EXPECT_EQ(List(shown), (std::vector<std::string>{"own.jpg:picture"}));
    // Only a file can be an include file: a folder of that name is listed.
    fs::create_directories(shown / "HASH6.INC");
    EXPECT_EQ(List(shown), (std::vector<std::string>{"HASH6.INC:folder", "own.jpg:picture"}));
    fs::remove(shown / "HASH6.INC");
    // A huge file whose first line is sound is read no further than its first lines.
    WriteFileBytes(shown / "HASH3.INC",
                   (m_dir / "target").string() + "\n" + std::string(3 << 20, 'x'));
    EXPECT_EQ(List(shown), (std::vector<std::string>{"own.jpg:picture", "t.jpg:picture"}));
}

TEST_F(PopulationTest, OnlyTheShownFoldersOwnBackdropCounts) {
    fs::path shown = m_dir / "shown";
    WriteFileBytes(shown / "BackDrop.IMF", "");
    WriteFileBytes(m_dir / "merged" / "backdrop.imf", "");
    WriteFileBytes(m_dir / "other" / "backdrop.imf", "");
    WriteFileBytes(shown / "HASH.INC", (m_dir / "merged").string());
    std::string backdrop;
    List(shown, {}, &backdrop);
    EXPECT_EQ(backdrop, (shown / "BackDrop.IMF").string());
    WriteFileBytes(m_dir / "other" / "HASH.INC", (m_dir / "merged").string());
    fs::remove(m_dir / "other" / "backdrop.imf");
    List(m_dir / "other", {}, &backdrop);
    EXPECT_EQ(backdrop, "") << "a merged folder's backdrop is not used";
}

// ---- hidden files ----

TEST_F(PopulationTest, HiddenFilesFollowBitZeroOfTheShellSetting) {
    WriteFileBytes(m_dir / "shown.jpg", "");
    WriteFileBytes(m_dir / ".secret.jpg", "");
    fs::create_directories(m_dir / ".config");
    fs::create_symlink(m_dir / "shown.jpg", m_dir / ".hidden-link.jpg");
    const std::vector<std::string> visible = {"shown.jpg:picture"};
    const std::vector<std::string> all = {".config:folder", ".hidden-link.jpg:picture",
                                          ".secret.jpg:picture", "shown.jpg:picture"};
    EXPECT_EQ(List(m_dir.path()), visible) << "no key";
    SetHiddenValue(2);
    EXPECT_EQ(List(m_dir.path()), visible);
    SetHiddenValue(1);
    EXPECT_EQ(List(m_dir.path()), all);
    SetHiddenValue(3);
    EXPECT_EQ(List(m_dir.path()), all);
    RegistryKey::Create(HKEY_CURRENT_USER, kExplorerAdvancedKey).WriteString(kHiddenValueName, "1");
    EXPECT_EQ(List(m_dir.path()), visible) << "a text is no number";
    PopulationOptions show_hidden;
    show_hidden.show_hidden = true;
    EXPECT_EQ(List(m_dir.path(), show_hidden), all) << "the caller asks for them";
}

// ---- shortcuts ----

// Symbolic links that reach a picture or folder are checked in the table further down.
TEST_F(PopulationTest, ShellLinksShowTheirTargetsAndUnreachableLinksAreLeftOut) {
    fs::path shown = m_dir / "shown";
    WriteFileBytes(m_dir / "volume" / "PHOTOS" / "Beach.jpg", "12345");
    WriteFileBytes(m_dir / "store" / "notes.txt", "");
    fs::create_directories(shown);
    fs::create_symlink(m_dir / "store" / "notes.txt", shown / "Looks like.jpg");
    fs::create_symlink(m_dir / "missing.jpg", shown / "Dangling.jpg");
    fs::create_symlink(shown / "Loop2.jpg", shown / "Loop1.jpg");
    fs::create_symlink(shown / "Loop1.jpg", shown / "Loop2.jpg");
    fixtures::ShellLinkFixture fixture;
    fixture.local_base_path = "E:\\PHOTOS\\BEACH.JPG";
    WriteFileBytes(shown / "Beach.lnk", fixtures::MakeShellLinkBytes(fixture));
    fixture.volume_label = "ELSEWHERE";
    WriteFileBytes(shown / "Gone.lnk", fixtures::MakeShellLinkBytes(fixture));
    WriteFileBytes(shown / "Broken.lnk", "L\0\0\0");

    PopulationOptions options;
    options.volume_finder = [&](std::string_view label) -> std::optional<Volume> {
        if (label != "HOLIDAY") return std::nullopt;
        return Volume{(m_dir / "volume").string(), "/dev/sr0", "iso9660", "HOLIDAY",
                      DriveType::CdRom};
    };
    CollectingSink sink;
    std::string backdrop;
    Populate(sink, CShellPath(shown.string()), options, backdrop);
    ASSERT_EQ(sink.Entries(), std::vector<std::string>{"Beach.lnk:picture"});
    const CListItem& beach = *sink.items[0];
    EXPECT_TRUE(beach.IsShortcut());
    EXPECT_EQ(beach.GetItemPath(), (m_dir / "volume" / "PHOTOS" / "Beach.jpg").string());
    EXPECT_EQ(beach.size(), 5u) << "the size is the target's";
    // It keeps its own file's path, the key of the shortcut disk names.
    EXPECT_EQ(beach.GetShortcutFilePath(), (shown / "Beach.lnk").string());
}

TEST_F(PopulationTest, NamesWithSpacesAtTheirEndsAreKept) {
    fs::path spaced = m_dir / " dir ";
    WriteFileBytes(spaced / "a.jpg", "");
    fs::create_directories(m_dir / "shown");
    fs::create_directory_symlink(spaced, m_dir / "shown" / "link ");
    EXPECT_EQ(List(spaced), (std::vector<std::string>{"a.jpg:picture"}));
    CollectingSink sink;
    std::string backdrop;
    Populate(sink, CShellPath((m_dir / "shown").string()), {}, backdrop);
    ASSERT_EQ(sink.Entries(), (std::vector<std::string>{"link :folder"}));
    EXPECT_TRUE(sink.items[0]->IsShortcut());
    EXPECT_EQ(sink.items[0]->GetItemPath(), spaced.string());
}

TEST_F(PopulationTest, PipesSocketsAndLinksToThemAreNoItemsButNamesThatAreNotUtf8Are) {
    WriteFileBytes(m_dir / "real.jpg", "");
    WriteFileBytes(m_dir / "bad\xff\xfe name.jpg", "");
    ASSERT_EQ(mkfifo((m_dir / "x.bmp").c_str(), 0600), 0);
    fs::create_symlink(m_dir / "x.bmp", m_dir / "b.jpg");
    int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socket_path = (m_dir / "s.png").string();
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    std::copy(socket_path.begin(), socket_path.end(), address.sun_path);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(List(m_dir.path()),
              (std::vector<std::string>{"bad\xff\xfe name.jpg:picture", "real.jpg:picture"}));
    close(listening);
}

// ---- folders that cannot be read or change meanwhile ----

TEST_F(PopulationTest, FoldersThatCannotBeReadGiveNoItems) {
    EXPECT_TRUE(List(m_dir / "missing").empty());
    WriteFileBytes(m_dir / "file.jpg", "");
    EXPECT_TRUE(List(m_dir / "file.jpg").empty());
    fs::path gone = m_dir / "gone";
    WriteFileBytes(gone / "a.jpg", "");
    CShellPath parsed(gone.string());
    fs::remove_all(gone);
    CollectingSink sink;
    std::string backdrop;
    Populate(sink, parsed, {}, backdrop);
    EXPECT_TRUE(sink.items.empty());
    fs::path locked = m_dir / "locked";
    WriteFileBytes(locked / "a.jpg", "");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    if (geteuid() != 0) {  // root reads every folder
        EXPECT_TRUE(List(locked).empty());
    }
}

TEST_F(PopulationTest, EntriesThatVanishMeanwhileAreLeftOut) {
    for (int i = 0; i < 200; ++i)
        WriteFileBytes(m_dir / ("p" + std::to_string(i) + ".jpg"), "");
    CollectingSink sink;
    CFolderPopulation population(sink, {});
    population.Start(CShellPath(m_dir.path().string()));
    EXPECT_FALSE(population.Step(10));
    size_t before = sink.items.size();
    for (int i = 0; i < 200; ++i)
        fs::remove(m_dir / ("p" + std::to_string(i) + ".jpg"));
    population.RunToEnd();
    EXPECT_TRUE(population.IsDone());
    EXPECT_EQ(sink.items.size(), before) << "nothing after the files went";
}

TEST_F(PopulationTest, SteppedPopulationGivesWhatRunningAtOnceGives) {
    for (int i = 0; i < 50; ++i)
        WriteFileBytes(m_dir / ("p" + std::to_string(i) + ".jpg"), "");
    WriteFileBytes(m_dir / "more" / "m.jpg", "");
    WriteFileBytes(m_dir / "HASH.INC", (m_dir / "more").string());
    CollectingSink sink;
    CFolderPopulation population(sink, {});
    population.Start(CShellPath(m_dir.path().string()));
    int steps = 0;
    while (!population.Step(3))
        ++steps;
    EXPECT_GT(steps, 10);
    EXPECT_EQ(sink.SortedEntries(), List(m_dir.path()));
    EXPECT_EQ(sink.items.size(), 52u);
}

// ---- the sample collection ----

TEST_F(PopulationTest, SampleCollectionShowsItsIncludeShortcutsBackdropAndDocuments) {
    const fs::path samples = fs::path(SCOPA_BINARY_DIR) / "samples";
    EXPECT_EQ(List(samples / "Collection"),
              (std::vector<std::string>{"Dawn.webp:picture", "Dusk.jpg:picture",
                                        "Evening hills.ppm:picture", "Rings.bmp:picture",
                                        "Sunset.bmp:picture", "Wide sunset.png:picture"}));
    std::string backdrop;
    List(samples / "Patterns", {}, &backdrop);
    EXPECT_EQ(backdrop, (samples / "Patterns" / "backdrop.imf").string());
    EXPECT_EQ(List(samples / "Documents", "ART"),
              (std::vector<std::string>{"Sunset drawing.art:art"}));
    EXPECT_EQ(List(samples / "Documents", "DSP"),
              (std::vector<std::string>{"Rings motif.dsp:snippet"}));

    std::optional<ShellLink> link =
        ReadShellLinkFile((samples / "Shortcuts" / "Holiday photos.lnk").string());
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->volume_label, "SCOPA_PHOTOS");
    EXPECT_EQ(link->TargetWindowsPath(), "E:\\PHOTOS");
    fs::create_directories(m_dir / "cd" / "Photos");
    PopulationOptions options;
    options.volume_finder = [&](std::string_view label) -> std::optional<Volume> {
        if (label != "SCOPA_PHOTOS") return std::nullopt;
        return Volume{(m_dir / "cd").string(), "/dev/sr0", "iso9660", "SCOPA_PHOTOS",
                      DriveType::CdRom};
    };
    EXPECT_EQ(List(samples / "Shortcuts", options),
              (std::vector<std::string>{"Holiday photos.lnk:folder", "Patterns link:folder",
                                        "Sunset link.bmp:picture"}));
    EXPECT_EQ(List(samples).size(), 5u) << "the folders";
    SetHiddenValue(1);
    EXPECT_EQ(List(samples).size(), 6u) << "and the hidden one";
}

TEST_F(PopulationTest, LinksListWithTheirOwnTimeAndTheEndOfTheirChain) {
    fs::path root = fs::canonical(m_dir.path());
    fs::path shown = root / "shown";
    fs::path store = root / "store";
    WriteFileBytes(store / "Real.jpg", "123");
    WriteFileBytes(store / ".Secret.jpg", "1");
    WriteFileBytes(shown / "inner" / "Near.jpg", "1234");
    fs::create_symlink(store / "Real.jpg", shown / "abs.jpg");
    fs::create_symlink("inner/Near.jpg", shown / "near.jpg");
    fs::create_symlink("./inner//Near.jpg", shown / "dotted.jpg");
    fs::create_symlink("../store/Real.jpg", shown / "up.jpg");
    fs::create_symlink("abs.jpg", shown / "chain.jpg");
    fs::create_symlink("inner/", shown / "slash");
    fs::create_symlink(store / ".Secret.jpg", shown / "secret.jpg");
    fs::path real = store / "Real.jpg";
    fs::path near = shown / "inner" / "Near.jpg";
    struct Expected {
        const char* name;
        fs::path path;
        std::uint64_t size;
        ListItemKind kind;
    };
    const Expected table[] = {
        {"abs.jpg", real, 3, ListItemKind::Picture},
        {"near.jpg", near, 4, ListItemKind::Picture},
        {"dotted.jpg", near, 4, ListItemKind::Picture},
        {"up.jpg", real, 3, ListItemKind::Picture},
        {"chain.jpg", real, 3, ListItemKind::Picture},
        {"slash", near.parent_path(), 0, ListItemKind::Folder},
    };
    // Each link gets a time of its own, far from its target's.
    std::int64_t own_time = 1'000'000'000;
    for (const Expected& row : table) {
        timespec times[2] = {{own_time, 0}, {own_time, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (shown / row.name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        own_time += 86'400;
    }

    CollectingSink sink;
    std::string backdrop;
    Populate(sink, CShellPath(shown.string()), {}, backdrop);
    std::map<std::string, const CListItem*> by_name;
    for (const auto& item : sink.items)
        by_name[item->name()] = item.get();
    EXPECT_EQ(by_name.size(), std::size(table) + 1) << "the inner folder, no hidden target";
    own_time = 1'000'000'000;
    for (const Expected& row : table) {
        const CListItem* item = by_name[row.name];
        ASSERT_NE(item, nullptr) << row.name;
        EXPECT_TRUE(item->IsShortcut()) << row.name;
        EXPECT_EQ(item->GetKind(), row.kind) << row.name;
        EXPECT_EQ(item->GetItemPath(), row.path.string()) << row.name;
        EXPECT_EQ(item->size(), row.size) << row.name;
        EXPECT_EQ(item->time_modified(), own_time) << row.name;
        EXPECT_EQ(item->GetShortcutFilePath(), (shown / row.name).string()) << row.name;
        own_time += 86'400;
    }
    PopulationOptions options;
    options.show_hidden = true;
    EXPECT_EQ(List(shown, options).size(), std::size(table) + 2) << "the hidden target too";
}

}  // namespace
}  // namespace scopa
