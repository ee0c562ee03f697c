// utf8.h: the strings of a program that chose UTF-8 (SetStringEncoding), read
// one character at a time, and the platform's side of that choice.
#pragma once

#include <cstdint>

enum : uint32_t { UTF8_REPLACEMENT = 0xFFFD };

// Reads the character that starts at s, whose bytes end at a zero byte.
// *code receives it; a malformed sequence gives U+FFFD and is as long as its
// longest start that could still have become a character (at least one byte),
// so it never swallows the byte after it nor reads past the terminator.
// Returns the bytes read: 1 to 4, 0 at the terminator.
int ReadUtf8Char(const char* s, uint32_t* code);

// The encoding the program's strings reach the platform in (window title,
// the dialog's title and filter, font names, the log's mirror): Shift-JIS (0,
// the default) or UTF-8 (1).
void SetPlatformTextUtf8(int utf8);
int IsPlatformTextUtf8(void);

// A program's text as UTF-8: Shift-JIS is converted as ConvertSjisToUtf8 does;
// UTF-8 is copied with each malformed sequence made U+FFFD and cut after the
// last whole character that fits in size-1 bytes. Returns the length written.
int ConvertTextToUtf8(const char* text, char* utf8, int size);
