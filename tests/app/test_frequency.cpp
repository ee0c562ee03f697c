// The arrow keys' steps of the player's frequency.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "app/player.h"
#include "input/input.h"

TEST(PlayerFrequency, StepsInOrderWithTheirLowerGuards) {
    EXPECT_EQ(StepFrequency(44100, 0), 44100);
    EXPECT_EQ(StepFrequency(44100, PAD_UP), 44200);
    EXPECT_EQ(StepFrequency(44100, PAD_RIGHT), 44150);
    // Guards: Down from 200 on, Left from 150 on.
    EXPECT_EQ(StepFrequency(199, PAD_DOWN), 199);
    EXPECT_EQ(StepFrequency(200, PAD_DOWN), 100);
    EXPECT_EQ(StepFrequency(149, PAD_LEFT), 149);
    EXPECT_EQ(StepFrequency(150, PAD_LEFT), 100);
    // Each step sees the value the one before left: the +100 lets the -100 pass.
    EXPECT_EQ(StepFrequency(100, PAD_UP | PAD_DOWN), 100);
    EXPECT_EQ(StepFrequency(100, PAD_RIGHT | PAD_LEFT), 100);
    EXPECT_EQ(StepFrequency(150, PAD_DOWN | PAD_RIGHT), 200);
    EXPECT_EQ(StepFrequency(100, PAD_DOWN | PAD_RIGHT | PAD_LEFT), 100);
    EXPECT_EQ(StepFrequency(190, PAD_DOWN | PAD_RIGHT), 240);
    EXPECT_EQ(StepFrequency(140, PAD_LEFT | PAD_UP), 190);
}

TEST(PlayerFrequency, RisingStopsAtTheLargestInt) {
    EXPECT_EQ(StepFrequency(INT_MAX - 100, PAD_UP), INT_MAX);
    EXPECT_EQ(StepFrequency(INT_MAX - 99, PAD_UP), INT_MAX);
    EXPECT_EQ(StepFrequency(INT_MAX, PAD_UP | PAD_RIGHT), INT_MAX);
    EXPECT_EQ(StepFrequency(INT_MAX - 30, PAD_RIGHT), INT_MAX);
}

// Opposite keys held together leave the frequency as it is, at the top too,
// and whatever the other pair does.
TEST(PlayerFrequency, OppositeKeysTogetherChangeNothing) {
    const int values[] = {100, 150, 199, 200, 44100, INT_MAX - 100, INT_MAX - 60, INT_MAX - 1, INT_MAX};
    for (int f : values) {
        EXPECT_EQ(StepFrequency(f, PAD_UP | PAD_DOWN), f) << f;
        EXPECT_EQ(StepFrequency(f, PAD_RIGHT | PAD_LEFT), f) << f;
        EXPECT_EQ(StepFrequency(f, PAD_UP | PAD_DOWN | PAD_RIGHT | PAD_LEFT), f) << f;
        EXPECT_EQ(StepFrequency(f, PAD_UP | PAD_DOWN | PAD_RIGHT), StepFrequency(f, PAD_RIGHT)) << f;
        EXPECT_EQ(StepFrequency(f, PAD_UP | PAD_RIGHT | PAD_LEFT), StepFrequency(f, PAD_UP)) << f;
    }
}

// The desktop's rate as a frequency: rounded, kept within the floor and the
// device's top; what is not a rate above 0 changes nothing.
TEST(PlayerFrequency, RatesBecomeFrequenciesWithinTheRange) {
    struct Case {
        int frequency;
        double rate;
        int max;
        int expected;
    } cases[] = {
        {44100, 1.0, 200000, 44100},
        {44100, 0.5, 200000, 22050},
        {30000, 1.0 / 3, 200000, 14700},
        {44100, 1.00001, 200000, 44100},            // 44100.44 Hz rounds down
        {44100, 0.001, 200000, 100},                // the floor of the arrow keys
        {44100, 10.0, 200000, 200000},              // the device's top
        {44100, 1e300, INT_MAX, INT_MAX},
        {12345, 0.0, 200000, 12345},
        {12345, -1.0, 200000, 12345},
        {12345, NAN, 200000, 12345},
        {12345, INFINITY, 200000, 12345},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrequencyOfRate(c.frequency, c.rate, c.max), c.expected) << c.frequency << " at rate " << c.rate;
    }
}

// What is heard follows the frequency while the device takes it; past its top
// (or below its floor) the sound keeps the rate it had, and so does the desktop.
TEST(PlayerFrequency, TheHeardFrequencyStaysWhereTheDeviceStopped) {
    int heard = 44100;
    int frequency = 199900;
    const int steps[] = {50, 50, 100, 100, -100, -100, -50};
    const int expected[] = {199950, 200000, 200000, 200000, 200000, 200000, 199950};
    for (int i = 0; i < 7; i++) {
        frequency += steps[i];
        heard = HeardFrequency(heard, frequency, 200000);
        EXPECT_EQ(heard, expected[i]) << "at " << frequency;
    }
    EXPECT_EQ(HeardFrequency(150, 50, 200000), 150);
}
