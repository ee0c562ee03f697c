// sdl2_system.cpp: system and clock services on Linux and SDL2.
#include "platform/platform.h"

const PlatformSystemOps SDL2_SYSTEM_OPS = {};
const PlatformClockOps SDL2_CLOCK_OPS = {};
