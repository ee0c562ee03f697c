// sdl2_input.cpp: keyboard and joypads on SDL2.
#include "platform/platform.h"

const PlatformInputOps SDL2_INPUT_OPS = {};
