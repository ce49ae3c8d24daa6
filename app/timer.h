// The program's one clock, in milliseconds (unsigned 32-bit, wrapping).
//
// First mode (seconds == -1): counts from its own first reading. Music mode:
// seconds of music played × 1000 + the time since the latest whole second
// was reached. The sound system's position sync publishes the seconds and
// second-start pair from the audio thread; the pair is one 64-bit atomic
// value, so a reading never combines a new second with an old start.
#pragma once

#include <cstdint>

class cTimer {
public:
    virtual ~cTimer();

    // Start-up: clears the base so the next first-mode reading is time zero,
    // and reads the counter frequency.
    static void Reset();

    static uint32_t GetTime();

    // A raw reading in ms: counter × 1000 / frequency with a high-resolution
    // counter (frequency not 0), else timeGetTime.
    static uint32_t RawReading(int64_t frequency);
    static int64_t ReadFrequency();

    // The music position pair. Seconds -1 puts the clock in its first mode.
    static void SetMusicPosition(int32_t seconds, uint32_t secondStart);
    static int32_t GetSeconds();
    static uint32_t GetSecondStart();
};
