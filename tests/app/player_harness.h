// player_harness.h: the player's binary as a user meets it, for the end-to-end
// tests: a virtual display of a chosen depth of its own, the program started
// with OpenAL Soft writing what it plays to a wave file, keys held through
// xdotool, the dialog filled through the clipboard, windows found in
// xwininfo's tree, client-area screenshots and the recording read back.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../sound/signal_measure.h"
#include "../tools/shell_tools.h"

namespace harness {

inline void SleepSeconds(double s) { usleep((useconds_t)(s * 1e6)); }

inline double NowSeconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline bool HaveCommand(const char* name) {
    return Shell(std::string("command -v ") + name + " >/dev/null 2>&1 && echo yes") == "yes";
}

// A virtual X server of its own, at the given depth.
struct VirtualDisplay {
    pid_t pid = -1;
    std::string name;

    // Xvfb picks a free display number itself and tells it through a pipe.
    bool Start(int depth) {
        int fds[2];
        if (pipe(fds) != 0) return false;
        std::string screen = "1024x768x" + std::to_string(depth);
        std::string fd = std::to_string(fds[1]);
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                   (char*)nullptr);
            _exit(127);
        }
        close(fds[1]);
        char number[32] = {};
        ssize_t got = 0;
        for (ssize_t n; got < (ssize_t)sizeof number - 1 && (n = read(fds[0], number + got, sizeof number - 1 - got)) > 0;) {
            got += n;
            if (memchr(number, '\n', (size_t)got) != nullptr) break;
        }
        close(fds[0]);
        if (got <= 0) return false;
        name = ":" + std::to_string(atoi(number));
        for (int i = 0; i < 100; i++) {
            if (Shell("DISPLAY=" + name + " xdpyinfo >/dev/null 2>&1 && echo up") == "up") return true;
            SleepSeconds(0.1);
        }
        return false;
    }
    ~VirtualDisplay() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// A window in xwininfo's tree (xdotool search can abort on windows that vanish).
struct WindowInfo {
    unsigned long id = 0;
    int width = 0, height = 0;
};

// On the test's display, or on the one named.
inline std::vector<WindowInfo> FindWindows(const std::string& title, const std::string& display = "") {
    std::vector<WindowInfo> found;
    std::string on = display.empty() ? "" : "DISPLAY=" + display + " ";
    std::istringstream tree(Shell(on + "xwininfo -root -tree 2>/dev/null"));
    std::string line;
    std::string key = "\"" + title + "\":";
    while (std::getline(tree, line)) {
        size_t at = line.find(key);
        if (at == std::string::npos) continue;
        WindowInfo w;
        w.id = strtoul(line.c_str() + line.find("0x"), nullptr, 16);
        size_t size = line.find(')', at);
        if (size != std::string::npos) sscanf(line.c_str() + size + 1, " %dx%d", &w.width, &w.height);
        found.push_back(w);
    }
    return found;
}

inline WindowInfo WaitForWindow(const std::string& title, double seconds, const std::string& display = "") {
    for (double end = NowSeconds() + seconds; NowSeconds() < end; SleepSeconds(0.05)) {
        std::vector<WindowInfo> w = FindWindows(title, display);
        if (!w.empty()) return w[0];
    }
    return WindowInfo{};
}

// A window the server shows (mapped, with mapped parents): one that can take the focus.
inline bool IsViewable(unsigned long id) {
    return Shell("xwininfo -id " + std::to_string(id) + " 2>/dev/null").find("Map State: IsViewable") != std::string::npos;
}

inline bool WaitForNoWindow(const std::string& title, double seconds) {
    for (double end = NowSeconds() + seconds; NowSeconds() < end; SleepSeconds(0.05)) {
        if (FindWindows(title).empty()) return true;
    }
    return false;
}

// Chooses in the open-file dialog the path written in clipFile: it goes in
// through the clipboard, since typing it (Japanese above all) with xdotool is
// unreliable.
inline void ChooseInDialog(unsigned long dialog, const std::string& clipFile) {
    Shell("xclip -selection clipboard -i " + Quote(clipFile) + " >/dev/null 2>&1");
    Shell("xdotool windowfocus --sync " + std::to_string(dialog));
    SleepSeconds(0.3);
    Shell("xdotool key ctrl+l");
    SleepSeconds(0.3);
    Shell("xdotool key ctrl+a ctrl+v");
    SleepSeconds(0.3);
    Shell("xdotool key Return");
}

inline unsigned long FocusedWindow() { return strtoul(Shell("xdotool getwindowfocus 2>/dev/null").c_str(), nullptr, 10); }

// A key held long enough to be seen by a program that polls once a frame.
inline void HoldKey(const std::string& key, double seconds) {
    Shell("xdotool keydown " + key);
    SleepSeconds(seconds);
    Shell("xdotool keyup " + key);
}

// The client area as a PNG file, read by the given tool (x11_test_input's
// capture: ImageMagick's own import reads black as (8, 0, 8) on a 16-bit
// server); true when it was written.
inline bool Screenshot(const std::string& tool, unsigned long window, const std::string& path) {
    char id[32];
    snprintf(id, sizeof id, "0x%lx", window);
    std::string raw = path + ".ppm";
    bool ok = Shell(tool + " capture " + id + " " + Quote(raw) + " && convert " + Quote(raw) + " " +
                    Quote("png24:" + path) + " && echo ok") == "ok";
    unlink(raw.c_str());
    return ok;
}

// Number of pixels that differ between two pictures; -1 when they cannot be compared.
inline long DifferingPixels(const std::string& a, const std::string& b) {
    std::string out = Shell("compare -metric AE " + Quote(a) + " " + Quote(b) + " null: 2>&1");
    if (out.empty() || (out[0] < '0' || out[0] > '9')) return -1;
    return atol(out.c_str());
}

// 16-bit PCM WAVE, mono, 44100 Hz.
inline void WriteWave(const std::string& path, const std::vector<int16_t>& samples) {
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write((const char*)&v, 4); };
    auto u16 = [&](uint16_t v) { f.write((const char*)&v, 2); };
    uint32_t bytes = (uint32_t)samples.size() * 2;
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(44100);
    u32(88200);
    u16(2);
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write((const char*)samples.data(), bytes);
}

// A sine of whole periods: samplesPerPeriod samples each, count periods.
inline void AppendTone(std::vector<int16_t>* samples, int samplesPerPeriod, int periods) {
    for (int i = 0; i < samplesPerPeriod * periods; i++) {
        samples->push_back((int16_t)lrint(12000 * sin(2 * M_PI * i / samplesPerPeriod)));
    }
}

// What OpenAL Soft's wave writer has written so far: 16-bit stereo at 44100 Hz
// (the configuration asks for that), read while it grows.
struct Recording {
    std::string path;

    // Frames written so far.
    long Frames() const {
        long offset = DataOffset();
        struct stat st;
        if (offset < 0 || stat(path.c_str(), &st) != 0) return 0;
        return (st.st_size - offset) / 4;
    }
    // Left channel of frames [from, to), as -1..1.
    std::vector<float> Read(long from, long to) const {
        std::vector<float> out;
        long offset = DataOffset();
        if (offset < 0 || from < 0 || to <= from) return out;
        std::ifstream f(path, std::ios::binary);
        f.seekg(offset + from * 4);
        std::vector<int16_t> frames((size_t)(to - from) * 2);
        f.read((char*)frames.data(), (std::streamsize)frames.size() * 2);
        size_t got = (size_t)f.gcount() / 4;
        for (size_t i = 0; i < got; i++) out.push_back(frames[i * 2] / 32768.0f);
        return out;
    }
    std::vector<float> Last(double seconds) const {
        long end = Frames();
        return Read(end - (long)(seconds * 44100), end);
    }

private:
    long DataOffset() const {
        std::ifstream f(path, std::ios::binary);
        char head[12];
        if (!f.read(head, 12) || memcmp(head, "RIFF", 4) != 0) return -1;
        long at = 12;
        for (int i = 0; i < 16; i++) {
            char id[4];
            uint32_t size;
            if (!f.read(id, 4) || !f.read((char*)&size, 4)) return -1;
            at += 8;
            if (memcmp(id, "data", 4) == 0) return at;
            at += size + (size & 1);
            f.seekg(at);
        }
        return -1;
    }
};

inline double Peak(const std::vector<float>& x) {
    double peak = 0;
    for (float v : x) peak = std::fabs(v) > peak ? std::fabs(v) : peak;
    return peak;
}

// A player's environment in a folder of its own: OpenAL Soft writing what it
// plays to recordingPath (16-bit stereo at 44100 Hz), a home and a runtime
// folder of its own and GSettings in memory, on the given display.
inline std::vector<std::string> MakePlayerEnvironment(const std::string& dir, const std::string& display,
                                                      const std::string& recordingPath) {
    std::ofstream conf(dir + "/alsoft.conf");
    conf << "[general]\ndrivers=wave\nsample-type=int16\nchannels=stereo\nfrequency=44100\n"
         << "[wave]\nfile=" << recordingPath << "\n";
    conf.close();
    mkdir((dir + "/home").c_str(), 0755);
    // The user's own runtime folder, where the one-instance claim lives.
    mkdir((dir + "/run").c_str(), 0700);
    return {"DISPLAY=" + display, "ALSOFT_CONF=" + dir + "/alsoft.conf", "GSETTINGS_BACKEND=memory",
            "NO_AT_BRIDGE=1", "HOME=" + dir + "/home", "XDG_DATA_HOME=" + dir + "/home",
            "XDG_CONFIG_HOME=" + dir + "/home", "XDG_CACHE_HOME=" + dir + "/home", "XDG_RUNTIME_DIR=" + dir + "/run"};
}

// The player's process, started in its own folder with its own environment.
struct PlayerProcess {
    pid_t pid = -1;
    int exitCode = -999;  // -999 still running, -998 killed by a signal

    bool Start(const std::string& binary, const std::string& folder, const std::vector<std::string>& args,
               const std::vector<std::string>& env, const std::string& errorLog) {
        pid = fork();
        if (pid == 0) {
            if (chdir(folder.c_str()) != 0) _exit(126);
            // NAME=VALUE sets a variable, a bare NAME takes it away.
            for (const std::string& e : env) {
                if (e.find('=') == std::string::npos) {
                    unsetenv(e.c_str());
                } else {
                    putenv(strdup(e.c_str()));
                }
            }
            int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (err >= 0) dup2(err, 2);
            std::vector<char*> argv;
            argv.push_back(strdup(binary.c_str()));
            for (const std::string& a : args) argv.push_back(strdup(a.c_str()));
            argv.push_back(nullptr);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
        return pid > 0;
    }
    // True when it ended within the time (looked at once at least); its exit
    // code is then in exitCode.
    bool WaitForExit(double seconds) {
        if (exitCode != -999) return true;
        double end = NowSeconds() + seconds;
        for (;;) {
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exitCode = WIFEXITED(status) ? (int8_t)WEXITSTATUS(status) : -998;
                return true;
            }
            if (NowSeconds() >= end) return false;
            SleepSeconds(0.02);
        }
    }
    // Ready for another start once it has ended.
    void Forget() {
        pid = -1;
        exitCode = -999;
    }
    ~PlayerProcess() {
        if (pid > 0 && exitCode == -999) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

}  // namespace harness
