// opus_reader.cpp: Opus in Ogg, decoded with libopusfile.
//
// Opus always decodes at 48000 Hz: the PCM is 16-bit at that rate, whatever
// rate the encoder was given. The library honours the pre-skip and the end
// the last page's position gives, so a looped file has no gap at its seam.
// Samples come as floats and are rounded to 16 bits here (full scale 32768,
// clipped), without the library's dither, so that a decode is the same on
// every run. Channels come out in WAVE order. The sound ends where a link of
// another channel count begins. A long sound is decoded in two halves at
// once; since Opus decoders carry state from packet to packet, the second
// half's decoder starts early and the halves must agree where they meet.
#include <opus/opusfile.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/readers/reader_common.h"

namespace {

enum { OPUS_RATE = 48000 };
// Samples per channel asked of the library at a time: 120 ms, its largest packet.
enum { OPUS_READ_FRAMES = 5760 };
// A split decode: how early the second decoder starts, and how long the two
// are compared past the middle (a decoder started 1 s early has been seen
// to give a decode from the start's samples exactly; 80 ms, the library's
// own seeking margin, does not).
enum { OPUS_SPLIT_PREROLL_MS = 2000, OPUS_SPLIT_CHECK_MS = 500 };
int SPLIT_PREROLL_MS = OPUS_SPLIT_PREROLL_MS;
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

// 16-bit PCM of frames of float samples (full scale 32768, rounded and
// clipped), in WAVE order.
void ConvertOpusFloats(const float* samples, uint32_t frames, int channels, int vorbisOrder, uint8_t* to) {
    int16_t* pcm = (int16_t*)to;
    for (uint32_t i = 0; i < frames * (uint32_t)channels; i++) {
        float v = samples[i] * 32768.0f;
        pcm[i] = v >= 32767.0f ? 32767 : v <= -32768.0f ? -32768 : (int16_t)lrintf(v);
    }
    if (vorbisOrder) ReorderVorbisChannels(to, frames * 2u * (uint32_t)channels, channels);
}

// One decoder's run into a part of a block: it drops `skip` frames first,
// then fills its part. Beside its part it keeps checkFrames frames as the
// decoder gave them: the head those that follow its part, the tail its
// first ones. Stops at the end of the sound, at a link of another channel
// count, or on damage that fails the load (result -1: a hole, a link that
// cannot be found again).
struct OpusRun {
    OggOpusFile* opus;
    int channels, vorbisOrder;
    int64_t skip;              // frames
    uint8_t* part;
    uint32_t capacity, used;   // bytes
    float* check;
    int64_t checkFrames, checked;
    int checkAfterPart;        // the head: the frames after its part are kept (all of the last read)
    int result;
};

void RunOpus(OpusRun* run) {
    int channels = run->channels;
    uint32_t frameBytes = 2u * (uint32_t)channels;
    float* samples = (float*)malloc(sizeof(float) * OPUS_READ_FRAMES * (size_t)channels);
    run->result = samples != nullptr ? 0 : -1;
    while (samples != nullptr) {
        int link = 0;
        int got = op_read_float(run->opus, samples, OPUS_READ_FRAMES * channels, &link);
        if (got == OP_HOLE || got == OP_EBADLINK) {
            run->result = -1;
            break;
        }
        if (got <= 0 || op_channel_count(run->opus, link) != channels) break;
        int64_t at = run->skip < got ? run->skip : got;
        run->skip -= at;
        int64_t frames = got - at;
        const float* from = samples + at * channels;
        if (!run->checkAfterPart && run->checked < run->checkFrames) {
            int64_t keep = run->checkFrames - run->checked < frames ? run->checkFrames - run->checked : frames;
            memcpy(run->check + run->checked * channels, from, sizeof(float) * keep * channels);
            run->checked += keep;
        }
        int64_t room = (run->capacity - run->used) / frameBytes;
        int64_t count = frames < room ? frames : room;
        ConvertOpusFloats(from, (uint32_t)count, channels, run->vorbisOrder, run->part + run->used);
        run->used += (uint32_t)count * frameBytes;
        // The head keeps the whole read, so that it can go on from there.
        if (run->checkAfterPart && count < frames) {
            memcpy(run->check + run->checked * channels, from + count * channels, sizeof(float) * (frames - count) * channels);
            run->checked += frames - count;
        }
        if (run->used == run->capacity && (!run->checkAfterPart || run->checked >= run->checkFrames)) break;
    }
    free(samples);
}

// A decode in two halves at once into the whole block (its stated length).
// Opus decoders carry state from packet to packet, so the second decoder
// starts two seconds before the middle and drops them, by which time it
// gives what a decoder from the start gives; the head decodes half a second
// past the middle, and unless the two agree sample for sample there, the
// head decodes the rest itself. 0 with the length, 1 when the sound cannot be
// split, -1 on damage.
int DecodeOpusInHalves(OpusFile* opus, PcmOutput* out) {
    uint32_t frameBytes = opus->format.blockAlign;
    int64_t frames = out->limit / frameBytes;
    int64_t middle = frames / 2;
    int64_t preroll = (int64_t)OPUS_RATE * SPLIT_PREROLL_MS / 1000;
    int64_t checkFrames = (int64_t)OPUS_RATE * OPUS_SPLIT_CHECK_MS / 1000;
    if (middle < preroll || frames - middle < checkFrames) return 1;
    // The head's frames past the middle (up to a read more than it compares),
    // then the tail's first ones.
    size_t checkBytes = sizeof(float) * (size_t)checkFrames * opus->channels;
    size_t headBytes = checkBytes + sizeof(float) * OPUS_READ_FRAMES * opus->channels;
    float* checks = (float*)malloc(headBytes + checkBytes);
    int error = 0;
    OggOpusFile* second = checks != nullptr ? op_open_memory(opus->bytes, opus->size, &error) : nullptr;
    if (second == nullptr || op_pcm_seek(second, middle - preroll) != 0) {
        if (second != nullptr) op_free(second);
        free(checks);
        return 1;
    }
    CountSoundDecodeSplit();
    uint32_t from = (uint32_t)(middle * frameBytes);
    OpusRun head = {opus->opus, opus->channels, opus->vorbisOrder, 0, out->block, from, 0, checks, checkFrames, 0, 1, 0};
    OpusRun tail = {second,          opus->channels, opus->vorbisOrder, preroll,
                    out->block + from, out->limit - from, 0, checks + headBytes / sizeof(float),
                    checkFrames,       0,                 0, 0};
    std::thread worker(RunOpus, &tail);
    RunOpus(&head);
    worker.join();
    op_free(second);
    int result = 0;
    if (head.result != 0) {
        result = -1;
    } else if (head.used < from) {
        // A first half that ends early is where a whole decode ends too.
        out->length = head.used;
    } else if (head.checked >= checkFrames && tail.checked == checkFrames &&
               memcmp(head.check, tail.check, checkBytes) == 0) {
        if (tail.result != 0) result = -1;
        out->length = from + tail.used;
    } else {
        // The halves do not meet: the head goes on from the middle.
        uint32_t kept = (uint32_t)head.checked * frameBytes;
        if (kept > out->limit - from) kept = out->limit - from;
        ConvertOpusFloats(head.check, kept / frameBytes, opus->channels, opus->vorbisOrder, out->block + from);
        OpusRun rest = {opus->opus, opus->channels, opus->vorbisOrder, 0, out->block + from + kept,
                        out->limit - from - kept, 0, nullptr, 0, 0, 0, 0};
        if (head.checked >= checkFrames && kept < out->limit - from) RunOpus(&rest);
        result = rest.result;
        out->length = from + kept + rest.used;
    }
    free(checks);
    return result;
}

int DecodeOpus(SoundReaderFile* file, const PcmPlace* place, DecodedSound* sound) {
    OpusFile* opus = AsOpus(file);
    memset(sound, 0, sizeof(*sound));
    int channels = opus->channels;
    PcmOutput out;
    if (StartPcmOutput(&out, place, &opus->format, opus->statedBytes, opus->size, OPUS_MAX_RATIO) != 0) return -1;
    // A block of the whole stated length may be decoded in two halves.
    int result = 1;
    if (IsSoundDecodeSplitting() && out.capacity == out.limit && out.limit == opus->statedBytes &&
        out.limit >= MIN_SPLIT_SECONDS * opus->format.averageBytesPerSecond) {
        result = DecodeOpusInHalves(opus, &out);
    }
    float* samples = result == 1 ? (float*)malloc(sizeof(float) * OPUS_READ_FRAMES * (size_t)channels) : nullptr;
    while (samples != nullptr) {
        result = 0;
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
        ConvertOpusFloats(samples, room / opus->format.blockAlign, channels, opus->vorbisOrder, to);
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

void SetOpusSplitPreroll(int milliseconds) {
    SPLIT_PREROLL_MS = milliseconds >= 0 ? milliseconds : OPUS_SPLIT_PREROLL_MS;
}

const PlatformSoundReader OGG_OPUS_READER = {
    "Ogg Opus", IsOpus, 0, OpenOpus, DecodeOpus, CloseOpus,
};
