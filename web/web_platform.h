// Internal to the web platform layer: what its parts share.
#pragma once

#include <cstdint>

// The counters (QueryPerformanceCounter, timeGetTime) read this moment, in
// µs of the page's clock, until it is unpinned with -1. A sync fires between
// frames on the page's one thread; while its callback runs, the clock stands
// where the sync's position was heard.
void WebPinClock(int64_t us);

// The page's monotonic clock in µs (performance.now()).
int64_t WebNowUs();
