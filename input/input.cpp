// input.cpp: keyboard and joypads by polling. The keyboard is a 256-byte state
// indexed by DirectInput scan codes; pads give two axes scaled to -1000..1000
// with a 25 % dead zone and up to 24 buttons. Input is started by the library
// start-up and again on first use after something ended it.
#include <cstring>

#include "input/input.h"

#include "core/core.h"
#include "platform/platform.h"

namespace {

enum {
    AXIS_RANGE = 1000,       // scaled axis, -1000..1000
    DEAD_ZONE = 2500,        // of 10000: a quarter of the range around the centre
    NAME_SIZE = 260,
};

struct InputState {
    int started;
    int keyboardOpen;
    int padCount;                  // 0..MAX_PADS
    int padDevice[MAX_PADS + 1];   // platform device index per pad slot, -1 empty
};

InputState INPUT = {};

// Keyboard column of the pad bit set: bit, then the two scan codes that set it.
struct KeyBit {
    int bit;
    int key1, key2;
};

const KeyBit KEY_BITS[] = {
    {PAD_DOWN, DIK_DOWN, DIK_NUMPAD2},   {PAD_LEFT, DIK_LEFT, DIK_NUMPAD4},
    {PAD_RIGHT, DIK_RIGHT, DIK_NUMPAD6}, {PAD_UP, DIK_UP, DIK_NUMPAD8},
    {PAD_BUTTON1, DIK_Z, -1},            {PAD_BUTTON2, DIK_X, -1},
    {PAD_BUTTON3, DIK_C, -1},            {PAD_BUTTON4, DIK_A, -1},
    {PAD_BUTTON5, DIK_S, -1},            {PAD_BUTTON6, DIK_D, -1},
    {PAD_BUTTON7, DIK_Q, -1},            {PAD_BUTTON8, DIK_W, -1},
    {PAD_BUTTON9, DIK_ESCAPE, -1},       {PAD_BUTTON10, DIK_SPACE, -1},
};

// Raw -32768..32767 to -1000..1000; inside the dead zone 0, beyond it the rest
// of the travel spread over 1..1000 so that any movement past it counts.
int ScaleAxis(int raw) {
    if (raw < -32768) raw = -32768;
    if (raw > 32767) raw = 32767;
    int64_t magnitude = raw < 0 ? -(int64_t)raw : raw;
    int64_t full = raw < 0 ? 32768 : 32767;
    // Position in 1/10000 of the half range.
    int64_t position = magnitude * 10000 / full;
    if (position <= DEAD_ZONE) return 0;
    int64_t scaled = (position - DEAD_ZONE) * AXIS_RANGE / (10000 - DEAD_ZONE);
    if (scaled < 1) scaled = 1;
    return raw < 0 ? -(int)scaled : (int)scaled;
}

void RegisterPads(void) {
    int devices = PLATFORM.input->GetPadDeviceCount();
    for (int i = 0; i < devices && INPUT.padCount < MAX_PADS; i++) {
        WriteLog("入力装置を見つけました\n");
        char instanceName[NAME_SIZE] = "", productName[NAME_SIZE] = "";
        int result = PLATFORM.input->OpenPad(i, instanceName, productName, NAME_SIZE);
        if (result == PAD_SETUP_ERROR_OPEN) {
            WriteLog("入力装置の取得に失敗しました\n");
            continue;
        }
        IncreaseLogIndent();
        WriteLogFormat("デバイスの登録名:%s", instanceName);
        WriteLogFormat("デバイスの製品登録名:%s", productName);
        DecreaseLogIndent();
        const char* failure = nullptr;
        switch (result) {
        case PAD_SETUP_ERROR_FORMAT: failure = "ジョイパッドデバイスではありませんでした、又は設定に失敗しました\n"; break;
        case PAD_SETUP_ERROR_COOPERATION: failure = "ジョイパッドデバイスの協調レベルの設定に失敗しました\n"; break;
        case PAD_SETUP_ERROR_X_RANGE: failure = "ジョイパッドデバイスのＸ軸関係の設定に失敗しました\n"; break;
        case PAD_SETUP_ERROR_Y_RANGE: failure = "ジョイパッドデバイスのＹ軸関係の設定に失敗しました\n"; break;
        case PAD_SETUP_ERROR_X_DEADZONE: failure = "ジョイパッドデバイスのＸ軸の無効ゾーンの設定に失敗しました\n"; break;
        case PAD_SETUP_ERROR_Y_DEADZONE: failure = "ジョイパッドデバイスのＹ軸の無効ゾーンの設定に失敗しました\n"; break;
        default: break;
        }
        if (failure) {
            PLATFORM.input->ClosePad(i);
            WriteLog(failure);
            continue;
        }
        INPUT.padDevice[INPUT.padCount++] = i;
        WriteLog("ジョイパッドの追加は正常に終了しました\n");
    }
}

[[noreturn]] void FailKeyboard(const char* message) {
    PLATFORM.input->CloseKeyboard();
    PLATFORM.input->CloseInput();
    INPUT.keyboardOpen = 0;
    INPUT.started = 0;
    ExitWithError(message);
}

// The platform's key state is never "lost" to another program the way an
// acquired device can be, so a failed read is simply no keys held.
int ReadKeyboardState(uint8_t state[256]) {
    if (PLATFORM.input->ReadKeyboard(state) == 0) return 0;
    memset(state, 0, 256);
    return -1;
}

}  // namespace

int InitInput(void) {
    if (INPUT.started) return 0;
    INPUT = InputState{};
    for (int& device : INPUT.padDevice) device = -1;

    WriteLog("DirectInput関係初期化処理\n");
    IncreaseLogIndent();
    WriteLog("DirectInputオブジェクトの取得中... ");
    if (PLATFORM.input->OpenInput() != 0) {
        WriteLog("取得に失敗\n");
        return -1;
    }
    WriteLog("成功\n");
    IncreaseLogIndent();
    WriteLog("引き続き初期化処理... ");
    WriteLog("初期化成功\n");
    DecreaseLogIndent();
    INPUT.started = 1;

    PLATFORM.window->RaiseMainWindow();
    ProcessWindowMessages();

    WriteLog("ジョイパッドの初期化... \n");
    RegisterPads();
    WriteLog("ジョイパッドの初期化は正常に終了しました\n");

    WriteLog("キーボードデバイスの初期化... ");
    switch (PLATFORM.input->OpenKeyboard()) {
    case KEYBOARD_OK: break;
    case KEYBOARD_ERROR_FORMAT: FailKeyboard("キーボードデバイスのデータ形式の設定に失敗しました");
    case KEYBOARD_ERROR_COOPERATION: FailKeyboard("キーボードデバイスの協調レベルの設定に失敗しました");
    default: FailKeyboard("キーボードデバイスの取得に失敗しました");
    }
    INPUT.keyboardOpen = 1;
    WriteLog("初期化成功\n");
    DecreaseLogIndent();
    WriteLog("DirectInput 関連の初期化は正常に終了しました\n");
    return 0;
}

int EndInput(void) {
    if (!INPUT.started) return 0;
    WriteLog("DirectInput 関連の終了処理... 完了\n");
    for (int i = 0; i < INPUT.padCount; i++) {
        PLATFORM.input->ClosePad(INPUT.padDevice[i]);
        INPUT.padDevice[i] = -1;
    }
    INPUT.padCount = 0;
    if (INPUT.keyboardOpen) PLATFORM.input->CloseKeyboard();
    INPUT.keyboardOpen = 0;
    PLATFORM.input->CloseInput();
    INPUT.started = 0;
    return 0;
}

int IsKeyDown(int scanCode) {
    if (!INPUT.started) {
        if (GetMainWindowState()->closePosted) return 0;
        return InitInput();
    }
    // A program ending while in the background reads no keys: they were
    // pressed for another window.
    if (WaitForActiveWindow() != 0) return 0;
    if (scanCode < 0 || scanCode > 255) return 0;
    uint8_t state[256];
    if (ReadKeyboardState(state) != 0) return 0;
    return (state[scanCode] & 0x80) ? 1 : 0;
}

int GetPadInput(int inputSource) {
    if (WaitForActiveWindow() != 0) return 0;
    if (!INPUT.started) {
        if (GetMainWindowState()->closePosted) return 0;
        return InitInput();
    }
    int64_t pad = (int64_t)(inputSource & ~INPUT_KEY) - 1;
    if (pad < -1 || pad > 7) return 0;

    int result = 0;
    if (pad != -1 && pad < INPUT.padCount) {
        int device = INPUT.padDevice[pad];
        PlatformPadState state;
        if (PLATFORM.input->ReadPad(device, &state) == 0) {
            int x = ScaleAxis(state.x), y = ScaleAxis(state.y);
            if (y > 0) result |= PAD_DOWN;
            if (x < 0) result |= PAD_LEFT;
            if (x > 0) result |= PAD_RIGHT;
            if (y < 0) result |= PAD_UP;
            for (int i = 0; i < PLATFORM_PAD_BUTTONS; i++) {
                if (state.buttons[i] & 0x80) result |= 1 << (4 + i);
            }
        } else {
            if (ProcessWindowMessages() != 0) return -1;
            if (PLATFORM.input->ReacquirePad(device) == 0 && ProcessWindowMessages() != 0) return -1;
        }
    }

    if (inputSource & INPUT_KEY) {
        uint8_t keys[256];
        ReadKeyboardState(keys);
        for (const KeyBit& kb : KEY_BITS) {
            if ((keys[kb.key1] & 0x80) || (kb.key2 >= 0 && (keys[kb.key2] & 0x80))) result |= kb.bit;
        }
    }
    return result;
}

int GetJoypadNum(void) { return INPUT.padCount; }
