// The scopa tool's common behaviour: help texts, unknown commands and options.
#include <gtest/gtest.h>

#include <fstream>

#include "list/cell_drawing.h"
#include "support/loaded_picture.h"
#include "support/picture_files.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

// A container script writes composed cells: the selected one carries the highlight outline.
TEST(ToolTest, ContainerWritesTheComposedCellOfAnItem) {
    SandboxedEnvironment environment;
    std::filesystem::path folder = environment.root() / "pictures";
    ASSERT_TRUE(WriteTestPicture(folder / "a.png", 40, 30, 1));
    ASSERT_TRUE(WriteTestPicture(folder / "b.png", 40, 30, 2));
    std::filesystem::path script = environment.root() / "cells.script";
    std::ofstream(script) << "SetPath \"" << folder.string()
                          << "\"\nidle\nSelectPreviewListItem 1\n"
                          << "cell 1 -o \"" << (environment.root() / "b.png").string() << "\"\n";
    ToolResult result = RunTool({"container", script.string()});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    Loaded cell = Load(environment.root() / "b.png");
    ASSERT_EQ(cell.result, 0);
    EXPECT_EQ(cell.dib.Size(), (vSIZE{130, 130}));
    EXPECT_EQ(cell.dib.PixelColour(1, 64), SystemColours::Defaults()[kColourHighlight]);
}

// Options come anywhere among the words, "--" ends them, the last of a repeated option
// counts, and each kind of bad usage has its own line and status 2.
TEST(ToolTest, CommandLinesParseAsDocumented) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;  // the whole of standard error, or its start when it ends in "..."
    };
    const std::vector<Case> cases = {
        {{}, 2, "usage:..."},
        {{"frobnicate"}, 2, "scopa: unknown command 'frobnicate' (see scopa --help)\n"},
        {{"list"}, 2, "scopa list: expects one FOLDER (see --help)\n"},
        {{"list", "x", "--sort", "-1"}, 2, "scopa list: --sort takes an order from 0 to 7\n"},
        {{"thumb", "x.png"}, 2, "scopa thumb: ..."},  // neither -o nor --raw
        {{"list", "--frob", "x"}, 2, "scopa list: unknown option '--frob' (see --help)\n"},
        {{"list", "x", "--frob=1"}, 2, "scopa list: unknown option '--frob' (see --help)\n"},
        {{"thumb", "-q", "x.png"}, 2, "scopa thumb: unknown option '-q' (see --help)\n"},
        {{"thumb", "x.png", "-o"}, 2, "scopa thumb: option '-o' needs a value\n"},
        {{"list", "x", "--json=yes"}, 2, "scopa list: option '--json' takes no value\n"},
        {{"list", "--sort", "3", "x", "--sort", "9"},
         2,
         "scopa list: --sort takes an order from 0 to 7\n"},
        {{"list", "x", "--sort=9"}, 2, "scopa list: --sort takes an order from 0 to 7\n"},
        {{"list", "/", "--", "--json"}, 2, "scopa list: expects one FOLDER (see --help)\n"},
        {{"list", "--", "/no/such/--json"},
         1,
         "scopa list: cannot read the folder /no/such/--json..."},
        {{"--frob"}, 2, "scopa: unknown command '--frob' (see scopa --help)\n"},
    };
    for (const Case& c : cases) {
        ToolResult result = RunTool(c.args);
        std::string shown = ::testing::PrintToString(c.args);
        EXPECT_EQ(result.exit_status, c.status) << shown << result.err;
        EXPECT_EQ(result.out, "") << shown;
        if (c.err.ends_with("...")) {
            EXPECT_TRUE(result.err.starts_with(c.err.substr(0, c.err.size() - 3))) << result.err;
        } else {
            EXPECT_EQ(result.err, c.err) << shown;
        }
    }
}

TEST(ToolTest, HelpAndVersionGoToStandardOutput) {
    EXPECT_EQ(RunTool({"--version"}).out, "scopa 0.1.0\n");
    for (const char* flag : {"help", "--help"}) {
        ToolResult overview = RunTool({flag});
        EXPECT_EQ(overview.exit_status, 0);
        EXPECT_TRUE(overview.out.starts_with("usage: scopa COMMAND")) << overview.out;
        EXPECT_NE(overview.out.find("\n  static-cache   Make and register a read-only cache"),
                  std::string::npos)
            << overview.out;
    }
    // A command's help: synopsis, summary, details, then the options in two columns; a help
    // flag anywhere before "--" wins over the other words.
    ToolResult thumb = RunTool({"thumb", "--raw", "--frob", "-h"});
    EXPECT_EQ(thumb.exit_status, 0);
    EXPECT_TRUE(
        thumb.out.starts_with("usage: scopa thumb FILE (-o OUT.png | --raw)\n\n"
                              "Make the 128 x 128 cache thumbnail of a picture\n\n"
                              "The picture is read"))
        << thumb.out;
    EXPECT_TRUE(thumb.out.ends_with(
        "\n\nOptions:\n"
        "  -o VALUE             write the thumbnail as a PNG file\n"
        "  --raw                write the raw cache record to standard output\n"))
        << thumb.out;
    EXPECT_EQ(RunTool({"reg", "--help"}).out.find("Options:"), std::string::npos);
}

}  // namespace
}  // namespace scopa::test
