#include "music_render.h"

#include <algorithm>
#include <memory>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace music {

namespace {

constexpr int kBlock = 64;
constexpr int kLookahead = 48;

struct TrackSetup {
    float lowCut;      // Hz, 0 for none: keeps the low end to kick and bass
    float reverbSend;
    float delaySend;
    float pump;        // share of the beat's ducking this track takes
};

const TrackSetup kSetup[kTrackCount] = {
    {0.0f, 0.0f, 0.0f, 0.0f},     // kick
    {150.0f, 0.22f, 0.0f, 0.0f},  // snare and clap
    {0.0f, 0.05f, 0.0f, 0.0f},    // hats
    {0.0f, 0.2f, 0.0f, 0.0f},     // cymbals
    {0.0f, 0.15f, 0.0f, 0.0f},    // boom
    {0.0f, 0.0f, 0.0f, 0.55f},    // bass
    {110.0f, 0.35f, 0.0f, 1.0f},  // pad
    {200.0f, 0.25f, 0.12f, 0.6f}, // stab
    {160.0f, 0.22f, 0.3f, 0.2f},  // lead
    {200.0f, 0.25f, 0.35f, 0.2f}, // answer
    {200.0f, 0.2f, 0.35f, 0.5f},  // arp
    {150.0f, 0.45f, 0.3f, 0.0f},  // bell
    {120.0f, 0.3f, 0.0f, 0.0f},   // sweep
};

// Piecewise-linear automation read forwards in time.
class AutomationReader {
public:
    explicit AutomationReader(const std::vector<AutomationPoint>& points) : m_Points(points) {}
    float At(double tick) {
        if (m_Points.empty()) return 0.0f;
        while (m_Index + 1 < m_Points.size() && m_Points[m_Index + 1].tick <= tick) ++m_Index;
        const AutomationPoint& a = m_Points[m_Index];
        if (tick <= a.tick || m_Index + 1 == m_Points.size()) return a.value;
        const AutomationPoint& b = m_Points[m_Index + 1];
        double x = (tick - a.tick) / static_cast<double>(b.tick - a.tick);
        return static_cast<float>(a.value + (b.value - a.value) * x);
    }

private:
    const std::vector<AutomationPoint>& m_Points;
    size_t m_Index = 0;
};

double SampleToTick(int64_t sample) { return sample * 10000.0 / 1966125.0; }

// How far the beat ducks at a time after it: a 4 ms dip, then back over a
// little more than half a beat.
float PumpShape(int64_t sinceBeat) {
    const float attack = 0.004f * kSampleRate;
    const float recover = 0.24f * kSampleRate;
    float t = static_cast<float>(sinceBeat);
    if (t < attack) return t / attack;
    float x = 1.0f - (t - attack) / recover;
    return x > 0.0f ? x * x : 0.0f;
}

} // namespace

RenderStats RenderScore(const Score& score, const SampleSink& sink) {
#if defined(__SSE__)
    // Flush denormals to zero: decaying tails otherwise slow the filters down.
    _mm_setcsr(_mm_getcsr() | 0x8040);
#endif
    std::unique_ptr<Instrument> instruments[kTrackCount] = {
        MakeKick(), MakeSnare(), MakeHats(), MakeCymbal(), MakeBoom(),       MakeBass(),  MakePad(),
        MakeStab(), MakeLead(),  MakeAnswerLead(), MakeArp(), MakeBell(), MakeSweep(),
    };
    std::vector<AutomationReader> readers;
    for (int p = 0; p < kParamCount; ++p) readers.emplace_back(score.automation[p]);
    size_t nextEvent[kTrackCount] = {};
    Svf lowCutL[kTrackCount], lowCutR[kTrackCount];
    for (int t = 0; t < kTrackCount; ++t) {
        if (kSetup[t].lowCut > 0.0f) {
            lowCutL[t].Set(kSetup[t].lowCut, 0.7f);
            lowCutR[t].Set(kSetup[t].lowCut, 0.7f);
        }
    }
    Reverb reverb;
    PingPongDelay delay(static_cast<int>(TickToSample(3 * kTicksPerBeat / 4))); // a dotted eighth
    Limiter limiter(kMasterCeiling, kLookahead, 0.08f);
    OnePole dcL, dcR;
    dcL.Set(12.0f);
    dcR.Set(12.0f);

    float busL[kBlock], busR[kBlock];
    float dryL[kBlock], dryR[kBlock];
    float revL[kBlock], revR[kBlock], dlyL[kBlock], dlyR[kBlock];
    float wetL[kBlock], wetR[kBlock], revOutL[kBlock], revOutR[kBlock];
    float pump[kBlock];
    float gainFrom[kParamCount], gainTo[kParamCount];

    // The limiter's output is late by kLookahead - 1 samples: render that much
    // longer and drop as much from the front.
    const int latency = kLookahead - 1;
    const int64_t total = score.lengthSamples + latency;
    int64_t beat = 0;
    int64_t beatStart = 0, nextBeatStart = BeatToSample(1);
    int64_t toSkip = latency;
    RenderStats stats;

    for (int64_t blockStart = 0; blockStart < total; blockStart += kBlock) {
        const int count = static_cast<int>(std::min<int64_t>(kBlock, total - blockStart));
        const double tickFrom = SampleToTick(blockStart);
        const double tickTo = SampleToTick(blockStart + count);
        for (int p = 0; p < kParamCount; ++p) gainFrom[p] = readers[p].At(tickFrom);
        for (int p = 0; p < kParamCount; ++p) gainTo[p] = readers[p].At(tickTo);

        // The pads' filter breathes slowly, once every four bars.
        const float breath = Sine()(static_cast<float>(tickFrom / (16.0 * kTicksPerBeat)));
        instruments[kTrackPad]->control[0] = gainFrom[kPadCutoff] * (1.0f + 0.18f * breath);
        instruments[kTrackStab]->control[0] = gainFrom[kStabCutoff];
        instruments[kTrackBass]->control[0] = gainFrom[kBassCutoff];
        instruments[kTrackBass]->control[1] = gainFrom[kBassEnvelope];
        instruments[kTrackLead]->control[0] = gainFrom[kLeadCutoff];
        instruments[kTrackAnswer]->control[0] = gainFrom[kAnswerCutoff];
        instruments[kTrackArp]->control[0] = gainFrom[kArpCutoff];

        const float depthFrom = gainFrom[kPumpDepth], depthTo = gainTo[kPumpDepth];
        for (int n = 0; n < count; ++n) {
            int64_t s = blockStart + n;
            while (s >= nextBeatStart) {
                ++beat;
                beatStart = nextBeatStart;
                nextBeatStart = BeatToSample(beat + 1);
            }
            float depth = depthFrom + (depthTo - depthFrom) * n / count;
            pump[n] = depth * PumpShape(s - beatStart);
        }

        std::fill(dryL, dryL + count, 0.0f);
        std::fill(dryR, dryR + count, 0.0f);
        std::fill(revL, revL + count, 0.0f);
        std::fill(revR, revR + count, 0.0f);
        std::fill(dlyL, dlyL + count, 0.0f);
        std::fill(dlyR, dlyR + count, 0.0f);

        for (int t = 0; t < kTrackCount; ++t) {
            std::fill(busL, busL + count, 0.0f);
            std::fill(busR, busR + count, 0.0f);
            Instrument& inst = *instruments[t];
            const std::vector<NoteEvent>& events = score.events[t];
            // Start each note at its exact sample by splitting the block there.
            int done = 0;
            while (nextEvent[t] < events.size() && events[nextEvent[t]].sample < blockStart + count) {
                const NoteEvent& e = events[nextEvent[t]];
                int at = static_cast<int>(std::max<int64_t>(e.sample - blockStart, done));
                if (at > done) inst.Render(busL + done, busR + done, at - done);
                done = at;
                inst.Start(e);
                ++nextEvent[t];
            }
            if (count > done) inst.Render(busL + done, busR + done, count - done);

            const TrackSetup& setup = kSetup[t];
            const float g0 = gainFrom[t], g1 = gainTo[t];
            for (int n = 0; n < count; ++n) {
                float l = busL[n], r = busR[n];
                if (setup.lowCut > 0.0f) {
                    l = lowCutL[t].High(l);
                    r = lowCutR[t].High(r);
                }
                float g = g0 + (g1 - g0) * n / count;
                if (setup.pump > 0.0f) g *= 1.0f - setup.pump * pump[n];
                l *= g;
                r *= g;
                dryL[n] += l;
                dryR[n] += r;
                revL[n] += l * setup.reverbSend;
                revR[n] += r * setup.reverbSend;
                dlyL[n] += l * setup.delaySend;
                dlyR[n] += r * setup.delaySend;
            }
        }

        reverb.Process(revL, revR, revOutL, revOutR, count);
        delay.Process(dlyL, dlyR, wetL, wetR, count, gainFrom[kDelayFeedback]);
        // The echoes and the tail duck with the beat as well.
        for (int n = 0; n < count; ++n) {
            float duck = 1.0f - 0.5f * pump[n];
            dryL[n] += (revOutL[n] + wetL[n] * 0.6f) * duck;
            dryR[n] += (revOutR[n] + wetR[n] * 0.6f) * duck;
        }
        const float m0 = gainFrom[kMasterGain], m1 = gainTo[kMasterGain];
        for (int n = 0; n < count; ++n) {
            float m = m0 + (m1 - m0) * n / count;
            dryL[n] = dcL.High(dryL[n] * m);
            dryR[n] = dcR.High(dryR[n] * m);
        }
        limiter.Process(dryL, dryR, count);
        stats.limitedSamples += limiter.TakeLimitedCount();

        int skip = static_cast<int>(std::min<int64_t>(toSkip, count));
        toSkip -= skip;
        if (count > skip) sink(dryL + skip, dryR + skip, count - skip);
    }
    stats.deepestLimiting = limiter.LowestGain();
    return stats;
}

} // namespace music
