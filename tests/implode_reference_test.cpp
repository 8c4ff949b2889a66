// Our implode codec against the published library (Debian's libstorm) and Debian's "dynamite"
// decoder: every shared thumbnail block both ways, every literal mode and dictionary size, and
// hand-made streams whose codes are written bit by bit from the format's published code values.
// Built only where libstorm is installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cache/implode.h"
#include "storm_codec.h"
#include "support/implode_streams.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;
namespace implode = scopa::implode;
using Bytes = std::vector<uint8_t>;

constexpr const char* kDynamite = "/usr/bin/dynamite";

Bytes Ours(const Bytes& input, unsigned mode = 0, unsigned dictionary = 4096) {
    Bytes stream;
    EXPECT_EQ(implode::CompressBytes(input, stream, mode, dictionary), implode::kResultOk);
    return stream;
}

// What dynamite makes of a stream; empty when it fails.
Bytes Dynamite(const ScopedTempDir& dir, const Bytes& stream) {
    WriteFileBytes(dir / "stream", std::string(stream.begin(), stream.end()));
    fs::remove(dir / "out");
    std::string command = std::string("timeout 30 ") + kDynamite + " '" +
                          (dir / "stream").string() + "' '" + (dir / "out").string() +
                          "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    std::string out = ReadFileBytes(dir / "out");
    return Bytes(out.begin(), out.end());
}

class ImplodeReferenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kDynamite)) GTEST_SKIP() << "dynamite is not installed";
    }
    storm::StormCodec m_storm;
    ScopedTempDir m_dir;
};

TEST_F(ImplodeReferenceTest, EverySharedBlockCrossChecksBothWays) {
    if (!fs::is_directory(SharedThumbnailBlocksDir())) GTEST_SKIP() << "no shared thumbnail blocks";
    size_t blocks = 0, our_bytes = 0, their_bytes = 0;
    for (const auto& item : fs::directory_iterator(SharedThumbnailBlocksDir())) {
        if (item.path().extension() != ".blk") continue;
        SCOPED_TRACE(item.path().filename().string());
        std::string text = ReadFileBytes(item.path());
        Bytes block(text.begin(), text.end());
        ASSERT_EQ(block.size(), 16384u);
        ++blocks;

        Bytes ours = Ours(block);
        Bytes output;
        ASSERT_EQ(m_storm.Explode(ours, output), 0u);
        EXPECT_EQ(output, block);
        EXPECT_EQ(Dynamite(m_dir, ours), block);

        Bytes theirs;
        ASSERT_EQ(m_storm.Implode(block, theirs), 0u);
        ASSERT_EQ(implode::ExpandBytes(theirs, output), implode::kResultOk);
        EXPECT_EQ(output, block);
        our_bytes += ours.size();
        their_bytes += theirs.size();
    }
    EXPECT_GE(blocks, 99u);
    EXPECT_LE(our_bytes, their_bytes);
}

TEST_F(ImplodeReferenceTest, EveryModeAndDictionaryCrossChecks) {
    Bytes text(12000);
    const std::string words = "the quick brown fox jumps over the lazy dog 0123456789\r\n";
    std::mt19937 generator(4);
    for (auto& byte : text)
        byte = static_cast<uint8_t>(words[generator() % 9 == 0 ? generator() % 56 : 0]);
    for (size_t i = 0; i < text.size(); ++i)
        if (i % 3 != 0) text[i] = static_cast<uint8_t>(words[(i * 7) % 56]);
    Bytes binary(9000);
    for (auto& byte : binary)
        byte = static_cast<uint8_t>(generator() % 7 == 0 ? generator() : 20 + generator() % 4);
    const std::string short_text = "ABCxyzABCq";  // one three-byte copy
    Bytes short_input(short_text.begin(), short_text.end());
    for (const Bytes* input : {&text, &binary, &short_input}) {
        for (unsigned mode : {0u, 1u}) {
            for (unsigned dictionary : {1024u, 2048u, 4096u}) {
                SCOPED_TRACE(std::to_string(input->size()) + " bytes, mode " +
                             std::to_string(mode) + " dictionary " + std::to_string(dictionary));
                Bytes ours = Ours(*input, mode, dictionary);
                Bytes output;
                ASSERT_EQ(m_storm.Explode(ours, output), 0u);
                EXPECT_EQ(output, *input);
                if (mode == 0) {  // dynamite knows binary literals only
                    EXPECT_EQ(Dynamite(m_dir, ours), *input);
                }
                Bytes theirs;
                ASSERT_EQ(m_storm.Implode(*input, theirs, mode, dictionary), 0u);
                ASSERT_EQ(implode::ExpandBytes(theirs, output), implode::kResultOk);
                EXPECT_EQ(output, *input);
            }
        }
    }
}

// Writes tokens with the published stream values of the codes (first stream bit lowest), so
// these streams do not depend on our code tables.
struct HandStream {
    Bytes bytes{0x00, 0x06};  // binary literals, 4096-byte dictionary
    Bytes expected;
    unsigned bit_count = 0;

    void Put(unsigned value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            if (bit_count % 8 == 0) bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1) << (bit_count % 8));
            ++bit_count;
        }
    }
    void Literal(uint8_t byte) {
        Put(0, 1);
        Put(byte, 8);
        expected.push_back(byte);
    }
    // `length_code`, `length_bits`: the published code of the length symbol; `extra` its
    // extra bits; the distance high part `high` with its code.
    void Copy(unsigned length, unsigned length_code, unsigned length_bits, unsigned extra,
              unsigned extra_bits, unsigned distance_code, unsigned distance_bits,
              unsigned distance) {
        unsigned low_bits = length == 2 ? 2 : 6;
        Put(1, 1);
        Put(length_code, length_bits);
        Put(extra, extra_bits);
        Put(distance_code, distance_bits);
        Put((distance - 1) & ((1u << low_bits) - 1), low_bits);
        for (unsigned i = 0; i < length; ++i)
            expected.push_back(expected[expected.size() - distance]);
    }
    void End() {
        Put(1, 1);
        Put(0x00, 7);  // length symbol 15 (264 and up)
        Put(255, 8);   // 264 + 255 = 519, the end code
    }
};

TEST_F(ImplodeReferenceTest, HandMadeCopiesDecodeTheSameEverywhere) {
    HandStream stream;
    std::mt19937 generator(8);
    for (unsigned i = 0; i < 4100; ++i)
        stream.Literal(static_cast<uint8_t>(generator()));
    // Length 2 (code 101, 3 bits) from 256 back: high part 63 (8-bit code 0x00), low 3.
    stream.Copy(2, 0x05, 3, 0, 0, 0x00, 8, 256);
    // Length 2 from 1 back: high part 0 (2-bit code 11).
    stream.Copy(2, 0x05, 3, 0, 0, 0x03, 2, 1);
    // Length 3 (code 11, 2 bits) from 7 back.
    stream.Copy(3, 0x03, 2, 0, 0, 0x03, 2, 7);
    // Length 3 from 4096 back: high part 63, low 63.
    stream.Copy(3, 0x03, 2, 0, 0, 0x00, 8, 4096);
    // Length 518 (symbol 15, extra 254) from 4096 back, then from 1 back.
    stream.Copy(518, 0x00, 7, 254, 8, 0x00, 8, 4096);
    stream.Copy(518, 0x00, 7, 254, 8, 0x03, 2, 1);
    // Length 4 (code 001, 3 bits) from 65 back: high part 1 (4-bit code 1011), low 0.
    stream.Copy(4, 0x01, 3, 0, 0, 0x0D, 4, 65);
    stream.End();

    Bytes output;
    ASSERT_EQ(implode::ExpandBytes(stream.bytes, output), implode::kResultOk);
    EXPECT_EQ(output, stream.expected);
    ASSERT_EQ(m_storm.Explode(stream.bytes, output), 0u);
    EXPECT_EQ(output, stream.expected);
    EXPECT_EQ(Dynamite(m_dir, stream.bytes), stream.expected);
}

// The streams implode_test.cpp expands are exactly what the published library makes.
TEST(ImplodeStreamsTest, TheCheckedInStreamsAreThePublishedLibrarys) {
    storm::StormCodec storm;
    for (const ImplodeStreamCase& c : ImplodeStreamCases()) {
        Bytes theirs;
        ASSERT_EQ(storm.Implode(c.input, theirs, c.literal_mode, c.dictionary_bytes), 0u);
        EXPECT_EQ(theirs, ReadImplodeStream(c)) << c.name;
    }
}

}  // namespace
}  // namespace scopa::test
