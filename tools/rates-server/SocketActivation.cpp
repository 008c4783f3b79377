#include "tools/rates-server/SocketActivation.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace rates {

namespace {

constexpr int kFirstInheritedFd = 3;

// A whole decimal number that fits an int; -1 otherwise.
int PositiveNumber(const char* text) {
    if (text == nullptr || *text == '\0')
        return -1;
    long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > 1'000'000)
            return -1;
        value = value * 10 + (*p - '0');
    }
    return static_cast<int>(value);
}

}  // namespace

std::vector<int> InheritedSockets() {
    const int pid = PositiveNumber(std::getenv("LISTEN_PID"));
    const int count = PositiveNumber(std::getenv("LISTEN_FDS"));
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    std::vector<int> fds;
    if (pid != static_cast<int>(getpid()) || count <= 0 || count > 64)
        return fds;
    for (int fd = kFirstInheritedFd; fd < kFirstInheritedFd + count; ++fd) {
        int listening = 0;
        socklen_t len = sizeof listening;
        // Only a socket that listens is of use; anything else stays as it is.
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) == 0 && listening)
            fds.push_back(fd);
    }
    return fds;
}

}  // namespace rates
