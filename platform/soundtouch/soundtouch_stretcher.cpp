// soundtouch_stretcher.cpp: the stretcher on SoundTouch 2.3 (LGPL-2.1), built
// with float samples. Chosen over Rubber Band for its licence and its cost:
// bench/stretch_compare.cpp measures both.
#include <SoundTouch.h>

#include <cmath>
#include <new>

#include "platform/stretcher.h"

struct PlatformStretcher {
    soundtouch::SoundTouch touch;
};

PlatformStretcher* CreateStretcher(int rate, int channels) {
    if (rate <= 0 || channels < 1 || channels > 8) return nullptr;
    PlatformStretcher* stretcher = new (std::nothrow) PlatformStretcher;
    if (stretcher == nullptr) return nullptr;
    stretcher->touch.setSampleRate((unsigned)rate);
    stretcher->touch.setChannels((unsigned)channels);
    // Fixed, short sequences: left to itself the library lengthens them at
    // slow speeds (90 ms at 0.5x), and every change of speed waits for the
    // sequence under way, which a listener hears as a lag of 150 ms and more.
    stretcher->touch.setSetting(SETTING_SEQUENCE_MS, 40);
    stretcher->touch.setSetting(SETTING_SEEKWINDOW_MS, 15);
    return stretcher;
}

void DestroyStretcher(PlatformStretcher* stretcher) { delete stretcher; }

void SetStretcherTempo(PlatformStretcher* stretcher, double tempo) { stretcher->touch.setTempo(tempo); }

void SetStretcherSemitones(PlatformStretcher* stretcher, int semitones) {
    stretcher->touch.setPitchSemiTones(semitones);
}

void PutStretcherFrames(PlatformStretcher* stretcher, const float* frames, int count) {
    if (count > 0) stretcher->touch.putSamples(frames, (unsigned)count);
}

int TakeStretcherFrames(PlatformStretcher* stretcher, float* frames, int count) {
    return count > 0 ? (int)stretcher->touch.receiveSamples(frames, (unsigned)count) : 0;
}

void FlushStretcher(PlatformStretcher* stretcher) { stretcher->touch.flush(); }

void ClearStretcher(PlatformStretcher* stretcher) { stretcher->touch.clear(); }
