#include "app/timer.h"
#include "platform/win32/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const uint64_t kMs = 1000; // virtual clock unit is the microsecond

class Timer : public ::testing::Test {
protected:
    void SetUp() override { Win32SetVirtualClock(true, 5000 * kMs); }
    void TearDown() override {
        cTimer::SetMusicPosition(0, 0);
        Win32SetPerformanceCounterAvailable(true);
        Win32SetVirtualClock(false);
    }
};

} // namespace

TEST_F(Timer, FirstModeCountsFromItsFirstReading) {
    cTimer::SetMusicPosition(-1, 0);
    cTimer::Reset();
    Win32AdvanceVirtualClock(123 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 0u);
    Win32AdvanceVirtualClock(250 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 250u);
}

TEST_F(Timer, MusicModeIsSecondsPlusTimeSinceTheSecondStarted) {
    cTimer::Reset();
    uint32_t now = cTimer::RawReading(cTimer::ReadFrequency());
    cTimer::SetMusicPosition(7, now);
    Win32AdvanceVirtualClock(250 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 7250u);
    // Without further syncs (the track has ended) it keeps counting.
    Win32AdvanceVirtualClock(5000 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 12250u);
}

TEST_F(Timer, WithoutSoundSystemItReturnsTheRawReading) {
    cTimer::SetMusicPosition(0, 0);
    cTimer::Reset();
    EXPECT_EQ(cTimer::GetTime(), 5000u);
}

TEST_F(Timer, WithoutHighResolutionCounterItRunsOnTimeGetTime) {
    Win32SetPerformanceCounterAvailable(false);
    cTimer::SetMusicPosition(-1, 0);
    cTimer::Reset();
    EXPECT_EQ(cTimer::ReadFrequency(), 0);
    EXPECT_EQ(cTimer::GetTime(), 0u);
    Win32AdvanceVirtualClock(40 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 40u);
}

TEST_F(Timer, DifferenceSurvivesThe32BitWrap) {
    Win32SetVirtualClock(true, (uint64_t(1) << 32) * kMs - 400 * kMs);
    cTimer::SetMusicPosition(0, 0);
    cTimer::Reset();
    uint32_t start = cTimer::GetTime();
    EXPECT_GT(start, 0xFFFF0000u);
    Win32AdvanceVirtualClock(1000 * kMs);
    uint32_t now = cTimer::GetTime();
    EXPECT_LT(now, 1000u);
    EXPECT_EQ(int32_t(now - start), 1000);
}

TEST_F(Timer, NoReadingCombinesANewSecondWithAnOldStart) {
    // The writer keeps seconds × 1000 − second start constant, so every
    // consistent reading is the same; a torn pair would be off by 1000.
    cTimer::Reset();
    const uint32_t base = 100000;
    cTimer::SetMusicPosition(0, base);
    uint32_t expected = cTimer::GetTime();
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int32_t s = 1; !stop.load(); ++s) cTimer::SetMusicPosition(s, base + uint32_t(s) * 1000u);
    });
    int mismatches = 0;
    for (int i = 0; i < 2000000; ++i)
        if (cTimer::GetTime() != expected) ++mismatches;
    stop = true;
    writer.join();
    EXPECT_EQ(mismatches, 0);
}
