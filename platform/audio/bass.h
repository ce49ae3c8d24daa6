// Stand-in for the audio library calls the system makes (interface version
// 1.3), built on SDL2 audio and libmpg123. It offers the library's names,
// types and constant values, and only the subset the system uses.
//
// What the system may rely on:
// - BASS_GetVersion answers 0x00030001.
// - The output mixes at 44100 Hz, 16-bit stereo. Where no audio device opens,
//   a silent null output consumes the mix in real time instead (said once on
//   the debugger output); everything else behaves the same.
// - A stream is made from an MP3 in memory, which the caller keeps alive
//   until BASS_StreamFree. It always delivers 44100 Hz 16-bit stereo,
//   whatever the file's rate and channel count, decoded gaplessly (a gapless
//   tagged file starts at its first real sample). One second of a stream is
//   176400 bytes. Data that does not decode makes the stream call fail (0).
// - Time, on the monotonic clock that QueryPerformanceCounter reads: the
//   null output and the offline mode hear output frame f at a fixed moment,
//   start + f / 44100 s. A device is fed at its own pace, so that it never
//   runs short while a stream has data, and each frame is heard when the
//   device plays it: after the device's buffer and any latency beyond it
//   (TRUBELOX_AUDIO_LATENCY_MS), learnt from when the device takes frames,
//   at the device's own rate. A stream started while nothing else plays
//   begins at once (on a device, with its next buffer).
// - A position sync (BASS_SYNC_POS, with BASS_SYNC_ONETIME or not) fires on
//   the audio thread when its byte position is heard, at the first whole
//   millisecond of that moment, so on the null output and offline syncs one
//   second of audio apart fire exactly 1000 ms apart. A sync set at a
//   position already heard does not fire; none fires past the end of the
//   stream. A one-time sync is removed before its callback runs. Callbacks
//   may set and remove syncs.
// - A DSP callback sees every buffer of its playing stream once, in order,
//   in place, before the buffer is mixed: interleaved 16-bit stereo, a whole
//   number of frames. BASS_ChannelRemoveDSP returns once the DSP is no longer
//   running (unless called from a callback).
// - Callbacks run on the audio thread with no lock held that
//   BASS_ChannelSetSync/RemoveSync/SetDSP/RemoveDSP or BASS_Update take, and
//   the audio path allocates nothing. BASS_StreamPlay decodes the first
//   second; decoding then runs ahead on the audio thread; the device's own
//   callback only copies finished samples.
// - BASS_Update returns once every stream started by BASS_StreamPlay has
//   begun (its first frame is heard and its position-0 sync has fired), so a
//   clock read after it already follows the music.
#pragma once

#include "platform/win32/win32.h"

#include <cstdint>

typedef uint64_t QWORD;
typedef DWORD HSTREAM;
typedef DWORD HSYNC;
typedef DWORD HDSP;

// Sync types.
#define BASS_SYNC_POS 0
#define BASS_SYNC_ONETIME 0x80000000

typedef void(CALLBACK SYNCPROC)(HSYNC handle, DWORD channel, DWORD data, DWORD user);
typedef void(CALLBACK DSPPROC)(HDSP handle, DWORD channel, void* buffer, DWORD length, DWORD user);

// The version word: minor version in the high word, major in the low word.
DWORD WINAPI BASS_GetVersion();

// Opens the output (device -1 is the default device). The mixing rate is
// always 44100 Hz; flags are accepted and ignored. Fails when already open.
BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win);
// Starts (or resumes) and stops (pauses) the whole output.
BOOL WINAPI BASS_Start();
BOOL WINAPI BASS_Stop();
// Closes the output and frees every stream, sync and DSP.
BOOL WINAPI BASS_Free();
// Lets the audio thread catch up (see above).
BOOL WINAPI BASS_Update();

// Only from memory (mem TRUE): length bytes at file + offset.
HSTREAM WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags);
// Plays from the stream's current position; flush TRUE restarts from 0.
BOOL WINAPI BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags);
BOOL WINAPI BASS_StreamFree(HSTREAM handle);
BOOL WINAPI BASS_ChannelStop(DWORD handle);

// param is the byte position in the stream's decoded audio.
HSYNC WINAPI BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, DWORD user);
BOOL WINAPI BASS_ChannelRemoveSync(DWORD handle, HSYNC sync);
HDSP WINAPI BASS_ChannelSetDSP(DWORD handle, DSPPROC* proc, DWORD user);
BOOL WINAPI BASS_ChannelRemoveDSP(DWORD handle, HDSP dsp);

// ---------------------------------------------------------------------------
// Stand-in controls: not the library's interface. Used by the capture
// program and the tests.

enum BassOutputKind { BASS_OUTPUT_NONE, BASS_OUTPUT_DEVICE, BASS_OUTPUT_NULL, BASS_OUTPUT_OFFLINE };

// What BASS_Init opened, and the SDL driver's name for a device ("" else).
BassOutputKind BassGetOutputKind();
const char* BassGetOutputDriver();

// The version word BASS_GetVersion reports; 0 restores the real one.
void BassSetReportedVersion(DWORD version);
// The next `count` calls of BASS_Init fail.
void BassFailNextInits(int count);
// Live output goes to the null output even where a device would open.
void BassForceNullOutput(bool on);

// Offline mode, chosen before BASS_Init: no device and no audio thread. The
// caller pulls the output; the stream, its syncs and DSPs run exactly as
// live, on the caller's thread. With the virtual clock on (win32.h), pulling
// moves the clock forward to each sync's moment before the sync fires and to
// the moment of the last frame pulled, so the output is the time base.
void BassSetOfflineMode(bool on);
// Hands over the next `bytes` of output (a whole number of 4-byte frames)
// and copies the processed mix to buffer (may be null). Returns the bytes
// rendered: 0 when the output is not open in offline mode or is stopped.
DWORD BassOfflineRender(void* buffer, DWORD bytes);
// How many bytes of output become due from now until the given time on the
// monotonic clock (in microseconds, as QueryPerformanceCounter / 10): so
// "the next 40 ms" is BassOfflineBytesUntil(now + 40000).
DWORD BassOfflineBytesUntil(uint64_t microseconds);
// A stand-in output device for the tests, chosen before BASS_Init in place
// of SDL's: no audio thread runs. On the virtual clock the caller plays both
// the device, taking output as SDL's callback would (BassTestDeviceTake), and
// the audio thread (BassTestDeviceStep). The device says that what it takes
// is heard latencyUs later (as SDL's buffer size says for a real one).
void BassSetTestDevice(bool on, uint32_t latencyUs = 0);
// The device takes the next `bytes` of output (a whole number of frames).
void BassTestDeviceTake(void* buffer, DWORD bytes);
// One pass of the audio thread now; returns the moment (µs on the monotonic
// clock) it would wake again.
uint64_t BassTestDeviceStep();
// Sees every buffer a device takes, on its callback's thread, right after it
// was filled: the frames, and the moment (µs on the monotonic clock) the
// callback began. For measuring; the observer must be quick. Null removes it.
typedef void (*BassDeviceObserver)(const int16_t* frames, DWORD count, uint64_t microseconds, void* user);
void BassSetDeviceObserver(BassDeviceObserver observer, void* user);
// What a device's frames take from its callback to the ear, as the stand-in
// counts it (µs); 0 for the other outputs.
uint32_t BassGetOutputLatencyUs();
// Writes everything BassOfflineRender hands over, from now on, to a 44100 Hz
// 16-bit stereo WAV file, until BassOfflineEndWav or BASS_Free.
bool BassOfflineBeginWav(const char* path);
bool BassOfflineEndWav();
