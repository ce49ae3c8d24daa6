// Measures, live, how closely the music clock follows what the output device
// plays: the sound system plays a track as the show does, a DSP stamps every
// frame with its number, the device's callbacks are watched (what they took
// and when), and the clock is read every half millisecond. A frame counts as
// heard one output latency after the callback that took it (SDL's buffer,
// plus TRUBELOX_AUDIO_LATENCY_MS); that is the reference.
//
//   audio_sync [seconds] [track] [table.csv]   (30 s of data/demo.mp3 by default)
//
// The table has one row per reading: seconds since Play, the clock, the
// music heard (ms), and their difference.
#include "app/mainwindow.h"
#include "app/timer.h"
#include "platform/audio/bass.h"
#include "sound/soundsystem.h"
#include "tools/frame_stamps.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

struct sTake {
    uint64_t us;
    int64_t firstStamp; // -1: began with silence
    uint32_t frames;
};

struct sWatch {
    std::vector<sTake> takes;
    std::atomic<size_t> count{0};
    int64_t next = 0;          // the stamp expected next
    int64_t silenceInside = 0; // silent frames after the music began
    int64_t silenceAtLast = 0; // ... up to its last frame so far
    int64_t outOfOrder = 0;
};
sWatch g_Watch;

void Observe(const int16_t* f, DWORD count, uint64_t us, void*) {
    int64_t first = -1;
    for (DWORD i = 0; i < count; ++i) {
        if (f[i * 2] == 0) {
            if (g_Watch.next > 0) ++g_Watch.silenceInside;
            continue;
        }
        int64_t n = int64_t(f[i * 2 + 1]) * kStampSpan + f[i * 2] - 1;
        if (i == 0) first = n;
        if (n != g_Watch.next) ++g_Watch.outOfOrder;
        g_Watch.next = n + 1;
        g_Watch.silenceAtLast = g_Watch.silenceInside;
    }
    size_t at = g_Watch.count.load(std::memory_order_relaxed);
    if (at < g_Watch.takes.size()) {
        g_Watch.takes[at] = sTake{us, first, count};
        g_Watch.count.store(at + 1, std::memory_order_release);
    }
}

uint64_t NowUs() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return uint64_t(c.QuadPart / 10);
}

struct sReading {
    uint64_t us;
    uint32_t clock;
};

} // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    const char* track = argc > 2 ? argv[2] : "demo";
    FILE* table = argc > 3 ? std::fopen(argv[3], "w") : nullptr;
    if (seconds <= 1) seconds = 30;
    g_Watch.takes.resize(size_t(seconds * 1000) + 10000);
    std::vector<sReading> readings;
    readings.reserve(size_t(seconds * 2500) + 1000);

    cMainWindow window;
    window.Create(Win32GetInstance(), SW_HIDE);
    cTimer::Reset();
    cSoundSystem* sound = nullptr;
    try {
        sound = new cSoundSystem;
        sound->MP3Load(track);
    } catch (...) {
        std::fprintf(stderr, "audio_sync: cannot play data/%s.mp3 (run from the build folder)\n", track);
        return 1;
    }
    if (BassGetOutputKind() != BASS_OUTPUT_DEVICE) {
        std::fprintf(stderr, "audio_sync: no audio device opened\n");
        return 1;
    }
    const double latencyUs = BassGetOutputLatencyUs();
    BASS_ChannelSetDSP(sound->m_hStream, StampFrames, 0);
    BassSetDeviceObserver(Observe, nullptr);
    // Let the device run a while, as it does while the show loads.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    uint64_t playUs = NowUs();
    sound->Play();
    sound->Update();
    uint64_t updatedUs = NowUs();
    uint64_t endUs = playUs + uint64_t(seconds * 1e6);
    while (NowUs() < endUs) {
        uint32_t clock = cTimer::GetTime();
        if (cTimer::GetSeconds() >= 0) readings.push_back(sReading{NowUs(), clock});
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    BassSetDeviceObserver(nullptr, nullptr);
    size_t takeCount = g_Watch.count.load();
    std::vector<sTake> takes(g_Watch.takes.begin(), g_Watch.takes.begin() + long(takeCount));
    int64_t silence = g_Watch.silenceAtLast, outOfOrder = g_Watch.outOfOrder;
    delete sound;

    // The device's own rate and the spread of its callbacks.
    std::vector<double> gaps;
    for (size_t i = 1; i < takes.size(); ++i) gaps.push_back(double(takes[i].us - takes[i - 1].us) / 1000.0);
    int64_t framesTaken = 0;
    for (size_t i = 0; i + 1 < takes.size(); ++i) framesTaken += takes[i].frames;
    double rate = takes.size() > 1 ? double(framesTaken) / (double(takes.back().us - takes.front().us) / 1e6) : 0;
    std::sort(gaps.begin(), gaps.end());

    // The clock against the frame heard at each reading.
    // The first second is timed by the system clock alone: the music's own
    // pace is known from the second sync on. It is shown apart.
    std::vector<double> errors, firstSecond;
    int backwards = 0;
    double firstSyncLate = NAN;
    size_t k = 0;
    for (size_t i = 0; i < readings.size(); ++i) {
        const sReading& r = readings[i];
        if (i > 0 && int32_t(r.clock - readings[i - 1].clock) < 0) ++backwards;
        while (k + 1 < takes.size() && double(takes[k + 1].us) + latencyUs <= double(r.us)) ++k;
        const sTake& t = takes[k];
        double into = (double(r.us) - double(t.us) - latencyUs) * rate / 1e6;
        if (t.firstStamp < 0 || into < 0 || into > t.frames) continue;
        double heardMs = (double(t.firstStamp) + into) * 1000.0 / 44100.0;
        double error = double(r.clock) - heardMs;
        (heardMs < 1000 ? firstSecond : errors).push_back(error);
        if (table) std::fprintf(table, "%.4f,%u,%.2f,%.2f\n", double(r.us - playUs) / 1e6, r.clock, heardMs, error);
    }
    for (const sTake& t : takes)
        if (t.firstStamp == 0) {
            firstSyncLate = readings.empty() ? NAN : (double(readings[0].us) - (double(t.us) + latencyUs)) / 1000.0;
            break;
        }
    if (table) std::fclose(table);
    std::sort(errors.begin(), errors.end());
    std::sort(firstSecond.begin(), firstSecond.end());
    auto pick = [](const std::vector<double>& v, double q) { return v.empty() ? NAN : v[size_t(q * double(v.size() - 1))]; };

    std::printf("driver %s, latency counted %.1f ms, device rate %.0f frames/s (%+.2f%%)\n", BassGetOutputDriver(),
                latencyUs / 1000.0, rate, (rate / 44100.0 - 1) * 100);
    std::printf("callbacks %zu, interval median %.2f ms, 99%% %.2f ms, max %.2f ms\n", takes.size(), pick(gaps, 0.5),
                pick(gaps, 0.99), gaps.empty() ? NAN : gaps.back());
    std::printf("Play to Update returning %.1f ms; first clock reading %.2f ms after frame 0 was heard\n",
                double(updatedUs - playUs) / 1000.0, firstSyncLate);
    std::printf("clock minus heard, first second: min %+.2f, median %+.2f, max %+.2f ms\n", pick(firstSecond, 0),
                pick(firstSecond, 0.5), pick(firstSecond, 1));
    std::printf("clock minus heard, after it, %zu readings: min %+.2f, 1%% %+.2f, median %+.2f, 99%% %+.2f, max %+.2f ms\n",
                errors.size(), pick(errors, 0), pick(errors, 0.01), pick(errors, 0.5), pick(errors, 0.99),
                pick(errors, 1));
    std::printf("clock steps back %d; silent frames inserted in the music %lld; frames out of order %lld\n", backwards,
                (long long)silence, (long long)outOfOrder);
    return 0;
}
