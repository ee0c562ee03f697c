// wave_reader.cpp: RIFF WAVE files.
//
// The file is walked chunk by chunk: the format chunk must come first, odd
// chunks are padded, the walk ends at "data"; the RIFF size field is ignored.
// PCM the device plays as stored is read straight to where it is to stay.
// Compressed data becomes 16-bit PCM at the file's rate and channel count:
// MPEG audio through the MPEG reader's decoder, IMA ADPCM of whole blocks
// through our own decoder, and everything libsndfile knows (MS ADPCM, A-law,
// mu-law, GSM 6.10, float, PCM in unusual layouts) through libsndfile reading
// the file itself, from a copy in memory. A long sound of a format whose
// blocks stand alone is decoded in two halves at once.
//
// Sizes a file states are never trusted for allocation: only bytes actually
// read reach a decoder or the device.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/byte_order.h"
#include "platform/readers/reader_common.h"

namespace {

enum {
    TAG_PCM = 1,
    TAG_MS_ADPCM = 2,
    TAG_IEEE_FLOAT = 3,
    TAG_ALAW = 6,
    TAG_MULAW = 7,
    TAG_IMA_ADPCM = 0x11,
    TAG_GSM610 = 0x31,
    TAG_MPEG = 0x50,
    TAG_MPEG_LAYER3 = 0x55,
    TAG_EXTENSIBLE = 0xFFFE,
};

enum { GSM_BLOCK_BYTES = 65, GSM_BLOCK_SAMPLES = 320 };

// Float samples converted per step, or one frame when a frame holds more.
enum { FLOAT_CHUNK_SAMPLES = 16384 };

struct WaveFile {
    SoundDataSource* source;
    uint8_t* record;       // the "fmt " chunk, at least 18 bytes (malloc)
    uint32_t recordBytes;
    WaveFormat format;     // its fixed fields
    uint32_t dataBytes;    // what the "data" chunk states
    long dataStart;        // offset of its first byte
};

WaveFile* AsWave(SoundReaderFile* file) { return (WaveFile*)file; }

// ---- The chunk walk ----

int WalkRiffWave(SoundDataSource* source, WaveFile* wave) {
    uint8_t bytes[8];
    if (ReadSourceBytes(source, bytes, 8) != 8 || memcmp(bytes, "RIFF", 4) != 0) return -1;
    if (ReadSourceBytes(source, bytes, 4) != 4 || memcmp(bytes, "WAVE", 4) != 0) return -1;
    // The format chunk must come first.
    if (ReadSourceBytes(source, bytes, 8) != 8 || memcmp(bytes, "fmt ", 4) != 0) return -1;
    uint32_t chunkBytes = ReadU32(bytes + 4);
    // A format chunk too short for its fixed fields, or longer than the rest
    // of the file (no "data" chunk can follow it), is refused unread.
    long left = GetBytesLeft(source);
    if (chunkBytes < 16 || left < 0 || (uint64_t)chunkBytes > (uint64_t)left) return -1;
    uint32_t recordBytes = chunkBytes > (uint32_t)WAVE_FORMAT_RECORD_BYTES ? chunkBytes : (uint32_t)WAVE_FORMAT_RECORD_BYTES;
    uint8_t* record = (uint8_t*)calloc(1, recordBytes);
    if (record == nullptr) return -1;
    if (ReadSourceBytes(source, record, chunkBytes) != chunkBytes) {
        free(record);
        return -1;
    }
    // A pad byte after an odd format chunk is skipped by the walk's first seek.
    long next = (long)(chunkBytes & 1);

    // Walk to the "data" chunk; the end of the file (a header that cannot be
    // read) ends the walk without one.
    int found = 0;
    uint32_t dataBytes = 0;
    while (!source->ops.AtEnd(source->handle)) {
        if (next != 0 && source->ops.Seek(source->handle, next, SEEK_CUR) != 0) break;
        if (ReadSourceBytes(source, bytes, 8) != 8) break;
        uint32_t size = ReadU32(bytes + 4);
        if (memcmp(bytes, "data", 4) == 0) {
            found = 1;
            dataBytes = size;
            break;
        }
        next = (long)size + (long)(size & 1);
    }
    long dataStart = found ? source->ops.Tell(source->handle) : -1;
    if (dataStart < 0) {
        free(record);
        return -1;
    }
    wave->record = record;
    wave->recordBytes = recordBytes;
    wave->dataBytes = dataBytes;
    wave->dataStart = dataStart;
    ReadWaveFormat(record, &wave->format);
    return 0;
}

// Refuses records whose numbers would divide by zero or overflow later.
int CheckFormatNumbers(const WaveFormat* format) {
    if (format->channels == 0 || format->samplesPerSecond == 0 || format->blockAlign == 0) return -1;
    if ((uint64_t)format->blockAlign * format->samplesPerSecond > UINT32_MAX) return -1;
    return 0;
}

// PCM the device takes as stored: whole bytes per sample, 8 to 32 bits,
// frames exactly one sample per channel. Other layouts (12 bits in 16, 20 in
// 24, samples wider than 32 bits, a block align that disagrees) go through
// the codec to 16-bit PCM.
int IsPlainPcm(const WaveFormat* format) {
    if (format->formatTag != TAG_PCM) return 0;
    int bits = format->bitsPerSample;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
    return format->blockAlign == format->channels * (bits / 8);
}

// The tag the codec chooses by: for EXTENSIBLE its sub-format's (the GUID's
// first two bytes); 0 for a record too short to say.
uint16_t GetCodecTag(const WaveFile* wave) {
    if (wave->format.formatTag != TAG_EXTENSIBLE) return wave->format.formatTag;
    if (wave->recordBytes < 40 || ReadU16(wave->record + 16) < 22) return 0;
    return ReadU16(wave->record + 24);
}

int IsSndfileTag(uint16_t tag) {
    switch (tag) {
        case TAG_PCM:
        case TAG_MS_ADPCM:
        case TAG_IEEE_FLOAT:
        case TAG_ALAW:
        case TAG_MULAW:
        case TAG_IMA_ADPCM:
        case TAG_GSM610:
            return 1;
        default:
            return 0;
    }
}

// ---- PCM as stored ----

int ReadPlainPcm(WaveFile* wave, uint32_t want, const PcmPlace* place, DecodedSound* sound) {
    WaveFormat format = wave->format;
    format.channelMask = ReadChannelMask(wave->record, wave->recordBytes);
    uint8_t* block = nullptr;
    if (place != nullptr && want >= format.blockAlign) {
        want -= want % format.blockAlign;
        block = place->Reserve(place->context, &format, want);
        sound->placed = block != nullptr;
    }
    if (block == nullptr) block = (uint8_t*)AllocateWriteOnceBlock(want > 0 ? want : 1);
    if (block == nullptr) return -1;
    uint32_t got = (uint32_t)ReadSourceBytes(wave->source, block, want);
    sound->pcm = block;
    sound->format = format;
    // Whole frames only.
    sound->pcmBytes = got - got % format.blockAlign;
    return 0;
}

// ---- IMA ADPCM in whole blocks, decoded here ----
//
// The library's IMA decoder costs several times what the format needs. Data
// made of whole blocks whose sample count the library agrees with is decoded
// here, sample for sample as the library decodes it; anything else (a short
// last block, a count of the library's own) is left to the library.

const int16_t IMA_STEPS[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int8_t IMA_INDEX_ADJUST[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

int ClampImaIndex(int index) { return index < 0 ? 0 : index > 88 ? 88 : index; }

// Frames per block when the data can be decoded here, else 0.
uint32_t GetImaBlockFrames(const WaveFile* wave, uint32_t dataBytes, int64_t libraryFrames) {
    uint32_t channels = wave->format.channels;
    uint32_t align = wave->format.blockAlign;
    if (GetCodecTag(wave) != TAG_IMA_ADPCM || wave->recordBytes < 20 || wave->format.bitsPerSample != 4) return 0;
    if (channels == 0 || align <= 4 * channels || (align - 4 * channels) % (4 * channels) != 0) return 0;
    uint32_t frames = (align - 4 * channels) * 2 / channels + 1;
    if (ReadU16(wave->record + 18) != frames || dataBytes == 0 || dataBytes % align != 0) return 0;
    if ((uint64_t)libraryFrames != (uint64_t)(dataBytes / align) * frames) return 0;
    return frames;
}

// Decodes frames [first, first + count) of whole blocks into 16-bit samples.
void DecodeImaFrames(const uint8_t* source, uint32_t align, uint32_t channels, uint32_t blockFrames,
                     int64_t first, int64_t count, int16_t* out) {
    int64_t end = first + count;
    for (int64_t blockStart = first - first % blockFrames; blockStart < end; blockStart += blockFrames) {
        const uint8_t* block = source + (size_t)(blockStart / blockFrames) * align;
        int64_t from = first > blockStart ? first - blockStart : 0;
        int64_t to = end - blockStart < blockFrames ? end - blockStart : blockFrames;
        int16_t* base = out + (blockStart + from - first) * channels;
        for (uint32_t c = 0; c < channels; c++) {
            const uint8_t* head = block + 4 * c;
            int predictor = (int16_t)ReadU16(head);
            int index = ClampImaIndex(head[2]);
            if (from == 0) base[c] = (int16_t)predictor;
            // Each 4-byte word of a channel holds 8 samples, low nibble first.
            const uint8_t* words = block + 4 * channels + 4 * c;
            for (int64_t n = 1; n < to; n++) {
                int64_t k = n - 1;
                uint8_t byte = words[(k / 8) * 4 * channels + (k % 8) / 2];
                int code = (k & 1) ? byte >> 4 : byte & 0x0F;
                int step = IMA_STEPS[index];
                int diff = step >> 3;
                if (code & 1) diff += step >> 2;
                if (code & 2) diff += step >> 1;
                if (code & 4) diff += step;
                if (code & 8) diff = -diff;
                predictor += diff;
                predictor = predictor > 32767 ? 32767 : predictor < -32768 ? -32768 : predictor;
                index = ClampImaIndex(index + IMA_INDEX_ADJUST[code]);
                if (n >= from) base[(n - from) * channels + c] = (int16_t)predictor;
            }
        }
    }
}

// ---- libsndfile over the file in memory ----

sf_count_t GetMemoryLength(void* handle) { return (sf_count_t)((MemorySoundStream*)handle)->size; }

sf_count_t SeekMemoryFile(sf_count_t offset, int origin, void* handle) {
    MemorySoundStream* stream = (MemorySoundStream*)handle;
    int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? (int64_t)stream->position : (int64_t)stream->size;
    int64_t target = base + offset;
    if (target < 0) return -1;
    stream->position = (size_t)target;
    return target;
}

sf_count_t ReadMemoryFile(void* buffer, sf_count_t bytes, void* handle) {
    MemorySoundStream* stream = (MemorySoundStream*)handle;
    if (bytes <= 0 || stream->position >= stream->size) return 0;
    size_t take = stream->size - stream->position < (size_t)bytes ? stream->size - stream->position : (size_t)bytes;
    memcpy(buffer, stream->bytes + stream->position, take);
    stream->position += take;
    return (sf_count_t)take;
}

sf_count_t WriteMemoryFile(const void*, sf_count_t, void*) { return 0; }

sf_count_t TellMemoryFile(void* handle) { return (sf_count_t)((MemorySoundStream*)handle)->position; }

SF_VIRTUAL_IO MEMORY_FILE_IO = {GetMemoryLength, SeekMemoryFile, ReadMemoryFile, WriteMemoryFile, TellMemoryFile};

// One decoder over the file in memory: libsndfile, or our own for IMA ADPCM
// of whole blocks (which reads the data in place).
struct CodecRun {
    const WaveFile* wave;
    MemorySoundStream stream;
    SNDFILE* sound;
    int floatSamples;      // read as floats and scaled here
    const uint8_t* data;   // the data chunk's bytes in the copy
    uint32_t dataBytes;
    uint32_t imaFrames;    // frames per IMA block when decoded here, else 0
    int64_t frame;         // where the next read starts (frames)
    // One run's work: frames from `frame` into out, at most `capacity` bytes.
    uint8_t* out;
    uint32_t capacity;
    uint32_t used;
};

void CloseCodecRun(CodecRun* run) {
    if (run->sound != nullptr) sf_close(run->sound);
    run->sound = nullptr;
}

// Opens libsndfile over the whole file; libraryFrames gets its count. 0 or -1.
int OpenCodecRun(CodecRun* run, const WaveFile* wave, const uint8_t* file, size_t fileBytes, const uint8_t* data,
                 uint32_t dataBytes, int64_t* libraryFrames) {
    memset(run, 0, sizeof(*run));
    run->wave = wave;
    run->data = data;
    run->dataBytes = dataBytes;
    run->stream.bytes = file;
    run->stream.size = fileBytes;
    SF_INFO info = {};
    run->sound = sf_open_virtual(&MEMORY_FILE_IO, SFM_READ, &info, &run->stream);
    if (run->sound == nullptr) return -1;
    // The PCM given is the record's channel count: a file that says otherwise
    // in a way the library reads differently is not converted.
    if (info.channels != wave->format.channels || info.frames < 0) {
        CloseCodecRun(run);
        return -1;
    }
    int subtype = info.format & SF_FORMAT_SUBMASK;
    run->floatSamples = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    run->imaFrames = GetImaBlockFrames(wave, dataBytes, info.frames);
    *libraryFrames = info.frames;
    return 0;
}

void RunCodec(CodecRun* run) {
    uint32_t channels = run->wave->format.channels;
    uint32_t frameBytes = channels * 2u;
    int64_t frames = run->capacity / frameBytes;
    int64_t done = 0;
    if (run->imaFrames != 0) {
        int64_t total = (int64_t)(run->dataBytes / run->wave->format.blockAlign) * run->imaFrames;
        int64_t count = total - run->frame < frames ? total - run->frame : frames;
        if (count > 0) {
            DecodeImaFrames(run->data, run->wave->format.blockAlign, channels, run->imaFrames, run->frame, count,
                            (int16_t*)run->out);
            done = count;
        }
    } else if (!run->floatSamples) {
        while (done < frames) {
            sf_count_t got = sf_readf_short(run->sound, (short*)(run->out + done * frameBytes), frames - done);
            if (got <= 0) break;
            done += got;
        }
    } else {
        // The library hands floats to a short reader unscaled; full scale
        // is 32768 here, rounded and clipped.
        sf_count_t chunkFrames = FLOAT_CHUNK_SAMPLES / channels;
        if (chunkFrames == 0) chunkFrames = 1;
        float* samples = (float*)malloc(sizeof(float) * (size_t)chunkFrames * channels);
        while (samples != nullptr && done < frames) {
            sf_count_t want = frames - done < chunkFrames ? frames - done : chunkFrames;
            sf_count_t got = sf_readf_float(run->sound, samples, want);
            if (got <= 0) break;
            int16_t* out = (int16_t*)(run->out + done * frameBytes);
            for (sf_count_t i = 0; i < got * channels; i++) {
                float v = samples[i] * 32768.0f;
                out[i] = v >= 32767.0f ? 32767 : v <= -32768.0f ? -32768 : (int16_t)lrintf(v);
            }
            done += got;
        }
        free(samples);
    }
    run->used = (uint32_t)(done * frameBytes);
}

// Frames per independent block of the format: a decoder can start at any
// multiple of it and give what a decode from the start gives. 0 for formats
// whose decoder carries state from block to block (GSM 6.10).
uint32_t GetIndependentFrames(const WaveFile* wave) {
    switch (GetCodecTag(wave)) {
        case TAG_PCM:
        case TAG_IEEE_FLOAT:
        case TAG_ALAW:
        case TAG_MULAW:
            return 1;
        case TAG_IMA_ADPCM:
        case TAG_MS_ADPCM:
            // Samples per block, after the extra size.
            if (wave->recordBytes < 20 || ReadU16(wave->record + 16) < 2) return 0;
            return ReadU16(wave->record + 18);
        default:
            return 0;
    }
}

// Decodes the second half on a thread of its own while this one decodes
// the first, the halves meeting where a whole run passes. 0 with the bytes
// used; 1 when the sound cannot be split (nothing decoded).
int RunCodecInHalves(CodecRun* head, const uint8_t* file, size_t fileBytes, int64_t libraryFrames, uint8_t* out,
                     uint32_t capacity, uint32_t* used) {
    const WaveFile* wave = head->wave;
    uint32_t step = GetIndependentFrames(wave);
    if (step == 0) return 1;
    int64_t frame = libraryFrames / 2;
    frame -= frame % step;
    uint64_t from = (uint64_t)frame * wave->format.channels * 2;
    if (frame <= 0 || from >= capacity) return 1;
    CodecRun tail;
    int64_t frames = 0;
    if (OpenCodecRun(&tail, wave, file, fileBytes, head->data, head->dataBytes, &frames) != 0) return 1;
    if (sf_seek(tail.sound, frame, SEEK_SET) != frame) {
        CloseCodecRun(&tail);
        return 1;
    }
    CountSoundDecodeSplit();
    tail.frame = frame;
    tail.out = out + from;
    tail.capacity = capacity - (uint32_t)from;
    head->out = out;
    head->capacity = (uint32_t)from;
    std::thread worker(RunCodec, &tail);
    RunCodec(head);
    worker.join();
    CloseCodecRun(&tail);
    // A first half that ends early is where a whole run ends too.
    *used = head->used < from ? head->used : (uint32_t)from + tail.used;
    return 0;
}

int DecodeWithCodec(WaveFile* wave, uint32_t dataBytes, const WaveFormat* pcmFormat, const PcmPlace* place,
                    DecodedSound* sound) {
    size_t fileBytes = 0;
    uint8_t* file = ReadWholeSource(wave->source, &fileBytes);
    if (file == nullptr || (uint64_t)wave->dataStart + dataBytes > fileBytes) {
        free(file);
        return -1;
    }
    const uint8_t* data = file + wave->dataStart;
    CodecRun run;
    int64_t libraryFrames = 0;
    if (OpenCodecRun(&run, wave, file, fileBytes, data, dataBytes, &libraryFrames) != 0) {
        free(file);
        return -1;
    }
    uint64_t frames = (uint64_t)libraryFrames;
    // GSM 6.10 in WAVE: 65-byte blocks of 320 samples. The library counts a
    // block more than the data holds; the surplus is not sound.
    if (GetCodecTag(wave) == TAG_GSM610 && wave->format.blockAlign == GSM_BLOCK_BYTES) {
        uint64_t whole = (uint64_t)(dataBytes / GSM_BLOCK_BYTES) * GSM_BLOCK_SAMPLES;
        if (frames > whole) frames = whole;
    }
    uint32_t frameBytes = pcmFormat->blockAlign;
    uint64_t total = frames * frameBytes;
    if (total > MAX_PCM_BYTES) total = MAX_PCM_BYTES - MAX_PCM_BYTES % frameBytes;
    uint32_t capacity = (uint32_t)total;
    uint8_t* out = nullptr;
    if (capacity == 0) {
        CloseCodecRun(&run);
        free(file);
        return -1;
    }
    if (place != nullptr) out = place->Reserve(place->context, pcmFormat, capacity);
    sound->placed = out != nullptr;
    if (out == nullptr) out = (uint8_t*)AllocateWriteOnceBlock(capacity);
    if (out == nullptr) {
        CloseCodecRun(&run);
        free(file);
        return -1;
    }
    uint32_t used = 0;
    int split = 1;
    if (IsSoundDecodeSplitting() && capacity >= MIN_SPLIT_SECONDS * pcmFormat->averageBytesPerSecond) {
        split = RunCodecInHalves(&run, file, fileBytes, libraryFrames, out, capacity, &used);
    }
    if (split == 1) {
        run.out = out;
        run.capacity = capacity;
        RunCodec(&run);
        used = run.used;
    }
    CloseCodecRun(&run);
    free(file);
    sound->pcm = out;
    sound->pcmBytes = used;
    sound->format = *pcmFormat;
    return 0;
}

// ---- The reader ----

int IsWave(SoundDataSource* source) {
    uint8_t head[4];
    return ReadSourceBytes(source, head, 4) == 4 && memcmp(head, "RIFF", 4) == 0;
}

void CloseWave(SoundReaderFile* file) {
    WaveFile* wave = AsWave(file);
    if (wave == nullptr) return;
    free(wave->record);
    free(wave);
}

int OpenWave(SoundDataSource* source, SoundReaderFile** file, SoundReaderInfo* info) {
    WaveFile* wave = (WaveFile*)calloc(1, sizeof(WaveFile));
    if (wave == nullptr) return -1;
    wave->source = source;
    if (source->ops.Seek(source->handle, 0, SEEK_SET) != 0 || WalkRiffWave(source, wave) != 0 ||
        CheckFormatNumbers(&wave->format) != 0) {
        CloseWave((SoundReaderFile*)wave);
        return -1;
    }
    info->record = wave->record;
    info->recordBytes = wave->recordBytes;
    info->statedBytes = wave->dataBytes;
    info->converts = !IsPlainPcm(&wave->format);
    *file = (SoundReaderFile*)wave;
    return 0;
}

int DecodeWave(SoundReaderFile* file, const PcmPlace* place, DecodedSound* sound) {
    WaveFile* wave = AsWave(file);
    SoundDataSource* source = wave->source;
    memset(sound, 0, sizeof(*sound));
    if (source->ops.Seek(source->handle, wave->dataStart, SEEK_SET) != 0) return -1;
    // What the "data" chunk states, cut to what the file holds.
    long left = GetBytesLeft(source);
    uint32_t want = wave->dataBytes;
    if (left < 0) left = 0;
    if ((uint64_t)want > (uint64_t)left) want = (uint32_t)left;
    if (IsPlainPcm(&wave->format)) return ReadPlainPcm(wave, want, place, sound);

    // Everything else becomes 16-bit PCM; the channels keep their order, so
    // their speakers stay.
    uint16_t tag = GetCodecTag(wave);
    int mpeg = tag == TAG_MPEG || tag == TAG_MPEG_LAYER3;
    WaveFormat pcmFormat;
    if ((!mpeg && !IsSndfileTag(tag)) || (mpeg && wave->format.channels > 2) ||
        MakePcmFormat(wave->format.channels, wave->format.samplesPerSecond, 16, &pcmFormat) != 0) {
        return -1;
    }
    pcmFormat.channelMask = ReadChannelMask(wave->record, wave->recordBytes);
    if (!mpeg) return DecodeWithCodec(wave, want, &pcmFormat, place, sound);
    uint8_t* block = (uint8_t*)AllocateWriteOnceBlock(want > 0 ? want : 1);
    if (block == nullptr) return -1;
    uint32_t got = (uint32_t)ReadSourceBytes(source, block, want);
    int result = DecodeMpegBlock(block, got, &pcmFormat, place, sound);
    free(block);
    return result;
}

}  // namespace

const PlatformSoundReader RIFF_WAVE_READER = {
    "RIFF WAVE", IsWave, 0, OpenWave, DecodeWave, CloseWave,
};
