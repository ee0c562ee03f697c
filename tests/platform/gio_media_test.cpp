// The media controls on a real session bus (the test runs under
// dbus-run-session), called by gdbus as a desktop would call them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

// Serves the bus until a request of the kind given comes; 0 when none came in 10 s.
int ServeUntil(int kind) {
    for (int i = 0; i < 10000; i++) {
        GIO_MEDIA_OPS.ServeMedia();
        PlatformMediaRequest request;
        while (GIO_MEDIA_OPS.TakeMediaRequest(&request) == 1) {
            if (request.kind == kind) return 1;
        }
        usleep(1000);
    }
    return 0;
}

TEST(GioMedia, QuitIsAnsweredEvenWhenTheControlsEndAtOnce) {
    // The program ends its controls as soon as it has taken Quit: the caller
    // still gets its reply, every time.
    std::string name = "gio_media_test_" + std::to_string(getpid());
    std::string call = "gdbus call --session -d org.mpris.MediaPlayer2." + name +
                       " -o /org/mpris/MediaPlayer2 -m org.mpris.MediaPlayer2.Quit 2>&1";
    for (int round = 0; round < 30; round++) {
        SCOPED_TRACE(round);
        ASSERT_EQ(GIO_MEDIA_OPS.StartMedia(name.c_str(), "Test"), 0);
        FILE* caller = popen(call.c_str(), "r");
        ASSERT_NE(caller, nullptr);
        int quit = ServeUntil(MEDIA_REQUEST_QUIT);
        GIO_MEDIA_OPS.EndMedia();
        std::string answer;
        char buffer[256];
        while (fgets(buffer, sizeof buffer, caller) != nullptr) answer += buffer;
        pclose(caller);
        ASSERT_TRUE(quit) << answer;
        EXPECT_EQ(answer, "()\n");
    }
}

}  // namespace
