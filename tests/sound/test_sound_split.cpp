// test_sound_split.cpp: long sounds decoded in two halves at once give the
// bytes of a decode in one run, for every format that splits; and loads that
// decode straight into the device's buffer give what a copy would.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/fake/fake_sound.h"
#include "platform/platform.h"
#include "sound/sound_internal.h"
#include "tests/sound/fake_sound_lookup.h"
#include "sound/sound_loader_internal.h"
#include "tests/sound/sound_loader_test_support.h"

namespace {

struct Decoded {
    int result;
    WaveFormat format;
    std::vector<uint8_t> pcm;
};

Decoded DecodeFile(const std::string& path, int splitting) {
    std::vector<uint8_t> file = ReadWholeFile(path);
    MemorySoundStream stream;
    SoundDataSource source;
    OpenMemorySoundSource(&stream, file.data(), file.size(), &source);
    SetSoundDecodeSplitting(splitting);
    DecodedSound sound;
    Decoded out = {};
    out.result = DecodeSoundToPcm(&source, &sound);
    SetSoundDecodeSplitting(1);
    if (out.result == 0) {
        out.format = sound.format;
        out.pcm.assign(sound.pcm, sound.pcm + sound.pcmBytes);
        FreeDecodedSound(&sound);
    }
    return out;
}

class SoundSplit : public ::testing::Test {
protected:
    TempFolder temp;
    void SetUp() override {
        for (const char* tool : {"sox", "lame", "oggenc"}) {
            if (!HasProgram(tool)) GTEST_SKIP() << tool << " missing";
        }
        StartLoaderTestDevice();
    }
    void TearDown() override {
        SetSoundDecodeSplitting(1);
        EndLoaderTestDevice();
    }

    // Music-like stereo: two tones, a sweep and some noise.
    std::string MakeSource(const std::string& name, int channels, int rate, double seconds) {
        std::string path = temp.File(name);
        std::string s = std::to_string(seconds);
        EXPECT_EQ(RunCommand("sox -n -b 16 -c " + std::to_string(channels) + " -r " + std::to_string(rate) + " '" +
                             path + "' synth " + s + " sine 220 sine 330 synth " + s + " sine mix 100-2000 synth " +
                             s + " pinknoise mix vol 0.5 2>/dev/null"),
                  0);
        return path;
    }
};

}  // namespace

// Each format that splits, long enough to be split: the split decode equals
// the one-run decode byte for byte.
TEST_F(SoundSplit, SplitDecodeEqualsOneRun) {
    std::string stereo = MakeSource("stereo.wav", 2, 44100, 7);
    std::string mono = MakeSource("mono.wav", 1, 22050, 3);
    struct Case {
        const char* name;
        std::string command;  // makes temp/name from the sources
    };
    std::vector<Case> cases = {
        {"q3.ogg", "oggenc -Q -q 3 -o OUT '" + stereo + "'"},
        // Chained: a stereo link, then a mono link at another rate where the
        // sound ends.
        // Links of one chain need serial numbers of their own: oggenc's own
        // choice repeats now and then for two runs in the same second.
        {"chained.ogg", "oggenc -Q -q 3 -s 1 -o OUT.a '" + stereo + "' && oggenc -Q -q 1 -s 2 -o OUT.b '" + mono +
                            "' && cat OUT.a OUT.b > OUT"},
        // Gapless trims at both ends (the encoder's tag).
        {"cbr.mp3", "lame --quiet -b 128 '" + stereo + "' OUT"},
        {"vbr.mp3", "lame --quiet -V 4 '" + stereo + "' OUT"},
        {"ima.wav", "sox '" + stereo + "' -e ima-adpcm OUT"},
        {"ms.wav", "sox '" + stereo + "' -e ms-adpcm OUT"},
        {"alaw.wav", "sox '" + stereo + "' -e a-law OUT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = temp.File(c.name);
        std::string command = c.command;
        for (size_t at; (at = command.find("OUT")) != std::string::npos;) command.replace(at, 3, "'" + out + "'");
        // The quotes around OUT.a land as 'path'.a: still one word to the shell.
        ASSERT_EQ(RunCommand(command), 0);
        Decoded whole = DecodeFile(out, 0);
        int splitsBefore = GetSoundDecodeSplitCount();
        Decoded halves = DecodeFile(out, 1);
        ASSERT_EQ(whole.result, 0);
        ASSERT_EQ(halves.result, 0);
        EXPECT_EQ(GetSoundDecodeSplitCount(), splitsBefore + 1) << "not split";
        EXPECT_EQ(halves.format.samplesPerSecond, whole.format.samplesPerSecond);
        EXPECT_EQ(halves.format.channels, whole.format.channels);
        ASSERT_EQ(halves.pcm.size(), whole.pcm.size());
        size_t first = 0;
        while (first < whole.pcm.size() && whole.pcm[first] == halves.pcm[first]) first++;
        EXPECT_EQ(first, whole.pcm.size()) << "first differing byte";
    }
}

// Short sounds stay on one thread.
TEST_F(SoundSplit, ShortSoundsAreNotSplit) {
    std::string source = MakeSource("short.wav", 2, 44100, 1.5);
    std::string ogg = temp.File("short.ogg");
    ASSERT_EQ(RunCommand("oggenc -Q -o '" + ogg + "' '" + source + "'"), 0);
    int before = GetSoundDecodeSplitCount();
    EXPECT_EQ(DecodeFile(ogg, 1).result, 0);
    EXPECT_EQ(GetSoundDecodeSplitCount(), before);
}

// A load writes its PCM straight into the device's buffer when the device
// can map it, and gives the bytes the copying path gives when it cannot; a
// sound that comes out shorter than its size promised (the chained file
// ends at its layout change) moves to a buffer of its own length.
TEST_F(SoundSplit, LoadsIntoTheMappedBufferGiveWhatACopyGives) {
    std::string stereo = MakeSource("stereo.wav", 2, 44100, 3);
    std::string mono = MakeSource("mono.wav", 1, 22050, 1);
    std::string ogg = temp.File("a.ogg"), tail = temp.File("b.ogg"), chained = temp.File("chained.ogg");
    std::string mp3 = temp.File("a.mp3"), ima = temp.File("ima.wav");
    // The chain's links with serial numbers of their own (oggenc's own choice
    // repeats now and then for two runs in the same second).
    ASSERT_EQ(RunCommand("oggenc -Q -s 1 -o '" + ogg + "' '" + stereo + "' && oggenc -Q -s 2 -o '" + tail + "' '" + mono +
                         "' && cat '" + ogg + "' '" + tail + "' > '" + chained + "' && lame --quiet '" + stereo +
                         "' '" + mp3 + "' && sox '" + stereo + "' -e ima-adpcm '" + ima + "'"),
              0);
    struct Case {
        std::string path;
        int mappedToTheEnd;  // the buffer stays the mapped one
    };
    for (const Case& c : std::vector<Case>{{stereo, 1}, {ogg, 1}, {mp3, 1}, {ima, 1}, {chained, 0}}) {
        SCOPED_TRACE(c.path);
        Decoded expected = DecodeFile(c.path, 0);
        ASSERT_EQ(expected.result, 0);

        FAKE_SOUND.calls.clear();
        LoadedSound mapped = LoadThroughDevice(c.path);
        ASSERT_NE(mapped.handle, -1);
        EXPECT_EQ(CountFakeSoundCalls("MapBuffer"), 1);
        EXPECT_EQ(CountFakeSoundCalls("UnmapBuffer"), 1);
        EXPECT_EQ(CountFakeSoundCalls("Lock"), c.mappedToTheEnd ? 0 : 1);
        EXPECT_EQ(CountFakeSoundCalls("CreateBuffer"), c.mappedToTheEnd ? 1 : 2);
        EXPECT_TRUE(mapped.bytes == expected.pcm);
        FakeSoundBuffer* buffer = FindFakeSoundBuffer(mapped.handle, 0);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(buffer->mapped, 0);
        EXPECT_EQ(GetSoundBufferCount(mapped.handle), 1);
        DeleteSoundHandle(mapped.handle);

        FAKE_SOUND.mapBufferFails = 1;
        FAKE_SOUND.calls.clear();
        LoadedSound copied = LoadThroughDevice(c.path);
        FAKE_SOUND.mapBufferFails = 0;
        ASSERT_NE(copied.handle, -1);
        EXPECT_EQ(CountFakeSoundCalls("Lock"), 1);
        EXPECT_TRUE(copied.bytes == expected.pcm);
        DeleteSoundHandle(copied.handle);
    }
    EXPECT_EQ(GetSoundHandleCount(), 0);
}

// A file that fails to decode after its buffer was mapped leaves nothing
// behind: no handle, no buffer still mapped or alive.
TEST_F(SoundSplit, AFailedLoadReleasesTheMappedBuffer) {
    std::string stereo = MakeSource("stereo.wav", 2, 44100, 3);
    std::string mp3 = temp.File("a.mp3");
    ASSERT_EQ(RunCommand("lame --quiet -b 128 '" + stereo + "' '" + mp3 + "'"), 0);
    // A quit seen by the conversion's pump fails the load after the mapping.
    FAKE_SOUND.calls.clear();
    PlatformMessage quit = {WM_QUIT, 0, 0};
    PLATFORM.window->PostMessage(MESSAGE_QUEUE_THREAD, &quit);
    EXPECT_EQ(LoadSoundFile(mp3.c_str()), -1);
    EXPECT_EQ(CountFakeSoundCalls("MapBuffer"), 1);
    EXPECT_EQ(CountFakeSoundCalls("UnmapBuffer"), 1);
    EXPECT_EQ(CountFakeSoundCalls("ReleaseBuffer"), 1);
    EXPECT_EQ(GetSoundHandleCount(), 0);
}
