#include "sound/soundsystem.h"

#include "app/error.h"
#include "app/mainwindow.h"
#include "app/timer.h"
#include "math/math3d.h"
#include "platform/win32/win32.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {
const DWORD kBassVersion = 0x00030001;
const DWORD kSyncOnePosition = 0x80000000; // one-time sync at a byte position
const QWORD kBytesPerSecond = 176400;      // 44100 Hz, 2 channels, 16 bits

[[noreturn]] void FailWithPath(const char* problem, const std::string& path) {
    throw cError((std::string(problem) + ": " + path).c_str());
}

int16_t Clamp16(int32_t m) {
    if (m <= -32768) return -32768;
    if (m >= 32767) return 32767;
    return int16_t(m);
}
} // namespace

HSTREAM g_SyncStream = 0;
int64_t g_SoundFrequency = 0;
HDSP g_FlangerHandle = 0;
sStereoSample g_FlangerRing[FLANGER_FRAMES];
int32_t g_FlangerIndex = 0;
float g_FlangerDelay = 500.0f;
float g_FlangerStep = 0.002f;

cSoundSystem::cSoundSystem() {
    if (!cMainWindow::s_pMainWindow) throw cError("Soundsystem first initialize MainWindow");
    g_SoundFrequency = cTimer::ReadFrequency();
    m_bFlanger = false;
    m_hStream = 0;
    m_pData = nullptr;
    m_DataSize = 0;
    // The clock stays in its first mode until the first sync fires.
    cTimer::SetMusicPosition(-1, 0);
    if (BASS_GetVersion() != kBassVersion) throw cError("Invalid Bass DLL Version 1.3 needed");
    HWND window = cMainWindow::s_pMainWindow->m_hWnd;
    if (!BASS_Init(-1, 44100, 0xC0, window) && !BASS_Init(-1, 44100, 0x80, window))
        throw cError("MP3Load Can't initialize digital sound system");
    BASS_Start();
}

cSoundSystem::~cSoundSystem() {
    BASS_Stop();
    BASS_StreamFree(m_hStream);
    BASS_Free();
    delete[] m_pData;
}

void cSoundSystem::MP3Load(const char* name) {
    BASS_ChannelStop(m_hStream);
    BASS_StreamFree(m_hStream);
    m_hStream = 0;

    char* path = new char[1024];
    std::snprintf(path, 1024, "data\\%s.mp3", name ? name : "");
    // Only a regular file opens: a directory would tell a size of gigabytes.
    FILE* file = Win32OpenFile(path, "rb");
    const std::string where = Win32MapPath(path);
    delete[] path;
    if (!file) throw cError("MP3Load FileNotfound");

    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    // The stream takes a 32-bit length. (Compared unsigned: where long has
    // 32 bits, long(UINT32_MAX) is -1.)
    if (size > 0 && uint64_t(size) > UINT32_MAX) {
        std::fclose(file);
        FailWithPath("Sound track too big", where);
    }
    m_DataSize = size > 0 ? uint32_t(size) : 0;

    delete[] m_pData;
    m_pData = new (std::nothrow) uint8_t[m_DataSize ? m_DataSize : 1];
    if (!m_pData) {
        std::fclose(file);
        m_DataSize = 0;
        FailWithPath("Not enough memory for the sound track", where);
    }
    // A short read leaves nothing half-read to play: the stream call refuses it.
    size_t got = std::fread(m_pData, 1, m_DataSize, file);
    std::fclose(file);
    if (got != m_DataSize) m_DataSize = 0;

    m_hStream = BASS_StreamCreateFile(TRUE, m_pData, 0, m_DataSize, 0);
    if (!m_hStream) throw cError("MP3Load can't create Stream");
}

void cSoundSystem::Play() {
    g_SyncStream = m_hStream;
    BASS_ChannelSetSync(g_SyncStream, kSyncOnePosition, 0, SecondSync, 0);
    if (!BASS_StreamPlay(m_hStream, FALSE, 0)) throw cError("Can't play mp3");
}

void cSoundSystem::Stop() { BASS_ChannelStop(m_hStream); }

void cSoundSystem::Update() { BASS_Update(); }

void cSoundSystem::SetFlanger(bool on) {
    if (on && !m_bFlanger) {
        std::memset(g_FlangerRing, 0, sizeof g_FlangerRing);
        g_FlangerIndex = 0;
        g_FlangerDelay = 500.0f;
        g_FlangerStep = 0.002f;
        g_FlangerHandle = BASS_ChannelSetDSP(m_hStream, FlangerDSP, 0);
        m_bFlanger = true;
    } else if (!on && m_bFlanger) {
        BASS_ChannelRemoveDSP(m_hStream, g_FlangerHandle);
        m_bFlanger = false;
    }
}

void CALLBACK cSoundSystem::SecondSync(HSYNC handle, DWORD, DWORD, DWORD) {
    // The first call, at position 0, makes the seconds 0.
    int32_t seconds = cTimer::GetSeconds() + 1;
    cTimer::SetMusicPosition(seconds, cTimer::RawReading(g_SoundFrequency));
    BASS_ChannelRemoveSync(g_SyncStream, handle);
    BASS_ChannelSetSync(g_SyncStream, kSyncOnePosition, QWORD(seconds + 1) * kBytesPerSecond, SecondSync, 0);
}

void CALLBACK cSoundSystem::FlangerDSP(HDSP, DWORD, void* buffer, DWORD length, DWORD) {
    int16_t* s = static_cast<int16_t*>(buffer);
    for (DWORD at = 0; at + 4 <= length; at += 4, s += 2) {
        int32_t r = (int32_t(g_FlangerDelay) + g_FlangerIndex) % FLANGER_FRAMES;
        if (r < 0) r += FLANGER_FRAMES; // never read outside the ring
        int32_t n = (r + 1) % FLANGER_FRAMES;
        float f = float(Wrap(g_FlangerDelay, 1.0));

        int32_t left = s[0] + int32_t((1.0f - f) * g_FlangerRing[r].left + g_FlangerRing[n].left * f);
        g_FlangerRing[g_FlangerIndex].left = s[0];
        s[0] = Clamp16(left);

        int32_t right = s[1] + int32_t((1.0f - f) * g_FlangerRing[r].right + g_FlangerRing[n].right * f);
        g_FlangerRing[g_FlangerIndex].right = s[1];
        s[1] = Clamp16(right);

        if (++g_FlangerIndex >= FLANGER_FRAMES) g_FlangerIndex = 0;
        g_FlangerDelay += g_FlangerStep;
        if (g_FlangerDelay < 0.0f || g_FlangerDelay > 1000.0f) g_FlangerStep = -g_FlangerStep;
    }
}
