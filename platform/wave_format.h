// wave_format.h: the wave-format record that the sound device and the sound
// loader share, below both of them.
#pragma once

#include <cstdint>

// The platform's WAVEFORMATEX, without the extra bytes that may follow it,
// and the one extra field the device needs of them: the speakers of the
// channels (WAVE_FORMAT_EXTENSIBLE's channel mask, lowest bit first).
struct WaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSecond;
    uint32_t averageBytesPerSecond;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t extraSize;
    uint32_t channelMask;  // 0: the usual speakers of the channel count
};
