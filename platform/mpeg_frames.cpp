// mpeg_frames.cpp: bitrate and sample-rate tables of MPEG-1 and MPEG-2 audio
// (MPEG-2.5 takes MPEG-2's bitrates) and the frame-length formula.
#include "platform/mpeg_frames.h"

namespace {

// kbit/s by [MPEG-1 or not][layer I..III][bitrate index 0..14] (0 = free format).
const int MPEG_BITRATES[2][3][15] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
};
// Hz by [version bits][rate index]; version bits 1 are reserved.
const int MPEG_RATES[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

}  // namespace

int GetMpegBitrate(int mpeg1, int layer, int bitrateIndex) {
    if (layer < 1 || layer > 3 || bitrateIndex < 1 || bitrateIndex > 14) return 0;
    return MPEG_BITRATES[mpeg1 ? 1 : 0][layer - 1][bitrateIndex];
}

int GetMpegSampleRate(int versionBits, int rateIndex) {
    if (versionBits < 0 || versionBits > 3 || rateIndex < 0 || rateIndex > 2) return 0;
    return MPEG_RATES[versionBits][rateIndex];
}

int ComputeMpegFrameLength(int mpeg1, int layer, int bitrate, int rate, int padding) {
    if (bitrate == 0 || rate == 0) return 0;
    if (layer == 1) return (12000 * bitrate / rate + padding) * 4;
    // Layer III below MPEG-1 carries half the samples of a frame, so half the
    // bytes; layer II frames are as long as MPEG-1's.
    if (!mpeg1 && layer == 3) return 72000 * bitrate / rate + padding;
    return 144000 * bitrate / rate + padding;
}
