// The audio stand-in's device on a web page: WebAudio. The page has one
// thread, so there is no audio thread: the engine is stepped by the device's
// callback (a script processor, which runs between frames and says when its
// buffer will be heard) and by a timer set for the engine's next moment, its
// next sync's or its next top-up. A sync whose moment came during a frame
// fires right after it, with the clock standing at that moment while it
// runs (web_platform.h), so what it records is when its position was heard.
#include "platform/audio/output.h"

#include "web/web_platform.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdint>

namespace {

// Frames per callback: the page may be busy with a frame for this long
// (46 ms) before the device runs short.
const int kBufferFrames = 2048;

int16_t g_Buffer[kBufferFrames * 2];
bool g_EngineRunning = false;

// Uses the page's audio context (made on the click that starts the show, as
// browsers allow sound only after one), or makes one.
EM_JS(int, PageAudioOpen, (int16_t* buffer, int frames), {
    var context = Module["audioContext"];
    try {
        if (!context) context = Module["audioContext"] = new AudioContext({sampleRate: 44100});
    } catch (e) {
        return 0;
    }
    // When a context time is heard, on the page's clock (ms).
    var heardAt = function(time) {
        var stamp = context.getOutputTimestamp ? context.getOutputTimestamp() : null;
        if (stamp && stamp.performanceTime > 0)
            return stamp.performanceTime + (time - stamp.contextTime) * 1000;
        var latency = (context.baseLatency || 0) + (context.outputLatency || 0);
        return performance.now() + (time - context.currentTime + latency) * 1000;
    };
    var node = context.createScriptProcessor(frames, 0, 2);
    node.onaudioprocess = function(event) {
        var out = event.outputBuffer, n = out.length;
        Module["_WebAudioFill"](heardAt(event.playbackTime) * 1000, n);
        var left = out.getChannelData(0), right = out.getChannelData(1);
        var samples = HEAP16, at = buffer >> 1, peak = 0;
        for (var i = 0; i < n; ++i, at += 2) {
            left[i] = samples[at] / 32768;
            right[i] = samples[at + 1] / 32768;
            peak = Math.max(peak, Math.abs(samples[at]), Math.abs(samples[at + 1]));
        }
        // The loudest sample played so far, for the page's test.
        Module["audioPeak"] = Math.max(Module["audioPeak"] || 0, peak / 32768);
    };
    Module["audioNode"] = node;
    return 1;
});

EM_JS(void, PageAudioPause, (int paused), {
    var context = Module["audioContext"], node = Module["audioNode"];
    if (!context || !node) return;
    if (paused) {
        node.disconnect();
    } else {
        node.connect(context.destination);
        if (context.state != "running") context.resume();
    }
});

EM_JS(void, PageAudioClose, (), {
    var node = Module["audioNode"];
    if (!node) return;
    node.onaudioprocess = null;
    node.disconnect();
    Module["audioNode"] = null;
});

EM_JS(void, PageEngineTimer, (double delayMs), {
    clearTimeout(Module["audioTimer"]);
    Module["audioTimer"] = delayMs < 0 ? 0 : setTimeout(function() { Module["_WebAudioStep"](); }, delayMs);
});

// Steps the engine and sets the timer for its next moment.
void StepAndSchedule() {
    int64_t next = BassEngineStep();
    if (g_EngineRunning) PageEngineTimer(std::max<double>(0.0, double(next - BassNowUs()) / 1000.0));
}

} // namespace

extern "C" {

// The device's callback: `frames` frames, the first heard at heardUs.
EMSCRIPTEN_KEEPALIVE void WebAudioFill(double heardUs, int frames) {
    frames = std::clamp(frames, 0, kBufferFrames);
    // The engine mixes ahead first, so that the buffer finds its frames.
    if (g_EngineRunning) BassEngineStep();
    BassDeviceTake(g_Buffer, size_t(frames), int64_t(heardUs));
    if (g_EngineRunning) StepAndSchedule();
}

EMSCRIPTEN_KEEPALIVE void WebAudioStep() {
    if (g_EngineRunning) StepAndSchedule();
}

} // extern "C"

bool OutputOpen(sOutputDevice* device, std::string* why) {
    if (!PageAudioOpen(g_Buffer, kBufferFrames)) {
        *why = "the page has no WebAudio";
        return false;
    }
    device->driver = "WebAudio";
    // The callback reports when its first frame is heard.
    device->latencyUs = 0;
    return true;
}

void OutputPause(bool paused) { PageAudioPause(paused ? 1 : 0); }

void OutputClose() { PageAudioClose(); }

bool OutputHasEngineThread() { return false; }

void OutputStartEngine() {
    g_EngineRunning = true;
    StepAndSchedule();
}

void OutputStopEngine() {
    g_EngineRunning = false;
    PageEngineTimer(-1);
}

// Lets the page run its callbacks and timers for a moment.
void OutputYield() { emscripten_sleep(1); }

void OutputRaiseThreadPriority() {}

void OutputSyncMoment(int64_t dueUs) { WebPinClock(dueUs); }
