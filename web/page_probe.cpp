// What the page reads of the show for its own line and for the browser
// test: the playing time of the frame on the canvas, its segment, and the
// seconds of music the clock has counted (-1 before the music starts).
#include "app/globals.h"
#include "app/timer.h"
#include "show/timeline.h"

#include <emscripten.h>

extern "C" {

EMSCRIPTEN_KEEPALIVE int WebShowTime() { return g_CurrentTime; }

EMSCRIPTEN_KEEPALIVE int WebShowSegment() { return SegmentAt(g_CurrentTime); }

EMSCRIPTEN_KEEPALIVE int WebMusicSeconds() { return cTimer::GetSeconds(); }

} // extern "C"
