// fake_sound_lookup.h: the fake device's buffers found by sound handle.
#pragma once

#include "platform/fake/fake_sound.h"
#include "sound/sound_internal.h"

// The fake device's buffer behind buffer index of a sound handle.
inline FakeSoundBuffer* FindFakeSoundBuffer(int handle, int index) {
    return GetFakeSoundBuffer(GetSoundBufferId(handle, index));
}
