// Writes the fuzz seed corpora from the test writers when SCOPA_WRITE_SEEDS is set (run
// once after changing a layout, then commit fuzz/corpus); otherwise checks that each seed
// folder exists and is not empty.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fixtures/compound_writer.h"
#include "fixtures/document_writer.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir(const std::string& name) {
    return fs::path(SCOPA_SOURCE_DIR) / "fuzz" / "corpus" / name;
}

bool Writing() {
    const char* flag = std::getenv("SCOPA_WRITE_SEEDS");
    return flag != nullptr && *flag != '\0';
}

void Seed(const std::string& corpus, const std::string& name, const std::string& bytes) {
    if (Writing()) WriteFileBytes(CorpusDir(corpus) / name, bytes);
}

TEST(SeedCorpus, EveryCorpusHasSeeds) {
    for (const SeedFile& seed : AllSeedFiles())
        Seed(seed.corpus, seed.name, seed.bytes);
    for (const SeedFile& seed : AllSeedFiles()) {
        EXPECT_TRUE(fs::exists(CorpusDir(seed.corpus) / seed.name))
            << seed.corpus << "/" << seed.name << " (run with SCOPA_WRITE_SEEDS=1)";
    }
}

}  // namespace
}  // namespace scopa::test
