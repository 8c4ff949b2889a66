// The implode codec: round trips of every block shape and mode, streams made by the published
// library's compressor (checked in, so this runs where that library is not installed),
// hand-made and hostile streams. The live cross-checks against the published library and
// another decoder are in implode_reference_test.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cache/implode.h"
#include "cache/implode_codes.h"
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

// ---- block shapes ----

Bytes Uniform(uint8_t value) {
    return Bytes(kBlockBytes, value);
}

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

// A 128 x 96 picture in the top-left corner, the rest white.
Bytes MostlyWhitePartial() {
    Bytes bytes = Dithered(7);
    for (size_t i = 96 * kSide; i < kBlockBytes; ++i)
        bytes[i] = kWhite;
    return bytes;
}

// Pairs that repeat at every distance around 256, the farthest a 2-byte copy reaches: a
// compressor that ignored that limit would code them wrongly.
Bytes PairsFarBack() {
    Bytes bytes = Random(5);
    for (size_t i = 300; i + 1 < bytes.size(); i += 5) {
        bytes[i] = bytes[i - 257 - (i % 40)];
        bytes[i + 1] = bytes[i - 256 - (i % 40)];
    }
    return bytes;
}

struct Shape {
    const char* name;
    Bytes bytes;
};

std::vector<Shape> BlockShapes() {
    return {{"white", Uniform(kWhite)},
            {"uniform", Uniform(129)},
            {"zero", Uniform(0)},
            {"random", Random(1)},
            {"dithered", Dithered(3)},
            {"mostly-white-partial", MostlyWhitePartial()},
            {"pairs-far-back", PairsFarBack()}};
}

Bytes Compressed(const Bytes& input, unsigned mode = 0, unsigned dictionary = 4096) {
    Bytes stream;
    EXPECT_EQ(implode::CompressBytes(input, stream, mode, dictionary), implode::kResultOk);
    return stream;
}

// ---- round trips ----

TEST(ImplodeTest, EveryBlockShapeRoundTripsInEveryMode) {
    for (const Shape& shape : BlockShapes()) {
        for (unsigned mode : {implode::kLiteralsBinary, implode::kLiteralsAscii}) {
            for (unsigned dictionary : {1024u, 2048u, 4096u}) {
                SCOPED_TRACE(std::string(shape.name) + " mode " + std::to_string(mode) +
                             " dictionary " + std::to_string(dictionary));
                Bytes stream = Compressed(shape.bytes, mode, dictionary);
                Bytes output;
                ASSERT_EQ(implode::ExpandBytes(stream, output), implode::kResultOk);
                EXPECT_EQ(output, shape.bytes);
            }
        }
    }
}

TEST(ImplodeTest, LongMixedInputRoundTripsAcrossManyBlocks) {
    // Over 100 KB: the compressor slides its buffer many times, the expander its window.
    Bytes input;
    for (uint32_t part = 0; part < 8; ++part) {
        Bytes piece = part % 3 == 0 ? Random(part, 5000) : Dithered(part);
        input.insert(input.end(), piece.begin(), piece.end());
    }
    for (unsigned dictionary : {1024u, 4096u}) {
        Bytes output;
        ASSERT_EQ(implode::ExpandBytes(Compressed(input, 0, dictionary), output),
                  implode::kResultOk);
        EXPECT_EQ(output, input);
    }
}

TEST(ImplodeTest, TinyInputsRoundTrip) {
    for (size_t size = 1; size <= 20; ++size) {
        Bytes input = Random(static_cast<uint32_t>(size), size);
        input.resize(size / 2 + 1, 'x');
        input.resize(size, 'y');
        Bytes output;
        ASSERT_EQ(implode::ExpandBytes(Compressed(input), output), implode::kResultOk) << size;
        EXPECT_EQ(output, input);
    }
}

TEST(ImplodeTest, ReadsAndWritesInAnyPieceSizes) {
    // One byte per read: the compressor's output must not depend on how input arrives.
    Bytes input = Dithered(11);
    struct Source {
        const Bytes* bytes;
        size_t position = 0;
        Bytes output;
    } source{&input, 0, {}};
    implode::CompressWorkArea work;
    int result = implode::Compress(
        [](unsigned char* buffer, unsigned*, void* context) -> unsigned {
            auto* s = static_cast<Source*>(context);
            if (s->position == s->bytes->size()) return 0;
            buffer[0] = (*s->bytes)[s->position++];
            return 1;
        },
        [](unsigned char* buffer, unsigned* size, void* context) {
            EXPECT_LE(*size, 2048u);
            auto* s = static_cast<Source*>(context);
            s->output.insert(s->output.end(), buffer, buffer + *size);
        },
        work, &source, implode::kLiteralsBinary, 4096);
    ASSERT_EQ(result, implode::kResultOk);
    EXPECT_EQ(source.output, Compressed(input));

    // Expansion with a first read of 5 bytes and single bytes after it.
    Bytes stream = source.output;
    struct Sink {
        const Bytes* stream;
        size_t position = 0;
        Bytes output;
    } sink{&stream, 0, {}};
    implode::ExpandWorkArea expand_work;
    result = implode::Expand(
        [](unsigned char* buffer, unsigned*, void* context) -> unsigned {
            auto* s = static_cast<Sink*>(context);
            size_t count =
                std::min<size_t>(s->position == 0 ? 5 : 1, s->stream->size() - s->position);
            std::copy_n(s->stream->begin() + static_cast<long>(s->position), count, buffer);
            s->position += count;
            return static_cast<unsigned>(count);
        },
        [](unsigned char* buffer, unsigned* size, void* context) {
            EXPECT_LE(*size, 4096u);
            auto* s = static_cast<Sink*>(context);
            s->output.insert(s->output.end(), buffer, buffer + *size);
        },
        expand_work, &sink);
    ASSERT_EQ(result, implode::kResultOk);
    EXPECT_EQ(sink.output, input);
}

TEST(ImplodeTest, SharedThumbnailBlocksRoundTripAndStaySmall) {
    // Real thumbnails from the shared benchmark data, with the sizes another implementation's
    // streams of them have; skipped where that folder is not beside the checkout.
    fs::path dir = fs::path(SCOPA_SOURCE_DIR) / ".." / "shared" / "bench";
    if (!fs::exists(dir)) dir = fs::path(SCOPA_SOURCE_DIR) / ".." / ".." / "shared" / "bench";
    std::ifstream table(dir / "thumbnail-blocks.tsv");
    if (!table) GTEST_SKIP() << "no shared thumbnail blocks";
    std::string line;
    std::getline(table, line);
    size_t input_bytes = 0, our_bytes = 0, their_bytes = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name, kind;
        size_t their_size = 0;
        fields >> name >> kind >> their_size;
        std::string block = ReadFileBytes(dir / "thumbnail-blocks" / name);
        ASSERT_EQ(block.size(), kBlockBytes) << name;
        Bytes input(block.begin(), block.end());
        Bytes stream = Compressed(input);
        Bytes output;
        ASSERT_EQ(implode::ExpandBytes(stream, output), implode::kResultOk) << name;
        EXPECT_EQ(output, input) << name;
        EXPECT_LE(stream.size(), implode::kMaxStreamBytesPerBlock) << name;
        if (kind == "synthetic") continue;
        input_bytes += input.size();
        our_bytes += stream.size();
        their_bytes += their_size;
    }
    ASSERT_GT(input_bytes, 0u);
    EXPECT_LE(our_bytes, their_bytes);
    EXPECT_LE(static_cast<double>(our_bytes) / static_cast<double>(input_bytes), 0.340);
}

// ---- stream shape ----

TEST(ImplodeTest, WorstCaseBlockFitsTheStreamBound) {
    for (uint32_t seed = 0; seed < 4; ++seed) {
        EXPECT_LE(Compressed(Random(seed)).size(), implode::kMaxStreamBytesPerBlock);
    }
    // All-distinct-pair input: as close to literal-only as data gets.
    Bytes input(kBlockBytes);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<uint8_t>((i * 167) >> 3);
    EXPECT_LE(Compressed(input).size(), implode::kMaxStreamBytesPerBlock);
}

// ---- hand-made streams ----

TEST(ImplodeTest, ThePublishedExampleStreamExpandsAndIsWhatWeMake) {
    // The format description's example: dictionary bits 4, literals A and I, then one copy.
    const Bytes stream = {0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f};
    const std::string text = "AIAIAIAIAIAIA";
    Bytes output;
    ASSERT_EQ(implode::ExpandBytes(stream, output), implode::kResultOk);
    EXPECT_EQ(std::string(output.begin(), output.end()), text);
    EXPECT_EQ(Compressed(output, implode::kLiteralsBinary, 1024), stream);
}

TEST(ImplodeTest, ExpandsStreamsOfThePublishedLibrary) {
    // Made by the published library's implode (copies of lengths 2 and 3, both literal modes).
    struct Case {
        const char* text;
        Bytes stream;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        Bytes output;
        ASSERT_EQ(implode::ExpandBytes(c.stream, output), implode::kResultOk) << c.text;
        EXPECT_EQ(std::string(output.begin(), output.end()), c.text);
    }
}

TEST(ImplodeTest, LargerStreamsOfThePublishedLibraryExpandAndOursAreNoLonger) {
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

TEST(ImplodeTest, BadHeadersAreRefusedWithoutOutput) {
    Bytes good = Compressed(Dithered(2));
    struct Case {
        uint8_t mode;
        uint8_t dictionary_bits;
        int result;
    };
    for (Case c :
         {Case{0, 7, implode::kResultBadDictionary}, Case{0, 3, implode::kResultBadDictionary},
          Case{2, 6, implode::kResultBadLiteralMode},
          Case{0xFF, 6, implode::kResultBadLiteralMode}}) {
        Bytes stream = good;
        stream[0] = c.mode;
        stream[1] = c.dictionary_bits;
        Bytes output;
        EXPECT_EQ(implode::ExpandBytes(stream, output), c.result);
        EXPECT_TRUE(output.empty());
    }
}

TEST(ImplodeTest, FirstReadBelowFiveBytesIsRefused) {
    // Even a complete stream: the empty input compresses to 4 bytes, which is too short.
    Bytes empty_stream = Compressed({});
    ASSERT_EQ(empty_stream.size(), 4u);
    Bytes output;
    EXPECT_EQ(implode::ExpandBytes(empty_stream, output), implode::kResultShortInput);
    EXPECT_EQ(implode::ExpandBytes(Bytes{}, output), implode::kResultShortInput);
}

TEST(ImplodeTest, StreamCutShortKeepsWhatWasDecodedAndReports4) {
    Bytes input = Dithered(4);
    Bytes stream = Compressed(input);
    for (size_t keep : {size_t{5}, stream.size() / 2, stream.size() - 2}) {
        Bytes output;
        EXPECT_EQ(implode::ExpandBytes(Bytes(stream.begin(), stream.begin() + keep), output),
                  implode::kResultNoEndCode);
        ASSERT_LE(output.size(), input.size());
        EXPECT_TRUE(std::equal(output.begin(), output.end(), input.begin()));
    }
}

TEST(ImplodeTest, CopyFromBeforeTheStartFails) {
    // One literal, then a copy of length 3 reaching back 2 bytes.
    using namespace implode::detail;
    Bytes stream = {0x00, 0x04};
    uint64_t bits = 0;
    unsigned count = 0;
    auto put = [&](unsigned value, unsigned n) {
        bits |= uint64_t{value} << count;
        count += n;
    };
    put(0, 1);
    put('A', 8);
    put(1, 1);
    put(kLengthStreamCodes[0], kLengthCodeBits[0]);  // length 3
    put(kDistanceStreamCodes[0], kDistanceCodeBits[0]);
    put(1, 4);  // offset 1: distance 2
    for (unsigned i = 0; i < 6; ++i)
        stream.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    Bytes output;
    EXPECT_EQ(implode::ExpandBytes(stream, output), implode::kResultNoEndCode);
    EXPECT_EQ(output, Bytes{'A'});
}

TEST(ImplodeTest, OutputPastTheLimitStopsEarly) {
    Bytes stream = Compressed(Uniform(3));
    Bytes output;
    EXPECT_EQ(implode::ExpandBytes(stream, output, 1000), implode::kResultNoEndCode);
    EXPECT_EQ(output.size(), 1000u);
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

TEST(ImplodeTest, CompressRefusesBadModeAndDictionary) {
    Bytes output;
    EXPECT_EQ(implode::CompressBytes(Uniform(1), output, 0, 3000), implode::kResultBadDictionary);
    EXPECT_EQ(implode::CompressBytes(Uniform(1), output, 0, 8192), implode::kResultBadDictionary);
    EXPECT_EQ(implode::CompressBytes(Uniform(1), output, 2, 4096), implode::kResultBadLiteralMode);
}

// A copy as the first token, every bit after its flag zero: the last length symbol and the
// last distance symbol with six low bits, 63 x 64 + 1 = 4033 bytes back.
const Bytes kCopyBeforeTheStart = {0x00, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00};

TEST(ImplodeDetailTest, ResultFourSaysWhetherTheInputEndedOrACopyReachedTooFar) {
    Bytes input = Dithered(4);
    Bytes stream = Compressed(input);
    struct Case {
        Bytes stream;
        size_t limit;
        implode::ExpandFault fault;
        const char* words;
    };
    const Case cases[] = {
        {Bytes(stream.begin(), stream.begin() + 100), SIZE_MAX, implode::ExpandFault::kInputEnded,
         "input ends after 100 bytes, before the end code"},
        {kCopyBeforeTheStart, SIZE_MAX, implode::ExpandFault::kDistanceTooFar,
         "a copy at output byte 0 reaches 4033 bytes back, before the start of the output"},
        {stream, 1000, implode::ExpandFault::kOutputLimit,
         "output reaches its limit of 1000 bytes before the end code"},
    };
    for (const Case& c : cases) {
        Bytes output;
        implode::ExpandDetail detail;
        EXPECT_EQ(implode::ExpandBytes(c.stream, output, c.limit, &detail),
                  implode::kResultNoEndCode);
        EXPECT_EQ(detail.fault, c.fault) << c.words;
        EXPECT_EQ(implode::DescribeExpandFault(detail), c.words);
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
