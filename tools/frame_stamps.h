// Numbered sound frames, for measuring where each frame of a stream is
// heard: a DSP that writes every frame's number into it. Left is
// (n mod span) + 1, never 0, right is n / span; silence is a frame whose
// left is 0. Header-only, for the audio_sync tool and its test.
#pragma once

#include "platform/audio/bass.h"

#include <cstdint>

const int64_t kStampSpan = 30000;
inline int64_t g_NextStamp = 0;

inline void CALLBACK StampFrames(HDSP, DWORD, void* buffer, DWORD length, DWORD) {
    int16_t* s = static_cast<int16_t*>(buffer);
    for (DWORD i = 0; i < length / 4; ++i, ++g_NextStamp) {
        s[i * 2] = int16_t(g_NextStamp % kStampSpan + 1);
        s[i * 2 + 1] = int16_t(g_NextStamp / kStampSpan);
    }
}
