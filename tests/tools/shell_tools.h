// shell_tools.h: running the window system's command-line tools from tests.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// The window system's tools read and print window titles in the locale's
// encoding: every tool a test runs gets one UTF-8 locale, whatever the caller's
// (Debian always has C.UTF-8).
inline const bool SHELL_TOOLS_LOCALE_SET = (setenv("LC_ALL", "C.UTF-8", 1), true);

// Standard output of a shell command, whole (binary output included).
inline std::string ShellOutput(const std::string& command) {
    (void)SHELL_TOOLS_LOCALE_SET;
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// Output of a shell command, trailing line ends and spaces removed.
inline std::string Shell(const std::string& command) {
    std::string out = ShellOutput(command);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// Id of the first window whose name is title, polling for up to five seconds; "" if none.
inline std::string FindWindow(const std::string& title) {
    for (int i = 0; i < 50; i++) {
        std::string ids = Shell("xdotool search --name '^" + title + "$' 2>/dev/null");
        if (!ids.empty()) return ids.substr(0, ids.find('\n'));
        usleep(100 * 1000);
    }
    return "";
}
