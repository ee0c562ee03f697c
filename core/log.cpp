// log.cpp: "AppLog.txt" in the start directory, text in the program's encoding
// (Shift-JIS unless it chose UTF-8) with CR LF line ends, a tab per
// indentation level at the start of each line. Every text is
// appended with its own open and close, so the file is complete even when the
// process dies right after; each text is mirrored to the debugger output.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "core/core_internal.h"
#include "platform/platform.h"

namespace {

struct LogState {
    int logOff;        // set by SetLogOutputEnabled(0)
    int everOpened;    // the file has been opened at least once
    int indentLevel;   // tabs in front of each new line, never below 0
    int midLine;       // the last text did not end with a line feed
};

LogState LOG = {};

const char* LOG_FILE_NAME = "AppLog.txt";

}  // namespace

int BuildLogPath(char* path, size_t size) {
    const char* dir = GetStartDirectory();
    size_t len = strlen(dir);
    const char* separator = (len > 0 && dir[len - 1] == '/') ? "" : "/";
    int n = snprintf(path, size, "%s%s%s", dir, separator, LOG_FILE_NAME);
    return (n > 0 && (size_t)n < size) ? 0 : -1;
}

namespace {

// Writes text with each "\n" stored as CR LF, as a text-mode file would.
void WriteWithLineEnds(FILE* file, const char* text) {
    const char* start = text;
    for (const char* p = text; *p; p++) {
        if (*p == '\n') {
            fwrite(start, 1, (size_t)(p - start), file);
            fwrite("\r\n", 1, 2, file);
            start = p + 1;
        }
    }
    fwrite(start, 1, strlen(start), file);
}

}  // namespace

int IsLogWritten(void) { return !LOG.logOff && GetStartDirectory()[0] != '\0'; }

int SetLogOutputEnabled(int flag) {
    LOG.logOff = (flag == 0);
    return 0;
}

void ResetLogFile(void) {
    if (LOG.logOff || GetStartDirectory()[0] == '\0') return;
    char path[START_DIRECTORY_SIZE + 16];
    if (BuildLogPath(path, sizeof path) == 0) {
        FILE* file = fopen(path, "wb");
        if (file) {
            LOG.everOpened = 1;
            fclose(file);
        }
    }
    LOG.indentLevel = 0;
    LOG.midLine = 0;
}

namespace {

// Appends a text in the log's encoding (the program's) to the file and the mirror.
int AppendToLog(const char* text) {
    if (LOG.logOff || GetStartDirectory()[0] == '\0' || text == nullptr) return -1;
    char path[START_DIRECTORY_SIZE + 16];
    if (BuildLogPath(path, sizeof path) != 0) return -1;
    FILE* file = fopen(path, "ab");
    if (file == nullptr) return -1;
    LOG.everOpened = 1;
    if (!LOG.midLine) {
        for (int i = 0; i < LOG.indentLevel; i++) fputc('\t', file);
    }
    WriteWithLineEnds(file, text);
    PLATFORM.system->WriteDebugOutput(text);
    size_t len = strlen(text);
    if (len > 0) LOG.midLine = text[len - 1] != '\n';
    fclose(file);
    return -1;
}

}  // namespace

// Inside the library WriteLog and WriteLogFormat name the Shift-JIS forms
// (core.h); here the program's own are defined as well.
#undef WriteLog
#undef WriteLogFormat

int WriteLibraryLog(const char* text) {
    if (!IsUtf8Text() || text == nullptr || !IsLogWritten()) return AppendToLog(text);
    // A UTF-8 program's log is UTF-8 throughout: the library's texts are
    // converted (a Shift-JIS character takes at most 3 bytes in UTF-8).
    char small[1024 * 3 + 1];
    size_t need = strlen(text) * 3 + 1;
    char* utf8 = need <= sizeof small ? small : (char*)malloc(need);
    if (utf8 == nullptr) return -1;
    ConvertSjisToUtf8(text, utf8, (int)need);
    AppendToLog(utf8);
    if (utf8 != small) free(utf8);
    return -1;
}

int WriteLog(const char* text) { return AppendToLog(text); }

int WriteLogFormat(const char* format, ...) {
    if (format == nullptr || !IsLogWritten()) return -1;
    char small[1024];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return -1;
    // The whole text first, so that the cut falls before the first character
    // that does not fit, never inside it.
    char* text = small;
    if (n >= (int)sizeof small) {
        text = (char*)malloc((size_t)n + 1);
        if (text == nullptr) return -1;
        va_start(args, format);
        vsnprintf(text, (size_t)n + 1, format, args);
        va_end(args);
    }
    char line[1024];
    int length = CutToWholeCharacters(text, (int)sizeof line - 2);
    memcpy(line, text, (size_t)length);
    line[length] = '\n';
    line[length + 1] = '\0';
    if (text != small) free(text);
    return AppendToLog(line);
}

int WriteLibraryLogFormat(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer - 1, format, args);
    va_end(args);
    if (n < 0) return -1;
    // A longer text is cut, keeping room for the line end this call adds, and
    // never between the two bytes of a Shift-JIS character.
    size_t len = strlen(buffer);
    if ((size_t)n > len) {
        size_t i = 0;
        while (i < len) {
            unsigned char c = (unsigned char)buffer[i];
            size_t width = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
            if (i + width > len) break;
            i += width;
        }
        len = i;
    }
    buffer[len] = '\n';
    buffer[len + 1] = '\0';
    return WriteLibraryLog(buffer);
}

int IncreaseLogIndent(void) {
    if (LOG.everOpened) LOG.indentLevel++;
    return 0;
}

int DecreaseLogIndent(void) {
    if (LOG.everOpened && LOG.indentLevel > 0) LOG.indentLevel--;
    return 0;
}
