// codec.h: conversion of compressed sound data to PCM, asked of the platform.
//
// The contract of a codec manager: the caller hands over a wave-format record
// (the platform's WAVEFORMATEX layout, little-endian, with the extra bytes of
// compressed formats), asks which PCM format the codec will give, opens a
// stream, asks for an upper bound of the PCM a block gives, converts the whole
// block in one call, takes the block back and closes the stream.
//
// Private to the library. The real table, CODEC_OPS (platform/codecs/), decodes
// MPEG audio with libmpg123 (gapless) and the other compressed WAVE formats
// with libsndfile reading the block from memory.
#pragma once

#include <cstdint>

enum {
    CODEC_PCM_FORMAT_BYTES = 18,  // a PCM wave-format record: no extra bytes
    CODEC_BUSY = 513,             // ReleaseBlock: the codec still holds the block
    // Wave-format tags the codecs know.
    CODEC_TAG_PCM = 1,
    CODEC_TAG_MS_ADPCM = 2,
    CODEC_TAG_IEEE_FLOAT = 3,
    CODEC_TAG_ALAW = 6,
    CODEC_TAG_MULAW = 7,
    CODEC_TAG_IMA_ADPCM = 0x11,
    CODEC_TAG_GSM610 = 0x31,
    CODEC_TAG_MPEG = 0x50,
    CODEC_TAG_MPEG_LAYER3 = 0x55,
    CODEC_TAG_EXTENSIBLE = 0xFFFE,
};

struct PlatformCodecStream;  // one conversion, owned by the codec

struct PlatformCodecOps {
    // Fills pcmFormat (CODEC_PCM_FORMAT_BYTES bytes, its tag preset to 1 by
    // the caller) with the PCM format the codec gives for sourceFormat. 0 or -1.
    int (*SuggestFormat)(const uint8_t* sourceFormat, uint32_t sourceFormatBytes,
                         uint8_t* pcmFormat);
    // Opens a conversion from sourceFormat to pcmFormat. 0 or -1.
    int (*OpenStream)(const uint8_t* sourceFormat, uint32_t sourceFormatBytes,
                      const uint8_t* pcmFormat, PlatformCodecStream** stream);
    // An upper bound (bytes) of the PCM that the block converts to. 0 or -1.
    int (*GetOutputSize)(PlatformCodecStream* stream, const uint8_t* source,
                         uint32_t sourceBytes, uint32_t* pcmBytes);
    // Converts the whole block in this one call, writing at most pcmCapacity
    // bytes; pcmBytesUsed gets the count written. 0 or -1.
    int (*Convert)(PlatformCodecStream* stream, const uint8_t* source, uint32_t sourceBytes,
                   uint8_t* pcm, uint32_t pcmCapacity, uint32_t* pcmBytesUsed);
    // Takes the block back: CODEC_BUSY while the codec still holds it, 0 when
    // done, -1 on failure.
    int (*ReleaseBlock)(PlatformCodecStream* stream);
    // Ends the conversion and frees the stream. 0 or -1.
    int (*CloseStream)(PlatformCodecStream* stream);
    // Optional (null when no codec can): readies a stream of its own to
    // convert the block from a point near the middle of its PCM, for a
    // conversion split in two. pcmBytes is the whole conversion's size
    // (GetOutputSize); fromBytes gets where the second part starts (whole
    // frames, 0 < from < pcmBytes). The next Convert on this stream then
    // gives exactly the bytes that a whole conversion gives from there on.
    // -1 when the block or its format has no such point.
    int (*StartAtMiddle)(PlatformCodecStream* stream, const uint8_t* source, uint32_t sourceBytes,
                         uint32_t pcmBytes, uint32_t* fromBytes);
};

// libmpg123 and libsndfile.
extern const PlatformCodecOps CODEC_OPS;
