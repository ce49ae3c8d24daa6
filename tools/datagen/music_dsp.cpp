#include "music_dsp.h"

#include <algorithm>

namespace music {

const SineTable& Sine() {
    static const SineTable table;
    return table;
}

// Comb and all-pass lengths of the classic Schroeder-Moorer design at 44.1 kHz.
Reverb::Reverb() {
    static const int kCombs[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static const int kAllPasses[4] = {556, 441, 341, 225};
    const int spread = 23;
    for (int i = 0; i < 8; ++i) {
        m_CombL[i].buffer.assign(kCombs[i], 0.0f);
        m_CombR[i].buffer.assign(kCombs[i] + spread, 0.0f);
    }
    for (int i = 0; i < 4; ++i) {
        m_AllPassL[i].buffer.assign(kAllPasses[i], 0.0f);
        m_AllPassR[i].buffer.assign(kAllPasses[i] + spread, 0.0f);
    }
    // The tail is kept out of the low end and the harsh top.
    m_InputLow.Set(6500.0f);
    m_InputHigh.Set(250.0f);
}

void Reverb::Process(const float* inL, const float* inR, float* outL, float* outR, int count) {
    const float feedback = 0.85f;
    const float damp = 0.35f;
    for (int n = 0; n < count; ++n) {
        float in = m_InputHigh.High(m_InputLow.Low((inL[n] + inR[n]) * 0.5f)) * 0.03f;
        float l = 0.0f, r = 0.0f;
        for (int i = 0; i < 8; ++i) {
            l += m_CombL[i].Tick(in, feedback, damp);
            r += m_CombR[i].Tick(in, feedback, damp);
        }
        for (int i = 0; i < 4; ++i) {
            l = m_AllPassL[i].Tick(l);
            r = m_AllPassR[i].Tick(r);
        }
        outL[n] = l;
        outR[n] = r;
    }
}

PingPongDelay::PingPongDelay(int delaySamples) : m_L(delaySamples, 0.0f), m_R(delaySamples, 0.0f) {
    m_DampL.Set(3500.0f);
    m_DampR.Set(3500.0f);
    m_LowCutL.Set(250.0f);
    m_LowCutR.Set(250.0f);
}

void PingPongDelay::Process(const float* inL, const float* inR, float* outL, float* outR, int count,
                            float feedback) {
    const int size = static_cast<int>(m_L.size());
    for (int n = 0; n < count; ++n) {
        float l = m_L[m_Index];
        float r = m_R[m_Index];
        outL[n] = l;
        outR[n] = r;
        // Mono input enters on the left; each repeat crosses to the other side.
        float in = 0.5f * (inL[n] + inR[n]);
        m_L[m_Index] = in + m_LowCutR.High(m_DampR.Low(r)) * feedback;
        m_R[m_Index] = m_LowCutL.High(m_DampL.Low(l)) * feedback;
        if (++m_Index == size) m_Index = 0;
    }
}

Limiter::Limiter(float ceiling, int lookahead, float releaseSeconds)
    : m_Ceiling(ceiling),
      m_Lookahead(lookahead),
      m_ReleaseFactor(DecayFactor(releaseSeconds)),
      m_DelayL(lookahead, 0.0f),
      m_DelayR(lookahead, 0.0f),
      m_Need(lookahead, 1.0f),
      m_Held(lookahead, 1.0f),
      m_HeldSum(lookahead) {}

// Each sample needs gain ceiling / peak. The gain is first held at the
// minimum need over the window ahead, recovering exponentially, then averaged
// over the window: every value averaged for a peak's sample is at most the gain
// that peak needs, so it leaves at the ceiling or below, and the gain moves
// smoothly. Output is late by lookahead - 1 samples.
void Limiter::Process(float* left, float* right, int count) {
    const int size = m_Lookahead;
    for (int n = 0; n < count; ++n) {
        float peak = std::max(std::fabs(left[n]), std::fabs(right[n]));
        m_Need[m_Index] = peak > m_Ceiling ? m_Ceiling / peak : 1.0f;
        m_DelayL[m_Index] = left[n];
        m_DelayR[m_Index] = right[n];
        float windowMin = m_Need[0];
        for (int i = 1; i < size; ++i) windowMin = std::min(windowMin, m_Need[i]);
        float recovered = 1.0f - (1.0f - m_Gain) * m_ReleaseFactor;
        m_Gain = std::min(windowMin, recovered);
        m_HeldSum += static_cast<double>(m_Gain) - m_Held[m_Index];
        m_Held[m_Index] = m_Gain;
        float gain = static_cast<float>(m_HeldSum / size);
        if (gain > 1.0f) gain = 1.0f;
        m_LowestGain = std::min(m_LowestGain, gain);
        if (gain < 0.891f) ++m_LimitedCount;
        if (++m_Index == size) m_Index = 0;
        // The oldest sample in the ring is the one this gain belongs to.
        float l = m_DelayL[m_Index] * gain;
        float r = m_DelayR[m_Index] * gain;
        left[n] = std::clamp(l, -m_Ceiling, m_Ceiling);
        right[n] = std::clamp(r, -m_Ceiling, m_Ceiling);
    }
}

} // namespace music
