// hand_over.h: the one-instance claim of a program on a display and the
// channel through which later starts hand their files to the holder. No
// window system is involved: the window backends offer these as their own.
#pragma once

// Whether another instance of this program runs on this display under the
// class name; when none does, this process becomes the one instance (the
// claim lasts until the process ends). 1, or 0 (also when no claim can be
// made: the start then runs on its own).
int ClaimInstance(const char* className);

// After ClaimInstance answered 1: gives an absolute path to the holder. 0 once
// the holder said it has it, -1 when it could not be given or no answer came.
int HandOverFileToInstance(const char* className, const char* path);

// Never waits: 1 with the absolute path of a file a later start handed over
// (terminated within size), 0 when none came. Files come in the order their
// senders connected.
int TakeHandedOverFile(char* path, int size);

// The claim's name for a class: class, program and display (without its
// screen number). Length as snprintf.
int FormatInstanceName(const char* className, char* name, int size);
// The socket a holder of the class's claim listens on; 0, or -1 when there is
// no private folder for claims.
int FormatInstanceSocketPath(const char* className, char* path, int size);
