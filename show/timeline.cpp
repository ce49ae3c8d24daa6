#include "show/show.h"

#include "app/globals.h"
#include "fx/effects.h"
#include "fx/fxshared.h"
#include "show/scenes.h"
#include "sound/soundsystem.h"

const int32_t kSegmentStarts[kNumSegments] = {0,      5500,   13775,  27490,  42000,  54880,  68428,
                                              82150,  95955,  109681, 123334, 137232, 150826, 164563,
                                              178377, 192010, 206000, 219531, 233269, 244000};

namespace {

void Ambient(double a) { g_Render->SetAmbient(a, a, a); }
void Fade(double r, double g, double b) { g_Render->SetFadeColor(r, g, b); }
void Flanger(bool on) {
    if (g_SoundSystem) g_SoundSystem->SetFlanger(on);
}

} // namespace

int SegmentAt(int32_t t) {
    int segment = 0;
    for (int k = 0; k < kNumSegments && t >= kSegmentStarts[k]; ++k) segment = k + 1;
    return segment;
}

// The colour ramps divide by real numbers: the logo glow and the opening
// glow show, and the fades are smooth. The beat tests divide whole numbers.
void Timeline() {
    const int32_t t = g_CurrentTime;
    const double T = t;
    switch (SegmentAt(t)) {
    case 0:
        break;
    case 1: {
        Flanger(true);
        const double a = T / 11000.0 - 0.5;
        Ambient(a);
        if (a > -0.5) SceneLogoGlow();
        SceneTunnel();
        const double g = Sin(T / 5500.0 * kPi) - 1.0;
        g_Glow->m_bFlares = t <= 3000;
        if (g > -0.5) {
            Ambient(g);
            SceneGlow();
        }
        break;
    }
    case 2:
        Flanger(false);
        Ambient(0.0);
        Fade(0.0, 0.0, 0.0);
        SceneFuzzy(g_Fuzzy1, true);
        SceneTunnel();
        break;
    case 3:
        Fade(0.5, 0.6, 0.9);
        SceneFuzzy(g_Fuzzy1, true);
        SceneTunnel();
        break;
    case 4:
        Fade(0.5, 0.6, 0.9);
        SceneTunnel();
        // On odd beats the cubes, and the fur ball only steps.
        if ((t / 428) % 2 == 0) {
            SceneFuzzy(g_Fuzzy1, true);
        } else {
            SceneFuzzy(g_Fuzzy1, false);
            SceneCubes();
        }
        break;
    case 5:
        Fade(0.5, 0.6, 0.9);
        SceneTunnel();
        Ambient(Cos(double(t + 214) / 428.0 * kPi) - 1.0);
        SceneCubes();
        Ambient(0.0);
        break;
    case 6:
        Fade(0.5, 0.6, 0.9);
        if (t > 67000) Ambient(-(T - 67000.0) / 1000.0);
        SceneSky();
        SceneCubes();
        SceneFuzzy(g_Fuzzy2, false);
        break;
    case 7:
        Fade(0.7, 0.4, 0.3);
        Ambient(t < 69000 ? (T - 68000.0) / 1000.0 - 1.0 : 0.0);
        SceneSky();
        SceneFuzzy(g_Fuzzy2, true);
        break;
    case 8:
        Fade(0.4, 0.3, 0.7);
        SceneTunnel();
        SceneSky();
        SceneFuzzy(g_Fuzzy2, true);
        break;
    case 9:
        Ambient(0.0);
        Fade(0.4, 0.3, 0.7);
        SceneTunnel();
        SceneWobble(true);
        break;
    case 10:
        g_Render->SetAmbient(-0.5, 0.0, 0.0);
        Fade(0.4, 0.3, 0.7);
        SceneFogLayers();
        SceneWobble(false);
        break;
    case 11:
        // The fog flickers over the first five seconds.
        if (t < 128334 && (t / 15) % 32 > 20) SceneFogLayers();
        SceneOverlay();
        Ambient(0.0);
        Fade(0.0, 0.0, 0.0);
        SceneWater(t - 123334);
        g_Render->SetAmbient(-0.5, 0.0, 0.0);
        SceneWobble(false);
        break;
    case 12:
        if (t < 142232) g_Render->SetAmbient((T - 137232.0) * (-0.5) / 5000.0, 0.0, 0.0);
        SceneWater(t - 123334);
        SceneParty();
        g_Render->SetAmbient(-0.5, 0.0, 0.0);
        SceneWobble(false);
        break;
    case 13:
        if (t < 151826) Ambient((T - 150826.0) / 10000.0 - 0.1);
        SceneFlare();
        Fade(0.0, 0.0, 0.0);
        Ambient(0.0);
        SceneOverlay();
        SceneParty();
        break;
    case 14:
        Ambient(Sin(T / 500.0 * 2.0 * kPi) * 0.1 + 0.1);
        SceneFlare();
        Ambient(0.0);
        SceneSphere(164563);
        SceneOverlay();
        break;
    case 15:
        Ambient(0.0);
        SceneFlare();
        SceneOverlay();
        g_Render->SetGlow(true);
        SceneChrome(0);
        g_Render->SetGlow(false);
        break;
    case 16: {
        Ambient(0.0);
        const double a = (192010.0 - T) * 0.1 / 12990.0;
        SceneOverlay();
        if (a > -0.1) {
            Ambient(a);
            SceneFlare();
        }
        double b = (T - 192010.0) * 0.5 / 12990.0 - 0.5;
        if (b > 0.0) b = 0.0;
        if (b > -0.5) {
            Ambient(b);
            g_Glow->m_bFlares = false;
            SceneGlow();
        }
        break;
    }
    case 17: {
        Ambient(0.0);
        g_Glow->m_bFlares = false;
        SceneGlow();
        SceneRing(true);
        SceneStaff();
        const double c = t > 216531 ? (T - 216531.0) * 0.5 / 3000.0 - 0.5 : -0.5;
        if (c > -1.0) {
            Ambient(c);
            SceneSky();
        }
        break;
    }
    case 18:
        SceneStripes();
        SceneRing(false);
        SceneSky();
        SceneGreetings();
        break;
    case 19:
        SceneKugels();
        SceneCredits(true);
        break;
    default:
        g_Render->SetKreis(true);
        SceneKugels();
        SceneCredits(false);
        SceneEnd();
        break;
    }
}
