// The player's practice rules: seeking kept within the file or the A-B
// section without wrapping round, the section's order, the volume's and
// the semitones' ranges, and the line that shows them within its width.
#include <gtest/gtest.h>

#include <cstring>

#include "app/practice.h"

namespace {

const int64_t SECOND = 1000000;
const int64_t LENGTH = 296 * SECOND;  // 4:56

TEST(Practice, SeeksStayWithinTheFileOrTheSectionAndNeverWrap) {
    LoopSection none = {-1, -1};
    EXPECT_EQ(SeekWithin(&none, LENGTH, 10 * SECOND, SEEK_STEP), 15 * SECOND);
    EXPECT_EQ(SeekWithin(&none, LENGTH, 3 * SECOND, -SEEK_STEP), 0);
    EXPECT_EQ(SeekWithin(&none, LENGTH, 294 * SECOND, SEEK_STEP), LENGTH - 1) << "stops at the end";
    // Offsets at the ends of 64 bits go to the ends of the file, not round.
    EXPECT_EQ(SeekWithin(&none, LENGTH, 10 * SECOND, INT64_MIN), 0);
    EXPECT_EQ(SeekWithin(&none, LENGTH, 10 * SECOND, INT64_MAX), LENGTH - 1);
    EXPECT_EQ(SeekWithin(&none, LENGTH, INT64_MAX, INT64_MAX), LENGTH - 1);

    LoopSection ab = {30 * SECOND, 45 * SECOND};
    EXPECT_EQ(SeekWithin(&ab, LENGTH, 33 * SECOND, -SEEK_STEP), 30 * SECOND);
    EXPECT_EQ(SeekWithin(&ab, LENGTH, 42 * SECOND, SEEK_STEP), 45 * SECOND - 1);
    EXPECT_EQ(SeekWithin(&ab, LENGTH, 36 * SECOND, SEEK_STEP), 41 * SECOND);
    // An absolute position outside the section is brought into it.
    EXPECT_EQ(SeekWithin(&ab, LENGTH, 100 * SECOND, 0), 45 * SECOND - 1);
    LoopSection onlyA = {30 * SECOND, -1}, onlyB = {-1, 45 * SECOND};
    int64_t first, end;
    GetPlaySpan(&onlyA, LENGTH, &first, &end);
    EXPECT_EQ(first, 30 * SECOND);
    EXPECT_EQ(end, LENGTH);
    GetPlaySpan(&onlyB, LENGTH, &first, &end);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(end, 45 * SECOND);
}

TEST(Practice, TheSectionKeepsItsOrder) {
    LoopSection s = {-1, -1};
    // B alone loops from the start; too near the start it is refused.
    EXPECT_EQ(SetSectionEnd(&s, LENGTH, MIN_SECTION / 2), -1);
    EXPECT_EQ(s.end, -1);
    EXPECT_EQ(SetSectionEnd(&s, LENGTH, 45 * SECOND), 0);
    EXPECT_EQ(SetSectionStart(&s, LENGTH, 30 * SECOND), 0);
    EXPECT_EQ(s.start, 30 * SECOND);
    EXPECT_EQ(s.end, 45 * SECOND);
    // B before A (or on it) is refused and changes nothing.
    EXPECT_EQ(SetSectionEnd(&s, LENGTH, 20 * SECOND), -1);
    EXPECT_EQ(SetSectionEnd(&s, LENGTH, 30 * SECOND), -1);
    EXPECT_EQ(s.end, 45 * SECOND);
    // A at or after B: B goes, the loop runs from A to the end.
    EXPECT_EQ(SetSectionStart(&s, LENGTH, 45 * SECOND - MIN_SECTION / 2), 0);
    EXPECT_EQ(s.end, -1);
    EXPECT_EQ(SetSectionStart(&s, LENGTH, LENGTH), -1) << "A past the file";
    EXPECT_EQ(SetSectionEnd(&s, LENGTH, LENGTH + 1), -1) << "B past the file";
    ClearSection(&s);
    EXPECT_EQ(s.start, -1);
    EXPECT_EQ(s.end, -1);
}

TEST(Practice, VolumeAndSemitonesStayInTheirRanges) {
    EXPECT_EQ(StepVolume(100, VOLUME_STEP), 100);
    EXPECT_EQ(StepVolume(1, -VOLUME_STEP), 0);
    EXPECT_EQ(StepVolume(50, -VOLUME_STEP), 48);
    EXPECT_EQ(StepSemitones(12, 1), 12);
    EXPECT_EQ(StepSemitones(-12, -1), -12);
    EXPECT_EQ(StepSemitones(0, -1), -1);
}

TEST(Practice, TheLineNamesEverythingWithinItsWidth) {
    char line[PRACTICE_LINE_SIZE];
    LoopSection ab = {30 * SECOND, 45 * SECOND};
    FormatPracticeLine(line, sizeof line, 83 * SECOND + 999999, LENGTH, 1, 2, &ab);
    EXPECT_STREQ(line, "1:23 / 4:56  音程維持 +2  A 0:30 B 0:45");
    EXPECT_LE(MeasurePracticeText(line), PRACTICE_LINE_WIDTH);
    LoopSection none = {-1, -1}, onlyB = {-1, 45 * SECOND};
    FormatPracticeLine(line, sizeof line, 0, LENGTH, 0, 5, &none);
    EXPECT_STREQ(line, "0:00 / 4:56  テープ") << "semitones are not heard in tape mode";
    FormatPracticeLine(line, sizeof line, 0, LENGTH, 1, -12, &onlyB);
    EXPECT_STREQ(line, "0:00 / 4:56  音程維持 -12  B 0:45");
    FormatPracticeLine(line, sizeof line, 0, LENGTH, 1, 0, &none);
    EXPECT_STREQ(line, "0:00 / 4:56  音程維持 ±0");
    // An hour-long file: the length gives way, then the points.
    LoopSection late = {3723 * SECOND, 3800 * SECOND};
    FormatPracticeLine(line, sizeof line, 3723 * SECOND, 4000 * SECOND, 1, -12, &late);
    EXPECT_LE(MeasurePracticeText(line), PRACTICE_LINE_WIDTH) << line;
    EXPECT_EQ(strncmp(line, "1:02:03", 7), 0) << line;
    int64_t longest = INT64_MAX;
    LoopSection far = {longest - 2, longest - 1};
    FormatPracticeLine(line, sizeof line, longest, longest, 1, -12, &far);
    EXPECT_LE(MeasurePracticeText(line), PRACTICE_LINE_WIDTH) << line;
    // A small buffer is cut, never overrun.
    char small[8];
    EXPECT_EQ(FormatPracticeLine(small, sizeof small, 0, LENGTH, 1, 2, &ab), 7);
}

}  // namespace
