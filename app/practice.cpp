// practice.cpp: the player's practice rules (see practice.h).
#include "app/practice.h"

#include <cstdio>
#include <cstring>

void GetPlaySpan(const LoopSection* section, int64_t length, int64_t* first, int64_t* end) {
    *first = section->start >= 0 ? section->start : 0;
    *end = section->end >= 0 ? section->end : length;
}

int64_t SeekWithin(const LoopSection* section, int64_t length, int64_t position, int64_t offset) {
    int64_t first, end;
    GetPlaySpan(section, length, &first, &end);
    int64_t target;
    // A huge offset stops at the end it points to.
    if (__builtin_add_overflow(position, offset, &target)) target = offset < 0 ? INT64_MIN : INT64_MAX;
    if (target >= end) target = end - 1;
    if (target < first) target = first;
    return target;
}

int SetSectionStart(LoopSection* section, int64_t length, int64_t position) {
    if (position < 0 || position >= length) return -1;
    section->start = position;
    if (section->end >= 0 && section->end - position < MIN_SECTION) section->end = -1;
    return 0;
}

int SetSectionEnd(LoopSection* section, int64_t length, int64_t position) {
    int64_t first = section->start >= 0 ? section->start : 0;
    if (position > length || position - first < MIN_SECTION) return -1;
    section->end = position;
    return 0;
}

void ClearSection(LoopSection* section) { section->start = section->end = -1; }

int StepVolume(int volume, int step) {
    int next = volume + step;
    return next < 0 ? 0 : next > 100 ? 100 : next;
}

int StepSemitones(int semitones, int step) {
    int next = semitones + step;
    return next < -MAX_SEMITONES ? -MAX_SEMITONES : next > MAX_SEMITONES ? MAX_SEMITONES : next;
}

namespace {

// "m:ss", or "h:mm:ss" from an hour on; whole seconds, rounded down.
void FormatTime(char* text, int size, int64_t microseconds) {
    int64_t seconds = microseconds > 0 ? microseconds / 1000000 : 0;
    if (seconds >= 3600) {
        snprintf(text, (size_t)size, "%d:%02d:%02d", (int)(seconds / 3600), (int)(seconds / 60 % 60),
                 (int)(seconds % 60));
    } else {
        snprintf(text, (size_t)size, "%d:%02d", (int)(seconds / 60), (int)(seconds % 60));
    }
}

}  // namespace

int MeasurePracticeText(const char* text) {
    int width = 0;
    for (const unsigned char* p = (const unsigned char*)text; *p != 0; p++) {
        // A Shift-JIS lead byte starts a full-width character.
        if (((*p >= 0x81 && *p <= 0x9F) || (*p >= 0xE0 && *p <= 0xFC)) && p[1] != 0) {
            width += 17;
            p++;
        } else {
            width += 9;
        }
    }
    return width;
}

int FormatPracticeLine(char* line, int size, int64_t position, int64_t length, int keepPitch, int semitones,
                       const LoopSection* section) {
    char now[16], total[16], start[16], end[16];
    FormatTime(now, sizeof now, position);
    FormatTime(total, sizeof total, length);
    FormatTime(start, sizeof start, section->start);
    FormatTime(end, sizeof end, section->end);
    char times[40], mode[32], points[48] = "";
    snprintf(times, sizeof times, "%s / %s", now, total);
    if (keepPitch) {
        const char* sign = semitones > 0 ? "+" : semitones < 0 ? "-" : "±";
        snprintf(mode, sizeof mode, "音程維持 %s%d", sign, semitones < 0 ? -semitones : semitones);
    } else {
        snprintf(mode, sizeof mode, "テープ");
    }
    if (section->start >= 0 && section->end >= 0) {
        snprintf(points, sizeof points, "A %s B %s", start, end);
    } else if (section->start >= 0) {
        snprintf(points, sizeof points, "A %s", start);
    } else if (section->end >= 0) {
        snprintf(points, sizeof points, "B %s", end);
    }
    // Long files make the times longer: the length goes first, then the
    // section's points give way to a mark that one is set.
    int written = snprintf(line, (size_t)size, "%s  %s%s%s", times, mode, points[0] ? "  " : "", points);
    if (MeasurePracticeText(line) > PRACTICE_LINE_WIDTH) {
        written = snprintf(line, (size_t)size, "%s  %s%s%s", now, mode, points[0] ? "  " : "", points);
    }
    if (MeasurePracticeText(line) > PRACTICE_LINE_WIDTH) {
        written = snprintf(line, (size_t)size, "%s  %s%s", now, mode, points[0] ? "  A-B" : "");
    }
    return written < size ? written : size - 1;
}
