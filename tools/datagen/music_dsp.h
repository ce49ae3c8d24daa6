// Small signal-processing pieces the sound track is built from: a seeded
// noise source, band-limited oscillators, filters, envelopes and the effects.
// Everything is plain float arithmetic in a fixed order, so the same sources
// give the same samples on every run.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace music {

constexpr int kSampleRate = 44100;
constexpr float kPi = 3.14159265358979f;

// xorshift32: our own generator, so no library's generator or seed decides
// what the track sounds like.
class Random {
public:
    explicit Random(uint32_t seed) : m_State(seed ? seed : 0x9E3779B9u) {}
    uint32_t Next() {
        m_State ^= m_State << 13;
        m_State ^= m_State >> 17;
        m_State ^= m_State << 5;
        return m_State;
    }
    // Uniform in [-1, 1).
    float Bipolar() { return static_cast<float>(Next() >> 8) * (2.0f / 16777216.0f) - 1.0f; }
    // Uniform in [0, 1).
    float Unit() { return static_cast<float>(Next() >> 8) * (1.0f / 16777216.0f); }

private:
    uint32_t m_State;
};

inline float NoteToHz(float note) { return 440.0f * std::pow(2.0f, (note - 69.0f) / 12.0f); }
inline float CentsToRatio(float cents) { return std::pow(2.0f, cents / 1200.0f); }
inline float DbToGain(float db) { return std::pow(10.0f, db / 20.0f); }

// Sine of a phase in cycles, from a table with linear interpolation.
class SineTable {
public:
    static constexpr int kSize = 4096;
    SineTable() {
        for (int i = 0; i <= kSize; ++i)
            m_Table[i] = static_cast<float>(std::sin(2.0 * 3.14159265358979323846 * i / kSize));
    }
    float operator()(float phase) const {
        float p = (phase - std::floor(phase)) * kSize;
        int i = static_cast<int>(p);
        if (i >= kSize) i = kSize - 1;
        float f = p - static_cast<float>(i);
        return m_Table[i] + (m_Table[i + 1] - m_Table[i]) * f;
    }

private:
    float m_Table[kSize + 1];
};

const SineTable& Sine();

// Two-sample polynomial correction of a step in the waveform, which removes
// most of the aliasing of naive saw and pulse waves.
inline float PolyBlep(float t, float dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0f;
    }
    if (t > 1.0f - dt) {
        t = (t - 1.0f) / dt;
        return t * t + t + t + 1.0f;
    }
    return 0.0f;
}

// Band-limited sawtooth; phase in cycles.
struct SawOsc {
    float phase = 0.0f;
    float inc = 0.0f;
    void SetHz(float hz) { inc = hz / kSampleRate; }
    float Tick() {
        float out = 2.0f * phase - 1.0f - PolyBlep(phase, inc);
        phase += inc;
        if (phase >= 1.0f) phase -= 1.0f;
        return out;
    }
};

// Band-limited pulse of a given duty cycle, made of two saws.
struct PulseOsc {
    float phase = 0.0f;
    float inc = 0.0f;
    float width = 0.5f;
    void SetHz(float hz) { inc = hz / kSampleRate; }
    float Tick() {
        float second = phase + width;
        if (second >= 1.0f) second -= 1.0f;
        float sawA = 2.0f * phase - 1.0f - PolyBlep(phase, inc);
        float sawB = 2.0f * second - 1.0f - PolyBlep(second, inc);
        phase += inc;
        if (phase >= 1.0f) phase -= 1.0f;
        // The difference of the two saws has no DC at any duty cycle.
        return 0.5f * (sawA - sawB);
    }
};

// Trapezoidal state-variable filter: stable at any cutoff, low, band and
// high pass from one state.
struct Svf {
    float ic1 = 0.0f, ic2 = 0.0f;
    float a1 = 1.0f, a2 = 0.0f, a3 = 0.0f, k = 1.0f;
    void Set(float hz, float q) {
        float limit = 0.45f * kSampleRate;
        if (hz > limit) hz = limit;
        if (hz < 10.0f) hz = 10.0f;
        float g = std::tan(kPi * hz / kSampleRate);
        k = 1.0f / q;
        a1 = 1.0f / (1.0f + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    void Reset() { ic1 = ic2 = 0.0f; }
    float Low(float v0) {
        float v3 = v0 - ic2;
        float v1 = a1 * ic1 + a2 * v3;
        float v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0f * v1 - ic1;
        ic2 = 2.0f * v2 - ic2;
        return v2;
    }
    float Band(float v0) {
        float v3 = v0 - ic2;
        float v1 = a1 * ic1 + a2 * v3;
        float v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0f * v1 - ic1;
        ic2 = 2.0f * v2 - ic2;
        return v1;
    }
    float High(float v0) {
        float v3 = v0 - ic2;
        float v1 = a1 * ic1 + a2 * v3;
        float v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0f * v1 - ic1;
        ic2 = 2.0f * v2 - ic2;
        return v0 - k * v1 - v2;
    }
};

// One-pole low pass; High() gives the complementary high pass.
struct OnePole {
    float state = 0.0f;
    float coef = 0.0f;
    void Set(float hz) { coef = 1.0f - std::exp(-2.0f * kPi * hz / kSampleRate); }
    float Low(float x) {
        state += coef * (x - state);
        return state;
    }
    float High(float x) { return x - Low(x); }
};

// Per-sample factor of an exponential decay with the given time constant.
inline float DecayFactor(float seconds) { return std::exp(-1.0f / (seconds * kSampleRate)); }

// Attack, decay, sustain, release: linear attack, exponential decay and
// release. Retriggering starts the attack from the current level, so a
// retriggered voice never clicks.
struct Envelope {
    enum Stage { kIdle, kAttack, kDecay, kRelease };
    Stage stage = kIdle;
    float value = 0.0f;
    float attackStep = 1.0f;
    float decayFactor = 0.999f;
    float sustain = 1.0f;
    float releaseFactor = 0.999f;

    void Configure(float attackSeconds, float decaySeconds, float sustainLevel, float releaseSeconds) {
        float attackSamples = attackSeconds * kSampleRate;
        attackStep = attackSamples < 1.0f ? 1.0f : 1.0f / attackSamples;
        decayFactor = DecayFactor(decaySeconds);
        sustain = sustainLevel;
        releaseFactor = DecayFactor(releaseSeconds);
    }
    void Trigger() { stage = kAttack; }
    void Release() {
        if (stage != kIdle) stage = kRelease;
    }
    bool Active() const { return stage != kIdle; }
    float Tick() {
        switch (stage) {
        case kAttack:
            value += attackStep;
            if (value >= 1.0f) {
                value = 1.0f;
                stage = kDecay;
            }
            break;
        case kDecay:
            value = sustain + (value - sustain) * decayFactor;
            break;
        case kRelease:
            value *= releaseFactor;
            if (value < 1e-4f) {
                value = 0.0f;
                stage = kIdle;
            }
            break;
        case kIdle:
            break;
        }
        return value;
    }
};

// Stereo reverb: parallel damped combs into series all-passes per channel,
// the right channel's delays slightly longer for width.
class Reverb {
public:
    Reverb();
    void Process(const float* inL, const float* inR, float* outL, float* outR, int count);

private:
    struct Comb {
        std::vector<float> buffer;
        int index = 0;
        float store = 0.0f;
        float Tick(float in, float feedback, float damp) {
            float out = buffer[index];
            store = out * (1.0f - damp) + store * damp;
            buffer[index] = in + store * feedback;
            if (++index == static_cast<int>(buffer.size())) index = 0;
            return out;
        }
    };
    struct AllPass {
        std::vector<float> buffer;
        int index = 0;
        float Tick(float in) {
            float delayed = buffer[index];
            float out = delayed - in;
            buffer[index] = in + delayed * 0.5f;
            if (++index == static_cast<int>(buffer.size())) index = 0;
            return out;
        }
    };
    Comb m_CombL[8], m_CombR[8];
    AllPass m_AllPassL[4], m_AllPassR[4];
    OnePole m_InputLow;
    OnePole m_InputHigh;
};

// Ping-pong delay: the echo alternates between the sides, each repeat
// darker than the last.
class PingPongDelay {
public:
    explicit PingPongDelay(int delaySamples);
    void Process(const float* inL, const float* inR, float* outL, float* outR, int count, float feedback);

private:
    std::vector<float> m_L, m_R;
    int m_Index = 0;
    OnePole m_DampL, m_DampR;
    OnePole m_LowCutL, m_LowCutR;
};

// Look-ahead peak limiter: the gain is lowered before a peak arrives, so the
// output stays below the ceiling without hard clipping. Output is late by
// lookahead - 1 samples.
class Limiter {
public:
    Limiter(float ceiling, int lookahead, float releaseSeconds);
    void Process(float* left, float* right, int count);
    float LowestGain() const { return m_LowestGain; }
    // Samples lowered by more than 1 dB since the last call.
    int64_t TakeLimitedCount() {
        int64_t n = m_LimitedCount;
        m_LimitedCount = 0;
        return n;
    }

private:
    float m_Ceiling;
    int m_Lookahead;
    float m_ReleaseFactor;
    std::vector<float> m_DelayL, m_DelayR, m_Need, m_Held;
    double m_HeldSum;
    int m_Index = 0;
    float m_Gain = 1.0f;
    float m_LowestGain = 1.0f;
    int64_t m_LimitedCount = 0;
};

} // namespace music
