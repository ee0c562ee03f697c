// reader_common.cpp: what the format readers share: byte access over a data
// source and over memory, PCM blocks that are written once or grow as the
// decoder goes, the wave-format record, the Vorbis channel order, and the
// switch for split decodes.
#include "platform/readers/reader_common.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/byte_order.h"
#include "platform/platform.h"

namespace {

struct DecodeSplitting {
    int disabled;   // long sounds decoded in one run
    int splits;     // decodes split in two so far
};
DecodeSplitting DECODE_SPLITTING = {};

// Vorbis orders 3 to 8 channels otherwise than WAVE does (3: L C R; 5.1: L C R
// rear L, rear R, LFE). Entry c of a row is the Vorbis channel that becomes
// WAVE channel c, so that the device hears each one from its own speaker.
const uint8_t VORBIS_TO_WAVE[9][8] = {
    {}, {0}, {0, 1},
    {0, 2, 1},
    {0, 1, 2, 3},
    {0, 2, 1, 3, 4},
    {0, 2, 1, 5, 3, 4},
    {0, 2, 1, 6, 5, 3, 4},
    {0, 2, 1, 7, 5, 6, 3, 4},
};

// The first block of a grown output: this many PCM bytes per file byte (what
// usual compressed music gives), and no smaller than the minimum, so that a
// short sound takes one block.
const uint64_t FIRST_OUTPUT_BYTES_PER_FILE_BYTE = 16;
const uint64_t MIN_FIRST_OUTPUT_BYTES = 4u << 20;

// Pages are faulted in this much at a time, at most this far ahead of the
// writing, for blocks of at least the minimum.
const uint32_t PREFAULT_CHUNK_BYTES = 4u << 20;
const uint32_t PREFAULT_AHEAD_BYTES = 16u << 20;
const uint32_t MIN_PREFAULT_BYTES = 8u << 20;

// ---- Memory data source ----

long TellMemory(void* handle) { return (long)((MemorySoundStream*)handle)->position; }

int SeekMemory(void* handle, long offset, int origin) {
    MemorySoundStream* stream = (MemorySoundStream*)handle;
    long base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? (long)stream->position : (long)stream->size;
    // Like a file: any position from 0 on, also past the end.
    if (offset > 0 && base > LONG_MAX - offset) return -1;
    long target = base + offset;
    if (target < 0) return -1;
    stream->position = (size_t)target;
    stream->atEnd = 0;
    return 0;
}

size_t ReadMemory(void* buffer, size_t size, size_t count, void* handle) {
    MemorySoundStream* stream = (MemorySoundStream*)handle;
    if (size == 0 || count == 0) return 0;
    size_t left = stream->position < stream->size ? stream->size - stream->position : 0;
    size_t items = left / size < count ? left / size : count;
    if (items < count) stream->atEnd = 1;
    if (items == 0) return 0;
    memcpy(buffer, stream->bytes + stream->position, items * size);
    stream->position += items * size;
    return items;
}

size_t WriteMemory(const void*, size_t, size_t, void*) { return 0; }

int AtEndMemory(void* handle) { return ((MemorySoundStream*)handle)->atEnd; }

}  // namespace

// ---- Faulting a block's pages in ahead of its writer ----

struct PagePrefault {
    std::thread thread;
    uint8_t* block;
    uint32_t bytes;
    std::atomic<uint32_t> reached;  // bytes the writer has reached
    std::atomic<int> done;
};

namespace {

// Populates the block's whole pages (their contents untouched) no further
// than the allowance ahead of the writer, waiting for it to move on. A
// kernel without populating ends this at once.
void RunPrefault(PagePrefault* prefault) {
#ifdef MADV_POPULATE_WRITE
    uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    uintptr_t base = (uintptr_t)prefault->block;
    uintptr_t at = (base + page - 1) & ~(page - 1);
    uintptr_t end = (base + prefault->bytes) & ~(page - 1);
    while (at < end && !prefault->done.load(std::memory_order_acquire)) {
        uint32_t reached = prefault->reached.load(std::memory_order_acquire);
        uintptr_t allowed = (base + reached + PREFAULT_AHEAD_BYTES) & ~(page - 1);
        uintptr_t to = at + PREFAULT_CHUNK_BYTES;
        if (to > allowed) to = allowed;
        if (to > end) to = end;
        if (to <= at) {
            prefault->reached.wait(reached, std::memory_order_acquire);
            continue;
        }
        if (madvise((void*)at, to - at, MADV_POPULATE_WRITE) != 0) return;
        at = to;
    }
#else
    (void)prefault;
#endif
}

void StopPrefault(PcmOutput* out) {
    PagePrefault* prefault = out->prefaulter;
    if (prefault == nullptr) return;
    prefault->done.store(1, std::memory_order_release);
    prefault->reached.store(UINT32_MAX, std::memory_order_release);
    prefault->reached.notify_one();
    prefault->thread.join();
    delete prefault;
    out->prefaulter = nullptr;
}

// Tells the prefaulter how far the writing has come, once a chunk; starts it
// at the first call.
void NoteWriting(PcmOutput* out) {
    if (out->prefaulter == nullptr) {
        out->prefaulter = new (std::nothrow) PagePrefault;
        if (out->prefaulter == nullptr) {
            out->prefault = 0;
            return;
        }
        out->prefaulter->block = out->block;
        out->prefaulter->bytes = out->capacity;
        out->prefaulter->reached.store(out->length);
        out->prefaulter->done.store(0);
        out->prefaulter->thread = std::thread(RunPrefault, out->prefaulter);
        out->nextNotice = out->length + PREFAULT_CHUNK_BYTES;
        return;
    }
    if (out->length < out->nextNotice) return;
    out->prefaulter->reached.store(out->length, std::memory_order_release);
    out->prefaulter->reached.notify_one();
    out->nextNotice = out->length + PREFAULT_CHUNK_BYTES;
}

}  // namespace

void OpenMemorySoundSource(MemorySoundStream* stream, const uint8_t* bytes, size_t size, SoundDataSource* source) {
    stream->bytes = bytes;
    stream->size = size;
    stream->position = 0;
    stream->atEnd = 0;
    source->ops = SoundStreamOps{TellMemory, SeekMemory, ReadMemory, WriteMemory, AtEndMemory};
    source->handle = stream;
}

size_t ReadSourceBytes(SoundDataSource* source, void* buffer, size_t bytes) {
    return source->ops.Read(buffer, 1, bytes, source->handle);
}

long GetBytesLeft(SoundDataSource* source) {
    long here = source->ops.Tell(source->handle);
    if (here < 0 || source->ops.Seek(source->handle, 0, SEEK_END) != 0) return -1;
    long end = source->ops.Tell(source->handle);
    if (source->ops.Seek(source->handle, here, SEEK_SET) != 0 || end < here) return -1;
    return end - here;
}

uint8_t* ReadWholeSource(SoundDataSource* source, size_t* bytes) {
    *bytes = 0;
    if (source->ops.Seek(source->handle, 0, SEEK_SET) != 0) return nullptr;
    long size = GetBytesLeft(source);
    if (size <= 0) return nullptr;
    uint8_t* block = (uint8_t*)AllocateWriteOnceBlock((size_t)size);
    if (block == nullptr) return nullptr;
    if (ReadSourceBytes(source, block, (size_t)size) != (size_t)size) {
        free(block);
        return nullptr;
    }
    *bytes = (size_t)size;
    return block;
}

void* AllocateWriteOnceBlock(size_t bytes) {
    void* block = malloc(bytes);
    AdviseHugePages(block, bytes);
    return block;
}

uint8_t* AllocateSilence(size_t bytes) {
    uint8_t* block = (uint8_t*)calloc(1, bytes);
    AdviseHugePages(block, bytes);
    return block;
}

void FreeDecodedSound(DecodedSound* sound) {
    if (!sound->placed) free(sound->pcm);
    memset(sound, 0, sizeof(*sound));
}

void ReadWaveFormat(const uint8_t* record, WaveFormat* format) {
    format->formatTag = ReadU16(record);
    format->channels = ReadU16(record + 2);
    format->samplesPerSecond = ReadU32(record + 4);
    format->averageBytesPerSecond = ReadU32(record + 8);
    format->blockAlign = ReadU16(record + 12);
    format->bitsPerSample = ReadU16(record + 14);
    format->extraSize = ReadU16(record + 16);
    format->channelMask = 0;
}

uint32_t ReadChannelMask(const uint8_t* record, uint32_t recordBytes) {
    // WAVE_FORMAT_EXTENSIBLE: valid bits (u16), then the mask, after the extra size.
    if (recordBytes < 24 || ReadU16(record) != 0xFFFE || ReadU16(record + 16) < 22) return 0;
    return ReadU32(record + 20);
}

int MakePcmFormat(int channels, uint32_t rate, int bits, WaveFormat* format) {
    uint64_t blockAlign = (uint64_t)channels * (uint64_t)((bits + 7) / 8);
    uint64_t averageBytes = blockAlign * rate;
    if (channels <= 0 || rate == 0 || blockAlign > 0xFFFF || averageBytes > UINT32_MAX) return -1;
    memset(format, 0, sizeof(*format));
    format->formatTag = 1;
    format->channels = (uint16_t)channels;
    format->samplesPerSecond = rate;
    format->averageBytesPerSecond = (uint32_t)averageBytes;
    format->blockAlign = (uint16_t)blockAlign;
    format->bitsPerSample = (uint16_t)bits;
    return 0;
}

uint8_t* MakePcmRecord(const WaveFormat* format) {
    uint8_t* record = (uint8_t*)calloc(1, WAVE_FORMAT_RECORD_BYTES);
    if (record == nullptr) return nullptr;
    WriteU16(record + 0, format->formatTag);
    WriteU16(record + 2, format->channels);
    WriteU32(record + 4, format->samplesPerSecond);
    WriteU32(record + 8, format->averageBytesPerSecond);
    WriteU16(record + 12, format->blockAlign);
    WriteU16(record + 14, format->bitsPerSample);
    return record;
}

void ReorderVorbisChannels(uint8_t* pcm, uint32_t bytes, int channels) {
    if (channels < 3 || channels > 8) return;
    const uint8_t* from = VORBIS_TO_WAVE[channels];
    uint32_t frameBytes = 2u * (uint32_t)channels;
    for (uint32_t at = 0; at + frameBytes <= bytes; at += frameBytes) {
        uint8_t frame[16];
        memcpy(frame, pcm + at, frameBytes);
        for (int c = 0; c < channels; c++) memcpy(pcm + at + 2 * c, frame + 2 * from[c], 2);
    }
}

void SetSoundDecodeSplitting(int enabled) { DECODE_SPLITTING.disabled = !enabled; }
int GetSoundDecodeSplitCount(void) { return DECODE_SPLITTING.splits; }
void CountSoundDecodeSplit(void) { DECODE_SPLITTING.splits++; }
int IsSoundDecodeSplitting(void) { return !DECODE_SPLITTING.disabled; }

// ---- PCM of a length known only as the decoder goes ----

int StartPcmOutput(PcmOutput* out, const PcmPlace* place, const WaveFormat* format, uint64_t statedBytes,
                   uint64_t fileBytes, uint32_t maxRatio) {
    memset(out, 0, sizeof(*out));
    out->place = place;
    out->format = *format;
    uint32_t frame = format->blockAlign;
    uint64_t limit = statedBytes > 0 && statedBytes < MAX_PCM_BYTES ? statedBytes : MAX_PCM_BYTES;
    out->limit = (uint32_t)(limit - limit % frame);
    uint64_t believable = fileBytes * maxRatio;
    if (statedBytes > 0 && out->limit > 0 && out->limit <= believable) {
        if (place != nullptr) out->block = place->Reserve(place->context, format, out->limit);
        out->placed = out->block != nullptr;
        if (out->block == nullptr) out->block = (uint8_t*)AllocateWriteOnceBlock(out->limit);
        out->capacity = out->limit;
    } else {
        // A length the file could not hold (or none): a block of its own
        // that grows as the sound really comes.
        uint64_t first = fileBytes * FIRST_OUTPUT_BYTES_PER_FILE_BYTE;
        if (first < MIN_FIRST_OUTPUT_BYTES) first = MIN_FIRST_OUTPUT_BYTES;
        if (first > out->limit) first = out->limit;
        first -= first % frame;
        if (first == 0) first = frame;
        out->block = (uint8_t*)AllocateWriteOnceBlock(first);
        out->capacity = (uint32_t)first;
    }
    out->prefault = out->block != nullptr && out->capacity == out->limit && out->capacity >= MIN_PREFAULT_BYTES;
    return out->block != nullptr ? 0 : -1;
}

uint8_t* ReservePcmOutput(PcmOutput* out, uint32_t bytes, uint32_t* room) {
    *room = 0;
    if (out->length >= out->limit) return nullptr;
    if (out->prefault) NoteWriting(out);
    uint32_t wanted = out->limit - out->length < bytes ? out->limit - out->length : bytes;
    if (out->capacity - out->length < wanted && !out->placed) {
        uint64_t grown = (uint64_t)out->capacity * 2;
        if (grown < (uint64_t)out->length + wanted) grown = (uint64_t)out->length + wanted;
        if (grown > out->limit) grown = out->limit;
        uint8_t* bigger = (uint8_t*)AllocateWriteOnceBlock((size_t)grown);
        if (bigger == nullptr) return nullptr;
        memcpy(bigger, out->block, out->length);
        free(out->block);
        out->block = bigger;
        out->capacity = (uint32_t)grown;
    }
    *room = out->capacity - out->length < wanted ? out->capacity - out->length : wanted;
    return *room > 0 ? out->block + out->length : nullptr;
}

int FinishPcmOutput(PcmOutput* out, DecodedSound* sound) {
    StopPrefault(out);
    uint32_t length = out->length - out->length % out->format.blockAlign;
    if (length == 0) {
        AbandonPcmOutput(out);
        return -1;
    }
    sound->pcm = out->block;
    sound->pcmBytes = length;
    sound->format = out->format;
    sound->placed = out->placed;
    out->block = nullptr;
    return 0;
}

void AbandonPcmOutput(PcmOutput* out) {
    StopPrefault(out);
    if (!out->placed) free(out->block);
    out->block = nullptr;
}
