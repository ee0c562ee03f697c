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

// The end of the window's start-up: a close held since the window was made is
// posted again (passHeldClose 1, the library has started) or forgotten (0,
// the library is ending anyway).
void FinishWindowStartUp(int passHeldClose);

// Timer set-up and clock choice, run during window start-up.
void SetUpTimer(void);

// Starts the dialog's toolkit if the program asked for it before the library
// started: the window start-up calls it once this process is the one
// instance and its display is open.
void StartPreparedFileDialog(void);

// The desktop's part of every pump pass: files that arrived, the media
// controls' requests. Not re-entered from a handler's own pumping.
void ServeDesktop(void);
// After IsOtherInstanceRunning answered 1: this start's file (if any) goes to
// the running instance. 1 handed over, 0 nothing to hand, -1 failed.
int HandOverToRunningInstance(const char* className);
// Media controls ended, nothing pending: for the end of the library.
void ResetDesktop(void);
// 1 while a file that arrived waits to be taken.
int HasOpenedFile(void);
