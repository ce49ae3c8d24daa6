#include "app/timer.h"

#include "platform/win32/win32.h"

#include <atomic>

namespace {

// A second of music that took longer or shorter than this (ms) is a gap or a
// pause, not the device's pace: the pace is measured again from there.
const int32_t kShortestSecond = 900;
const int32_t kLongestSecond = 1100;

int64_t g_Frequency = 0;
std::atomic<int64_t> g_LastCounter{0}; // scratch; the audio thread reads the clock too
uint32_t g_Base = 0;

// High word: seconds (as unsigned bits); low word: second start. Both start
// at 0, which is the value the clock keeps when there is no sound system.
std::atomic<uint64_t> g_MusicPosition{0};
// The pair where the pace is measured from: the first second of the music,
// or the second after the last gap. Written before the position.
std::atomic<uint64_t> g_PaceAnchor{0};
// Bumped whenever the music position starts afresh; a held reading belongs
// to one run of the music.
std::atomic<uint32_t> g_MusicRun{0};

// The latest music-mode reading, on the thread that reads the clock.
std::atomic<uint32_t> g_Held{0};
std::atomic<uint32_t> g_HeldRun{0};
std::atomic<bool> g_Holding{false};

uint64_t Pack(int32_t seconds, uint32_t secondStart) {
    return (uint64_t(uint32_t(seconds)) << 32) | secondStart;
}

int32_t SecondsOf(uint64_t pair) { return int32_t(uint32_t(pair >> 32)); }
uint32_t StartOf(uint64_t pair) { return uint32_t(pair); }

// Milliseconds of music in `elapsed` real ms since the latest second started.
int64_t MusicMilliseconds(int64_t elapsed, int32_t seconds, uint32_t start, uint64_t anchor) {
    int64_t secondsMeasured = int64_t(seconds) - SecondsOf(anchor);
    int64_t span = int32_t(start - StartOf(anchor)); // real ms those seconds took
    if (secondsMeasured <= 0 || span <= 0 || span == secondsMeasured * 1000) return elapsed;
    // The span over the seconds is the real length of one second of music.
    if (elapsed * secondsMeasured >= span) return 1000 + elapsed - span / secondsMeasured;
    if (elapsed <= 0) return elapsed;
    return (elapsed * secondsMeasured * 2000 + span) / (2 * span); // to the nearest ms
}

} // namespace

cTimer::~cTimer() {}

void cTimer::Reset() {
    g_Base = 0;
    g_Holding.store(false, std::memory_order_relaxed);
    g_Frequency = ReadFrequency();
}

int64_t cTimer::ReadFrequency() {
    LARGE_INTEGER f;
    if (!QueryPerformanceFrequency(&f)) return 0;
    return f.QuadPart;
}

uint32_t cTimer::RawReading(int64_t frequency) {
    if (frequency == 0) return timeGetTime();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    g_LastCounter.store(c.QuadPart, std::memory_order_relaxed);
    return uint32_t(uint64_t(c.QuadPart) * 1000u / uint64_t(frequency));
}

uint32_t cTimer::GetTime() {
    uint32_t run = g_MusicRun.load(std::memory_order_acquire);
    uint64_t position = g_MusicPosition.load(std::memory_order_acquire);
    uint64_t anchor = g_PaceAnchor.load(std::memory_order_acquire);
    int32_t seconds = SecondsOf(position);
    uint32_t secondStart = StartOf(position);
    uint32_t r = RawReading(g_Frequency);
    if (seconds == -1) {
        if (g_Base == 0) g_Base = r;
        return r - g_Base;
    }
    // An anchor newer than the position was read in the middle of a fresh
    // start: count plain milliseconds for this one reading.
    if (SecondsOf(anchor) > seconds) anchor = position;
    int64_t elapsed = int32_t(r - secondStart);
    uint32_t reading = uint32_t(seconds) * 1000u + uint32_t(MusicMilliseconds(elapsed, seconds, secondStart, anchor));
    if (g_Holding.load(std::memory_order_relaxed) && g_HeldRun.load(std::memory_order_relaxed) == run) {
        uint32_t held = g_Held.load(std::memory_order_relaxed);
        if (int32_t(reading - held) < 0) return held;
    }
    g_Held.store(reading, std::memory_order_relaxed);
    g_HeldRun.store(run, std::memory_order_relaxed);
    g_Holding.store(true, std::memory_order_relaxed);
    return reading;
}

void cTimer::SetMusicPosition(int32_t seconds, uint32_t secondStart) {
    uint64_t previous = g_MusicPosition.load(std::memory_order_relaxed);
    uint64_t next = Pack(seconds, secondStart);
    bool nextSecond = seconds >= 1 && SecondsOf(previous) == seconds - 1;
    int32_t length = int32_t(secondStart - StartOf(previous));
    if (!nextSecond) {
        g_MusicRun.fetch_add(1, std::memory_order_acq_rel);
        g_PaceAnchor.store(next, std::memory_order_release);
    } else if (length < kShortestSecond || length > kLongestSecond) {
        g_PaceAnchor.store(next, std::memory_order_release);
    }
    g_MusicPosition.store(next, std::memory_order_release);
}

int32_t cTimer::GetSeconds() { return SecondsOf(g_MusicPosition.load()); }

uint32_t cTimer::GetSecondStart() { return StartOf(g_MusicPosition.load()); }
