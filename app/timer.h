// The program's one clock, in milliseconds (unsigned 32-bit, wrapping).
//
// First mode (seconds == -1): counts from its own first reading. Music mode:
// seconds of music played × 1000 + the time since the latest whole second
// was reached. The sound system's position sync publishes the seconds and
// second-start pair from the audio thread; the pair is one 64-bit atomic
// value, so a reading never combines a new second with an old start.
//
// In music mode the time since the latest second is counted at the music's
// own pace: an output device whose clock runs a little fast or slow plays a
// second of music in a little less or more than 1000 ms, measured over the
// seconds since the music started (or since the last gap). Up to where the
// next second is due it is scaled to music milliseconds; past that (the track
// has ended, or the next sync is late) it counts real milliseconds. And in
// music mode the reading never steps back: a sync that comes late holds the
// reading where it was until the music catches up.
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
    // Anything but the next second after the current one starts afresh: the
    // pace is measured again and no earlier reading is held.
    static void SetMusicPosition(int32_t seconds, uint32_t secondStart);
    static int32_t GetSeconds();
    static uint32_t GetSecondStart();
};
