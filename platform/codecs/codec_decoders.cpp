// codec_decoders.cpp: the platform's audio codecs, CODEC_OPS.
//
// MPEG audio (tags 0x50 and 0x55) goes through libmpg123 with gapless decoding
// on, so that a looped MP3 has no encoder-delay gap at its loop point. The
// other compressed WAVE formats (MS and IMA ADPCM, A-law, mu-law, GSM 6.10,
// IEEE float, EXTENSIBLE, PCM in unusual containers) go through libsndfile,
// which reads a small WAVE header made here followed by the caller's block:
// both decoders read the block in place, nothing is copied.
//
// Every codec suggests 16-bit PCM at the source's rate and channel count.
#include "platform/byte_order.h"
#include "platform/codec.h"
#include "platform/mpeg_frames.h"

#include <mpg123.h>
#include <sndfile.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>

namespace {

enum { CODEC_KIND_MPEG = 1, CODEC_KIND_SNDFILE = 2 };

// WAVE header in front of the block: "RIFF" size "WAVE", "fmt " chunk (its
// record at most this long), "data" chunk header.
enum { MAX_FORMAT_RECORD_BYTES = 1024, MAX_WAVE_HEADER_BYTES = 12 + 8 + MAX_FORMAT_RECORD_BYTES + 2 + 8 };

enum { GSM_BLOCK_BYTES = 65, GSM_BLOCK_SAMPLES = 320 };

// Decoder calls in a row without output before a conversion gives up.
enum { MPEG_IDLE_CALLS = 64 };

// Frames decoded and thrown away before a point a decoder starts at, so that
// the bit reservoir and the filter banks hold what they would have held
// there in a decode from the start.
enum { MPEG_LEAD_IN_FRAMES = 8 };

// Float samples converted per step, or one frame when a frame holds more.
enum { FLOAT_CHUNK_SAMPLES = 16384 };

struct SourceFormat {
    uint16_t tag;          // the record's tag; for EXTENSIBLE its sub-format's
    uint16_t channels;
    uint32_t rate;         // Hz
    uint16_t blockAlign;   // bytes
    uint16_t bits;
};

}  // namespace

struct PlatformCodecStream {
    int kind;
    uint16_t tag;             // of the source (for EXTENSIBLE its sub-format's)
    uint16_t blockAlign;      // of the source, bytes
    uint16_t channels;        // of the PCM given
    uint32_t rate;            // Hz
    int holding;              // the block is in the codec's hands
    int startedAtMiddle;      // StartAtMiddle readied the decoder: Convert goes on from there
    // The block being read (both decoders read it in place).
    const uint8_t* source;
    uint32_t sourceBytes;
    int64_t position;         // bytes into the virtual file (header + block)
    // libmpg123
    mpg123_handle* mpeg;
    uint8_t* scratch;         // one frame of output that may not fit the block
    size_t scratchBytes;
    // libsndfile
    SNDFILE* sound;
    uint8_t header[MAX_WAVE_HEADER_BYTES];
    uint32_t headerBytes;
    uint8_t formatRecord[MAX_FORMAT_RECORD_BYTES];
    uint32_t formatBytes;
    int floatSamples;         // read as floats and scaled here
    int64_t startFrame;       // where Convert goes on after StartAtMiddle (frames)
    int64_t libraryFrames;    // the library's count of the block's frames
};

namespace {


// Reads the fields the codecs choose by; -1 for a record too short to hold them.
int ParseSourceFormat(const uint8_t* record, uint32_t bytes, SourceFormat* format) {
    if (record == nullptr || bytes < 16) return -1;
    format->tag = ReadU16(record);
    format->channels = ReadU16(record + 2);
    format->rate = ReadU32(record + 4);
    format->blockAlign = ReadU16(record + 12);
    format->bits = ReadU16(record + 14);
    // EXTENSIBLE: the sub-format GUID's first two bytes are the real tag.
    if (format->tag == CODEC_TAG_EXTENSIBLE) {
        if (bytes < 40 || ReadU16(record + 16) < 22) return -1;
        format->tag = ReadU16(record + 24);
    }
    return 0;
}

int IsMpegTag(uint16_t tag) { return tag == CODEC_TAG_MPEG || tag == CODEC_TAG_MPEG_LAYER3; }

int IsSndfileTag(uint16_t tag) {
    switch (tag) {
        case CODEC_TAG_PCM:
        case CODEC_TAG_MS_ADPCM:
        case CODEC_TAG_IEEE_FLOAT:
        case CODEC_TAG_ALAW:
        case CODEC_TAG_MULAW:
        case CODEC_TAG_IMA_ADPCM:
        case CODEC_TAG_GSM610:
            return 1;
        default:
            return 0;
    }
}

// ---- libmpg123 over the block ----

ssize_t ReadMpegBlock(void* handle, void* buffer, size_t bytes) {
    PlatformCodecStream* stream = (PlatformCodecStream*)handle;
    int64_t left = (int64_t)stream->sourceBytes - stream->position;
    if (left <= 0) return 0;
    if ((int64_t)bytes > left) bytes = (size_t)left;
    memcpy(buffer, stream->source + stream->position, bytes);
    stream->position += (int64_t)bytes;
    return (ssize_t)bytes;
}

off_t SeekMpegBlock(void* handle, off_t offset, int origin) {
    PlatformCodecStream* stream = (PlatformCodecStream*)handle;
    int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? stream->position : stream->sourceBytes;
    int64_t target = base + (int64_t)offset;
    // Like a file: any position from 0 on, past the end too.
    if (target < 0) return -1;
    stream->position = target;
    return (off_t)target;
}

int OpenMpeg(PlatformCodecStream* stream) {
    static int initialised = 0;
    // Needed once by libraries older than 1.27; harmless after.
    if (!initialised) {
        if (mpg123_init() != MPG123_OK) return -1;
        initialised = 1;
    }
    int error = 0;
    stream->mpeg = mpg123_new(nullptr, &error);
    if (stream->mpeg == nullptr) return -1;
    mpg123_param(stream->mpeg, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_param(stream->mpeg, MPG123_PREFRAMES, MPEG_LEAD_IN_FRAMES, 0.0);
    // 16-bit output in the stream's channel count (the decoder mixes or
    // doubles channels of frames that differ) at any rate it knows. Allowing
    // a single rate makes the decoder resample, and its resampler can hang on
    // damaged streams; a change of rate ends the conversion instead.
    mpg123_format_none(stream->mpeg);
    int channels = stream->channels == 1 ? MPG123_MONO : MPG123_STEREO;
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; i++) mpg123_format(stream->mpeg, rates[i], channels, MPG123_ENC_SIGNED_16);
    if (mpg123_replace_reader_handle(stream->mpeg, ReadMpegBlock, SeekMpegBlock, nullptr) != MPG123_OK) {
        mpg123_delete(stream->mpeg);
        stream->mpeg = nullptr;
        return -1;
    }
    return 0;
}

// Points the decoder at the block (again from its start).
int StartMpegBlock(PlatformCodecStream* stream, const uint8_t* source, uint32_t bytes) {
    mpg123_close(stream->mpeg);
    stream->source = source;
    stream->sourceBytes = bytes;
    stream->position = 0;
    return mpg123_open_handle(stream->mpeg, stream) == MPG123_OK ? 0 : -1;
}


// One MPEG audio header: its frame's length in bytes, samples per channel and
// rate. 0 when the four bytes are no usable header (free format included).
struct MpegHeader {
    int version, layer;
    uint32_t length;
    int samples;
    int rate;
};

int ParseMpegHeader(const uint8_t* h, MpegHeader* header) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    int version = (h[1] >> 3) & 3;  // 0: 2.5, 1: reserved, 2: 2, 3: 1
    int layerBits = (h[1] >> 1) & 3;
    int bitrateIndex = h[2] >> 4;
    int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
    int mpeg1 = version == MPEG_VERSION_1;
    int layer = 4 - layerBits;
    header->version = version;
    header->layer = layer;
    header->rate = GetMpegSampleRate(version, rateIndex);
    header->length = (uint32_t)ComputeMpegFrameLength(mpeg1, layer, GetMpegBitrate(mpeg1, layer, bitrateIndex),
                                                      header->rate, (h[2] >> 1) & 1);
    header->samples = layer == 1 ? 384 : (layer == 3 && !mpeg1) ? 576 : 1152;
    return 1;
}

// An upper bound of the frames (per channel) the decoder can give for the
// block: every header at outRate that holds together (11-bit sync, so MPEG
// 2.5 too) counts with its samples. The walk jumps over a frame only when a
// header of the same kind (or the end of the block) follows it; otherwise a
// false sync in junk could jump over real frames and cut the sound short, so
// the walk counts it and moves on by one byte (a bound may be too large, never
// too small). Free-format frames, whose length no header tells, count nothing:
// the decoder's output is cut at the bound.
uint64_t CountMpegOutputFrames(const uint8_t* block, uint32_t bytes, uint32_t outRate) {
    uint64_t frames = 0;
    uint32_t at = 0;
    while (at + 4 <= bytes) {
        MpegHeader header;
        if (!ParseMpegHeader(block + at, &header)) {
            at++;
            continue;
        }
        // Frames at another rate end the conversion, but may stand first.
        if ((uint32_t)header.rate == outRate) frames += (uint64_t)header.samples;
        uint64_t next = (uint64_t)at + (header.length > 4 ? header.length : 4);
        if (next + 4 > bytes) break;  // the last frame reaches the end of the block
        MpegHeader following;
        int chained = ParseMpegHeader(block + next, &following) && following.version == header.version &&
                      following.layer == header.layer;
        at = chained ? (uint32_t)next : at + 1;
    }
    return frames;
}

int GetMpegOutputSize(PlatformCodecStream* stream, const uint8_t* source, uint32_t bytes,
                      uint32_t* pcmBytes) {
    uint64_t frames = CountMpegOutputFrames(source, bytes, stream->rate);
    // The decoder's own count of the whole stream (the gapless trims taken
    // off) is what it gives: with it the bound is the size of the PCM, so
    // that the PCM can be decoded where it is to stay.
    if (StartMpegBlock(stream, source, bytes) == 0 && mpg123_scan(stream->mpeg) == MPG123_OK) {
        off_t length = mpg123_length(stream->mpeg);
        if (length > 0 && (uint64_t)length < frames) frames = (uint64_t)length;
    }
    uint64_t total = frames * stream->channels * 2;
    if (total > (uint64_t)INT_MAX) total = (uint64_t)INT_MAX - (uint64_t)INT_MAX % (stream->channels * 2u);
    *pcmBytes = (uint32_t)total;
    return 0;
}

// Each frame is decoded straight into the output block (the decoder's
// buffer is pointed at the place it goes); only a frame that may not fit the
// room left goes through a scratch buffer, and what does not fit is cut.
int ConvertMpeg(PlatformCodecStream* stream, const uint8_t* source, uint32_t bytes, uint8_t* pcm,
                uint32_t capacity, uint32_t* used) {
    if (stream->startedAtMiddle && stream->source == source && stream->sourceBytes == bytes) {
        stream->startedAtMiddle = 0;
    } else if (stream->source != source || stream->sourceBytes != bytes || stream->position != 0) {
        if (StartMpegBlock(stream, source, bytes) != 0) return -1;
    }
    size_t frameBytes = mpg123_outblock(stream->mpeg);
    if (frameBytes == 0) return -1;
    if (stream->scratchBytes < frameBytes) {
        free(stream->scratch);
        stream->scratch = (uint8_t*)malloc(frameBytes);
        stream->scratchBytes = stream->scratch != nullptr ? frameBytes : 0;
        if (stream->scratch == nullptr) return -1;
    }
    uint32_t filled = 0;
    int idle = 0;  // calls in a row that gave nothing
    while (filled < capacity && idle < MPEG_IDLE_CALLS) {
        uint8_t* place = pcm + filled;
        int direct = capacity - filled >= frameBytes;
        if (mpg123_replace_buffer(stream->mpeg, direct ? place : stream->scratch,
                                  direct ? capacity - filled : stream->scratchBytes) != MPG123_OK) {
            break;
        }
        unsigned char* audio = nullptr;
        size_t done = 0;
        off_t frame = 0;
        int result = mpg123_decode_frame(stream->mpeg, &frame, &audio, &done);
        if (done > capacity - filled) done = capacity - filled;
        if (done > 0 && audio != place) memmove(place, audio, done);
        filled += (uint32_t)done;
        idle = done > 0 ? 0 : idle + 1;
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channelCount = 0, encoding = 0;
            mpg123_getformat(stream->mpeg, &rate, &channelCount, &encoding);
            if (rate != (long)stream->rate || channelCount != stream->channels || encoding != MPG123_ENC_SIGNED_16) {
                break;
            }
            continue;
        }
        // Done, or a stream that cannot go on: what was decoded stands.
        if (result != MPG123_OK) break;
    }
    *used = filled;
    return 0;
}

// The decoder placed at the first frame after the middle of the stream, by
// its frame index.
int StartMpegAtMiddle(PlatformCodecStream* stream, const uint8_t* source, uint32_t bytes, uint32_t pcmBytes,
                      uint32_t* fromBytes) {
    if (StartMpegBlock(stream, source, bytes) != 0 || mpg123_scan(stream->mpeg) != MPG123_OK) return -1;
    off_t frames = mpg123_framelength(stream->mpeg);
    if (frames < 2 * MPEG_LEAD_IN_FRAMES) return -1;
    if (mpg123_seek_frame(stream->mpeg, frames / 2, SEEK_SET) < 0) return -1;
    off_t sample = mpg123_tell(stream->mpeg);
    uint64_t from = (uint64_t)(sample > 0 ? sample : 0) * stream->channels * 2;
    if (from == 0 || from >= pcmBytes) return -1;
    *fromBytes = (uint32_t)from;
    stream->startedAtMiddle = 1;
    return 0;
}

// ---- libsndfile over a WAVE header and the block ----

sf_count_t GetVirtualLength(void* handle) {
    PlatformCodecStream* stream = (PlatformCodecStream*)handle;
    return (sf_count_t)stream->headerBytes + stream->sourceBytes;
}

sf_count_t SeekVirtual(sf_count_t offset, int origin, void* handle) {
    PlatformCodecStream* stream = (PlatformCodecStream*)handle;
    int64_t length = (int64_t)stream->headerBytes + stream->sourceBytes;
    int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? stream->position : length;
    int64_t target = base + offset;
    if (target < 0) return -1;
    stream->position = target;
    return target;
}

sf_count_t ReadVirtual(void* buffer, sf_count_t bytes, void* handle) {
    PlatformCodecStream* stream = (PlatformCodecStream*)handle;
    uint8_t* out = (uint8_t*)buffer;
    sf_count_t done = 0;
    while (done < bytes) {
        int64_t at = stream->position;
        const uint8_t* from;
        int64_t left;
        if (at < (int64_t)stream->headerBytes) {
            from = stream->header + at;
            left = (int64_t)stream->headerBytes - at;
        } else {
            int64_t inBlock = at - stream->headerBytes;
            if (inBlock >= (int64_t)stream->sourceBytes) break;
            from = stream->source + inBlock;
            left = (int64_t)stream->sourceBytes - inBlock;
        }
        int64_t take = bytes - done < left ? bytes - done : left;
        memcpy(out + done, from, (size_t)take);
        done += take;
        stream->position += take;
    }
    return done;
}

sf_count_t WriteVirtual(const void*, sf_count_t, void*) { return 0; }

sf_count_t TellVirtual(void* handle) { return ((PlatformCodecStream*)handle)->position; }

SF_VIRTUAL_IO VIRTUAL_BLOCK_IO = {GetVirtualLength, SeekVirtual, ReadVirtual, WriteVirtual, TellVirtual};

// Lays out "RIFF" size "WAVE" "fmt " record (padded) "data" size before the block.
void BuildWaveHeader(PlatformCodecStream* stream, uint32_t blockBytes) {
    uint8_t* h = stream->header;
    uint32_t formatBytes = stream->formatBytes;
    uint32_t padded = formatBytes + (formatBytes & 1);
    uint32_t bytes = 12 + 8 + padded + 8;
    memcpy(h, "RIFF", 4);
    uint64_t riffSize = (uint64_t)bytes - 8 + blockBytes;
    WriteU32(h + 4, riffSize > UINT32_MAX ? UINT32_MAX : (uint32_t)riffSize);
    memcpy(h + 8, "WAVE", 4);
    memcpy(h + 12, "fmt ", 4);
    WriteU32(h + 16, formatBytes);
    memcpy(h + 20, stream->formatRecord, formatBytes);
    if (formatBytes & 1) h[20 + formatBytes] = 0;
    memcpy(h + 20 + padded, "data", 4);
    WriteU32(h + 24 + padded, blockBytes);
    stream->headerBytes = bytes;
}

// Opens libsndfile over the header and the block (again from the start).
int StartSndfileBlock(PlatformCodecStream* stream, const uint8_t* source, uint32_t bytes, SF_INFO* info) {
    if (stream->sound != nullptr) {
        sf_close(stream->sound);
        stream->sound = nullptr;
    }
    stream->source = source;
    stream->sourceBytes = bytes;
    stream->position = 0;
    BuildWaveHeader(stream, bytes);
    memset(info, 0, sizeof(*info));
    stream->sound = sf_open_virtual(&VIRTUAL_BLOCK_IO, SFM_READ, info, stream);
    if (stream->sound == nullptr) return -1;
    // The PCM given is the source's channel count: a file that says otherwise
    // in a way the library reads differently is not converted.
    if (info->channels != stream->channels || info->frames < 0) {
        sf_close(stream->sound);
        stream->sound = nullptr;
        return -1;
    }
    stream->libraryFrames = info->frames;
    int subtype = info->format & SF_FORMAT_SUBMASK;
    stream->floatSamples = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    return 0;
}

int GetSndfileOutputSize(PlatformCodecStream* stream, const uint8_t* source, uint32_t bytes,
                         uint32_t* pcmBytes) {
    SF_INFO info;
    if (StartSndfileBlock(stream, source, bytes, &info) != 0) return -1;
    uint64_t frames = (uint64_t)info.frames;
    // GSM 6.10 in WAVE: 65-byte blocks of 320 samples. The library counts a
    // block more than the data holds; the surplus is not sound.
    if (stream->tag == CODEC_TAG_GSM610 && stream->blockAlign == GSM_BLOCK_BYTES) {
        uint64_t whole = (uint64_t)(bytes / GSM_BLOCK_BYTES) * GSM_BLOCK_SAMPLES;
        if (frames > whole) frames = whole;
    }
    uint64_t total = frames * stream->channels * 2;
    if (total > (uint64_t)INT_MAX) total = (uint64_t)INT_MAX - (uint64_t)INT_MAX % (stream->channels * 2u);
    *pcmBytes = (uint32_t)total;
    return 0;
}

// ---- IMA ADPCM in whole blocks, decoded here ----
//
// The library's IMA decoder costs several times what the format needs. Data
// made of whole blocks whose sample count the library agrees with is decoded
// here, sample for sample as the library decodes it; anything else (a short
// last block, a count from a fact chunk) is left to the library.

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
uint32_t GetImaBlockFrames(PlatformCodecStream* stream, uint32_t bytes, int64_t libraryFrames) {
    uint32_t channels = stream->channels;
    uint32_t align = stream->blockAlign;
    if (stream->tag != CODEC_TAG_IMA_ADPCM || stream->formatBytes < 20 || ReadU16(stream->formatRecord + 14) != 4) {
        return 0;
    }
    if (channels == 0 || align <= 4 * channels || (align - 4 * channels) % (4 * channels) != 0) return 0;
    uint32_t frames = (align - 4 * channels) * 2 / channels + 1;
    if (ReadU16(stream->formatRecord + 18) != frames || bytes == 0 || bytes % align != 0) return 0;
    if ((uint64_t)libraryFrames != (uint64_t)(bytes / align) * frames) return 0;
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

int ConvertSndfile(PlatformCodecStream* stream, const uint8_t* source, uint32_t bytes, uint8_t* pcm,
                   uint32_t capacity, uint32_t* used) {
    int goOn = stream->startedAtMiddle && stream->sound != nullptr && stream->source == source &&
               stream->sourceBytes == bytes;
    stream->startedAtMiddle = 0;
    if (!goOn) {
        SF_INFO info;
        if (StartSndfileBlock(stream, source, bytes, &info) != 0) return -1;
        stream->startFrame = 0;
    }
    uint32_t frameBytes = stream->channels * 2u;
    sf_count_t frames = capacity / frameBytes;
    sf_count_t done = 0;
    uint32_t imaFrames = GetImaBlockFrames(stream, bytes, stream->libraryFrames);
    if (imaFrames != 0) {
        int64_t total = (int64_t)(bytes / stream->blockAlign) * imaFrames;
        int64_t count = total - stream->startFrame < frames ? total - stream->startFrame : frames;
        if (count > 0) {
            DecodeImaFrames(source, stream->blockAlign, stream->channels, imaFrames, stream->startFrame, count,
                            (int16_t*)pcm);
            done = count;
        }
        *used = (uint32_t)(done * frameBytes);
        return 0;
    }
    if (!stream->floatSamples) {
        while (done < frames) {
            sf_count_t got = sf_readf_short(stream->sound, (short*)(pcm + done * frameBytes), frames - done);
            if (got <= 0) break;
            done += got;
        }
    } else {
        // The library hands floats to a short reader unscaled; full scale
        // is 32768 here, rounded and clipped.
        sf_count_t chunkFrames = FLOAT_CHUNK_SAMPLES / stream->channels;
        if (chunkFrames == 0) chunkFrames = 1;
        float* samples = (float*)malloc(sizeof(float) * (size_t)chunkFrames * stream->channels);
        if (samples == nullptr) return -1;
        while (done < frames) {
            sf_count_t want = frames - done < chunkFrames ? frames - done : chunkFrames;
            sf_count_t got = sf_readf_float(stream->sound, samples, want);
            if (got <= 0) break;
            int16_t* out = (int16_t*)(pcm + done * frameBytes);
            for (sf_count_t i = 0; i < got * stream->channels; i++) {
                float v = samples[i] * 32768.0f;
                out[i] = v >= 32767.0f ? 32767 : v <= -32768.0f ? -32768 : (int16_t)lrintf(v);
            }
            done += got;
        }
        free(samples);
    }
    *used = (uint32_t)(done * frameBytes);
    return 0;
}

// Frames per independent block of the format: a decoder can start at any
// multiple of it and give what a decode from the start gives. 0 for formats
// whose decoder carries state from block to block (GSM 6.10) or that are not
// known here.
uint32_t GetIndependentFrames(PlatformCodecStream* stream) {
    switch (stream->tag) {
        case CODEC_TAG_PCM:
        case CODEC_TAG_IEEE_FLOAT:
        case CODEC_TAG_ALAW:
        case CODEC_TAG_MULAW:
            return 1;
        case CODEC_TAG_IMA_ADPCM:
        case CODEC_TAG_MS_ADPCM:
            // Samples per block, after the extra size.
            if (stream->formatBytes < 20 || ReadU16(stream->formatRecord + 16) < 2) return 0;
            return ReadU16(stream->formatRecord + 18);
        default:
            return 0;
    }
}

int StartSndfileAtMiddle(PlatformCodecStream* stream, const uint8_t* source, uint32_t bytes, uint32_t pcmBytes,
                         uint32_t* fromBytes) {
    uint32_t step = GetIndependentFrames(stream);
    if (step == 0) return -1;
    SF_INFO info;
    if (StartSndfileBlock(stream, source, bytes, &info) != 0) return -1;
    sf_count_t frame = info.frames / 2;
    frame -= frame % step;
    uint64_t from = (uint64_t)frame * stream->channels * 2;
    if (frame <= 0 || from >= pcmBytes || sf_seek(stream->sound, frame, SEEK_SET) != frame) return -1;
    *fromBytes = (uint32_t)from;
    stream->startFrame = frame;
    stream->startedAtMiddle = 1;
    return 0;
}

// ---- The table ----

int CodecSuggestFormat(const uint8_t* sourceFormat, uint32_t sourceFormatBytes, uint8_t* pcmFormat) {
    SourceFormat format;
    if (ParseSourceFormat(sourceFormat, sourceFormatBytes, &format) != 0) return -1;
    if (!IsMpegTag(format.tag) && !IsSndfileTag(format.tag)) return -1;
    if (format.channels == 0 || format.rate == 0 || format.blockAlign == 0) return -1;
    if (IsMpegTag(format.tag) && format.channels > 2) return -1;
    uint64_t blockAlign = (uint64_t)format.channels * 2;
    uint64_t averageBytes = blockAlign * format.rate;
    if (blockAlign > 0xFFFF || averageBytes > UINT32_MAX) return -1;
    WriteU16(pcmFormat + 0, CODEC_TAG_PCM);
    WriteU16(pcmFormat + 2, format.channels);
    WriteU32(pcmFormat + 4, format.rate);
    WriteU32(pcmFormat + 8, (uint32_t)averageBytes);
    WriteU16(pcmFormat + 12, (uint16_t)blockAlign);
    WriteU16(pcmFormat + 14, 16);
    WriteU16(pcmFormat + 16, 0);
    return 0;
}

int CodecOpenStream(const uint8_t* sourceFormat, uint32_t sourceFormatBytes, const uint8_t* pcmFormat,
                    PlatformCodecStream** result) {
    uint8_t suggested[CODEC_PCM_FORMAT_BYTES];
    if (CodecSuggestFormat(sourceFormat, sourceFormatBytes, suggested) != 0) return -1;
    // Only the suggested format is produced.
    if (memcmp(suggested, pcmFormat, CODEC_PCM_FORMAT_BYTES) != 0) return -1;
    SourceFormat format = {};
    ParseSourceFormat(sourceFormat, sourceFormatBytes, &format);
    if (!IsMpegTag(format.tag) && sourceFormatBytes > MAX_FORMAT_RECORD_BYTES) return -1;

    PlatformCodecStream* stream = (PlatformCodecStream*)calloc(1, sizeof(PlatformCodecStream));
    if (stream == nullptr) return -1;
    stream->channels = format.channels;
    stream->rate = format.rate;
    stream->tag = format.tag;
    stream->blockAlign = format.blockAlign;
    if (IsMpegTag(format.tag)) {
        stream->kind = CODEC_KIND_MPEG;
        if (OpenMpeg(stream) != 0) {
            free(stream);
            return -1;
        }
    } else {
        stream->kind = CODEC_KIND_SNDFILE;
        memcpy(stream->formatRecord, sourceFormat, sourceFormatBytes);
        stream->formatBytes = sourceFormatBytes;
    }
    *result = stream;
    return 0;
}

int CodecGetOutputSize(PlatformCodecStream* stream, const uint8_t* source, uint32_t sourceBytes,
                       uint32_t* pcmBytes) {
    if (stream == nullptr || source == nullptr) return -1;
    if (stream->kind == CODEC_KIND_MPEG) return GetMpegOutputSize(stream, source, sourceBytes, pcmBytes);
    return GetSndfileOutputSize(stream, source, sourceBytes, pcmBytes);
}

int CodecConvert(PlatformCodecStream* stream, const uint8_t* source, uint32_t sourceBytes, uint8_t* pcm,
                 uint32_t pcmCapacity, uint32_t* pcmBytesUsed) {
    if (stream == nullptr || source == nullptr || pcm == nullptr) return -1;
    *pcmBytesUsed = 0;
    stream->holding = 1;
    if (stream->kind == CODEC_KIND_MPEG) {
        return ConvertMpeg(stream, source, sourceBytes, pcm, pcmCapacity, pcmBytesUsed);
    }
    return ConvertSndfile(stream, source, sourceBytes, pcm, pcmCapacity, pcmBytesUsed);
}

int CodecStartAtMiddle(PlatformCodecStream* stream, const uint8_t* source, uint32_t sourceBytes, uint32_t pcmBytes,
                       uint32_t* fromBytes) {
    if (stream == nullptr || source == nullptr) return -1;
    stream->startedAtMiddle = 0;
    if (stream->kind == CODEC_KIND_MPEG) return StartMpegAtMiddle(stream, source, sourceBytes, pcmBytes, fromBytes);
    return StartSndfileAtMiddle(stream, source, sourceBytes, pcmBytes, fromBytes);
}

int CodecReleaseBlock(PlatformCodecStream* stream) {
    if (stream == nullptr) return -1;
    // Both decoders are done with the block when Convert returns.
    stream->holding = 0;
    return 0;
}

int CodecCloseStream(PlatformCodecStream* stream) {
    if (stream == nullptr) return -1;
    if (stream->mpeg != nullptr) {
        mpg123_close(stream->mpeg);
        mpg123_delete(stream->mpeg);
    }
    free(stream->scratch);
    int result = 0;
    if (stream->sound != nullptr && sf_close(stream->sound) != 0) result = -1;
    free(stream);
    return result;
}

}  // namespace

const PlatformCodecOps CODEC_OPS = {
    CodecSuggestFormat, CodecOpenStream, CodecGetOutputSize,
    CodecConvert,       CodecReleaseBlock, CodecCloseStream,
    CodecStartAtMiddle,
};
