// Renders the show offline, exactly as it plays, at a fixed frame rate: a
// video with its sound (frames and sound piped to ffmpeg), the processed
// sound as a WAV file and, on request, every frame as a PNG file.
#include "app/globals.h"
#include "app/offline.h"
#include "app/shell.h"
#include "tools/options.h"
#include "platform/ddraw/ddraw.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const char* const kUsage =
    "usage: trubelox-capture [--fps N] [--from S] [--to S] [--out DIR] [--png] [--no-video] [--scale K] [--help]\n"
    "  Renders the show on a virtual clock, as fast as the machine allows.\n"
    "  --fps N     frames per second (default 60; 1 to 240)\n"
    "  --from S    first second written (default 0); the show still runs from 0\n"
    "  --to S      end of the range in seconds (default 248)\n"
    "  --out DIR   where to write (default capture/)\n"
    "  --png       also write every frame as DIR/frame_NNNNNN.png (N counts from time 0)\n"
    "  --no-video  no DIR/show.mp4 (needs ffmpeg otherwise)\n"
    "  --scale K   render scale 1 to 4: frames and video at K x 640 by K x 480 (default 1)\n"
    "  Writes DIR/show.mp4 (H.264 and AAC) and DIR/sound.wav (the sound of the range).\n";

const int kRate = 44100;

struct Options {
    double fps = 60.0;
    double from = 0.0;
    double to = 248.0;
    std::string out = "capture";
    bool png = false;
    bool video = true;
    double scale = 1.0;
};

// Empty when the options are good, else what is wrong.
std::string Parse(int argc, char** argv, Options* o, bool* help) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](double* v) -> std::string {
            if (i + 1 >= argc) return arg + " needs a value";
            if (!ParseNumber(argv[++i], v)) return arg + ": '" + argv[i] + "' is not a number";
            return "";
        };
        std::string error;
        if (arg == "--help" || arg == "-h") *help = true;
        else if (arg == "--fps") error = value(&o->fps);
        else if (arg == "--from") error = value(&o->from);
        else if (arg == "--to") error = value(&o->to);
        else if (arg == "--scale") error = value(&o->scale);
        else if (arg == "--png") o->png = true;
        else if (arg == "--no-video") o->video = false;
        else if (arg == "--out") {
            if (i + 1 >= argc) error = "--out needs a folder";
            else o->out = argv[++i];
        } else
            error = "unknown option '" + arg + "'";
        if (!error.empty()) return error;
    }
    if (o->fps < 1.0 || o->fps > 240.0) return "--fps must be between 1 and 240";
    if (o->scale != 1.0 && o->scale != 2.0 && o->scale != 3.0 && o->scale != 4.0)
        return "--scale must be 1, 2, 3 or 4";
    if (o->from < 0.0) return "--from must not be negative";
    if (o->to <= o->from) return "--to must be later than --from";
    if (o->to > 24.0 * 3600.0) return "--to must be at most a day";
    if (o->out.empty()) return "--out needs a folder";
    return "";
}

bool FfmpegInstalled() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty() && access((dir + "/ffmpeg").c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// One pipe to ffmpeg, written by a thread of its own from a queue, so that
// ffmpeg may read its two inputs in whatever order it likes (it waits for a
// little sound before it takes the second frame) while the show goes on.
class PipeWriter {
public:
    explicit PipeWriter(size_t limit) : m_Limit(limit) {}
    ~PipeWriter() { Finish(); }

    void Start(int fd) {
        m_Fd = fd;
        m_Thread = std::thread([this] { Run(); });
    }
    // Queues a copy; waits while the queue holds more than its limit. False
    // once the pipe has failed.
    bool Write(const void* data, size_t size) {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Space.wait(lock, [&] { return m_Failed || m_Queued <= m_Limit; });
        if (m_Failed) return false;
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        m_Queue.emplace_back(bytes, bytes + size);
        m_Queued += size;
        m_Ready.notify_one();
        return true;
    }
    // Writes what is queued, closes the pipe; false when a write failed.
    bool Finish() {
        if (m_Thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Done = true;
                m_Ready.notify_one();
            }
            m_Thread.join();
        }
        if (m_Fd >= 0) close(m_Fd);
        m_Fd = -1;
        return !m_Failed;
    }

private:
    void Run() {
        for (;;) {
            std::vector<uint8_t> block;
            {
                std::unique_lock<std::mutex> lock(m_Mutex);
                m_Ready.wait(lock, [&] { return m_Done || !m_Queue.empty(); });
                if (m_Queue.empty()) return;
                block.swap(m_Queue.front());
                m_Queue.pop_front();
            }
            const bool ok = WriteAll(m_Fd, block.data(), block.size());
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Queued -= block.size();
            if (!ok) {
                m_Failed = true;
                m_Queue.clear();
                m_Queued = 0;
            }
            m_Space.notify_one();
            if (!ok) return;
        }
    }

    const size_t m_Limit;
    int m_Fd = -1;
    std::thread m_Thread;
    std::mutex m_Mutex;
    std::condition_variable m_Ready, m_Space;
    std::deque<std::vector<uint8_t>> m_Queue;
    size_t m_Queued = 0;
    bool m_Done = false;
    bool m_Failed = false;
};

// ffmpeg reading the frames on its standard input and the sound on fd 3.
struct Encoder {
    pid_t pid = -1;
    PipeWriter video{size_t(32) << 20};
    PipeWriter sound{size_t(64) << 20};

    bool Start(const Options& o, const std::string& path) {
        int v[2], s[2];
        if (pipe(v)) return false;
        if (pipe(s)) {
            close(v[0]);
            close(v[1]);
            return false;
        }
        char fps[32], size[32];
        std::snprintf(fps, sizeof fps, "%.6g", o.fps);
        std::snprintf(size, sizeof size, "%dx%d", 640 * int(o.scale), 480 * int(o.scale));
        // Raw inputs need no probing: ffmpeg opens each at its first bytes.
        std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                                         "-probesize", "32", "-analyzeduration", "0", "-thread_queue_size", "256",
                                         "-f", "rawvideo", "-pix_fmt", "rgb565le", "-video_size", size,
                                         "-framerate", fps, "-i", "pipe:0",
                                         "-probesize", "32", "-analyzeduration", "0", "-thread_queue_size", "256",
                                         "-f", "s16le", "-ar", "44100", "-ac", "2", "-i", "pipe:3",
                                         "-c:v", "libx264", "-preset", "medium", "-crf", "18", "-pix_fmt", "yuv420p",
                                         "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", path};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, v[0], 0);
        posix_spawn_file_actions_adddup2(&actions, s[0], 3);
        // The rest are closed in the child; fds 0 and 3 now are the pipes.
        for (int fd : {v[0], v[1], s[0], s[1]})
            if (fd != 0 && fd != 3) posix_spawn_file_actions_addclose(&actions, fd);
        const int error = posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(v[0]);
        close(s[0]);
        if (error) {
            pid = -1;
            close(v[1]);
            close(s[1]);
            return false;
        }
        video.Start(v[1]);
        sound.Start(s[1]);
        return true;
    }
    bool Running() const { return pid >= 0; }
    // Ends the input and waits: true when ffmpeg finished well.
    bool Finish() {
        const bool written = video.Finish() & sound.Finish();
        if (pid < 0) return false;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        return written && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

// A 16-bit stereo WAV file whose sizes are written when it is closed.
struct WavFile {
    FILE* file = nullptr;
    uint64_t frames = 0;

    bool Open(const std::string& path) {
        file = std::fopen(path.c_str(), "wb");
        if (!file) return false;
        const uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                    16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                                    4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
        return std::fwrite(header, 1, sizeof header, file) == sizeof header;
    }
    bool Write(const int16_t* samples, uint32_t count) {
        frames += count;
        return std::fwrite(samples, 4, count, file) == count;
    }
    bool Close() {
        if (!file) return false;
        const uint32_t data = uint32_t(frames * 4);
        uint8_t riff[4], size[4];
        for (int i = 0; i < 4; ++i) {
            riff[i] = uint8_t((data + 36) >> (8 * i));
            size[i] = uint8_t(data >> (8 * i));
        }
        bool ok = std::fseek(file, 4, SEEK_SET) == 0 && std::fwrite(riff, 1, 4, file) == 4 &&
                  std::fseek(file, 40, SEEK_SET) == 0 && std::fwrite(size, 1, 4, file) == 4;
        ok = std::fclose(file) == 0 && ok;
        file = nullptr;
        return ok;
    }
};

struct Capture {
    Options options;
    std::filesystem::path folder;
    int64_t firstFrame = 0; // the range in frames and in samples
    int64_t endFrame = 0;
    int64_t firstSample = 0;
    int64_t endSample = 0;
    int64_t frame = 0;  // the frame being shown
    int64_t sample = 0; // the first sample of its sound
    Encoder encoder;
    WavFile wav;
    std::vector<uint8_t> row = std::vector<uint8_t>(640 * 480 * 2); // one frame, rows packed
    bool failed = false;
    std::string failure;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastProgress;

    bool InRange() const { return frame >= firstFrame && frame < endFrame; }

    void Fail(const std::string& why) {
        if (!failed) failure = why;
        failed = true;
    }

    // A bar redrawn in place on a terminal; elsewhere a line every tenth.
    void Progress(bool last) {
        const auto now = std::chrono::steady_clock::now();
        const bool terminal = isatty(2);
        if (terminal && !last && now - lastProgress < std::chrono::milliseconds(250)) return;
        if (!terminal && !last && ((frame + 1) % std::max<int64_t>(1, endFrame / 10) != 0 || frame + 1 == endFrame))
            return;
        lastProgress = now;
        const double seconds = std::chrono::duration<double>(now - started).count();
        const double done = double(frame + 1) / double(endFrame);
        const double fps = seconds > 0 ? (frame + 1) / seconds : 0.0;
        const double left = fps > 0 ? double(endFrame - frame - 1) / fps : 0.0;
        const int width = 30, filled = int(done * width);
        std::fprintf(stderr, "%s[%s%s] %6.1f s of %.1f s  %5.1f fps  %d:%02d left ", terminal ? "\r" : "",
                     std::string(size_t(filled), '#').c_str(), std::string(size_t(width - filled), '.').c_str(),
                     double(frame + 1) / options.fps, double(endFrame) / options.fps, fps, int(left) / 60,
                     int(left) % 60);
        if (last || !terminal) std::fprintf(stderr, "\n");
        std::fflush(stderr);
    }
};

bool OnFrame(const uint16_t* pixels, int width, int height, int pitch, void* user) {
    Capture& c = *static_cast<Capture*>(user);
    if (c.InRange()) {
        if (c.options.png) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(c.frame));
            const std::string path = (c.folder / name).string();
            if (!DDrawSavePixelsPNG(pixels, width, height, pitch, path.c_str())) c.Fail("cannot write " + path);
        }
        if (c.encoder.Running()) {
            for (int y = 0; y < height; ++y)
                std::memcpy(&c.row[size_t(y) * size_t(width) * 2], pixels + size_t(y) * size_t(pitch),
                            size_t(width) * 2);
            if (!c.encoder.video.Write(c.row.data(), size_t(width) * size_t(height) * 2))
                c.Fail("ffmpeg stopped taking frames");
        }
    }
    c.Progress(false);
    return !c.failed && c.frame + 1 < c.endFrame;
}

void OnSound(const int16_t* samples, uint32_t frames, void* user) {
    Capture& c = *static_cast<Capture*>(user);
    // The part of this frame's sound that lies in the range.
    const int64_t from = std::max(c.sample, c.firstSample), to = std::min(c.sample + frames, c.endSample);
    if (to > from) {
        const int16_t* part = samples + 2 * (from - c.sample);
        if (!c.wav.Write(part, uint32_t(to - from))) c.Fail("cannot write sound.wav");
        if (c.encoder.Running() && !c.encoder.sound.Write(part, size_t(to - from) * 4))
            c.Fail("ffmpeg stopped taking sound");
    }
    c.sample += frames;
    ++c.frame;
}

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    std::signal(SIGPIPE, SIG_IGN); // a stopped ffmpeg is a failed write, not the end
    Capture c;
    bool help = false;
    const std::string error = Parse(argc, argv, &c.options, &help);
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "trubelox-capture: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    const Options& o = c.options;
    c.folder = std::filesystem::absolute(o.out);
    DDrawSetRenderScale(int(o.scale));
    c.row.resize(c.row.size() * size_t(o.scale * o.scale));
    if (!EnterDataFolder()) {
        std::fprintf(stderr, "trubelox-capture: no data/ folder here or beside the program; run it in build/\n");
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(c.folder, ec);
    if (ec) {
        std::fprintf(stderr, "trubelox-capture: cannot make %s: %s\n", c.folder.c_str(), ec.message().c_str());
        return 1;
    }
    c.firstFrame = int64_t(std::ceil(o.from * o.fps - 1e-9));
    c.endFrame = int64_t(std::ceil(o.to * o.fps - 1e-9));
    c.firstSample = std::llround(o.from * kRate);
    c.endSample = std::llround(o.to * kRate);

    const std::string video = (c.folder / "show.mp4").string(), sound = (c.folder / "sound.wav").string();
    bool withVideo = o.video;
    if (withVideo && !FfmpegInstalled()) {
        std::fprintf(stderr, "trubelox-capture: ffmpeg is not installed, so no show.mp4; writing the rest\n");
        withVideo = false;
    }
    if (withVideo && !c.encoder.Start(o, video)) {
        std::fprintf(stderr, "trubelox-capture: cannot start ffmpeg, so no show.mp4; writing the rest\n");
        withVideo = false;
    }
    if (!c.wav.Open(sound)) {
        std::fprintf(stderr, "trubelox-capture: cannot write %s\n", sound.c_str());
        c.encoder.Finish();
        return 1;
    }

    c.started = c.lastProgress = std::chrono::steady_clock::now();
    sOfflineRun run;
    run.fps = o.fps;
    run.hook = OnFrame;
    run.sound = OnSound;
    run.user = &c;
    const int result = RunShowOffline(run);
    c.frame = std::max<int64_t>(c.frame - 1, 0);
    c.Progress(true);
    if (!c.wav.Close()) c.Fail("cannot finish " + sound);
    const bool encoded = withVideo && c.encoder.Finish();
    if (withVideo && !encoded) c.Fail("ffmpeg could not write " + video);
    if (result != 0 || c.failed || c.frame + 1 < c.endFrame) {
        std::fprintf(stderr, "trubelox-capture: %s\n",
                     c.failed ? c.failure.c_str() : "the show ended before the range did (see its message)");
        return 1;
    }
    if (encoded) std::printf("%s\n", video.c_str());
    std::printf("%s\n", sound.c_str());
    if (o.png)
        std::printf("%s/frame_%06lld.png ... frame_%06lld.png\n", c.folder.c_str(),
                    static_cast<long long>(c.firstFrame), static_cast<long long>(c.endFrame - 1));
    return 0;
}
