// The sound device within the library's start and end, and the sound
// operations that end the program.
#include <cstdio>

#include "sound_test_support.h"

namespace {

std::string DUMP_PATH;

// Written by a child that ends through ExitWithError: what its buffers went through.
void DumpReleasesAtExit() {
    FILE* f = fopen(DUMP_PATH.c_str(), "w");
    if (!f) return;
    for (int id = 1; id <= FAKE_SOUND.buffersCreated; id++) fprintf(f, "%d:%d\n", id, FAKE_SOUND.buffers[id].released);
    fclose(f);
}

class SoundHandleDeathTest : public SoundTest {
protected:
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 2, 44100, 16);

    void SetUp() override {
        SoundTest::SetUp();
        ASSERT_EQ(InitSoundDevice(), 0);
    }
};

}  // namespace

using LibrarySoundTest = SoundTest;

TEST_F(LibrarySoundTest, LibraryStartsWithoutADeviceAndEndsTheOneItOpened) {
    EndLibrary();
    InstallFakePlatform();
    FAKE.currentDirectory = dir;
    InstallFakeSoundDevice();
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(IsSoundDeviceOpen(), 1);
    int handle = AddSoundData();
    EXPECT_EQ(EndLibrary(), 0);
    EXPECT_EQ(IsSoundDeviceOpen(), 0);
    EXPECT_EQ(GetSoundHandleCount(), 0);
    EXPECT_EQ(FAKE_SOUND.open, 0);
    EXPECT_EQ(IsSoundHandlePlaying(handle), -1);
    EXPECT_NE(ReadLog().find("DirectSound の終了処理は正常に終了しました\r\n"), std::string::npos);

    // The fixture's own start had no device and still succeeded: see SetUp.
    InstallFakeSoundDevice();
    FAKE_SOUND.createDeviceFails = 1;
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_NE(ReadLog().find("DirectSoundの初期化に失敗しました\r\n"), std::string::npos);
}

TEST_F(SoundHandleDeathTest, The513thSoundEndsTheProgram) {
    EXPECT_EXIT(
        {
            for (int i = 0; i < MAX_SOUND_HANDLES; i++) {
                if (AddSoundData() != SOUND_HANDLE_BASE + i) exit(3);
            }
            AddSoundData();
            exit(4);
        },
        ::testing::ExitedWithCode(255), "");
    std::string log = ReadLog();
    EXPECT_NE(log.find("サウンドの数が許容量を越えました終了します"), std::string::npos);
    // The shut-down ran: the device was ended and with it the 512 records.
    EXPECT_NE(log.find("DirectSound の終了処理は正常に終了しました\r\n"), std::string::npos);
}

TEST_F(SoundHandleDeathTest, RefusedBuffersAreReleasedBeforeTheProgramEnds) {
    DUMP_PATH = dir + "/released.txt";
    EXPECT_EXIT(
        {
            atexit(DumpReleasesAtExit);
            int handle = AddSoundData();
            FAKE_SOUND.createBufferFailAfter = FAKE_SOUND.buffersCreated + 2;  // the third refused
            CreateSoundBuffers(&format, 400, 4, handle);
            exit(4);
        },
        ::testing::ExitedWithCode(255), "");
    EXPECT_NE(ReadLog().find("DirectSoundBuffer の作成に失敗しました"), std::string::npos);
    std::ifstream in(DUMP_PATH);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) lines.push_back(line);
    // The beep (1) and the two buffers made for the sound (2, 3), each released once.
    EXPECT_EQ(lines, (std::vector<std::string>{"1:1", "2:1", "3:1"}));
}
