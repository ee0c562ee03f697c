// mpeg_reader.cpp: MPEG audio (MP3, and layers I and II), alone or in a WAVE
// file.
//
// Recognition walks the frames: an ID3v2 tag at the start is skipped (with
// the v2.4 footer), the walk stops before an ID3v1 trailer, passes over junk
// by searching for the 12-bit sync, and fails the file on any invalid frame
// header. The first frame gives the stream's channels and rate.
//
// Decoding is libmpg123's, with gapless decoding on, so that a looped MP3 has
// no encoder-delay gap at its loop point; 16-bit PCM in the first frame's
// channel count (the decoder mixes or doubles channels of frames that
// differ) and rate (a change of rate ends the sound). The decoder's own scan
// of the frames gives the PCM's length, so that the PCM can be decoded where
// it is to stay; a long sound is decoded in two halves at once, the second
// decoder starting at the frame after the middle.
#include <mpg123.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>
#include <thread>

#include "platform/byte_order.h"
#include "platform/mpeg_frames.h"
#include "platform/readers/reader_common.h"

namespace {

enum { SYNC_SEARCH_BYTES = 4096, ID3V1_BYTES = 128, ID3V2_HEADER_BYTES = 10, MPEG_FORMAT_RECORD_BYTES = 30 };

// Decoder calls in a row without output before a decode gives up.
enum { MPEG_IDLE_CALLS = 64 };

// Frames decoded and thrown away before a point a decoder starts at, so that
// the bit reservoir and the filter banks hold what they would have held
// there in a decode from the start.
enum { MPEG_LEAD_IN_FRAMES = 8 };

// The most samples a byte of MPEG audio can give (MPEG-2 layer II, 8 kbit/s
// at 24000 Hz: 1152 samples in 48 bytes): bounds the PCM whatever length the
// decoder tells.
enum { MPEG_MAX_SAMPLES_PER_BYTE = 24 };

// ---- The frame walk ----

struct FrameHeader {
    int mpeg1;         // 1: MPEG-1, 0: MPEG-2 (lower sampling frequencies)
    int layer;         // 1..3 = layer I..III
    int bitrateIndex;  // 0..15
    int rateIndex;     // 0..3
    int padding;       // 0 or 1
    int channelMode;   // 3 = single channel
};

void ParseHeader(const uint8_t* bytes, FrameHeader* header) {
    header->mpeg1 = (bytes[1] & 0x08) ? 1 : 0;
    int layerBits = (bytes[1] >> 1) & 3;
    header->layer = layerBits == 0 ? 0 : 4 - layerBits;
    header->bitrateIndex = bytes[2] >> 4;
    header->rateIndex = (bytes[2] >> 2) & 3;
    header->padding = (bytes[2] >> 1) & 1;
    header->channelMode = bytes[3] >> 6;
}

int GetBitrate(const FrameHeader* h) { return GetMpegBitrate(h->mpeg1, h->layer, h->bitrateIndex); }
int GetRate(const FrameHeader* h) {
    return GetMpegSampleRate(h->mpeg1 ? MPEG_VERSION_1 : MPEG_VERSION_2, h->rateIndex);
}

int GetHeaderFrameLength(const FrameHeader* h) {
    return GetMpegFrameLength(h->mpeg1, h->layer, h->bitrateIndex, h->rateIndex, h->padding);
}

// Finds the next sync at or after *position and before end: a 0xFF byte
// followed by a byte with its top four bits set. The byte after a 0xFF that
// is not a sync is passed over with it. On success *position is the 0xFF's
// offset and header holds the four header bytes (fewer than four before the
// end: no sync). 0 found, -1 none.
int FindSync(SoundDataSource* source, long* position, long end, uint8_t header[4]) {
    uint8_t buffer[SYNC_SEARCH_BYTES];
    long at = *position;
    // A frame usually starts right here: look at its four bytes first.
    long chunk = 4;
    while (at < end) {
        if (source->ops.Seek(source->handle, at, SEEK_SET) != 0) return -1;
        long want = end - at < chunk ? end - at : chunk;
        chunk = SYNC_SEARCH_BYTES;
        size_t got = source->ops.Read(buffer, 1, (size_t)want, source->handle);
        if (got == 0) return -1;
        size_t i = 0;
        while (i < got) {
            if (buffer[i] != 0xFF) {
                i++;
                continue;
            }
            if (i + 1 >= got) break;  // read the pair again from here
            if ((buffer[i + 1] & 0xF0) != 0xF0) {
                i += 2;
                continue;
            }
            // A sync; its two further header bytes must lie before the end.
            if (i + 4 > got) {
                if (at + (long)i + 4 > end) return -1;
                break;
            }
            memcpy(header, buffer + i, 4);
            *position = at + (long)i;
            return 0;
        }
        if (i == 0) return -1;  // the source ends inside this header
        at += (long)i;
    }
    return -1;
}

// What the walk found: the first frame, where it starts, and the file's size.
struct MpegStream {
    FrameHeader first;
    int firstLength;    // bytes
    long firstFrame;    // offset
    long fileSize;      // bytes
};

// Walks every frame header from the audio start to the end (all must be
// valid); the first frame describes the stream. The source is left at the
// first frame's header. 0 or -1.
int WalkMpegFrames(SoundDataSource* source, MpegStream* stream) {
    void* file = source->handle;
    if (source->ops.Seek(file, 0, SEEK_END) != 0) return -1;
    long fileSize = source->ops.Tell(file);
    if (fileSize <= 0 || source->ops.Seek(file, 0, SEEK_SET) != 0) return -1;

    // ID3v2 tag: ten header bytes, a size in four bytes of seven bits each.
    long audioStart = 0;
    uint8_t tag[ID3V2_HEADER_BYTES];
    if (source->ops.Read(tag, 1, ID3V2_HEADER_BYTES, file) == ID3V2_HEADER_BYTES && memcmp(tag, "ID3", 3) == 0) {
        audioStart = (((long)tag[6] * 128 + tag[7]) * 128 + tag[8]) * 128 + tag[9] + ID3V2_HEADER_BYTES;
        if (tag[3] == 4 && (tag[5] & 0x10)) audioStart += ID3V2_HEADER_BYTES;  // footer
    }

    // ID3v1 trailer: the last 128 bytes begin with "TAG".
    long trailerBytes = 0;
    if (fileSize > ID3V1_BYTES) {
        uint8_t mark[3];
        if (source->ops.Seek(file, fileSize - ID3V1_BYTES, SEEK_SET) == 0 && source->ops.Read(mark, 1, 3, file) == 3 &&
            memcmp(mark, "TAG", 3) == 0) {
            trailerBytes = ID3V1_BYTES;
        }
    }
    // Frames end where the trailer begins; nothing in it is read as a frame.
    long audioEnd = fileSize - trailerBytes;

    long position = audioStart;
    uint8_t bytes[4];
    FrameHeader header;
    while (FindSync(source, &position, audioEnd, bytes) == 0) {
        ParseHeader(bytes, &header);
        if (header.layer == 0 || header.bitrateIndex == 15 || header.rateIndex == 3) return -1;
        int length = GetHeaderFrameLength(&header);
        // Free format (bitrate index 0) gives no length: the walk could not
        // move on, and the decoder is not given such a stream.
        if (length <= 0) return -1;
        position += length;
        if (position >= audioEnd) break;
    }

    position = audioStart;
    if (FindSync(source, &position, audioEnd, bytes) != 0) return -1;
    ParseHeader(bytes, &stream->first);
    stream->firstLength = GetHeaderFrameLength(&stream->first);
    if (stream->firstLength <= 0 || source->ops.Seek(file, position, SEEK_SET) != 0) return -1;
    stream->firstFrame = position;
    stream->fileSize = fileSize;
    return 0;
}

// The 30-byte MPEG Layer 3 record of the stream's first frame (malloc).
uint8_t* MakeMpegRecord(const MpegStream* stream) {
    uint8_t* record = (uint8_t*)calloc(1, MPEG_FORMAT_RECORD_BYTES);
    if (record == nullptr) return nullptr;
    const FrameHeader* header = &stream->first;
    WriteU16(record + 0, 0x55);
    WriteU16(record + 2, header->channelMode == 3 ? 1 : 2);
    WriteU32(record + 4, (uint32_t)GetRate(header));
    WriteU32(record + 8, (uint32_t)GetBitrate(header) * 125);
    WriteU16(record + 12, 1);   // block align
    WriteU16(record + 14, 0);   // bits per sample
    WriteU16(record + 16, 12);  // extra size
    WriteU16(record + 18, 1);   // ID: MPEG
    WriteU32(record + 20, 0);   // flags
    WriteU16(record + 24, (uint32_t)stream->firstLength + 4);  // block size
    WriteU16(record + 26, 1);     // frames per block
    WriteU16(record + 28, 1393);  // codec delay
    return record;
}

// ---- libmpg123 over a block in memory ----

struct MpegRun {
    mpg123_handle* mpeg;
    const uint8_t* block;
    uint32_t bytes;
    int64_t position;         // bytes into the block
    int channels;
    long rate;                // Hz
    uint8_t* scratch;         // one frame of output that may not fit the room left
    size_t scratchBytes;
    // One run's work: PCM into out, at most capacity bytes.
    uint8_t* out;
    uint32_t capacity;
    uint32_t used;
};

ssize_t ReadMpegBlock(void* handle, void* buffer, size_t bytes) {
    MpegRun* run = (MpegRun*)handle;
    int64_t left = (int64_t)run->bytes - run->position;
    if (left <= 0) return 0;
    if ((int64_t)bytes > left) bytes = (size_t)left;
    memcpy(buffer, run->block + run->position, bytes);
    run->position += (int64_t)bytes;
    return (ssize_t)bytes;
}

off_t SeekMpegBlock(void* handle, off_t offset, int origin) {
    MpegRun* run = (MpegRun*)handle;
    int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? run->position : run->bytes;
    int64_t target = base + (int64_t)offset;
    // Like a file: any position from 0 on, past the end too.
    if (target < 0) return -1;
    run->position = target;
    return (off_t)target;
}

void CloseMpegRun(MpegRun* run) {
    if (run->mpeg != nullptr) {
        mpg123_close(run->mpeg);
        mpg123_delete(run->mpeg);
    }
    free(run->scratch);
    run->mpeg = nullptr;
    run->scratch = nullptr;
}

// A decoder over the block, at its start. 0 or -1.
int OpenMpegRun(MpegRun* run, const uint8_t* block, uint32_t bytes, int channels, long rate) {
    static int initialised = 0;
    // Needed once by libraries older than 1.27; harmless after.
    if (!initialised) {
        if (mpg123_init() != MPG123_OK) return -1;
        initialised = 1;
    }
    memset(run, 0, sizeof(*run));
    run->block = block;
    run->bytes = bytes;
    run->channels = channels;
    run->rate = rate;
    int error = 0;
    run->mpeg = mpg123_new(nullptr, &error);
    if (run->mpeg == nullptr) return -1;
    mpg123_param(run->mpeg, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_param(run->mpeg, MPG123_PREFRAMES, MPEG_LEAD_IN_FRAMES, 0.0);
    // 16-bit output in the stream's channel count at any rate the decoder
    // knows. Allowing a single rate makes the decoder resample, and its
    // resampler can hang on damaged streams; a change of rate ends the
    // decode instead.
    mpg123_format_none(run->mpeg);
    int layout = channels == 1 ? MPG123_MONO : MPG123_STEREO;
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; i++) mpg123_format(run->mpeg, rates[i], layout, MPG123_ENC_SIGNED_16);
    if (mpg123_replace_reader_handle(run->mpeg, ReadMpegBlock, SeekMpegBlock, nullptr) != MPG123_OK ||
        mpg123_open_handle(run->mpeg, run) != MPG123_OK) {
        CloseMpegRun(run);
        return -1;
    }
    return 0;
}

// Each frame is decoded straight into the output (the decoder's buffer is
// pointed at the place it goes); only a frame that may not fit the room left
// goes through a scratch buffer, and what does not fit is cut.
void RunMpeg(MpegRun* run) {
    run->used = 0;
    size_t frameBytes = mpg123_outblock(run->mpeg);
    if (frameBytes == 0) return;
    if (run->scratchBytes < frameBytes) {
        free(run->scratch);
        run->scratch = (uint8_t*)malloc(frameBytes);
        run->scratchBytes = run->scratch != nullptr ? frameBytes : 0;
        if (run->scratch == nullptr) return;
    }
    uint32_t filled = 0;
    int idle = 0;  // calls in a row that gave nothing
    while (filled < run->capacity && idle < MPEG_IDLE_CALLS) {
        uint8_t* place = run->out + filled;
        int direct = run->capacity - filled >= frameBytes;
        if (mpg123_replace_buffer(run->mpeg, direct ? place : run->scratch,
                                  direct ? run->capacity - filled : run->scratchBytes) != MPG123_OK) {
            break;
        }
        unsigned char* audio = nullptr;
        size_t done = 0;
        off_t frame = 0;
        int result = mpg123_decode_frame(run->mpeg, &frame, &audio, &done);
        if (done > run->capacity - filled) done = run->capacity - filled;
        if (done > 0 && audio != place) memmove(place, audio, done);
        filled += (uint32_t)done;
        idle = done > 0 ? 0 : idle + 1;
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channelCount = 0, encoding = 0;
            mpg123_getformat(run->mpeg, &rate, &channelCount, &encoding);
            if (rate != run->rate || channelCount != run->channels || encoding != MPG123_ENC_SIGNED_16) break;
            continue;
        }
        // Done, or a stream that cannot go on: what was decoded stands.
        if (result != MPG123_OK) break;
    }
    run->used = filled;
}

// Where the frame after the middle of the stream starts in the head's PCM
// (bytes; a frame's first byte, so a decode stopped there can go on), by the
// head's scan. 0, or -1 when the stream is too short to split.
int FindMpegMiddle(MpegRun* head, uint32_t capacity, off_t* frame, uint32_t* from) {
    off_t frames = mpg123_framelength(head->mpeg);
    if (frames < 2 * MPEG_LEAD_IN_FRAMES || mpg123_seek_frame(head->mpeg, frames / 2, SEEK_SET) < 0) return -1;
    off_t sample = mpg123_tell(head->mpeg);
    uint64_t at = (uint64_t)(sample > 0 ? sample : 0) * head->channels * 2;
    if (at == 0 || at >= capacity) return -1;
    *frame = frames / 2;
    *from = (uint32_t)at;
    return 0;
}

// The second half, on a thread of its own: a decoder of its own scans the
// stream (so that it knows the stream's real end, as the head does), goes to
// the middle frame and decodes from there. started stays 0 when it cannot
// start where the head stops.
struct MpegTail {
    MpegRun run;
    off_t frame;
    uint32_t from;
    int started;
};

void RunMpegTail(MpegTail* tail) {
    MpegRun* run = &tail->run;
    if (mpg123_scan(run->mpeg) != MPG123_OK || mpg123_seek_frame(run->mpeg, tail->frame, SEEK_SET) < 0 ||
        (uint64_t)mpg123_tell(run->mpeg) * run->channels * 2 != tail->from) {
        return;
    }
    tail->started = 1;
    RunMpeg(run);
}

// ---- The reader ----

struct MpegFile {
    SoundDataSource* source;
    MpegStream stream;
    uint8_t* record;  // the 30-byte record (malloc)
};

MpegFile* AsMpeg(SoundReaderFile* file) { return (MpegFile*)file; }

// ID3v2 in front, or a frame's sync (11 bits: MPEG-2.5 too) at the start.
int IsMpeg(SoundDataSource* source) {
    uint8_t head[3];
    size_t got = ReadSourceBytes(source, head, 3);
    if (got >= 3 && memcmp(head, "ID3", 3) == 0) return 1;
    return got >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;
}

void CloseMpeg(SoundReaderFile* file) {
    MpegFile* mpeg = AsMpeg(file);
    if (mpeg == nullptr) return;
    free(mpeg->record);
    free(mpeg);
}

int OpenMpeg(SoundDataSource* source, SoundReaderFile** file, SoundReaderInfo* info) {
    MpegFile* mpeg = (MpegFile*)calloc(1, sizeof(MpegFile));
    if (mpeg == nullptr) return -1;
    mpeg->source = source;
    if (WalkMpegFrames(source, &mpeg->stream) != 0 || (mpeg->record = MakeMpegRecord(&mpeg->stream)) == nullptr) {
        CloseMpeg((SoundReaderFile*)mpeg);
        return -1;
    }
    info->record = mpeg->record;
    info->recordBytes = MPEG_FORMAT_RECORD_BYTES;
    info->statedBytes = (uint64_t)mpeg->stream.fileSize > UINT32_MAX ? UINT32_MAX : (uint32_t)mpeg->stream.fileSize;
    info->converts = 1;
    *file = (SoundReaderFile*)mpeg;
    return 0;
}

int DecodeMpeg(SoundReaderFile* file, const PcmPlace* place, DecodedSound* sound) {
    MpegFile* mpeg = AsMpeg(file);
    SoundDataSource* source = mpeg->source;
    memset(sound, 0, sizeof(*sound));
    // The data runs from the first frame to the end of the file.
    if (source->ops.Seek(source->handle, mpeg->stream.firstFrame, SEEK_SET) != 0) return -1;
    long left = GetBytesLeft(source);
    if (left <= 0) return -1;
    uint32_t want = (uint64_t)left > UINT32_MAX ? UINT32_MAX : (uint32_t)left;
    WaveFormat format;
    if (MakePcmFormat(mpeg->stream.first.channelMode == 3 ? 1 : 2, (uint32_t)GetRate(&mpeg->stream.first), 16,
                      &format) != 0) {
        return -1;
    }
    uint8_t* block = (uint8_t*)AllocateWriteOnceBlock(want);
    if (block == nullptr) return -1;
    uint32_t got = (uint32_t)ReadSourceBytes(source, block, want);
    int result = DecodeMpegBlock(block, got, &format, place, sound);
    free(block);
    return result;
}

}  // namespace

int DecodeMpegBlock(const uint8_t* block, uint32_t bytes, const WaveFormat* format, const PcmPlace* place,
                    DecodedSound* sound) {
    memset(sound, 0, sizeof(*sound));
    MpegRun head;
    if (OpenMpegRun(&head, block, bytes, format->channels, (long)format->samplesPerSecond) != 0) return -1;
    uint32_t frameBytes = format->blockAlign;
    // The decoder's own count of the whole stream (the gapless trims taken
    // off) is what it gives: with it the PCM can be decoded where it is to
    // stay. The count may come from a tag the file wrote, so it is believed
    // only as far as the block could hold frames.
    uint64_t most = (uint64_t)bytes * MPEG_MAX_SAMPLES_PER_BYTE;
    uint64_t frames = most;
    int known = 0;
    if (mpg123_scan(head.mpeg) == MPG123_OK) {
        off_t length = mpg123_length(head.mpeg);
        known = length > 0;
        if (known && (uint64_t)length < most) frames = (uint64_t)length;
    }
    uint64_t total = frames * frameBytes;
    if (total > MAX_PCM_BYTES) total = MAX_PCM_BYTES - MAX_PCM_BYTES % frameBytes;
    uint32_t capacity = (uint32_t)total;
    uint8_t* out = nullptr;
    if (capacity == 0) {
        CloseMpegRun(&head);
        return -1;
    }
    if (known && place != nullptr) out = place->Reserve(place->context, format, capacity);
    sound->placed = out != nullptr;
    if (out == nullptr) out = (uint8_t*)AllocateWriteOnceBlock(capacity);
    if (out == nullptr) {
        CloseMpegRun(&head);
        return -1;
    }
    uint32_t used = 0;
    MpegTail tail = {};
    int split = known && IsSoundDecodeSplitting() && capacity >= MIN_SPLIT_SECONDS * format->averageBytesPerSecond &&
                FindMpegMiddle(&head, capacity, &tail.frame, &tail.from) == 0 &&
                OpenMpegRun(&tail.run, block, bytes, format->channels, (long)format->samplesPerSecond) == 0;
    // The scan left the decoder at the end: it starts afresh at the first frame.
    mpg123_close(head.mpeg);
    head.position = 0;
    if (mpg123_open_handle(head.mpeg, &head) != MPG123_OK) {
        if (split) CloseMpegRun(&tail.run);
        CloseMpegRun(&head);
        if (!sound->placed) free(out);
        sound->placed = 0;
        return -1;
    }
    head.out = out;
    if (split) {
        CountSoundDecodeSplit();
        head.capacity = tail.from;
        tail.run.out = out + tail.from;
        tail.run.capacity = capacity - tail.from;
        std::thread worker(RunMpegTail, &tail);
        RunMpeg(&head);
        worker.join();
        CloseMpegRun(&tail.run);
        used = head.used;
        // A first half that ends early is where a whole decode ends too; a
        // second half that could not start is decoded on here.
        if (used == tail.from && tail.started) {
            used += tail.run.used;
        } else if (used == tail.from) {
            head.out = out + used;
            head.capacity = capacity - used;
            RunMpeg(&head);
            used += head.used;
        }
    } else {
        head.capacity = capacity;
        RunMpeg(&head);
        used = head.used;
    }
    CloseMpegRun(&head);
    sound->pcm = out;
    sound->pcmBytes = used - used % frameBytes;
    sound->format = *format;
    return 0;
}

int GetMpegFrameLength(int mpeg1, int layer, int bitrateIndex, int rateIndex, int padding) {
    if (layer < 1 || layer > 3 || bitrateIndex < 1 || bitrateIndex > 14 || rateIndex < 0 || rateIndex > 2) {
        return 0;
    }
    FrameHeader h = {mpeg1, layer, bitrateIndex, rateIndex, padding, 0};
    return ComputeMpegFrameLength(mpeg1, layer, GetBitrate(&h), GetRate(&h), padding);
}

int ProbeMp3Stream(SoundDataSource* source, uint8_t** format, uint32_t* formatBytes, uint32_t* dataBytes) {
    MpegStream stream;
    if (WalkMpegFrames(source, &stream) != 0) return -1;
    uint8_t* record = MakeMpegRecord(&stream);
    if (record == nullptr) return -1;
    *format = record;
    *formatBytes = MPEG_FORMAT_RECORD_BYTES;
    *dataBytes = (uint64_t)stream.fileSize > UINT32_MAX ? UINT32_MAX : (uint32_t)stream.fileSize;
    return 0;
}

const PlatformSoundReader MPEG_AUDIO_READER = {
    "MPEG audio", IsMpeg, 1, OpenMpeg, DecodeMpeg, CloseMpeg,
};
