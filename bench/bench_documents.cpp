// What recognising a document costs: the desktop-publishing test on a 50 MB compound file
// reads its header, a directory sector and the first bytes of "Contents". Also the whole
// preview, and reading a large stream through the reader.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "documents/document_previews.h"
#include "fixtures/compound_writer.h"
#include "fixtures/document_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kLargeStreamBytes = size_t(50) << 20;

// A 50 MB desktop-publishing document, written once per run.
const fs::path& LargeDocument() {
    static const fs::path path = [] {
        fs::path file = fs::temp_directory_path() / "scopa-bench-large.dtp";
        scopa::fixtures::CompoundFileWriter writer(3);
        std::string dib =
            scopa::fixtures::PackedDib(128, 128, 8, scopa::fixtures::PaletteIndexTable(256));
        writer.AddStream("Contents", scopa::fixtures::DtpContents(210, dib) +
                                         std::string(kLargeStreamBytes, 'x'));
        writer.AddStream("\x05SummaryInformation",
                         scopa::fixtures::SummaryInformationStream("red, green"));
        writer.WriteTo(file);
        return file;
    }();
    return path;
}

void BM_DtpTestOnLargeFile(benchmark::State& state) {
    const std::string path = LargeDocument().string();
    uint64_t bytes_read = 0;
    for (auto _ : state) {
        scopa::DocumentSource source = scopa::DocumentSource::File(path);
        benchmark::DoNotOptimize(scopa::IsDTPContent(source, state.range(0) ? "green" : ""));
        bytes_read = source.BytesRead();
    }
    state.counters["bytes_read"] = double(bytes_read);
}
BENCHMARK(BM_DtpTestOnLargeFile)->Arg(0)->Arg(1)->ArgName("keyword_filter");

void BM_DtpPreviewOnLargeFile(benchmark::State& state) {
    const std::string path = LargeDocument().string();
    uint64_t bytes_read = 0;
    for (auto _ : state) {
        scopa::DocumentSource source = scopa::DocumentSource::File(path);
        scopa::DocumentPreview preview;
        benchmark::DoNotOptimize(scopa::MakeDTPPreview(source, &preview));
        bytes_read = source.BytesRead();
    }
    state.counters["bytes_read"] = double(bytes_read);
}
BENCHMARK(BM_DtpPreviewOnLargeFile);

void BM_ReadLargeStream(benchmark::State& state) {
    const std::string path = LargeDocument().string();
    std::vector<char> buffer(1 << 16);
    for (auto _ : state) {
        auto storage = scopa::OleStorage::Open(path, scopa::kStgmRead);
        auto stream = storage->OpenStream("Contents", scopa::kStgmShareExclusive);
        size_t total = 0;
        while (size_t got = stream->Read(buffer.data(), buffer.size()))
            total += got;
        benchmark::DoNotOptimize(total);
        state.SetBytesProcessed(state.bytes_processed() + int64_t(total));
    }
}
BENCHMARK(BM_ReadLargeStream)->Unit(benchmark::kMillisecond);

}  // namespace
