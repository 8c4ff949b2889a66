// scopa list: the details columns in list order as text and as JSON, the options, and the
// exit statuses for folders that cannot be read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
        MakeFile(m_dir / "Sunset.jpg", 1025, 1'600'000'000);  // 13/9/20 12:26 PM
        MakeFile(m_dir / "tiny.png", 0, 1'600'000'000);
        fs::create_directories(m_dir / "Trips");
        fs::create_symlink(m_dir / "Sunset.jpg", m_dir / "Link.jpg");
        MakeFile(m_dir / "Link.jpg", 0, 1'500'000'000);  // the link's own time: 14/7/17
        WriteFileBytes(m_dir / "notes.txt", "");
        MakeFile(m_dir / "Trips", 0, 1'600'000'000);
    }
    // Makes a file of `size` bytes unless the entry exists, and sets its own time (a link's, not
    // its target's).
    static void MakeFile(const fs::path& path, std::uint64_t size, std::int64_t time) {
        if (!fs::exists(fs::symlink_status(path))) WriteFileBytes(path, std::string(size, 'x'));
        timespec times[2] = {{time, 0}, {time, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    // `scopa list` of the test folder with `options`.
    ToolResult List(std::vector<std::string> options = {}) const {
        options.insert(options.begin(), {"list", m_dir.path().string()});
        return RunTool(options);
    }

    ScopedUtc m_utc;
    SandboxedEnvironment m_sandbox;
    ScopedTempDir m_dir;
};

TEST_F(ListToolTest, TextShowsTheDetailsColumnsInListOrder) {
    ToolResult result = List();
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
    ToolResult result = List({"--json", "--no-extensions", "--sort", "5"});
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
    EXPECT_EQ(
        result.out,
        "[\n" + object("Trips", "folder", false, dir + "/Trips", "", "folder", date) + ",\n" +
            object("tiny", "picture", false, dir + "/tiny.png", "0KB", "Portable Network Graphics",
                   date) +
            ",\n" +
            object("Link", "picture", true, dir + "/Sunset.jpg", "2KB", "JPEG Picture",
                   "14/7/17 2:40 AM") +
            ",\n" +
            object("Sunset", "picture", false, dir + "/Sunset.jpg", "2KB", "JPEG Picture", date) +
            "\n]\n");
    ToolResult empty = RunTool({"list", (m_dir / "Trips").string(), "--json"});
    EXPECT_EQ(empty.exit_status, 0) << empty.err;
    EXPECT_EQ(empty.out, "[]\n");
}

TEST_F(ListToolTest, FilterAndKeywordsChooseDocuments) {
    std::string dib = PackedDib(4, 4, 24, "");
    WriteFileBytes(m_dir / "Blue.dtp",
                   CompoundDocument(DtpContents(210, dib), {{"\x05SummaryInformation",
                                                             SummaryInformationStream("blue")}}));
    WriteFileBytes(m_dir / "Plain.dtp", CompoundDocument(DtpContents(210, dib)));
    ToolResult all = List({"--filter", "DTP", "--json"});
    ASSERT_EQ(all.exit_status, 0) << all.err;
    EXPECT_NE(all.out.find("\"label\": \"Plain.dtp\", \"kind\": \"dtp\""), std::string::npos);
    EXPECT_EQ(all.out.find("Sunset"), std::string::npos);
    ToolResult blue = List({"--filter", "DTP", "--keywords", "red,blue"});
    ASSERT_EQ(blue.exit_status, 0) << blue.err;
    EXPECT_NE(blue.out.find("Blue.dtp"), std::string::npos);
    EXPECT_EQ(blue.out.find("Plain.dtp"), std::string::npos);
}

TEST_F(ListToolTest, FoldersThatCannotBeReadAreErrors) {
    fs::create_directories(m_dir / "locked");
    fs::permissions(m_dir / "locked", fs::perms::none);
    const std::pair<const char*, const char*> cases[] = {
        {"missing", "No such file or directory"},
        {"Sunset.jpg", "is not a folder"},
        {"locked", "Permission denied"},
    };
    for (auto [name, reason] : cases) {
        if (name == std::string("locked") && geteuid() == 0) continue;  // root reads every folder
        ToolResult result = RunTool({"list", (m_dir / name).string(), "--json"});
        EXPECT_EQ(result.exit_status, 1) << name;
        EXPECT_EQ(result.out, "") << name;
        EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    }
    fs::permissions(m_dir / "locked", fs::perms::owner_all);
}

// Control characters, quotes and backslashes in names are escaped, each byte that is not part
// of a whole UTF-8 sequence becomes U+FFFD, and hidden files are shown on request.
TEST_F(ListToolTest, NamesAreEscapedAndHiddenFilesShownOnRequest) {
    for (const char* name :
         {"two\nlines.jpg", ".dot.png", "say \"hi\"\\.png", "bad\xff.jpg", "cut\xE2\x82.png"})
        WriteFileBytes(m_dir / name, "");
    ToolResult text = List();
    ASSERT_EQ(text.exit_status, 0) << text.err;
    EXPECT_NE(text.out.find("two\\nlines.jpg"), std::string::npos) << text.out;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 9) << "a heading and 8 rows";
    EXPECT_EQ(text.out.find(".dot.png"), std::string::npos);
    ToolResult json = List({"--hidden", "--json"});
    ASSERT_EQ(json.exit_status, 0) << json.err;
    for (const char* label : {"\".dot.png\"", "\"two\\nlines.jpg\"", "\"say \\\"hi\\\"\\\\.png\"",
                              "\"bad\xEF\xBF\xBD.jpg\"", "\"cut\xEF\xBF\xBD\xEF\xBF\xBD.png\""})
        EXPECT_NE(json.out.find(std::string("{\"label\": ") + label + ", "), std::string::npos)
            << label << json.out;
    EXPECT_NE(RunTool({"list", "--help"}).out.find("--hidden"), std::string::npos);
}

}  // namespace
}  // namespace scopa::test
