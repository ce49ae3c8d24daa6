// The instruments of the sound track. Each one turns note events into stereo
// samples; the mixer starts its notes at their exact sample and sets its
// controls (filter cutoffs and the like) once per block.
#pragma once

#include "music_dsp.h"

#include <cstdint>
#include <memory>

namespace music {

struct NoteEvent {
    int64_t sample = 0;   // first sample of the note
    int32_t length = 0;   // samples the key is held
    float note = 60.0f;   // MIDI note number
    float velocity = 1.0f;
    int variant = 0;      // instrument-specific flavour
};

class Instrument {
public:
    virtual ~Instrument() = default;
    virtual void Start(const NoteEvent& event) = 0;
    // Adds count samples of every sounding voice to left and right.
    virtual void Render(float* left, float* right, int count) = 0;
    // Set by the mixer once per block from the automation; meaning per
    // instrument (cutoff in Hz, envelope depth, ...).
    float control[2] = {1000.0f, 1.0f};
};

// Variants of the drum voices.
enum { kClap = 0, kSnare = 1, kTom = 2 };
enum { kClosedHat = 0, kOpenHat = 1 };
enum { kCrash = 0, kReverseCrash = 1 };
enum { kKickNormal = 0, kKickForward = 1 };
// Variants of the noise sweeps.
enum { kRiser = 0, kWind = 1, kDownlifter = 2 };

std::unique_ptr<Instrument> MakeKick();
std::unique_ptr<Instrument> MakeSnare();
std::unique_ptr<Instrument> MakeHats();
std::unique_ptr<Instrument> MakeCymbal();
std::unique_ptr<Instrument> MakeBoom();
std::unique_ptr<Instrument> MakeBass();
std::unique_ptr<Instrument> MakePad();
std::unique_ptr<Instrument> MakeStab();
std::unique_ptr<Instrument> MakeLead();
std::unique_ptr<Instrument> MakeAnswerLead();
std::unique_ptr<Instrument> MakeArp();
std::unique_ptr<Instrument> MakeBell();
std::unique_ptr<Instrument> MakeSweep();

} // namespace music
