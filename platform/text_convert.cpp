// text_convert.cpp: Shift-JIS (CP932) <-> UTF-8 through iconv.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/utf8.h"

namespace {

// Converts what it can; an invalid byte becomes '?' so a message is never lost whole.
int ConvertText(const char* to, const char* from, const char* in, char* out, int size) {
    if (size <= 0) return 0;
    out[0] = '\0';
    if (in == nullptr) return 0;
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return 0;
    char* src = const_cast<char*>(in);
    size_t srcLeft = strlen(in);
    char* dst = out;
    size_t dstLeft = (size_t)size - 1;
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != (size_t)-1) break;
        if (errno == E2BIG || dstLeft == 0) break;
        // EILSEQ or EINVAL: skip one byte and mark it.
        *dst++ = '?';
        dstLeft--;
        src++;
        srcLeft--;
    }
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv_close(cd);
    *dst = '\0';
    return (int)(dst - out);
}

}  // namespace

int ConvertSjisToUtf8(const char* sjis, char* utf8, int size) {
    return ConvertText("UTF-8", "CP932", sjis, utf8, size);
}

int ConvertUtf8ToSjis(const char* utf8, char* sjis, int size) {
    return ConvertText("CP932", "UTF-8", utf8, sjis, size);
}

namespace {

// Length of the UTF-8 character at s (1 to 4), or 0 when s does not start one.
int Utf8CharLength(const unsigned char* s) {
    int n = s[0] < 0x80 ? 1 : (s[0] & 0xE0) == 0xC0 ? 2 : (s[0] & 0xF0) == 0xE0 ? 3 : (s[0] & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 2 && s[0] < 0xC2) return 0;  // overlong
    if (n == 4 && s[0] > 0xF4) return 0;  // beyond U+10FFFF
    for (int i = 1; i < n; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;
    }
    return n;
}

}  // namespace

int ConvertFileNameToSjis(const char* name, char* sjis, int size) {
    if (size <= 0) return 0;
    sjis[0] = '\0';
    if (name == nullptr) return 0;
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == (iconv_t)-1) return 0;
    const unsigned char* src = (const unsigned char*)name;
    int length = 0;
    while (*src != 0) {
        int n = Utf8CharLength(src);
        char one[8];
        size_t oneLength = 1;
        one[0] = '?';
        if (n > 0) {
            // One character at a time, so that one the code page lacks costs one '?'.
            char* in = (char*)src;
            size_t inLeft = (size_t)n;
            char* out = one;
            size_t outLeft = sizeof one;
            if (iconv(cd, &in, &inLeft, &out, &outLeft) != (size_t)-1 && inLeft == 0) {
                oneLength = sizeof one - outLeft;
            } else {
                one[0] = '?';
                oneLength = 1;
            }
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        if (oneLength == 0) oneLength = 1, one[0] = '?';
        if (length + (int)oneLength > size - 1) break;
        memcpy(sjis + length, one, oneLength);
        length += (int)oneLength;
        src += n > 0 ? n : 1;
    }
    iconv_close(cd);
    sjis[length] = '\0';
    return length;
}

// ---- Programs' strings in UTF-8 ----------------------------------------------

namespace {

int PLATFORM_TEXT_UTF8 = 0;

}  // namespace

int ReadUtf8Char(const char* s, uint32_t* code) {
    const unsigned char* p = (const unsigned char*)s;
    unsigned char first = p[0];
    if (first == 0) {
        *code = 0;
        return 0;
    }
    if (first < 0x80) {
        *code = first;
        return 1;
    }
    // The bytes that may follow the first one, as the standard sets them: no
    // overlong forms, no surrogates, nothing above U+10FFFF.
    int more;
    unsigned char low = 0x80, high = 0xBF;
    uint32_t value;
    if (first >= 0xC2 && first <= 0xDF) {
        more = 1;
        value = first & 0x1F;
    } else if (first >= 0xE0 && first <= 0xEF) {
        more = 2;
        value = first & 0x0F;
        if (first == 0xE0) low = 0xA0;
        if (first == 0xED) high = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
        more = 3;
        value = first & 0x07;
        if (first == 0xF0) low = 0x90;
        if (first == 0xF4) high = 0x8F;
    } else {
        *code = UTF8_REPLACEMENT;
        return 1;
    }
    for (int i = 1; i <= more; i++) {
        // A zero byte is never a continuation, so the terminator ends it here.
        if (p[i] < low || p[i] > high) {
            *code = UTF8_REPLACEMENT;
            return i;
        }
        value = value << 6 | (p[i] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    *code = value;
    return more + 1;
}

void SetPlatformTextUtf8(int utf8) { PLATFORM_TEXT_UTF8 = utf8 != 0; }
int IsPlatformTextUtf8(void) { return PLATFORM_TEXT_UTF8; }

int ConvertTextToUtf8(const char* text, char* utf8, int size) {
    if (!PLATFORM_TEXT_UTF8) return ConvertSjisToUtf8(text, utf8, size);
    if (size <= 0) return 0;
    utf8[0] = '\0';
    if (text == nullptr) return 0;
    int length = 0;
    uint32_t code;
    for (int n; (n = ReadUtf8Char(text, &code)) > 0; text += n) {
        // A malformed sequence is written as U+FFFD's own three bytes.
        const char* bytes = code == UTF8_REPLACEMENT ? "\xEF\xBF\xBD" : text;
        int out = code == UTF8_REPLACEMENT ? 3 : n;
        if (length + out > size - 1) break;
        memcpy(utf8 + length, bytes, (size_t)out);
        length += out;
    }
    utf8[length] = '\0';
    return length;
}
