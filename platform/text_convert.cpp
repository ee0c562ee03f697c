// text_convert.cpp: Shift-JIS (CP932) <-> UTF-8 through iconv.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

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
