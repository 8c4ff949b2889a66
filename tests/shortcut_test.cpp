// Shortcuts: the shell-link reader, link resolution, the unreachable-target messages and the
// insert-disk logic, on real temporary folder trees.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/shell_link_writer.h"
#include "platform/text.h"
#include "shell/insert_disk.h"
#include "shell/shell_link.h"
#include "shell/shortcuts.h"
#include "support/scripted_user_interface.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa {
namespace {

namespace fs = std::filesystem;
using fixtures::MakeShellLinkBytes;
using fixtures::ShellLinkFixture;
using test::ScopedTempDir;
using test::WriteFileBytes;

std::optional<ShellLink> Parse(const std::string& bytes) {
    return ParseShellLink(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// Volumes found by label in a test: each label stands for a folder of the test.
VolumeFinder FinderFor(std::map<std::string, std::string> mounts) {
    return [mounts](std::string_view label) -> std::optional<Volume> {
        for (const auto& [name, folder] : mounts) {
            if (name == label) return Volume{folder, "/dev/sr0", "iso9660", name, DriveType::CdRom};
        }
        return std::nullopt;
    };
}

TEST(ShellLinkTest, ReadsLocalPathAndLabelInBothTextFormsAndCodePage1252) {
    ShellLinkFixture fixture;
    fixture.local_base_path = "E:\\Fotos été";
    fixture.common_path_suffix = "Sub\\a.jpg";
    fixture.volume_label = "HOLIDAY é";
    for (bool unicode : {false, true}) {
        fixture.unicode = unicode;
        std::optional<ShellLink> link = Parse(MakeShellLinkBytes(fixture));
        ASSERT_TRUE(link) << unicode;
        EXPECT_TRUE(link->has_volume);
        EXPECT_EQ(link->drive_type, 5u);
        EXPECT_EQ(link->drive_serial, 0x1234ABCDu);
        EXPECT_EQ(link->volume_label, "HOLIDAY é");
        EXPECT_EQ(link->TargetWindowsPath(), "E:\\Fotos été\\Sub\\a.jpg");
        EXPECT_EQ(link->file_attributes, 0x10u);
    }
    fixture.with_id_list = false;
    fixture.common_path_suffix.clear();
    ASSERT_TRUE(Parse(MakeShellLinkBytes(fixture)));
    EXPECT_EQ(Parse(MakeShellLinkBytes(fixture))->TargetWindowsPath(), "E:\\Fotos été");

    fixture.with_link_info = false;
    std::optional<ShellLink> bare = Parse(MakeShellLinkBytes(fixture));
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->has_volume);

    // Eight-bit texts are code page 1252: 0x80 is the euro sign.
    fixture = ShellLinkFixture{};
    fixture.local_base_path = "E:\\X";
    std::string bytes = MakeShellLinkBytes(fixture);
    bytes[bytes.find("E:\\X") + 3] = '\x80';
    ASSERT_TRUE(Parse(bytes));
    EXPECT_EQ(Parse(bytes)->local_base_path, "E:\\\xE2\x82\xAC");
}

TEST(ShellLinkTest, HostileBytesFailCleanly) {
    ShellLinkFixture fixture;
    fixture.unicode = true;
    fixture.common_path_suffix = "a.jpg";
    const std::string good = MakeShellLinkBytes(fixture);
    ASSERT_TRUE(Parse(good));

    // Every truncation either fails or, past the last block read, still parses.
    for (size_t length = 0; length < good.size(); ++length)
        Parse(good.substr(0, length));
    EXPECT_FALSE(Parse(good.substr(0, 75)));
    EXPECT_FALSE(Parse(good.substr(0, 100)));

    // Not a link at all.
    std::string wrong_class = good;
    wrong_class[5] ^= 1;
    EXPECT_FALSE(Parse(wrong_class));
    std::string wrong_header = good;
    wrong_header[0] = 77;
    EXPECT_FALSE(Parse(wrong_header));
    EXPECT_FALSE(Parse(std::string(kMaxShellLinkBytes + 1, '\0')));

    // Every 32-bit field of the link information set to hostile values.
    const size_t link_info = 76 + 2 + 22;
    for (size_t field = 0; field < 36; field += 4) {
        for (std::uint32_t value : {0xFFFFFFFFu, 0x7FFFFFFFu, 0u, 1u, 3u}) {
            std::string bytes = good;
            for (int k = 0; k < 4; ++k)
                bytes[link_info + field + k] = static_cast<char>((value >> (8 * k)) & 0xFF);
            Parse(bytes);  // must not crash or read outside the bytes
        }
    }
    std::string huge_list = good;
    huge_list[76] = '\xFF';
    huge_list[77] = '\xFF';
    EXPECT_FALSE(Parse(huge_list));
    // A label without its NUL inside the volume id.
    std::string bytes = good;
    size_t label = bytes.find("H\0O\0L", 0, 5);
    ASSERT_NE(label, std::string::npos);
    std::string unterminated = bytes.substr(0, label) + std::string(400, 'A');
    EXPECT_FALSE(Parse(unterminated));
}

TEST(ShortcutTest, LnkTargetsMapToTheVolumeWithTheSameLabel) {
    ScopedTempDir dir;
    fs::create_directories(dir / "cd" / "Photos" / "Summer");
    ShellLinkFixture fixture;
    fixture.local_base_path = "E:\\PHOTOS\\summer";  // Windows ignores case; we match it
    WriteFileBytes(dir / "list" / "Summer.lnk", MakeShellLinkBytes(fixture));
    VolumeFinder finder = FinderFor({{"HOLIDAY", (dir / "cd").string()}});

    CShellPath entry((dir / "list" / "Summer.lnk").string());
    CShellPath target;
    ASSERT_TRUE(ResolveShortcut(entry, target, finder));
    EXPECT_EQ(target.GetPathText(), (dir / "cd" / "Photos" / "Summer").string());
    EXPECT_TRUE(target.IsFolder());

    // A missing target still resolves to its text; it has no item.
    fixture.local_base_path = "E:\\PHOTOS\\Winter\\x.jpg";
    WriteFileBytes(dir / "list" / "Winter.LNK", MakeShellLinkBytes(fixture));
    ASSERT_TRUE(
        ResolveShortcut(CShellPath((dir / "list" / "Winter.LNK").string()), target, finder));
    EXPECT_EQ(target.GetPathText(), (dir / "cd" / "Photos" / "Winter" / "x.jpg").string());
    EXPECT_FALSE(target.HasIdList());

    // No volume carries the label, or the link has none: left unresolved.
    fixture.volume_label = "OTHER";
    WriteFileBytes(dir / "list" / "Other.lnk", MakeShellLinkBytes(fixture));
    fixture.volume_label = "";
    WriteFileBytes(dir / "list" / "NoLabel.lnk", MakeShellLinkBytes(fixture));
    WriteFileBytes(dir / "list" / "Broken.lnk", "not a link");
    for (const char* name : {"Other.lnk", "NoLabel.lnk", "Broken.lnk"}) {
        CShellPath other((dir / "list" / name).string());
        EXPECT_FALSE(ResolveShortcut(other, target, finder)) << name;
        EXPECT_EQ(target.GetPathText(), other.GetPathText()) << name;
    }
    EXPECT_FALSE(ResolveShortcut(CShellPath(), target, finder));
}

TEST(ShortcutTest, SymbolicLinksResolveToTheirEndExceptLoops) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "real" / "a.png", "x");
    fs::create_symlink(dir / "real" / "a.png", dir / "one.png");
    fs::create_symlink("one.png", dir / "two.png");  // relative, through another link
    fs::create_symlink(dir / "real", dir / "folder-link");
    fs::create_symlink(dir / "gone" / "b.png", dir / "dangling.png");
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    fs::create_symlink("self", dir / "self");
    CShellPath target;

    ASSERT_TRUE(ResolveShortcut(CShellPath((dir / "two.png").string()), target));
    EXPECT_EQ(target.GetPathText(), fs::canonical(dir / "real" / "a.png").string());
    ASSERT_TRUE(ResolveShortcut(CShellPath((dir / "folder-link").string()), target));
    EXPECT_TRUE(target.IsFolder());
    EXPECT_EQ(target.GetPathText(), fs::canonical(dir / "real").string());

    ASSERT_TRUE(ResolveShortcut(CShellPath((dir / "dangling.png").string()), target));
    EXPECT_EQ(target.GetPathText(), (dir / "gone" / "b.png").string());
    EXPECT_FALSE(target.HasIdList());

    for (const char* name : {"loop-a", "self"}) {
        CShellPath loop((dir / name).string());
        EXPECT_FALSE(ResolveShortcut(loop, target)) << name;
        EXPECT_EQ(target.GetPathText(), loop.GetPathText());
    }
    EXPECT_FALSE(ResolveShortcut(CShellPath((dir / "real" / "a.png").string()), target));
}

TEST(ShortcutTest, UnreachableTargetsShowMessage216Or217) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "here.png", "x");
    test::ScriptedUserInterface ui;
    std::map<std::string, std::string> disks = {
        {ToUpperAscii((dir / "links" / "holiday.lnk").string()), "HOLIDAY PHOTOS"}};
    std::string target = "/media/cd/PHOTOS";

    EXPECT_TRUE(CheckShortcutTarget(target, "", disks));
    EXPECT_TRUE(CheckShortcutTarget((dir / "here.png").string(), "/x/a.lnk", disks));
    EXPECT_TRUE(ui.shown().empty());

    // The lookup upper-cases the shortcut's path (ASCII only).
    EXPECT_FALSE(CheckShortcutTarget(target, (dir / "links" / "Holiday.lnk").string(), disks));
    EXPECT_FALSE(CheckShortcutTarget(target, (dir / "links" / "Other.lnk").string(), disks));
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_EQ(ui.shown()[0].text,
              "The file or foIder that the shortcut refers to is unavailable.\n\n"
              "/media/cd/PHOTOS\n\nInsert the 'HOLIDAY PHOTOS' disk and try again.");
    EXPECT_EQ(ui.shown()[1].text,
              "The file or foIder that the shortcut refers to is unavailable.\n\n"
              "/media/cd/PHOTOS\n\nMake sure that the appropriate disk is inserted and try "
              "again.");
    for (const MessageRequest& shown : ui.shown()) {
        EXPECT_EQ(shown.caption, "Insert Disk");
        EXPECT_EQ(shown.buttons, MessageButtons::Ok);
        EXPECT_EQ(shown.icon, MessageIcon::Exclamation);
    }
}

TEST(InsertDiskTest, OkFollowsTheLocationAndGivesTheDrive) {
    ScopedTempDir dir;
    std::string e = (dir / "E").string();
    std::string f = (dir / "F").string();
    CInsertCDRom dialog("HOLIDAY", e, "/Photos");
    EXPECT_EQ(dialog.m_strLocation, e + "/Photos");
    EXPECT_EQ(dialog.m_strPath, "/PHOTOS");
    EXPECT_EQ(dialog.GetPromptText(), "Please insert the CD-ROM disk labeled\n'HOLIDAY'");
    dialog.OnInitDialog();
    EXPECT_FALSE(dialog.IsOkEnabled());

    // The disk arrives: the next poll enables OK by itself.
    fs::create_directories(dir / "E" / "Photos");
    dialog.OnTimer();
    EXPECT_TRUE(dialog.IsOkEnabled());
    EXPECT_EQ(dialog.m_strDrive, e);

    // Another drive typed: OK gives it.
    fs::create_directories(dir / "F" / "PHOTOS");
    dialog.SetLocation(f + "/PHOTOS");
    EXPECT_TRUE(dialog.OnOk());
    EXPECT_EQ(dialog.m_strDrive, f);

    // An existing place without the path keeps the drive; a missing one disables OK.
    dialog.SetLocation(dir.path().string());
    EXPECT_TRUE(dialog.IsOkEnabled());
    EXPECT_EQ(dialog.m_strDrive, f);
    dialog.SetLocation((dir / "nowhere").string());
    EXPECT_FALSE(dialog.OnOk());
}

TEST(InsertDiskTest, PollClosesTheDialogWhenAVolumeWithTheLabelHoldsThePath) {
    ScopedTempDir dir;
    std::optional<Volume> mounted;
    CInsertCDRom dialog("HOLIDAY", (dir / "E").string(), "/Photos");
    dialog.SetVolumeFinder(
        [&](std::string_view label) { return label == "HOLIDAY" ? mounted : std::nullopt; });
    dialog.OnInitDialog();
    EXPECT_FALSE(dialog.OnTimer());
    mounted = Volume{(dir / "G").string(), "/dev/sr0", "iso9660", "HOLIDAY", DriveType::CdRom};
    EXPECT_FALSE(dialog.OnTimer());  // mounted, but the folder is not on it
    fs::create_directories(dir / "G" / "Photos");
    EXPECT_TRUE(dialog.OnTimer());
    EXPECT_EQ(dialog.m_strLocation, (dir / "G" / "Photos").string());
    EXPECT_EQ(dialog.m_strDrive, (dir / "G").string());
}

TEST(InsertDiskTest, SearchAsksUntilFoundAndRemembersTheDrive) {
    ScopedTempDir dir;
    std::string cd = (dir / "cd").string();
    std::map<std::string, std::string> drives = {{"HOLIDAY", cd}};
    int asked = 0;
    InsertDiskPrompt insert_then_ok = [&](CInsertCDRom& dialog) {
        ++asked;
        EXPECT_EQ(dialog.m_strLabel, "HOLIDAY");
        EXPECT_FALSE(dialog.IsOkEnabled());
        fs::create_directories(dir / "usb" / "Photos");
        dialog.SetLocation((dir / "usb" / "Photos").string());
        return dialog.OnOk();
    };
    EXPECT_EQ(FindFolderOnDisk("HOLIDAY", "/Photos", drives, insert_then_ok),
              (dir / "usb" / "Photos").string());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(drives["HOLIDAY"], (dir / "usb").string());

    // Found at once on the remembered drive: no question.
    EXPECT_EQ(FindFolderOnDisk("HOLIDAY", "/Photos", drives, insert_then_ok),
              (dir / "usb" / "Photos").string());
    EXPECT_EQ(asked, 1);

    // Cancelled: the last candidate, nothing remembered.
    InsertDiskPrompt cancel = [&](CInsertCDRom&) {
        ++asked;
        return false;
    };
    // Cancelled without any drive known: nothing, and the root file system is not searched.
    std::string cd_rom = FirstCdRomDrive();
    std::string last_candidate = cd_rom.empty() ? std::string() : cd_rom + "/Photos";
    EXPECT_EQ(FindFolderOnDisk("OTHER", "/Photos", drives, cancel), last_candidate);
    EXPECT_EQ(drives.count("OTHER"), 0u);
    EXPECT_EQ(FindFolderOnDisk("OTHER", "/Photos", drives, nullptr), last_candidate);
}

}  // namespace
}  // namespace scopa
