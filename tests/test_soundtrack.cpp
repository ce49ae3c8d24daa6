// The generated sound track: its format, its timing against the show's beat
// grid, its levels and its reproducibility; and the generator's parts that
// those rest on (beat grid, score, limiter).
#include "tools/datagen/music_dsp.h"
#include "tools/datagen/music_render.h"
#include "tools/datagen/music_score.h"

#include <gtest/gtest.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kTrackPath = "data/demo.mp3";
const double kBeatMs = 428.0;

// The show's scene cuts in ms, in order.
const int kCutsMs[19] = {5500,   13775,  27490,  42000,  54880,  68428,  82150,  95955,  109681, 123334,
                         137232, 150826, 164563, 178377, 192010, 206000, 219531, 233269, 244000};

struct DecodedTrack {
    long rate = 0;
    int channels = 0;
    std::vector<float> left, right;
    std::string error;
};

// Decodes the whole file as floats, honouring the encoder's delay and padding
// as the show's player does.
DecodedTrack Decode(const char* path) {
    DecodedTrack track;
    mpg123_init();
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    if (!h || mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_FLOAT | MPG123_QUIET, 0) != MPG123_OK ||
        mpg123_open(h, path) != MPG123_OK) {
        track.error = std::string("cannot open ") + path;
        if (h) mpg123_delete(h);
        return track;
    }
    int encoding = 0;
    mpg123_getformat(h, &track.rate, &track.channels, &encoding);
    std::vector<float> buffer(16384);
    for (int result = MPG123_OK; result != MPG123_DONE;) {
        size_t bytes = 0;
        result = mpg123_read(h, reinterpret_cast<unsigned char*>(buffer.data()), buffer.size() * sizeof(float), &bytes);
        for (size_t i = 0; i + 1 < bytes / sizeof(float); i += 2) {
            track.left.push_back(buffer[i]);
            track.right.push_back(buffer[i + 1]);
        }
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT && result != MPG123_DONE) {
            track.error = std::string("decoding failed: ") + mpg123_plain_strerror(result);
            break;
        }
    }
    mpg123_close(h);
    mpg123_delete(h);
    return track;
}

const DecodedTrack& Track() {
    static const DecodedTrack track = Decode(kTrackPath);
    return track;
}

// Onset strength per millisecond: rise of the energy in a 10 ms window of the
// signal above 200 Hz (below that, single cycles of kick and bass make the
// short-window energy ripple).
std::vector<double> OnsetStrength(const DecodedTrack& t) {
    const double k = 1.0 - std::exp(-2.0 * 3.14159265358979 * 200.0 / t.rate);
    std::vector<float> high(t.left.size());
    double a = 0.0, b = 0.0;
    for (size_t i = 0; i < high.size(); ++i) {
        double m = 0.5 * (t.left[i] + t.right[i]);
        a += k * (m - a);
        b += k * (a - b);
        high[i] = static_cast<float>(m - b);
    }
    const long half = t.rate / 200; // 5 ms
    const size_t ms = high.size() * 1000 / t.rate;
    std::vector<double> energy(ms, 0.0), onset(ms, 0.0);
    for (size_t i = 0; i < ms; ++i) {
        long centre = static_cast<long>(std::llround(i * t.rate / 1000.0));
        double sum = 0.0;
        for (long s = std::max(0L, centre - half); s < std::min<long>(high.size(), centre + half); ++s) sum += high[s] * high[s];
        energy[i] = sum;
    }
    for (size_t i = 1; i < ms; ++i) onset[i] = std::max(0.0, energy[i] - energy[i - 1]);
    return onset;
}

// Stretches of the track where the full beat plays.
const int kDrumRangesMs[][2] = {{13775, 54880}, {68428, 109681}, {150826, 192010}, {206000, 233269}};

// The strongest onsets in the drum stretches: local maxima over +-40 ms.
std::vector<int> StrongestOnsets(const std::vector<double>& onset, size_t count) {
    std::vector<std::pair<double, int>> peaks;
    for (const auto& range : kDrumRangesMs) {
        for (int i = range[0]; i < range[1]; ++i) {
            bool top = onset[i] > 0.0;
            for (int d = -40; d <= 40 && top; ++d)
                if (d != 0 && onset[i + d] > onset[i]) top = false;
            if (top) peaks.push_back({onset[i], i});
        }
    }
    std::sort(peaks.rbegin(), peaks.rend());
    std::vector<int> times;
    for (size_t i = 0; i < count && i < peaks.size(); ++i) times.push_back(peaks[i].second);
    return times;
}

double RmsDb(const DecodedTrack& t, double fromMs, double toMs) {
    size_t from = static_cast<size_t>(fromMs * t.rate / 1000.0);
    size_t to = std::min(t.left.size(), static_cast<size_t>(toMs * t.rate / 1000.0));
    double sum = 0.0;
    for (size_t i = from; i < to; ++i) sum += t.left[i] * t.left[i] + t.right[i] * t.right[i];
    return 10.0 * std::log10(sum / (2.0 * (to - from)) + 1e-12);
}

std::vector<char> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

// ------------------------------------------------------------ the file ----

TEST(SoundTrack, IsLongStereoAt44100WithGaplessHeaderAndPeaksBelowFullScale) {
    const DecodedTrack& t = Track();
    ASSERT_TRUE(t.error.empty()) << t.error;
    EXPECT_EQ(t.rate, 44100);
    EXPECT_EQ(t.channels, 2);
    double seconds = static_cast<double>(t.left.size()) / t.rate;
    EXPECT_GE(seconds, 248.0);
    EXPECT_LE(seconds, 260.0);
    // Exactly the synthesised length comes back: the encoder's delay and
    // padding were written down and removed by the decoder.
    EXPECT_EQ(static_cast<int64_t>(t.left.size()), music::ComposeSoundTrack().lengthSamples);

    // The first frame carries the "Info" tag with the "LAME" extension, and
    // no ID3 tag comes before it; about 192 kbit/s.
    std::vector<char> bytes = ReadBytes(kTrackPath);
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    std::string head(bytes.begin(), bytes.begin() + 400);
    EXPECT_NE(head.find("Info"), std::string::npos);
    EXPECT_NE(head.find("LAME"), std::string::npos);
    EXPECT_NEAR(bytes.size() * 8.0 / seconds / 1000.0, 192.0, 2.0);

    // 16-bit output clips at 32767 / 32768; and it is not a near-silent file.
    float peak = 0.0f;
    for (size_t i = 0; i < t.left.size(); ++i) peak = std::max({peak, std::fabs(t.left[i]), std::fabs(t.right[i])});
    EXPECT_LT(peak, 32767.0f / 32768.0f);
    EXPECT_GT(peak, 0.5f);
}

// --------------------------------------------------------- timing, levels ----

TEST(SoundTrack, DrumSectionsFollowTheBeatGridFromZero) {
    const DecodedTrack& t = Track();
    ASSERT_TRUE(t.error.empty()) << t.error;
    ASSERT_GT(t.left.size(), static_cast<size_t>(240 * t.rate));
    std::vector<double> onset = OnsetStrength(t);

    // The onset envelope repeats with the beat.
    std::vector<double> correlation(601, 0.0);
    for (const auto& range : kDrumRangesMs) {
        double mean = 0.0;
        for (int i = range[0]; i < range[1]; ++i) mean += onset[i];
        mean /= range[1] - range[0];
        for (int lag = 300; lag <= 600; ++lag)
            for (int i = range[0]; i + lag < range[1]; ++i) correlation[lag] += (onset[i] - mean) * (onset[i + lag] - mean);
    }
    int best = static_cast<int>(std::max_element(correlation.begin() + 300, correlation.end()) - correlation.begin());
    EXPECT_NEAR(best, 428, 2);

    // Nearly all of the strongest onsets sit on beats, of a grid whose phase
    // is 0 ms.
    std::vector<int> strongest = StrongestOnsets(onset, 100);
    ASSERT_EQ(strongest.size(), 100u);
    int onGrid = 0;
    double x = 0.0, y = 0.0;
    for (int ms : strongest) {
        double d = std::fmod(ms, kBeatMs);
        if (std::min(d, kBeatMs - d) <= 10.0) ++onGrid;
        x += std::cos(2.0 * M_PI * ms / kBeatMs);
        y += std::sin(2.0 * M_PI * ms / kBeatMs);
    }
    EXPECT_GE(onGrid, 90);
    EXPECT_LT(std::fabs(std::atan2(y, x) / (2.0 * M_PI) * kBeatMs), 10.0);
    // The track's opening sound starts on beat 0, not after an encoder delay
    // of silence.
    size_t firstAudible = 0;
    while (firstAudible < t.left.size() && std::fabs(t.left[firstAudible]) + std::fabs(t.right[firstAudible]) < 1e-3f)
        ++firstAudible;
    EXPECT_LT(firstAudible * 1000.0 / t.rate, 10.0);
}

TEST(SoundTrack, LoudnessFollowsTheIntensityOfEachSection) {
    const DecodedTrack& t = Track();
    ASSERT_TRUE(t.error.empty()) << t.error;
    // Intensity per section, 1 quiet to 5 full; the build (3 to 5) is left out.
    const int intensity[20] = {1, 2, 3, 4, 4, 0, 4, 4, 4, 3, 2, 3, 5, 5, 5, 3, 5, 4, 3, 1};
    std::vector<double> db[6];
    for (int s = 0; s < 20; ++s)
        if (intensity[s]) db[intensity[s]].push_back(RmsDb(t, s == 0 ? 0.0 : kCutsMs[s - 1], s == 19 ? 250000.0 : kCutsMs[s]));
    auto mean = [&](int i) { return std::accumulate(db[i].begin(), db[i].end(), 0.0) / double(db[i].size()); };
    for (int i = 2; i <= 5; ++i) {
        EXPECT_GT(mean(i), mean(i - 1) + 1.0) << "intensity " << i;
        // No section is louder than a quieter level's quietest... by much.
        EXPECT_GT(*std::min_element(db[i].begin(), db[i].end()), *std::max_element(db[i - 1].begin(), db[i - 1].end()) - 1.5)
            << "intensity " << i;
    }
    // The closing chord has died away by 250 s.
    EXPECT_LT(RmsDb(t, 250000.0, 251000.0), -70.0);
}

// ------------------------------------------------- the generator's parts ----

TEST(SoundTrackGenerator, BeatGridIsExactAndSectionsStartOnTheBeatAtTheShowsCuts) {
    for (int64_t beat : {0, 1, 2, 5, 13, 128, 321, 583, 584, 1000})
        EXPECT_EQ(music::BeatToSample(beat), std::llround(beat * 428.0 * 44.1)) << "beat " << beat;
    // Sections start in order, at most about half a beat from their cut.
    EXPECT_EQ(music::kSectionBeats[0], 0);
    for (int s = 1; s < 20; ++s) {
        EXPECT_LE(std::fabs(music::kSectionBeats[s] * kBeatMs - kCutsMs[s - 1]), 220.0) << "section " << s;
        EXPECT_GT(music::kSectionBeats[s], music::kSectionBeats[s - 1]);
    }
}

TEST(SoundTrackGenerator, ScoreKeepsToTheGridTheKeyAndTheTrack) {
    const music::Score score = music::ComposeSoundTrack();
    // Every kick starts exactly on a sixteenth's sample, and where the full
    // beat plays, on a beat's.
    ASSERT_FALSE(score.events[music::kTrackKick].empty());
    for (const music::NoteEvent& e : score.events[music::kTrackKick]) {
        int64_t quarter = std::llround(e.sample / (107.0 * 44.1));
        EXPECT_EQ(e.sample, music::TickToSample(quarter * music::kTicksPerBeat / 4));
        double ms = e.sample / 44.1;
        bool fullBeat = std::any_of(std::begin(kDrumRangesMs), std::end(kDrumRangesMs),
                                    [&](const auto& range) { return ms >= range[0] && ms < range[1]; });
        EXPECT_TRUE(!fullBeat || quarter % 4 == 0) << "kick off the beat at " << ms << " ms";
    }
    // Pitched parts stay in A minor (natural, with the raised seventh of the
    // dominant chord).
    const bool inKey[12] = {true, false, true, false, true, true, false, true, true, true, false, true};
    for (int track : {music::kTrackBass, music::kTrackPad, music::kTrackStab, music::kTrackLead, music::kTrackAnswer,
                      music::kTrackArp, music::kTrackBell}) {
        ASSERT_FALSE(score.events[track].empty()) << "track " << track;
        for (const music::NoteEvent& e : score.events[track])
            EXPECT_TRUE(inKey[std::lround(e.note) % 12]) << "track " << track << " note " << e.note << " at sample " << e.sample;
    }
    // Every note starts inside the track, in time order, and every
    // automation runs forwards.
    for (int track = 0; track < music::kTrackCount; ++track) {
        int64_t previous = 0;
        for (const music::NoteEvent& e : score.events[track]) {
            EXPECT_GE(e.sample, previous);
            EXPECT_LT(e.sample, score.lengthSamples);
            EXPECT_GT(e.length, 0);
            previous = e.sample;
        }
    }
    for (int p = 0; p < music::kParamCount; ++p) {
        ASSERT_FALSE(score.automation[p].empty()) << "parameter " << p;
        for (size_t i = 1; i < score.automation[p].size(); ++i)
            EXPECT_GE(score.automation[p][i].tick, score.automation[p][i - 1].tick);
    }
}

TEST(SoundTrackGenerator, LimiterHoldsTheCeilingAndPassesQuietSoundUnchanged) {
    const int lookahead = 48;
    music::Limiter limiter(0.85f, lookahead, 0.08f);
    // Quiet music, then peaks far above the ceiling, single and sustained.
    std::vector<float> left(20000), right(20000);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = 0.3f * std::sin(i * 0.05f);
        right[i] = 0.3f * std::cos(i * 0.031f);
    }
    left[12000] = 3.0f;
    right[12001] = -2.0f;
    for (size_t i = 15000; i < 16000; ++i) left[i] = (i % 2 ? 1.6f : -1.6f);
    std::vector<float> outL = left, outR = right;
    limiter.Process(outL.data(), outR.data(), static_cast<int>(outL.size()));
    for (size_t i = 0; i < outL.size(); ++i) {
        ASSERT_LE(std::fabs(outL[i]), 0.85f) << i;
        ASSERT_LE(std::fabs(outR[i]), 0.85f) << i;
    }
    // Before any peak the output is the input, late by lookahead - 1 samples.
    for (size_t i = lookahead; i < 11000; ++i) ASSERT_EQ(outL[i], left[i - (lookahead - 1)]) << i;
    // The peaks came out at the ceiling, so they were lowered, not removed.
    EXPECT_NEAR(std::fabs(outL[12000 + lookahead - 1]), 0.85f, 0.01f);
    EXPECT_LT(limiter.LowestGain(), 0.3f);
}

// ------------------------------------------------------ reproducibility ----

#ifdef TRUBELOX_DATAGEN
namespace {
// Runs the generator for the music alone into `dataDir`; its output goes to
// `log`. Returns the exit status.
int RunGenerator(const fs::path& dataDir, const fs::path& log) {
    std::string command = std::string("\"") + TRUBELOX_DATAGEN + "\" \"" + dataDir.string() + "\" --music-only > \"" +
                          log.string() + "\" 2>&1";
    return std::system(command.c_str());
}
} // namespace

TEST(SoundTrackGenerator, TwoRunsWriteIdenticalFilesAndAFolderItCannotWriteIsReported) {
    fs::path base = fs::temp_directory_path() / ("trubelox-soundtrack-" + std::to_string(getpid()));
    fs::remove_all(base);
    fs::create_directories(base);
    std::vector<std::vector<char>> files;
    for (const char* run : {"first", "second"}) {
        ASSERT_EQ(RunGenerator(base / run, base / (std::string(run) + ".log")), 0) << "see " << (base / run).string() << ".log";
        files.push_back(ReadBytes(base / run / "demo.mp3"));
        ASSERT_GT(files.back().size(), 1000000u);
    }
    EXPECT_TRUE(files[0] == files[1]);
    // The build's own data set was made by the same sources.
    EXPECT_TRUE(files[0] == ReadBytes(kTrackPath));

    // A plain file where the data folder should be: the message names it.
    std::ofstream(base / "data") << "not a folder";
    EXPECT_NE(RunGenerator(base / "data", base / "log.txt"), 0);
    std::vector<char> text = ReadBytes(base / "log.txt");
    std::string message(text.begin(), text.end());
    EXPECT_NE(message.find((base / "data").string()), std::string::npos) << message;
    fs::remove_all(base);
}
#endif
