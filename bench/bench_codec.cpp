// Speed and size of the implode codec on the shared thumbnail blocks: compressing with binary
// literals and a 4096-byte dictionary, and expanding those streams. The size counters compare
// the total over the picture blocks (all but the synthetic ones) with the published library's.
// Where Debian's libstorm is installed, the published library's implode and explode run on the
// same blocks in the same run, and each expander also reads the other compressor's streams.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cache/implode.h"

#if defined(SCOPA_HAVE_STORM)
#include "storm_codec.h"
#endif

namespace {

namespace implode = scopa::implode;

constexpr double kReferenceRatio = 0.340;
constexpr std::size_t kBlockBytes = 16384;

struct Block {
    std::string name;
    std::string kind;
    std::vector<std::uint8_t> bytes;
    std::size_t reference_stream_bytes = 0;
};

std::filesystem::path BenchDir() {
    if (const char* dir = std::getenv("SCOPA_SHARED_BENCH_DIR")) return dir;
    return SCOPA_SHARED_BENCH_DIR;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The picture blocks listed in thumbnail-blocks.tsv (file, kind, reference size).
const std::vector<Block>& PictureBlocks() {
    static const std::vector<Block> blocks = [] {
        std::vector<Block> result;
        std::ifstream table(BenchDir() / "thumbnail-blocks.tsv");
        std::string line;
        std::getline(table, line);  // column names
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            Block block;
            fields >> block.name >> block.kind >> block.reference_stream_bytes;
            if (block.kind == "synthetic") continue;
            block.bytes = ReadFile(BenchDir() / "thumbnail-blocks" / block.name);
            if (block.bytes.size() == kBlockBytes) result.push_back(std::move(block));
        }
        return result;
    }();
    return blocks;
}

// Callbacks over fixed buffers, so the measurement holds no allocation.
struct Pipe {
    const std::uint8_t* input;
    std::size_t input_left;
    std::uint8_t* output;
    std::size_t output_used;
};

unsigned ReadPipe(unsigned char* buffer, unsigned* size, void* context) {
    auto* pipe = static_cast<Pipe*>(context);
    std::size_t count = std::min<std::size_t>(*size, pipe->input_left);
    std::memcpy(buffer, pipe->input, count);
    pipe->input += count;
    pipe->input_left -= count;
    return static_cast<unsigned>(count);
}

void WritePipe(unsigned char* buffer, unsigned* size, void* context) {
    auto* pipe = static_cast<Pipe*>(context);
    std::memcpy(pipe->output + pipe->output_used, buffer, *size);
    pipe->output_used += *size;
}

implode::CompressWorkArea g_compress_work;
implode::ExpandWorkArea g_expand_work;

std::size_t CompressBlock(const std::vector<std::uint8_t>& block, std::uint8_t* stream) {
    Pipe pipe{block.data(), block.size(), stream, 0};
    implode::Compress(ReadPipe, WritePipe, g_compress_work, &pipe, implode::kLiteralsBinary, 4096);
    return pipe.output_used;
}

void BM_CompressPictureBlocks(benchmark::State& state) {
    const auto& blocks = PictureBlocks();
    if (blocks.empty()) {
        state.SkipWithError("no thumbnail blocks found");
        return;
    }
    std::vector<std::uint8_t> stream(implode::kMaxStreamBytesPerBlock);
    std::size_t total_in = 0, total_out = 0, total_reference = 0, largest = 0;
    for (auto _ : state) {
        total_in = total_out = total_reference = largest = 0;
        for (const Block& block : blocks) {
            std::size_t size = CompressBlock(block.bytes, stream.data());
            total_in += block.bytes.size();
            total_out += size;
            total_reference += block.reference_stream_bytes;
            largest = std::max(largest, size);
        }
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total_in));
    double ratio = static_cast<double>(total_out) / static_cast<double>(total_in);
    state.counters["ratio"] = ratio;
    state.counters["ratio_vs_0.340"] = ratio / kReferenceRatio;
    state.counters["reference_ratio"] =
        static_cast<double>(total_reference) / static_cast<double>(total_in);
    state.counters["largest_stream"] = static_cast<double>(largest);
}
BENCHMARK(BM_CompressPictureBlocks)->Unit(benchmark::kMillisecond);

// Worst case for the stream size: 16,384 bytes with no repeats worth a copy.
void BM_CompressRandomBlock(benchmark::State& state) {
    std::vector<std::uint8_t> block(kBlockBytes);
    std::uint32_t seed = 12345;
    for (auto& byte : block) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(seed >> 16);
    }
    std::vector<std::uint8_t> stream(implode::kMaxStreamBytesPerBlock);
    std::size_t size = 0;
    for (auto _ : state)
        size = CompressBlock(block, stream.data());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlockBytes));
    state.counters["stream_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_CompressRandomBlock)->Unit(benchmark::kMicrosecond);

void BM_ExpandPictureBlocks(benchmark::State& state) {
    const auto& blocks = PictureBlocks();
    if (blocks.empty()) {
        state.SkipWithError("no thumbnail blocks found");
        return;
    }
    std::vector<std::vector<std::uint8_t>> streams;
    for (const Block& block : blocks) {
        std::vector<std::uint8_t> stream(implode::kMaxStreamBytesPerBlock);
        stream.resize(CompressBlock(block.bytes, stream.data()));
        streams.push_back(std::move(stream));
    }
    std::vector<std::uint8_t> output(kBlockBytes + 4096);
    std::size_t total_out = 0;
    for (auto _ : state) {
        total_out = 0;
        for (const auto& stream : streams) {
            Pipe pipe{stream.data(), stream.size(), output.data(), 0};
            if (implode::Expand(ReadPipe, WritePipe, g_expand_work, &pipe) != 0 ||
                pipe.output_used != kBlockBytes) {
                state.SkipWithError("a stream did not expand back to its block");
                return;
            }
            total_out += pipe.output_used;
        }
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total_out));
}
BENCHMARK(BM_ExpandPictureBlocks)->Unit(benchmark::kMillisecond);

#if defined(SCOPA_HAVE_STORM)

scopa::storm::StormCodec& Storm() {
    static scopa::storm::StormCodec codec;
    return codec;
}

// The published library's streams of the picture blocks.
const std::vector<std::vector<std::uint8_t>>& StormStreams() {
    static const std::vector<std::vector<std::uint8_t>> streams = [] {
        std::vector<std::vector<std::uint8_t>> result;
        for (const Block& block : PictureBlocks()) {
            Storm().Implode(block.bytes, result.emplace_back());
        }
        return result;
    }();
    return streams;
}

void BM_StormImplodePictureBlocks(benchmark::State& state) {
    const auto& blocks = PictureBlocks();
    if (blocks.empty()) {
        state.SkipWithError("no thumbnail blocks found");
        return;
    }
    std::vector<std::uint8_t> stream;
    stream.reserve(implode::kMaxStreamBytesPerBlock);
    std::size_t total_in = 0, total_out = 0, ours = 0;
    for (auto _ : state) {
        total_in = total_out = 0;
        for (const Block& block : blocks) {
            Storm().Implode(block.bytes, stream);
            total_in += block.bytes.size();
            total_out += stream.size();
        }
        benchmark::DoNotOptimize(stream.data());
    }
    std::vector<std::uint8_t> our_stream(implode::kMaxStreamBytesPerBlock);
    for (const Block& block : blocks)
        ours += CompressBlock(block.bytes, our_stream.data());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total_in));
    state.counters["ratio"] = static_cast<double>(total_out) / static_cast<double>(total_in);
    state.counters["ours_vs_storm"] = static_cast<double>(ours) / static_cast<double>(total_out);
}
BENCHMARK(BM_StormImplodePictureBlocks)->Unit(benchmark::kMillisecond);

// `Expand` is one of the two expanders, `streams` one of the two compressors' output.
template <bool Ours>
void ExpandAll(benchmark::State& state, const std::vector<std::vector<std::uint8_t>>& streams) {
    if (streams.empty()) {
        state.SkipWithError("no thumbnail blocks found");
        return;
    }
    std::vector<std::uint8_t> output(kBlockBytes + 4096);
    std::vector<std::uint8_t> storm_output;
    storm_output.reserve(kBlockBytes + 4096);
    std::size_t total_out = 0;
    for (auto _ : state) {
        total_out = 0;
        for (const auto& stream : streams) {
            std::size_t size = 0;
            if constexpr (Ours) {
                Pipe pipe{stream.data(), stream.size(), output.data(), 0};
                if (implode::Expand(ReadPipe, WritePipe, g_expand_work, &pipe) != 0)
                    size = 0;
                else
                    size = pipe.output_used;
            } else {
                size = Storm().Explode(stream, storm_output) == 0 ? storm_output.size() : 0;
            }
            if (size != kBlockBytes) {
                state.SkipWithError("a stream did not expand back to its block");
                return;
            }
            total_out += size;
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::DoNotOptimize(storm_output.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total_out));
}

const std::vector<std::vector<std::uint8_t>>& OurStreams() {
    static const std::vector<std::vector<std::uint8_t>> streams = [] {
        std::vector<std::vector<std::uint8_t>> result;
        for (const Block& block : PictureBlocks()) {
            std::vector<std::uint8_t> stream(implode::kMaxStreamBytesPerBlock);
            stream.resize(CompressBlock(block.bytes, stream.data()));
            result.push_back(std::move(stream));
        }
        return result;
    }();
    return streams;
}

void BM_StormExplodeStormStreams(benchmark::State& state) {
    ExpandAll<false>(state, StormStreams());
}
BENCHMARK(BM_StormExplodeStormStreams)->Unit(benchmark::kMillisecond);

void BM_StormExplodeOurStreams(benchmark::State& state) {
    ExpandAll<false>(state, OurStreams());
}
BENCHMARK(BM_StormExplodeOurStreams)->Unit(benchmark::kMillisecond);

void BM_ExpandStormStreams(benchmark::State& state) {
    ExpandAll<true>(state, StormStreams());
}
BENCHMARK(BM_ExpandStormStreams)->Unit(benchmark::kMillisecond);

#endif

}  // namespace
