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

// Puts the clock in music mode at second 0, now; returns the second's start.
uint32_t StartMusic() {
    cTimer::SetMusicPosition(-1, 0);
    uint32_t now = cTimer::RawReading(cTimer::ReadFrequency());
    cTimer::SetMusicPosition(0, now);
    return now;
}

} // namespace

TEST_F(Timer, FirstModeCountsFromItsFirstReadingAcrossThe32BitWrap) {
    // 400 ms before the millisecond count wraps. Without a sound system the
    // position stays (0, 0): the raw reading.
    Win32SetVirtualClock(true, ((uint64_t(1) << 32) - 400) * kMs);
    cTimer::SetMusicPosition(0, 0);
    cTimer::Reset();
    EXPECT_EQ(cTimer::GetTime(), 0xFFFFFE70u);
    for (bool counter : {true, false}) {
        SCOPED_TRACE(counter ? "high-resolution counter" : "timeGetTime");
        Win32SetPerformanceCounterAvailable(counter);
        cTimer::SetMusicPosition(-1, 0);
        cTimer::Reset();
        EXPECT_EQ(cTimer::ReadFrequency() != 0, counter);
        Win32AdvanceVirtualClock(123 * kMs);
        EXPECT_EQ(cTimer::GetTime(), 0u);
        Win32AdvanceVirtualClock(1000 * kMs); // past the wrap, the first time round
        EXPECT_EQ(cTimer::GetTime(), 1000u);
    }
}

TEST_F(Timer, NoReadingCombinesANewSecondWithAnOldStart) {
    // The writer keeps seconds × 1000 − second start constant, so every
    // consistent reading is the same; a torn pair would be off by 1000.
    cTimer::Reset();
    const uint32_t base = 100000;
    cTimer::SetMusicPosition(0, base);
    uint32_t expected = cTimer::GetTime();
    std::atomic<bool> stop{false};
    // The writer starts the music again every 100000 seconds: far beyond
    // that the starts wrap around 2^32 ms and the pace is no longer 1000 ms.
    std::thread writer([&] {
        for (int32_t s = 1; !stop.load(); s = s % 100000 + 1) {
            if (s == 1) cTimer::SetMusicPosition(0, base);
            cTimer::SetMusicPosition(s, base + uint32_t(s) * 1000u);
        }
    });
    int mismatches = 0;
    for (int i = 0; i < 2000000; ++i)
        if (cTimer::GetTime() != expected) ++mismatches;
    stop = true;
    writer.join();
    EXPECT_EQ(mismatches, 0);
}

TEST_F(Timer, LateSyncIsHeldUntilTheMusicCatchesUpAndAFreshStartIsNotHeld) {
    cTimer::Reset();
    StartMusic();
    Win32AdvanceVirtualClock(1004 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 1004u);
    // The sync of second 1 came 4 ms late: the reading stays until it is due.
    cTimer::SetMusicPosition(1, cTimer::RawReading(cTimer::ReadFrequency()));
    EXPECT_EQ(cTimer::GetTime(), 1004u);
    Win32AdvanceVirtualClock(3 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 1004u);
    Win32AdvanceVirtualClock(2 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 1005u);

    // The music starts again (a new track, or the same from its start): no
    // reading of the earlier run holds it.
    cTimer::SetMusicPosition(-1, 0);
    EXPECT_LT(cTimer::GetTime(), 100u); // first mode
    StartMusic();
    Win32AdvanceVirtualClock(10 * kMs);
    EXPECT_EQ(cTimer::GetTime(), 10u);
}

TEST_F(Timer, MillisecondsBetweenSyncsFollowTheMusicsPace) {
    // Seconds of music that take 998 ms (a device 0.2% fast) are counted in
    // music milliseconds; exact ones in real ones; after the last sync the
    // clock goes on in real milliseconds from where the next second was due.
    // Seconds far off 1000 ms are gaps (a pause, a stall), not a pace: they
    // count plainly.
    struct sCase {
        int32_t secondLength;
        uint32_t atHalf;        // reading half way through second 3
        uint32_t pastTheSecond; // 100 ms after second 4 was due, with no sync
    };
    const sCase cases[] = {{1000, 3500, 4100}, {998, 3500, 4100}, {1004, 3500, 4100},
                           {955, 3499, 4100},  {850, 3425, 3950}, {1500, 3750, 4600}};
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.secondLength);
        Win32SetVirtualClock(true, 5000 * kMs);
        cTimer::Reset();
        uint32_t start = StartMusic();
        for (int32_t s = 1; s <= 3; ++s) cTimer::SetMusicPosition(s, start + uint32_t(s * c.secondLength));
        Win32AdvanceVirtualClock(uint64_t(3 * c.secondLength + c.secondLength / 2) * kMs);
        EXPECT_EQ(cTimer::GetTime(), c.atHalf);
        Win32AdvanceVirtualClock(uint64_t(c.secondLength - c.secondLength / 2 + 100) * kMs);
        EXPECT_EQ(cTimer::GetTime(), c.pastTheSecond);
    }
}
