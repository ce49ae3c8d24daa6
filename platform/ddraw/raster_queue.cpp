// The command queue: clears and set-up triangles collected in submission
// order, then drawn by one thread, or by several that each take every
// triangle's rows in their own bands of rows. A pixel belongs to exactly one
// band, and every band sees the commands in the same order, so the picture
// does not depend on the number of threads.
#include "platform/ddraw/raster_internal.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace raster {

namespace {

// One thread unless TRUBELOX_RASTER_THREADS asks for more.
int ThreadsFromEnvironment() {
    const char* env = std::getenv("TRUBELOX_RASTER_THREADS");
    int n = env ? std::atoi(env) : 1;
    return std::clamp(n, 1, 64);
}

std::atomic<int> g_DefaultThreads{ThreadsFromEnvironment()};

const int kBandShift = 3;              // bands of 8 rows, dealt out in turn
const size_t kMaxQueuedTriangles = 16384; // then the queue is drawn
const size_t kReservedClears = 1024;      // clears between two flushes
const size_t kReservedPipelines = 4096;   // state changes between two flushes

struct Command {
    bool clear;
    uint32_t index;
};

} // namespace

void SetDefaultThreads(int threads) { g_DefaultThreads = std::clamp(threads, 1, 64); }
int DefaultThreads() { return g_DefaultThreads; }

struct Rasterizer::Impl {
    Target target;
    Viewport viewport;
    States states;
    Texture texture;
    bool hasTexture = false;
    bool pipelineDirty = true;

    std::vector<Pipeline> pipelines;
    std::vector<Triangle> triangles;
    std::vector<ClearRect> clears;
    std::vector<Command> commands;

    // Worker threads 1 .. n-1; the flushing thread is band owner 0.
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    uint64_t generation = 0;
    int running = 0;
    bool quit = false;

    // The queues are made full size once, so that drawing a frame never
    // allocates; clearing them keeps their room.
    Impl() {
        triangles.reserve(kMaxQueuedTriangles);
        commands.reserve(kMaxQueuedTriangles + kReservedClears);
        clears.reserve(kReservedClears);
        pipelines.reserve(kReservedPipelines);
    }
    ~Impl() { StopWorkers(); }

    uint32_t CurrentPipeline() {
        if (pipelineDirty || pipelines.empty()) {
            pipelines.emplace_back();
            BuildPipeline(states, hasTexture ? &texture : nullptr, target.depth != nullptr, viewport, target,
                          &pipelines.back());
            pipelineDirty = false;
        }
        return uint32_t(pipelines.size() - 1);
    }

    // Every command's rows that fall in the bands of owner `band` of `bands`.
    void Run(int band, int bands) {
        for (const Command& c : commands) {
            int y0, y1;
            if (c.clear) {
                y0 = clears[c.index].y0;
                y1 = clears[c.index].y1 - 1;
            } else {
                y0 = triangles[c.index].yMin;
                y1 = triangles[c.index].yMax;
            }
            if (y0 > y1) continue;
            auto draw = [&](int a, int b) {
                if (c.clear) ClearRows(clears[c.index], target, a, b);
                else {
                    const Triangle& t = triangles[c.index];
                    RasterRows(t, pipelines[t.pipeline], target, a, b);
                }
            };
            if (bands == 1) {
                draw(y0, y1);
                continue;
            }
            int first = y0 >> kBandShift, last = y1 >> kBandShift;
            int b = first + ((band - first % bands) + bands) % bands;
            for (; b <= last; b += bands)
                draw(std::max(y0, b << kBandShift), std::min(y1, ((b + 1) << kBandShift) - 1));
        }
    }

    void WorkerLoop(int band, uint64_t seen) {
        for (;;) {
            int bands;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return quit || generation != seen; });
                if (quit) return;
                seen = generation;
                bands = int(workers.size()) + 1;
            }
            Run(band, bands);
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (--running == 0) done.notify_one();
            }
        }
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
        for (int i = 1; i < threads; ++i) workers.emplace_back([this, i, g = generation] { WorkerLoop(i, g); });
    }

    void Flush() {
        if (!commands.empty()) {
            SetThreadCount(DefaultThreads());
            if (workers.empty()) {
                Run(0, 1);
            } else {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    running = int(workers.size());
                    ++generation;
                }
                wake.notify_all();
                Run(0, int(workers.size()) + 1);
                std::unique_lock<std::mutex> lock(mutex);
                done.wait(lock, [&] { return running == 0; });
            }
        }
        commands.clear();
        triangles.clear();
        clears.clear();
        pipelines.clear();
        pipelineDirty = true;
    }
};

Rasterizer::Rasterizer() : m_Impl(new Impl) {}

Rasterizer::~Rasterizer() { m_Impl->Flush(); }

void Rasterizer::SetTarget(const Target& target) {
    m_Impl->Flush();
    m_Impl->target = target;
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
                                         texture->height == m.texture.height)))
        return;
    m.hasTexture = has;
    if (has) m.texture = *texture;
    m.pipelineDirty = true;
}

void Rasterizer::DrawTriangles(const D3DTLVERTEX* v, int count) {
    Impl& m = *m_Impl;
    if (!m.target.color) return;
    Triangle pieces[5];
    for (int i = 0; i + 3 <= count; i += 3) {
        if (m.triangles.size() + 5 > kMaxQueuedTriangles) m.Flush();
        uint32_t pipe = m.CurrentPipeline();
        int n = SetupTriangle(v[i], v[i + 1], v[i + 2], m.pipelines[pipe], pipe, pieces);
        for (int k = 0; k < n; ++k) {
            m.commands.push_back({false, uint32_t(m.triangles.size())});
            m.triangles.push_back(pieces[k]);
        }
    }
}

void Rasterizer::Clear(const D3DRECT* rects, int numRects, bool target, bool depth, D3DCOLOR color, float z) {
    Impl& m = *m_Impl;
    if (!m.target.color) return;
    ClearRect base;
    base.target = target;
    base.depth = depth && m.target.depth;
    base.color = ColorTo565(color);
    base.z = DepthToZ16(z);
    int vx0 = std::clamp(m.viewport.x, 0, m.target.width);
    int vy0 = std::clamp(m.viewport.y, 0, m.target.height);
    int vx1 = std::clamp(m.viewport.x + m.viewport.width, vx0, m.target.width);
    int vy1 = std::clamp(m.viewport.y + m.viewport.height, vy0, m.target.height);
    auto add = [&](int x0, int y0, int x1, int y1) {
        ClearRect r = base;
        r.x0 = std::max(x0, vx0);
        r.y0 = std::max(y0, vy0);
        r.x1 = std::min(x1, vx1);
        r.y1 = std::min(y1, vy1);
        if (r.x0 >= r.x1 || r.y0 >= r.y1) return;
        m.commands.push_back({true, uint32_t(m.clears.size())});
        m.clears.push_back(r);
    };
    if (!rects || numRects <= 0) add(vx0, vy0, vx1, vy1);
    else
        for (int i = 0; i < numRects; ++i) add(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
}

void Rasterizer::Flush() { m_Impl->Flush(); }

bool Rasterizer::HasPendingWork() const { return !m_Impl->commands.empty(); }

} // namespace raster
