// x11_test_input.cpp: what a user does to an X window, for tests without a
// window manager or a keyboard.
//
//   x11_test_input close <window id>          the close button (WM_DELETE_WINDOW)
//   x11_test_input key <keycode> down|up      a key of the server's keyboard (XTEST)
//
// Exit code 0 when the request was sent, 1 when it could not be, 2 on bad usage.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int SendClose(Display* display, Window window) {
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    return XSendEvent(display, window, False, NoEventMask, &event) != 0 ? 0 : 1;
}

int SendKey(Display* display, unsigned int keycode, int down) {
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) return 1;
    return XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime) != 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int close = argc == 3 && strcmp(argv[1], "close") == 0;
    int key = argc == 4 && strcmp(argv[1], "key") == 0 &&
              (strcmp(argv[3], "down") == 0 || strcmp(argv[3], "up") == 0);
    if (!close && !key) {
        fprintf(stderr, "usage: x11_test_input close <window id> | key <keycode> down|up\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        fprintf(stderr, "x11_test_input: no display\n");
        return 1;
    }
    int result = close ? SendClose(display, (Window)strtoul(argv[2], nullptr, 0))
                       : SendKey(display, (unsigned int)strtoul(argv[2], nullptr, 0),
                                 strcmp(argv[3], "down") == 0);
    XSync(display, False);
    XCloseDisplay(display);
    return result;
}
