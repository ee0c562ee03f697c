// core_internal.h: what the files of core/ share among themselves.
#pragma once

#include <cstddef>
#include <cstdint>

// Linux paths run far past the 260 characters of other systems: a longer
// start directory must not lose the log or the directory restore.
enum { START_DIRECTORY_SIZE = 4096 };

// Start directory taken by InitLibrary; empty before it. The log lives there.
const char* GetStartDirectory(void);
// Empties "AppLog.txt" in the start directory and resets indentation (log on only).
void ResetLogFile(void);
// 1 when log texts reach a file (the log is on and there is a start directory).
int IsLogWritten(void);
// The log file's path: the start directory, a separator unless it ends in one, "AppLog.txt".
int BuildLogPath(char* path, size_t size);

// Timer set-up and clock choice, run during window start-up.
void SetUpTimer(void);
