// Loading a static cache's index of 50,000 entries (500 folders of 100 pictures), from memory
// and from a file, and reading compressed thumbnail records.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cache/cache_files.h"

namespace {

namespace fs = std::filesystem;

scopa::CacheIndexContents LargeIndex() {
    scopa::CacheIndexContents index;
    index.compressed = true;
    for (int folder = 0; folder < 500; ++folder) {
        scopa::CacheFolderRecord record{"COLLECTION\\VOLUME" + std::to_string(folder / 50) +
                                            "\\FOLDER" + std::to_string(folder),
                                        "PHOTOS_CD",
                                        {}};
        for (int entry = 0; entry < 100; ++entry) {
            record.entries.push_back({"PICTURE" + std::to_string(entry) + ".JPG",
                                      folder * 100 + entry, entry, 900000000,
                                      scopa::EntryState::kValid});
        }
        index.folders.push_back(std::move(record));
    }
    return index;
}

void BM_ParseIndex50000Entries(benchmark::State& state) {
    std::vector<uint8_t> bytes = scopa::SerializeCacheIndex(LargeIndex());
    for (auto _ : state) {
        scopa::CacheIndexContents index = scopa::ParseCacheIndex(bytes);
        benchmark::DoNotOptimize(index.entry_total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParseIndex50000Entries)->Unit(benchmark::kMillisecond);

void BM_LoadIndexFile50000Entries(benchmark::State& state) {
    fs::path path =
        fs::temp_directory_path() / ("scopa-bench-" + std::to_string(getpid()) + ".pvi");
    if (!scopa::SaveCacheIndex(path, LargeIndex())) {
        state.SkipWithError("cannot write the index");
        return;
    }
    for (auto _ : state) {
        scopa::CacheIndexContents index = scopa::LoadCacheIndex(path);
        benchmark::DoNotOptimize(index.entry_total);
    }
    fs::remove(path);
}
BENCHMARK(BM_LoadIndexFile50000Entries)->Unit(benchmark::kMillisecond);

void BM_ReadCompressedRecord(benchmark::State& state) {
    fs::path base = fs::temp_directory_path() / ("scopa-bench-" + std::to_string(getpid()));
    std::array<uint8_t, scopa::kThumbnailBlockBytes> pixels{};
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(20 + (i * 7 / 128) % 216);
    if (!scopa::CreateEmptyDataFile(base) ||
        scopa::AppendCompressedRecord(scopa::CacheDataPath(base), 1, pixels, 128, 128) != 0) {
        state.SkipWithError("cannot write the data file");
        return;
    }
    scopa::CacheThumbnail thumbnail;
    for (auto _ : state) {
        int32_t seq_id = 1;
        bool read = scopa::ReadCacheRecord(scopa::CacheDataPath(base), true, 0, seq_id, thumbnail);
        benchmark::DoNotOptimize(read);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pixels.size()));
    fs::remove(scopa::CacheDataPath(base));
}
BENCHMARK(BM_ReadCompressedRecord)->Unit(benchmark::kMicrosecond);

}  // namespace
