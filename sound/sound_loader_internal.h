// sound_loader_internal.h: the decode path under LoadSoundFile.
//
// Private to sound/ (and the tests and the fuzz target). A load reads a whole
// file through a data source, recognises it by content (RIFF WAVE, Ogg Vorbis,
// MPEG audio), decodes it to PCM in memory and hands the PCM to the device.
//
// Wave-format records are byte blocks in the platform's WAVEFORMATEX layout,
// little-endian: tag, channels, rate, average bytes per second, block align,
// bits, extra size, then the extra bytes of compressed formats.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/core.h"
#include "sound/sound.h"

enum {
    WAVE_FORMAT_RECORD_BYTES = 18,  // a record without extra bytes
    MPEG_FORMAT_RECORD_BYTES = 30,  // the MPEG Layer 3 record
    OGG_READ_BYTES = 4096,          // largest request to the Vorbis decoder
    MIN_SPLIT_SECONDS = 2,          // shorter sounds are decoded on one thread
};

// How the decoders reach the bytes of a file: the start-up stream table and
// the opened stream.
struct SoundDataSource {
    FileStreamOps ops;
    void* handle;
};

// What ProbeSoundFormat found.
struct SoundProbe {
    uint8_t* format;       // wave-format record (malloc), formatBytes long
    uint32_t formatBytes;
    uint32_t dataBytes;    // data length the file states (not trusted for allocation)
    int isOgg;             // data comes from the Vorbis decoder in vorbisFile
    void* vorbisFile;      // OggVorbis_File (malloc) while isOgg
};

// The result of a decode; lives only until the device buffer is filled.
struct DecodedSound {
    uint8_t* pcm;          // malloc, or the place's memory when placed
    uint32_t pcmBytes;
    WaveFormat format;     // PCM
    int placed;            // pcm is memory a PcmPlace gave (not freed here)
};

// Where a decode may put its PCM. Reserve is called at most once, when the
// PCM's format and size are known (bytes: an upper bound, whole frames, that
// a sound without damage fills exactly): it gives memory of that size for the
// decode to write, or null for a block of the decode's own. The memory need
// not be zeroed: every byte below the decoded length is written.
struct PcmPlace {
    uint8_t* (*Reserve)(void* context, const WaveFormat* format, uint32_t bytes);
    void* context;
};

// Reads a whole source into PCM. 0, or -1 with nothing left allocated (the
// place's memory stays the place's).
int DecodeSoundToPcm(SoundDataSource* source, DecodedSound* sound);
int DecodeSoundToPlace(SoundDataSource* source, const PcmPlace* place, DecodedSound* sound);
void FreeDecodedSound(DecodedSound* sound);

// Whether long sounds are decoded in two halves at once (1, the default) or
// in one run (0), and how many decodes have been split so far: the tests
// compare both ways.
void SetSoundDecodeSplitting(int enabled);
int GetSoundDecodeSplitCount(void);
// Counts one split decode (sound_decode.cpp, pcm_convert.cpp).
void CountSoundDecodeSplit(void);
int IsSoundDecodeSplitting(void);
// malloc for a block that is written once from start to end (PCM, a file's
// data): large ones ask for huge pages, so that writing them takes one page
// fault per 2 MB rather than one per 4 KB. Released with free.
void* AllocateWriteOnceBlock(size_t bytes);

// Recognises the source; on success it stands at the first data byte (for Ogg:
// the decoder is open). 0 or -1.
int ProbeSoundFormat(SoundDataSource* source, int wantsOgg, SoundProbe* probe);
void FreeSoundProbe(SoundProbe* probe);

// Opens the Vorbis decoder over the source and fills the probe. 0 or -1.
int OpenOggStream(SoundDataSource* source, SoundProbe* probe);

// Recognises MPEG audio by walking its frames. On success: the 30-byte MPEG
// record (malloc), the file size as the data length, the source at the first
// frame header. 0 or -1.
int ProbeMp3Stream(SoundDataSource* source, uint8_t** format, uint32_t* formatBytes,
                   uint32_t* dataBytes);

// Frame length in bytes from a frame header's fields, 0 for a header that
// gives none (invalid fields or free format).
int GetMpegFrameLength(int mpeg1, int layer, int bitrateIndex, int rateIndex, int padding);

// Converts a compressed block through the platform's codecs. On success pcm
// (malloc) holds pcmBytes of PCM described by the 18-byte pcmFormat; on
// failure nothing it allocated is left. 0 or -1.
int ConvertToPcm(const uint8_t* block, uint32_t blockBytes, const uint8_t* format,
                 uint32_t formatBytes, uint8_t** pcm, uint32_t* pcmBytes, uint8_t* pcmFormat);
// The same into the place's memory when it gives some (placed = 1; then pcm
// is that memory, and on failure it stays the place's).
int ConvertToPcmAt(const uint8_t* block, uint32_t blockBytes, const uint8_t* format, uint32_t formatBytes,
                   const PcmPlace* place, uint8_t** pcm, uint32_t* pcmBytes, uint8_t* pcmFormat, int* placed);

// Reads the fixed fields of a wave-format record (at least 18 bytes); the
// channel mask is left 0.
void ReadWaveFormat(const uint8_t* record, WaveFormat* format);
// The channel mask of a WAVE_FORMAT_EXTENSIBLE record, 0 for other records.
uint32_t ReadChannelMask(const uint8_t* record, uint32_t recordBytes);

// A data source over bytes in memory (for loads from memory and the tests).
struct MemorySoundStream {
    const uint8_t* bytes;
    size_t size;
    size_t position;
    int atEnd;  // a read came short; cleared by a seek
};
void OpenMemorySoundSource(MemorySoundStream* stream, const uint8_t* bytes, size_t size,
                           SoundDataSource* source);
