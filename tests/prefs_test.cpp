// The control's registry preferences, loaded from and saved to real store files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "prefs/control_prefs.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kScopar = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\Scopar";

class PrefsTest : public ::testing::Test {
protected:
    // Seeds the local-machine hive as another run would have left it.
    void SeedMachine(const std::string& body) {
        WriteFileBytes(m_sandbox.registry_dir() / "machine.reg", "REGEDIT4\r\n\r\n" + body);
        RegistryResetStore();
    }
    // The export of one key below the program's own.
    static std::string Stored(const std::string& sub_key) {
        return RegExportKey(std::string(kScopar) + "\\" + sub_key).value_or("<missing>");
    }

    SandboxedEnvironment m_sandbox;
};

std::string KeyLine(const std::string& sub_key) {
    return std::string("[") + kScopar + "\\" + sub_key + "]\r\n";
}

// An export file holding `sub_key` with `values`.
std::string Exported(const std::string& sub_key, const std::string& values) {
    return "REGEDIT4\r\n\r\n" + KeyLine(sub_key) + values + "\r\n";
}

TEST_F(PrefsTest, LoadsFolderPreferences) {
    SeedMachine(KeyLine("FolderPrefs\\Preference 1") +
                "@=\"C:\\\\Photos\"\r\n"
                "\"Sort By\"=dword:00000003\r\n\"List Style\"=dword:00000001\r\n"
                "\"Tree Width\"=dword:000000c0\r\n\"Default Selection\"=\"beach.jpg\"\r\n" +
                // No default value: names no folder, ignored.
                KeyLine("FolderPrefs\\Preference 2") + "\"Sort By\"=dword:00000001\r\n" +
                // No "Tree Width", and the sort order stored with the wrong size.
                KeyLine("FolderPrefs\\Preference 3") +
                "@=\"D:\\\\Scans\"\r\n\"Sort By\"=hex:01,00\r\n\"List Style\"=dword:00000002\r\n" +
                // The same path again (sorted later): replaces the first record.
                KeyLine("FolderPrefs\\Preference 4") +
                "@=\"C:\\\\Photos\"\r\n\"Tree Width\"=dword:00000064\r\n" +
                // Another path differing only in case is a separate record.
                KeyLine("FolderPrefs\\Preference 5") +
                "@=\"c:\\\\photos\"\r\n\"Sort By\"=dword:00000005\r\n"
                "\"Default Selection\"=\"a.png\"\r\n");
    CControlPrefs prefs;
    prefs.LoadFolderPrefs();
    ASSERT_EQ(prefs.m_mapFolderPrefs.size(), 3u);
    const FolderPref& photos = *prefs.m_mapFolderPrefs.at("C:\\Photos");
    EXPECT_EQ(photos.m_treeWidth, 100);
    EXPECT_EQ(photos.m_listStyle, -1);
    EXPECT_EQ(photos.m_sortOrder, -1);
    EXPECT_EQ(photos.m_defaultSelection, "");
    const FolderPref& scans = *prefs.m_mapFolderPrefs.at("D:\\Scans");
    EXPECT_EQ(scans.m_treeWidth, -1);
    EXPECT_EQ(scans.m_listStyle, 2);
    EXPECT_EQ(prefs.m_mapFolderPrefs.at("c:\\photos")->m_defaultSelection, "a.png");

    // Applying a record sets only the fields it holds.
    int width = 192, style = 0, sort = 0;
    EXPECT_TRUE(prefs.ApplyFolderPref("D:\\Scans", &width, &style, &sort));
    EXPECT_EQ(width, 192);
    EXPECT_EQ(style, 2);
    EXPECT_EQ(sort, 0);
    EXPECT_TRUE(prefs.ApplyFolderPref("c:\\photos", nullptr, &style, &sort));
    EXPECT_EQ(sort, 5);
    EXPECT_FALSE(prefs.ApplyFolderPref("D:\\SCANS", &width, &style, &sort));
    prefs.StoreFolderPref("/empty", -1, -1, -1);
    EXPECT_FALSE(prefs.ApplyFolderPref("/empty", &width, &style, &sort));
}

TEST_F(PrefsTest, SavesFolderPreferencesNumberedInMapOrder) {
    SeedMachine(KeyLine("FolderPrefs\\Preference 1") + "@=\"/b\"\r\n" +
                "\"Default Selection\"=\"kept.jpg\"\r\n" + KeyLine("FolderPrefs\\Preference 7") +
                "@=\"/stale\"\r\n");
    CControlPrefs prefs;
    prefs.LoadFolderPrefs();
    prefs.m_mapFolderPrefs.erase("/stale");
    prefs.StoreFolderPref("/b", 150, 0x11 & 3, 2);
    prefs.StoreFolderPref("/a", 192, 1, 0);
    prefs.SaveFolderPrefs();
    EXPECT_TRUE(prefs.m_mapFolderPrefs.empty());
    EXPECT_EQ(Stored("FolderPrefs"),
              std::string("REGEDIT4\r\n\r\n") + KeyLine("FolderPrefs") + "\r\n" +
                  // "/a" now sorts first and takes over "Preference 1", whose existing value
                  // keeps its place.
                  KeyLine("FolderPrefs\\Preference 1") +
                  "@=\"/a\"\r\n\"Default Selection\"=\"\"\r\n"
                  "\"Sort By\"=dword:00000000\r\n\"List Style\"=dword:00000001\r\n"
                  "\"Tree Width\"=dword:000000c0\r\n\r\n" +
                  KeyLine("FolderPrefs\\Preference 2") +
                  "@=\"/b\"\r\n\"Sort By\"=dword:00000002\r\n\"List Style\"=dword:00000001\r\n"
                  "\"Tree Width\"=dword:00000096\r\n\"Default Selection\"=\"kept.jpg\"\r\n\r\n" +
                  // Numbers above the records written are left as they were.
                  KeyLine("FolderPrefs\\Preference 7") + "@=\"/stale\"\r\n\r\n");
    // What was saved loads back to the same records.
    CControlPrefs again;
    again.LoadFolderPrefs();
    ASSERT_EQ(again.m_mapFolderPrefs.size(), 3u);
    EXPECT_EQ(again.m_mapFolderPrefs.at("/b")->m_treeWidth, 150);
    EXPECT_EQ(again.m_mapFolderPrefs.at("/b")->m_defaultSelection, "kept.jpg");
}

TEST_F(PrefsTest, ControlDestroyedBeforeAnyPathStoresTheEmptyPath) {
    CControlPrefs::EnsurePrefsKey();
    CControlPrefs prefs;
    prefs.LoadAll();
    prefs.SaveAtDestruction(192, 0, 0, "", "");
    // The record layout is checked byte for byte above; here one record, for "".
    CControlPrefs next;
    next.LoadFolderPrefs();
    ASSERT_EQ(next.m_mapFolderPrefs.size(), 1u);
    EXPECT_EQ(next.m_mapFolderPrefs.at("")->m_treeWidth, 192);
}

TEST_F(PrefsTest, DestructionStoresCurrentFolderAndInitialPathAndTheLastControlWins) {
    CControlPrefs first;
    CControlPrefs second;
    first.LoadAll();
    second.LoadAll();
    // Nothing stored yet: everything loads empty, and loading writes nothing.
    EXPECT_TRUE(first.m_mapFolderPrefs.empty() && first.m_mapAppDropPrefs.empty() &&
                first.m_mapHashIncPrefs.empty() && first.m_mapShortCuts.empty());
    EXPECT_FALSE(fs::exists(m_sandbox.registry_dir() / "machine.reg"));
    first.SetHashIncEntry("DISK", "/media/a");
    second.SetHashIncEntry("DISK", "/media/b");
    first.SaveAtDestruction(100, 0, 0, "/one", "/one");
    second.SaveAtDestruction(240, 2, 4, "/pictures/2024", "/pictures");
    CControlPrefs next;
    next.LoadAll();
    EXPECT_EQ(next.GetHashIncEntry("DISK"), "/media/b");
    // Each wrote its own records from "Preference 1": the second overwrote the first's.
    ASSERT_EQ(next.m_mapFolderPrefs.size(), 2u);
    for (const char* path : {"/pictures/2024", "/pictures"}) {
        const FolderPref& record = *next.m_mapFolderPrefs.at(path);
        EXPECT_EQ(record.m_treeWidth, 240);
        EXPECT_EQ(record.m_listStyle, 2);
        EXPECT_EQ(record.m_sortOrder, 4);
    }
}

TEST_F(PrefsTest, StyleBit0x10LeavesFolderPrefsButWritesDropAndHashInc) {
    std::string folder_prefs = KeyLine("FolderPrefs\\Preference 1") + "@=\"/old\"\r\n";
    SeedMachine(folder_prefs);
    std::string before = Stored("FolderPrefs");
    CControlPrefs prefs;
    prefs.LoadAll();
    prefs.AddGenericDrop("WORDPAD.EXE");
    prefs.SetHashIncEntry("PHOTOCD_1", "/media/cdrom");
    prefs.SaveAtDestruction(192, 0x10 | 1, 0, "/new", "/new");
    EXPECT_TRUE(prefs.m_mapFolderPrefs.empty());
    EXPECT_EQ(Stored("FolderPrefs"), before);
    EXPECT_EQ(Stored("AppDropPrefs"), Exported("AppDropPrefs", "\"WORDPAD.EXE\"=\"Generic\"\r\n"));
    EXPECT_EQ(Stored("HashIncPrefs"),
              Exported("HashIncPrefs", "\"PHOTOCD_1\"=\"/media/cdrom\"\r\n"));
}

TEST_F(PrefsTest, DropAndHashIncMapsLoadAndSaveWholeWithLongTextsCut) {
    SeedMachine(KeyLine("AppDropPrefs") + "\"PAINT.EXE\"=\"Generic\"\r\n\"Odd\"=dword:1\r\n" +
                KeyLine("HashIncPrefs") + "\"CLIPART\"=\"E:\"\r\n\"Number\"=dword:00000001\r\n" +
                "\"" + std::string(300, 'L') + "\"=\"too long a name\"\r\n");
    CControlPrefs prefs;
    prefs.LoadAll();
    EXPECT_TRUE(prefs.IsGenericDrop("PAINT.EXE"));
    EXPECT_TRUE(prefs.IsGenericDrop("Odd"));  // only the name counts
    EXPECT_FALSE(prefs.IsGenericDrop("paint.exe"));
    EXPECT_EQ(prefs.GetHashIncEntry("CLIPART"), "E:");
    EXPECT_EQ(prefs.GetHashIncEntry("MISSING"), "");
    EXPECT_EQ(prefs.m_mapHashIncPrefs.size(), 2u);  // the overlong name is not supported
    prefs.AddGenericDrop("VIEWER");
    prefs.SetHashIncEntry("CLIPART", "F:");
    // A long text is cut to fit the reading buffer at a character boundary.
    std::string long_text;
    while (long_text.size() < 300)
        long_text += "\xC3\xA9";
    prefs.SetHashIncEntry("LABEL", long_text);
    prefs.SaveAppDropPrefs();
    prefs.SaveHashIncPrefs();

    CControlPrefs next;
    next.LoadAll();
    EXPECT_TRUE(next.IsGenericDrop("VIEWER"));
    EXPECT_EQ(next.GetHashIncEntry("CLIPART"), "F:");
    EXPECT_EQ(next.GetHashIncEntry("LABEL"), long_text.substr(0, 258));
    EXPECT_EQ(
        Stored("AppDropPrefs"),
        Exported("AppDropPrefs",
                 "\"PAINT.EXE\"=\"Generic\"\r\n\"Odd\"=\"Generic\"\r\n\"VIEWER\"=\"Generic\"\r\n"));
}

TEST_F(PrefsTest, ShortCutsParseIntoUpperCasePartsAndAreNeverWritten) {
    const std::string values =
        "\"1\"=\"c:\\\\links\\\\photos.lnk , Holiday CD\"\r\n"
        "\"2\"=\"no comma here\"\r\n"
        "\"3\"=\"/home/u/x.desktop,Disk, with comma \"\r\n";
    SeedMachine(KeyLine("ShortCuts") + values);
    CControlPrefs prefs;
    prefs.LoadAll();
    ASSERT_EQ(prefs.m_mapShortCuts.size(), 2u);
    EXPECT_EQ(prefs.m_mapShortCuts.at("C:\\LINKS\\PHOTOS.LNK"), "HOLIDAY CD");
    EXPECT_EQ(prefs.m_mapShortCuts.at("/HOME/U/X.DESKTOP"), "DISK, WITH COMMA");
    prefs.SaveAtDestruction(192, 0, 0, "", "");
    EXPECT_EQ(Stored("ShortCuts"), Exported("ShortCuts", values));
}

TEST_F(PrefsTest, PreviewPosition) {
    PreviewPos pos{1, 2, 3, 4};
    EXPECT_TRUE(ReadPreviewPos(HKEY_CURRENT_USER, kGeneralPrefsKey, kPreviewPosValue, pos));
    EXPECT_EQ(pos.right, 3);  // missing key: defaults untouched

    WritePreviewPos(HKEY_CURRENT_USER, kGeneralPrefsKey, kPreviewPosValue, {-8, 20, 640, 480});
    EXPECT_EQ(RegExportKey("HKEY_CURRENT_USER\\SOFTWARE\\QOR\\System\\Scopar\\GeneralPrefs"),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\QOR\\System\\Scopar\\GeneralPrefs]"
              "\r\n\"Preview Pos\"=\"-8,20,640,480\"\r\n\r\n");
    EXPECT_TRUE(ReadPreviewPos(HKEY_CURRENT_USER, kGeneralPrefsKey, kPreviewPosValue, pos));
    EXPECT_EQ(pos.left, -8);
    EXPECT_EQ(pos.bottom, 480);

    struct Case {
        const char* text;
        bool ok;
    };
    for (const Case& c :
         {Case{"10,20,30", false}, Case{"", false}, Case{"1, 2, 3, 4", true},
          Case{"1 ,2,3,4", false}, Case{"5,6,7,8 trailing", true}, Case{"a,b,c,d", false}}) {
        RegistryKey key = RegistryKey::Create(HKEY_CURRENT_USER, kGeneralPrefsKey);
        ASSERT_TRUE(key.WriteString(kPreviewPosValue, c.text));
        PreviewPos read{-1, -1, -1, -1};
        EXPECT_EQ(ReadPreviewPos(HKEY_CURRENT_USER, kGeneralPrefsKey, kPreviewPosValue, read), c.ok)
            << c.text;
        if (!c.ok) {
            EXPECT_EQ(read.left, -1) << c.text;
        }
    }
    // Key present, value missing: true.
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kGeneralPrefsKey), ERROR_SUCCESS);
    RegistryKey::Create(HKEY_CURRENT_USER, kGeneralPrefsKey).WriteString("Other", "x");
    EXPECT_TRUE(ReadPreviewPos(HKEY_CURRENT_USER, kGeneralPrefsKey, kPreviewPosValue, pos));
}

}  // namespace
}  // namespace scopa::test
