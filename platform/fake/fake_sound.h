// fake_sound.h: a fake sound device for unit tests.
//
// InstallFakeSoundDevice() puts FAKE_SOUND_OPS into PLATFORM.sound and resets
// FAKE_SOUND. The fake keeps every buffer's format, bytes (as unlocked), play
// state, position and rate; it records the operations called (FAKE_SOUND.calls)
// and can be told to fail each step. Nothing plays by itself: a test moves the
// playing buffers on with AdvanceFakeSound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sound_device.h"

enum { MAX_FAKE_SOUND_BUFFERS = 8192 };

struct FakeSoundBuffer {
    int used;                    // created and not yet released
    int released;                // times ReleaseBuffer was called on it
    WaveFormat format;
    uint32_t flags;              // DSBCAPS_*
    std::vector<uint8_t> bytes;  // the buffer's PCM as last unlocked
    int playing;
    int looping;
    uint32_t position;           // bytes from the start
    uint32_t frequency;          // Hz, 0 = the format's rate
    int locked;
    int mapped;                  // MapBuffer handed out the bytes, no UnmapBuffer yet
    int written;                 // locked or mapped at least once
    float volume;                // gain, 1 when made
    uint32_t loopStart, loopEnd; // frames; 0, 0 = the whole buffer
    int keepPitch;
    int semitones;
    // Set by the test: the operation fails on this buffer while nonzero.
    int statusFails, positionFails, playFails, stopFails, setPositionFails, lockFails;
};

struct FakeSoundDevice {
    std::vector<std::string> calls;  // operation names in call order
    int open;
    int primaryBuffer;               // 1 while the primary buffer exists
    int primaryPlaying;
    int primaryFormatSet;
    WaveFormat primaryFormat;
    PlatformSoundCaps caps;
    std::vector<std::string> deviceDescriptions, deviceModules;  // enumeration

    // Failures the test asks for.
    int createDeviceFails, cooperativeLevelFails, primaryBufferFails, setPrimaryFormatFails;
    int createBufferFails;           // refuse every buffer
    int frequencyControlFails;       // refuse buffers that ask for DSBCAPS_CTRLFREQUENCY
    int createBufferFailAfter;       // > 0: refuse buffers after this many were made
    uint32_t maxBufferBytes;         // > 0: the largest buffer CanHoldBuffer accepts, bytes
    int mapBufferFails;              // MapBuffer refuses every buffer (a device without it)
    int keepPitchFails;              // SetKeepPitch refuses (a device without a stretcher)

    int buffersCreated;              // ids handed out so far (ids are 1..buffersCreated)
    FakeSoundBuffer buffers[MAX_FAKE_SOUND_BUFFERS + 1];  // by id
};

extern FakeSoundDevice FAKE_SOUND;
extern const PlatformSoundOps FAKE_SOUND_OPS;

void InstallFakeSoundDevice(void);
int CountFakeSoundCalls(const char* name);
// The fake buffer behind buffer index of a sound handle, or null.
// The fake buffer of a device id, or null.
FakeSoundBuffer* GetFakeSoundBuffer(int id);
// Plays every playing buffer on by the given number of frames at its own rate:
// a looping one wraps (within its loop section), another stops at its end and
// stands at its start.
void AdvanceFakeSound(uint32_t frames);
