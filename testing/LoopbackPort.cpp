#include "testing/LoopbackPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <random>

namespace testing_support {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return addr;
}

bool Bind(int fd, int port) {
    const sockaddr_in addr = Loopback(port);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

}  // namespace

int BindLoopback(int fd, PortKind kind) {
    if (kind == PortKind::Any) {
        if (!Bind(fd, 0))
            return 0;
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        return ntohs(addr.sin_port);
    }
    static std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = std::uniform_int_distribution<int>(2000, 9999)(random);
        if (Bind(fd, port))
            return port;
    }
    return 0;
}

int FreeLoopbackPort(PortKind kind) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int port = BindLoopback(fd, kind);
    ::close(fd);
    return port;
}

bool Listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in addr = Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

}  // namespace testing_support
