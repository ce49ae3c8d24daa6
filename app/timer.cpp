#include "app/timer.h"

#include "platform/win32/win32.h"

#include <atomic>

namespace {

int64_t g_Frequency = 0;
std::atomic<int64_t> g_LastCounter{0}; // scratch; the audio thread reads the clock too
uint32_t g_Base = 0;

// High word: seconds (as unsigned bits); low word: second start. Both start
// at 0, which is the value the clock keeps when there is no sound system.
std::atomic<uint64_t> g_MusicPosition{0};

uint64_t Pack(int32_t seconds, uint32_t secondStart) {
    return (uint64_t(uint32_t(seconds)) << 32) | secondStart;
}

} // namespace

cTimer::~cTimer() {}

void cTimer::Reset() {
    g_Base = 0;
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
    uint64_t position = g_MusicPosition.load(std::memory_order_acquire);
    int32_t seconds = int32_t(uint32_t(position >> 32));
    uint32_t secondStart = uint32_t(position);
    uint32_t r = RawReading(g_Frequency);
    if (seconds == -1) {
        if (g_Base == 0) g_Base = r;
        return r - g_Base;
    }
    return uint32_t(seconds) * 1000u + r - secondStart;
}

void cTimer::SetMusicPosition(int32_t seconds, uint32_t secondStart) {
    g_MusicPosition.store(Pack(seconds, secondStart), std::memory_order_release);
}

int32_t cTimer::GetSeconds() { return int32_t(uint32_t(g_MusicPosition.load() >> 32)); }

uint32_t cTimer::GetSecondStart() { return uint32_t(g_MusicPosition.load()); }
