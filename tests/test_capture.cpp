// The capture program, run as a user runs it: its frames and sound, their
// agreement with each other and with the sound track, repeatability, the
// range options and the option errors.
#include <gtest/gtest.h>

#include <mpg123.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
    int status = -1;
    std::string errors; // what it wrote to standard error
};

// Runs build/trubelox-capture with the arguments; `path` replaces PATH when
// given.
ProgramRun Capture(const std::vector<std::string>& arguments, const char* path = nullptr) {
    static const fs::path program = fs::absolute("trubelox-capture");
    static const fs::path errorFile = fs::temp_directory_path() / ("capture-errors-" + std::to_string(getpid()));
    std::vector<std::string> args = {program.string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (!path || std::string(*e).rfind("PATH=", 0) != 0) env.push_back(*e);
    if (path) env.push_back(std::string("PATH=") + path);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ProgramRun run;
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(errorFile);
    run.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    fs::remove(errorFile);
    return run;
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The samples of a 16-bit stereo WAV file (two per frame).
std::vector<int16_t> WavSamples(const fs::path& file) {
    const std::string bytes = ReadBytes(file);
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") || bytes.compare(36, 4, "data")) return {};
    const uint32_t size = uint8_t(bytes[40]) | uint8_t(bytes[41]) << 8 | uint8_t(bytes[42]) << 16 |
                          uint32_t(uint8_t(bytes[43])) << 24;
    if (size != bytes.size() - 44) return {};
    std::vector<int16_t> samples(size / 2);
    std::memcpy(samples.data(), bytes.data() + 44, size);
    return samples;
}

// The sound track decoded on its own, 44100 Hz 16-bit stereo, as the show's
// audio library is told to deliver it.
std::vector<int16_t> DecodedTrack() {
    std::vector<int16_t> samples;
    mpg123_init();
    int error = 0;
    mpg123_handle* h = mpg123_new(nullptr, &error);
    if (!h) return samples;
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_STEREO | MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    mpg123_format(h, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h, "data/demo.mp3") == MPG123_OK) {
        std::vector<int16_t> buffer(16384);
        size_t bytes = 0;
        int result;
        do {
            result = mpg123_read(h, reinterpret_cast<unsigned char*>(buffer.data()), buffer.size() * 2, &bytes);
            samples.insert(samples.end(), buffer.begin(), buffer.begin() + long(bytes / 2));
        } while (result == MPG123_OK || result == MPG123_NEW_FORMAT);
        mpg123_close(h);
    }
    mpg123_delete(h);
    return samples;
}

class CaptureProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/trubelox-capture-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    std::string Folder(const char* name) const { return (root / name).string(); }

    fs::path root;
};

const int kRate = 44100;

} // namespace

TEST_F(CaptureProgram, BadOptionsAreNamedWithStatusTwo) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--fps", "0"}, "--fps must be between 1 and 240"},
        {{"--fps", "ten"}, "'ten' is not a number"},
        {{"--from", "5", "--to", "5"}, "--to must be later than --from"},
        {{"--from", "-1"}, "--from must not be negative"},
        {{"--to"}, "--to needs a value"},
        {{"--out"}, "--out needs a folder"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"--scale", "5"}, "--scale must be 1, 2, 3 or 4"},
        {{"--scale", "1.5"}, "--scale must be 1, 2, 3 or 4"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Capture(c.args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
        EXPECT_NE(run.errors.find("usage: trubelox-capture"), std::string::npos);
    }
    EXPECT_EQ(Capture({"--help"}).status, 0);
}

TEST_F(CaptureProgram, RangesAreRepeatableAndAgreeWithAFullRun) {
    const std::string full = Folder("full"), again = Folder("again"), part = Folder("part");
    ProgramRun run = Capture({"--fps", "10", "--to", "6", "--png", "--no-video", "--out", full});
    ASSERT_EQ(run.status, 0) << run.errors;
    // Frame k shows k / 10 s: frames 0 to 59; the sound exactly 6 s long.
    EXPECT_TRUE(fs::exists(fs::path(full) / "frame_000000.png"));
    EXPECT_TRUE(fs::exists(fs::path(full) / "frame_000059.png"));
    EXPECT_FALSE(fs::exists(fs::path(full) / "frame_000060.png"));
    const std::vector<int16_t> sound = WavSamples(fs::path(full) / "sound.wav");
    EXPECT_EQ(sound.size(), size_t(6 * kRate * 2));

    // A second run writes the same bytes.
    ASSERT_EQ(Capture({"--fps", "10", "--to", "6", "--png", "--no-video", "--out", again}).status, 0);
    for (const char* name : {"frame_000000.png", "frame_000031.png", "frame_000059.png", "sound.wav"})
        EXPECT_TRUE(ReadBytes(fs::path(full) / name) == ReadBytes(fs::path(again) / name)) << name;

    // From 4.25 s: the frames from 43 on are those of the full run, and the
    // sound is its last 1.75 s to the sample.
    ASSERT_EQ(Capture({"--fps", "10", "--from", "4.25", "--to", "6", "--png", "--no-video", "--out", part}).status, 0);
    EXPECT_FALSE(fs::exists(fs::path(part) / "frame_000042.png"));
    for (int k = 43; k < 60; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06d.png", k);
        EXPECT_TRUE(ReadBytes(fs::path(full) / name) == ReadBytes(fs::path(part) / name)) << name;
    }
    const std::vector<int16_t> tail = WavSamples(fs::path(part) / "sound.wav");
    ASSERT_EQ(tail.size(), size_t((6 * kRate - 187425) * 2));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), sound.begin() + 187425 * 2));
}

TEST_F(CaptureProgram, FramesAtARenderScaleAreThatManyTimesLarger) {
    const std::string big = Folder("big");
    const ProgramRun run = Capture({"--fps", "10", "--to", "0.2", "--png", "--no-video", "--scale", "2", "--out", big});
    ASSERT_EQ(run.status, 0) << run.errors;
    // The PNG header's width and height.
    const std::string png = ReadBytes(fs::path(big) / "frame_000001.png");
    ASSERT_GE(png.size(), size_t(24));
    auto word = [&](size_t at) {
        return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
               uint32_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
    };
    EXPECT_EQ(word(16), 1280u);
    EXPECT_EQ(word(20), 960u);
}

TEST_F(CaptureProgram, SoundIsTheTracksOwnAtEverySegmentChange) {
    // The whole show, coarse: after the opening (whose flanger changes the
    // sound, and goes on over the audio decoded ahead, under a tenth of a
    // second) each segment's first tenth of a second in the WAV is the track's
    // own sound at that moment, so what is heard is in step with the frames.
    const std::string whole = Folder("whole");
    const ProgramRun run = Capture({"--fps", "4", "--to", "248", "--no-video", "--out", whole});
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<int16_t> sound = WavSamples(fs::path(whole) / "sound.wav");
    ASSERT_EQ(sound.size(), size_t(248 * kRate * 2));
    const std::vector<int16_t> track = DecodedTrack();
    ASSERT_GT(track.size(), size_t(245 * kRate * 2));
    const int32_t changes[] = {5600,   13775,  27490,  42000,  54880,  68428,  82150,  95955,  109681, 123334,
                               137232, 150826, 164563, 178377, 192010, 206000, 219531, 233269, 244000};
    for (int32_t ms : changes) {
        const size_t at = size_t(int64_t(ms) * kRate / 1000) * 2;
        EXPECT_TRUE(std::equal(sound.begin() + long(at), sound.begin() + long(at + kRate / 10 * 2), track.begin() + long(at)))
            << "at " << ms << " ms";
    }
    // The opening's flanger makes it differ from the bare track.
    EXPECT_FALSE(std::equal(sound.begin() + kRate * 2, sound.begin() + kRate * 4, track.begin() + kRate * 2));
}

TEST_F(CaptureProgram, VideoIsWrittenAndItsLackSaidInOneLine) {
    const std::string video = Folder("video"), plain = Folder("plain");
    ProgramRun run = Capture({"--fps", "10", "--to", "1", "--out", video});
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string mp4 = ReadBytes(fs::path(video) / "show.mp4");
    ASSERT_GT(mp4.size(), 1000u);
    EXPECT_EQ(mp4.compare(4, 4, "ftyp"), 0);

    run = Capture({"--fps", "10", "--to", "1", "--out", plain}, "/nonexistent");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find("ffmpeg is not installed, so no show.mp4; writing the rest\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::path(plain) / "show.mp4"));
    EXPECT_EQ(WavSamples(fs::path(plain) / "sound.wav").size(), size_t(kRate * 2));
}
