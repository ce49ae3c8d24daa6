#include "music.h"

#include "music_render.h"
#include "music_score.h"

#include <lame/lame.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kBitrate = 192;
constexpr int kChunkFrames = 16384;

// Blocks of synthesised samples on their way from the synthesis thread to
// the encoder; bounded so that neither side runs far ahead.
class ChunkQueue {
public:
    struct Chunk {
        std::vector<float> left, right;
    };
    void Push(Chunk chunk) {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Changed.wait(lock, [&] { return m_Chunks.size() < 6 || m_Closed; });
        if (m_Closed) return;
        m_Chunks.push_back(std::move(chunk));
        m_Changed.notify_all();
    }
    // False when the producer has finished and nothing is left.
    bool Pop(Chunk& chunk) {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Changed.wait(lock, [&] { return !m_Chunks.empty() || m_Finished; });
        if (m_Chunks.empty()) return false;
        chunk = std::move(m_Chunks.front());
        m_Chunks.pop_front();
        m_Changed.notify_all();
        return true;
    }
    void Finish() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Finished = true;
        m_Changed.notify_all();
    }
    // The consumer gave up: let the producer run to its end without waiting.
    void Close() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Closed = true;
        m_Chunks.clear();
        m_Changed.notify_all();
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::deque<Chunk> m_Chunks;
    bool m_Finished = false;
    bool m_Closed = false;
};

class Mp3Encoder {
public:
    Mp3Encoder() : m_Lame(lame_init()) {}
    ~Mp3Encoder() {
        if (m_Lame) lame_close(m_Lame);
    }
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    // Fixed settings: constant 192 kbit/s joint stereo, no ID3 tag (nothing
    // that could carry a date), and the LAME/Xing frame that tells decoders
    // the encoder delay and padding.
    bool Open() {
        if (!m_Lame) return false;
        lame_set_in_samplerate(m_Lame, music::kSampleRate);
        lame_set_out_samplerate(m_Lame, music::kSampleRate);
        lame_set_num_channels(m_Lame, 2);
        lame_set_mode(m_Lame, JOINT_STEREO);
        lame_set_VBR(m_Lame, vbr_off);
        lame_set_brate(m_Lame, kBitrate);
        lame_set_quality(m_Lame, 3);
        lame_set_bWriteVbrTag(m_Lame, 1);
        lame_set_write_id3tag_automatic(m_Lame, 0);
        return lame_init_params(m_Lame) >= 0;
    }
    bool Encode(const float* left, const float* right, int count) {
        m_Buffer.resize(count + count / 4 + 7200);
        int bytes = lame_encode_buffer_ieee_float(m_Lame, left, right, count, m_Buffer.data(),
                                                  static_cast<int>(m_Buffer.size()));
        if (bytes < 0) return false;
        m_Output.insert(m_Output.end(), m_Buffer.begin(), m_Buffer.begin() + bytes);
        return true;
    }
    // Flushes the last frames and puts the final LAME tag in place of the
    // empty frame the encoder left at the start.
    bool Finish() {
        m_Buffer.resize(7200);
        int bytes = lame_encode_flush(m_Lame, m_Buffer.data(), static_cast<int>(m_Buffer.size()));
        if (bytes < 0) return false;
        m_Output.insert(m_Output.end(), m_Buffer.begin(), m_Buffer.begin() + bytes);
        unsigned char tag[2880];
        size_t tagSize = lame_get_lametag_frame(m_Lame, tag, sizeof(tag));
        if (tagSize == 0 || tagSize > sizeof(tag) || tagSize > m_Output.size()) return false;
        std::memcpy(m_Output.data(), tag, tagSize);
        return true;
    }
    const std::vector<unsigned char>& Output() const { return m_Output; }

private:
    lame_t m_Lame;
    std::vector<unsigned char> m_Buffer;
    std::vector<unsigned char> m_Output;
};

bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    // Written beside the target and renamed, so a failed run never leaves a
    // truncated track behind.
    const std::string temporary = path + ".part";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "trubelox-datagen: cannot write %s: %s\n", temporary.c_str(), std::strerror(errno));
        return false;
    }
    size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    int closeResult = std::fclose(file);
    if (written != bytes.size() || closeResult != 0) {
        std::fprintf(stderr, "trubelox-datagen: cannot write %s: %s\n", temporary.c_str(), std::strerror(errno));
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "trubelox-datagen: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

bool WriteSoundTrack(const std::string& dataDir) {
    const std::string path = dataDir + "/demo.mp3";
    const auto started = std::chrono::steady_clock::now();

    Mp3Encoder encoder;
    if (!encoder.Open()) {
        std::fprintf(stderr, "trubelox-datagen: cannot encode %s: the MP3 encoder refused its settings\n", path.c_str());
        return false;
    }
    const music::Score score = music::ComposeSoundTrack();
    const int64_t total = score.lengthSamples;
    std::printf("trubelox-datagen: %s: synthesising %.1f s\n", path.c_str(), static_cast<double>(total) / music::kSampleRate);
    std::fflush(stdout);

    // One thread synthesises while this one encodes.
    ChunkQueue queue;
    music::RenderStats stats;
    std::thread synthesis([&] {
        ChunkQueue::Chunk chunk;
        auto flush = [&] {
            if (!chunk.left.empty()) queue.Push(std::move(chunk));
            chunk = ChunkQueue::Chunk();
        };
        stats = music::RenderScore(score, [&](const float* left, const float* right, int count) {
            chunk.left.insert(chunk.left.end(), left, left + count);
            chunk.right.insert(chunk.right.end(), right, right + count);
            if (static_cast<int>(chunk.left.size()) >= kChunkFrames) flush();
        });
        flush();
        queue.Finish();
    });

    bool ok = true;
    int64_t encoded = 0;
    int reported = 0;
    ChunkQueue::Chunk chunk;
    while (queue.Pop(chunk)) {
        if (!encoder.Encode(chunk.left.data(), chunk.right.data(), static_cast<int>(chunk.left.size()))) {
            ok = false;
            queue.Close();
            break;
        }
        encoded += static_cast<int64_t>(chunk.left.size());
        int percent = static_cast<int>(encoded * 100 / total);
        if (percent >= reported + 25) {
            reported = percent / 25 * 25;
            std::printf("trubelox-datagen: %s: %d%%\n", path.c_str(), reported);
            std::fflush(stdout);
        }
    }
    synthesis.join();
    if (ok) ok = encoded == total && encoder.Finish();
    if (!ok) {
        std::fprintf(stderr, "trubelox-datagen: cannot encode %s: the MP3 encoder failed\n", path.c_str());
        return false;
    }
    if (!WriteWholeFile(path, encoder.Output())) return false;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("trubelox-datagen: wrote %s (%zu bytes) in %.1f s; limiter: %.2f s above 1 dB, deepest %.1f dB\n",
                path.c_str(), encoder.Output().size(), seconds, static_cast<double>(stats.limitedSamples) / music::kSampleRate,
                20.0 * std::log10(stats.deepestLimiting));
    return true;
}
