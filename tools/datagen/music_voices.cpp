#include "music_voices.h"

#include <algorithm>
#include <cmath>

namespace music {

namespace {

// Equal-power pan scaled so that the centre gives unity on both sides.
void PanGains(float pan, float& left, float& right) {
    float angle = (pan + 1.0f) * 0.25f * kPi;
    left = std::cos(angle) * 1.41421356f;
    right = std::sin(angle) * 1.41421356f;
}

// Filters are retuned every this many samples; in between they hold.
constexpr int kControlInterval = 16;

// ---------------------------------------------------------------- kick ----
class KickDrum : public Instrument {
public:
    void Start(const NoteEvent& e) override {
        Voice& v = m_Voices[m_Next];
        m_Next = (m_Next + 1) % 2;
        v = Voice();
        v.active = true;
        v.velocity = e.velocity;
        bool forward = e.variant == kKickForward;
        v.decayFactor = DecayFactor(forward ? 0.22f : 0.16f);
        v.drive = forward ? 2.4f : 1.7f;
    }
    void Render(float* left, float* right, int count) override {
        const float pitchFactor = DecayFactor(0.026f);
        const float clickFactor = DecayFactor(0.0012f);
        const int hold = kSampleRate * 22 / 1000;
        const int fadeStart = kSampleRate * 390 / 1000;
        const int fadeLength = kSampleRate * 25 / 1000;
        for (Voice& v : m_Voices) {
            if (!v.active) continue;
            const float norm = 1.0f / std::tanh(v.drive);
            for (int n = 0; n < count; ++n) {
                float hz = 41.2f + 150.0f * v.pitchEnv; // settles on E, the key's fifth
                v.pitchEnv *= pitchFactor;
                v.phase += hz / kSampleRate;
                if (v.phase >= 1.0f) v.phase -= 1.0f;
                if (v.t >= hold) v.amp *= v.decayFactor;
                float body = Sine()(v.phase) * v.amp;
                float click = m_Noise.Bipolar() * v.click * 0.45f;
                v.click *= clickFactor;
                float y = std::tanh((body + click) * v.drive) * norm * v.velocity;
                if (v.t >= fadeStart) {
                    float fade = 1.0f - static_cast<float>(v.t - fadeStart) / fadeLength;
                    if (fade <= 0.0f) {
                        v.active = false;
                        break;
                    }
                    y *= fade;
                }
                left[n] += y;
                right[n] += y;
                ++v.t;
            }
        }
    }

private:
    struct Voice {
        bool active = false;
        int t = 0;
        float phase = 0.0f;
        float pitchEnv = 1.0f;
        float amp = 1.0f;
        float click = 1.0f;
        float velocity = 1.0f;
        float decayFactor = 0.999f;
        float drive = 1.5f;
    };
    Voice m_Voices[2];
    int m_Next = 0;
    Random m_Noise{0x4B49434Bu};
};

// ------------------------------------------------- clap, snare and tom ----
class SnareDrum : public Instrument {
public:
    SnareDrum() {
        for (Voice& v : m_Voices) {
            v.bandL.Set(1150.0f, 1.1f);
            v.bandR.Set(1250.0f, 1.1f);
            v.highL.Set(2200.0f, 0.7f);
            v.highR.Set(2200.0f, 0.7f);
        }
    }
    void Start(const NoteEvent& e) override {
        Voice& v = m_Voices[m_Next];
        m_Next = (m_Next + 1) % kVoices;
        v.active = true;
        v.t = 0;
        v.variant = e.variant;
        v.velocity = e.velocity;
        v.noiseEnv = 1.0f;
        v.toneEnv = 1.0f;
        v.pitchEnv = 1.0f;
        v.phase = 0.0f;
        v.baseHz = e.variant == kTom ? NoteToHz(e.note) : 190.0f;
        v.noiseDecay = DecayFactor(e.variant == kClap ? 0.12f : (e.variant == kSnare ? 0.11f : 0.05f));
        v.toneDecay = DecayFactor(e.variant == kTom ? 0.22f : 0.05f);
    }
    void Render(float* left, float* right, int count) override {
        const int burst = kSampleRate * 95 / 10000; // 9.5 ms between the hands of a clap
        const float burstFactor = DecayFactor(0.0022f);
        const float pitchFactor = DecayFactor(0.012f);
        for (Voice& v : m_Voices) {
            if (!v.active) continue;
            for (int n = 0; n < count; ++n) {
                float a = m_Noise.Bipolar();
                float b = m_Noise.Bipolar();
                float outL = 0.0f, outR = 0.0f;
                if (v.variant == kClap) {
                    float env;
                    if (v.t < 3 * burst) {
                        if (v.t % burst == 0) v.burstEnv = 1.0f;
                        env = v.burstEnv;
                        v.burstEnv *= burstFactor;
                    } else {
                        env = 0.85f * v.noiseEnv;
                        v.noiseEnv *= v.noiseDecay;
                    }
                    float nl = a;
                    float nr = 0.6f * a + 0.4f * b;
                    outL = (2.0f * v.bandL.Band(nl) + 0.35f * v.highL.High(nl)) * env;
                    outR = (2.0f * v.bandR.Band(nr) + 0.35f * v.highR.High(nr)) * env;
                } else {
                    float hz = v.baseHz * (1.0f + 0.6f * v.pitchEnv);
                    v.pitchEnv *= pitchFactor;
                    v.phase += hz / kSampleRate;
                    if (v.phase >= 1.0f) v.phase -= 1.0f;
                    float tone = Sine()(v.phase) * v.toneEnv;
                    v.toneEnv *= v.toneDecay;
                    float noiseLevel = v.variant == kTom ? 0.15f : 0.75f;
                    float nl = v.highL.High(a) * v.noiseEnv * noiseLevel;
                    float nr = v.highR.High(0.7f * a + 0.3f * b) * v.noiseEnv * noiseLevel;
                    v.noiseEnv *= v.noiseDecay;
                    float toneLevel = v.variant == kTom ? 0.9f : 0.55f;
                    outL = tone * toneLevel + nl;
                    outR = tone * toneLevel + nr;
                }
                left[n] += outL * v.velocity;
                right[n] += outR * v.velocity;
                if (++v.t > kSampleRate) {
                    v.active = false;
                    break;
                }
            }
        }
    }

private:
    static constexpr int kVoices = 6;
    struct Voice {
        bool active = false;
        int t = 0;
        int variant = 0;
        float velocity = 1.0f;
        float noiseEnv = 1.0f, noiseDecay = 0.999f;
        float toneEnv = 1.0f, toneDecay = 0.999f;
        float burstEnv = 1.0f;
        float pitchEnv = 1.0f;
        float phase = 0.0f;
        float baseHz = 190.0f;
        Svf bandL, bandR, highL, highR;
    };
    Voice m_Voices[kVoices];
    int m_Next = 0;
    Random m_Noise{0x534E4152u};
};

// -------------------------------------------------------------- hi-hats ----
class HiHats : public Instrument {
public:
    HiHats() {
        for (Voice& v : m_Voices) {
            v.high.Set(7200.0f, 0.8f);
            v.band.Set(10500.0f, 1.4f);
            v.top1.Set(12000.0f);
            v.top2.Set(14000.0f);
        }
    }
    void Start(const NoteEvent& e) override {
        bool open = e.variant == kOpenHat;
        if (!open) {
            // A closed hat chokes a ringing open one.
            for (Voice& v : m_Voices)
                if (v.active && v.open) v.decay = DecayFactor(0.012f);
        }
        Voice& v = m_Voices[m_Next];
        m_Next = (m_Next + 1) % kVoices;
        v.active = true;
        v.open = open;
        v.env = 1.0f;
        v.velocity = e.velocity;
        v.decay = DecayFactor(open ? 0.24f : 0.028f + 0.02f * e.velocity);
        PanGains(open ? -0.2f : 0.25f, v.gainL, v.gainR);
    }
    void Render(float* left, float* right, int count) override {
        for (Voice& v : m_Voices) {
            if (!v.active) continue;
            for (int n = 0; n < count; ++n) {
                float x = m_Noise.Bipolar();
                float y = (v.high.High(x) * 0.7f + v.band.Band(x) * 0.5f) * v.env * v.velocity;
                y = v.top2.Low(v.top1.Low(y));
                v.env *= v.decay;
                left[n] += y * v.gainL;
                right[n] += y * v.gainR;
            }
            if (v.env < 1e-4f) v.active = false;
        }
    }

private:
    static constexpr int kVoices = 6;
    struct Voice {
        bool active = false;
        bool open = false;
        float env = 0.0f, decay = 0.99f, velocity = 1.0f;
        float gainL = 1.0f, gainR = 1.0f;
        Svf high, band;
        OnePole top1, top2; // the very top of white noise only hisses
    };
    Voice m_Voices[kVoices];
    int m_Next = 0;
    Random m_Noise{0x48415453u};
};

// -------------------------------------------------------------- cymbals ----
class Cymbal : public Instrument {
public:
    void Start(const NoteEvent& e) override {
        Voice& v = m_Voices[m_Next];
        m_Next = (m_Next + 1) % kVoices;
        v = Voice();
        v.active = true;
        v.reverse = e.variant == kReverseCrash;
        v.length = std::max(1, e.length);
        v.velocity = e.velocity;
        v.decay = DecayFactor(1.9f);
        v.highL.Set(3800.0f, 0.7f);
        v.highR.Set(3900.0f, 0.7f);
        v.bandL.Set(8500.0f, 0.6f);
        v.bandR.Set(9000.0f, 0.6f);
        v.topL.Set(11000.0f);
        v.topR.Set(11000.0f);
    }
    void Render(float* left, float* right, int count) override {
        const int attack = kSampleRate * 3 / 1000;
        for (Voice& v : m_Voices) {
            if (!v.active) continue;
            for (int n = 0; n < count; ++n) {
                float env;
                if (v.reverse) {
                    if (v.t >= v.length) {
                        v.active = false;
                        break;
                    }
                    float x = static_cast<float>(v.t) / v.length;
                    env = x * x * x;
                } else {
                    env = v.t < attack ? static_cast<float>(v.t) / attack : v.env;
                    if (v.t >= attack) v.env *= v.decay;
                    if (v.env < 1e-4f) {
                        v.active = false;
                        break;
                    }
                }
                float a = m_NoiseL.Bipolar();
                float b = m_NoiseR.Bipolar();
                left[n] += v.topL.Low(v.highL.High(a) * 0.6f + v.bandL.Band(a) * 0.5f) * env * v.velocity;
                right[n] += v.topR.Low(v.highR.High(b) * 0.6f + v.bandR.Band(b) * 0.5f) * env * v.velocity;
                ++v.t;
            }
        }
    }

private:
    static constexpr int kVoices = 4;
    struct Voice {
        bool active = false;
        bool reverse = false;
        int t = 0, length = 1;
        float env = 1.0f, decay = 0.999f, velocity = 1.0f;
        Svf highL, highR, bandL, bandR;
        OnePole topL, topR;
    };
    Voice m_Voices[kVoices];
    int m_Next = 0;
    Random m_NoiseL{0x43524153u}, m_NoiseR{0x48435241u};
};

// ------------------------------------------------------- impact (boom) ----
class Boom : public Instrument {
public:
    void Start(const NoteEvent& e) override {
        Voice& v = m_Voices[m_Next];
        m_Next = (m_Next + 1) % 2;
        v = Voice();
        v.active = true;
        v.velocity = e.velocity;
        v.low.Set(700.0f, 0.7f);
    }
    void Render(float* left, float* right, int count) override {
        const float pitchFactor = DecayFactor(0.2f);
        const float ampFactor = DecayFactor(0.85f);
        const float thumpFactor = DecayFactor(0.05f);
        for (Voice& v : m_Voices) {
            if (!v.active) continue;
            for (int n = 0; n < count; ++n) {
                float hz = 31.0f + 48.0f * v.pitchEnv;
                v.pitchEnv *= pitchFactor;
                v.phase += hz / kSampleRate;
                if (v.phase >= 1.0f) v.phase -= 1.0f;
                float x = Sine()(v.phase) * v.amp + v.low.Low(m_Noise.Bipolar()) * v.thump * 1.5f;
                v.amp *= ampFactor;
                v.thump *= thumpFactor;
                float y = std::tanh(1.4f * x) * 0.8f * v.velocity;
                left[n] += y;
                right[n] += y;
            }
            if (v.amp < 1e-4f) v.active = false;
        }
    }

private:
    struct Voice {
        bool active = false;
        float phase = 0.0f, pitchEnv = 1.0f, amp = 1.0f, thump = 1.0f, velocity = 1.0f;
        Svf low;
    };
    Voice m_Voices[2];
    int m_Next = 0;
    Random m_Noise{0x424F4F4Du};
};

// ----------------------------------------------------------------- bass ----
// One voice: two saws and a sine under a resonant low pass whose cutoff jumps
// up with every note. control[0] is the base cutoff in Hz, control[1] the
// envelope depth in octaves.
class Bass : public Instrument {
public:
    Bass() {
        m_Amp.Configure(0.002f, 0.25f, 0.8f, 0.018f);
        m_LowCut.Set(32.0f);
    }
    void Start(const NoteEvent& e) override {
        float hz = NoteToHz(e.note);
        m_SawA.SetHz(hz);
        m_SawB.SetHz(hz * CentsToRatio(9.0f));
        m_Amp.Trigger();
        m_FilterEnv = 1.0f;
        m_Gate = std::max(1, e.length);
        m_Velocity = e.velocity;
    }
    void Render(float* left, float* right, int count) override {
        if (!m_Amp.Active()) return;
        const float envFactor = DecayFactor(0.09f);
        for (int n = 0; n < count; ++n) {
            if (m_Gate > 0 && --m_Gate == 0) m_Amp.Release();
            if (m_Counter++ % kControlInterval == 0)
                m_Filter.Set(control[0] * std::exp2(control[1] * m_FilterEnv * m_Velocity), 1.3f);
            m_FilterEnv *= envFactor;
            float sub = -Sine()(m_SawA.phase);
            float saws = 0.5f * (m_SawA.Tick() + m_SawB.Tick());
            float y = (0.75f * m_Filter.Low(saws) + 0.6f * sub) * m_Amp.Tick() * m_Velocity;
            y = m_LowCut.High(y);
            left[n] += y;
            right[n] += y;
        }
    }

private:
    SawOsc m_SawA, m_SawB;
    Svf m_Filter;
    OnePole m_LowCut;
    Envelope m_Amp;
    float m_FilterEnv = 0.0f;
    float m_Velocity = 1.0f;
    int m_Gate = 0;
    unsigned m_Counter = 0;
};

// ------------------------------------------------------ detuned saws ----
// Several detuned saws per note, spread across the stereo field, under a low
// pass per side. Used for the pads, the chord stabs and the leads.
// control[0] is the cutoff in Hz before the filter envelope.
struct SuperSawSettings {
    int saws = 7;
    float detuneCents = 20.0f;
    float width = 1.0f;
    float attack = 0.2f, decay = 1.0f, sustain = 1.0f, release = 0.8f;
    float slowAttack = 2.5f;        // attack of variant 1
    float filterEnvOctaves = 0.0f;
    float filterEnvDecay = 0.2f;
    float resonance = 0.7f;
    float vibratoCents = 0.0f;
    float vibratoDelay = 0.3f;
    float subLevel = 0.0f;          // square an octave below (leads)
    float level = 1.0f;
    int voices = 12;
};

class SuperSaw : public Instrument {
public:
    explicit SuperSaw(const SuperSawSettings& s, uint32_t seed) : m_Settings(s), m_Random(seed) {
        static const float kSpread[7] = {0.0f, -0.31f, 0.29f, -0.63f, 0.6f, -1.0f, 0.97f};
        static const float kPan[7] = {0.0f, -0.55f, 0.55f, 0.8f, -0.8f, -1.0f, 1.0f};
        float sum = 0.0f;
        for (int i = 0; i < s.saws; ++i) {
            m_Ratio[i] = CentsToRatio(kSpread[i] * s.detuneCents);
            float amp = i == 0 ? 1.0f : 0.8f;
            PanGains(kPan[i] * s.width, m_GainL[i], m_GainR[i]);
            m_GainL[i] *= amp;
            m_GainR[i] *= amp;
            sum += amp * amp;
        }
        float norm = 1.0f / std::sqrt(sum);
        for (int i = 0; i < s.saws; ++i) {
            m_GainL[i] *= norm;
            m_GainR[i] *= norm;
        }
        m_Voices.resize(s.voices);
    }
    void Start(const NoteEvent& e) override {
        Voice* voice = nullptr;
        for (Voice& v : m_Voices)
            if (!v.amp.Active()) {
                voice = &v;
                break;
            }
        if (!voice) {
            // Steal the quietest voice.
            voice = &m_Voices[0];
            for (Voice& v : m_Voices)
                if (v.amp.value < voice->amp.value) voice = &v;
        }
        Voice& v = *voice;
        bool fresh = !v.amp.Active();
        v.hz = NoteToHz(e.note);
        for (int i = 0; i < m_Settings.saws; ++i) {
            v.saw[i].SetHz(v.hz * m_Ratio[i]);
            if (fresh) v.saw[i].phase = m_Random.Unit();
        }
        v.sub.SetHz(v.hz * 0.5f);
        v.sub.width = 0.5f;
        float attack = e.variant == 1 ? m_Settings.slowAttack : m_Settings.attack;
        v.amp.Configure(attack, m_Settings.decay, m_Settings.sustain, m_Settings.release);
        v.amp.Trigger();
        v.filterEnv = 1.0f;
        v.gate = std::max(1, e.length);
        v.velocity = e.velocity;
        v.t = 0;
        v.vibratoPhase = 0.0f;
    }
    void Render(float* left, float* right, int count) override {
        const SuperSawSettings& s = m_Settings;
        const float envFactor = DecayFactor(s.filterEnvDecay);
        const float vibratoInc = 5.3f / kSampleRate;
        const int vibratoDelay = static_cast<int>(s.vibratoDelay * kSampleRate);
        for (Voice& v : m_Voices) {
            if (!v.amp.Active()) continue;
            for (int n = 0; n < count; ++n) {
                if (v.gate > 0 && --v.gate == 0) v.amp.Release();
                if (v.t % kControlInterval == 0) {
                    float cutoff = control[0] * std::exp2(s.filterEnvOctaves * v.filterEnv);
                    v.filterL.Set(cutoff, s.resonance);
                    v.filterR.a1 = v.filterL.a1;
                    v.filterR.a2 = v.filterL.a2;
                    v.filterR.a3 = v.filterL.a3;
                    v.filterR.k = v.filterL.k;
                    if (s.vibratoCents > 0.0f && v.t > vibratoDelay) {
                        float depth = std::min(1.0f, (v.t - vibratoDelay) / (0.4f * kSampleRate));
                        float ratio = CentsToRatio(s.vibratoCents * depth * Sine()(v.vibratoPhase));
                        for (int i = 0; i < s.saws; ++i) v.saw[i].SetHz(v.hz * m_Ratio[i] * ratio);
                        v.sub.SetHz(v.hz * 0.5f * ratio);
                    }
                }
                v.filterEnv *= envFactor;
                v.vibratoPhase += vibratoInc;
                float l = 0.0f, r = 0.0f;
                for (int i = 0; i < s.saws; ++i) {
                    float x = v.saw[i].Tick();
                    l += x * m_GainL[i];
                    r += x * m_GainR[i];
                }
                if (s.subLevel > 0.0f) {
                    float sub = v.sub.Tick() * s.subLevel;
                    l += sub;
                    r += sub;
                }
                float gain = v.amp.Tick() * v.velocity * s.level;
                left[n] += v.filterL.Low(l) * gain;
                right[n] += v.filterR.Low(r) * gain;
                ++v.t;
                if (!v.amp.Active()) break;
            }
        }
    }

private:
    struct Voice {
        SawOsc saw[7];
        PulseOsc sub;
        Envelope amp;
        Svf filterL, filterR;
        float hz = 440.0f;
        float filterEnv = 0.0f;
        float velocity = 1.0f;
        float vibratoPhase = 0.0f;
        int gate = 0;
        int t = 0;
    };
    SuperSawSettings m_Settings;
    Random m_Random;
    float m_Ratio[7] = {};
    float m_GainL[7] = {}, m_GainR[7] = {};
    std::vector<Voice> m_Voices;
};

// ------------------------------------------------------------ arpeggio ----
// Short pulse plucks, alternately left and right. control[0] is the cutoff.
class Pluck : public Instrument {
public:
    void Start(const NoteEvent& e) override {
        Voice& v = m_Voices[m_Next];
        m_Next = (m_Next + 1) % kVoices;
        v.osc.SetHz(NoteToHz(e.note));
        v.osc.width = 0.3f;
        v.saw.SetHz(NoteToHz(e.note) * CentsToRatio(6.0f));
        v.amp.Configure(0.001f, 0.22f, 0.0f, 0.05f);
        v.amp.Trigger();
        v.filterEnv = 1.0f;
        v.gate = std::max(1, e.length);
        v.velocity = e.velocity;
        v.t = 0;
        m_Side = -m_Side;
        PanGains(0.35f * m_Side, v.gainL, v.gainR);
    }
    void Render(float* left, float* right, int count) override {
        const float envFactor = DecayFactor(0.11f);
        for (Voice& v : m_Voices) {
            if (!v.amp.Active()) continue;
            for (int n = 0; n < count; ++n) {
                if (v.gate > 0 && --v.gate == 0) v.amp.Release();
                if (v.t++ % kControlInterval == 0) v.filter.Set(control[0] * std::exp2(2.5f * v.filterEnv), 1.0f);
                v.filterEnv *= envFactor;
                float x = v.filter.Low(0.7f * v.osc.Tick() + 0.3f * v.saw.Tick()) * v.amp.Tick() * v.velocity;
                left[n] += x * v.gainL;
                right[n] += x * v.gainR;
                if (!v.amp.Active()) break;
            }
        }
    }

private:
    static constexpr int kVoices = 6;
    struct Voice {
        PulseOsc osc;
        SawOsc saw;
        Envelope amp;
        Svf filter;
        float filterEnv = 0.0f, velocity = 1.0f, gainL = 1.0f, gainR = 1.0f;
        int gate = 0, t = 0;
    };
    Voice m_Voices[kVoices];
    int m_Next = 0;
    float m_Side = 1.0f;
};

// ---------------------------------------------------------------- bells ----
// Sums of sine partials at slightly inharmonic ratios, each dying away at its
// own rate: no aliasing at any pitch.
class Bell : public Instrument {
public:
    void Start(const NoteEvent& e) override {
        static const float kRatio[kPartials] = {1.0f, 2.0f, 3.01f, 4.17f, 5.43f, 6.8f};
        static const float kAmp[kPartials] = {1.0f, 0.45f, 0.28f, 0.16f, 0.09f, 0.05f};
        static const float kDecay[kPartials] = {2.4f, 1.3f, 0.8f, 0.5f, 0.33f, 0.22f};
        Voice& v = m_Voices[m_Next];
        m_Next = (m_Next + 1) % kVoices;
        float hz = NoteToHz(e.note);
        float length = e.variant == 1 ? 2.0f : 1.0f; // variant 1 rings longer
        for (int i = 0; i < kPartials; ++i) {
            v.inc[i] = hz * kRatio[i] / kSampleRate;
            v.phase[i] = 0.0f;
            v.amp[i] = kAmp[i] * e.velocity * 0.5f;
            v.decay[i] = DecayFactor(kDecay[i] * length);
            if (hz * kRatio[i] > 16000.0f) v.amp[i] = 0.0f;
        }
        v.attack = 0.0f;
        v.active = true;
        m_Pan = -m_Pan;
        PanGains(m_Pan * 0.3f, v.gainL, v.gainR);
    }
    void Render(float* left, float* right, int count) override {
        const float attackStep = 1.0f / (0.004f * kSampleRate);
        for (Voice& v : m_Voices) {
            if (!v.active) continue;
            for (int n = 0; n < count; ++n) {
                float x = 0.0f;
                for (int i = 0; i < kPartials; ++i) {
                    x += Sine()(v.phase[i]) * v.amp[i];
                    v.phase[i] += v.inc[i];
                    if (v.phase[i] >= 1.0f) v.phase[i] -= 1.0f;
                    v.amp[i] *= v.decay[i];
                }
                if (v.attack < 1.0f) {
                    v.attack = std::min(1.0f, v.attack + attackStep);
                    x *= v.attack;
                }
                left[n] += x * v.gainL;
                right[n] += x * v.gainR;
            }
            if (v.amp[0] < 1e-4f) v.active = false;
        }
    }

private:
    static constexpr int kVoices = 12;
    static constexpr int kPartials = 6;
    struct Voice {
        bool active = false;
        float phase[kPartials] = {}, inc[kPartials] = {}, amp[kPartials] = {}, decay[kPartials] = {};
        float attack = 0.0f, gainL = 1.0f, gainR = 1.0f;
    };
    Voice m_Voices[kVoices];
    int m_Next = 0;
    float m_Pan = 1.0f;
};

// --------------------------------------------------------- noise sweeps ----
// Risers, wind and downlifters: stereo noise through a swept band pass. A
// riser with a note also carries a rising detuned saw chord.
class Sweep : public Instrument {
public:
    void Start(const NoteEvent& e) override {
        Voice& v = m_Voices[m_Next];
        m_Next = (m_Next + 1) % kVoices;
        v = Voice();
        v.active = true;
        v.variant = e.variant;
        v.length = std::max(1, e.length);
        v.velocity = e.velocity;
        v.note = e.note;
        v.toneFilter.Set(2500.0f, 0.7f);
    }
    void Render(float* left, float* right, int count) override {
        const int fade = kSampleRate / 200;
        for (Voice& v : m_Voices) {
            if (!v.active) continue;
            for (int n = 0; n < count; ++n) {
                if (v.t >= v.length) {
                    v.active = false;
                    break;
                }
                if (v.t % kControlInterval == 0) Steer(v);
                float a = m_NoiseL.Bipolar();
                float b = m_NoiseR.Bipolar();
                float l = v.filterL.Band(a) * v.level;
                float r = v.filterR.Band(b) * v.level;
                if (v.variant == kRiser && v.note > 0.0f) {
                    float tone = 0.0f;
                    for (SawOsc& s : v.tone) tone += s.Tick();
                    tone = v.toneFilter.Low(tone) * v.toneLevel * 0.25f;
                    l += tone;
                    r += tone;
                }
                float edge = 1.0f;
                int left_ = v.length - v.t;
                if (left_ < fade) edge = static_cast<float>(left_) / fade;
                if (v.t < fade) edge = std::min(edge, static_cast<float>(v.t) / fade);
                left[n] += l * edge * v.velocity;
                right[n] += r * edge * v.velocity;
                ++v.t;
            }
        }
    }

private:
    static constexpr int kVoices = 4;
    struct Voice {
        bool active = false;
        int variant = 0, t = 0, length = 1;
        float velocity = 1.0f, note = 0.0f, level = 0.0f, toneLevel = 0.0f;
        Svf filterL, filterR, toneFilter;
        SawOsc tone[3];
    };
    void Steer(Voice& v) {
        float x = static_cast<float>(v.t) / v.length;
        float seconds = static_cast<float>(v.t) / kSampleRate;
        float hz, q;
        switch (v.variant) {
        case kRiser:
            hz = 350.0f * std::pow(9000.0f / 350.0f, x);
            q = 2.2f;
            v.level = 1.6f * x * x;
            v.toneLevel = x * x;
            if (v.note > 0.0f) {
                float base = NoteToHz(v.note + 24.0f * x);
                v.tone[0].SetHz(base);
                v.tone[1].SetHz(base * 1.006f);
                v.tone[2].SetHz(base * 1.503f);
            }
            break;
        case kWind:
            hz = 700.0f * std::exp2(1.4f * Sine()(seconds / 4.7f) + 1.3f * x);
            q = 1.6f;
            v.level = 1.2f * std::sqrt(std::sin(kPi * x));
            break;
        default: // downlifter
            hz = 7000.0f * std::pow(250.0f / 7000.0f, x);
            q = 1.2f;
            v.level = 1.3f * (1.0f - x) * (1.0f - x);
            break;
        }
        v.filterL.Set(hz, q);
        v.filterR.Set(hz * 1.03f, q);
    }
    Voice m_Voices[kVoices];
    int m_Next = 0;
    Random m_NoiseL{0x52495345u}, m_NoiseR{0x57494E44u};
};

} // namespace

std::unique_ptr<Instrument> MakeKick() { return std::make_unique<KickDrum>(); }
std::unique_ptr<Instrument> MakeSnare() { return std::make_unique<SnareDrum>(); }
std::unique_ptr<Instrument> MakeHats() { return std::make_unique<HiHats>(); }
std::unique_ptr<Instrument> MakeCymbal() { return std::make_unique<Cymbal>(); }
std::unique_ptr<Instrument> MakeBoom() { return std::make_unique<Boom>(); }
std::unique_ptr<Instrument> MakeBass() { return std::make_unique<Bass>(); }

std::unique_ptr<Instrument> MakePad() {
    SuperSawSettings s;
    s.saws = 7;
    s.detuneCents = 24.0f;
    s.width = 1.0f;
    s.attack = 0.12f;
    s.slowAttack = 2.6f;
    s.decay = 1.0f;
    s.sustain = 1.0f;
    s.release = 0.45f;
    s.resonance = 0.8f;
    s.level = 0.5f;
    s.voices = 16;
    return std::make_unique<SuperSaw>(s, 0x50414453u);
}

std::unique_ptr<Instrument> MakeStab() {
    SuperSawSettings s;
    s.saws = 5;
    s.detuneCents = 16.0f;
    s.width = 0.8f;
    s.attack = 0.002f;
    s.decay = 0.16f;
    s.sustain = 0.15f;
    s.release = 0.09f;
    s.filterEnvOctaves = 2.6f;
    s.filterEnvDecay = 0.07f;
    s.resonance = 1.1f;
    s.level = 0.6f;
    s.voices = 16;
    return std::make_unique<SuperSaw>(s, 0x53544142u);
}

std::unique_ptr<Instrument> MakeLead() {
    SuperSawSettings s;
    s.saws = 5;
    s.detuneCents = 13.0f;
    s.width = 0.6f;
    s.attack = 0.006f;
    s.decay = 0.5f;
    s.sustain = 0.7f;
    s.release = 0.14f;
    s.filterEnvOctaves = 1.6f;
    s.filterEnvDecay = 0.22f;
    s.resonance = 1.0f;
    s.vibratoCents = 18.0f;
    s.vibratoDelay = 0.28f;
    s.subLevel = 0.25f;
    s.level = 0.55f;
    s.voices = 4;
    return std::make_unique<SuperSaw>(s, 0x4C454144u);
}

std::unique_ptr<Instrument> MakeAnswerLead() {
    SuperSawSettings s;
    s.saws = 3;
    s.detuneCents = 7.0f;
    s.width = 0.9f;
    s.attack = 0.003f;
    s.decay = 0.25f;
    s.sustain = 0.35f;
    s.release = 0.2f;
    s.filterEnvOctaves = 2.2f;
    s.filterEnvDecay = 0.12f;
    s.resonance = 1.2f;
    s.level = 0.5f;
    s.voices = 4;
    return std::make_unique<SuperSaw>(s, 0x414E5357u);
}

std::unique_ptr<Instrument> MakeArp() { return std::make_unique<Pluck>(); }
std::unique_ptr<Instrument> MakeBell() { return std::make_unique<Bell>(); }
std::unique_ptr<Instrument> MakeSweep() { return std::make_unique<Sweep>(); }

} // namespace music
