#include "app/offline.h"

#include "app/globals.h"
#include "app/shell.h"
#include "platform/audio/bass.h"
#include "platform/ddraw/ddraw.h"

#include <cmath>
#include <vector>

namespace {

struct sOfflineState {
    const sOfflineRun* run;
    int64_t flips;     // every Flip, the loading screen's included
    uint64_t origin;   // the virtual moment of the loop's first frame
    std::vector<int16_t> sound; // one frame's sound, made before the show
};

// The virtual clock's reading in microseconds.
uint64_t VirtualNow() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return uint64_t(counter.QuadPart) / 10;
}

void OnFlip(const uint16_t* pixels, int width, int height, int pitch, void* user) {
    sOfflineState& state = *static_cast<sOfflineState*>(user);
    // The first flip is the loading screen; the loop's frames follow.
    if (state.flips++ == 0) return;
    const int64_t frame = state.flips - 2;
    if (frame == 0) state.origin = VirtualNow();
    if (state.run->hook && !state.run->hook(pixels, width, height, pitch, state.run->user)) g_Quit = true;

    // On to the next frame's moment: the sound up to it is handed over
    // (which fires the syncs on the way), then the clock stands exactly there.
    const uint64_t next = state.origin + FrameMicroseconds(frame + 1, state.run->fps);
    DWORD bytes = BassOfflineBytesUntil(next);
    if (bytes > state.sound.size() * 2) bytes = DWORD(state.sound.size() * 2);
    bytes = BassOfflineRender(state.sound.data(), bytes);
    if (state.run->sound) state.run->sound(state.sound.data(), bytes / 4, state.run->user);
    const uint64_t now = VirtualNow();
    if (now < next) Win32AdvanceVirtualClock(next - now);
}

} // namespace

uint64_t FrameMicroseconds(int64_t frame, double fps) { return uint64_t(std::llround(frame * 1e6 / fps)); }

int RunShowOffline(const sOfflineRun& run) {
    sOfflineState state{&run, 0, 0, {}};
    // A frame's sound, with room for the rounding of its moments.
    state.sound.assign(size_t(std::ceil(44100.0 / run.fps) + 4) * 2, 0);
    Win32SetVirtualClock(true, 1000000);
    BassSetOfflineMode(true);
    DDrawSetFrameObserver(OnFlip, &state, run.pixels);
    char commandLine[] = "";
    const int result = WinMain(Win32GetInstance(), nullptr, commandLine, SW_SHOWDEFAULT);
    DDrawSetFrameObserver(nullptr, nullptr);
    BassSetOfflineMode(false);
    Win32SetVirtualClock(false);
    return result;
}
