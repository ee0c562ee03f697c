// timer.cpp: the millisecond clock, the high-resolution counter and the choice
// between them, made once at window start-up by counting how often each changes.
#include "core/core.h"
#include "core/core_internal.h"
#include "platform/platform.h"

namespace {

struct TimerState {
    int64_t counterFrequency;   // counts per second, 0 when there is no counter
    int usePerformanceCounter;
    uint32_t timerPeriod;       // ms
};

TimerState TIMER = {};

enum { CLOCK_TEST_CHANGES = 60 };

}  // namespace

void SetUpTimer(void) {
    TIMER.counterFrequency = PLATFORM.clock->GetCounterFrequency();
    TIMER.usePerformanceCounter = TIMER.counterFrequency != 0;
    TIMER.timerPeriod = PLATFORM.clock->GetTimerPeriodMin();
    PLATFORM.clock->BeginTimerPeriod(TIMER.timerPeriod);
    if (!TIMER.usePerformanceCounter) return;

    WriteLog("タイマーの精度を検査します\n");
    int mm = 0, pc = 0;
    uint32_t lastMm = PLATFORM.clock->GetMilliseconds();
    int64_t lastPc = PLATFORM.clock->GetCounter();
    if (ProcessWindowMessages() == 0) {
        while (mm < CLOCK_TEST_CHANGES && pc < CLOCK_TEST_CHANGES) {
            int64_t nowPc = PLATFORM.clock->GetCounter();
            if (nowPc != lastPc) {
                pc++;
                lastPc = nowPc;
            }
            uint32_t nowMm = PLATFORM.clock->GetMilliseconds();
            if (nowMm != lastMm) {
                mm++;
                lastMm = nowMm;
            }
            if (ProcessWindowMessages() != 0) break;
        }
    }
    WriteLogFormat("精度結果 更新回数 マルチメディアタイマー：%d  パフォーマンスカウンター：%d", mm, pc);
    if (mm > pc) {
        WriteLogFormat("マルチメディアタイマーを使用します タイマー分解能 : %d.00 ms ", (int)TIMER.timerPeriod);
        TIMER.usePerformanceCounter = 0;
    } else {
        WriteLogFormat("パフォーマンスカウンターを使用します タイマー分解能 : %lf KHz ",
                       (double)TIMER.counterFrequency * 0.001);
    }
}

int WaitMilliseconds(int milliseconds) {
    uint32_t start = PLATFORM.clock->GetMilliseconds();
    if (ProcessWindowMessages() != 0) return 0;
    // The elapsed time is compared, not the clock against start + ms: across the
    // clock's sign change a plain comparison could miss the end by 49 days.
    for (;;) {
        int32_t elapsed = (int32_t)(PLATFORM.clock->GetMilliseconds() - start);
        if (elapsed >= milliseconds) return 0;
        if (ProcessWindowMessages() != 0) return 0;
    }
}

int64_t GetNowMicroseconds(void) {
    if (TIMER.usePerformanceCounter) {
        double counter = (double)PLATFORM.clock->GetCounter();
        return (int64_t)(counter * 1000000.0 / (double)TIMER.counterFrequency);
    }
    return (int64_t)PLATFORM.clock->GetMilliseconds() * 1000;
}
