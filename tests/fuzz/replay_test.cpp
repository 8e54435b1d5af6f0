// SPDX-License-Identifier: GPL-3.0-or-later
// Replays the kept fuzzing corpus (tests/data/corpus/<target>/) through every target, so the
// inputs that once found faults or reached new code stay covered by the normal test run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fuzz/targets.h"

namespace kv::fuzz {
namespace {

TEST(FuzzCorpus, EveryKeptInputRunsCleanly) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(KV_TEST_DATA_DIR) / "corpus";
    int inputs = 0;
    for (const Target& t : AllTargets()) {
        const fs::path dir = root / t.name;
        ASSERT_TRUE(fs::is_directory(dir)) << "no corpus for " << t.name;
        int mine = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            std::ifstream f(e.path(), std::ios::binary);
            std::stringstream ss;
            ss << f.rdbuf();
            const std::string bytes = ss.str();
            SCOPED_TRACE(e.path().string());
            EXPECT_EQ(t.entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
            ++mine;
        }
        EXPECT_GT(mine, 0) << t.name;
        inputs += mine;
    }
    std::printf("replayed %d corpus inputs\n", inputs);
}

}  // namespace
}  // namespace kv::fuzz
