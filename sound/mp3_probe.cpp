// mp3_probe.cpp: recognises MPEG audio (MP3) by walking its frames.
//
// The walk skips an ID3v2 tag at the start (with the v2.4 footer), stops
// before an ID3v1 trailer, passes over junk by searching for the 12-bit sync,
// and fails the file on any invalid frame header. It stores nothing; the
// first frame then gives the 30-byte MPEG Layer 3 record the codec takes.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/mpeg_frames.h"
#include "sound/sound_loader_internal.h"

namespace {

enum { SYNC_SEARCH_BYTES = 4096, ID3V1_BYTES = 128, ID3V2_HEADER_BYTES = 10 };


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


}  // namespace

int GetMpegFrameLength(int mpeg1, int layer, int bitrateIndex, int rateIndex, int padding) {
    if (layer < 1 || layer > 3 || bitrateIndex < 1 || bitrateIndex > 14 || rateIndex < 0 || rateIndex > 2) {
        return 0;
    }
    FrameHeader h = {mpeg1, layer, bitrateIndex, rateIndex, padding, 0};
    return ComputeMpegFrameLength(mpeg1, layer, GetBitrate(&h), GetRate(&h), padding);
}

int ProbeMp3Stream(SoundDataSource* source, uint8_t** format, uint32_t* formatBytes, uint32_t* dataBytes) {
    void* file = source->handle;
    if (source->ops.Seek(file, 0, SEEK_END) != 0) return -1;
    long fileSize = source->ops.Tell(file);
    if (fileSize <= 0 || source->ops.Seek(file, 0, SEEK_SET) != 0) return -1;

    // ID3v2 tag: ten header bytes, a size in four bytes of seven bits each.
    long audioStart = 0;
    uint8_t tag[ID3V2_HEADER_BYTES];
    if (source->ops.Read(tag, 1, ID3V2_HEADER_BYTES, file) == ID3V2_HEADER_BYTES &&
        memcmp(tag, "ID3", 3) == 0) {
        audioStart = (((long)tag[6] * 128 + tag[7]) * 128 + tag[8]) * 128 + tag[9] + ID3V2_HEADER_BYTES;
        if (tag[3] == 4 && (tag[5] & 0x10)) audioStart += ID3V2_HEADER_BYTES;  // footer
    }

    // ID3v1 trailer: the last 128 bytes begin with "TAG".
    long trailerBytes = 0;
    if (fileSize > ID3V1_BYTES) {
        uint8_t mark[3];
        if (source->ops.Seek(file, fileSize - ID3V1_BYTES, SEEK_SET) == 0 &&
            source->ops.Read(mark, 1, 3, file) == 3 && memcmp(mark, "TAG", 3) == 0) {
            trailerBytes = ID3V1_BYTES;
        }
    }
    // Frames end where the trailer begins; nothing in it is read as a frame.
    long audioEnd = fileSize - trailerBytes;

    // Every header from the audio start to the end must be valid.
    long position = audioStart;
    uint8_t bytes[4];
    FrameHeader header;
    while (FindSync(source, &position, audioEnd, bytes) == 0) {
        ParseHeader(bytes, &header);
        if (header.layer == 0 || header.bitrateIndex == 15 || header.rateIndex == 3) return -1;
        int length = GetHeaderFrameLength(&header);
        // Free format (bitrate index 0) gives no length: the walk could not
        // move on, and the codec takes no such stream.
        if (length <= 0) return -1;
        position += length;
        if (position >= audioEnd) break;
    }

    // The first frame describes the stream.
    position = audioStart;
    if (FindSync(source, &position, audioEnd, bytes) != 0) return -1;
    ParseHeader(bytes, &header);
    int length = GetHeaderFrameLength(&header);
    if (length <= 0) return -1;

    uint8_t* record = (uint8_t*)calloc(1, MPEG_FORMAT_RECORD_BYTES);
    if (record == nullptr) return -1;
    WriteU16(record + 0, 0x55);
    WriteU16(record + 2, header.channelMode == 3 ? 1 : 2);
    WriteU32(record + 4, (uint32_t)GetRate(&header));
    WriteU32(record + 8, (uint32_t)GetBitrate(&header) * 125);
    WriteU16(record + 12, 1);   // block align
    WriteU16(record + 14, 0);   // bits per sample
    WriteU16(record + 16, 12);  // extra size
    WriteU16(record + 18, 1);   // ID: MPEG
    WriteU32(record + 20, 0);   // flags
    WriteU16(record + 24, (uint32_t)length + 4);  // block size
    WriteU16(record + 26, 1);     // frames per block
    WriteU16(record + 28, 1393);  // codec delay

    if (source->ops.Seek(file, position, SEEK_SET) != 0) {
        free(record);
        return -1;
    }
    *format = record;
    *formatBytes = MPEG_FORMAT_RECORD_BYTES;
    *dataBytes = (uint64_t)fileSize > UINT32_MAX ? UINT32_MAX : (uint32_t)fileSize;
    return 0;
}
