// test_sound_formats.cpp: FLAC, Ogg Opus and AAC/ALAC in MP4 through the
// loader, against ffmpeg's decode of the same file (sample for sample where
// the decoders are the same or lossless, within one step otherwise), their
// channels in WAVE order, their stated lengths, damaged and truncated
// files, and the loop seam of the lossy ones through the real mixer. The
// files are made here by sox, flac, opusenc and ffmpeg.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "platform/platform.h"
#include "platform/readers/reader_common.h"
#include "sound/sound_loader_internal.h"
#include "tests/sound/signal_measure.h"
#include "tests/sound/sound_loader_test_support.h"
#include "tests/sound/sound_test_support.h"

namespace {

[[maybe_unused]] const int NULL_DRIVER = setenv("ALSOFT_DRIVERS", "null", 1);

#ifdef RAVLIN_WITH_FFMPEG
const bool WITH_MP4 = true;
#else
const bool WITH_MP4 = false;  // a build without FFmpeg reads no .m4a
#endif

// Files this build does not read: the tests pass them by.
bool NotRead(const std::string& path) {
    return !WITH_MP4 && path.size() >= 4 && path.compare(path.size() - 4, 4, ".m4a") == 0;
}

class SoundFormats : public ::testing::Test {
protected:
    TempFolder temp;
    void SetUp() override {
        for (const char* tool : {"sox", "flac", "opusenc", "ffmpeg"}) {
            if (!HasProgram(tool)) GTEST_SKIP() << tool << " missing";
        }
        StartLoaderTestDevice();
    }
    void TearDown() override {
        SetSoundDecodeSplitting(1);
        SetOpusSplitPreroll(-1);
        EndLoaderTestDevice();
    }

    // Two tones, a sweep and a little noise; one channel of silence-free sound each.
    std::string MakeSource(const std::string& name, int channels, int rate, double seconds, int bits = 16) {
        std::string path = temp.File(name);
        std::string s = std::to_string(seconds);
        EXPECT_EQ(RunCommand("sox -R -n -b " + std::to_string(bits) + " -c " + std::to_string(channels) + " -r " +
                             std::to_string(rate) + " '" + path + "' synth " + s + " sine 440 sine 1250 synth " + s +
                             " sine mix 100-3000 synth " + s + " whitenoise mix vol 0.5 2>/dev/null"),
                  0);
        return path;
    }
    // A WAVE whose channels each hold a tone of their own (ToneOfChannel),
    // with the usual speakers of the count named (3.0, 5.1, 7.1).
    std::string MakeChannelTones(const std::string& name, int channels) {
        const uint32_t masks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
        std::vector<uint8_t> format = MakePcmFormatChunk(channels, 48000, 16);
        format[0] = 0xFE, format[1] = 0xFF;
        const uint8_t extension[24] = {22, 0, 16, 0, (uint8_t)masks[channels], (uint8_t)(masks[channels] >> 8), 0, 0,
                                       1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        format.insert(format.end(), extension, extension + 24);
        std::vector<uint8_t> data;
        for (int i = 0; i < 48000; i++) {
            for (int c = 0; c < channels; c++) {
                int16_t v = (int16_t)lrint(12000 * sin(2 * M_PI * ToneOfChannel(c, channels) * i / 48000));
                data.push_back((uint8_t)v);
                data.push_back((uint8_t)(v >> 8));
            }
        }
        std::string path = temp.File(name);
        WriteWholeFile(path, MakeRiffWave({{"fmt ", format}, {"data", data}}));
        return path;
    }
    // Hz; the LFE of 5.1 and 7.1 (channel 3) is low, as its coders keep it.
    static double ToneOfChannel(int c, int channels) { return c == 3 && channels >= 6 ? 80 : 400 + 300 * c; }
    std::vector<uint8_t> Decode(const std::string& command) {
        std::string out = temp.File("reference.raw");
        EXPECT_EQ(RunCommand(command + " > '" + out + "' 2>/dev/null"), 0) << command;
        return ReadWholeFile(out);
    }
    // The PCM bytes of a WAVE file's "data" chunk.
    std::vector<uint8_t> WaveData(const std::string& path) {
        std::vector<uint8_t> file = ReadWholeFile(path);
        for (size_t at = 12; at + 8 <= file.size();) {
            uint32_t size = file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16 | (uint32_t)file[at + 7] << 24;
            if (memcmp(&file[at], "data", 4) == 0) return std::vector<uint8_t>(file.begin() + at + 8, file.begin() + at + 8 + size);
            at += 8 + size + (size & 1);
        }
        return {};
    }
};

// Signal-to-difference ratio of b against a, dB.
double SignalToDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++) {
        signal += (double)a[i] * a[i];
        noise += ((double)a[i] - b[i]) * ((double)a[i] - b[i]);
    }
    return 10 * std::log10(signal / (noise + 1e-9));
}

// Where two byte blocks first differ (their common length when one is a
// prefix of the other).
size_t FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    size_t i = 0;
    while (i < n && a[i] == b[i]) i++;
    return i;
}

TEST_F(SoundFormats, FlacIsTheSourceSampleForSample) {
    struct Case {
        int channels, rate, bits;
    } cases[] = {{2, 44100, 16}, {2, 96000, 24}, {1, 22050, 16}, {6, 48000, 16}, {8, 44100, 24}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, " << c.bits << " bits");
        std::string source = MakeSource("source.wav", c.channels, c.rate, 1.3, c.bits);
        std::string flac = temp.File("sound.flac");
        ASSERT_EQ(RunCommand("flac -s -f -o '" + flac + "' '" + source + "'"), 0);
        LoadedSound sound = LoadThroughDevice(flac);
        ASSERT_NE(sound.handle, -1);
        EXPECT_EQ(sound.format.formatTag, 1);
        EXPECT_EQ(sound.format.channels, c.channels);
        EXPECT_EQ(sound.format.samplesPerSecond, (uint32_t)c.rate);
        EXPECT_EQ(sound.format.bitsPerSample, c.bits);
        // FLAC lays channels out as WAVE does: the usual speakers of the count.
        EXPECT_EQ(sound.format.channelMask, 0u);
        std::vector<uint8_t> data = WaveData(source);
        EXPECT_EQ(sound.bytes.size(), data.size());
        EXPECT_EQ(FirstDifference(sound.bytes, data), data.size());
        // ffmpeg's decoder (its own, not libFLAC) gives the same.
        std::vector<uint8_t> viaFfmpeg =
            Decode("ffmpeg -v quiet -i '" + flac + "' -f " + (c.bits == 16 ? "s16le" : "s24le") + " -");
        EXPECT_TRUE(viaFfmpeg == sound.bytes) << viaFfmpeg.size() << " bytes from ffmpeg";
        DeleteSoundHandle(sound.handle);
    }
}

TEST_F(SoundFormats, FlacDecodedInHalvesEqualsOneRunAndTrustsNoStatedLength) {
    std::string source = MakeSource("long.wav", 2, 44100, 5);
    std::string flac = temp.File("long.flac");
    ASSERT_EQ(RunCommand("flac -s -f -o '" + flac + "' '" + source + "'"), 0);
    std::vector<uint8_t> file = ReadWholeFile(flac);
    std::vector<uint8_t> data = WaveData(source);
    auto decode = DecodeBytes;
    std::vector<uint8_t> whole, halves;
    ASSERT_EQ(decode(file, 0, &whole), 0);
    int splits = GetSoundDecodeSplitCount();
    ASSERT_EQ(decode(file, 1, &halves), 0);
    EXPECT_EQ(GetSoundDecodeSplitCount(), splits + 1) << "not split";
    EXPECT_TRUE(whole == data);
    EXPECT_EQ(FirstDifference(halves, data), data.size());
    EXPECT_EQ(halves.size(), data.size());

    // The stream info's sample count (36 bits from the 14th byte of its
    // body, after "fLaC" and the block header) says three hours: the sound is
    // what the file holds, in a block that grew as it came.
    ASSERT_EQ(memcmp(file.data(), "fLaC", 4), 0);
    std::vector<uint8_t> claims = file;
    uint64_t hours = 44100ull * 3600 * 3;
    claims[8 + 13] = (uint8_t)((claims[8 + 13] & 0xF0) | (hours >> 32));
    for (int i = 0; i < 4; i++) claims[8 + 14 + i] = (uint8_t)(hours >> (24 - 8 * i));
    std::vector<uint8_t> pcm;
    ASSERT_EQ(decode(claims, 1, &pcm), 0);
    EXPECT_TRUE(pcm == data) << pcm.size() << " bytes";
    // Nor does the device make a buffer of the claimed 1.9 GB.
    WriteWholeFile(temp.File("claims.flac"), claims);
    size_t before = ResidentBytes();
    LoadedSound sound = LoadThroughDevice(temp.File("claims.flac"));
    EXPECT_LT(ResidentBytes() - before, (size_t)64 << 20);
    EXPECT_TRUE(sound.bytes == data);
    DeleteSoundHandle(sound.handle);
    // A sample count of 0 says nothing: the same.
    for (int i = 0; i < 4; i++) claims[8 + 14 + i] = 0;
    claims[8 + 13] &= 0xF0;
    ASSERT_EQ(decode(claims, 1, &pcm), 0);
    EXPECT_TRUE(pcm == data) << pcm.size() << " bytes";
}

TEST_F(SoundFormats, LongSoundsOnOneThreadComeOutWhole) {
    // A minute of stereo (10 MB of PCM) decoded on one thread: its block's
    // pages are faulted in by a thread of their own while the decoder
    // writes; the sound is the source all the same, in memory of the
    // decode's own and in the device's.
    std::string source = MakeSource("minute.wav", 2, 44100, 60);
    std::string flac = temp.File("minute.flac");
    ASSERT_EQ(RunCommand("flac -s -f -o '" + flac + "' '" + source + "'"), 0);
    std::vector<uint8_t> data = WaveData(source);
    std::vector<uint8_t> file = ReadWholeFile(flac);
    SetSoundDecodeSplitting(0);
    MemorySoundStream stream;
    SoundDataSource src;
    OpenMemorySoundSource(&stream, file.data(), file.size(), &src);
    DecodedSound sound;
    ASSERT_EQ(DecodeSoundToPcm(&src, &sound), 0);
    EXPECT_EQ(sound.pcmBytes, data.size());
    EXPECT_EQ(FirstDifference(std::vector<uint8_t>(sound.pcm, sound.pcm + sound.pcmBytes), data), data.size());
    FreeDecodedSound(&sound);
    LoadedSound loaded = LoadThroughDevice(flac);
    ASSERT_NE(loaded.handle, -1);
    EXPECT_EQ(FirstDifference(loaded.bytes, data), data.size());
    EXPECT_EQ(loaded.bytes.size(), data.size());
}

TEST_F(SoundFormats, OpusEqualsFfmpegAt48000Hz) {
    // libopus through ffmpeg rounds as the loader does: the same samples.
    // ffmpeg's own Opus decoder is another implementation (floats computed
    // otherwise, up to some twenty steps apart on noise): close on music
    // (CELT); speech at low rates (SILK) it resamples otherwise.
    struct Case {
        int channels, rate;
        double seconds;
        bool music;
    } cases[] = {{2, 44100, 1.5, true}, {1, 16000, 0.9, false}, {6, 48000, 0.7, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels at " << c.rate);
        std::string source = MakeSource("source.wav", c.channels, c.rate, c.seconds);
        std::string opus = temp.File("sound.opus");
        ASSERT_EQ(RunCommand("opusenc --quiet '" + source + "' '" + opus + "'"), 0);
        LoadedSound sound = LoadThroughDevice(opus);
        ASSERT_NE(sound.handle, -1);
        EXPECT_EQ(sound.format.samplesPerSecond, 48000u);
        EXPECT_EQ(sound.format.channels, c.channels);
        EXPECT_EQ(sound.format.bitsPerSample, 16);
        // The pre-skip and the end the last page gives: the source's length.
        EXPECT_EQ(sound.bytes.size(), (size_t)std::lround(c.seconds * 48000) * 2 * c.channels);
        std::vector<uint8_t> viaLibopus = Decode("ffmpeg -v quiet -c:a libopus -i '" + opus + "' -f s16le -");
        EXPECT_EQ(viaLibopus.size(), sound.bytes.size());
        EXPECT_EQ(FirstDifference(sound.bytes, viaLibopus), sound.bytes.size());
        std::vector<int16_t> viaFfmpeg = ToSamples(Decode("ffmpeg -v quiet -i '" + opus + "' -f s16le -"));
        EXPECT_EQ(viaFfmpeg.size() * 2, sound.bytes.size());
        if (c.music) {
            EXPECT_GT(SignalToDifference(ToSamples(sound.bytes), viaFfmpeg), 60.0);
        }
        DeleteSoundHandle(sound.handle);
    }
}

TEST_F(SoundFormats, OpusDecodedInHalvesEqualsOneRun) {
    std::string source = MakeSource("long.wav", 2, 44100, 6);
    std::string opus = temp.File("long.opus");
    ASSERT_EQ(RunCommand("opusenc --quiet --bitrate 96 '" + source + "' '" + opus + "'"), 0);
    std::vector<uint8_t> file = ReadWholeFile(opus);
    auto decode = [&](int splitting, std::vector<uint8_t>* pcm) { return DecodeBytes(file, splitting, pcm); };
    std::vector<uint8_t> whole, halves, alone;
    ASSERT_EQ(decode(0, &whole), 0);
    ASSERT_EQ(whole.size(), 6u * 48000 * 4);
    int splits = GetSoundDecodeSplitCount();
    ASSERT_EQ(decode(1, &halves), 0);
    EXPECT_EQ(GetSoundDecodeSplitCount(), splits + 1) << "not split";
    EXPECT_EQ(halves.size(), whole.size());
    EXPECT_EQ(FirstDifference(halves, whole), whole.size());
    // A second decoder started right at the middle gives other samples
    // there: the first decoder goes on alone, and the sound is the same.
    SetOpusSplitPreroll(0);
    ASSERT_EQ(decode(1, &alone), 0);
    EXPECT_EQ(GetSoundDecodeSplitCount(), splits + 2);
    EXPECT_EQ(alone.size(), whole.size());
    EXPECT_EQ(FirstDifference(alone, whole), whole.size());
}

TEST_F(SoundFormats, AacAndAlacInMp4EqualFfmpegWithTheEncoderDelayAndPaddingGone) {
    std::string stereo = MakeSource("stereo.wav", 2, 44100, 1.7);
    std::string mono = MakeSource("mono.wav", 1, 32000, 0.9);
    std::string deep = MakeSource("deep.wav", 2, 48000, 0.8, 24);
    // A full-scale square wave: the decoder overshoots, and both clip alike.
    std::string loud = temp.File("loud.wav");
    ASSERT_EQ(RunCommand("sox -R -n -b 16 -c 2 -r 44100 '" + loud + "' synth 0.7 square 440 square 660 2>/dev/null"), 0);
    struct Case {
        const char* name;
        std::string source, options;
        bool lossless;
        int bits;
    } cases[] = {
        {"stereo.m4a", stereo, "-c:a aac -b:a 160k", false, 16},
        {"mono.m4a", mono, "-c:a aac -b:a 64k", false, 16},
        {"loud.m4a", loud, "-c:a aac -b:a 128k", false, 16},
        {"stereo_alac.m4a", stereo, "-c:a alac", true, 16},
        {"deep_alac.m4a", deep, "-c:a alac", true, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string m4a = temp.File(c.name);
        ASSERT_EQ(RunCommand("ffmpeg -v quiet -y -i '" + c.source + "' " + c.options + " '" + m4a + "'"), 0);
        if (!WITH_MP4) {
            // No reader takes it, and it is no MPEG audio either.
            EXPECT_EQ(LoadSoundFile(m4a.c_str()), -1);
            EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_UNKNOWN_FORMAT);
            continue;
        }
        LoadedSound sound = LoadThroughDevice(m4a);
        ASSERT_NE(sound.handle, -1);
        EXPECT_EQ(sound.format.bitsPerSample, c.bits);
        std::vector<uint8_t> data = WaveData(c.source);
        // Exactly the source's frames: the priming and the padding are gone.
        EXPECT_EQ(sound.bytes.size(), data.size());
        if (c.lossless) {
            EXPECT_EQ(FirstDifference(sound.bytes, data), data.size());
        }
        // ffmpeg's own tool leaves the padding on: the loader's sound is
        // what it gives, up to there.
        std::vector<uint8_t> viaFfmpeg =
            Decode("ffmpeg -v quiet -i '" + m4a + "' -f " + (c.bits == 16 ? "s16le" : "s24le") + " -");
        EXPECT_GE(viaFfmpeg.size(), sound.bytes.size());
        EXPECT_EQ(FirstDifference(sound.bytes, viaFfmpeg), sound.bytes.size());
        DeleteSoundHandle(sound.handle);
    }
}

TEST_F(SoundFormats, AlacDecodedInHalvesEqualsOneRun) {
    if (!WITH_MP4) GTEST_SKIP() << "built without FFmpeg";
    std::string source = MakeSource("long.wav", 2, 44100, 5);
    std::string m4a = temp.File("long.m4a");
    ASSERT_EQ(RunCommand("ffmpeg -v quiet -y -i '" + source + "' -c:a alac '" + m4a + "'"), 0);
    std::vector<uint8_t> file = ReadWholeFile(m4a);
    std::vector<uint8_t> data = WaveData(source);
    for (int splitting : {0, 1}) {
        MemorySoundStream stream;
        SoundDataSource src;
        OpenMemorySoundSource(&stream, file.data(), file.size(), &src);
        SetSoundDecodeSplitting(splitting);
        int splits = GetSoundDecodeSplitCount();
        DecodedSound sound;
        ASSERT_EQ(DecodeSoundToPcm(&src, &sound), 0);
        EXPECT_EQ(GetSoundDecodeSplitCount(), splits + splitting);
        std::vector<uint8_t> pcm(sound.pcm, sound.pcm + sound.pcmBytes);
        FreeDecodedSound(&sound);
        EXPECT_EQ(pcm.size(), data.size());
        EXPECT_EQ(FirstDifference(pcm, data), data.size()) << "splitting " << splitting;
    }
}

TEST_F(SoundFormats, ChannelsComeOutInWaveOrder) {
    // Each channel of a surround WAVE has a tone of its own: after the
    // encoder (which may store another order) and the loader, every tone is
    // on its own channel again.
    for (int channels : {3, 6, 8}) {
        std::string wav = MakeChannelTones("tones.wav", channels);
        std::string opus = temp.File("tones.opus"), flac = temp.File("tones.flac"), m4a = temp.File("tones.m4a");
        ASSERT_EQ(RunCommand("opusenc --quiet '" + wav + "' '" + opus + "' 2>/dev/null && flac -s -f -o '" + flac + "' '" +
                             wav + "' && ffmpeg -v quiet -y -i '" + wav + "' -c:a aac -b:a 512k '" + m4a + "'"),
                  0);
        for (const std::string& path : {opus, flac, m4a}) {
            SCOPED_TRACE(path);
            if (NotRead(path)) continue;
            LoadedSound sound = LoadThroughDevice(path);
            ASSERT_NE(sound.handle, -1);
            ASSERT_EQ(sound.format.channels, channels);
            std::vector<int16_t> samples = ToSamples(sound.bytes);
            for (int c = 0; c < channels; c++) {
                std::vector<float> channel;
                for (size_t i = c; i < samples.size(); i += channels) channel.push_back(samples[i] / 32768.0f);
                EXPECT_NEAR(MeasureFrequency(channel, sound.format.samplesPerSecond), ToneOfChannel(c, channels), 2.0)
                    << "channel " << c << " of " << channels;
            }
            DeleteSoundHandle(sound.handle);
        }
    }
}

TEST_F(SoundFormats, ContentDecidesAndTagsInFrontAreNoMp3) {
    std::string source = MakeSource("source.wav", 2, 44100, 0.5);
    std::string flac = temp.File("a.flac"), opus = temp.File("a.opus"), m4a = temp.File("a.m4a");
    ASSERT_EQ(RunCommand("flac -s -f -o '" + flac + "' '" + source + "' && opusenc --quiet '" + source + "' '" + opus +
                         "' && ffmpeg -v quiet -y -i '" + source + "' -c:a aac '" + m4a + "'"),
              0);
    std::vector<uint8_t> data = WaveData(source);
    // Names that say another format.
    for (const std::string& path : {flac, opus, m4a}) {
        if (NotRead(path)) continue;
        std::string named = temp.File("named.mp3");
        WriteWholeFile(named, ReadWholeFile(path));
        LoadedSound sound = LoadThroughDevice(named);
        EXPECT_NE(sound.handle, -1) << path;
        DeleteSoundHandle(sound.handle);
    }
    // A FLAC behind an ID3v2 tag is FLAC, not MPEG audio.
    const uint8_t header[10] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};  // 20 bytes of tag follow
    std::vector<uint8_t> tagged(30, 0);
    memcpy(tagged.data(), header, sizeof header);
    std::vector<uint8_t> body = ReadWholeFile(flac);
    tagged.insert(tagged.end(), body.begin(), body.end());
    WriteWholeFile(temp.File("tagged.flac"), tagged);
    LoadedSound sound = LoadThroughDevice(temp.File("tagged.flac"));
    ASSERT_NE(sound.handle, -1);
    EXPECT_TRUE(sound.bytes == data);
}

// Each cut of a file either loads a part of it (never more than the whole)
// or is refused as damaged; cuts inside the first bytes are of no known kind.
TEST_F(SoundFormats, DamagedAndTruncatedFilesAreRefusedAsDamaged) {
    std::string source = MakeSource("source.wav", 2, 44100, 0.6);
    std::string flac = temp.File("a.flac"), opus = temp.File("a.opus"), m4a = temp.File("a.m4a"),
                fast = temp.File("fast.m4a"), alac = temp.File("alac.m4a");
    ASSERT_EQ(RunCommand("flac -s -f -o '" + flac + "' '" + source + "' && opusenc --quiet '" + source + "' '" + opus +
                         "' && ffmpeg -v quiet -y -i '" + source + "' -c:a aac '" + m4a + "' && ffmpeg -v quiet -y -i '" +
                         source + "' -c:a aac -movflags +faststart '" + fast + "' && ffmpeg -v quiet -y -i '" + source +
                         "' -c:a alac '" + alac + "'"),
              0);
    int handles = GetSoundHandleCount();
    for (const std::string& path : {flac, opus, m4a, fast, alac}) {
        SCOPED_TRACE(path);
        if (NotRead(path)) continue;
        std::vector<uint8_t> whole = ReadWholeFile(path);
        LoadedSound full = LoadThroughDevice(path);
        ASSERT_NE(full.handle, -1);
        DeleteSoundHandle(full.handle);
        std::vector<size_t> cuts = {2, 8, 12, 30, 42, 60, 100, 300};
        for (int i = 1; i < 10; i++) cuts.push_back(whole.size() * i / 10);
        for (size_t cut : cuts) {
            std::string part = temp.File("cut.bin");
            WriteWholeFile(part, std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
            LoadedSound sound = LoadThroughDevice(part);
            if (sound.handle != -1) {
                EXPECT_LE(sound.bytes.size(), full.bytes.size()) << "cut at " << cut;
                EXPECT_EQ(sound.bytes.size() % sound.format.blockAlign, 0u);
                DeleteSoundHandle(sound.handle);
                continue;
            }
            EXPECT_EQ(GetLastSoundLoadError(), cut < 8 ? SOUND_LOAD_UNKNOWN_FORMAT : SOUND_LOAD_DAMAGED) << "cut at " << cut;
        }
        // Bytes overwritten in the middle: loaded or called damaged, never a crash.
        for (size_t at = 64; at + 64 < whole.size(); at += whole.size() / 7) {
            std::vector<uint8_t> damaged = whole;
            for (size_t i = 0; i < 64; i++) damaged[at + i] = (uint8_t)(i * 37 + 11);
            WriteWholeFile(temp.File("damaged.bin"), damaged);
            LoadedSound sound = LoadThroughDevice(temp.File("damaged.bin"));
            if (sound.handle != -1) {
                EXPECT_LE(sound.bytes.size(), full.bytes.size() + 2 * 2048 * 4) << "damaged at " << at;
                DeleteSoundHandle(sound.handle);
            } else {
                EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_DAMAGED) << "damaged at " << at;
            }
        }
    }
    EXPECT_EQ(GetSoundHandleCount(), handles);
    if (!WITH_MP4) return;
    // An MP4 without its index (ffmpeg puts it last) has nothing to play.
    std::vector<uint8_t> whole = ReadWholeFile(m4a);
    WriteWholeFile(temp.File("noindex.m4a"), std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() * 9 / 10));
    EXPECT_EQ(LoadSoundFile(temp.File("noindex.m4a").c_str()), -1);
    EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_DAMAGED);
    // MP4 audio of another codec is damaged as far as the loader goes.
    std::string other = temp.File("mp3.mp4");
    ASSERT_EQ(RunCommand("ffmpeg -v quiet -y -i '" + source + "' -c:a libmp3lame '" + other + "'"), 0);
    EXPECT_EQ(LoadSoundFile(other.c_str()), -1);
    EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_DAMAGED);
    EXPECT_EQ(GetSoundHandleCount(), handles);
}

TEST_F(SoundFormats, AWindowClosedDuringAConversionCancelsTheLoad) {
    std::string source = MakeSource("source.wav", 2, 44100, 0.5);
    std::string mp3 = temp.File("a.mp3"), ima = temp.File("ima.wav"), flac = temp.File("a.flac");
    std::string opus = temp.File("a.opus"), m4a = temp.File("a.m4a"), ogg = temp.File("a.ogg");
    ASSERT_EQ(RunCommand("ffmpeg -v quiet -y -i '" + source + "' '" + mp3 + "' && sox '" + source + "' -e ima-adpcm '" +
                         ima + "' && flac -s -f -o '" + flac + "' '" + source + "' && opusenc --quiet '" + source +
                         "' '" + opus + "' && ffmpeg -v quiet -y -i '" + source + "' -c:a aac '" + m4a +
                         "' && ffmpeg -v quiet -y -i '" + source + "' -c:a libvorbis '" + ogg + "'"),
              0);
    // Each close is seen by the message pump the conversion lets run.
    for (const std::string& path : {mp3, ima, flac, opus, m4a}) {
        SCOPED_TRACE(path);
        if (NotRead(path)) continue;
        PlatformMessage close = {WM_CLOSE, 0, 0};
        PLATFORM.window->PostMessage(MESSAGE_QUEUE_WINDOW, &close);
        EXPECT_EQ(LoadSoundFile(path.c_str()), -1);
        EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_CANCELLED);
        EXPECT_EQ(GetSoundHandleCount(), 0);
        // A library with a window again.
        EndLoaderTestDevice();
        StartLoaderTestDevice();
    }
    // PCM as stored and Ogg Vorbis are read without a conversion: they load,
    // and the close waits for the caller's next pump.
    for (const std::string& path : {source, ogg}) {
        SCOPED_TRACE(path);
        PlatformMessage close = {WM_CLOSE, 0, 0};
        PLATFORM.window->PostMessage(MESSAGE_QUEUE_WINDOW, &close);
        EXPECT_NE(LoadSoundFile(path.c_str()), -1);
        EXPECT_NE(ProcessWindowMessages(), 0);
        EndLoaderTestDevice();
        StartLoaderTestDevice();
    }
}

// A looped Opus or AAC file through the real mixer: the encoder's delay and
// padding are gone, so the loop point has no stretch of silence.
class FormatLoopTest : public SoundTest {
protected:
    void SetUp() override {
        SoundTest::SetUp();
        for (const char* tool : {"sox", "opusenc", "ffmpeg"}) {
            if (!HasProgram(tool)) GTEST_SKIP() << tool << " missing";
        }
        PLATFORM.sound = &OPENAL_SOUND_OPS;
        ASSERT_EQ(OpenLoopbackSoundDevice(44100, 2, LOOPBACK_FLOAT), 0);
        ASSERT_EQ(InitSoundDevice(), 0);
    }
};

TEST_F(FormatLoopTest, OpusAndAacLoopWithoutAGap) {
    // One second of 441 Hz: exactly 441 periods, at 44100 Hz and at 48000 Hz.
    std::string wav = dir + "/sine.wav";
    ASSERT_EQ(RunCommand("sox -n -b 16 -c 1 -r 44100 '" + wav + "' synth 1 sine 441 vol 0.5 2>/dev/null"), 0);
    for (const char* name : {"sine.opus", "sine.m4a"}) {
        SCOPED_TRACE(name);
        if (NotRead(name)) continue;
        std::string path = dir + "/" + name;
        std::string encode = strstr(name, "opus") ? "opusenc --quiet '" + wav + "' '" + path + "'"
                                                  : "ffmpeg -v quiet -y -i '" + wav + "' -c:a aac -b:a 128k '" + path + "'";
        ASSERT_EQ(RunCommand(encode), 0);
        int handle = LoadSoundFile(path.c_str());
        ASSERT_NE(handle, -1);
        ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
        const int frames = 44100 * 3 + 5000;
        std::vector<float> stereo((size_t)frames * 2);
        ASSERT_EQ(RenderLoopbackSamples(stereo.data(), frames), 0);
        std::vector<float> left(frames);
        for (int i = 0; i < frames; i++) left[i] = stereo[(size_t)i * 2];
        // A gap of encoder delay (over 300 samples) would empty a window and
        // be a run of near-silence.
        EXPECT_GT(QuietestWindowRms(left, 441), 0.25);
        EXPECT_LT(LongestQuietRun(left, 0.01f), 8);
        EXPECT_NEAR(MeasureFrequency(left, 44100), 441.0, 0.5);
        DeleteSoundHandle(handle);
    }
}

}  // namespace
