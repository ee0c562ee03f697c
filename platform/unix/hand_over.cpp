// hand_over.cpp: the one-instance claim of a program on a display, and the
// channel through which a later start hands its file to the instance that
// holds the claim.
//
// The claim is an flock on a file in a folder that only this user can reach:
// $XDG_RUNTIME_DIR when it is the user's own and closed to others, else a
// folder of the user's own made in the temporary folder ($TMPDIR or /tmp). The kernel lets the lock go when
// the process ends, however it ends. Beside the lock the holder listens on a
// Unix socket; nobody else can make or bind names in that folder, and each
// side still checks the other's credentials before a byte goes either way.
//
// A message is an absolute path of at most PATH_MAX bytes with its zero byte,
// then the end of the stream; the holder answers a whole message with one
// byte, and the sender counts the hand-over as done only when it has that
// answer. The holder reads without ever waiting, a few clients at a time,
// each given a couple of seconds; whole messages are handed on in the order
// their senders connected, and one that an earlier-connected sender overtook
// is dropped (after its answer), so the last file sent is the one that stays.
#include "platform/unix/hand_over.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum {
    MAX_HAND_OVER_CLIENTS = 4,
    HAND_OVER_MESSAGE_SIZE = PATH_MAX,  // bytes, the zero byte included
    HAND_OVER_CLIENT_MS = 2000,         // a client that has not finished by then is dropped
    HAND_OVER_ANSWER_MS = 5000,         // the sender's bound on a holder that does not answer
    HAND_OVER_CONNECT_MS = 1000,        // a holder that has the lock but no socket yet is waited for
    HAND_OVER_RETRY_MS = 20,
    CLAIM_PATH_SIZE = sizeof(sockaddr_un::sun_path),
};

const char TAKEN_ANSWER = '1';

// A connection of the hand-over channel, read a little each pass.
struct HandOverClient {
    int fd;             // -1 when the entry is free
    uint64_t order;     // counts the connections accepted: the order senders came in
    uint64_t startMs;   // monotonic clock at accept
    int length;         // bytes received so far
    char message[HAND_OVER_MESSAGE_SIZE];
};

struct ClaimState {
    int lockFd;                 // -1 when this process holds no claim
    int listenFd;               // -1 when the claim has no channel
    pid_t pid;                  // process that made the claim (a forked child did not)
    char name[96];              // the class the claim was made for
    char socketPath[CLAIM_PATH_SIZE];
    uint64_t accepted;          // connections accepted so far
    uint64_t lastHandedOn;      // order of the last message handed on, 0 for none
    HandOverClient clients[MAX_HAND_OVER_CLIENTS];
};

ClaimState CLAIM = {-1, -1, 0, "", "", 0, 0, {}};

uint64_t MonotonicMilliseconds(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000;
}

void SleepMilliseconds(int ms) {
    timespec wait = {ms / 1000, (long)(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

// The running program's file name (without its folder), as the kernel knows it.
void ReadProgramName(char* name, size_t size) {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        snprintf(name, size, "%s", program_invocation_short_name);
        return;
    }
    path[length] = '\0';
    const char* slash = strrchr(path, '/');
    const char* base = slash != nullptr ? slash + 1 : path;
    size_t n = strlen(base) < size - 1 ? strlen(base) : size - 1;  // a long name is cut
    memcpy(name, base, n);
    name[n] = '\0';
}

// The display the window will open on, without its screen number (":1.0" and
// ":1" are one display); Wayland's socket name when there is no X display.
void ReadDisplayName(char* name, size_t size) {
    const char* display = getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        snprintf(name, size, "%s", display);
        char* colon = strrchr(name, ':');
        char* dot = colon != nullptr ? strchr(colon, '.') : nullptr;
        if (dot != nullptr) *dot = '\0';
        return;
    }
    const char* wayland = getenv("WAYLAND_DISPLAY");
    snprintf(name, size, "wayland:%s", wayland != nullptr ? wayland : "");
}

// 1 when the folder is a real folder (not a link) of this user that no one
// else may enter or write.
int IsPrivateFolder(const char* folder) {
    struct stat st;
    if (lstat(folder, &st) != 0) return 0;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

// The folder the claims live in; 0, or -1 (said on standard error) when there
// is none that only this user can reach.
int FindClaimFolder(char* folder, size_t size) {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && strlen(runtime) < size && IsPrivateFolder(runtime)) {
        snprintf(folder, size, "%s", runtime);
        return 0;
    }
    const char* temp = getenv("TMPDIR");
    if (temp == nullptr || temp[0] != '/') temp = "/tmp";
    if (snprintf(folder, size, "%s/ravlin-%u", temp, (unsigned)getuid()) >= (int)size) return -1;
    if (mkdir(folder, 0700) != 0 && errno != EEXIST) {
        fprintf(stderr, "%s: cannot make %s: %s; this start runs on its own\n", program_invocation_short_name,
                folder, strerror(errno));
        return -1;
    }
    if (!IsPrivateFolder(folder)) {
        // Somebody else made it, or opened it to others: nothing in it can be trusted.
        fprintf(stderr, "%s: %s is not a folder of this user's own, closed to others; this start runs on its own\n",
                program_invocation_short_name, folder);
        return -1;
    }
    return 0;
}

// FNV-1a: a short stand-in for a name too long for a socket's address.
uint64_t HashName(const char* text) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char* at = (const unsigned char*)text; *at != '\0'; at++) hash = (hash ^ *at) * 1099511628211ull;
    return hash;
}

// The claim's lock and socket paths; 0, or -1 without a folder for them.
int MakeClaimPaths(const char* className, char* lockPath, char* socketPath) {
    char folder[CLAIM_PATH_SIZE * 4];
    if (FindClaimFolder(folder, sizeof folder) != 0) return -1;
    char name[160];
    FormatInstanceName(className, name, sizeof name);
    if (snprintf(socketPath, CLAIM_PATH_SIZE, "%s/%s.sock", folder, name) >= (int)CLAIM_PATH_SIZE) {
        char shortName[40];
        snprintf(shortName, sizeof shortName, "Ravlin-%016llx", (unsigned long long)HashName(name));
        snprintf(name, sizeof name, "%s", shortName);
        if (snprintf(socketPath, CLAIM_PATH_SIZE, "%s/%s.sock", folder, name) >= (int)CLAIM_PATH_SIZE) return -1;
    }
    snprintf(lockPath, PATH_MAX, "%s/%s.lock", folder, name);
    return 0;
}

void LetClaimGo(void) {
    for (HandOverClient& client : CLAIM.clients) {
        if (client.fd >= 0) close(client.fd);
        client.fd = -1;
    }
    if (CLAIM.listenFd >= 0) close(CLAIM.listenFd);
    if (CLAIM.lockFd >= 0) close(CLAIM.lockFd);
    CLAIM.listenFd = CLAIM.lockFd = -1;
}

// The channel beside a claim just made: a socket left by a holder that died
// goes first. -1 when there is none (the claim stands all the same).
int OpenChannel(const char* socketPath) {
    unlink(socketPath);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, socketPath, strlen(socketPath) + 1);
    if (bind(fd, (struct sockaddr*)&address, sizeof address) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int IsSameUser(int fd) {
    struct ucred peer;
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer && peer.uid == getuid();
}

// Takes waiting connections into free entries; a peer of another user is
// closed at once, before a byte of it is read.
void AcceptClients(void) {
    for (HandOverClient& client : CLAIM.clients) {
        if (client.fd >= 0) continue;
        int fd = accept4(CLAIM.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (!IsSameUser(fd)) {
            close(fd);
            continue;  // the entry is still free
        }
        client.fd = fd;
        client.order = ++CLAIM.accepted;
        client.startMs = MonotonicMilliseconds();
        client.length = 0;
    }
}

enum { CLIENT_WAITING = 0, CLIENT_WHOLE = 1, CLIENT_REFUSED = -1 };

// Reads what a client has sent: CLIENT_WHOLE when its message is whole and
// good (the path is then in message), CLIENT_WAITING while it may still come,
// CLIENT_REFUSED when the client is to be dropped.
int ReadClient(HandOverClient* client) {
    for (;;) {
        char* at = client->message + client->length;
        int room = (int)sizeof client->message - client->length;
        // One byte more than the room shows a message that is too long.
        char spare;
        ssize_t n = room > 0 ? recv(client->fd, at, (size_t)room, 0) : recv(client->fd, &spare, 1, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return CLIENT_REFUSED;
            return MonotonicMilliseconds() - client->startMs > HAND_OVER_CLIENT_MS ? CLIENT_REFUSED : CLIENT_WAITING;
        }
        if (n == 0) break;  // the end of the stream
        if (room == 0) return CLIENT_REFUSED;
        // Only an absolute path is ever accepted: anything else is refused at its first byte.
        if (client->message[0] != '/') return CLIENT_REFUSED;
        client->length += (int)n;
    }
    // Whole: one path and its zero byte, no other zero before it.
    int length = client->length;
    if (length < 2 || client->message[length - 1] != '\0') return CLIENT_REFUSED;
    if (memchr(client->message, '\0', (size_t)length - 1) != nullptr) return CLIENT_REFUSED;
    return CLIENT_WHOLE;
}

void DropClient(HandOverClient* client) {
    close(client->fd);
    client->fd = -1;
}

// The sender learns that its file arrived; it may have gone already.
void AnswerClient(HandOverClient* client) { (void)!send(client->fd, &TAKEN_ANSWER, 1, MSG_NOSIGNAL | MSG_DONTWAIT); }

// Connects to the holder's socket, waiting a moment for a holder that has just
// taken the lock and is still making it. The descriptor, or -1.
int ConnectToHolder(const char* socketPath) {
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, socketPath, strlen(socketPath) + 1);
    for (uint64_t start = MonotonicMilliseconds();;) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        if (connect(fd, (struct sockaddr*)&address, sizeof address) == 0) return fd;
        int error = errno;
        close(fd);
        if ((error != ENOENT && error != ECONNREFUSED && error != EAGAIN) ||
            MonotonicMilliseconds() - start > HAND_OVER_CONNECT_MS) {
            return -1;
        }
        SleepMilliseconds(HAND_OVER_RETRY_MS);
    }
}

// Waits for the holder's answer; 1 when it came.
int WaitForAnswer(int fd) {
    for (uint64_t start = MonotonicMilliseconds();;) {
        uint64_t spent = MonotonicMilliseconds() - start;
        if (spent >= HAND_OVER_ANSWER_MS) return 0;
        struct pollfd ready = {fd, POLLIN, 0};
        int n = poll(&ready, 1, (int)(HAND_OVER_ANSWER_MS - spent));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        char answer = 0;
        ssize_t got = recv(fd, &answer, 1, 0);
        if (got < 0 && errno == EINTR) continue;
        return got == 1 && answer == TAKEN_ANSWER;
    }
}

}  // namespace

int FormatInstanceName(const char* className, char* name, int size) {
    char program[40], display[48];
    ReadProgramName(program, sizeof program);
    ReadDisplayName(display, sizeof display);
    // A display name may hold a path ("unix/:1" and the like): no folders in a file name.
    for (char* at = display; *at != '\0'; at++) {
        if (*at == '/') *at = '_';
    }
    return snprintf(name, (size_t)size, "%s-%s-%s", className != nullptr ? className : "", program, display);
}

int FormatInstanceSocketPath(const char* className, char* path, int size) {
    char lockPath[PATH_MAX], socketPath[CLAIM_PATH_SIZE];
    if (MakeClaimPaths(className, lockPath, socketPath) != 0) return -1;
    return snprintf(path, (size_t)size, "%s", socketPath) < size ? 0 : -1;
}

int ClaimInstance(const char* className) {
    if (className == nullptr) className = "";
    pid_t self = getpid();
    if (CLAIM.lockFd >= 0) {
        if (CLAIM.pid == self && strcmp(CLAIM.name, className) == 0) return 0;
        // A claim under another name, or one inherited from the parent across
        // fork: let go of this process's copies, so that it cannot outlive its
        // owner. The owner's lock stays: it is the owner's open file.
        LetClaimGo();
    }
    char lockPath[PATH_MAX], socketPath[CLAIM_PATH_SIZE];
    // Without a private place for the claim this start runs on its own.
    if (MakeClaimPaths(className, lockPath, socketPath) != 0) return 0;
    int fd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return 0;  // no answer to be had: do not refuse the start
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? 1 : 0;
    }
    CLAIM.lockFd = fd;
    CLAIM.pid = self;
    snprintf(CLAIM.name, sizeof CLAIM.name, "%s", className);
    snprintf(CLAIM.socketPath, sizeof CLAIM.socketPath, "%s", socketPath);
    for (HandOverClient& client : CLAIM.clients) client.fd = -1;
    CLAIM.accepted = CLAIM.lastHandedOn = 0;
    // Later starts hand their files over here; accepting never waits.
    CLAIM.listenFd = OpenChannel(socketPath);
    return 0;
}

int HandOverFileToInstance(const char* className, const char* path) {
    if (path == nullptr || path[0] != '/' || strlen(path) >= HAND_OVER_MESSAGE_SIZE) return -1;
    char lockPath[PATH_MAX], socketPath[CLAIM_PATH_SIZE];
    if (MakeClaimPaths(className != nullptr ? className : "", lockPath, socketPath) != 0) return -1;
    int fd = ConnectToHolder(socketPath);
    if (fd < 0) return -1;
    // The folder is the user's own, but a path is never told to anyone else.
    if (!IsSameUser(fd)) {
        close(fd);
        return -1;
    }
    // A holder that stopped reading must not hold this start for ever.
    struct timeval bound = {HAND_OVER_ANSWER_MS / 1000, (HAND_OVER_ANSWER_MS % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    size_t total = strlen(path) + 1;  // the zero byte ends the path
    int ok = 1;
    for (size_t sent = 0; sent < total;) {
        ssize_t n = send(fd, path + sent, total - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            ok = 0;
            break;
        }
        sent += (size_t)n;
    }
    // The end of the stream tells the holder that nothing follows.
    if (ok) ok = shutdown(fd, SHUT_WR) == 0 && WaitForAnswer(fd);
    close(fd);
    return ok ? 0 : -1;
}

int TakeHandedOverFile(char* path, int size) {
    // A claim inherited across fork is not this process's to serve.
    if (CLAIM.listenFd < 0 || CLAIM.pid != getpid()) return 0;
    // Asked on every pass of the message loop: an accept on the listening
    // socket costs the kernel a socket made and freed even when nobody waits,
    // a look costs nothing.
    struct pollfd waiting = {CLAIM.listenFd, POLLIN, 0};
    if (poll(&waiting, 1, 0) > 0) AcceptClients();
    for (HandOverClient& client : CLAIM.clients) {
        if (client.fd < 0 || client.length < 0) continue;
        int state = ReadClient(&client);
        if (state == CLIENT_WAITING) continue;
        if (state == CLIENT_REFUSED) {
            DropClient(&client);
            continue;
        }
        AnswerClient(&client);
        // Overtaken by a later sender already handed on: the later file stays.
        if (client.order < CLAIM.lastHandedOn || (int)strlen(client.message) >= size) {
            DropClient(&client);
            continue;
        }
        client.length = -1;  // whole and answered: kept until handed on
    }
    // Of the whole messages, the one whose sender came first; the others wait
    // for the next calls.
    HandOverClient* first = nullptr;
    for (HandOverClient& client : CLAIM.clients) {
        if (client.fd >= 0 && client.length < 0 && (first == nullptr || client.order < first->order)) first = &client;
    }
    if (first == nullptr) return 0;
    memcpy(path, first->message, strlen(first->message) + 1);
    CLAIM.lastHandedOn = first->order;
    DropClient(first);
    return 1;
}
