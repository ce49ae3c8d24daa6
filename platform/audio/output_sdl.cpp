// The audio stand-in's device on Linux: SDL audio, with the engine on an
// audio thread of its own.
#include "platform/audio/output.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const int kDeviceSamples = 512;

SDL_AudioDeviceID g_Device = 0;

void DeviceCallback(void*, Uint8* stream, int bytes) {
    BassDeviceTake(reinterpret_cast<int16_t*>(stream), size_t(bytes) / 4, BassNowUs());
}

// What lies between the callback and the ear: the device buffer the callback
// fills is heard after the one playing now, and anything beyond SDL (a sound
// server, the hardware) is added by TRUBELOX_AUDIO_LATENCY_MS.
int64_t DeviceLatencyUs(const SDL_AudioSpec& have) {
    int64_t us = int64_t(have.samples) * 1000000 / std::max(have.freq, 1);
    if (const char* extra = std::getenv("TRUBELOX_AUDIO_LATENCY_MS")) {
        char* end = nullptr;
        double ms = std::strtod(extra, &end);
        if (end != extra && ms >= 0 && ms < 10000) us += int64_t(ms * 1000);
    }
    return us;
}

} // namespace

bool OutputOpen(sOutputDevice* device, std::string* why) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        *why = SDL_GetError();
        return false;
    }
    SDL_AudioSpec want{}, have{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = kDeviceSamples;
    want.callback = DeviceCallback;
    g_Device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (g_Device == 0) {
        *why = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    device->driver = driver ? driver : "";
    device->latencyUs = DeviceLatencyUs(have);
    return true;
}

void OutputPause(bool paused) {
    if (g_Device) SDL_PauseAudioDevice(g_Device, paused ? 1 : 0);
}

void OutputClose() {
    if (!g_Device) return;
    SDL_CloseAudioDevice(g_Device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_Device = 0;
}

bool OutputHasEngineThread() { return true; }
void OutputStartEngine() {}
void OutputStopEngine() {}
void OutputYield() {}

// A sync fired late starts the clock's second late (the clock holds its
// reading until the music catches up) and a late top-up of the FIFO leaves a
// gap: the audio thread asks for real-time scheduling where the system
// grants it, else for a higher priority, else runs as it is.
void OutputRaiseThreadPriority() {
    sched_param param{};
    param.sched_priority = std::max(sched_get_priority_min(SCHED_FIFO), 5);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return;
    if (setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), -10) != 0) {
        // Nothing more to try; timing stays best effort.
    }
}

// The audio thread fires each sync at its millisecond.
void OutputSyncMoment(int64_t) {}
