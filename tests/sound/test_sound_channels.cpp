// test_sound_channels.cpp: files of more than two channels through the loader
// and the real mixer (OpenAL Soft's loopback device, stereo output): each
// speaker's sound comes out on its own side. Ogg files are made by oggenc from
// WAVE files, so that both kinds carry the same speakers.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "signal_measure.h"
#include "sound_loader_test_support.h"
#include "sound_test_support.h"

#include "platform/sound_reader.h"
#include "sound/sound_loader_internal.h"

namespace {

[[maybe_unused]] const int NULL_DRIVER = setenv("ALSOFT_DRIVERS", "null", 1);

constexpr int RATE = 44100;
constexpr int FRAMES = RATE / 2;

// Speaker bits of a WAVE channel mask.
enum : uint32_t {
    FL = 0x1, FR = 0x2, FC = 0x4, LFE = 0x8, BL = 0x10, BR = 0x20, BC = 0x100, SL = 0x200, SR = 0x400,
};

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back((uint8_t)(v >> (8 * i)));
}

// A 16-bit WAVE with a 1 kHz tone at half scale on one channel, silence on
// the others; an EXTENSIBLE record when a mask is given.
std::vector<uint8_t> MakeToneWave(int channels, int toneChannel, uint32_t mask) {
    std::vector<uint8_t> format = MakePcmFormatChunk(channels, RATE, 16, mask ? 40 : 16);
    if (mask != 0) {
        format.resize(16);
        format[0] = 0xFE, format[1] = 0xFF;
        PutU16(format, 22);
        PutU16(format, 16);
        PutU32(format, mask);
        const uint8_t pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        format.insert(format.end(), pcmGuid, pcmGuid + 16);
    }
    std::vector<uint8_t> data;
    for (int i = 0; i < FRAMES; i++) {
        int16_t tone = (int16_t)lrint(16384 * sin(2 * M_PI * 1000 * i / RATE));
        for (int c = 0; c < channels; c++) PutU16(data, c == toneChannel ? (uint16_t)tone : 0);
    }
    return MakeRiffWave({{"fmt ", format}, {"data", data}});
}

class ChannelTest : public SoundTest {
protected:
    TempFolder temp;

    void SetUp() override {
        SoundTest::SetUp();
        PLATFORM.sound = &OPENAL_SOUND_OPS;
        PLATFORM.readers = SOUND_READERS;
        ASSERT_EQ(OpenLoopbackSoundDevice(RATE, 2, LOOPBACK_FLOAT), 0);
        ASSERT_EQ(InitSoundDevice(), 0);
    }

    // Plays a file in a loop; its level (RMS) on the left and on the right.
    void Listen(const std::string& path, double* left, double* right) {
        *left = *right = -1;
        int handle = LoadSoundFile(path.c_str());
        ASSERT_NE(handle, -1) << path;
        ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
        std::vector<float> stereo((size_t)FRAMES * 2);
        RenderLoopbackSamples(stereo.data(), 1024);  // past the resampler's start
        RenderLoopbackSamples(stereo.data(), FRAMES);
        std::vector<float> l(FRAMES), r(FRAMES);
        for (int i = 0; i < FRAMES; i++) l[i] = stereo[2 * i], r[i] = stereo[2 * i + 1];
        *left = RmsLevel(l);
        *right = RmsLevel(r);
        DeleteSoundHandle(handle);
    }
};

}  // namespace

TEST_F(ChannelTest, EachSpeakerIsHeardOnItsOwnSide) {
    enum Side { LEFT, RIGHT, BOTH, NONE };
    struct Case {
        int channels;
        uint32_t mask;  // 0: a plain PCM record, the usual speakers
        int tone;       // the channel that sounds
        Side side;
        bool ogg;       // also as Ogg Vorbis
    } cases[] = {
        // 3.0 (L R C) and 5.1 (L R C LFE BL BR), folded and the library's own.
        {3, 0, 0, LEFT, true}, {3, 0, 1, RIGHT, true}, {3, 0, 2, BOTH, true},
        {6, 0, 0, LEFT, true}, {6, 0, 1, RIGHT, true}, {6, 0, 2, BOTH, true},
        {6, 0, 3, NONE, true}, {6, 0, 4, LEFT, true}, {6, 0, 5, RIGHT, true},
        // 5.0: the fifth channel is back right.
        {5, 0, 4, RIGHT, false},
        // Masks: speakers go to channels lowest bit first.
        {4, FL | FR | FC | LFE, 2, BOTH, false}, {4, FL | FR | BL | BR, 3, RIGHT, false},
        {2, FC | FR, 0, RIGHT, false}, {2, FC | FR, 1, BOTH, false},
        {7, FL | FR | FC | LFE | BC | SL | SR, 4, BOTH, false},
    };
    for (const Case& c : cases) {
        for (int ogg = 0; ogg <= (int)c.ogg; ogg++) {
            SCOPED_TRACE(testing::Message() << c.channels << " channels, mask " << std::hex << c.mask << std::dec
                                            << ", tone on " << c.tone << (ogg ? ", Ogg" : ", WAVE"));
            std::string wav = temp.File("tone.wav");
            WriteWholeFile(wav, MakeToneWave(c.channels, c.tone, c.mask));
            std::string path = wav;
            if (ogg) {
                path = temp.File("tone.ogg");
                ASSERT_EQ(RunCommand("oggenc -Q -q 6 -o '" + path + "' '" + wav + "'"), 0);
            }
            // The first channel (a front speaker on its side) sets the level.
            double left, right, frontLeft, frontRight;
            Listen(path, &left, &right);
            WriteWholeFile(wav, MakeToneWave(c.channels, 0, c.mask));
            Listen(wav, &frontLeft, &frontRight);
            double front = std::max(frontLeft, frontRight);
            ASSERT_GT(front, 0.1);
            switch (c.side) {
            case LEFT:
            case RIGHT: {
                double near = c.side == LEFT ? left : right, far = c.side == LEFT ? right : left;
                // About as loud as the front; the library's own layouts
                // let a little of a back speaker through on the other side.
                EXPECT_GT(ToDecibels(near / front), -3.0);
                EXPECT_LT(ToDecibels(far / near), -15.0);
                break;
            }
            case BOTH:
                EXPECT_NEAR(ToDecibels(left / right), 0, 0.2);
                // Equal power (-3 dB), or the library's own panning of its
                // layouts' centres: -4.5 dB in front, -8 dB behind.
                EXPECT_GT(ToDecibels(left / front), -8.5);
                EXPECT_LT(ToDecibels(left / front), -2.5);
                break;
            case NONE:
                EXPECT_LT(ToDecibels(left / front), -40.0);
                EXPECT_LT(ToDecibels(right / front), -40.0);
                break;
            }
        }
    }
}

TEST_F(ChannelTest, SixChannelOggMatchesItsReferenceSampleForSample) {
    // The reference decodes keep Vorbis order; the loader gives WAVE order.
    const char* vorbisOrder[6] = {"FL", "FC", "FR", "BL", "BR", "LFE"};
    const char* waveOrder[6] = {"FL", "FR", "FC", "LFE", "BL", "BR"};
    int fromVorbis[6];
    for (int w = 0; w < 6; w++) {
        for (int v = 0; v < 6; v++) {
            if (strcmp(waveOrder[w], vorbisOrder[v]) == 0) fromVorbis[w] = v;
        }
    }
    struct Case {
        const char* file;
        const char* reference;
        bool isFloat;
        long frames;
    } cases[] = {
        {"6ch-moving-sine.ogg", "6ch-moving-sine_int16.s16le", false, 3072},
        {"noise-6ch.ogg", "noise-6ch_float.f32le", true, 8500},
    };
    std::string folder = GetCorpusDir() + "/ogg/libnogg/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<uint8_t> file = ReadWholeFile(folder + c.file);
        std::vector<uint8_t> referenceBytes = ReadWholeFile(folder + "ref/" + c.reference);
        ASSERT_FALSE(file.empty());
        std::vector<int> reference;
        for (size_t i = 0; i + (c.isFloat ? 4 : 2) <= referenceBytes.size(); i += c.isFloat ? 4 : 2) {
            if (c.isFloat) {
                float x;
                memcpy(&x, &referenceBytes[i], 4);
                reference.push_back((int)std::lrint(std::fmax(-32768.0, std::fmin(32767.0, x * 32768.0))));
            } else {
                reference.push_back((int16_t)(referenceBytes[i] | referenceBytes[i + 1] << 8));
            }
        }
        ASSERT_EQ(reference.size(), (size_t)c.frames * 6);

        MemorySoundStream stream;
        SoundDataSource source;
        OpenMemorySoundSource(&stream, file.data(), file.size(), &source);
        DecodedSound sound;
        ASSERT_EQ(DecodeSoundToPcm(&source, &sound), 0);
        ASSERT_EQ(sound.format.channels, 6);
        ASSERT_EQ(sound.pcmBytes, (uint32_t)c.frames * 12);
        int worst = 0;
        for (long f = 0; f < c.frames; f++) {
            for (int w = 0; w < 6; w++) {
                const uint8_t* p = sound.pcm + f * 12 + w * 2;
                int ours = (int16_t)(p[0] | p[1] << 8);
                worst = std::max(worst, std::abs(ours - reference[f * 6 + fromVorbis[w]]));
            }
        }
        // The two decoders round to 16 bits apart by at most one step.
        EXPECT_LE(worst, 1);
        FreeDecodedSound(&sound);
    }
}
