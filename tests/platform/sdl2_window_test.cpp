// sdl2_window_test.cpp: the SDL2 window, message and keyboard backends on a
// real X server (Xvfb in the test command). The window is checked from the
// outside with xwininfo and xdotool; the close button and raw key codes come
// from the x11_test_input helper. Without a display every test skips.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sdl2/sdl2_internal.h"

namespace {

const char* U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// The gate keeps video up for a window class; these tests start from none.
bool HasDisplay() {
    const char* display = getenv("DISPLAY");
    int has = display != nullptr && *display != '\0' && SDL2_SYSTEM_OPS.CanStartMediaLayer() == 1;
    ReleaseSdl2VideoHold();
    return has;
}

// Standard output of a shell command, without the last line feed.
std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    pclose(pipe);
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

// Runs an X client program; the X server turns away a few percent of
// connections made right after another client left, so a failure is retried.
int Tool(const std::string& command) {
    int status = -1;
    for (int i = 0; i < 5 && status != 0; i++) {
        if (i > 0) usleep(50000);
        status = system(command.c_str());
    }
    return status;
}

int64_t NowMs() { return (int64_t)SDL2_CLOCK_OPS.GetCounter() / 1000000; }

// The value after "field:" in xwininfo's report, or -100000 when missing.
int XwininfoField(const std::string& report, const char* field) {
    size_t at = report.find(field);
    if (at == std::string::npos) return -100000;
    return atoi(report.c_str() + at + strlen(field));
}

struct Geometry {
    int x, y, width, height;
};

Geometry ReadGeometry(const std::string& windowId) {
    std::string report = RunCommand("xwininfo -id " + windowId);
    return Geometry{XwininfoField(report, "Absolute upper-left X:"),
                    XwininfoField(report, "Absolute upper-left Y:"), XwininfoField(report, "Width:"),
                    XwininfoField(report, "Height:")};
}

// Waits up to 3 s for the X server to show the geometry; returns the last one seen.
Geometry WaitForGeometry(const std::string& windowId, Geometry want) {
    Geometry seen{};
    for (int64_t end = NowMs() + 3000; NowMs() < end;) {
        seen = ReadGeometry(windowId);
        if (memcmp(&seen, &want, sizeof want) == 0) break;
        usleep(20000);
    }
    return seen;
}

// Drains the window's queue into messages for about ms milliseconds, or until
// stop says the collection is complete.
template <typename Stop>
std::vector<PlatformMessage> Collect(int ms, Stop stop) {
    std::vector<PlatformMessage> messages;
    for (int64_t end = NowMs() + ms; NowMs() < end;) {
        PlatformMessage message;
        while (SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_WINDOW, &message)) messages.push_back(message);
        if (stop(messages)) break;
        usleep(5000);
    }
    return messages;
}

int Count(const std::vector<PlatformMessage>& messages, uint32_t id) {
    int n = 0;
    for (const PlatformMessage& m : messages) n += m.message == id;
    return n;
}

// Index of the first message with this id and wParam, or -1.
int Find(const std::vector<PlatformMessage>& messages, uint32_t id, int64_t wParam) {
    for (size_t i = 0; i < messages.size(); i++) {
        if (messages[i].message == id && messages[i].wParam == wParam) return (int)i;
    }
    return -1;
}

TEST(Sdl2Desktop, ModeIsAnsweredBeforeTheClassExists) {
    if (!HasDisplay()) GTEST_SKIP() << "needs an X display";
    int width = 0, height = 0, bits = 0;
    ASSERT_EQ(SDL2_WINDOW_OPS.GetDesktopMode(&width, &height, &bits), 0);
    std::string root;
    for (int i = 0; i < 5 && root.find("Depth:") == std::string::npos; i++) root = RunCommand("xwininfo -root 2>/dev/null");
    EXPECT_EQ(width, XwininfoField(root, "Width:"));
    EXPECT_EQ(height, XwininfoField(root, "Height:"));
    // Depth 24 is stored in 32-bit pixels: a 32-bit desktop, not a 24-bit one.
    int depth = XwininfoField(root, "Depth:");
    EXPECT_EQ(bits, depth == 24 ? 32 : depth);
    EXPECT_FALSE(IsSdl2VideoRunning()) << "the query holds SDL only while it asks";
}

class Sdl2Window : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HasDisplay()) GTEST_SKIP() << "needs an X display";
        ClearPlatformMessages();
        ASSERT_EQ(SDL2_WINDOW_OPS.RegisterWindowClass("Ravlin"), 0);
        registered_ = true;
    }
    void TearDown() override {
        if (!registered_) return;
        SDL2_WINDOW_OPS.DestroyMainWindow();
        SDL2_WINDOW_OPS.UnregisterWindowClass("Ravlin");
        EXPECT_FALSE(IsSdl2VideoRunning());
        ClearPlatformMessages();
    }

    // Creates and shows the window; its X id as text, "" when no window's name
    // matches the pattern.
    std::string Open(const char* sjisTitle, const char* namePattern, PlatformRect rect) {
        EXPECT_EQ(SDL2_WINDOW_OPS.CreateMainWindow(sjisTitle, 1, &rect), 0);
        SDL2_WINDOW_OPS.ShowMainWindow();
        for (int64_t end = NowMs() + 3000; NowMs() < end;) {
            std::string id = RunCommand(std::string("xdotool search --name '^") + namePattern + "$' 2>/dev/null | head -1");
            if (!id.empty()) return id;
            usleep(20000);
        }
        return "";
    }

    std::string Unique(const char* base) { return base + std::to_string(getpid()); }

    bool registered_ = false;
};

TEST_F(Sdl2Window, ClientAreaHasTheRequestedPlaceAndSize) {
    // A bare X server has no frames: the window rectangle is the client's.
    PlatformRect adjusted = {100, 80, 450, 200};
    SDL2_WINDOW_OPS.AdjustWindowRect(&adjusted, 1, 1);
    EXPECT_EQ(adjusted.left, 100);
    EXPECT_EQ(adjusted.top, 80);
    EXPECT_EQ(adjusted.right, 450);
    EXPECT_EQ(adjusted.bottom, 200);

    std::string title = Unique("RavlinGeometry");
    std::string id = Open(title.c_str(), title.c_str(), PlatformRect{100, 80, 450, 200});
    ASSERT_FALSE(id.empty());
    Geometry seen = WaitForGeometry(id, Geometry{100, 80, 350, 120});
    EXPECT_EQ(seen.x, 100);
    EXPECT_EQ(seen.y, 80);
    EXPECT_EQ(seen.width, 350);
    EXPECT_EQ(seen.height, 120);
    PlatformRect client, window;
    ASSERT_EQ(SDL2_WINDOW_OPS.GetClientRect(&client), 0);
    EXPECT_EQ(client.left, 100);
    EXPECT_EQ(client.top, 80);
    EXPECT_EQ(client.right, 450);
    EXPECT_EQ(client.bottom, 200);
    ASSERT_EQ(SDL2_WINDOW_OPS.GetWindowRect(&window), 0);
    EXPECT_EQ(memcmp(&window, &client, sizeof client), 0);

    // Moving and resizing: the server follows, and one WM_SIZE tells the new size.
    Collect(200, [](const std::vector<PlatformMessage>&) { return false; });
    PlatformRect moved = {200, 150, 600, 450};
    SDL2_WINDOW_OPS.MoveMainWindow(&moved);
    seen = WaitForGeometry(id, Geometry{200, 150, 400, 300});
    EXPECT_EQ(seen.x, 200);
    EXPECT_EQ(seen.y, 150);
    EXPECT_EQ(seen.width, 400);
    EXPECT_EQ(seen.height, 300);
    ASSERT_EQ(SDL2_WINDOW_OPS.GetClientRect(&client), 0);
    EXPECT_EQ(client.left, 200);
    EXPECT_EQ(client.top, 150);
    EXPECT_EQ(client.right, 600);
    EXPECT_EQ(client.bottom, 450);
    std::vector<PlatformMessage> messages = Collect(500, [](const std::vector<PlatformMessage>&) { return false; });
    ASSERT_EQ(Count(messages, WM_SIZE), 1);
    EXPECT_EQ(messages[Find(messages, WM_SIZE, 0)].lParam, 400 | (300 << 16));

    // The window procedure answers WM_SIZE by moving the window to where it is:
    // that must not bring another WM_SIZE, or the pump would never rest.
    SDL2_WINDOW_OPS.MoveMainWindow(&moved);
    messages = Collect(300, [](const std::vector<PlatformMessage>&) { return false; });
    EXPECT_EQ(Count(messages, WM_SIZE), 0);
}

// Waits up to 3 s for the window's name (as UTF-8) to be want; returns the last seen.
std::string WaitForName(const std::string& id, const std::string& want) {
    std::string name;
    for (int64_t end = NowMs() + 3000; NowMs() < end && name != want;) {
        PlatformMessage message;
        SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_WINDOW, &message);
        name = RunCommand("xdotool getwindowname " + id + " 2>/dev/null");
    }
    return name;
}

// A file dropped on the window is taken as a file to open; a later drop
// replaces an earlier one still waiting, and dropped text is no file.
TEST_F(Sdl2Window, DroppedFilesAreTakenToOpen) {
    ASSERT_NE(Open("drop", "^drop$", PlatformRect{40, 40, 240, 140}), "");
    PlatformMessage m;
    while (SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_WINDOW, &m)) {
    }
    char path[256];
    EXPECT_EQ(SDL2_WINDOW_OPS.TakeOpenedFile(path, sizeof path), 0);

    ASSERT_EQ(PushSdl2DropEvent(0, "/music/first.ogg"), 0);
    ASSERT_EQ(PushSdl2DropEvent(0, U8(u8"/music/音楽.wav")), 0);
    ASSERT_EQ(PushSdl2DropEvent(1, "/music/only text.ogg"), 0);
    while (SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_WINDOW, &m)) {
    }
    ASSERT_EQ(SDL2_WINDOW_OPS.TakeOpenedFile(path, sizeof path), 1);
    EXPECT_STREQ(path, U8(u8"/music/音楽.wav"));
    EXPECT_EQ(SDL2_WINDOW_OPS.TakeOpenedFile(path, sizeof path), 0) << "taken once";

    // A path longer than the caller's buffer is not cut into another name.
    ASSERT_EQ(PushSdl2DropEvent(0, "/music/a rather long name.ogg"), 0);
    while (SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_WINDOW, &m)) {
    }
    char small[16];
    EXPECT_EQ(SDL2_WINDOW_OPS.TakeOpenedFile(small, sizeof small), 0);
}

TEST_F(Sdl2Window, TitlesReachTheServerInUtf8) {
    // xdotool matches names in the C locale: the search key is the ASCII head.
    std::string head = Unique("RavlinTitle");
    std::string sjis = head + " Marovel ver0.001a 窓テスト";
    std::string utf8 = head + U8(u8" Marovel ver0.001a 窓テスト");
    std::string id = Open(sjis.c_str(), (head + ".*").c_str(), PlatformRect{10, 10, 360, 130});
    ASSERT_FALSE(id.empty()) << "no window named " << utf8;
    EXPECT_EQ(WaitForName(id, utf8), utf8);

    std::string sjis2 = head + " 題名の変更";
    std::string utf8b = head + U8(u8" 題名の変更");
    SDL2_WINDOW_OPS.SetWindowTitle(sjis2.c_str());
    EXPECT_EQ(WaitForName(id, utf8b), utf8b);
}

TEST_F(Sdl2Window, PostedMessagesAndTheCloseButtonComeBackThroughPeek) {
    std::string title = Unique("RavlinClose");
    std::string id = Open(title.c_str(), title.c_str(), PlatformRect{20, 20, 370, 140});
    ASSERT_FALSE(id.empty());
    Collect(200, [](const std::vector<PlatformMessage>&) { return false; });

    PlatformMessage close = {WM_CLOSE, 0, 0}, quit = {WM_QUIT, 0, 0}, message;
    SDL2_WINDOW_OPS.PostMessage(MESSAGE_QUEUE_WINDOW, &close);
    SDL2_WINDOW_OPS.PostMessage(MESSAGE_QUEUE_THREAD, &quit);
    ASSERT_EQ(SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_THREAD, &message), 1);
    EXPECT_EQ(message.message, (uint32_t)WM_QUIT);
    EXPECT_EQ(SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_THREAD, &message), 0);
    ASSERT_EQ(SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_WINDOW, &message), 1);
    EXPECT_EQ(message.message, (uint32_t)WM_CLOSE);

    // The close button of the window manager.
    ASSERT_EQ(Tool(std::string(X11_TEST_INPUT) + " close " + id), 0);
    std::vector<PlatformMessage> messages =
        Collect(3000, [](const std::vector<PlatformMessage>& m) { return Count(m, WM_CLOSE) > 0; });
    EXPECT_EQ(Count(messages, WM_CLOSE), 1);
    EXPECT_EQ(Count(messages, WM_QUIT), 0) << "the close button only asks";

    // Destroying the window drops what was queued for it, not the thread's messages.
    PlatformMessage move = {WM_MOVE, 0, 0};
    SDL2_WINDOW_OPS.PostMessage(MESSAGE_QUEUE_WINDOW, &move);
    SDL2_WINDOW_OPS.PostMessage(MESSAGE_QUEUE_THREAD, &quit);
    SDL2_WINDOW_OPS.DestroyMainWindow();
    EXPECT_EQ(SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_WINDOW, &message), 0);
    ASSERT_EQ(SDL2_WINDOW_OPS.PeekMessage(MESSAGE_QUEUE_THREAD, &message), 1);
    EXPECT_EQ(message.message, (uint32_t)WM_QUIT);
}

TEST_F(Sdl2Window, AFloodOfMouseEventsLosesNoClick) {
    std::string title = Unique("RavlinFlood");
    std::string id = Open(title.c_str(), title.c_str(), PlatformRect{25, 25, 375, 145});
    ASSERT_FALSE(id.empty());
    Collect(200, [](const std::vector<PlatformMessage>&) { return false; });

    // A close request waits in front of 900 events that arrive at once.
    PlatformMessage close = {WM_CLOSE, 0, 0};
    SDL2_WINDOW_OPS.PostMessage(MESSAGE_QUEUE_WINDOW, &close);
    for (int i = 0; i < 300; i++) {
        ASSERT_EQ(PushSdl2MouseEvent(WM_MOUSEMOVE, i, i), 0);
        ASSERT_EQ(PushSdl2MouseEvent(WM_LBUTTONDOWN, i, i), 0);
        ASSERT_EQ(PushSdl2MouseEvent(WM_LBUTTONUP, i, i), 0);
    }
    std::vector<PlatformMessage> all = Collect(500, [](const std::vector<PlatformMessage>& m) {
        return Count(m, WM_LBUTTONUP) >= 300;
    });
    std::vector<PlatformMessage> mouse;
    for (const PlatformMessage& m : all) {
        if (m.message == WM_CLOSE || m.message == WM_MOUSEMOVE || m.message == WM_LBUTTONDOWN ||
            m.message == WM_LBUTTONUP) {
            mouse.push_back(m);
        }
    }
    ASSERT_EQ(mouse.size(), 901u);
    EXPECT_EQ(mouse[0].message, (uint32_t)WM_CLOSE);
    int wrong = 0;
    for (int i = 0; i < 300; i++) {
        int64_t at = i | (i << 16);
        for (int k = 0; k < 3; k++) {
            const PlatformMessage& m = mouse[1 + 3 * i + k];
            uint32_t want = k == 0 ? WM_MOUSEMOVE : k == 1 ? WM_LBUTTONDOWN : WM_LBUTTONUP;
            wrong += m.message != want || m.lParam != at;
        }
    }
    EXPECT_EQ(wrong, 0) << "clicks out of order or moved";
}

TEST_F(Sdl2Window, FocusBecomesActivationMessages) {
    std::string title = Unique("RavlinFocus");
    std::string id = Open(title.c_str(), title.c_str(), PlatformRect{30, 30, 380, 150});
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(Tool("xdotool windowfocus --sync " + id), 0);
    std::vector<PlatformMessage> messages = Collect(
        3000, [](const std::vector<PlatformMessage>& m) { return Find(m, WM_ACTIVATE, 1) >= 0; });
    int app = Find(messages, WM_ACTIVATEAPP, 1);
    int window = Find(messages, WM_ACTIVATE, 1);
    ASSERT_GE(app, 0);
    EXPECT_EQ(window, app + 1) << "WM_ACTIVATEAPP first, then WM_ACTIVATE";

    // Focus to the root window: the window is deactivated.
    std::string root;
    for (int i = 0; i < 5 && root.empty(); i++) {
        root = RunCommand("xwininfo -root 2>/dev/null | sed -n 's/.*Window id: \\(0x[0-9a-f]*\\).*/\\1/p'");
    }
    ASSERT_FALSE(root.empty());
    ASSERT_EQ(Tool("xdotool windowfocus " + root), 0);
    messages = Collect(3000, [](const std::vector<PlatformMessage>& m) { return Find(m, WM_ACTIVATE, 0) >= 0; });
    app = Find(messages, WM_ACTIVATEAPP, 0);
    window = Find(messages, WM_ACTIVATE, 0);
    ASSERT_GE(app, 0);
    EXPECT_EQ(window, app + 1);
}

// Focuses the window and waits until SDL has it as the keyboard's focus: a key
// pressed before that is not in SDL's key state.
bool FocusForKeys(const std::string& id) {
    if (Tool("xdotool windowfocus --sync " + id) != 0) return false;
    std::vector<PlatformMessage> messages = Collect(
        3000, [](const std::vector<PlatformMessage>& m) { return Find(m, WM_ACTIVATE, 1) >= 0; });
    return Find(messages, WM_ACTIVATE, 1) >= 0;
}

// Waits up to 2 s for the key state to hold exactly the given code (or none
// at all for 0); returns the codes held at the end.
std::vector<int> WaitForKeys(int dik) {
    std::vector<int> held;
    for (int64_t end = NowMs() + 2000; NowMs() < end;) {
        uint8_t state[256];
        if (SDL2_INPUT_OPS.ReadKeyboard(state) != 0) return {-1};
        held.clear();
        for (int i = 0; i < 256; i++) {
            if (state[i] & 0x80) held.push_back(i);
        }
        if (dik == 0 ? held.empty() : held.size() == 1 && held[0] == dik) break;
        usleep(5000);
    }
    return held;
}

TEST_F(Sdl2Window, KeysSentWithXdotoolAreHeldUnderTheirCodes) {
    std::string title = Unique("RavlinKeys");
    std::string id = Open(title.c_str(), title.c_str(), PlatformRect{40, 40, 390, 160});
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(SDL2_INPUT_OPS.OpenKeyboard(), KEYBOARD_OK);
    ASSERT_TRUE(FocusForKeys(id));

    struct Key {
        const char* name;  // xdotool's key name
        int dik;
    };
    const Key keys[] = {
        {"Right", 0xCD}, {"Left", 0xCB}, {"Up", 0xC8}, {"Down", 0xD0}, {"Escape", 0x01},
        {"Return", 0x1C}, {"KP_Down", 0x50}, {"KP_Left", 0x4B}, {"KP_Right", 0x4D},
        {"KP_Up", 0x48}, {"space", 0x39}, {"z", 0x2C}, {"x", 0x2D}, {"c", 0x2E},
    };
    for (const Key& key : keys) {
        ASSERT_EQ(Tool(std::string("xdotool keydown ") + key.name), 0);
        std::vector<int> held = WaitForKeys(key.dik);
        ASSERT_EQ(Tool(std::string("xdotool keyup ") + key.name), 0);
        ASSERT_EQ(held.size(), 1u) << key.name;
        EXPECT_EQ(held[0], key.dik) << key.name;
        EXPECT_TRUE(WaitForKeys(0).empty()) << key.name << " released";
    }
    // Both arrows at once.
    ASSERT_EQ(Tool("xdotool keydown Left keydown Right"), 0);
    std::vector<int> held;
    for (int64_t end = NowMs() + 2000; NowMs() < end && held.size() != 2;) {
        uint8_t state[256];
        ASSERT_EQ(SDL2_INPUT_OPS.ReadKeyboard(state), 0);
        held.clear();
        for (int i = 0; i < 256; i++) {
            if (state[i] & 0x80) held.push_back(i);
        }
    }
    ASSERT_EQ(Tool("xdotool keyup Left keyup Right"), 0);
    EXPECT_EQ(held, (std::vector<int>{0xCB, 0xCD}));
}

TEST_F(Sdl2Window, EveryKeyCodeOfThePcKeyboardReadsAsItsDirectInputCode) {
    // The X server's key codes are the kernel's plus 8, and for the keys of the
    // original PC keyboard the kernel's codes are the DirectInput codes. The rest
    // are listed by hand.
    struct Key {
        int kernel;  // Linux input key code
        int dik;
    };
    std::vector<Key> keys;
    for (int code = 1; code <= 88; code++) {
        // 84 is no key; 85 (hankaku/zenkaku) is Mode_switch in the server's US
        // keymap (a Japanese PC keyboard sends the key at 41 instead).
        if (code == 84 || code == 85) continue;
        keys.push_back(Key{code, code});
    }
    const Key extended[] = {
        {96, 0x9C},   // keypad Enter
        {97, 0x9D},   // right Ctrl
        {98, 0xB5},   // keypad /
        {99, 0xB7},   // SysRq / Print Screen
        {100, 0xB8},  // right Alt
        {102, 0xC7}, {103, 0xC8}, {104, 0xC9}, {105, 0xCB}, {106, 0xCD},
        {107, 0xCF}, {108, 0xD0}, {109, 0xD1}, {110, 0xD2}, {111, 0xD3},
        {119, 0xC5},  // Pause
        {125, 0xDB}, {126, 0xDC}, {127, 0xDD},  // Windows keys, Apps
        {89, 0x73},   // ro
        {92, 0x79},   // henkan
        {93, 0x70},   // katakana/hiragana
        {94, 0x7B},   // muhenkan
        {124, 0x7D},  // yen
    };
    keys.insert(keys.end(), std::begin(extended), std::end(extended));

    std::string title = Unique("RavlinKeyCodes");
    std::string id = Open(title.c_str(), title.c_str(), PlatformRect{50, 50, 400, 170});
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(FocusForKeys(id));
    std::string tool = X11_TEST_INPUT;
    for (const Key& key : keys) {
        std::string code = std::to_string(key.kernel + 8);
        ASSERT_EQ(Tool(tool + " key " + code + " down"), 0);
        std::vector<int> held = WaitForKeys(key.dik);
        ASSERT_EQ(Tool(tool + " key " + code + " up"), 0);
        // Lock keys toggle a lock; a second press puts it back.
        if (key.kernel == 58 || key.kernel == 69 || key.kernel == 70) {
            Tool(tool + " key " + code + " down");
            Tool(tool + " key " + code + " up");
        }
        EXPECT_EQ(held, std::vector<int>{key.dik}) << "kernel key code " << key.kernel;
        WaitForKeys(0);
    }
}

}  // namespace
