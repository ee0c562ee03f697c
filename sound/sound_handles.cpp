// sound_handles.cpp: the table of sounds and their playback.
//
// A sound is a record of up to MAX_SOUND_BUFFERS device buffers holding the
// same PCM; playing the sound starts one of them, so the same sound can sound
// several times at once. Handle = SOUND_HANDLE_BASE + slot. Every operation
// checks the device and the handle first and returns -1 without a word when
// either is missing.
#include <cmath>
#include <cstdlib>

#include "core/core.h"
#include "platform/platform.h"
#include "platform/sound_device.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"

static_assert((int)MAX_SOUND_HANDLES * (int)MAX_SOUND_BUFFERS <= (int)SOUND_DEVICE_MAX_BUFFERS,
              "the device must hold every buffer the sound table can have");

namespace {

struct SoundRecord {
    int buffers[MAX_SOUND_BUFFERS];  // device buffer ids, 0 = empty
    int bufferCount;                 // entries in use
    int64_t lengthMicroseconds;      // of one buffer at its own rate
    uint32_t rate;                   // Hz, of the buffers' format
    uint32_t blockAlign;             // bytes per frame
    uint32_t frames;                 // of one buffer
};

struct SoundTable {
    SoundRecord* slots[MAX_SOUND_HANDLES];  // null = free
    int registeredCount;
};

SoundTable SOUND_TABLE = {};

// The record of a valid handle, or null.
SoundRecord* FindSound(int handle) {
    if (!IsSoundDeviceOpen()) return nullptr;
    if ((handle & 0xFFFF0000) != SOUND_HANDLE_BASE) return nullptr;
    int slot = handle & 0xFFFF;
    if (slot >= MAX_SOUND_HANDLES) return nullptr;
    return SOUND_TABLE.slots[slot];
}

// 1 playing, 0 not, -1 when the device cannot tell.
int IsBufferPlaying(int buffer) {
    uint32_t status = 0;
    if (PLATFORM.sound->GetStatus(buffer, &status) != 0) return -1;
    return (status & DSBSTATUS_PLAYING) ? 1 : 0;
}

int IsAnyBufferPlaying(const SoundRecord* record) {
    for (int i = 0; i < record->bufferCount; i++) {
        if (IsBufferPlaying(record->buffers[i]) == 1) return 1;
    }
    return 0;
}

// The buffer a play should use: the first one that is silent, else the one
// that has played longest (the lowest number among equals). -1 on a failed query.
int ChooseBuffer(const SoundRecord* record) {
    for (int i = 0; i < record->bufferCount; i++) {
        int playing = IsBufferPlaying(record->buffers[i]);
        if (playing < 0) return -1;
        if (!playing) return i;
    }
    uint32_t best = 0;
    PLATFORM.sound->GetPosition(record->buffers[0], &best);
    int chosen = 0;
    for (int i = 1; i < record->bufferCount; i++) {
        uint32_t position = 0;
        if (PLATFORM.sound->GetPosition(record->buffers[i], &position) != 0) return -1;
        if (position > best) {
            best = position;
            chosen = i;
        }
    }
    return chosen;
}

}  // namespace

int AddSoundData(void) {
    int slot = 0;
    while (slot < MAX_SOUND_HANDLES && SOUND_TABLE.slots[slot]) slot++;
    if (slot == MAX_SOUND_HANDLES) ExitWithError("サウンドの数が許容量を越えました終了します");
    SoundRecord* record = (SoundRecord*)calloc(1, sizeof(SoundRecord));
    if (!record) ExitWithError("メモリ領域の確保に失敗しました in AddSoundData");
    SOUND_TABLE.slots[slot] = record;
    SOUND_TABLE.registeredCount++;
    return SOUND_HANDLE_BASE + slot;
}

int CreateSoundBuffers(const WaveFormat* format, int byteCount, int count, int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record || !format) return -1;
    // The record has room for MAX_SOUND_BUFFERS; a record that already has
    // buffers keeps them rather than losing them unreleased.
    if (count < 1 || count > MAX_SOUND_BUFFERS || record->bufferCount > 0) return -1;
    for (int i = 0; i < count; i++) {
        int id = PLATFORM.sound->CreateBuffer(format, byteCount,
                                              DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN |
                                                  DSBCAPS_CTRLFREQUENCY | DSBCAPS_STATIC);
        if (id <= 0) id = PLATFORM.sound->CreateBuffer(format, byteCount, DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_STATIC);
        if (id <= 0) {
            for (int j = i - 1; j >= 0; j--) {
                PLATFORM.sound->ReleaseBuffer(record->buffers[j]);
                record->buffers[j] = 0;
            }
            ExitWithError("DirectSoundBuffer の作成に失敗しました");
        }
        record->buffers[i] = id;
    }
    record->bufferCount = count;
    record->rate = format->samplesPerSecond;
    record->blockAlign = format->blockAlign;
    record->frames = format->blockAlign != 0 ? (uint32_t)byteCount / format->blockAlign : 0;
    if (format->averageBytesPerSecond != 0) {
        record->lengthMicroseconds = (int64_t)byteCount * 1000000 / format->averageBytesPerSecond;
    }
    return 0;
}

int64_t GetSoundHandleMicroseconds(int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record || record->bufferCount == 0) return -1;
    return record->lengthMicroseconds;
}

int PlaySoundHandle(int handle, int playType) {
    SoundRecord* record = FindSound(handle);
    if (!record || record->bufferCount == 0) return -1;
    int chosen = ChooseBuffer(record);
    if (chosen < 0) return -1;
    int buffer = record->buffers[chosen];
    int playing = IsBufferPlaying(buffer);
    if (playing < 0) return -1;
    // A playing buffer starts over; a silent one stands where its last play
    // left it, which is its start.
    if (playing) {
        PLATFORM.sound->Stop(buffer);
        PLATFORM.sound->SetPosition(buffer, 0);
    }
    if (PLATFORM.sound->Play(buffer, playType == PLAY_LOOP ? DSBPLAY_LOOPING : 0) != 0) return -1;
    if (playType != PLAY_NORMAL) return 0;

    // Wait for the end, keeping the window alive; the pump may end the
    // library, so the device and the handle are checked after every pass.
    for (;;) {
        if (ProcessWindowMessages() != 0) return 0;
        record = FindSound(handle);
        if (!record) return 0;
        if (!IsAnyBufferPlaying(record)) return 0;
    }
}

int StopSoundHandle(int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record) return -1;
    for (int i = 0; i < record->bufferCount; i++) {
        int playing = IsBufferPlaying(record->buffers[i]);
        if (playing < 0) return -1;
        if (playing) {
            PLATFORM.sound->Stop(record->buffers[i]);
            PLATFORM.sound->SetPosition(record->buffers[i], 0);
        }
    }
    return 0;
}

int IsSoundHandlePlaying(int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record) return -1;
    return IsAnyBufferPlaying(record);
}

int SetSoundHandleFrequency(int frequency, int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record) return -1;
    // 0 is the device's code for the buffer's own rate; other values it does
    // not accept (negative ones included) leave the rate as it was.
    uint32_t hz = frequency == -1 ? 0 : frequency < 0 ? UINT32_MAX : (uint32_t)frequency;
    for (int i = 0; i < record->bufferCount; i++) PLATFORM.sound->SetFrequency(record->buffers[i], hz);
    return 0;
}

int DeleteSoundHandle(int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record) return -1;
    StopSoundHandle(handle);
    for (int i = 0; i < record->bufferCount; i++) {
        if (record->buffers[i]) PLATFORM.sound->ReleaseBuffer(record->buffers[i]);
        record->buffers[i] = 0;
    }
    free(record);
    SOUND_TABLE.slots[handle & 0xFFFF] = nullptr;
    SOUND_TABLE.registeredCount--;
    return 0;
}

// ---- Practice controls ----

namespace {

// A loaded record whose frames can be counted, or null.
SoundRecord* FindPlayableSound(int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record || record->bufferCount == 0 || record->rate == 0 || record->frames == 0) return nullptr;
    return record;
}

// Microseconds to a frame of the record, clamped to 0..frames.
uint32_t FrameAt(const SoundRecord* record, int64_t microseconds) {
    if (microseconds <= 0) return 0;
    int64_t frame = microseconds / 1000000 * record->rate + microseconds % 1000000 * record->rate / 1000000;
    return frame >= record->frames ? record->frames : (uint32_t)frame;
}

}  // namespace

int64_t GetSoundHandlePosition(int handle) {
    SoundRecord* record = FindPlayableSound(handle);
    if (!record) return -1;
    // The buffer heard: the first one playing, else the first.
    int buffer = record->buffers[0];
    for (int i = 0; i < record->bufferCount; i++) {
        if (IsBufferPlaying(record->buffers[i]) == 1) {
            buffer = record->buffers[i];
            break;
        }
    }
    uint32_t bytes = 0;
    if (PLATFORM.sound->GetPosition(buffer, &bytes) != 0) return -1;
    return (int64_t)(bytes / record->blockAlign) * 1000000 / record->rate;
}

int SetSoundHandlePosition(int64_t microseconds, int handle) {
    SoundRecord* record = FindPlayableSound(handle);
    if (!record) return -1;
    uint32_t frame = FrameAt(record, microseconds);
    if (frame >= record->frames) frame = record->frames - 1;
    int result = 0;
    for (int i = 0; i < record->bufferCount; i++) {
        if (PLATFORM.sound->SetPosition(record->buffers[i], frame * record->blockAlign) != 0) result = -1;
    }
    return result;
}

int PauseSoundHandle(int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record) return -1;
    for (int i = 0; i < record->bufferCount; i++) {
        int playing = IsBufferPlaying(record->buffers[i]);
        if (playing < 0) return -1;
        if (playing) PLATFORM.sound->Stop(record->buffers[i]);
    }
    return 0;
}

int SetSoundHandleVolume(int volume, int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record || volume < 0 || volume > 100) return -1;
    // Equal steps of the percentage sound like equal steps of loudness.
    double level = volume / 100.0;
    float gain = (float)(level * level * level);
    int result = 0;
    for (int i = 0; i < record->bufferCount; i++) {
        if (PLATFORM.sound->SetVolume(record->buffers[i], gain) != 0) result = -1;
    }
    return result;
}

int SetSoundHandleKeepPitch(int keepPitch, int handle) {
    SoundRecord* record = FindPlayableSound(handle);
    if (!record) return -1;
    for (int i = 0; i < record->bufferCount; i++) {
        if (PLATFORM.sound->SetKeepPitch(record->buffers[i], keepPitch != 0) != 0) {
            // All or none: the buffers switched so far go back.
            for (int j = 0; j < i; j++) PLATFORM.sound->SetKeepPitch(record->buffers[j], keepPitch == 0);
            return -1;
        }
    }
    return 0;
}

int SetSoundHandlePitchSemitones(int semitones, int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record || semitones < -12 || semitones > 12) return -1;
    int result = 0;
    for (int i = 0; i < record->bufferCount; i++) {
        if (PLATFORM.sound->SetPitchSemitones(record->buffers[i], semitones) != 0) result = -1;
    }
    return result;
}

int SetSoundHandleLoopSection(int64_t start, int64_t end, int handle) {
    SoundRecord* record = FindPlayableSound(handle);
    if (!record || start < 0 || (end != -1 && end <= start)) return -1;
    uint32_t first = FrameAt(record, start);
    uint32_t last = end == -1 ? record->frames : FrameAt(record, end);
    if (end != -1 && end > record->lengthMicroseconds) return -1;
    if (first >= last) return -1;
    // The whole sound is the device's own loop.
    if (first == 0 && last == record->frames) last = 0;
    int result = 0;
    for (int i = 0; i < record->bufferCount; i++) {
        if (PLATFORM.sound->SetLoopSection(record->buffers[i], first, last) != 0) result = -1;
    }
    return result;
}

// ---- For the loader ----

int GetSoundBufferCount(int handle) {
    SoundRecord* record = FindSound(handle);
    return record ? record->bufferCount : -1;
}

int GetSoundBufferId(int handle, int index) {
    SoundRecord* record = FindSound(handle);
    if (!record || index < 0 || index >= record->bufferCount) return 0;
    return record->buffers[index];
}

int GetSoundHandleCount(void) { return SOUND_TABLE.registeredCount; }

int ReleaseSoundBuffers(int handle) {
    SoundRecord* record = FindSound(handle);
    if (!record) return -1;
    for (int i = 0; i < record->bufferCount; i++) {
        if (record->buffers[i]) PLATFORM.sound->ReleaseBuffer(record->buffers[i]);
        record->buffers[i] = 0;
    }
    record->bufferCount = 0;
    return 0;
}

int LockSoundBuffer(int handle, int index, int offset, int bytes, void** part1, int* bytes1, void** part2,
                    int* bytes2) {
    int buffer = GetSoundBufferId(handle, index);
    if (!buffer || offset < 0 || bytes <= 0 || !part1 || !bytes1) return -1;
    uint32_t size1 = 0, size2 = 0;
    void* second = nullptr;
    int result = PLATFORM.sound->Lock(buffer, (uint32_t)offset, (uint32_t)bytes, part1, &size1,
                                      part2 ? &second : nullptr, &size2);
    if (result != 0) return -1;
    *bytes1 = (int)size1;
    if (part2) *part2 = second;
    if (bytes2) *bytes2 = (int)size2;
    return 0;
}

int UnlockSoundBuffer(int handle, int index, void* part1, int bytes1, void* part2, int bytes2) {
    int buffer = GetSoundBufferId(handle, index);
    if (!buffer || bytes1 < 0 || bytes2 < 0) return -1;
    return PLATFORM.sound->Unlock(buffer, part1, (uint32_t)bytes1, part2, (uint32_t)bytes2);
}

// ---- Tone ----

int MakeToneSound(int frequency, int milliseconds) {
    const int rate = 44100;  // Hz
    if (!IsSoundDeviceOpen() || frequency <= 0 || frequency >= rate / 2 || milliseconds <= 0 ||
        milliseconds > 60000) {
        return -1;
    }
    int frames = (int)((int64_t)milliseconds * rate / 1000);
    // Whole periods: the tone's frequency moves a little so that the end meets the start.
    int64_t periods = ((int64_t)frequency * milliseconds + 500) / 1000;
    if (frames < 2 || periods < 1) return -1;
    WaveFormat format = {WAVE_FORMAT_PCM, 1, (uint32_t)rate, (uint32_t)rate * 2, 2, 16, 0, 0};
    int handle = AddSoundData();
    void* part1 = nullptr;
    int bytes1 = 0;
    if (CreateSoundBuffers(&format, frames * 2, 1, handle) != 0 ||
        LockSoundBuffer(handle, 0, 0, frames * 2, &part1, &bytes1, nullptr, nullptr) != 0) {
        DeleteSoundHandle(handle);
        return -1;
    }
    int16_t* samples = (int16_t*)part1;
    for (int i = 0; i < bytes1 / 2; i++) {
        samples[i] = (int16_t)lrint(8192 * sin(2 * M_PI * (double)periods * i / frames));
    }
    UnlockSoundBuffer(handle, 0, part1, bytes1, nullptr, 0);
    return handle;
}
