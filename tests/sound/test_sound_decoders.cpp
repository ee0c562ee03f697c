// test_sound_decoders.cpp: loads of real encoders' files against independent
// decoders of the same files: Ogg Vorbis against oggdec, MP3 against mpg123
// and ffmpeg, compressed WAVE against sox. The files are made here by sox,
// lame and oggenc.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sndfile.h>

#include "sound/sound_loader_internal.h"
#include "tests/sound/sound_loader_test_support.h"

namespace {

class SoundDecoders : public ::testing::Test {
protected:
    TempFolder temp;
    void SetUp() override {
        for (const char* tool : {"sox", "lame", "oggenc", "oggdec", "mpg123", "ffmpeg"}) {
            if (!HasProgram(tool)) GTEST_SKIP() << tool << " missing";
        }
        StartLoaderTestDevice();
    }
    void TearDown() override { EndLoaderTestDevice(); }

    // A signal with some body: two tones, a sweep and a little noise.
    std::string MakeSource(const std::string& name, int channels, int rate, double seconds) {
        std::string path = temp.File(name);
        std::string command = "sox -n -b 16 -c " + std::to_string(channels) + " -r " + std::to_string(rate) + " '" +
                              path + "' synth " + std::to_string(seconds) + " sine 440 sine 1250 synth " +
                              std::to_string(seconds) + " whitenoise mix vol 0.5 2>/dev/null";
        EXPECT_EQ(RunCommand(command), 0);
        return path;
    }

    std::vector<uint8_t> Decode(const std::string& command) {
        std::string out = temp.File("reference.raw");
        EXPECT_EQ(RunCommand(command + " > '" + out + "' 2>/dev/null"), 0) << command;
        return ReadWholeFile(out);
    }
};

// Largest difference between two sample runs over their common length.
int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    int worst = 0;
    for (size_t i = 0; i < n; i++) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

// Signal-to-difference ratio (dB) of b against a after shifting b by the lag
// (in frames, within maxLag) that matches them best.
double AlignedSnr(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels, int maxLag) {
    double best = -1e9;
    for (int lag = -maxLag; lag <= maxLag; lag++) {
        double signal = 0, noise = 0;
        long shift = (long)lag * channels;
        for (size_t i = 0; i < a.size(); i += 7) {
            long j = (long)i + shift;
            if (j < 0 || j >= (long)b.size()) continue;
            signal += (double)a[i] * a[i];
            double d = (double)a[i] - b[(size_t)j];
            noise += d * d;
        }
        if (signal > 0) best = std::max(best, 10 * std::log10(signal / (noise + 1e-9)));
    }
    return best;
}

TEST_F(SoundDecoders, OggVorbisEqualsTheVorbisDecoder) {
    struct Case {
        int channels, rate;
        double seconds;
        long frames;
    } cases[] = {{2, 44100, 1.3, 57330}, {1, 22050, 0.77, 16979}};
    for (const Case& c : cases) {
        std::string source = MakeSource("ogg_source.wav", c.channels, c.rate, c.seconds);
        std::string ogg = temp.File("tone.ogg");
        ASSERT_EQ(RunCommand("oggenc -Q -q 3 -o '" + ogg + "' '" + source + "'"), 0);
        std::vector<uint8_t> reference = Decode("oggdec -Q -R -o - '" + ogg + "'");
        LoadedSound sound = LoadThroughDevice(ogg);
        ASSERT_NE(sound.handle, -1);
        EXPECT_EQ(sound.format.formatTag, 1);
        EXPECT_EQ(sound.format.channels, c.channels);
        EXPECT_EQ(sound.format.samplesPerSecond, (uint32_t)c.rate);
        EXPECT_EQ(sound.format.bitsPerSample, 16);
        // ceiling(seconds x bytes per second), the encoder having kept every frame.
        EXPECT_EQ(sound.bytes.size(), (size_t)c.frames * 2 * c.channels);
        EXPECT_TRUE(sound.bytes == reference) << "PCM differs from oggdec's, " << sound.bytes.size() << " vs "
                                              << reference.size() << " bytes";
        DeleteSoundHandle(sound.handle);
    }
}

// The Ogg page checksum: CRC-32, polynomial 0x04C11DB7, no reflection.
uint32_t OggChecksum(const uint8_t* bytes, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; i++) {
        crc ^= (uint32_t)bytes[i] << 24;
        for (int bit = 0; bit < 8; bit++) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// Rewrites the granule position of an Ogg file's last page (the stream's
// stated length in frames) and its checksum.
void ClaimFrames(std::vector<uint8_t>& file, uint64_t granule) {
    size_t last = 0;
    for (size_t i = 0; i + 27 <= file.size(); i++) {
        if (memcmp(&file[i], "OggS", 4) == 0) last = i;
    }
    size_t pageBytes = 27 + file[last + 26];
    for (int i = 0; i < file[last + 26]; i++) pageBytes += file[last + 27 + i];
    ASSERT_EQ(last + pageBytes, file.size());
    for (int i = 0; i < 8; i++) file[last + 6 + i] = (uint8_t)(granule >> (8 * i));
    for (int i = 0; i < 4; i++) file[last + 22 + i] = 0;
    uint32_t crc = OggChecksum(&file[last], pageBytes);
    for (int i = 0; i < 4; i++) file[last + 22 + i] = (uint8_t)(crc >> (8 * i));
}

TEST_F(SoundDecoders, OggClaimingHoursGivesWhatItHolds) {
    std::string source = MakeSource("claim.wav", 2, 44100, 1.0);
    std::string ogg = temp.File("claim.ogg");
    ASSERT_EQ(RunCommand("oggenc -Q -q 1 -o '" + ogg + "' '" + source + "'"), 0);
    std::vector<uint8_t> file = ReadWholeFile(ogg);
    // The last page's granule position says three hours (about 1.9 GB of PCM).
    ClaimFrames(file, 44100ull * 3600 * 3);

    MemorySoundStream stream;
    SoundDataSource src;
    OpenMemorySoundSource(&stream, file.data(), file.size(), &src);
    SoundProbe probe;
    ASSERT_EQ(ProbeSoundFormat(&src, 1, &probe), 0);
    ASSERT_EQ(probe.isOgg, 1);
    EXPECT_GT(probe.dataBytes, 1800u << 20);  // the claim is believed as a length...
    FreeSoundProbe(&probe);
    OpenMemorySoundSource(&stream, file.data(), file.size(), &src);
    DecodedSound sound;
    ASSERT_EQ(DecodeSoundToPcm(&src, &sound), 0);
    // ...but the block holds only what the decoder really gave.
    EXPECT_GT(sound.pcmBytes, 44100u * 4 * 9 / 10);
    EXPECT_LT(sound.pcmBytes, 44100u * 4 * 11 / 10);
    EXPECT_EQ(sound.pcmBytes % 4, 0u);
    FreeDecodedSound(&sound);
}

TEST_F(SoundDecoders, SilenceAnOggClaimsIsNeverWritten) {
    // A second of sound that claims six minutes, in a file padded to 1.5 MB:
    // the block of the claimed 60 MB is made at once, and the 59 MB beyond
    // the real sound must cost no memory.
    std::string source = MakeSource("pad.wav", 2, 44100, 1.0);
    std::string ogg = temp.File("pad.ogg");
    ASSERT_EQ(RunCommand("oggenc -Q -q 1 -o '" + ogg + "' '" + source + "'"), 0);
    std::vector<uint8_t> file = ReadWholeFile(ogg);
    const uint64_t claimed = 44100ull * 340;
    ClaimFrames(file, claimed);
    file.resize(1536u << 10, 0);

    MemorySoundStream stream;
    SoundDataSource src;
    OpenMemorySoundSource(&stream, file.data(), file.size(), &src);
    size_t before = ResidentBytes();
    DecodedSound sound;
    ASSERT_EQ(DecodeSoundToPcm(&src, &sound), 0);
    size_t grown = ResidentBytes() - before;
    EXPECT_EQ(sound.pcmBytes, claimed * 4);
    EXPECT_LT(grown, (size_t)24 << 20) << "the silence was written";
    // The tail is silence all the same.
    int loud = 0;
    for (uint32_t at = 44100 * 4 * 2; at < sound.pcmBytes; at += 4093 * 4) loud += sound.pcm[at] != 0;
    EXPECT_EQ(loud, 0);
    FreeDecodedSound(&sound);
}

TEST_F(SoundDecoders, ChainedOggEndsWhereTheLayoutChanges) {
    // Each link with a serial number of its own, as a chain needs.
    std::string stereo = temp.File("stereo.ogg"), stereo2 = temp.File("stereo2.ogg"), mono = temp.File("mono.ogg");
    ASSERT_EQ(RunCommand("oggenc -Q -q 3 -s 1 -o '" + stereo + "' '" + MakeSource("s.wav", 2, 44100, 1.0) + "'"), 0);
    ASSERT_EQ(RunCommand("oggenc -Q -q 3 -s 2 -o '" + stereo2 + "' '" + MakeSource("s2.wav", 2, 44100, 0.5) + "'"), 0);
    ASSERT_EQ(RunCommand("oggenc -Q -q 3 -s 3 -o '" + mono + "' '" + MakeSource("m.wav", 1, 22050, 1.0) + "'"), 0);
    LoadedSound first = LoadThroughDevice(stereo);
    LoadedSound second = LoadThroughDevice(stereo2);
    ASSERT_NE(first.handle, -1);
    ASSERT_NE(second.handle, -1);
    ASSERT_EQ(first.bytes.size(), 44100u * 4);

    // Another rate and channel count: exactly the first link.
    std::string chained = temp.File("chained.ogg");
    ASSERT_EQ(RunCommand("cat '" + stereo + "' '" + mono + "' > '" + chained + "'"), 0);
    LoadedSound sound = LoadThroughDevice(chained);
    ASSERT_NE(sound.handle, -1);
    EXPECT_EQ(sound.format.channels, 2);
    EXPECT_EQ(sound.format.samplesPerSecond, 44100u);
    EXPECT_TRUE(sound.bytes == first.bytes) << sound.bytes.size() << " bytes";

    // The same layout: both links, one after the other.
    std::string joined = temp.File("joined.ogg");
    ASSERT_EQ(RunCommand("cat '" + stereo + "' '" + stereo2 + "' > '" + joined + "'"), 0);
    sound = LoadThroughDevice(joined);
    std::vector<uint8_t> both = first.bytes;
    both.insert(both.end(), second.bytes.begin(), second.bytes.end());
    EXPECT_TRUE(sound.bytes == both) << sound.bytes.size() << " vs " << both.size() << " bytes";
}

TEST_F(SoundDecoders, Mp3MatchesReferenceDecoders) {
    std::string stereo44 = MakeSource("s44.wav", 2, 44100, 2.0);
    std::string mono44 = MakeSource("m44.wav", 1, 44100, 1.5);
    std::string stereo22 = MakeSource("s22.wav", 2, 22050, 2.0);
    std::string mono16 = MakeSource("m16.wav", 1, 16000, 1.5);
    struct Case {
        const char* name;
        std::string source;
        std::string options;
        int channels, rate;
    } cases[] = {
        {"cbr_tags.mp3", stereo44, "-b 128 --add-id3v2 --tt Title --ta Artist", 2, 44100},  // ID3v2 and ID3v1
        {"vbr_mono.mp3", mono44, "-V 5", 1, 44100},
        {"mpeg2_stereo.mp3", stereo22, "-b 64 --id3v1-only --tt Title", 2, 22050},
        {"mpeg2_vbr_mono.mp3", mono16, "-V 6 --id3v2-only --tt Title", 1, 16000},
    };
    for (const Case& c : cases) {
        std::string mp3 = temp.File(c.name);
        ASSERT_EQ(RunCommand("lame --quiet " + c.options + " '" + c.source + "' '" + mp3 + "'"), 0) << c.name;
        LoadedSound sound = LoadThroughDevice(mp3);
        ASSERT_NE(sound.handle, -1) << c.name;
        EXPECT_EQ(sound.format.channels, c.channels) << c.name;
        EXPECT_EQ(sound.format.samplesPerSecond, (uint32_t)c.rate) << c.name;
        EXPECT_EQ(sound.format.bitsPerSample, 16);
        std::vector<int16_t> ours = ToSamples(sound.bytes);
        DeleteSoundHandle(sound.handle);

        // mpg123 trims the encoder delay and padding as the loader does.
        std::vector<int16_t> viaMpg123 = ToSamples(Decode("mpg123 -q -s '" + mp3 + "'"));
        EXPECT_NEAR((double)ours.size(), (double)viaMpg123.size(), 0) << c.name;
        EXPECT_LE(MaxDifference(ours, viaMpg123), 1) << c.name;

        // ffmpeg's decoder rounds differently and may trim otherwise.
        std::vector<int16_t> viaFfmpeg = ToSamples(Decode("ffmpeg -v quiet -i '" + mp3 + "' -f s16le -"));
        EXPECT_NEAR((double)ours.size() / c.channels, (double)viaFfmpeg.size() / c.channels, 1152) << c.name;
        EXPECT_GT(AlignedSnr(viaFfmpeg, ours, c.channels, 1200), 40.0) << c.name;
    }
}

TEST_F(SoundDecoders, Mp3WithAFalseHeaderInJunkLosesNoFrames) {
    // A plain tone, so that the encoded bytes are the same on every run.
    std::string source = temp.File("j.wav");
    ASSERT_EQ(RunCommand("sox -R -D -n -b 16 -c 2 -r 44100 '" + source + "' synth 2 sine 440 vol 0.5"), 0);
    std::string clean = temp.File("clean.mp3");
    ASSERT_EQ(RunCommand("lame --quiet -b 128 '" + source + "' '" + clean + "'"), 0);
    std::vector<uint8_t> bytes = ReadWholeFile(clean);

    // Twenty frames in (128 kbit/s at 44100 Hz: 417 bytes and the padding bit),
    // junk that opens with the header of a 1044-byte frame: believed, it would
    // jump over two and a half real frames.
    size_t at = 0;
    for (int i = 0; i < 20; i++) {
        ASSERT_LT(at + 4, bytes.size());
        ASSERT_EQ(bytes[at], 0xFF);
        at += 417 + ((bytes[at + 2] >> 1) & 1);
    }
    const uint8_t junk[] = {0xFF, 0xFB, 0xE0, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    bytes.insert(bytes.begin() + (long)at, junk, junk + sizeof junk);
    std::string mp3 = temp.File("junk.mp3");
    WriteWholeFile(mp3, bytes);

    LoadedSound sound = LoadThroughDevice(mp3);
    ASSERT_NE(sound.handle, -1);
    std::vector<int16_t> ours = ToSamples(sound.bytes);
    DeleteSoundHandle(sound.handle);
    std::vector<int16_t> viaMpg123 = ToSamples(Decode("mpg123 -q -s '" + mp3 + "'"));
    EXPECT_NEAR((double)ours.size() / 2, (double)viaMpg123.size() / 2, 1152);
    EXPECT_GT(ours.size() / 2, 2 * 44100u - 2 * 1152);  // the frame the junk split may be lost
}

TEST_F(SoundDecoders, Mp3RecordOfA128kStereoFile) {
    std::string source = MakeSource("r.wav", 2, 44100, 0.5);
    std::string mp3 = temp.File("r.mp3");
    ASSERT_EQ(RunCommand("lame --quiet -b 128 '" + source + "' '" + mp3 + "'"), 0);
    std::vector<uint8_t> file = ReadWholeFile(mp3);
    ASSERT_GT(file.size(), 4u);
    MemorySoundStream stream;
    SoundDataSource src;
    OpenMemorySoundSource(&stream, file.data(), file.size(), &src);
    uint8_t* record = nullptr;
    uint32_t recordBytes = 0, dataBytes = 0;
    ASSERT_EQ(ProbeMp3Stream(&src, &record, &recordBytes, &dataBytes), 0);
    std::vector<uint8_t> r(record, record + recordBytes);
    free(record);
    size_t first = stream.position;
    int padding = (file[first + 2] >> 1) & 1;
    EXPECT_EQ(r[2], 2);
    EXPECT_EQ(r[4] | (r[5] << 8) | (r[6] << 16), 44100);
    EXPECT_EQ(r[8] | (r[9] << 8), 16000);
    EXPECT_EQ(r[24] | (r[25] << 8), 421 + padding);
    EXPECT_EQ(dataBytes, file.size());
}

TEST_F(SoundDecoders, CompressedWaveMatchesSox) {
    std::string speech = MakeSource("speech.wav", 1, 8000, 1.7);
    std::string music = MakeSource("music.wav", 2, 44100, 0.9);
    std::string three = MakeSource("three.wav", 3, 32000, 0.6);
    struct Case {
        const char* name;
        std::string source;
        std::string encoding;
        size_t blockFrames;  // frames the two decoders may part by at the end
    } cases[] = {
        {"ms_adpcm.wav", music, "-e ms-adpcm", 2048},
        {"ima_adpcm.wav", music, "-e ima-adpcm", 2048},
        {"ms_adpcm_mono.wav", speech, "-e ms-adpcm", 2048},
        {"ima_adpcm_mono.wav", speech, "-e ima-adpcm", 2048},
        {"alaw.wav", speech, "-e a-law", 0},
        {"mulaw.wav", music, "-e u-law", 0},
        {"gsm.wav", speech, "-e gsm-full-rate", 320},
        {"float.wav", music, "-e floating-point -b 32", 0},
        {"extensible.wav", three, "-e signed-integer -b 16", 0},  // three channels: EXTENSIBLE
        {"extensible_float.wav", three, "-e floating-point -b 32", 0},
    };
    for (const Case& c : cases) {
        std::string wav = temp.File(c.name);
        ASSERT_EQ(RunCommand("sox -D '" + c.source + "' " + c.encoding + " '" + wav + "' 2>/dev/null"), 0) << c.name;
        std::vector<uint8_t> file = ReadWholeFile(wav);
        int tag = file[20] | (file[21] << 8);
        LoadedSound sound = LoadThroughDevice(wav);
        ASSERT_NE(sound.handle, -1) << c.name << " tag " << tag;
        EXPECT_EQ(sound.format.formatTag, 1) << c.name;
        EXPECT_EQ(sound.format.bitsPerSample, 16) << c.name;
        std::vector<int16_t> ours = ToSamples(sound.bytes);
        DeleteSoundHandle(sound.handle);
        std::vector<int16_t> viaSox = ToSamples(Decode("sox -D '" + wav + "' -t s16 -"));
        int channels = sound.format.channels;
        EXPECT_NEAR((double)ours.size() / channels, (double)viaSox.size() / channels, (double)c.blockFrames)
            << c.name;
        int worst = MaxDifference(ours, viaSox);
        EXPECT_LE(worst, 1) << c.name << " tag " << tag;
        if (worst > 1) {
            for (size_t i = 0; i < ours.size() && i < viaSox.size(); i++) {
                if (std::abs(ours[i] - viaSox[i]) > 1) {
                    ADD_FAILURE() << "first at " << i << ": " << ours[i] << " vs " << viaSox[i];
                    break;
                }
            }
        }
    }
}

// IMA ADPCM of whole blocks is decoded by the loader's own decoder: sample for
// sample what the codec library gives for the same file, stereo and mono,
// made here and taken from the corpus (files with a short last block or a
// fact count of their own go to the library itself and must agree too).
TEST_F(SoundDecoders, ImaAdpcmEqualsTheCodecLibrarySampleForSample) {
    std::vector<std::string> files;
    for (int channels : {1, 2}) {
        std::string source = MakeSource("ima_source_" + std::to_string(channels) + ".wav", channels, 44100, 2.5);
        std::string wav = temp.File("ima_" + std::to_string(channels) + ".wav");
        ASSERT_EQ(RunCommand("sox -D '" + source + "' -e ima-adpcm '" + wav + "' 2>/dev/null"), 0);
        files.push_back(wav);
    }
    std::string corpus = std::string(RAVLIN_SHARED_DIR) + "/corpus/wav/";
    for (const char* name : {"monogame/tone_mono_44khz_imaadpcm.wav", "monogame/tone_stereo_44khz_imaadpcm.wav",
                             "rochars-wavefile/ima22m.wav", "rochars-wavefile/4bit-imaadpcm-8kHz-noBext-mono.wav",
                             "rochars-wavefile/4-bit-imaadpcm-8kHz-noBext-mono-reaper.wav"}) {
        if (access((corpus + name).c_str(), R_OK) == 0) files.push_back(corpus + name);
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        SF_INFO info = {};
        SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
        ASSERT_NE(sound, nullptr);
        std::vector<int16_t> library((size_t)(info.frames * info.channels));
        sf_count_t got = sf_readf_short(sound, library.data(), info.frames);
        sf_close(sound);
        library.resize((size_t)(got * info.channels));
        LoadedSound loaded = LoadThroughDevice(file);
        ASSERT_NE(loaded.handle, -1);
        std::vector<int16_t> ours = ToSamples(loaded.bytes);
        DeleteSoundHandle(loaded.handle);
        ASSERT_EQ(ours.size(), library.size());
        size_t first = 0;
        while (first < ours.size() && ours[first] == library[first]) first++;
        EXPECT_EQ(first, ours.size()) << "first difference at sample " << first;
    }
}

}  // namespace
