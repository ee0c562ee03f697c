// desktop.cpp: what reaches the program from the rest of the desktop: files
// that a later start of the program hands over or that are dropped on the main
// window, and the desktop's media controls on the session bus.
//
// Both are served by the message pump, once per pass, so that they work while
// the pump holds the program in the background as well. A file that arrives
// brings the window to the front (the program loads it in its own loop, which
// runs only while the window is active); media requests go to the program's
// handler at once, as window messages go to the window procedure.
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "core/core_internal.h"
#include "platform/platform.h"

static_assert((int)MEDIA_PLAY == (int)MEDIA_REQUEST_PLAY && (int)MEDIA_PAUSE == (int)MEDIA_REQUEST_PAUSE &&
                  (int)MEDIA_PLAY_PAUSE == (int)MEDIA_REQUEST_PLAY_PAUSE && (int)MEDIA_STOP == (int)MEDIA_REQUEST_STOP &&
                  (int)MEDIA_SET_RATE == (int)MEDIA_REQUEST_SET_RATE,
              "the program's media requests are the platform's");

namespace {

struct DesktopState {
    int takesFiles;                       // the program asked for files from other starts
    char handOver[MEDIA_PATH_SIZE];       // this start's own file for a running instance; empty for none
    int hasOpened;
    char opened[MEDIA_PATH_SIZE];         // the last file that arrived, not yet taken
    int mediaStarted;
    MediaRequestHandler handler;
    int serving;                          // inside a pass: a handler's own pumping does not serve again
};

DesktopState DESKTOP = {};

void PassRequest(const PlatformMediaRequest& request) {
    switch (request.kind) {
        case MEDIA_REQUEST_QUIT:
            // As the close button.
            PostCloseRequest();
            break;
        case MEDIA_REQUEST_RAISE:
            PLATFORM.window->RaiseMainWindow();
            break;
        default:
            if (DESKTOP.handler != nullptr) DESKTOP.handler(request.kind, request.rate);
            break;
    }
}

}  // namespace

int SetFileHandOver(const char* path) {
    DESKTOP.takesFiles = 1;
    DESKTOP.handOver[0] = '\0';
    if (path == nullptr || path[0] == '\0') return 0;
    // The running instance has another current directory: a relative name is
    // made absolute here.
    char folder[MEDIA_PATH_SIZE] = "";
    if (path[0] != '/' && PLATFORM.system->GetCurrentDir(folder, sizeof folder) != 0) return -1;
    const char* separator = path[0] == '/' || (folder[0] != '\0' && folder[strlen(folder) - 1] == '/') ? "" : "/";
    int length = snprintf(DESKTOP.handOver, sizeof DESKTOP.handOver, "%s%s%s", folder, separator, path);
    if (length < 0 || length >= (int)sizeof DESKTOP.handOver) {
        DESKTOP.handOver[0] = '\0';
        return -1;
    }
    return 0;
}

int HandOverToRunningInstance(const char* className) {
    if (DESKTOP.handOver[0] == '\0') return 0;
    return PLATFORM.window->HandOverFile(className, DESKTOP.handOver) == 0 ? 1 : -1;
}

int TakeOpenedFile(char* path, int size) {
    if (!DESKTOP.hasOpened || path == nullptr || size <= 0) return 0;
    DESKTOP.hasOpened = 0;
    int length = (int)strlen(DESKTOP.opened);
    if (length >= size) return 0;
    memcpy(path, DESKTOP.opened, (size_t)length + 1);
    return 1;
}

int StartMediaControls(const char* name, const char* identity) {
    if (DESKTOP.mediaStarted) return 0;
    if (name == nullptr || identity == nullptr || PLATFORM.media == nullptr) return -1;
    if (PLATFORM.media->StartMedia(name, identity) != 0) return -1;
    DESKTOP.mediaStarted = 1;
    return 0;
}

void EndMediaControls(void) {
    if (!DESKTOP.mediaStarted) return;
    PLATFORM.media->EndMedia();
    DESKTOP.mediaStarted = 0;
}

void SetMediaRequestHandler(MediaRequestHandler handler) { DESKTOP.handler = handler; }

int PublishMediaState(const MediaState* state) {
    if (!DESKTOP.mediaStarted || state == nullptr) return -1;
    static PlatformMediaState shown;  // a path's worth: kept off the stack of every frame
    shown.playing = state->playing != 0;
    shown.minimumRate = state->minimumRate;
    shown.maximumRate = state->maximumRate;
    // The desktop's controls trust the range: a rate outside it is never shown.
    shown.rate = state->rate > state->maximumRate ? state->maximumRate : state->rate;
    if (shown.rate < state->minimumRate) shown.rate = state->minimumRate;
    shown.track = state->track;
    shown.lengthMicroseconds = state->lengthMicroseconds > 0 ? state->lengthMicroseconds : 0;
    snprintf(shown.path, sizeof shown.path, "%s", state->path != nullptr ? state->path : "");
    PLATFORM.media->PublishMediaState(&shown);
    return 0;
}

void ServeDesktop(void) {
    if (DESKTOP.serving) return;
    DESKTOP.serving = 1;
    if (DESKTOP.takesFiles) {
        // Files come in the order they were sent: the last one is what the
        // program takes, an earlier one not yet taken makes way for it.
        static char incoming[MEDIA_PATH_SIZE];
        int arrived = 0;
        while (PLATFORM.window->TakeOpenedFile(incoming, sizeof incoming) == 1) {
            memcpy(DESKTOP.opened, incoming, strlen(incoming) + 1);
            DESKTOP.hasOpened = 1;
            arrived = 1;
        }
        // The program loads it in its own loop, which runs only in front.
        if (arrived && GetMainWindowState()->hasWindow) PLATFORM.window->RaiseMainWindow();
    }
    if (DESKTOP.mediaStarted) {
        PLATFORM.media->ServeMedia();
        PlatformMediaRequest request;
        while (PLATFORM.media->TakeMediaRequest(&request) == 1) PassRequest(request);
    }
    DESKTOP.serving = 0;
}

int HasOpenedFile(void) { return DESKTOP.hasOpened; }

void ResetDesktop(void) {
    EndMediaControls();
    DESKTOP.hasOpened = 0;
    DESKTOP.handler = nullptr;
}
