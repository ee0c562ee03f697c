// platform.cpp: the tables in use, the real backends unless a test installs fakes.
#include "platform/platform.h"
#include "platform/font_engine.h"
#include "platform/screen_device.h"
#include "platform/sound_device.h"
#include "platform/sound_reader.h"

PlatformTables PLATFORM = {
    &SDL2_SYSTEM_OPS,
    &SDL2_CLOCK_OPS,
    &SDL2_WINDOW_OPS,
    &SDL2_INPUT_OPS,
    &OPENAL_SOUND_OPS,
    SOUND_READERS,
    &SDL2_SCREEN_OPS,
    &FREETYPE_FONT_OPS,
    &GTK_DIALOG_OPS,
    &GIO_MEDIA_OPS,
};
