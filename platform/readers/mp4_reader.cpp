// mp4_reader.cpp: AAC and ALAC in MP4 files (.m4a), decoded with FFmpeg's
// own decoders (libavformat's MP4 demuxer, libavcodec) from a copy in memory.
//
// Debian's FFmpeg libraries are built under the GPL: this reader is the only
// part of the library that uses them, and a build without RAVLIN_WITH_FFMPEG
// leaves it out.
//
// The encoder delay and padding the file records are honoured: the demuxer
// skips the priming samples its edit list (or iTunes' "iTunSMPB" note) names,
// and the sound is cut at the length the edit list gives, so a looped file
// has no gap at its seam. AAC comes out as 16-bit PCM (its floats rounded
// with full scale 32768 and clipped, as FFmpeg's own conversion does); ALAC
// keeps its precision in whole bytes. The channels keep the layout the
// decoder names. AAC carries state from frame to frame (noise substitution,
// spectral band replication), so the decode runs on one thread.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <climits>
#include <cmath>
#include <cstdio>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/readers/reader_common.h"

namespace {

enum { AVIO_BUFFER_BYTES = 65536 };
// PCM bytes a byte of MP4 may give before its stated length is not believed:
// HE-AAC at 24 kbit/s stereo gives about 60.
enum { MP4_MAX_RATIO = 256 };
// The largest single allocation FFmpeg may make for a file: its tables may
// claim far more samples than the file holds (a few kilobytes can ask for a
// gigabyte of index), while a real file's tables take at most this many
// bytes per byte of file, or the floor for small ones.
const size_t MP4_ALLOCATION_PER_FILE_BYTE = 64;
const size_t MP4_MIN_ALLOCATION_LIMIT = 64u << 20;
// Speakers of a channel mask that WAVE shares with FFmpeg's layouts.
const uint64_t WAVE_SPEAKER_BITS = (1u << 18) - 1;

// A demuxer over the file in memory and the decoder of its audio stream.
struct Mp4Demux {
    MemorySoundStream reading;   // the demuxer's position in the file
    AVIOContext* io;
    AVFormatContext* format;
    AVCodecContext* decoder;
    int audio;                   // the audio stream's index
    AVPacket* packet;
    int draining;                // the demuxer is done, the decoder gives what it holds
};

struct Mp4File {
    uint8_t* bytes;              // the whole file (malloc)
    size_t size;
    Mp4Demux demux;
    WaveFormat stated;           // the PCM the decoder says it gives (the frames decide)
    uint8_t* record;             // the 18-byte record of that PCM (malloc)
};

Mp4File* AsMp4(SoundReaderFile* file) { return (Mp4File*)file; }

int ReadMp4(void* opaque, uint8_t* buffer, int bytes) {
    MemorySoundStream* stream = &((Mp4Demux*)opaque)->reading;
    if (stream->position >= stream->size) return AVERROR_EOF;
    size_t take = stream->size - stream->position < (size_t)bytes ? stream->size - stream->position : (size_t)bytes;
    memcpy(buffer, stream->bytes + stream->position, take);
    stream->position += take;
    return (int)take;
}

int64_t SeekMp4(void* opaque, int64_t offset, int whence) {
    MemorySoundStream* stream = &((Mp4Demux*)opaque)->reading;
    if (whence == AVSEEK_SIZE) return (int64_t)stream->size;
    int origin = whence & ~AVSEEK_FORCE;
    int64_t base = origin == SEEK_CUR ? (int64_t)stream->position : origin == SEEK_END ? (int64_t)stream->size : 0;
    int64_t target = base + offset;
    if (target < 0) return -1;
    stream->position = (size_t)target;
    return target;
}

void CloseMp4Demux(Mp4Demux* demux) {
    avcodec_free_context(&demux->decoder);
    avformat_close_input(&demux->format);
    if (demux->io != nullptr) {
        av_freep(&demux->io->buffer);
        avio_context_free(&demux->io);
    }
    av_packet_free(&demux->packet);
}

// The demuxer over the file and the decoder of its audio stream, when that
// is AAC or ALAC. 0 or -1 (CloseMp4Demux frees what was made).
int OpenMp4Demux(Mp4Demux* demux, const uint8_t* bytes, size_t size) {
    memset(demux, 0, sizeof(*demux));
    // A limit for the whole library: set while no other decode runs (demuxers
    // are opened on the loading thread before a second half starts).
    size_t limit = size < INT_MAX / MP4_ALLOCATION_PER_FILE_BYTE ? size * MP4_ALLOCATION_PER_FILE_BYTE : INT_MAX;
    av_max_alloc(limit > MP4_MIN_ALLOCATION_LIMIT ? limit : MP4_MIN_ALLOCATION_LIMIT);
    demux->reading = MemorySoundStream{bytes, size, 0, 0};
    demux->packet = av_packet_alloc();
    uint8_t* buffer = (uint8_t*)av_malloc(AVIO_BUFFER_BYTES);
    if (buffer == nullptr || demux->packet == nullptr) {
        av_free(buffer);
        return -1;
    }
    demux->io = avio_alloc_context(buffer, AVIO_BUFFER_BYTES, 0, demux, ReadMp4, nullptr, SeekMp4);
    if (demux->io == nullptr) {
        av_free(buffer);
        return -1;
    }
    demux->format = avformat_alloc_context();
    if (demux->format == nullptr) return -1;
    demux->format->pb = demux->io;
    demux->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Only the MP4 demuxer: the content was recognised already. A failed
    // open frees the context.
    if (avformat_open_input(&demux->format, "", av_find_input_format("mov"), nullptr) != 0) return -1;
    demux->audio = av_find_best_stream(demux->format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (demux->audio < 0) return -1;
    const AVCodecParameters* parameters = demux->format->streams[demux->audio]->codecpar;
    if (parameters->codec_id != AV_CODEC_ID_AAC && parameters->codec_id != AV_CODEC_ID_ALAC) return -1;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    demux->decoder = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    if (demux->decoder == nullptr || avcodec_parameters_to_context(demux->decoder, parameters) < 0) return -1;
    demux->decoder->thread_count = 1;
    demux->decoder->pkt_timebase = demux->format->streams[demux->audio]->time_base;
    return avcodec_open2(demux->decoder, codec, nullptr) == 0 ? 0 : -1;
}

// The next decoded frame of the audio stream: 1, or 0 at the end. Damaged
// packets are passed over, as FFmpeg's own tools do.
int NextFrame(Mp4Demux* demux, AVFrame* frame) {
    for (;;) {
        int got = avcodec_receive_frame(demux->decoder, frame);
        if (got == 0) return 1;
        if (got != AVERROR(EAGAIN) || demux->draining) return 0;
        if (av_read_frame(demux->format, demux->packet) < 0) {
            avcodec_send_packet(demux->decoder, nullptr);
            demux->draining = 1;
            continue;
        }
        if (demux->packet->stream_index == demux->audio) avcodec_send_packet(demux->decoder, demux->packet);
        av_packet_unref(demux->packet);
    }
}

// The PCM a decoded frame stands for: 16-bit for floats, the samples' own
// width in whole bytes for integers. -1 for a layout that cannot be played.
int GetPcmFormat(int sampleFormat, int rawBits, int rate, const AVChannelLayout* layout, WaveFormat* format) {
    int bits;
    switch (sampleFormat) {
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P: bits = 16; break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P: bits = rawBits > 16 && rawBits <= 24 ? 24 : 32; break;
        default: return -1;
    }
    if (rate <= 0 || MakePcmFormat(layout->nb_channels, (uint32_t)rate, bits, format) != 0) return -1;
    if (layout->order == AV_CHANNEL_ORDER_NATIVE && (layout->u.mask & ~WAVE_SPEAKER_BITS) == 0 &&
        __builtin_popcountll(layout->u.mask) == layout->nb_channels) {
        format->channelMask = (uint32_t)layout->u.mask;
    }
    return 0;
}

// One float sample as 16 bits: full scale 32768, rounded (half to even) and
// clipped, as FFmpeg's own conversion does.
inline int16_t FloatToSample(float x) {
    float v = x * 32768.0f;
    return v >= 32767.0f ? 32767 : v <= -32768.0f ? -32768 : (int16_t)lrintf(v);
}

// Planar floats (AAC's output) to interleaved 16-bit samples; stereo, the
// common case, four frames a step where the processor has SSE2 (clipped
// first, so the conversion's own rounding and saturation give the same).
void ConvertPlanarFloats(const AVFrame* frame, int channels, int count, int16_t* out) {
    int i = 0;
#ifdef __SSE2__
    if (channels == 2) {
        const float* left = (const float*)frame->extended_data[0];
        const float* right = (const float*)frame->extended_data[1];
        const __m128 scale = _mm_set1_ps(32768.0f), top = _mm_set1_ps(32767.0f), bottom = _mm_set1_ps(-32768.0f);
        for (; i + 4 <= count; i += 4) {
            __m128 l = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_loadu_ps(left + i), scale), top), bottom);
            __m128 r = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_loadu_ps(right + i), scale), top), bottom);
            __m128i li = _mm_cvtps_epi32(l), ri = _mm_cvtps_epi32(r);
            __m128i pairs = _mm_packs_epi32(_mm_unpacklo_epi32(li, ri), _mm_unpackhi_epi32(li, ri));
            _mm_storeu_si128((__m128i*)(out + 2 * i), pairs);
        }
    }
#endif
    for (; i < count; i++) {
        for (int c = 0; c < channels; c++) out[i * channels + c] = FloatToSample(((const float*)frame->extended_data[c])[i]);
    }
}

// Writes count frames of a decoded frame in the PCM's format, one channel
// at a time (the sample layout chosen once per frame, not per sample).
void ConvertFrame(const AVFrame* frame, int count, const WaveFormat* format, uint8_t* out) {
    int channels = format->channels;
    if (frame->format == AV_SAMPLE_FMT_FLTP) {
        ConvertPlanarFloats(frame, channels, count, (int16_t*)out);
        return;
    }
    int planar = av_sample_fmt_is_planar((AVSampleFormat)frame->format);
    int step = planar ? 1 : channels;  // samples from one frame to the next
    int bytesOut = format->bitsPerSample / 8;
    for (int c = 0; c < channels; c++) {
        const uint8_t* plane = frame->extended_data[planar ? c : 0];
        int first = planar ? 0 : c;
        uint8_t* to = out + c * bytesOut;
        switch (frame->format) {
            case AV_SAMPLE_FMT_FLT:
                for (int i = 0; i < count; i++, to += format->blockAlign) {
                    int16_t sample = FloatToSample(((const float*)plane)[first + i * step]);
                    memcpy(to, &sample, 2);
                }
                break;
            case AV_SAMPLE_FMT_S16:
            case AV_SAMPLE_FMT_S16P:
                for (int i = 0; i < count; i++, to += format->blockAlign) {
                    memcpy(to, (const int16_t*)plane + first + i * step, 2);
                }
                break;
            default:
                // 32-bit samples hold their bits at the top.
                for (int i = 0; i < count; i++, to += format->blockAlign) {
                    uint32_t v = (uint32_t)((const int32_t*)plane)[first + i * step];
                    if (bytesOut == 3) {
                        to[0] = (uint8_t)(v >> 8), to[1] = (uint8_t)(v >> 16), to[2] = (uint8_t)(v >> 24);
                    } else {
                        memcpy(to, &v, 4);
                    }
                }
                break;
        }
    }
}

// Frames the file says the sound holds at the given rate, 0 when it does not
// say: the edit list's length, and iTunes' gapless note (its fourth field,
// believed only where the decoder gives the rate the file states, since with
// band replication the note's unit is not sure).
int64_t GetStatedFrames(const Mp4File* mp4, int rate) {
    const AVStream* stream = mp4->demux.format->streams[mp4->demux.audio];
    int64_t frames = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate});
    }
    const AVDictionaryEntry* note = av_dict_get(mp4->demux.format->metadata, "iTunSMPB", nullptr, 0);
    unsigned delay = 0, padding = 0;
    unsigned long long noted = 0;
    if (note != nullptr && rate == stream->codecpar->sample_rate &&
        sscanf(note->value, "%*x %x %x %llx", &delay, &padding, &noted) == 3 && noted > 0 &&
        (frames == 0 || (int64_t)noted < frames)) {
        frames = (int64_t)noted;
    }
    return frames;
}

// ---- The reader ----

// "ftyp" as the first box.
int IsMp4(SoundDataSource* source) {
    uint8_t head[8];
    return ReadSourceBytes(source, head, 8) == 8 && memcmp(head + 4, "ftyp", 4) == 0;
}

void CloseMp4(SoundReaderFile* file) {
    Mp4File* mp4 = AsMp4(file);
    if (mp4 == nullptr) return;
    CloseMp4Demux(&mp4->demux);
    free(mp4->bytes);
    free(mp4->record);
    free(mp4);
}

int OpenMp4(SoundDataSource* source, SoundReaderFile** file, SoundReaderInfo* info) {
    // FFmpeg's own messages would go to standard error; the loader tells
    // what failed.
    av_log_set_level(AV_LOG_QUIET);
    Mp4File* mp4 = (Mp4File*)calloc(1, sizeof(Mp4File));
    if (mp4 == nullptr) return -1;
    mp4->bytes = ReadWholeSource(source, &mp4->size);
    const AVCodecContext* decoder = nullptr;
    if (mp4->bytes == nullptr || OpenMp4Demux(&mp4->demux, mp4->bytes, mp4->size) != 0 ||
        (decoder = mp4->demux.decoder,
         GetPcmFormat(decoder->sample_fmt, decoder->bits_per_raw_sample, decoder->sample_rate, &decoder->ch_layout,
                      &mp4->stated) != 0) ||
        (mp4->record = MakePcmRecord(&mp4->stated)) == nullptr) {
        CloseMp4((SoundReaderFile*)mp4);
        return -1;
    }
    uint64_t stated = (uint64_t)GetStatedFrames(mp4, (int)mp4->stated.samplesPerSecond) * mp4->stated.blockAlign;
    info->record = mp4->record;
    info->recordBytes = WAVE_FORMAT_RECORD_BYTES;
    info->statedBytes = stated > UINT32_MAX ? UINT32_MAX : (uint32_t)stated;
    info->converts = 1;
    *file = (SoundReaderFile*)mp4;
    return 0;
}

// Writes a decoded frame at the end of the output. 1 to go on; 0 where the
// sound ends: a frame of another layout, or the output's limit (the stated
// length) reached.
int WriteFrame(PcmOutput* out, const AVFrame* frame, int rawBits) {
    WaveFormat format;
    if (GetPcmFormat(frame->format, rawBits, frame->sample_rate, &frame->ch_layout, &format) != 0 ||
        format.channels != out->format.channels || format.samplesPerSecond != out->format.samplesPerSecond ||
        format.bitsPerSample != out->format.bitsPerSample) {
        return 0;
    }
    uint32_t want = (uint32_t)frame->nb_samples * format.blockAlign;
    uint32_t room = 0;
    uint8_t* to = ReservePcmOutput(out, want, &room);
    int count = (int)(room / format.blockAlign);
    if (to != nullptr && count > 0) ConvertFrame(frame, count, &out->format, to);
    out->length += (uint32_t)count * format.blockAlign;
    return (uint32_t)count * format.blockAlign == want;
}

// The second half of an ALAC decode: a demuxer and decoder of its own, from
// a packet near the middle (ALAC's packets stand alone), writing into the
// rest of the block.
struct Mp4Tail {
    Mp4Demux demux;
    AVFrame* frame;        // its first frame, then each one in turn
    int64_t pts;           // where its first frame stands, in the stream's time base
    PcmOutput part;        // the block from there on
};

void RunMp4Tail(Mp4Tail* tail) {
    int rawBits = tail->demux.decoder->bits_per_raw_sample;
    do {
        if (!WriteFrame(&tail->part, tail->frame, rawBits)) break;
        av_frame_unref(tail->frame);
    } while (NextFrame(&tail->demux, tail->frame));
}

void CloseMp4Tail(Mp4Tail* tail) {
    CloseMp4Demux(&tail->demux);
    av_frame_free(&tail->frame);
}

// Readies the tail of an ALAC decode into a block of the whole stated
// length, at the packet before the middle. 0, or -1 when the sound is not
// split (nothing left open).
int StartMp4Tail(Mp4File* mp4, const PcmOutput* out, Mp4Tail* tail) {
    memset(tail, 0, sizeof(*tail));
    const AVStream* stream = mp4->demux.format->streams[mp4->demux.audio];
    uint32_t frameBytes = out->format.blockAlign;
    int rate = (int)out->format.samplesPerSecond;
    if (stream->codecpar->codec_id != AV_CODEC_ID_ALAC || !IsSoundDecodeSplitting() || out->capacity != out->limit ||
        out->limit < MIN_SPLIT_SECONDS * out->format.averageBytesPerSecond) {
        return -1;
    }
    int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    int64_t middle = start + av_rescale_q(out->limit / frameBytes / 2, AVRational{1, rate}, stream->time_base);
    tail->frame = av_frame_alloc();
    if (tail->frame == nullptr || OpenMp4Demux(&tail->demux, mp4->bytes, mp4->size) != 0 ||
        av_seek_frame(tail->demux.format, tail->demux.audio, middle, AVSEEK_FLAG_BACKWARD) < 0 ||
        !NextFrame(&tail->demux, tail->frame) || tail->frame->pts == AV_NOPTS_VALUE) {
        CloseMp4Tail(tail);
        return -1;
    }
    tail->pts = tail->frame->pts;
    uint64_t from = (uint64_t)av_rescale_q(tail->pts - start, stream->time_base, AVRational{1, rate}) * frameBytes;
    if (tail->pts <= start || from >= out->limit) {
        CloseMp4Tail(tail);
        return -1;
    }
    tail->part = *out;
    tail->part.block = out->block + from;
    tail->part.capacity = tail->part.limit = out->limit - (uint32_t)from;
    tail->part.length = 0;
    tail->part.placed = 1;  // a part of the head's block: never grown or freed here
    tail->part.prefault = 0;
    tail->part.prefaulter = nullptr;
    return 0;
}

// Decoded frames into the output, in the layout of the first: the sound
// ends where the layout changes, at the stated length, or where the stream
// ends. ALAC is decoded in two halves at once when it is long; the halves
// must meet exactly where the tail begins, else the head goes on alone.
int DecodeMp4(SoundReaderFile* file, const PcmPlace* place, DecodedSound* sound) {
    Mp4File* mp4 = AsMp4(file);
    Mp4Demux* demux = &mp4->demux;
    memset(sound, 0, sizeof(*sound));
    AVFrame* frame = av_frame_alloc();
    WaveFormat format;
    int rawBits = demux->decoder->bits_per_raw_sample;
    if (frame == nullptr || !NextFrame(demux, frame) ||
        GetPcmFormat(frame->format, rawBits, frame->sample_rate, &frame->ch_layout, &format) != 0) {
        av_frame_free(&frame);
        return -1;
    }
    uint64_t stated = (uint64_t)GetStatedFrames(mp4, frame->sample_rate) * format.blockAlign;
    PcmOutput out;
    if (StartPcmOutput(&out, place, &format, stated, mp4->size, MP4_MAX_RATIO) != 0) {
        av_frame_free(&frame);
        return -1;
    }
    Mp4Tail tail;
    int split = StartMp4Tail(mp4, &out, &tail) == 0;
    std::thread worker;
    if (split) {
        CountSoundDecodeSplit();
        worker = std::thread(RunMp4Tail, &tail);
    }
    int atTail = 0;  // the head stopped at the frame where the tail began
    do {
        if (split && frame->pts != AV_NOPTS_VALUE && frame->pts >= tail.pts) {
            atTail = 1;
            break;
        }
        if (!WriteFrame(&out, frame, rawBits)) break;
        av_frame_unref(frame);
    } while (NextFrame(demux, frame));
    if (split) {
        worker.join();
        uint32_t from = (uint32_t)(tail.part.block - out.block);
        if (atTail && frame->pts == tail.pts && out.length == from) {
            out.length = from + tail.part.length;
        } else if (atTail) {
            // The halves do not meet: the head goes on alone.
            do {
                if (!WriteFrame(&out, frame, rawBits)) break;
                av_frame_unref(frame);
            } while (NextFrame(demux, frame));
        }
        CloseMp4Tail(&tail);
    }
    av_frame_free(&frame);
    return FinishPcmOutput(&out, sound);
}

}  // namespace

const PlatformSoundReader MP4_AUDIO_READER = {
    "AAC or ALAC in MP4", IsMp4, 0, OpenMp4, DecodeMp4, CloseMp4,
};
