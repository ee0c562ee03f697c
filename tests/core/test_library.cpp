// Start-up and the one shut-down sequence shared by its three paths.
#include <cstdio>

#include "core/core.h"
#include "library/library.h"
#include "core_test_support.h"

namespace {

const std::vector<std::string> SHUT_DOWN_STEPS = {
    "CloseKeyboard", "CloseInput", "PostClose", "DestroyMainWindow",
    "UnregisterWindowClass", "EndCom", "SetCurrentDir",
};

std::string CALL_DUMP_PATH;

void DumpCallsAtExit() {
    FILE* f = fopen(CALL_DUMP_PATH.c_str(), "w");
    if (!f) return;
    for (const std::string& call : FAKE.calls) fprintf(f, "%s\n", call.c_str());
    if (!FAKE.errorBoxTitle.empty()) fprintf(f, "box:%s|%s\n", FAKE.errorBoxTitle.c_str(), FAKE.errorBoxText.c_str());
    fclose(f);
}

}  // namespace

using LibraryTest = FakePlatformTest;

TEST_F(LibraryTest, EndLibraryRunsTheShutDownStepsInOrder) {
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(IsLibraryStarted(), 1);
    size_t mark = FAKE.calls.size();
    EXPECT_EQ(EndLibrary(), 0);
    EXPECT_EQ(CallsAmong(SHUT_DOWN_STEPS, mark), SHUT_DOWN_STEPS);
    EXPECT_EQ(IsLibraryStarted(), 0);
    EXPECT_EQ(ProcessWindowMessages(), -1);
    std::string log = ReadLog();
    EXPECT_NE(log.find("DirectInput 関連の終了処理... 完了\r\nウインドウを閉じようとしています\r\n"
                       "ウインドウが破棄されようとしています\r\nソフトを終了する準備が整いました\r\n"
                       "ＣＯＭを終了... 完了\r\n"),
              std::string::npos);
}

TEST_F(LibraryTest, FailedStartUpTakesTheSameStepsAndReturnsMinusOne) {
    FAKE.openInputFails = 1;
    size_t mark = FAKE.calls.size();
    EXPECT_EQ(InitLibrary(), -1);
    // Input never started, so it has nothing to close; the rest is the same.
    std::vector<std::string> expected(SHUT_DOWN_STEPS.begin() + 2, SHUT_DOWN_STEPS.end());
    EXPECT_EQ(CallsAmong(SHUT_DOWN_STEPS, mark), expected);
    EXPECT_EQ(IsLibraryStarted(), 0);
    // The failed step leaves its indentation: the shut-down lines come one level in.
    EXPECT_NE(ReadLog().find("DirectInputオブジェクトの取得中... 取得に失敗\r\n\tウインドウを閉じようとしています\r\n"),
              std::string::npos);
}

TEST_F(LibraryTest, FailingComAndWindowClassEndCleanly) {
    FAKE.startComFails = 1;
    EXPECT_EQ(InitLibrary(), -1);
    EXPECT_EQ(CountFakeCalls("CreateMainWindow"), 0);
    EXPECT_EQ(CountFakeCalls("EndCom"), 0);
    EXPECT_NE(ReadLog().find("ＣＯＭの初期化... ＣＯＭの初期化に失敗しました\r\n"), std::string::npos);

    InstallFakePlatform();
    FAKE.currentDirectory = dir;
    FAKE.registerFails = 1;
    EXPECT_EQ(InitLibrary(), -1);
    EXPECT_EQ(CountFakeCalls("CreateMainWindow"), 0);
    EXPECT_EQ(CountFakeCalls("EndCom"), 1);
    EXPECT_NE(ReadLog().find("ウインドウクラスを登録します... ウインドウクラスの登録に失敗しました\r\n"),
              std::string::npos);
}

TEST_F(LibraryTest, SecondStartUpWhileStartedFails) {
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(InitLibrary(), -1);
    EXPECT_EQ(CountFakeCalls("DestroyMainWindow"), 1);
}

TEST_F(LibraryTest, ExitWithErrorRunsTheSameStepsAndEndsWithMinusOne) {
    CALL_DUMP_PATH = dir + "/calls.txt";
    EXPECT_EXIT(
        {
            atexit(DumpCallsAtExit);
            if (InitLibrary() == 0) {
                FAKE.calls.push_back("--");
                ExitWithError("テスト用の致命的なエラー");
            }
        },
        ::testing::ExitedWithCode(255), "");

    std::string dump = ReadFile(CALL_DUMP_PATH);
    std::vector<std::string> calls;
    std::stringstream lines(dump);
    for (std::string line; std::getline(lines, line);) calls.push_back(line);
    size_t mark = 0;
    while (mark < calls.size() && calls[mark] != "--") mark++;
    ASSERT_LT(mark, calls.size());
    FAKE.calls = calls;
    std::vector<std::string> steps = SHUT_DOWN_STEPS;
    steps.push_back("ExitProcess");
    EXPECT_EQ(CallsAmong(steps, mark), steps);

    std::string log = ReadLog();
    // The screen ends first, then input.
    EXPECT_NE(log.find("テスト用の致命的なエラー\r\nDirectDraw 関連の終了処理をおこないます\r\n"), std::string::npos);
    std::string tail =
        "DirectDraw 関連の終了処理は正常に終了しました\r\nDirectInput 関連の終了処理... 完了\r\n"
        "ウインドウを閉じようとしています\r\nウインドウが破棄されようとしています\r\n"
        "ソフトを終了する準備が整いました\r\nＣＯＭを終了... 完了\r\nソフトをエラー終了します";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

// A fatal error raised by the fatal exit's own shut-down ends the process at
// once: both messages logged, the closing line once, no second shut-down.
TEST_F(LibraryTest, FatalErrorDuringTheFatalExitEndsAtOnce) {
    EXPECT_EXIT(
        {
            if (InitLibrary() == 0) {
                CoreHooks hooks = *GetCoreHooks();
                hooks.ShutDown = [] { ExitWithError("二つ目のエラー"); };
                SetCoreHooks(&hooks);
                ExitWithError("一つ目のエラー");
            }
        },
        ::testing::ExitedWithCode(255), "");
    std::string log = ReadLog();
    std::string tail = "一つ目のエラー\r\n二つ目のエラー\r\nソフトをエラー終了します";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(LibraryTest, UserCloseBeforeEndLibrarySkipsTheCloseStep) {
    ASSERT_EQ(InitLibrary(), 0);
    QueueFakeMessage(WM_CLOSE, 0, 0);
    EXPECT_EQ(ProcessWindowMessages(), -1);
    size_t mark = FAKE.calls.size();
    EXPECT_EQ(EndLibrary(), 0);
    std::vector<std::string> expected = {"CloseKeyboard", "CloseInput", "EndCom", "SetCurrentDir"};
    EXPECT_EQ(CallsAmong(SHUT_DOWN_STEPS, mark), expected);
}

TEST_F(LibraryTest, ACloseDuringStartUpWaitsForTheStartAndThenEndsTheProgram) {
    // The close button pressed while the window settles: the library still
    // starts whole, and the close comes with the program's first pump.
    FAKE.onPeek = [](int) {
        if (FAKE.hasWindow) {
            FAKE.onPeek = nullptr;
            QueueFakeMessage(WM_CLOSE, 0, 0);
        }
    };
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(IsLibraryStarted(), 1);
    EXPECT_EQ(FAKE.hasWindow, 1);
    EXPECT_EQ(ReadLog().find("ウインドウを閉じようとしています"), std::string::npos);
    // No dialog comes up for a program that is closing.
    char path[SELECT_FILE_BUFFER_SIZE] = "", title[SELECT_FILE_BUFFER_SIZE] = "";
    EXPECT_EQ(SelectFile(nullptr, 'g', path, title, "開け", "*\0*\0\0"), 0);
    EXPECT_EQ(CountFakeCalls("RunFileDialog"), 0);
    EXPECT_EQ(ProcessWindowMessages(), -1);
    EXPECT_EQ(FAKE.hasWindow, 0);
    EXPECT_EQ(EndLibrary(), 0);

    // A start-up that fails forgets the close it held, and the next start
    // holds none.
    FAKE.onPeek = [](int) {
        if (FAKE.hasWindow) {
            FAKE.onPeek = nullptr;
            QueueFakeMessage(WM_CLOSE, 0, 0);
        }
    };
    FAKE.openInputFails = 1;
    EXPECT_EQ(InitLibrary(), -1);
    FAKE.openInputFails = 0;
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(FAKE.hasWindow, 1);
    EXPECT_EQ(EndLibrary(), 0);

    // Sent to the background and closed there: the start-up does not wait
    // for the window to come back to the front (after many passes the test
    // brings it back itself, and fails).
    FAKE.peekCount = 0;
    FAKE.onPeek = [](int peek) {
        static int closed = 0;
        if (FAKE.hasWindow && !closed) {
            closed = 1;
            QueueFakeMessage(WM_ACTIVATEAPP, 0, 0);
            QueueFakeMessage(WM_CLOSE, 0, 0);
        }
        if (peek == 100000) QueueFakeMessage(WM_ACTIVATEAPP, 1, 0);
    };
    ASSERT_EQ(InitLibrary(), 0);
    FAKE.onPeek = nullptr;
    EXPECT_LT(FAKE.peekCount, 100000) << "the start-up waited for the window to come to the front";
    EXPECT_EQ(ProcessWindowMessages(), -1);
    EXPECT_EQ(FAKE.hasWindow, 0);
    EXPECT_EQ(EndLibrary(), 0);
}

TEST_F(LibraryTest, EndLibraryRestoresTheStartDirectory) {
    ASSERT_EQ(InitLibrary(), 0);
    FAKE.currentDirectory = "/somewhere/else";
    EndLibrary();
    EXPECT_EQ(FAKE.currentDirectory, dir);
}

// The processor-speed measurement busy-waits 200 ms for one log line: with the
// log off it is not made at all, and the start-up takes no clock time for it.
TEST_F(LibraryTest, NoProcessorSpeedMeasurementWithTheLogOff) {
    SetLogOutputEnabled(0);
    uint64_t counterBefore = FAKE.timeStampCounter;
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(FAKE.timeStampCounter, counterBefore) << "the time-stamp counter was read";
    EndLibrary();
    SetLogOutputEnabled(1);
    counterBefore = FAKE.timeStampCounter;
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_NE(FAKE.timeStampCounter, counterBefore);
    EXPECT_NE(ReadLog().find("ＣＰＵ動作速度："), std::string::npos);
}

TEST_F(LibraryTest, StartUpLogHasItsPhasesInOrder) {
    ASSERT_EQ(InitLibrary(), 0);
    std::string log = ReadLog();
    const char* phases[] = {
        "システムの情報を出力します\r\n\tRavlin Ver2.06b\r\n\tＯＳ  Windows ( Build 0 6.1.0-fake )\r\n"
        "\tＤｉｒｅｃｔＸ　Ver2.26\r\n\tＭＭＸ命令を使用します\r\n\tＣＰＵベンダ：FakeVendorID\r\n"
        "\tＣＰＵ名：Fake Processor 1000\r\n\tＣＰＵ動作速度：",
        "ＣＯＭの初期化... 成功しました\r\n",
        "ソフトの２重起動検査... ２重起動はされていませんでした\r\n",
        "メモリ総量:8192.00MB  空きメモリ領域:4096.00MB \r\n",
        "ソフトの実行優先レベルを上げました\r\n",
        "ウインドウクラスを登録します... 登録に成功しました\r\n",
        "ウインドウモード起動用のウインドウを作成します\r\n",
        "ＩＭＥを無効にしました\r\n",
        "タイマーの精度を検査します\r\n",
        "DirectInput関係初期化処理\r\n\tDirectInputオブジェクトの取得中... 成功\r\n"
        "\t\t引き続き初期化処理... 初期化成功\r\n\tジョイパッドの初期化... \r\n"
        "\tジョイパッドの初期化は正常に終了しました\r\n\tキーボードデバイスの初期化... 初期化成功\r\n"
        "DirectInput 関連の初期化は正常に終了しました\r\n",
        "文字コードバッファの初期化を行います... 完了しました\r\n",
    };
    size_t at = 0;
    for (const char* phase : phases) {
        size_t found = log.find(phase, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << phase;
        if (found != std::string::npos) at = found;
    }
}

TEST_F(LibraryTest, SecondInstanceEndsWithZeroBeforeAnyWindow) {
    FAKE.otherInstanceRunning = 1;
    EXPECT_EXIT(
        {
            InitLibrary();
            exit(3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_NE(ReadLog().find("ソフトの２重起動検査... ２重起動されています、ソフトを終了します\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadLog().find("ウインドウクラスを登録します"), std::string::npos);
}

TEST_F(LibraryTest, MissingMediaLayerShowsTheMessageAndEnds) {
    FAKE.canStartMediaLayer = 0;
    CALL_DUMP_PATH = dir + "/calls.txt";
    EXPECT_EXIT(
        {
            atexit(DumpCallsAtExit);
            InitLibrary();
            exit(3);
        },
        ::testing::ExitedWithCode(255), "");
    std::string log = ReadLog();
    EXPECT_NE(log.find("\tＤｉｒｅｃｔＸ　Ver0\r\n"), std::string::npos);
    EXPECT_EQ(log.find("ＣＯＭの初期化"), std::string::npos);
    std::string calls = ReadFile(CALL_DUMP_PATH);
    EXPECT_NE(calls.find("ShowErrorBox\nReportMediaLayerFailure\nExitProcess\n"), std::string::npos);
    EXPECT_EQ(calls.find("CreateMainWindow"), std::string::npos);
    EXPECT_NE(calls.find("box:エラー|DirectX がインストールされていないのでここで終了します\n"), std::string::npos);
}

TEST_F(LibraryTest, LibraryStartsAgainAfterEnding) {
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(EndLibrary(), 0);
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(ProcessWindowMessages(), 0) << "the first run's quit message must not end the second";
    EXPECT_EQ(GetMainWindowState()->quit, 0);
}
