// Writes the fuzz seed corpora from the test writers when SCOPA_WRITE_SEEDS is set (run
// once after changing a layout, then commit fuzz/corpus); otherwise checks that every seed
// is in its folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fixtures/compound_writer.h"
#include "fixtures/document_writer.h"
#include "support/temp_dir.h"

using namespace scopa::fixtures;  // NOLINT: fixture writers read like test helpers

namespace scopa::test {
namespace {

TEST(SeedCorpus, EveryCorpusHasSeeds) {
    const char* flag = std::getenv("SCOPA_WRITE_SEEDS");
    const bool writing = flag != nullptr && *flag != '\0';
    for (const SeedFile& seed : AllSeedFiles()) {
        std::filesystem::path path =
            std::filesystem::path(SCOPA_SOURCE_DIR) / "fuzz" / "corpus" / seed.corpus / seed.name;
        if (writing) WriteFileBytes(path, seed.bytes);
        EXPECT_TRUE(std::filesystem::exists(path)) << path << " (run with SCOPA_WRITE_SEEDS=1)";
    }
}

}  // namespace
}  // namespace scopa::test
