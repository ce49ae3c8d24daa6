// Replays the fuzzers' corpus of interesting inputs through the same targets:
// every input must end in a loaded result or a fatal error, never in a broken
// result (the targets abort) or a sanitizer report (in the sanitized twin).
#include "support/input_fuzz_targets.h"
#include "support/mesh_fuzz_targets.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> CorpusFiles(const char* target) {
    // The corpus lies beside this source file.
    fs::path dir = fs::path(__FILE__).parent_path() / "fuzz" / "corpus" / target;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file()) files.push_back(entry.path());
    return files;
}

template <typename F> size_t Replay(const char* target, F fuzz) {
    std::vector<fs::path> files = CorpusFiles(target);
    for (const fs::path& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(path.string());
        fuzz(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
    return files.size();
}

} // namespace

TEST(MeshFuzzCorpus, EveryInputLoadsOrFailsCleanly) {
    SetUpMeshFuzzing();
    EXPECT_GT(Replay("filereader", FuzzFileReader), 0u);
    EXPECT_GT(Replay("3dr", Fuzz3DR), 0u);
    EXPECT_GT(Replay("x", FuzzX), 0u);
    TearDownMeshFuzzing();
}

// The other inputs, each target's corpus in a test of its own.
class InputFuzzCorpus : public ::testing::Test {
protected:
    void SetUp() override { SetUpInputFuzzing(); }
    void TearDown() override { TearDownInputFuzzing(); }
};

TEST_F(InputFuzzCorpus, TextureList) { EXPECT_GT(Replay("texturelist", FuzzTextureList), 0u); }
TEST_F(InputFuzzCorpus, Raw) { EXPECT_GT(Replay("raw", FuzzRaw), 0u); }
TEST_F(InputFuzzCorpus, Jpeg) { EXPECT_GT(Replay("jpeg", FuzzJpeg), 0u); }
TEST_F(InputFuzzCorpus, Font) { EXPECT_GT(Replay("font", FuzzFont), 0u); }
TEST_F(InputFuzzCorpus, Mp3) { EXPECT_GT(Replay("mp3", FuzzMp3), 0u); }
