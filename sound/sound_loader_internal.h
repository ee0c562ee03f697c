// sound_loader_internal.h: the decode path under LoadSoundFile.
//
// Private to sound/ (and the tests and the fuzz target). A load reads a whole
// file through a data source, finds the format reader that takes it (by
// content, platform/sound_reader.h), decodes it to PCM in memory and hands
// the PCM to the device.
//
// Wave-format records are byte blocks in the platform's WAVEFORMATEX layout,
// little-endian: tag, channels, rate, average bytes per second, block align,
// bits, extra size, then the extra bytes of compressed formats.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/sound_reader.h"
#include "sound/sound.h"

// A decode that a quit seen by the message pump ended: the user closed the
// window while the sound was converted.
enum { SOUND_DECODE_CANCELLED = -2 };

// A data source over an open file, through the start-up's file stream table.
void OpenFileSoundSource(FILE* file, SoundDataSource* source);

// What ProbeSoundFormat found: the reader that took the file, opened.
struct SoundProbe {
    uint8_t* format;       // the file's wave-format record (the reader's), formatBytes long
    uint32_t formatBytes;
    uint32_t dataBytes;    // data length the file states (not trusted for allocation)
    int isOgg;             // the data is Ogg Vorbis
    int converts;          // the decode goes through a codec
    const PlatformSoundReader* reader;
    SoundReaderFile* file;
};

// Recognises the source by asking the readers (PLATFORM.readers) in order,
// and opens it with the first that takes it; without wantsOgg the Ogg
// Vorbis reader is passed over. 0, or -1 when no reader can open it.
int ProbeSoundFormat(SoundDataSource* source, int wantsOgg, SoundProbe* probe);
void FreeSoundProbe(SoundProbe* probe);

// 1 when a reader takes the source as its format by its content (so that a
// file that cannot be decoded is damaged rather than of another kind).
int IsKnownSoundFormat(SoundDataSource* source);

// Reads a whole source into PCM. 0, or -1 with nothing left allocated (the
// place's memory stays the place's). A decode that converts lets the window
// have its messages once at its end; a quit seen there ends the load:
// DecodeSoundToPlace then gives SOUND_DECODE_CANCELLED.
int DecodeSoundToPcm(SoundDataSource* source, DecodedSound* sound);
int DecodeSoundToPlace(SoundDataSource* source, const PcmPlace* place, DecodedSound* sound);
