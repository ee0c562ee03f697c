// fuzz_sound_loader.cpp: libFuzzer target for the whole decode path of a sound
// load: recognition by the format readers and every reader's decode (RIFF
// WAVE with its codecs, Ogg Vorbis, Ogg Opus, FLAC, AAC and ALAC in MP4, MPEG
// audio). Built and run by scripts/fuzz_sound_loader.sh with clang,
// AddressSanitizer and UBSan.
//
// Only the decode path is linked, with the platform table holding the real
// readers and a message pump that always lets the load go on.
#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/sound_reader.h"
#include "sound/sound_loader_internal.h"

PlatformTables PLATFORM = {nullptr, nullptr, nullptr, nullptr, nullptr, SOUND_READERS, nullptr};

int ProcessWindowMessages(void) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySoundStream stream;
    SoundDataSource source;
    OpenMemorySoundSource(&stream, data, size, &source);
    DecodedSound sound;
    if (DecodeSoundToPcm(&source, &sound) != 0) return 0;
    // A decoded sound is whole frames of a playable PCM format, every byte
    // of it readable.
    if (sound.pcmBytes == 0 || sound.format.formatTag != 1 || sound.format.blockAlign == 0 ||
        sound.format.channels == 0 || sound.format.samplesPerSecond == 0 ||
        sound.pcmBytes % sound.format.blockAlign != 0) {
        abort();
    }
    uint8_t sum = 0;
    for (uint32_t i = 0; i < sound.pcmBytes; i += 4096) sum += sound.pcm[i];
    sum += sound.pcm[sound.pcmBytes - 1];
    volatile uint8_t touched = sum;  // keeps the reads
    (void)touched;
    FreeDecodedSound(&sound);
    return 0;
}
