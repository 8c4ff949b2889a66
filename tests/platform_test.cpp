// Platform rules: text, mounted volumes and labels, well-known folders, the user-interface
// service and the trace sink.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/folders.h"
#include "platform/mount_watch.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/user_interface.h"
#include "platform/volumes.h"
#include "support/environment_variable.h"
#include "support/fresh_process.h"
#include "support/scripted_user_interface.h"
#include "support/temp_dir.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;

TEST(TextTest, UpperCasingTouchesOnlyAsciiLetters) {
    // "é" is 0xC3 0xA9: a byte-wise toupper in a Latin-1 locale would damage it.
    EXPECT_EQ(ToUpperAscii("caf\xC3\xA9 photos_1.jpg"), "CAF\xC3\xA9 PHOTOS_1.JPG");
    EXPECT_EQ(ToLowerAscii("\xC3\x89T\xC3\x89.PNG"), "\xC3\x89t\xC3\x89.png");
}

TEST(TextTest, CaseInsensitiveComparisonOrdersBytesAfterUpperCasing) {
    EXPECT_EQ(CompareNoCase("photo.JPG", "PHOTO.jpg"), 0);
    EXPECT_LT(CompareNoCase("a", "B"), 0);
    EXPECT_GT(CompareNoCase("b", "A"), 0);
    EXPECT_LT(CompareNoCase("abc", "abcd"), 0);
    // '_' (0x5F) sorts after upper-case letters but before lower-case ones: upper-casing first
    // puts it after every letter.
    EXPECT_GT(CompareNoCase("_x", "zz"), 0);
    // Non-ASCII bytes compare as unsigned, after every ASCII byte.
    EXPECT_GT(CompareNoCase("\xC3\xA9", "z"), 0);
    EXPECT_FALSE(EqualsNoCase("\xC3\xA9", "\xC3\x89"));
    EXPECT_TRUE(StartsWithNoCase("HASHdisk.inc", "hash"));
    EXPECT_TRUE(EndsWithNoCase("HASHdisk.inc", ".INC"));
    EXPECT_FALSE(EndsWithNoCase("inc", ".INC"));
}

TEST(TextTest, TrimAndUtf8Cut) {
    EXPECT_EQ(TrimWhiteSpace("  \tHoliday CD \r\n"), "Holiday CD");
    EXPECT_EQ(TrimWhiteSpace(" \t "), "");
    // Cutting inside "é" (2 bytes) steps back to the character boundary.
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 4), "ab\xC3\xA9");
    // A 4-byte character cut after its second byte.
    EXPECT_EQ(CutUtf8("x\xF0\x9F\x93\xB7y", 3), "x");
    EXPECT_EQ(CutUtf8("abcdef", 4), "abcd");
}

constexpr const char* kMountInfo =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
    "40 27 8:17 / /media/user/Holiday\\040CD ro shared:5 - iso9660 /dev/sr0 ro\n"
    "41 27 8:18 / /mnt/data rw - xfs /dev/sdb1 rw\n"
    "42 27 0:50 / /mnt/data rw - tmpfs tmpfs rw\n"
    "43 27 0:51 / /srv/share rw - nfs4 server:/export rw\n"
    "44 27 254:0 /etc/hosts /etc/hosts rw - ext4 /dev/vda rw\n"
    "garbage line without fields\n"
    "45 27 0:52 / relative rw - ext4 /dev/sdc rw\n";

// The table as a file of its own, read through libmount.
std::vector<MountEntry> ReadMountInfoText(const test::ScopedTempDir& dir) {
    test::WriteFileBytes(dir / "mountinfo", kMountInfo);
    return ReadMountTable((dir / "mountinfo").string());
}

TEST(VolumesTest, MountTablesAreReadUnescapedWithoutMalformedLines) {
    test::ScopedTempDir dir;
    std::vector<MountEntry> mounts = ReadMountInfoText(dir);
    ASSERT_EQ(mounts.size(), 7u);
    EXPECT_EQ(mounts[2].mount_point, "/media/user/Holiday CD");
    EXPECT_EQ(mounts[2].fs_type, "iso9660");
    EXPECT_EQ(mounts[2].source, "/dev/sr0");
    EXPECT_EQ(mounts[5].source, "server:/export");
    EXPECT_TRUE(ReadMountTable((dir / "missing").string()).empty());
}

TEST(VolumesTest, VolumesKeepRealFileSystemsOnly) {
    test::ScopedTempDir dir;
    std::vector<MountEntry> mounts = ReadMountInfoText(dir);
    // The CD's mount point does not exist here; rewrite it to a real folder so the directory
    // check passes, as it would on the machine that mounted it.
    for (MountEntry& mount : mounts) {
        if (mount.fs_type == "iso9660") mount.mount_point = dir.path().string();
    }
    std::vector<Volume> volumes = VolumesFromMounts(mounts);
    std::vector<std::string> points;
    for (const Volume& volume : volumes)
        points.push_back(volume.mount_point);
    // /proc is pseudo, /mnt/data is hidden by the tmpfs mounted over it, /etc/hosts is a file,
    // /srv/share does not exist on this machine (not a directory) and so is left out too.
    ASSERT_EQ(points.size(), 2u) << ::testing::PrintToString(points);
    EXPECT_EQ(points[0], "/");
    EXPECT_EQ(points[1], dir.path().string());
    EXPECT_TRUE(volumes[1].IsCdRom());
    EXPECT_FALSE(volumes[0].IsCdRom());
}

TEST(VolumesTest, PathBelongsToTheLongestContainingMountPoint) {
    std::vector<Volume> volumes(3);
    volumes[0].mount_point = "/";
    volumes[1].mount_point = "/media/cd";
    volumes[2].mount_point = "/media/cd/inner";
    EXPECT_EQ(VolumeOfPath("/media/cd/photos/a.jpg", volumes)->mount_point, "/media/cd");
    EXPECT_EQ(VolumeOfPath("/media/cd", volumes)->mount_point, "/media/cd");
    EXPECT_EQ(VolumeOfPath("/media/cd/inner/x", volumes)->mount_point, "/media/cd/inner");
    // A sibling whose name merely starts like the mount point is not inside it.
    EXPECT_EQ(VolumeOfPath("/media/cdrom/x", volumes)->mount_point, "/");
    EXPECT_FALSE(VolumeOfPath("relative/path", volumes).has_value());
}

TEST(VolumesTest, LabelsComeFromTheLabelFolderWithEscapes) {
    test::ScopedTempDir dir;
    fs::create_directories(dir / "by-label");
    test::WriteFileBytes(dir / "sr0", "");
    test::WriteFileBytes(dir / "sdb1", "");
    fs::create_symlink("../sr0", dir.path() / "by-label" / "Holiday\\x20CD");
    fs::create_symlink("../sdb1", dir.path() / "by-label" / "DATA");
    std::string folder = (dir / "by-label").string();
    EXPECT_EQ(LabelFromLabelFolder(folder, (dir / "sr0").string()), "Holiday CD");
    EXPECT_EQ(LabelFromLabelFolder(folder, (dir / "sdb1").string()), "DATA");
    EXPECT_EQ(LabelFromLabelFolder(folder, (dir / "other").string()), "");
    EXPECT_EQ(LabelFromLabelFolder((dir / "missing").string(), (dir / "sr0").string()), "");
}

TEST(VolumesTest, TheMachineHasARootVolume) {
    std::vector<Volume> volumes = ListVolumes();
    ASSERT_FALSE(volumes.empty());
    EXPECT_EQ(volumes.front().mount_point, "/");
    EXPECT_TRUE(IsDriveRoot("/"));
    EXPECT_EQ(VolumeOfPath("/usr/bin")->mount_point.front(), '/');
}

using EnvironmentVariable = test::ScopedEnvironmentVariable;

TEST(FoldersTest, TemporaryConfigAndCacheFoldersFollowTheEnvironment) {
    {
        EnvironmentVariable tmp("TMPDIR", "/var/tmp/x/");
        EXPECT_EQ(TemporaryFolder(), "/var/tmp/x");
    }
    {
        EnvironmentVariable tmp("TMPDIR", "");
        EXPECT_EQ(TemporaryFolder(), "/tmp");
    }
    EnvironmentVariable home("HOME", "/home/ann");
    {
        EnvironmentVariable config("XDG_CONFIG_HOME", nullptr);
        EnvironmentVariable cache("XDG_CACHE_HOME", "/var/cache/ann");
        EXPECT_EQ(DefaultConfigFolder(), "/home/ann/.config/scopa");
        EXPECT_EQ(DefaultCacheFolder(), "/var/cache/ann/scopa");
    }
    {
        // A relative XDG value is invalid and ignored.
        EnvironmentVariable config("XDG_CONFIG_HOME", "relative");
        EXPECT_EQ(DefaultConfigFolder(), "/home/ann/.config/scopa");
    }
}

TEST(FoldersTest, ProgramFilesAreFoundBesideTheExecutableFirst) {
    std::vector<std::string> folders = ProgramFolders();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0], fs::read_symlink("/proc/self/exe").parent_path().string());
    test::WriteFileBytes(fs::path(folders[0]) / "scopa-test-decoration.imf", "x");
    EXPECT_EQ(FindProgramFile("scopa-test-decoration.imf"),
              folders[0] + "/scopa-test-decoration.imf");
    fs::remove(fs::path(folders[0]) / "scopa-test-decoration.imf");
    EXPECT_EQ(FindProgramFile("scopa-test-decoration.imf"), "");
}

TEST(FoldersTest, HiddenNamesStartWithADot) {
    EXPECT_TRUE(IsHiddenName(".git"));
    EXPECT_TRUE(IsHiddenName(".hidden note.txt"));
    EXPECT_FALSE(IsHiddenName("photo.jpg"));
    EXPECT_FALSE(IsHiddenName(""));
}

TEST(UserInterfaceTest, ScriptedServiceRecordsAndAnswersThenRestoresHeadless) {
    {
        test::ScriptedUserInterface ui;
        ui.QueueAnswer(MessageAnswer::Yes);
        EXPECT_TRUE(AskYesNo("Drop as generic?", "Scopa"));
        EXPECT_FALSE(AskYesNo("Again?"));  // script exhausted: No
        ShowMessage("Cannot find the disk");
        ASSERT_EQ(ui.shown().size(), 3u);
        EXPECT_EQ(ui.shown()[0].caption, "Scopa");
        EXPECT_EQ(ui.shown()[0].buttons, MessageButtons::YesNo);
        EXPECT_EQ(ui.shown()[2].icon, MessageIcon::Exclamation);
    }
    // Headless again: questions are declined, so nothing is done on the user's behalf.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(AskYesNo("Replace?", "Export"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Export: Replace?\n");
}

TEST(TraceTest, SinkReceivesTextsUntilRemoved) {
    std::string seen;
    SetTraceSink([&](const std::string& line) { seen += line; });
    Trace("Fetch a.jpg\n");
    Trace("Bad b.jpg\n");
    SetTraceSink({});
    Trace("lost\n");
    EXPECT_EQ(seen, "Fetch a.jpg\nBad b.jpg\n");
}

// A process of our own with a mount namespace of its own, where it may mount without changing
// the machine's mounts: a user namespace too when we are not root.
bool EnterOwnMountNamespace() {
    int flags = CLONE_NEWNS | (geteuid() == 0 ? 0 : CLONE_NEWUSER);
    return unshare(flags) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

TEST(VolumesTest, TheWatchSeesMountsThatTheTableThenHolds) {
    constexpr int kNoNamespace = 77;
    test::ScopedTempDir dir;
    const fs::path point = dir / "Holiday CD";
    fs::create_directories(point);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!EnterOwnMountNamespace()) _exit(kNoNamespace);
        test::ChildReport report;
        MountTableWatch watch;
        report.ExpectEq(watch.Changed(), true, "first ask");
        report.ExpectEq(watch.Changed(), false, "nothing mounted");
        if (mount("scopa-test", point.c_str(), "tmpfs", 0, nullptr) != 0) _exit(kNoNamespace);
        report.ExpectEq(watch.Changed(), true, "mounted");
        report.ExpectEq(watch.Changed(), false, "asked again");
        std::vector<MountEntry> mounts = ReadMountTable();
        bool listed = std::any_of(mounts.begin(), mounts.end(), [&](const MountEntry& m) {
            return m.mount_point == point.string() && m.source == "scopa-test";
        });
        report.ExpectEq(listed, true, "the new mount in the table");
        umount(point.c_str());
        report.ExpectEq(watch.Changed(), true, "unmounted");
        report.ExitWithReport({});
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no mount namespace of our own";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace scopa
