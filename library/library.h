// library.h: start-up and shut-down of the whole library: core, input, sound,
// the screen and the fonts, in a fixed order.
//
// The folder sits above every subsystem: it is the one place that knows them
// all, and it registers with core and the screen what they must call above
// themselves (hooks).
#pragma once

#include "ravlin.h"  // InitLibrary, EndLibrary
