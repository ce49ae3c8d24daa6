// The show's running order: from g_CurrentTime alone, the one segment of the
// frame, its renderer colours and modes, the flanger, and its scenes in
// order. Colours and modes it sets stay in force until set again.
#pragma once

#include <cstdint>

void Timeline();

// The segments: segment k (1 to 20) runs from kSegmentStarts[k - 1] up to
// the next start; segment 0 is the time before 0 and draws nothing.
const int kNumSegments = 20;
extern const int32_t kSegmentStarts[kNumSegments];

// The segment that runs at time t (0 for t < 0).
int SegmentAt(int32_t t);
