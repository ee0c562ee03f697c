// opus_reader.cpp: Opus in Ogg, decoded with libopusfile.
//
// Opus always decodes at 48000 Hz: the PCM is 16-bit at that rate, whatever
// rate the encoder was given. The library honours the pre-skip and the end
// the last page's position gives, so a looped file has no gap at its seam.
// Samples come as floats and are rounded to 16 bits here (full scale 32768,
// clipped), without the library's dither, so that a decode is the same on
// every run. Channels come out in WAVE order. The sound ends where a link of
// another channel count begins. Opus decoders carry state from packet to
// packet, so a decode started in the middle would not give the same samples:
// the decode runs on one thread.
#include <opus/opusfile.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/readers/reader_common.h"

namespace {

enum { OPUS_RATE = 48000 };
// Samples per channel asked of the library at a time: 120 ms, its largest packet.
enum { OPUS_READ_FRAMES = 5760 };
// PCM bytes a byte of Opus file may give before its stated length is not
// believed: 6 kbit/s stereo (the least a music encoder uses) gives 256.
enum { OPUS_MAX_RATIO = 256 };

struct OpusFile {
    uint8_t* bytes;        // the whole file (malloc)
    size_t size;
    OggOpusFile* opus;
    int channels;
    int vorbisOrder;       // the channels are laid out as Vorbis lays them out
    uint8_t* record;       // the 18-byte record of the PCM (malloc)
    uint64_t statedBytes;  // the stream's length in PCM bytes, 0 when unknown
    WaveFormat format;
};

OpusFile* AsOpus(SoundReaderFile* file) { return (OpusFile*)file; }

// "OggS", then a first packet that begins "OpusHead".
int IsOpus(SoundDataSource* source) {
    uint8_t head[27 + 255 + 8];
    size_t got = ReadSourceBytes(source, head, sizeof head);
    if (got < 27 || memcmp(head, "OggS", 4) != 0) return 0;
    size_t packet = 27 + (size_t)head[26];
    return got >= packet + 8 && memcmp(head + packet, "OpusHead", 8) == 0;
}

void CloseOpus(SoundReaderFile* file) {
    OpusFile* opus = AsOpus(file);
    if (opus == nullptr) return;
    if (opus->opus != nullptr) op_free(opus->opus);
    free(opus->bytes);
    free(opus->record);
    free(opus);
}

int OpenOpus(SoundDataSource* source, SoundReaderFile** file, SoundReaderInfo* info) {
    OpusFile* opus = (OpusFile*)calloc(1, sizeof(OpusFile));
    if (opus == nullptr) return -1;
    int error = 0;
    opus->bytes = ReadWholeSource(source, &opus->size);
    if (opus->bytes != nullptr) opus->opus = op_open_memory(opus->bytes, opus->size, &error);
    if (opus->opus == nullptr) {
        CloseOpus((SoundReaderFile*)opus);
        return -1;
    }
    opus->channels = op_channel_count(opus->opus, -1);
    // Mapping family 1 is Vorbis's order; family 0 is mono or stereo, and
    // the others name no speakers.
    opus->vorbisOrder = op_head(opus->opus, -1)->mapping_family == 1;
    ogg_int64_t frames = op_pcm_total(opus->opus, -1);
    if (MakePcmFormat(opus->channels, OPUS_RATE, 16, &opus->format) != 0 ||
        (opus->record = MakePcmRecord(&opus->format)) == nullptr) {
        CloseOpus((SoundReaderFile*)opus);
        return -1;
    }
    opus->statedBytes = frames > 0 ? (uint64_t)frames * opus->format.blockAlign : 0;
    info->record = opus->record;
    info->recordBytes = WAVE_FORMAT_RECORD_BYTES;
    info->statedBytes = opus->statedBytes > UINT32_MAX ? UINT32_MAX : (uint32_t)opus->statedBytes;
    info->converts = 1;
    *file = (SoundReaderFile*)opus;
    return 0;
}

int DecodeOpus(SoundReaderFile* file, const PcmPlace* place, DecodedSound* sound) {
    OpusFile* opus = AsOpus(file);
    memset(sound, 0, sizeof(*sound));
    int channels = opus->channels;
    float* samples = (float*)malloc(sizeof(float) * OPUS_READ_FRAMES * (size_t)channels);
    PcmOutput out;
    if (samples == nullptr ||
        StartPcmOutput(&out, place, &opus->format, opus->statedBytes, opus->size, OPUS_MAX_RATIO) != 0) {
        free(samples);
        return -1;
    }
    int result = 0;
    for (;;) {
        int link = 0;
        int got = op_read_float(opus->opus, samples, OPUS_READ_FRAMES * channels, &link);
        // A hole or a link that cannot be found again: damage that fails
        // the load, as in Vorbis. Other errors end the sound where it stands.
        if (got == OP_HOLE || got == OP_EBADLINK) {
            result = -1;
            break;
        }
        if (got <= 0 || op_channel_count(opus->opus, link) != channels) break;
        uint32_t room = 0;
        uint8_t* to = ReservePcmOutput(&out, (uint32_t)got * opus->format.blockAlign, &room);
        if (to == nullptr) break;
        uint32_t count = room / 2;
        int16_t* pcm = (int16_t*)to;
        for (uint32_t i = 0; i < count; i++) {
            float v = samples[i] * 32768.0f;
            pcm[i] = v >= 32767.0f ? 32767 : v <= -32768.0f ? -32768 : (int16_t)lrintf(v);
        }
        if (opus->vorbisOrder) ReorderVorbisChannels(to, room, channels);
        out.length += room;
    }
    free(samples);
    if (result != 0) {
        AbandonPcmOutput(&out);
        return -1;
    }
    return FinishPcmOutput(&out, sound);
}

}  // namespace

const PlatformSoundReader OGG_OPUS_READER = {
    "Ogg Opus", IsOpus, 0, OpenOpus, DecodeOpus, CloseOpus,
};
