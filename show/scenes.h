// The scenes: each places one effect in the view for the current frame (a
// camera built from the playing time, handed to the renderer) and asks it to
// draw. The timeline chooses which run in a frame. t is g_CurrentTime and p
// g_PreviousTime throughout.
#pragma once

#include <cstdint>

void SceneSky();
void SceneCubes();
void SceneFlare();
void SceneWobble(bool outline);
void SceneTunnel();
class cFuzzy;
// Steps the fur ball once per 10 ms since the previous frame; only the last
// step paints, and only when paint is true.
void SceneFuzzy(cFuzzy* effect, bool paint);
// elapsed: ms since the water segments began; the camera sinks with it.
void SceneWater(int32_t elapsed);
void SceneSphere(int32_t start);
void SceneChrome(int32_t start);
void SceneRing(bool withChrome);
void SceneGlow();
void SceneKugels();
void SceneFogLayers();
void SceneParty();
void SceneOverlay();
void SceneLogoGlow();
void SceneStaff();
void SceneStripes();
void SceneGreetings();
// add false: the step and its random draw go on, no text is added.
void SceneCredits(bool add);
void SceneEnd();

// Fills the star tables of SceneGlow; once, after every effect is made.
void Precalc();

const int kNumStars = 500;
extern double g_GlowX[kNumStars];
extern double g_GlowY[kNumStars];
extern double g_GlowZ[kNumStars];
extern double g_GlowSpeed[kNumStars];

// Time of the last text step of the greeting and credit scenes; 0: none yet.
extern int32_t g_TextStep;

// The words the text scenes show.
const int kNumGreetings = 10;
const int kNumCredits = 10;
extern const char* const g_Greetings[kNumGreetings]; // at most 10 characters each
extern const char* const g_Credits[kNumCredits];     // at most 15 characters each
extern const char* const g_ClosingName;              // 9 characters
