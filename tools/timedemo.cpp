// Runs the show headless as fast as the machine allows, on a virtual clock
// at a fixed step, and says how fast each segment of the timeline drew: the
// frames per second and the mean and worst frame, then the whole show and
// the peak memory.
#include "app/globals.h"
#include "app/offline.h"
#include "app/shell.h"
#include "platform/ddraw/ddraw.h"
#include "tools/options.h"
#include "show/show.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {

const char* const kUsage =
    "usage: trubelox-timedemo [--step MS] [--to S] [--scale K] [--help]\n"
    "  Runs the show on a virtual clock as fast as it can and prints the speed of each segment.\n"
    "  --step MS   playing time between frames (default 16.667, 60 frames a second)\n"
    "  --to S      where to stop, in seconds (default 248)\n"
    "  --scale K   render scale 1 to 4: frames of K x 640 by K x 480 (default 1)\n";

struct Segment {
    int frames = 0;
    double seconds = 0.0; // wall time of its frames
    double worst = 0.0;
};

struct Demo {
    int32_t endMs = 248000;
    Segment segments[kNumSegments + 1];
    std::chrono::steady_clock::time_point last;
    bool started = false;
    int lastSegment = 0;
    double total = 0.0;
    int frames = 0;
};

// Each frame is timed from the end of the one before: its timeline, drawing
// and hand-over of its sound.
bool OnFrame(const uint16_t*, int, int, int, void* user) {
    Demo& d = *static_cast<Demo*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (d.started) {
        const double seconds = std::chrono::duration<double>(now - d.last).count();
        Segment& s = d.segments[d.lastSegment];
        ++s.frames;
        s.seconds += seconds;
        s.worst = std::max(s.worst, seconds);
        d.total += seconds;
        ++d.frames;
    }
    d.started = true;
    d.last = now;
    d.lastSegment = SegmentAt(g_CurrentTime);
    return g_CurrentTime < d.endMs;
}

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    double step = 1000.0 / 60.0, to = 248.0, scale = 1.0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        double* value = arg == "--step" ? &step : arg == "--to" ? &to : arg == "--scale" ? &scale : nullptr;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!value) {
            std::fprintf(stderr, "trubelox-timedemo: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
        if (i + 1 >= argc || !ParseNumber(argv[++i], value)) {
            std::fprintf(stderr, "trubelox-timedemo: %s needs a number\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (!(step >= 1.0 && step <= 1000.0) || !(to > 0.0 && to <= 24.0 * 3600.0)) {
        std::fprintf(stderr, "trubelox-timedemo: --step must be 1 to 1000 ms and --to 0 to 86400 s\n");
        return 2;
    }
    if (scale != 1.0 && scale != 2.0 && scale != 3.0 && scale != 4.0) {
        std::fprintf(stderr, "trubelox-timedemo: --scale must be 1, 2, 3 or 4\n");
        return 2;
    }
    DDrawSetRenderScale(int(scale));
    if (!EnterDataFolder()) {
        std::fprintf(stderr, "trubelox-timedemo: no data/ folder here or beside the program; run it in build/\n");
        return 1;
    }

    Demo demo;
    demo.endMs = int32_t(std::llround(to * 1000.0));
    sOfflineRun run;
    run.fps = 1000.0 / step;
    run.hook = OnFrame;
    run.user = &demo;
    run.pixels = false;
    if (RunShowOffline(run) != 0 || demo.frames == 0) {
        std::fprintf(stderr, "trubelox-timedemo: the show did not run (see its message)\n");
        return 1;
    }
    for (int k = 1; k <= kNumSegments; ++k) {
        const Segment& s = demo.segments[k];
        if (!s.frames) continue;
        std::printf("segment %d: %.1f fps, mean %.2f ms, worst %.2f ms\n", k, s.frames / s.seconds,
                    s.seconds * 1000.0 / s.frames, s.worst * 1000.0);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("overall: %.1f fps, peak memory %.1f MB\n", demo.frames / demo.total, usage.ru_maxrss / 1024.0);
    return 0;
}
