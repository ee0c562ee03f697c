// The clock choice at window start-up and the microsecond reading.
#include "core/core.h"
#include "library/library.h"
#include "core_test_support.h"

using TimerTest = FakePlatformTest;

TEST_F(TimerTest, SlowCounterLosesToTheMillisecondClock) {
    FAKE.counterStep = 0;  // the counter never moves during the test
    FAKE.timerPeriodMin = 1;
    ASSERT_EQ(InitLibrary(), 0);
    std::string log = ReadLog();
    EXPECT_NE(log.find("精度結果 更新回数 マルチメディアタイマー：60  パフォーマンスカウンター：0\r\n"
                       "マルチメディアタイマーを使用します タイマー分解能 : 1.00 ms \r\n"),
              std::string::npos);
    for (int i = 0; i < 5; i++) EXPECT_EQ(GetNowMicroseconds() % 1000, 0);
    FAKE.milliseconds = 12345;
    EXPECT_EQ(GetNowMicroseconds(), 12345000);
}

TEST_F(TimerTest, TieKeepsTheCounter) {
    FAKE.counterStep = 7;
    FAKE.millisecondStep = 1;
    FAKE.counterFrequency = 3579545;
    ASSERT_EQ(InitLibrary(), 0);
    std::string log = ReadLog();
    EXPECT_NE(log.find("精度結果 更新回数 マルチメディアタイマー：60  パフォーマンスカウンター：60\r\n"
                       "パフォーマンスカウンターを使用します タイマー分解能 : 3579.545000 KHz \r\n"),
              std::string::npos);
    FAKE.counter = 3579545LL * 10 + 3579;  // ten seconds and a thousandth
    FAKE.counterStep = 0;
    EXPECT_EQ(GetNowMicroseconds(), 10000999);
}

TEST_F(TimerTest, NoCounterSkipsTheTest) {
    FAKE.counterFrequency = 0;
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(ReadLog().find("タイマーの精度を検査します"), std::string::npos);
    FAKE.milliseconds = 77;
    EXPECT_EQ(GetNowMicroseconds(), 77000);
}
