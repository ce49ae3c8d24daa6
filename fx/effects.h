// The effects of the show, one class each, and their global pointers. The
// shell creates every effect once, in a fixed order (their constructors draw
// from the one random generator), and the scenes call their per-frame
// operations with the camera already set in the renderer. An effect never
// draws pixels itself: it fills an object and has the renderer paint it, or
// takes screen-space records from the renderer and fills them.
//
// What callers rely on:
// - Constructors look up their textures by name and build their geometry;
//   nothing else is needed before the first Draw. Each may raise a fatal
//   error.
// - A frame allocates nothing: all tables are made by the constructors.
// - cCubes, cFuzzy, cSky, cWater and cWobble do nothing while the renderer's
//   painting is off (cFuzzy still records its transform); the others emit
//   their screen records regardless.
// - Effects that run a timed sequence (cStaff, cLogoGlow, cStripes, cParty)
//   start it on their first Draw.
#pragma once

#include "fx/chrome.h"
#include "fx/cubes.h"
#include "fx/flare.h"
#include "fx/foglayers.h"
#include "fx/fuzzy.h"
#include "fx/glow.h"
#include "fx/kugels.h"
#include "fx/logoglow.h"
#include "fx/overlay.h"
#include "fx/party.h"
#include "fx/ring.h"
#include "fx/sky.h"
#include "fx/sphere.h"
#include "fx/staff.h"
#include "fx/stripes.h"
#include "fx/tunnel.h"
#include "fx/water.h"
#include "fx/wobble.h"
