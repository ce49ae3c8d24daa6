// The command queue: clears and triangles collected in submission order,
// then drawn by one thread, or by several. With several, each draws every
// command's rows that fall in its own bands of rows, setting up the
// triangles that reach them. A pixel belongs to exactly one band, and every
// band sees the commands in the same order, so the picture does not depend
// on the number of threads. The worker threads start on the queue while it
// is still being filled, a chunk at a time; the filling thread draws its own
// bands when the queue is flushed.
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

    std::vector<Pipeline> pipelines;
    cQueueArray<Queued> queued{kMaxQueuedTriangles};
    std::vector<Triangle> clipped;
    std::vector<ClearRect> clears;
    cQueueArray<Command> commands{kMaxQueuedTriangles + kMaxClippedTriangles + kMaxClears};

    // Worker threads 1 .. n-1; the flushing thread is band owner 0. From the
    // first chunk of a queue to its flush the workers draw the commands
    // below `published`; `closed` says that no more will come.
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable more;
    std::condition_variable done;
    // Written under the mutex, read also without it by a waiting thread's
    // spin.
    std::atomic<uint64_t> generation{0};
    std::atomic<int> running{0};
    std::atomic<bool> quit{false};
    std::atomic<bool> closed{false};
    bool streaming = false;
    bool spin = false; // no more threads than cores
    std::atomic<size_t> published{0};
    std::chrono::steady_clock::time_point flushStart;

    // The queues are made full size once, so that drawing a frame never
    // allocates; clearing them keeps their room. So are the threads.
    Impl() {
        clipped.reserve(kMaxClippedTriangles);
        clears.reserve(kMaxClears);
        pipelines.reserve(kMaxPipelines);
        SetThreadCount(DefaultThreads());
    }
    ~Impl() { StopWorkers(); }

    uint32_t CurrentPipeline() {
        if (pipelineDirty || pipelines.empty()) {
            pipelines.emplace_back();
            BuildPipeline(states, hasTexture ? &texture : nullptr, target.depth != nullptr, knownDepth, viewport, target,
                          scale, &pipelines.back());
            pipelineDirty = false;
        }
        return uint32_t(pipelines.size() - 1);
    }

    void Draw(const Pipeline* pipes, const Triangle& t, int y0, int y1) {
        const Pipeline& p = pipes[t.pipeline];
        (t.perspective ? p.drawPerspective : p.draw)(t, p, target, y0, y1);
    }

    // One thread: each triangle set up and drawn in turn.
    void RunAlone() {
        Triangle tri;
        for (const Command& c : commands) {
            switch (c.kind) {
            case kClear: ClearRows(clears[c.index], target, 0, target.height - 1); break;
            case kClipped: Draw(pipelines.data(), clipped[c.index], 0, target.height - 1); break;
            case kQueued: {
                const Queued& q = queued[c.index];
                if (SetupTriangle(q.v[0], q.v[1], q.v[2], pipelines[q.pipeline], q.pipeline, &tri))
                    Draw(pipelines.data(), tri, 0, target.height - 1);
                break;
            }
            }
        }
    }

    // The bands: band b holds rows bandStart[b] to bandStart[b + 1] - 1 and
    // belongs to thread b % threads; bandOf[y] is the band of row y (made
    // with the target, so that no frame allocates).
    int bandStart[kMaxBands + 1] = {};
    std::vector<uint16_t> bandOf;
    // Each thread's share of every round's rows, and how long after the last
    // flush began each finished. A thread that finished later than the
    // others gets fewer rows next time: frames change little from one to
    // the next, and the show's pictures are seldom even from top to bottom
    // (measured on the whole show with equal bands: one core drew for
    // 13.4 s while the other drew for 11.2 s and then waited). The workers
    // start on the queue before the flush, so they come to take more rows.
    double share[kMaxThreads] = {};
    int64_t runNs[kMaxThreads] = {};
    int sharedThreads = 0, sharedHeight = 0;

    void ChooseBands(int threads) {
        const int height = target.height;
        if (threads != sharedThreads || height != sharedHeight) {
            for (int t = 0; t < threads; ++t) share[t] = 1.0 / threads, runNs[t] = 0;
            sharedThreads = threads, sharedHeight = height;
        } else if (std::all_of(runNs, runNs + threads, [](int64_t ns) { return ns > 0; })) {
            // Rows per nanosecond of each thread, damped by half.
            double speed[kMaxThreads], total = 0;
            for (int t = 0; t < threads; ++t) total += speed[t] = share[t] / double(runNs[t]);
            double sum = 0;
            for (int t = 0; t < threads; ++t)
                sum += share[t] = std::clamp(0.5 * share[t] + 0.5 * speed[t] / total, 0.5 / threads, 1.5 / threads);
            for (int t = 0; t < threads; ++t) share[t] /= sum;
        }
        int rounds = std::clamp((height + kBandRows * threads / 2) / (kBandRows * threads), 1, kMaxBands / threads);
        int b = 0;
        for (int r = 0; r < rounds; ++r) {
            const int top = int(int64_t(height) * r / rounds), rows = int(int64_t(height) * (r + 1) / rounds) - top;
            double cut = 0;
            for (int t = 0; t < threads; ++t, ++b) {
                bandStart[b] = top + int(cut * rows + 0.5);
                cut += share[t];
            }
        }
        bandStart[b] = height;
        for (int k = 0; k < b; ++k)
            for (int y = bandStart[k]; y < bandStart[k + 1]; ++y) bandOf[size_t(y)] = uint16_t(k);
    }

    // Thread `band` of `bands`: every command below `end` that reaches one
    // of its bands, in order, a triangle set up here and drawn at once. A
    // triangle across two threads' bands is set up by both: that costs less
    // than handing set-up triangles from one core's cache to another.
    void Run(int band, int bands, size_t from, size_t end) {
        // The queues through their data: the filling thread may be adding to
        // them meanwhile, within their reserved room, so nothing moves.
        const Command* const cmds = commands.Data();
        const Queued* const qs = queued.Data();
        const ClearRect* const cs = clears.data();
        const Triangle* const cut = clipped.data();
        const Pipeline* const pipes = pipelines.data();
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
                const Queued& q = qs[c.index];
                if (!SetupTriangle(q.v[0], q.v[1], q.v[2], pipes[q.pipeline], q.pipeline, &tri)) continue;
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

    // How long after the flush began each thread finished (at least 1 ns);
    // read once every thread is done.
    void Finished(int band) {
        runNs[band] = std::max<int64_t>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - flushStart).count());
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

    // A worker's share of one queue: the chunks as they are published, until
    // the queue is closed and all of it drawn.
    void RunStream(int band, int bands) {
        size_t from = 0;
        for (;;) {
            size_t end;
            auto ready = [&] { return closed.load() || published.load(std::memory_order_acquire) > from; };
            if (!Spin(ready)) {
                std::unique_lock<std::mutex> lock(mutex);
                more.wait(lock, ready);
            }
            end = published.load(std::memory_order_acquire);
            if (end == from) break; // closed, all drawn
            Run(band, bands, from, end);
            from = end;
        }
        Finished(band);
    }

    void WorkerLoop(int band, uint64_t seen) {
        for (;;) {
            int bands;
            auto ready = [&] { return quit.load() || generation.load() != seen; };
            if (!Spin(ready)) {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, ready);
            }
            if (quit) return;
            seen = generation;
            bands = int(workers.size()) + 1;
            RunStream(band, bands);
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (--running == 0) done.notify_one();
            }
        }
    }

    // Hands the queue so far to the workers, starting them on its first
    // chunk. The bands are chosen then, for the whole queue.
    void Publish() {
        if (!streaming) {
            SetThreadCount(DefaultThreads());
            if (workers.empty()) {
                published.store(commands.Size(), std::memory_order_relaxed); // next look a chunk later
                return;
            }
            ChooseBands(int(workers.size()) + 1);
            std::lock_guard<std::mutex> lock(mutex);
            streaming = true;
            closed = false;
            FenceQueueWrites();
            published.store(commands.Size(), std::memory_order_release);
            running = int(workers.size());
            ++generation;
            wake.notify_all();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            FenceQueueWrites();
            published.store(commands.Size(), std::memory_order_release);
        }
        more.notify_all();
    }
    // Whether the queue is written past the caches: where other threads
    // draw, they read every command and the triangles in their bands.
    bool PastCaches() const { return !workers.empty(); }
    // After a command is queued: a new chunk for the workers?
    void Added() {
        if (kMaxThreads > 1 && commands.Size() - published.load(std::memory_order_relaxed) >= kStreamChunk) Publish();
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

    void SetThreadCount(int threads) {
        if (int(workers.size()) + 1 == threads) return;
        StopWorkers();
        workers.reserve(size_t(threads));
        spin = threads <= AvailableCores();
        const uint64_t g = generation;
        for (int i = 1; i < threads; ++i) workers.emplace_back([this, i, g] { WorkerLoop(i, g); });
    }

    void Flush() {
        if (!commands.Empty()) {
            flushStart = std::chrono::steady_clock::now();
            Publish();
            if (!streaming) {
                RunAlone();
            } else {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    closed = true;
                }
                more.notify_all();
                Run(0, int(workers.size()) + 1, 0, commands.Size());
                Finished(0);
                auto ready = [&] { return running.load() == 0; };
                if (!Spin(ready)) {
                    std::unique_lock<std::mutex> lock(mutex);
                    done.wait(lock, ready);
                }
                streaming = false;
            }
        }
        published.store(0, std::memory_order_relaxed);
        commands.Clear();
        queued.Clear();
        clipped.clear();
        clears.clear();
        pipelines.clear();
        pipelineDirty = true;
    }
};

Rasterizer::Rasterizer() : m_Impl(new Impl) {}

Rasterizer::~Rasterizer() { m_Impl->Flush(); }

void Rasterizer::SetTarget(const Target& target) {
    m_Impl->Flush();
    m_Impl->KnowDepth(-1);
    m_Impl->target = target;
    m_Impl->bandOf.resize(size_t(std::max(target.height, 0)));
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
        if (m.queued.Size() == kMaxQueuedTriangles || m.clipped.size() + kMaxPieces > kMaxClippedTriangles ||
            (m.pipelineDirty && m.pipelines.size() == kMaxPipelines))
            m.Flush();
        uint32_t pipe = m.CurrentPipeline();
        if (m.pipelines[pipe].depthWrite) m.KnowDepth(-1);
        if (NeedsClipping(v[i], v[i + 1], v[i + 2], m.scale)) {
            // Rare: cut into pieces now, on this thread.
            Triangle pieces[kMaxPieces];
            int n = SetupTriangle(v[i], v[i + 1], v[i + 2], m.pipelines[pipe], pipe, pieces);
            for (int k = 0; k < n; ++k) {
                m.clipped.push_back(pieces[k]);
                m.commands.Append({kClipped, uint32_t(m.clipped.size() - 1), int16_t(pieces[k].yMin),
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
        m.queued.Append({{v[i], v[i + 1], v[i + 2]}, pipe, 0}, m.PastCaches());
        m.commands.Append({kQueued, uint32_t(m.queued.Size() - 1), int16_t(yLo), int16_t(yHi)}, m.PastCaches());
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
        if (m.clears.size() == kMaxClears) m.Flush();
        if (r.depth) {
            const bool whole = r.x0 == 0 && r.y0 == 0 && r.x1 == m.target.width && r.y1 == m.target.height;
            if (whole) m.KnowDepth(r.z);
            else if (m.knownDepth != r.z) m.KnowDepth(-1);
        }
        m.clears.push_back(r);
        m.commands.Append({kClear, uint32_t(m.clears.size() - 1), int16_t(r.y0), int16_t(r.y1 - 1)}, m.PastCaches());
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

bool Rasterizer::HasPendingWork() const { return !m_Impl->commands.Empty(); }

} // namespace raster
