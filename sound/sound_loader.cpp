// sound_loader.cpp: LoadSoundFile, a sound file turned into a playable handle.
//
// The whole file is decoded to PCM in memory (sound_decode.cpp) and copied into
// one static device buffer; nothing is streamed. A load that fails gives its
// table slot back at once.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "platform/platform.h"
#include "platform/sound_device.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"
#include "sound/sound_loader_internal.h"

namespace {

int LAST_LOAD_ERROR = SOUND_LOAD_OK;

int FailLoad(int handle, int error) {
    if (handle != -1) DeleteSoundHandle(handle);
    LAST_LOAD_ERROR = error;
    return -1;
}

// Why a file could not be opened or read, from errno.
int OpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return SOUND_LOAD_NOT_FOUND;
        case EACCES:
        case EPERM:
            return SOUND_LOAD_NOT_ALLOWED;
        case EISDIR:
            return SOUND_LOAD_FOLDER;
        default:
            return SOUND_LOAD_UNREADABLE;
    }
}

// Whether the first bytes name one of the formats the decoder knows, so that a
// file whose decode failed is damaged rather than of another kind.
int LooksLikeKnownFormat(const uint8_t* head, size_t bytes) {
    if (bytes >= 4 && (memcmp(head, "RIFF", 4) == 0 || memcmp(head, "OggS", 4) == 0)) return 1;
    if (bytes >= 3 && memcmp(head, "ID3", 3) == 0) return 1;
    return bytes >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;  // an MPEG frame's sync
}

}  // namespace

int GetLastSoundLoadError(void) { return LAST_LOAD_ERROR; }

int LoadSoundFile(const char* path) {
    if (!IsSoundDeviceOpen()) return FailLoad(-1, SOUND_LOAD_NO_DEVICE);
    if (path == nullptr) return FailLoad(-1, SOUND_LOAD_NOT_FOUND);
    int handle = AddSoundData();

    FILE* file = fopen(path, "rb");
    if (file == nullptr) return FailLoad(handle, OpenError(errno));
    struct stat info;
    if (fstat(fileno(file), &info) == 0) {
        int error = S_ISDIR(info.st_mode) ? SOUND_LOAD_FOLDER
                    : S_ISREG(info.st_mode) && info.st_size == 0 ? SOUND_LOAD_EMPTY
                                                                   : SOUND_LOAD_OK;
        if (error != SOUND_LOAD_OK) {
            fclose(file);
            return FailLoad(handle, error);
        }
    }
    SoundDataSource source = {*GetFileStreamOps(), file};
    DecodedSound sound;
    int result = DecodeSoundToPcm(&source, &sound);
    if (result != 0) {
        // A stream that cannot go back to its start (a pipe) cannot be read
        // the way the decoder reads.
        uint8_t head[4] = {};
        int rewound = fseek(file, 0, SEEK_SET) == 0;
        size_t got = rewound ? fread(head, 1, sizeof head, file) : 0;
        int error = !rewound || ferror(file) ? SOUND_LOAD_UNREADABLE
                    : got == 0               ? SOUND_LOAD_EMPTY
                    : LooksLikeKnownFormat(head, got) ? SOUND_LOAD_DAMAGED
                                                      : SOUND_LOAD_UNKNOWN_FORMAT;
        fclose(file);
        return FailLoad(handle, error);
    }
    fclose(file);

    // A rate the device cannot give a buffer would end the program there.
    PlatformSoundCaps caps = {};
    if (PLATFORM.sound->GetCaps(&caps) == 0 && caps.maxSecondaryRate > 0 &&
        (sound.format.samplesPerSecond < caps.minSecondaryRate ||
         sound.format.samplesPerSecond > caps.maxSecondaryRate)) {
        FreeDecodedSound(&sound);
        return FailLoad(handle, SOUND_LOAD_UNSUPPORTED_RATE);
    }
    // Nor may a sound too large for the device's buffers end it.
    if (PLATFORM.sound->CanHoldBuffer != nullptr && !PLATFORM.sound->CanHoldBuffer(&sound.format, sound.pcmBytes)) {
        FreeDecodedSound(&sound);
        return FailLoad(handle, SOUND_LOAD_TOO_LARGE);
    }
    if (CreateSoundBuffers(&sound.format, (int)sound.pcmBytes, 1, handle) != 0) {
        FreeDecodedSound(&sound);
        return FailLoad(handle, SOUND_LOAD_DEVICE_REFUSED);
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
    LAST_LOAD_ERROR = SOUND_LOAD_OK;
    return handle;
}
