#include "music_score.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace music {

// The show cuts at 5500, 13775, 27490, 42000, 54880, 68428, 82150, 95955,
// 109681, 123334, 137232, 150826, 164563, 178377, 192010, 206000, 219531,
// 233269 and 244000 ms. Each section starts on the beat nearest its cut,
// except at 164563 ms (384.49 beats), where the next beat keeps the sections
// after it at 32 beats and lets the music land just after the picture rather
// than before it. Sections whose length is not a whole number of bars end in
// a short fill bar.
const int kSectionBeats[20] = {0,   13,  32,  64,  98,  128, 160, 192, 224, 256,
                               288, 321, 352, 385, 417, 449, 481, 513, 545, 570};

namespace {

// Last beat by which the closing chord has faded, and the track's length.
const double kSilentBeat = 584.0;  // 249.95 s
const double kLengthSeconds = 251.0;

// ------------------------------------------------------------ harmony ----
struct Chord {
    const char* name;
    int bass;          // root in the bass register (E1 to D2)
    int voicing[4];    // close voicing around middle C, led smoothly
};

const Chord kChords[] = {
    {"Am", 33, {57, 60, 64, 69}}, {"F", 29, {57, 60, 65, 69}}, {"C", 36, {55, 60, 64, 67}},
    {"G", 31, {55, 59, 62, 67}},  {"Em", 28, {55, 59, 64, 67}}, {"E", 28, {56, 59, 64, 68}},
    {"Dm", 38, {57, 62, 65, 69}},
};

const Chord& FindChord(const std::string& name) {
    for (const Chord& c : kChords)
        if (name == c.name) return c;
    std::fprintf(stderr, "music: unknown chord %s\n", name.c_str());
    std::abort();
}

struct ChordSpan {
    const Chord* chord;
    double start, end; // beats
};

// A progression such as "Am F C G/2": one chord per bar unless "/beats" says otherwise.
std::vector<ChordSpan> Progression(double start, const char* text) {
    std::vector<ChordSpan> spans;
    const char* p = text;
    double beat = start;
    while (*p) {
        while (*p == ' ') ++p;
        if (!*p) break;
        std::string token;
        while (*p && *p != ' ') token += *p++;
        double beats = 4.0;
        size_t slash = token.find('/');
        if (slash != std::string::npos) {
            beats = std::atof(token.c_str() + slash + 1);
            token.resize(slash);
        }
        spans.push_back({&FindChord(token), beat, beat + beats});
        beat += beats;
    }
    return spans;
}

const Chord& ChordAt(const std::vector<ChordSpan>& spans, double beat) {
    for (const ChordSpan& s : spans)
        if (beat >= s.start && beat < s.end) return *s.chord;
    return *spans.back().chord;
}

// A note name such as "c#5" or "bb4" as a MIDI note number.
int ParseNote(const std::string& token) {
    static const int kPitch[7] = {9, 11, 0, 2, 4, 5, 7}; // a b c d e f g
    int pc = kPitch[std::tolower(token[0]) - 'a'];
    size_t i = 1;
    if (i < token.size() && token[i] == '#') {
        ++pc;
        ++i;
    } else if (i < token.size() && token[i] == 'b') {
        --pc;
        ++i;
    }
    int octave = std::atoi(token.c_str() + i);
    return 12 * (octave + 1) + pc;
}

struct Phrase {
    double step;   // sixteenths from the phrase start
    double length; // sixteenths
    int note;
};

// One token per sixteenth: a note name starts a note, "-" holds it, "." rests.
std::vector<Phrase> ParseMelody(const std::vector<const char*>& bars) {
    std::vector<Phrase> notes;
    int step = 0;
    bool holding = false;
    for (const char* bar : bars) {
        const char* p = bar;
        while (*p) {
            while (*p == ' ') ++p;
            if (!*p) break;
            std::string token;
            while (*p && *p != ' ') token += *p++;
            if (token == "-") {
                if (holding) notes.back().length += 1.0;
            } else if (token == ".") {
                holding = false;
            } else {
                notes.push_back({static_cast<double>(step), 1.0, ParseNote(token)});
                holding = true;
            }
            ++step;
        }
    }
    return notes;
}

// ------------------------------------------------------------ melodies ----
// The riff of the first lead, over Am F C G.
const std::vector<const char*> kMotif = {
    "a4 - - c5 - - e5 - . . e5 - d5 - c5 -",
    "c5 - - a4 - - f4 - . . a4 - c5 - d5 -",
    "e5 - - c5 - - g4 - . . c5 - e5 - g5 -",
    "g5 - - d5 - - b4 - . . d5 - b4 - g4 -",
    "a4 - - c5 - - e5 - . . e5 - d5 - c5 -",
    "c5 - - a4 - - f4 - . . a4 - c5 - d5 -",
    "e5 - - c5 - - g4 - . . c5 - e5 - g5 -",
    "g5 - - d5 - - b4 - d5 - g5 - b5 - - -",
};

// The theme, over Am F C G Am F C G.
const std::vector<const char*> kTheme = {
    "e5 - - a5 - - c6 - b5 - a5 - e5 - - -",
    "f5 - - a5 - - c6 - d6 - c6 - a5 - - -",
    "g5 - - c6 - - e6 - d6 - c6 - g5 - - -",
    "d6 - - b5 - - g5 - a5 - b5 - d6 - - -",
    "e6 - - - - - c6 - b5 - a5 - e5 - - -",
    "f5 - - a5 - - c6 - a5 - c6 - f6 - - -",
    "e6 - - d6 - - c6 - g5 - c6 - e6 - d6 -",
    "d6 - - - - - b5 - - - g5 - b5 - d6 -",
};

// The melody after the drop, over F G Am Am F G E E.
const std::vector<const char*> kDropMelody = {
    "c6 - - - - - a5 - - - c6 - d6 - - -",
    "d6 - - - - - b5 - - - d6 - e6 - - -",
    "e6 - - - - - - - - - - - c6 - d6 -",
    "e6 - - - a5 - - - - - - - . . . .",
    "c6 - - - - - a5 - - - c6 - d6 - - -",
    "d6 - - - - - b5 - - - d6 - g6 - - -",
    "g#5 - - - - - b5 - - - e6 - d6 - - -",
    "b5 - - - - - - - g#5 - - - . . . .",
};

// Its answers, in the bars the call leaves free.
const std::vector<const char*> kAnswers = {
    ". . . . . . . . . . . . . . . .",
    ". . . . . . . . . . . . . . . .",
    "a5 - c6 - e6 - . . d6 - c6 - b5 - c6 -",
    "a5 - - - - - - - . . . . e5 - a5 -",
    ". . . . . . . . . . . . . . . .",
    ". . . . . . . . . . . . . . . .",
    "g#5 - b5 - e6 - . . d6 - b5 - g#5 - b5 -",
    "e5 - - - - - - - . . . . . . . .",
};

// The bell tune of the breakdown, over Dm Am F C Dm Am E E.
const std::vector<const char*> kBellTune = {
    "f5 - - - - - - - a5 - - - - - - -",
    "e5 - - - - - - - - - - - c5 - d5 -",
    "c5 - - - - - - - f5 - - - - - - -",
    "e5 - - - - - - - g5 - - - - - - -",
    "a5 - - - - - - - f5 - - - d5 - - -",
    "e5 - - - - - - - c5 - - - a4 - - -",
    "b4 - - - - - - - g#4 - - - b4 - - -",
    "e5 - - - - - - - - - - - - - - -",
};

// Fragments that echo away over Dm Am F E, two bars each.
const std::vector<const char*> kEchoes = {
    "d6 - - a5 - - f5 - - - - - . . . .", ". . . . . . . . . . . . . . . .",
    "e6 - - c6 - - a5 - - - - - . . . .", ". . . . . . . . . . . . . . . .",
    "c6 - - a5 - - f5 - - - - - . . . .", ". . . . . . . . . . . . . . . .",
    "b5 - - g#5 - - e5 - - - - - . . . .", "d6 - - b5 - - g#5 - b5 - d6 - e6 - - -",
};

// Over Am G F E, one long note on every downbeat.
const std::vector<const char*> kDescent = {
    "e6 - - - - - - - c6 - - - b5 - a5 -",
    "b5 - - - - - - - d6 - - - g5 - - -",
    "a5 - - - - - - - c6 - - - f6 - - -",
    "e6 - - - - - - - d6 - - - b5 - g#5 -",
    "c6 - - - - - - - e6 - - - a6 - - -",
    "g6 - - - - - - - d6 - - - b5 - - -",
    "c6 - - - - - - - a5 - - - f5 - a5 -",
    "g#5 - - - - - - - - - - - b5 - e6 -",
};

// Over F C G Am, lighter.
const std::vector<const char*> kSong = {
    "a5 - - c6 - - f6 - - - e6 - c6 - - -",
    "e6 - - - g5 - - - c6 - - - e6 - d6 -",
    "d6 - - b5 - - g5 - - - a5 - b5 - - -",
    "c6 - - - - - - - b5 - - - a5 - - -",
    "a5 - - c6 - - f6 - - - e6 - c6 - - -",
    "g6 - - - e6 - - - c6 - - - g5 - c6 -",
    "b5 - - d6 - - g6 - - - f6 - d6 - b5 -",
    "c6 - - - - - - - - - - - . . . .",
};

// ------------------------------------------------------------ composer ----
class Composer {
public:
    Composer() {
        for (int p = 0; p < kParamCount; ++p) m_Last[p] = 0.0f;
    }

    Score Finish() {
        for (int t = 0; t < kTrackCount; ++t)
            std::stable_sort(m_Score.events[t].begin(), m_Score.events[t].end(),
                             [](const NoteEvent& a, const NoteEvent& b) { return a.sample < b.sample; });
        m_Score.lengthSamples = static_cast<int64_t>(kLengthSeconds * kSampleRate);
        return std::move(m_Score);
    }

    static int64_t Tick(double beat) { return std::llround(beat * kTicksPerBeat); }

    void Note(Track track, double beat, double beats, float note, float velocity, int variant = 0) {
        int64_t start = Tick(beat);
        int64_t end = Tick(beat + beats);
        NoteEvent e;
        e.sample = TickToSample(start);
        e.length = static_cast<int32_t>(TickToSample(end) - e.sample);
        e.note = note;
        e.velocity = velocity;
        e.variant = variant;
        m_Score.events[track].push_back(e);
    }

    // Automation is written in time order per value: Set holds from a beat
    // on, Ramp glides from the value in force to a new one.
    void Set(int param, double beat, float value) {
        Point(param, beat, m_Last[param]);
        Point(param, beat, value);
    }
    void Ramp(int param, double from, double to, float value) {
        Point(param, from, m_Last[param]);
        Point(param, to, value);
    }

    // Drum hits from a pattern of sixteenths; a digit is the velocity in ninths.
    void Hits(Track track, int variant, double from, double to, const char* pattern, float scale = 1.0f,
              float note = 60.0f) {
        int length = static_cast<int>(std::strlen(pattern));
        int steps = static_cast<int>(std::lround((to - from) * 4.0));
        for (int s = 0; s < steps; ++s) {
            char c = pattern[s % length];
            if (c < '1' || c > '9') continue;
            float velocity = (c - '0') / 9.0f * scale;
            // Hats vary a little from hit to hit, as played ones do.
            if (track == kTrackHats) velocity *= 0.88f + 0.24f * m_Random.Unit();
            Note(track, from + s * 0.25, 0.25, note, velocity, variant);
        }
    }

    void Kicks(double from, double to, float velocity = 1.0f, int variant = kKickNormal) {
        for (double b = from; b < to - 1e-9; b += 1.0) Note(kTrackKick, b, 1.0, 36.0f, velocity, variant);
    }
    // Claps on the second and fourth beat of every bar counted from `from`.
    void Claps(double from, double to, float velocity = 1.0f) { Hits(kTrackSnare, kClap, from, to, "....9.......9...", velocity); }
    void Crash(double beat, float velocity = 1.0f) { Note(kTrackCymbal, beat, 8.0, 0.0f, velocity, kCrash); }
    void Impact(double beat, float velocity = 1.0f) {
        Note(kTrackBoom, beat, 4.0, 0.0f, velocity);
        Crash(beat, velocity);
    }
    // A snare roll whose hits speed up as given and swell from one velocity to another.
    void Roll(double from, double to, double spacing, float fromVelocity, float toVelocity, int variant = kSnare) {
        for (double b = from; b < to - 1e-9; b += spacing) {
            float x = static_cast<float>((b - from) / (to - from));
            Note(kTrackSnare, b, spacing, 60.0f, 0.7f * (fromVelocity + (toVelocity - fromVelocity) * x), variant);
        }
    }
    void Riser(double from, double to, float velocity, float toneNote = 0.0f) {
        Note(kTrackSweep, from, to - from, toneNote, velocity, kRiser);
    }

    // Bass from a pattern of sixteenths over the chords: r root, o octave,
    // f fifth, "-" holds, "." rests.
    void Bass(const std::vector<ChordSpan>& chords, double from, double to, const char* pattern, float velocity = 1.0f) {
        int length = static_cast<int>(std::strlen(pattern));
        int steps = static_cast<int>(std::lround((to - from) * 4.0));
        for (int s = 0; s < steps; ++s) {
            char c = pattern[s % length];
            int offset;
            if (c == 'r') offset = 0;
            else if (c == 'o') offset = 12;
            else if (c == 'f') offset = 7;
            else continue;
            int hold = 1;
            while (s + hold < steps && pattern[(s + hold) % length] == '-') ++hold;
            double beat = from + s * 0.25;
            const Chord& chord = ChordAt(chords, beat);
            // Held notes sound to the end; short ones leave a little air.
            double beats = hold > 1 ? hold * 0.25 - 0.02 : 0.19;
            Note(kTrackBass, beat, beats, static_cast<float>(chord.bass + offset), velocity);
        }
    }

    void Pads(const std::vector<ChordSpan>& chords, double from, double to, float velocity, int variant = 0) {
        for (const ChordSpan& span : chords) {
            double start = std::max(from, span.start);
            double end = std::min(to, span.end);
            if (end <= start) continue;
            for (int v : span.chord->voicing) Note(kTrackPad, start, end - start, static_cast<float>(v), velocity, variant);
            // The root below the voicing fills out the chord.
            Note(kTrackPad, start, end - start, static_cast<float>(span.chord->voicing[0] - 12 + RootOffset(*span.chord)),
                 velocity * 0.7f, variant);
        }
    }

    // Chord stabs an octave above the pads on the steps of a pattern.
    void Stabs(const std::vector<ChordSpan>& chords, double from, double to, const char* pattern, float velocity,
               double beats = 0.2) {
        int length = static_cast<int>(std::strlen(pattern));
        int steps = static_cast<int>(std::lround((to - from) * 4.0));
        for (int s = 0; s < steps; ++s) {
            char c = pattern[s % length];
            if (c < '1' || c > '9') continue;
            double beat = from + s * 0.25;
            const Chord& chord = ChordAt(chords, beat);
            for (int v : chord.voicing)
                Note(kTrackStab, beat, beats, static_cast<float>(v + 12), (c - '0') / 9.0f * velocity);
        }
    }

    // Sixteenth arpeggio over the chord tones; the order indexes the
    // voicing and, from 4 on, its upper three notes an octave up.
    void Arpeggio(const std::vector<ChordSpan>& chords, double from, double to, const char* order, float velocity,
                  int transpose = 12) {
        int length = static_cast<int>(std::strlen(order));
        int steps = static_cast<int>(std::lround((to - from) * 4.0));
        for (int s = 0; s < steps; ++s) {
            double beat = from + s * 0.25;
            const Chord& chord = ChordAt(chords, beat);
            int index = order[s % length] - '0';
            int note = index < 4 ? chord.voicing[index] : chord.voicing[index - 3] + 12;
            float accent = s % 4 == 0 ? 1.0f : (s % 2 == 0 ? 0.8f : 0.65f);
            Note(kTrackArp, beat, 0.2, static_cast<float>(note + transpose), velocity * accent);
        }
    }

    void Melody(Track track, double from, const std::vector<const char*>& bars, float velocity, int transpose = 0,
                int firstBar = 0, int barCount = -1) {
        std::vector<const char*> chosen(bars.begin() + firstBar,
                                        barCount < 0 ? bars.end() : bars.begin() + firstBar + barCount);
        for (const Phrase& n : ParseMelody(chosen)) {
            double beat = from + n.step * 0.25;
            // Notes on the beat are played a little harder.
            float accent = std::fmod(n.step, 4.0) == 0.0 ? 1.0f : 0.85f;
            Note(track, beat, n.length * 0.25 - 0.03, static_cast<float>(n.note + transpose), velocity * accent);
        }
    }

private:
    // Chords whose voicing does not start on the root get the root below.
    static int RootOffset(const Chord& chord) {
        int root = chord.bass % 12;
        int low = chord.voicing[0] % 12;
        return ((root - low) + 12) % 12 - (((root - low) + 12) % 12 > 6 ? 12 : 0);
    }

    void Point(int param, double beat, float value) {
        std::vector<AutomationPoint>& points = m_Score.automation[param];
        int64_t tick = Tick(beat);
        if (!points.empty() && tick < points.back().tick) {
            std::fprintf(stderr, "music: automation %d written out of order at beat %.2f\n", param, beat);
            std::abort();
        }
        points.push_back({tick, value});
        m_Last[param] = value;
    }

    Score m_Score;
    float m_Last[kParamCount];
    Random m_Random{0x4D555349u};
};

// Shorthand for the section boundaries.
double S(int section) { return kSectionBeats[section]; }

// Sixteenth patterns.
const char* const kHats16 = "3474347434743474";
const char* const kHatsDriving = "4686468646864686";
const char* const kOpenOffbeat = "..7...7...7...7.";
const char* const kBassRoll = ".rrr.rrr.rrr.rro";
const char* const kBassRollVaried = ".rro.rrr.rro.rrf";
const char* const kBassOffbeat = "..r-..r-..r-..r-";
const char* const kStabOffbeat = "..7...7...7...7.";
const char* const kStabEveryBeat = "9...7...8...7...";
const char* const kStab332 = "9..7..8.9..7..8.";
const char* const kArpUpDown = "0123432101234321";
const char* const kArpRolling = "0213243502132435";

void Compose(Composer& c) {
    // ---- starting levels and settings
    const float levels[kTrackCount] = {
        0.85f, // kick
        0.95f, // snare and clap
        0.45f, // hats
        0.30f, // cymbals
        0.75f, // boom
        0.45f, // bass
        0.34f, // pad
        0.42f, // stab
        0.56f, // lead
        0.56f, // answer
        0.44f, // arp
        0.26f, // bell
        0.25f, // sweep
    };
    for (int t = 0; t < kTrackCount; ++t) c.Set(t, 0, levels[t]);
    c.Set(kPadCutoff, 0, 300.0f);
    c.Set(kStabCutoff, 0, 1200.0f);
    c.Set(kBassCutoff, 0, 300.0f);
    c.Set(kBassEnvelope, 0, 2.5f);
    c.Set(kLeadCutoff, 0, 1700.0f);
    c.Set(kAnswerCutoff, 0, 1500.0f);
    c.Set(kArpCutoff, 0, 900.0f);
    c.Set(kPumpDepth, 0, 0.0f);
    c.Set(kDelayFeedback, 0, 0.38f);
    c.Set(kMasterGain, 0, 0.40f);

    // ---- 0: intro. A pad swells out of wind, sparkles ring with the light
    // burst, a riser leads into the first beat.
    {
        const int swell[] = {45, 52, 57, 60, 64, 71};
        for (int n : swell) c.Note(kTrackPad, 0, 13.0, static_cast<float>(n), 0.8f, 1);
        c.Note(kTrackBoom, 0, 4.0, 0.0f, 0.3f);
        c.Note(kTrackBell, 0, 4.0, 69.0f, 0.35f, 1);
        c.Note(kTrackSweep, 0, 13.0, 0.0f, 1.0f, kWind);
        c.Ramp(kPadCutoff, 0, 6.5, 2400.0f);
        c.Ramp(kPadCutoff, 6.5, 12.5, 1200.0f);
        const int sparkle[] = {81, 88, 83, 84, 88, 93, 95, 91, 88};
        for (int i = 0; i < 9; ++i)
            c.Note(kTrackBell, 1.5 + i * 0.75, 1.0, static_cast<float>(sparkle[i]), 0.32f - 0.015f * i, 1);
        c.Riser(8.5, S(1), 0.9f, 57.0f);
        c.Note(kTrackCymbal, 10.0, S(1) - 10.0, 0.0f, 0.55f, kReverseCrash);
    }

    // ---- 1: kick and bass enter.
    {
        auto chords = Progression(S(1), "Am F C G G/3");
        c.Impact(S(1), 0.9f);
        c.Set(kMasterGain, S(1), 0.37f);
        c.Kicks(S(1), S(2) - 1);
        c.Bass(chords, S(1), S(2) - 1, kBassOffbeat);
        c.Set(kBassCutoff, S(1), 220.0f);
        c.Ramp(kBassCutoff, S(1), S(2), 700.0f);
        c.Set(kPadCutoff, S(1), 900.0f);
        c.Ramp(kPadCutoff, S(1), S(2), 1500.0f);
        c.Pads(chords, S(1), S(2), 0.6f);
        c.Roll(S(2) - 3, S(2) - 1, 0.5, 0.35f, 0.6f);
        c.Roll(S(2) - 1, S(2), 0.25, 0.6f, 0.9f);
        c.Riser(S(2) - 4, S(2), 0.6f);
    }

    // ---- 2: the full beat: kick, hats, rolling bass, offbeat chords.
    {
        auto chords = Progression(S(2), "Am F C G Am F C G");
        c.Set(kMasterGain, S(2), 0.48f);
        c.Crash(S(2));
        c.Kicks(S(2), S(3));
        c.Hits(kTrackHats, kClosedHat, S(2), S(3), kHats16);
        c.Hits(kTrackHats, kOpenHat, S(2), S(3), kOpenOffbeat, 0.8f);
        c.Bass(chords, S(2), S(3), kBassRoll);
        c.Set(kBassCutoff, S(2), 500.0f);
        c.Set(kPumpDepth, S(2), 0.45f);
        c.Set(kStabCutoff, S(2), 900.0f);
        c.Ramp(kStabCutoff, S(2), S(3), 2200.0f);
        c.Stabs(chords, S(2), S(3), kStabOffbeat, 0.9f);
        c.Set(kTrackPad, S(2), 0.22f);
        c.Pads(chords, S(2), S(3), 0.6f);
        c.Roll(S(3) - 1, S(3), 0.25, 0.4f, 0.8f);
    }

    // ---- 3: clap on 2 and 4, the riff, a chord on every beat; a two-beat fill.
    {
        auto chords = Progression(S(3), "Am F C G Am F C G G/2");
        double fill = S(4) - 2;
        c.Set(kMasterGain, S(3), 0.55f);
        c.Crash(S(3));
        c.Kicks(S(3), fill + 1);
        c.Claps(S(3), fill);
        c.Hits(kTrackHats, kClosedHat, S(3), fill, kHats16);
        c.Hits(kTrackHats, kOpenHat, S(3), fill, kOpenOffbeat, 0.8f);
        c.Bass(chords, S(3), fill, kBassRoll);
        c.Bass(chords, fill, S(4), "r-------");
        c.Stabs(chords, S(3), fill, kStabEveryBeat, 0.9f);
        c.Set(kStabCutoff, S(3), 1800.0f);
        c.Pads(chords, S(3), S(4), 0.6f);
        c.Melody(kTrackLead, S(3), kMotif, 0.9f);
        c.Roll(fill, S(4), 0.25, 0.4f, 1.0f);
        c.Riser(fill - 2, S(4), 0.5f);
    }

    // ---- 4: pumping pads and a forward kick.
    {
        auto chords = Progression(S(4), "Am F C G Am F C G/2");
        double fill = S(5) - 2;
        c.Set(kMasterGain, S(4), 0.49f);
        c.Impact(S(4), 0.7f);
        c.Kicks(S(4), fill, 1.0f, kKickForward);
        c.Claps(S(4), fill, 0.9f);
        c.Hits(kTrackHats, kClosedHat, S(4), fill, "2.4.2.4.2.4.2.4.");
        c.Hits(kTrackHats, kOpenHat, S(4), fill, kOpenOffbeat);
        c.Bass(chords, S(4), fill, kBassOffbeat);
        c.Set(kBassCutoff, S(4), 650.0f);
        c.Set(kTrackPad, S(4), 0.47f);
        c.Set(kPadCutoff, S(4), 3200.0f);
        c.Set(kPumpDepth, S(4), 0.8f);
        c.Pads(chords, S(4), S(5), 0.8f);
        c.Roll(fill, S(5), 0.25, 0.35f, 0.8f);
    }

    // ---- 5: the build. Filters open, a snare roll speeds up, the beat stops,
    // a riser carries the last second and a half into the drop.
    {
        auto chords = Progression(S(5), "Am F C G F G E E");
        double stop = S(6) - 1;
        c.Set(kMasterGain, S(5), 0.46f);
        c.Ramp(kMasterGain, S(5), stop, 0.6f);
        c.Set(kPumpDepth, S(5), 0.35f);
        c.Set(kTrackPad, S(5), 0.28f);
        c.Ramp(kTrackPad, S(5), stop, 0.40f);
        c.Set(kPadCutoff, S(5), 900.0f);
        c.Ramp(kPadCutoff, S(5), stop, 5000.0f);
        c.Kicks(S(5), S(5) + 28);
        c.Hits(kTrackHats, kClosedHat, S(5), stop, kHats16);
        c.Hits(kTrackHats, kOpenHat, S(5), S(5) + 28, kOpenOffbeat, 0.8f);
        c.Bass(chords, S(5), stop, kBassRoll);
        c.Set(kBassCutoff, S(5), 300.0f);
        c.Ramp(kBassCutoff, S(5), stop, 1400.0f);
        c.Pads(chords, S(5), stop, 0.7f);
        c.Set(kArpCutoff, S(5), 500.0f);
        c.Ramp(kArpCutoff, S(5), stop, 4000.0f);
        c.Arpeggio(chords, S(5), stop, kArpUpDown, 0.9f);
        c.Roll(S(5) + 16, S(5) + 20, 1.0, 0.3f, 0.45f);
        c.Roll(S(5) + 20, S(5) + 24, 0.5, 0.45f, 0.6f);
        c.Roll(S(5) + 24, S(5) + 28, 0.25, 0.6f, 0.8f);
        c.Roll(S(5) + 28, stop, 0.125, 0.8f, 1.0f);
        c.Riser(S(5) + 16, stop, 0.45f);
        c.Riser(S(6) - 3.5, S(6), 1.0f, 52.0f);
        c.Set(kMasterGain, stop, 0.6f);
    }

    // ---- 6: the drop. A new progression and the melody that belongs to it.
    {
        auto chords = Progression(S(6), "F G Am Am F G E E");
        c.Set(kMasterGain, S(6), 0.53f);
        c.Impact(S(6), 1.0f);
        c.Kicks(S(6), S(7));
        c.Claps(S(6), S(7));
        c.Hits(kTrackHats, kClosedHat, S(6), S(7), kHats16);
        c.Hits(kTrackHats, kOpenHat, S(6), S(7), kOpenOffbeat, 0.8f);
        c.Bass(chords, S(6), S(7), kBassRoll);
        c.Set(kBassCutoff, S(6), 600.0f);
        c.Set(kPumpDepth, S(6), 0.5f);
        c.Set(kTrackPad, S(6), 0.34f);
        c.Set(kPadCutoff, S(6), 2600.0f);
        c.Pads(chords, S(6), S(7), 0.7f);
        c.Set(kStabCutoff, S(6), 1400.0f);
        c.Stabs(chords, S(6), S(7), kStabOffbeat, 0.55f);
        c.Melody(kTrackLead, S(6), kDropMelody, 0.95f);
    }

    // ---- 7: the lead calls, a second voice answers.
    {
        auto chords = Progression(S(7), "F G Am Am F G E E");
        c.Crash(S(7));
        c.Kicks(S(7), S(8));
        c.Claps(S(7), S(8));
        c.Hits(kTrackHats, kClosedHat, S(7), S(8), kHats16);
        c.Hits(kTrackHats, kOpenHat, S(7), S(8), kOpenOffbeat, 0.8f);
        c.Bass(chords, S(7), S(8), kBassRollVaried);
        c.Pads(chords, S(7), S(8), 0.7f);
        c.Stabs(chords, S(7), S(8), kStabOffbeat, 0.55f);
        c.Melody(kTrackLead, S(7), kDropMelody, 0.95f, 0, 0, 2);
        c.Melody(kTrackLead, S(7) + 16, kDropMelody, 0.95f, 0, 4, 2);
        c.Melody(kTrackAnswer, S(7), kAnswers, 1.0f);
        c.Set(kArpCutoff, S(7), 1400.0f);
        c.Arpeggio(chords, S(7) + 16, S(8), kArpRolling, 0.6f);
    }

    // ---- 8: the theme.
    {
        auto chords = Progression(S(8), "Am F C G Am F C G");
        c.Impact(S(8), 0.6f);
        c.Kicks(S(8), S(9));
        c.Claps(S(8), S(9) - 1);
        c.Hits(kTrackHats, kClosedHat, S(8), S(9), kHats16);
        c.Hits(kTrackHats, kOpenHat, S(8), S(9), kOpenOffbeat, 0.8f);
        c.Bass(chords, S(8), S(9), kBassRoll);
        c.Pads(chords, S(8), S(9), 0.7f);
        c.Arpeggio(chords, S(8), S(9), kArpRolling, 0.7f);
        c.Melody(kTrackLead, S(8), kTheme, 1.0f);
        c.Roll(S(9) - 1, S(9), 0.25, 0.4f, 0.8f);
    }

    // ---- 9: thinner: pads and a held bass, the drums in half time.
    {
        auto chords = Progression(S(9), "Dm Am F C Dm Am E E");
        c.Set(kMasterGain, S(9), 0.51f);
        c.Set(kPumpDepth, S(9), 0.0f);
        c.Crash(S(9), 0.7f);
        c.Hits(kTrackKick, kKickNormal, S(9), S(10), "9.....6.........", 0.95f);
        c.Hits(kTrackSnare, kClap, S(9), S(10), "........9.......", 0.9f);
        c.Hits(kTrackHats, kClosedHat, S(9), S(10), "..4...4...4...5.");
        c.Set(kBassCutoff, S(9), 350.0f);
        c.Bass(chords, S(9), S(10), "r-----------..r-", 0.9f);
        c.Set(kTrackPad, S(9), 0.40f);
        c.Set(kPadCutoff, S(9), 2000.0f);
        c.Pads(chords, S(9), S(10), 0.8f);
        c.Set(kArpCutoff, S(9) + 16, 600.0f);
        c.Ramp(kArpCutoff, S(9) + 16, S(10), 1200.0f);
        c.Arpeggio(chords, S(9) + 16, S(10), kArpUpDown, 0.6f);
    }

    // ---- 10: breakdown: pads, arpeggio and the bell tune; no kick.
    {
        auto chords = Progression(S(10), "Dm Am F C Dm Am E E E/1");
        c.Set(kMasterGain, S(10), 0.43f);
        c.Crash(S(10), 0.6f);
        c.Note(kTrackSweep, S(10), 8.0, 0.0f, 0.8f, kDownlifter);
        c.Set(kTrackPad, S(10), 0.45f);
        c.Set(kPadCutoff, S(10), 1600.0f);
        c.Ramp(kPadCutoff, S(10), S(11), 3000.0f);
        c.Pads(chords, S(10), S(11), 0.8f);
        c.Set(kArpCutoff, S(10), 1200.0f);
        c.Ramp(kArpCutoff, S(10), S(11), 2400.0f);
        c.Set(kDelayFeedback, S(10), 0.5f);
        c.Arpeggio(chords, S(10), S(11), kArpUpDown, 0.7f);
        c.Melody(kTrackBell, S(10), kBellTune, 0.9f);
    }

    // ---- 11: building back: hats and bass return, a riser, no kick yet.
    {
        auto chords = Progression(S(11), "Am F C G Am F G E/3");
        double fill = S(12) - 3;
        c.Set(kMasterGain, S(11), 0.5f);
        c.Ramp(kMasterGain, S(11), S(12), 0.57f);
        c.Set(kDelayFeedback, S(11), 0.38f);
        c.Pads(chords, S(11), S(12), 0.8f);
        c.Ramp(kTrackPad, S(11), S(12), 0.34f);
        c.Arpeggio(chords, S(11), S(12), kArpRolling, 0.7f);
        c.Ramp(kArpCutoff, S(11), S(12), 3500.0f);
        c.Hits(kTrackHats, kClosedHat, S(11), S(11) + 16, "..6...6...6...6.");
        c.Hits(kTrackHats, kClosedHat, S(11) + 16, fill, kHats16);
        c.Set(kBassCutoff, S(11), 300.0f);
        c.Ramp(kBassCutoff, S(11), S(12), 900.0f);
        c.Bass(chords, S(11), S(11) + 16, kBassOffbeat);
        c.Bass(chords, S(11) + 16, S(12), kBassRoll);
        c.Roll(S(11) + 20, S(11) + 24, 0.5, 0.3f, 0.5f);
        c.Roll(S(11) + 24, fill, 0.25, 0.5f, 0.7f);
        c.Roll(fill, S(12), 0.125, 0.7f, 1.0f);
        c.Riser(S(11) + 16, S(12), 0.5f);
        c.Riser(S(12) - 6, S(12), 0.75f, 52.0f);
    }

    // ---- 12: the full beat again, driving, sixteenth hats, the riff.
    {
        auto chords = Progression(S(12), "Am F C G Am F C G G/1");
        double fill = S(13) - 1;
        c.Set(kMasterGain, S(12), 0.55f);
        c.Impact(S(12), 1.0f);
        c.Set(kPumpDepth, S(12), 0.5f);
        c.Kicks(S(12), S(13), 1.0f, kKickForward);
        c.Claps(S(12), fill);
        c.Hits(kTrackHats, kClosedHat, S(12), fill, kHatsDriving);
        c.Hits(kTrackHats, kOpenHat, S(12), fill, kOpenOffbeat);
        c.Set(kBassCutoff, S(12), 700.0f);
        c.Bass(chords, S(12), fill, kBassRollVaried);
        c.Set(kTrackPad, S(12), 0.31f);
        c.Set(kPadCutoff, S(12), 3000.0f);
        c.Pads(chords, S(12), S(13), 0.7f);
        c.Set(kStabCutoff, S(12), 1800.0f);
        c.Stabs(chords, S(12), fill, kStab332, 0.9f);
        c.Arpeggio(chords, S(12), fill, kArpRolling, 0.6f);
        c.Melody(kTrackLead, S(12), kMotif, 0.95f, 12);
        c.Roll(fill, S(13), 0.25, 0.5f, 0.9f);
    }

    // ---- 13: variation with a fill every eight beats.
    {
        auto chords = Progression(S(13), "F G Am Am F G E E");
        for (int group = 0; group < 4; ++group) {
            double g = S(13) + group * 8;
            c.Crash(g, group == 0 ? 1.0f : 0.7f);
            c.Kicks(g, g + 7, 1.0f, kKickForward);
            c.Claps(g, g + 7);
            c.Hits(kTrackHats, kClosedHat, g, g + 7, kHatsDriving);
            c.Hits(kTrackHats, kOpenHat, g, g + 7, kOpenOffbeat);
            c.Note(kTrackKick, g + 7, 1.0, 36.0f, 1.0f, kKickForward);
            const float toms[4] = {50.0f, 47.0f, 43.0f, 40.0f};
            for (int i = 0; i < 4; ++i) c.Note(kTrackSnare, g + 7 + i * 0.25, 0.25, toms[i], 0.4f + 0.06f * i, kTom);
        }
        c.Bass(chords, S(13), S(14), kBassRollVaried);
        c.Pads(chords, S(13), S(14), 0.7f);
        c.Stabs(chords, S(13), S(14), kStabOffbeat, 0.7f);
        c.Arpeggio(chords, S(13), S(14), kArpRolling, 0.6f);
        c.Melody(kTrackLead, S(13), kDropMelody, 1.0f);
        c.Melody(kTrackAnswer, S(13), kAnswers, 0.9f);
    }

    // ---- 14: the peak: everything, the theme on top in octaves.
    {
        auto chords = Progression(S(14), "Am F C G Am F C G");
        c.Set(kMasterGain, S(14), 0.55f);
        c.Impact(S(14), 1.0f);
        c.Kicks(S(14), S(15), 1.0f, kKickForward);
        c.Claps(S(14), S(15) - 1);
        c.Hits(kTrackHats, kClosedHat, S(14), S(15), kHatsDriving);
        c.Hits(kTrackHats, kOpenHat, S(14), S(15), kOpenOffbeat);
        c.Bass(chords, S(14), S(15), kBassRollVaried);
        c.Set(kTrackPad, S(14), 0.34f);
        c.Pads(chords, S(14), S(15), 0.75f);
        c.Stabs(chords, S(14), S(15), kStab332, 0.8f);
        c.Arpeggio(chords, S(14), S(15), kArpRolling, 0.6f);
        c.Set(kLeadCutoff, S(14), 2200.0f);
        c.Melody(kTrackLead, S(14), kTheme, 1.0f);
        c.Set(kAnswerCutoff, S(14), 2000.0f);
        c.Melody(kTrackAnswer, S(14), kTheme, 0.6f, 12);
        c.Roll(S(15) - 1, S(15), 0.25, 0.6f, 0.9f);
    }

    // ---- 15: transition: the drums drop out, the pads hold, the lead echoes.
    {
        auto chords = Progression(S(15), "Dm/8 Am/8 F/8 E/8");
        c.Set(kMasterGain, S(15), 0.51f);
        c.Set(kPumpDepth, S(15), 0.0f);
        c.Crash(S(15), 0.8f);
        c.Note(kTrackSweep, S(15), 8.0, 0.0f, 1.0f, kDownlifter);
        c.Set(kTrackPad, S(15), 0.45f);
        c.Set(kPadCutoff, S(15), 2200.0f);
        c.Pads(chords, S(15), S(16), 0.8f);
        c.Set(kBassCutoff, S(15), 250.0f);
        c.Bass(chords, S(15), S(16), "r-------------------------------", 0.7f);
        c.Set(kLeadCutoff, S(15), 1600.0f);
        c.Set(kDelayFeedback, S(15), 0.62f);
        c.Melody(kTrackLead, S(15), kEchoes, 0.9f);
        c.Set(kDelayFeedback, S(16) - 4, 0.4f);
        c.Riser(S(16) - 4, S(16), 0.8f, 57.0f);
        c.Note(kTrackCymbal, S(16) - 2, 2.0, 0.0f, 0.6f, kReverseCrash);
        c.Roll(S(16) - 2, S(16), 0.125, 0.4f, 0.9f);
    }

    // ---- 16: a big accent on the first beat of every bar.
    {
        auto chords = Progression(S(16), "Am G F E Am G F E");
        c.Set(kMasterGain, S(16), 0.55f);
        c.Set(kPumpDepth, S(16), 0.5f);
        for (int bar = 0; bar < 8; ++bar) c.Impact(S(16) + bar * 4, bar == 0 ? 1.0f : 0.6f);
        c.Kicks(S(16), S(17), 1.0f, kKickForward);
        c.Claps(S(16), S(17));
        c.Hits(kTrackHats, kClosedHat, S(16), S(17), kHatsDriving);
        c.Hits(kTrackHats, kOpenHat, S(16), S(17), kOpenOffbeat);
        c.Set(kBassCutoff, S(16), 650.0f);
        c.Bass(chords, S(16), S(17), kBassRoll);
        c.Set(kTrackPad, S(16), 0.34f);
        c.Pads(chords, S(16), S(17), 0.75f);
        c.Stabs(chords, S(16), S(17), "9...............", 1.0f, 1.5);
        c.Set(kLeadCutoff, S(16), 2200.0f);
        c.Melody(kTrackLead, S(16), kDescent, 1.0f);
    }

    // ---- 17: melodic, lighter drums, half-beat hats.
    {
        auto chords = Progression(S(17), "F C G Am F C G Am");
        c.Set(kMasterGain, S(17), 0.57f);
        c.Set(kPumpDepth, S(17), 0.4f);
        c.Crash(S(17), 0.8f);
        c.Kicks(S(17), S(18), 0.85f);
        c.Claps(S(17), S(18), 0.6f);
        c.Hits(kTrackHats, kClosedHat, S(17), S(18), "5.7.5.7.5.7.5.7.");
        c.Set(kBassCutoff, S(17), 550.0f);
        c.Bass(chords, S(17), S(18), kBassOffbeat);
        c.Pads(chords, S(17), S(18), 0.75f);
        c.Arpeggio(chords, S(17), S(18), kArpUpDown, 0.6f);
        c.Set(kLeadCutoff, S(17), 1800.0f);
        c.Melody(kTrackLead, S(17), kSong, 1.0f);
    }

    // ---- 18: outro: the parts leave one by one.
    {
        auto chords = Progression(S(18), "Am F C G Am G G/1");
        double b = S(18);
        c.Set(kMasterGain, b, 0.53f);
        c.Ramp(kMasterGain, b, S(19), 0.45f);
        c.Crash(b, 0.8f);
        c.Melody(kTrackLead, b, kMotif, 0.8f, 0, 0, 2);
        c.Arpeggio(chords, b, b + 8, kArpRolling, 0.55f);
        c.Hits(kTrackHats, kOpenHat, b, b + 8, kOpenOffbeat, 0.8f);
        c.Stabs(chords, b, b + 12, kStabOffbeat, 0.6f);
        c.Hits(kTrackHats, kClosedHat, b, b + 12, kHats16);
        c.Claps(b, b + 16);
        c.Bass(chords, b, b + 20, kBassRoll);
        c.Kicks(b, b + 24);
        c.Pads(chords, b, S(19), 0.75f);
    }

    // ---- 19: the last chords ring and fade.
    {
        auto chords = Progression(S(19), "F/4 Am/12");
        double b = S(19);
        c.Set(kPumpDepth, b, 0.0f);
        c.Set(kTrackPad, b, 0.40f);
        c.Set(kPadCutoff, b, 2400.0f);
        c.Ramp(kPadCutoff, b, kSilentBeat, 600.0f);
        c.Pads(chords, b, b + 16, 0.8f);
        c.Note(kTrackBass, b, 4.0 - 0.1, 29.0f, 0.6f);
        c.Note(kTrackBass, b + 4, 10.0, 33.0f, 0.6f);
        const int fChord[] = {65, 69, 72, 77};
        const int amChord[] = {69, 72, 76, 81, 83};
        for (int i = 0; i < 4; ++i) c.Note(kTrackBell, b + i * 0.25, 2.0, static_cast<float>(fChord[i]), 0.6f, 1);
        for (int i = 0; i < 5; ++i) c.Note(kTrackBell, b + 4 + i * 0.25, 4.0, static_cast<float>(amChord[i]), 0.6f, 1);
        c.Set(kDelayFeedback, b, 0.55f);
        c.Ramp(kMasterGain, b + 4, b + 8, 0.38f);
        c.Ramp(kMasterGain, b + 8, kSilentBeat - 2, 0.05f);
        c.Ramp(kMasterGain, kSilentBeat - 2, kSilentBeat, 0.0f);
    }
}

} // namespace

Score ComposeSoundTrack() {
    Composer composer;
    Compose(composer);
    return composer.Finish();
}

} // namespace music
