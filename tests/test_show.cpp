// The show: the timeline's choices at its boundaries, the scenes' stepping
// rules, a frame of any segment allocating nothing, and the whole show run
// end to end on the virtual clock.
#include "app/globals.h"
#include "app/offline.h"
#include "fx/effects.h"
#include "platform/ddraw/ddraw.h"
#include "show/scenes.h"
#include "show/show.h"
#include "sound/soundsystem.h"
#include "support/allocations.h"
#include "support/capture.h"
#include "text/texteffects.h"
#include "tools/effect_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// The textures each segment's scenes may draw (besides the fonts, the corner
// logo and untextured outlines): what the running order puts on screen.
const std::vector<std::vector<const char*>>& AllowedTextures() {
    static const std::vector<std::vector<const char*>> allowed = {
        {},                                                 // before the show
        {"logoglow", "tunnel", "glowy", "flare"},           // tunnel, logo, glow burst
        {"nfor", "glowy", "flare", "tunnel"},               // fur ball in the tunnel
        {"nfor", "glowy", "flare", "tunnel"},               // the same with trails
        {"nfor", "glowy", "flare", "tunnel", "ain01"},      // fur ball and cubes by turns
        {"tunnel", "ain01"},                                // cubes on the beat
        {"himmel", "ain01"},                                // sky and cubes
        {"himmel", "nfor", "glowy", "flare"},               // second fur ball in the sky
        {"tunnel", "himmel", "nfor", "glowy", "flare"},     //
        {"tunnel", "wobble"},                               // wobble with outlines
        {"fog", "wobble"},                                  //
        {"fog", "overlay", "water", "wobble"},              // water with the wobble
        {"water", "party", "wobble"},                       // the fountain
        {"flare", "overlay", "party"},                      //
        {"flare", "white", "overlay"},                      // finned spheres
        {"flare", "overlay", "chrome", "glowy"},            // chrome blob in the lattice
        {"overlay", "flare", "glowy"},                      //
        {"glowy", "kreis", "chrome", "staff", "himmel"},    // ring tunnel, credits picture
        {"stripes", "kreis", "himmel"},                     // ribbons and greetings
        {"stripes", "white"},                               // bouncing spheres, credits
        {"stripes", "white"},                               // circle mask, closing texts
    };
    return allowed;
}

// Whether every triangle the renderer holds has a texture segment k may draw.
bool DrawsOnlyWhatItMay(int k, std::string* stray) {
    std::vector<int32_t> slots = {-1};
    for (const char* name : {"logo", "..\\font\\char", "..\\font\\font1", "..\\font\\font2"})
        slots.push_back(g_TextureContainer->AddTexture(name));
    for (const char* name : AllowedTextures()[size_t(k)]) slots.push_back(g_TextureContainer->AddTexture(name));
    for (uint32_t i = 0; i < g_Render->m_NumPolys; ++i) {
        const int32_t texture = g_Render->m_pRenderPolys[i].texture;
        if (std::find(slots.begin(), slots.end(), texture) == slots.end()) {
            *stray = g_TextureContainer->m_Textures[texture].m_Name;
            return false;
        }
    }
    return true;
}

class Show : public ::testing::Test {
protected:
    void SetUp() override { stage.reset(new EffectStage); }
    void TearDown() override { stage.reset(); }

    // One frame of the timeline at t after a frame at p, as the main loop
    // runs it (without drawing).
    void TimelineFrame(int32_t p, int32_t t) {
        g_CurrentTime = p;
        stage->Frame(t, Timeline, false);
    }
    static int PolysWith(int32_t texture) {
        int n = 0;
        for (uint32_t i = 0; i < g_Render->m_NumPolys; ++i) n += g_Render->m_pRenderPolys[i].texture == texture;
        return n;
    }
    static int ActiveTexts() {
        int n = 0;
        for (const sTextItem& item : g_TextEffects->m_Items) n += item.active;
        return n;
    }

    std::unique_ptr<EffectStage> stage;
};

} // namespace

TEST_F(Show, EachSegmentBeginsAtItsTime) {
    // The last millisecond of each segment and the first of the next draw
    // what their own segments may, and what is drawn or the trail colour
    // changes there (but from segment 3 to 4, whose even beats look alike).
    auto look = [] {
        std::vector<double> look;
        for (uint32_t i = 0; i < g_Render->m_NumPolys; ++i) look.push_back(g_Render->m_pRenderPolys[i].texture);
        std::sort(look.begin(), look.end());
        look.erase(std::unique(look.begin(), look.end()), look.end());
        const sColor& fade = g_Render->m_FadeColor;
        look.insert(look.end(), {fade.r, fade.g, fade.b, double(g_Render->m_bKreis)});
        return look;
    };
    for (int k = 1; k < kNumSegments; ++k) {
        const int32_t start = kSegmentStarts[k];
        std::string stray;
        TimelineFrame(start - 21, start - 1);
        EXPECT_TRUE(DrawsOnlyWhatItMay(k, &stray)) << "segment " << k << " draws " << stray;
        const std::vector<double> before = look();
        TimelineFrame(start - 20, start);
        EXPECT_TRUE(DrawsOnlyWhatItMay(k + 1, &stray)) << "segment " << k + 1 << " draws " << stray;
        if (k != 3) {
            EXPECT_FALSE(look() == before) << "no change into segment " << k + 1;
        }
    }
}

TEST_F(Show, OpeningShowsLogoAndGlowOnlyOnceTheyRiseAndFlaresForThreeSeconds) {
    const int32_t logo = g_LogoGlow->m_Texture, glow = g_Glow->m_GlowTexture, flare = g_Glow->m_FlareTexture;
    TimelineFrame(-21, -1);
    EXPECT_EQ(g_Render->m_NumPolys, 0u);

    TimelineFrame(0, 0); // both still exactly at their thresholds
    EXPECT_EQ(PolysWith(logo), 0);
    EXPECT_EQ(PolysWith(glow), 0);
    EXPECT_GT(PolysWith(g_Tunnel->m_Texture), 0);

    const struct {
        int32_t t;
        bool flares;
    } cases[] = {{2800, true}, {3000, true}, {3001, false}};
    for (const auto& c : cases) {
        TimelineFrame(c.t - 20, c.t);
        EXPECT_GT(PolysWith(logo), 0) << c.t;
        EXPECT_GT(PolysWith(glow), 0) << c.t;
        EXPECT_EQ(g_Glow->m_bFlares, c.flares) << c.t;
        EXPECT_EQ(PolysWith(flare) > 0, c.flares) << c.t;
    }
}

TEST_F(Show, FurBallAndCubesTakeTurnsOnTheBeat) {
    // 27820 / 428 is odd: the cubes, and the fur ball steps unseen; then the fur ball.
    for (int32_t t : {27820, 28248}) {
        const int32_t steps = g_Fuzzy1->m_HistoryPos;
        TimelineFrame(t - 20, t);
        EXPECT_EQ(PolysWith(g_Cubes->m_Texture) > 0, t == 27820) << t;
        EXPECT_EQ(PolysWith(g_Fuzzy1->m_Texture) > 0, t != 27820) << t;
        EXPECT_EQ((g_Fuzzy1->m_HistoryPos - steps + 90) % 90, 2) << t;
    }
}

TEST_F(Show, ColoursStayInForceIntoSegmentsThatSetNone) {
    TimelineFrame(219500, 219530); // the end of the ring segment
    const double c = (219530 - 216531) * 0.5 / 3000 - 0.5;
    EXPECT_DOUBLE_EQ(g_Render->m_Ambient.r, c);
    TimelineFrame(219530, 219560); // the ribbons set no colour
    EXPECT_DOUBLE_EQ(g_Render->m_Ambient.r, c);
}

TEST_F(Show, ScenesStepWithTheElapsedTime) {
    // The fur ball: one step per 10 ms, at least one, none after the clock
    // went back by more than 9 ms.
    const struct {
        int32_t p, t;
        int steps;
    } fur[] = {{20000, 20000, 1}, {20000, 20035, 3}, {20000, 19991, 1}, {20000, 19990, 0}};
    for (const auto& c : fur) {
        const int32_t before = g_Fuzzy1->m_HistoryPos;
        g_PreviousTime = c.p;
        g_CurrentTime = c.t;
        SceneFuzzy(g_Fuzzy1, true);
        EXPECT_EQ((g_Fuzzy1->m_HistoryPos - before + 90) % 90, c.steps) << c.t - c.p;
        EXPECT_TRUE(g_Render->m_bPaint);
    }

    // The tunnel scrolls once per elapsed millisecond plus once per frame.
    const double speed = g_Tunnel->m_Speed[0];
    const struct {
        int32_t p, t;
        int steps;
    } tunnel[] = {{1000, 1000, 1}, {1000, 900, 1}, {1000, 1005, 6}};
    for (const auto& c : tunnel) {
        const double v = g_Tunnel->m_Object->m_pPoints[0].v;
        g_CurrentTime = c.p;
        stage->Frame(c.t, SceneTunnel, false);
        double moved = v - g_Tunnel->m_Object->m_pPoints[0].v;
        if (moved < 0.0) moved += 1.0; // wrapped on the way
        EXPECT_NEAR(moved, c.steps * speed, 1e-12) << c.t - c.p;
    }

    // The spheres' copies see other times; the frame's time comes back.
    g_CurrentTime = 170000;
    SceneSphere(164563);
    EXPECT_EQ(g_CurrentTime, 170000);

    // A star that leaves the field behind reappears at its far end.
    g_GlowZ[0] = -1995.0;
    g_GlowSpeed[0] = 10.0;
    SceneGlow();
    EXPECT_EQ(g_GlowZ[0], 2000.0);
}

TEST_F(Show, RingsArePushedAndShowTheBlobOnTheFirstBeatOfFour) {
    // Quarter beats q = t * 560 / 60000; q mod 16 below 4 pushes.
    const struct {
        int32_t t;
        bool pushed;
    } cases[] = {{207428, false}, {207429, true}, {207857, true}, {207858, false}, {209143, true}};
    for (const auto& c : cases) {
        stage->Frame(c.t, [] { SceneRing(true); }, false);
        EXPECT_EQ(PolysWith(g_Chrome->m_Texture) > 0, c.pushed) << c.t;
        EXPECT_GT(PolysWith(g_Ring->m_Texture), 0);
    }
}

TEST_F(Show, TextScenesStepOnHalfBeats) {
    auto greet = [](int32_t t) {
        g_CurrentTime = t;
        SceneGreetings();
        return ActiveTexts();
    };
    g_TextStep = 0;
    EXPECT_EQ(greet(220000), 0); // records the time only
    EXPECT_EQ(g_TextStep, 220000);
    EXPECT_EQ(greet(220010), 0); // same half beat: (2 t) / 428
    EXPECT_EQ(greet(220206), 1); // the next half beat

    // Without adding, the step and its one random draw go on.
    const uint32_t rnd = GetRndState();
    g_CurrentTime = 220420;
    SceneCredits(false);
    EXPECT_EQ(ActiveTexts(), 1);
    EXPECT_EQ(g_TextStep, 220420);
    EXPECT_EQ(GetRndState(), rnd * 214013u + 2531011u);

    // The closing texts: once per crossing of their periods, however long
    // the frame.
    const struct {
        int32_t p, t;
        int added;
    } end[] = {{2568 * 100 - 1, 2568 * 100, 1}, {2568 * 100, 2568 * 100 + 1, 0}, {2568 * 99 - 1, 2568 * 101, 1}};
    for (const auto& c : end) {
        const int before = ActiveTexts();
        g_PreviousTime = c.p;
        g_CurrentTime = c.t;
        SceneEnd();
        // "The End" (1712) and the place name (2140) cross too in the long frame.
        const int others = (c.t / 1712 != c.p / 1712) + (c.t / 2140 != c.p / 2140);
        EXPECT_EQ(ActiveTexts() - before, c.added + others) << c.p;
    }
}

TEST_F(Show, AFrameOfAnySegmentAllocatesNothing) {
    // Two frames in each segment, drawn through the device: the first of each
    // may find its textures; the second is counted.
    for (int k = 0; k < kNumSegments; ++k) {
        const int32_t t = kSegmentStarts[k] + 1500;
        stage->Frame(t, Timeline, true);
        AllocationCounter allocations;
        stage->Frame(t + 40, Timeline, true);
        EXPECT_EQ(allocations.Count(), 0) << "segment " << k + 1;
    }
}

namespace {

// The whole show at a coarse step; under the sanitizers coarser still.
#if defined(__SANITIZE_ADDRESS__)
const double kEndToEndFps = 1.0;
#else
const double kEndToEndFps = 4.0;
#endif
const int32_t kEndToEndMs = 250000;

struct ShowRecord {
    int frames = 0;
    int lateFrames = 0; // frames whose time is not k / fps
    int lit[kNumSegments + 1] = {};
    int changed[kNumSegments + 1] = {}; // frames unlike the one before
    int flangerWrong = 0;
    std::vector<std::string> strays;
    uint64_t lastHash = 0;
};

bool RecordFrame(const uint16_t* pixels, int width, int height, int pitch, void* user) {
    ShowRecord& r = *static_cast<ShowRecord*>(user);
    const int64_t expected = int64_t(FrameMicroseconds(r.frames, kEndToEndFps) / 1000);
    r.lateFrames += g_CurrentTime != expected;
    ++r.frames;
    const int k = SegmentAt(g_CurrentTime);
    int lit = 0;
    uint64_t hash = 1469598103934665603ull;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint16_t p = pixels[y * pitch + x];
            lit += p != 0;
            hash = (hash ^ p) * 1099511628211ull;
        }
    if (lit > 1000) ++r.lit[k];
    if (hash != r.lastHash) ++r.changed[k];
    r.lastHash = hash;
    std::string stray;
    if (!DrawsOnlyWhatItMay(k, &stray)) r.strays.push_back("segment " + std::to_string(k) + ": " + stray);
    r.flangerWrong += g_SoundSystem && g_SoundSystem->m_bFlanger != (k == 1);
    return g_CurrentTime < kEndToEndMs;
}

} // namespace

TEST(ShowEndToEnd, EverySegmentDrawsItsScenesOnTheMusicClock) {
    ShowRecord record;
    OutputCapture capture;
    sOfflineRun run;
    run.fps = kEndToEndFps;
    run.hook = RecordFrame;
    run.user = &record;
    EXPECT_EQ(RunShowOffline(run), 0);
    EXPECT_TRUE(capture.boxes.empty()) << (capture.boxes.empty() ? "" : capture.boxes[0].text);
    EXPECT_EQ(record.frames, int(kEndToEndMs / 1000 * kEndToEndFps) + 1);
    EXPECT_EQ(record.lateFrames, 0);
    EXPECT_EQ(record.flangerWrong, 0); // on in the opening segment only
    EXPECT_TRUE(record.strays.empty()) << record.strays.front();
    for (int k = 1; k <= kNumSegments; ++k) {
        EXPECT_GT(record.lit[k], 0) << "segment " << k;
        EXPECT_GT(record.changed[k], 1) << "segment " << k;
    }
}
