// Platform services a folder view asks per item: type texts of file names (GIO's content
// types over the shared MIME database) and the mount table (read by libmount), read afresh
// and as the cached volume list answers it.

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/mime_types.h"
#include "platform/volumes.h"

namespace {

using namespace scopa;

// Names as a mixed folder holds them: known suffixes, a literal name, upper case, two-part
// suffixes and names no glob knows.
const std::vector<std::string>& MixedNames() {
    static const std::vector<std::string> names = {
        "photo.jpg", "scan.PNG",   "archive.tar.gz", "README",      "notes.txt",
        "data.xyzq", "report.pdf", "letter.odt",     "noextension", "movie.mkv"};
    return names;
}

void BM_MimeTypeOfName(benchmark::State& state) {
    for (auto _ : state) {
        for (const std::string& name : MixedNames())
            benchmark::DoNotOptimize(MimeTypeOfName(name));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(MixedNames().size()));
}

void BM_FileTypeText(benchmark::State& state) {
    for (auto _ : state) {
        for (const std::string& name : MixedNames())
            benchmark::DoNotOptimize(FileTypeText(name));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(MixedNames().size()));
}

void BM_ReadMountTable(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadMountTable());
    }
}

// What parsing a path asks: the cached list, checked against the mount watch.
void BM_VolumeOfPath(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(VolumeOfPath("/usr/share/pictures/a.jpg"));
    }
}

}  // namespace

BENCHMARK(BM_MimeTypeOfName);
BENCHMARK(BM_FileTypeText);
BENCHMARK(BM_ReadMountTable);
BENCHMARK(BM_VolumeOfPath);
