// sound_loader.cpp: LoadSoundFile, a sound file turned into a playable handle.
//
// The whole file is decoded to PCM in memory (sound_decode.cpp, through the
// format reader that takes it) and put into one static device buffer;
// nothing is streamed. Where the device lets a buffer be written in place,
// the decode writes straight into it and no second copy of the PCM is made. A load that fails gives its table slot back
// at once.
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

// A sound decoded straight into its device buffer, where the device lets
// its buffers be written in place.
struct DeviceBufferPlace {
    int handle;
    int buffer;        // device id while mapped, else 0
    uint32_t bytes;    // size of the mapped buffer
};

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

// Why a decode failed. A stream that cannot go back to its start (a pipe)
// cannot be read the way the readers read; a file whose content a reader
// takes as its format but that did not decode is damaged.
int DecodeError(SoundDataSource* source) {
    FILE* file = (FILE*)source->handle;
    uint8_t head[4] = {};
    int rewound = fseek(file, 0, SEEK_SET) == 0;
    size_t got = rewound ? fread(head, 1, sizeof head, file) : 0;
    if (!rewound || ferror(file)) return SOUND_LOAD_UNREADABLE;
    if (got == 0) return SOUND_LOAD_EMPTY;
    return IsKnownSoundFormat(source) ? SOUND_LOAD_DAMAGED : SOUND_LOAD_UNKNOWN_FORMAT;
}

// A rate the device cannot give a buffer would end the program there, and so
// would a sound too large for the device's buffers. SOUND_LOAD_OK or the reason.
int CheckDeviceTakes(const WaveFormat* format, uint32_t bytes) {
    PlatformSoundCaps caps = {};
    if (PLATFORM.sound->GetCaps(&caps) == 0 && caps.maxSecondaryRate > 0 &&
        (format->samplesPerSecond < caps.minSecondaryRate || format->samplesPerSecond > caps.maxSecondaryRate)) {
        return SOUND_LOAD_UNSUPPORTED_RATE;
    }
    if (PLATFORM.sound->CanHoldBuffer != nullptr && !PLATFORM.sound->CanHoldBuffer(format, bytes)) {
        return SOUND_LOAD_TOO_LARGE;
    }
    return SOUND_LOAD_OK;
}

uint8_t* ReserveDeviceBuffer(void* context, const WaveFormat* format, uint32_t bytes) {
    DeviceBufferPlace* place = (DeviceBufferPlace*)context;
    if (PLATFORM.sound->MapBuffer == nullptr || place->buffer != 0 || bytes == 0 || bytes > INT32_MAX ||
        CheckDeviceTakes(format, bytes) != SOUND_LOAD_OK) {
        return nullptr;
    }
    if (CreateSoundBuffers(format, (int)bytes, 1, place->handle) != 0) return nullptr;
    void* data = nullptr;
    int buffer = GetSoundBufferId(place->handle, 0);
    if (PLATFORM.sound->MapBuffer(buffer, &data) != 0 || data == nullptr) {
        ReleaseSoundBuffers(place->handle);
        return nullptr;
    }
    place->buffer = buffer;
    place->bytes = bytes;
    return (uint8_t*)data;
}

// Ends the writing of a mapped buffer.
void UnmapDeviceBuffer(DeviceBufferPlace* place) {
    if (place->buffer == 0) return;
    int result = PLATFORM.sound->UnmapBuffer(place->buffer);
    place->buffer = 0;
    if (result != 0) ExitWithError("サウンドデータの転送に失敗しました");
}

}  // namespace

void OpenFileSoundSource(FILE* file, SoundDataSource* source) {
    const FileStreamOps* ops = GetFileStreamOps();
    source->ops = SoundStreamOps{ops->Tell, ops->Seek, ops->Read, ops->Write, ops->AtEnd};
    source->handle = file;
}

int GetLastSoundLoadError(void) { return LAST_LOAD_ERROR; }

int LoadSoundFile(const char* path) {
    if (!IsSoundDeviceOpen()) return FailLoad(-1, SOUND_LOAD_NO_DEVICE);
    if (path == nullptr) return FailLoad(-1, SOUND_LOAD_NOT_FOUND);
    int handle = AddSoundData();

    FILE* file = fopen(path, "rb");
    if (file == nullptr) return FailLoad(handle, OpenError(errno));
    struct stat info;
    if (fstat(fileno(file), &info) == 0) {
        int error = S_ISDIR(info.st_mode)                           ? SOUND_LOAD_FOLDER
                    : S_ISREG(info.st_mode) && info.st_size == 0 ? SOUND_LOAD_EMPTY
                                                                   : SOUND_LOAD_OK;
        if (error != SOUND_LOAD_OK) {
            fclose(file);
            return FailLoad(handle, error);
        }
    }
    SoundDataSource source;
    OpenFileSoundSource(file, &source);
    DecodedSound sound;
    DeviceBufferPlace device = {handle, 0, 0};
    PcmPlace place = {ReserveDeviceBuffer, &device};
    int result = DecodeSoundToPlace(&source, &place, &sound);
    if (result != 0) {
        // A load the user's close ended is no fault of the file.
        int error = result == SOUND_DECODE_CANCELLED ? SOUND_LOAD_CANCELLED : DecodeError(&source);
        fclose(file);
        UnmapDeviceBuffer(&device);
        return FailLoad(handle, error);
    }
    fclose(file);
    if (sound.placed) {
        if (sound.pcmBytes == device.bytes) {
            UnmapDeviceBuffer(&device);
            LAST_LOAD_ERROR = SOUND_LOAD_OK;
            return handle;
        }
        // A damaged file gave less than its size promised: its PCM goes to a
        // buffer of its own length, as an unmapped load would make it.
        uint8_t* copy = (uint8_t*)AllocateWriteOnceBlock(sound.pcmBytes);
        if (copy != nullptr) memcpy(copy, sound.pcm, sound.pcmBytes);
        UnmapDeviceBuffer(&device);
        ReleaseSoundBuffers(handle);
        sound.pcm = copy;
        sound.placed = 0;
        if (copy == nullptr) return FailLoad(handle, SOUND_LOAD_TOO_LARGE);
    }

    int refusal = CheckDeviceTakes(&sound.format, sound.pcmBytes);
    if (refusal != SOUND_LOAD_OK) {
        FreeDecodedSound(&sound);
        return FailLoad(handle, refusal);
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
