// Keyboard bits, pads with their dead zone and buttons, and input restarts.
#include <cstring>

#include "core_test_support.h"
#include "input/input.h"

namespace {

class InputTest : public FakePlatformTest {
protected:
    void Press(int code) { FAKE.keys[code] = 0x80; }
    void AddPad(const char* name, int setupResult = PAD_SETUP_OK) {
        FakePad& pad = FAKE.pads[FAKE.padCount++];
        pad.setupResult = setupResult;
        snprintf(pad.instanceName, sizeof pad.instanceName, "%s", name);
        snprintf(pad.productName, sizeof pad.productName, "%s product", name);
    }
};

}  // namespace

TEST_F(InputTest, KeyboardColumnOfThePadBits) {
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(GetPadInput(INPUT_KEY_PAD1), 0);
    Press(DIK_RIGHT);
    EXPECT_EQ(GetPadInput(INPUT_KEY_PAD1), PAD_RIGHT);
    memset(FAKE.keys, 0, sizeof FAKE.keys);
    Press(DIK_NUMPAD6);
    EXPECT_EQ(GetPadInput(INPUT_KEY_PAD1), PAD_RIGHT);
    Press(DIK_LEFT);
    EXPECT_EQ(GetPadInput(INPUT_KEY_PAD1), 0x6);
    memset(FAKE.keys, 0, sizeof FAKE.keys);

    const int keys[] = {DIK_DOWN, DIK_NUMPAD2, DIK_UP, DIK_NUMPAD8, DIK_NUMPAD4, DIK_Z, DIK_X, DIK_C,
                        DIK_A, DIK_S, DIK_D, DIK_Q, DIK_W, DIK_ESCAPE, DIK_SPACE};
    const int bits[] = {PAD_DOWN, PAD_DOWN, PAD_UP, PAD_UP, PAD_LEFT, PAD_BUTTON1, PAD_BUTTON2, PAD_BUTTON3,
                        PAD_BUTTON4, PAD_BUTTON5, PAD_BUTTON6, PAD_BUTTON7, PAD_BUTTON8, PAD_BUTTON9, PAD_BUTTON10};
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; i++) {
        memset(FAKE.keys, 0, sizeof FAKE.keys);
        Press(keys[i]);
        EXPECT_EQ(GetPadInput(0x1000), bits[i]) << "scan code " << keys[i];
    }
    // Escape is also a plain key.
    Press(DIK_ESCAPE);
    EXPECT_EQ(IsKeyDown(DIK_ESCAPE), 1);
    EXPECT_EQ(IsKeyDown(DIK_RETURN), 0);
    EXPECT_EQ(IsKeyDown(256), 0);
    EXPECT_EQ(IsKeyDown(-1), 0);
}

TEST_F(InputTest, SourcesWithoutAPadOrOutOfRange) {
    ASSERT_EQ(InitLibrary(), 0);
    Press(DIK_UP);
    EXPECT_EQ(GetPadInput(1), 0);             // pad 1 alone, no pad attached
    EXPECT_EQ(GetPadInput(0x1000), PAD_UP);   // keyboard only
    EXPECT_EQ(GetPadInput(9), 0);
    EXPECT_EQ(GetPadInput(0x1009), 0);        // pad 9 does not exist: not even the keyboard
    EXPECT_EQ(GetPadInput(-5), 0);
    EXPECT_EQ(GetPadInput(INT32_MIN), 0);
    EXPECT_EQ(GetPadInput(INT32_MIN | 0x1000), 0);
}

TEST_F(InputTest, PadAxesHaveADeadZoneAndButtonsMapToBits) {
    AddPad("Pad A");
    ASSERT_EQ(InitLibrary(), 0);
    PlatformPadState& s = FAKE.pads[0].state;

    s.x = 8000;  // 24 % of the travel: inside the dead zone
    s.y = -8000;
    EXPECT_EQ(GetPadInput(1), 0);
    s.x = 8300;  // 25.3 %: just past it
    EXPECT_EQ(GetPadInput(1), PAD_RIGHT);
    s.x = -32768;
    s.y = 32767;
    EXPECT_EQ(GetPadInput(1), PAD_LEFT | PAD_DOWN);
    s.x = 0;
    s.y = -9000;
    EXPECT_EQ(GetPadInput(1), PAD_UP);
    s.y = 0;

    for (int i = 0; i < PLATFORM_PAD_BUTTONS; i++) {
        memset(s.buttons, 0, sizeof s.buttons);
        s.buttons[i] = 0x80;
        EXPECT_EQ(GetPadInput(1), 1 << (4 + i)) << "button " << i;
    }
    s.buttons[3] = 0x7F;  // bit 7 clear: not pressed
    s.buttons[23] = 0;
    EXPECT_EQ(GetPadInput(1), 0);

    // The keyboard merges in only with the 0x1000 bit.
    s.buttons[0] = 0x80;
    Press(DIK_SPACE);
    EXPECT_EQ(GetPadInput(1), PAD_BUTTON1);
    EXPECT_EQ(GetPadInput(INPUT_KEY_PAD1), PAD_BUTTON1 | PAD_BUTTON10);
}

TEST_F(InputTest, PadsThatFailSetUpAreSkippedAndAtMostSevenKept) {
    AddPad("Broken", PAD_SETUP_ERROR_X_DEADZONE);
    AddPad("Unopenable", PAD_SETUP_ERROR_OPEN);
    for (int i = 0; i < 8; i++) AddPad("Good");
    FAKE.pads[2].state.x = 20000;  // the first good pad becomes pad 1
    FAKE.pads[8].state.y = 20000;  // the seventh good pad becomes pad 7
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(GetPadInput(1), PAD_RIGHT);
    EXPECT_EQ(GetPadInput(7), PAD_DOWN);
    EXPECT_EQ(GetPadInput(8), 0);  // the eighth good pad was never registered
    EXPECT_EQ(GetJoypadNum(), 7);
    EXPECT_EQ(CountFakeCalls("OpenPad"), 9);
    std::string log = ReadLog();
    EXPECT_NE(log.find("\t入力装置を見つけました\r\n\t\tデバイスの登録名:Broken\r\n"
                       "\t\tデバイスの製品登録名:Broken product\r\n"
                       "\tジョイパッドデバイスのＸ軸の無効ゾーンの設定に失敗しました\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("\t入力装置を見つけました\r\n\t入力装置の取得に失敗しました\r\n"), std::string::npos);
}

TEST_F(InputTest, UnreadablePadAddsNoBitsAndIsReacquired) {
    AddPad("Pad");
    ASSERT_EQ(InitLibrary(), 0);
    FAKE.pads[0].state.x = 30000;
    FAKE.pads[0].readFails = 1;
    Press(DIK_DOWN);
    EXPECT_EQ(GetPadInput(INPUT_KEY_PAD1), PAD_DOWN);
    EXPECT_EQ(CountFakeCalls("ReacquirePad"), 1);
}

TEST_F(InputTest, FirstQueryAfterEndStartsInputAgain) {
    ASSERT_EQ(InitLibrary(), 0);
    Press(DIK_ESCAPE);
    EXPECT_EQ(IsKeyDown(DIK_ESCAPE), 1);
    EndInput();
    EXPECT_EQ(IsKeyDown(DIK_ESCAPE), 0);  // this call starts input
    EXPECT_EQ(IsKeyDown(DIK_ESCAPE), 1);
    EXPECT_EQ(CountFakeCalls("OpenInput"), 2);
}

TEST_F(InputTest, UnusableKeyboardEndsTheProgram) {
    struct Case {
        int result;
        const char* message;
    } cases[] = {
        {KEYBOARD_ERROR_CREATE, "キーボードデバイスの取得に失敗しました"},
        {KEYBOARD_ERROR_FORMAT, "キーボードデバイスのデータ形式の設定に失敗しました"},
        {KEYBOARD_ERROR_COOPERATION, "キーボードデバイスの協調レベルの設定に失敗しました"},
    };
    for (const Case& c : cases) {
        FAKE.keyboardResult = c.result;
        EXPECT_EXIT({ InitLibrary(); exit(3); }, ::testing::ExitedWithCode(255), "");
        std::string log = ReadLog();
        std::string expected = std::string("キーボードデバイスの初期化... ") + c.message + "\r\n";
        EXPECT_NE(log.find(expected), std::string::npos) << c.message;
        EXPECT_NE(log.find("ソフトをエラー終了します"), std::string::npos);
    }
}

namespace {

// The pumps hold their caller while the window is in the background, so a
// query meets an inactive window only when it was made inactive between two
// pumps (by a handler or a nested wait): the test sets the state directly.
void Deactivate() { const_cast<MainWindowState*>(GetMainWindowState())->active = 0; }

int EVENT_AT = 0;
uint32_t EVENT_MESSAGE = 0;
void SendAt(int peek) {
    if (peek == EVENT_AT) QueueFakeMessage(EVENT_MESSAGE, EVENT_MESSAGE == WM_ACTIVATEAPP ? 1 : 0, 0);
}

}  // namespace

TEST_F(InputTest, QueriesWaitWhileInactiveAndGiveNothingOnceTheProgramEnds) {
    AddPad("Pad");
    ASSERT_EQ(InitLibrary(), 0);
    Press(DIK_RIGHT);
    FAKE.onPeek = SendAt;

    // In the background both queries hold the caller until the window is
    // active again, then answer.
    for (int pad = 0; pad < 2; pad++) {
        Deactivate();
        EVENT_MESSAGE = WM_ACTIVATEAPP;
        EVENT_AT = FAKE.peekCount + 30;
        int answer = pad ? GetPadInput(INPUT_KEY_PAD1) : IsKeyDown(DIK_RIGHT);
        EXPECT_EQ(answer, pad ? PAD_RIGHT : 1) << pad;
        EXPECT_GE(FAKE.peekCount, EVENT_AT) << pad << ": answered without waiting";
    }

    // A pad that cannot be read pumps before it is acquired again; the program
    // told to end there gives -1 at once.
    FAKE.pads[0].readFails = 1;
    FAKE.pads[0].reacquireFails = 1;
    QueueFakeMessage(WM_CLOSE, 0, 0);
    EXPECT_EQ(GetPadInput(INPUT_KEY_PAD1), -1);
    EXPECT_EQ(CountFakeCalls("ReacquirePad"), 0);
    EndLibrary();

    // Told to end while waiting in the background: nothing is held, and a
    // later query does not wait at all.
    ASSERT_EQ(InitLibrary(), 0);
    Deactivate();
    EVENT_MESSAGE = WM_CLOSE;
    EVENT_AT = FAKE.peekCount + 30;
    EXPECT_EQ(IsKeyDown(DIK_RIGHT), 0);
    EXPECT_GE(FAKE.peekCount, EVENT_AT);
    int peeks = FAKE.peekCount;
    EXPECT_EQ(GetPadInput(INPUT_KEY_PAD1), 0);
    EXPECT_EQ(IsKeyDown(DIK_RIGHT), 0);
    EXPECT_EQ(FAKE.peekCount, peeks);
    FAKE.onPeek = nullptr;
}
