// Test MP3 files made on the spot with LAME (header-only: only the test
// programs that include it link libmp3lame).
#pragma once

#include <lame/lame.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A sine tone of `frequency` Hz at 1/3 full scale, encoded at 128 kbit/s with
// a gapless tag, so a decoder that honours it gives back exactly
// rate × seconds frames.
inline std::vector<uint8_t> MakeTestMp3(int rate, int channels, double seconds, double frequency = 441.0) {
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, 128);
    lame_set_quality(lame, 7);
    lame_set_bWriteVbrTag(lame, 1);
    lame_init_params(lame);
    int frames = int(rate * seconds);
    std::vector<short> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) {
        left[i] = short(10000 * std::sin(2 * M_PI * frequency * i / rate));
        right[i] = short(-left[i]);
    }
    std::vector<uint8_t> out(size_t(frames) * 5 / 4 + 7200 + 65536);
    int n = lame_encode_buffer(lame, left.data(), channels == 1 ? nullptr : right.data(), frames, out.data(),
                               int(out.size()));
    n += lame_encode_flush(lame, out.data() + n, int(out.size()) - n);
    out.resize(size_t(n));
    // The tag frame at the start carries the encoder delay and padding.
    std::vector<uint8_t> tag(8192);
    size_t tagSize = lame_get_lametag_frame(lame, tag.data(), tag.size());
    if (tagSize > 0 && tagSize <= out.size()) std::copy(tag.begin(), tag.begin() + long(tagSize), out.begin());
    lame_close(lame);
    return out;
}

