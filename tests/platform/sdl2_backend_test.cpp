// sdl2_backend_test.cpp: the SDL2/Linux backends where no window is needed:
// the key table, text conversion, diagnostics on standard error, the
// single-instance claim, the media-layer gate, clocks, processor facts and
// joypads (SDL's virtual joystick).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sdl2/sdl2_internal.h"
#include "platform/unix/hand_over.h"

namespace {

const char* U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Runs body with standard error sent to a temporary file; returns what it wrote.
template <typename Body>
std::string CaptureStderr(Body body) {
    fflush(stderr);
    char path[] = "/tmp/sdl2_stderr_XXXXXX";
    int file = mkstemp(path);
    int saved = dup(2);
    dup2(file, 2);
    body();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text;
    char buffer[4096];
    lseek(file, 0, SEEK_SET);
    for (ssize_t n; (n = read(file, buffer, sizeof buffer)) > 0;) text.append(buffer, (size_t)n);
    close(file);
    unlink(path);
    return text;
}

int MapName(const char* name, int japanese = 0) {
    int scancode = GetSdl2ScancodeByName(name);
    EXPECT_NE(scancode, 0) << "SDL knows no key " << name;
    return MapSdl2ScancodeToDik(scancode, japanese);
}

// ---- Key table ----

TEST(Sdl2KeyTable, EachDirectInputCodeHasAtMostOneKeyInBothLayouts) {
    for (int japanese = 0; japanese <= 1; japanese++) {
        int owner[256];
        for (int& o : owner) o = -1;
        for (int scancode = 0; scancode < GetSdl2ScancodeCount(); scancode++) {
            int dik = MapSdl2ScancodeToDik(scancode, japanese);
            ASSERT_GE(dik, 0);
            ASSERT_LT(dik, 256);
            if (dik == 0) continue;
            EXPECT_EQ(owner[dik], -1) << "code 0x" << std::hex << dik << " has scancodes " << std::dec
                                      << owner[dik] << " and " << scancode << " (layout "
                                      << japanese << ")";
            owner[dik] = scancode;
        }
    }
}

TEST(Sdl2KeyTable, KeysOfTheStandardKeyboardsMapToTheirCodes) {
    struct Expected {
        const char* name;
        int dik;
    };
    // Keys the library reads, then the rest of a 104-key keyboard with numeric pad.
    const Expected keys[] = {
        {"Right", 0xCD}, {"Left", 0xCB}, {"Up", 0xC8}, {"Down", 0xD0},
        {"Escape", 0x01}, {"Return", 0x1C}, {"Space", 0x39},
        {"Keypad 2", 0x50}, {"Keypad 4", 0x4B}, {"Keypad 6", 0x4D}, {"Keypad 8", 0x48},
        {"Z", 0x2C}, {"X", 0x2D}, {"C", 0x2E}, {"A", 0x1E}, {"S", 0x1F}, {"D", 0x20},
        {"Q", 0x10}, {"W", 0x11},
        {"1", 0x02}, {"0", 0x0B}, {"-", 0x0C}, {"=", 0x0D}, {"Backspace", 0x0E}, {"Tab", 0x0F},
        {"P", 0x19}, {"[", 0x1A}, {"]", 0x1B}, {"Left Ctrl", 0x1D}, {"L", 0x26}, {";", 0x27},
        {"'", 0x28}, {"`", 0x29}, {"Left Shift", 0x2A}, {"\\", 0x2B}, {"M", 0x32}, {",", 0x33},
        {".", 0x34}, {"/", 0x35}, {"Right Shift", 0x36}, {"Keypad *", 0x37}, {"Left Alt", 0x38},
        {"CapsLock", 0x3A}, {"F1", 0x3B}, {"F10", 0x44}, {"Numlock", 0x45}, {"ScrollLock", 0x46},
        {"Keypad 7", 0x47}, {"Keypad 9", 0x49}, {"Keypad -", 0x4A}, {"Keypad 5", 0x4C},
        {"Keypad +", 0x4E}, {"Keypad 1", 0x4F}, {"Keypad 3", 0x51}, {"Keypad 0", 0x52},
        {"Keypad .", 0x53}, {"F11", 0x57}, {"F12", 0x58}, {"F13", 0x64}, {"F14", 0x65},
        {"F15", 0x66}, {"Keypad Enter", 0x9C}, {"Right Ctrl", 0x9D}, {"Keypad /", 0xB5},
        {"PrintScreen", 0xB7}, {"Right Alt", 0xB8}, {"Pause", 0xC5}, {"Home", 0xC7},
        {"PageUp", 0xC9}, {"End", 0xCF}, {"PageDown", 0xD1}, {"Insert", 0xD2}, {"Delete", 0xD3},
        {"Left GUI", 0xDB}, {"Right GUI", 0xDC}, {"Application", 0xDD},
    };
    for (const Expected& key : keys) {
        EXPECT_EQ(MapName(key.name), key.dik) << key.name;
    }
    // Letters and digits all have codes (a complete table, not the player's few).
    const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (const char* p = letters; *p != '\0'; p++) {
        char name[2] = {*p, '\0'};
        EXPECT_NE(MapName(name), 0) << name;
    }
}

TEST(Sdl2KeyTable, JapaneseKeysHaveTheirCodes) {
    int found[256] = {};
    for (int scancode = 0; scancode < GetSdl2ScancodeCount(); scancode++) {
        found[MapSdl2ScancodeToDik(scancode, 0)] = 1;
    }
    // Kana, ro, henkan, muhenkan, yen, hankaku/zenkaku.
    for (int dik : {0x70, 0x73, 0x79, 0x7B, 0x7D, 0x94}) EXPECT_TRUE(found[dik]) << std::hex << dik;
    // A Japanese layout names the keys at = [ ' as ^ @ : with codes of their own.
    EXPECT_EQ(MapName("=", 1), 0x90);
    EXPECT_EQ(MapName("[", 1), 0x91);
    EXPECT_EQ(MapName("'", 1), 0x92);
    EXPECT_EQ(MapName("Right", 1), 0xCD);
}

// ---- Texts ----

TEST(Sdl2Text, JapaneseMessageRoundTripsThroughUtf8) {
    // "ソ" and "表" carry 0x5C as their second Shift-JIS byte.
    const char* sjis = "ソフトをエラー終了します 表示 ｶﾀｶﾅ ＣＯＭ";
    const char* utf8 = U8(u8"ソフトをエラー終了します 表示 ｶﾀｶﾅ ＣＯＭ");
    char converted[256];
    int length = ConvertSjisToUtf8(sjis, converted, sizeof converted);
    EXPECT_STREQ(converted, utf8);
    EXPECT_EQ(length, (int)strlen(utf8));
    char back[256];
    ConvertUtf8ToSjis(converted, back, sizeof back);
    EXPECT_STREQ(back, sjis);
}

TEST(Sdl2Text, ShortBufferKeepsWholeCharacters) {
    char out[8];
    ConvertSjisToUtf8("ＣＯＭの初期化", out, sizeof out);
    EXPECT_STREQ(out, U8(u8"ＣＯ"));  // 6 bytes; a third 3-byte character would not fit
}

// ---- Diagnostics ----

TEST(Sdl2Diagnostics, DebugOutputReachesStandardErrorAsUtf8) {
    std::string text = CaptureStderr([] { SDL2_SYSTEM_OPS.WriteDebugOutput("ＣＯＭの初期化... 成功\n"); });
    EXPECT_EQ(text, U8(u8"ＣＯＭの初期化... 成功\n"));
}

TEST(Sdl2Diagnostics, LongDebugOutputIsWrittenWhole) {
    std::string sjis, utf8;
    for (int i = 0; i < 2000; i++) {
        sjis += "漢";
        utf8 += U8(u8"漢");
    }
    std::string text = CaptureStderr([&] { SDL2_SYSTEM_OPS.WriteDebugOutput(sjis.c_str()); });
    EXPECT_EQ(text, utf8);
}

TEST(Sdl2Diagnostics, ErrorBoxWithoutDisplayStillWritesStandardError) {
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            SDL2_SYSTEM_OPS.ShowErrorBox("エラー", "DirectX がインストールされていないのでここで終了します");
            exit(0);
        },
        ::testing::ExitedWithCode(0),
        U8(u8"エラー: DirectX がインストールされていないのでここで終了します\n"));
}

// ---- Single instance ----

// A name of our own, so that concurrent test runs never meet.
std::string InstanceName(const char* what) {
    return std::string("RavlinTest-") + what + "-" + std::to_string(getpid());
}

TEST(Sdl2Instance, HolderIsSeenUntilItDies) {
    std::string name = InstanceName("claim");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        char answer = (char)('0' + SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()));
        (void)!write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, '0') << "the first claim succeeds";
    EXPECT_EQ(SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()), 1);
    EXPECT_EQ(SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()), 1) << "asking twice changes nothing";

    // A crash leaves nothing behind.
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()), 0);
    EXPECT_EQ(SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()), 0) << "the holder asking again";

    // Now this process holds it: a child (which inherits the socket) sees it taken.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()) == 1 ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(ready[0]);
    close(ready[1]);
}

TEST(Sdl2Instance, ProgramsStartedByTheHolderDoNotKeepTheClaim) {
    std::string name = InstanceName("exec");
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        // Claims, starts a long-running program, and dies before it.
        if (SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()) != 0) _exit(1);
        // The pipe closes in the child when exec succeeds: until then the
        // child still holds the socket like any forked process.
        int execed[2];
        if (pipe2(execed, O_CLOEXEC) != 0) _exit(1);
        pid_t sleeper = fork();
        if (sleeper == 0) {
            execl("/bin/sleep", "sleep", "30", (char*)nullptr);
            _exit(127);
        }
        close(execed[1]);
        char byte;
        (void)!read(execed[0], &byte, 1);
        (void)!write(report[1], &sleeper, sizeof sleeper);
        _exit(0);
    }
    pid_t sleeper = 0;
    ASSERT_EQ(read(report[0], &sleeper, sizeof sleeper), (ssize_t)sizeof sleeper);
    int status = 0;
    waitpid(holder, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()), 0)
        << "the claim died with its holder although its child still runs";
    kill(sleeper, SIGKILL);
    close(report[0]);
    close(report[1]);
}

// The claim belongs to one program on one display: a claim held on display :91
// refuses a start on :91 and on :91.0 (another screen of it), not on :92.
TEST(Sdl2Instance, ClaimIsPerDisplay) {
    std::string name = InstanceName("display");
    auto claimOn = [&](const char* display, int* ready) {
        pid_t child = fork();
        if (child == 0) {
            setenv("DISPLAY", display, 1);
            char answer = (char)('0' + SDL2_WINDOW_OPS.IsOtherInstanceRunning(name.c_str()));
            if (ready == nullptr) _exit(answer - '0');
            (void)!write(ready[1], &answer, 1);
            pause();
            _exit(0);
        }
        return child;
    };
    auto exitCode = [](pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = claimOn(":91", ready);
    ASSERT_GT(holder, 0);
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, '0');
    EXPECT_EQ(exitCode(claimOn(":91", nullptr)), 1) << "same display";
    EXPECT_EQ(exitCode(claimOn(":91.0", nullptr)), 1) << "another screen of the same display";
    EXPECT_EQ(exitCode(claimOn(":92", nullptr)), 0) << "another display";
    EXPECT_EQ(exitCode(claimOn(":910", nullptr)), 0) << "a display whose number starts alike";
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);

    // The program's own name and the display are in the claim's name.
    const char* was = getenv("DISPLAY");
    std::string saved = was != nullptr ? was : "";
    setenv("DISPLAY", ":91.0", 1);
    char formatted[108];
    FormatInstanceName("Ravlin", formatted, sizeof formatted);
    if (was != nullptr) setenv("DISPLAY", saved.c_str(), 1); else unsetenv("DISPLAY");
    EXPECT_EQ(std::string(formatted), "Ravlin-sdl2_backend_test-:91");
}

// A folder of the test's own for claims, standing for $XDG_RUNTIME_DIR (or,
// with private 0, a folder anybody may write, as /tmp): set in the
// environment until the end of the scope.
struct ClaimFolder {
    std::string path, oldRuntime, oldTemp;
    bool hadRuntime, hadTemp;
    explicit ClaimFolder(int privateToUser) {
        char pattern[] = "/tmp/ravlin-claims-XXXXXX";
        path = mkdtemp(pattern);
        chmod(path.c_str(), privateToUser ? 0700 : 01777);
        const char* runtime = getenv("XDG_RUNTIME_DIR");
        const char* temp = getenv("TMPDIR");
        hadRuntime = runtime != nullptr;
        hadTemp = temp != nullptr;
        oldRuntime = hadRuntime ? runtime : "";
        oldTemp = hadTemp ? temp : "";
        if (privateToUser) {
            setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
            setenv("TMPDIR", path.c_str(), 1);
        }
    }
    ~ClaimFolder() {
        if (hadRuntime) setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1); else unsetenv("XDG_RUNTIME_DIR");
        if (hadTemp) setenv("TMPDIR", oldTemp.c_str(), 1); else unsetenv("TMPDIR");
        (void)!system(("rm -rf '" + path + "'").c_str());
    }
};

std::string ClaimSocket(const std::string& claim) {
    char path[108];
    return FormatInstanceSocketPath(claim.c_str(), path, sizeof path) == 0 ? path : "";
}

// ---- Files handed over through the claim ----

// Connects to a claim's socket as a later start would and sends bytes; then
// waits for the holder to close its end. Runs in a child, so that a holder
// that stops reading blocks only the child. With asNobody the child first
// becomes the user nobody. Returns the child's pid; it ends with 3 when it
// could not connect.
pid_t SendToClaim(const std::string& claim, const std::string& bytes, int asNobody, int finish) {
    std::string socketPath = ClaimSocket(claim);
    pid_t child = fork();
    if (child != 0) return child;
    if (asNobody && (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)) _exit(2);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0) _exit(3);
    for (size_t sent = 0; sent < bytes.size();) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the holder gave up on us
        sent += (size_t)n;
    }
    if (finish) shutdown(fd, SHUT_WR);
    char byte;
    while (read(fd, &byte, 1) > 0) {
    }
    _exit(0);
}

// A later start's own hand-over, in a child: it ends with 0 when the holder
// said it has the file.
pid_t HandOverInChild(const std::string& claim, const std::string& path) {
    pid_t child = fork();
    if (child != 0) return child;
    _exit(SDL2_WINDOW_OPS.HandOverFile(claim.c_str(), path.c_str()) == 0 ? 0 : 1);
}

int ExitCode(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Polls the holder's side until the child has ended; every file taken
// meanwhile. The child's exit code goes to *code when asked for.
std::vector<std::string> TakeWhileRunning(pid_t child, int* code = nullptr) {
    std::vector<std::string> taken;
    char path[4096];
    for (;;) {
        int status = 0;
        int ended = waitpid(child, &status, WNOHANG) == child;
        // Once the child is gone all it sent is there to read: one more pass takes it.
        while (SDL2_WINDOW_OPS.TakeOpenedFile(path, sizeof path) == 1) taken.push_back(path);
        if (ended) {
            int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            // A sender that never reached the claim would prove nothing.
            if (code != nullptr) {
                *code = exitCode;
            } else {
                EXPECT_EQ(exitCode, 0) << "the sender failed";
            }
            return taken;
        }
        usleep(1000);
    }
}

TEST(Sdl2HandOver, OnlyAWholeAbsolutePathOfTheSameUserIsTakenAndAnswered) {
    ClaimFolder folder(1);
    std::string claim = InstanceName("handover");
    ASSERT_EQ(SDL2_WINDOW_OPS.IsOtherInstanceRunning(claim.c_str()), 0);
    char path[4096];
    EXPECT_EQ(SDL2_WINDOW_OPS.TakeOpenedFile(path, sizeof path), 0) << "nothing came yet";

    // A later start's own call: the path arrives whole, once, and the sender
    // hears that it did.
    std::vector<std::string> taken = TakeWhileRunning(HandOverInChild(claim, "/music/a b.ogg"));
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0], "/music/a b.ogg");
    EXPECT_EQ(SDL2_WINDOW_OPS.TakeOpenedFile(path, sizeof path), 0);
    EXPECT_EQ(SDL2_WINDOW_OPS.HandOverFile(claim.c_str(), "music/relative.ogg"), -1) << "made absolute by the sender";
    EXPECT_EQ(SDL2_WINDOW_OPS.HandOverFile(InstanceName("nobody-holds").c_str(), "/music/x.ogg"), -1);

    // A holder that never answers is a failed hand-over, not a sent one.
    pid_t silent = HandOverInChild(claim, "/music/unanswered.ogg");
    EXPECT_EQ(ExitCode(silent), 1);
    SDL2_WINDOW_OPS.TakeOpenedFile(path, sizeof path);  // what it sent is taken late

    // Random bytes from a fixed seed, so that every run sends the same.
    std::string random(65536, '\0');
    uint32_t seed = 12345;
    for (char& c : random) {
        seed = seed * 1103515245u + 12345u;
        c = (char)(seed >> 16);
    }
    std::string longest = "/" + std::string(4094, 'a');  // with its zero byte: PATH_MAX bytes
    struct Case {
        const char* what;
        std::string bytes;
        int finish;
        const char* taken;  // null: nothing
    } cases[] = {
        {"1 MB", "/" + std::string(1 << 20, 'a') + std::string(1, '\0'), 1, nullptr},
        {"random bytes", random, 1, nullptr},
        {"random bytes after a slash", "/" + random, 1, nullptr},
        {"a path without its zero byte", "/music/x.ogg", 1, nullptr},
        {"a zero byte inside", std::string("/music/x\0y.ogg\0", 15), 1, nullptr},
        {"bytes after the path", std::string("/music/x.ogg\0more", 17), 1, nullptr},
        {"a relative path", std::string("music/x.ogg\0", 12), 1, nullptr},
        {"nothing at all", "", 1, nullptr},
        {"one byte over the bound", "/" + std::string(4095, 'a') + std::string(1, '\0'), 1, nullptr},
        {"the longest path", longest + std::string(1, '\0'), 1, nullptr},
        {"a sender that never finishes", std::string("/music/x.ogg\0", 13), 0, nullptr},
    };
    cases[9].taken = longest.c_str();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> got = TakeWhileRunning(SendToClaim(claim, c.bytes, 0, c.finish));
        if (c.taken == nullptr) {
            EXPECT_TRUE(got.empty()) << got.size() << " taken, the first " << got[0].size() << " bytes";
        } else {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0], c.taken);
        }
    }

    // Another user cannot even reach the claim's folder.
    if (getuid() == 0) {
        int code = -1;
        std::vector<std::string> got = TakeWhileRunning(SendToClaim(claim, std::string("/music/x.ogg\0", 13), 1, 1), &code);
        EXPECT_EQ(code, 3) << "another user reached the claim";
        EXPECT_TRUE(got.empty()) << "another user's file was taken";
    } else {
        printf("not run as root: another user is left to the player's end-to-end test\n");
    }

    // A sender that stalls holds up nobody else, and the channel serves on.
    pid_t stalled = SendToClaim(claim, "/music/sta", 0, 0);
    pid_t after = HandOverInChild(claim, "/music/after.ogg");
    taken = TakeWhileRunning(after);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0], "/music/after.ogg");
    taken = TakeWhileRunning(stalled);
    EXPECT_TRUE(taken.empty());
}

// Six starts hand their files over while the holder is busy: they come out in
// the order the senders connected, more of them than the channel serves at once.
TEST(Sdl2HandOver, FilesComeInTheOrderTheirSendersConnected) {
    ClaimFolder folder(1);
    std::string claim = InstanceName("order");
    ASSERT_EQ(SDL2_WINDOW_OPS.IsOtherInstanceRunning(claim.c_str()), 0);
    std::vector<pid_t> senders;
    for (int i = 1; i <= 6; i++) {
        senders.push_back(HandOverInChild(claim, "/music/h" + std::to_string(i) + ".ogg"));
        usleep(100 * 1000);  // each one connected before the next starts
    }
    std::vector<std::string> taken;
    char path[4096];
    for (int polls = 0; polls < 3000 && taken.size() < 6; polls++) {
        while (SDL2_WINDOW_OPS.TakeOpenedFile(path, sizeof path) == 1) taken.push_back(path);
        usleep(1000);
    }
    for (pid_t sender : senders) EXPECT_EQ(ExitCode(sender), 0) << "a sender got no answer";
    std::vector<std::string> expected;
    for (int i = 1; i <= 6; i++) expected.push_back("/music/h" + std::to_string(i) + ".ogg");
    EXPECT_EQ(taken, expected);
}

// A listener of the user nobody at a socket path, in a child: it says when it
// listens, and whether a byte ever reached it. With bindAsThisUser the socket
// is bound before the child becomes nobody (root may put it anywhere); the
// credentials a peer sees are those of the listen.
struct NobodysListener {
    pid_t pid = -1;
    int heard[2] = {-1, -1};

    bool Start(const std::string& socketPath, int bindAsThisUser) {
        if (pipe(heard) != 0) return false;
        pid = fork();
        if (pid == 0) {
            int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            struct sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
            if (bindAsThisUser && bind(fd, (struct sockaddr*)&address, sizeof address) != 0) _exit(3);
            if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(2);
            if (!bindAsThisUser && bind(fd, (struct sockaddr*)&address, sizeof address) != 0) _exit(3);
            if (listen(fd, 4) != 0) _exit(4);
            (void)!write(heard[1], "r", 1);
            int client = accept(fd, nullptr, nullptr);
            char byte;
            if (client >= 0 && read(client, &byte, 1) == 1) (void)!write(heard[1], "x", 1);
            _exit(0);
        }
        char ready = 0;
        return pid > 0 && read(heard[0], &ready, 1) == 1;
    }
    // Ends it; true when a byte reached it.
    bool Heard() {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(heard[1]);
        char got = 0;
        bool any = read(heard[0], &got, 1) == 1 && got == 'x';
        close(heard[0]);
        return any;
    }
};

// The claim's folder must be the user's own: a runtime folder others may
// enter is not used, a shared temporary folder gets one of the user's own, and
// one that another user made there is refused; the start then runs on its own
// and nothing it has goes to that user.
TEST(Sdl2HandOver, AFolderOthersCanReachIsNeverUsed) {
    ClaimFolder shared(0);
    std::string claim = InstanceName("folders");
    std::string own = shared.path + "/ravlin-" + std::to_string(getuid());

    setenv("XDG_RUNTIME_DIR", shared.path.c_str(), 1);  // 1777: open to all
    ASSERT_EQ(SDL2_WINDOW_OPS.IsOtherInstanceRunning(claim.c_str()), 0);
    unsetenv("XDG_RUNTIME_DIR");
    struct stat st;
    ASSERT_EQ(lstat(own.c_str(), &st), 0) << "no folder of the user's own was made";
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(ClaimSocket(claim).rfind(own + "/", 0), 0u) << ClaimSocket(claim);

    if (getuid() != 0) {
        printf("not run as root: another user's folder is not tried here\n");
        return;
    }
    // Another user's folder under the user's name, with a listener of that
    // user's in it under the claim's name.
    ASSERT_EQ(system(("rm -rf '" + own + "'").c_str()), 0);
    ASSERT_EQ(mkdir(own.c_str(), 0777), 0);
    ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(own.c_str(), 0777), 0);
    char name[108];
    FormatInstanceName(claim.c_str(), name, sizeof name);
    NobodysListener listener;
    ASSERT_TRUE(listener.Start(own + "/" + name + ".sock", 0));
    std::string refused = CaptureStderr([&] {
        pid_t other = fork();
        if (other == 0) _exit(SDL2_WINDOW_OPS.IsOtherInstanceRunning(claim.c_str()) == 0 &&
                                       SDL2_WINDOW_OPS.HandOverFile(claim.c_str(), "/music/secret.ogg") == -1
                                   ? 0
                                   : 1);
        EXPECT_EQ(ExitCode(other), 0) << "the start did not run on its own";
    });
    EXPECT_NE(refused.find("is not a folder of this user's own"), std::string::npos) << refused;
    EXPECT_FALSE(listener.Heard()) << "a byte reached the other user";
}

// The sender asks who listens before it says anything: a listener of another
// user (here one that root let take the socket in the user's own folder) hears nothing.
TEST(Sdl2HandOver, TheSenderTellsNothingToAListenerOfAnotherUser) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to stand for another user";
    ClaimFolder folder(1);
    std::string claim = InstanceName("listener");
    NobodysListener listener;
    ASSERT_TRUE(listener.Start(ClaimSocket(claim), 1));
    EXPECT_EQ(SDL2_WINDOW_OPS.HandOverFile(claim.c_str(), "/music/secret.ogg"), -1);
    EXPECT_FALSE(listener.Heard()) << "a byte reached the other user";
}

// ---- Media layer gate ----

TEST(Sdl2Gate, NoDisplayMeansNoMediaLayer) {
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            // SDL's own search would end in its offscreen driver, which always starts.
            unsetenv("SDL_VIDEODRIVER");
            int can = SDL2_SYSTEM_OPS.CanStartMediaLayer();
            exit(can == 0 && !IsSdl2VideoRunning() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The gate keeps video up for the window class (opening the display again
// costs time); the class takes it over, and ending the class ends video.
TEST(Sdl2Gate, DisplayMeansMediaLayerAndItsVideoPassesToTheClass) {
    const char* display = getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "no X display";
    EXPECT_EQ(SDL2_SYSTEM_OPS.CanStartMediaLayer(), 1);
    EXPECT_TRUE(IsSdl2VideoRunning());
    ASSERT_EQ(SDL2_WINDOW_OPS.RegisterWindowClass("Ravlin"), 0);
    SDL2_WINDOW_OPS.UnregisterWindowClass("Ravlin");
    EXPECT_FALSE(IsSdl2VideoRunning()) << "the gate's hold outlived the class";
    EXPECT_EQ(SDL2_SYSTEM_OPS.CanStartMediaLayer(), 1);
    ReleaseSdl2VideoHold();
    EXPECT_FALSE(IsSdl2VideoRunning());
    int major = 0, minor = 0, patch = 0;
    SDL2_SYSTEM_OPS.GetMediaLayerVersion(&major, &minor, &patch);
    EXPECT_EQ(major, 2);
}

// ---- System facts ----

TEST(Sdl2System, CurrentDirectoryAndMachineFacts) {
    char saved[1024];
    ASSERT_EQ(SDL2_SYSTEM_OPS.GetCurrentDir(saved, sizeof saved), 0);
    ASSERT_EQ(SDL2_SYSTEM_OPS.SetCurrentDir("/"), 0);
    char now[1024];
    ASSERT_EQ(SDL2_SYSTEM_OPS.GetCurrentDir(now, sizeof now), 0);
    EXPECT_STREQ(now, "/");
    EXPECT_EQ(SDL2_SYSTEM_OPS.SetCurrentDir("/nonexistent/ravlin"), -1);
    char tiny[1];
    EXPECT_EQ(SDL2_SYSTEM_OPS.GetCurrentDir(tiny, sizeof tiny), -1) << "a too small buffer fails";
    ASSERT_EQ(SDL2_SYSTEM_OPS.SetCurrentDir(saved), 0);

    double total = 0, available = 0;
    ASSERT_EQ(SDL2_SYSTEM_OPS.GetMemoryStatus(&total, &available), 0);
    EXPECT_GT(total, 64.0 * 1048576) << "bytes, not kilobytes";
    EXPECT_GT(available, 0.0);
    EXPECT_LE(available, total);
}

// ---- Clocks and processor ----

TEST(Sdl2Clock, ClocksAgreeAndSleepWaits) {
    EXPECT_EQ(SDL2_CLOCK_OPS.GetCounterFrequency(), 1000000000);
    EXPECT_EQ(SDL2_CLOCK_OPS.GetTimerPeriodMin(), 1u);
    uint32_t ms0 = SDL2_CLOCK_OPS.GetMilliseconds();
    int64_t counter0 = SDL2_CLOCK_OPS.GetCounter();
    uint64_t tsc0 = SDL2_CLOCK_OPS.ReadTimeStampCounter();
    SDL2_CLOCK_OPS.Sleep(30);
    uint32_t ms1 = SDL2_CLOCK_OPS.GetMilliseconds();
    int64_t counter1 = SDL2_CLOCK_OPS.GetCounter();
    EXPECT_GE(ms1 - ms0, 30u);
    EXPECT_GE(counter1 - counter0, 30 * 1000000LL);
    // The millisecond clock is the counter in other units (wrapping at 2^32 ms).
    EXPECT_LE((uint32_t)((uint64_t)(counter1 / 1000000) - ms1), 1u);
    EXPECT_GT(SDL2_CLOCK_OPS.ReadTimeStampCounter(), tsc0);
}

// The line of /proc/cpuinfo for a field, without surrounding blanks.
std::string ReadCpuinfoField(const char* field) {
    FILE* file = fopen("/proc/cpuinfo", "r");
    if (file == nullptr) return "";
    char line[4096];
    std::string value;
    while (fgets(line, sizeof line, file) != nullptr) {
        if (strncmp(line, field, strlen(field)) != 0) continue;
        const char* colon = strchr(line, ':');
        if (colon == nullptr) continue;
        value = colon + 1;
        break;
    }
    fclose(file);
    size_t first = value.find_first_not_of(" \t");
    size_t last = value.find_last_not_of(" \t\n");
    return first == std::string::npos ? "" : value.substr(first, last - first + 1);
}

// What the kernel and CPUID must agree on: the vendor and the feature flags.
// The brand string is left out: hypervisors often hand the guest a name of
// their own there while the kernel reports the host's model.
TEST(Sdl2Clock, ProcessorFactsMatchTheKernels) {
    PlatformCpuInfo info;
    memset(&info, 0x55, sizeof info);
    SDL2_CLOCK_OPS.GetCpuInfo(&info);
#if defined(__x86_64__) || defined(__i386__)
    ASSERT_EQ(info.hasCpuid, 1);
    EXPECT_EQ(std::string(info.vendor), ReadCpuinfoField("vendor_id"));
    std::string flags = " " + ReadCpuinfoField("flags") + " ";
    EXPECT_EQ(info.hasMmx, flags.find(" mmx ") != std::string::npos);
    EXPECT_EQ(info.hasTimeStampCounter, flags.find(" tsc ") != std::string::npos);
    if (info.hasBrand) {
        // Terminated within its 48 characters.
        EXPECT_LT(strlen(info.brand), sizeof info.brand);
    }
#else
    EXPECT_EQ(info.hasCpuid, 0);
#endif
}

// ---- Joypads ----

class Sdl2Pad : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SDL2_INPUT_OPS.OpenInput(), 0); }
    void TearDown() override { SDL2_INPUT_OPS.CloseInput(); }
};

TEST_F(Sdl2Pad, AxesAndButtonsOfAnAttachedPad) {
    int index = AttachSdl2VirtualPad(2, 24);
    ASSERT_GE(index, 0);
    EXPECT_GE(SDL2_INPUT_OPS.GetPadDeviceCount(), index + 1);
    char instanceName[64], productName[64];
    ASSERT_EQ(SDL2_INPUT_OPS.OpenPad(index, instanceName, productName, sizeof instanceName), PAD_SETUP_OK);
    EXPECT_NE(instanceName[0], '\0');
    EXPECT_NE(productName[0], '\0');

    ASSERT_EQ(SetSdl2VirtualPadAxis(index, 0, -32768), 0);
    ASSERT_EQ(SetSdl2VirtualPadAxis(index, 1, 32767), 0);
    ASSERT_EQ(SetSdl2VirtualPadButton(index, 0, 1), 0);
    ASSERT_EQ(SetSdl2VirtualPadButton(index, 23, 1), 0);
    PlatformPadState state;
    memset(&state, 0x11, sizeof state);
    ASSERT_EQ(SDL2_INPUT_OPS.ReadPad(index, &state), 0);
    EXPECT_EQ(state.x, -32768);
    EXPECT_EQ(state.y, 32767);
    for (int i = 0; i < PLATFORM_PAD_BUTTONS; i++) {
        EXPECT_EQ(state.buttons[i], i == 0 || i == 23 ? 0x80 : 0) << "button " << i;
    }
    ASSERT_EQ(SetSdl2VirtualPadButton(index, 0, 0), 0);
    ASSERT_EQ(SDL2_INPUT_OPS.ReadPad(index, &state), 0);
    EXPECT_EQ(state.buttons[0], 0);
    EXPECT_EQ(SDL2_INPUT_OPS.ReacquirePad(index), 0);

    // Unplugged: reads fail and the device cannot be taken back.
    ASSERT_EQ(DetachSdl2VirtualPad(index), 0);
    EXPECT_EQ(SDL2_INPUT_OPS.ReadPad(index, &state), -1);
    EXPECT_EQ(SDL2_INPUT_OPS.ReacquirePad(index), -1);
    SDL2_INPUT_OPS.ClosePad(index);
    EXPECT_EQ(SDL2_INPUT_OPS.ReadPad(index, &state), -1) << "closed";
}

TEST_F(Sdl2Pad, PadWithOneAxisAndFewButtonsReadsTheRestAsZero) {
    int index = AttachSdl2VirtualPad(1, 2);
    ASSERT_GE(index, 0);
    char instanceName[64], productName[64];
    ASSERT_EQ(SDL2_INPUT_OPS.OpenPad(index, instanceName, productName, sizeof instanceName), PAD_SETUP_OK);
    ASSERT_EQ(SetSdl2VirtualPadAxis(index, 0, 1234), 0);
    ASSERT_EQ(SetSdl2VirtualPadButton(index, 1, 1), 0);
    PlatformPadState state;
    memset(&state, 0x11, sizeof state);
    ASSERT_EQ(SDL2_INPUT_OPS.ReadPad(index, &state), 0);
    EXPECT_EQ(state.x, 1234);
    EXPECT_EQ(state.y, 0);
    for (int i = 0; i < PLATFORM_PAD_BUTTONS; i++) {
        EXPECT_EQ(state.buttons[i], i == 1 ? 0x80 : 0) << "button " << i;
    }
    SDL2_INPUT_OPS.ClosePad(index);
    DetachSdl2VirtualPad(index);
}

TEST_F(Sdl2Pad, IndexesOutsideTheTableFailCleanly) {
    char instanceName[64], productName[64];
    EXPECT_EQ(SDL2_INPUT_OPS.OpenPad(-1, instanceName, productName, sizeof instanceName),
              PAD_SETUP_ERROR_OPEN);
    EXPECT_EQ(SDL2_INPUT_OPS.OpenPad(SDL2_INPUT_OPS.GetPadDeviceCount(), instanceName, productName,
                                     sizeof instanceName),
              PAD_SETUP_ERROR_OPEN);
    PlatformPadState state;
    EXPECT_EQ(SDL2_INPUT_OPS.ReadPad(1000, &state), -1);
    EXPECT_EQ(SDL2_INPUT_OPS.ReacquirePad(-5), -1);
    SDL2_INPUT_OPS.ClosePad(1000);
}

}  // namespace
