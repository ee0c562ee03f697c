// Opening and closing the sound device, on the fake device.
#include <cmath>

#include "sound_test_support.h"

using SoundDeviceTest = SoundTest;

TEST_F(SoundDeviceTest, WithoutADeviceEverySoundOperationFails) {
    FAKE_SOUND.createDeviceFails = 1;
    EXPECT_EQ(InitSoundDevice(), -1);
    EXPECT_EQ(NewLog(), "DirectSound の初期化を行います\r\nDirectSoundの初期化に失敗しました\r\n");
    EXPECT_EQ(IsSoundDeviceOpen(), 0);

    // A record can still be taken, but nothing can be done with it.
    int handle = AddSoundData();
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 1, 44100, 16);
    EXPECT_EQ(CreateSoundBuffers(&format, 100, 1, handle), -1);
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_BACK), -1);
    EXPECT_EQ(StopSoundHandle(handle), -1);
    EXPECT_EQ(IsSoundHandlePlaying(handle), -1);
    EXPECT_EQ(SetSoundHandleFrequency(22050, handle), -1);
    EXPECT_EQ(GetSoundBufferCount(handle), -1);
    EXPECT_EQ(DeleteSoundHandle(handle), -1);
    EXPECT_EQ(CountFakeSoundCalls("CreateBuffer"), 0);

    EXPECT_EQ(EndSoundDevice(), -1);
    EXPECT_EQ(NewLog(), "");
}

TEST_F(SoundDeviceTest, SecondStartWhileOpenFailsSilently) {
    ASSERT_EQ(InitSoundDevice(), 0);
    NewLog();
    size_t calls = FAKE_SOUND.calls.size();
    EXPECT_EQ(InitSoundDevice(), -1);
    EXPECT_EQ(NewLog(), "");
    EXPECT_EQ(FAKE_SOUND.calls.size(), calls);
    EXPECT_EQ(IsSoundDeviceOpen(), 1);
}

TEST_F(SoundDeviceTest, FailedSetUpStepsReleaseTheDevice) {
    struct Case {
        int* failure;
        const char* message;
    } cases[] = {
        {&FAKE_SOUND.cooperativeLevelFails, "DirectSoundの協調レベルの設定に失敗しました\r\n"},
        {&FAKE_SOUND.primaryBufferFails, "DirectSoundのプライマリサウンドバッファの作成に失敗しました\r\n"},
    };
    for (const Case& c : cases) {
        InstallFakeSoundDevice();
        *c.failure = 1;
        EXPECT_EQ(InitSoundDevice(), -1);
        EXPECT_EQ(NewLog(), std::string("DirectSound の初期化を行います\r\n") + c.message);
        EXPECT_EQ(IsSoundDeviceOpen(), 0);
        EXPECT_EQ(CountFakeSoundCalls("ReleaseDevice"), 1);
        EXPECT_EQ(FAKE_SOUND.open, 0);
        EXPECT_EQ(EndSoundDevice(), -1);
    }
}

TEST_F(SoundDeviceTest, RefusedPrimaryFormatIsOnlyLogged) {
    FAKE_SOUND.setPrimaryFormatFails = 1;
    EXPECT_EQ(InitSoundDevice(), 0);
    std::string log = NewLog();
    EXPECT_NE(log.find("DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\r\n"), std::string::npos);
    EXPECT_NE(log.find("DirectSound の初期化は正常に終了しました\r\n"), std::string::npos);
    EXPECT_EQ(IsSoundDeviceOpen(), 1);
}

TEST_F(SoundDeviceTest, LostBeepBufferClosesTheDeviceButStartUpSucceeds) {
    FAKE_SOUND.createBufferFails = 1;
    EXPECT_EQ(InitSoundDevice(), 0);
    std::string log = NewLog();
    EXPECT_EQ(log.find("ビープ用DirectSoundのプライマリサウンドバッファの作成に失敗しました\r\n"),
              log.find("\r\n") + 2);
    EXPECT_EQ(log.find("デバイスを列挙します"), std::string::npos);  // no report without a device
    EXPECT_NE(log.find("DirectSound の初期化は正常に終了しました\r\n"), std::string::npos);
    EXPECT_EQ(IsSoundDeviceOpen(), 0);
    EXPECT_EQ(FAKE_SOUND.open, 0);
    EXPECT_EQ(EndSoundDevice(), -1);
    EXPECT_EQ(NewLog(), "");
}

TEST_F(SoundDeviceTest, PrimaryFormatFollowsTheCapabilities) {
    struct Case {
        uint32_t flags, maxRate;
        int channels, bits, rate;
    } cases[] = {
        {DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT, 48000, 2, 16, 44100},
        {DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT, 44100, 2, 16, 44100},
        {DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT, 22050, 2, 16, 22050},
        {DSCAPS_PRIMARYMONO | DSCAPS_PRIMARY16BIT, 44100, 1, 16, 44100},
        {DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT, 44100, 2, 8, 44100},
        {DSCAPS_PRIMARYMONO | DSCAPS_PRIMARY8BIT, 11025, 1, 8, 11025},
    };
    for (const Case& c : cases) {
        EndSoundDevice();
        InstallFakeSoundDevice();
        FAKE_SOUND.caps.flags = c.flags;
        FAKE_SOUND.caps.maxSecondaryRate = c.maxRate;
        ASSERT_EQ(InitSoundDevice(), 0);
        const WaveFormat& f = FAKE_SOUND.primaryFormat;
        EXPECT_EQ(f.formatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f.channels, c.channels);
        EXPECT_EQ(f.bitsPerSample, c.bits);
        EXPECT_EQ((int)f.samplesPerSecond, c.rate);
        EXPECT_EQ(f.blockAlign, c.channels * c.bits / 8);
        EXPECT_EQ((int)f.averageBytesPerSecond, c.rate * c.channels * c.bits / 8);
        EXPECT_EQ(f.extraSize, 0);
    }
}

TEST_F(SoundDeviceTest, CapabilityReportListsEveryDevice) {
    FAKE_SOUND.deviceDescriptions = {"First Output", "Second Output"};
    FAKE_SOUND.deviceModules = {"first", "second"};
    FAKE_SOUND.caps.flags = DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT | DSCAPS_SECONDARYMONO | DSCAPS_SECONDARY8BIT;
    FAKE_SOUND.caps.minSecondaryRate = 100;
    FAKE_SOUND.caps.maxSecondaryRate = 200000;
    FAKE_SOUND.caps.totalHardwareMemory = 1536;
    FAKE_SOUND.caps.freeHardwareMemory = 512;
    ASSERT_EQ(InitSoundDevice(), 0);
    EXPECT_EQ(NewLog(),
              "DirectSound の初期化を行います\r\n"
              "\tDirectSound デバイスを列挙します\r\n"
              "\t\tモジュール名:          first  ドライバ記述:First Output \r\n"
              "\t\tモジュール名:         second  ドライバ記述:Second Output \r\n"
              "\t最大サンプリングレート:200.00KHz 最小サンプリングレート:0.10KHz \r\n"
              "\t総サウンドメモリ領域:1.50KB 空きサウンドメモリ領域:0.50KB \r\n\r\n"
              "\t利用可能サンプリング精度\r\n"
              "\t プライマリ １６bit = OK  ８bit = NO \r\n"
              "\t セカンダリ １６bit = NO  ８bit = OK \r\n\r\n"
              "\t利用可能チャンネル\r\n"
              "\t プライマリ MONO = NO  STEREO = OK \r\n"
              "\t セカンダリ MONO = OK  STEREO = NO \r\n\r\n"
              "DirectSound の初期化は正常に終了しました\r\n");
}

TEST_F(SoundDeviceTest, BeepBufferHoldsOneSecondOfAn8kHzSine) {
    ASSERT_EQ(InitSoundDevice(), 0);
    const FakeSoundBuffer* beep = GetFakeSoundBuffer(1);
    ASSERT_NE(beep, nullptr);
    EXPECT_EQ(beep->flags, (uint32_t)(DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_STATIC));
    EXPECT_EQ(beep->format.channels, 1);
    EXPECT_EQ(beep->format.samplesPerSecond, 44100u);
    EXPECT_EQ(beep->format.bitsPerSample, 16);
    ASSERT_EQ(beep->bytes.size(), 88200u);
    const int16_t* samples = (const int16_t*)beep->bytes.data();
    int peak = 0, crossings = 0;
    for (int i = 0; i < 44100; i++) {
        peak = std::max(peak, std::abs((int)samples[i]));
        if (i > 0 && (samples[i - 1] < 0) != (samples[i] < 0)) crossings++;
    }
    EXPECT_GT(peak, 30000);
    EXPECT_NEAR(crossings, 16000, 2);  // two per period
}

TEST_F(SoundDeviceTest, EndReleasesEverythingAndDeletesTheSounds) {
    ASSERT_EQ(InitSoundDevice(), 0);
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 2, 44100, 16);
    int first = AddSoundData();
    int second = AddSoundData();
    ASSERT_EQ(CreateSoundBuffers(&format, 4000, 3, first), 0);
    ASSERT_EQ(CreateSoundBuffers(&format, 4000, 1, second), 0);
    ASSERT_EQ(PlaySoundHandle(second, PLAY_LOOP), 0);
    NewLog();
    FAKE_SOUND.calls.clear();

    EXPECT_EQ(EndSoundDevice(), 0);
    EXPECT_EQ(NewLog(), "DirectSound の終了処理は正常に終了しました\r\n");
    EXPECT_EQ(GetSoundHandleCount(), 0);
    for (int id = 1; id <= FAKE_SOUND.buffersCreated; id++) EXPECT_EQ(FAKE_SOUND.buffers[id].released, 1) << id;
    EXPECT_EQ(CountFakeSoundCalls("ReleaseBuffer"), 5);  // four sound buffers and the beep
    // The device goes last, after the primary buffer.
    std::vector<std::string> tail(FAKE_SOUND.calls.end() - 4, FAKE_SOUND.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"StopPrimaryBuffer", "ReleasePrimaryBuffer", "ReleaseBuffer", "ReleaseDevice"}));
    EXPECT_EQ(EndSoundDevice(), -1);

    // Opening again runs the whole sequence, and the table starts empty.
    EXPECT_EQ(InitSoundDevice(), 0);
    EXPECT_EQ(AddSoundData(), SOUND_HANDLE_BASE);
}

TEST_F(SoundDeviceTest, StartUpDeletesRecordsLeftInTheTable) {
    AddSoundData();
    AddSoundData();
    ASSERT_EQ(GetSoundHandleCount(), 2);
    ASSERT_EQ(InitSoundDevice(), 0);
    EXPECT_EQ(GetSoundHandleCount(), 0);
}
