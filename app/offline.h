// The show's own entry function run on a virtual clock, as fast as the
// machine allows: every frame shows the playing time of its place in a fixed
// frame rate, and the sound track is pulled in step with the frames (the
// audio library's offline mode), so its syncs, the music clock and the
// flanger work exactly as live. The capture and timedemo programs, the
// contact sheet and the end-to-end tests run the show this way.
#pragma once

#include <cstdint>

// Called once a frame of the main loop has been drawn (a hook that reads no
// pixels: handed over to be drawn), before the clock moves on to the next
// frame; g_CurrentTime is the frame's playing time.
// Returning false ends the show after this frame, as a closed window would.
typedef bool (*ShowFrameHook)(const uint16_t* pixels, int width, int height, int pitch, void* user);

// Called after each frame with the sound handed over up to the next frame's
// moment (44100 Hz, 16-bit stereo, interleaved): the sound heard while the
// frame is shown.
typedef void (*ShowSoundHook)(const int16_t* samples, uint32_t frames, void* user);

struct sOfflineRun {
    double fps = 60.0; // frame k of the loop shows the playing time k / fps
    ShowFrameHook hook = nullptr;
    ShowSoundHook sound = nullptr;
    void* user = nullptr;
    // A hook that reads no pixels (it is given null) lets the next frame be
    // queued while this one is still being drawn.
    bool pixels = true;
};

// Runs WinMain on the virtual clock; returns its result. The clock, the
// audio mode and the frame observer are restored afterwards.
int RunShowOffline(const sOfflineRun& run);

// The moment frame k shows, in microseconds of playing time.
uint64_t FrameMicroseconds(int64_t frame, double fps);
