// flac_reader.cpp: FLAC files, decoded with libFLAC from a copy in memory.
//
// The PCM keeps the file's precision in whole bytes: 8-bit (unsigned, as WAVE
// has it), 16, 24 or 32 bits, samples of other widths (12, 20 bits) moved to
// the top of their bytes. FLAC lays out 1 to 8 channels as WAVE does, so the
// channels keep their order and their speakers. An ID3v2 tag in front of the
// stream is passed over (the library does). Frames stand alone, so a long
// sound is decoded in two halves at once, a second decoder seeking to the
// middle; the halves give what one run gives.
#include <FLAC/stream_decoder.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/readers/reader_common.h"

namespace {

// PCM bytes a byte of FLAC may give before its stated length is not
// believed: a frame of digital silence (two constant subframes) holds 4096
// samples in about 20 bytes.
enum { FLAC_MAX_RATIO = 1024 };
enum { ID3V2_HEADER_BYTES = 10 };

struct FlacFile {
    uint8_t* bytes;        // the whole file (malloc)
    size_t size;
    WaveFormat format;     // of the PCM
    int bits;              // per sample in the file
    uint64_t frames;       // the stream states this many, 0 when it does not say
    uint8_t* record;       // the 18-byte record of the PCM (malloc)
};

FlacFile* AsFlac(SoundReaderFile* file) { return (FlacFile*)file; }

// One decoder over the file in memory, writing its frames into a block.
struct FlacRun {
    const FlacFile* file;
    MemorySoundStream stream;
    FLAC__StreamDecoder* decoder;
    int hasInfo;               // the stream info block was read
    unsigned channels, bits, rate;
    uint64_t frames;           // stated, 0 when unknown
    // Where the PCM goes: a growing output, or a fixed part of a block.
    PcmOutput* grow;
    uint8_t* part;
    uint32_t capacity, used;   // bytes
};

FLAC__StreamDecoderReadStatus ReadFlac(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* data) {
    MemorySoundStream* stream = &((FlacRun*)data)->stream;
    if (stream->position >= stream->size) {
        *bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    size_t take = stream->size - stream->position < *bytes ? stream->size - stream->position : *bytes;
    memcpy(buffer, stream->bytes + stream->position, take);
    stream->position += take;
    *bytes = take;
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus SeekFlac(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data) {
    MemorySoundStream* stream = &((FlacRun*)data)->stream;
    if (offset > stream->size) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    stream->position = (size_t)offset;
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus TellFlac(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
    *offset = ((FlacRun*)data)->stream.position;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus LengthFlac(const FLAC__StreamDecoder*, FLAC__uint64* length, void* data) {
    *length = ((FlacRun*)data)->stream.size;
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool IsFlacAtEnd(const FLAC__StreamDecoder*, void* data) {
    MemorySoundStream* stream = &((FlacRun*)data)->stream;
    return stream->position >= stream->size;
}

void TakeFlacMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* data) {
    FlacRun* run = (FlacRun*)data;
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    run->hasInfo = 1;
    run->channels = metadata->data.stream_info.channels;
    run->bits = metadata->data.stream_info.bits_per_sample;
    run->rate = metadata->data.stream_info.sample_rate;
    run->frames = metadata->data.stream_info.total_samples;
}

// Damaged frames are the library's to pass over; what it can decode stands.
void NoteFlacError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

// Interleaves count frames of the decoder's channels into out, in the PCM's
// sample width, the file's samples moved to the top of their bytes.
void InterleaveFlac(const FLAC__int32* const buffer[], uint32_t first, uint32_t count, int channels, int bits,
                    int bytesPerSample, uint8_t* out) {
    int shift = bytesPerSample * 8 - bits;
    if (bytesPerSample == 2 && channels == 2 && shift == 0) {
        int16_t* to = (int16_t*)out;
        const FLAC__int32* left = buffer[0] + first;
        const FLAC__int32* right = buffer[1] + first;
        for (uint32_t i = 0; i < count; i++) {
            to[2 * i] = (int16_t)left[i];
            to[2 * i + 1] = (int16_t)right[i];
        }
        return;
    }
    for (int c = 0; c < channels; c++) {
        const FLAC__int32* from = buffer[c] + first;
        uint8_t* to = out + c * bytesPerSample;
        size_t stride = (size_t)channels * bytesPerSample;
        for (uint32_t i = 0; i < count; i++, to += stride) {
            uint32_t v = (uint32_t)from[i] << shift;
            switch (bytesPerSample) {
                case 1: to[0] = (uint8_t)(v + 128); break;  // 8-bit PCM is unsigned
                case 2: memcpy(to, &v, 2); break;
                case 3: to[0] = (uint8_t)v, to[1] = (uint8_t)(v >> 8), to[2] = (uint8_t)(v >> 16); break;
                default: memcpy(to, &v, 4); break;
            }
        }
    }
}

FLAC__StreamDecoderWriteStatus WriteFlac(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const buffer[], void* data) {
    FlacRun* run = (FlacRun*)data;
    const WaveFormat* format = &run->file->format;
    // A frame of another layout than the stream's cannot be played with it.
    if (frame->header.channels != format->channels || frame->header.bits_per_sample != (unsigned)run->file->bits) {
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    uint32_t frameBytes = format->blockAlign;
    uint32_t want = frame->header.blocksize * frameBytes;
    uint32_t room = 0;
    uint8_t* to;
    if (run->grow != nullptr) {
        to = ReservePcmOutput(run->grow, want, &room);
    } else {
        room = run->capacity - run->used < want ? run->capacity - run->used : want;
        to = run->part + run->used;
    }
    uint32_t count = room / frameBytes;
    if (count > 0) {
        InterleaveFlac(buffer, 0, count, format->channels, run->file->bits, format->blockAlign / format->channels, to);
    }
    if (run->grow != nullptr) {
        run->grow->length += count * frameBytes;
    } else {
        run->used += count * frameBytes;
    }
    // The end of this run's part: the rest is not wanted.
    return count < frame->header.blocksize ? FLAC__STREAM_DECODER_WRITE_STATUS_ABORT
                                           : FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void CloseFlacRun(FlacRun* run) {
    if (run->decoder != nullptr) FLAC__stream_decoder_delete(run->decoder);
    run->decoder = nullptr;
}

// A decoder over the file, past its metadata. 0 or -1.
int OpenFlacRun(FlacRun* run, const FlacFile* file) {
    memset(run, 0, sizeof(*run));
    run->file = file;
    run->stream.bytes = file->bytes;
    run->stream.size = file->size;
    run->decoder = FLAC__stream_decoder_new();
    if (run->decoder == nullptr) return -1;
    if (FLAC__stream_decoder_init_stream(run->decoder, ReadFlac, SeekFlac, TellFlac, LengthFlac, IsFlacAtEnd,
                                         WriteFlac, TakeFlacMetadata, NoteFlacError,
                                         run) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
        !FLAC__stream_decoder_process_until_end_of_metadata(run->decoder) || !run->hasInfo) {
        CloseFlacRun(run);
        return -1;
    }
    return 0;
}

void RunFlac(FlacRun* run) { FLAC__stream_decoder_process_until_end_of_stream(run->decoder); }

// ---- The reader ----

// "fLaC", or an ID3v2 tag and then "fLaC".
int IsFlac(SoundDataSource* source) {
    uint8_t head[ID3V2_HEADER_BYTES];
    size_t got = ReadSourceBytes(source, head, ID3V2_HEADER_BYTES);
    if (got >= 4 && memcmp(head, "fLaC", 4) == 0) return 1;
    if (got < ID3V2_HEADER_BYTES || memcmp(head, "ID3", 3) != 0) return 0;
    long tag = (((long)(head[6] & 0x7F) * 128 + (head[7] & 0x7F)) * 128 + (head[8] & 0x7F)) * 128 + (head[9] & 0x7F);
    tag += ID3V2_HEADER_BYTES;
    if (head[3] == 4 && (head[5] & 0x10)) tag += ID3V2_HEADER_BYTES;  // footer
    uint8_t mark[4];
    return source->ops.Seek(source->handle, tag, SEEK_SET) == 0 && ReadSourceBytes(source, mark, 4) == 4 &&
           memcmp(mark, "fLaC", 4) == 0;
}

void CloseFlac(SoundReaderFile* file) {
    FlacFile* flac = AsFlac(file);
    if (flac == nullptr) return;
    free(flac->bytes);
    free(flac->record);
    free(flac);
}

int OpenFlac(SoundDataSource* source, SoundReaderFile** file, SoundReaderInfo* info) {
    FlacFile* flac = (FlacFile*)calloc(1, sizeof(FlacFile));
    if (flac == nullptr) return -1;
    flac->bytes = ReadWholeSource(source, &flac->size);
    FlacRun run;
    if (flac->bytes == nullptr || OpenFlacRun(&run, flac) != 0) {
        CloseFlac((SoundReaderFile*)flac);
        return -1;
    }
    CloseFlacRun(&run);
    flac->bits = (int)run.bits;
    flac->frames = run.frames;
    int bytesPerSample = ((int)run.bits + 7) / 8;
    if (run.channels < 1 || run.channels > 8 || run.bits < 4 || run.bits > 32 ||
        MakePcmFormat((int)run.channels, run.rate, bytesPerSample * 8, &flac->format) != 0 ||
        (flac->record = MakePcmRecord(&flac->format)) == nullptr) {
        CloseFlac((SoundReaderFile*)flac);
        return -1;
    }
    uint64_t stated = flac->frames * flac->format.blockAlign;
    info->record = flac->record;
    info->recordBytes = WAVE_FORMAT_RECORD_BYTES;
    info->statedBytes = stated > UINT32_MAX ? UINT32_MAX : (uint32_t)stated;
    info->converts = 1;
    *file = (SoundReaderFile*)flac;
    return 0;
}

int DecodeFlac(SoundReaderFile* file, const PcmPlace* place, DecodedSound* sound) {
    FlacFile* flac = AsFlac(file);
    memset(sound, 0, sizeof(*sound));
    uint32_t frameBytes = flac->format.blockAlign;
    PcmOutput out;
    FlacRun head;
    if (OpenFlacRun(&head, flac) != 0) return -1;
    if (StartPcmOutput(&out, place, &flac->format, flac->frames * frameBytes, flac->size, FLAC_MAX_RATIO) != 0) {
        CloseFlacRun(&head);
        return -1;
    }
    // A block of the whole stated length is decoded in two halves at once.
    uint64_t middle = flac->frames / 2;
    uint32_t from = (uint32_t)(middle * frameBytes);
    FlacRun tail;
    int split = 0;
    if (IsSoundDecodeSplitting() && out.capacity == out.limit && out.limit == flac->frames * frameBytes &&
        out.limit >= MIN_SPLIT_SECONDS * flac->format.averageBytesPerSecond && OpenFlacRun(&tail, flac) == 0) {
        tail.part = out.block + from;
        tail.capacity = out.limit - from;
        split = FLAC__stream_decoder_seek_absolute(tail.decoder, middle);
        if (!split) CloseFlacRun(&tail);
    }
    if (split) {
        CountSoundDecodeSplit();
        head.part = out.block;
        head.capacity = from;
        std::thread worker(RunFlac, &tail);
        RunFlac(&head);
        worker.join();
        CloseFlacRun(&tail);
        // A first half that ends early is where a whole run ends too.
        out.length = head.used < from ? head.used : from + tail.used;
    } else {
        head.grow = &out;
        RunFlac(&head);
    }
    CloseFlacRun(&head);
    return FinishPcmOutput(&out, sound);
}

}  // namespace

const PlatformSoundReader FLAC_READER = {
    "FLAC", IsFlac, 0, OpenFlac, DecodeFlac, CloseFlac,
};
