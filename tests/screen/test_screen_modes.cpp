// Screen start-up, shut-down and mode changes: fallbacks, refusals that end
// the program, the log's order and the results of run-time changes.
#include "screen_test_support.h"

namespace {

// Lines of the log with their leading tabs, in order.
std::vector<std::string> LogLines(const std::string& log) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(log.substr(start, end - start));
    }
    if (start < log.size()) lines.push_back(log.substr(start));
    return lines;
}

// Index of the first line at or after from that equals text (tabs included), or -1.
int FindLine(const std::vector<std::string>& lines, const std::string& text, int from = 0) {
    for (int i = from; i < (int)lines.size(); i++) {
        if (lines[i] == text) return i;
    }
    return -1;
}

}  // namespace

TEST_F(ScreenTest, StartUpAndShutDownLogTheScreenInOrder) {
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(GetColorBitDepth(), 32);  // the desktop's, although 16 was asked
    EXPECT_EQ(EndLibrary(), 0);
    std::vector<std::string> lines = LogLines(ReadLog());
    const char* order[] = {
        "DirectDraw 関連の初期化を行います",
        "\tDirectDraw オブジェクトの取得を行います....  成功",
        "\t\tビデオカードドライバ:fake バージョン:1.2.3.4 ",
        "\t画面モード変更処理を開始します",
        "\t\t画面モードの変更処理を開始します 350 x 120  16 bit ",
        "\t\t\tウインドウモードにします",
        "\t\t\tA:00000000  B:00ff0000  G:0000ff00  B:000000ff",
        "\t\tDirectDraw メインサーフェスの作成を行います",
        "\t\t\t\tPrimaryBuffer : SYSTEMMEMORY  ",
        "\t\t\t\tBaskBuffer : SYSTEMMEMORY  ",
        "\t\tグラフィック管理系の初期化を行います",
        "\t\t\t３Ｄグラフィック描画機能は使用しません",
        // The one rebuild without 3D, nested.
        "\t\t\t画面モード変更処理を開始します",
        "\t\t\t\t画面モードの変更処理を開始します 350 x 120  32 bit ",
        "\t\t\t画面モード変更処理は正常に終了しました",
        "\t\tグラフィック管理系の初期化は正常に終了しました",
        "\t画面モード変更処理は正常に終了しました",
        "\tオーバーレイサーフェスは使用しません",
        "DirectDraw 関連の初期化は正常に終了しました",
        "文字コードバッファの初期化を行います... 完了しました",
        "DirectDraw 関連の終了処理をおこないます",
        "\tグラフィック管理系の終了処理は正常に終了しました",
        "\tメインサーフェスを破棄をします... 完了しました",
        "\t画面モードを元に戻す処理は正常に終了しました",
        "\tＤｉｒｅｃｔＤｒａｗオブジェクトを解放します",
        "\tＤｉｒｅｃｔＤｒａｗオブジェクトを解放しました",
        "DirectDraw 関連の終了処理は正常に終了しました",
        "DirectInput 関連の終了処理... 完了",
        "ＣＯＭを終了... 完了",
    };
    int at = 0;
    for (const char* line : order) {
        int found = FindLine(lines, line, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << line;
        at = found + 1;
    }
}

TEST_F(ScreenTest, ScreenStartsAgainAfterItsEndAndAfterAHalfBuiltExit) {
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(InitScreen(), -1);  // the device exists
    EXPECT_EQ(EndScreen(), 0);
    EXPECT_EQ(IsScreenDeviceReady(), 0);
    EXPECT_TRUE(FAKE_SCREEN.live.empty());
    EXPECT_EQ(EndScreen(), 0);  // nothing left to end
    ASSERT_EQ(InitScreen(), 0);
    SetDrawTarget(SCREEN_BACK);
    EXPECT_EQ(ClearDrawTarget(), 0);
    EXPECT_EQ(PresentScreen(), 0);
    EndLibrary();
    // No back surface: the program ends with its message, and the shut-down
    // releases what was made before, once.
    InstallFakePlatform();
    FAKE.currentDirectory = dir;
    FAKE_SCREEN.surfaceFails = 1;
    EXPECT_EXIT(InitLibrary(), ::testing::ExitedWithCode(255), "");
    std::string log = ReadLog();
    EXPECT_NE(log.find("バックサーフェスの作成に失敗しました\r\n"), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - 24), "ソフトをエラー終了します");
}

TEST_F(ScreenTest, DesktopsThatCannotHoldTheScreenEndTheProgram) {
    FAKE_SCREEN.desktopDepth = 24;
    EXPECT_EXIT(InitLibrary(), ::testing::ExitedWithCode(255), "");
    std::string log = ReadLog();
    EXPECT_NE(log.find("予期せぬ画面モード変更不能現象が起きました\r\n"), std::string::npos);

    InstallFakePlatform();
    FAKE.currentDirectory = dir;
    SetScreenMode(1100, 200, 16, 0);
    EXPECT_EXIT(InitLibrary(), ::testing::ExitedWithCode(255), "");
    EXPECT_NE(ReadLog().find("デスクトップ画面のサイズが足りません、ソフトを終了します\r\n"), std::string::npos);
}

TEST_F(ScreenTest, FullScreenFallsBackFromRefusedModes) {
    ChangeWindowMode(0);
    SetScreenMode(800, 600, 24, 0);
    ASSERT_EQ(InitLibrary(), 0);
    ScreenSettings s = GetScreenSettings();
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.height, 480);
    EXPECT_EQ(s.colorBits, 16);
    EXPECT_EQ(s.refreshRate, 0);
    EXPECT_EQ(CountFakeScreenCalls("SetDisplayMode 640 480 16 0"), 2);  // first build and the one without 3D
    EXPECT_EQ(MakeColor(255, 255, 255), 0xFFFFu);

    // A refresh rate the display refuses is dropped to 0 and tried again.
    EXPECT_EQ(SetScreenMode(640, 480, 32, 75), -1);
    EXPECT_EQ(CountFakeScreenCalls("SetDisplayMode 640 480 32 75"), 1);
    EXPECT_EQ(CountFakeScreenCalls("SetDisplayMode 640 480 32 0"), 1);
    EXPECT_EQ(GetScreenSettings().refreshRate, 0);
    EXPECT_EQ(GetColorBitDepth(), 32);
    EXPECT_EQ(SetScreenMode(800, 600, 32, 0), 0);
    EXPECT_EQ(GetScreenSettings().width, 800);

    // Refused at run time, and so is the mode before: the fallback, -2.
    FAKE_SCREEN.refuseBits = 32;
    EXPECT_EQ(SetScreenMode(1024, 768, 24, 0), -2);
    s = GetScreenSettings();
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.colorBits, 16);
    // The screen still works afterwards.
    SetDrawTarget(SCREEN_BACK);
    EXPECT_EQ(ClearDrawTarget(), 0);
    EXPECT_EQ(PresentScreen(), 0);
}

TEST_F(ScreenTest, RunTimeChangesInAWindow) {
    ASSERT_EQ(InitLibrary(), 0);
    int devices = CountFakeScreenCalls("CreateDevice");
    EXPECT_EQ(SetScreenMode(-1, -1, -1, -1), 0);
    EXPECT_EQ(CountFakeScreenCalls("CreateDevice"), devices);  // nothing rebuilt
    // The colour bits stay the desktop's: the change worked and says so.
    EXPECT_EQ(SetScreenMode(400, 200, 16, -1), 0);
    EXPECT_EQ(CountFakeScreenCalls("CreateDevice"), devices + 1);
    EXPECT_EQ(CountFakeScreenCalls("CreateClipper"), 2);
    EXPECT_EQ(FAKE_SCREEN.clipper, 1);
    int w, h;
    GetScreenSize(&w, &h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(Back()->width, 400);
    PlatformRect client;
    PLATFORM.window->GetClientRect(&client);
    EXPECT_EQ(client.right - client.left, 400);
    EXPECT_EQ(GetDrawState()->target, SCREEN_FRONT);

    // To full screen and back through the window mode.
    EXPECT_EQ(ChangeWindowMode(0), 0);
    EXPECT_EQ(FAKE_SCREEN.modeSet, 1);
    EXPECT_EQ(GetColorBitDepth(), 32);
    EXPECT_EQ(ChangeWindowMode(1), 0);
    EXPECT_EQ(FAKE_SCREEN.modeSet, 0);
    SetDrawTarget(SCREEN_BACK);
    EXPECT_EQ(PresentScreen(), 0);
}

// A full-screen program that goes to the background loses its surfaces; back
// in front, the device is made again and drawing goes on where it was.
TEST_F(ScreenTest, FullScreenRebuildsAfterGoingToTheBackground) {
    ChangeWindowMode(0);
    SetScreenMode(640, 480, 16, 0);
    ASSERT_EQ(InitLibrary(), 0);
    SetDrawTarget(SCREEN_BACK);
    int image = AddBmpData(8, 8, 0, 0, -1, 0, 0, 0, 0);
    int devices = CountFakeScreenCalls("CreateDevice");
    QueueFakeMessage(WM_ACTIVATE, 0, 0);
    QueueFakeMessage(WM_ACTIVATEAPP, 1, 0);
    QueueFakeMessage(WM_ACTIVATE, 1, 0);
    ProcessWindowMessages();
    EXPECT_EQ(GetMainWindowState()->active, 1);
    EXPECT_EQ(CountFakeScreenCalls("CreateDevice"), devices + 1);
    EXPECT_EQ(GetDrawState()->target, SCREEN_BACK);
    EXPECT_NE(GetImageSurface(image), nullptr);
    EXPECT_EQ(FAKE_SCREEN.modeSet, 1);
    EXPECT_EQ(PresentScreen(), 0);
    ReleaseImage(image);
}
