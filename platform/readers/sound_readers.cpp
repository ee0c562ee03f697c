// sound_readers.cpp: the format readers in the order a load asks them.
//
// The first reader whose IsFormat takes a file reads it. Opus goes before
// Vorbis (both are "OggS"; Vorbis takes every other Ogg file, so that a
// damaged one is called damaged), FLAC before MPEG audio (both may open with
// an ID3v2 tag). A file that no reader takes is tried by the fallbacks in
// this order: Ogg Vorbis (its decoder finds a stream behind leading junk),
// then MPEG audio (its walk passes over junk).
#include "platform/sound_reader.h"

const PlatformSoundReader* const SOUND_READERS[] = {
    &RIFF_WAVE_READER,
    &OGG_OPUS_READER,
    &OGG_VORBIS_READER,
    &FLAC_READER,
#ifdef RAVLIN_WITH_FFMPEG
    &MP4_AUDIO_READER,
#endif
    &MPEG_AUDIO_READER,
    nullptr,
};
