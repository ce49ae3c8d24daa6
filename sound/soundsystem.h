// The music player: plays the sound track from memory through the audio
// library, drives the clock's music mode with a position sync at every whole
// second of played audio, and offers a flanger that the timeline switches.
#pragma once

#include "platform/audio/bass.h"

#include <cstdint>

class cSoundSystem {
public:
    // Needs the main window; checks the library version and opens the output.
    cSoundSystem();
    virtual ~cSoundSystem();

    // Reads "data\<name>.mp3" whole into memory and makes a stream of it.
    void MP3Load(const char* name);
    // Arms the first second-sync at position 0 and starts the stream.
    void Play();
    void Stop();
    // Feeds the library; the shell calls it once, the graphics device's Flip
    // every frame.
    void Update();
    // Installs or removes the flanger; repeating the same value costs nothing.
    void SetFlanger(bool on);

    // Audio-thread callbacks.
    static void CALLBACK SecondSync(HSYNC handle, DWORD channel, DWORD data, DWORD user);
    static void CALLBACK FlangerDSP(HDSP handle, DWORD channel, void* buffer, DWORD length, DWORD user);

    HSTREAM m_hStream;
    uint8_t* m_pData; // the whole MP3; the stream plays from it
    uint32_t m_DataSize;
    bool m_bFlanger;
};

// One stereo frame of the flanger's delay ring.
struct sStereoSample {
    int16_t left;
    int16_t right;
};

const int32_t FLANGER_FRAMES = 1000;

// State shared with the callbacks (there is one sound system). Once the
// flanger is installed only FlangerDSP touches its ring, index, delay and
// step.
extern HSTREAM g_SyncStream;     // the stream the second-sync re-arms on
extern int64_t g_SoundFrequency; // counter frequency for the sync's reading
extern HDSP g_FlangerHandle;
extern sStereoSample g_FlangerRing[FLANGER_FRAMES]; // the last input frames
extern int32_t g_FlangerIndex;                      // slot of the current frame
extern float g_FlangerDelay;                        // read offset, swept 0..1000
extern float g_FlangerStep;                         // +0.002 or -0.002 per frame
