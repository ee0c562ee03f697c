// fake_sound.cpp: the fake sound device (see fake_sound.h).
#include "platform/fake/fake_sound.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

FakeSoundDevice FAKE_SOUND;

namespace {

void Record(const char* name) { FAKE_SOUND.calls.push_back(name); }

FakeSoundBuffer* Live(int id) {
    if (id <= 0 || id > FAKE_SOUND.buffersCreated) return nullptr;
    FakeSoundBuffer* buffer = &FAKE_SOUND.buffers[id];
    return buffer->used ? buffer : nullptr;
}

int FakeCreateDevice(void) {
    Record("CreateDevice");
    if (FAKE_SOUND.createDeviceFails) return -1;
    FAKE_SOUND.open = 1;
    return 0;
}
int FakeSetCooperativeLevel(void) {
    Record("SetCooperativeLevel");
    return FAKE_SOUND.cooperativeLevelFails ? -1 : 0;
}
int FakeCreatePrimaryBuffer(void) {
    Record("CreatePrimaryBuffer");
    if (FAKE_SOUND.primaryBufferFails) return -1;
    FAKE_SOUND.primaryBuffer = 1;
    return 0;
}
int FakeGetCaps(PlatformSoundCaps* caps) {
    Record("GetCaps");
    *caps = FAKE_SOUND.caps;
    return 0;
}
int FakeSetPrimaryFormat(const WaveFormat* format) {
    Record("SetPrimaryFormat");
    FAKE_SOUND.primaryFormat = *format;
    if (FAKE_SOUND.setPrimaryFormatFails) return -1;
    FAKE_SOUND.primaryFormatSet = 1;
    return 0;
}
void FakeStopPrimaryBuffer(void) {
    Record("StopPrimaryBuffer");
    FAKE_SOUND.primaryPlaying = 0;
}
void FakeReleasePrimaryBuffer(void) {
    Record("ReleasePrimaryBuffer");
    FAKE_SOUND.primaryBuffer = 0;
}
void FakeReleaseDevice(void) {
    Record("ReleaseDevice");
    FAKE_SOUND.open = 0;
    FAKE_SOUND.primaryBuffer = 0;
    for (int id = 1; id <= FAKE_SOUND.buffersCreated; id++) FAKE_SOUND.buffers[id].used = 0;
}
int FakeEnumerateDevices(PlatformSoundDeviceCallback callback, void* context) {
    Record("EnumerateDevices");
    for (size_t i = 0; i < FAKE_SOUND.deviceDescriptions.size(); i++) {
        callback(FAKE_SOUND.deviceDescriptions[i].c_str(), FAKE_SOUND.deviceModules[i].c_str(), context);
    }
    return 0;
}

int FakeCreateBuffer(const WaveFormat* format, int bytes, uint32_t flags) {
    Record("CreateBuffer");
    if (FAKE_SOUND.createBufferFails) return -1;
    if (FAKE_SOUND.frequencyControlFails && (flags & DSBCAPS_CTRLFREQUENCY)) return -1;
    if (FAKE_SOUND.createBufferFailAfter > 0 && FAKE_SOUND.buffersCreated >= FAKE_SOUND.createBufferFailAfter) return -1;
    if (FAKE_SOUND.buffersCreated >= MAX_FAKE_SOUND_BUFFERS || bytes <= 0 || format->blockAlign == 0) return -1;
    int id = ++FAKE_SOUND.buffersCreated;
    FakeSoundBuffer* buffer = &FAKE_SOUND.buffers[id];
    *buffer = FakeSoundBuffer{};
    buffer->used = 1;
    buffer->format = *format;
    buffer->flags = flags;
    buffer->bytes.assign(bytes, 0);
    buffer->volume = 1.0f;
    return id;
}
int FakeGetStatus(int id, uint32_t* status) {
    Record("GetStatus");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || buffer->statusFails) return -1;
    *status = (buffer->playing ? DSBSTATUS_PLAYING : 0) | (buffer->playing && buffer->looping ? DSBSTATUS_LOOPING : 0);
    return 0;
}
int FakeGetPosition(int id, uint32_t* position) {
    Record("GetPosition");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || buffer->positionFails) return -1;
    *position = buffer->position;
    return 0;
}
int FakePlay(int id, uint32_t flags) {
    Record("Play");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || buffer->playFails || buffer->mapped) return -1;
    buffer->playing = 1;
    buffer->looping = (flags & DSBPLAY_LOOPING) ? 1 : 0;
    return 0;
}
int FakeStop(int id) {
    Record("Stop");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || buffer->stopFails) return -1;
    buffer->playing = 0;
    return 0;
}
int FakeSetPosition(int id, uint32_t bytes) {
    Record("SetPosition");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || buffer->setPositionFails || bytes > buffer->bytes.size()) return -1;
    buffer->position = bytes - bytes % buffer->format.blockAlign;
    return 0;
}
int FakeSetFrequency(int id, uint32_t hz) {
    Record("SetFrequency");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || !(buffer->flags & DSBCAPS_CTRLFREQUENCY)) return -1;
    if (hz != 0 && (hz < FAKE_SOUND.caps.minSecondaryRate || hz > FAKE_SOUND.caps.maxSecondaryRate)) return -1;
    buffer->frequency = hz;
    return 0;
}
int FakeLock(int id, uint32_t offset, uint32_t bytes, void** part1, uint32_t* bytes1, void** part2,
             uint32_t* bytes2) {
    Record("Lock");
    FakeSoundBuffer* buffer = Live(id);
    uint32_t size = buffer ? (uint32_t)buffer->bytes.size() : 0;
    if (!buffer || buffer->lockFails || buffer->locked || buffer->mapped || offset >= size || bytes == 0 || bytes > size) {
        return -1;
    }
    buffer->locked = 1;
    buffer->written = 1;
    *part1 = buffer->bytes.data() + offset;
    *bytes1 = bytes <= size - offset ? bytes : size - offset;
    if (part2) {
        *part2 = *bytes1 < bytes ? buffer->bytes.data() : nullptr;
        *bytes2 = bytes - *bytes1;
    } else if (*bytes1 < bytes) {
        buffer->locked = 0;
        return -1;
    }
    return 0;
}
int FakeUnlock(int id, void*, uint32_t, void*, uint32_t) {
    Record("Unlock");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || !buffer->locked) return -1;
    buffer->locked = 0;
    return 0;
}
void FakeReleaseBuffer(int id) {
    Record("ReleaseBuffer");
    if (id <= 0 || id > FAKE_SOUND.buffersCreated) return;
    FAKE_SOUND.buffers[id].released++;
    FAKE_SOUND.buffers[id].used = 0;
    FAKE_SOUND.buffers[id].playing = 0;
}

// The buffer's own bytes, as the real device hands out its storage: only a
// buffer nothing has been written to yet.
int FakeMapBuffer(int id, void** data) {
    Record("MapBuffer");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || FAKE_SOUND.mapBufferFails || buffer->locked || buffer->mapped || buffer->written) return -1;
    buffer->mapped = 1;
    buffer->written = 1;
    // The device's memory is not promised to be silence: whatever the
    // caller leaves unwritten is heard as this.
    std::fill(buffer->bytes.begin(), buffer->bytes.end(), (uint8_t)0xA5);
    *data = buffer->bytes.data();
    return 0;
}
int FakeUnmapBuffer(int id) {
    Record("UnmapBuffer");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || !buffer->mapped) return -1;
    buffer->mapped = 0;
    return 0;
}

int FakeCanHoldBuffer(const WaveFormat*, uint32_t bytes) {
    return FAKE_SOUND.maxBufferBytes == 0 || bytes <= FAKE_SOUND.maxBufferBytes;
}

int FakeSetVolume(int id, float gain) {
    Record("SetVolume");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || !(gain >= 0.0f && gain <= 1.0f)) return -1;
    buffer->volume = gain;
    return 0;
}

// As the real device: a section inside the buffer, not empty.
int FakeSetLoopSection(int id, uint32_t start, uint32_t end) {
    Record("SetLoopSection");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || buffer->mapped) return -1;
    uint32_t frames = (uint32_t)(buffer->bytes.size() / buffer->format.blockAlign);
    if (!(start == 0 && end == 0) && (start >= end || end > frames)) return -1;
    buffer->loopStart = start;
    buffer->loopEnd = end == frames && start == 0 ? 0 : end;
    return 0;
}

int FakeSetKeepPitch(int id, int keepPitch) {
    Record("SetKeepPitch");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || (keepPitch && FAKE_SOUND.keepPitchFails)) return -1;
    buffer->keepPitch = keepPitch != 0;
    return 0;
}

int FakeSetPitchSemitones(int id, int semitones) {
    Record("SetPitchSemitones");
    FakeSoundBuffer* buffer = Live(id);
    if (!buffer || semitones < -12 || semitones > 12) return -1;
    buffer->semitones = semitones;
    return 0;
}

}  // namespace

const PlatformSoundOps FAKE_SOUND_OPS = {
    FakeCreateDevice, FakeSetCooperativeLevel, FakeCreatePrimaryBuffer, FakeGetCaps,
    FakeSetPrimaryFormat, FakeStopPrimaryBuffer, FakeReleasePrimaryBuffer, FakeReleaseDevice,
    FakeEnumerateDevices, FakeCreateBuffer, FakeGetStatus, FakeGetPosition,
    FakePlay, FakeStop, FakeSetPosition, FakeSetFrequency,
    FakeLock, FakeUnlock, FakeReleaseBuffer,
    nullptr,  // no Fill: buffers are written through Lock and Unlock
    FakeCanHoldBuffer, FakeMapBuffer, FakeUnmapBuffer, FakeSetVolume,
    FakeSetLoopSection, FakeSetKeepPitch, FakeSetPitchSemitones,
};

void InstallFakeSoundDevice(void) {
    FAKE_SOUND.calls.clear();
    FAKE_SOUND.open = 0;
    FAKE_SOUND.primaryBuffer = FAKE_SOUND.primaryPlaying = FAKE_SOUND.primaryFormatSet = 0;
    FAKE_SOUND.primaryFormat = WaveFormat{};
    // A device as a typical sound card reports it.
    FAKE_SOUND.caps = PlatformSoundCaps{};
    FAKE_SOUND.caps.flags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT | DSCAPS_PRIMARY16BIT |
                            DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT |
                            DSCAPS_SECONDARY16BIT;
    FAKE_SOUND.caps.minSecondaryRate = 100;
    FAKE_SOUND.caps.maxSecondaryRate = 200000;
    FAKE_SOUND.deviceDescriptions = {"Fake Output"};
    FAKE_SOUND.deviceModules = {"fake"};
    FAKE_SOUND.createDeviceFails = FAKE_SOUND.cooperativeLevelFails = 0;
    FAKE_SOUND.primaryBufferFails = FAKE_SOUND.setPrimaryFormatFails = 0;
    FAKE_SOUND.createBufferFails = FAKE_SOUND.frequencyControlFails = FAKE_SOUND.createBufferFailAfter = 0;
    FAKE_SOUND.maxBufferBytes = 0;
    FAKE_SOUND.mapBufferFails = 0;
    FAKE_SOUND.keepPitchFails = 0;
    for (int id = 1; id <= FAKE_SOUND.buffersCreated; id++) FAKE_SOUND.buffers[id] = FakeSoundBuffer{};
    FAKE_SOUND.buffersCreated = 0;
    PLATFORM.sound = &FAKE_SOUND_OPS;
}

int CountFakeSoundCalls(const char* name) {
    int count = 0;
    for (const std::string& call : FAKE_SOUND.calls) count += call == name;
    return count;
}


FakeSoundBuffer* GetFakeSoundBuffer(int id) {
    if (id <= 0 || id > FAKE_SOUND.buffersCreated) return nullptr;
    return &FAKE_SOUND.buffers[id];
}

void AdvanceFakeSound(uint32_t frames) {
    for (int id = 1; id <= FAKE_SOUND.buffersCreated; id++) {
        FakeSoundBuffer* buffer = &FAKE_SOUND.buffers[id];
        if (!buffer->used || !buffer->playing) continue;
        uint64_t size = buffer->bytes.size();
        uint64_t position = buffer->position + (uint64_t)frames * buffer->format.blockAlign;
        uint64_t block = buffer->format.blockAlign;
        uint64_t loopStart = buffer->looping ? buffer->loopStart * block : 0;
        uint64_t loopEnd = buffer->looping && buffer->loopEnd != 0 ? buffer->loopEnd * block : size;
        if (position < loopEnd) {
            buffer->position = (uint32_t)position;
        } else if (buffer->looping) {
            buffer->position = (uint32_t)(loopStart + (position - loopStart) % (loopEnd - loopStart));
        } else {
            buffer->playing = 0;
            buffer->position = 0;
        }
    }
}
