// sound_decode.cpp: reads a whole sound file into PCM in memory.
//
// Recognition is by content, in the order RIFF WAVE, Ogg Vorbis, MPEG audio.
// RIFF files are walked chunk by chunk (the format chunk first, odd sizes
// padded); Ogg Vorbis is decoded here with libvorbisfile in requests of at
// most 4096 bytes; everything that is not PCM goes to ConvertToPcm.
//
// Sizes a file states are never trusted for allocation: a block is never
// larger than what the rest of the file can hold, and only bytes actually read
// reach the codec or the device.
#include <vorbis/vorbisfile.h>

#include <climits>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/byte_order.h"
#include "platform/platform.h"
#include "sound/sound_loader_internal.h"

namespace {

struct DecodeSplitting {
    int disabled;   // long sounds decoded in one run
    int splits;     // decodes split in two so far
};
DecodeSplitting DECODE_SPLITTING = {};

// The PCM of one load is handed to the device with an int byte count.
const uint32_t MAX_PCM_BYTES = INT_MAX;
// Vorbis PCM allocated up front per byte of file; a longer stated length is
// reached by growing the block as the decoder really delivers PCM.
const uint64_t OGG_BYTES_PER_FILE_BYTE = 64;
const uint64_t OGG_MIN_FIRST_BLOCK = 4u << 20;


size_t ReadBytes(SoundDataSource* source, void* buffer, size_t bytes) {
    return source->ops.Read(buffer, 1, bytes, source->handle);
}

// Bytes from the current position to the end of the source; -1 when unknown.
long GetBytesLeft(SoundDataSource* source) {
    long here = source->ops.Tell(source->handle);
    if (here < 0 || source->ops.Seek(source->handle, 0, SEEK_END) != 0) return -1;
    long end = source->ops.Tell(source->handle);
    if (source->ops.Seek(source->handle, here, SEEK_SET) != 0 || end < here) return -1;
    return end - here;
}

// ---- Ogg callbacks over the data source ----

size_t ReadOgg(void* buffer, size_t size, size_t count, void* handle) {
    SoundDataSource* source = (SoundDataSource*)handle;
    if (source == nullptr) return (size_t)-1;
    return source->ops.Read(buffer, size, count, source->handle);
}
int SeekOgg(void* handle, ogg_int64_t offset, int origin) {
    SoundDataSource* source = (SoundDataSource*)handle;
    if (source == nullptr) return -1;
    // The stream table takes 32-bit offsets.
    return source->ops.Seek(source->handle, (long)(int32_t)offset, origin);
}
int CloseOgg(void*) { return 0; }  // the loader closes the file itself
long TellOgg(void* handle) {
    SoundDataSource* source = (SoundDataSource*)handle;
    if (source == nullptr) return -1;
    return source->ops.Tell(source->handle);
}

// ---- RIFF WAVE ----

int ProbeRiffWave(SoundDataSource* source, SoundProbe* probe) {
    uint8_t bytes[8];
    if (ReadBytes(source, bytes, 4) != 4 || memcmp(bytes, "WAVE", 4) != 0) return -1;
    // The format chunk must come first.
    if (ReadBytes(source, bytes, 8) != 8 || memcmp(bytes, "fmt ", 4) != 0) return -1;
    uint32_t chunkBytes = ReadU32(bytes + 4);
    // A format chunk too short for its fixed fields, or longer than the rest
    // of the file (no "data" chunk can follow it), is refused unread.
    long left = GetBytesLeft(source);
    if (chunkBytes < 16 || left < 0 || (uint64_t)chunkBytes > (uint64_t)left) return -1;
    uint32_t recordBytes = chunkBytes > (uint32_t)WAVE_FORMAT_RECORD_BYTES ? chunkBytes : (uint32_t)WAVE_FORMAT_RECORD_BYTES;
    uint8_t* record = (uint8_t*)calloc(1, recordBytes);
    if (record == nullptr) return -1;
    if (ReadBytes(source, record, chunkBytes) != chunkBytes) {
        free(record);
        return -1;
    }
    // A pad byte after an odd format chunk is skipped by the walk's first seek.
    long next = (long)(chunkBytes & 1);

    // Walk to the "data" chunk; the end of the file (a header that cannot be
    // read) ends the walk without one.
    int found = 0;
    uint32_t dataBytes = 0;
    while (!source->ops.AtEnd(source->handle)) {
        if (next != 0 && source->ops.Seek(source->handle, next, SEEK_CUR) != 0) break;
        if (ReadBytes(source, bytes, 8) != 8) break;
        uint32_t size = ReadU32(bytes + 4);
        if (memcmp(bytes, "data", 4) == 0) {
            found = 1;
            dataBytes = size;
            break;
        }
        next = (long)size + (long)(size & 1);
    }
    if (!found) {
        free(record);
        return -1;
    }
    probe->format = record;
    probe->formatBytes = recordBytes;
    probe->dataBytes = dataBytes;
    probe->isOgg = 0;
    return 0;
}

// Refuses records whose numbers would divide by zero or overflow later.
int CheckFormatNumbers(const uint8_t* record) {
    WaveFormat format;
    ReadWaveFormat(record, &format);
    if (format.channels == 0 || format.samplesPerSecond == 0 || format.blockAlign == 0) return -1;
    if ((uint64_t)format.blockAlign * format.samplesPerSecond > UINT32_MAX) return -1;
    return 0;
}

// PCM the device takes as stored: whole bytes per sample, 8 to 32 bits,
// frames exactly one sample per channel. Other layouts (12 bits in 16, 20 in
// 24, samples wider than 32 bits, a block align that disagrees) go through
// the codec to 16-bit PCM.
int IsPlainPcm(const WaveFormat* format) {
    int bits = format->bitsPerSample;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
    return format->blockAlign == format->channels * (bits / 8);
}

// ---- Ogg Vorbis decoding ----

// Vorbis orders 3 to 8 channels otherwise than WAVE does (3: L C R; 5.1: L C R
// rear L, rear R, LFE). Entry c of a row is the Vorbis channel that becomes
// WAVE channel c, so that the device hears each one from its own speaker.
const uint8_t VORBIS_TO_WAVE[9][8] = {
    {}, {0}, {0, 1},
    {0, 2, 1},
    {0, 1, 2, 3},
    {0, 2, 1, 3, 4},
    {0, 2, 1, 5, 3, 4},
    {0, 2, 1, 6, 5, 3, 4},
    {0, 2, 1, 7, 5, 6, 3, 4},
};

// Puts whole 16-bit frames of Vorbis order into WAVE order, in place. More
// than 8 channels have no defined order and stay as they are.
void ReorderVorbisChannels(uint8_t* pcm, uint32_t bytes, int channels) {
    if (channels < 3 || channels > 8) return;
    const uint8_t* from = VORBIS_TO_WAVE[channels];
    uint32_t frameBytes = 2u * (uint32_t)channels;
    for (uint32_t at = 0; at + frameBytes <= bytes; at += frameBytes) {
        uint8_t frame[16];
        memcpy(frame, pcm + at, frameBytes);
        for (int c = 0; c < channels; c++) memcpy(pcm + at + 2 * c, frame + 2 * from[c], 2);
    }
}

// A block of zeroed memory from the system: pages the decoder never reaches
// stay silence without ever being written (or committed).
uint8_t* AllocateSilence(size_t bytes) {
    uint8_t* block = (uint8_t*)calloc(1, bytes);
    AdviseHugePages(block, bytes);
    return block;
}

// One decoder's run over [offset, end) of the block: stops at end, at the
// end of the stream or an error that ends it, or where a link of another
// rate or channel count begins (otherLink; that link's bytes are not kept).
// -1 on a hole or a bad link, which fail the load.
struct OggRun {
    OggVorbis_File* vorbis;
    uint8_t* block;
    uint32_t offset, end;   // bytes
    int channels;
    long rate;              // Hz
    int otherLink;
    int result;
};

void RunOgg(OggRun* run) {
    run->result = 0;
    while (run->offset < run->end) {
        uint32_t left = run->end - run->offset;
        uint32_t want = left < (uint32_t)OGG_READ_BYTES ? left : (uint32_t)OGG_READ_BYTES;
        int bitstream = 0;
        long got = ov_read(run->vorbis, (char*)run->block + run->offset, (int)want, 0, 2, 1, &bitstream);
        if (got == OV_HOLE || got == OV_EBADLINK) {
            run->result = -1;
            return;
        }
        // 0 is the end; other errors end the decode where it stands.
        if (got <= 0) return;
        vorbis_info* info = ov_info(run->vorbis, bitstream);
        if (info == nullptr || info->channels != run->channels || info->rate != run->rate) {
            // Read in the first link's layout, this link's sound would be noise.
            memset(run->block + run->offset, 0, (size_t)got);
            run->otherLink = 1;
            return;
        }
        ReorderVorbisChannels(run->block + run->offset, (uint32_t)got, run->channels);
        run->offset += (uint32_t)got;
    }
}

// Frames of the leading links that share the first link's layout, -1 when
// the stream cannot seek (then it is decoded in one run).
int64_t CountFirstLayoutFrames(OggVorbis_File* vorbis, int channels, long rate) {
    if (!ov_seekable(vorbis)) return -1;
    int64_t frames = 0;
    for (long link = 0; link < ov_streams(vorbis); link++) {
        vorbis_info* info = ov_info(vorbis, (int)link);
        if (info == nullptr || info->channels != channels || info->rate != rate) break;
        ogg_int64_t total = ov_pcm_total(vorbis, (int)link);
        if (total < 0) return -1;
        frames += total;
    }
    return frames;
}

// A second decoder over a copy of the file in memory, at frame `from`; null
// when it cannot be had (the decode then runs on one thread).
struct OggSecondDecoder {
    uint8_t* file;
    MemorySoundStream stream;
    SoundDataSource source;
    OggVorbis_File vorbis;
    int open;
};

void CloseSecondDecoder(OggSecondDecoder* second) {
    if (second->open) ov_clear(&second->vorbis);
    free(second->file);
    second->open = 0;
    second->file = nullptr;
}

int OpenSecondDecoder(SoundDataSource* source, long fileBytes, int64_t from, OggSecondDecoder* second) {
    memset(second, 0, sizeof(*second));
    long here = source->ops.Tell(source->handle);
    if (here < 0 || fileBytes <= 0 || source->ops.Seek(source->handle, 0, SEEK_SET) != 0) return -1;
    second->file = (uint8_t*)malloc((size_t)fileBytes);
    size_t got = second->file != nullptr ? ReadBytes(source, second->file, (size_t)fileBytes) : 0;
    // The first decoder goes on from where it stood.
    if (source->ops.Seek(source->handle, here, SEEK_SET) != 0 || got != (size_t)fileBytes) {
        CloseSecondDecoder(second);
        return -1;
    }
    OpenMemorySoundSource(&second->stream, second->file, (size_t)fileBytes, &second->source);
    ov_callbacks callbacks = {ReadOgg, SeekOgg, CloseOgg, TellOgg};
    if (ov_open_callbacks(&second->source, &second->vorbis, nullptr, 0, callbacks) != 0) {
        CloseSecondDecoder(second);
        return -1;
    }
    second->open = 1;
    if (ov_pcm_seek(&second->vorbis, from) != 0) {
        CloseSecondDecoder(second);
        return -1;
    }
    return 0;
}

// Decodes into a block sized from the stream's total time; the block grows
// toward that size only as PCM really arrives, so a false length in a small
// file costs nothing. Bytes the decoder leaves unfilled are silence. The sound
// ends where a link of another rate or channel count begins. A block that
// holds the whole length from the start may be the place's memory, and a
// long one is decoded in two halves at once: a second decoder seeks to the
// middle of the links of the first layout.
int DecodeOgg(SoundDataSource* source, SoundProbe* probe, long fileBytes, const PcmPlace* place, uint8_t** pcm,
              uint32_t* pcmBytes, int* placed) {
    OggVorbis_File* vorbis = (OggVorbis_File*)probe->vorbisFile;
    uint32_t target = probe->dataBytes;
    uint64_t first = (uint64_t)(fileBytes > 0 ? fileBytes : 0) * OGG_BYTES_PER_FILE_BYTE;
    if (first < OGG_MIN_FIRST_BLOCK) first = OGG_MIN_FIRST_BLOCK;
    // Whole frames in every size: the decoder gives nothing for less.
    uint64_t blockAlign = probe->format[12] | (probe->format[13] << 8);
    int channels = probe->format[2] | (probe->format[3] << 8);
    long rate = (long)ReadU32(probe->format + 4);
    first -= first % blockAlign;
    uint32_t allocated = (uint64_t)target < first ? target : (uint32_t)first;
    *placed = 0;
    uint8_t* block = nullptr;
    if (place != nullptr && allocated == target && target > 0) {
        WaveFormat format;
        ReadWaveFormat(probe->format, &format);
        block = place->Reserve(place->context, &format, target);
        *placed = block != nullptr;
    }
    if (block == nullptr) block = AllocateSilence(allocated > 0 ? allocated : 1);
    if (block == nullptr) return -1;

    OggRun run = {vorbis, block, 0, 0, channels, rate, 0, 0};
    uint32_t tailStart = 0, tailEnd = 0;  // what a second half not kept wrote
    if (IsSoundDecodeSplitting() && allocated == target && target >= MIN_SPLIT_SECONDS * blockAlign * (uint64_t)rate) {
        int64_t frames = CountFirstLayoutFrames(vorbis, channels, rate);
        uint64_t from = frames > 0 ? (uint64_t)(frames / 2) * blockAlign : 0;
        OggSecondDecoder second;
        if (from > 0 && from < target && OpenSecondDecoder(source, fileBytes, frames / 2, &second) == 0) {
            OggRun tail = {&second.vorbis, block, (uint32_t)from, target, channels, rate, 0, 0};
            run.end = (uint32_t)from;
            std::thread worker(RunOgg, &tail);
            RunOgg(&run);
            worker.join();
            CloseSecondDecoder(&second);
            CountSoundDecodeSplit();
            // A first half that stops short is where a decode in one run
            // stops: what the second half wrote is not part of the sound.
            if (run.result == 0 && run.offset == run.end && !run.otherLink) {
                run = tail;
            } else {
                tailStart = (uint32_t)from;
                tailEnd = tail.offset;
            }
        }
    }
    if (run.end == 0) {
        // One run, growing the block as PCM arrives.
        for (;;) {
            run.end = allocated;
            RunOgg(&run);
            if (run.result != 0 || run.offset < allocated || run.otherLink || allocated == target) break;
            // A fresh zeroed block rather than realloc, whose new part would
            // have to be cleared by hand.
            uint64_t grown = (uint64_t)allocated * 2;
            uint32_t size = grown < target ? (uint32_t)grown : target;
            uint8_t* bigger = AllocateSilence(size);
            if (bigger == nullptr) {
                free(block);
                return -1;
            }
            memcpy(bigger, block, run.offset);
            free(block);
            block = bigger;
            run.block = block;
            allocated = size;
        }
    }
    if (run.result != 0) {
        if (!*placed) free(block);
        return -1;
    }
    uint32_t length = run.offset;
    // The stated length counts when the whole block was there to hold it (its
    // tail is silence) and every link could be played.
    if (allocated == target && !run.otherLink) length = target;
    // Memory of the place is silence only once cleared; a block of our own is
    // zero where nothing was written, which a second half not kept may have.
    if (*placed && length > run.offset) {
        memset(block + run.offset, 0, length - run.offset);
    } else if (tailEnd > tailStart && tailStart >= run.offset && tailStart < length) {
        uint32_t end = tailEnd < length ? tailEnd : length;
        memset(block + tailStart, 0, end - tailStart);
    }
    *pcm = block;
    *pcmBytes = length;
    return 0;
}

}  // namespace

void SetSoundDecodeSplitting(int enabled) { DECODE_SPLITTING.disabled = !enabled; }
int GetSoundDecodeSplitCount(void) { return DECODE_SPLITTING.splits; }
void CountSoundDecodeSplit(void) { DECODE_SPLITTING.splits++; }
int IsSoundDecodeSplitting(void) { return !DECODE_SPLITTING.disabled; }

void* AllocateWriteOnceBlock(size_t bytes) {
    void* block = malloc(bytes);
    AdviseHugePages(block, bytes);
    return block;
}

void ReadWaveFormat(const uint8_t* record, WaveFormat* format) {
    format->formatTag = ReadU16(record);
    format->channels = ReadU16(record + 2);
    format->samplesPerSecond = ReadU32(record + 4);
    format->averageBytesPerSecond = ReadU32(record + 8);
    format->blockAlign = ReadU16(record + 12);
    format->bitsPerSample = ReadU16(record + 14);
    format->extraSize = ReadU16(record + 16);
    format->channelMask = 0;
}

uint32_t ReadChannelMask(const uint8_t* record, uint32_t recordBytes) {
    // WAVE_FORMAT_EXTENSIBLE: valid bits (u16), then the mask, after the extra size.
    if (recordBytes < 24 || ReadU16(record) != 0xFFFE || ReadU16(record + 16) < 22) return 0;
    return ReadU32(record + 20);
}

void FreeSoundProbe(SoundProbe* probe) {
    if (probe->vorbisFile != nullptr) {
        ov_clear((OggVorbis_File*)probe->vorbisFile);
        free(probe->vorbisFile);
    }
    free(probe->format);
    memset(probe, 0, sizeof(*probe));
}

void FreeDecodedSound(DecodedSound* sound) {
    if (!sound->placed) free(sound->pcm);
    memset(sound, 0, sizeof(*sound));
}

int OpenOggStream(SoundDataSource* source, SoundProbe* probe) {
    OggVorbis_File* vorbis = (OggVorbis_File*)calloc(1, sizeof(OggVorbis_File));
    if (vorbis == nullptr) return -1;
    ov_callbacks callbacks = {ReadOgg, SeekOgg, CloseOgg, TellOgg};
    if (ov_open_callbacks(source, vorbis, nullptr, 0, callbacks) != 0) {
        free(vorbis);
        return -1;
    }
    vorbis_info* info = ov_info(vorbis, -1);
    double seconds = ov_time_total(vorbis, -1);
    uint64_t channels = info != nullptr && info->channels > 0 ? (uint64_t)info->channels : 0;
    uint64_t rate = info != nullptr && info->rate > 0 ? (uint64_t)info->rate : 0;
    uint64_t blockAlign = 2 * channels;
    uint64_t averageBytes = blockAlign * rate;
    // A rate whose bytes per second do not fit the record is refused, and so
    // is a stream without a playing time.
    uint8_t* record = nullptr;
    if (channels != 0 && rate != 0 && blockAlign <= 0xFFFF && averageBytes <= UINT32_MAX &&
        std::isfinite(seconds) && seconds >= 0) {
        record = (uint8_t*)calloc(1, WAVE_FORMAT_RECORD_BYTES);
    }
    if (record == nullptr) {
        ov_clear(vorbis);
        free(vorbis);
        return -1;
    }
    WriteU16(record + 0, 1);
    WriteU16(record + 2, (uint32_t)channels);
    WriteU32(record + 4, (uint32_t)rate);
    WriteU32(record + 8, (uint32_t)averageBytes);
    WriteU16(record + 12, (uint32_t)blockAlign);
    WriteU16(record + 14, 16);
    // The stated length in whole frames: the product can land a hair above an
    // exact frame count, and a partial frame cannot be played.
    double bytes = std::ceil(seconds * (double)averageBytes);
    uint64_t length = bytes >= (double)MAX_PCM_BYTES ? MAX_PCM_BYTES : (uint64_t)bytes;
    length -= length % blockAlign;
    probe->format = record;
    probe->formatBytes = WAVE_FORMAT_RECORD_BYTES;
    probe->dataBytes = (uint32_t)length;
    probe->isOgg = 1;
    probe->vorbisFile = vorbis;
    return 0;
}

int ProbeSoundFormat(SoundDataSource* source, int wantsOgg, SoundProbe* probe) {
    memset(probe, 0, sizeof(*probe));
    uint8_t header[8] = {};
    size_t got = ReadBytes(source, header, 8);
    if (got == 8 && memcmp(header, "RIFF", 4) == 0) {
        if (ProbeRiffWave(source, probe) != 0) return -1;
        if (CheckFormatNumbers(probe->format) != 0) {
            FreeSoundProbe(probe);
            return -1;
        }
        return 0;
    }
    if (source->ops.Seek(source->handle, 0, SEEK_SET) != 0) return -1;
    if (wantsOgg && OpenOggStream(source, probe) == 0) return 0;
    if (source->ops.Seek(source->handle, 0, SEEK_SET) != 0) return -1;
    if (ProbeMp3Stream(source, &probe->format, &probe->formatBytes, &probe->dataBytes) != 0) return -1;
    probe->isOgg = 0;
    return 0;
}

int DecodeSoundToPcm(SoundDataSource* source, DecodedSound* sound) { return DecodeSoundToPlace(source, nullptr, sound); }

int DecodeSoundToPlace(SoundDataSource* source, const PcmPlace* place, DecodedSound* sound) {
    memset(sound, 0, sizeof(*sound));
    // Known before the probe moves the source: bounds what the file can hold.
    long fileBytes = GetBytesLeft(source);
    SoundProbe probe;
    if (ProbeSoundFormat(source, 1, &probe) != 0) return -1;

    WaveFormat format;
    ReadWaveFormat(probe.format, &format);
    int plain = format.formatTag == 1 && IsPlainPcm(&format);
    uint8_t* block = nullptr;
    uint32_t blockBytes = 0;
    int placed = 0;
    if (probe.isOgg) {
        if (DecodeOgg(source, &probe, fileBytes, place, &block, &blockBytes, &placed) != 0) {
            FreeSoundProbe(&probe);
            return -1;
        }
    } else {
        // One read of the stated length, cut to what the file holds.
        long left = GetBytesLeft(source);
        uint32_t want = probe.dataBytes;
        if (left < 0) left = 0;
        if ((uint64_t)want > (uint64_t)left) want = (uint32_t)left;
        // PCM as stored is read straight to where it is to stay, whole frames.
        if (plain && place != nullptr && want >= format.blockAlign) {
            WaveFormat pcmFormat = format;
            pcmFormat.channelMask = ReadChannelMask(probe.format, probe.formatBytes);
            want -= want % format.blockAlign;
            block = place->Reserve(place->context, &pcmFormat, want);
            placed = block != nullptr;
        }
        if (block == nullptr) block = (uint8_t*)AllocateWriteOnceBlock(want > 0 ? want : 1);
        if (block == nullptr) {
            FreeSoundProbe(&probe);
            return -1;
        }
        blockBytes = (uint32_t)ReadBytes(source, block, want);
    }

    if (plain) {
        ReadWaveFormat(probe.format, &sound->format);
        sound->pcm = block;
        sound->placed = placed;
        // Whole frames only.
        sound->pcmBytes = blockBytes - blockBytes % format.blockAlign;
    } else {
        uint8_t pcmFormat[WAVE_FORMAT_RECORD_BYTES];
        uint8_t* pcm = nullptr;
        uint32_t pcmBytes = 0;
        int result = ConvertToPcmAt(block, blockBytes, probe.format, probe.formatBytes, place, &pcm, &pcmBytes,
                                    pcmFormat, &placed);
        free(block);
        if (result != 0) {
            FreeSoundProbe(&probe);
            return -1;
        }
        ReadWaveFormat(pcmFormat, &sound->format);
        sound->pcm = pcm;
        sound->placed = placed;
        sound->pcmBytes = pcmBytes - pcmBytes % sound->format.blockAlign;
    }
    // The codec keeps the channels in their order: their speakers stay.
    sound->format.channelMask = ReadChannelMask(probe.format, probe.formatBytes);
    FreeSoundProbe(&probe);
    // A sound without a single frame cannot be played (nor given a buffer).
    if (sound->pcmBytes == 0 || sound->pcmBytes > MAX_PCM_BYTES) {
        FreeDecodedSound(sound);
        return -1;
    }
    return 0;
}

// ---- Memory data source ----

namespace {

long TellMemory(void* handle) { return (long)((MemorySoundStream*)handle)->position; }

int SeekMemory(void* handle, long offset, int origin) {
    MemorySoundStream* stream = (MemorySoundStream*)handle;
    long base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? (long)stream->position : (long)stream->size;
    // Like a file: any position from 0 on, also past the end.
    if (offset > 0 && base > LONG_MAX - offset) return -1;
    long target = base + offset;
    if (target < 0) return -1;
    stream->position = (size_t)target;
    stream->atEnd = 0;
    return 0;
}

size_t ReadMemory(void* buffer, size_t size, size_t count, void* handle) {
    MemorySoundStream* stream = (MemorySoundStream*)handle;
    if (size == 0 || count == 0) return 0;
    size_t left = stream->position < stream->size ? stream->size - stream->position : 0;
    size_t items = left / size < count ? left / size : count;
    if (items < count) stream->atEnd = 1;
    if (items == 0) return 0;
    memcpy(buffer, stream->bytes + stream->position, items * size);
    stream->position += items * size;
    return items;
}

size_t WriteMemory(const void*, size_t, size_t, void*) { return 0; }

int AtEndMemory(void* handle) { return ((MemorySoundStream*)handle)->atEnd; }

}  // namespace

void OpenMemorySoundSource(MemorySoundStream* stream, const uint8_t* bytes, size_t size, SoundDataSource* source) {
    stream->bytes = bytes;
    stream->size = size;
    stream->position = 0;
    stream->atEnd = 0;
    source->ops = FileStreamOps{TellMemory, SeekMemory, ReadMemory, WriteMemory, AtEndMemory};
    source->handle = stream;
}
