// A machine without sound output, on the real backend: this process's mixer
// has no output driver, so opening the default device fails as it does on a
// machine without a sound card.
#include <cstdlib>

#include "sound_test_support.h"

namespace {

[[maybe_unused]] const int NO_DRIVER = setenv("ALSOFT_DRIVERS", "no-such-driver", 1);

class NoDeviceTest : public SoundTest {
protected:
    void SetUp() override {
        SoundTest::SetUp();
        EndLibrary();
        InstallFakePlatform();
        FAKE.currentDirectory = dir;
        PLATFORM.sound = &OPENAL_SOUND_OPS;
        logMark = 0;
    }
};

}  // namespace

TEST_F(NoDeviceTest, LibraryStartsAndEverySoundCallFails) {
    ASSERT_EQ(InitLibrary(), 0);
    std::string log = NewLog();
    EXPECT_NE(log.find("DirectSound の初期化を行います\r\nDirectSoundの初期化に失敗しました\r\n"), std::string::npos);
    EXPECT_EQ(IsSoundDeviceOpen(), 0);

    int handle = AddSoundData();
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 2, 44100, 16);
    EXPECT_EQ(CreateSoundBuffers(&format, 400, 1, handle), -1);
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_NORMAL), -1);
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_LOOP), -1);
    EXPECT_EQ(StopSoundHandle(handle), -1);
    EXPECT_EQ(IsSoundHandlePlaying(handle), -1);
    EXPECT_EQ(SetSoundHandleFrequency(44100, handle), -1);
    EXPECT_EQ(DeleteSoundHandle(handle), -1);
    EXPECT_EQ(MakeToneSound(440, 100), -1);

    // Trying again fails the same way; ending without a device says nothing.
    EXPECT_EQ(InitSoundDevice(), -1);
    EXPECT_EQ(NewLog(), "DirectSound の初期化を行います\r\nDirectSoundの初期化に失敗しました\r\n");
    EXPECT_EQ(EndSoundDevice(), -1);
    EXPECT_EQ(NewLog(), "");
    EXPECT_EQ(EndLibrary(), 0);
    EXPECT_EQ(NewLog().find("DirectSound"), std::string::npos);
}
