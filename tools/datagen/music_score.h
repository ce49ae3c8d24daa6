// The composition: every note of every instrument and every automated level
// and cutoff, on the beat grid of the show (one beat is 428 ms, the first at
// 0 ms; section changes follow the show's timeline).
#pragma once

#include "music_voices.h"

#include <cstdint>
#include <vector>

namespace music {

enum Track {
    kTrackKick,
    kTrackSnare,
    kTrackHats,
    kTrackCymbal,
    kTrackBoom,
    kTrackBass,
    kTrackPad,
    kTrackStab,
    kTrackLead,
    kTrackAnswer,
    kTrackArp,
    kTrackBell,
    kTrackSweep,
    kTrackCount
};

// Automated values: the first kTrackCount are the tracks' levels.
enum Param {
    kPadCutoff = kTrackCount,
    kStabCutoff,
    kBassCutoff,
    kBassEnvelope,
    kLeadCutoff,
    kAnswerCutoff,
    kArpCutoff,
    kPumpDepth,    // how deep the beat ducks pads, chords and arpeggio
    kDelayFeedback,
    kMasterGain,
    kParamCount
};

constexpr int kTicksPerBeat = 96;

// Sample of a grid position: round(tick / 96 * 428 ms * 44.1), in integers so
// that no drift accumulates.
inline int64_t TickToSample(int64_t tick) { return (tick * 1966125 + 5000) / 10000; }
inline int64_t BeatToSample(int64_t beat) { return TickToSample(beat * kTicksPerBeat); }

struct AutomationPoint {
    int64_t tick;
    float value;
};

struct Score {
    std::vector<NoteEvent> events[kTrackCount];         // sorted by sample
    std::vector<AutomationPoint> automation[kParamCount]; // sorted by tick
    int64_t lengthSamples = 0;
};

// Beats at which the sections start, in order; the show's timeline changes
// scene at the nearest of these beats.
extern const int kSectionBeats[20];

Score ComposeSoundTrack();

} // namespace music
