#include "app/error.h"
#include "app/mainwindow.h"
#include "app/timer.h"
#include "platform/audio/bass.h"
#include "sound/soundsystem.h"
#include "support/capture.h"
#include "support/fatal.h"
#include "support/services.h"
#include "support/testmp3.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <utility>

namespace {

const uint64_t kMs = 1000;         // the virtual clock counts microseconds
const DWORD kSecondBytes = 176400; // one second of 44100 Hz 16-bit stereo

// What a test DSP and test syncs saw, in order.
struct sSeen {
    std::vector<int16_t> samples;
    std::vector<uint64_t> syncBytes; // bytes the DSP had seen when each sync fired
    std::vector<DWORD> syncUsers;
};
sSeen g_Seen;

void CALLBACK RecordAndHalve(HDSP, DWORD, void* buffer, DWORD length, DWORD) {
    int16_t* s = static_cast<int16_t*>(buffer);
    g_Seen.samples.insert(g_Seen.samples.end(), s, s + length / 2);
    for (DWORD i = 0; i < length / 2; ++i) s[i] = int16_t(s[i] / 2);
}

void CALLBACK RecordSync(HSYNC, DWORD, DWORD, DWORD user) {
    g_Seen.syncBytes.push_back(g_Seen.samples.size() * 2);
    g_Seen.syncUsers.push_back(user);
}

// Bytes of repeatable noise.
std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
    std::vector<uint8_t> noise(size);
    for (uint8_t& b : noise) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    return noise;
}

// A main window for the sound system, a fresh working folder, and the audio
// stand-in and the clock put back after each test.
class Sound : public ::testing::Test {
protected:
    void SetUp() override {
        Win32ResetForTests();
        m_Window = new cMainWindow;
        m_Window->Create(Win32GetInstance(), SW_HIDE);
    }

    void TearDown() override {
        delete m_Sound;
        BASS_Free(); // for the tests that use the stand-in directly
        delete m_Window;
        BassSetOfflineMode(false);
        BassSetReportedVersion(0);
        BassFailNextInits(0);
        cTimer::SetMusicPosition(0, 0);
        Win32SetVirtualClock(false);
        Win32ResetForTests();
    }

    // Offline output on the virtual clock, which starts at 1000 s.
    void StartOffline() {
        Win32SetVirtualClock(true, 1000000 * kMs);
        BassSetOfflineMode(true);
        cTimer::Reset();
    }

    // The sound system, offline, with a tone of that length as its track and
    // started (not yet fed).
    void PlayTrack(double seconds) {
        StartOffline();
        m_Sound = new cSoundSystem;
        WriteTestFile("data/demo.mp3", MakeTestMp3(44100, 2, seconds));
        m_Sound->MP3Load("demo");
        m_Sound->Play();
    }

    // The stand-in opened directly, offline.
    void OpenLibrary() {
        StartOffline();
        ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
        BASS_Start();
    }

    // A stream of the bytes (which it plays from: they must live on), playing
    // with RecordAndHalve as its DSP; 0 if it is refused.
    HSTREAM PlayRecorded(const std::vector<uint8_t>& mp3) {
        g_Seen = sSeen();
        HSTREAM stream = BASS_StreamCreateFile(TRUE, mp3.data(), 0, DWORD(mp3.size()), 0);
        if (stream) {
            EXPECT_NE(BASS_ChannelSetDSP(stream, RecordAndHalve, 0), 0u);
            EXPECT_TRUE(BASS_StreamPlay(stream, FALSE, 0));
        }
        return stream;
    }

    // Hands over the output up to the given byte of the music.
    void RenderTo(uint64_t byte) {
        ASSERT_GE(byte, m_Rendered);
        ASSERT_EQ(BassOfflineRender(nullptr, DWORD(byte - m_Rendered)), DWORD(byte - m_Rendered));
        m_Rendered = byte;
    }

    TempDataDir m_Folder;
    cMainWindow* m_Window = nullptr;
    cSoundSystem* m_Sound = nullptr;
    uint64_t m_Rendered = 0;
};

void RunFlanger(int16_t left, int16_t right, int16_t* out) {
    out[0] = left;
    out[1] = right;
    cSoundSystem::FlangerDSP(0, 0, out, 4, 0);
}

// The power (per sample) of a tone of `hz` in the left channel, and how
// many frames sin(2 pi hz t) lags there.
std::pair<double, double> Tone(const std::vector<int16_t>& s, size_t frames, double hz) {
    double w = 2 * M_PI * hz / 44100, a = 0, b = 0;
    for (size_t i = 0; i < frames; ++i) {
        a += s[i * 2] * std::sin(w * double(i));
        b += s[i * 2] * std::cos(w * double(i));
    }
    return {(a * a + b * b) / double(frames) / double(frames), std::atan2(-b, a) / w};
}

} // namespace

TEST_F(Sound, SecondSyncFiresAtEveryWholeSecondOfAudioAndTheClockCountsOnAfterTheTrack) {
    PlayTrack(3.5);
    EXPECT_EQ(cTimer::GetSeconds(), -1);
    const uint32_t startMs = uint32_t(timeGetTime());
    m_Sound->Update(); // position 0 is handed at once
    EXPECT_EQ(cTimer::GetSeconds(), 0);
    EXPECT_EQ(cTimer::GetSecondStart(), startMs);
    for (int32_t second = 1; second <= 3; ++second) {
        RenderTo(uint64_t(second) * kSecondBytes); // up to the frame before the second's first byte
        EXPECT_EQ(cTimer::GetSeconds(), second - 1);
        RenderTo(uint64_t(second) * kSecondBytes + 4);
        EXPECT_EQ(cTimer::GetSeconds(), second);
        EXPECT_EQ(cTimer::GetSecondStart(), startMs + 1000u * uint32_t(second));
    }
    RenderTo(uint64_t(6) * kSecondBytes + 4); // well past the end of the 3.5 s track
    EXPECT_EQ(cTimer::GetSeconds(), 3);
    EXPECT_EQ(cTimer::GetTime(), 6000u);
}

TEST_F(Sound, DspSeesEveryBufferOnceInOrderSyncsFireAtTheirBytesAndTheWavFileHoldsTheOutput) {
    OpenLibrary();
    const std::vector<uint8_t> mp3 = MakeTestMp3(44100, 2, 2.5);
    HSTREAM stream = PlayRecorded(mp3);
    ASSERT_NE(stream, 0u);
    // Plain syncs at a few positions; the one at 3 s lies past the end.
    for (QWORD at : {QWORD(0), QWORD(1000), QWORD(kSecondBytes), QWORD(2) * kSecondBytes, QWORD(3) * kSecondBytes})
        ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_POS, at, RecordSync, DWORD(at)), 0u);
    HSYNC removed = BASS_ChannelSetSync(stream, BASS_SYNC_POS, 2000, RecordSync, 2000);
    EXPECT_TRUE(BASS_ChannelRemoveSync(stream, removed));
    EXPECT_FALSE(BASS_ChannelRemoveSync(stream, removed));
    ASSERT_TRUE(BassOfflineBeginWav("out.wav"));

    // Uneven pieces; a sync set for a position already handed never fires.
    std::vector<int16_t> output;
    for (DWORD bytes : {4000u, 49380u, 4u, 12u, 300000u, 7u * 4096u, 2u * kSecondBytes}) {
        std::vector<int16_t> piece(bytes / 2);
        ASSERT_EQ(BassOfflineRender(piece.data(), bytes), bytes);
        if (output.empty()) // handed already, though after the last sync that fired
            BASS_ChannelSetSync(stream, BASS_SYNC_POS, 3000, RecordSync, 1);
        output.insert(output.end(), piece.begin(), piece.end());
    }
    ASSERT_TRUE(BassOfflineEndWav());
    EXPECT_EQ(g_Seen.syncBytes, (std::vector<uint64_t>{0, 1000, kSecondBytes, 2 * kSecondBytes}));
    EXPECT_EQ(g_Seen.syncUsers, (std::vector<DWORD>{0, 1000, kSecondBytes, 2 * kSecondBytes}));

    // The gapless track is exactly 2.5 s; the DSP saw it once, in order, and
    // its changes are what was output; silence follows.
    ASSERT_EQ(g_Seen.samples.size(), size_t(44100 * 5 / 2) * 2);
    size_t mismatches = 0;
    for (size_t i = 0; i < g_Seen.samples.size(); ++i)
        if (output[i] != g_Seen.samples[i] / 2) ++mismatches;
    EXPECT_EQ(mismatches, 0u);
    for (size_t i = g_Seen.samples.size(); i < output.size(); ++i) ASSERT_EQ(output[i], 0) << "at sample " << i;

    // The WAV file: a 44100 Hz 16-bit stereo header, then exactly the output.
    std::ifstream in("out.wav", std::ios::binary);
    const std::vector<uint8_t> wav{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const uint32_t data = uint32_t(output.size() * 2);
    ASSERT_EQ(wav.size(), 44u + data);
    auto field = [&](size_t at, size_t size) {
        uint32_t v = 0;
        std::memcpy(&v, &wav[at], size);
        return v;
    };
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(field(4, 4), 36u + data);
    EXPECT_EQ(field(22, 2), 2u);
    EXPECT_EQ(field(24, 4), 44100u);
    EXPECT_EQ(field(34, 2), 16u);
    EXPECT_EQ(field(40, 4), data);
    EXPECT_EQ(std::memcmp(&wav[44], output.data(), data), 0);
}

TEST_F(Sound, OtherRatesAndMonoPlayAs44100StereoAtTheirExactLengthAndTime) {
    struct sCase { int rate, channels; double seconds; };
    OpenLibrary();
    for (const sCase& c : {sCase{44100, 2, 1.0}, sCase{22050, 1, 2.0}, sCase{48000, 2, 2.0}, sCase{32000, 1, 1.0}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channel(s)");
        const std::vector<uint8_t> mp3 = MakeTestMp3(c.rate, c.channels, c.seconds);
        HSTREAM stream = PlayRecorded(mp3);
        ASSERT_NE(stream, 0u);
        BassOfflineRender(nullptr, DWORD(c.seconds + 1) * kSecondBytes);
        BASS_StreamFree(stream);

        // Exactly as long as the original; the tone keeps its moment (a
        // converter's own delay would show as a lag) and its pitch; mono is
        // the same on both sides, the stereo file's right side is the left
        // one inverted.
        const std::vector<int16_t>& s = g_Seen.samples;
        size_t frames = s.size() / 2;
        EXPECT_EQ(frames, size_t(std::lround(c.seconds * 44100)));
        const auto tone = Tone(s, frames, 441);
        EXPECT_NEAR(tone.second, 0.0, 0.25);
        size_t sideMismatches = 0;
        for (size_t i = 1; i < frames; ++i)
            if (c.channels == 1 ? s[i * 2 + 1] != s[i * 2] : std::abs(s[i * 2 + 1] + s[i * 2]) > 2) ++sideMismatches;
        EXPECT_LT(sideMismatches, frames / 100);
        // The original's images (around its own rate, folded into the
        // output's band) are filtered out, not left as whistles.
        EXPECT_GT(tone.first, 1e6); // the tone is there, at its pitch
        if (c.rate == 44100) continue;
        double image = c.rate - 441.0;
        while (image > 22050) image = std::fabs(44100 - image);
        EXPECT_LT(10 * std::log10(Tone(s, frames, image).first / tone.first), -70.0) << "image at " << image << " Hz";
    }
}

TEST(Flanger, MixesTheDelayedCopyKeepsTheInputAndClampsTo16Bits) {
    struct sCase {
        float delay;
        int16_t in[2];
        int16_t atR[2]; // ring slot r = trunc(delay) + index
        int16_t atN[2]; // and the one after it
        int16_t out[2];
    };
    const sCase cases[] = {
        {500.0f, {20000, -20000}, {20000, -20000}, {0, 0}, {32767, -32768}},
        {500.0f, {100, -100}, {200, -50}, {999, 999}, {300, -150}},
        {500.25f, {1000, 0}, {400, -400}, {800, -800}, {1500, -500}},
        {999.5f, {-32768, 32767}, {-1, 1}, {-1, 1}, {-32768, 32767}},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "delay " << c.delay << " input " << c.in[0]);
        std::memset(g_FlangerRing, 0, sizeof g_FlangerRing);
        g_FlangerIndex = 7;
        g_FlangerDelay = c.delay;
        g_FlangerStep = 0.002f;
        int32_t r = (int32_t(c.delay) + 7) % FLANGER_FRAMES;
        g_FlangerRing[r] = {c.atR[0], c.atR[1]};
        g_FlangerRing[(r + 1) % FLANGER_FRAMES] = {c.atN[0], c.atN[1]};
        int16_t out[2];
        RunFlanger(c.in[0], c.in[1], out);
        EXPECT_EQ(out[0], c.out[0]);
        EXPECT_EQ(out[1], c.out[1]);
        EXPECT_EQ(g_FlangerRing[7].left, c.in[0]); // the unmixed input
        EXPECT_EQ(g_FlangerRing[7].right, c.in[1]);
    }
}

TEST(Flanger, SweepTurnsOnceTheDelayPassesABoundAndWrapsTheRing) {
    std::memset(g_FlangerRing, 0, sizeof g_FlangerRing);
    g_FlangerIndex = 995;
    g_FlangerStep = 0.002f;
    int16_t out[2];
    float before = 0;
    // Runs frames from the delay until the sweep turns; returns how many.
    auto sweepFrom = [&](float delay) {
        g_FlangerDelay = delay;
        const float step = g_FlangerStep;
        int frames = 0;
        for (; g_FlangerStep == step && frames < 1000; ++frames) {
            before = g_FlangerDelay;
            RunFlanger(1, 1, out);
        }
        return frames;
    };
    int frames = sweepFrom(999.9f);
    EXPECT_LE(before, 1000.0f);
    EXPECT_GT(g_FlangerDelay, 1000.0f);
    EXPECT_LE(g_FlangerDelay, 1000.0f + 0.0021f);
    EXPECT_EQ(g_FlangerIndex, (995 + frames) % FLANGER_FRAMES); // wrapped to the ring's start
    RunFlanger(1, 1, out);
    EXPECT_LT(g_FlangerDelay, 1000.0f + 0.0021f);
    EXPECT_FLOAT_EQ(g_FlangerStep, -0.002f); // turned once, not back at the next frame

    sweepFrom(0.1f);
    EXPECT_GE(before, 0.0f);
    EXPECT_LT(g_FlangerDelay, 0.0f);
    EXPECT_GE(g_FlangerDelay, -0.0021f);
    EXPECT_FLOAT_EQ(g_FlangerStep, 0.002f);
}

TEST_F(Sound, FlangerInstallsOnceAndRemovesCleanly) {
    PlayTrack(2.0);
    m_Sound->Update();
    g_FlangerHandle = 0;
    m_Sound->SetFlanger(false); // nothing installed: nothing happens
    EXPECT_EQ(g_FlangerHandle, 0u);

    // One DSP, however often it is switched on: the ring advances one slot
    // per frame.
    m_Sound->SetFlanger(true);
    m_Sound->SetFlanger(true);
    RenderTo(1234 * 4);
    EXPECT_EQ(g_FlangerIndex, 234);
    EXPECT_NEAR(g_FlangerDelay, 500.0f + 1234 * 0.002f, 0.1f); // float sums drift a little

    m_Sound->SetFlanger(false);
    RenderTo(2000 * 4);
    EXPECT_EQ(g_FlangerIndex, 234);

    m_Sound->SetFlanger(true); // starts afresh
    EXPECT_EQ(g_FlangerIndex, 0);
    EXPECT_FLOAT_EQ(g_FlangerDelay, 500.0f);
    RenderTo(2010 * 4);
    EXPECT_EQ(g_FlangerIndex, 10);
}

TEST_F(Sound, StartFailuresAreFatal) {
    StartOffline();
    for (DWORD version : {0x00030002u, 0x00020001u, 0x00040001u, 0x00010003u, 0x00030000u}) {
        BassSetReportedVersion(version);
        EXPECT_EQ(ErrorOf([] { delete new cSoundSystem; }), FatalText("Invalid Bass DLL Version 1.3 needed"))
            << std::hex << version;
    }
    BassSetReportedVersion(0);

    BassFailNextInits(1); // the second set of flags is tried
    EXPECT_EQ(ErrorOf([] { delete new cSoundSystem; }), "");
    BassFailNextInits(2);
    EXPECT_EQ(ErrorOf([] { delete new cSoundSystem; }), FatalText("MP3Load Can't initialize digital sound system"));

    delete m_Window;
    m_Window = nullptr;
    EXPECT_EQ(ErrorOf([] { delete new cSoundSystem; }), FatalText("Soundsystem first initialize MainWindow"));
}

TEST_F(Sound, FilesThatCannotBePlayedAreFatal) {
    StartOffline();
    m_Sound = new cSoundSystem;
    EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("demo"); }), FatalText("MP3Load FileNotfound"));
    // Only a file is a sound track: a directory (which would tell a size of
    // gigabytes) or a pipe (which would block) named like it is not found.
    ASSERT_TRUE(std::filesystem::create_directory("data/demo.mp3"));
    EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("demo"); }), FatalText("MP3Load FileNotfound"));
    std::filesystem::remove("data/demo.mp3");
    ASSERT_EQ(mkfifo("data/demo.mp3", 0600), 0);
    EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("demo"); }), FatalText("MP3Load FileNotfound"));
    std::filesystem::remove("data/demo.mp3");

    std::string text;
    for (int i = 0; i < 200; ++i) text += "This is a text file and no sound track at all.\n";
    const std::vector<uint8_t> mp3 = MakeTestMp3(44100, 2, 1.0);
    for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>(text.begin(), text.end()), Noise(20000, 1),
                                              std::vector<uint8_t>(), std::vector<uint8_t>(mp3.begin(), mp3.begin() + 200)}) {
        WriteTestFile("data/demo.mp3", bytes);
        EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("demo"); }), FatalText("MP3Load can't create Stream"))
            << bytes.size() << " bytes";
    }
    // Paths are Windows paths: the case of the name does not matter.
    WriteTestFile("data/Track.mp3", mp3);
    EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("tRACK"); }), "");
}

TEST_F(Sound, DamagedFilesPlayWhatTheyCanOrAreRefused) {
    OpenLibrary();
    const std::vector<uint8_t> mp3 = MakeTestMp3(44100, 2, 2.0), noise = Noise(mp3.size(), 7);
    std::vector<uint8_t> corrupt = mp3;
    for (size_t i = 0; i < corrupt.size(); i += 97) corrupt[i] = noise[i];
    for (size_t cut : {mp3.size() / 10, mp3.size() / 2, mp3.size() - 1, size_t(0)}) {
        const std::vector<uint8_t> bytes = cut ? std::vector<uint8_t>(mp3.begin(), mp3.begin() + long(cut)) : corrupt;
        SCOPED_TRACE(testing::Message() << (cut ? "cut" : "corrupt") << ", " << bytes.size() << " bytes");
        HSTREAM stream = PlayRecorded(bytes);
        if (!stream) continue; // refused: fine
        EXPECT_EQ(BassOfflineRender(nullptr, 3 * kSecondBytes), 3 * kSecondBytes);
        EXPECT_LE(g_Seen.samples.size(), size_t(2 * 44100 * 2 + 2 * 1152 * 2)); // never more than the track
        BASS_StreamFree(stream);
    }
}

TEST_F(Sound, LiveClockFollowsTheWallClockAndNeverGoesBack) {
    WriteTestFile("data/demo.mp3", MakeTestMp3(44100, 2, 4.0));
    const std::string driver = std::getenv("SDL_AUDIODRIVER"); // set by the test programs' main
    for (bool device : {true, false}) {
        SCOPED_TRACE(device ? "SDL dummy driver" : "no audio driver");
        // Where no device opens, the sound plays to the null output and says so.
        setenv("SDL_AUDIODRIVER", device ? driver.c_str() : "no-such-driver", 1);
        cTimer::Reset();
        {
            OutputCapture capture;
            m_Sound = new cSoundSystem;
            setenv("SDL_AUDIODRIVER", driver.c_str(), 1);
            EXPECT_EQ(BassGetOutputKind(), device ? BASS_OUTPUT_DEVICE : BASS_OUTPUT_NULL);
            EXPECT_EQ(capture.debug.find("silent null output") != std::string::npos, !device) << capture.debug;
        }
        m_Sound->MP3Load("demo");
        m_Sound->Play();
        m_Sound->Update();
        EXPECT_EQ(cTimer::GetSeconds(), 0); // the music drives the clock from here

        auto wallStart = std::chrono::steady_clock::now();
        uint32_t first = cTimer::GetTime(), previous = first, now = first;
        int backwards = 0; // reported once
        double wallMs = 0;
        while (wallMs < 2000.0) {
            now = cTimer::GetTime();
            if (now < previous && backwards++ == 0)
                ADD_FAILURE() << "the clock went back from " << previous << " to " << now << " ms";
            previous = now;
            // The timeline switches the flanger while the music plays.
            m_Sound->SetFlanger((now / 100) % 2 == 1);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
        }
        EXPECT_NEAR(double(now - first), wallMs, wallMs * 0.25);
        EXPECT_GE(cTimer::GetSeconds(), 1);
        delete m_Sound;
        m_Sound = nullptr;
    }
}
