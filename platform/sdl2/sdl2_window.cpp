// sdl2_window.cpp: the main window and its messages on SDL2.
#include "platform/platform.h"

const PlatformWindowOps SDL2_WINDOW_OPS = {};
