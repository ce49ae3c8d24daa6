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
#include <functional>
#include <sys/stat.h>
#include <thread>

namespace {

const uint64_t kMs = 1000;         // the virtual clock counts microseconds
const DWORD kSecondBytes = 176400; // one second of 44100 Hz 16-bit stereo



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
        BassForceNullOutput(false);
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

    void LoadTrack(const std::vector<uint8_t>& mp3) {
        WriteTestFile("data/demo.mp3", mp3);
        m_Sound->MP3Load("demo");
    }

    // Hands over the output up to the given byte of the music.
    void RenderTo(uint64_t byte) {
        ASSERT_GE(byte, m_Rendered);
        std::vector<int16_t> out((byte - m_Rendered) / 2);
        ASSERT_EQ(BassOfflineRender(out.data(), DWORD(byte - m_Rendered)), DWORD(byte - m_Rendered));
        m_Rendered = byte;
    }

    void RenderMs(uint32_t ms) {
        LARGE_INTEGER c;
        QueryPerformanceCounter(&c);
        RenderTo(m_Rendered + BassOfflineBytesUntil(uint64_t(c.QuadPart / 10) + ms * kMs));
    }

    TempDataDir m_Folder;
    cMainWindow* m_Window = nullptr;
    cSoundSystem* m_Sound = nullptr;
    uint64_t m_Rendered = 0;
};

uint32_t NowMs() { return uint32_t(timeGetTime()); }

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

void RunFlanger(int16_t left, int16_t right, int16_t* out) {
    int16_t frame[2] = {left, right};
    cSoundSystem::FlangerDSP(0, 0, frame, 4, 0);
    out[0] = frame[0];
    out[1] = frame[1];
}

} // namespace

TEST_F(Sound, SecondSyncFiresAtEveryWholeSecondOfAudioAndStopsAtTheEnd) {
    StartOffline();
    m_Sound = new cSoundSystem;
    EXPECT_EQ(BassGetOutputKind(), BASS_OUTPUT_OFFLINE);
    LoadTrack(MakeTestMp3(44100, 2, 3.5));
    m_Sound->Play();
    EXPECT_EQ(cTimer::GetSeconds(), -1);
    const uint32_t startMs = NowMs();
    m_Sound->Update(); // position 0 is handed at once
    EXPECT_EQ(cTimer::GetSeconds(), 0);
    EXPECT_EQ(cTimer::GetSecondStart(), startMs);

    for (int32_t second = 1; second <= 3; ++second) {
        RenderTo(uint64_t(second) * kSecondBytes - 4);
        EXPECT_EQ(cTimer::GetSeconds(), second - 1);
        RenderTo(uint64_t(second) * kSecondBytes); // the frame before the second's first byte
        EXPECT_EQ(cTimer::GetSeconds(), second - 1);
        RenderTo(uint64_t(second) * kSecondBytes + 4);
        EXPECT_EQ(cTimer::GetSeconds(), second);
        EXPECT_EQ(cTimer::GetSecondStart(), startMs + 1000u * uint32_t(second));
    }
    RenderTo(uint64_t(6) * kSecondBytes); // well past the end of the 3.5 s track
    EXPECT_EQ(cTimer::GetSeconds(), 3);
}

TEST_F(Sound, ClockFollowsTheMusicAndCountsOnAfterTheTrack) {
    StartOffline();
    m_Sound = new cSoundSystem;
    LoadTrack(MakeTestMp3(44100, 2, 8.5));
    m_Sound->Play();
    m_Sound->Update();
    EXPECT_EQ(cTimer::GetTime(), 0u);
    RenderMs(7250);
    EXPECT_EQ(cTimer::GetSeconds(), 7);
    EXPECT_EQ(cTimer::GetTime(), 7250u);
    RenderMs(1250); // to the end of the track
    EXPECT_EQ(cTimer::GetTime(), 8500u);
    Win32AdvanceVirtualClock(3000 * kMs);
    EXPECT_EQ(cTimer::GetSeconds(), 8);
    EXPECT_EQ(cTimer::GetTime(), 11500u);
}

TEST_F(Sound, DspSeesEveryBufferOnceInOrderAndSyncsFireAtTheirBytes) {
    StartOffline();
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    BASS_Start();
    const std::vector<uint8_t> mp3 = MakeTestMp3(44100, 2, 2.5);
    HSTREAM stream = BASS_StreamCreateFile(TRUE, mp3.data(), 0, DWORD(mp3.size()), 0);
    ASSERT_NE(stream, 0u);
    g_Seen = sSeen();
    ASSERT_NE(BASS_ChannelSetDSP(stream, RecordAndHalve, 0), 0u);
    // Plain syncs at a few positions; the one at 3 s lies past the end.
    for (QWORD at : {QWORD(0), QWORD(1000), QWORD(kSecondBytes), QWORD(2) * kSecondBytes, QWORD(3) * kSecondBytes})
        ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_POS, at, RecordSync, DWORD(at)), 0u);
    HSYNC removed = BASS_ChannelSetSync(stream, BASS_SYNC_POS, 2000, RecordSync, 2000);
    EXPECT_TRUE(BASS_ChannelRemoveSync(stream, removed));
    EXPECT_FALSE(BASS_ChannelRemoveSync(stream, removed));
    ASSERT_TRUE(BASS_StreamPlay(stream, FALSE, 0));

    // Uneven pieces; a sync set for a position already handed never fires.
    std::vector<int16_t> output;
    bool lateSyncSet = false;
    for (DWORD bytes : {4000u, 49380u, 4u, 12u, 300000u, 7u * 4096u, 2u * kSecondBytes}) {
        std::vector<int16_t> piece(bytes / 2);
        ASSERT_EQ(BassOfflineRender(piece.data(), bytes), bytes);
        output.insert(output.end(), piece.begin(), piece.end());
        if (!lateSyncSet && output.size() * 2 > kSecondBytes / 2) {
            BASS_ChannelSetSync(stream, BASS_SYNC_POS, kSecondBytes / 4, RecordSync, 1);
            lateSyncSet = true;
        }
    }
    EXPECT_EQ(g_Seen.syncBytes, (std::vector<uint64_t>{0, 1000, kSecondBytes, 2 * kSecondBytes}));
    EXPECT_EQ(g_Seen.syncUsers, (std::vector<DWORD>{0, 1000, kSecondBytes, 2 * kSecondBytes}));

    // The gapless track is exactly 2.5 s; the DSP saw it once, in order, and
    // its changes are what was output; silence follows.
    ASSERT_EQ(g_Seen.samples.size(), size_t(44100 * 5 / 2) * 2);
    ASSERT_GE(output.size(), g_Seen.samples.size());
    size_t mismatches = 0, loud = 0;
    for (size_t i = 0; i < g_Seen.samples.size(); ++i) {
        if (output[i] != g_Seen.samples[i] / 2) ++mismatches;
        if (std::abs(g_Seen.samples[i]) > 5000) ++loud;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(loud, g_Seen.samples.size() / 4); // it is the tone, not silence
    for (size_t i = g_Seen.samples.size(); i < output.size(); ++i) ASSERT_EQ(output[i], 0) << "at sample " << i;
}

TEST_F(Sound, OfflineOutputIsWrittenToAWavFile) {
    StartOffline();
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    BASS_Start();
    const std::vector<uint8_t> mp3 = MakeTestMp3(44100, 2, 1.0);
    HSTREAM stream = BASS_StreamCreateFile(TRUE, mp3.data(), 0, DWORD(mp3.size()), 0);
    ASSERT_TRUE(BASS_StreamPlay(stream, FALSE, 0));
    ASSERT_TRUE(BassOfflineBeginWav("out.wav"));
    std::vector<int16_t> out(kSecondBytes / 2);
    ASSERT_EQ(BassOfflineRender(out.data(), kSecondBytes), kSecondBytes);
    ASSERT_TRUE(BassOfflineEndWav());

    FILE* f = std::fopen("out.wav", "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> wav(44 + kSecondBytes + 1);
    size_t size = std::fread(wav.data(), 1, wav.size(), f);
    std::fclose(f);
    ASSERT_EQ(size, 44u + kSecondBytes);
    uint32_t riff, rate, data;
    uint16_t channels, bits;
    std::memcpy(&riff, &wav[4], 4);
    std::memcpy(&channels, &wav[22], 2);
    std::memcpy(&rate, &wav[24], 4);
    std::memcpy(&bits, &wav[34], 2);
    std::memcpy(&data, &wav[40], 4);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(riff, 36u + kSecondBytes);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(data, kSecondBytes);
    EXPECT_EQ(std::memcmp(&wav[44], out.data(), kSecondBytes), 0);
}

// Power of one frequency in a channel (Goertzel), per sample.
double TonePower(const std::vector<int16_t>& s, size_t frames, int channel, double hz) {
    double w = 2 * M_PI * hz / 44100, c = 2 * std::cos(w), s1 = 0, s2 = 0;
    for (size_t i = 0; i < frames; ++i) {
        double s0 = s[i * 2 + size_t(channel)] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - c * s1 * s2) / double(frames) / double(frames);
}

// How many frames the 441 Hz tone, sin(2 pi 441 t), lags in the output.
double ToneLag(const std::vector<int16_t>& s, size_t frames) {
    double w = 2 * M_PI * 441 / 44100, a = 0, b = 0;
    for (size_t i = 0; i < frames; ++i) {
        a += s[i * 2] * std::sin(w * double(i));
        b += s[i * 2] * std::cos(w * double(i));
    }
    return std::atan2(-b, a) / w;
}

TEST_F(Sound, OtherRatesAndMonoPlayAs44100StereoAtTheirExactLengthAndTime) {
    struct sCase {
        int rate;
        int channels;
        double seconds;
    };
    StartOffline();
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    BASS_Start();
    for (const sCase& c : {sCase{44100, 2, 1.0}, sCase{22050, 1, 2.0}, sCase{48000, 2, 2.0}, sCase{32000, 1, 1.0}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channel(s)");
        const std::vector<uint8_t> mp3 = MakeTestMp3(c.rate, c.channels, c.seconds);
        HSTREAM stream = BASS_StreamCreateFile(TRUE, mp3.data(), 0, DWORD(mp3.size()), 0);
        ASSERT_NE(stream, 0u);
        g_Seen = sSeen();
        BASS_ChannelSetDSP(stream, RecordAndHalve, 0);
        ASSERT_TRUE(BASS_StreamPlay(stream, FALSE, 0));
        std::vector<int16_t> out(size_t(c.seconds + 1) * kSecondBytes / 2);
        BassOfflineRender(out.data(), DWORD(out.size() * 2));
        BASS_StreamFree(stream);

        // Exactly as long as the original; the tone keeps its moment (a
        // converter's own delay would show as a lag) and its pitch; mono is
        // the same on both sides, the stereo file's right side is the left
        // one inverted.
        const std::vector<int16_t>& s = g_Seen.samples;
        size_t frames = s.size() / 2;
        EXPECT_EQ(frames, size_t(std::lround(c.seconds * 44100)));
        EXPECT_NEAR(ToneLag(s, frames), 0.0, 0.25);
        size_t sideMismatches = 0;
        for (size_t i = 1; i < frames; ++i) {
            bool same = c.channels == 1 ? s[i * 2 + 1] == s[i * 2] : std::abs(s[i * 2 + 1] + s[i * 2]) <= 2;
            if (!same) ++sideMismatches;
        }
        EXPECT_LT(sideMismatches, frames / 100);
        // The original's images (around its own rate, folded into the
        // output's band) are filtered out, not left as whistles.
        double tone = TonePower(s, frames, 0, 441);
        EXPECT_GT(tone, 1e6); // the tone is there, at its pitch
        if (c.rate == 44100) continue;
        double image = c.rate - 441.0;
        while (image > 22050) image = std::fabs(44100 - image);
        EXPECT_LT(10 * std::log10(TonePower(s, frames, 0, image) / tone), -70.0) << "image at " << image << " Hz";
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
        EXPECT_EQ(g_FlangerIndex, 8);
    }
}

TEST(Flanger, SweepTurnsOnceTheDelayPassesABoundAndWrapsTheRing) {
    std::memset(g_FlangerRing, 0, sizeof g_FlangerRing);
    g_FlangerIndex = 995;
    g_FlangerDelay = 999.9f;
    g_FlangerStep = 0.002f;
    int16_t out[2];
    float before = g_FlangerDelay;
    int frames = 0;
    while (g_FlangerStep > 0 && frames < 1000) {
        before = g_FlangerDelay;
        RunFlanger(1, 1, out);
        ++frames;
    }
    EXPECT_LE(before, 1000.0f);
    EXPECT_GT(g_FlangerDelay, 1000.0f);
    EXPECT_LE(g_FlangerDelay, 1000.0f + 0.0021f);
    EXPECT_FLOAT_EQ(g_FlangerStep, -0.002f);
    EXPECT_EQ(g_FlangerIndex, (995 + frames) % FLANGER_FRAMES); // wrapped to the ring's start
    RunFlanger(1, 1, out);
    EXPECT_LT(g_FlangerDelay, 1000.0f + 0.0021f);
    EXPECT_FLOAT_EQ(g_FlangerStep, -0.002f);

    g_FlangerDelay = 0.1f;
    frames = 0;
    while (g_FlangerStep < 0 && frames < 1000) {
        before = g_FlangerDelay;
        RunFlanger(1, 1, out);
        ++frames;
    }
    EXPECT_GE(before, 0.0f);
    EXPECT_LT(g_FlangerDelay, 0.0f);
    EXPECT_GE(g_FlangerDelay, -0.0021f);
    EXPECT_FLOAT_EQ(g_FlangerStep, 0.002f);
}

TEST_F(Sound, FlangerInstallsOnceAndRemovesCleanly) {
    StartOffline();
    m_Sound = new cSoundSystem;
    LoadTrack(MakeTestMp3(44100, 2, 2.0));
    m_Sound->Play();
    m_Sound->Update();

    g_FlangerHandle = 0;
    m_Sound->SetFlanger(false); // nothing installed: nothing happens
    EXPECT_FALSE(m_Sound->m_bFlanger);
    EXPECT_EQ(g_FlangerHandle, 0u);

    m_Sound->SetFlanger(true);
    HDSP first = g_FlangerHandle;
    EXPECT_NE(first, 0u);
    m_Sound->SetFlanger(true);
    EXPECT_EQ(g_FlangerHandle, first);
    // One DSP: the ring advances one slot per frame.
    RenderTo(1234 * 4);
    EXPECT_EQ(g_FlangerIndex, 234);
    EXPECT_NEAR(g_FlangerDelay, 500.0f + 1234 * 0.002f, 0.1f); // float sums drift a little

    m_Sound->SetFlanger(false);
    EXPECT_FALSE(m_Sound->m_bFlanger);
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
    EXPECT_EQ(m_Sound->m_hStream, 0u);
    // Only a file is a sound track: a directory (which would tell a size of
    // gigabytes) or a pipe (which would block) named like it is not found.
    ASSERT_TRUE(std::filesystem::create_directory("data/demo.mp3"));
    EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("demo"); }), FatalText("MP3Load FileNotfound"));
    EXPECT_EQ(m_Sound->m_pData, nullptr);
    std::filesystem::remove("data/demo.mp3");
    ASSERT_EQ(mkfifo("data/demo.mp3", 0600), 0);
    EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("demo"); }), FatalText("MP3Load FileNotfound"));
    std::filesystem::remove("data/demo.mp3");

    std::string text;
    for (int i = 0; i < 200; ++i) text += "This is a text file and no sound track at all.\n";
    std::vector<uint8_t> noise(20000);
    uint32_t seed = 1;
    for (uint8_t& b : noise) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    const std::vector<uint8_t> mp3 = MakeTestMp3(44100, 2, 1.0);
    for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>(text.begin(), text.end()), noise,
                                              std::vector<uint8_t>(), std::vector<uint8_t>(mp3.begin(), mp3.begin() + 200)}) {
        WriteTestFile("data/demo.mp3", bytes);
        EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("demo"); }), FatalText("MP3Load can't create Stream"))
            << bytes.size() << " bytes";
    }
    // Paths are Windows paths: the case of the name does not matter.
    WriteTestFile("data/Track.mp3", mp3);
    EXPECT_EQ(ErrorOf([&] { m_Sound->MP3Load("tRACK"); }), "");
    EXPECT_NE(m_Sound->m_hStream, 0u);
}

TEST_F(Sound, DamagedFilesPlayWhatTheyCanOrAreRefused) {
    StartOffline();
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    BASS_Start();
    const std::vector<uint8_t> mp3 = MakeTestMp3(44100, 2, 2.0);
    std::vector<std::vector<uint8_t>> damaged;
    for (size_t cut : {mp3.size() / 10, mp3.size() / 2, mp3.size() - 1})
        damaged.emplace_back(mp3.begin(), mp3.begin() + long(cut));
    std::vector<uint8_t> corrupt = mp3;
    uint32_t seed = 7;
    for (size_t i = 0; i < corrupt.size(); i += 97) corrupt[i] = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    damaged.push_back(corrupt);
    for (const std::vector<uint8_t>& bytes : damaged) {
        SCOPED_TRACE(testing::Message() << bytes.size() << " of " << mp3.size() << " bytes");
        g_Seen = sSeen();
        HSTREAM stream = BASS_StreamCreateFile(TRUE, bytes.data(), 0, DWORD(bytes.size()), 0);
        if (!stream) continue; // refused: fine
        BASS_ChannelSetDSP(stream, RecordAndHalve, 0);
        ASSERT_TRUE(BASS_StreamPlay(stream, FALSE, 0));
        std::vector<int16_t> out(3 * kSecondBytes / 2);
        EXPECT_EQ(BassOfflineRender(out.data(), 3 * kSecondBytes), 3 * kSecondBytes);
        EXPECT_LE(g_Seen.samples.size(), size_t(2 * 44100 * 2 + 2 * 1152 * 2)); // never more than the track
        BASS_StreamFree(stream);
    }
}

TEST_F(Sound, LiveClockFollowsTheWallClockAndNeverGoesBack) {
    const std::vector<uint8_t> mp3 = MakeTestMp3(44100, 2, 4.0);
    for (bool null : {false, true}) {
        SCOPED_TRACE(null ? "null output" : "SDL dummy driver");
        BassForceNullOutput(null);
        cTimer::Reset();
        m_Sound = new cSoundSystem;
        EXPECT_EQ(BassGetOutputKind(), null ? BASS_OUTPUT_NULL : BASS_OUTPUT_DEVICE);
        LoadTrack(mp3);
        m_Sound->Play();
        m_Sound->Update();
        EXPECT_EQ(cTimer::GetSeconds(), 0); // the music drives the clock from here

        auto wallStart = std::chrono::steady_clock::now();
        uint32_t first = cTimer::GetTime(), previous = first, now = first;
        int backwards = 0;
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
        EXPECT_EQ(backwards, 0);
        EXPECT_NEAR(double(now - first), wallMs, wallMs * 0.25);
        EXPECT_GE(cTimer::GetSeconds(), 1);
        delete m_Sound;
        m_Sound = nullptr;
    }
}

TEST_F(Sound, WithoutAnAudioDeviceItPlaysToTheNullOutputAndSaysSo) {
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    std::string saved = driver ? driver : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    OutputCapture capture;
    m_Sound = new cSoundSystem;
    if (saved.empty()) unsetenv("SDL_AUDIODRIVER");
    else setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    EXPECT_EQ(BassGetOutputKind(), BASS_OUTPUT_NULL);
    EXPECT_NE(capture.debug.find("silent null output"), std::string::npos) << capture.debug;
}
