// sound.h: the sound device, the table of sound handles, playback and file
// loading, as the library uses them inside; what programs call is in ravlin.h.
//
// A sound handle is 0x20000 + slot (slots 0..511); -1 is no sound.
#pragma once

#include <cstdint>

#include "platform/wave_format.h"
#include "ravlin.h"

enum {
    SOUND_HANDLE_BASE = 0x20000,
    MAX_SOUND_BUFFERS = 10,
};

int InitSoundDevice(void);
int EndSoundDevice(void);

int AddSoundData(void);
int CreateSoundBuffers(const WaveFormat* format, int byteCount, int count, int handle);
