// Platform-internal: the sound device behind the audio stand-in, and what
// drives its engine. On Linux the device is SDL's and the engine runs on an
// audio thread of its own (output_sdl.cpp); on a web page the device is
// WebAudio and the engine is stepped on the page's one thread by the output
// itself (web/). The engine and its rules (bass.cpp) are the same for both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct sOutputDevice {
    std::string driver; // the driver's name, for the debugger output
    // From the moment a callback reports to when its first frame is heard.
    int64_t latencyUs = 0;
};

// Opens the default device at 44100 Hz, 16-bit stereo, paused. Its callback
// hands every buffer to BassDeviceTake. False, with the reason, when none
// opens.
bool OutputOpen(sOutputDevice* device, std::string* why);
void OutputPause(bool paused);
void OutputClose();

// Whether the engine runs on an audio thread of its own. Where it does not,
// the output steps it (BassEngineStep) from the moment OutputStartEngine is
// called until OutputStopEngine, and OutputYield lets the page run a moment.
bool OutputHasEngineThread();
void OutputStartEngine();
void OutputStopEngine();
void OutputYield();

// Called on the audio thread when it starts.
void OutputRaiseThreadPriority();

// A sync whose moment is dueUs is about to fire (dueUs -1: it has fired).
// Where syncs can only fire between frames, the clock reads that moment
// while it fires.
void OutputSyncMoment(int64_t dueUs);

// The engine's side, for the outputs.
// A device callback takes `frames` frames into dst; `us` is its moment on
// the monotonic clock (the frames are heard latencyUs after it).
void BassDeviceTake(int16_t* dst, size_t frames, int64_t us);
// One pass of the engine now; returns the moment (µs on the monotonic clock)
// it wants the next.
int64_t BassEngineStep();
// The monotonic clock the engine times everything by, in µs.
int64_t BassNowUs();
