// claim_send.cpp: the two ends of a program's hand-over channel, as tests need
// them from outside the program.
//
//   claim_send SOCKET < BYTES   sends standard input to the Unix socket at
//       SOCKET, as a later start of the program hands its file over, then
//       waits until the holder closes its end. Prints "sent" when every byte
//       went, "cut" when the holder closed first, with " answered" when the
//       holder answered; ends with 1 when there was nobody to connect to.
//   claim_send --listen SOCKET SECONDS   listens at SOCKET for that long and
//       prints how many bytes reached it.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool MakeAddress(const char* path, sockaddr_un* address) {
    if (strlen(path) >= sizeof address->sun_path) return false;
    memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    memcpy(address->sun_path, path, strlen(path) + 1);
    return true;
}

int Listen(const char* path, double seconds) {
    sockaddr_un address;
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (!MakeAddress(path, &address) || bind(fd, (sockaddr*)&address, sizeof address) != 0 || listen(fd, 8) != 0) {
        perror("listen");
        return 1;
    }
    long received = 0;
    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        double left = seconds - (now.tv_sec - start.tv_sec) - (now.tv_nsec - start.tv_nsec) * 1e-9;
        if (left <= 0) break;
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, (int)(left * 1000) + 1) <= 0) continue;
        int client = accept(fd, nullptr, nullptr);
        if (client < 0) continue;
        char buffer[4096];
        for (ssize_t n; (n = read(client, buffer, sizeof buffer)) > 0;) received += n;
        close(client);
    }
    printf("%ld bytes\n", received);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--listen") == 0) return Listen(argv[2], atof(argv[3]));
    if (argc != 2) {
        fprintf(stderr, "usage: claim_send SOCKET < BYTES | claim_send --listen SOCKET SECONDS\n");
        return 2;
    }
    std::string bytes;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, stdin)) > 0;) bytes.append(buffer, n);
    sockaddr_un address;
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (!MakeAddress(argv[1], &address) || connect(fd, (sockaddr*)&address, sizeof address) != 0) {
        perror("connect");
        return 1;
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += (size_t)n;
    }
    shutdown(fd, SHUT_WR);
    char byte;
    bool answered = false;
    while (read(fd, &byte, 1) > 0) answered = true;
    printf("%s%s\n", sent == bytes.size() ? "sent" : "cut", answered ? " answered" : "");
    return 0;
}
