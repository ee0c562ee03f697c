// reader_common.h: what the format readers share: byte access, blocks of
// PCM, the wave-format record and the switch for split decodes.
//
// Private to platform/readers/.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

#include "platform/sound_reader.h"

enum {
    WAVE_FORMAT_RECORD_BYTES = 18,  // a record without extra bytes
    MIN_SPLIT_SECONDS = 2,          // shorter sounds are decoded on one thread
};

size_t ReadSourceBytes(SoundDataSource* source, void* buffer, size_t bytes);
// Bytes from the current position to the end of the source; -1 when unknown.
long GetBytesLeft(SoundDataSource* source);
// The whole source from its start in a block of its own (malloc); null when
// it cannot be read whole. The source is left at its end.
uint8_t* ReadWholeSource(SoundDataSource* source, size_t* bytes);

// A block of zeroed memory from the system: pages the decoder never reaches
// stay silence without ever being written (or committed). Released with free.
uint8_t* AllocateSilence(size_t bytes);

// Reads the fixed fields of a wave-format record (at least 18 bytes); the
// channel mask is left 0.
void ReadWaveFormat(const uint8_t* record, WaveFormat* format);
// The channel mask of a WAVE_FORMAT_EXTENSIBLE record, 0 for other records.
uint32_t ReadChannelMask(const uint8_t* record, uint32_t recordBytes);
// A PCM format of whole bytes per sample; 0, or -1 when its numbers do not
// fit the record (block align over 16 bits, bytes per second over 32).
int MakePcmFormat(int channels, uint32_t rate, int bits, WaveFormat* format);
// The 18-byte record of a PCM format (malloc); null without memory.
uint8_t* MakePcmRecord(const WaveFormat* format);

// Vorbis (and Opus, which takes its order) lay 3 to 8 channels out otherwise
// than WAVE does: puts whole 16-bit frames into WAVE order, in place. More
// than 8 channels have no defined order and stay as they are.
void ReorderVorbisChannels(uint8_t* pcm, uint32_t bytes, int channels);

int IsSoundDecodeSplitting(void);
void CountSoundDecodeSplit(void);

// How early the second half of a split Opus decode starts (ms; -1 back to
// the reader's own margin). The tests make it too short, so that the halves
// disagree and the first decoder must go on alone.
void SetOpusSplitPreroll(int milliseconds);

// MPEG audio in a block in memory (mpeg_reader.cpp; WAVE files hold it too)
// to PCM of the given format: 16-bit, 1 or 2 channels, the stream's rate.
// 0, or -1 with nothing left allocated (memory the place gave stays the
// place's, and sound->placed says so).
int DecodeMpegBlock(const uint8_t* block, uint32_t bytes, const WaveFormat* format, const PcmPlace* place,
                    DecodedSound* sound);

// ---- PCM of a length known only as the decoder goes ----
//
// A decoder that tells its length (a stated one, not trusted) writes into a
// block of that length when the file could hold that much sound (the
// place's memory when it gives some); otherwise into a block of its own that
// grows as PCM really arrives. Readers whose files state a length: FLAC, Opus,
// MP4.

struct PagePrefault;

struct PcmOutput {
    const PcmPlace* place;
    WaveFormat format;
    uint8_t* block;
    uint32_t capacity;   // bytes of block
    uint32_t length;     // bytes written
    uint32_t limit;      // never more than this (whole frames)
    int placed;          // block is the place's memory
    // A large block of its final size has its pages faulted in on a thread
    // of its own, a little ahead of the writing (from the first Reserve on),
    // so that the decoder does not pay for them; never further ahead, so a
    // length that is not reached costs nothing.
    int prefault;
    PagePrefault* prefaulter;
    uint32_t nextNotice; // bytes: where the writing is next told to the prefaulter
};

// Starts the output: statedBytes is what the file says the PCM holds (0 when
// it says nothing), fileBytes the file's size. The stated length is trusted
// as a size when the file could hold it (maxRatio PCM bytes per file byte).
// 0, or -1 without memory.
int StartPcmOutput(PcmOutput* out, const PcmPlace* place, const WaveFormat* format, uint64_t statedBytes,
                   uint64_t fileBytes, uint32_t maxRatio);
// Room for up to bytes more at out->block + out->length, growing a block of
// its own; *room gets what there is (less only at the limit). Null when the
// limit is reached or no memory is left. The caller then adds what it wrote
// to out->length. Memory the place gave never grows: the sound ends there.
uint8_t* ReservePcmOutput(PcmOutput* out, uint32_t bytes, uint32_t* room);
// Hands the PCM over (whole frames); -1 when there is none. Both end the
// prefaulting.
int FinishPcmOutput(PcmOutput* out, DecodedSound* sound);
void AbandonPcmOutput(PcmOutput* out);
