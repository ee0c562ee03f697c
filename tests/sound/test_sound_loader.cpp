// test_sound_loader.cpp: recognition by content, the RIFF chunk walk, the MPEG
// frame walk and its record, and the guards against files that lie.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "platform/fake/fake_sound.h"
#include "platform/platform.h"
#include "platform/sound_reader.h"
#include "sound/sound_internal.h"
#include "sound/sound_loader_internal.h"
#include "tests/sound/sound_loader_test_support.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOADER_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LOADER_TEST_ASAN 1
#endif
#ifdef LOADER_TEST_ASAN
// The sanitizer runtime's count of the heap it has mapped (bytes).
extern "C" size_t __sanitizer_get_heap_size(void);
// Hooks the runtime calls on every allocation (the libraries' too).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                                         void (*onFree)(const volatile void*));
#endif

namespace {

class SoundLoader : public ::testing::Test {
protected:
    TempFolder temp;
    void SetUp() override { StartLoaderTestDevice(); }
    void TearDown() override { EndLoaderTestDevice(); }
};

// ---- Decode path over bytes in memory ----

struct MemoryDecode {
    int result;
    DecodedSound sound;
};

MemoryDecode DecodeBytes(const std::vector<uint8_t>& bytes) {
    MemorySoundStream stream;
    SoundDataSource source;
    OpenMemorySoundSource(&stream, bytes.data(), bytes.size(), &source);
    MemoryDecode out = {};
    out.result = DecodeSoundToPcm(&source, &out.sound);
    return out;
}

int ProbeBytes(const std::vector<uint8_t>& bytes, SoundProbe* probe, long* position) {
    MemorySoundStream stream;
    SoundDataSource source;
    OpenMemorySoundSource(&stream, bytes.data(), bytes.size(), &source);
    int result = ProbeSoundFormat(&source, 1, probe);
    *position = (long)stream.position;
    return result;
}

std::vector<uint8_t> Ramp(size_t bytes) {
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < bytes; i++) out[i] = (uint8_t)(i * 7 + 3);
    return out;
}

// ---- MPEG frames made here ----

// A frame of the given header bytes: the header, then filler that holds no
// 0xFF byte (so no sync inside).
void AppendFrame(std::vector<uint8_t>& out, uint8_t b1, uint8_t b2, uint8_t b3, int length) {
    out.push_back(0xFF);
    out.push_back(b1);
    out.push_back(b2);
    out.push_back(b3);
    for (int i = 4; i < length; i++) out.push_back((uint8_t)(i % 200));
}

// MPEG-1 layer III, 128 kbit/s, 44100 Hz, no padding, stereo: 417 bytes.
std::vector<uint8_t> Mpeg1Frames(int count, uint8_t mode = 0x00) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; i++) AppendFrame(out, 0xFB, 0x90, mode, 417);
    return out;
}

std::vector<uint8_t> Id3v2Tag(int version, int flags, int size) {
    std::vector<uint8_t> tag = {'I', 'D', '3', (uint8_t)version, 0, (uint8_t)flags,
                                (uint8_t)((size >> 21) & 0x7F), (uint8_t)((size >> 14) & 0x7F),
                                (uint8_t)((size >> 7) & 0x7F), (uint8_t)(size & 0x7F)};
    tag.resize(10 + size, 0);
    return tag;
}

struct Mp3Probe {
    int result;
    std::vector<uint8_t> record;
    uint32_t dataBytes;
    long position;
};

Mp3Probe ProbeMp3(const std::vector<uint8_t>& bytes) {
    MemorySoundStream stream;
    SoundDataSource source;
    OpenMemorySoundSource(&stream, bytes.data(), bytes.size(), &source);
    Mp3Probe out = {};
    uint8_t* format = nullptr;
    uint32_t formatBytes = 0;
    out.result = ProbeMp3Stream(&source, &format, &formatBytes, &out.dataBytes);
    if (out.result == 0) {
        out.record.assign(format, format + formatBytes);
        free(format);
    }
    out.position = (long)stream.position;
    return out;
}

uint32_t U16(const std::vector<uint8_t>& r, int at) { return r[at] | (r[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& r, int at) { return U16(r, at) | (U16(r, at + 2) << 16); }

TEST(MpegProbe, FirstFrameGivesTheLayer3Record) {
    Mp3Probe p = ProbeMp3(Mpeg1Frames(5));
    ASSERT_EQ(p.result, 0);
    ASSERT_EQ(p.record.size(), 30u);
    EXPECT_EQ(U16(p.record, 0), 0x55u);
    EXPECT_EQ(U16(p.record, 2), 2u);          // channels
    EXPECT_EQ(U32(p.record, 4), 44100u);      // rate
    EXPECT_EQ(U32(p.record, 8), 16000u);      // 128 kbit/s
    EXPECT_EQ(U16(p.record, 12), 1u);         // block align
    EXPECT_EQ(U16(p.record, 14), 0u);         // bits
    EXPECT_EQ(U16(p.record, 16), 12u);        // extra size
    EXPECT_EQ(U16(p.record, 18), 1u);         // ID
    EXPECT_EQ(U32(p.record, 20), 0u);         // flags
    EXPECT_EQ(U16(p.record, 24), 421u);       // 417 + 4
    EXPECT_EQ(U16(p.record, 26), 1u);         // frames per block
    EXPECT_EQ(U16(p.record, 28), 1393u);      // codec delay
    EXPECT_EQ(p.dataBytes, 5u * 417);
    EXPECT_EQ(p.position, 0);

    Mp3Probe mono = ProbeMp3(Mpeg1Frames(3, 0xC0));
    ASSERT_EQ(mono.result, 0);
    EXPECT_EQ(U16(mono.record, 2), 1u);
}

TEST(MpegProbe, FrameLengths) {
    EXPECT_EQ(GetMpegFrameLength(1, 3, 9, 0, 0), 417);   // 128 kbit/s 44100 Hz
    EXPECT_EQ(GetMpegFrameLength(1, 3, 9, 0, 1), 418);
    EXPECT_EQ(GetMpegFrameLength(1, 1, 12, 1, 0), 384);  // layer I 384 kbit/s 48000 Hz
    EXPECT_EQ(GetMpegFrameLength(1, 2, 8, 2, 0), 576);   // layer II 128 kbit/s 32000 Hz
    EXPECT_EQ(GetMpegFrameLength(0, 3, 8, 0, 0), 208);   // MPEG-2 layer III 64 kbit/s 22050 Hz
    EXPECT_EQ(GetMpegFrameLength(0, 2, 12, 1, 0), 768);  // MPEG-2 layer II 128 kbit/s 24000 Hz
    EXPECT_EQ(GetMpegFrameLength(1, 3, 0, 0, 1), 0);     // free format
    EXPECT_EQ(GetMpegFrameLength(1, 3, 15, 0, 0), 0);
    EXPECT_EQ(GetMpegFrameLength(1, 0, 9, 0, 0), 0);
}

TEST(MpegProbe, TagsAreSkipped) {
    // ID3v2.4 with a footer: ten bytes after the tag's stated end belong to
    // the tag; bytes there that would be a bad header must not be read.
    std::vector<uint8_t> file = Id3v2Tag(4, 0x10, 300);
    std::vector<uint8_t> footer = {'3', 'D', 'I', 4, 0, 0x10, 0xFF, 0xFF, 0xFF, 0xFF};
    file.insert(file.end(), footer.begin(), footer.end());
    std::vector<uint8_t> frames = Mpeg1Frames(4);
    file.insert(file.end(), frames.begin(), frames.end());
    Mp3Probe p = ProbeMp3(file);
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.position, 320);
    EXPECT_EQ(p.dataBytes, file.size());

    // Without the footer flag the same bytes are audio, and invalid.
    file[5] = 0;
    EXPECT_EQ(ProbeMp3(file).result, -1);

    // An ID3v1 trailer whose text holds a would-be header is never a frame.
    std::vector<uint8_t> trailed = Mpeg1Frames(4);
    std::vector<uint8_t> trailer(128, ' ');
    memcpy(trailer.data(), "TAG", 3);
    trailer[3] = 0xFF;
    trailer[4] = 0xFF;
    trailer[5] = 0xFF;
    trailed.insert(trailed.end(), trailer.begin(), trailer.end());
    EXPECT_EQ(ProbeMp3(trailed).result, 0);
    trailed[trailed.size() - 128] = 'X';  // no longer a trailer: its bytes are walked
    EXPECT_EQ(ProbeMp3(trailed).result, -1);

    // A huge stated tag size is a position, never an allocation.
    std::vector<uint8_t> huge = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    huge.resize(1000, 0);
    EXPECT_EQ(ProbeMp3(huge).result, -1);
}

TEST(MpegProbe, JunkBadHeadersAndFreeFormat) {
    // Junk (no 0xFF) before and between frames is passed over.
    std::vector<uint8_t> file(215, 0x20);
    std::vector<uint8_t> frames = Mpeg1Frames(3);
    file.insert(file.end(), frames.begin(), frames.end());
    file.insert(file.end(), {0x00, 0xFF, 0x12, 0x34, 0x56});  // a 0xFF pair that is no sync
    std::vector<uint8_t> more = Mpeg1Frames(2);
    file.insert(file.end(), more.begin(), more.end());
    Mp3Probe p = ProbeMp3(file);
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.position, 215);

    // Bitrate index 15 in any frame fails the whole file.
    std::vector<uint8_t> bad = Mpeg1Frames(6);
    bad[4 * 417 + 2] = 0xF0;
    EXPECT_EQ(ProbeMp3(bad).result, -1);
    // Sample-rate index 3, layer 0 likewise.
    bad = Mpeg1Frames(6);
    bad[2 * 417 + 2] = 0x9C;
    EXPECT_EQ(ProbeMp3(bad).result, -1);
    bad = Mpeg1Frames(6);
    bad[5 * 417 + 1] = 0xF9;
    EXPECT_EQ(ProbeMp3(bad).result, -1);

    // No sync at all; and nothing at all.
    EXPECT_EQ(ProbeMp3(std::vector<uint8_t>(5000, 0x41)).result, -1);
    EXPECT_EQ(ProbeMp3(std::vector<uint8_t>{0xFF}).result, -1);
    EXPECT_EQ(ProbeMp3(std::vector<uint8_t>{}).result, -1);

    // Free format gives no frame length: refused, never an endless walk.
    std::vector<uint8_t> free(2000, 0x00);
    free[0] = 0xFF;
    free[1] = 0xFB;
    free[2] = 0x02;  // bitrate index 0, padding
    EXPECT_EQ(ProbeMp3(free).result, -1);
}

TEST(MpegProbe, Mpeg2Layer2FramesHaveTheMpeg1Length) {
    // MPEG-2 layer II, 64 kbit/s, 24000 Hz: 384-byte frames. Half-way through
    // each lies a byte pattern that is a bad header, where a 72000-based
    // length would land.
    std::vector<uint8_t> file;
    for (int i = 0; i < 8; i++) {
        size_t start = file.size();
        AppendFrame(file, 0xF5, 0x84, 0x00, 384);
        file[start + 192] = 0xFF;
        file[start + 193] = 0xFF;
        file[start + 194] = 0xFF;
    }
    Mp3Probe p = ProbeMp3(file);
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(U32(p.record, 4), 24000u);
    EXPECT_EQ(U16(p.record, 24), 388u);
}

TEST(FuzzRegressions, EachInputDecodesOrIsRefused) {
    // Inputs the fuzzer once found hanging or crashing the decode path.
    std::string dir = std::string(RAVLIN_SOURCE_DIR) + "/tests/fuzz/regressions";
    std::vector<std::string> names = {"mpeg-layer1-huge-gapless-count.bin", "mpeg-info-tag-huge-frame-count.bin",
                                      "mp4-sample-table-claims-a-gigabyte.bin"};
    for (const std::string& name : names) {
        std::vector<uint8_t> bytes = ReadWholeFile(dir + "/" + name);
        ASSERT_FALSE(bytes.empty()) << name;
        MemoryDecode d = DecodeBytes(bytes);
        if (d.result == 0) {
            EXPECT_EQ(d.sound.pcmBytes % d.sound.format.blockAlign, 0u);
            FreeDecodedSound(&d.sound);
        }
    }
}

#ifdef LOADER_TEST_ASAN
// The largest single allocation since watching began, by anyone in the process.
struct AllocationWatch {
    int watching;
    size_t largest;
};
AllocationWatch WATCH;
void NoteAllocation(const volatile void*, size_t bytes) {
    if (WATCH.watching && bytes > WATCH.largest) WATCH.largest = bytes;
}
void NoteFree(const volatile void*) {}

TEST(FuzzRegressions, NoInputMakesAnyoneAskForAnAbsurdBlock) {
    // Files whose tables claim far more sound than they hold: neither the
    // readers nor the libraries beneath them allocate for the claim.
    static int installed = __sanitizer_install_malloc_and_free_hooks(NoteAllocation, NoteFree);
    ASSERT_NE(installed, 0);
    std::string dir = std::string(RAVLIN_SOURCE_DIR) + "/tests/fuzz/regressions";
    for (const char* name : {"mpeg-info-tag-huge-frame-count.bin", "mp4-sample-table-claims-a-gigabyte.bin"}) {
        std::vector<uint8_t> bytes = ReadWholeFile(dir + "/" + name);
        ASSERT_FALSE(bytes.empty()) << name;
        WATCH = AllocationWatch{1, 0};
        MemoryDecode d = DecodeBytes(bytes);
        WATCH.watching = 0;
        if (d.result == 0) FreeDecodedSound(&d.sound);
        EXPECT_LT(WATCH.largest, (size_t)100 << 20) << name;
    }
}
#endif

// Asks of the place how much it would be given; gives nothing.
uint8_t* NoteReservation(void* context, const WaveFormat*, uint32_t bytes) {
    uint32_t* most = (uint32_t*)context;
    if (bytes > *most) *most = bytes;
    return nullptr;
}

TEST(FuzzRegressions, AnMpegFrameCountTagIsNoAllocation) {
    // One frame whose info tag claims a stream of half an hour: the device
    // is asked for no more than the frames there could give, not for what
    // the tag says (333 MB).
    std::vector<uint8_t> bytes =
        ReadWholeFile(std::string(RAVLIN_SOURCE_DIR) + "/tests/fuzz/regressions/mpeg-info-tag-huge-frame-count.bin");
    ASSERT_FALSE(bytes.empty());
    MemorySoundStream stream;
    SoundDataSource source;
    OpenMemorySoundSource(&stream, bytes.data(), bytes.size(), &source);
    uint32_t asked = 0;
    PcmPlace place = {NoteReservation, &asked};
    DecodedSound sound;
    if (DecodeSoundToPlace(&source, &place, &sound) == 0) FreeDecodedSound(&sound);
    EXPECT_LE(asked, bytes.size() * 24 * 4);
}

// ---- RIFF WAVE ----

TEST(RiffWalk, FormatRecordAndChunks) {
    std::vector<uint8_t> data = Ramp(400);
    // A 16-byte format chunk gives an 18-byte record with extra size 0, and an
    // odd "LIST" chunk's pad byte is skipped.
    std::vector<uint8_t> file = MakeRiffWave({{"fmt ", MakePcmFormatChunk(2, 22050, 16)},
                                              {"LIST", std::vector<uint8_t>(13, 'x')},
                                              {"data", data}});
    SoundProbe probe;
    long position = 0;
    ASSERT_EQ(ProbeBytes(file, &probe, &position), 0);
    EXPECT_EQ(probe.formatBytes, 18u);
    EXPECT_EQ(probe.format[16] | (probe.format[17] << 8), 0);
    EXPECT_EQ(probe.dataBytes, 400u);
    EXPECT_EQ(probe.isOgg, 0);
    EXPECT_EQ(position, (long)(file.size() - 400));
    FreeSoundProbe(&probe);

    // The RIFF size field is ignored.
    file[4] = file[5] = file[6] = file[7] = 0xFF;
    MemoryDecode d = DecodeBytes(file);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(std::vector<uint8_t>(d.sound.pcm, d.sound.pcm + d.sound.pcmBytes), data);
    FreeDecodedSound(&d.sound);
}

TEST(RiffWalk, RefusedLayouts) {
    std::vector<uint8_t> fmt = MakePcmFormatChunk(1, 8000, 8);
    std::vector<uint8_t> data = Ramp(100);
    auto refused = [](const std::vector<uint8_t>& file) {
        MemoryDecode d = DecodeBytes(file);
        if (d.result == 0) FreeDecodedSound(&d.sound);
        return d.result == -1;
    };
    // "fact" before "fmt ": the format chunk must come first.
    EXPECT_TRUE(refused(MakeRiffWave({{"fact", {1, 0, 0, 0}}, {"fmt ", fmt}, {"data", data}})));
    // No "data" chunk; a form other than WAVE; a format chunk too short.
    EXPECT_TRUE(refused(MakeRiffWave({{"fmt ", fmt}, {"LIST", {1, 2, 3}}})));
    std::vector<uint8_t> notWave = MakeRiffWave({{"fmt ", fmt}, {"data", data}});
    memcpy(notWave.data() + 8, "AVI ", 4);
    EXPECT_TRUE(refused(notWave));
    EXPECT_TRUE(refused(MakeRiffWave({{"fmt ", {1, 0, 1, 0}}, {"data", data}})));
    // Zero channels, zero rate, zero block align: nothing divides by them.
    for (int field : {2, 4, 12}) {
        std::vector<uint8_t> zero = fmt;
        zero[field] = zero[field + 1] = 0;
        if (field == 4) zero[6] = zero[7] = 0;
        EXPECT_TRUE(refused(MakeRiffWave({{"fmt ", zero}, {"data", data}}))) << "field " << field;
    }
    // A rate whose bytes per second overflow 32 bits.
    std::vector<uint8_t> fast = MakePcmFormatChunk(2, 8000, 16);
    fast[4] = fast[5] = fast[6] = fast[7] = 0xFF;
    EXPECT_TRUE(refused(MakeRiffWave({{"fmt ", fast}, {"data", data}})));
    // An empty "data" chunk is no sound.
    EXPECT_TRUE(refused(MakeRiffWave({{"fmt ", fmt}, {"data", {}}})));
}

TEST(RiffWalk, StatedSizesAreNotTrusted) {
    // A 1 KB file whose "data" chunk claims 4 GB: only the bytes present are
    // read, into a block no larger than the file.
    std::vector<uint8_t> data = Ramp(1000);
    std::vector<uint8_t> file = MakeRiffWave({{"fmt ", MakePcmFormatChunk(1, 8000, 8)}, {"data", data}});
    size_t sizeAt = file.size() - data.size() - 4;
    file[sizeAt] = file[sizeAt + 1] = file[sizeAt + 2] = file[sizeAt + 3] = 0xFF;
#ifdef LOADER_TEST_ASAN
    size_t before = __sanitizer_get_heap_size();
#endif
    MemoryDecode d = DecodeBytes(file);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(std::vector<uint8_t>(d.sound.pcm, d.sound.pcm + d.sound.pcmBytes), data);
#ifdef LOADER_TEST_ASAN
    EXPECT_LT(__sanitizer_get_heap_size() - before, (size_t)64 << 20);
#endif
    FreeDecodedSound(&d.sound);

    // A format chunk that claims more than the file holds.
    std::vector<uint8_t> liar = MakeRiffWave({{"fmt ", MakePcmFormatChunk(1, 8000, 8)}, {"data", data}});
    liar[16] = liar[17] = liar[18] = 0xFF;
    EXPECT_EQ(DecodeBytes(liar).result, -1);
}

// ---- Loads through the device ----

TEST_F(SoundLoader, PcmWaveKeepsItsFormatAndBytes) {
    if (!HasProgram("sox")) GTEST_SKIP() << "sox missing";
    struct Case {
        int bits, channels, rate;
    } cases[] = {{8, 1, 22050}, {16, 2, 44100}, {24, 1, 48000}, {16, 1, 8000}, {24, 2, 32000}};
    for (const Case& c : cases) {
        std::string path = temp.File("pcm" + std::to_string(c.bits) + "_" + std::to_string(c.channels) + ".wav");
        std::string command = "sox -n -t wavpcm -b " + std::to_string(c.bits) + " -c " + std::to_string(c.channels) +
                              " -r " + std::to_string(c.rate) + " '" + path + "' synth 0.37 sine 440 sine 660 2>/dev/null";
        ASSERT_EQ(RunCommand(command), 0);
        std::vector<uint8_t> file = ReadWholeFile(path);
        // The data chunk, found independently of the loader.
        size_t at = 12;
        std::vector<uint8_t> data;
        while (at + 8 <= file.size()) {
            uint32_t size = file[at + 4] | (file[at + 5] << 8) | (file[at + 6] << 16) | ((uint32_t)file[at + 7] << 24);
            if (memcmp(&file[at], "data", 4) == 0) {
                data.assign(file.begin() + at + 8, file.begin() + at + 8 + size);
                break;
            }
            at += 8 + size + (size & 1);
        }
        ASSERT_FALSE(data.empty());
        LoadedSound sound = LoadThroughDevice(path);
        ASSERT_NE(sound.handle, -1) << path;
        EXPECT_EQ(sound.format.formatTag, 1);
        EXPECT_EQ(sound.format.channels, c.channels);
        EXPECT_EQ(sound.format.samplesPerSecond, (uint32_t)c.rate);
        EXPECT_EQ(sound.format.bitsPerSample, c.bits);
        EXPECT_EQ(sound.format.blockAlign, c.channels * c.bits / 8);
        EXPECT_TRUE(sound.bytes == data) << path;
    }
}

TEST_F(SoundLoader, ContentDecidesNotTheName) {
    if (!HasProgram("sox") || !HasProgram("lame")) GTEST_SKIP() << "sox or lame missing";
    std::string wave = temp.File("tone.wav");
    ASSERT_EQ(RunCommand("sox -n -b 16 -c 2 -r 44100 '" + wave + "' synth 0.5 sine 500 2>/dev/null"), 0);
    std::string mp3 = temp.File("tone.mp3");
    ASSERT_EQ(RunCommand("lame --quiet -b 128 '" + wave + "' '" + mp3 + "'"), 0);
    ASSERT_EQ(RunCommand("cp '" + wave + "' '" + temp.File("wave_named.mp3") + "'"), 0);
    ASSERT_EQ(RunCommand("cp '" + mp3 + "' '" + temp.File("mp3_named.wav") + "'"), 0);

    LoadedSound asWave = LoadThroughDevice(wave);
    LoadedSound waveNamedMp3 = LoadThroughDevice(temp.File("wave_named.mp3"));
    ASSERT_NE(waveNamedMp3.handle, -1);
    EXPECT_TRUE(waveNamedMp3.bytes == asWave.bytes);
    LoadedSound asMp3 = LoadThroughDevice(mp3);
    LoadedSound mp3NamedWave = LoadThroughDevice(temp.File("mp3_named.wav"));
    ASSERT_NE(mp3NamedWave.handle, -1);
    EXPECT_TRUE(mp3NamedWave.bytes == asMp3.bytes);
    EXPECT_FALSE(asMp3.bytes == asWave.bytes);  // decoded, not read as PCM
}

TEST_F(SoundLoader, WhatIsNoSoundGivesMinusOneAndItsSlotBack) {
    int before = GetSoundHandleCount();
    WriteWholeFile(temp.File("text.txt"), std::vector<uint8_t>(
        (const uint8_t*)"This is a text file, not a sound.\n", (const uint8_t*)"This is a text file, not a sound.\n" + 34));
    WriteWholeFile(temp.File("empty.wav"), {});
    mkdir(temp.File("folder.wav").c_str(), 0700);
    EXPECT_EQ(LoadSoundFile(temp.File("text.txt").c_str()), -1);
    EXPECT_EQ(LoadSoundFile(temp.File("empty.wav").c_str()), -1);
    EXPECT_EQ(LoadSoundFile(temp.File("folder.wav").c_str()), -1);
    EXPECT_EQ(LoadSoundFile(temp.File("missing.ogg").c_str()), -1);
    // Each failed load gave its table slot back at once.
    EXPECT_EQ(GetSoundHandleCount(), before);
    EXPECT_EQ(CountFakeSoundCalls("CreateBuffer"), 1);  // only the device's own beep
}

TEST_F(SoundLoader, NoDeviceNoLoad) {
    std::vector<uint8_t> file = MakeRiffWave({{"fmt ", MakePcmFormatChunk(1, 8000, 8)}, {"data", Ramp(64)}});
    WriteWholeFile(temp.File("small.wav"), file);
    EndSoundDevice();
    EXPECT_EQ(LoadSoundFile(temp.File("small.wav").c_str()), -1);
}

TEST_F(SoundLoader, RatesTheDeviceRefusesAreRefusedHere) {
    // A buffer the device refuses would end the program; the loader says -1.
    std::vector<uint8_t> slow = MakeRiffWave({{"fmt ", MakePcmFormatChunk(1, 20, 8)}, {"data", Ramp(64)}});
    WriteWholeFile(temp.File("slow.wav"), slow);
    int before = GetSoundHandleCount();
    EXPECT_EQ(LoadSoundFile(temp.File("slow.wav").c_str()), -1);
    EXPECT_EQ(GetSoundHandleCount(), before);
}

TEST_F(SoundLoader, SoundsTooLargeForTheDeviceAreRefusedHere) {
    // The device holds at most 1000 bytes a buffer: a larger sound would end
    // the program at the transfer; the loader asks first and says -1.
    FAKE_SOUND.maxBufferBytes = 1000;
    WriteWholeFile(temp.File("large.wav"), MakeRiffWave({{"fmt ", MakePcmFormatChunk(1, 8000, 8)}, {"data", Ramp(1001)}}));
    WriteWholeFile(temp.File("fits.wav"), MakeRiffWave({{"fmt ", MakePcmFormatChunk(1, 8000, 8)}, {"data", Ramp(1000)}}));
    int before = GetSoundHandleCount();
    int buffers = CountFakeSoundCalls("CreateBuffer");
    EXPECT_EQ(LoadSoundFile(temp.File("large.wav").c_str()), -1);
    EXPECT_EQ(GetSoundHandleCount(), before);
    EXPECT_EQ(CountFakeSoundCalls("CreateBuffer"), buffers);
    LoadedSound fits = LoadThroughDevice(temp.File("fits.wav"));
    EXPECT_NE(fits.handle, -1);
    EXPECT_EQ(fits.bytes.size(), 1000u);
}

TEST_F(SoundLoader, TruncatedFilesNeverCrash) {
    if (!HasProgram("sox") || !HasProgram("lame") || !HasProgram("oggenc")) GTEST_SKIP() << "encoders missing";
    std::string source = temp.File("source.wav");
    ASSERT_EQ(RunCommand("sox -n -b 16 -c 2 -r 44100 '" + source + "' synth 0.4 sine 300 2>/dev/null"), 0);
    std::vector<std::string> files = {source};
    ASSERT_EQ(RunCommand("lame --quiet -b 96 --add-id3v2 --tt title '" + source + "' '" + temp.File("c.mp3") + "'"), 0);
    ASSERT_EQ(RunCommand("oggenc -Q -q 2 -o '" + temp.File("c.ogg") + "' '" + source + "'"), 0);
    ASSERT_EQ(RunCommand("sox '" + source + "' -e ima-adpcm '" + temp.File("c_ima.wav") + "' 2>/dev/null"), 0);
    ASSERT_EQ(RunCommand("sox '" + source + "' -e ms-adpcm '" + temp.File("c_ms.wav") + "' 2>/dev/null"), 0);
    for (const char* name : {"c.mp3", "c.ogg", "c_ima.wav", "c_ms.wav"}) files.push_back(temp.File(name));

    for (const std::string& path : files) {
        std::vector<uint8_t> whole = ReadWholeFile(path);
        LoadedSound full = LoadThroughDevice(path);
        ASSERT_NE(full.handle, -1) << path;
        DeleteSoundHandle(full.handle);
        std::vector<size_t> cuts = {1, 4, 8, 12, 16, 20, 30, 44, 45, 58, 100, 200, 417, 1000};
        for (int i = 1; i < 10; i++) cuts.push_back(whole.size() * i / 10);
        for (size_t cut : cuts) {
            if (cut >= whole.size()) continue;
            std::string part = temp.File("cut.bin");
            WriteWholeFile(part, std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
            LoadedSound sound = LoadThroughDevice(part);
            if (sound.handle == -1) continue;
            // Never more than the whole file gives (Ogg: its stated length).
            EXPECT_LE(sound.bytes.size(), full.bytes.size() + 4608 * 4) << path << " cut at " << cut;
            EXPECT_EQ(sound.bytes.size() % sound.format.blockAlign, 0u);
            DeleteSoundHandle(sound.handle);
        }
    }
    // A truncated PCM WAVE gives exactly the frames present.
    std::vector<uint8_t> whole = ReadWholeFile(source);
    size_t cut = whole.size() - 1001;
    WriteWholeFile(temp.File("cut.wav"), std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
    LoadedSound sound = LoadThroughDevice(temp.File("cut.wav"));
    ASSERT_NE(sound.handle, -1);
    EXPECT_EQ(sound.bytes.size(), (cut - 44) / 4 * 4);
    EXPECT_TRUE(std::equal(sound.bytes.begin(), sound.bytes.end(), whole.begin() + 44));
}

// ---- A reader table the test drives ----

// A reader of files that begin "SCRIPTED": it opens, decodes and closes as
// the script says, and counts what it is asked.
struct ScriptedReader {
    int openFails, decodeFails;
    int converts;        // the decode is a conversion (not PCM as stored)
    int closeInDecode;   // the user closes the window while the decode runs
    int opens, closes, decodes;
};
ScriptedReader SCRIPT;
uint8_t SCRIPT_FILE[1];  // stands for an opened file

int IsScripted(SoundDataSource* source) {
    uint8_t head[8];
    return source->ops.Read(head, 1, 8, source->handle) == 8 && memcmp(head, "SCRIPTED", 8) == 0;
}
int OpenScripted(SoundDataSource*, SoundReaderFile** file, SoundReaderInfo* info) {
    if (SCRIPT.openFails) return -1;
    SCRIPT.opens++;
    *file = (SoundReaderFile*)SCRIPT_FILE;
    *info = SoundReaderInfo{nullptr, 0, 4000, SCRIPT.converts};
    return 0;
}
// A second of 16-bit mono at 8000 Hz, into the place when it gives memory.
int DecodeScripted(SoundReaderFile*, const PcmPlace* place, DecodedSound* sound) {
    SCRIPT.decodes++;
    if (SCRIPT.closeInDecode) {
        PlatformMessage close = {WM_CLOSE, 0, 0};
        PLATFORM.window->PostMessage(MESSAGE_QUEUE_WINDOW, &close);
    }
    if (SCRIPT.decodeFails) return -1;
    WaveFormat format = {1, 1, 8000, 16000, 2, 16, 0, 0};
    *sound = DecodedSound{nullptr, 16000, format, 0};
    sound->pcm = place != nullptr ? place->Reserve(place->context, &format, 16000) : nullptr;
    sound->placed = sound->pcm != nullptr;
    if (sound->pcm == nullptr) sound->pcm = (uint8_t*)malloc(16000);
    for (int i = 0; i < 16000; i++) sound->pcm[i] = (uint8_t)(i * 3);
    return 0;
}
void CloseScripted(SoundReaderFile*) { SCRIPT.closes++; }

const PlatformSoundReader SCRIPTED_READER = {"scripted", IsScripted, 0, OpenScripted, DecodeScripted, CloseScripted};
const PlatformSoundReader* const SCRIPTED_READERS[] = {&SCRIPTED_READER, nullptr};

class ScriptedLoads : public SoundLoader {
protected:
    std::string scripted, other;
    void SetUp() override {
        SoundLoader::SetUp();
        SCRIPT = ScriptedReader{};
        PLATFORM.readers = SCRIPTED_READERS;
        scripted = temp.File("a.snd");
        other = temp.File("b.snd");
        WriteWholeFile(scripted, std::vector<uint8_t>((const uint8_t*)"SCRIPTED and more", (const uint8_t*)"SCRIPTED and more" + 17));
        WriteWholeFile(other, std::vector<uint8_t>((const uint8_t*)"SOMETHING ELSE", (const uint8_t*)"SOMETHING ELSE" + 14));
    }
    void TearDown() override {
        PLATFORM.readers = SOUND_READERS;
        SoundLoader::TearDown();
    }
};

TEST_F(ScriptedLoads, EveryFailureClosesTheReaderAndNamesTheCause) {
    LoadedSound sound = LoadThroughDevice(scripted);
    ASSERT_NE(sound.handle, -1);
    ASSERT_EQ(sound.bytes.size(), 16000u);
    EXPECT_EQ(sound.bytes[13], 39);
    EXPECT_EQ(SCRIPT.closes, SCRIPT.opens);
    DeleteSoundHandle(sound.handle);

    int handles = GetSoundHandleCount();
    // The content is the reader's, but it will not open or decode: damaged.
    SCRIPT = ScriptedReader{};
    SCRIPT.openFails = 1;
    EXPECT_EQ(LoadSoundFile(scripted.c_str()), -1);
    EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_DAMAGED);
    SCRIPT = ScriptedReader{};
    SCRIPT.decodeFails = 1;
    EXPECT_EQ(LoadSoundFile(scripted.c_str()), -1);
    EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_DAMAGED);
    EXPECT_EQ(SCRIPT.decodes, 1);
    EXPECT_EQ(SCRIPT.closes, 1);
    // Content no reader takes, and no fallback: another kind of file.
    EXPECT_EQ(LoadSoundFile(other.c_str()), -1);
    EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_UNKNOWN_FORMAT);
    EXPECT_EQ(SCRIPT.opens, 1);
    EXPECT_EQ(GetSoundHandleCount(), handles);
}

TEST_F(ScriptedLoads, AWindowClosedDuringAConversionCancelsTheLoad) {
    SCRIPT.converts = 1;
    SCRIPT.closeInDecode = 1;
    FAKE_SOUND.calls.clear();
    int handles = GetSoundHandleCount();
    EXPECT_EQ(LoadSoundFile(scripted.c_str()), -1);
    // Not a damaged file: the load was ended by the close.
    EXPECT_EQ(GetLastSoundLoadError(), SOUND_LOAD_CANCELLED);
    EXPECT_EQ(SCRIPT.closes, 1);
    // The buffer the decode was written into went with it.
    EXPECT_EQ(CountFakeSoundCalls("MapBuffer"), 1);
    EXPECT_EQ(CountFakeSoundCalls("UnmapBuffer"), 1);
    EXPECT_EQ(CountFakeSoundCalls("ReleaseBuffer"), 1);
    EXPECT_EQ(GetSoundHandleCount(), handles);
}

TEST_F(ScriptedLoads, PcmAsStoredLoadsThroughAClose) {
    // Nothing is converted, so nothing lets the window have its messages:
    // the load stands, and the close waits for the frame loop.
    SCRIPT.closeInDecode = 1;
    LoadedSound sound = LoadThroughDevice(scripted);
    EXPECT_NE(sound.handle, -1);
    EXPECT_EQ(sound.bytes.size(), 16000u);
    EXPECT_NE(ProcessWindowMessages(), 0);
}

}  // namespace
