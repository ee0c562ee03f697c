// window_state.cpp: what a program reads of the main window's state.
#include "core/core.h"

int GetWindowModeFlag(void) { return GetMainWindowState()->windowed; }

int GetWindowActiveFlag(void) {
    const MainWindowState* window = GetMainWindowState();
    return window->hasWindow && window->active ? 1 : 0;
}

int GetDesktopSize(int* width, int* height, int* colorBits) {
    const MainWindowState* window = GetMainWindowState();
    if (!window->hasWindow) return -1;
    if (width != nullptr) *width = window->desktopWidth;
    if (height != nullptr) *height = window->desktopHeight;
    if (colorBits != nullptr) *colorBits = window->desktopColorBits;
    return 0;
}
