// What the page reads of the show for its own line and for the browser
// test: the playing time of the frame on the canvas, and its segment.
#include "app/globals.h"
#include "show/timeline.h"

#include <emscripten.h>

extern "C" {

EMSCRIPTEN_KEEPALIVE int WebShowTime() { return g_CurrentTime; }

EMSCRIPTEN_KEEPALIVE int WebShowSegment() { return SegmentAt(g_CurrentTime); }

} // extern "C"
