// vorbis_reader.cpp: Ogg Vorbis files, decoded with libvorbisfile.
//
// The decoder reads the file through the data source, in requests of at most
// 4096 bytes of 16-bit little-endian PCM. The sound's length is the stream's
// total time; a block of that length is made only when the file could hold
// that much sound, otherwise the block grows as PCM really arrives, and
// bytes the decoder leaves unfilled are silence. The sound ends where a link
// of another rate or channel count begins. Channels come out in WAVE order.
// A long sound is decoded in two halves at once: a second decoder over a copy
// of the file in memory seeks to the middle.
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/byte_order.h"
#include "platform/readers/reader_common.h"

namespace {

enum { OGG_READ_BYTES = 4096 };  // largest request to the decoder

// Vorbis PCM allocated up front per byte of file; a longer stated length is
// reached by growing the block as the decoder really delivers PCM.
const uint64_t OGG_BYTES_PER_FILE_BYTE = 64;
const uint64_t OGG_MIN_FIRST_BLOCK = 4u << 20;

struct VorbisFile {
    SoundDataSource* source;
    long fileBytes;           // the whole file
    OggVorbis_File vorbis;
    int open;                 // vorbis holds a decoder
    uint8_t* record;          // the 18-byte record of the PCM (malloc)
    uint32_t statedBytes;     // the stream's total time in PCM bytes
};

VorbisFile* AsVorbis(SoundReaderFile* file) { return (VorbisFile*)file; }

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
    size_t got = second->file != nullptr ? ReadSourceBytes(source, second->file, (size_t)fileBytes) : 0;
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
int DecodeOgg(VorbisFile* file, const PcmPlace* place, uint8_t** pcm, uint32_t* pcmBytes, int* placed) {
    SoundDataSource* source = file->source;
    long fileBytes = file->fileBytes;
    OggVorbis_File* vorbis = &file->vorbis;
    uint32_t target = file->statedBytes;
    uint64_t first = (uint64_t)(fileBytes > 0 ? fileBytes : 0) * OGG_BYTES_PER_FILE_BYTE;
    if (first < OGG_MIN_FIRST_BLOCK) first = OGG_MIN_FIRST_BLOCK;
    // Whole frames in every size: the decoder gives nothing for less.
    uint64_t blockAlign = file->record[12] | (file->record[13] << 8);
    int channels = file->record[2] | (file->record[3] << 8);
    long rate = (long)ReadU32(file->record + 4);
    first -= first % blockAlign;
    uint32_t allocated = (uint64_t)target < first ? target : (uint32_t)first;
    *placed = 0;
    uint8_t* block = nullptr;
    if (place != nullptr && allocated == target && target > 0) {
        WaveFormat format;
        ReadWaveFormat(file->record, &format);
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

// Opens the Vorbis decoder over the source and makes the record of its PCM.
// 0 or -1 (nothing left open).
int OpenOggStream(SoundDataSource* source, VorbisFile* file) {
    OggVorbis_File* vorbis = &file->vorbis;
    ov_callbacks callbacks = {ReadOgg, SeekOgg, CloseOgg, TellOgg};
    if (ov_open_callbacks(source, vorbis, nullptr, 0, callbacks) != 0) return -1;
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
    file->record = record;
    file->statedBytes = (uint32_t)length;
    file->open = 1;
    return 0;
}

// ---- The reader ----

int IsOgg(SoundDataSource* source) {
    uint8_t head[4];
    return ReadSourceBytes(source, head, 4) == 4 && memcmp(head, "OggS", 4) == 0;
}

void CloseVorbis(SoundReaderFile* handle) {
    VorbisFile* file = AsVorbis(handle);
    if (file == nullptr) return;
    if (file->open) ov_clear(&file->vorbis);
    free(file->record);
    free(file);
}

int OpenVorbis(SoundDataSource* source, SoundReaderFile** handle, SoundReaderInfo* info) {
    VorbisFile* file = (VorbisFile*)calloc(1, sizeof(VorbisFile));
    if (file == nullptr) return -1;
    file->source = source;
    // Known before the decoder moves the source: bounds what the file can hold.
    if (source->ops.Seek(source->handle, 0, SEEK_SET) != 0 || (file->fileBytes = GetBytesLeft(source)) < 0 ||
        OpenOggStream(source, file) != 0) {
        CloseVorbis((SoundReaderFile*)file);
        return -1;
    }
    info->record = file->record;
    info->recordBytes = WAVE_FORMAT_RECORD_BYTES;
    info->statedBytes = file->statedBytes;
    info->converts = 0;
    *handle = (SoundReaderFile*)file;
    return 0;
}

int DecodeVorbis(SoundReaderFile* handle, const PcmPlace* place, DecodedSound* sound) {
    VorbisFile* file = AsVorbis(handle);
    memset(sound, 0, sizeof(*sound));
    if (DecodeOgg(file, place, &sound->pcm, &sound->pcmBytes, &sound->placed) != 0) return -1;
    ReadWaveFormat(file->record, &sound->format);
    return 0;
}

}  // namespace

const PlatformSoundReader OGG_VORBIS_READER = {
    "Ogg Vorbis", IsOgg, 1, OpenVorbis, DecodeVorbis, CloseVorbis,
};
