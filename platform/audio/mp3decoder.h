// Platform-internal: an MP3 in memory decoded to 44100 Hz 16-bit stereo.
// libmpg123 decodes at the file's own rate (mono made stereo); other rates
// are converted by libsoxr (band-limited, without delay), to exactly
// round(frames × 44100 / rate) frames, so that a position in the converted
// stream is the same moment of the track as in the original.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct mpg123_handle_struct;
struct soxr;

class Mp3Decoder {
public:
    Mp3Decoder() = default;
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    // False when the data holds no decodable MP3 frame. All buffers are
    // allocated here; Read allocates nothing.
    bool Open(const uint8_t* data, size_t size);
    // Up to maxFrames stereo frames at 44100 Hz into out; 0 at the end.
    size_t Read(int16_t* out, size_t maxFrames);
    bool Done() const { return m_Done; }
    // Back to the first sample.
    void Rewind();
    long NativeRate() const { return m_Rate; }

    // The memory the reader callbacks walk through.
    const uint8_t* m_Data = nullptr;
    size_t m_Size = 0;
    size_t m_Offset = 0;

private:
    size_t FillNative();
    void ResetResampler();

    mpg123_handle_struct* m_Handle = nullptr;
    long m_Rate = 44100;
    bool m_Done = false;
    bool m_NativeDone = false;
    // Native frames waiting to be resampled: [m_NativeStart, m_NativeEnd).
    std::vector<int16_t> m_Native;
    size_t m_NativeStart = 0;
    size_t m_NativeEnd = 0;
    // The converter for other rates; native frames fed to it and frames it
    // gave out.
    soxr* m_Resampler = nullptr;
    uint64_t m_NativeFed = 0;
    uint64_t m_Converted = 0;
};
