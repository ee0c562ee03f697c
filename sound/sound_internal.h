// sound_internal.h: what the sound loader needs of the sound table and device.
//
// Private to sound/ (and the tests): the loader creates a record with
// AddSoundData and CreateSoundBuffers (sound.h), then fills each buffer through
// LockSoundBuffer/UnlockSoundBuffer.
#pragma once

// 1 while the sound device is open, else 0.
int IsSoundDeviceOpen(void);

// Number of device buffers of a sound (0 before CreateSoundBuffers); -1 for an
// invalid handle.
int GetSoundBufferCount(int handle);

// A writable view of buffer index of the sound: bytes from offset, in one or
// two pieces (the second when the range wraps past the end). The bytes reach
// the device at UnlockSoundBuffer, which takes back exactly what Lock gave.
// 0, or -1 for an invalid handle or index or a refused lock.
int LockSoundBuffer(int handle, int index, int offset, int bytes, void** part1, int* bytes1,
                    void** part2, int* bytes2);
int UnlockSoundBuffer(int handle, int index, void* part1, int bytes1, void* part2, int bytes2);

// The device's id of buffer index of the sound (platform/sound_device.h), 0
// when there is none.
int GetSoundBufferId(int handle, int index);

// Releases the device buffers of a sound, keeping its record (which can then
// be given buffers again). 0, or -1 for an invalid handle.
int ReleaseSoundBuffers(int handle);

// Registered sound records.
int GetSoundHandleCount(void);
