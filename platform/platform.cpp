// platform.cpp: the tables in use, the real backends unless a test installs fakes.
#include "platform/platform.h"

PlatformTables PLATFORM = {
    &SDL2_SYSTEM_OPS,
    &SDL2_CLOCK_OPS,
    &SDL2_WINDOW_OPS,
    &SDL2_INPUT_OPS,
    nullptr,  // sound device
    nullptr,  // codecs
};
