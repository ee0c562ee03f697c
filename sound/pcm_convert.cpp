// pcm_convert.cpp: turns a compressed block (MPEG audio, compressed WAVE data)
// into PCM through the platform's codecs, in one conversion call.
//
// A long sound is converted in two halves at once, each on a stream and a
// thread of its own, when the codec can start a stream at a point in the
// middle: the halves meet exactly where a whole conversion would pass.
//
// The message pump runs around the release of the block so that the window
// stays alive; a quit seen there fails the conversion. Nothing here writes to
// the log.
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/codec.h"
#include "platform/platform.h"
#include "sound/sound_loader_internal.h"

namespace {

struct ConvertPart {
    const PlatformCodecOps* codec;
    PlatformCodecStream* stream;
    const uint8_t* block;
    uint32_t blockBytes;
    uint8_t* pcm;
    uint32_t capacity;
    uint32_t used;
    int result;
};

void RunConvertPart(ConvertPart* part) {
    part->used = 0;
    part->result = part->codec->Convert(part->stream, part->block, part->blockBytes, part->pcm, part->capacity,
                                        &part->used);
    if (part->result == 0 && part->used > part->capacity) part->result = -1;
}

// Converts the second half on a thread of its own while this one converts
// the first. 0 with the bytes used, -1 when the conversion fails; 1 when the
// block cannot be split (nothing converted).
int ConvertInHalves(const PlatformCodecOps* codec, PlatformCodecStream* stream, const uint8_t* block,
                    uint32_t blockBytes, const uint8_t* format, uint32_t formatBytes, const uint8_t* destination,
                    uint8_t* output, uint32_t capacity, uint32_t* used) {
    if (codec->StartAtMiddle == nullptr) return 1;
    PlatformCodecStream* second = nullptr;
    if (codec->OpenStream(format, formatBytes, destination, &second) != 0) return 1;
    uint32_t from = 0;
    if (codec->StartAtMiddle(second, block, blockBytes, capacity, &from) != 0 || from == 0 || from >= capacity) {
        codec->CloseStream(second);
        return 1;
    }
    CountSoundDecodeSplit();
    ConvertPart head = {codec, stream, block, blockBytes, output, from, 0, -1};
    ConvertPart tail = {codec, second, block, blockBytes, output + from, capacity - from, 0, -1};
    std::thread worker(RunConvertPart, &tail);
    RunConvertPart(&head);
    worker.join();
    int closed = codec->CloseStream(second);
    if (head.result != 0) return -1;
    // A first half that ends early is where a whole conversion ends too.
    if (head.used < from) {
        *used = head.used;
        return 0;
    }
    if (tail.result != 0 || closed != 0) return -1;
    *used = from + tail.used;
    return 0;
}

}  // namespace

int ConvertToPcm(const uint8_t* block, uint32_t blockBytes, const uint8_t* format, uint32_t formatBytes,
                 uint8_t** pcm, uint32_t* pcmBytes, uint8_t* pcmFormat) {
    int placed = 0;
    return ConvertToPcmAt(block, blockBytes, format, formatBytes, nullptr, pcm, pcmBytes, pcmFormat, &placed);
}

int ConvertToPcmAt(const uint8_t* block, uint32_t blockBytes, const uint8_t* format, uint32_t formatBytes,
                   const PcmPlace* place, uint8_t** pcm, uint32_t* pcmBytes, uint8_t* pcmFormat, int* placed) {
    const PlatformCodecOps* codec = PLATFORM.codec;
    *placed = 0;
    if (codec == nullptr || block == nullptr || format == nullptr) return -1;

    uint8_t destination[CODEC_PCM_FORMAT_BYTES] = {};
    destination[0] = CODEC_TAG_PCM;
    if (codec->SuggestFormat(format, formatBytes, destination) != 0) return -1;
    PlatformCodecStream* stream = nullptr;
    if (codec->OpenStream(format, formatBytes, destination, &stream) != 0) return -1;

    uint32_t capacity = 0;
    if (codec->GetOutputSize(stream, block, blockBytes, &capacity) != 0 || capacity == 0) {
        codec->CloseStream(stream);
        return -1;
    }
    WaveFormat pcmWave;
    ReadWaveFormat(destination, &pcmWave);
    pcmWave.channelMask = ReadChannelMask(format, formatBytes);
    uint8_t* output = nullptr;
    if (place != nullptr && capacity % pcmWave.blockAlign == 0) {
        output = place->Reserve(place->context, &pcmWave, capacity);
    }
    int inPlace = output != nullptr;
    if (output == nullptr) output = (uint8_t*)AllocateWriteOnceBlock(capacity);
    if (output == nullptr) {
        codec->CloseStream(stream);
        return -1;
    }
    uint32_t used = 0;
    int result = 1;
    if (IsSoundDecodeSplitting() && capacity >= MIN_SPLIT_SECONDS * pcmWave.averageBytesPerSecond) {
        result = ConvertInHalves(codec, stream, block, blockBytes, format, formatBytes, destination, output, capacity,
                                 &used);
    }
    if (result == 1) {
        result = codec->Convert(stream, block, blockBytes, output, capacity, &used);
        if (used > capacity) result = -1;
    }
    if (result != 0) {
        codec->CloseStream(stream);
        if (!inPlace) free(output);
        return -1;
    }
    if (ProcessWindowMessages() != 0) {
        codec->CloseStream(stream);
        if (!inPlace) free(output);
        return -1;
    }
    int released = codec->ReleaseBlock(stream);
    while (released == CODEC_BUSY) {
        if (ProcessWindowMessages() != 0) break;
        released = codec->ReleaseBlock(stream);
    }
    if (released != 0) {
        codec->CloseStream(stream);
        if (!inPlace) free(output);
        return -1;
    }
    if (codec->CloseStream(stream) != 0) {
        if (!inPlace) free(output);
        return -1;
    }
    memcpy(pcmFormat, destination, CODEC_PCM_FORMAT_BYTES);
    *pcm = output;
    *pcmBytes = used;
    *placed = inPlace;
    return 0;
}
