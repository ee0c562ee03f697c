// The sound table and playback control, on the fake device.
#include "sound_test_support.h"

namespace {

class SoundHandleTest : public SoundTest {
protected:
    WaveFormat format = MakeWaveFormat(WAVE_FORMAT_PCM, 2, 44100, 16);

    void SetUp() override {
        SoundTest::SetUp();
        ASSERT_EQ(InitSoundDevice(), 0);
        NewLog();
    }
    int MakeSound(int buffers, int bytes = 4000) {
        int handle = AddSoundData();
        EXPECT_EQ(CreateSoundBuffers(&format, bytes, buffers, handle), 0);
        return handle;
    }
    FakeSoundBuffer* Buffer(int handle, int index) { return FindFakeSoundBuffer(handle, index); }
};

}  // namespace

TEST_F(SoundHandleTest, HandlesAreNumberedBySlotAndReused) {
    int first = AddSoundData();
    int second = AddSoundData();
    EXPECT_EQ(first, 0x20000);
    EXPECT_EQ(second, 0x20001);
    EXPECT_EQ(DeleteSoundHandle(first), 0);
    EXPECT_EQ(DeleteSoundHandle(first), -1);
    EXPECT_EQ(AddSoundData(), 0x20000);
    EXPECT_EQ(AddSoundData(), 0x20002);
    EXPECT_EQ(GetSoundHandleCount(), 3);
}

TEST_F(SoundHandleTest, InvalidHandlesFailEverywhere) {
    int live = MakeSound(1);
    int deleted = MakeSound(1);
    ASSERT_EQ(DeleteSoundHandle(deleted), 0);
    size_t calls = FAKE_SOUND.calls.size();
    for (int handle : {0x30000, -1, 0x20200, 0x20005, deleted, live + 0x10000}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(CreateSoundBuffers(&format, 100, 1, handle), -1);
        EXPECT_EQ(PlaySoundHandle(handle, PLAY_NORMAL), -1);
        EXPECT_EQ(PlaySoundHandle(handle, PLAY_LOOP), -1);
        EXPECT_EQ(StopSoundHandle(handle), -1);
        EXPECT_EQ(IsSoundHandlePlaying(handle), -1);
        EXPECT_EQ(SetSoundHandleFrequency(-1, handle), -1);
        EXPECT_EQ(DeleteSoundHandle(handle), -1);
        EXPECT_EQ(GetSoundBufferCount(handle), -1);
        void* part = nullptr;
        int bytes = 0;
        EXPECT_EQ(LockSoundBuffer(handle, 0, 0, 100, &part, &bytes, nullptr, nullptr), -1);
    }
    EXPECT_EQ(FAKE_SOUND.calls.size(), calls);  // the device was never asked
    EXPECT_EQ(NewLog(), "");
    EXPECT_EQ(IsSoundHandlePlaying(live), 0);
}

TEST_F(SoundHandleTest, BuffersAskForFrequencyControlAndFallBackWithout) {
    int handle = MakeSound(2);
    EXPECT_EQ(GetSoundBufferCount(handle), 2);
    EXPECT_EQ(Buffer(handle, 0)->flags, 0x80E2u);
    EXPECT_EQ(Buffer(handle, 1)->flags, 0x80E2u);
    EXPECT_EQ(Buffer(handle, 0)->bytes.size(), 4000u);

    FAKE_SOUND.frequencyControlFails = 1;
    int fixed = MakeSound(1);
    ASSERT_NE(Buffer(fixed, 0), nullptr);
    EXPECT_EQ(Buffer(fixed, 0)->flags, 0xC2u);
    // Such a buffer keeps its rate whatever is asked, and the call still succeeds.
    EXPECT_EQ(SetSoundHandleFrequency(22050, fixed), 0);
    EXPECT_EQ(Buffer(fixed, 0)->frequency, 0u);
}

TEST_F(SoundHandleTest, BufferCountMustFitTheRecord) {
    int handle = AddSoundData();
    EXPECT_EQ(CreateSoundBuffers(&format, 100, 0, handle), -1);
    EXPECT_EQ(CreateSoundBuffers(&format, 100, 11, handle), -1);
    EXPECT_EQ(GetSoundBufferCount(handle), 0);
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_BACK), -1);  // nothing to play yet
    EXPECT_EQ(CreateSoundBuffers(&format, 100, 10, handle), 0);
    EXPECT_EQ(GetSoundBufferCount(handle), 10);
    // A second set would lose the first.
    EXPECT_EQ(CreateSoundBuffers(&format, 100, 1, handle), -1);
    EXPECT_EQ(GetSoundBufferCount(handle), 10);
}

TEST_F(SoundHandleTest, PlayChoosesASilentBufferElseTheOneFurthestOn) {
    int handle = MakeSound(3);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    EXPECT_TRUE(Buffer(handle, 0)->playing && Buffer(handle, 1)->playing);
    EXPECT_FALSE(Buffer(handle, 2)->playing);
    Buffer(handle, 0)->playing = 0;  // buffer 0 ended
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    EXPECT_TRUE(Buffer(handle, 0)->playing);
    EXPECT_FALSE(Buffer(handle, 2)->playing);

    // All playing: the largest position wins, the lower number on a tie; the
    // chosen buffer restarts from 0.
    Buffer(handle, 2)->playing = 1;
    Buffer(handle, 0)->position = 400;
    Buffer(handle, 1)->position = 800;
    Buffer(handle, 2)->position = 800;
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    EXPECT_EQ(Buffer(handle, 1)->position, 0u);
    EXPECT_EQ(Buffer(handle, 1)->playing, 1);
    EXPECT_EQ(Buffer(handle, 2)->position, 800u);
    EXPECT_EQ(Buffer(handle, 0)->position, 400u);
}

TEST_F(SoundHandleTest, PlayTypeSetsTheLoopingFlag) {
    int handle = MakeSound(1);
    for (int type : {(int)PLAY_LOOP, (int)PLAY_BACK, 7, -5}) {
        ASSERT_EQ(PlaySoundHandle(handle, type), 0);
        EXPECT_EQ(Buffer(handle, 0)->looping, type == PLAY_LOOP ? 1 : 0) << type;
    }
}

TEST_F(SoundHandleTest, PlayingAPlayingSoundStartsItOver) {
    int handle = MakeSound(1, 40000);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    AdvanceFakeSound(1000);
    EXPECT_EQ(Buffer(handle, 0)->position, 4000u);
    FAKE_SOUND.calls.clear();
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    EXPECT_EQ(Buffer(handle, 0)->position, 0u);
    EXPECT_EQ(Buffer(handle, 0)->playing, 1);
    std::vector<std::string> expected = {"GetStatus", "GetPosition", "GetStatus", "Stop", "SetPosition", "Play"};
    EXPECT_EQ(FAKE_SOUND.calls, expected);
}

TEST_F(SoundHandleTest, FailedQueriesMakePlayFail) {
    int handle = MakeSound(2);
    Buffer(handle, 0)->statusFails = 1;
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_BACK), -1);
    Buffer(handle, 0)->statusFails = 0;

    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    ASSERT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);
    Buffer(handle, 1)->positionFails = 1;
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_BACK), -1);
    Buffer(handle, 1)->positionFails = 0;
    Buffer(handle, 0)->positionFails = 1;  // buffer 0's position is not examined
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_BACK), 0);

    StopSoundHandle(handle);
    Buffer(handle, 0)->playFails = 1;
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_BACK), -1);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 0);
}

TEST_F(SoundHandleTest, StopRewindsPlayingBuffersAndStopsAtAFailedQuery) {
    int handle = MakeSound(3, 40000);
    for (int i = 0; i < 3; i++) ASSERT_EQ(PlaySoundHandle(handle, PLAY_LOOP), 0);
    AdvanceFakeSound(100);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 1);
    Buffer(handle, 1)->statusFails = 1;
    EXPECT_EQ(StopSoundHandle(handle), -1);
    EXPECT_FALSE(Buffer(handle, 0)->playing);
    EXPECT_EQ(Buffer(handle, 0)->position, 0u);
    EXPECT_TRUE(Buffer(handle, 2)->playing);  // never reached
    EXPECT_EQ(Buffer(handle, 2)->position, 400u);
    // A failing query counts as silent when asking whether the sound plays.
    EXPECT_EQ(IsSoundHandlePlaying(handle), 1);
    Buffer(handle, 2)->playing = 0;
    EXPECT_EQ(IsSoundHandlePlaying(handle), 0);

    // A silent buffer is left where it stands.
    Buffer(handle, 1)->statusFails = 0;
    Buffer(handle, 2)->position = 1200;
    EXPECT_EQ(StopSoundHandle(handle), 0);
    EXPECT_EQ(Buffer(handle, 2)->position, 1200u);
}

TEST_F(SoundHandleTest, FrequencyGoesToEveryBufferAndMinusOneRestores) {
    int handle = MakeSound(3);
    EXPECT_EQ(SetSoundHandleFrequency(22050, handle), 0);
    for (int i = 0; i < 3; i++) EXPECT_EQ(Buffer(handle, i)->frequency, 22050u);
    // Out of the device's range: refused, the rate stays; the call succeeds.
    EXPECT_EQ(SetSoundHandleFrequency(50, handle), 0);
    EXPECT_EQ(SetSoundHandleFrequency(300000, handle), 0);
    EXPECT_EQ(SetSoundHandleFrequency(-2, handle), 0);
    EXPECT_EQ(Buffer(handle, 0)->frequency, 22050u);
    // Kept across plays and stops.
    PlaySoundHandle(handle, PLAY_LOOP);
    StopSoundHandle(handle);
    EXPECT_EQ(Buffer(handle, 0)->frequency, 22050u);
    EXPECT_EQ(SetSoundHandleFrequency(-1, handle), 0);
    for (int i = 0; i < 3; i++) EXPECT_EQ(Buffer(handle, i)->frequency, 0u);
    EXPECT_EQ(CountFakeSoundCalls("Play"), 1);
    EXPECT_EQ(CountFakeSoundCalls("Stop"), 1);
}

TEST_F(SoundHandleTest, DeleteStopsAndReleasesEachBufferOnce) {
    int handle = MakeSound(3);
    PlaySoundHandle(handle, PLAY_LOOP);
    std::vector<int> ids = {GetSoundBufferId(handle, 0), GetSoundBufferId(handle, 1), GetSoundBufferId(handle, 2)};
    EXPECT_EQ(DeleteSoundHandle(handle), 0);
    for (int id : ids) {
        EXPECT_EQ(GetFakeSoundBuffer(id)->released, 1);
        EXPECT_EQ(GetFakeSoundBuffer(id)->playing, 0);
    }
    EXPECT_EQ(GetSoundHandleCount(), 0);
    EXPECT_EQ(EndSoundDevice(), 0);
    for (int id : ids) EXPECT_EQ(GetFakeSoundBuffer(id)->released, 1);
}

TEST_F(SoundHandleTest, LockedBytesReachTheBuffer) {
    int handle = MakeSound(2, 8);
    void* part1 = nullptr;
    void* part2 = nullptr;
    int bytes1 = 0, bytes2 = 0;
    // A range past the end wraps into a second piece at the start.
    ASSERT_EQ(LockSoundBuffer(handle, 1, 6, 4, &part1, &bytes1, &part2, &bytes2), 0);
    EXPECT_EQ(bytes1, 2);
    EXPECT_EQ(bytes2, 2);
    memcpy(part1, "ab", 2);
    memcpy(part2, "cd", 2);
    ASSERT_EQ(UnlockSoundBuffer(handle, 1, part1, bytes1, part2, bytes2), 0);
    EXPECT_EQ(std::string(Buffer(handle, 1)->bytes.begin(), Buffer(handle, 1)->bytes.end()),
              std::string("cd\0\0\0\0ab", 8));
    EXPECT_EQ(LockSoundBuffer(handle, 2, 0, 4, &part1, &bytes1, &part2, &bytes2), -1);
    EXPECT_EQ(LockSoundBuffer(handle, -1, 0, 4, &part1, &bytes1, &part2, &bytes2), -1);
    Buffer(handle, 0)->lockFails = 1;
    EXPECT_EQ(LockSoundBuffer(handle, 0, 0, 4, &part1, &bytes1, &part2, &bytes2), -1);
}

TEST_F(SoundHandleTest, PlayNormalWaitsForTheEndPumpingMessages) {
    int handle = MakeSound(1, 4000);  // 1000 frames
    FAKE.onPeek = [](int) { AdvanceFakeSound(10); };
    FAKE.peekCount = 0;
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_NORMAL), 0);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 0);
    EXPECT_EQ(FindFakeSoundBuffer(handle, 0)->position, 0u);  // back at its start
    EXPECT_GE(FAKE.peekCount, 100);
    EXPECT_EQ(FindFakeSoundBuffer(handle, 0)->looping, 0);
}

TEST_F(SoundHandleTest, PlayNormalReturnsWhenTheProgramQuits) {
    int handle = MakeSound(1, 4000);
    FAKE.peekCount = 0;
    FAKE.onPeek = [](int count) {
        if (count == 50) QueueFakeMessage(WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(PlaySoundHandle(handle, PLAY_NORMAL), 0);
    EXPECT_EQ(IsSoundHandlePlaying(handle), 1);  // still sounding: the wait just ended
}

TEST_F(SoundHandleTest, PlayNormalReturnsWhenTheSoundGoesAway) {
    static int deleting;
    deleting = MakeSound(1, 4000);
    FAKE.peekCount = 0;
    FAKE.onPeek = [](int count) {
        if (count == 20) DeleteSoundHandle(deleting);
    };
    EXPECT_EQ(PlaySoundHandle(deleting, PLAY_NORMAL), 0);
    EXPECT_EQ(GetSoundHandleCount(), 0);

    static int kept;
    kept = MakeSound(1, 4000);
    FAKE.peekCount = 0;
    FAKE.onPeek = [](int count) {
        if (count == 20) EndSoundDevice();
    };
    EXPECT_EQ(PlaySoundHandle(kept, PLAY_NORMAL), 0);
    EXPECT_EQ(IsSoundDeviceOpen(), 0);
}
