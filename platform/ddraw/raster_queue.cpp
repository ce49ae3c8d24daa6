// The command queue: clears and triangles collected in submission order,
// then drawn by one thread, or by several. With several, each draws every
// command's rows that fall in its own bands of rows, setting up the
// triangles that reach them. A pixel belongs to exactly one band, and every
// band sees the commands in the same order, so the picture does not depend
// on the number of threads. The worker threads start on the queue while it
// is still being filled, a chunk at a time; the filling thread draws its own
// bands when the queue is flushed, or when it is handed over at the end of a
// frame: then it goes on to the next frame while the workers finish this one
// (measured on the whole show on two cores: the worker idled 13% of the time
// between frames while the filling thread ran the next frame's timeline).
#include "platform/ddraw/raster_scan.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <sched.h>
#endif
#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace raster {

namespace {

#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
const int kMaxThreads = 1; // a page without shared memory has no threads to start
#else
const int kMaxThreads = 64;
#endif

// The cores this process may run on (fewer than the machine's under
// taskset or a container's CPU set).
int AvailableCores() {
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
    return std::max(int(std::thread::hardware_concurrency()), 1);
}

// One thread per core, at most 8, unless TRUBELOX_RASTER_THREADS says. A
// value above the most this build can start is held to it, and one that is
// not a whole number of threads passed over; either is named once.
int ThreadsFromEnvironment() {
    const int cores = std::clamp(AvailableCores(), 1, std::min(8, kMaxThreads));
    const char* env = std::getenv("TRUBELOX_RASTER_THREADS");
    if (!env || !*env) return cores;
    char* end = nullptr;
    const long wanted = std::strtol(env, &end, 10); // held at the ends of long's range
    const bool number = end != env && *end == 0;
    if (number && wanted >= 1 && wanted <= kMaxThreads) return int(wanted);
    const bool tooMany = number && wanted > kMaxThreads;
    const int threads = tooMany ? kMaxThreads : cores;
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        std::fprintf(stderr, "TRUBELOX_RASTER_THREADS=%s: %s; using %d\n", env,
                     tooMany ? "more than this build can start" : "not a number of threads", threads);
    return threads;
}

std::atomic<int> g_DefaultThreads{ThreadsFromEnvironment()};

// Rounds of about 256 rows per thread, each cut into one band per thread:
// few triangles reach across two bands, and each thread sets up only the
// triangles that reach its own. A triangle across a border is set up on
// both sides, so tall bands pay (measured on two cores: bands of 16 rows
// drew small triangles no faster than one core; 240 rows drew them 5%
// faster than 60 and the show 3% faster). The shares below keep the
// threads even where a picture is not.
const int kBandRows = 256;
const int kMaxBands = 1024;
const size_t kMaxQueuedTriangles = 32768; // then the queue is drawn
const size_t kMaxClippedTriangles = 4096; // pieces of clipped triangles
const size_t kMaxClears = 1024;           // clears between two flushes
const size_t kMaxPipelines = 4096;        // state changes between two flushes
const size_t kStreamChunk = 256;          // commands handed to the workers at a time
const int kSpinMicroseconds = 50;         // before a waiting thread sleeps

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

enum CommandKind : uint32_t { kClear, kQueued, kClipped };

// A command carries the rows it may reach, so that a thread passes over the
// others' commands without reading their data.
struct Command {
    uint32_t kind : 2;
    uint32_t index : 30;
    int16_t y0, y1; // y0 > y1: none (a surface has at most 16384 rows)
};

// A triangle as it was drawn, set up when the queue is drawn.
struct Queued {
    D3DTLVERTEX v[3];
    uint32_t pipeline;
    uint32_t unused; // whole 8-byte words, as cQueueArray writes them
};

// A queue's entries in room reserved once (left untouched until used), so
// that a frame allocates nothing and the threads reading them never see them
// move.
//
// With other threads drawing, the filling thread may write past its caches
// (x86-64): a line another core has read must otherwise be taken back from
// that core when the next frame writes it, one line at a time (measured:
// 20000 small triangles took three times as long to queue on two threads
// as on one). Such writes are seen by other threads only after
// FenceQueueWrites().
template <class T> class cQueueArray {
public:
    explicit cQueueArray(size_t room) : m_Store(new T[room]), m_Room(room) {}
    size_t Size() const { return m_Count; }
    bool Empty() const { return m_Count == 0; }
    void Clear() { m_Count = 0; }
    const T* Data() const { return m_Store.get(); }
    const T& operator[](size_t i) const { return m_Store[i]; }
    const T* begin() const { return m_Store.get(); }
    const T* end() const { return m_Store.get() + m_Count; }

    // The callers flush the queue before its room runs out.
    void Append(const T& v, bool pastCaches) {
        if (m_Count == m_Room) std::abort(); // a broken promise of the code, not bad input
        if (pastCaches) {
#if defined(__x86_64__)
            static_assert(sizeof(T) % 8 == 0 && alignof(T) >= 4, "written in whole 8-byte words");
            long long words[sizeof(T) / 8];
            std::memcpy(words, &v, sizeof(T));
            long long* at = reinterpret_cast<long long*>(m_Store.get() + m_Count);
            for (size_t k = 0; k < sizeof(T) / 8; ++k) _mm_stream_si64(at + k, words[k]);
#else
            m_Store[m_Count] = v;
#endif
        } else {
            m_Store[m_Count] = v;
        }
        ++m_Count;
    }

private:
    std::unique_ptr<T[]> m_Store;
    size_t m_Room;
    size_t m_Count = 0;
};

// Writes past the caches are ordered before what follows (the publishing of
// a chunk to the workers).
inline void FenceQueueWrites() {
#if defined(__x86_64__)
    _mm_sfence();
#endif
}

// One queue: the commands between two hand-overs (a frame, mostly) with
// what they read, and the bands it is drawn in. There are two, used in turn:
// the next frame fills one while the other threads may still be drawing the
// last frame from the other.
struct QueueSet {
    std::vector<Pipeline> pipelines;
    cQueueArray<Queued> queued{kMaxQueuedTriangles};
    std::vector<Triangle> clipped;
    std::vector<ClearRect> clears;
    cQueueArray<Command> commands{kMaxQueuedTriangles + kMaxClippedTriangles + kMaxClears};

    // Band b holds rows bandStart[b] to bandStart[b + 1] - 1 and belongs to
    // thread b % threads; bandOf[y] is the band of row y. The bands start a
    // cache line of their own: every thread reads them for each triangle,
    // while the filling thread writes the counts above for each (sharing a
    // line, they took 17% of the time to queue small triangles on two
    // threads).
    alignas(64) int bandStart[kMaxBands + 1] = {};
    int bandCount = 0;
    std::vector<uint16_t> bandOf;

    // The workers draw the commands below `published`; `closed` says that no
    // more will come. `running` counts the workers not yet done with it.
    // Written under the mutex, read also without it by a waiting thread's
    // spin.
    std::atomic<size_t> published{0};
    std::atomic<bool> closed{false};
    std::atomic<int> running{0};
    // A copy of the picture wanted once the queue is drawn (a flip): each
    // worker that finishes after it was asked for copies its own rows;
    // `uncopied` marks those that finished before, whose rows the flip
    // copies. Under the mutex.
    bool copyWanted = false;
    CopyRows copy;
    bool uncopied[kMaxThreads] = {};

    // What the next choice of bands for this queue learns from its last use:
    // each thread's share of the rows and how long it drew them, when each
    // finished after the queue was closed, and the filling thread's own work
    // before the close.
    int threads = 0;
    bool handedOver = false; // the filling thread went on without waiting
    double share[kMaxThreads] = {};
    int64_t drawNs[kMaxThreads] = {};
    int64_t finishNs[kMaxThreads] = {};
    int64_t serialNs = 0;
    std::chrono::steady_clock::time_point closedAt;

    QueueSet() {
        clipped.reserve(kMaxClippedTriangles);
        clears.reserve(kMaxClears);
        pipelines.reserve(kMaxPipelines);
    }
    bool Empty() const { return commands.Empty(); }
    // Only once no thread draws it any more.
    void Reset() {
        commands.Clear();
        queued.Clear();
        clipped.clear();
        clears.clear();
        pipelines.clear();
        published.store(0, std::memory_order_relaxed);
        closed = false;
        copyWanted = false;
        std::fill(uncopied, uncopied + kMaxThreads, false);
    }
};

int64_t NsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t).count();
}

// Rows y0 to y1 of the target into the copy's pixels.
void CopyTargetRows(const CopyRows& copy, const Target& target, int y0, int y1) {
    for (int y = y0; y <= y1; ++y)
        std::memcpy(copy.pixels + size_t(y) * size_t(copy.pitchBytes),
                    target.color + size_t(y) * size_t(target.colorPitch), size_t(copy.rowBytes));
}

} // namespace

void SetDefaultThreads(int threads) {
    g_DefaultThreads = threads > 0 ? std::min(threads, kMaxThreads) : ThreadsFromEnvironment();
}
int DefaultThreads() { return g_DefaultThreads; }
int MaxThreads() { return kMaxThreads; }

struct Rasterizer::Impl {
    Target target;
    Viewport viewport;
    States states;
    Texture texture;
    int scale = 1;
    bool hasTexture = false;
    bool pipelineDirty = true;
    // The value every Z of the target holds, or -1: known from a clear of
    // the whole buffer until a triangle that writes depth is queued or the
    // queue is flushed from outside (a lock may write the buffer).
    int knownDepth = -1;
    void KnowDepth(int z) {
        if (z == knownDepth) return;
        knownDepth = z;
        pipelineDirty = true; // a depth test may be left out, or no longer
    }

    // The queue being filled is sets[fill]. Queue n handed to the workers
    // (n = generation) is sets[n & 1]: fill starts at 1 and turns over with
    // each queue the workers were given.
    QueueSet sets[2];
    int fill = 1;
    QueueSet& Q() { return sets[fill]; }
    QueueSet& Other() { return sets[fill ^ 1]; }
    const QueueSet& Q() const { return sets[fill]; }
    const QueueSet& Other() const { return sets[fill ^ 1]; }

    // Worker threads 1 .. n-1; the filling thread is band owner 0. From the
    // first chunk of a queue until they have drawn all of it, the workers
    // draw its published commands.
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable more;
    std::condition_variable done;
    std::atomic<uint64_t> generation{0};
    std::atomic<uint64_t> completed{0}; // queues up to this one all drawn by the workers
    std::atomic<bool> quit{false};
    bool streaming = false; // the queue being filled has been given to the workers
    bool spin = false;      // no more threads than cores
    // When the filling thread last came back from a hand-over or a flush,
    // and how long it has waited for the workers since.
    std::chrono::steady_clock::time_point lastReturn = std::chrono::steady_clock::now();
    int64_t waitedNs = 0;
    // The last queue closed was handed over without waiting, and not yet
    // copied: a flip may still have it copied as its threads finish.
    bool copyable = false;

    // The queues are made full size once, so that drawing a frame never
    // allocates; clearing them keeps their room. So are the threads.
    Impl() { SetThreadCount(DefaultThreads()); }
    ~Impl() {
        Flush();
        StopWorkers();
    }

    uint32_t CurrentPipeline() {
        QueueSet& q = Q();
        if (pipelineDirty || q.pipelines.empty()) {
            q.pipelines.emplace_back();
            BuildPipeline(states, hasTexture ? &texture : nullptr, target.depth != nullptr, knownDepth, viewport, target,
                          scale, &q.pipelines.back());
            pipelineDirty = false;
        }
        return uint32_t(q.pipelines.size() - 1);
    }

    void Draw(const Pipeline* pipes, const Triangle& t, int y0, int y1) {
        const Pipeline& p = pipes[t.pipeline];
        (t.perspective ? p.drawPerspective : p.draw)(t, p, target, y0, y1);
    }

    // One thread: each triangle set up and drawn in turn.
    void RunAlone(const QueueSet& q) {
        Triangle tri;
        for (const Command& c : q.commands) {
            switch (c.kind) {
            case kClear: ClearRows(q.clears[c.index], target, 0, target.height - 1); break;
            case kClipped: Draw(q.pipelines.data(), q.clipped[c.index], 0, target.height - 1); break;
            case kQueued: {
                const Queued& s = q.queued[c.index];
                if (SetupTriangle(s.v[0], s.v[1], s.v[2], q.pipelines[s.pipeline], s.pipeline, &tri))
                    Draw(q.pipelines.data(), tri, 0, target.height - 1);
                break;
            }
            }
        }
    }

    // Each thread's share of every round's rows. A thread that was busier
    // than the others gets fewer rows next time: frames change little from
    // one to the next, and the show's pictures are seldom even from top to
    // bottom (measured on the whole show with equal bands: one core drew for
    // 13.4 s while the other drew for 11.2 s and then waited). A queue's
    // bands are chosen from what its last use measured (the other queue may
    // still be drawn).
    double share[kMaxThreads] = {};
    int sharedThreads = 0, sharedHeight = 0;

    void ChooseBands(QueueSet& q, int threads) {
        const int height = target.height;
        if (threads != sharedThreads || height != sharedHeight) {
            for (int t = 0; t < threads; ++t) share[t] = 1.0 / threads;
            sharedThreads = threads, sharedHeight = height;
        } else if (q.threads == threads && std::all_of(q.drawNs, q.drawNs + threads, [](int64_t ns) { return ns > 0; }) &&
                   std::all_of(q.finishNs, q.finishNs + threads, [](int64_t ns) { return ns > 0; })) {
            // Each thread's rows per nanosecond, and the shares that even
            // them out, taken half way. Where the filling thread went on
            // without waiting, every thread is busy all the time it can be,
            // and the filling thread also runs the frame between its hand-
            // overs: the shares give each thread the same work. Where it
            // waited, they have the threads finish together.
            double speed[kMaxThreads], want[kMaxThreads], total = 0;
            if (q.handedOver) {
                for (int t = 0; t < threads; ++t) total += speed[t] = q.share[t] / double(q.drawNs[t]);
                const double busy = (1.0 + speed[0] * double(q.serialNs)) / total;
                for (int t = 0; t < threads; ++t) want[t] = speed[t] * (busy - (t == 0 ? double(q.serialNs) : 0.0));
            } else {
                for (int t = 0; t < threads; ++t) total += speed[t] = q.share[t] / double(q.finishNs[t]);
                for (int t = 0; t < threads; ++t) want[t] = speed[t] / total;
            }
            double sum = 0;
            for (int t = 0; t < threads; ++t)
                sum += share[t] = std::clamp(0.5 * share[t] + 0.5 * want[t], 0.5 / threads, 1.5 / threads);
            for (int t = 0; t < threads; ++t) share[t] /= sum;
        }
        q.threads = threads;
        for (int t = 0; t < threads; ++t) q.share[t] = share[t], q.drawNs[t] = 0, q.finishNs[t] = 0;
        int rounds = std::clamp((height + kBandRows * threads / 2) / (kBandRows * threads), 1, kMaxBands / threads);
        int b = 0;
        for (int r = 0; r < rounds; ++r) {
            const int top = int(int64_t(height) * r / rounds), rows = int(int64_t(height) * (r + 1) / rounds) - top;
            double cut = 0;
            for (int t = 0; t < threads; ++t, ++b) {
                q.bandStart[b] = top + int(cut * rows + 0.5);
                cut += share[t];
            }
        }
        q.bandStart[b] = height;
        q.bandCount = b;
        for (int k = 0; k < b; ++k)
            for (int y = q.bandStart[k]; y < q.bandStart[k + 1]; ++y) q.bandOf[size_t(y)] = uint16_t(k);
    }

    // Thread `band` of `bands`: every command below `end` that reaches one
    // of its bands, in order, a triangle set up here and drawn at once. A
    // triangle across two threads' bands is set up by both: that costs less
    // than handing set-up triangles from one core's cache to another.
    void Run(const QueueSet& q, int band, int bands, size_t from, size_t end) {
        // The queues through their data: the filling thread may be adding to
        // them meanwhile, within their reserved room, so nothing moves.
        const Command* const cmds = q.commands.Data();
        const Queued* const qs = q.queued.Data();
        const ClearRect* const cs = q.clears.data();
        const Triangle* const cut = q.clipped.data();
        const Pipeline* const pipes = q.pipelines.data();
        const uint16_t* const bandOf = q.bandOf.data();
        const int* const bandStart = q.bandStart;
        Triangle tri;
        for (size_t i = from; i < end; ++i) {
            const Command c = cmds[i];
            const int y0 = c.y0, y1 = c.y1;
            if (y0 > y1) continue;
            int first = bandOf[size_t(y0)], last = bandOf[size_t(y1)];
            int b = first + ((band - first % bands) + bands) % bands;
            if (b > last) continue;
            const Triangle* t = nullptr;
            if (c.kind == kClipped) {
                t = &cut[c.index];
            } else if (c.kind == kQueued) {
                const Queued& s = qs[c.index];
                if (!SetupTriangle(s.v[0], s.v[1], s.v[2], pipes[s.pipeline], s.pipeline, &tri)) continue;
                t = &tri;
            }
            for (; b <= last; b += bands) {
                int a = std::max(y0, bandStart[b]), e = std::min(y1, bandStart[b + 1] - 1);
                if (a > e) continue; // a band of no rows
                if (t) Draw(pipes, *t, a, e);
                else ClearRows(cs[c.index], target, a, e);
            }
        }
    }

    // Waiting for another thread: a short spin first, where every thread has
    // a core of its own. The next chunk, the next queue or the workers' end
    // comes within microseconds in a busy frame, and waking a sleeping
    // thread takes longer than that. False when it did not come.
    template <typename Ready> bool Spin(Ready ready) const {
        if (!spin) return ready();
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kSpinMicroseconds);
        for (int i = 1;; ++i) {
            if (ready()) return true;
            if (i % 64 == 0 && std::chrono::steady_clock::now() > until) return false;
            Pause();
        }
    }

    // Thread `band`'s rows of queue q into its copy.
    void CopyBands(const QueueSet& q, int band) {
        for (int b = band; b < q.bandCount; b += q.threads) {
            const int e = std::min(q.bandStart[b + 1], q.copy.rows) - 1;
            if (q.bandStart[b] <= e) CopyTargetRows(q.copy, target, q.bandStart[b], e);
        }
    }

    // Until no worker draws queue q any more (the filling thread only).
    void WaitFor(QueueSet& q) {
        auto ready = [&] { return q.running.load() == 0; };
        if (ready()) return;
        const auto start = std::chrono::steady_clock::now();
        if (!Spin(ready)) {
            std::unique_lock<std::mutex> lock(mutex);
            done.wait(lock, ready);
        }
        waitedNs += NsSince(start);
    }

    // A worker's share of one queue: the chunks as they are published, until
    // the queue is closed and all of it drawn.
    void RunStream(QueueSet& q, int band, int bands) {
        size_t from = 0;
        int64_t drawn = 0;
        for (;;) {
            auto ready = [&] { return q.closed.load() || q.published.load(std::memory_order_acquire) > from; };
            if (!Spin(ready)) {
                std::unique_lock<std::mutex> lock(mutex);
                more.wait(lock, ready);
            }
            const size_t end = q.published.load(std::memory_order_acquire);
            if (end == from) break; // closed, all drawn
            const auto start = std::chrono::steady_clock::now();
            Run(q, band, bands, from, end);
            drawn += NsSince(start);
            from = end;
        }
        q.drawNs[band] = std::max<int64_t>(drawn, 1);
        q.finishNs[band] = std::max<int64_t>(NsSince(q.closedAt), 1);
    }

    // The queues in the order they were handed over: a worker may be handed
    // the next before it has finished this one.
    void WorkerLoop(int band, uint64_t seen) {
        for (;;) {
            auto ready = [&] { return quit.load() || generation.load() != seen; };
            if (!Spin(ready)) {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, ready);
            }
            if (generation.load() == seen) return; // quit, and nothing left to draw
            ++seen;
            // Its rows may have been another worker's in the queue before.
            auto drawnBefore = [&] { return completed.load() + 1 >= seen; };
            if (!Spin(drawnBefore)) {
                std::unique_lock<std::mutex> lock(mutex);
                done.wait(lock, drawnBefore);
            }
            QueueSet& q = sets[seen & 1];
            RunStream(q, band, int(workers.size()) + 1);
            bool copy;
            {
                std::lock_guard<std::mutex> lock(mutex);
                copy = q.copyWanted;
                q.uncopied[band] = !copy;
            }
            if (copy) {
                const auto start = std::chrono::steady_clock::now();
                CopyBands(q, band);
                q.drawNs[band] += NsSince(start); // a part of its rows' work
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (--q.running == 0) {
                    completed = seen;
                    done.notify_all();
                }
            }
        }
    }

    // Hands the queue so far to the workers, starting them on its first
    // chunk. The bands are chosen then, for the whole queue.
    void Publish() {
        QueueSet& q = Q();
        if (!streaming) {
            if (int(workers.size()) + 1 != DefaultThreads()) {
                WaitFor(Other());
                SetThreadCount(DefaultThreads());
            }
            if (workers.empty()) {
                q.published.store(q.commands.Size(), std::memory_order_relaxed); // next look a chunk later
                return;
            }
            ChooseBands(q, int(workers.size()) + 1);
            std::lock_guard<std::mutex> lock(mutex);
            streaming = true;
            q.closed = false;
            FenceQueueWrites();
            q.published.store(q.commands.Size(), std::memory_order_release);
            q.running = int(workers.size());
            ++generation;
            wake.notify_all();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            FenceQueueWrites();
            q.published.store(q.commands.Size(), std::memory_order_release);
        }
        more.notify_all();
    }
    // Whether the queue is written past the caches: where other threads
    // draw, they read every command and the triangles in their bands.
    bool PastCaches() const { return !workers.empty(); }
    // After a command is queued: a new chunk for the workers?
    void Added() {
        if (kMaxThreads > 1 && Q().commands.Size() - Q().published.load(std::memory_order_relaxed) >= kStreamChunk)
            Publish();
    }

    void StopWorkers() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        wake.notify_all();
        for (std::thread& t : workers) t.join();
        workers.clear();
        quit = false;
    }

    // Only with no queue being drawn.
    void SetThreadCount(int threads) {
        if (int(workers.size()) + 1 == threads) return;
        StopWorkers();
        workers.reserve(size_t(threads));
        spin = threads <= AvailableCores();
        const uint64_t g = generation;
        for (int i = 1; i < threads; ++i) workers.emplace_back([this, i, g] { WorkerLoop(i, g); });
    }

    // Closes the queue being filled and draws this thread's bands of it,
    // then, with `wait`, waits until the others have drawn theirs too.
    // Without, they may still be drawing it when this returns: the next
    // queue is filled meanwhile, and drawn after it. False when there was
    // nothing to close.
    bool Close(bool wait) {
        QueueSet& q = Q();
        if (q.Empty()) {
            if (wait) {
                WaitFor(Other());
                copyable = false;
            }
            lastReturn = std::chrono::steady_clock::now();
            waitedNs = 0;
            return false;
        }
        const auto closing = std::chrono::steady_clock::now();
        copyable = false;
        Publish();
        if (!streaming) {
            RunAlone(q);
        } else {
            q.handedOver = !wait;
            q.serialNs = std::chrono::duration_cast<std::chrono::nanoseconds>(closing - lastReturn).count() - waitedNs;
            {
                std::lock_guard<std::mutex> lock(mutex);
                q.closedAt = closing;
                q.closed = true;
            }
            more.notify_all();
            // This thread's rows may have been another's in the last queue.
            WaitFor(Other());
            const auto start = std::chrono::steady_clock::now();
            Run(q, 0, int(workers.size()) + 1, 0, q.commands.Size());
            q.drawNs[0] = std::max<int64_t>(NsSince(start), 1);
            q.finishNs[0] = std::max<int64_t>(NsSince(closing), 1);
            streaming = false;
            fill ^= 1;
            if (wait) WaitFor(Other());
            copyable = !wait;
        }
        Q().Reset(); // no thread draws it now
        pipelineDirty = true;
        lastReturn = std::chrono::steady_clock::now();
        waitedNs = 0;
        return true;
    }

    void Flush() { Close(true); }

    bool Copyable() const { return copyable && Q().Empty(); }
    bool CopyClosed(const CopyRows& copy) {
        if (!Copyable()) return false;
        copyable = false;
        QueueSet& q = Other();
        bool here[kMaxThreads] = {true};
        {
            std::lock_guard<std::mutex> lock(mutex);
            q.copy = copy;
            q.copy.rows = std::min(copy.rows, target.height);
            q.copyWanted = true;
            for (int t = 1; t < q.threads; ++t) here[t] = q.uncopied[t];
        }
        // Those threads are done with it, and wait for the next queue.
        for (int t = 0; t < q.threads; ++t)
            if (here[t]) CopyBands(q, t);
        return true;
    }
};

Rasterizer::Rasterizer() : m_Impl(new Impl) {}

Rasterizer::~Rasterizer() = default;

void Rasterizer::SetTarget(const Target& target) {
    m_Impl->Flush();
    m_Impl->KnowDepth(-1);
    m_Impl->target = target;
    for (QueueSet& q : m_Impl->sets) q.bandOf.resize(size_t(std::max(target.height, 0)));
    m_Impl->pipelineDirty = true;
}

void Rasterizer::SetScale(int scale) {
    scale = std::clamp(scale, 1, 4);
    if (scale == m_Impl->scale) return;
    m_Impl->Flush();
    m_Impl->scale = scale;
    m_Impl->pipelineDirty = true;
}

void Rasterizer::SetViewport(const Viewport& viewport) {
    Impl& m = *m_Impl;
    if (m.viewport.x == viewport.x && m.viewport.y == viewport.y && m.viewport.width == viewport.width &&
        m.viewport.height == viewport.height)
        return;
    m.viewport = viewport;
    m.pipelineDirty = true;
}

void Rasterizer::SetStates(const States& states) {
    if (std::memcmp(&m_Impl->states, &states, sizeof(States)) == 0) return;
    m_Impl->states = states;
    m_Impl->pipelineDirty = true;
}

void Rasterizer::SetTexture(const Texture* texture) {
    Impl& m = *m_Impl;
    bool has = texture != nullptr;
    if (has == m.hasTexture && (!has || (texture->texels == m.texture.texels && texture->width == m.texture.width &&
                                         texture->height == m.texture.height && texture->opaque == m.texture.opaque &&
                                         texture->white == m.texture.white && texture->pairs == m.texture.pairs &&
                                         texture->black == m.texture.black)))
        return;
    m.hasTexture = has;
    if (has) m.texture = *texture;
    m.pipelineDirty = true;
}

void Rasterizer::DrawTriangles(const D3DTLVERTEX* v, int count) {
    Impl& m = *m_Impl;
    if (!m.target.color) return;
    for (int i = 0; i + 3 <= count; i += 3) {
        if (m.Q().queued.Size() == kMaxQueuedTriangles || m.Q().clipped.size() + kMaxPieces > kMaxClippedTriangles ||
            (m.pipelineDirty && m.Q().pipelines.size() == kMaxPipelines))
            m.Flush();
        uint32_t pipe = m.CurrentPipeline();
        QueueSet& q = m.Q();
        if (q.pipelines[pipe].depthWrite) m.KnowDepth(-1);
        if (NeedsClipping(v[i], v[i + 1], v[i + 2], m.scale)) {
            // Rare: cut into pieces now, on this thread.
            Triangle pieces[kMaxPieces];
            int n = SetupTriangle(v[i], v[i + 1], v[i + 2], q.pipelines[pipe], pipe, pieces);
            for (int k = 0; k < n; ++k) {
                q.clipped.push_back(pieces[k]);
                q.commands.Append({kClipped, uint32_t(q.clipped.size() - 1), int16_t(pieces[k].yMin),
                                   int16_t(pieces[k].yMax)},
                                  m.PastCaches());
            }
            m.Added();
            continue;
        }
        // Unclipped vertices lie within the guard band, so the rows fit an
        // int; a vertex that is not a number draws nothing.
        const float yMin = std::min({v[i].sy, v[i + 1].sy, v[i + 2].sy}) * float(m.scale);
        const float yMax = std::max({v[i].sy, v[i + 1].sy, v[i + 2].sy}) * float(m.scale);
        int yLo = 1, yHi = 0;
        if (std::isfinite(yMin) && std::isfinite(yMax)) {
            yLo = std::clamp(int(std::floor(yMin)) - 1, 0, m.target.height);
            yHi = std::min(int(std::ceil(yMax)) + 1, m.target.height - 1);
        }
        q.queued.Append({{v[i], v[i + 1], v[i + 2]}, pipe, 0}, m.PastCaches());
        q.commands.Append({kQueued, uint32_t(q.queued.Size() - 1), int16_t(yLo), int16_t(yHi)}, m.PastCaches());
        m.Added();
    }
}

void Rasterizer::Clear(const D3DRECT* rects, int numRects, bool target, bool depth, D3DCOLOR color, float z) {
    Impl& m = *m_Impl;
    if (!m.target.color) return;
    const int k = m.scale;
    ClearRect base;
    base.target = target;
    base.depth = depth && m.target.depth;
    base.color = ColorTo565(color);
    base.z = DepthToZ16(z);
    int vx0 = std::clamp(m.viewport.x * k, 0, m.target.width);
    int vy0 = std::clamp(m.viewport.y * k, 0, m.target.height);
    int vx1 = std::clamp((m.viewport.x + m.viewport.width) * k, vx0, m.target.width);
    int vy1 = std::clamp((m.viewport.y + m.viewport.height) * k, vy0, m.target.height);
    auto add = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
        ClearRect r = base;
        r.x0 = int(std::max<int64_t>(x0, vx0));
        r.y0 = int(std::max<int64_t>(y0, vy0));
        r.x1 = int(std::min<int64_t>(x1, vx1));
        r.y1 = int(std::min<int64_t>(y1, vy1));
        if (r.x0 >= r.x1 || r.y0 >= r.y1) return;
        if (m.Q().clears.size() == kMaxClears) m.Flush();
        if (r.depth) {
            const bool whole = r.x0 == 0 && r.y0 == 0 && r.x1 == m.target.width && r.y1 == m.target.height;
            if (whole) m.KnowDepth(r.z);
            else if (m.knownDepth != r.z) m.KnowDepth(-1);
        }
        QueueSet& q = m.Q();
        q.clears.push_back(r);
        q.commands.Append({kClear, uint32_t(q.clears.size() - 1), int16_t(r.y0), int16_t(r.y1 - 1)}, m.PastCaches());
        m.Added();
    };
    if (!rects || numRects <= 0) add(vx0, vy0, vx1, vy1);
    else
        for (int i = 0; i < numRects; ++i)
            add(int64_t(rects[i].x1) * k, int64_t(rects[i].y1) * k, int64_t(rects[i].x2) * k, int64_t(rects[i].y2) * k);
}

void Rasterizer::Flush() {
    m_Impl->Flush();
    m_Impl->KnowDepth(-1);
}

bool Rasterizer::Submit() { return m_Impl->Close(false); }

bool Rasterizer::CanCopySubmitted() const { return m_Impl->Copyable(); }
bool Rasterizer::CopySubmitted(const CopyRows& copy) { return m_Impl->CopyClosed(copy); }

bool Rasterizer::HasPendingWork() const { return !m_Impl->Q().Empty() || m_Impl->Other().running.load() > 0; }

} // namespace raster
