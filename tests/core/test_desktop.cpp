// Files from later starts and drops, and the desktop's media controls, as the
// message pump serves them.
#include "core_test_support.h"

#include <algorithm>
#include <cmath>

using DesktopTest = FakePlatformTest;

namespace {

void PrintHandedOver(void) {
    fprintf(stderr, "handed over: %s\n", FAKE.handedOver.empty() ? "nothing" : FAKE.handedOver[0].c_str());
}

struct Heard {
    int request;
    double rate;
    int active;  // the window's state when it came
};
std::vector<Heard> HEARD;
void Hear(int request, double rate) { HEARD.push_back({request, rate, GetMainWindowState()->active}); }

PlatformMediaRequest Request(int kind, double rate = 0) { return PlatformMediaRequest{kind, rate}; }

}  // namespace

TEST_F(DesktopTest, ASecondStartHandsItsFileOverMadeAbsoluteAndEndsWithZero) {
    FAKE.otherInstanceRunning = 1;
    struct Case {
        const char* given;
        std::string handed;
    } cases[] = {
        {"music/曲.ogg", "handed over: " + dir + "/music/曲.ogg\n"},
        {"/srv/song.wav", "handed over: /srv/song.wav\n"},
        {nullptr, "handed over: nothing\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given != nullptr ? c.given : "none");
        EXPECT_EXIT(
            {
                SetFileHandOver(c.given);
                atexit(PrintHandedOver);
                InitLibrary();
                exit(3);
            },
            ::testing::ExitedWithCode(0), c.handed);
    }
    // A path that cannot be made absolute within the bound is not handed at all.
    EXPECT_EQ(SetFileHandOver(std::string(5000, 'a').c_str()), -1);

    // A file the running instance did not take is no success: the start says
    // so and ends with 1.
    EXPECT_EXIT(
        {
            FAKE.handOverFails = 1;
            SetFileHandOver("/srv/song.wav");
            atexit([] { fputs(FAKE.debugOutput.c_str(), stderr); });
            InitLibrary();
            exit(3);
        },
        ::testing::ExitedWithCode(1), "Ravlin is already running on this display, but it did not take the file\n");
}

// The dialog's toolkit, asked for before the library starts, starts only in
// the one instance, and only once its window (and so its display) is there.
TEST_F(DesktopTest, TheDialogsToolkitStartsOnlyInTheOneInstanceAfterItsWindow) {
    EXPECT_EXIT(
        {
            FAKE.otherInstanceRunning = 1;
            PrepareFileDialog();
            atexit([] { fprintf(stderr, "toolkit started %d times\n", CountFakeCalls("PrepareFileDialog")); });
            InitLibrary();
            exit(3);
        },
        ::testing::ExitedWithCode(0), "toolkit started 0 times\n");

    PrepareFileDialog();
    EXPECT_EQ(CountFakeCalls("PrepareFileDialog"), 0) << "started before the window";
    ASSERT_EQ(InitLibrary(), 0);
    auto at = [](const char* name) {
        return std::find(FAKE.calls.begin(), FAKE.calls.end(), name) - FAKE.calls.begin();
    };
    EXPECT_EQ(CountFakeCalls("PrepareFileDialog"), 1);
    EXPECT_LT(at("IsOtherInstanceRunning"), at("PrepareFileDialog"));
    EXPECT_LT(at("CreateMainWindow"), at("PrepareFileDialog"));
    // Asked for once the library runs, it starts at once.
    PrepareFileDialog();
    EXPECT_EQ(CountFakeCalls("PrepareFileDialog"), 2);
}

// A file that arrives while the dialog shows ends the dialog; the program
// takes the file instead. So does a request to quit.
TEST_F(DesktopTest, AFileThatArrivesWhileTheDialogShowsEndsIt) {
    SetFileHandOver(nullptr);
    ASSERT_EQ(InitLibrary(), 0);
    char path[SELECT_FILE_BUFFER_SIZE] = "", title[SELECT_FILE_BUFFER_SIZE] = "";
    FAKE.dialogResult = 1;
    FAKE.dialogPath = "/music/chosen.ogg";
    FAKE.dialogAsksToEnd = 1;
    FAKE.openedFiles = {"/music/handed.ogg"};
    EXPECT_EQ(SelectFile(nullptr, 'g', path, title, "開け", nullptr), 0);
    EXPECT_EQ(FAKE.dialogEndedEarly, 1);
    EXPECT_STREQ(title, "");
    char opened[64];
    ASSERT_EQ(TakeOpenedFile(opened, sizeof opened), 1);
    EXPECT_STREQ(opened, "/music/handed.ogg");

    // Nothing arrives: the dialog runs to the user's answer.
    EXPECT_EQ(SelectFile(nullptr, 'g', path, title, "開け", nullptr), 1);
    EXPECT_EQ(FAKE.dialogEndedEarly, 0);
    EXPECT_STREQ(title, "chosen.ogg");

    // The desktop's quit ends it too.
    ASSERT_EQ(StartMediaControls("marovel", "Marovel"), 0);
    FAKE.mediaRequests = {PlatformMediaRequest{MEDIA_REQUEST_QUIT, 0}};
    EXPECT_EQ(SelectFile(nullptr, 'g', path, title, "開け", nullptr), 0);
    EXPECT_EQ(FAKE.dialogEndedEarly, 1);
}

TEST_F(DesktopTest, AFileThatArrivesRaisesTheWindowAndIsTakenOnce) {
    SetFileHandOver(nullptr);
    ASSERT_EQ(InitLibrary(), 0);
    int raised = CountFakeCalls("RaiseMainWindow");
    char path[64];
    EXPECT_EQ(TakeOpenedFile(path, sizeof path), 0);
    FAKE.openedFiles = {"/music/one.ogg"};
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(CountFakeCalls("RaiseMainWindow"), raised + 1);
    ASSERT_EQ(TakeOpenedFile(path, sizeof path), 1);
    EXPECT_STREQ(path, "/music/one.ogg");
    EXPECT_EQ(TakeOpenedFile(path, sizeof path), 0);
    // Two before the program looks: the later one counts; one too long for the caller is not cut.
    FAKE.openedFiles = {"/music/two.ogg", "/music/three.ogg"};
    ProcessWindowMessages();
    ProcessWindowMessages();
    char small[8];
    EXPECT_EQ(TakeOpenedFile(small, sizeof small), 0);
    FAKE.openedFiles = {"/music/four.ogg"};
    ProcessWindowMessages();
    ASSERT_EQ(TakeOpenedFile(path, sizeof path), 1);
    EXPECT_STREQ(path, "/music/four.ogg");
}

TEST_F(DesktopTest, MediaRequestsReachTheHandlerInThePumpEvenInTheBackground) {
    ASSERT_EQ(InitLibrary(), 0);
    ASSERT_EQ(StartMediaControls("marovel", "Marovel"), 0);
    EXPECT_EQ(FAKE.mediaName, "marovel");
    EXPECT_EQ(FAKE.mediaIdentity, "Marovel");
    HEARD.clear();
    SetMediaRequestHandler(Hear);
    int raised = CountFakeCalls("RaiseMainWindow");
    FAKE.mediaRequests = {Request(MEDIA_REQUEST_PLAY), Request(MEDIA_REQUEST_SET_RATE, 0.5),
                          Request(MEDIA_REQUEST_RAISE), Request(MEDIA_REQUEST_PAUSE),
                          Request(MEDIA_REQUEST_PLAY_PAUSE), Request(MEDIA_REQUEST_STOP)};
    EXPECT_EQ(ProcessWindowMessages(), 0);
    ASSERT_EQ(HEARD.size(), 5u);
    const int order[] = {MEDIA_PLAY, MEDIA_SET_RATE, MEDIA_PAUSE, MEDIA_PLAY_PAUSE, MEDIA_STOP};
    for (int i = 0; i < 5; i++) EXPECT_EQ(HEARD[i].request, order[i]) << i;
    EXPECT_EQ(HEARD[1].rate, 0.5);
    EXPECT_EQ(CountFakeCalls("RaiseMainWindow"), raised + 1) << "raising is the library's own";

    // In the background the pump holds the program, and the bus is served all the same.
    HEARD.clear();
    QueueFakeMessage(WM_ACTIVATEAPP, 0, 0);
    FAKE.peekCount = 0;
    FAKE.onPeek = [](int peek) {
        if (peek == 20) FAKE.mediaRequests.push_back(Request(MEDIA_REQUEST_PLAY_PAUSE));
        if (peek == 40) QueueFakeMessage(WM_ACTIVATEAPP, 1, 0);
    };
    EXPECT_EQ(ProcessWindowMessages(), 0);
    FAKE.onPeek = nullptr;
    ASSERT_EQ(HEARD.size(), 1u);
    EXPECT_EQ(HEARD[0].active, 0);

    // Quit closes the window as its close button does.
    FAKE.mediaRequests = {Request(MEDIA_REQUEST_QUIT)};
    int result = 0;
    for (int i = 0; i < 3 && result == 0; i++) result = ProcessWindowMessages();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(CountFakeCalls("PostClose"), 1);
    EXPECT_TRUE(HEARD.size() == 1u) << "quit is not the program's to handle";
    SetMediaRequestHandler(nullptr);
}

TEST_F(DesktopTest, StateIsShownWhileTheControlsRunAndNotWithoutABus) {
    ASSERT_EQ(InitLibrary(), 0);
    MediaState state = {1, 0.5, 100 / 44100.0, 200000 / 44100.0, 3, 2000000, "/music/a.ogg"};
    FAKE.mediaStartFails = 1;
    std::string said = FAKE.debugOutput;
    EXPECT_EQ(StartMediaControls("marovel", "Marovel"), -1);
    EXPECT_EQ(PublishMediaState(&state), -1);
    ProcessWindowMessages();
    EXPECT_EQ(FAKE.mediaPublished, 0);
    EXPECT_EQ(FAKE.mediaServed, 0);
    EXPECT_EQ(FAKE.debugOutput, said) << "nothing is said without a bus";

    FAKE.mediaStartFails = 0;
    ASSERT_EQ(StartMediaControls("marovel", "Marovel"), 0);
    ProcessWindowMessages();
    EXPECT_GE(FAKE.mediaServed, 1);
    EXPECT_EQ(PublishMediaState(&state), 0);
    EXPECT_EQ(FAKE.mediaState.playing, 1);
    EXPECT_EQ(FAKE.mediaState.rate, 0.5);
    EXPECT_EQ(FAKE.mediaState.maximumRate, 200000 / 44100.0);
    EXPECT_EQ(FAKE.mediaState.track, 3);
    EXPECT_EQ(FAKE.mediaState.lengthMicroseconds, 2000000);
    EXPECT_STREQ(FAKE.mediaState.path, "/music/a.ogg");
    state.path = nullptr;
    PublishMediaState(&state);
    EXPECT_STREQ(FAKE.mediaState.path, "");
    // The desktop is never shown a rate outside the range it is given.
    state.rate = 5;
    PublishMediaState(&state);
    EXPECT_EQ(FAKE.mediaState.rate, 200000 / 44100.0);
    state.rate = 0.001;
    PublishMediaState(&state);
    EXPECT_EQ(FAKE.mediaState.rate, 100 / 44100.0);

    // The controls end with the library.
    EndLibrary();
    EXPECT_EQ(CountFakeCalls("EndMedia"), 1);
    EXPECT_EQ(PublishMediaState(&state), -1);
}
