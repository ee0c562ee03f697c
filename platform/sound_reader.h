// sound_reader.h: the format readers that turn a sound file into PCM.
//
// One reader per kind of file (RIFF WAVE, Ogg Vorbis, Ogg Opus, FLAC, AAC and
// ALAC in MP4, MPEG audio). Each says from the file's content whether the
// file is its format, opens the file itself through a byte source, tells
// what the file states of itself, and decodes the whole sound into the place
// the caller offers (a device buffer) or a block of its own. Splitting a long
// decode across two threads is each reader's own choice.
//
// SOUND_READERS lists the readers in the order a load asks them. Private to
// the library; the loader (sound/) walks the list, the tests may swap it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wave_format.h"

// The PCM of one load is handed to the device with an int byte count.
const uint32_t MAX_PCM_BYTES = INT32_MAX;

// How a reader reaches the bytes of a file: a stream's five routines (the C
// runtime's, or those of bytes in memory) and the stream.
struct SoundStreamOps {
    long (*Tell)(void* stream);
    int (*Seek)(void* stream, long offset, int origin);  // origin SEEK_SET, SEEK_CUR, SEEK_END; 0 or -1
    size_t (*Read)(void* buffer, size_t size, size_t count, void* stream);
    size_t (*Write)(const void* buffer, size_t size, size_t count, void* stream);
    int (*AtEnd)(void* stream);  // non-zero once a read came short
};

struct SoundDataSource {
    SoundStreamOps ops;
    void* handle;
};

// A data source over bytes in memory.
struct MemorySoundStream {
    const uint8_t* bytes;
    size_t size;
    size_t position;
    int atEnd;  // a read came short; cleared by a seek
};
void OpenMemorySoundSource(MemorySoundStream* stream, const uint8_t* bytes, size_t size, SoundDataSource* source);

// Where a decode may put its PCM. Reserve is called at most once, when the
// PCM's format and size are known (bytes: an upper bound, whole frames, that
// a sound without damage fills exactly): it gives memory of that size for the
// decode to write, or null for a block of the decode's own. The memory need
// not be zeroed: every byte below the decoded length is written.
struct PcmPlace {
    uint8_t* (*Reserve)(void* context, const WaveFormat* format, uint32_t bytes);
    void* context;
};

// The result of a decode; lives only until the device buffer is filled.
struct DecodedSound {
    uint8_t* pcm;          // malloc, or the place's memory when placed
    uint32_t pcmBytes;     // whole frames
    WaveFormat format;     // PCM (tag 1), as the device plays it
    int placed;            // pcm is memory a PcmPlace gave (not freed here)
};
void FreeDecodedSound(DecodedSound* sound);

// malloc for a block that is written once from start to end (PCM, a file's
// data): large ones ask for huge pages, so that writing them takes one page
// fault per 2 MB rather than one per 4 KB. Released with free.
void* AllocateWriteOnceBlock(size_t bytes);

// One file opened by a reader; each reader's own record.
struct SoundReaderFile;

// What an opened file states of itself.
struct SoundReaderInfo {
    // Its wave-format record (malloc): a WAVE file's "fmt " chunk (at least
    // 18 bytes), MPEG audio's 30-byte Layer 3 record, or for the others the
    // 18-byte record of the PCM the decoder gives.
    uint8_t* record;
    uint32_t recordBytes;
    uint32_t statedBytes;  // data length the file states; never trusted for allocation
    int converts;          // the data goes through a codec (not PCM as stored, not Vorbis)
};

struct PlatformSoundReader {
    const char* name;  // "RIFF WAVE", "Ogg Vorbis", ... for messages and tests
    // 1 when the file's content says it is this format (its first bytes, or
    // a tag in front of them), else 0. The source stands at 0 and is left
    // anywhere.
    int (*IsFormat)(SoundDataSource* source);
    // Tried, in list order, on a file that no reader takes as its own: its
    // recognition reaches past the first bytes.
    int fallback;
    // Opens the file from its start. 0, or -1 (the file is not of this
    // format, or damaged) with nothing left allocated. The source must stay
    // open until Close.
    int (*Open)(SoundDataSource* source, SoundReaderFile** file, SoundReaderInfo* info);
    // Decodes the whole sound. 0, or -1 with nothing left allocated (memory
    // the place gave stays the place's).
    int (*Decode)(SoundReaderFile* file, const PcmPlace* place, DecodedSound* sound);
    void (*Close)(SoundReaderFile* file);  // frees the file and its info's record
};

// The readers in the order a load asks them, ending in null.
extern const PlatformSoundReader* const SOUND_READERS[];
extern const PlatformSoundReader RIFF_WAVE_READER;
extern const PlatformSoundReader OGG_VORBIS_READER;
extern const PlatformSoundReader OGG_OPUS_READER;
extern const PlatformSoundReader FLAC_READER;
extern const PlatformSoundReader MPEG_AUDIO_READER;
#ifdef RAVLIN_WITH_FFMPEG
extern const PlatformSoundReader MP4_AUDIO_READER;
#endif

// Whether long sounds are decoded in two parts at once (1, the default) by
// the readers that can, and how many decodes have been split so far: the
// tests compare both ways.
void SetSoundDecodeSplitting(int enabled);
int GetSoundDecodeSplitCount(void);

// ---- MPEG audio, as the loader's recognition rules see it ----

// Recognises MPEG audio by walking its frames: an ID3v2 tag at the start is
// skipped (with the v2.4 footer), an ID3v1 trailer is left alone, junk is
// passed over by the 12-bit sync search, and any invalid frame header fails
// the file. On success: the 30-byte MPEG Layer 3 record (malloc) of the first
// frame, the file size as the data length, the source at the first frame's
// header. 0 or -1.
int ProbeMp3Stream(SoundDataSource* source, uint8_t** format, uint32_t* formatBytes, uint32_t* dataBytes);
// Frame length in bytes from a frame header's fields, 0 for a header that
// gives none (invalid fields or free format).
int GetMpegFrameLength(int mpeg1, int layer, int bitrateIndex, int rateIndex, int padding);
