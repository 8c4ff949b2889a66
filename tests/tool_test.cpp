// The scopa tool's common behaviour: help texts, unknown commands and options.
#include <gtest/gtest.h>

#include <fstream>

#include "imaging/dib.h"
#include "imaging/picture.h"
#include "imaging/vector.h"
#include "list/cell_drawing.h"
#include "support/picture_files.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

TEST(ToolTest, HelpListsEveryCommandAndExitsZero) {
    ToolResult result = RunTool({"--help"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_NE(result.out.find("usage: scopa COMMAND"), std::string::npos);
}

TEST(ToolTest, NoArgumentsIsAUsageError) {
    ToolResult result = RunTool({});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_TRUE(result.out.empty());
    EXPECT_NE(result.err.find("usage:"), std::string::npos);
}

TEST(ToolTest, UnknownCommandGivesOneLineErrorAndStatusTwo) {
    ToolResult result = RunTool({"frobnicate"});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_EQ(result.err, "scopa: unknown command 'frobnicate' (see scopa --help)\n");
}

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
    oDIB cell;
    vMETAFILE metafile;
    int kind = 0;
    ASSERT_EQ(
        LoadPicture(nullptr, (environment.root() / "b.png").string(), cell, metafile, kind, 0), 0);
    EXPECT_EQ(cell.Width(), 130);
    EXPECT_EQ(cell.Height(), 130);
    EXPECT_EQ(cell.PixelColour(1, 64), SystemColours::Defaults()[kColourHighlight]);
}

}  // namespace
}  // namespace scopa::test
