#include "show/scenes.h"

#include "app/globals.h"
#include "fx/effects.h"
#include "fx/fxshared.h"
#include "text/texteffects.h"

double g_GlowX[kNumStars];
double g_GlowY[kNumStars];
double g_GlowZ[kNumStars];
double g_GlowSpeed[kNumStars];
int32_t g_TextStep = 0;

const char* const g_Greetings[kNumGreetings] = {"Velmirath", "Korvessa", "Tindrel",  "Oshavane", "Brumlok",
                                                "Yssendar",  "Pellucor", "Zavrinth", "Mordalune", "Quillexa"};
const char* const g_Credits[kNumCredits] = {"Code",     "Tavik Oremund", "Music",         "Senna Vhool",
                                            "Graphics", "Brask Illuvo",  "Engine design", "Ilka Varnhold",
                                            "Data set", "all generated"};
const char* const g_ClosingName = "T Oremund";

namespace {

// The scene angles of a time: the slow tumble most scenes share.
cVector Angles(double T) { return cVector(T / 155.0 / 10.0, T / 177.0 / 10.0, T / 144.0 / 10.0); }

// The standard scene camera: the tumble of t at distance D.
void SetStandardCamera(double D) {
    cMatrix m;
    m.SetRotation(Angles(g_CurrentTime));
    m.SetTrans(0.0, 0.0, D);
    g_Render->SetCamera(&m);
}

// One text step every 214 ms half beat; the first call only records the time.
void TextStep(const char* const* table, bool add) {
    g_TextEffects->Draw();
    const int32_t t = g_CurrentTime;
    if (g_TextStep == 0) g_TextStep = t;
    if ((2 * int64_t(t)) / 428 <= (2 * int64_t(g_TextStep)) / 428) return;
    const int k = int(Rnd() * 10.0);
    if (add) {
        const double y = Rnd() * 400.0;
        const double x = Rnd() * 400.0;
        g_TextEffects->Add(table[k], x, y);
    }
    g_TextStep = t;
}

} // namespace

void SceneSky() {
    SetStandardCamera(500.0);
    g_Sky->Draw();
}

void SceneCubes() {
    SetStandardCamera(500.0);
    g_Cubes->Draw(cVector(500.0, 500.0, g_CurrentTime));
}

void SceneFlare() {
    SetStandardCamera(500.0);
    g_Flare->Draw(cVector(100.0, 100.0, g_CurrentTime));
}

void SceneWobble(bool outline) {
    SetStandardCamera(600.0);
    g_Wobble->Draw(outline);
}

void SceneChrome(int32_t start) {
    SetStandardCamera(600.0);
    // Quarter beats at 140 beats a minute; the blob shows on every fourth.
    const int64_t q = int64_t((double(g_CurrentTime) - start) * 140.0 * 4.0 / 1000.0 / 60.0);
    if (q % 4 == 0) g_Chrome->Draw();
    g_Render->SetAmbient(0.0, 0.0, 0.0);
}

void SceneTunnel() {
    cMatrix m;
    m.SetRotation(Angles(g_CurrentTime));
    cVector eye(0.0, 0.0, 500.0);
    m.Transform(eye);
    if (eye.z < 500.0) eye.z = 500.0;
    m.SetTrans(&eye);
    g_Render->SetCamera(&m);
    // One unpainted call per elapsed millisecond advances the scroll.
    g_Render->SetPaint(false);
    for (int32_t ms = g_CurrentTime - g_PreviousTime; ms > 0; --ms) g_Tunnel->Draw();
    g_Render->SetPaint(true);
    g_Tunnel->Draw();
}

void SceneFuzzy(cFuzzy* effect, bool paint) {
    const int32_t p = g_PreviousTime;
    int32_t n = (g_CurrentTime - p) / 10;
    if (n == 0) n = 1;
    g_Render->SetPaint(false);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t T = p + 10 * i;
        cMatrix object;
        object.SetRotation(cVector(T / 55.0 / 10.0, T / 77.0 / 10.0, T / 44.0 / 10.0));
        object.SetTrans(Sin(2.0 * (T / 200.0) * kPi / 10.0) * 100.0, Cos(2.0 * (T / 266.0) * kPi / 10.0) * 100.0,
                        0.0);
        // The ball slides in along x: from 2000 at T = 4 s to 0 at T = 14 s.
        int32_t d = 2000 - (2 * T - 8000) / 10;
        if (d < 0) d = 0;
        cMatrix camera;
        camera.SetIdentity();
        camera.SetTrans(d, 0.0, 500.0);
        g_Render->SetCamera(&camera);
        if (paint && i == n - 1) g_Render->SetPaint(true);
        effect->Draw(object);
    }
    g_Render->SetPaint(true);
}

void SceneWater(int32_t elapsed) {
    cMatrix m;
    m.SetTrans(0.0, 1000 - elapsed / 10, 700.0);
    g_Render->SetCamera(&m);
    g_Water->Draw();
}

void SceneSphere(int32_t start) {
    const int32_t t = g_CurrentTime;
    const int32_t e = t - start;
    const double y0 = e / 3.5 - 2500.0;
    const int32_t base = e - 10000;
    // Five copies along a trail, each drawn at its own time.
    for (int k = 0; k < 5; ++k) {
        const int32_t T = base + 800 * k;
        g_CurrentTime = T;
        cMatrix m;
        m.SetRotation(Angles(T));
        m.SetTrans(Sin(T / 4000.0 * 2.0 * kPi) * 600.0, Cos(T / 4000.0 * 2.0 * kPi) * 600.0 + y0,
                   Sin((3 * T + 400) / 4000.0 * 2.0 * kPi) * 600.0 + 700.0);
        g_Render->SetCamera(&m);
        g_Sphere->Draw();
    }
    g_CurrentTime = t;
}

void SceneRing(bool withChrome) {
    const int64_t t = g_CurrentTime;
    // Quarter beats at 140 beats a minute: the first beat of every four pushes
    // the rings away.
    const int64_t q = (t * 560) / 1000 / 60;
    const double push = q % 16 < 4 ? 400.0 : 0.0;
    cMatrix m;
    auto turn = [&](int i) {
        m.SetRotation(cVector((t + 100.0 * i) / 155.0 / 4.0, (t + 200.0 * i) / 177.0 / 4.0,
                              (t + 300.0 * i) / 144.0 / 4.0));
    };
    for (int i = 0; i < 30; ++i) {
        turn(i);
        m.SetTrans(0.0, 0.0, Sin((t + 100.0 * i) / 3000.0 * 2.0 * kPi) * 500.0 + 1000.0 + push);
        m.SetScale(i * 0.05 + 0.1);
        g_Render->SetCamera(&m);
        g_Ring->Draw();
    }
    if (!withChrome) return;
    m.SetScale(1.0);
    turn(30);
    m.SetTrans(0.0, 0.0, 600.0);
    g_Render->SetCamera(&m);
    if (push != 0.0) g_Chrome->Draw();
}

void SceneGlow() {
    const double t = g_CurrentTime;
    cMatrix m;
    for (int i = 0; i < kNumStars; ++i) {
        m.ClearTrans();
        m.SetRotation(cVector((t + 10 * i) / 155.0 / 10.0, (t + 12 * i) / 177.0 / 10.0, (t + 13 * i) / 144.0 / 10.0));
        cVector star(g_GlowX[i], g_GlowY[i], g_GlowZ[i]);
        m.Transform(star);
        star.z += 1000.0;
        m.SetTrans(&star);
        g_Render->SetCamera(&m);
        g_Glow->Draw();
        // The stars move once per frame that shows them.
        g_GlowZ[i] -= g_GlowSpeed[i];
        if (g_GlowZ[i] < -2000.0) g_GlowZ[i] = 2000.0;
    }
}

void SceneKugels() {
    for (int32_t ms = g_CurrentTime - g_PreviousTime; ms > 0; --ms) g_Kugels->Move();
    g_Kugels->Draw();
}

void SceneFogLayers() { g_FogLayers->Draw(); }
void SceneParty() { g_Party->Draw(); }
void SceneOverlay() { g_Overlay->Draw(); }
void SceneLogoGlow() { g_LogoGlow->Draw(); }
void SceneStaff() { g_Staff->Draw(); }
void SceneStripes() { g_Stripes->Draw(); }

void Precalc() {
    for (int i = 0; i < kNumStars; ++i) {
        g_GlowX[i] = Rnd() * 200.0 - 100.0;
        g_GlowY[i] = Rnd() * 200.0 - 100.0;
        g_GlowZ[i] = Rnd() * 4000.0 - 2000.0;
        g_GlowSpeed[i] = Rnd() * 50.0 + 10.0;
    }
}

void SceneGreetings() { TextStep(g_Greetings, true); }

void SceneCredits(bool add) { TextStep(g_Credits, add); }

void SceneEnd() {
    const int32_t t = g_CurrentTime, p = g_PreviousTime;
    // Each text is centred on x = 320: 32 pixels a character at rest.
    if (t / 2568 != p / 2568) g_TextEffects->Add(g_ClosingName, 176.0, 192.0);
    if (t / 1712 != p / 1712) g_TextEffects->Add("The End", 208.0, 224.0);
    if (t / 2140 != p / 2140) g_TextEffects->Add("Kelvadun", 192.0, 256.0);
}
