// scopa codec: whole files through the implode codec, and its exit statuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

std::string SomeBytes() {
    std::string bytes;
    for (int64_t i = 0; i < 50000; ++i) {
        bytes.push_back(static_cast<char>((i * i) % 7 + (i % 300 == 0)));
    }
    return bytes;
}

TEST(CodecToolTest, ImplodeThenExplodeGivesTheFileBack) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "in", SomeBytes());
    for (std::vector<std::string> options : std::vector<std::vector<std::string>>{
             {}, {"--ascii"}, {"--dict", "1024"}, {"--ascii", "--dict=2048"}}) {
        std::vector<std::string> args = {"codec", "implode", (dir / "in").string(),
                                         (dir / "packed").string()};
        args.insert(args.end(), options.begin(), options.end());
        ToolResult packed = RunTool(args);
        ASSERT_EQ(packed.exit_status, 0) << packed.err;
        std::string stream = ReadFileBytes(dir / "packed");
        ASSERT_GE(stream.size(), 2u);
        EXPECT_EQ(stream[0], options.empty() || options[0] != "--ascii" ? 0 : 1);
        ToolResult unpacked =
            RunTool({"codec", "explode", (dir / "packed").string(), (dir / "out").string()});
        ASSERT_EQ(unpacked.exit_status, 0) << unpacked.err;
        EXPECT_EQ(ReadFileBytes(dir / "out"), SomeBytes());
    }
    // The default is what compressed cache records use: binary literals, 4096-byte dictionary.
    RunTool({"codec", "implode", (dir / "in").string(), (dir / "packed").string()});
    EXPECT_EQ(ReadFileBytes(dir / "packed").substr(0, 2), std::string("\x00\x06", 2));
}

TEST(CodecToolTest, ExplodeExitsWithTheExpanderResult) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "in", SomeBytes());
    RunTool({"codec", "implode", (dir / "in").string(), (dir / "packed").string()});
    std::string stream = ReadFileBytes(dir / "packed");
    struct Case {
        std::string bytes;
        int status;
    };
    std::string bad_dictionary = stream;
    bad_dictionary[1] = 7;
    std::string bad_mode = stream;
    bad_mode[0] = 2;
    for (const Case& c : {Case{bad_dictionary, 1}, Case{bad_mode, 2}, Case{stream.substr(0, 4), 3},
                          Case{stream.substr(0, 40), 4}}) {
        WriteFileBytes(dir / "bad", c.bytes);
        ToolResult result =
            RunTool({"codec", "explode", (dir / "bad").string(), (dir / "out").string()});
        EXPECT_EQ(result.exit_status, c.status);
        EXPECT_EQ(result.err.rfind("scopa codec: ", 0), 0u) << result.err;
    }
}

TEST(CodecToolTest, BadArgumentsAreUsageErrors) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "in", "abc");
    EXPECT_EQ(RunTool({"codec", "implode", (dir / "in").string()}).exit_status, 2);
    EXPECT_EQ(RunTool({"codec", "squash", "a", "b"}).exit_status, 2);
    EXPECT_EQ(
        RunTool({"codec", "implode", (dir / "in").string(), (dir / "o").string(), "--dict", "512"})
            .exit_status,
        2);
    EXPECT_EQ(
        RunTool({"codec", "explode", (dir / "missing").string(), (dir / "o").string()}).exit_status,
        1);
}

// Result 4 says which fault it was (both are told apart in implode_test.cpp); input after
// the end code is a warning, not a failure.
TEST(CodecToolTest, ExplodeSaysWhyAndCountsUnusedInput) {
    ScopedTempDir dir;
    WriteFileBytes(dir / "in", SomeBytes());
    RunTool({"codec", "implode", (dir / "in").string(), (dir / "packed").string()});
    std::string stream = ReadFileBytes(dir / "packed");
    auto explode = [&](const std::string& bytes) {
        WriteFileBytes(dir / "bad", bytes);
        return RunTool({"codec", "explode", (dir / "bad").string(), (dir / "out").string()});
    };
    ToolResult cut = explode(stream.substr(0, 40));
    EXPECT_EQ(cut.exit_status, 4);
    EXPECT_NE(cut.err.find(": input ends after 40 bytes, before the end code (result 4)"),
              std::string::npos)
        << cut.err;
    // Trailing bytes, fewer and more than one read of the expander.
    for (size_t trailing : {size_t{10}, size_t{5000}}) {
        ToolResult padded = explode(stream + std::string(trailing, 'x'));
        EXPECT_EQ(padded.exit_status, 0) << padded.err;
        EXPECT_EQ(padded.err, "scopa codec: warning: " + std::to_string(trailing) +
                                  " unused bytes of input after the end code\n");
        EXPECT_EQ(ReadFileBytes(dir / "out"), SomeBytes());
    }
    EXPECT_EQ(explode(stream).err, "");
}

}  // namespace
}  // namespace scopa::test
