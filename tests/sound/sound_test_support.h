// sound_test_support.h: a started library on the fake platform, a sound device
// chosen per test (the fake one or OpenAL Soft's loopback), and the log.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "core/core.h"
#include "library/library.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_sound.h"
#include "platform/sound_device.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"
#include "tests/sound/fake_sound_lookup.h"

class SoundTest : public ::testing::Test {
protected:
    std::string dir;
    size_t logMark = 0;

    // The library starts with a sound device that cannot be opened, so each
    // test opens the device it wants with InitSoundDevice.
    void SetUp() override {
        char pattern[] = "/tmp/ravlin-sound-test-XXXXXX";
        dir = mkdtemp(pattern);
        InstallFakePlatform();
        FAKE.currentDirectory = dir;
        InstallFakeSoundDevice();
        FAKE_SOUND.createDeviceFails = 1;
        ASSERT_EQ(InitLibrary(), 0);
        ASSERT_EQ(IsSoundDeviceOpen(), 0);
        FAKE_SOUND.createDeviceFails = 0;
        FAKE_SOUND.calls.clear();
        logMark = ReadLog().size();
    }
    void TearDown() override {
        EndSoundDevice();
        EndLibrary();
        CloseLoopbackSoundDevice();
        SetSoundResamplerOverride(-1);
        PLATFORM.sound = &OPENAL_SOUND_OPS;
        std::string command = "rm -rf '" + dir + "'";
        if (system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir;
    }

    std::string ReadLog() const {
        std::ifstream in(dir + "/AppLog.txt", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // What the log gained since SetUp (or since the last call).
    std::string NewLog() {
        std::string log = ReadLog();
        std::string added = log.substr(logMark < log.size() ? logMark : log.size());
        logMark = log.size();
        return added;
    }

    // A loaded sound of the given format whose bytes are copied in through the
    // loader's lock; returns the handle.
    static int LoadPcm(const WaveFormat& format, const void* data, int bytes, int buffers = 1) {
        int handle = AddSoundData();
        if (CreateSoundBuffers(&format, bytes, buffers, handle) != 0) return -1;
        for (int i = 0; i < buffers; i++) {
            void* part1 = nullptr;
            void* part2 = nullptr;
            int bytes1 = 0, bytes2 = 0;
            if (LockSoundBuffer(handle, i, 0, bytes, &part1, &bytes1, &part2, &bytes2) != 0) return -1;
            memcpy(part1, data, bytes1);
            if (UnlockSoundBuffer(handle, i, part1, bytes1, part2, bytes2) != 0) return -1;
        }
        return handle;
    }
};

inline WaveFormat MakeWaveFormat(int tag, int channels, int rate, int bits) {
    WaveFormat format = {};
    format.formatTag = (uint16_t)tag;
    format.channels = (uint16_t)channels;
    format.samplesPerSecond = (uint32_t)rate;
    format.bitsPerSample = (uint16_t)bits;
    format.blockAlign = (uint16_t)(channels * bits / 8);
    format.averageBytesPerSecond = format.blockAlign * (uint32_t)rate;
    return format;
}
