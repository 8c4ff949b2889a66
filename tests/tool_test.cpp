// The scopa tool's common behaviour: help texts, unknown commands and options.
#include <gtest/gtest.h>

#include "support/run_tool.h"

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

}  // namespace
}  // namespace scopa::test
