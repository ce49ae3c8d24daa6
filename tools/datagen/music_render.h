// Plays a score through the instruments, the mixer and the master limiter.
#pragma once

#include "music_score.h"

#include <functional>

namespace music {

// Level above which the master never goes (about -1.9 dBFS), leaving room
// for the small overshoot of lossy encoding.
constexpr float kMasterCeiling = 0.8f;

// Hands the finished stereo samples to the sink in order, in blocks, until the
// score's length has been delivered.
using SampleSink = std::function<void(const float* left, const float* right, int count)>;

struct RenderStats {
    float deepestLimiting = 1.0f; // lowest gain the limiter applied
    int64_t limitedSamples = 0;   // samples it lowered by more than 1 dB
};
RenderStats RenderScore(const Score& score, const SampleSink& sink);

} // namespace music
