#include "show/show.h"

#include "fx/effects.h"
#include "show/scenes.h"
#include "text/texteffects.h"

namespace {

template <typename T> void Release(T*& effect) {
    delete effect;
    effect = nullptr;
}

} // namespace

void CreateEffects() {
    g_Fuzzy1 = new cFuzzy;
    g_Fuzzy2 = new cFuzzy;
    // The second fur ball: fewer columns, more rows, thinner strands.
    g_Fuzzy2->m_Nu = 4;
    g_Fuzzy2->m_Nv = 10;
    g_Fuzzy2->m_D = 10.0 / 19.0;
    g_Fuzzy2->Init();
    g_Glow = new cGlow;
    g_Sky = new cSky;
    g_Tunnel = new cTunnel;
    g_Cubes = new cCubes;
    g_Wobble = new cWobble;
    g_FogLayers = new cFogLayers;
    g_Water = new cWater;
    g_Party = new cParty;
    g_Overlay = new cOverlay;
    g_LogoGlow = new cLogoGlow;
    g_Sphere = new cSphere;
    g_Flare = new cFlare;
    g_Chrome = new cChrome;
    g_Ring = new cRing;
    g_Staff = new cStaff;
    g_Stripes = new cStripes;
    g_TextEffects = new cTextEffects;
    g_TextStep = 0;
    g_Kugels = new cKugels;
    Precalc();
}

void DeleteEffects() {
    Release(g_Fuzzy1);
    Release(g_Fuzzy2);
    Release(g_Glow);
    Release(g_Sky);
    Release(g_Tunnel);
    Release(g_Cubes);
    Release(g_Wobble);
    Release(g_FogLayers);
    Release(g_Water);
    Release(g_Party);
    Release(g_Overlay);
    Release(g_LogoGlow);
    Release(g_Sphere);
    Release(g_Flare);
    Release(g_Chrome);
    Release(g_Ring);
    Release(g_Staff);
    Release(g_Stripes);
    Release(g_TextEffects);
    Release(g_Kugels);
    Release(g_KugelsSphere);
}
