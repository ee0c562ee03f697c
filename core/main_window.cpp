// main_window.cpp: the one main window of class "Ravlin", its window procedure
// and the message pump that every wait of the library runs.
//
// While the window is inactive the pump holds its caller, sleeping 1 ms per
// pass, which pauses the whole program in the background.
//
// The screen's size belongs to the screen and is read through the hooks every
// time; the desktop's size is kept here, in the window's record, and follows
// each display change.
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "core/core_internal.h"
#include "platform/platform.h"

namespace {

enum { TITLE_SIZE = 256, FRAME_MARGIN = 3, WINDOW_SETTLE_MS = 200 };

struct WindowState {
    MainWindowState pub;
    int modeChangeInProgress;
    int modeChangeDone;
    int surfacesLost;               // full screen went to the background
    // From the window's creation until the library has started, a close is
    // held: the parts still to start need the window. It is passed on once
    // they have, and the program ends as after any close. Meanwhile the pump
    // answers as if the program were to end, so that no wait of the start-up
    // (for the window to come back to the front, say) outlasts the close.
    int startingUp;
    int closeHeld;
};

// Survive the clearing at window start-up: configuration set before it.
struct WindowConfig {
    int windowed;       // 1 = framed window, 0 = full screen
    char title[TITLE_SIZE];
};

WindowState WINDOW = {};
WindowConfig CONFIG = {1, ""};

const char* WINDOW_CLASS_NAME = "Ravlin";

void PostToWindow(uint32_t message, int64_t wParam, int64_t lParam) {
    PlatformMessage m = {message, wParam, lParam};
    PLATFORM.window->PostMessage(MESSAGE_QUEUE_WINDOW, &m);
}

void StoreClientRect(void) {
    PlatformRect client;
    if (PLATFORM.window->GetClientRect(&client) != 0) return;
    WINDOW.pub.clientLeft = client.left;
    WINDOW.pub.clientTop = client.top;
    WINDOW.pub.clientRight = client.right;
    WINDOW.pub.clientBottom = client.bottom;
}

void ScreenSize(int* width, int* height) { GetCoreHooks()->GetScreenSize(width, height); }

void ReadDesktop(void) {
    PLATFORM.window->GetDesktopMode(&WINDOW.pub.desktopWidth, &WINDOW.pub.desktopHeight,
                                    &WINDOW.pub.desktopColorBits);
}

// The window rectangle for the windowed style: the client area grown by the
// frame with a menu bar allowed for and a 3-pixel margin, centred on the desktop.
PlatformRect ComputeWindowedRect(void) {
    int screenWidth, screenHeight;
    ScreenSize(&screenWidth, &screenHeight);
    PlatformRect rect = {0, 0, screenWidth, screenHeight};
    PLATFORM.window->AdjustWindowRect(&rect, 1, 1);
    rect.left -= FRAME_MARGIN;
    rect.top -= FRAME_MARGIN;
    rect.right += FRAME_MARGIN;
    rect.bottom += FRAME_MARGIN;
    int dx = (WINDOW.pub.desktopWidth - screenWidth) / 2;
    int dy = (WINDOW.pub.desktopHeight - screenHeight) / 2;
    rect.left += dx;
    rect.right += dx;
    rect.top += dy;
    rect.bottom += dy;
    return rect;
}

// Resizes the window so that its client area is exactly the screen size,
// keeping its top-left corner.
void FitWindowToScreen(void) {
    PlatformRect window, client;
    if (PLATFORM.window->GetWindowRect(&window) != 0) return;
    if (PLATFORM.window->GetClientRect(&client) != 0) return;
    int screenWidth, screenHeight;
    ScreenSize(&screenWidth, &screenHeight);
    int width = (window.right - window.left) - (client.right - client.left) + screenWidth;
    int height = (window.bottom - window.top) - (client.bottom - client.top) + screenHeight;
    PlatformRect fitted = {window.left, window.top, window.left + width, window.top + height};
    PLATFORM.window->MoveMainWindow(&fitted);
}

void FitAndApplyStyleOnce(void) {
    FitWindowToScreen();
    if (CONFIG.windowed && !WINDOW.pub.styleApplied) {
        WINDOW.pub.styleApplied = 1;
        ApplyWindowStyle();
    }
}

int WindowProcedure(uint32_t message, int64_t wParam, int64_t lParam);

// The device, surfaces, images and fonts made again; input starts again on its next query.
void RebuildAfterDeviceLoss(void) { GetCoreHooks()->RebuildAfterDeviceLoss(); }

void HandleActivate(int64_t wParam) {
    WINDOW.pub.active = (int)(wParam & 0xFFFF);
    if (CONFIG.windowed) return;  // movies and music are never played here
    if (WINDOW.pub.active) {
        if (WINDOW.surfacesLost && IsLibraryStarted()) {
            RebuildAfterDeviceLoss();
            WINDOW.surfacesLost = 0;
        }
    } else if (GetCoreHooks()->CanRestoreGraphs()) {
        WINDOW.surfacesLost = 1;
    } else {
        WriteLog("復元関数が登録されていないため終了します\n");
        PostCloseRequest();
    }
}

void DestroyWindowNow(void) {
    PLATFORM.window->DestroyMainWindow();
    WindowProcedure(WM_DESTROY, 0, 0);
}

void HandleDisplayChange(int64_t wParam, int64_t lParam) {
    if (!CONFIG.windowed || WINDOW.modeChangeInProgress) {
        WINDOW.modeChangeDone = 1;
        return;
    }
    int bits = (int)wParam;
    int width = (int)(lParam & 0xFFFF);
    int height = (int)((lParam >> 16) & 0xFFFF);
    // The desktop is what the message says from now on: presenting, the draw
    // area and the window's placement are cut to it.
    WINDOW.pub.desktopWidth = width;
    WINDOW.pub.desktopHeight = height;
    WINDOW.pub.desktopColorBits = bits;
    int screenWidth, screenHeight;
    ScreenSize(&screenWidth, &screenHeight);
    int screenBits = GetCoreHooks()->GetScreenColorBits();
    if (width == screenWidth && height == screenHeight && bits == screenBits) {
        WINDOW.modeChangeDone = 1;
        return;
    }
    // The screen follows the new desktop when it still fits and its depth can be
    // kept; the restore routine is always installed (the default one from start-up).
    int canRebuild = GetCoreHooks()->CanRestoreGraphs() && bits != 24 && (bits == screenBits || bits != 8) &&
                     screenWidth <= width && screenHeight <= height;
    if (canRebuild) {
        RebuildAfterDeviceLoss();
        WINDOW.modeChangeDone = 1;
        return;
    }
    WriteLog("復元関数が登録されていないためか画面が２４ビットカラーに変更されたため終了します\n");
    WriteLog("またはスクリーンが小さすぎるためか色ビット数の違いが大きいためか終了します\n");
    PostCloseRequest();
}

int WindowProcedure(uint32_t message, int64_t wParam, int64_t lParam) {
    switch (message) {
    case WM_DESTROY:
        WriteLog("ウインドウが破棄されようとしています\n");
        WINDOW.pub.destroyed = 1;
        WINDOW.pub.hasWindow = 0;
        WriteLog("ソフトを終了する準備が整いました\n");
        {
            PlatformMessage quit = {WM_QUIT, 0, 0};
            PLATFORM.window->PostMessage(MESSAGE_QUEUE_THREAD, &quit);
        }
        WINDOW.pub.quit = 1;
        return 0;
    case WM_MOVE:
        if (CONFIG.windowed && !WINDOW.modeChangeInProgress) {
            int x = (int16_t)(lParam & 0xFFFF);
            int y = (int16_t)((lParam >> 16) & 0xFFFF);
            int width = WINDOW.pub.clientRight - WINDOW.pub.clientLeft;
            int height = WINDOW.pub.clientBottom - WINDOW.pub.clientTop;
            WINDOW.pub.clientLeft = x;
            WINDOW.pub.clientTop = y;
            WINDOW.pub.clientRight = x + width;
            WINDOW.pub.clientBottom = y + height;
            GetCoreHooks()->FollowWindowMove();
        }
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MAXIMIZED) FitAndApplyStyleOnce();
        return 0;
    case WM_ACTIVATE:
        HandleActivate(wParam);
        return 0;
    case WM_CLOSE:
        if (WINDOW.startingUp) {
            WINDOW.closeHeld = 1;
            return 0;
        }
        WriteLog("ウインドウを閉じようとしています\n");
        DestroyWindowNow();
        return 0;
    case WM_SETCURSOR:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        if (!WINDOW.pub.cursorShown) PLATFORM.window->SetCursorVisible(0);
        return 0;
    case WM_DISPLAYCHANGE:
        HandleDisplayChange(wParam, lParam);
        return 0;
    default:
        return 0;
    }
}

}  // namespace

void FinishWindowStartUp(int passHeldClose) {
    int held = WINDOW.closeHeld;  // set only while starting up
    WINDOW.startingUp = 0;
    WINDOW.closeHeld = 0;
    if (held && passHeldClose && WINDOW.pub.hasWindow) {
        WINDOW.pub.closePosted = 1;
        PostToWindow(WM_CLOSE, 0, 0);
    }
}

const MainWindowState* GetMainWindowState(void) {
    WINDOW.pub.windowed = CONFIG.windowed;
    return &WINDOW.pub;
}

void PostCloseRequest(void) {
    if (WINDOW.pub.closePosted) return;
    WINDOW.pub.closePosted = 1;
    PostToWindow(WM_CLOSE, 0, 0);
}

int SetWindowTitleText(const char* title) {
    // A longer title is cut after its last whole character.
    int length = CutToWholeCharacters(title, (int)sizeof CONFIG.title - 1);
    snprintf(CONFIG.title, sizeof CONFIG.title, "%.*s", length, title ? title : "");
    if (WINDOW.pub.hasWindow) PLATFORM.window->SetWindowTitle(CONFIG.title);
    return 0;
}

int ChangeWindowMode(int flag) {
    WriteLog("ChangeWindowMode実行 \n");
    if (flag == CONFIG.windowed) return 0;
    WINDOW.pub.styleApplied = 0;
    CONFIG.windowed = flag;
    WriteLog(flag ? "ウインドウモードフラグが立てられました\n" : "ウインドウモードフラグが倒されました\n");
    if (!WINDOW.pub.hasWindow) return 0;
    WINDOW.modeChangeInProgress = 1;
    WINDOW.modeChangeDone = 0;
    ApplyWindowStyle();
    int result = GetCoreHooks()->ApplyWindowMode();
    // The display's change message ends the wait. A mode change that leaves the
    // desktop as it was sends none, so the wait is bounded as the start-up's is.
    uint32_t start = PLATFORM.clock->GetMilliseconds();
    while (!WINDOW.modeChangeDone && PLATFORM.clock->GetMilliseconds() - start < WINDOW_SETTLE_MS) {
        if (ProcessWindowMessages() != 0) break;
    }
    WINDOW.modeChangeInProgress = 0;
    return result;
}

int ApplyWindowStyle(void) {
    if (!WINDOW.pub.hasWindow) return 0;
    int screenWidth, screenHeight;
    ScreenSize(&screenWidth, &screenHeight);
    if (CONFIG.windowed) {
        WriteLog("ウインドウスタイルをウインドウモード用に変更します... ");
        // Full screen may have hidden a change of the desktop.
        ReadDesktop();
        PLATFORM.window->SetWindowStyle(1);
        PlatformRect rect = ComputeWindowedRect();
        PLATFORM.window->MoveMainWindow(&rect);
        // Resizing a window tells its procedure at once, as the platform's own
        // position call would: the fit takes the frame allowance back.
        WindowProcedure(WM_SIZE, 0, 0);
        StoreClientRect();
        if (!WINDOW.pub.cursorShown) {
            WINDOW.pub.cursorShown = 1;
            PLATFORM.window->SetCursorVisible(1);
            PostToWindow(WM_SETCURSOR, 0, 0);
        }
        WriteLog("完了\n");
    } else {
        WriteLog("ウインドウスタイルをフルスクリーンモード用に変更します... ");
        PLATFORM.window->SetWindowStyle(0);
        WINDOW.pub.clientLeft = 0;
        WINDOW.pub.clientTop = 0;
        WINDOW.pub.clientRight = screenWidth;
        WINDOW.pub.clientBottom = screenHeight;
        if (WINDOW.pub.cursorShown) {
            WINDOW.pub.cursorShown = 0;
            PLATFORM.window->SetCursorVisible(0);
            PostToWindow(WM_SETCURSOR, 0, 0);
        }
        WriteLog("完了\n");
    }
    PostToWindow(WM_SETCURSOR, 0, 0);
    PLATFORM.window->RaiseMainWindow();
    return 0;
}

int InitMainWindow(void) {
    WINDOW = WindowState{};
    // A quit message left from an earlier run of the window must not end this one.
    PlatformMessage stale;
    while (PLATFORM.window->PeekMessage(MESSAGE_QUEUE_THREAD, &stale)) {
    }

    WriteLog("ソフトの２重起動検査... ");
    if (PLATFORM.window->IsOtherInstanceRunning(WINDOW_CLASS_NAME)) {
        WriteLog("２重起動されています、ソフトを終了します\n");
        // This start's file goes to the one that runs.
        int handed = HandOverToRunningInstance(WINDOW_CLASS_NAME);
        // The log may be off: the user who started it still hears why nothing
        // opened, and that a file it brought did not arrive.
        const char* name = CONFIG.title[0] != '\0' ? CONFIG.title : WINDOW_CLASS_NAME;
        char notice[sizeof CONFIG.title + 96];
        if (handed == -1) {
            snprintf(notice, sizeof notice, "%s is already running on this display, but it did not take the file\n",
                     name);
        } else {
            snprintf(notice, sizeof notice, "%s is already running on this display\n", name);
        }
        PLATFORM.system->WriteDebugOutput(notice);
        PLATFORM.system->ExitProcess(handed == -1 ? 1 : 0);
    }
    WriteLog("２重起動はされていませんでした\n");

    double total = 0, available = 0;
    PLATFORM.system->GetMemoryStatus(&total, &available);
    WriteLogFormat("メモリ総量:%.2fMB  空きメモリ領域:%.2fMB ", total / 1048576.0, available / 1048576.0);

    ReadDesktop();
    int screenWidth, screenHeight;
    ScreenSize(&screenWidth, &screenHeight);
    WriteLog("ソフトの実行優先レベルを上げました\n");

    WriteLog("ウインドウクラスを登録します... ");
    if (PLATFORM.window->RegisterWindowClass(WINDOW_CLASS_NAME) != 0) {
        WriteLog("ウインドウクラスの登録に失敗しました\n");
        return -1;
    }
    WriteLog("登録に成功しました\n");

    if (CONFIG.title[0] == '\0') snprintf(CONFIG.title, sizeof CONFIG.title, "%s", WINDOW_CLASS_NAME);

    PlatformRect rect;
    if (CONFIG.windowed) {
        WriteLog("ウインドウモード起動用のウインドウを作成します\n");
        WINDOW.pub.cursorShown = 1;
        rect = ComputeWindowedRect();
    } else {
        WriteLog("フルスクリーンモード用のウインドウを作成します\n");
        WINDOW.pub.cursorShown = 0;
        rect = PlatformRect{0, 0, screenWidth, screenHeight};
    }
    if (PLATFORM.window->CreateMainWindow(CONFIG.title, CONFIG.windowed, &rect) != 0) {
        WriteLog("ウインドウの作成に失敗しました\n");
        PLATFORM.window->UnregisterWindowClass(WINDOW_CLASS_NAME);
        return -1;
    }
    WINDOW.pub.hasWindow = 1;

    PLATFORM.window->ShowMainWindow();
    WINDOW.pub.closePosted = 0;
    WINDOW.startingUp = 1;
    WINDOW.pub.destroyed = 0;
    WINDOW.pub.active = 1;

    if (!CONFIG.windowed) {
        WriteLog("カーソルを不可視にしました\n");
        PLATFORM.window->SetCursorVisible(0);
    }
    WriteLog("ＩＭＥを無効にしました\n");
    PLATFORM.window->DisableIme();
    if (CONFIG.windowed) StoreClientRect();

    SetUpTimer();
    // This is the one instance, and its display is open: the dialog's toolkit
    // may open its own now, while the window settles.
    StartPreparedFileDialog();

    uint32_t start = PLATFORM.clock->GetMilliseconds();
    while (PLATFORM.clock->GetMilliseconds() - start < WINDOW_SETTLE_MS) ProcessWindowMessages();

    FitAndApplyStyleOnce();  // the windowed style stores the fitted client rectangle
    return 0;
}

int WaitForActiveWindow(void) {
    if (WINDOW.pub.active) return 0;
    while (!WINDOW.pub.active) {
        if (ProcessWindowMessages() != 0) return -1;
    }
    // Back from the background: what was lost meanwhile is restored.
    GetCoreHooks()->Reactivated();
    return 0;
}

int ProcessWindowMessages(void) {
    // Without a window there is nothing to run in: the caller is told to end
    // rather than held (an inactive hold would never be released).
    if (!WINDOW.pub.hasWindow && !WINDOW.pub.quit) return -1;

    int firstPass = 1;
    int handledLastPass = 0;
    for (;;) {
        if (firstPass) {
            if (WINDOW.pub.quit) break;
        } else if ((WINDOW.pub.closePosted || WINDOW.pub.active) && (!handledLastPass || WINDOW.pub.quit)) {
            break;
        }
        firstPass = 0;
        if (!WINDOW.pub.active) PLATFORM.clock->Sleep(1);
        ServeDesktop();

        int handled = 0;
        PlatformMessage m;
        for (int queue = MESSAGE_QUEUE_THREAD; queue <= MESSAGE_QUEUE_WINDOW; queue++) {
            while (PLATFORM.window->PeekMessage(queue, &m)) {
                handled = 1;
                if (m.message == WM_ACTIVATEAPP) {
                    WINDOW.pub.active = (int)(m.wParam & 0xFFFF);
                    if (WINDOW.pub.quit) return -1;
                }
                if (m.message == WM_QUIT) {
                    WINDOW.pub.quit = 1;
                    continue;
                }
                if (queue == MESSAGE_QUEUE_WINDOW && WINDOW.pub.hasWindow) WindowProcedure(m.message, m.wParam, m.lParam);
            }
        }
        if (WINDOW.pub.quit || WINDOW.closeHeld) break;
        handledLastPass = handled;
    }
    return WINDOW.pub.quit || WINDOW.closeHeld ? -1 : 0;
}
