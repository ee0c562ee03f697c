// x11_test_input.cpp: what a user does to an X window, for tests without a
// window manager or a keyboard.
//
//   x11_test_input close <window id>          the close button (WM_DELETE_WINDOW)
//   x11_test_input key <keycode> down|up      a key of the server's keyboard (XTEST)
//   x11_test_input capture <window id> <file> the window's pixels as a binary PPM, each
//                                             channel scaled to 0..255 from the visual's masks
//   x11_test_input cover <window id>          another window, white, put over it for a
//                                             moment and taken away (the window is exposed)
//
// Exit code 0 when the request was sent, 1 when it could not be, 2 on bad usage.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <time.h>

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

// One channel of a pixel as 0..255, from its mask (5, 6 or 8 bits wide).
unsigned Channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) shift++;
    unsigned long max = mask >> shift;
    return (unsigned)(((pixel & mask) >> shift) * 255 / max);
}

int Capture(Display* display, Window window, const char* path) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return 1;
    XImage* image = XGetImage(display, window, 0, 0, (unsigned)attributes.width, (unsigned)attributes.height,
                              AllPlanes, ZPixmap);
    if (image == nullptr) return 1;
    FILE* out = fopen(path, "wb");
    if (out == nullptr) {
        XDestroyImage(image);
        return 1;
    }
    fprintf(out, "P6\n%d %d\n255\n", image->width, image->height);
    for (int y = 0; y < image->height; y++) {
        for (int x = 0; x < image->width; x++) {
            unsigned long p = XGetPixel(image, x, y);
            unsigned char rgb[3] = {(unsigned char)Channel(p, image->red_mask), (unsigned char)Channel(p, image->green_mask),
                                    (unsigned char)Channel(p, image->blue_mask)};
            fwrite(rgb, 1, 3, out);
        }
    }
    int failed = fclose(out) != 0;
    XDestroyImage(image);
    return failed;
}

int Cover(Display* display, Window window) {
    XWindowAttributes attributes;
    Window child;
    int x, y;
    if (!XGetWindowAttributes(display, window, &attributes) ||
        !XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child))
        return 1;
    XSetWindowAttributes set = {};
    set.override_redirect = True;
    set.background_pixel = WhitePixel(display, DefaultScreen(display));
    Window cover = XCreateWindow(display, attributes.root, x, y, (unsigned)attributes.width, (unsigned)attributes.height,
                                 0, CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &set);
    XMapRaised(display, cover);
    XSync(display, False);
    struct timespec pause = {0, 200 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    XDestroyWindow(display, cover);
    XSync(display, False);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int close = argc == 3 && strcmp(argv[1], "close") == 0;
    int key = argc == 4 && strcmp(argv[1], "key") == 0 &&
              (strcmp(argv[3], "down") == 0 || strcmp(argv[3], "up") == 0);
    int capture = argc == 4 && strcmp(argv[1], "capture") == 0;
    int cover = argc == 3 && strcmp(argv[1], "cover") == 0;
    if (!close && !key && !capture && !cover) {
        fprintf(stderr, "usage: x11_test_input close <window id> | key <keycode> down|up | capture <window id> <file> | cover <window id>\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        fprintf(stderr, "x11_test_input: no display\n");
        return 1;
    }
    int result = cover ? Cover(display, (Window)strtoul(argv[2], nullptr, 0))
                 : capture ? Capture(display, (Window)strtoul(argv[2], nullptr, 0), argv[3])
                 : close ? SendClose(display, (Window)strtoul(argv[2], nullptr, 0))
                       : SendKey(display, (unsigned int)strtoul(argv[2], nullptr, 0),
                                 strcmp(argv[3], "down") == 0);
    XSync(display, False);
    XCloseDisplay(display);
    return result;
}
