// sound_device.h: the sound output device as the library's sound module uses it.
//
// The operations follow the device model the sound module was written for: one
// output device with a primary buffer that only carries the output format, and
// static secondary buffers that each hold a whole sound in PCM and play it once
// or in a loop at their own rate. A buffer is known by a positive id; 0 is none.
//
// OPENAL_SOUND_OPS is the real device (OpenAL Soft), FAKE_SOUND_OPS in
// platform/fake/fake_sound.h the one unit tests drive.
#pragma once

#include <cstdint>

#include "platform/wave_format.h"

// Buffers a device holds at once: enough for every buffer of every sound the
// library's table can have (512 sounds of up to 10 buffers), and a few more.
enum { SOUND_DEVICE_MAX_BUFFERS = 512 * 10 + 16 };

// Device capability flags.
enum {
    DSCAPS_PRIMARYMONO = 0x1,
    DSCAPS_PRIMARYSTEREO = 0x2,
    DSCAPS_PRIMARY8BIT = 0x4,
    DSCAPS_PRIMARY16BIT = 0x8,
    DSCAPS_SECONDARYMONO = 0x100,
    DSCAPS_SECONDARYSTEREO = 0x200,
    DSCAPS_SECONDARY8BIT = 0x400,
    DSCAPS_SECONDARY16BIT = 0x800,
};

// Buffer creation flags.
enum {
    DSBCAPS_PRIMARYBUFFER = 0x1,
    DSBCAPS_STATIC = 0x2,
    DSBCAPS_CTRLFREQUENCY = 0x20,
    DSBCAPS_CTRLPAN = 0x40,
    DSBCAPS_CTRLVOLUME = 0x80,
    DSBCAPS_GLOBALFOCUS = 0x8000,
};

enum { DSBSTATUS_PLAYING = 0x1, DSBSTATUS_LOOPING = 0x4 };
enum { DSBPLAY_LOOPING = 0x1 };

enum {
    WAVE_FORMAT_PCM = 1,
    WAVE_FORMAT_IEEE_FLOAT = 3,
};

struct PlatformSoundCaps {
    uint32_t flags;                  // DSCAPS_*
    uint32_t minSecondaryRate;       // Hz
    uint32_t maxSecondaryRate;       // Hz
    uint32_t totalHardwareMemory;    // bytes, 0 without device memory
    uint32_t freeHardwareMemory;     // bytes
};

// Called once per output device: its description and its module (driver) name.
typedef void (*PlatformSoundDeviceCallback)(const char* description, const char* module, void* context);

struct PlatformSoundOps {
    // Opens the default output device; 0, or -1 when there is no sound output.
    int (*CreateDevice)(void);
    // Lets the primary format be set (desktop focus, priority level); 0 or -1.
    int (*SetCooperativeLevel)(void);
    int (*CreatePrimaryBuffer)(void);                       // 0 or -1
    int (*GetCaps)(PlatformSoundCaps* caps);                // 0 or -1
    int (*SetPrimaryFormat)(const WaveFormat* format);      // 0 or -1
    void (*StopPrimaryBuffer)(void);
    void (*ReleasePrimaryBuffer)(void);
    // Releases the device together with any buffer still alive.
    void (*ReleaseDevice)(void);
    // Calls back once per output device; 0 or -1.
    int (*EnumerateDevices)(PlatformSoundDeviceCallback callback, void* context);

    // A secondary buffer of the given format and size (DSBCAPS_* flags);
    // returns its id (> 0) or -1 when the device refuses it.
    int (*CreateBuffer)(const WaveFormat* format, int bytes, uint32_t flags);
    int (*GetStatus)(int buffer, uint32_t* status);         // DSBSTATUS_*; 0 or -1
    int (*GetPosition)(int buffer, uint32_t* playBytes);    // bytes from the start; 0 or -1
    int (*Play)(int buffer, uint32_t flags);                // DSBPLAY_*; 0 or -1
    int (*Stop)(int buffer);                                // keeps the position; 0 or -1
    int (*SetPosition)(int buffer, uint32_t bytes);         // 0 or -1
    // Playback rate in Hz, 0 = the rate of the buffer's format. Refused (-1,
    // rate unchanged) outside the accepted range or without DSBCAPS_CTRLFREQUENCY.
    int (*SetFrequency)(int buffer, uint32_t hz);
    // A writable view of bytes from offset (wrapping at the end into a second
    // piece); the data reaches the device at Unlock. 0 or -1.
    int (*Lock)(int buffer, uint32_t offset, uint32_t bytes, void** part1, uint32_t* bytes1,
                void** part2, uint32_t* bytes2);
    int (*Unlock)(int buffer, void* part1, uint32_t bytes1, void* part2, uint32_t bytes2);
    void (*ReleaseBuffer)(int buffer);
    // Optional (null when the device has none): fills a buffer never locked
    // from data of exactly its size, as Lock of the whole buffer, a copy and
    // Unlock would, without a block of the device's own in between. 0 or -1.
    int (*Fill)(int buffer, const void* data, uint32_t bytes);
    // Optional (null when any size fits): 1 when a buffer of this format and
    // size can be made and filled, as the device will hold the data (which may
    // take more bytes than the format's), 0 when it is too large to hold.
    int (*CanHoldBuffer)(const WaveFormat* format, uint32_t bytes);
    // Optional (null when the device has none): the device's own memory of a
    // buffer never locked, filled or mapped, its whole size, for writing in
    // place in the buffer's format (a sound decoded there needs no block of
    // its own). The data reaches the device at UnmapBuffer; until then the
    // buffer takes no Lock, Fill or Play. -1 when this buffer cannot be
    // written so: it then stays as created.
    int (*MapBuffer)(int buffer, void** data);
    int (*UnmapBuffer)(int buffer);                         // 0 or -1

    // The buffer's volume as a gain, 0..1 (1 = as recorded). 0 or -1.
    int (*SetVolume)(int buffer, float gain);
    // The section a looping play repeats: frames startFrame up to endFrame
    // (exclusive); 0, 0 is the whole buffer. A play outside the section runs
    // into it and then repeats it. The position stays. 0, or -1 for a section
    // that is empty or leaves the buffer.
    int (*SetLoopSection)(int buffer, uint32_t startFrame, uint32_t endFrame);
    // 1: the rate set by SetFrequency changes the speed only, the pitch stays
    // the buffer's own (time-stretched as it plays); 0: speed and pitch
    // together, as a tape (the mode a buffer is made in). Position, play
    // state, rate, section and volume carry over. 0, or -1 when the device
    // cannot (the mode stays as it was).
    int (*SetKeepPitch)(int buffer, int keepPitch);
    // In keep-pitch mode, the pitch moved by -12..12 semitones with the speed
    // kept; kept for later otherwise. 0 or -1.
    int (*SetPitchSemitones)(int buffer, int semitones);
};

extern const PlatformSoundOps OPENAL_SOUND_OPS;

// ---- Loopback rendering (tests and benchmarks only) --------------------------
//
// After OpenLoopbackSoundDevice the next CreateDevice of OPENAL_SOUND_OPS opens a
// loopback device of the given output (rate in Hz, 1 or 2 channels, 16-bit or
// float samples) instead of the default device; RenderLoopbackSamples mixes
// frames of it into memory. CloseLoopbackSoundDevice returns to the default
// device for later opens. Each returns 0 or -1.
enum { LOOPBACK_SHORT = 0, LOOPBACK_FLOAT = 1 };
int OpenLoopbackSoundDevice(int rate, int channels, int sampleType);
int RenderLoopbackSamples(void* out, int frames);
void CloseLoopbackSoundDevice(void);

// The device's resamplers. Every buffer gets the chosen one: the highest-order
// band-limited (sinc) resampler the device has. SetSoundResamplerOverride(i)
// makes later buffers use resampler i instead (-1 = back to the choice).
int GetSoundResamplerCount(void);            // 0 without a device
const char* GetSoundResamplerName(int index);
int GetChosenSoundResampler(void);           // index, or -1 without a device
void SetSoundResamplerOverride(int index);
