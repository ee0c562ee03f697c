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
