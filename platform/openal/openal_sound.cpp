// openal_sound.cpp: the sound device on OpenAL Soft.
//
// The device is an ALC device with one context. Every secondary buffer is one
// AL buffer played by one AL source of its own:
//   - playing bit   = the source is AL_PLAYING;
//   - Stop          = alSourcePause, so the position stays where it was;
//   - position      = the source's sample offset times the buffer's block size,
//                     or, while the source is stopped, the offset the next Play
//                     starts from (0 after a play that ran to its end);
//   - rate          = AL_PITCH, the rate in Hz over the buffer's own rate.
// Every source uses the best band-limited resampler the library offers, so a
// sound played faster or slower does not alias.
//
// Lock hands out a staging block in the buffer's own format; the data is
// uploaded with alBufferData (converted first when the device cannot take the
// layout as it is) once the block has been written from start to end, or at the
// next Play. The staging block is then freed: a buffer is filled once, and a
// later Lock is refused, since its earlier content cannot be read back.
//
// A buffer in keep-pitch mode is heard through a second source of its own,
// which a thread feeds with the buffer's data time-stretched (see "Keep-pitch
// playback" below). The data is read where the library keeps it: every
// buffer's storage stays mapped for reading once it is filled.
//
// Tests and benchmarks can open a loopback device instead of the default one
// and render its output into memory (see platform/sound_device.h).
#define AL_ALEXT_PROTOTYPES
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "platform/platform.h"
#include "platform/sound_device.h"
#include "platform/stretcher.h"

namespace {

enum {
    MAX_OPENAL_BUFFERS = SOUND_DEVICE_MAX_BUFFERS,
    MAX_RESAMPLERS = 16,
    MIN_BUFFER_RATE = 100,     // Hz
    MAX_BUFFER_RATE = 200000,  // Hz
};

// The library's default of 256 sources would refuse buffers long before the
// table is full: ask for one per buffer. 1.19 adds the two counts into one
// limit; a buffer may hold either layout, so each gets the whole number.
#define SOURCE_COUNT_ATTRIBUTES ALC_MONO_SOURCES, MAX_OPENAL_BUFFERS, ALC_STEREO_SOURCES, MAX_OPENAL_BUFFERS

// A mono source is panned to the front centre, which a stereo output plays at
// this level on each side (measured on the loopback mixer: about -4.5 dB). Its
// gain is raised by the inverse so that mono sounds at its own level on both.
constexpr float MONO_CENTRE_LEVEL = 0.595662117f;

// The largest step (source samples per output sample) each kind of resampler
// plays at full level in 1.19, measured on the loopback mixer: the 23rd-order
// sinc holds its level to a step of 4.94 and falls beyond (silent by 12), the
// 11th-order one to 4.5; the others reach the mixer's own limit of 255.
constexpr double MAX_STEP_SINC23 = 4.9;
constexpr double MAX_STEP_SINC = 4.5;
constexpr double MAX_STEP = 255;

// The mapped-buffer extension of 1.19 (AL_SOFTX_map_buffer, later
// AL_SOFT_map_buffer) is not in its headers: its entry points are looked up
// at run time.
typedef void (*MapBufferStorage)(ALuint buffer, ALenum format, const ALvoid* data, ALsizei size, ALsizei rate,
                                 ALuint flags);
typedef void* (*MapBufferMemory)(ALuint buffer, ALsizei offset, ALsizei length, ALuint access);
typedef void (*UnmapBufferMemory)(ALuint buffer);
const ALuint MAP_READ_BIT = 0x1, MAP_WRITE_BIT = 0x2, MAP_PERSISTENT_BIT = 0x4;

struct OpenAlStream;

struct OpenAlBuffer {
    int used;
    ALuint buffer, source;
    WaveFormat format;        // the buffer's own format
    uint32_t flags;           // DSBCAPS_*
    uint32_t bytes;           // size in the buffer's own format
    int attached;             // the source holds the AL buffer (data uploaded)
    uint8_t* staging;         // Lock's block, null once uploaded
    int locked;
    uint32_t lockOffset;      // bytes, where part 1 of the current lock starts
    uint32_t coveredEnd;      // bytes written from the start without a hole
    int dirty;                // staging holds data not yet uploaded
    int filled;               // staging was uploaded and freed
    uint32_t pendingFrame;    // where a stopped source starts its next play
    double maxStep;           // of the source's resampler, see MAX_STEP_*
    float pitch;              // the source's AL_PITCH as last set (1 when made)
    int looping;              // the source's AL_LOOPING as last set
    int mapped;               // the AL buffer's storage is mapped for writing
    float gain;               // volume, 0..1 (1 when made)
    float makeUp;             // gain that makes a mono buffer as loud as stereo (1 for others)
    uint32_t loopStart, loopEnd;  // frames of the section a loop repeats; 0, 0 = all
    int semitones;            // pitch moved in keep-pitch mode
    // The AL buffer's storage, mapped for reading once filled: what keep-pitch
    // mode plays from. Its layout is the uploaded one.
    const uint8_t* stored;
    int storedChannels;
    int storedSampleBytes;    // 1 (unsigned 8-bit), 2 (16-bit) or 4 (float)
    ALenum streamFormat;      // the float format of those channels, 0 when none
    OpenAlStream* stream;     // keep-pitch mode, else null
};

struct OpenAlSoundState {
    ALCdevice* device;
    ALCcontext* context;
    int loopback;             // the open device is a loopback device
    int outputRate;           // Hz, of the device's mix
    int primaryBuffer;
    // Loopback request for the next CreateDevice.
    int loopbackRequested;
    int loopbackRate, loopbackChannels, loopbackType;
    int resamplerCount;
    int chosenResampler;      // index, -1 when the library has no choice
    int resamplerOverride;    // index + 1; 0 = use the choice
    char resamplerNames[MAX_RESAMPLERS][64];
    int hasFloat, hasMultiChannel, hasDirectChannels;
    // Buffer storage mapped into our memory (null without the extension).
    MapBufferStorage storeBuffer;
    MapBufferMemory mapBuffer;
    UnmapBufferMemory unmapBuffer;
    OpenAlBuffer buffers[MAX_OPENAL_BUFFERS + 1];  // by id, 0 unused
};

OpenAlSoundState AL_SOUND = {};

OpenAlBuffer* Live(int id) {
    if (!AL_SOUND.context || id <= 0 || id > MAX_OPENAL_BUFFERS) return nullptr;
    return AL_SOUND.buffers[id].used ? &AL_SOUND.buffers[id] : nullptr;
}

// The order of a sinc resampler from its name ("23rd order Sinc"), 0 for others.
int SincOrder(const char* name) {
    const char* sinc = strstr(name, "Sinc");
    if (!sinc) sinc = strstr(name, "sinc");
    if (!sinc) return 0;
    int order = atoi(name);
    return order > 0 ? order : 1;
}

void ReadResamplers(void) {
    AL_SOUND.resamplerCount = 0;
    AL_SOUND.chosenResampler = -1;
    if (!alIsExtensionPresent("AL_SOFT_source_resampler")) return;
    int count = alGetInteger(AL_NUM_RESAMPLERS_SOFT);
    if (count > MAX_RESAMPLERS) count = MAX_RESAMPLERS;
    int bestOrder = 0;
    for (int i = 0; i < count; i++) {
        const ALchar* name = alGetStringiSOFT(AL_RESAMPLER_NAME_SOFT, i);
        snprintf(AL_SOUND.resamplerNames[i], sizeof AL_SOUND.resamplerNames[i], "%s", name ? name : "");
        int order = SincOrder(AL_SOUND.resamplerNames[i]);
        if (order > bestOrder) {
            bestOrder = order;
            AL_SOUND.chosenResampler = i;
        }
    }
    AL_SOUND.resamplerCount = count;
    if (AL_SOUND.chosenResampler < 0) AL_SOUND.chosenResampler = alGetInteger(AL_DEFAULT_RESAMPLER_SOFT);
}

// ---- Device ----

void ReadOutputRate(void) {
    ALCint rate = 0;
    alcGetIntegerv(AL_SOUND.device, ALC_FREQUENCY, 1, &rate);
    AL_SOUND.outputRate = rate > 0 ? rate : 44100;
}

double GetMaxStep(int resampler) {
    if (resampler < 0 || resampler >= AL_SOUND.resamplerCount) return MAX_STEP;
    int order = SincOrder(AL_SOUND.resamplerNames[resampler]);
    return order >= 23 ? MAX_STEP_SINC23 : order > 0 ? MAX_STEP_SINC : MAX_STEP;
}

int OpenContext(const ALCint* attributes) {
    AL_SOUND.context = alcCreateContext(AL_SOUND.device, attributes);
    if (!AL_SOUND.context || !alcMakeContextCurrent(AL_SOUND.context)) {
        if (AL_SOUND.context) alcDestroyContext(AL_SOUND.context);
        AL_SOUND.context = nullptr;
        return -1;
    }
    AL_SOUND.hasFloat = alIsExtensionPresent("AL_EXT_FLOAT32");
    AL_SOUND.hasMultiChannel = alIsExtensionPresent("AL_EXT_MCFORMATS");
    AL_SOUND.hasDirectChannels = alIsExtensionPresent("AL_SOFT_direct_channels");
    AL_SOUND.storeBuffer = nullptr;
    AL_SOUND.mapBuffer = nullptr;
    AL_SOUND.unmapBuffer = nullptr;
    if (alIsExtensionPresent("AL_SOFTX_map_buffer") || alIsExtensionPresent("AL_SOFT_map_buffer")) {
        AL_SOUND.storeBuffer = (MapBufferStorage)alGetProcAddress("alBufferStorageSOFT");
        AL_SOUND.mapBuffer = (MapBufferMemory)alGetProcAddress("alMapBufferSOFT");
        AL_SOUND.unmapBuffer = (UnmapBufferMemory)alGetProcAddress("alUnmapBufferSOFT");
        if (!AL_SOUND.storeBuffer || !AL_SOUND.mapBuffer || !AL_SOUND.unmapBuffer) AL_SOUND.storeBuffer = nullptr;
    }
    ReadResamplers();
    ReadOutputRate();
    return 0;
}

int AlCreateDevice(void) {
    if (AL_SOUND.device) return -1;
    if (AL_SOUND.loopbackRequested) {
        AL_SOUND.device = alcLoopbackOpenDeviceSOFT(nullptr);
        if (!AL_SOUND.device) return -1;
        AL_SOUND.loopback = 1;
        ALCint type = AL_SOUND.loopbackType == LOOPBACK_FLOAT ? ALC_FLOAT_SOFT : ALC_SHORT_SOFT;
        ALCint channels = AL_SOUND.loopbackChannels == 1 ? ALC_MONO_SOFT : ALC_STEREO_SOFT;
        ALCint attributes[] = {
            ALC_FORMAT_CHANNELS_SOFT, channels, ALC_FORMAT_TYPE_SOFT, type,
            ALC_FREQUENCY, AL_SOUND.loopbackRate, ALC_HRTF_SOFT, ALC_FALSE,
            ALC_OUTPUT_LIMITER_SOFT, ALC_FALSE, SOURCE_COUNT_ATTRIBUTES, 0,
        };
        if (!alcIsRenderFormatSupportedSOFT(AL_SOUND.device, AL_SOUND.loopbackRate, channels, type) ||
            OpenContext(attributes) != 0) {
            alcCloseDevice(AL_SOUND.device);
            AL_SOUND.device = nullptr;
            AL_SOUND.loopback = 0;
            return -1;
        }
        return 0;
    }
    AL_SOUND.device = alcOpenDevice(nullptr);
    if (!AL_SOUND.device) return -1;
    AL_SOUND.loopback = 0;
    // No output limiter, as on the loopback device: levels are kept within full
    // scale where sounds are made (mono make-up, folded layouts), and the
    // limiter's per-sample gain tracking would cost the mixer more than the mix.
    ALCint attributes[] = {ALC_HRTF_SOFT, ALC_FALSE, ALC_OUTPUT_LIMITER_SOFT, ALC_FALSE, SOURCE_COUNT_ATTRIBUTES, 0};
    if (OpenContext(attributes) != 0) {
        alcCloseDevice(AL_SOUND.device);
        AL_SOUND.device = nullptr;
        return -1;
    }
    return 0;
}

// Nothing to negotiate: the device mixes for every program on its own.
int AlSetCooperativeLevel(void) { return AL_SOUND.context ? 0 : -1; }

// The primary buffer only carries the output format.
int AlCreatePrimaryBuffer(void) {
    if (!AL_SOUND.context) return -1;
    AL_SOUND.primaryBuffer = 1;
    return 0;
}

int AlGetCaps(PlatformSoundCaps* caps) {
    *caps = PlatformSoundCaps{};
    if (!AL_SOUND.context) return -1;
    // The mixer takes 8 and 16-bit, mono and stereo data at any rate and mixes
    // in software; there is no device memory.
    caps->flags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT | DSCAPS_PRIMARY16BIT |
                  DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT | DSCAPS_SECONDARY16BIT;
    caps->minSecondaryRate = MIN_BUFFER_RATE;
    caps->maxSecondaryRate = MAX_BUFFER_RATE;
    return 0;
}

// The output rate follows the primary format; a loopback device keeps the
// output its user asked for.
int AlSetPrimaryFormat(const WaveFormat* format) {
    if (!AL_SOUND.primaryBuffer || format->formatTag != WAVE_FORMAT_PCM || format->samplesPerSecond == 0) return -1;
    if (AL_SOUND.loopback) return 0;
    ALCint attributes[] = {ALC_FREQUENCY, (ALCint)format->samplesPerSecond, ALC_HRTF_SOFT, ALC_FALSE,
                           SOURCE_COUNT_ATTRIBUTES, 0};
    if (!alcResetDeviceSOFT(AL_SOUND.device, attributes)) return -1;
    ReadOutputRate();
    return 0;
}

void AlStopPrimaryBuffer(void) {}
void AlReleasePrimaryBuffer(void) { AL_SOUND.primaryBuffer = 0; }

void AlReleaseBuffer(int id);

void AlReleaseDevice(void) {
    if (!AL_SOUND.device) return;
    for (int id = 1; id <= MAX_OPENAL_BUFFERS; id++) {
        if (AL_SOUND.buffers[id].used) AlReleaseBuffer(id);
    }
    alcMakeContextCurrent(nullptr);
    if (AL_SOUND.context) alcDestroyContext(AL_SOUND.context);
    alcCloseDevice(AL_SOUND.device);
    AL_SOUND.context = nullptr;
    AL_SOUND.device = nullptr;
    AL_SOUND.loopback = 0;
    AL_SOUND.primaryBuffer = 0;
    AL_SOUND.resamplerCount = 0;
    AL_SOUND.chosenResampler = -1;
}

int AlEnumerateDevices(PlatformSoundDeviceCallback callback, void* context) {
    int all = alcIsExtensionPresent(nullptr, "ALC_ENUMERATE_ALL_EXT");
    const ALCchar* list = alcGetString(nullptr, all ? ALC_ALL_DEVICES_SPECIFIER : ALC_DEVICE_SPECIFIER);
    if (!list) return -1;
    // A list of UTF-8 names, each ended by a zero, the list by an empty name.
    for (const ALCchar* name = list; *name; name += strlen(name) + 1) {
        char description[512];
        ConvertUtf8ToSjis(name, description, sizeof description);
        callback(description, "openal", context);
    }
    return 0;
}

// ---- Buffers ----

// Bytes of one sample of one channel in a format the library accepts, 0 for
// any other format.
int SampleBytes(const WaveFormat* format) {
    if (format->formatTag == WAVE_FORMAT_PCM &&
        (format->bitsPerSample == 8 || format->bitsPerSample == 16 || format->bitsPerSample == 24 ||
         format->bitsPerSample == 32)) {
        return format->bitsPerSample / 8;
    }
    if (format->formatTag == WAVE_FORMAT_IEEE_FLOAT && (format->bitsPerSample == 32 || format->bitsPerSample == 64)) {
        return format->bitsPerSample / 8;
    }
    return 0;
}

int IsDirectFormat(const WaveFormat* format) {
    return format->formatTag == WAVE_FORMAT_PCM && (format->bitsPerSample == 8 || format->bitsPerSample == 16);
}

// ---- Speakers ----
//
// A channel mask names the speaker of each channel, lowest bit first (front
// left, front right, front centre, LFE, back left, back right, ...); a mask of 0
// stands for the usual layout of the channel count. Layouts the library mixes
// as they are go to it unchanged; any other one is folded to stereo by where
// its speakers stand.

enum { SPEAKER_LEFT, SPEAKER_RIGHT, SPEAKER_CENTRE, SPEAKER_LFE };
enum { KNOWN_SPEAKERS = 18 };

const uint8_t SPEAKER_SIDES[KNOWN_SPEAKERS] = {
    SPEAKER_LEFT,   SPEAKER_RIGHT,  SPEAKER_CENTRE, SPEAKER_LFE,    // front L, R, C, LFE
    SPEAKER_LEFT,   SPEAKER_RIGHT,                                  // back L, R
    SPEAKER_LEFT,   SPEAKER_RIGHT,  SPEAKER_CENTRE,                 // front left/right of centre, back C
    SPEAKER_LEFT,   SPEAKER_RIGHT,                                  // side L, R
    SPEAKER_CENTRE, SPEAKER_LEFT,   SPEAKER_CENTRE, SPEAKER_RIGHT,  // top C, top front L, C, R
    SPEAKER_LEFT,   SPEAKER_CENTRE, SPEAKER_RIGHT,                  // top back L, C, R
};

// The usual layout of 1 to 8 channels: mono, stereo, 3.0, quad, 5.0, 5.1,
// 6.1, 7.1.
const uint32_t DEFAULT_CHANNEL_MASKS[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};

// The library's own layouts (AL_EXT_MCFORMATS), in the order it takes them.
const uint32_t QUAD_MASK = 0x33, SURROUND51_MASK = 0x3F, SURROUND51_SIDE_MASK = 0x60F, SURROUND61_MASK = 0x70F,
               SURROUND71_MASK = 0x63F;

// The speakers the channels stand for: those of the mask given, or the usual
// ones when it names no known speaker. Bits past the channel count are not
// used; with fewer bits, the last channels have no speaker.
uint32_t GetSpeakerMask(const WaveFormat* format) {
    uint32_t mask = format->channelMask & ((1u << KNOWN_SPEAKERS) - 1);
    if (mask == 0) mask = DEFAULT_CHANNEL_MASKS[format->channels <= 8 ? format->channels : 8];
    uint32_t used = 0;
    for (int c = 0; c < format->channels && mask != 0; c++) {
        used |= mask & (0u - mask);  // the lowest bit left
        mask &= mask - 1;
    }
    return used;
}

// Where each channel is heard when folded to stereo: its gains on the left
// and on the right. Side speakers play on their side, centre ones on both at
// equal power, the LFE not at all, and channels the mask leaves without a
// speaker on both like the centre. All are scaled so that no sum can leave
// -1..1. gains holds 2 x channels values.
void GetFoldGains(const WaveFormat* format, float* gains) {
    const float centre = 0.70710678f;
    uint32_t mask = GetSpeakerMask(format);
    double left = 0, right = 0;
    for (int c = 0; c < format->channels; c++) {
        int side = SPEAKER_CENTRE;
        if (mask != 0) {
            int speaker = __builtin_ctz(mask);
            mask &= mask - 1;
            side = SPEAKER_SIDES[speaker];
        }
        float l = side == SPEAKER_LEFT ? 1.0f : side == SPEAKER_CENTRE ? centre : 0.0f;
        float r = side == SPEAKER_RIGHT ? 1.0f : side == SPEAKER_CENTRE ? centre : 0.0f;
        gains[2 * c] = l;
        gains[2 * c + 1] = r;
        left += l;
        right += r;
    }
    double larger = left > right ? left : right;
    float scale = larger > 1 ? (float)(1 / larger) : 1.0f;
    for (int i = 0; i < 2 * format->channels; i++) gains[i] *= scale;
}

// The library's multichannel format for the layout, by sample bits (8, 16 or
// 32 for float); 0 when it has none.
ALenum GetMultiChannelFormat(const WaveFormat* format, int bits) {
    if (!AL_SOUND.hasMultiChannel) return 0;
    int channels = format->channels;
    uint32_t mask = GetSpeakerMask(format);
    // Every channel must have its speaker: no bits fewer than channels.
    if (__builtin_popcount(mask) != channels) return 0;
    if (channels == 4 && mask == QUAD_MASK) {
        return bits == 8 ? AL_FORMAT_QUAD8 : bits == 16 ? AL_FORMAT_QUAD16 : AL_FORMAT_QUAD32;
    }
    if (channels == 6 && (mask == SURROUND51_MASK || mask == SURROUND51_SIDE_MASK)) {
        return bits == 8 ? AL_FORMAT_51CHN8 : bits == 16 ? AL_FORMAT_51CHN16 : AL_FORMAT_51CHN32;
    }
    if (channels == 7 && mask == SURROUND61_MASK) {
        return bits == 8 ? AL_FORMAT_61CHN8 : bits == 16 ? AL_FORMAT_61CHN16 : AL_FORMAT_61CHN32;
    }
    if (channels == 8 && mask == SURROUND71_MASK) {
        return bits == 8 ? AL_FORMAT_71CHN8 : bits == 16 ? AL_FORMAT_71CHN16 : AL_FORMAT_71CHN32;
    }
    return 0;
}

// Two channels are a stereo pair unless the mask puts them elsewhere.
int IsStereoPair(const WaveFormat* format) { return format->channels == 2 && GetSpeakerMask(format) == 0x3; }

// How a buffer's data goes to the library.
struct UploadLayout {
    ALenum format;     // AL format, 0 when the data cannot be played
    int channels;      // channels uploaded
    int sampleBytes;   // 1, 2 (as they are) or 4 (float)
    int asIs;          // the buffer's bytes go up unchanged
    int folded;        // the channels are folded to stereo by speaker position
};

// 8 and 16-bit data keep their depth, deeper ones become 32-bit float.
// Mono stays mono (its source's gain makes up for the centre panning).
// Layouts without a format of their own are folded to stereo.
UploadLayout GetUploadLayout(const WaveFormat* format) {
    UploadLayout layout = {};
    int direct = IsDirectFormat(format);
    int bits = direct ? format->bitsPerSample : 32;
    int channels = format->channels;
    if (bits == 32 && !AL_SOUND.hasFloat) return layout;
    layout.sampleBytes = bits / 8;
    ALenum multiChannel = channels > 2 ? GetMultiChannelFormat(format, bits) : 0;
    if (channels == 1) {
        layout.channels = 1;
        layout.format = bits == 8 ? AL_FORMAT_MONO8 : bits == 16 ? AL_FORMAT_MONO16 : AL_FORMAT_MONO_FLOAT32;
    } else if (IsStereoPair(format)) {
        layout.channels = 2;
        layout.format = bits == 8 ? AL_FORMAT_STEREO8 : bits == 16 ? AL_FORMAT_STEREO16 : AL_FORMAT_STEREO_FLOAT32;
    } else if (multiChannel != 0) {
        layout.channels = channels;
        layout.format = multiChannel;
    } else {
        if (!AL_SOUND.hasFloat) return layout;
        layout.channels = 2;
        layout.sampleBytes = 4;
        layout.format = AL_FORMAT_STEREO_FLOAT32;
        layout.folded = 1;
        direct = 0;
    }
    layout.asIs = direct && layout.channels == channels;
    return layout;
}

// One sample as a float in -1..1.
float ReadSample(const WaveFormat* format, const uint8_t* p) {
    if (format->formatTag == WAVE_FORMAT_IEEE_FLOAT) {
        if (format->bitsPerSample == 32) {
            float value;
            memcpy(&value, p, 4);
            return value;
        }
        double value;
        memcpy(&value, p, 8);
        return (float)value;
    }
    switch (format->bitsPerSample) {
    case 8: return ((int)p[0] - 128) / 128.0f;
    case 16: return (int16_t)(p[0] | p[1] << 8) / 32768.0f;
    case 24: return (int32_t)((uint32_t)p[0] << 8 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 24) / 2147483648.0f;
    default: return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24) /
                    2147483648.0f;
    }
}

// Converts frames of the buffer's own layout into the upload layout (32-bit
// float); returns a block the caller frees, or null when memory runs out.
uint8_t* ConvertFrames(const WaveFormat* format, const UploadLayout* layout, const uint8_t* data, uint32_t frames,
                       size_t* outBytes) {
    int channels = format->channels;
    int sampleBytes = SampleBytes(format);
    size_t outFrameBytes = (size_t)layout->channels * layout->sampleBytes;
    *outBytes = (size_t)frames * outFrameBytes;
    float* gains = nullptr;
    if (layout->folded) {
        gains = (float*)malloc(sizeof(float) * 2 * (size_t)channels);
        if (!gains) return nullptr;
        GetFoldGains(format, gains);
    }
    uint8_t* out = (uint8_t*)malloc(*outBytes);
    if (!out) {
        free(gains);
        return nullptr;
    }
    for (uint32_t f = 0; f < frames; f++) {
        const uint8_t* in = data + (size_t)f * format->blockAlign;
        uint8_t* to = out + (size_t)f * outFrameBytes;
        float values[8];
        if (!layout->folded) {
            for (int c = 0; c < channels; c++) values[c] = ReadSample(format, in + c * sampleBytes);
        } else {
            float left = 0, right = 0;
            for (int c = 0; c < channels; c++) {
                float v = ReadSample(format, in + c * sampleBytes);
                left += gains[2 * c] * v;
                right += gains[2 * c + 1] * v;
            }
            values[0] = left;
            values[1] = right;
        }
        memcpy(to, values, outFrameBytes);
    }
    free(gains);
    return out;
}

// The storage mapped for reading, in the layout it was uploaded in.
void KeepStorage(OpenAlBuffer* b, const UploadLayout* layout, void* memory) {
    b->stored = (const uint8_t*)memory;
    b->storedChannels = layout->channels;
    b->storedSampleBytes = layout->sampleBytes;
    b->streamFormat = !AL_SOUND.hasFloat ? 0
                      : layout->channels == 1 ? AL_FORMAT_MONO_FLOAT32
                      : layout->channels == 2 ? AL_FORMAT_STEREO_FLOAT32
                                              : GetMultiChannelFormat(&b->format, 32);
}

// Storage is mapped until it is replaced or deleted.
void ForgetStorage(OpenAlBuffer* b) {
    if (b->stored && AL_SOUND.unmapBuffer) AL_SOUND.unmapBuffer(b->buffer);
    b->stored = nullptr;
}

// Puts the staging block (or silence) into the AL buffer and attaches it to
// the source, keeping where the source stood.
int Upload(OpenAlBuffer* b, const uint8_t* data) {
    uint32_t frames = b->bytes / b->format.blockAlign;
    UploadLayout layout = GetUploadLayout(&b->format);
    // A size taken from the caller: memory that runs out fails the upload.
    uint8_t* silence = nullptr;
    if (!data) {
        size_t bytes = (size_t)frames * b->format.blockAlign;
        int unsigned8 = b->format.formatTag == WAVE_FORMAT_PCM && b->format.bitsPerSample == 8;
        silence = (uint8_t*)(unsigned8 ? malloc(bytes) : calloc(1, bytes));
        if (!silence) return -1;
        if (unsigned8) memset(silence, 0x80, bytes);
        data = silence;
    }
    uint8_t* converted = nullptr;
    size_t convertedBytes = 0;
    if (!layout.asIs) {
        converted = ConvertFrames(&b->format, &layout, data, frames, &convertedBytes);
        if (!converted) {
            free(silence);
            return -1;
        }
    }
    ALint state = AL_INITIAL;
    ALint frame = 0;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING || state == AL_PAUSED) {
        alGetSourcei(b->source, AL_SAMPLE_OFFSET, &frame);
        alSourceStop(b->source);
        b->pendingFrame = (uint32_t)frame;
    }
    alSourcei(b->source, AL_BUFFER, 0);
    alGetError();
    ForgetStorage(b);
    const void* upload = layout.asIs ? (const void*)data : (const void*)converted;
    ALsizei uploadBytes = layout.asIs ? (ALsizei)((size_t)frames * b->format.blockAlign) : (ALsizei)convertedBytes;
    if (AL_SOUND.storeBuffer) {
        // Readable storage: keep-pitch playback reads the data from there.
        AL_SOUND.storeBuffer(b->buffer, layout.format, upload, uploadBytes, (ALsizei)b->format.samplesPerSecond,
                             MAP_READ_BIT | MAP_PERSISTENT_BIT);
    } else {
        alBufferData(b->buffer, layout.format, upload, uploadBytes, b->format.samplesPerSecond);
    }
    free(converted);
    free(silence);
    if (alGetError() != AL_NO_ERROR) {
        b->attached = 0;
        return -1;
    }
    if (AL_SOUND.storeBuffer) {
        void* memory = AL_SOUND.mapBuffer(b->buffer, 0, uploadBytes, MAP_READ_BIT | MAP_PERSISTENT_BIT);
        if (alGetError() == AL_NO_ERROR) KeepStorage(b, &layout, memory);
    }
    alSourcei(b->source, AL_BUFFER, (ALint)b->buffer);
    b->attached = 1;
    if (state == AL_PLAYING) {
        alSourcei(b->source, AL_SAMPLE_OFFSET, (ALint)b->pendingFrame);
        alSourcePlay(b->source);
        b->pendingFrame = 0;
    }
    return alGetError() == AL_NO_ERROR ? 0 : -1;
}

// Uploads what the staging block holds; frees the block once it has been
// written from start to end.
int Flush(OpenAlBuffer* b) {
    if (!b->dirty) return 0;
    if (Upload(b, b->staging) != 0) return -1;
    b->dirty = 0;
    if (b->coveredEnd >= b->bytes) {
        free(b->staging);
        b->staging = nullptr;
        b->filled = 1;
    }
    return 0;
}

// The library takes at most what its size type holds, counted in the layout
// the data is uploaded in: 24-bit samples grow to floats, folded layouts to
// stereo floats.
uint64_t GetUploadBytes(const WaveFormat* format, const UploadLayout* layout, uint64_t bytes) {
    return bytes / format->blockAlign * (uint64_t)layout->channels * (uint64_t)layout->sampleBytes;
}

int AlCanHoldBuffer(const WaveFormat* format, uint32_t bytes) {
    int sampleBytes = SampleBytes(format);
    if (sampleBytes == 0 || format->channels == 0 || format->blockAlign != format->channels * sampleBytes) return 0;
    UploadLayout layout = GetUploadLayout(format);
    return layout.format != 0 && GetUploadBytes(format, &layout, bytes) <= INT32_MAX;
}

// A source set up to play a buffer of the given channels as it is: no
// distance, no direction, no virtual speakers, at the buffer's volume.
void SetUpSource(ALuint source, const OpenAlBuffer* b, int channels, int resampler) {
    alSourcei(source, AL_SOURCE_RELATIVE, AL_TRUE);
    alSource3f(source, AL_POSITION, 0.0f, 0.0f, 0.0f);
    alSourcef(source, AL_ROLLOFF_FACTOR, 0.0f);
    // Two channels go straight to the front pair; surround layouts are
    // spread over the output's speakers, so that no channel is dropped.
    int monoOutput = AL_SOUND.loopback && AL_SOUND.loopbackChannels == 1;
    if (AL_SOUND.hasDirectChannels && !monoOutput && channels == 2) alSourcei(source, AL_DIRECT_CHANNELS_SOFT, AL_TRUE);
    // The source's gain is clamped to its maximum gain (1 by default).
    if (b->makeUp != 1.0f) alSourcef(source, AL_MAX_GAIN, b->makeUp);
    alSourcef(source, AL_GAIN, b->gain * b->makeUp);
    if (resampler >= 0 && resampler < AL_SOUND.resamplerCount) alSourcei(source, AL_SOURCE_RESAMPLER_SOFT, resampler);
}

void EndStream(OpenAlBuffer* b);

int AlCreateBuffer(const WaveFormat* format, int bytes, uint32_t flags) {
    if (!AL_SOUND.context || (flags & DSBCAPS_PRIMARYBUFFER)) return -1;
    int sampleBytes = SampleBytes(format);
    if (sampleBytes == 0 || format->channels == 0 || format->blockAlign != format->channels * sampleBytes ||
        format->samplesPerSecond < MIN_BUFFER_RATE || format->samplesPerSecond > MAX_BUFFER_RATE ||
        bytes < (int)format->blockAlign) {
        return -1;
    }
    UploadLayout layout = GetUploadLayout(format);
    if (layout.format == 0 || GetUploadBytes(format, &layout, (uint64_t)bytes) > INT32_MAX) return -1;
    int id = 1;
    while (id <= MAX_OPENAL_BUFFERS && AL_SOUND.buffers[id].used) id++;
    if (id > MAX_OPENAL_BUFFERS) return -1;
    OpenAlBuffer* b = &AL_SOUND.buffers[id];
    *b = OpenAlBuffer{};
    b->pitch = 1.0f;
    alGetError();
    alGenBuffers(1, &b->buffer);
    if (alGetError() != AL_NO_ERROR) return -1;
    alGenSources(1, &b->source);
    if (alGetError() != AL_NO_ERROR) {
        alDeleteBuffers(1, &b->buffer);
        return -1;
    }
    int monoOutput = AL_SOUND.loopback && AL_SOUND.loopbackChannels == 1;
    b->gain = 1.0f;
    b->makeUp = layout.channels == 1 && !monoOutput ? 1.0f / MONO_CENTRE_LEVEL : 1.0f;
    int resampler = AL_SOUND.resamplerOverride > 0 ? AL_SOUND.resamplerOverride - 1 : AL_SOUND.chosenResampler;
    SetUpSource(b->source, b, layout.channels, resampler);
    b->maxStep = GetMaxStep(resampler);
    alGetError();
    b->used = 1;
    b->format = *format;
    b->format.averageBytesPerSecond = format->blockAlign * format->samplesPerSecond;
    b->flags = flags;
    b->bytes = (uint32_t)bytes;
    return id;
}

// ---- Keep-pitch playback ----
//
// The buffer's static source stands paused while a stream source of its own
// plays: a thread reads the stored data from the position on, converts it to
// float, has the stretcher play it at the rate's speed and the buffer's own
// pitch, and queues the result in a few short blocks, so that a change of
// speed is heard within a block or two. It checks the queue every few
// milliseconds, and at once when told of a change; nothing the caller does
// waits for it longer than the stretching of one block. What the thread and
// the caller share is under the stream's lock; the stretcher is the thread's.

enum {
    STREAM_BLOCKS = 4,            // queued at once (46 ms at 44100 Hz)
    STREAM_BLOCK_FRAMES = 512,    // output frames of a block (12 ms at 44100 Hz)
    STREAM_FEED_FRAMES = 256,     // input frames the stretcher is given at a time
    STREAM_HISTORY = 256,         // feeds remembered, to tell positions
    STREAM_WAKE_MS = 5,
};
constexpr double MIN_TEMPO = 0.05, MAX_TEMPO = 16.0;  // the stretcher's useful range

// Frames from frame on, given when unwrapped frames had been given since the
// last jump.
struct StreamFeed {
    double unwrapped;
    uint32_t frame, frames;
};

// A queued block: its frames, and the input it was made from (unwrapped
// position of its first frame, input frames per output frame).
struct StreamBlock {
    ALuint buffer;
    int frames;
    double start, tempo;
};

struct OpenAlStream {
    std::mutex lock;
    std::condition_variable wake;
    std::thread thread;
    ALuint source;
    // Set before the thread starts, then only read.
    const uint8_t* stored;
    int channels, sampleBytes, rate;
    uint32_t frames;
    ALenum format;
    // Under lock.
    int quit;
    int playing;                   // the caller wants it heard
    int looping;
    double tempo;                  // output speed over the buffer's own
    int semitones;
    int changed;                   // tempo or semitones not yet given to the stretcher
    uint32_t loopStart, loopEnd;   // frames; 0, 0 = all
    int seeking;                   // a jump the thread has not made yet
    uint32_t seekFrame;
    StreamBlock queued[STREAM_BLOCKS];  // in the source's queue, oldest first
    int queuedCount;
    ALuint spare[STREAM_BLOCKS];
    int spareCount;
    StreamFeed feeds[STREAM_HISTORY];
    int feedCount, feedNext;
    double fed;                    // input frames given since the last jump
    double produced;               // unwrapped input position of the next output frame
    uint32_t readFrame;            // the next input frame to give
    int inputEnded;                // a play without looping gave its last frame
    uint32_t restFrame;            // the position while nothing is queued
    // The thread's own.
    PlatformStretcher* stretcher;
    float input[STREAM_FEED_FRAMES * 8];
    float output[STREAM_BLOCK_FRAMES * 8];
};

// The section a play goes through: looping plays repeat the loop section.
void GetStreamSpan(const OpenAlStream* s, uint32_t* start, uint32_t* end) {
    int section = s->looping && s->loopEnd != 0;
    *start = section ? s->loopStart : 0;
    *end = section ? s->loopEnd : s->frames;
}

// The file frame behind an unwrapped input position.
uint32_t MapStreamInput(const OpenAlStream* s, double unwrapped) {
    if (s->feedCount == 0) return s->readFrame;
    const StreamFeed* oldest = nullptr;
    for (int k = 0; k < s->feedCount; k++) {
        const StreamFeed* f = &s->feeds[(s->feedNext - 1 - k + STREAM_HISTORY) % STREAM_HISTORY];
        oldest = f;
        if (unwrapped < f->unwrapped) continue;
        double into = unwrapped - f->unwrapped;
        uint32_t frame = f->frame + (into < f->frames ? (uint32_t)into : f->frames);
        uint32_t start, end;
        GetStreamSpan(s, &start, &end);
        return frame >= end ? start : frame;
    }
    return oldest->frame;
}

// Where the listener is, in frames of the buffer.
uint32_t GetStreamPosition(const OpenAlStream* s) {
    if (s->seeking) return s->seekFrame;
    if (s->queuedCount == 0) return s->restFrame;
    const StreamBlock* last = &s->queued[s->queuedCount - 1];
    double unwrapped = last->start + last->frames * last->tempo;
    ALint state = AL_INITIAL, offset = 0;
    alGetSourcei(s->source, AL_SOURCE_STATE, &state);
    // A source that ran dry stands at 0; it is past everything queued.
    if (state != AL_STOPPED) {
        alGetSourcei(s->source, AL_SAMPLE_OFFSET, &offset);
        // The offset counts from the first block still queued, played or not.
        for (int i = 0; i < s->queuedCount; i++) {
            if (offset < s->queued[i].frames) {
                unwrapped = s->queued[i].start + offset * s->queued[i].tempo;
                break;
            }
            offset -= s->queued[i].frames;
        }
    }
    return MapStreamInput(s, unwrapped);
}

// Gives the stretcher the next frames of the span (wrapping at a loop's end),
// or tells it the input has ended.
void FeedStream(OpenAlStream* s) {
    uint32_t start, end;
    GetStreamSpan(s, &start, &end);
    if (s->readFrame >= end) {
        if (!s->looping) {
            FlushStretcher(s->stretcher);
            s->inputEnded = 1;
            return;
        }
        s->readFrame = start;
    }
    uint32_t count = end - s->readFrame < (uint32_t)STREAM_FEED_FRAMES ? end - s->readFrame : (uint32_t)STREAM_FEED_FRAMES;
    int channels = s->channels;
    const uint8_t* from = s->stored + (size_t)s->readFrame * channels * s->sampleBytes;
    size_t samples = (size_t)count * channels;
    if (s->sampleBytes == 4) {
        memcpy(s->input, from, samples * 4);
    } else if (s->sampleBytes == 2) {
        for (size_t i = 0; i < samples; i++) s->input[i] = (int16_t)(from[2 * i] | from[2 * i + 1] << 8) / 32768.0f;
    } else {
        for (size_t i = 0; i < samples; i++) s->input[i] = ((int)from[i] - 128) / 128.0f;
    }
    s->feeds[s->feedNext] = StreamFeed{s->fed, s->readFrame, count};
    s->feedNext = (s->feedNext + 1) % STREAM_HISTORY;
    if (s->feedCount < STREAM_HISTORY) s->feedCount++;
    PutStretcherFrames(s->stretcher, s->input, (int)count);
    s->readFrame += count;
    s->fed += count;
}

// One block of output into s->output; its frames (fewer only at the end of
// a play without looping).
int ProduceStreamBlock(OpenAlStream* s) {
    int got = 0;
    while (got < STREAM_BLOCK_FRAMES) {
        int taken = TakeStretcherFrames(s->stretcher, s->output + (size_t)got * s->channels, STREAM_BLOCK_FRAMES - got);
        if (taken > 0) {
            got += taken;
        } else if (s->inputEnded) {
            break;
        } else {
            FeedStream(s);
        }
    }
    return got;
}

// Starts again from frame: what was queued and what the stretcher holds go.
void RestartStream(OpenAlStream* s, uint32_t frame) {
    // Rewound, the source lets its whole queue go at once, and counts no
    // block of the next queue as played before it plays.
    alSourceRewind(s->source);
    alSourcei(s->source, AL_BUFFER, 0);
    for (int i = 0; i < s->queuedCount; i++) s->spare[s->spareCount++] = s->queued[i].buffer;
    s->queuedCount = 0;
    ClearStretcher(s->stretcher);
    s->readFrame = s->restFrame = frame < s->frames ? frame : 0;
    s->fed = s->produced = 0;
    s->feedCount = s->feedNext = 0;
    s->inputEnded = 0;
}

// One pass of the thread: takes back what was played, queues new blocks and
// keeps the source playing while the caller wants it.
void ServeStream(OpenAlStream* s) {
    if (s->changed) {
        SetStretcherTempo(s->stretcher, s->tempo);
        SetStretcherSemitones(s->stretcher, s->semitones);
        s->changed = 0;
    }
    if (s->seeking) {
        RestartStream(s, s->seekFrame);
        s->seeking = 0;
    }
    ALint state = AL_INITIAL, processed = 0;
    alGetSourcei(s->source, AL_SOURCE_STATE, &state);
    // A stopped source counts its whole queue as played: it has, only when
    // it ran dry while it was to play.
    if (state == AL_PLAYING || state == AL_PAUSED || (state == AL_STOPPED && s->playing)) {
        alGetSourcei(s->source, AL_BUFFERS_PROCESSED, &processed);
    }
    for (; processed > 0 && s->queuedCount > 0; processed--) {
        ALuint buffer = 0;
        alSourceUnqueueBuffers(s->source, 1, &buffer);
        const StreamBlock* done = &s->queued[0];
        s->restFrame = MapStreamInput(s, done->start + done->frames * done->tempo);
        memmove(&s->queued[0], &s->queued[1], sizeof(StreamBlock) * (size_t)(s->queuedCount - 1));
        s->queuedCount--;
        s->spare[s->spareCount++] = buffer;
    }
    while (s->spareCount > 0 && !(s->inputEnded && s->queuedCount > 0)) {
        double tempo = s->tempo;
        double start = s->produced;
        int frames = ProduceStreamBlock(s);
        if (frames == 0) break;
        s->produced += frames * tempo;
        ALuint buffer = s->spare[--s->spareCount];
        alBufferData(buffer, s->format, s->output, (ALsizei)((size_t)frames * s->channels * sizeof(float)), s->rate);
        alSourceQueueBuffers(s->source, 1, &buffer);
        s->queued[s->queuedCount++] = StreamBlock{buffer, frames, start, tempo};
    }
    alGetSourcei(s->source, AL_SOURCE_STATE, &state);
    if (s->playing && state != AL_PLAYING) {
        if (s->queuedCount > 0) {
            // The first start, a resume, or a queue that ran dry.
            alSourcePlay(s->source);
        } else if (s->inputEnded) {
            // A play without looping has ended: it stands at the start again.
            s->playing = 0;
            RestartStream(s, 0);
        }
    }
}

void RunStream(OpenAlStream* s) {
    std::unique_lock<std::mutex> hold(s->lock);
    while (!s->quit) {
        ServeStream(s);
        s->wake.wait_for(hold, std::chrono::milliseconds(STREAM_WAKE_MS));
    }
}

// Tempo as the stretcher takes it.
double ClampTempo(double tempo) { return tempo < MIN_TEMPO ? MIN_TEMPO : tempo > MAX_TEMPO ? MAX_TEMPO : tempo; }

// Where the static source stands, in frames.
uint32_t GetStaticFrame(const OpenAlBuffer* b) {
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    if (state != AL_PLAYING && state != AL_PAUSED) return b->pendingFrame;
    ALint frame = 0;
    alGetSourcei(b->source, AL_SAMPLE_OFFSET, &frame);
    return (uint32_t)frame;
}

int StartStream(OpenAlBuffer* b) {
    if (!b->stored || !b->streamFormat || !b->filled || b->storedChannels > 8) return -1;
    OpenAlStream* s = new (std::nothrow) OpenAlStream();
    if (!s) return -1;
    s->stored = b->stored;
    s->channels = b->storedChannels;
    s->sampleBytes = b->storedSampleBytes;
    s->rate = (int)b->format.samplesPerSecond;
    s->frames = b->bytes / b->format.blockAlign;
    s->format = b->streamFormat;
    s->stretcher = CreateStretcher(s->rate, s->channels);
    alGetError();
    alGenSources(1, &s->source);
    if (!s->stretcher || alGetError() != AL_NO_ERROR) {
        if (s->stretcher) DestroyStretcher(s->stretcher);
        delete s;
        return -1;
    }
    alGenBuffers(STREAM_BLOCKS, s->spare);
    if (alGetError() != AL_NO_ERROR) {
        alDeleteSources(1, &s->source);
        DestroyStretcher(s->stretcher);
        delete s;
        return -1;
    }
    s->spareCount = STREAM_BLOCKS;
    int resampler = AL_SOUND.resamplerOverride > 0 ? AL_SOUND.resamplerOverride - 1 : AL_SOUND.chosenResampler;
    SetUpSource(s->source, b, s->channels, resampler);
    // The static source gives way where it stood.
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    uint32_t frame = GetStaticFrame(b);
    if (state == AL_PLAYING) alSourcePause(b->source);
    s->playing = state == AL_PLAYING;
    s->looping = b->looping;
    s->tempo = ClampTempo(b->pitch);
    s->semitones = b->semitones;
    s->changed = 1;
    s->loopStart = b->loopStart;
    s->loopEnd = b->loopEnd;
    s->readFrame = s->restFrame = frame < s->frames ? frame : 0;
    try {
        s->thread = std::thread(RunStream, s);
    } catch (...) {
        alDeleteSources(1, &s->source);
        alDeleteBuffers(STREAM_BLOCKS, s->spare);
        DestroyStretcher(s->stretcher);
        delete s;
        if (state == AL_PLAYING) alSourcePlay(b->source);
        return -1;
    }
    b->stream = s;
    return 0;
}

// Back to the static source, where the stream stood, playing if it played.
void EndStream(OpenAlBuffer* b) {
    OpenAlStream* s = b->stream;
    if (!s) return;
    uint32_t frame;
    int playing;
    {
        std::lock_guard<std::mutex> hold(s->lock);
        frame = GetStreamPosition(s);
        playing = s->playing;
        s->quit = 1;
        s->wake.notify_one();
    }
    s->thread.join();
    alSourceStop(s->source);
    alSourcei(s->source, AL_BUFFER, 0);
    alDeleteSources(1, &s->source);
    for (int i = 0; i < s->queuedCount; i++) s->spare[s->spareCount++] = s->queued[i].buffer;
    alDeleteBuffers(s->spareCount, s->spare);
    DestroyStretcher(s->stretcher);
    delete s;
    b->stream = nullptr;
    alGetError();
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING || state == AL_PAUSED) {
        alSourcei(b->source, AL_SAMPLE_OFFSET, (ALint)frame);
    } else {
        b->pendingFrame = frame;
    }
    if (playing) {
        alSourcei(b->source, AL_LOOPING, b->looping ? AL_TRUE : AL_FALSE);
        if (state != AL_PLAYING && state != AL_PAUSED) alSourcei(b->source, AL_SAMPLE_OFFSET, (ALint)frame);
        alSourcePlay(b->source);
        b->pendingFrame = 0;
    } else if (state == AL_PLAYING) {
        alSourcePause(b->source);
    }
    alGetError();
}

int AlSetVolume(int id, float gain) {
    OpenAlBuffer* b = Live(id);
    if (!b || !(gain >= 0.0f && gain <= 1.0f)) return -1;
    b->gain = gain;
    alGetError();
    alSourcef(b->source, AL_GAIN, gain * b->makeUp);
    if (b->stream) alSourcef(b->stream->source, AL_GAIN, gain * b->makeUp);
    return alGetError() == AL_NO_ERROR ? 0 : -1;
}

// Loop points may be set only on a buffer no source holds: the static
// source lets it go for a moment and goes on from the same frame.
int AlSetLoopSection(int id, uint32_t start, uint32_t end) {
    OpenAlBuffer* b = Live(id);
    if (!b || b->mapped) return -1;
    uint32_t frames = b->bytes / b->format.blockAlign;
    if (!(start == 0 && end == 0) && (start >= end || end > frames)) return -1;
    if (start == 0 && end == frames) end = 0;
    b->loopStart = start;
    b->loopEnd = end;
    if (b->stream) {
        std::lock_guard<std::mutex> hold(b->stream->lock);
        b->stream->loopStart = start;
        b->stream->loopEnd = end;
    }
    if (!b->attached || !alIsExtensionPresent("AL_SOFT_loop_points")) return b->attached ? -1 : 0;
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    uint32_t frame = GetStaticFrame(b);
    // The mixer wraps only on reaching the end: a play already past it
    // would run on to the buffer's end. It goes on from the section's start.
    if (end != 0 && frame >= end) frame = start;
    alGetError();
    alSourceStop(b->source);
    alSourcei(b->source, AL_BUFFER, 0);
    ALint points[2] = {(ALint)start, (ALint)(end != 0 ? end : frames)};
    alBufferiv(b->buffer, AL_LOOP_POINTS_SOFT, points);
    int result = alGetError() == AL_NO_ERROR ? 0 : -1;
    alSourcei(b->source, AL_BUFFER, (ALint)b->buffer);
    if (state == AL_PLAYING) {
        alSourcei(b->source, AL_SAMPLE_OFFSET, (ALint)frame);
        alSourcePlay(b->source);
    } else if (state == AL_PAUSED) {
        // Stopped now: the next play starts where it was paused.
        b->pendingFrame = frame;
    }
    if (alGetError() != AL_NO_ERROR) result = -1;
    return result;
}

int AlSetKeepPitch(int id, int keepPitch) {
    OpenAlBuffer* b = Live(id);
    if (!b) return -1;
    if (keepPitch) return b->stream ? 0 : StartStream(b);
    EndStream(b);
    return 0;
}

int AlSetPitchSemitones(int id, int semitones) {
    OpenAlBuffer* b = Live(id);
    if (!b || semitones < -12 || semitones > 12) return -1;
    b->semitones = semitones;
    if (b->stream) {
        std::lock_guard<std::mutex> hold(b->stream->lock);
        b->stream->semitones = semitones;
        b->stream->changed = 1;
        b->stream->wake.notify_one();
    }
    return 0;
}

int AlGetStatus(int id, uint32_t* status) {
    OpenAlBuffer* b = Live(id);
    if (!b) return -1;
    if (b->stream) {
        std::lock_guard<std::mutex> hold(b->stream->lock);
        *status = b->stream->playing ? DSBSTATUS_PLAYING | (b->stream->looping ? DSBSTATUS_LOOPING : 0) : 0;
        return 0;
    }
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    *status = state == AL_PLAYING ? DSBSTATUS_PLAYING | (b->looping ? DSBSTATUS_LOOPING : 0) : 0;
    return 0;
}

int AlGetPosition(int id, uint32_t* position) {
    OpenAlBuffer* b = Live(id);
    if (!b) return -1;
    if (b->stream) {
        std::lock_guard<std::mutex> hold(b->stream->lock);
        *position = GetStreamPosition(b->stream) * b->format.blockAlign;
        return 0;
    }
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING || state == AL_PAUSED) {
        ALint frame = 0;
        alGetSourcei(b->source, AL_SAMPLE_OFFSET, &frame);
        *position = (uint32_t)frame * b->format.blockAlign;
    } else {
        *position = b->pendingFrame * b->format.blockAlign;
    }
    return 0;
}

int AlPlay(int id, uint32_t flags) {
    OpenAlBuffer* b = Live(id);
    if (!b || b->mapped) return -1;
    if (b->dirty && Flush(b) != 0) return -1;
    if (!b->attached && Upload(b, nullptr) != 0) return -1;
    alGetError();
    alSourcei(b->source, AL_LOOPING, (flags & DSBPLAY_LOOPING) ? AL_TRUE : AL_FALSE);
    b->looping = (flags & DSBPLAY_LOOPING) != 0;
    if (b->stream) {
        std::lock_guard<std::mutex> hold(b->stream->lock);
        b->stream->looping = b->looping;
        b->stream->playing = 1;
        b->stream->wake.notify_one();
        return 0;
    }
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING) return alGetError() == AL_NO_ERROR ? 0 : -1;
    if (state != AL_PAUSED) {
        // A stopped source starts over at 0 unless it was given a position.
        alSourcei(b->source, AL_SAMPLE_OFFSET, (ALint)b->pendingFrame);
    }
    alSourcePlay(b->source);
    b->pendingFrame = 0;
    return alGetError() == AL_NO_ERROR ? 0 : -1;
}

int AlStop(int id) {
    OpenAlBuffer* b = Live(id);
    if (!b) return -1;
    if (b->stream) {
        std::lock_guard<std::mutex> hold(b->stream->lock);
        b->stream->playing = 0;
        alSourcePause(b->stream->source);
        return 0;
    }
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING) alSourcePause(b->source);
    return 0;
}

int AlSetPosition(int id, uint32_t bytes) {
    OpenAlBuffer* b = Live(id);
    if (!b || bytes > b->bytes) return -1;
    uint32_t frame = bytes / b->format.blockAlign;
    if (frame >= b->bytes / b->format.blockAlign) frame = 0;
    if (b->stream) {
        std::lock_guard<std::mutex> hold(b->stream->lock);
        b->stream->seeking = 1;
        b->stream->seekFrame = frame;
        b->stream->wake.notify_one();
        return 0;
    }
    ALint state = AL_INITIAL;
    alGetSourcei(b->source, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING || state == AL_PAUSED) {
        alGetError();
        alSourcei(b->source, AL_SAMPLE_OFFSET, (ALint)frame);
        return alGetError() == AL_NO_ERROR ? 0 : -1;
    }
    b->pendingFrame = frame;
    return 0;
}

// A rate is accepted when the buffer's resampler plays it at full level: the
// step per output sample is hz over the output rate (whatever the buffer's own
// rate), up to the resampler's largest. At 44100 Hz of output every rate of
// the range passes; slower outputs reach less. The other end needs no check:
// the smallest step (1/4096) lies below 100 Hz at any output rate (8000 to
// 192000 Hz).
int AlSetFrequency(int id, uint32_t hz) {
    OpenAlBuffer* b = Live(id);
    if (!b || !(b->flags & DSBCAPS_CTRLFREQUENCY)) return -1;
    if (hz != 0 && (hz < MIN_BUFFER_RATE || hz > MAX_BUFFER_RATE)) return -1;
    if (hz != 0 && hz > b->maxStep * AL_SOUND.outputRate) return -1;
    float pitch = hz == 0 ? 1.0f : (float)((double)hz / b->format.samplesPerSecond);
    // A program may set the same rate every frame; each set makes the mixer
    // recompute the source's parameters, and even asking the mixer takes its
    // locks, so an unchanged rate is answered from the record.
    if (pitch == b->pitch) return 0;
    alGetError();
    alSourcef(b->source, AL_PITCH, pitch);
    if (alGetError() != AL_NO_ERROR) return -1;
    b->pitch = pitch;
    // Kept by the static source for a return to the tape mode.
    if (b->stream) {
        std::lock_guard<std::mutex> hold(b->stream->lock);
        b->stream->tempo = ClampTempo(pitch);
        b->stream->changed = 1;
        b->stream->wake.notify_one();
    }
    return 0;
}

int AlLock(int id, uint32_t offset, uint32_t bytes, void** part1, uint32_t* bytes1, void** part2, uint32_t* bytes2) {
    OpenAlBuffer* b = Live(id);
    if (!b || b->locked || b->filled || b->mapped || offset >= b->bytes || bytes == 0 || bytes > b->bytes) return -1;
    if (offset + bytes > b->bytes && !part2) return -1;
    if (!b->staging) {
        // Silence until written. Zero silence comes from calloc, whose large
        // blocks are fresh zero pages: no pass over them before the caller's.
        int unsigned8 = b->format.formatTag == WAVE_FORMAT_PCM && b->format.bitsPerSample == 8;
        b->staging = (uint8_t*)(unsigned8 ? malloc(b->bytes) : calloc(1, b->bytes));
        if (!b->staging) return -1;
        AdviseHugePages(b->staging, b->bytes);
        if (unsigned8) memset(b->staging, 0x80, b->bytes);
    }
    b->locked = 1;
    b->lockOffset = offset;
    *part1 = b->staging + offset;
    *bytes1 = bytes <= b->bytes - offset ? bytes : b->bytes - offset;
    if (part2) {
        *bytes2 = bytes - *bytes1;
        *part2 = *bytes2 ? b->staging : nullptr;
    }
    return 0;
}

int AlUnlock(int id, void* part1, uint32_t bytes1, void* part2, uint32_t bytes2) {
    OpenAlBuffer* b = Live(id);
    if (!b || !b->locked || part1 != b->staging + b->lockOffset || bytes1 > b->bytes - b->lockOffset ||
        bytes2 > b->lockOffset || (bytes2 && part2 != b->staging)) {
        return -1;
    }
    b->locked = 0;
    if (bytes2 && b->coveredEnd < bytes2) b->coveredEnd = bytes2;
    if (b->lockOffset <= b->coveredEnd && b->coveredEnd < b->lockOffset + bytes1) b->coveredEnd = b->lockOffset + bytes1;
    if (bytes1 || bytes2) b->dirty = 1;
    // Whole: upload now and free the block. Partial: wait for more or for Play.
    if (b->coveredEnd >= b->bytes) return Flush(b);
    return 0;
}

// Lock, copy and Unlock of the whole buffer in one: the data goes up from
// where it is, with no staging block.
int AlFill(int id, const void* data, uint32_t bytes) {
    OpenAlBuffer* b = Live(id);
    if (!b || !data || b->locked || b->filled || b->mapped || b->staging || bytes != b->bytes) return -1;
    if (Upload(b, (const uint8_t*)data) != 0) return -1;
    b->dirty = 0;
    b->coveredEnd = b->bytes;
    b->filled = 1;
    return 0;
}

// The AL buffer's own storage, in the buffer's format, written in place:
// only layouts that go up as they are, and only before anything else has
// been put into the buffer.
int AlMapBuffer(int id, void** data) {
    OpenAlBuffer* b = Live(id);
    if (!b || !data || !AL_SOUND.storeBuffer || b->locked || b->filled || b->mapped || b->staging || b->attached) {
        return -1;
    }
    UploadLayout layout = GetUploadLayout(&b->format);
    if (!layout.asIs || layout.format == 0) return -1;
    ALsizei bytes = (ALsizei)(b->bytes - b->bytes % b->format.blockAlign);
    alGetError();
    // No data: the storage is made without a copy of anything.
    // The mapping lasts: once written, the same memory is read in keep-pitch mode.
    const ALuint access = MAP_READ_BIT | MAP_WRITE_BIT | MAP_PERSISTENT_BIT;
    AL_SOUND.storeBuffer(b->buffer, layout.format, nullptr, bytes, (ALsizei)b->format.samplesPerSecond, access);
    if (alGetError() != AL_NO_ERROR) return -1;
    void* memory = AL_SOUND.mapBuffer(b->buffer, 0, bytes, access);
    if (alGetError() != AL_NO_ERROR || !memory) return -1;
    b->mapped = 1;
    KeepStorage(b, &layout, memory);
    *data = memory;
    return 0;
}

// The writing ends and the buffer goes to its source; its mapping stays,
// for reading (a persistent mapping may be attached).
int AlUnmapBuffer(int id) {
    OpenAlBuffer* b = Live(id);
    if (!b || !b->mapped) return -1;
    alGetError();
    b->mapped = 0;
    alSourcei(b->source, AL_BUFFER, (ALint)b->buffer);
    if (alGetError() != AL_NO_ERROR) return -1;
    b->attached = 1;
    b->coveredEnd = b->bytes;
    b->filled = 1;
    return 0;
}

void AlReleaseBuffer(int id) {
    OpenAlBuffer* b = Live(id);
    if (!b) return;
    EndStream(b);
    if (b->mapped || b->stored) AL_SOUND.unmapBuffer(b->buffer);
    alSourceStop(b->source);
    alSourcei(b->source, AL_BUFFER, 0);
    alDeleteSources(1, &b->source);
    alDeleteBuffers(1, &b->buffer);
    alGetError();
    free(b->staging);
    *b = OpenAlBuffer{};
}

}  // namespace

const PlatformSoundOps OPENAL_SOUND_OPS = {
    AlCreateDevice, AlSetCooperativeLevel, AlCreatePrimaryBuffer, AlGetCaps,
    AlSetPrimaryFormat, AlStopPrimaryBuffer, AlReleasePrimaryBuffer, AlReleaseDevice,
    AlEnumerateDevices, AlCreateBuffer, AlGetStatus, AlGetPosition,
    AlPlay, AlStop, AlSetPosition, AlSetFrequency,
    AlLock, AlUnlock, AlReleaseBuffer, AlFill,
    AlCanHoldBuffer, AlMapBuffer, AlUnmapBuffer, AlSetVolume,
    AlSetLoopSection, AlSetKeepPitch, AlSetPitchSemitones,
};

// ---- Loopback and resamplers (tests and benchmarks) ----

int OpenLoopbackSoundDevice(int rate, int channels, int sampleType) {
    if (rate <= 0 || (channels != 1 && channels != 2) ||
        (sampleType != LOOPBACK_SHORT && sampleType != LOOPBACK_FLOAT)) {
        return -1;
    }
    if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")) return -1;
    AL_SOUND.loopbackRequested = 1;
    AL_SOUND.loopbackRate = rate;
    AL_SOUND.loopbackChannels = channels;
    AL_SOUND.loopbackType = sampleType;
    return 0;
}

int RenderLoopbackSamples(void* out, int frames) {
    if (!AL_SOUND.device || !AL_SOUND.loopback || frames < 0) return -1;
    alcRenderSamplesSOFT(AL_SOUND.device, out, frames);
    return 0;
}

void CloseLoopbackSoundDevice(void) { AL_SOUND.loopbackRequested = 0; }

int GetSoundResamplerCount(void) { return AL_SOUND.context ? AL_SOUND.resamplerCount : 0; }

const char* GetSoundResamplerName(int index) {
    if (!AL_SOUND.context || index < 0 || index >= AL_SOUND.resamplerCount) return "";
    return AL_SOUND.resamplerNames[index];
}

int GetChosenSoundResampler(void) { return AL_SOUND.context ? AL_SOUND.chosenResampler : -1; }

void SetSoundResamplerOverride(int index) { AL_SOUND.resamplerOverride = index >= 0 ? index + 1 : 0; }
