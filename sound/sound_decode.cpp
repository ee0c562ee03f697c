// sound_decode.cpp: reads a whole sound file into PCM in memory, through the
// format reader that takes it.
//
// The readers are asked in their list's order; the first whose content check
// takes the file reads it. A file no reader takes goes to the fallbacks,
// whose recognition reaches past the first bytes. The file's name is never
// looked at.
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "platform/platform.h"
#include "sound/sound_loader_internal.h"

namespace {

int Rewind(SoundDataSource* source) { return source->ops.Seek(source->handle, 0, SEEK_SET); }

// The first reader that takes the source by its content, null when none does.
const PlatformSoundReader* FindClaimingReader(SoundDataSource* source) {
    for (const PlatformSoundReader* const* reader = PLATFORM.readers; *reader != nullptr; reader++) {
        if (Rewind(source) != 0) return nullptr;
        if ((*reader)->IsFormat(source)) return *reader;
    }
    return nullptr;
}

int OpenWith(const PlatformSoundReader* reader, SoundDataSource* source, SoundProbe* probe) {
    SoundReaderInfo info = {};
    if (Rewind(source) != 0 || reader->Open(source, &probe->file, &info) != 0) return -1;
    probe->reader = reader;
    probe->format = info.record;
    probe->formatBytes = info.recordBytes;
    probe->dataBytes = info.statedBytes;
    probe->isOgg = reader == &OGG_VORBIS_READER;
    probe->converts = info.converts;
    return 0;
}

}  // namespace

int ProbeSoundFormat(SoundDataSource* source, int wantsOgg, SoundProbe* probe) {
    memset(probe, 0, sizeof(*probe));
    const PlatformSoundReader* claimed = FindClaimingReader(source);
    if (claimed != nullptr) {
        if (claimed == &OGG_VORBIS_READER && !wantsOgg) return -1;
        return OpenWith(claimed, source, probe);
    }
    for (const PlatformSoundReader* const* reader = PLATFORM.readers; *reader != nullptr; reader++) {
        if (!(*reader)->fallback || (*reader == &OGG_VORBIS_READER && !wantsOgg)) continue;
        if (OpenWith(*reader, source, probe) == 0) return 0;
    }
    return -1;
}

void FreeSoundProbe(SoundProbe* probe) {
    if (probe->reader != nullptr) probe->reader->Close(probe->file);
    memset(probe, 0, sizeof(*probe));
}

int IsKnownSoundFormat(SoundDataSource* source) { return FindClaimingReader(source) != nullptr; }

int DecodeSoundToPcm(SoundDataSource* source, DecodedSound* sound) {
    return DecodeSoundToPlace(source, nullptr, sound) == 0 ? 0 : -1;
}

int DecodeSoundToPlace(SoundDataSource* source, const PcmPlace* place, DecodedSound* sound) {
    memset(sound, 0, sizeof(*sound));
    SoundProbe probe;
    if (ProbeSoundFormat(source, 1, &probe) != 0) return -1;
    int result = probe.reader->Decode(probe.file, place, sound);
    int converts = probe.converts;
    FreeSoundProbe(&probe);
    if (result != 0) return -1;
    // A conversion lets the window have its messages; a close seen there
    // ends the load.
    if (converts && ProcessWindowMessages() != 0) {
        FreeDecodedSound(sound);
        return SOUND_DECODE_CANCELLED;
    }
    // A sound without a single frame cannot be played (nor given a buffer).
    if (sound->pcmBytes == 0 || sound->pcmBytes > MAX_PCM_BYTES || sound->pcmBytes % sound->format.blockAlign != 0) {
        FreeDecodedSound(sound);
        return -1;
    }
    return 0;
}
