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

class CodecToolTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFileBytes(m_dir / "in", SomeBytes()); }
    // Implodes the test bytes with `options`: the stream, or "" when the tool failed.
    std::string Implode(const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = {"codec", "implode", (m_dir / "in").string(),
                                         (m_dir / "packed").string()};
        args.insert(args.end(), options.begin(), options.end());
        ToolResult packed = RunTool(args);
        EXPECT_EQ(packed.exit_status, 0) << packed.err;
        return packed.exit_status == 0 ? ReadFileBytes(m_dir / "packed") : "";
    }
    ToolResult Explode(const std::string& stream) {
        WriteFileBytes(m_dir / "stream", stream);
        return RunTool({"codec", "explode", (m_dir / "stream").string(), (m_dir / "out").string()});
    }
    ScopedTempDir m_dir;
};

TEST_F(CodecToolTest, ImplodeThenExplodeGivesTheFileBack) {
    for (std::vector<std::string> options : std::vector<std::vector<std::string>>{
             {}, {"--ascii"}, {"--dict", "1024"}, {"--ascii", "--dict=2048"}}) {
        std::string stream = Implode(options);
        ASSERT_GE(stream.size(), 2u);
        EXPECT_EQ(stream[0], options.empty() || options[0] != "--ascii" ? 0 : 1);
        ToolResult unpacked = Explode(stream);
        ASSERT_EQ(unpacked.exit_status, 0) << unpacked.err;
        EXPECT_EQ(unpacked.err, "");
        EXPECT_EQ(ReadFileBytes(m_dir / "out"), SomeBytes());
    }
    // The default is what compressed cache records use: binary literals, 4096-byte dictionary.
    EXPECT_EQ(Implode().substr(0, 2), std::string("\x00\x06", 2));
}

// Each failure of the expander is the exit status, and result 4 says which fault it was (both
// are told apart in implode_test.cpp).
TEST_F(CodecToolTest, ExplodeExitsWithTheExpanderResult) {
    const std::string stream = Implode();
    std::string bad_dictionary = stream;
    bad_dictionary[1] = 7;
    std::string bad_mode = stream;
    bad_mode[0] = 2;
    const std::pair<std::string, int> cases[] = {
        {bad_dictionary, 1}, {bad_mode, 2}, {stream.substr(0, 4), 3}, {stream.substr(0, 40), 4}};
    for (const auto& [bytes, status] : cases) {
        ToolResult result = Explode(bytes);
        EXPECT_EQ(result.exit_status, status);
        EXPECT_EQ(result.err.rfind("scopa codec: ", 0), 0u) << result.err;
    }
    EXPECT_NE(Explode(stream.substr(0, 40))
                  .err.find(": input ends after 40 bytes, before the end code (result 4)"),
              std::string::npos);
}

// Input after the end code is a warning, not a failure: trailing bytes fewer and more than one
// read of the expander.
TEST_F(CodecToolTest, ExplodeCountsUnusedInput) {
    const std::string stream = Implode();
    for (size_t trailing : {size_t{10}, size_t{5000}}) {
        ToolResult padded = Explode(stream + std::string(trailing, 'x'));
        EXPECT_EQ(padded.exit_status, 0) << padded.err;
        EXPECT_EQ(padded.err, "scopa codec: warning: " + std::to_string(trailing) +
                                  " unused bytes of input after the end code\n");
        EXPECT_EQ(ReadFileBytes(m_dir / "out"), SomeBytes());
    }
}

TEST_F(CodecToolTest, BadArgumentsAreUsageErrors) {
    const std::string in = (m_dir / "in").string();
    const std::string out = (m_dir / "o").string();
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"codec", "implode", in}, 2},
        {{"codec", "squash", in, out}, 2},
        {{"codec", "implode", in, out, "--dict", "512"}, 2},
        {{"codec", "explode", (m_dir / "missing").string(), out}, 1},
    };
    for (const auto& [args, status] : cases)
        EXPECT_EQ(RunTool(args).exit_status, status) << ::testing::PrintToString(args);
}

}  // namespace
}  // namespace scopa::test
