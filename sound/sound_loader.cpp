// sound_loader.cpp: LoadSoundFile, a sound file turned into a playable handle.
//
// The whole file is decoded to PCM in memory (sound_decode.cpp) and copied into
// one static device buffer; nothing is streamed. A load that fails gives its
// table slot back at once.
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "platform/platform.h"
#include "platform/sound_device.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"
#include "sound/sound_loader_internal.h"

int LoadSoundFile(const char* path) {
    if (!IsSoundDeviceOpen()) return -1;
    int handle = AddSoundData();

    FILE* file = path != nullptr ? fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        DeleteSoundHandle(handle);
        return -1;
    }
    SoundDataSource source = {*GetFileStreamOps(), file};
    DecodedSound sound;
    int result = DecodeSoundToPcm(&source, &sound);
    fclose(file);
    if (result != 0) {
        DeleteSoundHandle(handle);
        return -1;
    }

    // A rate the device cannot give a buffer would end the program there.
    PlatformSoundCaps caps = {};
    if (PLATFORM.sound->GetCaps(&caps) == 0 && caps.maxSecondaryRate > 0 &&
        (sound.format.samplesPerSecond < caps.minSecondaryRate ||
         sound.format.samplesPerSecond > caps.maxSecondaryRate)) {
        FreeDecodedSound(&sound);
        DeleteSoundHandle(handle);
        return -1;
    }
    // Nor may a sound too large for the device's buffers end it.
    if (PLATFORM.sound->CanHoldBuffer != nullptr && !PLATFORM.sound->CanHoldBuffer(&sound.format, sound.pcmBytes)) {
        FreeDecodedSound(&sound);
        DeleteSoundHandle(handle);
        return -1;
    }
    if (CreateSoundBuffers(&sound.format, (int)sound.pcmBytes, 1, handle) != 0) {
        FreeDecodedSound(&sound);
        DeleteSoundHandle(handle);
        return -1;
    }
    int count = GetSoundBufferCount(handle);
    for (int i = 0; i < count; i++) {
        // A device that can take the PCM where it is needs no copy of it.
        if (PLATFORM.sound->Fill != nullptr) {
            if (PLATFORM.sound->Fill(GetSoundBufferId(handle, i), sound.pcm, sound.pcmBytes) != 0) {
                ExitWithError("サウンドデータの転送に失敗しました");
            }
            continue;
        }
        void* part1 = nullptr;
        void* part2 = nullptr;
        int bytes1 = 0, bytes2 = 0;
        if (LockSoundBuffer(handle, i, 0, (int)sound.pcmBytes, &part1, &bytes1, &part2, &bytes2) != 0) {
            ExitWithError("サウンドデータの転送に失敗しました");
        }
        // The second piece, when the device gives one, takes the bytes after
        // the first; neither is written past what the PCM holds.
        int first = bytes1 < (int)sound.pcmBytes ? bytes1 : (int)sound.pcmBytes;
        if (part1 != nullptr && first > 0) memcpy(part1, sound.pcm, (size_t)first);
        int second = (int)sound.pcmBytes - first;
        if (second > bytes2) second = bytes2;
        if (part2 != nullptr && second > 0) memcpy(part2, sound.pcm + first, (size_t)second);
        // The device may make its own copy at Unlock: the PCM is not kept
        // beside it once the last buffer has been written.
        if (i == count - 1) FreeDecodedSound(&sound);
        if (UnlockSoundBuffer(handle, i, part1, bytes1, part2, bytes2) != 0) {
            ExitWithError("サウンドデータの転送に失敗しました");
        }
    }
    FreeDecodedSound(&sound);
    return handle;
}
