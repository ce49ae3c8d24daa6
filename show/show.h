// The show as the shell runs it: the effects made in their fixed order, the
// running order of the scenes, and the effects released at the end.
#pragma once

#include "show/timeline.h"

// Creates every effect and the text sprites in the show's order, publishes
// each through its global pointer, then runs Precalc. Their constructors
// draw from the one random generator, so this order fixes every random
// value of the show. May raise a fatal error; what was made stays published
// for DeleteEffects.
void CreateEffects();
// Deletes whatever CreateEffects made and clears the pointers.
void DeleteEffects();
