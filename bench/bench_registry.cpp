// Costs of the registry store as the control meets them: loading and saving the preferences
// at construction and destruction with many folder records, and one value query (which checks
// the hive file's identity every time).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "prefs/control_prefs.h"

namespace {

// A private registry folder for the benchmark run.
class BenchRegistry {
public:
    BenchRegistry() {
        std::string pattern = (std::filesystem::temp_directory_path() / "scopa-bench-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr) m_dir = pattern;
        setenv("SCOPA_REGISTRY_DIR", m_dir.c_str(), 1);
        scopa::RegistryResetStore();
    }
    ~BenchRegistry() {
        scopa::RegistryResetStore();
        std::error_code error;
        std::filesystem::remove_all(m_dir, error);
    }

private:
    std::filesystem::path m_dir;
};

void SeedFolderPrefs(int records) {
    scopa::CControlPrefs prefs;
    for (int i = 0; i < records; ++i) {
        prefs.StoreFolderPref("/pictures/folder " + std::to_string(i), 192, 0, 1);
    }
    prefs.SaveFolderPrefs();
}

void BM_LoadPreferences(benchmark::State& state) {
    BenchRegistry registry;
    SeedFolderPrefs(int(state.range(0)));
    for (auto _ : state) {
        scopa::CControlPrefs prefs;
        prefs.LoadAll();
        benchmark::DoNotOptimize(prefs.m_mapFolderPrefs.size());
    }
}
BENCHMARK(BM_LoadPreferences)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_LoadAndSavePreferences(benchmark::State& state) {
    BenchRegistry registry;
    SeedFolderPrefs(int(state.range(0)));
    for (auto _ : state) {
        scopa::CControlPrefs prefs;
        prefs.LoadAll();
        prefs.SaveAtDestruction(192, 0, 1, "/pictures/new", "/pictures");
    }
}
BENCHMARK(BM_LoadAndSavePreferences)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_QueryValue(benchmark::State& state) {
    BenchRegistry registry;
    SeedFolderPrefs(100);
    scopa::RegistryKey key = scopa::RegistryKey::Open(
        scopa::HKEY_LOCAL_MACHINE, "SOFTWARE\\QOR\\System\\Scopar\\FolderPrefs\\Preference 50");
    for (auto _ : state)
        benchmark::DoNotOptimize(key.ReadDword("Tree Width"));
}
BENCHMARK(BM_QueryValue);

}  // namespace
