// sound.h: the sound device, the table of sound handles, playback and file loading.
//
// A sound handle is 0x20000 + slot (slots 0..511); -1 is no sound.
#pragma once

#include <cstdint>

#include "platform/wave_format.h"

enum {
    MAX_SOUND_HANDLES = 512,
    SOUND_HANDLE_BASE = 0x20000,
    MAX_SOUND_BUFFERS = 10,
};

enum {
    PLAY_NORMAL = 0,  // play once, return at the end
    PLAY_BACK = 1,    // play once in the background (any type but 0 and 3)
    PLAY_LOOP = 3,    // play endlessly in the background
};


int InitSoundDevice(void);
int EndSoundDevice(void);

int AddSoundData(void);
int CreateSoundBuffers(const WaveFormat* format, int byteCount, int count, int handle);
int PlaySoundHandle(int handle, int playType);
int StopSoundHandle(int handle);
int IsSoundHandlePlaying(int handle);
int SetSoundHandleFrequency(int frequency, int handle);
int DeleteSoundHandle(int handle);
// How long the sound plays once at its own rate, microseconds; -1 for no sound.
int64_t GetSoundHandleMicroseconds(int handle);
// The highest playback frequency the device accepts, Hz; -1 without a device.
int GetSoundDeviceMaxFrequency(void);

// ---- Practice controls: position, pause, volume, pitch, loop section ----
//
// Positions are microseconds of the sound at its own rate, 0 up to
// GetSoundHandleMicroseconds, whatever the frequency it plays at.

// Where the sound plays (or would go on from); -1 for no sound.
int64_t GetSoundHandlePosition(int handle);
// Moves the position (clamped to the sound); a playing sound goes on from
// there. 0 or -1.
int SetSoundHandlePosition(int64_t microseconds, int handle);
// Stops the sound where it is: the next PlaySoundHandle goes on from there
// (StopSoundHandle rewinds). 0 or -1.
int PauseSoundHandle(int handle);
// The sound's own volume in percent, 0 to 100 (100 as recorded); heard as
// loudness, the gain being (volume / 100) cubed. 0 or -1 (outside the range).
int SetSoundHandleVolume(int volume, int handle);
// 1: SetSoundHandleFrequency changes the speed only, the pitch stays the
// sound's own (it is time-stretched as it plays); 0: speed and pitch together,
// as a tape (the mode a sound starts in). The position, the play state, the
// frequency and the loop section carry over. 0, or -1 when the device cannot.
int SetSoundHandleKeepPitch(int keepPitch, int handle);
// The pitch moved by -12..12 semitones with the speed kept; heard in the
// keep-pitch mode only. 0 or -1.
int SetSoundHandlePitchSemitones(int semitones, int handle);
// The section PLAY_LOOP repeats, microseconds from start up to end; 0 and -1
// for the whole sound. A play before the section runs into it. 0, or -1 for
// a section that is empty or leaves the sound.
int SetSoundHandleLoopSection(int64_t start, int64_t end, int handle);

// A sound holding a sine tone of about frequency Hz (16-bit mono, 44100 Hz, a
// quarter of full scale), milliseconds long and made of whole periods, so that
// PLAY_LOOP sounds it without a seam. Handle, or -1 without a device.
int MakeToneSound(int frequency, int milliseconds);

int LoadSoundFile(const char* path);

// Why the last LoadSoundFile failed (SOUND_LOAD_OK after a load that worked).
enum {
    SOUND_LOAD_OK = 0,
    SOUND_LOAD_NO_DEVICE,         // no sound output device is open
    SOUND_LOAD_NOT_FOUND,         // no such file
    SOUND_LOAD_NOT_ALLOWED,       // the file may not be read
    SOUND_LOAD_FOLDER,            // a folder, not a file
    SOUND_LOAD_EMPTY,             // the file holds nothing
    SOUND_LOAD_UNREADABLE,        // reading it failed
    SOUND_LOAD_UNKNOWN_FORMAT,    // not RIFF WAVE, Ogg Vorbis, Ogg Opus, FLAC, AAC or ALAC in MP4, or MPEG audio
    SOUND_LOAD_DAMAGED,           // one of those, but it cannot be decoded
    SOUND_LOAD_UNSUPPORTED_RATE,  // a sample rate the device cannot play
    SOUND_LOAD_TOO_LARGE,         // more sound than the device can hold
    SOUND_LOAD_DEVICE_REFUSED,    // the device gave no buffer for it
    SOUND_LOAD_CANCELLED,         // the window was closed while the sound was converted
};
int GetLastSoundLoadError(void);
