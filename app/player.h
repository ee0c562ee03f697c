// player.h: the player's own rules, apart from its entry function so that
// tests reach them.
#pragma once

enum {
    START_FREQUENCY = 44100,  // Hz
    DISPLAY_NAME_SIZE = 1024, // bytes of the name drawn on screen
};

// The frequency after one frame of the arrow keys in padBits (PAD_* bits):
// Up +100, Down -100 from 200 on, Right +50, Left -50 from 150 on, applied in
// that order, each to the value the one before left. Rising stops at INT_MAX.
int StepFrequency(int frequency, int padBits);

enum {
    MIN_FREQUENCY = 100,  // Hz, the arrow keys' floor
};

// The frequency for a playback rate the desktop asked for (1 = START_FREQUENCY),
// rounded to whole Hz and kept within MIN_FREQUENCY..maxFrequency; the
// frequency unchanged for a rate that is not a number above 0.
int FrequencyOfRate(int frequency, double rate, int maxFrequency);

// The frequency the sound plays at once frequency has been set, when it
// played at heard before: the device takes MIN_FREQUENCY..maxFrequency and
// keeps the rate it had for anything else. What the desktop is shown.
int HeardFrequency(int heard, int frequency, int maxFrequency);
