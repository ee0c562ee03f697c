// sound_loader_test_support.cpp: shared helpers of the loader tests.
#include "tests/sound/sound_loader_test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "core/core.h"
#include "library/library.h"
#include "platform/sound_reader.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_sound.h"
#include "platform/platform.h"
#include "platform/sound_device.h"
#include "sound/sound_internal.h"
#include "sound/sound_loader_internal.h"
#include "tests/sound/fake_sound_lookup.h"

namespace {
std::string LOADER_TEST_DIR;
}

void StartLoaderTestDevice(void) {
    char pattern[] = "/tmp/ravlin-loader-test-XXXXXX";
    char* made = mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    LOADER_TEST_DIR = made;
    InstallFakePlatform();
    FAKE.currentDirectory = LOADER_TEST_DIR;
    InstallFakeSoundDevice();
    PLATFORM.readers = SOUND_READERS;
    // The library starts without sound; the fake device opens afterwards.
    FAKE_SOUND.createDeviceFails = 1;
    SetLogOutputEnabled(0);
    ASSERT_EQ(InitLibrary(), 0);
    FAKE_SOUND.createDeviceFails = 0;
    ASSERT_EQ(InitSoundDevice(), 0);
    ASSERT_EQ(IsSoundDeviceOpen(), 1);
}

void EndLoaderTestDevice(void) {
    EndSoundDevice();
    EndLibrary();
    PLATFORM.sound = &OPENAL_SOUND_OPS;
    PLATFORM.readers = SOUND_READERS;
    if (!LOADER_TEST_DIR.empty()) RunCommand("rm -rf '" + LOADER_TEST_DIR + "'");
    LOADER_TEST_DIR.clear();
}

LoadedSound LoadThroughDevice(const std::string& path) {
    LoadedSound sound = {};
    sound.handle = LoadSoundFile(path.c_str());
    if (sound.handle == -1) return sound;
    FakeSoundBuffer* buffer = FindFakeSoundBuffer(sound.handle, 0);
    if (buffer != nullptr) {
        sound.format = buffer->format;
        sound.bytes = buffer->bytes;
    }
    return sound;
}

TempFolder::TempFolder() {
    char pattern[] = "/tmp/ravlin-sound-XXXXXX";
    char* made = mkdtemp(pattern);
    path = made != nullptr ? made : "/tmp";
}

TempFolder::~TempFolder() {
    if (path.rfind("/tmp/ravlin-sound-", 0) == 0) RunCommand("rm -rf '" + path + "'");
}

int RunCommand(const std::string& command) {
    int status = system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool HasProgram(const char* name) {
    return RunCommand(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t ResidentBytes(void) {
    long pages = 0, resident = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    if (fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(statm);
    return (size_t)resident * (size_t)sysconf(_SC_PAGESIZE);
}

int DecodeBytes(const std::vector<uint8_t>& bytes, int splitting, std::vector<uint8_t>* pcm) {
    MemorySoundStream stream;
    SoundDataSource source;
    OpenMemorySoundSource(&stream, bytes.data(), bytes.size(), &source);
    SetSoundDecodeSplitting(splitting);
    DecodedSound sound;
    int result = DecodeSoundToPcm(&source, &sound);
    if (result == 0) {
        pcm->assign(sound.pcm, sound.pcm + sound.pcmBytes);
        FreeDecodedSound(&sound);
    }
    return result;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); i++) samples[i] = (int16_t)(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}

std::string GetCorpusDir(void) { return std::string(RAVLIN_SHARED_DIR) + "/corpus"; }

namespace {
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back((uint8_t)(v >> (8 * i)));
}
void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}
}  // namespace

std::vector<uint8_t> MakeRiffWave(const std::vector<RiffChunk>& chunks) {
    std::vector<uint8_t> body = {'W', 'A', 'V', 'E'};
    for (const RiffChunk& chunk : chunks) {
        body.insert(body.end(), chunk.id.begin(), chunk.id.end());
        PutU32(body, (uint32_t)chunk.body.size());
        body.insert(body.end(), chunk.body.begin(), chunk.body.end());
        if (chunk.body.size() & 1) body.push_back(0);
    }
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
    PutU32(file, (uint32_t)body.size());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

std::vector<uint8_t> MakePcmFormatChunk(int channels, int rate, int bits, int formatBytes) {
    std::vector<uint8_t> out;
    int blockAlign = channels * bits / 8;
    PutU16(out, 1);
    PutU16(out, (uint32_t)channels);
    PutU32(out, (uint32_t)rate);
    PutU32(out, (uint32_t)(rate * blockAlign));
    PutU16(out, (uint32_t)blockAlign);
    PutU16(out, (uint32_t)bits);
    while ((int)out.size() < formatBytes) out.push_back(0);
    return out;
}
