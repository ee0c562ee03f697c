// practice.h: the player's practice rules (the A-B section, seeking, volume,
// semitones and the line that shows them), apart from its entry function so
// that tests reach them. Positions are microseconds of the file.
#pragma once

#include <cstdint>

enum {
    SEEK_STEP = 5000000,        // microseconds J and L move
    MIN_SECTION = 100000,       // microseconds: a shorter A-B section is refused
    VOLUME_STEP = 2,            // percent 9 and 0 move, as common players do
    MAX_SEMITONES = 12,
    PRACTICE_LINE_SIZE = 128,   // bytes of the line and its terminator
    PRACTICE_LINE_WIDTH = 350,  // pixels the line may take
};

// The A-B section; -1 where a point is not set.
struct LoopSection {
    int64_t start, end;
};

// The part of the file positions stay in: A (or the start) up to B (or the
// length), end exclusive.
void GetPlaySpan(const LoopSection* section, int64_t length, int64_t* first, int64_t* end);
// Position moved by offset (either way, without wrapping around) and kept
// within the span.
int64_t SeekWithin(const LoopSection* section, int64_t length, int64_t position, int64_t offset);
// A at position. A B closer than MIN_SECTION after it (or before it) goes.
// 0, or -1 for a position outside the file.
int SetSectionStart(LoopSection* section, int64_t length, int64_t position);
// B at position; refused (-1, nothing changes) unless it lies at least
// MIN_SECTION after A (or the start) and within the file.
int SetSectionEnd(LoopSection* section, int64_t length, int64_t position);
void ClearSection(LoopSection* section);

// Volume moved by step, kept within 0..100 percent.
int StepVolume(int volume, int step);
// Semitones moved by step, kept within -MAX_SEMITONES..MAX_SEMITONES.
int StepSemitones(int semitones, int step);

// The practice line (Shift-JIS): position and length, the mode, the
// semitones in keep-pitch mode and the points of the section, for example
// "1:23 / 4:56  音程維持 +2  A 0:30 B 0:45". Parts are left out from the
// right when the line would be wider than PRACTICE_LINE_WIDTH in the
// default font. Returns the length written.
int FormatPracticeLine(char* line, int size, int64_t position, int64_t length, int keepPitch, int semitones,
                       const LoopSection* section);
// Pixels the default font takes for a Shift-JIS text: 9 a half-width
// character, 17 a full-width one.
int MeasurePracticeText(const char* text);
