// sound_loader_test_support.h: what the loader tests share: a fake device set
// up for loads, the real format readers, temporary files and the reference tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sound/sound.h"

// Fake platform and fake sound device, open, with the real format readers.
void StartLoaderTestDevice(void);
void EndLoaderTestDevice(void);

// What a load put into its device buffer.
struct LoadedSound {
    int handle;                  // -1 when the load failed
    WaveFormat format;
    std::vector<uint8_t> bytes;  // the buffer's bytes
};
LoadedSound LoadThroughDevice(const std::string& path);

// A fresh temporary folder for one test, removed with everything in it.
struct TempFolder {
    std::string path;
    TempFolder();
    ~TempFolder();
    std::string File(const std::string& name) const { return path + "/" + name; }
};

// Runs a shell command; its exit status (0 = success).
int RunCommand(const std::string& command);
// Whether a program is on the PATH.
bool HasProgram(const char* name);
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// Pages of this process's memory in use, bytes.
size_t ResidentBytes(void);
// A file's bytes decoded as the loader decodes them, split across two threads
// or not (splitting 1 or 0); the PCM goes to *pcm. The decoder's result.
int DecodeBytes(const std::vector<uint8_t>& bytes, int splitting, std::vector<uint8_t>* pcm);
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Little-endian 16-bit samples of a byte block.
std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes);

// The corpus folder beside the clone.
std::string GetCorpusDir(void);

// A RIFF WAVE file from its parts: the "fmt " chunk body and chunks after it
// ({id, body}); odd chunks get their pad byte.
struct RiffChunk {
    std::string id;
    std::vector<uint8_t> body;
};
std::vector<uint8_t> MakeRiffWave(const std::vector<RiffChunk>& chunks);
std::vector<uint8_t> MakePcmFormatChunk(int channels, int rate, int bits, int formatBytes = 16);
