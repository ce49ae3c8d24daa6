// The capture program, run as a user runs it: its frames and sound, their
// agreement with each other and with the sound track, repeatability, the
// range options and the option errors.
#include <gtest/gtest.h>

#include <mpg123.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const int kRate = 44100;

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ProgramRun {
    int status = -1;
    std::string errors; // what it wrote to standard error
};

// Runs build/trubelox-capture with the arguments; `path` replaces PATH when
// given.
ProgramRun Capture(const std::vector<std::string>& arguments, const char* path = nullptr) {
    static const fs::path errorFile = fs::temp_directory_path() / ("capture-errors-" + std::to_string(getpid()));
    std::string command = path ? std::string("PATH=") + path + " ./trubelox-capture" : "./trubelox-capture";
    for (const std::string& a : arguments) command += " '" + a + "'";
    const int status = std::system((command + " >/dev/null 2>" + errorFile.string()).c_str());
    ProgramRun run{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadBytes(errorFile)};
    fs::remove(errorFile);
    return run;
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
    std::vector<int16_t> samples, buffer(16384);
    mpg123_init();
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    if (!h) return samples;
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_STEREO | MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    mpg123_format(h, kRate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    int result = mpg123_open(h, "data/demo.mp3");
    for (size_t bytes = 0; result == MPG123_OK || result == MPG123_NEW_FORMAT;) {
        result = mpg123_read(h, reinterpret_cast<unsigned char*>(buffer.data()), buffer.size() * 2, &bytes);
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + long(bytes / 2));
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

    static fs::path Frame(const fs::path& folder, int k) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06d.png", k);
        return folder / name;
    }

    fs::path root;
};

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
    const fs::path full = root / "full", again = root / "again", part = root / "part";
    for (const fs::path& out : {full, again}) {
        const ProgramRun run = Capture({"--fps", "10", "--to", "6", "--png", "--no-video", "--out", out.string()});
        ASSERT_EQ(run.status, 0) << run.errors;
    }
    // From 4.25 s: frame k shows k / 10 s, so the first is frame 43.
    const ProgramRun run = Capture({"--fps", "10", "--from", "4.25", "--to", "6", "--png", "--no-video", "--out", part.string()});
    ASSERT_EQ(run.status, 0) << run.errors;

    // Frames 0 to 59; a second run writes the same bytes, and the part run
    // the same frames from 43 on and none before.
    EXPECT_FALSE(fs::exists(Frame(full, 60)));
    for (int k = 0; k < 60; ++k) {
        SCOPED_TRACE(k);
        const std::string frame = ReadBytes(Frame(full, k));
        ASSERT_FALSE(frame.empty());
        EXPECT_TRUE(ReadBytes(Frame(again, k)) == frame);
        if (k >= 43) EXPECT_TRUE(ReadBytes(Frame(part, k)) == frame);
        else EXPECT_FALSE(fs::exists(Frame(part, k)));
    }
    // The sound is exactly 6 s long, the same again, and the part's is its
    // last 1.75 s to the sample.
    const std::vector<int16_t> sound = WavSamples(full / "sound.wav");
    EXPECT_EQ(sound.size(), size_t(6 * kRate * 2));
    EXPECT_TRUE(WavSamples(again / "sound.wav") == sound);
    const size_t from = 187425; // 4.25 s
    const std::vector<int16_t> tail = WavSamples(part / "sound.wav");
    ASSERT_EQ(tail.size(), size_t((6 * kRate - from) * 2));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), sound.begin() + long(from * 2)));
}

TEST_F(CaptureProgram, SoundIsTheTracksOwnAtEverySegmentChange) {
    // The whole show, coarse: after the opening (whose flanger changes the
    // sound, and goes on over the audio decoded ahead, under a tenth of a
    // second) each segment's first tenth of a second in the WAV is the track's
    // own sound at that moment, so what is heard is in step with the frames.
    const ProgramRun run = Capture({"--fps", "4", "--to", "248", "--no-video", "--out", root.string()});
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<int16_t> sound = WavSamples(root / "sound.wav");
    ASSERT_EQ(sound.size(), size_t(248 * kRate * 2));
    const std::vector<int16_t> track = DecodedTrack();
    ASSERT_GT(track.size(), size_t(245 * kRate * 2));
    for (int32_t ms : {5600,   13775,  27490,  42000,  54880,  68428,  82150,  95955,  109681, 123334,
                       137232, 150826, 164563, 178377, 192010, 206000, 219531, 233269, 244000}) {
        const long at = long(int64_t(ms) * kRate / 1000) * 2;
        EXPECT_TRUE(std::equal(sound.begin() + at, sound.begin() + at + kRate / 10 * 2, track.begin() + at))
            << "at " << ms << " ms";
    }
    // The opening's flanger makes it differ from the bare track.
    EXPECT_FALSE(std::equal(sound.begin() + kRate * 2, sound.begin() + kRate * 4, track.begin() + kRate * 2));
}

TEST_F(CaptureProgram, VideoIsWrittenAndItsLackSaidInOneLineAndFramesFollowTheRenderScale) {
    const fs::path video = root / "video", plain = root / "plain";
    ProgramRun run = Capture({"--fps", "10", "--to", "1", "--out", video.string()});
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string mp4 = ReadBytes(video / "show.mp4");
    ASSERT_GT(mp4.size(), 1000u);
    EXPECT_EQ(mp4.compare(4, 4, "ftyp"), 0);

    // Without ffmpeg, and with frames at twice the size: the rest is written.
    run = Capture({"--fps", "10", "--to", "1", "--png", "--scale", "2", "--out", plain.string()}, "/nonexistent");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find("ffmpeg is not installed, so no show.mp4; writing the rest\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(plain / "show.mp4"));
    EXPECT_EQ(WavSamples(plain / "sound.wav").size(), size_t(kRate * 2));
    // The PNG header's width and height, big-endian: 1280 x 960.
    const std::string png = ReadBytes(Frame(plain, 1));
    ASSERT_GE(png.size(), size_t(24));
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x05\x00\0\0\x03\xC0", 8));
}
