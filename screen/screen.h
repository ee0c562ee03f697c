// screen.h: screen settings and the wait that opens screen and input operations.
#pragma once

// Stores the screen settings read by screen start-up; -1 keeps a value.
int SetScreenMode(int width, int height, int colorBits, int refreshRate);

struct ScreenSettings {
    int width, height;   // pixels
    int colorBits;
    int refreshRate;     // Hz, -1 = the display's own
};
const ScreenSettings* GetScreenSettings(void);

// Holds the caller while the main window is inactive; 0, or -1 once the program is ending.
int WaitWhileInactive(void);
