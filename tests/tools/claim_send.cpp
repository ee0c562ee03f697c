// claim_send.cpp: sends standard input to a program's one-instance claim (an
// abstract Unix socket named on the command line), as a later start of the
// program would hand its file over, then waits until the holder closes its end.
// Prints "sent" when every byte went, "cut" when the holder closed first, and
// ends with 1 when there was nobody to connect to.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2 || strlen(argv[1]) > sizeof(sockaddr_un::sun_path) - 2) {
        fprintf(stderr, "usage: claim_send NAME < BYTES\n");
        return 2;
    }
    std::string bytes;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, stdin)) > 0;) bytes.append(buffer, n);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path + 1, argv[1], strlen(argv[1]));
    if (connect(fd, (struct sockaddr*)&address, (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + strlen(argv[1]))) != 0) {
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
    while (read(fd, &byte, 1) > 0) {
    }
    puts(sent == bytes.size() ? "sent" : "cut");
    return 0;
}
