// text_encoding.cpp: the encoding of a program's strings, Shift-JIS (the
// library's own) or UTF-8, chosen once before start-up, and the cut of a
// string on a whole character of it.
#include "core/core.h"
#include "platform/utf8.h"

int SetStringEncoding(int encoding) {
    // Fonts, caches and the log are made for one encoding: it cannot change under them.
    if (IsLibraryStarted()) return -1;
    if (encoding != STRING_SHIFT_JIS && encoding != STRING_UTF8) return -1;
    SetPlatformTextUtf8(encoding == STRING_UTF8);
    return 0;
}

int GetStringEncoding(void) { return IsPlatformTextUtf8() ? STRING_UTF8 : STRING_SHIFT_JIS; }

int IsUtf8Text(void) { return IsPlatformTextUtf8(); }

int CutToWholeCharacters(const char* text, int limit) {
    if (text == nullptr || limit <= 0) return 0;
    int length = 0;
    while (length < limit && text[length] != '\0') {
        int width;
        if (IsUtf8Text()) {
            uint32_t code;
            width = ReadUtf8Char(text + length, &code);
        } else if (IsLeadByte((uint8_t)text[length])) {
            // A lead byte without its trail ends the text, as the string walk ends there.
            if (text[length + 1] == '\0') break;
            width = 2;
        } else {
            width = 1;
        }
        if (length + width > limit) break;
        length += width;
    }
    return length;
}
