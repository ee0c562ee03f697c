// pcm_convert.cpp: turns a compressed block (MPEG audio, compressed WAVE data)
// into PCM through the platform's codecs, in one conversion call.
//
// The message pump runs around the release of the block so that the window
// stays alive; a quit seen there fails the conversion. Nothing here writes to
// the log.
#include <cstdlib>
#include <cstring>

#include "platform/codec.h"
#include "platform/platform.h"
#include "sound/sound_loader_internal.h"

int ConvertToPcm(const uint8_t* block, uint32_t blockBytes, const uint8_t* format, uint32_t formatBytes,
                 uint8_t** pcm, uint32_t* pcmBytes, uint8_t* pcmFormat) {
    const PlatformCodecOps* codec = PLATFORM.codec;
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
    uint8_t* output = (uint8_t*)AllocateWriteOnceBlock(capacity);
    if (output == nullptr) {
        codec->CloseStream(stream);
        return -1;
    }
    uint32_t used = 0;
    if (codec->Convert(stream, block, blockBytes, output, capacity, &used) != 0 || used > capacity) {
        codec->CloseStream(stream);
        free(output);
        return -1;
    }
    if (ProcessWindowMessages() != 0) {
        codec->CloseStream(stream);
        free(output);
        return -1;
    }
    int released = codec->ReleaseBlock(stream);
    while (released == CODEC_BUSY) {
        if (ProcessWindowMessages() != 0) break;
        released = codec->ReleaseBlock(stream);
    }
    if (released != 0) {
        codec->CloseStream(stream);
        free(output);
        return -1;
    }
    if (codec->CloseStream(stream) != 0) {
        free(output);
        return -1;
    }
    memcpy(pcmFormat, destination, CODEC_PCM_FORMAT_BYTES);
    *pcm = output;
    *pcmBytes = used;
    return 0;
}
