// scopa list: the details columns in list order as text and as JSON, the options, and the
// exit statuses for folders that cannot be read and for missing arguments.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "fixtures/document_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

class ListToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) m_savedTz = tz;
        setenv("TZ", "UTC", 1);
        MakeFile(m_dir / "Sunset.jpg", 1025, 1'600'000'000);  // 13/9/20 12:26 PM
        MakeFile(m_dir / "tiny.png", 0, 1'600'000'000);
        fs::create_directories(m_dir / "Trips");
        fs::create_symlink(m_dir / "Sunset.jpg", m_dir / "Link.jpg");
        MakeFile(m_dir / "Link.jpg", 0, 1'500'000'000);  // the link's own time: 14/7/17
        WriteFileBytes(m_dir / "notes.txt", "");
        MakeFile(m_dir / "Trips", 0, 1'600'000'000);
    }
    void TearDown() override {
        if (m_savedTz.empty()) {
            unsetenv("TZ");
        } else {
            setenv("TZ", m_savedTz.c_str(), 1);
        }
    }
    // Makes a file of `size` bytes unless the entry exists, and sets its own time (a link's, not
    // its target's).
    static void MakeFile(const fs::path& path, std::uint64_t size, std::int64_t time) {
        if (!fs::exists(fs::symlink_status(path))) WriteFileBytes(path, std::string(size, 'x'));
        timespec times[2] = {{time, 0}, {time, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }

    SandboxedEnvironment m_sandbox;
    ScopedTempDir m_dir;
    std::string m_savedTz;
};

TEST_F(ListToolTest, TextShowsTheDetailsColumnsInListOrder) {
    ToolResult result = RunTool({"list", m_dir.path().string()});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out,
              "Name        Size  Type                       Modified          Kind\n"
              "Trips             folder                     13/9/20 12:26 PM  folder\n"
              "Link.jpg     2KB  JPEG Picture               14/7/17 2:40 AM   picture (shortcut)\n"
              "Sunset.jpg   2KB  JPEG Picture               13/9/20 12:26 PM  picture\n"
              "tiny.png     0KB  Portable Network Graphics  13/9/20 12:26 PM  picture\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(ListToolTest, JsonGivesOneObjectPerItemInListOrder) {
    WriteFileBytes(m_dir / "bad\xff.jpg", "");
    MakeFile(m_dir / "Trips", 0, 1'600'000'000);
    ToolResult result =
        RunTool({"list", m_dir.path().string(), "--json", "--no-extensions", "--sort", "5"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::string dir = m_dir.path().string();
    auto object = [](const std::string& label, const std::string& kind, bool shortcut,
                     const std::string& path, const std::string& size, const std::string& type,
                     const std::string& modified) {
        return "  {\"label\": \"" + label + "\", \"kind\": \"" + kind +
               "\", \"shortcut\": " + (shortcut ? "true" : "false") + ", \"path\": \"" + path +
               "\", \"size\": \"" + size + "\", \"type\": \"" + type + "\", \"modified\": \"" +
               modified + "\"}";
    };
    const std::string date = "13/9/20 12:26 PM";
    std::string expected =
        "[\n" + object("Trips", "folder", false, dir + "/Trips", "", "folder", date) + ",\n";
    // Equal sizes keep their enumeration order, so the two empty files are checked apart.
    EXPECT_EQ(result.out.substr(0, expected.size()), expected);
    EXPECT_NE(result.out.find(object("tiny", "picture", false, dir + "/tiny.png", "0KB",
                                     "Portable Network Graphics", date)),
              std::string::npos);
    EXPECT_NE(result.out.find("{\"label\": \"bad\xEF\xBF\xBD\", \"kind\": \"picture\""),
              std::string::npos)
        << "bytes that are not UTF-8 become U+FFFD";
    const std::string tail =
        object("Link", "picture", true, dir + "/Sunset.jpg", "2KB", "JPEG Picture",
               "14/7/17 2:40 AM") +
        ",\n" +
        object("Sunset", "picture", false, dir + "/Sunset.jpg", "2KB", "JPEG Picture", date) +
        "\n]\n";
    ASSERT_GE(result.out.size(), tail.size());
    EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
}

TEST_F(ListToolTest, FilterAndKeywordsChooseDocuments) {
    std::string dib = PackedDib(4, 4, 24, "");
    WriteFileBytes(m_dir / "Blue.dtp",
                   CompoundDocument(DtpContents(210, dib), {{"\x05SummaryInformation",
                                                             SummaryInformationStream("blue")}}));
    WriteFileBytes(m_dir / "Plain.dtp", CompoundDocument(DtpContents(210, dib)));
    ToolResult all = RunTool({"list", m_dir.path().string(), "--filter", "DTP", "--json"});
    ASSERT_EQ(all.exit_status, 0) << all.err;
    EXPECT_NE(all.out.find("\"label\": \"Plain.dtp\", \"kind\": \"dtp\""), std::string::npos);
    EXPECT_EQ(all.out.find("Sunset"), std::string::npos);
    ToolResult blue =
        RunTool({"list", m_dir.path().string(), "--filter", "DTP", "--keywords", "red,blue"});
    ASSERT_EQ(blue.exit_status, 0) << blue.err;
    EXPECT_NE(blue.out.find("Blue.dtp"), std::string::npos);
    EXPECT_EQ(blue.out.find("Plain.dtp"), std::string::npos);
}

TEST_F(ListToolTest, FoldersThatCannotBeReadAreErrors) {
    ToolResult missing = RunTool({"list", (m_dir / "missing").string(), "--json"});
    EXPECT_NE(missing.exit_status, 0);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
    fs::create_directories(m_dir / "locked");
    fs::permissions(m_dir / "locked", fs::perms::none);
    ToolResult locked = RunTool({"list", (m_dir / "locked").string()});
    fs::permissions(m_dir / "locked", fs::perms::owner_all);
    if (geteuid() != 0) {  // root reads every folder
        EXPECT_NE(locked.exit_status, 0);
        EXPECT_NE(locked.err.find("Permission denied"), std::string::npos) << locked.err;
    }
}

TEST_F(ListToolTest, ControlCharactersAreEscapedAndHiddenFilesShownOnRequest) {
    WriteFileBytes(m_dir / "two\nlines.jpg", "");
    WriteFileBytes(m_dir / ".dot.png", "");
    ToolResult text = RunTool({"list", m_dir.path().string()});
    ASSERT_EQ(text.exit_status, 0) << text.err;
    EXPECT_NE(text.out.find("two\\nlines.jpg"), std::string::npos) << text.out;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 6) << "a heading and 5 rows";
    EXPECT_EQ(text.out.find(".dot.png"), std::string::npos);
    ToolResult hidden = RunTool({"list", m_dir.path().string(), "--hidden", "--json"});
    ASSERT_EQ(hidden.exit_status, 0) << hidden.err;
    EXPECT_NE(hidden.out.find("\"label\": \".dot.png\""), std::string::npos) << hidden.out;
    EXPECT_NE(hidden.out.find("\"two\\nlines.jpg\""), std::string::npos) << hidden.out;
    EXPECT_NE(RunTool({"list", "--help"}).out.find("--hidden"), std::string::npos);
}

TEST_F(ListToolTest, BadArgumentsAreUsageErrors) {
    ToolResult none = RunTool({"list"});
    EXPECT_EQ(none.exit_status, 2);
    EXPECT_EQ(none.err, "scopa list: expects one FOLDER (see --help)\n");
    EXPECT_EQ(RunTool({"list", m_dir.path().string(), "--sort", "8"}).exit_status, 2);
    EXPECT_EQ(RunTool({"list", m_dir.path().string(), "--sort", "-1"}).exit_status, 2);
    ToolResult file = RunTool({"list", (m_dir / "Sunset.jpg").string()});
    EXPECT_EQ(file.exit_status, 1);
    EXPECT_NE(file.err.find("is not a folder"), std::string::npos);
}

// Quotes and backslashes in names are escaped, each byte of a broken UTF-8 sequence becomes
// U+FFFD, and an empty folder is an empty array.
TEST_F(ListToolTest, JsonEscapesNamesAndShowsAnEmptyFolderAsAnEmptyArray) {
    WriteFileBytes(m_dir / "say \"hi\"\\.png", "");
    WriteFileBytes(m_dir / "cut\xE2\x82.png", "");
    ToolResult named = RunTool({"list", m_dir.path().string(), "--json"});
    EXPECT_NE(named.out.find("{\"label\": \"say \\\"hi\\\"\\\\.png\", "), std::string::npos)
        << named.out;
    EXPECT_NE(named.out.find("{\"label\": \"cut\xEF\xBF\xBD\xEF\xBF\xBD.png\", "),
              std::string::npos)
        << named.out;
    ToolResult empty = RunTool({"list", (m_dir / "Trips").string(), "--json"});
    EXPECT_EQ(empty.exit_status, 0) << empty.err;
    EXPECT_EQ(empty.out, "[]\n");
}

}  // namespace
}  // namespace scopa::test
