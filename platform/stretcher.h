// stretcher.h: time-stretching of interleaved float frames, tempo and pitch
// apart (SoundTouch, platform/soundtouch/). Used by the sound device's
// keep-pitch playback; each stretcher belongs to the one thread that feeds it.
#pragma once

struct PlatformStretcher;

// A stretcher for frames of channels (1 to 8) at rate Hz; null when none can be made.
PlatformStretcher* CreateStretcher(int rate, int channels);
void DestroyStretcher(PlatformStretcher* stretcher);
// Output speed over input speed (0.5 = half speed, same pitch).
void SetStretcherTempo(PlatformStretcher* stretcher, double tempo);
// Pitch moved by semitones, the tempo kept.
void SetStretcherSemitones(PlatformStretcher* stretcher, int semitones);
// Gives it count frames; they come out later, stretched.
void PutStretcherFrames(PlatformStretcher* stretcher, const float* frames, int count);
// Takes up to count frames of output; the number taken (0 when it needs more input).
int TakeStretcherFrames(PlatformStretcher* stretcher, float* frames, int count);
// Pushes what it holds out, as at the end of the input.
void FlushStretcher(PlatformStretcher* stretcher);
// Forgets everything given and not yet taken (after a jump in the input).
void ClearStretcher(PlatformStretcher* stretcher);
