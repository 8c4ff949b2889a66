// The implode codec: round trips of every block shape and mode, streams made by the published
// library's compressor (checked in, so this runs where that library is not installed),
// hand-made and hostile streams. The live cross-checks against the published library and
// another decoder are in implode_reference_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cache/implode.h"
#include "support/implode_streams.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;
namespace implode = scopa::implode;
using Bytes = std::vector<uint8_t>;

constexpr size_t kBlockBytes = 16384;
constexpr int kSide = 128;
constexpr uint8_t kWhite = 235;  // palette index of white in the colour cube

// ---- inputs ----

Bytes Random(uint32_t seed, size_t size = kBlockBytes) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>(generator());
    return bytes;
}

// A smooth picture dithered into the colour cube, as thumbnails of photographs look.
Bytes Dithered(uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> noise(-0.5, 0.5);
    Bytes bytes(kBlockBytes);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            double r = 5.0 * x / kSide + noise(generator);
            double g = 5.0 * y / kSide + noise(generator);
            double b = 2.5 + 2.5 * ((x * y) % 97) / 97.0 * noise(generator);
            auto level = [](double v) { return std::clamp(static_cast<int>(v + 0.5), 0, 5); };
            bytes[y * kSide + x] =
                static_cast<uint8_t>(20 + 36 * level(r) + 6 * level(g) + level(b));
        }
    }
    return bytes;
}

struct Input {
    std::string name;
    Bytes bytes;
};

// Block shapes (a 128 x 96 picture over white, pairs repeating at every distance around 256,
// the farthest a 2-byte copy reaches, all-distinct pairs as close to literal-only as data
// gets), a long mixed input over which both sides slide their windows many times, and tiny
// inputs.
std::vector<Input> Inputs() {
    std::vector<Input> inputs = {{"white", Bytes(kBlockBytes, kWhite)},
                                 {"uniform", Bytes(kBlockBytes, 129)},
                                 {"zero", Bytes(kBlockBytes, 0)},
                                 {"dithered", Dithered(3)}};
    for (uint32_t seed = 0; seed < 4; ++seed)
        inputs.push_back({"random " + std::to_string(seed), Random(seed)});
    Bytes partial = Dithered(7);
    std::fill(partial.begin() + 96 * kSide, partial.end(), kWhite);
    inputs.push_back({"mostly-white-partial", partial});
    Bytes pairs = Random(5);
    for (size_t i = 300; i + 1 < pairs.size(); i += 5) {
        pairs[i] = pairs[i - 257 - (i % 40)];
        pairs[i + 1] = pairs[i - 256 - (i % 40)];
    }
    inputs.push_back({"pairs-far-back", pairs});
    Bytes distinct(kBlockBytes);
    for (size_t i = 0; i < distinct.size(); ++i)
        distinct[i] = static_cast<uint8_t>((i * 167) >> 3);
    inputs.push_back({"distinct-pairs", distinct});
    Bytes mixed;
    for (uint32_t part = 0; part < 8; ++part) {
        Bytes piece = part % 3 == 0 ? Random(part, 5000) : Dithered(part);
        mixed.insert(mixed.end(), piece.begin(), piece.end());
    }
    inputs.push_back({"long-mixed", mixed});
    for (size_t size = 1; size <= 20; ++size) {
        Bytes tiny = Random(static_cast<uint32_t>(size), size);
        tiny.resize(size / 2 + 1, 'x');
        tiny.resize(size, 'y');
        inputs.push_back({"tiny " + std::to_string(size), tiny});
    }
    return inputs;
}

Bytes Compressed(const Bytes& input, unsigned mode = 0, unsigned dictionary = 4096) {
    Bytes stream;
    EXPECT_EQ(implode::CompressBytes(input, stream, mode, dictionary), implode::kResultOk);
    return stream;
}

// ---- round trips ----

TEST(ImplodeTest, EveryInputRoundTripsInEveryModeAndBlocksFitTheStreamBound) {
    for (const Input& input : Inputs()) {
        for (unsigned mode : {implode::kLiteralsBinary, implode::kLiteralsAscii}) {
            for (unsigned dictionary : {1024u, 2048u, 4096u}) {
                SCOPED_TRACE(input.name + " mode " + std::to_string(mode) + " dictionary " +
                             std::to_string(dictionary));
                Bytes stream = Compressed(input.bytes, mode, dictionary);
                Bytes output;
                ASSERT_EQ(implode::ExpandBytes(stream, output), implode::kResultOk);
                EXPECT_EQ(output, input.bytes);
                if (input.bytes.size() == kBlockBytes && mode == 0 && dictionary == 4096) {
                    EXPECT_LE(stream.size(), implode::kMaxStreamBytesPerBlock);
                }
            }
        }
    }
}

// Feeds `bytes` through a read callback `first` bytes at the first call and `rest` after it,
// gathering what the write callback gets (never more than `max_write` at once).
struct Pieces {
    const Bytes* bytes;
    size_t first, rest, max_write;
    size_t position = 0;
    Bytes output;

    static unsigned Read(unsigned char* buffer, unsigned*, void* context) {
        auto* p = static_cast<Pieces*>(context);
        size_t count =
            std::min(p->position == 0 ? p->first : p->rest, p->bytes->size() - p->position);
        std::copy_n(p->bytes->begin() + static_cast<long>(p->position), count, buffer);
        p->position += count;
        return static_cast<unsigned>(count);
    }
    static void Write(unsigned char* buffer, unsigned* size, void* context) {
        auto* p = static_cast<Pieces*>(context);
        EXPECT_LE(*size, p->max_write);
        p->output.insert(p->output.end(), buffer, buffer + *size);
    }
};

TEST(ImplodeTest, ReadsAndWritesInAnyPieceSizes) {
    // One byte per read: the compressor's output must not depend on how input arrives.
    Bytes input = Dithered(11);
    Pieces compress{&input, 1, 1, 2048, 0, {}};
    implode::CompressWorkArea work;
    ASSERT_EQ(implode::Compress(Pieces::Read, Pieces::Write, work, &compress,
                                implode::kLiteralsBinary, 4096),
              implode::kResultOk);
    EXPECT_EQ(compress.output, Compressed(input));
    // Expansion with a first read of 5 bytes and single bytes after it.
    Pieces expand{&compress.output, 5, 1, 4096, 0, {}};
    implode::ExpandWorkArea expand_work;
    ASSERT_EQ(implode::Expand(Pieces::Read, Pieces::Write, expand_work, &expand),
              implode::kResultOk);
    EXPECT_EQ(expand.output, input);
}

TEST(ImplodeTest, SharedThumbnailBlocksRoundTripAndStaySmall) {
    // Real thumbnails from the shared benchmark data, with the sizes another implementation's
    // streams of them have; skipped where that folder is not beside the checkout.
    fs::path dir = SharedThumbnailBlocksDir();
    std::ifstream table(dir.parent_path() / "thumbnail-blocks.tsv");
    if (dir.empty() || !table) GTEST_SKIP() << "no shared thumbnail blocks";
    std::string line;
    std::getline(table, line);
    size_t input_bytes = 0, our_bytes = 0, their_bytes = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name, kind;
        size_t their_size = 0;
        fields >> name >> kind >> their_size;
        SCOPED_TRACE(name);
        std::string block = ReadFileBytes(dir / name);
        ASSERT_EQ(block.size(), kBlockBytes);
        Bytes input(block.begin(), block.end());
        Bytes stream = Compressed(input);
        Bytes output;
        ASSERT_EQ(implode::ExpandBytes(stream, output), implode::kResultOk);
        EXPECT_EQ(output, input);
        EXPECT_LE(stream.size(), implode::kMaxStreamBytesPerBlock);
        if (kind == "synthetic") continue;
        input_bytes += input.size();
        our_bytes += stream.size();
        their_bytes += their_size;
    }
    ASSERT_GT(input_bytes, 0u);
    EXPECT_LE(our_bytes, their_bytes);
    EXPECT_LE(static_cast<double>(our_bytes) / static_cast<double>(input_bytes), 0.340);
}

// ---- streams made elsewhere ----

TEST(ImplodeTest, ThePublishedExampleStreamExpandsAndIsWhatWeMake) {
    // The format description's example: dictionary bits 4, literals A and I, then one copy.
    const Bytes stream = {0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f};
    const std::string text = "AIAIAIAIAIAIA";
    Bytes output;
    ASSERT_EQ(implode::ExpandBytes(stream, output), implode::kResultOk);
    EXPECT_EQ(std::string(output.begin(), output.end()), text);
    EXPECT_EQ(Compressed(output, implode::kLiteralsBinary, 1024), stream);
}

TEST(ImplodeTest, StreamsOfThePublishedLibraryExpandAndOursAreNoLonger) {
    // Short ones written out here: copies of lengths 2 and 3, both literal modes.
    const std::pair<const char*, Bytes> short_streams[] = {
        {"ABCxyzABCq",
         {0x00, 0x06, 0x82, 0x08, 0x19, 0x82, 0x27, 0x8f, 0xde, 0x2f, 0xc4, 0x05, 0xfc, 0x03}},
        {"abXYZabWabQQab",
         {0x00, 0x06, 0xc2, 0x88, 0xc1, 0x92, 0x45, 0x6b, 0x1b, 0x57, 0xbb, 0xa2, 0x44, 0xed, 0x07,
          0xfc, 0x03}},
        {"xyxyxyxyxyxyxyxyxyxyxyxyxyxyxyxyxyxyxyxy",
         {0x00, 0x06, 0xf0, 0xe4, 0x85, 0xfd, 0x20, 0xe0, 0x1f}},
        {"The rain in Spain stays mainly in the plain",
         {0x01, 0x04, 0x2c, 0x8a, 0xed, 0x35, 0xc7, 0x32, 0xfc, 0x17,
          0x36, 0x69, 0x46, 0x55, 0x71, 0xc0, 0xa9, 0x9e, 0xfc, 0xd5,
          0x04, 0x37, 0x5d, 0xca, 0x2b, 0x48, 0xe6, 0xf7, 0x80, 0x7f}},
    };
    for (const auto& [text, stream] : short_streams) {
        Bytes output;
        ASSERT_EQ(implode::ExpandBytes(stream, output), implode::kResultOk) << text;
        EXPECT_EQ(std::string(output.begin(), output.end()), text);
    }
    for (const ImplodeStreamCase& c : ImplodeStreamCases()) {
        SCOPED_TRACE(c.name);
        Bytes theirs = ReadImplodeStream(c);
        ASSERT_FALSE(theirs.empty());
        Bytes output;
        ASSERT_EQ(implode::ExpandBytes(theirs, output), implode::kResultOk);
        EXPECT_EQ(output, c.input);
        Bytes ours = Compressed(c.input, c.literal_mode, c.dictionary_bytes);
        EXPECT_EQ(Bytes(ours.begin(), ours.begin() + 2), Bytes(theirs.begin(), theirs.begin() + 2));
        EXPECT_LE(ours.size(), theirs.size());
    }
    // Here the copies leave no choice, so both compressors make the same bytes: our literal
    // code, header and end code against theirs, byte for byte.
    ImplodeStreamCase every_byte = ImplodeStreamCases()[1];
    EXPECT_EQ(Compressed(every_byte.input, 1, 1024), ReadImplodeStream(every_byte));
}

// ---- hostile streams ----

TEST(ImplodeTest, BadHeadersSettingsAndShortInputsAreRefusedWithoutOutput) {
    Bytes good = Compressed(Dithered(2));
    // Even a complete stream is refused below 5 bytes: the empty input compresses to 4.
    Bytes empty_stream = Compressed({});
    ASSERT_EQ(empty_stream.size(), 4u);
    const std::pair<Bytes, int> cases[] = {
        {{0, 7}, implode::kResultBadDictionary},    {{0, 3}, implode::kResultBadDictionary},
        {{2, 6}, implode::kResultBadLiteralMode},   {{0xFF, 6}, implode::kResultBadLiteralMode},
        {empty_stream, implode::kResultShortInput}, {{}, implode::kResultShortInput},
    };
    for (const auto& [start, result] : cases) {
        Bytes stream = start;
        if (stream.size() == 2) stream.insert(stream.end(), good.begin() + 2, good.end());
        Bytes output;
        EXPECT_EQ(implode::ExpandBytes(stream, output), result) << stream.size();
        EXPECT_TRUE(output.empty());
    }
    Bytes output;
    EXPECT_EQ(implode::CompressBytes(good, output, 0, 3000), implode::kResultBadDictionary);
    EXPECT_EQ(implode::CompressBytes(good, output, 0, 8192), implode::kResultBadDictionary);
    EXPECT_EQ(implode::CompressBytes(good, output, 2, 4096), implode::kResultBadLiteralMode);
}

TEST(ImplodeTest, RandomGarbageNeverCrashesOrOverruns) {
    for (uint32_t seed = 0; seed < 300; ++seed) {
        Bytes stream = Random(seed, 5 + seed % 600);
        stream[0] = static_cast<uint8_t>(seed % 2);
        stream[1] = static_cast<uint8_t>(4 + seed % 3);
        Bytes output;
        int result = implode::ExpandBytes(stream, output, 1 << 20);
        EXPECT_TRUE(result == implode::kResultOk || result == implode::kResultNoEndCode);
    }
}

// Result 4 keeps what was decoded before the fault and says which fault it was.
TEST(ImplodeDetailTest, ResultFourKeepsTheOutputSoFarAndSaysWhy) {
    Bytes input = Dithered(4);
    Bytes stream = Compressed(input);
    auto cut = [&](size_t keep) { return Bytes(stream.begin(), stream.begin() + keep); };
    struct Case {
        Bytes stream;
        size_t limit;
        implode::ExpandFault fault;
        const char* words;  // nullptr: only the fault is checked
        Bytes output;       // what was decoded; empty: a prefix of `input`
    };
    const Case cases[] = {
        {cut(5), SIZE_MAX, implode::ExpandFault::kInputEnded, nullptr, {}},
        {cut(stream.size() / 2), SIZE_MAX, implode::ExpandFault::kInputEnded, nullptr, {}},
        {cut(stream.size() - 2), SIZE_MAX, implode::ExpandFault::kInputEnded, nullptr, {}},
        {cut(100),
         SIZE_MAX,
         implode::ExpandFault::kInputEnded,
         "input ends after 100 bytes, before the end code",
         {}},
        // A copy as the first token, every bit after its flag zero: the last length symbol
        // and the last distance symbol with six low bits, 63 x 64 + 1 = 4033 bytes back.
        {{0x00, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00},
         SIZE_MAX,
         implode::ExpandFault::kDistanceTooFar,
         "a copy at output byte 0 reaches 4033 bytes back, before the start of the output",
         {}},
        // The literal 'A', then a copy of length 3 reaching 2 bytes back: one too far.
        {{0x00, 0x04, 0x82, 0x7E, 0x00, 0x00, 0x00, 0x00},
         SIZE_MAX,
         implode::ExpandFault::kDistanceTooFar,
         nullptr,
         {'A'}},
        {stream,
         1000,
         implode::ExpandFault::kOutputLimit,
         "output reaches its limit of 1000 bytes before the end code",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.stream.size()) + " bytes, limit " + std::to_string(c.limit));
        Bytes output;
        implode::ExpandDetail detail;
        EXPECT_EQ(implode::ExpandBytes(c.stream, output, c.limit, &detail),
                  implode::kResultNoEndCode);
        EXPECT_EQ(detail.fault, c.fault);
        if (c.words != nullptr) {
            EXPECT_EQ(implode::DescribeExpandFault(detail), c.words);
        }
        if (!c.output.empty()) {
            EXPECT_EQ(output, c.output);
        } else {
            ASSERT_LE(output.size(), input.size());
            EXPECT_TRUE(std::equal(output.begin(), output.end(), input.begin()));
        }
        if (c.limit != SIZE_MAX) {
            EXPECT_EQ(output.size(), c.limit);
        }
    }
}

TEST(ImplodeDetailTest, InputAfterTheEndCodeIsCountedAsUnused) {
    Bytes input = Dithered(5);
    Bytes stream = Compressed(input);
    // Trailing bytes within the first read, across the read size, and none at all.
    for (size_t trailing : {size_t{0}, size_t{1}, size_t{37}, size_t{5000}}) {
        Bytes padded = stream;
        padded.insert(padded.end(), trailing, 0xA5);
        Bytes output;
        implode::ExpandDetail detail;
        ASSERT_EQ(implode::ExpandBytes(padded, output, SIZE_MAX, &detail), implode::kResultOk);
        EXPECT_EQ(output, input);
        EXPECT_EQ(detail.fault, implode::ExpandFault::kNone);
        EXPECT_EQ(detail.output_bytes, input.size());
        // What the expander read past the end code plus what it never had to read.
        EXPECT_EQ(detail.unused_input_bytes + (padded.size() - detail.input_bytes), trailing);
    }
}

}  // namespace
}  // namespace scopa::test
