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

#include <cmath>
#include <cstdio>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstdlib>
#include <cstring>

#include "platform/readers/reader_common.h"

namespace {

enum { AVIO_BUFFER_BYTES = 65536 };
// PCM bytes a byte of MP4 may give before its stated length is not believed:
// HE-AAC at 24 kbit/s stereo gives about 60.
enum { MP4_MAX_RATIO = 256 };
// Speakers of a channel mask that WAVE shares with FFmpeg's layouts.
const uint64_t WAVE_SPEAKER_BITS = (1u << 18) - 1;

struct Mp4File {
    uint8_t* bytes;              // the whole file (malloc)
    size_t size;
    MemorySoundStream reading;   // the demuxer's position in it
    AVIOContext* io;
    AVFormatContext* format;
    AVCodecContext* decoder;
    int audio;                   // the audio stream's index
    WaveFormat stated;           // the PCM the decoder says it gives (the frames decide)
    uint8_t* record;             // the 18-byte record of that PCM (malloc)
};

Mp4File* AsMp4(SoundReaderFile* file) { return (Mp4File*)file; }

int ReadMp4(void* opaque, uint8_t* buffer, int bytes) {
    MemorySoundStream* stream = &((Mp4File*)opaque)->reading;
    if (stream->position >= stream->size) return AVERROR_EOF;
    size_t take = stream->size - stream->position < (size_t)bytes ? stream->size - stream->position : (size_t)bytes;
    memcpy(buffer, stream->bytes + stream->position, take);
    stream->position += take;
    return (int)take;
}

int64_t SeekMp4(void* opaque, int64_t offset, int whence) {
    MemorySoundStream* stream = &((Mp4File*)opaque)->reading;
    if (whence == AVSEEK_SIZE) return (int64_t)stream->size;
    int origin = whence & ~AVSEEK_FORCE;
    int64_t base = origin == SEEK_CUR ? (int64_t)stream->position : origin == SEEK_END ? (int64_t)stream->size : 0;
    int64_t target = base + offset;
    if (target < 0) return -1;
    stream->position = (size_t)target;
    return target;
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

// Writes count frames of a decoded frame in the PCM's format.
void ConvertFrame(const AVFrame* frame, int count, const WaveFormat* format, uint8_t* out) {
    if (frame->format == AV_SAMPLE_FMT_FLTP) {
        ConvertPlanarFloats(frame, format->channels, count, (int16_t*)out);
        return;
    }
    int channels = format->channels;
    int planar = av_sample_fmt_is_planar((AVSampleFormat)frame->format);
    int bytesOut = format->bitsPerSample / 8;
    for (int c = 0; c < channels; c++) {
        const uint8_t* plane = frame->extended_data[planar ? c : 0];
        uint8_t* to = out + c * bytesOut;
        for (int i = 0; i < count; i++, to += format->blockAlign) {
            int at = planar ? i : i * channels + c;
            switch (frame->format) {
                case AV_SAMPLE_FMT_FLT: {
                    int16_t sample = FloatToSample(((const float*)plane)[at]);
                    memcpy(to, &sample, 2);
                    break;
                }
                case AV_SAMPLE_FMT_S16:
                case AV_SAMPLE_FMT_S16P: memcpy(to, (const int16_t*)plane + at, 2); break;
                default: {
                    // 32-bit samples hold their bits at the top.
                    uint32_t v = (uint32_t)((const int32_t*)plane)[at];
                    if (bytesOut == 3) {
                        to[0] = (uint8_t)(v >> 8), to[1] = (uint8_t)(v >> 16), to[2] = (uint8_t)(v >> 24);
                    } else {
                        memcpy(to, &v, 4);
                    }
                    break;
                }
            }
        }
    }
}

// Frames the file says the sound holds at the given rate, 0 when it does not
// say: the edit list's length, and iTunes' gapless note (its fourth field,
// believed only where the decoder gives the rate the file states, since with
// band replication the note's unit is not sure).
int64_t GetStatedFrames(const Mp4File* mp4, int rate) {
    const AVStream* stream = mp4->format->streams[mp4->audio];
    int64_t frames = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate});
    }
    const AVDictionaryEntry* note = av_dict_get(mp4->format->metadata, "iTunSMPB", nullptr, 0);
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
    avcodec_free_context(&mp4->decoder);
    avformat_close_input(&mp4->format);
    if (mp4->io != nullptr) {
        av_freep(&mp4->io->buffer);
        avio_context_free(&mp4->io);
    }
    free(mp4->bytes);
    free(mp4->record);
    free(mp4);
}

// The demuxer over the file in memory and the decoder of its audio stream,
// when that is AAC or ALAC. 0 or -1.
int StartMp4(Mp4File* mp4, SoundDataSource* source) {
    mp4->bytes = ReadWholeSource(source, &mp4->size);
    if (mp4->bytes == nullptr) return -1;
    mp4->reading = MemorySoundStream{mp4->bytes, mp4->size, 0, 0};
    uint8_t* buffer = (uint8_t*)av_malloc(AVIO_BUFFER_BYTES);
    if (buffer == nullptr) return -1;
    mp4->io = avio_alloc_context(buffer, AVIO_BUFFER_BYTES, 0, mp4, ReadMp4, nullptr, SeekMp4);
    if (mp4->io == nullptr) {
        av_free(buffer);
        return -1;
    }
    mp4->format = avformat_alloc_context();
    if (mp4->format == nullptr) return -1;
    mp4->format->pb = mp4->io;
    mp4->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Only the MP4 demuxer: the content was recognised already. A failed
    // open frees the context.
    if (avformat_open_input(&mp4->format, "", av_find_input_format("mov"), nullptr) != 0) return -1;
    mp4->audio = av_find_best_stream(mp4->format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (mp4->audio < 0) return -1;
    const AVCodecParameters* parameters = mp4->format->streams[mp4->audio]->codecpar;
    if (parameters->codec_id != AV_CODEC_ID_AAC && parameters->codec_id != AV_CODEC_ID_ALAC) return -1;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    mp4->decoder = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    if (mp4->decoder == nullptr || avcodec_parameters_to_context(mp4->decoder, parameters) < 0) return -1;
    mp4->decoder->thread_count = 1;
    mp4->decoder->pkt_timebase = mp4->format->streams[mp4->audio]->time_base;
    if (avcodec_open2(mp4->decoder, codec, nullptr) != 0) return -1;
    return GetPcmFormat(mp4->decoder->sample_fmt, mp4->decoder->bits_per_raw_sample, mp4->decoder->sample_rate,
                        &mp4->decoder->ch_layout, &mp4->stated);
}

int OpenMp4(SoundDataSource* source, SoundReaderFile** file, SoundReaderInfo* info) {
    // FFmpeg's own messages would go to standard error; the loader tells
    // what failed.
    av_log_set_level(AV_LOG_QUIET);
    Mp4File* mp4 = (Mp4File*)calloc(1, sizeof(Mp4File));
    if (mp4 == nullptr) return -1;
    if (StartMp4(mp4, source) != 0 || (mp4->record = MakePcmRecord(&mp4->stated)) == nullptr) {
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

// Decoded frames into the output, in the layout of the first: the sound
// ends where the layout changes, at the stated length, or where the stream
// ends. Damaged packets are passed over, as FFmpeg's own tools do.
int DecodeMp4(SoundReaderFile* file, const PcmPlace* place, DecodedSound* sound) {
    Mp4File* mp4 = AsMp4(file);
    memset(sound, 0, sizeof(*sound));
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    PcmOutput out = {};
    int started = 0, failed = packet == nullptr || frame == nullptr, draining = 0;
    while (!failed) {
        int got = avcodec_receive_frame(mp4->decoder, frame);
        if (got == AVERROR(EAGAIN) && !draining) {
            if (av_read_frame(mp4->format, packet) < 0) {
                avcodec_send_packet(mp4->decoder, nullptr);
                draining = 1;
            } else {
                if (packet->stream_index == mp4->audio) avcodec_send_packet(mp4->decoder, packet);
                av_packet_unref(packet);
            }
            continue;
        }
        if (got < 0) break;
        WaveFormat format;
        int usable = GetPcmFormat(frame->format, mp4->decoder->bits_per_raw_sample, frame->sample_rate,
                                  &frame->ch_layout, &format) == 0;
        if (usable && !started) {
            uint64_t stated = (uint64_t)GetStatedFrames(mp4, frame->sample_rate) * format.blockAlign;
            failed = StartPcmOutput(&out, place, &format, stated, mp4->size, MP4_MAX_RATIO) != 0;
            started = !failed;
        }
        if (!usable || failed || format.channels != out.format.channels ||
            format.samplesPerSecond != out.format.samplesPerSecond || format.bitsPerSample != out.format.bitsPerSample) {
            break;
        }
        uint32_t want = (uint32_t)frame->nb_samples * format.blockAlign;
        uint32_t room = 0;
        uint8_t* to = ReservePcmOutput(&out, want, &room);
        int count = (int)(room / format.blockAlign);
        if (to != nullptr && count > 0) ConvertFrame(frame, count, &out.format, to);
        out.length += (uint32_t)count * format.blockAlign;
        av_frame_unref(frame);
        if ((uint32_t)count * format.blockAlign < want) break;
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    if (!started) return -1;
    if (failed) {
        AbandonPcmOutput(&out);
        return -1;
    }
    return FinishPcmOutput(&out, sound);
}

}  // namespace

const PlatformSoundReader MP4_AUDIO_READER = {
    "AAC or ALAC in MP4", IsMp4, 0, OpenMp4, DecodeMp4, CloseMp4,
};
