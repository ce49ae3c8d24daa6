// The music clock against what is heard: the sound system plays the show's
// whole sound track to a stand-in output device on the virtual clock. The
// device takes frames at its own rate, at times and in sizes that vary as a
// real device's do, and knows when each frame it took is heard; a DSP stamps
// every frame of the stream with its number, so the device also knows which
// frame of the music it is playing.
#include "app/mainwindow.h"
#include "app/timer.h"
#include "platform/audio/bass.h"
#include "sound/soundsystem.h"
#include "tools/frame_stamps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

struct sDeviceCase {
    const char* name;
    double rate;    // its frames per second of the monotonic clock
    int buffer;     // frames it holds ahead of what it takes: its latency
    bool jittery;   // callbacks late by up to 3 ms (now and then 8 ms), of 128 to 1024 frames
    int idleMs;     // it plays silence this long before the music starts
};

// A device that plays at its own rate from `startUs` on, first `buffer`
// frames of its own silence, then everything it takes, without a break. It
// takes frames whenever only `buffer` frames are left to play, so what it
// takes is heard buffer / rate later (later still if it is late).
struct StandInDevice {
    StandInDevice(const sDeviceCase& c, uint64_t startUs) : device(c), startUs(startUs), nextTakeUs(startUs) {}

    void Take() {
        int frames = device.jittery ? std::uniform_int_distribution<int>(128, 1024)(random) : device.buffer;
        buffer.resize(size_t(frames) * 2);
        BassTestDeviceTake(buffer.data(), DWORD(frames * 4));
        for (int i = 0; i < frames; ++i, ++taken) {
            int16_t left = buffer[size_t(i) * 2], right = buffer[size_t(i) * 2 + 1];
            if (left == 0) {
                if (next > 0) ++silence; // counted until the music's end below
                continue;
            }
            int64_t n = int64_t(right) * kStampSpan + left - 1;
            if (next == 0 && n == 0) offset = taken; // device position of music frame 0
            if (n != next || taken - offset != n) ++outOfOrder;
            next = n + 1;
            silenceInside = silence;
        }
        double late = 0;
        if (device.jittery) {
            late = std::uniform_real_distribution<double>(0, 3000)(random);
            if (std::uniform_int_distribution<int>(0, 99)(random) == 0) late = 8000;
        }
        nextTakeUs = uint64_t(std::ceil(double(startUs) + double(taken) * 1e6 / device.rate + late));
    }

    // The music frame being heard at `us`: fractional, negative before the
    // music. Only valid once the music's first frame has been taken.
    double MusicFrameHeardAt(uint64_t us) const {
        double heard = (double(us) - double(startUs)) * device.rate / 1e6; // device frames incl. its own
        return heard - device.buffer - double(offset);
    }

    sDeviceCase device;
    uint64_t startUs, nextTakeUs;
    std::mt19937 random{18};
    std::vector<int16_t> buffer;
    int64_t taken = 0, offset = 0, outOfOrder = 0;
    int64_t next = 0; // the music frame expected next: all before it came in order
    int64_t silence = 0, silenceInside = 0; // silent frames after the music began; up to its last frame
};

class AudioSync : public ::testing::Test {
protected:
    void SetUp() override {
        Win32ResetForTests();
        m_Window = new cMainWindow;
        m_Window->Create(Win32GetInstance(), SW_HIDE);
    }

    void TearDown() override {
        delete m_Sound;
        delete m_Window;
        BassSetTestDevice(false);
        cTimer::SetMusicPosition(0, 0);
        Win32SetVirtualClock(false);
        Win32ResetForTests();
    }

    cMainWindow* m_Window = nullptr;
    cSoundSystem* m_Sound = nullptr;
};

uint64_t NowUs() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return uint64_t(c.QuadPart / 10);
}

} // namespace

TEST_F(AudioSync, ClockFollowsWhatTheDeviceLetsBeHeardOverTheWholeTrack) {
    const sDeviceCase cases[] = {
        {"exact", 44100.0, 512, false, 0},
        {"0.2% slow, jittery", 44100.0 * 0.998, 512, true, 700},
        {"0.2% fast, jittery", 44100.0 * 1.002, 512, true, 1500},
        {"exact, jittery, long buffer", 44100.0, 2048, true, 300},
    };
    for (const sDeviceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t t0 = 1000000000; // the virtual clock starts at 1000 s
        Win32SetVirtualClock(true, t0);
        BassSetTestDevice(true, uint32_t(c.buffer * 1000000LL / 44100));
        cTimer::Reset();
        m_Sound = new cSoundSystem;
        ASSERT_EQ(BassGetOutputKind(), BASS_OUTPUT_DEVICE);
        m_Sound->MP3Load("demo"); // the show's own track, in build/data
        g_NextStamp = 0;
        ASSERT_NE(BASS_ChannelSetDSP(m_Sound->m_hStream, StampFrames, 0), 0u);

        StandInDevice device(c, t0 + 2000);
        uint64_t nextStep = t0, nextRead = t0 + 500, playAt = t0 + uint64_t(c.idleMs) * 1000;
        bool playing = false;
        uint32_t previous = 0;
        int backwards = 0, readings = 0; // going back is reported once
        double worstAhead = 0, worstBehind = 0;
        int64_t endFrames = 0; // the track's length, known once it has ended
        for (;;) {
            uint64_t next = std::min({device.nextTakeUs, nextStep, nextRead, playing ? UINT64_MAX : playAt});
            uint64_t now = NowUs();
            if (next > now) Win32AdvanceVirtualClock(next - now);
            now = next;
            if (!playing && now >= playAt) {
                m_Sound->Play();
                m_Sound->Update();
                playing = true;
            }
            if (now >= device.nextTakeUs) {
                device.Take();
                nextStep = now; // the callback wakes the audio thread
            }
            if (now >= nextStep) nextStep = BassTestDeviceStep();
            if (now >= nextRead) {
                nextRead += 997;
                uint32_t clock = cTimer::GetTime();
                if (cTimer::GetSeconds() >= 0 && device.next > 0) {
                    double heard = device.MusicFrameHeardAt(now);
                    if (int32_t(clock - previous) < 0 && backwards++ == 0)
                        ADD_FAILURE() << "the clock went back from " << previous << " to " << clock << " ms";
                    previous = clock;
                    if (heard >= 0) {
                        double error = double(clock) - heard * 1000.0 / 44100.0;
                        worstAhead = std::max(worstAhead, error);
                        worstBehind = std::min(worstBehind, error);
                        ++readings;
                    }
                }
            }
            // Mixing runs less than a second ahead of what is heard: a second
            // heard past the last frame stamped, the track has ended.
            if (device.next > 0 && device.MusicFrameHeardAt(now) > double(g_NextStamp) + 44100) {
                endFrames = g_NextStamp;
                break;
            }
        }
        EXPECT_GT(endFrames, int64_t(240) * 44100); // the whole show's track was played
        EXPECT_EQ(device.next, endFrames);
        EXPECT_EQ(device.outOfOrder, 0);
        EXPECT_EQ(device.silenceInside, 0) << "frames of silence while the track had data";
        EXPECT_GT(readings, 240000);
        EXPECT_LE(worstAhead, 5.0);
        EXPECT_GE(worstBehind, -5.0);
        std::printf("%-30s clock minus heard: %+.2f .. %+.2f ms over %d readings\n", c.name, worstBehind, worstAhead,
                    readings);
        delete m_Sound;
        m_Sound = nullptr;
    }
}
