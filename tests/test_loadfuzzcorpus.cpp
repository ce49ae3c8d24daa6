// Replays the fuzzers' corpus of interesting inputs through the same targets:
// every input must end in a loaded result or a fatal error, never in a broken
// result (the targets abort) or a sanitizer report (in the sanitized twin).
#include "support/input_fuzz_targets.h"
#include "support/mesh_fuzz_targets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

namespace fs = std::filesystem;

namespace {

typedef void (*FuzzTarget)(const uint8_t* data, size_t size);

// Each target's corpus lies beside this source file; an empty or lost one
// would make the replay pass on nothing. Every target starts afresh.
void Replay(void (*setUp)(), void (*tearDown)(), std::initializer_list<std::pair<const char*, FuzzTarget>> targets) {
    for (const auto& target : targets) {
        setUp();
        size_t inputs = 0;
        for (const auto& entry : fs::directory_iterator(fs::path(__FILE__).parent_path() / "fuzz" / "corpus" / target.first)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            SCOPED_TRACE(entry.path().string());
            target.second(reinterpret_cast<const uint8_t*>(data.data()), data.size());
            ++inputs;
        }
        EXPECT_GT(inputs, 0u) << target.first;
        tearDown();
    }
}

} // namespace

TEST(MeshFuzzCorpus, EveryInputLoadsOrFailsCleanly) {
    Replay(SetUpMeshFuzzing, TearDownMeshFuzzing, {{"filereader", FuzzFileReader}, {"3dr", Fuzz3DR}, {"x", FuzzX}});
}

TEST(InputFuzzCorpus, EveryInputLoadsOrFailsCleanly) {
    Replay(SetUpInputFuzzing, TearDownInputFuzzing,
           {{"texturelist", FuzzTextureList}, {"raw", FuzzRaw}, {"jpeg", FuzzJpeg}, {"font", FuzzFont}, {"mp3", FuzzMp3}});
}
