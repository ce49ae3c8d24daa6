// Audio stand-in: streams decoded from memory, mixed and handed to an
// output, with position syncs that fire when their frame is heard, and DSPs.
// One engine serves all outputs. The null output and the offline mode hear
// each output frame at a fixed moment, start + f / 44100 s, and are mixed
// when due. A device (the output's, output.h, or the tests' stand-in) is
// mixed a little ahead into a FIFO that its callback drains at its own pace;
// the callback reports what it took and when, and an OutputClock learns from
// that when each frame is heard. Live, an audio thread steps the engine, or
// the output does where there are no threads (a web page); offline (and with
// the tests' device) the caller does.
#include "platform/audio/bass.h"

#include "platform/audio/mp3decoder.h"
#include "platform/audio/output.h"
#include "platform/audio/outputclock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "WAV output writes samples as they lie in memory");

namespace {

const DWORD kVersion = 0x00030001;
const int64_t kRate = 44100;
const int kMaxStreams = 8;
const int kMaxSyncs = 64;
const int kMaxDsps = 16;
const size_t kPieceFrames = 1024;         // the largest buffer a DSP sees
const size_t kStreamBufferFrames = 44100; // decoded ahead per stream
const size_t kDecodeStepFrames = 4096;    // decoding done ahead per step
const int64_t kDeviceLeadFrames = 1764;   // the device FIFO holds at least 40 ms
const int64_t kTickUs = 5000;             // the audio thread steps at least this often
const size_t kFifoFrames = 32768;
const int kReportRing = 256; // device reports not yet taken in by the engine
const int kReportHistory = 64; // reports the engine keeps, to place frames

// ---------------------------------------------------------------------------
// Time

int64_t NowUs() {
    LARGE_INTEGER f, c;
    if (QueryPerformanceFrequency(&f) && f.QuadPart > 0 && QueryPerformanceCounter(&c)) {
        int64_t q = c.QuadPart / f.QuadPart, r = c.QuadPart % f.QuadPart;
        return q * 1000000 + r * 1000000 / f.QuadPart;
    }
    return int64_t(timeGetTime()) * 1000;
}

// Microseconds from the schedule's origin to output frame f (rounded up).
int64_t RelTime(int64_t f) { return (f * 1000000 + kRate - 1) / kRate; }

int64_t CeilMs(int64_t t) {
    int64_t q = t / 1000;
    if (q * 1000 < t) ++q;
    return q * 1000;
}

int64_t FloorMs(int64_t t) {
    int64_t q = t / 1000;
    if (q * 1000 > t) --q;
    return q * 1000;
}

void MoveVirtualClockTo(int64_t t) {
    if (!Win32IsVirtualClock()) return;
    int64_t now = NowUs();
    if (t > now) Win32AdvanceVirtualClock(uint64_t(t - now));
}

// ---------------------------------------------------------------------------
// Handles: a generation above an index, so a stale handle never matches.

std::atomic<uint32_t> g_Generation{0};

DWORD MakeHandle(int index) {
    uint32_t gen = (g_Generation.fetch_add(1) + 1) & 0xFFFFFFu;
    if (gen == 0) gen = 1;
    return (gen << 8) | DWORD(index + 1);
}

int IndexOf(DWORD handle, int limit) {
    int i = int(handle & 0xFF) - 1;
    return (i >= 0 && i < limit) ? i : -1;
}

// ---------------------------------------------------------------------------
// Syncs and DSPs live in fixed slots, set and removed without locks (a sync
// callback sets the next sync while the engine runs). Fields are atomics so
// the engine may look at a slot while another thread refills it.

enum { kSlotFree, kSlotReserved, kSlotArmed, kSlotFiring, kSlotRemovedWhileFiring };

struct SyncSlot {
    std::atomic<int> state{kSlotFree};
    std::atomic<DWORD> handle{0};
    std::atomic<DWORD> channel{0};
    std::atomic<DWORD> type{0};
    std::atomic<QWORD> position{0};
    std::atomic<SYNCPROC*> proc{nullptr};
    std::atomic<DWORD> user{0};
};

struct DspSlot {
    std::atomic<int> state{kSlotFree};
    std::atomic<DWORD> handle{0};
    std::atomic<DWORD> channel{0};
    std::atomic<DSPPROC*> proc{nullptr};
    std::atomic<DWORD> user{0};
};

SyncSlot g_Syncs[kMaxSyncs];
DspSlot g_Dsps[kMaxDsps];
std::atomic<int> g_RunningDsp{-1};
std::atomic<DWORD> g_StreamHandles[kMaxStreams];

bool IsStreamHandle(DWORD handle) {
    int i = IndexOf(handle, kMaxStreams);
    return i >= 0 && handle != 0 && g_StreamHandles[i].load() == handle;
}

// ---------------------------------------------------------------------------
// The device FIFO: the engine writes, the device callback reads. The engine
// keeps it filled ahead of what the device takes, never beyond its room; a
// short read (the engine was not scheduled in time) is filled with silence.

struct OutputFifo {
    std::vector<int16_t> data;
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> read{0};
    std::atomic<uint64_t> flushTo{UINT64_MAX};

    void Reset() {
        data.assign(kFifoFrames * 2, 0);
        written = 0;
        read = 0;
        flushTo = UINT64_MAX;
    }

    void Push(const int16_t* src, size_t frames) {
        uint64_t w = written.load(std::memory_order_relaxed);
        uint64_t r = read.load(std::memory_order_acquire);
        size_t room = kFifoFrames - size_t(w - r);
        frames = std::min(frames, room);
        for (size_t i = 0; i < frames; ++i) {
            size_t at = size_t((w + i) % kFifoFrames) * 2;
            data[at] = src[i * 2];
            data[at + 1] = src[i * 2 + 1];
        }
        written.store(w + frames, std::memory_order_release);
    }

    // Everything written so far is dropped at the next read.
    void RequestFlush() { flushTo.store(written.load(std::memory_order_relaxed), std::memory_order_release); }

    // Returns the frames read (the rest is silence) and where they began.
    size_t Pop(int16_t* dst, size_t frames, uint64_t* start) {
        uint64_t r = read.load(std::memory_order_relaxed);
        uint64_t f = flushTo.exchange(UINT64_MAX, std::memory_order_acq_rel);
        if (f != UINT64_MAX && f > r) r = f;
        uint64_t w = written.load(std::memory_order_acquire);
        size_t n = std::min(frames, size_t(w - r));
        for (size_t i = 0; i < n; ++i) {
            size_t at = size_t((r + i) % kFifoFrames) * 2;
            dst[i * 2] = data[at];
            dst[i * 2 + 1] = data[at + 1];
        }
        std::memset(dst + n * 2, 0, (frames - n) * 4);
        read.store(r + n, std::memory_order_release);
        *start = r;
        return n;
    }
};

// What a device callback took: `frames` at the device's own position
// `position`, of which the first `taken` came from the FIFO at `read` (the
// rest was silence), at moment `us`.
struct DeviceReport {
    int64_t us;
    int64_t position;
    uint64_t read;
    uint32_t frames;
    uint32_t taken;
};

// Reports from the callback to the engine: one writer, one reader, no lock.
// When the engine falls far behind, reports are dropped; each one stands on
// its own.
struct ReportRing {
    DeviceReport items[kReportRing];
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> read{0};

    void Push(const DeviceReport& r) {
        uint64_t w = written.load(std::memory_order_relaxed);
        if (w - read.load(std::memory_order_acquire) >= uint64_t(kReportRing)) return;
        items[w % kReportRing] = r;
        written.store(w + 1, std::memory_order_release);
    }

    bool Pop(DeviceReport* r) {
        uint64_t at = read.load(std::memory_order_relaxed);
        if (at == written.load(std::memory_order_acquire)) return false;
        *r = items[at % kReportRing];
        read.store(at + 1, std::memory_order_release);
        return true;
    }
};

// ---------------------------------------------------------------------------
// Streams: touched only under the engine lock.

enum StreamState { kStopped, kStarting, kPlaying };

struct Stream {
    DWORD handle = 0;
    Mp3Decoder decoder;
    std::vector<int16_t> buffer; // ring of decoded frames
    size_t head = 0;
    size_t count = 0;
    uint64_t decodedEnd = 0; // byte position where the decoded audio ends
    uint64_t position = 0;   // bytes mixed
    uint64_t syncCursor = 0; // syncs below this position have had their moment
    int64_t startFrame = 0;  // output frame that holds stream position 0
    StreamState state = kStopped;
    bool ended = false;
    bool heard = false; // its first frame has been heard (BASS_Update waits for it)
};

std::mutex g_Mutex; // the engine: streams, schedule, output
std::condition_variable g_Wake;
std::condition_variable g_Started;
std::thread g_Thread;
bool g_StopThread = false;
thread_local bool t_HoldsEngine = false;

std::unique_ptr<Stream> g_Streams[kMaxStreams];
bool g_Open = false;
bool g_Running = false;
BassOutputKind g_Kind = BASS_OUTPUT_NONE;
std::string g_Driver;
int64_t g_Origin = 0;      // moment of output frame 0, µs
int64_t g_Processed = 0;   // output frames mixed
uint64_t g_SyncsFired = 0;

bool g_DeviceOpen = false; // the output's device (not the tests')
OutputFifo g_Fifo;

// The device's side: its position, written only by its callback.
int64_t g_DevicePosition = 0;
ReportRing g_Reports;
// The engine's side: when device positions are heard, the latest reports,
// and the FIFO frame the last flush skips to.
OutputClock g_OutputClock;
int64_t g_LatencyUs = 0;
DeviceReport g_History[kReportHistory];
int g_HistoryCount = 0;
int g_HistoryNext = 0;
uint64_t g_FlushTarget = 0;
int64_t g_LargestTake = 0;
bool g_TestDevice = false;
uint32_t g_TestDeviceLatencyUs = 0;
std::atomic<BassDeviceObserver> g_Observer{nullptr};
std::atomic<void*> g_ObserverUser{nullptr};

int16_t g_Mix[kPieceFrames * 2];
int16_t g_Scratch[kPieceFrames * 2];

// Offline: where the current render call wants its frames.
int16_t* g_OfflineOut = nullptr;
size_t g_OfflineWritten = 0;
FILE* g_Wav = nullptr;
uint64_t g_WavFrames = 0;

// Controls.
DWORD g_ReportedVersion = 0;
int g_FailInits = 0;
bool g_ForceNull = false;
bool g_OfflineMode = false;

int64_t FrameTime(int64_t f) { return g_Origin + RelTime(f); }

// Engine steps run by the caller: offline, and with the tests' device.
bool CallerSteps() { return g_Kind == BASS_OUTPUT_OFFLINE || (g_Kind == BASS_OUTPUT_DEVICE && g_TestDevice); }

// Output frames whose moment is at or before t.
int64_t FramesDueBy(int64_t t) {
    if (t < g_Origin) return 0;
    return (t - g_Origin) * kRate / 1000000 + 1;
}

Stream* FindStream(DWORD handle) {
    int i = IndexOf(handle, kMaxStreams);
    if (i < 0 || handle == 0 || !g_Streams[i] || g_Streams[i]->handle != handle) return nullptr;
    return g_Streams[i].get();
}

// The engine lock, unless this thread already holds it (a callback calling
// back into the library).
class EngineLock {
public:
    EngineLock() {
        if (!t_HoldsEngine) {
            m_Lock = std::unique_lock<std::mutex>(g_Mutex);
            t_HoldsEngine = true;
            m_Owner = true;
        }
    }
    ~EngineLock() {
        if (m_Owner) t_HoldsEngine = false;
    }
    std::unique_lock<std::mutex>& Lock() { return m_Lock; }

private:
    std::unique_lock<std::mutex> m_Lock;
    bool m_Owner = false;
};

// ---------------------------------------------------------------------------
// Decoding and mixing

void EnsureDecoded(Stream& s, uint64_t bytes) {
    while (s.decodedEnd < bytes && !s.decoder.Done() && s.count < kStreamBufferFrames) {
        size_t tail = (s.head + s.count) % kStreamBufferFrames;
        size_t room = std::min(kStreamBufferFrames - s.count, kStreamBufferFrames - tail);
        size_t got = s.decoder.Read(&s.buffer[tail * 2], room);
        if (got == 0) break;
        s.count += got;
        s.decodedEnd += uint64_t(got) * 4;
    }
}

size_t TakeFrames(Stream& s, int16_t* out, size_t frames) {
    size_t n = std::min(frames, s.count);
    for (size_t done = 0; done < n;) {
        size_t run = std::min(n - done, kStreamBufferFrames - s.head);
        std::memcpy(out + done * 2, &s.buffer[s.head * 2], run * 4);
        s.head = (s.head + run) % kStreamBufferFrames;
        done += run;
    }
    s.count -= n;
    return n;
}

void RunDsps(DWORD channel, int16_t* buffer, DWORD bytes) {
    for (int i = 0; i < kMaxDsps; ++i) {
        DspSlot& d = g_Dsps[i];
        if (d.channel.load() != channel) continue;
        // Mark the slot running before checking it, so that a remover either
        // sees it running (and waits) or this sees it removed.
        g_RunningDsp.store(i);
        if (d.state.load() == kSlotArmed && d.channel.load() == channel)
            d.proc.load()(d.handle.load(), channel, buffer, bytes, d.user.load());
        g_RunningDsp.store(-1);
    }
}

void HandToOutput(const int16_t* mix, size_t frames) {
    switch (g_Kind) {
    case BASS_OUTPUT_DEVICE:
        g_Fifo.Push(mix, frames);
        break;
    case BASS_OUTPUT_OFFLINE:
        if (g_OfflineOut) std::memcpy(g_OfflineOut + g_OfflineWritten * 2, mix, frames * 4);
        g_OfflineWritten += frames;
        if (g_Wav) {
            std::fwrite(mix, 4, frames, g_Wav);
            g_WavFrames += frames;
        }
        break;
    default:
        break; // the null output just lets the frames go by
    }
}

void MixUntil(int64_t target) {
    while (g_Processed < target) {
        size_t n = size_t(std::min<int64_t>(target - g_Processed, int64_t(kPieceFrames)));
        std::memset(g_Mix, 0, n * 4);
        for (auto& sp : g_Streams) {
            if (!sp || sp->state != kPlaying || sp->ended) continue;
            Stream& s = *sp;
            EnsureDecoded(s, s.position + n * 4);
            size_t got = TakeFrames(s, g_Scratch, n);
            if (got > 0) {
                RunDsps(s.handle, g_Scratch, DWORD(got * 4));
                for (size_t i = 0; i < got * 2; ++i)
                    g_Mix[i] = int16_t(std::clamp(int32_t(g_Mix[i]) + g_Scratch[i], -32768, 32767));
            }
            s.position += uint64_t(got) * 4;
            if (got < n) s.ended = true;
        }
        HandToOutput(g_Mix, n);
        g_Processed += int64_t(n);
    }
}

// ---------------------------------------------------------------------------
// Device timing

// The device's callback (the output's, or the tests' device): takes frames
// from the FIFO and reports what it took and when.
void DeviceTake(int16_t* dst, size_t frames, int64_t us) {
    uint64_t read = 0;
    size_t taken = g_Fifo.Pop(dst, frames, &read);
    g_Reports.Push(DeviceReport{us, g_DevicePosition, read, uint32_t(frames), uint32_t(taken)});
    g_DevicePosition += int64_t(frames);
    g_Wake.notify_one();
    if (BassDeviceObserver observer = g_Observer.load()) observer(dst, DWORD(frames), uint64_t(us), g_ObserverUser.load());
}

void ForgetDeviceTiming() {
    DeviceReport r;
    while (g_Reports.Pop(&r)) {
    }
    g_OutputClock.Reset(double(kRate));
    g_HistoryCount = g_HistoryNext = 0;
}

const DeviceReport& ReportBack(int i) { return g_History[(g_HistoryNext - 1 - i + 2 * kReportHistory) % kReportHistory]; }

void AbsorbReports() {
    DeviceReport r;
    while (g_Reports.Pop(&r)) {
        g_OutputClock.Observe(r.position, r.us + g_LatencyUs);
        g_History[g_HistoryNext] = r;
        g_HistoryNext = (g_HistoryNext + 1) % kReportHistory;
        g_HistoryCount = std::min(g_HistoryCount + 1, kReportHistory);
        g_LargestTake = std::max<int64_t>(g_LargestTake, r.frames);
    }
}

// The device position of output frame f, once the device has taken it.
bool TakenPosition(int64_t f, int64_t* position) {
    if (g_HistoryCount == 0 || f < 0) return false;
    const DeviceReport& last = ReportBack(0);
    if (uint64_t(f) >= last.read + last.taken) return false;
    for (int i = 0; i < g_HistoryCount; ++i) {
        const DeviceReport& r = ReportBack(i);
        if (uint64_t(f) >= r.read || i == g_HistoryCount - 1) {
            *position = r.position + (f - int64_t(r.read));
            return true;
        }
    }
    return false;
}

// The moment output frame f is heard; INT64_MAX while a device has not
// taken it (it cannot be heard before).
int64_t HeardTime(int64_t f) {
    if (g_Kind != BASS_OUTPUT_DEVICE) return FrameTime(f);
    int64_t position = 0;
    if (!g_OutputClock.Known() || !TakenPosition(f, &position)) return INT64_MAX;
    return g_OutputClock.HeardAt(position);
}

// Output frames heard at or before t.
int64_t FramesHeardBy(int64_t t) {
    if (g_Kind != BASS_OUTPUT_DEVICE) return FramesDueBy(t);
    if (!g_OutputClock.Known() || g_HistoryCount == 0) return 0;
    int64_t p = g_OutputClock.PositionAt(t);
    for (int i = 0; i < g_HistoryCount; ++i) {
        const DeviceReport& r = ReportBack(i);
        if (r.position <= p) return int64_t(r.read) + std::min<int64_t>(p - r.position + 1, r.taken);
    }
    return int64_t(ReportBack(g_HistoryCount - 1).read);
}

// Where mixing for the device stops: enough ahead of what it has taken that
// its next callbacks find data, whatever their size.
int64_t DeviceMixTarget() {
    uint64_t read = g_Fifo.read.load(std::memory_order_acquire);
    int64_t fill = std::max(kDeviceLeadFrames, 2 * g_LargestTake);
    int64_t from = int64_t(std::max(read, g_FlushTarget));
    return std::min(from + fill, int64_t(read + kFifoFrames));
}

// ---------------------------------------------------------------------------
// Syncs

int64_t SyncDue(const Stream& s, QWORD position) {
    int64_t heard = HeardTime(s.startFrame + int64_t(position / 4));
    return heard == INT64_MAX ? INT64_MAX : CeilMs(heard);
}

// The armed sync of a playing stream whose moment comes first.
bool NextSync(Stream** stream, QWORD* position, int64_t* due) {
    bool found = false;
    for (auto& sp : g_Streams) {
        if (!sp || sp->state != kPlaying) continue;
        Stream& s = *sp;
        for (SyncSlot& slot : g_Syncs) {
            if (slot.state.load(std::memory_order_acquire) != kSlotArmed || slot.channel.load() != s.handle) continue;
            QWORD pos = slot.position.load();
            if (pos < s.syncCursor) continue;
            if (s.decoder.Done() && pos >= s.decodedEnd) continue; // past the end
            int64_t d = SyncDue(s, pos);
            if (!found || d < *due || (d == *due && pos < *position)) {
                found = true;
                *stream = &s;
                *position = pos;
                *due = d;
            }
        }
    }
    return found;
}

int64_t NextSyncDue() {
    Stream* s;
    QWORD pos;
    int64_t due;
    return NextSync(&s, &pos, &due) ? due : INT64_MAX;
}

void FireSyncsAt(Stream& s, QWORD position) {
    for (int i = 0; i < kMaxSyncs; ++i) {
        SyncSlot& slot = g_Syncs[i];
        int armed = kSlotArmed;
        if (slot.state.load() != kSlotArmed) continue;
        if (slot.channel.load() != s.handle || slot.position.load() != position) continue;
        if (!slot.state.compare_exchange_strong(armed, kSlotFiring)) continue;
        if (slot.channel.load() != s.handle || slot.position.load() != position) {
            slot.state.store(kSlotArmed); // refilled meanwhile: not ours
            continue;
        }
        HSYNC handle = slot.handle.load();
        SYNCPROC* proc = slot.proc.load();
        DWORD user = slot.user.load();
        bool oneTime = (slot.type.load() & BASS_SYNC_ONETIME) != 0;
        if (oneTime) {
            // Removed before the callback runs, so the slot is free for the
            // sync the callback may set.
            slot.handle.store(0);
            slot.state.store(kSlotFree);
        }
        ++g_SyncsFired;
        proc(handle, s.handle, 0, user);
        if (!oneTime) {
            int firing = kSlotFiring;
            if (!slot.state.compare_exchange_strong(firing, kSlotArmed)) {
                slot.handle.store(0);
                slot.state.store(kSlotFree);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The engine step: starts what was asked to play, fires the syncs whose
// moment has come (mixing up to each first), and mixes up to the lead.

// A stream is starting from BASS_StreamPlay until its first frame is heard.
bool AnyStarting() {
    for (auto& sp : g_Streams)
        if (sp && (sp->state == kStarting || (sp->state == kPlaying && !sp->heard))) return true;
    return false;
}

// Lets BASS_Update skip the engine lock while no stream waits to start.
std::atomic<bool> g_AnyStarting{false};
// Where the engine has no thread, BASS_Update stopped waiting for the
// streams started since the last BASS_StreamPlay.
bool g_StartWaitGaveUp = false;

void NoteStarts() { g_AnyStarting.store(AnyStarting()); }

void AdoptStarts(int64_t now) {
    bool busy = false;
    for (auto& sp : g_Streams)
        if (sp && sp->state == kPlaying && !sp->ended) busy = true;
    bool adopted = false;
    for (auto& sp : g_Streams) {
        if (!sp || sp->state != kStarting) continue;
        if (!busy) {
            // Nothing audible: begin at once instead of behind the lead.
            // On a whole millisecond, so its position 0 is due now and every
            // whole second of it falls on one too.
            if (g_Kind == BASS_OUTPUT_DEVICE) {
                g_Fifo.RequestFlush();
                g_FlushTarget = uint64_t(g_Processed);
            }
            g_Origin = FloorMs(now) - RelTime(g_Processed);
            busy = true;
        }
        sp->startFrame = g_Processed - int64_t(sp->position / 4);
        sp->syncCursor = sp->position;
        sp->state = kPlaying;
        sp->heard = false;
        adopted = true;
    }
    if (adopted) NoteStarts();
}

// Marks the streams whose first frame has now been heard.
void NoteHeard(int64_t heardFrames) {
    bool changed = false;
    for (auto& sp : g_Streams) {
        if (!sp || sp->state != kPlaying || sp->heard) continue;
        if (heardFrames > sp->startFrame || sp->ended) {
            sp->heard = true;
            changed = true;
        }
    }
    if (changed) {
        NoteStarts();
        g_Started.notify_all();
    }
}

void Step(int64_t now, bool mixAhead) {
    if (!g_Running) return;
    bool device = g_Kind == BASS_OUTPUT_DEVICE;
    if (device) AbsorbReports();
    AdoptStarts(now);
    Stream* s;
    QWORD pos;
    int64_t due;
    while (NextSync(&s, &pos, &due) && due <= now) {
        // A device has taken the frame already; elsewhere it is mixed now.
        if (!device) MixUntil(s->startFrame + int64_t(pos / 4));
        EnsureDecoded(*s, pos + 1);
        if (s->decodedEnd <= pos) {
            // The stream ends before this position: nothing from here fires.
            if (s->decoder.Done()) s->syncCursor = UINT64_MAX;
            break;
        }
        OutputSyncMoment(due);
        FireSyncsAt(*s, pos);
        OutputSyncMoment(-1);
        s->syncCursor = std::max(s->syncCursor, pos + 1);
    }
    // A sync set later for a position already heard does not fire.
    int64_t heard = FramesHeardBy(FloorMs(now));
    for (auto& sp : g_Streams)
        if (sp && sp->state == kPlaying && heard > sp->startFrame)
            sp->syncCursor = std::max(sp->syncCursor, uint64_t(heard - sp->startFrame) * 4);
    NoteHeard(heard); // its position-0 sync has fired by now
    if (mixAhead) MixUntil(device ? DeviceMixTarget() : FramesDueBy(now));
    for (auto& sp : g_Streams)
        if (sp && sp->state == kPlaying && !sp->ended)
            EnsureDecoded(*sp, std::min(sp->position + kStreamBufferFrames * 4, sp->decodedEnd + kDecodeStepFrames * 4));
}


void AudioThread() {
    OutputRaiseThreadPriority();
    t_HoldsEngine = true;
    std::unique_lock<std::mutex> lock(g_Mutex);
    int overdue = 0;
    while (!g_StopThread) {
        int64_t now = NowUs();
        Step(now, true);
        int64_t next = now + kTickUs;
        int64_t sync = g_Running ? NextSyncDue() : INT64_MAX;
        bool syncNear = sync <= next;
        if (syncNear) next = sync;
        int64_t wait = next - NowUs();
        if (wait <= 0) {
            // Never spin at real-time priority on a sync that cannot fire.
            if (++overdue > 100) {
                overdue = 0;
                g_Wake.wait_for(lock, std::chrono::milliseconds(1));
            }
            continue;
        }
        overdue = 0;
        if (syncNear && wait <= 1500) {
            // Close to a sync: short sleeps without the lock, to hit its
            // millisecond.
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::microseconds(std::min<int64_t>(wait, 200)));
            lock.lock();
        } else {
            g_Wake.wait_for(lock, std::chrono::microseconds(syncNear ? wait - 1000 : wait));
        }
    }
}

void ClearSlotsOf(DWORD channel) {
    for (SyncSlot& slot : g_Syncs) {
        int armed = kSlotArmed;
        if (channel == 0 || slot.channel.load() == channel)
            if (slot.state.compare_exchange_strong(armed, kSlotFree)) slot.handle.store(0);
    }
    for (DspSlot& slot : g_Dsps) {
        int armed = kSlotArmed;
        if (channel == 0 || slot.channel.load() == channel)
            if (slot.state.compare_exchange_strong(armed, kSlotFree)) slot.handle.store(0);
    }
}

void CloseWav() {
    if (!g_Wav) return;
    uint32_t data = uint32_t(g_WavFrames * 4);
    uint32_t riff = 36 + data;
    std::fseek(g_Wav, 4, SEEK_SET);
    std::fwrite(&riff, 4, 1, g_Wav);
    std::fseek(g_Wav, 40, SEEK_SET);
    std::fwrite(&data, 4, 1, g_Wav);
    std::fclose(g_Wav);
    g_Wav = nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// The library's calls

DWORD WINAPI BASS_GetVersion() { return g_ReportedVersion ? g_ReportedVersion : kVersion; }

BOOL WINAPI BASS_Init(int device, DWORD, DWORD, HWND) {
    if (g_FailInits > 0) {
        --g_FailInits;
        return FALSE;
    }
    if (g_Open || t_HoldsEngine) return FALSE;
    std::string why;
    if (g_OfflineMode) {
        g_Kind = BASS_OUTPUT_OFFLINE;
    } else if (g_TestDevice) {
        g_Kind = BASS_OUTPUT_DEVICE;
        g_Driver = "test";
        g_LatencyUs = g_TestDeviceLatencyUs;
    } else if (g_ForceNull || device == 0) {
        g_Kind = BASS_OUTPUT_NULL;
        why = "none asked for";
    } else {
        sOutputDevice device;
        g_Fifo.Reset();
        g_DeviceOpen = OutputOpen(&device, &why);
        g_Kind = g_DeviceOpen ? BASS_OUTPUT_DEVICE : BASS_OUTPUT_NULL;
        g_Driver = device.driver;
        g_LatencyUs = device.latencyUs;
    }
    if (g_Kind == BASS_OUTPUT_NULL) {
        g_Driver.clear();
        std::string text = "Audio: no audio device (" + why + "); playing to a silent null output\r\n";
        OutputDebugStringA(text.c_str());
        // The one line a person running the show should see about it.
        if (!g_ForceNull && device != 0) std::fprintf(stderr, "trubelox: no sound device here; the show plays silent\n");
    } else if (g_Kind == BASS_OUTPUT_DEVICE && !g_TestDevice) {
        std::string text = "Audio: playing on the " + g_Driver + " audio driver (" +
                           std::to_string(g_LatencyUs / 1000) + " ms to the ear)\r\n";
        OutputDebugStringA(text.c_str());
    } else if (g_Kind != BASS_OUTPUT_DEVICE) {
        g_Driver.clear();
    }
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        g_Open = true;
        g_Running = false;
        g_Origin = NowUs();
        g_Processed = 0;
        g_StopThread = false;
        g_Fifo.Reset();
        g_DevicePosition = 0;
        g_FlushTarget = 0;
        g_LargestTake = 0;
        ForgetDeviceTiming();
    }
    if (!CallerSteps()) {
        if (OutputHasEngineThread()) g_Thread = std::thread(AudioThread);
        else OutputStartEngine();
    }
    return TRUE;
}

BOOL WINAPI BASS_Start() {
    EngineLock lock;
    if (!g_Open) return FALSE;
    if (!g_Running) {
        // Continue the schedule from the next frame to mix, now; a device
        // that was paused is timed afresh.
        if (g_Kind == BASS_OUTPUT_DEVICE) {
            g_Fifo.RequestFlush();
            g_FlushTarget = uint64_t(g_Processed);
            ForgetDeviceTiming();
        }
        g_Origin = FloorMs(NowUs()) - RelTime(g_Processed);
        g_Running = true;
        if (g_DeviceOpen) OutputPause(false);
    }
    g_Wake.notify_all();
    return TRUE;
}

BOOL WINAPI BASS_Stop() {
    EngineLock lock;
    if (!g_Open) return FALSE;
    g_Running = false;
    if (g_DeviceOpen) OutputPause(true);
    return TRUE;
}

BOOL WINAPI BASS_Free() {
    if (t_HoldsEngine) return FALSE; // not from a callback
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        if (!g_Open) return FALSE;
        g_StopThread = true;
    }
    g_Wake.notify_all();
    if (g_Thread.joinable()) g_Thread.join();
    else if (!CallerSteps()) OutputStopEngine();
    if (g_DeviceOpen) OutputClose();
    g_DeviceOpen = false;
    std::lock_guard<std::mutex> lock(g_Mutex);
    ClearSlotsOf(0);
    for (int i = 0; i < kMaxStreams; ++i) {
        g_StreamHandles[i] = 0;
        g_Streams[i].reset();
    }
    CloseWav();
    NoteStarts();
    g_Open = false;
    g_Running = false;
    g_Kind = BASS_OUTPUT_NONE;
    return TRUE;
}

BOOL WINAPI BASS_Update() {
    if (!g_Open) return FALSE;
    if (CallerSteps()) {
        EngineLock lock;
        Step(NowUs(), g_Kind == BASS_OUTPUT_DEVICE);
        return TRUE;
    }
    if (t_HoldsEngine || !g_AnyStarting.load()) return TRUE;
    if (!OutputHasEngineThread()) {
        // No audio thread to wait for: step the engine here, letting the
        // output's device run between the steps. A page's device is heard
        // later than SDL's (its buffers are larger). A device that does not
        // play at all (a page whose audio never starts) is waited for once,
        // not at every frame.
        const int64_t until = NowUs() + 2000000;
        for (;;) {
            {
                EngineLock lock;
                Step(NowUs(), true);
                if (!g_Running || !AnyStarting() || g_StartWaitGaveUp) break;
            }
            if (NowUs() >= until) {
                g_StartWaitGaveUp = true;
                break;
            }
            OutputYield();
        }
        return TRUE;
    }
    g_Wake.notify_all();
    std::unique_lock<std::mutex> lock(g_Mutex);
    g_Started.wait_for(lock, std::chrono::milliseconds(250), [] { return !g_Running || !AnyStarting(); });
    return TRUE;
}

HSTREAM WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD) {
    if (!g_Open || !mem || !file || length == 0) return 0;
    auto s = std::make_unique<Stream>();
    if (!s->decoder.Open(static_cast<const uint8_t*>(file) + offset, length)) return 0;
    s->buffer.assign(kStreamBufferFrames * 2, 0);
    EngineLock lock;
    for (int i = 0; i < kMaxStreams; ++i) {
        if (g_Streams[i]) continue;
        s->handle = MakeHandle(i);
        g_StreamHandles[i] = s->handle;
        g_Streams[i] = std::move(s);
        return g_Streams[i]->handle;
    }
    return 0;
}

BOOL WINAPI BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD) {
    EngineLock lock;
    Stream* s = FindStream(handle);
    if (!s) return FALSE;
    if (flush) {
        s->decoder.Rewind();
        s->head = s->count = 0;
        s->decodedEnd = s->position = s->syncCursor = 0;
        s->ended = false;
        if (s->state == kPlaying) s->state = kStarting;
    }
    if (s->state == kStopped) s->state = kStarting;
    g_StartWaitGaveUp = false;
    // Decoded ahead now, so that nothing is decoded between the start and
    // the first frame.
    EnsureDecoded(*s, s->position + kStreamBufferFrames * 4);
    NoteStarts();
    g_Wake.notify_all();
    return TRUE;
}

BOOL WINAPI BASS_ChannelStop(DWORD handle) {
    EngineLock lock;
    Stream* s = FindStream(handle);
    if (!s) return FALSE;
    s->state = kStopped;
    NoteStarts();
    return TRUE;
}

BOOL WINAPI BASS_StreamFree(HSTREAM handle) {
    if (t_HoldsEngine) return FALSE; // not from a callback: the stream is in use
    std::lock_guard<std::mutex> lock(g_Mutex);
    Stream* s = FindStream(handle);
    if (!s) return FALSE;
    ClearSlotsOf(handle);
    int i = IndexOf(handle, kMaxStreams);
    g_StreamHandles[i] = 0;
    g_Streams[i].reset();
    NoteStarts();
    return TRUE;
}

HSYNC WINAPI BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, DWORD user) {
    if (!proc || !IsStreamHandle(handle) || (type & ~DWORD(BASS_SYNC_ONETIME)) != BASS_SYNC_POS) return 0;
    for (int i = 0; i < kMaxSyncs; ++i) {
        SyncSlot& slot = g_Syncs[i];
        int free = kSlotFree;
        if (!slot.state.compare_exchange_strong(free, kSlotReserved)) continue;
        HSYNC sync = MakeHandle(i);
        slot.channel.store(handle);
        slot.type.store(type);
        slot.position.store(param);
        slot.proc.store(proc);
        slot.user.store(user);
        slot.handle.store(sync);
        slot.state.store(kSlotArmed, std::memory_order_release);
        return sync;
    }
    return 0;
}

BOOL WINAPI BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
    int i = IndexOf(sync, kMaxSyncs);
    if (i < 0) return FALSE;
    SyncSlot& slot = g_Syncs[i];
    if (slot.handle.load() != sync || slot.channel.load() != handle) return FALSE;
    int armed = kSlotArmed;
    if (slot.state.compare_exchange_strong(armed, kSlotFree)) {
        slot.handle.store(0);
        return TRUE;
    }
    int firing = kSlotFiring;
    return slot.state.compare_exchange_strong(firing, kSlotRemovedWhileFiring) ? TRUE : FALSE;
}

HDSP WINAPI BASS_ChannelSetDSP(DWORD handle, DSPPROC* proc, DWORD user) {
    if (!proc || !IsStreamHandle(handle)) return 0;
    for (int i = 0; i < kMaxDsps; ++i) {
        DspSlot& slot = g_Dsps[i];
        int free = kSlotFree;
        if (!slot.state.compare_exchange_strong(free, kSlotReserved)) continue;
        HDSP dsp = MakeHandle(i);
        slot.channel.store(handle);
        slot.proc.store(proc);
        slot.user.store(user);
        slot.handle.store(dsp);
        slot.state.store(kSlotArmed, std::memory_order_release);
        return dsp;
    }
    return 0;
}

BOOL WINAPI BASS_ChannelRemoveDSP(DWORD handle, HDSP dsp) {
    int i = IndexOf(dsp, kMaxDsps);
    if (i < 0) return FALSE;
    DspSlot& slot = g_Dsps[i];
    if (slot.handle.load() != dsp || slot.channel.load() != handle) return FALSE;
    int armed = kSlotArmed;
    if (!slot.state.compare_exchange_strong(armed, kSlotFree)) return FALSE;
    slot.handle.store(0);
    // Let a running call of this DSP finish first (but never wait on
    // ourselves, from inside a callback).
    if (!t_HoldsEngine)
        while (g_RunningDsp.load() == i) std::this_thread::yield();
    return TRUE;
}

// ---------------------------------------------------------------------------
// Stand-in controls

BassOutputKind BassGetOutputKind() { return g_Kind; }

const char* BassGetOutputDriver() { return g_Driver.c_str(); }

void BassSetReportedVersion(DWORD version) { g_ReportedVersion = version; }

void BassFailNextInits(int count) { g_FailInits = count; }

void BassForceNullOutput(bool on) { g_ForceNull = on; }

void BassSetOfflineMode(bool on) { g_OfflineMode = on; }

void BassSetTestDevice(bool on, uint32_t latencyUs) {
    g_TestDevice = on;
    g_TestDeviceLatencyUs = latencyUs;
}

void BassTestDeviceTake(void* buffer, DWORD bytes) {
    if (!g_Open || !g_TestDevice || !buffer) return;
    DeviceTake(static_cast<int16_t*>(buffer), bytes / 4, NowUs());
}

void BassSetDeviceObserver(BassDeviceObserver observer, void* user) {
    g_Observer.store(nullptr);
    g_ObserverUser.store(user);
    g_Observer.store(observer);
}

uint32_t BassGetOutputLatencyUs() { return g_Kind == BASS_OUTPUT_DEVICE ? uint32_t(g_LatencyUs) : 0; }

uint64_t BassTestDeviceStep() {
    if (!g_TestDevice) return uint64_t(NowUs() + kTickUs);
    return uint64_t(BassEngineStep());
}

// ---------------------------------------------------------------------------
// For the outputs (output.h)

void BassDeviceTake(int16_t* dst, size_t frames, int64_t us) { DeviceTake(dst, frames, us); }

int64_t BassEngineStep() {
    EngineLock lock;
    int64_t now = NowUs();
    if (!g_Open) return now + kTickUs;
    Step(now, true);
    int64_t next = now + kTickUs;
    if (g_Running) next = std::min(next, NextSyncDue());
    return std::max(next, now + 1);
}

int64_t BassNowUs() { return NowUs(); }

DWORD BassOfflineRender(void* buffer, DWORD bytes) {
    EngineLock lock;
    if (!g_Open || g_Kind != BASS_OUTPUT_OFFLINE || !g_Running) return 0;
    int64_t frames = bytes / 4;
    if (frames == 0) return 0;
    AdoptStarts(NowUs());
    int64_t target = g_Processed + frames;
    int64_t end = FrameTime(target - 1); // the moment the last frame is handed
    g_OfflineOut = static_cast<int16_t*>(buffer);
    g_OfflineWritten = 0;
    for (;;) {
        int64_t due = NextSyncDue();
        if (due > end) break;
        uint64_t fired = g_SyncsFired;
        MoveVirtualClockTo(due);
        Step(due, false);
        if (g_SyncsFired == fired) break; // unreachable: the stream ends first
    }
    MoveVirtualClockTo(end);
    Step(end, false);
    MixUntil(target);
    g_OfflineOut = nullptr;
    return DWORD(frames * 4);
}

DWORD BassOfflineBytesUntil(uint64_t microseconds) {
    EngineLock lock;
    if (!g_Open || g_Kind != BASS_OUTPUT_OFFLINE || !g_Running) return 0;
    int64_t frames = FramesDueBy(int64_t(microseconds)) - g_Processed;
    if (frames <= 0) return 0;
    return DWORD(std::min<int64_t>(frames * 4, int64_t(0xFFFFFFFCu)));
}

bool BassOfflineBeginWav(const char* path) {
    EngineLock lock;
    CloseWav();
    g_Wav = path ? std::fopen(path, "wb") : nullptr;
    if (!g_Wav) return false;
    const uint8_t header[44] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                                4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    g_WavFrames = 0;
    return std::fwrite(header, 1, sizeof header, g_Wav) == sizeof header;
}

bool BassOfflineEndWav() {
    EngineLock lock;
    if (!g_Wav) return false;
    CloseWav();
    return true;
}
