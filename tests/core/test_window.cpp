// Main window geometry and the message pump's holds and ends.
#include "core/core.h"
#include "library/library.h"
#include "core_test_support.h"
#include "screen/screen.h"

using WindowTest = FakePlatformTest;

TEST_F(WindowTest, ClientAreaIsExactlyTheScreenSizeAndCentred) {
    SetScreenMode(350, 120, 16, -1);
    SetWindowTitleText("Marovel ver0.001a");
    ASSERT_EQ(InitLibrary(), 0);
    PlatformRect client;
    ASSERT_EQ(PLATFORM.window->GetClientRect(&client), 0);
    EXPECT_EQ(client.right - client.left, 350);
    EXPECT_EQ(client.bottom - client.top, 120);
    // Centred on the 1024 x 768 desktop, less the 3-pixel margin and the menu
    // allowance above; the fit keeps the top-left corner.
    EXPECT_EQ(client.left, (1024 - 350) / 2 - 3);
    EXPECT_EQ(client.top, (768 - 120) / 2 - 3 - FAKE.menuHeight);
    const MainWindowState* w = GetMainWindowState();
    EXPECT_EQ(w->clientLeft, client.left);
    EXPECT_EQ(w->clientTop, client.top);
    EXPECT_EQ(w->clientRight, client.right);
    EXPECT_EQ(w->clientBottom, client.bottom);
    EXPECT_EQ(w->desktopColorBits, 32);
    EXPECT_EQ(FAKE.title, "Marovel ver0.001a");
    EXPECT_NE(ReadLog().find("ウインドウスタイルをウインドウモード用に変更します... 完了\r\n"), std::string::npos);
}

TEST_F(WindowTest, EmptyTitleBecomesTheClassName) {
    SetWindowTitleText("");
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(FAKE.title, "Ravlin");
    SetWindowTitleText("新しい題名");
    EXPECT_EQ(FAKE.title, "新しい題名");
}

TEST_F(WindowTest, FullScreenHidesTheCursor) {
    ChangeWindowMode(0);
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(FAKE.cursorVisible, 0);
    EXPECT_EQ(FAKE.windowed, 0);
    EXPECT_NE(ReadLog().find("フルスクリーンモード用のウインドウを作成します\r\n"), std::string::npos);
    EXPECT_NE(ReadLog().find("カーソルを不可視にしました\r\n"), std::string::npos);
    ChangeWindowMode(1);
    EXPECT_EQ(FAKE.cursorVisible, 1);
    EXPECT_EQ(FAKE.windowed, 1);
}

namespace {

int REACTIVATE_AT = 0;
void ReactivateAt(int peek) {
    if (peek == REACTIVATE_AT) QueueFakeMessage(WM_ACTIVATEAPP, 1, 0);
}
void CloseAt(int peek) {
    if (peek == REACTIVATE_AT) QueueFakeMessage(WM_CLOSE, 0, 0);
}

}  // namespace

TEST_F(WindowTest, InactiveWindowHoldsTheCallerUntilReactivated) {
    ASSERT_EQ(InitLibrary(), 0);
    QueueFakeMessage(WM_ACTIVATEAPP, 0, 0);
    QueueFakeMessage(WM_ACTIVATE, 0, 0);
    int sleepsBefore = CountFakeCalls("Sleep");
    REACTIVATE_AT = FAKE.peekCount + 40;
    FAKE.onPeek = ReactivateAt;
    EXPECT_EQ(ProcessWindowMessages(), 0);
    FAKE.onPeek = nullptr;
    EXPECT_EQ(GetMainWindowState()->active, 1);
    EXPECT_GE(FAKE.peekCount, REACTIVATE_AT);
    // One 1 ms sleep per pass (two peeks, one per queue) while inactive.
    EXPECT_GE(CountFakeCalls("Sleep") - sleepsBefore, 18);
    // Active again: the next call returns at once.
    int peeks = FAKE.peekCount;
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(FAKE.peekCount - peeks, 2);
}

TEST_F(WindowTest, InactiveWindowReleasesTheCallerWhenClosed) {
    ASSERT_EQ(InitLibrary(), 0);
    QueueFakeMessage(WM_ACTIVATEAPP, 0, 0);
    REACTIVATE_AT = FAKE.peekCount + 20;
    FAKE.onPeek = CloseAt;
    EXPECT_EQ(ProcessWindowMessages(), -1);
    FAKE.onPeek = nullptr;
    EXPECT_EQ(GetMainWindowState()->destroyed, 1);
    for (int i = 0; i < 3; i++) EXPECT_EQ(ProcessWindowMessages(), -1);
    EXPECT_EQ(WaitWhileInactive(), -1);
}

TEST_F(WindowTest, WaitMillisecondsEndsEarlyWhenClosed) {
    ASSERT_EQ(InitLibrary(), 0);
    uint32_t start = FAKE.milliseconds;
    REACTIVATE_AT = FAKE.peekCount + 50;
    FAKE.onPeek = CloseAt;
    EXPECT_EQ(WaitMilliseconds(1000), 0);
    FAKE.onPeek = nullptr;
    EXPECT_LT(FAKE.milliseconds - start, 200u);
    EXPECT_EQ(GetMainWindowState()->quit, 1);
}

TEST_F(WindowTest, WaitMillisecondsWaitsOnTheClock) {
    ASSERT_EQ(InitLibrary(), 0);
    uint32_t start = FAKE.milliseconds;
    EXPECT_EQ(WaitMilliseconds(1000), 0);
    EXPECT_GE(FAKE.milliseconds - start, 1000u);
    EXPECT_LT(FAKE.milliseconds - start, 1010u);

    // Zero or less pumps once (one pass: the thread queue and the window's).
    for (int ms : {0, -5}) {
        int peeks = FAKE.peekCount;
        EXPECT_EQ(WaitMilliseconds(ms), 0);
        EXPECT_EQ(FAKE.peekCount - peeks, 2);
    }
}

TEST_F(WindowTest, WaitSurvivesTheClockWrapping) {
    ASSERT_EQ(InitLibrary(), 0);
    // Just below the sign change of the millisecond clock: its third read lies
    // beyond it (0x7FFFFFFE, then 0x80000005).
    const uint32_t start = 0x7FFFFFF0u;
    FAKE.milliseconds = start;
    FAKE.millisecondStep = 7;
    EXPECT_EQ(WaitMilliseconds(100), 0);
    EXPECT_GE(FAKE.milliseconds - start, 100u);
    EXPECT_LT(FAKE.milliseconds - start, 200u);
}

TEST_F(WindowTest, MovesFollowTheClientArea) {
    SetScreenMode(350, 120, 16, -1);
    ASSERT_EQ(InitLibrary(), 0);
    QueueFakeMessage(WM_MOVE, 0, (int64_t)((uint32_t)(uint16_t)-20 | (50u << 16)));
    EXPECT_EQ(ProcessWindowMessages(), 0);
    const MainWindowState* w = GetMainWindowState();
    EXPECT_EQ(w->clientLeft, -20);
    EXPECT_EQ(w->clientTop, 50);
    EXPECT_EQ(w->clientRight, 330);
    EXPECT_EQ(w->clientBottom, 170);
}

TEST_F(WindowTest, DisplayChangeThatCannotBeFollowedClosesInOrder) {
    SetScreenMode(350, 120, 16, -1);
    ASSERT_EQ(InitLibrary(), 0);
    QueueFakeMessage(WM_DISPLAYCHANGE, 24, 800 | (600 << 16));
    EXPECT_EQ(ProcessWindowMessages(), -1);
    std::string log = ReadLog();
    EXPECT_NE(log.find("復元関数が登録されていないためか画面が２４ビットカラーに変更されたため終了します\r\n"
                       "またはスクリーンが小さすぎるためか色ビット数の違いが大きいためか終了します\r\n"),
              std::string::npos);
    EXPECT_EQ(CountFakeCalls("PostClose"), 1);
}

TEST_F(WindowTest, DisplayChangeThatFitsIsFollowed) {
    SetScreenMode(350, 120, 16, -1);
    ASSERT_EQ(InitLibrary(), 0);
    QueueFakeMessage(WM_DISPLAYCHANGE, 32, 800 | (600 << 16));
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(CountFakeCalls("PostClose"), 0);
    EXPECT_EQ(CountFakeCalls("CloseInput"), 1);  // input starts again on its next query
    EXPECT_EQ(ReadLog().find("復元関数"), std::string::npos);

    // A desktop smaller than the screen cannot hold it.
    QueueFakeMessage(WM_DISPLAYCHANGE, 32, 320 | (100 << 16));
    EXPECT_EQ(ProcessWindowMessages(), -1);
    EXPECT_EQ(CountFakeCalls("PostClose"), 1);
}

// ---- Floods of messages ----

namespace {

// A pump that would wait forever is ended after this many peeks by a quit
// message, and the test fails.
const int RESCUE_AFTER_PEEKS = 20000;
int RESCUE_AT = 0;
bool RESCUED = false;
int FLOOD_AT = 0;
bool FLOODED = false;

bool RescueIfStuck(int peek) {
    if (peek < RESCUE_AT || RESCUED) return RESCUED;
    RESCUED = true;
    PlatformMessage quit = {WM_QUIT, 0, 0};
    PushPlatformMessage(MESSAGE_QUEUE_THREAD, &quit);
    return true;
}

void ArmFlood(int floodAt) {
    FLOOD_AT = floodAt;
    FLOODED = false;
    RESCUED = false;
    RESCUE_AT = FAKE.peekCount + RESCUE_AFTER_PEEKS;
}

// 300 mouse moves arrive at the first peek after the close request.
void MovesAfterTheClose(int peek) {
    if (RescueIfStuck(peek) || FLOODED || CountFakeCalls("PostClose") == 0) return;
    FLOODED = true;
    for (int i = 0; i < 300; i++) QueueFakeMessage(WM_MOUSEMOVE, 0, i);
}

// The focus comes back, and right behind it 300 moves and 600 clicks.
void FocusThenClicks(int peek) {
    if (RescueIfStuck(peek) || FLOODED || peek < FLOOD_AT) return;
    FLOODED = true;
    QueueFakeMessage(WM_ACTIVATEAPP, 1, 0);
    QueueFakeMessage(WM_ACTIVATE, 1, 0);
    for (int i = 0; i < 300; i++) {
        QueueFakeMessage(WM_MOUSEMOVE, 0, i);
        QueueFakeMessage(WM_LBUTTONDOWN, 0, i);
        QueueFakeMessage(WM_LBUTTONUP, 0, i);
    }
}

}  // namespace

TEST_F(WindowTest, FloodsOfMessagesLoseNothing) {
    // The queue itself: every message but a move right behind a move is kept,
    // in order, however many wait; the move kept is the latest.
    PlatformMessage m = {WM_CLOSE, 0, 0};
    PushPlatformMessage(MESSAGE_QUEUE_WINDOW, &m);
    for (int i = 0; i < 1000; i++) {
        PlatformMessage move1 = {WM_MOUSEMOVE, 0, i}, move2 = {WM_MOUSEMOVE, 0, 100000 + i};
        PlatformMessage click = {WM_LBUTTONDOWN, 0, i};
        PushPlatformMessage(MESSAGE_QUEUE_WINDOW, &move1);
        PushPlatformMessage(MESSAGE_QUEUE_WINDOW, &move2);
        PushPlatformMessage(MESSAGE_QUEUE_WINDOW, &click);
    }
    std::vector<PlatformMessage> got;
    while (PopPlatformMessage(MESSAGE_QUEUE_WINDOW, &m)) got.push_back(m);
    EXPECT_EQ(got.size(), 2001u);
    EXPECT_EQ(got[0].message, (uint32_t)WM_CLOSE);
    int wrong = 0;
    for (int i = 0; i < 1000 && got.size() == 2001; i++) {
        const PlatformMessage& move = got[1 + 2 * i];
        const PlatformMessage& click = got[2 + 2 * i];
        wrong += move.message != WM_MOUSEMOVE || move.lParam != 100000 + i;
        wrong += click.message != WM_LBUTTONDOWN || click.lParam != i;
    }
    EXPECT_EQ(wrong, 0);

    // A destroyed window's messages go with it; the thread's stay.
    QueueFakeMessage(WM_MOVE, 0, 0);
    PlatformMessage quit = {WM_QUIT, 0, 0};
    PushPlatformMessage(MESSAGE_QUEUE_THREAD, &quit);
    PLATFORM.window->DestroyMainWindow();
    EXPECT_EQ(PLATFORM.window->PeekMessage(MESSAGE_QUEUE_WINDOW, &m), 0);
    EXPECT_EQ(PLATFORM.window->PeekMessage(MESSAGE_QUEUE_THREAD, &m), 1);

    // The shut-down: moves arriving behind its close request do not hide it.
    ASSERT_EQ(InitLibrary(), 0);
    ArmFlood(0);
    FAKE.onPeek = MovesAfterTheClose;
    EXPECT_EQ(EndLibrary(), 0);
    FAKE.onPeek = nullptr;
    EXPECT_TRUE(FLOODED);
    EXPECT_FALSE(RESCUED) << "the close request was lost";
    EXPECT_EQ(GetMainWindowState()->destroyed, 1);

    // The pump: a focus regained right before a flood of clicks is seen.
    ASSERT_EQ(InitLibrary(), 0);
    QueueFakeMessage(WM_ACTIVATEAPP, 0, 0);
    QueueFakeMessage(WM_ACTIVATE, 0, 0);
    ArmFlood(FAKE.peekCount + 5);
    FAKE.onPeek = FocusThenClicks;
    EXPECT_EQ(ProcessWindowMessages(), 0);
    FAKE.onPeek = nullptr;
    EXPECT_TRUE(FLOODED);
    EXPECT_FALSE(RESCUED) << "the pump waited for a focus it had lost";
    EXPECT_EQ(GetMainWindowState()->active, 1);
}
